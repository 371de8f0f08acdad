#include "paramstorage.h"
#include "processstate.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QtTest>

#include <climits>
#include <cstring>

namespace {

using Slot = qint32& (*)(SystemParam&);

// The slot number behind a named setting.
int slotOf(Slot setting)
{
    SystemParam r{};
    return int(&setting(r) - r.value);
}

} // namespace

class TestSystemParam : public QObject {
    Q_OBJECT

private slots:
    void outOfRangeLoadsAsItsDefault_data();
    void outOfRangeLoadsAsItsDefault();
    void savedRecordReadsBackEqual();
    void blockCompareSeesEveryByte();
    void passwordStaysInsideItsSlots();
    void passwordText_data();
    void passwordText();
    void timerIntervalsDoNotWrap();
    void factoryRecordIsInsideTheLimits();
};

void TestSystemParam::outOfRangeLoadsAsItsDefault_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("loaded");

    struct Case {
        const char* name;
        Slot setting;
        int lowest;
        int highest;
        int fallback;
    };
    const Case cases[] = {
        {"exposure", [](SystemParam& r) -> qint32& { return r.exposeTime(3); }, 0, 10000, 30},
        {"gain", [](SystemParam& r) -> qint32& { return r.adjustPlus(7); }, 0, 10000, 32},
        {"temperature range", [](SystemParam& r) -> qint32& { return r.tempRange(0); }, 0, 2, 1},
        {"filter size", [](SystemParam& r) -> qint32& { return r.filterSize(); }, 1, 100, 3},
        {"alarm area", [](SystemParam& r) -> qint32& { return r.alarmArea(); }, 1, 100000, 100},
        {"templates", [](SystemParam& r) -> qint32& { return r.maxTemplates(); }, 1, 100, 10},
        {"largest offset", [](SystemParam& r) -> qint32& { return r.maxOffset(); }, 1, 8000, 8000},
        {"input time-out", [](SystemParam& r) -> qint32& { return r.inputTimeoutSec(); }, 0, 10000, 60},
        {"trigger delay", [](SystemParam& r) -> qint32& { return r.trigInDelay(5); }, 0, 10000, 0},
        {"alarm length", [](SystemParam& r) -> qint32& { return r.alarmDuration(); }, 0, 100, 10},
        {"recording interval", [](SystemParam& r) -> qint32& { return r.tempRecordMin(); }, 1, 100, 30},
    };
    for (const Case& c : cases) {
        for (qint64 v : {qint64(c.lowest) - 1, qint64(c.lowest), qint64(c.highest), qint64(c.highest) + 1,
                         qint64(INT_MIN), qint64(INT_MAX)}) {
            const int loaded = v >= c.lowest && v <= c.highest ? int(v) : c.fallback;
            QTest::addRow("%s %lld", c.name, v) << slotOf(c.setting) << int(v) << loaded;
        }
    }
    // Positioning is off (-1) or on (0); the screen goes dark never (0) or
    // after 30 to 9999 s.
    const int positioning = slotOf([](SystemParam& r) -> qint32& { return r.motionCorrect(); });
    QTest::newRow("positioning on") << positioning << 0 << 0;
    QTest::newRow("positioning 1") << positioning << 1 << -1;
    const int screenOff = slotOf([](SystemParam& r) -> qint32& { return r.screenOffSec(); });
    QTest::newRow("screen never dark") << screenOff << 0 << 0;
    QTest::newRow("screen dark after 29 s") << screenOff << 29 << 600;
    QTest::newRow("screen dark after 9999 s") << screenOff << 9999 << 9999;
}

void TestSystemParam::outOfRangeLoadsAsItsDefault()
{
    QFETCH(int, slot);
    QFETCH(int, stored);
    QFETCH(int, loaded);
    SystemParam r = factorySysParam();
    r[slot] = stored;
    SystemParam expected = factorySysParam();
    expected[slot] = loaded;
    clampSysParam(&r);
    // The slot takes its default and nothing else moves.
    QVERIFY(r == expected);
    // A loaded record loads again as itself.
    clampSysParam(&r);
    QVERIFY(r == expected);
}

void TestSystemParam::savedRecordReadsBackEqual()
{
    ProcessState state;
    TestWorkDir dir;
    initTextTable();
    QVERIFY(writeFactoryParamGroup(QStringLiteral("paraGroup/default")));
    QVERIFY(QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db")));
    QVERIFY(QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db")));
    openParamDatabase();
    openSerialDatabase();
    const auto load = [] {
        SystemParam r{};
        initSysParamDefaults(&r);
        loadSysParam(&r);
        return r;
    };

    SystemParam saved = load();
    saved.exposeTime(2) = 120;
    saved.trigInDelay(1) = 35;
    saved.outInitState(4) = 0;
    saved.filterSize() = 5;
    saved.alarmArea() = 40;
    saved.maxOffset() = 7999;
    saved.motionCorrect() = 0;
    saved.screenOffSec() = 45;
    saved.tempRecordMin() = 7;
    saved.pulseDelayIn4() = 12;
    saved.spare() = 99;
    QVERIFY(saved.setPasswordText(QString::fromUtf8("Grüße")));
    // Outputs 5 to 9 rest as output 4 does.
    for (int i = 5; i < 10; ++i) {
        saved.outInitState(i) = saved.outInitState(4);
    }
    gLanguage = 3;
    QVERIFY(saveSysParam(&saved));

    gLanguage = 0;
    const SystemParam read = load();
    QCOMPARE(gLanguage, 3);
    for (int s = 0; s < SystemParam::SlotCount; ++s) {
        QVERIFY2(read[s] == saved[s], qPrintable(QStringLiteral("slot %1: %2 != %3").arg(s).arg(read[s]).arg(saved[s])));
    }
}

void TestSystemParam::blockCompareSeesEveryByte()
{
    SystemParam a;
    a.clear();
    initSysParamDefaults(&a);
    SystemParam b = a;
    QVERIFY(a == b);
    // A byte after the password's NUL still counts as a change of the record.
    b.password()[50] = 'x';
    QVERIFY(a != b);
    b = a;
    b[349] = 1;
    QVERIFY(a != b);
}

void TestSystemParam::passwordStaysInsideItsSlots()
{
    SystemParam r;
    r.clear();
    std::memset(r.password(), 'A', SystemParam::PasswordBytes);  // no NUL anywhere
    r[227] = 0x42424242;
    QCOMPARE(r.passwordLatin1(), QByteArray(99, 'A'));

    // A longer text leaves the slots as they were.
    QVERIFY(!r.setPasswordLatin1(QByteArray(100, 'b')));
    QCOMPARE(r.passwordLatin1(), QByteArray(99, 'A'));

    // A shorter one clears the rest, so equal passwords make equal records.
    QVERIFY(r.setPasswordLatin1("pw"));
    SystemParam other;
    other.clear();
    other[227] = 0x42424242;
    QVERIFY(other.setPasswordLatin1("pw"));
    QVERIFY(r == other);
    QCOMPARE(r[227], 0x42424242);
}

void TestSystemParam::passwordText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ascii") << "1234" << true << QByteArray("1234");
    QTest::newRow("latin-1") << QString::fromUtf8("Grüße§ÿ") << true << QByteArray("Gr\xfc\xdf" "e\xa7\xff");
    QTest::newRow("empty") << "" << true << QByteArray();
    QTest::newRow("99 characters") << QString(99, QLatin1Char('z')) << true << QByteArray(99, 'z');
    QTest::newRow("100 characters") << QString(100, QLatin1Char('z')) << false << QByteArray("old");
    QTest::newRow("outside latin-1") << QString::fromUtf8("密码") << false << QByteArray("old");
}

void TestSystemParam::passwordText()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, bytes);
    SystemParam r;
    r.clear();
    QVERIFY(r.setPasswordLatin1("old"));
    QCOMPARE(r.setPasswordText(text), accepted);
    QCOMPARE(r.passwordLatin1(), bytes);
    if (accepted) {
        QCOMPARE(r.passwordText(), text);
    }
}

void TestSystemParam::timerIntervalsDoNotWrap()
{
    SystemParam r;
    r.clear();
    r.debounce() = INT_MAX;
    r.inputTimeoutSec() = INT_MAX;
    r.tempRecordMin() = INT_MAX;
    r.trigInDelay(7) = INT_MAX;
    QCOMPARE(r.debounceMs(), qint64(INT_MAX) * 100);
    QCOMPARE(r.inputTimeoutMs(), qint64(INT_MAX) * 1000);
    QCOMPARE(r.tempRecordMs(), qint64(INT_MAX) * 60000);
    QCOMPARE(r.trigInDelayMs(7), qint64(INT_MAX) * 100);

    QCOMPARE(timerIntervalMs(r.inputTimeoutMs()), INT_MAX);
    QCOMPARE(timerIntervalMs(0), 1);
    QCOMPARE(timerIntervalMs(-60000), 1);
    QCOMPARE(timerIntervalMs(500), 500);
}

void TestSystemParam::factoryRecordIsInsideTheLimits()
{
    const SystemParam factory = factorySysParam();
    SystemParam clamped = factory;
    clampSysParam(&clamped);
    QVERIFY(clamped == factory);
    QCOMPARE(factory.password()[0], '\0');
}

QTEST_GUILESS_MAIN(TestSystemParam)
#include "tst_systemparam.moc"
