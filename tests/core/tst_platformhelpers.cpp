#include "platformhelpers.h"
#include "recordingsystemcommands.h"
#include "testworkdir.h"
#include "systemcommands.h"
#include "fakemainwindow.h"

#include <QDir>
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
    void strangeDeviceNameReachesMountAsOneArgument();
    void backlightFollowsRequest();
    void quitProgramStopsWorkersThenExits();
    void quitEndsTheProcessCleanly();
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
    sys.script(SystemOperation::listBlockDevices(), RecordingSystemCommands::finished(0, blkid));
    const QByteArray mountsAfter = mountsBefore + mounted.toUtf8() + " /mnt vfat rw 0 0\n";
    sys.setFileSequence("/proc/mounts", {mountsBefore, mountsAfter});

    const QString result = ::mountUsbDrive();

    if (mounted.isEmpty()) {
        QCOMPARE(result, QString());
        QCOMPARE(sys.performed(), QStringList{"blkid"});
    } else {
        QCOMPARE(result, QString("/mnt"));
        QCOMPARE(sys.operations,
                 (QList<SystemOperation>{SystemOperation::listBlockDevices(), SystemOperation::mountUsbDisk(mounted)}));
    }
    for (const SystemOperation& op : qAsConst(sys.operations)) {
        QVERIFY(op.timeoutMs() >= 3000);
    }
}

void TestPlatformHelpers::mountUsbDriveUnmountsEveryMountFirst()
{
    RecordingSystemCommands sys;
    sys.script(SystemOperation::listBlockDevices(),
               RecordingSystemCommands::finished(0, "/dev/sda2: TYPE=\"ext4\"\n/dev/sdb1: TYPE=\"vfat\"\n"));
    const QByteArray before = kMountsPlain + "/dev/sdd1 /mnt vfat rw 0 0\n/dev/sde1 /mnt vfat rw 0 0\n";
    sys.setFileSequence("/proc/mounts", {before, kMountsPlain + "/dev/sdb1 /mnt vfat rw 0 0\n"});

    QCOMPARE(::mountUsbDrive(), QString("/mnt"));
    QCOMPARE(sys.performed(), (QStringList{"blkid", "umount /mnt", "umount /mnt", "mount /dev/sdb1 /mnt"}));
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
    sys.script(SystemOperation::listBlockDevices(), RecordingSystemCommands::finished(blkid.isEmpty() ? 2 : 0, blkid));
    sys.script(SystemOperation::mountUsbDisk("/dev/sdb1"), RecordingSystemCommands::finished(mountExit));
    if (mountsReadable) {
        sys.setFileSequence("/proc/mounts",
                            {kMountsPlain, showsUp ? kMountsPlain + "/dev/sdb1 /mnt vfat rw 0 0\n" : kMountsPlain});
    }
    QCOMPARE(::mountUsbDrive(), QString());
}

void TestPlatformHelpers::strangeDeviceNameReachesMountAsOneArgument()
{
    // blkid shows whatever name the kernel or a udev rule gave the partition.
    const QString device = "/dev/disk/by-label/My Stick; touch pwned $(reboot) `id` && x";
    RecordingSystemCommands sys;
    sys.script(SystemOperation::listBlockDevices(),
               RecordingSystemCommands::finished(
                   0, "/dev/sda2: TYPE=\"ext4\"\n" + device.toUtf8() + ": LABEL=\"My Stick\" TYPE=\"vfat\"\n"));
    sys.setFileSequence("/proc/mounts", {kMountsPlain, kMountsPlain + device.toUtf8() + " /mnt vfat rw 0 0\n"});

    QCOMPARE(::mountUsbDrive(), QString("/mnt"));
    QCOMPARE(sys.operations.size(), 2);
    const SystemOperation mount = sys.operations.at(1);
    QCOMPARE(mount.kind(), SystemOperation::MountUsbDisk);
    QCOMPARE(mount.path(), device);
    QCOMPARE(mount.commandLines("/mnt", "/root"), (QList<QStringList>{{"mount", device, "/mnt"}}));
}

void TestPlatformHelpers::backlightFollowsRequest()
{
    RecordingSystemCommands sys;
    FakeMainWindow window;
    setBacklight(false);
    QVERIFY(window.backlightOff);
    setBacklight(true);
    QVERIFY(!window.backlightOff);
    QCOMPARE(sys.performed(), (QStringList{"backlight off", "backlight on"}));
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

QTEST_MAIN(TestPlatformHelpers)
#include "tst_platformhelpers.moc"
