#include "systemcommands.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <cstdlib>

namespace {

SystemCommands* gOverride = nullptr;

#ifdef KORVANE_PANEL
constexpr bool kPanelBuild = true;
#else
constexpr bool kPanelBuild = false;
#endif

} // namespace

LinuxSystemCommands::LinuxSystemCommands(bool privileged)
    : m_privileged(privileged)
{
}

bool LinuxSystemCommands::isProtectedPath(const QString& path)
{
    static const QRegularExpression re(QStringLiteral("(^|[\\s>'\"=])/(sys|root|mnt)(/|\\b|$)"));
    return re.match(path).hasMatch();
}

bool LinuxSystemCommands::isPrivileged(const QString& command)
{
    static const QRegularExpression re(QStringLiteral(
        "(^|[\\s;&|(])(mount|umount|reboot|shutdown|poweroff|halt|hwclock|timedatectl|init)(\\s|$|;)"
        "|(^|[\\s;&|(])date\\s+(-s|--set)"));
    return re.match(command).hasMatch() || isProtectedPath(command);
}

SystemCommands::Result LinuxSystemCommands::run(const QString& command, int timeoutMs)
{
    Result result;
    if (!m_privileged && isPrivileged(command)) {
        qWarning() << "system command not run outside the panel:" << command;
        result.started = true;
        result.finished = true;
        result.exitCode = 1;
        return result;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("bash"), {QStringLiteral("-c"), command}, QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs)) {
        return result;
    }
    result.started = true;
    process.closeWriteChannel();
    if (process.waitForFinished(timeoutMs)) {
        result.finished = true;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    } else {
        // A command that hangs must not outlive the call that gave up on it.
        process.kill();
        process.waitForFinished(1000);
    }
    result.output = process.readAll();
    return result;
}

int LinuxSystemCommands::shell(const QString& command)
{
    if (!m_privileged && isPrivileged(command)) {
        qWarning() << "system command not run outside the panel:" << command;
        return 1;
    }
    return std::system(command.toLocal8Bit().constData());
}

QByteArray LinuxSystemCommands::readFile(const QString& path, bool* ok)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok) {
        *ok = opened;
    }
    return opened ? file.readAll() : QByteArray();
}

bool LinuxSystemCommands::writeFile(const QString& path, const QByteArray& data)
{
    if (!m_privileged && isProtectedPath(path)) {
        qWarning() << "file not written outside the panel:" << path;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    return file.write(data) == data.size();
}

void LinuxSystemCommands::sleepMs(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms));
}

void LinuxSystemCommands::exitProcess(int code)
{
    std::exit(code);
}

bool LinuxSystemCommands::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

SystemCommands& systemCommands()
{
    static LinuxSystemCommands linuxCommands(kPanelBuild);
    return gOverride ? *gOverride : linuxCommands;
}

void setSystemCommands(SystemCommands* commands)
{
    gOverride = commands;
}
