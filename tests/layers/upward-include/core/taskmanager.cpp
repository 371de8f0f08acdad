// A core file that reaches up to the main window.
#include "vezirevoru.h"
