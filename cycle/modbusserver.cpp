#include "modbusserver.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <sys/socket.h>

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
constexpr qint64 MaxPendingReplyBytes = 256 * 1024;
constexpr qint64 ReadBufferSize = 64 * 1024;
constexpr int KernelSendBuffer = 64 * 1024;
constexpr int MaxRepliesPerSend = 16 * 1024;

quint16 be16(const uchar* p)
{
    return static_cast<quint16>((p[0] << 8) | p[1]);
}

} // namespace

// One client connection: its socket and its own receive buffer. Lives on the
// server thread; deleted (with its socket) once the connection is gone.
class ModbusSession : public QObject {
public:
    ModbusSession(ModbusServer* server, QTcpSocket* socket, QObject* parent)
        : QObject(parent)
        , m_server(server)
        , m_socket(socket)
        , m_peer(QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()))
    {
        socket->setParent(this);
        socket->setReadBufferSize(ReadBufferSize);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        // A few replies in flight is all a Modbus client needs; a fixed kernel
        // buffer keeps what one slow client can tie up small.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, KernelSendBuffer);
        m_quiet.start();
        connect(socket, &QTcpSocket::readyRead, this, [this] { handleRequest(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        connect(socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
            if (state == QAbstractSocket::UnconnectedState) {
                finish();
            }
        });
    }

    const QString& peer() const { return m_peer; }
    qint64 quietMs() const { return m_quiet.elapsed(); }
    void abort() { m_socket->abort(); finish(); }

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
            const qint64 n = m_socket->read(chunk, sizeof chunk);
            if (n <= 0) {
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
                if (!m_finished && m_socket->bytesToWrite() > MaxPendingReplyBytes) {
                    break;
                }
            }
            if (m_finished || n < qint64(sizeof chunk)) {
                break;
            }
        }
        if (!m_finished && !replies.isEmpty()) {
            sendReplies(replies.constData(), replies.size());
        }
        if (!m_finished && m_socket->bytesToWrite() > MaxPendingReplyBytes) {
            complainOnce(QStringLiteral("does not read its replies; connection closed"));
            abort();
        }
    }

    // A reply goes to the kernel at once, straight from here: going through
    // the socket's write buffer would cost a write notification and a second
    // pass of the event loop for every request. Only what the kernel cannot
    // take now waits in that buffer, and then everything after it does too.
    void sendReplies(const char* data, int size)
    {
        qint64 sent = 0;
        if (m_socket->bytesToWrite() == 0) {
            const ssize_t n = ::send(static_cast<int>(m_socket->socketDescriptor()), data, static_cast<size_t>(size),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                m_socket->abort();
                finish();
                return;
            }
            sent = qMax<ssize_t>(n, 0);
        }
        if (sent < size) {
            m_socket->write(data + sent, size - sent);
        }
    }

    void finish()
    {
        if (m_finished) {
            return;
        }
        m_finished = true;
        m_buffer.clear();
        m_server->forgetSession(this);
        deleteLater();
    }

    ModbusServer* m_server;
    QTcpSocket* m_socket;
    QString m_peer;
    QByteArray m_buffer;
    QElapsedTimer m_quiet;
    QElapsedTimer m_partialSince;
    bool m_complained = false;
    bool m_finished = false;
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
    auto server = std::make_shared<QTcpServer>();
    connect(server.get(), &QTcpServer::newConnection, server.get(), [this] { onNewConnection(); });
    if (!server->listen(m_address, m_port)) {
        return false;
    }
    tcpServer_ = server;
    m_boundPort = tcpServer_->serverPort();
    m_listening = true;
    return true;
}

void ModbusServer::onNewConnection()
{
    while (QTcpSocket* socket = tcpServer_->nextPendingConnection()) {
        qDebug().noquote() << QStringLiteral("connect ip: %1, port:%2")
                                  .arg(socket->peerAddress().toString())
                                  .arg(socket->peerPort());
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
        m_sessions.append(new ModbusSession(this, socket, tcpServer_.get()));
    }
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
