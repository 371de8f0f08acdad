#pragma once

#include "syntheticframe.h"

#include <opencv2/imgproc.hpp>

// Pictures shared by the alignment tests and the program that aligns a pair
// in a process of its own.

constexpr float kAlignConfidence = 0.4f;
constexpr int kAlignMinKeypoints = 40;

// The synthetic mould seen by a camera knocked by a few pixels, a few degrees
// and a slight tilt.
inline SyntheticScene knockedScene()
{
    SyntheticScene s;
    s.cameraDx = 7;
    s.cameraDy = -5;
    s.cameraAngle = 3;
    s.perspective = 0.03;
    s.noiseSeed = 2;
    return s;
}

// A small picture crowded with edges and corners (some 300 features), so
// that the matcher's approximate search has near neighbours to tell apart:
// where its random trees decide, the same pair could get different matches.
inline cv::Mat busyTemplate()
{
    const int w = 240;
    const int h = 180;
    cv::Mat m;
    cv::resize(makeSyntheticFrame(SyntheticScene()).image, m, cv::Size(w, h));
    cv::RNG rng(17);
    for (int i = 0; i < w * h / 300; ++i) {
        const cv::Point at(rng.uniform(0, w), rng.uniform(0, h));
        const cv::Scalar grey(rng.uniform(0, 256));
        if (i % 2)
            cv::circle(m, at, rng.uniform(3, 20), grey, cv::FILLED);
        else
            cv::rectangle(m, cv::Rect(at, cv::Size(rng.uniform(4, 30), rng.uniform(4, 30))), grey, cv::FILLED);
    }
    cv::GaussianBlur(m, m, cv::Size(3, 3), 0.8);
    return m;
}

// The busy picture turned by 3 degrees and moved by (7, -5).
inline cv::Mat busyLive()
{
    const cv::Mat m = busyTemplate();
    cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(m.cols / 2.0f, m.rows / 2.0f), 3.0, 1.0);
    turn.at<double>(0, 2) += 7;
    turn.at<double>(1, 2) -= 5;
    cv::Mat out;
    cv::warpAffine(m, out, turn, m.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
    return out;
}
