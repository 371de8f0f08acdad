#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Everything the system asks of the operating system outside Qt goes through
// this one interface: shell commands, files outside the working folder, sleeping
// and ending the process. The panel build runs them for real; other builds
// simulate the privileged ones; tests install a recording double.
class SystemCommands {
public:
    struct Result {
        bool started = false;   // the shell could be started
        bool finished = false;  // it ended within the time given
        int exitCode = -1;      // valid when finished
        QByteArray output;      // standard output and error, merged
    };

    virtual ~SystemCommands() = default;

    // Runs "bash -c <command>" and waits up to timeoutMs for it to end.
    virtual Result run(const QString& command, int timeoutMs) = 0;
    // Runs a command through the C library's system() call; returns its status.
    virtual int shell(const QString& command) = 0;
    // Reads a whole file (for example /proc/mounts); ok tells whether it could be opened.
    virtual QByteArray readFile(const QString& path, bool* ok) = 0;
    // Replaces the content of a file outside the working folder (for example a /sys control file).
    virtual bool writeFile(const QString& path, const QByteArray& data) = 0;
    // Pauses the calling thread.
    virtual void sleepMs(int ms) = 0;
    // Ends the process with the given code. Only a test double returns from it.
    virtual void exitProcess(int code) = 0;
    // Starts a program that outlives this process (the program's own restart).
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
};

// The Linux implementation. With privileged set to false, commands that would
// mount, reboot, power off, set the clock or write to /sys, /root or /mnt are
// logged and not run (see isPrivileged), so a development machine is left alone.
class LinuxSystemCommands : public SystemCommands {
public:
    explicit LinuxSystemCommands(bool privileged);

    Result run(const QString& command, int timeoutMs) override;
    int shell(const QString& command) override;
    QByteArray readFile(const QString& path, bool* ok) override;
    bool writeFile(const QString& path, const QByteArray& data) override;
    void sleepMs(int ms) override;
    void exitProcess(int code) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;

    // True for command lines that change the machine beyond the working folder.
    static bool isPrivileged(const QString& command);
    // True for paths under /sys, /root or /mnt.
    static bool isProtectedPath(const QString& path);

private:
    bool m_privileged;
};

// The process-wide instance. Until setSystemCommands is called it is a
// LinuxSystemCommands, privileged only in the panel build.
SystemCommands& systemCommands();
// Replaces the process-wide instance (not owned); nullptr restores the default.
void setSystemCommands(SystemCommands* commands);
