// The area service: an edit made live and stored in PARAM.db with its rows in
// RECORD.db, a store that fails and leaves every set and mask as it was, and
// the area and template deletions and additions, on real files in the test's
// working folder.
#include "areaediting.h"

#include "areapanellogic.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "clustomrect.h"
#include "fakecamera.h"
#include "globals.h"
#include "operationlog.h"
#include "processstate.h"
#include "quietstationhost.h"
#include "sqlitetestutil.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

constexpr int W = 64;
constexpr int H = 48;

// Puts a rectangle area into the live or the edit set with its mask.
void addRect(CameraStation& st, bool live, int detect, QRect r, int param)
{
    CammerSingleton& set = live ? *st.pLiveSingleton : *st.pEditSingleton;
    auto* shape = new ClustomRect(r.left(), r.top(), r.right(), r.bottom());
    shape->updateBounds();
    const int n = set.roiCount[detect]++;
    const int slot = detect * StationData::AreasPerDetect + n;
    set.roiLists[detect].append(shape);
    set.roiShapeType[slot] = shape->type();
    set.roiFunction[slot] = FuncDefect;
    set.roiParam[slot] = param;
    set.roiLower[slot] = param + 1;
    set.roiUpper[slot] = param + 2;
    (live ? st.data.roiMasks : st.data.editRoiMasks)[slot] = shape->createMask();
}

QList<QStringList> paramRows(int camera)
{
    return sqliteRows("PARAM.db", QStringLiteral("SELECT name, value FROM cammer%1 ORDER BY name").arg(camera));
}

} // namespace

class TestAreaEditing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void init();
    void cleanup();

    void commitStoresLogsAndRetrains();
    void failedStoreRollsBackAndLogs_data();
    void failedStoreRollsBackAndLogs();
    void cavityCopyIsStored();
    void deleteAreasTouchesTheEditSetOnly();
    void addAndDeleteTemplates();

private:
    // The remarks written since the file's first row.
    QStringList remarks();
    AreaEditing::Stations stations() { return {m_station.get()}; }

    std::unique_ptr<ProcessState> m_state;
    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<PromptAnswerer> m_prompts;
    QuietStationHost m_host;
    SystemParam m_params{};
    std::unique_ptr<FakeCamera> m_driver;
    std::unique_ptr<CameraStation> m_station;
    std::unique_ptr<OperationLog> m_log;
    std::unique_ptr<AreaEditing> m_service;
};

void TestAreaEditing::init()
{
    m_state = std::make_unique<ProcessState>();
    m_dir = std::make_unique<TestWorkDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(openStationParamDatabase(m_dir->filePath("PARAM.db"), 1));
    m_params.clear();
    m_params[119] = 1;
    m_params[120] = 1;
    gpSystemParam = &m_params;
    gCameraCount = 1;
    gDetectCount = 2;
    gTemplateCount = 4;
    gColorMode = 0;
    gImageSource = -1;
    gLanguage = 0;
    m_prompts = std::make_unique<PromptAnswerer>();
    setStationHost(&m_host);
    m_driver = std::make_unique<FakeCamera>(W, H);
    m_driver->open();
    m_station = std::make_unique<CameraStation>(0, m_driver.get());
    m_log = std::make_unique<OperationLog>(QStringLiteral("areaRecord"));
    m_log->start();
    m_service = std::make_unique<AreaEditing>(m_log.get(), [] { return 2; });
}

void TestAreaEditing::cleanup()
{
    m_service.reset();
    m_log.reset();
    m_station.reset();
    m_driver.reset();
    clearStationHost(&m_host);
    m_prompts.reset();
    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    m_dir.reset();
    m_state.reset();
}

QStringList TestAreaEditing::remarks()
{
    QStringList out;
    const QList<QStringList> rows =
        sqliteRows(m_dir->filePath("RECORD.db"), "SELECT recordpassword, remarks FROM RECORD ORDER BY rowid");
    for (int i = 1; i < rows.size(); ++i) {
        // Every row of the service under the level it was given.
        if (rows[i].value(0) != userLevelText(2)) {
            return {QStringLiteral("wrong level: ") + rows[i].value(0)};
        }
        out << rows[i].value(1);
    }
    return out;
}

void TestAreaEditing::commitStoresLogsAndRetrains()
{
    CameraStation& st = *m_station;
    st.CopyMaskToEdit();
    addRect(st, false, 0, QRect(10, 10, 20, 20), 7);
    st.editIgnoreMasks[0].assign(std::size_t(W * H), 0);
    st.editIgnoreMasks[0][W * 12 + 12] = 255;
    bool touched = false;
    const QStringList expected = AreaPanelLogic::areaChangeRows(*st.pLiveSingleton, *st.pEditSingleton, 0,
                                                                m_params.systemFunction(), gDetectCount, &touched);
    QVERIFY(!expected.isEmpty());
    QVERIFY(AreaEditing::hasChanges(stations()));

    const AreaEditing::CommitResult result = m_service->commit(stations());
    QCOMPARE(int(result.cameras.size()), 1);
    QVERIFY(result.cameras[0].saved);
    QVERIFY(!result.anyFailed());
    QCOMPARE(result.cameras[0].rows, expected);
    QCOMPARE(remarks(), expected);
    QCOMPARE(st.pLiveSingleton->roiCount[0], 1);
    QVERIFY(st.pLiveSingleton->IsSame(*st.pEditSingleton));
    QCOMPARE(st.data.roiMasks[0].data, st.data.editRoiMasks[0].data);
    const QList<QStringList> stored = paramRows(0);
    QVERIFY(stored.contains(QStringList{"detect0", "1 0 0 0 0 0 0 0 0"}));
    QVERIFY(std::any_of(stored.begin(), stored.end(), [](const QStringList& row) { return row.value(0) == "ROI0-0"; }));
    // The ignored pixels are stored with the areas.
    QCOMPARE(int(st.data.ignoreMasks[0][W * 12 + 12]), 255);
    QVERIFY(QFile::exists(st.ignorePath(0)));
    QVERIFY(m_service->retrainingPending(0));
    m_service->runPendingRetraining(stations());
    QVERIFY(!m_service->retrainingPending(0));

    // Nothing differs any more: no commit, no row.
    QVERIFY(!AreaEditing::hasChanges(stations()));
    QVERIFY(m_service->commit(stations()).cameras.empty());
    QCOMPARE(remarks(), expected);
    QVERIFY(m_prompts->warnings.isEmpty());
}

void TestAreaEditing::failedStoreRollsBackAndLogs_data()
{
    QTest::addColumn<QString>("breakage");
    QTest::newRow("read-only database") << "PRAGMA query_only = ON";
    QTest::newRow("table replaced by a view") << "DROP TABLE cammer0;CREATE VIEW cammer0 AS SELECT 'a' AS name, 'b' AS value";
    QTest::newRow("connection closed") << "";
}

// With the cavity following the product the commit also rewrites the edit
// set (the copy is brought back into it): a failed store must undo that too.
void TestAreaEditing::failedStoreRollsBackAndLogs()
{
    QFETCH(QString, breakage);
    m_params.syncCavityParams() = 1;
    CameraStation& st = *m_station;
    addRect(st, true, 0, QRect(5, 5, 10, 10), 3);
    st.pEditSingleton->CopyFrom(*st.pLiveSingleton);
    st.CopyMaskToEdit();
    addRect(st, false, 0, QRect(30, 20, 10, 10), 9);
    const cv::Mat liveMask = st.data.roiMasks[0];
    const cv::Mat editMask = st.data.editRoiMasks[1];
    CammerSingleton liveBefore(0);
    liveBefore.CopyFrom(*st.pLiveSingleton);
    CammerSingleton editBefore(0);
    editBefore.CopyFrom(*st.pEditSingleton);
    const QList<QStringList> storedBefore = paramRows(0);

    QSqlDatabase db = QSqlDatabase::database(CammerSingleton::ParamConnection, false);
    if (breakage.isEmpty()) {
        db.close();
    }
    for (const QString& statement : breakage.split(';', Qt::SkipEmptyParts)) {
        QSqlQuery query(db);
        QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
    }

    const AreaEditing::CommitResult result = m_service->commit(stations());
    QCOMPARE(result.failedCameras(), QList<int>{0});
    const QString failure = textOf(AreaPanelLogic::TextAreasNotSaved).arg(1);
    QCOMPARE(result.cameras[0].failure, failure);
    QCOMPARE(remarks(), QStringList{failure});
    QCOMPARE(m_prompts->warnings, QStringList{textOf(1)});
    QVERIFY(st.pLiveSingleton->IsSame(liveBefore));
    QVERIFY(st.pEditSingleton->IsSame(editBefore));
    QCOMPARE(st.pEditSingleton->roiCount[1], 0);
    QCOMPARE(st.data.roiMasks[0].data, liveMask.data);
    QVERIFY(st.data.roiMasks[1].empty());
    QCOMPARE(st.data.editRoiMasks[1].data, editMask.data);
    QVERIFY(st.data.roiMasks[StationData::AreasPerDetect].empty());
    QVERIFY(!m_service->retrainingPending(0));
    QVERIFY(AreaEditing::hasChanges(stations()));
    if (breakage.startsWith("PRAGMA")) {
        QCOMPARE(paramRows(0), storedBefore);
    }
}

void TestAreaEditing::cavityCopyIsStored()
{
    CameraStation& st = *m_station;
    addRect(st, true, 0, QRect(5, 5, 10, 10), 4);
    QVERIFY(AreaEditing::storeCavityCopy(st));
    QCOMPARE(st.pLiveSingleton->roiCount[1], 1);
    const QList<QStringList> stored = paramRows(0);
    QVERIFY(std::any_of(stored.begin(), stored.end(), [](const QStringList& row) { return row.value(0) == "ROI1-0"; }));
    QVERIFY(remarks().isEmpty());

    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    QVERIFY(!AreaEditing::storeCavityCopy(st));
    QCOMPARE(m_prompts->warnings, QStringList{textOf(1)});
}

void TestAreaEditing::deleteAreasTouchesTheEditSetOnly()
{
    CameraStation& st = *m_station;
    addRect(st, true, 0, QRect(5, 5, 10, 10), 1);
    addRect(st, true, 0, QRect(30, 20, 10, 10), 2);
    st.pEditSingleton->CopyFrom(*st.pLiveSingleton);
    st.CopyMaskToEdit();
    st.data.ignoreMasks[0].assign(std::size_t(W * H), 255);
    QVERIFY(st.SaveIgnoreMask(0));
    const QByteArray ignoreFile = m_dir->read("cammer11/ignorepoint.bmp");

    st.selectedRoi = 5;
    QVERIFY(!m_service->deleteArea(st, 5));
    QCOMPARE(st.selectedRoi, -1);
    QVERIFY(m_service->deleteArea(st, 0));
    QCOMPARE(st.pEditSingleton->roiCount[0], 1);
    QCOMPARE(st.pEditSingleton->roiParam[0], 2);

    m_service->deleteAllAreas(st, 0);
    QCOMPARE(st.pEditSingleton->roiCount[0], 0);
    QVERIFY(st.pEditSingleton->roiLists[0].isEmpty());
    QCOMPARE(st.editIgnoreMasks[0], std::vector<uchar>(std::size_t(W * H), 0));
    QCOMPARE(st.pLiveSingleton->roiCount[0], 2);
    QCOMPARE(int(st.data.ignoreMasks[0][0]), 255);
    QCOMPARE(m_dir->read("cammer11/ignorepoint.bmp"), ignoreFile);
    QVERIFY(remarks().isEmpty());
}

void TestAreaEditing::addAndDeleteTemplates()
{
    CameraStation& st = *m_station;
    std::vector<uchar> frame(std::size_t(W * H), 7);
    QVERIFY(st.StoreTemplate(0, 0, frame.data()));

    const AreaEditing::TemplateResult added = m_service->addTemplate(st, 0, 0, frame.data(), false);
    QCOMPARE(int(added.outcome), int(AreaEditing::TemplateOutcome::Stored));
    QVERIFY(added.slot > 0);
    QVERIFY(QFile::exists(st.templatePath(0, added.slot)));
    QCOMPARE(st.data.templateCount[0], 2);
    QVERIFY(m_service->retrainingPending(0));
    m_service->runPendingRetraining(stations());

    // Retrained at once (the alarm's own picture): nothing left pending.
    const AreaEditing::TemplateResult second = m_service->addTemplate(st, 0, 1, frame.data(), true);
    QCOMPARE(int(second.outcome), int(AreaEditing::TemplateOutcome::Stored));
    QVERIFY(!m_service->retrainingPending(0));
    QCOMPARE(remarks(), (QStringList{textOf(109).arg(1), textOf(109).arg(1)}));

    // A slot whose file cannot be written stays free and only the failure is logged.
    const int next = AreaPanelLogic::chooseAddSlot(st.data.templateValid[0], st.data.templateCount[0], gTemplateCount,
                                                   st.folder(0))
                         .slot;
    QVERIFY(next > 0);
    QVERIFY(QDir().mkpath(st.templatePath(0, next)));
    const AreaEditing::TemplateResult failed = m_service->addTemplate(st, 0, 0, frame.data(), false);
    QCOMPARE(int(failed.outcome), int(AreaEditing::TemplateOutcome::NotStored));
    QCOMPARE(failed.failure, textOf(AreaPanelLogic::TextTemplateNotSaved));
    QVERIFY(!st.data.templateValid[0][std::size_t(next)]);
    QCOMPARE(st.data.templateCount[0], 2);
    QCOMPARE(remarks().last(), failed.failure);
    QVERIFY(QDir().rmdir(st.templatePath(0, next)));

    // Sample 0 is never deleted; another is, with its file and one row.
    QVERIFY(!m_service->deleteTemplate(st, 0, 0, 0));
    QVERIFY(m_service->deleteTemplate(st, 0, 0, added.slot));
    QVERIFY(!QFile::exists(st.templatePath(0, added.slot)));
    QCOMPARE(st.data.templateCount[0], 1);
    QVERIFY(m_service->retrainingPending(0));
    QCOMPARE(remarks().last(), textOf(70).arg(1).arg(added.slot + 1));

    // All of them: every sample but 0 of every detect, files included.
    QVERIFY(m_service->addTemplate(st, 0, 0, frame.data(), false).outcome == AreaEditing::TemplateOutcome::Stored);
    st.data.curTemplate = 1;
    m_service->deleteAllTemplates(stations());
    for (int d = 0; d < 2; ++d) {
        QCOMPARE(st.data.templateCount[d], 1);
        for (int k = 1; k < gTemplateCount; ++k) {
            QVERIFY(!QFile::exists(st.templatePath(d, k)));
        }
    }
    QCOMPARE(st.data.curTemplate, 0);
    QCOMPARE(remarks().last(), textOf(71));
    QCOMPARE(remarks().size(), 6);
}

QTEST_MAIN(TestAreaEditing)
#include "tst_areaediting.moc"
