#include "dottomdockwidget.h"

#include "ccomp_dialogframe.h"
#include "controlport.h"
#include "iostatuswidget.h"
#include "mainscreenhost.h"
#include "screenstate.h"
#include "systemclock.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVariant>

#include <algorithm>

DottomDock_Describe_part1::DottomDock_Describe_part1(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("DottomDock_Describe_part1"));
    setFixedHeight(60);
}

QString DottomDock_Describe_part1::cycleText(int tenths)
{
    return QCoreApplication::translate("DottomDockWidget", "周期%1秒").arg(double(tenths) / 10.0, 4, 'f', 1, QLatin1Char(' '));
}

void DottomDock_Describe_part1::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    QFont font(QStringLiteral("SimHei"));
    font.setPointSize(12);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 200, 30), Qt::AlignLeft | Qt::AlignVCenter,
                     clockNow().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    // "サイクル12.5秒" and "Cycle 12.5S" are wider than the Chinese: the line
    // takes the width the date has.
    painter.drawText(QRect(0, 30, std::max(200, width()), 30), Qt::AlignLeft | Qt::AlignVCenter,
                     cycleText(mainScreenHost()->cycleTime()));
    painter.end();
    QWidget::paintEvent(event);
}

namespace {

// The caption stands right of the icon: with 40 px of padding on the right
// too, an English caption ran back over the icon at the left.
QString ruleA(const QString& name, const QString& icon)
{
    return QStringLiteral(
               "QPushButton#%1{padding-left: 40px;padding-right: 16px;background-image: url(%2);background-repeat: no-repeat;"
               "background-origin: content;background-position: left;background-color: #2175D3;font-size:22px;text-align: right;"
               "color: #FFFFFF;}QPushButton#%1:pressed{padding-left: 40px;padding-right: 16px;background-image: url(%2);"
               "background-repeat: no-repeat;background-origin: content;background-position: left;background-color: #FFC107;"
               "font-size:22px;text-align: right;color: #2687F2;}")
        .arg(name, icon);
}

QString ruleB(const QString& name, const QString& icon)
{
    return QStringLiteral(
               "QPushButton#%1[is_running = true]{padding-left: 40px;padding-right: 16px;background-image: url(%2);"
               "background-repeat: no-repeat;background-origin: content;background-position: left;background-color: #D04136;"
               "font-size:22px;text-align: right;color: #FFFFFF;}")
        .arg(name, icon);
}

} // namespace

DottomDockWidget::DottomDockWidget(QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setSpacing(1);
    row->setContentsMargins(0, 0, 0, 0);
    m_lamps = new IOStatusWidget_2(this);
    if (gpControlPort) {
        connect(gpControlPort, &ControlPort::sigIOChange, m_lamps, &IOStatusWidget_2::refresh, Qt::QueuedConnection);
    }
    m_lamps->show();
    row->addWidget(m_lamps);
    row->addStretch();

    auto* describe = new QWidget(this);
    describe->setObjectName(QStringLiteral("DottomDock_Describe"));
    describe->setMinimumWidth(200);
    auto* describeRow = new QHBoxLayout(describe);
    describeRow->setContentsMargins(0, 0, 0, 0);
    describeRow->setSpacing(0);
    m_clock = new DottomDock_Describe_part1(describe);
    describeRow->addWidget(m_clock);
    describe->setMinimumWidth(300);
    row->addWidget(describe);

    m_repick = new QPushButton(QCoreApplication::translate("DottomDockWidget", "重新取样"), this);
    m_repick->setObjectName(QStringLiteral("_btn_repick"));
    m_repick->setFixedSize(200, 80);
    row->addWidget(m_repick);
    m_startStop = new QPushButton(this);
    m_startStop->setObjectName(QStringLiteral("_btn_startstop"));
    m_startStop->setFixedSize(200, 80);
    m_startStop->setIconSize(QSize(30, 30));
    row->addWidget(m_startStop);

    connect(m_repick, &QPushButton::clicked, this, [] { mainScreenHost()->reTrain(); });
    connect(m_startStop, &QPushButton::clicked, this, [this] {
        mainScreenHost()->startStop();
        setRunning(screenState().runState() != Stopped);
    });
    setRunning(screenState().runState() != Stopped);

    const QString start = QStringLiteral("_btn_startstop");
    setCommonStyleSheet(this, QStringLiteral("QWidget{background-color:#353D45;outline:0px;border:none;}")
                                  + ruleA(start, QStringLiteral(":/StartStop.png")) + ruleB(start, QStringLiteral(":/Stop.png"))
                                  + ruleA(QStringLiteral("_btn_repick"), QStringLiteral(":/Retrain.png")));
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    show();
}

void DottomDockWidget::setRunning(bool running)
{
    const QVariant shown = m_startStop->property("is_running");
    if (shown.isValid() && shown.toBool() == running) {
        return;
    }
    m_startStop->setText(running ? QCoreApplication::translate("DottomDockWidget", "停止检测") : QCoreApplication::translate("DottomDockWidget", "开始检测"));
    m_startStop->setProperty("is_running", running);
    m_startStop->style()->unpolish(m_startStop);
    m_startStop->style()->polish(m_startStop);
}
