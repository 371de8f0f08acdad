#pragma once

#include <opencv2/core.hpp>

#include <vector>

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
    // training dropped. With storage (StorageBytes(width, height) bytes, on a
    // 16-byte boundary, the caller's to keep until the next Init) statistics,
    // bounds and mask live there instead of in blocks of their own.
    void Init(int width, int height, const cv::Mat& mask, int mode, unsigned char* storage = nullptr);
    // The storage an area of that size takes: mean and deviation in floats,
    // bounds and mask in bytes.
    static std::size_t StorageBytes(int width, int height);
    // Keeps a copy of the sample for Train.
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
    // Mean and standard deviation of two or more samples, one row at a time.
    void learnMeanAndDeviation();
    // Bounds mean +/- factor deviations, at least +/- the tolerance.
    void boundsFromDeviation(int factor);
    // Factor 0 with two or more samples: the span the samples cover, widened
    // by the tolerance.
    void boundsFromSpan();
    // Statistics and bounds of the area's size, all 0; their blocks are
    // reused when the size has not changed, or placed in storage.
    void clearStatistics(unsigned char* storage);

    bool trained = false;
    // The area's size announced by Init; samples of any other are refused.
    cv::Size area;
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
