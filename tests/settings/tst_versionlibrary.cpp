#include "listingserver.h"
#include "logcapture.h"
#include "testclock.h"
#include "testworkdir.h"
#include "versionlibrary.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

using Entries = QList<ListingServer::Entry>;

class TstVersionLibrary : public QObject {
    Q_OBJECT
private slots:
    void packageNames_data();
    void packageNames();
    void serverAddressFromFile_data();
    void serverAddressFromFile();
    void hostNamedInFileIsAskedOnItsPort();
    void listings();
    void selfLinksAndNestedFolders();
    void unreachableServer_data();
    void unreachableServer();
    void downloadStoresPackageAndBackup();
    void failedDownloadsKeepWhatWasThere_data();
    void failedDownloadsKeepWhatWasThere();

private:
    // A program folder with a few files, an older package in it and an older backup beside it.
    MaintenanceFolders makeInstallation(const TestWorkDir& dir)
    {
        MaintenanceFolders folders;
        folders.programFolder = dir.filePath(QStringLiteral("root/rud-OVA"));
        folders.backupFolder = dir.filePath(QStringLiteral("root"));
        dir.write(QStringLiteral("root/rud-OVA/korvane"), "program");
        dir.write(QStringLiteral("root/rud-OVA/PARAM.db"), "settings");
        dir.write(QStringLiteral("root/rud-OVA/newupdate.tar.xz"), "older package");
        dir.write(QStringLiteral("root/rud-OVA-2024-01-01-10:00:00.tar.gz"), "older backup");
        return folders;
    }
    QStringList folderList(const QString& folder)
    {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }
};

void TstVersionLibrary::packageNames_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("package");
    QTest::newRow("tar.gz") << "V17.4.0.18.tar.gz" << "newupdate.tar.gz";
    QTest::newRow("tar") << "V17.4.0.18.tar" << "newupdate.tar";
    QTest::newRow("tar.xz") << "V17_x.tar.xz" << "newupdate.tar.xz";
    QTest::newRow("tar inside a word") << "V17.startup.gz" << "newupdate.gz";
    QTest::newRow("rar before tar.gz") << "V17.rar.tar.gz" << "newupdate.tar.gz";
    QTest::newRow("rar") << "v17.1.rar" << "newupdate.rar";
    QTest::newRow("no archive") << "V17.zip" << "";
}

void TstVersionLibrary::packageNames()
{
    QFETCH(QString, version);
    QFETCH(QString, package);
    QCOMPARE(downloadedPackageName(version), package);
}

void TstVersionLibrary::serverAddressFromFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("address");
    QTest::newRow("no file") << QByteArray() << "";
    QTest::newRow("empty") << QByteArray("\n") << "";
    QTest::newRow("address") << QByteArray("10.20.30.40\n") << "http://10.20.30.40:10440/monitor/";
    QTest::newRow("name, blanks around") << QByteArray("  builds.plant.local \r\n")
                                          << "http://builds.plant.local:10440/monitor/";
    QTest::newRow("IPv6") << QByteArray("[fd00::5]") << "http://[fd00::5]:10440/monitor/";
    QTest::newRow("whole address") << QByteArray("http://10.20.30.40:8080/builds/") << "http://10.20.30.40:8080/builds/";
    QTest::newRow("whole address without the end") << QByteArray("http://10.20.30.40:8080/builds")
                                                    << "http://10.20.30.40:8080/builds/";
    QTest::newRow("host with a port") << QByteArray("10.20.30.40:8080") << "";
    QTest::newRow("host with a path") << QByteArray("10.20.30.40/monitor") << "";
    QTest::newRow("second line ignored") << QByteArray("10.1.1.1\n10.2.2.2\n") << "http://10.1.1.1:10440/monitor/";
}

void TstVersionLibrary::serverAddressFromFile()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, address);
    TestWorkDir dir;
    if (!file.isNull()) {
        QVERIFY(dir.write("versionserver.txt", file));
    }
    LogCapture log(LogCapture::Swallow);
    QCOMPARE(versionServerAddress(), address);
}

// Only the host comes from the site: the listings are asked for over HTTP on
// port 10440 under "/monitor/". A loopback address of its own keeps the port
// free of other tests.
void TstVersionLibrary::hostNamedInFileIsAskedOnItsPort()
{
    std::unique_ptr<ListingServer> server;
    QString host;
    for (int attempt = 0; attempt < 20 && !(server && server->isListening()); ++attempt) {
        host = QStringLiteral("127.%1.%2.%3")
                   .arg(QRandomGenerator::global()->bounded(1, 255))
                   .arg(QRandomGenerator::global()->bounded(0, 255))
                   .arg(QRandomGenerator::global()->bounded(1, 255));
        server = std::make_unique<ListingServer>(QHostAddress(host), quint16(10440));
    }
    if (!server->isListening()) {
        QSKIP("no loopback address with port 10440 free");
    }
    server->listing("/monitor/", Entries{{"release/", 0}});
    server->listing("/monitor/release/", Entries{{"V17.4.0.18.tar.gz", 10}});
    TestWorkDir dir;
    QVERIFY(dir.write("versionserver.txt", host.toLatin1() + "\n"));

    VersionLibrary library(versionServerAddress(), MaintenanceFolders());
    library.load();
    QVERIFY(library.listFetched);
    QCOMPARE(library.columns.size(), 1);
    QCOMPARE(library.columns[0].title, QString("release"));
    QCOMPARE(library.columns[0].addresses.value(0),
             QString("http://%1:10440/monitor/release/V17.4.0.18.tar.gz").arg(host));
}

void TstVersionLibrary::listings()
{
    struct Case {
        const char* name;
        std::function<void(ListingServer&)> serve;
        QStringList titles;
        QList<QStringList> versions;
        QStringList notRequested;
    };
    const QList<Case> cases{
        {"a file at the top level: one untitled column, one button per suffix",
         [](ListingServer& s) { s.listing("/monitor/", Entries{{"V17.4.0.18.tar.gz", 10}, {"readme.txt", 3}}); },
         {""},
         {{"V17.4.0.18.tar.gz", "V17.4.0.18.tar"}},
         {}},
        {"release and test folders, an empty one between them, a V17.5 folder",
         [](ListingServer& s) {
             s.listing("/monitor/", Entries{{"release/", 0}, {"empty/", 0}, {"V17.5/", 0}, {"test/", 0}});
             s.listing("/monitor/release/", Entries{{"V17.4.0.18.tar.gz", 10}, {"v17.4.0.19.rar", 10}});
             s.listing("/monitor/empty/", Entries{});
             s.listing("/monitor/test/", Entries{{"V17.5.0.1.tar.xz", 10}, {"notes.txt", 1}});
         },
         {"release", "empty", "test"},
         {{"V17.4.0.18.tar.gz", "V17.4.0.18.tar", "v17.4.0.19.rar"}, {}, {"V17.5.0.1.tar"}},
         {"/monitor/V17.5/"}},
        {"a folder that is not there keeps its title",
         [](ListingServer& s) {
             s.listing("/monitor/", Entries{{"gone/", 0}, {"test/", 0}});
             s.listing("/monitor/test/", Entries{{"V17.1.gz", 10}});
         },
         {"gone", "test"},
         {{}, {"V17.1.gz"}},
         {}},
    };
    for (const Case& c : cases) {
        TestWorkDir dir;
        ListingServer server;
        c.serve(server);
        LogCapture log(LogCapture::Swallow);
        VersionLibrary library(server.url("/monitor/"), MaintenanceFolders());
        library.load();
        QVERIFY2(library.listFetched, c.name);
        QStringList titles;
        QList<QStringList> versions;
        for (const VersionColumn& column : library.columns) {
            titles << column.title;
            versions << column.names;
            QCOMPARE(column.addresses.size(), column.names.size());
        }
        QVERIFY2(titles == c.titles, qPrintable(QString::fromLatin1(c.name) + ": " + titles.join('|')));
        QVERIFY2(versions == c.versions, c.name);
        for (const QString& path : c.notRequested) {
            QVERIFY2(server.requests(path) == 0, c.name);
        }
    }
}

void TstVersionLibrary::selfLinksAndNestedFolders()
{
    TestWorkDir dir;
    ListingServer server;
    // Folders are followed one level down, each address once: a listing that
    // names itself or a "V17" folder inside "V17" ends there. The same version
    // sits in two folders: each button keeps its own folder's address.
    server.listing("/monitor/", Entries{{"release/", 0}, {"test/", 0}, {"monitor/", 0}, {"V17/", 0}});
    server.listing("/monitor/release/", Entries{{"V17/", 0}, {"release/", 0}, {"V17.4.tar.gz", 5}});
    server.listing("/monitor/test/", Entries{{"V17.4.tar.gz", 5}});
    server.listing("/monitor/monitor/", Entries{{"monitor/", 0}});
    server.listing("/monitor/V17/", Entries{{"V17/", 0}, {"V17.8.tar.gz", 5}});
    LogCapture log(LogCapture::Swallow);
    VersionLibrary library(server.url("/monitor/"), MaintenanceFolders());
    library.load();

    QCOMPARE(library.columns.size(), 4);
    QCOMPARE(library.columns[0].title, QString("release"));
    QCOMPARE(library.columns[0].names, QStringList({"V17.4.tar.gz", "V17.4.tar"}));
    QCOMPARE(library.columns[0].addresses.first(), server.url("/monitor/release/V17.4.tar.gz"));
    QCOMPARE(library.columns[1].addresses.first(), server.url("/monitor/test/V17.4.tar.gz"));
    QCOMPARE(library.columns[2].title, QString("monitor"));
    QVERIFY(library.columns[2].names.isEmpty());
    QCOMPARE(library.columns[3].title, QString());
    QCOMPARE(library.columns[3].names, QStringList({"V17.8.tar.gz", "V17.8.tar"}));
    for (const char* path : {"/monitor/release/V17/", "/monitor/release/release/", "/monitor/V17/V17/",
                                "/monitor/monitor/monitor/"}) {
        QCOMPARE(server.requests(path), 0);
    }
    QCOMPARE(server.requests(), 5);

    // However many folders a listing names, the pages loaded are bounded.
    ListingServer wide;
    Entries many;
    for (int i = 0; i < 60; ++i) {
        many << ListingServer::Entry{QStringLiteral("f%1/").arg(i), 0};
    }
    wide.listing("/monitor/", many);
    VersionLibraryLimits limits;
    limits.maxPages = 5;
    VersionLibrary bounded(wide.url("/monitor/"), MaintenanceFolders(), limits);
    bounded.load();
    QCOMPARE(wide.requests(), 5);
}

void TstVersionLibrary::unreachableServer_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("nothing listening") << "closed";
    QTest::newRow("no answer in time") << "stall";
    QTest::newRow("not found") << "404";
    QTest::newRow("no server set") << "unset";
}

void TstVersionLibrary::unreachableServer()
{
    QFETCH(QString, kind);
    TestWorkDir dir;
    LogCapture log(LogCapture::Swallow);
    QString address;
    auto server = std::make_unique<ListingServer>();
    if (kind == "closed") {
        address = server->url("/monitor/");
        server.reset();
    } else if (kind == "stall") {
        server->stall("/monitor/");
        address = server->url("/monitor/");
    } else if (kind == "404") {
        address = server->url("/monitor/");
    }
    VersionLibraryLimits limits;
    limits.pageTimeoutMs = 200;
    VersionLibrary library(address, MaintenanceFolders(), limits);
    library.load();
    QVERIFY(!library.listFetched);
    QVERIFY(library.columns.isEmpty());
    if (kind == "stall") {
        QVERIFY(log.contains("error"));
    }
}

void TstVersionLibrary::downloadStoresPackageAndBackup()
{
    TestWorkDir dir;
    TestClock clock(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    const MaintenanceFolders folders = makeInstallation(dir);
    ListingServer server;
    const QByteArray package(300 * 1024, 'p');
    server.file("/monitor/release/V17.4.0.18.tar.gz", package);
    LogCapture log(LogCapture::Swallow);
    VersionLibrary library(server.url("/monitor/"), folders);

    QVERIFY(library.downloadPackage("V17.4.0.18.tar.gz", server.url("/monitor/release/V17.4.0.18.tar.gz")));

    QCOMPARE(folderList(folders.programFolder), QStringList({"PARAM.db", "korvane", "newupdate.tar.gz"}));
    QCOMPARE(dir.read("root/rud-OVA/newupdate.tar.gz"), package);
    QCOMPARE(folderList(folders.backupFolder), QStringList({"rud-OVA-2024-03-05-14:07:09.tar.gz"}));
    QProcess tar;
    tar.start("tar", {"--force-local", "-tzf", folders.backupFolder + "/rud-OVA-2024-03-05-14:07:09.tar.gz"});
    QVERIFY(tar.waitForFinished(10000));
    QCOMPARE(tar.exitCode(), 0);
    const QStringList members = QString::fromUtf8(tar.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(members.contains("rud-OVA/korvane"));
    QVERIFY(members.contains("rud-OVA/PARAM.db"));
    // Neither the package being stored nor an older one is part of the program.
    QVERIFY(members.filter("newupdate").isEmpty());
}

void TstVersionLibrary::failedDownloadsKeepWhatWasThere_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("404") << "404";
    QTest::newRow("302") << "302";
    QTest::newRow("cut body") << "cut";
    QTest::newRow("no Content-Length") << "nolength";
    QTest::newRow("stall") << "stall";
    QTest::newRow("too large") << "large";
    QTest::newRow("unwritable program folder") << "unwritable";
    QTest::newRow("backup fails") << "backup";
}

void TstVersionLibrary::failedDownloadsKeepWhatWasThere()
{
    QFETCH(QString, kind);
    TestWorkDir dir;
    TestClock clock(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    MaintenanceFolders folders = makeInstallation(dir);
    const QString path = "/monitor/V17.4.tar.gz";
    const QByteArray package(64 * 1024, 'p');
    ListingServer server;
    VersionLibraryLimits limits;
    limits.packageTimeoutMs = 300;
    if (kind == "302") {
        server.redirect(path, server.url("/elsewhere/"));
    } else if (kind == "cut") {
        server.cutBody(path, package, package.size() * 2);
    } else if (kind == "nolength") {
        server.withoutLength(path, package);
    } else if (kind == "stall") {
        server.stall(path);
    } else if (kind != "404") {
        server.file(path, package);
    }
    if (kind == "large") {
        limits.maxPackageBytes = 1000;
    } else if (kind == "unwritable") {
        // A file where the package's folder should be: nothing can be created in it.
        dir.write("blocked", "x");
        folders.programFolder = dir.filePath("blocked/rud-OVA");
    } else if (kind == "backup") {
        dir.write("notafolder", "x");
        folders.backupFolder = dir.filePath("notafolder/below");
    }
    LogCapture log(LogCapture::Swallow);
    VersionLibrary library(server.url("/monitor/"), folders, limits);

    QVERIFY(!library.downloadPackage("V17.4.tar.gz", server.url(path)));

    QCOMPARE(folderList(dir.filePath("root/rud-OVA")), QStringList({"PARAM.db", "korvane", "newupdate.tar.xz"}));
    QCOMPARE(folderList(dir.filePath("root")), QStringList({"rud-OVA-2024-01-01-10:00:00.tar.gz"}));
}

QTEST_GUILESS_MAIN(TstVersionLibrary)
#include "tst_versionlibrary.moc"
