#include "camerawgtbox.h"
#include "cameraregistry.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "customionamewidget.h"
#include "dottomdockwidget.h"
#include "drawroiwidget.h"
#include "fakecamera.h"
#include "hardwareconfigurationwidget.h"
#include "imagepickform.h"
#include "iostatuswidget.h"
#include "menubtnwidget.h"
#include "modbusserver.h"
#include "resultstatistics.h"
#include "modalanswer.h"
#include "numberkeypad.h"
#include "paramstorage.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "recordingsystemcommands.h"
#include "statisticswidget.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "taskmanager.h"
#include "temperaturechartdata.h"
#include "temperaturechartwidget.h"
#include "testworkdir.h"
#include "texttable.h"
#include "vezirevoru.h"
#include "windowrig.h"
#include "wizardparawidget.h"
#include "settle.h"

#include <QListWidget>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

namespace {

class CountingTitle : public CameraWgt_DataWidget_Title {
public:
    int updates = 0;
    void updateTitle() override { ++updates; }
};

QList<bool> visibleTiles(VeZiRevoru& w)
{
    QList<bool> shown;
    for (CameraWgt_DataWidget* tile : w.pCameraWgtBox->tiles()) {
        shown.append(tile->isVisibleTo(w.pCameraWgtBox));
    }
    return shown;
}

} // namespace

class TestVeZiRevoru : public QObject {
    Q_OBJECT

private slots:
    void repaintTaskRefreshesTitlesOfVisibleTilesOnly();
    void registersItselfForItsLifetime();
    void constructionLeavesTheWindowReady();
    void productDetectionStartsAtDetectZero();
    void screenModesLayOutTilesDockAndMenu_data();
    void screenModesLayOutTilesDockAndMenu();
    void tapOnATileShowsItsCameraAlone();
    void accessChecks();
    void settingsLowerTheAdministratorAndOpen();
    void areaSettingIsRefusedByAnAlarmUnderThePasswordBox();
    void recordScreensAnswerWhenOffOrLoading();
    void keypadDestroyedTwiceLeavesALiveOne();
};

void TestVeZiRevoru::repaintTaskRefreshesTitlesOfVisibleTilesOnly()
{
    WindowRig rig(0);
    VeZiRevoru& window = *rig.window;
    CountingTitle* titles[3];
    for (auto& title : titles) {
        auto* tile = new CameraWgt_DataWidget;
        title = new CountingTitle;
        tile->titleStack()->addWidget(title);
        window.pCameraWgtBox->addTile(tile);
    }
    // A tile whose current page is not a title page is skipped as well.
    auto* plainTile = new CameraWgt_DataWidget;
    plainTile->titleStack()->addWidget(new QWidget);
    window.pCameraWgtBox->addTile(plainTile);
    // The simulated cameras' own tiles come first; hide them out of the count.
    for (int c = 0; c < gCameraCount; ++c) {
        window.pCameraWgtBox->dataWidget(c)->hide();
    }

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.pCameraWgtBox->tiles().at(gCameraCount + 1)->hide();

    TaskManager* task = TaskManager::instance();
    task->SlotLoopShowTask();
    QCOMPARE(titles[0]->updates, 1);
    QCOMPARE(titles[1]->updates, 0);
    QCOMPARE(titles[2]->updates, 1);

    // Shown again, the hidden tile is refreshed by the running loop (every 100 ms).
    task->startLoop();
    window.pCameraWgtBox->tiles().at(gCameraCount + 1)->show();
    QTRY_VERIFY_WITH_TIMEOUT(titles[1]->updates >= 1, kSettleMs);
}

void TestVeZiRevoru::registersItselfForItsLifetime()
{
    {
        WindowRig rig(1);
        QCOMPARE(mainWindowHooks(), static_cast<MainWindowHooks*>(rig.window.get()));
        QCOMPARE(gpVeZiRevoru, rig.window.get());
    }
    QVERIFY(mainWindowHooks() == nullptr);
    QVERIFY(gpVeZiRevoru == nullptr);
}

void TestVeZiRevoru::constructionLeavesTheWindowReady()
{
    QList<int> steps;
    gConstructionObserver = [&steps](int n) { steps.append(n); };
    WindowRig rig(3);
    gConstructionObserver = nullptr;
    QCOMPARE(steps.size(), 43);
    QVERIFY(std::is_sorted(steps.begin(), steps.end()));
    VeZiRevoru& w = *rig.window;
    QCOMPARE(gCameraCount, 3);
    QCOMPARE(gSimulatedCamera, 0);
    QVERIFY(rig.answers->questions.isEmpty());  // slot 134 is 0: nothing asked
    for (int c = 0; c < 3; ++c) {
        QVERIFY(w.pCammer[c]);
        QCOMPARE(w.pCammer[c], w.pCameraWgtBox->cammerWidget(c));
    }
    QVERIFY(!w.pCammer[3]);
    // Each camera is numbered by its station (a thermal camera reads its
    // settings by it).
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(static_cast<ListedCamera*>(w.openedCameras.at(c))->openedNumber, c);
    }
    QCOMPARE(w.state().shownCamera(), 3);
    QCOMPARE(w.pCycle->curDetect, 1);  // product detection off in the factory group
    QCOMPARE(w.state().runState(), Detecting);
    QCOMPARE(w.state().screenMode(), Live);
    QCOMPARE(w.state().cyclePhase(), Waiting);
    QCOMPARE(w.pCycle->manualTrigDetect, gDetectCount);
    QCOMPARE(w.pCycle->forcedDetect, -1);
    QCOMPARE(w.pCycle->pendingInput, -1);
    QVERIFY(w.pImgForm && !w.pImgForm->isVisible() && w.pImgForm->objectName() == "pImgForm");
    QCOMPARE(w.pWgtDottomDock->objectName(), QStringLiteral("pWgtDottomDock"));
    QCOMPARE(w.pMenuBtnWidget->areaPanel(), static_cast<QWidget*>(w.pDrawROIWidget));
    // Every camera gets the folders of all eight detects, whatever the machine uses.
    for (int c = 1; c <= 3; ++c) {
        for (int d = 1; d <= 8; ++d) {
            for (const QString& folder :
                 {QStringLiteral("alarmimage/camera%1/detect%2/NG").arg(c).arg(d),
                  QStringLiteral("alarmimage/camera%1/detect%2/OK").arg(c).arg(d),
                  QStringLiteral("cammer%1%2").arg(c).arg(d), QStringLiteral("originalimage/cammer%1%2").arg(c).arg(d)}) {
                QVERIFY2(QFileInfo(folder).isDir(), qPrintable(folder));
            }
        }
    }
    QCOMPARE(QDir(w.recordDirs[(3 - 1) * 16 + (8 - 1) * 2 + 1].path()).absolutePath(),
             QDir("alarmimage/camera3/detect8/OK").absolutePath());
    QVERIFY(QFileInfo("RECORD").isDir() && QFileInfo("ResStatistics").isDir() && QFileInfo("paraGroup").isDir());
    QVERIFY(w.missingFolders.isEmpty());
    for (int k = 0; k < 8; ++k) {
        QCOMPARE(gCameraOrder[k], k);
    }
    // The screens kept in reserve are the window's own and stay out of sight.
    for (QWidget* kept : std::initializer_list<QWidget*>{w.pWizardParaWidget, w.pCustomIONameWidget,
                                                          w.pHardwareConfigurationWidget}) {
        QVERIFY(kept);
        QCOMPARE(kept->parent(), static_cast<QObject*>(&w));
        QVERIFY2(kept->isHidden(), kept->metaObject()->className());
    }
    // The naming dialog lists every input and output once, named as its lamp
    // in the dock; filling it again replaces the rows.
    const QList<IOWidget_Item*>& inputLamps = w.pWgtDottomDock->lampStrip()->inputLamps();
    const QList<IOWidget_Item*>& outputLamps = w.pWgtDottomDock->lampStrip()->outputLamps();
    for (int fill = 0; fill < 2; ++fill) {
        if (fill == 1) {
            w.pCustomIONameWidget->loadNames();
        }
        QListWidget* inputs = w.pCustomIONameWidget->inputList;
        QListWidget* outputs = w.pCustomIONameWidget->outputList;
        QCOMPARE(inputs->count(), inputLamps.size());
        QCOMPARE(outputs->count(), outputLamps.size());
        for (int i = 0; i < inputLamps.size(); ++i) {
            QCOMPARE(inputs->item(i)->text(), inputLamps[i]->text());
            QCOMPARE(outputs->item(i)->text(), outputLamps[i]->text());
        }
    }
    QCOMPARE(inputLamps.size(), 10);
    // A standard machine without name.txt: the board's default names.
    QCOMPARE(w.pCustomIONameWidget->inputList->item(0)->text(), textOf(301));
    QCOMPARE(w.pCustomIONameWidget->outputList->item(2)->text(), textOf(307));
    QCOMPARE(w.pCustomIONameWidget->inputList->item(9)->text(), QStringLiteral("I-10"));
    QCOMPARE(w.pCustomIONameWidget->titleLabel->text(), textOf(498));
}

void TestVeZiRevoru::productDetectionStartsAtDetectZero()
{
    WindowRig rig(1, {1}, [](SystemParam& p) { p[133] = 1; });
    QCOMPARE(rig.window->pCycle->curDetect, 0);
    QCOMPARE(rig.window->state().shownCamera(), 0);  // one camera is shown alone
    QCOMPARE(visibleTiles(*rig.window), QList<bool>{true});
}

void TestVeZiRevoru::screenModesLayOutTilesDockAndMenu_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<int>("curCamera");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<bool>>("shown");
    const QList<bool> one{true};
    for (int mode = 0; mode <= 3; ++mode) {
        QTest::addRow("one camera, mode %d", mode) << 1 << 0 << mode << one;
        QTest::addRow("three cameras all, mode %d", mode) << 3 << 3 << mode << QList<bool>{true, true, true};
        QTest::addRow("three cameras, the second, mode %d", mode) << 3 << 1 << mode << QList<bool>{false, true, false};
    }
}

void TestVeZiRevoru::screenModesLayOutTilesDockAndMenu()
{
    QFETCH(int, cameras);
    QFETCH(int, curCamera);
    QFETCH(int, mode);
    QFETCH(QList<bool>, shown);
    WindowRig rig(cameras);
    VeZiRevoru& w = *rig.window;
    w.show();
    w.state().setShownCamera(curCamera);
    w.SetScreenMode(mode);
    QCOMPARE(w.state().screenMode(), Live);  // the caller sets it, not SetScreenMode
    QCOMPARE(visibleTiles(w), shown);
    const bool panel = mode >= 2;
    for (CameraWgt_DataWidget* tile : w.pCameraWgtBox->tiles()) {
        // The area-setting title over the tile in the alarm and in area setting.
        QCOMPARE(tile->titleStack()->currentIndex(), panel ? 1 : 0);
    }
    QCOMPARE(w.pWgtDottomDock->isVisible(), !panel);
    QCOMPARE(w.pMenuBtnWidget->pages()->currentIndex(), panel ? 1 : 0);
}

void TestVeZiRevoru::tapOnATileShowsItsCameraAlone()
{
    WindowRig rig(3);
    VeZiRevoru& w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.state().shownCamera(), 3);
    QTest::mouseClick(w.pCameraWgtBox->cammerWidget(1), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QCOMPARE(w.state().shownCamera(), 1);
    QCOMPARE(visibleTiles(w), (QList<bool>{false, true, false}));
    // Shown alone, a tap is the operator's probe, not a layout change.
    QTest::mouseClick(w.pCameraWgtBox->cammerWidget(1), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QCOMPARE(w.state().shownCamera(), 1);
    QCOMPARE(visibleTiles(w), (QList<bool>{false, true, false}));
}

void TestVeZiRevoru::accessChecks()
{
    WindowRig rig(1, {1}, [](SystemParam& p) { p[131] = 1; });
    VeZiRevoru& w = *rig.window;
    // Nobody logged in, a wrong entry: refused, the box was asked once.
    rig.answers->passwordEntries = QStringList{QStringLiteral("wrong")};
    QCOMPARE(w.CheckUserLogin(), 0);
    QCOMPARE(rig.answers->typedPasswords.size(), 1);
    // A logged-in operator is not asked again.
    w.state().setUserLevel(UserOperator);
    QCOMPARE(w.CheckUserLogin(), 1);
    QCOMPARE(rig.answers->typedPasswords.size(), 1);
    // The administrator check asks even an operator, and refuses him.
    rig.answers->passwordEntries = QStringList{QStringLiteral("wrong")};
    QCOMPARE(w.CheckAdminLogin(), 0);
    QCOMPARE(rig.answers->typedPasswords.size(), 2);
    w.state().setUserLevel(UserAdmin);
    QCOMPARE(w.CheckAdminLogin(), 1);
    // Without password protection everyone has full access unasked.
    (*gpSystemParam)[131] = 0;
    w.state().setUserLevel(UserNone);
    QCOMPARE(w.CheckUserLogin(), 2);
    QCOMPARE(rig.answers->typedPasswords.size(), 2);
}

void TestVeZiRevoru::settingsLowerTheAdministratorAndOpen()
{
    for (int protection : {1}) {
        WindowRig rig(1, {1}, [protection](SystemParam& p) { p[131] = protection; });
        VeZiRevoru& w = *rig.window;
        w.show();
        w.state().setUserLevel(UserAdmin);
        (*gpSystemParam)[0] = 1234;
        auto opened = std::make_shared<bool>(false);
        onNextModal([opened](QWidget* modal) {
            *opened = qobject_cast<SystemParamDialog*>(modal) != nullptr;
            modal->close();
        });
        w.SlotSystemPara();
        QVERIFY2(*opened, qPrintable(QString::number(protection)));
        QCOMPARE(w.state().userLevel(), protection ? UserOperator : UserNone);
        QCOMPARE((*gpSystemParamEdit)[0], 1234);
        // In the alarm nothing opens (an operator is logged in: no box either).
        w.state().setScreenMode(Alarm);
        w.state().setUserLevel(UserOperator);
        auto late = std::make_shared<bool>(false);
        onNextModal([late](QWidget* modal) { *late = true; modal->close(); }, 200);
        w.SlotSystemPara();
        QTest::qWait(300);  // the watcher gives up before the next test's boxes
        QVERIFY(!*late);
    }
}

void TestVeZiRevoru::areaSettingIsRefusedByAnAlarmUnderThePasswordBox()
{
    WindowRig rig(2, {1}, [](SystemParam& p) {
        p[131] = 1;
        std::memset(&p[202], 0, 25 * sizeof(qint32));
        std::memcpy(&p[202], "4321", 4);
    });
    VeZiRevoru& w = *rig.window;
    w.show();
    // The alarm starts while the password box is open; the password is right.
    int asked = 0;
    setPasswordEntryHandler([&w, &asked](QString& entry) {
        if (asked++ > 0) {
            return false;
        }
        w.state().setScreenMode(Alarm);
        entry = QStringLiteral("4321");
        return true;
    });
    w.SlotAdjustArea();
    setPasswordEntryHandler({});
    QCOMPARE(asked, 1);
    QCOMPARE(w.state().userLevel(), UserOperator);
    QCOMPARE(w.state().screenMode(), Alarm);
    QVERIFY(!w.pDrawROIWidget->isVisible());

    // Without the alarm, an operator opens area setting.
    w.state().setScreenMode(Live);
    w.state().setUserLevel(UserOperator);
    w.state().setShownCamera(1);
    w.SlotAdjustArea();
    QCOMPARE(w.state().screenMode(), AreaSetting);
    QCOMPARE(w.pImgForm->chooser()->source, 0);
    QCOMPARE(w.pImgForm->chooser()->camera, 1);
    QVERIFY(w.pDrawROIWidget->isVisible());
    QCOMPARE(w.pMenuBtnWidget->pages()->currentIndex(), 1);
    // With the panel open it is refused: the operator is not asked again.
    w.state().setUserLevel(UserNone);
    int askedAgain = 0;
    setPasswordEntryHandler([&askedAgain](QString&) {
        ++askedAgain;
        return false;
    });
    w.SlotAdjustArea();
    setPasswordEntryHandler({});
    QCOMPARE(askedAgain, 0);
    QCOMPARE(w.state().screenMode(), AreaSetting);
}

void TestVeZiRevoru::recordScreensAnswerWhenOffOrLoading()
{
    WindowRig rig(1);
    VeZiRevoru& w = *rig.window;
    (*gpSystemParam)[172] = 0;
    (*gpSystemParam)[187] = 0;
    w.SlotShowStatisticsWidget();
    w.SlotTemperatureChart();
    QCOMPARE(rig.answers->warnings.mid(rig.answers->warnings.size() - 2), (QStringList{textOf(671), textOf(672)}));

    (*gpSystemParam)[172] = 1;
    (*gpSystemParam)[187] = 1;
    TemperatureChartData::instance()->todayLoaded = false;
    w.SlotShowStatisticsWidget();
    w.SlotTemperatureChart();
    QCOMPARE(rig.answers->questions, (QStringList{textOf(673), textOf(673)}));
    QVERIFY(!gpStatisticsWidget && !gpTemperatureChartWidget);

    TemperatureChartData::instance()->todayLoaded = true;
    TemperatureChartData::instance()->seriesMode = 2;
    w.SlotTemperatureChart();
    QVERIFY(gpTemperatureChartWidget && gpTemperatureChartWidget->isVisible());
    QCOMPARE(TemperatureChartData::instance()->seriesMode, 0);
    auto ranModal = std::make_shared<bool>(false);
    onNextModal([ranModal](QWidget* modal) {
        *ranModal = qobject_cast<StatisticsWidget*>(modal) != nullptr;
        modal->close();
    });
    w.SlotShowStatisticsWidget();
    QVERIFY(gpStatisticsWidget);
    QVERIFY(*ranModal);
}

void TestVeZiRevoru::keypadDestroyedTwiceLeavesALiveOne()
{
    WindowRig rig(1);
    for (int round = 0; round < 2; ++round) {
        NumberInput* pad = gpNumberInput.data();
        NumCharInput* keys = gpNumCharInput.data();
        QVERIFY(pad && keys);
        delete pad;
        delete keys;
        QVERIFY(gpNumberInput && gpNumberInput.data() != pad);
        QVERIFY(gpNumCharInput && gpNumCharInput.data() != keys);
        gpNumberInput->show();  // a dangling one would fault here under the address checker
        gpNumberInput->hide();
    }
}

QTEST_MAIN(TestVeZiRevoru)
#include "tst_vezirevoru.moc"
