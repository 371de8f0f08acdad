// Locating a positioning target in a 1280 x 1024 frame with a 200 x 200 model:
// our pyramid shape search against a baseline of cv::matchTemplate
// (normalised correlation) over the model turned to every angle of the search's
// ladder. Both search the whole frame. Prints median and 99th-percentile times,
// position and angle errors, and the ratio of the times.
//
// Usage: bench_locate [frames] [repeats] [range]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "shapemodel.h"
#include "syntheticframe.h"
#include "targetlocator.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kModelSide = 200;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const double at = p * double(v.size() - 1);
    const size_t lo = size_t(std::floor(at));
    const size_t hi = std::min(v.size() - 1, lo + 1);
    return v[lo] + (v[hi] - v[lo]) * (at - double(lo));
}

struct Result {
    std::vector<double> times;
    std::vector<double> positionErrors; // pixels, larger of |dx| and |dy|
    std::vector<double> angleErrors;    // degrees
    int misses = 0;
};

struct Frame {
    cv::Mat image;
    cv::Point2d centre;
    double angle;
};

void report(const char* name, const Result& r)
{
    std::printf("  %-26s time median %8.2f ms  p99 %8.2f ms | position error median %.2f p90 "
                "%.2f max %.2f px | angle error median %.2f p90 %.2f max %.2f deg | not found "
                "%d\n",
                name, percentile(r.times, 0.5), percentile(r.times, 0.99),
                percentile(r.positionErrors, 0.5), percentile(r.positionErrors, 0.9),
                percentile(r.positionErrors, 1.0), percentile(r.angleErrors, 0.5),
                percentile(r.angleErrors, 0.9), percentile(r.angleErrors, 1.0), r.misses);
}

// Our search through the locator, as the engine calls it.
Result runShapeSearch(const cv::Mat& templ, const cv::Point& reference, int range,
                      const std::vector<Frame>& frames, int repeats)
{
    TargetLocator locator;
    if (!locator.Setup(templ, 0, range, reference.x, reference.y, cv::Mat())) {
        std::fprintf(stderr, "set-up failed\n");
        std::exit(1);
    }
    Result r;
    for (const Frame& f : frames) {
        int dx = 0;
        int dy = 0;
        double angle = 0.0;
        bool found = false;
        for (int i = 0; i < repeats; ++i) {
            const Clock::time_point start = Clock::now();
            found = locator.Locate(f.image, dx, dy, angle);
            r.times.push_back(millisecondsSince(start));
        }
        if (!found) {
            ++r.misses;
            continue;
        }
        const double x = reference.x - dx;
        const double y = reference.y - dy;
        r.positionErrors.push_back(std::max(std::fabs(x - f.centre.x), std::fabs(y - f.centre.y)));
        r.angleErrors.push_back(std::fabs(angle - f.angle));
    }
    return r;
}

// The model turned by each angle of the ladder (clockwise on the screen, the
// locator's sense), cut from the turned template frame so that its corners
// hold real surroundings rather than black.
std::vector<cv::Mat> turnedModels(const cv::Mat& templateFrame, const cv::Rect& area,
                                  const std::vector<float>& ladder)
{
    std::vector<cv::Mat> models;
    const cv::Point2f centre(area.x + area.width / 2.0f, area.y + area.height / 2.0f);
    for (float a : ladder) {
        cv::Mat turned;
        cv::warpAffine(templateFrame, turned, cv::getRotationMatrix2D(centre, -a, 1.0),
                       templateFrame.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
        models.push_back(turned(area).clone());
    }
    return models;
}

Result runBaseline(const std::vector<cv::Mat>& models, const std::vector<float>& ladder,
                   const std::vector<Frame>& frames, int repeats)
{
    Result r;
    cv::Mat scores;
    for (const Frame& f : frames) {
        double bestScore = -2.0;
        cv::Point bestAt;
        float bestAngle = 0.0f;
        for (int i = 0; i < repeats; ++i) {
            const Clock::time_point start = Clock::now();
            bestScore = -2.0;
            for (size_t k = 0; k < models.size(); ++k) {
                cv::matchTemplate(f.image, models[k], scores, cv::TM_CCOEFF_NORMED);
                double maxValue = 0.0;
                cv::Point maxAt;
                cv::minMaxLoc(scores, nullptr, &maxValue, nullptr, &maxAt);
                if (maxValue > bestScore) {
                    bestScore = maxValue;
                    bestAt = maxAt;
                    bestAngle = ladder[k];
                }
            }
            r.times.push_back(millisecondsSince(start));
        }
        const double x = bestAt.x + models[0].cols / 2;
        const double y = bestAt.y + models[0].rows / 2;
        r.positionErrors.push_back(std::max(std::fabs(x - f.centre.x), std::fabs(y - f.centre.y)));
        r.angleErrors.push_back(std::fabs(bestAngle - f.angle));
    }
    return r;
}

void benchScene(const char* title, double partWidth, double partHeight, int frameCount,
                int repeats, int range)
{
    SyntheticScene scene;
    scene.width = kWidth;
    scene.height = kHeight;
    scene.partWidth = partWidth;
    scene.partHeight = partHeight;
    const cv::Mat templateFrame = makeSyntheticFrame(scene).image;
    const cv::Point reference(kWidth / 2, kHeight / 2);
    const cv::Rect area(reference.x - kModelSide / 2, reference.y - kModelSide / 2, kModelSide,
                        kModelSide);
    const cv::Mat templ = templateFrame(area).clone();

    // The part anywhere within 150 pixels of its place, turned within the range.
    std::vector<Frame> frames;
    cv::RNG rng(2024);
    for (int i = 0; i < frameCount; ++i) {
        SyntheticScene s = scene;
        s.dx = rng.uniform(-150.0, 150.0);
        s.dy = rng.uniform(-150.0, 150.0);
        s.angle = range > 0 ? rng.uniform(-double(range), double(range)) : 0.0;
        s.gain = rng.uniform(0.8, 1.2);
        s.offset = rng.uniform(-20.0, 20.0);
        s.noiseSigma = rng.uniform(1.0, 4.0);
        s.noiseSeed = 100 + i;
        const SyntheticFrame f = makeSyntheticFrame(s);
        frames.push_back({ f.image, f.partCentre, f.partAngle });
    }

    const int levels = shapeLevelCount(kModelSide, kModelSide);
    const float topStep = 0.1f * float(1 << (levels - 1));
    std::vector<float> ladder;
    for (int f = 0; f <= int((2.0f * range) / topStep); ++f)
        ladder.push_back(-float(range) + float(f) * topStep);
    if (range == 0)
        ladder.assign(1, 0.0f);

    std::printf("%s: part %.0f x %.0f, model %d x %d (%d levels), range +-%d deg, %zu ladder "
                "angles (step %.1f), %d frames\n",
                title, partWidth, partHeight, kModelSide, kModelSide, levels, range, ladder.size(),
                double(topStep), frameCount);
    const Result ours = runShapeSearch(templ, reference, range, frames, repeats);
    report("shape search", ours);

    const std::vector<cv::Mat> models = turnedModels(templateFrame, area, ladder);
    for (int threads : { cv::getNumThreads(), 1 }) {
        const int previous = cv::getNumThreads();
        cv::setNumThreads(threads);
        const Result base = runBaseline(models, ladder, frames, 1);
        cv::setNumThreads(previous);
        char name[64];
        std::snprintf(name, sizeof name, "matchTemplate, %d thread%s", threads,
                      threads == 1 ? "" : "s");
        report(name, base);
        std::printf("  %-26s median %.1fx  p99 %.1fx\n", "baseline / shape search",
                    percentile(base.times, 0.5) / percentile(ours.times, 0.5),
                    percentile(base.times, 0.99) / percentile(ours.times, 0.99));
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const int range = argc > 3 ? std::max(0, std::atoi(argv[3])) : 10;
    std::printf("bench_locate: %d x %d frame, OpenCV %s, %d threads available\n\n", kWidth,
                kHeight, CV_VERSION, cv::getNumThreads());
    benchScene("square part", 184, 184, frames, repeats, range);
    benchScene("oblong part", 192, 110, frames, repeats, range);
    benchScene("square part, no rotation", 184, 184, frames, repeats, 0);
    return 0;
}
