#include "startup.h"

#include "controlport.h"
#include "iothread.h"
#include "kiticons.h"
#include "globals.h"
#include "logmanager.h"
#include "mapplication.h"
#include "paragroupstore.h"
#include "platformhelpers.h"
#include "systemparam.h"
#include "taskmanager.h"
#include "temperaturechartdata.h"
#include "texttable.h"
#include "vezirevoru.h"

#include <QDebug>
#include <QList>
#include <QLoggingCategory>
#include <QPixmap>
#include <QTextCodec>

#include <mutex>

std::function<void(int step)> gStartupObserver;

namespace {

void step(int n)
{
    if (gStartupObserver) {
        gStartupObserver(n);
    }
}

// Pictures of gPixmapTable, in index order; empty names stay null pixmaps.
const char* const kPixmapFiles[PixmapTableSize] = {
    "./images/background.png",
    "./images/title.png",
    "./images/line.png",
    "./images/edit.png",
    ":/slideru.png",
    ":/sliderd.png",
    ":/slidert.png",
    "",
    "",
    "",
    "",
    "./images/Origin.png",
    "./images/MoveUp.png",
    "./images/MoveDown.png",
    "./images/MoveLeft.png",
    "./images/MoveRight.png",
    "./images/EnlargeScale.png",
    "./images/ReductionScale.png",
};

} // namespace

int runKorvane(int& argc, char** argv, quint16 modbusPort, const QHostAddress& modbusAddress)
{
    // Qt's own Unix event loop costs less per event than the glib one, which
    // shows on the busiest path, the Modbus server. Only Qt reads this, and
    // only when the first application object is made.
    qputenv("QT_NO_GLIB", "1");

    step(1);
    QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, true);
    QLoggingCategory::defaultCategory()->setEnabled(QtInfoMsg, true);

    step(2);
    if (!gpApplication) {
        gpApplication = new MApplication(argc, argv);
    }
    step(3);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    step(4);
    qRegisterMetaType<QList<int>>("QList<int>");

    step(5);
    if (!gpLogManager) {
        gpLogManager = new LogManager;
    }
    // From here on SIGINT and SIGTERM end the program through its quit hooks,
    // with the outputs at rest, as soon as the event loop runs. After the log
    // manager: its crash handler would otherwise take these two signals for
    // crashes.
    quitOnSignals();
    // A parameter-group switch cut short by a power loss leaves the working
    // files half replaced: they are put back (and the log says so) before
    // anything opens a database or reads a camera folder.
    ParaGroupStore().recoverInterruptedSwitch();

    step(6);
    TaskManager::instance();

    step(7);
    qInfo() << "korvane" << KORVANE_VERSION << " release";

    step(8);
    gMutexTable[8] = new std::mutex;
    gMutexTable[9] = new std::mutex;

    step(9);
    initTextTable();

    step(10);
    // Entries 4 to 6 are the kit's compiled-in slider pictures.
    ensureKitIcons();
    for (int i = 0; i < PixmapTableSize; ++i) {
        gPixmapTable[i] = kPixmapFiles[i][0] ? new QPixmap(QString::fromUtf8(kPixmapFiles[i])) : new QPixmap;
    }

    step(11);
    TemperatureChartData::instance()->init();

    step(12);
    new VeZiRevoru(nullptr, modbusPort, modbusAddress);

    step(13);
    if (gpSystemParam) {
        TemperatureChartData::instance()->setRegularRecordingInterval(gpSystemParam->tempRecordMin());
    }

    step(14);
    gpControlPort->startIOThread();
    // Input changes run the main loop at once (queued onto the GUI thread).
    QObject::connect(gpControlPort->ioThread(), &IOThread::sigIOChange, gpVeZiRevoru, &VeZiRevoru::Run);

    step(15);
    gpVeZiRevoru->showFullScreen();

    step(16);
    TaskManager::instance()->startLoop();

    step(17);
    return QApplication::exec();
}
