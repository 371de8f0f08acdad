#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// OK and NG results per clock hour 0 to 23.
struct HourlyCounts {
    QList<int> ok;
    QList<int> ng;
};

// One camera's counters: its own (all its detects, detect 8) and one set per
// detect 0 to 7.
struct CameraCounts {
    HourlyCounts counts;
    QList<HourlyCounts> detects;
};

// Creates res_report in ResStatistics.db when it is missing, through the
// connection "createResDB"; false when the file cannot be opened or the
// statement fails. GUI thread.
bool createResStatisticsDb();
// The statement that creates res_report, exactly as the day files have it.
extern const char* const kCreateResReportSql;

// The hourly OK/NG counts of every camera and detect, kept in the table
// resstatistics of ResStatistics.db so that a restart continues the day, and
// the daily rotation of ResStatistics.db into "./ResStatistics".
//
// Rows are keyed "C%1_D%2" (camera 0 to 7 or 8 = all, detect 0 to 7 or 8 =
// all); value1 holds the 24 OK counts and value2 the 24 NG counts, each as the
// number and one blank. The aggregate rows are written back as they were
// read: nothing adds the per-detect counts up. GUI thread only.
class ResultStatistics : public QObject {
    Q_OBJECT
public:
    ResultStatistics();
    ~ResultStatistics() override;

    // Counts one result in the given clock hour. All rows are saved in one
    // transaction once control is back in the event loop, so the results of
    // all cameras of one detect cost one commit. Always true: a save that
    // fails is tried again later and the count is kept in memory.
    bool addResult(int hour, bool ok, int camera, int detect);
    // Archives the file and starts a new production day when the calendar
    // date has changed since the day start.
    void checkDayChange();

    // The steps of construction, counting and rotation.
    void loadDayStart();
    void archiveDay(const QString& date);
    void buildTree();
    bool load();
    bool save();
    // Saves now when counts are waiting to be saved; true when none wait.
    bool saveIfDirty();

    // The counters of (camera, detect), 8 standing for all.
    const HourlyCounts& counts(int camera, int detect) const;

    // A busy file (a reader holds it) is waited for this long; then the save
    // is tried again later, so the cycle is never held up.
    static constexpr int kBusyTimeoutMs = 20;
    static constexpr int kRetryIntervalMs = 2000;

    CameraCounts root;
    QList<CameraCounts> cameras;
    // 08:00 local time of the production day, seconds since 1970-01-01 UTC.
    quint32 dayStart = 0;
    // The day the current ResStatistics.db will be archived under.
    QString dayName;

private:
    HourlyCounts& countsRef(int camera, int detect);
    // The rows in use, in the order they are loaded and saved.
    QList<QPair<int, int>> rowsInUse() const;
    // Puts the next day's file, made by archiveDay, in place of the archived one.
    void installNextFile();
    bool openDb();
    void closeDb();
    bool prepareTable();
    void reportUnusableDatabase(const QString& error);
    void writeDayStart();
    void noteSaveFailure(const QString& error);

    bool m_dirty = false;      // counted since the last successful save
    bool m_loaded = false;     // the counters include what the file holds
    bool m_tableReady = false; // the current file has the table and every row in use
    int m_failedSaves = 0;
    QString m_lastError;       // of the last failed step
    QString m_lastLoggedError;
    QTimer m_saveTimer; // end of the current pass, or a retry

};

extern ResultStatistics* gpResultStatistics;

// A day change cut short by a kill or a power loss is finished or undone
// before anything opens ResStatistics.db; createResStatisticsDb runs it.
void recoverInterruptedResultDayChange();
// Called at each step of a day change with the step's name; empty in the
// program. The tests kill a child process here to prove every step safe.
extern std::function<void(const char* step)> gResultStatisticsDayChangeProbe;

// Left in the working folder when the statistics file could not be opened and
// a restart was asked for, so that a file that stays broken costs only one
// restart, never a loop of them.
constexpr const char* kResStatisticsRebootMarker = "resstatisticsreboot.txt";
