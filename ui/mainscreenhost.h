#pragma once

class QWidget;

// What the main screen's tiles and titles read of the main window: the cycle's
// run state and phase, the detects, the shown camera, the screen mode, the
// trigger delays and the image browser. The main window implements it and
// registers itself; until then (and in the screen's own tests and tools) the
// screen keeps a plain state of its own, MainScreenState.
class MainScreenHost {
public:
    virtual ~MainScreenHost() = default;

    // RunState: 2 sampling, 3 stopped, anything else running.
    virtual int runState() const = 0;
    // 1 detecting, 2 detected, 3 waiting.
    virtual int cyclePhase() const = 0;
    virtual int currentDetect() const = 0;
    virtual int editedDetect() const = 0;
    // The camera shown alone, or gCameraCount when all are shown.
    virtual int currentCamera() const = 0;
    virtual void setCurrentCamera(int camera) = 0;
    // ScreenMode: 0 live, 1 result shown, 2 alarm review, 3 area setting.
    virtual int screenMode() const = 0;
    // Whether the trigger delay of a detect runs, and its seconds left.
    virtual bool detectDelayRunning(int detect) const = 0;
    virtual double detectDelayLeft(int detect) const = 0;
    // The image browser the area-setting title's camera label opens; may be null.
    virtual QWidget* imageBrowser() const = 0;
    // The last cycle's length in tenths of a second.
    virtual int cycleTime() const = 0;
    // The dock's buttons: template re-sampling and start/stop of detection
    // (each asks the operator first).
    virtual void reTrain() = 0;
    virtual void startStop() = 0;
};

// The plain state kept when no main window is registered.
class MainScreenState : public MainScreenHost {
public:
    int run = 0;
    int phase = 0;
    int detect = 0;
    int edited = 0;
    int camera = 0;
    int mode = 0;
    bool delayRunning[4] = {};
    double delayLeft[4] = {};
    QWidget* browser = nullptr;
    int cycle = 0;
    int reTrains = 0;
    int startStops = 0;

    int runState() const override { return run; }
    int cyclePhase() const override { return phase; }
    int currentDetect() const override { return detect; }
    int editedDetect() const override { return edited; }
    int currentCamera() const override { return camera; }
    void setCurrentCamera(int value) override { camera = value; }
    int screenMode() const override { return mode; }
    bool detectDelayRunning(int d) const override { return d >= 0 && d < 4 && delayRunning[d]; }
    double detectDelayLeft(int d) const override { return d >= 0 && d < 4 ? delayLeft[d] : 0.0; }
    QWidget* imageBrowser() const override { return browser; }
    int cycleTime() const override { return cycle; }
    void reTrain() override { ++reTrains; }
    void startStop() override { ++startStops; }
};

// The registered host, or the screen's own state when none is registered.
MainScreenHost* mainScreenHost();
// The screen's own state (what mainScreenHost() gives while none is registered).
MainScreenState* ownMainScreenState();
void setMainScreenHost(MainScreenHost* host);
// Clears the registration only if it is still this one's.
void clearMainScreenHost(MainScreenHost* host);
