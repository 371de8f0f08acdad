#pragma once

#include <QString>
#include <QTemporaryDir>

// Gives a test its own empty working folder: every path of the system is
// relative to the working directory, so the fixture switches into a fresh
// temporary folder and back, and removes it with everything in it.
class TestWorkDir {
public:
    TestWorkDir();
    ~TestWorkDir();

    TestWorkDir(const TestWorkDir&) = delete;
    TestWorkDir& operator=(const TestWorkDir&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    // Absolute path of a file inside the folder.
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Writes a file (creating its folders); returns false on failure.
    bool write(const QString& name, const QByteArray& content) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
