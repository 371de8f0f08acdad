#include "datathread.h"
#include "historyreference.h"
#include "platformhelpers.h"
#include "recordstesthelpers.h"
#include "resultrow.h"
#include "temperaturechartdata.h"
#include "testworkdir.h"
#include "settle.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(DayRow)

namespace {

const QDateTime kNow = at(QStringLiteral("2026-12-08 10:00:05.000"));

QString timeText(const QDate& day, int msecsOfDay)
{
    return formatResultTime(QDateTime(day, QTime(0, 0)).addMSecs(msecsOfDay));
}

QString listJson(const QList<int>& values)
{
    return roiResultToJson(values);
}

// The rows of one day of the fixture: 42 cycles of two detects on three
// cameras. Camera 0 has twelve listed areas and is re-checked after an NG,
// camera 1 has five with two temperature areas (1 and 3), camera 2 two.
QList<DayRow> fixtureDay(const QDate& day, bool lastSecond)
{
    QList<DayRow> rows;
    QList<int> cycleTimes{0};
    for (int k = 1; k < 40; ++k) {
        cycleTimes.append(k * 35 * 60000 + k * 1234);
    }
    if (lastSecond) {
        cycleTimes.append(((23 * 60 + 59) * 60 + 59) * 1000 + 400);
    }
    for (int k = 0; k < cycleTimes.size(); ++k) {
        const int round = cycleTimes.at(k);
        for (int d = 0; d < 2; ++d) {
            for (int c = 0; c < 3; ++c) {
                DayRow row;
                row.roundstart = timeText(day, round);
                row.detectstart = timeText(day, round + 500 + d * 2000 + c * 10);
                row.camera = c;
                row.detect = d;
                QList<QList<int>> detail;
                QList<int> verdicts;
                const int areas = c == 0 ? 12 : (c == 1 ? 5 : 2);
                for (int n = 0; n < areas; ++n) {
                    if (c == 1 && (n == 1 || n == 3)) {
                        detail.append({9, 40 + (k * 7 + n + d) % 30, 0, 100, 95});
                    } else {
                        detail.append({1, n, 0, 10, 0, 0});
                    }
                    bool ng = false;
                    if (c == 0) {
                        ng = (k + d) % 5 == 0 && n == (k + d) % 13;
                    } else if (c == 1) {
                        ng = k % 7 == 3 && n == 2 + d;
                    } else {
                        ng = (k + d) % 11 == 4 && n == 1;
                    }
                    verdicts.append(ng ? 0 : 1);
                }
                if (c == 2 && k % 9 == 8) {
                    // No listed area left in this detect.
                    detail.clear();
                    verdicts.clear();
                }
                row.detail = roiDetailToJson(detail);
                row.verdicts = listJson(verdicts);
                row.result = verdicts.contains(0) ? 0 : 1;
                rows.append(row);
                if (c == 0 && !row.result) {
                    // The re-check passes.
                    DayRow recheck = row;
                    recheck.detectstart = timeText(day, round + 500 + d * 2000 + 1500);
                    for (int& v : verdicts) {
                        v = 1;
                    }
                    recheck.verdicts = listJson(verdicts);
                    recheck.result = 1;
                    rows.append(recheck);
                }
            }
        }
    }
    return rows;
}

// 12-04: a file without res_report; 12-05: a day with a cycle in its last
// second; 12-06: no file; 12-07: a day with a bad row; 12-08: today.
void writeFixture()
{
    QVERIFY(writeDayRows(QStringLiteral("ResStatistics/2026-12-04.db"), {}, false));
    QVERIFY(writeDayRows(QStringLiteral("ResStatistics/2026-12-05.db"), fixtureDay(QDate(2026, 12, 5), true)));
    QList<DayRow> day7 = fixtureDay(QDate(2026, 12, 7), false);
    DayRow bad = day7.at(10);
    bad.detail = QStringLiteral("[[9,1");
    bad.verdicts = QStringLiteral("[0,");
    day7.insert(11, bad);
    QVERIFY(writeDayRows(QStringLiteral("ResStatistics/2026-12-07.db"), day7));
    QVERIFY(writeDayRows(QStringLiteral("ResStatistics.db"), fixtureDay(QDate(2026, 12, 8), false)));
}

ResultQuery makeQuery(int camera, int detect, int area, const QDateTime& from, const QDateTime& to)
{
    ResultQuery q;
    q.camera = camera;
    q.detect = detect;
    q.area = area;
    q.from = from;
    q.to = to;
    return q;
}

// Runs one history pass and waits for its end.
bool runPass(TemperatureChartData& data, TemperatureChartData::QueryParts parts)
{
    QSignalSpy finished(&data, &TemperatureChartData::queryFinished);
    if (!data.startQuery(parts)) {
        return false;
    }
    return finished.wait(30000) && !data.queryRunning();
}

} // namespace

class TestResultQueries : public QObject {
    Q_OBJECT

private slots:
    void historyAxis_data();
    void historyAxis();
    void todayAxisAndTodayCount();
    void todayCountsEqualTheMapCount();
    void counts_data();
    void counts();
    void streamedCountsEqualTheMapCount();
    void temperatureHistory();
    void thinningKeepsEnds_data();
    void thinningKeepsEnds();
    void passRules();
    void quitStopsARunningPass();
};

void TestResultQueries::historyAxis_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<double>("bucketSeconds");
    QTest::addColumn<QStringList>("starts");
    QTest::addColumn<QStringList>("ends");

    QTest::newRow("2 h 30 min: three hourly buckets, the last ends at to")
        << "2026-12-08 08:00:00.000" << "2026-12-08 10:30:00.000" << 3600.0
        << QStringList{"12-08 08:00:00", "12-08 09:00:00", "12-08 10:00:00"}
        << QStringList{"12-08 09:00:00", "12-08 10:00:00", "12-08 10:30:00"};
    QTest::newRow("20 min: one bucket from from to to")
        << "2026-12-08 08:10:00.000" << "2026-12-08 08:30:00.000" << 3600.0 << QStringList{"12-08 08:10:00"}
        << QStringList{"12-08 08:30:00"};
    QTest::newRow("reversed range: one bucket")
        << "2026-12-08 08:30:00.000" << "2026-12-08 08:10:00.000" << 3600.0 << QStringList{"12-08 08:30:00"}
        << QStringList{"12-08 08:10:00"};

    QStringList starts24;
    QStringList ends24;
    QStringList starts48;
    QStringList ends48;
    const QDateTime from = at(QStringLiteral("2026-12-07 06:00:00.000"));
    for (int k = 0; k < 24; ++k) {
        starts24 << from.addSecs(k * 3600).toString(QStringLiteral("MM-dd hh:mm:ss"));
        ends24 << from.addSecs((k + 1) * 3600).toString(QStringLiteral("MM-dd hh:mm:ss"));
        starts48 << from.addSecs(k * 7200).toString(QStringLiteral("MM-dd hh:mm:ss"));
        ends48 << from.addSecs((k + 1) * 7200).toString(QStringLiteral("MM-dd hh:mm:ss"));
    }
    QTest::newRow("24 h: 24 hourly buckets")
        << "2026-12-07 06:00:00.000" << "2026-12-08 06:00:00.000" << 3600.0 << starts24 << ends24;
    QTest::newRow("48 h: 24 buckets of 2 h")
        << "2026-12-07 06:00:00.000" << "2026-12-09 06:00:00.000" << 7200.0 << starts48 << ends48;
}

void TestResultQueries::historyAxis()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(double, bucketSeconds);
    QFETCH(QStringList, starts);
    QFETCH(QStringList, ends);

    TemperatureChartData data;
    data.setQuery(makeQuery(-1, -1, -1, at(from), at(to)));
    data.buildHistoryAxis();
    QCOMPARE(data.bucketSeconds, bucketSeconds);
    QCOMPARE(data.axisStart, at(from));
    QCOMPARE(data.axisEnd, at(to));
    QCOMPARE(data.axisLabels.size(), 2);
    QCOMPARE(data.axisLabels.at(0), starts);
    QCOMPARE(data.axisLabels.at(1), ends);
}

void TestResultQueries::todayAxisAndTodayCount()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    TemperatureChartData data;
    data.buildTodayAxis();
    QCOMPARE(data.axisLabels.at(0).size(), 24);
    QCOMPARE(data.axisLabels.at(0).first(), QStringLiteral("12-08 00:00:00"));
    QCOMPARE(data.axisLabels.at(1).last(), QStringLiteral("12-09 00:00:00"));
    QCOMPARE(data.bucketSeconds, 3600.0);

    // Today's map: keyed by roundstart; areas 1 and 11 of camera 0.
    auto enter = [&data](const QString& round, int camera, int area, int verdict) {
        const QDateTime r = at(round);
        data.todayResults.enter(r, camera, 0, area, verdict != 0, false);
    };
    enter("2026-12-08 00:00:00.000", 0, 1, 1);
    enter("2026-12-08 00:00:00.000", 0, 11, 0);
    enter("2026-12-08 09:30:00.000", 0, 1, 0);
    enter("2026-12-08 23:59:59.400", 1, 1, 1);
    data.statisticsSource = 0;
    data.setQuery(makeQuery(-1, -1, -1, at("2026-12-08 00:00:00.000"), at("2026-12-08 23:59:59.999")));
    data.countCycles();
    QCOMPARE(data.cycleCount, 3);
    QCOMPARE(data.ngCycleCount, 2);
    QCOMPARE(data.okCounts.size(), 24);
    QCOMPARE(data.ngCounts.at(0), 1);
    QCOMPARE(data.ngCounts.at(9), 1);
    QCOMPARE(data.okCounts.at(23), 1);
    QCOMPARE(data.hourlyCounts(), (QList<QList<int>>{data.okCounts, data.ngCounts}));

    // Area 1 is area 1, not 10 to 19; counting again starts from zero.
    ResultQuery q = data.query;
    q.area = 1;
    data.setQuery(q);
    data.countCycles();
    QCOMPARE(data.cycleCount, 3);
    QCOMPARE(data.ngCycleCount, 1);
    q.area = 11;
    q.camera = 0;
    data.setQuery(q);
    data.countCycles();
    QCOMPARE(data.cycleCount, 1);
    QCOMPARE(data.ngCycleCount, 1);
    QCOMPARE(data.ngRate, 100.0);
}

// Today's compact verdicts count as the map of one entry per area and cycle
// did (the history count's reference), through the live path: re-checks keep
// the first verdict, area 1 is not area 10, a cycle of yesterday is outside
// today's axis. Held within a small budget, the newest cycles still count
// exactly and the memory stays under it.
void TestResultQueries::todayCountsEqualTheMapCount()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    QRandomGenerator rng(20261208);
    struct Entry {
        QDateTime round;
        int camera;
        int detect;
        int area;
        int verdict;
    };
    QList<Entry> entries;
    QList<DetectResult> handed;
    const QDateTime midnight(kNow.date(), QTime(0, 0));
    QDateTime round = midnight.addSecs(-3 * 3600);
    for (int k = 0; k < 400; ++k) {
        round = round.addMSecs(60000 + rng.bounded(200000));
        for (int d = 0; d < 3; ++d) {
            for (int c = 0; c < 4; ++c) {
                DetectResult r;
                r.idx_camera = c;
                r.idx_detect = d;
                r.roundstart = round;
                r.detectstart = round.addMSecs(300 + d * 1000 + c);
                const int areas = c == 3 ? 0 : 1 + (c * 5 + d * 4 + k) % 12;
                for (int n = 0; n < areas; ++n) {
                    r.roi_detail.append({1, n, 0, 10, 0, 0});
                    r.roi_result.append(rng.bounded(40) == 0 ? 0 : 1);
                }
                handed.append(r);
                if (!r.roi_result.isEmpty() && rng.bounded(10) == 0) {
                    // A re-check with other verdicts: the first stay.
                    DetectResult again = r;
                    again.detectstart = r.detectstart.addSecs(2);
                    for (int& v : again.roi_result) {
                        v = 1 - v;
                    }
                    handed.append(again);
                }
            }
        }
    }
    ResultMap reference;
    for (const DetectResult& r : handed) {
        for (int n = 0; n < r.roi_result.size(); ++n) {
            const QString key = resultKey(formatResultTime(r.roundstart), r.idx_camera, r.idx_detect, n);
            if (!reference.contains(key)) {
                reference.insert(key, RoiResult{r.roi_result.at(n), r.detectstart, r.roundstart, r.idx_camera,
                                                r.idx_detect, n});
            }
        }
    }

    auto compare = [&](TemperatureChartData& data, const ResultMap& expected, int counted) {
        TemperatureChartData ref;
        ref.statisticsSource = 1;
        ref.historyResults = expected;
        data.statisticsSource = 0;
        data.buildTodayAxis();
        ref.buildTodayAxis();
        int combinations = 0;
        const QList<QDateTime> ends{kNow.addSecs(14 * 3600), midnight.addSecs(5 * 3600)};
        for (const QDateTime& to : ends) {
            for (int camera : {-1, 0, 2, 3}) {
                for (int detect : {-1, 1}) {
                    for (int area : {-1, 0, 1, 10, 11, 60}) {
                        const ResultQuery q = makeQuery(camera, detect, area, midnight, to);
                        data.setQuery(q);
                        ref.setQuery(q);
                        data.countCycles();
                        ref.countCycles();
                        const QByteArray what = QStringLiteral("camera %1 detect %2 area %3 to %4")
                                                    .arg(camera)
                                                    .arg(detect)
                                                    .arg(area)
                                                    .arg(formatResultTime(to))
                                                    .toUtf8();
                        QVERIFY2(data.cycleCount == ref.cycleCount, what.constData());
                        QVERIFY2(data.ngCycleCount == ref.ngCycleCount, what.constData());
                        QVERIFY2(data.okCounts == ref.okCounts, what.constData());
                        QVERIFY2(data.ngCounts == ref.ngCounts, what.constData());
                        combinations += ref.cycleCount > 0 ? 1 : 0;
                    }
                }
            }
        }
        QVERIFY2(combinations >= counted, qPrintable(QString::number(combinations)));
    };

    TemperatureChartData data;
    for (const DetectResult& r : handed) {
        data.setDetectResult(r);
        data.updateLiveData();
    }
    QCOMPARE(data.todayResults.size(), reference.size());
    QCOMPARE(data.todayResults.droppedCycles(), qint64(0));
    compare(data, reference, 40);
    if (QTest::currentTestFailed()) {
        return;
    }

    // A budget of about a quarter of the day: the oldest cycles go first.
    TemperatureChartData small;
    small.todayResults.budgetBytes = data.todayResults.memoryBytes() / 4;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("today's results: more cycles than"));
    for (const DetectResult& r : handed) {
        small.setDetectResult(r);
        small.updateLiveData();
    }
    QVERIFY(small.todayResults.memoryBytes() <= small.todayResults.budgetBytes);
    QVERIFY(small.todayResults.droppedCycles() > 0);
    QCOMPARE(small.todayResults.cycles() + small.todayResults.droppedCycles(), qint64(400));
    QDateTime firstKept;
    {
        QList<QDateTime> rounds;
        for (const DetectResult& r : handed) {
            if (rounds.isEmpty() || rounds.last() != r.roundstart) {
                rounds.append(r.roundstart);
            }
        }
        firstKept = rounds.at(rounds.size() - small.todayResults.cycles());
    }
    ResultMap kept;
    for (auto it = reference.cbegin(); it != reference.cend(); ++it) {
        if (it.value().roundstart >= firstKept) {
            kept.insert(it.key(), it.value());
        }
    }
    compare(small, kept, 10);
}

void TestResultQueries::counts_data()
{
    QTest::addColumn<QList<DayRow>>("rows");
    QTest::addColumn<int>("area");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("cycles");
    QTest::addColumn<int>("ngCycles");
    QTest::addColumn<QList<int>>("ngBuckets");

    const QDate day(2026, 12, 6);
    auto cycle = [day](int msecs, const QList<QList<int>>& perCamera) {
        QList<DayRow> rows;
        for (int c = 0; c < perCamera.size(); ++c) {
            DayRow r;
            r.roundstart = timeText(day, msecs);
            r.detectstart = timeText(day, msecs + 300 + c);
            r.camera = c;
            r.verdicts = listJson(perCamera.at(c));
            rows.append(r);
        }
        return rows;
    };
    const QString dayEnd = QStringLiteral("2026-12-06 23:59:59.999");
    const int tenOClock = 10 * 3600000;
    QList<int> twelve;
    for (int n = 0; n < 12; ++n) {
        twelve.append(n == 11 ? 0 : 1);
    }

    QTest::newRow("5 OK and 1 NG, NG last: one NG cycle")
        << cycle(tenOClock, {{1}, {1}, {1}, {1}, {1}, {0}}) << -1 << dayEnd << 1 << 1 << QList<int>{10};
    QTest::newRow("5 OK and 1 NG, NG first: one NG cycle")
        << cycle(tenOClock, {{0}, {1}, {1}, {1}, {1}, {1}}) << -1 << dayEnd << 1 << 1 << QList<int>{10};
    QTest::newRow("6 OK: one OK cycle") << cycle(tenOClock, {{1}, {1}, {1}, {1}, {1}, {1}}) << -1 << dayEnd << 1
                                        << 0 << QList<int>{};
    QTest::newRow("area 1 of 12 does not count area 11")
        << cycle(tenOClock, {twelve}) << 1 << dayEnd << 1 << 0 << QList<int>{};
    QTest::newRow("area 11 of 12") << cycle(tenOClock, {twelve}) << 11 << dayEnd << 1 << 1 << QList<int>{10};
    QTest::newRow("area 12 of 12: no such entry") << cycle(tenOClock, {twelve}) << 12 << dayEnd << 0 << 0
                                                  << QList<int>{};
    QTest::newRow("a cycle at 23:59:59.400 is counted")
        << cycle(((23 * 60 + 59) * 60 + 59) * 1000 + 400, {{0}}) << -1 << dayEnd << 1 << 1 << QList<int>{23};
    QTest::newRow("a cycle at the lower bound is counted") << cycle(0, {{0}}) << -1 << dayEnd << 1 << 1
                                                           << QList<int>{0};
    QTest::newRow("a cycle a millisecond after the upper bound is not")
        << cycle(tenOClock + 1, {{0}}) << -1 << QStringLiteral("2026-12-06 10:00:00.000") << 0 << 0
        << QList<int>{};
    QTest::newRow("no cycle") << QList<DayRow>{} << -1 << dayEnd << 0 << 0 << QList<int>{};
}

void TestResultQueries::counts()
{
    QFETCH(QList<DayRow>, rows);
    QFETCH(int, area);
    QFETCH(QString, to);
    QFETCH(int, cycles);
    QFETCH(int, ngCycles);
    QFETCH(QList<int>, ngBuckets);

    TestWorkDir dir;
    FixedClock clock(kNow);
    QVERIFY(writeDayRows(QStringLiteral("ResStatistics/2026-12-06.db"), rows));
    TemperatureChartData data;
    data.statisticsSource = 1;
    data.setQuery(makeQuery(-1, -1, area, at("2026-12-06 00:00:00.000"), at(to)));
    QVERIFY(runPass(data, TemperatureChartData::ResultPart));

    QCOMPARE(data.cycleCount, cycles);
    QCOMPARE(data.ngCycleCount, ngCycles);
    const int buckets = data.okCounts.size();
    QCOMPARE(data.ngCounts.size(), buckets);
    QCOMPARE(data.axisLabels.at(0).size(), buckets);
    int ok = 0;
    for (int f = 0; f < buckets; ++f) {
        QCOMPARE(data.ngCounts.at(f), ngBuckets.count(f));
        ok += data.okCounts.at(f);
    }
    QCOMPARE(ok, cycles - ngCycles);
    if (cycles == 0) {
        QVERIFY(std::isnan(data.ngRate));
    } else {
        QCOMPARE(data.ngRate, ngCycles * 100.0 / cycles);
    }
    QVERIFY(data.historyResults.isEmpty());
    QCOMPARE(data.databasePath, QStringLiteral("ResStatistics/2026-12-06.db"));
}

void TestResultQueries::streamedCountsEqualTheMapCount()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    writeFixture();

    const QList<QPair<QDateTime, QDateTime>> ranges{
        {at("2026-12-04 00:00:00.000"), at("2026-12-08 23:59:59.999")},
        {at("2026-12-07 06:30:00.000"), at("2026-12-08 09:15:00.000")},
    };
    TemperatureChartData reference;
    reference.statisticsSource = 1;
    int combinations = 0;
    for (const auto& range : ranges) {
        for (int camera : {-1, 0, 1}) {
            for (int detect : {-1, 1}) {
                for (int area : {-1, 1, 2, 11}) {
                    const ResultQuery q = makeQuery(camera, detect, area, range.first, range.second);
                    reference.setQuery(q);
                    reference.historyResults = referenceHistoryResults(q, kNow.date());
                    reference.buildHistoryAxis();
                    reference.countCycles();

                    HistoryReader reader(QStringLiteral("streamed"), q, {});
                    reader.sliceRows = 50; // several slices per day
                    const CycleCounts streamed = reader.readResults(historyDays(q.from, q.to, kNow.date()),
                                                                    ::historyAxis(q.from, q.to),
                                                                    cycleBucketCount(q.from, q.to));
                    const QByteArray what = QStringLiteral("camera %1 detect %2 area %3 from %4")
                                                .arg(camera)
                                                .arg(detect)
                                                .arg(area)
                                                .arg(formatResultTime(q.from))
                                                .toUtf8();
                    QVERIFY2(streamed.cycles == reference.cycleCount, what.constData());
                    QVERIFY2(streamed.ngCycles == reference.ngCycleCount, what.constData());
                    QVERIFY2(streamed.ok == reference.okCounts, what.constData());
                    QVERIFY2(streamed.ng == reference.ngCounts, what.constData());
                    ++combinations;
                }
            }
        }
    }
    QCOMPARE(combinations, 2 * 3 * 2 * 4);

    // The whole range once more through a pass: the missing day and the file
    // without a table are skipped, the bad row left out, today's file read.
    TemperatureChartData data;
    data.statisticsSource = 1;
    data.setQuery(makeQuery(-1, -1, -1, ranges.at(0).first, ranges.at(0).second));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("result history: 1 unreadable rows left out"));
    QVERIFY(runPass(data, TemperatureChartData::ResultPart));
    // 40 + 41 + 40 cycles; every one with an NG entry of some camera is NG.
    QCOMPARE(data.cycleCount, 121);
    reference.setQuery(data.query);
    reference.historyResults = referenceHistoryResults(data.query, kNow.date());
    reference.buildHistoryAxis();
    reference.countCycles();
    QCOMPARE(data.ngCycleCount, reference.ngCycleCount);
    QVERIFY(data.ngCycleCount > 20 && data.ngCycleCount < 100);
    QCOMPARE(data.okCounts, reference.okCounts);
    QCOMPARE(data.axisLabels, reference.axisLabels);
    QCOMPARE(data.databasePath, QStringLiteral("./ResStatistics.db"));
}

void TestResultQueries::temperatureHistory()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    writeFixture();
    TemperatureChartData data;
    data.seriesMode = 2;
    data.statisticsSource = 1;
    data.cycleCount = 77;
    data.setQuery(makeQuery(-1, -1, -1, at("2026-12-04 00:00:00.000"), at("2026-12-08 23:59:59.999")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("temperature history: 1 unreadable rows left out"));
    QVERIFY(runPass(data, TemperatureChartData::TemperaturePart));

    // Camera 1's areas 1 and 3 on both detects; one point per row.
    const SeriesMap series = data.temperatureSeries();
    QCOMPARE(series.keys(), (QStringList{"C:1_D:0_F:1", "C:1_D:0_F:3", "C:1_D:1_F:1", "C:1_D:1_F:3"}));
    const SeriesPoints points = series.value("C:1_D:1_F:3");
    QCOMPARE(points.size(), 41 + 40 + 40);
    // The first point of the 5th, at detect 1 of camera 1.
    QCOMPARE(points.first(), QPointF(seriesSeconds(at("2026-12-05 00:00:02.510")), 40 + (0 + 3 + 1) % 30));
    for (int i = 1; i < points.size(); ++i) {
        QVERIFY(points.at(i).x() > points.at(i - 1).x());
    }
    // Only the temperatures were read: the counts stand.
    QCOMPARE(data.cycleCount, 77);
    QVERIFY(data.historyResults.isEmpty());

    // The area filter reads only that area.
    ResultQuery q = data.query;
    q.area = 1;
    q.detect = 0;
    data.setQuery(q);
    QVERIFY(runPass(data, TemperatureChartData::TemperaturePart));
    QCOMPARE(data.historySeries.keys(), QStringList{"C:1_D:0_F:1"});
    data.seriesMode = 0;
    QVERIFY(data.temperatureSeries().isEmpty());

    // A month of points is thinned, the peaks stay.
    data.historySeriesLimit = 20;
    q.area = -1;
    q.detect = -1;
    data.setQuery(q);
    QVERIFY(runPass(data, TemperatureChartData::TemperaturePart));
    for (const QString& key : data.historySeries.keys()) {
        const SeriesPoints thin = data.historySeries.value(key);
        QVERIFY(thin.size() <= 20);
        QCOMPARE(thin.first(), series.value(key).first());
        QCOMPARE(thin.last(), series.value(key).last());
        double low = 1e9;
        double high = -1e9;
        for (const QPointF& p : series.value(key)) {
            low = qMin(low, p.y());
            high = qMax(high, p.y());
        }
        double thinLow = 1e9;
        double thinHigh = -1e9;
        for (const QPointF& p : thin) {
            thinLow = qMin(thinLow, p.y());
            thinHigh = qMax(thinHigh, p.y());
        }
        QCOMPARE(thinLow, low);
        QCOMPARE(thinHigh, high);
    }
}

void TestResultQueries::thinningKeepsEnds_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("limit");
    QTest::newRow("at the limit: every point") << 10 << 10;
    QTest::newRow("one past the limit") << 11 << 10;
    QTest::newRow("far past the limit") << 5000 << 10;
    QTest::newRow("plot limit") << 100000 << 20000;
}

void TestResultQueries::thinningKeepsEnds()
{
    QFETCH(int, count);
    QFETCH(int, limit);
    // x from 0 to 1000 s, y a zigzag with a spike at a known place.
    const double from = 0;
    const double to = 1000;
    SeriesPoints all;
    for (int i = 0; i < count; ++i) {
        const double x = to * i / count;
        double y = (i * 37) % 101;
        if (i == count / 3) {
            y = 500;
        }
        all.append(QPointF(x, y));
    }
    SeriesThinner thinner(from, to, limit);
    for (const QPointF& p : all) {
        thinner.add(p);
    }
    const SeriesPoints thin = thinner.take();
    if (count <= limit) {
        QCOMPARE(thin, all);
        return;
    }
    QVERIFY(thin.size() <= limit);
    QCOMPARE(thin.first(), all.first());
    QCOMPARE(thin.last(), all.last());
    // Each slice's lowest and highest point are there, in time order.
    const int slices = (limit - 2) / 2;
    const double width = (to - from) / slices;
    for (int s = 0; s < slices; ++s) {
        QPointF low(0, 1e9);
        QPointF high(0, -1e9);
        bool any = false;
        for (const QPointF& p : all) {
            if (int(std::floor((p.x() - from) / width)) == s) {
                any = true;
                if (p.y() < low.y()) {
                    low = p;
                }
                if (p.y() > high.y()) {
                    high = p;
                }
            }
        }
        if (any) {
            QVERIFY2(thin.contains(low), qPrintable(QString::number(s)));
            QVERIFY2(thin.contains(high), qPrintable(QString::number(s)));
        }
    }
    for (int i = 1; i < thin.size(); ++i) {
        QVERIFY(thin.at(i).x() > thin.at(i - 1).x());
    }
    QVERIFY(thin.contains(QPointF(to * (count / 3) / count, 500)));
}

namespace {

// A today's file large enough that a pass over it takes a while: 8 cameras,
// one cycle a second from midnight, a temperature area and an OK/NG area.
bool writeLargeToday(int rows)
{
    const QString sql = QString::fromLatin1(kCreateResReportSql) + QStringLiteral(
        ";WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
        "INSERT INTO res_report (roundstart, detectstart, idx_camera, idx_detect, roi_detail, roi_result, result, "
        "description) SELECT strftime('%Y-%m-%d %H:%M:%f', '2026-12-08 00:00:00', '+' || (i / 8) || ' seconds'), "
        "strftime('%Y-%m-%d %H:%M:%f', '2026-12-08 00:00:00.5', '+' || (i / 8) || ' seconds'), i % 8, 0, "
        "'[[9,' || (i % 50) || ',0,100,95],[1,1,0,10,0,0]]', CASE WHEN i % 97 = 0 THEN '[1,0]' ELSE '[1,1]' END, 1, "
        "'' FROM n;").arg(rows - 1);
    return !sqlite(sql).startsWith(QStringLiteral("ERROR"));
}

struct Records {
    Records() { gpTemperatureChartData = &data; }
    TemperatureChartData data;
    void handOver(const DetectResult& r)
    {
        data.setDetectResult(r);
        data.updateLiveData();
        data.insertDetectResult();
    }
};

} // namespace

void TestResultQueries::passRules()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    constexpr int kRows = 12000;
    QVERIFY(writeLargeToday(kRows));
    Records rec;
    rec.data.init();
    QVERIFY(QTest::qWaitFor([&rec] { return rec.data.todayLoaded; }, 30000));
    rec.data.clearTodayResults();
    rec.data.clearTodaySeries();
    rec.data.historySliceRows = 40;

    rec.data.seriesMode = 2;
    rec.data.statisticsSource = 1;
    const ResultQuery q = makeQuery(-1, -1, -1, at("2026-12-08 00:00:00.000"), at("2026-12-08 23:59:59.999"));
    rec.data.setQuery(q);
    QStringList order;
    connect(rec.data.queryThread, &dataThread::readTempFinished, this, [&] {
        order << QStringLiteral("temp");
        QCOMPARE(rec.data.historySeries.size(), 8);
    });
    connect(rec.data.queryThread, &dataThread::readResFinished, this, [&] {
        order << QStringLiteral("res");
        // The rows that were there when the result part began.
        QVERIFY(rec.data.cycleCount >= kRows / 8);
    });
    connect(&rec.data, &TemperatureChartData::queryFinished, this, [&] { order << QStringLiteral("end"); });
    QSignalSpy finished(&rec.data, &TemperatureChartData::queryFinished);
    QElapsedTimer passTime;
    passTime.start();
    QVERIFY(rec.data.startQuery(TemperatureChartData::TemperaturePart | TemperatureChartData::ResultPart));
    QVERIFY(rec.data.queryRunning());

    // A second query while the first runs changes nothing.
    ResultQuery other = q;
    other.camera = 3;
    rec.data.setQuery(other);
    rec.data.historySeries.insert(QStringLiteral("kept"), {});
    const SeriesMap seriesBefore = rec.data.historySeries;
    QVERIFY(!rec.data.startQuery(TemperatureChartData::ResultPart));
    QCOMPARE(rec.data.historySeries, seriesBefore);
    QCOMPARE(rec.data.query.camera, 3);
    rec.data.setQuery(q);

    // Meanwhile the cycle goes on: results are written and counted today. At
    // least eight of them, however fast the pass runs beside this thread.
    int handedOver = 0;
    const QDateTime round = at("2026-12-08 10:00:00.000");
    while (handedOver < 48 && (handedOver < 8 || rec.data.queryRunning())) {
        const QDateTime t = round.addSecs(handedOver);
        QElapsedTimer one;
        one.start();
        rec.handOver(makeResult(handedOver % 8, 0, t, t, handedOver % 10 ? 1 : 0, {{9, 30, 0, 0, 0}, {}},
                                {handedOver % 10 ? 1 : 0, 1}));
        ++handedOver;
        if (handedOver % 8 == 0) {
            TemperatureChartData& d = rec.data;
            const int statisticsSource = d.statisticsSource;
            d.statisticsSource = 0;
            d.buildTodayAxis();
            d.countCycles();
            QCOMPARE(d.cycleCount, handedOver);
            QCOMPARE(d.ngCycleCount, (handedOver + 9) / 10);
            QCOMPARE(d.okCounts.at(10) + d.ngCounts.at(10), handedOver);
            d.statisticsSource = statisticsSource;
        }
        QTest::qWait(2);
    }
    qInfo() << handedOver << "results handed over during a pass";
    QVERIFY(finished.wait(30000));
    qInfo() << "pass over" << kRows << "rows, both parts:" << passTime.elapsed() << "ms";
    QCOMPARE(order, (QStringList{"temp", "res", "end"}));
    QVERIFY(!rec.data.queryRunning());
    QVERIFY(!rec.data.historySeries.contains(QStringLiteral("kept")));
    QVERIFY(rec.data.historySeries.value(seriesKey(3, 0, 0)).size() >= kRows / 8);
    QCOMPARE(rec.data.axisLabels.at(0).size(), 24);
    QTRY_VERIFY_WITH_TIMEOUT(rec.data.pendingInserts.isEmpty(), kSettleMs);
    QCOMPARE(sqlite(QStringLiteral("select count(*) from res_report")).trimmed(),
             QString::number(kRows + handedOver));

    // The next pass may start now; it counts the results written meanwhile.
    order.clear();
    passTime.restart();
    QVERIFY(runPass(rec.data, TemperatureChartData::ResultPart));
    qInfo() << "pass over" << kRows << "rows, results only:" << passTime.elapsed() << "ms";
    QCOMPARE(order, (QStringList{"res", "end"}));
    QCOMPARE(rec.data.cycleCount, kRows / 8 + handedOver);
}

void TestResultQueries::quitStopsARunningPass()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    QVERIFY(writeLargeToday(12000));
    TemperatureChartData data;
    data.init();
    QVERIFY(QTest::qWaitFor([&data] { return data.todayLoaded; }, 30000));
    data.setQuery(makeQuery(-1, -1, -1, at("2026-12-08 00:00:00.000"), at("2026-12-08 23:59:59.999")));
    data.historySliceRows = 20;
    QVERIFY(data.startQuery(TemperatureChartData::TemperaturePart | TemperatureChartData::ResultPart));
    QTest::qWait(20);
    QVERIFY(data.queryThread->isRunning());
    QElapsedTimer timer;
    timer.start();
    runQuitHooks();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(data.queryThread->isFinished());
    // Whatever it had read is not installed.
    QCoreApplication::processEvents();
    QVERIFY(data.historySeries.isEmpty());
    QVERIFY(!data.queryRunning());
}

QTEST_GUILESS_MAIN(TestResultQueries)
#include "tst_resultqueries.moc"
