#pragma once

#include <QWidget>

class CameraWgtBox;
class QTimer;

// The full-screen main window and controller of the inspection cycle.
// For now it builds only the frame that start-up, the event hook and the
// repaint task rely on: the tile box, the bottom bar's status line, the logout
// and screen-off timers, and the I/O board link.
class VeZiRevoru : public QWidget {
    Q_OBJECT
public:
    explicit VeZiRevoru(QWidget* parent = nullptr);

    CameraWgtBox* pCameraWgtBox = nullptr;
    QTimer* logoutTimer = nullptr;
    QTimer* backlightTimer = nullptr;
    // Not 0 while the backlight is off; written only by setBacklight.
    int backlightOff = 0;

public slots:
    // One pass of the main loop. For now it only commits the outputs and
    // stamps the I/O link's heartbeat, then re-arms itself.
    void Run();

private:
    QTimer* m_runTimer = nullptr;
};

extern VeZiRevoru* gpVeZiRevoru;
