#pragma once

#include "mainwindowhooks.h"

#include <QTimer>

// Stands in for the main window where a test of a lower layer needs one: it
// registers itself as the core's window hooks for its lifetime and counts the
// repaint passes.
class FakeMainWindow : public MainWindowHooks {
public:
    FakeMainWindow()
    {
        m_logout.setSingleShot(true);
        m_backlight.setSingleShot(true);
        setMainWindowHooks(this);
    }
    ~FakeMainWindow() override { clearMainWindowHooks(this); }

    QTimer* logoutTimer() override { return &m_logout; }
    QTimer* backlightTimer() override { return &m_backlight; }
    bool isBacklightOff() const override { return backlightOff; }
    void setBacklightOff(bool off) override { backlightOff = off; }
    void repaintStatus() override { ++repaints; }

    bool backlightOff = false;
    int repaints = 0;

private:
    QTimer m_logout;
    QTimer m_backlight;
};
