// Target positioning with angle as it was before the live frame's gradients
// were limited to the pixels the search reads and the frame's turn-back
// got its fast path: kept verbatim (in a namespace of its own) so that
// bench_positioning can time it against today's code in the same run and check
// that both find the same positions and turn the frame back alike.
#pragma once

#include <QtGlobal>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "shapemodel.h"
#include "shapesearch.h"

namespace baseline {

using ::ShapeLevel;
using ::ShapeModel;
using ::ShapeSearchParams;
// The turned point sets as they were kept then.
struct ShapeAngleTable {
    const float* levelPoints = nullptr;
    int count = 0;
    float start = 0.0f;
    float step = 0.0f;
    int angles = 0;
    std::vector<int> x;
    std::vector<int> y;
    std::vector<float> gradientX;
    std::vector<float> gradientY;

    void clear() { *this = ShapeAngleTable(); }
};
using ::ShapeWindow;
using ::shapeAngleCount;

inline bool halfSizeImage(const cv::Mat& src, cv::Mat& dst)
{
    if (src.empty() || src.type() != CV_8UC1)
        return false;
    const int rows = src.rows / 2;
    const int cols = src.cols / 2;
    dst.create(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r) {
        const uchar* top = src.ptr<uchar>(2 * r);
        const uchar* bottom = src.ptr<uchar>(2 * r + 1);
        uchar* out = dst.ptr<uchar>(r);
        for (int c = 0; c < cols; ++c) {
            const int sum = top[2 * c] + top[2 * c + 1] + bottom[2 * c] + bottom[2 * c + 1];
            out[c] = static_cast<uchar>(static_cast<float>(sum) * 0.25f);
        }
    }
    return true;
}

namespace {

// Sobel gradient of the pixels of region, with the source's own borders
// mirrored; mag may be null when the caller has no use for it.
void gradientOfRegion(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY, cv::Mat* mag,
                      const cv::Rect& region)
{
    const int w = src.cols;
    const int h = src.rows;
    for (int r = region.y; r < region.y + region.height; ++r) {
        // Mirror without repeating the border row, as cv::BORDER_REFLECT_101 does.
        const uchar* a = src.ptr<uchar>(r == 0 ? 1 : r - 1);
        const uchar* b = src.ptr<uchar>(r);
        const uchar* d = src.ptr<uchar>(r == h - 1 ? h - 2 : r + 1);
        float* gx = gradX.ptr<float>(r);
        float* gy = gradY.ptr<float>(r);
        float* m = mag ? mag->ptr<float>(r) : nullptr;

        auto store = [&](int c, int left, int right) {
            const float x = static_cast<float>((a[right] + 2 * b[right] + d[right])
                                               - (a[left] + 2 * b[left] + d[left]));
            const float y = static_cast<float>((d[left] + 2 * d[c] + d[right])
                                               - (a[left] + 2 * a[c] + a[right]));
            const float len = std::sqrt(x * x + y * y);
            // x and y are 0 where len is: dividing by 1 there gives the 0 wanted
            // without a branch.
            const float divisor = len == 0.0f ? 1.0f : len;
            gx[c] = x / divisor;
            gy[c] = y / divisor;
            if (m)
                m[c] = len;
        };

        const int first = region.x;
        const int end = region.x + region.width;
        for (int c = first; c < end; ++c) {
            if (c == 0)
                store(0, 1, 1);
            else if (c == w - 1)
                store(c, w - 2, w - 2);
            else
                store(c, c - 1, c + 1);
        }
    }

    // The mirrored formulas already give 0 there; kept explicit because the
    // search relies on corners never pointing anywhere.
    for (int r : { 0, h - 1 }) {
        for (int c : { 0, w - 1 }) {
            if (!region.contains(cv::Point(c, r)))
                continue;
            gradX.at<float>(r, c) = 0.0f;
            gradY.at<float>(r, c) = 0.0f;
            if (mag)
                mag->at<float>(r, c) = 0.0f;
        }
    }
}

} // namespace

inline bool sobelGradientRegion(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY,
                         const cv::Rect& region)
{
    if (src.empty() || src.type() != CV_8UC1 || src.cols < 3 || src.rows < 3)
        return false;
    gradX.create(src.size(), CV_32FC1);
    gradY.create(src.size(), CV_32FC1);
    const cv::Rect inside = region & cv::Rect(0, 0, src.cols, src.rows);
    if (!inside.empty())
        gradientOfRegion(src, gradX, gradY, nullptr, inside);
    return true;
}

namespace {

// Point positions of one level relative to a candidate centre, made integer
// once per level so that the candidate loop only adds.
struct PlacedPoints {
    std::vector<int> x;
    std::vector<int> y;
    // Smallest admissible pixel coordinate of the point, 0 or 1 (see below).
    std::vector<int> lowX;
    std::vector<int> lowY;
};

// Rounding half away from zero of (centre + offset) for an offset that is a
// whole or half number: whole offsets just add; for a half offset k + 0.5 the
// sum n + 0.5 (n = centre + k) rounds to n + 1 when n >= 0 and to n otherwise,
// and in the latter case the pixel lies left of (above) the image anyway. So the
// point lands at centre + ceil(offset) and counts only from pixel 1 on.
bool placeHalfOffsets(const float* offsets, int count, std::vector<int>& at, std::vector<int>& low)
{
    at.resize(static_cast<size_t>(count));
    low.resize(static_cast<size_t>(count));
    for (int j = 0; j < count; ++j) {
        const float v = offsets[j];
        const float twice = 2.0f * v;
        if (!(std::fabs(v) < 1048576.0f) || twice != std::nearbyint(twice))
            return false;
        if (v == std::floor(v)) {
            at[j] = static_cast<int>(v);
            low[j] = 0;
        } else {
            at[j] = static_cast<int>(std::ceil(v));
            low[j] = 1;
        }
    }
    return true;
}

// Rounds half away from zero; values far outside any image map to a pixel that
// is outside too.
inline int roundToPixel(float v)
{
    if (!(std::fabs(v) < 1.0e9f))
        return std::numeric_limits<int>::min() / 2;
    return static_cast<int>(std::round(v));
}

// The part of the window in which every point of the level lands inside the
// image; there the loop needs no bounds test.
ShapeWindow insideWindow(const std::vector<int>& x, const std::vector<int>& y,
                         const std::vector<int>* lowX, const std::vector<int>* lowY, int width,
                         int height, const ShapeWindow& window)
{
    int needX = std::numeric_limits<int>::min();
    int needY = std::numeric_limits<int>::min();
    int maxX = std::numeric_limits<int>::min();
    int maxY = std::numeric_limits<int>::min();
    for (size_t j = 0; j < x.size(); ++j) {
        needX = std::max(needX, (lowX ? (*lowX)[j] : 0) - x[j]);
        needY = std::max(needY, (lowY ? (*lowY)[j] : 0) - y[j]);
        maxX = std::max(maxX, x[j]);
        maxY = std::max(maxY, y[j]);
    }
    ShapeWindow inside;
    inside.x0 = std::max(window.x0, needX);
    inside.y0 = std::max(window.y0, needY);
    inside.x1 = std::min(window.x1, width - 1 - maxX);
    inside.y1 = std::min(window.y1, height - 1 - maxY);
    return inside;
}

bool inWindow(const ShapeWindow& w, int x, int y)
{
    return x >= w.x0 && x <= w.x1 && y >= w.y0 && y <= w.y1;
}

// Scores one candidate whose points are all inside: linear offsets into the
// gradient images. Summation order and expression match the checked path.
// The candidate's own index (origin) is added to each point's offset rather
// than to the base pointer: the centre itself may lie outside the image.
inline float sumInside(const int* linear, const float* gx, const float* gy, int count,
                       const float* imageX, const float* imageY, int origin)
{
    float sum = 0.0f;
    for (int j = 0; j < count; ++j) {
        const int at = origin + linear[j];
        sum += gy[j] * imageY[at] + gx[j] * imageX[at];
    }
    return sum;
}

bool sameLayout(const cv::Mat& a, const cv::Mat& b)
{
    return a.type() == CV_32FC1 && b.type() == CV_32FC1 && a.size() == b.size()
        && a.step == b.step;
}

int clampedWindowCoordinate(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, std::numeric_limits<int>::min() / 4,
                                                   std::numeric_limits<int>::max() / 4));
}

ShapeWindow topWindow(const ShapeLevel& level, const cv::Mat& image)
{
    ShapeWindow w;
    w.x0 = level.width / 2;
    w.x1 = image.cols - level.width / 2;
    w.y0 = level.height / 2;
    w.y1 = image.rows - level.height / 2;
    return w;
}

ShapeWindow finerWindow(int bestX, int bestY)
{
    ShapeWindow w;
    w.x0 = clampedWindowCoordinate(2LL * bestX - 2);
    w.x1 = clampedWindowCoordinate(2LL * bestX + 2);
    w.y0 = clampedWindowCoordinate(2LL * bestY - 2);
    w.y1 = clampedWindowCoordinate(2LL * bestY + 2);
    return w;
}

// Search pyramid with as many levels as the model. False when there is nothing
// to search: empty or unusable model, search image not 8-bit grey or below
// 3 x 3 on the smallest level, or no position on the smallest level at which
// the template fits.
bool buildSearchPyramid(const ShapeModel& model, const cv::Mat& search,
                        std::vector<cv::Mat>& pyramid)
{
    if (!model.isConsistent() || search.empty() || search.type() != CV_8UC1)
        return false;
    pyramid.assign(static_cast<size_t>(model.levels), cv::Mat());
    pyramid[0] = search;
    for (int i = 1; i < model.levels; ++i)
        baseline::halfSizeImage(pyramid[i - 1], pyramid[i]);
    const cv::Mat& top = pyramid.back();
    if (top.cols < 3 || top.rows < 3)
        return false;
    return !topWindow(model.level.back(), top).isEmpty();
}

// Gradients of a search level, computed only where a candidate of the window
// can place a point: the window grown by the farthest point's distance from
// the centre (which bounds it under every rotation), plus one for rounding.
// On the smallest level that is the whole image anyway.
void levelGradient(const cv::Mat& image, const ShapeLevel& level, const ShapeWindow& window,
                   cv::Mat& gradX, cv::Mat& gradY)
{
    float farthest = 0.0f;
    for (int j = 0; j < level.pointCount; ++j)
        farthest = std::max(farthest, std::hypot(level.xOffsets[j], level.yOffsets[j]));
    const long long reach = static_cast<long long>(std::ceil(std::min(farthest, 1.0e8f))) + 1;
    const long long left = std::max<long long>(0, window.x0 - reach);
    const long long top = std::max<long long>(0, window.y0 - reach);
    const long long right = std::min<long long>(image.cols - 1, window.x1 + reach);
    const long long bottom = std::min<long long>(image.rows - 1, window.y1 + reach);
    cv::Rect region;
    if (left <= right && top <= bottom)
        region = cv::Rect(int(left), int(top), int(right - left + 1), int(bottom - top + 1));
    baseline::sobelGradientRegion(image, gradX, gradY, region);
}

void clearResult(cv::Point2f& position, float& angle, float& score)
{
    position = cv::Point2f(0.0f, 0.0f);
    angle = 0.0f;
    score = 0.0f;
}

} // namespace

inline void scoreShape(const ShapeLevel& level, const cv::Mat& gradX, const cv::Mat& gradY,
                const ShapeWindow& window, int& bestX, int& bestY, float& bestScore)
{
    bestX = 0;
    bestY = 0;
    bestScore = 0.0f;
    const int count = level.pointCount;
    if (count <= 0 || window.isEmpty() || gradX.empty() || gradX.size() != gradY.size()
        || gradX.type() != CV_32FC1 || gradY.type() != CV_32FC1)
        return;
    const int width = gradX.cols;
    const int height = gradX.rows;
    const float* gx = level.gradientX.data();
    const float* gy = level.gradientY.data();
    const float divisor = static_cast<float>(count);

    PlacedPoints placed;
    const bool halves = placeHalfOffsets(level.xOffsets.data(), count, placed.x, placed.lowX)
        && placeHalfOffsets(level.yOffsets.data(), count, placed.y, placed.lowY);

    ShapeWindow inside;
    std::vector<int> linear;
    const int stride = static_cast<int>(gradX.step1());
    if (halves && sameLayout(gradX, gradY))
        inside = insideWindow(placed.x, placed.y, &placed.lowX, &placed.lowY, width, height,
                              window);
    // Only when some candidate has every point inside, which also keeps the
    // linear offsets within the image.
    if (!inside.isEmpty()) {
        linear.resize(static_cast<size_t>(count));
        for (int j = 0; j < count; ++j)
            linear[j] = placed.y[j] * stride + placed.x[j];
    }

    for (int cy = window.y0; cy <= window.y1; ++cy) {
        for (int cx = window.x0; cx <= window.x1; ++cx) {
            float sum = 0.0f;
            if (!linear.empty() && inWindow(inside, cx, cy)) {
                sum = sumInside(linear.data(), gx, gy, count, gradX.ptr<float>(0),
                                gradY.ptr<float>(0), cy * stride + cx);
            } else {
                for (int j = 0; j < count; ++j) {
                    int px, py;
                    if (halves) {
                        px = cx + placed.x[j];
                        py = cy + placed.y[j];
                        if (px < placed.lowX[j] || py < placed.lowY[j])
                            continue;
                    } else {
                        px = roundToPixel(static_cast<float>(cx) + level.xOffsets[j]);
                        py = roundToPixel(static_cast<float>(cy) + level.yOffsets[j]);
                    }
                    if (px < 0 || px >= width || py < 0 || py >= height)
                        continue;
                    sum += gy[j] * gradY.ptr<float>(py)[px] + gx[j] * gradX.ptr<float>(py)[px];
                }
            }
            const float score = sum / divisor;
            if (score > bestScore) {
                bestScore = score;
                bestX = cx;
                bestY = cy;
            }
        }
    }
}

inline void scoreShapeRotated(const int* xOffsets, const int* yOffsets, const float* gradientX,
                       const float* gradientY, int pointCount, const cv::Mat& gradX,
                       const cv::Mat& gradY, const ShapeWindow& window, float threshold,
                       int& bestX, int& bestY, float& bestScore, bool topLevel)
{
    bestX = 0;
    bestY = 0;
    bestScore = 0.0f;
    const int count = pointCount;
    if (count <= 0 || window.isEmpty() || gradX.empty() || gradX.size() != gradY.size()
        || gradX.type() != CV_32FC1 || gradY.type() != CV_32FC1)
        return;
    const int width = gradX.cols;
    const int height = gradX.rows;
    const float divisor = static_cast<float>(count);
    const float needed = divisor * threshold;

    ShapeWindow inside;
    std::vector<int> linear;
    const int stride = static_cast<int>(gradX.step1());
    bool modest = true;
    for (int j = 0; j < count && modest; ++j)
        modest = std::abs(xOffsets[j]) < 1048576 && std::abs(yOffsets[j]) < 1048576;
    if (modest && sameLayout(gradX, gradY)) {
        const std::vector<int> xs(xOffsets, xOffsets + count);
        const std::vector<int> ys(yOffsets, yOffsets + count);
        inside = insideWindow(xs, ys, nullptr, nullptr, width, height, window);
    }
    if (!inside.isEmpty()) {
        linear.resize(static_cast<size_t>(count));
        for (int j = 0; j < count; ++j)
            linear[j] = yOffsets[j] * stride + xOffsets[j];
    }

    for (int cy = window.y0; cy <= window.y1; ++cy) {
        for (int cx = window.x0; cx <= window.x1; ++cx) {
            float sum = 0.0f;
            bool abandoned = false;
            if (!linear.empty() && inWindow(inside, cx, cy)) {
                const float* imageX = gradX.ptr<float>(0);
                const float* imageY = gradY.ptr<float>(0);
                const int origin = cy * stride + cx;
                if (!topLevel) {
                    sum = sumInside(linear.data(), gradientX, gradientY, count, imageX, imageY,
                                    origin);
                } else {
                    for (int j = 0; j < count; ++j) {
                        const int at = origin + linear[j];
                        sum += gradientY[j] * imageY[at] + gradientX[j] * imageX[at];
                        if (static_cast<float>(count - j) + sum < needed) {
                            abandoned = true;
                            break;
                        }
                    }
                }
            } else {
                for (int j = 0; j < count; ++j) {
                    const long long px = static_cast<long long>(cx) + xOffsets[j];
                    const long long py = static_cast<long long>(cy) + yOffsets[j];
                    if (px < 0 || px >= width || py < 0 || py >= height)
                        continue;
                    sum += gradientY[j] * gradY.ptr<float>(static_cast<int>(py))[px]
                        + gradientX[j] * gradX.ptr<float>(static_cast<int>(py))[px];
                    if (topLevel && static_cast<float>(count - j) + sum < needed) {
                        abandoned = true;
                        break;
                    }
                }
            }
            const float score = abandoned ? 0.0f : sum / divisor;
            if (score > bestScore) {
                bestScore = score;
                bestX = cx;
                bestY = cy;
            }
        }
    }
}

inline bool searchShape(const ShapeModel& model, const cv::Mat& search, const ShapeSearchParams& params,
                 cv::Point2f& position, float& angle, float& score)
{
    (void)params;
    clearResult(position, angle, score);
    std::vector<cv::Mat> pyramid;
    if (!buildSearchPyramid(model, search, pyramid))
        return false;

    cv::Mat gradX, gradY;
    int bestX = 0;
    int bestY = 0;
    for (int lvl = model.levels - 1; lvl >= 0; --lvl) {
        const cv::Mat& image = pyramid[lvl];
        const ShapeWindow window = lvl == model.levels - 1
            ? topWindow(model.level[lvl], image)
            : finerWindow(bestX, bestY);
        levelGradient(image, model.level[lvl], window, gradX, gradY);
        float best = 0.0f;
        baseline::scoreShape(model.level[lvl], gradX, gradY, window, bestX, bestY, best);
        position = cv::Point2f(static_cast<float>(bestX), static_cast<float>(bestY));
        angle = 0.0f;
        score = best;
    }
    return true;
}

// One level's points and gradients turned by a degrees, into out arrays of
// the level's point count.
inline void turnLevel(const ShapeLevel& level, float a, int* rx, int* ry, float* rgx, float* rgy)
{
    const double radians = static_cast<double>(a) * CV_PI / 180.0;
    const float c = static_cast<float>(std::cos(radians));
    const float s = static_cast<float>(std::sin(radians));
    for (int j = 0; j < level.pointCount; ++j) {
        const float x = level.xOffsets[j];
        const float y = level.yOffsets[j];
        rx[j] = roundToPixel(x * c - y * s);
        ry[j] = roundToPixel(x * s + y * c);
        const float gx = level.gradientX[j];
        const float gy = level.gradientY[j];
        rgx[j] = gx * c - gy * s;
        rgy[j] = gx * s + gy * c;
    }
}

inline bool searchShapeRotated(const ShapeModel& model, const cv::Mat& search,
                        const ShapeSearchParams& params, cv::Point2f& position, float& angle,
                        float& score, ShapeAngleTable* table)
{
    clearResult(position, angle, score);
    const int top = model.levels - 1;
    if (shapeAngleCount(params.angleStart, params.angleEnd,
                        params.angleStep * static_cast<float>(1 << std::clamp(top, 0, 20)))
        < 0)
        return false;
    std::vector<cv::Mat> pyramid;
    if (!buildSearchPyramid(model, search, pyramid))
        return false;

    std::vector<float> steps(static_cast<size_t>(model.levels));
    steps[0] = params.angleStep;
    for (int i = 1; i < model.levels; ++i)
        steps[i] = steps[i - 1] * 2.0f;

    cv::Mat gradX, gradY;
    std::vector<int> rx, ry;
    std::vector<float> rgx, rgy;
    int bestX = 0;
    int bestY = 0;
    float bestAngle = 0.0f;
    for (int lvl = top; lvl >= 0; --lvl) {
        const cv::Mat& image = pyramid[lvl];
        const ShapeLevel& level = model.level[lvl];
        const bool isTop = lvl == top;
        const ShapeWindow window = isTop ? topWindow(level, image) : finerWindow(bestX, bestY);
        levelGradient(image, level, window, gradX, gradY);

        const float step = steps[lvl];
        float start = params.angleStart;
        float end = params.angleEnd;
        if (!isTop) {
            const float reach = 2.0f * steps[lvl + 1];
            start = bestAngle - reach;
            end = bestAngle + reach;
        }
        const int angles = std::max(0, shapeAngleCount(start, end, step));

        const int count = level.pointCount;
        rx.resize(static_cast<size_t>(count));
        ry.resize(static_cast<size_t>(count));
        rgx.resize(static_cast<size_t>(count));
        rgy.resize(static_cast<size_t>(count));

        int levelX = 0;
        int levelY = 0;
        float levelAngle = 0.0f;
        float levelScore = 0.0f;
        const bool tabled = isTop && table != nullptr && count > 0;
        if (tabled
            && (table->levelPoints != level.xOffsets.data() || table->count != count
                || table->start != start || table->step != step || table->angles != angles)) {
            table->clear();
            const size_t size = static_cast<size_t>(angles) * static_cast<size_t>(count);
            table->x.resize(size);
            table->y.resize(size);
            table->gradientX.resize(size);
            table->gradientY.resize(size);
            for (int f = 0; f < angles; ++f) {
                const size_t at = static_cast<size_t>(f) * static_cast<size_t>(count);
                baseline::turnLevel(level, start + static_cast<float>(f) * step, &table->x[at],
                          &table->y[at], &table->gradientX[at], &table->gradientY[at]);
            }
            table->levelPoints = level.xOffsets.data();
            table->count = count;
            table->start = start;
            table->step = step;
            table->angles = angles;
        }
        for (int f = 0; f < angles; ++f) {
            const float a = start + static_cast<float>(f) * step;
            const int* px = rx.data();
            const int* py = ry.data();
            const float* pgx = rgx.data();
            const float* pgy = rgy.data();
            if (tabled) {
                const size_t at = static_cast<size_t>(f) * static_cast<size_t>(count);
                px = &table->x[at];
                py = &table->y[at];
                pgx = &table->gradientX[at];
                pgy = &table->gradientY[at];
            } else {
                baseline::turnLevel(level, a, rx.data(), ry.data(), rgx.data(), rgy.data());
            }
            int x = 0;
            int y = 0;
            float value = 0.0f;
            // Only the top level abandons early, against the best of the
            // angles already tried; finer levels score every candidate.
            baseline::scoreShapeRotated(px, py, pgx, pgy, count, gradX, gradY,
                              window, isTop ? levelScore : 0.0f, x, y, value, isTop);
            if (value > levelScore) {
                levelScore = value;
                levelX = x;
                levelY = y;
                levelAngle = a;
            }
        }
        bestX = levelX;
        bestY = levelY;
        bestAngle = levelAngle;
        position = cv::Point2f(static_cast<float>(bestX), static_cast<float>(bestY));
        angle = bestAngle;
        score = levelScore;
    }
    return true;
}

inline bool findShape(const cv::Mat& search, const ShapeModel& model, const ShapeSearchParams& params,
               bool rotate, cv::Point2f& position, float& angle, ShapeAngleTable* table)
{
    position = cv::Point2f(0.0f, 0.0f);
    angle = 0.0f;
    float score = -1.0f;
    const bool searched = rotate ? baseline::searchShapeRotated(model, search, params, position, angle, score, table)
                                 : baseline::searchShape(model, search, params, position, angle, score);
    // A score of 0 means no candidate agreed at all and leaves the meaningless
    // position (0, 0): never a find, whatever minimum the caller asks for.
    if (!searched || !(score > 0.0f) || std::isnan(params.minScore) || params.minScore > score) {
        position = cv::Point2f(0.0f, 0.0f);
        angle = 0.0f;
        return false;
    }
    return true;
}

namespace detail {
inline bool overlaps(const cv::Mat& a, const cv::Mat& b)
{
    return a.datastart < b.dataend && b.datastart < a.dataend;
}
} // namespace detail

inline bool rotateImage(cv::Mat src, cv::Mat& dst, int shiftX, int shiftY, int centreX, int centreY,
                 double angle)
{
    if (src.empty()) {
        return false;
    }
    const int width = src.cols;
    const int height = src.rows;
    // The frame is shifted and turned within a canvas grown by about a fifth
    // of its larger side on each side; what a shift pushes beyond that canvas
    // is dropped before the turn. Only the source pixels that stay on the
    // canvas take part, and they are sampled straight from the frame: no
    // padded copy, shifted copy or crop is made.
    const int side = static_cast<int>(std::max(width, height) * 1.414);
    const int padX = std::max(0, (side - width) / 2);
    const int padY = std::max(0, (side - height) / 2);
    const qint64 left = std::max<qint64>(0, -qint64(padX) - shiftX);
    const qint64 top = std::max<qint64>(0, -qint64(padY) - shiftY);
    const qint64 right = std::min<qint64>(width, qint64(width) + padX - shiftX);
    const qint64 bottom = std::min<qint64>(height, qint64(height) + padY - shiftY);

    if (detail::overlaps(src, dst)) {
        // The turn reads the source while it writes the result.
        src = src.clone();
    }
    dst.create(src.size(), src.type());
    if (left >= right || top >= bottom) {
        dst.setTo(cv::Scalar::all(0));
        return true;
    }
    const cv::Mat kept = src(cv::Rect(int(left), int(top), int(right - left), int(bottom - top)));

    // The sampling positions are those the turn of the whole canvas takes,
    // in the same fixed point as cv::warpAffine (1/1024 pixel, rounded to
    // 1/32 for the interpolation weights) and counted from the canvas's
    // origin: the rounding then falls exactly as it always did, and the
    // judged frame does not change by a grey level anywhere.
    const cv::Mat rotation = cv::getRotationMatrix2D(
        cv::Point2f(static_cast<float>(qint64(centreX) + padX), static_cast<float>(qint64(centreY) + padY)),
        angle, 1.0);
    double m[6];
    for (int k = 0; k < 6; ++k) {
        m[k] = rotation.at<double>(k / 3, k % 3);
    }
    {
        double d = m[0] * m[4] - m[1] * m[3];
        d = d != 0.0 ? 1.0 / d : 0.0;
        const double a11 = m[4] * d;
        const double a22 = m[0] * d;
        m[0] = a11;
        m[1] *= -d;
        m[3] *= -d;
        m[4] = a22;
        const double b1 = -m[0] * m[2] - m[1] * m[5];
        const double b2 = -m[3] * m[2] - m[4] * m[5];
        m[2] = b1;
        m[5] = b2;
    }
    constexpr int kAbBits = 10;
    constexpr int kAbScale = 1 << kAbBits;
    constexpr int kTabBits = 5;
    constexpr int kTabSize = 1 << kTabBits;
    constexpr int kRoundDelta = kAbScale / kTabSize / 2;
    // Canvas position of a kept pixel minus its place in kept.
    const int offsetX = int(qint64(padX) + shiftX + left);
    const int offsetY = int(qint64(padY) + shiftY + top);

    std::vector<int> adelta(static_cast<size_t>(width));
    std::vector<int> bdelta(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        const int q = x + padX;
        adelta[size_t(x)] = cv::saturate_cast<int>(m[0] * q * kAbScale);
        bdelta[size_t(x)] = cv::saturate_cast<int>(m[3] * q * kAbScale);
    }
    // A band of rows at a time keeps the coordinate maps small.
    constexpr int kBand = 32;
    cv::Mat xy(std::min(kBand, height), width, CV_16SC2);
    cv::Mat weights(std::min(kBand, height), width, CV_16UC1);
    for (int y0 = 0; y0 < height; y0 += kBand) {
        const int rows = std::min(kBand, height - y0);
        for (int r = 0; r < rows; ++r) {
            const int q = y0 + r + padY;
            const int X0 = cv::saturate_cast<int>((m[1] * q + m[2]) * kAbScale) + kRoundDelta;
            const int Y0 = cv::saturate_cast<int>((m[4] * q + m[5]) * kAbScale) + kRoundDelta;
            short* outXY = xy.ptr<short>(r);
            ushort* outW = weights.ptr<ushort>(r);
            const int* ad = adelta.data();
            const int* bd = bdelta.data();
            // Written without branches (clamps and selects in place of the
            // saturating casts), so the compiler can run it on vectors.
            for (int x = 0; x < width; ++x) {
                const int X = (X0 + ad[x]) >> (kAbBits - kTabBits);
                const int Y = (Y0 + bd[x]) >> (kAbBits - kTabBits);
                // Canvas positions beyond a short stay out of reach, as they were.
                const int cx = std::min(std::max(X >> kTabBits, SHRT_MIN), SHRT_MAX);
                const int cy = std::min(std::max(Y >> kTabBits, SHRT_MIN), SHRT_MAX);
                const int kx = std::min(std::max(cx - offsetX, SHRT_MIN), SHRT_MAX);
                const int ky = std::min(std::max(cy - offsetY, SHRT_MIN), SHRT_MAX);
                outXY[2 * x] = short(cx == SHRT_MIN || cx == SHRT_MAX ? cx : kx);
                outXY[2 * x + 1] = short(cy == SHRT_MIN || cy == SHRT_MAX ? cy : ky);
                outW[x] = ushort((Y & (kTabSize - 1)) * kTabSize + (X & (kTabSize - 1)));
            }
        }
        cv::Mat band = dst.rowRange(y0, y0 + rows);
        cv::remap(kept, band, xy.rowRange(0, rows), weights.rowRange(0, rows), cv::INTER_LINEAR,
                  cv::BORDER_CONSTANT, cv::Scalar::all(0));
    }
    return true;
}

} // namespace baseline
