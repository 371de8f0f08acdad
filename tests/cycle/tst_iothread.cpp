// The serial link to the I/O board, run against the simulated board on a real
// pseudo-terminal linked as "COM1" in the test's working folder: what the
// thread does with the line. What the bytes mean, with every line fault, is
// tested without a line in tst_boardframing.

#include "boardsimulator.h"
#include "controlport.h"
#include "globals.h"
#include "iothread.h"
#include "operatorprompt.h"
#include "platformhelpers.h"
#include "systemparam.h"
#include "testclock.h"
#include "testworkdir.h"
#include "texttable.h"
#include "settle.h"

#include <QFile>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

std::mutex gLogMutex;
QStringList gLogLines;
QtMessageHandler gPreviousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    {
        std::lock_guard<std::mutex> lock(gLogMutex);
        gLogLines.append(msg);
    }
    if (gPreviousHandler) {
        gPreviousHandler(type, context, msg);
    }
}

int logCount(const QString& text)
{
    std::lock_guard<std::mutex> lock(gLogMutex);
    int n = 0;
    for (const QString& line : qAsConst(gLogLines)) {
        if (line.contains(text)) {
            ++n;
        }
    }
    return n;
}

int currentInputWord()
{
    std::lock_guard<std::mutex> lock(*gMutexTable[8]);
    return gInputWord;
}

// One monitor-and-board set-up: a working folder, the simulated board linked as
// "COM1" (unless told otherwise), a ControlPort, the program's monotonic clock
// held by the test (it drives the heartbeat, the reopening of the port and
// the board's silence; the loop's 5 ms pace stays real), and counters for
// what reached the GUI thread (input signals, link states).
struct Rig {
    TestWorkDir dir;
    std::unique_ptr<BoardSimulator> board;
    TestClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 0, 5)), true};
    ControlPort* port = nullptr;
    QObject receiver;
    int inputSignals = 0;
    QList<int> wordsSeenBySlot;
    QList<bool> linkStates;

    explicit Rig(bool withBoard = true)
    {
        gInputWord = 0;
        gOutputWord = -1;
        gPollCount = 0;
        std::fill(std::begin(gBoardValues), std::end(gBoardValues), 0);
        if (withBoard) {
            plugBoard();
        }
        port = new ControlPort(0);
        gpControlPort = port;
    }

    ~Rig()
    {
        delete port;
        board.reset();
    }

    void plugBoard()
    {
        board = std::make_unique<BoardSimulator>();
        QVERIFY(board->isPlugged());
        QVERIFY(board->linkAs(dir.filePath(QStringLiteral("COM1"))));
    }

    void start()
    {
        port->startIOThread();
        QObject::connect(
            port->ioThread(), &IOThread::sigIOChange, &receiver,
            [this] {
                ++inputSignals;
                wordsSeenBySlot.append(currentInputWord());
            },
            Qt::QueuedConnection);
        QObject::connect(
            port->ioThread(), &IOThread::sigLinkState, &receiver, [this](bool up) { linkStates.append(up); },
            Qt::QueuedConnection);
        port->feedWatchdog();
    }

    void setAlarm(bool on)
    {
        port->setOutput(OutAlarm, on);
        port->commitOutputs();
    }

    // Moves the held clock on, then waits until the thread has handled a
    // reply made after that: the board's inputs change and the thread
    // publishes them only once it has judged that reply at the new time.
    bool advanceAndHear(qint64 ms)
    {
        clock.advanceMs(ms);
        const int next = (board->inputs() + 1) & 0x3FF;
        board->setInputs(next);
        return QTest::qWaitFor([&] { return currentInputWord() == next; }, 5000);
    }

    // The values of the command 1 frames from frame index `from` on.
    QVector<int> outputValuesFrom(int from) const
    {
        QVector<int> values;
        const auto all = board->frames();
        for (int i = from; i < all.size(); ++i) {
            if (all.at(i).command() == CmdSetOutputs) {
                values.append(all.at(i).value());
            }
        }
        return values;
    }

    // Frames other than command 1: one per pass of the poll loop.
    int polls() const { return board->frameCount() - board->countCommand(CmdSetOutputs); }

    bool waitPolls(int more, int timeoutMs = kSettleMs)
    {
        const int target = polls() + more;
        return QTest::qWaitFor([&] { return polls() >= target; }, timeoutMs);
    }
};

} // namespace

class TestIOThread : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void portPathResolution_data();
    void portPathResolution();
    void outputsReachTheBoard();
    void inputChangeSignalledOnce();
    void pollScheduleOnTheLine();
    void lineFaultsAcrossPasses();
    void heartbeat();
    void portAppearingLaterIsOpened();
    void lostBoardIsReopened();
    void silentBoardIsReported();
    void unconfirmedOutputsAreReported();
    void quitLeavesOutputsAtRest();

private:
    SystemParam m_params;
    QStringList m_operatorWarnings;
};

void TestIOThread::initTestCase()
{
    gPreviousHandler = qInstallMessageHandler(captureMessages);
    initTextTable();
}

void TestIOThread::init()
{
    std::memset(&m_params, 0, sizeof m_params);
    gpSystemParam = &m_params;
    m_operatorWarnings.clear();
    setWarnOperatorHandler([this](const QString& text) { m_operatorWarnings.append(text); });
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLogLines.clear();
}

void TestIOThread::cleanup()
{
    setWarnOperatorHandler({});
    gpSystemParam = nullptr;
    gLanguage = 0;
}

void TestIOThread::portPathResolution_data()
{
    QTest::addColumn<QString>("localFile");  // what exists in the working folder
    QTest::addColumn<int>("portIndex");
    QTest::addColumn<bool>("fallback");
    QTest::addColumn<QString>("expected");  // "@" stands for the working folder

    QTest::newRow("COM1 file") << "COM1" << 0 << true << "@/COM1";
    QTest::newRow("COM3 file, index 2") << "COM3" << 2 << false << "@/COM3";
    QTest::newRow("dangling COM1 link") << "link:COM1" << 0 << true << "@/COM1";
    QTest::newRow("another port's file") << "COM2" << 0 << true << "/dev/ttyS0";
    QTest::newRow("no file, COM5") << "" << 4 << true << "/dev/ttyS4";
    QTest::newRow("no file, no fallback") << "" << 0 << false << "";
}

void TestIOThread::portPathResolution()
{
    QFETCH(QString, localFile);
    QFETCH(int, portIndex);
    QFETCH(bool, fallback);
    QFETCH(QString, expected);

    TestWorkDir dir;
    if (localFile.startsWith("link:")) {
        QVERIFY(QFile::link(dir.filePath("absent-device"), dir.filePath(localFile.mid(5))));
    } else if (!localFile.isEmpty()) {
        QVERIFY(dir.write(localFile, {}));
    }
    QCOMPARE(controlPortPath(portIndex, fallback), QString(expected).replace("@", dir.path()));
    // Away from the panel the machine's own serial devices are never used.
    QVERIFY(!controlPortDeviceFallback());
}

void TestIOThread::outputsReachTheBoard()
{
    // Outputs in both bytes of the value, and a low byte that is a header.
    const int outputs = 0x25F;
    Rig rig;
    rig.start();
    for (int i = 0; i < 10; ++i) {
        rig.port->setOutput(i, (outputs >> i) & 1);
    }
    rig.port->commitOutputs();
    QTRY_COMPARE_WITH_TIMEOUT(rig.board->lastOutputValue(), outputs | 0xFC00, kSettleMs);

    QByteArray last;
    for (const auto& f : rig.board->frames()) {
        if (f.command() == CmdSetOutputs) {
            last = QByteArray(reinterpret_cast<const char*>(f.bytes), 6);
        }
    }
    QCOMPARE(last.toHex(' '), QByteArray::fromHex("5F015FFEBDF5").toHex(' '));
    // Every byte the board received belonged to a whole frame: nothing was
    // added, dropped or translated on the line.
    QCOMPARE(rig.board->garbageBytes(), 0L);
    QCOMPARE(rig.board->receivedBytes().size(), rig.board->frameCount() * 6);
}

void TestIOThread::inputChangeSignalledOnce()
{
    // The board sets random junk in bits 2..7 of d1 and d3 of every reply.
    Rig rig;
    rig.start();
    QVERIFY(rig.waitPolls(10));
    QCOMPARE(rig.inputSignals, 0);

    const QList<int> sequence = {0x001, 0x003, 0x003, 0x200, 0x0F5, 0x35F};
    QList<int> expectedWords;
    for (int word : sequence) {
        rig.board->setInputs(word);
        if (expectedWords.isEmpty() || expectedWords.last() != word) {
            expectedWords.append(word);
        }
        QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), word, kSettleMs);
        QVERIFY(rig.waitPolls(10));
        QTRY_COMPARE_WITH_TIMEOUT(rig.inputSignals, expectedWords.size(), kSettleMs);
    }
    QVERIFY(rig.waitPolls(10));
    QCoreApplication::processEvents();
    QCOMPARE(rig.inputSignals, expectedWords.size());
    // The queued receiver always finds the word that caused the signal.
    QCOMPARE(rig.wordsSeenBySlot, expectedWords);
    QCOMPARE(rig.board->garbageBytes(), 0L);

    // And the logical view reads what the board sent.
    for (int i = 0; i < 8; ++i) {
        rig.port->inputEdge(i);
    }
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(rig.port->readIO(false, i), bool((0x35F >> i) & 1));
    }
}

void TestIOThread::pollScheduleOnTheLine()
{
    // One whole run of the schedule against a board that also acknowledges
    // command 1 (those replies are ignored): the value commands on their
    // passes, their values stored, one command 1 after each pass's replies.
    Rig rig;
    rig.board->setAcknowledgeOutputs(true);
    rig.start();
    rig.port->setOutput(OutAlarm, 1);
    rig.port->commitOutputs();
    QVERIFY(rig.waitPolls(212, 10000));
    rig.port->stopIOThread();

    const auto frames = rig.board->frames();
    QVector<int> polls;
    int outputFrames = 0;
    for (int i = 0; i < frames.size(); ++i) {
        if (frames.at(i).command() != CmdSetOutputs) {
            polls.append(frames.at(i).command());
            continue;
        }
        ++outputFrames;
        // A fresh line starts with the word; then one command 1 per pass,
        // after the parse and before that pass's poll.
        QVERIFY2(i == 0 || frames.at(i - 1).command() != CmdSetOutputs, qPrintable(QString::number(i)));
        if (i + 1 < frames.size()) {
            QVERIFY(frames.at(i + 1).command() != CmdSetOutputs);
        }
        // The last one is the thread's farewell with the same word.
        QCOMPARE(frames.at(i).value(), 0xFC04);
    }
    for (int i = 0; i < 212; ++i) {
        const int pass = i + 1;
        const int expected = pass == 200 ? 3 : pass == 210 ? 4 : 2;
        QVERIFY2(polls.at(i) == expected, qPrintable(QStringLiteral("pass %1 sent %2").arg(pass).arg(polls.at(i))));
    }
    // The board answers every poll, so nearly every pass sends the word.
    QVERIFY2(outputFrames >= polls.size() / 2, qPrintable(QString::number(outputFrames)));
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(gBoardValues[i], BoardSimulator::boardValue(3, i));
        QCOMPARE(gBoardValues[8 + i], BoardSimulator::boardValue(4, i));
    }
    QCOMPARE(rig.board->garbageBytes(), 0L);
}

void TestIOThread::lineFaultsAcrossPasses()
{
    // Noise, a bad frame and a reply split over two reads: the thread keeps
    // the unparsed rest from one pass to the next.
    Rig rig;
    rig.board->setSilent(true);  // only these bytes reach the host
    rig.start();
    QVERIFY(rig.waitPolls(3));
    const QByteArray reply = BoardSimulator::pollReply(0x155, 0x000, 0xFCFC);
    rig.board->sendRaw(QByteArray::fromHex("00FF5F0A") + BoardSimulator::boardFrame(2, 0x0F, 0, 0, 0, true)
                       + reply.left(5));
    QVERIFY(rig.waitPolls(4));
    // Only the word that opens the line: no reply was handled yet.
    QCOMPARE(rig.board->countCommand(CmdSetOutputs), 1);
    QCOMPARE(currentInputWord(), 0);
    rig.board->sendRaw(reply.mid(5));
    QTRY_COMPARE_WITH_TIMEOUT(rig.inputSignals, 1, kSettleMs);
    QCOMPARE(currentInputWord(), 0x155);
    QVERIFY(rig.waitPolls(4));
    QCOMPARE(rig.board->countCommand(CmdSetOutputs), 2);
    QCOMPARE(rig.inputSignals, 1);
}

void TestIOThread::heartbeat()
{
    const QString silentLine = QStringLiteral("controlport_thread - main_thread > 10s will timeout exit");
    Rig rig;
    rig.start();
    QVERIFY(rig.waitPolls(5));

    // Exactly 10 s old still polls.
    rig.clock.advanceMs(10000);
    QVERIFY(rig.waitPolls(20));
    QCOMPARE(logCount(silentLine), 0);

    // 11 s old: the link falls silent.
    rig.clock.advanceMs(1000);
    QTRY_VERIFY_WITH_TIMEOUT(logCount(silentLine) >= 1, kSettleMs);
    // The board may still be reading what was sent before the pause: wait
    // until its count stands still, then it must stay so.
    int frozen = rig.board->frameCount();
    QElapsedTimer settling;
    settling.start();
    do {
        frozen = rig.board->frameCount();
        QTest::qWait(200);
    } while (rig.board->frameCount() != frozen && settling.elapsed() < kSettleMs);
    QTest::qWait(300);
    QCOMPARE(rig.board->frameCount(), frozen);

    // A fresh stamp: talking again, without waiting out the pause, and the
    // board first hears the word wanted now, not the one before the pause.
    rig.setAlarm(true);
    rig.port->feedWatchdog();
    QVERIFY(rig.waitPolls(1, 900));
    const auto frames = rig.board->frames();
    QCOMPARE(frames.at(frozen).command(), int(CmdSetOutputs));
    QCOMPARE(frames.at(frozen).value(), 0xFC04);
}

void TestIOThread::portAppearingLaterIsOpened()
{
    gLanguage = 1;
    Rig rig(false);
    rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 1, kSettleMs);
    QCOMPARE(m_operatorWarnings.first(), textOf(IOThread::kTextPortCannotOpen).arg("COM1"));
    QCOMPARE(m_operatorWarnings.first(),
             "The I/O board port COM1 cannot be opened. The machine signals are not available until it can.");
    QVERIFY(!rig.port->ioThread()->isPortOpen());
    // Several attempts later the operator has still been told only once.
    for (int attempt = 0; attempt < 3; ++attempt) {
        rig.clock.advanceMs(IOThread::kReopenIntervalMs);
        QTest::qWait(2 * IOThread::kIdleSleepMs);
    }
    QCOMPARE(m_operatorWarnings.size(), 1);
    // The link starts down: a port that never opened changes nothing.
    QVERIFY(rig.linkStates.isEmpty());
    QVERIFY(!rig.port->ioThread()->isLinkUp());

    rig.setAlarm(true);
    rig.plugBoard();
    rig.board->setInputs(0x004);
    rig.clock.advanceMs(IOThread::kReopenIntervalMs);
    QTRY_VERIFY_WITH_TIMEOUT(rig.polls() > 0, kSettleMs);
    QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), 0x004, kSettleMs);
    QVERIFY(rig.port->ioThread()->isPortOpen());
    QVERIFY(logCount(QStringLiteral("opened at ") + rig.dir.filePath("COM1")) >= 1);
    QCOMPARE(m_operatorWarnings.size(), 1);
    // The board's first frame is the word wanted now; its echo brings the link up.
    QCOMPARE(rig.board->frames().first().command(), int(CmdSetOutputs));
    QCOMPARE(rig.board->frames().first().value(), 0xFC04);
    QTRY_COMPARE_WITH_TIMEOUT(rig.linkStates, QList<bool>{true}, 5000);
    QVERIFY(rig.port->ioThread()->isLinkUp());
}

void TestIOThread::lostBoardIsReopened()
{
    Rig rig;
    rig.start();
    QVERIFY(rig.waitPolls(5));
    QTRY_COMPARE_WITH_TIMEOUT(rig.linkStates, QList<bool>{true}, 5000);

    rig.board->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 1, kSettleMs);
    // In the operator's language (Chinese here, the default).
    QCOMPARE(m_operatorWarnings.first(), textOf(IOThread::kTextPortLost).arg("COM1"));
    QVERIFY(m_operatorWarnings.first().startsWith(QStringLiteral("IO通讯口COM1")));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.port->ioThread()->isPortOpen(), kSettleMs);
    QTRY_COMPARE_WITH_TIMEOUT(rig.linkStates, (QList<bool>{true, false}), kSettleMs);

    // A reopen that fails is the same outage: nothing more is told (the
    // states are checked once the board is back).
    rig.clock.advanceMs(IOThread::kReopenIntervalMs);
    QTest::qWait(3 * IOThread::kIdleSleepMs);
    // The program changes the word while the board is away.
    rig.setAlarm(true);

    // Not before the reopen interval has passed.
    rig.board->setInputs(0x021);
    const int before = rig.board->frameCount();
    QVERIFY(rig.board->plugIn());
    QTest::qWait(3 * IOThread::kIdleSleepMs);
    QVERIFY(!rig.port->ioThread()->isPortOpen());
    rig.clock.advanceMs(IOThread::kReopenIntervalMs);
    QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), 0x021, kSettleMs);
    QVERIFY(rig.port->ioThread()->isPortOpen());
    QCOMPARE(m_operatorWarnings.size(), 1);
    // The first frame on the new line is the word wanted now.
    const auto frames = rig.board->frames();
    QCOMPARE(frames.at(before).command(), int(CmdSetOutputs));
    QCOMPARE(frames.at(before).value(), 0xFC04);
    QTRY_COMPARE_WITH_TIMEOUT(rig.linkStates, (QList<bool>{true, false, true}), 5000);
    QVERIFY(rig.waitPolls(10));
    QCoreApplication::processEvents();
    QCOMPARE(rig.linkStates, (QList<bool>{true, false, true}));
}

void TestIOThread::silentBoardIsReported()
{
    Rig rig;
    rig.board->setSilent(true);
    rig.start();
    QVERIFY(rig.waitPolls(5));
    // A second without an answer is not yet silence; a little more is.
    rig.clock.advanceMs(IOThread::kNoAnswerMs);
    QVERIFY(rig.waitPolls(5));
    QVERIFY(m_operatorWarnings.isEmpty());
    rig.clock.advanceMs(1);
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 1, kSettleMs);
    QCOMPARE(m_operatorWarnings.first(), textOf(IOThread::kTextBoardSilent).arg("COM1"));
    // Polling goes on, so the board is found again when it answers.
    QVERIFY(rig.waitPolls(5));
    // Never up yet, so nothing changed.
    QVERIFY(rig.linkStates.isEmpty());

    // Whenever the board answers again, the word it hears is the one wanted
    // then, never one from before its silence.
    for (const bool alarm : {true, false}) {
        rig.setAlarm(alarm);
        const int before = rig.board->frameCount();
        rig.board->setInputs(alarm ? 0x010 : 0x011);
        rig.board->setSilent(false);
        QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), alarm ? 0x010 : 0x011, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(rig.linkStates.size() % 2 == 1 && rig.linkStates.last(), 5000);
        const QVector<int> sent = rig.outputValuesFrom(before);
        QVERIFY(!sent.isEmpty());
        QCOMPARE(sent, QVector<int>(sent.size(), alarm ? 0xFC04 : 0xFC00));

        // A new outage is a new warning, and the link goes down once. A reply
        // already on its way may arrive after the clock moved on, so the
        // clock moves on until the thread has noticed (the heartbeat fed).
        rig.board->setSilent(true);
        const int told = m_operatorWarnings.size() + 1;
        QVERIFY(QTest::qWaitFor(
            [&] {
                rig.clock.advanceMs(IOThread::kNoAnswerMs + 1);
                rig.port->feedWatchdog();
                return QTest::qWaitFor([&] { return m_operatorWarnings.size() == told; }, 200);
            },
            10000));
        QCOMPARE(m_operatorWarnings.last(), textOf(IOThread::kTextBoardSilent).arg("COM1"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.linkStates.last(), 5000);
    }
    QVERIFY(rig.waitPolls(10));
    QCoreApplication::processEvents();
    QCOMPARE(rig.linkStates, (QList<bool>{true, false, true, false}));
    QCOMPARE(logCount("answering again"), 2);
}

void TestIOThread::unconfirmedOutputsAreReported()
{
    gLanguage = 3;
    Rig rig;
    rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.linkStates, QList<bool>{true}, 5000);

    // The alarm output is stuck on: the board drives it whatever it is told.
    rig.board->setStuckOutputs(1 << OutAlarm, 1 << OutAlarm);
    QVERIFY(rig.advanceAndHear(0));
    // Told the word again and again meanwhile.
    const int before = rig.board->frameCount();
    QVERIFY(rig.waitPolls(10));
    const QVector<int> resent = rig.outputValuesFrom(before);
    QVERIFY(resent.size() >= 5);
    QCOMPARE(resent, QVector<int>(resent.size(), 0xFC00));

    // A whole second of difference is tolerated; a little more is not. The
    // clock moves in steps shorter than the board's silence limit.
    QVERIFY(rig.advanceAndHear(IOThread::kEchoMismatchMs / 2));
    QVERIFY(rig.advanceAndHear(IOThread::kEchoMismatchMs / 2));
    QVERIFY(m_operatorWarnings.isEmpty());
    QCOMPARE(rig.linkStates, QList<bool>{true});
    QVERIFY(rig.advanceAndHear(1));
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 1, 5000);
    QCOMPARE(m_operatorWarnings.first(), textOf(IOThread::kTextOutputsUnconfirmed).arg("COM1"));
    QCOMPARE(m_operatorWarnings.first(), QStringLiteral("IOボードがCOM1で出力を確認しません。出力は信頼できません！"));
    QTRY_COMPARE(rig.linkStates, (QList<bool>{true, false}));
    QCOMPARE(logCount("does not confirm the outputs: sent 000, board drives 004"), 1);

    // Told once however long it lasts.
    for (int i = 0; i < 4; ++i) {
        QVERIFY(rig.advanceAndHear(IOThread::kEchoMismatchMs / 2));
    }
    QCoreApplication::processEvents();
    QCOMPARE(m_operatorWarnings.size(), 1);
    QCOMPARE(rig.linkStates, (QList<bool>{true, false}));

    // The program now wants the alarm on: the echo agrees, the outage ends.
    rig.setAlarm(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.linkStates, (QList<bool>{true, false, true}), 5000);
    QCOMPARE(logCount("outputs confirmed again"), 1);

    // The alarm output now sticks off: a new outage, told again.
    rig.board->setStuckOutputs(1 << OutAlarm, 0);
    QVERIFY(rig.advanceAndHear(0));
    QVERIFY(rig.advanceAndHear(IOThread::kEchoMismatchMs / 2));
    QVERIFY(rig.advanceAndHear(IOThread::kEchoMismatchMs / 2 + 1));
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 2, 5000);
    QTRY_COMPARE(rig.linkStates, (QList<bool>{true, false, true, false}));
    QCOMPARE(logCount("sent 004, board drives 000"), 1);
    QCOMPARE(rig.board->lastOutputValue(), 0xFC04);
}

void TestIOThread::quitLeavesOutputsAtRest()
{
    m_params[109] = 1;  // the ejector permission rests high
    Rig rig;
    rig.start();
    rig.port->setOutput(OutAllowClamp, 1);
    rig.port->setOutput(OutAlarm, 1);
    rig.port->commitOutputs();
    QTRY_COMPARE_WITH_TIMEOUT(rig.board->lastOutputValue(), 0xFC07, kSettleMs);

    runQuitHooks();
    QVERIFY(rig.port->ioThread()->isFinished());
    QTRY_COMPARE_WITH_TIMEOUT(rig.board->lastOutputValue(), 0xFC02, kSettleMs);
    const int frames = rig.board->frameCount();
    QTest::qWait(50);
    QCOMPARE(rig.board->frameCount(), frames);
}

QTEST_GUILESS_MAIN(TestIOThread)
#include "tst_iothread.moc"
