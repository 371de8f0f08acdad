// The shared fixtures the other tests lean on: a state that really comes back,
// log lines caught from every thread, and the check of the operator's texts.
#include "logcapture.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "systemclock.h"
#include "texttable.h"
#include "testworkdir.h"

#include <QSqlDatabase>
#include <QtTest>

#include <thread>

class TestFixtures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void globalsOfEveryLinkedLayerComeBack();
    void connectionsComeBackAsTheyWere();
    void logLinesFromAnyThread();
    void nestedCapturesPassOnInOrder();
    void tableTexts_data();
    void tableTexts();
};

void TestFixtures::globalsOfEveryLinkedLayerComeBack()
{
    SystemParam record{};
    const QString text42 = gTextTable[4 * 42 + 1];
    const QDateTime now = clockNow();
    const int cameraCount = gCameraCount;
    const qint32 order3 = gCameraOrder[3];
    const int outputWord = gOutputWord;
    const qint32 total5 = gTotalCount[5];
    {
        ProcessState state;
        gpSystemParam = &record;
        gLanguage = 2;
        gTextTable[4 * 42 + 1] = QStringLiteral("changed");
        gCameraCount = 7;
        gCameraOrder[3] = 99;
        gpTemperatureChartData = reinterpret_cast<TemperatureChartData*>(&record);
        gOutputWord = 0x155;
        gTotalCount[5] = 12345;
        gpVeZiRevoru = reinterpret_cast<VeZiRevoru*>(&record);
        cameraOperationLog = [](const QString&) {};
        setWallClock([] { return QDateTime(QDate(2001, 1, 1), QTime(0, 0)); });
    }
    QVERIFY(gpSystemParam != &record);
    QCOMPARE(gLanguage, 0);
    QCOMPARE(gTextTable[4 * 42 + 1], text42);
    QCOMPARE(gCameraCount, cameraCount);
    QCOMPARE(gCameraOrder[3], order3);
    QVERIFY(gpTemperatureChartData == nullptr);
    QCOMPARE(gOutputWord, outputWord);
    QCOMPARE(gTotalCount[5], total5);
    QVERIFY(gpVeZiRevoru == nullptr);
    QVERIFY(!cameraOperationLog);
    QVERIFY(qAbs(clockNow().secsTo(now)) < 60);
}

void TestFixtures::connectionsComeBackAsTheyWere()
{
    TestWorkDir dir;
    {
        QSqlDatabase kept = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("kept"));
        kept.setDatabaseName(dir.filePath(QStringLiteral("kept.db")));
        QVERIFY(kept.open());
    }
    {
        ProcessState state;
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("added"));
        QSqlDatabase::database(QStringLiteral("kept"), false).close();
        QSqlDatabase::removeDatabase(QStringLiteral("kept"));
    }
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("added")));
    QVERIFY(QSqlDatabase::contains(QStringLiteral("kept")));
    {
        const QSqlDatabase kept = QSqlDatabase::database(QStringLiteral("kept"), false);
        QVERIFY(kept.isOpen());
        QCOMPARE(kept.databaseName(), dir.filePath(QStringLiteral("kept.db")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("kept"));
}

void TestFixtures::logLinesFromAnyThread()
{
    LogCapture log(LogCapture::Swallow);
    std::thread worker([] {
        for (int i = 0; i < 200; ++i) {
            qWarning("worker %d", i);
        }
    });
    for (int i = 0; i < 200; ++i) {
        qInfo("main %d", i);
    }
    worker.join();
    QCOMPARE(log.count(QStringLiteral("worker ")), 200);
    QCOMPARE(log.lines(QtInfoMsg).size(), 200);
    QVERIFY(log.contains(QStringLiteral("worker 199")));
    log.clear();
    QVERIFY(log.lines().isEmpty());
}

void TestFixtures::nestedCapturesPassOnInOrder()
{
    LogCapture outer(LogCapture::Swallow);
    {
        LogCapture inner;
        qWarning("both see it");
        QCOMPARE(inner.lines(), QStringList{"both see it"});
    }
    {
        LogCapture inner(LogCapture::Swallow);
        qWarning("only the inner one");
    }
    qWarning("the outer one again");
    QCOMPARE(outer.lines(), (QStringList{"both see it", "the outer one again"}));
}

void TestFixtures::tableTexts_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inTable");

    QTest::newRow("text 0 in English") << 1 << gTextTable[4 * 0 + 1] << true;
    QTest::newRow("text 0 in Chinese shown to an English operator") << 1 << gTextTable[4 * 0 + 0] << false;
    QTest::newRow("placeholder filled in") << 1 << gTextTable[4 * 286 + 1].arg(QStringLiteral("mould 7")) << true;
    QTest::newRow("placeholder left") << 1 << gTextTable[4 * 286 + 1] << true;
    QTest::newRow("text around a placeholder changed") << 1 << QStringLiteral("Restore group mould 7") << false;
    QTest::newRow("a literal") << 0 << QStringLiteral("I/O board not answering") << false;
    QTest::newRow("empty") << 0 << QString() << false;
    QTest::newRow("language out of range") << 4 << gTextTable[4 * 0 + 1] << false;
}

void TestFixtures::tableTexts()
{
    QFETCH(int, language);
    QFETCH(QString, text);
    QFETCH(bool, inTable);
    QCOMPARE(isTableText(text, language), inTable);
}

QTEST_MAIN(TestFixtures)
#include "tst_testfixtures.moc"
