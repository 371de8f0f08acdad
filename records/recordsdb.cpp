#include "recordsdb.h"

#include <QSqlError>

QSqlDatabase recordsConnection(const QString& name, const QString& file, int busyTimeoutMs)
{
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    if (!db.isOpen()) {
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    }
    return db;
}

int sqliteCode(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    // The driver turns on extended codes; the primary code is the low byte.
    return ok ? (code & 0xFF) : 0;
}

bool isRowError(const QSqlError& error)
{
    switch (sqliteCode(error)) {
    case 18: // SQLITE_TOOBIG
    case 19: // SQLITE_CONSTRAINT
    case 20: // SQLITE_MISMATCH
    case 25: // SQLITE_RANGE
        return true;
    default:
        return false;
    }
}
