#pragma once

#include <opencv2/core.hpp>

#include "shapemodel.h"
#include "shapesearch.h"

// Finds the positioning target of a detect in a live frame and reports how far
// it moved (and, with a rotation range, by what angle it turned), so that the
// engine can move the frame back before the other areas are judged.
//
// Mode 3 searches position only (range 0 to 0); mode 4 position and angle
// (range from < to), always symmetric: -to to +to degrees. The reported angle
// is positive when the target turned clockwise on the screen; rotateImage with
// the same angle turns the frame back.
class TargetLocator {
public:
    TargetLocator() = default;
    TargetLocator(const TargetLocator&) = delete;
    TargetLocator& operator=(const TargetLocator&) = delete;

    // templ: 8-bit grey crop of the template frame; mask: 8-bit of the same
    // size, non-zero = target (empty = the whole crop); (referenceX, referenceY):
    // where the target's centre belongs in frame coordinates. Works on its own
    // copies. False (and not ready) for a range other than 0 to 0 or increasing,
    // and for a template or mask the shape model refuses.
    bool Setup(const cv::Mat& templ, int angleFrom, int angleTo, int referenceX, int referenceY,
               const cv::Mat& mask);

    // search: 8-bit grey image (the frame's crop by the search window). shiftX,
    // shiftY = reference - found centre (found relative to the search image);
    // angle in degrees (0 in mode 3). False when the target scores below
    // kMinScore (the outputs are then written from a found position of (0, 0)
    // and mean nothing) or when the locator is not ready (outputs untouched).
    bool Locate(const cv::Mat& search, int& shiftX, int& shiftY, double& angle);

    bool IsReady() const { return ready; }

    int Mode() const { return mode; }
    const ShapeModel& Model() const { return shapeModel; }

    // Shift from the reference to a found centre: the difference in single
    // precision, truncated toward zero.
    static int ShiftFrom(int reference, float found);

    // Lowest score that counts as found. The mean agreement of unit gradients
    // is never far from 0.1 somewhere on a textured surface: on spark-eroded
    // steel without the target, the best of a search reaches 0.15 to 0.31
    // (smaller models more), so 0.1 would report a target that is not there
    // and have the frame shifted at random. A present target scores 0.42 and
    // more even when blurred, noisy and one fifth hidden.
    static constexpr float kMinScore = 0.35f;

private:
    bool ready = false;
    int angleFrom = 0;
    int angleTo = 0;
    int referenceX = 0;
    int referenceY = 0;
    int mode = 0;
    ShapeModel shapeModel;
    // The model's coarsest points turned to every angle of the range, kept
    // from frame to frame; cleared with every set-up.
    ShapeAngleTable angleTable;
    cv::Mat templateCopy;
    cv::Mat maskCopy;
};
