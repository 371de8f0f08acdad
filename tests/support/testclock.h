#pragma once

#include "systemclock.h"

#include <QDateTime>

#include <atomic>

// Stands the program's clock still for one test: wall time at a given moment
// (moved on by hand) and, where asked, the monotonic clock too. Restores the
// system clock when it goes out of scope. The monotonic value may be moved
// from any thread; the wall time only from the test's own.
class TestClock {
public:
    explicit TestClock(const QDateTime& now = QDateTime(QDate(2026, 12, 8), QTime(10, 0, 5)),
                       bool holdMonotonic = false)
        : m_now(now)
    {
        m_previousWall = setWallClock([this] { return m_now; });
        if (holdMonotonic) {
            m_previousMonotonic = setMonotonicClock([this] { return m_monotonicMs.load(); });
            m_holdsMonotonic = true;
        }
    }
    ~TestClock()
    {
        setWallClock(m_previousWall);
        if (m_holdsMonotonic) {
            setMonotonicClock(m_previousMonotonic);
        }
    }
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    void set(const QDateTime& now) { m_now = now; }
    QDateTime now() const { return m_now; }
    void advanceMs(qint64 ms)
    {
        m_now = m_now.addMSecs(ms);
        m_monotonicMs += ms;
    }
    void setMonotonicMs(qint64 ms) { m_monotonicMs = ms; }
    qint64 monotonicMs() const { return m_monotonicMs; }

private:
    QDateTime m_now;
    std::atomic<qint64> m_monotonicMs{1000000};
    WallClock m_previousWall;
    MonotonicClock m_previousMonotonic;
    bool m_holdsMonotonic = false;
};
