#include "repolygon.h"

#include "imagehelpers.h"
#include "shapecommon.h"
#include "texttable.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QPainter>
#include <QTextStream>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <vector>

using namespace shapecommon;

namespace {

void refuseCount(const char* source, qint64 count)
{
    qWarning("polygon from %s names %lld vertices (table holds %d): left empty", source,
             static_cast<long long>(count), RePolygon::MaxPoints);
}

} // namespace

RePolygon::RePolygon(int count, const QPoint* vertices)
{
    if (!isValidPointCount(count) || (count > 0 && !vertices)) {
        refuseCount("caller", count);
        return;
    }
    std::copy(vertices, vertices + count, points);
    pointCount = count;
}

void RePolygon::fromJson(const QJsonObject& json)
{
    pointCount = 0;
    const QJsonArray array = json.value(QStringLiteral("points")).toArray();
    if (array.size() > MaxPoints) {
        refuseCount("JSON", array.size());
    } else {
        for (const QJsonValue& v : array) {
            const QJsonObject point = v.toObject();
            points[pointCount++] = QPoint(point.value(QStringLiteral("x")).toInt(),
                                          point.value(QStringLiteral("y")).toInt());
        }
    }
    updateBounds();
}

void RePolygon::fromText(QTextStream& stream, const QJsonObject& hint)
{
    const int width = hintWidth(hint);
    const int height = hintHeight(hint);
    const int count = hint.value(QStringLiteral("pointCount")).toInt();
    pointCount = 0;
    if (!isValidPointCount(count)) {
        refuseCount("text record", count);
    } else {
        for (int i = 0; i < count; ++i) {
            int x = readInt(stream);
            int y = readInt(stream);
            clampCoordinate(&x, true, width, height);
            clampCoordinate(&y, false, width, height);
            points[i] = QPoint(x, y);
        }
        pointCount = count;
    }
    updateBounds();
}

void RePolygon::toJson(QJsonObject& json) const
{
    QJsonArray array;
    for (int i = 0; i < pointCount; ++i) {
        QJsonObject point;
        point.insert(QStringLiteral("x"), points[i].x());
        point.insert(QStringLiteral("y"), points[i].y());
        array.append(point);
    }
    json.insert(QStringLiteral("points"), array);
}

QString RePolygon::toText() const
{
    QString text;
    text.reserve(12 * (pointCount + 1));
    text += QString::number(pointCount);
    text += QLatin1Char(' ');
    for (int i = 0; i < pointCount; ++i) {
        text += QString::number(points[i].x());
        text += QLatin1Char(' ');
        text += QString::number(points[i].y());
        text += QLatin1Char(' ');
    }
    return text;
}

void RePolygon::draw(QPainter* painter) const
{
    outlinePen(painter, selected);
    painter->drawPolygon(points, pointCount, Qt::OddEvenFill);
}

void RePolygon::drawScaled(QPainter* painter, float sx, float sy) const
{
    outlinePen(painter, selected);
    std::array<QPoint, MaxPoints> scaled;
    for (int i = 0; i < pointCount; ++i) {
        scaled[size_t(i)] = QPoint(int(points[i].x() * sx), int(points[i].y() * sy));
    }
    painter->drawPolygon(scaled.data(), pointCount, Qt::OddEvenFill);
}

bool RePolygon::hitHandle(QPoint p, int* handle) const
{
    int found = -1;
    if (selected) {
        for (int i = 0; i < pointCount; ++i) {
            if (isNearPoint(p, points[i], HandleTolerance)) {
                found = i;
                break;
            }
        }
    }
    if (handle) {
        *handle = found;
    }
    return found >= 0;
}

void RePolygon::updateBounds()
{
    if (pointCount <= 0) {
        setRect(0, 0, 0, 0);
        return;
    }
    int minX = points[0].x();
    int maxX = minX;
    int minY = points[0].y();
    int maxY = minY;
    for (int i = 1; i < pointCount; ++i) {
        minX = std::min(minX, points[i].x());
        maxX = std::max(maxX, points[i].x());
        minY = std::min(minY, points[i].y());
        maxY = std::max(maxY, points[i].y());
    }
    setRect(minX, minY, maxX - minX, maxY - minY);
}

bool RePolygon::hitTest(QPoint p) const
{
    // The box grows to the left and upwards only.
    const QRect box(left() - HandleTolerance, top() - HandleTolerance, width() + HandleTolerance,
                    height() + HandleTolerance);
    if (box.width() < 80 || box.height() < 80) {
        return box.contains(p);
    }
    std::vector<cv::Point> contour(static_cast<size_t>(pointCount));
    for (int i = 0; i < pointCount; ++i) {
        contour[size_t(i)] = cv::Point(points[i].x(), points[i].y());
    }
    return cv::pointPolygonTest(contour, cv::Point2f(float(p.x()), float(p.y())), false) > 0;
}

cv::Mat RePolygon::createMask() const
{
    if (pointCount <= 0 || width() <= 0 || height() <= 0
        || qint64(width()) * height() > MaxMaskPixels) {
        return cv::Mat();
    }
    cv::Mat mask = cv::Mat::zeros(height(), width(), CV_8UC1);
    std::vector<std::vector<cv::Point>> contours(1);
    contours[0].reserve(static_cast<size_t>(pointCount));
    for (int i = 0; i < pointCount; ++i) {
        contours[0].emplace_back(points[i].x() - left(), points[i].y() - top());
    }
    cv::fillPoly(mask, contours, cv::Scalar(255), cv::LINE_8);
    return mask;
}

void RePolygon::dragHandle(int handle, QPoint from, QPoint to)
{
    if (handle < 0 || handle >= pointCount) {
        return;
    }
    points[handle] += to - from;
}

void RePolygon::adjustObject(int object, int dir, int imageWidth, int imageHeight)
{
    if (object < 0 || object >= pointCount || dir < 0 || dir > 3) {
        return;
    }
    QPoint& v = points[object];
    switch (dir) {
    case 0: v.ry() -= 1; break;
    case 1: v.rx() -= 1; break;
    case 2: v.ry() += 1; break;
    default: v.rx() += 1; break;
    }
    clampCoordinate(&v.rx(), true, imageWidth, imageHeight);
    clampCoordinate(&v.ry(), false, imageWidth, imageHeight);
}

void RePolygon::moveBy(int dx, int dy, int imageWidth, int imageHeight)
{
    qint64 mx = dx;
    qint64 my = dy;
    if (left() + mx < 0) {
        mx = -qint64(left());
    }
    if (right() + mx >= imageWidth) {
        mx = qint64(imageWidth) - right() - 1;
    }
    if (top() + my < 0) {
        my = -qint64(top());
    }
    if (bottom() + my >= imageHeight) {
        my = qint64(imageHeight) - bottom() - 1;
    }
    const QPoint offset{static_cast<int>(mx), static_cast<int>(my)};
    for (int i = 0; i < pointCount; ++i) {
        points[i] += offset;
    }
    updateBounds();
}

QString RePolygon::typeName() const
{
    return textOf(76);
}
