// The I/O board's wire format without a port: host frames, the scan of the
// board's replies with every line fault, the value table, the poll schedule
// and a seeded loop of random lines. The simulated board's own framing (written
// apart from the program's) makes the frames the scan must find.

#include "boardframing.h"
#include "boardsimulator.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cstring>
#include <random>
#include <vector>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const unsigned char* bytes(const QByteArray& b)
{
    return reinterpret_cast<const unsigned char*>(b.constData());
}

// What the poll loop makes of the events of one read: the input word as the
// lock-guarded global holds it, the input signals it emits, the command 1
// frames it sends.
struct LinkModel {
    BoardReceiver receiver;
    int inputWord = 0;
    int signalCount = 0;
    int outputFrames = 0;
    qint32 values[kBoardValueCount] = {};
    int nextValueIndex = kBoardValueCount;

    BoardReceiver::Result feed(const QByteArray& data, int sentWord = -1)
    {
        const BoardReceiver::Result r = receiver.receive(bytes(data), data.size(), sentWord, values, &nextValueIndex);
        for (int i = 0; i < r.pollReplies; ++i) {
            if (r.inputWords[i] != inputWord) {
                ++signalCount;
            }
            inputWord = r.inputWords[i];
        }
        if (r.sendOutputs) {
            ++outputFrames;
        }
        return r;
    }
};

quint32 fuzzSeed()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariableIntValue("KORVANE_FUZZ_SEED", &ok);
    return ok ? seed : 20261208u;
}

} // namespace

class TestBoardFraming : public QObject {
    Q_OBJECT

private slots:
    void hostFrameBytes_data();
    void hostFrameBytes();
    void pollReplyDecoded_data();
    void pollReplyDecoded();
    void outputEchoJudged_data();
    void outputEchoJudged();
    void lineFaults_data();
    void lineFaults();
    void receiveBufferBounded();
    void valueTableBounded_data();
    void valueTableBounded();
    void valueCommandsOnTheirPasses();
    void randomLines();
};

void TestBoardFraming::hostFrameBytes_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("frame");

    // Output words as the board sees them: bits 10..15 always set.
    QTest::newRow("only output 0") << 0xFC01 << hex("5F 01 01 FC 5D F5");
    QTest::newRow("all off") << 0xFC00 << hex("5F 01 00 FC 5C F5");
    QTest::newRow("all on") << 0xFFFF << hex("5F 01 FF FF 5E F5");
    QTest::newRow("outputs 8 and 9") << 0xFF00 << hex("5F 01 00 FF 5F F5");
    QTest::newRow("value 0x0A") << 0xFC0A << hex("5F 01 0A FC 66 F5");
    QTest::newRow("value 0x0D") << 0xFC0D << hex("5F 01 0D FC 69 F5");
    QTest::newRow("value 0x11") << 0xFC11 << hex("5F 01 11 FC 6D F5");
    QTest::newRow("value 0x13") << 0xFC13 << hex("5F 01 13 FC 6F F5");
    QTest::newRow("value 0x7F") << 0xFC7F << hex("5F 01 7F FC DB F5");
    QTest::newRow("sum 0x0A") << 0xFCAE << hex("5F 01 AE FC 0A F5");
    QTest::newRow("sum 0x0D") << 0xFCB1 << hex("5F 01 B1 FC 0D F5");
    QTest::newRow("sum 0x11") << 0xFCB5 << hex("5F 01 B5 FC 11 F5");
    QTest::newRow("sum 0x13") << 0xFCB7 << hex("5F 01 B7 FC 13 F5");
    QTest::newRow("sum 0x7F") << 0xFC23 << hex("5F 01 23 FC 7F F5");
    // The word is an int with every bit from 10 up set: only its low 16 bits go out.
    QTest::newRow("whole word -1024") << -1024 << hex("5F 01 00 FC 5C F5");
}

void TestBoardFraming::hostFrameBytes()
{
    QFETCH(int, value);
    QFETCH(QByteArray, frame);

    unsigned char out[kHostFrameSize] = {};
    buildHostFrame(out, CmdSetOutputs, value);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), kHostFrameSize).toHex(' '), frame.toHex(' '));
}

void TestBoardFraming::pollReplyDecoded_data()
{
    QTest::addColumn<int>("inputs");
    QTest::addColumn<int>("echo");

    QTest::newRow("input 0") << 0x001 << 0x000;
    QTest::newRow("inputs 8 and 9 from d1") << 0x300 << 0x155;
    QTest::newRow("all ten") << 0x3FF << 0x3FF;
    QTest::newRow("d0 0x0A") << 0x00A << 0x0A0;
    QTest::newRow("d0 0x0D") << 0x10D << 0x20D;
    QTest::newRow("d0 0x11") << 0x011 << 0x011;
    QTest::newRow("d0 0x13") << 0x213 << 0x013;
    QTest::newRow("d0 0x7F") << 0x07F << 0x37F;
    QTest::newRow("d0 0x5F, a header byte") << 0x05F << 0x05F;
    QTest::newRow("d0 0xF5, a trailer byte") << 0x0F5 << 0x0F5;
}

void TestBoardFraming::pollReplyDecoded()
{
    QFETCH(int, inputs);
    QFETCH(int, echo);

    // Bits 2 to 7 of d1 and d3 carry junk on the real board.
    for (int junk : {0x0000, 0xFCFC, 0x5454, 0xA8A8}) {
        const QByteArray frame = BoardSimulator::pollReply(inputs, echo, junk);
        const BoardScan scan = scanBoardFrames(bytes(frame), frame.size());
        QCOMPARE(scan.replyCount, 1);
        QCOMPARE(scan.consumed, kBoardFrameSize);
        QCOMPARE(int(scan.replies[0].command), int(CmdPoll));
        const PollReply poll = decodePollReply(scan.replies[0]);
        QCOMPARE(poll.inputs, inputs);
        QCOMPARE(poll.echo, echo);
    }
}

void TestBoardFraming::outputEchoJudged_data()
{
    QTest::addColumn<int>("sentWord");
    QTest::addColumn<QList<int>>("echoes");  // of the poll replies of one read, in order
    QTest::addColumn<int>("echo");           // what the read reports, -1 for none
    QTest::addColumn<bool>("matches");

    // The program's words have every bit from 10 up set; the board echoes ten bits.
    const int allOff = -1024;
    QTest::newRow("outputs off, confirmed") << allOff << QList<int>{0x000} << 0x000 << true;
    QTest::newRow("outputs 0 and 2, confirmed") << (allOff | 0x005) << QList<int>{0x005} << 0x005 << true;
    QTest::newRow("outputs 8 and 9 from d3") << (allOff | 0x300) << QList<int>{0x300} << 0x300 << true;
    QTest::newRow("output 9 missing") << (allOff | 0x300) << QList<int>{0x100} << 0x100 << false;
    QTest::newRow("an output stuck on") << allOff << QList<int>{0x020} << 0x020 << false;
    QTest::newRow("an output stuck off") << (allOff | 0x3FF) << QList<int>{0x3FB} << 0x3FB << false;
    // Only the latest reply tells what the board drives now.
    QTest::newRow("old echo, then the new one") << (allOff | 0x001) << QList<int>{0x000, 0x001} << 0x001 << true;
    QTest::newRow("confirmed, then lost") << (allOff | 0x001) << QList<int>{0x001, 0x000} << 0x000 << false;
    QTest::newRow("no poll reply") << allOff << QList<int>{} << -1 << false;
}

void TestBoardFraming::outputEchoJudged()
{
    QFETCH(int, sentWord);
    QFETCH(QList<int>, echoes);
    QFETCH(int, echo);
    QFETCH(bool, matches);

    // Junk in bits 2 to 7 of d3 never counts; a reply to another command
    // carries no echo.
    QByteArray line = BoardSimulator::boardFrame(CmdReadValues1, 1, 2, 3, 4);
    for (int e : echoes) {
        line += BoardSimulator::pollReply(0x000, e, 0xFCFC);
    }
    LinkModel link;
    link.nextValueIndex = 0;
    const BoardReceiver::Result r = link.feed(line, sentWord);
    QCOMPARE(r.echo, echo);
    QCOMPARE(r.echoMatches, matches);
    QCOMPARE(r.sendOutputs, !echoes.isEmpty());
}

void TestBoardFraming::lineFaults_data()
{
    QTest::addColumn<QByteArray>("first");   // one read
    QTest::addColumn<QByteArray>("second");  // a later read (empty: none)
    QTest::addColumn<int>("inputs");         // the input word afterwards
    QTest::addColumn<int>("signalCount");    // input signals
    QTest::addColumn<int>("outputFrames");   // command 1 frames
    QTest::addColumn<int>("skipped");        // bytes stepped over
    QTest::addColumn<int>("left");           // bytes waiting for the next read

    const QByteArray a = BoardSimulator::pollReply(0x155, 0x000, 0xFCFC);
    const QByteArray b = BoardSimulator::pollReply(0x2AA, 0x3FF);
    const QByteArray bad = BoardSimulator::boardFrame(2, 0x0F, 0, 0, 0, true);
    QByteArray badTrailer = BoardSimulator::pollReply(0x0F0, 0);
    badTrailer[7] = char(0xF4);
    QByteArray badHeader = BoardSimulator::pollReply(0x0F0, 0);
    badHeader[0] = char(0x5E);

    QTest::newRow("nothing") << QByteArray() << QByteArray() << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("one reply") << a << QByteArray() << 0x155 << 1 << 1 << 0 << 0;
    QTest::newRow("noise before a frame") << hex("00 FF 0A 0D 11 13 7F") + a << QByteArray() << 0x155 << 1 << 1 << 7
                                          << 0;
    QTest::newRow("stray header costs one byte") << hex("5F") + a << QByteArray() << 0x155 << 1 << 1 << 1 << 0;
    QTest::newRow("stray header and command costs two") << hex("5F 02") + a << QByteArray() << 0x155 << 1 << 1 << 2
                                                         << 0;
    QTest::newRow("bad sum alone") << bad << QByteArray() << 0 << 0 << 0 << 1 << 7;
    QTest::newRow("bad sum then a good frame") << bad + a << QByteArray() << 0x155 << 1 << 1 << 8 << 0;
    QTest::newRow("bad trailer") << badTrailer << QByteArray() << 0 << 0 << 0 << 1 << 7;
    QTest::newRow("bad header") << badHeader << QByteArray() << 0 << 0 << 0 << 1 << 7;
    QTest::newRow("two replies at once: one command 1") << a + b << QByteArray() << 0x2AA << 2 << 1 << 0 << 0;
    QTest::newRow("two equal replies: one signal") << a + a << QByteArray() << 0x155 << 1 << 1 << 0 << 0;
    QTest::newRow("split reply") << a.left(5) << a.mid(5) << 0x155 << 1 << 1 << 0 << 0;
    QTest::newRow("split inside the sum") << a.left(7) << a.mid(7) << 0x155 << 1 << 1 << 0 << 0;
    QTest::newRow("split after the header") << a.left(1) << a.mid(1) << 0x155 << 1 << 1 << 0 << 0;
    QTest::newRow("noise split from its frame") << hex("5F 5F") + a.left(3) << a.mid(3) << 0x155 << 1 << 1 << 2 << 0;
    QTest::newRow("half a frame after a whole one") << a + b.left(4) << b.mid(4) << 0x2AA << 2 << 2 << 0 << 0;
    QTest::newRow("the start of a frame that never ends") << a + b.left(6) << QByteArray() << 0x155 << 1 << 1 << 0
                                                          << 6;
    QTest::newRow("other replies only")
        << BoardSimulator::boardFrame(1, 0, 0, 0, 0) + BoardSimulator::boardFrame(3, 1, 2, 3, 4)
               + BoardSimulator::boardFrame(9, 0x55, 0, 0, 0)
        << QByteArray() << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("a reply to command 1 between two polls")
        << a + BoardSimulator::boardFrame(1, 0xFF, 0xFF, 0, 0) + b << QByteArray() << 0x2AA << 2 << 1 << 0 << 0;
    // A poll reply whose data bytes hold header and trailer values is still one frame.
    QTest::newRow("header and trailer values as data")
        << BoardSimulator::boardFrame(2, 0x5F, 0xF5, 0x5F, 0xF5) << QByteArray() << 0x15F << 1 << 1 << 0 << 0;
}

void TestBoardFraming::lineFaults()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, inputs);
    QFETCH(int, signalCount);
    QFETCH(int, outputFrames);
    QFETCH(int, skipped);
    QFETCH(int, left);

    LinkModel link;
    int totalSkipped = link.feed(first).skipped;
    if (!second.isEmpty()) {
        totalSkipped += link.feed(second).skipped;
    }
    QCOMPARE(link.inputWord, inputs);
    QCOMPARE(link.signalCount, signalCount);
    QCOMPARE(link.outputFrames, outputFrames);
    QCOMPARE(totalSkipped, skipped);
    QCOMPARE(link.receiver.fill(), left);
}

void TestBoardFraming::receiveBufferBounded()
{
    // A read larger than the free room: what fits is kept, the rest dropped,
    // and the frames after it are found again.
    LinkModel link;
    const QByteArray a = BoardSimulator::pollReply(0x001, 0);
    const QByteArray b = BoardSimulator::pollReply(0x002, 0);
    QByteArray flood(kIoBufferSize + 100, char(0x5F));  // headers only: never a frame
    BoardReceiver::Result r = link.feed(flood);
    QCOMPARE(r.dropped, 100);
    QCOMPARE(r.skipped, kIoBufferSize - (kBoardFrameSize - 1));
    QCOMPARE(link.receiver.fill(), kBoardFrameSize - 1);

    // 7 stale header bytes are left; a frame after them costs them and is found.
    r = link.feed(a);
    QCOMPARE(r.frames, 1);
    QCOMPARE(link.inputWord, 0x001);

    // A full buffer of good frames at once: 128 frames in one scan.
    QByteArray many;
    for (int i = 0; i < kIoBufferSize / kBoardFrameSize; ++i) {
        many += i % 2 ? a : b;
    }
    r = link.feed(many + b);  // the last frame does not fit and is lost
    QCOMPARE(r.frames, BoardScan::MaxReplies);
    QCOMPARE(r.dropped, kBoardFrameSize);
    QCOMPARE(r.pollReplies, BoardScan::MaxReplies);
    QCOMPARE(link.inputWord, 0x001);
    QCOMPARE(link.receiver.fill(), 0);
}

void TestBoardFraming::valueTableBounded_data()
{
    QTest::addColumn<int>("command");     // the value command answered
    QTest::addColumn<int>("startIndex");  // where the poll loop set the table's next entry
    QTest::addColumn<int>("replies");
    QTest::addColumn<int>("stored");

    QTest::newRow("eight replies to command 3") << 3 << 0 << 8 << 8;
    QTest::newRow("twelve replies to command 3") << 3 << 0 << 12 << 8;
    QTest::newRow("twenty replies to command 4") << 4 << 8 << 20 << 8;
    QTest::newRow("command 4 answered while 3 was asked") << 4 << 0 << 3 << 0;
    QTest::newRow("command 3 answered while 4 was asked") << 3 << 8 << 3 << 0;
    QTest::newRow("no value command outstanding") << 3 << kBoardValueCount << 2 << 0;
}

void TestBoardFraming::valueTableBounded()
{
    QFETCH(int, command);
    QFETCH(int, startIndex);
    QFETCH(int, replies);
    QFETCH(int, stored);

    LinkModel link;
    link.nextValueIndex = startIndex;
    QByteArray burst;
    for (int i = 0; i < replies; ++i) {
        const quint32 v = quint32(0x80000000u + quint32(i) * 0x01010101u);
        burst += BoardSimulator::boardFrame(command, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24);
    }
    const BoardReceiver::Result r = link.feed(burst);
    QCOMPARE(r.frames, replies);
    QCOMPARE(r.pollReplies, 0);
    QVERIFY(!r.sendOutputs);
    for (int i = 0; i < kBoardValueCount; ++i) {
        const int k = i - startIndex;
        const qint32 expected = k >= 0 && k < stored ? qint32(0x80000000u + quint32(k) * 0x01010101u) : 0;
        QCOMPARE(link.values[i], expected);
    }
    QCOMPARE(link.nextValueIndex, startIndex + stored);
}

void TestBoardFraming::valueCommandsOnTheirPasses()
{
    int pollCount = 0;
    int valueIndex = kBoardValueCount;
    for (int pass = 1; pass <= 3 * 210; ++pass) {
        const int command = nextPollCommand(&pollCount, &valueIndex);
        const int expected = pass % 210 == 200 ? 3 : pass % 210 == 0 ? 4 : 2;
        QVERIFY2(command == expected, qPrintable(QStringLiteral("pass %1 sent %2").arg(pass).arg(command)));
        if (command == 3) {
            QCOMPARE(valueIndex, 0);
        } else if (command == 4) {
            QCOMPARE(valueIndex, 8);
            QCOMPARE(pollCount, 0);
        }
        QVERIFY(pollCount >= 0 && pollCount < 210);
    }
}

void TestBoardFraming::randomLines()
{
    // Lines of good frames, frames with one fault and noise, cut into reads of
    // random size. Noise never holds a header byte, and a faulty frame holds
    // one only at its start, so every good frame must come out exactly once
    // and in order, whatever the cuts.
    const quint32 seed = fuzzSeed();
    std::mt19937 rng(seed);
    auto below = [&rng](int n) { return int(rng() % quint32(n)); };
    auto byteNot = [&](unsigned char avoid) {
        const int b = below(255);
        return static_cast<unsigned char>(b >= avoid ? b + 1 : b);
    };

    QElapsedTimer timer;
    timer.start();
    constexpr int kFrames = 120000;
    int frames = 0;
    long long skippedTotal = 0;
    while (frames < kFrames) {
        // One line: a few hundred frames and faults.
        QByteArray line;
        std::vector<int> expectedInputs;
        int expectedFrames = 0;
        const int parts = 200 + below(200);
        for (int p = 0; p < parts; ++p, ++frames) {
            const int kind = below(10);
            unsigned char f[kBoardFrameSize] = {kFrameHeader, static_cast<unsigned char>(kind < 6 ? 2 : 1 + below(9))};
            for (int i = 2; i < 6; ++i) {
                f[i] = static_cast<unsigned char>(rng());
            }
            f[7] = kFrameTrailer;
            if (kind < 8) {
                f[6] = checkSum8(f, 6);
                ++expectedFrames;
                if (f[1] == CmdPoll) {
                    expectedInputs.push_back(f[2] | ((f[3] & 3) << 8));
                }
            } else if (kind == 8) {
                // One fault, and no header byte after the first.
                for (int i = 1; i < 6; ++i) {
                    f[i] = f[i] == kFrameHeader ? 0 : f[i];
                }
                const unsigned char sum = checkSum8(f, 6);
                if (below(2) == 0) {
                    do {
                        f[6] = byteNot(kFrameHeader);
                    } while (f[6] == sum);
                } else {
                    f[6] = sum == kFrameHeader ? 0 : sum;  // a sum of 0x5F is made wrong too
                    f[7] = byteNot(kFrameTrailer);
                    f[7] = f[7] == kFrameHeader ? 0 : f[7];
                }
            } else {
                const int n = 1 + below(12);
                for (int i = 0; i < n; ++i) {
                    line.append(char(byteNot(kFrameHeader)));
                }
                continue;
            }
            line.append(reinterpret_cast<const char*>(f), kBoardFrameSize);
        }

        LinkModel link;
        std::vector<int> foundInputs;
        int foundFrames = 0;
        int pos = 0;
        while (pos < line.size()) {
            // Reads never larger than the free room: nothing is dropped here.
            const int n = qMin(line.size() - pos, below(kIoBufferSize - kBoardFrameSize) + 1);
            const int fillBefore = link.receiver.fill();
            const BoardReceiver::Result r = link.feed(line.mid(pos, n));
            QCOMPARE(r.dropped, 0);
            QVERIFY(link.receiver.fill() < kBoardFrameSize);
            QCOMPARE(fillBefore + n - link.receiver.fill(), r.frames * kBoardFrameSize + r.skipped);
            // Every poll reply asks for command 1, whatever its echo says.
            QCOMPARE(r.sendOutputs, r.pollReplies > 0);
            foundInputs.insert(foundInputs.end(), r.inputWords, r.inputWords + r.pollReplies);
            foundFrames += r.frames;
            skippedTotal += r.skipped;
            pos += n;
        }
        QVERIFY2(foundFrames == expectedFrames,
                 qPrintable(QStringLiteral("seed %1: %2 frames found, %3 sent").arg(seed).arg(foundFrames).arg(expectedFrames)));
        QVERIFY2(foundInputs == expectedInputs, qPrintable(QStringLiteral("seed %1: input words differ").arg(seed)));
    }
    qInfo("%d frames and faults in %lld ms (seed %u, %lld bytes skipped)", frames, timer.elapsed(), seed,
          skippedTotal);
}

QTEST_GUILESS_MAIN(TestBoardFraming)
#include "tst_boardframing.moc"
