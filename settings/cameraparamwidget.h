#pragma once

#include "tabparamwidget.h"

// The camera page. Until it is built it shows nothing and stores nothing; the
// dialog already listens to its request for the translucent look.
class CameraParamWidget : public TabParamWidget {
    Q_OBJECT
public:
    explicit CameraParamWidget(QWidget* owner);

    void loadParams() override {}
    void storeParams() override {}

signals:
    void showModeChange(int mode);
};
