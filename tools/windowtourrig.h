// What the tours of the real main window share: a working folder on the
// factory parameters in the tour's language, the two simulated cameras on the
// demo's mould pictures with each camera's cavities as defect areas over the
// empty mould's template, the cavity's manual trigger waited on until both
// pictures are judged, shots of the screen as the operator sees it, and
// giving back what the program keeps for its whole life.
#pragma once

#include "processstate.h"
#include "promptanswerer.h"
#include "testworkdir.h"

#include <QString>

#include <functional>
#include <memory>

class VeZiRevoru;

namespace windowtour {

constexpr int kCavityDetect = 1;

// Names the program in failure lines ("<program>: ...").
void setProgram(const char* program);
void fail(const QString& text);
int failures();

// Runs the event loop until done() holds or ms pass; false on the timeout.
bool waitFor(const std::function<bool()>& done, int ms);

// One language's pass: a scratch working folder filled as a fresh
// installation in the current language, with the mould pictures and the
// cavity areas; the window as the program builds it, shown, its inspections
// counted and the program's repaint task running (the start-up question about
// the simulated cameras cancelled, as the demo does); at the end the window
// closed and what the program keeps for its whole life given back.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Null when the working folder could not be prepared (said by fail()).
    VeZiRevoru* window() const { return window_.get(); }

private:
    TestWorkDir dir_;
    ProcessState state_;
    PromptAnswerer answers_{ {0} };
    std::unique_ptr<VeZiRevoru> window_;
};

// The cavity's manual trigger, as the menu column's button gives it; true
// when both cameras' pictures were judged.
bool manualCavityTrigger(VeZiRevoru& w);

// The window and, over it, every other visible top-level window (the image
// browser, boxes), saved as name in the language's folder.
void shoot(VeZiRevoru& w, const QString& name);

// The tour's body once per language on a display of the asked size; the
// program's exit code.
int shootAll(int argc, char* argv[], const std::function<void()>& tour);

} // namespace windowtour
