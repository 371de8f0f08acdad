// The demo's moulding machine against a small stand-in monitor that answers
// its inputs at once: the machine must never close the mould while the clamp
// is withheld, must leave a part in a cavity every N cycles (cameras in
// turn), and must clear it only by opening the safety door, so the monitor's
// door re-check lifts the alarm and the cycles go on. A part whose alarm the
// operator lifts on the screen is taken out with the door kept open until
// then, so the monitor's re-check on closing the door does not come first.

#include "mouldmachine.h"
#include "testworkdir.h"

#include <QtTest>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

// Outputs as the board drives them with the factory rest levels: a set bit
// grants, a cleared bit 2 is the alarm.
constexpr int kGranted = 0x3FF;

class StandInMonitor {
public:
    explicit StandInMonitor(std::vector<std::string> scenes)
        : m_scenes(std::move(scenes))
    {
    }

    void setInput(int bit, bool on)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool was = m_inputs[bit];
        m_inputs[bit] = on;
        if (bit == 0 && on && !was) {  // mould open: a cycle starts
            ++m_opens;
            m_partAtOpen.push_back(partCamera());
            m_outputs &= ~1;
        } else if (bit == 0 && !on && was && !(m_outputs & 1)) {
            ++m_closedWhileWithheld;
        } else if (bit == 2 && !on && was && !m_alarm) {  // ejector back: the cavity inspection
            judge();
        } else if (bit == 1 && !on && was) {  // door opened: the alarm output drops
            m_doorOpenedInAlarm += m_alarm ? 1 : 0;
            m_doorOpenedOutsideAlarm += m_alarm ? 0 : 1;
            m_outputs |= 4;
        } else if (bit == 1 && on && !was && m_alarm) {  // door closed: re-check
            ++m_doorClosedInAlarm;
            judge();
        }
    }

    // The operator's command on the screen: refused until the door was
    // opened in this alarm, as the door rule does.
    void liftOnScreen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_alarm && m_inputs[1] == false) {
            ++m_screenLifts;
            m_alarm = false;
            m_outputs = kGranted;
        }
    }

    int outputs()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_outputs;
    }

    std::mutex m_mutex;
    int m_opens = 0;
    int m_closedWhileWithheld = 0;
    int m_doorOpenedInAlarm = 0;
    int m_doorOpenedOutsideAlarm = 0;
    int m_alarmsLifted = 0;
    int m_doorClosedInAlarm = 0;
    int m_screenLifts = 0;
    std::vector<int> m_partAtOpen;

private:
    int partCamera() const
    {
        for (std::size_t c = 0; c < m_scenes.size(); ++c) {
            std::ifstream in(m_scenes[c]);
            int value = 0;
            if (in >> value && value == 1) {
                return int(c);
            }
        }
        return -1;
    }

    void judge()
    {
        if (partCamera() >= 0) {
            m_alarm = true;
            m_outputs &= ~(1 | 4);
        } else {
            m_alarmsLifted += m_alarm ? 1 : 0;
            m_alarm = false;
            m_outputs = kGranted;
        }
    }

    const std::vector<std::string> m_scenes;
    bool m_inputs[10] = {};
    bool m_alarm = false;
    int m_outputs = kGranted;
};

} // namespace

class TestMouldMachine : public QObject {
    Q_OBJECT

private slots:
    void partsStayAndTheDoorClearsThem();
    void theOperatorLiftsOnTheScreen_data();
    void theOperatorLiftsOnTheScreen();
    void describesThePermissions_data();
    void describesThePermissions();
};

void TestMouldMachine::partsStayAndTheDoorClearsThem()
{
    TestWorkDir dir;
    MouldMachineOptions options;
    options.periodMs = 600;
    options.partEvery = 2;
    options.clearAfterMs = 50;
    options.verdictTimeoutMs = 400;
    options.sceneFiles = {dir.path().toStdString() + "/camera1.txt", dir.path().toStdString() + "/camera2.txt"};
    StandInMonitor monitor(options.sceneFiles);
    MouldMachine::Board board;
    board.setInput = [&monitor](int bit, bool on) { monitor.setInput(bit, on); };
    board.outputs = [&monitor] { return monitor.outputs(); };
    std::vector<std::string> said;
    std::mutex saidMutex;
    std::atomic<bool> stop{false};
    std::thread machine([&] {
        MouldMachine(board, options, [&](const std::string& text) {
            std::lock_guard<std::mutex> lock(saidMutex);
            said.push_back(text);
        }).run(stop);
    });
    const bool enough = QTest::qWaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(monitor.m_mutex);
            return monitor.m_opens >= 5;
        },
        60000);
    stop = true;
    machine.join();
    QVERIFY(enough);

    std::lock_guard<std::mutex> lock(monitor.m_mutex);
    QCOMPARE(monitor.m_closedWhileWithheld, 0);
    // Parts in cycles 2 and 4, in cameras 1 and 2; none elsewhere.
    const std::vector<int> expected{-1, 0, -1, 1, -1};
    QCOMPARE(std::vector<int>(monitor.m_partAtOpen.begin(), monitor.m_partAtOpen.begin() + 5), expected);
    QCOMPARE(monitor.m_alarmsLifted, 2);
    QCOMPARE(monitor.m_doorOpenedInAlarm, 2);
    QCOMPARE(monitor.m_doorOpenedOutsideAlarm, 0);
    std::lock_guard<std::mutex> saidLock(saidMutex);
    QVERIFY(std::count(said.begin(), said.end(), "monitor: clamp WITHHELD, ejector allowed, ALARM on") >= 2);
}

void TestMouldMachine::theOperatorLiftsOnTheScreen_data()
{
    QTest::addColumn<bool>("operatorAtScreen");
    QTest::newRow("lifted on the screen") << true;
    // Nobody touches the screen: the door closes after the wait and the
    // re-check lifts the alarm, so the demo goes on.
    QTest::newRow("nobody at the screen") << false;
}

void TestMouldMachine::theOperatorLiftsOnTheScreen()
{
    QFETCH(bool, operatorAtScreen);
    TestWorkDir dir;
    MouldMachineOptions options;
    options.periodMs = 600;
    options.partEvery = 2;
    options.clearAfterMs = 50;
    options.screenLiftEvery = 2;
    options.screenWaitMs = 300;
    options.verdictTimeoutMs = 400;
    options.sceneFiles = {dir.path().toStdString() + "/camera1.txt", dir.path().toStdString() + "/camera2.txt"};
    StandInMonitor monitor(options.sceneFiles);
    MouldMachine::Board board;
    board.setInput = [&monitor](int bit, bool on) { monitor.setInput(bit, on); };
    board.outputs = [&monitor] { return monitor.outputs(); };
    std::vector<std::string> said;
    std::mutex saidMutex;
    std::atomic<bool> stop{false};
    std::thread machine([&] {
        MouldMachine(board, options, [&](const std::string& text) {
            {
                std::lock_guard<std::mutex> lock(saidMutex);
                said.push_back(text);
            }
            if (operatorAtScreen && text == "operator: lifts the alarm on the monitor's screen, the safety door open") {
                monitor.liftOnScreen();
            }
        }).run(stop);
    });
    const bool enough = QTest::qWaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(monitor.m_mutex);
            return monitor.m_opens >= 5;
        },
        60000);
    stop = true;
    machine.join();
    QVERIFY(enough);

    std::lock_guard<std::mutex> lock(monitor.m_mutex);
    QCOMPARE(monitor.m_closedWhileWithheld, 0);
    // The part of cycle 2 goes by the door, the one of cycle 4 on the screen
    // (or, with nobody there, by the door after the wait); both are taken out.
    const std::vector<int> expected{-1, 0, -1, 1, -1};
    QCOMPARE(std::vector<int>(monitor.m_partAtOpen.begin(), monitor.m_partAtOpen.begin() + 5), expected);
    QCOMPARE(monitor.m_screenLifts, operatorAtScreen ? 1 : 0);
    QCOMPARE(monitor.m_doorClosedInAlarm, operatorAtScreen ? 1 : 2);
    QCOMPARE(monitor.m_alarmsLifted, operatorAtScreen ? 1 : 2);
    std::lock_guard<std::mutex> saidLock(saidMutex);
    QCOMPARE(std::count(said.begin(), said.end(), "operator: nobody lifted the alarm on the screen"),
             operatorAtScreen ? 0L : 1L);
}

void TestMouldMachine::describesThePermissions_data()
{
    QTest::addColumn<int>("outputs");
    QTest::addColumn<QString>("text");
    QTest::newRow("before any") << -1 << "no outputs from the monitor yet";
    QTest::newRow("all granted") << 0x3FF << "clamp allowed, ejector allowed, alarm off";
    QTest::newRow("alarm") << 0x3FA << "clamp WITHHELD, ejector allowed, ALARM on";
    QTest::newRow("ejector cut") << 0x3FD << "clamp allowed, ejector WITHHELD, alarm off";
}

void TestMouldMachine::describesThePermissions()
{
    QFETCH(int, outputs);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(MouldMachine::describe(outputs)), text);
}

QTEST_GUILESS_MAIN(TestMouldMachine)
#include "tst_mouldmachine.moc"
