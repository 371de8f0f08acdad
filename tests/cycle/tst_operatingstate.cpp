// The operating state tells each real change once, with the new value, and
// nothing when a field is set to what it holds; one field's change leaves the
// other fields' signals quiet.
#include "operatingstate.h"

#include <QtTest>

#include <functional>
#include <vector>

namespace {

struct Field {
    const char* name;
    const char* signal;
    std::function<void(OperatingState&, int)> set;
    std::function<int(const OperatingState&)> get;
    int other; // differs from the start value
};

std::vector<Field> fields()
{
    return {
        {"run state", SIGNAL(runStateChanged(RunState)),
         [](OperatingState& s, int v) { s.setRunState(RunState(v)); },
         [](const OperatingState& s) { return int(s.runState()); }, Detecting},
        {"screen mode", SIGNAL(screenModeChanged(ScreenMode)),
         [](OperatingState& s, int v) { s.setScreenMode(ScreenMode(v)); },
         [](const OperatingState& s) { return int(s.screenMode()); }, Alarm},
        {"cycle phase", SIGNAL(cyclePhaseChanged(CyclePhase)),
         [](OperatingState& s, int v) { s.setCyclePhase(CyclePhase(v)); },
         [](const OperatingState& s) { return int(s.cyclePhase()); }, Delaying},
        {"shown camera", SIGNAL(shownCameraChanged(int)),
         [](OperatingState& s, int v) { s.setShownCamera(v); },
         [](const OperatingState& s) { return s.shownCamera(); }, 3},
        {"edited detect", SIGNAL(editedDetectChanged(int)),
         [](OperatingState& s, int v) { s.setEditedDetect(v); },
         [](const OperatingState& s) { return s.editedDetect(); }, 2},
        {"draw mode", SIGNAL(drawModeChanged(DrawMode)),
         [](OperatingState& s, int v) { s.setDrawMode(DrawMode(v)); },
         [](const OperatingState& s) { return int(s.drawMode()); }, DrawCircle},
        {"user level", SIGNAL(userLevelChanged(UserLevel)),
         [](OperatingState& s, int v) { s.setUserLevel(UserLevel(v)); },
         [](const OperatingState& s) { return int(s.userLevel()); }, UserAdmin},
    };
}

} // namespace

class TestOperatingState : public QObject {
    Q_OBJECT
private slots:
    void startsAsTheWindowDid()
    {
        OperatingState s;
        QCOMPARE(s.runState(), Stopped);
        QCOMPARE(s.screenMode(), Live);
        QCOMPARE(s.cyclePhase(), Waiting);
        QCOMPARE(s.shownCamera(), 0);
        QCOMPARE(s.editedDetect(), 0);
        QCOMPARE(s.drawMode(), DrawNone);
        QCOMPARE(s.userLevel(), UserNone);
    }

    void signalsOncePerRealChange()
    {
        const std::vector<Field> all = fields();
        for (const Field& f : all) {
            OperatingState s;
            std::vector<std::unique_ptr<QSignalSpy>> spies;
            for (const Field& g : all) {
                spies.push_back(std::make_unique<QSignalSpy>(&s, g.signal));
                QVERIFY2(spies.back()->isValid(), g.name);
            }
            const int start = f.get(s);
            const size_t mine = size_t(&f - all.data());

            f.set(s, start); // equal: quiet
            QVERIFY2(spies[mine]->isEmpty(), f.name);

            f.set(s, f.other);
            QCOMPARE(f.get(s), f.other);
            QVERIFY2(spies[mine]->count() == 1, f.name);
            QCOMPARE(spies[mine]->at(0).at(0).toInt(), f.other);

            f.set(s, f.other); // again: quiet
            f.set(s, start);   // back: told
            QVERIFY2(spies[mine]->count() == 2, f.name);
            QCOMPARE(spies[mine]->at(1).at(0).toInt(), start);

            for (size_t i = 0; i < spies.size(); ++i) {
                if (i != mine) {
                    QVERIFY2(spies[i]->isEmpty(), all[i].name);
                }
            }
        }
    }

    // A queued receiver gets the value by its type.
    void queuedConnectionCarriesTheValue()
    {
        OperatingState s;
        ScreenMode seen = Live;
        connect(&s, &OperatingState::screenModeChanged, this,
                [&seen](ScreenMode m) { seen = m; }, Qt::QueuedConnection);
        s.setScreenMode(AreaSetting);
        QTRY_COMPARE(seen, AreaSetting);
    }
};

QTEST_GUILESS_MAIN(TestOperatingState)
#include "tst_operatingstate.moc"
