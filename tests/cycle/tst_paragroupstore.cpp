// Parameter groups on disk: the group list, the all-or-nothing restore of
// PARAM.db and the camera folders, and the refusal of bad groups.
#include "paragroupstore.h"
#include "paramsetfixture.h"
#include "testworkdir.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// Files of this process cannot grow beyond limit bytes while it lives, as on
// a full disk: writes fail with EFBIG instead of the signal ending the test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit lowered = m_previous;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous{};
    void (*m_handler)(int) = SIG_DFL;
};

} // namespace


class TestParaGroupStore : public QObject {
    Q_OBJECT
private slots:
    void listIsSortedByCharacterCode();
    void restoreReplacesParametersAndCameraFoldersWhole();
    void restoreKeepsTheRunningRecords();
    void badGroupLeavesWorkingSetUntouched_data();
    void badGroupLeavesWorkingSetUntouched();
    void failedCopyLeavesWorkingSetUntouched();
    void interruptedSwitchIsPutBack();
    void backupKeepsTimesAndReplacesWhole();
    void backupFailingHalfwayKeepsTheOldGroup_data();
    void backupFailingHalfwayKeepsTheOldGroup();
    void interruptedBackupPutsTheOldGroupBack();
    void names_data();
    void names();
    void deleteTouchesOnlyItsGroup();
    void oneOperationAtATime();
};

void TestParaGroupStore::listIsSortedByCharacterCode()
{
    TestWorkDir dir;
    for (const char* name : {"a", "B", "default", "Mould 7", "10", "2"}) {
        QVERIFY(QDir().mkpath(QString("paraGroup/") + name));
    }
    QVERIFY(dir.write("paraGroup/notes.txt", "a file is no group"));
    QCOMPARE(ParaGroupStore().groupNames(), (QStringList{"10", "2", "B", "Mould 7", "a", "default"}));
    QCOMPARE(ParaGroupStore("./nowhere").groupNames(), QStringList{});
}

void TestParaGroupStore::restoreReplacesParametersAndCameraFoldersWhole()
{
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    QVERIFY(dir.write("cammer11/ignorepoint.bmp", "stale mask of the old mould"));
    QVERIFY(dir.write("SN.db", "serials"));
    makeSet(dir, "paraGroup/default", "factory", 2, 2);
    QVERIFY(dir.write("paraGroup/default/SN.db", "factory serials"));
    QVERIFY(dir.write("paraGroup/default/20clearsh.tar.gz", "package"));
    QVERIFY(QDir().mkpath("paraGroup/default/cammer12/empty"));
    // The template library replaces its oldest sample by file time.
    const QDateTime sampled(QDate(2024, 2, 29), QTime(23, 59, 58));
    {
        QFile sample("paraGroup/default/cammer21/template1.bmp");
        QVERIFY(sample.open(QIODevice::Append));
        QVERIFY(sample.setFileTime(sampled, QFileDevice::FileModificationTime));
    }

    QString error;
    QVERIFY2(ParaGroupStore().restoreGroup("default", 2, 2, &error), qPrintable(error));
    QCOMPARE(QFileInfo("cammer21/template1.bmp").lastModified(), sampled);
    QCOMPARE(originOf("PARAM.db"), QString("factory"));
    QCOMPARE(dir.read("cammer21/template1.bmp"), QByteArray("factory 21"));
    QVERIFY(!QFile::exists("cammer11/ignorepoint.bmp"));
    QVERIFY(QFileInfo("cammer12/empty").isDir());
    QCOMPARE(dir.read("SN.db"), QByteArray("factory serials"));
    QCOMPARE(dir.read("20clearsh.tar.gz"), QByteArray("package"));
    // The group itself is untouched and nothing is left of the staging.
    QCOMPARE(originOf("paraGroup/default/PARAM.db"), QString("factory"));
    QVERIFY(!QFileInfo::exists(ParaGroupStore::stagingFolderName()));
}

void TestParaGroupStore::restoreKeepsTheRunningRecords()
{
    TestWorkDir dir;
    makeSet(dir, "", "working", 1, 2);
    QVERIFY(dir.write("RECORD.db", "today's log"));
    QVERIFY(dir.write("count.txt", "5 1 "));
    QVERIFY(dir.write("sysadd.txt", "0\n"));
    makeSet(dir, "paraGroup/A", "A", 1, 2);
    QVERIFY(dir.write("paraGroup/A/RECORD.db", "an old log put there by hand"));
    QVERIFY(dir.write("paraGroup/A/count.txt", "9 9 "));
    QVERIFY(dir.write("paraGroup/A/sysadd.txt", "7\n"));
    QVERIFY(ParaGroupStore().restoreGroup("A", 1, 2));
    QCOMPARE(originOf("PARAM.db"), QString("A"));
    QCOMPARE(dir.read("RECORD.db"), QByteArray("today's log"));
    QCOMPARE(dir.read("count.txt"), QByteArray("5 1 "));
    QCOMPARE(dir.read("sysadd.txt"), QByteArray("0\n"));
}

void TestParaGroupStore::badGroupLeavesWorkingSetUntouched_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such group") << "Z" << "no group folder";
    QTest::newRow("empty name") << "" << "no group folder";
    QTest::newRow("without PARAM.db") << "noparam" << "has no PARAM.db";
    QTest::newRow("PARAM.db that is no database") << "garbage" << "not a parameter database";
    QTest::newRow("PARAM.db without sysparam") << "notable" << "not a parameter database";
    QTest::newRow("a camera folder missing") << "short" << "has no folder cammer22";
}

void TestParaGroupStore::badGroupLeavesWorkingSetUntouched()
{
    QFETCH(QString, group);
    QFETCH(QString, reason);
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    makeSet(dir, "paraGroup/noparam", "x", 2, 2);
    QVERIFY(QFile::remove("paraGroup/noparam/PARAM.db"));
    makeSet(dir, "paraGroup/garbage", "x", 2, 2);
    QVERIFY(dir.write("paraGroup/garbage/PARAM.db", QByteArray(4096, 'g')));
    makeSet(dir, "paraGroup/notable", "x", 2, 2);
    QVERIFY(QFile::remove("paraGroup/notable/PARAM.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-empty");
        db.setDatabaseName(dir.filePath("paraGroup/notable/PARAM.db"));
        QVERIFY(db.open());
        QSqlQuery(db).exec("CREATE TABLE other(x)");
        db.close();
    }
    QSqlDatabase::removeDatabase("test-empty");
    makeSet(dir, "paraGroup/short", "x", 2, 1);
    QVERIFY(dir.write("paraGroup/short/cammer12/template1.bmp", "x"));
    QVERIFY(dir.write("paraGroup/short/cammer23", "a file, not a folder"));

    const QMap<QString, QByteArray> before = workingFiles(dir);
    QString error;
    QVERIFY(!ParaGroupStore().restoreGroup(group, 2, 2, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(workingFiles(dir), before);
    QVERIFY(!QFileInfo::exists(ParaGroupStore::stagingFolderName()));
}

void TestParaGroupStore::failedCopyLeavesWorkingSetUntouched()
{
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    makeSet(dir, "paraGroup/A", "A", 2, 2);
    // A file of the group that cannot be read: its link points nowhere.
    QVERIFY(QFile::link(dir.filePath("gone.bmp"), dir.filePath("paraGroup/A/cammer22/template2.bmp")));
    const QMap<QString, QByteArray> before = workingFiles(dir);
    QString error;
    QVERIFY(!ParaGroupStore().restoreGroup("A", 2, 2, &error));
    QVERIFY2(error.contains("cannot be copied"), qPrintable(error));
    QCOMPARE(workingFiles(dir), before);
    QVERIFY(!QFileInfo::exists(ParaGroupStore::stagingFolderName()));
}

void TestParaGroupStore::interruptedSwitchIsPutBack()
{
    TestWorkDir dir;
    makeSet(dir, "", "working", 1, 1);
    const QMap<QString, QByteArray> before = workingFiles(dir);
    // A switch that died half-way: PARAM.db already swapped, the camera folder
    // moved aside but the new one not yet in place.
    const QString staging = ParaGroupStore::stagingFolderName();
    QVERIFY(QDir().mkpath(staging + "/old"));
    QVERIFY(QDir().mkpath(staging + "/new"));
    QVERIFY(QFile::rename("PARAM.db", staging + "/old/PARAM.db"));
    QVERIFY(makeParamDb(dir.filePath("PARAM.db"), "half-new"));
    QVERIFY(QDir().rename("cammer11", staging + "/old/cammer11"));
    QVERIFY(dir.write(staging + "/new/cammer11/template1.bmp", "new"));
    // A camera folder that only the new group has was moved in already; the
    // journal also names one that was noted but not yet moved, and a name
    // that is never the group's to take away.
    QVERIFY(dir.write("cammer21/template1.bmp", "new 21"));
    QVERIFY(dir.write("count.txt", "12"));
    QVERIFY(dir.write(staging + "/added", "cammer21\ncammer31\ncount.txt\n"));

    ParaGroupStore().recoverInterruptedSwitch();
    QVERIFY(!QFileInfo::exists("cammer21"));
    QCOMPARE(dir.read("count.txt"), QByteArray("12"));
    QFile::remove("count.txt");
    QCOMPARE(workingFiles(dir), before);
    QCOMPARE(originOf("PARAM.db"), QString("working"));
    QVERIFY(!QFileInfo::exists(staging));
}

void TestParaGroupStore::backupKeepsTimesAndReplacesWhole()
{
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    const QDateTime old(QDate(2023, 6, 1), QTime(8, 30, 0));
    for (const char* file : {"cammer12/template1.bmp", "PARAM.db"}) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::Append));
        QVERIFY(f.setFileTime(old.addDays(f.fileName() == "PARAM.db"), QFileDevice::FileModificationTime));
    }
    makeSet(dir, "paraGroup/A", "older A", 3, 1);
    QString error;
    QVERIFY2(ParaGroupStore().backupGroup("A", 2, 2, &error), qPrintable(error));
    QCOMPARE(originOf("paraGroup/A/PARAM.db"), QString("working"));
    QStringList entries = QDir("paraGroup/A").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    entries.sort();
    QCOMPARE(entries, (QStringList{"PARAM.db", "cammer11", "cammer12", "cammer21", "cammer22"}));
    QCOMPARE(QFileInfo("paraGroup/A/cammer12/template1.bmp").lastModified(), old);
    QCOMPARE(QFileInfo("paraGroup/A/PARAM.db").lastModified(), QFileInfo("PARAM.db").lastModified());
    QCOMPARE(ParaGroupStore().groupNames(), QStringList{"A"});
    QVERIFY(!QFileInfo::exists(ParaGroupStore::backupStagingFolderName()));
}

void TestParaGroupStore::backupFailingHalfwayKeepsTheOldGroup_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("a file that cannot be read") << "dangling link";
    // The disk fills up half-way: the last camera folder's big sample no
    // longer fits while the others were copied.
    QTest::newRow("file size limit reached") << "size limit";
    // Copying a pipe would wait for a writer for ever.
    QTest::newRow("a pipe among the files") << "pipe";
}

void TestParaGroupStore::backupFailingHalfwayKeepsTheOldGroup()
{
    QFETCH(QString, fault);
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    makeSet(dir, "paraGroup/A", "older A", 2, 2);
    std::optional<FileSizeLimit> limit;
    if (fault == "dangling link") {
        QVERIFY(QFile::link(dir.filePath("gone.bmp"), dir.filePath("cammer22/template9.bmp")));
    } else if (fault == "size limit") {
        QVERIFY(dir.write("cammer22/template9.bmp", QByteArray(256 * 1024, 'b')));
    } else {
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("cammer22/template9.bmp")).constData(), 0644), 0);
    }
    const QMap<QString, QByteArray> before = fault == "pipe" ? QMap<QString, QByteArray>() : workingFiles(dir);
    QString error;
    if (fault == "size limit") {
        limit.emplace(128 * 1024);
    }
    const bool backedUp = ParaGroupStore().backupGroup("A", 2, 2, &error);
    limit.reset();
    QVERIFY(!backedUp);
    QVERIFY2(error.contains("cammer22/template9.bmp cannot be copied"), qPrintable(error));
    QCOMPARE(originOf("paraGroup/A/PARAM.db"), QString("older A"));
    QCOMPARE(dir.read("paraGroup/A/cammer21/template1.bmp"), QByteArray("older A 21"));
    QVERIFY(!QFileInfo::exists("paraGroup/A/cammer22/template9.bmp"));
    QCOMPARE(ParaGroupStore().groupNames(), QStringList{"A"});
    if (fault != "pipe") {
        QCOMPARE(workingFiles(dir), before);
    }
    QVERIFY(!QFileInfo::exists(ParaGroupStore::backupStagingFolderName()));
}

void TestParaGroupStore::interruptedBackupPutsTheOldGroupBack()
{
    TestWorkDir dir;
    makeSet(dir, "", "working", 1, 1);
    const QString staging = ParaGroupStore::backupStagingFolderName();
    makeSet(dir, staging + "/old", "older A", 1, 1);
    QVERIFY(dir.write(staging + "/new/PARAM.db", "half"));
    QVERIFY(dir.write(staging + "/name", "A"));
    ParaGroupStore().recoverInterruptedSwitch();
    QCOMPARE(originOf("paraGroup/A/PARAM.db"), QString("older A"));
    QVERIFY(!QFileInfo::exists(staging));
}

void TestParaGroupStore::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "Mould-7_b.2" << true;
    QTest::newRow("inner blank") << "Mould 7" << true;
    QTest::newRow("Chinese") << "中文模具" << true;
    QTest::newRow("32 characters") << QString(32, 'x') << true;
    QTest::newRow("33 characters") << QString(33, 'x') << false;
    QTest::newRow("parent") << ".." << false;
    QTest::newRow("hidden") << ".x" << false;
    QTest::newRow("path") << "a/b" << false;
    QTest::newRow("backslash") << "a\\b" << false;
    QTest::newRow("shell") << "x;rm -rf ." << false;
    QTest::newRow("substitution") << "$(id)" << false;
    QTest::newRow("leading blank") << " A" << false;
    QTest::newRow("empty") << "" << false;
}

void TestParaGroupStore::names()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(ParaGroupStore::isValidNewName(name), valid);
    TestWorkDir dir;
    makeSet(dir, "", "working", 1, 1);
    QVERIFY(QDir().mkpath("paraGroup"));
    QVERIFY(dir.write("outside.txt", "kept"));
    const QMap<QString, QByteArray> before = workingFiles(dir);
    QCOMPARE(ParaGroupStore().backupGroup(name, 1, 1), valid);
    // Nothing outside "./paraGroup" changes, whatever the name.
    QCOMPARE(workingFiles(dir), before);
    QCOMPARE(dir.read("outside.txt"), QByteArray("kept"));
    QCOMPARE(ParaGroupStore().groupNames(), valid ? QStringList{name} : QStringList{});
}

void TestParaGroupStore::deleteTouchesOnlyItsGroup()
{
    TestWorkDir dir;
    makeSet(dir, "", "working", 1, 1);
    makeSet(dir, "paraGroup/A", "A", 1, 1);
    makeSet(dir, "paraGroup/default", "factory", 1, 1);
    makeSet(dir, "elsewhere", "elsewhere", 1, 1);
    QVERIFY(QFile::link(dir.filePath("elsewhere"), dir.filePath("paraGroup/linked")));
    const QMap<QString, QByteArray> before = workingFiles(dir);
    for (const char* refused : {"default", "..", ".", "", "../elsewhere", "missing"}) {
        QVERIFY2(!ParaGroupStore().deleteGroup(refused), refused);
    }
    QVERIFY(ParaGroupStore().deleteGroup("linked"));
    QVERIFY(QFileInfo("elsewhere/PARAM.db").isFile());
    QVERIFY(ParaGroupStore().deleteGroup("A"));
    QCOMPARE(ParaGroupStore().groupNames(), QStringList{"default"});
    QCOMPARE(workingFiles(dir), before);
}

void TestParaGroupStore::oneOperationAtATime()
{
    QVERIFY(!ParaGroupStore::operationRunning());
    {
        ParaGroupStore::Operation first;
        QVERIFY(first.acquired());
        ParaGroupStore::Operation second;
        QVERIFY(!second.acquired());
        QVERIFY(ParaGroupStore::operationRunning());
    }
    QVERIFY(!ParaGroupStore::operationRunning());
}

QTEST_GUILESS_MAIN(TestParaGroupStore)
#include "tst_paragroupstore.moc"
