#pragma once

#include "historyreader.h"

#include <QDateTime>
#include <QList>
#include <QtGlobal>

#include <cstddef>
#include <vector>

// Today's verdicts of every listed area, held for the statistics screen's
// count of today's cycles: per cycle (roundstart) and per camera and detect,
// which areas were judged and which of them NG, one bit each. That is all a
// count under any camera, detect and area filter needs, in a sixteenth of a
// byte per area instead of an entry of its own per area and cycle, which
// made a day of eight cameras grow by gigabytes.
//
// The memory stays within kBudgetBytes whatever the day holds: eight cameras
// with four detects at a 5-second cycle for 24 hours (17,280 cycles of 32
// camera-detect pairs) take about 10 MB. Should a day hold more than fits,
// the oldest cycles are let go (once logged): the day file still has them,
// and a history query counts them from there. GUI thread only.
class TodayResults {
public:
    static constexpr int MaxCameras = 8;
    static constexpr int MaxDetects = 8;
    // Areas 0 to 55 fit in a pair's bits; a list is never longer than 50.
    static constexpr int MaxAreas = 56;
    static constexpr std::size_t kBudgetBytes = std::size_t(16) << 20;

    // Enters one area's verdict. A live result keeps the first verdict of
    // a cycle (a re-check does not replace it); a row read from the day file
    // replaces an earlier one (replace). Entries outside the ranges above or
    // without a valid roundstart are not kept: they would never be counted.
    void enter(const QDateTime& roundstart, int camera, int detect, int area, bool ok, bool replace);
    // The same for the first `count` verdicts of one camera's detect (non-zero
    // = OK), area n from verdicts[n].
    void enterAll(const QDateTime& roundstart, int camera, int detect, const QList<int>& verdicts, int count,
                  bool replace);
    // Takes the entries of other that this one lacks (a live result never
    // replaces a loaded one of the same cycle, camera, detect and area).
    void mergeMissing(const TodayResults& other);
    void clear();

    // Entries (areas of a cycle) held.
    int size() const { return int(m_entries); }
    bool isEmpty() const { return m_entries == 0; }
    // 1 OK, 0 NG, -1 when no such entry is held.
    int verdict(const QDateTime& roundstart, int camera, int detect, int area) const;
    // Cycles held and cycles let go for the budget since the last clear.
    int cycles() const { return int(m_rounds.size()); }
    qint64 droppedCycles() const { return m_dropped; }
    // What the entries take, blocks counted at their capacity.
    std::size_t memoryBytes() const;
    std::size_t budgetBytes = kBudgetBytes;

    // The cycles under the filters (-1 = any) counted into buckets of the
    // axis: a cycle is one roundstart, NG when any selected entry of it is
    // NG, and lies in the bucket of its roundstart.
    CycleCounts count(int camera, int detect, int area, const HistoryAxis& axis, int buckets) const;

private:
    // One camera and detect of one cycle: the judged areas in the low bits
    // of judged, the camera and detect in its top byte; the NG areas in ng.
    struct Pair {
        quint64 judged = 0;
        quint64 ng = 0;
    };
    struct Round {
        qint64 msecs = 0;
        std::vector<Pair> pairs;
    };
    static quint64 keyOf(int camera, int detect) { return quint64(camera * MaxDetects + detect) << 56; }
    static constexpr quint64 kAreaBits = (quint64(1) << MaxAreas) - 1;

    Round& roundAt(qint64 msecs);
    const Round* findRound(qint64 msecs) const;
    void setBit(Round& round, quint64 key, quint64 bit, bool ok, bool replace);
    void keepWithinBudget();

    // Sorted by roundstart; results come in time order, so a new cycle is
    // almost always appended.
    std::vector<Round> m_rounds;
    qint64 m_entries = 0;
    std::size_t m_pairBytes = 0;
    qint64 m_dropped = 0;
};
