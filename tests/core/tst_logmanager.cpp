#include "logmanager.h"
#include "testclock.h"
#include "processstate.h"
#include "testworkdir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <utime.h>

namespace {

void setMtime(const QString& path, const QDateTime& when)
{
    struct utimbuf times;
    times.actime = when.toSecsSinceEpoch();
    times.modtime = when.toSecsSinceEpoch();
    QVERIFY(::utime(QFile::encodeName(path).constData(), &times) == 0);
}

QByteArray readAllOf(const QString& dir, const QString& pattern)
{
    QByteArray all;
    for (const QString& name : QDir(dir).entryList({pattern}, QDir::Files)) {
        QFile f(dir + "/" + name);
        if (f.open(QIODevice::ReadOnly)) {
            all += f.readAll();
        }
    }
    return all;
}

const QDateTime kNow(QDate(2026, 12, 10), QTime(9, 30, 15));

} // namespace

class TestLogManager : public QObject {
    Q_OBJECT

private slots:
    void archiveKeepsEveryLogOfOneSecond();
    void archiveNeverOverwritesAnExistingArchive();
    void archiveTakesTheTimeAnewForEachFile();
    void pruneKeepsTheNewestFiles();
    void severitiesReachTheirFiles();
    void crashReportLandsInTheErrorFile();
};

void TestLogManager::archiveKeepsEveryLogOfOneSecond()
{
    TestWorkDir wd;
    QVERIFY(wd.write("LOG/log20261209-080000.11.log", "older"));
    QVERIFY(wd.write("LOG/log20261209-170000.12.log", "newer"));
    QVERIFY(wd.write("LOG/ERROR_20261209-080000.11.log", "error"));
    setMtime(wd.filePath("LOG/log20261209-080000.11.log"), kNow.addDays(-1));
    setMtime(wd.filePath("LOG/log20261209-170000.12.log"), kNow.addSecs(-3600));

    TestClock clock(kNow);
    archiveMainLogs("LOG");

    QCOMPARE(wd.read("LOG/glog_20261210_093015.txt"), QByteArray("newer"));
    QCOMPARE(wd.read("LOG/glog_20261210_093015_1.txt"), QByteArray("older"));
    QCOMPARE(QDir("LOG").entryList({"log*"}, QDir::Files), QStringList());
    QCOMPARE(wd.read("LOG/ERROR_20261209-080000.11.log"), QByteArray("error"));
}

void TestLogManager::archiveNeverOverwritesAnExistingArchive()
{
    TestWorkDir wd;
    QVERIFY(wd.write("LOG/glog_20261210_093015.txt", "kept"));
    QVERIFY(wd.write("LOG/log20261210-093000.5.log", "moved"));

    TestClock clock(kNow);
    archiveMainLogs("LOG");

    QCOMPARE(wd.read("LOG/glog_20261210_093015.txt"), QByteArray("kept"));
    QCOMPARE(wd.read("LOG/glog_20261210_093015_1.txt"), QByteArray("moved"));
}

void TestLogManager::archiveTakesTheTimeAnewForEachFile()
{
    TestWorkDir wd;
    QVERIFY(wd.write("LOG/log-a.log", "a"));
    QVERIFY(wd.write("LOG/log-b.log", "b"));
    setMtime(wd.filePath("LOG/log-a.log"), kNow.addSecs(-10));
    setMtime(wd.filePath("LOG/log-b.log"), kNow.addSecs(-20));
    int calls = 0;
    const WallClock previous = setWallClock([&] { return kNow.addSecs(calls++); });
    archiveMainLogs("LOG");
    setWallClock(previous);

    QCOMPARE(wd.read("LOG/glog_20261210_093015.txt"), QByteArray("a"));
    QCOMPARE(wd.read("LOG/glog_20261210_093016.txt"), QByteArray("b"));
}

void TestLogManager::pruneKeepsTheNewestFiles()
{
    TestWorkDir wd;
    // 60 files whose names do not follow their age: the order comes from the
    // modification times alone.
    for (int i = 0; i < 60; ++i) {
        const QString name = QString("LOG/%1_%2.log").arg(i % 2 ? "ERROR" : "glog").arg(59 - i, 2, 10, QChar('0'));
        QVERIFY(wd.write(name, "x"));
        setMtime(wd.filePath(name), kNow.addSecs(-60 * i));
    }
    pruneLogFolder("LOG", 50);

    const QStringList left = QDir("LOG").entryList(QDir::Files);
    QCOMPARE(left.size(), 50);
    for (int i = 50; i < 60; ++i) {
        const QString name = QString("%1_%2.log").arg(i % 2 ? "ERROR" : "glog").arg(59 - i, 2, 10, QChar('0'));
        QVERIFY2(!left.contains(name), qPrintable(name));
    }
    pruneLogFolder("missing-folder", 10);
}

void TestLogManager::severitiesReachTheirFiles()
{
    ProcessState state;
    TestWorkDir wd;
    QVERIFY(wd.write("velqa/workspace/LOG/log20261209-080000.1.log", "last run"));

    gpLogManager = new LogManager;
    qDebug() << "debug-marker";
    qInfo() << "info-marker";
    qWarning() << "warning-marker";
    qCritical() << "critical-marker";

    const QString dir = "velqa/workspace/LOG";
    QCOMPARE(QDir(dir).entryList({"glog_*.txt"}, QDir::Files).size(), 1);

    const QByteArray info = readAllOf(dir, "log*.log");
    const QByteArray warning = readAllOf(dir, "WARNING_*.log");
    const QByteArray error = readAllOf(dir, "ERROR_2*.log");
    QVERIFY(!info.contains("debug-marker") && !warning.contains("debug-marker"));
    QVERIFY(info.contains("logmanager.cpp:130] info-marker"));
    QVERIFY(info.contains("logmanager.cpp:131] warning-marker"));
    QVERIFY(info.contains("logmanager.cpp:132] critical-marker"));
    QVERIFY(!warning.contains("info-marker"));
    QVERIFY(warning.contains("warning-marker") && warning.contains("critical-marker"));
    QVERIFY(!error.contains("warning-marker"));
    QVERIFY(error.contains("critical-marker"));
    // No links or other extras beside the files of the severities.
    for (const QFileInfo& fi : QDir(dir).entryInfoList(QDir::Files | QDir::System)) {
        QVERIFY2(!fi.isSymLink(), qPrintable(fi.fileName()));
    }
}

void TestLogManager::crashReportLandsInTheErrorFile()
{
    TestWorkDir wd;
    QProcess child;
    child.setWorkingDirectory(wd.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "handle_segv=0:detect_leaks=0");
    child.setProcessEnvironment(env);
    child.start(QStringLiteral(CRASHCHILD_PATH), QStringList());
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const QByteArray report = wd.read("velqa/workspace/LOG/ERROR_crash.log");
    QVERIFY2(report.contains("korvane crash report, pid"), report.constData());
    QVERIFY2(report.contains("SIGSEGV"), report.constData());
    QVERIFY(readAllOf("velqa/workspace/LOG", "log*.log").contains("about to crash"));
}

QTEST_GUILESS_MAIN(TestLogManager)
#include "tst_logmanager.moc"
