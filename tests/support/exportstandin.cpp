#include "exportstandin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ExportStandin {

namespace {

QString folder()
{
    return QFileInfo(programPath()).path();
}

} // namespace

QString programPath()
{
    return QStringLiteral("./velqa/export_temperature/temperature_export.exe");
}

bool install(Ending ending)
{
    if (!QDir().mkpath(folder())) {
        return false;
    }
    QFile::remove(programPath());
    if (!QFile::copy(QStringLiteral(KORVANE_EXPORT_STANDIN_PATH), programPath())) {
        return false;
    }
    QFile::setPermissions(programPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                             | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    clearArguments();
    return setEnding(ending);
}

bool setEnding(Ending ending)
{
    const char* text = "exit0";
    switch (ending) {
    case Ending::Exit0:
        break;
    case Ending::Exit1:
        text = "exit1";
        break;
    case Ending::Abort:
        text = "abort";
        break;
    case Ending::Hang:
        text = "hang";
        break;
    }
    QFile control(folder() + QStringLiteral("/control.txt"));
    return control.open(QIODevice::WriteOnly | QIODevice::Truncate) && control.write(text) == qint64(qstrlen(text));
}

QList<QByteArray> lastArguments()
{
    QFile file(folder() + QStringLiteral("/argv.bin"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray all = file.readAll();
    QList<QByteArray> arguments;
    int start = 0;
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i) == '\0') {
            arguments.append(all.mid(start, i - start));
            start = i + 1;
        }
    }
    return arguments;
}

void clearArguments()
{
    QFile::remove(folder() + QStringLiteral("/argv.bin"));
}

} // namespace ExportStandin
