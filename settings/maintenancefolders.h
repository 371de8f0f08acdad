#pragma once

#include <QString>

// Where the service actions read and write. The main window hands one value of
// this to the advanced settings page; tests hand temporary folders. The USB
// disk is wherever the mount answers it is.
struct MaintenanceFolders {
    // The installed program: the working folder.
    QString programFolder;
    // Where backups of the program folder are kept: the folder above it on the panel.
    QString backupFolder;
};

// The panel's places: the working folder and its parent. Elsewhere the
// backups stay inside the working folder, so that a development run never
// writes outside it.
MaintenanceFolders defaultMaintenanceFolders();

// Name of a backup archive: "rud-OVA-<yyyy-MM-dd-hh:mm:ss>.tar.gz".
class QDateTime;
QString backupArchiveName(const QDateTime& time);
// True for the names of backup archives ("rud-OVA-" ... ".tar.gz").
bool isBackupArchiveName(const QString& name);
// True for update packages left for the outside updater ("newupdate" before the first ".").
bool isUpdatePackageName(const QString& name);
