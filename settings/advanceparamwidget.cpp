#include "advanceparamwidget.h"

#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "edit.h"
#include "settingshost.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "texttable.h"

#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

struct IconButton {
    const char* objectName;
    int text;
    const char* icon;
};

const IconButton kIconButtons[] = {
    {"pCButtonBackup", 182, ":/Backup.png"},
    {"pCButtonRestore", 183, ":/Restore.png"},
    {"pCButtonDelete", 184, ":/Delete.png"},
    {"pCButtonExportData", 326, ":/Export.png"},
    {"pCButtonUpdateApp", 325, ":/Update.png"},
    {"pCButtonExit", 210, ":/Shutoff.png"},
    {"pBtnModifyTime", 401, ":/ModifyTime.png"},
    {"pBtnCalibrateTouch", 458, ":/Calibrate.png"},
    {"pCButtonResoryFactorySet", 551, ":/Reset.png"},
    {"pCButtonVersionLibrary", 615, ":/Version.png"},
};

const int kBoxSlots[9] = {174, 140, 185, 200, 138, 141, 135, 136, 137};
const int kBoxTexts[9] = {213, 188, 181, 403, 243, 189, 185, 186, 187};
const int kBoxRanges[9][2] = {{1, 8000}, {0, 4}, {1, 20}, {0, 180}, {30, 9999}, {0, 1000}, {1, 100}, {0, 500}, {0, 500}};
constexpr int kRawFrameFlag = -1;
const int kCheckSlots[11] = {188, 186, 161, 162, 163, kRawFrameFlag, 175, 176, 172, 177, 187};
const int kCheckTexts[11] = {254, 272, 194, 341, 556, 201, 457, 470, 554, 558, 579};

int boxIndex(int slot)
{
    for (int i = 0; i < 9; ++i) {
        if (kBoxSlots[i] == slot) {
            return i;
        }
    }
    return -1;
}

int checkIndex(int slot)
{
    for (int i = 0; i < 11; ++i) {
        if (kCheckSlots[i] == slot) {
            return i;
        }
    }
    return -1;
}

// The actions below belong to the parameter groups, the maintenance actions
// and the version library; until those are in, a press only says so.
void notYet(const char* action)
{
    qInfo() << "settings: action not available in this build:" << action;
}

} // namespace

AdvanceParamWidget::AdvanceParamWidget(SystemParamDialog* owner)
    : TabParamWidget(owner)
    , dialog(owner)
{
    paraGroupList = new ComboBox(this);
    paraGroupList->setFixedSize(150, 50);
    paraGroupList->setItemHeight(50);
    paraGroupName = new Edit(6, this);
    paraGroupName->setFont(QFont(QStringLiteral("SimHei"), 25));
    paraGroupName->setFixedSize(150, 50);
    connect(paraGroupList, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &AdvanceParamWidget::onParaGroupChanged);

    QMap<QString, ColorButton*> buttons;
    for (const IconButton& b : kIconButtons) {
        auto* button = new ColorButton(textOf(b.text), this);
        button->setObjectName(QString::fromLatin1(b.objectName));
        button->setFixedSize(150, 50);
        buttons.insert(button->objectName(), button);
    }
    // The kit's button carries its own sheet; the page's sheet gives these their icons.
    for (ColorButton* button : buttons) {
        button->setStyleSheet(QString());
    }
    auto connectButton = [&](const char* name, void (AdvanceParamWidget::*slot)()) {
        connect(buttons.value(QString::fromLatin1(name)), &QPushButton::clicked, this, slot);
    };
    connectButton("pCButtonBackup", &AdvanceParamWidget::SlotParaGroupBackup);
    connectButton("pCButtonRestore", &AdvanceParamWidget::SlotParaGroupRestore);
    connectButton("pCButtonDelete", &AdvanceParamWidget::SlotParaGroupDelete);
    connectButton("pCButtonExportData", &AdvanceParamWidget::SlotExportData);
    connectButton("pCButtonUpdateApp", &AdvanceParamWidget::SlotUpdateApp);
    connectButton("pCButtonExit", &AdvanceParamWidget::SlotExit);
    connectButton("pBtnModifyTime", &AdvanceParamWidget::SlotModifyTime);
    connectButton("pBtnCalibrateTouch", &AdvanceParamWidget::SlotCalibration);
    connectButton("pCButtonResoryFactorySet", &AdvanceParamWidget::SlotRestoreFactorySet);
    connectButton("pCButtonVersionLibrary", &AdvanceParamWidget::SlotToVerion);

    for (int i = 0; i < 9; ++i) {
        const bool seconds = kBoxSlots[i] == 138 || kBoxSlots[i] == 141;
        boxes[i] = new EditBox(kBoxRanges[i][0], kBoxRanges[i][1], this, textOf(kBoxTexts[i]),
                               seconds ? textOf(540) : QString());
    }
    // The screen may be kept on for good: 0 stays 0.
    boxes[boxIndex(138)]->setAllowZero(true);

    newPasswordEdit = new Edit(9, this);
    newPasswordEdit->setFixedSize(160, 50);
    confirmPasswordEdit = new Edit(9, this);
    confirmPasswordEdit->setFixedSize(160, 50);
    auto* changePassword = new ColorButton(textOf(171), this);
    changePassword->setFixedSize(150, 50);
    connect(changePassword, &QPushButton::clicked, this, &AdvanceParamWidget::ChangePwd);

    for (int i = 0; i < 11; ++i) {
        checks[i] = new CheckBox(this, textOf(kCheckTexts[i]));
    }

    auto* page = new QVBoxLayout(this);
    auto grid = [&](const QList<QWidget*>& widgets, int columns) {
        auto* g = new QGridLayout;
        for (int i = 0; i < widgets.size(); ++i) {
            g->addWidget(widgets[i], i / columns, i % columns);
        }
        for (int c = 0; c < columns; ++c) {
            g->setColumnStretch(c, 1);
        }
        page->addLayout(g);
    };
    page->addWidget(sectionHeading(QStringLiteral("参数组"), this));
    auto* groups = new QHBoxLayout;
    groups->addWidget(paraGroupName);
    groups->addWidget(paraGroupList);
    for (const char* name : {"pCButtonBackup", "pCButtonRestore", "pCButtonDelete"}) {
        groups->addWidget(buttons.value(QString::fromLatin1(name)));
    }
    groups->addSpacing(40);
    for (const char* name : {"pCButtonExportData", "pCButtonUpdateApp", "pCButtonExit", "pBtnModifyTime",
                             "pBtnCalibrateTouch"}) {
        groups->addWidget(buttons.value(QString::fromLatin1(name)));
    }
    groups->addStretch();
    page->addLayout(groups);
    page->addWidget(sectionHeading(QStringLiteral("参数编辑"), this));
    grid({boxes[0], boxes[1], boxes[2], boxes[3], boxes[4], boxes[5], boxes[6], boxes[7], boxes[8]}, 2);

    auto* passwordManager = new QWidget(this);
    passwordManager->setObjectName(QStringLiteral("passwordManager"));
    passwordManager->setStyleSheet(QStringLiteral("QWidget#passwordManager{border: 1px solid #707070}"));
    auto* pw = new QHBoxLayout(passwordManager);
    pw->addWidget(new QLabel(QStringLiteral("新密码"), passwordManager));
    pw->addWidget(newPasswordEdit);
    pw->addSpacing(40);
    pw->addWidget(new QLabel(QStringLiteral("确认密码"), passwordManager));
    pw->addWidget(confirmPasswordEdit);
    pw->addSpacing(40);
    pw->addWidget(changePassword);
    pw->addStretch();
    page->addWidget(passwordManager);

    page->addWidget(sectionHeading(QStringLiteral("参数开关"), this));
    grid({checks[0], checks[1], checks[2], checks[3], checks[4], checks[5], checks[6], checks[7], checks[8],
          checks[9], checks[10]},
         4);
    auto* last = new QHBoxLayout;
    last->addWidget(buttons.value(QStringLiteral("pCButtonResoryFactorySet")));
    last->addWidget(buttons.value(QStringLiteral("pCButtonVersionLibrary")));
    last->addStretch();
    page->addLayout(last);
    page->addStretch();

    setCommonStyleSheet(this, buttonStyleSheet());
}

QString AdvanceParamWidget::buttonStyleSheet()
{
    QString sheet;
    for (const IconButton& b : kIconButtons) {
        sheet += QStringLiteral("QPushButton#%1{background-image: url(%2);background-repeat: no-repeat;"
                                "background-origin: content;background-position: left;background-color: #2687F2;"
                                "font-size: 24px;text-align: bottom;color: #FFFFFF;font-weight: 400;"
                                "padding-left: 20px;padding-right: 5px}")
                     .arg(QString::fromLatin1(b.objectName), QString::fromLatin1(b.icon));
    }
    return sheet;
}

void AdvanceParamWidget::loadParams()
{
    const SystemParam& p = *gpSystemParamEdit;
    for (int slot : {174, 135, 136, 137, 138, 140, 141, 185, 200}) {
        boxes[boxIndex(slot)]->setValue(p[slot]);
    }
    for (int slot : {188, 186, 187, kRawFrameFlag, 161, 162, 163, 172, 175, 176, 177}) {
        const bool on = slot == kRawFrameFlag ? settingsHost()->saveOriginalImages() : p[slot] != 0;
        checks[checkIndex(slot)]->setChecked(on);
    }
    paraGroupDir = QDir(QStringLiteral("./paraGroup"));
    if (!paraGroupDir.exists()) {
        QDir().mkpath(paraGroupDir.path());
    }
    refreshParaGroupList();
}

void AdvanceParamWidget::storeParams()
{
    SystemParam& p = *gpSystemParamEdit;
    for (int slot : {174, 135, 136, 137, 138, 140, 141, 185, 200}) {
        p[slot] = boxes[boxIndex(slot)]->value();
    }
    for (int slot : {188, 186, 187, kRawFrameFlag, 161, 162, 163, 172, 175, 176, 177}) {
        const bool on = checks[checkIndex(slot)]->isChecked();
        if (slot == kRawFrameFlag) {
            // Not part of the record: it takes effect at once, whatever the apply decides.
            settingsHost()->setSaveOriginalImages(on);
        } else {
            p[slot] = on ? 1 : 0;
        }
    }
}

void AdvanceParamWidget::refreshParaGroupList()
{
    notYet("refreshParaGroupList");
}

void AdvanceParamWidget::onParaGroupChanged(int)
{
}

void AdvanceParamWidget::SlotParaGroupBackup() { notYet("SlotParaGroupBackup"); }
void AdvanceParamWidget::SlotParaGroupRestore() { notYet("SlotParaGroupRestore"); }
void AdvanceParamWidget::SlotParaGroupDelete() { notYet("SlotParaGroupDelete"); }
void AdvanceParamWidget::SlotExportData() { notYet("SlotExportData"); }
void AdvanceParamWidget::SlotUpdateApp() { notYet("SlotUpdateApp"); }
void AdvanceParamWidget::SlotExit() { notYet("SlotExit"); }
void AdvanceParamWidget::SlotModifyTime() { notYet("SlotModifyTime"); }
void AdvanceParamWidget::onTimeChosen(const QDateTime&) { notYet("onTimeChosen"); }
void AdvanceParamWidget::SlotCalibration() { notYet("SlotCalibration"); }
void AdvanceParamWidget::ChangePwd() { notYet("ChangePwd"); }
void AdvanceParamWidget::SlotRestoreFactorySet() { notYet("SlotRestoreFactorySet"); }
void AdvanceParamWidget::SlotToVerion() { notYet("SlotToVerion"); }
