#include "resultrow.h"

#include <QtTest>

#include <limits>

using Detail = QList<QList<int>>;
Q_DECLARE_METATYPE(Detail)

class TestResultRow : public QObject {
    Q_OBJECT

private slots:
    void detailJson_data();
    void detailJson();
    void resultJson();
    void readsBackWhatItWrites();
    void refusesWhatIsNotTheForm_data();
    void refusesWhatIsNotTheForm();
    void timeText();
    void keys();
};

void TestResultRow::detailJson_data()
{
    QTest::addColumn<Detail>("detail");
    QTest::addColumn<QString>("json");

    QTest::newRow("spot, temperature, black area")
        << Detail{{1, 120, 80, 500, 3, 0}, {9, 65, 80, 120, 90}, {}} << "[[1,120,80,500,3,0],[9,65,80,120,90],[]]";
    QTest::newRow("negative numbers") << Detail{{9, -12, -20, -1, 95}} << "[[9,-12,-20,-1,95]]";
    QTest::newRow("no area") << Detail{} << "[]";
    QTest::newRow("only empty lists") << Detail{{}, {}} << "[[],[]]";
    QTest::newRow("extremes") << Detail{{0, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}}
                              << "[[0,-2147483648,2147483647]]";
}

void TestResultRow::detailJson()
{
    QFETCH(Detail, detail);
    QFETCH(QString, json);
    QCOMPARE(roiDetailToJson(detail), json);
    Detail back;
    QVERIFY(parseRoiDetail(json, &back));
    QCOMPARE(back, detail);
}

void TestResultRow::resultJson()
{
    QCOMPARE(roiResultToJson({1, 1, 0}), QStringLiteral("[1,1,0]"));
    QCOMPARE(roiResultToJson({}), QStringLiteral("[]"));
    QList<int> back;
    QVERIFY(parseRoiResult(QStringLiteral(" [ 1 , 0 ] "), &back));
    QCOMPARE(back, (QList<int>{1, 0}));
}

void TestResultRow::readsBackWhatItWrites()
{
    // Other writers may put blanks between the tokens.
    Detail detail;
    QVERIFY(parseRoiDetail(QStringLiteral("[ [1, 2] ,[ ], [9,3,4,5,6]]\n"), &detail));
    QCOMPARE(detail, (Detail{{1, 2}, {}, {9, 3, 4, 5, 6}}));
}

void TestResultRow::refusesWhatIsNotTheForm_data()
{
    QTest::addColumn<QString>("json");
    QTest::newRow("empty") << "";
    QTest::newRow("not closed") << "[[1,2]";
    QTest::newRow("flat list") << "[1,2]";
    QTest::newRow("trailing comma") << "[[1,2],]";
    QTest::newRow("fraction") << "[[1.5]]";
    QTest::newRow("exponent") << "[[1e3]]";
    QTest::newRow("too big") << "[[2147483648]]";
    QTest::newRow("leading zero") << "[[01]]";
    QTest::newRow("text") << "[[\"9\"]]";
    QTest::newRow("garbage after") << "[[1]]x";
    QTest::newRow("lone minus") << "[[-]]";
}

void TestResultRow::refusesWhatIsNotTheForm()
{
    QFETCH(QString, json);
    Detail detail{{7}};
    QVERIFY(!parseRoiDetail(json, &detail));
    QCOMPARE(detail, (Detail{{7}})); // untouched
}

void TestResultRow::timeText()
{
    const QDateTime t(QDate(2026, 12, 8), QTime(10, 15, 30, 125));
    QCOMPARE(formatResultTime(t), QStringLiteral("2026-12-08 10:15:30.125"));
    QDateTime back;
    QVERIFY(parseResultTime(QStringLiteral("2026-12-08 10:15:30.125"), &back));
    QCOMPARE(back, t);
    QVERIFY(!parseResultTime(QStringLiteral("2026-12-08 10:15:30"), &back));
    QVERIFY(!parseResultTime(QStringLiteral("2026-13-08 10:15:30.125"), &back));
    QVERIFY(!parseResultTime(QStringLiteral("2026-12-08T10:15:30.125"), &back));
    // An unset time is an empty text, never a null one (a null text would be
    // bound as NULL and cost the row its NOT NULL column).
    QVERIFY(!formatResultTime(QDateTime()).isNull());
    QVERIFY(formatResultTime(QDateTime()).isEmpty());
}

void TestResultRow::keys()
{
    QCOMPARE(seriesKey(0, 1, 3), QStringLiteral("C:0_D:1_F:3"));
    QCOMPARE(resultKey(QStringLiteral("2026-12-08 10:15:30.125"), 0, 1, 3),
             QStringLiteral("T:2026-12-08 10:15:30.125_C:0_D:1_F:3"));
    QCOMPARE(resultKey(QStringLiteral("2026-12-08 10:15:30.125"), 7, 3, 11),
             QStringLiteral("T:2026-12-08 10:15:30.125_C:7_D:3_F:11"));
    QCOMPARE(seriesSeconds(QDateTime::fromMSecsSinceEpoch(1500, Qt::UTC)), 1.5);
}

QTEST_GUILESS_MAIN(TestResultRow)
#include "tst_resultrow.moc"
