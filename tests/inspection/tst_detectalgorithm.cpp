#include "detectalgorithm.h"
#include "enginestation.h"
#include "imagehelpers.h"
#include "repolygon.h"
#include "syntheticframe.h"
#include "recordshandover.h"
#include "temperaturechartdata.h"
#include "testworkdir.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <memory>

namespace {

constexpr int W = 160;
constexpr int H = 120;

cv::Mat grey(int value)
{
    return cv::Mat(H, W, CV_8UC1, cv::Scalar(value));
}

std::unique_ptr<DetectAlgorithm> engineFor(EngineStation& st)
{
    return std::make_unique<DetectAlgorithm>(st.live.get(), st.data.get());
}

// Trains detect 0 and judges it on the station's frame.
std::unique_ptr<DetectAlgorithm> trainAndRun(EngineStation& st, int detect = 0)
{
    auto engine = engineFor(st);
    engine->TrainModels(detect);
    engine->RunDetect(detect);
    return engine;
}

QString errorEvent(int detect, int code)
{
    return QStringLiteral("REG RUN ERROR = 0, %1, %2").arg(detect).arg(code);
}

QList<int> box(const StationData& data, int slot, int k)
{
    const qint32* t = data.roiBlobs[slot];
    return {t[4 * k], t[4 * k + 1], t[4 * k + 2], t[4 * k + 3]};
}

// Band functions pass pixel values in the low bytes of param and lower.
int spotBand(int b0, int b1)
{
    return b0 | (b1 << 8);
}

} // namespace

class TestDetectAlgorithm : public QObject {
    Q_OBJECT
private slots:
    void grayBandMaskMatchesTwoThresholds_data();
    void grayBandMaskMatchesTwoThresholds();
    void verdict_data();
    void verdict();
    void spotAreaWithoutDarkPixelsIsNg();
    void valueIsSummedContourAreaWithExclusiveBoxes_data();
    void valueIsSummedContourAreaWithExclusiveBoxes();
    void openingRemovesSpecksAndLinesEncloseNothing_data();
    void openingRemovesSpecksAndLinesEncloseNothing();
    void whiteCountStopsAt99Boxes();
    void defectLimitRule_data();
    void defectLimitRule();
    void temperatureAlarms_data();
    void temperatureAlarms();
    void failedTemperatureReadIsAnError_data();
    void failedTemperatureReadIsAnError();
    void steeringAreasOnlyHandNothingOver();
    void emptyPolygonFailsWithCodeMinusOne();
    void areasThatCannotBeJudgedAreErrors_data();
    void areasThatCannotBeJudgedAreErrors();
    void stationFaultsFailTheWholeDetect_data();
    void stationFaultsFailTheWholeDetect();
    void trainingUsesTheFirstValidSamples();
    void retrainingAGrownDetectLearnsAsAFreshEngine();
    void trainedModelsEqualModelsOfCopiedSamples_data();
    void trainedModelsEqualModelsOfCopiedSamples();
    void ignoreRingReopensItsCorners();
    void brightnessMatching();
    void brightnessMatchedAreasAsTheMatchedFrame_data();
    void brightnessMatchedAreasAsTheMatchedFrame();
    void colourTrainingLeavesTheShownGreyBufferAlone();
    void measureOnTheEditSet();
    void constructionTrainsEnabledDetects();
    void recordsServiceTakesTheResult();
};

void TestDetectAlgorithm::grayBandMaskMatchesTwoThresholds_data()
{
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::newRow("0..50") << 0 << 50;
    QTest::newRow("single value") << 77 << 77;
    QTest::newRow("128..255") << 128 << 255;
    QTest::newRow("inverted band is empty") << 120 << 80;
    QTest::newRow("whole range") << 0 << 255;
}

void TestDetectAlgorithm::grayBandMaskMatchesTwoThresholds()
{
    QFETCH(int, lo);
    QFETCH(int, hi);
    cv::Mat src(16, 16, CV_8UC1);
    for (int i = 0; i < 256; ++i) {
        src.data[i] = uchar(i);
    }
    // Two inverted thresholds: 255 - src against 255 - lo, src against hi.
    cv::Mat a;
    cv::Mat b;
    cv::threshold(255 - src, a, 255 - lo, 255, cv::THRESH_BINARY_INV);
    cv::threshold(src, b, hi, 255, cv::THRESH_BINARY_INV);
    const cv::Mat expected = a & b;

    cv::Mat dst;
    DetectAlgorithm::GrayBandMask(src, dst, lo, hi);
    QCOMPARE(cv::countNonZero(dst != expected), 0);
    QCOMPARE(cv::countNonZero(dst), lo > hi ? 0 : hi - lo + 1);
}

void TestDetectAlgorithm::verdict_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("value");  // summed contour area or temperature
    QTest::addColumn<int>("boxes");
    QTest::addColumn<double>("score");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<QString>("settings");  // showAll alarmArea templateIsNg
    QTest::addColumn<bool>("ng");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QList<int>>("detail");

    // Defect and the reserved functions: the system's alarm area unless every
    // algorithm parameter is shown, then the area's own upper limit.
    QTest::newRow("defect at the system limit") << int(FuncDefect) << 100 << 1 << 0.0 << 3 << 25 << 10 << "0 100 0"
                                                << false << 100 << QList<int>{0, 100, 25, 100, 3};
    QTest::newRow("defect over the system limit") << int(FuncDefect) << 101 << 1 << 0.0 << 3 << 25 << 1000
                                                  << "0 100 0" << true << 101 << QList<int>{0, 101, 25, 100, 3};
    QTest::newRow("defect over its own limit") << int(FuncDefect) << 11 << 1 << 0.0 << 3 << 25 << 10 << "1 100 0"
                                               << true << 11 << QList<int>{0, 11, 25, 10, 3};
    QTest::newRow("defect: template is NG, clean part") << int(FuncDefect) << 0 << 0 << 0.0 << 3 << 25 << 10
                                                        << "0 100 1" << true << 0 << QList<int>{0, 0, 25, 100, 3};
    QTest::newRow("defect: template is NG, at the limit") << int(FuncDefect) << 100 << 2 << 0.0 << 3 << 25 << 10
                                                          << "0 100 1" << false << 100
                                                          << QList<int>{0, 100, 25, 100, 3};
    QTest::newRow("reserved 8 judged as a defect") << int(FuncReserved8) << 101 << 0 << 0.0 << 0 << 0 << 0
                                                   << "0 100 0" << true << 101 << QList<int>{8, 101, 0, 100, 0};
    QTest::newRow("reserved 11 judged as a defect") << int(FuncReserved11) << 5 << 0 << 0.0 << 0 << 0 << 4
                                                    << "1 100 0" << true << 5 << QList<int>{11, 5, 0, 4, 0};
    // Spot: inside lower..upper inclusive; the band's bytes are listed.
    QTest::newRow("spot inside") << int(FuncSpot) << 80 << 1 << 0.0 << spotBand(10, 60) << 80 << 500 << "0 100 0"
                                 << false << 80 << QList<int>{1, 80, 80, 500, 10, 60};
    QTest::newRow("spot under") << int(FuncSpot) << 79 << 1 << 0.0 << spotBand(10, 60) << 80 << 500 << "0 100 0"
                                << true << 79 << QList<int>{1, 79, 80, 500, 10, 60};
    QTest::newRow("spot over") << int(FuncSpot) << 501 << 1 << 0.0 << spotBand(10, 60) << 80 << 500 << "0 100 0"
                               << true << 501 << QList<int>{1, 501, 80, 500, 10, 60};
    // Black and white area: only an upper limit, no detail row.
    QTest::newRow("black area at the limit") << int(FuncBlackArea) << 50 << 3 << 0.0 << 0 << 40 << 50 << "0 100 0"
                                             << false << 50 << QList<int>{};
    QTest::newRow("white area over") << int(FuncWhiteArea) << 51 << 3 << 0.0 << 0 << 40 << 50 << "0 100 0" << true
                                     << 51 << QList<int>{};
    // Similarity: the score, cut to a whole number, against the lower limit.
    QTest::newRow("similarity at the limit") << int(FuncSimilarity) << 0 << 0 << 70.9 << 0 << 70 << 0 << "0 100 0"
                                             << false << 70 << QList<int>{};
    QTest::newRow("similarity under") << int(FuncSimilarity) << 900 << 0 << 69.99 << 0 << 70 << 0 << "0 100 0"
                                      << true << 69 << QList<int>{};
    // White count: the number of blobs, not their area.
    QTest::newRow("white count at the limit") << int(FuncWhiteNum) << 9000 << 4 << 0.0 << 3 << 0 << 4 << "0 100 0"
                                              << false << 4 << QList<int>{};
    QTest::newRow("white count over") << int(FuncWhiteNum) << 10 << 5 << 0.0 << 3 << 0 << 4 << "0 100 0" << true
                                      << 5 << QList<int>{};
    // Temperature: signed low halves of lower and upper, either order.
    QTest::newRow("temperature inside") << int(FuncTempAlarm) << 80 << 0 << 0.0 << (95 | 3 << 16)
                                        << (80 | 1 << 16) << (120 | 20 << 16) << "0 100 0" << false << 80
                                        << QList<int>{9, 80, 80, 120, 95};
    QTest::newRow("temperature over") << int(FuncTempAlarm) << 121 << 0 << 0.0 << 95 << 80 << 120 << "0 100 0"
                                      << true << 121 << QList<int>{9, 121, 80, 120, 95};
    QTest::newRow("temperature limits swapped") << int(FuncTempAlarm) << 100 << 0 << 0.0 << 95 << 120 << 80
                                                << "0 100 0" << false << 100 << QList<int>{9, 100, 120, 80, 95};
    QTest::newRow("temperature below zero") << int(FuncTempAlarm) << -11 << 0 << 0.0 << 0xFFFF << 0x1FFF6 << 20
                                            << "0 100 0" << true << -11 << QList<int>{9, -11, -10, 20, -1};
}

void TestDetectAlgorithm::verdict()
{
    QFETCH(int, function);
    QFETCH(int, value);
    QFETCH(int, boxes);
    QFETCH(double, score);
    QFETCH(int, param);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(QString, settings);
    QFETCH(bool, ng);
    QFETCH(int, shown);
    QFETCH(QList<int>, detail);

    SystemParam sys{};
    const QStringList s = settings.split(' ');
    sys.showAllAlgoParams() = s.at(0).toInt();
    sys.alarmArea() = s.at(1).toInt();
    sys.templateIsNg() = s.at(2).toInt();
    DetectAlgorithm::AreaMeasure measured;
    measured.value = value;
    measured.boxes = boxes;
    measured.score = float(score);

    const DetectAlgorithm::AreaVerdict v = DetectAlgorithm::JudgeArea(function, measured, param, lower, upper, sys);
    QCOMPARE(v.ng, ng);
    QCOMPARE(v.value, shown);
    QCOMPARE(v.detail, detail);
}

void TestDetectAlgorithm::spotAreaWithoutDarkPixelsIsNg()
{
    EngineStation st(W, H);
    st.peers.current.idx_camera = 3;
    st.peers.current.roundstart = QDateTime(QDate(2026, 3, 1), QTime(8, 0));
    st.peers.current.description = QStringLiteral("''");
    st.addRect(0, FuncSpot, cv::Rect(20, 20, 40, 30), 12800, 80, 500);
    st.setFrame(grey(200));
    const QDateTime before = QDateTime::currentDateTime();
    trainAndRun(st);

    QCOMPARE(st.data->roiValue[0], 0);
    QCOMPARE(st.data->roiOk[0], quint8(0));
    QCOMPARE(st.data->resultOk, quint8(0));
    QCOMPARE(st.data->areaOk, quint8(0));
    QCOMPARE(st.data->tempOk, quint8(1));
    QVERIFY(st.peers.records.isEmpty());
    QCOMPARE(st.peers.handedOver.size(), 1);
    const DetectResult& r = st.peers.handedOver.first();
    QCOMPARE(r.roi_detail, (QList<QList<int>>{{1, 0, 80, 500, 0, 50}}));
    QCOMPARE(r.roi_result, QList<int>{0});
    QCOMPARE(r.result, 0);
    QCOMPARE(r.idx_detect, 0);
    QVERIFY(r.detectstart >= before);
    // What the cycle set stays as it was.
    QCOMPARE(r.idx_camera, 3);
    QCOMPARE(r.roundstart, st.peers.current.roundstart);
    QCOMPARE(r.description, QStringLiteral("''"));
}

void TestDetectAlgorithm::valueIsSummedContourAreaWithExclusiveBoxes_data()
{
    QTest::addColumn<int>("minSpot");
    QTest::addColumn<int>("value");
    // A 10 x 10 block encloses 9 x 9 between its pixel centres, and a 6 x 4
    // block 5 x 3; the 3 x 3 ellipse (a cross) cuts their corners, taking half
    // a pixel of area each.
    QTest::newRow("opening 1") << 1 << 81 + 15;
    QTest::newRow("opening 3") << 3 << 79 + 13;
}

void TestDetectAlgorithm::valueIsSummedContourAreaWithExclusiveBoxes()
{
    QFETCH(int, minSpot);
    QFETCH(int, value);
    EngineStation st(W, H);
    st.params.minSpot() = minSpot;
    st.addRect(0, FuncSpot, cv::Rect(10, 10, 120, 90), spotBand(50, 0), 0, 1000);
    cv::Mat frame = grey(200);
    frame(cv::Rect(30, 20, 10, 10)).setTo(20);
    frame(cv::Rect(100, 60, 6, 4)).setTo(40);
    st.setFrame(frame);
    trainAndRun(st);

    QCOMPARE(st.data->roiValue[0], value);
    QCOMPARE(st.data->roiOk[0], quint8(1));
    QCOMPARE(st.data->roiBlobs[0][0], 2);
    QList<QList<int>> boxes{box(*st.data, 0, 1), box(*st.data, 0, 2)};
    std::sort(boxes.begin(), boxes.end());
    QCOMPARE(boxes, (QList<QList<int>>{{30, 20, 40, 30}, {100, 60, 106, 64}}));
    // The overlay shows the blobs in frame coordinates and nothing else.
    QCOMPARE(st.overlay().at<uchar>(25, 35), uchar(255));
    QCOMPARE(st.overlay().at<uchar>(61, 102), uchar(255));
    QCOMPARE(st.overlay().at<uchar>(50, 60), uchar(0));
    QCOMPARE(st.peers.handedOver.size(), 1);
    QCOMPARE(st.peers.handedOver.first().roi_detail.first(), (QList<int>{1, value, 0, 1000, 50, 0}));
}

void TestDetectAlgorithm::openingRemovesSpecksAndLinesEncloseNothing_data()
{
    QTest::addColumn<int>("minSpot");
    QTest::addColumn<int>("boxes");
    QTest::newRow("opening 3 removes both") << 3 << 0;
    QTest::newRow("opening 1 keeps both") << 1 << 2;
    QTest::newRow("opening 0 counts as 1") << 0 << 2;
    QTest::newRow("negative opening counts as 1") << -5 << 2;
}

void TestDetectAlgorithm::openingRemovesSpecksAndLinesEncloseNothing()
{
    QFETCH(int, minSpot);
    QFETCH(int, boxes);
    EngineStation st(W, H);
    st.params.minSpot() = minSpot;
    st.addRect(0, FuncBlackArea, cv::Rect(0, 0, W, H), 0, 60, 0);
    cv::Mat frame = grey(200);
    frame.at<uchar>(50, 50) = 10;                              // an isolated dark pixel
    frame(cv::Rect(80, 30, 1, 31)).setTo(0);                  // a 1-pixel scratch
    st.setFrame(frame);
    trainAndRun(st);

    // Neither a pixel nor a line encloses any area: value 0, OK either way.
    QCOMPARE(st.data->roiValue[0], 0);
    QCOMPARE(st.data->roiOk[0], quint8(1));
    QCOMPARE(st.data->roiBlobs[0][0], boxes);
    if (boxes) {
        QList<QList<int>> found{box(*st.data, 0, 1), box(*st.data, 0, 2)};
        std::sort(found.begin(), found.end());
        QCOMPARE(found, (QList<QList<int>>{{50, 50, 51, 51}, {80, 30, 81, 61}}));
    }
    QCOMPARE(st.peers.handedOver.first().roi_detail.first(), QList<int>());
}

void TestDetectAlgorithm::whiteCountStopsAt99Boxes()
{
    EngineStation st(W, H);
    // param 1: no closing and an opening of 1.
    st.addRect(0, FuncWhiteNum, cv::Rect(0, 0, W, H), 1, 128, 99);
    st.addRect(0, FuncWhiteNum, cv::Rect(0, 0, W, H), 1, 128, 98);
    cv::Mat frame = grey(0);
    for (int j = 0; j < 10; ++j) {
        for (int i = 0; i < 15; ++i) {
            frame(cv::Rect(5 + 10 * i, 5 + 10 * j, 2, 2)).setTo(255);
        }
    }
    st.setFrame(frame);
    auto engine = trainAndRun(st);

    QCOMPARE(st.data->roiValue[0], 99);
    QCOMPARE(st.data->roiBlobs[0][0], 99);
    QCOMPARE(st.data->roiOk[0], quint8(1)); // upper 99 can never be exceeded
    QCOMPARE(st.data->roiOk[1], quint8(0));
    for (int k = 1; k <= 99; ++k) {
        const QList<int> b = box(*st.data, 0, k);
        QCOMPARE(b[2] - b[0], 2);
        QCOMPARE(b[3] - b[1], 2);
    }

    // The live measurement counts every blob.
    st.copyLiveToEdit();
    st.setTemplate(0, 0, frame);
    engine->MeasureROI(0, 0);
    QCOMPARE(st.data->roiValue[0], 150);
    QCOMPARE(st.data->roiBlobs[0][0], 0);
}

void TestDetectAlgorithm::defectLimitRule_data()
{
    QTest::addColumn<int>("showAll");
    QTest::addColumn<int>("filterSize");
    QTest::addColumn<int>("alarmArea");
    QTest::addColumn<int>("templateIsNg");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("upper");
    QTest::addColumn<bool>("withDefect");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("ok");

    // Own param and upper count only with all algorithm parameters shown.
    QTest::newRow("system limit, under") << 0 << 1 << 100 << 0 << 3 << 10 << true << 81 << 100 << true;
    QTest::newRow("system limit, over") << 0 << 1 << 50 << 0 << 1 << 1000 << true << 81 << 50 << false;
    QTest::newRow("system opening") << 0 << 3 << 80 << 0 << 1 << 10 << true << 79 << 80 << true;
    QTest::newRow("own limit, under") << 1 << 3 << 10 << 0 << 1 << 100 << true << 81 << 100 << true;
    QTest::newRow("own limit, over") << 1 << 1 << 1000 << 0 << 3 << 78 << true << 79 << 78 << false;
    QTest::newRow("clean, under the limit") << 0 << 1 << 100 << 0 << 1 << 1 << false << 0 << 100 << true;
    QTest::newRow("template is NG: clean part fails") << 0 << 1 << 100 << 1 << 1 << 1 << false << 0 << 100 << false;
    QTest::newRow("template is NG: at the limit") << 1 << 1 << 0 << 1 << 1 << 81 << true << 81 << 81 << true;
}

void TestDetectAlgorithm::defectLimitRule()
{
    QFETCH(int, showAll);
    QFETCH(int, filterSize);
    QFETCH(int, alarmArea);
    QFETCH(int, templateIsNg);
    QFETCH(int, param);
    QFETCH(int, upper);
    QFETCH(bool, withDefect);
    QFETCH(int, value);
    QFETCH(int, limit);
    QFETCH(bool, ok);

    EngineStation st(W, H);
    st.params.showAllAlgoParams() = showAll;
    st.params.filterSize() = filterSize;
    st.params.alarmArea() = alarmArea;
    st.params.templateIsNg() = templateIsNg;
    st.params.diffFactor() = 2;
    st.addRect(0, FuncDefect, cv::Rect(20, 10, 100, 80), param, 25, upper);
    st.setTemplate(0, 0, grey(150));
    cv::Mat frame = grey(150);
    if (withDefect) {
        frame(cv::Rect(50, 40, 10, 10)).setTo(20);
    }
    st.setFrame(frame);
    trainAndRun(st);

    QCOMPARE(st.data->roiValue[0], value);
    QCOMPARE(st.data->roiOk[0], quint8(ok ? 1 : 0));
    QCOMPARE(st.data->resultOk, quint8(ok ? 1 : 0));
    QCOMPARE(st.peers.handedOver.first().roi_detail.first(), (QList<int>{0, value, 25, limit, param}));
}

void TestDetectAlgorithm::temperatureAlarms_data()
{
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("temperature");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    // 65616 = 80 | 1 << 16, 1310840 = 120 | 20 << 16.
    QTest::newRow("79") << 65616 << 1310840 << 79 << false << 80 << 120;
    QTest::newRow("80") << 65616 << 1310840 << 80 << true << 80 << 120;
    QTest::newRow("120") << 65616 << 1310840 << 120 << true << 80 << 120;
    QTest::newRow("121") << 65616 << 1310840 << 121 << false << 80 << 120;
    QTest::newRow("limits swapped") << 120 << 80 << 100 << true << 120 << 80;
    QTest::newRow("below zero, inside") << (0x1FFF6) << 20 << -10 << true << -10 << 20;
    QTest::newRow("below zero, outside") << (0x1FFF6) << 20 << -11 << false << -10 << 20;
}

void TestDetectAlgorithm::temperatureAlarms()
{
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, temperature);
    QFETCH(bool, ok);
    QFETCH(int, lo);
    QFETCH(int, hi);

    for (int noStop : {0, 1}) {
        EngineStation st(W, H);
        st.params.tempAlarmNoStop() = noStop;
        st.addRect(1, FuncSpot, cv::Rect(0, 0, 10, 10), spotBand(0, 50), 0, 100);
        // Emissivity 95 with a compensation of 3 in the high half.
        st.addRect(1, FuncTempAlarm, cv::Rect(30, 30, 40, 40), 95 | (3 << 16), lower, upper);
        st.peers.temperatures[{1, 1}] = temperature;
        st.setFrame(grey(200));
        trainAndRun(st, 1);

        QCOMPARE(st.peers.temperatureAsks, (QList<QPair<int, int>>{{1, 1}}));
        QCOMPARE(st.peers.cycleValues, QList<int>{temperature});
        QCOMPARE(st.data->roiValue[51], temperature);
        QCOMPARE(st.data->roiOk[51], quint8(ok));
        QCOMPARE(st.data->tempOk, quint8(ok));
        QCOMPARE(st.data->areaOk, quint8(1));
        QCOMPARE(st.data->resultOk, quint8(ok || noStop ? 1 : 0));
        const DetectResult& r = st.peers.handedOver.first();
        QCOMPARE(r.idx_detect, 1);
        QCOMPARE(r.roi_detail.at(1), (QList<int>{9, temperature, lo, hi, 95}));
        QCOMPARE(r.roi_result, (QList<int>{1, ok ? 1 : 0}));
        QCOMPARE(r.result, int(st.data->resultOk));
    }
}

void TestDetectAlgorithm::failedTemperatureReadIsAnError_data()
{
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    // Whatever limits the area has: a reading of 0 would pass all of these.
    QTest::newRow("-20 to 60") << (0x10000 | quint16(-20)) << 60;
    QTest::newRow("0 to 0") << 0 << 0;
    QTest::newRow("-32768 to 32767") << (0x10000 | 0x8000) << 32767;
}

void TestDetectAlgorithm::failedTemperatureReadIsAnError()
{
    QFETCH(int, lower);
    QFETCH(int, upper);

    for (int noStop : {0, 1}) {
        EngineStation st(W, H);
        st.params.tempAlarmNoStop() = noStop;
        st.addRect(1, FuncSpot, cv::Rect(0, 0, 10, 10), spotBand(0, 50), 0, 100);
        st.addRect(1, FuncTempAlarm, cv::Rect(30, 30, 40, 40), 95, lower, upper);
        st.addRect(1, FuncTempAlarm, cv::Rect(80, 30, 20, 20), 95, lower, upper);
        st.peers.failedTemperatures.insert({1, 1});
        st.setFrame(grey(200));
        QTest::ignoreMessage(QtWarningMsg, "DetectAlgorithm: camera 0 detect 1 area 1: no temperature could be read");
        QTest::ignoreMessage(QtWarningMsg, qPrintable(errorEvent(1, ErrTemperatureRead)));
        trainAndRun(st, 1);

        QCOMPARE(st.peers.temperatureAsks, (QList<QPair<int, int>>{{1, 1}, {1, 2}}));
        QCOMPARE(st.peers.records, QStringList{errorEvent(1, ErrTemperatureRead)});
        // No value of the failed area reaches the cycle's registers.
        QCOMPARE(st.peers.cycleValues, QList<int>{0});
        QCOMPARE(st.data->roiOk[51], quint8(0));
        QCOMPARE(st.data->roiValue[51], 0);
        QCOMPARE(st.data->roiOk[52], quint8(1));
        QCOMPARE(st.data->tempOk, quint8(0));
        QCOMPARE(st.data->areaOk, quint8(1));
        QCOMPARE(st.data->resultOk, quint8(0));
        const DetectResult& r = st.peers.handedOver.first();
        QCOMPARE(r.roi_result, (QList<int>{1, 1}));
        QCOMPARE(r.result, 0);
    }
}

void TestDetectAlgorithm::steeringAreasOnlyHandNothingOver()
{
    EngineStation st(W, H);
    st.addRect(0, FuncIgnoreArea, cv::Rect(10, 10, 20, 20), 0, 0, 0);
    st.addRect(0, FuncPosition, cv::Rect(40, 40, 30, 30), 0, 0, 0);
    st.addRect(0, FuncAngleCorrect, cv::Rect(80, 40, 30, 30), 0, 0, 0);
    st.data->roiValue[1] = 55;
    st.setFrame(grey(0));
    trainAndRun(st);
    QCOMPARE(st.data->resultOk, quint8(1));
    QCOMPARE(st.data->roiValue[1], 0);
    QVERIFY(st.peers.handedOver.isEmpty());
    QVERIFY(st.peers.records.isEmpty());
}

void TestDetectAlgorithm::emptyPolygonFailsWithCodeMinusOne()
{
    EngineStation st(W, H);
    st.addRect(0, FuncSpot, cv::Rect(0, 0, 10, 10), spotBand(0, 50), 0, 100);
    st.addArea(0, FuncSpot, new RePolygon, spotBand(0, 50), 0, 100); // stored point count 0
    st.addRect(0, FuncBlackArea, cv::Rect(20, 0, 10, 10), 0, 50, 0);
    QVERIFY(st.data->roiMasks[1].empty());
    st.setFrame(grey(200));
    trainAndRun(st);

    QCOMPARE(st.peers.records, QStringList{errorEvent(0, -1)});
    QCOMPARE(st.data->resultOk, quint8(0));
    QCOMPARE(st.data->roiOk[0], quint8(1));
    QCOMPARE(st.data->roiOk[1], quint8(0)); // never shown as OK
    QCOMPARE(st.data->roiOk[2], quint8(1));
    // The area in error has no entry: the other two keep their places.
    const DetectResult& r = st.peers.handedOver.first();
    QCOMPARE(r.roi_result, (QList<int>{1, 1}));
    QCOMPARE(r.roi_detail.size(), 2);
    QCOMPARE(r.result, 0);
}

void TestDetectAlgorithm::areasThatCannotBeJudgedAreErrors_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("code");
    QTest::newRow("defect without valid template") << "defect untrained" << int(ErrNotTrained);
    QTest::newRow("similarity without valid template") << "similarity untrained" << int(ErrNotTrained);
    QTest::newRow("unknown function") << "unknown function" << int(ErrUnknownFunction);
    QTest::newRow("area outside the frame") << "outside" << int(ErrAreaOutsideFrame);
    QTest::newRow("mask of another size") << "mask size" << int(ErrMaskSize);
    QTest::newRow("area row unreadable") << "load fault" << int(ErrAreaFaulty);
    QTest::newRow("temperature area without mask") << "temperature mask" << int(ErrAreaMaskEmpty);
}

void TestDetectAlgorithm::areasThatCannotBeJudgedAreErrors()
{
    QFETCH(QString, fault);
    QFETCH(int, code);

    EngineStation st(W, H);
    st.params.templateIsNg() = 0;
    st.params.alarmArea() = 1000;
    st.addRect(0, FuncSpot, cv::Rect(0, 0, 10, 10), spotBand(0, 50), 0, 100);
    int function = FuncSpot;
    cv::Rect rect(40, 40, 30, 30);
    if (fault == "defect untrained") {
        function = FuncDefect;
    } else if (fault == "similarity untrained") {
        function = FuncSimilarity;
    } else if (fault == "unknown function") {
        function = 42;
    } else if (fault == "outside") {
        rect = cv::Rect(140, 100, 30, 30);
    } else if (fault == "temperature mask") {
        function = FuncTempAlarm;
    }
    st.addRect(0, function, rect, spotBand(0, 50), 0, 100);
    st.addRect(0, FuncWhiteArea, cv::Rect(100, 0, 10, 10), 0, 250, 0);
    if (fault == "mask size") {
        st.data->roiMasks[1] = cv::Mat(5, 5, CV_8UC1, cv::Scalar(255));
    } else if (fault == "load fault") {
        st.live->roiLoadFault[1] = 1;
    } else if (fault == "temperature mask") {
        st.data->roiMasks[1].release();
    }
    // With no template sample the models have nothing to learn from, but
    // the frame itself is clean: a model that passed would pass it.
    st.setFrame(grey(200));
    trainAndRun(st);

    QCOMPARE(st.peers.records, QStringList{errorEvent(0, code)});
    QCOMPARE(st.data->roiOk[1], quint8(0));
    QCOMPARE(st.data->roiValue[1], 0);
    QCOMPARE(st.data->resultOk, quint8(0));
    QCOMPARE(st.data->roiOk[0], quint8(1));
    QCOMPARE(st.data->roiOk[2], quint8(1));
    if (function == FuncTempAlarm) {
        QCOMPARE(st.data->tempOk, quint8(0));
        QVERIFY(st.peers.temperatureAsks.isEmpty());
    } else {
        QCOMPARE(st.data->areaOk, quint8(0));
    }
    const DetectResult& r = st.peers.handedOver.first();
    QCOMPARE(r.roi_result, (QList<int>{1, 1}));
    QCOMPARE(r.result, 0);
}

void TestDetectAlgorithm::stationFaultsFailTheWholeDetect_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("events");
    const QString keep = errorEvent(0, ErrKeepMaskEmpty);
    QTest::newRow("never trained") << "untrained" << QStringList{keep, keep};
    QTest::newRow("ignore picture of another size") << "ignore size" << QStringList{keep, keep};
    QTest::newRow("frame size changed") << "frame size" << QStringList{errorEvent(0, ErrFrame)};
    QTest::newRow("frame buffer missing") << "no frame" << QStringList{errorEvent(0, ErrFrame)};
    QTest::newRow("detect row unreadable") << "detect fault" << QStringList{errorEvent(0, ErrAreaFaulty)};
    QTest::newRow("detect out of range") << "detect 8" << QStringList{errorEvent(8, ErrFrame)};
}

void TestDetectAlgorithm::stationFaultsFailTheWholeDetect()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, events);

    EngineStation st(W, H);
    st.addRect(0, FuncSpot, cv::Rect(0, 0, 10, 10), spotBand(0, 50), 0, 100);
    st.addRect(0, FuncWhiteArea, cv::Rect(100, 0, 10, 10), 0, 250, 0);
    st.setFrame(grey(200));
    auto engine = engineFor(st);
    if (fault == "ignore size") {
        st.data->ignoreMasks[0].resize(10);
    }
    if (fault != "untrained") {
        engine->TrainModels(0);
    }
    if (fault == "frame size") {
        // The camera came back with another resolution and nothing was
        // reallocated: the buffers no longer describe the frame.
        st.data->imageWidth = 200;
        st.data->pixelCount = 200 * H;
        st.data->bufferSize = 200 * H;
    } else if (fault == "no frame") {
        st.data->lastImage.clear();
    } else if (fault == "detect fault") {
        st.live->detectLoadFault[0] = 1;
    }
    engine->RunDetect(fault == "detect 8" ? 8 : 0);

    QCOMPARE(st.peers.records, events);
    QCOMPARE(st.data->resultOk, quint8(0));
    QCOMPARE(st.data->areaOk, quint8(0));
    if (fault == "detect 8") {
        QVERIFY(st.peers.handedOver.isEmpty());
        return;
    }
    // The NG reaches the records even when no area could be listed.
    QCOMPARE(st.peers.handedOver.size(), 1);
    QCOMPARE(st.peers.handedOver.first().result, 0);
    if (fault != "detect fault") {
        QCOMPARE(st.data->roiOk[0], quint8(0));
        QCOMPARE(st.data->roiOk[1], quint8(0));
        QVERIFY(st.peers.handedOver.first().roi_result.isEmpty());
    } else {
        QCOMPARE(st.peers.handedOver.first().roi_result, (QList<int>{1, 1}));
    }
}

void TestDetectAlgorithm::trainingUsesTheFirstValidSamples()
{
    EngineStation st(W, H, false, 4);
    st.params.diffFactor() = 0;
    st.addRect(0, FuncDefect, cv::Rect(10, 10, 20, 20), 1, 5, 100);
    st.addRect(0, FuncSimilarity, cv::Rect(40, 10, 20, 20), 1, 80, 100);
    st.setTemplate(0, 1, grey(100));
    st.setTemplate(0, 2, grey(120));
    st.setTemplate(0, 3, grey(140));
    // Sample 0 is absent; only the first templateCount valid ones count.
    st.data->templateCount[0] = 2;
    auto engine = engineFor(st);
    engine->TrainModels(0);

    const DefectModel& defect = engine->defectModels[0];
    QVERIFY(defect.IsTrained());
    QCOMPARE(defect.Lower().at<uchar>(5, 5), uchar(95));
    QCOMPARE(defect.Upper().at<uchar>(5, 5), uchar(125));
    QCOMPARE(engine->similarityModels[1].VectorCount(), 2);
    QCOMPARE(engine->templateNorms[0], cv::norm(grey(120), cv::NORM_L2));
    // Retraining starts again from nothing.
    engine->TrainModels(0);
    QCOMPARE(engine->similarityModels[1].VectorCount(), 2);

    // A detect without defect or similarity areas keeps its norm.
    st.setTemplate(1, 0, grey(90));
    engine->TrainModels(1);
    QCOMPARE(engine->templateNorms[1], 0.0);
}

void TestDetectAlgorithm::retrainingAGrownDetectLearnsAsAFreshEngine()
{
    // The detect's models keep their pixels in one block of the engine: when
    // the areas outgrow it the block moves, and nothing may still point into
    // the old one (the sanitizer build sees any read of it).
    EngineStation st(W, H, false, 3);
    st.params.diffFactor() = 2;
    st.addRect(0, FuncDefect, cv::Rect(10, 10, 20, 20), 1, 5, 100);
    st.addRect(0, FuncSimilarity, cv::Rect(40, 10, 20, 20), 1, 80, 100);
    cv::RNG rng(5);
    for (int k = 0; k < 3; ++k) {
        cv::Mat picture(H, W, CV_8UC1);
        rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
        st.setTemplate(0, k, picture);
    }
    auto engine = engineFor(st);
    engine->TrainModels(0);
    QVERIFY(engine->defectModels[0].IsTrained());
    QCOMPARE(engine->similarityModels[1].VectorCount(), 3);

    // The first area now ignores, and areas far larger than the block follow.
    st.live->roiFunction[0] = FuncIgnoreArea;
    st.addRect(0, FuncDefect, cv::Rect(0, 0, W, H), 1, 5, 100);
    st.addRect(0, FuncSimilarity, cv::Rect(5, 5, W - 10, H - 10), 1, 80, 100);
    engine->TrainModels(0);
    auto fresh = engineFor(st);
    fresh->TrainModels(0);

    QVERIFY(!engine->defectModels[0].IsTrained());
    cv::Mat live(H, W, CV_8UC1);
    rng.fill(live, cv::RNG::UNIFORM, 0, 256);
    QCOMPARE(cv::countNonZero(engine->keepMasks[0] != fresh->keepMasks[0]), 0);
    const DefectModel& defect = engine->defectModels[2];
    QVERIFY(defect.IsTrained());
    QCOMPARE(cv::countNonZero(defect.Upper() != fresh->defectModels[2].Upper()), 0);
    QCOMPARE(cv::countNonZero(defect.Lower() != fresh->defectModels[2].Lower()), 0);
    for (int slot : {1, 3}) {
        SimilarityModel& ours = engine->similarityModels[slot];
        SimilarityModel& theirs = fresh->similarityModels[slot];
        QCOMPARE(ours.VectorCount(), 3);
        const cv::Mat area = live(cv::Rect(cv::Point(0, 0), ours.Size()));
        cv::Mat a;
        cv::Mat b;
        QCOMPARE(ours.Detect(area, a), theirs.Detect(area, b));
        // A sample of the template scores full marks.
        const cv::Mat sample = st.frame(st.data->templates[0][1]);
        const cv::Rect r = slot == 1 ? cv::Rect(40, 10, 20, 20) : cv::Rect(5, 5, W - 10, H - 10);
        QVERIFY(std::fabs(ours.Detect(sample(r), a) - 100.0f) < 1e-3f);
    }
}

void TestDetectAlgorithm::trainedModelsEqualModelsOfCopiedSamples_data()
{
    QTest::addColumn<bool>("colour");
    QTest::addColumn<int>("factor");
    QTest::addColumn<int>("samples");
    QTest::newRow("grey, deviation") << false << 2 << 3;
    QTest::newRow("grey, span") << false << 0 << 3;
    QTest::newRow("grey, one sample") << false << 2 << 1;
    QTest::newRow("grey, nearest sample") << false << 4 << 3;
    QTest::newRow("colour, deviation") << true << 2 << 3;
    QTest::newRow("colour, nearest sample") << true << 4 << 3;
}

// The engine trains its defect models from the template slots themselves;
// the models must be exactly those of copies of the samples handed over one
// by one, and must not follow a slot that changes after training.
void TestDetectAlgorithm::trainedModelsEqualModelsOfCopiedSamples()
{
    QFETCH(bool, colour);
    QFETCH(int, factor);
    QFETCH(int, samples);
    EngineStation st(W, H, colour, 4);
    st.params.diffFactor() = factor;
    const std::vector<cv::Rect> areas{cv::Rect(3, 4, 50, 40), cv::Rect(30, 20, 70, 60), cv::Rect(100, 70, 60, 50)};
    for (const cv::Rect& r : areas) {
        st.addRect(0, FuncDefect, r, 1, 6, 100);
    }
    cv::RNG rng(7);
    std::vector<cv::Mat> greys;
    for (int k = 0; k < samples; ++k) {
        cv::Mat picture(H, W, colour ? CV_8UC4 : CV_8UC1);
        rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
        // Slot 0 left empty: the samples are the valid slots after it.
        st.setTemplate(0, k + 1, picture);
        cv::Mat g;
        if (colour) {
            QVERIFY(rgb32ToGray(picture, g));
        } else {
            g = picture.clone();
        }
        greys.push_back(g);
    }
    auto engine = engineFor(st);
    engine->TrainModels(0);
    QCOMPARE(engine->templateNorms[0], cv::norm(greys.back(), cv::NORM_L2));

    // The slots change after training (a new sample stored, another deleted).
    for (int k = 0; k < samples; ++k) {
        st.frame(st.data->templates[0][std::size_t(k + 1)]).setTo(cv::Scalar::all(77));
    }
    cv::Mat live(H, W, CV_8UC1);
    rng.fill(live, cv::RNG::UNIFORM, 0, 256);
    for (std::size_t i = 0; i < areas.size(); ++i) {
        const cv::Rect& r = areas[i];
        DefectModel reference;
        reference.Init(r.width, r.height, st.data->roiMasks[i], 0);
        for (const cv::Mat& g : greys) {
            reference.AddSample(g(r).clone());
        }
        reference.Train(6, factor, 100, 150);
        const DefectModel& model = engine->defectModels[i];
        QVERIFY(model.IsTrained());
        QCOMPARE(model.Mode(), reference.Mode());
        if (factor != 4) {
            QCOMPARE(cv::countNonZero(model.Upper() != reference.Upper()), 0);
            QCOMPARE(cv::countNonZero(model.Lower() != reference.Lower()), 0);
            QCOMPARE(cv::countNonZero(model.Mean() != reference.Mean()), 0);
            QCOMPARE(cv::countNonZero(model.Deviation() != reference.Deviation()), 0);
        }
        cv::Mat ours(r.size(), CV_8UC1, cv::Scalar(9));
        cv::Mat theirs(r.size(), CV_8UC1, cv::Scalar(9));
        QVERIFY(engine->defectModels[i].Detect(live(r).clone(), ours));
        QVERIFY(reference.Detect(live(r).clone(), theirs));
        QCOMPARE(cv::countNonZero(ours != theirs), 0);
    }
}

void TestDetectAlgorithm::ignoreRingReopensItsCorners()
{
    EngineStation st(W, H);
    cv::Mat ignore = grey(0);
    ignore(cv::Rect(40, 20, 80, 80)).setTo(255);
    st.setIgnore(0, ignore);
    st.addRing(0, FuncIgnoreArea, 80, 60, 20, 10, 0, 0, 0);
    st.addRect(0, FuncSpot, cv::Rect(0, 0, W, H), spotBand(0, 50), 0, 1000);
    auto engine = engineFor(st);
    engine->TrainModels(0);

    const cv::Mat& keep = engine->keepMasks[0];
    QCOMPARE(keep.size(), cv::Size(W, H));
    QCOMPARE(keep.at<uchar>(60, 95), uchar(0));    // on the ring: ignored
    QCOMPARE(keep.at<uchar>(60, 80), uchar(255));  // its hole: inspected again
    QCOMPARE(keep.at<uchar>(41, 61), uchar(255));  // corner of its square: inspected again
    QCOMPARE(keep.at<uchar>(25, 45), uchar(0));    // the ignore picture elsewhere
    QCOMPARE(keep.at<uchar>(5, 5), uchar(255));    // never ignored

    // A dark spot under the ring does not count; one in the hole does.
    cv::Mat frame = grey(200);
    frame(cv::Rect(93, 58, 4, 4)).setTo(0);
    st.setFrame(frame);
    engine->RunDetect(0);
    QCOMPARE(st.data->roiBlobs[1][0], 0);
    frame(cv::Rect(78, 58, 4, 4)).setTo(0);
    st.setFrame(frame);
    engine->RunDetect(0);
    QCOMPARE(st.data->roiBlobs[1][0], 1);
    QCOMPARE(box(*st.data, 1, 1), (QList<int>{78, 58, 82, 62}));
}

void TestDetectAlgorithm::brightnessMatching()
{
    for (int matching : {0, 1}) {
        EngineStation st(W, H);
        st.params.matchBrightness() = matching;
        st.params.diffFactor() = 2;
        st.params.alarmArea() = 10;
        st.params.showAllAlgoParams() = 0;
        st.params.filterSize() = 3;
        st.params.templateIsNg() = 0;
        st.addRect(0, FuncDefect, cv::Rect(20, 20, 60, 60), 3, 10, 10);
        st.setTemplate(0, 0, grey(100));
        // The whole scene half as bright.
        st.setFrame(grey(50));
        auto engine = trainAndRun(st);
        QCOMPARE(engine->templateNorms[0], cv::norm(grey(100), cv::NORM_L2));
        QCOMPARE(st.data->resultOk, quint8(matching));

        // An all-black frame stays black instead of dividing by zero.
        st.setFrame(grey(0));
        engine->RunDetect(0);
        QCOMPARE(st.data->resultOk, quint8(0));
    }

    // No defect or similarity area: no norm yet, so nothing is matched and a
    // dark spot is still found at its own brightness.
    EngineStation st(W, H);
    st.params.matchBrightness() = 1;
    st.params.minSpot() = 1;
    st.addRect(0, FuncSpot, cv::Rect(0, 0, W, H), spotBand(0, 50), 0, 1000);
    cv::Mat frame = grey(100);
    frame(cv::Rect(10, 10, 5, 5)).setTo(40);
    st.setFrame(frame);
    auto engine = trainAndRun(st);
    QCOMPARE(engine->templateNorms[0], 0.0);
    QCOMPARE(st.data->roiValue[0], 16);
}

void TestDetectAlgorithm::brightnessMatchedAreasAsTheMatchedFrame_data()
{
    QTest::addColumn<double>("gain");
    QTest::addColumn<double>("offset");
    QTest::newRow("darker") << 0.55 << 0.0;
    QTest::newRow("brighter, highlights saturate") << 1.45 << 20.0;
    QTest::newRow("nearly the template") << 1.02 << -3.0;
    QTest::newRow("black") << 0.0 << 0.0;
}

// The areas scaled as they are cut judge as the areas of the whole frame
// L2-normalised onto the template's norm (the frame the engine used to
// make): every flag, value, box, overlay pixel and record entry.
void TestDetectAlgorithm::brightnessMatchedAreasAsTheMatchedFrame()
{
    QFETCH(double, gain);
    QFETCH(double, offset);
    constexpr int kW = 320;
    constexpr int kH = 240;
    EngineStation st(kW, kH);
    st.params.diffFactor() = 2;
    st.params.minSpot() = 2;
    st.params.showAllAlgoParams() = 1;
    st.params.templateIsNg() = 0;
    const int functions[] = {FuncDefect, FuncSpot, FuncBlackArea, FuncWhiteArea, FuncSimilarity,
                             FuncWhiteNum, FuncReserved11, FuncReserved8, FuncDefect, FuncSpot,
                             FuncSimilarity, FuncWhiteArea};
    for (int k = 0; k < 12; ++k) {
        // Odd sizes and offsets, so no area starts on a vector boundary.
        const cv::Rect r((k % 4) * 78 + 3 + k, (k / 4) * 78 + 5, 61 + k, 57 + 2 * k);
        switch (functions[k]) {
        case FuncDefect: st.addRect(0, FuncDefect, r, 3, 20, 40); break;
        case FuncSpot: st.addRect(0, FuncSpot, r, spotBand(0, 60), 0, 30); break;
        case FuncBlackArea: st.addRect(0, FuncBlackArea, r, 0, 70, 50); break;
        case FuncSimilarity: st.addRect(0, FuncSimilarity, r, 0, 90, 100); break;
        case FuncWhiteNum: st.addRect(0, FuncWhiteNum, r, 3, 190, 2); break;
        default: st.addRect(0, functions[k], r, 3, 180, 50); break;
        }
    }
    SyntheticScene scene;
    scene.width = kW;
    scene.height = kH;
    st.setTemplate(0, 0, makeSyntheticFrame(scene).image);
    scene.noiseSeed = 2;
    st.setTemplate(0, 1, makeSyntheticFrame(scene).image);
    scene.noiseSeed = 7;
    scene.dx = 3;
    scene.dy = -2;
    scene.angle = 4;
    scene.gain = gain;
    scene.offset = offset;
    scene.noiseSigma = gain == 0.0 ? 0.0 : 6.0;
    const cv::Mat frame = makeSyntheticFrame(scene).image;

    auto engine = engineFor(st);
    engine->TrainModels(0);
    QVERIFY(engine->templateNorms[0] > 0.0);
    struct Outcome {
        std::vector<qint32> values;
        std::vector<qint32> blobs;
        std::vector<quint8> flags;
        cv::Mat overlay;
        DetectResult record;
        quint8 result;
    };
    auto judge = [&](const cv::Mat& image, int matching) {
        st.params.matchBrightness() = matching;
        st.setFrame(image);
        st.peers.clear();
        engine->RunDetect(0);
        Outcome o;
        o.values.assign(st.data->roiValue, st.data->roiValue + 12);
        o.flags.assign(st.data->roiOk, st.data->roiOk + 12);
        for (int k = 0; k < 12; ++k) {
            o.blobs.insert(o.blobs.end(), st.data->roiBlobs[k], st.data->roiBlobs[k] + 4 * 8);
        }
        o.overlay = st.overlay().clone();
        o.record = st.peers.handedOver.value(0);
        o.result = st.data->resultOk;
        return o;
    };
    const Outcome perArea = judge(frame, 1);
    cv::Mat matched;
    cv::normalize(frame, matched, engine->templateNorms[0], 0.0, cv::NORM_L2);
    const Outcome wholeFrame = judge(matched, 0);

    QCOMPARE(perArea.values, wholeFrame.values);
    QCOMPARE(perArea.flags, wholeFrame.flags);
    QCOMPARE(perArea.blobs, wholeFrame.blobs);
    QCOMPARE(cv::norm(perArea.overlay, wholeFrame.overlay, cv::NORM_INF), 0.0);
    QCOMPARE(perArea.record.roi_detail, wholeFrame.record.roi_detail);
    QCOMPARE(perArea.record.roi_result, wholeFrame.record.roi_result);
    QCOMPARE(perArea.result, wholeFrame.result);
    QCOMPARE(perArea.record.roi_result.size(), 12);
    if (gain == 0.0) {
        QCOMPARE(cv::countNonZero(frame), 0);
        QCOMPARE(DetectAlgorithm::BrightnessFactor(frame, engine->templateNorms[0]), 0.0);
    } else {
        // Not a case that matches nothing: the frame really was rescaled.
        QVERIFY(cv::norm(matched, frame, cv::NORM_INF) > 0.0);
    }
}

void TestDetectAlgorithm::colourTrainingLeavesTheShownGreyBufferAlone()
{
    EngineStation st(W, H, true);
    st.params.templateIsNg() = 0;
    st.addRect(0, FuncDefect, cv::Rect(20, 20, 60, 60), 3, 10, 10);
    cv::Mat colour(H, W, CV_8UC4, cv::Scalar(40, 160, 90, 0));
    st.setTemplate(0, 0, colour);
    std::fill(st.data->greyBuffer.begin(), st.data->greyBuffer.end(), uchar(77));
    auto engine = engineFor(st);
    engine->TrainModels(0);
    QVERIFY(engine->defectModels[0].IsTrained());
    QVERIFY(std::all_of(st.data->greyBuffer.begin(), st.data->greyBuffer.end(), [](uchar v) { return v == 77; }));

    // Inspection reduces the judged frame into the grey buffer.
    st.setFrame(colour);
    engine->RunDetect(0);
    QCOMPARE(st.data->resultOk, quint8(1));
    cv::Mat expected;
    rgb32ToGray(colour, expected);
    QCOMPARE(cv::countNonZero(st.data->planeHeader(st.data->greyBuffer) != expected), 0);
}

void TestDetectAlgorithm::measureOnTheEditSet()
{
    EngineStation st(W, H);
    st.params.minSpot() = 1;
    st.addRect(0, FuncSpot, cv::Rect(10, 10, 60, 60), spotBand(0, 50), 0, 1000);
    st.addRect(0, FuncDefect, cv::Rect(80, 10, 60, 60), 3, 25, 100);
    st.copyLiveToEdit();
    // The operator widens the spot band in the edit set only.
    st.edit->roiParam[0] = spotBand(0, 120);
    cv::Mat sample = grey(200);
    sample(cv::Rect(20, 20, 10, 10)).setTo(100);
    st.setTemplate(0, 1, sample);
    st.data->curTemplate = 1;
    auto engine = engineFor(st);
    engine->TrainModels(0);

    st.data->roiBlobs[0][0] = 5;
    engine->MeasureROI(0, 0);
    QCOMPARE(st.data->roiValue[0], 81);
    QCOMPARE(st.data->roiBlobs[0][0], 0);
    QVERIFY(st.data->showMeasure);
    QCOMPARE(st.peers.repaints, 1);
    QCOMPARE(st.overlay().at<uchar>(25, 25), uchar(255));

    // A defect area is not measured live; an area beyond the count is left.
    st.data->roiValue[1] = 9;
    engine->MeasureROI(0, 1);
    QCOMPARE(st.data->roiValue[1], 0);
    QCOMPARE(st.peers.repaints, 2);
    QCOMPARE(cv::countNonZero(st.overlay()), 0);
    engine->MeasureROI(0, 7);
    QCOMPARE(st.peers.repaints, 2);
    engine->MeasureROI(9, 0);
    QVERIFY(st.peers.handedOver.isEmpty());
}

void TestDetectAlgorithm::constructionTrainsEnabledDetects()
{
    EngineStation st(W, H);
    st.params.detectEnabled(0) = 1;
    st.params.detectEnabled(1) = 0;
    st.params.detectEnabled(2) = 1;
    st.addRect(0, FuncDefect, cv::Rect(10, 10, 20, 20), 3, 25, 100);
    st.setTemplate(0, 0, grey(100));
    auto engine = engineFor(st);
    QVERIFY(!engine->keepMasks[0].empty());
    QVERIFY(engine->keepMasks[1].empty());
    QVERIFY(!engine->keepMasks[2].empty());
    QVERIFY(engine->defectModels[0].IsTrained());
}

void TestDetectAlgorithm::recordsServiceTakesTheResult()
{
    TestWorkDir dir;
    TemperatureChartData* records = TemperatureChartData::instance();
    DetectResult base = currentRecordsResult();
    base.idx_camera = 2;
    records->setDetectResult(base);
    QCOMPARE(currentRecordsResult().idx_camera, 2);

    DetectResult r = base;
    r.idx_detect = 1;
    r.roundstart = QDateTime::currentDateTime();
    r.detectstart = r.roundstart;
    r.roi_detail = {{9, 65, 80, 120, 90}, {}};
    r.roi_result = {0, 1};
    r.result = 0;
    const int waiting = records->pendingInserts.size();
    handOverToRecords(r);
    QCOMPARE(records->detectResult.roi_result, r.roi_result);
    QCOMPARE(records->detectResult.idx_camera, 2);
    // Entered into today's data and on its way to the result file.
    QCOMPARE(records->todaySeries.value(QStringLiteral("C:2_D:1_F:0")).size(), 1);
    QCOMPARE(records->pendingInserts.size(), waiting + 1);
    QCOMPARE(records->pendingInserts.last().roi_detail, QStringLiteral("[[9,65,80,120,90],[]]"));
}

QTEST_GUILESS_MAIN(TestDetectAlgorithm)
#include "tst_detectalgorithm.moc"
