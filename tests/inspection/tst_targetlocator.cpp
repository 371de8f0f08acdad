#include <QtTest>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "imagehelpers.h"
#include "syntheticframe.h"
#include "targetlocator.h"

namespace {

// What the detection engine does around the locator: the positioning area is
// the part's box on the template frame, its centre the reference point, and
// the search window the area grown by maxOffset and clipped to the frame; the
// frame's displacement is the located shift minus the window's origin.
struct Positioning {
    SyntheticScene scene;
    cv::Rect area;
    cv::Rect window;
    cv::Mat templateFrame;
    TargetLocator locator;

    Positioning(const SyntheticScene& s, int maxOffset) : scene(s)
    {
        area = syntheticPartBox(scene, 4);
        window = cv::Rect(area.x - maxOffset, area.y - maxOffset, area.width + 2 * maxOffset,
                          area.height + 2 * maxOffset)
            & cv::Rect(0, 0, scene.width, scene.height);
        templateFrame = makeSyntheticFrame(scene).image;
    }
    int referenceX() const { return area.x + area.width / 2; }
    int referenceY() const { return area.y + area.height / 2; }

    bool setup(int angleTo)
    {
        return locator.Setup(templateFrame(area), 0, angleTo, referenceX(), referenceY(),
                             cv::Mat(area.size(), CV_8UC1, cv::Scalar(255)));
    }
    bool locate(const cv::Mat& frame, int& dx, int& dy, double& angle)
    {
        const bool ok = locator.Locate(frame(window).clone(), dx, dy, angle);
        dx -= window.x;
        dy -= window.y;
        return ok;
    }
};

SyntheticScene elongatedScene()
{
    SyntheticScene s;
    s.width = 480;
    s.height = 240;
    s.partWidth = 300;
    s.partHeight = 88;
    return s;
}

// Normalised correlation of two equally sized images.
double correlation(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat r;
    cv::matchTemplate(a, b, r, cv::TM_CCOEFF_NORMED);
    return r.at<float>(0, 0);
}

struct Variation {
    double dx, dy, angle, gain, offset, noise, blur, occlusion;
};

SyntheticScene varied(SyntheticScene s, const Variation& v, quint32 seed)
{
    s.dx = v.dx;
    s.dy = v.dy;
    s.angle = v.angle;
    s.gain = v.gain;
    s.offset = v.offset;
    s.noiseSigma = v.noise;
    s.blurSigma = v.blur;
    s.occlusion = v.occlusion;
    s.noiseSeed = seed;
    return s;
}

} // namespace

Q_DECLARE_METATYPE(Variation)

class TestTargetLocator : public QObject {
    Q_OBJECT

private slots:
    void modes_data();
    void modes();
    void failedSetupMakesNotReady();
    void shiftIsTruncatedTowardZero();
    void targetAtTheReferenceGivesNoShift();
    void emptySearchWindowIsNotFound();
    void locatesShiftedPart_data();
    void locatesShiftedPart();
    void locatesTurnedPart_data();
    void locatesTurnedPart();
    void rangeBoundsTheSearch();
    void frameWithoutThePartIsNotLocated();
};

void TestTargetLocator::modes_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("mode");
    QTest::newRow("0 to 0") << 0 << 0 << true << 3;
    QTest::newRow("0 to 30") << 0 << 30 << true << 4;
    QTest::newRow("-5 to 5") << -5 << 5 << true << 4;
    QTest::newRow("10 to 10") << 10 << 10 << false << 0;
    QTest::newRow("20 to 5") << 20 << 5 << false << 0;
}

void TestTargetLocator::modes()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, ok);
    QFETCH(int, mode);
    Positioning p(SyntheticScene(), 20);
    QVERIFY(!p.locator.IsReady());
    QCOMPARE(p.locator.Mode(), 0);
    QCOMPARE(p.locator.Setup(p.templateFrame(p.area), from, to, 1, 2, cv::Mat()), ok);
    QCOMPARE(p.locator.IsReady(), ok);
    QCOMPARE(p.locator.Mode(), mode);
    QCOMPARE(p.locator.Model().levels > 0, ok);
}

void TestTargetLocator::failedSetupMakesNotReady()
{
    Positioning p(SyntheticScene(), 20);
    QVERIFY(p.setup(0));
    int dx = 0;
    int dy = 0;
    double angle = 0.0;
    QVERIFY(p.locate(p.templateFrame, dx, dy, angle));

    // A bad range keeps the mode but not the readiness: never located again
    // with a model that no longer matches the stored reference point.
    QVERIFY(!p.locator.Setup(p.templateFrame(p.area), 10, 10, 5, 5, cv::Mat()));
    QVERIFY(!p.locator.IsReady());
    QCOMPARE(p.locator.Mode(), 3);
    dx = 77;
    dy = 78;
    angle = 79.0;
    QVERIFY(!p.locator.Locate(p.templateFrame(p.window), dx, dy, angle));
    QCOMPARE(dx, 77);
    QCOMPARE(dy, 78);
    QCOMPARE(angle, 79.0);

    // A template the shape model refuses, or a mask of another size.
    QVERIFY(p.setup(0));
    QVERIFY(!p.locator.Setup(cv::Mat(2, 2, CV_8UC1, cv::Scalar(1)), 0, 0, 1, 1, cv::Mat()));
    QVERIFY(!p.locator.IsReady());
    QVERIFY(!p.locator.Setup(p.templateFrame(p.area), 0, 0, 1, 1, cv::Mat(5, 5, CV_8UC1)));
    QVERIFY(!p.locator.IsReady());
    QVERIFY(!p.locator.Locate(p.templateFrame(p.window), dx, dy, angle));
    QCOMPARE(dx, 77);

    TargetLocator fresh;
    QVERIFY(!fresh.Locate(p.templateFrame, dx, dy, angle));
    QCOMPARE(dx, 77);
}

void TestTargetLocator::shiftIsTruncatedTowardZero()
{
    QCOMPARE(TargetLocator::ShiftFrom(120, 100.6f), 19);
    QCOMPARE(TargetLocator::ShiftFrom(120, 130.6f), -10);
    QCOMPARE(TargetLocator::ShiftFrom(120, 120.0f), 0);
}

void TestTargetLocator::targetAtTheReferenceGivesNoShift()
{
    // The locator works on its own copies: changing the caller's template
    // afterwards changes nothing.
    Positioning p(SyntheticScene(), 20);
    cv::Mat templ = p.templateFrame(p.area).clone();
    QVERIFY(p.locator.Setup(templ, 0, 0, templ.cols / 2, templ.rows / 2, cv::Mat()));
    const cv::Mat search = templ.clone();
    templ.setTo(0);
    int dx = 9;
    int dy = 9;
    double angle = 9.0;
    QVERIFY(p.locator.Locate(search, dx, dy, angle));
    QCOMPARE(dx, 0);
    QCOMPARE(dy, 0);
    QCOMPARE(angle, 0.0);
}

void TestTargetLocator::emptySearchWindowIsNotFound()
{
    Positioning p(SyntheticScene(), 20);
    QVERIFY(p.setup(10));
    int dx = 0;
    int dy = 0;
    double angle = 1.0;
    QVERIFY(!p.locator.Locate(cv::Mat(), dx, dy, angle));
    QVERIFY(!p.locator.Locate(cv::Mat(2, 2, CV_8UC1, cv::Scalar(0)), dx, dy, angle));
    // Outputs are written from a found position of (0, 0).
    QCOMPARE(dx, p.referenceX());
    QCOMPARE(dy, p.referenceY());
    QCOMPARE(angle, 0.0);
}

void TestTargetLocator::locatesShiftedPart_data()
{
    QTest::addColumn<Variation>("v");
    // dx, dy, angle, gain, offset, noise, blur, occlusion
    QTest::newRow("in place") << Variation { 0, 0, 0, 1, 0, 2, 0, 0 };
    QTest::newRow("corner -20,-20") << Variation { -20, -20, 0, 1, 0, 2, 0, 0 };
    QTest::newRow("corner 20,20") << Variation { 20, 20, 0, 1, 0, 2, 0, 0 };
    QTest::newRow("edge 20,-3") << Variation { 20, -3, 0, 1, 0, 2, 0, 0 };
    QTest::newRow("half pixels") << Variation { 7.5, -11.5, 0, 1, 0, 2, 0, 0 };
    QTest::newRow("darker, lifted") << Variation { -13, 6, 0, 0.65, 35, 2, 0, 0 };
    QTest::newRow("brighter, lowered") << Variation { 4, 17, 0, 1.35, -30, 2, 0, 0 };
    QTest::newRow("noisy") << Variation { -8, -15, 0, 1, 0, 6, 0, 0 };
    QTest::newRow("blurred") << Variation { 11, 9, 0, 1, 0, 2, 1.0, 0 };
    QTest::newRow("fifth hidden") << Variation { -17, 12, 0, 1, 0, 3, 0, 0.2 };
}

void TestTargetLocator::locatesShiftedPart()
{
    QFETCH(Variation, v);
    Positioning p(SyntheticScene(), 20);
    QVERIFY(p.setup(0));
    const cv::Mat live = makeSyntheticFrame(varied(p.scene, v, 11)).image;
    int dx = 0;
    int dy = 0;
    double angle = 5.0;
    QVERIFY(p.locate(live, dx, dy, angle));
    QVERIFY2(std::fabs(dx + v.dx) <= 1.0 && std::fabs(dy + v.dy) <= 1.0,
             qPrintable(QString("shift %1, %2").arg(dx).arg(dy)));
    QCOMPARE(angle, 0.0);

    // Moving the frame by the shift puts the part back where it was taught.
    cv::Mat back(live.size(), live.type());
    QVERIFY(shiftImage(live, back, dx, dy));
    cv::Mat expected = p.templateFrame;
    if (v.gain == 1 && v.offset == 0 && v.blur == 0 && v.occlusion == 0)
        QVERIFY(correlation(back(p.area), expected(p.area)) > 0.9);
}

void TestTargetLocator::locatesTurnedPart_data()
{
    QTest::addColumn<Variation>("v");
    // dx, dy, angle, gain, offset, noise, blur, occlusion; the range is +-15.
    QTest::newRow("in place") << Variation { 0, 0, 0, 1, 0, 2, 0, 0 };
    QTest::newRow("-15, range start") << Variation { -6, 4, -15, 1, 0, 2, 0, 0 };
    QTest::newRow("+15, range end") << Variation { 9, -12, 15, 1, 0, 2, 0, 0 };
    QTest::newRow("-11.3 darker") << Variation { 20, 20, -11.3, 0.75, 30, 2, 0, 0 };
    QTest::newRow("-6.8 noisy") << Variation { -20, -20, -6.8, 1, 0, 5, 0, 0 };
    QTest::newRow("-2.5 hidden") << Variation { 14, -3, -2.5, 1, 0, 2, 0, 0.2 };
    QTest::newRow("1.7 brighter") << Variation { -9, 17, 1.7, 1.3, -25, 2, 0, 0 };
    QTest::newRow("4.2 blurred") << Variation { 3, -18, 4.2, 1, 0, 2, 0.8, 0 };
    QTest::newRow("5.5 half pixels") << Variation { 7.5, -4.5, 5.5, 1, 0, 2, 0, 0 };
    QTest::newRow("9.6 hidden, noisy") << Variation { -17, 6, 9.6, 1, 0, 4, 0, 0.2 };
    QTest::newRow("13.1 everything") << Variation { 11, 9, 13.1, 0.8, 15, 3, 0.5, 0.2 };
}

void TestTargetLocator::locatesTurnedPart()
{
    QFETCH(Variation, v);
    Positioning p(elongatedScene(), 20);
    QVERIFY(p.setup(15));
    QCOMPARE(p.locator.Mode(), 4);
    const cv::Mat live = makeSyntheticFrame(varied(p.scene, v, 23)).image;
    int dx = 0;
    int dy = 0;
    double angle = 99.0;
    QVERIFY(p.locate(live, dx, dy, angle));
    QVERIFY2(std::fabs(dx + v.dx) <= 1.0 && std::fabs(dy + v.dy) <= 1.0
                 && std::fabs(angle - v.angle) <= 0.5,
             qPrintable(QString("shift %1, %2 angle %3").arg(dx).arg(dy).arg(angle)));

    // The engine shifts the frame back and turns it by the reported angle
    // about the reference point: that must restore the taught picture, and
    // turning the other way must not. Compared on the left part of the area,
    // away from the occluder.
    cv::Mat back;
    QVERIFY(rotateImage(live, back, dx, dy, p.referenceX(), p.referenceY(), angle));
    const cv::Rect inner(p.area.x + 8, p.area.y + 8, p.area.width * 3 / 5, p.area.height - 16);
    const double right = correlation(back(inner), p.templateFrame(inner));
    QVERIFY2(right > 0.8, qPrintable(QString::number(right)));
    if (std::fabs(v.angle) >= 2.0) {
        cv::Mat wrong;
        QVERIFY(rotateImage(live, wrong, dx, dy, p.referenceX(), p.referenceY(), -angle));
        const double opposite = correlation(wrong(inner), p.templateFrame(inner));
        QVERIFY2(right > opposite + 0.1, qPrintable(QString("%1 vs %2").arg(right).arg(opposite)));
    }
}

void TestTargetLocator::rangeBoundsTheSearch()
{
    // Range 0 to 30 searches -30 to +30, whatever the stored lower bound; a
    // part turned by -25 is beyond a range of 0 to 10.
    SyntheticScene scene = elongatedScene();
    scene.height = 320;
    Positioning p(scene, 50);
    QVERIFY(p.setup(30));
    const cv::Mat live = makeSyntheticFrame(varied(p.scene, { 5, -8, -25, 1, 0, 2, 0, 0 }, 5)).image;
    int dx = 0;
    int dy = 0;
    double angle = 0.0;
    QVERIFY(p.locate(live, dx, dy, angle));
    QVERIFY2(std::fabs(angle + 25.0) <= 0.5 && std::fabs(dx + 5) <= 1 && std::fabs(dy - 8) <= 1,
             qPrintable(QString("shift %1, %2 angle %3").arg(dx).arg(dy).arg(angle)));

    QVERIFY(p.setup(10));
    angle = 0.0;
    p.locate(live, dx, dy, angle);
    QVERIFY(std::fabs(angle) <= 10.0);
}

void TestTargetLocator::frameWithoutThePartIsNotLocated()
{
    Positioning shifted(SyntheticScene(), 20);
    QVERIFY(shifted.setup(0));
    Positioning turned(elongatedScene(), 20);
    QVERIFY(turned.setup(15));
    for (quint32 seed = 1; seed <= 3; ++seed) {
        for (Positioning* p : { &shifted, &turned }) {
            SyntheticScene empty = p->scene;
            empty.withPart = false;
            empty.noiseSeed = seed + 40;
            empty.noiseSigma = 1.0 + 2.0 * seed;
            // The taught mould, and moulds the locator has never seen.
            empty.mouldSeed = seed;
            int dx = 0;
            int dy = 0;
            double angle = 0.0;
            QVERIFY2(!p->locate(makeSyntheticFrame(empty).image, dx, dy, angle),
                     qPrintable(QString("seed %1 mode %2").arg(seed).arg(p->locator.Mode())));
        }
    }
}

QTEST_APPLESS_MAIN(TestTargetLocator)
#include "tst_targetlocator.moc"
