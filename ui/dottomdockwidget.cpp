#include "dottomdockwidget.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>

DottomDock_Describe_part1::DottomDock_Describe_part1(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("DottomDock_Describe_part1"));
}

QSize DottomDock_Describe_part1::sizeHint() const
{
    return {400, 48};
}

void DottomDock_Describe_part1::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x26, 0x2E, 0x34));
    painter.setPen(Qt::white);
    QFont font(QStringLiteral("SimHei"));
    font.setPixelSize(18);
    painter.setFont(font);
    painter.drawText(rect().adjusted(16, 0, -16, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

DottomDockWidget::DottomDockWidget(QWidget* parent)
    : QWidget(parent)
    , describe(new DottomDock_Describe_part1(this))
    , repickButton(new QPushButton(tr("重新取样"), this))
    , startStopButton(new QPushButton(tr("停止检测"), this))
{
    repickButton->setObjectName(QStringLiteral("_btn_repick"));
    startStopButton->setObjectName(QStringLiteral("_btn_startstop"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(describe, 1);
    layout->addWidget(repickButton);
    layout->addWidget(startStopButton);
}

void DottomDockWidget::setRunning(bool running)
{
    startStopButton->setText(running ? tr("停止检测") : tr("开始检测"));
}
