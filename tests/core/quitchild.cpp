// Starts logging, a worker thread and the event loop, then quits the program
// the way the exit buttons do. The platform test checks that it ends cleanly
// with the given code.
#include "logmanager.h"
#include "mapplication.h"
#include "platformhelpers.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

namespace {
QThread* gWorker = nullptr;
}

int main(int argc, char* argv[])
{
    gpApplication = new MApplication(argc, argv);
    gpLogManager = new LogManager;

    gWorker = new QThread;
    gWorker->start();
    // A worker that logs while the program quits must be stopped before exit.
    auto* ticker = new QTimer;
    ticker->moveToThread(gWorker);
    QObject::connect(ticker, &QTimer::timeout, [] { qInfo() << "worker tick"; });
    QMetaObject::invokeMethod(ticker, [ticker] { ticker->start(1); });

    addQuitHook(QStringLiteral("worker"), [ticker] {
        QMetaObject::invokeMethod(ticker, [ticker] { ticker->stop(); }, Qt::BlockingQueuedConnection);
        gWorker->quit();
        gWorker->wait();
        qInfo() << "worker stopped";
    });
    QTimer::singleShot(50, [] { quitProgram(7); });
    return QApplication::exec();
}
