#include "cyclecontroller.h"

#include "camerainterface.h"
#include "cameraregistry.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "controlport.h"
#include "deferredpeers.h"
#include "inspectionpool.h"
#include "detectalgorithm.h"
#include "detectresult.h"
#include "productioncounters.h"
#include "systemclock.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <cstring>

int gRunPassCount = 0;
int gLastDetectDelay = 0;
unsigned char gRetrainPending = 0;
unsigned char gAutoUpdatePending = 0;
int gSamplingReview = 0;
// Area output channels 0..8 and the machine outputs they drive; the alarm
// (output 2) is never an area output.
const int gNgAreaOutputMap[10] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 9};

CycleController::CycleController(ControlPort* port, CycleHost* host, QObject* parent)
    : QObject(parent), m_port(port), m_host(host ? host : &m_noHost), m_outputs(port)
{
    m_outputs.setPort(port);
    auto single = [this](QTimer*& t, bool singleShot) {
        t = new QTimer(this);
        t->setSingleShot(singleShot);
    };
    single(runTimer, true);
    connect(runTimer, &QTimer::timeout, this, &CycleController::Run);
    for (int i = 0; i < 8; ++i) {
        single(checkInputTimers[i], false);
        connect(checkInputTimers[i], &QTimer::timeout, this, [this, i] { TimerCheckInput(i); });
    }
    for (int k = 0; k < DetectsPerCamera; ++k) {
        single(detectDelayTimers[k], false);
        connect(detectDelayTimers[k], &QTimer::timeout, this, [this, k] { TimerUp(k); });
    }
    single(showTimer, false);
    connect(showTimer, &QTimer::timeout, this, &CycleController::TimerShow);
    single(inCheckTimer, false);
    connect(inCheckTimer, &QTimer::timeout, this, &CycleController::InCheck);
    for (int j = 0; j < 2; ++j) {
        single(aux5Timers[j], false);
        connect(aux5Timers[j], &QTimer::timeout, this, [this, j] {
            MachineOutputs::Pass pass(m_outputs);
            setOut(OutAux5, 1, OutputReason::AuxDelay);
            commit();
            aux5Timers[j]->stop();
        });
    }
    single(alarmOffTimer, true);
    connect(alarmOffTimer, &QTimer::timeout, this, &CycleController::OutTimerAlarmOff);
    single(ngPulseTimer, false);
    connect(ngPulseTimer, &QTimer::timeout, this, &CycleController::OutTimerOutNG);
    single(clampPulseTimer, false);
    connect(clampPulseTimer, &QTimer::timeout, this, &CycleController::OutTimerNotAllowClose);
    single(ejectorPulseTimer, false);
    connect(ejectorPulseTimer, &QTimer::timeout, this, &CycleController::OutTimerNotAllowThimble);

    if (m_port) {
        connect(m_port, &ControlPort::sigIOChange, this, &CycleController::OnIOChange, Qt::QueuedConnection);
        connect(m_port, &ControlPort::linkStateChanged, this, &CycleController::linkStateChanged);
    }

    // The station's own flag follows its frame counter once a second; the
    // driver knows at once when the device is gone.
    stationOnline = [this](CameraStation& st) {
        // A thermal driver's own answer means "a frame since you last asked":
        // the station's flag, which follows the frame counter, speaks for it.
        return st.online && (st.isThermal || !st.pDriver || st.pDriver->isOnline())
               && !st.streamStalled(clockMonotonicMs(), kFrameMarginMs, m_judgeSinceMs);
    };
    retrain = [](CameraStation& st, int d) {
        if (st.pDetector) {
            st.pDetector->TrainLocate(d);
            st.pDetector->TrainAlign(d);
            st.pDetector->TrainModels(d);
        }
    };
    inspect = [](CameraStation& st, int d) {
        StationData& data = st.data;
        if (!st.pDetector) {
            data.resultOk = 0;
            data.areaOk = 0;
            return;
        }
        // Everything but the station itself is reached through data.peers:
        // on a worker that is the deferred peers, replayed at the camera's turn.
        auto* deferred = dynamic_cast<DeferredPeers*>(data.peers);
        st.pDetector->RunAlign(d);
        st.pDetector->RunLocate();
        const std::vector<uchar>& from = st.isSimulated ? data.lastImage : data.grabBuffer;
        const size_t n = size_t(std::max(0, data.bufferSize));
        if (data.displayBuffer.size() >= n && from.size() >= n) {
            std::memcpy(data.displayBuffer.data(), from.data(), n);
        }
        // The camera's index goes into the records' current record, which the
        // engine copies as the base of its result; the result row is the
        // engine's alone.
        if (deferred) {
            deferred->stampCamera(data.cameraIndex);
        } else {
            st.stampCamera();
        }
        st.pDetector->RunDetect(d);
    };
}

CycleController::~CycleController() = default;

const SystemParam& CycleController::P() const
{
    static const SystemParam empty{};
    return gpSystemParam ? *gpSystemParam : empty;
}

bool CycleController::detectEnabled(int d) const
{
    return d >= 0 && d < 4 && P()[119 + d] != 0;
}

void CycleController::setOut(int output, int on, OutputReason why)
{
    if (output == OutAllowEjector && on == 0 && m_ngPulseHeld && P().productNoEjector() == 0) {
        // A product's NG pulse on the ejector runs to its end, whatever
        // passes or changes meanwhile.
        return;
    }
    m_outputs.set(output, on != 0, why);
}

void CycleController::commit()
{
    m_outputs.commit();
}

QString CycleController::restartRefusal() const
{
    if (m_outputs.alarmStanding() || screenMode() == Alarm) {
        return QStringLiteral("an alarm stands");
    }
    if (!camerasOnline || m_outputs.cameraHeld()) {
        return QStringLiteral("a camera is lost");
    }
    bool judging = recheckPending != 0 || gSamplingReview != 0
                   || (runState() != Stopped && (pendingCameras[0] != 0 || pendingCameras[1] != 0));
    for (QTimer* t : detectDelayTimers) {
        judging = judging || (t && t->isActive());
    }
    return judging ? QStringLiteral("a cycle is being judged") : QString();
}

void CycleController::withdrawForUnjudgedCycle(OutputReason why)
{
    const SystemParam& s = P();
    if (s.okNgPulse() != 0 || runState() == Stopped) {
        return;
    }
    setOut(OutAllowClamp, 1, why);
    if (s.productNoEjector() == 0 && s.ejectorPulseOnNg() == 0 && (detectEnabled(0) || detectEnabled(2))) {
        setOut(OutAllowEjector, 1, why);
    }
}

void CycleController::linkStateChanged(bool up)
{
    if (up == m_linkUp) {
        return;
    }
    m_linkUp = up;
    if (!up) {
        MachineOutputs::Pass pass(m_outputs);
        withdrawForUnjudgedCycle(OutputReason::LinkLost);
        commit();
    }
}

int CycleController::enabledDetectOfTimer(int k)
{
    const int d = detectOfTimer(k);
    if (detectEnabled(d)) {
        return d;
    }
    const int machine = P().systemFunction();
    if ((machine == 1 || machine == 2) && k >= 0 && k < 2) {
        // The other side's detect of this timer.
        const int other = d >= 2 ? d - 2 : d + 2;
        if (detectEnabled(other)) {
            curSide = other >= 2 ? 0 : 1;
            return other;
        }
    }
    return -1;
}

void CycleController::startMs(QTimer* timer, qint64 ms)
{
    timer->start(timerIntervalMs(ms));
}

int CycleController::detectOfTimer(int k) const
{
    const int machine = P().systemFunction();
    if (machine == 1 || machine == 2) {
        return curSide == 0 ? k + 2 : k;
    }
    return k;
}

// ---------------------------------------------------------------- main loop

void CycleController::setPort(ControlPort* port)
{
    if (m_port) {
        disconnect(m_port, nullptr, this, nullptr);
    }
    m_port = port;
    m_outputs.setPort(port);
    if (m_port) {
        connect(m_port, &ControlPort::sigIOChange, this, &CycleController::OnIOChange, Qt::QueuedConnection);
        connect(m_port, &ControlPort::linkStateChanged, this, &CycleController::linkStateChanged);
    }
}

void CycleController::OnIOChange()
{
    runTimer->start(1);
}

void CycleController::TimerCheckInput(int i)
{
    checkInputTimers[i]->stop();
    confirmedInputs[i] = m_port && m_port->readIO(false, i);
}

void CycleController::Run()
{
    MachineOutputs::Pass pass(m_outputs);
    const SystemParam& p = P();
    const int cams = cameraCount();

    // 1. White balance once, 50 passes after start or after a lost camera.
    if (++gRunPassCount == 50) {
        for (CameraStation* st : stations) {
            st->OnceWhiteBalance();
        }
    }

    // 2. A delaying pass drops edges and handles no position.
    bool delaying = false;
    for (int k = 0; k < gDetectCount && k < DetectsPerCamera; ++k) {
        delaying = delaying || detectDelayTimers[k]->isActive();
    }
    if (delaying) {
        pendingInput = -1;
    }

    // 3. Input edges.
    for (int i = 0; i < 8; ++i) {
        const bool edge = m_port && m_port->inputEdge(i);
        if (edge && !delaying) {
            checkInputTimers[i]->stop();
            if (p.debounce() != 0) {
                startMs(checkInputTimers[i], p.debounceMs());
            } else {
                confirmedInputs[i] = true;
            }
        }
    }
    if (m_port && m_port->takeDoorOpened()) {
        // The operator at the machine silences the alarm; it still stands.
        m_outputs.silenceAlarm(OutputReason::DoorOpened);
        commit();
    }

    // 4. Frames.
    for (CameraStation* st : stations) {
        st->GrabFrame();
    }

    // 5. Lost camera; a stream that stalled counts as lost.
    bool allOnline = true;
    const qint64 nowMs = clockMonotonicMs();
    for (CameraStation* st : stations) {
        const bool stalled = st->streamStalled(nowMs, kFrameMarginMs);
        if (stalled && !st->stallTold) {
            qWarning() << "camera" << st->data.cameraIndex + 1 << "delivers no new frames";
            m_host->insertRecord(textOf(CycleText::StreamStalled).arg(st->data.cameraIndex + 1));
        }
        st->stallTold = stalled;
        if (!stationOnline(*st)) {
            allOnline = false;
            if (st->data.cameraIndex >= 0 && st->data.cameraIndex < 32) {
                m_lostStations |= 1u << st->data.cameraIndex;
            }
            // What the operator decided for this camera before it went away
            // does not cover the mould it has not seen since.
            std::fill(std::begin(st->operatorHandled), std::end(st->operatorHandled), false);
        }
    }
    if (!allOnline) {
        gRunPassCount = 0;
        setOut(OutAllowClamp, 1, OutputReason::CameraLost);
        if (p.okNgPulse() == 0 && p.productDetect() != 0 && p.productNoEjector() == 0 && p.ejectorPulseOnNg() == 0
            && p.cutEjectorOnAlarm() == 0) {
            // The mould may open while the camera is away: the ejector waits
            // for a product found good after it, not for the hold's end.
            setOut(OutAllowEjector, 1, OutputReason::CameraLost);
            m_productPassed = false;
        }
        m_outputs.holdForCamera(true, OutputReason::CameraLost);
        // A trigger pressed now cannot run; run later it could come before
        // the cycle the machine starts meanwhile.
        manualTrigDetect = gDetectCount;
        commit();
        m_host->showWarning(textOf(CycleText::CameraLost));
        inCheckTimer->stop();
        runTimer->start(500);
        camerasOnline = false;
        if (m_port) {
            m_port->feedWatchdog();
        }
        return;
    }
    // 6.
    if (!camerasOnline) {
        camerasOnline = true;
        m_host->hideWarning();
    }

    const int machine = p.systemFunction();
    if (screenMode() == Alarm) {
        // 8. Alarm: lifted by a re-check on the door, an injected position or
        // (semi-automatic) the ejector-back-end position.
        const bool lift = confirmedInputs[1] || pendingInput == 1
            || (curDetect > 0 && p.semiAuto() != 0 && (confirmedInputs[2] || pendingInput == 2));
        if (lift) {
            confirmedInputs[0] = confirmedInputs[1] = false;
            pendingInput = -1;
            for (CameraStation* st : stations) {
                for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
                    st->operatorHandled[d] = false;
                }
            }
            if (machine == 2 && m_port) {
                const bool in0 = m_port->readIO(false, 0);
                const bool in3 = m_port->readIO(false, 3);
                if (in0 && !in3) {
                    curSide = 1;
                } else if (!in0 && in3) {
                    curSide = 0;
                }
            }
            if (!m_host->panelReCheck()) {
                ReCheck();
            }
        }
        inCheckTimer->stop();
    } else if (recheckPending != 0) {
        // 9. Repeat the NG detect.
        const int d = curDetect;
        const int r = (machine == 1 || machine == 2) ? (d & 1) : d;
        if (r >= 0 && r < 2 && retriesLeft[r] >= 1) {
            --retriesLeft[r];
            pendingCameras[r] = 0;
            if (r == 1) {
                // The cavity was NG: the clamp stays withdrawn through every
                // re-check, whatever the pre-cut setting left before.
                setOut(OutAllowClamp, 1, OutputReason::ReCheck);
                commit();
            }
            std::vector<int> judged;
            for (int c = 0; c < cams; ++c) {
                if (detectEnabled(d)) {
                    pendingCameras[r] |= 1 << c;
                    judged.push_back(c);
                }
            }
            if (judged.empty()) {
                // The detect was switched off meanwhile: nothing can pass it,
                // so the NG it had stands as the final one.
                retriesLeft[r] = 0;
                m_host->insertRecord(textOf(CycleText::NothingChecked));
            } else {
                RunAlgorithms(judged, d);
            }
            CheckNG(false);
        }
        inCheckTimer->stop();
    } else {
        // 10. Normal branch.
        if (p.value[170] != 0 && runState() != Stopped && (confirmedInputs[1] || pendingInput == 1)
            && enabledDetectOfTimer(1) >= 0) {
            pendingInput = -1;
            for (int c = 0; c < cams; ++c) {
                stations[c]->operatorHandled[1] = false;
                resultState[c][1] = 1;
                if (machine == 1 || machine == 2) {
                    stations[c]->operatorHandled[3] = false;
                    resultState[c][3] = 1;
                }
            }
            doorTrigger = 1;
            TimerUp(1);
            doorTrigger = 0;
        }
        if (runState() == Stopped) {
            if (machine == 1) {
                if (confirmedInputs[2] && p.mouldSide() != 1) {
                    curSide = 1;
                }
                if (confirmedInputs[3] && p.mouldSide() != 0) {
                    curSide = 0;
                }
            }
            manualTrigDetect = gDetectCount;
            inCheckTimer->stop();
            endPass();
            return;
        }
        if (manualTrigDetect != gDetectCount) {
            const int k = manualTrigDetect;
            manualTrigDetect = gDetectCount;
            // The trigger runs an enabled detect only: a detect that is off
            // has no areas and would pass whatever the picture shows.
            if (k >= 0 && k < 2 && enabledDetectOfTimer(k) >= 0) {
                m_host->checkDayChange();
                cycleStamp();
                manualCycle = true;
                if (k == 0) {
                    std::fill(std::begin(ngAreaOutputs), std::end(ngAreaOutputs), 0);
                }
                retriesLeft[0] = retriesLeft[1] = 0;
                for (int c = 0; c < cams; ++c) {
                    resultState[c][k] = 1;
                }
                TimerUp(k);
                if (screenMode() == Alarm) {
                    if (p.okNgPulse() == 0) {
                        setOut(OutAllowClamp, 1, OutputReason::ManualTrigger);
                        if (k == 0 && p.productNoEjector() == 0 && p.ejectorPulseOnNg() == 0) {
                            setOut(OutAllowEjector, 1, OutputReason::ManualTrigger);
                        }
                    }
                    commit();
                }
                endPass();
                return;
            }
        }
        // Output 5 (auxiliary) after a confirmed input 3, at once or after its delay.
        if (confirmedInputs[3] && p.productDetect() != 0) {
            if (p.pulseDelayIn3() == 0) {
                setOut(OutAux5, 1, OutputReason::AuxDelay);
                commit();
            } else {
                startMs(aux5Timers[0], p.pulseDelayIn3Ms());
            }
        }
        if (confirmedInputs[4]) {
            if (p.pulseDelayIn4() == 0) {
                setOut(OutAux5, 1, OutputReason::AuxDelay);
                commit();
            } else {
                startMs(aux5Timers[1], p.pulseDelayIn4Ms());
            }
        }
        // 10.6 Positions.
        if (!delaying) {
            for (int pos = 0; pos < 8; ++pos) {
                if (!confirmedInputs[pos] && pendingInput != pos) {
                    continue;
                }
                confirmedInputs[pos] = false;
                pendingInput = -1;
                if (isCycleStart(pos)) {
                    cycleStart(pos);
                }
                if (pendingCameras[1] != 0) {
                    if (isSecondStage(pos)) {
                        secondStage(pos);
                    }
                    if (!detectStart(pos)) {
                        break;
                    }
                }
            }
        }
    }
    endPass();
}

void CycleController::setCurDetect(int detect)
{
    curDetect = detect;
    if (detectChanged) {
        detectChanged(detect);
    }
}

void CycleController::endPass()
{
    commit();
    runTimer->start(100);
    if (m_port) {
        m_port->feedWatchdog();
    }
}

bool CycleController::isCycleStart(int p) const
{
    const SystemParam& s = P();
    switch (s.systemFunction()) {
    case 2:
        return (p == 0 && s.mouldSide() != 1) || (p == 3 && s.mouldSide() != 0);
    default:
        return p == 0 || (p == 2 && s.separateSignals() != 0);
    }
}

bool CycleController::isSecondStage(int p)
{
    const SystemParam& s = P();
    switch (s.systemFunction()) {
    case 0:
        return p == 2 && s.semiAuto() != 0;
    case 1:
        return (p == 2 && s.mouldSide() != 1) || (p == 3 && s.mouldSide() != 0);
    default:
        return p == 2;
    }
}

bool CycleController::triggerMatches(int k, int p) const
{
    const SystemParam& s = P();
    const int slot = k < 2 ? s.trigInput(k) : s.value[81 + k];
    switch (s.systemFunction()) {
    case 0:
        return slot == p || k == forcedDetect;
    case 1:
        return slot == p || (slot == 255 && (p == 2 || p == 3));
    default:
        return slot == p || (slot == 255 && (p == 0 || p == 3));
    }
}

void CycleController::cycleStamp()
{
    m_host->stampRoundStart();
    // An interval: the monotonic clock, so setting the panel's clock does not
    // show a cycle of minus an hour.
    const qint64 now = clockMonotonicMs() / 100;
    cycleTime = now - cycleStartStamp;
    cycleStartStamp = now;
}

void CycleController::cycleStart(int p)
{
    const SystemParam& s = P();
    std::fill(std::begin(cycleNgCameras), std::end(cycleNgCameras), false);
    m_host->checkDayChange();
    cycleStamp();
    if (noInputWarning) {
        noInputWarning = false;
        m_host->hideWarning();
    } else if (s.inputTimeoutSec() > 0) {
        startMs(inCheckTimer, s.inputTimeoutMs());
    }
    pendingCameras[0] = pendingCameras[1] = 0;
    gDoorClearedAlarm = 0;
    m_productPassed = true;
    if (!(s.systemFunction() == 0 && s.separateSignals() != 0 && p == 2)) {
        // The ejector's cycle begins: a reject signal without a length ends.
        m_ngPulseHeld = false;
    }
    if (gSamplingReview) {
        m_cycleDuringReview = true;
    }
    std::fill(std::begin(ngAreaOutputs), std::end(ngAreaOutputs), 0);
    retriesLeft[0] = 0;
    retriesLeft[1] = s.okNgPulse() != 0 ? 0 : s.reCheckCount();
    const int cams = cameraCount();
    for (int c = 0; c < cams; ++c) {
        for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
            if (detectEnabled(d)) {
                pendingCameras[d & 1] |= 1 << c;
                m_productPassed = m_productPassed && (d & 1) != 0;
            }
            stations[c]->operatorHandled[d] = false;
            resultState[c][d] = 1;
        }
    }
    if (s.okNgPulse() == 0) {
        bool clampOk = true;
        bool ejectOk = true;
        if (s.systemFunction() == 0 && s.separateSignals() == 1) {
            clampOk = p == 2;
            ejectOk = p == 0;
        }
        if (s.preCutClamp() == 0 && s.cutClampOnAlarm() == 0 && clampOk) {
            setOut(OutAllowClamp, 1, OutputReason::CycleStart);
        }
        if (pendingCameras[0] != 0) {
            if (s.ejectorPulseOnNg() != 0 || s.cutEjectorOnAlarm() != 0) {
                // The area outputs and the ejector go to rest for the product
                // result; the clamp keeps what the step above decided, since
                // the cavity of this cycle is not judged yet.
                for (int o = 0; o <= 9; ++o) {
                    if (o != OutAlarm && o != OutAllowClamp) {
                        setOut(o, 0, OutputReason::CycleStart);
                    }
                }
            } else if (s.productNoEjector() == 0 && ejectOk) {
                setOut(OutAllowEjector, 1, OutputReason::CycleStart);
            }
        }
        commit();
    }
    if (s.systemFunction() == 2) {
        curSide = p == 0 ? 1 : 0;
    }
}

void CycleController::secondStage(int p)
{
    const SystemParam& s = P();
    if (s.systemFunction() == 1) {
        if (p == 2 && s.mouldSide() != 1) {
            curSide = 1;
        } else if (p == 3 && s.mouldSide() != 0) {
            curSide = 0;
        }
    }
    pendingCameras[1] = 0;
    const bool twoSided = s.systemFunction() == 1 || s.systemFunction() == 2;
    for (int c = 0; c < cameraCount(); ++c) {
        for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
            stations[c]->operatorHandled[d] = false;
        }
        if (s.value[120] != 0 || (twoSided && s.value[122] != 0)) {
            pendingCameras[1] |= 1 << c;
        }
    }
    if (s.okNgPulse() == 0) {
        if (s.preCutClamp() == 0) {
            setOut(OutAllowClamp, 1, OutputReason::SecondStage);
        }
        commit();
    }
}

bool CycleController::detectStart(int p)
{
    const SystemParam& s = P();
    const int machine = s.systemFunction();
    const int n = (machine == 1 || machine == 2) ? 2 : std::min(gDetectCount, int(DetectsPerCamera));
    for (int k = 0; k < n; ++k) {
        const int d = detectOfTimer(k);
        if (!detectEnabled(d) || detectDelayTimers[k]->isActive() || !triggerMatches(k, p)) {
            continue;
        }
        if (machine == 0 && k == forcedDetect) {
            gLastDetectDelay = 0;
            forcedDetect = -1;
        }
        int delay = s.value[72 + k];
        if (machine == 0 && s.semiAuto() == 0 && s.productDetect() != 0 && k > 0) {
            delay += gLastDetectDelay;
        }
        gLastDetectDelay = delay;
        m_delayStartMs[k] = clockMonotonicMs();
        m_timerDetect[k] = d;
        if (delay <= 0) {
            detectDelayLeft[k] = 0;
            TimerUp(k);
            if (runState() == Stopped) {
                m_host->repaint();
                return false;
            }
        } else {
            detectDelayLeft[k] = delay / 10.0;
            detectDelayTimers[k]->start(100);
            m_state.setCyclePhase(Delaying);
        }
    }
    m_host->repaint();
    return true;
}

void CycleController::TimerUp(int k)
{
    MachineOutputs::Pass pass(m_outputs);
    const SystemParam& s = P();
    // Pre-cut: the clamp is withdrawn 192 x 0.1 s before the cavity inspection,
    // whatever the setting's size.
    if (k == 1 && s.preCutClamp() > 0 && s.okNgPulse() == 0
        && s.preCutClamp() + 0.01 >= detectDelayLeft[1] * 10) {
        setOut(OutAllowClamp, 1, OutputReason::PreCut);
        commit();
    }
    const bool delayed = detectDelayTimers[k]->isActive() && m_timerDetect[k] >= 0;
    setCurDetect(delayed ? m_timerDetect[k] : detectOfTimer(k));
    if (detectDelayLeft[k] > 0.11) {
        detectDelayLeft[k] -= 0.1;
        for (CameraStation* st : stations) {
            st->repaintStation();
        }
        return;
    }
    detectDelayTimers[k]->stop();
    detectDelayLeft[k] = 0;
    m_host->clearCycleValues();
    // Frames from before this detect's delay began say nothing of the mould now.
    struct SinceScope {
        qint64& since;
        explicit SinceScope(qint64& s, qint64 v) : since(s) { since = v; }
        ~SinceScope() { since = -1; }
    } sinceScope(m_judgeSinceMs, m_delayStartMs[k]);
    bool allOk = true;
    std::vector<int> judged;
    for (int c = 0; c < cameraCount(); ++c) {
        judged.push_back(c);
    }
    RunAlgorithms(judged, curDetect);
    m_host->publishCycleValues();
    for (CameraStation* st : stations) {
        allOk = allOk && st->data.resultOk == 1;
    }
    CheckNG(false);
    m_host->updateReportForms();
    m_state.setCyclePhase(Done);
    if (screenMode() != Alarm && allOk && k == 1 && recheckPending == 0 && s.autoTemplateUpdate() != 0) {
        gAutoUpdatePending = 1;
        for (CameraStation* st : stations) {
            st->SaveReTrainImage(1);
        }
    }
}

void CycleController::TimerShow()
{
    showTimer->stop();
    if (screenMode() != Alarm && recheckPending == 0 && shownDetect == curDetect && gDetectCount > 0) {
        int next = (curDetect + 1) % gDetectCount;
        if ((next & 1) == 0 && P().productDetect() == 0) {
            next = (next + 1) % gDetectCount;
        }
        setCurDetect(next);
    }
    m_state.setCyclePhase(Waiting);
    if (screenMode() == ResultShown) {
        m_state.setScreenMode(Live);
        m_host->repaint();
    }
    if (gRetrainPending) {
        gRetrainPending = 0;
        for (CameraStation* st : stations) {
            for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
                if (detectEnabled(d)) {
                    retrain(*st, d);
                }
            }
        }
    } else if (gAutoUpdatePending) {
        gAutoUpdatePending = 0;
        for (CameraStation* st : stations) {
            retrain(*st, 1);
        }
    }
}

void CycleController::InCheck()
{
    MachineOutputs::Pass pass(m_outputs);
    setOut(OutAllowClamp, 1, OutputReason::NoInput);
    commit();
    inCheckTimer->stop();
    m_host->insertRecord(textOf(CycleText::NoInput));
    m_host->showWarning(textOf(CycleText::NoInput));
    noInputWarning = true;
}

void CycleController::StartDetect()
{
    MachineOutputs::Pass pass(m_outputs);
    const SystemParam& s = P();
    // Every caller ends what stood before: the operator's start, a passing
    // re-check of the alarm, the end of template sampling.
    m_outputs.endAlarm(OutputReason::OperatorStart);
    m_outputs.rest(OutputReason::OperatorStart);
    if (m_ngPulseHeld && s.productNoEjector() == 0) {
        // A product's NG pulse runs to its end: the rest levels do not cut
        // the reject signal short.
        setOut(OutAllowEjector, 1, OutputReason::Ng);
    }
    if (s.cutEjectorWhenClamp() != 0) {
        setOut(OutAllowEjector, 1, OutputReason::OperatorStart);
    }
    if (s.separateSignals() == 1 && s.cutEjectorAfterOk() != 0 && s.ejectorPulse() > 0) {
        setOut(OutAllowEjector, 1, OutputReason::OperatorStart);
    }
    commit();
    m_state.setScreenMode(Live);
    retriesLeft[0] = retriesLeft[1] = 0;
    recheckPending = 0;
    ResetRun();
    for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
        detectDelayLeft[d] = 0;
    }
    m_state.setRunState(Detecting);
}

void CycleController::ResetRun()
{
    for (CameraStation* st : stations) {
        StationData& data = st->data;
        data.resultOk = data.areaOk = data.tempOk = 1;
        for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
            for (int j = 0; j < AreasPerDetect; ++j) {
                data.roiOk[d * AreasPerDetect + j] = 1;
                data.roiValue[d * AreasPerDetect + j] = 0;
            }
        }
    }
}

void CycleController::StopDetect()
{
    MachineOutputs::Pass pass(m_outputs);
    m_outputs.rest(OutputReason::OperatorStop);
    if (P().noClampWhenStopped() == 1) {
        setOut(OutAllowClamp, 1, OutputReason::OperatorStop);
    }
    commit();
    SetStopDetect();
}

void CycleController::SetStopDetect()
{
    pendingCameras[curDetect & 1] = 0;
    // A stopped monitor re-checks nothing: a pass would grant what the stop
    // (or the alarm) holds.
    recheckPending = 0;
    for (int k = 0; k < gDetectCount && k < DetectsPerCamera; ++k) {
        if (detectDelayTimers[k]->isActive()) {
            detectDelayTimers[k]->stop();
        }
        detectDelayLeft[k] = 0;
    }
    m_state.setRunState(Stopped);
}

void CycleController::SlotStartStop()
{
    const SystemParam& s = P();
    if (m_host->areaPanelVisible()) {
        return;
    }
    if (runState() == Stopped) {
        MachineOutputs::Pass pass(m_outputs);
        m_host->setReadData(0, 1);
        StartDetect();
        if (s.cutClampAfterOk() != 0 && s.clampPulse() > 0) {
            setOut(OutAllowClamp, 1, OutputReason::OperatorStart);
            commit();
        }
        m_host->insertRecord(textOf(CycleText::StartedByHand));
    } else {
        const bool access = (s.pswStopDetect() != 0 && s.isPswUsed() == 0) ? m_host->passwordBox()
                                                                          : m_host->checkUserLogin() != 0;
        if (access && m_host->ask(textOf(CycleText::StopQuestion)) && !m_host->areaPanelVisible()
            && runState() != Stopped) {
            MachineOutputs::Pass pass(m_outputs);
            m_host->setReadData(0, 0);
            StopDetect();
            m_host->insertRecord(textOf(CycleText::StoppedByHand));
        }
    }
    m_host->repaint();
}

void CycleController::SlotManualTrig(int detect)
{
    if (m_host->areaPanelVisible()) {
        return;
    }
    if (detect == 0 && P().productDetect() == 0) {
        m_host->warnModal(textOf(CycleText::ProductDetectOff));
        return;
    }
    manualTrigDetect = detect;
    for (CameraStation* st : stations) {
        for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
            st->operatorHandled[d] = false;
        }
        if (st->isSimulated && st->pDriver) {
            st->pDriver->softTrigger();
        }
    }
}
