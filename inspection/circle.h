#pragma once

#include "roiinterface.h"

// A ring between an outer radius r and an inner radius rn about (xc, yc);
// rn 0 is a full disc. The bounding rectangle is always the square of side 2r
// about the centre, and the editor resizes and moves a ring through that square
// (updateBounds re-derives centre and radius from it).
//
// Handles lie on the outline: 1 below the centre, 6 above, 3 left, 4 right,
// 0 lower left, 2 lower right, 5 upper left, 7 upper right. Arrow-step objects:
// 0 inner radius, 1 outer radius, 2 centre.
class Circle : public ROIInterface {
public:
    Circle();
    Circle(int xc, int yc, int r, int rn);

    void fromJson(const QJsonObject& json) override;
    void fromText(QTextStream& stream, const QJsonObject& hint) override;
    void toJson(QJsonObject& json) const override;
    QString toText() const override;
    void draw(QPainter* painter) const override;
    void drawScaled(QPainter* painter, float sx, float sy) const override;
    bool hitHandle(QPoint p, int* handle) const override;
    void setSelected(bool selected) override { this->selected = selected; }
    bool isSelected() const override { return selected; }
    void updateBounds() override { fitToRect(); }
    bool hitTest(QPoint p) const override;
    cv::Mat createMask() const override;
    void dragHandle(int handle, QPoint from, QPoint to) override;
    void adjustObject(int object, int dir, int imageWidth, int imageHeight) override;
    void moveBy(int dx, int dy, int imageWidth, int imageHeight) override;
    QPoint anchorPoint() const override { return topLeft(); }
    int type() const override { return ROICircle; }
    QString typeName() const override;
    int objectCount() const override { return 3; }

    // Keeps 0 <= rn <= r (and r >= 0) and the bounding square in step with the
    // centre and the outer radius.
    void normalize();
    // Largest circle in the top-left corner of the bounding rectangle.
    void fitToRect();

    qint32 xc = 0;
    qint32 yc = 0;
    qint32 r = 0;
    qint32 rn = 0;
    bool selected = false;
};
