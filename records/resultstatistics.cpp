#include "resultstatistics.h"

#include "cameraregistry.h"
#include "operatorprompt.h"
#include "platformhelpers.h"
#include "recordsclock.h"
#include "recordsdb.h"
#include "systemparam.h"
#include "systemcommands.h"
#include "temperaturechartdata.h"
#include "texttable.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>

ResultStatistics* gpResultStatistics = nullptr;

const char* const kCreateResReportSql =
    "CREATE TABLE IF NOT EXISTS res_report(idx                INTEGER PRIMARY KEY,"
    "roundstart         VARCHAR(32) NOT NULL,"
    "detectstart        VARCHAR(32) NOT NULL,"
    "idx_camera         INT NOT NULL,"
    "idx_detect         INT NOT NULL,"
    "roi_detail         TEXT NOT NULL,"
    "roi_result         TEXT NOT NULL,"
    "result             tinyint NOT NULL,"
    "description        TEXT)";

namespace {

const char* const kStatisticsConnection = "dbResStatistics";
const char* const kCreateConnection = "createResDB";
const char* const kDayStartFile = "restime.txt";
const char* const kArchiveFolder = "ResStatistics";
// The next day's file is made whole, both tables in it, under this name and
// renamed into place, so that no kill leaves a file without its tables.
const char* const kNextStatisticsFile = "ResStatistics.db.new";
const char* const kBuildConnection = "nextResDB";
constexpr int kHours = 24;
constexpr int kSlots = 8;      // cameras and detects kept, whatever is in use
constexpr int kAll = 8;        // index of the aggregate of all cameras or detects
constexpr int kStatisticsErrorText = 544;

const char* const kCreateStatisticsSql =
    "CREATE TABLE IF NOT EXISTS resstatistics(name VARCHAR(32) NOT NULL PRIMARY KEY, value1 TEXT NOT NULL, "
    "value2 TEXT NOT NULL)";
// Also for a table made elsewhere without a unique name column.
const char* const kInsertMissingRowSql =
    "INSERT INTO resstatistics(name, value1, value2) SELECT ?, ?, ? "
    "WHERE NOT EXISTS (SELECT 1 FROM resstatistics WHERE name = ?)";
const char* const kSelectRowSql = "select value1 ,value2 from resstatistics where name=?";
const char* const kUpdateRowSql = "update resstatistics set value1 = ?,value2 = ? where name =?";
const char* const kInsertRowSql = "INSERT INTO resstatistics(name, value1, value2) VALUES(?, ?, ?)";

HourlyCounts emptyHours()
{
    HourlyCounts h;
    for (int i = 0; i < kHours; ++i) {
        h.ok.append(0);
        h.ng.append(0);
    }
    return h;
}

CameraCounts emptyCamera()
{
    CameraCounts c;
    c.counts = emptyHours();
    for (int d = 0; d < kSlots; ++d) {
        c.detects.append(emptyHours());
    }
    return c;
}

QString rowName(int camera, int detect)
{
    return QStringLiteral("C%1_D%2").arg(camera).arg(detect);
}

QString countsText(const QList<int>& values)
{
    QString text;
    for (int v : values) {
        text += QStringLiteral("%1 ").arg(v);
    }
    return text;
}

// Integers in order, separated by white space, into hour 0, 1, ...; stops
// after 24 values, at the end or at the first word that is no number, so
// missing hours keep what they hold.
void readCounts(const QString& text, QList<int>* into)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = text.split(blanks, Qt::SkipEmptyParts);
    for (int i = 0; i < words.size() && i < kHours; ++i) {
        bool ok = false;
        const int v = words.at(i).toInt(&ok);
        if (!ok) {
            return;
        }
        (*into)[i] = v;
    }
}

int saturatingAdd(int a, int b)
{
    const qint64 sum = qint64(a) + qint64(b);
    return int(qBound<qint64>(std::numeric_limits<int>::min(), sum, std::numeric_limits<int>::max()));
}

void addInto(HourlyCounts* into, const HourlyCounts& add)
{
    for (int i = 0; i < kHours; ++i) {
        into->ok[i] = saturatingAdd(into->ok.at(i), add.ok.at(i));
        into->ng[i] = saturatingAdd(into->ng.at(i), add.ng.at(i));
    }
}

QDateTime dayStartOf(const QDate& date)
{
    return QDateTime(date, QTime(8, 0, 0, 0));
}

QSqlDatabase statisticsDb()
{
    return recordsConnection(QString::fromLatin1(kStatisticsConnection), QString::fromLatin1(kResStatisticsFile),
                             ResultStatistics::kBusyTimeoutMs);
}

void probeDayChange(const char* step)
{
    if (gResultStatisticsDayChangeProbe) {
        gResultStatisticsDayChangeProbe(step);
    }
}

void removeDatabaseFile(const QString& path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
}

QString archivePathOf(const QString& day)
{
    return QStringLiteral("%1/%2.db").arg(QDir(QString::fromLatin1(kArchiveFolder)).absolutePath(), day);
}

// A result database with res_report and resstatistics (one zero row per
// name given), made at path in one transaction; false, and nothing left at
// path, when that fails.
bool buildStatisticsFile(const QString& path, const QStringList& rowNames)
{
    removeDatabaseFile(path);
    bool ok = false;
    {
        QSqlDatabase db = recordsConnection(QString::fromLatin1(kBuildConnection), path, 1000);
        if (db.isOpen()) {
            db.close();
        }
        db.setDatabaseName(path);
        if (db.open()) {
            probeDayChange("file opened");
            ok = db.transaction();
            {
                QSqlQuery query(db);
                ok = ok && query.exec(QString::fromLatin1(kCreateResReportSql))
                     && query.exec(QString::fromLatin1(kCreateStatisticsSql))
                     && query.prepare(QString::fromLatin1(kInsertRowSql));
                const QString zeros = countsText(emptyHours().ok);
                for (int i = 0; ok && i < rowNames.size(); ++i) {
                    query.bindValue(0, rowNames.at(i));
                    query.bindValue(1, zeros);
                    query.bindValue(2, zeros);
                    ok = query.exec();
                }
                if (!ok) {
                    qWarning() << "result database" << path << "cannot be made:"
                               << (query.lastError().isValid() ? query.lastError().text() : db.lastError().text());
                }
            }
            ok = ok && db.commit();
            if (!ok) {
                db.rollback();
            }
            db.close();
        } else {
            qWarning() << "result database" << path << "cannot be made:" << db.lastError().text();
        }
    }
    if (!ok) {
        removeDatabaseFile(path);
    }
    return ok;
}

bool statisticsFileComplete(const QString& path)
{
    bool complete = false;
    {
        QSqlDatabase db = recordsConnection(QString::fromLatin1(kBuildConnection), path, 1000);
        if (db.isOpen()) {
            db.close();
        }
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            complete = query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                                 "name IN ('res_report', 'resstatistics')"))
                       && query.next() && query.value(0).toInt() == 2;
            query.finish();
            db.close();
        }
        db.setConnectOptions(QString());
    }
    return complete;
}

// The rows of the cameras and detects in use, in the order they are loaded
// and saved.
QList<QPair<int, int>> rowsOfCountsInUse()
{
    const int cameraCount = qBound(0, gCameraCount, kSlots);
    const int detectCount = qBound(0, gDetectCount, kSlots);
    QList<QPair<int, int>> rows;
    for (int c = 0; c < cameraCount; ++c) {
        for (int d = 0; d < detectCount; ++d) {
            rows.append({c, d});
        }
        rows.append({c, kAll});
    }
    for (int d = 0; d < detectCount; ++d) {
        rows.append({kAll, d});
    }
    rows.append({kAll, kAll});
    return rows;
}

QStringList rowNamesInUse()
{
    QStringList names;
    for (const auto& row : rowsOfCountsInUse()) {
        names.append(rowName(row.first, row.second));
    }
    return names;
}

} // namespace

std::function<void(const char* step)> gResultStatisticsDayChangeProbe;

void recoverInterruptedResultDayChange()
{
    const QString next = QString::fromLatin1(kNextStatisticsFile);
    const QString current = QString::fromLatin1(kResStatisticsFile);
    if (!QFileInfo::exists(next)) {
        return;
    }
    // With the current file still there the change stopped before it was
    // moved: the next check makes it again from the start.
    if (QFileInfo::exists(current) || !statisticsFileComplete(next)) {
        qInfo() << "result database: a next day's file left unfinished is removed";
        removeDatabaseFile(next);
        return;
    }
    // The ended day is in the archive. When restime.txt still names it, the
    // waiting file belongs to the day of the change, which this start takes
    // for today: the archived day is not archived a second time.
    bool known = false;
    quint32 start = 0;
    QFile file(QString::fromLatin1(kDayStartFile));
    if (file.open(QIODevice::ReadOnly)) {
        const qulonglong value = file.readAll().trimmed().toULongLong(&known);
        known = known && value <= std::numeric_limits<quint32>::max();
        start = quint32(value);
    }
    const QString day = QDateTime::fromSecsSinceEpoch(start).date().toString(QStringLiteral("yyyy-MM-dd"));
    if (!known || QFileInfo::exists(archivePathOf(day))) {
        const QDate today = recordsNow().date();
        const QByteArray text = QByteArray::number(dayStartOf(today).toSecsSinceEpoch());
        QSaveFile out(QString::fromLatin1(kDayStartFile));
        if (!out.open(QIODevice::WriteOnly) || out.write(text) < 0 || !out.commit()) {
            qWarning() << "restime.txt cannot be written";
        }
        qInfo().noquote() << "result database: an interrupted day change is finished; the new file serves"
                          << today.toString(QStringLiteral("yyyy-MM-dd"));
    } else {
        qInfo() << "result database: an interrupted day change is finished";
    }
    if (!QFile::rename(next, current)) {
        qWarning() << "result database:" << next << "cannot be renamed to" << current;
    }
}

bool createResStatisticsDb()
{
    recoverInterruptedResultDayChange();
    if (!QFileInfo::exists(QString::fromLatin1(kResStatisticsFile))) {
        // Made whole under a passing name: a kill halfway leaves no file
        // without its tables.
        const QString next = QString::fromLatin1(kNextStatisticsFile);
        if (buildStatisticsFile(next, rowNamesInUse())
            && QFile::rename(next, QString::fromLatin1(kResStatisticsFile))) {
            return true;
        }
        removeDatabaseFile(next);
    }
    bool ok = false;
    {
        QSqlDatabase db = recordsConnection(QString::fromLatin1(kCreateConnection),
                                            QString::fromLatin1(kResStatisticsFile), 1000);
        if (!db.isOpen() && !db.open()) {
            qWarning() << "result database cannot be opened:" << db.lastError().text();
            return false;
        }
        {
            QSqlQuery query(db);
            ok = query.exec(QString::fromLatin1(kCreateResReportSql));
            if (!ok) {
                qWarning() << "res_report cannot be created:" << query.lastError().text();
            }
        }
        db.close();
    }
    return ok;
}

ResultStatistics::ResultStatistics()
{
    m_saveTimer.setSingleShot(true);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveIfDirty(); });
    // Counts of the last pass must not stay behind when the program ends.
    addQuitHook(QStringLiteral("hourly counts"), [self = QPointer<ResultStatistics>(this)] {
        if (self) {
            self->saveIfDirty();
        }
    });

    buildTree();
    // A connection of that name left open would still point at the file it
    // was opened on.
    closeDb();
    // Makes the file when it is missing; res_report where it is missing.
    createResStatisticsDb();
    if (!openDb()) {
        reportUnusableDatabase(m_lastError);
    } else {
        QFile::remove(QString::fromLatin1(kResStatisticsRebootMarker));
        if (prepareTable()) {
            load();
        }
    }
    closeDb();
    loadDayStart();
}

ResultStatistics::~ResultStatistics()
{
    saveIfDirty();
    closeDb();
    if (gpResultStatistics == this) {
        gpResultStatistics = nullptr;
    }
}

void ResultStatistics::buildTree()
{
    root = emptyCamera();
    cameras.clear();
    for (int c = 0; c < kSlots; ++c) {
        cameras.append(emptyCamera());
    }
}

HourlyCounts& ResultStatistics::countsRef(int camera, int detect)
{
    CameraCounts& cam = camera == kAll ? root : cameras[camera];
    return detect == kAll ? cam.counts : cam.detects[detect];
}

const HourlyCounts& ResultStatistics::counts(int camera, int detect) const
{
    const CameraCounts& cam = camera == kAll ? root : cameras.at(camera);
    return detect == kAll ? cam.counts : cam.detects.at(detect);
}

QList<QPair<int, int>> ResultStatistics::rowsInUse() const
{
    return rowsOfCountsInUse();
}

bool ResultStatistics::openDb()
{
    QSqlDatabase db = statisticsDb();
    if (!db.isOpen() && !db.open()) {
        m_lastError = db.lastError().text();
        return false;
    }
    // Opening does not look into the file; a file that is no database shows
    // only at the first statement.
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        const int code = sqliteCode(query.lastError());
        if (code == 5 || code == 6) { // busy or locked: usable, just not now
            return true;
        }
        m_lastError = query.lastError().text();
        query.finish();
        db.close();
        return false;
    }
    return true;
}

void ResultStatistics::closeDb()
{
    QSqlDatabase db = statisticsDb();
    if (db.isOpen()) {
        db.close();
    }
}

bool ResultStatistics::prepareTable()
{
    QSqlDatabase db = statisticsDb();
    if (!db.isOpen()) {
        return false;
    }
    // Usually everything is there: then nothing is written, and a reader
    // that holds the file (the start-up load) is no obstacle.
    QList<QPair<int, int>> missing = rowsInUse();
    {
        QSqlQuery names(db);
        names.setForwardOnly(true);
        if (names.exec(QStringLiteral("select name from resstatistics"))) {
            QSet<QString> present;
            while (names.next()) {
                present.insert(names.value(0).toString());
            }
            missing.erase(std::remove_if(missing.begin(), missing.end(),
                                         [&present](const QPair<int, int>& r) {
                                             return present.contains(rowName(r.first, r.second));
                                         }),
                          missing.end());
        }
    }
    if (missing.isEmpty()) {
        m_tableReady = true;
        return true;
    }

    if (!db.transaction()) {
        m_lastError = db.lastError().text();
        qWarning() << "table resstatistics cannot be prepared:" << m_lastError;
        return false;
    }
    bool ok = false;
    {
        QSqlQuery create(db);
        ok = create.exec(QString::fromLatin1(kCreateStatisticsSql));
        QSqlQuery insert(db);
        ok = ok && insert.prepare(QString::fromLatin1(kInsertMissingRowSql));
        const QString zeros = countsText(emptyHours().ok);
        for (int i = 0; ok && i < missing.size(); ++i) {
            const QString name = rowName(missing.at(i).first, missing.at(i).second);
            insert.bindValue(0, name);
            insert.bindValue(1, zeros);
            insert.bindValue(2, zeros);
            insert.bindValue(3, name);
            ok = insert.exec();
        }
        if (!ok) {
            m_lastError = create.lastError().isValid() ? create.lastError().text() : insert.lastError().text();
        }
    }
    if (ok && db.commit()) {
        m_tableReady = true;
        return true;
    }
    if (ok) {
        m_lastError = db.lastError().text();
    }
    db.rollback();
    qWarning() << "table resstatistics cannot be prepared:" << m_lastError;
    return false;
}

bool ResultStatistics::load()
{
    QSqlDatabase db = statisticsDb();
    if (!db.isOpen()) {
        return false;
    }
    // What the file holds plus what was counted while it could not be read
    // (nothing, at start-up): a file that comes back later loses no count.
    CameraCounts fileRoot = emptyCamera();
    QList<CameraCounts> fileCameras;
    for (int c = 0; c < kSlots; ++c) {
        fileCameras.append(emptyCamera());
    }
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(QString::fromLatin1(kSelectRowSql))) {
            m_lastError = query.lastError().text();
            return false;
        }
        for (const auto& row : rowsInUse()) {
            query.bindValue(0, rowName(row.first, row.second));
            if (!query.exec()) {
                m_lastError = query.lastError().text();
                qWarning() << "hourly counts cannot be read:" << m_lastError;
                return false;
            }
            if (query.next()) {
                CameraCounts& cam = row.first == kAll ? fileRoot : fileCameras[row.first];
                HourlyCounts& h = row.second == kAll ? cam.counts : cam.detects[row.second];
                readCounts(query.value(0).toString(), &h.ok);
                readCounts(query.value(1).toString(), &h.ng);
            }
            query.finish();
        }
    }
    for (int d = 0; d <= kSlots; ++d) {
        HourlyCounts& into = d == kAll ? fileRoot.counts : fileRoot.detects[d];
        addInto(&into, d == kAll ? root.counts : root.detects.at(d));
        for (int c = 0; c < kSlots; ++c) {
            HourlyCounts& cinto = d == kAll ? fileCameras[c].counts : fileCameras[c].detects[d];
            addInto(&cinto, d == kAll ? cameras.at(c).counts : cameras.at(c).detects.at(d));
        }
    }
    root = fileRoot;
    cameras = fileCameras;
    m_loaded = true;
    return true;
}

bool ResultStatistics::save()
{
    if (!openDb()) {
        noteSaveFailure(m_lastError);
        return false;
    }
    if (!m_tableReady && !prepareTable()) {
        noteSaveFailure(m_lastError);
        return false;
    }
    if (!m_loaded && !load()) {
        noteSaveFailure(m_lastError);
        return false;
    }
    QSqlDatabase db = statisticsDb();
    if (!db.transaction()) {
        noteSaveFailure(db.lastError().text());
        return false;
    }
    bool ok = true;
    QString error;
    {
        QSqlQuery update(db);
        QSqlQuery insert(db);
        ok = update.prepare(QString::fromLatin1(kUpdateRowSql)) && insert.prepare(QString::fromLatin1(kInsertRowSql));
        if (!ok) {
            error = update.lastError().isValid() ? update.lastError().text() : insert.lastError().text();
        }
        const QList<QPair<int, int>> rows = rowsInUse();
        for (int i = 0; ok && i < rows.size(); ++i) {
            const HourlyCounts& h = counts(rows.at(i).first, rows.at(i).second);
            const QString name = rowName(rows.at(i).first, rows.at(i).second);
            const QString okText = countsText(h.ok);
            const QString ngText = countsText(h.ng);
            update.bindValue(0, okText);
            update.bindValue(1, ngText);
            update.bindValue(2, name);
            ok = update.exec();
            if (ok && update.numRowsAffected() == 0) {
                // A row deleted behind our back is made again.
                insert.bindValue(0, name);
                insert.bindValue(1, okText);
                insert.bindValue(2, ngText);
                ok = insert.exec();
                if (!ok) {
                    error = insert.lastError().text();
                }
            } else if (!ok) {
                error = update.lastError().text();
            }
        }
    }
    if (ok && db.commit()) {
        if (m_failedSaves > 0) {
            qInfo() << "hourly counts saved again after" << m_failedSaves << "failed tries";
        }
        m_failedSaves = 0;
        m_dirty = false;
        m_saveTimer.stop();
        return true;
    }
    if (ok) {
        error = db.lastError().text();
    }
    db.rollback();
    noteSaveFailure(error);
    return false;
}

void ResultStatistics::noteSaveFailure(const QString& error)
{
    ++m_failedSaves;
    if (m_failedSaves == 1 || error != m_lastLoggedError || m_failedSaves % 100 == 0) {
        qWarning() << "hourly counts cannot be saved (" << error << "); kept in memory for another try";
    }
    m_lastLoggedError = error;
    if (!m_saveTimer.isActive()) {
        m_saveTimer.start(kRetryIntervalMs);
    }
}

bool ResultStatistics::saveIfDirty()
{
    return !m_dirty || save();
}

bool ResultStatistics::addResult(int hour, bool ok, int camera, int detect)
{
    checkDayChange();
    if (hour < 0 || hour >= kHours || camera < 0 || camera > kAll || detect < 0 || detect > kAll) {
        qWarning() << "hourly count out of range ignored: hour" << hour << "camera" << camera << "detect" << detect;
        return true;
    }
    HourlyCounts& h = countsRef(camera, detect);
    QList<int>& list = ok ? h.ok : h.ng;
    list[hour] = saturatingAdd(list.at(hour), 1);
    m_dirty = true;
    m_saveTimer.start(0);
    return true;
}

void ResultStatistics::checkDayChange()
{
    const QDateTime now = recordsNow();
    const QDateTime start = QDateTime::fromSecsSinceEpoch(dayStart);
    if (start.date() == now.date()) {
        return;
    }
    archiveDay(start.date().toString(QStringLiteral("yyyy-MM-dd")));
    // The new day starts at 08:00 of today, which may lie ahead; the next
    // archive is named after it, however many days lay in between.
    dayStart = quint32(dayStartOf(now.date()).toSecsSinceEpoch());
    dayName = now.date().toString(QStringLiteral("yyyy-MM-dd"));
    writeDayStart();
    probeDayChange("day written");
    // Only now, with restime.txt naming the new day, does the new file take
    // the old one's place: a start at any point before finds either the old
    // file (and archives it again) or the waiting one (and finishes the move).
    installNextFile();
    probeDayChange("in place");
    systemCommands().sleepMs(10);
}

void ResultStatistics::installNextFile()
{
    const QString next = QString::fromLatin1(kNextStatisticsFile);
    if (!QFileInfo::exists(next)) {
        return;
    }
    if (!QFile::rename(next, QString::fromLatin1(kResStatisticsFile))) {
        qWarning() << "result database:" << next << "cannot be renamed to" << kResStatisticsFile;
        removeDatabaseFile(next);
        // The current file, whatever it is, gets its tables.
        createResStatisticsDb();
    }
    m_tableReady = false;
    if (openDb()) {
        prepareTable();
    }
    closeDb();
}

void ResultStatistics::archiveDay(const QString& date)
{
    // Counts not yet saved belong to the day being archived.
    saveIfDirty();
    closeDb();
    // The start-up load must not read a file that is being moved, nor merge
    // yesterday's rows after today's maps were emptied; rows still waiting
    // belong into the file of their day.
    TemperatureChartData::instance()->prepareForArchive();

    const QString name = dayName.isEmpty() ? date : dayName;
    const QString folder = QDir(QString::fromLatin1(kArchiveFolder)).absolutePath();
    QDir().mkpath(folder);
    const QString target = QStringLiteral("%1/%2.db").arg(folder, name);
    qInfo() << target;

    bool renamed = false;
    const QString next = QString::fromLatin1(kNextStatisticsFile);
    if (QFileInfo::exists(target)) {
        // Never overwritten: the file keeps collecting and is archived under
        // the next day's name instead.
        qWarning() << "fail rename" << "(" << target << "exists already)";
    } else if (!buildStatisticsFile(next, rowNamesInUse())) {
        // Without the next day's file the current one stays in use.
        qWarning() << "fail rename" << "(the next day's file cannot be made)";
    } else {
        probeDayChange("next file made");
        if (!QFile::rename(QString::fromLatin1(kResStatisticsFile), target)) {
            qWarning() << "fail rename";
            removeDatabaseFile(next);
        } else {
            renamed = true;
            qInfo() << QStringLiteral("rename %1.db success").arg(name);
            probeDayChange("archived");
        }
    }

    if (!renamed) {
        // The current file goes on; it gets both tables where it lacks them.
        createResStatisticsDb();
        m_tableReady = false;
    } else if (!m_dirty) {
        // The archive holds the day's counts; the new file starts the new
        // day's from zero. Counts the archive could not take stay in memory
        // and go on in the new file rather than being lost.
        buildTree();
        m_loaded = true;
    }

    // The maps stand for today, renamed file or not.
    TemperatureChartData* records = TemperatureChartData::instance();
    records->clearTodayResults();
    records->clearTodaySeries();
    if (renamed) {
        systemCommands().sleepMs(200);
    }
}

void ResultStatistics::loadDayStart()
{
    bool known = false;
    QFile file(QString::fromLatin1(kDayStartFile));
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray text = file.readAll().trimmed();
        bool ok = false;
        const qulonglong value = text.toULongLong(&ok);
        if (ok && value <= std::numeric_limits<quint32>::max()) {
            dayStart = quint32(value);
            known = true;
        } else {
            qWarning() << "restime.txt holds no day start:" << text.left(40) << "- taken as missing";
        }
    }
    if (!known) {
        const QDateTime now = recordsNow();
        QDate day = now.date();
        if (now.time().hour() < 8) {
            day = day.addDays(-1);
        }
        dayStart = quint32(dayStartOf(day).toSecsSinceEpoch());
        writeDayStart();
    }
    dayName = QDateTime::fromSecsSinceEpoch(dayStart).date().toString(QStringLiteral("yyyy-MM-dd"));
}

void ResultStatistics::writeDayStart()
{
    QSaveFile file(QString::fromLatin1(kDayStartFile));
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(dayStart)) < 0 || !file.commit()) {
        qWarning() << "restime.txt cannot be written; the day start" << dayStart << "holds until the program ends";
    }
}

void ResultStatistics::reportUnusableDatabase(const QString& error)
{
    qCritical() << "result statistics file" << kResStatisticsFile << "cannot be used:" << error
                << "- hourly counts are kept in memory only";
    warnOperator(textOf(kStatisticsErrorText));

    // One restart may cure a file system that was not ready; a file that
    // stays broken must not restart the panel over and over.
    const QString marker = QString::fromLatin1(kResStatisticsRebootMarker);
    if (QFileInfo::exists(marker)) {
        qCritical() << "the restart did not help; going on without saving the hourly counts";
        return;
    }
    QSaveFile file(marker);
    const QByteArray stamp = recordsNow().toString(Qt::ISODate).toLatin1();
    if (!file.open(QIODevice::WriteOnly) || file.write(stamp) < 0 || !file.commit()) {
        qCritical() << "no restart: the working folder cannot be written, so a second failure could not be told";
        return;
    }
    systemCommands().perform(SystemOperation::reboot());
}
