#include "systemcommands.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cstdlib>

const char* const kUsbMountPoint = "/mnt";
const char* const kProgramRoot = "/root";
const char* const kBacklightFile = "/sys/class/backlight/intel_backlight/bl_power";

namespace {

SystemCommands* gOverride = nullptr;

#ifdef KORVANE_PANEL
constexpr bool kPanelBuild = true;
#else
constexpr bool kPanelBuild = false;
#endif

// The installed program's folder inside the program root.
const char* const kProgramFolderName = "rud-OVA";

constexpr int kQuickCommandTimeoutMs = 3000;
constexpr int kPowerCommandTimeoutMs = 10000;
constexpr int kSyncTimeoutMs = 60000;
constexpr int kUntilItEnds = -1;

QString clockText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString backupName(const QDateTime& time)
{
    return QStringLiteral("%1-%2.tar.gz")
        .arg(QLatin1String(kProgramFolderName), time.toString(QStringLiteral("yyyy-MM-dd-hh:mm:ss")));
}

// One component of a path: no separator, not "." or "..", nothing invisible
// to a file system.
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && !name.contains(QChar(0));
}

bool isInside(const QString& path, const QString& root)
{
    if (root.isEmpty()) {
        return false;
    }
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.startsWith(prefix) && path.size() > prefix.size();
}

// The path with its links followed as far as it exists: the folder a removal
// would really reach.
QString resolved(const QString& path)
{
    QString existing = QDir::cleanPath(path);
    QStringList rest;
    while (!existing.isEmpty() && !QFileInfo::exists(existing)) {
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0) {
            return QDir::cleanPath(path);
        }
        rest.prepend(existing.mid(slash + 1));
        existing = existing.left(slash);
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty()) {
        return QDir::cleanPath(path);
    }
    return rest.isEmpty() ? canonical : canonical + QLatin1Char('/') + rest.join(QLatin1Char('/'));
}

bool isOldBackup(const QString& name)
{
    if (!name.contains(QLatin1String(".tar.gz"))) {
        return false;
    }
    const QStringList parts = name.split(QLatin1Char('-'));
    return parts.size() > 2 && parts.at(0) + QLatin1Char('-') + parts.at(1) == QLatin1String(kProgramFolderName);
}

bool isOldUpdate(const QString& name)
{
    return name.split(QLatin1Char('.')).first() == QLatin1String("newupdate");
}

bool removeEntry(const QFileInfo& entry)
{
    // A link is removed itself; what it points to is never reached.
    if (entry.isDir() && !entry.isSymLink()) {
        return QDir(entry.filePath()).removeRecursively();
    }
    return QFile::remove(entry.filePath());
}

SystemCommands::Result done(int exitCode, const QByteArray& output = {})
{
    SystemCommands::Result r;
    r.started = true;
    r.finished = true;
    r.exitCode = exitCode;
    r.output = output;
    return r;
}

} // namespace

SystemOperation::SystemOperation(Kind kind, int timeoutMs)
    : m_kind(kind)
    , m_timeoutMs(timeoutMs)
{
}

SystemOperation SystemOperation::listBlockDevices()
{
    return SystemOperation(ListBlockDevices, kMountCommandTimeoutMs);
}

SystemOperation SystemOperation::mountUsbDisk(const QString& device)
{
    SystemOperation op(MountUsbDisk, kMountCommandTimeoutMs);
    op.m_path = device;
    return op;
}

SystemOperation SystemOperation::unmountUsbDisk()
{
    return SystemOperation(UnmountUsbDisk, kMountCommandTimeoutMs);
}

SystemOperation SystemOperation::syncDisks(const QString& fileSystemOf)
{
    SystemOperation op(SyncDisks, kSyncTimeoutMs);
    op.m_path = fileSystemOf;
    return op;
}

SystemOperation SystemOperation::copyToUsbDisk(const QString& source, const QString& folderName)
{
    SystemOperation op(CopyToUsbDisk, kUntilItEnds);
    op.m_path = source;
    op.m_name = folderName;
    return op;
}

SystemOperation SystemOperation::removeFolderContents(const QString& folder)
{
    SystemOperation op(RemoveFolderContents, kUntilItEnds);
    op.m_path = folder;
    return op;
}

SystemOperation SystemOperation::setClock(const QDateTime& time)
{
    SystemOperation op(SetClock, kQuickCommandTimeoutMs);
    op.m_time = time;
    return op;
}

SystemOperation SystemOperation::reboot()
{
    return SystemOperation(Reboot, kPowerCommandTimeoutMs);
}

SystemOperation SystemOperation::powerOff()
{
    return SystemOperation(PowerOff, kPowerCommandTimeoutMs);
}

SystemOperation SystemOperation::calibrateTouch()
{
    return SystemOperation(CalibrateTouch, kUntilItEnds);
}

SystemOperation SystemOperation::backlight(bool on)
{
    SystemOperation op(Backlight, kQuickCommandTimeoutMs);
    op.m_flag = on;
    return op;
}

SystemOperation SystemOperation::restartProgram()
{
    return SystemOperation(RestartProgram, kQuickCommandTimeoutMs);
}

SystemOperation SystemOperation::backupProgramFolder(const QDateTime& time)
{
    SystemOperation op(BackupProgramFolder, kUntilItEnds);
    op.m_time = time;
    return op;
}

SystemOperation SystemOperation::removeOldBackups()
{
    return SystemOperation(RemoveOldBackups, kUntilItEnds);
}

SystemOperation SystemOperation::removeOldUpdates()
{
    return SystemOperation(RemoveOldUpdates, kUntilItEnds);
}

SystemOperation SystemOperation::storeUpdatePackage(const QString& sourceFile, const QString& suffix, bool replace)
{
    SystemOperation op(StoreUpdatePackage, kUntilItEnds);
    op.m_path = sourceFile;
    op.m_name = suffix;
    op.m_flag = replace;
    return op;
}

QString SystemOperation::problem() const
{
    switch (m_kind) {
    case MountUsbDisk:
        // Only a device node can be mounted; this also keeps the name from
        // being read as one of mount's options.
        if (!m_path.startsWith(QLatin1String("/dev/")) || m_path.size() <= 5 || m_path.contains(QChar(0))) {
            return QStringLiteral("not a device: \"%1\"").arg(m_path);
        }
        return {};
    case CopyToUsbDisk:
        if (m_path.isEmpty() || m_path.contains(QChar(0))) {
            return QStringLiteral("no folder to copy");
        }
        if (!isPlainName(m_name)) {
            return QStringLiteral("not a folder name: \"%1\"").arg(m_name);
        }
        return {};
    case RemoveFolderContents:
        if (m_path.isEmpty() || m_path.contains(QChar(0))) {
            return QStringLiteral("no folder given");
        }
        return {};
    case SyncDisks:
        if (!m_path.isEmpty() && (!m_path.startsWith(QLatin1Char('/')) || m_path.contains(QChar(0)))) {
            return QStringLiteral("not an absolute path: \"%1\"").arg(m_path);
        }
        return {};
    case SetClock:
    case BackupProgramFolder:
        if (!m_time.isValid()) {
            return QStringLiteral("no valid time");
        }
        return {};
    case StoreUpdatePackage:
        if (m_path.isEmpty() || m_path.contains(QChar(0))) {
            return QStringLiteral("no package file");
        }
        if (!isPlainName(QStringLiteral("newupdate") + m_name)) {
            return QStringLiteral("not a package suffix: \"%1\"").arg(m_name);
        }
        return {};
    default:
        return {};
    }
}

QString SystemOperation::describe() const
{
    const QString mount = QString::fromLatin1(kUsbMountPoint);
    switch (m_kind) {
    case ListBlockDevices:
        return QStringLiteral("blkid");
    case MountUsbDisk:
        return QStringLiteral("mount %1 %2").arg(m_path, mount);
    case UnmountUsbDisk:
        return QStringLiteral("umount %1").arg(mount);
    case SyncDisks:
        return m_path.isEmpty() ? QStringLiteral("sync") : QStringLiteral("sync -f %1").arg(m_path);
    case CopyToUsbDisk:
        return QStringLiteral("copy %1 to %2/%3/").arg(m_path, mount, m_name);
    case RemoveFolderContents:
        return QStringLiteral("empty %1").arg(m_path);
    case SetClock:
        return QStringLiteral("set clock %1").arg(clockText(m_time));
    case Reboot:
        return QStringLiteral("reboot");
    case PowerOff:
        return QStringLiteral("power off");
    case CalibrateTouch:
        return QStringLiteral("calibrate touch");
    case Backlight:
        return m_flag ? QStringLiteral("backlight on") : QStringLiteral("backlight off");
    case RestartProgram:
        return QStringLiteral("restart program");
    case BackupProgramFolder:
        return QStringLiteral("back up program folder as %1").arg(backupName(m_time));
    case RemoveOldBackups:
        return QStringLiteral("remove old backups");
    case RemoveOldUpdates:
        return QStringLiteral("remove old updates");
    case StoreUpdatePackage:
        return QStringLiteral("store %1 as newupdate%2%3")
            .arg(m_path, m_name, m_flag ? QStringLiteral(", replacing") : QString());
    }
    return QStringLiteral("?");
}

QList<QStringList> SystemOperation::commandLines(const QString& mountPoint, const QString& programRoot) const
{
    switch (m_kind) {
    case ListBlockDevices:
        return {{QStringLiteral("blkid")}};
    case MountUsbDisk:
        return {{QStringLiteral("mount"), m_path, mountPoint}};
    case UnmountUsbDisk:
        return {{QStringLiteral("umount"), mountPoint}};
    case SyncDisks:
        if (m_path.isEmpty()) {
            return {{QStringLiteral("sync")}};
        }
        return {{QStringLiteral("sync"), QStringLiteral("-f"), QStringLiteral("--"), m_path}};
    case CopyToUsbDisk: {
        const QString target = mountPoint + QLatin1Char('/') + m_name;
        return {{QStringLiteral("mkdir"), QStringLiteral("-p"), QStringLiteral("--"), target},
                {QStringLiteral("cp"), QStringLiteral("-rf"), QStringLiteral("--"), m_path, target + QLatin1Char('/')}};
    }
    case SetClock:
        return {{QStringLiteral("date"), QStringLiteral("-s"), clockText(m_time)},
                {QStringLiteral("hwclock"), QStringLiteral("--systohc")}};
    case Reboot:
        return {{QStringLiteral("reboot")}};
    case PowerOff:
        return {{QStringLiteral("poweroff")}};
    case CalibrateTouch:
        return {{QStringLiteral("./tsc")}};
    case BackupProgramFolder:
        // The time holds colons: without --force-local tar could take the
        // name for a remote archive.
        return {{QStringLiteral("tar"), QStringLiteral("--force-local"), QStringLiteral("-C"), programRoot,
                 QStringLiteral("-zcf"), programRoot + QLatin1Char('/') + backupName(m_time),
                 QLatin1String(kProgramFolderName)}};
    case RemoveFolderContents:
    case Backlight:
    case RestartProgram:
    case RemoveOldBackups:
    case RemoveOldUpdates:
    case StoreUpdatePackage:
        return {};
    }
    return {};
}

QString SystemOperation::folderProblem(const QString& folder, const QString& workDir, const QString& mountPoint)
{
    if (folder.isEmpty()) {
        return QStringLiteral("no folder given");
    }
    const QString target = resolved(QDir(workDir).absoluteFilePath(folder));
    if (isInside(target, resolved(QDir(workDir).absolutePath()))
        || (!mountPoint.isEmpty() && isInside(target, resolved(mountPoint)))) {
        return {};
    }
    return QStringLiteral("%1 lies outside the working folder and the USB disk").arg(target);
}

bool SystemOperation::operator==(const SystemOperation& other) const
{
    return m_kind == other.m_kind && m_path == other.m_path && m_name == other.m_name && m_time == other.m_time
           && m_flag == other.m_flag && m_timeoutMs == other.m_timeoutMs;
}

SystemCommands::Result SystemCommands::refused(const QString& why)
{
    Result r;
    r.refusal = why;
    return r;
}

SystemCommands::Result SystemCommands::perform(const SystemOperation& operation)
{
    QString problem = operation.problem();
    if (problem.isEmpty() && operation.kind() == SystemOperation::RemoveFolderContents) {
        problem = SystemOperation::folderProblem(operation.path(), QDir::currentPath(), usbMountPoint());
    }
    if (!problem.isEmpty()) {
        qWarning().noquote() << "system operation refused:" << operation.describe() << "-" << problem;
        return refused(problem);
    }
    return execute(operation);
}

LinuxSystemCommands::LinuxSystemCommands(bool privileged)
    : LinuxSystemCommands(privileged, Places())
{
}

LinuxSystemCommands::LinuxSystemCommands(bool privileged, Places places)
    : m_privileged(privileged)
    , m_places(std::move(places))
{
}

bool LinuxSystemCommands::allowedOutsidePanel(const SystemOperation& operation)
{
    switch (operation.kind()) {
    case SystemOperation::ListBlockDevices:
    case SystemOperation::SyncDisks:
    case SystemOperation::RestartProgram:
        return true;
    case SystemOperation::RemoveFolderContents:
        // The working folder only: the mount point is the machine's, not ours.
        return SystemOperation::folderProblem(operation.path(), QDir::currentPath(), QString()).isEmpty();
    default:
        return false;
    }
}

SystemCommands::Result LinuxSystemCommands::execute(const SystemOperation& operation)
{
    if (!m_privileged && !allowedOutsidePanel(operation)) {
        qWarning().noquote() << "system operation not run outside the panel:" << operation.describe();
        return refused(QStringLiteral("not run outside the panel"));
    }
    switch (operation.kind()) {
    case SystemOperation::RemoveFolderContents:
        return removeContents(operation.path());
    case SystemOperation::Backlight:
        return switchBacklight(operation.flag());
    case SystemOperation::RestartProgram:
        return restart();
    case SystemOperation::RemoveOldBackups:
        return removeMatching(m_places.programRoot, isOldBackup);
    case SystemOperation::RemoveOldUpdates:
        return removeMatching(QDir(m_places.programRoot).filePath(QLatin1String(kProgramFolderName)), isOldUpdate);
    case SystemOperation::StoreUpdatePackage:
        return storePackage(operation);
    case SystemOperation::BackupProgramFolder:
        if (!QFileInfo(QDir(m_places.programRoot).filePath(QLatin1String(kProgramFolderName))).isDir()) {
            return done(0, "no program folder to back up");
        }
        break;
    default:
        break;
    }
    return runPrograms(operation.commandLines(m_places.mountPoint, m_places.programRoot), operation.timeoutMs());
}

SystemCommands::Result LinuxSystemCommands::runPrograms(const QList<QStringList>& commandLines, int timeoutMs)
{
    Result result = done(0);
    for (const QStringList& line : commandLines) {
        QString program = line.first();
        if (!m_places.programFolder.isEmpty() && !program.startsWith(QLatin1String("./"))) {
            program = QDir(m_places.programFolder).filePath(program);
            if (!QFileInfo(program).isExecutable()) {
                qWarning().noquote() << "system operation: no program" << program;
                return Result();
            }
        }
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        // Program and arguments go to the kernel as they are: no shell reads them.
        process.start(program, line.mid(1), QIODevice::ReadWrite);
        result = Result();
        if (!process.waitForStarted(timeoutMs < 0 ? 30000 : timeoutMs)) {
            qWarning().noquote() << "system operation:" << program << "cannot be started:" << process.errorString();
            return result;
        }
        result.started = true;
        process.closeWriteChannel();
        if (process.waitForFinished(timeoutMs)) {
            result.finished = true;
            result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        } else {
            // A program that hangs must not outlive the call that gave up on it.
            process.kill();
            process.waitForFinished(1000);
        }
        result.output = process.readAll();
        if (!result.ok()) {
            qWarning().noquote() << "system operation:" << line.join(QLatin1Char(' ')) << "failed, exit code"
                                 << result.exitCode << result.output;
            return result;
        }
    }
    return result;
}

SystemCommands::Result LinuxSystemCommands::removeContents(const QString& folder)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        return done(0);  // nothing in it to remove
    }
    QStringList failed;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (!removeEntry(entry)) {
            failed.append(entry.fileName());
        }
    }
    if (!failed.isEmpty()) {
        qWarning().noquote() << "system operation: not removed from" << folder << ":" << failed.join(QLatin1String(", "));
        return done(1, failed.join(QLatin1Char('\n')).toLocal8Bit());
    }
    return done(0);
}

SystemCommands::Result LinuxSystemCommands::switchBacklight(bool on)
{
    // The control file reads 0 for a lit screen and 1 for a dark one.
    QFile file(m_places.backlightFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(on ? "0" : "1") != 1) {
        qWarning().noquote() << "backlight:" << m_places.backlightFile << "cannot be written:" << file.errorString();
        return done(1);
    }
    return done(0);
}

SystemCommands::Result LinuxSystemCommands::restart()
{
    const QString program = QCoreApplication::applicationFilePath();
    if (!QProcess::startDetached(program, {})) {
        qWarning().noquote() << "restart:" << program << "cannot be started";
        return Result();
    }
    return done(0);
}

SystemCommands::Result LinuxSystemCommands::removeMatching(const QString& folder, bool (*matches)(const QString&))
{
    const QDir dir(folder);
    if (!dir.exists()) {
        return done(0);
    }
    int failures = 0;
    const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (matches(entry.fileName()) && !removeEntry(entry)) {
            qWarning().noquote() << "system operation:" << entry.filePath() << "cannot be removed";
            ++failures;
        }
    }
    return done(failures == 0 ? 0 : 1);
}

SystemCommands::Result LinuxSystemCommands::storePackage(const SystemOperation& operation)
{
    const QDir folder(QDir(m_places.programRoot).filePath(QLatin1String(kProgramFolderName)));
    const QString target = folder.filePath(QStringLiteral("newupdate") + operation.name());
    if (QFileInfo::exists(target) && !operation.flag()) {
        return done(1, "a package is there already");
    }
    if (!QFileInfo(operation.path()).isFile()) {
        qWarning().noquote() << "update package:" << operation.path() << "is not a file";
        return done(1);
    }
    // Copied under a passing name and renamed: the updater never finds half a package.
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QDir().mkpath(folder.path()) || !QFile::copy(operation.path(), partial)) {
        QFile::remove(partial);
        qWarning().noquote() << "update package:" << operation.path() << "cannot be copied to" << target;
        return done(1);
    }
    if (QFileInfo::exists(target)) {
        QFile::remove(target);
    }
    if (!QFile::rename(partial, target)) {
        QFile::remove(partial);
        qWarning().noquote() << "update package: cannot be put in place as" << target;
        return done(1);
    }
    return done(0);
}

QByteArray LinuxSystemCommands::readFile(const QString& path, bool* ok)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok) {
        *ok = opened;
    }
    return opened ? file.readAll() : QByteArray();
}

void LinuxSystemCommands::sleepMs(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms));
}

void LinuxSystemCommands::exitProcess(int code)
{
    std::exit(code);
}

SystemCommands& systemCommands()
{
    static LinuxSystemCommands linuxCommands(kPanelBuild);
    return gOverride ? *gOverride : linuxCommands;
}

void setSystemCommands(SystemCommands* commands)
{
    gOverride = commands;
}
