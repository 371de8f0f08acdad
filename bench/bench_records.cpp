// Records benchmark: the cost on the GUI thread of handing over one detect of
// eight cameras (five listed areas each, hourly counters included), with a
// commit per result row against one commit for the detect's rows, and the
// start-up load of a full day's result file.
//
// Baseline in the same process: one bare INSERT committed on its own, which is
// what the disk asks for any durable row.
//
// Usage: bench_records [folder]   (default: a new folder under the system's
// temporary folder; give a folder on the disk to be measured)

#include "benchsupport.h"
#include "cameraregistry.h"
#include "systemparam.h"
#include "recordsclock.h"
#include "resultrow.h"
#include "resultstatistics.h"
#include "temperaturechartdata.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kCameras = 8;
constexpr int kDetects = 4;
constexpr int kCyclesPerDay = 8640; // one cycle every 10 s
constexpr int kMeasuredDetects = 400;

const QList<QList<int>> kDetail{{1, 120, 80, 500, 3, 0}, {9, 65, 80, 120, 90}, {0, 5, 0, 150, 2}, {}, {1, 7, 0, 10, 0, 0}};
const QList<int> kVerdicts{1, 1, 1, 0, 1};

QString residentMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return QStringLiteral("?");
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return QString::fromLatin1(line.mid(6).trimmed());
        }
    }
    return QStringLiteral("?");
}

void print(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// A full day's file: every camera and detect of every cycle of today.
bool fillDay(const QDate& day, double* seconds)
{
    QElapsedTimer timer;
    timer.start();
    if (!createResStatisticsDb()) {
        return false;
    }
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
        db.setDatabaseName(QStringLiteral("ResStatistics.db"));
        ok = db.open() && db.transaction();
        QSqlQuery q(db);
        ok = ok
            && q.prepare(QStringLiteral("INSERT INTO res_report (roundstart, detectstart, idx_camera, idx_detect, "
                                        "roi_detail, roi_result, result, description)values(?, ?, ?, ?, ?, ?, ?, ?)"));
        const QString detail = roiDetailToJson(kDetail);
        const QString verdicts = roiResultToJson(kVerdicts);
        const QDateTime dayStart(day, QTime(0, 0));
        for (int cycle = 0; ok && cycle < kCyclesPerDay; ++cycle) {
            const QDateTime round = dayStart.addSecs(qint64(cycle) * 10);
            const QString roundText = formatResultTime(round);
            for (int d = 0; ok && d < kDetects; ++d) {
                const QString detectText = formatResultTime(round.addMSecs(500 + d * 2000));
                for (int c = 0; ok && c < kCameras; ++c) {
                    q.bindValue(0, roundText);
                    q.bindValue(1, detectText);
                    q.bindValue(2, c);
                    q.bindValue(3, d);
                    q.bindValue(4, detail);
                    q.bindValue(5, verdicts);
                    q.bindValue(6, 0);
                    q.bindValue(7, QStringLiteral(""));
                    ok = q.exec();
                }
            }
        }
        if (!ok) {
            print(QStringLiteral("fill failed: ") + q.lastError().text());
        }
        q.finish();
        ok = ok && db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
    *seconds = double(timer.nsecsElapsed()) / 1e9;
    return ok;
}

// One row, committed on its own, into a table of its own file.
std::vector<double> baselineInserts(int count)
{
    std::vector<double> ms;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-baseline"));
        db.setDatabaseName(QStringLiteral("baseline.db"));
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("CREATE TABLE t(a TEXT)"));
        q.prepare(QStringLiteral("INSERT INTO t(a) VALUES(?)"));
        for (int i = 0; i < count; ++i) {
            QElapsedTimer timer;
            timer.start();
            q.bindValue(0, QStringLiteral("[[1,120,80,500,3,0],[9,65,80,120,90]]"));
            q.exec();
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-baseline"));
    return ms;
}

// The times of kMeasuredDetects detects of every camera, handed over as the
// cycle does it; the pass ends with control back in the event loop. With
// commitPerResult each row is written on its own right after its hand-over,
// as the records did before they waited for the end of the pass.
struct DetectRun {
    std::vector<double> detectMs;
    std::vector<double> resultMs;
    std::vector<double> countMs;
    std::vector<double> passEndMs;
};

DetectRun runDetects(TemperatureChartData* records, const QDate& today, int hourOffset, bool commitPerResult)
{
    DetectRun run;
    const QDateTime start(today, QTime(12 + hourOffset, 0));
    for (int i = 0; i < kMeasuredDetects; ++i) {
        const QDateTime round = start.addSecs(i * 10);
        const int detect = i % kDetects;
        QElapsedTimer detectTimer;
        detectTimer.start();
        for (int c = 0; c < kCameras; ++c) {
            QElapsedTimer timer;
            timer.start();
            DetectResult r = records->detectResult;
            r.roundstart = round;
            r.idx_camera = c;
            r.idx_detect = detect;
            r.detectstart = round.addMSecs(500 + c);
            r.result = 0;
            r.roi_detail = kDetail;
            r.roi_result = kVerdicts;
            records->setDetectResult(r);
            records->updateLiveData();
            records->insertDetectResult();
            if (commitPerResult) {
                records->flushPendingInserts();
            }
            run.resultMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        for (int c = 0; c < kCameras; ++c) {
            QElapsedTimer timer;
            timer.start();
            gpResultStatistics->addResult(12 + hourOffset, c % 3 != 0, c, detect);
            run.countMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        QElapsedTimer passTimer;
        passTimer.start();
        QCoreApplication::processEvents();
        run.passEndMs.push_back(double(passTimer.nsecsElapsed()) / 1e6);
        run.detectMs.push_back(double(detectTimer.nsecsElapsed()) / 1e6);
    }
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/korvane-bench-XXXXXX"));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    QDir().mkpath(folder);
    if (!QDir::setCurrent(folder)) {
        print(QStringLiteral("cannot work in ") + folder);
        return 1;
    }
    QFile::remove(QStringLiteral("ResStatistics.db"));
    QFile::remove(QStringLiteral("baseline.db"));
    QFile::remove(QStringLiteral("restime.txt"));
    print(QStringLiteral("working folder: ") + QDir::currentPath());

    const QDate today = QDate::currentDate();
    setWallClock([today] { return QDateTime(today, QTime(12, 0)); });
    gCameraCount = kCameras;
    gDetectCount = kDetects;

    double fillSeconds = 0;
    if (!fillDay(today, &fillSeconds)) {
        print(QStringLiteral("cannot write the day's file"));
        return 1;
    }
    print(QStringLiteral("full day's file: %1 rows written in one transaction in %2 s, %3 MB")
              .arg(kCyclesPerDay * kCameras * kDetects)
              .arg(fillSeconds, 0, 'f', 2)
              .arg(double(QFileInfo(QStringLiteral("ResStatistics.db")).size()) / 1e6, 0, 'f', 1));

    const std::vector<double> baseline = baselineInserts(200);
    print(QStringLiteral("baseline, one INSERT committed on its own: median %1 ms, p99 %2 ms")
              .arg(percentile(baseline, 0.5), 0, 'f', 2)
              .arg(percentile(baseline, 0.99), 0, 'f', 2));

    print(QStringLiteral("memory before the load: %1").arg(residentMemory()));
    TemperatureChartData* records = TemperatureChartData::instance();
    QElapsedTimer loadTimer;
    loadTimer.start();
    records->init();
    while (!records->todayLoaded) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const double loadSeconds = double(loadTimer.nsecsElapsed()) / 1e9;
    print(QStringLiteral("start-up load: %1 s (%2 result entries, %3 temperature series), memory after: %4")
              .arg(loadSeconds, 0, 'f', 2)
              .arg(records->todayResults.size())
              .arg(records->todaySeries.size())
              .arg(residentMemory()));

    gpResultStatistics = new ResultStatistics;
    gpResultStatistics->checkDayChange();

    const DetectRun perResult = runDetects(records, today, 0, true);
    const DetectRun perDetect = runDetects(records, today, 1, false);
    print(QStringLiteral("one result handed over (res_report row queued, today's maps): median %1 ms, p99 %2 ms")
              .arg(percentile(perDetect.resultMs, 0.5), 0, 'f', 3)
              .arg(percentile(perDetect.resultMs, 0.99), 0, 'f', 3));
    print(QStringLiteral("one result counted: median %1 ms, p99 %2 ms")
              .arg(percentile(perDetect.countMs, 0.5), 0, 'f', 3)
              .arg(percentile(perDetect.countMs, 0.99), 0, 'f', 3));
    print(QStringLiteral("end of the pass (the detect's rows in one transaction, 45 hourly rows in another): "
                         "median %1 ms, p99 %2 ms")
              .arg(percentile(perDetect.passEndMs, 0.5), 0, 'f', 2)
              .arg(percentile(perDetect.passEndMs, 0.99), 0, 'f', 2));
    const double beforeP99 = percentile(perResult.detectMs, 0.99);
    const double afterP99 = percentile(perDetect.detectMs, 0.99);
    print(QStringLiteral("one detect of %1 cameras x %2 areas handed over, counters included (%3 detects each):")
              .arg(kCameras)
              .arg(kDetail.size())
              .arg(kMeasuredDetects));
    print(QStringLiteral("  a commit per result (as before):  median %1 ms, p99 %2 ms")
              .arg(percentile(perResult.detectMs, 0.5), 0, 'f', 2)
              .arg(beforeP99, 0, 'f', 2));
    print(QStringLiteral("  one commit per detect:            median %1 ms, p99 %2 ms")
              .arg(percentile(perDetect.detectMs, 0.5), 0, 'f', 2)
              .arg(afterP99, 0, 'f', 2));
    print(QStringLiteral("  %1x faster at the p99, %2x at the median")
              .arg(beforeP99 / afterP99, 0, 'f', 1)
              .arg(percentile(perResult.detectMs, 0.5) / percentile(perDetect.detectMs, 0.5), 0, 'f', 1));
    if (!records->pendingInserts.isEmpty()) {
        print(QStringLiteral("WARNING: %1 rows still waiting").arg(records->pendingInserts.size()));
        return 1;
    }
    return 0;
}
