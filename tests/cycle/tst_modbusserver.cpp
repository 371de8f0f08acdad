// The Modbus TCP server against a real client (libmodbus) and raw sockets on
// 127.0.0.1, with a port chosen by the system: the register tables, the
// requests it answers, every malformed frame it must drop, and what a bad
// client cannot do to it.
#include "modbusserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include <modbus.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

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
    QByteArray receive(int n, int timeoutMs = 3000)
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
    explicit ModbusClient(quint16 port, int timeoutMs = 2000)
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
    void framing_data();
    void framing();
    void staleHalfRequestIsDropped();
    void eachConnectionHasItsOwnBuffer();
    void tableAccessStaysInside();
    void thirtyTwoBitValuesNeverTear();
    void writeIsLoggedWithTheClientAddress();
    void thousandsOfConnectionsLeaveNoDescriptor();
    void tooManyConnectionsCloseTheQuietest();
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
    QTRY_COMPARE(writes, (QList<QList<int>>{{0, 1}}));
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
    QTRY_COMPARE(writes.size(), 2);
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

void TestModbusServer::framing_data()
{
    QTest::addColumn<QList<QByteArray>>("segments");  // each sent as a segment of its own
    QTest::addColumn<QByteArray>("expected");         // what comes back before the probe's answer
    QTest::addColumn<QList<int>>("written");          // write registers changed, in order

    const QByteArray read = readRequest(7, 50, 4);
    const QByteArray readReply7 = readReply(7, 50, 4, table);
    QList<QByteArray> bytes;
    for (char c : read) {
        bytes.append(QByteArray(1, c));
    }

    QTest::newRow("request split in three") << QList<QByteArray>{read.left(3), read.mid(3, 6), read.mid(9)}
                                            << readReply7 << QList<int>{};
    QTest::newRow("request byte by byte") << bytes << readReply7 << QList<int>{};
    QTest::newRow("two reads in one segment: both answered")
        << QList<QByteArray>{read + readRequest(8, 495, 10)} << readReply7 + readReply(8, 495, 5, table) << QList<int>{};
    QTest::newRow("write then read in one segment")
        << QList<QByteArray>{writeRequest(9, 20, {3}) + read} << writeAck(9, 20, 1) + readReply7 << QList<int>{20};
    // The data holds 06 01 03 00 32 00 04: a read request to a pattern search.
    QTest::newRow("write data that looks like a read")
        << QList<QByteArray>{writeRequest(10, 30, {0x0601, 0x0300, 0x3200, 0x0400})}
        << writeAck(10, 30, 4) << QList<int>{30, 31, 32, 33};
    QTest::newRow("read of 125") << QList<QByteArray>{readRequest(11, 0, 125)} << readReply(11, 0, 125, table)
                                 << QList<int>{};
    QTest::newRow("read past the end: registers up to 499")
        << QList<QByteArray>{readRequest(12, 495, 10)} << readReply(12, 495, 5, table) << QList<int>{};

    const QByteArray none;
    QTest::newRow("unit 2") << QList<QByteArray>{readRequest(1, 50, 4, 2)} << none << QList<int>{};
    QTest::newRow("unit 0") << QList<QByteArray>{readRequest(1, 50, 4, 0)} << none << QList<int>{};
    QTest::newRow("write to unit 255") << QList<QByteArray>{writeRequest(1, 5, {1}, 255)} << none << QList<int>{};
    QTest::newRow("protocol id 1") << QList<QByteArray>{frame(1, 1, read.mid(7), 1)} << none << QList<int>{};
    for (int fc : {1, 2, 4, 5, 6, 15, 22, 23, 43}) {
        QTest::newRow(qPrintable(QString("function %1").arg(fc)))
            << QList<QByteArray>{frame(1, 1, QByteArray(1, static_cast<char>(fc)) + be16(0) + be16(1))} << none
            << QList<int>{};
    }
    QTest::newRow("read quantity 0") << QList<QByteArray>{readRequest(1, 50, 0)} << none << QList<int>{};
    QTest::newRow("read quantity 126") << QList<QByteArray>{readRequest(1, 0, 126)} << none << QList<int>{};
    QTest::newRow("read quantity 65535") << QList<QByteArray>{readRequest(1, 0, 65535)} << none << QList<int>{};
    QTest::newRow("read from 500") << QList<QByteArray>{readRequest(1, 500, 1)} << none << QList<int>{};
    QTest::newRow("read from 65535") << QList<QByteArray>{readRequest(1, 65535, 1)} << none << QList<int>{};
    QTest::newRow("read with a stray byte") << QList<QByteArray>{frame(1, 1, read.mid(7) + "x")} << none
                                            << QList<int>{};
    QTest::newRow("read cut short") << QList<QByteArray>{frame(1, 1, read.mid(7, 3))} << none << QList<int>{};

    QList<int> values124;
    for (int i = 0; i < 124; ++i) {
        values124.append(i);
    }
    QTest::newRow("write quantity 0")
        << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("10000000000000"))} << none << QList<int>{};
    QTest::newRow("write quantity 124") << QList<QByteArray>{writeRequest(1, 0, values124)} << none << QList<int>{};
    QTest::newRow("write past the end is not half done")
        << QList<QByteArray>{writeRequest(1, 499, {1, 2})} << none << QList<int>{};
    QTest::newRow("write from 500") << QList<QByteArray>{writeRequest(1, 500, {1})} << none << QList<int>{};
    QTest::newRow("write byte count disagrees")
        << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("1000050002" "03" "000100"))} << none << QList<int>{};
    QTest::newRow("write with fewer values than its quantity")
        << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("1000050002" "04" "0001"))} << none << QList<int>{};
    QTest::newRow("write header only") << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("100005"))} << none
                                       << QList<int>{};

    QTest::newRow("length 0") << QList<QByteArray>{QByteArray::fromHex("00010000000001")} << none << QList<int>{};
    QTest::newRow("largest frame of another function is skipped whole")
        << QList<QByteArray>{frame(1, 1, QByteArray(1, 0x41) + QByteArray(252, 3))} << none << QList<int>{};
    QTest::newRow("length 256") << QList<QByteArray>{QByteArray::fromHex("000100000100") + QByteArray(300, 1)} << none
                                << QList<int>{};
    QTest::newRow("more than 50 bytes of rubbish")
        << QList<QByteArray>{QByteArray(60, '\xFF'), QByteArray("hello, is anybody there?")} << none << QList<int>{};
    QTest::newRow("rubbish before a request in one segment: the segment is lost")
        << QList<QByteArray>{QByteArray(9, '\xFF') + read} << none << QList<int>{};
}

void TestModbusServer::framing()
{
    QFETCH(QList<QByteArray>, segments);
    QFETCH(QByteArray, expected);
    QFETCH(QList<int>, written);

    RawClient client(server->serverPort());
    QVERIFY(client.connected);
    for (const QByteArray& s : segments) {
        client.send(s);
    }
    const QByteArray probeReply = readReply(kProbeTid, 100, 2, table);
    client.send(readRequest(kProbeTid, 100, 2));
    const QByteArray got = client.receive(expected.size() + probeReply.size());
    QCOMPARE(got.toHex(), (expected + probeReply).toHex());

    QList<int> changed;
    for (const QList<int>& w : qAsConst(writes)) {
        changed += w;
    }
    QCOMPARE(changed, written);
    for (int i = 0; i < ModbusServer::TableSize; ++i) {
        quint16 v = 0;
        server->getWriteData(i, &v);
        if (!written.contains(i)) {
            QVERIFY2(v == 0, qPrintable(QString("write register %1 changed").arg(i)));
        }
    }
}

void TestModbusServer::staleHalfRequestIsDropped()
{
    RawClient client(server->serverPort());
    QVERIFY(client.connected);
    // A write whose last two bytes never come: when the next request arrives
    // much later it must not be taken for the missing values.
    const QByteArray write = writeRequest(3, 40, {0x1111, 0x2222});
    client.send(write.left(write.size() - 2));
    QTest::qWait(ModbusServer::StalePartialMs + 200);
    client.send(readRequest(kProbeTid, 100, 2));
    QCOMPARE(client.receive(13).toHex(), readReply(kProbeTid, 100, 2, table).toHex());
    QTest::qWait(50);
    QVERIFY(writes.isEmpty());
    quint16 v = 0;
    server->getWriteData(40, &v);
    QCOMPARE(v, quint16(0));
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
    QTRY_COMPARE(writes, (QList<QList<int>>{{60}}));
}

void TestModbusServer::tableAccessStaysInside()
{
    server->setReadData(-1, 5);
    server->setReadData(500, 5);
    server->setReadData(498, QVector<quint16>{1, 2, 3, 4});
    server->setReadData(-2, QVector<quint16>{8, 8, 9});
    QCOMPARE(server->readData(498), quint16(1));
    QCOMPARE(server->readData(499), quint16(2));
    QCOMPARE(server->readData(0), quint16(9));
    QCOMPARE(server->readData(500), quint16(0));
    quint16 out = 77;
    server->getWriteData(500, &out);
    server->getWriteData(-1, &out);
    QCOMPARE(out, quint16(77));
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

namespace {
QMutex gCapturedMutex;
QStringList gCaptured;
QtMessageHandler gPreviousHandler = nullptr;
void captureMessages(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    {
        QMutexLocker lock(&gCapturedMutex);
        gCaptured.append(msg);
    }
    if (type != QtInfoMsg && gPreviousHandler) {
        gPreviousHandler(type, context, msg);
    }
}
} // namespace

void TestModbusServer::writeIsLoggedWithTheClientAddress()
{
    gPreviousHandler = qInstallMessageHandler(captureMessages);
    RawClient client(server->serverPort());
    QVERIFY(client.connected);
    client.send(writeRequest(4, 1, {3}));
    QCOMPARE(client.receive(12).toHex(), writeAck(4, 1, 1).toHex());
    QTRY_COMPARE(writes.size(), 1);
    qInstallMessageHandler(gPreviousHandler);
    const QString expected = QString("modbus: write from 127.0.0.1:%1: 1 register(s) from 1: 3").arg(client.socket.localPort());
    QMutexLocker lock(&gCapturedMutex);
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
    QTRY_COMPARE_WITH_TIMEOUT(openFileDescriptors(), before, 10000);
    qInfo() << "2000 connections in" << timer.elapsed() << "ms";
    // And the server still answers.
    RawClient client(server->serverPort());
    client.send(readRequest(1, 0, 1));
    QCOMPARE(client.receive(11).toHex(), readReply(1, 0, 1, table).toHex());
}

void TestModbusServer::tooManyConnectionsCloseTheQuietest()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("connections open; closing the quietest"));
    QList<QTcpSocket*> sockets;
    for (int i = 0; i < ModbusServer::MaxConnections + 8; ++i) {
        auto* s = new QTcpSocket(this);
        QVERIFY(s->setSocketDescriptor(connectTo(server->serverPort())));
        sockets.append(s);
        QTest::qWait(5);
    }
    auto open = [&] {
        int n = 0;
        for (QTcpSocket* s : qAsConst(sockets)) {
            if (s->state() == QAbstractSocket::ConnectedState) {
                ++n;
            }
        }
        return n;
    };
    QTRY_COMPARE(open(), ModbusServer::MaxConnections);
    QTcpSocket* newest = sockets.last();
    newest->write(readRequest(1, 0, 1));
    QVERIFY(newest->waitForReadyRead(2000));
    qDeleteAll(sockets);
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
    QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);
    QTcpServer successor;
    QVERIFY(successor.listen(QHostAddress::LocalHost, port));
    server->stop();  // a second stop (and the destructor's) does nothing
}

QTEST_GUILESS_MAIN(TestModbusServer)
#include "tst_modbusserver.moc"
