#pragma once

#include "systemclock.h"

// The records' "now" is the program's one clock.
inline QDateTime recordsNow()
{
    return clockNow();
}
