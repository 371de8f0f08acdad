#pragma once

#include "operatingstate.h"

// The operating state the screens show: the one the running window's cycle
// registered, or the screens' own while none is registered (a screen built
// alone in its tests and tools, which set it as the window would).
OperatingState& screenState();
