#include "temperaturechartwidget.h"

QPointer<TemperatureChartWidget> gpTemperatureChartWidget;

TemperatureChartWidget::TemperatureChartWidget(QWidget* parent)
    : QDialog(parent)
{
    resize(1800, 1000);
}

void TemperatureChartWidget::showRealTime()
{
    ++realTimeShown;
}
