#include "cameraparamwidget.h"
#include "cameraregistry.h"
#include "camerastation.h"
#include "colorbutton.h"
#include "edit.h"
#include "fakecamera.h"
#include "paramstorage.h"
#include "promptanswerer.h"
#include "settingshost.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "testworkdir.h"
#include "texttable.h"
#include "settle.h"

#include <QJsonObject>
#include <QLabel>
#include <QSqlDatabase>
#include <QTabWidget>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// A camera whose one-shot exposure, when switched off, answers what it found.
class RegulatingCamera : public FakeCamera {
public:
    using FakeCamera::FakeCamera;
    QJsonObject autoAdjust(bool on) override
    {
        FakeCamera::autoAdjust(on);
        return on ? QJsonObject() : answer;
    }
    QJsonObject answer{{QStringLiteral("ExposureTime"), 37000}, {QStringLiteral("Gain"), 12}};
};

// The main window as the page sees it: three stations over simulated cameras,
// the third thermal, and the camera shown on the main screen.
class CameraHost : public SettingsHost {
public:
    CameraHost() { setSettingsHost(this); }
    ~CameraHost() override { clearSettingsHost(this); }

    void insertRecord(const QString&) override {}
    void publishCounters() override {}
    void countWrite() override {}
    void flushAll() override {}
    void restartCameras() override {}
    int curSide() const override { return 0; }
    void setCurSide(int) override {}
    bool saveOriginalImages() const override { return false; }
    void setSaveOriginalImages(bool) override {}
    QString recordConnectionName() const override { return QStringLiteral("dbRecord"); }
    void pushLiveCameraSetting(int camera, CameraSetting setting) override
    {
        CameraStation* s = stations.at(size_t(camera)).get();
        switch (setting) {
        case Exposure: s->SetExposure(false); break;
        case Gain: s->SetGain(false); break;
        case Sharpness: s->SetSharpness(false); break;
        case Contrast: s->SetContrast(false); break;
        case Gamma: s->SetGamma(false); break;
        case AutoWDR: s->SetAutoWDR(false); break;
        case Mirror: s->SetMirror(false); break;
        }
    }
    void setTriggerMode(int, int) override {}
    void copyParaAndSave(int) override {}
    void trainLocate(int, int) override {}
    void trainAlign(int, int) override {}
    void trainModels(int, int) override {}
    void repaintStation(int) override {}
    int currentCamera() const override { return current; }
    void changeCamera(int camera) override
    {
        current = camera;
        shown << camera;
    }
    CameraStation* cameraStation(int camera) override { return stations.at(size_t(camera)).get(); }

    std::vector<std::unique_ptr<RegulatingCamera>> cameras;
    std::vector<std::unique_ptr<CameraStation>> stations;
    int current = 0;
    QList<int> shown;
};

struct Rig {
    explicit Rig(int current = 0)
    {
        initTextTable();
        gLanguage = 0;
        live.clear();
        for (int c = 0; c < 3; ++c) {
            for (int k = 0; k < 5; ++k) {
                live[8 * k + c] = 20 + k;
            }
        }
        live[139] = 5;
        edit = live;
        gpSystemParam = &live;
        gpSystemParamEdit = &edit;
        gCameraCount = 3;
        gDetectCount = 1;
        gTemplateCount = 1;
        for (int c = 0; c < 3; ++c) {
            host.cameras.push_back(std::make_unique<RegulatingCamera>(64, 48, false, c == 2 ? 2 : 1));
            host.cameras.back()->open();
            host.stations.push_back(std::make_unique<CameraStation>(c, host.cameras.back().get()));
        }
        clearCalls();
        host.current = current;
    }
    ~Rig()
    {
        host.stations.clear();
        gpSystemParam = oldLive;
        gpSystemParamEdit = oldEdit;
        gCameraCount = oldCameras;
    }
    QStringList& calls(int c) { return host.cameras.at(size_t(c))->calls; }
    void clearCalls()
    {
        for (auto& cam : host.cameras) {
            cam->calls.clear();
        }
    }

    TestWorkDir dir;
    SystemParam live{};
    SystemParam edit{};
    SystemParam* oldLive = gpSystemParam;
    SystemParam* oldEdit = gpSystemParamEdit;
    int oldCameras = gCameraCount;
    CameraHost host;
};

bool shownOnPage(QWidget* w, QWidget* page)
{
    return w->isVisibleTo(page);
}

} // namespace

class TestCameraParamWidget : public QObject {
    Q_OBJECT
private slots:
    void openingShowsTheMainScreenCamera_data();
    void openingShowsTheMainScreenCamera();
    void valueHandlers_data();
    void valueHandlers();
    void switchHandlers();
    void switchWrapsAndFollowsCameraKind();
    void detailsSlotFollowsAlgorithms_data();
    void detailsSlotFollowsAlgorithms();
    void simpleDisplayAndBack();
    void restoreDefaultsBehindQuestion();
    void declinedApplyRestoresExposure();
    void oneShotExposureEnds_data();
    void oneShotExposureEnds();
    void oneShotEndedByEarlyClose();
};

void TestCameraParamWidget::openingShowsTheMainScreenCamera_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("expected");
    QTest::newRow("camera 2 shown") << 1 << 1;
    QTest::newRow("all cameras shown") << 3 << 0;
}

void TestCameraParamWidget::openingShowsTheMainScreenCamera()
{
    QFETCH(int, current);
    QFETCH(int, expected);
    Rig rig(current);
    CameraParamWidget page(nullptr);
    QCOMPARE(page.cameraIndex, expected);
    QCOMPARE(rig.host.shown, QList<int>{expected});
    page.loadParams();
    QCOMPARE(page.boxes[0]->value(), 20);
    QCOMPARE(page.boxes[5]->value(), 5);
    // Filling the boxes pushes nothing into any camera.
    for (int c = 0; c < 3; ++c) {
        QVERIFY2(rig.calls(c).isEmpty(), qPrintable(rig.calls(c).join(';')));
    }
}

void TestCameraParamWidget::valueHandlers_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<int>("slotBase");
    QTest::addColumn<QString>("setter");
    QTest::newRow("exposure") << 0 << 0 << "setExposure";
    QTest::newRow("gain") << 1 << 8 << "setGain";
    QTest::newRow("sharpness") << 2 << 16 << "setSharpness";
    QTest::newRow("contrast") << 3 << 24 << "setContrast";
    QTest::newRow("gamma") << 4 << 32 << "setGamma";
}

void TestCameraParamWidget::valueHandlers()
{
    QFETCH(int, box);
    QFETCH(int, slotBase);
    QFETCH(QString, setter);
    Rig rig(1);
    CameraParamWidget page(nullptr);
    page.loadParams();
    rig.clearCalls();
    page.boxes[box]->AddOne();
    page.boxes[box]->AddFive();
    const int expected = 20 + box + 6;
    QCOMPARE(rig.edit[slotBase + 1], expected);
    QCOMPARE(rig.live[slotBase + 1], 20 + box);
    QCOMPARE(rig.calls(1).last(), QStringLiteral("%1 %2").arg(setter).arg(expected));
    QVERIFY(rig.calls(0).isEmpty());
    QVERIFY(rig.calls(2).isEmpty());
    // The speed box is stored by the page, not pushed.
    rig.clearCalls();
    page.boxes[5]->AddOne();
    QVERIFY(rig.calls(1).isEmpty());
    page.storeParams();
    QCOMPARE(rig.edit[139], 6);
}

void TestCameraParamWidget::switchHandlers()
{
    Rig rig(1);
    CameraParamWidget page(nullptr);
    page.loadParams();
    rig.clearCalls();
    page.checks[CameraParamWidget::MirrorH]->setValue(1);
    QCOMPARE(rig.edit[41], 1);
    QCOMPARE(rig.calls(1), QStringList{"setMirror 1,0"});
    page.checks[CameraParamWidget::MirrorV]->setValue(1);
    QCOMPARE(rig.edit[49], 1);
    QCOMPARE(rig.calls(1).last(), QStringLiteral("setMirror 1,1"));
    // Mirrors are the page camera's only and are not stored by the page.
    rig.edit[41] = 0;
    page.storeParams();
    QCOMPARE(rig.edit[41], 0);
    QCOMPARE(rig.edit[40], 0);

    rig.clearCalls();
    page.checks[CameraParamWidget::AutoShading]->setValue(1);
    QCOMPARE(rig.edit[194], 2);
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(rig.calls(c), QStringList{"setWideDynamicRange 1"});
    }
    page.storeParams();
    QCOMPARE(rig.edit[194], 1);
}

void TestCameraParamWidget::switchWrapsAndFollowsCameraKind()
{
    Rig rig(1);
    rig.edit[24 + 2] = 150; // out of the thermal range
    rig.edit[42] = 1;
    CameraParamWidget page(nullptr);
    page.show();
    page.loadParams();
    rig.clearCalls();

    page.pCButtonCamera->click();
    QCOMPARE(page.cameraIndex, 2);
    QCOMPARE(rig.host.current, 2);
    QCOMPARE(page.boxes[3]->maxValue, 2);
    QCOMPARE(page.boxes[3]->label->text(), QStringLiteral("温度范围"));
    for (int k : {0, 1, 2, 5}) {
        QVERIFY2(!shownOnPage(page.boxes[k], &page), qPrintable(QString::number(k)));
    }
    QVERIFY(shownOnPage(page.boxes[3], &page));
    QVERIFY(shownOnPage(page.boxes[4], &page));
    // The clamped value is what the record and the camera receive.
    QCOMPARE(rig.edit[26], 2);
    QVERIFY(rig.calls(2).contains("setContrast 2"));
    QVERIFY(rig.calls(2).contains("setMirror 1,0"));
    QVERIFY(rig.calls(1).isEmpty());
    page.boxes[3]->setValue(3);
    QCOMPARE(page.boxes[3]->value(), 2);

    page.pCButtonCamera->click();
    QCOMPARE(page.cameraIndex, 0);
    QCOMPARE(rig.host.shown, (QList<int>{1, 2, 0}));
    QCOMPARE(page.boxes[3]->maxValue, 200);
    QCOMPARE(page.boxes[0]->label->text(), QStringLiteral("曝光时间"));
    for (int k = 0; k < 6; ++k) {
        QVERIFY(shownOnPage(page.boxes[k], &page));
    }
    QVERIFY(rig.calls(0).contains("setExposure 20"));
}

void TestCameraParamWidget::detailsSlotFollowsAlgorithms_data()
{
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<int>("expected");
    using C = CameraParamWidget;
    QTest::newRow("nothing") << QList<int>{} << 0;
    QTest::newRow("blob only") << QList<int>{C::BlobAlgorithm} << 1;
    QTest::newRow("white count only") << QList<int>{C::WhiteCount} << 1;
    QTest::newRow("temperature alarm") << QList<int>{C::TemperatureAlarm} << 1;
    QTest::newRow("defect only") << QList<int>{C::DefectAlgorithm} << 0;
    QTest::newRow("details by hand") << QList<int>{C::ShowDetails} << 1;
}

void TestCameraParamWidget::detailsSlotFollowsAlgorithms()
{
    QFETCH(QList<int>, ticked);
    QFETCH(int, expected);
    Rig rig;
    CameraParamWidget page(nullptr);
    page.loadParams();
    for (int i : ticked) {
        page.checks[i]->setValue(1);
    }
    page.storeParams();
    QCOMPARE(rig.edit[169], expected);
    for (int i : ticked) {
        QCOMPARE(rig.edit[CameraParamWidget::kCheckSlots[i]], 1);
    }
}

void TestCameraParamWidget::simpleDisplayAndBack()
{
    Rig rig;
    QVERIFY(writeFactoryParamGroup(QStringLiteral(".")));
    openParamDatabase();
    auto dialog = std::make_unique<SystemParamDialog>();
    CameraParamWidget* page = dialog->cameraWgt;
    dialog->tabWidget->setCurrentWidget(page);
    dialog->show();
    QSignalSpy modes(page, &CameraParamWidget::showModeChange);
    QCOMPARE(page->pCButtonShowMode->text(), textOf(300));

    page->pCButtonShowMode->click();
    QCOMPARE(modes.takeFirst().at(0).toInt(), 1);
    QCOMPARE(page->pCButtonShowMode->text(), textOf(299));
    QVERIFY(!page->reorderButton->isVisible());
    QVERIFY(!page->reorderCaption->isVisible());
    QVERIFY(!page->switchHeading->isVisible());
    for (CheckBox* check : page->checks) {
        QVERIFY(!check->isVisible());
    }
    QVERIFY(page->valueHeading->isVisible());
    QVERIFY(page->valueHeading->styleSheet().contains("color: transparent"));
    QVERIFY(page->pCButtonCamera->isVisible());
    QVERIFY(page->boxes[0]->isVisible());
    QVERIFY(dialog->testAttribute(Qt::WA_TranslucentBackground));

    page->pCButtonShowMode->click();
    QCOMPARE(modes.takeFirst().at(0).toInt(), 0);
    QCOMPARE(page->pCButtonShowMode->text(), textOf(300));
    QVERIFY(page->reorderButton->isVisible());
    QVERIFY(page->checks[0]->isVisible());
    QVERIFY(page->valueHeading->styleSheet().contains("#2687F2"));
    QVERIFY(!dialog->testAttribute(Qt::WA_TranslucentBackground));
    dialog.reset();
    QSqlDatabase::database(QString::fromLatin1(kParamConnectionName), false).close();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kParamConnectionName));
}

void TestCameraParamWidget::restoreDefaultsBehindQuestion()
{
    Rig rig(1);
    CameraParamWidget page(nullptr);
    page.loadParams();
    rig.clearCalls();
    {
        PromptAnswerer prompts({0});
        page.pCButtonRestoreDefaultSettings->click();
        QCOMPARE(prompts.questions, QStringList{textOf(527)});
    }
    QVERIFY(rig.calls(1).isEmpty());
    QCOMPARE(rig.edit[1], 20);
    {
        PromptAnswerer prompts({1});
        page.pCButtonRestoreDefaultSettings->click();
    }
    // The simulated driver's defaults are 10 + k for value k.
    QCOMPARE(rig.calls(1).first(), QStringLiteral("loadDefaults 1"));
    for (int k = 0; k < 5; ++k) {
        QCOMPARE(rig.edit[8 * k + 1], 10 + k);
        QCOMPARE(page.boxes[k]->value(), 10 + k);
    }
    QVERIFY(rig.calls(1).contains("setExposure 10"));
    QVERIFY(rig.calls(1).contains("setGamma 14"));
    QVERIFY(rig.calls(0).isEmpty());
}

void TestCameraParamWidget::declinedApplyRestoresExposure()
{
    Rig rig;
    QVERIFY(writeFactoryParamGroup(QStringLiteral(".")));
    openParamDatabase();
    // The records as the main window leaves them before it opens the dialog.
    rig.live.clear();
    initSysParamDefaults(&rig.live);
    loadSysParam(&rig.live);
    rig.live[0] = 20;
    rig.edit = rig.live;
    {
        SystemParamDialog dialog;
        rig.clearCalls();
        dialog.cameraWgt->boxes[0]->AddOne();
        QCOMPARE(rig.calls(0), QStringList{"setExposure 21"});
        PromptAnswerer prompts({0});
        dialog.saveAllTabs();
        dialog.applyParamChanges();
        QCOMPARE(rig.calls(0).last(), QStringLiteral("setExposure 20"));
        QCOMPARE(rig.live[0], 20);
    }
    QSqlDatabase::database(QString::fromLatin1(kParamConnectionName), false).close();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kParamConnectionName));
}

void TestCameraParamWidget::oneShotExposureEnds_data()
{
    QTest::addColumn<int>("exposureUs");
    QTest::addColumn<int>("exposure");
    QTest::newRow("within range") << 37000 << 37;
    QTest::newRow("longer than the box") << 250000 << 100;
}

void TestCameraParamWidget::oneShotExposureEnds()
{
    QFETCH(int, exposureUs);
    QFETCH(int, exposure);
    Rig rig(1);
    rig.host.cameras[1]->answer[QStringLiteral("ExposureTime")] = exposureUs;
    CameraParamWidget page(nullptr);
    page.autoExposeOffMs = 30;
    page.loadParams();
    rig.clearCalls();
    page.pCButtonOpenAutoExposeTime->click();
    QCOMPARE(rig.calls(1), QStringList{"autoAdjust 1"});
    QVERIFY(page.autoExposeRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!page.autoExposeRunning(), kSettleMs);
    QCOMPARE(rig.calls(1).at(1), QStringLiteral("autoAdjust 0"));
    QCOMPARE(rig.edit[1], exposure);
    QCOMPARE(rig.edit[9], 12);
    QCOMPARE(page.boxes[0]->value(), exposure);
    QCOMPARE(page.boxes[1]->value(), 12);
    QVERIFY(rig.calls(1).contains(QStringLiteral("setExposure %1").arg(exposure)));
    QVERIFY(rig.calls(1).contains("setGain 12"));
    QCOMPARE(rig.live[1], 20);
}

void TestCameraParamWidget::oneShotEndedByEarlyClose()
{
    Rig rig(1);
    {
        QDialog owner;
        auto* page = new CameraParamWidget(&owner);
        page->autoExposeOffMs = 60000;
        page->loadParams();
        rig.clearCalls();
        page->pCButtonOpenAutoExposeTime->click();
        owner.done(0);
        QVERIFY(!page->autoExposeRunning());
        QCOMPARE(rig.calls(1), (QStringList{"autoAdjust 1", "autoAdjust 0", "setExposure 20", "setGain 21"}));
        // What the regulation found is not taken once the page is closing.
        QCOMPARE(rig.edit[1], 20);
    }
    // Ended once only, also when the page then goes.
    QCOMPARE(rig.calls(1).count("autoAdjust 0"), 1);
}

QTEST_MAIN(TestCameraParamWidget)
#include "tst_cameraparamwidget.moc"
