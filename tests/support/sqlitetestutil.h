#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Runs one query on an SQLite file through a private connection and returns
// every row as texts; empty when the file or the query fails.
QList<QStringList> sqliteRows(const QString& path, const QString& sql);

// An empty PARAM.db at path with the area tables of cameras 0 to cameras - 1,
// left open as the parameter connection the camera stations read their areas
// through (CammerSingleton::ParamConnection); the caller removes it. False
// when the file or a table cannot be made.
bool openStationParamDatabase(const QString& path, int cameras);

// Another reader of an SQLite file holding it inside a read transaction, as a
// long history query does: writers then find the file busy until release().
class SqliteFileHolder {
public:
    explicit SqliteFileHolder(const QString& path);
    ~SqliteFileHolder();

    SqliteFileHolder(const SqliteFileHolder&) = delete;
    SqliteFileHolder& operator=(const SqliteFileHolder&) = delete;

    bool held() const { return m_held; }
    void release();

private:
    QString m_connection;
    bool m_held = false;
};
