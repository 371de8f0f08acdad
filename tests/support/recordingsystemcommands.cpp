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

void RecordingSystemCommands::script(const QString& command, const Result& result)
{
    m_results[command].append(result);
}

void RecordingSystemCommands::setFile(const QString& path, const QByteArray& content)
{
    m_files[path] = {content};
}

void RecordingSystemCommands::setFileSequence(const QString& path, const QList<QByteArray>& contents)
{
    m_files[path] = contents;
}

SystemCommands::Result RecordingSystemCommands::run(const QString& command, int timeoutMs)
{
    runs.append(command);
    runTimeouts.append(timeoutMs);
    trace.append(QStringLiteral("run: ") + command);
    auto it = m_results.find(command);
    if (it == m_results.end() || it->isEmpty()) {
        return finished(0);
    }
    return it->size() > 1 ? it->takeFirst() : it->first();
}

int RecordingSystemCommands::shell(const QString& command)
{
    shells.append(command);
    trace.append(QStringLiteral("shell: ") + command);
    return 0;
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

bool RecordingSystemCommands::writeFile(const QString& path, const QByteArray& data)
{
    writes.append({path, data});
    trace.append(QStringLiteral("write: ") + path);
    return true;
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

bool RecordingSystemCommands::startDetached(const QString& program, const QStringList& arguments)
{
    const QString line = (QStringList{program} + arguments).join(QLatin1Char(' '));
    detached.append(line);
    trace.append(QStringLiteral("detach: ") + line);
    return true;
}
