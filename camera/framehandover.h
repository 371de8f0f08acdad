#pragma once

#include <mutex>
#include <QtGlobal>

#include <vector>

// Hands the newest frame of a camera from the threads that deliver it (SDK
// callbacks, a decoder thread) to the GUI thread that polls it. Every driver
// that talks to a real SDK keeps one; the simulated camera, which has no
// thread, does not.
//
// Only one frame is kept: a frame that arrives before the previous one was
// taken replaces it (the station wants the newest picture), but every frame is
// counted, so the once-a-second frame count still sees the device deliver.
class FrameHandOver {
public:
    FrameHandOver() = default;
    FrameHandOver(const FrameHandOver&) = delete;
    FrameHandOver& operator=(const FrameHandOver&) = delete;

    // Sizes the buffer for frames of `bytes` bytes, filled with zeros, and
    // forgets a frame not yet taken. Called by open; false (and no buffer) for
    // a size of 0 or less or beyond what an int can count.
    bool allocate(qint64 bytes);
    // Drops the buffer; later deliveries are ignored until the next allocate.
    void clear();
    // Bytes of one frame (0 without a buffer).
    int bytes() const;

    // Delivering thread: copies one frame into the buffer. A frame shorter
    // than the buffer (an SDK that changed size under us, a truncated
    // transfer) is dropped rather than read past its end; a longer one gives
    // its first bytes(). False when nothing was taken.
    bool deliver(const void* source, qint64 sourceBytes);

    // Delivering thread: write(buffer, bytes) fills the buffer under the lock,
    // for drivers that convert straight into it. It must not wait on the
    // device. False when there is no buffer.
    template <typename Write>
    bool deliverWith(Write&& write)
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        if (frameBuffer.empty()) {
            return false;
        }
        write(frameBuffer.data(), frameBytes);
        markDelivered();
        return true;
    }

    // GUI thread: copies the frame into destination (bytes() bytes) when one
    // came since the previous call; a false result leaves destination alone.
    bool getFrame(void* destination);
    // GUI thread: frames = frames delivered since the previous call; true when not 0.
    bool takeFrameCount(int& frames);
    // The count takeFrameCount returned last.
    int framesSinceLastTake() const;

private:
    void markDelivered();

    // A standard mutex, not a QMutex: the thread checker sees it, so races
    // between the delivering thread and the GUI thread stay checkable.
    mutable std::mutex frameMutex;
    std::vector<unsigned char> frameBuffer;
    int frameBytes = 0;
    bool newFrame = false;
    // Counted modulo 2^32: a camera running for years at full speed wraps,
    // and the difference of two readings stays right across the wrap.
    quint32 frameCount = 0;
    quint32 lastFrameCount = 0;
    int framesSinceLast = 0;
};
