#include "menubtnwidget.h"
#include "multiplebtngroup.h"
#include "texttable.h"
#include "translations.h"

#include <QCalendarWidget>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QFontMetrics>
#include <QTest>
#include <QTextBoundaryFinder>
#include <QTranslator>
#include <QXmlStreamReader>

// Every caption the code passes through the translation call has an English,
// traditional Chinese and Japanese translation, compiled into the program,
// and the widgets show it once the operator's language is installed.
class TestTranslations : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void everyCaptionTranslated_data();
    void everyCaptionTranslated();
    void widgetsShowTheLanguage_data();
    void widgetsShowTheLanguage();
    void qtDialogsFollow_data();
    void qtDialogsFollow();
    void katakanaWordsStayWhole_data();
    void katakanaWordsStayWhole();
};

namespace {

struct Message {
    QString context;
    QString source;
    QString translation;
    bool unfinished = false;
    bool sameIsRight = false;
};

// The messages of one translation source as written in the repository.
QList<Message> readSource(const QString& file)
{
    QList<Message> messages;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        return messages;
    }
    QXmlStreamReader xml(&in);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
                messages << current;
            }
            continue;
        }
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            current = Message();
            current.context = context;
        } else if (xml.name() == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translatorcomment")) {
            current.sameIsRight = xml.readElementText() == QLatin1String("same as the source");
        } else if (xml.name() == QLatin1String("translation")) {
            const QString type = xml.attributes().value(QLatin1String("type")).toString();
            current.unfinished = !type.isEmpty();
            current.translation = xml.readElementText();
        }
    }
    return messages;
}

} // namespace

void TestTranslations::cleanup()
{
    installTranslations(0);
    gLanguage = 0;
}

void TestTranslations::everyCaptionTranslated_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("name");
    QTest::newRow("English") << 1 << "en";
    QTest::newRow("traditional Chinese") << 2 << "zh_TW";
    QTest::newRow("Japanese") << 3 << "ja";
}

void TestTranslations::everyCaptionTranslated()
{
    QFETCH(int, language);
    QFETCH(QString, name);
    const QList<Message> messages =
        readSource(QStringLiteral(KORVANE_SOURCE_DIR "/resources/translations/korvane_%1.ts").arg(name));
    QVERIFY2(messages.size() > 100, "the translation source is missing or nearly empty");

    QTranslator compiled;
    QVERIFY(compiled.load(captionTranslationFile(language)));
    for (const Message& m : messages) {
        const QString where = m.context + QStringLiteral(": ") + m.source;
        QVERIFY2(!m.unfinished, qPrintable(where + QStringLiteral(" is not finished")));
        QVERIFY2(!m.translation.trimmed().isEmpty(), qPrintable(where + QStringLiteral(" has no translation")));
        // Identical is right for some (signs, words the languages share), and
        // then it says so; anything else still Chinese is a forgotten caption.
        QVERIFY2(m.translation != m.source || m.sameIsRight, qPrintable(where + QStringLiteral(" is left as the source")));
        QVERIFY2(m.source.count(QLatin1Char('%')) == m.translation.count(QLatin1Char('%')),
                 qPrintable(where + QStringLiteral(" loses or adds a placeholder")));
        // The program reads the compiled file, not the source.
        QCOMPARE(compiled.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData()), m.translation);
    }
}

void TestTranslations::widgetsShowTheLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("camera2");
    QTest::newRow("Simplified Chinese") << 0 << QStringLiteral("系统参数") << QStringLiteral("相机2");
    QTest::newRow("English") << 1 << QStringLiteral("Settings") << QStringLiteral("Camera 2");
    QTest::newRow("traditional Chinese") << 2 << QStringLiteral("系統參數") << QStringLiteral("相機2");
    QTest::newRow("Japanese") << 3 << QStringLiteral("システム設定") << QStringLiteral("カメラ2");
}

void TestTranslations::widgetsShowTheLanguage()
{
    QFETCH(int, language);
    QFETCH(QString, settings);
    QFETCH(QString, camera2);
    // Installed twice over another language: the second call replaces the first.
    installTranslations((language + 1) % LanguageCount);
    installTranslations(language);

    Main_MenuBtnWidget menu;
    auto* button = menu.findChild<QPushButton*>(QStringLiteral("pBtnSetSystem"));
    QVERIFY(button);
    QCOMPARE(button->text(), settings);

    MultipleBtnGroup cameras(3);
    auto* second = cameras.findChild<QPushButton*>(QStringLiteral("button1"));
    QVERIFY(second);
    QCOMPARE(second->text(), camera2);
}

void TestTranslations::qtDialogsFollow_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("sunday");
    QTest::addColumn<QString>("cancel");
    QTest::newRow("Simplified Chinese") << 0 << QStringLiteral("周日") << QStringLiteral("取消");
    QTest::newRow("English") << 1 << QStringLiteral("Sun") << QStringLiteral("Cancel");
    QTest::newRow("traditional Chinese") << 2 << QStringLiteral("週日") << QStringLiteral("取消");
    QTest::newRow("Japanese") << 3 << QStringLiteral("日") << QStringLiteral("キャンセル");
}

void TestTranslations::qtDialogsFollow()
{
    QFETCH(int, language);
    QFETCH(QString, sunday);
    QFETCH(QString, cancel);
    installTranslations(language);
    // The calendar names the weekdays in the default locale.
    QCalendarWidget calendar;
    QCOMPARE(calendar.locale().dayName(Qt::Sunday, QLocale::ShortFormat), sunday);
    // Qt's own buttons come from Qt's translations.
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), cancel);
}

void TestTranslations::katakanaWordsStayWhole_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("update question") << QStringLiteral("プログラムを更新しますか？") << QStringList{"プログラム"};
    QTest::newRow("two words and a long vowel")
        << QStringLiteral("パラメータグループを復元") << QStringList{"パラメータグループ"};
    QTest::newRow("no katakana") << QStringLiteral("相机丢失，请检查连线！") << QStringList();
}

void TestTranslations::katakanaWordsStayWhole()
{
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    const QString kept = keepKatakanaWordsWhole(text);
    // Only joiners are added, and they are not drawn.
    QString bare = kept;
    bare.remove(QChar(0x2060));
    QCOMPARE(bare, text);
    // Wrapping breaks only where the line breaker allows: nowhere inside a word.
    QTextBoundaryFinder lines(QTextBoundaryFinder::Line, kept);
    for (const QString& word : words) {
        const int start = kept.indexOf(word.at(0));
        int end = start;
        for (int letters = 0; letters < word.size(); ++end) {
            if (kept.at(end) != QChar(0x2060)) {
                ++letters;
            }
        }
        for (int at = start + 1; at < end; ++at) {
            lines.setPosition(at);
            QVERIFY2(!lines.isAtBoundary(), qPrintable(QStringLiteral("break allowed at %1 in %2").arg(at).arg(word)));
        }
        // Before the fix, a break was allowed between the letters.
        QTextBoundaryFinder plain(QTextBoundaryFinder::Line, text);
        plain.setPosition(text.indexOf(word) + 1);
        QVERIFY(plain.isAtBoundary());
    }
    // A drawn line of the kept text is as wide as the plain one.
    const QFontMetrics metrics(QFont(QStringLiteral("SimHei"), 15));
    QCOMPARE(metrics.horizontalAdvance(kept), metrics.horizontalAdvance(text));
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
