#include "databaselocker.h"

#include <QFileInfo>

DatabaseLocker::~DatabaseLocker()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool DatabaseLocker::lock(const QString& path, int holdMs)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(KORVANE_DBLOCKER_PATH),
                    {QFileInfo(path).absoluteFilePath(), QString::number(holdMs)});
    if (!m_process.waitForStarted(5000)) {
        return false;
    }
    QByteArray line;
    while (!line.contains('\n')) {
        if (!m_process.waitForReadyRead(10000)) {
            return false;
        }
        line += m_process.readLine();
    }
    return line.startsWith("locked");
}

bool DatabaseLocker::release()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.write("\n");
        m_process.closeWriteChannel();
    }
    return waitReleased();
}

bool DatabaseLocker::waitReleased(int timeoutMs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
}
