#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// The plant's record of every alarm, stop and change: table RECORD of
// "RECORD.db" in the working folder, one file per day. When the day changes the
// file is moved whole into "./RECORD" under the name of the day it belongs to,
// and a fresh file with its first row takes its place; "time.txt" names the day
// of the current file.
//
// Plain class on the GUI thread; the main window holds one and delegates its
// record slots to it. Its days follow the program's clock (systemclock.h).
class OperationLog {
public:
    explicit OperationLog(const QString& connectionName = QStringLiteral("dbRecord"));
    ~OperationLog();

    OperationLog(const OperationLog&) = delete;
    OperationLog& operator=(const OperationLog&) = delete;

    // Makes a new log file at path with its table and first row. Returns
    // whether the table could be created.
    static bool createRecordDB(const QString& path = QStringLiteral("RECORD.db"));

    // Start-up: creates "RECORD.db" when missing, opens it, makes "./RECORD",
    // takes the day from "time.txt" (today, written there, when the file is
    // missing or holds no date) and runs the day check once.
    void start();

    // Opens the connection on "RECORD.db" (creating the file with its first row
    // when it has gone). Returns whether it is open.
    bool open();
    void close();
    bool isOpen() const;

    // Appends one row: the time of day as "hh.mm.ss", the text of the user
    // level, the remark unchanged. A day change that the timer has not seen yet
    // is made first, so the row lands in the file of its own day.
    bool insertRecord(const QString& remarks, int userLevel);
    // Empties today's table; the archived days are untouched.
    bool clearRecord();

    // The day check: when today differs from the day of the current file, the
    // file is archived, a fresh one made and "time.txt" moved to today. Returns
    // false when the archive failed; the current file and day then stay as they
    // are and the next check tries again.
    bool checkDate();

    QString recordDate() const { return m_recordDate; }
    QString connectionName() const { return m_connectionName; }

    // "./RECORD" made absolute; archives are "<dir>/<yyyy-MM-dd>.db".
    static QString archiveDir();
    static QString archivePath(const QString& day);

private:
    bool archiveCurrentFile();
    bool mergeInto(const QString& archive);
    bool writeRecordDate(const QString& day);

    QString m_connectionName;
    QString m_recordDate;
    bool m_archiveFailureLogged = false;
};

// Text of a user level in the current language: 2 "高级用户", 1 "初级用户",
// anything else "未登录".
QString userLevelText(int userLevel);

// Day of the current log file as stored in "time.txt": exactly "yyyy-MM-dd".
constexpr const char* RecordDateFormat = "yyyy-MM-dd";
