#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Takes the log messages of every thread for its lifetime and keeps them,
// behind a standard mutex. For messages written by worker threads (a camera's
// stream): QTest's list of expected messages is guarded by a Qt mutex that
// ThreadSanitizer cannot see, so a test whose messages come from another
// thread checks them here instead of with QTest::ignoreMessage. Messages are
// not passed on while it lives.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    QStringList messages() const;
    // Messages of the given type matching the pattern.
    int count(QtMsgType type, const QRegularExpression& pattern) const;

private:
    QtMessageHandler previous;
};
