#include "windowtourrig.h"

#include "cameraregistry.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "clustomrect.h"
#include "controlport.h"
#include "globals.h"
#include "modbusserver.h"
#include "mouldpicture.h"
#include "paramstorage.h"
#include "resultstatistics.h"
#include "systemparam.h"
#include "taskmanager.h"
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

namespace windowtour {

namespace {

const char* gProgram = "windowtour";
int gFailures = 0;
// Judged pictures, counted around the cycle's own inspection.
int gInspections = 0;

// The window reads its language from PARAM.db, as the program does: the
// tour's language is stored there before the window is made.
bool storeLanguage(int language)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tourlanguage"));
        db.setDatabaseName(QStringLiteral("PARAM.db"));
        if (db.open()) {
            SystemParam record{};
            loadSysParam(&record, db, QSqlDatabase(), nullptr);
            gLanguage = language;
            ok = saveSysParam(&record, db);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tourlanguage"));
    if (!ok) {
        fail(QStringLiteral("could not store the language %1").arg(language));
    }
    return ok;
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
    for (int camera = 0; ok && camera < 2; ++camera) {
        const QString templates = QStringLiteral("cammer%1%2").arg(camera + 1).arg(kCavityDetect + 1);
        QDir().mkpath(templates);
        ok = QFile::copy(QStringLiteral("cammer%1/template0.bmp").arg(10 * camera + 15),
                         templates + QStringLiteral("/template0.bmp"));
        CammerSingleton set(camera);
        const MouldLayout layout = mouldLayout(camera);
        for (const cv::Rect& c : layout.cavities) {
            auto* shape = new ClustomRect(c.x - 10, c.y - 10, c.x + c.width + 10, c.y + c.height + 10);
            shape->updateBounds();
            const int slot = kCavityDetect * CammerSingleton::AreasPerDetect + set.roiCount[kCavityDetect]++;
            set.roiLists[kCavityDetect].append(shape);
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

} // namespace

void setProgram(const char* program)
{
    gProgram = program;
}

void fail(const QString& text)
{
    std::fprintf(stderr, "%s: %s\n", gProgram, qPrintable(text));
    ++gFailures;
}

int failures()
{
    return gFailures;
}

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

namespace {

bool prepareWorkFolder(const QString& folder)
{
    const int language = gLanguage;
    writeFactoryParamGroup(QStringLiteral("paraGroup/default"));
    // A fresh installation, as the demo's working folder starts.
    QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
    QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
    return storeLanguage(language) && prepareCavityAreas(folder);
}

std::unique_ptr<VeZiRevoru> openWindow()
{
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
    return window;
}

} // namespace

bool manualCavityTrigger(VeZiRevoru& w)
{
    const int before = gInspections;
    w.SlotManualTrig(kCavityDetect);
    return waitFor([&w, before] { return gInspections >= before + gCameraCount && w.pCycle->pendingCameras[1] == 0; }, 5000);
}

void shoot(VeZiRevoru& w, const QString& name)
{
    QTest::qWait(150);  // one pass of the repaint task at least
    QImage canvas(w.size(), QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    painter.drawPixmap(0, 0, w.grab());
    QList<QPair<QWidget*, QPoint>> placed{{&w, QPoint(0, 0)}};
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top != &w && top->isVisible()) {
            painter.drawPixmap(top->pos(), top->grab());
            placed.append({top, top->pos()});
        }
    }
    painter.end();
    if (!saveShot(canvas, name, gProgram)) {
        ++gFailures;
    }
    checkShot(name, canvas, placed);
}

Session::Session()
{
    initTextTable();
    if (prepareWorkFolder(dir_.path())) {
        window_ = openWindow();
    }
}

Session::~Session()
{
    if (!window_) {
        return;
    }
    ModbusServer* server = window_->pModbusServer;
    const QList<CameraInterface*> cameras = window_->openedCameras;
    window_.reset();
    qDeleteAll(cameras);
    delete server;
    delete gpSystemParam;
    delete gpSystemParamEdit;
    delete gpControlPort;
    delete gpResultStatistics;
    resetCameraRegistry();
}

int shootAll(int argc, char* argv[], const std::function<void()>& tour)
{
    return runTour(argc, argv, [&tour](const TourArguments& arguments) {
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        if (screen != QSize(arguments.width, arguments.height)) {
            std::fprintf(stderr, "%s: the screen is %dx%d, not %dx%d: run it on a display of that size\n", gProgram,
                         screen.width(), screen.height(), arguments.width, arguments.height);
            return 1;
        }
        SliderPictures sliders;
        forEachLanguage(arguments, tour);
        return gFailures == 0 ? 0 : 1;
    });
}

} // namespace windowtour
