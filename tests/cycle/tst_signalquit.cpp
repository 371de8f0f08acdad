// SIGTERM and SIGINT end the program through its quit hooks: a child process
// drives the simulated board with outputs away from rest, is sent the signal,
// and must leave the board at rest and end with 128 + the signal's number.
#include "boardsimulator.h"
#include "testworkdir.h"
#include "settle.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

#include <csignal>

class TestSignalQuit : public QObject {
    Q_OBJECT

private slots:
    void signalPutsOutputsAtRestBeforeTheEnd_data();
    void signalPutsOutputsAtRestBeforeTheEnd();
};

void TestSignalQuit::signalPutsOutputsAtRestBeforeTheEnd_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSignalQuit::signalPutsOutputsAtRestBeforeTheEnd()
{
    QFETCH(int, signalNumber);
    TestWorkDir wd;
    BoardSimulator board;
    QVERIFY(board.isPlugged());
    QVERIFY(board.linkAs(wd.filePath("COM1")));

    QProcess child;
    child.setWorkingDirectory(wd.path());
    child.start(QStringLiteral(SIGNALCHILD_PATH), QStringList());
    QVERIFY(child.waitForStarted(10000));
    // Clamp and alarm on, the ejector permission at its high rest level.
    QTRY_COMPARE_WITH_TIMEOUT(board.lastOutputValue(), 0xFC07, kSettleMs);

    QCOMPARE(::kill(static_cast<pid_t>(child.processId()), signalNumber), 0);
    QVERIFY(child.waitForFinished(15000));
    const QByteArray err = child.readAllStandardError();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 128 + signalNumber, err.constData());
    QVERIFY2(!err.contains("Sanitizer"), err.constData());
    QCOMPARE(board.lastOutputValue(), 0xFC02);

    const QStringList logs = QDir("velqa/workspace/LOG").entryList({"log*.log"}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    const QByteArray log = wd.read("velqa/workspace/LOG/" + logs.first());
    const int atRest = log.indexOf("quit: \"machine I/O at rest\"");
    QVERIFY2(atRest >= 0, log.constData());
    QVERIFY(atRest < log.indexOf("program exit, code " + QByteArray::number(128 + signalNumber)));
}

QTEST_GUILESS_MAIN(TestSignalQuit)
#include "tst_signalquit.moc"
