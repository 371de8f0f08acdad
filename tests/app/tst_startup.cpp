// Runs the program's start-up in a temporary working folder and checks that
// its steps come in their fixed order with their effects in place.
#include "controlport.h"
#include "globals.h"
#include "logmanager.h"
#include "mapplication.h"
#include "startup.h"
#include "taskmanager.h"
#include "temperaturechartdata.h"
#include "testworkdir.h"
#include "vezirevoru.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QPixmap>
#include <QTimer>
#include <QtTest>

namespace {

struct Observation {
    int step;
    bool application;
    bool logManager;
    bool mutexes;
    bool chartData;
    bool mainWindow;
    bool windowVisible;
};

QList<Observation> gSteps;

bool anyWindowVisible()
{
    if (!qApp) {
        return false;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible()) {
            return true;
        }
    }
    return false;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

public:
    int exitCode = -1;

private slots:
    void stepsRunInOrder();
    void objectsExistAfterTheirStep();
    void startBannerOpensTheInfoLog();
    void mainWindowShowsFullScreen();
};

void TestStartup::stepsRunInOrder()
{
    QCOMPARE(gSteps.size(), 17);
    for (int i = 0; i < 17; ++i) {
        QCOMPARE(gSteps.at(i).step, i + 1);
    }
    QCOMPARE(exitCode, 0);
}

void TestStartup::objectsExistAfterTheirStep()
{
    for (const Observation& o : qAsConst(gSteps)) {
        QCOMPARE(o.application, o.step > 2);
        QCOMPARE(o.logManager, o.step > 5);
        QCOMPARE(o.mutexes, o.step > 8);
        QCOMPARE(o.chartData, o.step > 11);
        QCOMPARE(o.mainWindow, o.step > 12);
        QCOMPARE(o.windowVisible, o.step > 15);
    }
    QVERIFY(gMutexTable[8] && gMutexTable[9] && gMutexTable[8] != gMutexTable[9]);
    for (int i = 0; i < 8; ++i) {
        QVERIFY(!gMutexTable[i]);
    }
    for (QPixmap* p : gPixmapTable) {
        QVERIFY(p);
    }
    QVERIFY(gpTaskManager);
    QVERIFY(gpControlPort);
}

void TestStartup::startBannerOpensTheInfoLog()
{
    const QStringList logs = QDir("velqa/workspace/LOG").entryList({"log*.log"}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QFile file("velqa/workspace/LOG/" + logs.first());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QByteArray first;
    for (const QByteArray& line : lines) {
        if (line.startsWith('I')) {
            first = line;
            break;
        }
    }
    QVERIFY2(first.endsWith("] korvane 17.4.0.18  release"), first.constData());
}

void TestStartup::mainWindowShowsFullScreen()
{
    QVERIFY(gpVeZiRevoru);
    QVERIFY(gpVeZiRevoru->isFullScreen());
}

int main(int argc, char* argv[])
{
    TestWorkDir workDir;
    if (!workDir.isValid()) {
        return 1;
    }
    gStartupObserver = [](int step) {
        gSteps.append({step, gpApplication != nullptr, gpLogManager != nullptr, gMutexTable[8] != nullptr,
                       gpTemperatureChartData != nullptr, gpVeZiRevoru != nullptr, anyWindowVisible()});
        if (step == 17) {
            // Leave the event loop as soon as it runs.
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
    };
    TestStartup test;
    test.exitCode = runKorvane(argc, argv);
    // Test output goes to the terminal again, not to the program's log.
    qInstallMessageHandler(nullptr);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
