#pragma once

#include "roiinterface.h"

// A closed polygon (the last vertex joins the first). The vertices live in a
// fixed table inside the object so that drawing, copying and editing never
// allocate per vertex. A point count outside the table (from a corrupt record,
// a JSON array or a caller) is refused: the polygon stays empty, which gives an
// empty mask, and the inspection reports such an area as an error.
//
// Handles and arrow-step objects are the vertex numbers.
class RePolygon : public ROIInterface {
public:
    static constexpr int MaxPoints = 8096;

    RePolygon() = default;
    RePolygon(int count, const QPoint* vertices);

    void fromJson(const QJsonObject& json) override;
    void fromText(QTextStream& stream, const QJsonObject& hint) override;
    void toJson(QJsonObject& json) const override;
    QString toText() const override;
    void draw(QPainter* painter) const override;
    void drawScaled(QPainter* painter, float sx, float sy) const override;
    bool hitHandle(QPoint p, int* handle) const override;
    void setSelected(bool selected) override { this->selected = selected; }
    bool isSelected() const override { return selected; }
    // Bounding box of the vertices: width and height are (largest - smallest),
    // so the rectangle's right edge is the largest x minus one.
    void updateBounds() override;
    bool hitTest(QPoint p) const override;
    cv::Mat createMask() const override;
    void dragHandle(int handle, QPoint from, QPoint to) override;
    void adjustObject(int object, int dir, int imageWidth, int imageHeight) override;
    void moveBy(int dx, int dy, int imageWidth, int imageHeight) override;
    QPoint anchorPoint() const override { return points[0]; }
    int type() const override { return ROIPolygon; }
    QString typeName() const override;
    int objectCount() const override { return pointCount; }

    static bool isValidPointCount(int count) { return count >= 0 && count <= MaxPoints; }

    QPoint points[MaxPoints];
    qint32 pointCount = 0;
    bool selected = false;
};
