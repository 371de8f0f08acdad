// The HTTP client of the REST thermal camera against scripted servers on
// 127.0.0.1: the bytes it sends, how it frames replies (split anywhere, too
// long, cut, malformed), that one time-out bounds a whole request, and which
// addresses it refuses without ever connecting.
#include "restc.h"
#include "scriptedtcpserver.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <vector>

namespace {

constexpr unsigned char kGuard = 0xAA;

// A buffer of capacity bytes followed by guard bytes that must survive.
struct GuardedBuffer {
    explicit GuardedBuffer(std::size_t capacity) : capacity(capacity), bytes(capacity + 64, kGuard) {}
    char* data() { return reinterpret_cast<char*>(bytes.data()); }
    bool guardIntact() const
    {
        for (std::size_t i = capacity; i < bytes.size(); ++i) {
            if (bytes[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
    std::size_t capacity;
    std::vector<unsigned char> bytes;
};

// Answers every request with the same bytes.
ScriptedTcpServer::Script replyWith(const QByteArray& reply, int piece = 0, int pauseMs = 0)
{
    return [reply, piece, pauseMs](ScriptedTcpServer::Connection& c) {
        if (c.readRequest().isEmpty()) {
            return;
        }
        if (piece > 0) {
            c.sendInPieces(reply, piece, pauseMs);
        } else {
            c.send(reply);
        }
    };
}

struct Connection {
    Connection(const char* host, quint16 port) : handle(restc_create_connection(host, port)) {}
    ~Connection() { restc_destroy_connection(handle); }
    restc_connection* handle;
};

} // namespace

class TestRestc : public QObject {
    Q_OBJECT

private slots:
    void requestBytesAreExact();
    void replyFraming_data();
    void replyFraming();
    void oneTimeoutBoundsTheWholeRequest_data();
    void oneTimeoutBoundsTheWholeRequest();
    void refusedAddresses_data();
    void refusedAddresses();
    void requestsThatAreNeverSent_data();
    void requestsThatAreNeverSent();
};

void TestRestc::requestBytesAreExact()
{
    ScriptedTcpServer server(replyWith("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"));
    QVERIFY(server.isListening());
    Connection c("127.0.0.1", server.port());
    QVERIFY(c.handle);
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n";

    char buffer[1024];
    std::size_t length = 99;
    QCOMPARE(restc_get(c.handle, "/sensor/dimension", nullptr, buffer, sizeof buffer, &length), 200);
    QCOMPARE(QByteArray(buffer, int(length)), QByteArray("{}"));

    const QByteArray body = "{\"a\":1}\n";
    memcpy(buffer, body.constData(), std::size_t(body.size()));
    length = std::size_t(body.size());
    QCOMPARE(restc_put(c.handle, "/isp/instrument/jconfig", nullptr, buffer, sizeof buffer, &length), 200);
    QCOMPARE(length, std::size_t(2));

    restc_set_authroization("user", "pw");
    length = 5;
    memcpy(buffer, "null\n", 5);
    QCOMPARE(restc_post(c.handle, "/sensor/cali", nullptr, buffer, sizeof buffer, &length), 200);
    restc_set_authroization("", "");
    length = 0;
    QCOMPARE(restc_get(c.handle, "/admin/boot-id", nullptr, buffer, sizeof buffer, &length), 200);

    const QList<QByteArray> requests = server.requests();
    QCOMPARE(requests.size(), 4);
    QCOMPARE(requests.at(0), "GET /sensor/dimension HTTP/1.1\r\n" + host
                                 + "Accept: application/json\r\nConnection: close\r\n\r\n");
    QCOMPARE(requests.at(1), "PUT /isp/instrument/jconfig HTTP/1.1\r\n" + host
                                 + "Accept: application/json\r\nConnection: close\r\n"
                                   "Content-Type: application/json\r\nContent-Length: 8\r\n\r\n{\"a\":1}\n");
    QCOMPARE(requests.at(2), "POST /sensor/cali HTTP/1.1\r\n" + host
                                 + "Authorization: Basic dXNlcjpwdw==\r\n"
                                   "Accept: application/json\r\nConnection: close\r\n"
                                   "Content-Type: application/json\r\nContent-Length: 5\r\n\r\nnull\n");
    QCOMPARE(requests.at(3), "GET /admin/boot-id HTTP/1.1\r\n" + host
                                 + "Accept: application/json\r\nConnection: close\r\n\r\n");
}

void TestRestc::replyFraming_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("piece");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    QTest::newRow("whole") << ok + "Content-Length: 5\r\n\r\nhello" << 0 << 1024 << 200 << QByteArray("hello");
    for (int piece : {1, 2, 3, 7}) {
        QTest::addRow("split every %d bytes", piece)
            << ok + "Content-Type: application/json\r\nContent-Length: 7\r\n\r\n{\"t\":1}" << piece << 1024 << 200
            << QByteArray("{\"t\":1}");
    }
    QTest::newRow("header names in any case") << ok + "cOnTeNt-LeNgTh:  5 \r\n\r\nhello" << 0 << 1024 << 200
                                              << QByteArray("hello");
    QTest::newRow("HTTP/1.0, no length: to the close") << QByteArray("HTTP/1.0 200 OK\r\n\r\nhello") << 0 << 1024
                                                       << 200 << QByteArray("hello");
    QTest::newRow("404 with a body") << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!") << 0
                                     << 1024 << 404 << QByteArray("no!");
    QTest::newRow("204 has no body") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << 0 << 1024 << 204
                                     << QByteArray("");
    QTest::newRow("body fills the buffer") << ok + "Content-Length: 16\r\n\r\n0123456789abcdef" << 0 << 16 << 200
                                           << QByteArray("0123456789abcdef");
    QTest::newRow("no length, body fills the buffer") << ok + "\r\n0123456789abcdef" << 0 << 16 << 200
                                                      << QByteArray("0123456789abcdef");
    // Failures: status 0, nothing past the buffer, never a cut body as 200.
    QTest::newRow("stated length beyond the buffer") << ok + "Content-Length: 17\r\n\r\n0123456789abcdefg" << 0
                                                     << 16 << 0 << QByteArray();
    QTest::newRow("no length, body beyond the buffer") << ok + "\r\n0123456789abcdefg" << 0 << 16 << 0
                                                       << QByteArray();
    QTest::newRow("1025 bytes for 1024") << ok + "Content-Length: 1025\r\n\r\n" + QByteArray(1025, 'x') << 100
                                         << 1024 << 0 << QByteArray();
    QTest::newRow("body cut short") << ok + "Content-Length: 10\r\n\r\nhello" << 0 << 1024 << 0 << QByteArray();
    QTest::newRow("header cut short") << QByteArray("HTTP/1.1 200 OK\r\nContent-Len") << 0 << 1024 << 0
                                      << QByteArray();
    QTest::newRow("chunked") << ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n" << 0 << 1024 << 0
                             << QByteArray();
    QTest::newRow("conflicting lengths") << ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!" << 0
                                         << 1024 << 0 << QByteArray();
    QTest::newRow("length not a number") << ok + "Content-Length: 5x\r\n\r\nhello" << 0 << 1024 << 0
                                         << QByteArray();
    QTest::newRow("negative length") << ok + "Content-Length: -5\r\n\r\nhello" << 0 << 1024 << 0 << QByteArray();
    QTest::newRow("status not a number") << QByteArray("HTTP/1.1 2x0 OK\r\nContent-Length: 0\r\n\r\n") << 0 << 1024
                                         << 0 << QByteArray();
    QTest::newRow("interim status") << QByteArray("HTTP/1.1 100 Continue\r\n\r\n") << 0 << 1024 << 0
                                    << QByteArray();
    QTest::newRow("not HTTP") << QByteArray("hello there\r\n\r\n") << 0 << 1024 << 0 << QByteArray();
    QTest::newRow("header without end") << "HTTP/1.1 200 OK\r\nX: " + QByteArray(9000, 'x') << 0 << 1024 << 0
                                        << QByteArray();
    QTest::newRow("closed without a reply") << QByteArray() << 0 << 1024 << 0 << QByteArray();
}

void TestRestc::replyFraming()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, piece);
    QFETCH(int, capacity);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    ScriptedTcpServer server(replyWith(reply, piece));
    Connection c("127.0.0.1", server.port());
    GuardedBuffer buffer{std::size_t(capacity)};
    std::size_t length = 12345;
    if (status == 0) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^restc: GET /x on 127\\.0\\.0\\.1:\\d+ failed: "));
    }
    QCOMPARE(restc_get(c.handle, "/x", nullptr, buffer.data(), buffer.capacity, &length), status);
    QVERIFY(buffer.guardIntact());
    if (status == 0) {
        QCOMPARE(length, std::size_t(0));
    } else {
        QCOMPARE(QByteArray(buffer.data(), int(length)), body);
    }
}

void TestRestc::oneTimeoutBoundsTheWholeRequest_data()
{
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<bool>("arrives");

    // A silent camera costs the time-out, and the default is short.
    QTest::newRow("silent, 150 ms") << 150 << -1 << false;
    QTest::newRow("silent, default") << 0 << -1 << false;
    // Each piece comes well within the time-out, the whole reply does not:
    // the time-out is for the request, not for each read.
    QTest::newRow("trickle beyond 300 ms") << 300 << 40 << false;
    QTest::newRow("slow but within 1000 ms") << 1000 << 5 << true;
}

void TestRestc::oneTimeoutBoundsTheWholeRequest()
{
    QFETCH(int, timeout);
    QFETCH(int, pauseMs);
    QFETCH(bool, arrives);

    const QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    ScriptedTcpServer server([&](ScriptedTcpServer::Connection& c) {
        if (c.readRequest().isEmpty()) {
            return;
        }
        if (pauseMs < 0) {
            c.waitForClose(5000);
        } else {
            c.sendInPieces(reply, 1, pauseMs);
            c.waitForClose(5000);
        }
    });
    Connection c("127.0.0.1", server.port());
    restc_set_timeout(c.handle, timeout);
    const int bound = timeout > 0 ? timeout : RESTC_DEFAULT_TIMEOUT_MS;
    QVERIFY(bound <= 1000);

    char buffer[1024];
    std::size_t length = 0;
    if (!arrives) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("failed: no reply within the time-out$"));
    }
    QElapsedTimer clock;
    clock.start();
    const int status = restc_get(c.handle, "/admin/boot-id", nullptr, buffer, sizeof buffer, &length);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(status, arrives ? 200 : 0);
    if (!arrives) {
        QVERIFY2(elapsed >= bound - 5 && elapsed < bound + 250, qPrintable(QString::number(elapsed)));
    }
}

void TestRestc::refusedAddresses_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QString>("log");

    const QString outside = QStringLiteral("is outside 127.0.0.0/8 and refused in this build");
    const QString numeric = QStringLiteral("is not a numeric IPv4 address");
    QTest::newRow("private network") << QByteArray("192.168.1.100") << outside;
    QTest::newRow("ten") << QByteArray("10.0.0.1") << outside;
    QTest::newRow("public") << QByteArray("8.8.8.8") << outside;
    QTest::newRow("any") << QByteArray("0.0.0.0") << outside;
    QTest::newRow("a name") << QByteArray("localhost") << numeric;
    QTest::newRow("empty") << QByteArray("") << numeric;
    QTest::newRow("with a port") << QByteArray("127.0.0.1:80") << numeric;
    QTest::newRow("IPv6 loopback") << QByteArray("::1") << numeric;
    QTest::newRow("trailing space") << QByteArray("127.0.0.1 ") << numeric;
}

void TestRestc::refusedAddresses()
{
    QFETCH(QByteArray, host);
    QFETCH(QString, log);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(log)));
    restc_connection* c = restc_create_connection(host.constData(), 10080);
    QVERIFY(!c);
    char buffer[16];
    std::size_t length = 3;
    QTest::ignoreMessage(QtWarningMsg, "restc: GET /admin/boot-id without a connection");
    QCOMPARE(restc_get(c, "/admin/boot-id", nullptr, buffer, sizeof buffer, &length), 0);
    QCOMPARE(length, std::size_t(0));

    // Anywhere in 127.0.0.0/8 is the machine itself.
    Connection loopback("127.4.5.6", 10080);
    QVERIFY(loopback.handle);
}

void TestRestc::requestsThatAreNeverSent_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("bodyBytes");
    QTest::addColumn<QString>("log");

    QTest::newRow("body longer than the buffer") << QByteArray("/isp/instrument/jconfig") << 17
                                                 << QStringLiteral("the body of 17 bytes exceeds the buffer of 16");
    QTest::newRow("space in the path") << QByteArray("/a b") << 0
                                       << QStringLiteral("the path is not a plain absolute path");
    QTest::newRow("line break in the path") << QByteArray("/a\r\nX: y") << 0
                                            << QStringLiteral("the path is not a plain absolute path");
    QTest::newRow("relative path") << QByteArray("sensor") << 0
                                   << QStringLiteral("the path is not a plain absolute path");
}

void TestRestc::requestsThatAreNeverSent()
{
    QFETCH(QByteArray, path);
    QFETCH(int, bodyBytes);
    QFETCH(QString, log);

    ScriptedTcpServer server(replyWith("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    Connection c("127.0.0.1", server.port());
    GuardedBuffer buffer(16);
    std::size_t length = std::size_t(bodyBytes);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(log) + "$"));
    QCOMPARE(restc_put(c.handle, path.constData(), nullptr, buffer.data(), buffer.capacity, &length), 0);
    QCOMPARE(length, std::size_t(0));
    QVERIFY(buffer.guardIntact());
    // Let a connection that should not have been made show up.
    QTest::qWait(20);
    QCOMPARE(server.connections(), 0);
}

QTEST_GUILESS_MAIN(TestRestc)
#include "tst_restc.moc"
