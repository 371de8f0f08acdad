#include "camerastation.h"

#include "cammersingleton.h"
#include "clustomrect.h"
#include "detectalgorithm.h"
#include "enginestation.h"
#include "fakecamera.h"
#include "globals.h"
#include "promptanswerer.h"
#include "roiinterface.h"
#include "stationhost.h"
#include "systemparam.h"
#include "texttable.h"
#include "testworkdir.h"

#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QSqlDatabase>
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

QTEST_MAIN(TestCameraStation)
#include "tst_camerastation.moc"
