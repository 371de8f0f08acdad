// Holds an SQLite file locked the way another program on the panel would (a
// plant tool, a technician's sqlite shell):
//   dblocker <file> <hold-ms>
// begins an exclusive transaction, prints "locked", keeps the lock for
// hold-ms, ends the transaction and prints "released". Such a lock ends by
// itself, so the test's own thread may sit blocked meanwhile. With a negative
// hold-ms the lock lasts until a line (or the end) arrives on stdin.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: dblocker <file> <hold-ms>\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int holdMs = QByteArray(argv[2]).toInt();
    int status = 1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
                std::printf("locked\n");
                std::fflush(stdout);
                if (holdMs < 0) {
                    std::string line;
                    std::getline(std::cin, line);
                } else {
                    QThread::msleep(static_cast<unsigned long>(holdMs));
                }
                query.exec(QStringLiteral("ROLLBACK"));
                std::printf("released\n");
                std::fflush(stdout);
                status = 0;
            } else {
                std::fprintf(stderr, "dblocker: %s\n", qPrintable(query.lastError().text()));
            }
            query.clear();
            db.close();
        } else {
            std::fprintf(stderr, "dblocker: %s\n", qPrintable(db.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
    return status;
}
