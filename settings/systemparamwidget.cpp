#include "systemparamwidget.h"

#include "colorbutton.h"
#include "edit.h"
#include "operatorprompt.h"
#include "paramchangelog.h"
#include "productioncounters.h"
#include "settingshost.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

EditBox* tenthsBox(const QString& caption, QWidget* parent)
{
    return new EditBox(0, 10000, parent, caption, QCoreApplication::translate("SystemParamWidget", "秒"), 2, 10);
}

} // namespace

SystemParamWidget::SystemParamWidget(QWidget* owner)
    : TabParamWidget(owner)
    , m_owner(owner)
{
    setFont(QFont(QStringLiteral("SimHei"), 17));
    // Every caption here is a fixed Chinese text: the page reads the same in
    // every language.
    productDelay = tenthsBox(QCoreApplication::translate("SystemParamWidget", "成品延時"), this);
    cavityDelay = tenthsBox(QCoreApplication::translate("SystemParamWidget", "模腔延时"), this);
    pulseDelay1 = tenthsBox(QCoreApplication::translate("SystemParamWidget", "一次延时"), this);
    pulseDelay2 = tenthsBox(QCoreApplication::translate("SystemParamWidget", "二次延时"), this);
    reCheck = new EditBox(0, 10, this, QCoreApplication::translate("SystemParamWidget", "模腔重檢"));
    filterSize = new EditBox(1, 10, this, QCoreApplication::translate("SystemParamWidget", "过滤尺寸"));
    alarmArea = new EditBox(0, 1000, this, QCoreApplication::translate("SystemParamWidget", "报警面积"));
    productDetect = new CheckBox(this, QCoreApplication::translate("SystemParamWidget", "启用成品检测"));
    semiAuto = new CheckBox(this, QCoreApplication::translate("SystemParamWidget", "半自動"));
    motionCorrect = new CheckBox(this, QCoreApplication::translate("SystemParamWidget", "运动矫正"));
    syncCavity = new CheckBox(this, QCoreApplication::translate("SystemParamWidget", "模腔参数同步成品参数"));
    passwordOn = new CheckBox(this, QCoreApplication::translate("SystemParamWidget", "启用密码保护"));
    autoUpdate = new CheckBox(this, QCoreApplication::translate("SystemParamWidget", "模板自动更新"));
    language = new ComboBox(this);
    language->addItems({QStringLiteral("简体中文"), QStringLiteral("English"), QStringLiteral("繁體中文"),
                        QStringLiteral("日文")});
    language->setFixedSize(200, 50);
    resetCount = new ColorButton(QCoreApplication::translate("SystemParamWidget", "清零"), this, 0);
    resetCount->setFixedSize(150, 50);
    powerOff = new ColorButton(QCoreApplication::translate("SystemParamWidget", "关闭电源"), this, 1);
    powerOff->setFixedSize(150, 50);
    connect(resetCount, &QPushButton::clicked, this, &SystemParamWidget::onResetCountClicked);
    connect(powerOff, &QPushButton::clicked, this, &SystemParamWidget::onPowerOffClicked);

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
    page->addWidget(sectionHeading(QCoreApplication::translate("SystemParamWidget", "延时参数"), this));
    grid({productDelay, cavityDelay, pulseDelay1, pulseDelay2}, 2);
    page->addWidget(sectionHeading(QCoreApplication::translate("SystemParamWidget", "NG时自动重检次数"), this));
    grid({reCheck, new QWidget(this)}, 2);
    page->addWidget(sectionHeading(QCoreApplication::translate("SystemParamWidget", "功能设置"), this));
    grid({filterSize, alarmArea}, 2);
    page->addWidget(sectionHeading(QCoreApplication::translate("SystemParamWidget", "参数开关"), this));
    grid({productDetect, semiAuto, motionCorrect, syncCavity, passwordOn, autoUpdate}, 4);
    page->addWidget(sectionHeading(QCoreApplication::translate("SystemParamWidget", "参数管理"), this));
    auto* manage = new QHBoxLayout;
    manage->addWidget(new QLabel(QCoreApplication::translate("SystemParamWidget", "计数清零"), this));
    manage->addWidget(resetCount);
    manage->addSpacing(80);
    manage->addWidget(new QLabel(QCoreApplication::translate("SystemParamWidget", "系统语言"), this));
    manage->addWidget(language);
    manage->addStretch();
    page->addLayout(manage);
    page->addWidget(sectionHeading(QCoreApplication::translate("SystemParamWidget", "电源管理"), this));
    auto* power = new QHBoxLayout;
    power->addWidget(powerOff);
    power->addStretch();
    page->addLayout(power);
    page->addStretch();
}

void SystemParamWidget::loadParams()
{
    SystemParam& p = *gpSystemParamEdit;
    productDelay->setValue(p[72]);
    cavityDelay->setValue(p[73]);
    pulseDelay1->setValue(p[341]);
    pulseDelay2->setValue(p[342]);
    reCheck->setValue(p[143]);
    filterSize->setValue(p[149]);
    alarmArea->setValue(p[150]);
    semiAuto->setChecked(p[118] != 0);
    productDetect->setChecked(p[133] != 0);
    syncCavity->setChecked(p[127] != 0);
    motionCorrect->setChecked(p[129] + 1 != 0);
    passwordOn->setChecked(p[131] != 0);
    autoUpdate->setChecked(p[132] != 0);
    // The box opens on the language in force; a choice is taken by the apply
    // step and saved for the next start.
    language->setCurrentIndex(gLanguage >= 0 && gLanguage < LanguageCount ? gLanguage : 0);
}

void SystemParamWidget::storeParams()
{
    SystemParam& p = *gpSystemParamEdit;
    p[72] = productDelay->value();
    p[73] = cavityDelay->value();
    p[341] = pulseDelay1->value();
    p[342] = pulseDelay2->value();
    p[143] = reCheck->value();
    p[149] = filterSize->value();
    p[150] = alarmArea->value();
    p[118] = semiAuto->isChecked() ? 1 : 0;
    p[132] = autoUpdate->isChecked() ? 1 : 0;
    p[133] = productDetect->isChecked() ? 1 : 0;
    p[127] = syncCavity->isChecked() ? 1 : 0;
    p[131] = passwordOn->isChecked() ? 1 : 0;
    p[129] = motionCorrect->isChecked() ? 0 : -1;
    if (auto* dialog = qobject_cast<SystemParamDialog*>(m_owner)) {
        dialog->setChosenLanguage(language->currentIndex());
    }
}

void SystemParamWidget::onResetCountClicked()
{
    if (askOperator(textOf(kTextResetCountQuestion)) == 0) {
        return;
    }
    clearCounters();
    SettingsHost* host = settingsHost();
    host->publishCounters();
    host->insertRecord(textOf(255));
    host->countWrite();
}

void SystemParamWidget::onPowerOffClicked()
{
    if (auto* dialog = qobject_cast<SystemParamDialog*>(m_owner)) {
        dialog->powerOffDialog();
    }
}
