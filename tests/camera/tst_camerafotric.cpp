// The REST thermal camera driver against the loopback camera: opening, the
// palette and the grey path, the settings it writes, the measurement objects it
// registers and the temperatures it reads back (or fails to read), the
// watchdog, the stream's threads, a vanishing camera and discovery.
#include "camerafotric.h"
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "circle.h"
#include "clustomrect.h"
#include "imagehelpers.h"
#include "loopbackthermalcamera.h"
#include "messagecapture.h"
#include "repolygon.h"
#include "thermalnetworkscope.h"
#include "thermalsession.h"
#include "settle.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using Fault = LoopbackThermalCamera::Fault;

// The thermal palette as RRGGBB, entries 0 to 255.
const char* const kPaletteHex[256] = {
    "000F14", "000E19", "000C1F", "000B25", "000A2B", "000932", "000838", "00073C", "000642", "000548", "00034B",
    "000352", "020255", "080058", "0A005F", "0D0061", "120066", "17006A", "19006D", "1D0070", "210077", "240078",
    "28007B", "2B007E", "2F0082", "330083", "360086", "390089", "3C008A", "40008C", "43008F", "450090", "4A0091",
    "4D0094", "4F0095", "520096", "560097", "590098", "5C009B", "5E009B", "60009C", "65009D", "67009F", "6D00A1",
    "7100A0", "7300A0", "7600A1", "7800A0", "7B00A2", "7E00A2", "8000A1", "8300A2", "8400A0", "8600A1", "8A00A2",
    "8D009F", "9001A0", "9102A0", "95029F", "95059E", "96069B", "9B069A", "9C0799", "9D089A", "A1089A", "A30A99",
    "A40C96", "A60D94", "A90D95", "AC0E92", "AC1093", "AE1191", "B11290", "B4138F", "B3168A", "B61789", "B71886",
    "BA1887", "BD1985", "C01A84", "C11C81", "C01F7F", "C51F7C", "C6217B", "C62177", "C92374", "C82575", "C92673",
    "CE2770", "CF286F", "D02A6C", "D02D69", "D22E66", "D43065", "D53263", "D73360", "D7365D", "DA365C", "DB3859",
    "DB3B56", "DC3D55", "DC3E52", "DC4050", "DC424D", "DC434C", "DC4649", "DC4846", "DC4941", "DC4B42", "DC4D40",
    "DC4F3D", "DC513C", "DC5339", "DC5434", "DC5631", "DC5930", "DC5B2F", "DC5C2D", "DC5F2A", "DC6127", "DC6324",
    "DC6423", "DC6620", "DC691F", "DC6A1F", "DC6C1C", "DC6F19", "DC7117", "DC7216", "DC7413", "DC7614", "DC7811",
    "DC7B11", "DC7D0E", "DC7F0D", "DC7F0B", "DC8309", "DC8307", "DC8606", "DC8705", "DC8801", "DC8A01", "DC8D00",
    "DC8E00", "DC9100", "DC9300", "DC9400", "DC9600", "DC9800", "DC9A00", "DC9C00", "DC9E00", "DCA000", "DCA300",
    "DCA600", "DCAA00", "DCAB00", "DCAD00", "DCAE00", "DCB000", "DCB200", "DCB400", "DCB600", "DCB800", "DCBA00",
    "DCBB00", "DCBD00", "DCBF00", "DCC101", "DCC302", "DCC503", "DCC704", "DCC708", "DCC909", "DCCC08", "DCCD0D",
    "DCCE0E", "DCD011", "DCD115", "DCD414", "DCD417", "DCD61B", "DCD91D", "DCDA21", "DCDC24", "DCDD27", "DCDE2A",
    "DCE02D", "DCE131", "DCE236", "DCE339", "DCE53E", "DCE641", "DCE646", "DCE64C", "DCE651", "DCE656", "DCE659",
    "DCE660", "DCE666", "DCE66B", "DCE670", "DCE675", "DCE67D", "DCE683", "DCE688", "DCE68D", "DCE695", "DCE69D",
    "DCE6A0", "DCE6A9", "DCE6B0", "DCE6B1", "DCE6B2", "DCE6B3", "DCE6B4", "DCE6B5", "DCE6B6", "DCE6B7", "DCE6B8",
    "DCE6B9", "DCE6BA", "DCE6BB", "DCE6BC", "DCE6BD", "DCE6BE", "DCE6BF", "DCE6C0", "DCE6C1", "DCE6C2", "DCE6C3",
    "DCE6C4", "DCE6C5", "DCE6C6", "DCE6C7", "DCE6C8", "DCE6C9", "DCE6CA", "DCE6CB", "DCE6CC", "DCE6CD", "DCE6CE",
    "DCE6CF", "DCE6D0", "DCE6D1", "DCE6D2", "DCE6D3", "DCE6D4", "DCE6D5", "DCE6D6", "DCE6D7", "DCE6D8", "DCE6D9",
    "DCE6DA", "DCE6DB", "DCE6DC"};

// The four bytes of palette entry k in a colour frame: blue, green, red, 0.
QByteArray paletteBytes(int k)
{
    static const QVector<QByteArray> table = [] {
        QVector<QByteArray> t;
        for (const char* hex : kPaletteHex) {
            const QByteArray rgb = QByteArray::fromHex(hex);
            t.append(QByteArray() + rgb[2] + rgb[1] + rgb[0] + '\0');
        }
        return t;
    }();
    return table.at(k);
}

// The stretch written out plainly: the reference for the driver's.
std::vector<uchar> plainPalette(const std::vector<quint16>& raw)
{
    quint32 lo = 65535;
    quint32 hi = 0;
    for (quint16 v : raw) {
        lo = std::min<quint32>(lo, v);
        hi = std::max<quint32>(hi, v);
    }
    const quint32 range = hi > lo ? hi - lo : 1;
    std::vector<uchar> out(raw.size() * 4);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const quint32 k = ((raw[i] - lo) * 255) / range;
        const QByteArray px = paletteBytes(int(k));
        memcpy(&out[4 * i], px.constData(), 4);
    }
    return out;
}

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

Fault replyBody(const QByteArray& body, int status = 0)
{
    Fault f;
    f.replaceBody = true;
    f.body = body;
    f.status = status;
    return f;
}

// A live area set with temperature areas and others around them.
struct AreaSet {
    AreaSet() : set(0)
    {
        for (int d = 0; d < CammerSingleton::DetectCount; ++d) {
            set.roiLists.append(QList<ROIInterface*>());
        }
    }
    // Adds an area; returns its number.
    int add(int detect, int function, ROIInterface* shape, qint32 param, qint32 lower, qint32 upper)
    {
        const int n = set.roiCount[detect]++;
        const int s = detect * CammerSingleton::AreasPerDetect + n;
        set.roiFunction[s] = function;
        set.roiShapeType[s] = shape->type();
        set.roiParam[s] = param;
        set.roiLower[s] = lower;
        set.roiUpper[s] = upper;
        set.roiLists[detect].append(shape);
        return n;
    }
    CammerSingleton set;
};

qint32 pack(int high, int low)
{
    return qint32((quint32(quint16(qint16(high))) << 16) | quint16(low));
}

// Is the colour frame whole: in every row column 0 shows entry 0, column 1
// entry 255 and all others the same entry, the one of the first row?
bool wholeColourFrame(const QByteArray& frame, int width, int height, int* mark = nullptr)
{
    const QByteArray first = paletteBytes(0);
    const QByteArray last = paletteBytes(255);
    const QByteArray common = frame.mid(8, 4);
    for (int y = 0; y < height; ++y) {
        const char* row = frame.constData() + 4 * width * y;
        if (QByteArray(row, 4) != first || QByteArray(row + 4, 4) != last) {
            return false;
        }
        for (int x = 2; x < width; ++x) {
            if (QByteArray(row + 4 * x, 4) != common) {
                return false;
            }
        }
    }
    if (mark) {
        *mark = -1;
        for (int k = 0; k < 256; ++k) {
            if (paletteBytes(k) == common) {
                *mark = k;
                break;
            }
        }
    }
    return true;
}

} // namespace

class TestCameraFotric : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void paletteIsExact();
    void stretch_data();
    void stretch();
    void stretchEqualsPlainDivision();
    void greyPathMatchesOpenCv();

    void openSizesTheFrames_data();
    void openSizesTheFrames();
    void openFails_data();
    void openFails();
    void colourFramesAreWhole();
    void framesOfAnotherSizeAreDropped();

    void settersWriteTheWholeConfiguration_data();
    void settersWriteTheWholeConfiguration();
    void settersWriteNothingAfterAnIncompleteRead_data();
    void settersWriteNothingAfterAnIncompleteRead();

    void measurementObjects();
    void temperatures();
    void failedReads_data();
    void failedReads();

    void watchdog_data();
    void watchdog();

    void closeWhileStreamingAtFullRate();
    void thousandGrabCycles();
    void destructionMidFrame();
    void vanishingCamera();

    void discovery();
    void discoveryWithoutCameras();
    void builtIntoTheRegistry();

private:
    std::unique_ptr<CameraFotric> openDriver(bool colour);
    // Feeds one synthetic frame straight into the callback.
    void feed(CameraFotric& driver, quint32 sequence);

    std::unique_ptr<LoopbackThermalCamera> camera;
    std::unique_ptr<ThermalNetworkScope> network;
};

void TestCameraFotric::init()
{
    camera = std::make_unique<LoopbackThermalCamera>();
    camera->setSize(32, 24);
    QVERIFY(camera->start());
    network = std::make_unique<ThermalNetworkScope>(QStringLiteral("127.0.%1.1"), camera->restPort(),
                                                    camera->streamPort());
}

void TestCameraFotric::cleanup()
{
    network.reset();
    camera.reset();
}

std::unique_ptr<CameraFotric> TestCameraFotric::openDriver(bool colour)
{
    CameraFotric prototype;
    CameraInfo record;
    record.iid = QString::fromLatin1(kFotricCameraIid);
    record.setId(QStringLiteral("127.0.0.1"));
    record.setAddress(QStringLiteral("127.0.0.1"));
    std::unique_ptr<CameraFotric> driver(static_cast<CameraFotric*>(prototype.create(record)));
    driver->setColorOutput(colour);
    if (!driver->open()) {
        return nullptr;
    }
    return driver;
}

void TestCameraFotric::feed(CameraFotric& driver, quint32 sequence)
{
    int w = 0;
    int h = 0;
    driver.getSize(w, h);
    const QByteArray payload = LoopbackThermalCamera::framePayload(sequence, w, h);
    const streamsdk_frame frame{reinterpret_cast<const quint16*>(payload.constData()), w, h, sequence};
    CameraFotric::streamCallback(STREAMSDK_FRAME, &frame, &driver);
}

void TestCameraFotric::paletteIsExact()
{
    std::vector<quint16> raw(256);
    for (int v = 0; v < 256; ++v) {
        raw[std::size_t(v)] = quint16(v);
    }
    std::vector<uchar> out(256 * 4, 0xEE);
    applyThermalPalette(raw.data(), 256, kThermalPalette, out.data());
    for (int k = 0; k < 256; ++k) {
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&out[4 * std::size_t(k)]), 4), paletteBytes(k));
    }
}

void TestCameraFotric::stretch_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QList<int>>("entries");

    QTest::newRow("all equal") << QList<int>{700, 700, 700} << QList<int>{0, 0, 0};
    QTest::newRow("1000 to 2000") << QList<int>{1000, 2000, 1500} << QList<int>{0, 255, 127};
    QTest::newRow("full range") << QList<int>{0, 65535, 32767, 32768, 257} << QList<int>{0, 255, 127, 127, 1};
    QTest::newRow("range 1") << QList<int>{41, 42} << QList<int>{0, 255};
    QTest::newRow("range 2") << QList<int>{0, 1, 2} << QList<int>{0, 127, 255};
    QTest::newRow("range 65534") << QList<int>{1, 65535, 65534, 2} << QList<int>{0, 255, 254, 0};
}

void TestCameraFotric::stretch()
{
    QFETCH(QList<int>, values);
    QFETCH(QList<int>, entries);
    std::vector<quint16> raw(values.begin(), values.end());
    std::vector<uchar> out(raw.size() * 4);
    applyThermalPalette(raw.data(), int(raw.size()), kThermalPalette, out.data());
    for (int i = 0; i < values.size(); ++i) {
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&out[4 * std::size_t(i)]), 4),
                 paletteBytes(entries.at(i)));
    }
    if (values.first() == 700) {
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), 4), QByteArray::fromHex("140F0000"));
    }
}

void TestCameraFotric::stretchEqualsPlainDivision()
{
    // Every range, with values at both ends, near them, in the middle and
    // at random: the fast quotient must be the plain one everywhere.
    QRandomGenerator random(25);
    std::vector<quint16> raw(8);
    std::vector<uchar> out(raw.size() * 4);
    for (quint32 range = 1; range <= 65535; ++range) {
        const quint32 lo = random.bounded(65536 - range);
        const quint32 picks[6] = {range - 1, range / 2, range / 3 + 1, (range * 2) / 3, random.bounded(range + 1),
                                  random.bounded(range + 1)};
        raw[0] = quint16(lo);
        raw[1] = quint16(lo + range);
        for (int i = 0; i < 6; ++i) {
            raw[std::size_t(2 + i)] = quint16(lo + picks[i]);
        }
        applyThermalPalette(raw.data(), int(raw.size()), kThermalPalette, out.data());
        const std::vector<uchar> expected = plainPalette(raw);
        if (out != expected) {
            QFAIL(qPrintable(QStringLiteral("range %1 from %2").arg(range).arg(lo)));
        }
    }
}

void TestCameraFotric::greyPathMatchesOpenCv()
{
    for (const cv::Size size : {cv::Size(37, 23), cv::Size(3, 3), cv::Size(160, 120)}) {
        QRandomGenerator random(quint32(size.area()));
        std::vector<quint16> raw(std::size_t(size.area()));
        for (std::size_t i = 0; i < raw.size(); ++i) {
            // A warm blob on a noisy background, so that both filters work.
            const int x = int(i) % size.width;
            const int y = int(i) / size.width;
            const double blob = std::exp(-((x - size.width / 2.0) * (x - size.width / 2.0)
                                           + (y - size.height / 3.0) * (y - size.height / 3.0))
                                         / (size.area() / 8.0));
            raw[i] = quint16(3000 + 2000 * blob + random.bounded(120));
        }
        // The same steps with the reference stretch and the OpenCV calls.
        std::vector<uchar> colour = plainPalette(raw);
        cv::Mat grey(size, CV_8UC1);
        QVERIFY(rgb32ToGray(grey.data, colour.data(), size.width, size.height));
        cv::Mat median;
        cv::medianBlur(grey, median, 3);
        cv::Mat expected;
        cv::bilateralFilter(median, expected, 3, 50, 25, cv::BORDER_REFLECT_101);

        std::vector<uchar> scratch(raw.size() * 4);
        cv::Mat got(size, CV_8UC1, cv::Scalar(0));
        QVERIFY(thermalGreyImage(raw.data(), size.width, size.height, kThermalPalette, scratch.data(), got.data));
        QCOMPARE(cv::countNonZero(got != expected), 0);
    }
    std::vector<uchar> scratch(16);
    uchar out = 7;
    quint16 raw = 5;
    QVERIFY(!thermalGreyImage(&raw, 0, 1, kThermalPalette, scratch.data(), &out));
    QVERIFY(!thermalGreyImage(nullptr, 1, 1, kThermalPalette, scratch.data(), &out));
    QCOMPARE(out, uchar(7));
}

void TestCameraFotric::openSizesTheFrames_data()
{
    QTest::addColumn<bool>("colour");
    QTest::newRow("grey") << false;
    QTest::newRow("colour") << true;
}

void TestCameraFotric::openSizesTheFrames()
{
    QFETCH(bool, colour);
    camera->setSize(40, 30);
    auto driver = openDriver(colour);
    QVERIFY(driver);
    int w = 0;
    int h = 0;
    driver->getSize(w, h);
    QCOMPARE(w, 40);
    QCOMPARE(h, 30);
    QCOMPARE(driver->frameBytes(), 40 * 30 * (colour ? 4 : 1));
    QCOMPARE(driver->typeId(), QStringLiteral("fotriccamera_IID"));
    QCOMPARE(driver->serial(), QStringLiteral("127.0.0.1"));
    QCOMPARE(driver->spectrum(), 2);
    QCOMPARE(driver->deviceCount(), 1);
    // The camera is left to calibrate itself.
    QCOMPARE(camera->calibrationMode(), QByteArray("auto"));
    const auto modes = camera->requestsTo("/sensor/cali-mode");
    QCOMPARE(modes.size(), 1);
    QCOMPARE(modes.first().body, QByteArray("\"auto\"\n"));

    feed(*driver, 3);
    QByteArray frame(driver->frameBytes(), 'S');
    QVERIFY(driver->getFrame(frame.data()));
    if (colour) {
        int mark = -1;
        QVERIFY(wholeColourFrame(frame, 40, 30, &mark));
        QCOMPARE(mark, int(LoopbackThermalCamera::sequenceMark(3)));
    }
    QVERIFY(!driver->getFrame(frame.data()));
    int frames = 0;
    QVERIFY(driver->takeFrameCount(frames));
    QCOMPARE(frames, 1);
}

void TestCameraFotric::openFails_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("log");

    const QString noSize = QStringLiteral("no usable sensor size, not opened");
    QTest::newRow("no answer to the probe") << QByteArray("/admin/boot-id") << QByteArray() << 404
                                            << QStringLiteral("does not answer");
    QTest::newRow("size 0") << QByteArray("/sensor/dimension") << QByteArray("{\"w\":0,\"h\":0}") << 0 << noSize;
    QTest::newRow("size -1") << QByteArray("/sensor/dimension") << QByteArray("{\"w\":-1,\"h\":24}") << 0 << noSize;
    QTest::newRow("size 4097") << QByteArray("/sensor/dimension") << QByteArray("{\"w\":4097,\"h\":24}") << 0
                               << noSize;
    QTest::newRow("size 2^31") << QByteArray("/sensor/dimension") << QByteArray("{\"w\":32,\"h\":2147483648}") << 0
                               << noSize;
    QTest::newRow("size not read") << QByteArray("/sensor/dimension") << QByteArray() << 500 << noSize;
}

void TestCameraFotric::openFails()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, log);

    camera->setFault(path, replyBody(body, status));
    if (status == 0) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Thermal camera 127\\.0\\.0\\.1: sensor size not usable"));
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(log) + "$"));
    QVERIFY(!openDriver(false));
    // Nothing was asked of a camera that was not opened.
    QVERIFY(camera->requestsTo("/sensor/cali-mode").isEmpty());
    QCOMPARE(camera->streamConnections(), 0);

    // And with no camera at the address at all.
    camera->stop();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    QTest::ignoreMessage(QtWarningMsg, "Thermal camera 127.0.0.1 does not answer");
    QVERIFY(!openDriver(false));
}

void TestCameraFotric::colourFramesAreWhole()
{
    camera->setSize(64, 48);
    // Slow enough that two frames taken one after the other never carry the
    // same mark (253 frames apart).
    camera->setFrameInterval(2);
    auto driver = openDriver(true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());
    QByteArray frame(driver->frameBytes(), 0);
    int frames = 0;
    int previous = -1;
    int changes = 0;
    QElapsedTimer clock;
    clock.start();
    while (frames < 50 && clock.elapsed() < kSettleMs) {
        if (!driver->getFrame(frame.data())) {
            QTest::qSleep(1);
            continue;
        }
        int mark = -1;
        QVERIFY2(wholeColourFrame(frame, 64, 48, &mark), "a torn frame");
        changes += mark != previous ? 1 : 0;
        previous = mark;
        ++frames;
    }
    QCOMPARE(frames, 50);
    QCOMPARE(changes, 50);
    driver->stopGrab();
}

void TestCameraFotric::framesOfAnotherSizeAreDropped()
{
    camera->setSize(32, 24);
    camera->setStreamFrameSize(40, 24);
    camera->setFrameInterval(2);
    MessageCapture messages;
    auto driver = openDriver(true);
    QVERIFY(driver);
    QVERIFY(driver->startGrab());
    QVERIFY(waitFor([&] { return camera->framesSent() >= 5; }));
    QTest::qSleep(20);
    int frames = 0;
    QVERIFY(!driver->takeFrameCount(frames));
    QVERIFY(!driver->isOnline());

    // Frames of the stated size are taken again.
    camera->setStreamFrameSize(0, 0);
    QVERIFY(waitFor([&] { return driver->takeFrameCount(frames); }));
    QByteArray frame(driver->frameBytes(), 0);
    QVERIFY(driver->getFrame(frame.data()));
    QVERIFY(wholeColourFrame(frame, 32, 24));
    driver->stopGrab();
    // One line for the run of wrong frames.
    QCOMPARE(messages.count(QtWarningMsg, QRegularExpression("^Thermal camera 127\\.0\\.0\\.1: frames of 40 x 24 "
                                                             "dropped \\(the camera stated 32 x 24\\)$")),
             1);
}

void TestCameraFotric::settersWriteTheWholeConfiguration_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("member");
    QTest::addColumn<double>("expected");

    QTest::newRow("exposure: emissivity") << "exposure" << 95 << "emissivity" << 0.95;
    QTest::newRow("gain: reflected temperature") << "gain" << -5 << "reflect-t" << -5.0;
    QTest::newRow("sharpness: ambient temperature") << "sharpness" << 30 << "ambient-t" << 30.0;
    QTest::newRow("gamma: distance") << "gamma" << 150 << "distance" << 1.5;
}

void TestCameraFotric::settersWriteTheWholeConfiguration()
{
    QFETCH(QString, setter);
    QFETCH(int, value);
    QFETCH(QString, member);
    QFETCH(double, expected);

    auto driver = openDriver(false);
    QVERIFY(driver);
    QJsonObject before = camera->configuration();
    camera->clearRequests();
    if (setter == "exposure") {
        driver->setExposure(value);
    } else if (setter == "gain") {
        driver->setGain(value);
    } else if (setter == "sharpness") {
        driver->setSharpness(value);
    } else {
        driver->setGamma(value);
    }
    QCOMPARE(camera->requests().size(), 2);
    QCOMPARE(camera->requests().at(0).method, QByteArray("GET"));
    QCOMPARE(camera->requests().at(1).method + ' ' + camera->requests().at(1).path,
             QByteArray("PUT /isp/instrument/jconfig"));
    before.insert(member, expected);
    QCOMPARE(camera->configuration(), before);
    // Integers go as integers, the scaled values as numbers.
    const QByteArray body = camera->requests().at(1).body;
    if (setter == "gain") {
        QVERIFY2(body.contains("\"reflect-t\":-5,"), body.constData());
    } else if (setter == "sharpness") {
        QVERIFY2(body.contains("\"ambient-t\":30,"), body.constData());
    } else if (setter == "gamma") {
        QVERIFY2(body.contains("\"distance\":1.5,"), body.constData());
    }
    QVERIFY(body.endsWith("}\n"));
}

void TestCameraFotric::settersWriteNothingAfterAnIncompleteRead_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    QTest::newRow("cut") << QByteArray("{\"ambient-t\":25,\"distance\":2.0,\"emiss") << 0;
    QTest::newRow("broken") << QByteArray("{\"ambient-t\" 25}") << 0;
    QTest::newRow("over-long") << "{\"ambient-t\":25,\"x\":\"" + QByteArray(1100, 'x') + "\"}" << 0;
    QTest::newRow("an array") << QByteArray("[1,2]") << 0;
    QTest::newRow("empty 200") << QByteArray() << 0;
    QTest::newRow("500") << QByteArray("{\"ambient-t\":25}") << 500;
}

void TestCameraFotric::settersWriteNothingAfterAnIncompleteRead()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    auto driver = openDriver(false);
    QVERIFY(driver);
    const QJsonObject before = camera->configuration();
    camera->setFault("/isp/instrument/jconfig", replyBody(body, status));
    camera->clearRequests();
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("\"ambient-t\" not set: the configuration could not be read"));
    driver->setSharpness(31);
    QCOMPARE(camera->requests().size(), 1);
    QCOMPARE(camera->requests().at(0).method, QByteArray("GET"));
    QCOMPARE(camera->configuration(), before);
}

void TestCameraFotric::measurementObjects()
{
    auto driver = openDriver(false);
    QVERIFY(driver);
    driver->setGamma(150);

    AreaSet areas;
    // Detect 0: a point at the centre of its rectangle.
    areas.add(0, FuncTempAlarm, new ClustomRect(10, 20, 49, 59), pack(3, 95), pack(1, 20), pack(-5, 60));
    areas.add(0, FuncSpot, new ClustomRect(0, 0, 9, 9), 0, 0, 255);
    areas.add(0, FuncTempAlarm, new ClustomRect(0, 0, 4, 3), pack(-2, 100), pack(2, 0), pack(40, 0));
    const QPoint triangle[3] = {QPoint(5, 5), QPoint(20, 5), QPoint(5, 20)};
    areas.add(0, FuncTempAlarm, new RePolygon(3, triangle), 95, 0, 0);
    areas.add(0, FuncTempAlarm, new Circle(20, 20, 10, 0), 95, 0, 0);
    // Detect 1: regions, corners as numbers, the last row and column inclusive.
    areas.add(1, FuncWhiteArea, new ClustomRect(0, 0, 9, 9), 0, 250, 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(3, 4, 12, 8), 98, 131152, pack(-1, 0));
    // Detect 2 has no measurement objects.
    areas.add(2, FuncTempAlarm, new ClustomRect(3, 4, 12, 8), 98, 0, 0);

    camera->clearRequests();
    driver->setDetectConfig(QVariant::fromValue(&areas.set), 0);

    const QList<LoopbackThermalCamera::Request> r = camera->requests();
    QCOMPARE(r.size(), 3);
    QCOMPARE(r[0].method + ' ' + r[0].path, QByteArray("PUT /isp/instrument/objects/points/P0"));
    QCOMPARE(r[0].body, QByteArray("{\"alarm-t\":100,\"api-visible\":true,\"distance\":1.5,"
                                   "\"emissivity\":0.94999999999999996,\"label\":\"P0\",\"mb-slot\":0,"
                                   "\"offset\":3,\"osd-visible\":true,\"pos\":{\"x\":29,\"y\":39},"
                                   "\"reflect-t\":-5}\n"));
    QCOMPARE(r[1].path, QByteArray("/isp/instrument/objects/points/P2"));
    QCOMPARE(r[1].body, QByteArray("{\"alarm-t\":100,\"api-visible\":true,\"distance\":1.5,\"emissivity\":1.0,"
                                   "\"label\":\"P2\",\"mb-slot\":0,\"offset\":-2,\"osd-visible\":true,"
                                   "\"pos\":{\"x\":2,\"y\":1},\"reflect-t\":40}\n"));
    QCOMPARE(r[2].path, QByteArray("/isp/instrument/objects/regions/R1"));
    QCOMPARE(r[2].body, QByteArray("{\"alarm-t\":100,\"api-visible\":true,\"avg\":true,\"distance\":1.5,"
                                   "\"emissivity\":0.97999999999999998,\"label\":\"R1\",\"layer\":0,"
                                   "\"max\":true,\"mb-slot\":0,\"min\":true,\"offset\":0,\"osd-visible\":true,"
                                   "\"polygon\":[{\"x\":3.0,\"y\":4.0},{\"x\":3.0,\"y\":8.0},{\"x\":12.0,\"y\":8.0},"
                                   "{\"x\":12.0,\"y\":4.0}],\"reflect-t\":-1}\n"));

    // The set also travels under its registered name.
    QVERIFY(QMetaType::type("CammerSingleton *") != QMetaType::UnknownType);
    QCOMPARE(QMetaType::type("CammerSingleton *"), qMetaTypeId<CammerSingleton*>());

    // Another flag, or a variant that holds no area set, uploads nothing.
    camera->clearRequests();
    driver->setDetectConfig(QVariant::fromValue(&areas.set), 1);
    driver->setDetectConfig(QVariant(42), 0);
    QVERIFY(camera->requests().isEmpty());
}

void TestCameraFotric::temperatures()
{
    auto driver = openDriver(false);
    QVERIFY(driver);
    AreaSet areas;
    areas.add(0, FuncTempAlarm, new ClustomRect(10, 10, 20, 20), 95, 0, 0);
    // Detect 1: temperature types 1 average, 2 maximum (131152), 0 minimum.
    areas.add(1, FuncTempAlarm, new ClustomRect(0, 0, 5, 5), 95, pack(1, 0), 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(0, 0, 5, 5), 95, 131152, 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(0, 0, 5, 5), 95, pack(0, 0), 0);
    driver->uploadMeasureObjects(&areas.set);
    camera->setObjectValue("points/P0", "{\"t\":36.5}");
    const QByteArray region = "{\"avg\":{\"t\":41.25},\"max\":{\"t\":58},\"min\":{\"t\":-12.5}}";
    for (const char* label : {"regions/R0", "regions/R1", "regions/R2"}) {
        camera->setObjectValue(QString::fromLatin1(label), region);
    }
    const QList<QPair<QPair<int, int>, float>> cases = {
        {{0, 0}, 36.5f}, {{1, 0}, 41.25f}, {{1, 1}, 58.0f}, {{1, 2}, -12.5f}};
    for (const auto& c : cases) {
        QJsonObject request;
        request.insert(QStringLiteral("detect"), c.first.first);
        request.insert(QStringLiteral("funcNO"), c.first.second);
        QVariant reply;
        driver->query(request, reply, 0);
        QVERIFY(reply.isValid());
        QCOMPARE(reply.userType(), int(QMetaType::Float));
        QCOMPARE(reply.toFloat(), c.second);
    }
    // Area 0 when the request names none.
    QVariant reply;
    driver->query(QJsonObject{{QStringLiteral("detect"), 0}}, reply, 0);
    QCOMPARE(reply.toFloat(), 36.5f);
    QCOMPARE(camera->requestsTo("/isp/instrument/objects/points/P0?value").size(), 2);
}

void TestCameraFotric::failedReads_data()
{
    QTest::addColumn<int>("detect");
    QTest::addColumn<int>("area");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("asked");

    const QByteArray fine = "{\"t\":30}";
    // Never asked: no object of this driver's last upload stands for them.
    QTest::newRow("area without an object") << 0 << 5 << fine << 0 << false;
    QTest::newRow("polygon area") << 0 << 1 << fine << 0 << false;
    QTest::newRow("detect 2 (its area 0 is a temperature area)") << 2 << 0 << fine << 0 << false;
    QTest::newRow("detect 7") << 7 << 0 << fine << 0 << false;
    QTest::newRow("detect 8") << 8 << 0 << fine << 0 << false;
    QTest::newRow("detect -1") << -1 << 0 << fine << 0 << false;
    QTest::newRow("area 50") << 0 << 50 << fine << 0 << false;
    QTest::newRow("area -1") << 0 << -1 << fine << 0 << false;
    // Asked, and the answer is no temperature.
    QTest::newRow("404") << 0 << 0 << fine << 404 << true;
    QTest::newRow("500 with a temperature") << 0 << 0 << fine << 500 << true;
    QTest::newRow("an array") << 0 << 0 << QByteArray("[30]") << 0 << true;
    QTest::newRow("no t") << 0 << 0 << QByteArray("{\"temp\":30}") << 0 << true;
    QTest::newRow("t as text") << 0 << 0 << QByteArray("{\"t\":\"30\"}") << 0 << true;
    QTest::newRow("t null") << 0 << 0 << QByteArray("{\"t\":null}") << 0 << true;
    QTest::newRow("t true") << 0 << 0 << QByteArray("{\"t\":true}") << 0 << true;
    QTest::newRow("t NaN") << 0 << 0 << QByteArray("{\"t\":NaN}") << 0 << true;
    QTest::newRow("t beyond a float") << 0 << 0 << QByteArray("{\"t\":1e300}") << 0 << true;
    QTest::newRow("t beyond an int") << 0 << 0 << QByteArray("{\"t\":3e9}") << 0 << true;
    QTest::newRow("t below an int") << 0 << 0 << QByteArray("{\"t\":-2147483904}") << 0 << true;
    QTest::newRow("cut JSON") << 0 << 0 << QByteArray("{\"t\":3") << 0 << true;
    QTest::newRow("nested beyond the reader's limit") << 0 << 0 << QByteArray(1010, '[') << 0 << true;
    QTest::newRow("over-long reply") << 0 << 0 << "{\"t\":30,\"x\":\"" + QByteArray(1100, 'x') + "\"}" << 0 << true;
    QTest::newRow("region without its member") << 1 << 0 << QByteArray("{\"avg\":{\"t\":30}}") << 0 << true;
    QTest::newRow("region member not an object") << 1 << 0 << QByteArray("{\"max\":30}") << 0 << true;
}

void TestCameraFotric::failedReads()
{
    QFETCH(int, detect);
    QFETCH(int, area);
    QFETCH(QByteArray, reply);
    QFETCH(int, status);
    QFETCH(bool, asked);

    auto driver = openDriver(false);
    QVERIFY(driver);
    AreaSet areas;
    areas.add(0, FuncTempAlarm, new ClustomRect(10, 10, 20, 20), 95, 0, 0);
    const QPoint triangle[3] = {QPoint(5, 5), QPoint(20, 5), QPoint(5, 20)};
    areas.add(0, FuncTempAlarm, new RePolygon(3, triangle), 95, 0, 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(0, 0, 5, 5), 95, 131152, 0);
    areas.add(2, FuncTempAlarm, new ClustomRect(0, 0, 5, 5), 95, 0, 0);
    driver->uploadMeasureObjects(&areas.set);
    const QByteArray path = detect == 0 ? QByteArray("/isp/instrument/objects/points/P0?value")
                                        : QByteArray("/isp/instrument/objects/regions/R0?value");
    camera->setFault(path, replyBody(reply, status));
    camera->clearRequests();

    QJsonObject request;
    request.insert(QStringLiteral("detect"), detect);
    request.insert(QStringLiteral("funcNO"), area);
    QVariant answer(99);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Thermal camera 127\\.0\\.0\\.1: temperature of detect %1 "
                                                           "area %2 not read: ")
                                                .arg(detect)
                                                .arg(area)));
    driver->query(request, answer, 0);
    QVERIFY(!answer.isValid());
    QCOMPARE(camera->requests().size(), asked ? 1 : 0);

    // Another flag leaves the reply as it was, and asks nothing.
    QVariant untouched(17);
    driver->query(request, untouched, 1);
    QCOMPARE(untouched, QVariant(17));
    QCOMPARE(camera->requests().size(), asked ? 1 : 0);
}

void TestCameraFotric::watchdog_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("answers");

    // F a frame arrives, G the station takes it, I isOnline, R reconnect.
    QTest::newRow("no frame yet: lost at the first poll") << "I" << "0";
    QTest::newRow("frames between polls: never lost") << "F I F I F I F I F I" << "1 1 1 1 1";
    QTest::newRow("the station took the frame") << "F G I" << "1";
    QTest::newRow("stops: lost at the next poll") << "F I I" << "1 0";
    QTest::newRow("third poll without a frame") << "F I I I I" << "1 0 0 0";
    QTest::newRow("back: reconnect sees it") << "F I I R F R" << "1 0 0 1";
    QTest::newRow("frame already seen by reconnect") << "F R I" << "1 0";
    QTest::newRow("after a long loss, frames again") << "I I I I R F G R F I" << "0 0 0 0 0 1 1";
}

void TestCameraFotric::watchdog()
{
    QFETCH(QString, steps);
    QFETCH(QString, answers);

    auto driver = openDriver(false);
    QVERIFY(driver);
    QByteArray frame(driver->frameBytes(), 0);
    QStringList got;
    quint32 sequence = 0;
    for (const QString& step : steps.split(' ')) {
        if (step == "F") {
            feed(*driver, sequence++);
        } else if (step == "G") {
            QVERIFY(driver->getFrame(frame.data()));
        } else if (step == "I") {
            got << QString::number(driver->isOnline());
        } else if (step == "R") {
            got << QString::number(driver->reconnect());
        }
    }
    QCOMPARE(got.join(' '), answers);
}

void TestCameraFotric::closeWhileStreamingAtFullRate()
{
    camera->setSize(160, 120);
    for (int round = 0; round < 10; ++round) {
        auto driver = openDriver(round % 2 == 0);
        QVERIFY(driver);
        QVERIFY(driver->startGrab());
        int frames = 0;
        QVERIFY(waitFor([&] {
            int n = 0;
            driver->takeFrameCount(n);
            frames += n;
            return frames >= 3;
        }));
        driver->close();
        // Closed: no callback runs or will run, the buffers stay usable.
        int after = 0;
        driver->takeFrameCount(after);
        QTest::qSleep(20);
        QVERIFY(!driver->takeFrameCount(after));
        QVERIFY(!driver->startGrab());
        QVariant reply(5);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not read: no measurement object"));
        driver->query(QJsonObject{{QStringLiteral("detect"), 0}}, reply, 0);
        QVERIFY(!reply.isValid());
    }
}

void TestCameraFotric::thousandGrabCycles()
{
    camera->setSize(64, 48);
    auto driver = openDriver(true);
    QVERIFY(driver);
    QByteArray frame(driver->frameBytes(), 0);
    int torn = 0;
    int taken = 0;
    for (int i = 0; i < 1000; ++i) {
        QVERIFY(driver->startGrab());
        if (i % 100 == 0) {
            QVERIFY(waitFor([&] { return driver->getFrame(frame.data()); }));
            torn += wholeColourFrame(frame, 64, 48) ? 0 : 1;
            ++taken;
        }
        driver->stopGrab();
        if (driver->getFrame(frame.data())) {
            torn += wholeColourFrame(frame, 64, 48) ? 0 : 1;
            ++taken;
        }
    }
    int counted = 0;
    driver->takeFrameCount(counted);
    QTest::qSleep(20);
    int later = 0;
    QVERIFY(!driver->takeFrameCount(later));
    QCOMPARE(torn, 0);
    QVERIFY(taken >= 10);
    QVERIFY(counted >= taken);
    QVERIFY(quint32(counted) <= camera->framesSent());
}

void TestCameraFotric::destructionMidFrame()
{
    // Large grey frames keep the callback busy for a while, so the driver is
    // often destroyed while one is being converted.
    camera->setSize(320, 256);
    for (int round = 0; round < 5; ++round) {
        auto driver = openDriver(false);
        QVERIFY(driver);
        QVERIFY(driver->startGrab());
        QVERIFY(waitFor([&] {
            int n = 0;
            return driver->takeFrameCount(n);
        }));
        QTest::qSleep(1 + round);
        driver.reset();
    }
}

void TestCameraFotric::vanishingCamera()
{
    camera->setSize(32, 24);
    camera->setFrameInterval(5);
    MessageCapture messages;
    auto driver = openDriver(true);
    QVERIFY(driver);
    AreaSet areas;
    areas.add(0, FuncTempAlarm, new ClustomRect(10, 10, 20, 20), 95, 0, 0);
    driver->uploadMeasureObjects(&areas.set);
    QVariant reply;
    driver->query(QJsonObject{{QStringLiteral("detect"), 0}}, reply, 0);
    QCOMPARE(reply.toFloat(), 25.0f);

    QVERIFY(driver->startGrab());
    int frames = 0;
    QVERIFY(waitFor([&] { return driver->takeFrameCount(frames); }));
    QVERIFY(driver->isOnline());

    // The camera goes: lost at the next poll. Frames already on their way may
    // still arrive on a slow machine, up to the line the stream writes when
    // it sees the connection end.
    const QRegularExpression reconnecting("^streamsdk: .*; reconnecting$");
    camera->stop();
    QVERIFY(waitFor([&] { return messages.count(QtWarningMsg, reconnecting) == 1; }));
    driver->isOnline();
    QVERIFY(!driver->isOnline());
    QVERIFY(!driver->reconnect());
    // Frames that came between the first count and the camera going are
    // still waiting to be counted; they must not pass for the restart's.
    driver->takeFrameCount(frames);

    // It comes back on the same ports, without its objects: the stream
    // resumes by itself, the next poll sees it, and temperatures fail
    // instead of reading 0.
    QVERIFY(camera->restart());
    QVERIFY(waitFor([&] { return driver->takeFrameCount(frames); }));
    QVERIFY(driver->reconnect());
    driver->query(QJsonObject{{QStringLiteral("detect"), 0}}, reply, 0);
    QVERIFY(!reply.isValid());
    driver->stopGrab();
    QCOMPARE(messages.count(QtWarningMsg, reconnecting), 1);
    QCOMPARE(messages.count(QtWarningMsg, QRegularExpression("temperature of detect 0 area 0 not read: status 404$")),
             1);
}

void TestCameraFotric::discovery()
{
    // Two of the four candidates answer, on the same ports: candidates 2 and
    // 4 (the third number of the address), at a host number of this test.
    std::unique_ptr<LoopbackThermalCamera> second;
    std::unique_ptr<LoopbackThermalCamera> fourth;
    QString pattern;
    for (int attempt = 0; attempt < 20 && !fourth; ++attempt) {
        const int host = 2 + int(QRandomGenerator::global()->bounded(250));
        pattern = QStringLiteral("127.0.%1.") + QString::number(host);
        second = std::make_unique<LoopbackThermalCamera>(pattern.arg(2));
        if (!second->start()) {
            continue;
        }
        fourth = std::make_unique<LoopbackThermalCamera>(pattern.arg(4));
        if (!fourth->start(second->restPort(), second->streamPort())) {
            fourth.reset();
        }
    }
    QVERIFY(fourth);
    ThermalNetworkScope scope(pattern, second->restPort(), second->streamPort());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    CameraFotric prototype;
    const QList<CameraInfo> found = prototype.enumerate();
    QCOMPARE(found.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QString address = pattern.arg(i == 0 ? 2 : 4);
        QCOMPARE(found[i].index, i);
        QCOMPARE(found[i].number, -1);
        QCOMPARE(found[i].iid, QStringLiteral("fotriccamera_IID"));
        QCOMPARE(found[i].idText(), address);
        QCOMPARE(found[i].addressText(), address);
        QVERIFY(found[i].channelName.isEmpty());
    }
}

void TestCameraFotric::discoveryWithoutCameras()
{
    const quint16 restPort = camera->restPort();
    const quint16 streamPort = camera->streamPort();
    camera->stop();
    ThermalNetworkScope scope(QStringLiteral("127.0.%1.1"), restPort, streamPort);
    for (int i = 0; i < 8; ++i) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    }
    QElapsedTimer clock;
    clock.start();
    CameraFotric prototype;
    QVERIFY(prototype.enumerate().isEmpty());
    // Refused at once: far below even one candidate's time-out.
    QVERIFY(clock.elapsed() < ThermalSession::ShortTimeoutMs);
}

void TestCameraFotric::builtIntoTheRegistry()
{
    cameraDriverMask = kFotricCameraBit;
    gColorMode = 1;
    ThermalNetworkScope scope(QStringLiteral("127.0.0.%1"), camera->restPort(), camera->streamPort());
    for (int i = 0; i < 6; ++i) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    }
    discoverCameras();
    QCOMPARE(cameraDeviceList.size(), 1);
    QCOMPARE(cameraDeviceList.first().idText(), QStringLiteral("127.0.0.1"));
    CameraInterface* driver = openCamera(cameraDeviceList.first());
    QVERIFY(driver);
    QCOMPARE(driver->typeId(), QStringLiteral("fotriccamera_IID"));
    int w = 0;
    int h = 0;
    driver->getSize(w, h);
    QCOMPARE(static_cast<CameraFotric*>(driver)->frameBytes(), w * h * 4);
    delete driver;
    resetCameraRegistry();
    gColorMode = 0;
    cameraDriverMask = 0;
}

QTEST_GUILESS_MAIN(TestCameraFotric)
#include "tst_camerafotric.moc"
