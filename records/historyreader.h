#pragma once

#include "resultquery.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <functional>

class QSqlQuery;

// The reading side of the result files: which day file holds which part of a
// range, how a range is cut into the bar chart's buckets, and the readers that
// count cycles and gather temperature series from up to a month of day files
// without holding the rows. Nothing here touches a shared field: a history
// query runs them on its own thread over data of its own.

// A temperature series: points in read order, held in one block.
using SeriesPoints = QVector<QPointF>;
using SeriesMap = QMap<QString, SeriesPoints>;

// Today's results live in "./ResStatistics.db"; the rows of an earlier day in
// its archive "ResStatistics/<yyyy-MM-dd>.db".
constexpr const char* kTodayResultFile = "./ResStatistics.db";
constexpr const char* kArchiveFileFormat = "ResStatistics/%1.db";

// One day of a range: the file to read and the window of roundstart within it.
struct HistoryDay {
    QString file;
    QDateTime from;
    QDateTime to;
};

// The days of a range, first day from `from`, later days from midnight, the
// last day up to `to`; today (the given date) is read from today's file.
QList<HistoryDay> historyDays(const QDateTime& from, const QDateTime& to, const QDate& today);

// A select of the rows whose roundstart lies within [from, to], compared with
// the full texts (milliseconds included), filtered by the query's camera and
// detect, limited to one slice of idx. values holds from, to, the detect and
// camera filters that are set; the reader binds the slice's lower (exclusive)
// and upper (inclusive) idx after them.
struct QuerySql {
    QString text;
    QVariantList values;
};
// With onlyTemperatureRows, rows without a temperature area are left out by
// the file already (a temperature list is the only one that begins "[9,").
QuerySql resultQuerySql(const ResultQuery& query, const QDateTime& from, const QDateTime& to,
                        const QString& columns = QStringLiteral("*"), bool onlyTemperatureRows = false);

// The time axis of the bar chart: [0] start labels, [1] end labels
// ("MM-dd hh:mm:ss"), the length of a bucket and the bucketed range.
struct HistoryAxis {
    QList<QStringList> labels;
    double bucketSeconds = 3600;
    QDateTime start;
    QDateTime end;
};
// 24 buckets over the day, labelled an hour each.
HistoryAxis todayAxis(const QDate& today);
// Hourly buckets, or 24 equal ones for a range longer than a day.
HistoryAxis historyAxis(const QDateTime& from, const QDateTime& to);
// Buckets a cycle count is spread over: the whole hours of the range rounded
// up, at most 24; 0 for an empty or reversed range.
int cycleBucketCount(const QDateTime& from, const QDateTime& to);
// The bucket of a cycle start, possibly outside [0, buckets).
qint64 cycleBucket(const HistoryAxis& axis, const QDateTime& roundstart);

// OK and NG cycles per bucket and in all.
struct CycleCounts {
    QList<int> ok;
    QList<int> ng;
    int cycles = 0;
    int ngCycles = 0;
    // Percent; not a number when no cycle was counted.
    double rate() const;
};

// Thins one temperature series to at most `limit` points: up to the limit
// every point is kept; past it the range is cut into (limit - 2) / 2 time
// slices and only the first point, the last point and each slice's lowest and
// highest point remain, so a peak of a month-long curve still shows.
class SeriesThinner {
public:
    SeriesThinner(double from, double to, int limit);
    void add(const QPointF& point);
    SeriesPoints take();

private:
    struct Slice {
        qint64 minSeq = -1;
        qint64 maxSeq = -1;
        QPointF min;
        QPointF max;
    };
    void fold(const QPointF& point, qint64 seq);

    double m_from;
    double m_width;
    int m_limit;
    int m_sliceCount;
    qint64 m_count = 0;
    SeriesPoints m_points; // every point, until the limit is passed
    QVector<Slice> m_slices;
    QPointF m_first;
    QPointF m_last;
};

// Rows read per statement. Between two statements the reader holds no lock,
// so a result written meanwhile waits only for one slice, never for the day.
constexpr int kHistorySliceRows = 1000;

// Reads the day files of one query on the calling thread, through a read-only
// connection of its own that lives as long as the reader.
class HistoryReader {
public:
    HistoryReader(const QString& connectionName, const ResultQuery& query, std::function<bool()> stopRequested);
    ~HistoryReader();
    HistoryReader(const HistoryReader&) = delete;
    HistoryReader& operator=(const HistoryReader&) = delete;

    // The temperature areas' points of every selected row (area filter
    // applied), per series key, each series thinned to `limit` points.
    SeriesMap readTemperature(const QList<HistoryDay>& days, int limit);
    // The cycles of the selected rows counted into the axis's buckets: a
    // cycle is one roundstart, NG when any selected entry of it is NG.
    CycleCounts readResults(const QList<HistoryDay>& days, const HistoryAxis& axis, int buckets);

    // The file read last; rows seen and rows left out as unreadable.
    QString lastFile;
    qint64 rows = 0;
    qint64 skippedRows = 0;
    int sliceRows = kHistorySliceRows;
    // Set when a stop was asked for before the reading was done.
    bool stopped = false;

private:
    // Runs handler over the selected rows of every day in idx order; false
    // when a file could not be opened (later days are not read).
    bool forEachRow(const QList<HistoryDay>& days, const QString& columns, bool onlyTemperatureRows,
                    const std::function<void(const QSqlQuery&)>& handler);

    QString m_connection;
    ResultQuery m_query;
    std::function<bool()> m_stopRequested;
};
