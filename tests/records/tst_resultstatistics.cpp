#include "cameraregistry.h"
#include "systemparam.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "recordingsystemcommands.h"
#include "recordstesthelpers.h"
#include "resultstatistics.h"
#include "temperaturechartdata.h"
#include "sqlitetestutil.h"
#include "testworkdir.h"
#include "texttable.h"
#include "settle.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {

const QString kZeros = QStringLiteral("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");

// "1 0 0 ... " with the given counts in the given hours.
QString hours(const QMap<int, int>& counts)
{
    QString text;
    for (int h = 0; h < 24; ++h) {
        text += QString::number(counts.value(h, 0)) + QLatin1Char(' ');
    }
    return text;
}

QString row(const QString& name, const QString& value1 = kZeros, const QString& value2 = kZeros)
{
    return name + QLatin1Char('|') + value1 + QLatin1Char('|') + value2;
}

QStringList statisticsRows(const QString& file = QStringLiteral("ResStatistics.db"))
{
    return sqliteLines(QStringLiteral("select name, value1, value2 from resstatistics order by rowid"), file);
}

quint32 secondsOf(const QString& text)
{
    return quint32(at(text).toSecsSinceEpoch());
}

// A test's world: its folder, clock, system commands, operator and records service.
struct World {
    explicit World(const QString& now)
        : clock(at(now))
    {
        initTextTable();
        gpTemperatureChartData = &records;
        gCameraCount = 2;
        gDetectCount = 2;
    }
    ProcessState state;
    TestWorkDir dir;
    FixedClock clock;
    RecordingSystemCommands commands;
    PromptAnswerer operatorAnswers;
    TemperatureChartData records;
};


} // namespace

class TestResultStatistics : public QObject {
    Q_OBJECT

private slots:
    void freshFileHasEveryRowInUse();
    void countsAreSavedAndContinueAfterARestart();
    void shortOrSpoiledRows_data();
    void shortOrSpoiledRows();
    void dayStart_data();
    void dayStart();
    void midnightRotation();
    void gapOfSeveralDaysNamesEachArchive();
    void existingArchiveIsNeverOverwritten();
    void rotationWaitsForTheStartUpLoad();
    void busyFileLosesNoCount();
    void unusableFile_data();
    void unusableFile();
};

void TestResultStatistics::freshFileHasEveryRowInUse()
{
    World w(QStringLiteral("2026-12-08 10:00:00.000"));
    ResultStatistics stats;
    stats.checkDayChange();

    QCOMPARE(statisticsRows(), (QStringList{row("C0_D0"), row("C0_D1"), row("C0_D8"), row("C1_D0"), row("C1_D1"),
                                            row("C1_D8"), row("C8_D0"), row("C8_D1"), row("C8_D8")}));
    QCOMPARE(kZeros.size(), 48);
    QVERIFY(sqlite(QStringLiteral(".schema res_report")).startsWith("CREATE TABLE res_report(idx                INTEGER"));
    QCOMPARE(stats.dayStart, secondsOf("2026-12-08 08:00:00.000"));
    QCOMPARE(stats.dayName, QStringLiteral("2026-12-08"));
    QCOMPARE(w.dir.read("restime.txt"), QByteArray::number(stats.dayStart));
    QVERIFY(!QFileInfo::exists("ResStatistics/2026-12-08.db"));
    QVERIFY(w.operatorAnswers.warnings.isEmpty());
    QVERIFY(w.commands.operations.isEmpty());
    // All eight cameras and detects are kept, whatever is in use.
    const QList<int> zeros = QVector<int>(24, 0).toList();
    for (int c : {0, 1, 2, 7, 8}) {
        for (int d : {0, 3, 8}) {
            QCOMPARE(stats.counts(c, d).ok, zeros);
            QCOMPARE(stats.counts(c, d).ng, zeros);
        }
    }
}

void TestResultStatistics::countsAreSavedAndContinueAfterARestart()
{
    World w(QStringLiteral("2026-12-08 10:00:00.000"));
    {
        ResultStatistics stats;
        QVERIFY(stats.addResult(10, true, 0, 1));
        QVERIFY(stats.addResult(10, true, 0, 1));
        QVERIFY(stats.addResult(11, false, 1, 0));
        // Aggregates are counted only when asked for directly.
        QVERIFY(stats.addResult(23, true, 8, 8));
        QVERIFY(stats.addResult(0, false, 1, 8));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("out of range ignored"));
        QVERIFY(stats.addResult(24, true, 0, 0));
        // Saved together once the pass is over.
        QVERIFY(statisticsRows().contains(row("C0_D1")));
        QCoreApplication::processEvents();

        QCOMPARE(statisticsRows(),
                 (QStringList{row("C0_D0"), row("C0_D1", hours({{10, 2}})), row("C0_D8"), row("C1_D0", kZeros, hours({{11, 1}})),
                              row("C1_D1"), row("C1_D8", kZeros, hours({{0, 1}})), row("C8_D0"), row("C8_D1"),
                              row("C8_D8", hours({{23, 1}}))}));
    }
    ResultStatistics again;
    QCOMPARE(again.counts(0, 1).ok.at(10), 2);
    QCOMPARE(again.counts(8, 8).ok.at(23), 1);
    again.addResult(10, true, 0, 1);
    QCoreApplication::processEvents();
    QCOMPARE(sqlite("select value1 from resstatistics where name = 'C0_D1'").trimmed(), hours({{10, 3}}).trimmed());

    // A row deleted behind the program's back comes back with the counts.
    QVERIFY(!sqlite("delete from resstatistics where name = 'C0_D1'").startsWith("ERROR"));
    again.addResult(9, false, 0, 1);
    QCoreApplication::processEvents();
    QCOMPARE(sqlite("select value2 from resstatistics where name = 'C0_D1'").trimmed(), hours({{9, 1}}).trimmed());
}

void TestResultStatistics::shortOrSpoiledRows_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("loaded");

    QTest::newRow("fewer than 24") << "1 2 3" << hours({{0, 1}, {1, 2}, {2, 3}});
    QTest::newRow("more than 24") << hours({{0, 4}, {23, 9}}) + "77 88" << hours({{0, 4}, {23, 9}});
    QTest::newRow("a word that is no number") << "5 x 7" << hours({{0, 5}});
    QTest::newRow("empty") << "" << kZeros;
    QTest::newRow("other blanks") << "\t1\n 2  3" << hours({{0, 1}, {1, 2}, {2, 3}});
    QTest::newRow("negative kept") << "-4" << hours({{0, -4}});
}

void TestResultStatistics::shortOrSpoiledRows()
{
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    World w(QStringLiteral("2026-12-08 10:00:00.000"));
    { ResultStatistics first; }
    QVERIFY(!sqlite(QStringLiteral("update resstatistics set value1 = '%1' where name = 'C1_D0'").arg(stored))
                 .startsWith("ERROR"));
    ResultStatistics stats;
    QString text;
    for (int v : stats.counts(1, 0).ok) {
        text += QString::number(v) + QLatin1Char(' ');
    }
    QCOMPARE(text, loaded);
    stats.addResult(12, false, 0, 0);
    QCoreApplication::processEvents();
    QCOMPARE(sqlite("select value1 from resstatistics where name = 'C1_D0'").trimmed(), loaded.trimmed());
}

void TestResultStatistics::dayStart_data()
{
    QTest::addColumn<QByteArray>("restime"); // "-" for no file
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("dayStart");
    QTest::addColumn<QString>("archivedAs"); // by the check right after start-up; empty for none

    const QByteArray yesterday = QByteArray::number(secondsOf("2026-12-07 08:00:00.000"));
    QTest::newRow("no file, before 08:00") << QByteArray("-") << "2026-12-08 07:59:59.999"
                                           << "2026-12-07 08:00:00.000" << "2026-12-07";
    QTest::newRow("no file, at 08:00") << QByteArray("-") << "2026-12-08 08:00:00.000" << "2026-12-08 08:00:00.000"
                                       << "";
    QTest::newRow("empty file") << QByteArray("") << "2026-12-08 10:00:00.000" << "2026-12-08 08:00:00.000" << "";
    QTest::newRow("garbage") << QByteArray("12ab") << "2026-12-08 07:00:00.000" << "2026-12-07 08:00:00.000"
                             << "2026-12-07";
    QTest::newRow("beyond 32 bits") << QByteArray("4294967296") << "2026-12-08 10:00:00.000"
                                    << "2026-12-08 08:00:00.000" << "";
    QTest::newRow("yesterday") << yesterday << "2026-12-08 10:00:00.000" << "2026-12-07 08:00:00.000"
                               << "2026-12-07";
    QTest::newRow("yesterday, line break") << yesterday + "\n" << "2026-12-08 00:30:00.000"
                                           << "2026-12-07 08:00:00.000" << "2026-12-07";
    QTest::newRow("today's, read before 08:00") << QByteArray::number(secondsOf("2026-12-08 08:00:00.000"))
                                                << "2026-12-08 03:00:00.000" << "2026-12-08 08:00:00.000" << "";
    QTest::newRow("zero") << QByteArray("0") << "2026-12-08 10:00:00.000" << "1970-01-01 08:00:00.000"
                          << QDateTime::fromSecsSinceEpoch(0).date().toString("yyyy-MM-dd");
}

void TestResultStatistics::dayStart()
{
    QFETCH(QByteArray, restime);
    QFETCH(QString, now);
    QFETCH(QString, dayStart);
    QFETCH(QString, archivedAs);
    World w(now);
    if (restime != "-") {
        QVERIFY(w.dir.write("restime.txt", restime));
    }
    ResultStatistics stats;
    const bool zero = restime == "0";
    const quint32 expected = zero ? 0 : secondsOf(dayStart);
    QCOMPARE(stats.dayStart, expected);
    QCOMPARE(stats.dayName, QDateTime::fromSecsSinceEpoch(expected).date().toString("yyyy-MM-dd"));

    stats.checkDayChange();
    const QStringList archives = QDir("ResStatistics").entryList(QDir::Files);
    if (archivedAs.isEmpty()) {
        QVERIFY(archives.isEmpty());
        QCOMPARE(stats.dayStart, expected);
    } else {
        QCOMPARE(archives, QStringList{archivedAs + ".db"});
        QCOMPARE(stats.dayStart, secondsOf(now.left(10) + " 08:00:00.000"));
        QCOMPARE(stats.dayName, now.left(10));
    }
    QCOMPARE(w.dir.read("restime.txt"), QByteArray::number(stats.dayStart));
}

void TestResultStatistics::midnightRotation()
{
    World w(QStringLiteral("2026-12-07 10:00:00.000"));
    w.records.init();
    QTRY_VERIFY_WITH_TIMEOUT(w.records.todayLoaded, kSettleMs);
    ResultStatistics stats;
    stats.checkDayChange();

    const QDateTime round = at("2026-12-07 23:59:00.000");
    w.records.setDetectResult(makeResult(1, 1, round, round.addMSecs(20), 1, {{9, 55, 0, 0, 0}}, {1}));
    w.records.updateLiveData();
    w.records.insertDetectResult();
    w.clock.set(at("2026-12-07 23:59:00.100"));
    stats.addResult(23, true, 1, 1);

    // The first cycle of the new date.
    w.clock.set(at("2026-12-08 00:00:05.000"));
    w.commands.sleeps.clear();
    stats.checkDayChange();

    const QString archive = "ResStatistics/2026-12-07.db";
    QVERIFY(QFileInfo::exists(archive));
    QCOMPARE(sqlite("select idx_camera, roundstart from res_report", archive).trimmed(),
             QStringLiteral("1|2026-12-07 23:59:00.000"));
    QVERIFY(statisticsRows(archive).contains(row("C1_D1", hours({{23, 1}}))));
    // The new file: empty res_report, every row in use with zero counts.
    QCOMPARE(sqlite("select count(*) from res_report").trimmed(), QStringLiteral("0"));
    QVERIFY(sqlite(".schema res_report").startsWith("CREATE TABLE res_report(idx                INTEGER"));
    QCOMPARE(statisticsRows(), (QStringList{row("C0_D0"), row("C0_D1"), row("C0_D8"), row("C1_D0"), row("C1_D1"),
                                            row("C1_D8"), row("C8_D0"), row("C8_D1"), row("C8_D8")}));
    QCOMPARE(w.dir.read("restime.txt"), QByteArray::number(secondsOf("2026-12-08 08:00:00.000")));
    QCOMPARE(stats.dayName, QStringLiteral("2026-12-08"));
    QCOMPARE(w.commands.sleeps, (QList<int>{200, 10}));
    QVERIFY(w.records.todayResults.isEmpty());
    QVERIFY(w.records.todaySeries.isEmpty());

    // Counted after midnight: hour 0 of the new day, in the new file.
    w.clock.set(at("2026-12-08 00:01:00.000"));
    stats.addResult(0, false, 1, 1);
    QCoreApplication::processEvents();
    QCOMPARE(stats.counts(1, 1).ng.at(0), 1);
    QCOMPARE(stats.counts(1, 1).ok.at(23), 0);
    QVERIFY(statisticsRows().contains(row("C1_D1", kZeros, hours({{0, 1}}))));
    const QDateTime next = at("2026-12-08 00:01:00.000");
    w.records.setDetectResult(makeResult(0, 0, next, next, 1, {}, {}));
    w.records.insertDetectResult();
    QCoreApplication::processEvents();
    QCOMPARE(sqlite("select roundstart from res_report").trimmed(), QStringLiteral("2026-12-08 00:01:00.000"));

    // Later checks of the same date find nothing to do.
    w.clock.set(at("2026-12-08 23:59:59.999"));
    stats.checkDayChange();
    QCOMPARE(QDir("ResStatistics").entryList(QDir::Files), QStringList{"2026-12-07.db"});
}

void TestResultStatistics::gapOfSeveralDaysNamesEachArchive()
{
    World w(QStringLiteral("2026-12-01 10:00:00.000"));
    ResultStatistics stats;
    stats.addResult(10, true, 0, 0);

    // Three days without a cycle; the panel is used again on the 4th.
    w.clock.set(at("2026-12-04 10:00:00.000"));
    stats.addResult(10, true, 0, 0);
    w.clock.set(at("2026-12-05 00:00:05.000"));
    stats.checkDayChange();
    w.clock.set(at("2026-12-06 00:00:05.000"));
    stats.checkDayChange();

    QCOMPARE(QDir("ResStatistics").entryList(QDir::Files),
             (QStringList{"2026-12-01.db", "2026-12-04.db", "2026-12-05.db"}));
    QVERIFY(statisticsRows("ResStatistics/2026-12-01.db").contains(row("C0_D0", hours({{10, 1}}))));
    // Each day's file holds that day's counts.
    QVERIFY(statisticsRows("ResStatistics/2026-12-04.db").contains(row("C0_D0", hours({{10, 1}}))));
    QVERIFY(statisticsRows("ResStatistics/2026-12-05.db").contains(row("C0_D0")));
    QCOMPARE(stats.dayName, QStringLiteral("2026-12-06"));
}

void TestResultStatistics::existingArchiveIsNeverOverwritten()
{
    World w(QStringLiteral("2026-12-07 10:00:00.000"));
    QVERIFY(w.dir.write("ResStatistics/2026-12-07.db", "an earlier archive"));
    ResultStatistics stats;
    stats.addResult(10, true, 0, 0);

    w.clock.set(at("2026-12-08 00:00:05.000"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("fail rename.*2026-12-07.db.*exists"));
    stats.checkDayChange();
    QCOMPARE(w.dir.read("ResStatistics/2026-12-07.db"), QByteArray("an earlier archive"));
    // The file keeps collecting, counts and all, and goes under the next day's name.
    QVERIFY(statisticsRows().contains(row("C0_D0", hours({{10, 1}}))));
    stats.addResult(1, true, 0, 0);
    QCoreApplication::processEvents();
    QVERIFY(statisticsRows().contains(row("C0_D0", hours({{1, 1}, {10, 1}}))));
    QCOMPARE(stats.dayName, QStringLiteral("2026-12-08"));
    QCOMPARE(w.dir.read("restime.txt"), QByteArray::number(secondsOf("2026-12-08 08:00:00.000")));

    w.clock.set(at("2026-12-09 00:00:05.000"));
    stats.checkDayChange();
    QVERIFY(statisticsRows("ResStatistics/2026-12-08.db").contains(row("C0_D0", hours({{1, 1}, {10, 1}}))));
}

void TestResultStatistics::rotationWaitsForTheStartUpLoad()
{
    // Start-up just after midnight: the file still holds yesterday.
    World w(QStringLiteral("2026-12-08 00:00:05.000"));
    QVERIFY(w.dir.write("restime.txt", QByteArray::number(secondsOf("2026-12-07 08:00:00.000"))));
    {
        TemperatureChartData earlier;
        gpTemperatureChartData = &earlier;
        earlier.init();
        QTRY_VERIFY_WITH_TIMEOUT(earlier.todayLoaded, kSettleMs);
        for (int i = 0; i < 2000; ++i) {
            const QDateTime t = at("2026-12-08 00:00:00.000").addMSecs(i);
            earlier.setDetectResult(makeResult(0, 0, t, t, 1, {{9, i, 0, 0, 0}}, {1}));
            earlier.insertDetectResult();
        }
    }
    gpTemperatureChartData = &w.records;

    w.records.init();
    const QDateTime t = at("2026-12-08 00:00:05.000");
    w.records.setDetectResult(makeResult(5, 0, t, t, 1, {{9, -1, 0, 0, 0}}, {1}));
    w.records.updateLiveData();
    w.records.insertDetectResult();
    ResultStatistics stats;
    stats.checkDayChange();

    QVERIFY(w.records.todayLoaded);
    QVERIFY(w.records.pendingInserts.isEmpty());
    // Maps emptied after the load was merged, not before.
    QVERIFY(w.records.todayResults.isEmpty());
    QVERIFY(w.records.todaySeries.isEmpty());
    QCOMPARE(sqlite("select count(*), max(idx_camera) from res_report", "ResStatistics/2026-12-07.db").trimmed(),
             QStringLiteral("2001|5"));
    QCOMPARE(sqlite("select count(*) from res_report").trimmed(), QStringLiteral("0"));
}

void TestResultStatistics::busyFileLosesNoCount()
{
    World w(QStringLiteral("2026-12-08 10:00:00.000"));
    ResultStatistics stats;
    stats.addResult(10, true, 0, 0);
    QCoreApplication::processEvents();
    {
        SqliteFileHolder holder(QStringLiteral("ResStatistics.db"));
        QVERIFY(holder.held());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("hourly counts cannot be saved"));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(stats.addResult(10, true, 0, 0));
            QCoreApplication::processEvents();
        }
        QVERIFY(statisticsRows().contains(row("C0_D0", hours({{10, 1}}))));
        holder.release();
        // Saved by the retry, without a further result.
        QTRY_VERIFY_WITH_TIMEOUT(statisticsRows().contains(row("C0_D0", hours({{10, 4}}))), kSettleMs);
    }
}

void TestResultStatistics::unusableFile_data()
{
    QTest::addColumn<bool>("directory");
    QTest::newRow("not a database") << false;
    QTest::newRow("cannot be opened") << true;
}

void TestResultStatistics::unusableFile()
{
    QFETCH(bool, directory);
    World w(QStringLiteral("2026-12-08 10:00:00.000"));
    if (directory) {
        QVERIFY(QDir().mkdir("ResStatistics.db"));
    } else {
        QVERIFY(w.dir.write("ResStatistics.db", QByteArray(4096, 'x')));
    }
    const QString warning = gTextTable[4 * 544 + gLanguage];
    QCOMPARE(warning, QStringLiteral("结果统计文件错误，请还原\n参数组或联系供应商！"));

    {
        ResultStatistics stats;
        QCOMPARE(w.operatorAnswers.warnings, QStringList{warning});
        QCOMPARE(w.commands.performed(), QStringList{"reboot"});
        QVERIFY(QFileInfo::exists(kResStatisticsRebootMarker));
        // The panel goes on counting in memory.
        QVERIFY(stats.addResult(10, true, 0, 0));
        QCOMPARE(stats.counts(0, 0).ok.at(10), 1);
    }

    // Still broken after the restart: reported again, no second restart.
    w.operatorAnswers.warnings.clear();
    ResultStatistics stats;
    QCOMPARE(w.operatorAnswers.warnings, QStringList{warning});
    QCOMPARE(w.commands.performed(), QStringList{"reboot"});
    QVERIFY(stats.addResult(11, true, 0, 0));

    // Once the file is put right, the counts of meanwhile are not lost.
    if (directory) {
        QVERIFY(QDir().rmdir("ResStatistics.db"));
    } else {
        QVERIFY(QFile::remove("ResStatistics.db"));
    }
    QVERIFY(stats.addResult(12, true, 0, 0));
    QCoreApplication::processEvents();
    QVERIFY(statisticsRows().contains(row("C0_D0", hours({{11, 1}, {12, 1}}))));

    // A start with a sound file forgets the restart.
    ResultStatistics sound;
    QVERIFY(!QFileInfo::exists(kResStatisticsRebootMarker));
    QCOMPARE(w.commands.performed(), QStringList{"reboot"});
}

QTEST_GUILESS_MAIN(TestResultStatistics)
#include "tst_resultstatistics.moc"
