#pragma once

#include "roiinterface.h"

// A rectangular area: the bounding rectangle is the shape itself.
//
// Handles: corners 0 top-left, 2 top-right, 5 bottom-left, 7 bottom-right;
// edges 1 top, 3 left, 4 right, 6 bottom. Arrow-step objects: 0 the top-left
// edges, any other the bottom-right edges.
class ClustomRect : public ROIInterface {
public:
    ClustomRect() = default;
    ClustomRect(int left, int top, int right, int bottom);

    void fromJson(const QJsonObject& json) override;
    void fromText(QTextStream& stream, const QJsonObject& hint) override;
    void toJson(QJsonObject& json) const override;
    QString toText() const override;
    void draw(QPainter* painter) const override;
    void drawScaled(QPainter* painter, float sx, float sy) const override;
    bool hitHandle(QPoint p, int* handle) const override;
    void setSelected(bool selected) override { this->selected = selected; }
    bool isSelected() const override { return selected; }
    void updateBounds() override {}
    bool hitTest(QPoint p) const override;
    cv::Mat createMask() const override;
    void dragHandle(int handle, QPoint from, QPoint to) override;
    void adjustObject(int object, int dir, int imageWidth, int imageHeight) override;
    void moveBy(int dx, int dy, int imageWidth, int imageHeight) override;
    QPoint anchorPoint() const override { return topLeft(); }
    int type() const override { return ROIRect; }
    QString typeName() const override;
    int objectCount() const override { return 2; }

    bool selected = false;
};
