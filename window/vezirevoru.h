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

#include <functional>

class CameraInterface;
class CameraWgtBox;
class CammerWidget;
class DottomDockWidget;
class DrawROIWidget;
class Edit;
class ImagePickForm;
class inputbox;
class MenuBtnWidget;
class ModbusServer;
class OperationLog;
class QTimer;

enum RunState { Detecting = 1, Sampling = 2, Stopped = 3 };
enum ScreenMode { Live = 0, ResultShown = 1, Alarm = 2, AreaSetting = 3 };
enum UserLevel { UserNone = 0, UserOperator = 1, UserAdmin = 2 };
enum DrawMode { DrawNone = 0, DrawRect = 1, DrawPolygon = 2, DrawCircle = 4 };
enum CyclePhase { Delaying = 1, Done = 2, Waiting = 3 };

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
    int detectRunning() override { return curDetect; }
    int detectEdited() override { return editDetect; }
    int editorDrawMode() override { return drawMode; }
    void setEditorDrawMode(int mode) override { drawMode = mode; }
    QVector<QRgb> grayColourTable() override { return grayTable; }
    double panX() override { return viewOffsetX; }
    double panY() override { return viewOffsetY; }
    double zoomX() override { return viewScaleX; }
    double zoomY() override { return viewScaleY; }
    void setProbe(int x, int y) override { probeX = x; probeY = y; }
    void setProbeValue(quint32 value) override { probeValue = value; }
    void insertRecord(const QString& text) override { InsertRecord(text); }
    void appendCycleValue(int value) override { AppendCycleValue(value); }
    DetectResult currentResult() override;
    void handOverResult(const DetectResult& result) override;

    // What the widget kit reaches: the served touch field and the access level.
    Edit* servedEdit() const override { return pFocusEdit; }
    void setServedEdit(Edit* edit) override { pFocusEdit = edit; }
    int accessLevel() const override { return userLevel; }
    void setAccessLevel(int level) override { userLevel = level; }

    // Child screens.
    CameraWgtBox* pCameraWgtBox = nullptr;
    CammerWidget* pCammer[8] = {};
    DottomDockWidget* pWgtDottomDock = nullptr;
    MenuBtnWidget* pMenuBtnWidget = nullptr;
    DrawROIWidget* pDrawROIWidget = nullptr;
    ImagePickForm* pImgForm = nullptr;
    ModbusServer* pModbusServer = nullptr;

    // State of the cycle and the screens.
    int curCamera = 0;
    bool noInputWarning = false;
    QDir recordDirs[128];
    QDir resStatisticsDir;
    QDir recordDbDir;
    QTimer* runTimer = nullptr;
    QTimer* showTimer = nullptr;
    QTimer* inCheckTimer = nullptr;
    QTimer* drawHintTimer = nullptr;
    QTimer* checkInputTimers[8] = {};
    QTimer* detectDelayTimers[8] = {};
    float detectDelayLeft[8] = {};
    QTimer* alarmOffTimer = nullptr;
    QTimer* aux5Timers[8] = {};
    QTimer* ngPulseTimer = nullptr;
    QTimer* clampPulseTimer = nullptr;
    QTimer* ejectorPulseTimer = nullptr;
    QTimer* pLogoutTimer = nullptr;
    QTimer* checkDateTimer = nullptr;
    QTimer* pBacklightTimer = nullptr;
    int backlightOff = 0;  // written only by setBacklight
    int manualTrigDetect = 0;
    int pendingCameras[2] = {};
    int resultState[64] = {};
    QVector<QRgb> grayTable;
    int curDetect = 1;
    int shownDetect = 0;
    int editDetect = 0;
    int drawMode = DrawNone;
    QPointer<Edit> pFocusEdit;  // null when the served field is gone
    int runState = Detecting;
    int screenMode = Live;
    int cyclePhase = Waiting;
    int userLevel = UserNone;
    int curSide = 0;
    int forcedDetect = -1;
    int doorTrigger = 0;
    bool saveOriginalImages = false;
    bool copyAreaMode = false;
    bool freehandMode = false;
    bool ngAreaOutputs[10] = {};
    int retriesLeft[2] = {};
    int recheckPending = 0;
    int cycleTime = 0;
    qint64 cycleStartStamp = 0;
    bool cycleNgCameras[8] = {};
    int pendingInput = -1;
    bool manualCycle = false;
    bool confirmedInputs[8] = {};
    bool lastCycleNg = false;
    bool camerasOnline = true;
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

    // Views and screen switching.
    void SetScreenMode(int mode);
    int CheckUserLogin();
    int CheckAdminLogin();
    void RestartCameras();
    void CloseCameras();

    // ---- cycle: members of the cycle controller (its own file) ----
    // ---- end of the cycle's members ----

public slots:
    // One pass of the main loop. For now it only commits the outputs and
    // stamps the I/O link's heartbeat, then re-arms itself.
    void Run();
    void StartDetect();

    void SlotAdjustArea();
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
    void OnIOChange();

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
    void openDatabases();
    void openCameras();
    void askCameraQuestions();
    void makePictureFolders();
    void createCycleTimers();
    void watchKeypads();
    bool makeFolder(const QString& path);
    void closeDatabases();

    OperationLog* m_recordLog = nullptr;
    // Texts for the operation log that come before it is open.
    QStringList m_earlyRecords;
    bool m_logStarted = false;
};

extern VeZiRevoru* gpVeZiRevoru;
// The shared password box (no edit flags), hidden.
extern QPointer<inputbox> gpInputbox;
