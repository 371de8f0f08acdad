// The area panel's two slow commands in the real main window, release build:
// - saving edited areas the way the operator does it ("完成设定", the
//   question answered yes) in the worst case: eight 1920 x 1080 cameras on a
//   rotary machine (four detects, all active), 20 template samples per
//   detect, 49 defect areas and one positioning area per detect, every area
//   changed. Printed: the time of the whole command against the I/O link's
//   10 s heartbeat (the GUI thread cannot feed it meanwhile), and the longest
//   gap between two polls the simulated board (pseudo-terminal, "COM1")
//   received while the save ran. Every model is trained once first, as the
//   program has them after its start. Aim: under 3 s.
// - stepping next / previous through 5,000 NG record pictures of 1920 x 1080,
//   named and timed as the picture writer leaves them: median and p99 of one
//   step (the panel's button until the camera tile has painted the picture)
//   against decoding that picture alone with QImage, as the panel loads it,
//   in the same run; the step is also split into the command and the
//   painting. Aim: under 1.5 x.
//
// Usage: bench_areapanel [save rounds, default 3; 0 measures the stepping only]
//   KORVANE_BENCH_RECORDS: record pictures (5000); KORVANE_BENCH_STEPS: steps
//   each way (100).
// Run it under Xvfb at the panel's size, or offscreen:
//   xvfb-run -a -s "-screen 0 1920x1080x24" ./bench_areapanel

#include "boardframing.h"
#include "boardsimulator.h"
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clustomrect.h"
#include "controlport.h"
#include "detectalgorithm.h"
#include "drawroiwidget.h"
#include "fakecamera.h"
#include "globals.h"
#include "iothread.h"
#include "modbusserver.h"
#include "mouldpicture.h"
#include "paramstorage.h"
#include "promptanswerer.h"
#include "savefialimagethread.h"
#include "systemparam.h"
#include "texttable.h"
#include "vezirevoru.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <opencv2/core.hpp>

#include <utime.h>

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
constexpr int kDefectAreas = 49;
constexpr qint64 kHeartbeatMs = 10000;

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
            qsnprintf(record.id, sizeof record.id, "AREA%d", i);
            devices.append(record);
        }
        return devices;
    }
    int deviceCount() override { return kCameras; }
    CameraInterface* create(CameraInfo) override { return new BenchCamera; }
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

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
            // Positioning searches: the save retrains the locators too.
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

// One camera's live areas: a 7 x 7 grid of defect areas over the mould and a
// positioning area, every sample slot holding a picture of the empty mould.
void fillStation(CameraStation& st, const cv::Mat& mould)
{
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
        };
        live.roiCount[d] = 0;
        add(FuncPosition, cv::Rect(760, 400, 400, 280), 60, 2, 2);
        const int cw = (kWidth - 40) / 7;
        const int ch = (kHeight - 40) / 7;
        for (int k = 0; k < kDefectAreas; ++k) {
            add(FuncDefect, cv::Rect(20 + (k % 7) * cw, 20 + (k / 7) * ch, cw - 4, ch - 4), 3, 25, 200);
        }
        for (int k = 0; k < kSamples; ++k) {
            uchar* slot = data.occupyTemplate(d, k);
            if (slot && std::size_t(data.bufferSize) == mould.total()) {
                std::memcpy(slot, mould.data, mould.total());
            }
        }
    }
}

// Every area of every camera changed in the edited set: a new sensitivity
// (search speed for the positioning areas).
void changeEveryArea(VeZiRevoru& w)
{
    for (int c = 0; c < gCameraCount; ++c) {
        CammerSingleton& edit = *w.pCammer[c]->station().pEditSingleton;
        for (int d = 0; d < kDetects; ++d) {
            for (int k = 0; k < edit.roiCount[d]; ++k) {
                const int slot = d * CammerSingleton::AreasPerDetect + k;
                edit.roiLower[slot] = edit.roiLower[slot] % 50 + 1;
            }
        }
    }
}

int operationLogRows()
{
    QSqlQuery query(QSqlDatabase::database(QStringLiteral("dbRecord"), false));
    return query.exec(QStringLiteral("select count(*) from RECORD")) && query.next() ? query.value(0).toInt() : -1;
}

// Record pictures as the picture writer leaves them: "yyyy-MM-dd_hh.mm.ss.jpg"
// with the file time of the name, a few seconds apart, of eight different
// mould pictures in turn (the same JPEG over and over would stay in caches a
// real folder does not).
bool makeRecords(const QString& folder, int count)
{
    QDir().mkpath(folder);
    std::vector<QString> variants;
    for (int v = 0; v < 8; ++v) {
        MouldLayout layout = mouldLayout(v % 2);
        layout.seed = unsigned(100 + v);
        layout.partCavity = v % int(layout.cavities.size());
        cv::Mat part;
        renderMouldPictures(layout, nullptr, &part);
        QImage picture(part.data, part.cols, part.rows, int(part.step), QImage::Format_Grayscale8);
        variants.push_back(folder + QStringLiteral("/variant%1.part").arg(v));
        if (!picture.save(variants.back(), "JPG")) {
            return false;
        }
    }
    const QDateTime base(QDate(2026, 11, 2), QTime(6, 0, 0));
    for (int i = 0; i < count; ++i) {
        const QDateTime at = base.addSecs(qint64(i) * 37);
        const QString name = folder + at.toString(QStringLiteral("/yyyy-MM-dd_hh.mm.ss")) + QStringLiteral(".jpg");
        if (!QFile::copy(variants[std::size_t(i) % variants.size()], name)) {
            return false;
        }
        const time_t t = time_t(at.toSecsSinceEpoch());
        struct utimbuf times {
            t, t
        };
        utime(QFile::encodeName(name).constData(), &times);
    }
    for (const QString& v : variants) {
        QFile::remove(v);
    }
    // The folder changed last when its newest picture came in.
    const time_t last = time_t(base.addSecs(qint64(count - 1) * 37).toSecsSinceEpoch());
    struct utimbuf times {
        last, last
    };
    utime(QFile::encodeName(folder).constData(), &times);
    return true;
}

// Counts the paint events of one widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        if (screen->geometry().width() != 1920) {
            std::printf("note: the screen is %dx%d, not the panel's 1920x1080\n", screen->geometry().width(),
                        screen->geometry().height());
        }
    }
    // 0 rounds leaves the save out (to look at the stepping alone).
    const int rounds = argc > 1 ? std::max(0, atoi(argv[1])) : 3;
    const int recordCount = qEnvironmentVariableIsSet("KORVANE_BENCH_RECORDS")
                                ? std::max(1, qEnvironmentVariableIntValue("KORVANE_BENCH_RECORDS"))
                                : 5000;
    const int steps = qEnvironmentVariableIsSet("KORVANE_BENCH_STEPS")
                          ? std::max(1, qEnvironmentVariableIntValue("KORVANE_BENCH_STEPS"))
                          : 100;

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
    // The link as the program starts it: the I/O thread polls the board and
    // the main loop feeds its heartbeat on every pass.
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
    for (int c = 0; c < gCameraCount; ++c) {
        fillStation(w.pCammer[c]->station(), mould);
    }
    // The models as the program has them after its start, before anyone
    // edits an area.
    QElapsedTimer training;
    training.start();
    for (int c = 0; c < gCameraCount; ++c) {
        CameraStation& st = w.pCammer[c]->station();
        for (int d = 0; d < gDetectCount; ++d) {
            st.pDetector->TrainAlign(d);
            st.pDetector->TrainLocate(d);
            st.pDetector->TrainModels(d);
        }
    }
    const double trainingMs = double(training.elapsed());

    std::mutex pollMutex;
    std::vector<qint64> polls;
    polls.reserve(1 << 20);
    board.setFrameObserver([&](const BoardSimulator::HostFrame& f) {
        if (f.command() != CmdSetOutputs) {
            std::lock_guard<std::mutex> lock(pollMutex);
            if (polls.size() < polls.capacity()) {
                polls.push_back(f.atNs);
            }
        }
    });

    // ------------------------------------------------------------ saving
    std::printf("save: %d cameras %dx%d, %d detects, %d samples each, %d defect areas + 1 positioning area per "
                "detect, all changed\n",
                gCameraCount, kWidth, kHeight, gDetectCount, kSamples, kDefectAreas);
    std::printf("  (training every model once, as after the start, took %.0f ms)\n", trainingMs);
    std::vector<double> saves;
    double worstGap = 0;
    bool consistent = true;
    for (int r = 0; r < rounds; ++r) {
        w.SlotAdjustArea();
        wait(100);
        if (!w.pDrawROIWidget->isVisible()) {
            std::fprintf(stderr, "area setting did not open\n");
            return 1;
        }
        changeEveryArea(w);
        const int rowsBefore = operationLogRows();
        const int questionsBefore = answers.questions.size();
        {
            std::lock_guard<std::mutex> lock(pollMutex);
            polls.clear();
        }
        const qint64 t0 = BoardSimulator::nowNs();
        w.pDrawROIWidget->pCButtonReturn->click();
        const qint64 t1 = BoardSimulator::nowNs();
        // The poll after the save ends the gap that spans it.
        wait(50);
        double gap = 0;
        {
            std::lock_guard<std::mutex> lock(pollMutex);
            qint64 last = t0;
            for (qint64 at : polls) {
                if (at > t1) {
                    gap = std::max(gap, double(at - last) / 1e6);
                    break;
                }
                gap = std::max(gap, double(at - last) / 1e6);
                last = at;
            }
        }
        const double ms = double(t1 - t0) / 1e6;
        const int rows = operationLogRows() - rowsBefore;
        bool same = true;
        for (int c = 0; c < gCameraCount; ++c) {
            const CameraStation& st = w.pCammer[c]->station();
            same = same && st.pLiveSingleton->IsSame(*st.pEditSingleton);
        }
        const int asked = answers.questions.size() - questionsBefore;
        std::printf("  round %d: %.0f ms (%.0f%% of the %lld s heartbeat), longest gap between board polls %.1f ms, "
                    "%d log rows, %d question, sets %s\n",
                    r + 1, ms, 100.0 * ms / double(kHeartbeatMs), kHeartbeatMs / 1000, gap, rows, asked,
                    same ? "saved" : "NOT SAVED");
        consistent = consistent && same && asked == 1 && rows == gCameraCount * kDetects * (kDefectAreas + 1);
        saves.push_back(ms);
        worstGap = std::max(worstGap, gap);
        wait(200);
    }
    const double saveMedian = percentile(saves, 0.5);
    if (rounds > 0) {
        std::printf("save: median %.0f ms, worst %.0f ms (aim under 3000 ms: %s); heartbeat %lld s; longest poll "
                    "gap %.1f ms\n\n",
                    saveMedian, *std::max_element(saves.begin(), saves.end()),
                    saveMedian < 3000 ? "met" : "MISSED", kHeartbeatMs / 1000, worstGap);
    }

    // ---------------------------------------------------------- records
    const int camera = 0;
    w.SlotAdjustArea();
    wait(100);
    const int detect = w.state().editedDetect();
    const QString folder =
        QDir::cleanPath(SaveFialImageThread::folderOf(camera, detect, 0, QStringLiteral("./alarmimage")));
    QElapsedTimer making;
    making.start();
    if (!makeRecords(folder, recordCount)) {
        std::fprintf(stderr, "record pictures cannot be written in %s\n", qPrintable(folder));
        return 1;
    }
    std::printf("records: %d NG pictures %dx%d in %s (%.1f s to make)\n", recordCount, kWidth, kHeight,
                qPrintable(folder), double(making.elapsed()) / 1000);
    DrawROIWidget& panel = *w.pDrawROIWidget;
    panel.SlotChangeCamera(camera);
    panel.SetSourceIndex(4);
    wait(200);
    CammerWidget* tile = w.pCammer[camera];
    if (panel.recordCount != recordCount || !tile->isVisible()) {
        std::fprintf(stderr, "NG records: %d listed of %d, tile %s\n", panel.recordCount, recordCount,
                     tile->isVisible() ? "shown" : "hidden");
        return 1;
    }
    PaintCounter painted;
    tile->installEventFilter(&painted);
    std::vector<double> stepMs;
    std::vector<double> decodeMs;
    std::vector<double> commandOnly;
    std::vector<double> paintOnly;
    int unpainted = 0;
    int wrong = 0;
    const int warmUp = 5;
    for (int i = 0; i < warmUp + 2 * steps; ++i) {
        QPushButton* button = i < warmUp + steps ? panel.pCButtonTempNext : panel.pCButtonTempLast;
        const QString before = panel.recordName;
        painted.paints = 0;
        QElapsedTimer t;
        t.start();
        button->click();
        const double commandMs = double(t.nsecsElapsed()) / 1e6;
        // The tile asked for its repaint; painting it now is what the screen
        // shows next.
        tile->repaint();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        const QString path = folder + QLatin1Char('/') + panel.recordName + QStringLiteral(".jpg");
        t.restart();
        const QImage alone(path);
        const double decode = double(t.nsecsElapsed()) / 1e6;
        if (painted.paints == 0) {
            ++unpainted;
        }
        if (panel.recordName == before || alone.isNull() || panel.recordImage.size() != alone.size()) {
            ++wrong;
        }
        if (i >= warmUp) {
            stepMs.push_back(ms);
            commandOnly.push_back(commandMs);
            paintOnly.push_back(ms - commandMs);
            decodeMs.push_back(decode);
        }
        app.processEvents();
    }
    tile->removeEventFilter(&painted);
    const double s50 = percentile(stepMs, 0.5), s99 = percentile(stepMs, 0.99);
    const double d50 = percentile(decodeMs, 0.5), d99 = percentile(decodeMs, 0.99);
    std::printf("step (button until painted), %d next and %d previous: median %.2f ms, p99 %.2f ms\n", steps, steps,
                s50, s99);
    std::printf("  of which the command %.2f ms, the painting %.2f ms (medians)\n", percentile(commandOnly, 0.5),
                percentile(paintOnly, 0.5));
    std::printf("QImage decode of the same picture alone: median %.2f ms, p99 %.2f ms\n", d50, d99);
    std::printf("ratio: median %.2f, p99 %.2f (aim under 1.5: %s)%s%s\n", s50 / d50, s99 / d99,
                s50 / d50 < 1.5 ? "met" : "MISSED", unpainted ? " — some steps did not paint" : "",
                wrong ? " — some steps showed the wrong picture" : "");

    board.setFrameObserver({});
    gpControlPort->shutdown();
    ModbusServer* server = w.pModbusServer;
    const QList<CameraInterface*> cameras = w.openedCameras;
    window.reset();
    qDeleteAll(cameras);
    delete server;
    return consistent && unpainted == 0 && wrong == 0 ? 0 : 1;
}
