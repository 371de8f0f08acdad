#include "camerastation.h"

#include "cammersingleton.h"
#include "clustomrect.h"
#include "detectalgorithm.h"
#include "enginestation.h"
#include "recordshandover.h"
#include "temperaturechartdata.h"
#include "fakecamera.h"
#include "globals.h"
#include "promptanswerer.h"
#include "registeredstate.h"
#include "roiinterface.h"
#include "stationhost.h"
#include "systemparam.h"
#include "texttable.h"
#include "testworkdir.h"
#include "settle.h"

#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

namespace {

// Installs the process-wide values a station reads and puts them back.
struct StationGlobals {
    SystemParam live{};
    SystemParam edit{};
    SystemParam* oldLive = gpSystemParam;
    SystemParam* oldEdit = gpSystemParamEdit;
    int oldDetects = gDetectCount;
    int oldTemplates = gTemplateCount;
    int oldColour = gColorMode;
    int oldSource = gImageSource;

    StationGlobals(int detects, int templates, bool colour)
    {
        live.clear();
        edit.clear();
        gpSystemParam = &live;
        gpSystemParamEdit = &edit;
        gDetectCount = detects;
        gTemplateCount = templates;
        gColorMode = colour ? 1 : 0;
        gImageSource = -1;
    }
    ~StationGlobals()
    {
        gpSystemParam = oldLive;
        gpSystemParamEdit = oldEdit;
        gDetectCount = oldDetects;
        gTemplateCount = oldTemplates;
        gColorMode = oldColour;
        gImageSource = oldSource;
    }
};

QImage greyImage(int w, int h, int seed)
{
    QImage image(w, h, QImage::Format_Indexed8);
    image.setColorTable(greyRampTable());
    for (int y = 0; y < h; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            row[x] = uchar((x * 3 + y * 5 + seed) & 0xff);
        }
    }
    return image;
}

// The main window as the station sees it.
struct FakeHost : StationHost {
    int cur = 0;
    // The edited detect and the drawing mode.
    RegisteredOperatingState state;
    double offX = 0, offY = 0, zx = 1, zy = 1;
    int probeX = -7, probeY = -7;
    quint32 probeValue = 12345;
    QStringList records;
    int detectRunning() override { return cur; }
    QVector<QRgb> grayColourTable() override { return greyRampTable(); }
    double panX() override { return offX; }
    double panY() override { return offY; }
    double zoomX() override { return zx; }
    double zoomY() override { return zy; }
    void setProbe(int x, int y) override { probeX = x; probeY = y; }
    void setProbeValue(quint32 v) override { probeValue = v; }
    void insertRecord(const QString& text) override { records << text; }
    void appendCycleValue(int) override {}
};

struct HostInstaller {
    FakeHost host;
    HostInstaller() { setStationHost(&host); }
    ~HostInstaller() { clearStationHost(&host); }
};

// Puts a rectangle area into a set (live or edit) with its mask.
void addRect(CameraStation& st, bool live, int detect, QRect r, int function, int param, int output = 0)
{
    CammerSingleton& set = live ? *st.pLiveSingleton : *st.pEditSingleton;
    auto* shape = new ClustomRect(r.left(), r.top(), r.right(), r.bottom());
    shape->updateBounds();
    const int n = set.roiCount[detect]++;
    const int slot = detect * 50 + n;
    set.roiLists[detect].append(shape);
    set.roiShapeType[slot] = shape->type();
    set.roiFunction[slot] = function;
    set.roiParam[slot] = param;
    set.roiLower[slot] = param + 1;
    set.roiUpper[slot] = param + 2;
    if (detect == 0) set.roiOutput[n] = output;
    (live ? st.data.roiMasks : st.data.editRoiMasks)[slot] = shape->createMask();
}

} // namespace

class TestCameraStation : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void templatesFromTheStationFolder();
    void placeholderAndInvalidSamples_data();
    void placeholderAndInvalidSamples();
    void oddWidthRoundTrip();
    void ignoreMasksOfOtherDepths_data();
    void ignoreMasksOfOtherDepths();
    void savedPicturesComeBackInANewStation();
    void cutWriteKeepsTheOldFile();
    void sampleBuffersOnlyForPresentSamples();
    void forwarders_data();
    void forwarders();
    void applyCameraSettingsInOrder();
    void externalTriggerLeavesTheDisplay();
    void lostCameraWatch();
    void lostCameraOnTheRealTimer();
    void copyParaClonesDetectZero();
    void copyMaskToLiveOnTwoColourMachine();
    void deleteRoi();
    void newAreasTakeFirstFunctionThenCopy();
    void savePolygon();
    void thermalQueries();
    void probeOnASmallStation();
    void detectReachesPeers();
    void onlyDetectsInUseAreTrained();

private:
    std::unique_ptr<CameraStation> makeStation(int camera, FakeCamera& camera_);

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<PromptAnswerer> m_prompts;
};

void TestCameraStation::initTestCase()
{
    initTextTable();
}

void TestCameraStation::init()
{
    m_dir = std::make_unique<TestWorkDir>();
    QVERIFY(m_dir->isValid());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(m_dir->filePath("PARAM.db"));
    QVERIFY(db.open());
    for (int c = 0; c < 8; ++c) {
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("create table cammer%1 (name text, value text)").arg(c)));
    }
    m_prompts = std::make_unique<PromptAnswerer>();
}

void TestCameraStation::cleanup()
{
    m_prompts.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(CammerSingleton::ParamConnection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    m_dir.reset();
}

std::unique_ptr<CameraStation> TestCameraStation::makeStation(int camera, FakeCamera& driver)
{
    driver.open();
    return std::make_unique<CameraStation>(camera, &driver);
}

void TestCameraStation::templatesFromTheStationFolder()
{
    StationGlobals globals(2, 4, false);
    QDir().mkpath("cammer12");
    QDir().mkpath("cammer81");
    QVERIFY(greyImage(64, 48, 3).save("cammer12/template3.bmp", "BMP"));
    QImage ignore = greyImage(64, 48, 0);
    ignore.fill(255);
    QVERIFY(ignore.save("cammer81/ignorepoint.bmp", "BMP"));

    FakeCamera first(64, 48);
    auto station = makeStation(0, first);
    QCOMPARE(station->templatePath(1, 3), QStringLiteral("./cammer12/template3.bmp"));
    QVERIFY(station->data.templateValid[1][3]);
    QCOMPARE(station->data.templateCount[1], 2); // sample 3 and the placeholder
    QCOMPARE(int(station->data.templates[1][3][64 * 2 + 5]), (5 * 3 + 2 * 5 + 3) & 0xff);

    FakeCamera last(64, 48);
    auto eighth = makeStation(7, last);
    QCOMPARE(eighth->ignorePath(0), QStringLiteral("./cammer81/ignorepoint.bmp"));
    QCOMPARE(int(eighth->data.ignoreMasks[0][100]), 255);
    QCOMPARE(int(eighth->data.ignoreMasks[1][100]), 0);
}

void TestCameraStation::placeholderAndInvalidSamples_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("colour");
    QTest::addColumn<int>("fileWidth");
    QTest::addColumn<int>("fileHeight");
    QTest::newRow("no file, 640 x 480 grey") << 640 << 480 << false << 0 << 0;
    QTest::newRow("640 x 480 file on 1280 x 1024") << 1280 << 1024 << false << 640 << 480;
    QTest::newRow("8-bit file in colour mode") << 640 << 480 << true << 640 << 480;
}

void TestCameraStation::placeholderAndInvalidSamples()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, colour);
    QFETCH(int, fileWidth);
    QFETCH(int, fileHeight);
    StationGlobals globals(2, 3, colour);
    QDir().mkpath("cammer11");
    if (fileWidth > 0) {
        QVERIFY(greyImage(fileWidth, fileHeight, 1).save("cammer11/template0.bmp", "BMP"));
        QVERIFY(greyImage(fileWidth, fileHeight, 1).save("cammer11/template1.bmp", "BMP"));
    }
    FakeCamera driver(width, height, colour);
    auto station = makeStation(0, driver);
    const StationData& d = station->data;
    QCOMPARE(d.templateCount[0], 1);
    QVERIFY(d.templateValid[0][0]);
    QVERIFY(!d.templateValid[0][1]);
    QVERIFY(d.templates[0][1].empty()); // an invalid sample holds no buffer
    const int bpp = colour ? 4 : 1;
    const std::vector<uchar>& s = d.templates[0][0];
    QCOMPARE(int(s.size()), width * height * bpp);
    auto at = [&](int x, int y) { return int(s[std::size_t((y * width + x) * bpp + bpp - 1)]); };
    const int w4 = width / 4;
    const int h4 = height / 4;
    QCOMPARE(at(w4, h4), 255);
    QCOMPARE(at(3 * w4, 3 * h4), 255);
    QCOMPARE(at(w4 - 1, h4), 0);
    QCOMPARE(at(3 * w4 + 1, h4), 0);
    QCOMPARE(at(w4, 3 * h4 + 1), 0);
}

void TestCameraStation::oddWidthRoundTrip()
{
    // 642 bytes per row: every BMP row carries two bytes of padding.
    for (bool colour : {false, true}) {
        const int w = 642;
        const int h = 5;
        const int bpp = colour ? 4 : 1;
        std::vector<uchar> frame(std::size_t(w * h * bpp));
        for (std::size_t i = 0; i < frame.size(); ++i) {
            frame[i] = uchar((i * 13 + 7) & 0xff);
        }
        if (colour) {
            for (std::size_t i = 3; i < frame.size(); i += 4) {
                frame[i] = 0xff; // the alpha byte QImage would give back for RGB32
            }
        }
        QVERIFY(StationBitmap::write("odd/t.bmp", frame.data(), w, h, bpp, greyRampTable()));
        std::vector<uchar> back(frame.size(), 1);
        QVERIFY(StationBitmap::readFrame("odd/t.bmp", w, h, bpp, back.data()));
        if (colour) {
            for (std::size_t i = 3; i < back.size(); i += 4) {
                back[i] = 0xff;
            }
        }
        QVERIFY(back == frame);
        if (!colour) {
            std::vector<uchar> grey(frame.size(), 1);
            QVERIFY(StationBitmap::readGrey("odd/t.bmp", w, h, grey.data()));
            QVERIFY(grey == frame);
        }
    }
}

void TestCameraStation::ignoreMasksOfOtherDepths_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("1-bit") << int(QImage::Format_Mono);
    QTest::newRow("24-bit") << int(QImage::Format_RGB888);
    QTest::newRow("32-bit") << int(QImage::Format_RGB32);
}

void TestCameraStation::ignoreMasksOfOtherDepths()
{
    QFETCH(int, format);
    StationGlobals globals(2, 1, false);
    const int w = 37;
    const int h = 9;
    QImage source(w, h, QImage::Format_RGB32);
    source.fill(Qt::black);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; x += 3) {
            source.setPixel(x, y, qRgb(255, 255, 255));
        }
    }
    QDir().mkpath("cammer11");
    QVERIFY(source.convertToFormat(QImage::Format(format)).save("cammer11/ignorepoint.bmp", "BMP"));
    FakeCamera driver(w, h);
    auto station = makeStation(0, driver);
    const std::vector<uchar>& mask = station->data.ignoreMasks[0];
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            QCOMPARE(int(mask[std::size_t(y * w + x)]), x % 3 == 0 ? 255 : 0);
        }
    }
}

void TestCameraStation::savedPicturesComeBackInANewStation()
{
    for (bool colour : {false, true}) {
        StationGlobals globals(2, 2, colour);
        FakeCamera driver(50, 30, colour);
        auto station = makeStation(1, driver);
        for (std::size_t i = 0; i < station->data.grabBuffer.size(); ++i) {
            station->data.grabBuffer[i] = uchar(i * 31);
            if (colour && i % 4 == 3) {
                station->data.grabBuffer[i] = 0xff;
            }
        }
        QVERIFY(station->SaveReTrainImage(1));
        QVERIFY(station->data.displayBuffer == station->data.grabBuffer);
        std::fill(station->data.ignoreMasks[1].begin(), station->data.ignoreMasks[1].end(), uchar(0));
        station->data.ignoreMasks[1][7] = 255;
        QVERIFY(station->SaveIgnoreMask(1));

        FakeCamera again(50, 30, colour);
        auto second = makeStation(1, again);
        QVERIFY(second->data.templates[1][0] == station->data.grabBuffer);
        QCOMPARE(second->data.templateCount[1], 1);
        QVERIFY(second->data.ignoreMasks[1] == station->data.ignoreMasks[1]);
        QFile::remove("cammer22/template0.bmp");
        QFile::remove("cammer22/ignorepoint.bmp");
    }
}

void TestCameraStation::cutWriteKeepsTheOldFile()
{
    const int w = 400;
    const int h = 300;
    std::vector<uchar> before(std::size_t(w * h), 11);
    QVERIFY(StationBitmap::write("cammer11/template0.bmp", before.data(), w, h, 1, greyRampTable()));
    const QByteArray old = m_dir->read("cammer11/template0.bmp");

    // In a child: a file-size limit binds root too, and SIGXFSZ must not end
    // the writer before it can report.
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::vector<uchar> after(std::size_t(w * h), 99);
        const bool ok = StationBitmap::write("cammer11/template0.bmp", after.data(), w, h, 1, greyRampTable());
        _exit(ok ? 1 : 0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0); // the write reported its failure
    QCOMPARE(m_dir->read("cammer11/template0.bmp"), old);
}

void TestCameraStation::sampleBuffersOnlyForPresentSamples()
{
    StationGlobals globals(4, 100, false);
    const int w = 40;
    const int h = 20;
    for (int d = 1; d <= 4; ++d) {
        QDir().mkpath(QStringLiteral("cammer1%1").arg(d));
        QVERIFY(greyImage(w, h, d).save(QStringLiteral("cammer1%1/template0.bmp").arg(d), "BMP"));
    }
    FakeCamera driver(w, h);
    auto station = makeStation(0, driver);
    StationData& data = station->data;
    QCOMPARE(data.allocatedTemplates(), 4);
    for (int d = 4; d < StationData::DetectCount; ++d) {
        QVERIFY(data.ignoreMasks[d].empty());
        QVERIFY(data.templates[d].empty());
    }
    std::vector<uchar> frame(std::size_t(w * h), 77);
    QVERIFY(station->StoreTemplate(2, 57, frame.data()));
    QCOMPARE(data.allocatedTemplates(), 5);
    QCOMPARE(data.templateCount[2], 2);
    QVERIFY(QFile::exists("cammer13/template57.bmp"));
    station->RemoveTemplate(2, 57);
    QCOMPARE(data.allocatedTemplates(), 4);
    QCOMPARE(data.templateCount[2], 1);
    QVERIFY(!QFile::exists("cammer13/template57.bmp"));
}

void TestCameraStation::forwarders_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("fromEdit");
    QTest::addColumn<QString>("call");
    // Camera 2: live slots hold 100 + slot, edit slots 500 + slot.
    QTest::newRow("exposure live") << "SetExposure" << false << "setExposure 102";
    QTest::newRow("exposure edit") << "SetExposure" << true << "setExposure 502";
    QTest::newRow("gain") << "SetGain" << false << "setGain 110";
    QTest::newRow("sharpness edit") << "SetSharpness" << true << "setSharpness 518";
    QTest::newRow("contrast") << "SetContrast" << false << "setContrast 126";
    QTest::newRow("gamma") << "SetGamma" << false << "setGamma 134";
    QTest::newRow("mirror") << "SetMirror" << true << "setMirror 1,0";
    QTest::newRow("wdr") << "SetAutoWDR" << false << "setWideDynamicRange 1";
    QTest::newRow("trigger") << "SetTriggerMode" << false << "setTriggerMode 1";
    QTest::newRow("white balance (colour)") << "OnceWhiteBalance" << false << "oneShotWhiteBalance";
    QTest::newRow("defaults") << "LoadCameraDefaults" << false << "loadDefaults 2";
}

void TestCameraStation::forwarders()
{
    QFETCH(QString, operation);
    QFETCH(bool, fromEdit);
    QFETCH(QString, call);
    StationGlobals globals(2, 1, true);
    for (int i : {0, 2, 8, 10, 16, 18, 24, 26, 32, 34, 40, 42, 48, 50, 139, 193, 194}) {
        globals.live[i] = 100 + i;
        globals.edit[i] = 500 + i;
    }
    globals.edit[48 + 2] = 0;
    for (int k = 0; k < 4; ++k) {
        globals.live.detectEnabled(k) = 0; // no training: only the driver calls matter here
    }
    FakeCamera driver(16, 8, true);
    auto station = makeStation(2, driver);
    auto run = [&] {
        CameraStation& st = *station;
        if (operation == "SetExposure") st.SetExposure(fromEdit);
        else if (operation == "SetGain") st.SetGain(fromEdit);
        else if (operation == "SetSharpness") st.SetSharpness(fromEdit);
        else if (operation == "SetContrast") st.SetContrast(fromEdit);
        else if (operation == "SetGamma") st.SetGamma(fromEdit);
        else if (operation == "SetMirror") st.SetMirror(fromEdit);
        else if (operation == "SetAutoWDR") st.SetAutoWDR(fromEdit);
        else if (operation == "SetTriggerMode") st.SetTriggerMode(3);
        else if (operation == "OnceWhiteBalance") st.OnceWhiteBalance();
        else if (operation == "LoadCameraDefaults") st.LoadCameraDefaults();
    };
    driver.calls.clear();
    run();
    QCOMPARE(driver.calls, QStringList{call});
    driver.calls.clear();
    station->cameraOpen = false;
    run();
    QCOMPARE(driver.calls, operation == "LoadCameraDefaults" ? QStringList{call} : QStringList());
}

void TestCameraStation::applyCameraSettingsInOrder()
{
    StationGlobals globals(2, 1, false);
    for (int i : {1, 9, 17, 25, 33, 41, 49, 139, 193, 194}) {
        globals.live[i] = i;
    }
    for (int k = 0; k < 4; ++k) {
        globals.live.detectEnabled(k) = 0;
    }
    FakeCamera driver(16, 8);
    auto station = makeStation(1, driver);
    const QStringList expected{"setTriggerMode 0", "setExposure 1", "setGain 9", "setContrast 25",
                               "setSharpness 17", "setGamma 33", "setWideDynamicRange 1",
                               "setAutoExposure 1", "stopGrab", "setFrameRate 139", "startGrab",
                               "setMirror 1,1"};
    // Construction: size, display, the settings, then acquisition once more.
    QCOMPARE(driver.calls.mid(1, 2), (QStringList{"getSize", "setDisplayWindow"}));
    QCOMPARE(driver.calls.mid(3, 12), expected);
    QCOMPARE(driver.calls.mid(15), QStringList{"startGrab"});
    QVERIFY(station->grabbing);
    driver.calls.clear();
    station->ApplyCameraSettings();
    QCOMPARE(driver.calls, expected);
    driver.calls.clear();
    station->CloseCamera();
    station->ApplyCameraSettings();
    QCOMPARE(driver.calls, QStringList{"close"});
}

void TestCameraStation::externalTriggerLeavesTheDisplay()
{
    StationGlobals globals(2, 1, false);
    FakeCamera driver(32, 16);
    auto station = makeStation(0, driver);
    QVERIFY(driver.waitDelivered(1));
    QVERIFY(station->GrabFrame());
    QVERIFY(station->data.displayBuffer == station->data.grabBuffer);
    globals.live.externalTrigger() = 1;
    std::fill(station->data.displayBuffer.begin(), station->data.displayBuffer.end(), uchar(3));
    const int before = driver.delivered();
    QVERIFY(driver.waitDelivered(before + 1));
    QVERIFY(station->GrabFrame());
    QVERIFY(std::all_of(station->data.displayBuffer.begin(), station->data.displayBuffer.end(),
                        [](uchar v) { return v == 3; }));
}

void TestCameraStation::lostCameraWatch()
{
    StationGlobals globals(2, 1, false);
    globals.live.exposeTime(0) = 42;
    FakeCamera driver(32, 16, false, 1, "SN-77");
    auto station = makeStation(0, driver);
    station->fpsTimer->stop();
    RecordingPeers peers;
    station->data.peers = &peers;

    // No frames while the driver reports online: left alone.
    driver.pause(true);
    int dummy = 0;
    driver.takeFrameCount(dummy);
    driver.calls.clear();
    station->TimerFPS();
    QVERIFY(station->online);
    QCOMPARE(driver.calls, QStringList{"isOnline"});
    QVERIFY(peers.records.isEmpty());

    // Vanished: one line, one release, a reconnect at once and every tick.
    driver.vanish();
    driver.calls.clear();
    station->TimerFPS();
    QVERIFY(!station->online);
    QCOMPARE(driver.calls, (QStringList{"isOnline", "release", "reconnect"}));
    QCOMPARE(peers.records, QStringList{textOf(332).arg(1).arg("SN-77")});
    driver.calls.clear();
    station->TimerFPS();
    station->TimerFPS();
    QCOMPARE(driver.calls, (QStringList{"reconnect", "reconnect"}));
    QCOMPARE(peers.records.size(), 1);

    // Back: settings pushed again, frames flow.
    driver.comeBack();
    driver.pause(false);
    driver.calls.clear();
    station->TimerFPS();
    QVERIFY(station->online);
    QVERIFY(driver.calls.contains("setExposure 42"));
    QCOMPARE(driver.calls.last(), QStringLiteral("setMirror 0,0"));
    const int before = driver.delivered();
    QVERIFY(driver.waitDelivered(before + 1));
    QVERIFY(station->GrabFrame());

    // The next loss is numbered 2.
    driver.pause(true);
    driver.takeFrameCount(dummy);
    driver.vanish();
    station->TimerFPS();
    QCOMPARE(peers.records.size(), 2);
    QCOMPARE(peers.records.last(), textOf(332).arg(2).arg("SN-77"));

    // Back at another size: stays lost.
    driver.comeBack(64, 16);
    station->TimerFPS();
    QVERIFY(!station->online);
    QCOMPARE(peers.records.size(), 2);
    station->data.peers = station.get();

    // A simulated station is never judged lost.
    FakeCamera simulated(8, 8, false, 0);
    auto sim = makeStation(1, simulated);
    sim->fpsTimer->stop();
    simulated.vanish();
    simulated.takeFrameCount(dummy);
    sim->TimerFPS();
    QVERIFY(sim->online);
}

void TestCameraStation::lostCameraOnTheRealTimer()
{
    StationGlobals globals(2, 1, false);
    FakeCamera driver(8, 8, false, 1, "T1");
    auto station = makeStation(0, driver);
    RecordingPeers peers;
    station->data.peers = &peers;
    station->fpsTimer->setInterval(20);
    driver.vanish();
    QTRY_VERIFY_WITH_TIMEOUT(!station->online, kSettleMs);
    QTRY_VERIFY_WITH_TIMEOUT(driver.calls.count("reconnect") >= 2, kSettleMs);
    QCOMPARE(peers.records, QStringList{textOf(332).arg(1).arg("T1")});
    driver.comeBack();
    QTRY_VERIFY_WITH_TIMEOUT(station->online, kSettleMs);
    station->data.peers = station.get();
}

void TestCameraStation::copyParaClonesDetectZero()
{
    StationGlobals globals(2, 1, false);
    FakeCamera driver(200, 100);
    auto station = makeStation(0, driver);
    CameraStation& st = *station;
    for (int i = 0; i < 3; ++i) addRect(st, true, 0, QRect(10 + 20 * i, 10, 15, 15), FuncSpot, 10 * i, i + 1);
    for (int i = 0; i < 5; ++i) addRect(st, true, 1, QRect(5 * i, 50, 10, 10), FuncDefect, 99);
    st.pLiveSingleton->roiLists[0][1]->setSelected(true);
    globals.live.systemFunction() = 0;
    st.CopyPara();
    CammerSingleton& live = *st.pLiveSingleton;
    QCOMPARE(live.roiCount[1], 3);
    QCOMPARE(live.roiLists[1].size(), 3);
    for (int j = 0; j < 3; ++j) {
        QVERIFY(live.roiLists[1][j] != live.roiLists[0][j]);
        QVERIFY(live.roiLists[1][j]->isEqual(live.roiLists[0][j]));
        QVERIFY(!live.roiLists[1][j]->isSelected());
        QCOMPARE(st.data.roiMasks[50 + j].data, st.data.roiMasks[j].data);
        QCOMPARE(live.roiParam[50 + j], 10 * j);
        QCOMPARE(live.roiFunction[50 + j], int(FuncSpot));
        QCOMPARE(live.roiOutput[j], j + 1);
    }
}

void TestCameraStation::copyMaskToLiveOnTwoColourMachine()
{
    StationGlobals globals(4, 1, false);
    globals.live.syncCavityParams() = 1;
    globals.live.systemFunction() = 1;
    FakeCamera driver(40, 40);
    auto station = makeStation(0, driver);
    for (int d = 0; d < 4; ++d) {
        station->data.editRoiMasks[d * 50] = cv::Mat(3, 3, CV_8UC1, cv::Scalar(d + 1));
    }
    station->CopyMaskToLive();
    QCOMPARE(station->data.roiMasks[0].data, station->data.editRoiMasks[0].data);
    QCOMPARE(station->data.roiMasks[50].data, station->data.editRoiMasks[50].data);
    QVERIFY(station->data.roiMasks[100].empty());
    QVERIFY(station->data.roiMasks[150].empty());
    station->CopyMaskToEdit();
    QCOMPARE(station->data.editRoiMasks[0].data, station->data.roiMasks[0].data);
}

void TestCameraStation::deleteRoi()
{
    StationGlobals globals(2, 1, false);
    HostInstaller installer;
    FakeCamera driver(100, 50);
    auto station = makeStation(0, driver);
    CameraStation& st = *station;
    std::fill(st.data.ignoreMasks[0].begin(), st.data.ignoreMasks[0].end(), uchar(255));
    QVERIFY(st.SaveIgnoreMask(0));
    const QByteArray file = m_dir->read("cammer11/ignorepoint.bmp");
    st.CopyMaskToEdit();
    addRect(st, false, 0, QRect(10, 10, 10, 10), FuncDefect, 1, 4);
    addRect(st, false, 0, QRect(90, 40, 20, 20), FuncSpot, 2, 5); // reaches past the frame
    addRect(st, false, 0, QRect(30, 30, 5, 5), FuncWhiteNum, 3, 6);
    const cv::Mat third = st.data.editRoiMasks[2];

    // Nothing selected (-1) and one past the end: nothing changes.
    for (int i : {-1, 3}) {
        st.DeleteROI(i);
        QCOMPARE(st.pEditSingleton->roiCount[0], 3);
        QCOMPARE(st.pEditSingleton->roiParam[0], 1);
    }
    st.DeleteROI(1);
    CammerSingleton& edit = *st.pEditSingleton;
    QCOMPARE(edit.roiCount[0], 2);
    QCOMPARE(edit.roiParam[1], 3);
    QCOMPARE(edit.roiFunction[1], int(FuncWhiteNum));
    QCOMPARE(edit.roiOutput[1], 6);
    QCOMPARE(st.data.editRoiMasks[1].data, third.data);
    // The edit picture is cleared under the removed rectangle, clipped to the
    // frame; the live picture and its file wait for a confirmed save.
    QCOMPARE(int(st.editIgnoreMasks[0][45 * 100 + 95]), 0);
    QCOMPARE(int(st.editIgnoreMasks[0][45 * 100 + 89]), 255);
    QCOMPARE(int(st.data.ignoreMasks[0][45 * 100 + 95]), 255);
    QCOMPARE(m_dir->read("cammer11/ignorepoint.bmp"), file);
    QVERIFY(st.CommitIgnoreMask(0));
    QCOMPARE(int(st.data.ignoreMasks[0][45 * 100 + 95]), 0);
    QVERIFY(m_dir->read("cammer11/ignorepoint.bmp") != file);
}

void TestCameraStation::newAreasTakeFirstFunctionThenCopy()
{
    StationGlobals globals(2, 1, false);
    HostInstaller installer;
    globals.live.algoWhiteCount() = 1;
    FakeCamera driver(100, 50);
    auto station = makeStation(0, driver);
    CameraStation& st = *station;
    st.drawingShape = new ClustomRect(40, 30, 10, 5); // drawn right to left, bottom to top
    st.SaveNewROI();
    CammerSingleton& edit = *st.pEditSingleton;
    QCOMPARE(edit.roiCount[0], 1);
    QCOMPARE(edit.roiFunction[0], int(FuncWhiteNum));
    QCOMPARE(edit.roiParam[0], 5);
    QCOMPARE(edit.roiLower[0], 128);
    QCOMPARE(edit.roiUpper[0], 1);
    QCOMPARE(st.selectedRoi, 0);
    QVERIFY(edit.roiLists[0][0]->left() <= edit.roiLists[0][0]->right());
    QVERIFY(!st.data.editRoiMasks[0].empty());
    edit.roiParam[0] = 9;
    st.drawingShape = new ClustomRect(1, 1, 5, 5);
    st.SaveNewROI();
    QCOMPARE(edit.roiParam[1], 9);
    QCOMPARE(st.selectedRoi, 1);
    // Both are still selected (the view deselects before drawing): the first wins.
    QVERIFY(st.FindSelectedROI());
    QCOMPARE(st.selectedRoi, 0);
    st.ClearSelection();
    QCOMPARE(st.selectedRoi, -1);
    QVERIFY(!edit.roiLists[0][0]->isSelected());
    edit.roiLists[0][1]->setSelected(false);
    st.selectedRoi = 7;
    QVERIFY(!st.FindSelectedROI());
    QCOMPARE(st.selectedRoi, 7);
}

void TestCameraStation::savePolygon()
{
    StationGlobals globals(2, 1, false);
    HostInstaller installer;
    FakeCamera driver(200, 200);
    auto station = makeStation(0, driver);
    CameraStation& st = *station;
    auto startPolygon = [&](int points) {
        st.polygonDrawing = true;
        st.editAction = 1;
        installer.host.state.setDrawMode(DrawPolygon);
        st.pointCount = points;
        for (int i = 0; i < points; ++i) {
            const double t = 2 * M_PI * i / std::max(points, 1);
            st.polygonPoints[std::size_t(i)] = QPoint(100 + int(50 * std::cos(t)), 100 + int(50 * std::sin(t)));
        }
    };
    startPolygon(2);
    st.SavePolygon();
    QCOMPARE(st.pEditSingleton->roiCount[0], 0);
    startPolygon(CameraStation::MaxPolygonPoints);
    st.SavePolygon();
    QCOMPARE(st.pEditSingleton->roiCount[0], 1);
    QCOMPARE(st.pEditSingleton->roiShapeType[0], 2);
    QCOMPARE(st.pEditSingleton->roiLists[0][0]->objectCount(), CameraStation::MaxPolygonPoints - 1);
    QCOMPARE(installer.host.state.drawMode(), DrawNone);
    QVERIFY(!st.polygonDrawing);
    QVERIFY(!st.data.editRoiMasks[0].empty());

    // At 50 areas: text 36, nothing added.
    for (int i = 1; i < 50; ++i) addRect(st, false, 0, QRect(i, i, 3, 3), FuncDefect, 0);
    startPolygon(5);
    st.SavePolygon();
    QCOMPARE(st.pEditSingleton->roiCount[0], 50);
    QCOMPARE(m_prompts->warnings, QStringList{textOf(36)});
}

void TestCameraStation::thermalQueries()
{
    StationGlobals globals(2, 1, false);
    FakeCamera driver(16, 16, false, 2);
    driver.temperature = 371;
    auto station = makeStation(0, driver);
    QVERIFY(station->isThermal);
    // The live set is handed over at construction and after a save.
    QCOMPARE(driver.lastDetectConfig.value<CammerSingleton*>(), station->pLiveSingleton.get());
    driver.lastDetectConfig = QVariant();
    station->SendROIParaToCamera();
    QCOMPARE(driver.lastDetectConfig.value<CammerSingleton*>(), station->pLiveSingleton.get());
    QCOMPARE(station->GetROITemperature(1, 4), 371);
    QCOMPARE(driver.lastQuery.toJsonObject(), (QJsonObject{{"detect", 1}, {"funcNO", 4}}));

    FakeCamera visible(16, 16, false, 1);
    auto plain = makeStation(1, visible);
    QCOMPARE(plain->GetROITemperature(0, 0), 0);
    plain->SendROIParaToCamera();
    QVERIFY(!visible.calls.contains("setDetectConfig 0"));
}

void TestCameraStation::probeOnASmallStation()
{
    StationGlobals globals(2, 1, false);
    HostInstaller installer;
    FakeCamera driver(100, 50);
    auto station = makeStation(0, driver);
    CameraStation& st = *station;
    // A tile of 400 x 100 on a 1920 x 1080 screen: 4 and 2 widget pixels
    // per frame pixel, whatever the screen size.
    st.imageScaleX = 4.0f;
    st.imageScaleY = 2.0f;
    st.data.displayBuffer[std::size_t(10 * 100 + 25)] = 201;
    st.ProbePixel(101, 21);
    QCOMPARE(installer.host.probeX, 25);
    QCOMPARE(installer.host.probeY, 10);
    QCOMPARE(int(installer.host.probeValue), 201);
    st.ProbePixel(401, 21); // outside the frame: value left as it was
    QCOMPARE(int(installer.host.probeValue), 201);
}

void TestCameraStation::detectReachesPeers()
{
    StationGlobals globals(2, 1, false);
    globals.live.detectEnabled(0) = 1;
    FakeCamera driver(64, 48);
    auto station = makeStation(0, driver);
    addRect(*station, true, 0, QRect(4, 4, 20, 20), FuncDefect, 3);
    station->pDetector->TrainModels(0);
    RecordingPeers peers;
    station->data.peers = &peers;
    station->pDetector->RunDetect(0);
    QCOMPARE(peers.handedOver.size(), 1);
    station->data.peers = station.get();

    // Through the station itself the result reaches the records service.
    TemperatureChartData* records = TemperatureChartData::instance();
    const int waiting = records->pendingInserts.size();
    station->pDetector->RunDetect(0);
    QCOMPARE(records->pendingInserts.size(), waiting + 1);
    QCOMPARE(currentRecordsResult().idx_camera, 0);
    QCOMPARE(currentRecordsResult().idx_detect, 0);
}

namespace {
QStringList gWarnings;
void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg) {
        gWarnings << text;
    }
}
} // namespace

void TestCameraStation::onlyDetectsInUseAreTrained()
{
    // Two detects in use, all four switched on: the two beyond have no
    // pictures and must not be trained (nor warned about).
    StationGlobals globals(2, 1, false);
    for (int d = 0; d < 4; ++d) {
        globals.live.detectEnabled(d) = 1;
    }
    FakeCamera driver(64, 48);
    gWarnings.clear();
    const QtMessageHandler old = qInstallMessageHandler(collectWarnings);
    auto station = makeStation(0, driver);
    qInstallMessageHandler(old);
    QVERIFY2(gWarnings.filter(QStringLiteral("ignore picture")).isEmpty(), qPrintable(gWarnings.join('\n')));
    QVERIFY(!station->pDetector->keepMasks[0].empty());
    QVERIFY(!station->pDetector->keepMasks[1].empty());
    QVERIFY(station->pDetector->keepMasks[2].empty());
}

QTEST_MAIN(TestCameraStation)
#include "tst_camerastation.moc"
