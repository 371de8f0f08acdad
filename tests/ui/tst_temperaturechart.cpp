// The plotting library's header still uses Qt's foreach: it comes first.
#undef QT_NO_FOREACH
#include <qcustomplot.h>

#include "colorbutton.h"
#include "datetimewidget.h"
#include "edit.h"
#include "numberkeypad.h"
#include "exportnotice.h"
#include "exportstandin.h"
#include "mcustomplot.h"
#include "paramstorage.h"
#include "promptanswerer.h"
#include "recordsscreens.h"
#include "temperaturechartwidget.h"
#include "settle.h"

#include <QCheckBox>
#include <QPushButton>

// The temperature plot and its dialog at the panel's size: live refreshes
// driven by the clock and the refresh slot, history reads from day files.
class TestTemperatureChart : public QObject {
    Q_OBJECT
private slots:
    void graphNames_data();
    void graphNames();
    void graphColours();
    void placeholderGivesWayToTheFirstPoint();
    void filterReadsTheKeyWhole_data();
    void filterReadsTheKeyWhole();
    void labelFollowsTheSelectedCurve();
    void pauseResumeAndReopenHoldTodayOnce();
    void closedForADayKeepsNoNewPoints();
    void liveGraphsKeepADay();
    void firstOpening();
    void threeDayHistory();
    void queryNeedsNoSecondRead();
    void minutesField_data();
    void minutesField();
    void exportModes();
};

namespace {

double key(const QDateTime& t)
{
    return double(t.toMSecsSinceEpoch()) / 1000.0;
}

// Every graph of the plot holds exactly the points of its series.
void verifyGraphsHold(mCustomPlot& plot, const SeriesMap& series)
{
    int drawn = 0;
    for (auto it = series.cbegin(); it != series.cend(); ++it) {
        QVERIFY2(plot.graphIndex.contains(it.key()), qPrintable(it.key()));
        QCPGraph* g = plot.plot->graph(plot.graphIndex.value(it.key()));
        QCOMPARE(g->dataCount(), it.value().size());
        for (int i = 0; i < it.value().size(); ++i) {
            QCOMPARE(g->data()->at(i)->key, it.value().at(i).x());
        }
        ++drawn;
    }
    QCOMPARE(plot.graphIndex.size(), drawn);
}

// Live points of four series: camera 0 areas 0 and 1, camera 1 area 0 (detect 1).
void livePoints(RecordsScreens& r, const QDateTime& t, int celsius)
{
    r.handOver(temperatureResult(0, 0, 0, t, celsius));
    r.handOver(temperatureResult(0, 0, 1, t.addMSecs(100), celsius + 1));
    r.handOver(temperatureResult(1, 1, 0, t.addMSecs(200), celsius + 2));
}

} // namespace

void TestTemperatureChart::graphNames_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::newRow("camera 0 area 2 detect 0") << "C:0_D:0_F:2" << "相机:1_成品检测_区域:3";
    QTest::newRow("detect 1") << "C:3_D:1_F:0" << "相机:4_模腔检测_区域:1";
    QTest::newRow("area index 11") << "C:0_D:0_F:11" << "相机:1_成品检测_区域:12";
    QTest::newRow("detect 2") << "C:7_D:2_F:9" << "相机:8_模腔检测_区域:10";
}

void TestTemperatureChart::graphNames()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    QCOMPARE(mCustomPlot::graphName(key), name);
}

void TestTemperatureChart::graphColours()
{
    QCOMPARE(mCustomPlot::graphColor(0), QColor(255, 0, 0));
    QCOMPARE(mCustomPlot::graphColor(6), QColor(255, 69, 0));
    QCOMPARE(mCustomPlot::graphColor(9), QColor(255, 128, 193));
    for (int k = 10; k < 40; ++k) {
        const QColor c = mCustomPlot::graphColor(k);
        QCOMPARE(c.alpha(), 255);
        QVERIFY(c.red() < 255 && c.green() < 255 && c.blue() < 255);
    }
}

void TestTemperatureChart::placeholderGivesWayToTheFirstPoint()
{
    RecordsScreens r;
    mCustomPlot plot;
    plot.clearGraphs();
    plot.drawAllSeries();
    plot.updateLegend();
    QCOMPARE(plot.plot->graphCount(), 1);
    QCOMPARE(plot.plot->graph(0)->name(), QStringLiteral("相机:0_没有检测_区域:0"));
    QVERIFY(!plot.hasGraphs);
    QVERIFY(!plot.plot->legend->visible());

    plot.startRefresh();
    r.handOver(temperatureResult(2, 0, 11, r.clock.now(), 61));
    plot.realTimeDataSlot();
    QCOMPARE(plot.plot->graphCount(), 1);
    QCOMPARE(plot.plot->graph(0)->name(), QStringLiteral("相机:3_成品检测_区域:12"));
    QCOMPARE(plot.plot->graph(0)->dataCount(), 1);
    QVERIFY(plot.hasGraphs);
    QVERIFY(plot.plot->legend->visible());
    QVERIFY(r.data.newPoints.isEmpty());
    plot.stopRefresh();
}

void TestTemperatureChart::filterReadsTheKeyWhole_data()
{
    QTest::addColumn<int>("camera");
    QTest::addColumn<int>("detect");
    QTest::addColumn<int>("area");
    QTest::addColumn<QStringList>("shown");

    const QStringList all{"C:0_D:0_F:1", "C:0_D:0_F:10", "C:0_D:0_F:11", "C:1_D:1_F:1", "C:10_D:0_F:1"};
    QTest::newRow("all") << -1 << -1 << -1 << all;
    QTest::newRow("area 1 only") << -1 << -1 << 1 << QStringList{"C:0_D:0_F:1", "C:1_D:1_F:1", "C:10_D:0_F:1"};
    QTest::newRow("area 11") << -1 << -1 << 11 << QStringList{"C:0_D:0_F:11"};
    QTest::newRow("camera 1, not 10") << 1 << -1 << -1 << QStringList{"C:1_D:1_F:1"};
    QTest::newRow("camera 0 detect 0 area 10") << 0 << 0 << 10 << QStringList{"C:0_D:0_F:10"};
    QTest::newRow("detect 1") << -1 << 1 << -1 << QStringList{"C:1_D:1_F:1"};
}

void TestTemperatureChart::filterReadsTheKeyWhole()
{
    QFETCH(int, camera);
    QFETCH(int, detect);
    QFETCH(int, area);
    QFETCH(QStringList, shown);

    RecordsScreens r;
    const double x = key(r.clock.now());
    for (const char* k : {"C:0_D:0_F:1", "C:0_D:0_F:10", "C:0_D:0_F:11", "C:1_D:1_F:1", "C:10_D:0_F:1"}) {
        r.data.todaySeries.insert(QString::fromLatin1(k), {{x, 50}});
    }
    mCustomPlot plot;
    plot.drawAllSeries();
    PlotFilter filter;
    filter.camera = camera;
    filter.detect = detect;
    filter.area = area;
    plot.setFilter(filter);
    plot.applyFilter();
    QStringList visible;
    for (auto it = plot.graphIndex.cbegin(); it != plot.graphIndex.cend(); ++it) {
        if (plot.plot->graph(it.value())->visible()) {
            visible << it.key();
            QVERIFY(plot.shownGraphs.contains(it.value()));
        }
    }
    visible.sort();
    shown.sort();
    QCOMPARE(visible, shown);
    QCOMPARE(plot.shownGraphs.size(), shown.size());
}

void TestTemperatureChart::labelFollowsTheSelectedCurve()
{
    RecordsScreens r;
    const QDateTime now = r.clock.now();
    // Three flat curves far apart: 40, 60 and 80 °C (areas 0, 1 and 2).
    for (int area = 0; area < 3; ++area) {
        const double celsius = 40 + 20 * area;
        r.data.todaySeries.insert(QStringLiteral("C:0_D:0_F:%1").arg(area),
                                  {{key(now.addSecs(-600)), celsius}, {key(now.addSecs(-10)), celsius}});
    }
    TemperatureChartWidget w;
    w.showRealTime();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    mCustomPlot* plot = w.customPlot;
    QVERIFY(plot->labelsOn);
    QCustomPlot* p = plot->plot;
    p->replot();
    // A press on the 60 °C curve selects it and shows its temperature.
    const QPoint onCurve(int(p->xAxis->coordToPixel(key(now.addSecs(-300)))), int(p->yAxis->coordToPixel(60)));
    QTest::mouseClick(p, Qt::LeftButton, Qt::NoModifier, onCurve);
    QCOMPARE(plot->selectedGraph, plot->graphIndex.value("C:0_D:0_F:1"));
    QTest::mouseClick(p, Qt::LeftButton, Qt::NoModifier, onCurve);
    QVERIFY(plot->tracer->visible());
    QVERIFY(plot->label->visible());
    QVERIFY2(plot->label->text().startsWith(QStringLiteral("日期:2026-12-08 09:2")), qPrintable(plot->label->text()));
    QVERIFY2(plot->label->text().endsWith(QStringLiteral("\n温度:60")), qPrintable(plot->label->text()));

    // Filtered out, the selected curve gets no label.
    w.areaBox->setCurrentIndex(1); // area index 0
    QVERIFY(!plot->shownGraphs.contains(plot->selectedGraph));
    QTest::mouseClick(p, Qt::LeftButton, Qt::NoModifier, onCurve);
    QVERIFY(!plot->tracer->visible());
    QVERIFY(!plot->label->visible());

    // The label button switches the function off: presses show nothing.
    w.areaBox->setCurrentIndex(0);
    QTest::mouseClick(plot->labelButton, Qt::LeftButton);
    QVERIFY(!plot->labelsOn);
    QCOMPARE(plot->labelButton->text(), QStringLiteral("隐藏标签"));
    QTest::mouseClick(p, Qt::LeftButton, Qt::NoModifier, onCurve);
    QVERIFY(!plot->tracer->visible());
    // Zoom mode and back.
    QTest::mouseClick(plot->zoomButton, Qt::LeftButton);
    QCOMPARE(p->selectionRectMode(), QCP::srmZoom);
    QCOMPARE(plot->zoomButton->text(), QStringLiteral("区域放大"));
    QTest::mouseClick(plot->zoomButton, Qt::LeftButton);
    QCOMPARE(p->selectionRectMode(), QCP::srmNone);
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
}

void TestTemperatureChart::pauseResumeAndReopenHoldTodayOnce()
{
    RecordsScreens r;
    livePoints(r, r.clock.now().addSecs(-100), 50);
    TemperatureChartWidget w;
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    mCustomPlot* plot = w.customPlot;
    verifyGraphsHold(*plot, r.data.todaySeries);
    for (int s = 0; s < 3; ++s) {
        r.clock.advanceMs(1000);
        livePoints(r, r.clock.now(), 51 + s);
        plot->realTimeDataSlot();
    }
    verifyGraphsHold(*plot, r.data.todaySeries);

    // Paused: the window stays, nothing is gathered.
    QTest::mouseClick(plot->realTimeButton, Qt::LeftButton);
    QCOMPARE(r.data.seriesMode, 1);
    QCOMPARE(plot->realTimeButton->text(), QStringLiteral("暂停"));
    QVERIFY(!plot->refreshTimer.isActive());
    const QCPRange window = plot->plot->xAxis->range();
    r.clock.advanceMs(60000);
    livePoints(r, r.clock.now(), 60);
    QVERIFY(r.data.newPoints.isEmpty());
    QCOMPARE(plot->plot->xAxis->range(), window);

    // Resumed: all of today once, then appending again.
    QTest::mouseClick(plot->realTimeButton, Qt::LeftButton);
    QCOMPARE(r.data.seriesMode, 0);
    QVERIFY(plot->refreshTimer.isActive());
    verifyGraphsHold(*plot, r.data.todaySeries);
    QCOMPARE(plot->plot->xAxis->range().upper, key(r.clock.now()) + 10);
    r.clock.advanceMs(1000);
    livePoints(r, r.clock.now(), 61);
    plot->realTimeDataSlot();
    verifyGraphsHold(*plot, r.data.todaySeries);

    // Closed, points keep coming, reopened: today once again.
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
    QVERIFY(!w.isVisible());
    QVERIFY(!plot->refreshTimer.isActive());
    for (int s = 0; s < 5; ++s) {
        r.clock.advanceMs(1000);
        livePoints(r, r.clock.now(), 70);
    }
    QVERIFY(r.data.newPoints.isEmpty());
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    r.clock.advanceMs(1000);
    livePoints(r, r.clock.now(), 71);
    plot->realTimeDataSlot();
    verifyGraphsHold(*plot, r.data.todaySeries);
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
}

void TestTemperatureChart::closedForADayKeepsNoNewPoints()
{
    RecordsScreens r;
    TemperatureChartWidget w;
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
    // A day of cycles every 10 s while the dialog is closed.
    for (int i = 0; i < 8640; ++i) {
        r.clock.advanceMs(10000);
        r.handOver(temperatureResult(0, 0, 0, r.clock.now(), 50 + i % 7));
    }
    QVERIFY(r.data.newPoints.isEmpty());
    QVERIFY(!r.data.keepNewPoints);
}

void TestTemperatureChart::liveGraphsKeepADay()
{
    RecordsScreens r;
    const QDateTime start = at("2026-12-08 23:59:00.000");
    r.clock.set(start);
    r.handOver(temperatureResult(0, 0, 0, start, 40));
    mCustomPlot plot;
    r.data.seriesMode = 0;
    plot.clearGraphs();
    plot.drawAllSeries();
    plot.startRefresh();
    // Left open across midnight: one point a minute for 25 hours.
    for (int m = 1; m <= 25 * 60; ++m) {
        r.clock.set(start.addSecs(m * 60));
        r.handOver(temperatureResult(0, 0, 0, r.clock.now(), 40 + m % 5));
        plot.realTimeDataSlot();
    }
    QCPGraph* g = plot.plot->graph(plot.graphIndex.value("C:0_D:0_F:0"));
    const double oldest = g->data()->constBegin()->key;
    QVERIFY(oldest >= key(r.clock.now()) - 24 * 3600);
    QCOMPARE(g->dataCount(), 24 * 60 + 1);
    plot.stopRefresh();
}

void TestTemperatureChart::firstOpening()
{
    RecordsScreens r;
    r.handOver(temperatureResult(0, 0, 0, r.clock.now().addSecs(-3600), 40));
    r.handOver(temperatureResult(0, 0, 0, r.clock.now().addSecs(-5), 42));
    TemperatureChartWidget w;
    QCOMPARE(w.size(), QSize(1850, 950));
    QCOMPARE(w.pos(), QPoint(35, 65));
    QCOMPARE(w.customPlot->size(), QSize(1764, 804));
    QCOMPARE(w.areaBox->count(), 11);
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    QCOMPARE(w.timeRange->fromDateTime, r.clock.now().addDays(-1));
    QCOMPARE(w.timeRange->toDateTime, r.clock.now());
    const QCPRange x = w.customPlot->plot->xAxis->range();
    QCOMPARE(x.lower, key(r.clock.now()) - 890);
    QCOMPARE(x.upper, key(r.clock.now()) + 10);
    // The values are scaled to the shown window only: the hour-old 40 is left out.
    QCOMPARE(w.customPlot->plot->yAxis->range().center(), 42.0);
    QVERIFY(w.customPlot->refreshTimer.isActive());
    QCOMPARE(w.customPlot->realTimeButton->text(), QStringLiteral("实时"));
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
}

void TestTemperatureChart::threeDayHistory()
{
    RecordsScreens r;
    r.handOver(temperatureResult(0, 0, 0, r.clock.now().addSecs(-5), 42));
    for (int d = 5; d <= 7; ++d) {
        const QDate day(2026, 12, d);
        QList<DetectResult> rows;
        for (int h = 0; h < 24; h += 6) {
            const QDateTime t(day, QTime(h, 0));
            rows << temperatureResult(0, 0, 0, t, 30 + h) << temperatureResult(1, 0, 2, t.addSecs(1), 60);
        }
        QVERIFY(r.writeDay(day, rows));
    }
    TemperatureChartWidget w;
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    const QDateTime from = at("2026-12-05 00:00:00.000");
    const QDateTime to = at("2026-12-07 23:59:59.000");
    w.timeRange->setFromDateTime(from);
    w.timeRange->setToDateTime(to);
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QCOMPARE(r.data.seriesMode, 2);
    QVERIFY(w.loadingBox->isVisible());
    QVERIFY(!w.customPlot->refreshTimer.isActive());
    QCOMPARE(w.customPlot->realTimeButton->text(), QStringLiteral("暂停"));
    QVERIFY(QTest::qWaitFor([&w] { return w.customPlot->graphIndex.size() == 2; }, kSettleMs));
    QVERIFY(!w.loadingBox->isVisible());
    verifyGraphsHold(*w.customPlot, r.data.historySeries);
    QCOMPARE(w.customPlot->plot->graph(0)->dataCount(), 12);
    QCOMPARE(w.customPlot->plot->xAxis->range().lower, key(from));
    QCOMPARE(w.customPlot->plot->xAxis->range().upper, key(to));

    // Box changes do nothing in history mode.
    w.cameraBox->setCurrentIndex(2);
    QVERIFY(w.customPlot->plot->graph(0)->visible());
    // The plot's real-time button returns to today's live curves.
    QTest::mouseClick(w.customPlot->realTimeButton, Qt::LeftButton);
    QCOMPARE(r.data.seriesMode, 0);
    verifyGraphsHold(*w.customPlot, r.data.todaySeries);
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
}

void TestTemperatureChart::queryNeedsNoSecondRead()
{
    RecordsScreens r;
    QVERIFY(r.writeDay(QDate(2026, 12, 7), {temperatureResult(0, 0, 0, at("2026-12-07 10:00:00.000"), 50)}));
    TemperatureChartWidget w;
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    PromptAnswerer prompts;
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QVERIFY(r.data.queryRunning());
    QTest::mouseClick(w.confirmButton, Qt::LeftButton);
    QCOMPARE(prompts.questions, QStringList{QStringLiteral("数据加载中")});
    // Reopened while it reads: the live view stays, the old result is not drawn.
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    QVERIFY(QTest::qWaitFor([&r] { return !r.data.queryRunning(); }, kSettleMs));
    QTest::qWait(50);
    QVERIFY(w.customPlot->graphIndex.isEmpty());
    QVERIFY(w.customPlot->refreshTimer.isActive());
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
}

void TestTemperatureChart::minutesField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("stored");
    QTest::newRow("5 minutes") << "5" << 5;
    QTest::newRow("100 minutes") << "100" << 100;
    QTest::newRow("0 refused") << "0" << 30;
    QTest::newRow("empty refused") << "" << 30;
}

void TestTemperatureChart::minutesField()
{
    QFETCH(QString, typed);
    QFETCH(int, stored);

    RecordsScreens r;
    QVERIFY(writeFactoryParamGroup(QStringLiteral("paraGroup/default")));
    QVERIFY(QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db")));
    openParamDatabase();
    SystemParam record{};
    initSysParamDefaults(&record);
    loadSysParam(&record);
    gpSystemParam = &record;
    QCOMPARE(record.tempRecordMin(), 30);
    r.data.setRegularRecordingInterval(30);
    const auto storedInFile = [] {
        const QStringList values =
            sqlite(QStringLiteral("select value from sysparam where name='system12'"), QStringLiteral("PARAM.db"))
                .trimmed()
                .split(QLatin1Char(' '));
        return values.value(11).toInt();
    };
    const QString fileBefore = sqlite(QStringLiteral("select * from sysparam"), QStringLiteral("PARAM.db"));

    TemperatureChartWidget w;
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.minutesEdit->text(), QStringLiteral("30"));
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // Typed on the field's number pad, then the focus leaves the field.
    QTest::mouseClick(w.minutesEdit, Qt::LeftButton);
    QVERIFY(gpNumKeyPad);
    QTest::mouseClick(gpNumKeyPad->backKey, Qt::LeftButton);
    QTest::mouseClick(gpNumKeyPad->backKey, Qt::LeftButton);
    for (const QChar c : typed) {
        QTest::mouseClick(gpNumKeyPad->keyGroup->button(c.digitValue()), Qt::LeftButton);
    }
    QCOMPARE(w.minutesEdit->text(), typed);
    w.minutesEdit->clearFocus();
    QCOMPARE(record.tempRecordMin(), stored);
    QCOMPARE(w.minutesEdit->text(), QString::number(stored));
    QCOMPARE(r.data.regularTimer.interval(), stored * 60000);
    if (stored == 30) {
        QCOMPARE(sqlite(QStringLiteral("select * from sysparam"), QStringLiteral("PARAM.db")), fileBefore);
    } else {
        QCOMPARE(storedInFile(), stored);
    }
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
}

void TestTemperatureChart::exportModes()
{
    RecordsScreens r;
    QVERIFY(ExportStandin::install());
    TemperatureChartWidget w;
    r.data.seriesMode = 0;
    w.showRealTime();
    w.show();
    const auto previous = setExportFolderChooser([&r](QWidget*) { return r.dir.filePath("out"); });
    PromptAnswerer prompts({1});
    // The regular-recording box asks for the marked results only.
    QTest::mouseClick(w.regularBox, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
    QVERIFY(w.regularBox->isChecked());
    QTest::mouseClick(w.exportButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&r] { return !r.data.exportBusy; }, kSettleMs));
    QVERIFY(ExportStandin::lastArguments().contains("-detail"));
    QTest::qWait(20);
    QCOMPARE(shownBoxes(QStringLiteral("数据导出完成")), 1);
    closeShownBoxes();
    setExportFolderChooser(previous);
    QTest::mouseClick(w.closeButton, Qt::LeftButton);
}

QTEST_MAIN(TestTemperatureChart)
#include "tst_temperaturechart.moc"
