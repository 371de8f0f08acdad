#include "iothread.h"

#include "systemclock.h"

#include "globals.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>

#include <cstring>
#include <time.h>

QSerialPort* gpSerialPort = nullptr;
int gOutputWord = -1;
int gInputWord = 0;
int gPollCount = 0;
qint32 gBoardValues[kBoardValueCount] = {};
// No value command is outstanding until the loop sends command 3 or 4.
int gBoardValueIndex = kBoardValueCount;

namespace {

// The write of one frame normally completes at once (the driver queues it);
// the short limit keeps a stuck line from stalling the loop.
constexpr int kWriteTimeoutMs = 2;
// More unsent bytes than this mean the line does not drain: stale frames are dropped.
constexpr qint64 kMaxWriteBacklog = 8 * kHostFrameSize;

std::mutex& ioMutex()
{
    return *gMutexTable[8];
}

// Why an open port stopped working. Qt's own text for a failed read reports
// whatever errno was left behind, which misleads more than it helps.
QString portFault(const QSerialPort* port)
{
    switch (port->error()) {
    case QSerialPort::ResourceError:
        return QStringLiteral("device unavailable");
    case QSerialPort::ReadError:
        return QStringLiteral("read failed");
    case QSerialPort::WriteError:
        return QStringLiteral("write failed");
    default:
        return port->errorString();
    }
}

} // namespace

QString controlPortPath(int portIndex, bool deviceFallback)
{
    const QString name = QStringLiteral("COM%1").arg(portIndex + 1);
    const QFileInfo local(QDir::current().filePath(name));
    // A dangling link still names the board's port (its device is merely
    // absent now): falling back to another device would talk to the wrong line.
    if (local.exists() || local.isSymLink()) {
        return local.absoluteFilePath();
    }
    if (deviceFallback && portIndex >= 0) {
        return QStringLiteral("/dev/ttyS%1").arg(portIndex);
    }
    return QString();
}

bool controlPortDeviceFallback()
{
#ifdef KORVANE_PANEL
    return true;
#else
    return false;
#endif
}

bool openControlPort(int portIndex, QString* path, QString* error)
{
    const QString where = controlPortPath(portIndex, controlPortDeviceFallback());
    if (path) {
        *path = where;
    }
    if (where.isEmpty()) {
        if (error) {
            *error = QStringLiteral("no file COM%1 in the working folder").arg(portIndex + 1);
        }
        return false;
    }
    auto* port = new QSerialPort;
    port->setPortName(where);
    port->setReadBufferSize(kIoBufferSize);
    bool ok = port->open(QIODevice::ReadWrite);
    ok = ok && port->setBaudRate(QSerialPort::Baud115200);
    ok = ok && port->setDataBits(QSerialPort::Data8);
    ok = ok && port->setParity(QSerialPort::NoParity);
    ok = ok && port->setStopBits(QSerialPort::OneStop);
    ok = ok && port->setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        if (error) {
            *error = port->errorString();
        }
        delete port;
        return false;
    }
    port->clearError();
    gpSerialPort = port;
    return true;
}

void closeControlPort()
{
    if (gpSerialPort) {
        gpSerialPort->close();
        delete gpSerialPort;
        gpSerialPort = nullptr;
    }
}

qint64 sendControlFrame(int command, int value)
{
    if (!gpSerialPort) {
        return -1;
    }
    unsigned char frame[kHostFrameSize];
    buildHostFrame(frame, command, value);
    if (gpSerialPort->bytesToWrite() > kMaxWriteBacklog) {
        gpSerialPort->clear(QSerialPort::Output);
    }
    const qint64 written = gpSerialPort->write(reinterpret_cast<const char*>(frame), kHostFrameSize);
    // Without an event loop in this thread, the frame leaves only here.
    gpSerialPort->waitForBytesWritten(kWriteTimeoutMs);
    return written;
}

IOThread::IOThread(int portIndex, QObject* parent)
    : QThread(parent)
    , m_portIndex(portIndex)
{
    std::memset(m_staging, 0, sizeof m_staging);
}

IOThread::~IOThread()
{
    requestStop();
    join();
}

qint32 IOThread::secondsNow()
{
    return static_cast<qint32>((clockMonotonicMs() / 1000) % 1000000000LL);
}

void IOThread::stampHeartbeat()
{
    m_heartbeat.store(secondsNow());
    std::lock_guard<std::mutex> lock(m_waitMutex);
    if (m_silent) {
        m_fed = true;
        m_wake.notify_all();
    }
}

void IOThread::join()
{
    wait();
    // run() takes this lock as its last act.
    std::lock_guard<std::mutex> lock(m_waitMutex);
}

void IOThread::requestStop()
{
    std::lock_guard<std::mutex> lock(m_waitMutex);
    m_stop.store(true);
    m_wake.notify_all();
}

void IOThread::pauseUntil(Clock::time_point deadline, bool wakeOnFeed)
{
    std::unique_lock<std::mutex> lock(m_waitMutex);
    m_wake.wait_until(lock, deadline, [&] { return m_stop.load() || (wakeOnFeed && m_fed); });
}

bool IOThread::tryOpenPort()
{
    QString path;
    QString error;
    if (openControlPort(m_portIndex, &path, &error)) {
        m_portPath = path;
        m_portOpen.store(true);
        m_portFaultReported = false;
        m_receiver.clear();
        m_lastAnswerMs = clockMonotonicMs();
        m_silenceReported = false;
        m_haveSent = false;
        resetEchoWatch();
        // Whatever the board drove before (its own reset state, or a word from
        // before the outage), it hears the word wanted now first.
        m_resyncOutputs = true;
        qInfo().noquote() << QStringLiteral("I/O board: COM%1 opened at %2").arg(m_portIndex + 1).arg(path);
        return true;
    }
    if (!m_portFaultReported) {
        m_portFaultReported = true;
        const QString where = path.isEmpty() ? QStringLiteral("COM%1").arg(m_portIndex + 1)
                                             : QStringLiteral("COM%1 (%2)").arg(m_portIndex + 1).arg(path);
        qWarning().noquote() << QStringLiteral("I/O board: cannot open %1: %2; trying again").arg(where, error);
        emit sigLinkWarning(kTextPortCannotOpen, m_portIndex + 1);
    }
    return false;
}

void IOThread::dropPort(const QString& why)
{
    qWarning().noquote() << QStringLiteral("I/O board: COM%1 (%2) lost: %3; reopening")
                                .arg(m_portIndex + 1)
                                .arg(m_portPath, why);
    if (!m_portFaultReported) {
        m_portFaultReported = true;
        emit sigLinkWarning(kTextPortLost, m_portIndex + 1);
    }
    closeControlPort();
    m_portOpen.store(false);
    m_receiver.clear();
    m_haveSent = false;
    resetEchoWatch();
    m_nextOpenAttemptMs = clockMonotonicMs() + kReopenIntervalMs;
    updateLinkState();
}

void IOThread::resetEchoWatch()
{
    m_echoConfirmed = false;
    m_echoMismatchSinceMs = -1;
}

bool IOThread::portBroken()
{
    switch (gpSerialPort->error()) {
    case QSerialPort::NoError:
        return false;
    case QSerialPort::TimeoutError:
        gpSerialPort->clearError();
        return false;
    default:
        return true;
    }
}

int IOThread::readIntoStaging()
{
    // The port object fills its buffer only when asked in this thread; stop at
    // the staging size and leave the rest in the port for the next pass.
    while (gpSerialPort->bytesAvailable() < kIoBufferSize && gpSerialPort->waitForReadyRead(0)) {
    }
    if (portBroken()) {
        return -1;
    }
    const qint64 n = gpSerialPort->read(reinterpret_cast<char*>(m_staging), kIoBufferSize);
    if (n < 0 || portBroken()) {
        return -1;
    }
    return static_cast<int>(n);
}

void IOThread::parseReceived(int size, bool* sendOutputs)
{
    const BoardReceiver::Result found =
        m_receiver.receive(m_staging, size, m_sentWord, gBoardValues, &gBoardValueIndex);
    const qint64 nowMs = clockMonotonicMs();
    // The echo is judged before the inputs are published, so whoever sees the
    // inputs of a reply also finds the judgement of its echo made.
    if (found.echo >= 0 && m_haveSent) {
        checkEcho(found.echo, found.echoMatches, nowMs);
    }
    for (int i = 0; i < found.pollReplies; ++i) {
        const int inputs = found.inputWords[i];
        bool changed;
        {
            std::lock_guard<std::mutex> lock(ioMutex());
            changed = inputs != gInputWord;
            gInputWord = inputs;
        }
        // Stored before the signal: the queued receiver must find the new word.
        if (changed) {
            emit sigIOChange();
        }
    }
    if (found.frames > 0) {
        m_lastAnswerMs = nowMs;
    }
    m_skippedBytes += found.skipped;
    // Every handled reply is followed by the word; a differing echo above all.
    *sendOutputs = *sendOutputs || found.sendOutputs || (found.echo >= 0 && !found.echoMatches);
}

void IOThread::checkEcho(int echo, bool matches, qint64 nowMs)
{
    if (matches) {
        m_echoConfirmed = true;
        m_echoMismatchSinceMs = -1;
        if (m_echoFaultReported) {
            m_echoFaultReported = false;
            qInfo().noquote() << QStringLiteral("I/O board: outputs confirmed again on COM%1 (%2)")
                                     .arg(m_portIndex + 1)
                                     .arg(m_portPath);
        }
        return;
    }
    m_echoConfirmed = false;
    if (m_echoMismatchSinceMs < 0) {
        m_echoMismatchSinceMs = nowMs;
        return;
    }
    if (!m_echoFaultReported && nowMs - m_echoMismatchSinceMs > kEchoMismatchMs) {
        m_echoFaultReported = true;
        qWarning().noquote() << QStringLiteral("I/O board: COM%1 (%2) does not confirm the outputs: sent %3, board drives %4")
                                    .arg(m_portIndex + 1)
                                    .arg(m_portPath)
                                    .arg(m_sentWord & kOutputBits, 3, 16, QLatin1Char('0'))
                                    .arg(echo & kOutputBits, 3, 16, QLatin1Char('0'));
        emit sigLinkWarning(kTextOutputsUnconfirmed, m_portIndex + 1);
    }
}

bool IOThread::sendOutputWord()
{
    int word;
    {
        std::lock_guard<std::mutex> lock(ioMutex());
        word = gOutputWord;
    }
    if (!send(CmdSetOutputs, word)) {
        return false;
    }
    m_sentWord = word;
    m_haveSent = true;
    m_resyncOutputs = false;
    return true;
}

void IOThread::setLinkUp(bool up)
{
    if (m_linkUp.exchange(up) == up) {
        return;
    }
    if (up) {
        qInfo().noquote() << QStringLiteral("I/O board: link on COM%1 up").arg(m_portIndex + 1);
    } else {
        qWarning().noquote() << QStringLiteral("I/O board: link on COM%1 down").arg(m_portIndex + 1);
    }
    emit sigLinkState(up);
}

void IOThread::updateLinkState()
{
    if (!gpSerialPort || m_silenceReported || m_echoFaultReported) {
        setLinkUp(false);
    } else if (m_echoConfirmed) {
        setLinkUp(true);
    }
    // Otherwise (port open, no reply judged yet) it stays as it was.
}

bool IOThread::send(int command, int value)
{
    sendControlFrame(command, value);
    if (portBroken()) {
        dropPort(portFault(gpSerialPort));
        return false;
    }
    return true;
}

void IOThread::checkBoardAnswers(qint64 nowMs)
{
    if (nowMs - m_lastAnswerMs > kNoAnswerMs) {
        if (!m_silenceReported) {
            m_silenceReported = true;
            // The board must prove itself again when it answers.
            resetEchoWatch();
            qWarning().noquote() << QStringLiteral("I/O board: no answer on COM%1 (%2)")
                                        .arg(m_portIndex + 1)
                                        .arg(m_portPath);
            emit sigLinkWarning(kTextBoardSilent, m_portIndex + 1);
        }
    } else if (m_silenceReported) {
        m_silenceReported = false;
        qInfo().noquote() << QStringLiteral("I/O board: answering again on COM%1").arg(m_portIndex + 1);
    }
    if (nowMs - m_noiseWindowStartMs > 60000) {
        if (m_skippedBytes > 0) {
            qWarning().noquote() << QStringLiteral("I/O board: %1 bytes of line noise skipped in the last minute")
                                        .arg(m_skippedBytes);
        }
        m_skippedBytes = 0;
        m_noiseWindowStartMs = nowMs;
    }
}

void IOThread::run()
{
    gPollCount = 0;
    gBoardValueIndex = kBoardValueCount;
    m_receiver.clear();
    m_heartbeat.store(secondsNow());
    m_nextOpenAttemptMs = clockMonotonicMs();
    m_noiseWindowStartMs = m_nextOpenAttemptMs;

    while (!m_stop.load()) {
        const Clock::time_point start = Clock::now();

        if (secondsNow() - m_heartbeat.load() > kHeartbeatLimitS) {
            {
                std::lock_guard<std::mutex> lock(m_waitMutex);
                m_silent = true;
                m_fed = false;
            }
            qWarning("controlport_thread - main_thread > 10s will timeout exit");
            pauseUntil(start + std::chrono::milliseconds(kSilentSleepMs), true);
            {
                std::lock_guard<std::mutex> lock(m_waitMutex);
                m_silent = false;
            }
            // The board was not asked meanwhile; its silence is no fault, and
            // what its echo said before the pause is old news. The word may
            // have changed meanwhile: the board hears the current one first.
            m_lastAnswerMs = clockMonotonicMs();
            m_echoMismatchSinceMs = -1;
            m_resyncOutputs = true;
            continue;
        }

        if (!gpSerialPort) {
            const qint64 nowMs = clockMonotonicMs();
            if (nowMs >= m_nextOpenAttemptMs) {
                m_nextOpenAttemptMs = nowMs + kReopenIntervalMs;
                tryOpenPort();
            }
            if (!gpSerialPort) {
                pauseUntil(start + std::chrono::milliseconds(kIdleSleepMs), false);
                continue;
            }
        }

        const int n = readIntoStaging();
        if (n < 0) {
            dropPort(portFault(gpSerialPort));
            continue;
        }
        bool sendOutputs = m_resyncOutputs;
        if (n > 0) {
            parseReceived(n, &sendOutputs);
        }
        if (sendOutputs && !sendOutputWord()) {
            continue;
        }
        checkBoardAnswers(clockMonotonicMs());
        updateLinkState();

        if (!send(nextPollCommand(&gPollCount, &gBoardValueIndex), 0)) {
            continue;
        }

        // Paced on a fixed 5 ms grid, so neither the pass's own time nor the
        // wake-up delay adds up; after a stall the grid restarts from now
        // rather than firing a burst of late polls.
        m_nextPoll += std::chrono::milliseconds(kPollIntervalMs);
        if (m_nextPoll < start) {
            m_nextPoll = start + std::chrono::milliseconds(kPollIntervalMs);
        }
        pauseUntil(m_nextPoll, false);
    }

    if (gpSerialPort) {
        // Leave the board with the word the program wanted last (the outputs
        // at rest when quitting).
        int last;
        {
            std::lock_guard<std::mutex> lock(ioMutex());
            last = gOutputWord;
        }
        sendControlFrame(CmdSetOutputs, last);
        gpSerialPort->waitForBytesWritten(50);
        closeControlPort();
        m_portOpen.store(false);
    }
    // The last act: join() takes this lock after the thread has ended.
    std::lock_guard<std::mutex> lock(m_waitMutex);
}
