#pragma once

#include <opencv2/core.hpp>

#include <vector>

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
    // added before, trained or not, are dropped with the old mask. With
    // storage (StorageBytes(width, height, samples) bytes, the caller's to keep
    // until the next Init) the mask and up to that many samples live there and
    // a sample beyond them is refused; without it the model keeps its own
    // block, reused by the next training.
    void Init(int width, int height, const cv::Mat& mask, unsigned char* storage = nullptr, int samples = 0);
    // Room for the mask and that many samples of an area of that size (every
    // pixel counted, whatever the mask leaves out).
    static std::size_t StorageBytes(int width, int height, int samples);
    // Takes the sample's masked pixels at once (the caller's pixels may change
    // right after); they become a vector at the next Train.
    void AddSample(const cv::Mat& sample);
    // Every sample added since the last Train becomes a vector of its masked
    // pixels.
    void Train();
    // The score 0 to 100; output becomes an all-zero image of the live size
    // (in place when it already is 8-bit of that size).
    float Detect(cv::Mat live, cv::Mat& output);
    // Empties the vectors and drops the samples not trained yet.
    void Reset();

    // At least one vector was trained.
    bool IsTrained() const { return trainedCount > 0; }
    cv::Size Size() const { return mask.size(); }
    const cv::Mat& Mask() const { return mask; }
    int VectorCount() const { return int(trainedCount); }
    int PendingSamples() const { return int(storedCount - trainedCount); }

private:
    // Appends the masked pixels of image to out, in storage order.
    template <typename T>
    void maskedVector(const cv::Mat& image, std::vector<T>& out) const;
    // Writes them to out (maskedCount bytes).
    void maskedPixels(const cv::Mat& image, unsigned char* out) const;
    // Vector k: maskedCount pixel values, one after the other.
    const unsigned char* vectorAt(std::size_t k) const;

    cv::Mat mask;
    // Pixels that take part (non-zero in the mask).
    std::size_t maskedCount = 0;
    // The samples' masked pixels, trained vectors first, then the samples
    // added since the last Train. Pixel values, kept as bytes: a quarter of
    // the memory of floats, and the scores are the same because every
    // product and sum is a whole number. In the caller's storage (room for
    // externalRoom samples) or in owned.
    unsigned char* external = nullptr;
    std::size_t externalRoom = 0;
    std::vector<unsigned char> owned;
    std::size_t storedCount = 0;
    std::size_t trainedCount = 0;
    // Per vector: its sum and sum of squares, so that Detect needs one pass
    // per vector (the products with the live vector).
    std::vector<double> sums;
    std::vector<double> squares;
    // Reused by Detect so that a cycle allocates nothing here.
    std::vector<float> liveVector;
};

// Pearson correlation of a (trained) and b (live), read at the same positions
// over a's length. Two constant vectors correlate 1 only at the same level:
// their correlation is undefined, and a saturated white template must not pass
// a black live area, so the level difference decides (1 - |difference| / 255).
// A constant against a varying vector, an empty a or a b shorter than a give 0.
//
// The vectors hold pixel values, so every sum is an exact integer in double
// precision and the variances are formed in extended precision: a constant
// vector has exactly zero variance however many pixels it has.
double pearsonCorrelation(const std::vector<float>& a, const std::vector<float>& b);
