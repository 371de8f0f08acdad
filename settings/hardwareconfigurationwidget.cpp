#include "hardwareconfigurationwidget.h"

HardwareConfigurationWidget::HardwareConfigurationWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("HardwareConfigurationWidget"));
}
