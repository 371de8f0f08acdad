#include "pendingparam.h"

char cameraSerials[kCameraSerialSlots][kCameraSerialBytes] = {};
int gColorMode = 0;
