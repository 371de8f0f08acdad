#include "drawroiwidget.h"

#include "areaediting.h"
#include "areapanelhost.h"
#include "areapanellogic.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clustomrect.h"
#include "colorbutton.h"
#include "controlport.h"
#include "fakecamera.h"
#include "globals.h"
#include "operationlog.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "sqlitetestutil.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QCryptographicHash>
#include <QFile>
#include <QListView>
#include <QSqlDatabase>
#include <QSaveFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStyleOptionComboBox>
#include <QtTest>

#include <sys/stat.h>
#include <fcntl.h>

#include <memory>
#include <vector>

namespace {

constexpr int W = 64;
constexpr int H = 48;

// The main window as the panel sees it; calls are recorded in order.
struct FakeHost : AreaPanelHost {
    std::vector<CammerWidget*> cams;
    int cur = 0, curDet = 1, edit = 0, draw = 0, freehand = 0, copy = 0, mode = 3, level = 2;
    int pending[2] = {};
    int state[8][4] = {};
    bool ng = false, sampling = false;
    int login = 1;
    QStringList calls;

    CammerWidget* cammer(int c) override { return c >= 0 && c < int(cams.size()) ? cams[std::size_t(c)] : nullptr; }
    int curCamera() override { return cur; }
    void setCurCamera(int c) override { cur = c; }
    int curDetect() override { return curDet; }
    int editDetect() override { return edit; }
    void setEditDetect(int d) override { edit = d; }
    int drawMode() override { return draw; }
    void setDrawMode(int m) override { draw = m; }
    void setFreehandMode(int on) override { freehand = on; }
    int copyAreaMode() override { return copy; }
    void setCopyAreaMode(int on) override { copy = on; }
    int screenMode() override { return mode; }
    void setScreenModeValue(int m) override { mode = m; }
    int userLevel() override { return level; }
    int pendingCameras(int p) override { return pending[p]; }
    void setPendingCameras(int p, int m) override { pending[p] = m; }
    int resultState(int c, int d) override { return state[c][d]; }
    void setResultState(int c, int d, int s) override { state[c][d] = s; }
    bool lastCycleNg() override { return ng; }
    bool samplingReview() override { return sampling; }
    void setSamplingReview(bool on) override { sampling = on; }
    QString recordDir(int c, int d, int kind) override
    {
        return QStringLiteral("./alarmimage//camera%1//detect%2//%3").arg(c + 1).arg(d + 1).arg(kind ? "OK" : "NG");
    }
    int CheckUserLogin() override { calls << "login"; return login; }
    void ChangeCammer() override { calls << QStringLiteral("layout %1").arg(cur); }
    void SetScreenMode(int m) override { calls << QStringLiteral("screen %1").arg(m); }
    void ResetRun() override { calls << "reset"; }
    void RunAlgorithm(int c, int d) override { calls << QStringLiteral("run %1 %2").arg(c).arg(d); }
    void CheckNG(bool clear) override { calls << QStringLiteral("checkng %1").arg(clear); }
    void BackTrain() override { calls << "backtrain"; }
    void ReCheck() override { calls << "recheck"; }
    void silenceAlarm() override { calls << "silence"; }
    void hideImagePicker() override {}
    void selectPickerDetect(int) override {}
    void repaintWindow() override {}
};

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5);
}

// Answers every question with a scripted action run while the box is open.
struct AnswerWith {
    AskHandler previous;
    explicit AnswerWith(std::function<int()> action)
    {
        previous = setAskOperatorHandler([action](const QString&, int) { return action(); });
    }
    ~AnswerWith() { setAskOperatorHandler(previous); }
};

} // namespace

class TestDrawROIWidget : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void init();
    void cleanup();

    void entryShowsTemplateTools();
    void toolButtonsShowCaptionsWithinTheColumn_data();
    void toolButtonsShowCaptionsWithinTheColumn();
    void productOffFallsBackToOwnCavity_data();
    void productOffFallsBackToOwnCavity();
    void refusedLoginKeepsTheLivePicture();
    void deleteAllWaitsForTheSave();
    void confirmedSaveLogsAndCommits();
    void failedStoreKeepsTheLiveSet();
    void deleteTemplateRaceDeletesNothing();
    void browseTemplatesSkipsFreeSlots();
    void recheckLeavesHandledCamerasOut();
    void noCheckOnOkCameraAndDoorRule();
    void finalNgUnderTheTemplatePassword();
    void recordStepsShowThePicturesOnDisk();

private:
    void makeStations(int count);
    // The rows the panel's commands wrote to RECORD.db since the last mark.
    QStringList records();
    void markRecords() { m_recordMark += records().size(); }
    void addLiveRect(int camera, int detect, QRect r);

    std::unique_ptr<ProcessState> m_state;
    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<PromptAnswerer> m_prompts;
    SystemParam m_params{};
    std::vector<std::unique_ptr<FakeCamera>> m_drivers;
    std::unique_ptr<QWidget> m_tile;
    std::unique_ptr<DrawROIWidget> m_panel;
    std::unique_ptr<OperationLog> m_log;
    int m_recordMark = 0;
    FakeHost m_host;
};

void TestDrawROIWidget::init()
{
    m_state = std::make_unique<ProcessState>();
    m_dir = std::make_unique<TestWorkDir>();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(m_dir->filePath("PARAM.db"));
    QVERIFY(db.open());
    for (int c = 0; c < 8; ++c) {
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("create table cammer%1 (name text, value text)").arg(c)));
    }
    m_params.clear();
    m_params[119] = 1;
    m_params[120] = 1;
    m_params.productDetect() = 1;
    gpSystemParam = &m_params;
    gDetectCount = 2;
    gTemplateCount = 4;
    gColorMode = 0;
    gImageSource = -1;
    m_prompts = std::make_unique<PromptAnswerer>();
    m_host = FakeHost();
    m_log = std::make_unique<OperationLog>(QStringLiteral("panelRecord"));
    m_log->start();
    m_recordMark = 0;
}

void TestDrawROIWidget::cleanup()
{
    m_panel.reset();
    m_host.cams.clear();
    m_tile.reset();
    m_drivers.clear();
    m_prompts.reset();
    m_log.reset();
    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    m_dir.reset();
    m_state.reset();
}

void TestDrawROIWidget::toolButtonsShowCaptionsWithinTheColumn_data()
{
    QTest::addColumn<int>("language");
    QTest::newRow("Chinese") << 0;
    // English and Japanese have the longest captions from the text table.
    QTest::newRow("English") << 1;
    QTest::newRow("Japanese") << 3;
}

// The panel is the 100-px menu column: a caption wider than that must not widen
// it (the icons end up off the screen edge), and each caption must be drawn
// inside its button, under its icon.
void TestDrawROIWidget::toolButtonsShowCaptionsWithinTheColumn()
{
    QFETCH(int, language);
    gLanguage = language;
    gCameraCount = 2;
    DrawROIWidget panel;
    const QList<QPushButton*> buttons = panel.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 18);
    for (QWidget* w : panel.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        w->show();
    }
    panel.setGeometry(0, 0, 100, 2000);
    panel.show();
    QCoreApplication::processEvents();
    QCOMPARE(panel.width(), 100);
    for (QPushButton* b : buttons) {
        QCOMPARE(b->width(), 100);
        const QString caption = b->text();
        QVERIFY2(!caption.isEmpty(), qPrintable(b->objectName()));
        const QImage withCaption = b->grab().toImage();
        b->setText(QString());
        const QImage iconOnly = b->grab().toImage();
        b->setText(caption);
        QVERIFY2(withCaption != iconOnly, qPrintable(b->objectName() + QStringLiteral(" shows no caption")));
        // The caption lies below the icon: the top half is the same without it.
        const QRect top(0, 0, b->width(), b->height() / 2);
        QVERIFY2(withCaption.copy(top) == iconOnly.copy(top), qPrintable(b->objectName()));
    }
    // The item a combo box shows fits in the box's text field beside its
    // arrow, as large as it can up to the list's own size.
    for (ComboBox* box : {panel.pComboChangeSource, panel.pComboChangeCamera, panel.pComboChangeDetect}) {
        QCOMPARE(box->width(), 100);
        for (int i = 0; i < box->count(); ++i) {
            box->setCurrentIndex(i);
            QStyleOptionComboBox option;
            option.initFrom(box);
            option.editable = box->isEditable();
            option.currentText = box->currentText();
            const QRect field =
                box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
            QVERIFY2(field.right() < box->width() - 10, "the text field reaches under the arrow");
            QVERIFY2(box->fontMetrics().horizontalAdvance(box->currentText()) <= field.width(),
                     qPrintable(box->currentText()));
            QVERIFY(box->font().pointSize() <= 16);
        }
        QCOMPARE(box->listView->font().pointSize(), 16);
    }
    panel.pComboChangeSource->setCurrentIndex(0);
    QCOMPARE(panel.pComboChangeSource->font().pointSize(), 16);

    // Whole captions, those the template source puts on the browse buttons too.
    const auto wholeCaption = [](QPushButton* b) {
        return QFontMetrics(b->font(), b).horizontalAdvance(b->text()) <= 100;
    };
    for (QPushButton* b : buttons) {
        QVERIFY2(wholeCaption(b), qPrintable(b->text()));
    }
    makeStations(1);
    m_panel->EnterAreaMode();
    QCOMPARE(m_panel->pCButtonTempLast->text(), textOf(559));
    QVERIFY2(wholeCaption(m_panel->pCButtonTempLast), qPrintable(textOf(559)));
    QVERIFY2(wholeCaption(m_panel->pCButtonTempNext), qPrintable(textOf(560)));
}

void TestDrawROIWidget::makeStations(int count)
{
    gCameraCount = count;
    m_tile = std::make_unique<QWidget>();
    for (int c = 0; c < count; ++c) {
        m_drivers.push_back(std::make_unique<FakeCamera>(W, H));
        m_drivers.back()->open();
        m_host.cams.push_back(new CammerWidget(m_tile.get(), c, m_drivers.back().get()));
    }
    m_panel = std::make_unique<DrawROIWidget>(m_tile.get());
    m_panel->setHost(&m_host);
    m_panel->setAreaEditing(std::make_unique<AreaEditing>(m_log.get(), [this] { return m_host.level; }));
}

QStringList TestDrawROIWidget::records()
{
    // The first row is the one of a new file.
    QStringList rows;
    const QList<QStringList> all = sqliteRows(m_dir->filePath("RECORD.db"), "SELECT remarks FROM RECORD ORDER BY rowid");
    for (int i = 1 + m_recordMark; i < all.size(); ++i) {
        rows << all[i].value(0);
    }
    return rows;
}

void TestDrawROIWidget::addLiveRect(int camera, int detect, QRect r)
{
    CameraStation& st = m_host.cams[std::size_t(camera)]->station();
    CammerSingleton& set = *st.pLiveSingleton;
    auto* shape = new ClustomRect(r.left(), r.top(), r.right(), r.bottom());
    shape->updateBounds();
    const int n = set.roiCount[detect]++;
    const int slot = detect * 50 + n;
    set.roiLists[detect].append(shape);
    set.roiShapeType[slot] = shape->type();
    set.roiFunction[slot] = FuncDefect;
    set.roiParam[slot] = 3;
    set.roiLower[slot] = 25;
    set.roiUpper[slot] = 100;
    st.data.roiMasks[slot] = shape->createMask();
}

void TestDrawROIWidget::entryShowsTemplateTools()
{
    makeStations(1);
    m_host.curDet = 1;
    m_panel->EnterAreaMode();
    QCOMPARE(gImageSource, 0);
    QCOMPARE(m_host.edit, 1);
    QCOMPARE(m_panel->pComboChangeCamera->count(), 1); // no "all cameras" with one camera
    QVERIFY(m_panel->pComboChangeCamera->isHidden());
    QVERIFY(!m_panel->pCButtonEditArea->isHidden());
    QVERIFY(m_panel->pCButtonDrawRect->isHidden());
    QCOMPARE(m_panel->pCButtonTempLast->text(), textOf(559));
    QVERIFY(!m_panel->pCButtonHelp->isHidden());
    QTest::mouseClick(m_panel->pCButtonEditArea, Qt::LeftButton);
    QCOMPARE(m_panel->editingAreas, 1);
    QVERIFY(!m_panel->pCButtonDrawRect->isHidden());
    QVERIFY(m_panel->pCButtonEditArea->isHidden());
    // The help stays one touch away with the drawing tools.
    QVERIFY(!m_panel->pCButtonHelp->isHidden());
    QSignalSpy help(m_panel.get(), &DrawROIWidget::helpRequested);
    QTest::mouseClick(m_panel->pCButtonHelp, Qt::LeftButton);
    QCOMPARE(help.count(), 1);

    // Polygon: the button ends it; fewer than three points keep it open.
    QTest::mouseClick(m_panel->pCButtonDrawPloygn, Qt::LeftButton);
    QCOMPARE(m_host.draw, 2);
    QCOMPARE(m_panel->pCButtonDrawPloygn->text(), textOf(33));
    QTest::mouseClick(m_panel->pCButtonDrawPloygn, Qt::LeftButton);
    QCOMPARE(m_panel->pCButtonDrawPloygn->text(), textOf(33));

    // Inert with another source.
    m_panel->SetSourceIndex(1);
    m_host.draw = 0;
    m_panel->SlotDrawRect();
    QCOMPARE(m_host.draw, 0);
    QVERIFY(m_prompts->warnings.isEmpty());
}

void TestDrawROIWidget::productOffFallsBackToOwnCavity_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("expected");
    QTest::newRow("standard") << 0 << 0 << 1;
    QTest::newRow("two-colour right product") << 1 << 2 << 3;
    QTest::newRow("rotary left product") << 2 << 0 << 1;
}

void TestDrawROIWidget::productOffFallsBackToOwnCavity()
{
    QFETCH(int, type);
    QFETCH(int, chosen);
    QFETCH(int, expected);
    m_params.systemFunction() = type;
    m_params.productDetect() = 0;
    m_params[119] = 0;
    gDetectCount = type == 0 ? 2 : 4;
    makeStations(1);
    m_host.curDet = 1;
    m_panel->EnterAreaMode();
    m_prompts->warnings.clear();
    m_panel->pComboChangeDetect->setCurrentIndex(chosen);
    QCOMPARE(m_prompts->warnings, QStringList{textOf(118)});
    QCOMPARE(m_host.edit, expected);
    QCOMPARE(m_panel->pComboChangeDetect->currentIndex(), expected);
}

void TestDrawROIWidget::refusedLoginKeepsTheLivePicture()
{
    makeStations(1);
    m_host.mode = 2;
    m_host.login = 0;
    m_panel->EnterAreaMode();
    QCOMPARE(gImageSource, 1);
    m_host.calls.clear();
    m_panel->pComboChangeSource->setCurrentIndex(0);
    QCOMPARE(gImageSource, 1);
    QCOMPARE(m_panel->pComboChangeSource->currentIndex(), 1);
    QCOMPARE(m_host.calls, QStringList{"login"}); // the alarm output stays as it is

    m_host.login = 1;
    m_panel->SlotAutoChange();
    QCOMPARE(gImageSource, 0);
    QVERIFY(m_host.calls.contains("silence"));
}

void TestDrawROIWidget::deleteAllWaitsForTheSave()
{
    makeStations(1);
    addLiveRect(0, 0, QRect(10, 10, 20, 20));
    CameraStation& st = m_host.cams[0]->station();
    st.data.ignoreMasks[0].assign(std::size_t(W * H), 0);
    st.data.ignoreMasks[0][W * 12 + 12] = 255;
    QVERIFY(st.SaveIgnoreMask(0));
    const QByteArray ignoreFile = fileHash(st.ignorePath(0));
    m_host.curDet = 0;
    m_panel->EnterAreaMode();
    QCOMPARE(m_host.edit, 0);

    // Cancelled: nothing changes.
    delete m_prompts.release();
    m_prompts = std::make_unique<PromptAnswerer>(QList<int>{0});
    m_panel->SlotDeleteAllROI();
    QCOMPARE(st.pEditSingleton->roiCount[0], 1);

    // Confirmed, then the save declined: the areas and the ignored pixels come back.
    delete m_prompts.release();
    m_prompts = std::make_unique<PromptAnswerer>(QList<int>{1, 0});
    m_panel->SlotDeleteAllROI();
    QCOMPARE(st.pEditSingleton->roiCount[0], 0);
    QCOMPARE(fileHash(st.ignorePath(0)), ignoreFile);
    m_panel->SlotReturn();
    QCOMPARE(m_prompts->questions, (QStringList{textOf(67), textOf(AreaPanelLogic::TextSaveQuestion)}));
    QCOMPARE(st.pLiveSingleton->roiCount[0], 1);
    QCOMPARE(int(st.data.ignoreMasks[0][W * 12 + 12]), 255);
    QCOMPARE(fileHash(st.ignorePath(0)), ignoreFile);
    QVERIFY(records().isEmpty());
    QCOMPARE(gImageSource, -1);
    QCOMPARE(m_host.mode, 0);
    m_panel->EnterAreaMode();
    QCOMPARE(st.pEditSingleton->roiCount[0], 1);
}

void TestDrawROIWidget::confirmedSaveLogsAndCommits()
{
    makeStations(1);
    addLiveRect(0, 0, QRect(10, 10, 20, 20));
    CameraStation& st = m_host.cams[0]->station();
    st.data.ignoreMasks[0].assign(std::size_t(W * H), 255);
    QVERIFY(st.SaveIgnoreMask(0));
    m_host.curDet = 0;
    m_host.sampling = true;
    m_panel->EnterAreaMode();
    m_panel->SlotDeleteAllROI();
    m_panel->SlotReturn();
    QCOMPARE(st.pLiveSingleton->roiCount[0], 0);
    QCOMPARE(records().size(), 1);
    QVERIFY(records()[0].startsWith(textOf(73).arg(1).arg(textOf(263)) + textOf(81).left(3)));
    QCOMPARE(int(st.data.ignoreMasks[0][100]), 0);
    QImage file(st.ignorePath(0));
    QCOMPARE(qGray(file.pixel(3, 3)), 0);
    QVERIFY(m_host.calls.contains("backtrain"));
    QVERIFY(!m_host.sampling);

    // No difference: no question, no row.
    m_prompts->questions.clear();
    markRecords();
    m_panel->EnterAreaMode();
    m_panel->SlotReturn();
    QVERIFY(m_prompts->questions.isEmpty());
    QVERIFY(records().isEmpty());
}

void TestDrawROIWidget::failedStoreKeepsTheLiveSet()
{
    makeStations(1);
    addLiveRect(0, 0, QRect(10, 10, 20, 20));
    CameraStation& st = m_host.cams[0]->station();
    m_host.curDet = 0;
    m_panel->EnterAreaMode();
    m_panel->SlotDeleteAllROI();
    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    m_panel->SlotReturn();
    QCOMPARE(st.pLiveSingleton->roiCount[0], 1);
    QCOMPARE(st.pEditSingleton->roiCount[0], 0);
    QVERIFY(!st.data.roiMasks[0].empty());
    QCOMPARE(records(), QStringList{textOf(AreaPanelLogic::TextAreasNotSaved).arg(1)});
    QCOMPARE(m_prompts->warnings, QStringList{textOf(1)});
}

void TestDrawROIWidget::deleteTemplateRaceDeletesNothing()
{
    makeStations(1);
    CameraStation& st = m_host.cams[0]->station();
    std::vector<uchar> frame(std::size_t(W * H), 7);
    QVERIFY(st.StoreTemplate(0, 0, frame.data()));
    QVERIFY(st.StoreTemplate(0, 2, frame.data()));
    m_host.curDet = 0;
    m_panel->EnterAreaMode();
    m_panel->SlotTempNext();
    QCOMPARE(st.data.curTemplate, 2);

    {
        // A final NG re-enters area mode under the question: sample 0 must survive.
        AnswerWith race([this] {
            m_panel->EnterAreaMode();
            return 1;
        });
        m_panel->SlotTempDeleteCur();
    }
    QVERIFY(QFile::exists(st.templatePath(0, 0)));
    QVERIFY(QFile::exists(st.templatePath(0, 2)));
    QVERIFY(records().isEmpty());

    m_panel->SlotTempNext();
    m_panel->SlotTempDeleteCur();
    QVERIFY(!QFile::exists(st.templatePath(0, 2)));
    QCOMPARE(records(), QStringList{textOf(70).arg(1).arg(3)});
    QCOMPARE(st.data.curTemplate, 0);

    // Sample 0 is kept.
    m_panel->SlotTempDeleteCur();
    QCOMPARE(m_prompts->warnings, QStringList{textOf(68)});
}

void TestDrawROIWidget::browseTemplatesSkipsFreeSlots()
{
    makeStations(1);
    CameraStation& st = m_host.cams[0]->station();
    std::vector<uchar> frame(std::size_t(W * H), 9);
    QVERIFY(st.StoreTemplate(1, 0, frame.data()));
    m_host.curDet = 1;
    m_panel->EnterAreaMode();
    m_panel->SlotTempNext();
    QCOMPARE(st.data.curTemplate, 0);
    m_panel->SlotTempLast();
    QCOMPARE(st.data.curTemplate, 0);
    QVERIFY(st.StoreTemplate(1, 3, frame.data()));
    m_panel->SlotTempLast();
    QCOMPARE(st.data.curTemplate, 3);
    m_panel->SlotTempNext();
    QCOMPARE(st.data.curTemplate, 0);
    // A picker row naming a free slot only repaints.
    m_panel->SlotTempList(2);
    QCOMPARE(st.data.curTemplate, 0);
}

void TestDrawROIWidget::recheckLeavesHandledCamerasOut()
{
    makeStations(3);
    m_host.mode = 2;
    m_host.curDet = 1;
    m_host.cur = 0;
    m_panel->EnterAreaMode();
    m_host.cams[0]->station().operatorHandled[1] = true;
    m_host.cams[1]->station().data.resultOk = 1;
    m_host.cams[2]->station().data.resultOk = 0;
    m_host.state[2][1] = 3;
    m_host.calls.clear();
    m_panel->SlotReCheck();
    // The cycle's re-check does the inspecting (its own tests say which
    // cameras); the panel then shows the first NG camera from the shown one.
    QCOMPARE(m_host.calls, (QStringList{"recheck", "layout 2"}));
    QCOMPARE(m_host.cur, 2);

    // Begun while another command waits on its box: nothing happens.
    m_host.calls.clear();
    {
        AnswerWith nested([this] {
            m_panel->SlotReCheck();
            return 0;
        });
        m_host.cur = 3; // all cameras
        m_panel->SlotNoCheckCur();
    }
    QCOMPARE(m_host.calls, QStringList{"login"});
}

void TestDrawROIWidget::noCheckOnOkCameraAndDoorRule()
{
    makeStations(2);
    m_host.mode = 2;
    m_host.curDet = 1;
    m_panel->EnterAreaMode();
    m_host.cur = 0;
    m_host.ng = true;
    m_host.cams[0]->station().data.resultOk = 1;
    m_panel->SlotNoCheckCur();
    QCOMPARE(m_prompts->warnings, QStringList{textOf(107)});

    m_params[164] = 1;
    gDoorClearedAlarm = 0;
    m_panel->SlotNoCheckCur();
    QCOMPARE(m_prompts->warnings.last(), textOf(195));

    gDoorClearedAlarm = 1;
    m_host.cur = 1;
    m_host.cams[1]->station().data.resultOk = 0;
    m_host.state[1][1] = 3;
    m_panel->SlotNoCheckCur();
    QVERIFY(m_host.cams[1]->station().operatorHandled[1]);
    QCOMPARE(m_host.state[1][1], 4); // the re-check that follows leaves the handled camera out
    QCOMPARE(records(), QStringList{textOf(106).arg(2)});
    QVERIFY(m_host.calls.contains("recheck"));
}

// Area setting goes on while the machine runs. A final NG under the password
// box of "add as template" (begun on a recent picture) turns the panel into
// the alarm review on the live picture of the one camera: the command must
// end there, not take the NG frame as a sample and re-check the camera away.
void TestDrawROIWidget::finalNgUnderTheTemplatePassword()
{
    m_params[162] = 1;
    makeStations(1);
    CameraStation& st = m_host.cams[0]->station();
    std::vector<uchar> frame(std::size_t(W * H), 5);
    QVERIFY(st.StoreTemplate(1, 0, frame.data()));
    st.data.lastImage = frame;
    m_host.curDet = 1;
    m_panel->EnterAreaMode();
    m_panel->SetSourceIndex(2);
    int boxes = 0;
    const PasswordEntryHandler previous = setPasswordEntryHandler([&](QString& entry) {
        ++boxes;
        st.data.resultOk = 0;
        m_host.state[0][1] = 3;
        m_host.ng = true;
        m_host.mode = 2;
        m_panel->EnterAreaMode();
        entry = QStringLiteral("5826");
        return true;
    });
    m_host.calls.clear();
    m_panel->SlotAddTemp();
    setPasswordEntryHandler(previous);
    QCOMPARE(boxes, 1);
    QCOMPARE(gImageSource, 1);
    QCOMPARE(st.data.templateCount[1], 1);
    QVERIFY(!QFile::exists(st.templatePath(1, 1)));
    QVERIFY(!st.operatorHandled[1]);
    QCOMPARE(m_host.state[0][1], 3);
    QVERIFY(records().isEmpty());
    QVERIFY(!m_host.calls.contains("reset"));
}

QTEST_MAIN(TestDrawROIWidget)
#include "tst_drawroiwidget.moc"

namespace {

QImage recordPicture(int shade)
{
    QImage picture(W, H, QImage::Format_Grayscale8);
    picture.fill(shade);
    for (int x = 0; x < W; x += 4) {
        picture.setPixel(x, (shade + x) % H, qRgb(255 - shade, 255 - shade, 255 - shade));
    }
    return picture;
}

// As the picture writer leaves a picture: written whole under its name, then
// dated to its moment.
bool writeRecord(const QString& path, const QImage& picture, qint64 seconds)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "JPG") || !file.commit()) {
        return false;
    }
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(seconds);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

} // namespace

// Next and previous through the NG records, wrapping both ways, with the
// pictures next to the shown one decoded ahead: every step shows what
// decoding its file alone shows, under the same index and title, also when
// the picture about to be shown is rewritten on disk (same name, same time)
// after it was read ahead, or removed.
void TestDrawROIWidget::recordStepsShowThePicturesOnDisk()
{
    makeStations(1);
    m_panel->EnterAreaMode();
    const QString folder = m_host.recordDir(0, m_host.edit, 0);
    QVERIFY(QDir().mkpath(folder));
    constexpr int count = 5;
    const qint64 base = 1'790'000'000;
    QStringList newestFirst;
    for (int i = count - 1; i >= 0; --i) {
        newestFirst << QStringLiteral("2026-11-02_06.00.%1").arg(i, 2, 10, QLatin1Char('0'));
        QVERIFY(writeRecord(folder + QLatin1Char('/') + newestFirst.back() + QStringLiteral(".jpg"),
                            recordPicture(20 + 40 * i), base + i));
    }
    QSignalSpy titles(m_panel.get(), &DrawROIWidget::recentNgImg);
    m_panel->SetSourceIndex(4);

    int expected = 0;
    const auto check = [&](const char* what) {
        const QString path = folder + QLatin1Char('/') + newestFirst[expected] + QStringLiteral(".jpg");
        const QByteArray where = QByteArray(what) + " at " + newestFirst[expected].toUtf8();
        QVERIFY2(m_panel->recordIndex == expected, where.constData());
        QVERIFY2(m_panel->recordName == newestFirst[expected], where.constData());
        QVERIFY2(m_panel->recordImage == QImage(path), where.constData());
        QVERIFY2(!titles.isEmpty(), where.constData());
        QVERIFY2(titles.last().at(0).toString()
                     == QString::fromUtf8("NG记录共%1张图片 当前为第%2张 %3")
                            .arg(count)
                            .arg(expected + 1)
                            .arg(newestFirst[expected]),
                 where.constData());
    };
    check("first");
    if (QTest::currentTestFailed()) {
        return;
    }
    const int moves[] = {1, 1, 1, 1, 1, 1, -1, -1, -1, -1, 1};
    int rewritten = 0;
    for (int move : moves) {
        const int next = (expected + move + count) % count;
        if (rewritten < 2 && (move == 1 ? next == 2 : next == 4)) {
            // Give the read-ahead time to decode the old content first.
            QTest::qWait(50);
            const QString path = folder + QLatin1Char('/') + newestFirst[next] + QStringLiteral(".jpg");
            QVERIFY(writeRecord(path, recordPicture(rewritten ? 5 : 250), base + (count - 1 - next)));
            ++rewritten;
        }
        (move == 1 ? m_panel->pCButtonTempNext : m_panel->pCButtonTempLast)->click();
        expected = next;
        check(move == 1 ? "next" : "previous");
        if (QTest::currentTestFailed()) {
            return;
        }
    }
    QCOMPARE(rewritten, 2);

    // The next picture goes after it was read ahead: the folder's listing
    // changes and the step lands on what is there now.
    QTest::qWait(50);
    QVERIFY(QFile::remove(folder + QLatin1Char('/') + newestFirst[expected + 1] + QStringLiteral(".jpg")));
    newestFirst.removeAt(expected + 1);
    m_panel->pCButtonTempNext->click();
    QCOMPARE(m_panel->recordCount, count - 1);
    QCOMPARE(m_panel->recordName, newestFirst[m_panel->recordIndex]);
    QCOMPARE(m_panel->recordImage, QImage(folder + QLatin1Char('/') + m_panel->recordName + QStringLiteral(".jpg")));
}
