#pragma once

#include <QDialog>
#include <QTime>
#include <QWidget>

class QPropertyAnimation;

// One vertical drum: the current value between two guide lines, its
// neighbours fading above and below. A drag turns it, a release snaps it.
class RollingBoxY : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int deviation READ readDeviation WRITE writeDeviation)
public:
    // type: 0 hours, 1 minutes, 2 seconds.
    RollingBoxY(int type, int min, int max, QWidget* parent = nullptr);

    int readDeviation() const { return deviation; }
    void writeDeviation(int d);

    int type = 0;
    int minValue = 0;
    int maxValue = 0;
    int currentValue = 0;
    bool dragging = false;
    int deviation = 0;
    int pressY = 0;
    QPropertyAnimation* homeAnimation = nullptr;

signals:
    void currentValueChanged(int value);
    void deviationChange(float deviation);
    void sendYear(int year);

public slots:
    int readValue() { return currentValue; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    void homeDrum();
    void paintItem(QPainter& painter, int value, int offset);

private:
    int stepB() const { return (height() - 1) / 4; }
};

// The pop-up with an hour, a minute and a second drum.
class _RollingTime : public QDialog {
    Q_OBJECT
public:
    explicit _RollingTime(QWidget* parent = nullptr);

    RollingBoxY* hourBox = nullptr;
    RollingBoxY* minuteBox = nullptr;
    RollingBoxY* secondBox = nullptr;

signals:
    void confirmOnClicked(QTime time);

public slots:
    void addDayTime();
};
