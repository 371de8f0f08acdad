#include "cameraparamwidget.h"

CameraParamWidget::CameraParamWidget(QWidget* owner)
    : TabParamWidget(owner)
{
}
