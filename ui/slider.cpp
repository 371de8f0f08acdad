#include "slider.h"

#include "captionfit.h"
#include "colorbutton.h"
#include "edit.h"
#include "globals.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <climits>

namespace {

// A table entry that is missing draws nothing.
void drawEntry(QPainter& painter, const QRect& r, int entry)
{
    if (entry >= 0 && entry < PixmapTableSize && gPixmapTable[entry] && !gPixmapTable[entry]->isNull()) {
        painter.drawPixmap(r, *gPixmapTable[entry]);
    }
}

} // namespace

Slider::Slider(int min, int max, int step, int value, QWidget* parent, QString name)
    : QAbstractSlider(parent)
{
    setOrientation(Qt::Horizontal);
    setObjectName(name);
    setMinimum(min);
    setMaximum(max);
    setPageStep(step);
    setValue(value);

    plusButton = new ColorButton(tr("+ 1"), this, 0);
    plusButton->setFixedSize(70, 41);
    connect(plusButton, &QPushButton::clicked, this, &Slider::Add);
    setButtonAutoRepeat(plusButton);
    minusButton = new ColorButton(tr("- 1"), this, 0);
    minusButton->setFixedSize(70, 41);
    connect(minusButton, &QPushButton::clicked, this, &Slider::Sub);
    setButtonAutoRepeat(minusButton);
    valueEdit = new Edit(9, this, 1);
    valueEdit->setGeometry(0, 0, 0, 60);
    connect(valueEdit, &QLineEdit::textChanged, this, &Slider::SetText);
}

void Slider::setParam(int min, int max, int step, int value, QString name)
{
    setObjectName(name);
    setMinimum(min);
    setMaximum(max);
    setPageStep(step);
    setValue(value);
    dragPos[0] = dragPos[1] = -1;
    update();
}

void Slider::Add()
{
    setValue(value() + 1);
}

void Slider::Sub()
{
    setValue(value() - 1);
}

void Slider::SetText(QString text)
{
    // The pad empties the field before the first digit: that empty text, or
    // any text that is not a number, leaves the value as it is.
    bool ok = false;
    const uint n = text.toUInt(&ok);
    if (!ok) {
        return;
    }
    setValue(n > uint(INT_MAX) ? INT_MAX : int(n));
}

void Slider::resizeEvent(QResizeEvent* event)
{
    trackWidth = width() - 370;
    trackMargin = int(trackWidth * 0.03);
    barRange = int(trackWidth * 0.95);
    const int y = (height() - 28) / 2 - 6;
    plusButton->move(width() - 70, y);
    minusButton->move(220, y);
    QAbstractSlider::resizeEvent(event);
}

void Slider::drawName(QPainter& painter, const QRect& place, const QFont& font) const
{
    // The name's 120 px hold four Chinese characters; a longer name in
    // another language ("Sensitivity") is drawn smaller, and on two lines
    // when even the kit's smallest caption size is too wide.
    const QString name = objectName();
    QFont f = font;
    int flags = Qt::AlignLeft | Qt::AlignVCenter;
    if (QFontMetrics(f, this).horizontalAdvance(name) > place.width()) {
        int px = QFontInfo(f).pixelSize();
        for (; px > CaptionFit::MinPixelSize; --px) {
            f.setPixelSize(px);
            if (QFontMetrics(f, this).horizontalAdvance(name) <= place.width()) {
                break;
            }
        }
        f.setPixelSize(px);
        if (QFontMetrics(f, this).horizontalAdvance(name) > place.width()) {
            flags |= Qt::TextWordWrap;
        }
    }
    painter.setFont(f);
    painter.drawText(place, flags, name);
}

int Slider::fillWidth() const
{
    const int span = maximum() - minimum();
    if (span == 0) {
        // A range of one value has no fraction to show.
        return 0;
    }
    return int(float(barRange) * float(value() - minimum()) / float(span));
}

void Slider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int h = height();
    // The slider lies over the camera's picture: green on bright metal is not
    // read, so its name and value get a dark backing.
    painter.fillRect(QRect(0, 0, 220, h), QColor(0, 0, 0, 170));
    painter.setPen(QColor(Qt::green));
    const QFont font(QStringLiteral("SimHei"), 20);
    drawName(painter, QRect(0, 0, 120, h), font);
    painter.setFont(font);
    drawEntry(painter, QRect(135, 3, 80, h - 6), 3);
    painter.drawText(QRect(135, 3, 80, h - 6), Qt::AlignCenter, QString::number(value()));
    drawEntry(painter, QRect(295, 3, trackWidth, h - 6), 5);
    const int w = fillWidth();
    drawEntry(painter, QRect(295 + trackMargin, 11, w, h - 22), 4);
    handleRect[0] = 295 + trackMargin + w;
    handleRect[1] = 3;
    handleRect[2] = 10;
    handleRect[3] = h - 6;
    drawEntry(painter, QRect(handleRect[0], handleRect[1], handleRect[2], handleRect[3]), 6);
}

void Slider::mousePressEvent(QMouseEvent* event)
{
    const int x = event->pos().x();
    if (x >= handleRect[0] - 20 && x < handleRect[0] + 10 + 20) {
        dragPos[0] = x;
        dragPos[1] = event->pos().y();
    } else {
        dragPos[0] = dragPos[1] = -1;
    }
}

void Slider::mouseMoveEvent(QMouseEvent* event)
{
    if (dragPos[0] <= 0 || barRange == 0) {
        return;
    }
    const int delta = int(float(event->pos().x() - dragPos[0]) / float(barRange) * float(maximum() - minimum()));
    if (delta != 0) {
        setValue(value() + delta);
        dragPos[0] = event->pos().x();
        dragPos[1] = event->pos().y();
        update();
    }
}

void Slider::mouseReleaseEvent(QMouseEvent* event)
{
    dragPos[0] = dragPos[1] = -1;
    const int x = event->pos().x();
    if (x >= 135 && x < 215) {
        QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
        QApplication::sendEvent(valueEdit, &focusIn);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(valueEdit, &release);
    }
    update();
}
