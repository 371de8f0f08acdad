#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The export program's stand-in (tests/support/exportstandin) in the current
// working folder, where the system starts it.
namespace ExportStandin {

// What the installed stand-in does after printing its last line.
enum class Ending { Exit0, Exit1, Abort, Hang };

// The path the system starts the program from, relative to the working folder.
QString programPath();
// Copies the stand-in to programPath() and sets how it ends; false on failure.
bool install(Ending ending = Ending::Exit0);
// Changes how an installed stand-in ends.
bool setEnding(Ending ending);
// The arguments of its last run, exact bytes; empty before the first run.
QList<QByteArray> lastArguments();
// Forgets the last run's arguments.
void clearArguments();

} // namespace ExportStandin
