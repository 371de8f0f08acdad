// The main window's start-up as it happens beside a machine: the simulated I/O
// board on a pseudo-terminal as "COM1", the simulated cameras on pictures of
// an open mould (no camera found), the Modbus server read by libmodbus on
// 127.0.0.1, and the camera questions answered through the prompt seam.

#include "boardframing.h"
#include "boardsimulator.h"
#include "databaselocker.h"
#include "globals.h"
#include "mouldpicture.h"
#include "productioncounters.h"
#include "recordingsystemcommands.h"
#include "windowrig.h"
#include "settle.h"

#include <QDir>
#include <QSqlQuery>
#include <QtTest>


namespace {

// The serial numbers SN.db holds, read through a connection of the test's own.
QStringList storedSerials(const QString& path)
{
    QStringList serials;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("serials"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (db.open() && query.exec(QStringLiteral("select value from sysparam where name like 'serialNB%' order by name"))) {
            while (query.next()) {
                serials << query.value(0).toString();
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("serials"));
    return serials;
}

// SN.db as a panel leaves it after `saved` cameras were ordered.
void saveSerials(TestWorkDir& dir, int saved)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("serials"));
        db.setDatabaseName(dir.filePath(QStringLiteral("SN.db")));
        db.open();
        QSqlQuery query(db);
        for (int i = 0; i < saved; ++i) {
            query.prepare(QStringLiteral("update sysparam set value=? where name=?"));
            query.addBindValue(QStringLiteral("SAVED%1").arg(i));
            query.addBindValue(QStringLiteral("serialNB%1").arg(i));
            query.exec();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("serials"));
}

// The clamp bit of the first command 1 the board received.
int firstClampBit(const BoardSimulator& board)
{
    for (const BoardSimulator::HostFrame& frame : board.frames()) {
        if (frame.command() == CmdSetOutputs) {
            return (frame.value() >> OutAllowClamp) & 1;
        }
    }
    return -1;
}

} // namespace

class TestWindowStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void startsOnSimulatedCamerasBoardAndModbus();
    void firstOutputFrame_data();
    void firstOutputFrame();
    void cameraCountQuestion_data();
    void cameraCountQuestion();
    void heldSettingsAreWaitedFor_data();
    void heldSettingsAreWaitedFor();
};

void TestWindowStartup::startsOnSimulatedCamerasBoardAndModbus()
{
    BoardSimulator board;
    QList<int> steps;
    gConstructionObserver = [&steps](int n) { steps.append(n); };
    WindowRig::Options options;
    options.startMachineLink = true;
    options.prepare = [&board](TestWorkDir& dir) {
        QVERIFY(writeMouldPictures(dir.path()));
        QVERIFY(board.linkAs(dir.filePath(QStringLiteral("COM1"))));
        // Counters kept from the last shift: camera 0 120 cycles (3 NG),
        // camera 1 120 (1 NG), 120 cycles of which 4 NG.
        dir.write(QStringLiteral("count.txt"), "120 3 120 1 0 0 0 0 0 0 0 0 0 0 0 0 120 4 ");
    };
    WindowRig rig(0, {1}, {}, options);
    gConstructionObserver = nullptr;
    VeZiRevoru& w = *rig.window;

    QList<int> expected;
    for (int n = 1; n <= 43; ++n) {
        expected.append(n);
    }
    QCOMPARE(steps, expected);

    // No camera found: the simulated pair, the full-screen question, serials cleared.
    QCOMPARE(gSimulatedCamera, 1);
    QCOMPARE(gCameraCount, 2);
    QCOMPARE(rig.answers->questions, QStringList{textOf(134)});
    QCOMPARE(w.state().shownCamera(), 2);
    QCOMPARE(w.pCycle->curDetect, 1);
    QCOMPARE(w.state().runState(), Detecting);
    QTRY_VERIFY2_WITH_TIMEOUT(recordRemarks().contains(textOf(150).arg(2)), qPrintable(recordRemarks().join('|')), kSettleMs);

    // Each simulated camera shows its mould picture on its first trigger.
    for (int c = 0; c < 2; ++c) {
        QVERIFY(w.openedCameras.at(c)->isOnline());
    }

    // The board is polled with no link warning.
    QTRY_VERIFY_WITH_TIMEOUT(board.countCommand(CmdPoll) > 3, kSettleMs);
    QVERIFY(rig.answers->warnings.isEmpty());

    // The plant reads the monitor running, the group in use and the counters
    // carried over from "count.txt".
    const quint16 port = w.pModbusServer->serverPort();
    QCOMPARE(readRegisters(port, 0, 1), QVector<quint16>{1});
    QCOMPARE(readRegisters(port, 2, 1), QVector<quint16>{quint16(gpSystemParam->paraGroupIndex())});
    QCOMPARE(gTotalCycles, 120);
    const QVector<quint16> counters = counterRegisters(gCameraCount);
    QCOMPARE(readRegisters(port, CounterFirstRegister, counters.size()), counters);
    QCOMPARE(counters.at(1), quint16(120));  // overall total, low word
}

void TestWindowStartup::firstOutputFrame_data()
{
    QTest::addColumn<int>("cutAfterOk");
    QTest::addColumn<int>("clampPulse");
    QTest::addColumn<bool>("withdrawn");
    QTest::newRow("factory: at rest") << 0 << 0 << false;
    QTest::newRow("cut after OK without a pulse: at rest") << 1 << 0 << false;
    QTest::newRow("a pulse without cut after OK: at rest") << 0 << 5 << false;
    QTest::newRow("cut after OK with a pulse: withdrawn") << 1 << 5 << true;
}

void TestWindowStartup::firstOutputFrame()
{
    QFETCH(int, cutAfterOk);
    QFETCH(int, clampPulse);
    QFETCH(bool, withdrawn);
    BoardSimulator board;
    WindowRig::Options options;
    options.startMachineLink = true;
    options.prepare = [&board](TestWorkDir& dir) { QVERIFY(board.linkAs(dir.filePath(QStringLiteral("COM1")))); };
    WindowRig rig(1, {1},
                  [=](SystemParam& p) {
                      p[154] = cutAfterOk;
                      p[145] = clampPulse;
                  },
                  options);
    QTRY_VERIFY_WITH_TIMEOUT(board.countCommand(CmdSetOutputs) > 0, kSettleMs);
    // The board's level of an output at rest is set per output.
    const int rest = gpSystemParam->outInitState(OutAllowClamp) != 0 ? 1 : 0;
    QCOMPARE(firstClampBit(board), withdrawn ? 1 - rest : rest);
    QVERIFY(rig.answers->warnings.isEmpty());
}

void TestWindowStartup::cameraCountQuestion_data()
{
    QTest::addColumn<int>("saved");
    QTest::addColumn<int>("listed");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::newRow("nothing saved, two found") << 0 << 2 << 1 << false;
    QTest::newRow("two saved, two found") << 2 << 2 << 1 << false;
    QTest::newRow("three saved, two found, declined") << 3 << 2 << 0 << true;
    QTest::newRow("three saved, two found, confirmed") << 3 << 2 << 1 << true;
    QTest::newRow("one saved, two found, confirmed") << 1 << 2 << 1 << true;
}

void TestWindowStartup::cameraCountQuestion()
{
    QFETCH(int, saved);
    QFETCH(int, listed);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    RecordingSystemCommands commands;
    QList<int> steps;
    gConstructionObserver = [&steps](int n) { steps.append(n); };
    WindowRig::Options options;
    options.prepare = [saved](TestWorkDir& dir) { saveSerials(dir, saved); };
    WindowRig rig(listed, {answer}, {}, options);
    gConstructionObserver = nullptr;

    QCOMPARE(rig.answers->questions, asked ? QStringList{textOf(360)} : QStringList{});
    const bool confirmed = asked && answer == 1;
    if (confirmed) {
        // Serials cleared and the databases closed before the reboot; where
        // the reboot does not happen the program ends through the quit path.
        QCOMPARE(storedSerials(rig.dir.filePath(QStringLiteral("SN.db"))), QVector<QString>(8, QStringLiteral("0")).toList());
        const int reboot = commands.trace.indexOf(QStringLiteral("do: ") + SystemOperation::reboot().describe());
        QVERIFY2(reboot >= 0, qPrintable(commands.trace.join('|')));
        QVERIFY(commands.trace.indexOf(QStringLiteral("sleep: 500")) < reboot);
        QCOMPARE(commands.exits, QList<int>{0});
        QVERIFY(commands.trace.indexOf(QStringLiteral("exit: 0")) > reboot);
    } else {
        QVERIFY(commands.operations.isEmpty());
        QVERIFY(commands.exits.isEmpty());
        QCOMPARE(steps.size(), 43);
        QStringList kept;
        for (int i = 0; i < 8; ++i) {
            kept << (i < saved ? QStringLiteral("SAVED%1").arg(i) : QStringLiteral("0"));
        }
        QCOMPARE(storedSerials(rig.dir.filePath(QStringLiteral("SN.db"))), kept);
        QCOMPARE(gCameraCount, listed);
    }
}

void TestWindowStartup::heldSettingsAreWaitedFor_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("heldText");
    QTest::newRow("PARAM.db") << "PARAM.db" << 626;
    QTest::newRow("SN.db") << "SN.db" << 627;
}

// Another program holds PARAM.db or SN.db while the monitor starts, past the
// loader's wait: the monitor tells the operator once and goes on only when
// the file has been read, with what the file holds, never on defaults or
// empty serials.
void TestWindowStartup::heldSettingsAreWaitedFor()
{
    QFETCH(QString, file);
    QFETCH(int, heldText);
    const int previousBound = setParamBusyBoundMs(300);
    DatabaseLocker locker;
    bool released = false;
    QList<bool> releasedAtStep;
    gConstructionObserver = [&](int n) {
        if (n == 10 || n == 13 || n == 34) {
            releasedAtStep.append(released);
        }
    };
    // Let go after some rounds of the monitor's waiting, from its own event loop.
    QTimer release;
    release.setSingleShot(true);
    connect(&release, &QTimer::timeout, [&] {
        QVERIFY(locker.release());
        released = true;
    });
    WindowRig::Options options;
    options.prepare = [&](TestWorkDir& dir) {
        saveSerials(dir, 2);
        QVERIFY(locker.lock(dir.filePath(file)));
        release.start(1500);
    };
    WindowRig rig(2, {1}, [](SystemParam& p) { p[145] = 7; }, options);
    gConstructionObserver = nullptr;
    setParamBusyBoundMs(previousBound);

    // Nothing after the settings were loaded ran before the file was free:
    // neither the I/O link nor the detection.
    QCOMPARE(releasedAtStep, (QList<bool>{true, true, true}));
    QCOMPARE(rig.answers->warnings, QStringList{textOf(heldText)});
    QVERIFY(sysParamLoaded());
    QVERIFY(cameraSerialsLoaded());
    QCOMPARE(gpSystemParam->clampPulse(), 7);
    QCOMPARE(QString::fromLatin1(cameraSerials[1]), QString("SAVED1"));
    QCOMPARE(rig.answers->questions, QStringList{});
    QCOMPARE(rig.window->state().runState(), Detecting);
    QVERIFY(saveSysParam(gpSystemParam));
}

QTEST_MAIN(TestWindowStartup)
#include "tst_windowstartup.moc"
