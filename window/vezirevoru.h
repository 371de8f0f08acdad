#pragma once

#include "edit.h"
#include "kithost.h"
#include "mainwindowhooks.h"
#include "stationhost.h"

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QVector>
#include <QWidget>

#include <vector>

class CameraStation;
class CycleController;
class CameraWgtBox;
class Edit;
class DottomDock_Describe_part1;
class ModbusServer;
class OperationLog;
class QTimer;

// The full-screen main window and controller of the inspection cycle.
// For now it builds only the frame that start-up, the event hook and the
// repaint task rely on: the tile box, the bottom bar's status line, the logout
// and screen-off timers, and the I/O board link.
class VeZiRevoru : public QWidget, public MainWindowHooks, public StationHost, public KitHost {
    Q_OBJECT
public:
    explicit VeZiRevoru(QWidget* parent = nullptr);
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

    // Main-window state of the cycle and the area editor.
    int curDetect = 1;   // 0 when system parameter 133 is 1 (set at start-up)
    int editDetect = 0;
    int drawMode = 0;
    QVector<QRgb> grayTable = greyRampTable();
    double viewOffsetX = 0.0;
    double viewOffsetY = 0.0;
    double viewScaleX = 1.0;
    double viewScaleY = 1.0;
    int probeX = 0;
    int probeY = 0;
    quint32 probeValue = 0;

    // What the widget kit reaches: the served touch field and the access level.
    Edit* servedEdit() const override { return pFocusEdit; }
    void setServedEdit(Edit* edit) override { pFocusEdit = edit; }
    int accessLevel() const override { return userLevel; }
    void setAccessLevel(int level) override { userLevel = level; }

    // The touch field the on-screen keyboards serve; null when it is gone.
    QPointer<Edit> pFocusEdit;

    CameraWgtBox* pCameraWgtBox = nullptr;
    QTimer* pLogoutTimer = nullptr;
    QTimer* pBacklightTimer = nullptr;
    // Not 0 while the backlight is off; written only by setBacklight.
    int backlightOff = 0;

    // Operation log, production counters and the Modbus server. The work is
    // done by OperationLog, the counter functions, ModbusServer and
    // ModbusDataChange; these members only hand it on.
    ModbusServer* pModbusServer = nullptr;
    int userLevel = 0;                // UserLevel: 0 none, 1 operator, 2 administrator
    QVector<qint32> cycleValues;      // temperatures of the last detect, for registers 200 and up
    QTimer* checkDateTimer = nullptr;
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
    CycleController* pCycle = nullptr;
    // Builds the controller over gpControlPort and the stations (camera
    // order) and connects the I/O thread's input signal when it runs.
    void StartCycle(const std::vector<CameraStation*>& stations);
    // Construction step 27: picture slots of the cameras for the detects in
    // use, and the picture folders. Step 28: the writer thread, started.
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

public slots:
    // One pass of the main loop. For now it only commits the outputs and
    // stamps the I/O link's heartbeat, then re-arms itself.
    void Run();

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

private:
    QTimer* m_runTimer = nullptr;
    DottomDock_Describe_part1* m_statusLine = nullptr;
    OperationLog* m_recordLog = nullptr;
};

extern VeZiRevoru* gpVeZiRevoru;
