#include "screenstate.h"

OperatingState& screenState()
{
    if (OperatingState* registered = operatingState()) {
        return *registered;
    }
    static OperatingState own;
    return own;
}
