#pragma once

#include "machineoutputs.h"
#include "operatingstate.h"
#include "systemcounts.h"

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

class CameraStation;
class InspectionPool;

// One row of a camera tile's result table (the tile's CameraReportForm_Item):
// an area of the current detect.
struct CycleReportRow {
    qint32 index = 0;
    QString toolName;
    double lower = 0;
    double upper = 0;
    double value = 0;
    bool ok = false;
};
class ControlPort;
class QTimer;
class SystemParam;

// What the cycle needs from the screens, the records and the Modbus server.
// The main window implements it; tests give a double that records the calls.
// Every default does nothing, so a double only overrides what it watches.
class CycleHost {
public:
    virtual ~CycleHost() = default;

    // The shared non-modal warning box.
    virtual void showWarning(const QString&) {}
    virtual void hideWarning() {}
    virtual void insertRecord(const QString&) {}
    virtual void setReadData(int /*reg*/, int /*value*/) {}
    virtual void publishCounters() {}
    virtual void publishCycleValues() {}
    virtual void clearCycleValues() {}
    // "count.txt"; false when it could not be written.
    virtual bool countWrite() { return true; }
    // Production day check and the cycle's round start in the records.
    virtual void checkDayChange() {}
    virtual void stampRoundStart() {}
    virtual void addStatistics(int /*hour*/, int /*ok*/, int /*camera*/, int /*detect*/) {}
    // The alarm review: screens switched to and from it.
    virtual void enterAlarmScreen(int /*curCamera*/) {}
    virtual void leaveAlarmScreen(int /*curCamera*/) {}
    // The area panel's re-check (inspect the alarm pictures again). Without a
    // panel the controller's own re-check runs (CycleController::ReCheck).
    virtual bool panelReCheck() { return false; }
    virtual bool areaPanelVisible() { return false; }
    virtual void enterSamplingReview() {}
    virtual void tempDeleteAll() {}
    virtual void saveCameraSerials() {}
    virtual void setBacklightOn() {}
    virtual void repaint() {}
    virtual void updateReportForms() {}
    // Access check (0: refused) and the operator's question (true: confirmed).
    virtual int checkUserLogin() { return 1; }
    virtual bool ask(const QString&) { return true; }
    virtual void warnModal(const QString&) {}
    virtual bool passwordBox() { return true; }
    // Pictures: compose into the slot; add the note of the picture state
    // (the controller advances the state itself).
    virtual void saveFailImage(int /*camera*/, int /*detect*/, int /*kind*/) {}
    virtual void updateFailImage(int /*camera*/, int /*detect*/, int /*kind*/, int /*state*/) {}
    // Raw frame of the station: true when written.
    virtual bool saveRawFrame(int /*camera*/, int /*detect*/) { return true; }
};

// The inspection cycle: the main loop pass, the detect delays, the evaluation
// of every detect over all cameras, the machine permissions and the result
// pulses. The main window's slots are thin delegates to it. GUI thread only.
//
// The machine permissions are the point of it all: a part left in the mould
// must stop the mould from closing on every path, so every path that can
// grant the clamp goes through a passing cavity evaluation of the cycle.
class CycleController : public QObject {
    Q_OBJECT
public:
    CycleController(ControlPort* port, CycleHost* host, QObject* parent = nullptr);
    ~CycleController() override;

    // The I/O link, when it is made after the controller (the main window
    // builds the controller first, the link in a later construction step).
    void setPort(ControlPort* port);

    // What the machine is doing and what the operator sees; the screens
    // follow it.
    OperatingState& state() { return m_state; }
    const OperatingState& state() const { return m_state; }
    RunState runState() const { return m_state.runState(); }
    ScreenMode screenMode() const { return m_state.screenMode(); }
    CyclePhase cyclePhase() const { return m_state.cyclePhase(); }
    // The camera shown alone, or the camera count while all are shown.
    int curCamera() const { return m_state.shownCamera(); }

    // The one writer of the machine outputs.
    MachineOutputs& outputs() { return m_outputs; }
    const MachineOutputs& outputs() const { return m_outputs; }

    // Why the program may not restart now (an alarm stands, a camera is
    // lost, a moulding cycle is between its start and its verdict); empty
    // when it may. A new instance starts with the outputs at rest and knows
    // nothing of what this one holds back.
    QString restartRefusal() const;

    // The board link went down or came back. While it is down a cycle start
    // may be missed: the clamp (and the ejector where the product result
    // governs it) is withdrawn and stays so until a passing evaluation.
    void linkStateChanged(bool up);

    // Milliseconds a streaming camera may go without a new frame beyond its
    // frame interval before it counts as lost.
    static constexpr int kFrameMarginMs = 1000;

    // The camera stations in camera order (not owned).
    std::vector<CameraStation*> stations;
    // Inspects one station for one detect (align, locate, display copy,
    // judge). The default runs the station's engine; tests replace it. It may
    // run on a worker of the pool: then it must touch nothing but the station
    // and reach the rest only through the station's data.peers.
    std::function<void(CameraStation&, int detect)> inspect;
    // Whether a station can deliver frames now.
    std::function<bool(CameraStation&)> stationOnline;
    // Retrains the engine of a station for a detect.
    std::function<void(CameraStation&, int detect)> retrain;

    // Main-window state of the cycle.
    bool confirmedInputs[8] = {};
    int pendingInput = -1;
    double detectDelayLeft[DetectsPerCamera] = {};
    int pendingCameras[2] = {};
    int resultState[MaxCameras][DetectsPerCamera] = {};
    int retriesLeft[2] = {};
    int recheckPending = 0;
    int curDetect = 1;
    int shownDetect = 0;
    int curSide = 0;
    int forcedDetect = -1;
    int manualTrigDetect = 0;
    bool manualCycle = false;
    int doorTrigger = 0;
    qint64 cycleTime = 0;
    qint64 cycleStartStamp = 0;
    bool cycleNgCameras[MaxCameras] = {};
    int ngAreaOutputs[10] = {};
    bool noInputWarning = false;
    bool camerasOnline = true;
    bool lastCycleNg = false;
    bool saveOriginalImages = false;

    QTimer* runTimer = nullptr;
    QTimer* checkInputTimers[8] = {};
    QTimer* detectDelayTimers[DetectsPerCamera] = {};
    QTimer* showTimer = nullptr;
    QTimer* inCheckTimer = nullptr;
    QTimer* aux5Timers[2] = {};
    QTimer* alarmOffTimer = nullptr;
    QTimer* ngPulseTimer = nullptr;
    QTimer* clampPulseTimer = nullptr;
    QTimer* ejectorPulseTimer = nullptr;

    // Called whenever the current detect changes (the tiles and the stations
    // read it from the main window).
    std::function<void(int detect)> detectChanged;
    // The result table of a camera for the current detect.
    std::vector<CycleReportRow> reportItems(int camera) const;

    // The detect that detect-timer k runs now.
    int detectOfTimer(int k) const;
    int cameraCount() const { return int(stations.size()); }

    // Workers that judge the cameras of a detect side by side: one per core,
    // capped at the camera count (InspectionPool::defaultWorkers) unless set.
    // 1 judges them one after the other on the GUI thread.
    void setWorkers(int workers);
    int workers() const;
    // Ends and joins the workers (the program's quit); later detects are
    // judged on the GUI thread.
    void stopWorkers();

    // RunAlgorithm for each camera of the list: the cameras are judged side
    // by side, and their log lines, records and outputs applied on the GUI
    // thread in the list's order, exactly as RunAlgorithm one after the other
    // would. Sampling is always one after the other.
    void RunAlgorithms(const std::vector<int>& cameras, int detect);

public slots:
    void Run();
    void OnIOChange();
    void TimerCheckInput(int i);
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
    // End of the temperature alarm's pulse (system parameter 148).
    void OutTimerAlarmOff();
    void SlotReTrain();
    void BackTrain();
    // The area panel's re-check as the main loop needs it (alarm pictures
    // inspected again, state 3 noted as 7 first); the real panel may replace it.
    void ReCheck();

private:
    const SystemParam& P() const;
    bool detectEnabled(int d) const;
    bool isCycleStart(int p) const;
    bool isSecondStage(int p);
    bool triggerMatches(int k, int p) const;
    void cycleStamp();
    void cycleStart(int p);
    void secondStage(int p);
    // False when the pass ended in Stopped (a final NG).
    bool detectStart(int p);
    void endPass();
    void setOut(int output, int on, OutputReason why);
    void commit();
    // The detect that a trigger of detect-timer k may run: the one the timer
    // runs now, or on a two-sided machine the other side's when only that one
    // is enabled; -1 when neither is enabled.
    int enabledDetectOfTimer(int k);
    // Withdraws what a cycle start withdraws when a start may have been
    // missed (camera or link lost).
    void withdrawForUnjudgedCycle(OutputReason why);

    void startMs(QTimer* timer, qint64 ms);
    void handlePictures(int g, bool anyNg);
    void handOver(bool anyNg);
    void setCurDetect(int detect);
    // Adds the note of the state to the picture; returns the next state.
    int noteState(int camera, int detect, int kind, int state);
    // RunAlgorithm in steps. beginJudge: everything before the engine (the
    // pending bit, the raw frame, a sample in sampling); Done when the camera
    // is not judged. A skipped raw frame's line goes to rawLine when given
    // (to be logged at the camera's turn), else to the log at once.
    // judgeOffline: the verdict on a station without its camera.
    // judgeFailed: the verdict on a camera whose engine threw. finishJudge:
    // what the camera's result does to the outputs.
    enum class Begin { Judge, Done };
    Begin beginJudge(int camera, int detect, QString* rawLine);
    void judgeOffline(int camera);
    void judgeFailed(int camera, const std::exception_ptr& error);
    void finishJudge(int camera, int detect);
    // Whether the camera's engine may judge on a worker for this detect.
    bool poolable(const CameraStation& st, int detect) const;
    void judgeAfterSampling(const std::vector<int>& cameras, int d);
    InspectionPool* pool();

    ControlPort* m_port;
    CycleHost* m_host;
    OperatingState m_state;
    MachineOutputs m_outputs;
    // A moulding cycle started during the template review: judged before the
    // review's end grants anything.
    bool m_cycleDuringReview = false;
    // Sampling ended without a review: the detect is judged for real.
    bool m_judgeAfterSampling = false;
    bool m_linkUp = true;
    // Cameras lost since their last passing inspection (bit per camera).
    unsigned m_lostStations = 0;
    // This cycle's product was found good (or no product detect is due).
    bool m_productPassed = true;
    // A product NG holds the ejector withdrawn as its reject signal (152):
    // until the pulse's end, or the next cycle start when it has no length.
    bool m_ngPulseHeld = false;
    // When each detect-timer's delay began, and while a detect is judged the
    // moment its frames must be newer than (-1: now).
    qint64 m_delayStartMs[DetectsPerCamera] = {};
    // The detect each delay was started for: a side switched meanwhile (its
    // own detect switched off) does not change what the running delay judges.
    int m_timerDetect[DetectsPerCamera] = {-1, -1, -1, -1, -1, -1, -1, -1};
    qint64 m_judgeSinceMs = -1;
    CycleHost m_noHost;
    // Raw frames are skipped while the disk is short; told once per outage.
    bool m_rawSkipped = false;
    int m_workers = 0; // 0: not set, follow the cores
    std::unique_ptr<InspectionPool> m_pool;
    bool m_quitHooked = false;
};

extern int gRunPassCount;
extern int gLastDetectDelay;
extern unsigned char gRetrainPending;
extern unsigned char gAutoUpdatePending;
extern int gSamplingReview;
extern const int gNgAreaOutputMap[10];

// Text numbers of the cycle's own messages.
namespace CycleText {
constexpr int CameraLost = 39;
constexpr int NoInput = 335;
constexpr int AlarmCamera = 151;
constexpr int AlarmSuffix = 152;
constexpr int Resample = 137;
constexpr int Resampling = 139;
// A station that could not deliver a frame for the inspection: judged NG.
constexpr int StationOffline = 657;
// Pictures cannot be written into a folder (%1).
constexpr int PictureFolderFailed = 658;
// Raw frames skipped while the disk is short.
constexpr int RawFramesSkipped = 659;
constexpr int ProductDetectOff = 118;
constexpr int StopQuestion = 660;
constexpr int StartedByHand = 661;
constexpr int StoppedByHand = 662;
// A re-check that inspected no camera.
constexpr int NothingChecked = 699;
// An engine failed: %1 the camera, %2 why.
constexpr int InspectionFailed = 700;
// A streaming camera delivers no new frames (%1 the camera).
constexpr int StreamStalled = 701;
// The plant's parameter-group switch refused (%1 the group).
constexpr int GroupSwitchRefused = 702;
// A cycle started during the template review.
constexpr int CycleDuringReview = 703;
}
