#include "rollingtime.h"

#include "systemclock.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

RollingBoxY::RollingBoxY(int drumType, int min, int max, QWidget* parent)
    : QWidget(parent)
    , type(drumType)
    , minValue(min)
    , maxValue(max)
{
    const QTime now = clockNow().time();
    currentValue = type == 0 ? now.hour() : type == 1 ? now.minute() : now.second();
    setStyleSheet(QStringLiteral("background-color: white;"));
    homeAnimation = new QPropertyAnimation(this, "deviation", this);
    homeAnimation->setDuration(300);
    homeAnimation->setEasingCurve(QEasingCurve::OutQuad);
}

void RollingBoxY::writeDeviation(int d)
{
    deviation = d;
    repaint();
}

void RollingBoxY::mousePressEvent(QMouseEvent* event)
{
    homeAnimation->stop();
    dragging = true;
    pressY = event->pos().y();
}

void RollingBoxY::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging) {
        return;
    }
    const int y = event->pos().y();
    if (currentValue == minValue && y >= pressY) {
        return;
    }
    if (currentValue == maxValue && y <= pressY) {
        return;
    }
    const int b = stepB();
    deviation = std::max(-b, std::min(b, y - pressY));
    const int fifth = (height() - 1) / 5;
    emit deviationChange(fifth ? float(deviation) / float(fifth) : 0.0f);
    update();
}

void RollingBoxY::mouseReleaseEvent(QMouseEvent*)
{
    if (dragging) {
        dragging = false;
        homeDrum();
    }
}

void RollingBoxY::wheelEvent(QWheelEvent* event)
{
    const int b = stepB();
    deviation = event->angleDelta().y() > 0 ? b : -b;
    homeDrum();
    update();
}

void RollingBoxY::homeDrum()
{
    const int h = height();
    const int e = h / 8;
    if (deviation > e) {
        homeAnimation->setStartValue((h - 1) / 8 - deviation);
        homeAnimation->setEndValue(0);
        currentValue -= 1;
    } else if (deviation >= -e) {
        // Exactly at the threshold upwards too: back to the middle, never left
        // standing off it.
        homeAnimation->setStartValue(deviation);
        homeAnimation->setEndValue(0);
    } else if (deviation < -e) {
        homeAnimation->setStartValue(-((h - 1) / 8) - deviation);
        homeAnimation->setEndValue(0);
        currentValue += 1;
    }
    if (currentValue < minValue) {
        currentValue += 1;
        deviation = 0;
        return;
    }
    if (currentValue > maxValue) {
        currentValue -= 1;
        deviation = 0;
        return;
    }
    emit currentValueChanged(currentValue);
    homeAnimation->start();
}

void RollingBoxY::paintEvent(QPaintEvent*)
{
    const int h = height();
    const int w = width();
    const int b = stepB();
    const int half = (h - 1) / 2;
    if (b > 0) {
        if (deviation >= b && currentValue > minValue) {
            pressY += b;
            deviation -= b;
            currentValue -= 1;
        }
        if (deviation <= -b && currentValue < maxValue) {
            pressY -= b;
            deviation += b;
            currentValue += 1;
        }
        if (deviation == b || deviation == -b) {
            deviation = 0;
        }
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintItem(painter, currentValue, deviation);
    if (currentValue != minValue) {
        paintItem(painter, currentValue - 1, deviation - b);
    }
    if (currentValue != maxValue) {
        paintItem(painter, currentValue + 1, deviation + b);
    }
    if (deviation >= 0 && currentValue - 2 >= minValue) {
        paintItem(painter, currentValue - 2, deviation - half);
    }
    if (deviation <= 0 && currentValue + 2 <= maxValue) {
        paintItem(painter, currentValue + 2, deviation + half);
    }
    painter.setPen(QPen(QColor(70, 144, 249), 2, Qt::SolidLine));
    const int eighth = (h - 1) / 8;
    painter.drawLine(0, 3 * eighth, w - 1, 3 * eighth);
    painter.drawLine(0, 5 * eighth, w - 1, 5 * eighth);
}

void RollingBoxY::paintItem(QPainter& painter, int value, int offset)
{
    const int h = height();
    if (h <= 1) {
        return;
    }
    const int half = (h - 1) / 2;
    const int a = std::abs(offset);
    const int alpha = std::max(0, 255 - a * 510 / (h - 1));
    painter.setPen(QColor(0, 0, 0, alpha));
    painter.setFont(QFont(QStringLiteral("SimHei"), 12));
    const int size = half - (a * 3) / 5;
    const int top = offset + half - size / 2;
    static const char* const units[3] = {"时", "分", "秒"};
    painter.drawText(QRect(0, top, width() - 1, size), Qt::AlignCenter,
                     QString::number(value) + QString::fromUtf8(units[std::max(0, std::min(2, type))]));
}

_RollingTime::_RollingTime(QWidget* parent)
    : QDialog(parent)
{
    hourBox = new RollingBoxY(0, 0, 23, this);
    minuteBox = new RollingBoxY(1, 0, 59, this);
    secondBox = new RollingBoxY(2, 0, 59, this);
    auto* drums = new QHBoxLayout;
    drums->setSpacing(0);
    for (RollingBoxY* drum : {hourBox, minuteBox, secondBox}) {
        drum->setFixedSize(50, 200);
        drums->addWidget(drum);
    }
    auto* bar = new QWidget(this);
    bar->setFixedSize(150, 60);
    auto* barLayout = new QHBoxLayout(bar);
    const QFont font(QStringLiteral("SimHei"), 12);
    auto* ok = new QPushButton(QStringLiteral("确定"), bar);
    ok->setFont(font);
    ok->setFixedHeight(30);
    ok->setStyleSheet(QStringLiteral("color:#2175D3;border: none;background-color: transparent;"));
    connect(ok, &QPushButton::clicked, this, &_RollingTime::addDayTime);
    auto* cancel = new QPushButton(QStringLiteral("取消"), bar);
    cancel->setFont(font);
    cancel->setFixedHeight(30);
    cancel->setStyleSheet(QStringLiteral("color:black;border: none;background-color: transparent;"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    barLayout->addStretch();
    barLayout->addWidget(ok);
    barLayout->addSpacing(15);
    barLayout->addWidget(cancel);
    barLayout->setContentsMargins(0, 0, 10, 0);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->addLayout(drums);
    layout->addWidget(bar);
    setObjectName(QStringLiteral("rollingbox"));
    setStyleSheet(QStringLiteral("QDialog#rollingbox{background-color: white;}"));
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
}

void _RollingTime::addDayTime()
{
    emit confirmOnClicked(QTime(hourBox->currentValue, minuteBox->currentValue, secondBox->currentValue));
    accept();
}
