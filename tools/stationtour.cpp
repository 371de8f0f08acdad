// Screenshot tour of the camera station view: the run view with OK and NG
// areas, the alarm view in its red phase, the template view with a selected
// rectangle and the full editor panel, a ring with its step buttons, a finger
// polygon being drawn and the all-areas move mode, one PNG each, for one screen
// size and the four languages. Usage: stationtour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "circle.h"
#include "clustomrect.h"
#include "globals.h"
#include "mouldpicture.h"
#include "quietstationhost.h"
#include "registeredstate.h"
#include "repolygon.h"
#include "systemparam.h"
#include "texttable.h"
#include "toursupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

struct TourHost : QuietStationHost {
    // Camera 0 shown, the result screen.
    RegisteredOperatingState state;
    bool freehand = false;
    TourHost() { state.setScreenMode(ResultShown); }
    bool freehandDrawing() override { return freehand; }
};

TourHost gHost;
SystemParam gParams{};
cv::Mat gFrame;

void shoot(CammerWidget& w, const QString& name)
{
    QApplication::processEvents();
    const QImage picture = w.grab().toImage();
    saveShot(picture, name);
    checkShot(name, picture, {{&w, QPoint(0, 0)}});
}

// A station over the mould picture (no camera) at the single-camera size.
std::unique_ptr<CammerWidget> makeStation(bool live)
{
    auto w = std::make_unique<CammerWidget>(nullptr, 0, nullptr);
    CameraStation& st = w->station();
    StationData& d = st.data;
    d.allocate(gFrame.cols, gFrame.rows, false, 1, 2);
    st.viewBuffer.assign(std::size_t(d.pixelCount), 0);
    std::memcpy(d.displayBuffer.data(), gFrame.data, d.displayBuffer.size());
    d.curTemplate = 0;
    std::memcpy(d.occupyTemplate(0, 0), gFrame.data, d.displayBuffer.size());
    // Live under its title bar and over the dock; areas are edited in area
    // setting, where the dock is hidden and the view reaches the bottom.
    w->resize(gScreenWidth, live ? gScreenHeight - 120 : gScreenHeight - 62);
    QApplication::processEvents();
    // The frame came after the widget's first size: its scales follow it here.
    st.imageScaleX = float(w->width()) / float(d.imageWidth);
    st.imageScaleY = float(w->height()) / float(d.imageHeight);

    const MouldLayout layout = mouldLayout(0);
    CammerSingleton& set = live ? *st.pLiveSingleton : *st.pEditSingleton;
    auto add = [&](ROIInterface* shape, int function, int param, int lower, int upper) {
        shape->updateBounds();
        const int n = set.roiCount[0]++;
        set.roiLists[0].append(shape);
        set.roiShapeType[n] = shape->type();
        set.roiFunction[n] = function;
        set.roiParam[n] = param;
        set.roiLower[n] = lower;
        set.roiUpper[n] = upper;
        (live ? d.roiMasks : d.editRoiMasks)[n] = shape->createMask();
    };
    for (std::size_t k = 0; k < layout.cavities.size(); ++k) {
        const cv::Rect& c = layout.cavities[k];
        add(new ClustomRect(c.x - 10, c.y - 10, c.x + c.width + 10, c.y + c.height + 10), FuncDefect, 3, 25, 100);
        d.roiValue[k] = int(k) == layout.partCavity ? 4210 : 12 * int(k);
        d.roiOk[k] = int(k) == layout.partCavity ? 0 : 1;
    }
    const cv::Rect p = layout.plate;
    add(new Circle(p.x + p.width / 2, p.y + p.height / 2, 120, 60), FuncSpot, 12800, 10, 400);
    const QPoint pts[] = {{p.x + 40, p.y + 40}, {p.x + 300, p.y + 30}, {p.x + 260, p.y + 200}, {p.x + 60, p.y + 180}};
    add(new RePolygon(4, pts), FuncTempAlarm, 95, 65616, 1310840);
    d.roiValue[set.roiCount[0] - 1] = 85;
    d.roiOk[set.roiCount[0] - 1] = 1;
    d.resultOk = 0;
    // NG blobs: the part left in its cavity.
    d.overlayMask.assign(std::size_t(d.pixelCount), 0);
    const cv::Rect c = layout.cavities[std::size_t(layout.partCavity)];
    cv::Mat overlay(d.imageHeight, d.imageWidth, CV_8UC1, d.overlayMask.data());
    cv::ellipse(overlay, cv::Point(c.x + c.width / 2, c.y + c.height / 2), cv::Size(c.width / 4, c.height / 4), 0, 0,
                360, cv::Scalar(255), cv::FILLED);
    return w;
}

void press(QWidget* w, QPoint p, QEvent::Type type = QEvent::MouseButtonPress)
{
    QMouseEvent e(type, p, w->mapToGlobal(p), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QPoint toWidget(CameraStation& st, QPoint frame)
{
    return QPoint(int(frame.x() * st.imageScaleX) + 1, int(frame.y() * st.imageScaleY) + 1);
}

void tour()
{
    gParams.showAllAlgoParams() = 1;
    gParams.algoDefect() = 1;
    gParams.algoSpot() = 1;
    gParams.ejectorPulseOnNg() = 1;
    gParams.liveRoiShow() = 1;
    {
        gImageSource = 1;
        gHost.state.setScreenMode(ScreenMode(1));
        auto w = makeStation(true);
        shoot(*w, QStringLiteral("station-run"));
        gHost.state.setScreenMode(ScreenMode(2));
        w->station().blinkState = 1;
        shoot(*w, QStringLiteral("station-alarm-red"));
    }
    gImageSource = 0;
    gHost.state.setScreenMode(ScreenMode(1));
    {
        auto w = makeStation(false);
        CameraStation& st = w->station();
        const QRect first = *st.pEditSingleton->roiLists[0][0];
        st.data.ignoreMasks[0].assign(std::size_t(st.data.pixelCount), 0);
        for (int y = first.top() + 20; y < first.top() + 60; ++y) {
            std::memset(st.data.ignoreMasks[0].data() + std::size_t(y) * std::size_t(st.data.imageWidth)
                            + std::size_t(first.left() + 20),
                        255, 60);
        }
        shoot(*w, QStringLiteral("station-template"));
        press(w.get(), toWidget(st, first.center()));
        press(w.get(), toWidget(st, first.center()), QEvent::MouseButtonRelease);
        shoot(*w, QStringLiteral("station-template-selected"));
        // The ring with its step buttons.
        const int ring = st.pEditSingleton->roiCount[0] - 2;
        if (st.selectedRoi >= 0) {
            st.pEditSingleton->roiLists[0][st.selectedRoi]->setSelected(false);
        }
        st.selectedRoi = ring;
        st.pEditSingleton->roiLists[0][ring]->setSelected(true);
        w->UpdateParaPanel();
        shoot(*w, QStringLiteral("station-ring"));
        w->SlotMoveAll();
        w->SlotMoveAll();
        shoot(*w, QStringLiteral("station-movemode2"));
        w->moveMode = 0;
        st.pEditSingleton->roiLists[0][ring]->setSelected(false);
        st.selectedRoi = -1;
        w->UpdateParaPanel();
        // A finger polygon half drawn.
        gHost.state.setDrawMode(DrawMode(2));
        gHost.freehand = true;
        const QPoint centre(w->width() / 2, w->height() / 2);
        press(w.get(), centre);
        for (int k = 0; k < 60; ++k) {
            const QPoint p(centre.x() + int(300 * std::sin(k / 10.0)), centre.y() + int(200 * std::cos(k / 10.0)));
            press(w.get(), p, QEvent::MouseMove);
        }
        shoot(*w, QStringLiteral("station-finger-polygon"));
        gHost.state.setDrawMode(DrawMode(0));
        gHost.freehand = false;
    }
}

int shootAll(const TourArguments& arguments)
{
    SliderPictures sliders;

    // The stations read their areas from PARAM.db: an empty one in a scratch folder.
    ScratchFolder scratch;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
        db.setDatabaseName(scratch.filePath(QStringLiteral("PARAM.db")));
        db.open();
        QSqlQuery(db).exec(QStringLiteral("create table cammer0 (name text, value text)"));
    }
    gParams.clear();
    gpSystemParam = &gParams;
    gDetectCount = 2;
    gTemplateCount = 1;
    gCameraCount = 1; // the station is shown alone
    setStationHost(&gHost);
    renderMouldPictures(mouldLayout(0), &gFrame, nullptr);

    forEachLanguage(arguments, tour);
    clearStationHost(&gHost);
    gpSystemParam = nullptr;
    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
