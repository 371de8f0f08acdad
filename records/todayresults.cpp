#include "todayresults.h"

#include <QDebug>

#include <algorithm>
#include <bitset>

namespace {

int popcount(quint64 bits)
{
    return int(std::bitset<64>(bits).count());
}

} // namespace

TodayResults::Round& TodayResults::roundAt(qint64 msecs)
{
    if (m_rounds.empty() || m_rounds.back().msecs < msecs) {
        // A new cycle has as many pairs as the one before, as a rule.
        const std::size_t expected = m_rounds.empty() ? 0 : m_rounds.back().pairs.size();
        m_rounds.push_back(Round{msecs, {}});
        m_rounds.back().pairs.reserve(expected);
        m_pairBytes += m_rounds.back().pairs.capacity() * sizeof(Pair);
        return m_rounds.back();
    }
    auto it = std::lower_bound(m_rounds.begin(), m_rounds.end(), msecs,
                               [](const Round& r, qint64 t) { return r.msecs < t; });
    if (it == m_rounds.end() || it->msecs != msecs) {
        it = m_rounds.insert(it, Round{msecs, {}});
    }
    return *it;
}

const TodayResults::Round* TodayResults::findRound(qint64 msecs) const
{
    auto it = std::lower_bound(m_rounds.begin(), m_rounds.end(), msecs,
                               [](const Round& r, qint64 t) { return r.msecs < t; });
    return it != m_rounds.end() && it->msecs == msecs ? &*it : nullptr;
}

void TodayResults::setBit(Round& round, quint64 key, quint64 bit, bool ok, bool replace)
{
    Pair* pair = nullptr;
    for (Pair& p : round.pairs) {
        if ((p.judged & ~kAreaBits) == key) {
            pair = &p;
            break;
        }
    }
    if (!pair) {
        const std::size_t before = round.pairs.capacity();
        round.pairs.push_back(Pair{key, 0});
        m_pairBytes += (round.pairs.capacity() - before) * sizeof(Pair);
        pair = &round.pairs.back();
    }
    if (pair->judged & bit) {
        if (!replace) {
            return;
        }
    } else {
        pair->judged |= bit;
        ++m_entries;
    }
    if (ok) {
        pair->ng &= ~bit;
    } else {
        pair->ng |= bit;
    }
}

void TodayResults::enter(const QDateTime& roundstart, int camera, int detect, int area, bool ok, bool replace)
{
    if (!roundstart.isValid() || camera < 0 || camera >= MaxCameras || detect < 0 || detect >= MaxDetects
        || area < 0 || area >= MaxAreas) {
        return;
    }
    Round& round = roundAt(roundstart.toMSecsSinceEpoch());
    setBit(round, keyOf(camera, detect), quint64(1) << area, ok, replace);
    keepWithinBudget();
}

void TodayResults::enterAll(const QDateTime& roundstart, int camera, int detect, const QList<int>& verdicts,
                            int count, bool replace)
{
    if (count <= 0 || verdicts.isEmpty() || !roundstart.isValid() || camera < 0 || camera >= MaxCameras
        || detect < 0 || detect >= MaxDetects) {
        return;
    }
    // The time is converted once for the whole list.
    Round& round = roundAt(roundstart.toMSecsSinceEpoch());
    const quint64 key = keyOf(camera, detect);
    for (int n = 0; n < std::min(count, int(verdicts.size())) && n < MaxAreas; ++n) {
        setBit(round, key, quint64(1) << n, verdicts.at(n) != 0, replace);
    }
    keepWithinBudget();
}

void TodayResults::mergeMissing(const TodayResults& other)
{
    for (const Round& theirs : other.m_rounds) {
        Round& ours = roundAt(theirs.msecs);
        for (const Pair& p : theirs.pairs) {
            const quint64 key = p.judged & ~kAreaBits;
            const quint64 areas = p.judged & kAreaBits;
            for (int a = 0; a < MaxAreas; ++a) {
                const quint64 bit = quint64(1) << a;
                if (areas & bit) {
                    setBit(ours, key, bit, !(p.ng & bit), false);
                }
            }
        }
        keepWithinBudget();
    }
}

void TodayResults::clear()
{
    std::vector<Round>().swap(m_rounds);
    m_entries = 0;
    m_pairBytes = 0;
    m_dropped = 0;
}

int TodayResults::verdict(const QDateTime& roundstart, int camera, int detect, int area) const
{
    if (!roundstart.isValid() || camera < 0 || camera >= MaxCameras || detect < 0 || detect >= MaxDetects
        || area < 0 || area >= MaxAreas) {
        return -1;
    }
    const Round* round = findRound(roundstart.toMSecsSinceEpoch());
    if (!round) {
        return -1;
    }
    const quint64 key = keyOf(camera, detect);
    const quint64 bit = quint64(1) << area;
    for (const Pair& p : round->pairs) {
        if ((p.judged & ~kAreaBits) == key) {
            if (!(p.judged & bit)) {
                return -1;
            }
            return (p.ng & bit) ? 0 : 1;
        }
    }
    return -1;
}

std::size_t TodayResults::memoryBytes() const
{
    return m_rounds.capacity() * sizeof(Round) + m_pairBytes;
}

void TodayResults::keepWithinBudget()
{
    while (memoryBytes() > budgetBytes && m_rounds.size() >= 2) {
        if (m_dropped == 0) {
            qWarning() << "today's results: more cycles than" << budgetBytes / 1024
                       << "KiB hold; the oldest are counted from the day file only";
        }
        // A sixteenth at a time, so the cycles behind are moved up rarely;
        // never the newest, which is being filled.
        const std::size_t drop = std::max<std::size_t>(1, m_rounds.size() / 16);
        for (std::size_t i = 0; i < drop; ++i) {
            for (const Pair& p : m_rounds[i].pairs) {
                m_entries -= popcount(p.judged & kAreaBits);
            }
            m_pairBytes -= m_rounds[i].pairs.capacity() * sizeof(Pair);
        }
        m_rounds.erase(m_rounds.begin(), m_rounds.begin() + std::ptrdiff_t(drop));
        m_dropped += qint64(drop);
    }
}

CycleCounts TodayResults::count(int camera, int detect, int area, const HistoryAxis& axis, int buckets) const
{
    CycleCounts counts;
    for (int i = 0; i < buckets; ++i) {
        counts.ok.append(0);
        counts.ng.append(0);
    }
    if (area >= MaxAreas) {
        return counts;
    }
    const quint64 areas = area >= 0 ? quint64(1) << area : kAreaBits;
    for (const Round& round : m_rounds) {
        bool judged = false;
        bool ng = false;
        for (const Pair& p : round.pairs) {
            const int key = int(p.judged >> 56);
            if ((camera >= 0 && key / MaxDetects != camera) || (detect >= 0 && key % MaxDetects != detect)) {
                continue;
            }
            judged = judged || (p.judged & areas) != 0;
            ng = ng || (p.ng & areas) != 0;
        }
        if (!judged) {
            continue;
        }
        const qint64 bucket = cycleBucket(axis, QDateTime::fromMSecsSinceEpoch(round.msecs));
        if (bucket < 0 || bucket >= buckets) {
            continue;
        }
        ++counts.cycles;
        if (ng) {
            ++counts.ng[int(bucket)];
            ++counts.ngCycles;
        } else {
            ++counts.ok[int(bucket)];
        }
    }
    return counts;
}
