// The evaluating half of the cycle: one camera's inspection of a detect, the
// judgement over all cameras, the result pulses and template re-sampling.

#include "cyclecontroller.h"

#include "camerainterface.h"
#include "cameraregistry.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "controlport.h"
#include "deferredpeers.h"
#include "inspectionpool.h"
#include "failimageslots.h"
#include "globals.h"
#include "platformhelpers.h"
#include "productioncounters.h"
#include "systemclock.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDebug>
#include <QPointer>
#include <QTimer>

#include <exception>

#include <algorithm>
#include <cstring>
#include <mutex>

void CycleController::RunAlgorithm(int c, int d)
{
    if (c < 0 || c >= cameraCount() || d < 0 || d >= DetectsPerCamera) {
        return;
    }
    if (beginJudge(c, d, nullptr) == Begin::Done) {
        return;
    }
    CameraStation& st = *stations[size_t(c)];
    if (!stationOnline(st)) {
        judgeOffline(c);
    } else {
        try {
            inspect(st, d);
        } catch (...) {
            judgeFailed(c, std::current_exception());
        }
    }
    finishJudge(c, d);
}

void CycleController::judgeFailed(int c, const std::exception_ptr& error)
{
    // An engine that failed has judged nothing: the camera is NG, and the
    // program goes on to say so.
    QString what = QStringLiteral("unknown error");
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        what = QString::fromLocal8Bit(e.what());
    } catch (...) {
    }
    qCritical().noquote() << "inspection of camera" << c + 1 << "failed:" << what;
    CameraStation& st = *stations[size_t(c)];
    st.data.resultOk = 0;
    st.data.areaOk = 0;
    m_host->insertRecord(textOf(CycleText::InspectionFailed).arg(c + 1).arg(what));
}

void CycleController::setWorkers(int workers)
{
    m_workers = std::max(1, workers);
    m_pool.reset();
}

int CycleController::workers() const
{
    return m_workers > 0 ? m_workers : InspectionPool::defaultWorkers(cameraCount());
}

void CycleController::stopWorkers()
{
    m_pool.reset();
    m_workers = 1;
}

InspectionPool* CycleController::pool()
{
    const int n = workers();
    if (n <= 1) {
        m_pool.reset();
        return nullptr;
    }
    if (!m_pool || m_pool->workers() != n) {
        m_pool = std::make_unique<InspectionPool>(n);
        if (!m_quitHooked) {
            // The workers are joined before the exit processing, while the
            // stations they judge still exist.
            m_quitHooked = true;
            addQuitHook(QStringLiteral("inspection workers"), [self = QPointer<CycleController>(this)] {
                if (self) {
                    self->stopWorkers();
                }
            });
        }
    }
    return m_pool.get();
}

bool CycleController::poolable(const CameraStation& st, int d) const
{
    // Temperatures come from the thermal camera's driver, which is asked on
    // the GUI thread only: such a station is judged there, at its turn.
    if (st.isThermal || !st.pLiveSingleton) {
        return false;
    }
    const CammerSingleton& live = *st.pLiveSingleton;
    const int count = std::clamp(live.roiCount[d], 0, AreasPerDetect);
    for (int j = 0; j < count; ++j) {
        if (live.roiFunction[d * AreasPerDetect + j] == FuncTempAlarm) {
            return false;
        }
    }
    return true;
}

void CycleController::RunAlgorithms(const std::vector<int>& cameras, int d)
{
    // A camera named twice would be judged by two workers at once: such a
    // list (no caller makes one) is judged one after the other.
    std::vector<int> sorted = cameras;
    std::sort(sorted.begin(), sorted.end());
    const bool distinct = std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
    InspectionPool* workers = runState() == Sampling || !distinct ? nullptr : pool();
    if (!workers || cameras.size() < 2 || d < 0 || d >= DetectsPerCamera) {
        for (int c : cameras) {
            RunAlgorithm(c, d);
        }
        judgeAfterSampling(cameras, d);
        return;
    }

    // 1. On the GUI thread, in camera order: what comes before each engine
    // (nothing of it depends on another camera's judgement).
    struct Turn {
        int camera = -1;
        QString rawLine;
        bool online = false;
        std::unique_ptr<DeferredPeers> deferred;
        InspectionPeers* peers = nullptr;
        size_t job = 0;
    };
    std::vector<Turn> turns;
    std::vector<std::function<void()>> jobs;
    turns.reserve(cameras.size());
    for (int c : cameras) {
        if (c < 0 || c >= cameraCount()) {
            continue;
        }
        Turn t;
        t.camera = c;
        if (beginJudge(c, d, &t.rawLine) == Begin::Done) {
            // Only in sampling, which never comes here.
            continue;
        }
        CameraStation& st = *stations[size_t(c)];
        t.online = stationOnline(st);
        if (t.online && poolable(st, d) && st.data.peers) {
            // The engine's questions, answered as they stand before any
            // camera of the detect is judged: the running detect does not
            // change, and of the records' current record the engine keeps
            // only what no camera changes (the round's start).
            t.peers = st.data.peers;
            t.deferred = std::make_unique<DeferredPeers>(t.peers->currentDetect(), t.peers->currentResult());
            t.job = jobs.size();
            jobs.push_back([this, &st, d] { inspect(st, d); });
        }
        turns.push_back(std::move(t));
    }
    for (Turn& t : turns) {
        if (t.deferred) {
            stations[size_t(t.camera)]->data.peers = t.deferred.get();
        }
    }

    // 2. The engines, side by side; the GUI thread waits, so no timer or
    // input can act between the judgements and their results.
    std::vector<std::exception_ptr> errors;
    workers->run(jobs, errors);
    for (Turn& t : turns) {
        if (t.deferred) {
            stations[size_t(t.camera)]->data.peers = t.peers;
        }
    }

    // 3. On the GUI thread, in camera order: each camera's calls as they
    // would have come one after the other.
    for (Turn& t : turns) {
        CameraStation& st = *stations[size_t(t.camera)];
        if (!t.rawLine.isEmpty()) {
            m_host->insertRecord(t.rawLine);
        }
        if (!t.online) {
            judgeOffline(t.camera);
        } else if (t.deferred) {
            t.deferred->replay(st, *t.peers);
            if (errors[t.job]) {
                judgeFailed(t.camera, errors[t.job]);
            }
        } else {
            try {
                inspect(st, d);
            } catch (...) {
                judgeFailed(t.camera, std::current_exception());
            }
        }
        finishJudge(t.camera, d);
    }
    judgeAfterSampling(cameras, d);
}

void CycleController::judgeAfterSampling(const std::vector<int>& cameras, int d)
{
    // Sampling ended without the operator's review: the frames taken as
    // templates are no verdict on the mould, so this detect is judged now.
    if (!m_judgeAfterSampling || runState() == Sampling) {
        return;
    }
    m_judgeAfterSampling = false;
    RunAlgorithms(cameras, d);
}

CycleController::Begin CycleController::beginJudge(int c, int d, QString* rawLine)
{
    const SystemParam& s = P();
    CameraStation& st = *stations[size_t(c)];
    StationData& data = st.data;
    pendingCameras[d & 1] &= ~(1 << c);

    // Raw frames are a record for the plant, never at the cost of the disk
    // the pictures and the records need: below the floor they are skipped.
    if (saveOriginalImages) {
        if (m_host->saveRawFrame(c, d)) {
            m_rawSkipped = false;
        } else if (!m_rawSkipped) {
            m_rawSkipped = true;
            if (rawLine) {
                *rawLine = textOf(CycleText::RawFramesSkipped);
            } else {
                m_host->insertRecord(textOf(CycleText::RawFramesSkipped));
            }
        }
    }

    if (runState() == Sampling) {
        if (!st.samplePending[d]) {
            st.repaintStation();
            return Begin::Done;
        }
        if (detectEnabled(d)) {
            st.SaveReTrainImage(d);
        }
        st.samplePending[d] = false;
        data.resultOk = 1;
        for (CameraStation* other : stations) {
            for (int e = 0; e < gDetectCount && e < DetectsPerCamera; ++e) {
                if (other->samplePending[e] && detectEnabled(e)) {
                    st.repaintStation();
                    return Begin::Done;
                }
            }
        }
        StartDetect();
        if (s.okNgPulse() == 0) {
            setOut(OutAllowClamp, 1, OutputReason::Sampling);
            commit();
        }
        m_state.setRunState(Sampling);
        m_cycleDuringReview = false;
        if (m_host->checkUserLogin() == 0) {
            m_state.setRunState(Detecting);
            m_judgeAfterSampling = true;
            return Begin::Done;
        }
        m_state.setScreenMode(AreaSetting);
        m_host->enterSamplingReview();
        gSamplingReview = 1;
        return Begin::Done;
    }
    return Begin::Judge;
}

void CycleController::judgeOffline(int c)
{
    // A station that lost its camera still holds the frame from before the
    // loss; judging that frame could pass a mould that is not empty.
    StationData& data = stations[size_t(c)]->data;
    data.resultOk = 0;
    data.areaOk = 0;
    m_host->insertRecord(textOf(CycleText::StationOffline).arg(c + 1));
}

void CycleController::finishJudge(int c, int d)
{
    const SystemParam& s = P();
    CameraStation& st = *stations[size_t(c)];
    StationData& data = st.data;
    if (data.resultOk == 1 && c < 32) {
        m_lostStations &= ~(1u << c);
    }
    if (data.resultOk == 0) {
        if (s.okNgPulse() == 0) {
            bool alarmRule = true;
            if ((d & 1) == 0) {
                if (s.ejectorPulseOnNg() != 0) {
                    alarmRule = false;
                } else if (s.productNoEjector() == 0) {
                    setOut(OutAllowEjector, 1, OutputReason::Ng);
                    if (s.preCutClamp() == 0 && s.cutClampOnAlarm() == 0 && s.separateSignals() == 0) {
                        setOut(OutAllowClamp, 1, OutputReason::Ng);
                    }
                }
            } else {
                // A cavity NG withdraws the clamp at once, re-checks left or not.
                setOut(OutAllowClamp, 1, OutputReason::Ng);
            }
            if (alarmRule && retriesLeft[d & 1] == 0) {
                // A final NG: the alarm stands until a passing evaluation or
                // the operator ends it, and holds clamp and ejector meanwhile
                // whatever the pre-cut, alarm-cut or separate-signal settings
                // left granted for the cycle.
                alarmOffTimer->stop();
                m_outputs.raiseAlarm(OutputReason::FinalNg);
            }
        }
        if (s.ejectorPulseOnNg() != 0 && (d & 1) == 0 && st.pLiveSingleton) {
            const CammerSingleton& live = *st.pLiveSingleton;
            const int count = std::min<int>(live.roiCount[d], AreasPerDetect);
            for (int j = 0; j < count; ++j) {
                const int slot = d * AreasPerDetect + j;
                const int channel = live.roiOutput[j];
                if (data.roiOk[slot] == 0 && channel >= 0 && channel < 10) {
                    ngAreaOutputs[channel] = 1;
                }
            }
        }
        if (c < MaxCameras && resultState[c][d] == 1 && retriesLeft[d & 1] == 0 && !data.lastImage.empty()) {
            const size_t n = std::min(data.lastImage.size(), size_t(std::max(0, data.bufferSize)));
            std::vector<uchar>& ring = st.recentImages[d][st.recentCount[d] % CameraStation::RecentPictures];
            ring.assign(data.lastImage.begin(), data.lastImage.begin() + long(n));
            ++st.recentCount[d];
        }
    }
    commit();
    st.repaintStation();
}

void CycleController::CheckNG(bool isClearNG)
{
    if (gSamplingReview) {
        return;
    }
    const SystemParam& s = P();
    const int g = curDetect & 1;
    const int cams = cameraCount();
    bool anyNg = false;
    bool areaNg = false;
    bool tempNg = false;
    for (int c = 0; c < cams; ++c) {
        const StationData& data = stations[c]->data;
        if (data.resultOk == 0) {
            anyNg = true;
        }
        areaNg = areaNg || data.areaOk == 0;
        tempNg = tempNg || data.tempOk == 0;
        m_host->setReadData(153 + 3 * c, data.resultOk == 1 ? 1 : 2);
        m_host->setReadData(154 + 3 * c, data.areaOk == 1 ? 1 : 2);
        m_host->setReadData(155 + 3 * c, data.tempOk == 1 ? 1 : 2);
    }
    m_host->setReadData(150, anyNg ? 2 : 1);
    m_host->setReadData(151, areaNg ? 2 : 1);
    m_host->setReadData(152, tempNg ? 2 : 1);
    lastCycleNg = anyNg;

    if (!anyNg) {
        setOut(OutAux5, 0, OutputReason::Pass);
        commit();
    }

    // The rest of the evaluation (a pass, an NG with or without a re-check,
    // a final NG) is reached from several branches; `next` says which.
    enum Next { AfterPass, AfterNg };
    Next next = AfterPass;
    if (s.okNgPulse() != 0) {
        setOut(OutAllowClamp, anyNg ? 1 : 0, OutputReason::ResultPulse);
        setOut(OutAllowEjector, anyNg ? 0 : 1, OutputReason::ResultPulse);
        setOut(OutAlarm, anyNg ? 1 : 0, OutputReason::ResultPulse);
        commit();
        if (s.clampPulse() > 0) {
            startMs(clampPulseTimer, s.clampPulseMs());
        }
        next = anyNg ? AfterNg : AfterPass;
    } else if (!anyNg) {
        // What a lost camera held is free once every camera is back and has
        // passed an inspection since, or the operator has decided for it.
        bool allOnline = true;
        for (CameraStation* st : stations) {
            allOnline = allOnline && stationOnline(*st);
        }
        if (allOnline && runState() != Sampling && (m_lostStations == 0 || isClearNG)) {
            m_lostStations = 0;
            m_outputs.holdForCamera(false, OutputReason::Pass);
        }
        if (g == 0) {
            m_productPassed = true;
            if (s.productNoEjector() == 0 && s.ejectorPulseOnNg() == 0) {
                setOut(OutAllowEjector, 0, OutputReason::Pass);
            }
        } else if (!gRetrainPending) {
            setOut(OutAllowClamp, 0, OutputReason::Pass);
        }
        recheckPending = 0;
        commit();
        if (screenMode() == Alarm && !(s.ejectorPulseOnNg() != 0 && g == 0)) {
            m_host->setReadData(1, 0);
            m_host->leaveAlarmScreen(curCamera());
            if (g == 0) {
                m_outputs.endAlarm(OutputReason::Pass);
                setOut(OutAlarm, 0, OutputReason::Pass);
                setOut(OutAllowEjector, 0, OutputReason::Pass);
                if (pendingCameras[1] != 0 && s.okNgPulse() == 0) {
                    // The product passed, but this cycle's cavity is not
                    // judged yet: whatever the setting left granted at the
                    // cycle start, the clamp waits for that inspection.
                    setOut(OutAllowClamp, 1, OutputReason::ReCheck);
                }
                commit();
                m_state.setScreenMode(Live);
                ResetRun();
                m_state.setRunState(Detecting);
                if (s.systemFunction() == 0 && s.semiAuto() == 0) {
                    pendingInput = 1;
                    forcedDetect = 1;
                }
            } else {
                StartDetect();
                if (!m_productPassed && s.okNgPulse() == 0 && s.productNoEjector() == 0
                    && s.ejectorPulseOnNg() == 0 && s.cutEjectorOnAlarm() == 0) {
                    // The cavity is clear, but this cycle's product was never
                    // found good: the ejector waits for the next cycle's.
                    setOut(OutAllowEjector, 1, OutputReason::Pass);
                    commit();
                }
            }
        }
        next = AfterPass;
    } else {
        next = AfterNg;
        if (g == 0) {
            m_productPassed = false;
        }
        if ((s.ejectorPulseOnNg() != 0 && g == 0) || screenMode() == Alarm) {
            // Nothing more: a product NG pulse or an alarm already on screen
            // neither re-checks nor raises a second alarm.
        } else if (retriesLeft[g] != 0) {
            recheckPending = 1;
        } else {
            if (doorTrigger) {
                setOut(OutAllowClamp, 1, OutputReason::FinalNg);
                commit();
            }
            // The alarm stands here whether or not a camera was judged in
            // this pass (a re-check that found its detect switched off ends
            // here with the NG it had).
            alarmOffTimer->stop();
            m_outputs.raiseAlarm(OutputReason::FinalNg);
            m_host->setBacklightOn();
            m_host->setReadData(1, g + 1);
            SetStopDetect();
            m_state.setShownCamera(cams == 1 ? 0 : gCameraCount);
            m_state.setScreenMode(Alarm);
            m_host->enterAlarmScreen(curCamera());
            recheckPending = 0;
            QString line;
            for (int c = 0; c < cams; ++c) {
                if (stations[c]->data.resultOk == 0) {
                    line += textOf(CycleText::AlarmCamera).arg(c + 1);
                }
            }
            line.chop(1);
            line += textOf(CycleText::AlarmSuffix);
            m_host->insertRecord(line);
        }
    }

    bool showResult = true;
    if (next == AfterPass) {
        if (s.tempAlarmNoStop() != 0 && tempNg) {
            setOut(OutAlarm, 1, OutputReason::TempAlarm);
            commit();
            startMs(alarmOffTimer, s.alarmDurationMs());
        }
    } else {
        showResult = (s.ejectorPulseOnNg() != 0 && g == 0) || s.okNgPulse() != 0;
    }
    if (showResult && screenMode() != Alarm && screenMode() != AreaSetting) {
        m_state.setScreenMode(ResultShown);
        showTimer->start(2000);
        shownDetect = curDetect;
        m_host->repaint();
    }

    // 9. The ejector is cut again once the cavity was found empty.
    if (!anyNg && g == 1 && detectEnabled(0) && s.cutEjectorWhenClamp() != 0 && s.productNoEjector() == 0
        && s.ejectorPulseOnNg() == 0) {
        setOut(OutAllowEjector, 1, OutputReason::Pass);
        commit();
    }

    // 10. Counting. The counters reach "count.txt" whenever they change, so a
    // power-off during the alarm that follows does not lose the NG cycle.
    if ((retriesLeft[g] == 0 || !anyNg) && !isClearNG && !manualCycle) {
        for (int c = 0; c < cams && c < MaxCameras; ++c) {
            if (stations[c]->data.resultOk == 0) {
                cycleNgCameras[c] = true;
            }
        }
        if (g == 1) {
            bool cycleNg = false;
            for (int c = 0; c < cams && c < MaxCameras; ++c) {
                if (cycleNgCameras[c]) {
                    gNgCount[c] += 1;
                    cycleNg = true;
                }
                gTotalCount[c] += 1;
            }
            gNgCycles += cycleNg ? 1 : 0;
            gTotalCycles += 1;
            m_host->publishCounters();
            m_host->countWrite();
        }
    }

    // 11. Result pulses.
    if (s.ejectorPulseOnNg() != 0 && g == 0 && anyNg) {
        for (int i = 0; i < 10; ++i) {
            if (ngAreaOutputs[i]) {
                setOut(gNgAreaOutputMap[i], 1, OutputReason::ResultPulse);
            }
        }
        if (s.productNoEjector() == 0) {
            setOut(OutAllowEjector, 1, OutputReason::ResultPulse);
            m_ngPulseHeld = true;
        }
        commit();
        if (s.ejectorPulse() > 0) {
            startMs(ngPulseTimer, s.ejectorPulseMs());
        }
    }
    if (!anyNg) {
        if (s.cutClampAfterOk() != 0 && g == 1 && s.clampPulse() > 0) {
            startMs(clampPulseTimer, s.clampPulseMs());
        }
        if (s.cutEjectorAfterOk() != 0 && g == 0 && s.ejectorPulse() > 0) {
            startMs(ejectorPulseTimer, s.ejectorPulseMs());
        }
    }

    handlePictures(g, anyNg);
    if (!anyNg || s.okNgPulse() != 0) {
        handOver(anyNg);
    }
    // 14. After every evaluation that ends a cycle without alarm (the counters
    // of an NG cycle were written when they changed).
    if ((!anyNg || s.okNgPulse() != 0) && g == 1) {
        m_host->countWrite();
    }
    manualCycle = false;
}

void CycleController::handlePictures(int g, bool /*anyNg*/)
{
    const SystemParam& s = P();
    const int d = curDetect;
    if (d < 0 || d >= DetectsPerCamera) {
        return;
    }
    for (int c = 0; c < cameraCount() && c < MaxCameras; ++c) {
        int& st = resultState[c][d];
        const bool ok = stations[c]->data.resultOk == 1;
        if (st == 1) {
            bool composed = false;
            if (!ok) {
                if (gMaxNgImages == 0) {
                    st = 0;
                } else if (retriesLeft[g] == 0) {
                    st = ((s.ejectorPulseOnNg() != 0 && g == 0) || s.okNgPulse() != 0) ? 9 : 3;
                    m_host->saveFailImage(c, d, 0);
                    composed = true;
                }
            } else if (gMaxOkImages == 0) {
                st = 0;
            } else {
                st = 2;
                m_host->saveFailImage(c, d, 1);
                composed = true;
            }
            if (composed && gStatisticsEnabled) {
                m_host->addStatistics(clockNow().time().hour(), ok ? 1 : 0, c, d);
            }
        }
        if (st == 4 || st == 5) {
            st = noteState(c, d, 0, st);
        } else if (st == 7) {
            if (ok) {
                st = noteState(c, d, 0, st);
                m_host->saveFailImage(c, d, 1);
                st = noteState(c, d, 1, st);
            } else {
                st = 3;
            }
        }
    }
}

int CycleController::noteState(int c, int d, int kind, int state)
{
    m_host->updateFailImage(c, d, kind, state);
    switch (state) {
    case 4:
    case 5:
        return 9;
    case 7:
        return 8;
    case 8:
        return 10;
    default:
        return state;
    }
}

void CycleController::handOver(bool /*anyNg*/)
{
    std::lock_guard<std::mutex> lock(*gMutexTable[9]);
    for (int c = 0; c < cameraCount() && c < MaxCameras; ++c) {
        for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
            int& st = resultState[c][d];
            if (st == 2 || st == 10) {
                gFailImageReady[FailImageSlots::index(c, d, 1)] = 1;
            }
            if (st == 9 || st == 10) {
                gFailImageReady[FailImageSlots::index(c, d, 0)] = 1;
            }
            if (st == 2 || st == 9 || st == 10) {
                st = 0;
            }
        }
    }
}

std::vector<CycleReportRow> CycleController::reportItems(int c) const
{
    std::vector<CycleReportRow> rows;
    const int d = curDetect;
    if (c < 0 || c >= cameraCount() || d < 0 || d >= DetectsPerCamera || !stations[size_t(c)]->pLiveSingleton) {
        return rows;
    }
    const CameraStation& st = *stations[size_t(c)];
    const CammerSingleton& set = *st.pLiveSingleton;
    const int count = std::min<int>(set.roiCount[d], AreasPerDetect);
    for (int j = 0; j < count; ++j) {
        const int s = d * AreasPerDetect + j;
        CycleReportRow row;
        row.index = j + 1;
        row.toolName = detectFunctionName(set.roiFunction[s]);
        row.value = st.data.roiValue[s];
        row.ok = st.data.roiOk[s] != 0;
        switch (set.roiFunction[s]) {
        case FuncSimilarity:
            row.lower = set.roiLower[s];
            break;
        case FuncSpot:
            row.lower = set.roiLower[s];
            row.upper = set.roiUpper[s];
            break;
        case FuncTempAlarm:
            row.lower = qint16(set.roiLower[s] & 0xFFFF);
            row.upper = qint16(set.roiUpper[s] & 0xFFFF);
            break;
        default:
            row.upper = set.roiUpper[s];
            break;
        }
        rows.push_back(row);
    }
    return rows;
}

void CycleController::OutTimerOutNG()
{
    MachineOutputs::Pass pass(m_outputs);
    const SystemParam& s = P();
    ngPulseTimer->stop();
    m_ngPulseHeld = false;
    // The pulse ends for the ejector only while the cycle runs (a stop holds
    // the outputs at rest); area channels 0 and 1 are the clamp and the
    // ejector permissions, never released here: only a passing cavity
    // evaluation grants the clamp.
    if (s.productNoEjector() == 0 && runState() != Stopped) {
        setOut(OutAllowEjector, 0, OutputReason::PulseEnd);
    }
    if (s.ejectorPulseOnNg() != 0) {
        for (int i = 0; i < 10; ++i) {
            const int out = gNgAreaOutputMap[i];
            if (ngAreaOutputs[i] && out > OutAlarm) {
                setOut(out, 0, OutputReason::PulseEnd);
            }
        }
    }
    commit();
}

void CycleController::OutTimerNotAllowClose()
{
    MachineOutputs::Pass pass(m_outputs);
    const SystemParam& s = P();
    clampPulseTimer->stop();
    if (s.okNgPulse() != 0) {
        setOut(OutAllowClamp, 0, OutputReason::PulseEnd);
        setOut(OutAllowEjector, 0, OutputReason::PulseEnd);
        setOut(OutAlarm, 0, OutputReason::PulseEnd);
        commit();
    } else if (runState() != Stopped) {
        setOut(OutAllowClamp, 1, OutputReason::PulseEnd);
        commit();
    }
}

void CycleController::OutTimerNotAllowThimble()
{
    MachineOutputs::Pass pass(m_outputs);
    const SystemParam& s = P();
    ejectorPulseTimer->stop();
    if (s.okNgPulse() != 0) {
        // The product's OK pulse ends; an NG pulse of a later result on the
        // clamp output is the clamp timer's to end, not this one's.
        if (!lastCycleNg) {
            setOut(OutAllowClamp, 0, OutputReason::PulseEnd);
        }
        setOut(OutAllowEjector, 0, OutputReason::PulseEnd);
        commit();
    } else if (runState() != Stopped) {
        setOut(OutAllowEjector, 1, OutputReason::PulseEnd);
        commit();
    }
}

void CycleController::OutTimerAlarmOff()
{
    MachineOutputs::Pass pass(m_outputs);
    alarmOffTimer->stop();
    // The temperature pulse ends; a standing alarm is not this timer's.
    setOut(OutAlarm, 0, OutputReason::TempAlarm);
    commit();
}

void CycleController::SlotReTrain()
{
    const SystemParam& s = P();
    if (m_host->areaPanelVisible() || m_host->checkUserLogin() == 0) {
        return;
    }
    if (!m_host->ask(textOf(CycleText::Resample)) || m_host->areaPanelVisible() || screenMode() == Alarm
        || m_outputs.alarmStanding()) {
        return;
    }
    MachineOutputs::Pass pass(m_outputs);
    m_cycleDuringReview = false;
    m_judgeAfterSampling = false;
    m_state.setScreenMode(Live);
    for (CameraStation* st : stations) {
        st->data.resultOk = 1;
        for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
            for (int j = 0; j < AreasPerDetect; ++j) {
                st->data.roiOk[d * AreasPerDetect + j] = 1;
            }
        }
    }
    if (runState() == Stopped) {
        StartDetect();
        if (s.cutClampAfterOk() != 0 && s.clampPulse() > 0) {
            setOut(OutAllowClamp, 1, OutputReason::Sampling);
            commit();
        }
    }
    m_state.setRunState(Sampling);
    m_host->tempDeleteAll();
    for (CameraStation* st : stations) {
        for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
            st->samplePending[d] = detectEnabled(d);
            std::vector<uchar>& mask = st->data.ignoreMasks[d];
            std::fill(mask.begin(), mask.end(), uchar(0));
            st->SaveIgnoreMask(d);
        }
    }
    m_host->insertRecord(textOf(CycleText::Resampling));
    m_host->saveCameraSerials();
    m_host->repaint();
}

void CycleController::BackTrain()
{
    MachineOutputs::Pass pass(m_outputs);
    const SystemParam& s = P();
    if (m_cycleDuringReview) {
        // The mould opened again while the operator reviewed the templates:
        // the sample speaks for its own cycle only. The engines learn the
        // reviewed templates now and judge the cycle that is open; that
        // evaluation, not the review, grants the clamp.
        m_cycleDuringReview = false;
        m_host->insertRecord(textOf(CycleText::CycleDuringReview));
        m_state.setRunState(Detecting);
        for (CameraStation* st : stations) {
            for (int d = 0; d < gDetectCount && d < DetectsPerCamera; ++d) {
                if (detectEnabled(d)) {
                    retrain(*st, d);
                }
            }
        }
        if (s.okNgPulse() == 0) {
            setOut(OutAllowClamp, 1, OutputReason::ReviewEnd);
            commit();
        }
        const int cavity = enabledDetectOfTimer(1);
        m_state.setCyclePhase(Done);
        if (cavity < 0) {
            return;
        }
        setCurDetect(cavity);
        std::vector<int> all;
        for (int c = 0; c < cameraCount(); ++c) {
            all.push_back(c);
        }
        RunAlgorithms(all, cavity);
        CheckNG(false);
        return;
    }
    if (s.okNgPulse() == 0) {
        // The reviewed templates were taken from the empty mould: that sample
        // is the cycle's cavity evaluation.
        setOut(OutAllowClamp, 0, OutputReason::ReviewEnd);
        if (s.cutEjectorWhenClamp() != 0 && detectEnabled(0) && s.productNoEjector() == 0
            && s.ejectorPulseOnNg() == 0 && s.systemFunction() == 0) {
            setOut(OutAllowEjector, 1, OutputReason::ReviewEnd);
        }
    }
    commit();
    m_state.setRunState(Detecting);
    CheckNG(true);
    m_state.setCyclePhase(Done);
    gRetrainPending = 1;
}

void CycleController::ReCheck()
{
    MachineOutputs::Pass pass(m_outputs);
    const SystemParam& s = P();
    const int machine = s.systemFunction();
    const int d = curDetect;
    const int pos = (machine == 1 || machine == 2) ? (d & 1) : d;
    if (pos < 0 || pos > 1) {
        return;
    }
    std::vector<int> cams;
    for (int c = 0; c < cameraCount() && c < MaxCameras; ++c) {
        if (detectEnabled(d) && !stations[c]->operatorHandled[d]) {
            cams.push_back(c);
        }
    }
    if (cams.empty() && m_outputs.alarmStanding()) {
        // Nothing inspected is nothing passed: the detect was switched off
        // meanwhile or every camera is left to the operator. The alarm stays.
        qWarning() << "re-check of detect" << d + 1 << "inspected no camera; the alarm stays";
        m_host->insertRecord(textOf(CycleText::NothingChecked));
        return;
    }
    ResetRun();
    pendingCameras[pos] = 0;
    if (pos == 1) {
        setOut(OutAllowClamp, 1, OutputReason::ReCheck);
    } else if (s.productNoEjector() == 0 && s.ejectorPulseOnNg() == 0 && s.cutEjectorOnAlarm() == 0) {
        setOut(OutAllowEjector, 1, OutputReason::ReCheck);
    }
    commit();
    for (int c : cams) {
        pendingCameras[pos] |= 1 << c;
        if (resultState[c][d] == 3) {
            resultState[c][d] = 7;
        }
    }
    RunAlgorithms(cams, d);
    CheckNG(true);
}
