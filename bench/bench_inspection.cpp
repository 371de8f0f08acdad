// Inspection benchmark: one camera's detect of 50 areas of about 150 x 150
// pixels, covering every detection function, on grey frames of the panel's
// three camera sizes (1280 x 1024, 1920 x 1080, 2448 x 2048), in three
// configurations: positioning without angle; angle positioning with rotation
// correction (the target searched within +-10 degrees and the frame turned
// back); and that with feature alignment (angle correction) in front. The
// limits are set so that some areas are NG in every run; the NG areas are
// printed.
//
// Prints the median and 99th-percentile time of each stage (feature alignment,
// positioning, area inspection) and of the whole detect, the cost of one area
// per detection function, the training time with the largest template count
// (100 samples), and the heap allocations of one frame's positioning and
// inspection. Run it from an optimised build; numbers from a sanitizer build
// mean little. Runs of this program built at two commits on one machine
// compare the two.
#include "cammersingleton.h"
#include "alignmodel.h"
#include "detectalgorithm.h"
#include "enginestation.h"
#include "imagehelpers.h"
#include "syntheticframe.h"

#include <QCoreApplication>
#include <QList>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <sched.h>

// Allocation counter: the malloc family is interposed (glibc), so OpenCV's
// aligned buffers are counted as well as operator new. Not with the
// sanitizers, which bring their own allocator.
#if defined(__SANITIZE_ADDRESS__)
#define KORVANE_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVANE_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef KORVANE_COUNT_ALLOCATIONS
#define KORVANE_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<long> gAllocations{0};
}

#if KORVANE_COUNT_ALLOCATIONS
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);

void* malloc(size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    void* p = __libc_memalign(alignment, size);
    if (!p) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}

void* aligned_alloc(size_t alignment, size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
}
#endif

namespace {

constexpr int W = 1280;
constexpr int H = 1024;
constexpr int Mix = 0;     // the detect with the 50 mixed areas
constexpr int Single = 1;  // one function at a time

// Peers that answer and forget: the benchmark must not grow a list per run.
class QuietPeers : public InspectionPeers {
public:
    int detect = 0;
    int handed = 0;
    int currentDetect() override { return detect; }
    void insertRecord(const QString& text) override { std::fprintf(stderr, "event: %s\n", qPrintable(text)); }
    void appendCycleValue(int) override {}
    std::optional<int> roiTemperature(int, int) override { return 60; }
    DetectResult currentResult() override { return DetectResult(); }
    void handOverResult(const DetectResult&) override { ++handed; }
    void repaintStation() override {}
};

struct Stats {
    double median = 0;
    double p99 = 0;
};

Stats stats(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    Stats s;
    if (ms.empty()) {
        return s;
    }
    s.median = ms[ms.size() / 2];
    const std::size_t i = std::size_t(std::max<double>(0.0, std::ceil(0.99 * double(ms.size())) - 1.0));
    s.p99 = ms[std::min(i, ms.size() - 1)];
    return s;
}

std::vector<double> timeRuns(int runs, const std::function<void(int)>& before, const std::function<void()>& work)
{
    std::vector<double> ms;
    ms.reserve(std::size_t(runs));
    for (int i = 0; i < runs; ++i) {
        if (before) {
            before(i);
        }
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return ms;
}

SyntheticScene scene(quint32 noiseSeed)
{
    SyntheticScene s;
    s.width = W;
    s.height = H;
    s.partWidth = 640;
    s.partHeight = 420;
    s.mouldSeed = 3;
    s.noiseSeed = noiseSeed;
    return s;
}

// Cell k of an 8 x 7 grid of 160 x 146 cells, as a 150 x 140 area.
cv::Rect cell(int k)
{
    return cv::Rect((k % 8) * 160 + 5, (k / 8) * 146 + 3, 150, 140);
}

// A busy picture for the feature alignment (the model asks for 300 features
// in the template; the smooth synthetic mould has fewer), and the same
// picture seen by a camera that was knocked by (dx, dy) and turned.
cv::Mat featureScene()
{
    cv::Mat m = makeSyntheticFrame(SyntheticScene{}).image;
    cv::resize(m, m, cv::Size(W, H));
    cv::RNG rng(17);
    for (int i = 0; i < 1500; ++i) {
        const cv::Point at(rng.uniform(0, W), rng.uniform(0, H));
        const int grey = rng.uniform(0, 256);
        if (i % 2) {
            cv::circle(m, at, rng.uniform(3, 20), cv::Scalar(grey), cv::FILLED);
        } else {
            cv::rectangle(m, cv::Rect(at, cv::Size(rng.uniform(4, 30), rng.uniform(4, 30))), cv::Scalar(grey),
                          cv::FILLED);
        }
    }
    cv::GaussianBlur(m, m, cv::Size(3, 3), 0.8);
    return m;
}

cv::Mat knock(const cv::Mat& m, double dx, double dy, double angle)
{
    cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(W / 2.0f, H / 2.0f), angle, 1.0);
    turn.at<double>(0, 2) += dx;
    turn.at<double>(1, 2) += dy;
    cv::Mat out;
    cv::warpAffine(m, out, turn, m.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
    return out;
}

// Typical settings of each function (param, lower, upper).
void addFunctionArea(EngineStation& st, int detect, int function, cv::Rect r)
{
    switch (function) {
    case FuncDefect: st.addRect(detect, function, r, 3, 25, 100000); break;
    case FuncSpot: st.addRect(detect, function, r, 60 << 8, 0, 100000); break;
    case FuncBlackArea: st.addRect(detect, function, r, 0, 60, 100000); break;
    case FuncWhiteArea: st.addRect(detect, function, r, 0, 200, 100000); break;
    case FuncSimilarity: st.addRect(detect, function, r, 0, 0, 100); break;
    case FuncWhiteNum: st.addRect(detect, function, r, 5, 200, 100000); break;
    case FuncTempAlarm: st.addRect(detect, function, r, 95, 0, 100); break;
    default: st.addRect(detect, function, r, 3, 200, 100000); break;
    }
}

const int kFunctions[] = {FuncDefect, FuncSpot, FuncBlackArea, FuncWhiteArea, FuncSimilarity,
                          FuncWhiteNum, FuncReserved8, FuncTempAlarm, FuncReserved11};

const char* functionName(int f)
{
    switch (f) {
    case FuncDefect: return "defect";
    case FuncSpot: return "spot";
    case FuncBlackArea: return "black area";
    case FuncWhiteArea: return "white area";
    case FuncSimilarity: return "similarity";
    case FuncWhiteNum: return "white count";
    case FuncReserved8: return "reserved 8";
    case FuncTempAlarm: return "temperature";
    case FuncReserved11: return "reserved 11";
    default: return "?";
    }
}

void copyInto(EngineStation& st, const cv::Mat& image)
{
    std::copy(image.datastart, image.dataend, st.data->grabBuffer.begin());
}

void printStats(const char* what, const std::vector<double>& ms)
{
    const Stats s = stats(ms);
    std::printf("  %-34s median %8.3f ms   p99 %8.3f ms   (%zu runs)\n", what, s.median, s.p99, ms.size());
}

// The frame turn of angle positioning as first written (pad to a square 1.414
// times the larger side, shift, turn, crop), against rotateImage's one warp,
// on the panel's frame sizes. Both run here on the same frames; the results
// must be equal pixel for pixel.
cv::Mat paddedTurn(const cv::Mat& src, int shiftX, int shiftY, int centreX, int centreY, double angle)
{
    const int side = static_cast<int>(std::max(src.cols, src.rows) * 1.414);
    const int padX = std::max(0, (side - src.cols) / 2);
    const int padY = std::max(0, (side - src.rows) / 2);
    cv::Mat padded;
    cv::copyMakeBorder(src, padded, padY, padY, padX, padX, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::Mat shifted(padded.size(), padded.type());
    shiftImage(padded, shifted, shiftX, shiftY);
    const cv::Mat matrix = cv::getRotationMatrix2D(cv::Point2f(float(centreX + padX), float(centreY + padY)),
                                                   angle, 1.0);
    cv::Mat turned;
    cv::warpAffine(shifted, turned, matrix, padded.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
    return turned(cv::Rect(padX, padY, src.cols, src.rows)).clone();
}

void benchTurn()
{
    std::printf("Turning a frame back (angle positioning), padded turn against one warp:\n");
    const cv::Size sizes[] = { { 1280, 1024 }, { 1920, 1080 }, { 2448, 2048 } };
    for (const cv::Size& size : sizes) {
        SyntheticScene s;
        s.width = size.width;
        s.height = size.height;
        s.angle = 3.5;
        const cv::Mat frame = makeSyntheticFrame(s).image;
        cv::Mat expected;
        cv::Mat dst(frame.size(), frame.type());
        const int cx = size.width / 2;
        const int cy = size.height / 2;
        paddedTurn(frame, 4, -3, cx, cy, 3.5); // warm-up
        rotateImage(frame, dst, 4, -3, cx, cy, 3.5);
        const std::vector<double> before
            = timeRuns(20, nullptr, [&] { expected = paddedTurn(frame, 4, -3, cx, cy, 3.5); });
        const std::vector<double> after = timeRuns(20, nullptr, [&] { rotateImage(frame, dst, 4, -3, cx, cy, 3.5); });
        const Stats b = stats(before);
        const Stats a = stats(after);
        std::printf("  %4d x %4d: padded median %7.2f ms p99 %7.2f | one warp median %7.2f ms p99 %7.2f | "
                    "%.1fx faster at the median, %s\n",
                    size.width, size.height, b.median, b.p99, a.median, a.p99, b.median / a.median,
                    cv::norm(dst, expected, cv::NORM_INF) == 0.0 ? "pixels equal" : "PIXELS DIFFER");
    }
    std::printf("\n");
}

// Feature alignment as it matched before the template's trees were kept:
// the stitching module's matcher builds the trees of both sides for every
// frame (and estimates a homography of its own that nobody reads).
bool matchedPerFrame(AlignModel& model, const cv::Mat& live, cv::Mat& out)
{
    cv::detail::ImageFeatures liveFeatures;
    model.ComputeFeatures(live, liveFeatures, 0);
    if (!model.IsTrained() || liveFeatures.keypoints.empty() || liveFeatures.descriptors.empty()) {
        return false;
    }
    std::vector<cv::detail::ImageFeatures> features{ liveFeatures, model.Features()[1] };
    std::vector<cv::detail::MatchesInfo> pairwise;
    const uint64 saved = cv::theRNG().state;
    cv::theRNG().state = 0x6B6F7276616E6531ULL;
    cv::detail::BestOf2NearestMatcher matcher(false, 0.4f, 6, 6);
    matcher(features, pairwise, cv::UMat());
    cv::theRNG().state = saved;
    std::vector<cv::Point2f> livePoints;
    std::vector<cv::Point2f> templatePoints;
    for (const cv::detail::MatchesInfo& info : pairwise) {
        if (info.src_img_idx == 0 && info.dst_img_idx == 1) {
            for (const cv::DMatch& m : info.matches) {
                livePoints.push_back(liveFeatures.keypoints[std::size_t(m.queryIdx)].pt / model.Scale());
                templatePoints.push_back(model.Features()[1].keypoints[std::size_t(m.trainIdx)].pt / model.Scale());
            }
        }
    }
    cv::Mat h;
    int inliers = 0;
    if (!AlignModel::EstimateHomography(livePoints, templatePoints, h, inliers)
        || !AlignModel::IsPlausible(h, inliers, live.size())) {
        return false;
    }
    cv::warpPerspective(live, out, h, live.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    return true;
}

// Both on the same frames, taking turns, so a busy machine slows both alike.
void benchMatcher()
{
    std::printf("Feature alignment of a busy 1280 x 1024 frame (default block), trees of both sides per frame "
                "against the template's trees kept:\n");
    const cv::Mat busy = featureScene();
    cv::Mat mask = cv::Mat::zeros(busy.size(), CV_8UC1);
    mask(DetectAlgorithm::DefaultBlock(W, H)).setTo(255);
    AlignModel model;
    if (!model.Train(busy, mask, DetectAlgorithm::kAlignKeypoints)) {
        std::printf("  the model refused the template\n\n");
        return;
    }
    std::vector<cv::Mat> knocked;
    for (int i = 0; i < 4; ++i) {
        knocked.push_back(knock(busy, 4 - i, i - 2, 0.4 * (i - 1)));
    }
    cv::Mat before(H, W, CV_8UC1);
    cv::Mat after(H, W, CV_8UC1);
    cv::detail::ImageFeatures features;
    std::vector<double> beforeMs;
    std::vector<double> afterMs;
    std::vector<double> featureMs;
    bool equal = true;
    for (int i = 0; i < 25; ++i) {
        const cv::Mat& live = knocked[std::size_t(i) % knocked.size()];
        const auto t0 = std::chrono::steady_clock::now();
        const bool a = matchedPerFrame(model, live, before);
        const auto t1 = std::chrono::steady_clock::now();
        const bool b = model.Align(live, after, 0.4f);
        const auto t2 = std::chrono::steady_clock::now();
        model.ComputeFeatures(live, features, 0);
        const auto t3 = std::chrono::steady_clock::now();
        equal = equal && a == b && (!a || cv::norm(before, after, cv::NORM_INF) == 0.0);
        if (i > 0) {
            beforeMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            afterMs.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
            featureMs.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
        }
    }
    const Stats b = stats(beforeMs);
    const Stats a = stats(afterMs);
    const Stats f = stats(featureMs);
    std::printf("  per frame median %7.2f ms p99 %7.2f | kept median %7.2f ms p99 %7.2f | %.2fx at the median, "
                "%s; the frame's own features alone: median %.2f ms (%zu of them)\n\n",
                b.median, b.p99, a.median, a.p99, b.median / a.median, equal ? "frames equal" : "FRAMES DIFFER",
                f.median, features.keypoints.size());
}

// --- The panel's frame sizes in both configurations -------------------------

// A scene of the given size: the part (about half the frame's width) on the
// mould, with the mould's own marks (shapes outside the part) that give the
// feature alignment something to hold on to.
struct SizedScene {
    SyntheticScene scene;
    cv::Mat marks;      // 255 where a mark is drawn
    cv::Mat markGrey;   // the marks' grey values
};

SizedScene sizedScene(int w, int h)
{
    SizedScene s;
    s.scene.width = w;
    s.scene.height = h;
    s.scene.partWidth = w / 2.0;
    s.scene.partHeight = h / 2.5;
    s.scene.mouldSeed = 3;
    s.marks = cv::Mat::zeros(h, w, CV_8UC1);
    s.markGrey = cv::Mat::zeros(h, w, CV_8UC1);
    const cv::Rect part = syntheticPartBox(s.scene, 24);
    cv::RNG rng(17);
    const int count = w * h / 1500;
    for (int i = 0; i < count; ++i) {
        const cv::Point at(rng.uniform(0, w), rng.uniform(0, h));
        const int grey = rng.uniform(0, 256);
        const int size = rng.uniform(4, 24);
        if (part.contains(at) || part.contains(at + cv::Point(size, size))) {
            continue;
        }
        if (i % 2) {
            cv::circle(s.marks, at, size / 2, cv::Scalar(255), cv::FILLED);
            cv::circle(s.markGrey, at, size / 2, cv::Scalar(grey), cv::FILLED);
        } else {
            cv::rectangle(s.marks, cv::Rect(at, cv::Size(size, size)), cv::Scalar(255), cv::FILLED);
            cv::rectangle(s.markGrey, cv::Rect(at, cv::Size(size, size)), cv::Scalar(grey), cv::FILLED);
        }
    }
    return s;
}

// The scene's frame with the part moved by (dx, dy) and turned, then the
// whole picture knocked by (kx, ky) and turned by knockAngle (a camera that
// was bumped), with fresh noise.
cv::Mat sizedFrame(const SizedScene& s, quint32 noiseSeed, double dx, double dy, double angle, double kx,
                   double ky, double knockAngle)
{
    SyntheticScene scene = s.scene;
    scene.noiseSeed = noiseSeed;
    scene.dx = dx;
    scene.dy = dy;
    scene.angle = angle;
    cv::Mat m = makeSyntheticFrame(scene).image;
    s.markGrey.copyTo(m, s.marks);
    if (kx == 0.0 && ky == 0.0 && knockAngle == 0.0) {
        return m;
    }
    cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(m.cols / 2.0f, m.rows / 2.0f), knockAngle, 1.0);
    turn.at<double>(0, 2) += kx;
    turn.at<double>(1, 2) += ky;
    cv::Mat out;
    cv::warpAffine(m, out, turn, m.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
    return out;
}

// Cell k of an 8 x 7 grid over the frame, as an area of about 150 x 140.
cv::Rect sizedCell(int k, int w, int h)
{
    const int cw = w / 8;
    const int ch = h / 7;
    return cv::Rect((k % 8) * cw + (cw - 150) / 2, (k / 8) * ch + (ch - 140) / 2, 150, 140);
}

// Limits that judge a good part OK and a marked one NG. Specks are drawn
// into the cells listed in kSpeckCells of every live frame; the areas there
// find them. Two areas have limits no frame can meet.
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

const int kSpeckCells[] = { 12, 21, 30, 39 };

void addSpecks(cv::Mat& frame)
{
    for (int k : kSpeckCells) {
        const cv::Rect c = sizedCell(k, frame.cols, frame.rows);
        const cv::Point centre(c.x + c.width / 2, c.y + c.height / 2);
        cv::circle(frame, centre, 9, cv::Scalar(8), cv::FILLED);
        cv::circle(frame, centre + cv::Point(30, 25), 6, cv::Scalar(250), cv::FILLED);
    }
}

struct NgSummary {
    int fewest = 1 << 30;
    int most = 0;
    QList<int> first;
};

void noteNg(const EngineStation& st, NgSummary& ng)
{
    QList<int> areas;
    for (int i = 0; i < st.live->roiCount[Mix]; ++i) {
        if (!st.data->roiOk[i]) {
            areas.append(i);
        }
    }
    if (ng.most == 0 && ng.fewest == (1 << 30)) {
        ng.first = areas;
    }
    ng.fewest = std::min(ng.fewest, int(areas.size()));
    ng.most = std::max(ng.most, int(areas.size()));
}

void printNg(const NgSummary& ng, const EngineStation& st)
{
    std::printf("    NG areas per run: %d to %d; in the first run:", ng.fewest, ng.most);
    for (int a : ng.first) {
        std::printf(" %d(%s)", a, functionName(st.live->roiFunction[a]));
    }
    std::printf("\n");
}

void benchSizes()
{
    std::printf("One detect of 50 areas on the panel's frame sizes:\n");
    const cv::Size sizes[] = { { 1280, 1024 }, { 1920, 1080 }, { 2448, 2048 } };
    for (const cv::Size& size : sizes) {
        const int w = size.width;
        const int h = size.height;
        const SizedScene scene = sizedScene(w, h);
        EngineStation st(w, h, false, 3);
        QuietPeers peers;
        peers.detect = Mix;
        st.data->peers = &peers;
        SystemParam& p = st.params;
        p.showAllAlgoParams() = 1;
        p.diffFactor() = 2;
        p.minSpot() = 3;
        p.maxOffset() = 40;
        p.matchBrightness() = 1;

        // Positioning on the part, angle correction on the upper band (the
        // mould's marks), one ignore block, 47 inspection areas.
        st.addRect(Mix, FuncPosition, syntheticPartBox(scene.scene, 8), 0, 0, 0);
        st.addRect(Mix, FuncAngleCorrect, cv::Rect(0, 0, w, h / 4), 0, 0, 0);
        st.addRect(Mix, FuncIgnoreArea, sizedCell(1, w, h), 0, 0, 0);
        for (int k = 2; k < 49; ++k) {
            addLimitedArea(st, kFunctions[(k - 2) % 9], sizedCell(k, w, h), k == 17 || k == 44);
        }
        for (int k = 0; k < 3; ++k) {
            st.setTemplate(Mix, k, sizedFrame(scene, quint32(k + 1), 0, 0, 0, 0, 0, 0));
        }
        std::printf("  %d x %d:\n", w, h);

        struct Config {
            const char* name;
            int angleCorrect;
            int rotateCorrect;
            int runs;
        };
        const Config configs[] = {
            { "positioning without angle", 0, 0, 60 },
            { "angle positioning, rotation correction", 0, 10, 60 },
            { "the same with feature alignment", 1, 10, 12 },
        };
        for (const Config& c : configs) {
            p.angleCorrect() = c.angleCorrect;
            p.motionCorrect() = 0;
            p.rotateCorrect() = c.rotateCorrect;
            DetectAlgorithm engine(st.live.get(), st.data.get());
            engine.TrainAlign(Mix);
            engine.TrainLocate(Mix);
            engine.TrainModels(Mix);
            std::vector<cv::Mat> frames;
            for (int i = 0; i < 4; ++i) {
                const double turn = c.rotateCorrect ? 1.5 * (i - 1.5) : 0.0;
                const double knock = c.angleCorrect ? 1.0 : 0.0;
                cv::Mat f = sizedFrame(scene, quint32(100 + i), (i % 3) - 1, (i % 2) * 2 - 1, turn,
                                       knock * (3 - i), knock * (i - 2), knock * 0.3 * (i - 1));
                addSpecks(f);
                frames.push_back(f);
            }
            std::vector<double> alignMs;
            std::vector<double> locateMs;
            std::vector<double> detectMs;
            std::vector<double> wholeMs;
            NgSummary ng;
            for (int i = 0; i < c.runs + 1; ++i) {
                copyInto(st, frames[std::size_t(i) % frames.size()]);
                const auto t0 = std::chrono::steady_clock::now();
                engine.RunAlign(Mix);
                const auto t1 = std::chrono::steady_clock::now();
                engine.RunLocate();
                const auto t2 = std::chrono::steady_clock::now();
                engine.RunDetect(Mix);
                const auto t3 = std::chrono::steady_clock::now();
                if (i == 0) {
                    continue; // warm-up
                }
                alignMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                locateMs.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
                detectMs.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
                wholeMs.push_back(std::chrono::duration<double, std::milli>(t3 - t0).count());
                noteNg(st, ng);
            }
            const Stats whole = stats(wholeMs);
            const Stats a = stats(alignMs);
            const Stats l = stats(locateMs);
            const Stats d = stats(detectMs);
            std::printf("    %-38s whole detect median %8.2f ms  p99 %8.2f ms  (align %.2f, locate %.2f, "
                        "inspect %.2f at the median; %zu runs; alignment trained: %s)\n",
                        c.name, whole.median, whole.p99, a.median, l.median, d.median, wholeMs.size(),
                        engine.alignModels[Mix].IsTrained() ? "yes" : "no");
            printNg(ng, st);
        }
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // One camera's engine gets one core on the panel: pin the process to the
    // core it starts on and keep OpenCV from spreading over the others.
    cv::setNumThreads(1);
    cpu_set_t one;
    CPU_ZERO(&one);
    const int cpu = sched_getcpu();
    CPU_SET(cpu >= 0 ? cpu : 0, &one);
    const bool pinned = sched_setaffinity(0, sizeof one, &one) == 0;
    std::printf("OpenCV on 1 thread, %s\n\n", pinned ? "pinned to one core" : "not pinned (refused)");
    benchTurn();
    benchMatcher();
    benchSizes();
    if (argc > 1 && std::strcmp(argv[1], "--sizes") == 0) {
        return 0;
    }
    const int templates = 5;
    EngineStation st(W, H, false, templates);
    QuietPeers peers;
    st.data->peers = &peers;

    SystemParam& p = st.params;
    p.showAllAlgoParams() = 1;
    p.diffFactor() = 2;
    p.minSpot() = 3;
    p.motionCorrect() = 0;
    p.rotateCorrect() = 0;
    p.maxOffset() = 40;
    p.matchBrightness() = 1;
    p.angleCorrect() = 0;

    // Detect 0: positioning on the part, one angle-correction block, one
    // ignore block and 47 inspection areas cycling through every function.
    st.addRect(Mix, FuncPosition, syntheticPartBox(scene(1), 8), 0, 0, 0);
    st.addRect(Mix, FuncAngleCorrect, cell(0), 0, 0, 0);
    st.addRect(Mix, FuncIgnoreArea, cell(1), 0, 0, 0);
    // 47 inspection areas in cells 2 to 48.
    int perFunction[12] = {};
    for (int k = 2; k < 49; ++k) {
        const int f = kFunctions[(k - 2) % 9];
        addFunctionArea(st, Mix, f, cell(k));
        ++perFunction[f];
    }
    std::printf("Inspection benchmark: %dx%d grey frame, %d areas in one detect (", W, H, st.live->roiCount[Mix]);
    for (int f : kFunctions) {
        std::printf("%s %d, ", functionName(f), perFunction[f]);
    }
    std::printf("position 1, angle correction 1, ignore 1), %d template samples\n\n", templates);

    for (int k = 0; k < templates; ++k) {
        const cv::Mat t = makeSyntheticFrame(scene(quint32(k + 1))).image;
        st.setTemplate(Mix, k, t);
    }
    DetectAlgorithm* engine = new DetectAlgorithm(st.live.get(), st.data.get());
    engine->TrainLocate(Mix);
    engine->TrainModels(Mix);

    // Live frames: the part shifted a little, new noise each time.
    std::vector<cv::Mat> live;
    for (int i = 0; i < 8; ++i) {
        SyntheticScene s = scene(quint32(100 + i));
        s.dx = (i % 3) - 1;
        s.dy = (i % 5) - 2;
        live.push_back(makeSyntheticFrame(s).image);
    }
    auto nextFrame = [&](int i) { copyInto(st, live[std::size_t(i) % live.size()]); };

    std::printf("Stages per detect (one camera):\n");
    peers.detect = Mix;
    const std::vector<double> copyMs = timeRuns(200, nextFrame, [&] { engine->RunAlign(Mix); });
    printStats("align off (frame copy)", copyMs);
    const std::vector<double> locateMs = timeRuns(200, nextFrame, [&] {
        engine->RunAlign(Mix);
        engine->RunLocate();
    });
    printStats("locate (copy + positioning)", locateMs);
    const std::vector<double> detectMs = timeRuns(300, [&](int i) {
        nextFrame(i);
        engine->RunAlign(Mix);
        engine->RunLocate();
    }, [&] { engine->RunDetect(Mix); });
    printStats("detect (50 areas)", detectMs);
    const std::vector<double> wholeMs = timeRuns(200, nextFrame, [&] {
        engine->RunAlign(Mix);
        engine->RunLocate();
        engine->RunDetect(Mix);
    });
    printStats("whole detect without alignment", wholeMs);
    const int ngAreas = int(std::count(st.data->roiOk, st.data->roiOk + 50, quint8(0)));

    // Allocations of one frame once everything is warm.
    long allocations[3] = {-1, -1, -1};
#if KORVANE_COUNT_ALLOCATIONS
    nextFrame(3);
    engine->RunAlign(Mix);
    engine->RunLocate();
    engine->RunDetect(Mix);
    nextFrame(4);
    long mark = gAllocations.load();
    engine->RunAlign(Mix);
    allocations[0] = gAllocations.load() - mark;
    mark = gAllocations.load();
    engine->RunLocate();
    allocations[1] = gAllocations.load() - mark;
    mark = gAllocations.load();
    engine->RunDetect(Mix);
    allocations[2] = gAllocations.load() - mark;
#endif

    // Feature alignment on frames from a knocked camera, trained on the
    // default block of the detect's first sample (the 150 x 140
    // angle-correction area stands aside as a second position area: one
    // such block holds too few features for the model).
    const cv::Mat sample0(H, W, CV_8UC1, st.data->templates[Mix][0].data());
    const cv::Mat kept = sample0.clone();
    const cv::Mat busy = featureScene();
    busy.copyTo(sample0);
    p.angleCorrect() = 1;
    st.live->roiFunction[1] = FuncPosition;
    const auto trainAlign0 = std::chrono::steady_clock::now();
    engine->TrainAlign(Mix);
    const double trainAlignMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - trainAlign0).count();
    st.live->roiFunction[1] = FuncAngleCorrect;
    kept.copyTo(sample0);
    std::vector<cv::Mat> knocked;
    for (int i = 0; i < 4; ++i) {
        knocked.push_back(knock(busy, 4 - i, i - 2, 0.4 * (i - 1)));
    }
    int aligned = 0;
    const std::vector<double> alignMs = timeRuns(
        20, [&](int i) { copyInto(st, knocked[std::size_t(i) % knocked.size()]); },
        [&] { engine->RunAlign(Mix); });
    for (const cv::Mat& k : knocked) {
        copyInto(st, k);
        engine->RunAlign(Mix);
        cv::Mat out(H, W, CV_8UC1, st.data->alignedBuffer.data());
        cv::Mat d;
        cv::absdiff(out(cv::Rect(200, 200, 880, 624)), busy(cv::Rect(200, 200, 880, 624)), d);
        aligned += cv::mean(d)[0] < 6.0;
    }
    printStats("align (feature alignment)", alignMs);
    std::printf("  (alignment model trained: %s; %d of %zu knocked frames put back)\n",
                engine->alignModels[Mix].IsTrained() ? "yes" : "no", aligned, knocked.size());
    p.angleCorrect() = 0;

    std::printf("\nOne area of about 150x150 per function (47 areas of the function in one detect):\n");
    for (int k = 0; k < templates; ++k) {
        st.setTemplate(Single, k, makeSyntheticFrame(scene(quint32(k + 1))).image);
    }
    for (int f : kFunctions) {
        clearROIList(st.live->roiLists[Single]);
        st.live->roiCount[Single] = 0;
        for (int k = 2; k < 49; ++k) {
            addFunctionArea(st, Single, f, cell(k));
        }
        engine->TrainModels(Single);
        std::vector<double> ms = timeRuns(100, [&](int i) {
            cv::Mat frame = st.frame(st.data->lastImage);
            live[std::size_t(i) % live.size()].copyTo(frame);
        }, [&] { engine->RunDetect(Single); });
        for (double& v : ms) {
            v /= 47.0;
        }
        printStats(functionName(f), ms);
    }

    // Training with the largest template count of the settings (100).
    const int most = 100;
    st.data->templates[Single].clear();
    st.data->templates[Single].shrink_to_fit();
    gTemplateCount = most;
    st.data->templates[Mix].resize(most);
    st.data->templateValid[Mix].assign(most, 0);
    st.data->templateCount[Mix] = 0;
    std::vector<cv::Mat> samples;
    for (int k = 0; k < 10; ++k) {
        samples.push_back(makeSyntheticFrame(scene(quint32(k + 1))).image);
    }
    for (int k = 0; k < most; ++k) {
        st.data->templates[Mix][std::size_t(k)].assign(std::size_t(st.data->bufferSize), 0);
        st.setTemplate(Mix, k, samples[std::size_t(k) % samples.size()]);
    }
    std::printf("\nTraining of the 50-area detect:\n");
    const std::vector<double> trainMs = timeRuns(3, nullptr, [&] { engine->TrainModels(Mix); });
    printStats("models, 100 samples (factor 2)", trainMs);
    p.diffFactor() = 4;
    const std::vector<double> trainNearestMs = timeRuns(3, nullptr, [&] { engine->TrainModels(Mix); });
    printStats("models, 100 samples (factor 4)", trainNearestMs);
    const std::vector<double> detectNearestMs = timeRuns(20, [&](int i) {
        cv::Mat frame = st.frame(st.data->lastImage);
        live[std::size_t(i) % live.size()].copyTo(frame);
    }, [&] { engine->RunDetect(Mix); });
    printStats("detect, factor 4 with 100 samples", detectNearestMs);
    p.diffFactor() = 2;
    const std::vector<double> locateTrainMs = timeRuns(3, nullptr, [&] { engine->TrainLocate(Mix); });
    printStats("positioning model", locateTrainMs);
    std::printf("  %-34s %8.3f ms\n", "alignment model (once)", trainAlignMs);

    std::printf("\nHeap allocations per frame: ");
    if (allocations[0] >= 0) {
        std::printf("%ld (align off %ld, locate %ld, detect of 50 areas %ld)\n",
                    allocations[0] + allocations[1] + allocations[2], allocations[0], allocations[1],
                    allocations[2]);
    } else {
        std::printf("not counted in a sanitizer build\n");
    }
    std::printf("NG areas on the good frames: %d of 50 (expected 0); results handed over: %d\n", ngAreas,
                peers.handed);
    const Stats whole = stats(wholeMs);
    std::printf("\nOne detect of 50 areas without feature alignment: median %.2f ms, p99 %.2f ms (aim: under 20 ms)\n",
                whole.median, whole.p99);
    delete engine;
    return 0;
}
