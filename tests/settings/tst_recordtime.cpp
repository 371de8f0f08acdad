#include "recordwidget.h"

#include <QTest>

// The operation log keeps its times as "hh.mm.ss"; the table shows them as
// times and leaves any other text alone.
class TestRecordTime : public QObject {
    Q_OBJECT
private slots:
    void shown_data();
    void shown();
};

void TestRecordTime::shown_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("morning") << "07.50.34" << "07:50:34";
    QTest::newRow("midnight") << "00.00.00" << "00:00:00";
    QTest::newRow("already a time") << "07:50:34" << "07:50:34";
    QTest::newRow("a date is no time") << "2024.05.01" << "2024.05.01";
    QTest::newRow("trailing text") << "07.50.34 x" << "07.50.34 x";
    QTest::newRow("empty") << "" << "";
}

void TestRecordTime::shown()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    QCOMPARE(shownRecordTime(stored), expected);
}

QTEST_GUILESS_MAIN(TestRecordTime)
#include "tst_recordtime.moc"
