// Query benchmark: a history pass of the statistics screen over 1 and 30 full
// day files (8 cameras x 4 detects every 10 s: 276,480 rows a day, 5 listed
// areas, about 3 % NG cycles, two thermal cameras with two temperature areas).
//
// Every variant runs in a child process of its own, so its peak memory
// (VmHWM) is its own. Baselines in the same run:
//  - the sqlite3 shell, one plain GROUP BY roundstart aggregate per day file;
//  - the map-based count (every entry of the range in a result map, then
//    countCycles), for as many days as fit in the memory budget.
// Also: the GUI event loop's lateness during our passes, and today's count
// over a full day's maps on the GUI thread.
//
// Usage: bench_queries <folder>   The 30 day files (about 2.5 GB) are made
// once in <folder>/ResStatistics and reused by later runs.

#include "benchsupport.h"
#include "datathread.h"
#include "historyreference.h"
#include "recordsclock.h"
#include "resultrow.h"
#include "resultstatistics.h"
#include "temperaturechartdata.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDays = 30;
constexpr int kRowsPerDay = 8640 * 4 * 8;
const QDate kFirstDay(2026, 11, 1);
// "Now" is the day after the last file, so every day is an archive.
const QDateTime kNow(kFirstDay.addDays(kDays), QTime(12, 0));

void print(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

qint64 statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

QString dayFile(const QDate& day)
{
    return QStringLiteral("ResStatistics/%1.db").arg(day.toString(QStringLiteral("yyyy-MM-dd")));
}

// One day's file through the sqlite3 shell: row i is camera i % 8, detect
// (i / 8) % 4 of cycle i / 32; about 3 % of the cycles have one NG entry.
bool makeDay(const QDate& day)
{
    const QString file = dayFile(day);
    const QString temp = file + QStringLiteral(".part");
    QFile::remove(temp);
    const QString start = day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00");
    const QString ngCycle = QStringLiteral("((i / 32) * 2654435761 %% 1000 < 30 AND (i / 32) %% 32 = i %% 32)");
    QString sql = QString::fromLatin1(kCreateResReportSql) + QStringLiteral(";BEGIN;");
    sql += QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
        "INSERT INTO res_report (roundstart, detectstart, idx_camera, idx_detect, roi_detail, roi_result, result, "
        "description) SELECT "
        "strftime('%Y-%m-%d %H:%M:%f', '%2', '+' || ((i / 32) * 10) || ' seconds'), "
        "strftime('%Y-%m-%d %H:%M:%f', '%2', '+' || ((i / 32) * 10 + 0.5 + ((i / 8) % 4) * 2 + (i % 8) * 0.001) "
        "|| ' seconds'), i % 8, (i / 8) % 4, "
        "CASE WHEN i % 8 < 2 THEN '[[1,120,80,500,3,0],[9,' || (60 + (i / 32) % 20) || ',80,120,90],[0,5,0,150,2],"
        "[9,' || (70 + (i / 32 * 3) % 25) || ',80,120,90],[]]' "
        "ELSE '[[1,120,80,500,3,0],[0,5,0,150,2],[0,6,0,150,2],[1,7,0,10,0,0],[]]' END, "
        "CASE WHEN %3 THEN (CASE (i / 32) % 5 WHEN 0 THEN '[0,1,1,1,1]' WHEN 1 THEN '[1,0,1,1,1]' "
        "WHEN 2 THEN '[1,1,0,1,1]' WHEN 3 THEN '[1,1,1,0,1]' ELSE '[1,1,1,1,0]' END) ELSE '[1,1,1,1,1]' END, "
        "CASE WHEN %3 THEN 0 ELSE 1 END, '' FROM n;COMMIT;")
               .arg(kRowsPerDay - 1)
               .arg(start)
               .arg(QString(ngCycle).replace(QStringLiteral("%%"), QStringLiteral("%")));
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {temp, sql});
    if (!sqlite.waitForFinished(600000) || sqlite.exitCode() != 0) {
        print(QStringLiteral("sqlite3 failed: ") + QString::fromUtf8(sqlite.readAllStandardError()));
        return false;
    }
    return QFile::rename(temp, file);
}

ResultQuery rangeQuery(int days, bool cameraArea)
{
    ResultQuery q;
    q.camera = cameraArea ? 1 : -1;
    q.area = cameraArea ? 2 : -1;
    q.from = QDateTime(kFirstDay, QTime(0, 0, 0, 0));
    q.to = QDateTime(kFirstDay.addDays(days - 1), QTime(23, 59, 59, 999));
    return q;
}

// --- children: each prints one line "RESULT key=value ..." -----------------

int childOurs(int days, bool cameraArea, bool temperature)
{
    TemperatureChartData data;
    data.setQuery(rangeQuery(days, cameraArea));
    data.statisticsSource = 1;
    data.seriesMode = 2;
    std::vector<double> lateness;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        lateness.push_back(std::max(0.0, double(sinceTick.nsecsElapsed()) / 1e6 - 5.0));
        sinceTick.restart();
    });
    // The same ticks with no pass first: what the machine itself adds.
    sinceTick.start();
    tick.start();
    QTimer::singleShot(5000, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    tick.stop();
    const std::vector<double> idle = lateness;
    lateness.clear();

    QElapsedTimer timer;
    QObject::connect(&data, &TemperatureChartData::queryFinished, QCoreApplication::instance(),
                     &QCoreApplication::quit);
    QTimer::singleShot(0, [&] {
        timer.start();
        sinceTick.start();
        tick.start();
        data.startQuery(temperature ? TemperatureChartData::TemperaturePart : TemperatureChartData::ResultPart);
    });
    QCoreApplication::exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    int points = 0;
    for (const SeriesPoints& s : qAsConst(data.historySeries)) {
        points += s.size();
    }
    print(QStringLiteral("RESULT idleMax=%1 idleP99=%2")
              .arg(idle.empty() ? 0.0 : *std::max_element(idle.begin(), idle.end()), 0, 'f', 2)
              .arg(percentile(idle, 0.99), 0, 'f', 2));
    print(QStringLiteral("RESULT seconds=%1 hwm=%2 cycles=%3 ng=%4 lateMax=%5 lateP99=%6 series=%7 points=%8")
              .arg(seconds, 0, 'f', 3)
              .arg(statusKb("VmHWM:"))
              .arg(data.cycleCount)
              .arg(data.ngCycleCount)
              .arg(lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end()), 0, 'f', 2)
              .arg(percentile(lateness, 0.99), 0, 'f', 2)
              .arg(data.historySeries.size())
              .arg(points));
    return 0;
}

int childShell(int days, bool cameraArea)
{
    QElapsedTimer timer;
    timer.start();
    qint64 cycles = 0;
    qint64 ng = 0;
    QStringList perDay;
    for (int d = 0; d < days; ++d) {
        const QDate day = kFirstDay.addDays(d);
        const QString from = day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00.000");
        const QString to = day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 23:59:59.999");
        const QString sql = cameraArea
            ? QStringLiteral("select count(*), coalesce(sum(ng), 0) from (select max(json_extract(roi_result, '$[2]') "
                             "= 0) as ng from res_report where roundstart between '%1' and '%2' and idx_camera = 1 "
                             "and json_array_length(roi_result) > 2 group by roundstart);")
                  .arg(from, to)
            : QStringLiteral("select count(*), coalesce(sum(ng), 0) from (select max(instr(roi_result, '0') > 0) as ng "
                             "from res_report where roundstart between '%1' and '%2' and roi_result <> '[]' group by "
                             "roundstart);")
                  .arg(from, to);
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), dayFile(day), sql});
        if (!shell.waitForFinished(600000) || shell.exitCode() != 0) {
            print(QStringLiteral("sqlite3 failed: ") + QString::fromUtf8(shell.readAllStandardError()));
            return 1;
        }
        const QStringList parts = QString::fromUtf8(shell.readAllStandardOutput()).trimmed().split(QLatin1Char('|'));
        cycles += parts.value(0).toLongLong();
        ng += parts.value(1).toLongLong();
        perDay << QStringLiteral("%1/%2").arg(parts.value(0), parts.value(1));
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    print(QStringLiteral("RESULT seconds=%1 hwm=%2 cycles=%3 ng=%4 perDay=%5")
              .arg(seconds, 0, 'f', 3)
              .arg(qMax<qint64>(usage.ru_maxrss, statusKb("VmHWM:")))
              .arg(cycles)
              .arg(ng)
              .arg(perDay.join(QLatin1Char(','))));
    return 0;
}

int childMap(int days, bool cameraArea)
{
    TemperatureChartData data;
    const ResultQuery q = rangeQuery(days, cameraArea);
    QElapsedTimer timer;
    timer.start();
    data.setQuery(q);
    data.statisticsSource = 1;
    data.historyResults = referenceHistoryResults(q, kNow.date());
    const int entries = data.historyResults.size();
    data.buildHistoryAxis();
    data.countCycles();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    print(QStringLiteral("RESULT seconds=%1 hwm=%2 cycles=%3 ng=%4 entries=%5")
              .arg(seconds, 0, 'f', 3)
              .arg(statusKb("VmHWM:"))
              .arg(data.cycleCount)
              .arg(data.ngCycleCount)
              .arg(entries));
    return 0;
}

int childToday()
{
    const QDate day = kFirstDay;
    setWallClock([day] { return QDateTime(day, QTime(12, 0)); });
    TemperatureChartData data;
    TodayRows rows = loadTodayRows(dayFile(day), QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(23, 59, 59, 999)));
    data.todayResults = std::move(rows.results);
    QStringList parts;
    for (bool cameraArea : {false, true}) {
        ResultQuery q = rangeQuery(1, cameraArea);
        data.setQuery(q);
        data.statisticsSource = 0;
        QElapsedTimer timer;
        timer.start();
        data.buildTodayAxis();
        data.countCycles();
        parts << QStringLiteral("ms%1=%2 cycles%1=%3 ng%1=%4")
                     .arg(cameraArea ? QStringLiteral("CameraArea") : QStringLiteral("All"))
                     .arg(double(timer.nsecsElapsed()) / 1e6, 0, 'f', 1)
                     .arg(data.cycleCount)
                     .arg(data.ngCycleCount);
    }
    print(QStringLiteral("RESULT entries=%1 %2").arg(data.todayResults.size()).arg(parts.join(QLatin1Char(' '))));
    return 0;
}

// --- parent ------------------------------------------------------------------

QMap<QString, QString> runChild(const QStringList& arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    QMap<QString, QString> values;
    if (!child.waitForFinished(3600000) || child.exitCode() != 0) {
        print(QStringLiteral("child %1 failed").arg(arguments.join(QLatin1Char(' '))));
        return values;
    }
    for (const QString& line : QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (!line.startsWith(QStringLiteral("RESULT "))) {
            continue;
        }
        for (const QString& pair : line.mid(7).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const int eq = pair.indexOf(QLatin1Char('='));
            values.insert(pair.left(eq), pair.mid(eq + 1));
        }
    }
    return values;
}

double num(const QMap<QString, QString>& v, const char* key)
{
    return v.value(QString::fromLatin1(key)).toDouble();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        print(QStringLiteral("usage: bench_queries <folder>"));
        return 2;
    }
    if (!QDir().mkpath(args.at(1) + QStringLiteral("/ResStatistics")) || !QDir::setCurrent(args.at(1))) {
        print(QStringLiteral("cannot work in ") + args.at(1));
        return 1;
    }
    setWallClock([] { return kNow; });

    if (args.size() >= 5 && args.at(2) == QStringLiteral("--child")) {
        const QString kind = args.at(3);
        const int days = args.at(4).toInt();
        const bool cameraArea = args.value(5) == QStringLiteral("camera1area2");
        if (kind == QStringLiteral("ours")) {
            return childOurs(days, cameraArea, false);
        }
        if (kind == QStringLiteral("temperature")) {
            return childOurs(days, cameraArea, true);
        }
        if (kind == QStringLiteral("shell")) {
            return childShell(days, cameraArea);
        }
        if (kind == QStringLiteral("map")) {
            return childMap(days, cameraArea);
        }
        if (kind == QStringLiteral("today")) {
            return childToday();
        }
        return 2;
    }

    print(QStringLiteral("working folder: ") + QDir::currentPath());
    QElapsedTimer making;
    making.start();
    int made = 0;
    for (int d = 0; d < kDays; ++d) {
        if (!QFileInfo::exists(dayFile(kFirstDay.addDays(d)))) {
            if (!makeDay(kFirstDay.addDays(d))) {
                return 1;
            }
            ++made;
        }
    }
    print(QStringLiteral("day files: %1 of %2 made now (%3 s), %4 rows and %5 MB each")
              .arg(made)
              .arg(kDays)
              .arg(double(making.nsecsElapsed()) / 1e9, 0, 'f', 1)
              .arg(kRowsPerDay)
              .arg(double(QFileInfo(dayFile(kFirstDay)).size()) / 1e6, 0, 'f', 1));

    // The map-based count's budget: half of what the machine has free, at most 3 GB.
    const qint64 availableKb = [] {
        QFile info(QStringLiteral("/proc/meminfo"));
        info.open(QIODevice::ReadOnly);
        for (const QByteArray& line : info.readAll().split('\n')) {
            if (line.startsWith("MemAvailable:")) {
                return line.mid(13).trimmed().split(' ').value(0).toLongLong();
            }
        }
        return qint64(4) << 20;
    }();
    const qint64 budgetKb = qMin<qint64>(availableKb / 2, qint64(3) << 20);
    qint64 mapKbPerDay = 0;
    bool agree = true;

    for (const bool cameraArea : {false, true}) {
        const QString filter = cameraArea ? QStringLiteral("camera1area2") : QStringLiteral("all");
        for (const int days : {1, kDays}) {
            const auto ours = runChild({args.at(1), QStringLiteral("--child"), QStringLiteral("ours"),
                                        QString::number(days), filter});
            const auto temperature = runChild({args.at(1), QStringLiteral("--child"), QStringLiteral("temperature"),
                                               QString::number(days), filter});
            const auto shell = runChild({args.at(1), QStringLiteral("--child"), QStringLiteral("shell"),
                                         QString::number(days), filter});
            int mapDays = days;
            if (days > 1 && mapKbPerDay > 0) {
                mapDays = int(qBound<qint64>(1, budgetKb / mapKbPerDay, days));
            }
            const auto map = runChild({args.at(1), QStringLiteral("--child"), QStringLiteral("map"),
                                       QString::number(mapDays), filter});
            if (days == 1 && !cameraArea) {
                mapKbPerDay = qint64(num(map, "hwm"));
            }
            // The shell's counts of the days the map covered.
            qint64 shellCycles = 0;
            qint64 shellNg = 0;
            const QStringList perDay = shell.value(QStringLiteral("perDay")).split(QLatin1Char(','));
            for (int d = 0; d < mapDays && d < perDay.size(); ++d) {
                shellCycles += perDay.at(d).section(QLatin1Char('/'), 0, 0).toLongLong();
                shellNg += perDay.at(d).section(QLatin1Char('/'), 1, 1).toLongLong();
            }
            const bool same = num(ours, "cycles") == num(shell, "cycles") && num(ours, "ng") == num(shell, "ng")
                && num(map, "cycles") == shellCycles && num(map, "ng") == shellNg && num(ours, "cycles") > 0;
            agree = agree && same;

            print(QStringLiteral("\n%1 day(s), filter %2:").arg(days).arg(filter));
            print(QStringLiteral("  ours (results)      %1 s  %2 MB peak  %3 cycles, %4 NG  GUI lateness max %5 ms, p99 "
                                 "%6 ms")
                      .arg(num(ours, "seconds"), 7, 'f', 2)
                      .arg(num(ours, "hwm") / 1024, 6, 'f', 0)
                      .arg(ours.value(QStringLiteral("cycles")), ours.value(QStringLiteral("ng")))
                      .arg(ours.value(QStringLiteral("lateMax")), ours.value(QStringLiteral("lateP99"))));
            print(QStringLiteral("  GUI lateness of the same event loop without a pass (the machine's own): max %1 "
                                 "ms, p99 %2 ms")
                      .arg(ours.value(QStringLiteral("idleMax")), ours.value(QStringLiteral("idleP99"))));
            print(QStringLiteral("  ours (temperatures) %1 s  %2 MB peak  %3 series, %4 points  GUI lateness max %5 "
                                 "ms, p99 %6 ms")
                      .arg(num(temperature, "seconds"), 7, 'f', 2)
                      .arg(num(temperature, "hwm") / 1024, 6, 'f', 0)
                      .arg(temperature.value(QStringLiteral("series")), temperature.value(QStringLiteral("points")))
                      .arg(temperature.value(QStringLiteral("lateMax")),
                           temperature.value(QStringLiteral("lateP99"))));
            print(QStringLiteral("  sqlite3 shell       %1 s  %2 MB peak  %3 cycles, %4 NG  (ours / shell: time %5)")
                      .arg(num(shell, "seconds"), 7, 'f', 2)
                      .arg(num(shell, "hwm") / 1024, 6, 'f', 0)
                      .arg(shell.value(QStringLiteral("cycles")), shell.value(QStringLiteral("ng")))
                      .arg(num(ours, "seconds") / num(shell, "seconds"), 0, 'f', 2));
            print(QStringLiteral("  map-based, %1 day(s) %2 s  %3 MB peak  %4 cycles, %5 NG, %6 entries  (per day: map "
                                 "/ ours time %7, memory %8)")
                      .arg(mapDays)
                      .arg(num(map, "seconds"), 7, 'f', 2)
                      .arg(num(map, "hwm") / 1024, 6, 'f', 0)
                      .arg(map.value(QStringLiteral("cycles")), map.value(QStringLiteral("ng")),
                           map.value(QStringLiteral("entries")))
                      .arg((num(map, "seconds") / mapDays) / (num(ours, "seconds") / days), 0, 'f', 2)
                      .arg(num(map, "hwm") / num(ours, "hwm"), 0, 'f', 2));
            print(QStringLiteral("  counts agree: %1").arg(same ? QStringLiteral("yes") : QStringLiteral("NO")));
        }
    }

    const auto today = runChild({args.at(1), QStringLiteral("--child"), QStringLiteral("today"), QStringLiteral("1")});
    print(QStringLiteral("\ntoday's count over a full day's maps (%1 entries), GUI thread: all %2 ms (%3 cycles, %4 "
                         "NG), camera 1 / area 2 %5 ms (%6 cycles, %7 NG)")
              .arg(today.value(QStringLiteral("entries")), today.value(QStringLiteral("msAll")),
                   today.value(QStringLiteral("cyclesAll")), today.value(QStringLiteral("ngAll")),
                   today.value(QStringLiteral("msCameraArea")), today.value(QStringLiteral("cyclesCameraArea")),
                   today.value(QStringLiteral("ngCameraArea"))));
    print(agree ? QStringLiteral("all counts agree") : QStringLiteral("COUNTS DIFFER"));
    return agree ? 0 : 1;
}
