#include "logmanager.h"

#include "systemclock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <glog/logging.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

const char* const kLogDir = "./velqa/workspace/LOG/";
const char* const kLogStdoutDir = "./velqa/workspace/log_stdout/";
const char* const kCrashFileName = "ERROR_crash.log";

LogManager* gpLogManager = nullptr;

namespace {

// Source file and lines that glog prints for forwarded messages.
constexpr const char* kSourceName = "logmanager.cpp";
constexpr int kInfoLine = 130;
constexpr int kWarningLine = 131;
constexpr int kErrorLine = 132;
constexpr int kFatalLine = 133;

// Descriptor of the crash report file, opened before any crash can happen:
// inside a signal handler we may only make async-signal-safe calls.
volatile int gCrashFd = -1;

void writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Formats a non-negative number without touching the heap or locale.
std::size_t formatNumber(long long value, char* out)
{
    char digits[24];
    std::size_t n = 0;
    if (value < 0) {
        value = 0;
    }
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < sizeof digits);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = digits[n - 1 - i];
    }
    return n;
}

QFileInfoList filesNewestFirst(const QString& dir, QDir::Filters filters, const QStringList& nameFilters = {})
{
    QDir d(dir);
    return d.entryInfoList(nameFilters, filters, QDir::Time);
}

} // namespace

void archiveMainLogs(const QString& dir)
{
    const QFileInfoList logs = filesNewestFirst(
        dir, QDir::Files | QDir::Hidden | QDir::System, {QStringLiteral("log*.log")});
    QDir d(dir);
    for (const QFileInfo& info : logs) {
        const QString stem = QStringLiteral("glog_") + clockNow().toString(QStringLiteral("yyyyMMdd_hhmmss"));
        QString target = stem + QStringLiteral(".txt");
        for (int n = 1; d.exists(target); ++n) {
            target = stem + QLatin1Char('_') + QString::number(n) + QStringLiteral(".txt");
        }
        d.rename(info.fileName(), target);
    }
}

void pruneLogFolder(const QString& dir, int keep)
{
    QFileInfoList files = filesNewestFirst(dir, QDir::Files);
    while (files.size() > keep) {
        QFile::remove(files.takeLast().absoluteFilePath());
    }
}

int openCrashReportFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const int old = gCrashFd;
        gCrashFd = fd;
        if (old >= 0) {
            ::close(old);
        }
    }
    return fd;
}

void logMessageHandler(QtMsgType type, const QMessageLogContext& /*context*/, const QString& msg)
{
    switch (type) {
    case QtDebugMsg:
        return;
    case QtInfoMsg:
        google::LogMessage(kSourceName, kInfoLine, google::GLOG_INFO).stream() << msg.toUtf8().constData();
        return;
    case QtWarningMsg:
        google::LogMessage(kSourceName, kWarningLine, google::GLOG_WARNING).stream() << msg.toUtf8().constData();
        return;
    case QtCriticalMsg:
        google::LogMessage(kSourceName, kErrorLine, google::GLOG_ERROR).stream() << msg.toUtf8().constData();
        return;
    case QtFatalMsg:
        google::LogMessageFatal(kSourceName, kFatalLine).stream() << msg.toUtf8().constData();
        return;
    }
}

void logFailureWriter(const char* data, std::size_t size)
{
    const int fd = gCrashFd;
    if (fd < 0 || data == nullptr) {
        return;
    }
    // glog hands its report over in pieces; the first piece of a report starts
    // with "*** ", before which we put a header naming the process and time.
    if (size >= 4 && data[0] == '*' && data[1] == '*' && data[2] == '*' && data[3] == ' ') {
        char header[96];
        std::size_t n = 0;
        const char prefix[] = "korvane crash report, pid ";
        for (std::size_t i = 0; i + 1 < sizeof prefix; ++i) {
            header[n++] = prefix[i];
        }
        n += formatNumber(static_cast<long long>(::getpid()), header + n);
        const char at[] = ", unix time ";
        for (std::size_t i = 0; i + 1 < sizeof at; ++i) {
            header[n++] = at[i];
        }
        n += formatNumber(static_cast<long long>(::time(nullptr)), header + n);
        header[n++] = '\n';
        writeAll(fd, header, n);
    }
    writeAll(fd, data, size);
}

LogManager::LogManager(QObject* parent)
    : QObject(parent)
{
    const QString logDir = QString::fromLatin1(kLogDir);
    QDir().mkpath(logDir);

    archiveMainLogs(logDir);
    pruneLogFolder(logDir, 50);
    pruneLogFolder(QString::fromLatin1(kLogStdoutDir), 10);

    qInstallMessageHandler(logMessageHandler);

    FLAGS_log_dir = kLogDir;
    FLAGS_logbufsecs = 0;
    FLAGS_max_log_size = 100;
    FLAGS_stop_logging_if_full_disk = true;
    FLAGS_logtostderr = false;
    google::SetLogFilenameExtension(".log");
    // INFO keeps the "log" prefix that the archive step looks for; every other
    // severity has a prefix of its own, so no two files can share a name.
    google::SetLogDestination(google::GLOG_INFO, "./velqa/workspace/LOG/log");
    google::SetLogDestination(google::GLOG_WARNING, "./velqa/workspace/LOG/WARNING_");
    google::SetLogDestination(google::GLOG_ERROR, "./velqa/workspace/LOG/ERROR_");
    google::SetLogDestination(google::GLOG_FATAL, "./velqa/workspace/LOG/FATAL_");
    // No "<program>.INFO" links in the log folder: they would be counted and
    // ranked by the pruning like log files.
    for (int severity = google::GLOG_INFO; severity < google::NUM_SEVERITIES; ++severity) {
        google::SetLogSymlink(severity, "");
    }

    if (!google::IsGoogleLoggingInitialized()) {
        // glog keeps the pointer, so the name must outlive the process.
        static const QByteArray programName = QCoreApplication::applicationFilePath().toLatin1();
        google::InitGoogleLogging(programName.constData());
    }

    openCrashReportFile(logDir + QString::fromLatin1(kCrashFileName));
    google::InstallFailureSignalHandler();
    google::InstallFailureWriter(&logFailureWriter);
}
