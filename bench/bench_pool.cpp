// The cameras of one detect judged side by side: eight camera stations of
// 1920 x 1080 with 50 defect areas each and positioning on the default block,
// through the cycle's own judging (CycleController::RunAlgorithms with the
// stations' engines, the records' hand-over and the outputs), against one
// camera alone.
//
// - one camera, one worker, the process pinned to one core;
// - eight cameras one after the other (one worker, as before the pool), on
//   one core;
// - four and eight cameras with four workers, pinned to four cores.
//
// Each twice, in turns: before, with the positioning as it was
// (positioningbaseline.h: the live frame's gradients over the whole reach of
// the template on every level, in images allocated afresh for every frame,
// which eight engines at once pay for in page faults and memory traffic),
// and today. Prints the median of each and the ratios to one camera. Eight
// judgements on four cores cannot take less than twice one judgement; the
// pool's own cost is what lies above that. On a shared machine the cores are
// not all ours: the same ratio of plain arithmetic on plain threads, measured
// in between, shows what the machine gave at the time.
//
// OpenCV's own threads are switched off, so the cores are the pool's alone
// and the pinning holds for every thread that works.
//
// Usage: bench_pool [repetitions, default 15]

#include "cameraregistry.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "clustomrect.h"
#include "controlport.h"
#include "cyclecontroller.h"
#include "deferredpeers.h"
#include "detectalgorithm.h"
#include "fakecamera.h"
#include "globals.h"
#include "imagehelpers.h"
#include "positioningbaseline.h"
#include "quietstationhost.h"
#include "sqlitetestutil.h"
#include "syntheticframe.h"
#include "systemparam.h"
#include "targetlocator.h"
#include "temperaturechartdata.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <opencv2/core/utility.hpp>

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int W = 1920;
constexpr int H = 1080;
constexpr int Cavity = 1;
constexpr int Cameras = 8;

struct Host : QuietStationHost {
    int detectRunning() override { return Cavity; }
};

cv::Rect cell(int k)
{
    return cv::Rect((k % 8) * 240 + 5, (k / 8) * 150 + 3, 220, 140);
}

// The first n cores this process may use; false when there are fewer.
bool pin(int n)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return false;
    }
    static cpu_set_t all = allowed;
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    int taken = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && taken < n; ++cpu) {
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &chosen);
            ++taken;
        }
    }
    return taken == n && sched_setaffinity(0, sizeof chosen, &chosen) == 0;
}

volatile double gSink;

// Eight equal jobs of plain arithmetic on `threads` threads (one job alone
// with threads = 0): the machine's own ratio, without the engine or the pool.
double arithmetic(int threads)
{
    auto job = [] {
        double s = 0;
        for (long i = 0; i < 6000000; ++i) {
            s += double(i % 7) * 0.5;
        }
        gSink = s;
    };
    const auto t0 = std::chrono::steady_clock::now();
    if (threads == 0) {
        job();
    } else {
        std::atomic<int> next{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([&] {
                while (next++ < Cameras) {
                    job();
                }
            });
        }
        for (std::thread& t : pool) {
            t.join();
        }
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The engine's positioning step with the search and turn of before, on the
// station's own locator, window and reference; a station's search keeps its
// own table, as its locator does.
bool locateAsBefore(DetectAlgorithm& engine, StationData& data, int d, baseline::ShapeAngleTable& table)
{
    const SystemParam& p = *gpSystemParam;
    const TargetLocator& locator = engine.locators[d];
    if (p.motionCorrect() == -1 || !locator.IsReady()) {
        return false;
    }
    cv::Mat aligned = data.frameHeader(data.alignedBuffer, false);
    cv::Mat judged = data.frameHeader(data.lastImage, false);
    const cv::Rect window(engine.searchWindows[d][0], engine.searchWindows[d][1], engine.searchWindows[d][2],
                          engine.searchWindows[d][3]);
    if (aligned.empty() || judged.empty() || window.width <= 0 || window.height <= 0) {
        return false;
    }
    const bool rotate = locator.Mode() == 4;
    ShapeSearchParams sp;
    sp.minScore = TargetLocator::kMinScore;
    sp.angleStep = 0.1f;
    if (rotate) {
        sp.angleStart = -float(p.rotateCorrect());
        sp.angleEnd = float(p.rotateCorrect());
    }
    cv::Point2f found;
    float angle = 0.0f;
    if (!baseline::findShape(aligned(window), locator.Model(), sp, rotate, found, angle, &table)) {
        return false;
    }
    const int dx = TargetLocator::ShiftFrom(engine.locateCentreX[d], found.x) - window.x;
    const int dy = TargetLocator::ShiftFrom(engine.locateCentreY[d], found.y) - window.y;
    if (p.rotateCorrect() >= 1 && p.rotateCorrect() <= 180) {
        return baseline::rotateImage(aligned, judged, dx, dy, engine.locateCentreX[d], engine.locateCentreY[d],
                                     rotate ? double(angle) : 0.0);
    }
    return shiftImage(aligned, judged, dx, dy);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    initTextTable();
    cv::setNumThreads(1);
    const int repetitions = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    openStationParamDatabase(dir.filePath("PARAM.db"), 8);
    SystemParam params{};
    std::memset(&params, 0, sizeof params);
    params[120] = 1;
    gpSystemParam = &params;
    gpSystemParamEdit = &params;
    gDetectCount = 2;
    gTemplateCount = 1;
    gColorMode = 0;
    gCameraCount = Cameras;
    Host host;
    setStationHost(&host);
    TemperatureChartData::instance();

    ControlPort port(0);
    CycleController ctl(&port, nullptr);
    std::vector<std::unique_ptr<FakeCamera>> fakes;
    std::vector<std::unique_ptr<CameraStation>> stations;
    for (int c = 0; c < Cameras; ++c) {
        fakes.push_back(std::make_unique<FakeCamera>(W, H));
        fakes.back()->open();
        stations.push_back(std::make_unique<CameraStation>(c, fakes.back().get()));
        // The device's own frames would only cost time: the station judges
        // the synthetic frame put into it.
        fakes.back()->pause(true);
        CameraStation& st = *stations.back();
        CammerSingleton& set = *st.pLiveSingleton;
        for (int k = 0; k < 50; ++k) {
            const cv::Rect r = cell(k);
            auto* shape = new ClustomRect(r.x, r.y, r.x + r.width - 1, r.y + r.height - 1);
            const int slot = Cavity * AreasPerDetect + set.roiCount[Cavity]++;
            set.roiLists[Cavity].append(shape);
            set.roiShapeType[slot] = shape->type();
            set.roiFunction[slot] = FuncDefect;
            set.roiParam[slot] = 3;
            set.roiLower[slot] = 25;
            set.roiUpper[slot] = 100000;
            st.data.roiMasks[slot] = shape->createMask();
        }
        SyntheticScene scene;
        scene.width = W;
        scene.height = H;
        scene.noiseSeed = quint32(c + 1);
        const cv::Mat frame = makeSyntheticFrame(scene).image;
        st.StoreTemplate(Cavity, 0, frame.data);
        scene.noiseSeed = quint32(c + 101);
        const cv::Mat live = makeSyntheticFrame(scene).image;
        std::memcpy(st.data.grabBuffer.data(), live.data, size_t(W) * H);
        ctl.retrain(st, Cavity);
        ctl.stations.push_back(&st);
    }
    ctl.StartDetect();
    ctl.curDetect = Cavity;

    // Today's inspection, and the same with the positioning of before.
    const std::function<void(CameraStation&, int)> today = ctl.inspect;
    std::vector<baseline::ShapeAngleTable> tables(Cameras);
    const std::function<void(CameraStation&, int)> before = [&tables](CameraStation& st, int d) {
        StationData& data = st.data;
        auto* deferred = dynamic_cast<DeferredPeers*>(data.peers);
        st.pDetector->RunAlign(d);
        const int running = data.peers ? data.peers->currentDetect() : 0;
        if (!locateAsBefore(*st.pDetector, data, running, tables[size_t(data.cameraIndex)])) {
            std::copy(data.alignedBuffer.begin(), data.alignedBuffer.end(), data.lastImage.begin());
        }
        const std::vector<uchar>& from = st.isSimulated ? data.lastImage : data.grabBuffer;
        const size_t n = size_t(std::max(0, data.bufferSize));
        if (data.displayBuffer.size() >= n && from.size() >= n) {
            std::memcpy(data.displayBuffer.data(), from.data(), n);
        }
        if (deferred) {
            deferred->stampCamera(data.cameraIndex);
        } else {
            st.stampCamera();
        }
        st.pDetector->RunDetect(d);
    };

    // Before and today take turns at every figure, so a busy machine slows
    // both alike.
    struct Figure {
        double before = 0;
        double today = 0;
        // Minor page faults per detect: fresh pages the kernel maps in, which
        // eight engines at once pay for under one lock of the process.
        double faultsBefore = 0;
        double faultsToday = 0;
    };
    auto minorFaults = [] {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        return double(usage.ru_minflt);
    };
    auto measure = [&](int cameras, int workers, int cores) {
        Figure f;
        if (!pin(cores)) {
            std::fprintf(stderr, "cannot pin to %d cores\n", cores);
            f.before = f.today = -1.0;
            return f;
        }
        // The pool's threads are made after the pinning and inherit it.
        ctl.setWorkers(workers);
        std::vector<int> which;
        for (int c = 0; c < cameras; ++c) {
            which.push_back(c);
        }
        std::vector<double> times[2];
        for (int i = -1; i < repetitions; ++i) {
            for (int turn = 0; turn < 2; ++turn) {
                const bool old = (turn == 0) == (i % 2 == 0);
                ctl.inspect = old ? before : today;
                const double faults = minorFaults();
                const auto t0 = std::chrono::steady_clock::now();
                ctl.RunAlgorithms(which, Cavity);
                const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                if (i >= 0) { // the first round warms up
                    times[old ? 0 : 1].push_back(ms);
                    (old ? f.faultsBefore : f.faultsToday) += (minorFaults() - faults) / repetitions;
                }
            }
        }
        ctl.inspect = today;
        f.before = median(times[0]);
        f.today = median(times[1]);
        return f;
    };

    auto machine = [&] {
        std::vector<double> single;
        std::vector<double> eightOnFour;
        for (int i = 0; i < 5; ++i) {
            pin(1);
            single.push_back(arithmetic(0));
            pin(4);
            eightOnFour.push_back(arithmetic(4));
        }
        return median(eightOnFour) / median(single);
    };

    const Figure one = measure(1, 1, 1);
    const Figure sequence = measure(Cameras, 1, 1);
    const double machineBefore = machine();
    const Figure four = measure(4, 4, 4);
    const Figure eight = measure(Cameras, 4, 4);
    const double machineAfter = machine();
    ctl.stopWorkers();
    if (one.today <= 0 || sequence.today <= 0 || four.today <= 0 || eight.today <= 0 || one.before <= 0) {
        return 1;
    }
    bool allOk = true;
    for (auto& st : stations) {
        allOk = allOk && st->data.resultOk == 1;
    }
    std::printf("%dx%d, 50 defect areas per camera, positioning on the default block, median of %d detects "
                "(judgement, records, outputs); before = the positioning as it was, in this run\n",
                W, H, repetitions);
    auto row = [&](const char* what, const Figure& f, const char* note) {
        std::printf("  %s  before %8.2f ms (%.2f x one camera, %5.0f page faults) | today %8.2f ms (%.2f x one "
                    "camera, %5.0f page faults)%s\n",
                    what, f.before, f.before / one.before, f.faultsBefore, f.today, f.today / one.today,
                    f.faultsToday, note);
    };
    row("1 camera,  1 worker,  1 core :", one, "");
    row("8 cameras, 1 worker,  1 core :", sequence, "  (before the pool)");
    row("4 cameras, 4 workers, 4 cores:", four, "");
    row("8 cameras, 4 workers, 4 cores:", eight, "  (2.00 is the floor of 8 on 4)");
    std::printf("  the machine meanwhile: 8 arithmetic jobs on 4 plain threads, 4 cores: %.2f and %.2f x one job\n",
                machineBefore, machineAfter);
    std::printf("  every camera judged %s\n", allOk ? "OK" : "NG (the scene is not what the bench means)");
    stations.clear();
    clearStationHost(&host);
    return allOk ? 0 : 1;
}
