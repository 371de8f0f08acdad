#include <QtTest>

#include <opencv2/imgproc.hpp>

#include "shapemodel.h"

namespace {

// Template with edges of several contrasts (background, plate, two discs and a
// bar), so that the per-level thresholds decide which become model points.
struct Shades {
    int background, plate, leftDisc, rightDisc, bar;
};
constexpr Shades kMixed { 100, 150, 110, 215, 190 };
constexpr Shades kBold { 60, 120, 80, 220, 170 };

cv::Mat contrastTemplate(int size, Shades s = kBold)
{
    cv::Mat t(size, size, CV_8UC1, cv::Scalar(s.background));
    const int c = size / 2;
    cv::rectangle(t, cv::Rect(size / 10, size / 10, size * 8 / 10, size * 8 / 10),
                  cv::Scalar(s.plate), cv::FILLED);
    cv::circle(t, cv::Point(c - size / 6, c), size / 8, cv::Scalar(s.leftDisc), cv::FILLED);
    cv::circle(t, cv::Point(c + size / 5, c + size / 8), size / 10, cv::Scalar(s.rightDisc),
               cv::FILLED);
    cv::rectangle(t, cv::Rect(c - size / 4, c + size / 4, size / 2, size / 20 + 1),
                  cv::Scalar(s.bar), cv::FILLED);
    cv::GaussianBlur(t, t, cv::Size(3, 3), 0.8);
    return t;
}

cv::Mat halved(const cv::Mat& src)
{
    cv::Mat dst;
    halfSizeImage(src, dst);
    return dst;
}

// The points a level must hold: every edge pixel (inside the mask) row by row,
// with its offset from the level's centre and the unit gradient there.
void expectPoints(const ShapeLevel& level, const cv::Mat& image, const cv::Mat& edges,
                  const cv::Mat& mask = cv::Mat())
{
    cv::Mat gx, gy, mag;
    QVERIFY(sobelGradient(image, gx, gy, mag));
    QCOMPARE(level.width, image.cols);
    QCOMPARE(level.height, image.rows);
    int j = 0;
    for (int r = 0; r < image.rows; ++r) {
        for (int c = 0; c < image.cols; ++c) {
            if (edges.at<uchar>(r, c) == 0 || (!mask.empty() && mask.at<uchar>(r, c) == 0))
                continue;
            QVERIFY2(j < level.pointCount, "more edge pixels than model points");
            QCOMPARE(level.xOffsets[j], float(c) - 0.5f * float(image.cols));
            QCOMPARE(level.yOffsets[j], float(r) - 0.5f * float(image.rows));
            QCOMPARE(level.gradientX[j], gx.at<float>(r, c));
            QCOMPARE(level.gradientY[j], gy.at<float>(r, c));
            ++j;
        }
    }
    QCOMPARE(level.pointCount, j);
}

cv::Mat cvCanny(const cv::Mat& image, float t)
{
    cv::Mat edges;
    cv::Canny(image, edges, 2.0f * t / 3.0f, t, 3, false);
    return edges;
}

} // namespace

class TestShapeModel : public QObject {
    Q_OBJECT

private slots:
    void levelCount_data();
    void levelCount();
    void singleLevelUsesOwnEdgeDetector_data();
    void singleLevelUsesOwnEdgeDetector();
    void levelThresholdsRiseTowardsFullResolution();
    void faintTemplateLowersThresholds();
    void maskSelectsPoints();
    void refusesWhatCannotBeScored();
    void halfSize();
    void gradientAgreesWithOpenCvSobel_data();
    void gradientAgreesWithOpenCvSobel();
    void gradientOfPlainShapes();
    void gradientWhereNeeded();
    void edgeDetectorSuppressionAndHysteresis();
    void edgeDetectorLeavesBorderAlone();
};

void TestShapeModel::levelCount_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("levels");
    QTest::newRow("3x3") << 3 << 3 << 1;
    QTest::newRow("20x40") << 20 << 40 << 1;
    QTest::newRow("29 high") << 300 << 29 << 1;
    QTest::newRow("30") << 30 << 30 << 2;
    QTest::newRow("59") << 59 << 80 << 2;
    QTest::newRow("60") << 60 << 60 << 3;
    QTest::newRow("119") << 200 << 119 << 3;
    QTest::newRow("120") << 120 << 120 << 4;
    QTest::newRow("239") << 239 << 400 << 4;
    QTest::newRow("240") << 240 << 240 << 5;
}

void TestShapeModel::levelCount()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, levels);
    QCOMPARE(shapeLevelCount(width, height), levels);
}

void TestShapeModel::singleLevelUsesOwnEdgeDetector_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // A template too small for a second level, and an odd width whose offsets
    // run from -50.5 on.
    QTest::newRow("20x40") << 20 << 40;
    QTest::newRow("101x20") << 101 << 20;
}

void TestShapeModel::singleLevelUsesOwnEdgeDetector()
{
    QFETCH(int, width);
    QFETCH(int, height);
    cv::Mat original(height, width, CV_8UC1, cv::Scalar(60));
    cv::rectangle(original, cv::Rect(1, 3, width - 5, height - 8), cv::Scalar(190), cv::FILLED);
    cv::circle(original, cv::Point(width / 3, height / 2), std::min(width, height) / 5,
               cv::Scalar(20), cv::FILLED);
    cv::randu(original.rowRange(0, 2), 0, 255); // salt for the median filter
    cv::Mat filtered;
    cv::medianBlur(original, filtered, 3);

    cv::Mat templ = original.clone();
    ShapeModel model;
    QVERIFY(createShapeModel(templ, cv::Mat(), model));
    QCOMPARE(model.levels, 1);
    QCOMPARE(cv::norm(templ, filtered, cv::NORM_INF), 0.0); // filtered in place

    cv::Mat edges;
    QVERIFY(cannyEdges(filtered, edges, 50.0f, 25.0f));
    QVERIFY(cv::countNonZero(edges) > 0);
    expectPoints(model.level[0], filtered, edges);

    const auto [lo, hi] = std::minmax_element(model.level[0].xOffsets.begin(),
                                              model.level[0].xOffsets.end());
    QVERIFY(*lo >= -0.5f * width + 1.0f); // the outer columns are never edges
    QVERIFY(*hi <= 0.5f * width - 2.0f);
}

void TestShapeModel::levelThresholdsRiseTowardsFullResolution()
{
    const cv::Mat original = contrastTemplate(100, kMixed);
    cv::Mat l0;
    cv::medianBlur(original, l0, 3);
    const cv::Mat l1 = halved(l0);
    const cv::Mat l2 = halved(l1);

    cv::Mat templ = original.clone();
    ShapeModel model;
    QVERIFY(createShapeModel(templ, cv::Mat(), model));
    QCOMPARE(model.levels, 3);
    QCOMPARE(model.level[1].width, 50);
    QCOMPARE(model.level[2].height, 25);

    cv::Mat top;
    cannyEdges(l2, top, 50.0f, 25.0f);
    expectPoints(model.level[2], l2, top);
    // T = 140 * k / (levels - 1) + 60: 130 just below the top, 200 at full size.
    QVERIFY(cv::countNonZero(cvCanny(l1, 130.0f)) >= 30);
    expectPoints(model.level[1], l1, cvCanny(l1, 130.0f));
    expectPoints(model.level[0], l0, cvCanny(l0, 200.0f));
    // The template is built so that those thresholds matter.
    QVERIFY(cv::countNonZero(cvCanny(l1, 130.0f)) != cv::countNonZero(cvCanny(l1, 200.0f)));
    QVERIFY(cv::countNonZero(cvCanny(l0, 200.0f)) != cv::countNonZero(cvCanny(l0, 130.0f)));
}

void TestShapeModel::faintTemplateLowersThresholds()
{
    // Contrast 12: no Canny edge at T = 200 or 130, so each finer level lowers
    // T by 0.8 until a share (level * 0.015 / levels + 0.015) of its pixels are
    // edges or T reaches 10.
    cv::Mat original(100, 100, CV_8UC1, cv::Scalar(100));
    cv::rectangle(original, cv::Rect(20, 25, 60, 50), cv::Scalar(112), cv::FILLED);
    cv::Mat l0;
    cv::medianBlur(original, l0, 3);
    const cv::Mat l1 = halved(l0);

    cv::Mat templ = original.clone();
    ShapeModel model;
    QVERIFY(createShapeModel(templ, cv::Mat(), model));
    QCOMPARE(model.levels, 3);

    auto expectedEdges = [](const cv::Mat& image, int level, int levels, float t) {
        cv::Mat edges = cvCanny(image, t);
        const float wanted = (float(level) * 0.015f / float(levels) + 0.015f) * float(image.cols)
            * float(image.rows);
        while (wanted > float(cv::countNonZero(edges)) && t > 10.0f) {
            t *= 0.8f;
            edges = cvCanny(image, t);
        }
        return edges;
    };
    QCOMPARE(cv::countNonZero(cvCanny(l0, 200.0f)), 0);
    const cv::Mat e0 = expectedEdges(l0, 0, 3, 200.0f);
    QVERIFY(cv::countNonZero(e0) > 100);
    expectPoints(model.level[0], l0, e0);
    expectPoints(model.level[1], l1, expectedEdges(l1, 1, 3, 130.0f));
}

void TestShapeModel::maskSelectsPoints()
{
    const cv::Mat original = contrastTemplate(100);
    {
        cv::Mat templ = original.clone();
        ShapeModel model;
        QVERIFY(createShapeModel(templ, cv::Mat::zeros(100, 100, CV_8UC1), model));
        QCOMPARE(model.levels, 3);
        for (const ShapeLevel& level : model.level)
            QCOMPARE(level.pointCount, 0);
    }
    // Left half only: on the halved levels a mixed 2 x 2 block stays non-zero.
    cv::Mat mask = cv::Mat::zeros(100, 100, CV_8UC1);
    mask.colRange(0, 50).setTo(255);
    cv::Mat templ = original.clone();
    ShapeModel model;
    QVERIFY(createShapeModel(templ, mask, model));
    cv::Mat l0;
    cv::medianBlur(original, l0, 3);
    expectPoints(model.level[0], l0, cvCanny(l0, 200.0f), mask);
    for (const ShapeLevel& level : model.level) {
        QVERIFY(level.pointCount > 0);
        for (float x : level.xOffsets)
            QVERIFY(x < 0.0f);
    }
}

void TestShapeModel::refusesWhatCannotBeScored()
{
    ShapeModel model;
    cv::Mat good = contrastTemplate(40);
    QVERIFY(createShapeModel(good, cv::Mat(), model));
    QCOMPARE(model.levels, 2);

    cv::Mat thin(2, 50, CV_8UC1, cv::Scalar(9));
    QVERIFY(!createShapeModel(thin, cv::Mat(), model));
    QCOMPARE(model.levels, 0); // the previous model is gone, not half-kept
    QVERIFY(model.level.empty());

    cv::Mat colour(40, 40, CV_8UC3, cv::Scalar::all(9));
    QVERIFY(!createShapeModel(colour, cv::Mat(), model));
    cv::Mat empty;
    QVERIFY(!createShapeModel(empty, cv::Mat(), model));
    cv::Mat templ = contrastTemplate(40);
    QVERIFY(!createShapeModel(templ, cv::Mat(39, 40, CV_8UC1, cv::Scalar(255)), model));
    QVERIFY(!createShapeModel(templ, cv::Mat(40, 40, CV_16UC1, cv::Scalar(255)), model));
    QCOMPARE(model.levels, 0);

    cv::Mat smallest(3, 3, CV_8UC1, cv::Scalar(0));
    smallest.at<uchar>(1, 1) = 255;
    QVERIFY(createShapeModel(smallest, cv::Mat(), model));
    QCOMPARE(model.levels, 1);
}

void TestShapeModel::halfSize()
{
    const cv::Mat twoByTwo = (cv::Mat_<uchar>(2, 2) << 1, 2, 3, 5);
    const cv::Mat one = halved(twoByTwo);
    QCOMPARE(one.size(), cv::Size(1, 1));
    QCOMPARE(int(one.at<uchar>(0, 0)), 2); // 11 * 0.25 = 2.75, truncated

    // Odd last row and column are dropped; 255 stays 255.
    cv::Mat odd(3, 5, CV_8UC1, cv::Scalar(255));
    odd.row(2).setTo(0);
    odd.col(4).setTo(0);
    const cv::Mat h = halved(odd);
    QCOMPARE(h.size(), cv::Size(2, 1));
    QCOMPARE(cv::countNonZero(h == 255), 2);

    cv::Mat none;
    QVERIFY(!halfSizeImage(cv::Mat(4, 4, CV_32FC1), none));
}

void TestShapeModel::gradientAgreesWithOpenCvSobel_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("3x3") << 3 << 3;
    QTest::newRow("7x4") << 7 << 4;
    QTest::newRow("64x48") << 64 << 48;
}

void TestShapeModel::gradientAgreesWithOpenCvSobel()
{
    QFETCH(int, width);
    QFETCH(int, height);
    cv::Mat image(height, width, CV_8UC1);
    cv::RNG rng(width * 1000 + height);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);

    cv::Mat gx, gy, mag;
    QVERIFY(sobelGradient(image, gx, gy, mag));
    cv::Mat sx, sy;
    cv::Sobel(image, sx, CV_32F, 1, 0, 3, 1.0, 0.0, cv::BORDER_REFLECT_101);
    cv::Sobel(image, sy, CV_32F, 0, 1, 3, 1.0, 0.0, cv::BORDER_REFLECT_101);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const bool corner = (r == 0 || r == height - 1) && (c == 0 || c == width - 1);
            if (corner) {
                QCOMPARE(gx.at<float>(r, c), 0.0f);
                QCOMPARE(gy.at<float>(r, c), 0.0f);
                QCOMPARE(mag.at<float>(r, c), 0.0f);
                continue;
            }
            const float x = sx.at<float>(r, c);
            const float y = sy.at<float>(r, c);
            const float len = std::sqrt(x * x + y * y);
            QCOMPARE(mag.at<float>(r, c), len);
            QCOMPARE(gx.at<float>(r, c), len == 0.0f ? 0.0f : x / len);
            QCOMPARE(gy.at<float>(r, c), len == 0.0f ? 0.0f : y / len);
        }
    }
}

void TestShapeModel::gradientWhereNeeded()
{
    // A band of wanted pixels over a region reaching past the top-left
    // corner: every wanted pixel inside the image gets exactly the whole
    // computation's value (borders and corners included), and nothing
    // outside the region is written.
    cv::Mat image(37, 45, CV_8UC1);
    cv::RNG rng(97);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    cv::Mat gx, gy, mag;
    QVERIFY(sobelGradient(image, gx, gy, mag));

    const cv::Rect region(-6, -3, 40, 30);
    cv::Mat needed(region.size(), CV_8UC1, cv::Scalar(0));
    cv::circle(needed, cv::Point(20, 15), 11, cv::Scalar(1), 2);
    needed.row(3).setTo(1);             // image row 0
    needed.col(6).setTo(1);             // image column 0
    needed.at<uchar>(29, 39) = 1;       // a lone pixel
    const float sentinel = -7.0f;
    cv::Mat wx(image.size(), CV_32FC1, cv::Scalar(sentinel));
    cv::Mat wy(image.size(), CV_32FC1, cv::Scalar(sentinel));
    QVERIFY(sobelGradientWhere(image, wx, wy, region, needed));
    int compared = 0;
    for (int r = 0; r < image.rows; ++r) {
        for (int c = 0; c < image.cols; ++c) {
            const cv::Point inRegion(c - region.x, r - region.y);
            if (!region.contains(cv::Point(c, r))) {
                QCOMPARE(wx.at<float>(r, c), sentinel);
                QCOMPARE(wy.at<float>(r, c), sentinel);
            } else if (needed.at<uchar>(inRegion) != 0) {
                QCOMPARE(wx.at<float>(r, c), gx.at<float>(r, c));
                QCOMPARE(wy.at<float>(r, c), gy.at<float>(r, c));
                ++compared;
            }
        }
    }
    QVERIFY(compared > 100);
    QCOMPARE(wx.at<float>(0, 0), 0.0f);

    QVERIFY(!sobelGradientWhere(image, wx, wy, region, cv::Mat(3, 3, CV_8UC1)));
    QVERIFY(!sobelGradientWhere(cv::Mat(2, 5, CV_8UC1), wx, wy, region, needed));
}

void TestShapeModel::gradientOfPlainShapes()
{
    cv::Mat gx, gy, mag;
    const cv::Mat flat(10, 12, CV_8UC1, cv::Scalar(77));
    QVERIFY(sobelGradient(flat, gx, gy, mag));
    QCOMPARE(cv::countNonZero(gx), 0);
    QCOMPARE(cv::countNonZero(gy), 0);
    QCOMPARE(cv::countNonZero(mag), 0);

    cv::Mat step(10, 12, CV_8UC1, cv::Scalar(0));
    step.colRange(6, 12).setTo(255);
    QVERIFY(sobelGradient(step, gx, gy, mag));
    for (int r = 1; r < 9; ++r) {
        for (int c : { 5, 6 }) {
            QCOMPARE(gx.at<float>(r, c), 1.0f);
            QCOMPARE(gy.at<float>(r, c), 0.0f);
        }
        QCOMPARE(mag.at<float>(r, 4), 0.0f);
    }

    // Too small to mirror: refused, outputs zeroed rather than left stale.
    QVERIFY(!sobelGradient(cv::Mat(2, 9, CV_8UC1, cv::Scalar(5)), gx, gy, mag));
    QCOMPARE(gx.size(), cv::Size(9, 2));
    QCOMPARE(cv::countNonZero(mag), 0);
    QVERIFY(!sobelGradient(cv::Mat(), gx, gy, mag));
}

void TestShapeModel::edgeDetectorSuppressionAndHysteresis()
{
    // Columns 0..29, rows 0..29. Sobel x of a 1-pixel ramp of height v is 4v at
    // the ramp's middle and 2v beside it, so the middle is the only maximum.
    cv::Mat image(30, 30, CV_8UC1, cv::Scalar(100));
    // Edge A, column 8: strong (4 * 20 = 80 >= 50) in rows 0..11, weak
    // (4 * 8 = 32, in [25, 50)) from row 15 on, one connected line (the height
    // eases down so that no row of the line loses its maximum).
    for (int r = 0; r < 30; ++r) {
        const int v = r < 12 ? 20 : (r == 12 ? 16 : (r == 13 ? 12 : 8));
        image.at<uchar>(r, 8) = uchar(100 + v / 2);
        image.colRange(9, 14).row(r).setTo(100 + v);
    }
    // Edge B, column 20: weak only, never touching a strong pixel: dropped.
    for (int r = 0; r < 30; ++r) {
        image.at<uchar>(r, 20) = 104;
        image.colRange(21, 30).row(r).setTo(108);
    }
    cv::Mat edges;
    QVERIFY(cannyEdges(image, edges, 50.0f, 25.0f));
    QCOMPARE(edges.type(), CV_8UC1);
    QCOMPARE(int(edges.at<uchar>(5, 8)), 255);
    QCOMPARE(int(edges.at<uchar>(25, 8)), 255);  // weak, kept through the line
    QCOMPARE(int(edges.at<uchar>(25, 7)), 0);    // suppressed beside the maximum
    QCOMPARE(cv::countNonZero(edges.col(20)), 0);
    QCOMPARE(cv::countNonZero(edges.colRange(15, 30)), 0);

    // A sharp step between two columns gives two equal magnitudes: neither is
    // strictly greater than its neighbour, so there is no edge.
    cv::Mat sharp(12, 12, CV_8UC1, cv::Scalar(0));
    sharp.colRange(6, 12).setTo(200);
    QVERIFY(cannyEdges(sharp, edges, 50.0f, 25.0f));
    QCOMPARE(cv::countNonZero(edges), 0);

    QVERIFY(!cannyEdges(cv::Mat(5, 5, CV_16UC1), edges, 50.0f, 25.0f));
    QVERIFY(edges.empty());
}

void TestShapeModel::edgeDetectorLeavesBorderAlone()
{
    cv::Mat noise(24, 31, CV_8UC1);
    cv::RNG rng(3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::Mat edges;
    QVERIFY(cannyEdges(noise, edges, 50.0f, 25.0f));
    QVERIFY(cv::countNonZero(edges) > 0);
    QCOMPARE(cv::countNonZero(edges.row(0)) + cv::countNonZero(edges.row(23))
                 + cv::countNonZero(edges.col(0)) + cv::countNonZero(edges.col(30)),
             0);
    QVERIFY(cannyEdges(cv::Mat(2, 2, CV_8UC1, cv::Scalar(1)), edges, 50.0f, 25.0f));
    QCOMPARE(edges.size(), cv::Size(2, 2));
    QCOMPARE(cv::countNonZero(edges), 0);
}

QTEST_APPLESS_MAIN(TestShapeModel)
#include "tst_shapemodel.moc"
