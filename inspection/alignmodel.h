#pragma once

#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/stitching/detail/matchers.hpp>

// Angle correction: learns the SIFT features of a detect's template (inside a
// mask) and maps every live frame onto the template's geometry with a
// homography estimated from matched features, removing shift, rotation and
// mild perspective from a knocked camera before the frame is located and
// inspected.
//
// Both images are shrunk by the same working scale (at most about 500,000
// pixels) before feature detection so their descriptors stay comparable; the
// matched points are scaled back and the homography is estimated at full
// resolution.
//
// Everything that depends on the template alone (its features and the search
// index over its descriptors) is built once by Train; a frame costs its own
// features and the index over them.
class AlignModel {
public:
    AlignModel();
    AlignModel(const AlignModel&) = delete;
    AlignModel& operator=(const AlignModel&) = delete;

    // True when the template yields at least minKeypoints keypoints. Any failure
    // (empty template, mask not 8-bit grey or not the template's size, too few
    // keypoints) leaves a model that refuses to align and keeps the previous
    // working scale.
    bool Train(const cv::Mat& templ, const cv::Mat& mask, int minKeypoints);

    // Writes the live image mapped onto the template into output and returns
    // true; output receives the pixels in its own buffer when it already has the
    // live image's size and type. Returns false with output untouched when the
    // model is not trained, the live image is empty, too few features match, or
    // the estimated transform is not plausible (too few inliers, folded,
    // mirrored, or scaled far beyond what a knocked camera can do).
    bool Align(cv::Mat live, cv::Mat& output, float matchConfidence);

    // SIFT features of an image at the model's scale, restricted by the model's
    // mask when that has the working image's size. An empty image leaves the
    // entry as it was.
    void ComputeFeatures(const cv::Mat& image, cv::detail::ImageFeatures& entry, int imageIndex);

    // Homography from live points to template points (RANSAC, 3 pixels). False
    // for fewer than 4 pairs or when no homography is found.
    static bool EstimateHomography(const std::vector<cv::Point2f>& livePoints,
                                   const std::vector<cv::Point2f>& templatePoints,
                                   cv::Mat& homography, int& inliers);

    // Whether a homography found with the given inlier count may be applied to
    // an image of the given size.
    static bool IsPlausible(const cv::Mat& homography, int inliers, cv::Size imageSize);

    static constexpr int kMinInliers = 12;

    bool IsTrained() const { return trained; }
    // The transform the last successful Align applied (live to template).
    const cv::Mat& Homography() const { return homography; }
    float Scale() const { return scale; }
    const cv::Mat& Mask() const { return mask; }
    const std::vector<cv::detail::ImageFeatures>& Features() const { return features; }

private:
    // The pairs of live and template features that both directions of the
    // nearest-neighbour search agree are distinct enough: live to template
    // first (in live order), then template to live where not found already.
    void matchFeatures(float matchConfidence, std::vector<cv::DMatch>& matches);

    cv::Mat mask;
    std::vector<cv::detail::ImageFeatures> features; // [0] live, [1] template
    float scale = 1.0f;
    bool trained = false;
    cv::Mat homography;
    // The template's descriptors and the k-d trees over them.
    cv::Mat templateDescriptors;
    cv::Ptr<cv::FlannBasedMatcher> templateMatcher;
    // The random generator's state right after the template's trees were
    // drawn: the live trees are drawn from here, so a frame gets the trees
    // it would get if the template's were drawn anew before it.
    uint64 randomAfterTemplate = 0;
};
