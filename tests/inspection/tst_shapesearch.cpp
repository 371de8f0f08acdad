#include <QtTest>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "shapesearch.h"
#include "syntheticframe.h"

Q_DECLARE_METATYPE(cv::Mat)

namespace {

struct Point {
    float x, y, gx, gy;
};

ShapeLevel makeLevel(int width, int height, const std::vector<Point>& points)
{
    ShapeLevel level;
    level.width = width;
    level.height = height;
    for (const Point& p : points) {
        level.xOffsets.push_back(p.x);
        level.yOffsets.push_back(p.y);
        level.gradientX.push_back(p.gx);
        level.gradientY.push_back(p.gy);
    }
    level.pointCount = int(points.size());
    return level;
}

ShapeModel makeModel(std::vector<ShapeLevel> levels)
{
    ShapeModel model;
    model.levels = int(levels.size());
    model.level = std::move(levels);
    return model;
}

// Columns left of 19 are 0, column 20 is 50, right of 21 are 100: the unit
// gradient is (1, 0) on columns 19 to 21 and (0, 0) everywhere else.
cv::Mat rampImage(int size = 40)
{
    cv::Mat image(size, size, CV_8UC1, cv::Scalar(0));
    image.col(20).setTo(50);
    image.colRange(21, size).setTo(100);
    return image;
}

// Ten points down one column: the first one agrees with a vertical ramp by
// `agreement`, the others point across it and add nothing.
ShapeModel tenPointModel(float agreement)
{
    std::vector<Point> points { { 0, 0, agreement, 0 } };
    for (int k = 1; k <= 9; ++k)
        points.push_back({ 0, float(k - 5 < 0 ? k - 5 : k - 4), 0, 1 });
    return makeModel({ makeLevel(9, 9, points) });
}

// Plain scoring of one candidate: offsets rounded
// half away from zero, outside points skipped but counted.
float referenceScore(const ShapeLevel& level, const cv::Mat& gx, const cv::Mat& gy, int cx, int cy)
{
    float sum = 0.0f;
    for (int j = 0; j < level.pointCount; ++j) {
        const int px = int(std::round(float(cx) + level.xOffsets[j]));
        const int py = int(std::round(float(cy) + level.yOffsets[j]));
        if (px < 0 || px >= gx.cols || py < 0 || py >= gx.rows)
            continue;
        sum += level.gradientY[j] * gy.at<float>(py, px) + level.gradientX[j] * gx.at<float>(py, px);
    }
    return sum / float(level.pointCount);
}

float referenceRotatedScore(const std::vector<int>& xs, const std::vector<int>& ys,
                            const std::vector<float>& gxs, const std::vector<float>& gys,
                            const cv::Mat& gx, const cv::Mat& gy, int cx, int cy, float threshold,
                            bool top)
{
    const int n = int(xs.size());
    float sum = 0.0f;
    for (int j = 0; j < n; ++j) {
        const int px = cx + xs[j];
        const int py = cy + ys[j];
        if (px < 0 || px >= gx.cols || py < 0 || py >= gx.rows)
            continue;
        sum += gys[j] * gy.at<float>(py, px) + gxs[j] * gx.at<float>(py, px);
        if (top && float(n - j) + sum < float(n) * threshold)
            return 0.0f;
    }
    return sum / float(n);
}

struct Best {
    int x = 0, y = 0;
    float score = 0.0f;
    void offer(int cx, int cy, float s)
    {
        if (s > score) {
            score = s;
            x = cx;
            y = cy;
        }
    }
};

// The whole search written the plain way: full gradient images on every
// level, literal scoring, angle ladders computed on the spot.
void referenceSearch(const ShapeModel& model, const cv::Mat& search, const ShapeSearchParams& p,
                     bool rotate, cv::Point2f& position, float& angle, float& score)
{
    std::vector<cv::Mat> pyramid { search };
    for (int i = 1; i < model.levels; ++i) {
        cv::Mat half;
        halfSizeImage(pyramid.back(), half);
        pyramid.push_back(half);
    }
    const int top = model.levels - 1;
    int bx = 0;
    int by = 0;
    float ba = 0.0f;
    for (int lvl = top; lvl >= 0; --lvl) {
        const ShapeLevel& level = model.level[lvl];
        const cv::Mat& image = pyramid[lvl];
        cv::Mat gx, gy, mag;
        sobelGradient(image, gx, gy, mag);
        int x0 = 2 * bx - 2, x1 = 2 * bx + 2, y0 = 2 * by - 2, y1 = 2 * by + 2;
        if (lvl == top) {
            x0 = level.width / 2;
            x1 = image.cols - level.width / 2;
            y0 = level.height / 2;
            y1 = image.rows - level.height / 2;
        }
        Best best;
        float bestAngle = 0.0f;
        if (!rotate) {
            for (int cy = y0; cy <= y1; ++cy)
                for (int cx = x0; cx <= x1; ++cx)
                    best.offer(cx, cy, referenceScore(level, gx, gy, cx, cy));
        } else {
            float step = p.angleStep;
            for (int i = 0; i < lvl; ++i)
                step *= 2.0f;
            float start = p.angleStart;
            float end = p.angleEnd;
            if (lvl != top) {
                start = ba - 2.0f * (step * 2.0f);
                end = ba + 2.0f * (step * 2.0f);
            }
            const int n = int((end - start) / step) + 1;
            for (int f = 0; f < n; ++f) {
                const float a = start + float(f) * step;
                const float c = float(std::cos(double(a) * CV_PI / 180.0));
                const float s = float(std::sin(double(a) * CV_PI / 180.0));
                std::vector<int> xs, ys;
                std::vector<float> gxs, gys;
                for (int j = 0; j < level.pointCount; ++j) {
                    const float x = level.xOffsets[j];
                    const float y = level.yOffsets[j];
                    xs.push_back(int(std::round(x * c - y * s)));
                    ys.push_back(int(std::round(x * s + y * c)));
                    gxs.push_back(level.gradientX[j] * c - level.gradientY[j] * s);
                    gys.push_back(level.gradientX[j] * s + level.gradientY[j] * c);
                }
                Best forAngle;
                for (int cy = y0; cy <= y1; ++cy)
                    for (int cx = x0; cx <= x1; ++cx)
                        forAngle.offer(cx, cy,
                                       referenceRotatedScore(xs, ys, gxs, gys, gx, gy, cx, cy,
                                                             lvl == top ? best.score : 0.0f,
                                                             lvl == top));
                if (forAngle.score > best.score) {
                    best = forAngle;
                    bestAngle = a;
                }
            }
        }
        bx = best.x;
        by = best.y;
        ba = bestAngle;
        position = cv::Point2f(float(bx), float(by));
        angle = ba;
        score = best.score;
    }
}

cv::Mat randomGradient(cv::RNG& rng, int w, int h)
{
    cv::Mat grey(h, w, CV_8UC1);
    rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(grey, grey, cv::Size(5, 5), 1.2);
    return grey;
}

} // namespace

class TestShapeSearch : public QObject {
    Q_OBJECT

private slots:
    void templateFindsItsOwnCentre();
    void levelWithoutPointsFindsNothing();
    void minimumScoreIsInclusive();
    void nothingToSearch_data();
    void nothingToSearch();
    void angleLadder();
    void tiesGoToTheFirst();
    void outsidePointsLowerTheScore();
    void scoringMatchesPlainReference();
    void rotatedScoringMatchesPlainReference();
    void searchMatchesPlainReference_data();
    void searchMatchesPlainReference();
};

void TestShapeSearch::templateFindsItsOwnCentre()
{
    SyntheticScene scene;
    const cv::Rect area = syntheticPartBox(scene, 4);
    const cv::Mat templ = makeSyntheticFrame(scene).image(area).clone();
    cv::Mat work = templ.clone();
    ShapeModel model;
    QVERIFY(createShapeModel(work, cv::Mat(), model));
    QCOMPARE(model.levels, 3);

    cv::Point2f at;
    float angle = 5.0f;
    float score = 0.0f;
    QVERIFY(searchShape(model, templ, ShapeSearchParams(), at, angle, score));
    QCOMPARE(at, cv::Point2f(float(templ.cols / 2), float(templ.rows / 2)));
    QCOMPARE(angle, 0.0f);
    QVERIFY2(score > 0.95f, qPrintable(QString::number(score)));

    ShapeSearchParams turned;
    turned.angleStart = -20.0f;
    turned.angleEnd = 20.0f;
    QVERIFY(findShape(templ, model, turned, true, at, angle));
    QVERIFY(std::fabs(at.x - templ.cols / 2) <= 1.0f && std::fabs(at.y - templ.rows / 2) <= 1.0f);
    QVERIFY(std::fabs(angle) <= 0.5f);
}

void TestShapeSearch::levelWithoutPointsFindsNothing()
{
    const ShapeModel model = makeModel({ makeLevel(9, 9, {}) });
    cv::Point2f at(3, 3);
    float angle = 1.0f;
    float score = 1.0f;
    QVERIFY(searchShape(model, rampImage(), ShapeSearchParams(), at, angle, score));
    QCOMPARE(score, 0.0f);
    QCOMPARE(at, cv::Point2f(0, 0));
    ShapeSearchParams params;
    params.minScore = -1.0f; // even a caller asking for nothing gets nothing
    QVERIFY(!findShape(rampImage(), model, params, false, at, angle));
    params.angleStart = -5.0f;
    params.angleEnd = 5.0f;
    QVERIFY(!findShape(rampImage(), model, params, true, at, angle));
}

void TestShapeSearch::minimumScoreIsInclusive()
{
    const cv::Mat image = rampImage();
    cv::Point2f at;
    float angle = 0.0f;
    float score = 0.0f;
    QVERIFY(searchShape(tenPointModel(1.0f), image, ShapeSearchParams(), at, angle, score));
    QCOMPARE(score, 0.1f);
    // Every row ties; the first candidate in row order is on the window's top row.
    QCOMPARE(at, cv::Point2f(19, 4));

    ShapeSearchParams params;
    params.minScore = 0.1f;
    QVERIFY(findShape(image, tenPointModel(1.0f), params, false, at, angle));
    QCOMPARE(at, cv::Point2f(19, 4));

    QVERIFY(searchShape(tenPointModel(0.999f), image, params, at, angle, score));
    QVERIFY(score < 0.1f && score > 0.0998f);
    QVERIFY(!findShape(image, tenPointModel(0.999f), params, false, at, angle));
    QCOMPARE(at, cv::Point2f(0, 0));
    QCOMPARE(angle, 0.0f);
}

void TestShapeSearch::nothingToSearch_data()
{
    QTest::addColumn<cv::Mat>("image");
    QTest::addColumn<bool>("rotate");
    // The model is 9 x 9 on one level.
    QTest::newRow("empty") << cv::Mat() << false;
    QTest::newRow("empty, rotated") << cv::Mat() << true;
    QTest::newRow("2x2") << cv::Mat(2, 2, CV_8UC1, cv::Scalar(9)) << false;
    QTest::newRow("3x40 rotated") << cv::Mat(3, 40, CV_8UC1, cv::Scalar(9)) << true;
    QTest::newRow("too small for the template") << rampImage()(cv::Rect(15, 0, 7, 40)).clone()
                                                << false;
    QTest::newRow("colour") << cv::Mat(40, 40, CV_8UC3, cv::Scalar::all(9)) << false;
}

void TestShapeSearch::nothingToSearch()
{
    QFETCH(cv::Mat, image);
    QFETCH(bool, rotate);
    ShapeSearchParams params;
    params.minScore = -1.0f;
    params.angleStart = -3.0f;
    params.angleEnd = 3.0f;
    cv::Point2f at(5, 5);
    float angle = 2.0f;
    QVERIFY(!findShape(image, tenPointModel(1.0f), params, rotate, at, angle));
    QCOMPARE(at, cv::Point2f(0, 0));
    QCOMPARE(angle, 0.0f);
}

void TestShapeSearch::angleLadder()
{
    // +-30 with 3 levels: steps 0.1, 0.2 and 0.4; the top walks 151 angles.
    const float s0 = 0.1f;
    const float s1 = s0 * 2.0f;
    const float s2 = s1 * 2.0f;
    QCOMPARE(shapeAngleCount(-30.0f, 30.0f, s2), 151);
    // Finer levels walk +-2 steps of the level above with their own step: 9
    // angles, or 8 where the single-precision quotient falls just below 8.
    const float top = -30.0f + 75.0f * s2; // 0 on the top ladder
    QCOMPARE(shapeAngleCount(top - 2.0f * s2, top + 2.0f * s2, s1), 9);
    const float topBest = -30.0f + 56.0f * s2;  // -7.6 on the top level
    const float middleStart = topBest - 2.0f * s2;
    const float middleBest = middleStart + 4.0f * s1; // -7.6 on the middle level
    QCOMPARE(shapeAngleCount(middleBest - 2.0f * s1, middleBest + 2.0f * s1, s0), 8);

    QCOMPARE(shapeAngleCount(5.0f, -5.0f, s0), 0);
    QCOMPARE(shapeAngleCount(1.0e30f, -1.0e30f, s0), 0);
    QCOMPARE(shapeAngleCount(0.05f, 0.0f, s0), 1); // trunc(-0.5) + 1
    QCOMPARE(shapeAngleCount(0.0f, 0.0f, s0), 1);
    QCOMPARE(shapeAngleCount(-1.0f, 1.0f, 0.0f), -1);
    QCOMPARE(shapeAngleCount(-1.0f, 1.0f, std::nanf("")), -1);
    QCOMPARE(shapeAngleCount(-1.0e9f, 1.0e9f, 0.1f), -1);

    // Such parameters search nothing.
    ShapeSearchParams params;
    params.angleStart = -10.0f;
    params.angleEnd = 10.0f;
    params.angleStep = 0.0f;
    cv::Point2f at;
    float angle = 0.0f;
    float score = 0.0f;
    QVERIFY(!searchShapeRotated(tenPointModel(1.0f), rampImage(), params, at, angle, score));
}

void TestShapeSearch::tiesGoToTheFirst()
{
    // A vertical line of points facing right, against a vertical ramp: turned
    // by -10 or +10 degrees it scores the same (mirror images); the smaller
    // angle must win, and with it the first position in row order.
    std::vector<Point> line;
    for (int k = -4; k <= 4; ++k)
        line.push_back({ 0, float(k), 1, 0 });
    const ShapeModel model = makeModel({ makeLevel(9, 9, line) });
    ShapeSearchParams params;
    params.angleStart = -10.0f;
    params.angleEnd = 10.0f;
    params.angleStep = 20.0f;
    cv::Point2f at;
    float angle = 0.0f;
    float score = 0.0f;
    QVERIFY(searchShapeRotated(model, rampImage(), params, at, angle, score));
    QCOMPARE(angle, -10.0f);
    QVERIFY(score > 0.5f);

    // Score of each turn on its own: equal, so the tie rule decided.
    for (float turn : { -10.0f, 10.0f }) {
        ShapeSearchParams one = params;
        one.angleStart = one.angleEnd = turn;
        float s = 0.0f;
        float a = 0.0f;
        cv::Point2f p;
        QVERIFY(searchShapeRotated(model, rampImage(), one, p, a, s));
        QCOMPARE(s, score);
    }

    // Two equal positions in one row: the left one.
    cv::Mat twin(20, 40, CV_8UC1, cv::Scalar(0));
    twin.colRange(10, 20).setTo(100);
    twin.colRange(30, 40).setTo(100);
    const ShapeModel edge = makeModel({ makeLevel(
        3, 3, { { 0, -1, 1, 0 }, { 0, 0, 1, 0 }, { 0, 1, 1, 0 } }) });
    QVERIFY(searchShape(edge, twin, ShapeSearchParams(), at, angle, score));
    QCOMPARE(score, 1.0f);
    QCOMPARE(at, cv::Point2f(9, 1));
}

void TestShapeSearch::outsidePointsLowerTheScore()
{
    // A horizontal ramp: unit gradient (1, 0) on every column but the first
    // and last, where the mirrored border gives 0.
    cv::Mat ramp(20, 40, CV_8UC1);
    for (int c = 0; c < 40; ++c)
        ramp.col(c).setTo(c * 5);
    cv::Mat gx, gy, mag;
    QVERIFY(sobelGradient(ramp, gx, gy, mag));
    const ShapeLevel level = makeLevel(9, 3, { { -4, 0, 1, 0 }, { 4, 0, 1, 0 } });
    int x = -1;
    int y = -1;
    float score = -1.0f;
    scoreShape(level, gx, gy, ShapeWindow { 20, 10, 20, 10 }, x, y, score);
    QCOMPARE(score, 1.0f);
    scoreShape(level, gx, gy, ShapeWindow { 2, 10, 2, 10 }, x, y, score);
    QCOMPARE(score, 0.5f); // the left point is outside but still counts
    QCOMPARE(x, 2);
    scoreShape(level, gx, gy, ShapeWindow { -10, 10, -10, 10 }, x, y, score);
    QCOMPARE(score, 0.0f); // nothing above 0: (0, 0)
    QCOMPARE(x, 0);
}

void TestShapeSearch::scoringMatchesPlainReference()
{
    // The candidate loop skips rounding and bounds tests wherever it can; it
    // must still give exactly what plain scoring gives, on half and
    // whole offsets (templates of odd and even size) and on arbitrary ones.
    cv::RNG rng(41);
    cv::Mat gx, gy, mag;
    QVERIFY(sobelGradient(randomGradient(rng, 37, 29), gx, gy, mag));
    for (int kind = 0; kind < 3; ++kind) {
        std::vector<Point> points;
        for (int j = 0; j < 60; ++j) {
            float x = float(rng.uniform(-9, 10));
            float y = float(rng.uniform(-7, 8));
            if (kind == 1) {
                x += 0.5f;
                y -= 0.5f;
            } else if (kind == 2) {
                x += rng.uniform(-0.5f, 0.5f);
                y += rng.uniform(-0.5f, 0.5f);
            }
            const float a = rng.uniform(0.0f, 6.2831f);
            points.push_back({ x, y, std::cos(a), std::sin(a) });
        }
        const ShapeLevel level = makeLevel(19, 15, points);
        const ShapeWindow window { -3, -4, 40, 33 };
        Best expected;
        for (int cy = window.y0; cy <= window.y1; ++cy)
            for (int cx = window.x0; cx <= window.x1; ++cx)
                expected.offer(cx, cy, referenceScore(level, gx, gy, cx, cy));
        int x = 0;
        int y = 0;
        float score = 0.0f;
        scoreShape(level, gx, gy, window, x, y, score);
        QCOMPARE(score, expected.score);
        QCOMPARE(x, expected.x);
        QCOMPARE(y, expected.y);
    }
}

void TestShapeSearch::rotatedScoringMatchesPlainReference()
{
    cv::RNG rng(43);
    cv::Mat gx, gy, mag;
    QVERIFY(sobelGradient(randomGradient(rng, 41, 33), gx, gy, mag));
    std::vector<int> xs, ys;
    std::vector<float> gxs, gys;
    for (int j = 0; j < 80; ++j) {
        xs.push_back(rng.uniform(-10, 11));
        ys.push_back(rng.uniform(-8, 9));
        const float a = rng.uniform(0.0f, 6.2831f);
        gxs.push_back(std::cos(a));
        gys.push_back(std::sin(a));
    }
    const ShapeWindow window { -2, -2, 42, 34 };
    for (bool top : { false, true }) {
        for (float threshold : { 0.0f, 0.08f, 0.2f, 0.9f }) {
            Best expected;
            for (int cy = window.y0; cy <= window.y1; ++cy)
                for (int cx = window.x0; cx <= window.x1; ++cx)
                    expected.offer(cx, cy, referenceRotatedScore(xs, ys, gxs, gys, gx, gy, cx, cy,
                                                                 threshold, top));
            int x = 0;
            int y = 0;
            float score = 0.0f;
            scoreShapeRotated(xs.data(), ys.data(), gxs.data(), gys.data(), int(xs.size()), gx, gy,
                              window, threshold, x, y, score, top);
            QCOMPARE(score, expected.score);
            QCOMPARE(x, expected.x);
            QCOMPARE(y, expected.y);
            if (top && threshold >= 0.9f)
                QCOMPARE(score, 0.0f); // random gradients never get near 0.9
        }
    }
}

void TestShapeSearch::searchMatchesPlainReference_data()
{
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<double>("angle");
    QTest::addColumn<int>("templateWidth");
    QTest::addColumn<bool>("rotate");
    QTest::newRow("in place") << 0.0 << 0.0 << 0.0 << 0 << false;
    QTest::newRow("shifted") << -14.0 << 9.0 << 0.0 << 0 << false;
    QTest::newRow("turned") << 6.0 << -3.0 << 8.3 << 0 << true;
    QTest::newRow("turned, odd template") << -9.0 << 11.0 << -6.1 << 1 << true;
    // The part leaves the frame: the finest levels reach past the border.
    QTest::newRow("at the border") << 78.0 << -50.0 << 3.0 << 0 << true;
    QTest::newRow("shifted to the border") << -70.0 << 52.0 << 0.0 << 1 << false;
}

void TestShapeSearch::searchMatchesPlainReference()
{
    // The search computes gradients only where a level's candidates can reach
    // and scores without rounding or bounds tests where it can: the outcome
    // must be exactly that of the plain search.
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(double, angle);
    QFETCH(int, templateWidth);
    QFETCH(bool, rotate);
    SyntheticScene scene;
    scene.width = 240;
    scene.height = 180;
    scene.partWidth = 100;
    scene.partHeight = 64;
    cv::Rect area = syntheticPartBox(scene, 3);
    area.width += templateWidth;
    cv::Mat templ = makeSyntheticFrame(scene).image(area).clone();
    ShapeModel model;
    QVERIFY(createShapeModel(templ, cv::Mat(), model));

    scene.dx = dx;
    scene.dy = dy;
    scene.angle = angle;
    scene.noiseSeed = 8;
    const cv::Mat live = makeSyntheticFrame(scene).image;
    ShapeSearchParams params;
    params.angleStart = -10.0f;
    params.angleEnd = 10.0f;

    cv::Point2f expectedAt;
    float expectedAngle = 0.0f;
    float expectedScore = 0.0f;
    referenceSearch(model, live, params, rotate, expectedAt, expectedAngle, expectedScore);
    cv::Point2f at;
    float found = 0.0f;
    float score = 0.0f;
    QVERIFY(rotate ? searchShapeRotated(model, live, params, at, found, score)
                   : searchShape(model, live, params, at, found, score));
    QCOMPARE(at, expectedAt);
    QCOMPARE(found, expectedAngle);
    QCOMPARE(score, expectedScore);
    QVERIFY(score > 0.0f);

    // The engine searches its window in place, inside a larger frame whose
    // surroundings must play no part.
    cv::Mat frame(live.rows + 9, live.cols + 14, CV_8UC1, cv::Scalar(255));
    const cv::Mat view = frame(cv::Rect(5, 3, live.cols, live.rows));
    live.copyTo(view);
    QVERIFY(rotate ? searchShapeRotated(model, view, params, at, found, score)
                   : searchShape(model, view, params, at, found, score));
    QCOMPARE(at, expectedAt);
    QCOMPARE(found, expectedAngle);
    QCOMPARE(score, expectedScore);

    {
        // Working images kept in a table from a larger frame of other
        // content play no part in the next frame.
        ShapeAngleTable kept;
        cv::Mat other(live.rows + 40, live.cols + 30, CV_8UC1);
        cv::RNG(3).fill(other, cv::RNG::UNIFORM, 0, 256);
        cv::Point2f elsewhere;
        float otherAngle = 0.0f;
        float otherScore = 0.0f;
        QVERIFY(rotate ? searchShapeRotated(model, other, params, elsewhere, otherAngle, otherScore, &kept)
                       : searchShape(model, other, params, elsewhere, otherAngle, otherScore, &kept));
        QVERIFY(rotate ? searchShapeRotated(model, live, params, at, found, score, &kept)
                       : searchShape(model, live, params, at, found, score, &kept));
        QCOMPARE(at, expectedAt);
        QCOMPARE(found, expectedAngle);
        QCOMPARE(score, expectedScore);
    }

    if (rotate) {
        // Kept turned point sets: built for another range first (so they
        // must be rebuilt), then built for this one, then reused.
        ShapeAngleTable table;
        ShapeSearchParams other = params;
        other.angleStart = -4.0f;
        other.angleEnd = 4.0f;
        QVERIFY(searchShapeRotated(model, live, other, at, found, score, &table));
        for (int pass = 0; pass < 2; ++pass) {
            QVERIFY(searchShapeRotated(model, live, params, at, found, score, &table));
            QCOMPARE(at, expectedAt);
            QCOMPARE(found, expectedAngle);
            QCOMPARE(score, expectedScore);
        }
        QCOMPARE(table.start, params.angleStart);
    }
}

QTEST_APPLESS_MAIN(TestShapeSearch)
#include "tst_shapesearch.moc"
