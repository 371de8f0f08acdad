#pragma once

#include "systemcommands.h"

#include <QHash>
#include <QList>
#include <QStringList>

// Test double of the system commands: nothing reaches the operating system.
// Every call is recorded; commands are answered from scripted results and
// files from scripted contents. Installs itself on construction and restores
// the default on destruction.
class RecordingSystemCommands : public SystemCommands {
public:
    RecordingSystemCommands();
    ~RecordingSystemCommands() override;

    // Answer for a command line; a command without a scripted answer finishes
    // at once with exit code 0 and no output. Answers for one command line are
    // used in order, the last one repeatedly.
    void script(const QString& command, const Result& result);
    static Result finished(int exitCode, const QByteArray& output = {});
    // Content served for a path; a path without content cannot be opened.
    void setFile(const QString& path, const QByteArray& content);
    // Contents served for a path on successive reads, the last one repeatedly.
    void setFileSequence(const QString& path, const QList<QByteArray>& contents);

    Result run(const QString& command, int timeoutMs) override;
    int shell(const QString& command) override;
    QByteArray readFile(const QString& path, bool* ok) override;
    bool writeFile(const QString& path, const QByteArray& data) override;
    void sleepMs(int ms) override;
    void exitProcess(int code) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;

    QStringList runs;            // commands given to run()
    QList<int> runTimeouts;      // their timeouts
    QStringList shells;          // commands given to shell()
    QStringList reads;           // paths read
    QList<QPair<QString, QByteArray>> writes;
    QList<int> sleeps;
    QList<int> exits;
    QStringList detached;        // programs given to startDetached, with their arguments
    // Every call in order, as "run: ...", "shell: ...", "read: ...", "write: ...",
    // "sleep: N", "exit: N", "detach: ...", for checking sequences across kinds.
    QStringList trace;

private:
    QHash<QString, QList<Result>> m_results;
    QHash<QString, QList<QByteArray>> m_files;
};
