#pragma once

#include <QApplication>

// The process's application object. Its event hook treats every screen press
// as a sign that the operator is present.
class MApplication : public QApplication {
public:
    MApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

private:
    // Set when a press woke the dark screen: its release must not reach a widget either.
    bool m_swallowRelease = false;
};

extern MApplication* gpApplication;
// Milliseconds since the epoch of the last press log line; 0 until the first press.
extern qint64 gLastTouchLogMs;

// Makes the screens' font family "SimHei" resolve to an installed CJK font.
void installFontSubstitutes();
