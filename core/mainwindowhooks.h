#pragma once

class QTimer;

// What the core's event hook, backlight switch and repaint task need of the
// main window. The window sits at the top of the program and registers itself
// when it is built; until then (and in programs without one) there is nothing
// to restart or repaint.
class MainWindowHooks {
public:
    virtual ~MainWindowHooks() = default;

    // The timers that every press restarts: automatic logout and screen off.
    virtual QTimer* logoutTimer() = 0;
    virtual QTimer* backlightTimer() = 0;

    // The window keeps whether the backlight is off (its own screens show it).
    virtual bool isBacklightOff() const = 0;
    virtual void setBacklightOff(bool off) = 0;

    // The 100 ms repaint pass: the bottom bar's status line and the title bars
    // of the visible camera tiles.
    virtual void repaintStatus() = 0;
};

MainWindowHooks* mainWindowHooks();
void setMainWindowHooks(MainWindowHooks* hooks);
// Clears the registration only if it is still this one's (a newer window may
// have taken over).
void clearMainWindowHooks(MainWindowHooks* hooks);
