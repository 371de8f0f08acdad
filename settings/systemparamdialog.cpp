#include "systemparamdialog.h"

SystemParamDialog::SystemParamDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SystemParamDialog"));
    resize(1800, 1000);
}
