#include "maintenancefolders.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

MaintenanceFolders defaultMaintenanceFolders()
{
    MaintenanceFolders folders;
    folders.programFolder = QDir::currentPath();
#ifdef KORVANE_PANEL
    folders.backupFolder = QFileInfo(folders.programFolder).absolutePath();
#else
    folders.backupFolder = QDir(folders.programFolder).filePath(QStringLiteral("backup"));
#endif
    return folders;
}

QString backupArchiveName(const QDateTime& time)
{
    return QStringLiteral("rud-OVA-%1.tar.gz").arg(time.toString(QStringLiteral("yyyy-MM-dd-hh:mm:ss")));
}

bool isBackupArchiveName(const QString& name)
{
    if (!name.contains(QLatin1String(".tar.gz"))) {
        return false;
    }
    const QStringList parts = name.split(QLatin1Char('-'));
    return parts.size() > 2 && parts.at(0) + QLatin1Char('-') + parts.at(1) == QLatin1String("rud-OVA");
}

bool isUpdatePackageName(const QString& name)
{
    return name.split(QLatin1Char('.')).first() == QLatin1String("newupdate");
}
