#pragma once

#include <QSqlDatabase>
#include <QString>

class QSqlError;

// The result database of the current production day, relative to the working folder.
constexpr const char* kResStatisticsFile = "ResStatistics.db";

// The named connection of the calling thread to a file: reused when a
// connection of that name exists, else added (QSQLITE). Qt refuses a
// connection in any thread but the one that made it, which reads as an empty
// result, so each thread keeps to its own names. The busy timeout applies when
// the connection is next opened.
QSqlDatabase recordsConnection(const QString& name, const QString& file, int busyTimeoutMs);

// SQLite's primary result code of a failed statement, 0 when there is none.
int sqliteCode(const QSqlError& error);
// True for failures that belong to the row itself (a constraint, a value too
// big) and will not go away by trying again; false for failures of the file
// (busy, locked, full, read-only, I/O), after which the row is kept.
bool isRowError(const QSqlError& error);
