#include "resultrow.h"

#include <limits>

namespace {

// A small cursor over the JSON text. A full day's file holds more than a
// million of these arrays, so they are read by hand rather than through a
// general JSON document.
class Cursor {
public:
    explicit Cursor(const QString& text)
        : m_p(text.constData())
        , m_end(text.constData() + text.size())
    {
    }

    void skipBlanks()
    {
        while (m_p < m_end && (*m_p == u' ' || *m_p == u'\t' || *m_p == u'\n' || *m_p == u'\r')) {
            ++m_p;
        }
    }

    bool take(char16_t c)
    {
        skipBlanks();
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }

    bool atEnd()
    {
        skipBlanks();
        return m_p == m_end;
    }

    bool integer(int* value)
    {
        skipBlanks();
        bool negative = false;
        if (m_p < m_end && *m_p == u'-') {
            negative = true;
            ++m_p;
        }
        if (m_p == m_end || *m_p < u'0' || *m_p > u'9') {
            return false;
        }
        // JSON allows no leading zeros; "0" alone is fine.
        if (*m_p == u'0' && m_p + 1 < m_end && m_p[1] >= u'0' && m_p[1] <= u'9') {
            return false;
        }
        qint64 v = 0;
        while (m_p < m_end && *m_p >= u'0' && *m_p <= u'9') {
            v = v * 10 + (m_p->unicode() - u'0');
            if (v > qint64(std::numeric_limits<int>::max()) + 1) {
                return false;
            }
            ++m_p;
        }
        if (negative) {
            v = -v;
        }
        if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) {
            return false;
        }
        // A fraction or an exponent makes it no integer.
        if (m_p < m_end && (*m_p == u'.' || *m_p == u'e' || *m_p == u'E')) {
            return false;
        }
        *value = int(v);
        return true;
    }

    bool intArray(QList<int>* out)
    {
        if (!take(u'[')) {
            return false;
        }
        if (take(u']')) {
            return true;
        }
        for (;;) {
            int v = 0;
            if (!integer(&v)) {
                return false;
            }
            out->append(v);
            if (take(u']')) {
                return true;
            }
            if (!take(u',')) {
                return false;
            }
        }
    }

private:
    const QChar* m_p;
    const QChar* m_end;
};

void appendIntList(QString* out, const QList<int>& values)
{
    out->append(QLatin1Char('['));
    for (int i = 0; i < values.size(); ++i) {
        if (i > 0) {
            out->append(QLatin1Char(','));
        }
        out->append(QString::number(values.at(i)));
    }
    out->append(QLatin1Char(']'));
}

int digits(const QChar* p, int count, bool* ok)
{
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = p[i].unicode();
        if (c < u'0' || c > u'9') {
            *ok = false;
            return 0;
        }
        v = v * 10 + (c - u'0');
    }
    return v;
}

} // namespace

QString formatResultTime(const QDateTime& time)
{
    QString text = time.toString(QString::fromLatin1(kResultTimeFormat));
    if (text.isNull()) {
        text = QStringLiteral("");
    }
    return text;
}

bool parseResultTime(const QString& text, QDateTime* time)
{
    // yyyy-MM-dd hh:mm:ss.zzz
    if (text.size() != 23 || text.at(4) != u'-' || text.at(7) != u'-' || text.at(10) != u' '
        || text.at(13) != u':' || text.at(16) != u':' || text.at(19) != u'.') {
        return false;
    }
    const QChar* p = text.constData();
    bool ok = true;
    const int year = digits(p, 4, &ok);
    const int month = digits(p + 5, 2, &ok);
    const int day = digits(p + 8, 2, &ok);
    const int hour = digits(p + 11, 2, &ok);
    const int minute = digits(p + 14, 2, &ok);
    const int second = digits(p + 17, 2, &ok);
    const int ms = digits(p + 20, 3, &ok);
    if (!ok) {
        return false;
    }
    const QDate date(year, month, day);
    const QTime clock(hour, minute, second, ms);
    if (!date.isValid() || !clock.isValid()) {
        return false;
    }
    *time = QDateTime(date, clock);
    return true;
}

QString roiDetailToJson(const QList<QList<int>>& detail)
{
    QString out;
    out.reserve(8 + detail.size() * 24);
    out.append(QLatin1Char('['));
    for (int i = 0; i < detail.size(); ++i) {
        if (i > 0) {
            out.append(QLatin1Char(','));
        }
        appendIntList(&out, detail.at(i));
    }
    out.append(QLatin1Char(']'));
    return out;
}

QString roiResultToJson(const QList<int>& result)
{
    QString out;
    appendIntList(&out, result);
    return out;
}

bool parseRoiDetail(const QString& json, QList<QList<int>>* detail)
{
    Cursor c(json);
    QList<QList<int>> lists;
    if (!c.take(u'[')) {
        return false;
    }
    if (!c.take(u']')) {
        for (;;) {
            QList<int> inner;
            if (!c.intArray(&inner)) {
                return false;
            }
            lists.append(inner);
            if (c.take(u']')) {
                break;
            }
            if (!c.take(u',')) {
                return false;
            }
        }
    }
    if (!c.atEnd()) {
        return false;
    }
    *detail = lists;
    return true;
}

bool parseRoiResult(const QString& json, QList<int>* result)
{
    Cursor c(json);
    QList<int> values;
    if (!c.intArray(&values) || !c.atEnd()) {
        return false;
    }
    *result = values;
    return true;
}

// Built by concatenation: the start-up load makes over a million result keys.
QString seriesKey(int camera, int detect, int area)
{
    return QLatin1String("C:") + QString::number(camera) + QLatin1String("_D:") + QString::number(detect)
        + QLatin1String("_F:") + QString::number(area);
}

QString resultKey(const QString& timeText, int camera, int detect, int area)
{
    return QLatin1String("T:") + timeText + QLatin1String("_C:") + QString::number(camera)
        + QLatin1String("_D:") + QString::number(detect) + QLatin1String("_F:") + QString::number(area);
}

double seriesSeconds(const QDateTime& time)
{
    return double(time.toMSecsSinceEpoch()) / 1000.0;
}
