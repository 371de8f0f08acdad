// The industrial-camera drivers' threads: callbacks in flight while the
// driver stops, closes or goes, a thousand start/stop cycles, one device's
// frames from two SDK threads at once, and the hand-over between SDK thread
// and GUI thread under load. Also run under ThreadSanitizer
// (scripts/run-tsan.sh).

#include "industrialrig.h"
#include "logcapture.h"
#include "settle.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace rig;
using namespace std::chrono_literals;

namespace {

const std::string kSerial = "SN0000001";

void kinds()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : kindNames()) {
        QTest::newRow(qPrintable(kind)) << kind;
    }
}

} // namespace

class TestCameraStress : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void heldCallback_data();
    void heldCallback();
    void deleteWhileCallbackLogs_data();
    void deleteWhileCallbackLogs();
    void startStopCycles_data();
    void startStopCycles();
    void twoDeliveryThreads_data();
    void twoDeliveryThreads();
    void handOverStress_data();
    void handOverStress();
};

void TestCameraStress::init()
{
    resetAll();
}

void TestCameraStress::cleanup()
{
    for (const QString& name : kindNames()) {
        QCOMPARE(sim(kindOf(name)).liveHandles(), 0);
        QCOMPARE(sim(kindOf(name)).openSessions(), 0);
    }
    resetAll();
}

void TestCameraStress::heldCallback_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("inside");  // held within the driver's own callback, at an SDK call it makes
    for (const QString& kind : kindNames()) {
        for (const char* action : {"stop", "close", "release", "delete"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1, %2, before the callback").arg(kind, QLatin1String(action))))
                << kind << action << false;
            if (kind != QLatin1String("dvp")) {
                QTest::newRow(qPrintable(QStringLiteral("%1, %2, in the callback").arg(kind, QLatin1String(action))))
                    << kind << action << true;
            }
        }
    }
}

// stopGrab, close, release and the destructor wait for a callback in flight
// and none comes after them; ASan sees to it that nothing it uses was freed.
void TestCameraStress::heldCallback()
{
    QFETCH(QString, kind);
    QFETCH(QString, action);
    QFETCH(bool, inside);
    simdev::Simulator& s = sim(kindOf(kind));
    QVERIFY(addDevice(kindOf(kind), kSerial) > 0);
    auto driver = openDriver(kindOf(kind), kSerial, true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());

    s.holdNextCallback(kSerial, inside ? simdev::HoldPoint::Inside : simdev::HoldPoint::Entry);
    QCOMPARE(s.pump(kSerial, 1), 1);
    QVERIFY(s.waitHeld(kSerial));
    std::thread releaser([&s] {
        std::this_thread::sleep_for(60ms);
        s.releaseHold(kSerial);
    });
    QElapsedTimer waited;
    waited.start();
    if (action == QLatin1String("stop")) {
        driver->stopGrab();
    } else if (action == QLatin1String("close")) {
        driver->close();
    } else if (action == QLatin1String("release")) {
        driver->release();
    } else {
        driver.reset();
    }
    const qint64 elapsed = waited.elapsed();
    releaser.join();
    QVERIFY2(elapsed >= 40, qPrintable(QStringLiteral("returned after %1 ms").arg(elapsed)));
    QCOMPARE(s.framesDelivered(kSerial), 1u);

    // Nothing comes after it.
    QCOMPARE(s.pump(kSerial, 3), 0);
    QVERIFY(s.waitIdle(kSerial));
    QCOMPARE(s.framesDelivered(kSerial), 1u);
    if (driver) {
        QVERIFY(takeCount(*driver) <= 1);
    }
}

void TestCameraStress::deleteWhileCallbackLogs_data()
{
    kinds();
}

// A callback held deep in the driver, in the middle of logging a refused
// frame (DVP's with its conversion lock taken): the destructor waits for it
// without a deadlock.
void TestCameraStress::deleteWhileCallbackLogs()
{
    QFETCH(QString, kind);
    simdev::Simulator& s = sim(kindOf(kind));
    QVERIFY(addDevice(kindOf(kind), kSerial) > 0);
    auto driver = openDriver(kindOf(kind), kSerial, true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());

    LogCapture log;
    std::atomic<bool> held{false};
    std::atomic<bool> released{false};
    log.setHook([&](const QString& message) {
        if (message.contains(QLatin1String("frame dropped"))) {
            held = true;
            while (!released) {
                std::this_thread::sleep_for(1ms);
            }
        }
    });
    s.injectFrameFault(kSerial, simdev::FrameFault::Resized, 1);
    QCOMPARE(s.pump(kSerial, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(held, kSettleMs);
    std::thread releaser([&released] {
        std::this_thread::sleep_for(60ms);
        released = true;
    });
    QElapsedTimer waited;
    waited.start();
    driver.reset();
    const qint64 elapsed = waited.elapsed();
    releaser.join();
    log.setHook({});
    QVERIFY2(elapsed >= 40, qPrintable(QStringLiteral("returned after %1 ms").arg(elapsed)));
    QCOMPARE(s.framesDelivered(kSerial), 1u);
}

void TestCameraStress::startStopCycles_data()
{
    kinds();
}

// A thousand start/stop cycles while the camera runs free at 2000 frames a
// second: no deadlock, and after close not one callback.
void TestCameraStress::startStopCycles()
{
    QFETCH(QString, kind);
    simdev::Simulator& s = sim(kindOf(kind));
    simdev::DeviceProfile profile = device(kindOf(kind), kSerial);
    profile.fps = 2000;
    QVERIFY(s.addDevice(profile) > 0);
    auto driver = openDriver(kindOf(kind), kSerial, true);
    QVERIFY(driver);

    qint64 counted = 0;
    for (int i = 0; i < 1000; ++i) {
        QVERIFY(driver->startGrab());
        if (i % 100 == 0) {
            std::this_thread::sleep_for(2ms);
            const Polled frame = poll(*driver, true, true);
            QVERIFY2(!frame.got || frame.check.whole, frame.check.problem.c_str());
        }
        driver->stopGrab();
        counted += takeCount(*driver);
    }
    QVERIFY(driver->startGrab());
    std::this_thread::sleep_for(10ms);
    driver->close();
    counted += takeCount(*driver);
    const std::uint64_t delivered = s.framesDelivered(kSerial);
    QCOMPARE(counted, qint64(delivered));
    std::this_thread::sleep_for(20ms);
    QCOMPARE(s.framesDelivered(kSerial), delivered);
    QCOMPARE(takeCount(*driver), 0);
}

void TestCameraStress::twoDeliveryThreads_data()
{
    kinds();
}

// One device's frames from two SDK threads at once: the conversion buffers
// serve one callback at a time, so no frame comes out stitched.
void TestCameraStress::twoDeliveryThreads()
{
    QFETCH(QString, kind);
    simdev::Simulator& s = sim(kindOf(kind));
    QVERIFY(addDevice(kindOf(kind), kSerial, 256, 128) > 0);
    s.setDeliveryThreads(kSerial, 2);
    auto driver = openDriver(kindOf(kind), kSerial, true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());

    constexpr int kFrames = 200;
    QCOMPARE(s.pump(kSerial, kFrames), kFrames);
    int taken = 0;
    qint64 counted = 0;
    QElapsedTimer clock;
    clock.start();
    while (s.framesDelivered(kSerial) < std::uint64_t(kFrames) && clock.elapsed() < kSettleMs) {
        const Polled frame = poll(*driver, true, true);
        if (frame.got) {
            ++taken;
            QVERIFY2(frame.check.whole, frame.check.problem.c_str());
        }
        counted += takeCount(*driver);
    }
    QVERIFY(s.waitIdle(kSerial));
    // A poller that got no turn while the frames came (one loaded core) still
    // finds the last of them whole.
    const Polled lastFrame = poll(*driver, true, true);
    if (lastFrame.got) {
        ++taken;
        QVERIFY2(lastFrame.check.whole, lastFrame.check.problem.c_str());
    }
    counted += takeCount(*driver);
    QCOMPARE(counted, qint64(kFrames));
    QVERIFY(taken > 0);
}

void TestCameraStress::handOverStress_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("fps");
    QTest::addColumn<int>("frames");  // delivered frames to wait for
    QTest::addColumn<int>("skip");    // DVP's skip count
    for (const QString& kind : kindNames()) {
        QTest::newRow(qPrintable(kind + QStringLiteral(", 1000 small frames a second")))
            << kind << 64 << 32 << 1000.0 << 500 << 0;
        QTest::newRow(qPrintable(kind + QStringLiteral(", 60 full-size colour frames a second")))
            << kind << 1920 << 1080 << 60.0 << 30 << 0;
    }
    QTest::newRow("dvp, 1000 small frames a second, every second one") << "dvp" << 64 << 32 << 1000.0 << 500 << 1;
}

// The GUI thread polls getFrame and takeFrameCount while the SDK thread
// delivers: no torn frame, sequence numbers rise, and the counts add up to
// what the library delivered (less the frames skipped on purpose).
void TestCameraStress::handOverStress()
{
    QFETCH(QString, kind);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, fps);
    QFETCH(int, frames);
    QFETCH(int, skip);
    simdev::Simulator& s = sim(kindOf(kind));
    simdev::DeviceProfile profile = device(kindOf(kind), kSerial, width, height);
    profile.fps = fps;
    QVERIFY(s.addDevice(profile) > 0);
    auto driver = openDriver(kindOf(kind), kSerial, true);
    QVERIFY(driver);
    driver->setFrameRate(skip);
    const int rowStep = width > 256 ? 61 : 1;

    QVERIFY(driver->startGrab());
    std::uint32_t last = 0;
    int taken = 0;
    qint64 counted = 0;
    QElapsedTimer clock;
    clock.start();
    // Full-size frames under the thread checker on a loaded machine come at a
    // fraction of their rate: the wait is for the frames, not for a time.
    while (s.framesDelivered(kSerial) < std::uint64_t(frames) && clock.elapsed() < 4 * kSettleMs) {
        const Polled frame = poll(*driver, true, true, rowStep);
        if (frame.got) {
            ++taken;
            QVERIFY2(frame.check.whole, frame.check.problem.c_str());
            QVERIFY2(frame.check.sequence > last,
                     qPrintable(QStringLiteral("frame %1 after %2").arg(frame.check.sequence).arg(last)));
            last = frame.check.sequence;
        }
        counted += takeCount(*driver);
        std::this_thread::yield();
    }
    driver->stopGrab();
    const Polled lastFrame = poll(*driver, true, true, rowStep);
    if (lastFrame.got) {
        ++taken;
        QVERIFY2(lastFrame.check.whole, lastFrame.check.problem.c_str());
        QVERIFY(lastFrame.check.sequence > last);
    }
    counted += takeCount(*driver);
    const std::uint64_t delivered = s.framesDelivered(kSerial);
    QVERIFY(delivered >= std::uint64_t(frames));
    QCOMPARE(counted, qint64(delivered / std::uint64_t(skip + 1)));
    QVERIFY(taken > 0);
    qInfo("%s: %d of %d frames taken by the poller in %lld ms", QTest::currentDataTag(), taken, int(delivered),
          clock.elapsed());
}

QTEST_GUILESS_MAIN(TestCameraStress)
#include "tst_camerastress.moc"
