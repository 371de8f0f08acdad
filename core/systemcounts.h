#pragma once

// The fixed sizes of the data model that every layer shares.
constexpr int MaxCameras = 8;          // camera stations, serial slots, counter columns
constexpr int DetectsPerCamera = 8;    // detects (inspection stages) of one cycle
constexpr int AreasPerDetect = 50;     // detection areas of one camera in one detect
