#pragma once

#include "maintenancefolders.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

class QDomNode;
class QNetworkAccessManager;

// One column of the version library: one folder of the download server (the
// top level's column has no title), its versions and, at the same positions,
// their download addresses.
struct VersionColumn {
    QString title;
    QStringList names;
    QStringList addresses;
};

// How long and how much the library may take.
struct VersionLibraryLimits {
    int pageTimeoutMs = 1000;
    int packageTimeoutMs = 30000;
    // Listing pages loaded at most for one opening.
    int maxPages = 32;
    qint64 maxPackageBytes = qint64(2) << 30;
    // Time the backup of the program folder may take.
    int backupTimeoutMs = 10 * 60 * 1000;
};

// The version listings are served over HTTP on this port under this path of
// the site's download server.
constexpr int kVersionServerPort = 10440;
constexpr const char* kVersionServerPath = "/monitor/";

// The base address of the version listings for what "versionserver.txt"
// holds: a host (name or address) gives "http://<host>:10440/monitor/"; a
// whole address (with its scheme) is taken as it is, ending in "/". Empty when
// there is nothing usable.
QString versionBaseAddress(const QString& configured);
// The same for the first line of "versionserver.txt" in the working folder;
// empty when there is no such file (no server is built in).
QString versionServerAddress();

// Package name for a version file: "newupdate" and the longest of the endings
// ".tar.gz", ".tar.xz", ".tar", ".gz", ".rar" the name ends with; empty when
// it ends with none.
QString downloadedPackageName(const QString& versionName);

// The download server's plain folder listings read into columns of versions,
// and one version fetched, backed up against and left for the outside updater.
// Every network wait runs a nested event loop, so the cycle goes on.
class VersionLibrary : public QObject {
    Q_OBJECT
public:
    VersionLibrary(const QString& baseUrl, const MaintenanceFolders& folders,
                   const VersionLibraryLimits& limits = VersionLibraryLimits(), QObject* parent = nullptr);
    ~VersionLibrary() override;

    // Loads the listing at the base address and the folders it names, one level.
    void load();

    // False when the base listing did not arrive (no server, an error, no
    // answer in time): the opener shows that the network cannot be reached.
    bool listFetched = true;
    // The address of the page being parsed.
    QString currentUrl;
    QVector<VersionColumn> columns;
    // Listing pages requested so far.
    int pagesRequested = 0;

    // Loads one listing page and collects it into the given column (-1: the
    // page's versions make a new untitled column). depth 0 is the top level,
    // the only one whose folders are followed.
    bool fetchPage(const QString& address, int column = -1, int depth = 0);
    // Reads a page as XML; false (and the parse error logged) when it is not well-formed.
    bool parseListing(const QString& page, int column = -1, int depth = 0);
    void collectVersions(const QDomNode& root, int column, int depth);

    // Downloads the version at the address, makes a backup of the program
    // folder and stores the package as "newupdate<suffix>" in the program
    // folder; then, and only then, older backups and packages go. False, with
    // nothing stored and nothing removed, on any failure.
    bool downloadPackage(const QString& name, const QString& address);
    // Remove backups and packages other than the ones just made.
    void removeOldBackups(const QString& keep = QString());
    void removeOldUpdates(const QString& keep = QString());

    const MaintenanceFolders& folders() const { return m_folders; }

private:
    bool makeBackup(const QString& archive);

    QString m_baseUrl;
    MaintenanceFolders m_folders;
    VersionLibraryLimits m_limits;
    QNetworkAccessManager* m_network = nullptr;
    QSet<QString> m_visited;
};
