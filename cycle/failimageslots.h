#pragma once

#include "systemcounts.h"

#include <QSize>
#include <QtGlobal>

#include <atomic>
#include <vector>

// The NG/OK picture slots between the cycle (which composes pictures) and the
// picture writer thread. Everything here is guarded by gMutexTable[9].
//
// Slots exist only for the detects in use: eight 1920 x 1080 cameras with all
// eight detects would hold a gigabyte of pictures that are never composed.
namespace FailImageSlots {
constexpr int Count = MaxCameras * DetectsPerCamera * 2;
constexpr int index(int camera, int detect, int kind) { return camera * 16 + detect * 2 + kind; }
// Picture slots (RGB32, width x height x 4 bytes) for every camera of the
// given sizes and the detects below detectCount; earlier slots are released.
void allocate(const std::vector<QSize>& cameraSizes, int detectCount);
void release();
// Bytes the slots hold now.
qint64 allocatedBytes();
// Bytes allocate() would take.
qint64 sizeFor(const std::vector<QSize>& cameraSizes, int detectCount);
QSize cameraSize(int camera);
// Copies a composed picture (width x height x 4 bytes of the camera) into its
// slot under the mutex. A picture still waiting for the writer is replaced,
// counted and logged. False when the slot does not exist or the size differs.
bool store(int camera, int detect, int kind, const uchar* pixels, size_t bytes);
// Copies the slot out (under the mutex); false when it does not exist.
bool load(int camera, int detect, int kind, uchar* pixels, size_t bytes);
// Waiting pictures replaced by newer ones since start.
extern std::atomic<int> replacedCount;
} // namespace FailImageSlots

extern std::vector<uchar> gFailImageSlots[FailImageSlots::Count];
extern unsigned char gFailImageReady[FailImageSlots::Count];
extern int gFirstNgRoi[MaxCameras * DetectsPerCamera];
