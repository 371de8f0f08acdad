// Frame correction by the engine: feature alignment and target positioning,
// trained from the station's first template sample.
#include "detectalgorithm.h"
#include "enginestation.h"
#include "promptanswerer.h"
#include "syntheticframe.h"
#include "texttable.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <climits>
#include <memory>

namespace {

SyntheticScene scene(int w, int h, quint32 noiseSeed)
{
    SyntheticScene s;
    s.width = w;
    s.height = h;
    s.mouldSeed = 11;
    s.noiseSeed = noiseSeed;
    return s;
}

std::unique_ptr<DetectAlgorithm> engineFor(EngineStation& st)
{
    return std::make_unique<DetectAlgorithm>(st.live.get(), st.data.get());
}

void positioningOn(EngineStation& st, int rotate = 0)
{
    st.params.motionCorrect() = 0;
    st.params.rotateCorrect() = rotate;
}

QList<int> window(const DetectAlgorithm& e, int d)
{
    return {e.searchWindows[d][0], e.searchWindows[d][1], e.searchWindows[d][2], e.searchWindows[d][3]};
}

// Mean absolute difference inside r.
double difference(const cv::Mat& a, const cv::Mat& b, cv::Rect r)
{
    cv::Mat d;
    cv::absdiff(a(r), b(r), d);
    return cv::mean(d)[0];
}

bool sameBytes(const std::vector<uchar>& a, const std::vector<uchar>& b)
{
    return a == b;
}

} // namespace

Q_DECLARE_METATYPE(cv::Rect)

class TestEngineCorrection : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initTextTable(); }
    void cleanup() { gLanguage = 0; }
    void defaultBlockWithoutPositioningArea();
    void searchWindow_data();
    void searchWindow();
    void onlyTheFirstPositioningAreaCounts();
    void shiftOrRotateBack_data();
    void shiftOrRotateBack();
    void positioningOffCopiesTheFrame();
    void missingSampleZeroTrainsNothing();
    void colourFramesPassUnchanged();
    void featureAlignmentUndoesAKnock();
    void unlearnableTemplateIsReported();
};

void TestEngineCorrection::defaultBlockWithoutPositioningArea()
{
    EngineStation st(640, 480);
    positioningOn(st);
    st.params.maxOffset() = 8000;
    st.setTemplate(0, 0, makeSyntheticFrame(scene(640, 480, 1)).image);
    auto engine = engineFor(st);
    engine->TrainLocate(0);

    QCOMPARE(DetectAlgorithm::DefaultBlock(640, 480), cv::Rect(160, 120, 480, 360));
    QCOMPARE(engine->locateCentreX[0], 400);
    QCOMPARE(engine->locateCentreY[0], 300);
    QCOMPARE(window(*engine, 0), (QList<int>{0, 0, 640, 480}));
    QVERIFY(engine->locators[0].IsReady());
    QCOMPARE(engine->locators[0].Mode(), 3);
}

void TestEngineCorrection::searchWindow_data()
{
    QTest::addColumn<cv::Rect>("area");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QList<int>>("centre");
    QTest::addColumn<QList<int>>("window");
    QTest::newRow("inside") << cv::Rect(100, 100, 50, 40) << 20 << QList<int>{125, 120}
                            << QList<int>{80, 80, 90, 80};
    QTest::newRow("clipped at the top left") << cv::Rect(5, 5, 50, 40) << 20 << QList<int>{30, 25}
                                             << QList<int>{0, 0, 75, 65};
    QTest::newRow("clipped at the bottom right") << cv::Rect(250, 200, 60, 30) << 20 << QList<int>{280, 215}
                                                 << QList<int>{230, 180, 90, 60};
    QTest::newRow("no margin") << cv::Rect(100, 100, 50, 40) << 0 << QList<int>{125, 120}
                               << QList<int>{100, 100, 50, 40};
    QTest::newRow("largest offset does not wrap") << cv::Rect(100, 100, 50, 40) << INT_MAX
                                                   << QList<int>{125, 120} << QList<int>{0, 0, 320, 240};
    QTest::newRow("shrunk to nothing") << cv::Rect(100, 100, 50, 40) << -30 << QList<int>{125, 120}
                                       << QList<int>{0, 0, 0, 0};
}

void TestEngineCorrection::searchWindow()
{
    QFETCH(cv::Rect, area);
    QFETCH(int, offset);
    QFETCH(QList<int>, centre);
    QFETCH(QList<int>, window);

    EngineStation st(320, 240);
    positioningOn(st);
    st.params.maxOffset() = offset;
    st.setTemplate(0, 0, makeSyntheticFrame(scene(320, 240, 1)).image);
    st.addRect(0, FuncPosition, area, 0, 0, 0);
    auto engine = engineFor(st);
    engine->TrainLocate(0);
    QCOMPARE((QList<int>{engine->locateCentreX[0], engine->locateCentreY[0]}), centre);
    QCOMPARE(::window(*engine, 0), window);
}

void TestEngineCorrection::onlyTheFirstPositioningAreaCounts()
{
    EngineStation st(320, 240);
    positioningOn(st);
    st.params.maxOffset() = 10;
    st.setTemplate(0, 0, makeSyntheticFrame(scene(320, 240, 1)).image);
    st.addRect(0, FuncSpot, cv::Rect(0, 0, 20, 20), 0, 0, 0);
    st.addRect(0, FuncPosition, cv::Rect(90, 70, 140, 100), 0, 0, 0);
    st.addRect(0, FuncPosition, cv::Rect(10, 10, 40, 40), 0, 0, 0);
    auto engine = engineFor(st);
    engine->TrainLocate(0);
    QCOMPARE(engine->locateCentreX[0], 160);
    QCOMPARE(engine->locateCentreY[0], 120);
    QCOMPARE(window(*engine, 0), (QList<int>{80, 60, 160, 120}));
}

void TestEngineCorrection::shiftOrRotateBack_data()
{
    QTest::addColumn<int>("rotate");
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<double>("angle");
    QTest::addColumn<int>("mode");
    QTest::newRow("shift only") << 0 << 7.0 << -5.0 << 0.0 << 3;
    QTest::newRow("turned, searched within 10 degrees") << 10 << -4.0 << 3.0 << 4.0 << 4;
}

void TestEngineCorrection::shiftOrRotateBack()
{
    QFETCH(int, rotate);
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(double, angle);
    QFETCH(int, mode);

    EngineStation st(320, 240);
    positioningOn(st, rotate);
    st.params.maxOffset() = 30;
    const SyntheticScene base = scene(320, 240, 1);
    const cv::Mat templ = makeSyntheticFrame(base).image;
    st.setTemplate(0, 0, templ);
    const cv::Rect partBox = syntheticPartBox(base, 6);
    st.addRect(0, FuncPosition, partBox, 0, 0, 0);
    auto engine = engineFor(st);
    engine->TrainLocate(0);
    QVERIFY(engine->locators[0].IsReady());
    QCOMPARE(engine->locators[0].Mode(), mode);

    SyntheticScene moved = scene(320, 240, 2);
    moved.dx = dx;
    moved.dy = dy;
    moved.angle = angle;
    const cv::Mat live = makeSyntheticFrame(moved).image;
    st.setFrame(live);
    st.peers.detect = 0;
    engine->RunLocate();

    const cv::Mat judged = st.frame(st.data->lastImage);
    // The plate's inside, away from its outline.
    const cv::Rect inside(partBox.x + 20, partBox.y + 20, partBox.width - 40, partBox.height - 40);
    const double before = difference(live, templ, inside);
    const double after = difference(judged, templ, inside);
    QVERIFY2(after < 6.0 && after < before / 3, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
}

void TestEngineCorrection::positioningOffCopiesTheFrame()
{
    EngineStation st(320, 240);
    positioningOn(st);
    const cv::Mat templ = makeSyntheticFrame(scene(320, 240, 1)).image;
    st.setTemplate(0, 0, templ);
    auto engine = engineFor(st);
    engine->TrainLocate(0);
    QVERIFY(engine->locators[0].IsReady());

    SyntheticScene moved = scene(320, 240, 2);
    moved.dx = 6;
    const cv::Mat live = makeSyntheticFrame(moved).image;
    st.setFrame(live);
    std::fill(st.data->lastImage.begin(), st.data->lastImage.end(), uchar(0));
    st.params.motionCorrect() = -1;
    engine->RunLocate();
    QVERIFY(sameBytes(st.data->lastImage, st.data->alignedBuffer));
    // The trained locator is kept for when positioning comes back on.
    QVERIFY(engine->locators[0].IsReady());

    // Angle correction off: the newest frame goes on unchanged as well.
    std::fill(st.data->alignedBuffer.begin(), st.data->alignedBuffer.end(), uchar(0));
    QVERIFY(engine->RunAlign(0));
    QVERIFY(sameBytes(st.data->alignedBuffer, st.data->grabBuffer));
}

void TestEngineCorrection::missingSampleZeroTrainsNothing()
{
    EngineStation st(320, 240);
    positioningOn(st);
    st.params.angleCorrect() = 1;
    const cv::Mat templ = makeSyntheticFrame(scene(320, 240, 1)).image;
    st.setTemplate(0, 0, templ);
    auto engine = engineFor(st);
    engine->TrainLocate(0);
    QVERIFY(engine->locators[0].IsReady());

    // Sample 0 gone (its file could not be read): its buffer is zero and
    // must not become the reference; what was learned before goes too.
    st.data->templateValid[0][0] = 0;
    std::fill(st.data->templates[0][0].begin(), st.data->templates[0][0].end(), uchar(0));
    st.setTemplate(0, 1, templ);
    engine->TrainLocate(0);
    engine->TrainAlign(0);
    QVERIFY(!engine->locators[0].IsReady());
    QVERIFY(!engine->alignModels[0].IsTrained());

    SyntheticScene moved = scene(320, 240, 2);
    moved.dx = 6;
    st.setFrame(makeSyntheticFrame(moved).image);
    std::fill(st.data->alignedBuffer.begin(), st.data->alignedBuffer.end(), uchar(0));
    std::fill(st.data->lastImage.begin(), st.data->lastImage.end(), uchar(0));
    QVERIFY(engine->RunAlign(0));
    engine->RunLocate();
    QVERIFY(sameBytes(st.data->alignedBuffer, st.data->grabBuffer));
    QVERIFY(sameBytes(st.data->lastImage, st.data->grabBuffer));
}

void TestEngineCorrection::colourFramesPassUnchanged()
{
    EngineStation st(64, 48, true);
    positioningOn(st);
    st.params.angleCorrect() = 1;
    cv::Mat colour(48, 64, CV_8UC4);
    cv::RNG(3).fill(colour, cv::RNG::UNIFORM, 0, 256);
    st.setTemplate(0, 0, colour);
    auto engine = engineFor(st);
    engine->TrainAlign(0);
    engine->TrainLocate(0);
    QVERIFY(!engine->alignModels[0].IsTrained());
    QVERIFY(!engine->locators[0].IsReady());

    cv::Mat frame = st.frame(st.data->grabBuffer);
    cv::RNG(4).fill(frame, cv::RNG::UNIFORM, 0, 256);
    QVERIFY(engine->RunAlign(0));
    QCOMPARE(st.data->alignedBuffer.size(), std::size_t(64 * 48 * 4));
    QVERIFY(sameBytes(st.data->alignedBuffer, st.data->grabBuffer));
    engine->RunLocate();
    QVERIFY(sameBytes(st.data->lastImage, st.data->grabBuffer));
}

void TestEngineCorrection::featureAlignmentUndoesAKnock()
{
    // A busy picture (the alignment model asks for 300 features in the
    // template), and the same picture seen by a knocked camera.
    cv::Mat templ(480, 640, CV_8UC1, cv::Scalar(100));
    cv::RNG rng(9);
    for (int i = 0; i < 500; ++i) {
        const cv::Point at(rng.uniform(0, 640), rng.uniform(0, 480));
        const int grey = rng.uniform(0, 256);
        if (i % 2) {
            cv::circle(templ, at, rng.uniform(3, 14), cv::Scalar(grey), cv::FILLED);
        } else {
            cv::rectangle(templ, cv::Rect(at, cv::Size(rng.uniform(4, 24), rng.uniform(4, 24))), cv::Scalar(grey),
                          cv::FILLED);
        }
    }
    cv::GaussianBlur(templ, templ, cv::Size(3, 3), 0.8);
    cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(320, 240), 1.5, 1.0);
    turn.at<double>(0, 2) += 6;
    turn.at<double>(1, 2) -= 4;
    cv::Mat live;
    cv::warpAffine(templ, live, turn, templ.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);

    EngineStation st(640, 480);
    st.params.angleCorrect() = 1;
    st.setTemplate(0, 0, templ);
    auto engine = engineFor(st);
    engine->TrainAlign(0);
    QVERIFY(engine->alignModels[0].IsTrained());

    st.setFrame(live);
    std::fill(st.data->alignedBuffer.begin(), st.data->alignedBuffer.end(), uchar(0));
    QVERIFY(engine->RunAlign(0));
    const cv::Mat aligned = st.frame(st.data->alignedBuffer);
    const cv::Rect inside(100, 80, 440, 320);
    const double before = difference(live, templ, inside);
    const double after = difference(aligned, templ, inside);
    QVERIFY2(after < before / 4, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));

    // Angle-correction areas restrict the features to their masks; one that
    // holds too few leaves a model that does not align, and the frame passes
    // unchanged.
    st.addRect(0, FuncAngleCorrect, cv::Rect(300, 220, 30, 30), 0, 0, 0);
    engine->TrainAlign(0);
    QVERIFY(!engine->alignModels[0].IsTrained());
    QVERIFY(engine->RunAlign(0));
    QVERIFY(sameBytes(st.data->alignedBuffer, st.data->grabBuffer));
}

void TestEngineCorrection::unlearnableTemplateIsReported()
{
    // The smooth synthetic mould holds far fewer than the 300 features the
    // engine asks for: a plain part the alignment cannot learn.
    PromptAnswerer prompts;
    gLanguage = 1;
    EngineStation st(320, 240);
    st.data->cameraIndex = 2;
    st.params[119 + 1] = 1;
    st.params.angleCorrect() = 1;
    st.setTemplate(1, 0, makeSyntheticFrame(scene(320, 240, 1)).image);
    auto engine = engineFor(st);
    QVERIFY(!engine->alignModels[1].IsTrained());

    const QString said = QStringLiteral(
        "Camera 3, detect 2: the template has too few features \r\n to learn the angle correction; \r\n this detect runs without it!");
    QCOMPARE(prompts.warnings, QStringList{said});
    QCOMPARE(st.peers.records, QStringList{QStringLiteral(
        "Camera 3, detect 2: the template has too few features to learn the angle correction; this detect runs without it!")});

    // The detect still runs, unaligned, and its cycles say nothing more.
    SyntheticScene knocked = scene(320, 240, 2);
    knocked.cameraDx = 5;
    st.setFrame(makeSyntheticFrame(knocked).image);
    std::fill(st.data->alignedBuffer.begin(), st.data->alignedBuffer.end(), uchar(0));
    for (int cycle = 0; cycle < 3; ++cycle) {
        QVERIFY(engine->RunAlign(1));
        QVERIFY(sameBytes(st.data->alignedBuffer, st.data->grabBuffer));
    }
    QCOMPARE(prompts.warnings.size(), 1);
    QCOMPARE(st.peers.records.size(), 1);

    // Every training that refuses says so once; with angle correction off
    // nothing is trained and nothing said.
    engine->TrainAlign(1);
    QCOMPARE(prompts.warnings.size(), 2);
    QCOMPARE(st.peers.records.size(), 2);
    st.params.angleCorrect() = 0;
    engine->TrainAlign(1);
    QCOMPARE(prompts.warnings.size(), 2);
    QCOMPARE(st.peers.records.size(), 2);
}

QTEST_GUILESS_MAIN(TestEngineCorrection)
#include "tst_enginecorrection.moc"
