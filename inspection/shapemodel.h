#pragma once

#include <vector>

#include <opencv2/core.hpp>

// Edge-gradient shape model of a template: per pyramid level, the template's
// edge points as offsets from the level's centre with their unit gradient
// direction. The target locator builds one per training and the shape search
// looks for it in live frames (shapesearch.h).
//
// Every image here is 8-bit single-channel and every gradient image 32-bit
// float single-channel. The routines read rows through their own pointers, so
// crops (non-continuous matrices) are fine.

struct ShapeLevel {
    int width = 0;       // template size on this level
    int height = 0;
    int pointCount = 0;
    // pointCount entries each, in the same point order (row by row, left to right).
    std::vector<float> xOffsets;   // column - 0.5 * width
    std::vector<float> yOffsets;   // row - 0.5 * height
    std::vector<float> gradientX;  // unit gradient, or 0 and 0 where it vanishes
    std::vector<float> gradientY;
};

struct ShapeModel {
    int levels = 0;                // 0 for an empty model
    std::vector<ShapeLevel> level; // index 0 = full resolution

    void clear();
    // True when levels matches the stored levels and every level's arrays hold
    // pointCount entries; the search refuses anything else.
    bool isConsistent() const;
};

// Pyramid depth for a template: the doublings of 15 needed to exceed the
// smaller side (at least 1). Keeps the smallest level at roughly 15 to 30
// pixels, where the search is exhaustive.
int shapeLevelCount(int width, int height);

// Builds the model in place from the template (which is median-filtered in
// place: pass a copy you own) and an optional mask of the template's size
// (non-zero = part of the target; empty = the whole template).
// Refuses (model left empty, false) a template that is not 8-bit grey or has a
// side below 3 pixels, and a mask of another type or size: such a level could
// not be scored without reading outside the image.
bool createShapeModel(cv::Mat& templ, const cv::Mat& mask, ShapeModel& model);

// dst(r, c) = trunc(0.25 * sum of the 2 x 2 block at (2r, 2c)); an odd last row
// or column is dropped. dst is allocated as (rows / 2) x (cols / 2) unless it
// already is. False for a source that is not 8-bit grey.
bool halfSizeImage(const cv::Mat& src, cv::Mat& dst);

// 3 x 3 Sobel gradient with mirrored borders (row -1 = row 1), normalised to unit
// length; the magnitude goes into mag. Where the magnitude is 0, and at the four
// corners, all three outputs are 0. Outputs are allocated as CV_32FC1 of the
// source's size unless they already are. False (outputs zeroed) for a source
// that is not 8-bit grey or is smaller than 3 x 3.
bool sobelGradient(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY, cv::Mat& mag);

// sobelGradient for one rectangle of the source: the outputs (allocated as
// CV_32FC1 of the source's size unless they already are) receive, inside the
// rectangle only, exactly the values sobelGradient gives there. Lets the search
// skip the parts of a large frame that no candidate of a level can reach.
// False for a source that sobelGradient refuses.
bool sobelGradientRegion(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY,
                         const cv::Rect& region);

// sobelGradientRegion for the pixels of region whose byte in needed (8-bit,
// region's size; region may reach beyond the source, whose pixels there are
// skipped) is non-zero: a search that reads a thin band of a level computes
// about just that band. Pixels of the region near a needed one in its row may
// receive their values too; nothing outside the region is written. False for
// a source that sobelGradient refuses or a needed mask of another type or
// size.
bool sobelGradientWhere(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY, const cv::Rect& region,
                        const cv::Mat& needed);

// Canny edge detector used on the smallest pyramid level: Euclidean magnitude
// compared in float against the thresholds as given. dst is replaced by a
// new CV_8UC1 image of the source's size, 255 on edges; the outer rows and
// columns are never edges. False (dst empty) for a source that is not 8-bit grey.
bool cannyEdges(const cv::Mat& src, cv::Mat& dst, float highThreshold, float lowThreshold);
