#include "drawroiwidget.h"

DrawROIWidget::DrawROIWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("DrawROIWidget"));
}

void DrawROIWidget::EnterAreaMode(bool)
{
    ++enterCount;
}

void DrawROIWidget::LeaveAreaMode()
{
    hide();
}

void DrawROIWidget::SlotChangeSource(int value)
{
    source = value;
}

void DrawROIWidget::SlotChangeCamera(int value)
{
    camera = value;
}

void DrawROIWidget::SlotChangeDetect(int value)
{
    detect = value;
}

void DrawROIWidget::SlotTempList(int index)
{
    templateIndex = index;
}
