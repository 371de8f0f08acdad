#include "areapanellogic.h"

#include "cammersingleton.h"
#include "circle.h"
#include "clustomrect.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <utime.h>

using namespace AreaPanelLogic;

namespace {

void addArea(CammerSingleton& set, int d, ROIInterface* shape, int function, int param, int lower, int upper)
{
    shape->updateBounds();
    const int k = set.roiCount[d]++;
    const int slot = d * AreasPerDetect + k;
    set.roiLists[d].append(shape);
    set.roiShapeType[slot] = shape->type();
    set.roiFunction[slot] = function;
    set.roiParam[slot] = param;
    set.roiLower[slot] = lower;
    set.roiUpper[slot] = upper;
}

ROIInterface* rect(int x = 10, int y = 10) { return new ClustomRect(x, y, x + 20, y + 20); }

void touch(const QString& path, int ageSeconds)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    const time_t t = time(nullptr) - ageSeconds;
    utimbuf times{t, t};
    QCOMPARE(utime(QFile::encodeName(path).constData(), &times), 0);
}

} // namespace

class TestAreaPanelLogic : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void entryDetect_data();
    void entryDetect();
    void visibility_data();
    void visibility();
    void slotNames_data();
    void slotNames();
    void freeSlotThenOldestButSampleZero();
    void changeLogWorkedRows();
    void changeLogAddedDeletedAndTemperatures();
};

void TestAreaPanelLogic::entryDetect_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("p119");
    QTest::addColumn<int>("p127");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("cur");
    QTest::addColumn<bool>("review");
    QTest::addColumn<int>("expected");
    QTest::newRow("standard, product on") << 0 << 1 << 0 << 0 << 1 << false << 1;
    QTest::newRow("standard, product off") << 0 << 0 << 1 << 0 << 0 << false << 1;
    QTest::newRow("standard, cavity follows") << 0 << 1 << 1 << 0 << 1 << false << 0;
    QTest::newRow("alarm review keeps") << 0 << 0 << 1 << 0 << 0 << true << 0;
    QTest::newRow("two-colour follows, right detect") << 1 << 1 << 1 << 0 << 3 << false << 1;
    QTest::newRow("two-colour left side") << 1 << 1 << 0 << 0 << 2 << false << 0;
    QTest::newRow("two-colour right side") << 1 << 1 << 0 << 1 << 0 << false << 2;
    QTest::newRow("rotary, product off goes to cavity") << 2 << 0 << 0 << 1 << 0 << false << 3;
    QTest::newRow("rotary, out of range") << 2 << 1 << 0 << 0 << 7 << false << 0;
}

void TestAreaPanelLogic::entryDetect()
{
    QFETCH(int, type);
    QFETCH(int, p119);
    QFETCH(int, p127);
    QFETCH(int, side);
    QFETCH(int, cur);
    QFETCH(bool, review);
    QFETCH(int, expected);
    SystemParam p{};
    p.systemFunction() = type;
    p[119] = p119;
    p.syncCavityParams() = p127;
    p.mouldSide() = side;
    QCOMPARE(AreaPanelLogic::entryDetect(p, cur, type == 0 ? 2 : 4, review), expected);
}

void TestAreaPanelLogic::visibility_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("editing");
    QTest::addColumn<bool>("review");
    QTest::addColumn<int>("cameras");
    QTest::addColumn<QList<int>>("shown");
    QTest::newRow("template tools") << 0 << 0 << false << 1
                                    << QList<int>{WReturn, WSource, WDetect, WEditArea, WTempLast, WTempNext, WTempDeleteCur};
    QTest::newRow("template tools, review, 2 cameras")
        << 0 << 0 << true << 2
        << QList<int>{WReturn, WSource, WCamera, WDetect, WEditArea, WTempLast, WTempNext, WTempDeleteCur, WAutoChange};
    QTest::newRow("area tools") << 0 << 1 << false << 1
                                << QList<int>{WReturn, WSource, WDetect, WChangeOp, WDrawRect, WDrawCircle, WDrawPolygon,
                                              WDrawHand, WCopyArea, WDeleteRoi, WDeleteAllRoi};
    QTest::newRow("live, review") << 1 << 0 << true << 3
                                  << QList<int>{WSource, WCamera, WAddTemp, WNoCheckCur, WAutoChange, WReCheck};
    QTest::newRow("live, setting") << 1 << 0 << false << 3 << QList<int>{WSource, WCamera, WReturn};
    QTest::newRow("recent NG") << 2 << 1 << false << 1
                               << QList<int>{WSource, WDetect, WReturn, WTempLast, WTempNext, WAddTemp};
    QTest::newRow("NG records") << 4 << 0 << true << 1 << QList<int>{WSource, WDetect, WReturn, WTempLast, WTempNext};
    QTest::newRow("closed") << -1 << 0 << true << 2 << QList<int>{};
}

void TestAreaPanelLogic::visibility()
{
    QFETCH(int, source);
    QFETCH(int, editing);
    QFETCH(bool, review);
    QFETCH(int, cameras);
    QFETCH(QList<int>, shown);
    quint32 expected = 0;
    for (int w : shown) {
        expected |= 1u << w;
    }
    QCOMPARE(visibleWidgets(source, editing, review, cameras), expected);
}

void TestAreaPanelLogic::slotNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("slot");
    QTest::newRow("plain") << "template7.bmp" << 7;
    QTest::newRow("two digits") << "template12.bmp" << 12;
    QTest::newRow("sample zero") << "template0.bmp" << -1;
    QTest::newRow("leading zero") << "template00.bmp" << -1;
    QTest::newRow("leading zero 2") << "template02.bmp" << -1;
    QTest::newRow("letters") << "templateX.bmp" << -1;
    QTest::newRow("sign") << "template-1.bmp" << -1;
    QTest::newRow("plus") << "template+3.bmp" << -1;
    QTest::newRow("no number") << "template.bmp" << -1;
    QTest::newRow("other suffix") << "template3.bmp.bak" << -1;
    QTest::newRow("huge") << "template99999999999999.bmp" << -1;
}

void TestAreaPanelLogic::slotNames()
{
    QFETCH(QString, name);
    QFETCH(int, slot);
    QCOMPARE(replaceableSlotOfName(name), slot);
}

void TestAreaPanelLogic::freeSlotThenOldestButSampleZero()
{
    TestWorkDir dir;
    QDir().mkpath("cammer11");
    // Not full: the lowest free slot.
    SlotChoice free = chooseAddSlot({1, 1, 0, 0}, 2, 4, "cammer11");
    QCOMPARE(free.slot, 2);
    QVERIFY(!free.replaces);

    // Full: template0 is the oldest, then the stray names, then 3 before 1 and 2.
    touch("cammer11/template0.bmp", 500);
    touch("cammer11/templateX.bmp", 450);
    touch("cammer11/template00.bmp", 440);
    touch("cammer11/template-1.bmp", 430);
    touch("cammer11/template3.bmp", 400);
    touch("cammer11/template1.bmp", 300);
    touch("cammer11/template2.bmp", 100);
    SlotChoice full = chooseAddSlot({1, 1, 1, 1}, 4, 4, "cammer11");
    QCOMPARE(full.slot, 3);
    QVERIFY(full.replaces);
    QVERIFY(full.removeFile.isEmpty());

    // A sample from a larger library is the oldest: removed, the last slot taken.
    touch("cammer11/template9.bmp", 420);
    SlotChoice left = chooseAddSlot({1, 1, 1, 1}, 4, 4, "cammer11");
    QCOMPARE(left.slot, 3);
    QCOMPARE(QFileInfo(left.removeFile).fileName(), QStringLiteral("template9.bmp"));

    // Only sample 0 on disk: nothing can be replaced.
    QDir("cammer11").removeRecursively();
    QDir().mkpath("cammer11");
    touch("cammer11/template0.bmp", 10);
    QCOMPARE(chooseAddSlot({1, 1}, 2, 2, "cammer11").slot, -1);
}

void TestAreaPanelLogic::changeLogWorkedRows()
{
    CammerSingleton saved(0), edited(0);
    addArea(saved, 0, rect(), FuncDefect, 3, 25, 100);
    addArea(saved, 0, rect(50), FuncDefect, 3, 25, 100);
    addArea(edited, 0, rect(), FuncDefect, 3, 25, 100);
    addArea(edited, 0, rect(50), FuncDefect, 3, 30, 100);
    bool touched = true;
    QStringList rows = areaChangeRows(saved, edited, 0, 0, 2, &touched);
    const QString type = edited.roiLists[0][1]->typeName();
    const QString sensitivity =
        textOf(73).arg(1).arg(textOf(263))
        + textOf(99).arg(type, "2", textOf(84), textOf(97).arg(textOf(94).arg(25).arg(30), QString(), QString()), QString());
    QCOMPARE(rows, QStringList{sensitivity});
    QVERIFY(!touched);

    // Only moved: no value fragments, the moved note.
    CammerSingleton moved(0);
    addArea(moved, 0, rect(), FuncDefect, 3, 25, 100);
    addArea(moved, 0, rect(60), FuncDefect, 3, 25, 100);
    rows = areaChangeRows(saved, moved, 0, 0, 2, nullptr);
    QCOMPARE(rows, QStringList{textOf(73).arg(1).arg(textOf(263)) + textOf(99).arg(type, "2", textOf(84),
                                                                                   textOf(97).arg(QString(), QString(), QString()),
                                                                                   textOf(98))});

    // Function changed, shape and compared values equal: no row.
    CammerSingleton function(0);
    addArea(function, 0, rect(), FuncDefect, 3, 25, 100);
    addArea(function, 0, rect(50), FuncIgnoreArea, 3, 25, 100);
    QVERIFY(areaChangeRows(saved, function, 0, 0, 2, nullptr).isEmpty());
}

void TestAreaPanelLogic::changeLogAddedDeletedAndTemperatures()
{
    CammerSingleton saved(2), edited(2);
    // Detect 3 of a two-colour machine: a positioning area deleted, a
    // temperature alarm changed to negative values, one added.
    addArea(saved, 3, rect(), FuncTempAlarm, 0, (1 << 16) | 5, 80);
    addArea(saved, 3, rect(40), FuncPosition, 60, 2, 3);
    const qint32 low = qint32((quint32(2) << 16) | quint16(qint16(-10)));
    addArea(edited, 3, rect(), FuncTempAlarm, 0, low, 80);
    bool touched = false;
    QStringList rows = areaChangeRows(saved, edited, 2, 1, 4, &touched);
    const QString prefix = textOf(73).arg(3).arg(textOf(375));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0], prefix + textOf(99).arg(edited.roiLists[3][0]->typeName(), "1", textOf(84),
                                                textOf(619).arg(textOf(620).arg(5).arg(-10), QString(), QString(),
                                                                textOf(623).arg(1).arg(2), QString(), QString()),
                                                QString()));
    QCOMPARE(rows[1], prefix + textOf(81).arg(saved.roiLists[3][1]->typeName(), "2", textOf(21)));
    QVERIFY2(rows[0].contains("-10"), qPrintable(rows[0]));
    QVERIFY(touched == false); // a deleted positioning area is not retrained for

    addArea(edited, 3, new Circle(100, 100, 30, 0), FuncTempAlarm, qint32((quint32(0xfffe) << 16) | 95),
            qint32(quint16(qint16(-20))), 150);
    rows = areaChangeRows(saved, edited, 2, 1, 4, nullptr);
    QVERIFY2(rows[1].contains(textOf(99).left(3)), qPrintable(rows[1]));
    CammerSingleton none(2);
    rows = areaChangeRows(none, edited, 2, 1, 4, &touched);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1], prefix + textOf(80).arg(edited.roiLists[3][1]->typeName(), "2",
                                              textOf(618).arg(-20).arg(150).arg(95).arg(0).arg(0).arg(-2)));
    addArea(edited, 3, rect(5), FuncPosition, 60, 2, 3);
    areaChangeRows(none, edited, 2, 1, 4, &touched);
    QVERIFY(touched);
}

QTEST_MAIN(TestAreaPanelLogic)
#include "tst_areapanellogic.moc"
