#pragma once

// Test side of the DVPCamera stand-in: its simulated devices.

#include "simdevice.h"

// The library's world. A device's name (DeviceProfile::name) is what
// dvpOpenByName finds it by; its serial is the identity at byte 1088 of its
// record. Devices carry the features "Exposure" (microseconds), "AnalogGain",
// "Sharpness", "Contrast", "Gamma", "GammaState", "ContrastState",
// "SharpnessState", "TargetFormat", "HdrEnable", "AeOperation",
// "LinkTimeout", "TriggerState", "TriggerSource".
simdev::Simulator& dvpSimulator();
