// NG/OK pictures: composing them on a station, the slot table and the writer
// thread that stores them as files.

#include "failimagecomposer.h"
#include "failimageslots.h"
#include "savefialimagethread.h"

#include "camerastation.h"
#include "cammersingleton.h"
#include "clustomrect.h"
#include "fakecamera.h"
#include "globals.h"
#include "platformhelpers.h"
#include "processstate.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"
#include "settle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <cstring>
#include <memory>
#include <mutex>

namespace {

void addArea(CameraStation& st, int detect, QRect r, int function, int lower, int upper)
{
    CammerSingleton& set = *st.pLiveSingleton;
    auto* shape = new ClustomRect(r.left(), r.top(), r.right(), r.bottom());
    shape->updateBounds();
    const int n = set.roiCount[detect]++;
    const int slot = detect * 50 + n;
    set.roiLists[detect].append(shape);
    set.roiShapeType[slot] = shape->type();
    set.roiFunction[slot] = function;
    set.roiLower[slot] = lower;
    set.roiUpper[slot] = upper;
    st.data.roiMasks[slot] = shape->createMask();
}

// Picture slot contents as they would come from a composed picture.
QImage flatPicture(QSize size, QRgb colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

void handOver(int camera, int detect, int kind)
{
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    gFailImageReady[FailImageSlots::index(camera, detect, kind)] = 1;
}

QStringList jpgs(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
}

bool waitWritten(const SaveFialImageThread& writer, int n, int ms = kSettleMs)
{
    QElapsedTimer t;
    t.start();
    while (writer.written.load() + writer.failed.load() < n && t.elapsed() < ms) {
        QThread::msleep(5);
    }
    return writer.written.load() + writer.failed.load() >= n;
}

int redRowsIn(const QImage& image, int fromRow, int toRow)
{
    int rows = 0;
    for (int y = fromRow; y < toRow && y < image.height(); ++y) {
        for (int x = 0; x < 60; ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) < 60) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

} // namespace

class TestFailImageWriter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void slotsOnlyForDetectsInUse();
    void areaLabels_data();
    void areaLabels();
    void verdictTextSize_data();
    void verdictTextSize();
    void composeRecordsTheFirstFailingArea();
    void notes();
    void replacedWaitingPictureIsCounted();
    void pruneAndName();
    void reCheckPairInTheNgFolder();
    void sameSecondGetsASuffix();
    void unwritableFolderToldOncePerOutage();
    void quitHookStopsTheWriter();

private:
    std::unique_ptr<CameraStation> station(int camera, int width, int height);

    std::unique_ptr<ProcessState> m_state;
    std::unique_ptr<TestWorkDir> m_dir;
    SystemParam m_params;
    std::vector<std::unique_ptr<FakeCamera>> m_cameras;
};

void TestFailImageWriter::initTestCase()
{
    initTextTable();
}

void TestFailImageWriter::init()
{
    m_state = std::make_unique<ProcessState>();
    m_dir = std::make_unique<TestWorkDir>();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(m_dir->filePath("PARAM.db"));
    QVERIFY(db.open());
    for (int c = 0; c < 8; ++c) {
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("create table cammer%1 (name text, value text)").arg(c)));
    }
    std::memset(&m_params, 0, sizeof m_params);
    gpSystemParam = &m_params;
    gpSystemParamEdit = &m_params;
    gDetectCount = 2;
    gTemplateCount = 1;
    gColorMode = 0;
    gMaxNgImages = 5;
    gMaxOkImages = 5;
    FailImageSlots::replacedCount = 0;
}

void TestFailImageWriter::cleanup()
{
    FailImageSlots::release();
    m_cameras.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(CammerSingleton::ParamConnection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    m_dir.reset();
    m_state.reset();
}

std::unique_ptr<CameraStation> TestFailImageWriter::station(int camera, int width, int height)
{
    m_cameras.push_back(std::make_unique<FakeCamera>(width, height));
    m_cameras.back()->open();
    auto st = std::make_unique<CameraStation>(camera, m_cameras.back().get());
    std::fill(st->data.lastImage.begin(), st->data.lastImage.end(), uchar(40));
    return st;
}

void TestFailImageWriter::slotsOnlyForDetectsInUse()
{
    const std::vector<QSize> sizes(8, QSize(1920, 1080));
    FailImageSlots::allocate(sizes, 2);
    // Eight cameras, two detects, NG and OK: 32 pictures, not 128 (1 GB).
    QCOMPARE(FailImageSlots::allocatedBytes(), qint64(1920) * 1080 * 4 * 32);
    QCOMPARE(FailImageSlots::sizeFor(sizes, 2), FailImageSlots::allocatedBytes());
    const QImage picture = flatPicture(QSize(1920, 1080), qRgb(1, 2, 3));
    QVERIFY(FailImageSlots::store(7, 1, 1, picture.constBits(), size_t(picture.sizeInBytes())));
    QVERIFY(!FailImageSlots::store(7, 2, 1, picture.constBits(), size_t(picture.sizeInBytes())));
    QVERIFY(!FailImageSlots::store(0, 0, 0, picture.constBits(), 16));
}

void TestFailImageWriter::areaLabels_data()
{
    QTest::addColumn<int>("areas");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("slot169");
    QTest::addColumn<QString>("label");

    QTest::newRow("similarity") << 1 << 10 << int(FuncSimilarity) << 0 << "1:30/7";
    QTest::newRow("spot") << 1 << 10 << int(FuncSpot) << 0 << "1:30--40/7";
    QTest::newRow("temperature, low halves") << 1 << 10 << int(FuncTempAlarm) << 0 << "1:80--120/7";
    QTest::newRow("defect shows the alarm area") << 1 << 10 << int(FuncDefect) << 0 << "1:55/7";
    QTest::newRow("defect with all parameters") << 1 << 10 << int(FuncDefect) << 1 << "1:1310840/7";
    QTest::newRow("twelve areas: value only") << 12 << 10 << int(FuncSpot) << 0 << "1:7";
    QTest::newRow("100 pixels from the right edge") << 1 << 300 << int(FuncSpot) << 0 << "1:7";
    QTest::newRow("165 pixels from the right edge") << 1 << 235 << int(FuncSpot) << 0 << "1:30--40/7";
}

void TestFailImageWriter::areaLabels()
{
    QFETCH(int, areas);
    QFETCH(int, left);
    QFETCH(int, function);
    QFETCH(int, slot169);
    QFETCH(QString, label);

    m_params[150] = 55;
    m_params[169] = slot169;
    auto st = station(0, 400, 300);
    for (int i = 0; i < areas; ++i) {
        const bool temperature = function == FuncTempAlarm;
        addArea(*st, 1, QRect(left, 50, 20, 20), function, temperature ? 65616 : 30,
                temperature || function == FuncDefect ? 1310840 : 40);
    }
    st->data.roiValue[50] = 7;
    QCOMPARE(FailImageComposer::areaLabel(*st, 1, 0, 400), label);
}

void TestFailImageWriter::verdictTextSize_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("small");
    QTest::newRow("640 wide: 16 points at y = 25") << 640 << true;
    QTest::newRow("641 wide: 26 points at y = 80") << 641 << false;
}

void TestFailImageWriter::verdictTextSize()
{
    QFETCH(int, width);
    QFETCH(bool, small);
    auto st = station(0, width, 200);
    const QImage picture = FailImageComposer::compose(*st, 1, 0, false);
    QCOMPARE(picture.size(), QSize(width, 200));
    // The red verdict sits above the first line's baseline.
    QCOMPARE(redRowsIn(picture, 0, 30) > 0, small);
    QCOMPARE(redRowsIn(picture, 50, 82) > 0, !small);
}

void TestFailImageWriter::composeRecordsTheFirstFailingArea()
{
    FailImageSlots::allocate({QSize(200, 150)}, 2);
    auto st = station(0, 200, 150);
    for (int i = 0; i < 3; ++i) {
        addArea(*st, 1, QRect(20 + 50 * i, 60, 30, 30), FuncSpot, 1, 2);
        st->data.roiOk[50 + i] = i == 0 ? 1 : 0;
    }
    // A blob box of the failing area.
    st->data.roiBlobs[51][0] = 1;
    st->data.roiBlobs[51][4] = 72;
    st->data.roiBlobs[51][5] = 64;
    st->data.roiBlobs[51][6] = 78;
    st->data.roiBlobs[51][7] = 70;
    QVERIFY(FailImageComposer::SaveFailImage(*st, 1, 0, true));
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[9]);
        QCOMPARE(gFirstNgRoi[1], 2);
        QCOMPARE(int(gFailImageReady[FailImageSlots::index(0, 1, 0)]), 0);
    }
    QImage slot(200, 150, QImage::Format_RGB32);
    QVERIFY(FailImageSlots::load(0, 1, 0, slot.bits(), size_t(slot.sizeInBytes())));
    // Outline of the OK area green, of the failing ones red, the blob boxed.
    QCOMPARE(QColor(slot.pixel(20, 75)), QColor(Qt::green));
    QCOMPARE(QColor(slot.pixel(70, 75)), QColor(Qt::red));
    QCOMPARE(QColor(slot.pixel(72, 67)), QColor(Qt::red));
    QCOMPARE(slot.pixel(100, 140), qRgb(40, 40, 40));
}

void TestFailImageWriter::notes()
{
    QCOMPARE(FailImageComposer::noteText(7), textOf(120) + textOf(61));
    QCOMPARE(FailImageComposer::noteText(4), textOf(120) + textOf(47));
    QCOMPARE(FailImageComposer::noteText(5), textOf(120) + textOf(48));
    QCOMPARE(FailImageComposer::noteText(8), textOf(143));
    QVERIFY(FailImageComposer::noteText(3).isEmpty());

    FailImageSlots::allocate({QSize(200, 150)}, 2);
    auto st = station(0, 200, 150);
    QVERIFY(FailImageComposer::SaveFailImage(*st, 0, 0, false));
    QVERIFY(FailImageComposer::UpdateFailImage(*st, 0, 0, 7));
    QImage slot(200, 150, QImage::Format_RGB32);
    QVERIFY(FailImageSlots::load(0, 0, 0, slot.bits(), size_t(slot.sizeInBytes())));
    // The note is drawn in red from x = 55 on the first line.
    int red = 0;
    for (int y = 5; y < 30; ++y) {
        for (int x = 55; x < 200; ++x) {
            red += qRed(slot.pixel(x, y)) > 200 && qGreen(slot.pixel(x, y)) < 60 ? 1 : 0;
        }
    }
    QVERIFY(red > 0);
}

void TestFailImageWriter::replacedWaitingPictureIsCounted()
{
    FailImageSlots::allocate({QSize(16, 8)}, 2);
    const QImage a = flatPicture(QSize(16, 8), qRgb(10, 10, 10));
    QVERIFY(FailImageSlots::store(0, 1, 1, a.constBits(), size_t(a.sizeInBytes())));
    QCOMPARE(FailImageSlots::replacedCount.load(), 0);
    handOver(0, 1, 1);
    QVERIFY(FailImageSlots::store(0, 1, 1, a.constBits(), size_t(a.sizeInBytes())));
    QCOMPARE(FailImageSlots::replacedCount.load(), 1);
    // The replacement waits for its own hand-over.
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    QCOMPARE(int(gFailImageReady[FailImageSlots::index(0, 1, 1)]), 0);
}

void TestFailImageWriter::pruneAndName()
{
    const QSize size(32, 24);
    FailImageSlots::allocate({size}, 2);
    SaveFialImageThread::makeFolders(1);
    const QString ng = SaveFialImageThread::folderOf(0, 1, 0);
    const QString ok = SaveFialImageThread::folderOf(0, 1, 1);
    // Seven older pictures, oldest first.
    const QDateTime base = QDateTime::currentDateTime().addDays(-1);
    for (int i = 0; i < 7; ++i) {
        const QString name = QStringLiteral("%1/old%2.jpg").arg(ng).arg(i);
        QVERIFY(flatPicture(size, qRgb(0, 0, 0)).save(name, "JPG"));
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(base.addSecs(i * 60), QFileDevice::FileModificationTime));
    }
    const QImage a = flatPicture(size, qRgb(200, 10, 10));
    QVERIFY(FailImageSlots::store(0, 1, 0, a.constBits(), size_t(a.sizeInBytes())));
    QVERIFY(FailImageSlots::store(0, 1, 1, a.constBits(), size_t(a.sizeInBytes())));
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[9]);
        gFirstNgRoi[1] = 3;
    }
    handOver(0, 1, 0);

    SaveFialImageThread writer;
    writer.cameraCount = 1;
    writer.detectCount = 2;
    writer.pauseMs = 1;
    writer.sweepMs = 1;
    writer.startWriting();
    QVERIFY(waitWritten(writer, 1));
    const QStringList ngFiles = jpgs(ng);
    QCOMPARE(ngFiles.size(), 5);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(!ngFiles.contains(QStringLiteral("old%1.jpg").arg(i)), qPrintable(ngFiles.join(' ')));
    }
    const QStringList fresh = ngFiles.filter(QRegularExpression(QStringLiteral("^3_\\d{4}-\\d\\d-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d\\.jpg$")));
    QCOMPARE(fresh.size(), 1);
    QCOMPARE(QImage(ng + "/" + fresh.first()).size(), size);
    // Cleared once the pair of that pass is done (after the pause).
    QVERIFY(QTest::qWaitFor([] {
        std::lock_guard<std::mutex> lock(*gMutexTable[9]);
        return gFirstNgRoi[1] == 0;
    }, kSettleMs));

    // A plain OK picture: the OK folder, no prefix, nothing left half written.
    handOver(0, 1, 1);
    QVERIFY(waitWritten(writer, 2));
    writer.stopWriting();
    const QStringList okFiles = jpgs(ok);
    QCOMPARE(okFiles.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d\\.jpg$")).match(okFiles.first()).hasMatch(),
             qPrintable(okFiles.first()));
    QVERIFY(QDir(ok).entryList(QDir::Files).filter(".part").isEmpty());
    QVERIFY(QDir(ng).entryList(QDir::Files).filter(".part").isEmpty());
}

void TestFailImageWriter::reCheckPairInTheNgFolder()
{
    // An alarm lifted by a passing re-check: the NG picture with its note and
    // a second or more later the OK picture, both named after the first
    // failing area, both in the NG folder.
    const QSize size(32, 24);
    FailImageSlots::allocate({size}, 2);
    SaveFialImageThread::makeFolders(1);
    const QImage a = flatPicture(size, qRgb(200, 10, 10));
    QVERIFY(FailImageSlots::store(0, 1, 0, a.constBits(), size_t(a.sizeInBytes())));
    QVERIFY(FailImageSlots::store(0, 1, 1, a.constBits(), size_t(a.sizeInBytes())));
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[9]);
        gFirstNgRoi[1] = 2;
    }
    handOver(0, 1, 0);
    handOver(0, 1, 1);
    SaveFialImageThread writer;
    writer.cameraCount = 1;
    writer.detectCount = 2;
    writer.pauseMs = 1;
    writer.sweepMs = 1;
    QElapsedTimer t;
    t.start();
    writer.startWriting();
    QVERIFY(waitWritten(writer, 2));
    QVERIFY(t.elapsed() >= 1000);
    writer.stopWriting();
    const QString ng = SaveFialImageThread::folderOf(0, 1, 0);
    QDir dir(ng);
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Time | QDir::Reversed);
    QCOMPARE(files.size(), 2);
    QVERIFY(files[0].fileName().startsWith(QLatin1String("2_")));
    QVERIFY(files[1].fileName().startsWith(QLatin1String("2_")));
    QVERIFY(files[0].fileName() != files[1].fileName());
    QVERIFY(jpgs(SaveFialImageThread::folderOf(0, 1, 1)).isEmpty());
}

void TestFailImageWriter::sameSecondGetsASuffix()
{
    const QSize size(16, 16);
    FailImageSlots::allocate({size}, 2);
    SaveFialImageThread::makeFolders(1);
    SaveFialImageThread writer;
    writer.cameraCount = 1;
    writer.detectCount = 2;
    writer.pauseMs = 1;
    writer.sweepMs = 1;
    writer.startWriting();
    const QImage a = flatPicture(size, qRgb(9, 9, 9));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(FailImageSlots::store(0, 0, 1, a.constBits(), size_t(a.sizeInBytes())));
        handOver(0, 0, 1);
        QVERIFY(waitWritten(writer, i + 1));
    }
    writer.stopWriting();
    // Three pictures within (nearly always) one second: none overwritten.
    QCOMPARE(jpgs(SaveFialImageThread::folderOf(0, 0, 1)).size(), 3);
}

void TestFailImageWriter::unwritableFolderToldOncePerOutage()
{
    const QSize size(16, 16);
    FailImageSlots::allocate({size}, 2);
    // The folder is a file: nothing can be written into it.
    QDir().mkpath(QStringLiteral("alarmimage/camera1/detect1"));
    QVERIFY(m_dir->write(QStringLiteral("alarmimage/camera1/detect1/OK"), "x"));
    SaveFialImageThread writer;
    writer.cameraCount = 1;
    writer.detectCount = 2;
    writer.pauseMs = 1;
    writer.sweepMs = 1;
    std::atomic<int> told{0};
    writer.onWriteFailure = [&told](const QString&) { ++told; };
    writer.startWriting();
    const QImage a = flatPicture(size, qRgb(9, 9, 9));
    auto one = [&](int n) {
        QVERIFY(FailImageSlots::store(0, 0, 1, a.constBits(), size_t(a.sizeInBytes())));
        handOver(0, 0, 1);
        QVERIFY(waitWritten(writer, n));
    };
    one(1);
    one(2);
    QCOMPARE(told.load(), 1);
    QCOMPARE(writer.failed.load(), 2);
    // Writable again, then failing again: told a second time.
    QVERIFY(QFile::remove(QStringLiteral("alarmimage/camera1/detect1/OK")));
    QVERIFY(QDir().mkpath(QStringLiteral("alarmimage/camera1/detect1/OK")));
    one(3);
    QCOMPARE(writer.written.load(), 1);
    QVERIFY(QDir(QStringLiteral("alarmimage/camera1/detect1/OK")).removeRecursively());
    QVERIFY(m_dir->write(QStringLiteral("alarmimage/camera1/detect1/OK"), "x"));
    one(4);
    writer.stopWriting();
    QCOMPARE(told.load(), 2);
}

void TestFailImageWriter::quitHookStopsTheWriter()
{
    FailImageSlots::allocate({QSize(16, 16)}, 2);
    auto* writer = new SaveFialImageThread;
    gpSaveFialImageThread = writer;
    writer->cameraCount = 1;
    writer->detectCount = 2;
    writer->startWriting();
    QVERIFY(writer->isRunning());
    runQuitHooks();
    QVERIFY(writer->isFinished());
    delete writer;
    QVERIFY(!gpSaveFialImageThread);
}

QTEST_MAIN(TestFailImageWriter)
#include "tst_failimagewriter.moc"
