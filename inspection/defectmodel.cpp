#include "defectmodel.h"

#include <QtGlobal>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

bool isGrey(const cv::Mat& image)
{
    return !image.empty() && image.type() == CV_8UC1;
}

} // namespace

namespace {

// Each piece of the storage starts on a 16-byte boundary.
std::size_t piece(std::size_t bytes)
{
    return (bytes + 15) / 16 * 16;
}

} // namespace

std::size_t DefectModel::StorageBytes(int width, int height)
{
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    return 2 * piece(pixels * sizeof(float)) + 3 * piece(pixels);
}

void DefectModel::Init(int width, int height, const cv::Mat& areaMask, int areaMode, unsigned char* storage)
{
    trained = false;
    samples.clear();
    samplesShared = false;
    differenceMasks.clear();
    if (width > 0 && height > 0) {
        area = cv::Size(width, height);
        clearStatistics(storage);
    } else {
        area = cv::Size();
        mean.release();
        deviation.release();
        upper.release();
        lower.release();
        storage = nullptr;
    }
    if (storage && !areaMask.empty()) {
        // The mask follows the bounds in the storage; a mask of another size
        // or type than the area's keeps a block of its own, which Train refuses.
        const std::size_t pixels = std::size_t(width) * std::size_t(height);
        unsigned char* at = storage + 2 * piece(pixels * sizeof(float)) + 2 * piece(pixels);
        if (areaMask.type() == CV_8UC1 && areaMask.size() == area) {
            mask = cv::Mat(area, CV_8UC1, at);
            areaMask.copyTo(mask);
        } else {
            mask = areaMask.clone();
        }
    } else {
        mask = areaMask.clone();
    }
    mode = areaMode;
}

void DefectModel::clearStatistics(unsigned char* storage)
{
    if (storage) {
        const std::size_t pixels = std::size_t(area.width) * std::size_t(area.height);
        const std::size_t floats = piece(pixels * sizeof(float));
        mean = cv::Mat(area, CV_32F, storage);
        deviation = cv::Mat(area, CV_32F, storage + floats);
        upper = cv::Mat(area, CV_8U, storage + 2 * floats);
        lower = cv::Mat(area, CV_8U, storage + 2 * floats + piece(pixels));
    } else {
        // A retraining of the same area (every start, every re-sampling)
        // writes into the blocks it has.
        mean.create(area, CV_32F);
        deviation.create(area, CV_32F);
        upper.create(area, CV_8U);
        lower.create(area, CV_8U);
    }
    mean.setTo(0);
    deviation.setTo(0);
    upper.setTo(0);
    lower.setTo(0);
}

void DefectModel::AddSample(const cv::Mat& sample)
{
    addSample(sample, false);
}

void DefectModel::AddSampleShared(const cv::Mat& sample)
{
    addSample(sample, true);
}

void DefectModel::addSample(const cv::Mat& sample, bool shared)
{
    // A sample of another size than Init announced would make every later
    // per-pixel step read past a row; it is refused, and a model left without
    // samples stays untrained.
    if (!isGrey(sample) || area.empty() || sample.size() != area) {
        qWarning("DefectModel: sample of %dx%d refused for an area of %dx%d", sample.cols, sample.rows,
                 area.width, area.height);
        return;
    }
    if (shared) {
        samples.push_back(sample);
        samplesShared = true;
    } else {
        samples.push_back(sample.clone());
    }
}

void DefectModel::Train(int areaTolerance, int factor, int firstCanny, int secondCanny)
{
    cannyLow = firstCanny;
    cannyHigh = secondCanny;
    trained = false;
    differenceMasks.clear();
    tolerance = areaTolerance;

    // No sample (no valid template) or a mask that does not fit: nothing sound
    // can be learned, and an untrained model is what the engine reports as an
    // area it cannot judge.
    if (samples.empty() || !isGrey(mask) || mask.size() != area) {
        samples.clear();
        samplesShared = false;
        return;
    }

    if (factor == 4) {
        mode = ModeNearest;
        // Detect compares with the samples long after the caller's pixels
        // may have changed.
        if (samplesShared) {
            for (cv::Mat& sample : samples) {
                sample = sample.clone();
            }
            samplesShared = false;
        }
        differenceMasks.reserve(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            differenceMasks.push_back(cv::Mat::zeros(samples.front().size(), CV_8U));
        }
        trained = true;
        return;
    }

    mode = ModeBounds;
    if (samples.size() == 1) {
        factor = std::max(1, factor);
        learnEdges(factor);
    } else {
        learnMeanAndDeviation();
    }
    upper.setTo(0);
    lower.setTo(0);
    if (factor != 0) {
        boundsFromDeviation(factor);
    } else {
        boundsFromSpan();
    }
    trained = true;
    samples.clear();
    samplesShared = false;
}

void DefectModel::learnEdges(int dilation)
{
    cv::Mat edges;
    cv::Canny(samples.front(), edges, cannyLow, cannyHigh, 3, false);
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(dilation, dilation));
    cv::Mat dilated;
    cv::dilate(edges, dilated, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    dilated.convertTo(deviation, CV_32F);
    samples.front().convertTo(mean, CV_32F);
}

void DefectModel::learnMeanAndDeviation()
{
    // Row by row over all samples, so the sums stay in the cache instead of
    // a frame-sized pass per sample. Per pixel the arithmetic is the same as
    // a whole-area sum followed by a whole-area pass of squares: the same
    // float operations in the same sample order, so the model is bit for bit
    // the same however it is walked.
    const int rows = area.height;
    const int cols = area.width;
    const std::size_t n = samples.size();
    const float count = float(n);
    std::vector<const uchar*> row(n);
    std::vector<float> squares(static_cast<std::size_t>(cols));
    for (int y = 0; y < rows; ++y) {
        for (std::size_t k = 0; k < n; ++k) {
            row[k] = samples[k].ptr<uchar>(y);
        }
        float* m = mean.ptr<float>(y);
        // The sum of the samples, in their order (exact: whole numbers far
        // below 2^24), then divided into the mean.
        std::fill(m, m + cols, 0.0f);
        for (std::size_t k = 0; k < n; ++k) {
            const uchar* s = row[k];
            for (int x = 0; x < cols; ++x) {
                m[x] += float(s[x]);
            }
        }
        for (int x = 0; x < cols; ++x) {
            m[x] = m[x] / count;
        }
        float* q = squares.data();
        std::fill(q, q + cols, 0.0f);
        for (std::size_t k = 0; k < n; ++k) {
            const uchar* s = row[k];
            for (int x = 0; x < cols; ++x) {
                const float d = m[x] - float(s[x]);
                q[x] += d * d;
            }
        }
        float* dev = deviation.ptr<float>(y);
        for (int x = 0; x < cols; ++x) {
            dev[x] = std::sqrt(q[x] / count);
        }
    }
}

void DefectModel::boundsFromDeviation(int factor)
{
    const float f = float(factor < 0 ? 2 : factor);
    const float tol = float(tolerance);
    for (int y = 0; y < mask.rows; ++y) {
        const uchar* inspected = mask.ptr<uchar>(y);
        const float* m = mean.ptr<float>(y);
        const float* dev = deviation.ptr<float>(y);
        uchar* up = upper.ptr<uchar>(y);
        uchar* lo = lower.ptr<uchar>(y);
        for (int x = 0; x < mask.cols; ++x) {
            if (!inspected[x]) {
                continue;
            }
            const float spread = std::max(f * dev[x], tol);
            const float high = std::min(m[x] + spread, 255.0f);
            const float low = std::max(m[x] - spread, 0.0f);
            // Truncated, as the limits were always taken; a negative
            // tolerance cannot push them outside 0..255 because the spread is
            // never below 0 here.
            up[x] = cv::saturate_cast<uchar>(int(high));
            lo[x] = cv::saturate_cast<uchar>(int(low));
        }
    }
}

void DefectModel::boundsFromSpan()
{
    // Row by row: the highest and lowest value of every pixel over the
    // samples, then widened (in 64 bits, so an absurd tolerance cannot wrap
    // around).
    const int cols = mask.cols;
    std::vector<uchar> highest(static_cast<std::size_t>(cols));
    std::vector<uchar> lowest(static_cast<std::size_t>(cols));
    const qint64 tol = tolerance;
    for (int y = 0; y < mask.rows; ++y) {
        std::fill(highest.begin(), highest.end(), uchar(0));
        std::fill(lowest.begin(), lowest.end(), uchar(255));
        for (const cv::Mat& sample : samples) {
            const uchar* s = sample.ptr<uchar>(y);
            uchar* hi = highest.data();
            uchar* lo = lowest.data();
            for (int x = 0; x < cols; ++x) {
                hi[x] = std::max(hi[x], s[x]);
                lo[x] = std::min(lo[x], s[x]);
            }
        }
        const uchar* inspected = mask.ptr<uchar>(y);
        uchar* up = upper.ptr<uchar>(y);
        uchar* lo = lower.ptr<uchar>(y);
        for (int x = 0; x < cols; ++x) {
            if (!inspected[x]) {
                continue;
            }
            const qint64 high = std::min<qint64>(qint64(highest[std::size_t(x)]) + tol, 255);
            const qint64 low = std::max<qint64>(qint64(lowest[std::size_t(x)]) - tol, 0);
            up[x] = uchar(std::clamp<qint64>(high, 0, 255));
            lo[x] = uchar(std::clamp<qint64>(low, 0, 255));
        }
    }
}

bool DefectModel::Detect(cv::Mat live, cv::Mat& output)
{
    if (!trained || !isGrey(live) || live.size() != mask.size()) {
        return false;
    }
    const int rows = live.rows;
    const int cols = live.cols;

    if (mode > 1) {
        if (samples.empty() || differenceMasks.size() != samples.size()) {
            return false;
        }
        int best = -1;
        qint64 bestCount = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const cv::Mat& sample = samples[i];
            cv::Mat& difference = differenceMasks[i];
            qint64 count = 0;
            for (int y = 0; y < rows; ++y) {
                const uchar* v = live.ptr<uchar>(y);
                const uchar* s = sample.ptr<uchar>(y);
                const uchar* inspected = mask.ptr<uchar>(y);
                uchar* out = difference.ptr<uchar>(y);
                for (int x = 0; x < cols; ++x) {
                    const qint64 value = v[x];
                    const bool outside = inspected[x]
                        && (value < qint64(s[x]) - tolerance || value > qint64(s[x]) + tolerance);
                    out[x] = outside ? 255 : 0;
                    count += outside;
                }
            }
            // A later sample must be strictly better: a tie keeps the earlier.
            if (best < 0 || count < bestCount) {
                best = int(i);
                bestCount = count;
            }
        }
        differenceMasks[std::size_t(best)].copyTo(output);
        return true;
    }

    if (output.size() != live.size() || output.type() != CV_8UC1) {
        return false;
    }
    for (int y = 0; y < rows; ++y) {
        const uchar* v = live.ptr<uchar>(y);
        const uchar* inspected = mask.ptr<uchar>(y);
        const uchar* up = upper.ptr<uchar>(y);
        const uchar* lo = lower.ptr<uchar>(y);
        uchar* out = output.ptr<uchar>(y);
        for (int x = 0; x < cols; ++x) {
            out[x] = (inspected[x] && (v[x] < lo[x] || v[x] > up[x])) ? 255 : 0;
        }
    }
    return true;
}

void DefectModel::Reset()
{
    trained = false;
    if (mode > 1 || samplesShared) {
        samples.clear();
        differenceMasks.clear();
        samplesShared = false;
    }
}
