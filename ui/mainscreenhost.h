#pragma once

class QWidget;

// What the main screen's tiles and titles need of the main window beyond the
// operating state (screenState()): the detect the cycle runs, the trigger
// delays, the image browser and the dock's two commands. The main window
// implements it and registers itself; until then (and in the screen's own
// tests and tools) the screen keeps a plain state of its own, MainScreenState.
class MainScreenHost {
public:
    virtual ~MainScreenHost() = default;

    virtual int currentDetect() const = 0;
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
    int detect = 0;
    bool delayRunning[4] = {};
    double delayLeft[4] = {};
    QWidget* browser = nullptr;
    int cycle = 0;
    int reTrains = 0;
    int startStops = 0;

    int currentDetect() const override { return detect; }
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
