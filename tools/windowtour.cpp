// Screenshot tour of the real main window: built as the program builds it, in
// a working folder of its own on the factory parameters, with the two
// simulated cameras replaying the demo's mould pictures. Each camera has its
// cavities as defect areas over the empty mould's template, so the first
// manual trigger (the empty mould) passes and the second (a part left in one
// cavity) is a real NG that brings up the alarm. Shots: all cameras, one
// camera, area setting with the area panel, and the alarm.
// Usage: windowtour <output folder> <width> <height>
// The window takes the screen's size, so it runs on a display of that size
// (scripts/screen-tour.sh starts a virtual one); pictures go to
// <output folder>/<width>x<height>/<language>/.
#include "camerawgtbox.h"
#include "cameraregistry.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clustomrect.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "imagepickform.h"
#include "modbusserver.h"
#include "mouldpicture.h"
#include "paramstorage.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "resultstatistics.h"
#include "systemparam.h"
#include "taskmanager.h"
#include "testworkdir.h"
#include "texttable.h"
#include "toursupport.h"
#include "vezirevoru.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QScreen>
#include <QSqlDatabase>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

int gFailures = 0;

void fail(const QString& text)
{
    std::fprintf(stderr, "windowtour: %s\n", qPrintable(text));
    ++gFailures;
}

// Runs the event loop until done() holds or ms pass; false on the timeout.
bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

// The window and, over it, every other visible top-level window (the image
// browser, boxes), as the operator sees the screen.
void shoot(VeZiRevoru& w, const QString& name)
{
    QTest::qWait(150);  // one pass of the repaint task at least
    QImage canvas(w.size(), QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    painter.drawPixmap(0, 0, w.grab());
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top != &w && top->isVisible()) {
            painter.drawPixmap(top->pos(), top->grab());
        }
    }
    painter.end();
    if (!saveShot(canvas, name, "windowtour")) {
        ++gFailures;
    }
}

// What the operator would have set up before: the empty mould sampled as the
// cavity detect's template of each camera, and a defect area over each of its
// cavities.
bool prepareCavityAreas(const QString& folder)
{
    QString error;
    if (!writeMouldPictures(folder, &error)) {
        fail(error);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(QStringLiteral("PARAM.db"));
    bool ok = db.open();
    constexpr int cavityDetect = 1;
    for (int camera = 0; ok && camera < 2; ++camera) {
        const QString templates = QStringLiteral("cammer%1%2").arg(camera + 1).arg(cavityDetect + 1);
        QDir().mkpath(templates);
        ok = QFile::copy(QStringLiteral("cammer%1/template0.bmp").arg(10 * camera + 15), templates + QStringLiteral("/template0.bmp"));
        CammerSingleton set(camera);
        const MouldLayout layout = mouldLayout(camera);
        for (const cv::Rect& c : layout.cavities) {
            auto* shape = new ClustomRect(c.x - 10, c.y - 10, c.x + c.width + 10, c.y + c.height + 10);
            shape->updateBounds();
            const int slot = cavityDetect * CammerSingleton::AreasPerDetect + set.roiCount[cavityDetect]++;
            set.roiLists[cavityDetect].append(shape);
            set.roiShapeType[slot] = shape->type();
            set.roiFunction[slot] = FuncDefect;
            set.roiParam[slot] = 3;
            set.roiLower[slot] = 25;
            set.roiUpper[slot] = 100;
        }
        ok = ok && set.SaveToDB();
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    if (!ok) {
        fail(QStringLiteral("could not prepare the cavity areas"));
    }
    return ok;
}

// Judged pictures, counted around the cycle's own inspection.
int gInspections = 0;

// The cavity's manual trigger, as the menu column's button gives it; returns
// when both cameras' pictures were judged.
bool manualCavityTrigger(VeZiRevoru& w)
{
    const int before = gInspections;
    w.SlotManualTrig(1);
    return waitFor([&w, before] { return gInspections >= before + gCameraCount && w.pendingCameras[1] == 0; }, 5000);
}

void tour(int language)
{
    TestWorkDir dir;
    ProcessState state;
    initTextTable();
    gLanguage = language;
    writeFactoryParamGroup(QStringLiteral("paraGroup/default"));
    // A fresh installation, as the demo's working folder starts.
    QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
    QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
    if (!prepareCavityAreas(dir.path())) {
        return;
    }
    // The start-up question about the simulated cameras is cancelled, as the demo does.
    PromptAnswerer answers({0});
    auto window = std::make_unique<VeZiRevoru>(nullptr, 0, QHostAddress::LocalHost);
    VeZiRevoru& w = *window;
    std::function<void(CameraStation&, int)> inspect = w.pCycle->inspect;
    w.pCycle->inspect = [inspect](CameraStation& st, int d) {
        inspect(st, d);
        ++gInspections;
    };
    w.show();
    // The program's repaint task: the title bars' status and the clock.
    TaskManager::instance()->startLoop();
    if (!QTest::qWaitForWindowExposed(&w)) {
        fail(QStringLiteral("the window was not shown"));
    }

    // 1. Both cameras' first pictures: the empty mould.
    if (!manualCavityTrigger(w)) {
        fail(QStringLiteral("the first trigger was not judged"));
    }
    shoot(w, QStringLiteral("all-cameras"));

    // 2. A tap on the second camera's picture shows it alone.
    QTest::mouseClick(w.pCameraWgtBox->cammerWidget(1), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    shoot(w, QStringLiteral("one-camera"));
    w.curCamera = gCameraCount;
    w.ChangeCammer();

    // 3. Area setting from the menu column.
    w.SlotAdjustArea();
    if (w.screenMode != AreaSetting) {
        fail(QStringLiteral("area setting did not open"));
    }
    shoot(w, QStringLiteral("area-setting"));
    w.pDrawROIWidget->SlotReturn();

    // 4. The second picture has a part left in a cavity: the alarm.
    w.screenMode = Live;
    if (!manualCavityTrigger(w) || !waitFor([&w] { return w.screenMode == Alarm; }, 2000)) {
        fail(QStringLiteral("the part left did not raise the alarm (screen mode %1)").arg(w.screenMode));
    }
    shoot(w, QStringLiteral("alarm"));

    // What the program keeps for its whole life, the tour gives back.
    ModbusServer* server = w.pModbusServer;
    const QList<CameraInterface*> cameras = w.openedCameras;
    window.reset();
    qDeleteAll(cameras);
    delete server;
    delete gpSystemParam;
    delete gpSystemParamEdit;
    delete gpControlPort;
    delete gpResultStatistics;
    resetCameraRegistry();
}

int shootAll(const TourArguments& arguments)
{
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    if (screen != QSize(arguments.width, arguments.height)) {
        std::fprintf(stderr, "windowtour: the screen is %dx%d, not %dx%d: run it on a display of that size\n",
                     screen.width(), screen.height(), arguments.width, arguments.height);
        return 1;
    }
    SliderPictures sliders;
    forEachLanguage(arguments, [] { tour(gLanguage); });
    return gFailures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
