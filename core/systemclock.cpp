#include "systemclock.h"

#include <mutex>

#include <time.h>

namespace {

std::mutex gClockMutex;
WallClock gWall;
MonotonicClock gMonotonic;

qint64 systemMonotonicMs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

QDateTime clockNow()
{
    WallClock wall;
    {
        std::lock_guard<std::mutex> lock(gClockMutex);
        wall = gWall;
    }
    return wall ? wall() : QDateTime::currentDateTime();
}

qint64 clockMonotonicMs()
{
    MonotonicClock monotonic;
    {
        std::lock_guard<std::mutex> lock(gClockMutex);
        monotonic = gMonotonic;
    }
    return monotonic ? monotonic() : systemMonotonicMs();
}

WallClock setWallClock(WallClock clock)
{
    std::lock_guard<std::mutex> lock(gClockMutex);
    std::swap(gWall, clock);
    return clock;
}

MonotonicClock setMonotonicClock(MonotonicClock clock)
{
    std::lock_guard<std::mutex> lock(gClockMutex);
    std::swap(gMonotonic, clock);
    return clock;
}
