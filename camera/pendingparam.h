#pragma once

// Temporary: the parameter loader's serial table and colour mode, until the
// parameter storage joins this branch.
constexpr int kCameraSerialSlots = 8;
constexpr int kCameraSerialBytes = 100;
extern char cameraSerials[kCameraSerialSlots][kCameraSerialBytes];
extern int gColorMode;
