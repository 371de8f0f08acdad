#pragma once

#include "detectresult.h"
#include "testclock.h"

#include <QDateTime>
#include <QProcess>
#include <QString>
#include <QStringList>

// Shared by the records tests: the clock at a chosen moment, rows read back
// with the sqlite3 command-line tool, and detect results built in one line.

// The program's clock at a chosen moment for the life of the object.
using FixedClock = TestClock;

inline QDateTime at(const QString& text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

// Output of the sqlite3 tool ("|" between columns, one line per row), or
// "ERROR: ..." when it failed.
inline QString sqlite(const QString& sql, const QString& file = QStringLiteral("ResStatistics.db"))
{
    QProcess process;
    process.start(QStringLiteral("sqlite3"), {file, sql});
    if (!process.waitForFinished(15000) || process.exitCode() != 0) {
        return QStringLiteral("ERROR: ") + QString::fromUtf8(process.readAllStandardError());
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

inline QStringList sqliteLines(const QString& sql, const QString& file = QStringLiteral("ResStatistics.db"))
{
    return sqlite(sql, file).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline DetectResult makeResult(int camera, int detect, const QDateTime& round, const QDateTime& detectAt, int ok,
                               const QList<QList<int>>& detail, const QList<int>& verdicts)
{
    DetectResult r;
    r.idx_camera = camera;
    r.idx_detect = detect;
    r.roundstart = round;
    r.detectstart = detectAt;
    r.result = ok;
    r.roi_detail = detail;
    r.roi_result = verdicts;
    return r;
}
