#include "camerainterface.h"
#include "framehandover.h"

#include <QMetaType>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

QByteArray frameOf(int bytes, char value)
{
    return QByteArray(bytes, value);
}

} // namespace

class TestFrameHandOver : public QObject {
    Q_OBJECT

private slots:
    void secondGetFrameWithoutDeliveryLeavesDestination();
    void twoDeliveriesGiveNewestAndCountTwo();
    void countIsZeroRightAfterCreation();
    void refusedDeliveries_data();
    void refusedDeliveries();
    void deliverWithWritesUnderTheLock();
    void reallocatingForgetsPendingFrame();
    void concurrentDeliveryAndPolling();

    void rgb24ToRgb32_data();
    void rgb24ToRgb32();
    void boundedTextCopy_data();
    void boundedTextCopy();
    void cameraTypeIsRegistered();
};

void TestFrameHandOver::secondGetFrameWithoutDeliveryLeavesDestination()
{
    FrameHandOver hand;
    QVERIFY(hand.allocate(16));
    QVERIFY(hand.deliver(frameOf(16, 7).constData(), 16));

    QByteArray destination(16, 'S');
    QVERIFY(hand.getFrame(destination.data()));
    QCOMPARE(destination, frameOf(16, 7));

    destination.fill('S');
    QVERIFY(!hand.getFrame(destination.data()));
    QCOMPARE(destination, QByteArray(16, 'S'));
}

void TestFrameHandOver::twoDeliveriesGiveNewestAndCountTwo()
{
    FrameHandOver hand;
    QVERIFY(hand.allocate(8));
    QVERIFY(hand.deliver(frameOf(8, 1).constData(), 8));
    QVERIFY(hand.deliver(frameOf(8, 2).constData(), 8));

    QByteArray destination(8, 'S');
    QVERIFY(hand.getFrame(destination.data()));
    QCOMPARE(destination, frameOf(8, 2));
    QVERIFY(!hand.getFrame(destination.data()));

    int frames = -1;
    QVERIFY(hand.takeFrameCount(frames));
    QCOMPARE(frames, 2);
    QCOMPARE(hand.framesSinceLastTake(), 2);
    QVERIFY(!hand.takeFrameCount(frames));
    QCOMPARE(frames, 0);
}

void TestFrameHandOver::countIsZeroRightAfterCreation()
{
    FrameHandOver hand;
    int frames = -1;
    QVERIFY(!hand.takeFrameCount(frames));
    QCOMPARE(frames, 0);
    QByteArray destination(4, 'S');
    QVERIFY(!hand.getFrame(destination.data()));
    QCOMPARE(destination, QByteArray(4, 'S'));
}

void TestFrameHandOver::refusedDeliveries_data()
{
    QTest::addColumn<qint64>("allocated");  // -1: open never sized the buffer
    QTest::addColumn<bool>("sized");
    QTest::addColumn<qint64>("delivered");
    QTest::addColumn<bool>("taken");

    QTest::newRow("before open") << qint64(-1) << false << qint64(16) << false;
    QTest::newRow("short frame") << qint64(16) << true << qint64(15) << false;
    QTest::newRow("exact frame") << qint64(16) << true << qint64(16) << true;
    QTest::newRow("longer frame gives its start") << qint64(16) << true << qint64(32) << true;
    QTest::newRow("size zero") << qint64(0) << false << qint64(16) << false;
    QTest::newRow("size beyond an int") << (qint64(1) << 33) << false << qint64(16) << false;
}

void TestFrameHandOver::refusedDeliveries()
{
    QFETCH(qint64, allocated);
    QFETCH(bool, sized);
    QFETCH(qint64, delivered);
    QFETCH(bool, taken);

    FrameHandOver hand;
    if (allocated >= 0) {
        QCOMPARE(hand.allocate(allocated), sized);
    }
    QCOMPARE(hand.bytes(), sized ? int(allocated) : 0);

    QByteArray source(int(delivered), 'F');
    for (int i = 0; i < source.size(); ++i) {
        source[i] = char(i);
    }
    QCOMPARE(hand.deliver(source.constData(), delivered), taken);

    QByteArray destination(32, 'S');
    QCOMPARE(hand.getFrame(destination.data()), taken);
    QCOMPARE(destination, taken ? source.left(hand.bytes()) + QByteArray(32 - hand.bytes(), 'S')
                                : QByteArray(32, 'S'));
    int frames = -1;
    QCOMPARE(hand.takeFrameCount(frames), taken);
    QCOMPARE(frames, taken ? 1 : 0);
}

void TestFrameHandOver::deliverWithWritesUnderTheLock()
{
    FrameHandOver hand;
    QVERIFY(!hand.deliverWith([](unsigned char*, int) { QFAIL("no buffer yet"); }));
    QVERIFY(hand.allocate(6));
    const unsigned char rgb[6] = {10, 20, 30, 40, 50, 60};
    QVERIFY(hand.deliverWith([&](unsigned char* buffer, int bytes) {
        QCOMPARE(bytes, 6);
        std::memcpy(buffer, rgb, 6);
    }));
    QByteArray destination(6, 'S');
    QVERIFY(hand.getFrame(destination.data()));
    QCOMPARE(destination, QByteArray(reinterpret_cast<const char*>(rgb), 6));
}

void TestFrameHandOver::reallocatingForgetsPendingFrame()
{
    FrameHandOver hand;
    QVERIFY(hand.allocate(4));
    QVERIFY(hand.deliver("abcd", 4));
    // Reopened with colour frames: the grey frame waiting must not be handed
    // out as if it were the new size.
    QVERIFY(hand.allocate(16));
    QByteArray destination(16, 'S');
    QVERIFY(!hand.getFrame(destination.data()));
    QCOMPARE(destination, QByteArray(16, 'S'));
    hand.clear();
    QVERIFY(!hand.deliver("abcd", 4));
}

// A delivering thread at about 1000 frames a second against the GUI thread
// polling as fast as it can: every frame taken must be whole (all its words
// carry one sequence number), newer than the one before, and the counts must
// add up to what was delivered.
void TestFrameHandOver::concurrentDeliveryAndPolling()
{
    constexpr int kWords = 1024;
    constexpr int kBytes = kWords * int(sizeof(quint32));
    constexpr quint32 kFrames = 1500;
    constexpr quint32 kSentinel = 0xDEADBEEF;

    FrameHandOver hand;
    QVERIFY(hand.allocate(kBytes));

    std::atomic<bool> done{false};
    std::thread driver([&] {
        std::vector<quint32> frame(kWords);
        for (quint32 sequence = 1; sequence <= kFrames; ++sequence) {
            std::fill(frame.begin(), frame.end(), sequence);
            hand.deliver(frame.data(), kBytes);
            std::this_thread::sleep_for(std::chrono::microseconds(1000));
        }
        done = true;
    });

    std::vector<quint32> destination(kWords);
    quint32 lastSequence = 0;
    qint64 counted = 0;
    int taken = 0;
    int torn = 0;
    int stale = 0;
    int sentinelTouched = 0;
    auto poll = [&] {
        std::fill(destination.begin(), destination.end(), kSentinel);
        if (hand.getFrame(destination.data())) {
            ++taken;
            const quint32 sequence = destination.front();
            if (std::any_of(destination.begin(), destination.end(), [&](quint32 w) { return w != sequence; })) {
                ++torn;
            }
            if (sequence <= lastSequence || sequence > kFrames) {
                ++stale;
            }
            lastSequence = sequence;
        } else if (std::any_of(destination.begin(), destination.end(), [&](quint32 w) { return w != kSentinel; })) {
            ++sentinelTouched;
        }
        int frames = 0;
        hand.takeFrameCount(frames);
        counted += frames;
    };
    while (!done) {
        poll();
        std::this_thread::yield();
    }
    driver.join();
    poll();
    poll();

    QCOMPARE(torn, 0);
    QCOMPARE(stale, 0);
    QCOMPARE(sentinelTouched, 0);
    QCOMPARE(counted, qint64(kFrames));
    QCOMPARE(lastSequence, kFrames);
    QVERIFY(taken > 0 && taken <= int(kFrames));
}

void TestFrameHandOver::rgb24ToRgb32_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("expected");  // the first 8 destination bytes

    const QByteArray untouched(8, 'S');
    QTest::newRow("one pixel") << 1 << 1 << QByteArray("\x0a\x14\x1e", 3)
                               << QByteArray("\x1e\x14\x0a\x00SSSS", 8);
    QTest::newRow("two by one") << 2 << 1 << QByteArray("\x01\x02\x03\xfd\xfe\xff", 6)
                                << QByteArray("\x03\x02\x01\x00\xff\xfe\xfd\x00", 8);
    QTest::newRow("one by two") << 1 << 2 << QByteArray("\x01\x02\x03\x04\x05\x06", 6)
                                << QByteArray("\x03\x02\x01\x00\x06\x05\x04\x00", 8);
    QTest::newRow("width 0") << 0 << 5 << QByteArray(15, '\x01') << untouched;
    QTest::newRow("negative height") << 2 << -1 << QByteArray(6, '\x01') << untouched;
}

void TestFrameHandOver::rgb24ToRgb32()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, expected);

    QByteArray destination(8, 'S');
    ::rgb24ToRgb32(reinterpret_cast<unsigned char*>(destination.data()),
                   reinterpret_cast<const unsigned char*>(source.constData()), width, height);
    QCOMPARE(destination, expected);
}

void TestFrameHandOver::boundedTextCopy_data()
{
    QTest::addColumn<QByteArray>("field");  // an SDK's fixed-size field, as it is in memory
    QTest::addColumn<int>("destinationSize");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("short text") << QByteArray("DA1234567\0\xff\xff", 12) << 64 << QByteArray("DA1234567");
    QTest::newRow("field full, no NUL") << QByteArray(16, 'K') << 64 << QByteArray(16, 'K');
    QTest::newRow("longer than the record") << QByteArray(80, 'L') << 64 << QByteArray(63, 'L');
    QTest::newRow("address field") << QByteArray(200, '1') << 129 << QByteArray(128, '1');
    QTest::newRow("empty") << QByteArray("\0\0\0\0", 4) << 64 << QByteArray();
}

void TestFrameHandOver::boundedTextCopy()
{
    QFETCH(QByteArray, field);
    QFETCH(int, destinationSize);
    QFETCH(QByteArray, expected);

    // Only the field's bytes exist: ASan reports a read past them.
    std::vector<char> heapField(field.begin(), field.end());
    std::vector<char> destination(size_t(destinationSize), 'X');
    const size_t kept = copyBoundedText(destination.data(), destination.size(), heapField.data(), heapField.size());
    QCOMPARE(int(kept), expected.size());
    QCOMPARE(QByteArray(destination.data()), expected);
    QVERIFY(std::all_of(destination.begin() + expected.size(), destination.end(), [](char c) { return c == 0; }));

    CameraInfo record;
    record.setId(heapField.data(), heapField.size());
    QCOMPARE(record.idText().toLatin1(), expected.left(CameraInfo::IdBytes - 1));
}

void TestFrameHandOver::cameraTypeIsRegistered()
{
    const int id = QMetaType::type("CAMERA_TYPE");
    QVERIFY(id != QMetaType::UnknownType);
    QCOMPARE(id, cameraTypeMetaTypeId());
    QCOMPARE(QMetaType::sizeOf(id), 4);
    const QVariant v = QVariant::fromValue(CAMERA_TYPE_HIKIR);
    QCOMPARE(v.userType(), id);
}

QTEST_GUILESS_MAIN(TestFrameHandOver)
#include "tst_framehandover.moc"
