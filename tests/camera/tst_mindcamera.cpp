// MindCamera against the simulated MVCAMSDK: what open asks of the library,
// the whole-number steps of the setters, the one-shot automatic exposure,
// loadDefaults on good and narrow ranges, connection messages, the table of
// twelve and texts that fill their fields.

#include "industrialrig.h"

#include <QJsonObject>
#include <QtTest>

using namespace rig;

namespace {

const std::string kSerial = "SN0000001";

simdev::Simulator& mind()
{
    return mindSimulator();
}

void setRange(const std::string& serial, const char* name, double current, double minimum, double maximum)
{
    mind().setFeatureRange(serial, name, simdev::Feature{current, minimum, maximum, current});
}

double feature(const std::string& serial, const char* name)
{
    simdev::Feature f;
    mind().featureOf(serial, name, &f);
    return f.value;
}

} // namespace

class TestMindCamera : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openCallsInOrder_data();
    void openCallsInOrder();
    void setters_data();
    void setters();
    void autoAdjust();
    void loadDefaults_data();
    void loadDefaults();
    void connectionMessages();
    void tableOfTwelve();
    void brimFullSerial();
};

void TestMindCamera::init()
{
    resetAll();
    mind().setCallLogging(true);  // the tests read which calls the driver made
}

void TestMindCamera::cleanup()
{
    QCOMPARE(mind().liveHandles(), 0);
    resetAll();
}

void TestMindCamera::openCallsInOrder_data()
{
    QTest::addColumn<bool>("mono");
    QTest::addColumn<bool>("colour");
    QTest::addColumn<QStringList>("format");  // the calls that choose the output
    QTest::addColumn<double>("isp");

    QTest::newRow("colour sensor, colour output")
        << false << true << QStringList{"CameraSetMediaType", "CameraSetIspOutFormat"} << double(0x02180014);
    QTest::newRow("colour sensor, grey output")
        << false << false << QStringList{"CameraSetMediaType", "CameraSetIspOutFormat"} << double(0x01080001);
    QTest::newRow("grey sensor") << true << true << QStringList{"CameraSetIspOutFormat", "CameraSetMonochrome"}
                                 << double(0x01080001);
}

void TestMindCamera::openCallsInOrder()
{
    QFETCH(bool, mono);
    QFETCH(bool, colour);
    QFETCH(QStringList, format);
    QFETCH(double, isp);
    QVERIFY(addDevice(Kind::Mind, kSerial, 64, 32, mono) > 0);
    MindCamera prototype;
    const CameraInfo record = recordOf(prototype, kSerial);
    std::unique_ptr<CameraInterface> driver(prototype.create(record));
    QVERIFY(driver);
    driver->setColorOutput(colour);
    mind().clearCalls();
    QVERIFY(driver->open());
    const QStringList expected = QStringList{"CameraInit", "CameraGetCapability", "CameraGetImageResolution",
                                             "CameraSetImageResolution"}
                                 + format
                                 + QStringList{"CameraSetConnectionStatusCallback", "CameraSetCallbackFunction",
                                               "CameraCommonCall", "CameraSetAeState", "CameraCommonCall"};
    QCOMPARE(names(mind().callNames()), expected);
    const auto calls = mind().calls();
    QCOMPARE(calls[0].arguments, kSerial + ", -1, -1");
    QCOMPARE(calls[3].arguments, std::string("1, 255, 0, 0, 64, 32, 64, 32"));
    QCOMPARE(calls[calls.size() - 3].arguments, std::string("1, set_online_detect_interval(500)"));
    QCOMPARE(calls.back().arguments, std::string("1, set_awdr_enable(false)"));
    QCOMPARE(feature(kSerial, "IspOutFormat"), isp);
    if (!mono) {
        QCOMPARE(feature(kSerial, "MediaType"), colour ? 0.0 : 1.0);
    }
    QCOMPARE(feature(kSerial, "AeState"), 0.0);
    QCOMPARE(feature(kSerial, "OnlineDetectInterval"), 500.0);
    QVERIFY(!mind().streaming(kSerial));
    QCOMPARE(driver->typeId(), QStringLiteral("mindcamera_IID"));

    mind().clearCalls();
    driver->close();
    QCOMPARE(names(mind().callNames()), (QStringList{"CameraUnInit", "CameraSetCallbackFunction"}));
    QVERIFY(!driver->startGrab());  // after close
}

void TestMindCamera::setters_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("feature");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<bool>("colour");
    QTest::addColumn<double>("expected");

    QTest::newRow("sharpness 50 of 0..100") << "sharpness" << 50 << "Sharpness" << 0.0 << 100.0 << false << 50.0;
    QTest::newRow("sharpness 50 of 10..310") << "sharpness" << 50 << "Sharpness" << 10.0 << 310.0 << false << 160.0;
    QTest::newRow("sharpness of 5..55: no step, the minimum")
        << "sharpness" << 80 << "Sharpness" << 5.0 << 55.0 << false << 5.0;
    QTest::newRow("sharpness 50 of 0..399: whole steps") << "sharpness" << 50 << "Sharpness" << 0.0 << 399.0 << false
                                                         << 150.0;
    QTest::newRow("contrast 100 of 0..400") << "contrast" << 100 << "Contrast" << 0.0 << 400.0 << false << 200.0;
    QTest::newRow("gamma 50 of 0..1000: 4 x v") << "gamma" << 50 << "Gamma" << 0.0 << 1000.0 << false << 200.0;
    QTest::newRow("gamma 250 of 0..1000") << "gamma" << 250 << "Gamma" << 0.0 << 1000.0 << false << 1000.0;
    QTest::newRow("gain 64 of 16..144") << "gain" << 64 << "AnalogGain" << 16.0 << 144.0 << false << 144.0;
    QTest::newRow("gain 32 of 16..144") << "gain" << 32 << "AnalogGain" << 16.0 << 144.0 << false << 80.0;
    QTest::newRow("gain 0 of 16..144") << "gain" << 0 << "AnalogGain" << 16.0 << 144.0 << false << 16.0;
    QTest::newRow("exposure 12 ms") << "exposure" << 12 << "Exposure" << 100.0 << 1000000.0 << false << 12000.0;
    QTest::newRow("frame rate 2 with colour output") << "rate" << 2 << "FrameSpeed" << 0.0 << 9.0 << true << 3.0;
    QTest::newRow("frame rate 2 with grey output") << "rate" << 2 << "FrameSpeed" << 0.0 << 9.0 << false << 2.0;
}

void TestMindCamera::setters()
{
    QFETCH(QString, setter);
    QFETCH(int, value);
    QFETCH(QString, feature);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(bool, colour);
    QFETCH(double, expected);
    QVERIFY(addDevice(Kind::Mind, kSerial) > 0);
    const std::string name = feature.toStdString();
    setRange(kSerial, name.c_str(), minimum, minimum, maximum);
    auto driver = openDriver(Kind::Mind, kSerial, colour);
    QVERIFY(driver);
    if (setter == QLatin1String("sharpness")) {
        driver->setSharpness(value);
    } else if (setter == QLatin1String("contrast")) {
        driver->setContrast(value);
    } else if (setter == QLatin1String("gamma")) {
        driver->setGamma(value);
    } else if (setter == QLatin1String("gain")) {
        driver->setGain(value);
    } else if (setter == QLatin1String("exposure")) {
        driver->setExposure(value);
    } else {
        driver->setFrameRate(value);
    }
    QCOMPARE(::feature(kSerial, name.c_str()), expected);

    // The switches that only this driver has.
    driver->setMirror(true, false);
    QCOMPARE(::feature(kSerial, "MirrorH"), 1.0);
    QCOMPARE(::feature(kSerial, "MirrorV"), 0.0);
    driver->oneShotWhiteBalance();
    QCOMPARE(::feature(kSerial, "OnceWb"), 1.0);
    driver->setWideDynamicRange(true);
    QCOMPARE(::feature(kSerial, "Awdr"), 1.0);
    driver->setTriggerMode(true);
    QCOMPARE(::feature(kSerial, "TriggerMode"), 2.0);
}

void TestMindCamera::autoAdjust()
{
    QVERIFY(addDevice(Kind::Mind, kSerial) > 0);
    auto driver = openDriver(Kind::Mind, kSerial, false);
    QVERIFY(driver);
    QCOMPARE(driver->autoAdjust(true), QJsonObject());
    QCOMPARE(feature(kSerial, "AeState"), 1.0);
    QCOMPARE(feature(kSerial, "AeTarget"), 120.0);
    QCOMPARE(feature(kSerial, "AeExposureMin"), 0.0);
    QCOMPARE(feature(kSerial, "AeExposureMax"), 100000.0);
    QCOMPARE(feature(kSerial, "AntiFlick"), 1.0);

    // What the automatic exposure settled on, the gain as the SDK has it.
    setRange(kSerial, "Exposure", 12500, 100, 1000000);
    setRange(kSerial, "AnalogGain", 40, 16, 144);
    const QJsonObject result = driver->autoAdjust(false);
    QCOMPARE(result, (QJsonObject{{"ExposureTime", 12500}, {"Gain", 40}}));
    QCOMPARE(feature(kSerial, "AeState"), 0.0);
}

void TestMindCamera::loadDefaults_data()
{
    QTest::addColumn<QVector<double>>("ranges");  // exposure; gain, sharpness, contrast, gamma as current, min, max
    QTest::addColumn<int>("autoExposure");        // parameters[193]
    QTest::addColumn<int>("grabSpeed");           // parameters[139]
    QTest::addColumn<QVector<int>>("expected");   // exposure, gain, sharpness, contrast, gamma

    QTest::newRow("on the scales") << QVector<double>{12500, 80, 16, 144, 160, 10, 310, 100, 0, 200, 200, 0, 1000}
                                   << 0 << 1 << QVector<int>{12, 32, 50, 100, 50};
    QTest::newRow("ranges narrower than their scales")
        << QVector<double>{999, 16, 16, 16, 30, 0, 50, 7, 0, 150, 3, 0, 200} << 1 << 0 << QVector<int>{0, 0, 0, 0, 0};
    QTest::newRow("current beyond the range")
        << QVector<double>{100000, 200, 16, 144, 150, 0, 100, -5, 0, 200, 2000, 0, 1000} << 0 << 2
        << QVector<int>{100, 64, 100, 0, 250};
}

// loadDefaults writes camera 2's settings on the system's scales; where a
// range is narrower than its scale nothing is divided by its step of 0.
void TestMindCamera::loadDefaults()
{
    QFETCH(QVector<double>, ranges);
    QFETCH(int, autoExposure);
    QFETCH(int, grabSpeed);
    QFETCH(QVector<int>, expected);
    QVERIFY(addDevice(Kind::Mind, kSerial) > 0);
    setRange(kSerial, "Exposure", ranges[0], 100, 1000000);
    const char* names[] = {"AnalogGain", "Sharpness", "Contrast", "Gamma"};
    for (int i = 0; i < 4; ++i) {
        setRange(kSerial, names[i], ranges[1 + 3 * i], ranges[2 + 3 * i], ranges[3 + 3 * i]);
    }
    auto driver = openDriver(Kind::Mind, kSerial, true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());
    driver->setMirror(true, true);

    int parameters[350];
    std::fill(std::begin(parameters), std::end(parameters), -7);
    parameters[193] = autoExposure;
    parameters[139] = grabSpeed;
    driver->loadDefaults(parameters, 2);
    QCOMPARE(parameters[2], expected[0]);
    QCOMPARE(parameters[8 + 2], expected[1]);
    QCOMPARE(parameters[16 + 2], expected[2]);
    QCOMPARE(parameters[24 + 2], expected[3]);
    QCOMPARE(parameters[32 + 2], expected[4]);
    QCOMPARE(parameters[3], -7);
    QCOMPARE(feature(kSerial, "AeState"), double(autoExposure));
    QCOMPARE(feature(kSerial, "MirrorH"), 0.0);
    QCOMPARE(feature(kSerial, "MirrorV"), 0.0);
    QCOMPARE(feature(kSerial, "WbMode"), 0.0);
    QCOMPARE(feature(kSerial, "FrameSpeed"), double(grabSpeed + 1));  // colour output
    QCOMPARE(feature(kSerial, "IspOutFormat"), double(0x02180014));
    QVERIFY(mind().streaming(kSerial));
}

void TestMindCamera::connectionMessages()
{
    QVERIFY(addDevice(Kind::Mind, kSerial) > 0);
    auto driver = openDriver(Kind::Mind, kSerial, false);
    QVERIFY(driver);
    const struct {
        int message;
        bool online;
    } steps[] = {{3, true}, {0, false}, {3, false}, {1, true}, {2, true}};
    for (const auto& step : steps) {
        QVERIFY(mind().postEvent(kSerial, step.message));
        QVERIFY(mind().waitIdle(kSerial));
        QCOMPARE(driver->isOnline(), step.online);
    }
}

void TestMindCamera::tableOfTwelve()
{
    for (int i = 0; i < 14; ++i) {
        QVERIFY(addDevice(Kind::Mind, "SN00000" + std::to_string(10 + i)) > 0);
    }
    MindCamera prototype;
    const QList<CameraInfo> found = prototype.enumerate();
    QCOMPARE(found.size(), 12);
    QCOMPARE(found.last().index, 11);
    QCOMPARE(found.last().idText(), QStringLiteral("SN0000021"));
    QCOMPARE(names(mind().callNames()), (QStringList{"CameraSetSysOption", "CameraEnumerateDevice"}));
    QCOMPARE(mind().calls()[0].arguments, std::string("IpCheck, repair"));
    QCOMPARE(prototype.deviceCount(), 12);

    // A record outside the table opens nothing it happens to hold.
    CameraInfo record = found.first();
    for (int index : {-1, 12, 40}) {
        record.index = index;
        QVERIFY(!prototype.create(record));
    }
    record.index = 3;
    std::unique_ptr<CameraInterface> driver(prototype.create(record));
    QVERIFY(driver);
    QVERIFY(driver->open());
}

// A serial that fills its 32 bytes (and the bytes behind it are printable):
// the record keeps exactly those 32, and reconnect finds the device by them.
void TestMindCamera::brimFullSerial()
{
    const std::string serial(32, 'S');
    QVERIFY(addDevice(Kind::Mind, "OTHER0001") > 0);
    QVERIFY(addDevice(Kind::Mind, serial) > 0);
    auto driver = openDriver(Kind::Mind, serial, false);
    QVERIFY(driver);
    QCOMPARE(driver->serial(), QString::fromStdString(serial));
    QVERIFY(driver->startGrab());
    QVERIFY(mind().vanish(serial));
    QVERIFY(mind().waitIdle(serial));
    driver->release();
    QVERIFY(mind().comeBack(serial, 0));
    QVERIFY(driver->reconnect());
    QCOMPARE(mind().pump(serial, 1), 1);
    QVERIFY(mind().waitIdle(serial));
    QCOMPARE(takeCount(*driver), 1);
}

QTEST_GUILESS_MAIN(TestMindCamera)
#include "tst_mindcamera.moc"
