#pragma once

#include <QDateTime>

#include <functional>

// The program's one clock. Everything that files by day, stamps rows or
// watches a heartbeat asks here: the operation log, the records, the log
// archive and the I/O link. Tests stand at 23:59:59 or stop the monotonic
// clock through setWallClock/setMonotonicClock (see the fixture in the test
// support); the program itself never sets them. Safe from any thread.

// Wall time ("now" of rows, file names and day changes).
QDateTime clockNow();
// A clock that never steps when the wall time is set: milliseconds since an
// arbitrary start.
qint64 clockMonotonicMs();

using WallClock = std::function<QDateTime()>;
using MonotonicClock = std::function<qint64()>;
// Replace the clock; an empty function restores the system's. Each returns
// the previous replacement (empty when there was none).
WallClock setWallClock(WallClock clock);
MonotonicClock setMonotonicClock(MonotonicClock clock);
