// The engine on synthetic moulding pictures: every detection function on a
// good part and on the defect it is there to catch, with and without
// positioning, and the cases the engine cannot judge.
#include "detectalgorithm.h"
#include "enginestation.h"
#include "roiinterface.h"
#include "syntheticframe.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <functional>
#include <memory>

namespace {

constexpr int W = 320;
constexpr int H = 240;
constexpr int Product = 0;
constexpr int Cavity = 1;

// Areas of the product detect, in area order.
enum ProductArea {
    AreaPosition,
    AreaIgnore,
    AreaDefect,
    AreaSpot,
    AreaBlack,
    AreaWhite,
    AreaSimilarity,
    AreaWhiteNum,
    AreaReserved8,
    AreaTemperature,
    AreaReserved11,
    ProductAreas
};

// Areas of the cavity detect.
enum CavityArea { CavityWhite, CavityDefect, CavityAreas };

const cv::Rect kDefectRect(130, 72, 45, 38);
const cv::Rect kIgnoreRect(160, 95, 12, 12);
const cv::Rect kSpotRect(66, 128, 22, 20);
const cv::Rect kBlackRect(236, 90, 16, 60);
const cv::Rect kWhiteRect(90, 184, 140, 12);
const cv::Rect kSimilarityRect(180, 110, 48, 48);
const cv::Rect kWhiteNumRect(40, 42, 120, 14);
const cv::Rect kReserved8Rect(280, 20, 20, 20);
const cv::Rect kTemperatureRect(280, 200, 20, 20);
const cv::Rect kReserved11Rect(236, 184, 20, 12);
const cv::Rect kCavityRect(56, 56, 208, 128);

// A 200 x 120 plate in the middle of the frame: plate x 60..260, y 60..180,
// a hole about (108, 110), a boss ring about (204, 134), a rib along y 154..165
// and a notch in the top edge about x 208..240.
SyntheticScene scene(quint32 noiseSeed, bool withPart = true)
{
    SyntheticScene s;
    s.width = W;
    s.height = H;
    s.partWidth = 200;
    s.partHeight = 120;
    s.mouldSeed = 7;
    s.noiseSeed = noiseSeed;
    s.withPart = withPart;
    return s;
}

cv::Mat picture(quint32 noiseSeed, bool withPart = true, double dx = 0, double dy = 0, double angle = 0)
{
    SyntheticScene s = scene(noiseSeed, withPart);
    s.dx = dx;
    s.dy = dy;
    s.angle = angle;
    return makeSyntheticFrame(s).image;
}

struct Row {
    int detect = Product;
    quint32 noiseSeed = 21;
    bool withPart = true;
    double dx = 0;
    double dy = 0;
    double angle = 0;
    bool positioning = true;
    int rotateRange = 0;
    int temperature = 50;
    std::function<void(cv::Mat&)> defect;
};

// The defects, drawn over a live picture.
void darkSpot(cv::Mat& m, cv::Point centre, int radius)
{
    cv::circle(m, centre, radius, cv::Scalar(30), cv::FILLED, cv::LINE_8);
}

void shortShotEnd(cv::Mat& m)
{
    // The plate's right end never filled: the mould shows through.
    const cv::Mat empty = picture(21, false);
    const cv::Rect missing(232, 50, 40, 140);
    empty(missing).copyTo(m(missing));
}

void bossNotFormed(cv::Mat& m)
{
    cv::Mat noise(m.size(), CV_8UC1);
    cv::RNG(5).fill(noise, cv::RNG::UNIFORM, 184, 191);
    cv::Mat ring = cv::Mat::zeros(m.size(), CV_8UC1);
    cv::circle(ring, cv::Point(204, 134), 22, cv::Scalar(255), cv::FILLED);
    noise.copyTo(m, ring);
}

void flash(cv::Mat& m, cv::Rect where)
{
    m(where).setTo(185);
}

void brightSpecks(cv::Mat& m)
{
    for (int y = kWhiteNumRect.y + 1; y < kWhiteNumRect.y + kWhiteNumRect.height - 1; y += 3) {
        for (int x = kWhiteNumRect.x + 1; x < kWhiteNumRect.x + kWhiteNumRect.width - 1; x += 3) {
            m.at<uchar>(y, x) = 235;
        }
    }
}

QList<int> ngAreas(const StationData& data, int detect, int count)
{
    QList<int> ng;
    for (int i = 0; i < count; ++i) {
        if (!data.roiOk[detect * 50 + i]) {
            ng.append(i);
        }
    }
    return ng;
}

} // namespace

Q_DECLARE_METATYPE(Row)

class TestEngineEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void judgesSyntheticParts_data();
    void judgesSyntheticParts();
    void failSafe_data();
    void failSafe();

private:
    // Builds the areas of both detects into a station and stores the
    // template samples: three good parts (product) and three empty cavities.
    static void configure(EngineStation& st);

    std::unique_ptr<EngineStation> m_station;
    std::unique_ptr<DetectAlgorithm> m_engine;
};

void TestEngineEndToEnd::configure(EngineStation& st)
{
    SystemParam& p = st.params;
    p.showAllAlgoParams() = 1; // every area with its own opening and limit
    p.diffFactor() = 2;
    p.minSpot() = 3;
    p.motionCorrect() = 0;
    p.rotateCorrect() = 0;
    p.maxOffset() = 8000;
    p.templateIsNg() = 0;
    p.tempAlarmNoStop() = 0;
    p.matchBrightness() = 0;
    p.angleCorrect() = 0;

    st.addRect(Product, FuncPosition, syntheticPartBox(scene(1), 6), 0, 0, 0);
    st.addRect(Product, FuncIgnoreArea, kIgnoreRect, 0, 0, 0);
    st.addRect(Product, FuncDefect, kDefectRect, 3, 25, 20);
    st.addRect(Product, FuncSpot, kSpotRect, 90 << 8, 0, 20);
    st.addRect(Product, FuncBlackArea, kBlackRect, 0, 130, 10);
    st.addRect(Product, FuncWhiteArea, kWhiteRect, 0, 150, 10);
    st.addRect(Product, FuncSimilarity, kSimilarityRect, 0, 80, 100);
    st.addRect(Product, FuncWhiteNum, kWhiteNumRect, 1, 150, 20);
    st.addRect(Product, FuncReserved8, kReserved8Rect, 0, 0, 100);
    st.addRect(Product, FuncTempAlarm, kTemperatureRect, 95, 20, 80);
    st.addRect(Product, FuncReserved11, kReserved11Rect, 3, 150, 50);

    st.addRect(Cavity, FuncWhiteArea, kCavityRect, 0, 150, 50);
    st.addRect(Cavity, FuncDefect, kCavityRect, 3, 25, 20);

    for (int k = 0; k < 3; ++k) {
        st.setTemplate(Product, k, picture(quint32(k + 1)));
        st.setTemplate(Cavity, k, picture(quint32(k + 1), false));
    }
    p.detectEnabled(Product) = 1;
    p.detectEnabled(Cavity) = 1;
}

void TestEngineEndToEnd::initTestCase()
{
    m_station = std::make_unique<EngineStation>(W, H);
    configure(*m_station);
    // The constructor trains both enabled detects.
    m_engine = std::make_unique<DetectAlgorithm>(m_station->live.get(), m_station->data.get());
    QVERIFY(m_engine->defectModels[Product * 50 + AreaDefect].IsTrained());
    QVERIFY(m_engine->similarityModels[Product * 50 + AreaSimilarity].IsTrained());
    QVERIFY(m_engine->defectModels[Cavity * 50 + CavityDefect].IsTrained());
}

void TestEngineEndToEnd::cleanupTestCase()
{
    m_engine.reset();
    m_station.reset();
}

void TestEngineEndToEnd::judgesSyntheticParts_data()
{
    QTest::addColumn<Row>("row");
    QTest::addColumn<QList<int>>("ng");

    Row good;
    QTest::newRow("good part") << good << QList<int>{};
    Row other = good;
    other.noiseSeed = 99;
    QTest::newRow("good part, another sample") << other << QList<int>{};

    Row r = good;
    r.defect = [](cv::Mat& m) { darkSpot(m, {150, 85}, 5); };
    QTest::newRow("spot r5 in the defect area") << r << QList<int>{AreaDefect};
    r.defect = [](cv::Mat& m) { cv::line(m, {133, 100}, {172, 106}, cv::Scalar(40), 1, cv::LINE_8); };
    QTest::newRow("1-pixel scratch, removed by the opening") << r << QList<int>{};
    r.defect = [](cv::Mat& m) { darkSpot(m, {166, 101}, 3); };
    QTest::newRow("spot under the ignore area") << r << QList<int>{};
    r.defect = [](cv::Mat& m) { darkSpot(m, {77, 138}, 4); };
    QTest::newRow("spot r4 in the spot area") << r << QList<int>{AreaSpot};
    r.defect = shortShotEnd;
    QTest::newRow("short shot: plate end missing") << r << QList<int>{AreaBlack};
    r.defect = bossNotFormed;
    QTest::newRow("short shot: boss not formed") << r << QList<int>{AreaSimilarity};
    r.defect = [](cv::Mat& m) { flash(m, cv::Rect(120, 179, 25, 11)); };
    QTest::newRow("flash under the part") << r << QList<int>{AreaWhite};
    r.defect = [](cv::Mat& m) { flash(m, cv::Rect(238, 179, 16, 14)); };
    QTest::newRow("flash at the corner") << r << QList<int>{AreaReserved11};
    r.defect = brightSpecks;
    QTest::newRow("more than 99 specks") << r << QList<int>{AreaWhiteNum};

    Row hot = good;
    hot.temperature = 81;
    QTest::newRow("mould too hot") << hot << QList<int>{AreaTemperature};

    Row shifted = good;
    shifted.dx = 12;
    shifted.dy = 8;
    shifted.positioning = false;
    // Several areas see the plate where it does not belong; which ones
    // depends on the shift. -1: any NG will do.
    QTest::newRow("shifted good part, no positioning") << shifted << QList<int>{-1};
    shifted.positioning = true;
    QTest::newRow("shifted good part, positioned") << shifted << QList<int>{};
    shifted.defect = [](cv::Mat& m) { darkSpot(m, {162, 93}, 5); };
    QTest::newRow("shifted part with a spot, positioned") << shifted << QList<int>{AreaDefect};

    Row turned = good;
    turned.dx = -6;
    turned.dy = 4;
    turned.angle = 3;
    turned.rotateRange = 10;
    QTest::newRow("turned good part, positioned with rotation") << turned << QList<int>{};

    Row cavity;
    cavity.detect = Cavity;
    cavity.withPart = false;
    cavity.positioning = false;
    QTest::newRow("empty cavity") << cavity << QList<int>{};
    cavity.withPart = true;
    QTest::newRow("part left in the cavity") << cavity << QList<int>{CavityWhite, CavityDefect};
}

void TestEngineEndToEnd::judgesSyntheticParts()
{
    QFETCH(Row, row);
    QFETCH(QList<int>, ng);

    EngineStation& st = *m_station;
    st.peers.clear();
    st.peers.detect = row.detect;
    st.peers.temperatures[{Product, AreaTemperature}] = row.temperature;
    st.params.motionCorrect() = row.positioning ? 0 : -1;
    st.params.rotateCorrect() = row.rotateRange;
    if (row.rotateRange) {
        m_engine->TrainLocate(row.detect);
    }

    cv::Mat live = picture(row.noiseSeed, row.withPart, row.dx, row.dy, row.angle);
    if (row.defect) {
        row.defect(live);
    }
    cv::Mat grab = st.frame(st.data->grabBuffer);
    live.copyTo(grab);
    QVERIFY(m_engine->RunAlign(row.detect));
    m_engine->RunLocate();
    m_engine->RunDetect(row.detect);
    if (row.rotateRange) {
        st.params.rotateCorrect() = 0;
        m_engine->TrainLocate(row.detect);
    }

    const int count = row.detect == Product ? int(ProductAreas) : int(CavityAreas);
    QStringList values;
    for (int i = 0; i < count; ++i) {
        values << QString::number(st.data->roiValue[row.detect * 50 + i]);
    }
    if (ng == QList<int>{-1}) {
        QVERIFY2(!ngAreas(*st.data, row.detect, count).isEmpty(), qPrintable(values.join(' ')));
    } else {
        QVERIFY2(ngAreas(*st.data, row.detect, count) == ng, qPrintable(values.join(' ')));
    }
    QCOMPARE(st.data->resultOk, quint8(ng.isEmpty() ? 1 : 0));
    QVERIFY(st.peers.records.isEmpty());
    QCOMPARE(st.peers.handedOver.size(), 1);
    const DetectResult& r = st.peers.handedOver.first();
    // Position and ignore areas are not listed.
    QCOMPARE(r.roi_result.size(), row.detect == Product ? int(ProductAreas) - 2 : int(CavityAreas));
    QCOMPARE(r.result, ng.isEmpty() ? 1 : 0);

    const qint32* value = st.data->roiValue + row.detect * 50;
    if (QByteArray(QTest::currentDataTag()).startsWith("spot r5")) {
        // A disc of radius 5 encloses about pi * 4.5^2 between its pixel centres.
        QVERIFY2(value[AreaDefect] >= 55 && value[AreaDefect] <= 80, qPrintable(values.join(' ')));
    }
    if (QByteArray(QTest::currentDataTag()).startsWith("more than 99")) {
        QCOMPARE(value[AreaWhiteNum], 99);
        QCOMPARE(st.data->roiBlobs[AreaWhiteNum][0], 99);
    }
}

void TestEngineEndToEnd::failSafe_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("code");
    QTest::newRow("no valid template") << "no template" << int(ErrNotTrained);
    QTest::newRow("unknown function") << "unknown function" << int(ErrUnknownFunction);
    QTest::newRow("area outside the frame") << "outside" << int(ErrAreaOutsideFrame);
    QTest::newRow("mask of another size") << "mask size" << int(ErrMaskSize);
    QTest::newRow("ignore picture of another size") << "ignore size" << int(ErrKeepMaskEmpty);
    QTest::newRow("frame size changed") << "frame size" << int(ErrFrame);
}

void TestEngineEndToEnd::failSafe()
{
    QFETCH(QString, fault);
    QFETCH(int, code);

    EngineStation st(W, H);
    configure(st);
    if (fault == "no template") {
        for (int k = 0; k < 3; ++k) {
            st.data->templateValid[Product][std::size_t(k)] = 0;
        }
        st.data->templateCount[Product] = 0;
    } else if (fault == "unknown function") {
        st.live->roiFunction[AreaSpot] = 12;
    } else if (fault == "outside") {
        delete st.live->roiLists[Product].takeAt(AreaWhite);
        st.live->roiLists[Product].insert(AreaWhite, createROI(ROIRect));
        st.live->roiLists[Product][AreaWhite]->setRect(300, 200, 40, 30);
        st.data->roiMasks[AreaWhite] = cv::Mat(30, 40, CV_8UC1, cv::Scalar(255));
    } else if (fault == "mask size") {
        st.data->roiMasks[AreaBlack] = cv::Mat(7, 7, CV_8UC1, cv::Scalar(255));
    } else if (fault == "ignore size") {
        st.data->ignoreMasks[Product].assign(100, 0);
    }
    std::unique_ptr<DetectAlgorithm> engine;
    try {
        engine = std::make_unique<DetectAlgorithm>(st.live.get(), st.data.get());
        if (fault == "frame size") {
            // A reconnected camera with another resolution, buffers not
            // reallocated: the frame no longer fits what was trained.
            st.data->imageWidth = 400;
            st.data->pixelCount = 400 * H;
            st.data->bufferSize = 400 * H;
        }
        cv::Mat good = picture(21);
        std::copy(good.datastart, good.dataend, st.data->grabBuffer.begin());
        engine->RunAlign(Product);
        engine->RunLocate();
        engine->RunDetect(Product);
    } catch (...) {
        QFAIL("the engine let an exception through");
    }
    QCOMPARE(st.data->resultOk, quint8(0));
    QVERIFY2(st.peers.records.contains(QStringLiteral("REG RUN ERROR = 0, 0, %1").arg(code)),
             qPrintable(st.peers.records.join('\n')));
    QCOMPARE(st.peers.handedOver.size(), 1);
    QCOMPARE(st.peers.handedOver.first().result, 0);
}

QTEST_GUILESS_MAIN(TestEngineEndToEnd)
#include "tst_engineendtoend.moc"
