#include "roiinterface.h"

#include "circle.h"
#include "clustomrect.h"
#include "repolygon.h"

#include <QJsonObject>

bool ROIInterface::isEqual(const ROIInterface* other) const
{
    // The JSON record holds exactly the geometry, so two shapes with the same
    // record are the same area.
    if (!other || other->type() != type()) {
        return false;
    }
    QJsonObject mine;
    QJsonObject theirs;
    toJson(mine);
    other->toJson(theirs);
    return mine == theirs;
}

ROIInterface* createROI(int type)
{
    switch (type) {
    case ROIPolygon:
        return new RePolygon();
    case ROICircle:
        return new Circle();
    default:
        return new ClustomRect();
    }
}

ROIInterface* cloneROI(const ROIInterface& shape)
{
    ROIInterface* copy = createROI(shape.type());
    QJsonObject json;
    shape.toJson(json);
    copy->fromJson(json);
    copy->updateBounds();
    return copy;
}
