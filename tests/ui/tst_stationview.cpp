// The station view: painting, touch editing and the area editor panel, driven
// by synthetic mouse events on real widgets.
#include "cammerwidget.h"

#include "cameraregistry.h"
#include "cammersingleton.h"
#include "circle.h"
#include "clustomrect.h"
#include "colorbutton.h"
#include "fakecamera.h"
#include "globals.h"
#include "promptanswerer.h"
#include "repolygon.h"
#include "slider.h"
#include "quietstationhost.h"
#include "registeredstate.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QApplication>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

constexpr int W = 320;
constexpr int H = 240;

struct ViewHost : QuietStationHost {
    // The edited detect, drawing mode, camera shown and screen mode.
    RegisteredOperatingState state;
    int running = 0;
    bool freehand = false;
    bool copyArmed = false;
    int hints = 0;
    int detectRunning() override { return running; }
    double pan = 0;
    double zoom = 1;
    int records = 0;
    QImage record;
    double panX() override { return pan; }
    double panY() override { return pan / 2; }
    double zoomX() override { return zoom; }
    double zoomY() override { return zoom; }
    int recordPictureCount() override { return records; }
    QImage recordPicture() override { return record; }
    bool freehandDrawing() override { return freehand; }
    bool copyAreaArmed() override { return copyArmed; }
    void setCopyAreaArmed(bool on) override { copyArmed = on; }
    void startDrawHint(int) override { ++hints; }
};

void send(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, p, w->mapToGlobal(p), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}
void press(QWidget* w, QPoint p) { send(w, QEvent::MouseButtonPress, p, Qt::LeftButton); }
void drag(QWidget* w, QPoint p) { send(w, QEvent::MouseMove, p, Qt::LeftButton); }
void release(QWidget* w, QPoint p) { send(w, QEvent::MouseButtonRelease, p, Qt::NoButton); }

// One camera station at its frame's size (a widget pixel is a frame pixel),
// in the template view, with a grey frame and the view's host installed.
struct View {
    TestWorkDir dir;
    SystemParam live{};
    SystemParam* oldLive = gpSystemParam;
    int oldDetects = gDetectCount, oldTemplates = gTemplateCount, oldSource = gImageSource;
    int oldScreenW = gScreenWidth, oldScreenH = gScreenHeight, oldCameras = gCameraCount, oldLanguage = gLanguage;
    ViewHost host;
    std::unique_ptr<FakeCamera> driver;
    std::unique_ptr<CammerWidget> widget;

    explicit View(int spectrum = 1)
    {
        live.clear();
        gpSystemParam = &live;
        gDetectCount = 2;
        gTemplateCount = 1;
        gImageSource = 0;
        gScreenWidth = 1920;
        gScreenHeight = 1080;
        gCameraCount = 2;
        setStationHost(&host);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
        db.setDatabaseName(dir.filePath("PARAM.db"));
        db.open();
        QSqlQuery(db).exec(QStringLiteral("create table cammer0 (name text, value text)"));
        driver = std::make_unique<FakeCamera>(W, H, false, spectrum);
        driver->open();
        driver->pause(true);
        widget = std::make_unique<CammerWidget>(nullptr, 0, driver.get());
        widget->resize(W, H);
        QCoreApplication::processEvents();
        std::fill(st().data.displayBuffer.begin(), st().data.displayBuffer.end(), uchar(100));
    }
    ~View()
    {
        widget.reset();
        driver.reset();
        clearStationHost(&host);
        QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
        QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
        gpSystemParam = oldLive;
        gDetectCount = oldDetects;
        gTemplateCount = oldTemplates;
        gImageSource = oldSource;
        gScreenWidth = oldScreenW;
        gScreenHeight = oldScreenH;
        gCameraCount = oldCameras;
        gLanguage = oldLanguage;
    }
    CameraStation& st() { return widget->station(); }
    CammerSingleton& edit() { return *st().pEditSingleton; }
    CammerSingleton& liveSet() { return *st().pLiveSingleton; }

    // Adds a shape to detect d of the edit set (or the live set) with its mask.
    int add(ROIInterface* shape, int function = FuncDefect, int param = 3, int lower = 25, int upper = 100,
            bool toLive = false, int d = 0)
    {
        CammerSingleton& set = toLive ? liveSet() : edit();
        shape->updateBounds();
        const int n = set.roiCount[d]++;
        const int s = d * 50 + n;
        set.roiLists[d].append(shape);
        set.roiShapeType[s] = shape->type();
        set.roiFunction[s] = function;
        set.roiParam[s] = param;
        set.roiLower[s] = lower;
        set.roiUpper[s] = upper;
        (toLive ? st().data.roiMasks : st().data.editRoiMasks)[s] = shape->createMask();
        return n;
    }
    int rect(QRect r, int function = FuncDefect, int param = 3, int lower = 25, int upper = 100,
             bool toLive = false)
    {
        return add(new ClustomRect(r.left(), r.top(), r.right(), r.bottom()), function, param, lower, upper, toLive);
    }
    void select(int i)
    {
        st().selectedRoi = i;
        edit().roiLists[0][i]->setSelected(true);
        widget->UpdateParaPanel();
    }
    QImage grab()
    {
        return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

QRect boundsOf(const ROIInterface* shape)
{
    return static_cast<const QRect&>(*shape).normalized();
}

} // namespace

class TestStationView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void pressWhileAllShownEmitsClick();
    void drawingARectangle_data();
    void drawingARectangle();
    void polygonPointByPoint();
    void fingerPolygon_data();
    void fingerPolygon();
    void fingerPolygonOutsideStaysInTheFrame();
    void movingAndReshaping();
    void polygonMovePastTheEdgeIsRefused();
    void pressBesideDeselectsOnly();
    void copyModeCopiesToThePress();

    void alarmBlink();
    void ignoreTintOnlyInTheTemplateView();
    void penColours_data();
    void penColours();
    void areasDrawnPerSource();
    void recordPicturePaintsScaledOverBlack_data();
    void recordPicturePaintsScaledOverBlack();
    void labels_data();
    void labels();

    void selectionLeavesValuesAlone();
    void spotAndTemperatureHalves();
    void changeFunction_data();
    void changeFunction();
    void panelGeometry();
    void moveModeAndNextArea();
    void screenshots();
};

void TestStationView::initTestCase()
{
    initTextTable();
}

void TestStationView::pressWhileAllShownEmitsClick()
{
    View v;
    v.host.state.setShownCamera(gCameraCount);
    v.rect(QRect(20, 20, 50, 50));
    QSignalSpy clicks(v.widget.get(), &CammerWidget::click);
    press(v.widget.get(), QPoint(30, 30));
    release(v.widget.get(), QPoint(30, 30));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.at(0).at(0).toInt(), 0);
    QCOMPARE(v.st().selectedRoi, -1);
}

void TestStationView::drawingARectangle_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<QPoint>("to"); // none: released without a move
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("toolAfter");
    QTest::addColumn<int>("warnings");
    QTest::newRow("11 px wide is saved") << 1 << QPoint(30, 60) << 0 << 1 << 0 << 0;
    QTest::newRow("10 px wide is discarded") << 1 << QPoint(29, 60) << 0 << 0 << 0 << 0;
    QTest::newRow("dragged up and left is discarded") << 1 << QPoint(5, 5) << 0 << 0 << 0 << 0;
    QTest::newRow("press and release without a move") << 1 << QPoint() << 0 << 0 << 0 << 0;
    QTest::newRow("ring") << 4 << QPoint(80, 80) << 0 << 1 << 0 << 0;
    QTest::newRow("at 50 areas the warning, tool kept") << 1 << QPoint(80, 80) << 50 << 50 << 1 << 1;
    QTest::newRow("drawn far outside stays in the frame") << 1 << QPoint(5000, 4000) << 0 << 1 << 0 << 0;
}

void TestStationView::drawingARectangle()
{
    QFETCH(int, tool);
    QFETCH(QPoint, to);
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(int, toolAfter);
    QFETCH(int, warnings);
    PromptAnswerer prompts;
    View v;
    for (int i = 0; i < before; ++i) {
        v.rect(QRect(100, 100, 20, 20));
    }
    v.host.state.setDrawMode(DrawMode(tool));
    press(v.widget.get(), QPoint(20, 20));
    QCOMPARE(v.st().editAction, 5);
    if (!to.isNull()) {
        drag(v.widget.get(), to);
        QCOMPARE(v.st().editAction, 1);
        QCOMPARE(v.st().drawingShape->topLeft(), QPoint(20, 20));
    }
    release(v.widget.get(), to.isNull() ? QPoint(20, 20) : to);
    QCOMPARE(v.edit().roiCount[0], after);
    QCOMPARE(int(v.host.state.drawMode()), toolAfter);
    QCOMPARE(prompts.warnings.size(), warnings);
    if (warnings) {
        QCOMPARE(prompts.warnings.at(0), textOf(36));
    }
    if (after > before) {
        const QRect r = boundsOf(v.edit().roiLists[0].last());
        QVERIFY(QRect(3, 3, W - 5, H - 5).contains(r));
        QCOMPARE(v.st().selectedRoi, after - 1);
        QVERIFY(!v.st().data.editRoiMasks[after - 1].empty());
    }
}

void TestStationView::polygonPointByPoint()
{
    View v;
    v.host.state.setDrawMode(DrawMode(2));
    press(v.widget.get(), QPoint(50, 50));
    release(v.widget.get(), QPoint(50, 50));
    QCOMPARE(v.st().pointCount, 1);
    press(v.widget.get(), QPoint(55, 55)); // 5 px from the first point on both axes
    release(v.widget.get(), QPoint(55, 55));
    QCOMPARE(v.st().pointCount, 1);
    for (QPoint p : {QPoint(150, 50), QPoint(150, 150)}) {
        press(v.widget.get(), p);
        release(v.widget.get(), p);
    }
    QCOMPARE(v.st().pointCount, 3);
    QCOMPARE(v.edit().roiCount[0], 0); // open until the area panel ends it
    v.widget->SavePolygon();
    QCOMPARE(v.edit().roiCount[0], 1);
}

void TestStationView::fingerPolygon_data()
{
    QTest::addColumn<int>("moves");
    QTest::addColumn<int>("areas");
    QTest::newRow("5 points are discarded") << 5 << 0;
    QTest::newRow("6 points are saved") << 6 << 1;
}

void TestStationView::fingerPolygon()
{
    QFETCH(int, moves);
    QFETCH(int, areas);
    View v;
    v.host.state.setDrawMode(DrawMode(2));
    v.host.freehand = true;
    press(v.widget.get(), QPoint(40, 40));
    // A press in finger mode adds no point: every move adds one.
    const QPoint path[] = {{40, 40}, {100, 40}, {120, 90}, {80, 140}, {40, 120}, {30, 80}};
    for (int k = 0; k < moves; ++k) {
        drag(v.widget.get(), path[k]);
    }
    QCOMPARE(v.st().pointCount, moves);
    release(v.widget.get(), QPoint(40, 120));
    QCOMPARE(v.edit().roiCount[0], areas);
    QCOMPARE(v.st().pointCount, 0);
    QCOMPARE(int(v.host.state.drawMode()), 0);
}

void TestStationView::fingerPolygonOutsideStaysInTheFrame()
{
    View v;
    v.host.state.setDrawMode(DrawMode(2));
    v.host.freehand = true;
    press(v.widget.get(), QPoint(40, 40));
    const QPoint path[] = {{100, 40}, {3000, -500}, {-800, 900}, {W + 50, H + 50}, {-5, -5}, {60, 100}};
    for (QPoint p : path) {
        drag(v.widget.get(), p);
    }
    for (int k = 0; k < v.st().pointCount; ++k) {
        const QPoint p = v.st().polygonPoints[std::size_t(k)];
        QVERIFY2(p.x() >= 3 && p.x() <= W - 3 && p.y() >= 3 && p.y() <= H - 3, qPrintable(QString::number(k)));
    }
    v.widget->grab(); // paints the open polygon
    release(v.widget.get(), QPoint(60, 100));
    QCOMPARE(v.edit().roiCount[0], 1);
    QVERIFY(QRect(0, 0, W, H).contains(boundsOf(v.edit().roiLists[0][0])));
}

void TestStationView::movingAndReshaping()
{
    View v;
    const int i = v.rect(QRect(50, 50, 60, 40));
    const cv::Mat oldMask = v.st().data.editRoiMasks[i];
    // Press on the area: selected, moving.
    press(v.widget.get(), QPoint(80, 70));
    QCOMPARE(v.st().selectedRoi, i);
    QCOMPARE(v.st().editAction, 2);
    drag(v.widget.get(), QPoint(82, 72)); // 2 px: not moved
    QCOMPARE(boundsOf(v.edit().roiLists[0][i]).topLeft(), QPoint(50, 50));
    drag(v.widget.get(), QPoint(83, 73)); // 3 px: moved
    QCOMPARE(boundsOf(v.edit().roiLists[0][i]).topLeft(), QPoint(53, 53));
    drag(v.widget.get(), QPoint(-4000, -4000)); // far outside: slid to the margin, size kept
    QCOMPARE(boundsOf(v.edit().roiLists[0][i]), QRect(3, 3, 60, 40));
    release(v.widget.get(), QPoint(-4000, -4000));
    QCOMPARE(v.st().editAction, 0);
    QVERIFY(v.st().data.editRoiMasks[i].data != oldMask.data);

    // Bottom-right handle of the selected rectangle: reshaping, the corner
    // kept inside the frame however far the finger goes.
    const QRect r = boundsOf(v.edit().roiLists[0][i]);
    press(v.widget.get(), r.bottomRight());
    QCOMPARE(v.st().editAction, 3);
    drag(v.widget.get(), QPoint(9000, 9000));
    release(v.widget.get(), QPoint(9000, 9000));
    const QRect grown = boundsOf(v.edit().roiLists[0][i]);
    QCOMPARE(grown.topLeft(), r.topLeft());
    QVERIFY(grown.right() <= W - 3 && grown.bottom() <= H - 3);
    QVERIFY(grown.width() > r.width());
    QCOMPARE(v.st().data.editRoiMasks[i].cols, grown.width());
}

void TestStationView::polygonMovePastTheEdgeIsRefused()
{
    View v;
    const QPoint pts[] = {{10, 10}, {70, 10}, {70, 70}, {10, 70}};
    v.add(new RePolygon(4, pts));
    press(v.widget.get(), QPoint(50, 50));
    QCOMPARE(v.st().selectedRoi, 0);
    drag(v.widget.get(), QPoint(40, 40)); // left edge to 0: refused, not moved
    QCOMPARE(boundsOf(v.edit().roiLists[0][0]).topLeft(), QPoint(10, 10));
    drag(v.widget.get(), QPoint(60, 60)); // from the kept last point: allowed
    QCOMPARE(boundsOf(v.edit().roiLists[0][0]).topLeft(), QPoint(20, 20));
    release(v.widget.get(), QPoint(60, 60));
}

void TestStationView::pressBesideDeselectsOnly()
{
    View v;
    v.rect(QRect(20, 20, 40, 40));
    v.rect(QRect(150, 150, 40, 40));
    v.select(0);
    press(v.widget.get(), QPoint(160, 160));
    release(v.widget.get(), QPoint(160, 160));
    QCOMPARE(v.st().selectedRoi, -1);
    QCOMPARE(v.st().lastSelectedRoi, 0);
    QVERIFY(!v.edit().roiLists[0][1]->isSelected());
    QVERIFY(v.widget->lowerSlider->isHidden());
    press(v.widget.get(), QPoint(160, 160));
    release(v.widget.get(), QPoint(160, 160));
    QCOMPARE(v.st().selectedRoi, 1);
    QVERIFY(!v.widget->lowerSlider->isHidden());
}

void TestStationView::copyModeCopiesToThePress()
{
    PromptAnswerer prompts({1});
    View v;
    const QPoint c(60, 60);
    v.add(new Circle(c.x(), c.y(), 30, 10), FuncSpot, 7, 8, 9);
    v.edit().roiOutput[0] = 4;
    v.select(0);
    v.host.copyArmed = true;
    press(v.widget.get(), QPoint(W - 5, H - 5)); // near the corner
    release(v.widget.get(), QPoint(W - 5, H - 5));
    QCOMPARE(prompts.questions, QStringList{textOf(38)});
    QVERIFY(!v.host.copyArmed);
    QCOMPARE(v.edit().roiCount[0], 2);
    QCOMPARE(v.st().selectedRoi, 1);
    const QRect r = boundsOf(v.edit().roiLists[0][1]);
    QCOMPARE(r.size(), boundsOf(v.edit().roiLists[0][0]).size());
    QVERIFY2(r.left() >= 3 && r.top() >= 3 && r.right() <= W - 3 && r.bottom() <= H - 3,
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(r.left()).arg(r.top()).arg(r.right()).arg(r.bottom())));
    QCOMPARE(v.edit().roiFunction[1], int(FuncSpot));
    QCOMPARE(v.edit().roiUpper[1], 9);
    QCOMPARE(v.edit().roiOutput[1], 4);
    QVERIFY(!v.edit().roiLists[0][0]->isSelected());

    // Declined: nothing copied.
    PromptAnswerer no({0});
    v.widget->SlotCopyArea(QPoint(100, 100));
    QCOMPARE(v.edit().roiCount[0], 2);
}

void TestStationView::alarmBlink()
{
    View v;
    gImageSource = 1;
    v.host.state.setScreenMode(ScreenMode(2));
    const int i = v.rect(QRect(40, 40, 40, 40), FuncDefect, 3, 25, 100, true);
    StationData& d = v.st().data;
    d.resultOk = 0;
    d.roiOk[i] = 0;
    d.overlayMask.assign(std::size_t(d.pixelCount), 0);
    d.overlayMask[std::size_t(60 * W + 60)] = 255; // a blob pixel inside the area
    d.overlayMask[std::size_t(10 * W + 10)] = 255; // one outside every area
    v.widget->alarmTimer->start();
    v.widget->TimerShowAlarm();
    QCOMPARE(v.st().blinkState, 1);
    QImage shot = v.grab();
    QCOMPARE(shot.pixel(60, 60), qRgb(255, 0, 0));
    QCOMPARE(shot.pixel(10, 10), qRgb(100, 100, 100));
    v.widget->TimerShowAlarm();
    QCOMPARE(v.st().blinkState, 0);
    QCOMPARE(v.grab().pixel(60, 60), qRgb(100, 100, 100));
    v.widget->TimerShowAlarm();
    d.resultOk = 1;
    v.widget->TimerShowAlarm();
    QCOMPARE(v.st().blinkState, 0);
    QVERIFY(!v.widget->alarmTimer->isActive());
}

void TestStationView::ignoreTintOnlyInTheTemplateView()
{
    View v;
    v.rect(QRect(40, 40, 40, 40));
    v.rect(QRect(40, 40, 40, 40), FuncDefect, 3, 25, 100, true);
    StationData& d = v.st().data;
    d.ignoreMasks[0][std::size_t(50 * W + 50)] = 255;
    d.ignoreMasks[0][std::size_t(150 * W + 150)] = 255; // outside the areas: not tinted
    QCOMPARE(v.grab().pixel(50, 50), qRgb(0, 255, 255));
    QCOMPARE(v.grab().pixel(150, 150), qRgb(100, 100, 100));
    gImageSource = 1;
    v.host.state.setScreenMode(ScreenMode(1));
    QCOMPARE(v.grab().pixel(50, 50), qRgb(100, 100, 100));
}

void TestStationView::penColours_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<int>("resultOk");
    QTest::addColumn<int>("roiOk");
    QTest::addColumn<QRgb>("colour");
    QTest::newRow("live: dark blue") << 0 << 0 << 0 << qRgb(0, 0, 0x80);
    QTest::newRow("result OK: green") << 1 << 1 << 0 << qRgb(0, 255, 0);
    QTest::newRow("area OK in an NG: green") << 1 << 0 << 1 << qRgb(0, 255, 0);
    QTest::newRow("area NG: red") << 1 << 0 << 0 << qRgb(255, 0, 0);
}

void TestStationView::penColours()
{
    QFETCH(int, screen);
    QFETCH(int, resultOk);
    QFETCH(int, roiOk);
    QFETCH(QRgb, colour);
    View v;
    gImageSource = 1;
    v.host.state.setScreenMode(ScreenMode(screen));
    v.live.liveRoiShow() = 1;
    const int i = v.rect(QRect(40, 40, 100, 80), FuncDefect, 3, 25, 100, true);
    v.st().data.resultOk = quint8(resultOk);
    v.st().data.roiOk[i] = quint8(roiOk);
    QCOMPARE(QColor(v.grab().pixel(40, 100)), QColor(colour));
}

void TestStationView::areasDrawnPerSource()
{
    View v;
    const QRgb plain = qRgb(100, 100, 100);
    const int a = v.rect(QRect(20, 20, 60, 60));
    v.rect(QRect(150, 20, 60, 60), FuncPosition);
    // Template view with nothing selected: every area, positioning included.
    QImage shot = v.grab();
    QVERIFY(shot.pixel(20, 50) != plain);
    QVERIFY(shot.pixel(150, 50) != plain);
    // One selected: only that one.
    v.select(a);
    shot = v.grab();
    QVERIFY(shot.pixel(20, 50) != plain);
    QCOMPARE(shot.pixel(150, 50), plain);
    // moveMode 2 outlines them all again.
    v.widget->moveMode = 2;
    QVERIFY(v.grab().pixel(150, 50) != plain);
    // Result view: positioning areas are never drawn; source 2 draws no areas.
    v.rect(QRect(20, 20, 60, 60), FuncDefect, 3, 25, 100, true);
    v.rect(QRect(150, 20, 60, 60), FuncPosition, 3, 25, 100, true);
    gImageSource = 1;
    v.host.state.setScreenMode(ScreenMode(1));
    shot = v.grab();
    QVERIFY(shot.pixel(20, 50) != plain);
    QCOMPARE(shot.pixel(150, 50), plain);
    gImageSource = 2;
    QCOMPARE(v.grab().pixel(20, 50), plain);
}

void TestStationView::recordPicturePaintsScaledOverBlack_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("records");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<double>("pan");
    QTest::newRow("grey, untransformed") << int(QImage::Format_Grayscale8) << QSize(500, 333) << 3 << 1.0 << 0.0;
    QTest::newRow("grey, tile size") << int(QImage::Format_Grayscale8) << QSize(W, H) << 3 << 1.0 << 0.0;
    QTest::newRow("grey, zoomed and moved") << int(QImage::Format_Grayscale8) << QSize(500, 333) << 3 << 1.5 << -17.0;
    QTest::newRow("grey, moved") << int(QImage::Format_Grayscale8) << QSize(100, 90) << 3 << 1.0 << 40.0;
    QTest::newRow("colour") << int(QImage::Format_RGB32) << QSize(123, 457) << 3 << 1.0 << 0.0;
    QTest::newRow("unreadable picture") << int(QImage::Format_Invalid) << QSize() << 3 << 1.0 << 0.0;
    QTest::newRow("empty folder") << int(QImage::Format_Grayscale8) << QSize(500, 333) << 0 << 1.0 << 0.0;
}

// The record sources show the loaded picture stretched over the tile through
// the view's offset and zoom, on black, as QImage's fast scaling gives it.
void TestStationView::recordPicturePaintsScaledOverBlack()
{
    QFETCH(int, format);
    QFETCH(QSize, size);
    QFETCH(int, records);
    QFETCH(double, zoom);
    QFETCH(double, pan);
    View v;
    QImage picture;
    if (format != QImage::Format_Invalid) {
        picture = QImage(size, QImage::Format(format));
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                const int g = (x * 7 + y * 13) % 256;
                picture.setPixel(x, y, format == QImage::Format_Grayscale8 ? uint(g) : qRgb(g, 255 - g, x % 256));
            }
        }
    }
    v.host.record = picture;
    v.host.records = records;
    v.host.zoom = zoom;
    v.host.pan = pan;
    for (int source : {3, 4}) {
        gImageSource = source;
        QImage expected(v.widget->size(), QImage::Format_RGB32);
        expected.fill(Qt::black);
        if (records > 0) {
            QPainter p(&expected);
            p.translate(pan, pan / 2);
            p.scale(zoom, zoom);
            p.drawImage(0, 0, picture.scaled(v.widget->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
        }
        // The tile itself, without its labels.
        QImage shown(v.widget->size(), QImage::Format_RGB32);
        shown.fill(Qt::red);
        v.widget->render(&shown, QPoint(), QRegion(), QWidget::RenderFlags());
        QCOMPARE(shown, expected);
    }
}

void TestStationView::labels_data()
{
    QTest::addColumn<int>("areas");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("showAll");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<QString>("label");
    QTest::newRow("10 areas: limit shown") << 10 << int(FuncSimilarity) << 0 << 70 << 0 << "1: 70 / 5 ";
    QTest::newRow("11 areas: value only") << 11 << int(FuncSimilarity) << 0 << 70 << 0 << "1: 5";
    QTest::newRow("temperature halves") << 1 << int(FuncTempAlarm) << 1 << 65616 << 1310840 << "1: 80--120 / 5 ";
    QTest::newRow("defect shows slot 150") << 1 << int(FuncDefect) << 0 << 25 << 999 << "1: 777 / 5 ";
    QTest::newRow("defect with all params") << 1 << int(FuncDefect) << 1 << 25 << 999 << "1: 999 / 5 ";
    QTest::newRow("spot range") << 1 << int(FuncSpot) << 0 << 4 << 9 << "1: 4--9 / 5 ";
}

void TestStationView::labels()
{
    QFETCH(int, areas);
    QFETCH(int, function);
    QFETCH(int, showAll);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(QString, label);
    View v;
    v.live.showAllAlgoParams() = showAll;
    v.live.alarmArea() = 777;
    for (int k = 0; k < areas; ++k) {
        v.rect(QRect(10 + k, 10, 20, 20), function, 3, lower, upper);
    }
    v.st().data.roiValue[0] = 5;
    QCOMPARE(v.widget->areaLabel(v.edit(), 0, 0), label);
}

void TestStationView::selectionLeavesValuesAlone()
{
    View v;
    v.live.showAllAlgoParams() = 1;
    v.live.ejectorPulseOnNg() = 1;
    // A white-area check whose stored values lie beyond the slider ranges.
    const int i = v.rect(QRect(40, 40, 60, 60), FuncWhiteArea, 40, 900, 90000);
    v.edit().roiOutput[i] = 7;
    press(v.widget.get(), QPoint(60, 60));
    release(v.widget.get(), QPoint(60, 60));
    QCOMPARE(v.st().selectedRoi, i);
    QCOMPARE(v.edit().roiParam[i], 40);
    QCOMPARE(v.edit().roiLower[i], 900);
    QCOMPARE(v.edit().roiUpper[i], 90000);
    QCOMPARE(v.edit().roiOutput[i], 7);
    QCOMPARE(v.widget->outputCombo->currentIndex(), 7);
    QCOMPARE(v.host.hints, 0);
    v.st().data.curTemplate = 0; // measured on the placeholder sample
    QVERIFY(!v.st().data.showMeasure);
    // The operator's own change does write, start the hint and measure.
    v.widget->upperSlider->setValue(300);
    QCOMPARE(v.edit().roiUpper[i], 300);
    QCOMPARE(v.host.hints, 1);
    QVERIFY(v.st().data.showMeasure);
    v.widget->outputCombo->setCurrentIndex(2);
    QCOMPARE(v.edit().roiOutput[i], 2);
}

void TestStationView::spotAndTemperatureHalves()
{
    View v(2); // a thermal camera offers the temperature alarm
    v.live.showAllAlgoParams() = 1;
    const int spot = v.rect(QRect(20, 20, 40, 40), FuncSpot, 12800, 10, 20);
    const int temp = v.rect(QRect(120, 20, 40, 40), FuncTempAlarm, 95, 65616, 100);
    v.select(spot);
    QCOMPARE(v.widget->paramSlider->value(), 0);
    QCOMPARE(v.widget->paramSlider->objectName(), textOf(10));
    QVERIFY(!v.widget->paramSwitchButton->isHidden());
    v.widget->SlotChangeParaShow();
    QCOMPARE(v.widget->paramSlider->value(), 50);
    QCOMPARE(v.widget->paramSlider->objectName(), textOf(11));
    v.widget->paramSlider->setValue(60);
    QCOMPARE(v.edit().roiParam[spot], 15360);

    v.edit().roiLists[0][spot]->setSelected(false);
    v.select(temp);
    QCOMPARE(v.widget->lowerSlider->value(), 80);
    v.widget->SlotChangeParaShow();
    QCOMPARE(v.widget->lowerSlider->value(), 1);
    QCOMPARE(v.widget->lowerSlider->objectName(), textOf(617));
    v.widget->SlotChangeParaShow();
    v.widget->lowerSlider->setValue(-20);
    QCOMPARE(v.edit().roiLower[temp], 131052);
    QCOMPARE(v.host.hints, 0); // packed halves start no hint
}

void TestStationView::changeFunction_data()
{
    QTest::addColumn<QList<int>>("switches");
    QTest::addColumn<int>("from");
    QTest::addColumn<QList<int>>("sequence");
    QTest::newRow("defect and similarity alternate") << QList<int>{165, 199} << int(FuncDefect)
                                                     << QList<int>{6, 0, 6};
    QTest::newRow("temperature skipped on a visible camera") << QList<int>{165, 198, 166} << int(FuncDefect)
                                                             << QList<int>{1, 0};
    QTest::newRow("no switch: nothing changes") << QList<int>{} << int(FuncSpot) << QList<int>{1, 1};
}

void TestStationView::changeFunction()
{
    QFETCH(QList<int>, switches);
    QFETCH(int, from);
    QFETCH(QList<int>, sequence);
    View v;
    for (int slot : switches) {
        v.live[slot] = 1;
    }
    const int i = v.rect(QRect(20, 20, 40, 40), from, 3, 25, 100);
    v.select(i);
    for (int f : sequence) {
        v.widget->SlotChangeFunc();
        QCOMPARE(v.edit().roiFunction[i], f);
    }
}

void TestStationView::panelGeometry()
{
    View v;
    // A tall station so the panel's rows are placed in screen pixels.
    v.widget->resize(W, 1080);
    QCoreApplication::processEvents();
    const int scaleY = 1080 / H;
    Q_UNUSED(scaleY);
    const int i = v.rect(QRect(20, 20, 40, 40));
    v.select(i);
    QCOMPARE(v.widget->add10Button->x(), 1006);
    QCOMPARE(v.widget->sub10Button->x(), 1294);
    const int top = int(20 * v.st().imageScaleY);
    const int bottom = int(60 * v.st().imageScaleY);
    QCOMPARE(v.widget->lowerSlider->y(), bottom + 5);
    gLanguage = 3;
    v.widget->UpdateParaPanel();
    QCOMPARE(v.widget->add10Button->x(), 1126);
    QCOMPARE(v.widget->sub10Button->x(), 1414);
    // An area whose scaled bottom lies 50 px above the screen's edge: above it.
    ROIInterface* shape = v.edit().roiLists[0][i];
    const int frameBottom = int((1080 - 50) / v.st().imageScaleY);
    shape->moveBy(0, frameBottom - 60, W, H);
    shape->updateBounds();
    v.widget->UpdateParaPanel();
    const int newTop = int(boundsOf(shape).top() * v.st().imageScaleY);
    QCOMPARE(v.widget->lowerSlider->y(), newTop - 102);
    Q_UNUSED(top);
}

void TestStationView::moveModeAndNextArea()
{
    View v;
    for (int k = 0; k < 3; ++k) {
        v.rect(QRect(40 + 5 * k, 40, 60, 60));
    }
    v.rect(QRect(200, 150, 30, 30));
    press(v.widget.get(), QPoint(70, 70));
    release(v.widget.get(), QPoint(70, 70));
    QCOMPARE(v.st().selectedRoi, 0);
    for (int expected : {1, 2, 0}) {
        v.widget->SlotNextROI();
        QCOMPARE(v.st().selectedRoi, expected);
    }
    QStringList texts;
    for (int k = 0; k < 3; ++k) {
        v.widget->SlotMoveAll();
        texts << v.widget->moveModeButton->text();
    }
    QCOMPARE(texts, (QStringList{textOf(32), textOf(34), textOf(12)}));
    v.widget->SlotMoveAll();
    v.widget->SlotMoveAll();
    QCOMPARE(v.widget->moveMode, 2);
    QVERIFY(v.widget->lowerSlider->isHidden());
    QTest::mouseClick(v.widget->moveUpButton, Qt::LeftButton);
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(boundsOf(v.edit().roiLists[0][k]).top(), k < 3 ? 39 : 149);
    }
}

void TestStationView::screenshots()
{
    const QString dir = qEnvironmentVariable("KORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        QSKIP("KORVANE_SCREENSHOT_DIR not set");
    }
    QDir().mkpath(dir);
    // Station at single-camera size over a frame of the same aspect.
    auto shoot = [&](View& v, const QString& name) {
        v.widget->resize(1280, 960);
        QCoreApplication::processEvents();
        v.widget->UpdateParaPanel();
        QVERIFY(v.widget->grab().save(dir + QStringLiteral("/stationview-%1.png").arg(name)));
    };
    auto scene = [](View& v, bool live) {
        StationData& d = v.st().data;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                d.displayBuffer[std::size_t(y * W + x)] = uchar(60 + ((x / 20 + y / 20) % 2) * 60);
            }
        }
        v.rect(QRect(30, 30, 80, 60), FuncDefect, 3, 25, 100, live);
        v.add(new Circle(200, 80, 40, 15), FuncSpot, 12800, 10, 200, live);
        const QPoint pts[] = {{40, 150}, {130, 140}, {150, 210}, {60, 220}};
        v.add(new RePolygon(4, pts), FuncWhiteArea, 3, 200, 100, live);
        d.overlayMask.assign(std::size_t(d.pixelCount), 0);
        for (int y = 50; y < 70; ++y) {
            for (int x = 60; x < 85; ++x) d.overlayMask[std::size_t(y * W + x)] = 255;
        }
        for (int k = 0; k < 3; ++k) d.roiValue[k] = 10 * (k + 1);
        d.roiOk[0] = 0;
        d.roiOk[1] = 1;
        d.roiOk[2] = 1;
        d.resultOk = 0;
    };
    {
        View v;
        gImageSource = 1;
        v.host.state.setScreenMode(ScreenMode(1));
        scene(v, true);
        shoot(v, QStringLiteral("run"));
        v.host.state.setScreenMode(ScreenMode(2));
        v.st().blinkState = 1;
        shoot(v, QStringLiteral("alarm-red"));
    }
    for (int language : {1, 3}) {
        View v;
        gLanguage = language;
        v.live.showAllAlgoParams() = 1;
        v.live.algoDefect() = 1;
        v.live.ejectorPulseOnNg() = 1;
        scene(v, false);
        v.st().data.ignoreMasks[0][std::size_t(40 * W + 40)] = 255;
        v.select(0);
        shoot(v, language == 3 ? QStringLiteral("template-ja") : QStringLiteral("template"));
        if (language == 1) {
            v.edit().roiLists[0][0]->setSelected(false);
            v.select(1);
            shoot(v, QStringLiteral("ring"));
            v.widget->moveMode = 2;
            v.widget->update();
            QVERIFY(v.widget->grab().save(dir + QStringLiteral("/stationview-movemode2.png")));
            v.widget->moveMode = 0;
            v.edit().roiLists[0][1]->setSelected(false);
            v.st().selectedRoi = -1;
            v.widget->UpdateParaPanel();
            v.host.state.setDrawMode(DrawMode(2));
            v.host.freehand = true;
            press(v.widget.get(), QPoint(700, 600));
            for (int k = 0; k < 40; ++k) {
                drag(v.widget.get(), QPoint(700 + int(200 * std::sin(k / 6.0)), 600 + int(150 * std::cos(k / 6.0))));
            }
            QVERIFY(v.widget->grab().save(dir + QStringLiteral("/stationview-finger-polygon.png")));
        }
    }
}

QTEST_MAIN(TestStationView)
#include "tst_stationview.moc"
