#pragma once

#include <QWidget>

// The bottom bar's line with the date, the time and the cycle time.
class DottomDock_Describe_part1 : public QWidget {
    Q_OBJECT
public:
    explicit DottomDock_Describe_part1(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class QPushButton;

// The bottom dock of the main window: the status line and the two buttons the
// main window connects ("_btn_repick", "_btn_startstop").
class DottomDockWidget : public QWidget {
    Q_OBJECT
public:
    explicit DottomDockWidget(QWidget* parent = nullptr);

    void setRunning(bool running);

    DottomDock_Describe_part1* describe;
    QPushButton* repickButton;
    QPushButton* startStopButton;
};
