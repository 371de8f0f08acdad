#include "temperaturechartdata.h"

#include "datathread.h"
#include "platformhelpers.h"
#include "recordsclock.h"
#include "recordsdb.h"
#include "resultrow.h"
#include "resultstatistics.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <limits>

TemperatureChartData* gpTemperatureChartData = nullptr;

namespace {

const char* const kInsertConnection = "ResInsertDB";

const char* const kInsertSql =
    "INSERT INTO res_report (roundstart, detectstart, idx_camera, idx_detect, roi_detail, roi_result, result, "
    "description)values(?, ?, ?, ?, ?, ?, ?, ?)";

// roundstart is compared with the full bound texts, so the rows of the day's
// last second (up to 23:59:59.999) are read back too.
const char* const kSelectTodaySql = "select * from res_report where roundstart between ? and ?";

const char* const kRegularRecording = "Regular recording";

bool isTemperatureList(const QList<int>& detail)
{
    return detail.size() >= 2 && detail.at(0) == 9;
}

void bindRow(QSqlQuery& query, const TemperatureChartData::PendingInsert& row)
{
    query.bindValue(0, row.roundstart);
    query.bindValue(1, row.detectstart);
    query.bindValue(2, row.idx_camera);
    query.bindValue(3, row.idx_detect);
    query.bindValue(4, row.roi_detail);
    query.bindValue(5, row.roi_result);
    query.bindValue(6, row.result);
    query.bindValue(7, row.description);
}

QString describeRow(const TemperatureChartData::PendingInsert& row)
{
    return QStringLiteral("camera %1 detect %2 round %3 detect %4 result %5 %6 %7")
        .arg(row.idx_camera)
        .arg(row.idx_detect)
        .arg(row.roundstart, row.detectstart)
        .arg(row.result)
        .arg(row.roi_detail, row.roi_result);
}

} // namespace

TodayRows loadTodayRows(const QString& file, const QDateTime& from, const QDateTime& to)
{
    TodayRows rows;
    // Pool threads are reused: the name is this thread's, and it is removed
    // again before the job ends.
    const QString name = QStringLiteral("ResDB-load-%1").arg(quintptr(QThread::currentThreadId()), 0, 16);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        // A writer on the GUI thread holds the file only for a commit.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        // A reader must not create a missing file. It opens read-write all
        // the same: a journal left by a power cut can only be rolled back so.
        if (!QFileInfo::exists(file)) {
            qWarning() << "today's results cannot be read:" << file << "does not exist";
        } else if (!db.open()) {
            qWarning() << "today's results cannot be read from" << file << db.lastError().text();
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            query.prepare(QString::fromLatin1(kSelectTodaySql));
            query.addBindValue(formatResultTime(from));
            query.addBindValue(formatResultTime(to));
            if (!query.exec()) {
                qWarning() << "today's results cannot be read:" << query.lastError().text();
            } else {
                rows.readOk = true;
                QList<QList<int>> detail;
                QList<int> result;
                while (query.next()) {
                    ++rows.rows;
                    const QString roundText = query.value(1).toString();
                    QDateTime roundstart;
                    QDateTime detectstart;
                    if (!parseResultTime(roundText, &roundstart)
                        || !parseResultTime(query.value(2).toString(), &detectstart)
                        || !parseRoiDetail(query.value(5).toString(), &detail)
                        || !parseRoiResult(query.value(6).toString(), &result)) {
                        ++rows.skippedRows;
                        continue;
                    }
                    const int camera = query.value(3).toInt();
                    const int detect = query.value(4).toInt();
                    const double x = seriesSeconds(detectstart);
                    for (int n = 0; n < detail.size(); ++n) {
                        if (isTemperatureList(detail.at(n))) {
                            rows.series[seriesKey(camera, detect, n)].append(QPointF(x, detail.at(n).at(1)));
                        }
                    }
                    // A later row of the same cycle, camera, detect and area
                    // (a re-check) replaces the earlier one.
                    for (int n = 0; n < result.size(); ++n) {
                        rows.results.enter(roundstart, camera, detect, n, result.at(n) != 0, true);
                    }
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (rows.skippedRows > 0) {
        qWarning() << "today's results:" << rows.skippedRows << "unreadable rows left out";
    }
    qInfo() << "finish read";
    return rows;
}

TemperatureChartData::TemperatureChartData()
{
    connect(&regularTimer, &QTimer::timeout, this, &TemperatureChartData::onRegularTimer);
    connect(&m_loadWatcher, &QFutureWatcher<void>::finished, this, &TemperatureChartData::onTodayLoadFinished);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kRetryIntervalMs);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { flushPendingInserts(); });
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { flushPendingInserts(); });
    m_exportTimer.setSingleShot(true);
    connect(&m_exportTimer, &QTimer::timeout, this, &TemperatureChartData::onExportTimeout);
}

TemperatureChartData::~TemperatureChartData()
{
    // Only tests destroy the service; the jobs must not outlive what they fill.
    m_loadFuture.waitForFinished();
    // Rows of the last pass are not left behind when the service goes.
    if (todayLoaded && !pendingInserts.isEmpty()) {
        flushPendingInserts();
    }
    stopQuery();
    delete queryThread;
    if (m_exportProcess) {
        m_exportProcess->disconnect(this);
        m_exportProcess->kill();
        m_exportProcess->waitForFinished(3000);
    }
    if (gpTemperatureChartData == this) {
        gpTemperatureChartData = nullptr;
    }
}

TemperatureChartData* TemperatureChartData::instance()
{
    if (!gpTemperatureChartData) {
        gpTemperatureChartData = new TemperatureChartData;
    }
    return gpTemperatureChartData;
}

void TemperatureChartData::init()
{
    if (m_loadStarted) {
        return;
    }
    databasePath = QString::fromLatin1(kResStatisticsFile);
    ensureQueryThread();

    // Results are recorded from the first cycle on, so the table must exist
    // from the start, not only after the first daily archive.
    if (!createResStatisticsDb()) {
        qCritical() << "result database" << databasePath
                    << "cannot be opened or prepared; results wait in memory until it can be written";
    }

    const QDate today = recordsNow().date();
    query.from = QDateTime(today, QTime(0, 0, 0, 0));
    query.to = QDateTime(today, QTime(23, 59, 59, 999));
    buildTodayAxis();
    m_loadFrom = QDateTime(today, QTime(0, 0, 0, 0));
    m_loadTo = QDateTime(today, QTime(23, 59, 59, 999));
    m_loadFile = databasePath;

    // Rows still waiting for a busy file get a last try when the program ends.
    addQuitHook(QStringLiteral("result rows"), [self = QPointer<TemperatureChartData>(this)] {
        if (self && !self->pendingInserts.isEmpty()) {
            self->waitForTodayLoad();
            if (!self->flushPendingInserts()) {
                qCritical() << "program ends with" << self->pendingInserts.size() << "result rows not written";
            }
        }
    });

    // A history pass reading a month of files must not hold up the end.
    addQuitHook(QStringLiteral("history query"), [self = QPointer<TemperatureChartData>(this)] {
        if (self) {
            self->stopQuery();
        }
    });

    m_loadStarted = true;
    {
        std::lock_guard<std::mutex> lock(m_loadedRowsMutex);
        m_loadedRows = std::make_unique<TodayRows>();
    }
    m_loadFuture = QtConcurrent::run(QThreadPool::globalInstance(), [this] { loadTodayJob(); });
    m_loadWatcher.setFuture(m_loadFuture);
}

void TemperatureChartData::loadTodayJob()
{
    loadToday();
}

void TemperatureChartData::loadToday()
{
    // Everything read here was set before the job started; everything
    // written is the job's own until the GUI thread takes it over.
    TodayRows rows = loadTodayRows(m_loadFile, m_loadFrom, m_loadTo);
    // The future's own hand-over is a Qt mutex the thread checker cannot see;
    // this lock makes the hand-over of the rows visible to it.
    std::lock_guard<std::mutex> lock(m_loadedRowsMutex);
    *m_loadedRows = std::move(rows);
}

void TemperatureChartData::onTodayLoadFinished()
{
    if (!m_loadStarted || todayLoaded || !m_loadFuture.isFinished()) {
        return;
    }
    TodayRows rows;
    {
        std::lock_guard<std::mutex> lock(m_loadedRowsMutex);
        rows = std::move(*m_loadedRows);
        m_loadedRows.reset();
    }

    // As if the load had run before the first live result: loaded points come
    // first, and a live entry never replaces a loaded one of the same key.
    for (auto it = todaySeries.cbegin(); it != todaySeries.cend(); ++it) {
        rows.series[it.key()].append(it.value());
    }
    rows.results.mergeMissing(todayResults);
    todaySeries = std::move(rows.series);
    todayResults = std::move(rows.results);
    todayLoaded = true;
    qInfo() << "today's results loaded:" << rows.rows << "rows;" << pendingInserts.size() << "waiting to be written";

    // Rows handed over during the load go to disk now, not at the next result:
    // the machine may stand still for hours.
    flushPendingInserts();
}

void TemperatureChartData::waitForTodayLoad()
{
    if (!m_loadStarted || todayLoaded) {
        return;
    }
    m_loadFuture.waitForFinished();
    onTodayLoadFinished();
}

void TemperatureChartData::prepareForArchive()
{
    waitForTodayLoad();
    flushPendingInserts();
}

void TemperatureChartData::setDetectResult(DetectResult result)
{
    detectResult = std::move(result);
}

void TemperatureChartData::updateLiveData()
{
    const DetectResult& r = detectResult;
    const double x = seriesSeconds(r.detectstart);
    const int count = qMin(r.roi_detail.size(), r.roi_result.size());
    for (int n = 0; n < count; ++n) {
        const QList<int>& detail = r.roi_detail.at(n);
        if (isTemperatureList(detail)) {
            const QString key = seriesKey(r.idx_camera, r.idx_detect, n);
            const QPointF point(x, detail.at(1));
            todaySeries[key].append(point);
            if (keepNewPoints) {
                newPoints[key].append(point);
            }
        }
    }
    // The first result of a cycle stays; a re-check does not replace it.
    todayResults.enterAll(r.roundstart, r.idx_camera, r.idx_detect, r.roi_result, count, false);
}

void TemperatureChartData::insertDetectResult()
{
    detectResult.description = regularRecordingDue ? QString::fromLatin1(kRegularRecording) : QStringLiteral("");

    PendingInsert row;
    row.roundstart = formatResultTime(detectResult.roundstart);
    row.detectstart = formatResultTime(detectResult.detectstart);
    row.idx_camera = detectResult.idx_camera;
    row.idx_detect = detectResult.idx_detect;
    row.roi_detail = roiDetailToJson(detectResult.roi_detail);
    row.roi_result = roiResultToJson(detectResult.roi_result);
    row.result = detectResult.result;
    row.description = detectResult.description;
    appendPending(row);

    // Each commit waits for the disk; the other cameras of this detect are
    // handed over within the same pass and join this transaction.
    if (todayLoaded && !m_flushTimer.isActive()) {
        m_flushTimer.start();
    }
}

void TemperatureChartData::appendPending(const PendingInsert& row)
{
    while (!pendingInserts.isEmpty() && pendingInserts.size() >= maxPendingInserts) {
        const PendingInsert dropped = pendingInserts.takeFirst();
        ++m_droppedRows;
        if (m_droppedRows == 1 || m_droppedRows % 1000 == 0) {
            qCritical() << "result database unavailable, waiting results full: oldest row dropped ("
                        << m_droppedRows << "in all):" << describeRow(dropped);
        }
    }
    pendingInserts.append(row);
}

bool TemperatureChartData::flushPendingInserts()
{
    if (!todayLoaded || pendingInserts.isEmpty()) {
        return pendingInserts.isEmpty();
    }
    m_flushTimer.stop();

    bool written = false;
    int dropped = 0;
    {
        // Opened and closed around every flush by file name, so a flush after
        // the daily archive writes into the new file.
        QSqlDatabase db = recordsConnection(QString::fromLatin1(kInsertConnection),
                                            QString::fromLatin1(kResStatisticsFile), kInsertBusyTimeoutMs);
        if (!db.isOpen() && !db.open()) {
            noteFlushFailure(db.lastError().text());
        } else {
            QSqlQuery query(db);
            bool prepared = query.prepare(QString::fromLatin1(kInsertSql));
            if (!prepared) {
                // The table went missing (a file replaced behind our back): make it again.
                QSqlQuery create(db);
                if (create.exec(QString::fromLatin1(kCreateResReportSql))) {
                    prepared = query.prepare(QString::fromLatin1(kInsertSql));
                }
            }
            if (!prepared) {
                noteFlushFailure(query.lastError().text());
            } else if (!db.transaction()) {
                noteFlushFailure(db.lastError().text());
            } else {
                QString fileError;
                QList<int> rowErrors;
                for (int i = 0; i < pendingInserts.size(); ++i) {
                    bindRow(query, pendingInserts.at(i));
                    if (query.exec()) {
                        continue;
                    }
                    const QSqlError error = query.lastError();
                    if (isRowError(error)) {
                        rowErrors.append(i);
                        qCritical() << "result row refused by the database and dropped:" << error.text()
                                    << describeRow(pendingInserts.at(i));
                        continue;
                    }
                    fileError = error.text();
                    break;
                }
                query.finish();
                if (fileError.isEmpty() && db.commit()) {
                    written = true;
                    dropped = rowErrors.size();
                } else {
                    if (fileError.isEmpty()) {
                        fileError = db.lastError().text();
                    }
                    db.rollback();
                    noteFlushFailure(fileError);
                }
            }
        }
        db.close();
    }

    if (!written) {
        scheduleRetry();
        return false;
    }
    if (m_failedFlushes > 0) {
        qInfo() << "result database writable again after" << m_failedFlushes << "failed tries;"
                << pendingInserts.size() - dropped << "waiting rows written";
    }
    m_failedFlushes = 0;
    m_lastFlushError.clear();
    pendingInserts.clear();
    m_retryTimer.stop();
    detectResult.description = QStringLiteral("");
    regularRecordingDue = false;
    return true;
}

void TemperatureChartData::noteFlushFailure(const QString& error)
{
    ++m_failedFlushes;
    if (m_failedFlushes == 1 || error != m_lastFlushError || m_failedFlushes % 100 == 0) {
        qWarning() << "result rows cannot be written yet (" << error << "):" << pendingInserts.size()
                   << "rows kept for another try";
    }
    m_lastFlushError = error;
}

void TemperatureChartData::scheduleRetry()
{
    if (todayLoaded && !pendingInserts.isEmpty() && !m_retryTimer.isActive()) {
        m_retryTimer.start();
    }
}

void TemperatureChartData::clearTodayResults()
{
    todayResults.clear();
}

void TemperatureChartData::clearTodaySeries()
{
    todaySeries.clear();
}

void TemperatureChartData::clearNewPoints()
{
    newPoints.clear();
}

void TemperatureChartData::setRegularRecordingInterval(int minutes)
{
    regularRecordingMinutes = minutes;
    if (minutes <= 0) {
        regularTimer.stop();
        qInfo() << "regular recording interval" << minutes << "minutes: no regular recording";
        return;
    }
    const qint64 ms = qMin<qint64>(qint64(minutes) * 60000, std::numeric_limits<int>::max());
    regularTimer.start(int(ms));
}

void TemperatureChartData::onRegularTimer()
{
    regularRecordingDue = true;
}

// --- Queries ---------------------------------------------------------------

// Everything one history pass needs and makes. Fixed on the GUI thread before
// the thread starts; the worker writes only the results; the GUI thread takes
// them over once they are handed to it.
struct TemperatureChartData::QueryPass {
    ResultQuery query;
    QList<HistoryDay> days;
    bool readTemperature = false;
    bool readResults = false;
    int seriesLimit = kHistorySeriesLimit;
    int sliceRows = kHistorySliceRows;
    QString connection;
    HistoryAxis axis;
    int buckets = 0;
};

void TemperatureChartData::ensureQueryThread()
{
    if (!queryThread) {
        queryThread = new dataThread(this);
        connect(queryThread, &QThread::finished, this, &TemperatureChartData::onQueryPassFinished);
        connect(this, &TemperatureChartData::queryPartReady, this, &TemperatureChartData::onQueryPartReady,
                Qt::QueuedConnection);
    }
}

void TemperatureChartData::setQuery(ResultQuery q)
{
    query = std::move(q);
}

bool TemperatureChartData::startQuery(QueryParts parts)
{
    if (m_queryRunning) {
        qWarning() << "history query refused: the previous one still runs";
        return false;
    }
    if (!(parts & (TemperaturePart | ResultPart))) {
        return false;
    }
    ensureQueryThread();

    auto pass = std::make_shared<QueryPass>();
    pass->query = query;
    pass->readTemperature = parts.testFlag(TemperaturePart);
    pass->readResults = parts.testFlag(ResultPart);
    // Today decides which file a day is read from; it is taken here, once, so
    // a pass over midnight does not switch files half way.
    pass->days = historyDays(query.from, query.to, recordsNow().date());
    pass->seriesLimit = historySeriesLimit;
    pass->sliceRows = historySliceRows;
    pass->connection = QStringLiteral("ResDB-query-%1").arg(++m_passCount);
    if (pass->readResults) {
        pass->axis = historyAxis(query.from, query.to);
        pass->buckets = cycleBucketCount(query.from, query.to);
    }

    if (pass->readTemperature) {
        historySeries.clear();
    }
    historyResults.clear();
    qInfo() << "history query" << formatResultTime(query.from) << "to" << formatResultTime(query.to) << "camera"
            << query.camera << "detect" << query.detect << "area" << query.area << "over" << pass->days.size()
            << "days" << (pass->readTemperature ? "temperatures" : "") << (pass->readResults ? "results" : "");
    m_pass = std::move(pass);
    m_queryRunning = true;
    queryThread->start(QThread::InheritPriority);
    return true;
}

void TemperatureChartData::stopQuery()
{
    if (!queryThread || !queryThread->isRunning()) {
        return;
    }
    queryThread->requestInterruption();
    if (!queryThread->wait(kQueryStopWaitMs)) {
        qCritical() << "history query did not stop within" << kQueryStopWaitMs << "ms";
    }
}

void TemperatureChartData::runQueryPass()
{
    const std::shared_ptr<QueryPass> pass = m_pass;
    if (pass->readTemperature && !queryThread->isInterruptionRequested()) {
        readTemperatureHistory();
    }
    if (pass->readResults && !queryThread->isInterruptionRequested()) {
        readResultHistory();
    }
}

void TemperatureChartData::readTemperatureHistory()
{
    const std::shared_ptr<QueryPass> pass = m_pass;
    QThread* thread = queryThread;
    HistoryReader reader(pass->connection, pass->query, [thread] { return thread->isInterruptionRequested(); });
    reader.sliceRows = pass->sliceRows;
    SeriesMap series = reader.readTemperature(pass->days, pass->seriesLimit);
    if (reader.stopped) {
        return;
    }
    if (reader.skippedRows > 0) {
        qWarning() << "temperature history:" << reader.skippedRows << "unreadable rows left out";
    }
    {
        std::lock_guard<std::mutex> lock(m_outboxMutex);
        m_outbox.hasTemperature = true;
        m_outbox.series = std::move(series);
        m_outbox.temperatureFile = reader.lastFile;
    }
    emit queryPartReady();
}

void TemperatureChartData::readResultHistory()
{
    const std::shared_ptr<QueryPass> pass = m_pass;
    QThread* thread = queryThread;
    HistoryReader reader(pass->connection, pass->query, [thread] { return thread->isInterruptionRequested(); });
    reader.sliceRows = pass->sliceRows;
    const CycleCounts counts = reader.readResults(pass->days, pass->axis, pass->buckets);
    if (reader.stopped) {
        return;
    }
    if (reader.skippedRows > 0) {
        qWarning() << "result history:" << reader.skippedRows << "unreadable rows left out";
    }
    {
        std::lock_guard<std::mutex> lock(m_outboxMutex);
        m_outbox.hasResults = true;
        m_outbox.counts = counts;
        m_outbox.axis = pass->axis;
        m_outbox.resultFile = reader.lastFile;
    }
    emit queryPartReady();
}

void TemperatureChartData::onQueryPartReady()
{
    QueryOutbox parts;
    {
        std::lock_guard<std::mutex> lock(m_outboxMutex);
        parts = std::move(m_outbox);
        m_outbox = QueryOutbox();
    }
    // The temperatures are always announced first: they were read first.
    if (parts.hasTemperature) {
        historySeries = std::move(parts.series);
        if (!parts.temperatureFile.isEmpty()) {
            databasePath = parts.temperatureFile;
        }
        emit queryThread->readTempFinished();
    }
    if (parts.hasResults) {
        axisLabels = parts.axis.labels;
        bucketSeconds = parts.axis.bucketSeconds;
        axisStart = parts.axis.start;
        axisEnd = parts.axis.end;
        okCounts = parts.counts.ok;
        ngCounts = parts.counts.ng;
        cycleCount = parts.counts.cycles;
        ngCycleCount = parts.counts.ngCycles;
        ngRate = parts.counts.rate();
        if (!parts.resultFile.isEmpty()) {
            databasePath = parts.resultFile;
        }
        emit queryThread->readResFinished();
    }
}

void TemperatureChartData::onQueryPassFinished()
{
    queryThread->wait();
    // Whatever part has not been taken over yet is, before the end is told.
    onQueryPartReady();
    m_pass.reset();
    if (!m_queryRunning) {
        return;
    }
    m_queryRunning = false;
    emit queryFinished();
}

SeriesMap TemperatureChartData::temperatureSeries() const
{
    return seriesMode == 2 ? historySeries : todaySeries;
}

QList<QList<int>> TemperatureChartData::hourlyCounts() const
{
    return {okCounts, ngCounts};
}

void TemperatureChartData::buildTodayAxis()
{
    const HistoryAxis axis = todayAxis(recordsNow().date());
    axisLabels = axis.labels;
    bucketSeconds = axis.bucketSeconds;
    axisStart = axis.start;
    axisEnd = axis.end;
}

void TemperatureChartData::buildHistoryAxis()
{
    const HistoryAxis axis = historyAxis(query.from, query.to);
    axisLabels = axis.labels;
    bucketSeconds = axis.bucketSeconds;
    axisStart = axis.start;
    axisEnd = axis.end;
}

QuerySql TemperatureChartData::buildQuerySql(const QDateTime& from, const QDateTime& to) const
{
    return resultQuerySql(query, from, to);
}

void TemperatureChartData::countCycles()
{
    okCounts.clear();
    ngCounts.clear();
    cycleCount = 0;
    ngCycleCount = 0;
    m_lastCycleStart = QDateTime();
    m_lastCycleNg = false;

    const int buckets = cycleBucketCount(query.from, query.to);
    for (int i = 0; i < buckets; ++i) {
        okCounts.append(0);
        ngCounts.append(0);
    }
    HistoryAxis axis;
    axis.start = axisStart;
    axis.bucketSeconds = bucketSeconds;

    if (statisticsSource != 1) {
        const CycleCounts counts = todayResults.count(query.camera, query.detect, query.area, axis, buckets);
        okCounts = counts.ok;
        ngCounts = counts.ng;
        cycleCount = counts.cycles;
        ngCycleCount = counts.ngCycles;
        ngRate = counts.rate();
        return;
    }
    const ResultMap& results = historyResults;
    bool seen = false;
    // The entries of one cycle stand together; its bucket is worked out once.
    QDateTime bucketOf;
    qint64 bucket = -1;
    for (auto it = results.cbegin(); it != results.cend(); ++it) {
        const RoiResult& r = it.value();
        if ((query.camera >= 0 && r.camera != query.camera) || (query.detect >= 0 && r.detect != query.detect)
            || (query.area >= 0 && r.area != query.area)) {
            continue;
        }
        if (bucket < 0 || r.roundstart != bucketOf) {
            bucketOf = r.roundstart;
            bucket = cycleBucket(axis, r.roundstart);
            if (bucket < 0) {
                bucket = -2; // out of range, but worked out
            }
        }
        if (bucket < 0 || bucket >= buckets) {
            continue;
        }
        const int f = int(bucket);
        const bool ok = r.result != 0;
        if (seen && r.roundstart == m_lastCycleStart) {
            if (ok || m_lastCycleNg) {
                continue;
            }
            m_lastCycleNg = true;
            --okCounts[f];
            ++ngCounts[f];
            ++ngCycleCount;
        } else {
            seen = true;
            ++cycleCount;
            m_lastCycleStart = r.roundstart;
            m_lastCycleNg = !ok;
            if (ok) {
                ++okCounts[f];
            } else {
                ++ngCounts[f];
                ++ngCycleCount;
            }
        }
    }
    ngRate = cycleCount > 0 ? double(ngCycleCount) * 100.0 / double(cycleCount)
                            : std::numeric_limits<double>::quiet_NaN();
}

// --- Export ----------------------------------------------------------------

bool TemperatureChartData::exportData(int mode, const QString& folder)
{
    if (exportBusy) {
        qInfo() << "export refused: an export runs already";
        return false;
    }
    const ResultQuery q = query;

    const QString resultName =
        recordsNow().toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss.zzz")) + QStringLiteral("_result");
    const QString resultFolder = QDir(folder).absoluteFilePath(resultName);
    if (!QDir().mkpath(resultFolder)) {
        const QString reason = QStringLiteral("result folder %1 cannot be made").arg(resultFolder);
        qCritical() << "export failed:" << reason;
        emit exportFailed(reason);
        return false;
    }

    const QString from = formatResultTime(q.from);
    const QString to = formatResultTime(q.to);
    const QString dir = resultFolder + QLatin1Char('/');
    const QString work = QDir::currentPath() + QLatin1Char('/');
    // The program gets its arguments as a list, so a folder name with blanks
    // or quotes reaches it unchanged; the text is for the log.
    QStringList arguments{QStringLiteral("-t"), from, to, QStringLiteral("-c"), QString::number(q.camera),
                          QStringLiteral("-d"), QString::number(q.detect), QStringLiteral("-dir"), dir,
                          QStringLiteral("-w"), work};
    QString command = QString::fromLatin1(kExportProgram) + QLatin1Char(' ');
    command += QStringLiteral("-t \"%1\" \"%2\" ").arg(from, to);
    command += QStringLiteral("-c %1 ").arg(q.camera);
    command += QStringLiteral("-d %1 ").arg(q.detect);
    command += QStringLiteral("-dir \"%1\" ").arg(dir);
    command += QStringLiteral("-w \"%1\" ").arg(work);
    if (mode == 2) {
        arguments << QStringLiteral("-detail") << QStringLiteral("Regular recording");
        command += QStringLiteral("-detail \"Regular recording\" ");
    }
    qInfo().noquote() << command;

    auto* process = new QProcess(this);
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyRead, this, &TemperatureChartData::onExportOutput);
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &TemperatureChartData::onExportFinished);
    connect(process, &QProcess::errorOccurred, this, &TemperatureChartData::onExportError);
    m_exportProcess = process;
    m_exportTimedOut = false;
    exportBusy = true;
    process->start(QString::fromLatin1(kExportProgram), arguments, QIODevice::ReadWrite);
    // The start is known within milliseconds; a program that cannot be started
    // has been reported through onExportError by then.
    if (!process->waitForStarted(kExportStartWaitMs)) {
        if (m_exportProcess == process) {
            endExport(false, QStringLiteral("the export program cannot be started: %1").arg(process->errorString()));
        }
        return false;
    }
    m_exportTimer.start(exportTimeoutMs);
    return true;
}

void TemperatureChartData::onExportOutput()
{
    if (!m_exportProcess) {
        return;
    }
    const QByteArray output = m_exportProcess->readAll();
    if (output.isEmpty()) {
        return;
    }
    qInfo().noquote() << QString::fromLocal8Bit(output);
    qInfo() << (output.contains("export finished\r\n") ? "true" : "false");
}

void TemperatureChartData::onExportFinished(int exitCode, QProcess::ExitStatus status)
{
    if (!m_exportProcess) {
        return;
    }
    onExportOutput();
    if (m_exportTimedOut) {
        endExport(false, QStringLiteral("the export program did not end within %1 s and was stopped")
                             .arg(exportTimeoutMs / 1000.0));
    } else if (status != QProcess::NormalExit) {
        endExport(false, QStringLiteral("the export program crashed"));
    } else if (exitCode != 0) {
        endExport(false, QStringLiteral("the export program ended with exit code %1").arg(exitCode));
    } else {
        endExport(true, QString());
    }
}

void TemperatureChartData::onExportError(QProcess::ProcessError error)
{
    // A program that cannot be started never reports a finish.
    if (error == QProcess::FailedToStart && m_exportProcess) {
        endExport(false,
                  QStringLiteral("the export program cannot be started: %1").arg(m_exportProcess->errorString()));
    }
}

void TemperatureChartData::onExportTimeout()
{
    if (!m_exportProcess) {
        return;
    }
    qCritical() << "export program still runs after" << exportTimeoutMs << "ms: stopped";
    m_exportTimedOut = true;
    m_exportProcess->kill();
}

void TemperatureChartData::endExport(bool ok, const QString& reason)
{
    QProcess* process = m_exportProcess;
    m_exportProcess = nullptr;
    m_exportTimer.stop();
    process->disconnect(this);
    process->deleteLater();
    exportBusy = false;
    if (ok) {
        qInfo() << "export finished";
        emit exportFinish();
    } else {
        qCritical().noquote() << "export failed:" << reason;
        emit exportFailed(reason);
    }
}
