// The worker pool on its own, and the cycle judging a detect's cameras side by
// side: the same detects with one worker and with four must give the same
// results, operation-log rows, records rows and output words, in the same
// order.

#include "inspectionpool.h"

#include "camerastation.h"
#include "cammersingleton.h"
#include "clustomrect.h"
#include "controlport.h"
#include "cyclecontroller.h"
#include "failimageslots.h"
#include "fakecamera.h"
#include "globals.h"
#include "platformhelpers.h"
#include "processstate.h"
#include "productioncounters.h"
#include "quietstationhost.h"
#include "sqlitetestutil.h"
#include "systemparam.h"
#include "temperaturechartdata.h"
#include "testclock.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QSqlDatabase>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

constexpr int Width = 96;
constexpr int Height = 64;
constexpr int Cameras = 5;

// Everything that leaves the cycle, in the order it leaves: log rows (from the
// cycle and from the engines alike, as the main window gets them), cycle
// values, repaints, pictures and the published output words.
struct Trace {
    QStringList events;
    QStringList results; // per round and camera: verdicts and area values
    QStringList rows;    // records rows handed over
};

struct Host : CycleHost, QuietStationHost {
    QStringList* events = nullptr;
    CycleController* ctl = nullptr;
    std::set<int> rawFailing;

    void insertRecord(const QString& text) override { *events << QStringLiteral("log ") + text; }
    void appendCycleValue(int value) override { *events << QStringLiteral("value %1").arg(value); }
    void setReadData(int reg, int value) override { *events << QStringLiteral("reg %1=%2").arg(reg).arg(value); }
    void saveFailImage(int c, int d, int kind) override
    {
        *events << QStringLiteral("picture %1 %2 %3").arg(c).arg(d).arg(kind);
    }
    bool saveRawFrame(int c, int) override { return rawFailing.count(c) == 0; }
    void enterAlarmScreen(int) override { *events << QStringLiteral("alarm screen"); }
    void leaveAlarmScreen(int) override { *events << QStringLiteral("alarm screen left"); }

    int detectRunning() override { return ctl ? ctl->curDetect : 0; }
};

void addRect(CameraStation& st, int detect, cv::Rect r, int function, int param, int lower, int upper)
{
    CammerSingleton& set = *st.pLiveSingleton;
    auto* shape = new ClustomRect(r.x, r.y, r.x + r.width - 1, r.y + r.height - 1);
    const int n = set.roiCount[detect]++;
    const int slot = detect * AreasPerDetect + n;
    set.roiLists[detect].append(shape);
    set.roiShapeType[slot] = shape->type();
    set.roiFunction[slot] = function;
    set.roiParam[slot] = param;
    set.roiLower[slot] = lower;
    set.roiUpper[slot] = upper;
    st.data.roiMasks[slot] = shape->createMask();
}

cv::Mat scene()
{
    cv::Mat frame(Height, Width, CV_8UC1);
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            frame.at<uchar>(y, x) = uchar(40 + (x + 2 * y) % 60);
        }
    }
    cv::rectangle(frame, cv::Rect(30, 20, 36, 24), cv::Scalar(150), cv::FILLED);
    return frame;
}

// One round: the detect judged, the cameras that see a part left in the mould
// (a bright blob in their areas), the cameras lost, the raw frames that
// cannot be written, the thermal reading; recheck: the alarm review's re-check.
struct Round {
    int detect;
    std::set<int> ng;
    std::set<int> lost;
    std::set<int> rawFailing;
    int temperature;
    bool recheck;
};

} // namespace

class TestInspectionPool : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void jobsRunSideBySide();
    void inlineWithOneWorkerOrStopped();
    void sameDetectsWithOneAndFourWorkers();
    void engineFailureIsTheCamerasNg();

private:
    // failing: a camera whose engine throws at every detect (-1: none).
    void play(int workers, Trace& trace, int failing = -1);
};

void TestInspectionPool::jobsRunSideBySide()
{
    // Four jobs that each wait for all four to have started: they can only
    // end when they run at the same time. A failing job keeps its error and
    // stops nobody else.
    InspectionPool pool(4);
    QCOMPARE(pool.workers(), 4);
    std::atomic<int> started{0};
    std::atomic<int> ended{0};
    std::vector<std::function<void()>> jobs;
    for (int i = 0; i < 4; ++i) {
        jobs.push_back([&, i] {
            ++started;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (started < 4 && std::chrono::steady_clock::now() < until) {
                std::this_thread::yield();
            }
            ++ended;
            if (i == 2) {
                throw std::runtime_error("job 2");
            }
        });
    }
    std::vector<std::exception_ptr> errors;
    for (int batch = 0; batch < 3; ++batch) {
        started = 0;
        ended = 0;
        pool.run(jobs, errors);
        QCOMPARE(ended.load(), 4);
        QCOMPARE(started.load(), 4);
        QCOMPARE(int(errors.size()), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(bool(errors[size_t(i)]), i == 2);
        }
    }
    QVERIFY_EXCEPTION_THROWN(std::rethrow_exception(errors[2]), std::runtime_error);

    // More jobs than workers: each runs exactly once.
    std::vector<std::atomic<int>> runs(37);
    std::vector<std::function<void()>> many;
    for (size_t i = 0; i < runs.size(); ++i) {
        many.push_back([&runs, i] { ++runs[i]; });
    }
    pool.run(many, errors);
    for (auto& r : runs) {
        QCOMPARE(r.load(), 1);
    }
    pool.run({}, errors);
    QVERIFY(errors.empty());
}

void TestInspectionPool::inlineWithOneWorkerOrStopped()
{
    const auto caller = std::this_thread::get_id();
    QVERIFY(InspectionPool::defaultWorkers(0) == 1);
    QVERIFY(InspectionPool::defaultWorkers(3) <= 3);
    QVERIFY(InspectionPool::defaultWorkers(64) >= 1);
    for (int workers : {1, 4}) {
        InspectionPool pool(workers);
        if (workers > 1) {
            pool.stop();
            pool.stop(); // twice is harmless
        }
        std::vector<int> order;
        std::vector<std::function<void()>> jobs;
        bool onCaller = true;
        for (int i = 0; i < 5; ++i) {
            jobs.push_back([&, i] {
                onCaller = onCaller && std::this_thread::get_id() == caller;
                order.push_back(i);
            });
        }
        std::vector<std::exception_ptr> errors;
        pool.run(jobs, errors);
        QVERIFY(onCaller);
        QCOMPARE(order, (std::vector<int>{0, 1, 2, 3, 4}));
    }
}

void TestInspectionPool::play(int workers, Trace& trace, int failing)
{
    ProcessState state;
    TestWorkDir dir;
    TestClock clock;
    TemperatureChartData records;
    gpTemperatureChartData = &records;
    QVERIFY(openStationParamDatabase(dir.filePath("PARAM.db"), 8));
    SystemParam params;
    std::memset(&params, 0, sizeof params);
    params[119] = 1; // product detect
    params[120] = 1; // cavity detect
    gpSystemParam = &params;
    gpSystemParamEdit = &params;
    gDetectCount = 2;
    gTemplateCount = 1;
    gColorMode = 0;
    gCameraCount = Cameras;
    gMaxNgImages = 5;
    gMaxOkImages = 5;
    gStatisticsEnabled = 0;
    clearCounters();

    Host host;
    host.events = &trace.events;
    setStationHost(&host);
    {
        auto port = std::make_unique<ControlPort>(0);
        connect(port.get(), &ControlPort::sigIOChange, [&] {
            std::lock_guard<std::mutex> lock(*gMutexTable[8]);
            trace.events << QStringLiteral("out %1").arg(gOutputWord, 0, 2);
        });
        std::vector<std::unique_ptr<FakeCamera>> cameras;
        std::vector<std::unique_ptr<CameraStation>> stations;
        FailImageSlots::allocate(std::vector<QSize>(Cameras, QSize(Width, Height)), gDetectCount);
        CycleController ctl(port.get(), &host);
        host.ctl = &ctl;
        ctl.setWorkers(workers);
        QCOMPARE(ctl.workers(), workers);

        const cv::Mat empty = scene();
        for (int c = 0; c < Cameras; ++c) {
            cameras.push_back(std::make_unique<FakeCamera>(Width, Height));
            cameras.back()->open();
            stations.push_back(std::make_unique<CameraStation>(c, cameras.back().get()));
            CameraStation& st = *stations.back();
            st.repaintHandler = [&trace, c] { trace.events << QStringLiteral("repaint %1").arg(c); };
            for (int d = 0; d < 2; ++d) {
                QVERIFY(st.StoreTemplate(d, 0, empty.data));
                // Every camera inspects the mould's middle; camera 1 also by
                // similarity, camera 2 also reads a temperature (judged on the
                // GUI thread), camera 4 has an area without mask in the product
                // detect (an error row).
                addRect(st, d, cv::Rect(20 + 2 * c, 14, 40, 30), FuncDefect, 3, 0, 20);
                if (c == 1) {
                    addRect(st, d, cv::Rect(8, 8, 24, 20), FuncSimilarity, 0, 80, 100);
                }
                if (c == 2) {
                    addRect(st, d, cv::Rect(60, 4, 20, 12), FuncTempAlarm, 0, 20, 60);
                }
                if (c == 4 && d == 0) {
                    addRect(st, d, cv::Rect(4, 40, 10, 10), FuncDefect, 3, 0, 20);
                    st.data.roiMasks[d * AreasPerDetect + 1] = cv::Mat();
                }
                ctl.retrain(st, d);
            }
            ctl.stations.push_back(&st);
        }
        std::set<int> lost;
        ctl.stationOnline = [&lost](CameraStation& st) { return lost.count(st.data.cameraIndex) == 0; };
        ctl.saveOriginalImages = true;
        if (failing >= 0) {
            auto engine = ctl.inspect;
            ctl.inspect = [engine, failing](CameraStation& st, int d) {
                if (st.data.cameraIndex == failing) {
                    throw std::runtime_error("out of memory");
                }
                engine(st, d);
            };
        }
        ctl.StartDetect();

        const std::vector<Round> rounds = {
            {1, {}, {}, {}, 30, false},
            {1, {1, 3}, {}, {1}, 90, false},
            {1, {}, {}, {1}, 30, true},
            {1, {}, {3}, {1, 2}, 30, false},
            {1, {}, {}, {}, 30, true},
            {0, {0}, {}, {}, 45, false},
            {0, {}, {}, {}, 30, true},
        };
        for (size_t r = 0; r < rounds.size(); ++r) {
            const Round& round = rounds[r];
            lost = round.lost;
            host.rawFailing = round.rawFailing;
            for (int c = 0; c < Cameras; ++c) {
                cv::Mat frame = empty.clone();
                if (round.ng.count(c)) {
                    cv::circle(frame, cv::Point(40 + 2 * c, 26), 5, cv::Scalar(255), cv::FILLED);
                }
                std::memcpy(stations[size_t(c)]->data.grabBuffer.data(), frame.data, size_t(Width * Height));
                cameras[size_t(c)]->temperature = round.temperature;
                ctl.resultState[c][round.detect] = 1;
            }
            trace.events << QStringLiteral("round %1").arg(r);
            if (round.recheck) {
                ctl.ReCheck();
            } else {
                ctl.TimerUp(round.detect);
            }
            for (int c = 0; c < Cameras; ++c) {
                const StationData& data = stations[size_t(c)]->data;
                QString line = QStringLiteral("%1/%2: %3%4%5").arg(r).arg(c).arg(data.resultOk).arg(data.areaOk).arg(data.tempOk);
                for (int j = 0; j < stations[size_t(c)]->pLiveSingleton->roiCount[round.detect]; ++j) {
                    const int s = round.detect * AreasPerDetect + j;
                    line += QStringLiteral(" %1:%2").arg(data.roiOk[s]).arg(data.roiValue[s]);
                }
                trace.results << line;
            }
        }
        for (const TemperatureChartData::PendingInsert& row : records.pendingInserts) {
            trace.rows << QStringLiteral("camera %1 detect %2 | %3 | %4 | %5 %6 %7 | %8")
                              .arg(row.idx_camera)
                              .arg(row.idx_detect)
                              .arg(row.roundstart, row.detectstart, row.roi_detail, row.roi_result)
                              .arg(row.result)
                              .arg(row.description);
        }
        trace.rows << QStringLiteral("current camera %1 detect %2")
                          .arg(records.detectResult.idx_camera)
                          .arg(records.detectResult.idx_detect);
        if (workers > 1) {
            // The program's quit joins the workers; a detect after it is
            // judged on the GUI thread.
            runQuitHooks();
            QCOMPARE(ctl.workers(), 1);
        }
        stations.clear();
        FailImageSlots::release();
    }
    clearStationHost(&host);
    {
        QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    }
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
}

void TestInspectionPool::sameDetectsWithOneAndFourWorkers()
{
    Trace one;
    play(1, one);
    if (QTest::currentTestFailed()) {
        return;
    }
    Trace four;
    play(4, four);
    if (QTest::currentTestFailed()) {
        return;
    }

    // The play is worth comparing: passes and NGs, a lost camera, an area
    // that could not be judged, a raw frame skipped, alarms and re-checks.
    const QString all = one.events.join('\n');
    QVERIFY(one.results.filter(QRegularExpression(": 1")).size() > 0);
    QVERIFY(one.results.filter(QRegularExpression(": 0")).size() > 0);
    QVERIFY2(all.contains(textOf(CycleText::StationOffline).arg(4)), qPrintable(all));
    QVERIFY2(all.contains(QLatin1String("REG RUN ERROR")), qPrintable(all));
    QVERIFY2(all.contains(textOf(CycleText::RawFramesSkipped)), qPrintable(all));
    QVERIFY(all.contains(QLatin1String("value 90")));
    QVERIFY(all.contains(QLatin1String("alarm screen left")));
    // One row per camera judged (seven detects of five cameras, one of them
    // lost once), each its own camera's: taking the camera's index into the
    // current record writes no row of its own.
    QCOMPARE(one.rows.size(), 7 * 5 - 1 + 1);
    QCOMPARE(one.rows.filter(QRegularExpression(QStringLiteral("^camera 3 "))).size(), 6);

    auto compareLists = [](const QStringList& a, const QStringList& b, const char* what) {
        for (int i = 0; i < std::min(a.size(), b.size()); ++i) {
            if (a[i] != b[i]) {
                QTest::qFail(qPrintable(QStringLiteral("%1 differ at %2: \"%3\" / \"%4\"")
                                            .arg(QLatin1String(what)).arg(i).arg(a[i], b[i])),
                             __FILE__, __LINE__);
                return false;
            }
        }
        if (a.size() != b.size()) {
            QTest::qFail(qPrintable(QStringLiteral("%1: %2 / %3 entries").arg(QLatin1String(what)).arg(a.size()).arg(b.size())),
                         __FILE__, __LINE__);
            return false;
        }
        return true;
    };
    QVERIFY(compareLists(one.results, four.results, "results"));
    QVERIFY(compareLists(one.events, four.events, "events"));
    QVERIFY(compareLists(one.rows, four.rows, "records rows"));
}

void TestInspectionPool::engineFailureIsTheCamerasNg()
{
    // Camera 1's engine throws, on a worker and inline alike: the camera is
    // NG at every detect with a row saying why, and the program goes on.
    Trace one;
    play(1, one, 0);
    if (QTest::currentTestFailed()) {
        return;
    }
    Trace four;
    play(4, four, 0);
    if (QTest::currentTestFailed()) {
        return;
    }
    QCOMPARE(one.results, four.results);
    QCOMPARE(one.events, four.events);
    const QString row = QStringLiteral("log ") + textOf(CycleText::InspectionFailed).arg(1).arg(QStringLiteral("out of memory"));
    QCOMPARE(four.events.count(row), 7);
    for (const QString& line : four.results.filter(QRegularExpression(QStringLiteral("^\\d+/0: ")))) {
        QVERIFY2(line.section(' ', 1, 1).startsWith(QLatin1String("00")), qPrintable(line));
    }
}

QTEST_MAIN(TestInspectionPool)
#include "tst_inspectionpool.moc"
