#pragma once

#include <opencv2/core.hpp>

#include "shapemodel.h"

// Coarse-to-fine search for a ShapeModel: exhaustive on the smallest pyramid
// level, then 5 x 5 positions (and, with rotation, 8 or 9 angles) around the
// previous best on every finer level. Positions are those of the template's
// centre in the search image.
//
// Score of a candidate: the mean over all model points of the dot product
// between the model point's unit gradient and the image's unit gradient under
// it. Points outside the image add 0 but still count, so the score lies in
// [-1, 1] and drops near the border.

struct ShapeSearchParams {
    float minScore = 0.1f;
    float angleStart = 0.0f;   // degrees
    float angleEnd = 0.0f;
    float angleStep = 0.1f;    // finest step; each coarser level doubles it
};

// The smallest level's point sets turned to every angle of the top ladder.
// They depend only on the model and the angle range, not on the frame, so a
// caller that searches frame after frame with one model keeps them here
// instead of turning the points again for every frame. Whoever changes the
// model clears the table; a different ladder or level rebuilds it.
//
// The table also keeps the search's working images (the frame's pyramid, the
// gradient images and the marks of the pixels a level reads) so that a frame
// of the same size as the one before allocates nothing. Their content never
// carries from one frame to the next: every pixel the search reads is
// written for that frame first.
struct ShapeAngleTable {
    const float* levelPoints = nullptr; // identity of the level it was built for
    int count = 0;
    float start = 0.0f;
    float step = 0.0f;
    int angles = 0;
    std::vector<int> x;      // angles x count, angle-major
    std::vector<int> y;
    std::vector<float> gradientX;
    std::vector<float> gradientY;

    std::vector<cv::Mat> pyramid;       // [0] is the caller's image
    std::vector<cv::Mat> levelGradientX; // per level
    std::vector<cv::Mat> levelGradientY;
    cv::Mat marks;
    cv::Mat band;
    std::vector<int> turnedX;            // a finer level's angles x count
    std::vector<int> turnedY;
    std::vector<float> turnedGradientX;
    std::vector<float> turnedGradientY;

    void clear() { *this = ShapeAngleTable(); }
};

// Runs the search (rotated when rotate is set). True when something was
// searched and the best score is positive and at least minScore; otherwise
// position (0, 0), angle 0 and false. An empty or non-grey search image, one
// smaller than 3 x 3, one the template does not fit in on the smallest level,
// or an empty model never counts as found.
// table (optional): kept turned point sets and working images, see
// ShapeAngleTable.
bool findShape(const cv::Mat& search, const ShapeModel& model, const ShapeSearchParams& params,
               bool rotate, cv::Point2f& position, float& angle, ShapeAngleTable* table = nullptr);

// The search without rotation. Returns false (position (0, 0), angle 0, score 0)
// when there was nothing to search; otherwise true and the level-0 result.
// table (optional): keeps the working images from frame to frame.
bool searchShape(const ShapeModel& model, const cv::Mat& search, const ShapeSearchParams& params,
                 cv::Point2f& position, float& angle, float& score, ShapeAngleTable* table = nullptr);

// The search over the angle range. Same contract as searchShape. Also false for
// a step that is not positive or a range too wide to walk.
bool searchShapeRotated(const ShapeModel& model, const cv::Mat& search,
                        const ShapeSearchParams& params, cv::Point2f& position, float& angle,
                        float& score, ShapeAngleTable* table = nullptr);

// Inclusive candidate window of centre positions.
struct ShapeWindow {
    int x0 = 0;
    int y0 = 0;
    int x1 = -1;
    int y1 = -1;
    bool isEmpty() const { return x1 < x0 || y1 < y0; }
};

// Best candidate of one level without rotation. Point positions are rounded
// half away from zero from centre + offset. The first candidate (row by row) with
// the strictly greatest score above 0 wins; with none, (0, 0) and 0.
void scoreShape(const ShapeLevel& level, const cv::Mat& gradX, const cv::Mat& gradY,
                const ShapeWindow& window, int& bestX, int& bestY, float& bestScore);

// Best candidate of one level for one rotation: offsets already rotated and
// rounded, gradients rotated. On the top level a candidate is abandoned (score
// 0) as soon as perfect agreement of its remaining points could no longer lift
// it to threshold.
void scoreShapeRotated(const int* xOffsets, const int* yOffsets, const float* gradientX,
                       const float* gradientY, int pointCount, const cv::Mat& gradX,
                       const cv::Mat& gradY, const ShapeWindow& window, float threshold,
                       int& bestX, int& bestY, float& bestScore, bool topLevel);

// Number of angles start + f * step walked for a range, in single precision:
// trunc((end - start) / step) + 1, or 0 when that is not positive. -1 when the
// step is not positive or the count is not finite or unreasonably large.
int shapeAngleCount(float start, float end, float step);
