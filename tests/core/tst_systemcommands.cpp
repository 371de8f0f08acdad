// The typed system operations: the programs and arguments each one becomes,
// the checks every implementation applies, the allow-list outside the panel
// build, and the Linux implementation run for real against stand-in programs
// and folders in the test's working folder (never the machine's own).
#include "recordingsystemcommands.h"
#include "systemcommands.h"
#include "testworkdir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QDateTime kTime(QDate(2024, 3, 5), QTime(14, 7, 9));

// The operations of every kind, as the program's callers build them.
struct Sample {
    SystemOperation op;
    QString description;
    QList<QStringList> commandLines;  // with the mount point /mnt and the program root /root
    bool allowedOutsidePanel;
};

QList<Sample> samples()
{
    return {
        {SystemOperation::listBlockDevices(), "blkid", {{"blkid"}}, true},
        {SystemOperation::mountUsbDisk("/dev/sdb1"), "mount /dev/sdb1 /mnt", {{"mount", "/dev/sdb1", "/mnt"}}, false},
        {SystemOperation::unmountUsbDisk(), "umount /mnt", {{"umount", "/mnt"}}, false},
        {SystemOperation::syncDisks(), "sync", {{"sync"}}, true},
        {SystemOperation::syncDisks("/mnt/2024"), "sync -f /mnt/2024", {{"sync", "-f", "--", "/mnt/2024"}}, true},
        {SystemOperation::copyToUsbDisk("../rud-OVA", "2024-03-05_14.07.09"),
         "copy ../rud-OVA to /mnt/2024-03-05_14.07.09/",
         {{"mkdir", "-p", "--", "/mnt/2024-03-05_14.07.09"},
          {"cp", "-rf", "--", "../rud-OVA", "/mnt/2024-03-05_14.07.09/"}},
         false},
        {SystemOperation::removeFolderContents("./originalimage/cammer11"), "empty ./originalimage/cammer11", {}, true},
        {SystemOperation::setClock(kTime), "set clock 2024-03-05 14:07:09",
         {{"date", "-s", "2024-03-05 14:07:09"}, {"hwclock", "--systohc"}}, false},
        {SystemOperation::reboot(), "reboot", {{"reboot"}}, false},
        {SystemOperation::powerOff(), "power off", {{"poweroff"}}, false},
        {SystemOperation::calibrateTouch(), "calibrate touch", {{"./tsc"}}, false},
        {SystemOperation::backlight(false), "backlight off", {}, false},
        {SystemOperation::restartProgram(), "restart program", {}, true},
        {SystemOperation::backupProgramFolder(kTime), "back up program folder as rud-OVA-2024-03-05-14:07:09.tar.gz",
         {{"tar", "--force-local", "-C", "/root", "-zcf", "/root/rud-OVA-2024-03-05-14:07:09.tar.gz", "rud-OVA"}},
         false},
        {SystemOperation::removeOldBackups(), "remove old backups", {}, false},
        {SystemOperation::removeOldUpdates(), "remove old updates", {}, false},
        {SystemOperation::storeUpdatePackage("/mnt/V17.tar.gz", ".tar.gz", true),
         "store /mnt/V17.tar.gz as newupdate.tar.gz, replacing", {}, false},
    };
}

// Stand-in programs and places for the Linux implementation, in a folder of
// their own beside the test's working folder: every stand-in program appends
// its name and arguments, each in brackets, to calls.log.
struct FakeMachine {
    QTemporaryDir root;
    TestWorkDir dir;  // the working folder
    LinuxSystemCommands::Places places;

    FakeMachine()
    {
        places.programFolder = root.filePath("bin");
        places.mountPoint = root.filePath("usb");
        places.programRoot = root.filePath("root");
        places.backlightFile = root.filePath("sys/bl_power");
        QDir().mkpath(places.programFolder);
        QDir().mkpath(places.mountPoint);
        QDir().mkpath(places.programRoot);
        for (const char* name : {"blkid", "mount", "umount", "sync", "date", "hwclock", "reboot", "poweroff"}) {
            tool(name);
        }
        write("sys/bl_power", "untouched");
    }

    bool write(const QString& name, const QByteArray& content) const
    {
        const QString path = root.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
    }

    QByteArray read(const QString& name) const
    {
        QFile file(root.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void tool(const QString& name, const QByteArray& rest = {})
    {
        const QString path = QDir(places.programFolder).filePath(name);
        QFile::remove(path);
        write("bin/" + name,
              "#!/bin/sh\n"
              "{ printf '%s' \"${0##*/}\"; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; printf '\\n'; }"
              " >> \"${0%/*}/calls.log\"\n"
                  + rest);
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    }

    // A link to the machine's own program, for operations whose effect the test checks.
    bool realTool(const QString& name)
    {
        const QString real = QStandardPaths::findExecutable(name);
        const QString path = QDir(places.programFolder).filePath(name);
        QFile::remove(path);
        return !real.isEmpty() && QFile::link(real, path);
    }

    QStringList calls() const
    {
        return QString::fromUtf8(read("bin/calls.log")).split('\n', Qt::SkipEmptyParts);
    }
};

} // namespace

class TestSystemCommands : public QObject {
    Q_OBJECT

private slots:
    void operationsOfEveryKind();
    void malformedOperationsAreRefusedByEveryImplementation_data();
    void malformedOperationsAreRefusedByEveryImplementation();
    void folderGuard_data();
    void folderGuard();
    void removalEmptiesTheFolderAndNeverFollowsLinks();
    void outsidePanelOnlyTheAllowListRuns();
    void programsGetEachValueAsOneArgument();
    void failingOrHangingProgramStopsTheOperation();
    void panelFileOperations();
};

void TestSystemCommands::operationsOfEveryKind()
{
    QSet<int> kinds;
    for (const Sample& s : samples()) {
        const QString what = s.description;
        kinds.insert(s.op.kind());
        QVERIFY2(s.op.problem().isEmpty(), qPrintable(what));
        QCOMPARE(s.op.describe(), s.description);
        QCOMPARE(s.op.commandLines("/mnt", "/root"), s.commandLines);
        QVERIFY2(LinuxSystemCommands::allowedOutsidePanel(s.op) == s.allowedOutsidePanel, qPrintable(what));
    }
    QCOMPARE(kinds.size(), SystemOperation::StoreUpdatePackage + 1);
}

void TestSystemCommands::malformedOperationsAreRefusedByEveryImplementation_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("mount without a device") << 0;
    QTest::newRow("mount of a name outside /dev") << 1;
    QTest::newRow("mount of an option") << 2;
    QTest::newRow("usb folder with a path") << 3;
    QTest::newRow("usb folder ..") << 4;
    QTest::newRow("usb folder empty") << 5;
    QTest::newRow("copy of nothing") << 6;
    QTest::newRow("empty folder argument") << 7;
    QTest::newRow("the working folder itself") << 8;
    QTest::newRow("above the working folder") << 9;
    QTest::newRow("system folder") << 10;
    QTest::newRow("clock without a time") << 11;
    QTest::newRow("package suffix with a path") << 12;
    QTest::newRow("sync of a relative path") << 13;
}

void TestSystemCommands::malformedOperationsAreRefusedByEveryImplementation()
{
    QFETCH(int, index);
    const QList<SystemOperation> bad = {
        SystemOperation::mountUsbDisk(""),
        SystemOperation::mountUsbDisk("sdb1"),
        SystemOperation::mountUsbDisk("-oremount,rw /dev/sda1"),
        SystemOperation::copyToUsbDisk("../rud-OVA", "x/../../etc"),
        SystemOperation::copyToUsbDisk("../rud-OVA", ".."),
        SystemOperation::copyToUsbDisk("../rud-OVA", ""),
        SystemOperation::copyToUsbDisk("", "x"),
        SystemOperation::removeFolderContents(""),
        SystemOperation::removeFolderContents("."),
        SystemOperation::removeFolderContents(".."),
        SystemOperation::removeFolderContents("/etc"),
        SystemOperation::setClock(QDateTime()),
        SystemOperation::storeUpdatePackage("pkg.tar.gz", "/../../../etc/passwd", true),
        SystemOperation::syncDisks("-d"),
    };
    TestWorkDir dir;
    dir.write("keep.txt", "x");
    {
        RecordingSystemCommands sys;
        const SystemCommands::Result r = sys.perform(bad.at(index));
        QVERIFY(!r.refusal.isEmpty());
        QVERIFY(!r.started);
        QVERIFY(sys.operations.isEmpty());
    }
    FakeMachine machine;
    LinuxSystemCommands panel(true, machine.places);
    QVERIFY(!panel.perform(bad.at(index)).refusal.isEmpty());
    QVERIFY(machine.calls().isEmpty());
    QCOMPARE(dir.read("keep.txt"), QByteArray("x"));
}

void TestSystemCommands::folderGuard_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("working folder") << "." << false;
    QTest::newRow("working folder, slash") << "./" << false;
    QTest::newRow("parent") << ".." << false;
    QTest::newRow("raw frames") << "./originalimage/cammer11" << true;
    QTest::newRow("roundabout but inside") << "originalimage/../originalimage/cammer11" << true;
    QTest::newRow("roundabout to the parent") << "originalimage/../.." << false;
    QTest::newRow("not made yet") << "originalimage/cammer81" << true;
    QTest::newRow("absolute inside") << "@work/originalimage" << true;
    QTest::newRow("link leading out") << "escape" << false;
    QTest::newRow("link into the usb disk") << "escape/usb/export" << true;
    QTest::newRow("below a link leading out") << "escape/sub" << false;
    QTest::newRow("usb disk folder") << "@usb/export" << true;
    QTest::newRow("usb disk itself") << "@usb" << false;
    QTest::newRow("root") << "/" << false;
    QTest::newRow("system folder") << "/etc" << false;
}

void TestSystemCommands::folderGuard()
{
    QFETCH(QString, folder);
    QFETCH(bool, allowed);
    TestWorkDir outside;
    outside.write("sub/file", "x");
    TestWorkDir work;
    QVERIFY(QDir().mkpath("originalimage/cammer11"));
    QVERIFY(QDir().mkpath(outside.filePath("usb/export")));
    QVERIFY(QFile::link(outside.path(), "escape"));
    folder.replace("@work", work.path()).replace("@usb", outside.filePath("usb"));

    const QString problem = SystemOperation::folderProblem(folder, QDir::currentPath(), outside.filePath("usb"));
    QVERIFY2(problem.isEmpty() == allowed, qPrintable(problem));
}

void TestSystemCommands::removalEmptiesTheFolderAndNeverFollowsLinks()
{
    TestWorkDir outside;
    outside.write("precious/file", "keep");
    TestWorkDir work;
    work.write("originalimage/cammer11/1.bmp", "a");
    work.write("originalimage/cammer11/.hidden", "b");
    work.write("originalimage/cammer11/sub/2.bmp", "c");
    work.write("originalimage/cammer12/3.bmp", "d");
    QVERIFY(QFile::link(outside.filePath("precious"), "originalimage/cammer11/link"));

    LinuxSystemCommands sys(false);  // allowed outside the panel: it stays in the working folder
    const SystemCommands::Result r = sys.perform(SystemOperation::removeFolderContents("./originalimage/cammer11"));
    QVERIFY(r.ok());
    QVERIFY(QFileInfo("originalimage/cammer11").isDir());
    QVERIFY(QDir("originalimage/cammer11").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).isEmpty());
    QCOMPARE(work.read("originalimage/cammer12/3.bmp"), QByteArray("d"));
    QCOMPARE(outside.read("precious/file"), QByteArray("keep"));

    // A folder that is not there has nothing in it to remove.
    QVERIFY(sys.perform(SystemOperation::removeFolderContents("originalimage/cammer81")).ok());
}

void TestSystemCommands::outsidePanelOnlyTheAllowListRuns()
{
    FakeMachine machine;
    machine.tool("blkid", "echo '/dev/sda2: TYPE=\"ext4\"'\n");
    machine.write("usb/export/file", "on the stick");
    machine.write("root/rud-OVA/newupdate.tar.gz", "old package");
    machine.dir.write("pkg.tar.gz", "new package");
    machine.dir.write("tsc", "#!/bin/sh\necho calibrated > tsc.log\n");
    QFile::setPermissions("tsc", QFile::permissions("tsc") | QFile::ExeOwner);
    LinuxSystemCommands sys(false, machine.places);

    for (const SystemOperation& op :
         {SystemOperation::mountUsbDisk("/dev/sdb1"), SystemOperation::unmountUsbDisk(),
          SystemOperation::copyToUsbDisk(".", "x"), SystemOperation::removeFolderContents(machine.places.mountPoint + "/export"),
          SystemOperation::setClock(kTime), SystemOperation::reboot(), SystemOperation::powerOff(),
          SystemOperation::calibrateTouch(), SystemOperation::backlight(false),
          SystemOperation::backupProgramFolder(kTime), SystemOperation::removeOldBackups(),
          SystemOperation::removeOldUpdates(), SystemOperation::storeUpdatePackage("pkg.tar.gz", ".tar.gz", true)}) {
        const SystemCommands::Result r = sys.perform(op);
        QVERIFY2(!r.refusal.isEmpty() && !r.started, qPrintable(op.describe()));
    }
    QVERIFY(machine.calls().isEmpty());
    QVERIFY(!QFileInfo::exists("tsc.log"));
    QCOMPARE(machine.read("sys/bl_power"), QByteArray("untouched"));
    QCOMPARE(machine.read("usb/export/file"), QByteArray("on the stick"));
    QCOMPARE(machine.read("root/rud-OVA/newupdate.tar.gz"), QByteArray("old package"));

    const SystemCommands::Result blkid = sys.perform(SystemOperation::listBlockDevices());
    QVERIFY(blkid.ok());
    QCOMPARE(blkid.output, QByteArray("/dev/sda2: TYPE=\"ext4\"\n"));
    QCOMPARE(machine.calls(), QStringList{"blkid"});
}

void TestSystemCommands::programsGetEachValueAsOneArgument()
{
    FakeMachine machine;
    LinuxSystemCommands sys(true, machine.places);
    const QString device = "/dev/sd b1; touch pwned $(touch pwned2) `touch pwned3` && echo";

    QVERIFY(sys.perform(SystemOperation::mountUsbDisk(device)).ok());
    QVERIFY(sys.perform(SystemOperation::unmountUsbDisk()).ok());
    QVERIFY(sys.perform(SystemOperation::setClock(kTime)).ok());
    QVERIFY(sys.perform(SystemOperation::reboot()).ok());
    QVERIFY(sys.perform(SystemOperation::powerOff()).ok());

    const QString mnt = machine.places.mountPoint;
    QCOMPARE(machine.calls(), (QStringList{"mount [" + device + "] [" + mnt + "]", "umount [" + mnt + "]",
                                           "date [-s] [2024-03-05 14:07:09]", "hwclock [--systohc]", "reboot",
                                           "poweroff"}));
    for (const char* name : {"pwned", "pwned2", "pwned3"}) {
        QVERIFY(!QFileInfo::exists(name));
        QVERIFY(!QFileInfo::exists(machine.root.filePath("bin/") + name));
    }
}

void TestSystemCommands::failingOrHangingProgramStopsTheOperation()
{
    FakeMachine machine;
    LinuxSystemCommands sys(true, machine.places);

    machine.tool("date", "echo 'date: cannot set date'\nexit 3\n");
    SystemCommands::Result r = sys.perform(SystemOperation::setClock(kTime));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 3);
    QCOMPARE(r.output, QByteArray("date: cannot set date\n"));
    // The hardware clock is not written from a system clock that was not set.
    QCOMPARE(machine.calls(), QStringList{"date [-s] [2024-03-05 14:07:09]"});

    machine.tool("date", "exec sleep 20\n");
    QElapsedTimer timer;
    timer.start();
    r = sys.perform(SystemOperation::setClock(kTime));
    QVERIFY(r.started);
    QVERIFY(!r.finished);
    QVERIFY(timer.elapsed() < 8000);
    QCOMPARE(machine.calls().size(), 2);

    // A program that is missing from the program folder is not looked for elsewhere.
    QVERIFY(QFile::remove(machine.root.filePath("bin/umount")));
    r = sys.perform(SystemOperation::unmountUsbDisk());
    QVERIFY(!r.started);
}

void TestSystemCommands::panelFileOperations()
{
    FakeMachine machine;
    QVERIFY(machine.realTool("mkdir"));
    QVERIFY(machine.realTool("cp"));
    QVERIFY(machine.realTool("tar"));
    LinuxSystemCommands sys(true, machine.places);

    // Export: the program folder copied into a new folder on the stick, then
    // a raw-frame folder on the stick emptied.
    machine.dir.write("rud-OVA/PARAM.db", "params");
    machine.dir.write("rud-OVA/cammer11/template1.bmp", "t");
    QVERIFY(sys.perform(SystemOperation::copyToUsbDisk("rud-OVA", "2024-03-05_14.07.09")).ok());
    QCOMPARE(machine.read("usb/2024-03-05_14.07.09/rud-OVA/cammer11/template1.bmp"), QByteArray("t"));
    QVERIFY(sys.perform(SystemOperation::removeFolderContents(machine.places.mountPoint + "/2024-03-05_14.07.09")).ok());
    QVERIFY(QDir(machine.root.filePath("usb/2024-03-05_14.07.09")).isEmpty());

    // Backlight: 1 in the control file darkens the screen, 0 lights it.
    QVERIFY(sys.perform(SystemOperation::backlight(false)).ok());
    QCOMPARE(machine.read("sys/bl_power"), QByteArray("1"));
    QVERIFY(sys.perform(SystemOperation::backlight(true)).ok());
    QCOMPARE(machine.read("sys/bl_power"), QByteArray("0"));

    // Version download: old backups and packages go, a backup and a package come.
    QVERIFY(sys.perform(SystemOperation::backupProgramFolder(kTime)).ok());  // no program folder yet: nothing to do
    QVERIFY(QDir(machine.places.programRoot).entryList(QDir::Files).isEmpty());
    machine.write("root/rud-OVA/main", "program");
    machine.write("root/rud-OVA/newupdate.tar.xz", "old package");
    machine.write("root/rud-OVA/newupdate", "old package");
    machine.write("root/rud-OVA/notnewupdate.tar.gz", "kept");
    machine.write("root/rud-OVA-2023-01-01-10:00:00.tar.gz", "old backup");
    machine.write("root/rud-OVA.tar.gz", "kept");
    machine.write("root/other-OVA-1.tar.gz", "kept");
    QVERIFY(sys.perform(SystemOperation::removeOldBackups()).ok());
    QVERIFY(sys.perform(SystemOperation::backupProgramFolder(kTime)).ok());
    QVERIFY(sys.perform(SystemOperation::removeOldUpdates()).ok());
    QCOMPARE(QDir(machine.places.programRoot).entryList(QDir::Files, QDir::Name),
             (QStringList{"other-OVA-1.tar.gz", "rud-OVA-2024-03-05-14:07:09.tar.gz", "rud-OVA.tar.gz"}));
    QCOMPARE(QDir(machine.root.filePath("root/rud-OVA")).entryList(QDir::Files, QDir::Name),
             (QStringList{"main", "notnewupdate.tar.gz"}));

    machine.dir.write("download.part", "package 1");
    QVERIFY(sys.perform(SystemOperation::storeUpdatePackage("download.part", ".tar.gz", true)).ok());
    QCOMPARE(machine.read("root/rud-OVA/newupdate.tar.gz"), QByteArray("package 1"));
    // The factory reset leaves a package that is there already alone.
    machine.dir.write("paraGroup/default/20clearsh.tar.gz", "factory");
    QVERIFY(!sys.perform(SystemOperation::storeUpdatePackage("paraGroup/default/20clearsh.tar.gz", ".tar.gz", false)).ok());
    QCOMPARE(machine.read("root/rud-OVA/newupdate.tar.gz"), QByteArray("package 1"));
    QVERIFY(sys.perform(SystemOperation::storeUpdatePackage("paraGroup/default/20clearsh.tar.gz", ".tar.gz", true)).ok());
    QCOMPARE(machine.read("root/rud-OVA/newupdate.tar.gz"), QByteArray("factory"));
}

QTEST_GUILESS_MAIN(TestSystemCommands)
#include "tst_systemcommands.moc"
