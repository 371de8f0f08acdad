// The infrared network camera over the simulated device and decoder
// libraries: discovery by local interface, opening, the picture converters,
// the threads from stream to frame (two channels, two devices, stop and start,
// stopping while pictures arrive), a vanishing camera and the thermometry.
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "circle.h"
#include "clustomrect.h"
#include "hcnetsdksim.h"
#include "hikircamera.h"
#include "logcapture.h"
#include "playctrlsim.h"
#include "statekeeper.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "thermalnetworkscope.h"
#include "settle.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

const std::string kSerialA = "IRA0001";
const std::string kSerialB = "IRB0002";

// The formula as written, one pixel at a time: the reference.
void referencePixel(int y, int u, int v, int* r, int* g, int* b, int* grey)
{
    auto limit = [](double x) {
        const int t = int(std::trunc(x));
        return t < 0 ? 0 : (t > 255 ? 255 : t);
    };
    const double U = u - 128;
    const double V = v - 128;
    *r = limit(y + 1.370705 * V);
    *g = limit(y - 0.698001 * U - 0.703125 * V);
    *b = limit(y + 1.732446 * U);
    // The weighting in exact arithmetic: in doubles 128 * (0.299 + 0.587 +
    // 0.114) comes to 127.99999999999999.
    *grey = (299 * *r + 587 * *g + 114 * *b) / 1000;
}

std::vector<unsigned char> yv12(int w, int h, int y, int u, int v)
{
    std::vector<unsigned char> p(std::size_t(w * h * 3 / 2));
    std::memset(p.data(), y, std::size_t(w * h));
    std::memset(p.data() + w * h, v, std::size_t(w * h / 4));
    std::memset(p.data() + w * h + w * h / 4, u, std::size_t(w * h / 4));
    return p;
}

qint32 pack(int high, int low)
{
    return qint32((quint32(quint16(high)) << 16) | quint16(low));
}

float floatAt(const std::vector<unsigned char>& bytes, int offset)
{
    float f;
    std::memcpy(&f, bytes.data() + offset, 4);
    return f;
}

quint32 u32At(const std::vector<unsigned char>& bytes, int offset)
{
    quint32 v;
    std::memcpy(&v, bytes.data() + offset, 4);
    return v;
}

int callCount(const std::string& function)
{
    int n = 0;
    for (const auto& name : hcnetSimulator().callNames()) {
        n += name == function ? 1 : 0;
    }
    return n;
}

// A live area set of detects 0 to 7.
struct AreaSet {
    AreaSet() : set(0)
    {
        for (int d = 0; d < CammerSingleton::DetectCount; ++d) {
            set.roiLists.append(QList<ROIInterface*>());
        }
    }
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

CameraInfo recordOf(const std::string& serial, const std::string& address, const char* channelName, int number)
{
    CameraInfo record;
    record.iid = QString::fromLatin1(kHikIRCameraIid);
    record.number = number;
    record.setId(QString::fromStdString(serial));
    record.setAddress(QString::fromStdString(address));
    record.channelName = QString::fromLatin1(channelName);
    return record;
}

QVariant temperatureOf(HikIRCamera& camera, int detect, int area)
{
    QVariant reply;
    camera.query(QJsonObject{{"detect", detect}, {"funcNO", area}}, reply, 0);
    return reply;
}

} // namespace

class TestHikIRCamera : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void discoveryProbesOneCandidatePerInterface();
    void discoverySkipsWhatItMustNotContact_data();
    void discoverySkipsWhatItMustNotContact();
    void openTakesChannelAndSize_data();
    void openTakesChannelAndSize();
    void openWithWrongPasswordFails();

    void convertersFollowTheFormula();
    void convertersMatchEveryTriple();
    void convertersRefuseWhatTheyCannotRead_data();
    void convertersRefuseWhatTheyCannotRead();

    void framesReachTheirOwnDriver();
    void picturesOfAnotherSizeAreDropped();
    void fullDecoderDropsTheChunk();
    void stopStartCyclesKeepBothChannelsDelivering();
    void stoppingWhilePicturesArrive();
    void vanishingCameraIsLostAndComesBack();

    void openConfiguresTheMeasurement();
    void settersRewriteTheBasicParameters();
    void uploadWritesRules();
    void queryReadsTheRuleOfTheArea_data();
    void queryReadsTheRuleOfTheArea();
    void failedReadsNeverAnswerZero_data();
    void failedReadsNeverAnswerZero();

    void devicesFileCameraShowsAndMeasuresItsScene();

private:
    std::unique_ptr<HikIRCamera> openCamera(const CameraInfo& record, bool colour = false);
    // Until a frame came, checking it: false after timeoutMs.
    bool waitFrame(HikIRCamera& camera, std::vector<unsigned char>& frame, int timeoutMs = kSettleMs);
    void addDevice(const std::string& serial, const std::string& address, int channels = 1, int code = 76);

    std::unique_ptr<TestWorkDir> workDir;
    std::unique_ptr<StateKeeper> state;
    SystemParam params;
};

void TestHikIRCamera::init()
{
    workDir = std::make_unique<TestWorkDir>();
    state = std::make_unique<StateKeeper>();
    state->keep(gpSystemParam);
    params.clear();
    gpSystemParam = &params;
    hcnetReset();
    playctrlReset();
    hcnetSimulator().setCallLogging(true);  // the tests read which calls the driver made
    HikIRCamera::buildResolutionTable();
    NET_DVR_Init();
}

void TestHikIRCamera::cleanup()
{
    hcnetReset();
    playctrlReset();
    state.reset();
    workDir.reset();
}

void TestHikIRCamera::addDevice(const std::string& serial, const std::string& address, int channels, int code)
{
    IrDevice device;
    device.serial = serial;
    device.address = address;
    device.channels = channels;
    device.resolutionCode = code;
    const QSize size = HikIRCamera::resolutionTable.value(code, QSize(1920, 1080));
    device.width = size.width();
    device.height = size.height();
    QVERIFY(hcnetAddDevice(device));
}

std::unique_ptr<HikIRCamera> TestHikIRCamera::openCamera(const CameraInfo& record, bool colour)
{
    auto camera = std::make_unique<HikIRCamera>(record);
    camera->setColorOutput(colour);
    if (!camera->open()) {
        return nullptr;
    }
    return camera;
}

bool TestHikIRCamera::waitFrame(HikIRCamera& camera, std::vector<unsigned char>& frame, int timeoutMs)
{
    frame.assign(std::size_t(camera.frameBytes()), 0);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (camera.getFrame(frame.data())) {
            return true;
        }
        QTest::qSleep(5);
    }
    return false;
}

// ---------------------------------------------------------------- discovery

void TestHikIRCamera::discoveryProbesOneCandidatePerInterface()
{
    hcnetSetLocalAddresses({"127.0.1.20", "127.0.5.20"});
    addDevice(kSerialA, "127.0.1.64", 1);
    // A serial that fills its 48 bytes arrives without a NUL.
    const std::string brimFull(48, 'S');
    addDevice(brimFull, "127.0.5.64", 2);

    HikIRCamera prototype;
    LogCapture log(LogCapture::Swallow);
    const QList<CameraInfo> found = prototype.enumerate();

    QCOMPARE(found.size(), 3);
    QCOMPARE(found[0].idText(), QString::fromStdString(kSerialA));
    QCOMPARE(found[0].addressText(), QStringLiteral("127.0.1.64"));
    QCOMPARE(found[0].channelName, QStringLiteral("IRCamera"));
    QCOMPARE(found[1].idText(), QString::fromStdString(brimFull));
    QCOMPARE(found[1].channelName, QStringLiteral("IRCamera"));
    QCOMPARE(found[2].channelName, QStringLiteral("RGBCamera"));
    QCOMPARE(found[2].addressText(), QStringLiteral("127.0.5.64"));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(found[i].number, i);
        QCOMPARE(found[i].iid, QString::fromLatin1(kHikIRCameraIid));
    }
    QCOMPARE(hcnetLogins(), 0);
    QCOMPARE(HikIRCamera::resolutionTable.value(98), QSize(2688, 1520));

    // The login record: address, port 8000, the user and password, synchronous.
    const std::vector<unsigned char> login = hcnetLastLogin();
    NET_DVR_LOGIN_RECORD record;
    QCOMPARE(login.size(), sizeof record);
    std::memcpy(&record, login.data(), sizeof record);
    QCOMPARE(QByteArray(record.address), QByteArray("127.0.5.64"));
    QCOMPARE(record.port, quint16(8000));
    QCOMPARE(QByteArray(record.userName), QByteArray("admin"));
    QCOMPARE(QByteArray(record.password), QByteArray("qrst5678"));
    QCOMPARE(record.asynchronous, 0);
    // The password never reaches a log line.
    QVERIFY(!log.lines().join('\n').contains("qrst5678"));
    // Logging of the library goes off.
    const auto names = hcnetSimulator().callNames();
    QVERIFY(std::find(names.begin(), names.end(), "NET_DVR_SetLogPrint") != names.end());
}

void TestHikIRCamera::discoverySkipsWhatItMustNotContact_data()
{
    QTest::addColumn<QStringList>("locals");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("logins");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("no camera at the candidate") << QStringList{"127.0.2.20"} << QString("127.0.%1.64") << 1
                                                << QString("Login DVR failed ..., error code: 7");
    QTest::newRow("wrong password") << QStringList{"127.0.9.20"} << QString("127.0.%1.64") << 1
                                    << QString("Login DVR failed ..., error code: 1");
    QTest::newRow("address of two parts") << QStringList{"127.0"} << QString("127.0.%1.64") << 0 << QString();
    QTest::newRow("outside the loopback network")
        << QStringList{"10.0.1.20", "127.0.1.20"} << QString("10.0.%1.64") << 0
        << QString("candidate 10.0.1.64 lies outside the loopback network");
    // A 16-character text fills its field: read within it, it is no address.
    QTest::newRow("address without NUL") << QStringList{"127.000.1.200000"} << QString("127.0.%1.64") << 1
                                         << QString();
}

void TestHikIRCamera::discoverySkipsWhatItMustNotContact()
{
    QFETCH(QStringList, locals);
    QFETCH(QString, pattern);
    QFETCH(int, logins);
    QFETCH(QString, logLine);
    InfraredNetworkScope scope(pattern);
    std::vector<std::string> texts;
    for (const QString& text : locals) {
        texts.push_back(text.toStdString());
    }
    hcnetSetLocalAddresses(texts);
    IrDevice locked;
    locked.serial = kSerialB;
    locked.address = "127.0.9.64";
    locked.password = "another";
    QVERIFY(hcnetAddDevice(locked));

    HikIRCamera prototype;
    LogCapture log(LogCapture::Swallow);
    const QList<CameraInfo> found = prototype.enumerate();
    QVERIFY(found.isEmpty());
    QCOMPARE(callCount("NET_DVR_Login_V40"), logins);
    for (const simdev::Call& call : hcnetSimulator().calls()) {
        if (call.function == "NET_DVR_Login_V40") {
            QVERIFY2(call.arguments.rfind("127.", 0) == 0, call.arguments.c_str());
        }
    }
    if (!logLine.isEmpty()) {
        QVERIFY2(log.contains(logLine), qPrintable(log.lines().join('\n')));
    }
    // Nothing found: the library is released.
    QCOMPARE(callCount("NET_DVR_Cleanup"), 1);
}

void TestHikIRCamera::openTakesChannelAndSize_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("channelName");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("spectrum");
    QTest::addColumn<QSize>("size");

    QTest::newRow("one channel, 640 x 512") << 1 << "IRCamera" << 76 << 1 << 2 << QSize(640, 512);
    QTest::newRow("thermal of two") << 2 << "IRCamera" << 76 << 2 << 2 << QSize(640, 512);
    QTest::newRow("visible of two") << 2 << "RGBCamera" << 98 << 1 << 1 << QSize(2688, 1520);
    QTest::newRow("code not in the table") << 1 << "IRCamera" << 77 << 1 << 2 << QSize(1920, 1080);
    QTest::newRow("code in the long field") << 1 << "IRCamera" << 300 << 1 << 2 << QSize(1920, 1080);
}

void TestHikIRCamera::openTakesChannelAndSize()
{
    QFETCH(int, channels);
    QFETCH(QString, channelName);
    QFETCH(int, code);
    QFETCH(int, channel);
    QFETCH(int, spectrum);
    QFETCH(QSize, size);
    addDevice(kSerialA, "127.0.1.64", channels, code);
    LogCapture log(LogCapture::Swallow);
    auto camera = openCamera(recordOf(kSerialA, "127.0.1.64", qPrintable(channelName), 0));
    QVERIFY(camera);
    QCOMPARE(camera->channel(), channel);
    QCOMPARE(camera->spectrum(), spectrum);
    int w = 0;
    int h = 0;
    camera->getSize(w, h);
    QCOMPARE(QSize(w, h), size);
    QCOMPARE(camera->frameBytes(), w * h);
    // The image enhancement record comes back with byte 28 cleared.
    const std::vector<unsigned char> enhance = hcnetRecord(kSerialA, channel, 3369);
    QCOMPARE(int(enhance.size()), 492);
    QCOMPARE(u32At(enhance, 0), 492u);
    QCOMPARE(int(enhance[28]), 0);
    // Only the thermal channel switches measurement on.
    QCOMPARE(hcnetRecord(kSerialA, channel, 6766).empty(), spectrum != 2);
    camera->close();
    QCOMPARE(hcnetLogins(), 0);
}

void TestHikIRCamera::openWithWrongPasswordFails()
{
    IrDevice device;
    device.serial = kSerialA;
    device.address = "127.0.1.64";
    device.password = "changed";
    QVERIFY(hcnetAddDevice(device));
    LogCapture log(LogCapture::Swallow);
    QVERIFY(!openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0)));
    QVERIFY2(log.contains("Login DVR failed ... LastError[1]"), qPrintable(log.lines().join('\n')));
    QCOMPARE(hcnetLogins(), 0);
}

// ---------------------------------------------------------------- converters

void TestHikIRCamera::convertersFollowTheFormula()
{
    unsigned char grey[4] = {};
    const auto flat = yv12(2, 2, 128, 128, 128);
    QVERIFY(yv12ToGray(flat.data(), flat.size(), grey, 2, 2, false));
    QCOMPARE(QByteArray(reinterpret_cast<char*>(grey), 4), QByteArray(4, char(128)));

    unsigned char bgra[16] = {};
    const auto red = yv12(2, 2, 100, 128, 228);
    QVERIFY(yv12ToBgra(red.data(), red.size(), bgra, 2, 2, false));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(QByteArray(reinterpret_cast<char*>(bgra + 4 * i), 4), QByteArray("\x64\x1d\xed\x00", 4));
    }

    // Flip: the first source row becomes the last output row; chroma rows
    // follow their Y rows.
    const int w = 4;
    const int h = 4;
    std::vector<unsigned char> source(w * h * 3 / 2, 128);
    for (int r = 0; r < h; ++r) {
        std::memset(source.data() + r * w, 10 + 40 * r, w);
    }
    source[w * h] = 228;  // V of the top-left block
    std::vector<unsigned char> straight(w * h * 4);
    std::vector<unsigned char> flipped(w * h * 4);
    QVERIFY(yv12ToBgra(source.data(), source.size(), straight.data(), w, h, false));
    QVERIFY(yv12ToBgra(source.data(), source.size(), flipped.data(), w, h, true));
    for (int r = 0; r < h; ++r) {
        QCOMPARE(std::memcmp(straight.data() + r * w * 4, flipped.data() + (h - 1 - r) * w * 4, w * 4), 0);
    }
    QVERIFY(straight[2] > straight[1]);  // red in the top-left block
}

void TestHikIRCamera::convertersMatchEveryTriple()
{
#if defined(__SANITIZE_THREAD__)
    QSKIP("No threads here: the exhaustive check runs in the address-checked build");
#endif
    // One picture per U: chroma row v carries V = v, and its two Y rows run
    // through 0..255, so every (Y, U, V) occurs.
    const int w = 256;
    const int h = 512;
    std::vector<unsigned char> source(std::size_t(w * h * 3 / 2));
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            source[std::size_t(r * w + c)] = static_cast<unsigned char>(c);
        }
    }
    unsigned char* vPlane = source.data() + w * h;
    unsigned char* uPlane = vPlane + w * h / 4;
    for (int v = 0; v < 256; ++v) {
        std::memset(vPlane + v * (w / 2), v, w / 2);
    }
    std::vector<unsigned char> grey(std::size_t(w * h));
    std::vector<unsigned char> bgra(std::size_t(w * h * 4));
    int mismatches = 0;
    for (int u = 0; u < 256; ++u) {
        std::memset(uPlane, u, std::size_t(w * h / 4));
        QVERIFY(yv12ToGray(source.data(), source.size(), grey.data(), w, h, false));
        QVERIFY(yv12ToBgra(source.data(), source.size(), bgra.data(), w, h, false));
        for (int r = 0; r < h; r += 2) {
            const int v = r / 2;
            for (int y = 0; y < 256; ++y) {
                int R, G, B, Grey;
                referencePixel(y, u, v, &R, &G, &B, &Grey);
                const std::size_t at = std::size_t(r * w + y);
                const unsigned char* p = bgra.data() + at * 4;
                if (grey[at] != Grey || p[0] != B || p[1] != G || p[2] != R || p[3] != 0) {
                    if (++mismatches < 5) {
                        qWarning("Y %d U %d V %d: %d %d %d %d", y, u, v, grey[at], p[0], p[1], p[2]);
                    }
                }
            }
        }
    }
    QCOMPARE(mismatches, 0);
}

void TestHikIRCamera::convertersRefuseWhatTheyCannotRead_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("sourceBytes");
    QTest::addColumn<bool>("source");
    QTest::addColumn<bool>("destination");

    QTest::newRow("no source") << 4 << 4 << 24 << false << true;
    QTest::newRow("no destination") << 4 << 4 << 24 << true << false;
    QTest::newRow("odd width") << 5 << 4 << 30 << true << true;
    QTest::newRow("odd height") << 4 << 3 << 18 << true << true;
    QTest::newRow("width below 2") << 0 << 4 << 0 << true << true;
    QTest::newRow("source one byte short") << 4 << 4 << 23 << true << true;
}

void TestHikIRCamera::convertersRefuseWhatTheyCannotRead()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, sourceBytes);
    QFETCH(bool, source);
    QFETCH(bool, destination);
    std::vector<unsigned char> in(std::size_t(std::max(sourceBytes, 1)), 77);
    std::vector<unsigned char> out(256, 0xAB);
    QVERIFY(!yv12ToGray(source ? in.data() : nullptr, std::size_t(sourceBytes), destination ? out.data() : nullptr,
                        width, height, false));
    QVERIFY(!yv12ToBgra(source ? in.data() : nullptr, std::size_t(sourceBytes), destination ? out.data() : nullptr,
                        width, height, true));
    QVERIFY(std::all_of(out.begin(), out.end(), [](unsigned char b) { return b == 0xAB; }));
}

// ---------------------------------------------------------------- threads

void TestHikIRCamera::framesReachTheirOwnDriver()
{
    addDevice(kSerialA, "127.0.1.64", 2);
    addDevice(kSerialB, "127.0.2.64", 1);
    LogCapture log(LogCapture::Swallow);
    auto thermal = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
    auto visible = openCamera(recordOf(kSerialA, "127.0.1.64", "RGBCamera", 1), true);
    auto other = openCamera(recordOf(kSerialB, "127.0.2.64", "IRCamera", 2));
    QVERIFY(thermal && visible && other);
    struct Channel {
        HikIRCamera* camera;
        std::string serial;
        int channel;
        int bytesPerPixel;
    };
    const Channel channels[] = {{thermal.get(), kSerialA, 2, 1}, {visible.get(), kSerialA, 1, 4},
                                {other.get(), kSerialB, 1, 1}};
    for (const Channel& c : channels) {
        QVERIFY(c.camera->startGrab());
        QVERIFY(c.camera->startGrab());  // already playing
    }
    for (int round = 0; round < 3; ++round) {
        for (const Channel& c : channels) {
            QCOMPARE(hcnetPump(c.serial, c.channel, 1), 1);
            QVERIFY(hcnetWaitIdle(c.serial, c.channel));
        }
        for (const Channel& c : channels) {
            std::vector<unsigned char> frame;
            QVERIFY(waitFrame(*c.camera, frame));
            int w = 0;
            int h = 0;
            c.camera->getSize(w, h);
            const PictureCheck check = checkStreamPicture(frame.data(), w, h, c.bytesPerPixel, 7);
            QVERIFY2(check.whole, check.problem.c_str());
            QCOMPARE(check.device, hcnetSimulator().deviceNumber(c.serial));
            QCOMPARE(check.channel, c.channel);
        }
    }
    QCOMPARE(playctrlPortsInUse(), 3);
    for (const Channel& c : channels) {
        c.camera->stopGrab();
        c.camera->stopGrab();  // the second does nothing
    }
    QCOMPARE(playctrlPortsInUse(), 0);
    QCOMPARE(hcnetStreams(), 0);
    {
        std::lock_guard<std::mutex> lock(HikIRCamera::portMapMutex);
        QVERIFY(HikIRCamera::portMap.isEmpty());
    }
}

void TestHikIRCamera::picturesOfAnotherSizeAreDropped()
{
    addDevice(kSerialA, "127.0.1.64", 1);
    LogCapture log(LogCapture::Swallow);
    auto camera = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
    QVERIFY(camera);
    QVERIFY(camera->startGrab());
    QVERIFY(hcnetWaitIdle(kSerialA, 1));
    std::vector<unsigned char> frame;
    hcnetPump(kSerialA, 1, 1);
    QVERIFY(waitFrame(*camera, frame));
    // The device switches to a smaller picture: nothing of it becomes a frame.
    hcnetSetPictureSize(kSerialA, 320, 256);
    const std::uint64_t before = playctrlPicturesDisplayed();
    hcnetPump(kSerialA, 1, 3);
    QVERIFY(hcnetWaitIdle(kSerialA, 1));
    QTRY_COMPARE_WITH_TIMEOUT(playctrlPicturesDisplayed(), before + 3, kSettleMs);
    if (waitFrame(*camera, frame, 200)) {
        const PictureCheck check = checkStreamPicture(frame.data(), 640, 512, 1, 5);
        QFAIL(qPrintable(QString("a frame came: sequence %1 whole %2 %3").arg(check.sequence).arg(check.whole).arg(check.problem.c_str())));
    }
    QCOMPARE(log.count("decoded picture of 320 x 256 (122880 bytes) dropped"), 1);
    // Back at the stream's size, frames come again.
    hcnetSetPictureSize(kSerialA, 640, 512);
    hcnetPump(kSerialA, 1, 1);
    QVERIFY(waitFrame(*camera, frame));
    QVERIFY(checkStreamPicture(frame.data(), 640, 512, 1, 5).whole);
}

void TestHikIRCamera::fullDecoderDropsTheChunk()
{
    addDevice(kSerialA, "127.0.1.64", 1);
    LogCapture log(LogCapture::Swallow);
    auto camera = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
    QVERIFY(camera && camera->startGrab());
    QVERIFY(hcnetWaitIdle(kSerialA, 1));
    playctrlSimulator().failNext("PlayM4_InputData", PLAYM4_BUF_OVER, 2);
    QElapsedTimer timer;
    timer.start();
    hcnetPump(kSerialA, 1, 2);
    QVERIFY(hcnetWaitIdle(kSerialA, 1));
    QVERIFY(timer.elapsed() >= 4);  // 2 ms for each full buffer
    hcnetPump(kSerialA, 1, 1);
    std::vector<unsigned char> frame;
    QVERIFY(waitFrame(*camera, frame));
    const PictureCheck check = checkStreamPicture(frame.data(), 640, 512, 1, 5);
    QVERIFY(check.whole);
    QCOMPARE(check.sequence, 3u);
}

void TestHikIRCamera::stopStartCyclesKeepBothChannelsDelivering()
{
    addDevice(kSerialA, "127.0.1.64", 2);
    LogCapture log(LogCapture::Swallow);
    auto thermal = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
    auto visible = openCamera(recordOf(kSerialA, "127.0.1.64", "RGBCamera", 1));
    QVERIFY(thermal && visible);
    HikIRCamera* cameras[2] = {thermal.get(), visible.get()};
    QVERIFY(thermal->startGrab() && visible->startGrab());
    for (int cycle = 0; cycle < 1000; ++cycle) {
        // The channels in turn: one frees its port while the other's stream
        // may be taking one.
        HikIRCamera* camera = cameras[cycle % 2];
        camera->stopGrab();
        QVERIFY(camera->startGrab());
        if (cycle % 50 == 0) {
            hcnetPump(kSerialA, 1, 1);
            hcnetPump(kSerialA, 2, 1);
        }
    }
    // Ports are reused: never more than the two channels hold.
    QVERIFY(hcnetWaitIdle(kSerialA, 1) && hcnetWaitIdle(kSerialA, 2));
    QCOMPARE(playctrlPortsInUse(), 2);
    QVERIFY(thermal->decoderPort() < 2 && visible->decoderPort() < 2);
    for (HikIRCamera* camera : cameras) {
        const int channel = camera->channel();
        std::vector<unsigned char> frame;
        camera->getFrame(std::vector<unsigned char>(std::size_t(camera->frameBytes())).data());
        hcnetPump(kSerialA, channel, 1);
        QVERIFY2(waitFrame(*camera, frame), qPrintable(QString("channel %1 stays dark").arg(channel)));
        const PictureCheck check = checkStreamPicture(frame.data(), 640, 512, 1, 5);
        QVERIFY(check.whole);
        QCOMPARE(check.channel, channel);
    }
}

void TestHikIRCamera::stoppingWhilePicturesArrive()
{
    addDevice(kSerialA, "127.0.1.64", 2);
    addDevice(kSerialB, "127.0.2.64", 1);
    hcnetSetPictureRate(kSerialA, 1000);
    hcnetSetPictureRate(kSerialB, 1000);
    LogCapture log(LogCapture::Swallow);
    for (int round = 0; round < 6; ++round) {
        auto thermal = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
        auto visible = openCamera(recordOf(kSerialA, "127.0.1.64", "RGBCamera", 1), true);
        auto other = openCamera(recordOf(kSerialB, "127.0.2.64", "IRCamera", 2));
        QVERIFY(thermal && visible && other);
        HikIRCamera* cameras[3] = {thermal.get(), visible.get(), other.get()};
        const int bytesPerPixel[3] = {1, 4, 1};
        const int channels[3] = {2, 1, 1};
        const int devices[3] = {hcnetSimulator().deviceNumber(kSerialA), hcnetSimulator().deviceNumber(kSerialA),
                                hcnetSimulator().deviceNumber(kSerialB)};
        for (HikIRCamera* camera : cameras) {
            QVERIFY(camera->startGrab());
        }
        if (round == 0) {
            // Pictures at full speed for a while: every frame whole and of its
            // own channel, frame counts adding up to the frames seen at most.
            std::vector<unsigned char> frame(640 * 512 * 4);
            int counted[3] = {};
            int seen[3] = {};
            QElapsedTimer timer;
            timer.start();
            // A while, and until every channel showed a few frames (a slow,
            // loaded checker build takes longer to get there).
            const auto fewSeen = [&] { return *std::min_element(seen, seen + 3) < 5; };
            while (timer.elapsed() < 900 || (fewSeen() && timer.elapsed() < 20000)) {
                for (int i = 0; i < 3; ++i) {
                    if (cameras[i]->getFrame(frame.data())) {
                        ++seen[i];
                        const PictureCheck check = checkStreamPicture(frame.data(), 640, 512, bytesPerPixel[i], 3);
                        QVERIFY2(check.whole, check.problem.c_str());
                        QCOMPARE(check.channel, channels[i]);
                        QCOMPARE(check.device, devices[i]);
                    }
                    int frames = 0;
                    cameras[i]->takeFrameCount(frames);
                    counted[i] += frames;
                }
                QTest::qSleep(3);
            }
            for (int i = 0; i < 3; ++i) {
                QVERIFY(seen[i] >= 5);
                QVERIFY2(counted[i] >= seen[i], qPrintable(QString("%1 < %2").arg(counted[i]).arg(seen[i])));
            }
        } else {
            QTest::qSleep(round * 10);
        }
        // Stop, close and destroy in turn while the display callbacks run.
        switch (round % 3) {
        case 0:
            thermal->stopGrab();
            visible->close();
            other.reset();
            break;
        case 1:
            thermal.reset();
            visible->stopGrab();
            other->close();
            break;
        default:
            other->stopGrab();
            visible.reset();
            thermal->close();
            break;
        }
    }
    QCOMPARE(playctrlPortsInUse(), 0);
    QCOMPARE(hcnetStreams(), 0);
}

void TestHikIRCamera::vanishingCameraIsLostAndComesBack()
{
    addDevice(kSerialA, "127.0.1.64", 1);
    LogCapture log(LogCapture::Swallow);
    auto camera = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
    QVERIFY(camera && camera->startGrab());
    std::vector<unsigned char> frame;
    hcnetPump(kSerialA, 1, 1);
    QVERIFY(waitFrame(*camera, frame));
    QVERIFY(camera->isOnline());

    // Polls that find pictures arriving never declare the camera lost.
    for (int poll = 0; poll < 8; ++poll) {
        hcnetPump(kSerialA, 1, 1);
        QVERIFY(waitFrame(*camera, frame));
        QVERIFY2(camera->isOnline(), qPrintable(QString("poll %1").arg(poll)));
    }

    QVERIFY(hcnetSimulator().vanish(kSerialA));
    QCOMPARE(hcnetPump(kSerialA, 1, 1), 0);
    QVERIFY(!camera->isOnline());
    QVERIFY(!camera->reconnect());
    QVERIFY(!camera->isOnline());
    QVERIFY(!camera->isOnline());

    QVERIFY(hcnetSimulator().comeBack(kSerialA));
    QVERIFY(!camera->reconnect());
    QCOMPARE(hcnetPump(kSerialA, 1, 1), 1);
    QVERIFY(waitFrame(*camera, frame));
    QVERIFY(camera->reconnect());
    hcnetPump(kSerialA, 1, 1);
    QVERIFY(waitFrame(*camera, frame));
    QVERIFY(camera->isOnline());
}

// ---------------------------------------------------------------- thermometry

void TestHikIRCamera::openConfiguresTheMeasurement()
{
    addDevice(kSerialA, "127.0.1.64", 1);
    // Camera 3 of the station, found as number 0: its own range and nobody else's.
    params.contrast(3) = 5;
    params.contrast(0) = 1;
    std::vector<unsigned char> ccd(7752, 0x5A);
    std::memcpy(ccd.data(), "\x48\x1e\x00\x00", 4);
    hcnetSetRecord(kSerialA, 1, 1002, ccd);
    LogCapture log(LogCapture::Swallow);
    auto camera = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 3));
    QVERIFY(camera);

    const auto on = hcnetRecord(kSerialA, 1, 6766);
    QCOMPARE(int(on.size()), 68);
    QCOMPARE(u32At(on, 0), 68u);
    QCOMPARE(int(on[4]), 1);

    const auto basic = hcnetRecord(kSerialA, 1, 3622);
    QCOMPARE(int(basic.size()), 136);
    QCOMPARE(int(basic[4]) | int(basic[5]) << 8, 1);
    QCOMPARE(int(basic[7]), 2);  // range 5 is limited to 2
    QCOMPARE(int(basic[8]), 0);
    QCOMPARE(int(basic[11]), 0);
    QCOMPARE(floatAt(basic, 12), 0.2f);
    QCOMPARE(int(basic[16]), 2);
    QCOMPARE(u32At(basic, 40), 28u);
    QCOMPARE(int(basic[49]), 1);
    QCOMPARE(int(basic[50]) | int(basic[51]) << 8, 1);
    QCOMPARE(floatAt(basic, 52), 26.0f);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(basic.data()) + 72, 4), QByteArray("\1\1\1\1", 4));
    QCOMPARE(int(basic[84]), 255);

    const auto mode = hcnetRecord(kSerialA, 1, 3306);
    QCOMPARE(int(mode.size()), 76);
    QCOMPARE(int(mode[4]) | int(mode[5]) << 8, 2);
    const auto written = hcnetRecord(kSerialA, 1, 1003);
    QCOMPARE(int(written.size()), 7752);
    QCOMPARE(u32At(written, 104), 0u);
    QCOMPARE(u32At(written, 7676), 0u);
    QCOMPARE(int(written[103]), 0x5A);  // the rest as the camera had it
    QCOMPARE(int(written[108]), 0x5A);
    QVERIFY(log.contains("测温基本参数配置 get is successful!"));
    QVERIFY(log.contains("测温基本参数配置set is successful!"));
}

void TestHikIRCamera::settersRewriteTheBasicParameters()
{
    addDevice(kSerialA, "127.0.1.64", 2);
    LogCapture log(LogCapture::Swallow);
    auto thermal = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
    auto visible = openCamera(recordOf(kSerialA, "127.0.1.64", "RGBCamera", 1));
    QVERIFY(thermal && visible);
    const auto before = hcnetRecord(kSerialA, 2, 3622);
    hcnetSimulator().clearCalls();
    thermal->setGain(40);
    QCOMPARE(callCount("NET_DVR_SetSTDConfig"), 1);
    QVERIFY(hcnetRecord(kSerialA, 2, 3622) == before);
    thermal->setContrast(1);
    QCOMPARE(int(hcnetRecord(kSerialA, 2, 3622)[7]), 1);
    thermal->setContrast(9);
    QCOMPARE(int(hcnetRecord(kSerialA, 2, 3622)[7]), 2);

    // The visible channel only reads its image record.
    hcnetSimulator().clearCalls();
    visible->setContrast(1);
    visible->setGamma(3);
    QCOMPARE(callCount("NET_DVR_GetDVRConfig"), 2);
    QCOMPARE(callCount("NET_DVR_SetSTDConfig"), 0);

    // A failed read writes nothing back.
    hcnetSimulator().failNext("NET_DVR_GetSTDConfig", NET_DVR_ERR_UNREACHABLE);
    hcnetSimulator().clearCalls();
    thermal->setExposure(5);
    QCOMPARE(callCount("NET_DVR_SetSTDConfig"), 0);
    QVERIFY(log.contains("测温基本参数配置 get failed, error code: 7"));

    hcnetSimulator().clearCalls();
    QCOMPARE(thermal->autoAdjust(true), QJsonObject());
    QCOMPARE(thermal->autoAdjust(false), QJsonObject());
    QCOMPARE(callCount("NET_DVR_FocusOnePush"), 1);
}

void TestHikIRCamera::uploadWritesRules()
{
    addDevice(kSerialA, "127.0.1.64", 1);
    params.distance(2) = 0x10007;  // only its low 16 bits go out
    params.distance(0) = 99;
    // An entry of the camera's own that the upload does not fill.
    std::vector<unsigned char> own(8168, 0);
    std::memcpy(own.data(), "\xe8\x1f\x00\x00\x01\x00", 6);
    own[8 + 39 * 204 + 1] = 40;
    hcnetSetRecord(kSerialA, 1, 3624, own);
    LogCapture log(LogCapture::Swallow);
    auto camera = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 2));
    QVERIFY(camera);
    AreaSet areas;
    areas.add(0, FuncTempAlarm, new ClustomRect(10, 20, 49, 59), pack(-3, 95), pack(1, 0), pack(-5, 0));
    areas.add(1, FuncSpot, new ClustomRect(0, 0, 9, 9), 0, 0, 0);
    areas.add(1, FuncTempAlarm, new Circle(20, 20, 10, 0), 95, 0, 0);
    areas.add(1, FuncSpot, new ClustomRect(0, 0, 9, 9), 0, 0, 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(100, 50, 199, 149), 98, 0, pack(30, 0));
    camera->setDetectConfig(QVariant::fromValue(&areas.set), 1);  // another flag: nothing
    QVERIFY(hcnetRecord(kSerialA, 1, 3625).empty());
    camera->setDetectConfig(QVariant::fromValue(&areas.set), 0);
    QVERIFY(log.contains("预置点设置 is successful!"));

    const auto preset = hcnetRecord(kSerialA, 1, 3625);
    QCOMPARE(int(preset.size()), 8168);
    QCOMPARE(u32At(preset, 0), 8168u);
    const auto entry = [&](int rule) { return std::vector<unsigned char>(preset.begin() + 8 + rule * 204, preset.begin() + 8 + rule * 204 + 204); };
    const auto point = entry(0);
    QCOMPARE(int(point[0]), 1);
    QCOMPARE(int(point[1]), 1);
    QCOMPARE(int(point[2]) | int(point[3]) << 8, 7);
    QCOMPARE(floatAt(point, 4), 0.95f);
    QCOMPARE(int(point[8]), 2);
    QCOMPARE(int(point[11]), 1);
    QCOMPARE(floatAt(point, 12), -5.0f);  // not 65,531
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(point.data()) + 16), QByteArray("0"));
    QCOMPARE(int(point[111]), 0);
    QCOMPARE(floatAt(point, 112), float(29.5 / 640));
    QCOMPARE(floatAt(point, 116), float(39.5 / 512));

    const auto region = entry(13);
    QCOMPARE(int(region[1]), 14);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(region.data()) + 16), QByteArray("3"));
    QCOMPARE(int(region[111]), 1);
    QCOMPARE(u32At(region, 120), 4u);
    QCOMPARE(floatAt(region, 12), 30.0f);
    const float corners[8] = {0.15625f, 0.09765625f, 0.3109375f, 0.09765625f,
                              0.3109375f, 0.291015625f, 0.15625f, 0.291015625f};
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(floatAt(region, 124 + 4 * i), corners[i]);
    }
    // No rule for the circle; the camera's own entry stays.
    QCOMPARE(int(entry(11)[0]), 0);
    QCOMPARE(int(entry(39)[1]), 40);
}

void TestHikIRCamera::queryReadsTheRuleOfTheArea_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("expected");

    // The rule answers 30.9 at byte 0, 40.9 at byte 4, 50.9 at byte 8.
    QTest::newRow("mode 1: byte 8") << 1 << 0 << 50;
    QTest::newRow("mode 2: byte 0") << 2 << 0 << 30;
    QTest::newRow("other: byte 4") << 0 << 0 << 40;
    QTest::newRow("compensation -3") << 1 << -3 << 47;
}

void TestHikIRCamera::queryReadsTheRuleOfTheArea()
{
    QFETCH(int, mode);
    QFETCH(int, offset);
    QFETCH(int, expected);
    addDevice(kSerialA, "127.0.1.64", 1);
    LogCapture log(LogCapture::Swallow);
    auto camera = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
    QVERIFY(camera);
    AreaSet areas;
    areas.add(1, FuncSpot, new ClustomRect(0, 0, 9, 9), 0, 0, 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(0, 0, 9, 9), pack(offset, 95), pack(mode, 0), 0);
    camera->setDetectConfig(QVariant::fromValue(&areas.set), 0);
    hcnetSetRuleTemperatures(kSerialA, 12, 30.9f, 40.9f, 50.9f);
    const QVariant reply = temperatureOf(*camera, 1, 1);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.toInt(), expected);
    QCOMPARE(camera->roiTemperature(1, 1), std::optional<int>(expected));
}

void TestHikIRCamera::failedReadsNeverAnswerZero_data()
{
    QTest::addColumn<int>("detect");
    QTest::addColumn<int>("area");
    QTest::addColumn<float>("temperature");
    QTest::addColumn<int>("cameraFault");
    QTest::addColumn<bool>("asksCamera");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("camera fails") << 0 << 0 << 0.0f << NET_DVR_ERR_UNREACHABLE << true;
    QTest::newRow("NaN") << 0 << 0 << nan << 0 << true;
    QTest::newRow("infinite") << 0 << 0 << std::numeric_limits<float>::infinity() << 0 << true;
    QTest::newRow("beyond an int") << 0 << 0 << 3e10f << 0 << true;
    QTest::newRow("circle: no rule") << 0 << 1 << 0.0f << 0 << false;
    QTest::newRow("area 12 of detect 0") << 0 << 12 << 0.0f << 0 << false;
    QTest::newRow("detect 2") << 2 << 0 << 0.0f << 0 << false;
    QTest::newRow("far past the tables") << 900 << 77 << 0.0f << 0 << false;
    QTest::newRow("negative area") << 0 << -1 << 0.0f << 0 << false;
}

void TestHikIRCamera::failedReadsNeverAnswerZero()
{
    QFETCH(int, detect);
    QFETCH(int, area);
    QFETCH(float, temperature);
    QFETCH(int, cameraFault);
    QFETCH(bool, asksCamera);
    addDevice(kSerialA, "127.0.1.64", 1);
    LogCapture log(LogCapture::Swallow);
    auto camera = openCamera(recordOf(kSerialA, "127.0.1.64", "IRCamera", 0));
    QVERIFY(camera);
    AreaSet areas;
    areas.add(0, FuncTempAlarm, new ClustomRect(0, 0, 9, 9), 95, 0, 0);
    areas.add(0, FuncTempAlarm, new Circle(20, 20, 5, 0), 95, 0, 0);
    for (int a = 2; a < 13; ++a) {
        areas.add(0, FuncSpot, new ClustomRect(0, 0, 9, 9), 0, 0, 0);
    }
    // Detect 1 area 2 is measured: area 12 of detect 0 must not read it.
    areas.add(1, FuncSpot, new ClustomRect(0, 0, 9, 9), 0, 0, 0);
    areas.add(1, FuncSpot, new ClustomRect(0, 0, 9, 9), 0, 0, 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(0, 0, 9, 9), 95, 0, 0);
    areas.add(2, FuncTempAlarm, new ClustomRect(0, 0, 9, 9), 95, 0, 0);
    camera->setDetectConfig(QVariant::fromValue(&areas.set), 0);
    for (int rule = 1; rule <= 30; ++rule) {
        hcnetSetRuleTemperatures(kSerialA, rule, temperature, temperature, temperature);
    }
    if (cameraFault) {
        hcnetSimulator().failNext("NET_DVR_GetDVRConfig", cameraFault, 2);
    }
    hcnetSimulator().clearCalls();
    const QVariant reply = temperatureOf(*camera, detect, area);
    QVERIFY(!reply.isValid());
    QVERIFY(!camera->roiTemperature(detect, area));
    QCOMPARE(callCount("NET_DVR_GetDVRConfig") > 0, asksCamera);
    if (cameraFault) {
        QVERIFY(log.contains(QString::fromUtf8("获取温度失败, error code: %1").arg(cameraFault)));
    }
    // Another flag leaves the reply alone.
    QVariant untouched(5);
    camera->query(QJsonObject{{"detect", 0}, {"funcNO", 0}}, untouched, 1);
    QCOMPARE(untouched, QVariant(5));
}

// A camera offered by the devices file in the working folder, as the
// program and the demo find it: discovered on the simulated interface,
// streaming a warm mould half with two hot cavities, and measuring that
// scene through the rules the areas were uploaded as.
void TestHikIRCamera::devicesFileCameraShowsAndMeasuresItsScene()
{
    QVERIFY(workDir->write("simulated-cameras.json",
                           R"({"MVCameraControl": [], "HCNetSDK": [{"serial": "IR0000001", "fps": 25},
                               {"serial": "IR0000002", "address": "127.0.3.64", "width": 123}]})"));
    hcnetReset();
    LogCapture log(LogCapture::Swallow);
    hcnetReadDevicesFile();
    QVERIFY(log.contains("IR0000002 left out"));

    HikIRCamera prototype;
    const QList<CameraInfo> found = prototype.enumerate();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].idText(), QString("IR0000001"));
    QCOMPARE(found[0].addressText(), QString("127.0.0.64"));
    QCOMPARE(found[0].channelName, QString("IRCamera"));

    auto camera = openCamera(found[0]);
    QVERIFY(camera);
    int width = 0;
    int height = 0;
    camera->getSize(width, height);
    QCOMPARE(QSize(width, height), QSize(640, 512));
    // It streams by itself, as the demo's camera does.
    QVERIFY(camera->startGrab());
    std::vector<unsigned char> frame;
    QVERIFY(waitFrame(*camera, frame, 20000));
    const auto grey = [&](int x, int y) { return int(frame[std::size_t(y) * 640 + std::size_t(x)]); };
    // The cavities (left and right of the middle) glow, the mould's edge is cold.
    QVERIFY2(grey(205, 256) > grey(10, 10) + 120, qPrintable(QString("%1 %2").arg(grey(205, 256)).arg(grey(10, 10))));
    QVERIFY(grey(435, 256) > grey(320, 256) + 60);

    AreaSet areas;
    // Detect 0: a point on the left cavity; detect 1: a box over the right
    // cavity and one in the cold corner, read for their highest temperature.
    areas.add(0, FuncTempAlarm, new ClustomRect(195, 246, 215, 266), 95, pack(2, 0), 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(395, 206, 475, 306), 95, pack(2, 0), 0);
    areas.add(1, FuncTempAlarm, new ClustomRect(0, 0, 39, 39), 95, pack(2, 0), 0);
    camera->setDetectConfig(QVariant::fromValue(&areas.set), 0);
    const int cavityPoint = temperatureOf(*camera, 0, 0).toInt();
    const int cavityBox = temperatureOf(*camera, 1, 0).toInt();
    const int corner = temperatureOf(*camera, 1, 1).toInt();
    QVERIFY2(cavityPoint >= 170 && cavityPoint <= 186, qPrintable(QString::number(cavityPoint)));
    QVERIFY2(cavityBox >= 170 && cavityBox <= 186, qPrintable(QString::number(cavityBox)));
    QVERIFY2(corner >= 29 && corner <= 32, qPrintable(QString::number(corner)));
    // An area that was not uploaded as a rule has nothing to read.
    QVERIFY(!temperatureOf(*camera, 1, 5).isValid());
    camera->close();
}

QTEST_GUILESS_MAIN(TestHikIRCamera)
#include "tst_hikircamera.moc"
