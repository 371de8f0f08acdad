// Modbus TCP framing without sockets: every malformed frame, requests cut
// anywhere, a partial request left standing, the work one readiness event may
// do, the choice of the connection to close, and seeded loops of random
// requests and random bytes checked against what the requests ask for.

#include "modbusframing.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cstring>
#include <random>
#include <vector>

namespace {

QByteArray be16(int v)
{
    QByteArray b(2, 0);
    b[0] = static_cast<char>((v >> 8) & 0xFF);
    b[1] = static_cast<char>(v & 0xFF);
    return b;
}

// An MBAP frame whose length field counts the unit and the PDU.
QByteArray frame(int tid, int unit, const QByteArray& pdu, int protocol = 0)
{
    return be16(tid) + be16(protocol) + be16(pdu.size() + 1) + QByteArray(1, static_cast<char>(unit)) + pdu;
}

QByteArray readRequest(int tid, int start, int quantity, int unit = 1)
{
    return frame(tid, unit, QByteArray(1, 3) + be16(start) + be16(quantity));
}

QByteArray writeRequest(int tid, int start, const QList<int>& values, int unit = 1)
{
    QByteArray pdu = QByteArray(1, 16) + be16(start) + be16(values.size())
        + QByteArray(1, static_cast<char>(2 * values.size()));
    for (int v : values) {
        pdu += be16(v);
    }
    return frame(tid, unit, pdu);
}

QByteArray writeAck(int tid, int start, int quantity)
{
    return frame(tid, 1, QByteArray(1, 16) + be16(start) + be16(quantity));
}

QVector<quint16> testTable()
{
    QVector<quint16> table(ModbusTables::Size);
    for (int i = 0; i < table.size(); ++i) {
        table[i] = static_cast<quint16>(i * 131 + 7);
    }
    return table;
}

// The reply to a read of the given registers, from a copy of the table.
QByteArray readReply(int tid, int start, int count, const QVector<quint16>& table = testTable())
{
    QByteArray pdu = QByteArray(1, 3) + QByteArray(1, static_cast<char>(2 * count));
    for (int i = start; i < start + count; ++i) {
        pdu += be16(table.at(i));
    }
    return frame(tid, 1, pdu);
}

QList<int> range(int start, int count)
{
    QList<int> r;
    for (int i = 0; i < count; ++i) {
        r.append(start + i);
    }
    return r;
}

QByteArray toBytes(const ModbusReplies& replies)
{
    return QByteArray(replies.constData(), replies.size());
}

// Tables filled as the tests expect them.
struct Tables : ModbusTables {
    Tables()
    {
        const QVector<quint16> t = testTable();
        setRead(0, t.constData(), t.size());
    }
    QVector<quint16> writeTable() const
    {
        QVector<quint16> w(Size);
        for (int i = 0; i < Size; ++i) {
            written(i, &w[i]);
        }
        return w;
    }
};

// A connection's readable bytes, handed out in reads of the sizes asked.
struct Source {
    QByteArray bytes;
    int pos = 0;
    int calls = 0;
    int read(char* into, int capacity, int most = ModbusRequestStream::ChunkSize)
    {
        ++calls;
        const int n = qMin(qMin(capacity, most), bytes.size() - pos);
        if (n <= 0) {
            return ModbusRequestStream::ReadWouldBlock;
        }
        std::memcpy(into, bytes.constData() + pos, size_t(n));
        pos += n;
        return n;
    }
};

constexpr int kProbeTid = 0xBEEF;

quint32 fuzzSeed()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariableIntValue("KORVANE_FUZZ_SEED", &ok);
    return ok ? seed : 20261208u;
}

} // namespace

class TestModbusFraming : public QObject {
    Q_OBJECT

private slots:
    void framing_data();
    void framing();
    void faultTexts();
    void tablesStayInside();
    void stalePartialRequest_data();
    void stalePartialRequest();
    void oneReadinessEvent_data();
    void oneReadinessEvent();
    void floodingClientIsServedInTurn();
    void eviction_data();
    void eviction();
    void randomRequests();
    void randomBytes();
    void randomEvictions();
};

void TestModbusFraming::framing_data()
{
    QTest::addColumn<QList<QByteArray>>("segments");  // each taken as one read
    QTest::addColumn<QByteArray>("expected");         // what comes back before the probe's answer
    QTest::addColumn<QList<int>>("written");          // write registers changed, in order
    QTest::addColumn<int>("fault");                   // the first fault (ModbusFault::Kind)

    const int none = ModbusFault::None;
    const QByteArray read = readRequest(7, 50, 4);
    const QByteArray readReply7 = readReply(7, 50, 4);
    QList<QByteArray> bytes;
    for (char c : read) {
        bytes.append(QByteArray(1, c));
    }

    QTest::newRow("request split in three") << QList<QByteArray>{read.left(3), read.mid(3, 6), read.mid(9)}
                                            << readReply7 << QList<int>{} << none;
    QTest::newRow("request byte by byte") << bytes << readReply7 << QList<int>{} << none;
    QTest::newRow("header split from its PDU") << QList<QByteArray>{read.left(7), read.mid(7)} << readReply7
                                               << QList<int>{} << none;
    QTest::newRow("two reads in one segment: both answered")
        << QList<QByteArray>{read + readRequest(8, 495, 10)} << readReply7 + readReply(8, 495, 5) << QList<int>{}
        << none;
    QTest::newRow("second read split over the next segment")
        << QList<QByteArray>{read + readRequest(8, 0, 1).left(4), readRequest(8, 0, 1).mid(4)}
        << readReply7 + readReply(8, 0, 1) << QList<int>{} << none;
    QTest::newRow("write then read in one segment")
        << QList<QByteArray>{writeRequest(9, 20, {3}) + read} << writeAck(9, 20, 1) + readReply7 << QList<int>{20}
        << none;
    // The data holds 06 01 03 00 32 00 04: a read request to a pattern search.
    QTest::newRow("write data that looks like a read")
        << QList<QByteArray>{writeRequest(10, 30, {0x0601, 0x0300, 0x3200, 0x0400})} << writeAck(10, 30, 4)
        << QList<int>{30, 31, 32, 33} << none;
    QTest::newRow("read of 125") << QList<QByteArray>{readRequest(11, 0, 125)} << readReply(11, 0, 125)
                                 << QList<int>{} << none;
    QTest::newRow("read of the last 125") << QList<QByteArray>{readRequest(11, 375, 125)} << readReply(11, 375, 125)
                                          << QList<int>{} << none;
    QTest::newRow("read past the end: registers up to 499")
        << QList<QByteArray>{readRequest(12, 495, 10)} << readReply(12, 495, 5) << QList<int>{} << none;
    QTest::newRow("read of 125 from 499: one register")
        << QList<QByteArray>{readRequest(12, 499, 125)} << readReply(12, 499, 1) << QList<int>{} << none;
    QTest::newRow("write of 123, the largest, up to 499")
        << QList<QByteArray>{writeRequest(13, 377, range(1000, 123))} << writeAck(13, 377, 123) << range(377, 123)
        << none;
    QTest::newRow("write of the last register") << QList<QByteArray>{writeRequest(14, 499, {9})}
                                                << writeAck(14, 499, 1) << QList<int>{499} << none;

    const QByteArray nothing;
    QTest::newRow("unit 2") << QList<QByteArray>{readRequest(1, 50, 4, 2)} << nothing << QList<int>{} << none;
    QTest::newRow("unit 0") << QList<QByteArray>{readRequest(1, 50, 4, 0)} << nothing << QList<int>{} << none;
    QTest::newRow("write to unit 255") << QList<QByteArray>{writeRequest(1, 5, {1}, 255)} << nothing << QList<int>{}
                                       << none;
    QTest::newRow("protocol id 1") << QList<QByteArray>{frame(1, 1, read.mid(7), 1)} << nothing << QList<int>{}
                                   << none;
    QTest::newRow("protocol id 0xFFFF") << QList<QByteArray>{frame(1, 1, read.mid(7), 0xFFFF)} << nothing
                                        << QList<int>{} << none;
    for (int fc : {0, 1, 2, 4, 5, 6, 15, 22, 23, 43, 0x83, 0x90}) {
        QTest::newRow(qPrintable(QString("function %1").arg(fc)))
            << QList<QByteArray>{frame(1, 1, QByteArray(1, static_cast<char>(fc)) + be16(0) + be16(1))} << nothing
            << QList<int>{} << none;
    }
    QTest::newRow("read quantity 0") << QList<QByteArray>{readRequest(1, 50, 0)} << nothing << QList<int>{}
                                     << int(ModbusFault::ReadRange);
    QTest::newRow("read quantity 126") << QList<QByteArray>{readRequest(1, 0, 126)} << nothing << QList<int>{}
                                       << int(ModbusFault::ReadRange);
    QTest::newRow("read quantity 65535") << QList<QByteArray>{readRequest(1, 0, 65535)} << nothing << QList<int>{}
                                         << int(ModbusFault::ReadRange);
    QTest::newRow("read from 500") << QList<QByteArray>{readRequest(1, 500, 1)} << nothing << QList<int>{}
                                   << int(ModbusFault::ReadRange);
    QTest::newRow("read from 65535") << QList<QByteArray>{readRequest(1, 65535, 1)} << nothing << QList<int>{}
                                     << int(ModbusFault::ReadRange);
    QTest::newRow("read with a stray byte") << QList<QByteArray>{frame(1, 1, read.mid(7) + "x")} << nothing
                                            << QList<int>{} << int(ModbusFault::ReadLength);
    QTest::newRow("read cut short") << QList<QByteArray>{frame(1, 1, read.mid(7, 3))} << nothing << QList<int>{}
                                    << int(ModbusFault::ReadLength);
    QTest::newRow("function code alone") << QList<QByteArray>{frame(1, 1, QByteArray(1, 3))} << nothing
                                         << QList<int>{} << int(ModbusFault::ReadLength);
    QTest::newRow("largest frame of function 3")
        << QList<QByteArray>{frame(1, 1, QByteArray(1, 3) + QByteArray(252, 0))} << nothing << QList<int>{}
        << int(ModbusFault::ReadLength);

    QTest::newRow("write quantity 0")
        << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("10000000000000"))} << nothing << QList<int>{}
        << int(ModbusFault::WriteMalformed);
    QTest::newRow("write of 124 values: longer than any Modbus frame")
        << QList<QByteArray>{writeRequest(1, 0, range(0, 124))} << nothing << QList<int>{}
        << int(ModbusFault::NotModbus);
    QTest::newRow("write quantity 124 in a frame of legal length")
        << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("100000007CF8") + QByteArray(240, 1))} << nothing
        << QList<int>{} << int(ModbusFault::WriteMalformed);
    QTest::newRow("write past the end is not half done")
        << QList<QByteArray>{writeRequest(1, 499, {1, 2})} << nothing << QList<int>{} << int(ModbusFault::WriteRange);
    QTest::newRow("write from 500") << QList<QByteArray>{writeRequest(1, 500, {1})} << nothing << QList<int>{}
                                    << int(ModbusFault::WriteRange);
    QTest::newRow("write from 65535") << QList<QByteArray>{writeRequest(1, 65535, {1})} << nothing << QList<int>{}
                                      << int(ModbusFault::WriteRange);
    QTest::newRow("write byte count disagrees")
        << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("1000050002" "03" "000100"))} << nothing
        << QList<int>{} << int(ModbusFault::WriteMalformed);
    QTest::newRow("write with fewer values than its quantity")
        << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("1000050002" "04" "0001"))} << nothing << QList<int>{}
        << int(ModbusFault::WriteMalformed);
    QTest::newRow("write with more values than its quantity")
        << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("1000050001" "02" "00010002"))} << nothing
        << QList<int>{} << int(ModbusFault::WriteMalformed);
    QTest::newRow("write header only") << QList<QByteArray>{frame(1, 1, QByteArray::fromHex("100005"))} << nothing
                                       << QList<int>{} << int(ModbusFault::WriteLength);
    QTest::newRow("a bad write does not stop the next request")
        << QList<QByteArray>{writeRequest(1, 499, {1, 2}) + read} << readReply7 << QList<int>{}
        << int(ModbusFault::WriteRange);
    QTest::newRow("the first fault is the one told")
        << QList<QByteArray>{readRequest(1, 0, 0) + writeRequest(1, 500, {1})} << nothing << QList<int>{}
        << int(ModbusFault::ReadRange);

    QTest::newRow("length 0") << QList<QByteArray>{QByteArray::fromHex("00010000000001")} << nothing << QList<int>{}
                              << int(ModbusFault::NotModbus);
    QTest::newRow("length 1") << QList<QByteArray>{QByteArray::fromHex("0001000000010103")} << nothing
                              << QList<int>{} << int(ModbusFault::NotModbus);
    QTest::newRow("largest frame of another function is skipped whole")
        << QList<QByteArray>{frame(1, 1, QByteArray(1, 0x41) + QByteArray(252, 3))} << nothing << QList<int>{}
        << none;
    QTest::newRow("length 255") << QList<QByteArray>{QByteArray::fromHex("0001000000FF") + QByteArray(300, 1)}
                                << nothing << QList<int>{} << int(ModbusFault::NotModbus);
    QTest::newRow("length 256") << QList<QByteArray>{QByteArray::fromHex("000100000100") + QByteArray(300, 1)}
                                << nothing << QList<int>{} << int(ModbusFault::NotModbus);
    QTest::newRow("more than 50 bytes of rubbish")
        << QList<QByteArray>{QByteArray(60, '\xFF'), QByteArray("hello, is anybody there?")} << nothing
        << QList<int>{} << int(ModbusFault::NotModbus);
    QTest::newRow("rubbish before a request in one segment: the segment is lost")
        << QList<QByteArray>{QByteArray(9, '\xFF') + read} << nothing << QList<int>{} << int(ModbusFault::NotModbus);
    QTest::newRow("a request, then rubbish: the request is answered")
        << QList<QByteArray>{read + QByteArray(9, '\xFF')} << readReply7 << QList<int>{}
        << int(ModbusFault::NotModbus);
}

void TestModbusFraming::framing()
{
    QFETCH(QList<QByteArray>, segments);
    QFETCH(QByteArray, expected);
    QFETCH(QList<int>, written);
    QFETCH(int, fault);

    Tables tables;
    ModbusRequestStream stream;
    ModbusReplies replies;
    QList<int> changed;
    ModbusFault first;
    auto take = [&](const QByteArray& bytes) {
        const ModbusFraming f = stream.take(bytes.constData(), bytes.size(), 0, tables, replies);
        for (const ModbusWrite& w : f.writes) {
            changed += range(w.start, w.count);
        }
        if (first.kind == ModbusFault::None) {
            first = f.fault;
        }
    };
    for (const QByteArray& s : segments) {
        take(s);
    }
    take(readRequest(kProbeTid, 100, 2));
    QCOMPARE(toBytes(replies).toHex(), (expected + readReply(kProbeTid, 100, 2)).toHex());
    QCOMPARE(stream.buffered(), 0);
    QCOMPARE(int(first.kind), fault);

    QCOMPARE(changed, written);
    const QVector<quint16> w = tables.writeTable();
    for (int i = 0; i < ModbusTables::Size; ++i) {
        if (!written.contains(i)) {
            QVERIFY2(w.at(i) == 0, qPrintable(QString("write register %1 changed").arg(i)));
        }
    }
}

void TestModbusFraming::faultTexts()
{
    // What the log says of a bad client.
    const QList<QPair<ModbusFault, QString>> texts{
        {{ModbusFault::None, 0, 0}, ""},
        {{ModbusFault::NotModbus, 65535, 0}, "sent data that is not Modbus TCP (length 65535); dropped"},
        {{ModbusFault::ReadLength, 7, 0}, "sent a read request of length 7; dropped"},
        {{ModbusFault::ReadRange, 126, 0}, "asked to read 126 registers from 0; dropped"},
        {{ModbusFault::WriteLength, 4, 0}, "sent a write request of length 4; dropped"},
        {{ModbusFault::WriteMalformed, 124, 0}, "sent a malformed write of 124 registers; dropped"},
        {{ModbusFault::WriteRange, 2, 499}, "asked to write 2 registers from 499; dropped"},
        {{ModbusFault::StalePartial, 0, 0}, "left a request unfinished; dropped"},
    };
    for (const auto& t : texts) {
        QCOMPARE(modbusFaultText(t.first), t.second);
    }
}

void TestModbusFraming::tablesStayInside()
{
    ModbusTables tables;
    tables.setRead(-1, 5);
    tables.setRead(500, 5);
    const quint16 tail[] = {1, 2, 3, 4};
    tables.setRead(498, tail, 4);
    const quint16 head[] = {8, 8, 9};
    tables.setRead(-2, head, 3);
    const quint16 far[] = {7};
    tables.setRead(INT_MAX, far, 1);
    QCOMPARE(tables.read(498), quint16(1));
    QCOMPARE(tables.read(499), quint16(2));
    QCOMPARE(tables.read(0), quint16(9));
    QCOMPARE(tables.read(500), quint16(0));
    QCOMPARE(tables.read(-1), quint16(0));
    quint16 out = 77;
    QVERIFY(!tables.written(500, &out));
    QVERIFY(!tables.written(-1, &out));
    QCOMPARE(out, quint16(77));
    QVERIFY(!tables.written(0, nullptr));
}

void TestModbusFraming::stalePartialRequest_data()
{
    QTest::addColumn<qint64>("laterMs");     // when the next bytes arrive
    QTest::addColumn<bool>("rest");          // they are the missing ones (else a new request)
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("writes");

    const QByteArray probe = readReply(kProbeTid, 100, 2);
    const QByteArray ack = writeAck(3, 40, 2);
    QTest::newRow("the rest 2999 ms later: completed") << qint64(2999) << true << ack + probe << 1;
    QTest::newRow("the rest 3000 ms later: completed") << qint64(3000) << true << ack + probe << 1;
    // Two stray bytes before the probe make its header unframable: lost too.
    QTest::newRow("the rest 3001 ms later: not taken for the values") << qint64(3001) << true << QByteArray() << 0;
    QTest::newRow("a new request 3001 ms later: answered alone") << qint64(3001) << false << probe << 0;
    QTest::newRow("a new request an hour later") << qint64(3600000) << false << probe << 0;
}

void TestModbusFraming::stalePartialRequest()
{
    QFETCH(qint64, laterMs);
    QFETCH(bool, rest);
    QFETCH(QByteArray, replies);
    QFETCH(int, writes);

    // A write whose last two bytes come late, or never: past the limit
    // whatever comes next must not be taken for the missing values.
    Tables tables;
    ModbusRequestStream stream(1000);
    ModbusReplies out;
    const QByteArray write = writeRequest(3, 40, {0x1111, 0x2222});
    QList<int> faults;
    int written = 0;
    auto handle = [&](const ModbusFraming& f, ModbusReplies&) {
        faults.append(f.fault.kind);
        written += f.writes.size();
        return true;
    };
    Source first{write.left(write.size() - 2)};
    stream.serve(1000, tables, out, [&](char* p, int n) { return first.read(p, n); }, handle);
    QCOMPARE(stream.buffered(), write.size() - 2);

    Source later{(rest ? write.right(2) : QByteArray()) + readRequest(kProbeTid, 100, 2)};
    stream.serve(1000 + laterMs, tables, out, [&](char* p, int n) { return later.read(p, n); }, handle);
    QCOMPARE(toBytes(out).toHex(), replies.toHex());
    QCOMPARE(written, writes);
    quint16 v = 0;
    tables.written(40, &v);
    QCOMPARE(v, quint16(writes ? 0x1111 : 0));
    QCOMPARE(faults.contains(ModbusFault::StalePartial), laterMs > ModbusRequestStream::StalePartialMs);
    QCOMPARE(stream.buffered(), 0);
    QCOMPARE(stream.lastHeardMs(), 1000 + laterMs);
}

void TestModbusFraming::oneReadinessEvent_data()
{
    QTest::addColumn<QList<int>>("reads");  // what each read gives: bytes, or a Read* value
    QTest::addColumn<int>("stopAfter");     // the handler stops after this many passes (-1: never)
    QTest::addColumn<int>("end");           // ModbusRequestStream::End
    QTest::addColumn<int>("readsMade");

    using S = ModbusRequestStream;
    const int full = S::ChunkSize;
    const int spent = int(S::End::BudgetSpent), drained = int(S::End::Drained);
    QTest::newRow("nothing there") << QList<int>{S::ReadWouldBlock} << -1 << drained << 1;
    QTest::newRow("one short read") << QList<int>{12} << -1 << drained << 1;
    QTest::newRow("a full chunk, then nothing") << QList<int>{full, S::ReadWouldBlock} << -1 << drained << 2;
    QTest::newRow("a full chunk, then a short one") << QList<int>{full, 100} << -1 << drained << 2;
    QTest::newRow("more than the budget: the rest at the next event")
        << QList<int>{full, full, full, full, full, full} << -1 << spent << S::ChunksPerEvent;
    QTest::newRow("closed") << QList<int>{S::ReadClosed} << -1 << int(S::End::Closed) << 1;
    QTest::newRow("closed after a chunk") << QList<int>{full, S::ReadClosed} << -1 << int(S::End::Closed) << 2;
    QTest::newRow("failed") << QList<int>{full, S::ReadFailed} << -1 << int(S::End::Failed) << 2;
    QTest::newRow("the handler stops it") << QList<int>{full, full, full} << 1 << int(S::End::Stopped) << 1;
}

void TestModbusFraming::oneReadinessEvent()
{
    QFETCH(QList<int>, reads);
    QFETCH(int, stopAfter);
    QFETCH(int, end);
    QFETCH(int, readsMade);

    // Requests for unit 2 as a flooding client sends them: framed, never answered.
    const QByteArray request = readRequest(1, 0, 1, 2);
    Tables tables;
    ModbusRequestStream stream;
    ModbusReplies replies;
    int made = 0;
    int passes = 0;
    const auto result = stream.serve(
        5, tables, replies,
        [&](char* into, int capacity) {
            const int r = reads.value(made++, ModbusRequestStream::ReadWouldBlock);
            for (int i = 0; i < r && i < capacity; ++i) {
                into[i] = request.at(i % request.size());
            }
            return r;
        },
        [&](const ModbusFraming&, ModbusReplies&) { return ++passes != stopAfter; });
    QCOMPARE(int(result), end);
    QCOMPARE(made, readsMade);
    QVERIFY(replies.isEmpty());
    QCOMPARE(stream.lastHeardMs(), qint64(5));
}

void TestModbusFraming::floodingClientIsServedInTurn()
{
    // One event loop's turns, as the server thread takes them: each ready
    // connection gets one readiness event. A client with megabytes of
    // unanswered requests waiting must not keep a poller's read from its
    // answer in the first turn.
    Tables tables;
    ModbusRequestStream flooder;
    ModbusRequestStream poller;
    Source flood{readRequest(1, 0, 1, 2).repeated(100000)};
    Source poll{readRequest(kProbeTid, 10, 3)};
    ModbusReplies floodReplies;
    ModbusReplies pollReplies;
    auto pass = [](const ModbusFraming&, ModbusReplies&) { return true; };
    int turns = 0;
    while (flood.pos < flood.bytes.size()) {
        ++turns;
        const int before = flood.pos;
        flooder.serve(turns, tables, floodReplies, [&](char* p, int n) { return flood.read(p, n); }, pass);
        QVERIFY(flood.pos - before <= ModbusRequestStream::ChunksPerEvent * ModbusRequestStream::ChunkSize);
        poller.serve(turns, tables, pollReplies, [&](char* p, int n) { return poll.read(p, n); }, pass);
        if (turns == 1) {
            QCOMPARE(toBytes(pollReplies).toHex(), readReply(kProbeTid, 10, 3).toHex());
        }
    }
    QVERIFY(turns > 50);
    QCOMPARE(flooder.requests(), qint64(100000));
    QVERIFY(floodReplies.isEmpty());
}

void TestModbusFraming::eviction_data()
{
    QTest::addColumn<QList<qint64>>("requests");     // per connection
    QTest::addColumn<QList<qint64>>("lastHeardMs");  // per connection
    QTest::addColumn<int>("evicted");

    QList<qint64> burstRequests{500};
    QList<qint64> burstHeard{9900};
    for (int i = 0; i < 31; ++i) {
        burstRequests.append(0);
        burstHeard.append(9950 + i);
    }
    QTest::newRow("a poller quiet for 100 ms against 31 fresh connections") << burstRequests << burstHeard << 1;
    QTest::newRow("never asked goes first, the quietest of them")
        << QList<qint64>{40, 0, 0, 12} << QList<qint64>{100, 900, 800, 50} << 2;
    QTest::newRow("everyone asked: the quietest") << QList<qint64>{5, 1, 9} << QList<qint64>{500, 100, 800} << 1;
    QTest::newRow("a half-open connection of a rebooted controller")
        << QList<qint64>{100000, 3, 8} << QList<qint64>{10, 990, 995} << 0;
    QTest::newRow("equally quiet: the older connection") << QList<qint64>{0, 0} << QList<qint64>{700, 700} << 0;
    QTest::newRow("one") << QList<qint64>{3} << QList<qint64>{7} << 0;
    QTest::newRow("none") << QList<qint64>{} << QList<qint64>{} << -1;
}

void TestModbusFraming::eviction()
{
    QFETCH(QList<qint64>, requests);
    QFETCH(QList<qint64>, lastHeardMs);
    QFETCH(int, evicted);

    QVector<ModbusPeer> peers;
    for (int i = 0; i < requests.size(); ++i) {
        peers.append({requests.at(i), lastHeardMs.at(i)});
    }
    QCOMPARE(chooseModbusEviction(peers), evicted);
}

namespace {

// Random requests, each with what the server must make of it, worked out
// from the protocol's rules and not from the framing code. Bytes are appended
// in place: a hundred thousand requests must not cost a million allocations.
struct RequestMaker {
    std::mt19937& rng;
    const QVector<quint16>& table;

    int below(int n) { return int(rng() % quint32(n)); }

    // n random bytes at the end of b; returns where they start.
    char* appendRandom(QByteArray& b, int n)
    {
        const int at = b.size();
        b.resize(at + n);
        char* p = b.data() + at;
        for (int i = 0; i < n; i += 4) {
            const quint32 r = rng();
            for (int k = 0; k < 4 && i + k < n; ++k) {
                p[i + k] = char(r >> (8 * k));
            }
        }
        return p;
    }

    static void put16(QByteArray& b, int v)
    {
        b.append(char((v >> 8) & 0xFF));
        b.append(char(v & 0xFF));
    }
    // The MBAP header of a PDU of pduSize bytes.
    static void header(QByteArray& b, int tid, int protocol, int pduSize, int unit)
    {
        put16(b, tid);
        put16(b, protocol);
        put16(b, pduSize + 1);
        b.append(char(unit));
    }

    // Appends one request to bytes and its reply to replies; a write that
    // must happen goes to writes.
    void make(QByteArray& bytes, QByteArray& replies, QVector<ModbusWrite>& writes)
    {
        const int tid = below(65536);
        switch (below(8)) {
        case 0:
        case 1:
        case 2: {  // a read, sometimes out of range
            const int start = below(4) ? below(500) : below(65536);
            const int quantity = below(8) ? 1 + below(125) : below(65536);
            header(bytes, tid, 0, 5, 1);
            bytes.append(char(3));
            put16(bytes, start);
            put16(bytes, quantity);
            if (quantity >= 1 && quantity <= 125 && start < 500) {
                const int count = qMin(quantity, 500 - start);
                header(replies, tid, 0, 2 + 2 * count, 1);
                replies.append(char(3));
                replies.append(char(2 * count));
                for (int i = start; i < start + count; ++i) {
                    put16(replies, table.at(i));
                }
            }
            break;
        }
        case 3:
        case 4: {  // a write, sometimes malformed or out of range
            const int quantity = below(8) ? 1 + below(123) : below(127);
            const int start = below(4) ? below(500 - qMin(quantity, 499)) : below(65536);
            int byteCount = 2 * quantity;
            int dataBytes = byteCount;
            const int fault = below(8);
            if (fault == 0) {
                byteCount = (byteCount + 1 + below(255)) & 0xFF;
            } else if (fault == 1) {
                dataBytes = qMax(0, dataBytes + (below(2) ? 1 : -1) * (1 + below(3)));
            }
            // A PDU never longer than 253 bytes: the frame still frames.
            dataBytes = qMin(dataBytes, 253 - 6);
            const int pduSize = 6 + dataBytes;
            header(bytes, tid, 0, pduSize, 1);
            bytes.append(char(16));
            put16(bytes, start);
            put16(bytes, quantity);
            bytes.append(char(byteCount));
            ModbusWrite w;
            w.start = start;
            w.count = quantity;
            const auto* data = reinterpret_cast<const uchar*>(appendRandom(bytes, dataBytes));
            for (int i = 0; i < dataBytes / 2 && i < ModbusWrite::Logged; ++i) {
                w.values[i] = quint16((data[2 * i] << 8) | data[2 * i + 1]);
            }
            const bool good = quantity >= 1 && quantity <= 123 && byteCount == 2 * quantity
                && pduSize == 6 + byteCount && start + quantity <= 500;
            if (good) {
                header(replies, tid, 0, 5, 1);
                replies.append(char(16));
                put16(replies, start);
                put16(replies, quantity);
                writes.append(w);
            }
            break;
        }
        case 5:  // another unit or protocol
            if (below(2)) {
                header(bytes, tid, 0, 5, 2 + below(254));
            } else {
                header(bytes, tid, 1 + below(65535), 5, 1);
            }
            bytes.append(char(3));
            put16(bytes, below(500));
            put16(bytes, 1 + below(125));
            break;
        case 6: {  // another function, any length that still frames
            int function = below(256);
            if (function == 3 || function == 16) {
                function = 4;
            }
            const int pduSize = 1 + below(253);
            header(bytes, tid, 0, pduSize, 1);
            bytes.append(char(function));
            appendRandom(bytes, pduSize - 1);
            break;
        }
        default: {  // a read of the wrong length
            int pduSize = 1 + below(253);
            if (pduSize == 5) {
                pduSize = 6;
            }
            header(bytes, tid, 0, pduSize, 1);
            bytes.append(char(3));
            appendRandom(bytes, pduSize - 1);
            break;
        }
        }
    }
};

bool sameWrite(const ModbusWrite& a, const ModbusWrite& b)
{
    return a.start == b.start && a.count == b.count && std::memcmp(a.values, b.values, sizeof a.values) == 0;
}

// Every reply the server may send: a read reply or a write acknowledgement,
// for unit 1, with lengths that agree. Returns the number of replies, or -1.
int wellFormedReplies(const QByteArray& replies)
{
    int count = 0;
    int pos = 0;
    const auto* d = reinterpret_cast<const uchar*>(replies.constData());
    while (pos < replies.size()) {
        if (replies.size() - pos < 9) {
            return -1;
        }
        const int length = (d[pos + 4] << 8) | d[pos + 5];
        if (d[pos + 2] != 0 || d[pos + 3] != 0 || d[pos + 6] != 1 || replies.size() - pos < 6 + length) {
            return -1;
        }
        if (d[pos + 7] == 3) {
            const int byteCount = d[pos + 8];
            if (length != 3 + byteCount || byteCount < 2 || byteCount > 250 || byteCount % 2) {
                return -1;
            }
        } else if (d[pos + 7] != 16 || length != 6) {
            return -1;
        }
        pos += 6 + length;
        ++count;
    }
    return count;
}

} // namespace

void TestModbusFraming::randomRequests()
{
    // Several connections at once, each a stream of random requests cut into
    // reads of random size, served one readiness event at a time in turn,
    // with partial requests now and then left standing past the limit. Each
    // must get exactly the replies and writes its requests ask for.
    const quint32 seed = fuzzSeed();
    std::mt19937 rng(seed);
    auto below = [&rng](int n) { return int(rng() % quint32(n)); };
    const QVector<quint16> table = testTable();
    RequestMaker maker{rng, table};

    QElapsedTimer timer;
    timer.start();
    constexpr int kRequests = 100000;
    constexpr int kConnections = 5;
    int made = 0;
    int rounds = 0;
    while (made < kRequests) {
        Tables tables;
        struct Connection {
            Source source;
            QByteArray expectedReplies;
            QVector<ModbusWrite> expectedWrites;
            ModbusRequestStream stream;
            ModbusReplies replies;
            QByteArray sent;
            QVector<ModbusWrite> writes;
            int requests = 0;
        };
        std::vector<Connection> connections(kConnections);
        for (Connection& c : connections) {
            const int n = 100 + below(400);
            // Room for the largest requests and replies, so the buffers never move.
            c.source.bytes.reserve(n * 260);
            c.expectedReplies.reserve(n * 260);
            c.sent.reserve(n * 260);
            c.expectedWrites.reserve(n);
            c.writes.reserve(n);
            for (int i = 0; i < n; ++i, ++made) {
                maker.make(c.source.bytes, c.expectedReplies, c.expectedWrites);
            }
            c.requests = n;
        }
        qint64 now = 0;
        bool pending = true;
        while (pending) {
            pending = false;
            now += below(50);
            for (Connection& c : connections) {
                if (c.source.pos >= c.source.bytes.size()) {
                    continue;
                }
                pending = true;
                const int calls = c.source.calls;
                const int most = below(4) ? 1 + below(ModbusRequestStream::ChunkSize) : ModbusRequestStream::ChunkSize;
                bool unframable = false;
                const auto end = c.stream.serve(
                    now, tables, c.replies, [&](char* p, int n) { return c.source.read(p, n, most); },
                    [&](const ModbusFraming& f, ModbusReplies& r) {
                        unframable = unframable || f.fault.kind == ModbusFault::NotModbus
                            || f.fault.kind == ModbusFault::StalePartial;
                        c.writes += QVector<ModbusWrite>(f.writes.begin(), f.writes.end());
                        // The server sends and clears the replies when they pile up.
                        if (r.size() > 8192) {
                            c.sent += toBytes(r);
                            r.clear();
                        }
                        return true;
                    });
                if (unframable) {
                    QFAIL(qPrintable(QStringLiteral("seed %1: a request did not frame").arg(seed)));
                }
                QVERIFY(c.source.calls - calls <= ModbusRequestStream::ChunksPerEvent);
                QVERIFY(end == ModbusRequestStream::End::Drained || end == ModbusRequestStream::End::BudgetSpent);
                // Only the start of one request ever waits.
                QVERIFY(c.stream.buffered() < ModbusRequestStream::MaxFrameSize);
            }
        }
        for (Connection& c : connections) {
            c.sent += toBytes(c.replies);
            if (c.sent != c.expectedReplies) {
                QFAIL(qPrintable(QStringLiteral("seed %1: replies differ").arg(seed)));
            }
            QCOMPARE(c.writes.size(), c.expectedWrites.size());
            for (int i = 0; i < c.writes.size(); ++i) {
                if (!sameWrite(c.writes.at(i), c.expectedWrites.at(i))) {
                    QFAIL(qPrintable(QStringLiteral("seed %1: write %2 differs").arg(seed).arg(i)));
                }
            }
            QCOMPARE(c.stream.requests(), qint64(c.requests));
            QCOMPARE(c.stream.buffered(), 0);
        }
        ++rounds;
    }
    qInfo("%d requests on %d connections in %lld ms (seed %u)", made, rounds * kConnections, timer.elapsed(), seed);
}

void TestModbusFraming::randomBytes()
{
    // Anything at all, cut anywhere, with the clock jumping past the partial
    // request limit now and then: the server stays within its bounds and
    // every reply it sends is a well-formed reply.
    const quint32 seed = fuzzSeed() ^ 0x5A5A5A5Au;
    std::mt19937 rng(seed);
    auto below = [&rng](int n) { return int(rng() % quint32(n)); };
    const QVector<quint16> table = testTable();
    RequestMaker maker{rng, table};

    QElapsedTimer timer;
    timer.start();
    Tables tables;
    long long bytesFed = 0;
    int stale = 0;
    for (int round = 0; round < 400; ++round) {
        // Requests with random bytes between and random bits flipped.
        QByteArray bytes;
        QByteArray unused;
        QVector<ModbusWrite> unusedWrites;
        for (int i = 0; i < 50; ++i) {
            if (below(3) == 0) {
                maker.appendRandom(bytes, below(40));
            }
            maker.make(bytes, unused, unusedWrites);
        }
        for (int flips = below(20); flips > 0; --flips) {
            const int at = below(bytes.size());
            bytes[at] = char(bytes.at(at) ^ (1 << below(8)));
        }
        bytesFed += bytes.size();

        ModbusRequestStream stream;
        ModbusReplies replies;
        Source source{bytes};
        qint64 now = 0;
        int answered = 0;
        while (source.pos < source.bytes.size()) {
            now += below(10) ? below(100) : ModbusRequestStream::StalePartialMs + 1 + below(1000);
            const int most = 1 + below(ModbusRequestStream::ChunkSize);
            const int calls = source.calls;
            bool sound = true;
            stream.serve(now, tables, replies, [&](char* p, int n) { return source.read(p, n, most); },
                         [&](const ModbusFraming& f, ModbusReplies&) {
                             answered += f.answered;
                             stale += f.fault.kind == ModbusFault::StalePartial;
                             sound = sound && f.consumed >= 0 && f.answered <= f.requests
                                 && modbusFaultText(f.fault).isEmpty() == (f.fault.kind == ModbusFault::None);
                             return true;
                         });
            QVERIFY(sound);
            QVERIFY(source.calls - calls <= ModbusRequestStream::ChunksPerEvent);
            QVERIFY(stream.buffered() < ModbusRequestStream::MaxFrameSize);
        }
        if (wellFormedReplies(toBytes(replies)) != answered) {
            QFAIL(qPrintable(QStringLiteral("seed %1 round %2: replies not well formed").arg(seed).arg(round)));
        }
    }
    QVERIFY(stale > 0);
    qInfo("%lld random bytes in %lld ms (seed %u, %d partial requests given up)", bytesFed, timer.elapsed(), seed,
          stale);
}

void TestModbusFraming::randomEvictions()
{
    // The rule, checked over random sets of connections: nobody that completed
    // a request is closed while a connection that never did is open, and no
    // connection of the chosen kind has been quiet longer than the one closed.
    std::mt19937 rng(fuzzSeed());
    for (int round = 0; round < 20000; ++round) {
        QVector<ModbusPeer> peers(1 + int(rng() % 32));
        bool anySilent = false;
        for (ModbusPeer& p : peers) {
            p.requests = rng() % 3 == 0 ? 0 : qint64(rng() % 1000);
            p.lastHeardMs = qint64(rng() % 200);
            anySilent = anySilent || p.requests == 0;
        }
        const int chosen = chooseModbusEviction(peers);
        QVERIFY(chosen >= 0 && chosen < peers.size());
        const ModbusPeer& c = peers.at(chosen);
        QCOMPARE(c.requests == 0, anySilent);
        for (const ModbusPeer& p : peers) {
            if ((p.requests == 0) == (c.requests == 0)) {
                QVERIFY(p.lastHeardMs >= c.lastHeardMs);
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestModbusFraming)
#include "tst_modbusframing.moc"
