// One pass of the main screen against the 100 ms period of the repaint task
// and against a full repaint of the main window, in the same run:
// - the real main window at 1920 x 1080 with eight stations on 1920 x 1080
//   grey frames with 50 areas each; every pass takes a new frame into each
//   station (as the main loop does), changes the counters and refreshes the
//   titles (as the repaint task does), then lets Qt paint what that caused;
//   printed: median and p99 of the pass, the widgets painted and the style
//   sheets set per pass;
// - the baseline: the same pass (new frames, counters, titles) with the whole
//   main window repainted at once instead of what the pass changed;
// - choosing the NG records of a 5,000-JPEG folder in the image browser until
//   the list has painted, against listing that folder with QDir alone
//   (filter, time order).
// Run it under Xvfb at the panel's size:
//   xvfb-run -a -s "-screen 0 1920x1080x24" ./bench_mainscreen
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "camerawgtbox.h"
#include "clustomrect.h"
#include "cyclecontroller.h"
#include "fakecamera.h"
#include "globals.h"
#include "imagepickform.h"
#include "modbusserver.h"
#include "paramstorage.h"
#include "productioncounters.h"
#include "promptanswerer.h"
#include "resultstatistics.h"
#include "systemparam.h"
#include "texttable.h"
#include "vezirevoru.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QScreen>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QThread>

#include <sys/time.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kCameras = 8;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

class BenchCamera : public FakeCamera {
public:
    BenchCamera() : FakeCamera(kWidth, kHeight) {}
    QString typeId() override { return QString::fromLatin1(kHikCameraIid); }
    QList<CameraInfo> enumerate() override
    {
        return listedDevices(kCameras, QString::fromLatin1(kHikCameraIid), "BENCH");
    }
    int deviceCount() override { return kCameras; }
    CameraInterface* create(CameraInfo) override { return new BenchCamera; }
};

// Counts what the pass costs Qt: paint events and style sheets set.
class EventCounter : public QObject {
public:
    int paints = 0;
    int sheets = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        } else if (event->type() == QEvent::StyleChange) {
            ++sheets;
        }
        return false;
    }
};

void addAreas(CameraStation& st, int detect)
{
    StationData& d = st.data;
    CammerSingleton& set = *st.pLiveSingleton;
    const int fw = d.imageWidth;
    const int fh = d.imageHeight;
    for (int i = 0; i < 50; ++i) {
        const int cw = fw / 12;
        const int ch = fh / 7;
        const int x = 10 + (i % 10) * (fw - 20) / 10;
        const int y = 10 + (i / 10) * (fh - 20) / 5;
        auto* r = new ClustomRect(x, y, x + cw, y + ch);
        r->updateBounds();
        set.roiLists[detect].append(r);
        const int slot = detect * 50 + i;
        set.roiShapeType[slot] = r->type();
        set.roiFunction[slot] = FuncDefect;
        set.roiUpper[slot] = 100;
        d.roiValue[slot] = i * 13;
        d.roiOk[slot] = 1;
    }
    set.roiCount[detect] = 50;
}

struct Stats {
    double median;
    double p99;
};

Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

void makeRecords(const QString& folder, int count)
{
    QDir().mkpath(folder);
    QImage picture(192, 108, QImage::Format_Grayscale8);
    picture.fill(90);
    const QString first = folder + QStringLiteral("/ng_00000.jpg");
    picture.save(first, "JPG");
    const time_t base = 1700000000;
    for (int i = 0; i < count; ++i) {
        const QString name = folder + QStringLiteral("/ng_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
        if (i > 0) {
            QFile::copy(first, name);
        }
        // Shuffled times, so time order is not name order.
        const time_t t = base + time_t((i * 7919) % count);
        struct utimbuf times {
            t, t
        };
        utime(QFile::encodeName(name).constData(), &times);
    }
}

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
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    initTextTable();
    writeFactoryParamGroup(QStringLiteral("paraGroup/default"));
    QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
    setCameraDriverFactory(QString::fromLatin1(kHikCameraIid), [] { return new BenchCamera; });
    PromptAnswerer answers({1});

    auto window = std::make_unique<VeZiRevoru>(nullptr, 0, QHostAddress::LocalHost);
    VeZiRevoru& w = *window;
    // The passes are driven here, not by the cycle's loop.
    w.pCycle->runTimer->stop();
    w.show();
    app.processEvents();
    const int detect = w.pCycle->curDetect;
    std::vector<CameraStation*> stations;
    for (int c = 0; c < gCameraCount; ++c) {
        CameraStation& st = w.pCammer[c]->station();
        addAreas(st, detect);
        stations.push_back(&st);
    }
    std::printf("main window %dx%d, %d stations of %dx%d, 50 areas each\n", w.width(), w.height(), gCameraCount,
                kWidth, kHeight);

    EventCounter counter;
    app.installEventFilter(&counter);

    constexpr int kWarmUp = 10;
    constexpr int kPasses = 200;
    std::vector<double> pass;
    std::vector<double> full;
    long paints = 0;
    long sheets = 0;
    for (int i = 0; i < kWarmUp + kPasses; ++i) {
        // Each camera has delivered a new frame since the last pass.
        for (CameraStation* st : stations) {
            st->pDriver->softTrigger();
        }
        QThread::msleep(2);
        counter.paints = 0;
        counter.sheets = 0;
        QElapsedTimer t;
        t.start();
        for (CameraStation* st : stations) {
            st->GrabFrame();
        }
        gTotalCount[0] += 1;
        w.repaintStatus();
        app.processEvents();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (i >= kWarmUp) {
            pass.push_back(ms);
            paints += counter.paints;
            sheets += counter.sheets;
        }
        // The baseline pass: the same new frames and counters, then the
        // whole window painted instead of what changed.
        for (CameraStation* st : stations) {
            st->pDriver->softTrigger();
        }
        QThread::msleep(2);
        t.restart();
        for (CameraStation* st : stations) {
            st->GrabFrame();
        }
        gTotalCount[0] += 1;
        w.repaintStatus();
        w.repaint();
        app.processEvents();
        const double fullMs = double(t.nsecsElapsed()) / 1e6;
        if (i >= kWarmUp) {
            full.push_back(fullMs);
        }
    }
    app.removeEventFilter(&counter);
    const Stats p = stats(pass);
    const Stats f = stats(full);
    std::printf("pass with its painting: median %.2f ms, p99 %.2f ms (%.1f%% of the 100 ms period)\n", p.median,
                p.p99, p.median);
    std::printf("pass with a full repaint of the main window: median %.2f ms, p99 %.2f ms\n", f.median, f.p99);
    std::printf("ratio pass / full repaint: median %.2f, p99 %.2f\n", p.median / f.median, p.p99 / f.p99);
    std::printf("per pass: %.1f widgets painted, %.2f style sheets set (verdicts held)\n", double(paints) / kPasses,
                double(sheets) / kPasses);

    // The NG records of camera 1, detect 1 of the current view.
    const QString folder = QStringLiteral("alarmimage/camera1/detect%1/NG").arg(detect + 1);
    QDir(folder).removeRecursively();
    makeRecords(folder, 5000);
    std::vector<double> listing;
    std::vector<double> dirOnly;
    ImagePickForm* picker = w.pImgForm;
    picker->show();
    for (int i = 0; i < 12; ++i) {
        QElapsedTimer t;
        t.start();
        const QFileInfoList entries = QDir(folder).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Time);
        const double dirMs = double(t.nsecsElapsed()) / 1e6;
        picker->selectSource(0);
        app.processEvents();
        t.restart();
        picker->selectCamera(0);
        picker->selectDetect(detect);
        picker->selectSource(4);
        picker->list()->view()->repaint();
        app.processEvents();
        const double listMs = double(t.nsecsElapsed()) / 1e6;
        if (i >= 2) {
            listing.push_back(listMs);
            dirOnly.push_back(dirMs);
        }
        if (i == 0) {
            std::printf("listed %d records (QDir found %d)\n", picker->list()->model()->rowCount(),
                        int(entries.size()));
        }
    }
    const Stats l = stats(listing);
    const Stats d = stats(dirOnly);
    std::printf("NG records chosen until painted: median %.2f ms, p99 %.2f ms\n", l.median, l.p99);
    std::printf("QDir listing alone: median %.2f ms, p99 %.2f ms\n", d.median, d.p99);
    std::printf("ratio: median %.2f (under 2 wanted)\n", l.median / d.median);

    ModbusServer* server = w.pModbusServer;
    const QList<CameraInterface*> cameras = w.openedCameras;
    window.reset();
    qDeleteAll(cameras);
    delete server;
    return 0;
}
