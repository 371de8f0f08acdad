// The raw stream receiver against the loopback camera and scripted servers on
// 127.0.0.1: whole frames whatever the read size, malformed headers checked
// before anything is read, frames cut by the connection dropped, reconnection
// by itself, and a stop after which no callback runs.
#include "loopbackthermalcamera.h"
#include "messagecapture.h"
#include "scriptedtcpserver.h"
#include "streamsdk.h"
#include "settle.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

// What the callback saw, checked on the test's thread.
struct Collector {
    std::mutex mutex;
    int frames = 0;
    int connects = 0;
    int disconnects = 0;
    // Frames whose size or content broke the loopback camera's pattern.
    int bad = 0;
    quint32 lastSequence = 0;
    bool sequenceWentBack = false;
    std::atomic<bool> inCallback{false};
    std::atomic<int> callbackDelayMs{0};
    int expectWidth = 0;
    int expectHeight = 0;
    streamsdk_stream* stopFromCallback = nullptr;
    int stopFromCallbackResult = 1;

    static void callback(int status, const streamsdk_frame* frame, void* context)
    {
        auto* c = static_cast<Collector*>(context);
        c->inCallback.store(true);
        if (const int delay = c->callbackDelayMs.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
        std::lock_guard<std::mutex> lock(c->mutex);
        if (status == STREAMSDK_CONNECTED) {
            ++c->connects;
        } else if (status == STREAMSDK_DISCONNECTED) {
            ++c->disconnects;
        } else if (status == STREAMSDK_FRAME && frame) {
            if (c->stopFromCallback) {
                c->stopFromCallbackResult = streamsdk_stop_stream(c->stopFromCallback);
                c->stopFromCallback = nullptr;
            }
            if (c->frames > 0 && frame->sequence <= c->lastSequence) {
                c->sequenceWentBack = true;
            }
            c->lastSequence = frame->sequence;
            c->bad += wellFormed(*frame, c->expectWidth, c->expectHeight) ? 0 : 1;
            ++c->frames;
        }
        c->inCallback.store(false);
    }

    static bool wellFormed(const streamsdk_frame& f, int width, int height)
    {
        if (f.width != width || f.height != height || !f.values) {
            return false;
        }
        const quint16 mark = LoopbackThermalCamera::sequenceMark(f.sequence);
        for (int y = 0; y < height; ++y) {
            const quint16* row = f.values + y * width;
            for (int x = 0; x < width; ++x) {
                if (row[x] != (x == 0 ? 0 : x == 1 ? 255 : mark)) {
                    return false;
                }
            }
        }
        return true;
    }

    int frameCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return frames;
    }
};

struct Stream {
    Stream(const char* host, quint16 port) { result = streamsdk_create_stream(host, port, &handle); }
    ~Stream()
    {
        if (handle) {
            streamsdk_destroy_stream(handle);
        }
    }
    int start(Collector& c, int packetSize = 0)
    {
        return streamsdk_start_stream(handle, "/video/raw", packetSize, &Collector::callback, &c);
    }
    streamsdk_stream* handle = nullptr;
    int result = -99;
};

bool waitFor(const std::function<bool()>& condition, int timeoutMs = kSettleMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qSleep(2);
    }
    return true;
}

QByteArray frameHeader(quint32 width, quint32 height, quint32 sequence, quint32 length)
{
    QByteArray header(16, Qt::Uninitialized);
    uchar* h = reinterpret_cast<uchar*>(header.data());
    qToLittleEndian(width, h);
    qToLittleEndian(height, h + 4);
    qToLittleEndian(sequence, h + 8);
    qToLittleEndian(length, h + 12);
    return header;
}

QByteArray wholeFrame(quint32 sequence, int width, int height)
{
    return frameHeader(quint32(width), quint32(height), sequence, quint32(width * height * 2))
           + LoopbackThermalCamera::framePayload(sequence, width, height);
}

} // namespace

class TestStreamSdk : public QObject {
    Q_OBJECT

private slots:
    void wholeFramesWhateverTheReadSize_data();
    void wholeFramesWhateverTheReadSize();
    void framesSplitAnywhereByTheSender();
    void malformedHeadersEndTheConnection_data();
    void malformedHeadersEndTheConnection();
    void frameCutByTheConnectionIsDropped();
    void reconnectsAfterTheCameraRestarts();
    void stopWaitsForTheRunningCallback();
    void callbackCannotStopItsOwnStream();
    void manyStartStopCycles();
    void refusedAddresses();
};

void TestStreamSdk::wholeFramesWhateverTheReadSize_data()
{
    QTest::addColumn<int>("packetSize");
    // The frame header is 16 bytes; 37 x 5 frames hold 370 bytes of values.
    for (int size : {1, 3, 15, 16, 17, 371, 0}) {
        QTest::addRow("reads of %d", size) << size;
    }
}

void TestStreamSdk::wholeFramesWhateverTheReadSize()
{
    QFETCH(int, packetSize);
    LoopbackThermalCamera camera;
    camera.setSize(37, 5);
    QVERIFY(camera.start());
    Collector c;
    c.expectWidth = 37;
    c.expectHeight = 5;
    Stream s("127.0.0.1", camera.streamPort());
    QCOMPARE(s.result, STREAMSDK_OK);
    QCOMPARE(s.start(c, packetSize), STREAMSDK_OK);
    QVERIFY(waitFor([&] { return c.frameCount() >= 30; }));
    QCOMPARE(streamsdk_stop_stream(s.handle), STREAMSDK_OK);
    QCOMPARE(c.bad, 0);
    QVERIFY(!c.sequenceWentBack);
    QCOMPARE(c.connects, 1);
    QCOMPARE(c.disconnects, 1);
}

void TestStreamSdk::framesSplitAnywhereByTheSender()
{
    const QByteArray frames = wholeFrame(1, 5, 3) + wholeFrame(2, 5, 3) + wholeFrame(3, 5, 3);
    ScriptedTcpServer server([&](ScriptedTcpServer::Connection& conn) {
        if (conn.readRequest().isEmpty()) {
            return;
        }
        // The reply header and the first frame share their pieces.
        conn.sendInPieces("HTTP/1.1 200 OK\r\n\r\n" + frames, 1, 0);
        conn.waitForClose(5000);
    });
    Collector c;
    c.expectWidth = 5;
    c.expectHeight = 3;
    Stream s("127.0.0.1", server.port());
    QCOMPARE(s.start(c), STREAMSDK_OK);
    QVERIFY(waitFor([&] { return c.frameCount() >= 3; }));
    streamsdk_stop_stream(s.handle);
    QCOMPARE(c.frames, 3);
    QCOMPARE(c.bad, 0);
    QCOMPARE(server.requests().value(0),
             "GET /video/raw HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n\r\n");
}

void TestStreamSdk::malformedHeadersEndTheConnection_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("log");

    QTest::newRow("width 0") << frameHeader(0, 3, 9, 0) << "width 0, height 3, length 0";
    QTest::newRow("height 0") << frameHeader(5, 0, 9, 0) << "width 5, height 0, length 0";
    QTest::newRow("width 4097") << frameHeader(4097, 1, 9, 8194) << "width 4097, height 1, length 8194";
    QTest::newRow("height 4097") << frameHeader(1, 4097, 9, 8194) << "width 1, height 4097, length 8194";
    QTest::newRow("length short of the values") << frameHeader(5, 3, 9, 29) << "width 5, height 3, length 29";
    QTest::newRow("length beyond the values") << frameHeader(5, 3, 9, 0xFFFFFFFFu)
                                              << "width 5, height 3, length 4294967295";
    QTest::newRow("sizes that overflow 32 bits") << frameHeader(0xFFFFFFFFu, 0xFFFFFFFFu, 9, 2)
                                                 << "width 4294967295, height 4294967295, length 2";
}

void TestStreamSdk::malformedHeadersEndTheConnection()
{
    QFETCH(QByteArray, header);
    QFETCH(QString, log);

    ScriptedTcpServer server([&](ScriptedTcpServer::Connection& conn) {
        if (conn.readRequest().isEmpty()) {
            return;
        }
        conn.send("HTTP/1.1 200 OK\r\n\r\n" + wholeFrame(1, 5, 3) + header + QByteArray(64, '\x7f'));
        conn.waitForClose(5000);
    });
    MessageCapture messages;
    Collector c;
    c.expectWidth = 5;
    c.expectHeight = 3;
    Stream s("127.0.0.1", server.port());
    QCOMPARE(s.start(c), STREAMSDK_OK);
    // The good frame before it arrives; the connection then ends and is made again.
    QVERIFY(waitFor([&] { return server.connections() >= 2 && c.frameCount() >= 2; }));
    streamsdk_stop_stream(s.handle);
    QCOMPARE(c.bad, 0);
    QVERIFY(messages.count(QtWarningMsg, QRegularExpression(QRegularExpression::escape("bad frame header (" + log
                                                                                          + "); reconnecting")))
            >= 1);
}

void TestStreamSdk::frameCutByTheConnectionIsDropped()
{
    LoopbackThermalCamera camera;
    camera.setSize(64, 48);
    camera.setFrameInterval(5);
    QVERIFY(camera.start());
    MessageCapture messages;
    Collector c;
    c.expectWidth = 64;
    c.expectHeight = 48;
    Stream s("127.0.0.1", camera.streamPort());
    QCOMPARE(s.start(c, 100), STREAMSDK_OK);
    QVERIFY(waitFor([&] { return c.frameCount() >= 3; }));
    camera.cutNextFrame();
    QVERIFY(waitFor([&] { return camera.streamConnections() >= 2 && c.frameCount() >= 10; }));
    streamsdk_stop_stream(s.handle);
    QCOMPARE(c.bad, 0);
    QCOMPARE(c.connects, 2);
    QCOMPARE(messages.count(QtWarningMsg, QRegularExpression("the connection ended inside a frame; reconnecting$")), 1);
}

void TestStreamSdk::reconnectsAfterTheCameraRestarts()
{
    LoopbackThermalCamera camera;
    camera.setSize(16, 8);
    camera.setFrameInterval(5);
    QVERIFY(camera.start());
    MessageCapture messages;
    Collector c;
    c.expectWidth = 16;
    c.expectHeight = 8;
    Stream s("127.0.0.1", camera.streamPort());
    QCOMPARE(s.start(c), STREAMSDK_OK);
    QVERIFY(waitFor([&] { return c.frameCount() >= 3; }));

    camera.stop();
    QVERIFY(waitFor([&] {
        std::lock_guard<std::mutex> lock(c.mutex);
        return c.disconnects == 1;
    }));
    const int before = c.frameCount();
    QTest::qSleep(450);
    QCOMPARE(c.frameCount(), before);

    QVERIFY(camera.restart());
    QVERIFY(waitFor([&] { return c.frameCount() >= before + 3; }));
    streamsdk_stop_stream(s.handle);
    QCOMPARE(c.connects, 2);
    QCOMPARE(c.bad, 0);
    // One line for the whole outage, not one per attempt.
    QCOMPARE(messages.count(QtWarningMsg, QRegularExpression("reconnecting$")), 1);
}

void TestStreamSdk::stopWaitsForTheRunningCallback()
{
    LoopbackThermalCamera camera;
    camera.setSize(8, 4);
    QVERIFY(camera.start());
    Collector c;
    c.expectWidth = 8;
    c.expectHeight = 4;
    c.callbackDelayMs = 30;
    Stream s("127.0.0.1", camera.streamPort());
    QCOMPARE(s.start(c), STREAMSDK_OK);
    QVERIFY(waitFor([&] { return c.inCallback.load() && c.frameCount() >= 1; }));
    QCOMPARE(streamsdk_stop_stream(s.handle), STREAMSDK_OK);
    QVERIFY(!c.inCallback.load());
    const int frames = c.frameCount();
    QTest::qSleep(80);
    QCOMPARE(c.frameCount(), frames);
    QCOMPARE(c.connects, c.disconnects);
    // Stopping again does nothing; starting again delivers again.
    QCOMPARE(streamsdk_stop_stream(s.handle), STREAMSDK_OK);
    c.callbackDelayMs = 0;
    QCOMPARE(s.start(c), STREAMSDK_OK);
    QCOMPARE(s.start(c), STREAMSDK_ESTATE);
    QVERIFY(waitFor([&] { return c.frameCount() > frames; }));
}

void TestStreamSdk::callbackCannotStopItsOwnStream()
{
    LoopbackThermalCamera camera;
    camera.setSize(8, 4);
    QVERIFY(camera.start());
    MessageCapture messages;
    Collector c;
    c.expectWidth = 8;
    c.expectHeight = 4;
    Stream s("127.0.0.1", camera.streamPort());
    c.stopFromCallback = s.handle;
    QCOMPARE(s.start(c), STREAMSDK_OK);
    QVERIFY(waitFor([&] { return c.frameCount() >= 3; }));
    streamsdk_stop_stream(s.handle);
    QCOMPARE(c.stopFromCallbackResult, STREAMSDK_ESTATE);
    QVERIFY(messages.messages().contains("streamsdk: a stream cannot be stopped from its own callback"));
}

void TestStreamSdk::manyStartStopCycles()
{
    LoopbackThermalCamera camera;
    camera.setSize(32, 24);
    QVERIFY(camera.start());
    Collector c;
    c.expectWidth = 32;
    c.expectHeight = 24;
    Stream s("127.0.0.1", camera.streamPort());
    QElapsedTimer clock;
    clock.start();
    // The driver's tests run a thousand cycles through all layers; here a
    // few hundred, most of them stopped before they connect.
    for (int i = 0; i < 300; ++i) {
        QCOMPARE(s.start(c), STREAMSDK_OK);
        if (i % 30 == 0) {
            // Now and then a cycle that certainly receives.
            const int before = c.frameCount();
            QVERIFY(waitFor([&] { return c.frameCount() > before; }));
        }
        QCOMPARE(streamsdk_stop_stream(s.handle), STREAMSDK_OK);
    }
    qInfo("300 start/stop cycles in %lld ms, %d frames", clock.elapsed(), c.frames);
    const int frames = c.frameCount();
    QTest::qSleep(30);
    QCOMPARE(c.frameCount(), frames);
    QCOMPARE(c.bad, 0);
    QCOMPARE(c.connects, c.disconnects);
}

void TestStreamSdk::refusedAddresses()
{
    streamsdk_stream* handle = reinterpret_cast<streamsdk_stream*>(this);
    QTest::ignoreMessage(QtWarningMsg, "streamsdk: 10.1.2.3 is outside 127.0.0.0/8 and refused in this build");
    QCOMPARE(streamsdk_create_stream("10.1.2.3", 10081, &handle), STREAMSDK_EREFUSED);
    QVERIFY(!handle);
    QTest::ignoreMessage(QtWarningMsg, "streamsdk: \"localhost\" is not a numeric IPv4 address");
    QCOMPARE(streamsdk_create_stream("localhost", 10081, &handle), STREAMSDK_EINVAL);
    QTest::ignoreMessage(QtWarningMsg, "streamsdk: no address or port");
    QCOMPARE(streamsdk_create_stream("127.0.0.1", 0, &handle), STREAMSDK_EINVAL);
    QCOMPARE(streamsdk_stop_stream(nullptr), STREAMSDK_EINVAL);
}

QTEST_GUILESS_MAIN(TestStreamSdk)
#include "tst_streamsdk.moc"
