#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <mutex>

// Catches the log lines (qDebug, qInfo, qWarning, qCritical) written while it
// lives, from any thread, and puts the previous handler back when it goes.
// With PassOn the lines still reach the handler that was there before (the
// test's own output); with Swallow they go no further. Captures may nest: the
// inner one sees the lines while it lives. Fatal messages always pass on.
class LogCapture {
public:
    enum Mode { PassOn, Swallow };
    explicit LogCapture(Mode mode = PassOn);
    ~LogCapture();

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line so far, in order.
    QStringList lines() const;
    // The lines of one kind.
    QStringList lines(QtMsgType type) const;
    // Lines that contain fragment.
    int count(const QString& fragment) const;
    bool contains(const QString& fragment) const { return count(fragment) > 0; }
    // The lines that contain fragment.
    QStringList matching(const QString& fragment) const { return lines().filter(fragment); }
    void clear();
    // Called with every message on the thread that logs it, before it is kept
    // (the innermost capture's hook only): a test can hold a logging thread here.
    void setHook(std::function<void(const QString& message)> hook);

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

    Mode m_mode;
    QtMessageHandler m_previous;
    LogCapture* m_outer;
    mutable std::mutex m_mutex;
    QList<QPair<QtMsgType, QString>> m_lines;
    std::function<void(const QString&)> m_hook;
};
