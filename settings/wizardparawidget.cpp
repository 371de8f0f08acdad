#include "wizardparawidget.h"

WizardParaWidget::WizardParaWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("WizardParaWidget"));
}
