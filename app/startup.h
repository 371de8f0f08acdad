#pragma once

#include <functional>

// The program's start-up: builds the process-wide objects in their fixed order,
// shows the main window full screen and runs the event loop. Returns the event
// loop's exit code.
int runKorvane(int& argc, char** argv);

// Called with the number of each start-up step (1 to 17) just before the step
// runs. Empty in the program; tests use it to follow the sequence.
extern std::function<void(int step)> gStartupObserver;
