// Writes the factory parameter group (PARAM.db and SN.db) into the folder
// given as the only argument, for example <working folder>/paraGroup/default.

#include "paramstorage.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: factoryparams <folder>\n";
        return 2;
    }
    QString error;
    if (!writeFactoryParamGroup(QString::fromLocal8Bit(argv[1]), &error)) {
        err << "factoryparams: " << error << "\n";
        return 1;
    }
    return 0;
}
