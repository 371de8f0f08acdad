#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

// Other programs on the panel (a plant's reporting tool, a technician's sqlite
// shell, a backup) may hold one of our SQLite files locked for a while. SQLite
// then answers SQLITE_BUSY, which Qt passes on as an empty table list or a
// failed statement, looking just like a damaged file. A busy file must never
// be repaired, replaced or written over with defaults, so these helpers keep
// the two apart.

// The statement failed only because another connection holds the file.
bool isBusyError(const QSqlError& error);

// Connect option that lets each statement of a connection wait up to ms for a
// lock before it fails busy.
QString busyTimeoutOption(int ms);

// Changes how long each statement of an open connection waits for a lock.
bool setBusyTimeout(QSqlDatabase db, int ms);

enum class TableCheck {
    Present, // the table reads with these columns
    Busy,    // another program holds the file; nothing is known about it
    Damaged, // read without a lock and found wanting: no such table, other
             // columns, not a database, not open
};

// Reads the first row of table with the given columns (fixed names, never
// text from outside), waiting as the connection's busy timeout allows.
// error receives the reason when the answer is not Present.
TableCheck checkTable(QSqlDatabase db, const QString& table, const QStringList& columns, QSqlError* error = nullptr);
