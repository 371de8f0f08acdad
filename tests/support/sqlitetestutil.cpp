#include "sqlitetestutil.h"

#include "cammersingleton.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QVariant>

namespace {

QString uniqueConnection(const char* prefix)
{
    return QString::fromLatin1(prefix) + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

QList<QStringList> sqliteRows(const QString& path, const QString& sql)
{
    QList<QStringList> rows;
    const QString connection = uniqueConnection("test-rows-");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql)) {
                while (q.next()) {
                    QStringList row;
                    for (int i = 0; i < q.record().count(); ++i) {
                        row.append(q.value(i).toString());
                    }
                    rows.append(row);
                }
            }
            q.clear();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return rows;
}

SqliteFileHolder::SqliteFileHolder(const QString& path)
    : m_connection(uniqueConnection("test-holder-"))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    if (db.open()) {
        QSqlQuery q(db);
        m_held = q.exec(QStringLiteral("BEGIN")) && q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))
            && q.next();
    }
}

SqliteFileHolder::~SqliteFileHolder()
{
    release();
    QSqlDatabase::removeDatabase(m_connection);
}

void SqliteFileHolder::release()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen()) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
    }
    m_held = false;
}

bool openStationParamDatabase(const QString& path, int cameras)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(path);
    bool ok = db.open();
    for (int c = 0; ok && c < cameras; ++c) {
        ok = QSqlQuery(db).exec(QStringLiteral("create table cammer%1 (name text, value text)").arg(c));
    }
    return ok;
}
