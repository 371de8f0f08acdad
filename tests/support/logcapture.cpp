#include "logcapture.h"

namespace {

// Which capture receives the lines; a worker may log while a capture starts
// or ends, so both the pointer and the handover are under this lock.
std::mutex gCurrentMutex;
LogCapture* gCurrent = nullptr;

} // namespace

LogCapture::LogCapture(Mode mode)
    : m_mode(mode)
{
    std::lock_guard<std::mutex> lock(gCurrentMutex);
    m_outer = gCurrent;
    gCurrent = this;
    m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    std::lock_guard<std::mutex> lock(gCurrentMutex);
    qInstallMessageHandler(m_previous);
    gCurrent = m_outer;
}

void LogCapture::setHook(std::function<void(const QString& message)> hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // The hook may hold this thread: it runs outside every lock.
    std::function<void(const QString&)> hook;
    {
        std::lock_guard<std::mutex> lock(gCurrentMutex);
        if (gCurrent) {
            std::lock_guard<std::mutex> lines(gCurrent->m_mutex);
            hook = gCurrent->m_hook;
        }
    }
    if (hook) {
        hook(message);
    }

    QtMessageHandler next = nullptr;
    {
        std::lock_guard<std::mutex> lock(gCurrentMutex);
        // A nested capture passes on to the one it interrupted, and so on
        // down to the handler that was there before the first.
        for (LogCapture* capture = gCurrent; capture; capture = capture->m_outer) {
            {
                std::lock_guard<std::mutex> lines(capture->m_mutex);
                capture->m_lines.append({type, message});
            }
            if (capture->m_mode == Swallow && type != QtFatalMsg) {
                break;
            }
            if (capture->m_previous != &LogCapture::handle) {
                next = capture->m_previous;
                break;
            }
        }
    }
    // Outside the lock: the next handler may log again (or end the process).
    if (next) {
        next(type, context, message);
    }
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QStringList out;
    for (const auto& line : m_lines) {
        out.append(line.second);
    }
    return out;
}

QStringList LogCapture::lines(QtMsgType type) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QStringList out;
    for (const auto& line : m_lines) {
        if (line.first == type) {
            out.append(line.second);
        }
    }
    return out;
}

int LogCapture::count(const QString& fragment) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& line : m_lines) {
        if (line.second.contains(fragment)) {
            ++n;
        }
    }
    return n;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}
