#include "circle.h"
#include "clustomrect.h"
#include "processstate.h"
#include "repolygon.h"
#include "roiinterface.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QTextStream>
#include <QtTest>

#include <memory>

namespace {

using Shape = std::unique_ptr<ROIInterface>;

QRect corners(int l, int t, int r, int b)
{
    QRect rect;
    rect.setCoords(l, t, r, b);
    return rect;
}

Shape rect(int l, int t, int r, int b)
{
    return Shape(new ClustomRect(l, t, r, b));
}

Shape ring(int xc, int yc, int r, int rn)
{
    return Shape(new Circle(xc, yc, r, rn));
}

Shape polygon(std::initializer_list<QPoint> vertices)
{
    const std::vector<QPoint> v(vertices);
    Shape shape(new RePolygon(int(v.size()), v.data()));
    shape->updateBounds();
    return shape;
}

Shape triangle()
{
    return polygon({{10, 10}, {50, 10}, {30, 40}});
}

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

QJsonObject jsonOf(const ROIInterface& shape)
{
    QJsonObject out;
    shape.toJson(out);
    return out;
}

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// Reads a record the way the area store does: the leading number first.
Shape readRecord(int type, const QString& record, int width, int height)
{
    QString text = record;
    QTextStream stream(&text, QIODevice::ReadOnly);
    int pointCount = 0;
    stream >> pointCount;
    Shape shape(createROI(type));
    shape->fromText(stream, QJsonObject{{"width", width}, {"height", height}, {"pointCount", pointCount}});
    shape->updateBounds();
    return shape;
}

} // namespace

Q_DECLARE_METATYPE(std::shared_ptr<ROIInterface>)

using SharedShape = std::shared_ptr<ROIInterface>;

class TestAreaShapes : public QObject {
    Q_OBJECT

private slots:
    void records_data();
    void records();
    void readRecords_data();
    void readRecords();
    void ringPacksHighRadiiRoundTrip();
    void jsonRoundTripAndEquality_data();
    void jsonRoundTripAndEquality();
    void ringJsonIsNormalised();
    void polygonRefusesCountsBeyondItsTable();
    void createROIByType_data();
    void createROIByType();
    void simpleResults();
    void masks_data();
    void masks();
    void hitTest_data();
    void hitTest();
    void hitHandle_data();
    void hitHandle();
    void dragHandle_data();
    void dragHandle();
    void arrowSteps_data();
    void arrowSteps();
    void moves();
    void drawing();
};

void TestAreaShapes::records_data()
{
    QTest::addColumn<SharedShape>("shape");
    QTest::addColumn<QString>("record");
    QTest::newRow("default rectangle") << SharedShape(rect(50, 50, 100, 100)) << "0 50 50 100 100";
    QTest::newRow("ring") << SharedShape(ring(200, 150, 40, 10)) << "0 200 150 655400";
    QTest::newRow("ring with equal radii") << SharedShape(ring(200, 150, 40, 40)) << "0 200 150 2621480";
    QTest::newRow("full disc") << SharedShape(ring(60, 70, 25, 0)) << "0 60 70 25";
    QTest::newRow("triangle ends with a blank") << SharedShape(triangle()) << "3 10 10 50 10 30 40 ";
    QTest::newRow("empty polygon") << SharedShape(new RePolygon()) << "0 ";
}

void TestAreaShapes::records()
{
    QFETCH(SharedShape, shape);
    QFETCH(QString, record);
    QCOMPARE(shape->toText(), record);
    // Read back on a 640 x 480 image it is the same shape.
    Shape back = readRecord(shape->type(), record, 640, 480);
    QVERIFY(back->isEqual(shape.get()));
    QCOMPARE(QRect(*back), QRect(*shape));
}

void TestAreaShapes::readRecords_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("expected");  // JSON form
    QTest::addColumn<QRect>("bounds");
    // All read for a 640 x 480 image.
    QTest::newRow("rectangle") << 1 << "0 50 50 100 100" << R"({"bottom":100,"right":100,"x":50,"y":50})"
                               << corners(50, 50, 100, 100);
    QTest::newRow("rectangle beyond left and right") << 1 << "0 1 10 700 20"
                                                     << R"({"bottom":20,"right":637,"x":3,"y":10})"
                                                     << corners(3, 10, 637, 20);
    QTest::newRow("rectangle beyond top and bottom") << 1 << "0 10 0 20 999"
                                                     << R"({"bottom":477,"right":20,"x":10,"y":3})"
                                                     << corners(10, 3, 20, 477);
    QTest::newRow("rectangle record cut short") << 1 << "0 50 50" << R"({"bottom":3,"right":3,"x":50,"y":50})"
                                                << corners(50, 50, 3, 3);
    QTest::newRow("ring crossing the left border") << 4 << "0 10 100 1310740"
                                                   << R"({"r":7,"rn":7,"xc":10,"yc":100})" << QRect(3, 93, 14, 14);
    QTest::newRow("ring") << 4 << "0 200 150 655400" << R"({"r":40,"rn":10,"xc":200,"yc":150})"
                          << QRect(160, 110, 80, 80);
    QTest::newRow("ring crossing the right border") << 4 << "0 630 240 40" << R"({"r":9,"rn":0,"xc":630,"yc":240})"
                                                    << QRect(621, 231, 18, 18);
    QTest::newRow("ring crossing the top border") << 4 << "0 320 5 30" << R"({"r":2,"rn":0,"xc":320,"yc":5})"
                                                  << QRect(318, 3, 4, 4);
    QTest::newRow("ring with all radius bits set") << 4 << "0 320 240 -1"
                                                   << R"({"r":239,"rn":239,"xc":320,"yc":240})"
                                                   << QRect(81, 1, 478, 478);
    QTest::newRow("triangle") << 2 << "3 10 10 50 10 30 40 "
                              << R"({"points":[{"x":10,"y":10},{"x":50,"y":10},{"x":30,"y":40}]})"
                              << QRect(10, 10, 40, 30);
    QTest::newRow("polygon beyond the image") << 2 << "3 0 10 700 10 30 999 "
                                              << R"({"points":[{"x":3,"y":10},{"x":637,"y":10},{"x":30,"y":477}]})"
                                              << QRect(3, 10, 634, 467);
    QTest::newRow("polygon record cut short") << 2 << "2 5 5"
                                              << R"({"points":[{"x":5,"y":5},{"x":3,"y":3}]})" << QRect(3, 3, 2, 2);
    QTest::newRow("polygon count 100000") << 2 << "100000 5 5 6 6" << R"({"points":[]})" << QRect(0, 0, 0, 0);
    QTest::newRow("polygon count -5") << 2 << "-5 5 5 6 6" << R"({"points":[]})" << QRect(0, 0, 0, 0);
}

void TestAreaShapes::readRecords()
{
    QFETCH(int, type);
    QFETCH(QString, record);
    QFETCH(QString, expected);
    QFETCH(QRect, bounds);
    Shape shape = readRecord(type, record, 640, 480);
    QCOMPARE(compact(jsonOf(*shape)), compact(json(expected.toUtf8().constData())));
    QCOMPARE(QRect(*shape), bounds);
}

void TestAreaShapes::ringPacksHighRadiiRoundTrip()
{
    // Radii above 32767 set the sign bit of the packed number.
    const Shape big = ring(50000, 50000, 40000, 40000);
    QCOMPARE(big->toText(), QStringLiteral("0 50000 50000 -1673487296"));
    const Shape back = readRecord(ROICircle, big->toText(), 100000, 100000);
    QVERIFY(back->isEqual(big.get()));
}

void TestAreaShapes::jsonRoundTripAndEquality_data()
{
    QTest::addColumn<SharedShape>("a");
    QTest::addColumn<SharedShape>("b");
    QTest::addColumn<bool>("equal");
    QTest::newRow("rectangle and ring with one bounding box")
        << SharedShape(rect(10, 10, 49, 49)) << SharedShape(ring(30, 30, 20, 0)) << false;
    QTest::newRow("polygon starting elsewhere")
        << SharedShape(triangle()) << SharedShape(polygon({{50, 10}, {30, 40}, {10, 10}})) << false;
    QTest::newRow("same polygon") << SharedShape(triangle()) << SharedShape(triangle()) << true;
    QTest::newRow("rectangles differing in bottom")
        << SharedShape(rect(10, 10, 49, 49)) << SharedShape(rect(10, 10, 49, 50)) << false;
    QTest::newRow("rings differing in inner radius")
        << SharedShape(ring(30, 30, 20, 5)) << SharedShape(ring(30, 30, 20, 6)) << false;
    QTest::newRow("same ring") << SharedShape(ring(30, 30, 20, 5)) << SharedShape(ring(30, 30, 20, 5)) << true;
}

void TestAreaShapes::jsonRoundTripAndEquality()
{
    QFETCH(SharedShape, a);
    QFETCH(SharedShape, b);
    QFETCH(bool, equal);
    QCOMPARE(a->isEqual(b.get()), equal);
    QCOMPARE(b->isEqual(a.get()), equal);
    QVERIFY(!a->isEqual(nullptr));

    // Selection plays no part; a clone through JSON is equal and independent.
    b->setSelected(true);
    QCOMPARE(a->isEqual(b.get()), equal);
    Shape clone(cloneROI(*a));
    QVERIFY(clone.get() != a.get());
    QVERIFY(clone->isEqual(a.get()));
    QCOMPARE(QRect(*clone), QRect(*a));
    QVERIFY(!clone->isSelected());
}

void TestAreaShapes::ringJsonIsNormalised()
{
    Circle c;
    c.fromJson(json(R"({"xc":50,"yc":60,"r":10,"rn":20})"));
    QCOMPARE(c.rn, 10);
    QCOMPARE(QRect(c), QRect(40, 50, 20, 20));
    c.fromJson(json(R"({"xc":50,"yc":60,"r":10,"rn":-4})"));
    QCOMPARE(c.rn, 0);
    // A negative radius would give a square of negative side.
    c.fromJson(json(R"({"xc":50,"yc":60,"r":-5,"rn":3})"));
    QCOMPARE(c.r, 0);
    QCOMPARE(c.rn, 0);
    QVERIFY(c.createMask().empty());
    c.fromJson(QJsonObject());
    QCOMPARE(compact(jsonOf(c)), QStringLiteral(R"({"r":0,"rn":0,"xc":0,"yc":0})"));
}

void TestAreaShapes::polygonRefusesCountsBeyondItsTable()
{
    std::vector<QPoint> many(RePolygon::MaxPoints + 1, QPoint(7, 7));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("8097 vertices"));
    RePolygon tooMany(RePolygon::MaxPoints + 1, many.data());
    QCOMPARE(tooMany.pointCount, 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("-1 vertices"));
    RePolygon negative(-1, many.data());
    QCOMPARE(negative.pointCount, 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("3 vertices"));
    RePolygon noPoints(3, nullptr);
    QCOMPARE(noPoints.pointCount, 0);

    RePolygon full(RePolygon::MaxPoints, many.data());
    QCOMPARE(full.pointCount, RePolygon::MaxPoints);

    QJsonArray array;
    for (int i = 0; i <= RePolygon::MaxPoints; ++i) {
        array.append(QJsonObject{{"x", i % 600}, {"y", 5}});
    }
    RePolygon fromJson;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("8097 vertices"));
    fromJson.fromJson(QJsonObject{{"points", array}});
    QCOMPARE(fromJson.pointCount, 0);
    QVERIFY(fromJson.createMask().empty());
    array.removeLast();
    fromJson.fromJson(QJsonObject{{"points", array}});
    QCOMPARE(fromJson.pointCount, RePolygon::MaxPoints);
    QCOMPARE(fromJson.points[RePolygon::MaxPoints - 1], QPoint((RePolygon::MaxPoints - 1) % 600, 5));
}

void TestAreaShapes::createROIByType_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("type");
    QTest::newRow("1 rectangle") << 1 << 1;
    QTest::newRow("2 polygon") << 2 << 2;
    QTest::newRow("4 ring") << 4 << 4;
    QTest::newRow("3 rectangle") << 3 << 1;
    QTest::newRow("0 rectangle") << 0 << 1;
    QTest::newRow("-7 rectangle") << -7 << 1;
}

void TestAreaShapes::createROIByType()
{
    QFETCH(int, code);
    QFETCH(int, type);
    Shape shape(createROI(code));
    QCOMPARE(shape->type(), type);
    QCOMPARE(QRect(*shape), QRect(0, 0, 0, 0));
    QVERIFY(!shape->isSelected());
}

void TestAreaShapes::simpleResults()
{
    const Shape r = rect(20, 30, 60, 70);
    const Shape c = ring(100, 100, 30, 10);
    const Shape p = triangle();
    QCOMPARE(r->objectCount(), 2);
    QCOMPARE(c->objectCount(), 3);
    QCOMPARE(p->objectCount(), 3);
    QCOMPARE(r->anchorPoint(), QPoint(20, 30));
    QCOMPARE(c->anchorPoint(), QPoint(70, 70));
    QCOMPARE(p->anchorPoint(), QPoint(10, 10));

    ProcessState state;
    initTextTable();
    gLanguage = 0;
    QCOMPARE(r->typeName(), QStringLiteral("矩形"));
    gLanguage = 1;
    QCOMPARE(r->typeName(), QStringLiteral("rectangular "));
    QCOMPARE(c->typeName(), QStringLiteral("circle"));
    QCOMPARE(p->typeName(), QStringLiteral("Polygon"));
}

void TestAreaShapes::masks_data()
{
    QTest::addColumn<SharedShape>("shape");
    QTest::addColumn<QSize>("size");  // columns x rows; empty for no mask
    QTest::addColumn<QList<QPoint>>("on");   // mask coordinates that are 255
    QTest::addColumn<QList<QPoint>>("off");  // and 0
    QTest::addColumn<int>("minCount");
    QTest::addColumn<int>("maxCount");

    Shape box = rect(20, 30, 29, 34);
    QTest::newRow("rectangle all set") << SharedShape(std::move(box)) << QSize(10, 5)
                                       << QList<QPoint>{{0, 0}, {9, 4}} << QList<QPoint>{} << 50 << 50;
    QTest::newRow("ring with equal radii is empty")
        << SharedShape(ring(50, 50, 20, 20)) << QSize(40, 40) << QList<QPoint>{} << QList<QPoint>{{20, 20}, {20, 2}}
        << 0 << 0;
    QTest::newRow("full disc") << SharedShape(ring(50, 50, 10, 0)) << QSize(20, 20)
                               << QList<QPoint>{{10, 10}, {10, 2}, {3, 10}} << QList<QPoint>{{0, 0}, {19, 19}}
                               << 280 << 350;
    QTest::newRow("ring") << SharedShape(ring(50, 50, 20, 10)) << QSize(40, 40)
                          << QList<QPoint>{{20, 5}, {35, 20}} << QList<QPoint>{{20, 20}, {20, 12}, {0, 0}}
                          << 850 << 1000;
    QTest::newRow("triangle") << SharedShape(triangle()) << QSize(40, 30)
                              << QList<QPoint>{{20, 5}, {1, 1}} << QList<QPoint>{{2, 28}, {38, 28}} << 550 << 680;
    QTest::newRow("polygon without vertices") << SharedShape(new RePolygon()) << QSize() << QList<QPoint>{}
                                              << QList<QPoint>{} << 0 << 0;
    Shape inverted = rect(50, 50, 100, 100);
    inverted->dragHandle(7, QPoint(0, 0), QPoint(-80, -80));
    QTest::newRow("rectangle dragged inside out") << SharedShape(std::move(inverted)) << QSize() << QList<QPoint>{}
                                                  << QList<QPoint>{} << 0 << 0;
    Shape huge(new Circle());
    huge->fromJson(json(R"({"xc":0,"yc":0,"r":1000000,"rn":0})"));
    QTest::newRow("absurd ring") << SharedShape(std::move(huge)) << QSize() << QList<QPoint>{} << QList<QPoint>{}
                                 << 0 << 0;
}

void TestAreaShapes::masks()
{
    QFETCH(SharedShape, shape);
    QFETCH(QSize, size);
    QFETCH(QList<QPoint>, on);
    QFETCH(QList<QPoint>, off);
    QFETCH(int, minCount);
    QFETCH(int, maxCount);
    const cv::Mat mask = shape->createMask();
    if (size.isEmpty()) {
        QVERIFY(mask.empty());
        return;
    }
    QCOMPARE(mask.type(), CV_8UC1);
    QCOMPARE(mask.cols, size.width());
    QCOMPARE(mask.rows, size.height());
    QCOMPARE(mask.cols, shape->width());
    QCOMPARE(mask.rows, shape->height());
    for (const QPoint& p : on) {
        QCOMPARE(int(mask.at<uchar>(p.y(), p.x())), 255);
    }
    for (const QPoint& p : off) {
        QCOMPARE(int(mask.at<uchar>(p.y(), p.x())), 0);
    }
    const int count = cv::countNonZero(mask);
    QVERIFY2(count >= minCount && count <= maxCount, qPrintable(QString::number(count)));
    // Only the two values.
    QCOMPARE(cv::countNonZero(mask == 255) + cv::countNonZero(mask == 0), int(mask.total()));
}

void TestAreaShapes::hitTest_data()
{
    QTest::addColumn<SharedShape>("shape");
    QTest::addColumn<QPoint>("p");
    QTest::addColumn<bool>("hit");
    const SharedShape r(rect(50, 50, 100, 100));
    QTest::newRow("rect: grown corner") << r << QPoint(30, 30) << true;
    QTest::newRow("rect: just left of the grown box") << r << QPoint(29, 50) << false;
    QTest::newRow("rect: grown bottom-right") << r << QPoint(120, 120) << true;
    QTest::newRow("rect: just right") << r << QPoint(121, 100) << false;
    const SharedShape c(ring(100, 100, 30, 0));
    QTest::newRow("ring: grown left") << c << QPoint(50, 100) << true;
    QTest::newRow("ring: left outside") << c << QPoint(49, 100) << false;
    QTest::newRow("ring: grown right") << c << QPoint(149, 100) << true;
    QTest::newRow("ring: right outside") << c << QPoint(150, 100) << false;
    // 59 px wide: the box grown to the left and up is 79 px wide.
    const SharedShape small(polygon({{100, 100}, {159, 100}, {130, 150}}));
    QTest::newRow("small polygon: box corner outside the polygon") << small << QPoint(82, 82) << true;
    QTest::newRow("small polygon: box bottom right") << small << QPoint(158, 149) << true;
    QTest::newRow("small polygon: box does not grow right") << small << QPoint(159, 100) << false;
    const SharedShape square(polygon({{100, 100}, {300, 100}, {300, 300}, {100, 300}}));
    QTest::newRow("large polygon: inside") << square << QPoint(200, 200) << true;
    QTest::newRow("large polygon: on the outline") << square << QPoint(100, 200) << false;
    QTest::newRow("large polygon: in the box, outside") << square << QPoint(90, 200) << false;
    QTest::newRow("large polygon: outside") << square << QPoint(301, 200) << false;
}

void TestAreaShapes::hitTest()
{
    QFETCH(SharedShape, shape);
    QFETCH(QPoint, p);
    QFETCH(bool, hit);
    QCOMPARE(shape->hitTest(p), hit);
}

void TestAreaShapes::hitHandle_data()
{
    QTest::addColumn<SharedShape>("shape");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QPoint>("p");
    QTest::addColumn<int>("handle");
    const SharedShape r(rect(50, 50, 100, 100));  // edge tolerance 51 / 4 = 12
    QTest::newRow("rect unselected corner") << r << false << QPoint(50, 50) << -1;
    QTest::newRow("rect top-left") << r << true << QPoint(50, 50) << 0;
    QTest::newRow("rect top-left within 19") << r << true << QPoint(69, 69) << 0;
    QTest::newRow("rect top-right") << r << true << QPoint(100, 50) << 2;
    QTest::newRow("rect bottom-left") << r << true << QPoint(50, 100) << 5;
    QTest::newRow("rect bottom-right") << r << true << QPoint(100, 100) << 7;
    QTest::newRow("rect top edge") << r << true << QPoint(75, 50) << 1;
    QTest::newRow("rect top edge, 11 inside") << r << true << QPoint(75, 61) << 1;
    QTest::newRow("rect 12 below the top edge") << r << true << QPoint(75, 62) << -1;
    QTest::newRow("rect left edge") << r << true << QPoint(50, 75) << 3;
    QTest::newRow("rect right edge") << r << true << QPoint(100, 75) << 4;
    QTest::newRow("rect bottom edge") << r << true << QPoint(75, 100) << 6;
    QTest::newRow("rect centre") << r << true << QPoint(75, 75) << -1;
    QTest::newRow("rect left edge line beyond the end") << r << true << QPoint(50, 140) << -1;

    const SharedShape c(ring(200, 200, 50, 10));  // outline band 30..70
    QTest::newRow("ring unselected") << c << false << QPoint(200, 250) << -1;
    QTest::newRow("ring below the centre") << c << true << QPoint(200, 250) << 1;
    QTest::newRow("ring above") << c << true << QPoint(200, 150) << 6;
    QTest::newRow("ring left") << c << true << QPoint(150, 200) << 3;
    QTest::newRow("ring right") << c << true << QPoint(250, 200) << 4;
    QTest::newRow("ring lower left") << c << true << QPoint(165, 235) << 0;
    QTest::newRow("ring lower right") << c << true << QPoint(235, 235) << 2;
    QTest::newRow("ring upper left") << c << true << QPoint(165, 165) << 5;
    QTest::newRow("ring upper right") << c << true << QPoint(235, 165) << 7;
    QTest::newRow("ring near the centre") << c << true << QPoint(200, 205) << -1;
    QTest::newRow("ring outer band edge") << c << true << QPoint(200, 270) << 1;
    QTest::newRow("ring beyond the band") << c << true << QPoint(200, 271) << -1;

    const SharedShape p(triangle());
    QTest::newRow("polygon unselected") << p << false << QPoint(10, 10) << -1;
    QTest::newRow("polygon vertex 0") << p << true << QPoint(12, 12) << 0;
    QTest::newRow("polygon vertex 1") << p << true << QPoint(48, 15) << 1;
    QTest::newRow("polygon vertex 2") << p << true << QPoint(30, 39) << 2;
    QTest::newRow("polygon no vertex") << p << true << QPoint(30, 15) << -1;
    const SharedShape close(polygon({{10, 10}, {25, 10}, {60, 60}}));
    QTest::newRow("polygon first of two near vertices") << close << true << QPoint(20, 10) << 0;
}

void TestAreaShapes::hitHandle()
{
    QFETCH(SharedShape, shape);
    QFETCH(bool, selected);
    QFETCH(QPoint, p);
    QFETCH(int, handle);
    shape->setSelected(selected);
    QCOMPARE(shape->isSelected(), selected);
    int found = 99;
    QCOMPARE(shape->hitHandle(p, &found), handle >= 0);
    QCOMPARE(found, handle);
}

void TestAreaShapes::dragHandle_data()
{
    QTest::addColumn<int>("handle");
    QTest::addColumn<QRect>("result");
    // Rectangle (50, 50)-(100, 100) dragged by (5, 7).
    QTest::newRow("0") << 0 << corners(55, 57, 100, 100);
    QTest::newRow("1") << 1 << corners(50, 57, 100, 100);
    QTest::newRow("2") << 2 << corners(50, 57, 105, 100);
    QTest::newRow("3") << 3 << corners(55, 50, 100, 100);
    QTest::newRow("4") << 4 << corners(50, 50, 105, 100);
    QTest::newRow("5") << 5 << corners(55, 50, 100, 107);
    QTest::newRow("6") << 6 << corners(50, 50, 100, 107);
    QTest::newRow("7") << 7 << corners(50, 50, 105, 107);
    QTest::newRow("8 does nothing") << 8 << corners(50, 50, 100, 100);
    QTest::newRow("-1 does nothing") << -1 << corners(50, 50, 100, 100);
}

void TestAreaShapes::dragHandle()
{
    QFETCH(int, handle);
    QFETCH(QRect, result);
    Shape r = rect(50, 50, 100, 100);
    r->dragHandle(handle, QPoint(10, 10), QPoint(15, 17));
    QCOMPARE(QRect(*r), result);

    // The ring takes its outer radius from the distance to the end point.
    Circle c(100, 100, 20, 5);
    c.dragHandle(handle, QPoint(0, 0), QPoint(130, 140));
    QCOMPARE(c.r, 50);
    QCOMPARE(QRect(c), QRect(50, 50, 100, 100));
    c.dragHandle(handle, QPoint(0, 0), QPoint(101, 101));
    QCOMPARE(c.r, 1);
    QCOMPARE(c.rn, 1);

    // A polygon moves the vertex of that number, if it has one.
    Shape p = triangle();
    p->dragHandle(handle, QPoint(10, 10), QPoint(13, 8));
    QJsonArray points = jsonOf(*p).value("points").toArray();
    if (handle >= 0 && handle < 3) {
        const QPoint moved(points[handle].toObject().value("x").toInt(), points[handle].toObject().value("y").toInt());
        const QPoint original = QList<QPoint>{{10, 10}, {50, 10}, {30, 40}}.at(handle);
        QCOMPARE(moved, original + QPoint(3, -2));
    } else {
        QVERIFY(p->isEqual(triangle().get()));
    }
}

void TestAreaShapes::arrowSteps_data()
{
    QTest::addColumn<SharedShape>("shape");
    QTest::addColumn<int>("object");
    QTest::addColumn<int>("dir");
    QTest::addColumn<QString>("expected");  // JSON after the step (and updateBounds)
    // Image 640 x 480.
    auto r = [] { return SharedShape(rect(50, 50, 100, 100)); };
    QTest::newRow("rect top-left up") << r() << 0 << 0 << R"({"bottom":100,"right":100,"x":50,"y":49})";
    QTest::newRow("rect top-left left") << r() << 0 << 1 << R"({"bottom":100,"right":100,"x":49,"y":50})";
    QTest::newRow("rect top-left down") << r() << 0 << 2 << R"({"bottom":100,"right":100,"x":50,"y":51})";
    QTest::newRow("rect top-left right") << r() << 0 << 3 << R"({"bottom":100,"right":100,"x":51,"y":50})";
    QTest::newRow("rect bottom-right up") << r() << 1 << 0 << R"({"bottom":99,"right":100,"x":50,"y":50})";
    QTest::newRow("rect bottom-right left") << r() << 1 << 1 << R"({"bottom":100,"right":99,"x":50,"y":50})";
    QTest::newRow("rect bottom-right down") << r() << 1 << 2 << R"({"bottom":101,"right":100,"x":50,"y":50})";
    QTest::newRow("rect any other object") << r() << 7 << 3 << R"({"bottom":100,"right":101,"x":50,"y":50})";
    QTest::newRow("rect unknown direction") << r() << 0 << 4 << R"({"bottom":100,"right":100,"x":50,"y":50})";
    QTest::newRow("rect held at the left margin") << SharedShape(rect(3, 3, 20, 20)) << 0 << 1
                                                  << R"({"bottom":20,"right":20,"x":3,"y":3})";
    QTest::newRow("rect held at the right margin") << SharedShape(rect(3, 3, 637, 20)) << 1 << 3
                                                   << R"({"bottom":20,"right":637,"x":3,"y":3})";

    auto c = [] { return SharedShape(ring(100, 100, 30, 10)); };
    QTest::newRow("ring inner +10") << c() << 0 << 0 << R"({"r":30,"rn":20,"xc":100,"yc":100})";
    QTest::newRow("ring inner -10") << c() << 0 << 3 << R"({"r":30,"rn":0,"xc":100,"yc":100})";
    QTest::newRow("ring inner capped by outer") << SharedShape(ring(100, 100, 30, 25)) << 0 << 0
                                                << R"({"r":30,"rn":30,"xc":100,"yc":100})";
    QTest::newRow("ring outer +10") << c() << 1 << 0 << R"({"r":40,"rn":10,"xc":100,"yc":100})";
    QTest::newRow("ring outer +1") << c() << 1 << 1 << R"({"r":31,"rn":10,"xc":100,"yc":100})";
    QTest::newRow("ring outer -10") << c() << 1 << 3 << R"({"r":20,"rn":10,"xc":100,"yc":100})";
    QTest::newRow("ring centre left") << c() << 2 << 1 << R"({"r":30,"rn":10,"xc":99,"yc":100})";
    QTest::newRow("ring centre down") << c() << 2 << 2 << R"({"r":30,"rn":10,"xc":100,"yc":101})";
    // The square is clipped to (3, 82)-(27, 117); the ring is re-derived from it.
    QTest::newRow("ring clipped at the border") << SharedShape(ring(10, 100, 8, 0)) << 1 << 0
                                                << R"({"r":12,"rn":0,"xc":15,"yc":94})";

    auto p = [] { return SharedShape(triangle()); };
    QTest::newRow("polygon vertex 1 down") << p() << 1 << 2
                                           << R"({"points":[{"x":10,"y":10},{"x":50,"y":11},{"x":30,"y":40}]})";
    QTest::newRow("polygon vertex 0 left") << p() << 0 << 1
                                           << R"({"points":[{"x":9,"y":10},{"x":50,"y":10},{"x":30,"y":40}]})";
    QTest::newRow("polygon object beyond the count") << p() << 3 << 2
                                                     << R"({"points":[{"x":10,"y":10},{"x":50,"y":10},{"x":30,"y":40}]})";
    QTest::newRow("polygon negative object") << p() << -1 << 2
                                             << R"({"points":[{"x":10,"y":10},{"x":50,"y":10},{"x":30,"y":40}]})";
    QTest::newRow("polygon vertex held at the margin") << SharedShape(polygon({{3, 10}, {50, 10}, {30, 40}})) << 0
                                                       << 1
                                                       << R"({"points":[{"x":3,"y":10},{"x":50,"y":10},{"x":30,"y":40}]})";
}

void TestAreaShapes::arrowSteps()
{
    QFETCH(SharedShape, shape);
    QFETCH(int, object);
    QFETCH(int, dir);
    QFETCH(QString, expected);
    shape->adjustObject(object, dir, 640, 480);
    shape->updateBounds();  // as the editor does after every step
    QCOMPARE(compact(jsonOf(*shape)), compact(json(expected.toUtf8().constData())));
}

void TestAreaShapes::moves()
{
    // Rectangles and rings move without limit; the ring's centre follows at updateBounds.
    Shape r = rect(50, 50, 100, 100);
    r->moveBy(-100, 5, 640, 480);
    QCOMPARE(QRect(*r), corners(-50, 55, 0, 105));
    Circle c(100, 100, 30, 10);
    c.moveBy(10, -4, 640, 480);
    QCOMPARE(c.xc, 100);
    c.updateBounds();
    QCOMPARE(c.xc, 110);
    QCOMPARE(c.yc, 96);
    QCOMPARE(c.r, 30);

    // A polygon's offset is reduced so that its bounding box stays in the image.
    Shape p = triangle();  // bounds (10, 10) 40 x 30: right 49, bottom 39
    p->moveBy(-20, -50, 640, 480);
    QCOMPARE(compact(jsonOf(*p)), QStringLiteral(R"({"points":[{"x":0,"y":0},{"x":40,"y":0},{"x":20,"y":30}]})"));
    p = triangle();
    p->moveBy(700, 500, 640, 480);
    // right + dx < 640 with right = largest x - 1: the largest x reaches 640.
    QCOMPARE(compact(jsonOf(*p)),
             QStringLiteral(R"({"points":[{"x":600,"y":450},{"x":640,"y":450},{"x":620,"y":480}]})"));
    QCOMPARE(QRect(*p), QRect(600, 450, 40, 30));
}

void TestAreaShapes::drawing()
{
    TestWorkDir dir;
    QVERIFY(dir.isValid());
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::black);

    const Shape r = rect(50, 50, 150, 120);
    Circle c(270, 100, 50, 20);
    c.setSelected(true);
    const Shape p = polygon({{60, 200}, {180, 180}, {150, 280}, {90, 260}});
    {
        QPainter painter(&image);
        painter.setPen(QPen(Qt::red, 1));
        r->draw(&painter);
        QCOMPARE(painter.pen().width(), 3);
        c.draw(&painter);
        // The painter keeps the last pen the shape set: the inner circle's.
        QCOMPARE(painter.pen().color(), QColor(Qt::yellow));
        painter.setPen(QPen(Qt::green, 1));
        p->draw(&painter);
    }
    QCOMPARE(image.pixelColor(100, 50), QColor(Qt::red));    // rectangle's top edge
    QCOMPARE(image.pixelColor(100, 49), QColor(Qt::red));    // 3 px wide
    QCOMPARE(image.pixelColor(100, 85), QColor(Qt::black));  // not filled
    QCOMPARE(image.pixelColor(270, 50), QColor(Qt::magenta)); // selected outer circle
    QCOMPARE(image.pixelColor(270, 80), QColor(Qt::yellow));  // inner circle
    QCOMPARE(image.pixelColor(270, 100), QColor(Qt::black));
    QCOMPARE(image.pixelColor(60, 200), QColor(Qt::green));   // a polygon vertex
    QVERIFY(image.save(dir.filePath("shapes.png")));

    // Scaled by one half: every coordinate and size halved and truncated.
    QImage half(200, 150, QImage::Format_RGB32);
    half.fill(Qt::black);
    {
        QPainter painter(&half);
        painter.setPen(QPen(Qt::red, 1));
        r->drawScaled(&painter, 0.5f, 0.5f);
        c.drawScaled(&painter, 0.5f, 0.5f);
        painter.setPen(QPen(Qt::green, 1));
        p->drawScaled(&painter, 0.5f, 0.5f);
    }
    QCOMPARE(half.pixelColor(50, 25), QColor(Qt::red));        // (25, 25) 50 x 35
    QCOMPARE(half.pixelColor(135, 25), QColor(Qt::magenta));   // outer top at y 25
    QCOMPARE(half.pixelColor(135, 40), QColor(Qt::yellow));    // inner top at y 40
    QCOMPARE(half.pixelColor(30, 100), QColor(Qt::green));
    QVERIFY(half.save(dir.filePath("shapes-half.png")));

    // For looking at them by eye.
    const QString keep = qEnvironmentVariable("KORVANE_KEEP_PICTURES");
    if (!keep.isEmpty()) {
        QDir().mkpath(keep);
        image.save(keep + "/shapes.png");
        half.save(keep + "/shapes-half.png");
    }
}

QTEST_MAIN(TestAreaShapes)
#include "tst_areashapes.moc"
