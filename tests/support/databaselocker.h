#pragma once

#include <QProcess>
#include <QString>

// Another program holding an SQLite file locked: a child process (dblocker)
// that takes an exclusive transaction on the file and ends it either by
// itself after a given time (the test's thread may then sit blocked in the
// code under test meanwhile) or when the test releases it. The child is
// killed, and so its lock dropped, when the fixture goes out of scope.
class DatabaseLocker {
public:
    DatabaseLocker() = default;
    ~DatabaseLocker();

    DatabaseLocker(const DatabaseLocker&) = delete;
    DatabaseLocker& operator=(const DatabaseLocker&) = delete;

    // Starts the child on path; returns once it holds the lock (false when it
    // could not take it). A negative holdMs holds it until release().
    bool lock(const QString& path, int holdMs = -1);
    // Tells the child to let go and waits until it has ended.
    bool release();
    // Waits until the child has let go and ended.
    bool waitReleased(int timeoutMs = 10000);

private:
    QProcess m_process;
};
