// Memory of today's results over a long day, release build:
// - a day of eight cameras with four detects of 50 listed areas each at a
//   5-second cycle (17,280 cycles, 27.6 million area verdicts) handed to the
//   records service's live data: the peak of today's verdicts against their
//   budget, and the resident memory it cost; against the map of one entry per
//   area and cycle that held them before (filled for one hour of the same
//   load in the same run and scaled to the day). Then a day at a 2-second
//   cycle, more than the budget is sized for: the memory must stay within it.
// - 10,000 cycles of eight cameras (one detect of 50 areas each) through the
//   whole hand-over, rows written to ResStatistics.db and hourly counters
//   included: resident memory after a warm-up of 1,000 cycles and its growth
//   to the end (aim: within 5 %).
//
// Usage: bench_daymemory [cycles of the second part, default 10000]

#include "cameraregistry.h"
#include "recordsclock.h"
#include "recordshandover.h"
#include "resultrow.h"
#include "resultstatistics.h"
#include "systemparam.h"
#include "temperaturechartdata.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kCameras = 8;
constexpr int kDetects = 4;
constexpr int kAreas = 50;

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return 0;
}

// One camera's detect of a cycle: the lists are made once per camera and
// detect and only the times and one verdict change, so the benchmark
// measures the records, not the making of lists.
DetectResult resultOf(const QDateTime& round, int camera, int detect, int cycle)
{
    static QList<DetectResult> made;
    if (made.isEmpty()) {
        for (int k = 0; k < kCameras * kDetects; ++k) {
            DetectResult r;
            r.idx_camera = k / kDetects;
            r.idx_detect = k % kDetects;
            for (int n = 0; n < kAreas; ++n) {
                r.roi_detail.append({1, n, 0, 10, 0, 0});
                r.roi_result.append(1);
            }
            made.append(r);
        }
    }
    DetectResult r = made.at(camera * kDetects + detect);
    r.roundstart = round;
    r.detectstart = round.addMSecs(500 + detect * 1000 + camera);
    // Now and then an NG area, somewhere else every time.
    const int ng = (cycle * 31 + camera * 7 + detect * 3) % 997;
    if (ng < kAreas) {
        r.roi_result[ng] = 0;
    }
    r.result = ng < kAreas ? 0 : 1;
    return r;
}

struct DayRun {
    qint64 cycles = 0;
    std::size_t peakBytes = 0;
    double rssBefore = 0;
    double rssAfter = 0;
    double seconds = 0;
    qint64 dropped = 0;
    int entries = 0;
};

DayRun fillDay(int cycleSeconds, const QDate& day)
{
    DayRun run;
    malloc_trim(0);
    run.rssBefore = residentMb();
    QElapsedTimer timer;
    timer.start();
    TemperatureChartData data;
    const QDateTime start(day, QTime(8, 0));
    const qint64 cycles = 24 * 3600 / cycleSeconds;
    for (qint64 k = 0; k < cycles; ++k) {
        const QDateTime round = start.addSecs(k * cycleSeconds);
        for (int d = 0; d < kDetects; ++d) {
            for (int c = 0; c < kCameras; ++c) {
                data.setDetectResult(resultOf(round, c, d, int(k)));
                data.updateLiveData();
            }
        }
        run.peakBytes = std::max(run.peakBytes, data.todayResults.memoryBytes());
    }
    run.cycles = cycles;
    run.rssAfter = residentMb();
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.dropped = data.todayResults.droppedCycles();
    run.entries = data.todayResults.size();
    return run;
}

// The map as it was: one entry per area and cycle, filled for an hour.
double formerBytesPerEntry(const QDate& day, qint64* entries)
{
    malloc_trim(0);
    const double before = residentMb();
    ResultMap map;
    const QDateTime start(day, QTime(8, 0));
    for (int k = 0; k < 720; ++k) {
        const QDateTime round = start.addSecs(k * 5);
        const QString roundText = formatResultTime(round);
        for (int d = 0; d < kDetects; ++d) {
            for (int c = 0; c < kCameras; ++c) {
                const DetectResult r = resultOf(round, c, d, k);
                for (int n = 0; n < kAreas; ++n) {
                    map.insert(resultKey(roundText, c, d, n),
                               RoiResult{r.roi_result.at(n), r.detectstart, r.roundstart, c, d, n});
                }
            }
        }
    }
    *entries = map.size();
    return (residentMb() - before) * 1024.0 * 1024.0 / double(map.size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int longCycles = argc > 1 ? std::max(2000, atoi(argv[1])) : 10000;
    QTemporaryDir temp;
    if (!temp.isValid() || !QDir::setCurrent(temp.path())) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QDate today = QDate::currentDate();

    // ------------------------------------------------------- a day in memory
    std::printf("today's verdicts: %d cameras x %d detects x %d areas, budget %.1f MB\n", kCameras, kDetects, kAreas,
                double(TodayResults::kBudgetBytes) / 1e6);
    qint64 formerEntries = 0;
    const double perEntry = formerBytesPerEntry(today, &formerEntries);
    const double dayEntries = 24.0 * 3600 / 5 * kCameras * kDetects * kAreas;
    std::printf("  before: one map entry per area and cycle, %.0f bytes each (%lld entries of an hour measured): "
                "a day at 5 s would take %.0f MB\n",
                perEntry, static_cast<long long>(formerEntries), perEntry * dayEntries / 1e6);
    bool withinBudget = true;
    for (int cycleSeconds : {5, 2}) {
        std::fflush(stdout);
        const DayRun run = fillDay(cycleSeconds, today);
        std::printf("  now, %d s cycle: %lld cycles, %d verdicts held, %lld cycles let go; peak %.1f MB of the "
                    "%.1f MB budget (%s); resident %.0f -> %.0f MB; %.1f s to fill\n",
                    cycleSeconds, static_cast<long long>(run.cycles), run.entries,
                    static_cast<long long>(run.dropped), double(run.peakBytes) / 1e6,
                    double(TodayResults::kBudgetBytes) / 1e6,
                    run.peakBytes <= TodayResults::kBudgetBytes ? "within" : "OVER", run.rssBefore, run.rssAfter,
                    run.seconds);
        withinBudget = withinBudget && run.peakBytes <= TodayResults::kBudgetBytes;
        if (cycleSeconds == 5 && run.dropped != 0) {
            std::printf("  WARNING: the sized day did not fit\n");
            withinBudget = false;
        }
    }

    // ---------------------------------------------- cycles through the records
    setWallClock([today] { return QDateTime(today, QTime(12, 0)); });
    gCameraCount = kCameras;
    gDetectCount = kDetects;
    TemperatureChartData* records = TemperatureChartData::instance();
    records->init();
    while (!records->todayLoaded) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    gpResultStatistics = new ResultStatistics;
    gpResultStatistics->checkDayChange();
    const int warmUp = 1000;
    double rssWarm = 0;
    double rssPeak = 0;
    QElapsedTimer timer;
    timer.start();
    const QDateTime start(today, QTime(12, 0));
    for (int k = 0; k < longCycles; ++k) {
        const QDateTime round = start.addSecs(qint64(k) * 5);
        for (int c = 0; c < kCameras; ++c) {
            handOverToRecords(resultOf(round, c, 0, k));
            gpResultStatistics->addResult(round.time().hour(), c % 3 != 0, c, 0);
        }
        QCoreApplication::processEvents();
        if ((k + 1) % 1000 == 0) {
            std::printf("  %d cycles: resident %.1f MB\n", k + 1, residentMb());
            std::fflush(stdout);
        }
        if (k + 1 == warmUp) {
            rssWarm = residentMb();
        }
        if (k + 1 >= warmUp) {
            rssPeak = std::max(rssPeak, residentMb());
        }
    }
    records->flushPendingInserts();
    const double growth = rssWarm > 0 ? (rssPeak - rssWarm) * 100.0 / rssWarm : 0;
    std::printf("%d cycles of %d cameras (one detect of %d areas each) through the hand-over and the day file: "
                "resident %.1f MB after %d cycles, peak %.1f MB after, growth %.1f %% (aim within 5 %%: %s); "
                "%.1f s\n",
                longCycles, kCameras, kAreas, rssWarm, warmUp, rssPeak, growth, growth <= 5 ? "met" : "MISSED",
                double(timer.nsecsElapsed()) / 1e9);
    delete gpResultStatistics;
    gpResultStatistics = nullptr;
    return withinBudget ? 0 : 1;
}
