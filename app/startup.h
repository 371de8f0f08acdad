#pragma once

#include <QHostAddress>

#include <functional>

// The program's start-up: builds the process-wide objects in their fixed order,
// shows the main window full screen and runs the event loop. Returns the event
// loop's exit code. The Modbus server listens on modbusPort at modbusAddress
// (tests use port 0 on 127.0.0.1).
int runKorvane(int& argc, char** argv, quint16 modbusPort = 502,
               const QHostAddress& modbusAddress = QHostAddress::Any);

// Called with the number of each start-up step (1 to 17) just before the step
// runs. Empty in the program; tests use it to follow the sequence.
extern std::function<void(int step)> gStartupObserver;
