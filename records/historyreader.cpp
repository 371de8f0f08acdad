#include "historyreader.h"

#include "resultrow.h"

#include <QDebug>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

namespace {

const char* const kAxisLabelFormat = "MM-dd hh:mm:ss";

bool isTemperatureList(const QList<int>& detail)
{
    return detail.size() >= 2 && detail.at(0) == 9;
}

// Whole hours rounded up (towards zero for a reversed range).
qint64 hoursUp(qint64 seconds)
{
    return seconds > 0 ? (seconds + 3599) / 3600 : seconds / 3600;
}

QList<int> zeros(int count)
{
    QList<int> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        list.append(0);
    }
    return list;
}

} // namespace

QList<HistoryDay> historyDays(const QDateTime& from, const QDateTime& to, const QDate& today)
{
    QList<HistoryDay> days;
    if (!from.isValid() || !to.isValid()) {
        return days;
    }
    for (QDateTime d = from; d <= to; d = QDateTime(d.date().addDays(1), QTime(0, 0, 0, 0))) {
        HistoryDay day;
        day.file = d.date() == today
            ? QString::fromLatin1(kTodayResultFile)
            : QString::fromLatin1(kArchiveFileFormat).arg(d.date().toString(QStringLiteral("yyyy-MM-dd")));
        day.from = d;
        day.to = to.date() == d.date() ? to : QDateTime(d.date(), QTime(23, 59, 59, 999));
        days.append(day);
    }
    return days;
}

QuerySql resultQuerySql(const ResultQuery& query, const QDateTime& from, const QDateTime& to, const QString& columns,
                        bool onlyTemperatureRows)
{
    // roundstart is text in the result time format, so comparing it with the
    // full bound texts keeps the milliseconds: a row at 23:59:59.400 belongs
    // to a range that ends at 23:59:59.999.
    QuerySql sql;
    sql.text = QStringLiteral("select %1 from res_report where roundstart between ? and ?").arg(columns);
    sql.values << formatResultTime(from) << formatResultTime(to);
    if (query.detect >= 0) {
        sql.text += QStringLiteral(" and idx_detect = ?");
        sql.values << query.detect;
    }
    if (query.camera >= 0) {
        sql.text += QStringLiteral(" and idx_camera = ?");
        sql.values << query.camera;
    }
    if (onlyTemperatureRows) {
        sql.text += QStringLiteral(" and instr(roi_detail, '[9,') > 0");
    }
    sql.text += QStringLiteral(" and idx > ? and idx <= ?");
    return sql;
}

HistoryAxis todayAxis(const QDate& today)
{
    HistoryAxis axis;
    axis.start = QDateTime(today, QTime(0, 0));
    axis.end = QDateTime(today.addDays(1), QTime(0, 0));
    // A day of a clock change has 23 or 25 hours; the labels still say an hour.
    const qint64 step = axis.start.secsTo(axis.end) / 24;
    axis.bucketSeconds = double(step);
    QStringList starts;
    QStringList ends;
    QDateTime t = axis.start;
    for (int k = 0; k < 24; ++k) {
        starts.append(t.toString(QString::fromLatin1(kAxisLabelFormat)));
        ends.append(t.addSecs(3600).toString(QString::fromLatin1(kAxisLabelFormat)));
        t = t.addSecs(step);
    }
    axis.labels = {starts, ends};
    return axis;
}

HistoryAxis historyAxis(const QDateTime& from, const QDateTime& to)
{
    HistoryAxis axis;
    axis.start = from;
    axis.end = to;
    const qint64 e = from.secsTo(to);
    const qint64 n = hoursUp(e);
    int count = 0;
    if (n > 24) {
        axis.bucketSeconds = double(e) / 24.0;
        count = 24;
    } else {
        axis.bucketSeconds = 3600;
        count = int(qMax<qint64>(n, 1));
    }
    const qint64 step = qint64(axis.bucketSeconds);
    QStringList starts;
    QStringList ends;
    QDateTime t = from;
    for (int k = 0; k < count; ++k) {
        starts.append(t.toString(QString::fromLatin1(kAxisLabelFormat)));
        if (k + 1 < count) {
            ends.append(t.addSecs(step).toString(QString::fromLatin1(kAxisLabelFormat)));
            t = t.addSecs(step);
        } else {
            ends.append(to.toString(QString::fromLatin1(kAxisLabelFormat)));
        }
    }
    axis.labels = {starts, ends};
    return axis;
}

int cycleBucketCount(const QDateTime& from, const QDateTime& to)
{
    if (!from.isValid() || !to.isValid()) {
        return 0;
    }
    const qint64 b = hoursUp(to.toSecsSinceEpoch() - from.toSecsSinceEpoch());
    return int(qBound<qint64>(0, b, 24));
}

qint64 cycleBucket(const HistoryAxis& axis, const QDateTime& roundstart)
{
    if (!(axis.bucketSeconds > 0) || !roundstart.isValid() || !axis.start.isValid()) {
        return -1;
    }
    return qint64(std::floor(double(axis.start.secsTo(roundstart)) / axis.bucketSeconds));
}

double CycleCounts::rate() const
{
    return cycles > 0 ? double(ngCycles) * 100.0 / double(cycles) : std::numeric_limits<double>::quiet_NaN();
}

SeriesThinner::SeriesThinner(double from, double to, int limit)
    : m_from(from)
    , m_limit(qMax(limit, 4))
    , m_sliceCount((m_limit - 2) / 2)
{
    m_width = to > from ? (to - from) / m_sliceCount : 0.0;
}

void SeriesThinner::add(const QPointF& point)
{
    if (m_count == 0) {
        m_first = point;
    }
    m_last = point;
    const qint64 seq = m_count++;
    if (!m_slices.isEmpty()) {
        fold(point, seq);
        return;
    }
    m_points.append(point);
    if (m_points.size() > m_limit) {
        m_slices.resize(m_sliceCount);
        for (int i = 0; i < m_points.size(); ++i) {
            fold(m_points.at(i), i);
        }
        m_points = SeriesPoints();
    }
}

void SeriesThinner::fold(const QPointF& point, qint64 seq)
{
    int index = 0;
    if (m_width > 0) {
        const double slice = std::floor((point.x() - m_from) / m_width);
        index = int(qBound(0.0, slice, double(m_sliceCount - 1)));
    }
    Slice& s = m_slices[index];
    if (s.minSeq < 0 || point.y() < s.min.y()) {
        s.min = point;
        s.minSeq = seq;
    }
    if (s.maxSeq < 0 || point.y() > s.max.y()) {
        s.max = point;
        s.maxSeq = seq;
    }
}

SeriesPoints SeriesThinner::take()
{
    if (m_slices.isEmpty()) {
        return std::move(m_points);
    }
    // First and last as read, in between each slice's extremes in read order.
    SeriesPoints out;
    out.reserve(m_limit);
    out.append(m_first);
    const qint64 lastSeq = m_count - 1;
    for (const Slice& s : qAsConst(m_slices)) {
        if (s.minSeq < 0) {
            continue;
        }
        const bool minFirst = s.minSeq <= s.maxSeq;
        const qint64 seqs[2] = {minFirst ? s.minSeq : s.maxSeq, minFirst ? s.maxSeq : s.minSeq};
        const QPointF points[2] = {minFirst ? s.min : s.max, minFirst ? s.max : s.min};
        for (int i = 0; i < 2; ++i) {
            if (seqs[i] == 0 || seqs[i] == lastSeq || (i == 1 && seqs[1] == seqs[0])) {
                continue;
            }
            out.append(points[i]);
        }
    }
    out.append(m_last);
    m_slices.clear();
    return out;
}

HistoryReader::HistoryReader(const QString& connectionName, const ResultQuery& query,
                             std::function<bool()> stopRequested)
    : m_connection(connectionName)
    , m_query(query)
    , m_stopRequested(std::move(stopRequested))
{
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
}

HistoryReader::~HistoryReader()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool HistoryReader::forEachRow(const QList<HistoryDay>& days, const QString& columns, bool onlyTemperatureRows,
                               const std::function<void(const QSqlQuery&)>& handler)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    for (const HistoryDay& day : days) {
        if (m_stopRequested && m_stopRequested()) {
            stopped = true;
            return true;
        }
        if (!QFileInfo::exists(day.file)) {
            continue;
        }
        db.setDatabaseName(day.file);
        // Never creates or changes a file. The GUI thread writes today's file
        // meanwhile and holds it only for a commit.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            qWarning() << "history query: cannot open" << day.file << db.lastError().text()
                       << "- later days are not read";
            return false;
        }
        lastFile = day.file;
        {
            // The slices are cut from the rows that exist now; rows written
            // during the query belong to the next one.
            qint64 low = 0;
            qint64 high = 0;
            QSqlQuery range(db);
            if (range.exec(QStringLiteral("select min(idx), max(idx) from res_report")) && range.next()
                && !range.value(0).isNull()) {
                low = range.value(0).toLongLong() - 1;
                high = range.value(1).toLongLong();
            } else if (range.lastError().isValid()) {
                qInfo() << "history query:" << day.file << "gives no rows:" << range.lastError().text();
            }
            range.finish();

            const QuerySql sql = resultQuerySql(m_query, day.from, day.to, columns, onlyTemperatureRows);
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (low < high && !query.prepare(sql.text)) {
                qWarning() << "history query:" << day.file << "gives no rows:" << query.lastError().text();
                high = low;
            }
            for (qint64 start = low; start < high; start += sliceRows) {
                if (m_stopRequested && m_stopRequested()) {
                    stopped = true;
                    break;
                }
                for (int i = 0; i < sql.values.size(); ++i) {
                    query.bindValue(i, sql.values.at(i));
                }
                query.bindValue(sql.values.size(), start);
                query.bindValue(sql.values.size() + 1, qMin(start + sliceRows, high));
                if (!query.exec()) {
                    qWarning() << "history query:" << day.file << "read stopped:" << query.lastError().text();
                    break;
                }
                while (query.next()) {
                    ++rows;
                    handler(query);
                }
                // Lets go of the file before the next slice.
                query.finish();
            }
        }
        db.close();
        if (stopped) {
            return true;
        }
    }
    return true;
}

SeriesMap HistoryReader::readTemperature(const QList<HistoryDay>& days, int limit)
{
    using Key = std::tuple<int, int, int>;
    std::map<Key, SeriesThinner> series;
    const double from = seriesSeconds(m_query.from);
    const double to = seriesSeconds(m_query.to);
    const int area = m_query.area;
    QList<QList<int>> detail;
    forEachRow(days, QStringLiteral("detectstart, idx_camera, idx_detect, roi_detail"), true,
               [&](const QSqlQuery& row) {
        if (!parseRoiDetail(row.value(3).toString(), &detail)) {
            ++skippedRows;
            return;
        }
        bool any = false;
        for (int n = 0; n < detail.size() && !any; ++n) {
            any = (area < 0 || area == n) && isTemperatureList(detail.at(n));
        }
        if (!any) {
            return;
        }
        QDateTime detectstart;
        if (!parseResultTime(row.value(0).toString(), &detectstart)) {
            ++skippedRows;
            return;
        }
        const double x = seriesSeconds(detectstart);
        const int camera = row.value(1).toInt();
        const int detect = row.value(2).toInt();
        for (int n = 0; n < detail.size(); ++n) {
            if ((area < 0 || area == n) && isTemperatureList(detail.at(n))) {
                const Key key(camera, detect, n);
                auto it = series.find(key);
                if (it == series.end()) {
                    it = series.emplace(key, SeriesThinner(from, to, limit)).first;
                }
                it->second.add(QPointF(x, detail.at(n).at(1)));
            }
        }
    });
    SeriesMap out;
    for (auto& entry : series) {
        out.insert(seriesKey(std::get<0>(entry.first), std::get<1>(entry.first), std::get<2>(entry.first)),
                   entry.second.take());
    }
    return out;
}

CycleCounts HistoryReader::readResults(const QList<HistoryDay>& days, const HistoryAxis& axis, int buckets)
{
    CycleCounts counts;
    counts.ok = zeros(buckets);
    counts.ng = zeros(buckets);
    const int area = m_query.area;
    QList<int> verdicts;
    // Per cycle (its roundstart) only whether it is counted NG. A roundstart
    // lies in one day's window only, so the set is emptied day by day.
    QHash<qint64, bool> cycleNg;
    QString lastText;
    qint64 lastMs = 0;
    qint64 lastBucket = -1;
    for (const HistoryDay& day : days) {
        cycleNg.clear();
        const bool read = forEachRow({day}, QStringLiteral("roundstart, roi_result"), false, [&](const QSqlQuery& row) {
            if (!parseRoiResult(row.value(1).toString(), &verdicts)) {
                ++skippedRows;
                return;
            }
            bool ng = false;
            if (area < 0) {
                if (verdicts.isEmpty()) {
                    return;
                }
                ng = verdicts.contains(0);
            } else if (area < verdicts.size()) {
                ng = verdicts.at(area) == 0;
            } else {
                return;
            }
            const QString roundText = row.value(0).toString();
            if (lastText.isNull() || roundText != lastText) {
                QDateTime roundstart;
                if (!parseResultTime(roundText, &roundstart)) {
                    ++skippedRows;
                    return;
                }
                lastText = roundText;
                lastMs = roundstart.toMSecsSinceEpoch();
                lastBucket = cycleBucket(axis, roundstart);
            }
            if (lastBucket < 0 || lastBucket >= buckets) {
                return;
            }
            const int f = int(lastBucket);
            auto it = cycleNg.find(lastMs);
            if (it == cycleNg.end()) {
                cycleNg.insert(lastMs, ng);
                ++counts.cycles;
                if (ng) {
                    ++counts.ng[f];
                    ++counts.ngCycles;
                } else {
                    ++counts.ok[f];
                }
            } else if (ng && !it.value()) {
                it.value() = true;
                --counts.ok[f];
                ++counts.ng[f];
                ++counts.ngCycles;
            }
        });
        if (!read || stopped) {
            break;
        }
    }
    return counts;
}
