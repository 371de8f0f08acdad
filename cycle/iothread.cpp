#include "iothread.h"

#include "systemclock.h"

#include "globals.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
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
constexpr int kValueBlock = kBoardValueCount / 2;

QMutex* ioMutex()
{
    return gMutexTable[8];
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

quint8 checkSum8(const unsigned char* data, int count)
{
    unsigned int sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += data[i];
    }
    return static_cast<quint8>(sum & 0xFFu);
}

void buildHostFrame(unsigned char* frame, int command, int value)
{
    const unsigned int v = static_cast<unsigned int>(value);
    frame[0] = kFrameHeader;
    frame[1] = static_cast<unsigned char>(command & 0xFF);
    frame[2] = static_cast<unsigned char>(v & 0xFFu);
    frame[3] = static_cast<unsigned char>((v >> 8) & 0xFFu);
    frame[4] = checkSum8(frame, 4);
    frame[5] = kFrameTrailer;
}

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
    std::memset(m_receive, 0, sizeof m_receive);
    std::memset(m_staging, 0, sizeof m_staging);
}

IOThread::~IOThread()
{
    requestStop();
    wait();
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
        m_receiveFill = 0;
        m_lastAnswer = Clock::now();
        m_silenceReported = false;
        qInfo().noquote() << QStringLiteral("I/O board: COM%1 opened at %2").arg(m_portIndex + 1).arg(path);
        return true;
    }
    if (!m_portFaultReported) {
        m_portFaultReported = true;
        const QString where = path.isEmpty() ? QStringLiteral("COM%1").arg(m_portIndex + 1)
                                             : QStringLiteral("COM%1 (%2)").arg(m_portIndex + 1).arg(path);
        qWarning().noquote() << QStringLiteral("I/O board: cannot open %1: %2; trying again").arg(where, error);
        emit sigLinkWarning(QStringLiteral("The I/O board port %1 cannot be opened (%2). "
                                           "The machine signals are not available until it can.")
                                .arg(where, error));
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
        emit sigLinkWarning(QStringLiteral("The I/O board port COM%1 was lost (%2). "
                                           "The machine signals are not available until it is back.")
                                .arg(m_portIndex + 1)
                                .arg(why));
    }
    closeControlPort();
    m_portOpen.store(false);
    m_receiveFill = 0;
    m_nextOpenAttempt = Clock::now() + std::chrono::milliseconds(kReopenIntervalMs);
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

void IOThread::handleFrame(const unsigned char* frame, int wanted, bool* sendOutputs)
{
    const unsigned char d0 = frame[2];
    const unsigned char d1 = frame[3];
    const unsigned char d2 = frame[4];
    const unsigned char d3 = frame[5];
    switch (frame[1]) {
    case CmdPoll: {
        const int inputs = d0 | ((d1 & 3) << 8);
        const int echo = d2 | ((d3 & 3) << 8);
        bool changed;
        {
            QMutexLocker lock(ioMutex());
            changed = inputs != gInputWord;
            gInputWord = inputs;
        }
        // Stored before the signal: the queued receiver must find the new word.
        if (changed) {
            emit sigIOChange();
        }
        if (echo != wanted) {
            *sendOutputs = true;
        }
        break;
    }
    case CmdReadValues1:
    case CmdReadValues2: {
        // Each command fills its own half of the table; further replies are dropped.
        const int first = frame[1] == CmdReadValues1 ? 0 : kValueBlock;
        if (gBoardValueIndex >= first && gBoardValueIndex < first + kValueBlock) {
            const quint32 value = quint32(d0) | (quint32(d1) << 8) | (quint32(d2) << 16) | (quint32(d3) << 24);
            gBoardValues[gBoardValueIndex] = static_cast<qint32>(value);
            ++gBoardValueIndex;
        }
        break;
    }
    default:
        break;
    }
}

void IOThread::parseReceived(int wanted, bool* sendOutputs)
{
    int pos = 0;
    while (m_receiveFill - pos >= kBoardFrameSize) {
        const unsigned char* f = m_receive + pos;
        if (f[0] == kFrameHeader && checkSum8(f, 6) == f[6] && f[7] == kFrameTrailer) {
            handleFrame(f, wanted, sendOutputs);
            m_lastAnswer = Clock::now();
            pos += kBoardFrameSize;
        } else {
            ++m_skippedBytes;
            ++pos;
        }
    }
    if (pos > 0) {
        std::memmove(m_receive, m_receive + pos, static_cast<size_t>(m_receiveFill - pos));
        m_receiveFill -= pos;
    }
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

void IOThread::checkBoardAnswers(Clock::time_point now)
{
    if (now - m_lastAnswer > std::chrono::milliseconds(kNoAnswerMs)) {
        if (!m_silenceReported) {
            m_silenceReported = true;
            qWarning().noquote() << QStringLiteral("I/O board: no answer on COM%1 (%2)")
                                        .arg(m_portIndex + 1)
                                        .arg(m_portPath);
            emit sigLinkWarning(QStringLiteral("The I/O board does not answer on COM%1. "
                                               "The machine signals are not available.")
                                    .arg(m_portIndex + 1));
        }
    } else if (m_silenceReported) {
        m_silenceReported = false;
        qInfo().noquote() << QStringLiteral("I/O board: answering again on COM%1").arg(m_portIndex + 1);
    }
    if (now - m_noiseWindowStart > std::chrono::seconds(60)) {
        if (m_skippedBytes > 0) {
            qWarning().noquote() << QStringLiteral("I/O board: %1 bytes of line noise skipped in the last minute")
                                        .arg(m_skippedBytes);
        }
        m_skippedBytes = 0;
        m_noiseWindowStart = now;
    }
}

void IOThread::run()
{
    gPollCount = 0;
    gBoardValueIndex = kBoardValueCount;
    m_receiveFill = 0;
    m_heartbeat.store(secondsNow());
    m_nextOpenAttempt = Clock::now();
    m_noiseWindowStart = Clock::now();

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
            // The board was not asked meanwhile; its silence is no fault.
            m_lastAnswer = Clock::now();
            continue;
        }

        if (!gpSerialPort) {
            if (start >= m_nextOpenAttempt) {
                m_nextOpenAttempt = start + std::chrono::milliseconds(kReopenIntervalMs);
                tryOpenPort();
            }
            if (!gpSerialPort) {
                pauseUntil(start + std::chrono::milliseconds(kIdleSleepMs), false);
                continue;
            }
        }

        int wanted;
        {
            QMutexLocker lock(ioMutex());
            wanted = gOutputWord;
        }

        const int n = readIntoStaging();
        if (n < 0) {
            dropPort(portFault(gpSerialPort));
            continue;
        }
        if (n > 0) {
            const int fit = qMin(n, kIoBufferSize - m_receiveFill);
            std::memcpy(m_receive + m_receiveFill, m_staging, static_cast<size_t>(fit));
            m_receiveFill += fit;
            bool sendOutputs = false;
            parseReceived(wanted, &sendOutputs);
            if (sendOutputs && !send(CmdSetOutputs, wanted)) {
                continue;
            }
        }
        checkBoardAnswers(Clock::now());

        ++gPollCount;
        int command = CmdPoll;
        if (gPollCount == 200) {
            gBoardValueIndex = 0;
            command = CmdReadValues1;
        } else if (gPollCount == 210) {
            gBoardValueIndex = kValueBlock;
            gPollCount = 0;
            command = CmdReadValues2;
        }
        if (!send(command, 0)) {
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
            QMutexLocker lock(ioMutex());
            last = gOutputWord;
        }
        sendControlFrame(CmdSetOutputs, last);
        gpSerialPort->waitForBytesWritten(50);
        closeControlPort();
        m_portOpen.store(false);
    }
}
