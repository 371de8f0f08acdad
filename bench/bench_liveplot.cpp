// Live temperature plot benchmark: the cost of one live refresh (one second's
// new points added, window moved, values rescaled, replot) with 16 series of
// 1 hour and of 24 hours of 10-second points, against one full redraw
// (clear, draw every series, replot) in the same run. A refresh late in the
// day should cost about what it costs early in the day.
//
// Usage: bench_liveplot   (run offscreen: QT_QPA_PLATFORM=offscreen)

#undef QT_NO_FOREACH
#include <qcustomplot.h>

#include "benchsupport.h"
#include "mcustomplot.h"
#include "resultrow.h"
#include "systemclock.h"
#include "temperaturechartdata.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSeries = 16;
constexpr int kStepS = 10;
constexpr int kRounds = 200;

struct Result {
    double refreshMedian = 0;
    double refresh99 = 0;
    double redrawMedian = 0;
    double redraw99 = 0;
};

Result measure(int hours)
{
    const QDateTime start(QDate(2026, 12, 8), QTime(0, 0));
    QDateTime now = start.addSecs(hours * 3600);
    setWallClock([&now] { return now; });

    TemperatureChartData data;
    gpTemperatureChartData = &data;
    for (int s = 0; s < hours * 3600; s += kStepS) {
        for (int k = 0; k < kSeries; ++k) {
            data.todaySeries[seriesKey(k / 4, 0, k % 4)].append(
                QPointF(seriesSeconds(start.addSecs(s)), 50 + 10 * std::sin(s / 600.0 + k)));
        }
    }
    mCustomPlot plot;
    plot.resize(1764, 804);
    plot.show();
    data.seriesMode = 0;
    plot.resetView();
    plot.clearGraphs();
    plot.drawAllSeries();
    plot.updateLegend();
    plot.restoreView();
    plot.startRefresh();
    plot.refreshTimer.stop(); // driven by hand below

    std::vector<double> refresh;
    std::vector<double> redraw;
    QElapsedTimer t;
    for (int round = 0; round < kRounds; ++round) {
        now = now.addSecs(1);
        // A tenth of the series get a point each second (one every 10 s each).
        for (int k = round % 10; k < kSeries; k += 10) {
            const QPointF p(seriesSeconds(now), 50 + 10 * std::sin(round / 60.0 + k));
            data.todaySeries[seriesKey(k / 4, 0, k % 4)].append(p);
            data.newPoints[seriesKey(k / 4, 0, k % 4)].append(p);
        }
        t.start();
        plot.realTimeDataSlot();
        refresh.push_back(double(t.nsecsElapsed()) / 1e6);

        if (round % 10 == 0) {
            t.start();
            plot.clearGraphs();
            plot.drawAllSeries();
            plot.restoreView();
            redraw.push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }
    plot.stopRefresh();
    gpTemperatureChartData = nullptr;
    setWallClock({});
    return {percentile(refresh, 0.5), percentile(refresh, 0.99), percentile(redraw, 0.5), percentile(redraw, 0.99)};
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const Result hour = measure(1);
    const Result day = measure(24);
    for (const auto& [name, r] : {std::pair<const char*, Result>{"1 h", hour}, {"24 h", day}}) {
        std::printf("%-5s refresh median %7.2f ms  p99 %7.2f ms | full redraw median %8.2f ms  p99 %8.2f ms | "
                    "redraw / refresh %.1f\n",
                    name, r.refreshMedian, r.refresh99, r.redrawMedian, r.redraw99, r.redrawMedian / r.refreshMedian);
    }
    std::printf("refresh at 24 h / refresh at 1 h: median %.2f, p99 %.2f (aim: within 1.5)\n",
                day.refreshMedian / hour.refreshMedian, day.refresh99 / hour.refresh99);
    return 0;
}
