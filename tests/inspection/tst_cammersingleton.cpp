#include "cammersingleton.h"
#include "paramstorage.h"
#include "circle.h"
#include "clustomrect.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "repolygon.h"
#include "roiinterface.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {

const QString kParamFileError = QStringLiteral("相机参数文件打开错误！");
const QString kAreaFileError = QStringLiteral("区域参数文件错误，请还原\n参数组或联系供应商！");

using Rows = QMap<QString, QString>;

bool exec(const QString& sql, const QString& connection = CammerSingleton::ParamConnection)
{
    QSqlQuery query(QSqlDatabase::database(connection));
    if (!query.exec(sql)) {
        qWarning() << sql << query.lastError().text();
        return false;
    }
    return true;
}

bool putRow(const QString& name, const QString& value, int camera = 0)
{
    QSqlQuery query(QSqlDatabase::database(CammerSingleton::ParamConnection));
    query.prepare(QStringLiteral("insert into cammer%1 values(?, ?)").arg(camera));
    query.addBindValue(name);
    query.addBindValue(value);
    return query.exec();
}

// Every row of a camera table; duplicated names would show as a changed count.
Rows rows(int camera = 0, int* count = nullptr)
{
    Rows out;
    int n = 0;
    QSqlQuery query(QSqlDatabase::database(CammerSingleton::ParamConnection));
    if (query.exec(QStringLiteral("select name, value from cammer%1").arg(camera))) {
        while (query.next()) {
            out.insert(query.value(0).toString(), query.value(1).toString());
            ++n;
        }
    }
    if (count) {
        *count = n;
    }
    return out;
}

void addArea(CammerSingleton& set, int detect, ROIInterface* shape, int function = FuncDefect, int param = 3,
             int lower = 25, int upper = 100, int output = 0)
{
    while (set.roiLists.size() < CammerSingleton::DetectCount) {
        set.roiLists.append(QList<ROIInterface*>());
    }
    const int area = set.roiCount[detect]++;
    const int slot = detect * CammerSingleton::AreasPerDetect + area;
    shape->updateBounds();
    set.roiLists[detect].append(shape);
    set.roiShapeType[slot] = shape->type();
    set.roiFunction[slot] = function;
    set.roiParam[slot] = param;
    set.roiLower[slot] = lower;
    set.roiUpper[slot] = upper;
    set.roiOutput[area] = output;
}

RePolygon* bigPolygon()
{
    std::vector<QPoint> v(RePolygon::MaxPoints);
    for (int i = 0; i < RePolygon::MaxPoints; ++i) {
        const double t = 2 * M_PI * i / RePolygon::MaxPoints;
        v[size_t(i)] = QPoint(320 + int(200 * std::cos(t)), 240 + int(200 * std::sin(t)));
    }
    return new RePolygon(RePolygon::MaxPoints, v.data());
}

RePolygon* triangle()
{
    const QPoint v[3] = {{10, 10}, {50, 10}, {30, 40}};
    return new RePolygon(3, v);
}

// Three shapes of every kind over several detects, with values that use the
// whole integer range the rows carry.
std::unique_ptr<CammerSingleton> sampleSet(int camera = 0)
{
    auto set = std::make_unique<CammerSingleton>(camera);
    addArea(*set, 0, new ClustomRect(50, 50, 100, 100));
    addArea(*set, 0, new Circle(200, 150, 40, 40), FuncSpot, 12800, 80, 500, 2);
    addArea(*set, 0, new Circle(300, 200, 60, 15), FuncWhiteNum, 5, 128, 1, 8);
    addArea(*set, 0, bigPolygon(), FuncSimilarity, -7, 80, 0, 1);
    addArea(*set, 0, triangle(), FuncBlackArea, 0, 50, 100);
    addArea(*set, 1, new ClustomRect(3, 3, 637, 477), FuncTempAlarm, 90, 65616, 1310840, 4);
    addArea(*set, 1, triangle(), FuncPosition, 10, 10, 10);
    addArea(*set, 3, new Circle(320, 240, 100, 0), FuncAngleCorrect, 1, 1, 1);
    for (int d = 0; d < CammerSingleton::DetectCount; ++d) {
        for (int k = 0; k < CammerSingleton::ExtraCount; ++k) {
            set->detectExtra[d][k] = d * 10 - k;
        }
    }
    return set;
}

} // namespace

class TestCammerSingleton : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptyTableGetsItsDetectRows();
    void factoryGroupLoadsWithoutWarnings();
    void loadsRowsAsStored();
    void outputChannelOfTheLastDetectWins();
    void corruptRows_data();
    void corruptRows();
    void reloadingReplacesTheShapes();
    void saveAndLoadRoundTrip();
    void saveWritesExactRows();
    void saveDeletesSurplusRows();
    void saveCreatesMissingTableAndDetectRows();
    void failedSaveKeepsPreviousSet_data();
    void failedSaveKeepsPreviousSet();
    void saveRefusesInconsistentSet();
    void copyAndCompare();
    void functionNames_data();
    void functionNames();
    void functionDefaults_data();
    void functionDefaults();
    void firstAreaDefaults_data();
    void firstAreaDefaults();

private:
    bool openDatabase(const QString& options = QString());
    void closeDatabase();
    std::unique_ptr<CammerSingleton> load(int camera = 0, cv::Mat* masks = nullptr);

    std::unique_ptr<ProcessState> m_state;
    std::unique_ptr<TestWorkDir> m_dir;
    SystemParam m_params{};
    std::unique_ptr<PromptAnswerer> m_prompts;
};

void TestCammerSingleton::initTestCase()
{
    initTextTable();
}

void TestCammerSingleton::init()
{
    m_state = std::make_unique<ProcessState>();
    gpSystemParam = &m_params;
    m_dir = std::make_unique<TestWorkDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(openDatabase());
    QVERIFY(exec("create table cammer0 (name text, value text)"));
    m_prompts = std::make_unique<PromptAnswerer>();
}

void TestCammerSingleton::cleanup()
{
    m_prompts.reset();
    m_dir.reset();
    m_state.reset();
}

bool TestCammerSingleton::openDatabase(const QString& options)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(m_dir->filePath("PARAM.db"));
    // Short, so that the locked-database case fails quickly.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=100;") + options);
    return db.open();
}

void TestCammerSingleton::closeDatabase()
{
    {
        QSqlDatabase db = QSqlDatabase::database(CammerSingleton::ParamConnection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
}

std::unique_ptr<CammerSingleton> TestCammerSingleton::load(int camera, cv::Mat* masks)
{
    auto set = std::make_unique<CammerSingleton>(camera);
    set->LoadFromDB(640, 480, masks);
    return set;
}

void TestCammerSingleton::emptyTableGetsItsDetectRows()
{
    CammerSingleton set(0);
    QVERIFY(set.LoadFromDB(640, 480, nullptr));
    QCOMPARE(set.roiLists.size(), 8);
    for (int d = 0; d < 8; ++d) {
        QCOMPARE(set.roiCount[d], 0);
        QVERIFY(set.roiLists[d].isEmpty());
        QVERIFY(!set.IsDetectFaulty(d));
    }
    const Rows expected{{"detect0", "0"}, {"detect1", "0"}, {"detect2", "0"}, {"detect3", "0"},
                        {"detect4", "0"}, {"detect5", "0"}, {"detect6", "0"}, {"detect7", "0"}};
    QCOMPARE(rows(), expected);
    QVERIFY(m_prompts->warnings.isEmpty());
}

void TestCammerSingleton::factoryGroupLoadsWithoutWarnings()
{
    closeDatabase();
    QVERIFY(writeFactoryParamGroup(QStringLiteral("factory")));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(m_dir->filePath("factory/PARAM.db"));
    QVERIFY(db.open());
    for (int camera = 0; camera < 8; ++camera) {
        CammerSingleton set(camera);
        QVERIFY(set.LoadFromDB(640, 480, nullptr));
        for (int d = 0; d < 8; ++d) {
            QCOMPARE(set.roiCount[d], 0);
            QVERIFY(!set.IsDetectFaulty(d));
        }
    }
    QCOMPARE(m_prompts->warnings, QStringList());
}

void TestCammerSingleton::loadsRowsAsStored()
{
    QVERIFY(putRow("detect0", "3 1 2 3 4 5 6 7 8"));
    QVERIFY(putRow("ROI0-0", "3 25 100 0 1 0 0 50 50 100 100"));
    QVERIFY(putRow("ROI0-1", "12800 80 500 1 4 3 0 200 150 655400"));
    QVERIFY(putRow("ROI0-2", "-5 -6 -7 6 2 8 3 10 10 50 10 30 40 "));
    // A detect row holding only its count: the extras read as 0.
    QVERIFY(putRow("detect1", "2"));
    QVERIFY(putRow("ROI1-0", "1 2 3 3 1 0 0 1 20 700 30"));
    QVERIFY(putRow("ROI1-1", "90 65616 1310840 9 7 3 0 60 60 80 80"));

    // Loaded the way the camera station does it, with its frame size and mask table.
    struct Station {
        int imageWidth = 640;
        int imageHeight = 480;
        cv::Mat roiMasks[CammerSingleton::SlotCount];
    };
    auto station = std::make_unique<Station>();
    cv::Mat* masks = station->roiMasks;
    const cv::Mat untouched(1, 1, CV_8UC1, cv::Scalar(42));
    masks[3] = untouched;
    auto set = std::make_unique<CammerSingleton>(0);
    QVERIFY(set->LoadFromDB(station.get()));
    QVERIFY(m_prompts->warnings.isEmpty());

    QCOMPARE(set->roiCount[0], 3);
    QCOMPARE(set->roiCount[1], 2);
    for (int k = 0; k < 8; ++k) {
        QCOMPARE(set->detectExtra[0][k], k + 1);
        QCOMPARE(set->detectExtra[1][k], 0);
    }
    QCOMPARE(set->roiParam[1], 12800);
    QCOMPARE(set->roiLower[1], 80);
    QCOMPARE(set->roiUpper[1], 500);
    QCOMPARE(set->roiFunction[1], int(FuncSpot));
    QCOMPARE(set->roiShapeType[1], int(ROICircle));
    QCOMPARE(set->roiParam[2], -5);
    QCOMPARE(set->roiLower[2], -6);
    QCOMPARE(set->roiUpper[2], -7);
    QCOMPARE(set->roiOutput[1], 3);
    QCOMPARE(set->roiOutput[2], 8);

    QVERIFY(set->roiLists[0][0]->isEqual(std::make_unique<ClustomRect>(50, 50, 100, 100).get()));
    QVERIFY(set->roiLists[0][1]->isEqual(std::make_unique<Circle>(200, 150, 40, 10).get()));
    std::unique_ptr<RePolygon> tri(triangle());
    tri->updateBounds();
    QVERIFY(set->roiLists[0][2]->isEqual(tri.get()));
    QCOMPARE(QRect(*set->roiLists[0][2]), QRect(10, 10, 40, 30));
    // Coordinates are limited to the image as they are read.
    QVERIFY(set->roiLists[1][0]->isEqual(std::make_unique<ClustomRect>(3, 20, 637, 30).get()));
    // An unknown shape code reads as a rectangle and is kept as stored.
    QCOMPARE(set->roiShapeType[51], 7);
    QCOMPARE(set->roiLists[1][1]->type(), int(ROIRect));

    for (int d = 0; d < 2; ++d) {
        for (int i = 0; i < set->roiCount[d]; ++i) {
            const cv::Mat expected = set->roiLists[d][i]->createMask();
            const cv::Mat& got = masks[size_t(d * 50 + i)];
            QCOMPARE(got.size(), expected.size());
            QCOMPARE(cv::norm(got, expected, cv::NORM_INF), 0.0);
        }
    }
    QCOMPARE(masks[3].data, untouched.data);
}

void TestCammerSingleton::outputChannelOfTheLastDetectWins()
{
    QVERIFY(putRow("detect0", "4"));
    QVERIFY(putRow("detect1", "4"));
    for (int m = 0; m < 4; ++m) {
        QVERIFY(putRow(QStringLiteral("ROI0-%1").arg(m), QStringLiteral("3 25 100 0 1 %1 0 50 50 100 100").arg(m == 3 ? 2 : 0)));
        QVERIFY(putRow(QStringLiteral("ROI1-%1").arg(m), QStringLiteral("3 25 100 0 1 %1 0 50 50 100 100").arg(m == 3 ? 5 : 0)));
    }
    auto set = load();
    QCOMPARE(set->roiOutput[3], 5);
}

void TestCammerSingleton::corruptRows_data()
{
    QTest::addColumn<Rows>("stored");
    QTest::addColumn<bool>("dropTable");
    QTest::addColumn<QList<int>>("counts");          // detects 0 to 2
    QTest::addColumn<QList<int>>("defaultedSlots");  // unreadable rows standing as the default area
    QTest::addColumn<QList<int>>("faultySlots");     // areas the inspection must treat as errors
    QTest::addColumn<QList<int>>("faultyDetects");

    const QString good = QStringLiteral("3 25 100 0 1 0 0 60 60 90 90");
    auto one = [&](const QString& value) { return Rows{{"detect0", "1"}, {"ROI0-0", value}}; };

    QTest::newRow("polygon count 100000") << one("3 25 100 0 2 0 100000 5 5 6 6") << false << QList<int>{1, 0, 0}
                                          << QList<int>{0} << QList<int>{0} << QList<int>{};
    QTest::newRow("polygon count -5") << one("3 25 100 0 2 0 -5 5 5 6 6") << false << QList<int>{1, 0, 0}
                                      << QList<int>{0} << QList<int>{0} << QList<int>{};
    QTest::newRow("polygon record cut short") << one("3 25 100 0 2 0 3 10 10 50 10") << false
                                              << QList<int>{1, 0, 0} << QList<int>{0} << QList<int>{0} << QList<int>{};
    QTest::newRow("rectangle record cut short") << one("3 25 100 0 1 0 0 50 50") << false << QList<int>{1, 0, 0}
                                                << QList<int>{0} << QList<int>{0} << QList<int>{};
    QTest::newRow("row cut short before the shape") << one("3 25 100") << false << QList<int>{1, 0, 0}
                                                    << QList<int>{0} << QList<int>{0} << QList<int>{};
    QTest::newRow("empty value") << one("") << false << QList<int>{1, 0, 0} << QList<int>{0} << QList<int>{0}
                                 << QList<int>{};
    QTest::newRow("text among the numbers") << one("3 25 abc 0 1 0 0 50 50 100 100") << false
                                            << QList<int>{1, 0, 0} << QList<int>{0} << QList<int>{0} << QList<int>{};
    QTest::newRow("text in the shape record") << one("3 25 100 0 4 0 0 200 x1 655400") << false
                                              << QList<int>{1, 0, 0} << QList<int>{0} << QList<int>{0} << QList<int>{};
    QTest::newRow("function 99 kept and flagged") << one("3 25 100 99 1 0 0 60 60 90 90") << false
                                                  << QList<int>{1, 0, 0} << QList<int>{} << QList<int>{0}
                                                  << QList<int>{};
    QTest::newRow("output 12 reads as 0") << one("3 25 100 0 1 12 0 60 60 90 90") << false << QList<int>{1, 0, 0}
                                          << QList<int>{} << QList<int>{} << QList<int>{};
    QTest::newRow("missing area row") << Rows{{"detect0", "2"}, {"ROI0-0", good}} << false << QList<int>{2, 0, 0}
                                      << QList<int>{1} << QList<int>{1} << QList<int>{};
    // The other detects still load into their own lists.
    QTest::newRow("area count 51")
        << Rows{{"detect0", "1"}, {"ROI0-0", good}, {"detect1", "51 0 0 0 0 0 0 0 0"}, {"ROI1-0", good},
                {"detect2", "1"}, {"ROI2-0", good}}
        << false << QList<int>{1, 0, 1} << QList<int>{} << QList<int>{} << QList<int>{1};
    QTest::newRow("area count -1") << Rows{{"detect0", "-1"}, {"ROI0-0", good}} << false << QList<int>{0, 0, 0}
                                   << QList<int>{} << QList<int>{} << QList<int>{0};
    QTest::newRow("detect row not a number") << Rows{{"detect0", "two"}, {"ROI0-0", good}} << false
                                             << QList<int>{0, 0, 0} << QList<int>{} << QList<int>{}
                                             << QList<int>{0};
    QTest::newRow("missing table") << Rows{} << true << QList<int>{0, 0, 0} << QList<int>{} << QList<int>{}
                                   << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
}

void TestCammerSingleton::corruptRows()
{
    QFETCH(Rows, stored);
    QFETCH(bool, dropTable);
    QFETCH(QList<int>, counts);
    QFETCH(QList<int>, defaultedSlots);
    QFETCH(QList<int>, faultySlots);
    QFETCH(QList<int>, faultyDetects);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        QVERIFY(putRow(it.key(), it.value()));
    }
    if (dropTable) {
        QVERIFY(exec("drop table cammer0"));
    }

    std::vector<cv::Mat> masks(CammerSingleton::SlotCount);
    CammerSingleton set(0);
    QVERIFY(!set.LoadFromDB(640, 480, masks.data()));
    QCOMPARE(m_prompts->warnings, QStringList{kParamFileError});

    QCOMPARE(set.roiLists.size(), 8);
    for (int d = 0; d < 8; ++d) {
        QCOMPARE(set.roiCount[d], d < counts.size() ? counts[d] : 0);
        QCOMPARE(set.roiLists[d].size(), set.roiCount[d]);
        QCOMPARE(set.IsDetectFaulty(d), faultyDetects.contains(d));
        for (int i = 0; i < set.roiCount[d]; ++i) {
            const int slot = d * 50 + i;
            QCOMPARE(set.IsAreaFaulty(slot), faultySlots.contains(slot));
            QCOMPARE(set.roiLoadFault[slot] != 0, defaultedSlots.contains(slot));
            QVERIFY(!masks[size_t(slot)].empty());
            QVERIFY(set.roiOutput[i] >= 0 && set.roiOutput[i] <= 8);
            if (defaultedSlots.contains(slot)) {
                QVERIFY(set.roiLists[d][i]->isEqual(std::make_unique<ClustomRect>(50, 50, 100, 100).get()));
                QCOMPARE(set.roiParam[slot], 3);
                QCOMPARE(set.roiLower[slot], 25);
                QCOMPARE(set.roiUpper[slot], 100);
                QCOMPARE(set.roiFunction[slot], 0);
                QCOMPARE(set.roiShapeType[slot], 1);
            } else if (faultySlots.contains(slot)) {
                // Kept as stored, so that a later save does not invent a function.
                QCOMPARE(set.roiFunction[slot], 99);
                QVERIFY(set.roiLists[d][i]->isEqual(std::make_unique<ClustomRect>(60, 60, 90, 90).get()));
            }
        }
    }
    // A missing table is reported, not created by loading.
    QCOMPARE(QSqlDatabase::database(CammerSingleton::ParamConnection).tables().contains("cammer0"), !dropTable);
}

void TestCammerSingleton::reloadingReplacesTheShapes()
{
    QVERIFY(putRow("detect0", "1"));
    QVERIFY(putRow("ROI0-0", "3 25 100 0 1 0 0 60 60 90 90"));
    CammerSingleton set(0);
    set.CopyFrom(*sampleSet());
    set.LoadFromDB(640, 480, nullptr);
    set.LoadFromDB(640, 480, nullptr);
    QCOMPARE(set.roiLists.size(), 8);
    QCOMPARE(set.roiLists[0].size(), 1);
    CammerSingleton fresh(0);
    fresh.LoadFromDB(640, 480, nullptr);
    QVERIFY(set.IsSame(fresh));
}

void TestCammerSingleton::saveAndLoadRoundTrip()
{
    const auto saved = sampleSet();
    QVERIFY(saved->SaveToDB());
    QVERIFY(m_prompts->warnings.isEmpty());

    std::vector<cv::Mat> masks(CammerSingleton::SlotCount);
    CammerSingleton loaded(0);
    QVERIFY(loaded.LoadFromDB(640, 480, masks.data()));
    QVERIFY(loaded.IsSame(*saved));
    QVERIFY(saved->IsSame(loaded));
    QCOMPARE(static_cast<RePolygon*>(loaded.roiLists[0][3])->pointCount, RePolygon::MaxPoints);
    const Circle* equalRadii = static_cast<Circle*>(loaded.roiLists[0][1]);
    QCOMPARE(equalRadii->rn, equalRadii->r);
    QCOMPARE(cv::countNonZero(masks[1]), 0);  // a ring with equal radii covers nothing
    QCOMPARE(cv::countNonZero(masks[0]), 51 * 51);

    // Saving what was loaded changes no row.
    const Rows before = rows();
    QVERIFY(loaded.SaveToDB());
    QCOMPARE(rows(), before);
}

void TestCammerSingleton::saveWritesExactRows()
{
    CammerSingleton set(0);
    addArea(set, 0, new ClustomRect(50, 50, 100, 100));
    addArea(set, 0, triangle(), FuncSpot, 12800, 80, 500, 3);
    addArea(set, 0, new Circle(200, 150, 40, 10), FuncTempAlarm, 90, 65616, 1310840, 8);
    set.detectExtra[0][7] = -9;
    QVERIFY(set.SaveToDB());
    int count = 0;
    const Rows stored = rows(0, &count);
    QCOMPARE(count, 11);
    QCOMPARE(stored.value("detect0"), QStringLiteral("3 0 0 0 0 0 0 0 -9"));
    QCOMPARE(stored.value("detect1"), QStringLiteral("0 0 0 0 0 0 0 0 0"));
    QCOMPARE(stored.value("ROI0-0"), QStringLiteral("3 25 100 0 1 0 0 50 50 100 100"));
    QCOMPARE(stored.value("ROI0-1"), QStringLiteral("12800 80 500 1 2 3 3 10 10 50 10 30 40 "));
    QCOMPARE(stored.value("ROI0-2"), QStringLiteral("90 65616 1310840 9 4 8 0 200 150 655400"));
}

void TestCammerSingleton::saveDeletesSurplusRows()
{
    const QString area = QStringLiteral("3 25 100 0 1 0 0 60 60 90 90");
    QVERIFY(putRow("detect0", "5"));
    for (int m = 0; m < 5; ++m) {
        QVERIFY(putRow(QStringLiteral("ROI0-%1").arg(m), area));
    }
    QVERIFY(putRow("detect1", "1"));
    QVERIFY(putRow("ROI1-0", area));
    auto set = load();
    // Keep two areas of detect 0.
    for (int m = 4; m >= 2; --m) {
        delete set->roiLists[0].takeAt(m);
    }
    set->roiCount[0] = 2;
    QVERIFY(set->SaveToDB());

    const Rows stored = rows();
    QVERIFY(stored.contains("ROI0-0"));
    QVERIFY(stored.contains("ROI0-1"));
    QVERIFY(!stored.contains("ROI0-2"));
    QVERIFY(!stored.contains("ROI0-3"));
    QVERIFY(!stored.contains("ROI0-4"));
    QCOMPARE(stored.value("ROI1-0"), area);
    QCOMPARE(stored.value("detect0"), QStringLiteral("2 0 0 0 0 0 0 0 0"));
}

void TestCammerSingleton::saveCreatesMissingTableAndDetectRows()
{
    // Camera 2 has no table yet; without detect rows its areas would load as none.
    const auto saved = sampleSet(2);
    QVERIFY(saved->SaveToDB());
    int count = 0;
    const Rows stored = rows(2, &count);
    QCOMPARE(count, 8 + 8);
    CammerSingleton loaded(2);
    QVERIFY(loaded.LoadFromDB(640, 480, nullptr));
    QVERIFY(loaded.IsSame(*saved));
}

void TestCammerSingleton::failedSaveKeepsPreviousSet_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("statement fails half way") << "trigger";
    QTest::newRow("database locked by another connection") << "locked";
    QTest::newRow("database opened read-only") << "readonly";
    QTest::newRow("no database connection") << "closed";
}

void TestCammerSingleton::failedSaveKeepsPreviousSet()
{
    QFETCH(QString, fault);
    const auto previous = sampleSet();
    QVERIFY(previous->SaveToDB());
    const Rows before = rows();

    // A different set that rewrites detect 0 before it reaches detect 1.
    auto next = std::make_unique<CammerSingleton>(0);
    addArea(*next, 0, new ClustomRect(10, 10, 20, 20), FuncSpot);
    addArea(*next, 1, new Circle(100, 100, 20, 5));
    QVERIFY(!next->IsSame(*previous));

    const QString locker = QStringLiteral("locker");
    if (fault == "trigger") {
        QVERIFY(exec("create trigger failhalf before update on cammer0 when new.name = 'ROI1-0' "
                     "begin select raise(abort, 'disk full'); end"));
    } else if (fault == "locked") {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), locker);
        other.setDatabaseName(m_dir->filePath("PARAM.db"));
        QVERIFY(other.open());
        QVERIFY(exec("begin immediate", locker));
    } else if (fault == "readonly") {
        closeDatabase();
        QVERIFY(openDatabase(QStringLiteral("QSQLITE_OPEN_READONLY")));
    } else {
        closeDatabase();
    }

    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("cammer0: areas not saved"));
    QVERIFY(!next->SaveToDB());
    QCOMPARE(m_prompts->warnings, QStringList{kAreaFileError});

    if (fault == "locked") {
        QVERIFY(exec("rollback", locker));
    }
    if (fault == "closed" || fault == "readonly") {
        closeDatabase();
        QVERIFY(openDatabase());
    }
    QCOMPARE(rows(), before);
    CammerSingleton reloaded(0);
    QVERIFY(reloaded.LoadFromDB(640, 480, nullptr));
    QVERIFY(reloaded.IsSame(*previous));
}

void TestCammerSingleton::saveRefusesInconsistentSet()
{
    const auto previous = sampleSet();
    QVERIFY(previous->SaveToDB());
    const Rows before = rows();

    auto broken = sampleSet();
    broken->roiCount[0] = 7;  // two more than it holds
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("counts 7 areas but holds 5"));
    QVERIFY(!broken->SaveToDB());
    QCOMPARE(m_prompts->warnings, QStringList{kAreaFileError});
    QCOMPARE(rows(), before);
}

void TestCammerSingleton::copyAndCompare()
{
    const auto live = sampleSet();
    live->roiLoadFault[4] = 1;
    CammerSingleton edit(0);
    QVERIFY(!edit.IsSame(*live));
    edit.CopyFrom(*live);
    QVERIFY(edit.IsSame(*live));
    QVERIFY(live->IsSame(edit));
    QCOMPARE(edit.roiLoadFault[4], quint8(1));
    QVERIFY(edit.roiLists[0][3] != live->roiLists[0][3]);

    // One vertex of one polygon.
    auto* poly = static_cast<RePolygon*>(edit.roiLists[0][4]);
    poly->points[1].rx() += 1;
    QVERIFY(!edit.IsSame(*live));
    poly->points[1].rx() -= 1;
    QVERIFY(edit.IsSame(*live));

    // Selection is not part of the set.
    edit.roiLists[0][0]->setSelected(true);
    QVERIFY(edit.IsSame(*live));
    // Load faults are not stored, so they do not count.
    edit.roiLoadFault[4] = 0;
    QVERIFY(edit.IsSame(*live));

    // Every stored number counts, also beyond the area counts.
    auto differs = [&](const std::function<void(CammerSingleton&)>& change) {
        CammerSingleton copy(0);
        copy.CopyFrom(*live);
        change(copy);
        return !copy.IsSame(*live);
    };
    QVERIFY(differs([](CammerSingleton& s) { s.roiParam[399] = 1; }));
    QVERIFY(differs([](CammerSingleton& s) { s.roiLower[0] += 1; }));
    QVERIFY(differs([](CammerSingleton& s) { s.roiUpper[0] += 1; }));
    QVERIFY(differs([](CammerSingleton& s) { s.roiFunction[200] = 3; }));
    QVERIFY(differs([](CammerSingleton& s) { s.roiShapeType[2] = 2; }));
    QVERIFY(differs([](CammerSingleton& s) { s.roiOutput[49] = 1; }));
    QVERIFY(differs([](CammerSingleton& s) { s.detectExtra[7][7] += 1; }));
    QVERIFY(differs([](CammerSingleton& s) { s.camera = 1; }));
    QVERIFY(differs([](CammerSingleton& s) { s.roiCount[5] = 1; }));
    QVERIFY(differs([](CammerSingleton& s) { s.roiLists.removeLast(); }));
    QVERIFY(differs([](CammerSingleton& s) {
        auto* ring = static_cast<Circle*>(s.roiLists[0][2]);
        ring->rn -= 1;
        ring->normalize();
    }));

    // Copying over a set that has shapes replaces them (the sanitizer sees any leak),
    // copying a set onto itself changes nothing, and an empty source empties.
    edit.CopyFrom(*live);
    edit.CopyFrom(edit);
    QVERIFY(edit.IsSame(*live));
    CammerSingleton empty(0);
    edit.CopyFrom(empty);
    QVERIFY(edit.IsSame(empty));
    // A new set has its eight detect lists from the start, all empty.
    QCOMPARE(edit.roiLists.size(), int(CammerSingleton::DetectCount));
    for (const QList<ROIInterface*>& shapes : edit.roiLists) {
        QVERIFY(shapes.isEmpty());
    }

    QList<ROIInterface*> list{new ClustomRect(), triangle(), new Circle()};
    clearROIList(list);
    QVERIFY(list.isEmpty());
}

void TestCammerSingleton::functionNames_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("function");
    QTest::addColumn<QString>("name");
    const char* chinese[] = {"缺陷检测", "斑点检测", "忽略区域", "目标定位", "黑斑面积", "白斑面积",
                             "相似度",   "白斑个数", "缺陷检测", "温度报警", "角度矫正", "缺陷检测"};
    for (int f = 0; f < 12; ++f) {
        QTest::addRow("zh %d", f) << 0 << f << QString::fromUtf8(chinese[f]);
    }
    QTest::newRow("zh 12") << 0 << 12 << "缺陷检测";
    QTest::newRow("zh -1") << 0 << -1 << "缺陷检测";
    QTest::newRow("en spot") << 1 << 1 << "Spot Det";
    QTest::newRow("en defect") << 1 << 0 << "Defect";
    QTest::newRow("en reserved 8") << 1 << 8 << "Defect";
    QTest::newRow("en unknown 12") << 1 << 12 << "Defect";
    QTest::newRow("en white num") << 1 << 7 << "white num";
    QTest::newRow("en temperature") << 1 << 9 << "Temperature alarm";
    QTest::newRow("en angle") << 1 << 10 << "Angle correction";
    QTest::newRow("tw spot") << 2 << 1 << "斑點檢測";
    QTest::newRow("ja similarity") << 3 << 6 << "類似度";
    QTest::newRow("missing entry falls back to the Chinese name") << 3 << 10 << "角度矫正";
}

void TestCammerSingleton::functionNames()
{
    QFETCH(int, language);
    QFETCH(int, function);
    QFETCH(QString, name);
    // One entry left empty, as a text table entry may be.
    gTextTable[4 * 583 + 3].clear();
    gLanguage = language;
    QCOMPARE(detectFunctionName(function), name);
}

void TestCammerSingleton::functionDefaults_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<QList<int>>("values");  // param, lower, upper after switching from 7 / 8 / 9
    QTest::newRow("0 defect") << 0 << QList<int>{5, 25, 300};
    QTest::newRow("1 spot") << 1 << QList<int>{12800, 80, 500};
    QTest::newRow("2 ignore") << 2 << QList<int>{5, 25, 300};
    QTest::newRow("3 position") << 3 << QList<int>{10, 10, 10};
    QTest::newRow("4 black area") << 4 << QList<int>{7, 50, 100};
    QTest::newRow("5 white area") << 5 << QList<int>{7, 200, 100};
    QTest::newRow("6 similarity") << 6 << QList<int>{7, 80, 9};
    QTest::newRow("7 white count") << 7 << QList<int>{1, 128, 100};
    QTest::newRow("8 reserved") << 8 << QList<int>{7, 8, 9};
    QTest::newRow("9 temperature") << 9 << QList<int>{90, 65616, 1310840};
    QTest::newRow("10 angle") << 10 << QList<int>{1, 1, 1};
    QTest::newRow("11 reserved") << 11 << QList<int>{7, 8, 9};
}

void TestCammerSingleton::functionDefaults()
{
    QFETCH(int, function);
    QFETCH(QList<int>, values);
    m_params.filterSize() = 5;
    m_params.alarmArea() = 300;
    AreaSettings area{FuncSpot, 7, 8, 9};
    applyFunctionDefaults(area, function);
    QCOMPARE(area.function, function);
    QCOMPARE((QList<int>{area.param, area.lower, area.upper}), values);

    const AreaSettings missing = missingAreaDefaults();
    QCOMPARE((QList<int>{missing.function, missing.param, missing.lower, missing.upper}), (QList<int>{0, 3, 25, 100}));
}

void TestCammerSingleton::firstAreaDefaults_data()
{
    QTest::addColumn<QList<int>>("offered");
    QTest::addColumn<QList<int>>("area");  // function, param, lower, upper
    QTest::newRow("nothing offered: defect") << QList<int>{} << QList<int>{0, 5, 25, 300};
    QTest::newRow("only defect-like ones offered") << QList<int>{0, 2, 3, 10} << QList<int>{0, 5, 25, 300};
    QTest::newRow("white count has its own start") << QList<int>{7} << QList<int>{7, 5, 128, 1};
    QTest::newRow("black area before temperature") << QList<int>{9, 4} << QList<int>{4, 3, 50, 100};
    QTest::newRow("similarity before white count") << QList<int>{7, 6} << QList<int>{6, 3, 80, 100};
    QTest::newRow("spot first") << QList<int>{1, 4, 5, 6, 7, 9} << QList<int>{1, 12800, 80, 500};
    QTest::newRow("temperature") << QList<int>{9} << QList<int>{9, 90, 65616, 1310840};
}

void TestCammerSingleton::firstAreaDefaults()
{
    QFETCH(QList<int>, offered);
    QFETCH(QList<int>, area);
    m_params.filterSize() = 5;
    m_params.alarmArea() = 300;
    const AreaSettings first = firstAreaSettings([&](int f) { return offered.contains(f); });
    QCOMPARE((QList<int>{first.function, first.param, first.lower, first.upper}), area);
}

QTEST_GUILESS_MAIN(TestCammerSingleton)
#include "tst_cammersingleton.moc"
