#pragma once

// Test side of the MVCameraControl stand-in: its simulated devices.

#include "simdevice.h"

// The library's world. Devices carry the features the driver sets:
// "ExposureTime", "Gain", "Gamma", "AcquisitionFrameRate" (floats),
// "Sharpness", "GevHeartbeatTimeout", "UserSetSelector", "GainAuto",
// "TriggerSource", "SharpnessEnable", "GammaEnable" (whole numbers) and the
// text "DeviceModelName"; the maker is "Hikrobot" unless given.
simdev::Simulator& mvccSimulator();
