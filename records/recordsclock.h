#pragma once

#include <QDateTime>

#include <functional>

// The records ask this clock for "now": the day of the start-up load, the
// production day and its rotation all hang on it, and tests must be able to
// stand at 23:59:59 or 00:00:05 without waiting. GUI thread only.
QDateTime recordsNow();

using RecordsClock = std::function<QDateTime()>;
// Replaces the clock; an empty function restores the system clock. Returns the
// previous one.
RecordsClock setRecordsClock(RecordsClock clock);
