// The serial link to the I/O board, run against the simulated board on a real
// pseudo-terminal linked as "COM1" in the test's working folder.

#include "boardsimulator.h"
#include "controlport.h"
#include "globals.h"
#include "iothread.h"
#include "operatorprompt.h"
#include "platformhelpers.h"
#include "systemparam.h"
#include "testclock.h"
#include "testworkdir.h"

#include <QFile>
#include <QMutex>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <memory>

namespace {

QMutex gLogMutex;
QStringList gLogLines;
QtMessageHandler gPreviousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    {
        QMutexLocker lock(&gLogMutex);
        gLogLines.append(msg);
    }
    if (gPreviousHandler) {
        gPreviousHandler(type, context, msg);
    }
}

int logCount(const QString& text)
{
    QMutexLocker lock(&gLogMutex);
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
    QMutexLocker lock(gMutexTable[8]);
    return gInputWord;
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// One monitor-and-board set-up: a working folder, the simulated board linked as
// "COM1" (unless told otherwise), a ControlPort with a hand-driven heartbeat
// clock, and counters for what reached the GUI thread.
struct Rig {
    TestWorkDir dir;
    std::unique_ptr<BoardSimulator> board;
    // The heartbeat runs on the program's monotonic clock, held by the test.
    TestClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 0, 5)), true};
    ControlPort* port = nullptr;
    QObject receiver;
    int inputSignals = 0;
    QList<int> wordsSeenBySlot;

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
        port->feedWatchdog();
    }

    // Frames other than command 1: one per pass of the poll loop.
    int polls() const { return board->frameCount() - board->countCommand(CmdSetOutputs); }

    bool waitPolls(int more, int timeoutMs = 5000)
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
    void outputFrameBytes_data();
    void outputFrameBytes();
    void inputsDecoded_data();
    void inputsDecoded();
    void inputChangeSignalledOnce();
    void oneOutputFramePerPassWithReplies();
    void lineFaults_data();
    void lineFaults();
    void valueCommandsOnTheirPasses();
    void valueTableBounded_data();
    void valueTableBounded();
    void heartbeat();
    void portAppearingLaterIsOpened();
    void lostBoardIsReopened();
    void silentBoardIsReported();
    void quitLeavesOutputsAtRest();

private:
    SystemParam m_params;
    QStringList m_operatorWarnings;
};

void TestIOThread::initTestCase()
{
    gPreviousHandler = qInstallMessageHandler(captureMessages);
}

void TestIOThread::init()
{
    std::memset(&m_params, 0, sizeof m_params);
    gpSystemParam = &m_params;
    m_operatorWarnings.clear();
    setWarnOperatorHandler([this](const QString& text) { m_operatorWarnings.append(text); });
    QMutexLocker lock(&gLogMutex);
    gLogLines.clear();
}

void TestIOThread::cleanup()
{
    setWarnOperatorHandler({});
    gpSystemParam = nullptr;
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

void TestIOThread::outputFrameBytes_data()
{
    QTest::addColumn<int>("outputs");  // outputs switched on (rest levels all 0)
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("only output 0") << 0x001 << hex("5F 01 01 FC 5D F5");
    QTest::newRow("all off") << 0x000 << hex("5F 01 00 FC 5C F5");
    QTest::newRow("all on") << 0x3FF << hex("5F 01 FF FF 5E F5");
    QTest::newRow("outputs 8 and 9") << 0x300 << hex("5F 01 00 FF 5F F5");
    QTest::newRow("value 0x0A") << 0x00A << hex("5F 01 0A FC 66 F5");
    QTest::newRow("value 0x0D") << 0x00D << hex("5F 01 0D FC 69 F5");
    QTest::newRow("value 0x11") << 0x011 << hex("5F 01 11 FC 6D F5");
    QTest::newRow("value 0x13") << 0x013 << hex("5F 01 13 FC 6F F5");
    QTest::newRow("value 0x7F") << 0x07F << hex("5F 01 7F FC DB F5");
    QTest::newRow("sum 0x0A") << 0x0AE << hex("5F 01 AE FC 0A F5");
    QTest::newRow("sum 0x0D") << 0x0B1 << hex("5F 01 B1 FC 0D F5");
    QTest::newRow("sum 0x11") << 0x0B5 << hex("5F 01 B5 FC 11 F5");
    QTest::newRow("sum 0x13") << 0x0B7 << hex("5F 01 B7 FC 13 F5");
    QTest::newRow("sum 0x7F") << 0x023 << hex("5F 01 23 FC 7F F5");
}

void TestIOThread::outputFrameBytes()
{
    QFETCH(int, outputs);
    QFETCH(QByteArray, frame);

    Rig rig;
    rig.start();
    for (int i = 0; i < 10; ++i) {
        rig.port->setOutput(i, (outputs >> i) & 1);
    }
    rig.port->commitOutputs();
    const int value = (outputs | 0xFC00) & 0xFFFF;
    QTRY_COMPARE_WITH_TIMEOUT(rig.board->lastOutputValue(), value, 5000);

    const auto frames = rig.board->frames();
    QByteArray last;
    for (const auto& f : frames) {
        if (f.command() == CmdSetOutputs) {
            last = QByteArray(reinterpret_cast<const char*>(f.bytes), 6);
        }
    }
    QCOMPARE(last.toHex(' '), frame.toHex(' '));
    // Every byte the board received belonged to a whole frame: nothing was
    // added, dropped or translated on the line.
    QCOMPARE(rig.board->garbageBytes(), 0L);
    QCOMPARE(rig.board->receivedBytes().size(), rig.board->frameCount() * 6);
}

void TestIOThread::inputsDecoded_data()
{
    QTest::addColumn<int>("inputs");

    QTest::newRow("input 0") << 0x001;
    QTest::newRow("inputs 8 and 9 from d1") << 0x300;
    QTest::newRow("all ten") << 0x3FF;
    QTest::newRow("d0 0x0A") << 0x00A;
    QTest::newRow("d0 0x0D") << 0x10D;
    QTest::newRow("d0 0x11") << 0x011;
    QTest::newRow("d0 0x13") << 0x213;
    QTest::newRow("d0 0x7F") << 0x07F;
    QTest::newRow("d0 0x5F, a header byte") << 0x05F;
    QTest::newRow("d0 0xF5, a trailer byte") << 0x0F5;
}

void TestIOThread::inputsDecoded()
{
    QFETCH(int, inputs);

    // The board sets random junk in bits 2..7 of d1 and d3 of every reply.
    Rig rig;
    rig.start();
    rig.board->setInputs(inputs);
    QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), inputs, 5000);
    QVERIFY(rig.waitPolls(20));
    QCOMPARE(currentInputWord(), inputs);
    QTRY_COMPARE(rig.inputSignals, 1);
    QCOMPARE(rig.board->garbageBytes(), 0L);
    for (int i = 0; i < 8; ++i) {
        rig.port->inputEdge(i);
    }
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(rig.port->readIO(false, i), bool((inputs >> i) & 1));
    }
}

void TestIOThread::inputChangeSignalledOnce()
{
    Rig rig;
    rig.start();
    QVERIFY(rig.waitPolls(10));
    QCOMPARE(rig.inputSignals, 0);

    const QList<int> sequence = {0x001, 0x003, 0x003, 0x200, 0x000};
    QList<int> expectedWords;
    for (int word : sequence) {
        rig.board->setInputs(word);
        if (expectedWords.isEmpty() || expectedWords.last() != word) {
            expectedWords.append(word);
        }
        QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), word, 5000);
        QVERIFY(rig.waitPolls(10));
        QTRY_COMPARE(rig.inputSignals, expectedWords.size());
    }
    QVERIFY(rig.waitPolls(10));
    QCoreApplication::processEvents();
    QCOMPARE(rig.inputSignals, expectedWords.size());
    // The queued receiver always finds the word that caused the signal.
    QCOMPARE(rig.wordsSeenBySlot, expectedWords);
}

void TestIOThread::oneOutputFramePerPassWithReplies()
{
    Rig rig;
    rig.board->setAcknowledgeOutputs(true);  // replies to command 1 are ignored
    rig.start();
    rig.port->setOutput(OutAlarm, 1);
    rig.port->commitOutputs();
    QVERIFY(rig.waitPolls(100));

    const auto frames = rig.board->frames();
    int outputFrames = 0;
    for (int i = 0; i < frames.size(); ++i) {
        if (frames.at(i).command() != CmdSetOutputs) {
            continue;
        }
        ++outputFrames;
        // One command 1 per pass, after the parse and before that pass's poll.
        QVERIFY2(i > 0 && frames.at(i - 1).command() != CmdSetOutputs, qPrintable(QString::number(i)));
        if (i + 1 < frames.size()) {
            QVERIFY(frames.at(i + 1).command() != CmdSetOutputs);
        }
        QCOMPARE(frames.at(i).value(), 0xFC04);
    }
    // The board answers every poll, so nearly every pass sends the word.
    QVERIFY2(outputFrames >= rig.polls() / 2, qPrintable(QString::number(outputFrames)));
    QCOMPARE(rig.board->garbageBytes(), 0L);
}

void TestIOThread::lineFaults_data()
{
    QTest::addColumn<QByteArray>("first");   // written at once
    QTest::addColumn<QByteArray>("second");  // written a few passes later (empty: none)
    QTest::addColumn<int>("inputs");         // the input word afterwards
    QTest::addColumn<int>("signalCount");    // input signals
    QTest::addColumn<int>("outputFrames");   // command 1 frames

    const QByteArray a = BoardSimulator::pollReply(0x155, 0x000, 0xFCFC);
    const QByteArray b = BoardSimulator::pollReply(0x2AA, 0x3FF);
    const QByteArray bad = BoardSimulator::boardFrame(2, 0x0F, 0, 0, 0, true);
    QByteArray badTrailer = BoardSimulator::pollReply(0x0F0, 0);
    badTrailer[7] = char(0xF4);

    QTest::newRow("no reply: no command 1") << QByteArray() << QByteArray() << 0 << 0 << 0;
    QTest::newRow("one reply") << a << QByteArray() << 0x155 << 1 << 1;
    QTest::newRow("noise before a frame") << hex("00 FF 0A 0D 11 13 7F") + a << QByteArray() << 0x155 << 1 << 1;
    QTest::newRow("stray header costs one byte") << hex("5F") + a << QByteArray() << 0x155 << 1 << 1;
    QTest::newRow("stray header and command costs two") << hex("5F 02") + a << QByteArray() << 0x155 << 1 << 1;
    QTest::newRow("bad sum alone") << bad << QByteArray() << 0 << 0 << 0;
    QTest::newRow("bad sum then a good frame") << bad + a << QByteArray() << 0x155 << 1 << 1;
    QTest::newRow("bad trailer") << badTrailer << QByteArray() << 0 << 0 << 0;
    QTest::newRow("two replies at once") << a + b << QByteArray() << 0x2AA << 2 << 1;
    QTest::newRow("two equal replies") << a + a << QByteArray() << 0x155 << 1 << 1;
    QTest::newRow("split reply") << a.left(5) << a.mid(5) << 0x155 << 1 << 1;
    QTest::newRow("split inside the sum") << a.left(7) << a.mid(7) << 0x155 << 1 << 1;
    QTest::newRow("noise split from its frame") << hex("5F 5F") + a.left(3) << a.mid(3) << 0x155 << 1 << 1;
    QTest::newRow("other replies only")
        << BoardSimulator::boardFrame(1, 0, 0, 0, 0) + BoardSimulator::boardFrame(3, 1, 2, 3, 4)
               + BoardSimulator::boardFrame(9, 0x55, 0, 0, 0)
        << QByteArray() << 0 << 0 << 0;
}

void TestIOThread::lineFaults()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, inputs);
    QFETCH(int, signalCount);
    QFETCH(int, outputFrames);

    Rig rig;
    rig.board->setSilent(true);  // only the bytes of this row reach the host
    rig.start();
    QVERIFY(rig.waitPolls(3));
    const int before = rig.board->frameCount();

    if (!first.isEmpty()) {
        rig.board->sendRaw(first);
    }
    QVERIFY(rig.waitPolls(4));
    if (!second.isEmpty()) {
        // The first part alone completes nothing.
        QCOMPARE(rig.board->countCommand(CmdSetOutputs), 0);
        QCOMPARE(currentInputWord(), 0);
        rig.board->sendRaw(second);
        QVERIFY(rig.waitPolls(4));
    }
    QCoreApplication::processEvents();
    QTRY_COMPARE(rig.inputSignals, signalCount);
    QCOMPARE(currentInputWord(), inputs);
    QCOMPARE(rig.board->countCommand(CmdSetOutputs), outputFrames);

    const auto frames = rig.board->frames();
    for (int i = before; i < frames.size(); ++i) {
        if (frames.at(i).command() == CmdSetOutputs) {
            QCOMPARE(frames.at(i).value(), rig.port->outputWord() & 0xFFFF);
        }
    }
}

void TestIOThread::valueCommandsOnTheirPasses()
{
    Rig rig;
    rig.start();
    QVERIFY(rig.waitPolls(425, 10000));
    rig.port->stopIOThread();

    QVector<int> polls;
    for (const auto& f : rig.board->frames()) {
        if (f.command() != CmdSetOutputs) {
            polls.append(f.command());
        }
    }
    for (int i = 0; i < 420; ++i) {
        const int pass = i + 1;
        const int expected = pass % 210 == 200 ? 3 : pass % 210 == 0 ? 4 : 2;
        QVERIFY2(polls.at(i) == expected, qPrintable(QStringLiteral("pass %1 sent %2").arg(pass).arg(polls.at(i))));
    }
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(gBoardValues[i], BoardSimulator::boardValue(3, i));
        QCOMPARE(gBoardValues[8 + i], BoardSimulator::boardValue(4, i));
    }
}

void TestIOThread::valueTableBounded_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("replies");

    QTest::newRow("twelve replies to command 3") << 3 << 12;
    QTest::newRow("twenty replies to command 4") << 4 << 20;
}

void TestIOThread::valueTableBounded()
{
    QFETCH(int, command);
    QFETCH(int, replies);

    Rig rig;
    rig.board->setSilent(true);
    rig.start();
    // Answer only the one value command, with more replies than its half of the table.
    const int pass = command == 3 ? 200 : 210;
    QVERIFY(QTest::qWaitFor([&] { return rig.polls() >= pass; }, 10000));
    QByteArray burst;
    for (int i = 0; i < replies; ++i) {
        const quint32 v = quint32(0x7F000000 + i);
        burst += BoardSimulator::boardFrame(command, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24);
    }
    rig.board->sendRaw(burst);
    QVERIFY(rig.waitPolls(4));
    rig.port->stopIOThread();

    const int first = command == 3 ? 0 : 8;
    for (int i = 0; i < kBoardValueCount; ++i) {
        const qint32 expected = i >= first && i < first + 8 ? qint32(0x7F000000 + i - first) : 0;
        QCOMPARE(gBoardValues[i], expected);
    }
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
    QTRY_VERIFY_WITH_TIMEOUT(logCount(silentLine) >= 1, 5000);
    QTest::qWait(50);
    const int frozen = rig.board->frameCount();
    QTest::qWait(300);
    QCOMPARE(rig.board->frameCount(), frozen);

    // A fresh stamp: talking again, without waiting out the pause.
    rig.port->feedWatchdog();
    QVERIFY(rig.waitPolls(5, 900));
}

void TestIOThread::portAppearingLaterIsOpened()
{
    Rig rig(false);
    rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 1, 5000);
    QVERIFY(m_operatorWarnings.first().contains("COM1"));
    QVERIFY(!rig.port->ioThread()->isPortOpen());
    // Several attempts later the operator has still been told only once.
    QTest::qWait(3 * IOThread::kReopenIntervalMs);
    QCOMPARE(m_operatorWarnings.size(), 1);

    rig.plugBoard();
    rig.board->setInputs(0x004);
    QTRY_VERIFY_WITH_TIMEOUT(rig.polls() > 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), 0x004, 5000);
    QVERIFY(rig.port->ioThread()->isPortOpen());
    QVERIFY(logCount(QStringLiteral("opened at ") + rig.dir.filePath("COM1")) >= 1);
    QCOMPARE(m_operatorWarnings.size(), 1);
}

void TestIOThread::lostBoardIsReopened()
{
    Rig rig;
    rig.start();
    QVERIFY(rig.waitPolls(5));

    rig.board->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 1, 5000);
    QTRY_VERIFY(!rig.port->ioThread()->isPortOpen());

    rig.board->setInputs(0x021);
    QVERIFY(rig.board->plugIn());
    QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), 0x021, 5000);
    QVERIFY(rig.port->ioThread()->isPortOpen());
    QCOMPARE(m_operatorWarnings.size(), 1);
}

void TestIOThread::silentBoardIsReported()
{
    Rig rig;
    rig.board->setSilent(true);
    rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 1, 5000);
    QVERIFY(m_operatorWarnings.first().contains("does not answer"));
    // Polling goes on, so the board is found again when it answers.
    QVERIFY(rig.waitPolls(5));

    rig.board->setInputs(0x010);
    rig.board->setSilent(false);
    QTRY_COMPARE_WITH_TIMEOUT(currentInputWord(), 0x010, 5000);
    QTRY_VERIFY(logCount("answering again") == 1);
    QCOMPARE(m_operatorWarnings.size(), 1);

    // A new outage is a new warning.
    rig.board->setSilent(true);
    QTRY_COMPARE_WITH_TIMEOUT(m_operatorWarnings.size(), 2, 5000);
}

void TestIOThread::quitLeavesOutputsAtRest()
{
    m_params[109] = 1;  // the ejector permission rests high
    Rig rig;
    rig.start();
    rig.port->setOutput(OutAllowClamp, 1);
    rig.port->setOutput(OutAlarm, 1);
    rig.port->commitOutputs();
    QTRY_COMPARE_WITH_TIMEOUT(rig.board->lastOutputValue(), 0xFC07, 5000);

    runQuitHooks();
    QVERIFY(rig.port->ioThread()->isFinished());
    QTRY_COMPARE(rig.board->lastOutputValue(), 0xFC02);
    const int frames = rig.board->frameCount();
    QTest::qWait(50);
    QCOMPARE(rig.board->frameCount(), frames);
}

QTEST_GUILESS_MAIN(TestIOThread)
#include "tst_iothread.moc"
