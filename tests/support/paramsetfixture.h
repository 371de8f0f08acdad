#pragma once

// Working sets and parameter groups on disk for the group-switch tests: a
// PARAM.db that names its origin and camera folders whose files do the same.
#include "testworkdir.h"

#include <QDirIterator>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace paramset {

// A PARAM.db with the table sysparam and one row naming where it came from.
inline bool makeParamDb(const QString& path, const QString& origin)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-param");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec("CREATE TABLE sysparam(name VARCHAR(64), value VARCHAR(1024))");
            q.prepare("INSERT INTO sysparam(name, value) VALUES('origin', ?)");
            q.addBindValue(origin);
            ok = ok && q.exec();
            q.clear();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase("test-param");
    return ok;
}

inline QString originOf(const QString& path)
{
    QString origin;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-origin");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec("SELECT value FROM sysparam WHERE name = 'origin'") && q.next()) {
                origin = q.value(0).toString();
            }
            q.clear();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase("test-origin");
    return origin;
}

// A working set or a group: PARAM.db and cammer<c><d>/template1.bmp for every
// camera and detect, each telling where it came from.
inline void makeSet(const TestWorkDir& dir, const QString& folder, const QString& origin, int cameras, int detects)
{
    const QString prefix = folder.isEmpty() ? QString() : folder + "/";
    QVERIFY(QDir().mkpath(dir.filePath(folder.isEmpty() ? "." : folder)));
    QVERIFY(makeParamDb(dir.filePath(prefix + "PARAM.db"), origin));
    for (int c = 1; c <= cameras; ++c) {
        for (int d = 1; d <= detects; ++d) {
            QVERIFY(dir.write(QString("%1cammer%2%3/template1.bmp").arg(prefix).arg(c).arg(d),
                              QString("%1 %2%3").arg(origin).arg(c).arg(d).toUtf8()));
        }
    }
}

// Every file below the working folder except the groups and the operation
// log (which records the switch), with its content.
inline QMap<QString, QByteArray> workingFiles(const TestWorkDir& dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(dir.path()).relativeFilePath(path);
        if (!relative.startsWith("paraGroup/") && relative != "RECORD.db") {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            files.insert(relative, f.readAll());
        }
    }
    return files;
}

} // namespace paramset

using namespace paramset;
