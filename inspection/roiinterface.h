#pragma once

#include <QJsonObject>
#include <QPoint>
#include <QRect>
#include <QString>

#include <opencv2/core.hpp>

class QPainter;
class QTextStream;

// Shape codes as stored per area in PARAM.db. There is no code 3.
enum ROIType {
    ROIRect = 1,
    ROIPolygon = 2,
    ROICircle = 4,
};

// A detection area's outline on the camera image, in integer image pixels
// (x to the right, y downwards). The QRect part is the bounding rectangle with
// Qt's inclusive right and bottom edges; it is what the inspection crops and
// what the mask covers.
//
// Shapes live on the GUI thread only and report no errors: values out of the
// image are limited where the text record is read, and out-of-range handle or
// object numbers do nothing.
class ROIInterface : public QRect {
public:
    ROIInterface() : QRect(0, 0, 0, 0) {}
    virtual ~ROIInterface() = default;

    virtual void fromJson(const QJsonObject& json) = 0;
    // Reads the coordinates that follow the record's leading number. The hint
    // carries "width" and "height" (image size) and "pointCount" (that leading
    // number, already read by the caller). Missing numbers read as 0; callers
    // that must know can look at the stream's status afterwards.
    virtual void fromText(QTextStream& stream, const QJsonObject& hint) = 0;
    virtual void toJson(QJsonObject& json) const = 0;
    virtual QString toText() const = 0;
    virtual void draw(QPainter* painter) const = 0;
    virtual void drawScaled(QPainter* painter, float sx, float sy) const = 0;
    // Same type and the same geometry; selection plays no part.
    virtual bool isEqual(const ROIInterface* other) const;
    // The handle of a selected shape under p; -1 and false when none.
    virtual bool hitHandle(QPoint p, int* handle) const = 0;
    virtual void setSelected(bool selected) = 0;
    virtual bool isSelected() const = 0;
    virtual void updateBounds() = 0;
    virtual bool hitTest(QPoint p) const = 0;
    // 8-bit mask of the bounding rectangle's size, 255 inside the shape. Empty
    // when the shape has no area to inspect.
    virtual cv::Mat createMask() const = 0;
    virtual void dragHandle(int handle, QPoint from, QPoint to) = 0;
    // One arrow step; dir 0 up, 1 left, 2 down, 3 right.
    virtual void adjustObject(int object, int dir, int imageWidth, int imageHeight) = 0;
    virtual void moveBy(int dx, int dy, int imageWidth, int imageHeight) = 0;
    virtual QPoint anchorPoint() const = 0;
    virtual int type() const = 0;
    virtual QString typeName() const = 0;
    virtual int objectCount() const = 0;

protected:
    ROIInterface(const ROIInterface&) = default;
    ROIInterface& operator=(const ROIInterface&) = default;
};

// A new empty shape for a stored shape code: 2 polygon, 4 ring, anything else a
// rectangle. The caller owns it.
ROIInterface* createROI(int type);

// An independent copy of a shape, made the way area sets are copied: through the
// JSON form, then updateBounds. The caller owns it.
ROIInterface* cloneROI(const ROIInterface& shape);

// Largest mask a shape will allocate (a little over any camera frame); a shape
// whose bounds exceed it can only come from a corrupt source and yields an empty
// mask instead of exhausting memory.
constexpr qint64 MaxMaskPixels = qint64(1) << 27;
