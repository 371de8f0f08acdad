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
    static bool copyTree(const QString& from, const QString& to, QString* error = nullptr);

    // Name of the staging folder inside the working folder.
    static QString stagingFolderName() { return QStringLiteral(".paraGroupSwitch"); }

private:
    QString m_root;
    QString m_workDir;
};
