#include "statisticswidget.h"

QPointer<StatisticsWidget> gpStatisticsWidget;

StatisticsWidget::StatisticsWidget(QWidget* parent)
    : QDialog(parent)
{
    resize(1800, 1000);
}

void StatisticsWidget::showToday()
{
    ++todayShown;
}
