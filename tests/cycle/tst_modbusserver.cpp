// The Modbus TCP server against a real client (libmodbus) and raw sockets on
// 127.0.0.1, with a port chosen by the system: requests answered on the wire,
// what reaches the log and the GUI thread, and what bad clients cannot do to
// it. Every malformed frame and partial request is tested without sockets in
// tst_modbusframing.
#include "modbusserver.h"
#include "settle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <modbus.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

QByteArray be16(int v)
{
    QByteArray b(2, 0);
    b[0] = static_cast<char>((v >> 8) & 0xFF);
    b[1] = static_cast<char>(v & 0xFF);
    return b;
}

// An MBAP frame whose length field counts the unit and the PDU.
QByteArray frame(int tid, int unit, const QByteArray& pdu, int protocol = 0)
{
    return be16(tid) + be16(protocol) + be16(pdu.size() + 1) + QByteArray(1, static_cast<char>(unit)) + pdu;
}

QByteArray readRequest(int tid, int start, int quantity, int unit = 1)
{
    return frame(tid, unit, QByteArray(1, 3) + be16(start) + be16(quantity));
}

QByteArray writeRequest(int tid, int start, const QList<int>& values, int unit = 1)
{
    QByteArray pdu = QByteArray(1, 16) + be16(start) + be16(values.size()) + QByteArray(1, static_cast<char>(2 * values.size()));
    for (int v : values) {
        pdu += be16(v);
    }
    return frame(tid, unit, pdu);
}

QByteArray writeAck(int tid, int start, int quantity)
{
    return frame(tid, 1, QByteArray(1, 16) + be16(start) + be16(quantity));
}

// The reply to a read of the given registers, from a copy of the table.
QByteArray readReply(int tid, int start, int count, const QVector<quint16>& table)
{
    QByteArray pdu = QByteArray(1, 3) + QByteArray(1, static_cast<char>(2 * count));
    for (int i = start; i < start + count; ++i) {
        pdu += be16(table.at(i));
    }
    return frame(tid, 1, pdu);
}

int openFileDescriptors()
{
    return QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

// A connected socket made the plain way: blocking connect on loopback is
// immediate, where a Qt client's connect now and then waits for a retried SYN.
int connectTo(quint16 port, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return -1;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A plain client socket on the test thread.
class RawClient {
public:
    explicit RawClient(quint16 port)
    {
        const int fd = connectTo(port);
        connected = fd >= 0 && socket.setSocketDescriptor(fd);
    }

    // Sends bytes as a segment of their own.
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(1000)) {
        }
        QTest::qWait(15);
    }

    // Everything received until at least n bytes are there (or the time is up).
    QByteArray receive(int n, int timeoutMs = kSettleMs)
    {
        QElapsedTimer t;
        t.start();
        while (received.size() < n && t.elapsed() < timeoutMs) {
            if (socket.waitForReadyRead(50) || socket.bytesAvailable() > 0) {
                received += socket.readAll();
            }
        }
        QByteArray out = received;
        received.clear();
        return out;
    }

    QTcpSocket socket;
    QByteArray received;
    bool connected = false;
};

struct ModbusClient {
    explicit ModbusClient(quint16 port, int timeoutMs = kSettleMs)
        : ctx(modbus_new_tcp("127.0.0.1", port))
    {
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 0, static_cast<uint32_t>(timeoutMs) * 1000);
        connected = modbus_connect(ctx) == 0;
    }
    ~ModbusClient()
    {
        modbus_close(ctx);
        modbus_free(ctx);
    }
    modbus_t* ctx;
    bool connected = false;
};

constexpr int kProbeTid = 0xBEEF;

} // namespace

namespace {

// Log lines of the server thread, captured for a test to look at.
std::mutex gCapturedMutex;
QStringList gCaptured;
QtMessageHandler gPreviousHandler = nullptr;
void captureMessages(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    {
        std::lock_guard<std::mutex> lock(gCapturedMutex);
        gCaptured.append(msg);
    }
    if (type != QtInfoMsg && gPreviousHandler) {
        gPreviousHandler(type, context, msg);
    }
}
} // namespace

class TestModbusServer : public QObject {
    Q_OBJECT
private slots:
    // The program drops debug output; so do these tests (one line per connection).
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void init();
    void cleanup();

    void standardReadIsAnsweredExactly();
    void libmodbusReadsAndWrites();
    void functionSixGetsNoAnswerAndChangesNothing();
    void malformedRequestsAreDroppedAndTheConnectionLives();
    void eachConnectionHasItsOwnBuffer();
    void thirtyTwoBitValuesNeverTear();
    void writeIsLoggedWithTheClientAddress();
    void thousandsOfConnectionsLeaveNoDescriptor();
    void busyPollerSurvivesABurstOfIdleConnections();
    void floodingClientDoesNotStallOthers();
    void slowReaderGetsEveryReplyInOrder();
    void clientThatNeverReadsIsDropped();
    void busyPortIsTriedAgain();
    void stopClosesConnectionsAndFreesThePort();

private:
    ModbusServer* server = nullptr;
    QList<QList<int>> writes;
    QVector<quint16> table;  // what the test put into the read table
};

void TestModbusServer::init()
{
    server = new ModbusServer(0, QHostAddress::LocalHost);
    QVERIFY(server->isListening());
    QVERIFY(server->serverPort() != 0);
    writes.clear();
    connect(server, &ModbusServer::sigWriteChange, this, [this](QList<int> w) { writes.append(w); });
    table = QVector<quint16>(ModbusServer::TableSize, 0);
    for (int i = 0; i < ModbusServer::TableSize; ++i) {
        table[i] = static_cast<quint16>(i * 131 + 7);
    }
    server->setReadData(0, table);
}

void TestModbusServer::cleanup()
{
    delete server;
    server = nullptr;
}

void TestModbusServer::standardReadIsAnsweredExactly()
{
    server->setReadData(50, QVector<quint16>{0x0102, 0x0304, 0xA0B0, 0x00FF});
    RawClient client(server->serverPort());
    QVERIFY(client.connected);
    client.send(QByteArray::fromHex("000100000006010300320004"));
    QCOMPARE(client.receive(17).toHex(), QByteArray("00010000000b01030801020304a0b000ff"));
}

void TestModbusServer::libmodbusReadsAndWrites()
{
    ModbusClient client(server->serverPort());
    QVERIFY(client.connected);
    uint16_t regs[125] = {};
    QCOMPARE(modbus_read_registers(client.ctx, 375, 125, regs), 125);
    for (int i = 0; i < 125; ++i) {
        QCOMPARE(regs[i], table.at(375 + i));
    }

    const uint16_t values[2] = {1, 5};
    QCOMPARE(modbus_write_registers(client.ctx, 0, 2, values), 2);
    QTRY_COMPARE_WITH_TIMEOUT(writes, (QList<QList<int>>{{0, 1}}), kSettleMs);
    quint16 w0 = 99, w1 = 99;
    server->getWriteData(0, &w0);
    server->getWriteData(1, &w1);
    QCOMPARE(w0, quint16(1));
    QCOMPARE(w1, quint16(5));

    // The largest write the protocol allows, up to the last register.
    uint16_t many[123];
    for (int i = 0; i < 123; ++i) {
        many[i] = static_cast<uint16_t>(1000 + i);
    }
    QCOMPARE(modbus_write_registers(client.ctx, 377, 123, many), 123);
    QTRY_COMPARE_WITH_TIMEOUT(writes.size(), 2, kSettleMs);
    QCOMPARE(writes.at(1).size(), 123);
    QCOMPARE(writes.at(1).first(), 377);
    QCOMPARE(writes.at(1).last(), 499);
    quint16 last = 0;
    server->getWriteData(499, &last);
    QCOMPARE(last, quint16(1122));
}

void TestModbusServer::functionSixGetsNoAnswerAndChangesNothing()
{
    ModbusClient client(server->serverPort(), 300);
    QVERIFY(client.connected);
    QCOMPARE(modbus_write_register(client.ctx, 0, 77), -1);
    QCOMPARE(errno, ETIMEDOUT);
    QTest::qWait(100);
    quint16 w = 99;
    server->getWriteData(0, &w);
    QCOMPARE(w, quint16(0));
    QVERIFY(writes.isEmpty());
}

void TestModbusServer::malformedRequestsAreDroppedAndTheConnectionLives()
{
    {
        std::lock_guard<std::mutex> lock(gCapturedMutex);
        gCaptured.clear();
    }
    gPreviousHandler = qInstallMessageHandler(captureMessages);
    RawClient client(server->serverPort());
    QVERIFY(client.connected);
    client.send(readRequest(1, 50, 4, 2));                               // another unit
    client.send(writeRequest(2, 499, {1, 2}));                           // past the end
    client.send(readRequest(3, 0, 126));                                 // too many
    client.send(frame(4, 1, QByteArray(1, 3) + be16(0) + be16(1) + "x"));  // a stray byte
    client.send(readRequest(kProbeTid, 100, 2));
    const QByteArray got = client.receive(13);
    qInstallMessageHandler(gPreviousHandler);
    QCOMPARE(got.toHex(), readReply(kProbeTid, 100, 2, table).toHex());
    QVERIFY(writes.isEmpty());

    // One complaint per connection, about the first fault.
    std::lock_guard<std::mutex> lock(gCapturedMutex);
    int complaints = 0;
    for (const QString& line : qAsConst(gCaptured)) {
        complaints += line.contains(QStringLiteral("(further faults of this connection not logged)"));
    }
    QCOMPARE(complaints, 1);
    const QString expected = QString("modbus: 127.0.0.1:%1 asked to write 2 registers from 499; dropped")
                                 .arg(client.socket.localPort());
    QVERIFY2(gCaptured.filter(expected).size() == 1, qPrintable(gCaptured.join('\n')));
}

void TestModbusServer::eachConnectionHasItsOwnBuffer()
{
    RawClient a(server->serverPort());
    RawClient b(server->serverPort());
    QVERIFY(a.connected && b.connected);
    const QByteArray ra = readRequest(1, 10, 2);
    const QByteArray rb = writeRequest(2, 60, {42});
    a.send(ra.left(5));
    b.send(rb.left(8));
    a.send(ra.mid(5));
    b.send(rb.mid(8));
    QCOMPARE(a.receive(13).toHex(), readReply(1, 10, 2, table).toHex());
    QCOMPARE(b.receive(12).toHex(), writeAck(2, 60, 1).toHex());
    QTRY_COMPARE_WITH_TIMEOUT(writes, (QList<QList<int>>{{60}}), kSettleMs);
}

void TestModbusServer::thirtyTwoBitValuesNeverTear()
{
    // Two 32-bit values whose halves both differ: a torn read shows 0x00000000
    // or 0x0001FFFF.
    const QVector<quint16> a{0x0000, 0xFFFF};
    const QVector<quint16> b{0x0001, 0x0000};
    server->setReadData(50, a);
    std::atomic<bool> running{true};
    std::thread writer([&] {
        while (running) {
            server->setReadData(50, a);
            server->setReadData(50, b);
        }
    });
    ModbusClient client(server->serverPort());
    QVERIFY(client.connected);
    int torn = 0;
    for (int i = 0; i < 2000; ++i) {
        uint16_t r[2] = {};
        if (modbus_read_registers(client.ctx, 50, 2, r) != 2) {
            ++torn;
            continue;
        }
        const quint32 v = (quint32(r[0]) << 16) | r[1];
        if (v != 0x0000FFFFu && v != 0x00010000u) {
            ++torn;
        }
    }
    running = false;
    writer.join();
    QCOMPARE(torn, 0);
}

void TestModbusServer::writeIsLoggedWithTheClientAddress()
{
    gPreviousHandler = qInstallMessageHandler(captureMessages);
    RawClient client(server->serverPort());
    QVERIFY(client.connected);
    client.send(writeRequest(4, 1, {3}));
    QCOMPARE(client.receive(12).toHex(), writeAck(4, 1, 1).toHex());
    QTRY_COMPARE_WITH_TIMEOUT(writes.size(), 1, kSettleMs);
    qInstallMessageHandler(gPreviousHandler);
    const QString expected = QString("modbus: write from 127.0.0.1:%1: 1 register(s) from 1: 3").arg(client.socket.localPort());
    std::lock_guard<std::mutex> lock(gCapturedMutex);
    QVERIFY2(gCaptured.contains(expected), qPrintable(gCaptured.join('\n')));
}

void TestModbusServer::thousandsOfConnectionsLeaveNoDescriptor()
{
    const int before = openFileDescriptors();
    QElapsedTimer timer;
    timer.start();
    // Each client connects, asks once and leaves, as a polling plant system does.
    for (int i = 0; i < 2000; ++i) {
        const int fd = connectTo(server->serverPort());
        QVERIFY(fd >= 0);
        const QByteArray request = readRequest(i, 0, 1);
        char reply[11];
        QCOMPARE(::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL), ssize_t(12));
        QCOMPARE(::recv(fd, reply, sizeof reply, MSG_WAITALL), ssize_t(11));
        ::close(fd);
    }
    QTRY_COMPARE_WITH_TIMEOUT(openFileDescriptors(), before, kSettleMs);
    qInfo() << "2000 connections in" << timer.elapsed() << "ms";
    // And the server still answers.
    RawClient client(server->serverPort());
    client.send(readRequest(1, 0, 1));
    QCOMPARE(client.receive(11).toHex(), readReply(1, 0, 1, table).toHex());
}

void TestModbusServer::busyPollerSurvivesABurstOfIdleConnections()
{
    // A plant system polling every 20 ms, then 40 connections that never ask
    // anything: the poller keeps its connection and every answer; the burst
    // pays for itself, oldest first.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("connections open; closing the quietest"));
    const int pollerFd = connectTo(server->serverPort());
    QVERIFY(pollerFd >= 0);
    int tid = 0;
    auto poll = [&] {
        const QByteArray request = readRequest(++tid, 0, 1);
        char reply[11];
        return ::send(pollerFd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == 12
            && ::recv(pollerFd, reply, sizeof reply, MSG_WAITALL) == 11
            && QByteArray(reply, 11) == readReply(tid, 0, 1, table);
    };
    QVERIFY(poll());

    QList<QTcpSocket*> sockets;
    QElapsedTimer sincePoll;
    sincePoll.start();
    for (int i = 0; i < ModbusServer::MaxConnections + 8; ++i) {
        auto* s = new QTcpSocket(this);
        QVERIFY(s->setSocketDescriptor(connectTo(server->serverPort())));
        sockets.append(s);
        QTest::qWait(5);
        if (sincePoll.elapsed() >= 20) {
            QVERIFY2(poll(), qPrintable(QStringLiteral("poll after %1 connections").arg(i + 1)));
            sincePoll.restart();
        }
    }
    auto open = [&] {
        int n = 0;
        for (QTcpSocket* s : qAsConst(sockets)) {
            n += s->state() == QAbstractSocket::ConnectedState;
        }
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(open(), ModbusServer::MaxConnections - 1, kSettleMs);
    QVERIFY(poll());
    // The ones closed were the oldest of the burst.
    for (int i = 0; i < sockets.size(); ++i) {
        QCOMPARE(sockets.at(i)->state() == QAbstractSocket::ConnectedState, i >= 9);
    }
    QTcpSocket* newest = sockets.last();
    newest->write(readRequest(1, 0, 1));
    QVERIFY(newest->waitForReadyRead(2000));
    qDeleteAll(sockets);
    ::close(pollerFd);
}

void TestModbusServer::floodingClientDoesNotStallOthers()
{
    // One client streams requests for unit 2 (never answered) as fast as the
    // line takes them; another reads as a plant system does. Its answers must
    // come in turn with the flood, not after it.
    const int flooderFd = connectTo(server->serverPort());
    QVERIFY(flooderFd >= 0);
    // A large send buffer keeps the server's receive queue full: the server
    // never finds it empty and must leave it on its own.
    const int big = 4 << 20;
    ::setsockopt(flooderFd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    // The shortest frame there is (unit and function only): the most work
    // per byte for the server.
    const QByteArray flood = frame(0, 2, QByteArray(1, 3)).repeated(8000);
    std::atomic<bool> flooding{true};
    std::atomic<long long> flooded{0};
    std::thread flooder([&] {
        while (flooding) {
            const ssize_t n = ::send(flooderFd, flood.constData(), size_t(flood.size()), MSG_NOSIGNAL);
            if (n > 0) {
                flooded += n;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                break;
            }
        }
    });

    const int readerFd = connectTo(server->serverPort());
    QVERIFY(readerFd >= 0);
    std::vector<double> latencies;
    QElapsedTimer run;
    run.start();
    int tid = 0;
    bool answered = true;
    while (run.elapsed() < 2500 && answered) {
        const QByteArray request = readRequest(++tid & 0xFFFF, 10, 4);
        char reply[17];
        QElapsedTimer t;
        t.start();
        answered = ::send(readerFd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == 12
            && ::recv(readerFd, reply, sizeof reply, MSG_WAITALL) == 17;
        latencies.push_back(t.nsecsElapsed() / 1e6);
        QThread::usleep(2000);
    }
    flooding = false;
    ::shutdown(flooderFd, SHUT_RDWR);
    flooder.join();
    ::close(flooderFd);
    ::close(readerFd);
    QVERIFY2(answered, "a read went unanswered for 2 s");

    std::sort(latencies.begin(), latencies.end());
    const double p99 = latencies.at(size_t(0.99 * double(latencies.size() - 1)));
    qInfo("%d reads during a flood of %lld bytes: median %.2f ms, p99 %.2f ms, worst %.2f ms", int(latencies.size()),
          flooded.load(), latencies.at(latencies.size() / 2), p99, latencies.back());
    QVERIFY(latencies.size() >= 100);
    QVERIFY(flooded.load() > 1000000);
    QVERIFY2(p99 < 100.0, qPrintable(QString::number(p99)));
}

void TestModbusServer::slowReaderGetsEveryReplyInOrder()
{
    // 1000 reads at once from a client with a small window: the replies (260 kB)
    // back up behind it and must still come out whole and in order.
    const int fd = connectTo(server->serverPort(), 4096);
    QVERIFY(fd >= 0);
    QByteArray requests;
    QByteArray expected;
    for (int i = 0; i < 1000; ++i) {
        requests += readRequest(i, i % 375, 125);
        expected += readReply(i, i % 375, 125, table);
    }
    QCOMPARE(::send(fd, requests.constData(), static_cast<size_t>(requests.size()), MSG_NOSIGNAL),
             ssize_t(requests.size()));
    QTest::qWait(200);
    QByteArray got(expected.size(), 0);
    qint64 have = 0;
    QElapsedTimer t;
    t.start();
    while (have < got.size() && t.elapsed() < 10000) {
        const ssize_t n = ::recv(fd, got.data() + have, static_cast<size_t>(got.size() - have), 0);
        if (n <= 0) {
            break;
        }
        have += n;
    }
    ::close(fd);
    QCOMPARE(have, qint64(expected.size()));
    QVERIFY(got == expected);
}

void TestModbusServer::clientThatNeverReadsIsDropped()
{
    const int fd = connectTo(server->serverPort(), 4096);
    QVERIFY(fd >= 0);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not read its replies; connection closed"));
    QByteArray burst;
    for (int i = 0; i < 1000; ++i) {
        burst += readRequest(i, 0, 125);
    }
    // 30,000 reads ask for 7.7 MB of replies, more than the kernel buffers hold.
    bool cutOff = false;
    for (int round = 0; round < 30 && !cutOff; ++round) {
        if (::send(fd, burst.constData(), static_cast<size_t>(burst.size()), MSG_NOSIGNAL) < 0
            && errno != EAGAIN && errno != EWOULDBLOCK) {
            cutOff = true;
        }
    }
    // Without reading anything, wait for the server to reset the connection.
    QElapsedTimer t;
    t.start();
    while (!cutOff && t.elapsed() < 10000) {
        pollfd p{fd, 0, 0};
        cutOff = ::poll(&p, 1, 50) > 0 && (p.revents & (POLLERR | POLLHUP)) != 0;
    }
    ::close(fd);
    QVERIFY(cutOff);
    RawClient client(server->serverPort());
    client.send(readRequest(1, 0, 1));
    QCOMPARE(client.receive(11).toHex(), readReply(1, 0, 1, table).toHex());
}

void TestModbusServer::busyPortIsTriedAgain()
{
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::LocalHost, 0));
    const quint16 port = blocker.serverPort();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot listen on .* trying again"));
    ModbusServer late(port, QHostAddress::LocalHost);
    QVERIFY(!late.isListening());
    blocker.close();
    QTRY_VERIFY_WITH_TIMEOUT(late.isListening(), 3 * ModbusServer::ListenRetryMs);
    QCOMPARE(late.serverPort(), port);
    ModbusClient client(port);
    QVERIFY(client.connected);
    uint16_t r = 0;
    QCOMPARE(modbus_read_registers(client.ctx, 0, 1, &r), 1);
}

void TestModbusServer::stopClosesConnectionsAndFreesThePort()
{
    const quint16 port = server->serverPort();
    RawClient client(port);
    QVERIFY(client.connected);
    server->stop();
    QVERIFY(!server->isListening());
    QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, kSettleMs);
    QTcpServer successor;
    QVERIFY(successor.listen(QHostAddress::LocalHost, port));
    server->stop();  // a second stop (and the destructor's) does nothing
}

QTEST_GUILESS_MAIN(TestModbusServer)
#include "tst_modbusserver.moc"
