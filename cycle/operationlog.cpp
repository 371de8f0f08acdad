#include "operationlog.h"

#include "systemclock.h"

#include "systemcommands.h"
#include "texttable.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace {

const QString kRecordFile = QStringLiteral("RECORD.db");
const QString kRecordDateFile = QStringLiteral("time.txt");
const QString kArchiveFolder = QStringLiteral("./RECORD");

const char* const kCreateStatement =
    "CREATE TABLE IF NOT EXISTS RECORD(recordtime     VARCHAR(255),recordpassword VARCHAR(255),"
    "remarks        VARCHAR(1024))";
const char* const kInsertStatement =
    "INSERT INTO RECORD(recordtime, recordpassword, remarks) VALUES(?, ?, ?)";

// Connections of their own for the short jobs, so nothing else's connection is
// touched and two logs in one process never share a name.
QString privateConnectionName(const char* purpose)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("korvane-record-%1-%2").arg(QLatin1String(purpose)).arg(counter++);
}

bool insertFirstRow(QSqlDatabase& db)
{
    QSqlQuery query(db);
    query.prepare(QString::fromLatin1(kInsertStatement));
    query.addBindValue(QStringLiteral("00.00.00"));
    query.addBindValue(QStringLiteral("auto"));
    query.addBindValue(QStringLiteral("自动条目,生成新的数据库"));
    if (!query.exec()) {
        qWarning() << "operation log: first row not stored:" << query.lastError().text();
        return false;
    }
    return true;
}

bool hasRecordTable(QSqlDatabase& db)
{
    return db.tables().contains(QStringLiteral("RECORD"));
}

bool isRecordDate(const QString& text)
{
    return text.size() == 10 && QDate::fromString(text, QLatin1String(RecordDateFormat)).isValid();
}

} // namespace

QString userLevelText(int userLevel)
{
    switch (userLevel) {
    case 2:
        return textOf(154);
    case 1:
        return textOf(155);
    default:
        return textOf(156);
    }
}

OperationLog::OperationLog(const QString& connectionName)
    : m_connectionName(connectionName)
{
}

OperationLog::~OperationLog()
{
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

QString OperationLog::archiveDir()
{
    return QFileInfo(kArchiveFolder).absoluteFilePath();
}

QString OperationLog::archivePath(const QString& day)
{
    return QStringLiteral("%1/%2.db").arg(archiveDir(), day);
}

bool OperationLog::createRecordDB(const QString& path)
{
    const QString name = privateConnectionName("create");
    bool created = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            created = query.exec(QString::fromLatin1(kCreateStatement));
            if (created) {
                insertFirstRow(db);
            } else {
                qWarning() << "operation log: table not created in" << path << query.lastError().text();
            }
            query.clear();
            db.close();
        } else {
            qWarning() << "operation log:" << path << "cannot be created:" << db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return created;
}

void OperationLog::start()
{
    if (!QFile::exists(kRecordFile)) {
        createRecordDB(kRecordFile);
    }
    open();
    QDir().mkpath(kArchiveFolder);

    QString day;
    QFile file(kRecordDateFile);
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> words = file.read(256).simplified().split(' ');
        day = QString::fromLatin1(words.value(0));
        if (!isRecordDate(day)) {
            // A damaged day would name the archive; take today rather than file
            // the log under a name nobody can find.
            qWarning() << "operation log: time.txt holds no day:" << day;
            day.clear();
        }
    }
    if (day.isEmpty()) {
        day = clockNow().date().toString(QLatin1String(RecordDateFormat));
        writeRecordDate(day);
    }
    m_recordDate = day;
    checkDate();
}

bool OperationLog::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && QSqlDatabase::database(m_connectionName, false).isOpen();
}

bool OperationLog::open()
{
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
        ? QSqlDatabase::database(m_connectionName, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    if (db.isOpen()) {
        return true;
    }
    if (!QFile::exists(kRecordFile)) {
        createRecordDB(kRecordFile);
    }
    db.setDatabaseName(kRecordFile);
    if (!db.open()) {
        qWarning() << "operation log: RECORD.db cannot be opened:" << db.lastError().text();
        return false;
    }
    // A file that lost its table (emptied by hand, cut short) counts as new:
    // give it the table and the first row instead of dropping every row.
    if (!hasRecordTable(db)) {
        QSqlQuery query(db);
        if (query.exec(QString::fromLatin1(kCreateStatement))) {
            insertFirstRow(db);
        }
    }
    return true;
}

void OperationLog::close()
{
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
    }
}

bool OperationLog::insertRecord(const QString& remarks, int userLevel)
{
    checkDate();
    if (!open()) {
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    QSqlQuery query(db);
    query.prepare(QString::fromLatin1(kInsertStatement));
    query.addBindValue(clockNow().time().toString(QStringLiteral("hh.mm.ss")));
    query.addBindValue(userLevelText(userLevel));
    query.addBindValue(remarks);
    if (!query.exec()) {
        qWarning() << "operation log: row lost:" << remarks << query.lastError().text();
        return false;
    }
    return true;
}

bool OperationLog::clearRecord()
{
    // Clearing just after midnight must not empty the day that ended.
    checkDate();
    if (!open()) {
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("DELETE FROM RECORD"))) {
        qWarning() << "operation log: not cleared:" << query.lastError().text();
        return false;
    }
    return true;
}

bool OperationLog::checkDate()
{
    if (m_recordDate.isEmpty()) {
        return true;  // not started: no day to compare with
    }
    const QString today = clockNow().date().toString(QLatin1String(RecordDateFormat));
    if (today == m_recordDate) {
        return true;
    }
    close();
    if (!archiveCurrentFile()) {
        if (!m_archiveFailureLogged) {
            qWarning() << "operation log: the log of" << m_recordDate << "could not be archived to"
                       << archivePath(m_recordDate) << "; it stays in use and the archive is tried again";
            m_archiveFailureLogged = true;
        }
        return false;
    }
    m_archiveFailureLogged = false;
    createRecordDB(kRecordFile);
    systemCommands().sleepMs(300);
    m_recordDate = today;
    writeRecordDate(today);
    return true;
}

bool OperationLog::archiveCurrentFile()
{
    if (!QFile::exists(kRecordFile)) {
        return true;  // nothing was logged that day and the file is gone
    }
    QDir().mkpath(archiveDir());
    const QString target = archivePath(m_recordDate);
    if (!QFileInfo::exists(target)) {
        return QFile::rename(kRecordFile, target);
    }
    // The day's archive exists already (the clock was set back, or an earlier
    // day change could not store time.txt): add the rows to it rather than lose
    // them or log the ended day into the new one.
    return mergeInto(target);
}

bool OperationLog::mergeInto(const QString& archive)
{
    const QString name = privateConnectionName("merge");
    bool merged = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(archive);
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare(QStringLiteral("ATTACH DATABASE ? AS ending"));
            query.addBindValue(QFileInfo(kRecordFile).absoluteFilePath());
            if (query.exec() && query.exec(QString::fromLatin1(kCreateStatement))) {
                query.exec(QStringLiteral(
                    "SELECT count(*) FROM ending.sqlite_master WHERE type = 'table' AND name = 'RECORD'"));
                const bool endingHasTable = query.next() && query.value(0).toInt() > 0;
                if (!endingHasTable) {
                    merged = true;
                } else if (db.transaction()) {
                    // Moved, not copied, in one transaction over both files: a
                    // retry after a later failure never adds a row twice.
                    merged = query.exec(QStringLiteral(
                                 "INSERT INTO RECORD(recordtime, recordpassword, remarks) "
                                 "SELECT recordtime, recordpassword, remarks FROM ending.RECORD"))
                        && query.exec(QStringLiteral("DELETE FROM ending.RECORD"));
                    if (merged) {
                        merged = db.commit();
                    } else {
                        db.rollback();
                    }
                }
                if (!merged && !m_archiveFailureLogged) {
                    qWarning() << "operation log: rows not added to" << archive << query.lastError().text();
                }
                query.exec(QStringLiteral("DETACH DATABASE ending"));
            }
            query.clear();
            db.close();
        } else if (!m_archiveFailureLogged) {
            qWarning() << "operation log: archive" << archive << "cannot be opened:" << db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (merged && !QFile::remove(kRecordFile)) {
        // Its rows are in the archive; the emptied file serves the new day.
        qWarning() << "operation log: RECORD.db added to" << archive << "but cannot be removed";
    }
    return merged;
}

bool OperationLog::writeRecordDate(const QString& day)
{
    QSaveFile file(kRecordDateFile);
    const QByteArray text = day.toLatin1();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        qWarning() << "operation log: time.txt not stored:" << file.errorString();
        return false;
    }
    return true;
}
