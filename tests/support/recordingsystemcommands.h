#pragma once

#include "systemcommands.h"

#include <QHash>
#include <QList>
#include <QStringList>

// Test double of the system commands: nothing reaches the operating system.
// Every operation that passes the checks of SystemCommands::perform is
// recorded as it was asked for; operations are answered from scripted results
// and files from scripted contents. Installs itself on construction and
// restores the default on destruction.
class RecordingSystemCommands : public SystemCommands {
public:
    RecordingSystemCommands();
    ~RecordingSystemCommands() override;

    // Answer for an operation; one without a scripted answer finishes at once
    // with exit code 0 and no output. Answers for one operation are used in
    // order, the last one repeatedly.
    void script(const SystemOperation& operation, const Result& result);
    static Result finished(int exitCode, const QByteArray& output = {});
    // Content served for a path; a path without content cannot be opened.
    void setFile(const QString& path, const QByteArray& content);
    // Contents served for a path on successive reads, the last one repeatedly.
    void setFileSequence(const QString& path, const QList<QByteArray>& contents);

    QByteArray readFile(const QString& path, bool* ok) override;
    void sleepMs(int ms) override;
    void exitProcess(int code) override;

    // The operations carried out, as their one-line descriptions.
    QStringList performed() const;

    QList<SystemOperation> operations;  // carried out, in order
    QStringList reads;                  // paths read
    QList<int> sleeps;
    QList<int> exits;
    // Every call in order, as "do: <description>", "read: ...", "sleep: N",
    // "exit: N", for checking sequences across kinds.
    QStringList trace;

protected:
    Result execute(const SystemOperation& operation) override;

private:
    QHash<QString, QList<Result>> m_results;
    QHash<QString, QList<QByteArray>> m_files;
};
