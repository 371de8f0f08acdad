// Do3thinkCamera against the simulated DVPCamera: enumeration of at most
// sixteen with its failures, what open asks of the library, the skip count,
// the unscaled setters and loadDefaults, names and identities that fill
// their fields.

#include "industrialrig.h"
#include "logcapture.h"

#include <QtTest>

using namespace rig;

namespace {

const std::string kSerial = "SN0000001";

simdev::Simulator& dvp()
{
    return dvpSimulator();
}

void setRange(const std::string& serial, const char* name, double current, double minimum, double maximum)
{
    dvp().setFeatureRange(serial, name, simdev::Feature{current, minimum, maximum, current});
}

double feature(const std::string& serial, const char* name)
{
    simdev::Feature f;
    dvp().featureOf(serial, name, &f);
    return f.value;
}

} // namespace

class TestDo3thinkCamera : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enumeration_data();
    void enumeration();
    void openCallsInOrder_data();
    void openCallsInOrder();
    void skipCount_data();
    void skipCount();
    void setters();
    void loadDefaults();
    void brimFullTexts();
};

void TestDo3thinkCamera::init()
{
    resetAll();
    dvp().setCallLogging(true);  // the tests read which calls the driver made
}

void TestDo3thinkCamera::cleanup()
{
    QCOMPARE(dvp().liveHandles(), 0);
    resetAll();
}

void TestDo3thinkCamera::enumeration_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<int>("failingNumber");  // dvpEnum fails for it (-1: none)
    QTest::addColumn<bool>("refreshFails");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<int>("enumCalls");
    QTest::addColumn<QString>("logged");

    QStringList sixteen;
    for (int i = 0; i < 16; ++i) {
        sixteen << QStringLiteral("DVP%1").arg(i, 6, 10, QLatin1Char('0'));
    }
    QTest::newRow("three") << 3 << -1 << false << QStringList{"DVP000000", "DVP000001", "DVP000002"} << 3 << "";
    QTest::newRow("20 found: numbers 0 to 15") << 20 << -1 << false << sixteen << 16 << "";
    QTest::newRow("number 1 of 3 fails") << 3 << 1 << false << QStringList{"DVP000000", "DVP000002"} << 3
                                         << "Do3thinkCamera Enumerate fail!";
    QTest::newRow("refresh fails") << 3 << -1 << true << QStringList{} << 0 << "Do3thinkCamera find camera fail";
}

void TestDo3thinkCamera::enumeration()
{
    QFETCH(int, cameras);
    QFETCH(int, failingNumber);
    QFETCH(bool, refreshFails);
    QFETCH(QStringList, ids);
    QFETCH(int, enumCalls);
    QFETCH(QString, logged);
    for (int i = 0; i < cameras; ++i) {
        QVERIFY(addDevice(Kind::Dvp, QStringLiteral("DVP%1").arg(i, 6, 10, QLatin1Char('0')).toStdString()) > 0);
    }
    if (failingNumber >= 0) {
        dvp().failNext("dvpEnum", DVP_STATUS_FAILED, 1, failingNumber);
    }
    if (refreshFails) {
        dvp().failNext("dvpRefresh", DVP_STATUS_FAILED);
    }
    LogCapture log;
    Do3thinkCamera prototype;
    const QList<CameraInfo> found = prototype.enumerate();
    QStringList foundIds;
    for (int j = 0; j < found.size(); ++j) {
        foundIds << found[j].idText();
        QCOMPARE(found[j].index, j);
        QCOMPARE(found[j].iid, QStringLiteral("do3thinkcamera_IID"));
    }
    QCOMPARE(foundIds, ids);
    QCOMPARE(names(dvp().callNames()).count(QStringLiteral("dvpEnum")), enumCalls);
    QCOMPARE(int(Do3thinkCamera::deviceList.size()), ids.size());
    QCOMPARE(log.lines().size(), logged.isEmpty() ? 0 : 1);
    if (!logged.isEmpty()) {
        QCOMPARE(log.lines().first(), logged);
    }
    QCOMPARE(prototype.deviceCount(), cameras);

    // Each record opens the camera it names.
    for (const CameraInfo& info : found) {
        std::unique_ptr<CameraInterface> driver(prototype.create(info));
        QVERIFY(driver);
        QVERIFY(driver->open());
        QCOMPARE(driver->serial(), info.idText());
    }
    CameraInfo outside;
    outside.index = found.size();
    QVERIFY(!prototype.create(outside));
}

void TestDo3thinkCamera::openCallsInOrder_data()
{
    QTest::addColumn<bool>("colour");
    QTest::addColumn<int>("target");
    QTest::newRow("colour output") << true << 10;
    QTest::newRow("grey output") << false << 30;
}

void TestDo3thinkCamera::openCallsInOrder()
{
    QFETCH(bool, colour);
    QFETCH(int, target);
    QVERIFY(addDevice(Kind::Dvp, kSerial, 64, 32) > 0);
    Do3thinkCamera prototype;
    const CameraInfo record = recordOf(prototype, kSerial);
    std::unique_ptr<CameraInterface> driver(prototype.create(record));
    driver->setColorOutput(colour);
    dvp().clearCalls();
    QVERIFY(driver->open());
    QCOMPARE(names(dvp().callNames()),
             (QStringList{"dvpOpenByName", "dvpSetGammaState", "dvpSetContrastState", "dvpSetSharpnessState",
                          "dvpSetTargetFormat", "dvpSetConfigString", "dvpSetAeOperation", "dvpGetRoi",
                          "dvpSetLinkTimeout", "dvpRegisterEventCallback", "dvpRegisterStreamCallback"}));
    const auto calls = dvp().calls();
    QCOMPARE(calls[0].arguments, "MV-CA013-20GC#" + kSerial + ", 1");
    QCOMPARE(calls[9].arguments, std::string("1, callback, 7"));
    QCOMPARE(calls[10].arguments, std::string("1, callback, 2"));
    QCOMPARE(feature(kSerial, "TargetFormat"), double(target));
    QCOMPARE(feature(kSerial, "GammaState"), 1.0);
    QCOMPARE(feature(kSerial, "ContrastState"), 1.0);
    QCOMPARE(feature(kSerial, "SharpnessState"), 1.0);
    QCOMPARE(feature(kSerial, "HdrEnable"), 0.0);
    QCOMPARE(feature(kSerial, "AeOperation"), 0.0);
    QCOMPARE(feature(kSerial, "LinkTimeout"), 500.0);
    QVERIFY(!dvp().streaming(kSerial));
    QVERIFY(driver->isOnline());
    QCOMPARE(driver->typeId(), QStringLiteral("do3thinkcamera_IID"));

    // startGrab looks at the stream first and starts it only when stopped.
    dvp().clearCalls();
    QVERIFY(driver->startGrab());
    QVERIFY(driver->startGrab());
    QCOMPARE(names(dvp().callNames()), (QStringList{"dvpIsValid", "dvpGetStreamState", "dvpStart", "dvpIsValid",
                                                    "dvpGetStreamState"}));
    dvp().clearCalls();
    driver->close();
    QCOMPARE(names(dvp().callNames()), QStringList{"dvpClose"});
    QVERIFY(!driver->startGrab());
}

void TestDo3thinkCamera::skipCount_data()
{
    QTest::addColumn<int>("skip");
    QTest::addColumn<QVector<int>>("delivered");  // sequence numbers of frames 1 to 9 taken
    QTest::newRow("0: every frame") << 0 << QVector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("1: every second") << 1 << QVector<int>{2, 4, 6, 8};
    QTest::newRow("2: every third") << 2 << QVector<int>{3, 6, 9};
    QTest::newRow("negative: every frame") << -4 << QVector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9};
}

void TestDo3thinkCamera::skipCount()
{
    QFETCH(int, skip);
    QFETCH(QVector<int>, delivered);
    QVERIFY(addDevice(Kind::Dvp, kSerial) > 0);
    auto driver = openDriver(Kind::Dvp, kSerial, true);
    QVERIFY(driver);
    driver->setFrameRate(skip);
    QVERIFY(driver->startGrab());
    QVector<int> taken;
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(dvp().pump(kSerial, 1), 1);
        QVERIFY(dvp().waitIdle(kSerial));
        const Polled frame = poll(*driver, true, true);
        if (frame.got) {
            QVERIFY2(frame.check.whole, frame.check.problem.c_str());
            taken << int(frame.check.sequence);
        }
    }
    QCOMPARE(taken, delivered);
}

void TestDo3thinkCamera::setters()
{
    QVERIFY(addDevice(Kind::Dvp, kSerial) > 0);
    auto driver = openDriver(Kind::Dvp, kSerial, false);
    QVERIFY(driver);
    driver->setGain(40);
    QCOMPARE(feature(kSerial, "AnalogGain"), 40.0);
    driver->setSharpness(37);
    QCOMPARE(feature(kSerial, "Sharpness"), 37.0);
    driver->setContrast(150);
    QCOMPARE(feature(kSerial, "Contrast"), 150.0);
    driver->setGamma(120);
    QCOMPARE(feature(kSerial, "Gamma"), 120.0);
    driver->setExposure(12);
    QCOMPARE(feature(kSerial, "Exposure"), 12000.0);
    driver->setWideDynamicRange(true);
    QCOMPARE(feature(kSerial, "HdrEnable"), 1.0);
    driver->setTriggerMode(true);
    QCOMPARE(feature(kSerial, "TriggerState"), 1.0);
    QCOMPARE(feature(kSerial, "TriggerSource"), 1.0);
    QVERIFY(driver->autoAdjust(false).isEmpty());
}

void TestDo3thinkCamera::loadDefaults()
{
    QVERIFY(addDevice(Kind::Dvp, kSerial) > 0);
    setRange(kSerial, "Exposure", 12500, 20, 1000000);
    setRange(kSerial, "AnalogGain", 7.9, 0, 64);
    setRange(kSerial, "Sharpness", 33, 0, 100);
    setRange(kSerial, "Contrast", 140, 0, 200);
    setRange(kSerial, "Gamma", 210, 0, 300);
    auto driver = openDriver(Kind::Dvp, kSerial, true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());

    int parameters[350];
    std::fill(std::begin(parameters), std::end(parameters), -7);
    parameters[194] = 1;
    dvp().clearCalls();
    driver->loadDefaults(parameters, 5);
    QCOMPARE(parameters[5], 12);
    QCOMPARE(parameters[8 + 5], 7);
    QCOMPARE(parameters[16 + 5], 33);
    QCOMPARE(parameters[24 + 5], 140);
    QCOMPARE(parameters[32 + 5], 210);
    QCOMPARE(parameters[4], -7);
    QCOMPARE(feature(kSerial, "HdrEnable"), 1.0);
    QCOMPARE(feature(kSerial, "TargetFormat"), 10.0);
    const QStringList calls = names(dvp().callNames());
    QVERIFY(calls.contains(QStringLiteral("dvpLoadDefault")));
    QVERIFY(calls.contains(QStringLiteral("dvpSetRoi")));
    QVERIFY(dvp().streaming(kSerial));
    const auto all = dvp().calls();
    const auto roi = std::find_if(all.begin(), all.end(), [](const simdev::Call& c) { return c.function == "dvpSetRoi"; });
    QCOMPARE(roi->arguments, std::string("1, 0, 0, 64, 32"));
}

// A name of 64 bytes reaches dvpOpenByName whole and ends there, though the
// field has no room for its NUL and text lies behind it; an identity of 64
// bytes keeps the 63 a camera record holds.
void TestDo3thinkCamera::brimFullTexts()
{
    simdev::DeviceProfile profile = device(Kind::Dvp, std::string(64, 'I'));
    profile.name = std::string(64, 'N');
    QVERIFY(dvp().addDevice(profile) > 0);
    auto driver = openDriver(Kind::Dvp, std::string(63, 'I'), false);
    QVERIFY(driver);
    QCOMPARE(driver->serial(), QString(63, QLatin1Char('I')));
    QCOMPARE(dvp().calls().back().function, std::string("dvpRegisterStreamCallback"));
    const auto calls = dvp().calls();
    const auto open = std::find_if(calls.begin(), calls.end(),
                                   [](const simdev::Call& c) { return c.function == "dvpOpenByName"; });
    QCOMPARE(open->arguments, std::string(64, 'N') + ", 1");
}

QTEST_GUILESS_MAIN(TestDo3thinkCamera)
#include "tst_do3thinkcamera.moc"
