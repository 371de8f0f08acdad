#include "systemparamdialog.h"

#include "advanceparamwidget.h"
#include "cameraparamwidget.h"
#include "cameraregistry.h"
#include "datetimewidget.h"
#include "edit.h"
#include "globals.h"
#include "inputoutputparamwidget.h"
#include "kithost.h"
#include "numberkeypad.h"
#include "operatorprompt.h"
#include "paramchangelog.h"
#include "paramstorage.h"
#include "platformhelpers.h"
#include "recordwidget.h"
#include "rollingtime.h"
#include "settingshost.h"
#include "systemcommands.h"
#include "systemparam.h"
#include "systemparamwidget.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

QLabel* sectionHeading(const QString& title, QWidget* parent)
{
    auto* label = new QLabel(QStringLiteral("· ") + title, parent);
    label->setFixedHeight(50);
    label->setStyleSheet(QStringLiteral("color: #2687F2"));
    return label;
}

SystemParamDialog::SystemParamDialog(QWidget* parent)
    : CComp_DialogFrame(QCoreApplication::translate("SystemParamDialog", "参数设置"), parent)
{
    setFixedSize(1800, 950);

    labVersion = new QLabel(titleBar);
    labVersion->setObjectName(QStringLiteral("labVersion"));
    labVersion->setFixedHeight(60);
    labVersion->setText(QStringLiteral("17.4.0.18"));
    if (auto* ok = findChild<QPushButton*>(QStringLiteral("okBtn"))) {
        titleLayout->removeWidget(ok);
        titleLayout->addWidget(labVersion);
        titleLayout->addStretch();
        titleLayout->addWidget(ok);
    }

    tabWidget = new QTabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    tabWidget->setMinimumWidth(width() - 20);
    auto* content = new QHBoxLayout;
    content->setContentsMargins(8, 0, 8, 0);
    content->addWidget(tabWidget);
    contentWidget->setLayout(content);

    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    connect(tabWidget, &QTabWidget::currentChanged, this, &SystemParamDialog::currentTabChanged);
    // The main window fills the screen: centring on it is centring on the screen.
    setGeometry(gScreenWidth / 2 - width() / 2, gScreenHeight / 2 - height() / 2, width(), height());

    createTabs();
    setCommonStyleSheet(this, QString());
    setCommonStyleSheet(tabWidget, QString());
    connect(cameraWgt, &CameraParamWidget::showModeChange, this, &SystemParamDialog::showModeChange);
    setObjectName(QStringLiteral("systemParamDialog"));
}

SystemParamDialog::~SystemParamDialog()
{
    qInfo() << "Close System Param Setting Widget";
}

void SystemParamDialog::createTabs()
{
    systemWgt = new SystemParamWidget(this);
    systemWgt->setObjectName(QStringLiteral("systemWgt"));
    tabWidget->addTab(systemWgt, QStringLiteral("系统参数"));
    cameraWgt = new CameraParamWidget(this);
    tabWidget->addTab(cameraWgt, QStringLiteral("相机参数"));
    ioWgt = new InputOutputParamWidget(this);
    tabWidget->addTab(ioWgt, QStringLiteral("输入输出"));
    advanceWgt = new AdvanceParamWidget(this);
    tabWidget->addTab(advanceWgt, QStringLiteral("高级参数"));
    recordWgt = new RecordWidget(this);
    tabWidget->addTab(recordWgt, QCoreApplication::translate("SystemParamDialog", "操作记录"));

    tabWidget->tabBar()->setUsesScrollButtons(false);
    tabWidget->setTabsClosable(false);
    tabWidget->setMovable(false);
    for (int i = 0; i < tabWidget->count(); ++i) {
        static_cast<TabParamWidget*>(tabWidget->widget(i))->loadParams();
    }
    if (m_chosenLanguage < 0) {
        m_chosenLanguage = gLanguage;
    }
}

void SystemParamDialog::saveAllTabs()
{
    for (int i = 0; i < tabWidget->count(); ++i) {
        static_cast<TabParamWidget*>(tabWidget->widget(i))->storeParams();
    }
}

void SystemParamDialog::closeKeyboards()
{
    if (gpNumKeyPad) {
        qInfo() << "gpNumKeyPad is close";
        gpNumKeyPad->close();
        gpNumKeyPad = nullptr;
    }
    KitHost* kit = kitHost();
    if (Edit* served = kit->servedEdit()) {
        if (served->hasFocus()) {
            served->clearFocus();
            kit->setServedEdit(nullptr);
        }
    }
}

void SystemParamDialog::acceptDialog()
{
    saveAllTabs();
    applyParamChanges();
    closeKeyboards();
    QDialog::accept();
}

void SystemParamDialog::currentTabChanged(int)
{
}

void SystemParamDialog::showModeChange(int mode)
{
    m_mode = mode;
    if (mode != 0) {
        setTransparentTitleStyle(this, tabWidget);
    } else {
        setAttribute(Qt::WA_TranslucentBackground, false);
        setCommonStyleSheet(this, QString());
        setCommonStyleSheet(tabWidget, QString());
    }
}

bool SystemParamDialog::event(QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress) {
        closeKeyboards();
        if (gpRollingTime) {
            gpRollingTime->close();
            gpRollingTime = nullptr;
        }
    }
    return QWidget::event(e);
}

void SystemParamDialog::showEvent(QShowEvent* e)
{
    CComp_DialogFrame::showEvent(e);
}

void SystemParamDialog::powerOffDialog()
{
    if (askOperator(textOf(291)) != 1) {
        return;
    }
    acceptDialog();
    SettingsHost* host = settingsHost();
    if (!saveSysParamWithLanguage(gpSystemParam, m_chosenLanguage)) {
        warnOperator(textOf(kTextSaveFailed));
        host->insertRecord(textOf(kTextSaveFailed));
    }
    host->insertRecord(textOf(292));
    waitBeforeQuit();
    host->flushAll();
    const bool reboot = askOperator(textOf(293)) == 1;
    const SystemCommands::Result result =
        systemCommands().perform(reboot ? SystemOperation::reboot() : SystemOperation::powerOff());
    if (!result.ok()) {
        qWarning() << "settings:" << (reboot ? "reboot" : "power-off") << "did not run:" << result.refusal
                   << result.output;
    }
    // The databases are closed: running on would lose log rows and settings.
    // The program ends with its outputs at rest, whether or not the operating
    // system takes the computer down.
    quitProgram(0);
}

void SystemParamDialog::applyParamChanges()
{
    SystemParam& edit = *gpSystemParamEdit;
    SystemParam& live = *gpSystemParam;
    SettingsHost* host = settingsHost();
    const int cameras = qBound(0, gCameraCount, 8);

    auto changed = [&](int slot) { return edit[slot] != live[slot]; };
    // What the camera page may have pushed into the cameras while editing goes
    // back to the live values, so no camera runs at a setting no record holds.
    auto pushLiveBack = [&]() {
        for (int c = 0; c < cameras; ++c) {
            if (changed(c) || changed(193)) {
                host->pushLiveCameraSetting(c, SettingsHost::Exposure);
            }
            if (changed(8 + c)) {
                host->pushLiveCameraSetting(c, SettingsHost::Gain);
            }
            if (changed(16 + c)) {
                host->pushLiveCameraSetting(c, SettingsHost::Sharpness);
            }
            if (changed(24 + c)) {
                host->pushLiveCameraSetting(c, SettingsHost::Contrast);
            }
            if (changed(32 + c)) {
                host->pushLiveCameraSetting(c, SettingsHost::Gamma);
            }
            if (changed(194)) {
                host->pushLiveCameraSetting(c, SettingsHost::AutoWDR);
            }
            if (changed(40 + c) || changed(48 + c)) {
                host->pushLiveCameraSetting(c, SettingsHost::Mirror);
            }
        }
    };

    if (!anyDetectAlgorithmOn(edit)) {
        warnOperator(textOf(232));
        pushLiveBack();
        return;
    }

    const SystemParam before = live;
    const bool languageChanged = m_chosenLanguage != gLanguage;
    if (edit != live || languageChanged) {
        if (askOperator(textOf(234)) != 1) {
            pushLiveBack();
            edit = live;
            m_chosenLanguage = gLanguage;
        } else {
            QString sentence = paramChangeSentence(edit, live);
            host->setCurSide(deriveMachineSlots(&edit, host->curSide()));
            live = edit;
            if (saveSysParamWithLanguage(&live, m_chosenLanguage)) {
                host->insertRecord(sentence);
            } else {
                // The running system keeps the change; the log and the operator
                // learn that it is not on the disk.
                host->insertRecord(sentence + textOf(kTextSaveFailed));
                warnOperator(textOf(kTextSaveFailed));
            }

            auto was = [&](int slot) { return before[slot] != live[slot]; };
            auto activeDetects = [&]() {
                QList<int> detects;
                for (int k = 0; k < qBound(0, gDetectCount, 4); ++k) {
                    if (live[119 + k] != 0) {
                        detects << k;
                    }
                }
                return detects;
            };
            if (was(306)) {
                for (int c = 0; c < cameras; ++c) {
                    host->setTriggerMode(c, 0);
                }
            }
            if (was(139)) {
                host->restartCameras();
            }
            const bool locateChange = was(129) || was(200);
            const bool relocate = locateChange || was(191) || was(174);
            if (relocate) {
                for (int c = 0; c < cameras; ++c) {
                    for (int k : activeDetects()) {
                        host->trainLocate(c, k);
                        host->trainAlign(c, k);
                    }
                }
            }
            if (was(133) || was(127) || was(191)) {
                const int type = live[189];
                const bool copy = live[127] != 0 && (type == 1 || type == 2 || (type == 0 && live[133] != 0));
                for (int c = 0; c < cameras; ++c) {
                    if (copy) {
                        host->copyParaAndSave(c);
                    }
                    for (int k : activeDetects()) {
                        if (!(locateChange || was(174))) {
                            host->trainLocate(c, k);
                        }
                        host->trainModels(c, k);
                    }
                }
            } else if (was(140)) {
                for (int c = 0; c < cameras; ++c) {
                    for (int k : activeDetects()) {
                        host->trainModels(c, k);
                    }
                }
            }

            if (was(135) || was(136) || was(137)) {
                warnOperator(textOf(276));
            }
            if (was(181) || was(182) || was(183) || was(184)) {
                warnOperator(textOf(309));
            }
            if (live[190] != before[189] || languageChanged) {
                warnOperator(textOf(277));
            }
        }
    }
    for (int c = 0; c < cameras; ++c) {
        host->repaintStation(c);
    }
}
