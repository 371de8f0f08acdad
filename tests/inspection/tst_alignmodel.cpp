#include <QtTest>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "alignmodel.h"
#include "alignpair.h"
#include "syntheticframe.h"

#include <QProcess>

#include <thread>

namespace {

constexpr float kConfidence = kAlignConfidence;
constexpr int kMinKeypoints = kAlignMinKeypoints;

// What one alignment answered: aligned or not, and the transform it applied.
struct Outcome {
    bool aligned = false;
    cv::Matx33d h;
};

Outcome alignOnce(AlignModel& model, const cv::Mat& live)
{
    cv::Mat out;
    Outcome o;
    o.aligned = model.Align(live, out, kConfidence);
    if (o.aligned)
        o.h = cv::Matx33d(model.Homography());
    return o;
}

QString differs(const Outcome& a, const Outcome& b)
{
    if (a.aligned != b.aligned)
        return QStringLiteral("aligned %1 vs %2").arg(a.aligned).arg(b.aligned);
    const double d = cv::norm(cv::Mat(a.h), cv::Mat(b.h), cv::NORM_INF);
    return d <= 1e-9 ? QString() : QStringLiteral("homographies differ by %1").arg(d);
}

// Everything else on a thread that draws from OpenCV's generator between two
// cycles: noise for a test picture, a shuffle, a plain draw.
void useTheGenerator(int amount)
{
    cv::Mat noise(7 + amount % 13, 11, CV_8UC1);
    cv::randu(noise, 0, 256);
    std::vector<int> order(5 + amount % 17);
    cv::randShuffle(order);
    for (int k = 0; k < amount; ++k)
        cv::theRNG().next();
}

cv::Rect interior(const cv::Mat& image)
{
    return cv::Rect(30, 30, image.cols - 60, image.rows - 60);
}

double correlation(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat r;
    cv::matchTemplate(a, b, r, cv::TM_CCOEFF_NORMED);
    return r.at<float>(0, 0);
}

bool allInside(const std::vector<cv::KeyPoint>& keys, float maxX)
{
    for (const cv::KeyPoint& k : keys)
        if (k.pt.x > maxX)
            return false;
    return true;
}

int countRightOf(const std::vector<cv::KeyPoint>& keys, float x)
{
    return int(std::count_if(keys.begin(), keys.end(),
                             [x](const cv::KeyPoint& k) { return k.pt.x > x; }));
}

// Alignment as it was before the template's trees were kept between frames:
// both directions of the search through the stitching module's matcher,
// drawn from the fixed state each time. Same features, same estimate.
Outcome referenceAlign(AlignModel& model, const cv::Mat& live, cv::Mat& out)
{
    Outcome o;
    cv::detail::ImageFeatures liveFeatures;
    model.ComputeFeatures(live, liveFeatures, 0);
    if (!model.IsTrained() || liveFeatures.keypoints.empty() || liveFeatures.descriptors.empty())
        return o;
    std::vector<cv::detail::ImageFeatures> features { liveFeatures, model.Features()[1] };
    std::vector<cv::detail::MatchesInfo> pairwise;
    const uint64 saved = cv::theRNG().state;
    cv::theRNG().state = 0x6B6F7276616E6531ULL;
    cv::detail::BestOf2NearestMatcher matcher(false, kConfidence, 6, 6);
    matcher(features, pairwise, cv::UMat());
    cv::theRNG().state = saved;
    std::vector<cv::Point2f> livePoints;
    std::vector<cv::Point2f> templatePoints;
    for (const cv::detail::MatchesInfo& info : pairwise) {
        if (info.src_img_idx != 0 || info.dst_img_idx != 1)
            continue;
        for (const cv::DMatch& m : info.matches) {
            livePoints.push_back(liveFeatures.keypoints[m.queryIdx].pt / model.Scale());
            templatePoints.push_back(model.Features()[1].keypoints[m.trainIdx].pt / model.Scale());
        }
    }
    cv::Mat h;
    int inliers = 0;
    if (!AlignModel::EstimateHomography(livePoints, templatePoints, h, inliers)
        || !AlignModel::IsPlausible(h, inliers, live.size()))
        return o;
    cv::warpPerspective(live, out, h, live.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    o.aligned = true;
    o.h = cv::Matx33d(h);
    return o;
}

std::vector<cv::Point2f> mapped(const std::vector<cv::Point2f>& points, const cv::Matx33d& h)
{
    std::vector<cv::Point2f> out;
    cv::perspectiveTransform(points, out, cv::Mat(h));
    return out;
}

} // namespace

class TestAlignModel : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void scaleFollowsTemplateSize_data();
    void scaleFollowsTemplateSize();
    void failedTrainingLeavesModelUnusable();
    void untrainedOrFeaturelessModelRefuses();
    void maskRestrictsFeatures();
    void homographyNeedsFourPairs();
    void implausibleTransformsAreRefused();
    void identicalLiveImageStaysPut();
    void correctsKnockedCamera();
    void colourLiveKeepsItsType();
    void unrelatedLiveImageIsRefused();
    void sameFrameGetsTheSameAnswer();
    void keptTemplateTreesAlignAsBefore();

private:
    cv::Mat m_template;
    cv::Mat m_live;
};

void TestAlignModel::initTestCase()
{
    m_template = makeSyntheticFrame(SyntheticScene()).image;
    m_live = makeSyntheticFrame(knockedScene()).image;
}

void TestAlignModel::scaleFollowsTemplateSize_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<float>("scale");
    QTest::newRow("1000x500") << 1000 << 500 << 1.0f;
    QTest::newRow("2000x1000") << 2000 << 1000 << 0.5f;
    QTest::newRow("100x100") << 100 << 100 << 1.0f;
}

void TestAlignModel::scaleFollowsTemplateSize()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(float, scale);
    AlignModel model;
    QCOMPARE(model.Scale(), 1.0f);
    QCOMPARE(model.Features().size(), size_t(2));
    const cv::Mat flat(height, width, CV_8UC1, cv::Scalar(90));
    const cv::Mat mask(height, width, CV_8UC1, cv::Scalar(255));
    QVERIFY(model.Train(flat, mask, 0));
    QCOMPARE(model.Scale(), scale);
    QCOMPARE(model.Mask().size(), cv::Size(qRound(width * scale), qRound(height * scale)));
    QCOMPARE(model.Features()[1].img_idx, 1);
    QCOMPARE(model.Features()[1].img_size, model.Mask().size());
}

void TestAlignModel::failedTrainingLeavesModelUnusable()
{
    AlignModel model;
    QVERIFY(model.Train(m_template, cv::Mat(), kMinKeypoints));
    cv::Mat out;
    QVERIFY(model.Align(m_live, out, kConfidence));

    // A mask of another size: refused, the scale a 2000 x 1000 template would
    // have set is not taken, and the old template is not aligned against
    // either (it no longer is what the operator taught).
    const cv::Mat big(1000, 2000, CV_8UC1, cv::Scalar(90));
    QVERIFY(!model.Train(big, cv::Mat(10, 10, CV_8UC1, cv::Scalar(255)), 0));
    QCOMPARE(model.Scale(), 1.0f);
    QVERIFY(!model.IsTrained());
    cv::Mat untouched(m_live.size(), CV_8UC1, cv::Scalar(77));
    QVERIFY(!model.Align(m_live, untouched, kConfidence));
    QCOMPARE(cv::countNonZero(untouched != 77), 0);

    QVERIFY(model.Train(m_template, cv::Mat(), kMinKeypoints));
    QVERIFY(!model.Train(m_template, cv::Mat(m_template.size(), CV_32FC1), 0));
    QVERIFY(!model.Align(m_live, untouched, kConfidence));

    // Too few keypoints for the minimum.
    QVERIFY(model.Train(m_template, cv::Mat(), kMinKeypoints));
    const int found = int(model.Features()[1].keypoints.size());
    QVERIFY(!model.Train(m_template, cv::Mat(), found + 1));
    QVERIFY(!model.Align(m_live, untouched, kConfidence));
    QCOMPARE(cv::countNonZero(untouched != 77), 0);

    QVERIFY(!model.Train(cv::Mat(), cv::Mat(), 0));
    QVERIFY(!model.Train(cv::Mat(40, 40, CV_16UC1, cv::Scalar(3)), cv::Mat(), 0));
    QVERIFY(model.Train(m_template, cv::Mat(), kMinKeypoints));
    QVERIFY(model.Align(m_live, untouched, kConfidence));
}

void TestAlignModel::untrainedOrFeaturelessModelRefuses()
{
    cv::Mat out(m_live.size(), CV_8UC1, cv::Scalar(77));
    AlignModel fresh;
    QVERIFY(!fresh.Align(m_live, out, kConfidence));
    QCOMPARE(cv::countNonZero(out != 77), 0);

    AlignModel featureless;
    QVERIFY(featureless.Train(cv::Mat(240, 320, CV_8UC1, cv::Scalar(90)), cv::Mat(), 0));
    QVERIFY(featureless.Features()[1].keypoints.empty());
    QVERIFY(!featureless.Align(m_live, out, kConfidence));
    QCOMPARE(cv::countNonZero(out != 77), 0);

    AlignModel trained;
    QVERIFY(trained.Train(m_template, cv::Mat(), kMinKeypoints));
    QVERIFY(!trained.Align(cv::Mat(), out, kConfidence));
    QVERIFY(!trained.Align(cv::Mat(240, 320, CV_8UC1, cv::Scalar(90)), out, kConfidence));
    QCOMPARE(cv::countNonZero(out != 77), 0);
}

void TestAlignModel::maskRestrictsFeatures()
{
    const float middle = m_template.cols / 2.0f;
    AlignModel whole;
    QVERIFY(whole.Train(m_template, cv::Mat(), kMinKeypoints));
    QVERIFY(whole.Mask().empty());
    QVERIFY(countRightOf(whole.Features()[1].keypoints, middle + 20) > 5);
    cv::Mat out;
    QVERIFY(whole.Align(m_live, out, kConfidence));
    QVERIFY(countRightOf(whole.Features()[0].keypoints, middle + 20) > 5);
    QCOMPARE(whole.Features()[0].img_idx, 0);

    cv::Mat left = cv::Mat::zeros(m_template.size(), CV_8UC1);
    left.colRange(0, m_template.cols / 2).setTo(255);
    AlignModel half;
    QVERIFY(half.Train(m_template, left, 20));
    QVERIFY(allInside(half.Features()[1].keypoints, middle));
    half.Align(m_live, out, kConfidence);
    QVERIFY(!half.Features()[0].keypoints.empty());
    QVERIFY(allInside(half.Features()[0].keypoints, middle));
}

void TestAlignModel::homographyNeedsFourPairs()
{
    const cv::Matx33d truth(0.99, -0.05, 12, 0.05, 0.99, -7, 1e-5, -2e-5, 1);
    const std::vector<cv::Point2f> live { { 10, 10 }, { 300, 20 }, { 290, 220 }, { 15, 230 } };
    const std::vector<cv::Point2f> target = mapped(live, truth);

    cv::Mat h;
    int inliers = -1;
    QVERIFY(!AlignModel::EstimateHomography({ live.begin(), live.begin() + 3 },
                                            { target.begin(), target.begin() + 3 }, h, inliers));
    QVERIFY(h.empty());
    QCOMPARE(inliers, 0);

    QVERIFY(AlignModel::EstimateHomography(live, target, h, inliers));
    QCOMPARE(inliers, 4);
    const std::vector<cv::Point2f> back = mapped(live, cv::Matx33d(h));
    for (size_t i = 0; i < live.size(); ++i)
        QVERIFY(cv::norm(back[i] - target[i]) < 0.01);
    // Four exact pairs prove nothing about a real frame.
    QVERIFY(!AlignModel::IsPlausible(h, inliers, cv::Size(320, 240)));
    QVERIFY(AlignModel::IsPlausible(h, AlignModel::kMinInliers, cv::Size(320, 240)));
}

void TestAlignModel::implausibleTransformsAreRefused()
{
    const cv::Size size(320, 240);
    const int many = 100;
    auto plausible = [&](const cv::Matx33d& h) {
        return AlignModel::IsPlausible(cv::Mat(h), many, size);
    };
    QVERIFY(plausible(cv::Matx33d::eye()));
    QVERIFY(plausible(cv::Matx33d(0.998, -0.052, 9, 0.052, 0.998, -6, 4e-5, 1e-5, 1)));
    QVERIFY(plausible(cv::Matx33d::eye() * 3.0)); // scaled as a whole: the same map
    QVERIFY(!plausible(cv::Matx33d(-1, 0, 320, 0, 1, 0, 0, 0, 1)));     // mirrored
    QVERIFY(!plausible(cv::Matx33d(3, 0, 0, 0, 3, 0, 0, 0, 1)));        // three times larger
    QVERIFY(!plausible(cv::Matx33d(0.3, 0, 0, 0, 0.3, 0, 0, 0, 1)));    // shrunk to a stamp
    QVERIFY(!plausible(cv::Matx33d(1, 0, 0, 0, 0.2, 0, 0, 0, 1)));      // squashed
    QVERIFY(!plausible(cv::Matx33d(1, 0, 0, 0, 1, 0, -0.004, 0, 1)));   // horizon in the frame
    QVERIFY(!plausible(cv::Matx33d(1, 0, 0, 0, 1, 0, 0, 0, 0)));
    QVERIFY(!plausible(cv::Matx33d(1, 0, std::nan(""), 0, 1, 0, 0, 0, 1)));
    QVERIFY(!AlignModel::IsPlausible(cv::Mat(), many, size));
    QVERIFY(!AlignModel::IsPlausible(cv::Mat(cv::Matx33d::eye()), AlignModel::kMinInliers - 1,
                                     size));
}

void TestAlignModel::identicalLiveImageStaysPut()
{
    AlignModel model;
    QVERIFY(model.Train(m_template, cv::Mat(), kMinKeypoints));
    cv::Mat out;
    QVERIFY(model.Align(m_template, out, kConfidence));
    cv::Mat diff;
    cv::absdiff(out(interior(out)), m_template(interior(out)), diff);
    QVERIFY2(cv::mean(diff)[0] < 1.0, qPrintable(QString::number(cv::mean(diff)[0])));
}

void TestAlignModel::correctsKnockedCamera()
{
    AlignModel model;
    QVERIFY(model.Train(m_template, cv::Mat(), kMinKeypoints));
    const double before = correlation(m_live(interior(m_live)), m_template(interior(m_live)));

    // The result lands in the caller's own buffer.
    cv::Mat out(m_live.size(), m_live.type(), cv::Scalar(0));
    const uchar* buffer = out.data;
    QVERIFY(model.Align(m_live, out, kConfidence));
    QCOMPARE(out.data, buffer);
    const double after = correlation(out(interior(out)), m_template(interior(out)));
    QVERIFY2(after > 0.95 && after > before + 0.2,
             qPrintable(QString("%1 -> %2").arg(before).arg(after)));

    // Live image and output may be one buffer (the engine wraps frames).
    cv::Mat shared = m_live.clone();
    cv::Mat alias = shared;
    QVERIFY(model.Align(shared, alias, kConfidence));
    QCOMPARE(alias.data, shared.data);
    cv::Mat diff;
    cv::absdiff(alias, out, diff);
    QVERIFY(cv::mean(diff)[0] < 0.5);
}

void TestAlignModel::colourLiveKeepsItsType()
{
    AlignModel model;
    QVERIFY(model.Train(m_template, cv::Mat(), kMinKeypoints));
    cv::Mat colour;
    cv::cvtColor(m_live, colour, cv::COLOR_GRAY2BGR);
    cv::Mat out;
    QVERIFY(model.Align(colour, out, kConfidence));
    QCOMPARE(out.type(), CV_8UC3);
    QCOMPARE(out.size(), m_live.size());
    cv::Mat blue;
    cv::extractChannel(out, blue, 0);
    QVERIFY(correlation(blue(interior(blue)), m_template(interior(blue))) > 0.95);
}

void TestAlignModel::unrelatedLiveImageIsRefused()
{
    AlignModel model;
    QVERIFY(model.Train(m_template, cv::Mat(), kMinKeypoints));
    SyntheticScene other;
    other.withPart = false;
    other.mouldSeed = 9;
    other.noiseSeed = 9;
    cv::Mat out(m_live.size(), CV_8UC1, cv::Scalar(77));
    QVERIFY(!model.Align(makeSyntheticFrame(other).image, out, kConfidence));
    cv::Mat noise(m_live.size(), CV_8UC1);
    cv::randu(noise, 0, 256);
    QVERIFY(!model.Align(noise, out, kConfidence));
    QCOMPARE(cv::countNonZero(out != 77), 0);
}

void TestAlignModel::sameFrameGetsTheSameAnswer()
{
    const cv::Mat templ = busyTemplate();
    const cv::Mat live = busyLive();
    AlignModel model;
    QVERIFY(model.Train(templ, cv::Mat(), kMinKeypoints));
    const Outcome first = alignOnce(model, live);
    QVERIFY(first.aligned);

    // Twenty alignments in all: two more stations align the pair at the same
    // time on threads of their own, while this thread runs its cycles with
    // other users of the generator in between.
    Outcome threaded[2][3];
    std::thread workers[2];
    for (int t = 0; t < 2; ++t) {
        workers[t] = std::thread([&templ, &live, t, &threaded] {
            AlignModel own;
            own.Train(templ, cv::Mat(), kMinKeypoints);
            for (int i = 0; i < 3; ++i) {
                useTheGenerator(3 + 11 * i + 5 * t);
                threaded[t][i] = alignOnce(own, live);
            }
        });
    }
    QStringList faults;
    const int cycles = 13;
    for (int i = 0; i < cycles; ++i) {
        if (i + 1 < cycles)
            useTheGenerator(1 + 37 * i);
        else
            cv::theRNG() = cv::RNG(12345);
        const QString d = differs(first, alignOnce(model, live));
        if (!d.isEmpty())
            faults << QStringLiteral("call %1: %2").arg(i).arg(d);
    }
    // The generator's state is the caller's own again afterwards.
    const bool stateKept = cv::theRNG().state == cv::RNG(12345).state;
    for (std::thread& w : workers)
        w.join();
    QVERIFY(stateKept);
    for (int t = 0; t < 2; ++t)
        for (int i = 0; i < 3; ++i) {
            const QString d = differs(first, threaded[t][i]);
            if (!d.isEmpty())
                faults << QStringLiteral("thread %1 call %2: %3").arg(t).arg(i).arg(d);
        }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1String("; "))));

    // A fresh process.
    QProcess child;
    child.start(QStringLiteral(ALIGNCHILD_PATH), QStringList());
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    const QStringList fields =
        QString::fromLatin1(child.readAllStandardOutput()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(fields.size(), 10);
    Outcome fresh;
    fresh.aligned = fields.at(0).trimmed() == QLatin1String("1");
    for (int k = 0; k < 9; ++k)
        fresh.h.val[k] = fields.at(k + 1).trimmed().toDouble();
    QCOMPARE(differs(first, fresh), QString());
}

void TestAlignModel::keptTemplateTreesAlignAsBefore()
{
    // Two templates in turn on one model (a retraining must replace the
    // kept trees), each against frames that align and frames that do not.
    const cv::Mat busy = busyTemplate();
    cv::Mat busyFar;
    cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(busy.cols / 2.0f, busy.rows / 2.0f), -6.0, 1.02);
    cv::warpAffine(busy, busyFar, turn, busy.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
    SyntheticScene otherKnock = knockedScene();
    otherKnock.cameraDx = -4;
    otherKnock.cameraAngle = -2;
    otherKnock.noiseSeed = 5;
    cv::Mat noise(m_live.size(), CV_8UC1);
    cv::RNG(3).fill(noise, cv::RNG::UNIFORM, 0, 256);
    struct Case {
        cv::Mat templ;
        cv::Mat mask;
        std::vector<cv::Mat> frames;
    };
    cv::Mat left = cv::Mat::zeros(m_template.size(), CV_8UC1);
    left.colRange(0, m_template.cols * 2 / 3).setTo(255);
    const Case cases[] = {
        { m_template, cv::Mat(), { m_live, makeSyntheticFrame(otherKnock).image, m_template, noise } },
        { busy, cv::Mat(), { busyLive(), busyFar, busy } },
        { m_template, left, { m_live, makeSyntheticFrame(otherKnock).image } },
    };
    AlignModel model;
    int aligned = 0;
    int refused = 0;
    for (const Case& c : cases) {
        QVERIFY(model.Train(c.templ, c.mask, kMinKeypoints));
        for (size_t f = 0; f < c.frames.size(); ++f) {
            cv::Mat expected;
            const Outcome reference = referenceAlign(model, c.frames[f], expected);
            cv::Mat out(c.frames[f].size(), CV_8UC1, cv::Scalar(77));
            const Outcome now = alignOnce(model, c.frames[f]);
            model.Align(c.frames[f], out, kConfidence);
            QCOMPARE(differs(now, reference), QString());
            if (reference.aligned) {
                ++aligned;
                QCOMPARE(cv::norm(out, expected, cv::NORM_INF), 0.0);
            } else {
                ++refused;
                QCOMPARE(cv::countNonZero(out != 77), 0);
            }
        }
    }
    QVERIFY(aligned >= 6);
    QVERIFY(refused >= 1);
}

QTEST_APPLESS_MAIN(TestAlignModel)
#include "tst_alignmodel.moc"
