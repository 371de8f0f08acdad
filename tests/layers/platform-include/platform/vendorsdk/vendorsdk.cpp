// A vendor library stand-in that knows a parameter of the system.
#include "systemparam.h"
