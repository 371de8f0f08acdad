#pragma once

#include <QString>
#include <QStringList>

// The parameter groups: one folder per mould below "./paraGroup", holding
// PARAM.db and a copy of every camera folder "cammer<camera><detect>". A
// group's index is its position in the folder list sorted by name.
//
// Restoring a group replaces the working PARAM.db and camera folders with the
// group's content all or nothing: the group is checked first, copied into a
// staging folder beside the working files and only then swapped in, so a
// missing, incomplete or unreadable group, a full disk or a failed rename
// leaves the working set as it was. Qt's file functions do the copying; no
// shell is involved. Used by the Modbus group switch and the group screens.
class ParaGroupStore {
public:
    explicit ParaGroupStore(const QString& groupRoot = QStringLiteral("./paraGroup"),
                            const QString& workDir = QStringLiteral("."));

    // Names of the group folders, sorted by character code (case-sensitive).
    QStringList groupNames() const;
    QString groupPath(const QString& name) const;

    // "cammer%1%2" with camera and detect counted from 1.
    static QString cameraFolderName(int camera, int detect);

    // Empty when the group can replace the working set of cameras × detects:
    // its folder exists, its PARAM.db is a database with the table sysparam, and
    // it holds the camera folder of every camera and detect. Otherwise the reason.
    QString checkGroup(const QString& name, int cameras, int detects) const;

    // Makes the group's files the working ones. Returns false, with the reason
    // in error, when the working set was left untouched.
    bool restoreGroup(const QString& name, int cameras, int detects, QString* error = nullptr);

    // Puts back working files that a switch interrupted by a crash or power
    // loss had moved aside, and removes the staging folder.
    void recoverInterruptedSwitch() const;

    // Recursive copy of a folder (files, sub-folders, empty ones included) into
    // to, which is created; false on the first file that cannot be copied.
    // Files keep their modification times: the template library replaces its
    // oldest sample by file time.
    static bool copyTree(const QString& from, const QString& to, QString* error = nullptr);

    // The factory group: start-up falls back to its PARAM.db and SN.db and the
    // factory reset installs its package, so it is never overwritten or deleted.
    static QString factoryGroupName() { return QStringLiteral("default"); }

    // A name for a new group: 1 to 32 characters, letters and digits of any
    // script, "-", "_", "." and blanks inside, not starting with ".".
    static bool isValidNewName(const QString& name);

    // Saves the working PARAM.db and the camera folders of cameras × detects
    // that exist as the group name. The copy is made beside the groups and
    // swapped in whole: a failure leaves an older group of that name as it was.
    bool backupGroup(const QString& name, int cameras, int detects, QString* error = nullptr);

    // Removes the group folder name, a direct child of the group root only
    // (never the factory group).
    bool deleteGroup(const QString& name, QString* error = nullptr);

    // Name of the backup's staging folder inside the working folder (never listed).
    static QString backupStagingFolderName() { return QStringLiteral(".paraGroupBackup"); }

    // One group operation (backup, restore, delete, switch) at a time in the
    // process: the holder of an Operation that acquired() runs one.
    class Operation {
    public:
        Operation();
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;
        bool acquired() const { return m_acquired; }

    private:
        bool m_acquired;
    };
    static bool operationRunning();

    // Name of the staging folder inside the working folder.
    static QString stagingFolderName() { return QStringLiteral(".paraGroupSwitch"); }

private:
    QString m_root;
    QString m_workDir;
};
