#pragma once

#include "tabparamwidget.h"

#include <QDateTime>
#include <QDir>

class CheckBox;
class ColorButton;
class ComboBox;
class Edit;
class EditBox;
class MaintenanceActions;
class ParaGroupActions;
class QPushButton;
class SystemParamDialog;

class QLabel;

class AdvanceParamWidget : public TabParamWidget {
    Q_OBJECT
public:
    explicit AdvanceParamWidget(SystemParamDialog* dialog);

    void loadParams() override;
    void storeParams() override;

    // One rule per icon button: its picture, colours and font.
    static QString buttonStyleSheet();

    SystemParamDialog* dialog = nullptr;
    ComboBox* paraGroupList = nullptr;
    Edit* paraGroupName = nullptr;
    QDir paraGroupDir;
    // 174, 140, 185, 200, 138, 141, 135, 136, 137.
    EditBox* boxes[9] = {};
    Edit* newPasswordEdit = nullptr;
    Edit* confirmPasswordEdit = nullptr;
    // 188, 186, 161, 162, 163, the raw-frame flag, 175, 176, 172, 177, 187.
    CheckBox* checks[11] = {};
    QPushButton* versionButton = nullptr;

    // The work behind the service buttons and the parameter groups.
    MaintenanceActions* maintenance = nullptr;
    ParaGroupActions* groupActions = nullptr;
    // Over the held dialog while a group's copy runs.
    QLabel* groupBusyBox = nullptr;

public slots:
    void refreshParaGroupList();
    void onParaGroupChanged(int index);
    void SlotParaGroupBackup();
    void SlotParaGroupRestore();
    void SlotParaGroupDelete();
    void SlotExportData();
    void SlotUpdateApp();
    void SlotExit();
    void SlotModifyTime();
    void onTimeChosen(const QDateTime& time);
    void SlotCalibration();
    void ChangePwd();
    void SlotRestoreFactorySet();
    void SlotToVerion();
};
