// Sets up logging in the current working folder, logs one line and crashes.
#include "logmanager.h"

#include <QCoreApplication>
#include <QDebug>

#include <csignal>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    gpLogManager = new LogManager;
    qInfo() << "about to crash";
    std::raise(SIGSEGV);
    return 0;
}
