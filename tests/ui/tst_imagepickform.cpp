#include "imagepickform.h"

#include "cameraregistry.h"
#include "mainscreenhost.h"
#include "operatingstate.h"
#include "systemparam.h"
#include "testworkdir.h"

#include <QButtonGroup>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include <utime.h>

#include <cstring>

namespace {

void touch(const QString& path, time_t when)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    struct utimbuf times;
    times.actime = when;
    times.modtime = when;
    QCOMPARE(utime(QFile::encodeName(path).constData(), &times), 0);
}

} // namespace

class TestImagePickForm : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void detectButtonsByMachine_data();
    void detectButtonsByMachine();
    void liveHidesDetectsAndList();
    void selectionsActAsClicks();
    void signalBeforeListAndTemplatesInNumberOrder();
    void thousandsOfRecordsNewestFirst();

private:
    std::unique_ptr<TestWorkDir> m_dir;
    SystemParam m_params;
    SystemParam* m_oldParams = nullptr;
    int m_oldCameras = 0;
    MainScreenState m_state;
    std::unique_ptr<OperatingState> m_op;
};

void TestImagePickForm::init()
{
    m_dir = std::make_unique<TestWorkDir>();
    std::memset(&m_params, 0, sizeof m_params);
    m_oldParams = gpSystemParam;
    gpSystemParam = &m_params;
    m_oldCameras = gCameraCount;
    gCameraCount = 2;
    m_state = MainScreenState();
    setMainScreenHost(&m_state);
    m_op = std::make_unique<OperatingState>();
    setOperatingState(m_op.get());
}

void TestImagePickForm::cleanup()
{
    clearMainScreenHost(&m_state);
    clearOperatingState(m_op.get());
    m_op.reset();
    gpSystemParam = m_oldParams;
    gCameraCount = m_oldCameras;
    m_dir.reset();
}

void TestImagePickForm::detectButtonsByMachine_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("standard") << 0 << QStringList{"成品检测", "模腔检测"};
    QTest::newRow("two-colour") << 1 << QStringList{"左成品检测", "左模腔检测", "右成品检测", "右模腔检测"};
    QTest::newRow("rotary") << 2 << QStringList{"左成品检测", "左模腔检测", "右成品检测", "右模腔检测"};
    QTest::newRow("other") << 5 << QStringList{};
}

void TestImagePickForm::detectButtonsByMachine()
{
    QFETCH(int, function);
    QFETCH(QStringList, texts);
    m_params.systemFunction() = function;
    ImagePickForm form;
    auto* group = form.findChild<QButtonGroup*>("detectgroup");
    QStringList got;
    for (int d = 0; d < group->buttons().size(); ++d) {
        got << group->button(d)->text();
    }
    QCOMPARE(got, texts);
    QVERIFY(form.isWindow());
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(form.width(), 420);
}

void TestImagePickForm::liveHidesDetectsAndList()
{
    ImagePickForm form;
    form.show();
    auto* label = form.findChild<QLabel*>("detectLabel");
    auto* detect = form.findChild<QPushButton*>("detect_0");
    QTest::mouseClick(form.findChild<QPushButton*>("source_ontime"), Qt::LeftButton);
    QVERIFY(!form.list()->isVisible());
    QVERIFY(!label->isVisible());
    QVERIFY(!detect->isVisible());
    QCOMPARE(form.findChild<QPushButton*>("source_ontime")->property("choose").toBool(), true);
    QTest::mouseClick(form.findChild<QPushButton*>("source_last_ng"), Qt::LeftButton);
    QVERIFY(form.list()->isVisible());
    QVERIFY(label->isVisible());
    QVERIFY(detect->isVisible());
    QCOMPARE(form.list()->model()->rowCount(), 0);
    QCOMPARE(form.findChild<QPushButton*>("source_ontime")->property("choose").toBool(), false);
}

void TestImagePickForm::selectionsActAsClicks()
{
    ImagePickForm form;
    QSignalSpy cameras(&form, &ImagePickForm::cameraChange);
    QSignalSpy sources(&form, &ImagePickForm::sourceChange);
    form.selectCamera(gCameraCount);
    QCOMPARE(cameras.count(), 1);
    QCOMPARE(cameras.at(0).at(0).toInt(), gCameraCount);
    QVERIFY(form.findChild<QPushButton*>("camera_btn_all")->property("choose").toBool());
    form.selectCamera(gCameraCount + 1);
    form.selectCamera(-1);
    form.selectSource(5);
    QCOMPARE(cameras.count(), 1);
    QCOMPARE(sources.count(), 0);
    // An empty record folder still reports the choice.
    form.selectSource(4);
    QCOMPARE(sources.count(), 1);
    QCOMPARE(form.list()->model()->rowCount(), 0);
}

void TestImagePickForm::signalBeforeListAndTemplatesInNumberOrder()
{
    QVERIFY(QDir().mkpath("cammer22"));
    touch("cammer22/template2.bmp", 1700000000);
    touch("cammer22/Template10.bmp", 1700000100);
    touch("cammer22/template0.bmp", 1700000100);
    touch("cammer22/template1.bmp", 1700000100);
    touch("cammer22/other.bmp", 1700000100);
    ImagePickForm form;
    // The area panel's slot sets the current camera when the camera changes;
    // the list that follows reads it.
    int rowsAtSignal = -1;
    connect(&form, &ImagePickForm::cameraChange, this, [&](int camera) {
        rowsAtSignal = form.list()->model()->rowCount();
        m_op->setShownCamera(camera);
        m_op->setEditedDetect(1);
    });
    form.selectSource(0);
    QCOMPARE(form.list()->model()->rowCount(), 0);
    form.selectCamera(1);
    QCOMPARE(rowsAtSignal, 0);
    // In the order of their numbers: 0, 1, 2, 10, not 0, 1, 10, 2.
    const QStringList entries = form.list()->model()->entries();
    QCOMPARE(entries.size(), 4);
    QStringList names;
    for (const QString& entry : entries) {
        names << entry.section(' ', 0, 0);
    }
    QCOMPARE(names, QStringList({"template0.bmp", "template1.bmp", "template2.bmp", "Template10.bmp"}));
    QCOMPARE(entries.at(2).section(' ', 1), QDateTime::fromSecsSinceEpoch(1700000000).toString("yyyy-MM-dd hh.mm.ss"));

    // A touch picks the template by its number, whatever its row.
    QSignalSpy images(&form, &ImagePickForm::imageChange);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QListView* view = form.list()->view();
    QFile::remove("cammer22/template1.bmp");
    form.selectCamera(1);
    QCOMPARE(form.list()->model()->rowCount(), 3);
    for (int row : {1, 2}) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(form.list()->model()->index(row, 0)).center());
    }
    QCOMPARE(images.count(), 2);
    QCOMPARE(images.at(0).at(0).toInt(), 2);
    QCOMPARE(images.at(1).at(0).toInt(), 10);
}

void TestImagePickForm::thousandsOfRecordsNewestFirst()
{
    const QString folder = "alarmimage/camera2/detect1/NG";
    QVERIFY(QDir().mkpath(folder));
    const int count = 5000;
    for (int i = 0; i < count; ++i) {
        // Names in the opposite order of their times.
        touch(QString("%1/%2.jpg").arg(folder).arg(count - i, 5, 10, QChar('0')), 1600000000 + i);
    }
    ImagePickForm form;
    form.selectCamera(1);
    form.selectDetect(0);
    form.selectSource(4);
    const QStringList entries = form.list()->model()->entries();
    QCOMPARE(entries.size(), count);
    QCOMPARE(entries.first(), QStringLiteral("00001.jpg"));
    QCOMPARE(entries.last(), QStringLiteral("05000.jpg"));
    QVERIFY(form.list()->view()->uniformItemSizes());
}

QTEST_MAIN(TestImagePickForm)
#include "tst_imagepickform.moc"
