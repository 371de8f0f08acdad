// The inspection cycle end to end, with delay and debounce 0:
// - from an input edge at the simulated board (pseudo-terminal) to the output
//   frame that withdraws the clamp, and to the frame that grants it after the
//   cavity inspection, for 2 and 8 cameras of 1920 x 1080 with 50 areas each;
//   against the physical floor measured in the same run (median poll period
//   plus 1.74 ms, the line time of poll, reply and command 1 at 115200 baud,
//   which a pseudo-terminal does not have), and against the bare inspection
//   time of the same cameras. The withdrawal must not wait for the inspection.
// - NG and OK pictures of eight 1920 x 1080 cameras handed over faster than
//   the writer stores them: pictures written per second, pictures replaced,
//   peak resident memory against the slot table plus one picture per camera.
//
// Usage: bench_cycle [picture cycles, default 2000]

#include "benchsupport.h"
#include "boardframing.h"
#include "boardsimulator.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "controlport.h"
#include "cyclecontroller.h"
#include "detectalgorithm.h"
#include "enginestation.h"
#include "failimageslots.h"
#include "fakecamera.h"
#include "globals.h"
#include "iothread.h"
#include "productioncounters.h"
#include "savefialimagethread.h"
#include "sqlitetestutil.h"
#include "syntheticframe.h"
#include "systemparam.h"
#include "texttable.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int W = 1920;
constexpr int H = 1080;
constexpr int Cavity = 1;

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const qint64 end = BoardSimulator::nowNs() + qint64(timeoutMs) * 1000000;
    while (!done()) {
        if (BoardSimulator::nowNs() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(100);
    }
    return true;
}

cv::Rect cell(int k)
{
    return cv::Rect((k % 8) * 240 + 5, (k / 8) * 150 + 3, 220, 140);
}

// One camera's engine: 50 defect areas over a synthetic mould, one template.
struct Engine {
    std::unique_ptr<EngineStation> st;
    std::unique_ptr<DetectAlgorithm> algo;
    explicit Engine(int seed)
    {
        st = std::make_unique<EngineStation>(W, H, false, 1);
        for (int k = 0; k < 50; ++k) {
            st->addRect(Cavity, FuncDefect, cell(k), 3, 25, 100000);
        }
        SyntheticScene s;
        s.width = W;
        s.height = H;
        s.noiseSeed = quint32(seed);
        const cv::Mat frame = makeSyntheticFrame(s).image;
        st->setTemplate(Cavity, 0, frame);
        st->setFrame(frame);
        algo = std::make_unique<DetectAlgorithm>(st->live.get(), st->data.get());
        algo->TrainLocate(Cavity);
        algo->TrainModels(Cavity);
    }
    bool inspect()
    {
        algo->RunAlign(Cavity);
        algo->RunLocate();
        algo->RunDetect(Cavity);
        return st->data->resultOk == 1;
    }
};

qint64 peakRssBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

int latency(int cameras, SystemParam& params)
{
    std::vector<std::unique_ptr<Engine>> engines;
    for (int c = 0; c < cameras; ++c) {
        engines.push_back(std::make_unique<Engine>(c + 1));
    }
    gpSystemParam = &params;
    gpSystemParamEdit = &params;
    gDetectCount = 2;

    // Bare inspection of the same cameras.
    std::vector<double> bare;
    for (int i = 0; i < 20; ++i) {
        const qint64 t0 = BoardSimulator::nowNs();
        for (auto& e : engines) {
            e->inspect();
        }
        bare.push_back(double(BoardSimulator::nowNs() - t0) / 1e6);
    }

    BoardSimulator board;
    if (!board.isPlugged() || !board.linkAs(QStringLiteral("COM1"))) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    auto* port = new ControlPort(0);
    gpControlPort = port;
    port->startIOThread();
    port->feedWatchdog();

    std::vector<std::unique_ptr<FakeCamera>> fakes;
    std::vector<std::unique_ptr<CameraStation>> stations;
    CycleController ctl(port, nullptr);
    for (int c = 0; c < cameras; ++c) {
        // Small simulated devices: the frames the engines judge are their own.
        fakes.push_back(std::make_unique<FakeCamera>(64, 48));
        fakes.back()->open();
        stations.push_back(std::make_unique<CameraStation>(c, fakes.back().get()));
        ctl.stations.push_back(stations.back().get());
    }
    if (getenv("BENCH_CYCLE_WORKERS")) {
        ctl.setWorkers(atoi(getenv("BENCH_CYCLE_WORKERS")));
    }
    ctl.inspect = [&](CameraStation& st, int) {
        const bool ok = engines[size_t(st.data.cameraIndex)]->inspect();
        st.data.resultOk = ok ? 1 : 0;
    };
    QObject::connect(port->ioThread(), &IOThread::sigIOChange, &ctl, &CycleController::Run, Qt::QueuedConnection);
    ctl.StartDetect();
    ctl.manualTrigDetect = gDetectCount;
    ctl.runTimer->start(5);

    std::mutex notesMutex;
    std::vector<qint64> pollTimes;
    pollTimes.reserve(1 << 16);
    std::atomic<qint64> withdrawnAt{0};
    std::atomic<qint64> grantedAt{0};
    std::atomic<bool> watching{false};
    // Set once the cycle is counted: a cycle judged between two polls
    // withdraws and grants in one output word, so the board sees no
    // withdrawal frame; its grant is the first frame after the count.
    std::atomic<bool> counted{false};
    std::atomic<qint64> frameAfterCount{0};
    board.setFrameObserver([&](const BoardSimulator::HostFrame& f) {
        if (f.command() != CmdSetOutputs) {
            std::lock_guard<std::mutex> lock(notesMutex);
            if (pollTimes.size() < pollTimes.capacity()) {
                pollTimes.push_back(f.atNs);
            }
            return;
        }
        if (!watching) {
            return;
        }
        if (counted && frameAfterCount == 0) {
            frameAfterCount = f.atNs;
        }
        if ((f.value() & 1) && withdrawnAt == 0) {
            withdrawnAt = f.atNs;
        } else if (!(f.value() & 1) && withdrawnAt != 0 && grantedAt == 0) {
            grantedAt = f.atNs;
        }
    });
    waitUntil([] { return false; }, 300);

    std::vector<double> toWithdraw;
    std::vector<double> toGrant;
    const int trials = 40;
    int oneWord = 0;
    for (int k = 0; k < trials; ++k) {
        withdrawnAt = 0;
        grantedAt = 0;
        watching = true;
        const qint64 t0 = BoardSimulator::nowNs();
        board.setInput(InMouldOpenEnd, true);
        counted = false;
        frameAfterCount = 0;
        const int cyclesBefore = gTotalCycles;
        if (!waitUntil(
                [&] {
                    if (!counted && gTotalCycles != cyclesBefore) {
                        counted = true;
                    }
                    return grantedAt.load() != 0 || frameAfterCount.load() != 0;
                },
                10000)) {
            std::fprintf(stderr, "%d cameras, trial %d: no grant (phase %d, run %d, screen %d, outputs %d)\n", cameras, k,
                         int(ctl.cyclePhase()), int(ctl.runState()), int(ctl.screenMode()), board.lastOutputValue());
            return 1;
        }
        watching = false;
        if (grantedAt == 0) {
            ++oneWord;
            toGrant.push_back(double(frameAfterCount - t0) / 1e6);
        } else {
            toWithdraw.push_back(double(withdrawnAt - t0) / 1e6);
            toGrant.push_back(double(grantedAt - t0) / 1e6);
        }
        board.setInput(InMouldOpenEnd, false);
        // The board is polled and the main loop compares levels pass by pass:
        // a low that no whole pass saw makes the next rise no edge. A machine
        // holds its positions far longer.
        if (!waitUntil([&] { return !port->readIO(false, InMouldOpenEnd); }, 1000)) {
            std::fprintf(stderr, "%d cameras, trial %d: the low was never read (inputs %d)\n", cameras, k, int(gInputWord));
        }
        const int passes = gRunPassCount;
        waitUntil([&] { return gRunPassCount >= passes + 2; }, 1000);
        waitUntil([] { return false; }, 30 + (k * 7) % 20);
        ctl.TimerShow();
    }
    board.setFrameObserver({});
    std::vector<double> periods;
    {
        std::lock_guard<std::mutex> lock(notesMutex);
        for (size_t i = 1; i < pollTimes.size(); ++i) {
            periods.push_back(double(pollTimes[i] - pollTimes[i - 1]) / 1e6);
        }
    }
    ctl.runTimer->stop();
    port->shutdown();
    delete port;
    gpControlPort = nullptr;

    const double floorMs = percentile(periods, 0.5) + 1.74;
    const double bareMs = percentile(bare, 0.5);
    const double w50 = percentile(toWithdraw, 0.5), w99 = percentile(toWithdraw, 0.99);
    const double g50 = percentile(toGrant, 0.5), g99 = percentile(toGrant, 0.99);
    std::printf("%d cameras %dx%d, 50 areas each, delay and debounce 0, %d cycles (%d judged between two polls: no withdrawal frame)\n",
                cameras, W, H, trials, oneWord);
    std::printf("  physical floor (median poll %.3f ms + 1.74 ms line time): %.3f ms\n", percentile(periods, 0.5),
                floorMs);
    std::printf("  bare inspection of all cameras: median %.3f ms\n", bareMs);
    std::printf("  edge -> withdrawal frame: median %.3f ms (%.2f x floor), p99 %.3f ms (%.2f x floor)\n", w50,
                w50 / floorMs, w99, w99 / floorMs);
    std::printf("  edge -> grant frame:      median %.3f ms (%.2f x floor + inspection), p99 %.3f ms (%.2f x)\n", g50,
                g50 / (floorMs + bareMs), g99, g99 / (floorMs + bareMs));
    std::printf("  withdrawal %s for the inspection\n\n", w50 < bareMs ? "does not wait" : "WAITS");
    return w50 < bareMs || bareMs < floorMs ? 0 : 1;
}

int pictures(int cycles)
{
    const int cameras = 8;
    gDetectCount = 2;
    gMaxNgImages = 20;
    gMaxOkImages = 20;
    std::vector<QSize> sizes(size_t(cameras), QSize(W, H));
    FailImageSlots::allocate(sizes, gDetectCount);
    SaveFialImageThread::makeFolders(cameras);
    const qint64 slotBytes = FailImageSlots::sizeFor(sizes, gDetectCount);
    const qint64 before = peakRssBytes();

    SaveFialImageThread writer;
    writer.cameraCount = cameras;
    writer.detectCount = gDetectCount;
    writer.startWriting();

    std::vector<quint32> picture(size_t(W) * H, 0xFF404040u);
    const qint64 t0 = BoardSimulator::nowNs();
    for (int n = 0; n < cycles; ++n) {
        for (int c = 0; c < cameras; ++c) {
            picture[size_t(n % H) * W] = quint32(n);
            const int kind = (n + c) % 2;
            FailImageSlots::store(c, Cavity, kind, reinterpret_cast<const uchar*>(picture.data()), picture.size() * 4);
            std::lock_guard<std::mutex> lock(*gMutexTable[9]);
            gFailImageReady[FailImageSlots::index(c, Cavity, kind)] = 1;
        }
        QThread::usleep(2000);
    }
    const double seconds = double(BoardSimulator::nowNs() - t0) / 1e9;
    writer.stopWriting();
    const qint64 peak = peakRssBytes();
    const qint64 budget = before + qint64(cameras) * W * H * 4 + (qint64(64) << 20);
    std::printf("pictures: %d cycles of %d cameras in %.1f s: %d written (%.1f per second), %d replaced, "
                "peak resident %.0f MB (slot table %.0f MB, before the writer %.0f MB, budget %.0f MB): %s\n",
                cycles, cameras, seconds, writer.written.load(), writer.written.load() / seconds,
                FailImageSlots::replacedCount.load(), peak / 1048576.0, slotBytes / 1048576.0, before / 1048576.0,
                budget / 1048576.0, peak <= budget ? "flat" : "OVER BUDGET");
    FailImageSlots::release();
    return peak <= budget ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initTextTable();
    const int cycles = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    openStationParamDatabase(dir.filePath("PARAM.db"), 8);
    if (!gMutexTable[9]) {
        gMutexTable[9] = new std::mutex;
    }
    SystemParam params{};
    std::memset(&params, 0, sizeof params);
    params[120] = 1;
    gTemplateCount = 1;
    int rc = 0;
    rc |= latency(2, params);
    rc |= latency(8, params);
    rc |= pictures(cycles);
    return rc;
}
