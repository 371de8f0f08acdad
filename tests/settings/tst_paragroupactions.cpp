// The parameter-group commands of the settings page over real folders: backup,
// restore (the same path as the Modbus switch) and delete, with their
// questions, refusals and the group index they keep.
#include "logcapture.h"
#include "paragroupactions.h"
#include "paragroupstore.h"
#include "paramsetfixture.h"
#include "platformhelpers.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "recordingsystemcommands.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QtTest>

using namespace paramset;

namespace {

struct Page {
    SystemParam live;
    SystemParam edit;
    QStringList calls;
    QList<int> published;
    ModbusDataChange::Host host;

    Page()
    {
        gpSystemParam = &live;
        gpSystemParamEdit = &edit;
        host.cameraCount = 2;
        host.detectCount = 2;
        host.insertRecord = [this](const QString& text) { calls << "record " + text; };
        host.saveParaGroupIndex = [this](SystemParam* p) {
            calls << QStringLiteral("save %1").arg(p->paraGroupIndex());
            return true;
        };
        host.closeDatabases = [this] { calls << "close"; };
        host.quitEventLoop = [this] { calls << "quit"; };
    }
    ParaGroupActions actions()
    {
        return ParaGroupActions(
            host, [this] { calls << "apply pages"; }, [this](int i) { published << i; });
    }
};

}  // namespace

class TstParaGroupActions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initTextTable(); }
    void backupStoresTheIndexEverywhere();
    void backupRefusals_data();
    void backupRefusals();
    void restoreGoesTheSwitchsWay();
    void deleteFollowsTheCurrentGroup();
    void modbusSwitchDuringBackupIsRefused();
};

void TstParaGroupActions::backupStoresTheIndexEverywhere()
{
    ProcessState state;
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    makeSet(dir, "paraGroup/B", "B", 2, 2);
    makeSet(dir, "paraGroup/default", "factory", 2, 2);
    Page page;
    PromptAnswerer answers({1});
    ParaGroupActions actions = page.actions();
    QCOMPARE(actions.backup("a"), 1);  // "B" sorts before "a"
    QCOMPARE(answers.questions, QStringList({textOf(283)}));
    QCOMPARE(originOf("paraGroup/a/PARAM.db"), QString("working"));
    QCOMPARE(page.live.paraGroupIndex(), 1);
    QCOMPARE(page.edit.paraGroupIndex(), 1);
    QCOMPARE(page.calls, QStringList({"apply pages", "save 1"}));
    QCOMPARE(page.published, QList<int>({1}));

    // Overwriting asks once more; declined, nothing is copied.
    QVERIFY(QFile::remove("PARAM.db"));
    QVERIFY(makeParamDb(dir.filePath("PARAM.db"), "changed"));
    PromptAnswerer declined({1, 0});
    QCOMPARE(actions.backup("a"), -1);
    QCOMPARE(declined.questions, QStringList({textOf(283), textOf(284)}));
    QCOMPARE(originOf("paraGroup/a/PARAM.db"), QString("working"));
}

void TstParaGroupActions::backupRefusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("warning");
    QTest::newRow("empty") << "" << 282;
    QTest::newRow("factory group") << "default" << int(ParaGroupActions::FactoryGroupKeptText);
    QTest::newRow("parent") << ".." << int(ParaGroupActions::NameRefusedText);
    QTest::newRow("shell") << "x;rm -rf ." << int(ParaGroupActions::NameRefusedText);
    QTest::newRow("path") << "a/b" << int(ParaGroupActions::NameRefusedText);
}

void TstParaGroupActions::backupRefusals()
{
    QFETCH(QString, name);
    QFETCH(int, warning);
    ProcessState state;
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    makeSet(dir, "paraGroup/default", "factory", 2, 2);
    const QMap<QString, QByteArray> before = workingFiles(dir);
    Page page;
    PromptAnswerer answers({1});
    ParaGroupActions actions = page.actions();
    QCOMPARE(actions.backup(name), -1);
    QCOMPARE(answers.warnings, QStringList({textOf(warning)}));
    QVERIFY(answers.questions.isEmpty());
    QCOMPARE(workingFiles(dir), before);
    QCOMPARE(originOf("paraGroup/default/PARAM.db"), QString("factory"));
}

void TstParaGroupActions::restoreGoesTheSwitchsWay()
{
    ProcessState state;
    LogCapture log(LogCapture::Swallow);
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    makeSet(dir, "paraGroup/A", "A", 2, 2);
    makeSet(dir, "paraGroup/broken", "broken", 1, 2);
    RecordingSystemCommands sys;
    Page page;
    page.live.paraGroupIndex() = 1;
    page.edit.paraGroupIndex() = 1;
    // The workers stop and the outputs go to rest before the new instance starts.
    addQuitHook("test worker", [&] { page.calls << QStringLiteral("workers stopped, %1 restarts").arg(sys.operations.size()); });
    ParaGroupActions actions = page.actions();
    {
        PromptAnswerer answers({1});
        QVERIFY(!actions.restore(1, "broken"));
        QCOMPARE(answers.questions, QStringList({textOf(ParaGroupActions::RestoreQuestionText).arg("broken")}));
        QCOMPARE(answers.warnings, QStringList({textOf(ParaGroupActions::RestoreFailedText)}));
        QCOMPARE(originOf("PARAM.db"), QString("working"));
        QVERIFY(sys.operations.isEmpty());
        QVERIFY(page.calls.isEmpty());
        QCOMPARE(page.live.paraGroupIndex(), 1);
    }
    // A list that changed under the question restores nothing.
    QVERIFY(!actions.restore(0, "B"));
    PromptAnswerer answers({1});
    QVERIFY(actions.restore(0, "A"));
    QCOMPARE(originOf("PARAM.db"), QString("A"));
    QCOMPARE(page.calls, QStringList({"save 0", "record " + textOf(286).arg("A"), "close", "workers stopped, 0 restarts",
                                      "quit"}));
    QCOMPARE(page.live.paraGroupIndex(), 0);
    QCOMPARE(page.edit.paraGroupIndex(), 0);
    QCOMPARE(sys.trace, (QStringList{"sleep: 500", "sleep: 3000", "do: restart program"}));
}

void TstParaGroupActions::deleteFollowsTheCurrentGroup()
{
    ProcessState state;
    TestWorkDir dir;
    makeSet(dir, "", "working", 1, 1);
    for (const char* g : {"B", "a", "c", "default"}) {
        makeSet(dir, QString("paraGroup/") + g, g, 1, 1);
    }
    Page page;
    page.live.paraGroupIndex() = 2;  // "c"
    ParaGroupActions actions = page.actions();
    QCOMPARE(actions.openingIndex(), 2);
    PromptAnswerer answers({1});
    QVERIFY(!actions.remove(3, "default"));
    QVERIFY(actions.remove(1, "a"));
    QCOMPARE(answers.questions, QStringList({textOf(ParaGroupActions::DeleteQuestionText).arg("a")}));
    QCOMPARE(actions.groups(), QStringList({"B", "c", "default"}));
    QCOMPARE(page.live.paraGroupIndex(), 1);
    QCOMPARE(page.edit.paraGroupIndex(), 1);
    QVERIFY(actions.remove(1, "c"));
    QCOMPARE(page.live.paraGroupIndex(), -1);
    QCOMPARE(page.published, QList<int>({1, -1}));
    QCOMPARE(answers.warnings, QStringList({textOf(ParaGroupActions::FactoryGroupKeptText)}));
    QCOMPARE(actions.openingIndex(), 0);
}

void TstParaGroupActions::modbusSwitchDuringBackupIsRefused()
{
    ProcessState state;
    LogCapture log(LogCapture::Swallow);
    TestWorkDir dir;
    makeSet(dir, "", "working", 2, 2);
    makeSet(dir, "paraGroup/B", "B", 2, 2);
    makeSet(dir, "paraGroup/D", "D", 2, 2);
    RecordingSystemCommands sys;
    Page page;
    page.live.paraGroupIndex() = 1;  // "D"
    ParaGroupActions actions = page.actions();
    // The plant's write arrives while the copy runs and the GUI thread waits
    // in its nested event loop.
    int switched = -1;
    connect(&actions, &ParaGroupActions::busyChanged, this, [&](bool busy) {
        if (busy) {
            switched = ModbusDataChange(nullptr, page.host).switchParaGroup(0);
        }
    });
    PromptAnswerer answers({1});
    QCOMPARE(actions.backup("C"), 1);
    QCOMPARE(switched, 0);
    QCOMPARE(originOf("PARAM.db"), QString("working"));
    QCOMPARE(originOf("paraGroup/C/PARAM.db"), QString("working"));
    QVERIFY(sys.operations.isEmpty());
    QCOMPARE(page.live.paraGroupIndex(), 1);  // "C", by the backup
    QVERIFY(page.calls.filter("quit").isEmpty());
    QCOMPARE(page.calls.filter("record ").size(), 1);
    // Once the backup is over the switch goes through.
    QVERIFY(ModbusDataChange(nullptr, page.host).switchParaGroup(0));
    QCOMPARE(originOf("PARAM.db"), QString("B"));
}

QTEST_MAIN(TstParaGroupActions)
#include "tst_paragroupactions.moc"
