#include "recordsclock.h"

namespace {

RecordsClock& clockOverride()
{
    static RecordsClock clock;
    return clock;
}

} // namespace

QDateTime recordsNow()
{
    return clockOverride() ? clockOverride()() : QDateTime::currentDateTime();
}

RecordsClock setRecordsClock(RecordsClock clock)
{
    RecordsClock previous = std::move(clockOverride());
    clockOverride() = std::move(clock);
    return previous;
}
