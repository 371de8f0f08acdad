// The logical machine I/O: output polarity and the spare-output mirror, the
// published word, input inversion, edges, the spare-input substitution and the
// safety-door rule. No I/O thread runs here: the words are set and read directly.

#include "controlport.h"
#include "globals.h"
#include "iothread.h"
#include "processstate.h"
#include "systemparam.h"

#include <QSignalSpy>
#include <QtTest>

#include <cstring>
#include <memory>
#include <mutex>

namespace {

void setInputWord(int word)
{
    std::lock_guard<std::mutex> lock(*gMutexTable[8]);
    gInputWord = word;
}

int publishedWord()
{
    std::lock_guard<std::mutex> lock(*gMutexTable[8]);
    return gOutputWord;
}

// "slot=value slot=value ..." into the record.
void applySlots(SystemParam& params, const QString& text)
{
    for (const QString& item : text.split(' ', Qt::SkipEmptyParts)) {
        params[item.section('=', 0, 0).toInt()] = item.section('=', 1, 1).toInt();
    }
}

constexpr int kHighBits = ~0x3FF;

} // namespace

class TestControlPort : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setOutput_data();
    void setOutput();
    void setOutputIgnoresOtherIndexes();
    void initOutputs_data();
    void initOutputs();
    void constructorPublishesRestLevels();
    void commitSignalsChangesOnly();
    void readIO_data();
    void readIO();
    void inputEdge_data();
    void inputEdge();
    void safetyDoor_data();
    void safetyDoor();

private:
    SystemParam m_params;
    std::unique_ptr<ProcessState> m_state;
};

void TestControlPort::init()
{
    m_state = std::make_unique<ProcessState>();
    std::memset(&m_params, 0, sizeof m_params);
    gpSystemParam = &m_params;
    gInputWord = 0;
    gOutputWord = -1;
    gDoorClearedAlarm = 0;
}

void TestControlPort::cleanup()
{
    m_state.reset();
}

void TestControlPort::setOutput_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("calls");  // "index:on ..." in order
    QTest::addColumn<int>("expected");   // bits 0..9 of the word

    QTest::newRow("alarm on, rest level 0 sets the bit") << "" << "2:1" << 0x004;
    QTest::newRow("alarm on, rest level 1 clears the bit") << "110=1" << "2:1" << 0x000;
    QTest::newRow("alarm off, rest level 1 sets the bit") << "110=1" << "2:1 2:0" << 0x004;
    QTest::newRow("spare follows clamp") << "173=1" << "0:1" << 0x009;
    QTest::newRow("spare follows clamp, then set by itself") << "173=1" << "0:1 3:0" << 0x001;
    QTest::newRow("spare follows clamp's physical level") << "173=1 108=1" << "0:0" << 0x009;
    QTest::newRow("spare follows ejector") << "173=2" << "1:1 0:1" << 0x00B;
    QTest::newRow("spare follows output 10") << "173=10" << "9:1" << 0x208;
    QTest::newRow("spare setting out of range") << "173=11" << "9:1 0:1" << 0x201;
    QTest::newRow("any value of on counts") << "" << "4:7 5:-1" << 0x030;
}

void TestControlPort::setOutput()
{
    QFETCH(QString, settings);
    QFETCH(QString, calls);
    QFETCH(int, expected);

    ControlPort port;
    applySlots(m_params, settings);
    port.initOutputs();
    for (const QString& call : calls.split(' ')) {
        port.setOutput(call.section(':', 0, 0).toInt(), call.section(':', 1, 1).toInt());
    }
    QCOMPARE(port.outputWord() & 0x3FF, expected);
    QCOMPARE(port.outputWord() & kHighBits, kHighBits);
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(port.readIO(true, i), bool((expected >> i) & 1));
    }
}

void TestControlPort::setOutputIgnoresOtherIndexes()
{
    ControlPort port;
    const int before = port.outputWord();
    QTest::ignoreMessage(QtWarningMsg, "ControlPort::setOutput: no output 10");
    port.setOutput(10, 1);
    QTest::ignoreMessage(QtWarningMsg, "ControlPort::setOutput: no output -1");
    port.setOutput(-1, 1);
    QCOMPARE(port.outputWord(), before);
    QCOMPARE(port.readIO(true, 10), false);
    QCOMPARE(port.readIO(false, -1), false);
}

void TestControlPort::initOutputs_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("expected");

    QTest::newRow("all rest levels 0") << "" << 0x000;
    QTest::newRow("all rest levels 1")
        << "108=1 109=1 110=1 111=1 112=1 113=1 114=1 115=1 116=1 117=1" << 0x3FF;
    QTest::newRow("spare follows ejector: output 3's own rest level wins") << "173=2 109=1" << 0x002;
    QTest::newRow("spare follows alarm: output 3's own rest level wins") << "173=3 110=1 111=0" << 0x004;
    QTest::newRow("spare follows output 6: its rest level stays in bit 3") << "173=6 113=1" << 0x028;
    QTest::newRow("spare follows output 10, rest 0, own rest 1") << "173=10 111=1" << 0x000;
    QTest::newRow("any non-zero rest level counts") << "108=-5 117=2" << 0x201;
}

void TestControlPort::initOutputs()
{
    QFETCH(QString, settings);
    QFETCH(int, expected);

    ControlPort port;
    for (int i = 0; i < 10; ++i) {
        port.setOutput(i, 1);
    }
    applySlots(m_params, settings);
    const int published = publishedWord();
    port.initOutputs();
    QCOMPARE(port.outputWord() & 0x3FF, expected);
    QCOMPARE(port.outputWord() & kHighBits, kHighBits);
    // Resting is not publishing: the cycle commits when it is ready.
    QCOMPARE(publishedWord(), published);
}

void TestControlPort::constructorPublishesRestLevels()
{
    m_params.outInitState(0) = 1;
    m_params.outInitState(4) = 1;
    ControlPort port;
    QCOMPARE(publishedWord(), kHighBits | 0x011);
    QCOMPARE(port.outputWord(), kHighBits | 0x011);
}

void TestControlPort::commitSignalsChangesOnly()
{
    ControlPort port;
    QSignalSpy spy(&port, &ControlPort::sigIOChange);

    port.setOutput(OutAllowClamp, 1);
    port.commitOutputs();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(publishedWord(), kHighBits | 0x001);
    port.commitOutputs();
    QCOMPARE(spy.count(), 1);

    // Switching on and off again before a commit publishes nothing new.
    port.setOutput(OutAlarm, 1);
    port.setOutput(OutAlarm, 0);
    port.commitOutputs();
    QCOMPARE(spy.count(), 1);

    port.setOutput(OutAllowClamp, 0);
    port.commitOutputs();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(publishedWord(), kHighBits);
}

void TestControlPort::readIO_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("inputWord");
    QTest::addColumn<int>("expected");  // readIO(false, i) for i = 0..9 as bits

    QTest::newRow("plain") << "" << 0x2A5 << 0x2A5;
    QTest::newRow("input 0 inverted") << "99=1" << 0x000 << 0x001;
    QTest::newRow("input 7 inverted") << "106=1" << 0x080 << 0x000;
    QTest::newRow("all eight inverted, 8 and 9 never")
        << "99=1 100=1 101=1 102=1 103=1 104=1 105=1 106=1" << 0x300 << 0x3FF;
    QTest::newRow("spare input 3 stands in for input 2") << "153=3" << 0x008 << 0x00C;
}

void TestControlPort::readIO()
{
    QFETCH(QString, settings);
    QFETCH(int, inputWord);
    QFETCH(int, expected);

    applySlots(m_params, settings);
    ControlPort port;
    setInputWord(inputWord);
    // Reading shows the level now, without an edge check: a debounce that
    // ends between two passes sees whether the input is still there.
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(port.readIO(false, i), bool((expected >> i) & 1));
    }
    port.inputEdge(0);
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(port.readIO(false, i), bool((expected >> i) & 1));
    }
}

void TestControlPort::inputEdge_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("steps");  // "inputWord:index:edge ..." in order

    QTest::newRow("already active at the first call") << "" << "0x001:0:1";
    QTest::newRow("rising once, held, released, rising again") << "" << "0x001:0:1 0x001:0:0 0x000:0:0 0x001:0:1";
    QTest::newRow("each input remembers its own level")
        << "" << "0x004:2:1 0x004:0:0 0x005:0:1 0x005:2:0";
    QTest::newRow("inverted input: falling raw level is the edge")
        << "99=1" << "0x000:0:0 0x001:0:0 0x000:0:1 0x000:0:0";
    QTest::newRow("spare 3 for input 1: input 3 makes the edge, input 1 ignored")
        << "153=2 189=1" << "0x008:1:1 0x002:1:0 0x00A:1:1";
    QTest::newRow("spare 3 for input 0") << "153=1" << "0x008:0:1 0x001:0:0";
    QTest::newRow("spare 3 for input 2; input 3 keeps its level") << "153=3" << "0x008:2:1 0x008:3:1";
    QTest::newRow("spare setting out of range") << "153=4" << "0x008:0:0 0x001:0:1";
    QTest::newRow("inputs 8 and 9 carried, not inverted") << "99=1" << "0x100:8:1";
}

void TestControlPort::inputEdge()
{
    QFETCH(QString, settings);
    QFETCH(QString, steps);

    applySlots(m_params, settings);
    ControlPort port;
    int n = 0;
    for (const QString& step : steps.split(' ')) {
        setInputWord(step.section(':', 0, 0).toInt(nullptr, 16));
        const int index = step.section(':', 1, 1).toInt();
        const bool edge = step.section(':', 2, 2).toInt();
        QVERIFY2(port.inputEdge(index) == edge, qPrintable(QStringLiteral("step %1: %2").arg(n).arg(step)));
        ++n;
    }
}

void TestControlPort::safetyDoor_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("opening"); // false: the door closes
    QTest::addColumn<bool>("flag");

    QTest::newRow("standard machine") << "" << true << true;
    QTest::newRow("spare follows alarm") << "173=3" << true << true;
    QTest::newRow("alarm rest level 1") << "110=1" << true << true;
    QTest::newRow("inverted door input") << "100=1" << true << true;
    QTest::newRow("two-colour machine: nothing") << "189=1" << true << false;
    QTest::newRow("rotary table: nothing") << "189=2" << true << false;
    QTest::newRow("other system function values apply the rule") << "189=3" << true << true;
    QTest::newRow("closing the door changes nothing") << "" << false << false;
}

// The port sees the door open and says so; what that does to the alarm is
// the output authority's (the cycle's tests). The port itself writes nothing.
void TestControlPort::safetyDoor()
{
    QFETCH(QString, settings);
    QFETCH(bool, opening);
    QFETCH(bool, flag);

    applySlots(m_params, settings);
    const bool doorInverted = m_params.inputInvert(InSafetyDoor) != 0;
    const int doorClosedRaw = doorInverted ? 0x000 : 0x002;
    const int doorOpenRaw = doorInverted ? 0x002 : 0x000;

    ControlPort port;
    port.setOutput(OutAlarm, 1);
    port.commitOutputs();
    const int alarmWord = port.outputWord();

    // The door's starting position is learnt by the edge check of input 1.
    setInputWord(opening ? doorClosedRaw : doorOpenRaw);
    port.inputEdge(InSafetyDoor);
    QVERIFY(!port.takeDoorOpened());
    QCOMPARE(gDoorClearedAlarm, (unsigned char)0);

    setInputWord(opening ? doorOpenRaw : doorClosedRaw);
    // One pass of the cycle asks for inputs 0..7 in order.
    for (int i = 0; i < 8; ++i) {
        port.inputEdge(i);
    }
    QCOMPARE(port.outputWord(), alarmWord);
    QCOMPARE(publishedWord(), alarmWord);
    QCOMPARE(gDoorClearedAlarm, (unsigned char)(flag ? 1 : 0));
    QCOMPARE(port.takeDoorOpened(), flag);
    QVERIFY(!port.takeDoorOpened());
}

QTEST_GUILESS_MAIN(TestControlPort)
#include "tst_controlport.moc"
