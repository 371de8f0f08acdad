#include "defectmodel.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

namespace {

cv::Mat full(int w, int h, int value = 255)
{
    return cv::Mat(h, w, CV_8UC1, cv::Scalar(value));
}

// A dark left half and a bright right half: one vertical edge.
cv::Mat stepImage(int w, int h, int left, int right)
{
    cv::Mat m = full(w, h, left);
    m(cv::Rect(w / 2, 0, w - w / 2, h)).setTo(right);
    return m;
}

// Where Canny (as the model is told to run it) finds edges, grown by k x k.
cv::Mat referenceEdges(const cv::Mat& sample, int k)
{
    cv::Mat edges;
    cv::Canny(sample, edges, 100, 150, 3, false);
    cv::Mat grown = cv::Mat::zeros(edges.size(), CV_8U);
    const int r = k / 2;
    for (int y = 0; y < edges.rows; ++y) {
        for (int x = 0; x < edges.cols; ++x) {
            if (!edges.at<uchar>(y, x)) {
                continue;
            }
            for (int yy = y - r; yy <= y - r + k - 1; ++yy) {
                for (int xx = x - r; xx <= x - r + k - 1; ++xx) {
                    if (yy >= 0 && xx >= 0 && yy < edges.rows && xx < edges.cols) {
                        grown.at<uchar>(yy, xx) = 255;
                    }
                }
            }
        }
    }
    return grown;
}

DefectModel* trained(const std::vector<cv::Mat>& samples, const cv::Mat& mask, int tolerance, int factor)
{
    auto* model = new DefectModel;
    model->Init(mask.cols, mask.rows, mask, 0);
    for (const cv::Mat& s : samples) {
        model->AddSample(s);
    }
    model->Train(tolerance, factor, 100, 150);
    return model;
}

} // namespace

class TestDefectModel : public QObject {
    Q_OBJECT
private slots:
    void boundsFromSeveralSamples_data();
    void boundsFromSeveralSamples();
    void singleSampleFreesItsEdges_data();
    void singleSampleFreesItsEdges();
    void detectMarksOutsideBoundsInsideMaskOnly();
    void nearestSampleWinsAndTiesKeepTheEarlier();
    void untrainedOrMismatchedLeavesOutputAlone();
    void resetAndRetrain();
};

void TestDefectModel::boundsFromSeveralSamples_data()
{
    QTest::addColumn<QVector<int>>("values");
    QTest::addColumn<int>("factor");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");

    QTest::newRow("identical, factor 2: tolerance only") << QVector<int>{100, 100} << 2 << 10 << 90 << 110;
    QTest::newRow("factor 0: span widened") << QVector<int>{100, 120} << 0 << 5 << 95 << 125;
    QTest::newRow("factor 0: three samples") << QVector<int>{120, 100, 110} << 0 << 0 << 100 << 120;
    QTest::newRow("factor 3 deviations") << QVector<int>{100, 110} << 3 << 0 << 90 << 120;
    QTest::newRow("tolerance beats deviation") << QVector<int>{100, 110} << 1 << 8 << 97 << 113;
    QTest::newRow("negative factor counts as 2") << QVector<int>{100, 110} << -1 << 0 << 95 << 115;
    QTest::newRow("truncated, not rounded") << QVector<int>{10, 20, 30} << 2 << 0 << 3 << 36;
    QTest::newRow("clamped at 255") << QVector<int>{250, 250} << 2 << 20 << 230 << 255;
    QTest::newRow("clamped at 0") << QVector<int>{5, 5} << 2 << 20 << 0 << 25;
    QTest::newRow("whole range") << QVector<int>{0, 255} << 1 << 0 << 0 << 255;
    QTest::newRow("factor 0, absurd tolerance") << QVector<int>{100, 120} << 0 << INT_MAX << 0 << 255;
    QTest::newRow("factor 0, negative tolerance") << QVector<int>{100, 120} << 0 << -30 << 130 << 90;
}

void TestDefectModel::boundsFromSeveralSamples()
{
    QFETCH(QVector<int>, values);
    QFETCH(int, factor);
    QFETCH(int, tolerance);
    QFETCH(int, lower);
    QFETCH(int, upper);

    std::vector<cv::Mat> samples;
    for (int v : values) {
        samples.push_back(full(7, 5, v));
    }
    std::unique_ptr<DefectModel> model(trained(samples, full(7, 5), tolerance, factor));
    QVERIFY(model->IsTrained());
    QCOMPARE(model->Mode(), DefectModel::ModeBounds);
    QCOMPARE(model->SampleCount(), 0);
    QCOMPARE(cv::countNonZero(model->Lower() != lower), 0);
    QCOMPARE(cv::countNonZero(model->Upper() != upper), 0);

    // Just inside passes, just outside is a defect.
    cv::Mat out = cv::Mat::zeros(5, 7, CV_8U);
    if (lower > 0) {
        QVERIFY(model->Detect(full(7, 5, lower - 1), out));
        QCOMPARE(cv::countNonZero(out), 35);
    }
    if (lower <= upper) {
        QVERIFY(model->Detect(full(7, 5, lower), out));
        QCOMPARE(cv::countNonZero(out), 0);
        QVERIFY(model->Detect(full(7, 5, upper), out));
        QCOMPARE(cv::countNonZero(out), 0);
    }
    if (upper < 255) {
        QVERIFY(model->Detect(full(7, 5, upper + 1), out));
        QCOMPARE(cv::countNonZero(out), 35);
    }
}

void TestDefectModel::singleSampleFreesItsEdges_data()
{
    QTest::addColumn<int>("factor");
    QTest::addColumn<int>("grow");
    QTest::newRow("factor 0 counts as 1") << 0 << 1;
    QTest::newRow("factor -2 counts as 1") << -2 << 1;
    QTest::newRow("factor 3: 3x3 dilation") << 3 << 3;
}

void TestDefectModel::singleSampleFreesItsEdges()
{
    QFETCH(int, factor);
    QFETCH(int, grow);

    const cv::Mat sample = stepImage(40, 30, 5, 250);
    std::unique_ptr<DefectModel> model(trained({sample}, full(40, 30), 10, factor));
    QVERIFY(model->IsTrained());
    const cv::Mat edges = referenceEdges(sample, grow);
    QVERIFY(cv::countNonZero(edges) > 0);

    int edgePixels = 0;
    int plainPixels = 0;
    for (int y = 0; y < sample.rows; ++y) {
        for (int x = 0; x < sample.cols; ++x) {
            const int lo = model->Lower().at<uchar>(y, x);
            const int hi = model->Upper().at<uchar>(y, x);
            if (edges.at<uchar>(y, x)) {
                ++edgePixels;
                QCOMPARE(lo, 0);
                QCOMPARE(hi, 255);
            } else {
                ++plainPixels;
                const int v = sample.at<uchar>(y, x);
                QCOMPARE(lo, std::max(v - 10, 0));
                QCOMPARE(hi, std::min(v + 10, 255));
            }
        }
    }
    QVERIFY(edgePixels > 0 && plainPixels > 0);
    // With the 3x3 dilation the columns beside the edge are free as well.
    QCOMPARE(cv::countNonZero(model->Deviation()), cv::countNonZero(edges));
}

void TestDefectModel::detectMarksOutsideBoundsInsideMaskOnly()
{
    // Mask: a disc; live: dark spots inside and outside it.
    cv::Mat mask = cv::Mat::zeros(60, 60, CV_8U);
    cv::circle(mask, cv::Point(30, 30), 20, cv::Scalar(255), cv::FILLED);
    std::unique_ptr<DefectModel> model(trained({full(60, 60, 150), full(60, 60, 150)}, mask, 20, 2));

    cv::Mat live = full(60, 60, 150);
    cv::circle(live, cv::Point(30, 30), 4, cv::Scalar(20), cv::FILLED); // inside the mask
    cv::rectangle(live, cv::Rect(0, 0, 8, 8), cv::Scalar(0), cv::FILLED); // outside it
    live.at<uchar>(45, 30) = 129;                                           // 1 below the bound

    cv::Mat expected = ((live < 130) | (live > 170)) & mask;
    cv::Mat out = cv::Mat::zeros(60, 60, CV_8U);
    QVERIFY(model->Detect(live, out));
    QCOMPARE(cv::countNonZero(out != expected), 0);
    QCOMPARE(out.at<uchar>(45, 30), uchar(255));
    QCOMPARE(cv::countNonZero(out(cv::Rect(0, 0, 8, 8))), 0);

    // In place into a crop of a larger picture, as the engine writes the
    // overlay: nothing beside the crop changes.
    cv::Mat canvas(80, 80, CV_8U, cv::Scalar(7));
    cv::Mat window = canvas(cv::Rect(10, 10, 60, 60));
    QVERIFY(model->Detect(live, window));
    QCOMPARE(cv::countNonZero(window != expected), 0);
    QCOMPARE(canvas.at<uchar>(0, 0), uchar(7));
    QCOMPARE(canvas.at<uchar>(79, 79), uchar(7));
}

void TestDefectModel::nearestSampleWinsAndTiesKeepTheEarlier()
{
    const cv::Mat live = full(20, 10, 100);
    const cv::Mat mask = full(20, 10);
    std::vector<cv::Mat> samples(3, live);
    for (auto& s : samples) {
        s = live.clone();
    }
    // 40, 12 and 12 pixels beyond the tolerance of 10, at different places.
    samples[0](cv::Rect(0, 0, 20, 2)).setTo(50);
    samples[1](cv::Rect(0, 5, 12, 1)).setTo(200);
    samples[2](cv::Rect(8, 9, 12, 1)).setTo(0);
    samples[2].at<uchar>(0, 0) = 110; // within the tolerance: no difference

    std::unique_ptr<DefectModel> model(trained(samples, mask, 10, 4));
    QVERIFY(model->IsTrained());
    QCOMPARE(model->Mode(), DefectModel::ModeNearest);
    QCOMPARE(model->SampleCount(), 3);

    cv::Mat out = cv::Mat::zeros(10, 20, CV_8U);
    QVERIFY(model->Detect(live, out));
    cv::Mat expected = cv::Mat::zeros(10, 20, CV_8U);
    expected(cv::Rect(0, 5, 12, 1)).setTo(255);
    QCOMPARE(cv::countNonZero(out != expected), 0);

    // Reset drops the samples of this mode.
    model->Reset();
    QVERIFY(!model->IsTrained());
    QCOMPARE(model->SampleCount(), 0);
}

void TestDefectModel::untrainedOrMismatchedLeavesOutputAlone()
{
    const cv::Mat live = full(12, 8, 0);
    cv::Mat out = cv::Mat::zeros(8, 12, CV_8U);

    DefectModel fresh;
    QVERIFY(!fresh.Detect(live, out));
    QCOMPARE(cv::countNonZero(out), 0);

    // No valid template: Train is reached without a sample and must not
    // produce a model that passes everything.
    std::unique_ptr<DefectModel> empty(trained({}, full(12, 8), 10, 2));
    QVERIFY(!empty->IsTrained());
    QVERIFY(!empty->Detect(live, out));
    std::unique_ptr<DefectModel> emptyNearest(trained({}, full(12, 8), 10, 4));
    QVERIFY(!emptyNearest->IsTrained());

    // A sample of another size is refused rather than read out of bounds.
    std::unique_ptr<DefectModel> wrong(trained({full(13, 8, 100)}, full(12, 8), 10, 2));
    QVERIFY(!wrong->IsTrained());
    // A mask of another size than the area.
    DefectModel badMask;
    badMask.Init(12, 8, full(5, 5), 0);
    badMask.AddSample(full(12, 8, 100));
    badMask.Train(10, 2, 100, 150);
    QVERIFY(!badMask.IsTrained());

    std::unique_ptr<DefectModel> good(trained({full(12, 8, 100), full(12, 8, 100)}, full(12, 8), 10, 2));
    cv::Mat marked(8, 12, CV_8U, cv::Scalar(3));
    QVERIFY(!good->Detect(full(11, 8, 0), marked)); // live of another size
    QVERIFY(!good->Detect(live, marked = cv::Mat(8, 11, CV_8U, cv::Scalar(3))));
    QCOMPARE(cv::countNonZero(marked != 3), 0);
}

void TestDefectModel::resetAndRetrain()
{
    std::unique_ptr<DefectModel> model(trained({full(6, 6, 100), full(6, 6, 100)}, full(6, 6), 5, 2));
    model->Reset();
    QVERIFY(!model->IsTrained());
    cv::Mat out = cv::Mat::zeros(6, 6, CV_8U);
    QVERIFY(!model->Detect(full(6, 6, 0), out));

    // A new training starts from a fresh sum: the old samples do not linger.
    model->Init(6, 6, full(6, 6), 0);
    model->AddSample(full(6, 6, 200));
    model->AddSample(full(6, 6, 200));
    model->Train(5, 2, 100, 150);
    QCOMPARE(model->Lower().at<uchar>(0, 0), uchar(195));
    QCOMPARE(model->Upper().at<uchar>(0, 0), uchar(205));
    QCOMPARE(model->CannyLow(), 100.0);
    QCOMPARE(model->CannyHigh(), 150.0);
}

QTEST_APPLESS_MAIN(TestDefectModel)
#include "tst_defectmodel.moc"
