#include "failimageslots.h"

#include "globals.h"

#include <QDebug>

#include <cstring>
#include <mutex>

std::vector<uchar> gFailImageSlots[FailImageSlots::Count];
unsigned char gFailImageReady[FailImageSlots::Count] = {};
int gFirstNgRoi[MaxCameras * DetectsPerCamera] = {};

namespace FailImageSlots {

std::atomic<int> replacedCount{0};

namespace {
QSize gSizes[MaxCameras];

size_t slotBytes(int camera)
{
    const QSize s = gSizes[camera];
    return size_t(std::max(0, s.width())) * size_t(std::max(0, s.height())) * 4;
}
} // namespace

qint64 sizeFor(const std::vector<QSize>& cameraSizes, int detectCount)
{
    qint64 total = 0;
    const int detects = qBound(0, detectCount, int(DetectsPerCamera));
    for (size_t c = 0; c < cameraSizes.size() && c < size_t(MaxCameras); ++c) {
        total += qint64(std::max(0, cameraSizes[c].width())) * std::max(0, cameraSizes[c].height()) * 4 * 2 * detects;
    }
    return total;
}

void allocate(const std::vector<QSize>& cameraSizes, int detectCount)
{
    // Made here on the GUI thread, before the writer thread exists, when
    // start-up has not made it already.
    if (!gMutexTable[9]) {
        gMutexTable[9] = new std::mutex;
    }
    const int detects = qBound(0, detectCount, int(DetectsPerCamera));
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    for (int c = 0; c < MaxCameras; ++c) {
        gSizes[c] = c < int(cameraSizes.size()) ? cameraSizes[size_t(c)] : QSize();
        for (int d = 0; d < DetectsPerCamera; ++d) {
            for (int kind = 0; kind < 2; ++kind) {
                std::vector<uchar>& slot = gFailImageSlots[index(c, d, kind)];
                gFailImageReady[index(c, d, kind)] = 0;
                if (d < detects && gSizes[c].isValid()) {
                    slot.assign(slotBytes(c), 0);
                } else {
                    std::vector<uchar>().swap(slot);
                }
            }
            gFirstNgRoi[c * DetectsPerCamera + d] = 0;
        }
    }
}

void release()
{
    allocate({}, 0);
}

qint64 allocatedBytes()
{
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    qint64 total = 0;
    for (const std::vector<uchar>& slot : gFailImageSlots) {
        total += qint64(slot.size());
    }
    return total;
}

QSize cameraSize(int camera)
{
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    return camera >= 0 && camera < MaxCameras ? gSizes[camera] : QSize();
}

bool store(int camera, int detect, int kind, const uchar* pixels, size_t bytes)
{
    if (camera < 0 || camera >= MaxCameras || detect < 0 || detect >= DetectsPerCamera || kind < 0 || kind > 1) {
        return false;
    }
    bool replaced = false;
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[9]);
        std::vector<uchar>& slot = gFailImageSlots[index(camera, detect, kind)];
        if (slot.empty() || slot.size() != bytes) {
            return false;
        }
        std::memcpy(slot.data(), pixels, bytes);
        unsigned char& ready = gFailImageReady[index(camera, detect, kind)];
        if (ready) {
            // The writer has not taken the last one yet: it is lost.
            ready = 0;
            replaced = true;
        }
    }
    if (replaced) {
        const int n = ++replacedCount;
        // Under a flood every picture would be a line: the first and every
        // hundredth are enough to show it.
        if (n != 1 && n % 100 != 0) {
            return true;
        }
        qWarning().noquote() << QStringLiteral("picture of camera %1 detect %2 (%3) replaced before it was written (%4 so far)")
                                    .arg(camera + 1)
                                    .arg(detect + 1)
                                    .arg(kind ? "OK" : "NG")
                                    .arg(n);
    }
    return true;
}

bool load(int camera, int detect, int kind, uchar* pixels, size_t bytes)
{
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    const std::vector<uchar>& slot = gFailImageSlots[index(camera, detect, kind)];
    if (slot.empty() || slot.size() != bytes) {
        return false;
    }
    std::memcpy(pixels, slot.data(), bytes);
    return true;
}

} // namespace FailImageSlots
