#include "boardsimulator.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr unsigned char kHeader = 0x5F;
constexpr unsigned char kTrailer = 0xF5;

unsigned char sum8(const unsigned char* p, int n)
{
    unsigned int s = 0;
    for (int i = 0; i < n; ++i) {
        s += p[i];
    }
    return static_cast<unsigned char>(s);
}

} // namespace

BoardSimulator::BoardSimulator()
{
    if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_wakePipe[0] = m_wakePipe[1] = -1;
    }
    if (openTerminal()) {
        startThread();
    }
}

BoardSimulator::~BoardSimulator()
{
    stopThread();
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
    }
    closeTerminal();
    for (int& fd : m_wakePipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

qint64 BoardSimulator::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool BoardSimulator::openTerminal()
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    // Holding the slave end open keeps the terminal and its raw settings alive
    // between the host's opens, as a real port would be.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return false;
    }
    struct termios tio;
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    m_parse.clear();
    return true;
}

void BoardSimulator::closeTerminal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    m_slavePath.clear();
    m_pendingRest.clear();
    m_heldReply.clear();
}

void BoardSimulator::startThread()
{
    m_stop.store(false);
    m_thread = std::thread([this] { loop(); });
}

void BoardSimulator::stopThread()
{
    if (!m_thread.joinable()) {
        return;
    }
    m_stop.store(true);
    if (m_wakePipe[1] >= 0) {
        const char c = 'x';
        [[maybe_unused]] const ssize_t w = ::write(m_wakePipe[1], &c, 1);
    }
    m_thread.join();
    if (m_wakePipe[0] >= 0) {
        char drain[16];
        while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
        }
    }
}

void BoardSimulator::loop()
{
    unsigned char buf[512];
    while (!m_stop.load()) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        const int ready = ::poll(fds, m_wakePipe[0] >= 0 ? 2 : 1, m_wakePipe[0] >= 0 ? -1 : 10);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) {
                consume(buf, static_cast<int>(n), nowNs());
                continue;
            }
        }
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Nobody holds the other end for a moment; wait for the next open.
            ::usleep(1000);
        }
    }
}

void BoardSimulator::consume(const unsigned char* data, int n, qint64 atNs)
{
    QVector<HostFrame> fresh;
    std::function<void(const HostFrame&)> observer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.append(reinterpret_cast<const char*>(data), n);
        m_parse.append(reinterpret_cast<const char*>(data), n);
        int pos = 0;
        while (m_parse.size() - pos >= 6) {
            const auto* p = reinterpret_cast<const unsigned char*>(m_parse.constData()) + pos;
            if (p[0] == kHeader && p[5] == kTrailer && sum8(p, 4) == p[4]) {
                HostFrame frame;
                frame.atNs = atNs;
                for (int i = 0; i < 6; ++i) {
                    frame.bytes[i] = p[i];
                }
                m_frames.append(frame);
                fresh.append(frame);
                answer(frame);
                pos += 6;
            } else {
                ++m_garbage;
                ++pos;
            }
        }
        m_parse.remove(0, pos);
        observer = m_observer;
    }
    if (observer) {
        for (const HostFrame& f : qAsConst(fresh)) {
            observer(f);
        }
    }
}

void BoardSimulator::answer(const HostFrame& frame)
{
    switch (frame.command()) {
    case 1:
        m_outputValue = frame.value();
        if (m_ackOutputs && !m_silent) {
            writeOut(boardFrame(1, frame.bytes[2], frame.bytes[3], 0, 0));
        }
        return;
    case 2: {
        if (m_silent) {
            return;
        }
        int junk = 0;
        if (m_junk) {
            m_junkState ^= m_junkState << 13;
            m_junkState ^= m_junkState >> 17;
            m_junkState ^= m_junkState << 5;
            junk = static_cast<int>(m_junkState & 0xFFFFu);
        }
        const int driven = m_outputValue < 0 ? 0 : m_outputValue;
        const int echo = ((driven & ~m_stuckMask) | (m_stuckLevels & m_stuckMask)) & 0x3FF;
        QByteArray reply = pollReply(m_inputs, echo, junk);
        if (m_corruptNext) {
            m_corruptNext = false;
            reply[6] = static_cast<char>(reply.at(6) ^ 0x5A);
        }
        QByteArray out = m_noise + m_pendingRest;
        m_noise.clear();
        m_pendingRest.clear();
        if (m_doubleNext) {
            m_doubleNext = false;
            m_heldReply = reply;
        } else {
            reply.prepend(m_heldReply);
            m_heldReply.clear();
            if (m_splitBytes > 0) {
                out += reply.left(m_splitBytes);
                m_pendingRest = reply.mid(m_splitBytes);
                m_splitBytes = 0;
            } else {
                out += reply;
            }
        }
        writeOut(out);
        return;
    }
    case 3:
    case 4: {
        if (m_silent) {
            return;
        }
        QByteArray out;
        for (int i = 0; i < m_valueReplies; ++i) {
            const quint32 v = static_cast<quint32>(boardValue(frame.command(), i));
            out += boardFrame(frame.command(), v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, (v >> 24) & 0xFF);
        }
        writeOut(out);
        return;
    }
    default:
        return;
    }
}

void BoardSimulator::writeOut(const QByteArray& bytes)
{
    int done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += static_cast<int>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;  // nobody reads: the rest is lost on the line
        }
    }
}

QByteArray BoardSimulator::boardFrame(int command, int d0, int d1, int d2, int d3, bool badSum)
{
    unsigned char f[8] = {kHeader,
                          static_cast<unsigned char>(command),
                          static_cast<unsigned char>(d0),
                          static_cast<unsigned char>(d1),
                          static_cast<unsigned char>(d2),
                          static_cast<unsigned char>(d3),
                          0,
                          kTrailer};
    f[6] = static_cast<unsigned char>(sum8(f, 6) + (badSum ? 1 : 0));
    return QByteArray(reinterpret_cast<const char*>(f), 8);
}

QByteArray BoardSimulator::pollReply(int inputs, int echo, int junk)
{
    return boardFrame(2, inputs & 0xFF, ((inputs >> 8) & 3) | (junk & 0xFC), echo & 0xFF,
                      ((echo >> 8) & 3) | ((junk >> 8) & 0xFC));
}

qint32 BoardSimulator::boardValue(int command, int reply)
{
    // Distinct per command and reply, negative for command 3 so the sign is checked too.
    const qint32 magnitude = 0x01020304 + reply * 0x00110011;
    return command == 3 ? -magnitude : magnitude;
}

bool BoardSimulator::isPlugged() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_master >= 0;
}

QString BoardSimulator::slavePath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slavePath;
}

bool BoardSimulator::linkAs(const QString& linkPath)
{
    const QString target = slavePath();
    const QString link = QFileInfo(linkPath).absoluteFilePath();
    const QFileInfo existing(link);
    if (existing.exists() || existing.isSymLink()) {
        QFile::remove(link);
    }
    m_linkPath = link;
    return !target.isEmpty() && QFile::link(target, link);
}

void BoardSimulator::unplug()
{
    stopThread();
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
    }
    closeTerminal();
}

bool BoardSimulator::plugIn()
{
    if (isPlugged()) {
        return true;
    }
    if (!openTerminal()) {
        return false;
    }
    startThread();
    return m_linkPath.isEmpty() || linkAs(m_linkPath);
}

void BoardSimulator::setInputs(int word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inputs = word & 0x3FF;
}

void BoardSimulator::setInput(int bit, bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (on) {
        m_inputs |= 1 << bit;
    } else {
        m_inputs &= ~(1 << bit);
    }
    m_inputs &= 0x3FF;
}

int BoardSimulator::inputs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inputs;
}

int BoardSimulator::lastOutputValue() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputValue;
}

void BoardSimulator::setJunkBits(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_junk = on;
}

void BoardSimulator::setValueReplyCount(int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_valueReplies = count;
}

void BoardSimulator::setAcknowledgeOutputs(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ackOutputs = on;
}

void BoardSimulator::setSilent(bool silent)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent = silent;
}

void BoardSimulator::setStuckOutputs(int mask, int levels)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stuckMask = mask & 0x3FF;
    m_stuckLevels = levels & 0x3FF;
}

void BoardSimulator::injectNoise(const QByteArray& bytes)
{
    // Copied, not shared: the caller's copy must not meet the simulator's
    // thread through Qt's reference count, which the thread checker cannot see.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_noise.append(bytes.constData(), bytes.size());
}

void BoardSimulator::splitNextReply(int firstBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_splitBytes = firstBytes;
}

void BoardSimulator::doubleNextReply()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_doubleNext = true;
}

void BoardSimulator::corruptNextReply()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_corruptNext = true;
}

void BoardSimulator::sendRaw(const QByteArray& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    writeOut(bytes);
}

QVector<BoardSimulator::HostFrame> BoardSimulator::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QVector<HostFrame>(m_frames.cbegin(), m_frames.cend());  // a copy of its own, as above
}

int BoardSimulator::frameCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

int BoardSimulator::countCommand(int command, int n) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int end = n < 0 ? m_frames.size() : qMin(n, m_frames.size());
    int count = 0;
    for (int i = 0; i < end; ++i) {
        if (m_frames.at(i).command() == command) {
            ++count;
        }
    }
    return count;
}

long BoardSimulator::garbageBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_garbage;
}

QByteArray BoardSimulator::receivedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QByteArray(m_received.constData(), m_received.size());  // a copy of its own, as above
}

void BoardSimulator::clearRecord()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
    m_received.clear();
    m_garbage = 0;
}

void BoardSimulator::setFrameObserver(std::function<void(const HostFrame&)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}
