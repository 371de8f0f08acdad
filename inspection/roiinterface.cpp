#include "roiinterface.h"

#include "circle.h"
#include "clustomrect.h"
#include "repolygon.h"

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
