#include "sqlitebusy.h"

#include <QSqlQuery>

namespace {

// SQLite's primary result codes, as the Qt driver reports them.
const QString kSqliteBusy = QStringLiteral("5");
const QString kSqliteLocked = QStringLiteral("6");

} // namespace

bool isBusyError(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code == kSqliteBusy || code == kSqliteLocked;
}

QString busyTimeoutOption(int ms)
{
    return QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(qMax(0, ms));
}

bool setBusyTimeout(QSqlDatabase db, int ms)
{
    if (!db.isOpen()) {
        return false;
    }
    // A connection setting: it needs no lock and no schema, so it works even
    // while the file is held.
    QSqlQuery query(db);
    return query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(qMax(0, ms)));
}

TableCheck checkTable(QSqlDatabase db, const QString& table, const QStringList& columns, QSqlError* error)
{
    if (!db.isOpen()) {
        if (error) {
            *error = db.lastError().isValid() ? db.lastError()
                                              : QSqlError(QStringLiteral("not open"), QString(),
                                                          QSqlError::ConnectionError);
        }
        return TableCheck::Damaged;
    }
    QSqlQuery query(db);
    const QString sql = QStringLiteral("SELECT %1 FROM %2 LIMIT 1").arg(columns.join(QStringLiteral(", ")), table);
    // A prepare needs the schema, so a held file fails here already.
    if (query.prepare(sql) && query.exec()) {
        query.next();
        return TableCheck::Present;
    }
    if (error) {
        *error = query.lastError();
    }
    return isBusyError(query.lastError()) ? TableCheck::Busy : TableCheck::Damaged;
}
