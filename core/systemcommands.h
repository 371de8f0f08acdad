#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// One thing the system asks of the operating system beyond its working folder:
// the USB disk, the clocks, the power, the backlight, the program's own
// restart and update packages. Each kind is built by its own function from
// typed values; the program that carries it out gets every value as one
// argument of its own, never inside a shell line, so a device name, a folder
// or a time that came from a device or an operator cannot become a command.
class SystemOperation {
public:
    enum Kind {
        ListBlockDevices,      // "blkid": the partitions and their file systems
        MountUsbDisk,          // a partition mounted at the USB mount point
        UnmountUsbDisk,        // the USB mount point released
        SyncDisks,             // written data flushed to the disks
        CopyToUsbDisk,         // a folder copied into a new folder on the USB disk
        RemoveFolderContents,  // everything inside a folder of the working folder or the USB disk
        SetClock,              // system clock and hardware clock set
        Reboot,
        PowerOff,
        CalibrateTouch,        // the touch-screen calibration program "./tsc"
        Backlight,             // the screen backlight switched on or off
        RestartProgram,        // this program's executable started anew, detached
        BackupProgramFolder,   // archive of the installed program folder beside it
        RemoveOldBackups,      // earlier archives of the program folder removed
        RemoveOldUpdates,      // update packages left for the outside updater removed
        StoreUpdatePackage,    // a file left as the update package for the outside updater
    };

    static SystemOperation listBlockDevices();
    // device: a partition's path under "/dev/", as blkid lists it.
    static SystemOperation mountUsbDisk(const QString& device);
    static SystemOperation unmountUsbDisk();
    // Every disk; or, given a path, only the file system that holds it, which
    // (unlike the whole-system flush) reports a write that failed.
    static SystemOperation syncDisks(const QString& fileSystemOf = QString());
    // Copies the folder source into the folder named folderName (one plain
    // name) on the USB disk, which is made when missing.
    static SystemOperation copyToUsbDisk(const QString& source, const QString& folderName);
    // Removes everything inside folder, sub-folders included, and keeps the
    // folder. Refused unless folder lies inside the working folder or the USB
    // disk's mount point (never either of them itself).
    static SystemOperation removeFolderContents(const QString& folder);
    static SystemOperation setClock(const QDateTime& time);
    static SystemOperation reboot();
    static SystemOperation powerOff();
    static SystemOperation calibrateTouch();
    static SystemOperation backlight(bool on);
    static SystemOperation restartProgram();
    // Archive "rud-OVA-<time>.tar.gz" of the program folder, made only when
    // that folder exists.
    static SystemOperation backupProgramFolder(const QDateTime& time);
    static SystemOperation removeOldBackups();
    static SystemOperation removeOldUpdates();
    // Copies sourceFile into the program folder as "newupdate<suffix>" (suffix
    // such as ".tar.gz"); an existing package is replaced only when replace is set.
    static SystemOperation storeUpdatePackage(const QString& sourceFile, const QString& suffix, bool replace);

    Kind kind() const { return m_kind; }
    // The device, folder or file the operation works on (empty when none).
    QString path() const { return m_path; }
    // The USB folder name or the package suffix (empty when none).
    QString name() const { return m_name; }
    QDateTime time() const { return m_time; }
    // Backlight on; update package replaces an existing one.
    bool flag() const { return m_flag; }
    // How long a program run for it may take; -1: until it ends.
    int timeoutMs() const { return m_timeoutMs; }

    // Why the operation can never be run as given (an empty or foreign device,
    // a folder name with a path in it, an invalid time); empty when it can.
    // Where a folder lies is checked when it runs (folderProblem).
    QString problem() const;
    // One line for logs and test records, such as "mount /dev/sdb1 /mnt".
    // Only ever read by people: nothing runs it.
    QString describe() const;

    // The command lines of the programs that carry the operation out, each as
    // program and arguments, with the places of the panel build. Empty for the
    // kinds done inside the program (folder removal, backlight, restart,
    // package files).
    QList<QStringList> commandLines(const QString& mountPoint, const QString& programRoot) const;

    // Empty when folder may be emptied: it lies strictly inside workDir or
    // mountPoint once links are followed.
    static QString folderProblem(const QString& folder, const QString& workDir, const QString& mountPoint);

    bool operator==(const SystemOperation& other) const;
    bool operator!=(const SystemOperation& other) const { return !(*this == other); }

private:
    SystemOperation(Kind kind, int timeoutMs);

    Kind m_kind;
    QString m_path;
    QString m_name;
    QDateTime m_time;
    bool m_flag = false;
    int m_timeoutMs;
};

// The places of the panel build.
extern const char* const kUsbMountPoint;  // "/mnt"
extern const char* const kProgramRoot;    // "/root", holding the program folder "rud-OVA"
extern const char* const kBacklightFile;  // "/sys/class/backlight/intel_backlight/bl_power"

// Time given to each program of the USB disk operations.
constexpr int kMountCommandTimeoutMs = 8000;

// Everything the system asks of the operating system outside Qt goes through
// this one interface: the typed operations above, files it only reads outside
// the working folder, sleeping and ending the process. The panel build carries
// the operations out; other builds run only a few harmless ones; tests install
// a recording double.
class SystemCommands {
public:
    struct Result {
        bool started = false;   // the operation's program could be started
        bool finished = false;  // it ended within the time given
        int exitCode = -1;      // valid when finished
        QByteArray output;      // standard output and error, merged
        QString refusal;        // why it was not run at all; empty when it was

        bool ok() const { return finished && exitCode == 0; }
    };

    virtual ~SystemCommands() = default;

    // Checks the operation (problem(), and for a folder removal where the
    // folder lies) and carries it out; an operation that fails the checks is
    // logged and refused, whichever implementation is installed.
    Result perform(const SystemOperation& operation);

    // Reads a whole file (for example /proc/mounts); ok tells whether it could be opened.
    virtual QByteArray readFile(const QString& path, bool* ok) = 0;
    // Pauses the calling thread.
    virtual void sleepMs(int ms) = 0;
    // Ends the process with the given code. Only a test double returns from it.
    virtual void exitProcess(int code) = 0;

    // The USB disk's mount point that removals may reach into.
    virtual QString usbMountPoint() const { return QString::fromLatin1(kUsbMountPoint); }

    static Result refused(const QString& why);

protected:
    // Carries out an operation that passed the checks.
    virtual Result execute(const SystemOperation& operation) = 0;
};

// The Linux implementation. With privileged set to false (every build but the
// panel's) only the operations on a short allow-list run: listing the block
// devices, flushing the disks, emptying a folder inside the working folder and
// the program's own restart. Everything else is logged and refused, so a
// development machine is never mounted, rebooted or re-clocked.
class LinuxSystemCommands : public SystemCommands {
public:
    // Where the operations act. The defaults are the panel's; tests point them
    // into a temporary folder.
    struct Places {
        QString mountPoint = QString::fromLatin1(kUsbMountPoint);
        QString programRoot = QString::fromLatin1(kProgramRoot);
        QString backlightFile = QString::fromLatin1(kBacklightFile);
        // Folder the programs are taken from; empty: the search path. When
        // set, a program that is not there is not started.
        QString programFolder;
    };

    explicit LinuxSystemCommands(bool privileged);
    LinuxSystemCommands(bool privileged, Places places);

    QByteArray readFile(const QString& path, bool* ok) override;
    void sleepMs(int ms) override;
    void exitProcess(int code) override;
    QString usbMountPoint() const override { return m_places.mountPoint; }

    // Whether the operation runs outside the panel build.
    static bool allowedOutsidePanel(const SystemOperation& operation);

protected:
    Result execute(const SystemOperation& operation) override;

private:
    Result runPrograms(const QList<QStringList>& commandLines, int timeoutMs);
    Result removeContents(const QString& folder);
    Result switchBacklight(bool on);
    Result restart();
    Result removeMatching(const QString& folder, bool (*matches)(const QString& name));
    Result storePackage(const SystemOperation& operation);

    bool m_privileged;
    Places m_places;
};

// The process-wide instance. Until setSystemCommands is called it is a
// LinuxSystemCommands, privileged only in the panel build.
SystemCommands& systemCommands();
// Replaces the process-wide instance (not owned); nullptr restores the default.
void setSystemCommands(SystemCommands* commands);
