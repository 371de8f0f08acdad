#include "clustomrect.h"

#include "imagehelpers.h"
#include "shapecommon.h"
#include "texttable.h"

#include <QJsonValue>
#include <QPainter>
#include <QTextStream>

using namespace shapecommon;

ClustomRect::ClustomRect(int left, int top, int right, int bottom)
{
    setCoords(left, top, right, bottom);
}

void ClustomRect::fromJson(const QJsonObject& json)
{
    // Edge by edge, each keeping the opposite one, as the record was written.
    setLeft(json.value(QStringLiteral("x")).toInt());
    setTop(json.value(QStringLiteral("y")).toInt());
    setRight(json.value(QStringLiteral("right")).toInt());
    setBottom(json.value(QStringLiteral("bottom")).toInt());
}

void ClustomRect::fromText(QTextStream& stream, const QJsonObject& hint)
{
    const int width = hintWidth(hint);
    const int height = hintHeight(hint);
    int left = readInt(stream);
    int top = readInt(stream);
    clampCoordinate(&left, true, width, height);
    clampCoordinate(&top, false, width, height);
    setTopLeft(QPoint(left, top));
    int right = readInt(stream);
    int bottom = readInt(stream);
    clampCoordinate(&right, true, width, height);
    clampCoordinate(&bottom, false, width, height);
    setBottomRight(QPoint(right, bottom));
}

void ClustomRect::toJson(QJsonObject& json) const
{
    json.insert(QStringLiteral("x"), left());
    json.insert(QStringLiteral("y"), top());
    json.insert(QStringLiteral("right"), right());
    json.insert(QStringLiteral("bottom"), bottom());
}

QString ClustomRect::toText() const
{
    return QStringLiteral("%1 %2 %3 %4 %5").arg(0).arg(left()).arg(top()).arg(right()).arg(bottom());
}

void ClustomRect::draw(QPainter* painter) const
{
    outlinePen(painter, selected);
    painter->drawRect(QRect(*this));
}

void ClustomRect::drawScaled(QPainter* painter, float sx, float sy) const
{
    outlinePen(painter, selected);
    painter->drawRect(int(left() * sx), int(top() * sy), int(width() * sx), int(height() * sy));
}

bool ClustomRect::hitHandle(QPoint p, int* handle) const
{
    int found = -1;
    if (selected) {
        const int edgeX = width() / 4;
        const int edgeY = height() / 4;
        if (isNearPoint(p, topLeft(), HandleTolerance)) {
            found = 0;
        } else if (isNearPoint(p, topRight(), HandleTolerance)) {
            found = 2;
        } else if (isNearPoint(p, bottomLeft(), HandleTolerance)) {
            found = 5;
        } else if (isNearPoint(p, bottomRight(), HandleTolerance)) {
            found = 7;
        } else if (isNearEdge(p.x(), left(), p.y(), top(), bottom(), edgeX)) {
            found = 3;
        } else if (isNearEdge(p.x(), right(), p.y(), top(), bottom(), edgeX)) {
            found = 4;
        } else if (isNearEdge(p.y(), top(), p.x(), left(), right(), edgeY)) {
            found = 1;
        } else if (isNearEdge(p.y(), bottom(), p.x(), left(), right(), edgeY)) {
            found = 6;
        }
    }
    if (handle) {
        *handle = found;
    }
    return found >= 0;
}

bool ClustomRect::hitTest(QPoint p) const
{
    return adjusted(-HandleTolerance, -HandleTolerance, HandleTolerance, HandleTolerance).contains(p);
}

cv::Mat ClustomRect::createMask() const
{
    if (width() <= 0 || height() <= 0 || qint64(width()) * height() > MaxMaskPixels) {
        return cv::Mat();
    }
    return cv::Mat(height(), width(), CV_8UC1, cv::Scalar(255));
}

void ClustomRect::dragHandle(int handle, QPoint from, QPoint to)
{
    const int dx = to.x() - from.x();
    const int dy = to.y() - from.y();
    switch (handle) {
    case 0: setLeft(left() + dx); setTop(top() + dy); break;
    case 1: setTop(top() + dy); break;
    case 2: setTop(top() + dy); setRight(right() + dx); break;
    case 3: setLeft(left() + dx); break;
    case 4: setRight(right() + dx); break;
    case 5: setLeft(left() + dx); setBottom(bottom() + dy); break;
    case 6: setBottom(bottom() + dy); break;
    case 7: setRight(right() + dx); setBottom(bottom() + dy); break;
    default: break;
    }
}

void ClustomRect::adjustObject(int object, int dir, int imageWidth, int imageHeight)
{
    if (dir < 0 || dir > 3) {
        return;
    }
    if (object == 0) {
        switch (dir) {
        case 0: setTop(top() - 1); break;
        case 1: setLeft(left() - 1); break;
        case 2: setTop(top() + 1); break;
        default: setLeft(left() + 1); break;
        }
    } else {
        switch (dir) {
        case 0: setBottom(bottom() - 1); break;
        case 1: setRight(right() - 1); break;
        case 2: setBottom(bottom() + 1); break;
        default: setRight(right() + 1); break;
        }
    }
    clampRectToImage(*this, imageWidth, imageHeight, false);
}

void ClustomRect::moveBy(int dx, int dy, int, int)
{
    // Limiting to the image is the editor's, which slides the rectangle back in.
    translate(dx, dy);
}

QString ClustomRect::typeName() const
{
    return textOf(74);
}
