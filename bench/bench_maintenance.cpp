// The export to a USB disk against the blocking copy it replaces:
// - our export (copy on a worker, the GUI thread in a nested event loop) of a
//   folder of files between 100 KB and 20 MB, 1 GB in all by default
//   (first argument: megabytes);
// - "cp -r" of the same folder run on the GUI thread, as the panel did, then
//   "sync -f" of its file system: the export is done only once its copy is on
//   the disk, so the baseline pays for the same guarantee;
// for both the copy time and the worst lateness of a 100 ms timer on the GUI
// thread, and their ratios. The page cache is warmed by a first read, so both
// copy from memory.

#include "benchsupport.h"
#include "cameraregistry.h"
#include "maintenanceactions.h"
#include "systemparam.h"
#include "operatorprompt.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <random>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 totalMb = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    QTemporaryDir work;
    const QString program = work.filePath("rud-OVA");
    std::mt19937 random(7);
    std::uniform_int_distribution<qint64> sizes(100 * 1024, 20 * 1024 * 1024);
    qint64 written = 0;
    int files = 0;
    QByteArray block(20 * 1024 * 1024, 'k');
    while (written < totalMb * 1024 * 1024) {
        const qint64 size = sizes(random);
        const QString name = QStringLiteral("%1/originalimage/cammer%2%3/%4.bmp")
                                 .arg(program).arg(files % 2 + 1).arg(files % 4 / 2 + 1).arg(files);
        writeFillFile(name, size, block);
        written += size;
        ++files;
    }
    std::printf("folder: %d files, %lld MB\n", files, written >> 20);
    // Warm the page cache so that both copies read from memory.
    warmPageCache(work.path(), {"rud-OVA"});
    // The folder's own writes reach the disk now: the first sync measured
    // would pay for them otherwise.
    QProcess::execute("sync", {"-f", work.path()});

    LatenessProbe probe;
    // Baseline: the blocking copy on the GUI thread.
    QDir().mkpath(work.filePath("usb-cp"));
    probe.start();
    QElapsedTimer timer;
    timer.start();
    QProcess::execute("cp", {"-r", program, work.filePath("usb-cp/")});
    QProcess::execute("sync", {"-f", work.filePath("usb-cp")});
    const qint64 cpMs = timer.elapsed();
    QCoreApplication::processEvents();
    const qint64 cpLate = probe.stop();
    QDir(work.filePath("usb-cp")).removeRecursively();

    // Ours: the copy of the export, with the GUI thread's event loop running.
    probe.start();
    timer.restart();
    setAskOperatorHandler([](const QString&, int) { return 1; });
    bool failed = false;
    setWarnOperatorHandler([&failed](const QString&) { failed = true; });
    gCameraCount = 2;
    gDetectCount = 2;
    MaintenanceFolders folders;
    folders.programFolder = program;
    folders.backupFolder = work.path();
    MaintenanceHooks hooks;
    const QString usb = work.filePath("usb-ours");
    QDir().mkpath(usb);
    hooks.mountUsb = [usb] { return usb; };
    MaintenanceActions actions(folders, hooks, nullptr);
    // The copy and its sync are the second piece of work the export hands to
    // its worker (after the mount); the removal and unmount follow it.
    QList<qint64> busy;
    QObject::connect(&actions, &MaintenanceActions::busyChanged, [&](bool) { busy << timer.elapsed(); });
    actions.exportData();
    const qint64 oursMs = busy.size() >= 4 ? busy[3] - busy[2] : timer.elapsed();
    const qint64 oursLate = probe.stop();
    if (failed) {
        std::printf("export failed\n");
        return 1;
    }
    std::printf("cp -r + sync on GUI thread: %lld ms, timer late by up to %lld ms\n", cpMs, cpLate);
    std::printf("export on a worker:         %lld ms, timer late by up to %lld ms\n", oursMs, oursLate);
    std::printf("time ratio (ours / cp -r + sync): %.2f (at most 1.25 wanted)\n", double(oursMs) / qMax<qint64>(1, cpMs));
    std::printf("worst lateness: ours %lld ms against %lld ms (under 200 ms wanted)\n", oursLate, cpLate);
    return 0;
}
