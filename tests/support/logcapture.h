#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <mutex>

// Captures the process's log messages for as long as it lives, from every
// thread (SDK callbacks log from theirs), and puts the previous handler back
// afterwards. One at a time.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    // Lines containing `text`.
    QStringList matching(const QString& text) const;
    void clear();
    // Called with every message, on the thread that logs it, before it is
    // kept: a test can hold a logging thread here.
    void setHook(std::function<void(const QString& message)> hook);

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable std::mutex m_mutex;
    QStringList m_lines;
    std::function<void(const QString&)> m_hook;
    QtMessageHandler m_previous = nullptr;
};
