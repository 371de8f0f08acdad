// Screenshot tour of the records screens: the production statistics and the
// temperature chart dialogs with today's data, history ranges, no data, the
// loading and export boxes, live and stored curves, drawn where they stand
// on the panel. Usage: recordstour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
//
// The screens read a working folder of their own (a temporary one with
// generated day files) at a fixed moment.
#undef QT_NO_FOREACH
#include <qcustomplot.h>

#include "cameraregistry.h"
#include "colorbutton.h"
#include "datetimewidget.h"
#include "edit.h"
#include "exportnotice.h"
#include "globals.h"
#include "histogram.h"
#include "mcustomplot.h"
#include "numberkeypad.h"
#include "resultrow.h"
#include "resultstatistics.h"
#include "statisticswidget.h"
#include "systemclock.h"
#include "systemparam.h"
#include "temperaturechartdata.h"
#include "temperaturechartwidget.h"
#include "texttable.h"
#include "toursupport.h"
#include "warnbox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>

#include <cstdio>

namespace {

const QDateTime kNow(QDate(2026, 12, 8), QTime(15, 42, 10));

void settle(TemperatureChartData& data)
{
    QElapsedTimer t;
    t.start();
    while ((data.queryRunning() || t.elapsed() < 100) && t.elapsed() < 20000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

DetectResult cycle(int camera, int detect, const QDateTime& round, bool ng, int celsius = -1)
{
    DetectResult r;
    r.idx_camera = camera;
    r.idx_detect = detect;
    r.roundstart = round;
    r.detectstart = round.addMSecs(300);
    r.roi_detail = {{1, 1, 0, 10, 0, 0}, {1, 1, 0, 10, 0, 0}};
    r.roi_result = {1, ng ? 0 : 1};
    if (celsius >= 0) {
        r.roi_detail.append(QList<int>{9, celsius, 0, 100, 95});
        r.roi_result.append(1);
    }
    r.result = ng ? 0 : 1;
    return r;
}

// Temperature readings: twelve areas over cameras and detects, a wave each.
QList<DetectResult> temperatures(const QDateTime& from, int seconds, int step)
{
    QList<DetectResult> out;
    for (int s = 0; s <= seconds; s += step) {
        for (int k = 0; k < 12; ++k) {
            DetectResult r;
            r.idx_camera = k / 4;
            r.idx_detect = (k / 2) % 2;
            r.roundstart = from.addSecs(s);
            r.detectstart = r.roundstart.addMSecs(100 * k);
            const int area = k % 2 == 0 ? 0 : 11;
            for (int n = 0; n <= area; ++n) {
                r.roi_detail.append(n == area ? QList<int>{9, 40 + 3 * k + int(6 * std::sin((s / 60.0 + k) / 3.0)), 0,
                                                           100, 95}
                                              : QList<int>{});
                r.roi_result.append(1);
            }
            r.result = 1;
            out << r;
        }
    }
    return out;
}

bool writeDay(const QDate& day, const QList<DetectResult>& rows)
{
    QDir().mkpath(QStringLiteral("ResStatistics"));
    QString sql = QString::fromLatin1(kCreateResReportSql) + QStringLiteral(";BEGIN;");
    for (const DetectResult& r : rows) {
        sql += QStringLiteral("INSERT INTO res_report (roundstart, detectstart, idx_camera, idx_detect, roi_detail, "
                              "roi_result, result, description) VALUES ('%1', '%2', %3, %4, '%5', '%6', %7, '');")
                   .arg(formatResultTime(r.roundstart), formatResultTime(r.detectstart))
                   .arg(r.idx_camera)
                   .arg(r.idx_detect)
                   .arg(roiDetailToJson(r.roi_detail), roiResultToJson(r.roi_result))
                   .arg(r.result);
    }
    sql += QStringLiteral("COMMIT;");
    // Through standard input: a day of rows is longer than one argument may be.
    QProcess p;
    p.start(QStringLiteral("sqlite3"),
            {QStringLiteral("ResStatistics/%1.db").arg(day.toString(QStringLiteral("yyyy-MM-dd")))});
    p.write(sql.toUtf8());
    p.closeWriteChannel();
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

tipbox* box(int buttons, int textId)
{
    auto* b = new tipbox(buttons, nullptr, 600, 420);
    b->setMessage(textOf(textId));
    return b;
}

void statisticsTour(TemperatureChartData& data)
{
    StatisticsWidget w;
    w.showToday();
    shoot(QStringLiteral("statistics_today"), {&w});

    w.cameraBox->setCurrentIndex(4);
    shoot(QStringLiteral("statistics_nodata"), {&w});
    w.cameraBox->setCurrentIndex(0);

    w.timeRange->setFromDateTime(QDateTime(QDate(2026, 12, 5), QTime(8, 0)));
    w.timeRange->setToDateTime(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
    w.confirmQuery();
    shoot(QStringLiteral("statistics_loading"), {&w, w.loadingBox});
    settle(data);
    shoot(QStringLiteral("statistics_history48h"), {&w});

    const QList<QPair<QString, tipbox*>> boxes{
        {QStringLiteral("statistics_box_nofolder"), box(1, RecordsText::NoExportFolder)},
        {QStringLiteral("statistics_box_confirm"), box(2, RecordsText::ConfirmExport)},
        {QStringLiteral("statistics_box_busy"), box(1, RecordsText::ExportBusy)},
        {QStringLiteral("statistics_box_finished"), box(1, RecordsText::ExportFinished)},
        {QStringLiteral("statistics_box_failed"), box(1, RecordsText::ExportFailed)},
        {QStringLiteral("statistics_box_loading"), box(1, RecordsText::Loading)},
        {QStringLiteral("statistics_box_norange"), box(1, RecordsText::NoTimeRange)},
    };
    for (const auto& b : boxes) {
        shoot(b.first, {&w, b.second});
        delete b.second;
    }
    w.closeButtonClicked();
}

void temperatureTour(TemperatureChartData& data)
{
    TemperatureChartWidget w;
    data.clearTodaySeries();
    data.seriesMode = 0;
    w.showRealTime();
    shoot(QStringLiteral("temperature_placeholder"), {&w});
    w.closeButtonClicked();

    for (const DetectResult& r : temperatures(kNow.addSecs(-3600), 3600, 10)) {
        data.setDetectResult(r);
        data.updateLiveData();
    }
    data.seriesMode = 0;
    w.showRealTime();
    shoot(QStringLiteral("temperature_live"), {&w});

    // A curve selected and pressed: the tracer's label.
    mCustomPlot* plot = w.customPlot;
    QCustomPlot* p = plot->plot;
    const int graph = plot->graphIndex.value(QStringLiteral("C:1_D:0_F:0"));
    p->graph(graph)->setSelection(QCPDataSelection(p->graph(graph)->data()->dataRange()));
    plot->selectedShow();
    const double x = double(kNow.addSecs(-400).toMSecsSinceEpoch()) / 1000.0;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(p->xAxis->coordToPixel(x), 300), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    plot->mouseMove1(&press);
    shoot(QStringLiteral("temperature_selected"), {&w});

    plot->zoomButton->click();
    shoot(QStringLiteral("temperature_zoommode"), {&w});
    plot->zoomButton->click();

    plot->realTimeButton->click();
    shoot(QStringLiteral("temperature_paused"), {&w});
    plot->realTimeButton->click();

    // The minutes field's keypad.
    w.show();
    QApplication::setActiveWindow(&w);
    w.minutesEdit->setFocus(Qt::MouseFocusReason);
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(w.minutesEdit, &focusIn);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w.minutesEdit, &up);
    QList<QWidget*> windows{&w};
    if (gpNumKeyPad && gpNumKeyPad->isWindow()) {
        windows << gpNumKeyPad;
    }
    shoot(QStringLiteral("temperature_keypad"), windows);
    w.minutesEdit->clearFocus();

    w.timeRange->setFromDateTime(QDateTime(QDate(2026, 12, 5), QTime(0, 0)));
    w.timeRange->setToDateTime(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)));
    w.confirmQuery();
    settle(data);
    shoot(QStringLiteral("temperature_history3d"), {&w});
    w.closeButtonClicked();
}

int shootAll(const TourArguments& arguments)
{
    gCameraCount = 4;
    gDetectCount = 2;

    ScratchFolder work;
    const WallClock previousClock = setWallClock([] { return kNow; });

    // Three archived days of cycles and temperatures.
    for (int d = 5; d <= 7; ++d) {
        QList<DetectResult> rows;
        const QDateTime day(QDate(2026, 12, d), QTime(0, 0));
        for (int m = 0; m < 24 * 60; m += 7) {
            rows << cycle(m % 3, m % 2, day.addSecs(m * 60), m % 11 == 0);
        }
        rows << temperatures(day, 24 * 3600 - 1, 600);
        if (!writeDay(day.date(), rows)) {
            std::fprintf(stderr, "could not write the day file of %d December\n", d);
        }
    }

    forEachLanguage(arguments, [&] {
        TemperatureChartData data;
        gpTemperatureChartData = &data;
        // Today until now: a cycle every 5 minutes, some NG.
        for (int m = 0; m < kNow.time().hour() * 60 + kNow.time().minute(); m += 5) {
            data.setDetectResult(cycle(m % 3, m % 2, QDateTime(kNow.date(), QTime(0, 0)).addSecs(m * 60), m % 13 == 0));
            data.updateLiveData();
        }
        statisticsTour(data);
        temperatureTour(data);
        data.stopQuery();
        gpTemperatureChartData = nullptr;
    });
    setWallClock(previousClock);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
