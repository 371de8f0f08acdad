#include "similaritymodel.h"

#include <QtGlobal>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

std::size_t SimilarityModel::StorageBytes(int width, int height, int samples)
{
    if (width <= 0 || height <= 0 || samples < 0) {
        return 0;
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    return (pixels + 15) / 16 * 16 * (1 + std::size_t(samples));
}

void SimilarityModel::Init(int width, int height, const cv::Mat& areaMask, unsigned char* storage, int samples)
{
    storedCount = 0;
    trainedCount = 0;
    sums.clear();
    squares.clear();
    maskedCount = 0;
    external = nullptr;
    externalRoom = 0;
    if (width <= 0 || height <= 0 || areaMask.type() != CV_8UC1 || areaMask.cols != width
        || areaMask.rows != height) {
        // A mask that does not describe the area leaves the model without
        // pixels: it trains no vector and scores 0.
        mask.release();
        return;
    }
    if (storage) {
        const std::size_t pixels = std::size_t(width) * std::size_t(height);
        mask = cv::Mat(height, width, CV_8UC1, storage);
        areaMask.copyTo(mask);
        external = storage + (pixels + 15) / 16 * 16;
        externalRoom = std::size_t(std::max(0, samples));
    } else {
        mask = areaMask.clone();
    }
    maskedCount = std::size_t(cv::countNonZero(mask));
}

const unsigned char* SimilarityModel::vectorAt(std::size_t k) const
{
    return (external ? external : owned.data()) + k * maskedCount;
}

void SimilarityModel::AddSample(const cv::Mat& sample)
{
    if (mask.empty() || sample.type() != CV_8UC1 || sample.size() != mask.size()) {
        qWarning("SimilarityModel: sample of %dx%d refused for an area of %dx%d", sample.cols, sample.rows,
                 mask.cols, mask.rows);
        return;
    }
    // Only the masked pixels are ever read: they are taken now instead of a
    // copy of the whole area.
    unsigned char* to = nullptr;
    if (external) {
        if (storedCount >= externalRoom) {
            qWarning("SimilarityModel: no room for sample %zu of an area of %dx%d", storedCount + 1, mask.cols,
                     mask.rows);
            return;
        }
        to = external + storedCount * maskedCount;
    } else {
        owned.resize((storedCount + 1) * maskedCount);
        to = owned.data() + storedCount * maskedCount;
    }
    maskedPixels(sample, to);
    ++storedCount;
}

void SimilarityModel::maskedPixels(const cv::Mat& image, unsigned char* out) const
{
    const std::size_t cols = std::size_t(image.cols);
    for (int y = 0; y < image.rows; ++y) {
        const uchar* v = image.ptr<uchar>(y);
        const uchar* m = mask.ptr<uchar>(y);
        // Most rows of most areas are inside the mask from end to end: taken
        // whole, without a test per pixel.
        if (!std::memchr(m, 0, cols)) {
            std::memcpy(out, v, cols);
            out += cols;
            continue;
        }
        for (std::size_t x = 0; x < cols; ++x) {
            if (m[x]) {
                *out++ = v[x];
            }
        }
    }
}

template <typename T>
void SimilarityModel::maskedVector(const cv::Mat& image, std::vector<T>& out) const
{
    const std::size_t cols = std::size_t(image.cols);
    for (int y = 0; y < image.rows; ++y) {
        const uchar* v = image.ptr<uchar>(y);
        const uchar* m = mask.ptr<uchar>(y);
        // Most rows of most areas are inside the mask from end to end: taken
        // whole, without a test per pixel.
        if (!std::memchr(m, 0, cols)) {
            out.insert(out.end(), v, v + cols);
            continue;
        }
        for (std::size_t x = 0; x < cols; ++x) {
            if (m[x]) {
                out.push_back(T(v[x]));
            }
        }
    }
}

namespace {

struct Sums {
    double n = 0;
    double a = 0;
    double aa = 0;
    double b = 0;
    double bb = 0;
    double ab = 0;
};

// r from the five sums, as (n Sab - Sa Sb) / sqrt((n Saa - Sa^2)(n Sbb - Sb^2)):
// the textbook form times n, the same value, with the differences taken in
// extended precision so that equal levels cancel exactly.
double correlate(const Sums& s)
{
    using Wide = long double;
    const Wide n = s.n;
    const Wide va = n * Wide(s.aa) - Wide(s.a) * Wide(s.a);
    const Wide vb = n * Wide(s.bb) - Wide(s.b) * Wide(s.b);
    const Wide d = va * vb;
    if (std::fabs(double(d)) > DBL_EPSILON) {
        return double((n * Wide(s.ab) - Wide(s.a) * Wide(s.b)) / std::sqrt(d));
    }
    if (std::fabs(double(va)) < DBL_EPSILON && std::fabs(double(vb)) < DBL_EPSILON) {
        return std::max(0.0, 1.0 - std::fabs(s.a / s.n - s.b / s.n) / 255.0);
    }
    return 0.0;
}

} // namespace

void SimilarityModel::Train()
{
    for (std::size_t k = trainedCount; k < storedCount; ++k) {
        const unsigned char* vector = vectorAt(k);
        double sum = 0.0;
        double square = 0.0;
        for (std::size_t i = 0; i < maskedCount; ++i) {
            const double v = vector[i];
            sum += v;
            square += v * v;
        }
        sums.push_back(sum);
        squares.push_back(square);
    }
    trainedCount = storedCount;
}

float SimilarityModel::Detect(cv::Mat live, cv::Mat& output)
{
    if (output.type() == CV_8UC1 && output.size() == live.size()) {
        output.setTo(0);
    } else {
        output = cv::Mat::zeros(live.size(), CV_8UC1);
    }
    if (trainedCount == 0 || live.type() != CV_8UC1 || live.size() != mask.size()) {
        return 0.0f;
    }
    liveVector.clear();
    maskedVector(live, liveVector);
    Sums s;
    s.n = double(liveVector.size());
    for (float v : liveVector) {
        s.b += v;
        s.bb += double(v) * v;
    }
    double best = 0.0;
    for (std::size_t k = 0; k < trainedCount; ++k) {
        const unsigned char* trained = vectorAt(k);
        if (maskedCount == 0 || maskedCount != liveVector.size()) {
            continue;
        }
        s.a = sums[k];
        s.aa = squares[k];
        double ab = 0.0;
        for (std::size_t i = 0; i < maskedCount; ++i) {
            ab += double(trained[i]) * liveVector[i];
        }
        s.ab = ab;
        const double r = correlate(s);
        if (!std::isnan(r)) {
            best = std::max(best, r);
        }
    }
    return float(best * 100.0);
}

void SimilarityModel::Reset()
{
    storedCount = 0;
    trainedCount = 0;
    sums.clear();
    squares.clear();
}

double pearsonCorrelation(const std::vector<float>& a, const std::vector<float>& b)
{
    const std::size_t n = a.size();
    if (n == 0 || b.size() < n) {
        return 0.0;
    }
    Sums s;
    s.n = double(n);
    for (std::size_t i = 0; i < n; ++i) {
        s.a += a[i];
        s.b += b[i];
        s.aa += double(a[i]) * a[i];
        s.bb += double(b[i]) * b[i];
        s.ab += double(a[i]) * b[i];
    }
    return correlate(s);
}
