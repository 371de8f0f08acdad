#include "advanceparamwidget.h"

#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "edit.h"
#include "cameraregistry.h"
#include "maintenanceactions.h"
#include "numberkeypad.h"
#include "paragroupactions.h"
#include "paramstorage.h"
#include "settingshost.h"
#include "versiondownloaddialog.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSignalBlocker>
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
    // Every caller passes a slot of the table above.
    Q_UNREACHABLE();
}

constexpr int kGroupBusyText = 675;  // "正在复制参数组，请稍候…"

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
    versionButton = buttons.value(QStringLiteral("pCButtonVersionLibrary"));

    MaintenanceHooks hooks;
    hooks.insertRecord = [](const QString& text) { settingsHost()->insertRecord(text); };
    hooks.closeCameras = [] { settingsHost()->closeCameras(); };
    hooks.flushAll = [] { settingsHost()->flushAll(); };
    hooks.applyPages = [this] {
        if (dialog) {
            dialog->saveAllTabs();
            dialog->applyParamChanges();
        }
    };
    maintenance = new MaintenanceActions(defaultMaintenanceFolders(), hooks, this);
    ModbusDataChange::Host groupHost;
    groupHost.insertRecord = hooks.insertRecord;
    groupHost.saveParaGroupIndex = [](SystemParam* record) { return saveParaGroupIndex(record); };
    groupHost.closeDatabases = hooks.flushAll;
    groupHost.quitEventLoop = [] { QCoreApplication::quit(); };
    groupHost.cameraCount = gCameraCount;
    groupHost.detectCount = gDetectCount;
    groupActions = new ParaGroupActions(groupHost, hooks.applyPages,
                                        [](int index) { settingsHost()->publishGroupIndex(index); }, this);
    // While a copy runs on its worker the page takes no second command.
    connect(maintenance, &MaintenanceActions::busyChanged, this, [this](bool busy) { setEnabled(!busy); });
    // A group's copy holds the whole dialog: its OK (or the power-off) would
    // apply and write PARAM.db while the backup copies it, or close the
    // dialog under a running restore.
    // The operator sees why nothing answers: a box over the dialog until the
    // copy has ended (its colours are its own, not the held dialog's grey).
    groupBusyBox = new QLabel(textOf(kGroupBusyText), this);
    groupBusyBox->setObjectName(QStringLiteral("groupBusyBox"));
    groupBusyBox->setAlignment(Qt::AlignCenter);
    groupBusyBox->setStyleSheet(QStringLiteral("QLabel{color:white;background:rgba(30,30,30,220);"
                                               "border:2px solid white;border-radius:8px;font-size:28px;padding:24px;}"));
    groupBusyBox->hide();
    connect(groupActions, &ParaGroupActions::busyChanged, this, [this](bool busy) {
        window()->setEnabled(!busy);
        if (busy) {
            QWidget* over = window();
            groupBusyBox->setParent(over);
            groupBusyBox->adjustSize();
            groupBusyBox->move((over->width() - groupBusyBox->width()) / 2, (over->height() - groupBusyBox->height()) / 2);
            groupBusyBox->show();
            groupBusyBox->raise();
            groupBusyBox->repaint();
        } else {
            groupBusyBox->hide();
        }
    });

    for (int i = 0; i < 9; ++i) {
        const bool seconds = kBoxSlots[i] == 138 || kBoxSlots[i] == 141;
        boxes[i] = new EditBox(kBoxRanges[i][0], kBoxRanges[i][1], this, textOf(kBoxTexts[i]),
                               seconds ? textOf(540) : QString());
    }
    // The screen may be kept on for good: 0 stays 0.
    boxes[boxIndex(138)]->setAllowZero(true);

    newPasswordEdit = new Edit(9, this);
    newPasswordEdit->setFixedSize(160, 50);
    newPasswordEdit->setMaxLength(MaintenanceActions::MaxPasswordLength);
    confirmPasswordEdit = new Edit(9, this);
    confirmPasswordEdit->setFixedSize(160, 50);
    confirmPasswordEdit->setMaxLength(MaintenanceActions::MaxPasswordLength);
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
                                "background-origin: content;background-position: left;background-color: #2175D3;"
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
    const QSignalBlocker blocker(paraGroupList);
    paraGroupList->clear();
    const QStringList names = groupActions->groups();
    for (int i = 0; i < names.size(); ++i) {
        paraGroupList->addItem(names.at(i), i);
    }
    // The list opens on the group in use, so a tap on restore does not
    // restore another one.
    if (!names.isEmpty()) {
        paraGroupList->setCurrentIndex(groupActions->openingIndex());
    }
}

void AdvanceParamWidget::onParaGroupChanged(int)
{
    paraGroupName->setText(paraGroupList->currentText());
}

void AdvanceParamWidget::SlotParaGroupBackup()
{
    const QString name = paraGroupName->text();
    if (gpNumCharInput) {
        gpNumCharInput->HideUpdate();
    }
    const int index = groupActions->backup(name);
    if (index >= 0) {
        refreshParaGroupList();
        const QSignalBlocker blocker(paraGroupList);
        paraGroupList->setCurrentIndex(index);
    }
}

void AdvanceParamWidget::SlotParaGroupRestore()
{
    groupActions->restore(paraGroupList->currentIndex(), paraGroupList->currentText());
}

void AdvanceParamWidget::SlotParaGroupDelete()
{
    const int index = paraGroupList->currentIndex();
    if (!groupActions->remove(index, paraGroupList->currentText())) {
        return;
    }
    refreshParaGroupList();
    // The list shows the group that followed the deleted one (the one before
    // it when it was the last), and its name goes into the name field.
    if (paraGroupList->count() > 0) {
        paraGroupList->setCurrentIndex(-1);
        paraGroupList->setCurrentIndex(qMin(index, paraGroupList->count() - 1));
    }
}

void AdvanceParamWidget::SlotExportData()
{
    maintenance->exportData();
}

void AdvanceParamWidget::SlotUpdateApp()
{
    maintenance->updateApp();
}

void AdvanceParamWidget::SlotExit()
{
    maintenance->exitSystem();
}

void AdvanceParamWidget::SlotModifyTime()
{
    maintenance->openClockDialog(nullptr);
}

void AdvanceParamWidget::onTimeChosen(const QDateTime& time)
{
    maintenance->timeChosen(time);
}

void AdvanceParamWidget::SlotCalibration()
{
    maintenance->calibrate();
}

void AdvanceParamWidget::ChangePwd()
{
    if (maintenance->changePassword(newPasswordEdit->text(), confirmPasswordEdit->text())) {
        newPasswordEdit->clear();
        confirmPasswordEdit->clear();
    }
}

void AdvanceParamWidget::SlotRestoreFactorySet()
{
    maintenance->restoreFactorySet();
}

void AdvanceParamWidget::SlotToVerion()
{
    openVersionLibrary(this, versionButton);
}
