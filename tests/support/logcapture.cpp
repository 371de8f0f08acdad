#include "logcapture.h"

#include <atomic>

namespace {
std::atomic<LogCapture*> gActive{nullptr};
} // namespace

LogCapture::LogCapture()
{
    LogCapture* expected = nullptr;
    if (!gActive.compare_exchange_strong(expected, this)) {
        qFatal("LogCapture: one at a time");
    }
    m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    gActive = nullptr;
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

QStringList LogCapture::matching(const QString& text) const
{
    return lines().filter(text);
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

void LogCapture::setHook(std::function<void(const QString& message)> hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    LogCapture* self = gActive.load();
    if (!self) {
        return;
    }
    std::function<void(const QString&)> hook;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        hook = self->m_hook;
    }
    if (hook) {
        hook(message);
    }
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_lines.append(message);
    }
    if (type == QtFatalMsg && self->m_previous) {
        self->m_previous(type, context, message);
    }
}
