// Screenshot tour of the main screen: tiles for 1, 2, 5 and 8 simulated
// cameras with OK and NG verdicts, a delay running and tables filled, the
// area-setting titles, the image browser over templates and 5,000 NG
// records, and the dock with the NG area outputs. One PNG each, for one
// screen size and the four languages. Usage: maintour <output folder> <width> <height>
#include "camerawgtbox.h"
#include "camerareportform.h"
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "dottomdockwidget.h"
#include "globals.h"
#include "imagepickform.h"
#include "kiticons.h"
#include "mainscreenhost.h"
#include "screenstate.h"
#include "mapplication.h"
#include "menubtnwidget.h"
#include "simulatecamera.h"
#include "systemparam.h"
#include "texttable.h"
#include "toursupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <utime.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

MainScreenState gState;

void screen(int cameras, ImagePickForm* browser)
{
    gCameraCount = cameras;
    std::vector<std::unique_ptr<SimulateCamera>> drivers;
    QList<CameraInterface*> list;
    for (int i = 0; i < cameras; ++i) {
        drivers.push_back(std::make_unique<SimulateCamera>());
        drivers.back()->open();
        list << drivers.back().get();
    }
    // The main window's client area: grid and menu column over the dock.
    QWidget window;
    window.setGeometry(0, 0, gScreenWidth, gScreenHeight);
    auto* column = new QVBoxLayout(&window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto* grid = new CameraWgtBox(list, &window);
    row->addWidget(grid);
    auto* menu = new MenuBtnWidget(&window);
    row->addWidget(menu);
    column->addLayout(row);
    auto* dock = new DottomDockWidget(&window);
    dock->setObjectName(QStringLiteral("pWgtDottomDock"));
    column->addWidget(dock);
    screenState().setShownCamera(cameras == 1 ? 0 : gCameraCount);
    grid->slotChangeCameraLayout(cameras == 1 ? 0 : -1);

    screenState().setRunState(Detecting);
    screenState().setCyclePhase(Waiting);
    gState.delayRunning[1] = true;
    gState.delayLeft[1] = 0.7;
    gState.cycle = 125;
    for (int i = 0; i < cameras; ++i) {
        CameraWgt_DataWidget* tile = grid->dataWidget(i);
        tile->cammerWidget()->station().data.resultOk = i % 2 == 0 ? 1 : 0;
        QList<CameraReportForm_Item> items;
        for (int a = 0; a < 4; ++a) {
            items << CameraReportForm_Item{a + 1, QStringLiteral("Area %1").arg(a + 1), 0, 80, double(40 + 20 * a), a != 3 || i % 2 == 0};
        }
        tile->reportForm()->setReportItems(items);
        tile->currentTitle()->updateTitle();
    }
    shoot(QStringLiteral("main-%1cam").arg(cameras), {&window});

    if (cameras == 2 || cameras == 8) {
        // Area setting: titles page 1, area panel page, browser beside.
        screenState().setScreenMode(AreaSetting);
        screenState().setEditedDetect(0);
        for (CameraWgt_DataWidget* tile : grid->tiles()) {
            tile->setScreenMode(3);
            tile->currentTitle()->updateTitle();
        }
        menu->SetMenuPage(3);
        dock->hide();
        shoot(QStringLiteral("setroi-%1cam").arg(cameras), {&window});
        screenState().setScreenMode(Alarm);
        for (CameraWgt_DataWidget* tile : grid->tiles()) {
            tile->setScreenMode(2);
        }
        shoot(QStringLiteral("alarm-%1cam").arg(cameras), {&window});
        screenState().setScreenMode(Live);
    }
    if (cameras == 2) {
        screenState().setShownCamera(0);
        browser->selectSource(0);
        browser->move(0, 60);
        shoot(QStringLiteral("browser-templates"), {&window, browser});
        browser->selectCamera(0);
        browser->selectDetect(1);
        browser->selectSource(4);
        shoot(QStringLiteral("browser-ng-records"), {&window, browser});
        browser->hide();
    }
}

void prepareFolders()
{
    QDir().mkpath(QStringLiteral("cammer11"));
    for (int t : {0, 1, 2, 10}) {
        QFile(QStringLiteral("cammer11/template%1.bmp").arg(t)).open(QIODevice::WriteOnly);
    }
    const QString folder = QStringLiteral("alarmimage/camera1/detect2/NG");
    QDir().mkpath(folder);
    for (int i = 0; i < 5000; ++i) {
        const QString path = QStringLiteral("%1/20250101_%2.jpg").arg(folder).arg(i, 5, 10, QLatin1Char('0'));
        QFile(path).open(QIODevice::WriteOnly);
        struct utimbuf times{time_t(1735700000 + i), time_t(1735700000 + i)};
        utime(QFile::encodeName(path).constData(), &times);
    }
}

int shootAll(const TourArguments& arguments)
{
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    static SystemParam params{};
    params.ejectorPulseOnNg() = 1;
    gpSystemParam = &params;
    gDetectCount = 2;
    for (int i = 0; i < 5; ++i) {
        gInputNames[i] = QStringLiteral("Input %1").arg(i + 1);
        gOutputNames[i] = QStringLiteral("Output %1").arg(i + 1);
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
        db.setDatabaseName(QStringLiteral("PARAM.db"));
        db.open();
        for (int i = 0; i < 8; ++i) {
            QSqlQuery(db).exec(QStringLiteral("create table cammer%1 (name text, value text)").arg(i));
        }
    }
    prepareFolders();
    setMainScreenHost(&gState);
    forEachLanguage(arguments, [] {
        for (int cameras : {1, 2, 5, 8}) {
            gCameraCount = cameras;
            ImagePickForm browser;
            screen(cameras, &browser);
        }
    });
    clearMainScreenHost(&gState);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
