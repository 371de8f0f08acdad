#include "similaritymodel.h"

#include <QtGlobal>

#include <algorithm>
#include <cfloat>
#include <cmath>

void SimilarityModel::Init(int width, int height, const cv::Mat& areaMask)
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

void SimilarityModel::AddSample(const cv::Mat& sample)
{
    if (mask.empty() || sample.type() != CV_8UC1 || sample.size() != mask.size()) {
        qWarning("SimilarityModel: sample of %dx%d refused for an area of %dx%d", sample.cols, sample.rows,
                 mask.cols, mask.rows);
        return;
    }
    samples.push_back(sample.clone());
}

void SimilarityModel::maskedVector(const cv::Mat& image, std::vector<float>& out) const
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

void SimilarityModel::Train()
{
    for (const cv::Mat& sample : samples) {
        std::vector<float> vector;
        vector.reserve(std::size_t(cv::countNonZero(mask)));
        maskedVector(sample, vector);
        vectors.push_back(std::move(vector));
    }
    samples.clear();
}

float SimilarityModel::Detect(cv::Mat live, cv::Mat& output)
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
    double best = 0.0;
    for (const std::vector<float>& trained : vectors) {
        const double r = pearsonCorrelation(trained, liveVector);
        if (!std::isnan(r)) {
            best = std::max(best, r);
        }
    }
    return float(best * 100.0);
}

void SimilarityModel::Reset()
{
    vectors.clear();
}

double pearsonCorrelation(const std::vector<float>& a, const std::vector<float>& b)
{
    const std::size_t n = a.size();
    if (n == 0 || b.size() < n) {
        return 0.0;
    }
    // Centred sums: the same correlation as the textbook sums, but a constant
    // vector gives exactly 0 variance however many pixels it has, where
    // Saa - Sa * Sa / n loses the digits that tell constant from varying.
    double sa = 0.0;
    double sb = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        sa += a[i];
        sb += b[i];
    }
    const double ma = sa / double(n);
    const double mb = sb / double(n);
    double va = 0.0;
    double vb = 0.0;
    double cov = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double da = a[i] - ma;
        const double db = b[i] - mb;
        va += da * da;
        vb += db * db;
        cov += da * db;
    }
    const double d = va * vb;
    if (std::fabs(d) > DBL_EPSILON) {
        return cov / std::sqrt(d);
    }
    if (std::fabs(va) < DBL_EPSILON && std::fabs(vb) < DBL_EPSILON) {
        return std::max(0.0, 1.0 - std::fabs(ma - mb) / 255.0);
    }
    return 0.0;
}
