#include "imagepickform.h"

#include "cameraregistry.h"

ImagePickForm::ImagePickForm(QWidget* parent)
    : QWidget(parent)
{
}

void ImagePickForm::selectSource(int index)
{
    source = index;
    emit sourceChange(index);
}

void ImagePickForm::selectCamera(int index)
{
    if (index < 0 || index >= gCameraCount) {
        return;
    }
    camera = index;
    emit cameraChange(index);
}
