#pragma once

#include "detectresult.h"

#include <QDateTime>
#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QTimer>

#include <memory>

// The verdict of one listed area in one detect.
struct RoiResult {
    int result = 0; // 1 OK, 0 NG
    QDateTime detectstart;
    QDateTime roundstart;
};

using SeriesMap = QMap<QString, QList<QPointF>>;
using ResultMap = QMap<QString, RoiResult>;

// What the start-up load found in today's rows. Filled on the pool thread,
// merged into today's maps on the GUI thread.
struct TodayRows {
    SeriesMap series;
    ResultMap results;
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
    // Writes detectResult as a res_report row, together with any rows still
    // waiting; a row that cannot be written yet waits and is tried again.
    void insertDetectResult();

    void clearTodayResults();
    void clearTodaySeries();
    void clearNewPoints();

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

    // The file today's rows are read from: "ResStatistics.db" after init.
    QString databasePath;
    QList<PendingInsert> pendingInserts;
    int seriesMode = 0;
    int statisticsSource = 0;
    SeriesMap todaySeries;
    SeriesMap historySeries;
    SeriesMap newPoints;
    ResultMap todayResults;
    ResultMap historyResults;
    // Set on the GUI thread once today's rows are merged; never cleared.
    bool todayLoaded = false;
    bool exportBusy = false;
    DetectResult detectResult;
    QTimer regularTimer;
    bool regularRecordingDue = true;
    int regularRecordingMinutes = 30;

public slots:
    void onRegularTimer();

private slots:
    void onTodayLoadFinished();

private:
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
    int m_failedFlushes = 0;
    QString m_lastFlushError;
    qint64 m_droppedRows = 0;
};

extern TemperatureChartData* gpTemperatureChartData;

// Reads today's rows from a file on the calling thread, through a connection
// of its own: the body of the start-up load. from and to bound roundstart.
TodayRows loadTodayRows(const QString& file, const QDateTime& from, const QDateTime& to);
