#include "recordstesthelpers.h"
#include "resultrow.h"
#include "resultstatistics.h"
#include "processstate.h"
#include "temperaturechartdata.h"
#include "sqlitetestutil.h"
#include "testworkdir.h"
#include "settle.h"

#include <QSqlDatabase>
#include <QtEndian>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <limits>

namespace {

const QString kSchema = QStringLiteral(
    "CREATE TABLE res_report(idx                INTEGER PRIMARY KEY,roundstart         VARCHAR(32) NOT NULL,"
    "detectstart        VARCHAR(32) NOT NULL,idx_camera         INT NOT NULL,idx_detect         INT NOT NULL,"
    "roi_detail         TEXT NOT NULL,roi_result         TEXT NOT NULL,result             tinyint NOT NULL,"
    "description        TEXT)");

// The service under test is the process-wide one while it lives, with a
// live plot taking the new points unless a test says otherwise.
struct Records {
    Records() { gpTemperatureChartData = &data; data.keepNewPoints = true; }
    ProcessState state;
    TemperatureChartData data;

    // One camera's result in a pass of its own: the pass ends, as in the
    // cycle, with control back in the event loop.
    void handOver(const DetectResult& r)
    {
        handOverInPass(r);
        QCoreApplication::processEvents();
    }
    void handOverInPass(const DetectResult& r)
    {
        data.setDetectResult(r);
        data.updateLiveData();
        data.insertDetectResult();
    }
    bool startAndWait()
    {
        data.init();
        return QTest::qWaitFor([this] { return data.todayLoaded; }, kSettleMs);
    }
};


const QDateTime kRound = at(QStringLiteral("2026-12-08 10:00:00.000"));

// SQLite's file change counter (header bytes 24 to 27, big-endian): one step
// per committed write transaction in the default journal mode.
quint32 commitsOf(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray header = f.read(28);
    if (header.size() < 28) {
        return 0;
    }
    return qFromBigEndian<quint32>(header.constData() + 24);
}

} // namespace

class TestTemperatureChartData : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void rowsAsWritten();
    void oneDetectIsOneCommit();
    void mapsOfTheLiveResults();
    void resultsBeforeTheLoadAreWrittenInOrderAndMarked();
    void restartReloadsToday();
    void busyDatabaseLosesNoRow();
    void refusedRowIsDroppedWithALogLine();
    void missingTableIsMadeAgain();
    void unopenableDatabaseKeepsRowsUntilWritable();
    void waitingRowsAreBounded();
    void regularRecordingInterval();
    void loadAndLiveHandOverNeverRace();
};

void TestTemperatureChartData::initTestCase()
{
    QVERIFY(!sqlite(QStringLiteral("select 1"), QStringLiteral(":memory:")).startsWith(QStringLiteral("ERROR")));
}

void TestTemperatureChartData::rowsAsWritten()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    Records rec;
    QVERIFY(rec.startAndWait());
    QCOMPARE(sqlite(QStringLiteral(".schema res_report")).trimmed(), kSchema + QLatin1Char(';'));
    QCOMPARE(rec.data.databasePath, QStringLiteral("ResStatistics.db"));

    rec.handOver(makeResult(0, 1, kRound, at(QStringLiteral("2026-12-08 10:00:01.250")), 0,
                            {{1, 120, 80, 500, 3, 0}, {9, 65, 80, 120, 90}, {}}, {1, 1, 0}));
    rec.handOver(makeResult(1, 1, kRound, at(QStringLiteral("2026-12-08 10:00:01.300")), 1, {{0, 5, 0, 150, 2}}, {1}));
    rec.data.onRegularTimer();
    rec.handOver(makeResult(0, 0, at(QStringLiteral("2026-12-08 10:00:30.000")),
                            at(QStringLiteral("2026-12-08 10:00:31.007")), 1, {{9, -3, -20, 40, 95}}, {1}));

    QCOMPARE(sqliteLines(QStringLiteral("select *, typeof(description) from res_report order by idx")),
             (QStringList{
                 "1|2026-12-08 10:00:00.000|2026-12-08 10:00:01.250|0|1|[[1,120,80,500,3,0],[9,65,80,120,90],[]]|"
                 "[1,1,0]|0|Regular recording|text",
                 "2|2026-12-08 10:00:00.000|2026-12-08 10:00:01.300|1|1|[[0,5,0,150,2]]|[1]|1||text",
                 "3|2026-12-08 10:00:30.000|2026-12-08 10:00:31.007|0|0|[[9,-3,-20,40,95]]|[1]|1|"
                 "Regular recording|text",
             }));
    QVERIFY(!rec.data.regularRecordingDue);
    QVERIFY(rec.data.pendingInserts.isEmpty());
    QCOMPARE(rec.data.detectResult.description, QString());
}

void TestTemperatureChartData::oneDetectIsOneCommit()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    Records rec;
    QVERIFY(rec.startAndWait());
    rec.handOver(makeResult(0, 0, kRound, kRound, 1, {}, {}));
    QVERIFY(!rec.data.regularRecordingDue);

    // Eight cameras of one detect in one pass, then a marked detect of two.
    const quint32 before = commitsOf(QStringLiteral("ResStatistics.db"));
    QVERIFY(before > 0);
    QStringList expected;
    for (int c = 0; c < 8; ++c) {
        const int ok = c == 3 ? 0 : 1;
        rec.handOverInPass(makeResult(c, 1, kRound, kRound.addMSecs(100 + c), ok, {{1, c, 0, 10, 0, 0}}, {ok}));
        expected << QStringLiteral("%1|1|[[1,%1,0,10,0,0]]|[%2]|%2|").arg(c).arg(ok);
    }
    QCOMPARE(rec.data.pendingInserts.size(), 8);
    QCOMPARE(sqlite(QStringLiteral("select count(*) from res_report")).trimmed(), QStringLiteral("1"));
    QCoreApplication::processEvents();
    QVERIFY(rec.data.pendingInserts.isEmpty());
    QCOMPARE(commitsOf(QStringLiteral("ResStatistics.db")), before + 1);

    // Every result built while the mark is due carries it; the written
    // queue clears it.
    rec.data.onRegularTimer();
    rec.handOverInPass(makeResult(0, 2, kRound, kRound.addMSecs(200), 1, {}, {}));
    rec.handOverInPass(makeResult(1, 2, kRound, kRound.addMSecs(201), 1, {}, {}));
    QCoreApplication::processEvents();
    rec.handOver(makeResult(0, 3, kRound, kRound.addMSecs(300), 1, {}, {}));
    expected << QStringLiteral("0|2|[]|[]|1|Regular recording") << QStringLiteral("1|2|[]|[]|1|Regular recording")
             << QStringLiteral("0|3|[]|[]|1|");
    QCOMPARE(commitsOf(QStringLiteral("ResStatistics.db")), before + 3);
    QCOMPARE(sqliteLines(QStringLiteral("select idx_camera, idx_detect, roi_detail, roi_result, result, description "
                                        "from res_report where idx > 1 order by idx")),
             expected);
}

void TestTemperatureChartData::mapsOfTheLiveResults()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    Records rec;
    QVERIFY(rec.startAndWait());

    // Twelve listed areas: two temperature areas (0 and 11), a black area (5).
    QList<QList<int>> detail;
    QList<int> verdicts;
    for (int n = 0; n < 12; ++n) {
        if (n == 0 || n == 11) {
            detail.append({9, 60 + n, 0, 100, 95});
        } else if (n == 5) {
            detail.append(QList<int>{});
        } else {
            detail.append({1, n, 0, 10, 0, 0});
        }
        verdicts.append(n == 5 ? 0 : 1);
    }
    const QDateTime first = at(QStringLiteral("2026-12-08 10:00:01.000"));
    rec.handOver(makeResult(2, 1, kRound, first, 0, detail, verdicts));

    QCOMPARE(rec.data.todayResults.size(), 12);
    for (int n = 0; n < 12; ++n) {
        QCOMPARE(rec.data.todayResults.verdict(kRound, 2, 1, n), n == 5 ? 0 : 1);
    }
    // Held under its camera, detect and cycle only.
    QCOMPARE(rec.data.todayResults.verdict(kRound, 1, 2, 0), -1);
    QCOMPARE(rec.data.todayResults.verdict(kRound.addMSecs(1), 2, 1, 0), -1);
    QCOMPARE(rec.data.todayResults.verdict(kRound, 2, 1, 12), -1);
    QCOMPARE(rec.data.todaySeries.keys(), (QStringList{"C:2_D:1_F:0", "C:2_D:1_F:11"}));
    QCOMPARE(rec.data.todaySeries.value("C:2_D:1_F:11"), (SeriesPoints{{seriesSeconds(first), 71}}));
    QCOMPARE(rec.data.newPoints, rec.data.todaySeries);
    QCOMPARE(sqlite(QStringLiteral("select roi_detail from res_report")).count(QStringLiteral("[]")), 1);

    // A re-check of the same cycle: a second row, but today's map keeps the first verdict.
    verdicts[5] = 1;
    const QDateTime recheck = at(QStringLiteral("2026-12-08 10:00:03.000"));
    rec.handOver(makeResult(2, 1, kRound, recheck, 1, detail, verdicts));
    QCOMPARE(sqlite(QStringLiteral("select count(*) from res_report")).trimmed(), QStringLiteral("2"));
    QCOMPARE(rec.data.todayResults.size(), 12);
    QCOMPARE(rec.data.todayResults.verdict(kRound, 2, 1, 5), 0);
    QCOMPARE(rec.data.todaySeries.value("C:2_D:1_F:0").size(), 2);

    // Lists of different length: only areas present in both count.
    rec.handOver(makeResult(3, 0, kRound, recheck, 1, {{9, 50, 0, 0, 0}, {9, 51, 0, 0, 0}}, {1}));
    QVERIFY(rec.data.todaySeries.contains("C:3_D:0_F:0"));
    QVERIFY(!rec.data.todaySeries.contains("C:3_D:0_F:1"));

    rec.data.clearNewPoints();
    QVERIFY(rec.data.newPoints.isEmpty());
    QVERIFY(!rec.data.todaySeries.isEmpty());
    // With no live plot refreshing nobody would take them: none are kept.
    rec.data.keepNewPoints = false;
    rec.handOver(makeResult(2, 1, kRound.addSecs(10), recheck.addSecs(10), 1, detail, verdicts));
    QVERIFY(rec.data.newPoints.isEmpty());
    QCOMPARE(rec.data.todaySeries.value("C:2_D:1_F:0").size(), 3);
    rec.data.clearTodayResults();
    rec.data.clearTodaySeries();
    QVERIFY(rec.data.todayResults.isEmpty());
    QVERIFY(rec.data.todaySeries.isEmpty());
}

void TestTemperatureChartData::resultsBeforeTheLoadAreWrittenInOrderAndMarked()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    // Earlier in the day, a previous run wrote one row.
    {
        Records earlier;
        QVERIFY(earlier.startAndWait());
        earlier.handOver(makeResult(0, 0, at(QStringLiteral("2026-12-08 07:00:00.000")),
                                    at(QStringLiteral("2026-12-08 07:00:01.000")), 1, {{9, 40, 0, 0, 0}}, {1}));
    }

    Records rec;
    // Not loaded yet: results enter the maps and wait.
    for (int i = 0; i < 3; ++i) {
        const QDateTime t = kRound.addSecs(i);
        rec.handOver(makeResult(i, 0, kRound, t, 1, {{9, 50 + i, 0, 0, 0}}, {1}));
    }
    QCOMPARE(rec.data.pendingInserts.size(), 3);
    QCOMPARE(sqlite(QStringLiteral("select count(*) from res_report")).trimmed(), QStringLiteral("1"));
    QVERIFY(!rec.data.todayLoaded);

    QVERIFY(rec.startAndWait());
    QVERIFY(rec.data.pendingInserts.isEmpty());
    QCOMPARE(sqliteLines(QStringLiteral("select idx, idx_camera, description from res_report order by idx")),
             (QStringList{"1|0|Regular recording", "2|0|Regular recording", "3|1|Regular recording",
                          "4|2|Regular recording"}));
    QVERIFY(!rec.data.regularRecordingDue);

    // The loaded point comes before the live one; both cycles are in today's map.
    const SeriesPoints series = rec.data.todaySeries.value("C:0_D:0_F:0");
    QCOMPARE(series.size(), 2);
    QCOMPARE(series.at(0).y(), 40.0);
    QCOMPARE(series.at(1).y(), 50.0);
    QCOMPARE(rec.data.todayResults.verdict(at(QStringLiteral("2026-12-08 07:00:00.000")), 0, 0, 0), 1);
    QCOMPARE(rec.data.todayResults.verdict(kRound, 2, 0, 0), 1);
    // Only live points are new to the plot.
    QCOMPARE(rec.data.newPoints.value("C:0_D:0_F:0").size(), 1);

    rec.handOver(makeResult(3, 0, kRound, kRound.addSecs(5), 1, {}, {}));
    QCOMPARE(sqlite(QStringLiteral("select description from res_report where idx = 5")).trimmed(), QString());
}

void TestTemperatureChartData::restartReloadsToday()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    SeriesMap seriesBefore;
    {
        Records first;
        QVERIFY(first.startAndWait());
        // Yesterday's row (in the file until the archive), today's cycle with
        // a re-check, and a row in the day's last second.
        first.handOver(makeResult(0, 0, at(QStringLiteral("2026-12-07 23:00:00.000")),
                                  at(QStringLiteral("2026-12-07 23:00:01.000")), 1, {{9, 10, 0, 0, 0}}, {1}));
        first.handOver(makeResult(1, 1, kRound, kRound.addMSecs(500), 0, {{9, 70, 0, 0, 0}, {}}, {1, 0}));
        first.handOver(makeResult(1, 1, kRound, kRound.addMSecs(900), 1, {{9, 71, 0, 0, 0}, {}}, {1, 1}));
        first.handOver(makeResult(2, 0, at(QStringLiteral("2026-12-08 23:59:59.500")),
                                  at(QStringLiteral("2026-12-08 23:59:59.700")), 1, {{9, 99, 0, 0, 0}}, {1}));
        seriesBefore = first.data.todaySeries;
        QCOMPARE(first.data.todayResults.verdict(kRound, 1, 1, 1), 0);
    }
    QCOMPARE(sqlite(QStringLiteral("select count(*) from res_report")).trimmed(), QStringLiteral("4"));
    // A row another program spoiled is left out.
    QVERIFY(!sqlite(QStringLiteral("insert into res_report (roundstart, detectstart, idx_camera, idx_detect, "
                                   "roi_detail, roi_result, result, description) values ('2026-12-08 09:00:00.000',"
                                   " '2026-12-08 09:00:00.000', 0, 0, '[[9,1', '[1]', 1, '')"))
                 .startsWith("ERROR"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("1 unreadable rows left out"));
    Records second;
    QVERIFY(second.startAndWait());
    // After the restart the re-check's later verdict stands.
    QCOMPARE(second.data.todayResults.verdict(kRound, 1, 1, 1), 1);
    // The day's last second is read back too.
    QCOMPARE(second.data.todayResults.size(), 3);
    QCOMPARE(second.data.todayResults.verdict(at(QStringLiteral("2026-12-08 23:59:59.500")), 2, 0, 0), 1);
    QCOMPARE(second.data.todaySeries.keys(), (QStringList{"C:1_D:1_F:0", "C:2_D:0_F:0"}));
    QCOMPARE(second.data.todaySeries.value("C:1_D:1_F:0"), seriesBefore.value("C:1_D:1_F:0"));
    QVERIFY(second.data.newPoints.isEmpty());
}

void TestTemperatureChartData::busyDatabaseLosesNoRow()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    Records rec;
    QVERIFY(rec.startAndWait());

    SqliteFileHolder holder(QStringLiteral("ResStatistics.db"));
    QVERIFY(holder.held());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("result rows cannot be written yet"));
    for (int i = 0; i < 3; ++i) {
        rec.handOver(makeResult(i, 0, kRound, kRound.addMSecs(i), 1, {{1, i, 0, 0, 0, 0}}, {1}));
    }
    QCOMPARE(rec.data.pendingInserts.size(), 3);
    QCOMPARE(sqlite(QStringLiteral("select count(*) from res_report")).trimmed(), QStringLiteral("0"));
    QVERIFY(rec.data.regularRecordingDue);

    // Released while the machine stands still: the retry writes them all.
    holder.release();
    QTRY_COMPARE_WITH_TIMEOUT(rec.data.pendingInserts.size(), 0, kSettleMs);
    rec.handOver(makeResult(3, 0, kRound, kRound.addMSecs(3), 1, {}, {}));
    QCOMPARE(sqliteLines(QStringLiteral("select idx_camera, detectstart, description from res_report order by idx")),
             (QStringList{"0|2026-12-08 10:00:00.000|Regular recording", "1|2026-12-08 10:00:00.001|Regular recording",
                          "2|2026-12-08 10:00:00.002|Regular recording", "3|2026-12-08 10:00:00.003|"}));
}

void TestTemperatureChartData::refusedRowIsDroppedWithALogLine()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    // A file whose table refuses camera numbers above 7.
    QVERIFY(!sqlite(QStringLiteral("CREATE TABLE res_report(idx INTEGER PRIMARY KEY, roundstart VARCHAR(32) NOT NULL,"
                                   " detectstart VARCHAR(32) NOT NULL, idx_camera INT NOT NULL CHECK (idx_camera < 8),"
                                   " idx_detect INT NOT NULL, roi_detail TEXT NOT NULL, roi_result TEXT NOT NULL,"
                                   " result tinyint NOT NULL, description TEXT)"))
                 .startsWith("ERROR"));
    Records rec;
    rec.handOver(makeResult(0, 0, kRound, kRound, 1, {}, {}));
    rec.handOver(makeResult(9, 0, kRound, kRound, 1, {}, {}));
    rec.handOver(makeResult(1, 0, kRound, kRound, 1, {}, {}));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("refused by the database and dropped.*camera 9"));
    QVERIFY(rec.startAndWait());
    QVERIFY(rec.data.pendingInserts.isEmpty());
    QCOMPARE(sqliteLines(QStringLiteral("select idx_camera from res_report order by idx")), (QStringList{"0", "1"}));
}

void TestTemperatureChartData::missingTableIsMadeAgain()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    Records rec;
    QVERIFY(rec.startAndWait());
    QVERIFY(!sqlite(QStringLiteral("DROP TABLE res_report")).startsWith("ERROR"));
    rec.handOver(makeResult(4, 1, kRound, kRound, 1, {{9, 1, 2, 3, 4}}, {1}));
    QCOMPARE(sqlite(QStringLiteral("select idx_camera, roi_detail from res_report")).trimmed(),
             QStringLiteral("4|[[9,1,2,3,4]]"));
    QCOMPARE(sqlite(QStringLiteral(".schema res_report")).trimmed(), kSchema + QLatin1Char(';'));
}

void TestTemperatureChartData::unopenableDatabaseKeepsRowsUntilWritable()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    QVERIFY(QDir().mkdir(QStringLiteral("ResStatistics.db")));
    Records rec;
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("cannot be opened or prepared"));
    QVERIFY(rec.startAndWait());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("result rows cannot be written yet"));
    rec.handOver(makeResult(0, 0, kRound, kRound, 1, {}, {}));
    rec.handOver(makeResult(1, 0, kRound, kRound, 0, {}, {}));
    QCOMPARE(rec.data.pendingInserts.size(), 2);

    QVERIFY(QDir().rmdir(QStringLiteral("ResStatistics.db")));
    QTRY_COMPARE_WITH_TIMEOUT(rec.data.pendingInserts.size(), 0, kSettleMs);
    QCOMPARE(sqliteLines(QStringLiteral("select idx_camera, result from res_report order by idx")),
             (QStringList{"0|1", "1|0"}));
}

void TestTemperatureChartData::waitingRowsAreBounded()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    Records rec;
    rec.data.maxPendingInserts = 3;
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("oldest row dropped.*1 in all.*camera 0 "));
    for (int i = 0; i < 5; ++i) {
        rec.handOver(makeResult(i, 0, kRound, kRound, 1, {}, {}));
    }
    QCOMPARE(rec.data.pendingInserts.size(), 3);
    QVERIFY(rec.startAndWait());
    QCOMPARE(sqliteLines(QStringLiteral("select idx_camera from res_report order by idx")),
             (QStringList{"2", "3", "4"}));
}

void TestTemperatureChartData::regularRecordingInterval()
{
    TemperatureChartData data;
    QVERIFY(data.regularRecordingDue);
    QCOMPARE(data.regularRecordingMinutes, 30);
    QVERIFY(!data.regularTimer.isActive());

    data.setRegularRecordingInterval(30);
    QVERIFY(data.regularTimer.isActive());
    QCOMPARE(data.regularTimer.interval(), 30 * 60000);
    QVERIFY(!data.regularTimer.isSingleShot());

    for (int minutes : {0, -5}) {
        data.setRegularRecordingInterval(minutes);
        QVERIFY(!data.regularTimer.isActive());
        QCOMPARE(data.regularRecordingMinutes, minutes);
    }
    data.setRegularRecordingInterval(40000); // beyond what a timer can hold
    QVERIFY(data.regularTimer.isActive());
    QCOMPARE(data.regularTimer.interval(), std::numeric_limits<int>::max());

    data.regularRecordingDue = false;
    data.setRegularRecordingInterval(1);
    data.regularTimer.setInterval(10);
    QTRY_VERIFY_WITH_TIMEOUT(data.regularRecordingDue, kSettleMs);
}

void TestTemperatureChartData::loadAndLiveHandOverNeverRace()
{
    TestWorkDir dir;
    FixedClock clock(at(QStringLiteral("2026-12-08 10:00:05.000")));
    QVERIFY(createResStatisticsDb());
    constexpr int kRows = 40000;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("filler"));
        db.setDatabaseName(QStringLiteral("ResStatistics.db"));
        QVERIFY(db.open());
        QVERIFY(db.transaction());
        QSqlQuery q(db);
        QVERIFY(q.prepare(QStringLiteral("insert into res_report (roundstart, detectstart, idx_camera, idx_detect, "
                                         "roi_detail, roi_result, result, description) values (?,?,?,?,?,?,?,'')")));
        for (int i = 0; i < kRows; ++i) {
            const QString t = formatResultTime(at(QStringLiteral("2026-12-08 00:00:00.000")).addMSecs(i * 100));
            q.bindValue(0, t);
            q.bindValue(1, t);
            q.bindValue(2, i % 8);
            q.bindValue(3, 0);
            q.bindValue(4, QStringLiteral("[[9,%1,0,0,0],[]]").arg(i));
            q.bindValue(5, QStringLiteral("[1,0]"));
            q.bindValue(6, 0);
            QVERIFY(q.exec());
        }
        QVERIFY(db.commit());
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("filler"));

    // Hand over results on this thread for as long as the load runs on the pool.
    Records rec;
    rec.data.init();
    int live = 0;
    auto handOverNext = [&rec, &live] {
        const QDateTime t = kRound.addMSecs(live);
        // Live temperatures are below zero, loaded ones zero and above.
        rec.handOver(makeResult(live % 8, 0, t, t, 1, {{9, -(live + 1), 0, 0, 0}, {}}, {1, 1}));
        ++live;
    };
    while (!rec.data.todayLoaded) {
        if (live < 20000) {
            handOverNext();
        }
        QCoreApplication::processEvents();
        QThread::usleep(50);
    }
    const int duringLoad = live;
    for (int i = 0; i < 10; ++i) {
        handOverNext();
    }
    qInfo() << live << "results handed over, of them during the load:" << duringLoad;
    QVERIFY(duringLoad > 0);

    QCOMPARE(rec.data.todayResults.size(), 2 * (kRows + live));
    int points = 0;
    for (int c = 0; c < 8; ++c) {
        const SeriesPoints series = rec.data.todaySeries.value(seriesKey(c, 0, 0));
        points += series.size();
        // The loaded points, in file order, then the live ones, in hand-over order.
        int k = 0;
        while (k < series.size() && series.at(k).y() >= 0) {
            QVERIFY(k == 0 || series.at(k).y() > series.at(k - 1).y());
            ++k;
        }
        QCOMPARE(k, kRows / 8);
        for (int i = k; i < series.size(); ++i) {
            QVERIFY(series.at(i).y() < 0);
            QVERIFY(i == k || series.at(i).y() < series.at(i - 1).y());
        }
    }
    QCOMPARE(points, kRows + live);
    QCOMPARE(sqlite(QStringLiteral("select count(*) from res_report")).trimmed(), QString::number(kRows + live));
    // The live rows follow the loaded ones, in hand-over order.
    const QStringList liveRows = sqliteLines(
        QStringLiteral("select roi_detail from res_report where idx > %1 order by idx").arg(kRows));
    QCOMPARE(liveRows.size(), live);
    for (int i = 0; i < live; ++i) {
        QCOMPARE(liveRows.at(i), QStringLiteral("[[9,%1,0,0,0],[]]").arg(-(i + 1)));
    }
}

QTEST_GUILESS_MAIN(TestTemperatureChartData)
#include "tst_temperaturechartdata.moc"
