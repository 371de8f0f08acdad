#include "vezirevoru.h"

#include "areaediting.h"
#include "savefialimagethread.h"

#include "camerawgtbox.h"
#include "cameraregistry.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "customionamewidget.h"
#include "dottomdockwidget.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "globals.h"
#include "hardwareconfigurationwidget.h"
#include "helpwidget.h"
#include "imagepickform.h"
#include "inputbox.h"
#include "menubtnwidget.h"
#include "modbusdatachange.h"
#include "modbusserver.h"
#include "numberkeypad.h"
#include "operationlog.h"
#include "operatorprompt.h"
#include "paramstorage.h"
#include "platformhelpers.h"
#include "productioncounters.h"
#include "recordshandover.h"
#include "resultstatistics.h"
#include "statisticswidget.h"
#include "systemcommands.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "temperaturechartdata.h"
#include "temperaturechartwidget.h"
#include "texttable.h"
#include "warnbox.h"
#include "wizardparawidget.h"
#include "translations.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSqlDatabase>
#include <QTimer>
#include <QVBoxLayout>

VeZiRevoru* gpVeZiRevoru = nullptr;
QPointer<inputbox> gpInputbox;
int gSimulatedCamera = 0;
std::function<void(int step)> gConstructionObserver;

namespace {

// Texts of the window's own boxes.
constexpr int kTextInitialising = 133;
constexpr int kTextNoCamera = 134;
constexpr int kTextReady = 150;
constexpr int kTextCameraCountChanged = 360;
constexpr int kTextStatisticsOff = 671;
constexpr int kTextChartOff = 672;
constexpr int kTextDataLoading = 673;
constexpr int kTextFolderFailed = 674;

void step(int n)
{
    if (gConstructionObserver) {
        gConstructionObserver(n);
    }
}

} // namespace

VeZiRevoru::VeZiRevoru(QWidget* parent, quint16 modbusPort, const QHostAddress& modbusAddress)
    : QWidget(parent)
{
    step(1);
    gpVeZiRevoru = this;
    setObjectName(QStringLiteral("VeZiRevoru"));
    setStyleSheet(QStringLiteral("VeZiRevoru { background-color: #1E1E1E; }"));
    setAttribute(Qt::WA_StyledBackground, true);
    grayTable = greyRampTable();
    state().setRunState(Detecting);
    state().setScreenMode(Live);
    state().setCyclePhase(Waiting);
    pCycle->forcedDetect = -1;
    pCycle->pendingInput = -1;
    pCycle->camerasOnline = true;
    gSimulatedCamera = 0;
    setMainWindowHooks(this);
    setOperatingState(&state());
    setStationHost(this);
    setKitHost(this);
    installHosts();
    // Every box of construction goes through the prompt seam: the kit's boxes
    // unless someone (a test, a headless run) answers in the operator's place.
    {
        WarnHandler warn = setWarnOperatorHandler({});
        AskHandler ask = setAskOperatorHandler({});
        if (!warn && !ask) {
            installKitPromptHandlers();
        } else {
            setWarnOperatorHandler(warn);
            setAskOperatorHandler(ask);
        }
    }

    step(2);
    // The panel has no window manager to enlarge a full-screen window: take
    // the screen's size ourselves, before anything that centres on it is built.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        gScreenWidth = screen->geometry().width();
        gScreenHeight = screen->geometry().height();
        setFixedSize(gScreenWidth, gScreenHeight);
    }

    step(3);
    if (!gpWarnbox) {
        gpWarnbox = new Warnbox(nullptr);
    }
    gpWarnbox->setMessage(textOf(kTextInitialising));
    gpWarnbox->setStaysOnTop(false);
    gpWarnbox->show();
    QCoreApplication::processEvents();

    step(4);
    cameraDriverMask = kAllCameraDrivers;
    pCycle->pendingCameras[0] = pCycle->pendingCameras[1] = 0;

    step(5);
    pLogoutTimer = new QTimer(this);
    pLogoutTimer->setSingleShot(true);
    connect(pLogoutTimer, &QTimer::timeout, this, &VeZiRevoru::TimerLogout);
    pBacklightTimer = new QTimer(this);
    pBacklightTimer->setSingleShot(true);
    connect(pBacklightTimer, &QTimer::timeout, this, &VeZiRevoru::TimerLCD);
    // The debounce timers of the inputs are the cycle controller's.
    std::fill(std::begin(pCycle->confirmedInputs), std::end(pCycle->confirmedInputs), false);

    // PARAM.db, RECORD.db and SN.db.
    openDatabases();

    step(9);
    // The records live as long as the process.
    gpSystemParam = initSysParamDefaults(new SystemParam());
    loadSysParam(gpSystemParam, &pCycle->curSide);
    waitForHeldParamFiles();
    // The language is known from here on; every caption made after this
    // speaks it (the start-up box above stays as it was made).
    installTranslations(gLanguage);
    gpSystemParamEdit = initSysParamDefaults(new SystemParam());

    step(10);
    copySysParamGlobals(*gpSystemParam);
    pCycle->curDetect = gpSystemParam->productDetect() == 1 ? 0 : 1;

    step(11);
    discoverCameras();

    step(12);
    if (!gpTipbox) {
        gpTipbox = new tipbox(2, nullptr, 600, 420);
    }
    gpTipbox->hide();
    if (!gpNumberInput) {
        gpNumberInput = new NumberInput(nullptr);
    }
    if (!gpNumCharInput) {
        gpNumCharInput = new NumCharInput(nullptr);
    }
    watchKeypads();

    step(13);
    if (!gpControlPort) {
        gpControlPort = new ControlPort(gComPort);
    }
    // The machine may not close the mould until the cycle says so; from here
    // on the cycle's output authority is the one writer of the word.
    pCycle->setPort(gpControlPort);
    pCycle->outputs().withdrawClamp(OutputReason::Startup);
    pCycle->outputs().commit();

    step(14);
    grayTable = greyRampTable();

    // The cameras, simulated ones when none opens.
    openCameras();

    step(17);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    outer->addLayout(row, 1);
    gCameraCount = openedCameras.size();
    pCameraWgtBox = new CameraWgtBox(openedCameras, this);
    for (int c = 0; c < gCameraCount; ++c) {
        pCammer[c] = pCameraWgtBox->cammerWidget(c);
    }
    row->addWidget(pCameraWgtBox, 1);

    step(18);
    pImgForm = new ImagePickForm(nullptr);
    pImgForm->setObjectName(QStringLiteral("pImgForm"));
    pImgForm->hide();
    connect(this, &QObject::destroyed, pImgForm, [form = pImgForm] { delete form; });
    pMenuBtnWidget = new MenuBtnWidget(this);
    pDrawROIWidget = new DrawROIWidget(pMenuBtnWidget);
    pDrawROIWidget->setHost(m_areaPanelHost);
    // The panel's saves and samples write the operation log themselves.
    pDrawROIWidget->setAreaEditing(std::make_unique<AreaEditing>(recordLog(), [this] { return state().userLevel(); }));
    pDrawROIWidget->FillCombos();
    pMenuBtnWidget->setAreaPanel(pDrawROIWidget);
    connect(pDrawROIWidget, &DrawROIWidget::recentNgImg, this, &VeZiRevoru::OnRecentNgImg);
    connect(pImgForm, &ImagePickForm::sourceChange, pDrawROIWidget, &DrawROIWidget::SlotChangeSource);
    connect(pImgForm, &ImagePickForm::cameraChange, pDrawROIWidget, &DrawROIWidget::SlotChangeCamera);
    connect(pImgForm, &ImagePickForm::detectChange, pDrawROIWidget, &DrawROIWidget::SlotChangeDetect);
    connect(pImgForm, &ImagePickForm::imageChange, pDrawROIWidget, &DrawROIWidget::SlotTempList);
    Main_MenuBtnWidget* menu = pMenuBtnWidget->mainMenu();
    connect(menu, &Main_MenuBtnWidget::sigSystemPara, this, &VeZiRevoru::SlotSystemPara);
    connect(menu, &Main_MenuBtnWidget::sigAdjustArea, this, &VeZiRevoru::SlotAdjustArea);
    connect(menu, &Main_MenuBtnWidget::sigShowStatisticsWidget, this, &VeZiRevoru::SlotShowStatisticsWidget);
    connect(menu, &Main_MenuBtnWidget::sigTemperatureChart, this, &VeZiRevoru::SlotTemperatureChart);
    connect(menu, &Main_MenuBtnWidget::sigManualTrig, this, &VeZiRevoru::SlotManualTrig);
    // The menu column stands right of the tiles.
    row->addWidget(pMenuBtnWidget);
    pWgtDottomDock = new DottomDockWidget(this);
    pWgtDottomDock->setObjectName(QStringLiteral("pWgtDottomDock"));
    outer->addWidget(pWgtDottomDock);

    step(19);
    askCameraQuestions();

    step(20);
    state().setShownCamera(gCameraCount == 1 ? 0 : gCameraCount);

    step(21);
    StartModbusServer(modbusPort, modbusAddress);

    step(22);
    pWizardParaWidget = new WizardParaWidget(this);
    pWizardParaWidget->hide();
    pHelpWidget = new HelpWidget(this);
    pHelpWidget->hide();
    connect(pDrawROIWidget, &DrawROIWidget::helpRequested, pHelpWidget, &HelpWidget::showHelp);
    // The camera order holds the identity until the operator changes it.
    for (int k = 0; k < MaxCameras; ++k) {
        gCameraOrder[k] = k;
    }
    pCustomIONameWidget = new CustomIONameWidget(this);
    probeX = probeY = 0;
    pCustomIONameWidget->loadNames();
    pCustomIONameWidget->hide();
    pHardwareConfigurationWidget = new HardwareConfigurationWidget(this);
    pHardwareConfigurationWidget->hide();
    makeFolder(QStringLiteral("./paraGroup"));
    if (!gpInputbox) {
        gpInputbox = new inputbox(0, nullptr);
    }
    gpInputbox->hide();

    step(23);
    ChangeCammer();

    step(24);
    makePictureFolders();

    // The cycle gets the I/O link and the stations, the picture slots and
    // their writer.
    handOverToCycle();

    step(30);
    recordDbDir = QDir(QStringLiteral("./RECORD"));
    resStatisticsDir = QDir(QStringLiteral("./ResStatistics"));
    makeFolder(recordDbDir.path());
    makeFolder(resStatisticsDir.path());

    step(31);
    // "time.txt" and the first day check were done when RECORD.db was
    // opened, so that the warnings of opening PARAM.db land in today's file.
    step(32);

    step(33);
    if (!gpResultStatistics) {
        gpResultStatistics = new ResultStatistics;
    }
    gpResultStatistics->checkDayChange();

    step(34);
    {
        MachineOutputs::Pass pass(pCycle->outputs());
        StartDetect();
        if (gpSystemParam->cutClampAfterOk() && gpSystemParam->clampPulse() > 0) {
            pCycle->outputs().withdrawClamp(OutputReason::Startup);
            pCycle->outputs().commit();
        }
    }

    step(35);
    std::fill(std::begin(pCycle->ngAreaOutputs), std::end(pCycle->ngAreaOutputs), 0);
    pCycle->manualTrigDetect = gDetectCount;
    pCycle->manualCycle = false;

    step(36);
    installEventFilter(this);
    if (gpWarnbox) {
        gpWarnbox->hide();
    }
    pCycle->runTimer->start(5);
    checkDateTimer->start(60000);

    step(37);
    InsertRecord(textOf(kTextReady).arg(gCameraCount));

    step(38);
    pCycle->cycleTime = 0;
    pCycle->cycleStartStamp = QDateTime::currentMSecsSinceEpoch() / 100;

    step(39);
    CountRead();

    step(40);
    RestartCameras();

    step(41);
    if (gpSystemParam->screenOffSec() > 0) {
        pBacklightTimer->start(gpSystemParam->screenOffSec() * 1000);
    }

    step(42);
    gpTipbox->setWindowFlags(gpTipbox->windowFlags() | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
    // The keypads stay top-level windows (they float over the screens) and
    // are ended with the window rather than re-parented into it.
    connect(this, &QObject::destroyed, [] {
        delete gpNumberInput.data();
        delete gpNumCharInput.data();
        delete gpInputbox.data();
    });
    addQuitHook(QStringLiteral("close cameras"), [] {
        if (gpVeZiRevoru) {
            gpVeZiRevoru->CloseCameras();
        }
    });

    step(43);
    // Registers 0 and 2 and the counters were published when the server was
    // made (with the Modbus server); the counters of count.txt are known only now.
    PublishCounters();
}

VeZiRevoru::~VeZiRevoru()
{
    // The picture writer works for this window's cameras and slot table: it
    // is stopped and joined before they go.
    delete gpSaveFialImageThread;
    // The keypads go with the window; they must not be made again for it.
    for (QObject* keypad : {static_cast<QObject*>(gpNumberInput.data()), static_cast<QObject*>(gpNumCharInput.data())}) {
        if (keypad) {
            disconnect(keypad, nullptr, this, nullptr);
        }
    }
    clearMainWindowHooks(this);
    clearOperatingState(&state());
    clearStationHost(this);
    clearKitHost(this);
    removeHosts();
    if (paramStorageOperationLog) {
        paramStorageOperationLog = nullptr;
    }
    cameraOperationLog = nullptr;
    cameraStationSerial = nullptr;
    if (gpVeZiRevoru == this) {
        gpVeZiRevoru = nullptr;
    }
}

void VeZiRevoru::openDatabases()
{
    step(6);
    // Messages of the loaders go to the operation log; those that come before
    // it is open wait for it.
    paramStorageOperationLog = [this](const QString& text) { InsertRecord(text); };
    cameraOperationLog = [this](const QString& text) { InsertRecord(text); };
    cameraStationSerial = [this](int camera) {
        CammerWidget* station = camera >= 0 && camera < 8 ? pCammer[camera] : nullptr;
        return station ? QString::fromLatin1(station->station().serialText) : QString();
    };
    openParamDatabase();

    step(7);
    StartOperationLog();

    step(8);
    openSerialDatabase();
}

void VeZiRevoru::waitForHeldParamFiles()
{
    if (!sysParamHeld() && !cameraSerialsHeld()) {
        return;
    }
    // The areas, the machine's settings and the camera order are in those
    // files: a monitor judging cycles on defaults protects nothing. Nothing
    // past this point runs before they are read, the link to the I/O board
    // included (its port is one of the settings), so no output is granted
    // meanwhile. The operator has been told once; the files are asked for
    // again with a short wait each time, so that the screen and a quit
    // signal are served in between.
    qWarning() << "PARAM.db or SN.db is held by another program: the monitor waits for it before it starts";
    const int previousBound = setParamBusyBoundMs(kHeldParamRetryBusyMs);
    while (sysParamHeld() || cameraSerialsHeld()) {
        QEventLoop pause;
        QTimer::singleShot(kHeldParamRetryMs, &pause, &QEventLoop::quit);
        pause.exec();
        loadSysParam(gpSystemParam, &pCycle->curSide);
    }
    setParamBusyBoundMs(previousBound);
    qInfo() << "PARAM.db and SN.db are read; the start goes on";
}

void VeZiRevoru::openCameras()
{
    step(15);
    openedCameras.clear();
    const int wanted = qMin(MaxCameras, cameraDeviceList.size());
    for (int i = 0; i < wanted; ++i) {
        // A thermal camera reads its settings by its station's number, which
        // is its place among the opened cameras, not among its own kind.
        CameraInfo record = cameraDeviceList.at(i);
        record.number = openedCameras.size();
        if (CameraInterface* driver = openCamera(record)) {
            openedCameras.append(driver);
        }
    }

    step(16);
    if (openedCameras.isEmpty()) {
        useSimulatedCameras();
        gSimulatedCamera = 1;
        const int simulated = qMin(MaxCameras, cameraDeviceList.size());
        for (int i = 0; i < simulated; ++i) {
            if (CameraInterface* driver = openCamera(cameraDeviceList.at(i))) {
                openedCameras.append(driver);
            }
        }
    }
}

void VeZiRevoru::askCameraQuestions()
{
    if (gSimulatedCamera == 1) {
        if (askOperator(textOf(kTextNoCamera), 2) == 1) {
            saveCameraSerials(1);
        }
        return;
    }
    const int saved = gpSystemParam->snCount();
    if (saved > 0 && saved != cameraDeviceList.size()) {
        if (askOperator(textOf(kTextCameraCountChanged), 2) == 1) {
            saveCameraSerials(1);
            FLushAll();
            systemCommands().perform(SystemOperation::reboot());
            // Where the reboot does not happen (any build but the panel's) the
            // program must not run on with its databases closed.
            quitProgram(0);
        }
    }
}

void VeZiRevoru::closeDatabases()
{
    for (const char* name : {kSerialConnectionName, kParamConnectionName}) {
        if (QSqlDatabase::contains(QString::fromLatin1(name))) {
            QSqlDatabase::database(QString::fromLatin1(name), false).close();
        }
    }
    recordLog()->close();
}

void VeZiRevoru::FLushAll()
{
    closeDatabases();
    systemCommands().sleepMs(500);
}

bool VeZiRevoru::makeFolder(const QString& path)
{
    if (QDir(path).exists() || QDir().mkpath(path)) {
        return true;
    }
    // A folder that cannot be made loses every picture meant for it: say so
    // once, in the program's log, the operation log and to the operator.
    if (!missingFolders.contains(path)) {
        missingFolders.append(path);
        qWarning() << "cannot make the folder" << path;
        const QString text = textOf(kTextFolderFailed).arg(path);
        InsertRecord(text);
        warnOperator(text);
    }
    return false;
}

void VeZiRevoru::makePictureFolders()
{
    const QString alarm = QStringLiteral("./alarmimage");
    const QString original = QStringLiteral("./originalimage");
    for (int c = 1; c <= gCameraCount; ++c) {
        for (int d = 1; d <= 8; ++d) {
            pCycle->resultState[c - 1][d - 1] = 0;
            const int index = (c - 1) * 16 + (d - 1) * 2;
            recordDirs[index] = QDir(QStringLiteral("%1//camera%2//detect%3//NG").arg(alarm).arg(c).arg(d));
            recordDirs[index + 1] = QDir(QStringLiteral("%1//camera%2//detect%3//OK").arg(alarm).arg(c).arg(d));
            makeFolder(recordDirs[index].path());
            makeFolder(recordDirs[index + 1].path());
            makeFolder(QStringLiteral("./cammer%1%2").arg(c).arg(d));
            makeFolder(QStringLiteral("%1//cammer%2%3").arg(original).arg(c).arg(d));
        }
    }
}

void VeZiRevoru::handOverToCycle()
{
    // The controller made the cycle's timers with itself; here it gets the
    // I/O link and the stations, then the picture slots and their writer.
    std::vector<CameraStation*> stations;
    for (int c = 0; c < gCameraCount && c < MaxCameras; ++c) {
        stations.push_back(pCammer[c] ? &pCammer[c]->station() : nullptr);
    }
    step(25);
    StartCycle(stations);
    drawHintTimer = new QTimer(this);
    connect(drawHintTimer, &QTimer::timeout, this, &VeZiRevoru::SlotDrawHint);

    step(26);
    std::fill(std::begin(pCycle->detectDelayLeft), std::end(pCycle->detectDelayLeft), 0.0);

    step(27);
    AllocateFailImages(stations);

    step(28);
    StartFailImageWriter();

    step(29);
}

void VeZiRevoru::watchKeypads()
{
    if (gpNumberInput) {
        connect(gpNumberInput.data(), &QObject::destroyed, this, &VeZiRevoru::OnNumberInputDestroyed,
                Qt::UniqueConnection);
    }
    if (gpNumCharInput) {
        connect(gpNumCharInput.data(), &QObject::destroyed, this, &VeZiRevoru::OnNumCharInputDestroyed,
                Qt::UniqueConnection);
    }
}


void VeZiRevoru::startDrawHint(int ms)
{
    if (drawHintTimer) {
        drawHintTimer->start(ms);
    }
}

// Picture sources 3 and 4 show the record picture the area panel browses.
int VeZiRevoru::recordPictureCount()
{
    return pDrawROIWidget ? pDrawROIWidget->recordCount : 0;
}

QImage VeZiRevoru::recordPicture()
{
    return pDrawROIWidget ? pDrawROIWidget->recordImage : QImage();
}

void VeZiRevoru::repaintStatus()
{
    if (pWgtDottomDock) {
        pWgtDottomDock->clockPanel()->update();
    }
    if (!pCameraWgtBox) {
        return;
    }
    for (CameraWgt_DataWidget* tile : pCameraWgtBox->tiles()) {
        if (!tile->isVisible()) {
            continue;
        }
        if (CameraWgt_DataWidget_Title* title = tile->currentTitle()) {
            title->updateTitle();
        }
    }
}

// ---- views and screen switching ----

void VeZiRevoru::SetScreenMode(int mode)
{
    const int shown = state().shownCamera() == gCameraCount ? -1 : state().shownCamera();
    const bool areaPanel = mode == Alarm || mode == AreaSetting;
    if (pCameraWgtBox) {
        for (CameraWgt_DataWidget* tile : pCameraWgtBox->tiles()) {
            tile->setScreenMode(mode);
            tile->showForCamera(shown);
        }
    }
    if (pWgtDottomDock) {
        pWgtDottomDock->setVisible(!areaPanel);
    }
    // The help explains the area panel; it goes with it.
    if (!areaPanel && pHelpWidget) {
        pHelpWidget->hide();
    }
    if (pMenuBtnWidget) {
        pMenuBtnWidget->SetMenuPage(areaPanel ? mode : 0);
    }
}

int VeZiRevoru::CheckUserLogin()
{
    if (gpSystemParam->isPswUsed() == 0) {
        return UserAdmin;
    }
    if (state().userLevel() != UserNone) {
        return state().userLevel();
    }
    inputbox box(1, nullptr);
    box.exec();
    return state().userLevel();
}

int VeZiRevoru::CheckAdminLogin()
{
    if (state().userLevel() == UserAdmin) {
        return 1;
    }
    inputbox box(1, nullptr);
    box.exec();
    return state().userLevel() == UserAdmin ? 1 : 0;
}

bool VeZiRevoru::CheckArea(int source)
{
    const auto refused = [this] { return pDrawROIWidget->isVisible() || state().screenMode() == Alarm; };
    if (refused()) {
        return false;
    }
    // The cycle runs under the password box: an alarm that started meanwhile
    // must not be overwritten by area setting.
    if (CheckUserLogin() == 0 || refused()) {
        return false;
    }
    pImgForm->selectSource(source);
    pImgForm->selectCamera(state().shownCamera());
    pDrawROIWidget->EnterAreaMode(false);
    state().setScreenMode(AreaSetting);
    SetScreenMode(AreaSetting);
    // The panel always enters on the templates.
    if (source != 0) {
        pDrawROIWidget->SetSourceIndex(source);
    }
    return true;
}

void VeZiRevoru::SlotAdjustArea()
{
    CheckArea(0);
}

void VeZiRevoru::SlotShowAlarmImgae()
{
    CheckArea(4);
}

void VeZiRevoru::SlotSystemPara()
{
    if (pDrawROIWidget->isVisible()) {
        return;
    }
    if (state().userLevel() == UserAdmin) {
        state().setUserLevel(gpSystemParam->isPswUsed() ? UserOperator : UserNone);
    }
    if (CheckUserLogin() == 0 || state().screenMode() == Alarm || pDrawROIWidget->isVisible()) {
        return;
    }
    *gpSystemParamEdit = *gpSystemParam;
    SystemParamDialog dialog(nullptr);
    dialog.exec();
}

void VeZiRevoru::SlotShowStatisticsWidget()
{
    if (gpSystemParam->statisticsOn() == 0) {
        warnOperator(textOf(kTextStatisticsOff));
        return;
    }
    if (!TemperatureChartData::instance()->todayLoaded) {
        askOperator(textOf(kTextDataLoading), 1);
        return;
    }
    if (!gpStatisticsWidget) {
        gpStatisticsWidget = new StatisticsWidget(nullptr);
        connect(this, &QObject::destroyed, [] {
            delete gpStatisticsWidget;
            gpStatisticsWidget = nullptr;
        });
    }
    gpStatisticsWidget->showToday();
    gpStatisticsWidget->exec();
}

void VeZiRevoru::SlotTemperatureChart()
{
    if (gpSystemParam->tempChartOn() == 0) {
        warnOperator(textOf(kTextChartOff));
        return;
    }
    TemperatureChartData* data = TemperatureChartData::instance();
    if (!data->todayLoaded) {
        askOperator(textOf(kTextDataLoading), 1);
        return;
    }
    data->seriesMode = 0;
    if (!gpTemperatureChartWidget) {
        gpTemperatureChartWidget = new TemperatureChartWidget(nullptr);
        connect(this, &QObject::destroyed, [] {
            delete gpTemperatureChartWidget;
            gpTemperatureChartWidget = nullptr;
        });
    }
    gpTemperatureChartWidget->showRealTime();
    gpTemperatureChartWidget->show();
}

void VeZiRevoru::ChangeCammer()
{
    viewOffsetX = viewOffsetY = 0.0;
    viewScaleX = viewScaleY = 1.0;
    if (pCameraWgtBox) {
        pCameraWgtBox->slotChangeCameraLayout(state().shownCamera() == gCameraCount ? -1 : state().shownCamera());
    }
}

void VeZiRevoru::RestartCameras()
{
    for (int c = 0; c < gCameraCount && c < 8; ++c) {
        if (pCammer[c]) {
            pCammer[c]->RestartGrab(0);
        }
    }
}

void VeZiRevoru::CloseCameras()
{
    for (int c = 0; c < gCameraCount && c < 8; ++c) {
        if (pCammer[c]) {
            pCammer[c]->StopGrab();
            pCammer[c]->CloseCamera();
        }
    }
}

void VeZiRevoru::TimerLCD()
{
    pBacklightTimer->stop();
    setBacklight(false);
}

void VeZiRevoru::TimerLogout()
{
    pLogoutTimer->stop();
    state().setUserLevel(UserNone);
}

void VeZiRevoru::SlotDrawHint()
{
    drawHintTimer->stop();
    update();
}

bool VeZiRevoru::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (gpNumberInput && gpNumberInput->isVisible() && watched != gpNumberInput) {
            gpNumberInput->hide();
        }
        if (gpNumCharInput && gpNumCharInput->isVisible() && watched != gpNumCharInput) {
            gpNumCharInput->hide();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void VeZiRevoru::mouseReleaseEvent(QMouseEvent* event)
{
    setFocus(Qt::OtherFocusReason);
    QWidget::mouseReleaseEvent(event);
}

// Each new keypad is watched in turn, so the global never points at a
// destroyed one however often it goes.
void VeZiRevoru::OnNumberInputDestroyed()
{
    gpNumberInput = new NumberInput(nullptr);
    watchKeypads();
}

void VeZiRevoru::OnNumCharInputDestroyed()
{
    gpNumCharInput = new NumCharInput(nullptr);
    watchKeypads();
}

void VeZiRevoru::OnRecentNgImg(const QString& imgInfo)
{
    if (!pCameraWgtBox) {
        return;
    }
    const auto caption = [&imgInfo](CameraWgt_DataWidget* tile) {
        if (!tile) {
            return;
        }
        if (CameraWgt_DataWidget_Title_SetROI* title = tile->showSetROITitle()) {
            title->setText(imgInfo);
        }
    };
    if (state().shownCamera() != gCameraCount) {
        caption(pCameraWgtBox->dataWidget(state().shownCamera()));
        return;
    }
    for (CameraWgt_DataWidget* tile : pCameraWgtBox->tiles()) {
        caption(tile);
    }
}

// ---- operation log, counters and Modbus ----

OperationLog* VeZiRevoru::recordLog()
{
    if (!m_recordLog) {
        m_recordLog = new OperationLog;
        connect(this, &QObject::destroyed, [log = m_recordLog] { delete log; });
    }
    return m_recordLog;
}

QString VeZiRevoru::recordDate()
{
    return recordLog()->recordDate();
}

void VeZiRevoru::StartOperationLog()
{
    recordLog()->start();
    m_logStarted = true;
    if (!checkDateTimer) {
        checkDateTimer = new QTimer(this);
        connect(checkDateTimer, &QTimer::timeout, this, &VeZiRevoru::SlotCheckDate);
    }
    const QStringList early = m_earlyRecords;
    m_earlyRecords.clear();
    for (const QString& text : early) {
        InsertRecord(text);
    }
}

void VeZiRevoru::StartModbusServer(quint16 port, const QHostAddress& address)
{
    if (!pModbusServer) {
        pModbusServer = new ModbusServer(port, address);
        connect(pModbusServer, &ModbusServer::sigWriteChange, this,
                [this](QList<int> indexes) { SlotModbusDataChange(indexes); });
        addQuitHook(QStringLiteral("modbus server"), [server = QPointer<ModbusServer>(pModbusServer)] {
            if (server) {
                server->stop();
            }
        });
    }
    pModbusServer->setReadData(0, 1);
    pModbusServer->setReadData(2, static_cast<quint16>(gpSystemParam ? gpSystemParam->paraGroupIndex() : 0));
    PublishCounters();
}

void VeZiRevoru::InsertRecord(QString s)
{
    if (!m_logStarted) {
        m_earlyRecords.append(s);
        return;
    }
    recordLog()->insertRecord(s, state().userLevel());
}

void VeZiRevoru::ClearRecord()
{
    recordLog()->clearRecord();
}

bool VeZiRevoru::CreateRecordDB()
{
    return OperationLog::createRecordDB();
}

void VeZiRevoru::SlotCheckDate()
{
    recordLog()->checkDate();
}

void VeZiRevoru::CountWrite()
{
    writeCountFile();
}

void VeZiRevoru::CountRead()
{
    readCountFile();
}

void VeZiRevoru::PublishCounters()
{
    if (pModbusServer) {
        pModbusServer->setReadData(CounterFirstRegister, counterRegisters(gCameraCount));
    }
}

void VeZiRevoru::PublishCycleValues()
{
    if (!pModbusServer) {
        return;
    }
    QVector<quint16> registers;
    registers.reserve(2 * cycleValues.size());
    for (qint32 value : qAsConst(cycleValues)) {
        registers.append(static_cast<quint16>(static_cast<quint32>(value) >> 16));
        registers.append(static_cast<quint16>(static_cast<quint32>(value) & 0xFFFFu));
    }
    pModbusServer->setReadData(200, registers);
}

void VeZiRevoru::AppendCycleValue(int value)
{
    cycleValues.append(value);
}

void VeZiRevoru::SlotModbusDataChange(QList<int> chg_WriteData_index)
{
    ModbusDataChange::Host host;
    host.insertRecord = [this](const QString& s) { InsertRecord(s); };
    host.publishCounters = [this] { PublishCounters(); };
    host.countWrite = [this] { CountWrite(); };
    host.saveParaGroupIndex = &saveParaGroupIndex;
    host.closeDatabases = [this] { closeDatabases(); };
    host.quitEventLoop = [] { QCoreApplication::quit(); };
    host.cameraCount = gCameraCount;
    host.detectCount = gDetectCount;
    host.busy = [this] { return pCycle ? pCycle->restartRefusal() : QString(); };
    host.publishGroup = [this] {
        if (pModbusServer && gpSystemParam) {
            pModbusServer->setReadData(2, static_cast<quint16>(gpSystemParam->paraGroupIndex()));
        }
    };
    ModbusDataChange(pModbusServer, host).handle(chg_WriteData_index);
}
