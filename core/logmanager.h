#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstddef>
#include <functional>

// Folder of the glog files, relative to the working folder.
extern const char* const kLogDir;          // "./velqa/workspace/LOG/"
extern const char* const kLogStdoutDir;    // "./velqa/workspace/log_stdout/"
// Name of the crash report file inside the log folder.
extern const char* const kCrashFileName;   // "ERROR_crash.log"

// Prepares the log folder, archives and prunes earlier runs' files, forwards
// Qt messages to glog and installs the crash handler. Created once by main.
class LogManager : public QObject {
    Q_OBJECT
public:
    explicit LogManager(QObject* parent = nullptr);
};

extern LogManager* gpLogManager;

// Qt message handler: debug is dropped, the rest goes to glog.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);
// glog's crash report writer: async-signal-safe, writes to a file opened in advance.
void logFailureWriter(const char* data, std::size_t size);

// Moves each "log*.log" file of dir (newest first) to "glog_yyyyMMdd_hhmmss.txt",
// the time taken anew for each file; a name already taken gets a counter
// suffix ("_1", "_2", ...) so no log is ever lost to a name clash.
void archiveMainLogs(const QString& dir);
// Deletes the oldest files of dir (by modification time) until at most keep remain.
void pruneLogFolder(const QString& dir, int keep);
// Opens the crash report file (append) for logFailureWriter; returns the descriptor.
int openCrashReportFile(const QString& path);
