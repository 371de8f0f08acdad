#include "processstate.h"
#include "texttable.h"

#include <QDir>
#include <QFont>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>
#include <QTextLayout>
#include <QtTest>

#include <memory>

#include <functional>

namespace {

const int kZh = 0, kEn = 1, kTw = 2, kJa = 3;

const QString& entry(int textId, int language)
{
    return gTextTable[LanguageCount * textId + language];
}

bool named(int textId)
{
    for (int language = 0; language < LanguageCount; ++language)
        if (!entry(textId, language).isEmpty())
            return true;
    return false;
}

QSet<QString> placeholders(const QString& text)
{
    static const QRegularExpression marker(QStringLiteral("%[1-9]"));
    QSet<QString> found;
    auto it = marker.globalMatch(text);
    while (it.hasNext())
        found.insert(it.next().captured());
    return found;
}

QSet<int> idsWhere(const std::function<bool(int)>& pred)
{
    QSet<int> ids;
    for (int id = 0; id < TextCount; ++id)
        if (pred(id))
            ids.insert(id);
    return ids;
}

} // namespace

class TestTextTable : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void readsEntryOfCurrentLanguage_data();
    void readsEntryOfCurrentLanguage();
    void languageNamesAreReadByOffset();
    void groupRestoreTextTakesTheGroupName();
    void numberingAndEmptyEntries();
    void placeholdersAgreeAcrossLanguages();
    void entriesHoldDecodedText();
    void translatedEntriesAreNotEnglishOrSimplified();
    void englishEntriesHoldNoChineseOrCode();
    void japaneseLampCaptionsFitTheLamp();
    void glossaryTermsAreUsedConsistently_data();
    void glossaryTermsAreUsedConsistently();
    void quotedChineseWording_data();
    void quotedChineseWording();
    void everyCharacterHasAGlyphInTheScreenFont();

private:
    std::unique_ptr<ProcessState> m_state;
};

void TestTextTable::initTestCase()
{
    initTextTable();
}

void TestTextTable::init()
{
    m_state = std::make_unique<ProcessState>();
}

void TestTextTable::cleanup()
{
    m_state.reset();
}

void TestTextTable::readsEntryOfCurrentLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("textId");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0 en") << kEn << 0 << "Camera parameter file error!";
    QTest::newRow("0 zh") << kZh << 0 << "相机参数文件打开错误！";
    QTest::newRow("357 ja") << kJa << 357 << "パスワードが間違っています。\n再入力してください！";
    QTest::newRow("370 ja") << kJa << 370 << "手を離すとタッチパネルの\n校正に入ります…";
    QTest::newRow("16 zh blanks kept") << kZh << 16 << " 保    留 ";
    QTest::newRow("16 tw blanks kept") << kTw << 16 << " 保    留 ";
    QTest::newRow("16 ja blanks kept") << kJa << 16 << " 予    備 ";
    QTest::newRow("36 zh line feed") << kZh << 36 << "区域总个数到达上限，\n您可以先删除再添加！";
    QTest::newRow("134 en CR LF") << kEn << 134
        << "The camera was unavailable, \r\n please check the connection! \r\nWhether to eliminate the SN of \r\n camera?";
    QTest::newRow("134 ja") << kJa << 134
        << "使用可能なカメラが検出されません。\n接続を確認してください。\nカメラのSNコードをクリアしますか？";
    QTest::newRow("68 en inner quotes") << kEn << 68
        << "If you want to delete the first \r\ntemplate, please click \"Resample\"!";
    QTest::newRow("404 zh leading blanks") << kZh << 404 << "   开模终";
    QTest::newRow("554 en") << kEn << 554 << "Enable result statistics";
    QTest::newRow("573 en") << kEn << 573 << "Temperature compensation";
    QTest::newRow("617 zh") << kZh << 617 << "温度类型";
    QTest::newRow("617 en") << kEn << 617 << "Temperature type";
    QTest::newRow("617 tw") << kTw << 617 << "溫度類型";
    QTest::newRow("617 ja") << kJa << 617 << "温度タイプ";
    for (int language = 0; language < LanguageCount; ++language)
        QTest::addRow("578 language %d", language) << language << 578 << "";
    QTest::newRow("618 zh") << kZh << 618
        << "温度警报，低温警报为%1，高温警报为%2，发射率为%3，温度类型为%4，发射温度%5，温度补偿%6";
    QTest::newRow("618 en") << kEn << 618 << "";
    QTest::newRow("618 tw") << kTw << 618 << "";
    QTest::newRow("618 ja") << kJa << 618 << "";
    QTest::newRow("549 en") << kEn << 549 << "Morning / Night Shift";
    QTest::newRow("549 zh") << kZh << 549 << "早班 / 晚班";
    QTest::newRow("below the table") << kZh << -1 << "";
    QTest::newRow("above the table") << kEn << TextCount << "";
}

void TestTextTable::readsEntryOfCurrentLanguage()
{
    QFETCH(int, language);
    QFETCH(int, textId);
    QFETCH(QString, expected);

    gLanguage = language;
    QCOMPARE(textOf(textId), expected);
    if (textId >= 0 && textId < TextCount)
        QCOMPARE(gTextTable[4 * textId + language], expected);
}

void TestTextTable::languageNamesAreReadByOffset()
{
    const QStringList names{"简体中文", "English", "繁體中文", "日本語"};
    for (gLanguage = 0; gLanguage < LanguageCount; ++gLanguage)
        for (int offset = 0; offset < LanguageCount; ++offset)
            QCOMPARE(gTextTable[4 * 317 + offset], names.at(offset));
}

void TestTextTable::groupRestoreTextTakesTheGroupName()
{
    QCOMPARE(entry(286, kEn), QStringLiteral("Restore the parameter group to %1"));
    for (gLanguage = 0; gLanguage < LanguageCount; ++gLanguage) {
        const QString line = textOf(286).arg(QStringLiteral("mould-7"));
        QVERIFY2(line.contains(QStringLiteral("mould-7")), qPrintable(line));
        QVERIFY2(!line.contains(QLatin1Char('%')), qPrintable(line));
    }
}

void TestTextTable::numberingAndEmptyEntries()
{
    const QSet<int> unnamed{153, 321, 322, 530, 531, 532, 533, 534, 535, 536, 537, 538, 539, 578, 606};
    QCOMPARE(idsWhere([](int id) { return !named(id); }), unnamed);
    QCOMPARE(TextCount - unnamed.size(), 692);

    // The one text that has only its Chinese entry.
    const QSet<int> noEnglish{618};
    QCOMPARE(idsWhere([](int id) { return named(id) && entry(id, kEn).isEmpty(); }), noEnglish);
    QCOMPARE(idsWhere([](int id) { return named(id) && entry(id, kZh).isEmpty(); }), QSet<int>{});
    QCOMPARE(idsWhere([](int id) { return named(id) && entry(id, kTw).isEmpty(); }), QSet<int>{618});
    QCOMPARE(idsWhere([](int id) { return named(id) && entry(id, kJa).isEmpty(); }), QSet<int>{618});

    for (int i = LanguageCount * TextCount; i < TextTableSize; ++i)
        QVERIFY2(gTextTable[i].isEmpty(), qPrintable(QString::number(i)));
}

void TestTextTable::placeholdersAgreeAcrossLanguages()
{
    for (int id = 0; id < TextCount; ++id) {
        // The English entry is the reference; where it is missing, the Chinese one.
        const QString& reference = entry(id, kEn).isEmpty() ? entry(id, kZh) : entry(id, kEn);
        const QSet<QString> expected = placeholders(reference);
        for (int language = 0; language < LanguageCount; ++language) {
            const QString& text = entry(id, language);
            if (text.isEmpty())
                continue;
            QVERIFY2(placeholders(text) == expected,
                     qPrintable(QStringLiteral("text %1 language %2: %3").arg(id).arg(language).arg(text)));
        }
    }
}

void TestTextTable::entriesHoldDecodedText()
{
    for (int i = 0; i < LanguageCount * TextCount; ++i) {
        const QString& text = gTextTable[i];
        QVERIFY2(!text.contains(QLatin1Char('\\')), qPrintable(QString::number(i / 4)));
        QVERIFY2(!text.contains(QChar::ReplacementCharacter), qPrintable(QString::number(i / 4)));
        QVERIFY2(!text.contains(QChar(0)), qPrintable(QString::number(i / 4)));
    }
}

void TestTextTable::translatedEntriesAreNotEnglishOrSimplified()
{
    static const QRegularExpression latinWord(QStringLiteral("[A-Za-z]{2}"));
    // Captions the screen shows in Chinese whatever the language are quoted
    // as shown, e.g. the dock's re-sample button in a Japanese hint.
    static const QRegularExpression quotedCaption(QStringLiteral("「[^」]*」"));
    // Characters that exist only in simplified script; a Traditional Chinese or
    // Japanese entry holding one was most likely copied from the Chinese one.
    // Some of them are also valid Big5 or Shift_JIS characters (机), hence the list
    // beside the character sets below.
    const QString simplifiedOnly = QStringLiteral("检测设报为这个关开门时图张删择码动启认输过应网络务复机错误请确试连线软总统实录顶针离类样");
    // Han characters outside Big5 are not Traditional Chinese, outside Shift_JIS
    // not Japanese: that catches a simplified character the list above lacks.
    QTextCodec* const big5 = QTextCodec::codecForName("Big5");
    QTextCodec* const shiftJis = QTextCodec::codecForName("Shift_JIS");
    QVERIFY(big5 && shiftJis);
    const auto isHan = [](QChar c) { return c.unicode() >= 0x3400 && c.unicode() <= 0x9FFF; };
    for (int id = 0; id < TextCount; ++id) {
        for (int language : {kZh, kTw, kJa}) {
            const QString& text = entry(id, language);
            bool ascii = true;
            for (QChar c : text)
                ascii = ascii && c.unicode() < 0x80;
            QVERIFY2(!(ascii && text.contains(latinWord)),
                     qPrintable(QStringLiteral("text %1 language %2: %3").arg(id).arg(language).arg(text)));
        }
        for (int language : {kTw, kJa}) {
            QString text = entry(id, language);
            text.remove(quotedCaption);
            QTextCodec* const script = language == kTw ? big5 : shiftJis;
            for (QChar c : text)
                QVERIFY2(!simplifiedOnly.contains(c) && (!isHan(c) || script->canEncode(c)),
                         qPrintable(QStringLiteral("text %1 language %2 (%3): %4").arg(id).arg(language).arg(c).arg(text)));
        }
    }
}

void TestTextTable::englishEntriesHoldNoChineseOrCode()
{
    for (int id = 0; id < TextCount; ++id) {
        const QString& english = entry(id, kEn);
        for (QChar c : english) {
            // Han ideographs and kana: an English entry holding them was filled
            // from another language's column.
            const bool cjk = (c.unicode() >= 0x3040 && c.unicode() <= 0x30FF)
                || (c.unicode() >= 0x3400 && c.unicode() <= 0x9FFF);
            QVERIFY2(!cjk, qPrintable(QStringLiteral("text %1: %2").arg(id).arg(english)));
        }
        for (int language = 0; language < LanguageCount; ++language)
            QVERIFY2(!entry(id, language).contains(QLatin1String("cv::")),
                     qPrintable(QStringLiteral("text %1 language %2: %3").arg(id).arg(language).arg(entry(id, language))));
    }
}

void TestTextTable::japaneseLampCaptionsFitTheLamp()
{
    // The I/O lamps are 60 px wide at 10 pt: four full-width characters, a
    // Latin letter counting half.
    const QList<int> lamps{301, 302, 303, 304, 305, 306, 307, 376, 377, 378, 379, 380, 381, 382};
    for (int id : lamps) {
        const QString& caption = entry(id, kJa);
        int halves = 0;
        for (QChar c : caption)
            halves += c.unicode() < 0x80 ? 1 : 2;
        QVERIFY2(!caption.trimmed().isEmpty() && halves <= 8,
                 qPrintable(QStringLiteral("text %1: %2").arg(id).arg(caption)));
    }
}

void TestTextTable::glossaryTermsAreUsedConsistently_data()
{
    // Wordings an operator would misread, with the term that replaces them.
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("forbidden");
    QTest::newRow("ja mould, not a pressing die (金型)") << kJa << "ダイス";
    QTest::newRow("ja safety door, not an anti-theft door (安全ドア)") << kJa << "セキュリティ";
    QTest::newRow("ja alarm (アラーム)") << kJa << "アラート";
    QTest::newRow("ja spare, not hold (予備)") << kJa << "保持";
    QTest::newRow("ja ejector (エジェクタ, EJ)") << kJa << "ピン";
    QTest::newRow("ja mould open end (型開完了)") << kJa << "起型";
    QTest::newRow("ja advanced, not luxury (上級, 詳細)") << kJa << "高級";
    QTest::newRow("ja export (出力)") << kJa << "エクスポート";
    QTest::newRow("ja USB drive (USBメモリ)") << kJa << "Uディスク";
    QTest::newRow("ja touch calibration (校正)") << kJa << "タッチパネル\\s*の?\\s*補正";
    QTest::newRow("ja detection area (領域)") << kJa << "ROI";
    QTest::newRow("tw settings (設定)") << kTw << "設置";
    QTest::newRow("tw current (目前)") << kTw << "當前";
    QTest::newRow("tw snapshot (拍攝)") << kTw << "抓拍";
    QTest::newRow("tw networking (連網)") << kTw << "聯網";
    QTest::newRow("tw log in (登入)") << kTw << "登錄";
    QTest::newRow("tw disabled (停用)") << kTw << "^不用$";
    QTest::newRow("tw screen off") << kTw << "熄屏";
    // The user level keeps its original wording; pages say 進階.
    QTest::newRow("tw advanced (進階)") << kTw << "高級(?!用戶)";
}

void TestTextTable::glossaryTermsAreUsedConsistently()
{
    QFETCH(int, language);
    QFETCH(QString, forbidden);
    const QRegularExpression pattern(forbidden);
    QVERIFY(pattern.isValid());
    for (int id = 0; id < TextCount; ++id)
        QVERIFY2(!entry(id, language).contains(pattern),
                 qPrintable(QStringLiteral("text %1: %2").arg(id).arg(entry(id, language))));
}

void TestTextTable::quotedChineseWording_data()
{
    // Chinese wordings that other screens and the operation log rely on.
    QTest::addColumn<int>("textId");
    QTest::addColumn<QString>("expected");
    const QList<QPair<int, QString>> rows{
        {0, "相机参数文件打开错误！"},
        {33, "结束多边形"},
        {53, "画多边形"},
        {59, "上一张图片"},
        {65, "没有选中区域！"},
        {68, "若要删除第一张模板，请按\"重新取样\"！"},
        {70, "%1号相机删除第%2张模板"},
        {73, "%1号相机%2检测"},
        {77, "斑点检测，最小灰度为%1，最大灰度为%2，最小面积为%3，最大面积为%4"},
        {78, "缺陷检测，灵敏度为%1，过滤尺寸为%2，报警面积为%3"},
        {79, "目标定位，搜索速度为%1，定位精度为%2，最少匹配为%3"},
        {82, "功能从"},
        {83, "改为"},
        {99, "修改了%1区域%2，%3%4%5"},
        {105, "确定相机%1不要检测本模？"},
        {107, "提示：请切换到报警的相机再进行操作！"},
        {109, "%1号相机添加了一张模板"},
        {119, "注意: 两次检测参数一致已启用，以成品参\n数为准，无需设置模腔检测的参数！"},
        {121, "确定"},
        {122, "是"},
        {123, "否"},
        {125, "请输入密码！"},
        {134, "没有检测到可用的摄像机，请检查连线！\r\n是否清除相机SN码？"},
        {151, "%1号相机、"},
        {152, " 报警"},
        {157, "退格"},
        {158, "大写"},
        {159, "小写"},
        {160, "系统参数文件错误，请还原\n参数组或联系供应商！"},
        {204, "    断开"},
        {211, "    闭合"},
        {232, "警告：检测算法都不启用，请重新设置！"},
        {236, "，%1延时从%2改为%3"},
        {240, "，%1 改为"},
        {263, "成品"},
        {264, "模腔"},
        {276, "注意：最大模板张数或图片记录张数的\n修改需要重启才生效！"},
        {286, "参数组还原为%1"},
        {296, "请点击\"确定\"退出"},
        {309, "注意：IO通讯口或彩色相机或灰度通道或镜头优化的修改需要重启才生效！"},
        {314, "%1最近NG %2 / %3"},
        {332, "第%1次丢失相机, %2"},
        {361, "%1号重复设置，请重新修改！"},
        {372, "左成品"},
        {375, "右模腔"},
        {394, "%1  号"},
        {395, "屏幕%1号相机切换成："},
        {404, "   开模终"},
        {455, "    保留"},
        {527, "确定要恢复默认设置吗"},
        {540, "秒"},
        {543, "NG总数"},
        {544, "结果统计文件错误，请还原\n参数组或联系供应商！"},
        {554, "启用结果统计"},
        {560, "下一张模板"},
        {591, "%1 号检测"},
        {619, "温度警报%1%2%3%4%5%6"},
        {625, "，温度补偿从%1改为%2"},
    };
    for (const auto& row : rows)
        QTest::addRow("text %d", row.first) << row.first << row.second;
}

void TestTextTable::quotedChineseWording()
{
    QFETCH(int, textId);
    QFETCH(QString, expected);
    QCOMPARE(entry(textId, kZh), expected);
}

void TestTextTable::everyCharacterHasAGlyphInTheScreenFont()
{
    // The screens draw with "SimHei"; whichever font the system substitutes,
    // glyph 0 is the "missing glyph" box, which must never appear.
    QFont font(QStringLiteral("SimHei"));
    font.setPixelSize(20);
    for (int i = 0; i < LanguageCount * TextCount; ++i) {
        QString text = gTextTable[i];
        text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (text.trimmed().isEmpty())
            continue;
        QTextLayout layout(text, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns())
            QVERIFY2(!run.glyphIndexes().contains(0),
                     qPrintable(QStringLiteral("text %1 language %2 (%3): %4")
                                    .arg(i / 4).arg(i % 4).arg(run.rawFont().familyName(), text)));
    }

    // A sheet of sample texts for a person to look at, when asked for.
    const QString dir = qEnvironmentVariable("KORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    const QList<int> samples{0, 39, 61, 118, 137, 195, 212, 276, 305, 357, 404, 524, 570, 586};
    QImage sheet(1400, 40 + 34 * samples.size(), QImage::Format_RGB32);
    sheet.fill(QColor(0x26, 0x2E, 0x34));
    QPainter painter(&sheet);
    painter.setPen(Qt::white);
    painter.setFont(font);
    for (int row = 0; row < samples.size(); ++row) {
        const int id = samples.at(row);
        painter.drawText(10, 30 + 34 * row, QString::number(id));
        for (int language = 0; language < LanguageCount; ++language) {
            QString text = entry(id, language);
            text.replace(QLatin1Char('\r'), QString()).replace(QLatin1Char('\n'), QLatin1Char(' '));
            painter.drawText(QRect(60 + 335 * language, 10 + 34 * row, 330, 30),
                             Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }
    painter.end();
    QVERIFY(sheet.save(QDir(dir).filePath(QStringLiteral("texttable.png"))));

    // Japanese captions in boxes of their screens' size, to see what is cut off.
    struct Box {
        QList<int> ids;
        QSize size;
        QFont font;
    };
    QFont lamp(QStringLiteral("SimHei"), 10);
    QFont value(QStringLiteral("SimHei"), 27);
    QFont tool(QStringLiteral("SimHei"));
    tool.setPixelSize(16);
    QFont icon(QStringLiteral("SimHei"));
    icon.setPixelSize(24);
    const QList<Box> boxes{
        {{301, 302, 303, 304, 305, 306, 307, 376, 377, 378, 379, 380, 381, 382}, {60, 24}, lamp},
        {{166, 168, 169, 185, 213, 336, 524}, {120, 50}, value},
        {{53, 33, 559, 560}, {100, 40}, tool},
        {{182, 183, 184, 615}, {200, 50}, icon},
    };
    QImage fit(1800, 40 + 70 * boxes.size(), QImage::Format_RGB32);
    fit.fill(QColor(0x26, 0x2E, 0x34));
    QPainter fitPainter(&fit);
    for (int row = 0; row < boxes.size(); ++row) {
        const Box& box = boxes.at(row);
        fitPainter.setFont(box.font);
        int x = 10;
        for (int id : box.ids) {
            const QRect r(x, 10 + 70 * row, box.size.width(), box.size.height());
            fitPainter.setPen(Qt::darkGray);
            fitPainter.drawRect(r.adjusted(0, 0, -1, -1));
            fitPainter.setPen(Qt::white);
            fitPainter.drawText(r, Qt::AlignCenter, entry(id, kJa));
            x += box.size.width() + 6;
        }
    }
    fitPainter.end();
    QVERIFY(fit.save(QDir(dir).filePath(QStringLiteral("texttable-ja-boxes.png"))));
}

QTEST_MAIN(TestTextTable)
#include "tst_texttable.moc"
