#include "targetlocator.h"

#include "shapesearch.h"

namespace {

constexpr int kModePosition = 3;
constexpr int kModePositionAngle = 4;
constexpr float kFinestStep = 0.1f;

} // namespace

bool TargetLocator::Setup(const cv::Mat& templ, int from, int to, int refX, int refY,
                          const cv::Mat& mask)
{
    angleTable.clear();
    angleFrom = from;
    angleTo = to;
    referenceX = refX;
    referenceY = refY;
    templateCopy = templ.clone();
    maskCopy = mask.clone();

    int wanted = 0;
    if (from == 0 && to == 0)
        wanted = kModePosition;
    else if (from < to)
        wanted = kModePositionAngle;
    if (wanted == 0) {
        ready = false;
        return false;
    }

    if (!createShapeModel(templateCopy, maskCopy, shapeModel)) {
        ready = false;
        return false;
    }
    mode = wanted;
    ready = true;
    return true;
}

int TargetLocator::ShiftFrom(int reference, float found)
{
    return static_cast<int>(static_cast<float>(reference) - found);
}

bool TargetLocator::Locate(const cv::Mat& search, int& shiftX, int& shiftY, double& angle)
{
    // A failed set-up leaves the previous mode behind but a reference point
    // (and perhaps no model) that no longer belong together: never locate then.
    if (!ready || (mode != kModePosition && mode != kModePositionAngle))
        return false;

    ShapeSearchParams params;
    params.minScore = kMinScore;
    params.angleStep = kFinestStep;
    const bool rotate = mode == kModePositionAngle;
    if (rotate) {
        // The search is symmetric about 0 whatever the stored lower bound.
        params.angleStart = -static_cast<float>(angleTo);
        params.angleEnd = static_cast<float>(angleTo);
    }
    cv::Point2f found;
    float foundAngle = 0.0f;
    const bool ok = findShape(search, shapeModel, params, rotate, found, foundAngle, &angleTable);
    shiftX = ShiftFrom(referenceX, found.x);
    shiftY = ShiftFrom(referenceY, found.y);
    angle = rotate ? static_cast<double>(foundAngle) : 0.0;
    return ok;
}
