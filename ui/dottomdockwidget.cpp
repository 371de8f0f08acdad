#include "dottomdockwidget.h"

#include <QDateTime>
#include <QPainter>

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
