// The production counters and their file "count.txt": the read rules that
// protect a shift's counts from a damaged file, the exact stored form, and the
// register layout the plant reads them from.
#include "processstate.h"
#include "productioncounters.h"
#include "testworkdir.h"

#include <QtTest>

#include <memory>

namespace {

QByteArray zeros(int n)
{
    QByteArray text;
    for (int i = 0; i < n; ++i) {
        text += "0 ";
    }
    return text;
}

void fillCounters()
{
    for (int i = 0; i < CounterCameras; ++i) {
        gTotalCount[i] = 100 + i;
        gNgCount[i] = 10 + i;
    }
    gTotalCycles = 999;
    gNgCycles = 99;
}

} // namespace

class TestProductionCounters : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_state = std::make_unique<ProcessState>();
        clearCounters();
    }
    void cleanup() { m_state.reset(); }

    void roundTripKeepsTheExactText();
    void readRules_data();
    void readRules();
    void missingFileGivesZeros();
    void writeReplacesTheWholeFile();
    void registersHighWordFirst();

private:
    std::unique_ptr<ProcessState> m_state;
};

void TestProductionCounters::roundTripKeepsTheExactText()
{
    TestWorkDir dir;
    const QByteArray text = "5 1 " + zeros(14) + "5 1 ";
    QVERIFY(dir.write("count.txt", text));
    readCountFile();
    QCOMPARE(gTotalCount[0], 5);
    QCOMPARE(gNgCount[0], 1);
    QCOMPARE(gTotalCycles, 5);
    QCOMPARE(gNgCycles, 1);
    QVERIFY(QFile::remove(dir.filePath("count.txt")));
    QVERIFY(writeCountFile());
    QCOMPARE(dir.read("count.txt"), text);
}

void TestProductionCounters::readRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<int>>("expected");  // camera 0 total, NG, camera 7 total, NG, overall total, NG

    QTest::newRow("any white space") << QByteArray("7\t2\n\n" + zeros(12) + "3\r\n1   40 9") << QList<int>{7, 2, 3, 1, 40, 9};
    QTest::newRow("cut short: the rest reads 0") << QByteArray("7 2 5") << QList<int>{7, 2, 0, 0, 0, 0};
    QTest::newRow("empty file") << QByteArray() << QList<int>{0, 0, 0, 0, 0, 0};
    QTest::newRow("garbage word keeps the positions")
        << QByteArray("7 x " + zeros(14) + "8 1") << QList<int>{7, 0, 0, 0, 8, 1};
    QTest::newRow("binary rubbish") << QByteArray("\x01\xff\xfe garbage\0\0", 13) << QList<int>{0, 0, 0, 0, 0, 0};
    QTest::newRow("per-camera above 1e8 reads 0, overall stays")
        << QByteArray("100000001 100000000 " + zeros(12) + "5 100000005 " + "1000000000 200000000")
        << QList<int>{0, 100000000, 5, 0, 1000000000, 200000000};
    QTest::newRow("negative per-camera reads 0, overall stays")
        << QByteArray("-3 -1 " + zeros(14) + "-7 -2") << QList<int>{0, 0, 0, 0, -7, -2};
    QTest::newRow("beyond 32 bits reads 0")
        << QByteArray("1 1 " + zeros(14) + "99999999999 4") << QList<int>{1, 1, 0, 0, 0, 4};
    QTest::newRow("extra numbers ignored") << QByteArray("1 1 " + zeros(14) + "2 2 77 88") << QList<int>{1, 1, 0, 0, 2, 2};
}

void TestProductionCounters::readRules()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<int>, expected);
    TestWorkDir dir;
    fillCounters();
    QVERIFY(dir.write("count.txt", file));
    readCountFile();
    QCOMPARE((QList<int>{gTotalCount[0], gNgCount[0], gTotalCount[7], gNgCount[7], gTotalCycles, gNgCycles}), expected);
    for (int i = 1; i < 7; ++i) {
        QVERIFY(gTotalCount[i] >= 0 && gNgCount[i] >= 0);
    }
}

void TestProductionCounters::missingFileGivesZeros()
{
    TestWorkDir dir;
    fillCounters();
    readCountFile();
    for (int i = 0; i < CounterCameras; ++i) {
        QCOMPARE(gTotalCount[i], 0);
        QCOMPARE(gNgCount[i], 0);
    }
    QCOMPARE(gTotalCycles, 0);
    QCOMPARE(gNgCycles, 0);
}

void TestProductionCounters::writeReplacesTheWholeFile()
{
    TestWorkDir dir;
    QVERIFY(dir.write("count.txt", QByteArray(500, '9')));
    // A reader that opened the old file keeps seeing it whole: the new counts
    // arrive under the name in one step, never by emptying the file first.
    QFile reader(dir.filePath("count.txt"));
    QVERIFY(reader.open(QIODevice::ReadOnly));
    fillCounters();
    gNgCycles = -4;
    QVERIFY(writeCountFile());
    QCOMPARE(dir.read("count.txt"),
             QByteArray("100 10 101 11 102 12 103 13 104 14 105 15 106 16 107 17 999 -4 "));
    QCOMPARE(reader.readAll(), QByteArray(500, '9'));
    // Written through a temporary file: nothing else is left in the folder.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"count.txt"});
}

void TestProductionCounters::registersHighWordFirst()
{
    gTotalCycles = 0x00012345;
    gNgCycles = 0x00010000;
    gTotalCount[0] = 70000;
    gNgCount[0] = 1;
    gTotalCount[1] = 3;
    gNgCount[1] = 5;  // more NG than total (a cleared total): OK wraps like the register does
    gTotalCount[2] = 42;

    const QVector<quint16> r = counterRegisters(2);
    QCOMPARE(r.size(), 6 + 2 * 6);
    QCOMPARE(r.mid(0, 6), (QVector<quint16>{0x0001, 0x2345, 0x0001, 0x0000, 0x0000, 0x2345}));
    QCOMPARE(r.mid(6, 6), (QVector<quint16>{0x0001, 0x1170, 0x0000, 0x0001, 0x0001, 0x116F}));
    QCOMPARE(r.mid(12, 6), (QVector<quint16>{0x0000, 0x0003, 0x0000, 0x0005, 0xFFFF, 0xFFFE}));
    QCOMPARE(counterRegisters(0).size(), 6);
    QCOMPARE(counterRegisters(20).size(), 6 + 8 * 6);
}

QTEST_GUILESS_MAIN(TestProductionCounters)
#include "tst_productioncounters.moc"
