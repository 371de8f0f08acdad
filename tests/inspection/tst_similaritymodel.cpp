#include "similaritymodel.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

namespace {

cv::Mat full(int w, int h, int value)
{
    return cv::Mat(h, w, CV_8UC1, cv::Scalar(value));
}

cv::Mat textured(int w, int h, unsigned seed, int lo = 20, int hi = 120)
{
    cv::Mat m(h, w, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, lo, hi);
    return m;
}

// base + a * u + b * v with u alternating by column and v by row: zero-mean,
// orthogonal patterns of equal norm, so the correlation with base + c * u is
// a / sqrt(a^2 + b^2) exactly.
cv::Mat pattern(int a, int b)
{
    cv::Mat m(8, 8, CV_8UC1);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const int u = (x & 1) ? -1 : 1;
            const int v = (y & 1) ? -1 : 1;
            m.at<uchar>(y, x) = uchar(128 + a * u + b * v);
        }
    }
    return m;
}

float score(const std::vector<cv::Mat>& samples, const cv::Mat& live, const cv::Mat& mask)
{
    SimilarityModel model;
    model.Init(mask.cols, mask.rows, mask);
    for (const cv::Mat& s : samples) {
        model.AddSample(s);
    }
    model.Train();
    cv::Mat out(live.size(), CV_8UC1, cv::Scalar(9));
    const float result = model.Detect(live, out);
    if (cv::countNonZero(out) != 0) {
        return -1000.0f; // the output must always come back all zero
    }
    return result;
}

} // namespace

Q_DECLARE_METATYPE(cv::Mat)

class TestSimilarityModel : public QObject {
    Q_OBJECT
private slots:
    void scores_data();
    void scores();
    void bestOfSeveralSamples();
    void largeFlatAreasStayExact();
    void maskSelectsThePixels();
    void emptyModelsAndMismatches();
};

void TestSimilarityModel::scores_data()
{
    QTest::addColumn<cv::Mat>("sample");
    QTest::addColumn<cv::Mat>("live");
    QTest::addColumn<double>("expected");

    const cv::Mat t = textured(16, 12, 7);
    QTest::newRow("identical") << t << t.clone() << 100.0;
    QTest::newRow("gain and offset ignored") << t << cv::Mat(t * 2 + 3) << 100.0;
    QTest::newRow("inverted scores 0, not -100") << t << cv::Mat(255 - t) << 0.0;
    QTest::newRow("constant against constant, same level") << full(16, 12, 90) << full(16, 12, 90) << 100.0;
    QTest::newRow("constant live, textured sample") << t << full(16, 12, 90) << 0.0;
    QTest::newRow("textured live, constant sample") << full(16, 12, 90) << t << 0.0;
    // Two flat areas correlate only by their level: white must not pass black.
    QTest::newRow("saturated white template, black live") << full(16, 12, 255) << full(16, 12, 0) << 0.0;
    QTest::newRow("black template, white live") << full(16, 12, 0) << full(16, 12, 255) << 0.0;
    QTest::newRow("flat levels 51 apart") << full(16, 12, 200) << full(16, 12, 149) << 80.0;
    QTest::newRow("correlation 0.6") << pattern(12, 16) << pattern(20, 0) << 60.0;
}

void TestSimilarityModel::scores()
{
    QFETCH(cv::Mat, sample);
    QFETCH(cv::Mat, live);
    QFETCH(double, expected);
    const float s = score({sample}, live, cv::Mat(sample.size(), CV_8UC1, cv::Scalar(255)));
    QVERIFY2(std::fabs(s - expected) < 1e-3, qPrintable(QString::number(s)));
}

void TestSimilarityModel::bestOfSeveralSamples()
{
    const cv::Mat mask(8, 8, CV_8UC1, cv::Scalar(255));
    // Correlations 0.6 and 0.8 in either order: the best one counts.
    QVERIFY(std::fabs(score({pattern(12, 16), pattern(16, 12)}, pattern(20, 0), mask) - 80.0f) < 1e-3);
    QVERIFY(std::fabs(score({pattern(16, 12), pattern(12, 16)}, pattern(20, 0), mask) - 80.0f) < 1e-3);
    // A negative correlation with one sample does not pull the score down.
    QVERIFY(std::fabs(score({pattern(-20, 0), pattern(12, 16)}, pattern(20, 0), mask) - 60.0f) < 1e-3);
    QCOMPARE(pearsonCorrelation({1, 2, 3}, {3, 2, 1}), -1.0);
}

void TestSimilarityModel::largeFlatAreasStayExact()
{
    // Two million pixels: the textbook sums lose the digits that tell a flat
    // vector from a varying one at this size unless the differences are
    // formed exactly.
    const std::size_t n = 2000000;
    const std::vector<float> white(n, 255.0f);
    std::vector<float> almost(n, 255.0f);
    QCOMPARE(pearsonCorrelation(white, almost), 1.0);
    almost[12345] = 254.0f;
    QCOMPARE(pearsonCorrelation(white, almost), 0.0);
    const std::vector<float> darker(n, 204.0f);
    QVERIFY(std::fabs(pearsonCorrelation(white, darker) - 0.8) < 1e-12);
    std::vector<float> ramp(n);
    for (std::size_t i = 0; i < n; ++i) {
        ramp[i] = float(i % 256);
    }
    std::vector<float> lifted = ramp;
    for (float& v : lifted) {
        v = v * 0.5f + 60.0f;
    }
    QVERIFY(std::fabs(pearsonCorrelation(ramp, lifted) - 1.0) < 1e-12);
}

void TestSimilarityModel::maskSelectsThePixels()
{
    // Identical inside the mask, unrelated outside it.
    const cv::Mat sample = textured(20, 20, 3);
    cv::Mat live = textured(20, 20, 4);
    cv::Mat mask = cv::Mat::zeros(20, 20, CV_8UC1);
    cv::circle(mask, cv::Point(10, 10), 6, cv::Scalar(255), cv::FILLED);
    sample.copyTo(live, mask);
    QVERIFY(std::fabs(score({sample}, live, mask) - 100.0f) < 1e-3);
    QVERIFY(score({sample}, live, cv::Mat(20, 20, CV_8UC1, cv::Scalar(255))) < 50.0f);
}

void TestSimilarityModel::emptyModelsAndMismatches()
{
    const cv::Mat t = textured(10, 10, 5);
    const cv::Mat all(10, 10, CV_8UC1, cv::Scalar(255));
    // No sample, an empty mask: score 0.
    QCOMPARE(score({}, t, all), 0.0f);
    QCOMPARE(score({t}, t, cv::Mat::zeros(10, 10, CV_8UC1)), 0.0f);
    QCOMPARE(pearsonCorrelation({}, {}), 0.0);

    SimilarityModel model;
    model.Init(10, 10, all);
    model.AddSample(t);
    model.AddSample(textured(11, 10, 5)); // another size: refused
    QCOMPARE(model.PendingSamples(), 1);
    model.Train();
    QCOMPARE(model.VectorCount(), 1);
    QCOMPARE(model.PendingSamples(), 0);
    cv::Mat out;
    QCOMPARE(model.Detect(t, out), 100.0f);
    QCOMPARE(out.size(), t.size());
    QCOMPARE(cv::countNonZero(out), 0);
    // A live area of another size cannot be compared: 0, never a pass.
    QCOMPARE(model.Detect(textured(10, 9, 5), out), 0.0f);
    QCOMPARE(out.size(), cv::Size(10, 9));

    // Without Reset a second training adds to the vectors; Reset empties them.
    model.AddSample(t);
    model.Train();
    QCOMPARE(model.VectorCount(), 2);
    model.Reset();
    QVERIFY(!model.IsTrained());
    QCOMPARE(model.Detect(t, out), 0.0f);

    // In the caller's storage the model scores as in its own block, and a
    // sample beyond the room it was given is refused.
    std::vector<unsigned char> storage(SimilarityModel::StorageBytes(10, 10, 1));
    SimilarityModel placed;
    placed.Init(10, 10, all, storage.data(), 1);
    placed.AddSample(t);
    placed.AddSample(textured(10, 10, 9));
    QCOMPARE(placed.PendingSamples(), 1);
    placed.Train();
    QCOMPARE(placed.VectorCount(), 1);
    const cv::Mat other = textured(10, 10, 3);
    QCOMPARE(placed.Detect(other, out), score({t}, other, all));

    // A mask that does not fit the area trains nothing.
    SimilarityModel badMask;
    badMask.Init(10, 10, cv::Mat(5, 5, CV_8UC1, cv::Scalar(255)));
    badMask.AddSample(t);
    badMask.Train();
    QVERIFY(!badMask.IsTrained());
}

QTEST_APPLESS_MAIN(TestSimilarityModel)
#include "tst_similaritymodel.moc"
