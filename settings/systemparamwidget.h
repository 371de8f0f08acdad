#pragma once

#include "tabparamwidget.h"

class CheckBox;
class ColorButton;
class ComboBox;
class EditBox;

class SystemParamWidget : public TabParamWidget {
    Q_OBJECT
public:
    explicit SystemParamWidget(QWidget* owner);

    void loadParams() override;
    void storeParams() override;

    EditBox* productDelay = nullptr;
    EditBox* cavityDelay = nullptr;
    EditBox* pulseDelay1 = nullptr;
    EditBox* pulseDelay2 = nullptr;
    EditBox* reCheck = nullptr;
    EditBox* filterSize = nullptr;
    EditBox* alarmArea = nullptr;
    CheckBox* productDetect = nullptr;
    CheckBox* semiAuto = nullptr;
    CheckBox* motionCorrect = nullptr;
    CheckBox* syncCavity = nullptr;
    CheckBox* passwordOn = nullptr;
    CheckBox* autoUpdate = nullptr;
    ComboBox* language = nullptr;
    ColorButton* resetCount = nullptr;
    ColorButton* powerOff = nullptr;

public slots:
    void onResetCountClicked();
    void onPowerOffClicked();

private:
    QWidget* m_owner;
};
