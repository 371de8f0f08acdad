#include "iostatuswidget.h"

#include "captionfit.h"
#include "controlport.h"
#include "globals.h"
#include "systemparam.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>

QString ioChannelName(bool isInput, int index)
{
    if (index < 5) {
        return isInput ? gInputNames[index] : gOutputNames[index];
    }
    return QStringLiteral("%1-%2").arg(isInput ? QLatin1Char('I') : QLatin1Char('O')).arg(index + 1);
}

IOWidget_Item::IOWidget_Item(int index, bool isInput, IOStatusWidget_2* parent)
    : QPushButton(parent)
    , m_isInput(isInput)
    , m_index(index)
{
    // Names are taken once: renaming the signals shows at the next start.
    setText(ioChannelName(isInput, index));
    setFixedSize(60, 60);
    setStyleSheet(QStringLiteral("outline:0px;border:none;font-size:20px;color:white;background-color:transparent;"));
    // The lamp draws its name itself, small under the lamp.
    CaptionFit::exclude(this);
}

bool IOWidget_Item::setLit(bool lit)
{
    if (lit == m_lit) {
        return false;
    }
    m_lit = lit;
    update();
    return true;
}

void IOWidget_Item::paintEvent(QPaintEvent* event)
{
    ++m_paints;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = m_lit ? QColor(Qt::green) : QColor(Qt::red);
    painter.setPen(colour);
    painter.setBrush(colour);
    painter.drawEllipse(QRect(12, 0, 36, 36));
    QFont font(QStringLiteral("SimHei"));
    font.setPointSize(10);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 40, 60, 20), Qt::AlignCenter, text());
    painter.end();
    QWidget::paintEvent(event);
}

void IOWidget_Item::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
}

void IOWidget_Item::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
}

IOStatusWidget_2::IOStatusWidget_2(QWidget* parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("IOStatusWidget_2"));
    for (int i = 0; i < kIOChannels; ++i) {
        m_inputs << new IOWidget_Item(i, true, this);
        m_outputs << new IOWidget_Item(i, false, this);
    }
    // The lamps keep their size and places on a row of their own, and the
    // strip shows as much of that row as the dock leaves it: on a panel
    // narrower than lamps, clock and buttons together (1280 or 1024 px) the
    // strip gives way and the last lamps are cut at its right edge, where
    // squeezing the row itself would stack the fixed-size lamps over each
    // other. The dock asks for the whole row whenever it has the room.
    auto* strip = new QHBoxLayout(this);
    strip->setContentsMargins(0, 0, 0, 0);
    strip->setSpacing(0);
    auto* lamps = new QWidget(this);
    strip->addWidget(lamps, 0, Qt::AlignLeft);
    setMinimumWidth(1);
    auto* layout = new QHBoxLayout(lamps);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* inputRow = new QHBoxLayout;
    auto* outputRow = new QHBoxLayout;
    for (QHBoxLayout* row : {inputRow, outputRow}) {
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(3);
    }
    for (int i = 0; i < 10; ++i) {
        inputRow->addWidget(m_inputs[i]);
        outputRow->addWidget(m_outputs[i]);
    }
    layout->addLayout(inputRow);
    layout->addLayout(outputRow);

    // Outputs 5 to 9 are the NG area outputs, driven only with slot 152 set.
    const bool ngAreas = gpSystemParam && gpSystemParam->ejectorPulseOnNg() != 0;
    for (int i = 5; i < 10; ++i) {
        m_inputs[i]->hide();
        m_outputs[i]->setVisible(ngAreas);
    }
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &IOStatusWidget_2::poll);
    m_timer->start(1);
}

void IOStatusWidget_2::refresh()
{
    if (!gpControlPort) {
        return;
    }
    for (int i = 0; i < 10; ++i) {
        m_inputs[i]->setLit(gpControlPort->readIO(false, i));
        m_outputs[i]->setLit(gpControlPort->readIO(true, i));
    }
}

void IOStatusWidget_2::poll()
{
    refresh();
    m_timer->start(20);
}
