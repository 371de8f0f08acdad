// Angle positioning against the way it was done before, in one process on one
// core: one detect of 50 areas on a 1920 x 1080 grey frame with the target
// searched within +-10 degrees and the frame turned back, as the engine runs
// it (frame copy, positioning, inspection), once with today's code and once
// with the positioning kept as it was (positioningbaseline.h: the shape search
// computing the live frame's gradients over the whole reach of the template
// on every level, and the turn-back without its fast path). Both take turns on
// the same frames, so a busy machine slows both alike.
//
// Prints per configuration the median and 99th percentile of the whole detect
// and of the positioning alone, the ratio of the old figure to today's, and
// checks on every frame that both found the same shift and angle, turned the
// frame back to the same bytes and gave the same verdict to every area.
//
// Then the positions alone on the target locator's harder scenes (the part
// anywhere within 150 pixels, turned within the range, with gain, offset,
// noise, and on the hard ones blur, an occluder and a little perspective):
// how many of the found poses differ from the old search's, and by how much.
//
// Usage: bench_positioning [runs per configuration, default 60] [frames per scene, default 20]

#include "detectalgorithm.h"
#include "enginestation.h"
#include "imagehelpers.h"
#include "positioningbaseline.h"
#include "syntheticframe.h"
#include "targetlocator.h"

#include <QCoreApplication>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sched.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Mix = 0;

class QuietPeers : public InspectionPeers {
public:
    int detect = Mix;
    int currentDetect() override { return detect; }
    void insertRecord(const QString& text) override { std::fprintf(stderr, "event: %s\n", qPrintable(text)); }
    void appendCycleValue(int) override {}
    std::optional<int> roiTemperature(int, int) override { return 60; }
    DetectResult currentResult() override { return DetectResult(); }
    void handOverResult(const DetectResult&) override {}
    void repaintStation() override {}
};

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double quantile(std::vector<double> v, double p)
{
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

// The frame's part about half its width, on the mould with marks of its own.
SyntheticScene sceneOf(int w, int h)
{
    SyntheticScene s;
    s.width = w;
    s.height = h;
    s.partWidth = w / 2.0;
    s.partHeight = h / 2.5;
    s.mouldSeed = 3;
    return s;
}

// Cell k of an 8 x 7 grid over the frame, as an area of about 150 x 140.
cv::Rect cellOf(int k, int w, int h)
{
    const int cw = w / 8;
    const int ch = h / 7;
    return cv::Rect((k % 8) * cw + (cw - 150) / 2, (k / 8) * ch + (ch - 140) / 2, 150, 140);
}

const int kFunctions[] = { FuncDefect, FuncSpot, FuncBlackArea, FuncWhiteArea, FuncSimilarity,
                           FuncWhiteNum, FuncReserved8, FuncTempAlarm, FuncReserved11 };

// Limits that judge a good part OK and a marked one NG; two areas have limits
// no frame meets.
void addLimitedArea(EngineStation& st, int function, cv::Rect r, bool impossible)
{
    switch (function) {
    case FuncDefect: st.addRect(Mix, function, r, 3, 25, 150); break;
    case FuncSpot: st.addRect(Mix, function, r, 40 << 8, 0, impossible ? -1 : 60); break;
    case FuncBlackArea: st.addRect(Mix, function, r, 0, 40, 60); break;
    case FuncWhiteArea: st.addRect(Mix, function, r, 0, 235, impossible ? -1 : 60); break;
    case FuncSimilarity: st.addRect(Mix, function, r, 0, 40, 100); break;
    case FuncWhiteNum: st.addRect(Mix, function, r, 5, 235, 3); break;
    case FuncTempAlarm: st.addRect(Mix, function, r, 95, 0, 100); break;
    default: st.addRect(Mix, function, r, 3, 235, 60); break;
    }
}

// Specks in four cells, which the areas there must find.
void addSpecks(cv::Mat& frame)
{
    for (int k : { 12, 21, 30, 39 }) {
        const cv::Rect c = cellOf(k, frame.cols, frame.rows);
        const cv::Point centre(c.x + c.width / 2, c.y + c.height / 2);
        cv::circle(frame, centre, 9, cv::Scalar(8), cv::FILLED);
        cv::circle(frame, centre + cv::Point(30, 25), 6, cv::Scalar(250), cv::FILLED);
    }
}

struct Pose {
    bool found = false;
    int dx = 0;
    int dy = 0;
    double angle = 0.0;
    bool operator==(const Pose& o) const
    {
        return found == o.found && (!found || (dx == o.dx && dy == o.dy && angle == o.angle));
    }
};

// The engine's positioning step as it was, with the search and the turn of
// before: the locator's model, window and reference, the same parameters.
class BaselinePositioning {
public:
    BaselinePositioning(const DetectAlgorithm& engine, const SystemParam& params, int detect)
        : engine(engine), params(params), detect(detect)
    {
    }

    Pose run(StationData& st)
    {
        Pose pose;
        const TargetLocator& locator = engine.locators[detect];
        cv::Mat aligned = st.frameHeader(st.alignedBuffer, false);
        cv::Mat judged = st.frameHeader(st.lastImage, false);
        const cv::Rect window(engine.searchWindows[detect][0], engine.searchWindows[detect][1],
                              engine.searchWindows[detect][2], engine.searchWindows[detect][3]);
        const int range = params.rotateCorrect();
        const bool rotate = locator.Mode() == 4;
        ShapeSearchParams sp;
        sp.minScore = TargetLocator::kMinScore;
        sp.angleStep = 0.1f;
        if (rotate) {
            sp.angleStart = -float(range);
            sp.angleEnd = float(range);
        }
        cv::Point2f found;
        float foundAngle = 0.0f;
        pose.found = baseline::findShape(aligned(window), locator.Model(), sp, rotate, found, foundAngle, &table);
        if (!pose.found) {
            std::copy(st.alignedBuffer.begin(), st.alignedBuffer.end(), st.lastImage.begin());
            return pose;
        }
        pose.dx = TargetLocator::ShiftFrom(engine.locateCentreX[detect], found.x) - window.x;
        pose.dy = TargetLocator::ShiftFrom(engine.locateCentreY[detect], found.y) - window.y;
        pose.angle = rotate ? double(foundAngle) : 0.0;
        if (range >= 1 && range <= 180) {
            baseline::rotateImage(aligned, judged, pose.dx, pose.dy, engine.locateCentreX[detect],
                                  engine.locateCentreY[detect], pose.angle);
        } else {
            shiftImage(aligned, judged, pose.dx, pose.dy);
        }
        return pose;
    }

private:
    const DetectAlgorithm& engine;
    const SystemParam& params;
    int detect;
    baseline::ShapeAngleTable table;
};

// Today's pose, read back the way the engine found it: searched again on the
// aligned frame with the locator (the engine keeps no pose of its own).
Pose todaysPose(DetectAlgorithm& engine, StationData& st, int detect, int range)
{
    Pose pose;
    cv::Mat aligned = st.frameHeader(st.alignedBuffer, false);
    const cv::Rect window(engine.searchWindows[detect][0], engine.searchWindows[detect][1],
                          engine.searchWindows[detect][2], engine.searchWindows[detect][3]);
    int dx = 0;
    int dy = 0;
    double angle = 0.0;
    pose.found = engine.locators[detect].Locate(aligned(window), dx, dy, angle);
    pose.dx = dx - window.x;
    pose.dy = dy - window.y;
    pose.angle = range >= 1 ? angle : 0.0;
    return pose;
}

struct Config {
    const char* name;
    int rotate;
    double turn; // the part's turn per frame step, degrees
};

void benchDetect(int w, int h, const Config& c, int runs)
{
    const SyntheticScene scene = sceneOf(w, h);
    EngineStation st(w, h, false, 3);
    QuietPeers peers;
    st.data->peers = &peers;
    SystemParam& p = st.params;
    p.showAllAlgoParams() = 1;
    p.diffFactor() = 2;
    p.minSpot() = 3;
    p.maxOffset() = 40;
    p.matchBrightness() = 1;
    p.angleCorrect() = 0;
    p.motionCorrect() = 0;
    p.rotateCorrect() = c.rotate;

    // Positioning on the part, an angle-correction band and an ignore block
    // (as a station has them; feature alignment is off), 47 inspection areas.
    st.addRect(Mix, FuncPosition, syntheticPartBox(scene, 8), 0, 0, 0);
    st.addRect(Mix, FuncAngleCorrect, cv::Rect(0, 0, w, h / 4), 0, 0, 0);
    st.addRect(Mix, FuncIgnoreArea, cellOf(1, w, h), 0, 0, 0);
    for (int k = 2; k < 49; ++k) {
        addLimitedArea(st, kFunctions[(k - 2) % 9], cellOf(k, w, h), k == 17 || k == 44);
    }
    for (int k = 0; k < 3; ++k) {
        SyntheticScene s = scene;
        s.noiseSeed = quint32(k + 1);
        st.setTemplate(Mix, k, makeSyntheticFrame(s).image);
    }
    DetectAlgorithm engine(st.live.get(), st.data.get());
    engine.TrainAlign(Mix);
    engine.TrainLocate(Mix);
    engine.TrainModels(Mix);

    std::vector<cv::Mat> frames;
    for (int i = 0; i < 8; ++i) {
        SyntheticScene s = scene;
        s.noiseSeed = quint32(100 + i);
        s.dx = (i % 5) - 2;
        s.dy = (i % 3) - 1;
        s.angle = c.turn * (i - 3.5);
        cv::Mat f = makeSyntheticFrame(s).image;
        addSpecks(f);
        frames.push_back(f);
    }

    BaselinePositioning before(engine, p, Mix);
    std::vector<double> wholeBefore, wholeAfter, locateBefore, locateAfter;
    int posesEqual = 0, framesEqual = 0, verdictsEqual = 0, compared = 0, ngFewest = 1 << 30, ngMost = 0;
    std::vector<uchar> judged[2];
    quint8 ok[2][StationData::SlotCount];
    for (int i = 0; i < runs + 1; ++i) {
        const cv::Mat& f = frames[std::size_t(i) % frames.size()];
        // Old first on even runs, today's first on odd ones.
        for (int turn = 0; turn < 2; ++turn) {
            const bool old = (turn == 0) == (i % 2 == 0);
            std::copy(f.datastart, f.dataend, st.data->grabBuffer.begin());
            Pose pose;
            const Clock::time_point t0 = Clock::now();
            engine.RunAlign(Mix);
            const Clock::time_point t1 = Clock::now();
            if (old) {
                pose = before.run(*st.data);
            } else {
                engine.RunLocate();
            }
            const double located = msSince(t1);
            engine.RunDetect(Mix);
            const double whole = msSince(t0);
            if (i == 0) {
                continue; // warm-up
            }
            (old ? wholeBefore : wholeAfter).push_back(whole);
            (old ? locateBefore : locateAfter).push_back(located);
            judged[old ? 0 : 1] = st.data->lastImage;
            std::memcpy(ok[old ? 0 : 1], st.data->roiOk, sizeof ok[0]);
            if (old) {
                posesEqual += todaysPose(engine, *st.data, Mix, c.rotate) == pose;
            }
        }
        if (i == 0) {
            continue;
        }
        ++compared;
        framesEqual += judged[0] == judged[1];
        verdictsEqual += std::memcmp(ok[0], ok[1], sizeof ok[0]) == 0;
        const int ng = int(std::count(ok[1], ok[1] + st.live->roiCount[Mix], quint8(0)));
        ngFewest = std::min(ngFewest, ng);
        ngMost = std::max(ngMost, ng);
    }
    const double wb = quantile(wholeBefore, 0.5), wa = quantile(wholeAfter, 0.5);
    const double lb = quantile(locateBefore, 0.5), la = quantile(locateAfter, 0.5);
    std::printf("  %d x %d, %s:\n", w, h, c.name);
    std::printf("    whole detect   before median %7.2f ms p99 %7.2f | today median %7.2f ms p99 %7.2f | %.2fx\n", wb,
                quantile(wholeBefore, 0.99), wa, quantile(wholeAfter, 0.99), wb / wa);
    std::printf("    positioning    before median %7.2f ms p99 %7.2f | today median %7.2f ms p99 %7.2f | %.2fx\n", lb,
                quantile(locateBefore, 0.99), la, quantile(locateAfter, 0.99), lb / la);
    std::printf("    same pose %d of %d, same judged frame %d of %d, same verdicts %d of %d (NG areas per run %d to %d)\n",
                posesEqual, compared, framesEqual, compared, verdictsEqual, compared, ngFewest, ngMost);
}

// The positions alone, today's locator against the old search on one window.
void benchPoses(const char* title, bool hard, int range, int frameCount)
{
    constexpr int kWidth = 1280;
    constexpr int kHeight = 1024;
    constexpr int kSide = 200;
    constexpr int kOffset = 170;
    SyntheticScene scene;
    scene.width = kWidth;
    scene.height = kHeight;
    scene.partWidth = 184;
    scene.partHeight = 184;
    const cv::Mat templateFrame = makeSyntheticFrame(scene).image;
    const cv::Rect area(kWidth / 2 - kSide / 2, kHeight / 2 - kSide / 2, kSide, kSide);
    const cv::Rect window(area.x - kOffset, area.y - kOffset, area.width + 2 * kOffset, area.height + 2 * kOffset);
    TargetLocator locator;
    if (!locator.Setup(templateFrame(area), 0, range, kWidth / 2, kHeight / 2, cv::Mat())) {
        std::printf("  %s: the locator refused the template\n", title);
        return;
    }
    baseline::ShapeAngleTable table;
    cv::RNG rng(2024);
    int equal = 0;
    double worst = 0.0, worstAngle = 0.0;
    std::vector<double> before, after;
    for (int i = 0; i < frameCount; ++i) {
        SyntheticScene s = scene;
        s.dx = rng.uniform(-150.0, 150.0);
        s.dy = rng.uniform(-150.0, 150.0);
        s.angle = range > 0 ? rng.uniform(-double(range), double(range)) : 0.0;
        s.gain = rng.uniform(0.8, 1.2);
        s.offset = rng.uniform(-20.0, 20.0);
        s.noiseSigma = rng.uniform(1.0, 4.0);
        s.noiseSeed = quint32(100 + i);
        if (hard) {
            s.occlusion = rng.uniform(0.1, 0.3);
            s.blurSigma = rng.uniform(1.0, 2.0);
            s.noiseSigma = rng.uniform(4.0, 8.0);
            s.gain = rng.uniform(0.6, 1.4);
            s.offset = rng.uniform(-40.0, 40.0);
            s.perspective = rng.uniform(0.0, 0.01);
        }
        const cv::Mat image = makeSyntheticFrame(s).image(window).clone();
        ShapeSearchParams sp;
        sp.minScore = TargetLocator::kMinScore;
        sp.angleStep = 0.1f;
        sp.angleStart = -float(range);
        sp.angleEnd = float(range);
        cv::Point2f at;
        float angleBefore = 0.0f;
        Clock::time_point t0 = Clock::now();
        const bool foundBefore
            = baseline::findShape(image, locator.Model(), sp, range > 0, at, angleBefore, &table);
        before.push_back(msSince(t0));
        const int dxBefore = TargetLocator::ShiftFrom(kWidth / 2, at.x);
        const int dyBefore = TargetLocator::ShiftFrom(kHeight / 2, at.y);
        int dx = 0, dy = 0;
        double angle = 0.0;
        t0 = Clock::now();
        const bool found = locator.Locate(image, dx, dy, angle);
        after.push_back(msSince(t0));
        if (found == foundBefore && dx == dxBefore && dy == dyBefore && float(angle) == angleBefore) {
            ++equal;
        } else if (found && foundBefore) {
            worst = std::max(worst, std::hypot(double(dx - dxBefore), double(dy - dyBefore)));
            worstAngle = std::max(worstAngle, std::fabs(angle - double(angleBefore)));
        } else {
            worst = HUGE_VAL;
        }
    }
    std::printf("  %-34s poses equal to before %d of %d (largest difference %.1f px, %.1f deg); search median "
                "%.2f ms before, %.2f ms today, %.2fx\n",
                title, equal, frameCount, worst, worstAngle, quantile(before, 0.5), quantile(after, 0.5),
                quantile(before, 0.5) / quantile(after, 0.5));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(4, std::atoi(argv[1])) : 60;
    const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    // One camera's engine gets one core on the panel.
    cv::setNumThreads(1);
    cpu_set_t one;
    CPU_ZERO(&one);
    const int cpu = sched_getcpu();
    CPU_SET(cpu >= 0 ? cpu : 0, &one);
    const bool pinned = sched_setaffinity(0, sizeof one, &one) == 0;
    std::printf("bench_positioning: OpenCV on 1 thread, %s; before = the positioning as it was, "
                "run in this process; ratios before / today\n\n",
                pinned ? "pinned to one core" : "not pinned (refused)");

    std::printf("One detect of 50 areas (frame copy, positioning, inspection):\n");
    const Config angle{ "angle positioning within +-10 deg", 10, 0.8 };
    const Config plain{ "positioning without angle", 0, 0.0 };
    benchDetect(1920, 1080, angle, runs);
    benchDetect(1920, 1080, plain, runs);
    benchDetect(1280, 1024, angle, runs);
    benchDetect(2448, 2048, angle, std::max(4, runs / 2));

    std::printf("\nPositions of a 200 x 200 target in a 540 x 540 window, today's against before:\n");
    benchPoses("clean, +-10 deg", false, 10, frames);
    benchPoses("hard, +-10 deg", true, 10, frames);
    benchPoses("clean, +-30 deg", false, 30, frames);
    benchPoses("hard, without angle", true, 0, frames);
    return 0;
}
