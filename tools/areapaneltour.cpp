// Screenshot tour of the area-setting panel on the real main window: built as
// the program builds it, in a working folder of its own on the factory
// parameters, with the two simulated cameras replaying the demo's mould
// pictures and each camera's cavities as defect areas over the empty mould's
// template. The first manual trigger (the empty mould) passes; the second (a
// part left) is a real NG judged by the engine, which brings up the alarm
// review and leaves a recent NG picture and an NG record picture behind.
// Shots, each with the camera tiles and the titles the panel gives them:
// template tools, area tools, alarm review live (all cameras and the NG
// camera alone) and template, recent NG, NG records with a picture.
// Usage: areapaneltour <output folder> <width> <height>
// The window takes the screen's size, so it runs on a display of that size
// (scripts/screen-tour.sh starts a virtual one); pictures go to
// <output folder>/<width>x<height>/<language>/.
#include "cameraregistry.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clustomrect.h"
#include "colorbutton.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "kiticons.h"
#include "mapplication.h"
#include "modbusserver.h"
#include "mouldpicture.h"
#include "paramstorage.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "resultstatistics.h"
#include "savefialimagethread.h"
#include "systemparam.h"
#include "taskmanager.h"
#include "testworkdir.h"
#include "texttable.h"
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

constexpr int kCavityDetect = 1;

QString gOut;
int gFailures = 0;

void fail(const QString& text)
{
    std::fprintf(stderr, "areapaneltour: %s\n", qPrintable(text));
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
// picker, boxes), as the operator sees the screen.
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
    const QString file = gOut + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!canvas.save(file)) {
        fail(QStringLiteral("could not write %1").arg(file));
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

// Judged pictures, counted around the cycle's own inspection.
int gInspections = 0;

// The cavity's manual trigger, as the menu column's button gives it; returns
// when both cameras' pictures were judged.
bool manualCavityTrigger(VeZiRevoru& w)
{
    const int before = gInspections;
    w.SlotManualTrig(kCavityDetect);
    return waitFor([&w, before] { return gInspections >= before + gCameraCount && w.pendingCameras[1] == 0; }, 5000);
}

// The panel's combo boxes as the operator taps them.
void choose(ComboBox* box, int index)
{
    box->setCurrentIndex(index);
    QApplication::processEvents();
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
    if (!storeLanguage(language) || !prepareCavityAreas(dir.path())) {
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
    DrawROIWidget& panel = *w.pDrawROIWidget;

    // The empty mould passes: the cameras hold a picture to set areas on.
    if (!manualCavityTrigger(w)) {
        fail(QStringLiteral("the first trigger was not judged"));
    }

    // 1. Area setting from the menu column, on the cavity detect's template.
    w.SlotAdjustArea();
    if (w.screenMode != AreaSetting) {
        fail(QStringLiteral("area setting did not open"));
    }
    choose(panel.pComboChangeDetect, kCavityDetect);
    shoot(w, QStringLiteral("01-template-tools"));

    // 2. The area tools, with the first area selected so that its
    // parameters show.
    panel.SlotChangeOp();
    w.pCammer[w.curCamera]->station().selectedRoi = 0;
    w.pCammer[w.curCamera]->UpdateParaPanel();
    shoot(w, QStringLiteral("02-area-tools"));
    w.pCammer[w.curCamera]->ClearSelection();
    panel.SlotReturn();

    // 3. A part left: the final NG brings up the alarm review on every camera.
    if (!manualCavityTrigger(w) || !waitFor([&w] { return w.screenMode == Alarm; }, 2000)) {
        fail(QStringLiteral("the part left did not raise the alarm (screen mode %1)").arg(w.screenMode));
    }
    shoot(w, QStringLiteral("03-alarm-review-live"));

    // 4. The first camera alone, live, then its template.
    choose(panel.pComboChangeCamera, 0);
    shoot(w, QStringLiteral("04-alarm-review-live-camera1"));
    panel.SlotAutoChange();
    if (gImageSource != 0) {
        fail(QStringLiteral("the alarm review did not turn to the template"));
    }
    shoot(w, QStringLiteral("05-alarm-review-template"));
    panel.SlotAutoChange();

    // The alarm ends with "not this mould" on all cameras; then the NG
    // picture writer stores the NG camera's picture (with how the alarm was
    // cleared) in the records.
    choose(panel.pComboChangeCamera, gCameraCount);
    {
        PromptAnswerer confirm({1});
        panel.SlotNoCheckCur();
    }
    if (!waitFor([&w] { return w.screenMode != Alarm; }, 2000)) {
        fail(QStringLiteral("the alarm did not end"));
    }
    const QString records = SaveFialImageThread::folderOf(0, kCavityDetect, 0);
    if (!waitFor([&records] { return !QDir(records).entryList({QStringLiteral("*.jpg")}).isEmpty(); }, 5000)) {
        fail(QStringLiteral("no NG record picture in %1").arg(records));
    }

    // 6. Area setting again: the recent NG pictures and the NG records of the
    // first camera's cavity detect.
    w.SlotAdjustArea();
    choose(panel.pComboChangeSource, 2);
    choose(panel.pComboChangeDetect, kCavityDetect);
    shoot(w, QStringLiteral("06-recent-ng"));
    choose(panel.pComboChangeSource, 4);
    if (panel.recordCount == 0 || panel.recordImage.isNull()) {
        fail(QStringLiteral("the NG records show no picture"));
    }
    shoot(w, QStringLiteral("07-ng-records"));
    panel.SlotReturn();

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

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <output folder> <width> <height>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    installFontSubstitutes();
    ensureKitIcons();
    const int width = QString::fromLocal8Bit(argv[2]).toInt();
    const int height = QString::fromLocal8Bit(argv[3]).toInt();
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    if (screen != QSize(width, height)) {
        std::fprintf(stderr, "areapaneltour: the screen is %dx%d, not %dx%d: run it on a display of that size\n",
                     screen.width(), screen.height(), width, height);
        return 1;
    }
    // The slider's pictures, as the program loads them at start-up.
    static QPixmap slideru(QStringLiteral(":/slideru.png"));
    static QPixmap sliderd(QStringLiteral(":/sliderd.png"));
    static QPixmap slidert(QStringLiteral(":/slidert.png"));
    gPixmapTable[4] = &slideru;
    gPixmapTable[5] = &sliderd;
    gPixmapTable[6] = &slidert;
    const QString root = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    static const char* const languages[LanguageCount] = {"zh_CN", "en", "zh_TW", "ja"};
    for (int language = 0; language < LanguageCount; ++language) {
        gOut = QStringLiteral("%1/%2x%3/%4").arg(root).arg(width).arg(height).arg(QLatin1String(languages[language]));
        QDir().mkpath(gOut);
        tour(language);
    }
    for (int i = 4; i <= 6; ++i) {
        gPixmapTable[i] = nullptr;
    }
    return gFailures == 0 ? 0 : 1;
}
