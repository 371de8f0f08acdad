// What the three industrial-camera drivers must do alike, each against its
// simulated vendor library: whole frames, refused frames, clean failures of
// open, hardware trigger, a device that vanishes and comes back, and
// discovery over all three. Their threads under load: tst_camerastress.

#include "cameraregistry.h"
#include "industrialrig.h"
#include "logcapture.h"
#include "systemparam.h"
#include "testworkdir.h"

#include <QtTest>


using namespace rig;

namespace {

const std::string kSerial = "SN0000001";

void setSaved(const QStringList& slotTexts)
{
    for (int n = 0; n < kCameraSerialSlots; ++n) {
        const QByteArray text = n < slotTexts.size() ? slotTexts[n].toLatin1() : QByteArray("0");
        copyBoundedText(cameraSerials[n], kCameraSerialBytes, text.constData(), size_t(text.size()));
    }
}

} // namespace

class TestIndustrialCameras : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void framesArriveWhole_data();
    void framesArriveWhole();
    void refusedFrames_data();
    void refusedFrames();
    void openFailsAtEachStep_data();
    void openFailsAtEachStep();
    void triggerGivesExactlyNFrames_data();
    void triggerGivesExactlyNFrames();
    void colourModeHoldsUntilReopened_data();
    void colourModeHoldsUntilReopened();
    void vanishAndComeBack_data();
    void vanishAndComeBack();
    void discoveryOverAllThree();
};

void TestIndustrialCameras::init()
{
    resetAll();
    // The reconnection test reads which calls a driver made.
    for (Kind kind : {Kind::Hik, Kind::Mind, Kind::Dvp}) {
        sim(kind).setCallLogging(true);
    }
}

void TestIndustrialCameras::cleanup()
{
    // Every handle a driver made is given back by the time it is gone.
    for (const QString& name : kindNames()) {
        QCOMPARE(sim(kindOf(name)).liveHandles(), 0);
        QCOMPARE(sim(kindOf(name)).openSessions(), 0);
    }
    resetAll();
}

void TestIndustrialCameras::framesArriveWhole_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("mono");
    QTest::addColumn<bool>("colour");
    for (const QString& kind : kindNames()) {
        for (bool mono : {false, true}) {
            for (bool colour : {false, true}) {
                const QString row = QStringLiteral("%1, %2 sensor, %3 output")
                                        .arg(kind, mono ? QStringLiteral("grey") : QStringLiteral("colour"),
                                             colour ? QStringLiteral("colour") : QStringLiteral("grey"));
                QTest::newRow(qPrintable(row)) << kind << mono << colour;
            }
        }
    }
}

// The newest of three frames, whole, in the layout the colour mode asks for:
// a grey sensor with colour output gives (v, v, v, 0) pixels, a colour sensor
// keeps its channels in place.
void TestIndustrialCameras::framesArriveWhole()
{
    QFETCH(QString, kind);
    QFETCH(bool, mono);
    QFETCH(bool, colour);
    simdev::Simulator& s = sim(kindOf(kind));
    QVERIFY(addDevice(kindOf(kind), kSerial, 64, 32, mono) > 0);

    auto driver = openDriver(kindOf(kind), kSerial, colour);
    QVERIFY(driver);
    int width = 0, height = 0;
    driver->getSize(width, height);
    QCOMPARE(width, 64);
    QCOMPARE(height, 32);
    QVERIFY(!poll(*driver, colour).got);
    QVERIFY(driver->startGrab());
    QCOMPARE(s.pump(kSerial, 3), 3);
    QVERIFY(s.waitIdle(kSerial));

    QCOMPARE(takeCount(*driver), 3);
    const Polled frame = poll(*driver, colour, colour && !mono);
    QVERIFY(frame.got);
    QVERIFY2(frame.check.whole, frame.check.problem.c_str());
    QCOMPARE(frame.check.sequence, 3u);
    QCOMPARE(frame.check.device, s.deviceNumber(kSerial));
    QVERIFY(!poll(*driver, colour).got);
    QCOMPARE(takeCount(*driver), 0);
}

void TestIndustrialCameras::refusedFrames_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("colour");
    QTest::addColumn<bool>("usable");  // the library makes a proper frame of it after all

    const struct {
        simdev::FrameFault fault;
        const char* name;
    } faults[] = {{simdev::FrameFault::Short, "short"},
                  {simdev::FrameFault::Long, "long"},
                  {simdev::FrameFault::Resized, "resized"},
                  {simdev::FrameFault::WrongFormat, "wrong format"}};
    for (const QString& kind : kindNames()) {
        for (const auto& f : faults) {
            for (bool colour : {false, true}) {
                // A format the library converts anyway does no harm: the Hik
                // colour path converts from any pixel type, Mind's image
                // processor from any raw format.
                const bool usable = f.fault == simdev::FrameFault::WrongFormat
                                    && ((kind == QLatin1String("hik") && colour) || kind == QLatin1String("mind"));
                QTest::newRow(qPrintable(QStringLiteral("%1, %2, %3").arg(kind, QLatin1String(f.name),
                                                                         colour ? QStringLiteral("colour")
                                                                                : QStringLiteral("grey"))))
                    << kind << int(f.fault) << colour << usable;
            }
        }
    }
}

// A torn, resized or garbled frame never reaches getFrame, not even in part;
// the newest good frame does, and the refusal is logged once per change.
void TestIndustrialCameras::refusedFrames()
{
    QFETCH(QString, kind);
    QFETCH(int, fault);
    QFETCH(bool, colour);
    QFETCH(bool, usable);
    simdev::Simulator& s = sim(kindOf(kind));
    QVERIFY(addDevice(kindOf(kind), kSerial) > 0);
    auto driver = openDriver(kindOf(kind), kSerial, colour);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());
    LogCapture log;

    // Two bad frames, then a good one: the newest frame taken is whole.
    s.injectFrameFault(kSerial, simdev::FrameFault(fault), 2);
    QCOMPARE(s.pump(kSerial, 2), 2);
    QVERIFY(s.waitIdle(kSerial));
    const Polled bad = poll(*driver, colour, colour);
    QCOMPARE(bad.got, usable);
    if (usable) {
        QVERIFY2(bad.check.whole, bad.check.problem.c_str());
        QCOMPARE(bad.check.sequence, 2u);
    }
    QCOMPARE(s.pump(kSerial, 1), 1);
    QVERIFY(s.waitIdle(kSerial));
    const Polled good = poll(*driver, colour, colour);
    QVERIFY(good.got);
    QVERIFY2(good.check.whole, good.check.problem.c_str());
    QCOMPARE(good.check.sequence, 3u);
    QCOMPARE(takeCount(*driver), usable ? 3 : 1);
    QCOMPARE(log.matching(QStringLiteral("frame dropped")).size(), usable ? 0 : 1);

    // After a good frame, the same fault is news again.
    s.injectFrameFault(kSerial, simdev::FrameFault(fault), 1);
    QCOMPARE(s.pump(kSerial, 1), 1);
    QVERIFY(s.waitIdle(kSerial));
    QCOMPARE(log.matching(QStringLiteral("frame dropped")).size(), usable ? 0 : 2);
    QCOMPARE(log.matching(QString::fromStdString(kSerial)).size(), usable ? 0 : 2);
    QCOMPARE(poll(*driver, colour).got, usable);
}

void TestIndustrialCameras::openFailsAtEachStep_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("function");
    QTest::addColumn<int>("code");

    for (const char* function : {"MV_CC_CreateHandle", "MV_CC_OpenDevice", "MV_CC_RegisterImageCallBack",
                                 "MV_CC_RegisterExceptionCallBack", "MV_CC_GetIntValue"}) {
        QTest::newRow(function) << "hik" << function << int(MV_E_NODEVICE);
    }
    for (const char* function : {"CameraInit", "CameraGetCapability", "CameraSetImageResolution",
                                 "CameraSetIspOutFormat", "CameraSetConnectionStatusCallback",
                                 "CameraSetCallbackFunction"}) {
        QTest::newRow(function) << "mind" << function << int(CAMERA_STATUS_FAILED);
    }
    for (const char* function : {"dvpOpenByName", "dvpSetTargetFormat", "dvpGetRoi", "dvpRegisterEventCallback",
                                 "dvpRegisterStreamCallback"}) {
        QTest::newRow(function) << "dvp" << function << int(DVP_STATUS_FAILED);
    }
}

// A driver whose open failed is deleted by openCamera: by then it holds no
// handle and has no callback registered, and the device opens for the next.
void TestIndustrialCameras::openFailsAtEachStep()
{
    QFETCH(QString, kind);
    QFETCH(QString, function);
    QFETCH(int, code);
    simdev::Simulator& s = sim(kindOf(kind));
    QVERIFY(addDevice(kindOf(kind), kSerial) > 0);
    const auto proto = prototype(kindOf(kind));
    const CameraInfo record = recordOf(*proto, kSerial);

    s.failNext(function.toStdString(), code);
    std::unique_ptr<CameraInterface> driver(proto->create(record));
    QVERIFY(driver);
    driver->setColorOutput(true);
    QVERIFY(!driver->open());
    QCOMPARE(s.liveHandles(), 0);
    QCOMPARE(s.openSessions(), 0);
    QVERIFY(s.handlesMade() <= 1);
    driver.reset();

    driver.reset(proto->create(record));
    driver->setColorOutput(true);
    QVERIFY(driver->open());
    QVERIFY(driver->startGrab());
    QCOMPARE(s.pump(kSerial, 1), 1);
    QVERIFY(s.waitIdle(kSerial));
    QCOMPARE(takeCount(*driver), 1);
}

void TestIndustrialCameras::triggerGivesExactlyNFrames_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : kindNames()) {
        QTest::newRow(qPrintable(kind)) << kind;
    }
}

void TestIndustrialCameras::triggerGivesExactlyNFrames()
{
    QFETCH(QString, kind);
    simdev::Simulator& s = sim(kindOf(kind));
    QVERIFY(addDevice(kindOf(kind), kSerial) > 0);
    auto driver = openDriver(kindOf(kind), kSerial, false);
    QVERIFY(driver);
    driver->setTriggerMode(true);
    QVERIFY(driver->startGrab());
    QVERIFY(s.triggered(kSerial));

    QCOMPARE(s.pump(kSerial, 5), 0);  // a triggered camera does not run free
    QCOMPARE(s.trigger(kSerial, 4), 4);
    QVERIFY(s.waitIdle(kSerial));
    QCOMPARE(takeCount(*driver), 4);
    QCOMPARE(poll(*driver, false).check.sequence, 4u);

    driver->setTriggerMode(false);
    QVERIFY(!s.triggered(kSerial));
    QCOMPARE(s.trigger(kSerial, 3), 0);
    QCOMPARE(s.pump(kSerial, 2), 2);
    QVERIFY(s.waitIdle(kSerial));
    QCOMPARE(takeCount(*driver), 2);
}

void TestIndustrialCameras::colourModeHoldsUntilReopened_data()
{
    triggerGivesExactlyNFrames_data();
}

// The buffers are sized by open: colour asked for later does not make the
// running callbacks write 4-byte pixels into them; the next open takes it.
void TestIndustrialCameras::colourModeHoldsUntilReopened()
{
    QFETCH(QString, kind);
    simdev::Simulator& s = sim(kindOf(kind));
    QVERIFY(addDevice(kindOf(kind), kSerial) > 0);
    auto driver = openDriver(kindOf(kind), kSerial, false);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());
    driver->setColorOutput(true);
    int parameters[350] = {};
    driver->loadDefaults(parameters, 0);
    QCOMPARE(s.pump(kSerial, 1), 1);
    QVERIFY(s.waitIdle(kSerial));
    const Polled grey = poll(*driver, false);
    QVERIFY(grey.got);
    QVERIFY2(grey.check.whole, grey.check.problem.c_str());

    driver->release();
    QVERIFY(driver->reconnect());
    QCOMPARE(s.pump(kSerial, 1), 1);
    QVERIFY(s.waitIdle(kSerial));
    const Polled colour = poll(*driver, true, true);
    QVERIFY(colour.got);
    QVERIFY2(colour.check.whole, colour.check.problem.c_str());
}

void TestIndustrialCameras::vanishAndComeBack_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("position");  // where it comes back (-1: where it was)
    QTest::addColumn<int>("width");     // its size then (0: as before)
    QTest::addColumn<int>("height");
    for (const QString& kind : kindNames()) {
        QTest::newRow(qPrintable(kind + QStringLiteral(", back in place"))) << kind << -1 << 0 << 0;
        QTest::newRow(qPrintable(kind + QStringLiteral(", back at another position"))) << kind << 2 << 0 << 0;
        QTest::newRow(qPrintable(kind + QStringLiteral(", back at another size"))) << kind << -1 << 96 << 48;
    }
}

// The station's road through a lost camera: offline after the notice,
// release, reconnect fails while the device is gone and succeeds once it is
// back, wherever it now is in the enumeration; frames flow again, at the size
// the camera now has.
void TestIndustrialCameras::vanishAndComeBack()
{
    QFETCH(QString, kind);
    QFETCH(int, position);
    QFETCH(int, width);
    QFETCH(int, height);
    const Kind k = kindOf(kind);
    simdev::Simulator& s = sim(k);
    QVERIFY(addDevice(k, kSerial) > 0);
    QVERIFY(addDevice(k, "SN0000002") > 0);
    QVERIFY(addDevice(k, "SN0000003") > 0);
    auto driver = openDriver(k, kSerial, true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());
    QCOMPARE(s.pump(kSerial, 1), 1);
    QVERIFY(s.waitIdle(kSerial));
    QCOMPARE(takeCount(*driver), 1);
    QVERIFY(driver->isOnline());

    LogCapture log;
    QVERIFY(s.vanish(kSerial));
    QVERIFY(s.waitIdle(kSerial));
    QVERIFY(!driver->isOnline());
    if (k == Kind::Hik) {
        QCOMPARE(log.matching(QStringLiteral("camera SN0000001 disconnect")).size(), 1);
    }
    QCOMPARE(s.pump(kSerial, 1), 0);
    QCOMPARE(takeCount(*driver), 0);

    driver->release();
    QVERIFY(!driver->reconnect());
    QVERIFY(!driver->isOnline());

    QVERIFY(s.comeBack(kSerial, position, width, height));
    s.clearCalls();
    QVERIFY(driver->reconnect());
    QVERIFY(driver->isOnline());
    const QStringList calls = names(s.callNames());
    switch (k) {
    case Kind::Hik:
        QVERIFY(calls.contains(QStringLiteral("MV_CC_EnumDevices")));
        break;
    case Kind::Mind:
        QVERIFY(calls.contains(QStringLiteral("CameraEnumerateDevice")));
        break;
    case Kind::Dvp:  // by its name, without a new enumeration
        QVERIFY(!calls.contains(QStringLiteral("dvpRefresh")));
        QVERIFY(!calls.contains(QStringLiteral("dvpEnum")));
        break;
    }
    int w = 0, h = 0;
    driver->getSize(w, h);
    QCOMPARE(w, width ? width : 64);
    QCOMPARE(h, height ? height : 32);

    QCOMPARE(s.pump(kSerial, 2), 2);
    QVERIFY(s.waitIdle(kSerial));
    QCOMPARE(takeCount(*driver), 2);
    const Polled frame = poll(*driver, true, true);
    QVERIFY(frame.got);
    QVERIFY2(frame.check.whole, frame.check.problem.c_str());
    QCOMPARE(frame.check.sequence, 3u);
    QCOMPARE(driver->serial(), QString::fromStdString(kSerial));
}

// Discovery with every driver bit: the three kinds in their driver order,
// then the saved serial numbers first.
void TestIndustrialCameras::discoveryOverAllThree()
{
    TestWorkDir dir;
    QVERIFY(addDevice(Kind::Hik, "HIK000001") > 0);
    QVERIFY(addDevice(Kind::Hik, "HIK000002") > 0);
    QVERIFY(addDevice(Kind::Mind, "MIND00001") > 0);
    QVERIFY(addDevice(Kind::Dvp, "DVP000001") > 0);
    QVERIFY(addDevice(Kind::Dvp, "DVP000002") > 0);
    setSaved({});
    cameraDriverMask = kAllCameraDrivers;
    discoverCameras();
    QStringList ids;
    for (const CameraInfo& info : cameraDeviceList) {
        ids << info.idText();
    }
    QCOMPARE(ids, (QStringList{"HIK000001", "HIK000002", "MIND00001", "DVP000001", "DVP000002"}));
    QVERIFY(cameraRegistry.contains(QLatin1String(kHikCameraIid)));
    QVERIFY(cameraRegistry.contains(QLatin1String(kMindCameraIid)));
    QVERIFY(cameraRegistry.contains(QLatin1String(kDo3thinkCameraIid)));
    resetCameraRegistry();

    setSaved({"DVP000002", "MIND00001"});
    discoverCameras();
    ids.clear();
    for (const CameraInfo& info : cameraDeviceList) {
        ids << info.idText();
    }
    QCOMPARE(ids, (QStringList{"DVP000002", "MIND00001", "HIK000001", "HIK000002", "DVP000001"}));
    // Every record opens through the registry.
    for (const CameraInfo& info : cameraDeviceList) {
        std::unique_ptr<CameraInterface> camera(openCamera(info));
        QVERIFY2(camera, qPrintable(info.idText()));
        QCOMPARE(camera->serial(), info.idText());
        QCOMPARE(camera->spectrum(), 1);
    }
    resetCameraRegistry();
    setSaved({});
}

QTEST_GUILESS_MAIN(TestIndustrialCameras)
#include "tst_industrialcameras.moc"
