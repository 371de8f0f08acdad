#include "shapemodel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

void ShapeModel::clear()
{
    levels = 0;
    level.clear();
    level.shrink_to_fit();
}

bool ShapeModel::isConsistent() const
{
    if (levels < 1 || static_cast<int>(level.size()) != levels)
        return false;
    for (const ShapeLevel& l : level) {
        if (l.width < 1 || l.height < 1 || l.pointCount < 0)
            return false;
        const size_t n = static_cast<size_t>(l.pointCount);
        if (l.xOffsets.size() < n || l.yOffsets.size() < n || l.gradientX.size() < n
            || l.gradientY.size() < n)
            return false;
    }
    return true;
}

int shapeLevelCount(int width, int height)
{
    const long long smaller = std::min(width, height);
    long long value = 15;
    int levels = 0;
    do {
        value *= 2;
        ++levels;
    } while (value <= smaller);
    return levels;
}

bool halfSizeImage(const cv::Mat& src, cv::Mat& dst)
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
        // A quarter of the sum, truncated: the sum (at most 1020) and its
        // quarter are exact in single precision, so this is the sum shifted
        // by two.
        for (int c = 0; c < cols; ++c) {
            const int sum = top[2 * c] + top[2 * c + 1] + bottom[2 * c] + bottom[2 * c + 1];
            out[c] = static_cast<uchar>(sum >> 2);
        }
    }
    return true;
}

namespace {

// One Sobel gradient, normalised, from the rows above (a), at (b) and below
// (d) the pixel, with left and right its neighbours' columns.
inline void gradientAt(const uchar* a, const uchar* b, const uchar* d, int c, int left, int right,
                       float* gx, float* gy, float* m)
{
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
}

// Columns [first, end) of row r. The inner columns run in a loop of their
// own without the border cases, which the compiler turns into vector code;
// square root and division are exact in either form, so the values do not
// depend on which columns share a vector.
void gradientOfRun(const cv::Mat& src, int r, int first, int end, float* gx, float* gy, float* m)
{
    const int w = src.cols;
    const int h = src.rows;
    // Mirror without repeating the border row, as cv::BORDER_REFLECT_101 does.
    const uchar* a = src.ptr<uchar>(r == 0 ? 1 : r - 1);
    const uchar* b = src.ptr<uchar>(r);
    const uchar* d = src.ptr<uchar>(r == h - 1 ? h - 2 : r + 1);
    int c = first;
    if (c == 0 && c < end) {
        gradientAt(a, b, d, 0, 1, 1, gx, gy, m);
        ++c;
    }
    const int inner = std::min(end, w - 1);
    if (m) {
        for (; c < inner; ++c)
            gradientAt(a, b, d, c, c - 1, c + 1, gx, gy, m);
    } else {
        for (; c < inner; ++c) {
            const float x = static_cast<float>((a[c + 1] + 2 * b[c + 1] + d[c + 1])
                                               - (a[c - 1] + 2 * b[c - 1] + d[c - 1]));
            const float y = static_cast<float>((d[c - 1] + 2 * d[c] + d[c + 1])
                                               - (a[c - 1] + 2 * a[c] + a[c + 1]));
            const float len = std::sqrt(x * x + y * y);
            const float divisor = len == 0.0f ? 1.0f : len;
            gx[c] = x / divisor;
            gy[c] = y / divisor;
        }
    }
    if (c == w - 1 && c < end)
        gradientAt(a, b, d, c, w - 2, w - 2, gx, gy, m);
}

// The mirrored formulas already give 0 at the four corners; kept explicit
// because the search relies on corners never pointing anywhere.
void clearCorners(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY, cv::Mat* mag,
                  const cv::Rect& region, const cv::Mat* needed)
{
    const int w = src.cols;
    const int h = src.rows;
    for (int r : { 0, h - 1 }) {
        for (int c : { 0, w - 1 }) {
            if (!region.contains(cv::Point(c, r)))
                continue;
            if (needed && needed->at<uchar>(r - region.y, c - region.x) == 0)
                continue;
            gradX.at<float>(r, c) = 0.0f;
            gradY.at<float>(r, c) = 0.0f;
            if (mag)
                mag->at<float>(r, c) = 0.0f;
        }
    }
}

// Sobel gradient of the pixels of region, with the source's own borders
// mirrored; mag may be null when the caller has no use for it.
void gradientOfRegion(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY, cv::Mat* mag,
                      const cv::Rect& region)
{
    for (int r = region.y; r < region.y + region.height; ++r) {
        gradientOfRun(src, r, region.x, region.x + region.width, gradX.ptr<float>(r),
                      gradY.ptr<float>(r), mag ? mag->ptr<float>(r) : nullptr);
    }
    clearCorners(src, gradX, gradY, mag, region, nullptr);
}

} // namespace

bool sobelGradient(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY, cv::Mat& mag)
{
    if (src.empty()) {
        gradX.release();
        gradY.release();
        mag.release();
        return false;
    }
    gradX.create(src.size(), CV_32FC1);
    gradY.create(src.size(), CV_32FC1);
    mag.create(src.size(), CV_32FC1);
    if (src.type() != CV_8UC1 || src.cols < 3 || src.rows < 3) {
        gradX.setTo(0);
        gradY.setTo(0);
        mag.setTo(0);
        return false;
    }
    gradientOfRegion(src, gradX, gradY, &mag, cv::Rect(0, 0, src.cols, src.rows));
    return true;
}

bool sobelGradientRegion(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY,
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

bool sobelGradientWhere(const cv::Mat& src, cv::Mat& gradX, cv::Mat& gradY, const cv::Rect& region,
                        const cv::Mat& needed)
{
    if (src.empty() || src.type() != CV_8UC1 || src.cols < 3 || src.rows < 3)
        return false;
    if (needed.type() != CV_8UC1 || needed.size() != region.size())
        return false;
    gradX.create(src.size(), CV_32FC1);
    gradY.create(src.size(), CV_32FC1);
    const cv::Rect inside = region & cv::Rect(0, 0, src.cols, src.rows);
    for (int r = inside.y; r < inside.y + inside.height; ++r) {
        const uchar* want = needed.ptr<uchar>(r - region.y) - region.x;
        float* gx = gradX.ptr<float>(r);
        float* gy = gradY.ptr<float>(r);
        // Blocks of 16 columns with any pixel wanted are computed whole:
        // the extra pixels cost less than breaking the runs, which then
        // run in vector code.
        constexpr int kBlock = 16;
        const int end = inside.x + inside.width;
        int c = inside.x;
        while (c < end) {
            auto wanted = [&](int from) {
                const int to = std::min(end, from + kBlock);
                if (to - from == kBlock) {
                    uint64_t a, b;
                    std::memcpy(&a, want + from, 8);
                    std::memcpy(&b, want + from + 8, 8);
                    return (a | b) != 0;
                }
                for (int k = from; k < to; ++k)
                    if (want[k])
                        return true;
                return false;
            };
            while (c < end && !wanted(c))
                c += kBlock;
            const int first = std::min(c, end);
            while (c < end && wanted(c))
                c += kBlock;
            const int last = std::min(c, end);
            if (first < last)
                gradientOfRun(src, r, first, last, gx, gy, nullptr);
        }
    }
    if (!inside.empty())
        clearCorners(src, gradX, gradY, nullptr, region, &needed);
    return true;
}

namespace {

enum Direction : uchar { NoDirection = 0, Horizontal, Falling, Vertical, Rising };

// Gradient angle (degrees, 0 to 360, y downward) to the pair of neighbours
// lying across the edge.
Direction directionOf(float angle)
{
    if (angle <= 22.5f || angle >= 337.5f || (angle >= 157.5f && angle <= 202.5f))
        return Horizontal;
    if ((angle > 22.5f && angle <= 67.5f) || (angle > 202.5f && angle <= 247.5f))
        return Falling;   // upper-left and lower-right
    if ((angle > 67.5f && angle <= 112.5f) || (angle > 247.5f && angle <= 292.5f))
        return Vertical;
    return Rising;        // upper-right and lower-left
}

} // namespace

bool cannyEdges(const cv::Mat& src, cv::Mat& dst, float highThreshold, float lowThreshold)
{
    if (src.empty() || src.type() != CV_8UC1) {
        dst.release();
        return false;
    }
    const int w = src.cols;
    const int h = src.rows;
    cv::Mat out = cv::Mat::zeros(h, w, CV_8UC1);
    if (w < 3 || h < 3) {
        dst = out;
        return true;
    }

    cv::Mat gx, gy;
    cv::Sobel(src, gx, CV_32F, 1, 0, 3, 1.0, 0.0, cv::BORDER_DEFAULT);
    cv::Sobel(src, gy, CV_32F, 0, 1, 3, 1.0, 0.0, cv::BORDER_DEFAULT);

    // Magnitudes of the interior only; the outer ring stays 0, so a pixel next
    // to the border competes against nothing on that side.
    cv::Mat mag = cv::Mat::zeros(h, w, CV_32FC1);
    cv::Mat dir = cv::Mat::zeros(h, w, CV_8UC1);
    for (int r = 1; r < h - 1; ++r) {
        const float* x = gx.ptr<float>(r);
        const float* y = gy.ptr<float>(r);
        float* m = mag.ptr<float>(r);
        uchar* o = dir.ptr<uchar>(r);
        for (int c = 1; c < w - 1; ++c) {
            const float len = std::sqrt(x[c] * x[c] + y[c] * y[c]);
            m[c] = len;
            o[c] = len == 0.0f ? NoDirection : directionOf(cv::fastAtan2(y[c], x[c]));
        }
    }

    // 1 = weak candidate, 2 = weak and already taken into a group.
    cv::Mat weak = cv::Mat::zeros(h, w, CV_8UC1);
    for (int r = 1; r < h - 1; ++r) {
        const float* up = mag.ptr<float>(r - 1);
        const float* at = mag.ptr<float>(r);
        const float* down = mag.ptr<float>(r + 1);
        const uchar* o = dir.ptr<uchar>(r);
        uchar* e = out.ptr<uchar>(r);
        uchar* k = weak.ptr<uchar>(r);
        for (int c = 1; c < w - 1; ++c) {
            float n1 = 0.0f;
            float n2 = 0.0f;
            switch (o[c]) {
            case NoDirection:
                continue;
            case Horizontal:
                n1 = at[c - 1];
                n2 = at[c + 1];
                break;
            case Falling:
                n1 = up[c - 1];
                n2 = down[c + 1];
                break;
            case Vertical:
                n1 = up[c];
                n2 = down[c];
                break;
            case Rising:
                n1 = up[c + 1];
                n2 = down[c - 1];
                break;
            }
            const float m = at[c];
            if (m > n1 && m > n2 && m >= lowThreshold) {
                if (m >= highThreshold)
                    e[c] = 255;
                else
                    k[c] = 1;
            }
        }
    }

    // Hysteresis: a connected group of weak candidates survives only when one
    // of its members touches an edge already in the output.
    static const int kStepX[8] = { -1, 0, 1, 1, 1, 0, -1, -1 };
    static const int kStepY[8] = { -1, -1, -1, 0, 1, 1, 1, 0 };
    std::vector<cv::Point> group;
    for (int r = 1; r < h - 1; ++r) {
        for (int c = 1; c < w - 1; ++c) {
            if (weak.at<uchar>(r, c) != 1)
                continue;
            group.clear();
            group.emplace_back(c, r);
            weak.at<uchar>(r, c) = 2;
            bool touches = false;
            for (size_t i = 0; i < group.size(); ++i) {
                const cv::Point p = group[i];
                if (!touches) {
                    for (int yy = p.y - 1; yy <= p.y + 1 && !touches; ++yy)
                        for (int xx = p.x - 1; xx <= p.x + 1; ++xx)
                            if (out.at<uchar>(yy, xx) != 0) {
                                touches = true;
                                break;
                            }
                }
                for (int n = 0; n < 8; ++n) {
                    // Weak candidates are interior pixels only, so a neighbour
                    // of a member is always inside the image.
                    const int xx = p.x + kStepX[n];
                    const int yy = p.y + kStepY[n];
                    uchar& state = weak.at<uchar>(yy, xx);
                    if (state == 1) {
                        state = 2;
                        group.emplace_back(xx, yy);
                    }
                }
            }
            if (touches)
                for (const cv::Point& p : group)
                    out.at<uchar>(p.y, p.x) = 255;
        }
    }

    dst = out;
    return true;
}

bool createShapeModel(cv::Mat& templ, const cv::Mat& mask, ShapeModel& model)
{
    model.clear();
    if (templ.empty() || templ.type() != CV_8UC1 || templ.cols < 3 || templ.rows < 3)
        return false;
    const bool masked = !mask.empty();
    if (masked && (mask.type() != CV_8UC1 || mask.size() != templ.size()))
        return false;

    const int levels = shapeLevelCount(templ.cols, templ.rows);

    cv::Mat filtered;
    cv::medianBlur(templ, filtered, 3);
    filtered.copyTo(templ);

    std::vector<cv::Mat> images(static_cast<size_t>(levels));
    std::vector<cv::Mat> masks(static_cast<size_t>(levels));
    images[0] = templ;
    if (masked)
        masks[0] = mask;
    for (int i = 1; i < levels; ++i) {
        halfSizeImage(images[i - 1], images[i]);
        if (masked)
            halfSizeImage(masks[i - 1], masks[i]);
    }

    std::vector<ShapeLevel> built(static_cast<size_t>(levels));
    cv::Mat gradX, gradY, mag, edges;
    for (int lvl = levels - 1, k = 0; lvl >= 0; --lvl, ++k) {
        const cv::Mat& image = images[lvl];
        sobelGradient(image, gradX, gradY, mag);

        if (lvl == levels - 1) {
            cannyEdges(image, edges, 50.0f, 25.0f);
        } else {
            float t = static_cast<float>(140 * k / (levels - 1) + 60);
            cv::Canny(image, edges, 2.0f * t / 3.0f, t, 3, false);
            int found = cv::countNonZero(edges);
            if (found < 30) {
                // Too few edges for a faint level: lower the thresholds until a
                // small share of the level's pixels are edges.
                const float wanted = (static_cast<float>(lvl) * 0.015f / static_cast<float>(levels)
                                      + 0.015f)
                    * static_cast<float>(image.cols) * static_cast<float>(image.rows);
                while (wanted > static_cast<float>(found) && t > 10.0f) {
                    t *= 0.8f;
                    cv::Canny(image, edges, 2.0f * t / 3.0f, t, 3, false);
                    found = cv::countNonZero(edges);
                }
            }
        }

        ShapeLevel& out = built[static_cast<size_t>(lvl)];
        out.width = image.cols;
        out.height = image.rows;
        const float halfW = 0.5f * static_cast<float>(image.cols);
        const float halfH = 0.5f * static_cast<float>(image.rows);
        for (int r = 0; r < image.rows; ++r) {
            const uchar* e = edges.ptr<uchar>(r);
            const uchar* m = masked ? masks[lvl].ptr<uchar>(r) : nullptr;
            const float* gx = gradX.ptr<float>(r);
            const float* gy = gradY.ptr<float>(r);
            for (int c = 0; c < image.cols; ++c) {
                if (e[c] == 0 || (m && m[c] == 0))
                    continue;
                out.xOffsets.push_back(static_cast<float>(c) - halfW);
                out.yOffsets.push_back(static_cast<float>(r) - halfH);
                out.gradientX.push_back(gx[c]);
                out.gradientY.push_back(gy[c]);
            }
        }
        out.pointCount = static_cast<int>(out.xOffsets.size());
    }

    model.level = std::move(built);
    model.levels = levels;
    return true;
}
