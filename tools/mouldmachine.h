#pragma once

// The moulding machine of the demo, as its I/O board sees it: it opens the
// mould (input 0 "mould open end"), fires the ejector (input 2 "ejector back
// end" pulsed), waits for the clamp permission and closes the mould again, one
// cycle per period. Now and then a part stays in a cavity: the machine tells
// the simulated camera to film the part (a scene file), the monitor withholds
// the clamp, and after a pause the "operator" opens the safety door (input 1
// inactive), takes the part out, and closes the door again, which is what
// makes the monitor look again.
//
// Outputs are read as the board drives them. With the factory rest levels (1)
// an energised relay grants: a set bit 0 allows the clamp, a set bit 1 the
// ejector, and a cleared bit 2 is the alarm.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct MouldMachineOptions {
    int periodMs = 5000;           // one moulding cycle
    int partEvery = 10;            // a part stays every this many cycles (0: never)
    int clearAfterMs = 6000;       // how long the part stays before the door opens
    int screenLiftEvery = 0;       // of the parts left, every this many is lifted on the screen (0: never)
    int screenWaitMs = 30000;      // how long the operator waits at the open door for that
    int verdictTimeoutMs = 8000;   // the longest wait for the clamp permission
    std::vector<std::string> sceneFiles;  // per camera: "1" films the part left
};

class MouldMachine {
public:
    struct Board {
        std::function<void(int bit, bool on)> setInput;
        // The physical output word the monitor sent last, or -1 before any.
        std::function<int()> outputs;
    };

    MouldMachine(Board board, MouldMachineOptions options, std::function<void(const std::string&)> say);

    // Runs cycles until stop is set; returns at the next wait that sees it.
    void run(const std::atomic<bool>& stop);

    // Texts of the permissions in an output word, as printed on change.
    static std::string describe(int outputs);
    static bool clampAllowed(int outputs) { return outputs >= 0 && (outputs & 1) != 0; }
    static bool ejectorAllowed(int outputs) { return outputs >= 0 && (outputs & 2) != 0; }
    static bool alarmOn(int outputs) { return outputs >= 0 && (outputs & 4) == 0; }

    // Called regularly (by run's waits, or by the caller) to print changes of
    // the permissions.
    void watchOutputs();

    int cycles() const { return m_cycle; }

private:
    bool sleepFor(int ms, const std::atomic<bool>& stop);
    // Waits until test() holds or ms pass; false on timeout or stop.
    bool waitUntil(const std::function<bool()>& test, int ms, const std::atomic<bool>& stop);
    void showPart(int camera, bool left);
    void oneCycle(const std::atomic<bool>& stop);
    // The operator's ways of lifting the alarm of a part left in a cavity;
    // true once the clamp is granted again.
    bool clearByDoor(int camera, const std::atomic<bool>& stop);
    bool clearOnScreen(int camera, const std::atomic<bool>& stop);

    Board m_board;
    MouldMachineOptions m_options;
    std::function<void(const std::string&)> m_say;
    int m_cycle = 0;
    int m_partsLeft = 0;
    int m_lastShown = -2;
};
