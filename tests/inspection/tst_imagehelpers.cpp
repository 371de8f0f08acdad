#include "imagehelpers.h"

#include <QtEndian>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <atomic>
#include <climits>
#include <cstring>
#include <cmath>
#include <thread>

namespace {

// Straight from the written formulas, one pixel at a time: the weights are
// computed here, not taken from the program's tables.
// The turn as first written: pad to a square 1.414 times the larger side,
// shift, turn about the centre, crop. The one-warp version must give the same
// pixels, including what a large shift pushes off that square.
cv::Mat paddedTurn(const cv::Mat& src, int shiftX, int shiftY, int centreX, int centreY,
                   double angle)
{
    const int side = static_cast<int>(std::max(src.cols, src.rows) * 1.414);
    const int padX = std::max(0, (side - src.cols) / 2);
    const int padY = std::max(0, (side - src.rows) / 2);
    cv::Mat padded;
    cv::copyMakeBorder(src, padded, padY, padY, padX, padX, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::Mat shifted(padded.size(), padded.type());
    shiftImage(padded, shifted, shiftX, shiftY);
    const cv::Mat matrix = cv::getRotationMatrix2D(
        cv::Point2f(float(centreX + padX), float(centreY + padY)), angle, 1.0);
    cv::Mat turned;
    cv::warpAffine(shifted, turned, matrix, padded.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
    return turned(cv::Rect(padX, padY, src.cols, src.rows)).clone();
}

uchar referenceGray(int b0, int b1, int b2)
{
    const int sum = int(std::floor(b0 * 0.299 * 1024)) + int(std::floor(b1 * 0.587 * 1024))
        + int(std::floor(b2 * 0.114 * 1024));
    return uchar(sum / 1024);
}

uchar referenceHue(int b0, int b1, int b2)
{
    const int mx = std::max({b0, b1, b2});
    const int mn = std::min({b0, b1, b2});
    if (mx == 0 || mx == mn) {
        return 0;
    }
    const float delta = float(mx - mn);
    double h;
    if (b0 == mx) {
        const float q = float(b1 - b2) / delta;
        h = b1 < b2 ? double(q) + 6.0 : double(q);
    } else if (b1 == mx) {
        h = double(float(b2 - b0) / delta) + 2.0;
    } else {
        h = double(float(b0 - b1) / delta) + 4.0;
    }
    const float hf = float(h);
    return uchar(int(float(double(hf) * 42.5)));
}

cv::Mat randomRgb32(int width, int height, unsigned seed)
{
    cv::Mat m(height, width, CV_8UC4);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

cv::Mat referenceShift(const cv::Mat& src, int sx, int sy)
{
    cv::Mat out = cv::Mat::zeros(src.size(), src.type());
    for (int y = 0; y < src.rows; ++y) {
        for (int x = 0; x < src.cols; ++x) {
            const qint64 fx = qint64(x) - sx;
            const qint64 fy = qint64(y) - sy;
            if (fx >= 0 && fx < src.cols && fy >= 0 && fy < src.rows) {
                out.at<uchar>(y, x) = src.at<uchar>(int(fy), int(fx));
            }
        }
    }
    return out;
}

bool sameMat(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Centre of mass of the bright pixels.
QPointF brightCentre(const cv::Mat& img)
{
    const cv::Moments m = cv::moments(img > 100, true);
    return m.m00 > 0 ? QPointF(m.m10 / m.m00, m.m01 / m.m00) : QPointF(-1, -1);
}

} // namespace

class TestImageHelpers : public QObject {
    Q_OBJECT

private slots:
    void weightTables();
    void grayOfPixel_data();
    void grayOfPixel();
    void hueOfPixel_data();
    void hueOfPixel();
    void reductionsMatchReferenceOnEveryColour();
    void reductionsMatchReferenceOnRandomImages_data();
    void reductionsMatchReferenceOnRandomImages();
    void grayToRgb32();
    void buffersRefuseBadArguments();
    void shift_data();
    void shift();
    void shiftInPlaceAndIntoCallerBuffer();
    void shiftRefusesMismatchedDestination();
    void rotateIdentityAndInPlace();
    void rotateTurnsCounterClockwiseAboutCentre();
    void rotateKeepsContentShiftedPastTheFrame();
    void rotateMatchesPaddedTurn_data();
    void rotateMatchesPaddedTurn();
    void clampCoordinate_data();
    void clampCoordinate();
    void clampRect_data();
    void clampRect();
    void nearness_data();
    void nearness();
    void helpersRunConcurrently();
};

void TestImageHelpers::weightTables()
{
    for (int i = 0; i < 256; ++i) {
        QCOMPARE(gGrayWeightTables[0][i], qint32(std::floor(i * 0.299 * 1024)));
        QCOMPARE(gGrayWeightTables[1][i], qint32(std::floor(i * 0.587 * 1024)));
        QCOMPARE(gGrayWeightTables[2][i], qint32(std::floor(i * 0.114 * 1024)));
    }
    QCOMPARE(gGrayWeightTables[0][255], 78074);
    QCOMPARE(gGrayWeightTables[1][255], 153277);
    QCOMPARE(gGrayWeightTables[2][255], 29767);
}

void TestImageHelpers::grayOfPixel_data()
{
    QTest::addColumn<int>("b0");
    QTest::addColumn<int>("b1");
    QTest::addColumn<int>("b2");
    QTest::addColumn<int>("gray");
    QTest::newRow("white never reaches 255") << 255 << 255 << 255 << 254;
    QTest::newRow("mid grey") << 128 << 128 << 128 << 127;
    QTest::newRow("byte 0 has the red weight") << 255 << 0 << 0 << 76;
    QTest::newRow("byte 2 has the blue weight") << 0 << 0 << 255 << 29;
    QTest::newRow("byte 1 green") << 0 << 255 << 0 << 149;
    QTest::newRow("black") << 0 << 0 << 0 << 0;
}

void TestImageHelpers::grayOfPixel()
{
    QFETCH(int, b0);
    QFETCH(int, b1);
    QFETCH(int, b2);
    QFETCH(int, gray);
    // Byte 3 is ignored whatever it holds.
    const uchar pixel[4] = {uchar(b0), uchar(b1), uchar(b2), 0xA5};
    uchar out = 0xFF;
    QVERIFY(rgb32ToGray(&out, pixel, 1, 1));
    QCOMPARE(int(out), gray);

    // OpenCV reads byte 0 as blue: the values differ, which is why it is not used.
    if (b0 != b2) {
        cv::Mat bgra(1, 1, CV_8UC4, const_cast<uchar*>(pixel));
        cv::Mat cvGray;
        cv::cvtColor(bgra, cvGray, cv::COLOR_BGRA2GRAY);
        QVERIFY(std::abs(int(cvGray.at<uchar>(0, 0)) - gray) > 10);
    }
}

void TestImageHelpers::hueOfPixel_data()
{
    QTest::addColumn<int>("b0");
    QTest::addColumn<int>("b1");
    QTest::addColumn<int>("b2");
    QTest::addColumn<int>("hue");
    QTest::newRow("red (byte 0)") << 255 << 0 << 0 << 0;
    QTest::newRow("yellow") << 255 << 255 << 0 << 42;
    QTest::newRow("green") << 0 << 255 << 0 << 85;
    QTest::newRow("blue (byte 2)") << 0 << 0 << 255 << 170;
    QTest::newRow("just below a full turn") << 255 << 0 << 1 << 254;
    QTest::newRow("grey") << 77 << 77 << 77 << 0;
    QTest::newRow("black") << 0 << 0 << 0 << 0;
    QTest::newRow("white") << 255 << 255 << 255 << 0;
}

void TestImageHelpers::hueOfPixel()
{
    QFETCH(int, b0);
    QFETCH(int, b1);
    QFETCH(int, b2);
    QFETCH(int, hue);
    const uchar pixel[4] = {uchar(b0), uchar(b1), uchar(b2), 0x5A};
    uchar out = 0xFF;
    QVERIFY(rgb32ToHue(&out, pixel, 1, 1));
    QCOMPARE(int(out), hue);
}

void TestImageHelpers::reductionsMatchReferenceOnEveryColour()
{
    // All 2^24 colours, one row of 4096 pixels per (b0, b1 high nibble) block.
    const int width = 4096;
    std::vector<uchar> rgb(size_t(width) * 4);
    std::vector<uchar> gray(width);
    std::vector<uchar> hue(width);
    for (int block = 0; block < 4096; ++block) {
        for (int i = 0; i < width; ++i) {
            const int colour = block * width + i;
            rgb[size_t(i) * 4 + 0] = uchar(colour >> 16);
            rgb[size_t(i) * 4 + 1] = uchar(colour >> 8);
            rgb[size_t(i) * 4 + 2] = uchar(colour);
            rgb[size_t(i) * 4 + 3] = uchar(i);
        }
        QVERIFY(rgb32ToGray(gray.data(), rgb.data(), width, 1));
        QVERIFY(rgb32ToHue(hue.data(), rgb.data(), width, 1));
        for (int i = 0; i < width; ++i) {
            const int b0 = rgb[size_t(i) * 4];
            const int b1 = rgb[size_t(i) * 4 + 1];
            const int b2 = rgb[size_t(i) * 4 + 2];
            if (gray[size_t(i)] != referenceGray(b0, b1, b2) || hue[size_t(i)] != referenceHue(b0, b1, b2)) {
                QFAIL(qPrintable(QStringLiteral("colour %1 %2 %3: grey %4 hue %5")
                                     .arg(b0).arg(b1).arg(b2).arg(gray[size_t(i)]).arg(hue[size_t(i)])));
            }
        }
    }
}

void TestImageHelpers::reductionsMatchReferenceOnRandomImages_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1x1") << 1 << 1;
    QTest::newRow("odd 37x23") << 37 << 23;
    QTest::newRow("640x480") << 640 << 480;
    QTest::newRow("one column") << 1 << 300;
}

void TestImageHelpers::reductionsMatchReferenceOnRandomImages()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const cv::Mat src = randomRgb32(width, height, unsigned(width * 7919 + height));
    cv::Mat gray(height, width, CV_8UC1, cv::Scalar(7));
    cv::Mat hue(height, width, CV_8UC1, cv::Scalar(7));
    QVERIFY(rgb32ToGray(gray.data, src.data, width, height));
    QVERIFY(rgb32ToHue(hue.data, src.data, width, height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const cv::Vec4b p = src.at<cv::Vec4b>(y, x);
            QCOMPARE(gray.at<uchar>(y, x), referenceGray(p[0], p[1], p[2]));
            QCOMPARE(hue.at<uchar>(y, x), referenceHue(p[0], p[1], p[2]));
        }
    }

    // The matrix forms agree, also on a crop whose rows are not contiguous.
    cv::Mat matGray;
    cv::Mat matHue;
    QVERIFY(rgb32ToGray(src, matGray));
    QVERIFY(rgb32ToHue(src, matHue));
    QVERIFY(sameMat(matGray, gray));
    QVERIFY(sameMat(matHue, hue));
    cv::Mat replaced = src.clone();
    QVERIFY(rgb32ToGray(replaced, replaced));  // the colour frame replaced by its reduction
    QVERIFY(sameMat(replaced, gray));
    if (width > 2 && height > 2) {
        const cv::Rect inner(1, 1, width - 2, height - 2);
        cv::Mat cropGray;
        QVERIFY(rgb32ToGray(src(inner), cropGray));
        QVERIFY(sameMat(cropGray, gray(inner)));
        // Written in place into a caller's crop of the right size.
        cv::Mat canvas(height, width, CV_8UC1, cv::Scalar(3));
        cv::Mat window = canvas(inner);
        const uchar* before = window.data;
        QVERIFY(rgb32ToHue(src(inner), window));
        QCOMPARE(window.data, before);
        QVERIFY(sameMat(canvas(inner), hue(inner)));
        QCOMPARE(int(canvas.at<uchar>(0, 0)), 3);
    }
}

void TestImageHelpers::grayToRgb32()
{
    const uchar gray[3] = {128, 0, 255};
    uchar rgb[12];
    std::fill(std::begin(rgb), std::end(rgb), uchar(0xEE));
    QVERIFY(::grayToRgb32(gray, rgb, 3, 1));
    const uchar expected[12] = {128, 128, 128, 0, 0, 0, 0, 0, 255, 255, 255, 0};
    QVERIFY(std::equal(std::begin(rgb), std::end(rgb), expected));
    quint32 word;
    std::memcpy(&word, rgb, 4);
    QCOMPARE(qFromLittleEndian(word), 128u * 65793u);
}

void TestImageHelpers::buffersRefuseBadArguments()
{
    uchar in[16] = {};
    uchar out[4] = {9, 9, 9, 9};
    QVERIFY(!rgb32ToGray(nullptr, in, 1, 1));
    QVERIFY(!rgb32ToGray(out, nullptr, 1, 1));
    QVERIFY(!rgb32ToHue(out, in, 0, 4));
    QVERIFY(!rgb32ToHue(out, in, 2, -1));
    QVERIFY(!::grayToRgb32(in, nullptr, 1, 1));
    QVERIFY(!::grayToRgb32(in, out, -1, -1));
    QCOMPARE(int(out[0]), 9);

    cv::Mat dst;
    QVERIFY(!rgb32ToGray(cv::Mat(), dst));
    QVERIFY(!rgb32ToGray(cv::Mat(4, 4, CV_8UC3), dst));
    QVERIFY(dst.empty());
    cv::Mat rotated;
    QVERIFY(!rotateImage(cv::Mat(), rotated, 0, 0, 0, 0, 10));
}

void TestImageHelpers::shift_data()
{
    QTest::addColumn<int>("sx");
    QTest::addColumn<int>("sy");
    QTest::newRow("right 5") << 5 << 0;
    QTest::newRow("left 3 down 2") << -3 << 2;
    QTest::newRow("up 7") << 0 << -7;
    QTest::newRow("none") << 0 << 0;
    QTest::newRow("past the width") << 40 << 0;
    QTest::newRow("past the height upwards") << 0 << -30;
    QTest::newRow("extreme values") << INT_MIN << INT_MAX;
}

void TestImageHelpers::shift()
{
    QFETCH(int, sx);
    QFETCH(int, sy);
    cv::Mat src(30, 40, CV_8UC1);
    cv::RNG(17).fill(src, cv::RNG::UNIFORM, 1, 256);
    cv::Mat dst(src.size(), CV_8UC1, cv::Scalar(99));
    QVERIFY(shiftImage(src, dst, sx, sy));
    QVERIFY(sameMat(dst, referenceShift(src, sx, sy)));
    if (sx == 5 && sy == 0) {
        QCOMPARE(cv::countNonZero(dst.colRange(0, 5)), 0);
        QVERIFY(sameMat(dst.col(5), src.col(0)));
    }
}

void TestImageHelpers::shiftInPlaceAndIntoCallerBuffer()
{
    cv::Mat src(20, 25, CV_8UC1);
    cv::RNG(5).fill(src, cv::RNG::UNIFORM, 1, 256);
    const cv::Mat expected = referenceShift(src, 3, 4);

    // Source and destination the same pixels.
    cv::Mat same = src.clone();
    QVERIFY(shiftImage(same, same, 3, 4));
    QVERIFY(sameMat(same, expected));

    // A header over the caller's own buffer receives the result.
    std::vector<uchar> buffer(size_t(src.total()), 0);
    QVERIFY(shiftImage(src, cv::Mat(src.rows, src.cols, CV_8UC1, buffer.data()), 3, 4));
    QVERIFY(sameMat(cv::Mat(src.rows, src.cols, CV_8UC1, buffer.data()), expected));
}

void TestImageHelpers::shiftRefusesMismatchedDestination()
{
    cv::Mat src(10, 10, CV_8UC1, cv::Scalar(1));
    cv::Mat small(9, 10, CV_8UC1, cv::Scalar(7));
    cv::Mat wrongType(10, 10, CV_16UC1, cv::Scalar(7));
    QVERIFY(!shiftImage(src, small, 1, 1));
    QVERIFY(!shiftImage(src, wrongType, 1, 1));
    QVERIFY(!shiftImage(cv::Mat(), small, 1, 1));
    QCOMPARE(int(small.at<uchar>(0, 0)), 7);
}

void TestImageHelpers::rotateIdentityAndInPlace()
{
    cv::Mat src(61, 83, CV_8UC1);
    cv::RNG(3).fill(src, cv::RNG::UNIFORM, 0, 256);
    cv::Mat dst(src.size(), CV_8UC1, cv::Scalar(0));
    const uchar* before = dst.data;
    QVERIFY(rotateImage(src, dst, 0, 0, 41, 30, 0.0));
    QCOMPARE(dst.data, before);  // written into the caller's buffer
    QVERIFY(sameMat(dst, src));

    // A destination of another size is replaced by one of the source's size.
    cv::Mat other(5, 5, CV_8UC1);
    QVERIFY(rotateImage(src, other, 0, 0, 41, 30, 0.0));
    QVERIFY(sameMat(other, src));

    // A pure shift through the rotation equals shiftImage.
    cv::Mat shifted(src.size(), CV_8UC1);
    QVERIFY(rotateImage(src, shifted, -7, 4, 41, 30, 0.0));
    QVERIFY(sameMat(shifted, referenceShift(src, -7, 4)));
}

void TestImageHelpers::rotateTurnsCounterClockwiseAboutCentre()
{
    cv::Mat src = cv::Mat::zeros(101, 121, CV_8UC1);
    cv::rectangle(src, cv::Rect(78, 48, 5, 5), cv::Scalar(255), cv::FILLED);  // centre (80, 50)
    cv::Mat dst;
    // A quarter turn about (60, 50): right of the centre becomes above it.
    QVERIFY(rotateImage(src, dst, 0, 0, 60, 50, 90.0));
    QPointF c = brightCentre(dst);
    QVERIFY2(std::abs(c.x() - 60) < 0.6 && std::abs(c.y() - 30) < 0.6,
             qPrintable(QStringLiteral("%1,%2").arg(c.x()).arg(c.y())));

    // Shift first, then turn: (70, 50) shifted by (10, 0) is the same spot.
    cv::Mat moved = cv::Mat::zeros(src.size(), CV_8UC1);
    cv::rectangle(moved, cv::Rect(68, 48, 5, 5), cv::Scalar(255), cv::FILLED);
    QVERIFY(rotateImage(moved, dst, 10, 0, 60, 50, 90.0));
    c = brightCentre(dst);
    QVERIFY(std::abs(c.x() - 60) < 0.6 && std::abs(c.y() - 30) < 0.6);
}

void TestImageHelpers::rotateKeepsContentShiftedPastTheFrame()
{
    // Shifted by 20 the block lies beyond the right edge; the padding keeps it
    // until the eighth of a turn brings it back inside.
    cv::Mat src = cv::Mat::zeros(101, 101, CV_8UC1);
    cv::rectangle(src, cv::Rect(83, 48, 5, 5), cv::Scalar(255), cv::FILLED);  // centre (85, 50)
    cv::Mat dst;
    QVERIFY(rotateImage(src, dst, 20, 0, 50, 50, 45.0));
    const QPointF c = brightCentre(dst);
    const double r = 55.0 / std::sqrt(2.0);
    QVERIFY2(std::abs(c.x() - (50 + r)) < 1.0 && std::abs(c.y() - (50 - r)) < 1.0,
             qPrintable(QStringLiteral("%1,%2").arg(c.x()).arg(c.y())));
}

void TestImageHelpers::rotateMatchesPaddedTurn_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("shiftX");
    QTest::addColumn<int>("shiftY");
    QTest::addColumn<int>("centreX");
    QTest::addColumn<int>("centreY");
    QTest::addColumn<double>("angle");
    QTest::newRow("panel frame, small pose") << 1920 << 1080 << 1 << 3 << -2 << 960 << 540 << 1.75;
    QTest::newRow("panel frame, off-centre") << 1920 << 1080 << 1 << -41 << 17 << 300 << 900 << -12.3;
    QTest::newRow("sensor frame") << 2448 << 2048 << 1 << 120 << -75 << 1224 << 1024 << 9.9;
    QTest::newRow("no turn") << 640 << 480 << 1 << 13 << 7 << 320 << 240 << 0.0;
    QTest::newRow("half turn") << 640 << 480 << 1 << 0 << 0 << 100 << 80 << 179.5;
    QTest::newRow("shift past the square") << 640 << 480 << 1 << 500 << -300 << 320 << 240 << 30.0;
    QTest::newRow("shift off the square") << 640 << 480 << 1 << 5000 << 0 << 320 << 240 << 45.0;
    QTest::newRow("tall frame") << 120 << 400 << 1 << -9 << 33 << 60 << 200 << 77.0;
    QTest::newRow("centre outside") << 400 << 300 << 1 << 2 << 2 << -50 << 350 << 5.0;
    QTest::newRow("colour") << 640 << 480 << 3 << -6 << 4 << 300 << 260 << -3.2;
    // Turns of a few degrees sample eight neighbouring pixels at a time;
    // steeper ones, frame edges and narrow frames take pixels one by one.
    QTest::newRow("a little back") << 1280 << 1024 << 1 << -2 << 5 << 640 << 512 << -0.4;
    QTest::newRow("a tenth of a degree") << 640 << 480 << 1 << 0 << 0 << 320 << 240 << 0.1;
    QTest::newRow("just under eight degrees") << 800 << 600 << 1 << 31 << -12 << 410 << 280 << 7.9;
    QTest::newRow("shifted to the edge") << 640 << 480 << 1 << -630 << 470 << 320 << 240 << 2.5;
    QTest::newRow("narrow frame") << 9 << 7 << 1 << 1 << 0 << 4 << 3 << 3.0;
    QTest::newRow("eight wide") << 8 << 40 << 1 << 0 << -1 << 4 << 20 << -1.5;
}

void TestImageHelpers::rotateMatchesPaddedTurn()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    QFETCH(int, shiftX);
    QFETCH(int, shiftY);
    QFETCH(int, centreX);
    QFETCH(int, centreY);
    QFETCH(double, angle);
    cv::Mat src(height, width, CV_8UC(channels));
    cv::RNG rng(uint64(width) * 31 + uint64(height));
    rng.fill(src, cv::RNG::UNIFORM, 0, 256);
    // Smooth structure as well as noise, so interpolation weights show.
    cv::GaussianBlur(src, src, cv::Size(0, 0), 2.0);
    const cv::Mat expected = paddedTurn(src, shiftX, shiftY, centreX, centreY, angle);

    cv::Mat dst(src.size(), src.type(), cv::Scalar::all(7));
    const uchar* buffer = dst.data;
    QVERIFY(rotateImage(src, dst, shiftX, shiftY, centreX, centreY, angle));
    QCOMPARE(dst.data, buffer); // written into the caller's buffer
    QCOMPARE(cv::norm(dst, expected, cv::NORM_INF), 0.0);

    cv::Mat inPlace = src.clone();
    QVERIFY(rotateImage(inPlace, inPlace, shiftX, shiftY, centreX, centreY, angle));
    QCOMPARE(cv::norm(inPlace, expected, cv::NORM_INF), 0.0);
}

void TestImageHelpers::clampCoordinate_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<int>("expected");
    // Image 100 x 60.
    QTest::newRow("1 becomes 3") << 1 << true << 3;
    QTest::newRow("2 becomes 3") << 2 << true << 3;
    QTest::newRow("negative") << -40 << false << 3;
    QTest::newRow("3 stays") << 3 << true << 3;
    QTest::newRow("97 stays") << 97 << true << 97;
    QTest::newRow("98 becomes 97") << 98 << true << 97;
    QTest::newRow("vertical uses the height") << 98 << false << 57;
    QTest::newRow("57 stays vertically") << 57 << false << 57;
    QTest::newRow("huge") << INT_MAX << true << 97;
}

void TestImageHelpers::clampCoordinate()
{
    QFETCH(int, value);
    QFETCH(bool, horizontal);
    QFETCH(int, expected);
    ::clampCoordinate(&value, horizontal, 100, 60);
    QCOMPARE(value, expected);
    ::clampCoordinate(nullptr, true, 100, 60);  // ignored
}

void TestImageHelpers::clampRect_data()
{
    QTest::addColumn<QRect>("in");  // from corners
    QTest::addColumn<bool>("keepSize");
    QTest::addColumn<QRect>("out");
    auto corners = [](int l, int t, int r, int b) {
        QRect rect;
        rect.setCoords(l, t, r, b);
        return rect;
    };
    // Image 100 x 80: edges allowed in [3, 97] and [3, 77].
    QTest::newRow("slide right") << corners(-5, 10, 20, 30) << true << corners(3, 10, 28, 30);
    QTest::newRow("clip left") << corners(-5, 10, 20, 30) << false << corners(3, 10, 20, 30);
    QTest::newRow("slide up") << corners(10, 70, 20, 90) << true << corners(10, 57, 20, 77);
    QTest::newRow("clip bottom") << corners(10, 70, 20, 90) << false << corners(10, 70, 20, 77);
    QTest::newRow("inverted edges ordered") << corners(50, 40, 10, 5) << false << corners(10, 5, 50, 40);
    QTest::newRow("inside untouched") << corners(3, 3, 97, 77) << true << corners(3, 3, 97, 77);
    QTest::newRow("wider than the image") << corners(0, 10, 99, 20) << true << corners(-2, 10, 97, 20);
    QTest::newRow("all outside clipped") << corners(200, 200, 300, 300) << false << corners(97, 77, 97, 77);
}

void TestImageHelpers::clampRect()
{
    QFETCH(QRect, in);
    QFETCH(bool, keepSize);
    QFETCH(QRect, out);
    clampRectToImage(in, 100, 80, keepSize);
    QCOMPARE(in, out);
}

void TestImageHelpers::nearness_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<bool>("near");
    QTest::newRow("tolerance 1 acts as 3: 2 apart") << 10 << 12 << 1 << true;
    QTest::newRow("tolerance 1 acts as 3: 3 apart") << 10 << 13 << 1 << false;
    QTest::newRow("tolerance 80 acts as 50: 49 apart") << 0 << 49 << 80 << true;
    QTest::newRow("tolerance 80 acts as 50: 50 apart") << 0 << 50 << 80 << false;
    QTest::newRow("strict at 20") << 100 << 80 << 20 << false;
    QTest::newRow("19 apart") << 100 << 81 << 20 << true;
    QTest::newRow("negative tolerance") << 5 << 7 << -10 << true;
    QTest::newRow("far apart ints") << INT_MIN << INT_MAX << 50 << false;
}

void TestImageHelpers::nearness()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, tolerance);
    QFETCH(bool, near);
    QCOMPARE(isNear(a, b, tolerance), near);
    QCOMPARE(isNearEdge(a, b, 5, 5, 5, tolerance), near);  // ends inclusive
    QVERIFY(!isNearEdge(a, b, 4, 5, 9, tolerance));
    QVERIFY(!isNearEdge(a, b, 10, 5, 9, tolerance));
    QCOMPARE(isNearPoint(QPoint(a, 0), QPoint(b, 0), tolerance), near);
    QCOMPARE(isNearPoint(QPoint(0, a), QPoint(0, b), tolerance), near);
    QVERIFY(!isNearPoint(QPoint(a, 0), QPoint(b, 100), tolerance));
}

void TestImageHelpers::helpersRunConcurrently()
{
    // The helpers keep no state: two threads working at once on their own images
    // get exactly what one thread gets alone.
    const cv::Mat colour = randomRgb32(320, 240, 99);
    cv::Mat gray;
    cv::Mat hue;
    rgb32ToGray(colour, gray);
    rgb32ToHue(colour, hue);
    cv::Mat rotated;
    rotateImage(gray, rotated, 3, -2, 160, 120, 12.5);

    std::atomic<int> mismatches{0};
    auto work = [&](int rounds) {
        cv::Mat g(colour.size(), CV_8UC1);
        cv::Mat h(colour.size(), CV_8UC1);
        cv::Mat r;
        for (int i = 0; i < rounds; ++i) {
            rgb32ToGray(g.data, colour.data, colour.cols, colour.rows);
            rgb32ToHue(h.data, colour.data, colour.cols, colour.rows);
            rotateImage(g, r, 3, -2, 160, 120, 12.5);
            if (!sameMat(g, gray) || !sameMat(h, hue) || !sameMat(r, rotated)) {
                ++mismatches;
            }
        }
    };
    std::thread first(work, 20);
    std::thread second(work, 20);
    first.join();
    second.join();
    QCOMPARE(mismatches.load(), 0);
}

QTEST_GUILESS_MAIN(TestImageHelpers)
#include "tst_imagehelpers.moc"
