#include "colorbutton.h"
#include "datetimewidget.h"
#include "exportnotice.h"
#include "exportstandin.h"
#include "histogram.h"
#include "promptanswerer.h"
#include "recordsscreens.h"
#include "statisticswidget.h"
#include "temperaturechartwidget.h"
#include "settle.h"

#include <QPushButton>
#include <QStackedWidget>

// The production statistics dialog at the panel's size, driven by presses.
class TestStatisticsWidget : public QObject {
    Q_OBJECT
private slots:
    void layoutAndBoxes();
    void todayFigures_data();
    void todayFigures();
    void historyQuery();
    void queryNeedsARangeAndRunsAlone();
    void reopeningKeepsTheRangeAndDropsTheOldResult();
    void exportOutcomes_data();
    void exportOutcomes();
    void exportWhileOneRuns();
    void exportEndAnnouncedOnce_data();
    void exportEndAnnouncedOnce();
    void todayIgnoresTheExportRange();
};

namespace {

// Today until 09:30: camera 0 with 8 OK and 1 NG cycle, camera 1 with 2 OK
// and 1 NG, each cycle at its own time; area 4 of the NG cycles is NG.
void today(RecordsScreens& r)
{
    const QDateTime base = at(QStringLiteral("2026-12-08 06:00:00.000"));
    for (int i = 0; i < 9; ++i) {
        r.handOver(cycleResult(0, 0, base.addSecs(i * 600), {1, 1, 1, 1, i == 4 ? 0 : 1}));
    }
    for (int i = 0; i < 3; ++i) {
        r.handOver(cycleResult(1, 1, base.addSecs(i * 600 + 60), {1, 1, 1, 1, i == 2 ? 0 : 1}));
    }
}

struct Figures {
    QString count;
    QString ng;
    QString rate;
};

Figures figures(StatisticsWidget& w)
{
    auto label = [&w](const char* name) { return w.findChild<QLabel*>(QLatin1String(name))->text(); };
    return {label("totalCount"), label("totalNGCount"), label("totalNGRate")};
}

void pickRange(StatisticsWidget& w, const QDateTime& from, const QDateTime& to)
{
    w.timeRange->setFromDateTime(from);
    w.timeRange->setToDateTime(to);
}

bool waitForQuery(TemperatureChartData& data)
{
    return QTest::qWaitFor([&data] { return !data.queryRunning(); }, kSettleMs);
}

// The chooser answers with this folder for the life of the object.
struct ChosenFolder {
    explicit ChosenFolder(const QString& folder)
    {
        previous = setExportFolderChooser([folder](QWidget*) { return folder; });
    }
    ~ChosenFolder() { setExportFolderChooser(previous); }
    ExportFolderChooser previous;
};

} // namespace

void TestStatisticsWidget::layoutAndBoxes()
{
    RecordsScreens r;
    StatisticsWidget w;
    QCOMPARE(w.size(), QSize(1800, 950));
    QCOMPARE(w.pos(), QPoint(60, 65));
    QCOMPARE(w.pStackedWidget->size(), QSize(1760, 800));
    QCOMPARE(w.cameraBox->count(), 5);
    QCOMPARE(w.cameraBox->itemText(2), QStringLiteral("2号相机"));
    QCOMPARE(w.detectBox->count(), 3);
    QCOMPARE(w.detectBox->itemText(1), QStringLiteral("1 号检测"));
    // Ten areas, whatever areas are defined.
    QCOMPARE(w.areaBox->count(), 11);
    QCOMPARE(w.areaBox->itemText(10), QStringLiteral("10 号区域"));
    QCOMPARE(w.areaBox->itemText(0), QStringLiteral("全部"));
}

void TestStatisticsWidget::todayFigures_data()
{
    QTest::addColumn<int>("camera");
    QTest::addColumn<int>("area");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("ng");
    QTest::addColumn<QString>("rate");

    QTest::newRow("all") << 0 << 0 << "12" << "2" << "16.67%";
    QTest::newRow("camera 2") << 2 << 0 << "3" << "1" << "33.33%";
    QTest::newRow("camera 3: no cycles") << 3 << 0 << "0" << "0" << "0%";
    QTest::newRow("area 5") << 0 << 5 << "12" << "2" << "16.67%";
    QTest::newRow("area 1") << 0 << 1 << "12" << "0" << "0%";
    QTest::newRow("area 10: none") << 0 << 10 << "0" << "0" << "0%";
}

void TestStatisticsWidget::todayFigures()
{
    QFETCH(int, camera);
    QFETCH(int, area);
    QFETCH(QString, count);
    QFETCH(QString, ng);
    QFETCH(QString, rate);

    RecordsScreens r;
    today(r);
    StatisticsWidget w;
    w.showToday();
    w.show();
    // A box change in today's state recounts at once.
    w.cameraBox->setCurrentIndex(camera);
    w.areaBox->setCurrentIndex(area);
    const Figures f = figures(w);
    QCOMPARE(f.count, count);
    QCOMPARE(f.ng, ng);
    QCOMPARE(f.rate, rate);
    Histogram* h = w.cameraStatistics->histogram;
    QCOMPARE(h->barCount, 24);
    QCOMPARE(h->startLabels.at(9), QStringLiteral("12-08 09:00:00"));
    int sum = 0;
    for (int i = 0; i < 24; ++i) {
        sum += h->ok.at(i) + h->ng.at(i);
    }
    QCOMPARE(QString::number(sum), count);
    w.close();
}

void TestStatisticsWidget::historyQuery()
{
    RecordsScreens r;
    today(r);
    // Two archived days with 3 and 2 cycles (one NG), 48 hours in all.
    QVERIFY(r.writeDay(QDate(2026, 12, 6), {cycleResult(0, 0, at("2026-12-06 08:00:00.000"), {1, 1}),
                                              cycleResult(0, 0, at("2026-12-06 09:00:00.000"), {1, 0}),
                                              cycleResult(1, 0, at("2026-12-06 23:00:00.000"), {1})}));
    QVERIFY(r.writeDay(QDate(2026, 12, 7), {cycleResult(1, 0, at("2026-12-07 10:00:00.000"), {1}),
                                              cycleResult(0, 1, at("2026-12-07 11:00:00.000"), {1})}));
    StatisticsWidget w;
    w.showToday();
    w.show();
    pickRange(w, at("2026-12-06 00:00:00.000"), at("2026-12-08 00:00:00.000"));
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QVERIFY(w.loadingBox->isVisible());
    QCOMPARE(r.data.statisticsSource, 1);
    QVERIFY(waitForQuery(r.data));
    QVERIFY(QTest::qWaitFor([&w] { return figures(w).count == QStringLiteral("5"); }, kSettleMs));
    QCOMPARE(figures(w).ng, QStringLiteral("1"));
    QCOMPARE(figures(w).rate, QStringLiteral("20%"));
    QVERIFY(!w.loadingBox->isVisible());
    Histogram* h = w.cameraStatistics->histogram;
    QCOMPARE(h->barCount, 24);
    QCOMPARE(h->startLabels.at(1), QStringLiteral("12-06 02:00:00"));
    QCOMPARE(h->endLabels.at(23), QStringLiteral("12-08 00:00:00"));

    // In the history state a box change waits for the next "确定".
    w.cameraBox->setCurrentIndex(2);
    QCOMPARE(figures(w).count, QStringLiteral("5"));
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QVERIFY(waitForQuery(r.data));
    QVERIFY(QTest::qWaitFor([&w] { return figures(w).count == QStringLiteral("2"); }, kSettleMs));
    QCOMPARE(figures(w).rate, QStringLiteral("0%"));
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
    QVERIFY(!w.isVisible());
    QCOMPARE(r.data.statisticsSource, 0);
}

void TestStatisticsWidget::queryNeedsARangeAndRunsAlone()
{
    RecordsScreens r;
    today(r);
    StatisticsWidget w;
    w.showToday();
    w.show();
    {
        PromptAnswerer prompts;
        QTest::mouseClick(w.confirmButton, Qt::LeftButton);
        QCOMPARE(prompts.warnings, QStringList{QStringLiteral("时间检索不能为空")});
        QVERIFY(!r.data.queryRunning());
        QCOMPARE(r.data.statisticsSource, 0);
    }
    pickRange(w, at("2026-12-01 00:00:00.000"), at("2026-12-08 00:00:00.000"));
    PromptAnswerer prompts;
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QVERIFY(r.data.queryRunning());
    // A second press while the first read runs starts nothing.
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QCOMPARE(prompts.questions, QStringList{QStringLiteral("数据加载中")});
    QVERIFY(waitForQuery(r.data));
    QVERIFY(QTest::qWaitFor([&w] { return figures(w).count == QStringLiteral("0"); }, kSettleMs));
    w.close();
}

void TestStatisticsWidget::reopeningKeepsTheRangeAndDropsTheOldResult()
{
    RecordsScreens r;
    today(r);
    QVERIFY(r.writeDay(QDate(2026, 12, 7), {cycleResult(0, 0, at("2026-12-07 10:00:00.000"), {0})}));
    StatisticsWidget w;
    w.showToday();
    w.show();
    pickRange(w, at("2026-12-07 00:00:00.000"), at("2026-12-07 23:00:00.000"));
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QVERIFY(r.data.queryRunning());
    // Closed and reopened while the read runs: today is shown, and stays.
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
    w.showToday();
    w.show();
    QVERIFY(waitForQuery(r.data));
    QTest::qWait(50);
    QCOMPARE(figures(w).count, QStringLiteral("12"));
    QCOMPARE(figures(w).ng, QStringLiteral("2"));
    QCOMPARE(w.cameraStatistics->histogram->startLabels.at(9), QStringLiteral("12-08 09:00:00"));
    // The box change after it still counts today's hours.
    w.cameraBox->setCurrentIndex(1);
    QCOMPARE(figures(w).count, QStringLiteral("9"));
    QCOMPARE(w.cameraStatistics->histogram->ok.at(6) + w.cameraStatistics->histogram->ng.at(6), 6);

    // The picker's fields are empty, but "确定" uses the range picked before.
    QVERIFY(w.timeRange->fromEdit->text().isEmpty());
    QVERIFY(w.timeRange->toEdit->text().isEmpty());
    w.cameraBox->setCurrentIndex(0);
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QCOMPARE(r.data.query.from, at("2026-12-07 00:00:00.000"));
    QVERIFY(waitForQuery(r.data));
    QVERIFY(QTest::qWaitFor([&w] { return figures(w).count == QStringLiteral("1"); }, kSettleMs));
    QCOMPARE(figures(w).rate, QStringLiteral("100%"));
    w.close();
}

void TestStatisticsWidget::exportOutcomes_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<int>("ending");
    QTest::addColumn<QStringList>("questions");
    QTest::addColumn<QString>("notice"); // the box at the end, empty: none

    const int exit0 = int(ExportStandin::Ending::Exit0);
    const int exit1 = int(ExportStandin::Ending::Exit1);
    QTest::newRow("no folder") << QString() << QList<int>{1} << exit0 << QStringList{"请先选择导出路径"} << QString();
    QTest::newRow("not confirmed") << "out" << QList<int>{0} << exit0 << QStringList{"确定是否导出"} << QString();
    QTest::newRow("confirmed") << "out" << QList<int>{1} << exit0 << QStringList{"确定是否导出"} << "数据导出完成";
    QTest::newRow("program fails") << "out" << QList<int>{1} << exit1 << QStringList{"确定是否导出"} << "数据导出失败";
}

void TestStatisticsWidget::exportOutcomes()
{
    QFETCH(QString, folder);
    QFETCH(QList<int>, answers);
    QFETCH(int, ending);
    QFETCH(QStringList, questions);
    QFETCH(QString, notice);

    RecordsScreens r;
    QVERIFY(ExportStandin::install(ExportStandin::Ending(ending)));
    StatisticsWidget w;
    w.showToday();
    w.show();
    w.cameraBox->setCurrentIndex(3);
    pickRange(w, at("2026-12-01 08:00:00.000"), at("2026-12-02 08:00:00.000"));
    ChosenFolder chosen(folder.isEmpty() ? QString() : r.dir.filePath(folder));
    {
        PromptAnswerer prompts(answers);
        if (!notice.isEmpty() && ending != int(ExportStandin::Ending::Exit0)) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("temperature export failed"));
        }
        QTest::mouseClick(w.exportButton, Qt::LeftButton);
        QCOMPARE(prompts.questions, questions);
    }
    if (notice.isEmpty()) {
        QVERIFY(!r.data.exportBusy);
        QVERIFY(ExportStandin::lastArguments().isEmpty());
        QCOMPARE(shownBoxes("数据导出完成") + shownBoxes("数据导出失败"), 0);
        return;
    }
    QVERIFY(QTest::qWaitFor([&r] { return !r.data.exportBusy; }, kSettleMs));
    QTest::qWait(20);
    // Mode 1 over the boxes' camera and the picked range.
    const QList<QByteArray> args = ExportStandin::lastArguments();
    QVERIFY(args.size() >= 9);
    QCOMPARE(args.mid(0, 7), (QList<QByteArray>{"-t", "2026-12-01 08:00:00.000", "2026-12-02 08:00:00.000", "-c", "2",
                                                "-d", "-1"}));
    QVERIFY(args.at(8).startsWith(QFile::encodeName(r.dir.filePath(folder))));
    QVERIFY(!args.contains("-detail"));
    QCOMPARE(shownBoxes(notice), 1);
    QCOMPARE(shownBoxes(notice == "数据导出完成" ? "数据导出失败" : "数据导出完成"), 0);
    closeShownBoxes();
    QCOMPARE(shownBoxes(notice), 0);
}

void TestStatisticsWidget::exportWhileOneRuns()
{
    RecordsScreens r;
    QVERIFY(ExportStandin::install(ExportStandin::Ending::Hang));
    r.data.exportTimeoutMs = 1500;
    StatisticsWidget w;
    w.showToday();
    w.show();
    ChosenFolder chosen(r.dir.filePath("out"));
    PromptAnswerer prompts({1});
    QTest::mouseClick(w.exportButton, Qt::LeftButton);
    QVERIFY(r.data.exportBusy);
    QTest::mouseClick(w.exportButton, Qt::LeftButton);
    QCOMPARE(prompts.questions, (QStringList{"确定是否导出", "上一个导出任务未完成"}));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("temperature export failed"));
    QVERIFY(QTest::qWaitFor([&r] { return !r.data.exportBusy; }, kSettleMs));
    QTest::qWait(20);
    // A hung program is a failure, never a finished export.
    QCOMPARE(shownBoxes("数据导出失败"), 1);
    QCOMPARE(shownBoxes("数据导出完成"), 0);
    closeShownBoxes();
}

void TestStatisticsWidget::exportEndAnnouncedOnce_data()
{
    QTest::addColumn<bool>("temperatureDialogBuilt");
    QTest::addColumn<bool>("fromTemperatureDialog");
    QTest::newRow("statistics only") << false << false;
    QTest::newRow("both built, from statistics") << true << false;
    QTest::newRow("both built, from temperatures") << true << true;
}

void TestStatisticsWidget::exportEndAnnouncedOnce()
{
    QFETCH(bool, temperatureDialogBuilt);
    QFETCH(bool, fromTemperatureDialog);

    RecordsScreens r;
    QVERIFY(ExportStandin::install());
    StatisticsWidget w;
    std::unique_ptr<TemperatureChartWidget> t;
    if (temperatureDialogBuilt) {
        t.reset(new TemperatureChartWidget);
    }
    ChosenFolder chosen(r.dir.filePath("out"));
    PromptAnswerer prompts({1});
    QTest::mouseClick(fromTemperatureDialog ? t->exportButton : w.exportButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&r] { return !r.data.exportBusy; }, kSettleMs));
    QTest::qWait(20);
    QCOMPARE(shownBoxes("数据导出完成"), 1);
    closeShownBoxes();
}

void TestStatisticsWidget::todayIgnoresTheExportRange()
{
    RecordsScreens r;
    today(r);
    QVERIFY(ExportStandin::install());
    StatisticsWidget w;
    w.showToday();
    w.show();
    // An export over the last hour only.
    pickRange(w, at("2026-12-08 07:00:00.000"), at("2026-12-08 08:00:00.000"));
    ChosenFolder chosen(r.dir.filePath("out"));
    {
        PromptAnswerer prompts({1});
        QTest::mouseClick(w.exportButton, Qt::LeftButton);
    }
    QVERIFY(QTest::qWaitFor([&r] { return !r.data.exportBusy; }, kSettleMs));
    closeShownBoxes();
    // Today's state still counts the whole of today.
    w.detectBox->setCurrentIndex(1);
    QCOMPARE(figures(w).count, QStringLiteral("9"));
    QCOMPARE(r.data.query.from, at("2026-12-08 00:00:00.000"));
    QCOMPARE(r.data.query.to, at("2026-12-08 23:59:59.999"));
}

QTEST_MAIN(TestStatisticsWidget)
#include "tst_statisticswidget.moc"
