#include "mouldmachine.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

constexpr int kMouldOpenEnd = 0;
constexpr int kSafetyDoor = 1;  // on: the door is closed
constexpr int kEjectorBackEnd = 2;
constexpr int kPollMs = 20;
// How often the operator tries the door before leaving it to a person.
constexpr int kDoorTries = 3;

} // namespace

MouldMachine::MouldMachine(Board board, MouldMachineOptions options, std::function<void(const std::string&)> say)
    : m_board(std::move(board))
    , m_options(std::move(options))
    , m_say(std::move(say))
{
}

std::string MouldMachine::describe(int outputs)
{
    if (outputs < 0) {
        return "no outputs from the monitor yet";
    }
    std::string text = clampAllowed(outputs) ? "clamp allowed" : "clamp WITHHELD";
    text += ejectorAllowed(outputs) ? ", ejector allowed" : ", ejector WITHHELD";
    text += alarmOn(outputs) ? ", ALARM on" : ", alarm off";
    return text;
}

void MouldMachine::watchOutputs()
{
    const int outputs = m_board.outputs();
    const int shown = outputs < 0 ? -1 : (outputs & 7);
    if (shown != m_lastShown) {
        m_lastShown = shown;
        m_say("monitor: " + describe(outputs));
    }
}

bool MouldMachine::sleepFor(int ms, const std::atomic<bool>& stop)
{
    return !waitUntil([] { return false; }, ms, stop) && !stop.load();
}

bool MouldMachine::waitUntil(const std::function<bool()>& test, int ms, const std::atomic<bool>& stop)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        watchOutputs();
        if (stop.load()) {
            return false;
        }
        if (test()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

void MouldMachine::showPart(int camera, bool left)
{
    if (camera < 0 || camera >= int(m_options.sceneFiles.size())) {
        return;
    }
    // Written whole and renamed, so the camera never reads half a file.
    const std::string& path = m_options.sceneFiles[std::size_t(camera)];
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << (left ? "1\n" : "0\n");
    }
    std::rename(temporary.c_str(), path.c_str());
}

void MouldMachine::run(const std::atomic<bool>& stop)
{
    for (std::size_t camera = 0; camera < m_options.sceneFiles.size(); ++camera) {
        showPart(int(camera), false);
    }
    m_board.setInput(kSafetyDoor, true);
    m_say("machine: safety door closed, mould closed; waiting for the monitor's clamp permission");
    if (!waitUntil([this] { return clampAllowed(m_board.outputs()); }, 24 * 3600 * 1000, stop)) {
        return;
    }
    while (!stop.load()) {
        oneCycle(stop);
    }
}

void MouldMachine::oneCycle(const std::atomic<bool>& stop)
{
    const auto cycleStart = std::chrono::steady_clock::now();
    ++m_cycle;
    const std::string cycle = "cycle " + std::to_string(m_cycle) + ": ";
    int partCamera = -1;
    bool onScreen = false;
    if (m_options.partEvery > 0 && m_cycle % m_options.partEvery == 0 && !m_options.sceneFiles.empty()) {
        partCamera = m_partsLeft++ % int(m_options.sceneFiles.size());
        onScreen = m_options.screenLiftEvery > 0 && m_partsLeft % m_options.screenLiftEvery == 0;
        showPart(partCamera, true);
        m_say("machine: " + cycle + "a part stays in a cavity (seen by camera " + std::to_string(partCamera + 1)
              + ")");
    }
    m_say("machine: " + cycle + "mould open");
    m_board.setInput(kMouldOpenEnd, true);
    if (!sleepFor(300, stop)) {
        return;
    }
    if (ejectorAllowed(m_board.outputs())) {
        m_say("machine: " + cycle + "ejector fires");
        m_board.setInput(kEjectorBackEnd, true);
        sleepFor(200, stop);
        m_board.setInput(kEjectorBackEnd, false);
    } else {
        m_say("machine: " + cycle + "ejector withheld, not fired");
    }
    // The monitor withdraws the clamp at the cycle start and grants it again
    // when the cavities are empty; a grant seen before the withdrawal is the
    // previous cycle's. A monitor busy starting up may take a while to see the
    // mould open, and the demo waits for it rather than close unseen.
    if (!waitUntil([this] { return !clampAllowed(m_board.outputs()); }, m_options.verdictTimeoutMs, stop)) {
        if (stop.load()) {
            return;
        }
        m_say("machine: " + cycle + "the monitor did not withdraw the clamp: the cycle goes on unchecked");
    }
    const auto allowed = [this] { return clampAllowed(m_board.outputs()); };
    // An alarm is the monitor's last word on this cycle: no grant follows it.
    const auto verdict = [this] { return clampAllowed(m_board.outputs()) || alarmOn(m_board.outputs()); };
    if (!waitUntil(verdict, m_options.verdictTimeoutMs, stop) || !allowed()) {
        if (stop.load()) {
            return;
        }
        m_say("machine: " + cycle + "clamp WITHHELD, the mould stays open");
        bool granted = false;
        if (partCamera >= 0) {
            granted = onScreen ? clearOnScreen(partCamera, stop) : clearByDoor(partCamera, stop);
            if (stop.load()) {
                return;
            }
        }
        if (!granted) {
            m_say("machine: " + cycle + "waiting for the operator to lift the alarm on the monitor");
            if (!waitUntil(allowed, 24 * 3600 * 1000, stop)) {
                return;
            }
        }
    }
    m_say("machine: " + cycle + "mould closes");
    m_board.setInput(kMouldOpenEnd, false);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cycleStart).count();
    sleepFor(int(std::max<long long>(m_options.periodMs - elapsed, m_options.periodMs / 3)), stop);
}

bool MouldMachine::clearByDoor(int camera, const std::atomic<bool>& stop)
{
    const auto allowed = [this] { return clampAllowed(m_board.outputs()); };
    for (int attempt = 0; attempt < kDoorTries; ++attempt) {
        if (!sleepFor(m_options.clearAfterMs, stop)) {
            return false;
        }
        m_say("operator: opens the safety door and takes the part out");
        m_board.setInput(kSafetyDoor, false);
        showPart(camera, false);
        if (!sleepFor(1500, stop)) {
            return false;
        }
        m_say("operator: closes the safety door");
        m_board.setInput(kSafetyDoor, true);
        if (waitUntil(allowed, m_options.verdictTimeoutMs, stop)) {
            return true;
        }
    }
    return false;
}

bool MouldMachine::clearOnScreen(int camera, const std::atomic<bool>& stop)
{
    const auto allowed = [this] { return clampAllowed(m_board.outputs()); };
    if (!sleepFor(m_options.clearAfterMs, stop)) {
        return false;
    }
    m_say("operator: opens the safety door and takes the part out");
    m_board.setInput(kSafetyDoor, false);
    showPart(camera, false);
    // Opening the door is what allows lifting the alarm on the screen; the
    // door stays open, so the monitor's own re-check on closing it does not
    // come first.
    m_say("operator: lifts the alarm on the monitor's screen, the safety door open");
    bool granted = waitUntil(allowed, m_options.screenWaitMs, stop);
    if (stop.load()) {
        return false;
    }
    if (!granted) {
        m_say("operator: nobody lifted the alarm on the screen");
    }
    m_say("operator: closes the safety door");
    m_board.setInput(kSafetyDoor, true);
    return granted || waitUntil(allowed, m_options.verdictTimeoutMs, stop);
}
