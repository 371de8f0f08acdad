#include "alignmodel.h"

#include <cmath>
#include <set>
#include <utility>

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr double kMaxPixels = 500000.0;

// Bounds of a plausible correction. A knocked camera or a shifted mould moves,
// turns and slightly tilts the picture; it does not halve or double the part,
// mirror it or fold it.
constexpr double kMinAreaRatio = 0.5;
constexpr double kMaxAreaRatio = 2.0;
constexpr double kMinSideRatio = 0.5;
constexpr double kMaxSideRatio = 2.0;
constexpr double kMinDepth = 0.1;

// SIFT reads 8-bit pixels with 1, 3 or 4 channels; anything else would raise
// inside OpenCV instead of failing quietly.
bool usableImage(const cv::Mat& image)
{
    return !image.empty() && image.depth() == CV_8U
        && (image.channels() == 1 || image.channels() == 3 || image.channels() == 4);
}

// The matcher's k-d trees are drawn from OpenCV's random generator, which
// every other user on the thread shares: left alone, the same template and
// frame would get different matches, and near the plausibility limits a
// different verdict, depending on what ran before. The template's trees are
// drawn from a fixed state when it is trained, each frame's trees from the
// state that left; the caller's state is put back afterwards so nobody
// else's sequence changes. The generator is per thread, and the trees are
// built and searched on the calling thread, so stations on different threads
// do not meet.
class FixedRandomState {
public:
    static constexpr uint64 kSeed = 0x6B6F7276616E6531ULL;
    explicit FixedRandomState(uint64 state = kSeed) : saved(cv::theRNG().state) { cv::theRNG().state = state; }
    ~FixedRandomState() { cv::theRNG().state = saved; }
    FixedRandomState(const FixedRandomState&) = delete;
    FixedRandomState& operator=(const FixedRandomState&) = delete;

private:
    uint64 saved;
};

// Four randomised k-d trees, 32 leaves checked per search.
cv::Ptr<cv::FlannBasedMatcher> makeMatcher()
{
    return cv::makePtr<cv::FlannBasedMatcher>(cv::makePtr<cv::flann::KDTreeIndexParams>(),
                                              cv::makePtr<cv::flann::SearchParams>());
}

// Whether the nearest of two is clearly nearer than the second.
bool distinct(const std::vector<cv::DMatch>& nearest, float matchConfidence)
{
    return nearest.size() >= 2 && nearest[0].distance < (1.f - matchConfidence) * nearest[1].distance;
}

double cross(const cv::Point2d& o, const cv::Point2d& a, const cv::Point2d& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

} // namespace

AlignModel::AlignModel() : features(2) {}

void AlignModel::ComputeFeatures(const cv::Mat& image, cv::detail::ImageFeatures& entry,
                                 int imageIndex)
{
    if (!usableImage(image))
        return;
    cv::Ptr<cv::SIFT> sift = cv::SIFT::create(0, 3, 0.04, 10, 1.6);

    cv::Mat grey;
    if (image.channels() == 3)
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    else
        grey = image;
    cv::Mat working;
    cv::resize(grey, working, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);

    const bool useMask = !mask.empty() && mask.type() == CV_8UC1 && mask.size() == working.size();
    if (useMask)
        cv::detail::computeImageFeatures(sift, working, entry, mask);
    else
        cv::detail::computeImageFeatures(sift, working, entry);
    entry.img_idx = imageIndex;
}

bool AlignModel::Train(const cv::Mat& templ, const cv::Mat& maskImage, int minKeypoints)
{
    if (features.size() != 2) {
        features.clear();
        features.resize(2);
    }
    // Whatever happens below, the old template features no longer describe
    // what the caller wants aligned: never align against them again.
    trained = false;
    features[1] = cv::detail::ImageFeatures();
    templateDescriptors.release();
    templateMatcher.release();

    const float area = static_cast<float>(templ.cols * templ.rows);
    if (area == 0.0f || !usableImage(templ))
        return false;
    if (!maskImage.empty()
        && (maskImage.type() != CV_8UC1 || maskImage.size() != templ.size()))
        return false;

    const float previousScale = scale;
    scale = std::min(1.0f, std::sqrt(static_cast<float>(kMaxPixels) / area));
    if (!maskImage.empty())
        cv::resize(maskImage, mask, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
    else
        mask.release();

    ComputeFeatures(templ, features[1], 1);
    if (static_cast<int>(features[1].keypoints.size()) < minKeypoints) {
        scale = previousScale;
        features[1] = cv::detail::ImageFeatures();
        mask.release();
        return false;
    }
    trained = true;
    // A template without features trains a model that refuses every frame.
    if (features[1].descriptors.empty())
        return true;
    templateDescriptors = features[1].descriptors.getMat(cv::ACCESS_READ).clone();
    {
        const FixedRandomState fixed;
        templateMatcher = makeMatcher();
        templateMatcher->add(std::vector<cv::Mat>{ templateDescriptors });
        templateMatcher->train();
        randomAfterTemplate = cv::theRNG().state;
    }
    return true;
}

void AlignModel::matchFeatures(float matchConfidence, std::vector<cv::DMatch>& matches)
{
    matches.clear();
    const cv::Mat liveDescriptors = features[0].descriptors.getMat(cv::ACCESS_READ);
    std::vector<std::vector<cv::DMatch>> nearest;
    std::set<std::pair<int, int>> found;
    templateMatcher->knnMatch(liveDescriptors, nearest, 2);
    for (const std::vector<cv::DMatch>& pair : nearest) {
        if (distinct(pair, matchConfidence)) {
            matches.push_back(pair[0]);
            found.insert(std::make_pair(pair[0].queryIdx, pair[0].trainIdx));
        }
    }
    nearest.clear();
    {
        const FixedRandomState fixed(randomAfterTemplate);
        makeMatcher()->knnMatch(templateDescriptors, liveDescriptors, nearest, 2);
    }
    for (const std::vector<cv::DMatch>& pair : nearest) {
        if (distinct(pair, matchConfidence)
            && found.find(std::make_pair(pair[0].trainIdx, pair[0].queryIdx)) == found.end())
            matches.push_back(cv::DMatch(pair[0].trainIdx, pair[0].queryIdx, pair[0].distance));
    }
}

bool AlignModel::EstimateHomography(const std::vector<cv::Point2f>& livePoints,
                                    const std::vector<cv::Point2f>& templatePoints,
                                    cv::Mat& homography, int& inliers)
{
    homography.release();
    inliers = 0;
    if (livePoints.size() < 4 || livePoints.size() != templatePoints.size())
        return false;
    cv::Mat inlierMask;
    cv::Mat h = cv::findHomography(livePoints, templatePoints, cv::RANSAC, 3.0, inlierMask, 2000,
                                   0.995);
    if (h.empty())
        return false;
    homography = h;
    inliers = cv::countNonZero(inlierMask);
    return true;
}

bool AlignModel::IsPlausible(const cv::Mat& homography, int inliers, cv::Size imageSize)
{
    if (inliers < kMinInliers || homography.rows != 3 || homography.cols != 3
        || imageSize.width <= 0 || imageSize.height <= 0)
        return false;
    cv::Matx33d h;
    homography.convertTo(cv::Mat(3, 3, CV_64F, h.val), CV_64F);
    for (double v : h.val)
        if (!std::isfinite(v))
            return false;
    if (std::fabs(h(2, 2)) < 1e-12)
        return false;
    h *= 1.0 / h(2, 2);

    const double det = h(0, 0) * h(1, 1) - h(0, 1) * h(1, 0);
    if (!(det >= kMinAreaRatio && det <= kMaxAreaRatio))
        return false;

    const double w = imageSize.width;
    const double hgt = imageSize.height;
    const cv::Point2d corners[4] = { { 0, 0 }, { w, 0 }, { w, hgt }, { 0, hgt } };
    cv::Point2d mapped[4];
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d& p = corners[i];
        const double depth = h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2);
        // A corner at or behind the horizon: the frame would be torn apart.
        if (!(depth > kMinDepth))
            return false;
        mapped[i] = cv::Point2d((h(0, 0) * p.x + h(0, 1) * p.y + h(0, 2)) / depth,
                                (h(1, 0) * p.x + h(1, 1) * p.y + h(1, 2)) / depth);
    }
    // Convex and turning the same way as the frame (y down: positive cross).
    double area = 0.0;
    for (int i = 0; i < 4; ++i) {
        if (!(cross(mapped[i], mapped[(i + 1) % 4], mapped[(i + 2) % 4]) > 0.0))
            return false;
        area += mapped[i].x * mapped[(i + 1) % 4].y - mapped[(i + 1) % 4].x * mapped[i].y;
    }
    const double ratio = 0.5 * area / (w * hgt);
    if (!(ratio >= kMinAreaRatio && ratio <= kMaxAreaRatio))
        return false;
    for (int i = 0; i < 4; ++i) {
        const double side = cv::norm(mapped[(i + 1) % 4] - mapped[i]);
        const double original = (i % 2 == 0) ? w : hgt;
        const double r = side / original;
        if (!(r >= kMinSideRatio && r <= kMaxSideRatio))
            return false;
    }
    return true;
}

bool AlignModel::Align(cv::Mat live, cv::Mat& output, float matchConfidence)
{
    if (!usableImage(live) || !trained || features[1].keypoints.empty()
        || features[1].descriptors.empty())
        return false;

    ComputeFeatures(live, features[0], 0);
    if (features[0].keypoints.empty() || features[0].descriptors.empty())
        return false;

    if (!templateMatcher || features[0].descriptors.type() != templateDescriptors.type())
        return false;
    std::vector<cv::DMatch> matches;
    matchFeatures(matchConfidence, matches);

    const std::vector<cv::KeyPoint>& liveKeys = features[0].keypoints;
    const std::vector<cv::KeyPoint>& templateKeys = features[1].keypoints;
    std::vector<cv::Point2f> livePoints;
    std::vector<cv::Point2f> templatePoints;
    livePoints.reserve(matches.size());
    templatePoints.reserve(matches.size());
    for (const cv::DMatch& m : matches) {
        if (m.queryIdx < 0 || m.queryIdx >= static_cast<int>(liveKeys.size()) || m.trainIdx < 0
            || m.trainIdx >= static_cast<int>(templateKeys.size()))
            continue;
        livePoints.push_back(liveKeys[m.queryIdx].pt / scale);
        templatePoints.push_back(templateKeys[m.trainIdx].pt / scale);
    }

    cv::Mat h;
    int inliers = 0;
    if (!EstimateHomography(livePoints, templatePoints, h, inliers))
        return false;
    if (!IsPlausible(h, inliers, live.size()))
        return false;

    // warpPerspective cannot work in place; the engine may hand us headers over
    // one buffer.
    if (!output.empty() && live.datastart < output.dataend && output.datastart < live.dataend)
        live = live.clone();
    cv::warpPerspective(live, output, h, live.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                        cv::Scalar::all(0));
    homography = h;
    return true;
}
