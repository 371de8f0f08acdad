// Runs the program's start-up in a temporary working folder and checks that
// its steps come in their fixed order with their effects in place.
#include "cameraregistry.h"
#include "controlport.h"
#include "globals.h"
#include "logmanager.h"
#include "mapplication.h"
#include "operatorprompt.h"
#include "paragroupstore.h"
#include "paramstorage.h"
#include "startup.h"
#include "taskmanager.h"
#include "temperaturechartdata.h"
#include "testworkdir.h"
#include "texttable.h"
#include "vezirevoru.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QPixmap>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <csignal>

namespace {

struct Observation {
    int step;
    bool application;
    bool logManager;
    bool mutexes;
    bool chartData;
    bool mainWindow;
    bool windowVisible;
    bool switchStaging;  // the staging folder of a group switch is there
    bool texts;          // the text table is filled
    bool pictures;       // the picture table is loaded
};

QList<Observation> gSteps;
QList<int> gWindowSteps;
QStringList gQuestions;
QStringList gWarnings;
QString gRecordDb;

// The language stored in the PARAM.db that an interrupted group switch had
// moved aside; -1 until the working folder is prepared.
int gPutBackLanguage = -1;
QString gPreparationError;

// The working folder as a power cut in the middle of a parameter-group switch
// leaves it: the old PARAM.db and cammer11 moved aside into the staging
// folder, a half-copied PARAM.db and the new group's cammer11 in their place,
// and cammer31, which only the new group has, already moved in.
void prepareInterruptedGroupSwitch(const TestWorkDir& dir)
{
    const QString staging = ParaGroupStore::stagingFolderName();
    if (!writeFactoryParamGroup("factory", &gPreparationError)) {
        return;
    }
    {
        QSqlDatabase param = QSqlDatabase::addDatabase("QSQLITE", "prepare");
        param.setDatabaseName("factory/PARAM.db");
        QSqlDatabase serial = QSqlDatabase::addDatabase("QSQLITE", "prepareSN");
        serial.setDatabaseName("factory/SN.db");
        SystemParam record{};
        if (!param.open() || !serial.open()) {
            gPreparationError = "cannot open the factory group";
        } else {
            loadSysParam(&record, param, serial, nullptr);
            gLanguage = (gLanguage + 1) % 4;  // any language but the factory's
            gPutBackLanguage = gLanguage;
            if (!saveSysParam(&record, param)) {
                gPreparationError = "cannot save the put-back PARAM.db";
            }
        }
        param.close();
        serial.close();
    }
    QSqlDatabase::removeDatabase("prepare");
    QSqlDatabase::removeDatabase("prepareSN");
    if (!QDir().mkpath(staging + "/old") || !QFile::rename("factory/PARAM.db", staging + "/old/PARAM.db")
        || !QDir("factory").removeRecursively()) {
        gPreparationError = "cannot move the put-back PARAM.db into place";
    }
    gLanguage = 0;
    dir.write(staging + "/old/cammer11/template1.bmp", "old 11");
    dir.write(staging + "/new/cammer12/template1.bmp", "new 12, not yet moved in");
    dir.write(staging + "/added", "cammer31\n");
    dir.write("PARAM.db", QByteArray("SQLite format 3") + QByteArray(100, '\0'));
    dir.write("cammer11/template1.bmp", "new 11");
    dir.write("cammer31/template1.bmp", "new 31");
}

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
    void windowIsBuiltOnWhatItUses();
    void objectsExistAfterTheirStep();
    void startBannerOpensTheInfoLog();
    void mainWindowShowsFullScreen();
    void interruptedGroupSwitchIsPutBackBeforeAnyDatabaseOpens();
    void signalsAreCaught();
    void windowIsBuiltInItsOrder();
};

void TestStartup::windowIsBuiltOnWhatItUses()
{
    // The main window shows texts and pictures and hands results to the
    // records service from its first moment: all three come before it.
    bool sawWindow = false;
    for (const Observation& o : qAsConst(gSteps)) {
        if (o.mainWindow) {
            sawWindow = true;
            QVERIFY2(o.texts && o.pictures && o.chartData, qPrintable(QString::number(o.step)));
        }
    }
    QVERIFY(sawWindow);
    // The event loop's code is the program's.
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

void TestStartup::interruptedGroupSwitchIsPutBackBeforeAnyDatabaseOpens()
{
    QVERIFY2(gPreparationError.isEmpty(), qPrintable(gPreparationError));
    QVERIFY(gPutBackLanguage >= 0);
    // Made when the interrupted switch is found, gone once logging runs:
    // before the records open their database and the main window PARAM.db.
    for (const Observation& o : qAsConst(gSteps)) {
        QVERIFY2(o.switchStaging == (o.step >= 3 && o.step <= 5), qPrintable(QString::number(o.step)));
    }
    // The working PARAM.db is the one moved aside, not the half-copied one.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName("PARAM.db");
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("select value from sysparam where name='system2'"));
        QVERIFY(query.next());
        const QStringList values = query.value(0).toString().split(' ', Qt::SkipEmptyParts);
        QVERIFY(values.size() > 12);
        QCOMPARE(values.at(12).toInt(), gPutBackLanguage);  // the language's place in the row
    }
    QSqlDatabase::removeDatabase("check");
    QFile t11("cammer11/template1.bmp");
    QVERIFY(t11.open(QIODevice::ReadOnly));
    QCOMPARE(t11.readAll(), QByteArray("old 11"));
    QVERIFY(!QFileInfo::exists("cammer31/template1.bmp"));
    QVERIFY(!QFileInfo::exists(ParaGroupStore::stagingFolderName()));
}

void TestStartup::signalsAreCaught()
{
    for (int signalNumber : {SIGINT, SIGTERM}) {
        struct sigaction action = {};
        QCOMPARE(::sigaction(signalNumber, nullptr, &action), 0);
        QVERIFY(action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN);
    }
}

void TestStartup::windowIsBuiltInItsOrder()
{
    QList<int> expected;
    for (int n = 1; n <= 43; ++n) {
        expected.append(n);
    }
    QCOMPARE(gWindowSteps, expected);
    // No camera here: the simulated pair takes over and the operator is asked
    // (here in his place) whether to clear the saved serials.
    QCOMPARE(gCameraCount, 2);
    QCOMPARE(gQuestions, QStringList{textOf(134)});
    QCOMPARE(gpVeZiRevoru->state().shownCamera(), 2);
    QCOMPARE(gpVeZiRevoru->state().runState(), Detecting);
    QCOMPARE(gpVeZiRevoru->state().screenMode(), Live);
    QCOMPARE(gpVeZiRevoru->state().cyclePhase(), Waiting);
    QVERIFY(QFileInfo::exists("paraGroup"));
    QVERIFY(gRecordDb.contains(textOf(150).arg(2)));
}

int main(int argc, char* argv[])
{
    TestWorkDir workDir;
    if (!workDir.isValid()) {
        return 1;
    }
    gStartupObserver = [&workDir](int step) {
        if (step == 3) {
            // The database driver needs the application object.
            prepareInterruptedGroupSwitch(workDir);
        }
        gSteps.append({step, gpApplication != nullptr, gpLogManager != nullptr, gMutexTable[8] != nullptr,
                       gpTemperatureChartData != nullptr, gpVeZiRevoru != nullptr, anyWindowVisible(),
                       QFileInfo::exists(ParaGroupStore::stagingFolderName()), !gTextTable[4 * 1].isEmpty(),
                       gPixmapTable[0] != nullptr});
        if (step == 12) {
            setAskOperatorHandler([](const QString& question, int) {
                gQuestions.append(question);
                return 1;
            });
            setWarnOperatorHandler([](const QString& message) { gWarnings.append(message); });
            gConstructionObserver = [](int n) { gWindowSteps.append(n); };
        }
        if (step == 17) {
            gConstructionObserver = nullptr;
            {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "records");
                db.setDatabaseName("RECORD.db");
                QSqlQuery query(db);
                if (db.open() && query.exec("select * from RECORD")) {
                    while (query.next()) {
                        gRecordDb += query.value(2).toString() + "\n";
                    }
                }
            }
            QSqlDatabase::removeDatabase("records");
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
