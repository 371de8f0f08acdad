#pragma once

#include <QWidget>

class IOStatusWidget_2;
class QPushButton;

// The bottom bar's panel with the date, the time and the cycle time. The
// repaint task repaints it every 100 ms; that is what makes the clock run.
class DottomDock_Describe_part1 : public QWidget {
    Q_OBJECT
public:
    explicit DottomDock_Describe_part1(QWidget* parent = nullptr);

    // "周期%1秒" with the cycle time (tenths of a second) in a field of 4.
    static QString cycleText(int tenths);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The bar along the bottom of the main screen: I/O lamps, clock panel and the
// re-sampling and start/stop buttons.
class DottomDockWidget : public QWidget {
    Q_OBJECT
public:
    explicit DottomDockWidget(QWidget* parent = nullptr);

    // Start/stop button text and look for the run state; re-polished only on a change.
    void setRunning(bool running);

    IOStatusWidget_2* lampStrip() const { return m_lamps; }
    DottomDock_Describe_part1* clockPanel() const { return m_clock; }
    QPushButton* startStopButton() const { return m_startStop; }
    QPushButton* reTrainButton() const { return m_repick; }

private:
    IOStatusWidget_2* m_lamps;
    DottomDock_Describe_part1* m_clock;
    QPushButton* m_repick;
    QPushButton* m_startStop;
};
