#include "circle.h"

#include "imagehelpers.h"
#include "shapecommon.h"
#include "texttable.h"

#include <QJsonValue>
#include <QPainter>
#include <QTextStream>

#include <opencv2/imgproc.hpp>

#include <cmath>

using namespace shapecommon;

namespace {

// Shrinks a radius until the circle stays inside the image, rule by rule, each
// seeing the previous one's result.
int fitRadius(int radius, int xc, int yc, int width, int height)
{
    if (xc + radius > width) {
        radius = width - xc - 1;
    }
    if (xc - radius < 0) {
        radius = xc - 3;
    }
    if (yc + radius > height) {
        radius = height - yc - 1;
    }
    if (yc - radius < 0) {
        radius = yc - 3;
    }
    return radius;
}

} // namespace

Circle::Circle()
{
    fitToRect();
}

Circle::Circle(int xc, int yc, int r, int rn)
    : xc(xc), yc(yc), r(r), rn(rn)
{
    normalize();
}

void Circle::normalize()
{
    // A negative outer radius would give the bounding square a negative side,
    // which nothing downstream (mask, crop) can take.
    if (r < 0) {
        r = 0;
    }
    if (rn > r) {
        rn = r;
    }
    if (rn < 0) {
        rn = 0;
    }
    setRect(xc - r, yc - r, 2 * r, 2 * r);
}

void Circle::fitToRect()
{
    r = qMin(width() / 2, height() / 2);
    xc = left() + r;
    yc = top() + r;
    normalize();
}

void Circle::fromJson(const QJsonObject& json)
{
    xc = json.value(QStringLiteral("xc")).toInt();
    yc = json.value(QStringLiteral("yc")).toInt();
    r = json.value(QStringLiteral("r")).toInt();
    rn = json.value(QStringLiteral("rn")).toInt();
    normalize();
}

void Circle::fromText(QTextStream& stream, const QJsonObject& hint)
{
    const int width = hintWidth(hint);
    const int height = hintHeight(hint);
    int x = readInt(stream);
    int y = readInt(stream);
    clampCoordinate(&x, true, width, height);
    clampCoordinate(&y, false, width, height);
    xc = x;
    yc = y;
    // Both radii share one number: r in the low 16 bits, rn in the high ones.
    const quint32 packed = static_cast<quint32>(readInt(stream));
    r = fitRadius(int(packed & 0xFFFFu), xc, yc, width, height);
    rn = fitRadius(int(packed >> 16), xc, yc, width, height);
    normalize();
}

void Circle::toJson(QJsonObject& json) const
{
    json.insert(QStringLiteral("xc"), xc);
    json.insert(QStringLiteral("yc"), yc);
    json.insert(QStringLiteral("r"), r);
    json.insert(QStringLiteral("rn"), rn);
}

QString Circle::toText() const
{
    const qint32 packed = static_cast<qint32>(static_cast<quint32>(rn) * 65536u + static_cast<quint32>(r));
    return QStringLiteral("%1 %2 %3 %4").arg(0).arg(xc).arg(yc).arg(packed);
}

void Circle::draw(QPainter* painter) const
{
    QPen pen = outlinePen(painter, selected);
    painter->drawEllipse(QRect(*this));
    pen.setColor(Qt::yellow);
    painter->setPen(pen);
    painter->drawEllipse(QRect(xc - rn, yc - rn, 2 * rn, 2 * rn));
}

void Circle::drawScaled(QPainter* painter, float sx, float sy) const
{
    QPen pen = outlinePen(painter, selected);
    painter->drawEllipse(int(left() * sx), int(top() * sy), int(width() * sx), int(height() * sy));
    pen.setColor(Qt::yellow);
    painter->setPen(pen);
    painter->drawEllipse(int((xc - rn) * sx), int((yc - rn) * sy), int(2 * rn * sx), int(2 * rn * sy));
}

bool Circle::hitHandle(QPoint p, int* handle) const
{
    int found = -1;
    if (selected) {
        const qint64 dx = qint64(p.x()) - xc;
        const qint64 dy = qint64(p.y()) - yc;
        const qint64 d2 = dx * dx + dy * dy;
        const qint64 inner = qint64(r) - HandleTolerance;
        const qint64 outer = qint64(r) + HandleTolerance;
        if (inner * inner <= d2 && d2 <= outer * outer) {
            const bool below = p.y() > yc;
            const bool leftOfCentre = p.x() < xc;
            if (qAbs(dx) < HandleTolerance) {
                found = below ? 1 : 6;
            } else if (qAbs(dy) < HandleTolerance) {
                found = leftOfCentre ? 3 : 4;
            } else if (below) {
                found = leftOfCentre ? 0 : 2;
            } else {
                found = leftOfCentre ? 5 : 7;
            }
        }
    }
    if (handle) {
        *handle = found;
    }
    return found >= 0;
}

bool Circle::hitTest(QPoint p) const
{
    return adjusted(-HandleTolerance, -HandleTolerance, HandleTolerance, HandleTolerance).contains(p);
}

cv::Mat Circle::createMask() const
{
    const qint64 side = 2 * qint64(r);
    if (r <= 0 || side * side > MaxMaskPixels) {
        return cv::Mat();
    }
    cv::Mat mask = cv::Mat::zeros(int(side), int(side), CV_8UC1);
    const cv::Point centre(r, r);
    cv::circle(mask, centre, r, cv::Scalar(255), cv::FILLED, cv::LINE_8);
    // A zero inner radius is a full disc; drawing it would still punch out the
    // centre pixel.
    if (rn > 0) {
        cv::circle(mask, centre, rn, cv::Scalar(0), cv::FILLED, cv::LINE_8);
    }
    return mask;
}

void Circle::dragHandle(int, QPoint, QPoint to)
{
    const float dx = float(to.x()) - float(xc);
    const float dy = float(to.y()) - float(yc);
    r = static_cast<qint32>(std::sqrt(dx * dx + dy * dy));
    normalize();
}

void Circle::adjustObject(int object, int dir, int imageWidth, int imageHeight)
{
    static const int steps[4] = {10, 1, -1, -10};
    if (dir < 0 || dir > 3) {
        return;
    }
    if (object == 0) {
        rn += steps[dir];
    } else if (object == 1) {
        r += steps[dir];
    } else {
        switch (dir) {
        case 0: --yc; break;
        case 1: --xc; break;
        case 2: ++yc; break;
        default: ++xc; break;
        }
    }
    normalize();
    // Only the square is clipped; the editor's updateBounds then re-derives the
    // ring from it.
    clampRectToImage(*this, imageWidth, imageHeight, false);
}

void Circle::moveBy(int dx, int dy, int, int)
{
    translate(dx, dy);
}

QString Circle::typeName() const
{
    return textOf(75);
}
