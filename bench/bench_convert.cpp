// The colour converters of the camera frame path against OpenCV's cvtColor on
// one thread: rgb24ToRgb32 (3-byte RGB to blue, green, red, 0) against
// COLOR_RGB2BGRA, and greyToRgb32 (grey to v, v, v, 0) against
// COLOR_GRAY2BGRA, at 1920 x 1080 and 2448 x 2048. Prints megapixels a second
// (median of the repeats) and the ratio ours / cvtColor; each result is
// checked against cvtColor's.
//
// Usage: bench_convert [repeats]

#include "camerainterface.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double medianMegapixelsPerSecond(int repeats, double megapixels, const std::function<void()>& run)
{
    std::vector<double> rates;
    run();  // warm the caches and the pages
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        run();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        rates.push_back(megapixels / seconds);
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

bool compare(int width, int height, int repeats, bool colour)
{
    const double megapixels = double(width) * double(height) / 1e6;
    cv::Mat source(height, width, colour ? CV_8UC3 : CV_8UC1);
    cv::randu(source, 0, 256);
    cv::Mat ours(height, width, CV_8UC4);
    cv::Mat theirs(height, width, CV_8UC4);

    const double ourRate = medianMegapixelsPerSecond(repeats, megapixels, [&] {
        if (colour) {
            rgb24ToRgb32(ours.data, source.data, width, height);
        } else {
            greyToRgb32(ours.data, source.data, width, height);
        }
    });
    const double theirRate = medianMegapixelsPerSecond(repeats, megapixels, [&] {
        cv::cvtColor(source, theirs, colour ? cv::COLOR_RGB2BGRA : cv::COLOR_GRAY2BGRA);
    });
    // cvtColor sets the fourth byte to 255; ours is 0 as the frame format wants.
    cv::Mat expected = theirs.clone();
    std::vector<cv::Mat> planes;
    cv::split(expected, planes);
    planes[3].setTo(0);
    cv::merge(planes, expected);
    const bool same = cv::norm(ours, expected, cv::NORM_INF) == 0;
    std::printf("%-12s %4d x %4d  ours %8.1f MP/s  cvtColor %8.1f MP/s  ratio %.2f%s\n",
                colour ? "rgb24ToRgb32" : "greyToRgb32", width, height, ourRate, theirRate, ourRate / theirRate,
                same ? "" : "  RESULT DIFFERS");
    return same;
}

} // namespace

int main(int argc, char** argv)
{
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    cv::setNumThreads(1);
    bool same = true;
    for (bool colour : {true, false}) {
        same = compare(1920, 1080, repeats, colour) && same;
        same = compare(2448, 2048, repeats, colour) && same;
    }
    return same ? 0 : 1;
}
