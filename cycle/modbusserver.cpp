#include "modbusserver.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// MBAP header: transaction id, protocol id, length, unit id.
constexpr int MbapSize = 7;
// The length field counts the unit id and the PDU; a PDU is at most 253 bytes.
constexpr int MinLength = 2;
constexpr int MaxLength = 254;
constexpr int MaxReadQuantity = 125;
constexpr int MaxWriteQuantity = 123;
constexpr quint8 ServedUnit = 1;
constexpr quint8 ReadHoldingRegisters = 3;
constexpr quint8 WriteMultipleRegisters = 16;
// Replies waiting for a client that does not read them; past this the client
// is dropped instead of growing our memory.
constexpr int MaxPendingReplyBytes = 256 * 1024;
constexpr int KernelSendBuffer = 64 * 1024;
constexpr int MaxRepliesPerSend = 16 * 1024;

quint16 be16(const uchar* p)
{
    return static_cast<quint16>((p[0] << 8) | p[1]);
}

} // namespace

// One client connection: its socket and its own receive buffer. Lives on the
// server thread; deleted once the connection is gone. It works on the bare
// descriptor: one recv per request and replies sent straight to the kernel,
// where a QTcpSocket would add a buffer copy and further system calls to
// every request of a client that polls as fast as it can.
class ModbusSession : public QObject {
public:
    ModbusSession(ModbusServer* server, int fd, QObject* parent)
        : QObject(parent)
        , m_server(server)
        , m_fd(fd)
        , m_readNotifier(fd, QSocketNotifier::Read, this)
        , m_writeNotifier(fd, QSocketNotifier::Write, this)
    {
        const int flags = ::fcntl(fd, F_GETFL, 0);
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        // A few replies in flight is all a Modbus client needs; a fixed kernel
        // buffer keeps what one slow client can tie up small.
        const int sendBuffer = KernelSendBuffer;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        m_peer = peerName(fd);
        m_quiet.start();
        m_writeNotifier.setEnabled(false);
        connect(&m_readNotifier, &QSocketNotifier::activated, this, [this] { handleRequest(); });
        connect(&m_writeNotifier, &QSocketNotifier::activated, this, [this] { flushPending(); });
    }

    ~ModbusSession() override { closeSocket(); }

    const QString& peer() const { return m_peer; }
    qint64 quietMs() const { return m_quiet.elapsed(); }
    void abort() { finish(); }

    // Each complaint about a client is logged once per connection: a client
    // that keeps sending rubbish must not fill the disk with our logs.
    void complainOnce(const QString& what)
    {
        if (!m_complained) {
            m_complained = true;
            qWarning().noquote() << "modbus:" << m_peer << what << "(further faults of this connection not logged)";
        }
    }

private:
    static QString peerName(int fd)
    {
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            return QStringLiteral("?");
        }
        QHostAddress host(reinterpret_cast<const sockaddr*>(&address));
        bool v4 = false;
        const quint32 ipv4 = host.toIPv4Address(&v4);
        if (v4) {
            host = QHostAddress(ipv4);  // a client on IPv4 reads as such, not as a mapped IPv6 address
        }
        quint16 port = 0;
        if (address.ss_family == AF_INET) {
            port = ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
        } else if (address.ss_family == AF_INET6) {
            port = ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
        }
        return QStringLiteral("%1:%2").arg(host.toString()).arg(port);
    }

    void handleRequest()
    {
        if (m_finished) {
            return;
        }
        m_quiet.restart();
        if (!m_buffer.isEmpty() && m_partialSince.elapsed() > ModbusServer::StalePartialMs) {
            complainOnce(QStringLiteral("left a request unfinished; dropped"));
            m_buffer.clear();
        }
        ModbusServer::Replies replies;
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n == 0) {
                finish();  // the client closed its side
                return;
            }
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    finish();
                    return;
                }
                break;
            }
            const int size = static_cast<int>(n);
            if (m_buffer.isEmpty()) {
                // The usual case: whole requests, answered from where they lie.
                const int consumed = m_server->processFrames(chunk, size, replies, *this);
                if (consumed < size) {
                    m_buffer.append(chunk + consumed, size - consumed);
                    m_partialSince.start();  // a new request has begun to arrive
                }
            } else {
                m_buffer.append(chunk, size);
                const int consumed = m_server->processFrames(m_buffer.constData(), m_buffer.size(), replies, *this);
                if (consumed > 0) {
                    m_buffer.remove(0, consumed);
                    if (!m_buffer.isEmpty()) {
                        m_partialSince.start();
                    }
                }
            }
            if (replies.size() >= MaxRepliesPerSend) {
                sendReplies(replies.constData(), replies.size());
                replies.clear();
            }
            if (m_finished || m_pending.size() > MaxPendingReplyBytes || n < ssize_t(sizeof chunk)) {
                break;
            }
        }
        if (!m_finished && !replies.isEmpty()) {
            sendReplies(replies.constData(), replies.size());
        }
        if (!m_finished && m_pending.size() > MaxPendingReplyBytes) {
            complainOnce(QStringLiteral("does not read its replies; connection closed"));
            finish();
        }
    }

    // A reply goes to the kernel at once. Only what the kernel cannot take now
    // waits, and then everything after it waits too, to keep the order.
    void sendReplies(const char* data, int size)
    {
        if (!m_pending.isEmpty()) {
            m_pending.append(data, size);
            return;
        }
        const ssize_t n = sendSome(data, size);
        if (n < 0) {
            return;
        }
        if (n < size) {
            m_pending.append(data + n, size - int(n));
            m_writeNotifier.setEnabled(true);
        }
    }

    void flushPending()
    {
        if (m_finished || m_pending.isEmpty()) {
            m_writeNotifier.setEnabled(false);
            return;
        }
        const ssize_t n = sendSome(m_pending.constData(), m_pending.size());
        if (n < 0) {
            return;
        }
        m_pending.remove(0, int(n));
        if (m_pending.isEmpty()) {
            m_writeNotifier.setEnabled(false);
        }
    }

    // Bytes the kernel took, or -1 after a failure that ended the connection.
    ssize_t sendSome(const char* data, int size)
    {
        for (;;) {
            const ssize_t n = ::send(m_fd, data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) {
                return n;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return 0;
            }
            finish();
            return -1;
        }
    }

    void closeSocket()
    {
        if (m_fd >= 0) {
            m_readNotifier.setEnabled(false);
            m_writeNotifier.setEnabled(false);
            ::close(m_fd);
            m_fd = -1;
        }
    }

    void finish()
    {
        if (m_finished) {
            return;
        }
        m_finished = true;
        closeSocket();
        m_buffer.clear();
        m_pending.clear();
        m_server->forgetSession(this);
        deleteLater();
    }

    ModbusServer* m_server;
    int m_fd;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    QString m_peer;
    QByteArray m_buffer;
    QByteArray m_pending;
    QElapsedTimer m_quiet;
    QElapsedTimer m_partialSince;
    bool m_complained = false;
    bool m_finished = false;
};

// Hands accepted descriptors to the server instead of wrapping them in
// QTcpSockets.
class ModbusListener : public QTcpServer {
public:
    explicit ModbusListener(std::function<void(qintptr)> onConnection)
        : m_onConnection(std::move(onConnection))
    {
    }

protected:
    void incomingConnection(qintptr fd) override { m_onConnection(fd); }

private:
    std::function<void(qintptr)> m_onConnection;
};

ModbusServer::ModbusServer(quint16 port, const QHostAddress& address, QObject* parent)
    : QObject(parent)
    , m_address(address)
    , m_port(port)
    , socketThreadPool_(std::make_shared<QThreadPool>())
    , m_readData(TableSize, 0)
    , m_writeData(TableSize, 0)
{
    qRegisterMetaType<QList<int>>("QList<int>");
    socketThreadPool_->setMaxThreadCount(1);
    stop();
    m_threadRunning = true;
    QtConcurrent::run(socketThreadPool_.get(), [this] { serverThreadMain(); });
    m_triedToListen.acquire();
}

ModbusServer::~ModbusServer()
{
    stop();
}

void ModbusServer::stop()
{
    if (!m_threadRunning.exchange(false)) {
        return;
    }
    emit readyToClose();
    if (!socketThreadPool_->waitForDone()) {
        qInfo() << "socketThreadPool_->waitForDone error!";
    }
}

void ModbusServer::serverThreadMain()
{
    QEventLoop loop;
    connect(this, &ModbusServer::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);

    // A restarted program can come up while its predecessor still holds the
    // port: keep trying instead of running without Modbus until the next start.
    QTimer retry;
    retry.setInterval(ListenRetryMs);
    connect(&retry, &QTimer::timeout, &retry, [this, &retry] {
        if (startListening()) {
            qInfo() << "modbus: listening on port" << m_boundPort.load();
            retry.stop();
        }
    });
    if (!startListening()) {
        qWarning() << "modbus: cannot listen on" << m_address.toString() << "port" << m_port
                   << "; trying again every" << ListenRetryMs << "ms";
        retry.start();
    }
    m_triedToListen.release();

    loop.exec();

    retry.stop();
    const QList<ModbusSession*> sessions = m_sessions;
    for (ModbusSession* session : sessions) {
        session->abort();
    }
    m_sessions.clear();
    m_listening = false;
    // Sessions not yet deleted are children of the server and go with it.
    tcpServer_.reset();
}

bool ModbusServer::startListening()
{
    auto server = std::make_shared<ModbusListener>([this](qintptr fd) { onNewConnection(int(fd)); });
    if (!server->listen(m_address, m_port)) {
        return false;
    }
    tcpServer_ = server;
    m_boundPort = tcpServer_->serverPort();
    m_listening = true;
    return true;
}

void ModbusServer::onNewConnection(int fd)
{
    if (m_sessions.size() >= MaxConnections) {
        ModbusSession* quietest = m_sessions.first();
        for (ModbusSession* s : qAsConst(m_sessions)) {
            if (s->quietMs() > quietest->quietMs()) {
                quietest = s;
            }
        }
        // A burst of connections must not become a burst of log lines.
        ++m_evictions;
        if (!m_evictionLog.isValid() || m_evictionLog.elapsed() > EvictionLogIntervalMs) {
            qWarning().noquote() << "modbus:" << MaxConnections << "connections open; closing the quietest,"
                                 << quietest->peer() << QStringLiteral("(%1 closed so)").arg(m_evictions);
            m_evictions = 0;
            m_evictionLog.start();
        }
        quietest->abort();
    }
    auto* session = new ModbusSession(this, fd, tcpServer_.get());
    qDebug().noquote() << "connect" << session->peer();
    m_sessions.append(session);
}

void ModbusServer::forgetSession(ModbusSession* session)
{
    m_sessions.removeOne(session);
}

int ModbusServer::processFrames(const char* bytes, int size, Replies& replies, ModbusSession& session)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes);
    int pos = 0;
    while (size - pos >= MbapSize) {
        const uchar* frame = data + pos;
        const int length = be16(frame + 4);
        if (length < MinLength || length > MaxLength) {
            // No length to go by: the rest of the stream cannot be framed.
            session.complainOnce(QStringLiteral("sent data that is not Modbus TCP (length %1); dropped").arg(length));
            pos = size;
            break;
        }
        if (size - pos < 6 + length) {
            break;  // the rest of this request is still on its way
        }
        pos += 6 + length;
        if (be16(frame + 2) != 0 || frame[6] != ServedUnit) {
            continue;  // another protocol or unit: not ours to answer
        }
        switch (frame[7]) {
        case ReadHoldingRegisters:
            answerRead(frame, length, replies, session);
            break;
        case WriteMultipleRegisters:
            answerWrite(frame, length, replies, session);
            break;
        default:
            break;
        }
    }
    return pos;
}

void ModbusServer::answerRead(const uchar* frame, int length, Replies& replies, ModbusSession& session)
{
    // Unit, function, start, quantity.
    if (length != 6) {
        session.complainOnce(QStringLiteral("sent a read request of length %1; dropped").arg(length));
        return;
    }
    const int start = be16(frame + 8);
    const int quantity = be16(frame + 10);
    if (quantity < 1 || quantity > MaxReadQuantity || start >= TableSize) {
        session.complainOnce(QStringLiteral("asked to read %1 registers from %2; dropped").arg(quantity).arg(start));
        return;
    }
    // A read running past the table is answered with the registers up to its end.
    const int count = qMin(quantity, TableSize - start);
    const int byteCount = 2 * count;
    uchar out[MbapSize + 2 + 2 * MaxReadQuantity];
    memcpy(out, frame, 4);  // transaction and protocol id
    out[4] = 0;
    out[5] = static_cast<uchar>(3 + byteCount);
    out[6] = ServedUnit;
    out[7] = ReadHoldingRegisters;
    out[8] = static_cast<uchar>(byteCount);
    uchar* p = out + 9;
    {
        QMutexLocker lock(&m_tableMutex);
        const quint16* table = m_readData.constData() + start;
        for (int i = 0; i < count; ++i) {
            *p++ = static_cast<uchar>(table[i] >> 8);
            *p++ = static_cast<uchar>(table[i] & 0xFF);
        }
    }
    replies.append(reinterpret_cast<const char*>(out), MbapSize + 2 + byteCount);
}

void ModbusServer::answerWrite(const uchar* frame, int length, Replies& replies, ModbusSession& session)
{
    // Unit, function, start, quantity, byte count, then the values.
    if (length < 7) {
        session.complainOnce(QStringLiteral("sent a write request of length %1; dropped").arg(length));
        return;
    }
    const int start = be16(frame + 8);
    const int quantity = be16(frame + 10);
    const int byteCount = frame[12];
    if (quantity < 1 || quantity > MaxWriteQuantity || byteCount != 2 * quantity || length != 7 + byteCount) {
        session.complainOnce(QStringLiteral("sent a malformed write of %1 registers; dropped").arg(quantity));
        return;
    }
    if (start + quantity > TableSize) {
        // Writing only a part and acknowledging the whole would lie to the client.
        session.complainOnce(QStringLiteral("asked to write %1 registers from %2; dropped").arg(quantity).arg(start));
        return;
    }

    QList<int> written;
    written.reserve(quantity);
    QStringList values;
    const uchar* p = frame + 13;
    {
        QMutexLocker lock(&m_tableMutex);
        for (int i = 0; i < quantity; ++i, p += 2) {
            m_writeData[start + i] = be16(p);
            written.append(start + i);
        }
    }
    p = frame + 13;
    for (int i = 0; i < quantity && i < 8; ++i, p += 2) {
        values.append(QString::number(be16(p)));
    }
    if (quantity > 8) {
        values.append(QStringLiteral("..."));
    }
    qInfo().noquote() << QStringLiteral("modbus: write from %1: %2 register(s) from %3: %4")
                             .arg(session.peer())
                             .arg(quantity)
                             .arg(start)
                             .arg(values.join(QLatin1Char(' ')));

    const char ack[12] = {static_cast<char>(frame[0]), static_cast<char>(frame[1]), static_cast<char>(frame[2]),
                          static_cast<char>(frame[3]), 0, 6, static_cast<char>(ServedUnit),
                          static_cast<char>(WriteMultipleRegisters), static_cast<char>(frame[8]),
                          static_cast<char>(frame[9]), static_cast<char>(frame[10]), static_cast<char>(frame[11])};
    replies.append(ack, sizeof ack);

    emit sigWriteChange(written);
}

void ModbusServer::setReadData(int index, quint16 value)
{
    if (index < 0 || index >= TableSize) {
        return;
    }
    QMutexLocker lock(&m_tableMutex);
    m_readData[index] = value;
}

void ModbusServer::setReadData(int start, const QVector<quint16>& values)
{
    QMutexLocker lock(&m_tableMutex);
    for (int i = 0; i < values.size(); ++i) {
        const int index = start + i;
        if (index >= TableSize) {
            break;
        }
        if (index >= 0) {
            m_readData[index] = values.at(i);
        }
    }
}

void ModbusServer::getWriteData(int index, quint16* out) const
{
    if (index < 0 || index >= TableSize || !out) {
        return;
    }
    QMutexLocker lock(&m_tableMutex);
    *out = m_writeData.at(index);
}

quint16 ModbusServer::readData(int index) const
{
    if (index < 0 || index >= TableSize) {
        return 0;
    }
    QMutexLocker lock(&m_tableMutex);
    return m_readData.at(index);
}
