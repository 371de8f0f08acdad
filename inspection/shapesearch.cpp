#include "shapesearch.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

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
    // std::round without the library call: the truncated value and the
    // remainder are both exact in single precision, so a remainder of a half
    // or more (either sign) rounds away from zero exactly as std::round does.
    const int whole = static_cast<int>(v);
    const float rest = v - static_cast<float>(whole);
    return whole + (rest >= 0.5f ? 1 : 0) - (rest <= -0.5f ? 1 : 0);
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

#if defined(__GNUC__)
#define KORVANE_SHAPE_VECTORS 1
typedef float Float4 __attribute__((vector_size(16)));

inline Float4 load4(const float* p)
{
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// sumInside for four neighbouring candidates of a row (origins origin to
// origin + 3) on each of Rows rows (origins a stride apart): each lane adds
// exactly the terms sumInside adds, in the same order and grouping, so every
// lane's sum is bit for bit the one sumInside gives its candidate. A point
// reads four neighbouring pixels, one load, and the rows' sums are
// independent chains the processor overlaps.
template <int Rows>
void sumInside4(const int* linear, const float* gx, const float* gy, int count,
                const float* imageX, const float* imageY, int origin, int stride, float* out,
                int outStride)
{
    Float4 sum[Rows];
    for (int r = 0; r < Rows; ++r)
        sum[r] = Float4{ 0.0f, 0.0f, 0.0f, 0.0f };
    for (int j = 0; j < count; ++j) {
        const int at = origin + linear[j];
        const float wx = gx[j];
        const float wy = gy[j];
        for (int r = 0; r < Rows; ++r) {
            const Float4 y = load4(imageY + at + r * stride);
            const Float4 x = load4(imageX + at + r * stride);
            sum[r] += wy * y + wx * x;
        }
    }
    for (int r = 0; r < Rows; ++r)
        std::memcpy(out + r * outStride, &sum[r], sizeof sum[r]);
}
#else
#define KORVANE_SHAPE_VECTORS 0
#endif

// Sums of every candidate of the part of a window where all points land
// inside, four neighbouring candidates at a time, into sums (the window's
// candidates row by row). A row narrower than four candidates is left to the
// caller; done marks what was written. False when nothing was.
bool sumInsideBlock(const int* linear, const float* gx, const float* gy, int count,
                    const float* imageX, const float* imageY, int stride,
                    const ShapeWindow& window, const ShapeWindow& inside, float* sums,
                    unsigned char* done)
{
#if KORVANE_SHAPE_VECTORS
    const int across = window.x1 - window.x0 + 1;
    if (inside.isEmpty() || inside.x1 - inside.x0 + 1 < 4)
        return false;
    for (int cy = inside.y0; cy <= inside.y1; cy += 4) {
        const int rows = std::min(4, inside.y1 - cy + 1);
        for (int cx = inside.x0; cx <= inside.x1; cx += 4) {
            // The last group of a row ends at the row's last candidate and
            // may cover some candidates again, with the same sums.
            const int x = std::min(cx, inside.x1 - 3);
            const int origin = cy * stride + x;
            const int at = (cy - window.y0) * across + (x - window.x0);
            float* out = sums + at;
            switch (rows) {
            case 4: sumInside4<4>(linear, gx, gy, count, imageX, imageY, origin, stride, out, across); break;
            case 3: sumInside4<3>(linear, gx, gy, count, imageX, imageY, origin, stride, out, across); break;
            case 2: sumInside4<2>(linear, gx, gy, count, imageX, imageY, origin, stride, out, across); break;
            default: sumInside4<1>(linear, gx, gy, count, imageX, imageY, origin, stride, out, across); break;
            }
            for (int r = 0; r < rows; ++r)
                std::memset(done + at + r * across, 1, 4);
        }
    }
    return true;
#else
    (void)linear; (void)gx; (void)gy; (void)count; (void)imageX; (void)imageY; (void)stride;
    (void)window; (void)inside; (void)sums; (void)done;
    return false;
#endif
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
    // Levels of the previous frame are kept: halfSizeImage writes into them
    // in place when the size is the same.
    pyramid.resize(static_cast<size_t>(model.levels));
    pyramid[0] = search;
    for (int i = 1; i < model.levels; ++i)
        halfSizeImage(pyramid[i - 1], pyramid[i]);
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
    // The farthest squared distance first, one root after: the root is
    // monotonic, and the region only has to cover what the points reach.
    float farthestSquared = 0.0f;
    for (int j = 0; j < level.pointCount; ++j) {
        const float x = level.xOffsets[j];
        const float y = level.yOffsets[j];
        farthestSquared = std::max(farthestSquared, x * x + y * y);
    }
    const float farthest = std::sqrt(farthestSquared);
    const long long reach = static_cast<long long>(std::ceil(std::min(farthest, 1.0e8f))) + 1;
    const long long left = std::max<long long>(0, window.x0 - reach);
    const long long top = std::max<long long>(0, window.y0 - reach);
    const long long right = std::min<long long>(image.cols - 1, window.x1 + reach);
    const long long bottom = std::min<long long>(image.rows - 1, window.y1 + reach);
    cv::Rect region;
    if (left <= right && top <= bottom)
        region = cv::Rect(int(left), int(top), int(right - left + 1), int(bottom - top + 1));
    sobelGradientRegion(image, gradX, gradY, region);
}

// Gradients of a finer level where its candidates read them, and nowhere
// else. The candidates of a finer level are the 5 x 5 positions about the
// coarser best and a handful of angles, so every point of the model reads a
// small patch, and together they read a band a few pixels wide along the
// template's edges instead of the whole template's reach. The pixels are
// marked at the window's first candidate for every turned point, the marks
// spread over the window's extent, and the gradient is computed at the marked
// pixels only, with exactly the values of a whole-region computation. False
// when the marks would need more room than the level itself (huge offsets or
// windows of a damaged model): the caller then computes the whole region.
bool bandGradient(const cv::Mat& image, const ShapeWindow& window, const int* xs, const int* ys,
                  size_t n, cv::Mat& gradX, cv::Mat& gradY, cv::Mat& marks, cv::Mat& band)
{
    if (window.isEmpty() || n == 0)
        return false;
    int lowX = std::numeric_limits<int>::max();
    int lowY = lowX;
    int highX = std::numeric_limits<int>::min();
    int highY = highX;
    for (size_t k = 0; k < n; ++k) {
        lowX = std::min(lowX, xs[k]);
        highX = std::max(highX, xs[k]);
        lowY = std::min(lowY, ys[k]);
        highY = std::max(highY, ys[k]);
    }
    const long long minX = lowX;
    const long long maxX = highX;
    const long long minY = lowY;
    const long long maxY = highY;
    const long long spanX = static_cast<long long>(window.x1) - window.x0 + 1;
    const long long spanY = static_cast<long long>(window.y1) - window.y0 + 1;
    // The rectangle every read pixel lies in, before clipping to the image.
    const long long left = window.x0 + minX;
    const long long top = window.y0 + minY;
    const long long width = maxX - minX + spanX;
    const long long height = maxY - minY + spanY;
    const long long room = static_cast<long long>(image.cols) * image.rows;
    if (spanX > 64 || spanY > 64 || width > 4LL * image.cols + 64 || height > 4LL * image.rows + 64
        || width * height > 4 * room + 4096)
        return false;
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);

    // Marks at the first candidate of the window.
    marks.create(h, w, CV_8UC1);
    marks.setTo(0);
    for (size_t k = 0; k < n; ++k)
        marks.at<uchar>(static_cast<int>(ys[k] - minY), static_cast<int>(xs[k] - minX)) = 1;

    // Spread over the window: a pixel is read when a mark lies within the
    // window's extent above and left of it. Rows first, into band, then the
    // columns in place, from the bottom up.
    const int sx = static_cast<int>(spanX);
    const int sy = static_cast<int>(spanY);
    marks.copyTo(band);
    for (int r = 0; r < h; ++r) {
        const uchar* in = marks.ptr<uchar>(r);
        uchar* out = band.ptr<uchar>(r);
        for (int k = 1; k < sx; ++k)
            for (int c = k; c < w; ++c)
                out[c] |= in[c - k];
    }
    for (int r = h - 1; r >= 0; --r) {
        uchar* out = band.ptr<uchar>(r);
        for (int k = std::max(0, r - sy + 1); k < r; ++k) {
            const uchar* in = band.ptr<uchar>(k);
            for (int c = 0; c < w; ++c)
                out[c] |= in[c];
        }
    }
    const cv::Rect region(static_cast<int>(std::clamp<long long>(left, INT_MIN / 2, INT_MAX / 2)),
                          static_cast<int>(std::clamp<long long>(top, INT_MIN / 2, INT_MAX / 2)), w, h);
    return sobelGradientWhere(image, gradX, gradY, region, band);
}

// Lets go of the caller's image, which the kept pyramid holds as its first
// level during a search only.
struct CallerImageRelease {
    std::vector<cv::Mat>& pyramid;
    ~CallerImageRelease()
    {
        if (!pyramid.empty())
            pyramid[0].release();
    }
};

void clearResult(cv::Point2f& position, float& angle, float& score)
{
    position = cv::Point2f(0.0f, 0.0f);
    angle = 0.0f;
    score = 0.0f;
}

} // namespace

int shapeAngleCount(float start, float end, float step)
{
    if (!(step > 0.0f) || !std::isfinite(start) || !std::isfinite(end))
        return -1;
    const float steps = (end - start) / step;
    // A walk of more than a million angles is a parameter fault, not a search.
    if (!std::isfinite(steps) || steps > 1.0e6f)
        return -1;
    // A backward range walks nothing (a quotient just below 0 still truncates
    // to 0 and walks the start angle alone).
    if (steps <= -1.0f)
        return 0;
    return static_cast<int>(steps) + 1;
}

void scoreShape(const ShapeLevel& level, const cv::Mat& gradX, const cv::Mat& gradY,
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

    // The candidates where every point lands inside, four neighbours at a
    // time first.
    std::vector<float> sums;
    std::vector<unsigned char> done;
    const long long across = static_cast<long long>(window.x1) - window.x0 + 1;
    const long long down = static_cast<long long>(window.y1) - window.y0 + 1;
    if (!linear.empty() && across * down <= 65536) {
        sums.assign(static_cast<size_t>(across * down), 0.0f);
        done.assign(static_cast<size_t>(across * down), 0);
        if (!sumInsideBlock(linear.data(), gx, gy, count, gradX.ptr<float>(0), gradY.ptr<float>(0),
                            stride, window, inside, sums.data(), done.data()))
            done.clear();
    }

    for (int cy = window.y0; cy <= window.y1; ++cy) {
        for (int cx = window.x0; cx <= window.x1; ++cx) {
            float sum = 0.0f;
            const size_t candidate = done.empty()
                ? 0
                : static_cast<size_t>((cy - window.y0) * across + (cx - window.x0));
            if (!done.empty() && done[candidate]) {
                sum = sums[candidate];
            } else if (!linear.empty() && inWindow(inside, cx, cy)) {
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

void scoreShapeRotated(const int* xOffsets, const int* yOffsets, const float* gradientX,
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

    // A finer level scores every candidate in full: the candidates where
    // every point lands inside are summed four neighbours at a time first.
    std::vector<float> sums;
    std::vector<unsigned char> done;
    const long long across = static_cast<long long>(window.x1) - window.x0 + 1;
    const long long down = static_cast<long long>(window.y1) - window.y0 + 1;
    if (!topLevel && !linear.empty() && across * down <= 65536) {
        sums.assign(static_cast<size_t>(across * down), 0.0f);
        done.assign(static_cast<size_t>(across * down), 0);
        if (!sumInsideBlock(linear.data(), gradientX, gradientY, count, gradX.ptr<float>(0),
                            gradY.ptr<float>(0), stride, window, inside, sums.data(), done.data()))
            done.clear();
    }

    for (int cy = window.y0; cy <= window.y1; ++cy) {
        for (int cx = window.x0; cx <= window.x1; ++cx) {
            float sum = 0.0f;
            bool abandoned = false;
            const size_t candidate = done.empty()
                ? 0
                : static_cast<size_t>((cy - window.y0) * across + (cx - window.x0));
            if (!done.empty() && done[candidate]) {
                sum = sums[candidate];
            } else if (!linear.empty() && inWindow(inside, cx, cy)) {
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

bool searchShape(const ShapeModel& model, const cv::Mat& search, const ShapeSearchParams& params,
                 cv::Point2f& position, float& angle, float& score, ShapeAngleTable* table)
{
    (void)params;
    clearResult(position, angle, score);
    ShapeAngleTable local;
    ShapeAngleTable& work = table ? *table : local;
    std::vector<cv::Mat>& pyramid = work.pyramid;
    const CallerImageRelease release{ pyramid };
    if (!buildSearchPyramid(model, search, pyramid))
        return false;
    work.levelGradientX.resize(static_cast<size_t>(model.levels));
    work.levelGradientY.resize(static_cast<size_t>(model.levels));

    int bestX = 0;
    int bestY = 0;
    for (int lvl = model.levels - 1; lvl >= 0; --lvl) {
        const cv::Mat& image = pyramid[lvl];
        const ShapeLevel& level = model.level[lvl];
        const bool isTop = lvl == model.levels - 1;
        const ShapeWindow window = isTop ? topWindow(level, image) : finerWindow(bestX, bestY);
        cv::Mat& gradX = work.levelGradientX[static_cast<size_t>(lvl)];
        cv::Mat& gradY = work.levelGradientY[static_cast<size_t>(lvl)];
        // A finer level reads its points at the window's positions only: its
        // band, as with rotation. The points land at whole offsets from the
        // centre (scoreShape places half offsets the same way); other
        // offsets, which no model of ours has, take the whole region.
        bool banded = false;
        if (!isTop && level.pointCount > 0) {
            PlacedPoints placed;
            if (placeHalfOffsets(level.xOffsets.data(), level.pointCount, placed.x, placed.lowX)
                && placeHalfOffsets(level.yOffsets.data(), level.pointCount, placed.y, placed.lowY))
                banded = bandGradient(image, window, placed.x.data(), placed.y.data(), placed.x.size(),
                                      gradX, gradY, work.marks, work.band);
        }
        if (!banded)
            levelGradient(image, level, window, gradX, gradY);
        float best = 0.0f;
        scoreShape(level, gradX, gradY, window, bestX, bestY, best);
        position = cv::Point2f(static_cast<float>(bestX), static_cast<float>(bestY));
        angle = 0.0f;
        score = best;
    }
    return true;
}

// One level's points and gradients turned by a degrees, into out arrays of
// the level's point count.
static void turnLevel(const ShapeLevel& level, float a, int* rx, int* ry, float* rgx, float* rgy)
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

bool searchShapeRotated(const ShapeModel& model, const cv::Mat& search,
                        const ShapeSearchParams& params, cv::Point2f& position, float& angle,
                        float& score, ShapeAngleTable* table)
{
    clearResult(position, angle, score);
    const int top = model.levels - 1;
    if (shapeAngleCount(params.angleStart, params.angleEnd,
                        params.angleStep * static_cast<float>(1 << std::clamp(top, 0, 20)))
        < 0)
        return false;
    ShapeAngleTable local;
    ShapeAngleTable& work = table ? *table : local;
    std::vector<cv::Mat>& pyramid = work.pyramid;
    const CallerImageRelease release{ pyramid };
    if (!buildSearchPyramid(model, search, pyramid))
        return false;
    work.levelGradientX.resize(static_cast<size_t>(model.levels));
    work.levelGradientY.resize(static_cast<size_t>(model.levels));

    std::vector<float> steps(static_cast<size_t>(model.levels));
    steps[0] = params.angleStep;
    for (int i = 1; i < model.levels; ++i)
        steps[i] = steps[i - 1] * 2.0f;

    int bestX = 0;
    int bestY = 0;
    float bestAngle = 0.0f;
    for (int lvl = top; lvl >= 0; --lvl) {
        const cv::Mat& image = pyramid[lvl];
        const ShapeLevel& level = model.level[lvl];
        const bool isTop = lvl == top;
        const ShapeWindow window = isTop ? topWindow(level, image) : finerWindow(bestX, bestY);
        cv::Mat& gradX = work.levelGradientX[static_cast<size_t>(lvl)];
        cv::Mat& gradY = work.levelGradientY[static_cast<size_t>(lvl)];

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

        int levelX = 0;
        int levelY = 0;
        float levelAngle = 0.0f;
        float levelScore = 0.0f;
        const bool tabled = isTop && table != nullptr && count > 0;
        if (tabled
            && (table->levelPoints != level.xOffsets.data() || table->count != count
                || table->start != start || table->step != step || table->angles != angles)) {
            // Every turned entry and the identity are written below; the
            // working images stay.
            const size_t size = static_cast<size_t>(angles) * static_cast<size_t>(count);
            table->x.resize(size);
            table->y.resize(size);
            table->gradientX.resize(size);
            table->gradientY.resize(size);
            for (int f = 0; f < angles; ++f) {
                const size_t at = static_cast<size_t>(f) * static_cast<size_t>(count);
                turnLevel(level, start + static_cast<float>(f) * step, &table->x[at],
                          &table->y[at], &table->gradientX[at], &table->gradientY[at]);
            }
            table->levelPoints = level.xOffsets.data();
            table->count = count;
            table->start = start;
            table->step = step;
            table->angles = angles;
        }
        // The points turned to every angle of the level: from the kept table
        // on the top level; on a finer level (a handful of angles) turned
        // here for this frame, all before scoring, since they tell which
        // pixels the level reads; without a table the top level turns them
        // angle by angle, as its ladder may be long.
        const bool perAngle = isTop && !tabled;
        const size_t turnedSize
            = static_cast<size_t>(perAngle ? std::min(angles, 1) : angles) * static_cast<size_t>(count);
        const int* turnedX = nullptr;
        const int* turnedY = nullptr;
        const float* turnedGX = nullptr;
        const float* turnedGY = nullptr;
        if (tabled) {
            turnedX = table->x.data();
            turnedY = table->y.data();
            turnedGX = table->gradientX.data();
            turnedGY = table->gradientY.data();
        } else {
            work.turnedX.resize(turnedSize);
            work.turnedY.resize(turnedSize);
            work.turnedGradientX.resize(turnedSize);
            work.turnedGradientY.resize(turnedSize);
            for (int f = 0; f < angles && !perAngle; ++f) {
                const size_t at = static_cast<size_t>(f) * static_cast<size_t>(count);
                turnLevel(level, start + static_cast<float>(f) * step, &work.turnedX[at],
                          &work.turnedY[at], &work.turnedGradientX[at], &work.turnedGradientY[at]);
            }
            turnedX = work.turnedX.data();
            turnedY = work.turnedY.data();
            turnedGX = work.turnedGradientX.data();
            turnedGY = work.turnedGradientY.data();
        }

        // The top level is small and its window spans it: its gradients are
        // computed whole. A finer level computes the band its candidates read.
        if (isTop
            || !bandGradient(image, window, turnedX, turnedY, turnedSize, gradX, gradY, work.marks,
                             work.band))
            levelGradient(image, level, window, gradX, gradY);

        for (int f = 0; f < angles; ++f) {
            const float a = start + static_cast<float>(f) * step;
            size_t at = static_cast<size_t>(f) * static_cast<size_t>(count);
            if (perAngle) {
                at = 0;
                turnLevel(level, a, work.turnedX.data(), work.turnedY.data(),
                          work.turnedGradientX.data(), work.turnedGradientY.data());
            }
            const int* px = turnedX + at;
            const int* py = turnedY + at;
            const float* pgx = turnedGX + at;
            const float* pgy = turnedGY + at;
            int x = 0;
            int y = 0;
            float value = 0.0f;
            // Only the top level abandons early, against the best of the
            // angles already tried; finer levels score every candidate.
            scoreShapeRotated(px, py, pgx, pgy, count, gradX, gradY,
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

bool findShape(const cv::Mat& search, const ShapeModel& model, const ShapeSearchParams& params,
               bool rotate, cv::Point2f& position, float& angle, ShapeAngleTable* table)
{
    position = cv::Point2f(0.0f, 0.0f);
    angle = 0.0f;
    float score = -1.0f;
    const bool searched = rotate ? searchShapeRotated(model, search, params, position, angle, score, table)
                                 : searchShape(model, search, params, position, angle, score, table);
    // A score of 0 means no candidate agreed at all and leaves the meaningless
    // position (0, 0): never a find, whatever minimum the caller asks for.
    if (!searched || !(score > 0.0f) || std::isnan(params.minScore) || params.minScore > score) {
        position = cv::Point2f(0.0f, 0.0f);
        angle = 0.0f;
        return false;
    }
    return true;
}
