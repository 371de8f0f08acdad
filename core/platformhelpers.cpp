#include "platformhelpers.h"

#include "mainwindowhooks.h"
#include "systemcommands.h"

#include <QCoreApplication>
#include <QDebug>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <QSocketNotifier>
#include <QStringList>

#include <glog/logging.h>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

QMutex gQuitHookMutex;

// Read and write ends of the pipe that carries caught signals to the event loop.
int gSignalPipe[2] = {-1, -1};

// Runs in whatever thread the signal interrupted: only async-signal-safe calls.
extern "C" void onQuitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a signal that will quit the program.
    const ssize_t written = ::write(gSignalPipe[1], &number, 1);
    static_cast<void>(written);
    errno = savedErrno;
}
QList<QPair<QString, std::function<void()>>> gQuitHooks;

// The disk a partition belongs to: the device path without its trailing
// digits ("/dev/sda2" -> "/dev/sda", "/dev/nvme0n1p2" -> "/dev/nvme0n1p").
// Empty when nothing but digits would remain.
QString diskOf(const QString& device)
{
    int end = device.size();
    while (end > 0 && device.at(end - 1).isDigit()) {
        --end;
    }
    return end > 0 ? device.left(end) : QString();
}

QStringList nonEmptyLines(const QByteArray& text)
{
    return QString::fromLocal8Bit(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool mountsHold(const QByteArray& mounts, const QString& entry)
{
    for (const QString& line : nonEmptyLines(mounts)) {
        if (line.contains(entry)) {
            return true;
        }
    }
    return false;
}

// The devices that /proc/mounts shows mounted at the root or boot folders:
// their disks hold the running system whatever their file system is.
QSet<QString> systemDisksFromMounts(const QByteArray& mounts)
{
    QSet<QString> disks;
    for (const QString& line : nonEmptyLines(mounts)) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() < 2 || !fields.at(0).startsWith(QLatin1String("/dev/"))) {
            continue;
        }
        const QString& where = fields.at(1);
        if (where == QLatin1String("/") || where == QLatin1String("/boot")
            || where.startsWith(QLatin1String("/boot/"))) {
            const QString disk = diskOf(fields.at(0));
            if (!disk.isEmpty()) {
                disks.insert(disk);
            }
        }
    }
    return disks;
}

} // namespace

void addQuitHook(const QString& name, std::function<void()> hook)
{
    QMutexLocker lock(&gQuitHookMutex);
    gQuitHooks.append({name, std::move(hook)});
}

void runQuitHooks()
{
    QList<QPair<QString, std::function<void()>>> hooks;
    {
        QMutexLocker lock(&gQuitHookMutex);
        hooks.swap(gQuitHooks);
    }
    for (int i = hooks.size() - 1; i >= 0; --i) {
        qInfo() << "quit:" << hooks.at(i).first;
        hooks.at(i).second();
    }
}

void waitBeforeQuit()
{
    systemCommands().sleepMs(1000);
}

void quitProgram(int exitCode)
{
    // Worker threads are stopped and the outputs put at rest while the event
    // loop's objects still exist; only then may the exit processing run.
    runQuitHooks();
    waitBeforeQuit();
    qInfo() << "program exit, code" << exitCode;
    google::FlushLogFiles(google::GLOG_INFO);
    systemCommands().exitProcess(exitCode);
}

void quitOnSignals()
{
    if (gSignalPipe[0] >= 0) {
        return;
    }
    if (!QCoreApplication::instance()) {
        qWarning() << "quitOnSignals: no application object; signals end the program at once";
        return;
    }
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning() << "quitOnSignals: no pipe:" << strerror(errno);
        gSignalPipe[0] = gSignalPipe[1] = -1;
        return;
    }
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        unsigned char number = 0;
        if (::read(gSignalPipe[0], &number, 1) != 1) {
            return;
        }
        // One quit: further signals wait in the pipe while the hooks run.
        notifier->setEnabled(false);
        qWarning() << "signal" << number << "received: the program quits";
        quitProgram(128 + number);
    });

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGINT, SIGTERM}) {
        if (::sigaction(signalNumber, &action, nullptr) != 0) {
            qWarning() << "quitOnSignals: signal" << signalNumber << "not caught:" << strerror(errno);
        }
    }
}

void setBacklight(bool on)
{
    // The flag follows the request whatever the switch did: the screen is
    // woken by the next press in any case.
    systemCommands().perform(SystemOperation::backlight(on));
    if (MainWindowHooks* window = mainWindowHooks()) {
        window->setBacklightOff(!on);
    }
}

QString mountUsbDrive()
{
    SystemCommands& sys = systemCommands();

    const SystemCommands::Result blkid = sys.perform(SystemOperation::listBlockDevices());
    if (blkid.output.isEmpty()) {
        qWarning() << "mountUsbDrive: blkid printed nothing";
        return QString();
    }

    bool mountsOk = false;
    const QByteArray mountsBefore = sys.readFile(QStringLiteral("/proc/mounts"), &mountsOk);
    if (!mountsOk) {
        qWarning() << "mountUsbDrive: /proc/mounts cannot be read";
        return QString();
    }

    // Every disk that carries an ext4 partition or the mounted system is the
    // system's own, wherever blkid lists it: a later line must not make us
    // forget an earlier system disk.
    QSet<QString> systemDisks = systemDisksFromMounts(mountsBefore);
    const QStringList lines = nonEmptyLines(blkid.output);
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("TYPE=\"ext4\""))) {
            const QString disk = diskOf(line.section(QLatin1Char(':'), 0, 0));
            if (!disk.isEmpty()) {
                systemDisks.insert(disk);
            }
        }
    }

    bool ext4Seen = false;
    QString partition;
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("TYPE=\"ext4\""))) {
            ext4Seen = true;
            continue;
        }
        if (!line.contains(QLatin1String("TYPE=\"vfat\"")) && !line.contains(QLatin1String("TYPE=\"ntfs\""))
            && !line.contains(QLatin1String("TYPE=\"exfat\""))) {
            continue;
        }
        // Until the system disk is known nothing may be taken for a USB disk.
        if (!ext4Seen) {
            continue;
        }
        const QString device = line.section(QLatin1Char(':'), 0, 0);
        bool onSystemDisk = false;
        for (const QString& disk : qAsConst(systemDisks)) {
            if (device.contains(disk)) {
                onSystemDisk = true;
                break;
            }
        }
        if (!onSystemDisk) {
            partition = device;
            break;
        }
    }
    if (partition.isEmpty()) {
        qWarning() << "mountUsbDrive: no USB partition";
        return QString();
    }

    int mountedAtMnt = 0;
    for (const QString& line : nonEmptyLines(mountsBefore)) {
        if (line.contains(QLatin1String(kUsbMountPoint))) {
            ++mountedAtMnt;
        }
    }
    for (int i = 0; i < mountedAtMnt; ++i) {
        const SystemCommands::Result umount = sys.perform(SystemOperation::unmountUsbDisk());
        if (!umount.finished || umount.exitCode != 0) {
            qWarning() << "mountUsbDrive: umount /mnt failed:" << umount.exitCode << umount.output;
        }
    }

    // The partition name comes from blkid's output: it reaches mount as one
    // argument, whatever characters it holds.
    const SystemCommands::Result mount = sys.perform(SystemOperation::mountUsbDisk(partition));
    if (!mount.finished || mount.exitCode != 0) {
        qWarning() << "mountUsbDrive: mount of" << partition << "failed:" << mount.exitCode << mount.output;
        return QString();
    }

    const QByteArray mountsAfter = sys.readFile(QStringLiteral("/proc/mounts"), &mountsOk);
    if (!mountsOk) {
        return QString();
    }
    if (!mountsHold(mountsAfter, partition + QLatin1Char(' ') + QLatin1String(kUsbMountPoint))) {
        qWarning() << "mountUsbDrive:" << partition << "does not show up at /mnt";
        return QString();
    }
    qInfo() << "mountUsbDrive:" << partition << "mounted at /mnt";
    return QString::fromLatin1(kUsbMountPoint);
}
