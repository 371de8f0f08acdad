#pragma once

#include "detectresult.h"
#include "historyreader.h"
#include "resultquery.h"
#include "todayresults.h"

#include <QDateTime>
#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointF>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <mutex>

class dataThread;

// The verdict of one listed area in one detect. Camera, detect and the listed
// area's index are kept as numbers: read back from the key text, area 1 and
// area 10 would look alike.
struct RoiResult {
    int result = 0; // 1 OK, 0 NG
    QDateTime detectstart;
    QDateTime roundstart;
    int camera = 0;
    int detect = 0;
    int area = 0;
};

using ResultMap = QMap<QString, RoiResult>;

// What the start-up load found in today's rows. Filled on the pool thread,
// merged into today's maps on the GUI thread.
struct TodayRows {
    SeriesMap series;
    TodayResults results;
    int rows = 0;
    int skippedRows = 0; // rows whose times or JSON could not be read
    bool readOk = false;  // the file could be opened and the select ran
};

// The records service: every detect of every camera is handed over here,
// written as one res_report row of ResStatistics.db and entered into today's
// maps, which the statistics and temperature screens read.
//
// Everything except the start-up load runs on the GUI thread. The load reads
// today's rows on the global thread pool into a TodayRows of its own; the GUI
// thread merges that into today's maps, so no two threads write one map. Until
// the merge, results are entered into the maps and their rows wait in
// pendingInserts.
//
// History queries run on dataThread, one pass at a time, over the day files.
// A pass reads into data of its own; the GUI thread installs that into the
// fields below and only then tells the screens, so a screen never sees half a
// pass and today's counting never meets a history pass in the same fields.
class TemperatureChartData : public QObject {
    Q_OBJECT
public:
    TemperatureChartData();
    ~TemperatureChartData() override;

    static TemperatureChartData* instance();

    // Makes sure ResStatistics.db holds res_report and starts the load of
    // today's rows. Called once by main before the main window exists.
    void init();

    void setDetectResult(DetectResult result);
    // Enters detectResult into today's maps.
    void updateLiveData();
    // Queues detectResult as a res_report row. The queue is written once
    // control is back in the event loop, so the rows of all cameras of one
    // detect cost one transaction and one commit instead of one each; a row
    // that cannot be written yet waits and is tried again.
    void insertDetectResult();

    void clearTodayResults();
    void clearTodaySeries();
    void clearNewPoints();

    // --- Queries ---------------------------------------------------------

    // What a history pass reads: the temperature series of the range, the
    // cycle counts of the range, or both.
    enum QueryPart { TemperaturePart = 1, ResultPart = 2 };
    Q_DECLARE_FLAGS(QueryParts, QueryPart)

    void setQuery(ResultQuery q);
    // Starts a history pass over `query` that reads the given parts. False,
    // and nothing changed, while a pass runs (queryRunning) or when no part
    // is asked for.
    bool startQuery(QueryParts parts);
    // From startQuery until queryFinished has been emitted.
    bool queryRunning() const { return m_queryRunning; }
    // Asks a running pass to stop and waits for its thread (the quit hook).
    void stopQuery();
    // Creates queryThread when it does not exist yet, so that the screens can
    // connect to its signals before the first query.
    void ensureQueryThread();

    // Today's series (seriesMode 0 or 1) or the last history pass's (2).
    SeriesMap temperatureSeries() const;
    // [okCounts, ngCounts].
    QList<QList<int>> hourlyCounts() const;
    // Counts the cycles of todayResults (statisticsSource 0) or
    // historyResults (1) into the buckets of the current axis. GUI thread.
    void countCycles();
    void buildTodayAxis();
    void buildHistoryAxis();
    // The select of the rows within [from, to] under the query's camera and
    // detect filters (see resultQuerySql).
    QuerySql buildQuerySql(const QDateTime& from, const QDateTime& to) const;

    // A history series longer than this is thinned to each time slice's
    // extremes; the plot is 1,760 pixels wide.
    static constexpr int kHistorySeriesLimit = 20000;
    int historySeriesLimit = kHistorySeriesLimit;
    // Rows per statement of a history pass.
    int historySliceRows = kHistorySliceRows;
    // A quit waits this long for a running pass to notice the stop.
    static constexpr int kQueryStopWaitMs = 5000;

    // --- Export ----------------------------------------------------------

    // Starts the export program over the range and the camera and detect
    // filters of `query`: mode 1 every result, mode 2 only those marked
    // Regular recording, into a new result folder inside `folder`. False when
    // an export runs already or nothing could be started (exportFailed has
    // then been emitted, unless an export was running).
    bool exportData(int mode, const QString& folder);
    // The export program, relative to the working folder.
    static constexpr const char* kExportProgram = "./velqa/export_temperature/temperature_export.exe";
    // An export that has not ended after this long is killed and reported failed.
    static constexpr int kExportTimeoutMs = 60 * 60 * 1000;
    int exportTimeoutMs = kExportTimeoutMs;
    // How long the start of the export program is waited for.
    static constexpr int kExportStartWaitMs = 10000;

    // Stores the minutes and (re)starts the regular-recording timer. A value
    // of 0 or less stops it: a zero interval would mark every result.
    void setRegularRecordingInterval(int minutes);
    int regularRecordingInterval() const { return regularRecordingMinutes; }

    // For the daily archive: lets the start-up load finish and merge, then
    // writes what is waiting into the file about to be moved. GUI thread.
    void prepareForArchive();
    // Blocks until the start-up load has been merged (or was never started).
    void waitForTodayLoad();
    // Tries to write the waiting rows now; true when none is left waiting.
    bool flushPendingInserts();

    // Rows that wait for the database; beyond this the oldest are dropped
    // (with a log line), so a database that never comes back cannot eat the
    // panel's memory. About eight hours of eight cameras with four detects
    // in a 10 s cycle.
    static constexpr int kMaxPendingInserts = 100000;
    int maxPendingInserts = kMaxPendingInserts;
    // A busy database (a reader holds it) is waited for this long before the
    // rows are kept for a later try, so the cycle is never held up.
    static constexpr int kInsertBusyTimeoutMs = 20;
    // Pause before waiting rows are tried again when no new result comes.
    static constexpr int kRetryIntervalMs = 2000;

    // One waiting res_report row, values ready to bind.
    struct PendingInsert {
        QString roundstart;
        QString detectstart;
        int idx_camera = 0;
        int idx_detect = 0;
        QString roi_detail;
        QString roi_result;
        int result = 0;
        QString description;
    };

    // The file today's rows are read from: "ResStatistics.db" after init;
    // after a history pass the day file it read last.
    QString databasePath;
    // Runs the history passes; created by init.
    dataThread* queryThread = nullptr;
    QList<PendingInsert> pendingInserts;
    int seriesMode = 0;
    int statisticsSource = 0;
    SeriesMap todaySeries;
    SeriesMap historySeries;
    // The points since the live plot's last refresh. Gathered only while a
    // live plot refreshes (it sets keepNewPoints): with the plot closed,
    // paused or in history nobody takes them, and a day of them would be
    // drawn twice when the plot draws today again.
    SeriesMap newPoints;
    bool keepNewPoints = false;
    // Today's verdicts per cycle, camera, detect and area, within a fixed
    // budget (see TodayResults).
    TodayResults todayResults;
    // Stays empty: a history pass counts as it reads instead of keeping a
    // month of entries (countCycles still counts it when filled).
    ResultMap historyResults;
    ResultQuery query;
    // The bar chart's axis and counts, of today or of the last history pass.
    QList<QStringList> axisLabels;
    QList<int> okCounts;
    QList<int> ngCounts;
    int cycleCount = 0;
    int ngCycleCount = 0;
    double ngRate = 0;
    double bucketSeconds = 3600;
    QDateTime axisStart;
    QDateTime axisEnd;
    // Set on the GUI thread once today's rows are merged; never cleared.
    bool todayLoaded = false;
    bool exportBusy = false;
    DetectResult detectResult;
    QTimer regularTimer;
    bool regularRecordingDue = true;
    int regularRecordingMinutes = 30;

signals:
    // Every history pass ends with this, after its parts' signals on
    // queryThread (readTempFinished, readResFinished).
    void queryFinished();
    // The export program ended normally with exit code 0.
    void exportFinish();
    // The export did not start or did not end well; reason says why.
    void exportFailed(const QString& reason);
    // Emitted on queryThread when a part of the pass is ready to be taken
    // over; connected queued to the GUI thread. Not for the screens.
    void queryPartReady();

public slots:
    void onRegularTimer();
    void onExportOutput();
    void onExportFinished(int exitCode, QProcess::ExitStatus status);

private slots:
    void onTodayLoadFinished();

private:
    friend class dataThread;
    struct QueryPass;
    // One pass on queryThread: reads the parts asked for into the pass and
    // hands each to the GUI thread as soon as it is done.
    void runQueryPass();
    void readTemperatureHistory();
    void readResultHistory();
    void onQueryPassFinished();
    void onQueryPartReady();
    void onExportError(QProcess::ProcessError error);
    void onExportTimeout();
    void endExport(bool ok, const QString& reason);

    void appendPending(const PendingInsert& row);
    void scheduleRetry();
    void noteFlushFailure(const QString& error);

    // The start-up load on the pool: loadTodayJob runs loadToday, which
    // reads m_loadFile from m_loadFrom to m_loadTo and writes only *m_loadedRows; the GUI
    // thread merges that into today's maps once the job has finished
    // (onTodayLoadFinished) and only then sets todayLoaded.
    void loadTodayJob();
    void loadToday();

    QString m_loadFile;
    QDateTime m_loadFrom;
    QDateTime m_loadTo;
    std::unique_ptr<TodayRows> m_loadedRows;
    QFuture<void> m_loadFuture;
    QFutureWatcher<void> m_loadWatcher;
    bool m_loadStarted = false;
    QTimer m_retryTimer;
    // End of the current pass: writes what this pass queued.
    QTimer m_flushTimer;
    int m_failedFlushes = 0;
    QString m_lastFlushError;
    qint64 m_droppedRows = 0;

    std::shared_ptr<QueryPass> m_pass;
    // The parts a pass has finished, waiting for the GUI thread. Handed over
    // under a lock of its own: the queued signal that announces them says
    // nothing about the data to a race checker.
    struct QueryOutbox {
        bool hasTemperature = false;
        SeriesMap series;
        QString temperatureFile;
        bool hasResults = false;
        CycleCounts counts;
        HistoryAxis axis;
        QString resultFile;
    };
    std::mutex m_outboxMutex;
    // Guards m_loadedRows while the start-up load hands them over.
    std::mutex m_loadedRowsMutex;
    QueryOutbox m_outbox;
    bool m_queryRunning = false;
    int m_passCount = 0;
    // Scratch of countCycles: the cycle seen last and whether it counted NG.
    QDateTime m_lastCycleStart;
    bool m_lastCycleNg = false;

    QProcess* m_exportProcess = nullptr;
    QTimer m_exportTimer;
    bool m_exportTimedOut = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TemperatureChartData::QueryParts)

extern TemperatureChartData* gpTemperatureChartData;

// Reads today's rows from a file on the calling thread, through a connection
// of its own: the body of the start-up load. from and to bound roundstart.
TodayRows loadTodayRows(const QString& file, const QDateTime& from, const QDateTime& to);
