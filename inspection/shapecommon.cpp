#include "shapecommon.h"

#include <QPainter>
#include <QTextStream>

namespace shapecommon {

int readInt(QTextStream& stream)
{
    int v = 0;
    stream >> v;
    return v;
}

int hintWidth(const QJsonObject& hint)
{
    return hint.value(QStringLiteral("width")).toInt();
}

int hintHeight(const QJsonObject& hint)
{
    return hint.value(QStringLiteral("height")).toInt();
}

QPen outlinePen(QPainter* painter, bool selected)
{
    QPen pen = painter->pen();
    pen.setWidth(3);
    if (selected) {
        pen.setColor(Qt::magenta);
    }
    painter->setPen(pen);
    return pen;
}

} // namespace shapecommon
