#pragma once

#include <QProcess>
#include <QString>

// Another program holding an SQLite file locked: a child process (dblocker)
// that takes an exclusive transaction on the file and ends it by itself after
// a given time, so the test's thread may sit blocked in the code under test
// meanwhile. The child is killed, and so its lock dropped, when the fixture
// goes out of scope.
class DatabaseLocker {
public:
    DatabaseLocker() = default;
    ~DatabaseLocker();

    DatabaseLocker(const DatabaseLocker&) = delete;
    DatabaseLocker& operator=(const DatabaseLocker&) = delete;

    // Starts the child on path; returns once it holds the lock (false when it
    // could not take it).
    bool lock(const QString& path, int holdMs);
    // Waits until the child has let go and ended.
    bool waitReleased(int timeoutMs = 10000);

private:
    QProcess m_process;
};
