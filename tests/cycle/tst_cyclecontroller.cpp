// The inspection cycle over the real logical I/O and camera stations on
// simulated devices; the inspection's verdicts come from a script, so every
// sequence of results can be played against every result mode. The machine
// permissions are watched at every change of the published output word.

#include "cyclecontroller.h"

#include "camerastation.h"
#include "cammersingleton.h"
#include "controlport.h"
#include "failimageslots.h"
#include "fakecamera.h"
#include "globals.h"
#include "iothread.h"
#include "processstate.h"
#include "rawframestore.h"
#include "stationhost.h"
#include "productioncounters.h"
#include "systemparam.h"
#include "testclock.h"
#include "texttable.h"
#include "testworkdir.h"

#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>

namespace {

void applySlots(SystemParam& params, const QString& text)
{
    for (const QString& item : text.split(' ', Qt::SkipEmptyParts)) {
        params[item.section('=', 0, 0).toInt()] = item.section('=', 1, 1).toInt();
    }
}

void setInput(int index, bool on)
{
    std::lock_guard<std::mutex> lock(*gMutexTable[8]);
    if (on) {
        gInputWord |= 1 << index;
    } else {
        gInputWord &= ~(1 << index);
    }
}

int publishedWord()
{
    std::lock_guard<std::mutex> lock(*gMutexTable[8]);
    return gOutputWord;
}

// Records what the cycle asks of the screens and the records.
struct RecordingHost : CycleHost {
    QStringList records;
    QMap<int, int> readData;
    int countWrites = 0;
    int alarmScreens = 0;
    int leftAlarm = 0;
    QStringList pictures;
    bool rawWritable = true;
    QStringList warnings;
    QStringList questions;
    bool confirm = true;
    void warnModal(const QString& text) override { warnings << text; }
    bool ask(const QString& text) override
    {
        questions << text;
        return confirm;
    }
    int rawAttempts = 0;

    void insertRecord(const QString& text) override { records << text; }
    void setReadData(int reg, int value) override { readData[reg] = value; }
    bool countWrite() override
    {
        ++countWrites;
        return writeCountFile();
    }
    void enterAlarmScreen(int) override { ++alarmScreens; }
    void leaveAlarmScreen(int) override { ++leftAlarm; }
    void saveFailImage(int c, int d, int kind) override { pictures << QStringLiteral("save %1 %2 %3").arg(c).arg(d).arg(kind); }
    void updateFailImage(int c, int d, int kind, int) override { pictures << QStringLiteral("note %1 %2 %3").arg(c).arg(d).arg(kind); }
    bool saveRawFrame(int, int) override
    {
        ++rawAttempts;
        return rawWritable;
    }
};

// What the permissions must be, worked out from the script alone: the clamp
// stays withdrawn while the cycle's cavity evaluation is NG or not yet made,
// the ejector while the product evaluation is NG.
struct Oracle {
    bool cavityBad = false;
    bool productBad = false;
    int restWord = 0;      // physical levels of the outputs at rest
    bool exempt = false;   // the operator stopped detection
    bool sampling = false; // the operator re-samples the templates
    QString violation;

    void check(const QString& when)
    {
        const int word = publishedWord() ^ restWord;
        if (exempt || sampling || !violation.isEmpty()) {
            return;
        }
        if (cavityBad && !(word & (1 << OutAllowClamp))) {
            violation = QStringLiteral("clamp granted after %1").arg(when);
        } else if (productBad && !(word & (1 << OutAllowEjector))) {
            violation = QStringLiteral("ejector granted after %1").arg(when);
        }
    }
};

constexpr int Width = 32;
constexpr int Height = 24;

} // namespace

class TestCycleController : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void permissionsFollowTheEvaluations_data();
    void permissionsFollowTheEvaluations();
    void delaysAndTriggers_data();
    void delaysAndTriggers();
    void stackedDelays();
    void debounce();
    void watchdogAndLostCamera();
    void stalledStreamAndTheWallClock();
    void boardLinkOutage();
    void operatorCommands();
    void finalNgAlarm();
    void pulseModeOutputs();
    void productPulseAreaChannels_data();
    void productPulseAreaChannels();
    void countFileAfterFinalNg();
    void rawFramesBelowTheFloor();
    void picturesAndHandOver();
    void rawFrameFileAndFloor();
    void reportItems();

private:
    // Builds the rig: params from the base plus the row's slots.
    void build(const QString& settings, int cameras = 2);
    // Plays "open door eject tick1 run show ngend clampend ejend manual1
    // lose1 back1 resample back stop start" steps.
    void play(const QString& steps);
    void pulse(int input);

    std::unique_ptr<ProcessState> m_state;
    std::unique_ptr<TestWorkDir> m_dir;
    SystemParam m_params;
    std::unique_ptr<ControlPort> m_port;
    std::vector<std::unique_ptr<FakeCamera>> m_cameras;
    std::vector<std::unique_ptr<CameraStation>> m_stations;
    std::unique_ptr<CycleController> m_ctl;
    RecordingHost m_host;
    Oracle m_oracle;
    // Verdicts, one token per evaluation round: one letter per camera, O or N.
    std::deque<QString> m_results;
    QSet<int> m_lost;
    int m_lastCamera = 99;
    QString m_round;
    int m_roundDetect = -1;
    QStringList m_inspected;
};

void TestCycleController::initTestCase()
{
    initTextTable();
}

void TestCycleController::init()
{
    m_state = std::make_unique<ProcessState>();
    m_dir = std::make_unique<TestWorkDir>();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(m_dir->filePath("PARAM.db"));
    QVERIFY(db.open());
    for (int c = 0; c < 8; ++c) {
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("create table cammer%1 (name text, value text)").arg(c)));
    }
    m_host = RecordingHost();
    m_oracle = Oracle();
    m_results.clear();
    m_lost.clear();
    m_inspected.clear();
    m_lastCamera = 99;
    gRunPassCount = 0;
    gLastDetectDelay = 0;
    gRetrainPending = 0;
    gAutoUpdatePending = 0;
    gSamplingReview = 0;
    gMaxNgImages = 5;
    gMaxOkImages = 5;
    gStatisticsEnabled = 0;
    clearCounters();
}

void TestCycleController::cleanup()
{
    m_ctl.reset();
    m_stations.clear();
    m_cameras.clear();
    m_port.reset();
    FailImageSlots::release();
    {
        QSqlDatabase db = QSqlDatabase::database(CammerSingleton::ParamConnection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    m_dir.reset();
    m_state.reset();
}

void TestCycleController::build(const QString& settings, int cameras)
{
    m_ctl.reset();
    m_stations.clear();
    m_cameras.clear();
    m_port.reset();
    m_inspected.clear();
    m_results.clear();
    m_lost.clear();
    m_oracle = Oracle();
    m_lastCamera = 99;
    std::memset(&m_params, 0, sizeof m_params);
    // A standard machine inspecting the cavity on the mould-open position
    // without delay, debounce or re-checks.
    applySlots(m_params, QStringLiteral("120=1 81=0 82=0 ") + settings);
    gpSystemParam = &m_params;
    gpSystemParamEdit = &m_params;
    gDetectCount = (m_params.systemFunction() == 1 || m_params.systemFunction() == 2) ? 4 : 2;
    gTemplateCount = 1;
    gColorMode = 0;
    gCameraCount = cameras;
    m_port = std::make_unique<ControlPort>(0);
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[8]);
        gInputWord = 0;
    }
    for (int c = 0; c < cameras; ++c) {
        m_cameras.push_back(std::make_unique<FakeCamera>(Width, Height));
        m_cameras.back()->open();
        m_stations.push_back(std::make_unique<CameraStation>(c, m_cameras.back().get()));
        CameraStation& st = *m_stations.back();
        // One area in every detect, on output channel 0 (every new area's).
        for (int d = 0; d < gDetectCount; ++d) {
            st.pLiveSingleton->roiCount[d] = 1;
        }
    }
    std::vector<QSize> sizes(size_t(cameras), QSize(Width, Height));
    FailImageSlots::allocate(sizes, gDetectCount);

    m_ctl = std::make_unique<CycleController>(m_port.get(), &m_host);
    // The scripted verdicts follow the cameras' order one after the other.
    m_ctl->setWorkers(1);
    for (auto& st : m_stations) {
        m_ctl->stations.push_back(st.get());
    }
    m_ctl->inspect = [this](CameraStation& st, int d) {
        const int c = st.data.cameraIndex;
        if (c <= m_lastCamera || d != m_roundDetect) {
            m_round = m_results.empty() ? QString(int(m_stations.size()), 'O') : m_results.front();
            if (!m_results.empty()) {
                m_results.pop_front();
            }
            m_roundDetect = d;
            // A lost camera is never an OK verdict of its round.
            if (!m_lost.isEmpty() && (d & 1)) {
                m_oracle.cavityBad = true;
            }
        }
        m_lastCamera = c;
        const bool ok = c < m_round.size() && m_round[c] == 'O';
        m_inspected << QStringLiteral("%1:%2%3").arg(c).arg(d).arg(ok ? 'O' : 'N');
        st.data.resultOk = ok ? 1 : 0;
        st.data.areaOk = ok ? 1 : 0;
        for (int j = 0; j < AreasPerDetect; ++j) {
            st.data.roiOk[d * AreasPerDetect + j] = ok ? 1 : 0;
        }
        const bool last = c == int(m_stations.size()) - 1;
        const bool roundOk = !m_round.contains('N') && m_lost.isEmpty();
        if (d & 1) {
            if (!ok) {
                m_oracle.cavityBad = true;
            } else if (last && roundOk) {
                m_oracle.cavityBad = false;
            }
        } else if (m_params.productNoEjector() == 0) {
            if (!ok) {
                m_oracle.productBad = true;
            } else if (last && roundOk) {
                m_oracle.productBad = false;
            }
        }
    };
    // In pulse mode the outputs are result pulses, not permissions.
    m_oracle.exempt = m_params.okNgPulse() != 0;
    for (int i = 0; i < 10; ++i) {
        m_oracle.restWord |= m_params.outInitState(i) != 0 ? 1 << i : 0;
    }
    connect(m_port.get(), &ControlPort::sigIOChange, m_ctl.get(), [this] { m_oracle.check(QStringLiteral("a commit")); },
            Qt::DirectConnection);
    m_ctl->StartDetect();
    m_ctl->manualTrigDetect = gDetectCount;
    m_ctl->curDetect = 1;
}

void TestCycleController::pulse(int input)
{
    setInput(input, true);
    m_ctl->Run();
    setInput(input, false);
    m_ctl->Run();
}

void TestCycleController::play(const QString& steps)
{
    const SystemParam& p = m_params;
    for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
        if (step == QLatin1String("open")) {
            // A new cycle: its cavity is unjudged from the cycle start where
            // the mode withdraws the clamp there, from the pre-cut otherwise.
            if (p.preCutClamp() == 0 && p.cutClampOnAlarm() == 0 && p.okNgPulse() == 0) {
                m_oracle.cavityBad = true;
            }
            m_oracle.productBad = false;
            m_oracle.exempt = p.okNgPulse() != 0;
            pulse(InMouldOpenEnd);
        } else if (step == QLatin1String("door")) {
            pulse(InSafetyDoor);
        } else if (step == QLatin1String("eject")) {
            pulse(InEjectorBackEnd);
        } else if (step.startsWith(QLatin1String("tick"))) {
            const int k = step.mid(4).toInt();
            for (int n = 0; n < 1000 && m_ctl->detectDelayTimers[k]->isActive(); ++n) {
                if (k == 1 && p.preCutClamp() > 0 && p.preCutClamp() + 0.01 >= m_ctl->detectDelayLeft[1] * 10) {
                    m_oracle.cavityBad = true;
                }
                m_ctl->TimerUp(k);
                m_oracle.check(step);
            }
        } else if (step == QLatin1String("run")) {
            m_ctl->Run();
        } else if (step == QLatin1String("show")) {
            m_ctl->TimerShow();
        } else if (step == QLatin1String("ngend")) {
            // The product pulse ends with the ejector released by design.
            if (p.ejectorPulseOnNg() != 0) {
                m_oracle.productBad = false;
            }
            m_ctl->OutTimerOutNG();
        } else if (step == QLatin1String("clampend")) {
            m_ctl->OutTimerNotAllowClose();
        } else if (step == QLatin1String("ejend")) {
            m_ctl->OutTimerNotAllowThimble();
        } else if (step.startsWith(QLatin1String("manual"))) {
            m_ctl->SlotManualTrig(step.mid(6).toInt());
            m_ctl->Run();
        } else if (step.startsWith(QLatin1String("lose"))) {
            const int c = step.mid(4).toInt();
            m_lost.insert(c);
            m_cameras[size_t(c)]->vanish();
        } else if (step.startsWith(QLatin1String("back")) && step.size() > 4) {
            const int c = step.mid(4).toInt();
            m_lost.remove(c);
            m_cameras[size_t(c)]->comeBack();
            m_stations[size_t(c)]->online = true;
        } else if (step == QLatin1String("resample")) {
            // Sampling takes the frames as the empty mould's: the operator's command.
            m_oracle.sampling = true;
            m_ctl->SlotReTrain();
        } else if (step == QLatin1String("back")) {
            // The review ends: the samples were taken from the empty mould.
            gSamplingReview = 0;
            m_oracle.cavityBad = false;
            m_oracle.sampling = false;
            m_ctl->BackTrain();
        } else if (step == QLatin1String("stop")) {
            m_oracle.exempt = true;
            m_ctl->StopDetect();
        } else if (step == QLatin1String("start")) {
            m_ctl->SlotStartStop();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step %1").arg(step)));
        }
        m_oracle.check(step);
        if (!m_oracle.violation.isEmpty()) {
            return;
        }
    }
}

void TestCycleController::permissionsFollowTheEvaluations_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("results");
    QTest::addColumn<bool>("alarm");

    const QString product = QStringLiteral("119=1 133=1 ");
    QTest::newRow("empty mould") << "" << "open show open" << "OO OO" << false;
    QTest::newRow("part left") << "" << "open show open" << "OO ON" << true;
    QTest::newRow("part left, door, part still there") << "" << "open door door" << "NO NO NO" << true;
    QTest::newRow("part left, door, cleared") << "" << "open door show open" << "NO OO OO" << false;
    QTest::newRow("re-checks pass") << "143=2" << "open run run" << "NN ON OO" << false;
    QTest::newRow("re-checks fail") << "143=2" << "open run run run" << "NN NN NO" << true;
    QTest::newRow("delayed cavity") << "73=12" << "open tick1 show open tick1" << "OO NO" << true;
    QTest::newRow("pre-cut 5") << "73=12 192=5 143=1" << "open tick1 show open tick1 run run" << "OO NO NO" << true;
    // With 192 = 100 the pre-cut (only for 1 to 99) never runs and a cavity NG
    // with re-checks left keeps the clamp granted through the re-check.
    QTest::newRow("pre-cut 100, NG with a re-check left")
        << "73=12 192=100 143=1" << "open tick1 show open tick1 run" << "OO NO OO" << false;
    QTest::newRow("pre-cut 50, delay 0, re-check") << "192=50 143=2" << "open show open run run" << "OO NN ON OO" << false;
    // The product-NG pulse end switched area channel 0, the clamp, off.
    QTest::newRow("NG pulse end before the cavity")
        << product + "152=1 144=3 73=5" << "open ngend tick1" << "NO OO" << false;
    QTest::newRow("NG pulse end in the cavity alarm")
        << product + "152=1 144=3 73=5" << "open tick1 ngend door" << "NO NO NN" << true;
    QTest::newRow("product NG alarm, cavity later") << product + "73=5" << "open door show tick1" << "ON OO" << false;
    QTest::newRow("product NG, no ejector") << product + "151=1 73=5" << "open door" << "NO OO" << false;
    // A camera lost while the delay runs: its last frame is judged.
    QTest::newRow("camera lost at expiry") << "73=5" << "open lose1 tick1" << "OO" << true;
    QTest::newRow("camera lost, back, door") << "73=5" << "open lose1 tick1 back1 run door" << "OO OO" << false;
    QTest::newRow("lost camera pass") << "" << "open show lose0 run back0 run open" << "OO OO" << false;
    QTest::newRow("door trigger, part stays") << "170=1" << "open show door" << "OO ON ON" << true;
    QTest::newRow("door trigger, pass") << "170=1" << "open show door" << "OO OO" << false;
    QTest::newRow("manual cavity NG") << "" << "open show manual1" << "OO NN" << true;
    QTest::newRow("manual cavity NG, then re-check") << "" << "open show manual1 door" << "OO NN OO" << false;
    QTest::newRow("clamp pulse end") << "154=1 145=2" << "open clampend show open" << "OO NO" << true;
    QTest::newRow("ejector pulse end") << product + "155=1 144=2" << "open ejend show open" << "OO OO ON OO" << true;
    QTest::newRow("stop and start") << "" << "open stop start open" << "ON OO" << false;
    QTest::newRow("re-sampling") << "" << "resample open back show open" << "NO" << true;
    QTest::newRow("semi-automatic") << product + "118=1 82=2" << "open eject show" << "OO NO" << true;
    QTest::newRow("inverted clamp rest level") << "108=1" << "open" << "ON" << true;
}

void TestCycleController::permissionsFollowTheEvaluations()
{
    QFETCH(QString, settings);
    QFETCH(QString, steps);
    QFETCH(QString, results);
    QFETCH(bool, alarm);

    build(settings);
    for (const QString& r : results.split(' ', Qt::SkipEmptyParts)) {
        m_results.push_back(r);
    }
    play(steps);
    QVERIFY2(m_oracle.violation.isEmpty(), qPrintable(m_oracle.violation + " | " + m_inspected.join(' ')));
    QCOMPARE(m_ctl->screenMode() == Alarm, alarm);
    if (alarm) {
        QVERIFY(m_port->readIO(true, OutAllowClamp) != (m_params.outInitState(OutAllowClamp) != 0)
                || m_oracle.productBad);
    }
}

void TestCycleController::delaysAndTriggers_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("inspected"); // detects in order

    QTest::newRow("delay 0 runs in the pass") << "" << "open" << "1 1";
    QTest::newRow("product then cavity, stacked delays")
        << "119=1 133=1 72=5 73=8" << "open" << "";
    QTest::newRow("stacked delays expire in order") << "119=1 133=1 72=5 73=8" << "open tick0 tick1" << "0 0 1 1";
    QTest::newRow("semi-automatic waits for the ejector")
        << "119=1 133=1 118=1 82=2" << "open" << "0 0";
    QTest::newRow("semi-automatic, ejector back end") << "119=1 133=1 118=1 82=2" << "open eject" << "0 0 1 1";
    QTest::newRow("two-colour, wildcard, side 1")
        << "189=1 121=1 82=255 81=255" << "eject" << "";
    QTest::newRow("two-colour cycle, side from position 2")
        << "189=1 121=1 81=255 82=255" << "open eject" << "1 1";
    QTest::newRow("two-colour cycle, side from position 3")
        << "189=1 122=1 120=0 81=255 82=255" << "open pos3" << "3 3";
    QTest::newRow("rotary, wildcard on position 3")
        << "189=2 191=2 122=1 120=0 81=255 82=255" << "pos3" << "3 3";
}

void TestCycleController::delaysAndTriggers()
{
    QFETCH(QString, settings);
    QFETCH(QString, steps);
    QFETCH(QString, inspected);

    build(settings, 2);
    for (const QString& step : steps.split(' ')) {
        if (step == QLatin1String("pos3")) {
            pulse(InSpare4);
        } else {
            play(step);
        }
    }
    QStringList detects;
    for (const QString& i : m_inspected) {
        detects << i.mid(2, 1);
    }
    QCOMPARE(detects.join(' '), inspected);
}

void TestCycleController::stackedDelays()
{
    // Product detection on, semi-automatic off, 72 = 5 and 73 = 8: detect 0
    // after 0.5 s, detect 1 after 1.3 s, both from one mould-open edge.
    build(QStringLiteral("119=1 133=1 72=5 73=8"));
    play(QStringLiteral("open"));
    QCOMPARE(m_ctl->detectDelayLeft[0], 0.5);
    QCOMPARE(m_ctl->detectDelayLeft[1], 1.3);
    QCOMPARE(m_ctl->cyclePhase(), Delaying);
    int ticks[2] = {};
    for (int k = 0; k < 2; ++k) {
        while (m_ctl->detectDelayTimers[k]->isActive()) {
            ++ticks[k];
            m_ctl->TimerUp(k);
        }
    }
    QCOMPARE(ticks[0], 5);
    QCOMPARE(ticks[1], 13);
    QCOMPARE(m_inspected.size(), 4);
    // Edges while a detect delays are dropped, not queued.
    build(QStringLiteral("73=8"));
    play(QStringLiteral("open"));
    pulse(InSafetyDoor);
    QVERIFY(!m_ctl->confirmedInputs[InSafetyDoor]);
    m_ctl->SetStopDetect();
    QCOMPARE(m_ctl->detectDelayLeft[1], 0.0);
    QVERIFY(!m_ctl->detectDelayTimers[1]->isActive());
}

void TestCycleController::debounce()
{
    build(QStringLiteral("147=5"));
    setInput(InMouldOpenEnd, true);
    m_ctl->Run();
    QVERIFY(!m_ctl->confirmedInputs[0]);
    QCOMPARE(m_ctl->checkInputTimers[0]->interval(), 500);
    // Dropped again before the debounce ends: nothing confirmed.
    setInput(InMouldOpenEnd, false);
    m_ctl->Run();
    m_ctl->TimerCheckInput(0);
    QVERIFY(!m_ctl->confirmedInputs[0]);
    QVERIFY(!m_ctl->checkInputTimers[0]->isActive());
    // Still there: confirmed, and the next pass starts the cycle.
    setInput(InMouldOpenEnd, true);
    m_ctl->Run();
    m_ctl->TimerCheckInput(0);
    QVERIFY(m_ctl->confirmedInputs[0]);
    m_ctl->Run();
    QCOMPARE(m_inspected.size(), 2);
}

void TestCycleController::watchdogAndLostCamera()
{
    build(QStringLiteral("146=2"));
    play(QStringLiteral("open"));
    QVERIFY(m_ctl->inCheckTimer->isActive());
    QCOMPARE(m_ctl->inCheckTimer->interval(), 2000);
    QVERIFY(!m_port->readIO(true, OutAllowClamp));
    m_ctl->InCheck();
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    QCOMPARE(m_host.records, QStringList{textOf(CycleText::NoInput)});
    QVERIFY(m_ctl->noInputWarning);
    // The next cycle start hides the warning and leaves the watchdog off.
    play(QStringLiteral("show open"));
    QVERIFY(!m_ctl->noInputWarning);
    QVERIFY(!m_ctl->inCheckTimer->isActive());

    // A lost camera: clamp withdrawn, passes every 500 ms, white balance
    // counted again from 0.
    gRunPassCount = 40;
    play(QStringLiteral("show lose1 run"));
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    QCOMPARE(m_ctl->runTimer->interval(), 500);
    QCOMPARE(gRunPassCount, 0);
    QVERIFY(!m_ctl->camerasOnline);
    play(QStringLiteral("back1 run"));
    QVERIFY(m_ctl->camerasOnline);
    QCOMPARE(m_ctl->runTimer->interval(), 100);
}

void TestCycleController::stalledStreamAndTheWallClock()
{
    // The program's monotonic clock held: frames are stamped by it, and the
    // cycle's intervals come from it whatever the panel's clock says.
    TestClock clock(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 5)), true);
    build(QStringLiteral("73=5"));
    auto freshFrame = [this](int c) { return m_cameras[size_t(c)]->waitDelivered(m_cameras[size_t(c)]->delivered() + 1); };
    QVERIFY(freshFrame(0) && freshFrame(1));
    play(QStringLiteral("open tick1"));
    QVERIFY(!m_port->readIO(true, OutAllowClamp));
    QCOMPARE(m_inspected, (QStringList{"0:1O", "1:1O"}));

    // The panel's clock is set back an hour between two cycles 3 s apart.
    clock.set(clock.now().addSecs(-3600));
    clock.advanceMs(3000);
    QVERIFY(freshFrame(0) && freshFrame(1));
    m_inspected.clear();
    play(QStringLiteral("open"));
    QCOMPARE(m_ctl->cycleTime, 30);

    // Camera 2 stays reachable but sends nothing more from the delay's
    // start; 3 s later the delay ends: its frame is not judged, it counts as
    // lost (told once) and the clamp stays withdrawn.
    m_cameras[1]->pause(true);
    m_ctl->Run(); // takes what was already on its way
    clock.advanceMs(3000);
    QVERIFY(freshFrame(0));
    m_lost.insert(1);
    QVERIFY(m_ctl->detectDelayTimers[1]->isActive());
    play(QStringLiteral("run tick1"));
    QCOMPARE(m_inspected, QStringList{"0:1O"});
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    play(QStringLiteral("run run"));
    QVERIFY(!m_ctl->camerasOnline);
    QCOMPARE(m_host.records.count(textOf(CycleText::StreamStalled).arg(2)), 1);
    QVERIFY(m_port->readIO(true, OutAllowClamp));

    // It streams again: online at the next pass with a new frame.
    m_cameras[1]->pause(false);
    QVERIFY(freshFrame(1));
    m_lost.clear();
    play(QStringLiteral("run"));
    QVERIFY(m_ctl->camerasOnline);
}

void TestCycleController::boardLinkOutage()
{
    // A cycle start the board could not report while the link was down: the
    // clamp and the ejector stay withdrawn until a cycle is judged after it.
    build(QStringLiteral("119=1 133=1"));
    play(QStringLiteral("open"));
    QVERIFY(!m_port->readIO(true, OutAllowClamp));
    QVERIFY(!m_port->readIO(true, OutAllowEjector));
    emit m_port->linkStateChanged(false);
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    QVERIFY(m_port->readIO(true, OutAllowEjector));
    emit m_port->linkStateChanged(true);
    play(QStringLiteral("run show run"));
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    QVERIFY(m_port->readIO(true, OutAllowEjector));
    play(QStringLiteral("open"));
    QVERIFY(!m_port->readIO(true, OutAllowClamp));
    QVERIFY(!m_port->readIO(true, OutAllowEjector));
}

void TestCycleController::operatorCommands()
{
    build(QString());
    // A manual trigger of the product detect with product detection off.
    m_ctl->SlotManualTrig(0);
    m_ctl->Run();
    QCOMPARE(m_host.warnings, QStringList{textOf(CycleText::ProductDetectOff)});
    QVERIFY(m_inspected.isEmpty());
    // Stop: asked, refused, nothing; confirmed, stopped with outputs at rest.
    m_host.confirm = false;
    m_ctl->SlotStartStop();
    QCOMPARE(m_ctl->runState(), Detecting);
    m_host.confirm = true;
    m_ctl->SlotStartStop();
    QCOMPARE(m_host.questions.size(), 2);
    QCOMPARE(m_ctl->runState(), Stopped);
    QCOMPARE(m_host.readData.value(0, -1), 0);
    // Positions confirmed while stopped are handled after the start.
    setInput(InMouldOpenEnd, true);
    m_ctl->Run();
    QVERIFY(m_inspected.isEmpty());
    m_ctl->SlotStartStop();
    QCOMPARE(m_host.readData.value(0), 1);
    m_ctl->Run();
    QCOMPARE(m_inspected.size(), 2);
    QCOMPARE(m_host.records, (QStringList{textOf(CycleText::StoppedByHand), textOf(CycleText::StartedByHand)}));
}

void TestCycleController::finalNgAlarm()
{
    // Cavity, 143 = 2, one camera NG three times: the first two evaluations
    // (the cycle start's pass and the next pass) count nothing and raise no
    // alarm, the third is the final NG.
    build(QStringLiteral("143=2"));
    m_results = {QStringLiteral("ON"), QStringLiteral("ON"), QStringLiteral("ON")};
    play(QStringLiteral("open"));
    QCOMPARE(m_inspected.size(), 4);
    QCOMPARE(m_ctl->recheckPending, 1);
    QCOMPARE(m_ctl->resultState[1][1], 1);
    QVERIFY(!m_port->readIO(true, OutAlarm));
    QCOMPARE(gTotalCycles, 0);
    play(QStringLiteral("run"));
    QCOMPARE(m_ctl->screenMode(), Alarm);
    QCOMPARE(m_ctl->runState(), Stopped);
    QCOMPARE(m_host.readData.value(1), 2);
    QCOMPARE(m_host.readData.value(150), 2);
    QCOMPARE(m_host.readData.value(153), 1);
    QCOMPARE(m_host.readData.value(156), 2);
    QCOMPARE(m_ctl->resultState[1][1], 3);
    // The OK picture of the other camera waits with the NG for a passing evaluation.
    QCOMPARE(m_ctl->resultState[0][1], 2);
    QVERIFY(m_port->readIO(true, OutAlarm));
    QCOMPARE(gTotalCycles, 1);
    QCOMPARE(gNgCycles, 1);
    QCOMPARE(gNgCount[1], 1);
    QCOMPARE(m_host.records, QStringList{textOf(151).arg(2).chopped(1) + textOf(152)});

    // The door with the part still there changes nothing; cleared, it ends
    // the alarm and grants the clamp.
    m_results = {QStringLiteral("ON")};
    play(QStringLiteral("door"));
    QCOMPARE(m_ctl->screenMode(), Alarm);
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    m_results = {QStringLiteral("OO")};
    play(QStringLiteral("door"));
    QCOMPARE(m_ctl->screenMode(), ResultShown);
    QCOMPARE(m_host.readData.value(1), 0);
    QVERIFY(!m_port->readIO(true, OutAllowClamp));
    QVERIFY(!m_port->readIO(true, OutAlarm));
    // The re-check passed: the NG picture gets its note and an OK picture.
    QVERIFY(m_host.pictures.contains(QStringLiteral("note 1 1 0")));
    QVERIFY(m_host.pictures.contains(QStringLiteral("note 1 1 1")));
    QCOMPARE(m_host.leftAlarm, 1);
}

void TestCycleController::pulseModeOutputs()
{
    build(QStringLiteral("156=1 145=3 143=2"));
    m_results = {QStringLiteral("NO")};
    play(QStringLiteral("open"));
    QCOMPARE(m_ctl->retriesLeft[1], 0);
    // No output at the cycle start; NG: clamp and alarm on, ejector off.
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    QVERIFY(m_port->readIO(true, OutAlarm));
    QVERIFY(!m_port->readIO(true, OutAllowEjector));
    QVERIFY(m_ctl->screenMode() != Alarm);
    QVERIFY(m_ctl->clampPulseTimer->isActive());
    QCOMPARE(m_host.countWrites, 2); // counted and after the cavity detect
    QCOMPARE(m_ctl->resultState[0][1], 0);
    play(QStringLiteral("clampend"));
    QCOMPARE(m_port->outputWord() & 0x7, 0);
    m_results = {QStringLiteral("OO")};
    play(QStringLiteral("show open"));
    QVERIFY(!m_port->readIO(true, OutAllowClamp));
    QVERIFY(m_port->readIO(true, OutAllowEjector));

    // A good product, then an NG cavity: the end of the product's pulse
    // leaves the cavity's NG pulse on the clamp output to its own timer.
    build(QStringLiteral("156=1 145=3 119=1 133=1"));
    m_results = {QStringLiteral("OO"), QStringLiteral("NO")};
    play(QStringLiteral("open"));
    QCOMPARE(m_inspected, (QStringList{"0:0O", "1:0O", "0:1N", "1:1O"}));
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    QVERIFY(m_ctl->clampPulseTimer->isActive());
    play(QStringLiteral("ejend"));
    QVERIFY(m_port->readIO(true, OutAllowClamp));
    play(QStringLiteral("clampend"));
    QVERIFY(!m_port->readIO(true, OutAllowClamp));
}

void TestCycleController::productPulseAreaChannels_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("detect");
    QTest::addColumn<int>("output");  // area channel of the failing area
    QTest::addColumn<int>("expected"); // machine output switched by the pulse

    QTest::newRow("standard, channel 4") << "119=1 133=1 152=1 144=3 73=5" << 0 << 4 << 5;
    // Detect 2 must use its own areas, not detect 0's.
    QTest::newRow("two-colour, detect 2") << "189=1 121=1 119=1 133=1 152=1 144=3 73=5 81=255 82=255" << 2 << 5 << 6;
}

void TestCycleController::productPulseAreaChannels()
{
    QFETCH(QString, settings);
    QFETCH(int, detect);
    QFETCH(int, output);
    QFETCH(int, expected);

    build(settings);
    for (auto& st : m_stations) {
        // Detect 0 has no area; the areas of the inspected detect carry the channel.
        st->pLiveSingleton->roiCount[0] = detect == 0 ? 1 : 0;
        st->pLiveSingleton->roiCount[detect] = 1;
        st->pLiveSingleton->roiOutput[0] = output;
    }
    m_results = {QStringLiteral("NO")};
    m_ctl->curSide = 0;
    if (detect == 2) {
        m_ctl->SlotManualTrig(0);
        m_ctl->Run();
    } else {
        play(QStringLiteral("open"));
    }
    QCOMPARE(m_ctl->ngAreaOutputs[output], 1);
    QVERIFY(m_port->readIO(true, expected));
    QVERIFY(m_ctl->ngPulseTimer->isActive());
    m_ctl->OutTimerOutNG();
    QVERIFY(!m_port->readIO(true, expected));
}

void TestCycleController::countFileAfterFinalNg()
{
    build(QString());
    m_results = {QStringLiteral("NO")};
    play(QStringLiteral("open"));
    QCOMPARE(m_ctl->screenMode(), Alarm);
    // A power-off in the alarm must not lose the NG cycle.
    QCOMPARE(m_dir->read(QStringLiteral("count.txt")), countFileText());
    QVERIFY(countFileText().startsWith("1 1 1 0 "));
}

void TestCycleController::rawFramesBelowTheFloor()
{
    build(QString());
    m_ctl->saveOriginalImages = true;
    m_host.rawWritable = false;
    play(QStringLiteral("open show open show"));
    QCOMPARE(m_host.rawAttempts, 4);
    QCOMPARE(m_host.records.count(textOf(CycleText::RawFramesSkipped)), 1);
    m_host.rawWritable = true;
    play(QStringLiteral("open show"));
    m_host.rawWritable = false;
    play(QStringLiteral("open"));
    QCOMPARE(m_host.records.count(textOf(CycleText::RawFramesSkipped)), 2);
}

void TestCycleController::picturesAndHandOver()
{
    build(QStringLiteral("119=1 133=1 152=1 144=2 73=5"));
    // Product NG in NG-pulse mode: state 9, handed over by the next
    // evaluation without NG; the OK pictures with it.
    m_results = {QStringLiteral("NO"), QStringLiteral("OO")};
    play(QStringLiteral("open"));
    QCOMPARE(m_ctl->resultState[0][0], 9);
    QCOMPARE(m_ctl->resultState[1][0], 2);
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[9]);
        QCOMPARE(int(gFailImageReady[FailImageSlots::index(0, 0, 0)]), 0);
    }
    play(QStringLiteral("tick1"));
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    QCOMPARE(int(gFailImageReady[FailImageSlots::index(0, 0, 0)]), 1);
    QCOMPARE(int(gFailImageReady[FailImageSlots::index(1, 0, 1)]), 1);
    QCOMPARE(int(gFailImageReady[FailImageSlots::index(0, 1, 1)]), 1);
    QCOMPARE(m_ctl->resultState[0][0], 0);
}

void TestCycleController::rawFrameFileAndFloor()
{
    build(QString(), 1);
    QCOMPARE(RawFrameStore::pathFor(0, 1, QDateTime(QDate(2026, 12, 8), QTime(19, 56, 5, 123))),
             QStringLiteral("./originalimage/cammer12/template20261208-195605-123.bmp"));
    CameraStation& st = *m_stations[0];
    std::fill(st.data.grabBuffer.begin(), st.data.grabBuffer.end(), uchar(77));
    // Below the floor nothing is written.
    QVERIFY(!RawFrameStore::save(st, 1, greyRampTable(), std::numeric_limits<qint64>::max()));
    QVERIFY(!QDir(QStringLiteral("originalimage")).exists());
    QVERIFY(RawFrameStore::save(st, 1, greyRampTable(), 0));
    const QStringList files = QDir(QStringLiteral("originalimage/cammer12")).entryList({QStringLiteral("*.bmp")});
    QCOMPARE(files.size(), 1);
    const QImage frame(QStringLiteral("originalimage/cammer12/") + files.first());
    QCOMPARE(frame.size(), QSize(Width, Height));
    QCOMPARE(frame.format(), QImage::Format_Indexed8);
    QCOMPARE(frame.pixelIndex(3, 3), 77);
}

void TestCycleController::reportItems()
{
    build(QString(), 1);
    CammerSingleton& set = *m_stations[0]->pLiveSingleton;
    set.roiCount[1] = 3;
    const int functions[3] = {FuncTempAlarm, FuncSimilarity, FuncDefect};
    for (int j = 0; j < 3; ++j) {
        set.roiFunction[50 + j] = functions[j];
        m_stations[0]->data.roiValue[50 + j] = 10 + j;
        m_stations[0]->data.roiOk[50 + j] = j != 1;
    }
    // A temperature area with lower 65616 and upper 1310840 shows 80 and
    // 120; a low half of 65526 shows -10.
    set.roiLower[50] = 65616;
    set.roiUpper[50] = 65526;
    set.roiLower[51] = 33;
    set.roiUpper[52] = 44;
    const std::vector<CycleReportRow> rows = m_ctl->reportItems(0);
    QCOMPARE(int(rows.size()), 3);
    QCOMPARE(rows[0].lower, 80.0);
    QCOMPARE(rows[0].upper, -10.0);
    QCOMPARE(rows[1].lower, 33.0);
    QCOMPARE(rows[1].upper, 0.0);
    QCOMPARE(rows[2].upper, 44.0);
    QCOMPARE(rows[2].index, 3);
    QCOMPARE(rows[1].ok, false);
    QCOMPARE(rows[2].value, 12.0);
    QCOMPARE(rows[0].toolName, detectFunctionName(FuncTempAlarm));
    m_stations[0]->pLiveSingleton->roiCount[1] = 0;
    QVERIFY(m_ctl->reportItems(0).empty());
}

QTEST_MAIN(TestCycleController)
#include "tst_cyclecontroller.moc"
