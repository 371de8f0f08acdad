#pragma once

#include "tabparamwidget.h"

class CheckBox;
class ComboBox;
class EditBox;

class InputOutputParamWidget : public TabParamWidget {
    Q_OBJECT
public:
    explicit InputOutputParamWidget(QWidget* owner);

    void loadParams() override;
    void storeParams() override;

    // 146, 144, 145, 192, 147, 148.
    EditBox* boxes[6] = {};
    // 153, 173, 108, 109, 110, 111, 112.
    ComboBox* combos[7] = {};
    // In page order: 128, 130, 151, 152, 156, 154, 155, 170, 164, 157, 158, 159, 160.
    CheckBox* checks[13] = {};
    ComboBox* machineType = nullptr;
    ComboBox* mouldSide = nullptr;
    ComboBox* port = nullptr;

public slots:
    void onSysFunChanged(int index);
};
