// The model training as it was before the models learned row by row from
// the template slots: kept verbatim (in a namespace of its own) so that
// bench_training can time it against today's code in the same run and check
// that both learn the same models.
#pragma once

#include <QtGlobal>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace baseline {



// What a good detection area looks like, pixel by pixel, learned from the
// template samples of one area; a live area's pixels outside what was learned
// are its defects. One model per area slot of the engine.
//
// Every image is 8-bit single channel of the area's bounding rectangle; the
// statistics are float images of the same size. The engine makes the sizes
// agree; the model still refuses (Train leaves it untrained, Detect writes
// nothing and returns false) when they do not, because a size mix-up must end
// as an error in the engine, never as an out-of-bounds read or a silent pass.
class DefectModel {
public:
    // Per-pixel bounds (factors 0 to 3 and any other but 4).
    static constexpr int ModeBounds = 0;
    // Nearest sample (factor 4): the live area is compared with every sample.
    static constexpr int ModeNearest = 2;

    DefectModel() = default;
    DefectModel(const DefectModel&) = delete;
    DefectModel& operator=(const DefectModel&) = delete;

    // Starts a new training: statistics and bounds of height x width set to 0,
    // an own copy of the mask (non-zero = inspected), samples of an earlier
    // training dropped.
    void Init(int width, int height, const cv::Mat& mask, int mode);
    // Keeps a copy of the sample and adds it to the running sum.
    void AddSample(const cv::Mat& sample);
    // As AddSample, but keeps only a header onto the caller's pixels, which
    // must stay unchanged until Train (or Reset); Train copies the samples it
    // keeps beyond itself. The engine trains a detect from its template slots
    // without copying every area of every sample first: that copy was most of
    // an area save's time.
    void AddSampleShared(const cv::Mat& sample);
    // Builds the model from the samples added since Init. Factor 4 keeps the
    // samples (nearest-sample mode); any other factor builds bounds: 0 the span
    // of the samples widened by the tolerance, otherwise mean +/- factor
    // deviations but at least +/- tolerance (a negative factor counts as 2). A
    // single sample takes its dilated edge map as deviation, so its edges never
    // count as defects. Without a usable sample the model stays untrained.
    void Train(int tolerance, int factor, int cannyLow, int cannyHigh);
    // Writes the defect mask of a live area into output: 255 where a masked
    // pixel lies outside the learned bounds, 0 elsewhere. In the bounds mode
    // output must already be 8-bit of the live image's size and is written in
    // place; in the nearest-sample mode it becomes a copy of the winning
    // sample's difference mask. Returns false and leaves output as it was when
    // the model is not trained or the sizes do not match.
    bool Detect(cv::Mat live, cv::Mat& output);
    // Untrained again; the nearest-sample mode also drops its samples.
    void Reset();
    bool IsTrained() const { return trained; }

    // Read-only views for the engine's checks, the tests and the benchmark.
    int Mode() const { return mode; }
    int Tolerance() const { return tolerance; }
    int SampleCount() const { return int(samples.size()); }
    cv::Size Size() const { return mask.size(); }
    const cv::Mat& Mask() const { return mask; }
    const cv::Mat& Mean() const { return mean; }
    const cv::Mat& Deviation() const { return deviation; }
    const cv::Mat& Upper() const { return upper; }
    const cv::Mat& Lower() const { return lower; }
    double CannyLow() const { return cannyLow; }
    double CannyHigh() const { return cannyHigh; }

private:
    void addSample(const cv::Mat& sample, bool shared);
    // The deviation of a single sample: its edge map, dilated by a square of
    // that size, so that its edges never count as defects.
    void learnEdges(int dilation);
    // Mean and standard deviation of two or more samples.
    void learnMeanAndDeviation();
    // Bounds mean +/- factor deviations, at least +/- the tolerance.
    void boundsFromDeviation(int factor);
    // Factor 0 with two or more samples: the span the samples cover, widened
    // by the tolerance.
    void boundsFromSpan();

    bool trained = false;
    cv::Mat sum;       // CV_32F
    cv::Mat mean;      // CV_32F
    cv::Mat deviation; // CV_32F
    cv::Mat upper;     // CV_8U
    cv::Mat lower;     // CV_8U
    cv::Mat mask;      // CV_8U
    std::vector<cv::Mat> samples;
    // Some of samples are the callers' pixels (AddSampleShared).
    bool samplesShared = false;
    std::vector<cv::Mat> differenceMasks;
    double cannyLow = 0.0;
    double cannyHigh = 0.0;
    int mode = ModeBounds;
    int tolerance = 0;
};



// How much a live detection area looks like the same area on the template
// samples: 100 times the best Pearson correlation between the masked pixels of
// the live area and those of any sample. One model per area slot of the
// engine. A model without trained vectors scores 0, so an untrained model can
// never pass an area whose lower limit is above 0.
//
// Every image is 8-bit single channel of the area's bounding rectangle. The
// engine makes the sizes agree; the model refuses a sample of another size,
// and Detect scores a live area of another size 0.
class SimilarityModel {
public:
    SimilarityModel() = default;
    SimilarityModel(const SimilarityModel&) = delete;
    SimilarityModel& operator=(const SimilarityModel&) = delete;

    // The mask (non-zero = the pixel takes part) becomes an own copy; samples
    // added before and not yet trained are dropped with the old mask.
    void Init(int width, int height, const cv::Mat& mask);
    void AddSample(const cv::Mat& sample);
    // Every sample becomes a vector of its masked pixels; the samples go.
    void Train();
    // The score 0 to 100; output becomes an all-zero image of the live size
    // (in place when it already is 8-bit of that size).
    float Detect(cv::Mat live, cv::Mat& output);
    // Empties the vectors.
    void Reset();

    // At least one vector was trained.
    bool IsTrained() const { return !vectors.empty(); }
    cv::Size Size() const { return mask.size(); }
    const cv::Mat& Mask() const { return mask; }
    int VectorCount() const { return int(vectors.size()); }
    int PendingSamples() const { return int(samples.size()); }

private:
    // Appends the masked pixels of image to out, in storage order.
    void maskedVector(const cv::Mat& image, std::vector<float>& out) const;

    cv::Mat mask;
    std::vector<cv::Mat> samples;
    std::vector<std::vector<float>> vectors;
    // Per vector: its sum and sum of squares, so that Detect needs one pass
    // per vector (the products with the live vector).
    std::vector<double> sums;
    std::vector<double> squares;
    // Reused by Detect so that a cycle allocates nothing here.
    std::vector<float> liveVector;
};






namespace defect_detail {

inline bool isGrey(const cv::Mat& image)
{
    return !image.empty() && image.type() == CV_8UC1;
}

} // namespace defect_detail
using defect_detail::isGrey;

inline void DefectModel::Init(int width, int height, const cv::Mat& areaMask, int areaMode)
{
    trained = false;
    samples.clear();
    samplesShared = false;
    differenceMasks.clear();
    if (width > 0 && height > 0) {
        sum = cv::Mat::zeros(height, width, CV_32F);
        mean = cv::Mat::zeros(height, width, CV_32F);
        deviation = cv::Mat::zeros(height, width, CV_32F);
        upper = cv::Mat::zeros(height, width, CV_8U);
        lower = cv::Mat::zeros(height, width, CV_8U);
    } else {
        sum.release();
        mean.release();
        deviation.release();
        upper.release();
        lower.release();
    }
    mask = areaMask.clone();
    mode = areaMode;
}

inline void DefectModel::AddSample(const cv::Mat& sample)
{
    addSample(sample, false);
}

inline void DefectModel::AddSampleShared(const cv::Mat& sample)
{
    addSample(sample, true);
}

inline void DefectModel::addSample(const cv::Mat& sample, bool shared)
{
    // A sample of another size than Init announced would make every later
    // per-pixel step read past a row; it is refused, and a model left without
    // samples stays untrained.
    if (!isGrey(sample) || sum.empty() || sample.size() != sum.size()) {
        qWarning("DefectModel: sample of %dx%d refused for an area of %dx%d", sample.cols, sample.rows,
                 sum.cols, sum.rows);
        return;
    }
    if (shared) {
        samples.push_back(sample);
        samplesShared = true;
    } else {
        samples.push_back(sample.clone());
    }
    for (int y = 0; y < sample.rows; ++y) {
        const uchar* s = sample.ptr<uchar>(y);
        float* acc = sum.ptr<float>(y);
        for (int x = 0; x < sample.cols; ++x) {
            acc[x] += float(s[x]);
        }
    }
}

inline void DefectModel::Train(int areaTolerance, int factor, int firstCanny, int secondCanny)
{
    cannyLow = firstCanny;
    cannyHigh = secondCanny;
    trained = false;
    differenceMasks.clear();
    tolerance = areaTolerance;

    // No sample (no valid template) or a mask that does not fit: nothing sound
    // can be learned, and an untrained model is what the engine reports as an
    // area it cannot judge.
    if (samples.empty() || !isGrey(mask) || mask.size() != sum.size()) {
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

inline void DefectModel::learnEdges(int dilation)
{
    cv::Mat edges;
    cv::Canny(samples.front(), edges, cannyLow, cannyHigh, 3, false);
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(dilation, dilation));
    cv::Mat dilated;
    cv::dilate(edges, dilated, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    dilated.convertTo(deviation, CV_32F);
    samples.front().convertTo(mean, CV_32F);
}

inline void DefectModel::learnMeanAndDeviation()
{
    const int rows = sum.rows;
    const int cols = sum.cols;
    const float count = float(samples.size());
    for (int y = 0; y < rows; ++y) {
        const float* acc = sum.ptr<float>(y);
        float* m = mean.ptr<float>(y);
        for (int x = 0; x < cols; ++x) {
            m[x] = acc[x] / count;
        }
    }
    cv::Mat squares = cv::Mat::zeros(rows, cols, CV_32F);
    for (const cv::Mat& sample : samples) {
        for (int y = 0; y < rows; ++y) {
            const uchar* s = sample.ptr<uchar>(y);
            const float* m = mean.ptr<float>(y);
            float* q = squares.ptr<float>(y);
            for (int x = 0; x < cols; ++x) {
                const float d = m[x] - float(s[x]);
                q[x] += d * d;
            }
        }
    }
    for (int y = 0; y < rows; ++y) {
        const float* q = squares.ptr<float>(y);
        float* dev = deviation.ptr<float>(y);
        for (int x = 0; x < cols; ++x) {
            dev[x] = std::sqrt(q[x] / count);
        }
    }
}

inline void DefectModel::boundsFromDeviation(int factor)
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

inline void DefectModel::boundsFromSpan()
{
    // In 64 bits, so an absurd tolerance cannot wrap around.
    for (int y = 0; y < mask.rows; ++y) {
        const uchar* inspected = mask.ptr<uchar>(y);
        uchar* up = upper.ptr<uchar>(y);
        uchar* lo = lower.ptr<uchar>(y);
        for (int x = 0; x < mask.cols; ++x) {
            if (!inspected[x]) {
                continue;
            }
            int highest = 0;
            int lowest = 255;
            for (const cv::Mat& sample : samples) {
                const int v = sample.ptr<uchar>(y)[x];
                highest = std::max(highest, v);
                lowest = std::min(lowest, v);
            }
            const qint64 high = std::min<qint64>(qint64(highest) + tolerance, 255);
            const qint64 low = std::max<qint64>(qint64(lowest) - tolerance, 0);
            up[x] = uchar(std::clamp<qint64>(high, 0, 255));
            lo[x] = uchar(std::clamp<qint64>(low, 0, 255));
        }
    }
}

inline bool DefectModel::Detect(cv::Mat live, cv::Mat& output)
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

inline void DefectModel::Reset()
{
    trained = false;
    if (mode > 1 || samplesShared) {
        samples.clear();
        differenceMasks.clear();
        samplesShared = false;
    }
}




inline void SimilarityModel::Init(int width, int height, const cv::Mat& areaMask)
{
    samples.clear();
    if (width <= 0 || height <= 0 || areaMask.type() != CV_8UC1 || areaMask.cols != width
        || areaMask.rows != height) {
        // A mask that does not describe the area leaves the model without
        // pixels: it trains no vector and scores 0.
        mask.release();
        return;
    }
    mask = areaMask.clone();
}

inline void SimilarityModel::AddSample(const cv::Mat& sample)
{
    if (mask.empty() || sample.type() != CV_8UC1 || sample.size() != mask.size()) {
        qWarning("SimilarityModel: sample of %dx%d refused for an area of %dx%d", sample.cols, sample.rows,
                 mask.cols, mask.rows);
        return;
    }
    samples.push_back(sample.clone());
}

inline void SimilarityModel::maskedVector(const cv::Mat& image, std::vector<float>& out) const
{
    for (int y = 0; y < image.rows; ++y) {
        const uchar* v = image.ptr<uchar>(y);
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < image.cols; ++x) {
            if (m[x]) {
                out.push_back(float(v[x]));
            }
        }
    }
}

namespace similarity_detail {

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
inline double correlate(const Sums& s)
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

} // namespace similarity_detail
using namespace similarity_detail;

inline void SimilarityModel::Train()
{
    for (const cv::Mat& sample : samples) {
        std::vector<float> vector;
        vector.reserve(std::size_t(cv::countNonZero(mask)));
        maskedVector(sample, vector);
        double sum = 0.0;
        double square = 0.0;
        for (float v : vector) {
            sum += v;
            square += double(v) * v;
        }
        vectors.push_back(std::move(vector));
        sums.push_back(sum);
        squares.push_back(square);
    }
    samples.clear();
}

inline float SimilarityModel::Detect(cv::Mat live, cv::Mat& output)
{
    if (output.type() == CV_8UC1 && output.size() == live.size()) {
        output.setTo(0);
    } else {
        output = cv::Mat::zeros(live.size(), CV_8UC1);
    }
    if (vectors.empty() || live.type() != CV_8UC1 || live.size() != mask.size()) {
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
    for (std::size_t k = 0; k < vectors.size(); ++k) {
        const std::vector<float>& trained = vectors[k];
        if (trained.empty() || trained.size() != liveVector.size()) {
            continue;
        }
        s.a = sums[k];
        s.aa = squares[k];
        double ab = 0.0;
        for (std::size_t i = 0; i < trained.size(); ++i) {
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

inline void SimilarityModel::Reset()
{
    vectors.clear();
    sums.clear();
    squares.clear();
}


} // namespace baseline
