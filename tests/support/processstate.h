#pragma once

// Keeps one test from leaking process-wide state into the next: takes a copy
// of every global the system keeps (system records, language and text table,
// camera and detect counts, main-window pointer and hooks, I/O words,
// counters, ...), of the installed handlers and clock, and of the open SQL
// connections, and puts all of it back when it goes out of scope. A test then
// sets what it needs by plain assignment and never resets anything by hand.
//
// The globals of a library are kept when the test program links it: the
// upper libraries' parts below are picked by whether their headers are on the
// include path, which is exactly the set the program links.
//
// While it lives it also answers the operator's boxes the way the program
// does before the main window exists (questions not confirmed) and checks
// every text shown there: a text that is not one of the text table's texts in
// the current language fails the test (see PromptAnswerer).

#include "promptanswerer.h"
#include "statekeeper.h"

#include <optional>

#if __has_include("cameraregistry.h")
#include "cameraregistry.h"
#define KORVANE_KEEP_CAMERA 1
#endif
#if __has_include("resultstatistics.h")
#include "resultstatistics.h"
#include "temperaturechartdata.h"
#define KORVANE_KEEP_RECORDS 1
#endif
#if __has_include("controlport.h")
#include "controlport.h"
#include "iothread.h"
#include "productioncounters.h"
#define KORVANE_KEEP_CYCLE 1
#endif
#if __has_include("vezirevoru.h")
#include "vezirevoru.h"
#define KORVANE_KEEP_WINDOW 1
#endif
#if __has_include("startup.h")
#include "startup.h"
#define KORVANE_KEEP_APP 1
#endif

// Everything here is inline on purpose: which layers it keeps is decided in
// the test program's own translation unit, never in the support library.
class ProcessState : public StateKeeper {
public:
    ProcessState()
    {
        keepCoreState(*this);
#ifdef KORVANE_KEEP_CAMERA
        keep(cameraDriverMask);
        keep(cameraRegistry);
        keep(cameraDeviceList);
        keep(gCameraCount);
        keep(gCameraOrder);
        keep(cameraStationSerial);
        keep(cameraOperationLog);
#endif
#ifdef KORVANE_KEEP_RECORDS
        keep(gpResultStatistics);
        keep(gpTemperatureChartData);
#endif
#ifdef KORVANE_KEEP_CYCLE
        keep(gpControlPort);
        keep(gDoorClearedAlarm);
        keep(gpSerialPort);
        keep(gOutputWord);
        keep(gInputWord);
        keep(gPollCount);
        keep(gBoardValues);
        keep(gBoardValueIndex);
        keep(gTotalCount);
        keep(gNgCount);
        keep(gTotalCycles);
        keep(gNgCycles);
#endif
#ifdef KORVANE_KEEP_WINDOW
        keep(gpVeZiRevoru);
#endif
#ifdef KORVANE_KEEP_APP
        keep(gStartupObserver);
#endif
        // Installed last and gone first: the operator's boxes are answered
        // and checked only while the rest is the test's.
        m_prompts.emplace(QList<int>{0});
    }
    // The prompts are checked (member first), then everything is put back.
    ~ProcessState() = default;

    // Texts the operator was shown while no other answerer was installed.
    const PromptAnswerer& prompts() const { return *m_prompts; }

private:
    std::optional<PromptAnswerer> m_prompts;
};
