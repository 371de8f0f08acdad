#include "framehandover.h"

#include <cstring>
#include <limits>

bool FrameHandOver::allocate(qint64 bytes)
{
    std::lock_guard<std::mutex> lock(frameMutex);
    newFrame = false;
    if (bytes <= 0 || bytes > std::numeric_limits<int>::max()) {
        frameBuffer = {};
        frameBytes = 0;
        return false;
    }
    frameBuffer.assign(std::size_t(bytes), 0);
    frameBytes = int(bytes);
    return true;
}

void FrameHandOver::clear()
{
    std::lock_guard<std::mutex> lock(frameMutex);
    frameBuffer = {};
    frameBytes = 0;
    newFrame = false;
}

int FrameHandOver::bytes() const
{
    std::lock_guard<std::mutex> lock(frameMutex);
    return frameBytes;
}

bool FrameHandOver::deliver(const void* source, qint64 sourceBytes)
{
    std::lock_guard<std::mutex> lock(frameMutex);
    if (frameBuffer.empty() || !source || sourceBytes < frameBytes) {
        return false;
    }
    std::memcpy(frameBuffer.data(), source, std::size_t(frameBytes));
    markDelivered();
    return true;
}

void FrameHandOver::markDelivered()
{
    ++frameCount;
    newFrame = true;
}

bool FrameHandOver::getFrame(void* destination)
{
    if (!destination) {
        return false;
    }
    std::lock_guard<std::mutex> lock(frameMutex);
    const bool had = newFrame;
    if (had) {
        std::memcpy(destination, frameBuffer.data(), std::size_t(frameBytes));
    }
    newFrame = false;
    return had;
}

bool FrameHandOver::takeFrameCount(int& frames)
{
    quint32 count;
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        count = frameCount;
    }
    // Only the GUI thread touches the last reading.
    frames = int(count - lastFrameCount);
    framesSinceLast = frames;
    lastFrameCount = count;
    return frames != 0;
}

int FrameHandOver::framesSinceLastTake() const
{
    return framesSinceLast;
}
