// Runs the machine I/O link against the board linked as "COM1" in the working
// folder, with the mould closing and the alarm switched on, as the program
// does once it has started; it ends only when a signal arrives. The signal
// test checks that the outputs went back to rest before the process ended.
#include "controlport.h"
#include "globals.h"
#include "logmanager.h"
#include "mapplication.h"
#include "platformhelpers.h"
#include "systemparam.h"

#include <QTimer>

int main(int argc, char* argv[])
{
    gpApplication = new MApplication(argc, argv);
    gpLogManager = new LogManager;
    quitOnSignals();

    static SystemParam params{};
    params[109] = 1;  // the ejector permission rests high
    gpSystemParam = &params;

    gpControlPort = new ControlPort(0);
    gpControlPort->startIOThread();
    gpControlPort->setOutput(OutAllowClamp, 1);
    gpControlPort->setOutput(OutAlarm, 1);
    gpControlPort->commitOutputs();

    auto* heartbeat = new QTimer;
    QObject::connect(heartbeat, &QTimer::timeout, [] { gpControlPort->feedWatchdog(); });
    heartbeat->start(500);
    gpControlPort->feedWatchdog();
    return QApplication::exec();
}
