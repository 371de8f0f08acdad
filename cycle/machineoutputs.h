#pragma once

#include <QPointer>
#include <QString>

#include <functional>

#include "controlport.h"

// Why an output changed; written to the program log with every change.
enum class OutputReason : unsigned char {
    Startup,
    CycleStart,
    SecondStage,
    PreCut,
    Ng,
    FinalNg,
    Pass,
    ReCheck,
    NoInput,
    CameraLost,
    LinkLost,
    OperatorStart,
    OperatorStop,
    Sampling,
    ReviewEnd,
    ResultPulse,
    PulseEnd,
    AuxDelay,
    DoorOpened,
    PanelCommand,
    ManualTrigger,
    TempAlarm,
    Quit,
};
const char* outputReasonName(OutputReason why);

// The one writer of the machine outputs. Every grant and withdrawal of the
// clamp and the ejector, the alarm and the result pulses of the cycle come
// here with their reason; the word reaches the I/O link only from here.
//
// It fails to the safe side like a safety relay:
// - while an alarm stands, or a camera is lost, the clamp and the ejector stay
//   withdrawn whatever the cycle asks, and the alarm output stays on until the
//   alarm ends or the operator silences it (opening the safety door, choosing
//   another picture in the alarm review); no timer switches it off;
// - inside a pass (one main-loop pass, one timer slot, one operator command)
//   a withdrawal goes to the board at once, but a grant waits for the end of
//   the outermost pass, so a pass that withdraws and grants again never puts
//   a short-lived grant on the line;
// - at quit the outputs go to rest, except that a withdrawn clamp or ejector
//   stays withdrawn: leaving never grants what the cycle was holding back.
//
// Outputs are logical as in ControlPort (on withdraws a permission, on is the
// alarm); the port turns them into the board's levels. GUI thread only.
class MachineOutputs {
public:
    explicit MachineOutputs(ControlPort* port = nullptr);
    ~MachineOutputs();
    MachineOutputs(const MachineOutputs&) = delete;
    MachineOutputs& operator=(const MachineOutputs&) = delete;

    void setPort(ControlPort* port);
    ControlPort* port() const { return m_port.data(); }

    // Switches an output logically; it reaches the board at the next commit.
    void set(int output, bool on, OutputReason why);
    void withdrawClamp(OutputReason why) { set(OutClamp, true, why); }
    void grantClamp(OutputReason why) { set(OutClamp, false, why); }
    void withdrawEjector(OutputReason why) { set(OutEjector, true, why); }
    void grantEjector(OutputReason why) { set(OutEjector, false, why); }
    // Every output to its rest level (logically off).
    void rest(OutputReason why);
    // Hands the word to the I/O link (withdrawals at once, grants at the end
    // of the outermost pass).
    void commit();
    // The cycle's wanted logical state of an output, before the holds.
    bool wanted(int output) const { return (m_logical >> output) & 1; }
    // What the board is told now (logical, holds applied).
    int publishedLogical() const { return m_published; }

    // A standing alarm: clamp and ejector withdrawn, alarm output on.
    void raiseAlarm(OutputReason why);
    // Only a passing evaluation or an operator's command ends it.
    void endAlarm(OutputReason why);
    bool alarmStanding() const { return m_alarm; }
    // The operator silences the alarm output; the alarm still stands.
    void silenceAlarm(OutputReason why);
    // A camera cannot deliver frames: clamp and ejector held withdrawn until
    // released (by the next passing evaluation after the camera is back).
    void holdForCamera(bool on, OutputReason why);
    bool cameraHeld() const { return m_cameraHold; }

    // Scope of a pass; passes nest.
    class Pass {
    public:
        explicit Pass(MachineOutputs& outputs);
        ~Pass();
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

    private:
        MachineOutputs& m_outputs;
    };

    // The last word before the link stops (the quit work of the port).
    void publishQuitWord();

    // Called with every logical word handed to the port (tests watch it).
    std::function<void(int logicalWord)> published;

    static constexpr int OutClamp = 0;
    static constexpr int OutEjector = 1;
    static constexpr int OutAlarmBit = 2;

private:
    int effective() const;
    void publish(int word);

    // The port may go before its writer (tests tear down in any order).
    QPointer<ControlPort> m_port;
    int m_logical = 0;
    int m_published = -1;
    int m_depth = 0;
    bool m_alarm = false;
    bool m_silenced = false;
    bool m_cameraHold = false;
};
