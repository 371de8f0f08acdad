#pragma once

// Test side of the MVCAMSDK stand-in: its simulated devices.

#include "simdevice.h"

// The library's world. Devices carry the features "Exposure" (microseconds),
// "AnalogGain", "Sharpness", "Contrast", "Gamma" (whole numbers; their ranges
// are those of the capability record), "AeState", "AeTarget",
// "AeExposureMin", "AeExposureMax", "AntiFlick", "WbMode", "OnceWb",
// "MirrorH", "MirrorV", "FrameSpeed", "Monochrome", "MediaType",
// "IspOutFormat", "OnlineDetectInterval", "Awdr", "TriggerMode".
simdev::Simulator& mindSimulator();
