#include "operationlog.h"

#include "systemclock.h"

#include "sqlitebusy.h"
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
// The next day's file is made whole under this name and renamed into place,
// so that no kill leaves a RECORD.db without its table or first row.
const QString kNextRecordFile = QStringLiteral("RECORD.db.new");
const QString kRecordDateFile = QStringLiteral("time.txt");
const QString kArchiveFolder = QStringLiteral("./RECORD");

const char* const kCreateStatement =
    "CREATE TABLE IF NOT EXISTS RECORD(recordtime     VARCHAR(255),recordpassword VARCHAR(255),"
    "remarks        VARCHAR(1024))";
const char* const kInsertStatement =
    "INSERT INTO RECORD(recordtime, recordpassword, remarks) VALUES(?, ?, ?)";
const char* const kCountTables =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'RECORD' COLLATE NOCASE";

// Connections of their own for the short jobs, so nothing else's connection is
// touched and two logs in one process never share a name.
QString privateConnectionName(const char* purpose)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("korvane-record-%1-%2").arg(QLatin1String(purpose)).arg(counter++);
}

bool insertFirstRow(QSqlDatabase& db, QSqlError* error)
{
    QSqlQuery query(db);
    if (!query.prepare(QString::fromLatin1(kInsertStatement))) {
        *error = query.lastError();
        return false;
    }
    query.addBindValue(QStringLiteral("00.00.00"));
    query.addBindValue(QStringLiteral("auto"));
    query.addBindValue(QStringLiteral("自动条目,生成新的数据库"));
    if (!query.exec()) {
        *error = query.lastError();
        return false;
    }
    return true;
}

bool recordTableCount(QSqlQuery& query, int* count)
{
    if (!query.exec(QString::fromLatin1(kCountTables)) || !query.next()) {
        return false;
    }
    *count = query.value(0).toInt();
    query.finish();
    return true;
}

// Makes sure the file holds table RECORD; a file without it (new, emptied by
// hand, cut short) gets the table and its first row. The first look writes
// nothing, so that a read-only file with its table still counts. A file that
// another program holds fails here busy and is never taken for one without a
// table; the creation runs in a write transaction that looks again, so a file
// that got its table meanwhile never receives a second first row.
bool ensureRecordTable(QSqlDatabase& db, QSqlError* error)
{
    QSqlQuery query(db);
    int tables = 0;
    if (!recordTableCount(query, &tables)) {
        *error = query.lastError();
        return false;
    }
    if (tables > 0) {
        return true;
    }
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        *error = query.lastError();
        return false;
    }
    bool ok = recordTableCount(query, &tables);
    if (ok && tables == 0) {
        ok = query.exec(QString::fromLatin1(kCreateStatement)) && insertFirstRow(db, error);
    }
    if (ok) {
        ok = query.exec(QStringLiteral("COMMIT"));
    }
    if (!ok) {
        if (!error->isValid()) {
            *error = query.lastError();
        }
        query.exec(QStringLiteral("ROLLBACK"));
    }
    return ok;
}

bool isRecordDate(const QString& text)
{
    return text.size() == 10 && QDate::fromString(text, QLatin1String(RecordDateFormat)).isValid();
}

QString describe(const QSqlError& error)
{
    return isBusyError(error) ? QStringLiteral("held by another program (%1)").arg(error.text()) : error.text();
}

} // namespace

std::function<void(const char* step)> gOperationLogDayChangeProbe;

namespace {
void probeDayChange(const char* step)
{
    if (gOperationLogDayChangeProbe) {
        gOperationLogDayChangeProbe(step);
    }
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
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kRetryIntervalMs);
    QObject::connect(&m_retryTimer, &QTimer::timeout, [this] {
        checkDate();
        writePendingRows();
    });
}

OperationLog::~OperationLog()
{
    m_retryTimer.stop();
    if (!m_pending.isEmpty()) {
        writePendingRows();
    }
    for (const PendingRow& row : qAsConst(m_pending)) {
        qWarning().noquote() << "operation log: row lost:" << row.day << row.time << row.remarks;
    }
    closeConnection();
    if (QSqlDatabase::contains(m_connectionName)) {
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

bool OperationLog::createRecordDB(const QString& path, int busyWaitMs)
{
    if (QFileInfo::exists(path)) {
        // A file another program made, or one emptied by hand: it gets its
        // table and first row in place, in one transaction.
        return fillRecordFile(path, busyWaitMs);
    }
    const QString part = path + QStringLiteral(".new");
    if (!buildRecordFile(part, busyWaitMs)) {
        return false;
    }
    if (!QFile::rename(part, path)) {
        qWarning() << "operation log:" << part << "cannot be renamed to" << path;
        removeRecordFile(part);
        // Somebody made the file meanwhile: it is used as it is.
        return QFileInfo::exists(path) && fillRecordFile(path, busyWaitMs);
    }
    return true;
}

bool OperationLog::fillRecordFile(const QString& path, int busyWaitMs)
{
    const QString name = privateConnectionName("create");
    bool created = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(busyTimeoutOption(busyWaitMs));
        if (db.open()) {
            probeDayChange("file opened");
            QSqlError error;
            created = ensureRecordTable(db, &error);
            if (!created) {
                qWarning().noquote() << "operation log: no table in" << path << ":" << describe(error);
            }
            db.close();
        } else {
            qWarning() << "operation log:" << path << "cannot be created:" << db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return created;
}

bool OperationLog::buildRecordFile(const QString& path, int busyWaitMs)
{
    // What an earlier attempt cut short is no use: nothing but this code
    // writes to a file of this name.
    removeRecordFile(path);
    if (fillRecordFile(path, busyWaitMs)) {
        return true;
    }
    removeRecordFile(path);
    return false;
}

void OperationLog::removeRecordFile(const QString& path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
}

bool OperationLog::recordFileComplete(const QString& path)
{
    const QString name = privateConnectionName("look");
    bool complete = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            int tables = 0;
            complete = recordTableCount(query, &tables) && tables > 0;
            query.clear();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return complete;
}

void OperationLog::recoverInterruptedDayChange()
{
    const QString next = kNextRecordFile;
    if (!QFileInfo::exists(next)) {
        return;
    }
    // With RECORD.db still there the change stopped before the old file was
    // moved: it is made again from the start at the day check.
    if (QFileInfo::exists(kRecordFile) || !recordFileComplete(next)) {
        qInfo() << "operation log: a next day's file left unfinished is removed";
        removeRecordFile(next);
        return;
    }
    // The ended day's file is in the archive and the next day's waits. When
    // "time.txt" still names the archived day, the file belongs to the day of
    // the change, which this start takes for today: the archived day must not
    // receive it (and its first row) a second time.
    QString day;
    QFile file(kRecordDateFile);
    if (file.open(QIODevice::ReadOnly)) {
        day = QString::fromLatin1(file.read(256).simplified().split(' ').value(0));
    }
    if (!isRecordDate(day) || QFileInfo::exists(archivePath(day))) {
        const QString today = clockNow().date().toString(QLatin1String(RecordDateFormat));
        qInfo().noquote() << "operation log: an interrupted day change is finished; the new file serves" << today;
        writeRecordDate(today);
    } else {
        qInfo() << "operation log: an interrupted day change is finished";
    }
    if (!QFile::rename(next, kRecordFile)) {
        qWarning() << "operation log:" << next << "cannot be renamed to" << kRecordFile;
    }
}

void OperationLog::start()
{
    recoverInterruptedDayChange();
    if (!QFile::exists(kRecordFile)) {
        createRecordDB(kRecordFile, m_busyWaitMs);
    }
    QSqlError error;
    if (!openConnection(&error)) {
        qWarning().noquote() << "operation log: RECORD.db not ready at start:" << describe(error);
    }
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
    QSqlError error;
    return openConnection(&error);
}

bool OperationLog::openConnection(QSqlError* error)
{
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
        ? QSqlDatabase::database(m_connectionName, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    if (!db.isOpen()) {
        m_tableReady = false;
        if (!QFile::exists(kRecordFile)) {
            createRecordDB(kRecordFile, m_busyWaitMs);
        }
        db.setDatabaseName(kRecordFile);
        db.setConnectOptions(busyTimeoutOption(m_busyWaitMs));
        if (!db.open()) {
            *error = db.lastError();
            qWarning() << "operation log: RECORD.db cannot be opened:" << db.lastError().text();
            return false;
        }
    }
    if (!m_tableReady) {
        m_tableReady = ensureRecordTable(db, error);
    }
    return m_tableReady;
}

void OperationLog::close()
{
    if (!m_pending.isEmpty()) {
        writePendingRows();
    }
    closeConnection();
}

void OperationLog::closeConnection()
{
    m_tableReady = false;
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
    }
}

bool OperationLog::insertRecord(const QString& remarks, int userLevel)
{
    return insertRecords(QStringList{remarks}, userLevel);
}

bool OperationLog::insertRecords(const QStringList& remarks, int userLevel)
{
    if (remarks.isEmpty()) {
        return true;
    }
    checkDate();
    // One time for the whole batch, taken after the day check: all of its
    // rows land in the file of that day.
    const QDateTime now = clockNow();
    const QString day = now.date().toString(QLatin1String(RecordDateFormat));
    const QString time = now.time().toString(QStringLiteral("hh.mm.ss"));
    const QString level = userLevelText(userLevel);
    for (const QString& remark : remarks) {
        m_pending.append({day, time, level, remark});
    }
    while (m_pending.size() > kMaxPendingRows) {
        const PendingRow dropped = m_pending.takeFirst();
        qWarning().noquote() << "operation log: too many rows kept back; row lost:" << dropped.day << dropped.time
                             << dropped.remarks;
    }
    return writePendingRows();
}

bool OperationLog::writePendingRows()
{
    return writePendingRowsOf(QString());
}

bool OperationLog::writePendingRowsOf(const QString& day)
{
    int count = 0;
    while (count < m_pending.size() && (day.isEmpty() || m_pending.at(count).day == day)) {
        ++count;
    }
    if (count == 0) {
        return true;
    }
    QSqlError error;
    bool ok = openConnection(&error);
    if (ok) {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        // Rows kept back go in together: one commit for many, and a failure
        // halfway leaves none of them written twice.
        const bool together = count > 1;
        ok = !together || db.transaction();
        QSqlQuery query(db);
        ok = ok && query.prepare(QString::fromLatin1(kInsertStatement));
        for (int i = 0; ok && i < count; ++i) {
            const PendingRow& row = m_pending.at(i);
            query.addBindValue(row.time);
            query.addBindValue(row.level);
            query.addBindValue(row.remarks);
            ok = query.exec();
        }
        if (!ok) {
            error = query.lastError().isValid() ? query.lastError() : db.lastError();
        } else if (together && !db.commit()) {
            error = db.lastError();
            ok = false;
        }
        if (!ok && together) {
            db.rollback();
        }
    }
    if (!ok) {
        noteWriteFailure(error);
        if (!m_retryTimer.isActive()) {
            m_retryTimer.start();
        }
        return false;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + count);
    if (m_writeFailureLogged) {
        qInfo() << "operation log: RECORD.db is written again; the rows kept back are stored";
        m_writeFailureLogged = false;
    }
    if (m_pending.isEmpty()) {
        m_retryTimer.stop();
    }
    return true;
}

void OperationLog::noteWriteFailure(const QSqlError& error)
{
    // Once per spell: a file held for an hour must not fill the log with a
    // line per event.
    if (!m_writeFailureLogged) {
        qWarning().noquote() << "operation log: RECORD.db cannot be written:" << describe(error)
                             << "; the rows are kept and written later";
        m_writeFailureLogged = true;
    }
}

bool OperationLog::clearRecord()
{
    // Clearing just after midnight must not empty the day that ended.
    checkDate();
    QSqlError error;
    if (!openConnection(&error)) {
        qWarning().noquote() << "operation log: not cleared:" << describe(error);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("DELETE FROM RECORD"))) {
        qWarning().noquote() << "operation log: not cleared:" << describe(query.lastError());
        return false;
    }
    // Rows kept back were logged before the clearing.
    m_pending.clear();
    m_retryTimer.stop();
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
    // The rows of the day that ends belong in its file, before it goes.
    if (!writePendingRowsOf(m_recordDate)) {
        return false;
    }
    closeConnection();
    // The order makes every point of it safe to be cut short by a kill: the
    // next day's file is whole before the old one goes, "time.txt" names the
    // new day before that file takes the old one's place, and a start in
    // between finishes the change (recoverInterruptedDayChange).
    if (!buildRecordFile(kNextRecordFile, m_busyWaitMs)) {
        if (!m_archiveFailureLogged) {
            qWarning() << "operation log: the file of" << today << "cannot be made; the day change is tried again";
            m_archiveFailureLogged = true;
        }
        return false;
    }
    probeDayChange("next file made");
    if (!archiveCurrentFile()) {
        removeRecordFile(kNextRecordFile);
        if (!m_archiveFailureLogged) {
            qWarning() << "operation log: the log of" << m_recordDate << "could not be archived to"
                       << archivePath(m_recordDate) << "; it stays in use and the archive is tried again";
            m_archiveFailureLogged = true;
        }
        return false;
    }
    probeDayChange("archived");
    m_archiveFailureLogged = false;
    systemCommands().sleepMs(300);
    m_recordDate = today;
    writeRecordDate(today);
    probeDayChange("day written");
    if (!QFile::rename(kNextRecordFile, kRecordFile)) {
        // The next opening makes a fresh file; the next start clears this one.
        qWarning() << "operation log:" << kNextRecordFile << "cannot be renamed to" << kRecordFile;
    }
    probeDayChange("in place");
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
        return moveInto(target);
    }
    // The day's archive exists already (the clock was set back, or an earlier
    // day change could not store time.txt): add the rows to it rather than lose
    // them or log the ended day into the new one.
    return mergeInto(target);
}

bool OperationLog::moveInto(const QString& archive)
{
    // Moved only while we hold the file's lock: a program in the middle of a
    // transaction on it would otherwise keep writing into the archive, its
    // journal left behind beside the new day's file.
    const QString name = privateConnectionName("move");
    bool moved = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(kRecordFile);
        db.setConnectOptions(busyTimeoutOption(m_busyWaitMs));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
                moved = QFile::rename(kRecordFile, archive);
                query.exec(QStringLiteral("ROLLBACK"));
            } else if (isBusyError(query.lastError())) {
                if (!m_archiveFailureLogged) {
                    qWarning().noquote() << "operation log: RECORD.db is not archived now:" << describe(query.lastError());
                }
            } else {
                // Not a database SQLite can lock: no transaction of anybody's
                // can be open on it either.
                moved = QFile::rename(kRecordFile, archive);
            }
            query.clear();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return moved;
}

bool OperationLog::mergeInto(const QString& archive)
{
    const QString name = privateConnectionName("merge");
    bool merged = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(archive);
        db.setConnectOptions(busyTimeoutOption(m_busyWaitMs));
        if (db.open()) {
            QSqlQuery query(db);
            query.prepare(QStringLiteral("ATTACH DATABASE ? AS ending"));
            query.addBindValue(QFileInfo(kRecordFile).absoluteFilePath());
            if (query.exec() && query.exec(QString::fromLatin1(kCreateStatement))) {
                bool endingHasTable = false;
                const bool looked = query.exec(QStringLiteral(
                    "SELECT count(*) FROM ending.sqlite_master WHERE type = 'table' AND name = 'RECORD' COLLATE NOCASE"))
                    && query.next();
                if (looked) {
                    endingHasTable = query.value(0).toInt() > 0;
                    query.finish();
                }
                if (looked && !endingHasTable) {
                    merged = true;
                } else if (looked && db.transaction()) {
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
                    qWarning().noquote() << "operation log: rows not added to" << archive << ":"
                                         << describe(query.lastError());
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
