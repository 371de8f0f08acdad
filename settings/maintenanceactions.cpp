#include "maintenanceactions.h"

#include "cameraregistry.h"
#include "datetimewidget.h"
#include "filecopy.h"
#include "globals.h"
#include "operatorprompt.h"
#include "paramstorage.h"
#include "platformhelpers.h"
#include "systemclock.h"
#include "systemcommands.h"
#include "systemparam.h"
#include "texttable.h"
#include "touchfiledialog.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent>

namespace {

// Copies one file with its modification time (its mode where the disk can
// hold one: a FAT stick cannot). The copy must be at least as long as the
// source was when it was listed: a database or a log being written only grows
// meanwhile. No file is flushed on its own: the export syncs the disk once at
// the end, which takes a fraction of the time of a flush per file.
bool copyFile(const QFileInfo& source, const QString& target, QString* failure)
{
    QFile::remove(target);
    if (!copyRegularFile(source.filePath(), target, FileModeCopy::BestEffort, failure)) {
        return false;
    }
    if (QFileInfo(target).size() < source.size()) {
        *failure = QStringLiteral("copy shorter than its source: ") + target;
        QFile::remove(target);
        return false;
    }
    return true;
}

}  // namespace

MaintenanceActions::MaintenanceActions(const MaintenanceFolders& folders, MaintenanceHooks hooks, QWidget* page)
    : QObject(page), m_folders(folders), m_hooks(std::move(hooks)), m_page(page)
{
    if (!m_hooks.mountUsb) {
        m_hooks.mountUsb = [] { return mountUsbDrive(); };
    }
    if (!m_hooks.chooseUpdateFile) {
        m_hooks.chooseUpdateFile = [](QWidget* parent) {
            QFileDialog dialog(parent, QObject::tr("选择投影数据文件目录"), QStringLiteral("../../ProjectData/"));
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setViewMode(QFileDialog::List);
            dialog.resize(gScreenWidth - 50, gScreenHeight - 100);
            dialog.setNameFilter(QStringLiteral("*.[r,t]ar*"));
            dialog.setDirectory(QStringLiteral("/mnt"));
            dialog.setFont(QFont(QStringLiteral("SimHei"), 20));
            fitFileDialogForTouch(&dialog);
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
                return QString();
            }
            return dialog.selectedFiles().first();
        };
    }
}

template <typename T>
T MaintenanceActions::runAside(std::function<T()> work)
{
    emit busyChanged(true);
    QFutureWatcher<T> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcher<T>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(work));
    if (!watcher.isFinished()) {
        loop.exec();
    }
    emit busyChanged(false);
    return watcher.result();
}

void MaintenanceActions::pause(int ms)
{
    if (ms <= 0) {
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString MaintenanceActions::mountWithRetry()
{
    while (true) {
        const QString mount = runAside<QString>([this] { return m_hooks.mountUsb(); });
        if (!mount.isEmpty()) {
            return mount;
        }
        if (askOperator(textOf(320)) != 1) {
            return QString();
        }
    }
}

MaintenanceActions::CopyResult MaintenanceActions::copyProgramFolder(const QString& source, const QString& target,
                                                                     int cameras, int detects)
{
    CopyResult result;
    const QDir from(source);
    QStringList rawFolders;
    for (int c = 1; c <= cameras; ++c) {
        for (int d = 1; d <= detects; ++d) {
            rawFolders << QStringLiteral("originalimage/cammer%1%2/").arg(c).arg(d);
        }
    }
    const QString targetPath = QFileInfo(target).absoluteFilePath();
    if (!QDir().mkpath(targetPath)) {
        result.ok = false;
        result.failure = QStringLiteral("cannot make ") + targetPath;
        return result;
    }
    QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        const QString absolute = entry.absoluteFilePath();
        // The copy never copies itself when the disk lies inside the folder.
        if (absolute == targetPath || absolute.startsWith(targetPath + QLatin1Char('/'))) {
            continue;
        }
        const QString relative = from.relativeFilePath(absolute);
        const QString destination = QDir(targetPath).filePath(relative);
        if (entry.isSymLink()) {
            continue;
        }
        if (entry.isDir()) {
            if (!QDir().mkpath(destination)) {
                result.ok = false;
                result.failure = QStringLiteral("cannot make ") + destination;
                return result;
            }
            continue;
        }
        if (!entry.isFile()) {
            continue;
        }
        if (!QDir().mkpath(QFileInfo(destination).absolutePath()) || !copyFile(entry, destination, &result.failure)) {
            if (result.failure.isEmpty()) {
                result.failure = QStringLiteral("cannot make the folder of ") + destination;
            }
            result.ok = false;
            return result;
        }
        ++result.files;
        result.bytes += entry.size();
        for (const QString& raw : qAsConst(rawFolders)) {
            if (relative.startsWith(raw)) {
                result.rawFramesCopied << absolute;
                break;
            }
        }
    }
    return result;
}

void MaintenanceActions::exportData()
{
    if (askOperator(textOf(324)) != 1) {
        return;
    }
    const QString mount = mountWithRetry();
    if (mount.isEmpty()) {
        return;
    }
    const QString folderName = clockNow().toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
    const QString source = m_folders.programFolder;
    const QString target = QDir(QDir(mount).filePath(folderName)).filePath(QFileInfo(source).fileName());
    const int cameras = gCameraCount;
    const int detects = gDetectCount;
    // The export is done only once it is on the disk: the operator may pull
    // the stick as soon as the screen says so. One sync of the stick's file
    // system after the last file; it also reports a write the disk refused.
    const QString fileSystem = QFileInfo(mount).absoluteFilePath();
    const CopyResult copied = runAside<CopyResult>([=] {
        CopyResult result = copyProgramFolder(source, target, cameras, detects);
        const SystemCommands::Result synced = systemCommands().perform(SystemOperation::syncDisks(fileSystem));
        if (result.ok && !synced.ok()) {
            result.ok = false;
            result.failure = QStringLiteral("cannot sync ") + fileSystem + QStringLiteral(": ")
                             + QString::fromLocal8Bit(synced.output).trimmed() + synced.refusal;
        }
        return result;
    });
    int removed = 0;
    if (copied.ok) {
        // Only the frames that were copied go, and only once they are on the
        // disk: the cycle may have written new ones meanwhile.
        removed = runAside<int>([files = copied.rawFramesCopied] {
            int n = 0;
            for (const QString& file : files) {
                n += QFile::remove(file) ? 1 : 0;
            }
            return n;
        });
    } else {
        qWarning().noquote() << "export:" << copied.failure;
    }
    // The data is on the disk already: a stick that stays mounted is logged,
    // not an export that failed.
    if (!runAside<bool>([] { return systemCommands().perform(SystemOperation::unmountUsbDisk()).ok(); })) {
        qWarning().noquote() << "export: the USB disk could not be unmounted";
    }
    if (copied.ok) {
        qInfo().noquote() << "export:" << copied.files << "files," << copied.bytes << "bytes to" << target << ";"
                          << removed << "raw frames removed";
        askOperator(textOf(147), 1);
    } else {
        warnOperator(textOf(ExportFailedText));
    }
}

QString MaintenanceActions::updatePackageName(const QString& fileName)
{
    if (fileName.contains(QLatin1String(".tar.gz"))) {
        return QStringLiteral("newupdate.tar.gz");
    }
    if (fileName.contains(QLatin1String(".tar.xz"))) {
        return QStringLiteral("newupdate.tar.xz");
    }
    if (fileName.contains(QLatin1String(".rar"))) {
        return QStringLiteral("newupdate.rar");
    }
    return QString();
}

void MaintenanceActions::updateApp()
{
    if (mountWithRetry().isEmpty()) {
        return;
    }
    const QString chosen = m_hooks.chooseUpdateFile(m_page);
    if (chosen.size() < 3) {
        return;
    }
    if (askOperator(textOf(323)) != 1) {
        return;
    }
    pause(updatePauseMs);
    const QStringList parts = chosen.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString package = updatePackageName(parts.isEmpty() ? QString() : parts.last());
    if (package.isEmpty()) {
        warnOperator(textOf(UpdateNotAPackageText));
        return;
    }
    // The chosen file is copied as a file, whatever its name holds, under a
    // passing name first: the updater never finds half a package.
    const QString programFolder = m_folders.programFolder;
    const bool ok = runAside<bool>([=] {
        const QDir folder(programFolder);
        const QString target = folder.filePath(package);
        const QString partial = target + QStringLiteral(".part");
        QFile::remove(partial);
        if (!QFile::copy(chosen, partial)) {
            QFile::remove(partial);
            return false;
        }
        QFile::remove(target);
        if (!QFile::rename(partial, target)) {
            QFile::remove(partial);
            return false;
        }
        // A new package replaces any older one of another kind.
        for (const QFileInfo& entry : folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (entry.fileName() != package && isUpdatePackageName(entry.fileName())) {
                QFile::remove(entry.filePath());
            }
        }
        return true;
    });
    if (!ok) {
        qWarning().noquote() << "update: cannot copy" << chosen << "to" << package;
        warnOperator(textOf(UpdateCopyFailedText));
        return;
    }
    qInfo().noquote() << "update: package" << chosen << "left as" << package;
}

void MaintenanceActions::restoreFactorySet()
{
    if (askOperator(textOf(551) + QLatin1Char('?')) != 1) {
        return;
    }
    const QDir folder(m_folders.programFolder);
    const QString source = folder.filePath(QStringLiteral("paraGroup/default/20clearsh.tar.gz"));
    if (!QFileInfo(source).isFile()) {
        warnOperator(textOf(FactoryPackageMissingText));
        return;
    }
    const QString target = folder.filePath(QStringLiteral("newupdate.tar.gz"));
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    bool ok = QFile::copy(source, partial);
    if (ok) {
        // A stale package must not install in place of the factory one.
        QFile::remove(target);
        ok = QFile::rename(partial, target);
    }
    if (!ok) {
        QFile::remove(partial);
        warnOperator(textOf(FactoryPackageFailedText));
        return;
    }
    askOperator(textOf(FactoryPackageReadyText), 1);
}

void MaintenanceActions::rebootAndQuit()
{
    pause(rebootPauseMs);
    if (m_hooks.flushAll) {
        m_hooks.flushAll();
    }
    runAside<bool>([] { return systemCommands().perform(SystemOperation::reboot()).ok(); });
    // Whether or not the machine restarts, the program does not run on with
    // its databases closed.
    quitProgram(0);
}

void MaintenanceActions::calibrate()
{
    const SystemCommands::Result result =
        runAside<SystemCommands::Result>([] { return systemCommands().perform(SystemOperation::calibrateTouch()); });
    if (!result.ok()) {
        warnOperator(textOf(CalibrationFailedText));
        return;
    }
    rebootAndQuit();
}

void MaintenanceActions::exitSystem()
{
    if (askOperator(textOf(294)) != 1) {
        return;
    }
    if (m_hooks.insertRecord) {
        m_hooks.insertRecord(textOf(295));
    }
    if (m_hooks.applyPages) {
        m_hooks.applyPages();
    }
    saveSysParam(gpSystemParam);
    askOperator(textOf(296), 1);
    if (m_hooks.closeCameras) {
        m_hooks.closeCameras();
    }
    quitProgram(0);
}

void MaintenanceActions::openClockDialog(QWidget* mainWindow)
{
    auto* dialog = new modifyTimeWidget;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Centred on the main window, which fills the screen.
    const int width = mainWindow ? mainWindow->width() : gScreenWidth;
    const int height = mainWindow ? mainWindow->height() : gScreenHeight;
    dialog->move((width - dialog->width()) / 2, (height - dialog->height()) / 2);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &modifyTimeWidget::sendModifyTime, this, &MaintenanceActions::timeChosen);
    dialog->show();
}

void MaintenanceActions::timeChosen(const QDateTime& time)
{
    if (askOperator(textOf(402)) != 1) {
        return;
    }
    const SystemCommands::Result result =
        runAside<SystemCommands::Result>([time] { return systemCommands().perform(SystemOperation::setClock(time)); });
    if (!result.ok()) {
        warnOperator(textOf(ClockFailedText));
        return;
    }
    if (m_hooks.applyPages) {
        m_hooks.applyPages();
    }
    saveSysParam(gpSystemParam);
    if (m_hooks.insertRecord) {
        m_hooks.insertRecord(textOf(401));
    }
    rebootAndQuit();
}

bool MaintenanceActions::changePassword(const QString& password, const QString& confirmation)
{
    if (password.isEmpty() || confirmation.isEmpty()) {
        warnOperator(textOf(278));
        return false;
    }
    if (password != confirmation) {
        warnOperator(textOf(280));
        return false;
    }
    // What was typed is what opens the settings: a longer password, or one
    // the record cannot hold, is refused rather than cut.
    if (password.size() > MaxPasswordLength || !gpSystemParamEdit || !gpSystemParamEdit->setPasswordText(password)) {
        warnOperator(textOf(PasswordTooLongText));
        return false;
    }
    askOperator(textOf(279), 1);
    return true;
}
