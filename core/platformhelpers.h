#pragma once

#include <QString>

#include <functional>

// Ends the process with exitCode after the quit hooks have run (in reverse
// order of registration) and the usual pause. Returns only when a test double
// of the system commands swallows the exit.
void quitProgram(int exitCode);
// Pauses the calling thread for one second before a planned end of the process.
void waitBeforeQuit();
// Switches the screen backlight and records it in the main window's flag.
void setBacklight(bool on);
// Finds the first USB partition, mounts it at "/mnt" and returns "/mnt";
// returns an empty string when no USB disk could be mounted.
QString mountUsbDrive();

// Makes SIGINT and SIGTERM end the program as quitProgram does, quit hooks
// first, with the exit code 128 + the signal's number. The signal handler only
// writes the signal's number into a pipe; the quit itself runs on the thread
// of the application object once its event loop (or a modal one) reads it.
// Needs the application object; a second call does nothing.
void quitOnSignals();

// Registers work that must be done before the process ends: stopping a worker
// thread, putting the machine outputs at rest. Hooks run on the calling thread
// of quitProgram, the last registered first, each at most once.
void addQuitHook(const QString& name, std::function<void()> hook);
// Runs and forgets all registered hooks (quitProgram calls it).
void runQuitHooks();
