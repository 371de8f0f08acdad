#include "recordingsystemcommands.h"

RecordingSystemCommands::RecordingSystemCommands()
{
    setSystemCommands(this);
}

RecordingSystemCommands::~RecordingSystemCommands()
{
    setSystemCommands(nullptr);
}

SystemCommands::Result RecordingSystemCommands::finished(int exitCode, const QByteArray& output)
{
    Result r;
    r.started = true;
    r.finished = true;
    r.exitCode = exitCode;
    r.output = output;
    return r;
}

void RecordingSystemCommands::script(const SystemOperation& operation, const Result& result)
{
    m_results[operation.describe()].append(result);
}

void RecordingSystemCommands::setFile(const QString& path, const QByteArray& content)
{
    m_files[path] = {content};
}

void RecordingSystemCommands::setFileSequence(const QString& path, const QList<QByteArray>& contents)
{
    m_files[path] = contents;
}

QStringList RecordingSystemCommands::performed() const
{
    QStringList lines;
    for (const SystemOperation& op : operations) {
        lines.append(op.describe());
    }
    return lines;
}

SystemCommands::Result RecordingSystemCommands::execute(const SystemOperation& operation)
{
    operations.append(operation);
    trace.append(QStringLiteral("do: ") + operation.describe());
    auto it = m_results.find(operation.describe());
    if (it == m_results.end() || it->isEmpty()) {
        return finished(0);
    }
    return it->size() > 1 ? it->takeFirst() : it->first();
}

QByteArray RecordingSystemCommands::readFile(const QString& path, bool* ok)
{
    reads.append(path);
    trace.append(QStringLiteral("read: ") + path);
    auto it = m_files.find(path);
    const bool found = it != m_files.end() && !it->isEmpty();
    if (ok) {
        *ok = found;
    }
    if (!found) {
        return {};
    }
    return it->size() > 1 ? it->takeFirst() : it->first();
}

void RecordingSystemCommands::sleepMs(int ms)
{
    sleeps.append(ms);
    trace.append(QStringLiteral("sleep: %1").arg(ms));
}

void RecordingSystemCommands::exitProcess(int code)
{
    exits.append(code);
    trace.append(QStringLiteral("exit: %1").arg(code));
}
