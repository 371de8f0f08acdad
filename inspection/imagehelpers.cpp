#include "imagehelpers.h"

#include <opencv2/imgproc.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>

namespace {

struct GrayWeights {
    qint32 table[3][256];
};

// Built at compile time so the tables exist before any static constructor (a
// driver's global object included) could reach the reductions.
constexpr GrayWeights makeGrayWeights()
{
    GrayWeights w{};
    for (int i = 0; i < 256; ++i) {
        // The products are non-negative, so truncation is the floor.
        w.table[0][i] = static_cast<qint32>(i * 0.299 * 1024);
        w.table[1][i] = static_cast<qint32>(i * 0.587 * 1024);
        w.table[2][i] = static_cast<qint32>(i * 0.114 * 1024);
    }
    return w;
}

constexpr GrayWeights kGrayWeights = makeGrayWeights();
static_assert(kGrayWeights.table[0][255] == 78074 && kGrayWeights.table[1][255] == 153277
                  && kGrayWeights.table[2][255] == 29767,
              "grey weights must match the stored templates");

// Pixel count of a width x height buffer, or -1 when the sizes are not usable.
qint64 pixelCount(int width, int height)
{
    if (width <= 0 || height <= 0) {
        return -1;
    }
    return qint64(width) * qint64(height);
}

inline uchar grayOf(const uchar* p)
{
    const qint32 sum = kGrayWeights.table[0][p[0]] + kGrayWeights.table[1][p[1]]
        + kGrayWeights.table[2][p[2]];
    return static_cast<uchar>(sum / 1024);
}

inline uchar hueOf(const uchar* p)
{
    const int b0 = p[0];
    const int b1 = p[1];
    const int b2 = p[2];
    const int max = std::max(b0, std::max(b1, b2));
    const int min = std::min(b0, std::min(b1, b2));
    if (max == 0 || max == min) {
        return 0;
    }
    // The mixture of single and double precision below is deliberate: it fixes
    // which way the values next to a sector border fall, and the stored limits
    // of hue areas were set against exactly these bytes.
    const float delta = static_cast<float>(max - min);
    float h;
    if (b0 == max) {
        h = static_cast<float>(b1 - b2) / delta;
        if (b1 < b2) {
            h = static_cast<float>(static_cast<double>(h) + 6.0);
        }
    } else if (b1 == max) {
        h = static_cast<float>(static_cast<double>(static_cast<float>(b2 - b0) / delta) + 2.0);
    } else {
        h = static_cast<float>(static_cast<double>(static_cast<float>(b0 - b1) / delta) + 4.0);
    }
    const float scaled = static_cast<float>(static_cast<double>(h) * 42.5);
    return static_cast<uchar>(static_cast<int>(scaled));
}

template <typename PixelFn>
bool reduceRows(const cv::Mat& source, cv::Mat& dst, PixelFn fn)
{
    // Our own header keeps the colour pixels alive should dst be the very
    // matrix passed as the source and get reallocated below.
    const cv::Mat src = source;
    if (src.empty() || src.type() != CV_8UC4) {
        return false;
    }
    if (dst.rows != src.rows || dst.cols != src.cols || dst.type() != CV_8UC1) {
        dst.create(src.rows, src.cols, CV_8UC1);
    }
    for (int y = 0; y < src.rows; ++y) {
        const uchar* in = src.ptr<uchar>(y);
        uchar* out = dst.ptr<uchar>(y);
        for (int x = 0; x < src.cols; ++x) {
            out[x] = fn(in + 4 * x);
        }
    }
    return true;
}

bool overlaps(const cv::Mat& a, const cv::Mat& b)
{
    return a.datastart < b.dataend && b.datastart < a.dataend;
}

int toInt(qint64 v)
{
    return static_cast<int>(qBound<qint64>(std::numeric_limits<int>::min(), v,
                                           std::numeric_limits<int>::max()));
}


// The bilinear sample of OpenCV's remap for one grey pixel at source pixel
// (sx, sy) of src and fraction (ax, ay) in 32nds, with 0 outside src: its
// weights are 32 times the products (32 - ax or ax) * (32 - ay or ay) in
// 15-bit fixed point, which the rounding of the sum reduces to the products
// themselves and 10 bits. (Its one rounded weight, the whole pixel's 32767
// with 1 beside it, gives the same result.) turnKernelMatchesRemap checks it
// against the library before it is used.
inline uchar bilinearSample(const cv::Mat& src, int sx, int sy, int ax, int ay)
{
    const int cols = src.cols;
    const int rows = src.rows;
    const int w00 = (32 - ax) * (32 - ay);
    const int w01 = ax * (32 - ay);
    const int w10 = (32 - ax) * ay;
    const int w11 = ax * ay;
    if (unsigned(sx) < unsigned(cols - 1) && unsigned(sy) < unsigned(rows - 1)) {
        const uchar* a = src.ptr<uchar>(sy) + sx;
        const uchar* b = a + src.step[0];
        return uchar((a[0] * w00 + a[1] * w01 + b[0] * w10 + b[1] * w11 + 512) >> 10);
    }
    if (sx >= cols || sx + 1 < 0 || sy >= rows || sy + 1 < 0) {
        return 0;
    }
    auto at = [&](int x, int y) -> int {
        return (x >= 0 && x < cols && y >= 0 && y < rows) ? src.ptr<uchar>(y)[x] : 0;
    };
    return uchar((at(sx, sy) * w00 + at(sx + 1, sy) * w01 + at(sx, sy + 1) * w10 + at(sx + 1, sy + 1) * w11
                  + 512) >> 10);
}

// Whether bilinearSample gives what cv::remap gives, for every fraction, on
// pixels inside, at the borders and outside a small picture. Asked once.
bool turnKernelMatchesRemap()
{
    static const bool matches = [] {
        cv::Mat src(6, 7, CV_8UC1);
        cv::RNG rng(0x6B6F7276ULL);
        rng.fill(src, cv::RNG::UNIFORM, 0, 256);
        src.at<uchar>(0, 0) = 0;
        src.at<uchar>(2, 3) = 255;
        src.at<uchar>(3, 4) = 255;
        const cv::Point places[] = { { 2, 2 }, { 3, 3 }, { 0, 0 }, { 5, 4 }, { -1, -1 }, { 6, 2 }, { 3, 5 },
                                     { -1, 3 }, { 2, -1 }, { 6, 5 }, { 7, 1 }, { 1, 6 }, { -2, 0 } };
        const int n = int(sizeof places / sizeof places[0]) * 1024;
        cv::Mat xy(1, n, CV_16SC2);
        cv::Mat weights(1, n, CV_16UC1);
        int k = 0;
        for (const cv::Point& p : places) {
            for (int w = 0; w < 1024; ++w, ++k) {
                xy.at<cv::Vec2s>(0, k) = cv::Vec2s(short(p.x), short(p.y));
                weights.at<ushort>(0, k) = ushort(w);
            }
        }
        cv::Mat dst;
        cv::remap(src, dst, xy, weights, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
        for (k = 0; k < n; ++k) {
            const cv::Vec2s p = xy.at<cv::Vec2s>(0, k);
            const int w = weights.at<ushort>(0, k);
            if (dst.at<uchar>(0, k) != bilinearSample(src, p[0], p[1], w & 31, w >> 5)) {
                return false;
            }
        }
        return true;
    }();
    return matches;
}

// One row of the grey turn: pixel x samples src at (X >> 5, Y >> 5) less the
// offsets, fraction (X & 31, Y & 31), where X = (X0 + ad[x]) >> 5 and
// Y = (Y0 + bd[x]) >> 5 as in the maps handed to remap. Eight pixels at a
// time where their source pixels are neighbours on at most three rows (a turn
// of a few degrees), the rest one by one; the same integer arithmetic either
// way.
void turnRow(const cv::Mat& src, uchar* out, int width, int X0, int Y0, const int* ad, const int* bd,
             int offsetX, int offsetY)
{
    const int cols = src.cols;
    const int rows = src.rows;
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i mask31 = _mm_set1_epi32(31);
    const __m128i k32 = _mm_set1_epi16(32);
    const __m128i round = _mm_set1_epi32(512);
    for (; x + 8 <= width; x += 8) {
        const int Xa = (X0 + ad[x]) >> 5;
        const int Xb = (X0 + ad[x + 7]) >> 5;
        const int Ya = (Y0 + bd[x]) >> 5;
        const int Yb = (Y0 + bd[x + 7]) >> 5;
        const int sx = (Xa >> 5) - offsetX;
        const int syA = (Ya >> 5) - offsetY;
        const int syB = (Yb >> 5) - offsetY;
        const int low = std::min(syA, syB);
        const int high = std::max(syA, syB);
        // Neighbouring source columns (the positions move by whole pixels
        // less than one step apart, so seven apart at the ends means one
        // apart throughout), at most two source rows, every tap inside.
        if ((Xb >> 5) - (Xa >> 5) != 7 || high - low > 1 || sx < 0 || sx + 9 > cols || low < 0
            || high + 1 >= rows) {
            for (int k = 0; k < 8; ++k) {
                const int X = (X0 + ad[x + k]) >> 5;
                const int Y = (Y0 + bd[x + k]) >> 5;
                out[x + k] = bilinearSample(src, (X >> 5) - offsetX, (Y >> 5) - offsetY, X & 31, Y & 31);
            }
            continue;
        }
        const __m128i x0 = _mm_srai_epi32(_mm_add_epi32(_mm_set1_epi32(X0),
                                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(ad + x))), 5);
        const __m128i x1 = _mm_srai_epi32(_mm_add_epi32(_mm_set1_epi32(X0),
                                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(ad + x + 4))), 5);
        const __m128i y0 = _mm_srai_epi32(_mm_add_epi32(_mm_set1_epi32(Y0),
                                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(bd + x))), 5);
        const __m128i y1 = _mm_srai_epi32(_mm_add_epi32(_mm_set1_epi32(Y0),
                                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(bd + x + 4))), 5);
        const __m128i ax = _mm_packs_epi32(_mm_and_si128(x0, mask31), _mm_and_si128(x1, mask31));
        const __m128i ay = _mm_packs_epi32(_mm_and_si128(y0, mask31), _mm_and_si128(y1, mask31));
        // Pixels whose source row is the lower of the two.
        const __m128i lowRow = _mm_set1_epi32(low + offsetY);
        const __m128i down = _mm_packs_epi32(_mm_cmpgt_epi32(_mm_srai_epi32(y0, 5), lowRow),
                                             _mm_cmpgt_epi32(_mm_srai_epi32(y1, 5), lowRow));
        const uchar* r0 = src.ptr<uchar>(low) + sx;
        const uchar* r1 = src.ptr<uchar>(low + 1) + sx;
        const uchar* r2 = src.ptr<uchar>(std::min(low + 2, rows - 1)) + sx;
        auto load8 = [&](const uchar* p) {
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
        };
        const __m128i a = load8(r0), an = load8(r0 + 1);
        const __m128i b = load8(r1), bn = load8(r1 + 1);
        const __m128i c = load8(r2), cn = load8(r2 + 1);
        auto pick = [&](__m128i lower, __m128i upper) {
            return _mm_or_si128(_mm_and_si128(down, lower), _mm_andnot_si128(down, upper));
        };
        const __m128i top = pick(b, a), topNext = pick(bn, an);
        const __m128i bottom = pick(c, b), bottomNext = pick(cn, bn);
        const __m128i left = _mm_sub_epi16(k32, ax);
        const __m128i h0 = _mm_add_epi16(_mm_mullo_epi16(top, left), _mm_mullo_epi16(topNext, ax));
        const __m128i h1 = _mm_add_epi16(_mm_mullo_epi16(bottom, left), _mm_mullo_epi16(bottomNext, ax));
        const __m128i above = _mm_sub_epi16(k32, ay);
        const __m128i lo = _mm_srai_epi32(
            _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(h0, h1), _mm_unpacklo_epi16(above, ay)), round), 10);
        const __m128i hi = _mm_srai_epi32(
            _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(h0, h1), _mm_unpackhi_epi16(above, ay)), round), 10);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(_mm_packs_epi32(lo, hi), zero));
    }
#endif
    for (; x < width; ++x) {
        const int X = (X0 + ad[x]) >> 5;
        const int Y = (Y0 + bd[x]) >> 5;
        out[x] = bilinearSample(src, (X >> 5) - offsetX, (Y >> 5) - offsetY, X & 31, Y & 31);
    }
}

} // namespace

const qint32 (&gGrayWeightTables)[3][256] = kGrayWeights.table;

bool rgb32ToGray(uchar* gray, const uchar* rgb32, int width, int height)
{
    const qint64 n = pixelCount(width, height);
    if (!gray || !rgb32 || n < 0) {
        return false;
    }
    for (qint64 i = 0; i < n; ++i) {
        gray[i] = grayOf(rgb32 + 4 * i);
    }
    return true;
}

bool rgb32ToHue(uchar* hue, const uchar* rgb32, int width, int height)
{
    const qint64 n = pixelCount(width, height);
    if (!hue || !rgb32 || n < 0) {
        return false;
    }
    for (qint64 i = 0; i < n; ++i) {
        hue[i] = hueOf(rgb32 + 4 * i);
    }
    return true;
}

bool grayToRgb32(const uchar* gray, uchar* rgb32, int width, int height)
{
    const qint64 n = pixelCount(width, height);
    if (!gray || !rgb32 || n < 0) {
        return false;
    }
    for (qint64 i = 0; i < n; ++i) {
        // v * 65793 as a little-endian word, written byte by byte so the result
        // does not depend on the host's byte order.
        const uchar v = gray[i];
        uchar* out = rgb32 + 4 * i;
        out[0] = v;
        out[1] = v;
        out[2] = v;
        out[3] = 0;
    }
    return true;
}

bool rgb32ToGray(const cv::Mat& src, cv::Mat& dst)
{
    return reduceRows(src, dst, grayOf);
}

bool rgb32ToHue(const cv::Mat& src, cv::Mat& dst)
{
    return reduceRows(src, dst, hueOf);
}

bool shiftImage(cv::Mat src, cv::Mat dst, int shiftX, int shiftY)
{
    if (src.empty() || dst.rows != src.rows || dst.cols != src.cols || dst.type() != src.type()) {
        return false;
    }
    if (overlaps(src, dst)) {
        // Shifting within one buffer would read rows already overwritten.
        src = src.clone();
    }
    const size_t elem = src.elemSize();
    const qint64 cols = src.cols;
    // Columns of dst that receive source pixels: [x0, x1).
    const qint64 x0 = qBound<qint64>(0, shiftX, cols);
    const qint64 x1 = qBound<qint64>(0, cols + qint64(shiftX), cols);
    for (int y = 0; y < dst.rows; ++y) {
        uchar* out = dst.ptr<uchar>(y);
        const qint64 sy = qint64(y) - shiftY;
        if (sy < 0 || sy >= src.rows || x0 >= x1) {
            std::memset(out, 0, size_t(cols) * elem);
            continue;
        }
        const uchar* in = src.ptr<uchar>(int(sy));
        std::memset(out, 0, size_t(x0) * elem);
        std::memcpy(out + size_t(x0) * elem, in + size_t(x0 - shiftX) * elem, size_t(x1 - x0) * elem);
        std::memset(out + size_t(x1) * elem, 0, size_t(cols - x1) * elem);
    }
    return true;
}

bool rotateImage(cv::Mat src, cv::Mat& dst, int shiftX, int shiftY, int centreX, int centreY,
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

    if (overlaps(src, dst)) {
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
    // Grey frames are sampled here once the kernel is known to agree with
    // remap, which does the rest.
    const bool fused = src.type() == CV_8UC1 && turnKernelMatchesRemap();
    unsigned char plain[kBand];
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
            // The positions along a row move monotonically (the deltas are
            // rounded multiples of one factor), so when both ends of the row
            // stay well inside a short, so does every position between them
            // and none of the clamps below can act: the row is then written
            // with the plain arithmetic alone, which runs several times faster.
            auto safe = [&](int x) {
                const int X = (X0 + ad[x]) >> (kAbBits - kTabBits);
                const int Y = (Y0 + bd[x]) >> (kAbBits - kTabBits);
                const qint64 cx = X >> kTabBits;
                const qint64 cy = Y >> kTabBits;
                return cx > SHRT_MIN && cx < SHRT_MAX && cy > SHRT_MIN && cy < SHRT_MAX
                    && cx - offsetX > SHRT_MIN && cx - offsetX < SHRT_MAX && cy - offsetY > SHRT_MIN
                    && cy - offsetY < SHRT_MAX;
            };
            if (safe(0) && safe(width - 1) && fused) {
                // Sampled straight into the result.
                turnRow(kept, dst.ptr<uchar>(y0 + r), width, X0, Y0, ad, bd, offsetX, offsetY);
                plain[r] = 0;
                continue;
            }
            plain[r] = 1;
            if (safe(0) && safe(width - 1)) {
                for (int x = 0; x < width; ++x) {
                    const int X = (X0 + ad[x]) >> (kAbBits - kTabBits);
                    const int Y = (Y0 + bd[x]) >> (kAbBits - kTabBits);
                    outXY[2 * x] = short((X >> kTabBits) - offsetX);
                    outXY[2 * x + 1] = short((Y >> kTabBits) - offsetY);
                    outW[x] = ushort((Y & (kTabSize - 1)) * kTabSize + (X & (kTabSize - 1)));
                }
                continue;
            }
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
        // The rows not sampled above, by remap, in runs.
        for (int r = 0; r < rows;) {
            if (!plain[r]) {
                ++r;
                continue;
            }
            int end = r + 1;
            while (end < rows && plain[end]) {
                ++end;
            }
            cv::Mat band = dst.rowRange(y0 + r, y0 + end);
            cv::remap(kept, band, xy.rowRange(r, end), weights.rowRange(r, end), cv::INTER_LINEAR,
                      cv::BORDER_CONSTANT, cv::Scalar::all(0));
            r = end;
        }
    }
    return true;
}

void clampCoordinate(int* v, bool horizontal, int width, int height)
{
    if (!v) {
        return;
    }
    const qint64 limit = qint64(horizontal ? width : height) - 3;
    if (*v <= 2) {
        *v = 3;
    } else if (*v > limit) {
        *v = toInt(limit);
    }
}

void clampRectToImage(QRect& rect, int width, int height, bool keepSize)
{
    qint64 left = rect.left();
    qint64 top = rect.top();
    qint64 right = rect.right();
    qint64 bottom = rect.bottom();
    if (left > right) {
        std::swap(left, right);
    }
    if (top > bottom) {
        std::swap(top, bottom);
    }
    const qint64 maxX = qint64(width) - 3;
    const qint64 maxY = qint64(height) - 3;
    if (keepSize) {
        if (left < 3) {
            right += 3 - left;
            left = 3;
        }
        if (top < 3) {
            bottom += 3 - top;
            top = 3;
        }
        if (right > maxX) {
            left -= right - maxX;
            right = maxX;
        }
        if (bottom > maxY) {
            top -= bottom - maxY;
            bottom = maxY;
        }
    } else {
        auto clampEdge = [](qint64 v, qint64 limit) {
            if (v < 3) {
                return qint64(3);
            }
            return v > limit ? limit : v;
        };
        left = clampEdge(left, maxX);
        right = clampEdge(right, maxX);
        top = clampEdge(top, maxY);
        bottom = clampEdge(bottom, maxY);
    }
    rect.setCoords(toInt(left), toInt(top), toInt(right), toInt(bottom));
}

int clampTolerance(int tolerance)
{
    return qBound(3, tolerance, 50);
}

bool isNear(int a, int b, int tolerance)
{
    return qAbs(qint64(a) - qint64(b)) < clampTolerance(tolerance);
}

bool isNearEdge(int a, int b, int c, int low, int high, int tolerance)
{
    return isNear(a, b, tolerance) && low <= c && c <= high;
}

bool isNearPoint(QPoint p, QPoint q, int tolerance)
{
    return isNear(p.x(), q.x(), tolerance) && isNear(p.y(), q.y(), tolerance);
}
