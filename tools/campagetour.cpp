// Screenshot tour of the camera page of the settings dialog: full display,
// simple display over a live picture, and a thermal camera, for one screen
// size and the four languages. Usage: campagetour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
#include "cameraparamwidget.h"
#include "cameraregistry.h"
#include "camerastation.h"
#include "colorbutton.h"
#include "fakecamera.h"
#include "globals.h"
#include "paramstorage.h"
#include "settingshost.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "texttable.h"
#include "toursupport.h"

#include <QApplication>
#include <QPainter>
#include <QTabWidget>

#include <memory>
#include <vector>

namespace {

// Three simulated cameras, the third thermal, as the main window would hand
// them to the page.
class TourHost : public SettingsHost {
public:
    void insertRecord(const QString&) override {}
    void publishCounters() override {}
    void countWrite() override {}
    void flushAll() override {}
    void restartCameras() override {}
    int curSide() const override { return 0; }
    void setCurSide(int) override {}
    bool saveOriginalImages() const override { return false; }
    void setSaveOriginalImages(bool) override {}
    QString recordConnectionName() const override { return QString(); }
    void pushLiveCameraSetting(int, CameraSetting) override {}
    void setTriggerMode(int, int) override {}
    void copyParaAndSave(int) override {}
    void trainLocate(int, int) override {}
    void trainAlign(int, int) override {}
    void trainModels(int, int) override {}
    void repaintStation(int) override {}
    int currentCamera() const override { return current; }
    void changeCamera(int camera) override { current = camera; }
    CameraStation* cameraStation(int camera) override { return stations.at(size_t(camera)).get(); }

    std::vector<std::unique_ptr<FakeCamera>> cameras;
    std::vector<std::unique_ptr<CameraStation>> stations;
    int current = 0;
};

// Stands in for the camera picture behind the translucent dialog: a mould
// plate with four pockets.
QImage livePicture()
{
    QImage image(gScreenWidth, gScreenHeight, QImage::Format_RGB32);
    image.fill(QColor(70, 70, 74));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(gScreenWidth / 8, gScreenHeight / 8, gScreenWidth * 3 / 4, gScreenHeight * 3 / 4),
               QColor(150, 152, 156));
    for (int i = 0; i < 4; ++i) {
        p.setBrush(QColor(40, 40, 44));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(gScreenWidth * (2 * i + 3) / 14, gScreenHeight / 2), gScreenWidth / 18,
                      gScreenWidth / 18);
    }
    return image;
}

void tour(TourHost& host, SystemParam* live, SystemParam* edit)
{
    *edit = *live;
    host.current = 0;
    SystemParamDialog dialog;
    dialog.tabWidget->setCurrentIndex(1);
    CameraParamWidget* page = dialog.cameraWgt;
    shoot(QStringLiteral("campage_full"), {&dialog});
    page->pCButtonShowMode->click();
    shoot(QStringLiteral("campage_simple"), {&dialog}, livePicture());
    page->pCButtonShowMode->click();
    page->pCButtonCamera->click();
    page->pCButtonCamera->click();
    shoot(QStringLiteral("campage_thermal"), {&dialog});
    page->pCButtonShowMode->click();
    shoot(QStringLiteral("campage_thermal_simple"), {&dialog}, livePicture());
}

int shootAll(const TourArguments& arguments)
{
    ScratchFolder work;
    static SystemParam live;
    static SystemParam edit;
    loadFactoryParams(&live, &edit);
    gCameraCount = 3;
    gDetectCount = 1;
    gTemplateCount = 1;
    {
        TourHost host;
        for (int c = 0; c < 3; ++c) {
            host.cameras.push_back(std::make_unique<FakeCamera>(64, 48, false, c == 2 ? 2 : 1));
            host.cameras.back()->open();
            host.stations.push_back(std::make_unique<CameraStation>(c, host.cameras.back().get()));
        }
        setSettingsHost(&host);
        forEachLanguage(arguments, [&] { tour(host, &live, &edit); });
        clearSettingsHost(&host);
        host.stations.clear();
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
