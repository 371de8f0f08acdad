// The first training of every model in the real main window, release build,
// with the I/O link up (the I/O thread polling the simulated board on a
// pseudo-terminal, "COM1"): eight 1920 x 1080 cameras on a rotary machine
// (four detects, all active), 20 template samples per detect, 50 areas per
// detect (one positioning area, 49 defect and similarity areas in turn).
//
// Each round times, in the same run:
// - today's path as it was: the positioning and alignment training of the
//   engine, and the defect and similarity models trained by the former code
//   (trainingbaseline.h) into fresh models, as after the start;
// - today's path as it is: a fresh engine per camera, which trains every
//   detect in its constructor, as the station does at the start;
// - both again on the models already there, as after re-sampling.
// Printed: the time of each against the aim of 2 s, and the longest gap
// between two polls the simulated board received while it ran, against the
// aim of 50 ms (the GUI thread does not feed the link's 10 s heartbeat
// meanwhile). Every round checks that both paths learned the same models.
//
// Usage: bench_training [rounds, default 3]
// Run it under Xvfb at the panel's size, or offscreen.

#include "boardframing.h"
#include "boardsimulator.h"
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clustomrect.h"
#include "controlport.h"
#include "detectalgorithm.h"
#include "fakecamera.h"
#include "globals.h"
#include "iothread.h"
#include "modbusserver.h"
#include "mouldpicture.h"
#include "paramstorage.h"
#include "promptanswerer.h"
#include "systemparam.h"
#include "texttable.h"
#include "trainingbaseline.h"
#include "vezirevoru.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QThread>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int kCameras = 8;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDetects = 4;
constexpr int kSamples = 20;
constexpr int kModelAreas = 49;
constexpr double kAimMs = 2000;
constexpr double kAimGapMs = 50;

class BenchCamera : public FakeCamera {
public:
    BenchCamera() : FakeCamera(kWidth, kHeight) {}
    QString typeId() override { return QString::fromLatin1(kHikCameraIid); }
    QList<CameraInfo> enumerate() override
    {
        QList<CameraInfo> devices;
        for (int i = 0; i < kCameras; ++i) {
            CameraInfo record;
            record.index = i;
            record.number = i;
            record.iid = QString::fromLatin1(kHikCameraIid);
            qsnprintf(record.id, sizeof record.id, "TRAIN%d", i);
            devices.append(record);
        }
        return devices;
    }
    int deviceCount() override { return kCameras; }
    CameraInterface* create(CameraInfo) override { return new BenchCamera; }
};

void wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

bool setUpParams()
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-setup"));
        db.setDatabaseName(QStringLiteral("PARAM.db"));
        if (db.open()) {
            SystemParam record{};
            QSqlDatabase none;
            loadSysParam(&record, db, none, nullptr);
            // A rotary machine working both sides: four detects, all active.
            record.systemFunction() = 2;
            record.systemFunctionEdit() = 2;
            record.mouldSide() = 2;
            record.productDetect() = 1;
            record.syncCavityParams() = 0;
            record.maxTemplates() = kSamples;
            // Positioning searches: the locators are trained too.
            record.motionCorrect() = 0;
            record.isPswUsed() = 0;
            record[161] = 0;
            record[162] = 0;
            record.ioComPort() = 0;
            ok = saveSysParam(&record, db);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-setup"));
    return ok;
}

struct RigArea {
    int slot;
    int function;
    cv::Rect rect;
};

// One camera's live areas: a positioning area and a 7 x 7 grid of defect and
// similarity areas in turn over the mould; every sample slot holds the mould
// with a noise of its own, so the learned deviations are not all zero.
std::vector<RigArea> fillStation(CameraStation& st, const std::vector<cv::Mat>& samples)
{
    std::vector<RigArea> areas;
    CammerSingleton& live = *st.pLiveSingleton;
    StationData& data = st.data;
    for (int d = 0; d < kDetects; ++d) {
        for (ROIInterface* shape : live.roiLists[d]) {
            delete shape;
        }
        live.roiLists[d].clear();
        auto add = [&](int function, const cv::Rect& r, int param, int lower, int upper) {
            const int area = live.roiCount[d];
            const int slot = d * CammerSingleton::AreasPerDetect + area;
            auto* shape = new ClustomRect(r.x, r.y, r.x + r.width - 1, r.y + r.height - 1);
            shape->updateBounds();
            live.roiLists[d].append(shape);
            live.roiCount[d] = area + 1;
            live.roiFunction[slot] = function;
            live.roiParam[slot] = param;
            live.roiLower[slot] = lower;
            live.roiUpper[slot] = upper;
            live.roiShapeType[slot] = shape->type();
            data.roiMasks[slot] = shape->createMask();
            if (function == FuncDefect || function == FuncSimilarity) {
                areas.push_back({slot, function, r});
            }
        };
        live.roiCount[d] = 0;
        add(FuncPosition, cv::Rect(760, 400, 400, 280), 60, 2, 2);
        const int cw = (kWidth - 40) / 7;
        const int ch = (kHeight - 40) / 7;
        for (int k = 0; k < kModelAreas; ++k) {
            const cv::Rect r(20 + (k % 7) * cw, 20 + (k / 7) * ch, cw - 4, ch - 4);
            if (k % 2 == 0) {
                add(FuncDefect, r, 3, 25, 200);
            } else {
                add(FuncSimilarity, r, 3, 80, 100);
            }
        }
        for (int k = 0; k < kSamples; ++k) {
            uchar* slot = data.occupyTemplate(d, k);
            const cv::Mat& sample = samples[std::size_t(k) % samples.size()];
            if (slot && std::size_t(data.bufferSize) == sample.total()) {
                std::memcpy(slot, sample.data, sample.total());
            }
        }
    }
    return areas;
}

// The defect and similarity models of one camera as the former code learned
// them, and the steps of the engine's model training that led there.
struct BaselineModels {
    baseline::DefectModel defect[StationData::SlotCount];
    baseline::SimilarityModel similarity[StationData::SlotCount];
    cv::Mat keep[StationData::DetectCount];
};

void trainBaseline(BaselineModels& m, StationData& st, const CammerSingleton& live, const std::vector<RigArea>& all,
                   int d)
{
    for (int i = 0; i < StationData::AreasPerDetect; ++i) {
        const int s = d * StationData::AreasPerDetect + i;
        if (m.defect[s].IsTrained()) {
            m.defect[s].Reset();
        }
        m.similarity[s].Reset();
    }
    cv::Mat keep = cv::Mat(st.imageHeight, st.imageWidth, CV_8UC1, st.ignoreMasks[d].data()).clone();
    cv::bitwise_not(keep, keep);
    m.keep[d] = keep;
    std::vector<RigArea> areas;
    for (const RigArea& a : all) {
        if (a.slot / StationData::AreasPerDetect != d) {
            continue;
        }
        cv::Mat modelMask;
        cv::bitwise_and(keep(a.rect), st.roiMasks[a.slot], modelMask);
        if (a.function == FuncSimilarity) {
            m.similarity[a.slot].Init(a.rect.width, a.rect.height, modelMask);
        } else {
            m.defect[a.slot].Init(a.rect.width, a.rect.height, modelMask, 0);
        }
        areas.push_back(a);
    }
    int used = 0;
    for (std::size_t k = 0; k < st.templates[d].size() && used < st.templateCount[d]; ++k) {
        if (!st.templateValid[d][k]) {
            continue;
        }
        const cv::Mat sample = st.frameHeader(st.templates[d][k], false);
        for (const RigArea& a : areas) {
            if (a.function == FuncSimilarity) {
                m.similarity[a.slot].AddSample(sample(a.rect));
            } else {
                m.defect[a.slot].AddSampleShared(sample(a.rect));
            }
        }
        ++used;
    }
    for (const RigArea& a : areas) {
        if (a.function == FuncSimilarity) {
            m.similarity[a.slot].Train();
        } else {
            m.defect[a.slot].Train(live.roiLower[a.slot], gpSystemParam->diffFactor(), 100, 150);
        }
    }
}

bool same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::countNonZero(a != b) == 0);
}

// Both paths learned the same: bounds and statistics of every defect model,
// the score of every similarity model on a live frame, bit for bit.
int differences(const BaselineModels& m, DetectAlgorithm& engine, const std::vector<RigArea>& areas,
                const cv::Mat& live)
{
    int wrong = 0;
    for (const RigArea& a : areas) {
        if (a.function == FuncDefect) {
            const baseline::DefectModel& b = m.defect[a.slot];
            const DefectModel& n = engine.defectModels[a.slot];
            if (b.IsTrained() != n.IsTrained() || !same(b.Upper(), n.Upper()) || !same(b.Lower(), n.Lower())
                || !same(b.Mean(), n.Mean()) || !same(b.Deviation(), n.Deviation())) {
                ++wrong;
            }
        } else {
            auto& b = const_cast<baseline::SimilarityModel&>(m.similarity[a.slot]);
            SimilarityModel& n = engine.similarityModels[a.slot];
            cv::Mat ob;
            cv::Mat on;
            if (b.VectorCount() != n.VectorCount() || b.Detect(live(a.rect), ob) != n.Detect(live(a.rect), on)) {
                ++wrong;
            }
        }
    }
    return wrong;
}

class PollWatch {
public:
    explicit PollWatch(BoardSimulator& board)
    {
        polls.reserve(1 << 20);
        board.setFrameObserver([this](const BoardSimulator::HostFrame& f) {
            if (f.command() != CmdSetOutputs) {
                std::lock_guard<std::mutex> lock(mutex);
                if (polls.size() < polls.capacity()) {
                    polls.push_back(f.atNs);
                }
            }
        });
    }
    void start()
    {
        std::lock_guard<std::mutex> lock(mutex);
        polls.clear();
    }
    // The longest gap between two polls from t0 up to the first poll after t1.
    double longestGapMs(qint64 t0, qint64 t1)
    {
        wait(60);
        std::lock_guard<std::mutex> lock(mutex);
        double gap = 0;
        qint64 last = t0;
        for (qint64 at : polls) {
            if (at < t0) {
                continue;
            }
            gap = std::max(gap, double(at - last) / 1e6);
            last = at;
            if (at > t1) {
                return gap;
            }
        }
        return std::max(gap, double(BoardSimulator::nowNs() - last) / 1e6);
    }
    // The polls per second over the last run, for the record.
    std::size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return polls.size();
    }

private:
    std::mutex mutex;
    std::vector<qint64> polls;
};

struct Timing {
    double ms = 0;
    double gapMs = 0;
};

template <typename F>
Timing timed(PollWatch& watch, F&& work)
{
    // A step before that held the GUI thread past the heartbeat left the link
    // silent: each step starts with the link polling again, so its gaps are
    // its own.
    gpControlPort->feedWatchdog();
    wait(300);
    watch.start();
    const qint64 t0 = BoardSimulator::nowNs();
    work();
    const qint64 t1 = BoardSimulator::nowNs();
    Timing t;
    t.ms = double(t1 - t0) / 1e6;
    t.gapMs = watch.longestGapMs(t0, t1);
    return t;
}

void print(const char* what, const Timing& today, const Timing& now)
{
    std::printf("  %-28s before %7.0f ms (poll gap %6.1f ms)   now %7.0f ms (poll gap %6.1f ms)   %.1fx faster\n",
                what, today.ms, today.gapMs, now.ms, now.gapMs, now.ms > 0 ? today.ms / now.ms : 0.0);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    initTextTable();
    writeFactoryParamGroup(QStringLiteral("paraGroup/default"));
    QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
    QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
    if (!setUpParams()) {
        std::fprintf(stderr, "PARAM.db cannot be set up\n");
        return 1;
    }
    BoardSimulator board;
    if (!board.isPlugged() || !board.linkAs(dir.filePath(QStringLiteral("COM1")))) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    setCameraDriverFactory(QString::fromLatin1(kHikCameraIid), [] { return new BenchCamera; });
    PromptAnswerer answers({1});

    auto window = std::make_unique<VeZiRevoru>(nullptr, 0, QHostAddress::LocalHost);
    VeZiRevoru& w = *window;
    gpControlPort->startIOThread();
    QObject::connect(gpControlPort->ioThread(), &IOThread::sigIOChange, &w, &VeZiRevoru::Run);
    w.show();
    wait(300);
    if (gCameraCount != kCameras || gDetectCount != kDetects || gTemplateCount != kSamples) {
        std::fprintf(stderr, "set-up: %d cameras, %d detects, %d samples\n", gCameraCount, gDetectCount,
                     gTemplateCount);
        return 1;
    }
    cv::Mat mould;
    renderMouldPictures(mouldLayout(0), &mould, nullptr);
    std::vector<cv::Mat> samples;
    cv::RNG rng(11);
    for (int k = 0; k < kSamples; ++k) {
        cv::Mat noise(mould.size(), CV_8UC1);
        rng.fill(noise, cv::RNG::UNIFORM, 0, 9);
        samples.push_back(mould + noise);
    }
    cv::Mat live = mould.clone();
    cv::Mat liveNoise(mould.size(), CV_8UC1);
    rng.fill(liveNoise, cv::RNG::UNIFORM, 0, 12);
    live += liveNoise;
    std::vector<RigArea> areas;
    for (int c = 0; c < gCameraCount; ++c) {
        areas = fillStation(w.pCammer[c]->station(), samples);
    }
    PollWatch watch(board);
    wait(200);
    // The machine's own share of the gaps: the link polling while the GUI
    // thread only waits.
    const Timing idle = timed(watch, [] { wait(2000); });

    std::printf("idle (2 s of the event loop only): longest gap between board polls %.1f ms\n", idle.gapMs);
    std::printf("first training: %d cameras %dx%d, %d detects, %d samples each, 1 positioning + %d defect and "
                "similarity areas per detect; the I/O link polling the simulated board\n",
                gCameraCount, kWidth, kHeight, gDetectCount, kSamples, kModelAreas);
    double worstBefore = 0;
    double worstNow = 0;
    double worstGapBefore = 0;
    double worstGapNow = 0;
    int wrong = 0;
    for (int r = 0; r < rounds; ++r) {
        std::printf("round %d\n", r + 1);
        std::vector<std::unique_ptr<BaselineModels>> base(static_cast<std::size_t>(gCameraCount));
        const Timing firstBefore = timed(watch, [&] {
            for (int c = 0; c < gCameraCount; ++c) {
                CameraStation& st = w.pCammer[c]->station();
                base[std::size_t(c)] = std::make_unique<BaselineModels>();
                for (int d = 0; d < gDetectCount; ++d) {
                    st.pDetector->TrainAlign(d);
                    st.pDetector->TrainLocate(d);
                    trainBaseline(*base[std::size_t(c)], st.data, *st.pLiveSingleton, areas, d);
                }
            }
        });
        const Timing firstNow = timed(watch, [&] {
            for (int c = 0; c < gCameraCount; ++c) {
                CameraStation& st = w.pCammer[c]->station();
                st.pDetector.reset();
                st.pDetector = std::make_unique<DetectAlgorithm>(st.pLiveSingleton.get(), &st.data);
            }
        });
        print("first training (start-up)", firstBefore, firstNow);
        const Timing againBefore = timed(watch, [&] {
            for (int c = 0; c < gCameraCount; ++c) {
                CameraStation& st = w.pCammer[c]->station();
                for (int d = 0; d < gDetectCount; ++d) {
                    st.pDetector->TrainAlign(d);
                    st.pDetector->TrainLocate(d);
                    trainBaseline(*base[std::size_t(c)], st.data, *st.pLiveSingleton, areas, d);
                }
            }
        });
        double stepMs[3] = {};
        const Timing againNow = timed(watch, [&] {
            for (int c = 0; c < gCameraCount; ++c) {
                CameraStation& st = w.pCammer[c]->station();
                for (int d = 0; d < gDetectCount; ++d) {
                    const qint64 t0 = BoardSimulator::nowNs();
                    st.pDetector->TrainAlign(d);
                    const qint64 t1 = BoardSimulator::nowNs();
                    st.pDetector->TrainLocate(d);
                    const qint64 t2 = BoardSimulator::nowNs();
                    st.pDetector->TrainModels(d);
                    const qint64 t3 = BoardSimulator::nowNs();
                    stepMs[0] += double(t1 - t0) / 1e6;
                    stepMs[1] += double(t2 - t1) / 1e6;
                    stepMs[2] += double(t3 - t2) / 1e6;
                }
            }
        });
        print("training again (re-sampling)", againBefore, againNow);
        std::printf("  of which now: alignment %.0f ms, positioning %.0f ms, defect and similarity models %.0f ms\n",
                    stepMs[0], stepMs[1], stepMs[2]);
        int roundWrong = 0;
        for (int c = 0; c < gCameraCount; ++c) {
            roundWrong += differences(*base[std::size_t(c)], *w.pCammer[c]->station().pDetector, areas, live);
        }
        std::printf("  models that differ between both paths: %d of %zu\n", roundWrong,
                    areas.size() * std::size_t(gCameraCount));
        wrong += roundWrong;
        worstBefore = std::max({worstBefore, firstBefore.ms, againBefore.ms});
        worstNow = std::max({worstNow, firstNow.ms, againNow.ms});
        worstGapBefore = std::max({worstGapBefore, firstBefore.gapMs, againBefore.gapMs});
        worstGapNow = std::max({worstGapNow, firstNow.gapMs, againNow.gapMs});
        base.clear();
        wait(200);
    }
    std::printf("worst training: before %.0f ms, now %.0f ms (aim under %.0f ms: %s); %.1fx faster\n", worstBefore,
                worstNow, kAimMs, worstNow < kAimMs ? "met" : "MISSED", worstNow > 0 ? worstBefore / worstNow : 0.0);
    std::printf("longest gap between board polls: before %.1f ms, now %.1f ms (aim under %.0f ms: %s)\n",
                worstGapBefore, worstGapNow, kAimGapMs, worstGapNow < kAimGapMs ? "met" : "MISSED");
    std::printf("models equal: %s\n", wrong == 0 ? "yes" : "NO");

    board.setFrameObserver({});
    gpControlPort->shutdown();
    ModbusServer* server = w.pModbusServer;
    const QList<CameraInterface*> cameras = w.openedCameras;
    window.reset();
    qDeleteAll(cameras);
    delete server;
    return wrong == 0 ? 0 : 1;
}
