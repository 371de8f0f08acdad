#pragma once

#include <QWidget>

// The picture picker of the area panel: picture source, camera, detect and
// picture. This one only keeps the choice and tells it on.
class ImagePickForm : public QWidget {
    Q_OBJECT
public:
    explicit ImagePickForm(QWidget* parent = nullptr);

    void selectSource(int index);
    // An index outside the opened cameras is ignored.
    void selectCamera(int index);

    int source = 0;
    int camera = 0;

signals:
    void sourceChange(int index);
    void cameraChange(int index);
    void detectChange(int index);
    void imageChange(int index);
};
