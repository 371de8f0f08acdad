#include "versionlibrary.h"

#include "globals.h"
#include "systemclock.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace {

// Runs a nested event loop until the reply finishes or timeoutMs passes;
// true when it finished.
bool waitForReply(QNetworkReply* reply, int timeoutMs)
{
    if (reply->isFinished()) {
        return true;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    loop.exec();
    return reply->isFinished();
}

int statusOf(QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

}  // namespace

QString versionBaseAddress(const QString& configured)
{
    const QString text = configured.trimmed();
    if (text.isEmpty()) {
        return QString();
    }
    // A whole address has its scheme's "//"; a bare host never does.
    if (text.contains(QLatin1String("//"))) {
        // A whole address, as earlier installations wrote it.
        return text.endsWith(QLatin1Char('/')) ? text : text + QLatin1Char('/');
    }
    // The site names its server; where the listings live on it is ours.
    QString host = text;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    }
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host, QUrl::StrictMode);
    url.setPort(kVersionServerPort);
    url.setPath(QString::fromLatin1(kVersionServerPath));
    if (!url.isValid() || url.host().isEmpty()) {
        qWarning().noquote() << "version library: versionserver.txt names no host:" << text.left(80);
        return QString();
    }
    return url.toString();
}

QString versionServerAddress()
{
    QFile file(QStringLiteral("versionserver.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return versionBaseAddress(QString::fromUtf8(file.readLine(4096)));
}

QString downloadedPackageName(const QString& versionName)
{
    static const char* const endings[] = {".tar.gz", ".tar.xz", ".tar", ".gz", ".rar"};
    QString best;
    for (const char* ending : endings) {
        const QString e = QLatin1String(ending);
        if (versionName.endsWith(e) && versionName.size() > e.size() && e.size() > best.size()) {
            best = e;
        }
    }
    return best.isEmpty() ? QString() : QStringLiteral("newupdate") + best;
}

VersionLibrary::VersionLibrary(const QString& baseUrl, const MaintenanceFolders& folders,
                               const VersionLibraryLimits& limits, QObject* parent)
    : QObject(parent), currentUrl(baseUrl), m_baseUrl(baseUrl), m_folders(folders), m_limits(limits),
      m_network(new QNetworkAccessManager(this))
{
}

VersionLibrary::~VersionLibrary() = default;

void VersionLibrary::load()
{
    if (m_baseUrl.isEmpty()) {
        qWarning() << "version library: no download server is set (versionserver.txt)";
        listFetched = false;
        return;
    }
    fetchPage(m_baseUrl, -1, 0);
}

bool VersionLibrary::fetchPage(const QString& address, int column, int depth)
{
    // Each address once, and a bounded number of pages: a listing that names
    // itself or nests its folders must not keep the panel loading.
    if (m_visited.contains(address) || pagesRequested >= m_limits.maxPages) {
        return false;
    }
    m_visited.insert(address);
    ++pagesRequested;

    QNetworkRequest request{QUrl(address)};
    QNetworkReply* reply = m_network->get(request);
    const bool finished = waitForReply(reply, m_limits.pageTimeoutMs);
    bool ok = false;
    if (!finished) {
        reply->abort();
        qInfo() << "error";
        qWarning().noquote() << "version library: no answer in time from" << address;
    } else if (reply->error() != QNetworkReply::NoError || statusOf(reply) != 200) {
        qWarning().noquote() << "version library:" << address << "answered" << statusOf(reply) << reply->errorString();
    } else {
        ok = true;
    }
    if (depth == 0) {
        listFetched = ok;
    }
    if (ok) {
        QString page = QString::fromUtf8(reply->readAll());
        page.remove(QStringLiteral("<hr>"));
        currentUrl = address;
        ok = parseListing(page, column, depth);
    }
    reply->deleteLater();
    return ok;
}

bool VersionLibrary::parseListing(const QString& page, int column, int depth)
{
    QDomDocument document;
    QString message;
    int line = 0;
    int col = 0;
    if (!document.setContent(page, false, &message, &line, &col)) {
        qWarning().noquote() << "Error: Parse error at line " + QString::number(line) + ", " + "column "
                                    + QString::number(col) + ": " + message;
        return false;
    }
    collectVersions(document.documentElement(), column, depth);
    return true;
}

void VersionLibrary::collectVersions(const QDomNode& root, int column, int depth)
{
    // The address of this page: loading a folder below changes currentUrl.
    const QString pageAddress = currentUrl;
    QStringList lines;
    for (QDomNode child = root.firstChild(); !child.isNull(); child = child.nextSibling()) {
        const QDomElement element = child.toElement();
        if (element.isNull() || element.tagName() != QLatin1String("body")) {
            continue;
        }
        const QStringList parts = element.text().split(QLatin1Char('/'));
        for (const QString& part : parts) {
            lines += part.split(QStringLiteral("\r\n"));
        }

        // Versions: every line cut right after an archive suffix, when it
        // starts as our program's versions do.
        QStringList names;
        QStringList addresses;
        for (int i = 0; i + 1 < lines.size(); ++i) {
            for (const QString& suffix : gArchiveSuffixes) {
                const int p = lines.at(i).lastIndexOf(QLatin1Char('.') + suffix);
                if (p < 0) {
                    continue;
                }
                const QString candidate = lines.at(i).left(p + 1 + suffix.size());
                if (candidate.startsWith(QLatin1String("V17")) || candidate.startsWith(QLatin1String("v17"))) {
                    names << candidate;
                    addresses << pageAddress + candidate;
                }
            }
        }
        if (!names.isEmpty()) {
            if (column < 0) {
                columns.append(VersionColumn());
                column = columns.size() - 1;
            }
            columns[column].names += names;
            columns[column].addresses += addresses;
            return;
        }

        // Folders: a line followed by the rest of its listing row (which
        // starts with a blank). Only the top level's folders are followed, one
        // level down: each is a column of its own, and a "V17" folder's
        // versions make an untitled column.
        for (int i = 0; i + 2 < lines.size(); ++i) {
            if (!lines.at(i + 1).startsWith(QLatin1Char(' '))) {
                continue;
            }
            const QString name = lines.at(i);
            if (depth == 0 && !name.isEmpty() && !name.contains(QLatin1Char('V'))) {
                columns.append(VersionColumn{name, {}, {}});
                fetchPage(m_baseUrl + name + QLatin1Char('/'), columns.size() - 1, depth + 1);
            }
            if (name == QLatin1String("V17") && depth == 0) {
                fetchPage(pageAddress + QStringLiteral("V17/"), column, depth + 1);
            }
        }
    }
}

bool VersionLibrary::downloadPackage(const QString& name, const QString& address)
{
    const QString package = downloadedPackageName(name);
    if (package.isEmpty() || address.isEmpty()) {
        qWarning().noquote() << "version library:" << name << "is no package the updater installs";
        return false;
    }
    QDir().mkpath(m_folders.programFolder);
    // The package streams into a passing file that becomes "newupdate..."
    // only when it is whole and the backup is made.
    QSaveFile file(QDir(m_folders.programFolder).filePath(package));
    if (!file.open(QIODevice::WriteOnly)) {
        qInfo() << "path error";
        qWarning().noquote() << "version library: cannot write" << file.fileName() << file.errorString();
        return false;
    }

    QNetworkRequest request{QUrl(address)};
    QNetworkReply* reply = m_network->get(request);
    qint64 received = 0;
    bool tooLarge = false;
    bool writeFailed = false;
    auto take = [&]() {
        const QByteArray data = reply->readAll();
        received += data.size();
        if (received > m_limits.maxPackageBytes) {
            tooLarge = true;
        } else if (!writeFailed && file.write(data) != data.size()) {
            writeFailed = true;
        }
        if (tooLarge || writeFailed) {
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::readyRead, this, take);
    const bool finished = waitForReply(reply, m_limits.packageTimeoutMs);
    if (!finished) {
        reply->abort();
        reply->deleteLater();
        qInfo() << "error";
        qWarning().noquote() << "version library: download of" << address << "took too long";
        file.cancelWriting();
        return false;
    }
    if (!tooLarge && !writeFailed) {
        take();
    }
    const int status = statusOf(reply);
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const QNetworkReply::NetworkError error = reply->error();
    reply->deleteLater();
    if (tooLarge || writeFailed || error != QNetworkReply::NoError || status != 200 || !length.isValid()
        || length.toLongLong() != received) {
        qWarning().noquote() << "version library: download of" << address << "failed: status" << status << "error"
                             << error << "received" << received << "of" << length.toString()
                             << (tooLarge ? "(too large)" : "") << (writeFailed ? "(write failed)" : "");
        file.cancelWriting();
        return false;
    }

    const QString archive = backupArchiveName(clockNow());
    if (QFileInfo(m_folders.programFolder).isDir() && !makeBackup(archive)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qInfo() << "path error";
        qWarning().noquote() << "version library: cannot store" << file.fileName() << file.errorString();
        QFile::remove(QDir(m_folders.backupFolder).filePath(archive));
        return false;
    }
    removeOldBackups(archive);
    removeOldUpdates(package);
    return true;
}

bool VersionLibrary::makeBackup(const QString& archive)
{
    if (!QDir().mkpath(m_folders.backupFolder)) {
        qWarning().noquote() << "version library: cannot make the backup folder" << m_folders.backupFolder;
        return false;
    }
    const QFileInfo program(m_folders.programFolder);
    const QString target = QDir(m_folders.backupFolder).absoluteFilePath(archive);
    // The time in the name holds colons, which tar would otherwise take for a
    // remote archive. Packages and earlier backups are not the program.
    const QStringList arguments{QStringLiteral("--force-local"), QStringLiteral("--exclude=newupdate*"),
                                QStringLiteral("--exclude=rud-OVA-*.tar.gz"), QStringLiteral("-C"),
                                program.absolutePath(), QStringLiteral("-zcf"), target, program.fileName()};
    QProcess tar;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&tar, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    connect(&tar, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    tar.setProcessChannelMode(QProcess::MergedChannels);
    tar.start(QStringLiteral("tar"), arguments);
    if (tar.waitForStarted(5000)) {
        timer.start(m_limits.backupTimeoutMs);
        if (tar.state() != QProcess::NotRunning) {
            loop.exec();
        }
    }
    if (tar.state() != QProcess::NotRunning) {
        tar.kill();
        tar.waitForFinished(2000);
    }
    // Exit code 1: a file changed while it was read (a database being written);
    // the archive is whole all the same.
    const bool ok = tar.exitStatus() == QProcess::NormalExit && (tar.exitCode() == 0 || tar.exitCode() == 1)
                    && tar.error() == QProcess::UnknownError
                    && QFileInfo(target).size() > 0;
    if (!ok) {
        qWarning().noquote() << "version library: backup" << target << "failed:" << tar.exitCode()
                             << tar.errorString() << tar.readAll().left(500);
        QFile::remove(target);
    }
    return ok;
}

void VersionLibrary::removeOldBackups(const QString& keep)
{
    const QFileInfoList entries =
        QDir(m_folders.backupFolder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() != keep && isBackupArchiveName(entry.fileName()) && !entry.isDir()) {
            QFile::remove(entry.filePath());
        }
    }
}

void VersionLibrary::removeOldUpdates(const QString& keep)
{
    const QFileInfoList entries =
        QDir(m_folders.programFolder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() != keep && isUpdatePackageName(entry.fileName()) && !entry.isDir()) {
            QFile::remove(entry.filePath());
        }
    }
}
