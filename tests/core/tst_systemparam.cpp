#include "systemparam.h"

#include <QtTest>

#include <climits>
#include <cstring>

class TestSystemParam : public QObject {
    Q_OBJECT

private slots:
    void defaultsTouchOnlyTheirSlots();
    void namedFieldsAreSlots();
    void blockCompareSeesEveryByte();
    void passwordStaysInsideItsSlots();
    void passwordText_data();
    void passwordText();
    void timerIntervalsDoNotWrap();
    void factoryRecordIsInsideTheLimits();
    void globalsCopiedFromRecord();
};

void TestSystemParam::defaultsTouchOnlyTheirSlots()
{
    const qint32 untouched = 0x5A5A5A5A;
    SystemParam record;
    for (qint32& v : record.value) {
        v = untouched;
    }
    QCOMPARE(initSysParamDefaults(&record), &record);

    QMap<int, qint32> expected;
    const auto set = [&](int first, int last, qint32 v) {
        for (int s = first; s <= last; ++s) {
            expected[s] = v;
        }
    };
    set(40, 55, 0);
    set(81, 81, 0);
    set(99, 106, 0);
    set(108, 117, 1);
    set(119, 119, 0);
    set(120, 120, 1);
    set(121, 126, 0);
    set(159, 160, 0);
    set(179, 180, 0);
    set(228, 228, 2);
    set(229, 258, 0);
    set(270, 289, 0);
    set(307, 307, 30);
    set(308, 339, 0);
    for (int s = 0; s < SystemParam::SlotCount; ++s) {
        QVERIFY2(record[s] == expected.value(s, untouched), qPrintable(QStringLiteral("slot %1").arg(s)));
    }
}

void TestSystemParam::namedFieldsAreSlots()
{
    SystemParam r;
    r.clear();
    r.alarmArea() = 11;
    r.showAllAlgoParams() = 12;
    r.tempRecordMin() = 13;
    r.paraGroupIndex() = 14;
    r.exposeTime(7) = 15;
    r.trigInDelay(3) = 16;
    r.outInitState(9) = 17;
    r.detectEnabled(3) = 18;
    r.systemFunctionEdit() = 19;
    r.outputNameIdx(9) = 20;
    QCOMPARE(r[150], 11);
    QCOMPARE(r[169], 12);
    QCOMPARE(r[307], 13);
    QCOMPARE(r[340], 14);
    QCOMPARE(r[7], 15);
    QCOMPARE(r[75], 16);
    QCOMPARE(r[117], 17);
    QCOMPARE(r[122], 18);
    QCOMPARE(r[190], 19);
    QCOMPARE(r[289], 20);
    QCOMPARE(reinterpret_cast<const char*>(&r) + 202 * 4, static_cast<const char*>(r.password()));
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

void TestSystemParam::globalsCopiedFromRecord()
{
    SystemParam r;
    r.clear();
    r.statisticsOn() = 1;
    r.maxTemplates() = 17;
    r.ngImageKeep() = 300;
    r.okImageKeep() = 20;
    r.ioComPort() = 4;
    r.grayChannel() = 1;
    r.noLensOptimize() = 1;
    r.colorCamera() = 1;
    copySysParamGlobals(r);
    QCOMPARE(gStatisticsEnabled, 1);
    QCOMPARE(gTemplateCount, 17);
    QCOMPARE(gMaxNgImages, 300);
    QCOMPARE(gMaxOkImages, 20);
    QCOMPARE(gComPort, 4);
    QCOMPARE(gColorToGray, 1);
    QCOMPARE(gLensOptimize, 0);
    QCOMPARE(gColorMode, 1);
    r.noLensOptimize() = INT_MIN;  // damaged value: no overflow
    copySysParamGlobals(r);
    QVERIFY(gLensOptimize != 0);
}

QTEST_GUILESS_MAIN(TestSystemParam)
#include "tst_systemparam.moc"
