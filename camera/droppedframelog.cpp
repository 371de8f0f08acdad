#include "droppedframelog.h"

void DroppedFrameLog::dropped(const QString& camera, const QString& reason)
{
    ++m_dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dropping = true;
    if (reason == m_lastReason) {
        return;
    }
    m_lastReason = reason;
    qWarning("camera %s: frame dropped: %s", qUtf8Printable(camera), qUtf8Printable(reason));
}

void DroppedFrameLog::taken()
{
    // Most frames are good: no lock unless something was dropped before.
    if (!m_dropping.load()) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dropping = false;
    m_lastReason.clear();
}
