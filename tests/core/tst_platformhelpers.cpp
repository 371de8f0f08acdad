#include "platformhelpers.h"
#include "recordingsystemcommands.h"
#include "testworkdir.h"
#include "systemcommands.h"
#include "fakemainwindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

namespace {

const QByteArray kMountsPlain =
    "/dev/sda2 / ext4 rw,relatime 0 0\nproc /proc proc rw 0 0\n";

} // namespace

class TestPlatformHelpers : public QObject {
    Q_OBJECT

private slots:
    void mountUsbDrive_data();
    void mountUsbDrive();
    void mountUsbDriveUnmountsEveryMountFirst();
    void mountUsbDriveFailures_data();
    void mountUsbDriveFailures();
    void backlightFollowsRequest();
    void quitProgramStopsWorkersThenExits();
    void quitEndsTheProcessCleanly();
    void privilegedCommandsAreRecognised_data();
    void privilegedCommandsAreRecognised();
    void linuxCommandsTimeOutAndKill();
    void linuxCommandsRefusePrivilegedOutsidePanel();
};

void TestPlatformHelpers::mountUsbDrive_data()
{
    QTest::addColumn<QByteArray>("blkid");
    QTest::addColumn<QByteArray>("mountsBefore");
    QTest::addColumn<QString>("mounted");  // partition given to mount, empty when none

    QTest::newRow("ext4 then usb")
        << QByteArray("/dev/sda2: UUID=\"a\" TYPE=\"ext4\"\n/dev/sdb1: LABEL=\"STICK\" TYPE=\"vfat\"\n")
        << kMountsPlain << "/dev/sdb1";
    QTest::newRow("usb listed before the system disk")
        << QByteArray("/dev/sdb1: TYPE=\"vfat\"\n/dev/sda2: TYPE=\"ext4\"\n") << kMountsPlain << "";
    QTest::newRow("vfat on the system disk")
        << QByteArray("/dev/sda2: TYPE=\"ext4\"\n/dev/sda1: TYPE=\"vfat\"\n") << kMountsPlain << "";
    QTest::newRow("two sticks: the first one")
        << QByteArray("/dev/sda2: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"exfat\"\n/dev/sdc1: TYPE=\"ntfs\"\n")
        << kMountsPlain << "/dev/sdb1";
    QTest::newRow("nvme, efi partition first, a stick")
        << QByteArray("/dev/nvme0n1p1: UUID=\"1\" TYPE=\"vfat\" PARTLABEL=\"EFI System Partition\"\n"
                      "/dev/nvme0n1p2: UUID=\"2\" TYPE=\"ext4\"\n"
                      "/dev/sda1: LABEL=\"STICK\" UUID=\"3\" TYPE=\"vfat\"\n")
        << QByteArray("/dev/nvme0n1p2 / ext4 rw 0 0\n/dev/nvme0n1p1 /boot/efi vfat rw 0 0\n") << "/dev/sda1";
    // A second ext4 disk listed later must not make the system disk's EFI partition a candidate.
    QTest::newRow("second ext4 disk, system efi after it")
        << QByteArray("/dev/sda2: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"ext4\"\n/dev/sda1: TYPE=\"vfat\"\n"
                      "/dev/sdc1: TYPE=\"vfat\"\n")
        << kMountsPlain << "/dev/sdc1";
    // The disk mounted at / is the system's own even when an ext4 line names another disk.
    QTest::newRow("root disk known from the mounts")
        << QByteArray("/dev/sdb3: TYPE=\"ext4\"\n/dev/sda1: TYPE=\"vfat\"\n/dev/sdc1: TYPE=\"vfat\"\n")
        << QByteArray("/dev/sda2 / xfs rw 0 0\n") << "/dev/sdc1";
    QTest::newRow("only other file systems")
        << QByteArray("/dev/sda2: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"swap\"\n") << kMountsPlain << "";
}

void TestPlatformHelpers::mountUsbDrive()
{
    QFETCH(QByteArray, blkid);
    QFETCH(QByteArray, mountsBefore);
    QFETCH(QString, mounted);

    RecordingSystemCommands sys;
    sys.script("blkid", RecordingSystemCommands::finished(0, blkid));
    const QByteArray mountsAfter = mountsBefore + mounted.toUtf8() + " /mnt vfat rw 0 0\n";
    sys.setFileSequence("/proc/mounts", {mountsBefore, mountsAfter});

    const QString result = ::mountUsbDrive();

    if (mounted.isEmpty()) {
        QCOMPARE(result, QString());
        QCOMPARE(sys.runs, QStringList{"blkid"});
    } else {
        QCOMPARE(result, QString("/mnt"));
        QCOMPARE(sys.runs, (QStringList{"blkid", "mount " + mounted + " /mnt"}));
    }
    for (int timeout : qAsConst(sys.runTimeouts)) {
        QVERIFY(timeout >= 3000);
    }
}

void TestPlatformHelpers::mountUsbDriveUnmountsEveryMountFirst()
{
    RecordingSystemCommands sys;
    sys.script("blkid", RecordingSystemCommands::finished(
                            0, "/dev/sda2: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"vfat\"\n"));
    const QByteArray before = kMountsPlain + "/dev/sdd1 /mnt vfat rw 0 0\n/dev/sde1 /mnt vfat rw 0 0\n";
    sys.setFileSequence("/proc/mounts", {before, kMountsPlain + "/dev/sdb1 /mnt vfat rw 0 0\n"});

    QCOMPARE(::mountUsbDrive(), QString("/mnt"));
    QCOMPARE(sys.runs, (QStringList{"blkid", "umount /mnt", "umount /mnt", "mount /dev/sdb1 /mnt"}));
}

void TestPlatformHelpers::mountUsbDriveFailures_data()
{
    QTest::addColumn<QByteArray>("blkid");
    QTest::addColumn<bool>("mountsReadable");
    QTest::addColumn<int>("mountExit");
    QTest::addColumn<bool>("showsUp");

    const QByteArray good = "/dev/sda2: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"vfat\"\n";
    QTest::newRow("blkid silent") << QByteArray() << true << 0 << true;
    QTest::newRow("mounts unreadable") << good << false << 0 << true;
    QTest::newRow("mount fails") << good << true << 32 << true;
    QTest::newRow("mount claims success, nothing mounted") << good << true << 0 << false;
}

void TestPlatformHelpers::mountUsbDriveFailures()
{
    QFETCH(QByteArray, blkid);
    QFETCH(bool, mountsReadable);
    QFETCH(int, mountExit);
    QFETCH(bool, showsUp);

    RecordingSystemCommands sys;
    sys.script("blkid", RecordingSystemCommands::finished(blkid.isEmpty() ? 2 : 0, blkid));
    sys.script("mount /dev/sdb1 /mnt", RecordingSystemCommands::finished(mountExit));
    if (mountsReadable) {
        sys.setFileSequence("/proc/mounts",
                            {kMountsPlain, showsUp ? kMountsPlain + "/dev/sdb1 /mnt vfat rw 0 0\n" : kMountsPlain});
    }
    QCOMPARE(::mountUsbDrive(), QString());
}

void TestPlatformHelpers::backlightFollowsRequest()
{
    RecordingSystemCommands sys;
    FakeMainWindow window;
    setBacklight(false);
    QVERIFY(window.backlightOff);
    setBacklight(true);
    QVERIFY(!window.backlightOff);
    QCOMPARE(sys.shells, (QStringList{"echo 1 > /sys/class/backlight/intel_backlight/bl_power",
                                      "echo 0 > /sys/class/backlight/intel_backlight/bl_power"}));
}

void TestPlatformHelpers::quitProgramStopsWorkersThenExits()
{
    RecordingSystemCommands sys;
    QStringList order;
    addQuitHook("image writer", [&] { order << "writer stopped"; });
    addQuitHook("I/O board", [&] {
        order << "outputs at rest";
        order << "io stopped";
    });

    quitProgram(3);

    QCOMPARE(order, (QStringList{"outputs at rest", "io stopped", "writer stopped"}));
    QCOMPARE(sys.trace, (QStringList{"sleep: 1000", "exit: 3"}));

    // Hooks run once: a second quit does not stop the workers again.
    order.clear();
    quitProgram(0);
    QVERIFY(order.isEmpty());
}

void TestPlatformHelpers::quitEndsTheProcessCleanly()
{
    TestWorkDir wd;
    QProcess child;
    child.setWorkingDirectory(wd.path());
    child.start(QStringLiteral(QUITCHILD_PATH), QStringList());
    QVERIFY(child.waitForFinished(30000));
    const QByteArray err = child.readAllStandardError();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 7, err.constData());
    QVERIFY2(!err.contains("Sanitizer"), err.constData());
    QVERIFY(wd.read("velqa/workspace/LOG/ERROR_crash.log").isEmpty());
    const QStringList logs = QDir("velqa/workspace/LOG").entryList({"log*.log"}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    const QByteArray log = wd.read("velqa/workspace/LOG/" + logs.first());
    QVERIFY(log.indexOf("worker stopped") < log.indexOf("program exit, code 7"));
}

void TestPlatformHelpers::privilegedCommandsAreRecognised_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("privileged");
    QTest::newRow("mount") << "mount /dev/sdb1 /mnt" << true;
    QTest::newRow("umount") << "umount /mnt" << true;
    QTest::newRow("reboot") << "reboot" << true;
    QTest::newRow("shutdown") << "shutdown -r -t 00" << true;
    QTest::newRow("backlight") << "echo 1 > /sys/class/backlight/intel_backlight/bl_power" << true;
    QTest::newRow("clock") << "date -s \"2026-01-01 08:00:00\"" << true;
    QTest::newRow("root backup") << "cd /root && tar -zcvf /root/rud-OVA-1.tar.gz rud-OVA" << true;
    QTest::newRow("copy to stick") << "cp -rf ./RECORD /mnt/export/" << true;
    QTest::newRow("blkid") << "blkid" << false;
    QTest::newRow("sync") << "sync" << false;
    QTest::newRow("local copy") << "cp -rf ./cammer11 ./paraGroup/a" << false;
    QTest::newRow("system folder name") << "ls ./systemfiles" << false;
}

void TestPlatformHelpers::privilegedCommandsAreRecognised()
{
    QFETCH(QString, command);
    QFETCH(bool, privileged);
    QCOMPARE(LinuxSystemCommands::isPrivileged(command), privileged);
}

void TestPlatformHelpers::linuxCommandsTimeOutAndKill()
{
    LinuxSystemCommands sys(false);
    const auto quick = sys.run("echo hello; exit 4", 5000);
    QVERIFY(quick.started && quick.finished);
    QCOMPARE(quick.exitCode, 4);
    QCOMPARE(quick.output, QByteArray("hello\n"));

    QElapsedTimer timer;
    timer.start();
    const auto slow = sys.run("sleep 20", 300);
    QVERIFY(slow.started);
    QVERIFY(!slow.finished);
    QVERIFY(timer.elapsed() < 5000);
}

void TestPlatformHelpers::linuxCommandsRefusePrivilegedOutsidePanel()
{
    LinuxSystemCommands sys(false);
    const auto refused = sys.run("umount /mnt", 1000);
    QVERIFY(refused.finished);
    QVERIFY(refused.exitCode != 0);
    QVERIFY(!sys.writeFile("/sys/class/backlight/intel_backlight/bl_power", "1"));
    QVERIFY(sys.shell("echo 1 > /sys/class/backlight/intel_backlight/bl_power") != 0);
}

QTEST_MAIN(TestPlatformHelpers)
#include "tst_platformhelpers.moc"
