#include "machineoutputs.h"

#include "controlport.h"

#include <QDebug>

namespace {

constexpr int kProtective = (1 << MachineOutputs::OutClamp) | (1 << MachineOutputs::OutEjector);

const char* outputName(int output)
{
    static const char* const names[10] = {"clamp withdrawn", "ejector withdrawn", "alarm", "output 4", "output 5",
                                          "output 6",        "output 7",          "output 8", "output 9", "output 10"};
    return output >= 0 && output < 10 ? names[output] : "?";
}

} // namespace

const char* outputReasonName(OutputReason why)
{
    switch (why) {
    case OutputReason::Startup: return "start-up";
    case OutputReason::CycleStart: return "cycle start";
    case OutputReason::SecondStage: return "second stage";
    case OutputReason::PreCut: return "pre-cut before the cavity inspection";
    case OutputReason::Ng: return "NG";
    case OutputReason::FinalNg: return "final NG";
    case OutputReason::Pass: return "passing evaluation";
    case OutputReason::ReCheck: return "re-check";
    case OutputReason::NoInput: return "no input signal";
    case OutputReason::CameraLost: return "camera lost";
    case OutputReason::LinkLost: return "board link lost";
    case OutputReason::OperatorStart: return "operator start";
    case OutputReason::OperatorStop: return "operator stop";
    case OutputReason::Sampling: return "template sampling";
    case OutputReason::ReviewEnd: return "template review ended";
    case OutputReason::ResultPulse: return "result pulse";
    case OutputReason::PulseEnd: return "pulse end";
    case OutputReason::AuxDelay: return "output-5 delay";
    case OutputReason::DoorOpened: return "safety door opened";
    case OutputReason::PanelCommand: return "area panel command";
    case OutputReason::ManualTrigger: return "manual trigger";
    case OutputReason::TempAlarm: return "temperature alarm";
    case OutputReason::Quit: return "quit";
    }
    return "?";
}

MachineOutputs::MachineOutputs(ControlPort* port)
{
    setPort(port);
}

MachineOutputs::~MachineOutputs()
{
    if (m_port) {
        m_port->setQuitWord(nullptr);
    }
}

void MachineOutputs::setPort(ControlPort* port)
{
    if (m_port == port) {
        return;
    }
    if (m_port) {
        m_port->setQuitWord(nullptr);
    }
    m_port = port;
    m_published = -1;
    if (m_port) {
        m_port->setQuitWord([this] { publishQuitWord(); });
    }
}

void MachineOutputs::set(int output, bool on, OutputReason why)
{
    if (output < 0 || output > 9) {
        qWarning() << "MachineOutputs::set: no output" << output;
        return;
    }
    const int bit = 1 << output;
    if (((m_logical & bit) != 0) == on) {
        return;
    }
    m_logical = on ? (m_logical | bit) : (m_logical & ~bit);
    qInfo().noquote() << QStringLiteral("outputs: %1 %2 (%3)")
                             .arg(QLatin1String(outputName(output)), on ? QLatin1String("on") : QLatin1String("off"),
                                  QLatin1String(outputReasonName(why)));
}

void MachineOutputs::rest(OutputReason why)
{
    for (int i = 0; i <= 9; ++i) {
        set(i, false, why);
    }
}

int MachineOutputs::effective() const
{
    int word = m_logical;
    if (m_alarm || m_cameraHold) {
        word |= kProtective;
    }
    if (m_alarm && !m_silenced) {
        word |= 1 << OutAlarmBit;
    }
    return word;
}

void MachineOutputs::commit()
{
    int word = effective();
    if (m_depth > 0 && m_published >= 0) {
        // Grants and the alarm's end wait for the end of the pass: what is
        // withdrawn on the line now stays withdrawn until then.
        const int held = m_published & (kProtective | (1 << OutAlarmBit));
        word |= held;
    }
    publish(word);
}

void MachineOutputs::publish(int word)
{
    if (word == m_published) {
        return;
    }
    m_published = word;
    if (m_port) {
        for (int i = 0; i <= 9; ++i) {
            m_port->setOutput(i, (word >> i) & 1);
        }
        m_port->commitOutputs();
    }
    if (published) {
        published(word);
    }
}

void MachineOutputs::raiseAlarm(OutputReason why)
{
    if (!m_alarm) {
        qWarning().noquote() << QStringLiteral("outputs: alarm stands (%1)").arg(QLatin1String(outputReasonName(why)));
    }
    m_alarm = true;
    m_silenced = false;
    set(OutAlarmBit, true, why);
}

void MachineOutputs::endAlarm(OutputReason why)
{
    if (m_alarm) {
        qInfo().noquote() << QStringLiteral("outputs: alarm ended (%1)").arg(QLatin1String(outputReasonName(why)));
    }
    m_alarm = false;
    m_silenced = false;
}

void MachineOutputs::silenceAlarm(OutputReason why)
{
    if (m_alarm && !m_silenced) {
        qInfo().noquote() << QStringLiteral("outputs: alarm output silenced (%1)")
                                 .arg(QLatin1String(outputReasonName(why)));
    }
    m_silenced = m_alarm;
    set(OutAlarmBit, false, why);
}

void MachineOutputs::holdForCamera(bool on, OutputReason why)
{
    if (on != m_cameraHold) {
        qInfo().noquote() << QStringLiteral("outputs: camera hold %1 (%2)")
                                 .arg(on ? QLatin1String("on") : QLatin1String("off"),
                                      QLatin1String(outputReasonName(why)));
    }
    m_cameraHold = on;
}

MachineOutputs::Pass::Pass(MachineOutputs& outputs) : m_outputs(outputs)
{
    ++m_outputs.m_depth;
}

MachineOutputs::Pass::~Pass()
{
    if (--m_outputs.m_depth == 0) {
        m_outputs.publish(m_outputs.effective());
    }
}

void MachineOutputs::publishQuitWord()
{
    // Rest, but what is withdrawn now stays withdrawn, and a standing alarm
    // keeps sounding: the machine is not freed by the monitor leaving.
    const int now = m_published >= 0 ? m_published : effective();
    int word = now & kProtective;
    if (m_alarm) {
        word |= kProtective | (m_silenced ? 0 : 1 << OutAlarmBit);
    }
    if (word != 0) {
        qWarning().noquote() << QStringLiteral("outputs: at quit the clamp stays %1, the ejector %2")
                                    .arg(word & 1 ? QLatin1String("withdrawn") : QLatin1String("granted"),
                                         word & 2 ? QLatin1String("withdrawn") : QLatin1String("granted"));
    }
    m_logical = word;
    m_depth = 0;
    publish(word);
}
