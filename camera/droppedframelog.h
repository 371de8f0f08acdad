#pragma once

#include <QString>

#include <atomic>
#include <mutex>

// Logs the frames a driver refuses (a size, format or length other than open
// set up, a failed conversion) once per change of reason: a camera that keeps
// sending the wrong size says so once, not thirty times a second, and says so
// again when it recovers and goes wrong later. SDK threads call it, several
// at once on some libraries.
class DroppedFrameLog {
public:
    // A frame was dropped for `reason` (a text that names what differed).
    void dropped(const QString& camera, const QString& reason);
    // A frame was taken: the next drop is news again.
    void taken();
    // Frames dropped since creation.
    int droppedCount() const { return m_dropped.load(); }

private:
    std::mutex m_mutex;
    QString m_lastReason;
    std::atomic<bool> m_dropping{false};
    std::atomic<int> m_dropped{0};
};
