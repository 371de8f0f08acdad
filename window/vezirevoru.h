#pragma once

#include "edit.h"
#include "kithost.h"
#include "mainwindowhooks.h"
#include "stationhost.h"

#include <QDir>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include "cyclecontroller.h"
#include "operatingstate.h"

#include <functional>
#include <vector>

class AreaPanelHost;
class CameraInterface;
class CameraStation;
class MainScreenHost;
class SettingsHost;
class CameraWgtBox;
class CammerWidget;
class CustomIONameWidget;
class DottomDockWidget;
class DrawROIWidget;
class Edit;
class HardwareConfigurationWidget;
class HelpWidget;
class ImagePickForm;
class inputbox;
class MenuBtnWidget;
class ModbusServer;
class OperationLog;
class QTimer;
class WizardParaWidget;

// 1 when the simulated cameras replaced the real ones at start-up.
extern int gSimulatedCamera;

// Called with the number of each construction step of the main window (1 to
// 43) just before it runs. Empty in the program; tests follow the order.
extern std::function<void(int step)> gConstructionObserver;

// The full-screen main window and controller of the inspection cycle. The
// constructor brings the machine side up in a fixed order: databases,
// parameters, cameras, the I/O board link, the screens, the Modbus server, the
// picture folders, the cycle's timers and the start of detection.
class VeZiRevoru : public QWidget, public MainWindowHooks, public StationHost, public KitHost {
    Q_OBJECT
public:
    explicit VeZiRevoru(QWidget* parent = nullptr, quint16 modbusPort = 502,
                        const QHostAddress& modbusAddress = QHostAddress::Any);
    ~VeZiRevoru() override;

    // What the core's event hook, backlight switch and repaint task reach.
    QTimer* logoutTimer() override { return pLogoutTimer; }
    QTimer* backlightTimer() override { return pBacklightTimer; }
    bool isBacklightOff() const override { return backlightOff != 0; }
    void setBacklightOff(bool off) override { backlightOff = off ? 1 : 0; }
    void repaintStatus() override;

    // What the camera stations read and write (registered as their host).
    int detectRunning() override { return pCycle->curDetect; }
    QVector<QRgb> grayColourTable() override { return grayTable; }
    double panX() override { return viewOffsetX; }
    double panY() override { return viewOffsetY; }
    double zoomX() override { return viewScaleX; }
    double zoomY() override { return viewScaleY; }
    void setProbe(int x, int y) override { probeX = x; probeY = y; }
    void setProbeValue(quint32 value) override { probeValue = value; }
    void insertRecord(const QString& text) override { InsertRecord(text); }
    void appendCycleValue(int value) override { AppendCycleValue(value); }
    bool freehandDrawing() override { return freehandMode; }
    bool copyAreaArmed() override { return copyAreaMode; }
    void setCopyAreaArmed(bool on) override { copyAreaMode = on; }
    void startDrawHint(int ms) override;
    int recordPictureCount() override;
    QImage recordPicture() override;

    // What the widget kit reaches: the served touch field.
    Edit* servedEdit() const override { return pFocusEdit; }
    void setServedEdit(Edit* edit) override { pFocusEdit = edit; }

    // Child screens.
    CameraWgtBox* pCameraWgtBox = nullptr;
    CammerWidget* pCammer[8] = {};
    DottomDockWidget* pWgtDottomDock = nullptr;
    MenuBtnWidget* pMenuBtnWidget = nullptr;
    DrawROIWidget* pDrawROIWidget = nullptr;
    ImagePickForm* pImgForm = nullptr;
    ModbusServer* pModbusServer = nullptr;
    // The area panel's help screen, over the tiles; hidden until asked for.
    HelpWidget* pHelpWidget = nullptr;
    // Built once and kept hidden: the full settings screen, the I/O naming
    // dialog (its lists filled) and the hardware configuration screen.
    WizardParaWidget* pWizardParaWidget = nullptr;
    CustomIONameWidget* pCustomIONameWidget = nullptr;
    HardwareConfigurationWidget* pHardwareConfigurationWidget = nullptr;

    // The inspection cycle, made first (the fields below refer to it) and
    // given the I/O link and the stations in construction. The window keeps
    // no copy of its state: what the cycle does is read through pCycle, what
    // the screens show through state().
    CycleController* pCycle = createCycle();
    // What the machine is doing and what the operator sees: run state,
    // screen mode, cycle phase, the camera shown, the detect edited, the
    // drawing mode and the user level.
    OperatingState& state() { return pCycle->state(); }

    // State of the screens.
    QDir recordDirs[128];
    QDir resStatisticsDir;
    QDir recordDbDir;
    QTimer* drawHintTimer = nullptr;
    QTimer* pLogoutTimer = nullptr;
    QTimer* checkDateTimer = nullptr;
    QTimer* pBacklightTimer = nullptr;
    int backlightOff = 0;  // written only by setBacklight
    QVector<QRgb> grayTable;
    QPointer<Edit> pFocusEdit;  // null when the served field is gone
    bool copyAreaMode = false;
    bool freehandMode = false;
    QVector<qint32> cycleValues;  // temperatures of the last detect, for registers 200 and up
    double viewOffsetX = 0.0;
    double viewOffsetY = 0.0;
    double viewScaleX = 1.0;
    double viewScaleY = 1.0;
    int probeX = 0;
    int probeY = 0;
    quint32 probeValue = 0;

    // The drivers that opened, in camera order; they live as long as the process.
    QList<CameraInterface*> openedCameras;
    // The picture folders that could not be made (each told once).
    QStringList missingFolders;

    OperationLog* recordLog();
    QString recordDate();

    // Construction steps: RECORD.db, "./RECORD", "time.txt", the first day check
    // and the 60 s day timer.
    void StartOperationLog();
    // Construction steps: the server, its write signal, running state 1, the
    // group index and the counters in the read registers.
    void StartModbusServer(quint16 port = 502, const QHostAddress& address = QHostAddress::Any);

    // ---- Inspection cycle (window/vezirevorucycle.cpp) ---------------------
    // The cycle's work is done by CycleController over the camera stations;
    // the slots below only hand on, as the operation log's do.
    // Gives the controller the I/O link and the stations (camera order), and
    // connects the I/O thread's input signal when it runs.
    void StartCycle(const std::vector<CameraStation*>& stations);
    // Picture slots of the cameras for the detects in use, and the picture
    // folders; then the picture writer thread, started (the slots exist
    // before it runs).
    void AllocateFailImages(const std::vector<CameraStation*>& stations);
    void StartFailImageWriter();

public slots:
    void TimerUp(int k);
    void TimerShow();
    void InCheck();
    void StartDetect();
    void StopDetect();
    void SetStopDetect();
    void ResetRun();
    void SlotStartStop();
    void SlotManualTrig(int detect);
    void RunAlgorithm(int camera, int detect);
    void CheckNG(bool isClearNG = false);
    void OutTimerOutNG();
    void OutTimerNotAllowClose();
    void OutTimerNotAllowThimble();
    void SlotReTrain();
    void BackTrain();
    // ---- end of the inspection cycle --------------------------------------

public:
    // Views and screen switching.
    void SetScreenMode(int mode);
    int CheckUserLogin();
    int CheckAdminLogin();
    void RestartCameras();
    void CloseCameras();
    // Closes SN.db, PARAM.db and today's RECORD.db, in that order.
    void closeDatabases();
    // Opens area setting on the given picture source (0 the templates, 4 the
    // NG records) for the camera shown: refused while the panel is open or an
    // alarm is under review, and without operator access. True when opened.
    bool CheckArea(int source = 0);

public slots:
    // One pass of the main loop, handed to the cycle controller.
    void Run();

    // Before a restart or power-off: the three connections closed (the
    // operation log reopens its file when next written), then half a second
    // for the files to settle.
    void FLushAll();

    void SlotAdjustArea();
    // The NG record pictures of the camera shown, in the area panel.
    void SlotShowAlarmImgae();
    void SlotSystemPara();
    void SlotShowStatisticsWidget();
    void SlotTemperatureChart();
    void ChangeCammer();
    void TimerLCD();
    void TimerLogout();
    void SlotDrawHint();
    void OnNumberInputDestroyed();
    void OnNumCharInputDestroyed();
    void OnRecentNgImg(const QString& imgInfo);

    void InsertRecord(QString s);
    void ClearRecord();
    bool CreateRecordDB();
    void SlotCheckDate();
    void CountWrite();
    void CountRead();
    void PublishCounters();
    void PublishCycleValues();
    void AppendCycleValue(int value);
    void SlotModbusDataChange(QList<int> chg_WriteData_index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Builds the controller and the window's host of it (vezirevorucycle.cpp).
    CycleController* createCycle();
    void openDatabases();
    // Loads PARAM.db and SN.db again until no other program holds them.
    void waitForHeldParamFiles();
    static constexpr int kHeldParamRetryMs = 500;
    static constexpr int kHeldParamRetryBusyMs = 200;
    void openCameras();
    void askCameraQuestions();
    void makePictureFolders();
    void handOverToCycle();
    void watchKeypads();
    bool makeFolder(const QString& path);
    // The hosts of the area panel, the settings dialog and the main screen
    // (window/windowhosts.cpp); registered for the window's lifetime.
    void installHosts();
    void removeHosts();
    AreaPanelHost* m_areaPanelHost = nullptr;
    SettingsHost* m_settingsHost = nullptr;
    MainScreenHost* m_mainScreenHost = nullptr;

    OperationLog* m_recordLog = nullptr;
    // Texts for the operation log that come before it is open.
    QStringList m_earlyRecords;
    bool m_logStarted = false;
};

extern VeZiRevoru* gpVeZiRevoru;
// The shared password box (no edit flags), hidden.
extern QPointer<inputbox> gpInputbox;
