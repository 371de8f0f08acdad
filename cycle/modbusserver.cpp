#include "modbusserver.h"

#include "systemclock.h"

#include <QAbstractEventDispatcher>
#include <QDebug>
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

// Replies waiting for a client that does not read them; past this the client
// is dropped instead of growing our memory.
constexpr int MaxPendingReplyBytes = 256 * 1024;
constexpr int KernelSendBuffer = 64 * 1024;
constexpr int MaxRepliesPerSend = 16 * 1024;

} // namespace

// One client connection: its socket and its own request stream. Lives on the
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
        , m_stream(clockMonotonicMs())
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
        m_writeNotifier.setEnabled(false);
        connect(&m_readNotifier, &QSocketNotifier::activated, this, [this] { handleReadable(); });
        connect(&m_writeNotifier, &QSocketNotifier::activated, this, [this] { flushPending(); });
    }

    ~ModbusSession() override { closeSocket(); }

    const QString& peer() const { return m_peer; }
    ModbusPeer state() const { return {m_stream.requests(), m_stream.lastHeardMs()}; }
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

    // One readiness event. The stream reads a bounded number of chunks, so a
    // client that never stops sending leaves the thread to the others in turn;
    // the notifier fires again for what it left.
    void handleReadable()
    {
        if (m_finished) {
            return;
        }
        ModbusReplies replies;
        const ModbusRequestStream::End end = m_stream.serve(
            clockMonotonicMs(), m_server->m_tables, replies,
            [this](char* into, int capacity) { return receiveSome(into, capacity); },
            [this](const ModbusFraming& framing, ModbusReplies& pass) {
                m_server->report(*this, framing);
                if (pass.size() >= MaxRepliesPerSend) {
                    sendReplies(pass.constData(), pass.size());
                    pass.clear();
                }
                return !m_finished && m_pending.size() <= MaxPendingReplyBytes;
            });
        if (end == ModbusRequestStream::End::Closed || end == ModbusRequestStream::End::Failed) {
            finish();
            return;
        }
        if (!m_finished && !replies.isEmpty()) {
            sendReplies(replies.constData(), replies.size());
        }
        if (!m_finished && m_pending.size() > MaxPendingReplyBytes) {
            complainOnce(QStringLiteral("does not read its replies; connection closed"));
            finish();
        }
    }

    int receiveSome(char* into, int capacity)
    {
        for (;;) {
            const ssize_t n = ::recv(m_fd, into, static_cast<size_t>(capacity), 0);
            if (n >= 0) {
                return static_cast<int>(n);
            }
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK ? ModbusRequestStream::ReadWouldBlock
                                                           : ModbusRequestStream::ReadFailed;
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
        m_stream.clear();
        m_pending.clear();
        m_server->forgetSession(this);
        deleteLater();
    }

    ModbusServer* m_server;
    int m_fd;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    QString m_peer;
    ModbusRequestStream m_stream;
    QByteArray m_pending;
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
{
    qRegisterMetaType<QList<int>>("QList<int>");
    socketThreadPool_->setMaxThreadCount(1);
    connect(this, &ModbusServer::readyToClose, this, &ModbusServer::requestEnd, Qt::DirectConnection);
    stop();
    m_threadRunning = true;
    QtConcurrent::run(socketThreadPool_.get(), [this] { serverThreadMain(); });
    std::unique_lock<std::mutex> lock(m_threadMutex);
    m_threadChanged.wait(lock, [this] { return m_triedToListen; });
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
    std::unique_lock<std::mutex> lock(m_threadMutex);
    m_threadChanged.wait(lock, [this] { return m_threadDone; });
}

void ModbusServer::requestEnd()
{
    m_endRequested = true;
    std::lock_guard<std::mutex> lock(m_threadMutex);
    if (m_dispatcher) {
        m_dispatcher->wakeUp();
    }
}

void ModbusServer::serverThreadMain()
{
    QEventLoop loop;
    // Each pass of the loop tells the dispatcher's signals (which of them
    // depends on the dispatcher): the end is seen at the latest on the pass
    // after the wake-up. A quit before the loop would block wakes it again.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    const auto endIfAsked = [this, &loop] {
        if (m_endRequested) {
            loop.quit();
        }
    };
    connect(dispatcher, &QAbstractEventDispatcher::awake, &loop, endIfAsked);
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop, endIfAsked);

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
    {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        m_dispatcher = dispatcher;
        m_triedToListen = true;
        m_threadChanged.notify_all();
    }

    if (!m_endRequested) {
        loop.exec();
    }

    retry.stop();
    const QList<ModbusSession*> sessions = m_sessions;
    for (ModbusSession* session : sessions) {
        session->abort();
    }
    m_sessions.clear();
    m_listening = false;
    // Sessions not yet deleted are children of the server and go with it.
    tcpServer_.reset();

    std::lock_guard<std::mutex> lock(m_threadMutex);
    m_dispatcher = nullptr;
    m_threadDone = true;
    m_threadChanged.notify_all();
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
        QVector<ModbusPeer> peers;
        peers.reserve(m_sessions.size());
        for (const ModbusSession* s : qAsConst(m_sessions)) {
            peers.append(s->state());
        }
        ModbusSession* evicted = m_sessions.at(chooseModbusEviction(peers));
        // A burst of connections must not become a burst of log lines.
        ++m_evictions;
        const qint64 now = clockMonotonicMs();
        if (!m_evictionLogged || now - m_evictionLoggedMs > EvictionLogIntervalMs) {
            qWarning().noquote() << "modbus:" << MaxConnections << "connections open; closing the quietest,"
                                 << evicted->peer() << QStringLiteral("(%1 closed so)").arg(m_evictions);
            m_evictions = 0;
            m_evictionLogged = true;
            m_evictionLoggedMs = now;
        }
        evicted->abort();
    }
    auto* session = new ModbusSession(this, fd, tcpServer_.get());
    qDebug().noquote() << "connect" << session->peer();
    m_sessions.append(session);
}

void ModbusServer::forgetSession(ModbusSession* session)
{
    m_sessions.removeOne(session);
}

void ModbusServer::report(ModbusSession& session, const ModbusFraming& framing)
{
    if (framing.fault.kind != ModbusFault::None) {
        session.complainOnce(modbusFaultText(framing.fault));
    }
    for (const ModbusWrite& write : framing.writes) {
        QStringList values;
        for (int i = 0; i < write.count && i < ModbusWrite::Logged; ++i) {
            values.append(QString::number(write.values[i]));
        }
        if (write.count > ModbusWrite::Logged) {
            values.append(QStringLiteral("..."));
        }
        qInfo().noquote() << QStringLiteral("modbus: write from %1: %2 register(s) from %3: %4")
                                 .arg(session.peer())
                                 .arg(write.count)
                                 .arg(write.start)
                                 .arg(values.join(QLatin1Char(' ')));
        QList<int> written;
        written.reserve(write.count);
        for (int i = 0; i < write.count; ++i) {
            written.append(write.start + i);
        }
        emit sigWriteChange(written);
    }
}

void ModbusServer::setReadData(int index, quint16 value)
{
    m_tables.setRead(index, value);
}

void ModbusServer::setReadData(int start, const QVector<quint16>& values)
{
    m_tables.setRead(start, values.constData(), values.size());
}

void ModbusServer::getWriteData(int index, quint16* out) const
{
    m_tables.written(index, out);
}

quint16 ModbusServer::readData(int index) const
{
    return m_tables.read(index);
}
