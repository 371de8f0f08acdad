#pragma once

// The monitor's promise, stated once, from what happens at the machine and on
// the screen: no word on the line grants the clamp or the ejector while a
// camera's latest evaluation is NG or not yet made, or while an alarm stands.
//
// The model knows the settings, the positions the machine confirms, the
// cameras' verdicts, cameras and the link going away, and the operator's
// commands. It knows nothing of how the cycle controller keeps its state.
//
// Where the operator has chosen otherwise, the model allows it, and only
// there (exemptions, all in this file):
// - result-pulse mode (156): the outputs are result pulses, not permissions;
// - before the first cycle start after the program or the operator starts
//   detection: the outputs are at the rest levels the operator expects;
// - detection stopped by the operator: rest levels, the clamp withdrawn when
//   128 says so;
// - template re-sampling until the review begins: the operator has declared
//   the frames good;
// - an unjudged cavity with 158 (clamp cut on alarm only) or 192 (clamp cut
//   just before the cavity inspection), until an alarm stands in that cycle;
//   an unjudged product with 157 (ejector cut on alarm only) or 152 (product
//   NG as an ejector pulse), whose NG withdraws the ejector for the pulse;
// - standard machine with 159 (separate signals): the clamp's cycle starts at
//   position 2, the ejector's at position 0.

#include <QString>

#include <vector>

struct SafetySettings {
    int machine = 0;          // 189: 0 standard, 1 two-colour, 2 rotary
    bool detect[4] = {};      // 119..122: detect enabled (even product, odd cavity)
    int reChecks = 0;         // 143
    bool pulseMode = false;   // 156
    bool ngPulse = false;     // 152
    bool noEjector = false;   // 151: product results never drive the ejector
    bool ejectorOnAlarm = false; // 157
    bool clampOnAlarm = false;   // 158
    bool separate = false;    // 159
    int preCut = 0;           // 192
    bool noClampStopped = false; // 128
    int mouldSide = 0;        // 191

    bool productDetect() const { return detect[0] || detect[2]; }
    bool cavityDetect() const { return detect[1] || detect[3]; }
};

class SafetyModel {
public:
    enum class Verdict { None, Ok, Ng };

    SafetyModel(const SafetySettings& s, int cameras) : m_cycle(s), m_live(s), m_product(size_t(cameras)), m_cavity(size_t(cameras))
    {
        m_lost.assign(size_t(cameras), false);
    }

    // A setting changed on the settings page mid-cycle: what a cycle must
    // have judged is fixed at its start; how results are handled follows the
    // live setting. Where the two differ, the model allows what either does.
    // A larger re-check count counts for the cycle in progress too: the
    // cycle may take up the new count when its start reaches it late (a
    // position seen while a camera was away).
    void settingsChanged(const SafetySettings& s)
    {
        if (!s.pulseMode && s.reChecks > m_live.reChecks) {
            m_budget += s.reChecks - m_live.reChecks;
        }
        m_live = s;
    }

    // --- the machine
    // A position the machine confirmed while detection runs.
    void confirmed(int p)
    {
        if (m_stopped || m_exemptSampling) {
            return;
        }
        const bool start = m_cycle.machine == 2 ? ((p == 0 && m_cycle.mouldSide != 1) || (p == 3 && m_cycle.mouldSide != 0))
                                            : (p == 0 || (p == 2 && m_cycle.separate));
        if (!start) {
            return;
        }
        m_cycle = m_live;
        m_fresh = false;
        const bool split = m_cycle.machine == 0 && m_cycle.separate;
        if (!split || p == 0) {
            newCycleFor(m_product);
            m_ngPulseRunning = false;
            m_ejectorCycleSeen = true;
        }
        // Every cycle start renews the cavity's re-check budget.
        m_budget = m_cycle.pulseMode ? 0 : m_cycle.reChecks;
        m_recheckDue = false;
        if (!split || p == 2) {
            newCycleFor(m_cavity);
            m_alarmInCycle = false;
            m_clampCycleSeen = true;
        }
        if (m_inReview) {
            m_cycleInReview = true;
        }
    }
    // The link was down: a cycle start may have gone unseen.
    void linkLost()
    {
        if (!m_stopped && !m_fresh) {
            newCycleFor(m_product);
            newCycleFor(m_cavity);
        }
    }

    // --- the cameras
    void evaluated(int camera, int detect, bool ok)
    {
        if (detect < 0 || detect > 3 || (!m_live.detect[detect] && !m_cycle.detect[detect])) {
            return; // a detect that is off (now) judges nothing
        }
        (detect & 1 ? m_cavity : m_product)[size_t(camera)] = ok ? Verdict::Ok : Verdict::Ng;
        if (ok) {
            m_lost[size_t(camera)] = false;
        }
        m_round.push_back({camera, detect, ok});
    }
    // The detect's evaluation over its cameras was published.
    void evaluationEnded()
    {
        if (m_round.empty()) {
            return;
        }
        const int kind = m_round.front().detect & 1;
        bool ng = false;
        for (const Seen& r : m_round) {
            ng = ng || !r.ok;
        }
        m_round.clear();
        if (m_live.pulseMode) {
            return;
        }
        if (!ng) {
            if (kind == 1) {
                m_recheckDue = false;
            }
            const auto& kindVerdicts = kind ? m_cavity : m_product;
            bool allOk = true;
            for (Verdict v : kindVerdicts) {
                allOk = allOk && v == Verdict::Ok;
            }
            if (m_alarm && allOk) {
                m_alarm = false;
            }
            return;
        }
        if (kind == 0) {
            if (m_live.ngPulse) {
                m_ngPulseRunning = true;
            } else {
                raiseAlarm();
            }
        } else if (m_alarm || m_budget == 0) {
            raiseAlarm();
        } else {
            m_recheckDue = true;
        }
    }
    // A main-loop pass ran: an NG with re-checks left is re-checked by the
    // next pass that finds the machine not in the alarm and every camera there.
    void passRan(bool cameraMissing)
    {
        if (m_recheckDue && !m_alarm && !cameraMissing) {
            m_recheckDue = false;
            --m_budget;
        }
    }
    void manualTrigger()
    {
        m_budget = 0;
        m_recheckDue = false;
    }
    void ngPulseEnded() { m_ngPulseRunning = false; }
    // Lost until it passes an inspection again.
    void cameraLost(int camera) { m_lost[size_t(camera)] = true; }

    // --- the operator
    void operatorStart()
    {
        m_cycle = m_live;
        m_fresh = true;
        m_clampCycleSeen = false;
        m_ejectorCycleSeen = false;
        m_stopped = false;
        m_alarm = false;
        m_exemptSampling = false;
        m_round.clear();
    }
    void operatorStop() { m_stopped = true; }
    void skippedAll()
    {
        m_lost.assign(m_lost.size(), false);
        for (auto* v : {&m_product, &m_cavity}) {
            for (Verdict& x : *v) {
                x = Verdict::Ok;
            }
        }
        m_alarm = false;
    }
    void skipped(int camera, int detect)
    {
        (detect & 1 ? m_cavity : m_product)[size_t(camera)] = Verdict::Ok;
        m_lost[size_t(camera)] = false;
    }
    void resampling(bool wasStopped)
    {
        if (wasStopped) {
            operatorStart();
        }
        m_exemptSampling = true;
    }
    // The samples are taken and the operator reviews them: the sampled
    // product is the template; the cavity waits for the review's end.
    void reviewBegins()
    {
        m_exemptSampling = false;
        m_inReview = true;
        m_cycleInReview = false;
        for (Verdict& x : m_product) {
            x = Verdict::Ok;
        }
        newCycleFor(m_cavity);
    }
    void reviewEnds()
    {
        if (m_inReview && !m_cycleInReview) {
            for (Verdict& x : m_cavity) {
                x = Verdict::Ok;
            }
            // The operator has seen every camera's new picture.
            m_lost.assign(m_lost.size(), false);
        }
        m_inReview = false;
    }
    // Sampling ended without a review (login refused): the cycle is judged.
    void samplingRefused() { m_exemptSampling = false; }

    // The operator silenced the alarm output: opening the safety door (on a
    // standard machine) or looking away from the live alarm in the panel.
    void silenced() { m_silenced = true; }

    // --- the promise
    bool alarmStanding() const { return m_alarm; }
    // Only the operator or a passing evaluation switches a standing alarm off.
    QString alarmOutputFault(bool alarmOn) const
    {
        if (m_cycle.pulseMode || m_live.pulseMode || !m_alarm || m_silenced || alarmOn) {
            return {};
        }
        return QStringLiteral("the alarm output is off while the alarm stands");
    }
    QString clampFault() const
    {
        if (exempt()) {
            return {};
        }
        if (m_stopped) {
            return m_live.noClampStopped ? QStringLiteral("clamp granted while stopped with 128 set") : QString();
        }
        if (m_alarm) {
            return QStringLiteral("clamp granted while an alarm stands");
        }
        if (anyLost()) {
            return QStringLiteral("clamp granted while a camera is lost");
        }
        if (!m_cycle.cavityDetect() || !m_live.cavityDetect() || !m_clampCycleSeen) {
            return {};
        }
        for (Verdict v : m_cavity) {
            if (v == Verdict::Ng) {
                return QStringLiteral("clamp granted while a cavity evaluation is NG");
            }
            const bool mayWait = m_cycle.clampOnAlarm || m_cycle.preCut > 0 || m_live.clampOnAlarm || m_live.preCut > 0;
            if (v == Verdict::None && !(mayWait && !m_alarmInCycle)) {
                return QStringLiteral("clamp granted before the cavity was judged");
            }
        }
        return {};
    }
    QString ejectorFault() const
    {
        if (exempt() || m_stopped) {
            return {};
        }
        if (m_alarm) {
            return QStringLiteral("ejector granted while an alarm stands");
        }
        if (anyLost()) {
            return QStringLiteral("ejector granted while a camera is lost");
        }
        if (!m_cycle.productDetect() || !m_live.productDetect() || m_cycle.noEjector || m_live.noEjector
            || !m_ejectorCycleSeen) {
            return {};
        }
        if (m_ngPulseRunning) {
            return QStringLiteral("ejector granted during the product NG pulse");
        }
        for (Verdict v : m_product) {
            if (v == Verdict::Ng && !m_cycle.ngPulse && !m_live.ngPulse) {
                return QStringLiteral("ejector granted while a product evaluation is NG");
            }
            if (v == Verdict::None && !m_cycle.ejectorOnAlarm && !m_cycle.ngPulse && !m_live.ejectorOnAlarm
                && !m_live.ngPulse) {
                return QStringLiteral("ejector granted before the product was judged");
            }
        }
        return {};
    }
    // Whether the program may go away now: what it leaves behind (the rest
    // levels of a new start) must be allowed.
    bool restAllowed() const { return !m_alarm && !anyLost() && clampRestOk(); }

private:
    struct Seen {
        int camera;
        int detect;
        bool ok;
    };

    bool exempt() const { return m_cycle.pulseMode || m_live.pulseMode || m_fresh || m_exemptSampling; }
    bool anyLost() const
    {
        for (bool l : m_lost) {
            if (l) {
                return true;
            }
        }
        return false;
    }
    bool clampRestOk() const
    {
        if (exempt() || m_stopped) {
            return true;
        }
        // Rest grants both: allowed only where the evaluations of the cycle
        // would allow both without any exemption.
        for (Verdict v : m_cavity) {
            if (m_cycle.cavityDetect() && m_live.cavityDetect() && m_clampCycleSeen && v != Verdict::Ok) {
                return false;
            }
        }
        const bool ngPulse = m_cycle.ngPulse || m_live.ngPulse;
        for (Verdict v : m_product) {
            if (m_cycle.productDetect() && m_live.productDetect() && !m_cycle.noEjector && !m_live.noEjector
                && m_ejectorCycleSeen && (v == Verdict::None || (v == Verdict::Ng && !ngPulse))) {
                return false;
            }
        }
        return true;
    }
    void raiseAlarm()
    {
        m_alarm = true;
        m_alarmInCycle = true;
        m_silenced = false;
    }
    static void newCycleFor(std::vector<Verdict>& v)
    {
        for (Verdict& x : v) {
            x = Verdict::None;
        }
    }

    SafetySettings m_cycle;
    SafetySettings m_live;
    std::vector<Verdict> m_product;
    std::vector<Verdict> m_cavity;
    std::vector<bool> m_lost;
    std::vector<Seen> m_round;
    bool m_fresh = true;
    bool m_stopped = false;
    bool m_alarm = false;
    bool m_alarmInCycle = false;
    bool m_exemptSampling = false;
    bool m_inReview = false;
    bool m_cycleInReview = false;
    bool m_ngPulseRunning = false;
    bool m_silenced = false;
    bool m_clampCycleSeen = false;
    bool m_ejectorCycleSeen = false;
    int m_budget = 0;
    bool m_recheckDue = false;
};
