// The day change of the operation log (RECORD.db) and of the result database
// (ResStatistics.db) killed at each of its steps, then the program started
// again on the same day or days later: every day keeps exactly one file, each
// file its tables and exactly one first row, and no row of the ended day is
// lost or filed under another day.
#include "operationlog.h"
#include "cameraregistry.h"
#include "resultstatistics.h"
#include "sqlitetestutil.h"
#include "systemparam.h"
#include "testclock.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

namespace {

const QString kAuto = QStringLiteral("自动条目,生成新的数据库");

// Runs the child's day and day change in the folder; true when it ended as
// asked (killed at the step, or finished when there is none).
bool runChild(const QString& folder, const QString& which, const QString& step)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(DAYCHANGECHILD_PATH), {folder, which, step});
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished();
        return false;
    }
    if (step == QLatin1String("none")) {
        return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    }
    return child.exitStatus() == QProcess::CrashExit;
}

// A copy of what the killed child left, so that one kill serves restarts on
// several days.
bool copyFolder(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to)) {
        return false;
    }
    const QDir source(from);
    for (const QFileInfo& entry : source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString target = to + "/" + entry.fileName();
        if (entry.isDir() ? !copyFolder(entry.filePath(), target) : !QFile::copy(entry.filePath(), target)) {
            return false;
        }
    }
    return true;
}

QStringList remarksOf(const QString& path)
{
    QStringList remarks;
    for (const QStringList& row : sqliteRows(path, "SELECT remarks FROM RECORD ORDER BY rowid")) {
        remarks.append(row.value(0));
    }
    return remarks;
}

QStringList archivesIn(const QString& folder)
{
    return QDir(folder).entryList({"*.db"}, QDir::Files, QDir::Name);
}

QStringList leftOvers()
{
    return QDir().entryList({"*.new", "*.new-journal", "*-journal"}, QDir::Files);
}

// The counts of one row as "ok ng" sums over the day.
QString countsOf(const QString& path, const QString& name)
{
    const QList<QStringList> rows =
        sqliteRows(path, QStringLiteral("SELECT value1, value2 FROM resstatistics WHERE name = '%1'").arg(name));
    if (rows.size() != 1) {
        return QStringLiteral("%1 rows").arg(rows.size());
    }
    auto sum = [](const QString& text) {
        int total = 0;
        for (const QString& v : text.split(' ', Qt::SkipEmptyParts)) {
            total += v.toInt();
        }
        return total;
    };
    return QStringLiteral("%1 %2").arg(sum(rows.at(0).value(0))).arg(sum(rows.at(0).value(1)));
}

int resultRowsOf(const QString& path)
{
    const QList<QStringList> rows = sqliteRows(path, "SELECT count(*) FROM res_report");
    return rows.isEmpty() ? -1 : rows.at(0).value(0).toInt();
}

} // namespace

class TestDayChangeKill : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initTextTable(); }
    void cleanup()
    {
        gCameraCount = 0;
        gDetectCount = 0;
    }

    void operationLog_data();
    void operationLog();
    void resultDatabase_data();
    void resultDatabase();
};

namespace {

const QStringList kSteps = {"none", "file opened", "next file made", "archived", "day written", "in place"};
// The same day, and days later.
const QList<QDate> kRestarts = {QDate(2024, 3, 10), QDate(2024, 3, 12)};

void killTable()
{
    QTest::addColumn<QString>("step");
    for (const QString& step : kSteps) {
        QTest::newRow(qPrintable(step)) << step;
    }
}

} // namespace

void TestDayChangeKill::operationLog_data()
{
    killTable();
}

void TestDayChangeKill::operationLog()
{
    QFETCH(QString, step);
    TestWorkDir dir;
    QVERIFY(runChild(dir.path() + "/killed", "record", step));
    for (const QDate& restart : kRestarts) {
        const QString folder = dir.path() + "/" + restart.toString("MM-dd");
        QVERIFY(copyFolder(dir.path() + "/killed", folder));
        QVERIFY(QDir::setCurrent(folder));
        {
            TestClock clock(QDateTime(restart, QTime(8, 0, 0)));
            OperationLog log;
            log.start();
            QVERIFY(log.insertRecord("after restart", 2));
        }

        const QString day = restart.toString("yyyy-MM-dd");
        QCOMPARE(remarksOf("RECORD.db"), (QStringList{kAuto, "after restart"}));
        QCOMPARE(dir.read(restart.toString("MM-dd") + "/time.txt"), day.toLatin1());
        const QStringList archives = archivesIn("RECORD");
        QVERIFY2(archives.contains("2024-03-09.db"), qPrintable(archives.join(' ')));
        for (const QString& archive : archives) {
            const QStringList expected =
                archive == "2024-03-09.db" ? QStringList{kAuto, "day one"} : QStringList{kAuto};
            QCOMPARE(remarksOf("RECORD/" + archive), expected);
            // Only days the program ran on have a file.
            QVERIFY2(archive == "2024-03-09.db" || archive == "2024-03-10.db", qPrintable(archive));
            QVERIFY(archive < day + ".db");
        }
        QCOMPARE(leftOvers(), QStringList());
    }
    QVERIFY(QDir::setCurrent(dir.path()));
}

void TestDayChangeKill::resultDatabase_data()
{
    killTable();
}

void TestDayChangeKill::resultDatabase()
{
    QFETCH(QString, step);
    TestWorkDir dir;
    QVERIFY(runChild(dir.path() + "/killed", "statistics", step));
    for (const QDate& restart : kRestarts) {
        const QString folder = dir.path() + "/" + restart.toString("MM-dd");
        QVERIFY(copyFolder(dir.path() + "/killed", folder));
        QVERIFY(QDir::setCurrent(folder));
        {
            TestClock clock(QDateTime(restart, QTime(9, 0, 0)));
            gCameraCount = 1;
            gDetectCount = 1;
            // As at the program's start: the records first, then the statistics.
            QVERIFY(createResStatisticsDb());
            ResultStatistics statistics;
            statistics.checkDayChange();
            statistics.addResult(9, false, 0, 0);
            QVERIFY(statistics.saveIfDirty());
        }

        QCOMPARE(resultRowsOf("ResStatistics.db"), 0);
        QCOMPARE(countsOf("ResStatistics.db", "C0_D0"), QString("0 1"));
        QCOMPARE(dir.read(restart.toString("MM-dd") + "/restime.txt"),
                 QByteArray::number(QDateTime(restart, QTime(8, 0, 0)).toSecsSinceEpoch()));
        const QStringList archives = archivesIn("ResStatistics");
        QVERIFY2(archives.contains("2024-03-09.db"), qPrintable(archives.join(' ')));
        for (const QString& archive : archives) {
            const bool first = archive == "2024-03-09.db";
            QVERIFY2(first || archive == "2024-03-10.db", qPrintable(archive));
            QCOMPARE(resultRowsOf("ResStatistics/" + archive), first ? 1 : 0);
            QCOMPARE(countsOf("ResStatistics/" + archive, "C0_D0"), QString(first ? "1 0" : "0 0"));
        }
        QCOMPARE(leftOvers(), QStringList());
    }
    QVERIFY(QDir::setCurrent(dir.path()));
}

QTEST_MAIN(TestDayChangeKill)
#include "tst_daychangekill.moc"
