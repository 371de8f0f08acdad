// HikCamera against the simulated MVCameraControl: what open asks of the
// library and in which order, the maker filter, the choice of device, the
// single-precision setters, loadDefaults on good and bad ranges, the model
// name that tells grey sensors, and the exception codes.

#include "industrialrig.h"
#include "logcapture.h"

#include <QtTest>

using namespace rig;

namespace {

const std::string kSerial = "SN0000001";

simdev::Simulator& hik()
{
    return mvccSimulator();
}

void setRange(const std::string& serial, const char* name, double current, double minimum, double maximum)
{
    hik().setFeatureRange(serial, name, simdev::Feature{current, minimum, maximum, current});
}

double feature(const std::string& serial, const char* name)
{
    simdev::Feature f;
    hik().featureOf(serial, name, &f);
    return f.value;
}

} // namespace

class TestHikCamera : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openCallsInOrder();
    void makerFilter_data();
    void makerFilter();
    void choiceOfDevice_data();
    void choiceOfDevice();
    void setters_data();
    void setters();
    void loadDefaults_data();
    void loadDefaults();
    void modelNameTellsTheSensor_data();
    void modelNameTellsTheSensor();
    void exceptionCodes_data();
    void exceptionCodes();
};

void TestHikCamera::init()
{
    resetAll();
    hik().setCallLogging(true);  // the tests read which calls the driver made
}

void TestHikCamera::cleanup()
{
    QCOMPARE(hik().liveHandles(), 0);
    resetAll();
}

void TestHikCamera::openCallsInOrder()
{
    QVERIFY(addDevice(Kind::Hik, kSerial, 64, 32) > 0);
    HikCamera prototype;
    const CameraInfo record = recordOf(prototype, kSerial);
    std::unique_ptr<CameraInterface> driver(prototype.create(record));
    QCOMPARE(prototype.deviceCount(), 12);
    driver->setColorOutput(true);
    hik().clearCalls();
    QVERIFY(driver->open());
    QCOMPARE(names(hik().callNames()),
             (QStringList{"MV_CC_CreateHandle", "MV_CC_OpenDevice", "MV_CC_RegisterImageCallBack",
                          "MV_CC_RegisterExceptionCallBack", "MV_CC_GetStringValue", "MV_CC_GetIntValue",
                          "MV_CC_GetIntValue", "MV_CC_SetEnumValue", "MV_CC_SetCommandValue", "MV_CC_SetBoolValue",
                          "MV_CC_SetBoolValue", "MV_CC_SetIntValue"}));
    const auto calls = hik().calls();
    QCOMPARE(calls[1].arguments, std::string("1, 0"));  // exclusive, no switchover key
    QCOMPARE(calls[4].arguments, std::string("DeviceModelName"));
    QCOMPARE(calls[8].arguments, std::string("UserSetLoad"));
    QCOMPARE(feature(kSerial, "UserSetSelector"), 0.0);
    QCOMPARE(feature(kSerial, "SharpnessEnable"), 1.0);
    QCOMPARE(feature(kSerial, "GammaEnable"), 1.0);
    QCOMPARE(feature(kSerial, "GevHeartbeatTimeout"), 1000.0);
    QVERIFY(!hik().streaming(kSerial));  // open does not start acquisition
    QCOMPARE(static_cast<HikCamera*>(driver.get())->frameBytes(), 64 * 32 * 4);
    QCOMPARE(driver->typeId(), QStringLiteral("hikcamera_IID"));

    hik().clearCalls();
    driver->close();
    QCOMPARE(names(hik().callNames()), (QStringList{"MV_CC_CloseDevice", "MV_CC_DestroyHandle"}));
    QVERIFY(!driver->startGrab());
}

void TestHikCamera::makerFilter_data()
{
    QTest::addColumn<QStringList>("makers");  // one device each, serials HK0000000, HK0000001, ...
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("the maker's names") << QStringList{"Hikrobot", "Basler", "GEV Camera", "Hikvision"}
                                       << QStringList{"HK0000000", "HK0000002", "HK0000003"};
    QTest::newRow("case-sensitive") << QStringList{"hikrobot", "HIKROBOT", "gev", "xHiky"}
                                    << QStringList{"HK0000003"};
    QTest::newRow("brim-full name ending in the maker") << QStringList{QString(29, 'X') + "Hik"}
                                                        << QStringList{"HK0000000"};
    // The model name behind a full maker field starts with "Hik": not the maker's.
    QTest::newRow("brim-full name, maker only behind it") << QStringList{QString(32, 'X')} << QStringList{};
    QTest::newRow("none") << QStringList{} << QStringList{};
}

void TestHikCamera::makerFilter()
{
    QFETCH(QStringList, makers);
    QFETCH(QStringList, kept);
    for (int i = 0; i < makers.size(); ++i) {
        simdev::DeviceProfile profile = device(Kind::Hik, "HK000000" + std::to_string(i));
        profile.maker = makers[i].toStdString();
        profile.model = "Hik-Model";
        QVERIFY(hik().addDevice(profile) > 0);
    }
    HikCamera prototype;
    const QList<CameraInfo> found = prototype.enumerate();
    QStringList ids;
    for (int j = 0; j < found.size(); ++j) {
        ids << found[j].idText();
        QCOMPARE(found[j].index, j);
        QCOMPARE(found[j].number, -1);
        QCOMPARE(found[j].iid, QStringLiteral("hikcamera_IID"));
    }
    QCOMPARE(ids, kept);
    QCOMPARE(int(HikCamera::deviceList.size()), kept.size());
    QCOMPARE(names(hik().callNames()), QStringList{"MV_CC_EnumDevices"});
    QCOMPARE(hik().calls()[0].arguments, std::string("5"));
}

void TestHikCamera::choiceOfDevice_data()
{
    QTest::addColumn<QStringList>("serials");  // devices in enumeration order
    QTest::addColumn<int>("busy");             // device opened elsewhere (-1: none)
    QTest::addColumn<QString>("id");           // the record the driver is created for
    QTest::addColumn<QString>("opened");       // the device it opens ("" none)
    QTest::addColumn<QString>("serial");       // what serial() says afterwards
    QTest::addColumn<int>("openErrors");       // "camera open error" lines

    QTest::newRow("its own serial") << QStringList{"SN0000001", "SN0000002"} << -1 << "SN0000002" << "SN0000002"
                                    << "SN0000002" << 0;
    QTest::newRow("8 characters: the first that opens")
        << QStringList{"SN0000001", "SN0000002"} << 0 << "ABCDEFGH" << "SN0000002" << "SN0000002" << 1;
    QTest::newRow("9 characters matching nothing: the first that opens")
        << QStringList{"SN0000001", "SN0000002"} << -1 << "NOSUCHONE" << "SN0000001" << "SN0000001" << 0;
    QTest::newRow("its own device busy: no other") << QStringList{"SN0000001", "SN0000002"} << 1 << "SN0000002"
                                                   << "" << "SN0000002" << 1;
    // Both report the same 16-byte serial (their serials are longer): the
    // record's serial names the last of them.
    QTest::newRow("one serial twice: the last")
        << QStringList{"ABCDEFGHIJKLMNOP-1", "ABCDEFGHIJKLMNOP-2"} << -1 << "ABCDEFGHIJKLMNOP"
        << "ABCDEFGHIJKLMNOP-2" << "ABCDEFGHIJKLMNOP" << 0;
    QTest::newRow("nothing opens") << QStringList{"SN0000001"} << 0 << "SHORT" << "" << "SHORT" << 1;
}

void TestHikCamera::choiceOfDevice()
{
    QFETCH(QStringList, serials);
    QFETCH(int, busy);
    QFETCH(QString, id);
    QFETCH(QString, opened);
    QFETCH(QString, serial);
    QFETCH(int, openErrors);
    for (const QString& s : serials) {
        QVERIFY(addDevice(Kind::Hik, s.toStdString()) > 0);
    }
    HikCamera prototype;
    prototype.enumerate();
    std::unique_ptr<CameraInterface> other;
    if (busy >= 0) {
        other = openDriver(Kind::Hik, serials[busy].toStdString(), false);
        QVERIFY(other);
    }

    LogCapture log;
    CameraInfo record;
    record.index = 0;
    record.iid = QStringLiteral("hikcamera_IID");
    record.setId(id);
    std::unique_ptr<CameraInterface> driver(prototype.create(record));
    QCOMPARE(driver->open(), !opened.isEmpty());
    QCOMPARE(driver->serial(), serial);
    QCOMPARE(log.matching(QStringLiteral("camera open error : 80000203")).size(), openErrors);
    if (!opened.isEmpty()) {
        QVERIFY(driver->startGrab());
        QCOMPARE(hik().pump(opened.toStdString(), 1), 1);
        QVERIFY(hik().waitIdle(opened.toStdString()));
        const Polled frame = poll(*driver, false);
        QVERIFY(frame.got);
        QCOMPARE(frame.check.device, hik().deviceNumber(opened.toStdString()));
    }
}

void TestHikCamera::setters_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("feature");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("expected");

    // Single precision throughout, as the camera stores it.
    QTest::newRow("frame rate 9 at 60 fps") << "rate" << 9 << "AcquisitionFrameRate" << 0.1 << 60.0 << 7.5;
    QTest::newRow("frame rate 1 at 60 fps") << "rate" << 1 << "AcquisitionFrameRate" << 0.1 << 60.0
                                            << double(60.0f * 0.66f);
    QTest::newRow("frame rate 3 at 60 fps") << "rate" << 3 << "AcquisitionFrameRate" << 0.1 << 60.0
                                            << double(60.0f * 0.33f);
    QTest::newRow("frame rate -2 at 60 fps") << "rate" << -2 << "AcquisitionFrameRate" << 0.1 << 60.0 << 60.0;
    QTest::newRow("gain 64: its maximum") << "gain" << 64 << "Gain" << 0.0 << 17.0 << 17.0;
    QTest::newRow("gain 0: its minimum") << "gain" << 0 << "Gain" << 2.0 << 17.0 << 2.0;
    QTest::newRow("gain 32 of 0..16") << "gain" << 32 << "Gain" << 0.0 << 16.0 << 8.0;
    QTest::newRow("sharpness 50 of 0..100") << "sharpness" << 50 << "Sharpness" << 0.0 << 100.0 << 50.0;
    QTest::newRow("sharpness 50 of 10..310") << "sharpness" << 50 << "Sharpness" << 10.0 << 310.0 << 160.0;
    QTest::newRow("sharpness 33 of 0..255, truncated") << "sharpness" << 33 << "Sharpness" << 0.0 << 255.0 << 84.0;
    QTest::newRow("gamma 250: its maximum") << "gamma" << 250 << "Gamma" << 0.0 << 4.0 << 4.0;
    QTest::newRow("gamma 125 of 0..4") << "gamma" << 125 << "Gamma" << 0.0 << 4.0 << 2.0;
    QTest::newRow("exposure 12 ms") << "exposure" << 12 << "ExposureTime" << 15.0 << 1000000.0 << 12000.0;
}

void TestHikCamera::setters()
{
    QFETCH(QString, setter);
    QFETCH(int, value);
    QFETCH(QString, feature);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, expected);
    QVERIFY(addDevice(Kind::Hik, kSerial) > 0);
    const std::string name = feature.toStdString();
    setRange(kSerial, name.c_str(), minimum, minimum, maximum);
    auto driver = openDriver(Kind::Hik, kSerial, false);
    QVERIFY(driver);
    hik().setFeatureRange(kSerial, "GainAuto", simdev::Feature{2, 0, 2, 2});

    if (setter == QLatin1String("rate")) {
        driver->setFrameRate(value);
    } else if (setter == QLatin1String("gain")) {
        driver->setGain(value);
        QCOMPARE(::feature(kSerial, "GainAuto"), 0.0);
    } else if (setter == QLatin1String("sharpness")) {
        driver->setSharpness(value);
    } else if (setter == QLatin1String("gamma")) {
        driver->setGamma(value);
    } else {
        driver->setExposure(value);
    }
    QCOMPARE(::feature(kSerial, name.c_str()), expected);
}

void TestHikCamera::loadDefaults_data()
{
    QTest::addColumn<QVector<double>>("exposure");  // current; the ranges below: current, minimum, maximum
    QTest::addColumn<QVector<double>>("gain");
    QTest::addColumn<QVector<double>>("sharpness");
    QTest::addColumn<QVector<double>>("gamma");
    QTest::addColumn<QString>("unreadable");        // a getter that fails
    QTest::addColumn<QVector<int>>("expected");     // exposure, gain, sharpness, gamma

    // Single precision, whole part: 2 / (4 / 250.0f) comes out just under 125.
    QTest::newRow("on the scales") << QVector<double>{12500} << QVector<double>{8.5, 0, 17}
                                   << QVector<double>{50, 0, 100} << QVector<double>{2, 0, 4} << ""
                                   << QVector<int>{12, 32, 50, 124};
    QTest::newRow("ranges with no step") << QVector<double>{999} << QVector<double>{5, 5, 5}
                                         << QVector<double>{7, 7, 7} << QVector<double>{0, 0, 0} << ""
                                         << QVector<int>{0, 0, 0, 0};
    QTest::newRow("current beyond the range") << QVector<double>{1000} << QVector<double>{20, 0, 17}
                                              << QVector<double>{150, 0, 100} << QVector<double>{-1, 0, 4} << ""
                                              << QVector<int>{1, 64, 100, 0};
    QTest::newRow("gain unreadable") << QVector<double>{12500} << QVector<double>{8.5, 0, 17}
                                     << QVector<double>{50, 0, 100} << QVector<double>{2, 0, 4} << "MV_CC_GetGain"
                                     << QVector<int>{12, 0, 50, 124};
}

// loadDefaults writes exposure, gain, sharpness and gamma of camera 3 on the
// system's scales; where a range has no step nothing is divided by it.
void TestHikCamera::loadDefaults()
{
    QFETCH(QVector<double>, exposure);
    QFETCH(QVector<double>, gain);
    QFETCH(QVector<double>, sharpness);
    QFETCH(QVector<double>, gamma);
    QFETCH(QString, unreadable);
    QFETCH(QVector<int>, expected);
    QVERIFY(addDevice(Kind::Hik, kSerial) > 0);
    setRange(kSerial, "ExposureTime", exposure[0], 15, 1000000);
    setRange(kSerial, "Gain", gain[0], gain[1], gain[2]);
    setRange(kSerial, "Sharpness", sharpness[0], sharpness[1], sharpness[2]);
    setRange(kSerial, "Gamma", gamma[0], gamma[1], gamma[2]);
    auto driver = openDriver(Kind::Hik, kSerial, true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());
    if (!unreadable.isEmpty()) {
        hik().failNext(unreadable.toStdString(), MV_E_SUPPORT);
    }

    int parameters[350];
    std::fill(std::begin(parameters), std::end(parameters), -7);
    hik().clearCalls();
    driver->loadDefaults(parameters, 3);
    const QStringList calls = names(hik().callNames());
    QCOMPARE(calls.mid(0, 5), (QStringList{"MV_CC_StopGrabbing", "MV_CC_SetEnumValue", "MV_CC_SetCommandValue",
                                           "MV_CC_SetEnumValue", "MV_CC_StartGrabbing"}));
    QCOMPARE(hik().calls()[3].arguments, std::string("PixelFormat, 17301513"));  // 0x01080009, Bayer RG 8
    QCOMPARE(hik().formatOf(kSerial), simdev::PixelFormat::BayerRG8);
    QVERIFY(hik().streaming(kSerial));
    QCOMPARE(parameters[3], expected[0]);
    QCOMPARE(parameters[8 + 3], expected[1]);
    QCOMPARE(parameters[16 + 3], expected[2]);
    QCOMPARE(parameters[32 + 3], expected[3]);
    QCOMPARE(parameters[24 + 3], -7);  // contrast: left alone
    QCOMPARE(parameters[2], -7);

    // The frames after it are still whole colour frames.
    QCOMPARE(hik().pump(kSerial, 1), 1);
    QVERIFY(hik().waitIdle(kSerial));
    const Polled frame = poll(*driver, true, true);
    QVERIFY(frame.got);
    QVERIFY2(frame.check.whole, frame.check.problem.c_str());
}

void TestHikCamera::modelNameTellsTheSensor_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("mono");       // what the sensor is
    QTest::addColumn<bool>("converted");  // the driver converted colour

    QTest::newRow("ends in M: grey") << "MV-CA013-20GM" << true << false;
    QTest::newRow("ends in C: colour") << "MV-CA013-20GC" << false << true;
    QTest::newRow("ends in m: colour") << "MV-CA013-20Gm" << true << true;
    QTest::newRow("no model name: colour") << "" << false << true;
}

void TestHikCamera::modelNameTellsTheSensor()
{
    QFETCH(QString, model);
    QFETCH(bool, mono);
    QFETCH(bool, converted);
    simdev::DeviceProfile profile = hik().makeSpec(kSerial, model.toStdString(), 64, 32, mono);
    QVERIFY(hik().addDevice(profile) > 0);
    auto driver = openDriver(Kind::Hik, kSerial, true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());
    hik().clearCalls();
    QCOMPARE(hik().pump(kSerial, 1), 1);
    QVERIFY(hik().waitIdle(kSerial));
    QCOMPARE(names(hik().callNames()).contains(QStringLiteral("MV_CC_ConvertPixelType")), converted);
    const Polled frame = poll(*driver, true, !mono);
    QVERIFY(frame.got);
    QVERIFY2(frame.check.whole, frame.check.problem.c_str());
}

void TestHikCamera::exceptionCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("online");
    QTest::newRow("0x8001: disconnected") << 0x8001 << false;
    QTest::newRow("0x8002: ignored") << 0x8002 << true;
    QTest::newRow("0: ignored") << 0 << true;
}

void TestHikCamera::exceptionCodes()
{
    QFETCH(int, code);
    QFETCH(bool, online);
    QVERIFY(addDevice(Kind::Hik, kSerial) > 0);
    auto driver = openDriver(Kind::Hik, kSerial, false);
    QVERIFY(driver);
    LogCapture log;
    QVERIFY(hik().postEvent(kSerial, code));
    QVERIFY(hik().waitIdle(kSerial));
    QCOMPARE(driver->isOnline(), online);
    QCOMPARE(log.matching(QStringLiteral("camera SN0000001 disconnect")).size(), online ? 0 : 1);
}

QTEST_GUILESS_MAIN(TestHikCamera)
#include "tst_hikcamera.moc"
