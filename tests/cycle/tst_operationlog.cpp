// The operation log: RECORD.db with its first row, the rows as stored, the
// daily archive into "./RECORD" and "time.txt", driven by the test clock.
#include "databaselocker.h"
#include "operationlog.h"
#include "recordingsystemcommands.h"
#include "sqlitetestutil.h"
#include "testclock.h"
#include "testworkdir.h"
#include "texttable.h"
#include "settle.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {

using Rows = QList<QStringList>;

const QStringList kFirstRow = {"00.00.00", "auto", "自动条目,生成新的数据库"};

Rows rowsOf(const QString& path)
{
    return sqliteRows(path, "SELECT recordtime, recordpassword, remarks FROM RECORD ORDER BY rowid");
}

QStringList columnsOf(const QString& path)
{
    QStringList columns;
    for (const QStringList& row : sqliteRows(path, "PRAGMA table_info(RECORD)")) {
        columns.append(row.at(1) + " " + row.at(2));
    }
    return columns;
}

// The program's clock, moved by hand.
const QDateTime kStart(QDate(2024, 3, 9), QTime(9, 5, 3));

} // namespace

class TestOperationLog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initTextTable(); }
    void cleanup() { gLanguage = 0; }

    void newFileHoldsExactlyTheFirstRow();
    void rowHoldsTimeLevelAndRemark_data();
    void rowHoldsTimeLevelAndRemark();
    void remarkIsStoredVerbatim();
    void batchIsItsRowsOneByOne();
    void clearEmptiesTodayAndKeepsArchives();
    void midnightArchivesWithinTheTimer();
    void eventJustAfterMidnightGoesToItsOwnDay();
    void programOffOverMidnightArchivesAtStart();
    void archiveOfTheDayAlreadyPresentIsAddedTo();
    void failedArchiveKeepsDayAndRetries();
    void timeFileMissingOrDamaged_data();
    void timeFileMissingOrDamaged();
    void vanishedFileIsMadeAgain();
    void unopenableFileKeepsTheRow();
    void heldFileKeepsRowsInOrder_data();
    void heldFileKeepsRowsInOrder();
    void heldFileIsNotArchivedUntilFree();
};

void TestOperationLog::newFileHoldsExactlyTheFirstRow()
{
    TestWorkDir dir;
    QVERIFY(OperationLog::createRecordDB());
    QCOMPARE(rowsOf("RECORD.db"), Rows{kFirstRow});
    QCOMPARE(columnsOf("RECORD.db"),
             (QStringList{"recordtime VARCHAR(255)", "recordpassword VARCHAR(255)", "remarks VARCHAR(1024)"}));
}

void TestOperationLog::rowHoldsTimeLevelAndRemark_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("levelText");
    QTest::newRow("operator, Chinese") << 1 << 0 << "初级用户";
    QTest::newRow("operator, English") << 1 << 1 << "Primary";
    QTest::newRow("administrator") << 2 << 0 << "高级用户";
    QTest::newRow("nobody") << 0 << 0 << "未登录";
    QTest::newRow("unknown level") << 7 << 1 << "Unlogged";
}

void TestOperationLog::rowHoldsTimeLevelAndRemark()
{
    QFETCH(int, level);
    QFETCH(int, language);
    QFETCH(QString, levelText);
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    gLanguage = language;
    OperationLog log;
    log.start();
    QVERIFY(log.insertRecord("程序启动，相机数2", level));
    QCOMPARE(rowsOf("RECORD.db"), (Rows{kFirstRow, {"09.05.03", levelText, "程序启动，相机数2"}}));
}

void TestOperationLog::remarkIsStoredVerbatim()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    OperationLog log;
    log.start();
    const QStringList remarks = {"x'); DELETE FROM RECORD;--", "it's \"quoted\"", "", QString(2000, QChar(0x6F22))};
    for (const QString& r : remarks) {
        QVERIFY(log.insertRecord(r, 0));
    }
    const Rows rows = rowsOf("RECORD.db");
    QCOMPARE(rows.size(), 1 + remarks.size());
    for (int i = 0; i < remarks.size(); ++i) {
        QCOMPARE(rows.at(i + 1).at(2), remarks.at(i));
    }
}

// A batch stores what inserting its rows one by one would, in that order,
// also when the file is held and the rows wait for the retry.
void TestOperationLog::batchIsItsRowsOneByOne()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    OperationLog log;
    log.start();
    QVERIFY(log.insertRecords({}, 1));
    QVERIFY(log.insertRecord("before", 1));
    QVERIFY(log.insertRecords({"one", "it's two", ""}, 2));
    QCOMPARE(rowsOf("RECORD.db"), (Rows{kFirstRow,
                                        {"09.05.03", "初级用户", "before"},
                                        {"09.05.03", "高级用户", "one"},
                                        {"09.05.03", "高级用户", "it's two"},
                                        {"09.05.03", "高级用户", ""}}));

    const Rows before = rowsOf("RECORD.db");
    DatabaseLocker locker;
    QVERIFY(locker.lock("RECORD.db", -1));
    log.setRetryIntervalMs(50);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be written"));
    clock.advanceMs(1000);
    QVERIFY(!log.insertRecords({"held 1", "held 2"}, 1));
    QCOMPARE(log.pendingRowCount(), 2);
    QVERIFY(locker.release());
    QTRY_COMPARE_WITH_TIMEOUT(log.pendingRowCount(), 0, kSettleMs);
    const Rows held{{"09.05.04", "初级用户", "held 1"}, {"09.05.04", "初级用户", "held 2"}};
    QCOMPARE(rowsOf("RECORD.db"), before + held);
}

void TestOperationLog::clearEmptiesTodayAndKeepsArchives()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    OperationLog log;
    log.start();
    log.insertRecord("day one", 1);
    clock.set(clock.now().addDays(1));
    QVERIFY(log.checkDate());
    log.insertRecord("day two", 1);
    QVERIFY(log.clearRecord());
    QCOMPARE(rowsOf("RECORD.db"), Rows{});
    QCOMPARE(rowsOf(OperationLog::archivePath("2024-03-09")).size(), 2);
    // The table is still there for the next event.
    QVERIFY(log.insertRecord("after clearing", 2));
    QCOMPARE(rowsOf("RECORD.db").size(), 1);
}

void TestOperationLog::midnightArchivesWithinTheTimer()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    clock.set(QDateTime(QDate(2024, 3, 9), QTime(23, 59, 30)));
    OperationLog log;
    log.start();
    log.insertRecord("late shift", 1);
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-09"));

    clock.set(QDateTime(QDate(2024, 3, 10), QTime(0, 0, 29)));
    QVERIFY(log.checkDate());  // what the 60 s timer runs
    QCOMPARE(rowsOf(dir.filePath("RECORD/2024-03-09.db")),
             (Rows{kFirstRow, {"23.59.30", "初级用户", "late shift"}}));
    QCOMPARE(rowsOf("RECORD.db"), Rows{kFirstRow});
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-10"));
    QCOMPARE(log.recordDate(), QString("2024-03-10"));
    QCOMPARE(sys.sleeps, QList<int>{300});
    // A second check the same day changes nothing.
    QVERIFY(log.checkDate());
    QCOMPARE(QDir(dir.filePath("RECORD")).entryList(QDir::Files), QStringList{"2024-03-09.db"});
}

void TestOperationLog::eventJustAfterMidnightGoesToItsOwnDay()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    clock.set(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59)));
    OperationLog log;
    log.start();
    // The timer has not run yet when the alarm comes in.
    clock.set(QDateTime(QDate(2025, 1, 1), QTime(0, 0, 12)));
    QVERIFY(log.insertRecord("1号相机 报警", 1));
    QCOMPARE(rowsOf(dir.filePath("RECORD/2024-12-31.db")), Rows{kFirstRow});
    QCOMPARE(rowsOf("RECORD.db"), (Rows{kFirstRow, {"00.00.12", "初级用户", "1号相机 报警"}}));
    QCOMPARE(dir.read("time.txt"), QByteArray("2025-01-01"));
}

void TestOperationLog::programOffOverMidnightArchivesAtStart()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    {
        OperationLog log;
        log.start();
        log.insertRecord("before the weekend", 0);
    }
    clock.set(clock.now().addDays(3));
    OperationLog log;
    log.start();
    QCOMPARE(rowsOf(dir.filePath("RECORD/2024-03-09.db")).size(), 2);
    QCOMPARE(rowsOf("RECORD.db"), Rows{kFirstRow});
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-12"));
}

void TestOperationLog::archiveOfTheDayAlreadyPresentIsAddedTo()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    // An archive of the day exists (the clock was set back, say).
    QVERIFY(QDir().mkpath("RECORD"));
    QVERIFY(OperationLog::createRecordDB("RECORD/2024-03-09.db"));
    {
        OperationLog earlier("earlier");
        earlier.start();
    }
    QVERIFY(QFile::rename("RECORD.db", "RECORD/2024-03-09.db.tmp"));
    QVERIFY(QFile::remove("RECORD/2024-03-09.db"));
    QVERIFY(QFile::rename("RECORD/2024-03-09.db.tmp", "RECORD/2024-03-09.db"));
    const Rows archived = rowsOf("RECORD/2024-03-09.db");

    OperationLog log;
    log.start();
    log.insertRecord("second run", 2);
    clock.set(clock.now().addDays(1));
    QVERIFY(log.checkDate());

    QCOMPARE(rowsOf("RECORD/2024-03-09.db"), (archived + Rows{kFirstRow, {"09.05.03", "高级用户", "second run"}}));
    QCOMPARE(rowsOf("RECORD.db"), Rows{kFirstRow});
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-10"));
}

void TestOperationLog::failedArchiveKeepsDayAndRetries()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    OperationLog log;
    log.start();
    // "./RECORD" is taken by a file: no archive can be made.
    QVERIFY(QDir("RECORD").removeRecursively());
    QVERIFY(dir.write("RECORD", "not a folder"));
    log.insertRecord("before midnight", 1);

    clock.set(clock.now().addDays(1));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("could not be archived"));
    QVERIFY(!log.checkDate());
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-09"));
    QCOMPARE(log.recordDate(), QString("2024-03-09"));
    // Still logging into the current file, no second first row.
    QVERIFY(log.insertRecord("after midnight", 1));
    QCOMPARE(rowsOf("RECORD.db").size(), 3);
    QCOMPARE(rowsOf("RECORD.db").count(kFirstRow), 1);

    QVERIFY(QFile::remove(dir.filePath("RECORD")));
    QVERIFY(log.checkDate());
    QCOMPARE(rowsOf(dir.filePath("RECORD/2024-03-09.db")).size(), 3);
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-10"));
}

void TestOperationLog::timeFileMissingOrDamaged_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("present");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("not a date") << QByteArray("../../etc") << true;
    QTest::newRow("impossible date") << QByteArray("2024-02-31") << true;
    QTest::newRow("empty") << QByteArray() << true;
}

void TestOperationLog::timeFileMissingOrDamaged()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, present);
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    if (present) {
        QVERIFY(dir.write("time.txt", content));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("time.txt holds no day"));
    }
    OperationLog log;
    log.start();
    QCOMPARE(log.recordDate(), QString("2024-03-09"));
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-09"));
    QCOMPARE(QDir(dir.filePath("RECORD")).entryList(QDir::Files), QStringList{});
    QCOMPARE(rowsOf("RECORD.db"), Rows{kFirstRow});
}

void TestOperationLog::vanishedFileIsMadeAgain()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    OperationLog log;
    log.start();
    log.close();
    QVERIFY(QFile::remove("RECORD.db"));
    QVERIFY(log.insertRecord("still logged", 0));
    QCOMPARE(rowsOf("RECORD.db"), (Rows{kFirstRow, {"09.05.03", "未登录", "still logged"}}));
}

void TestOperationLog::unopenableFileKeepsTheRow()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    QVERIFY(QDir().mkpath("RECORD.db"));  // a folder where the file should be
    TestClock clock(kStart);
    OperationLog log;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be (created|opened)"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be written"));
    QVERIFY(!log.insertRecord("kept", 0));
    QCOMPARE(log.pendingRowCount(), 1);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be (created|opened)"));
    QVERIFY(!log.clearRecord());
    // Once the file can be made, the row is written.
    QVERIFY(QDir().rmdir("RECORD.db"));
    QVERIFY(log.writePendingRows());
    QCOMPARE(rowsOf("RECORD.db"), (Rows{kFirstRow, {"09.05.03", "未登录", "kept"}}));
}

void TestOperationLog::heldFileKeepsRowsInOrder_data()
{
    // A hold of -1 lasts until the test lets go.
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<int>("waitMs");
    QTest::newRow("held shorter than the wait") << 400 << 5000;
    QTest::newRow("held past the wait") << -1 << int(OperationLog::kBusyWaitMs);
}

// Another program holds the day's RECORD.db while the log opens it and while
// rows come in, then lets go: no second first row, no row lost, the rows in
// the order of their events, and the GUI thread held up well inside the I/O
// link's 10 s heartbeat.
void TestOperationLog::heldFileKeepsRowsInOrder()
{
    QFETCH(int, holdMs);
    QFETCH(int, waitMs);
    const bool writtenAtOnce = holdMs >= 0;
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(kStart);
    {
        OperationLog earlier;
        earlier.start();
        QVERIFY(earlier.insertRecord("earlier", 1));
    }
    const Rows before = rowsOf("RECORD.db");

    DatabaseLocker locker;
    QVERIFY(locker.lock("RECORD.db", holdMs));
    OperationLog log;
    log.setBusyWaitMs(waitMs);
    log.setRetryIntervalMs(50);
    QElapsedTimer elapsed;
    elapsed.start();
    log.start();
    if (!writtenAtOnce) {
        // The real reason, once, not a made-up one from an unchecked prepare.
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("cannot be written: held by another program .*database is locked"));
    }
    clock.advanceMs(1000);
    QCOMPARE(log.insertRecord("first", 1), writtenAtOnce);
    clock.advanceMs(1000);
    QCOMPARE(log.insertRecord("second", 2), writtenAtOnce);
    if (!writtenAtOnce) {
        // Start and two rows, each waiting kBusyWaitMs at most.
        QVERIFY2(elapsed.elapsed() < 3000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(log.pendingRowCount(), 2);
    }

    QVERIFY(writtenAtOnce ? locker.waitReleased() : locker.release());
    // Written by the retry, with no further event needed.
    QTRY_COMPARE_WITH_TIMEOUT(log.pendingRowCount(), 0, kSettleMs);
    const Rows written{{"09.05.04", "初级用户", "first"}, {"09.05.05", "高级用户", "second"}};
    QCOMPARE(rowsOf("RECORD.db"), before + written);
    QCOMPARE(QDir(dir.filePath("RECORD")).entryList(QDir::Files), QStringList{});
}

void TestOperationLog::heldFileIsNotArchivedUntilFree()
{
    TestWorkDir dir;
    RecordingSystemCommands sys;
    TestClock clock(QDateTime(QDate(2024, 3, 9), QTime(23, 59, 50)));
    OperationLog log;
    log.setRetryIntervalMs(50);
    log.start();
    QVERIFY(log.insertRecord("late", 1));

    DatabaseLocker locker;
    QVERIFY(locker.lock("RECORD.db"));
    clock.set(QDateTime(QDate(2024, 3, 10), QTime(0, 0, 20)));
    QVERIFY(!log.checkDate());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be written: held by another program"));
    QVERIFY(!log.insertRecord("early", 1));
    // Neither moved aside nor replaced while held.
    QCOMPARE(QDir(dir.filePath("RECORD")).entryList(QDir::Files), QStringList{});
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-09"));

    QVERIFY(locker.release());
    QTRY_COMPARE_WITH_TIMEOUT(log.pendingRowCount(), 0, kSettleMs);
    QCOMPARE(rowsOf(dir.filePath("RECORD/2024-03-09.db")), (Rows{kFirstRow, {"23.59.50", "初级用户", "late"}}));
    QCOMPARE(rowsOf("RECORD.db"), (Rows{kFirstRow, {"00.00.20", "初级用户", "early"}}));
    QCOMPARE(dir.read("time.txt"), QByteArray("2024-03-10"));
}

QTEST_GUILESS_MAIN(TestOperationLog)
#include "tst_operationlog.moc"
