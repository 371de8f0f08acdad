#include "simulatecamera.h"
#include "testworkdir.h"

#include <QDir>
#include <QImage>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

constexpr int kW = SimulateCamera::FrameWidth;
constexpr int kH = SimulateCamera::FrameHeight;
constexpr int kGreyBytes = kW * kH;
constexpr int kColourBytes = kW * kH * 4;

// What a template file holds. Each picture has its own pattern (seed), so a
// frame shows which file it came from.
enum class Kind { Missing, Grey, Colour, Small, Mono, Corrupt };

QVector<QRgb> greyTable()
{
    QVector<QRgb> table(256);
    for (int v = 0; v < 256; ++v) {
        table[v] = qRgb(v, v, v);
    }
    return table;
}

unsigned char patternValue(int seed, int x, int y)
{
    return static_cast<unsigned char>((x * 7 + y * 13 + seed * 101) & 0xff);
}

// The bytes a frame must hold after loading a picture of that kind and seed.
QByteArray expectedFrame(Kind kind, int seed)
{
    if (kind == Kind::Grey) {
        QByteArray frame(kGreyBytes, 0);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                frame[y * kW + x] = char(patternValue(seed, x, y));
            }
        }
        return frame;
    }
    if (kind == Kind::Colour) {
        QByteArray frame(kColourBytes, 0);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                char* p = frame.data() + (y * kW + x) * 4;
                p[0] = char(patternValue(seed, x, y));      // blue
                p[1] = char(patternValue(seed + 1, x, y));  // green
                p[2] = char(patternValue(seed + 2, x, y));  // red
                p[3] = char(0xff);
            }
        }
        return frame;
    }
    return {};
}

bool writeTemplate(const QString& path, Kind kind, int seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    switch (kind) {
    case Kind::Missing:
        return true;
    case Kind::Corrupt: {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("BM this is no bitmap") > 0;
    }
    case Kind::Grey:
    case Kind::Small: {
        const int w = kind == Kind::Small ? 1280 : kW;
        const int h = kind == Kind::Small ? 720 : kH;
        QImage image(w, h, QImage::Format_Indexed8);
        image.setColorTable(greyTable());
        for (int y = 0; y < h; ++y) {
            uchar* row = image.scanLine(y);
            for (int x = 0; x < w; ++x) {
                row[x] = patternValue(seed, x, y);
            }
        }
        return image.save(path, "BMP");
    }
    case Kind::Mono: {
        QImage image(kW, kH, QImage::Format_Mono);
        image.fill(1);
        return image.save(path, "BMP");
    }
    case Kind::Colour: {
        QImage image(kW, kH, QImage::Format_RGB32);
        for (int y = 0; y < kH; ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < kW; ++x) {
                row[x] = qRgb(patternValue(seed + 2, x, y), patternValue(seed + 1, x, y), patternValue(seed, x, y));
            }
        }
        return image.save(path, "BMP");
    }
    }
    return false;
}

std::unique_ptr<CameraInterface> openedCamera(int deviceIndex, bool colour)
{
    SimulateCamera prototype;
    const QList<CameraInfo> devices = prototype.enumerate();
    std::unique_ptr<CameraInterface> camera(prototype.create(devices.at(deviceIndex)));
    camera->setColorOutput(colour);
    if (!camera->open()) {
        return nullptr;
    }
    return camera;
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestSimulateCamera : public QObject {
    Q_OBJECT

private slots:
    void enumeratesTwoDevices();
    void sessionAsTheStationRunsIt();
    void getFrameBeforeTriggerGivesZeros_data();
    void getFrameBeforeTriggerGivesZeros();
    void triggersAlternateTemplates_data();
    void triggersAlternateTemplates();
    void secondDeviceReadsItsOwnFolder();
    void colourChoiceSizesTheFrame();
};

void TestSimulateCamera::enumeratesTwoDevices()
{
    SimulateCamera prototype;
    const QList<CameraInfo> devices = prototype.enumerate();
    QCOMPARE(devices.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(devices[i].index, i);
        QCOMPARE(devices[i].number, -1);
        QCOMPARE(devices[i].iid, QStringLiteral("simulatecamera_IID"));
        QVERIFY(devices[i].idText().isEmpty());
        QVERIFY(devices[i].addressText().isEmpty());
        QVERIFY(devices[i].channelName.isEmpty());
    }
    QCOMPARE(prototype.deviceCount(), 2);
    QCOMPARE(prototype.info().index, -1);
}

// A station drives the simulated device as it drives a real one: settings,
// a stop and a start of the grab, a trigger. None of it may disturb the
// pictures it replays, it hands the station no camera settings of its own,
// and a reconnection is refused (there is no link to lose).
void TestSimulateCamera::sessionAsTheStationRunsIt()
{
    TestWorkDir dir;
    QVERIFY(writeTemplate(dir.filePath("cammer25/template0.bmp"), Kind::Grey, 3));
    std::unique_ptr<CameraInterface> camera = openedCamera(1, false);
    QVERIFY(camera);
    QCOMPARE(camera->info().index, 1);
    int width = 0;
    int height = 0;
    camera->getSize(width, height);
    QCOMPARE(width * height, static_cast<SimulateCamera*>(camera.get())->frameBytes());

    // The camera settings the station hands on leave the record alone.
    int parameters[40];
    std::fill(std::begin(parameters), std::end(parameters), 77);
    camera->loadDefaults(parameters, 1);
    QVERIFY(std::all_of(std::begin(parameters), std::end(parameters), [](int v) { return v == 77; }));
    camera->setTriggerMode(false);
    camera->setExposure(5000);
    camera->setGain(30);
    camera->setSharpness(2);
    camera->setContrast(60);
    camera->setGamma(80);
    camera->setMirror(true, true);
    camera->setFrameRate(5);
    camera->setAutoExposure(true);
    QVERIFY(camera->autoAdjust(true).isEmpty());
    camera->stopGrab();
    QVERIFY(camera->startGrab());

    camera->softTrigger();
    QByteArray frame(kGreyBytes, 'S');
    camera->getFrame(frame.data());
    QVERIFY(frame == expectedFrame(Kind::Grey, 3));
    // Always delivering: the station's watch never finds it stalled.
    int frames = 5;
    QVERIFY(camera->takeFrameCount(frames));
    QCOMPARE(frames, 5);
    QVERIFY(camera->isOnline());
    QVERIFY(!camera->reconnect());
}

void TestSimulateCamera::getFrameBeforeTriggerGivesZeros_data()
{
    QTest::addColumn<bool>("colour");
    QTest::newRow("grey") << false;
    QTest::newRow("colour") << true;
}

void TestSimulateCamera::getFrameBeforeTriggerGivesZeros()
{
    QFETCH(bool, colour);
    std::unique_ptr<CameraInterface> camera = openedCamera(0, colour);
    const int bytes = colour ? kColourBytes : kGreyBytes;
    QByteArray destination(bytes, 'S');
    QVERIFY(!camera->getFrame(destination.data()));
    QCOMPARE(destination, QByteArray(bytes, 0));
}

void TestSimulateCamera::triggersAlternateTemplates_data()
{
    QTest::addColumn<bool>("colour");
    QTest::addColumn<Kind>("template0");
    QTest::addColumn<Kind>("template1");
    // After each of three triggers, which template the frame shows (-1: still zeros).
    QTest::addColumn<QVector<int>>("shown");

    QTest::newRow("both present") << false << Kind::Grey << Kind::Grey << QVector<int>{0, 1, 0};
    QTest::newRow("template1 missing") << false << Kind::Grey << Kind::Missing << QVector<int>{0, 0, 0};
    QTest::newRow("template0 missing") << false << Kind::Missing << Kind::Grey << QVector<int>{-1, 1, 1};
    QTest::newRow("1280 x 720 ignored") << false << Kind::Grey << Kind::Small << QVector<int>{0, 0, 0};
    QTest::newRow("1-bit ignored") << false << Kind::Grey << Kind::Mono << QVector<int>{0, 0, 0};
    QTest::newRow("unreadable ignored") << false << Kind::Corrupt << Kind::Grey << QVector<int>{-1, 1, 1};
    QTest::newRow("colour frames") << true << Kind::Colour << Kind::Colour << QVector<int>{0, 1, 0};
    QTest::newRow("colour frames, 8-bit skipped") << true << Kind::Colour << Kind::Grey << QVector<int>{0, 0, 0};
    QTest::newRow("colour frames, only 8-bit") << true << Kind::Grey << Kind::Grey << QVector<int>{-1, -1, -1};
}

void TestSimulateCamera::triggersAlternateTemplates()
{
    QFETCH(bool, colour);
    QFETCH(Kind, template0);
    QFETCH(Kind, template1);
    QFETCH(QVector<int>, shown);

    TestWorkDir dir;
    QVERIFY(writeTemplate(dir.filePath("cammer15/template0.bmp"), template0, 1));
    QVERIFY(writeTemplate(dir.filePath("cammer15/template1.bmp"), template1, 2));
    const Kind kinds[2] = {template0, template1};

    std::unique_ptr<CameraInterface> camera = openedCamera(0, colour);
    const int bytes = colour ? kColourBytes : kGreyBytes;
    QByteArray frame(bytes, 'S');
    for (int trigger = 0; trigger < shown.size(); ++trigger) {
        camera->softTrigger();
        QVERIFY(!camera->getFrame(frame.data()));
        const int t = shown[trigger];
        const QByteArray expected = t < 0 ? QByteArray(bytes, 0) : expectedFrame(kinds[t], t + 1);
        QVERIFY2(frame == expected, qPrintable(QStringLiteral("trigger %1 should show %2").arg(trigger).arg(t)));
        // The frame stays until the next trigger.
        frame.fill('S');
        QVERIFY(!camera->getFrame(frame.data()));
        QVERIFY(frame == expected);
    }
}

void TestSimulateCamera::secondDeviceReadsItsOwnFolder()
{
    TestWorkDir dir;
    QVERIFY(writeTemplate(dir.filePath("cammer15/template0.bmp"), Kind::Grey, 1));
    QVERIFY(writeTemplate(dir.filePath("cammer25/template0.bmp"), Kind::Grey, 5));
    std::unique_ptr<CameraInterface> camera = openedCamera(1, false);
    auto* simulated = static_cast<SimulateCamera*>(camera.get());
    QCOMPARE(simulated->nextTemplatePath(), QStringLiteral("cammer25/template0.bmp"));
    camera->softTrigger();
    QCOMPARE(simulated->nextTemplatePath(), QStringLiteral("cammer25/template1.bmp"));
    QByteArray frame(kGreyBytes, 'S');
    camera->getFrame(frame.data());
    QVERIFY(frame == expectedFrame(Kind::Grey, 5));
}

void TestSimulateCamera::colourChoiceSizesTheFrame()
{
    SimulateCamera camera(SimulateCamera().enumerate().at(0));
    QCOMPARE(camera.frameBytes(), 0);
    camera.setColorOutput(true);
    QCOMPARE(camera.frameBytes(), 0);  // no pixel count before open
    QVERIFY(camera.open());
    QCOMPARE(camera.frameBytes(), 8294400);
    camera.setColorOutput(false);
    QCOMPARE(camera.frameBytes(), 2073600);
    // A late switch resizes the buffer with it: getFrame must not read past it.
    camera.setColorOutput(true);
    QByteArray frame(kColourBytes, 'S');
    camera.getFrame(frame.data());
    QCOMPARE(frame, QByteArray(kColourBytes, 0));
}

QTEST_GUILESS_MAIN(TestSimulateCamera)
#include "tst_simulatecamera.moc"
