#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QSqlError;

// The plant's record of every alarm, stop and change: table RECORD of
// "RECORD.db" in the working folder, one file per day. When the day changes the
// file is moved whole into "./RECORD" under the name of the day it belongs to,
// and a fresh file with its first row takes its place; "time.txt" names the day
// of the current file.
//
// Plain class on the GUI thread; the main window holds one and delegates its
// record slots to it. Its days follow the program's clock (systemclock.h).
//
// Another program may hold RECORD.db locked (a plant tool reading the log, a
// technician's sqlite shell). Each call then waits busyWaitMs at most, well
// inside the I/O link's 10 s heartbeat, and the rows it could not write are
// kept, in order, and written by the next call or by a retry every
// retryIntervalMs; a held file is never taken for a new one (no second first
// row) and never moved aside into the archive.
class OperationLog {
public:
    explicit OperationLog(const QString& connectionName = QStringLiteral("dbRecord"));
    // Tries once more to write the rows kept back; logs the ones it must drop.
    ~OperationLog();

    static constexpr int kBusyWaitMs = 200;
    static constexpr int kRetryIntervalMs = 2000;
    // Rows kept back beyond this are dropped, oldest first, with a log line,
    // so that a file that never comes back cannot eat the panel's memory.
    static constexpr int kMaxPendingRows = 10000;
    // Tests shorten or lengthen the waits; the busy wait takes effect at the
    // next opening of the connection.
    void setBusyWaitMs(int ms) { m_busyWaitMs = ms; }
    void setRetryIntervalMs(int ms) { m_retryTimer.setInterval(ms); }

    OperationLog(const OperationLog&) = delete;
    OperationLog& operator=(const OperationLog&) = delete;

    // Makes a new log file at path with its table and first row. A file that
    // already holds the table is left as it is (no second first row). Returns
    // whether the file holds the table.
    static bool createRecordDB(const QString& path = QStringLiteral("RECORD.db"), int busyWaitMs = kBusyWaitMs);

    // Start-up: creates "RECORD.db" when missing, opens it, makes "./RECORD",
    // takes the day from "time.txt" (today, written there, when the file is
    // missing or holds no date) and runs the day check once.
    void start();

    // Opens the connection on "RECORD.db" (creating the file with its first row
    // when it has gone, or giving a file without the table its table and first
    // row). Returns whether rows can be written: false also while another
    // program holds the file.
    bool open();
    // Writes the rows kept back (one try), then closes the connection.
    void close();
    bool isOpen() const;

    // Appends one row: the time of day as "hh.mm.ss", the text of the user
    // level, the remark unchanged. A day change that the timer has not seen yet
    // is made first, so the row lands in the file of its own day. Returns
    // whether the row, and every row kept back before it, is in the file now;
    // otherwise the row is kept and written later.
    bool insertRecord(const QString& remarks, int userLevel);
    // The same rows as insertRecord called for each remark in turn, written
    // in one commit: a command that logs hundreds of rows at once (an area
    // save) would otherwise wait for the disk once per row.
    bool insertRecords(const QStringList& remarks, int userLevel);
    // Empties today's table (and drops the rows kept back for it); the
    // archived days are untouched.
    bool clearRecord();

    // The day check: when today differs from the day of the current file, the
    // rows kept back for that day are written, the file is archived, a fresh
    // one made and "time.txt" moved to today. Returns false when that failed;
    // the current file and day then stay as they are and the next check tries
    // again.
    bool checkDate();

    // Writes the rows kept back, in order; true when none is left.
    bool writePendingRows();
    int pendingRowCount() const { return m_pending.size(); }

    QString recordDate() const { return m_recordDate; }
    QString connectionName() const { return m_connectionName; }

    // A day change cut short (the program killed or the power lost) is
    // finished or undone, so that every day keeps one file with one first
    // row. start() runs it first; nothing else may have opened RECORD.db.
    static void recoverInterruptedDayChange();

    // "./RECORD" made absolute; archives are "<dir>/<yyyy-MM-dd>.db".
    static QString archiveDir();
    static QString archivePath(const QString& day);

private:
    struct PendingRow {
        QString day;
        QString time;
        QString level;
        QString remarks;
    };

    // The log file's table and first row, made in one transaction in the file
    // at path (created when missing).
    static bool fillRecordFile(const QString& path, int busyWaitMs);
    // A new file at path, whatever was there under that name.
    static bool buildRecordFile(const QString& path, int busyWaitMs);
    static void removeRecordFile(const QString& path);
    static bool recordFileComplete(const QString& path);

    bool openConnection(QSqlError* error);
    void closeConnection();
    // Writes the leading rows kept back whose day is day (all when empty).
    bool writePendingRowsOf(const QString& day);
    void noteWriteFailure(const QSqlError& error);
    bool archiveCurrentFile();
    bool moveInto(const QString& archive);
    bool mergeInto(const QString& archive);
    static bool writeRecordDate(const QString& day);

    QString m_connectionName;
    QString m_recordDate;
    QList<PendingRow> m_pending;
    QTimer m_retryTimer;
    int m_busyWaitMs = kBusyWaitMs;
    bool m_tableReady = false;
    bool m_writeFailureLogged = false;
    bool m_archiveFailureLogged = false;
};

// Called at each step of a day change with the step's name; empty in the
// program. The tests kill a child process here to prove every step safe.
extern std::function<void(const char* step)> gOperationLogDayChangeProbe;

// Text of a user level in the current language: 2 "高级用户", 1 "初级用户",
// anything else "未登录".
QString userLevelText(int userLevel);

// Day of the current log file as stored in "time.txt": exactly "yyyy-MM-dd".
constexpr const char* RecordDateFormat = "yyyy-MM-dd";
