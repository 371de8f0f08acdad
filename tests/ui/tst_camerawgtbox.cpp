#include "camerawgtbox.h"

#include "dottomdockwidget.h"
#include "menubtnwidget.h"

#include "cameraregistry.h"
#include "camerareportform.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "fakecamera.h"
#include "globals.h"
#include "mainscreenhost.h"
#include "operatingstate.h"
#include "multiplebtngroup.h"
#include "productioncounters.h"
#include "promptanswerer.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "settle.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTableView>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Counts style-sheet changes of one widget.
class SheetCounter : public QObject {
public:
    explicit SheetCounter(QWidget* w) { w->installEventFilter(this); }
    int changes = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::StyleChange) {
            ++changes;
        }
        return false;
    }
};

// Where a widget lies in the window.
QRect rectIn(const QWidget* w, const QWidget* window)
{
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// Every widget (below the window) that asks more than the given share of the
// screen: what pushed a window off its screen.
QString demanding(const QWidget* window, QSize screen)
{
    QString out;
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window)) {
            continue;
        }
        // As a layout takes it: a least size set by hand overrides the hint.
        QSize least = w->minimumSizeHint();
        if (w->minimumWidth() > 0) {
            least.setWidth(w->minimumWidth());
        }
        if (w->minimumHeight() > 0) {
            least.setHeight(w->minimumHeight());
        }
        if (least.width() > screen.width() / 4 || least.height() > screen.height() / 3) {
            out += QStringLiteral(" %1(%2)=%3x%4").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName())
                       .arg(least.width()).arg(least.height());
        }
    }
    return out;
}

// What of the main screen is off the screen or not whole; empty when it all fits.
QString offScreen(QWidget* window, QSize screen)
{
    QStringList faults;
    const QSize least = window->layout()->minimumSize();
    if (least.width() > screen.width() || least.height() > screen.height()) {
        faults << QStringLiteral("asks %1x%2:%3").arg(least.width()).arg(least.height()).arg(demanding(window, screen));
    }
    const QRect whole(QPoint(0, 0), screen);
    auto mustFit = [&](const QWidget* w, QSize size) {
        const QRect r = rectIn(w, window);
        if (!whole.contains(r) || (size.isValid() && r.size() != size)) {
            faults << QStringLiteral("%1 at %2,%3 %4x%5").arg(w->objectName()).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
        }
    };
    auto* menu = window->findChild<MenuBtnWidget*>();
    mustFit(menu, QSize(100, screen.height() - (window->findChild<DottomDockWidget*>()->isVisible() ? 80 : 0)));
    // The menu's buttons are whole and in their column, one under the other.
    int below = 0;
    for (QPushButton* b : menu->mainMenu()->findChildren<QPushButton*>()) {
        if (b->isVisible()) {
            mustFit(b, QSize());
            const QRect r = rectIn(b, window);
            if (r.top() < below || r.height() < 40) {
                faults << QStringLiteral("%1 overlaps or is too low: %2..%3").arg(b->objectName()).arg(r.top()).arg(r.bottom());
            }
            below = r.bottom() + 1;
        }
    }
    for (const char* name : {"_btn_repick", "_btn_startstop"}) {
        auto* b = window->findChild<QPushButton*>(QLatin1String(name));
        if (b->isVisible()) {
            mustFit(b, QSize(200, 80));
        }
    }
    for (CameraWgt_DataWidget* tile : window->findChildren<CameraWgt_DataWidget*>()) {
        if (tile->isVisible()) {
            mustFit(tile, QSize());
        }
    }
    // Counters and status line are whole or end in "…" within their label,
    // as the label lays its text out: never cut at the label's edge.
    for (QLabel* label : window->findChildren<QLabel*>()) {
        const QString name = label->objectName();
        if (!label->isVisible() || (name != QLatin1String("_lab_detectreport") && name != QLatin1String("_lab_runstatus"))) {
            continue;
        }
        QTextDocument doc;
        doc.setDocumentMargin(0);
        doc.setDefaultFont(label->font());
        // A trailing blank takes no room that shows.
        doc.setHtml(label->text().trimmed());
        const QString plain = doc.toPlainText();
        if (doc.idealWidth() > label->contentsRect().width() && plain.trimmed() != QString(QChar(0x2026))) {
            faults << QStringLiteral("%1 \"%2\" is %3 px in %4").arg(name, plain).arg(doc.idealWidth()).arg(label->contentsRect().width());
        }
        const CameraWgt_DataWidget_Title* title = qobject_cast<CameraWgt_DataWidget_Title*>(label->parentWidget());
        const int camera = title->camera();
        QString full;
        if (name == QLatin1String("_lab_runstatus")) {
            doc.setHtml(titleStatusText(camera));
            full = doc.toPlainText();
        } else {
            // The frame rate is the camera's own and moves on while the test runs.
            full = QRegularExpression(QStringLiteral("^帧率 \\d+ NG数 %1 总数 %2$").arg(gNgCount[camera]).arg(gTotalCount[camera]))
                       .match(plain.trimmed())
                       .hasMatch()
                ? plain.trimmed()
                : QString();
        }
        if (plain.trimmed() != full && !plain.trimmed().endsWith(QChar(0x2026))) {
            faults << QStringLiteral("%1 \"%2\" is cut without an ellipsis").arg(name, plain);
        }
    }
    return faults.join(QStringLiteral("; "));
}

} // namespace

class TestCameraWgtBox : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void gridRowsAndModes_data();
    void gridRowsAndModes();
    void accessorsAndTapToSingleView();
    void screenModesHideTableAndToggle();
    void statusLine_data();
    void statusLine();
    void reportAndResultLabel();
    void selectorAndCameraLabel();
    void reportFormModel();
    void templateTimeText();
    void mainScreenFitsTheScreen_data();
    void mainScreenFitsTheScreen();

private:
    std::unique_ptr<CameraWgtBox> makeGrid(int cameras, QSize size = QSize(1800, 900));

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<PromptAnswerer> m_prompts;
    SystemParam m_live{};
    SystemParam* m_oldLive = nullptr;
    int m_oldCameras = 0;
    int m_oldDetects = 0;
    std::vector<std::unique_ptr<FakeCamera>> m_drivers;
    MainScreenState m_state;
    std::unique_ptr<OperatingState> m_op;
};

void TestCameraWgtBox::init()
{
    m_dir = std::make_unique<TestWorkDir>();
    m_prompts = std::make_unique<PromptAnswerer>();
    m_live = SystemParam{};
    m_oldLive = gpSystemParam;
    m_oldCameras = gCameraCount;
    m_oldDetects = gDetectCount;
    gpSystemParam = &m_live;
    gDetectCount = 2;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(m_dir->filePath("PARAM.db"));
    QVERIFY(db.open());
    for (int i = 0; i < 8; ++i) {
        QSqlQuery(db).exec(QStringLiteral("create table cammer%1 (name text, value text)").arg(i));
    }
    m_state = MainScreenState();
    setMainScreenHost(&m_state);
    m_op = std::make_unique<OperatingState>();
    setOperatingState(m_op.get());
}

void TestCameraWgtBox::cleanup()
{
    clearMainScreenHost(&m_state);
    clearOperatingState(m_op.get());
    m_op.reset();
    m_drivers.clear();
    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    gpSystemParam = m_oldLive;
    gCameraCount = m_oldCameras;
    gDetectCount = m_oldDetects;
    m_prompts.reset();
    m_dir.reset();
}

std::unique_ptr<CameraWgtBox> TestCameraWgtBox::makeGrid(int cameras, QSize size)
{
    gCameraCount = cameras;
    QList<CameraInterface*> list;
    m_drivers.clear();
    for (int i = 0; i < cameras; ++i) {
        m_drivers.push_back(std::make_unique<FakeCamera>(64, 48));
        m_drivers.back()->open();
        list << m_drivers.back().get();
    }
    auto grid = std::make_unique<CameraWgtBox>(list);
    grid->resize(size);
    grid->show();
    return grid;
}

void TestCameraWgtBox::gridRowsAndModes_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<int>("mode");
    QTest::newRow("1") << 1 << QList<int>{1} << 1;
    QTest::newRow("2") << 2 << QList<int>{2} << 0;
    QTest::newRow("3") << 3 << QList<int>{3} << 0;
    QTest::newRow("4") << 4 << QList<int>{2, 2} << 1;
    QTest::newRow("5") << 5 << QList<int>{2, 2, 1} << 1;
    QTest::newRow("6") << 6 << QList<int>{2, 2, 2} << 1;
    QTest::newRow("7") << 7 << QList<int>{3, 3, 1} << 1;
    QTest::newRow("8") << 8 << QList<int>{3, 3, 2} << 1;
}

void TestCameraWgtBox::gridRowsAndModes()
{
    QFETCH(int, cameras);
    QFETCH(QList<int>, rows);
    QFETCH(int, mode);
    auto grid = makeGrid(cameras);
    QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    QSplitter* outer = grid->outerSplitter();
    QCOMPARE(outer->handleWidth(), 0);
    QList<int> got;
    int tile = 0;
    for (int r = 0; r < outer->count(); ++r) {
        auto* row = qobject_cast<QSplitter*>(outer->widget(r));
        QVERIFY(row);
        QCOMPARE(row->handleWidth(), 0);
        got << row->count();
        for (int t = 0; t < row->count(); ++t, ++tile) {
            // Camera order and one width per tile of a row; a short row's tile is full width.
            QCOMPARE(row->widget(t), grid->dataWidget(tile));
            QVERIFY(qAbs(row->widget(t)->width() - grid->width() / row->count()) <= 1);
        }
    }
    QCOMPARE(got, rows);
    // All cameras shown, with the titles' texts in, every grid still fits
    // beside the menu column of the panel's 1920 px.
    grid->slotChangeCameraLayout(-1);
    for (CameraWgt_DataWidget* t : grid->tiles()) {
        t->currentTitle()->updateTitle();
    }
    QApplication::processEvents();
    QVERIFY2(grid->minimumSizeHint().width() <= 1820, qPrintable(QString::number(grid->minimumSizeHint().width())));
    const int rowHeight = outer->widget(0)->height();
    for (int r = 1; r < outer->count(); ++r) {
        QVERIFY(qAbs(outer->widget(r)->height() - rowHeight) <= 1);
    }
    for (CameraWgt_DataWidget* t : grid->tiles()) {
        QCOMPARE(t->layoutMode(), mode);
        QCOMPARE(t->reportForm()->objectName(), QStringLiteral("CameraReportForm"));
        // Table under the view (mode 0) or beside it (mode 1).
        if (mode == 0) {
            QVERIFY(t->reportForm()->geometry().top() >= t->cammerWidget()->geometry().bottom());
        } else {
            QVERIFY(t->reportForm()->geometry().left() >= t->cammerWidget()->geometry().right());
        }
    }
}

void TestCameraWgtBox::accessorsAndTapToSingleView()
{
    auto grid = makeGrid(3);
    QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    QVERIFY(!grid->cammerWidget(-1));
    QVERIFY(!grid->cammerWidget(3));
    QVERIFY(!grid->dataWidget(3));
    QCOMPARE(grid->cammerWidget(2), grid->dataWidget(2)->cammerWidget());

    grid->slotChangeCameraLayout(-1);
    QCOMPARE(m_op->shownCamera(), gCameraCount);
    // A tap on a view of the all-cameras view shows that camera alone.
    emit grid->cammerWidget(1)->click(1);
    QCOMPARE(m_op->shownCamera(), 1);
    for (CameraWgt_DataWidget* t : grid->tiles()) {
        QCOMPARE(t->isVisible(), t->camera() == 1);
    }
    auto* selector = grid->dataWidget(1)->currentTitle()->findChild<MultipleBtnGroup*>(QStringLiteral("_pBtnGroup"));
    QVERIFY(selector->isVisible());
    QVERIFY(!grid->dataWidget(1)->currentTitle()->findChild<QLabel*>(QStringLiteral("cameraLabel"))->isVisible());
    // The selector's all-cameras button goes back to all.
    emit selector->buttonClicked(-1);
    QCOMPARE(m_op->shownCamera(), gCameraCount);
    for (CameraWgt_DataWidget* t : grid->tiles()) {
        QVERIFY(t->isVisible());
        QVERIFY(t->currentTitle()->findChild<QLabel*>(QStringLiteral("cameraLabel"))->isVisible());
        QVERIFY(!t->currentTitle()->findChild<MultipleBtnGroup*>(QStringLiteral("_pBtnGroup"))->isVisible());
    }
}

void TestCameraWgtBox::screenModesHideTableAndToggle()
{
    auto grid = makeGrid(2);
    QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    CameraWgt_DataWidget* tile = grid->dataWidget(0);
    auto* hide = tile->findChild<QPushButton*>(QStringLiteral("btn_hide"));
    QTRY_VERIFY_WITH_TIMEOUT(hide->isVisible(), kSettleMs);
    QCOMPARE(hide->size(), QSize(40, 80));
    QTest::mouseClick(hide, Qt::LeftButton);
    QVERIFY(!tile->reportForm()->isVisible());
    for (int mode : {2, 3}) {
        m_op->setScreenMode(ScreenMode(mode));
        tile->setScreenMode(mode);
        tile->repaint();
        QCOMPARE(tile->titleStack()->currentIndex(), 1);
        QVERIFY(!tile->reportForm()->isVisible());
        QVERIFY(!hide->isVisible());
    }
    m_op->setScreenMode(Live);
    tile->setScreenMode(0);
    tile->repaint();
    QCOMPARE(tile->titleStack()->currentIndex(), 0);
    QVERIFY(tile->reportForm()->isVisible());
    QVERIFY(hide->isVisible());
}

void TestCameraWgtBox::statusLine_data()
{
    QTest::addColumn<int>("run");
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("detect");
    QTest::addColumn<double>("delay");
    QTest::addColumn<QString>("expected");
    auto line = [](const char* colour, const char* text) {
        return QStringLiteral("<font style='color:%1;'>%2</font>").arg(QLatin1String(colour), QString::fromUtf8(text));
    };
    QTest::newRow("sampling") << 2 << 1 << 0 << 0 << 0.0 << line("cyan", "2号相机 成品 取样中");
    QTest::newRow("stopped") << 3 << 1 << 0 << 1 << 0.0 << line("#FF0000", "2号相机 模腔 停止中");
    QTest::newRow("detecting 0.02") << 1 << 1 << 0 << 1 << 0.02 << line("#00FF00", "2号相机 模腔 检测中");
    QTest::newRow("detected 0.021") << 1 << 2 << 0 << 1 << 0.021 << line("#00FF00", "2号相机 模腔 检测完 0.021");
    QTest::newRow("waiting 0.7") << 1 << 3 << 1 << 3 << 0.7 << line("#00FF00", "2号相机 右模腔 等待中 0.7");
    QTest::newRow("rotary 1.5") << 0 << 1 << 2 << 2 << 1.5 << line("#00FF00", "2号相机 右成品 检测中 1.5");
    QTest::newRow("standard detect 2") << 0 << 0 << 0 << 2 << 0.0 << line("#00FF00", "2号相机  ");
    QTest::newRow("rounded") << 0 << 1 << 0 << 0 << 1.23456 << line("#00FF00", "2号相机 成品 检测中 1.23");
}

void TestCameraWgtBox::statusLine()
{
    QFETCH(int, run);
    QFETCH(int, phase);
    QFETCH(int, function);
    QFETCH(int, detect);
    QFETCH(double, delay);
    QFETCH(QString, expected);
    m_op->setRunState(RunState(run));
    m_op->setCyclePhase(CyclePhase(phase));
    m_state.detect = detect;
    m_live.systemFunction() = function;
    // The first running delay counts; a stopped one before it is skipped.
    m_state.delayRunning[0] = false;
    m_state.delayLeft[0] = 9.0;
    m_state.delayRunning[1] = delay > 0;
    m_state.delayLeft[1] = delay;
    QCOMPARE(titleStatusText(1), expected);
}

void TestCameraWgtBox::reportAndResultLabel()
{
    auto grid = makeGrid(2);
    QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    CameraWgt_DataWidget* tile = grid->dataWidget(1);
    CameraWgt_DataWidget_Title* title = tile->currentTitle();
    auto* result = title->findChild<QLabel*>(QStringLiteral("_lab_result"));
    auto* report = title->findChild<QLabel*>(QStringLiteral("_lab_detectreport"));
    QCOMPARE(result->text(), QString());
    SheetCounter sheets(result);

    // NG before the first pass shows NG at once, not the empty green face.
    tile->cammerWidget()->station().data.resultOk = 0;
    tile->cammerWidget()->station().frameCount = 12;
    gNgCount[1] = 3;
    gTotalCount[1] = 40;
    title->updateTitle();
    QCOMPARE(result->text(), QStringLiteral("NG"));
    QVERIFY(result->styleSheet().contains("#D73B30"));
    QCOMPARE(sheets.changes, 1);
    // Whole once the title has given the new counters their room.
    QTRY_COMPARE_WITH_TIMEOUT(report->text(),
             QStringLiteral("<font style='color:#ffffff;'>帧率 </font><font style='color:#00ffff;'>12</font> "
                            "<font style='color:#ffffff;'>NG数 </font><font style='color:#00ffff;'>3</font> "
                            "<font style='color:#ffffff;'>总数 </font><font style='color:#00ffff;'>40</font> "), kSettleMs);
    // Passes with the verdict holding set no sheet.
    for (int i = 0; i < 5; ++i) {
        title->updateTitle();
    }
    QCOMPARE(sheets.changes, 1);
    tile->cammerWidget()->station().data.resultOk = 1;
    title->updateTitle();
    QCOMPARE(result->text(), QStringLiteral("OK"));
    QVERIFY(result->styleSheet().contains("#39833C"));
    QCOMPARE(sheets.changes, 2);
    gNgCount[1] = 0;
    gTotalCount[1] = 0;
}

void TestCameraWgtBox::selectorAndCameraLabel()
{
    {
        auto grid = makeGrid(1);
        auto* selector = grid->dataWidget(0)->findChild<MultipleBtnGroup*>(QStringLiteral("_pBtnGroup"));
        const auto buttons = selector->findChildren<QPushButton*>();
        QCOMPARE(buttons.size(), 1);
        QVERIFY(!buttons.first()->isEnabled());
    }
    auto grid = makeGrid(2);
    QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    QWidget browser;
    browser.resize(100, 100);
    m_state.browser = &browser;
    CameraWgt_DataWidget_Title_SetROI* roi = grid->dataWidget(0)->showSetROITitle();
    QCOMPARE(grid->dataWidget(0)->currentTitle(), roi);
    roi->setSingleView(true);
    auto* label = roi->findChild<QLabel*>(QStringLiteral("cameraLabel"));
    QVERIFY(label->isVisible());
    QVERIFY(!roi->findChild<MultipleBtnGroup*>(QStringLiteral("_pBtnGroup"))->isVisible());
    QCOMPARE(label->text(), QStringLiteral("相机1"));
    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(browser.isVisible());
    QCOMPARE(browser.pos(), QPoint(0, 60));
    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(!browser.isVisible());
    m_state.browser = nullptr;
}

void TestCameraWgtBox::reportFormModel()
{
    CameraReportForm form;
    form.setReportItems({});
    QCOMPARE(form.model()->rowCount(), 0);
    QList<CameraReportForm_Item> items;
    items << CameraReportForm_Item{1, QStringLiteral("A"), 1.0, 2.0, 3.0, true}
          << CameraReportForm_Item{2, QStringLiteral("B"), 0.0, 5.0, 7.0, false};
    form.setReportItems(items);
    CameraReportForm_Model* m = form.model();
    QCOMPARE(m->rowCount(), 2);
    QCOMPARE(m->headerData(5, Qt::Horizontal).toString(), QStringLiteral("结果"));
    QCOMPARE(m->data(m->index(1, 5)).toString(), QStringLiteral("NG"));
    QCOMPARE(m->data(m->index(1, 5), Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    QCOMPARE(m->data(m->index(0, 5), Qt::ForegroundRole).value<QColor>(), QColor(Qt::green));
    QCOMPARE(m->data(m->index(1, 4), Qt::ForegroundRole).value<QColor>(), QColor(Qt::white));
    QCOMPARE(m->data(m->index(1, 4)).toDouble(), 7.0);
    QVERIFY(!(m->flags(m->index(0, 0)) & Qt::ItemIsEditable));
    QVERIFY(!m->data(m->index(2, 0)).isValid());
    QVERIFY(!m->data(m->index(0, 7)).isValid());
    form.resize(600, 300);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(form.tableView()->columnWidth(c), 100);
    }
    QVERIFY(form.tableView()->horizontalHeader()->stretchLastSection());

    // Narrow tiles (five to eight cameras): the limits go first, then the
    // tool's name; the number, the value and the result stay on the table.
    QTableView* view = form.tableView();
    const struct {
        int width;
        QList<int> hidden;
    } narrow[] = {{360, {}}, {300, {2, 3}}, {200, {1, 2, 3}}};
    for (const auto& n : narrow) {
        form.resize(n.width, 300);
        QTRY_COMPARE(form.width(), n.width);
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(view->isColumnHidden(c), n.hidden.contains(c));
        }
        // The last section stretches once the view has taken the new width.
        QTRY_VERIFY2(view->columnViewportPosition(5) >= 0
                         && view->columnViewportPosition(5) + view->columnWidth(5) <= view->viewport()->width() + 1,
                     qPrintable(QStringLiteral("%1: result column ends at %2")
                                    .arg(n.width)
                                    .arg(view->columnViewportPosition(5) + view->columnWidth(5))));
    }
}

void TestCameraWgtBox::templateTimeText()
{
    QVERIFY(QDir().mkpath(QStringLiteral("cammer12")));
    QFile file(QStringLiteral("cammer12/template0.bmp"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QDateTime when(QDate(2024, 3, 5), QTime(7, 8, 9));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
    file.close();
    setTemplateTimeText(0, 1, 0);
    QCOMPARE(gTemplateTimeText, QStringLiteral("2024-03-05 07.08.09"));
    setTemplateTimeText(0, 1, 1);
    QCOMPARE(gTemplateTimeText, QString());
}

void TestCameraWgtBox::mainScreenFitsTheScreen_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<QSize>("screen");
    for (const QSize screen : {QSize(1920, 1080), QSize(1280, 720), QSize(1024, 768)}) {
        for (int n = 1; n <= 8; ++n) {
            QTest::addRow("%d cameras %dx%d", n, screen.width(), screen.height()) << n << screen;
        }
    }
}

// The client area of the main window, built as the window builds it, never
// leaves its screen: with every camera shown, with one alone and in area
// setting, the menu column and the dock's buttons stay whole and the tiles
// share what is left.
void TestCameraWgtBox::mainScreenFitsTheScreen()
{
    QFETCH(int, cameras);
    QFETCH(QSize, screen);
    // Screen size and counters are process-wide: given back however the test ends.
    struct Restore {
        QSize screen{gScreenWidth, gScreenHeight};
        ~Restore()
        {
            gScreenWidth = screen.width();
            gScreenHeight = screen.height();
            for (int i = 0; i < CounterCameras; ++i) {
                gNgCount[i] = 0;
                gTotalCount[i] = 0;
            }
        }
    } restore;
    gScreenWidth = screen.width();
    gScreenHeight = screen.height();
    // The widest lamp strip: ten output lamps.
    m_live.ejectorPulseOnNg() = 1;
    gCameraCount = cameras;
    QList<CameraInterface*> list;
    m_drivers.clear();
    for (int i = 0; i < cameras; ++i) {
        m_drivers.push_back(std::make_unique<FakeCamera>(64, 48));
        m_drivers.back()->open();
        list << m_drivers.back().get();
    }
    QWidget window;
    window.setFixedSize(screen);
    auto* outer = new QVBoxLayout(&window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    outer->addLayout(row, 1);
    auto* grid = new CameraWgtBox(list, &window);
    row->addWidget(grid, 1);
    row->addWidget(new MenuBtnWidget(&window));
    auto* dock = new DottomDockWidget(&window);
    dock->setObjectName(QStringLiteral("pWgtDottomDock"));
    outer->addWidget(dock);

    // The longest texts a title shows: large counters and a delay running.
    m_op->setRunState(Detecting);
    m_op->setCyclePhase(Waiting);
    m_state.detect = 1;
    m_state.delayRunning[1] = true;
    m_state.delayLeft[1] = 12.5;
    QList<CameraReportForm_Item> items;
    for (int a = 0; a < 6; ++a) {
        items << CameraReportForm_Item{a + 1, QStringLiteral("Similarity"), -32768, 32767, 123456, a % 2 == 0};
    }
    for (int i = 0; i < cameras; ++i) {
        gNgCount[i] = 99999;
        gTotalCount[i] = 9999999;
        grid->dataWidget(i)->cammerWidget()->station().frameCount = 120;
        grid->dataWidget(i)->reportForm()->setReportItems(items);
    }
    auto refresh = [&] {
        for (CameraWgt_DataWidget* t : grid->tiles()) {
            t->currentTitle()->updateTitle();
        }
        QTest::qWait(50);
    };
    // As built, before the window picks its view: a window that takes its
    // size from its layout keeps what it asks for now.
    QVERIFY2(window.layout()->totalMinimumSize().width() <= screen.width(),
             qPrintable(demanding(&window, screen)));
    grid->slotChangeCameraLayout(cameras == 1 ? 0 : -1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Lays the window out and says what of the view named leaves the screen.
    const auto viewFaults = [&](const char* view) {
        refresh();
        const QString faults = offScreen(&window, screen);
        return faults.isEmpty() ? faults : QLatin1String(view) + QStringLiteral(": ") + faults;
    };
    QString faults = viewFaults("all cameras");
    QVERIFY2(faults.isEmpty(), qPrintable(faults));

    grid->slotChangeCameraLayout(cameras - 1);
    faults = viewFaults("one camera");
    QVERIFY2(faults.isEmpty(), qPrintable(faults));
    // Back from the larger single view, no table keeps the height it had there.
    grid->slotChangeCameraLayout(-1);
    faults = viewFaults("all cameras again");
    QVERIFY2(faults.isEmpty(), qPrintable(faults));

    // Area setting: the area titles with their template line, no dock.
    m_op->setScreenMode(AreaSetting);
    for (CameraWgt_DataWidget* t : grid->tiles()) {
        t->setScreenMode(3);
    }
    window.findChild<MenuBtnWidget*>()->SetMenuPage(3);
    dock->hide();
    faults = viewFaults("area setting");
    QVERIFY2(faults.isEmpty(), qPrintable(faults));
    // Back to the run screen: the dock takes its height from the taller tiles again.
    m_op->setScreenMode(Live);
    for (CameraWgt_DataWidget* t : grid->tiles()) {
        t->setScreenMode(0);
    }
    window.findChild<MenuBtnWidget*>()->SetMenuPage(0);
    dock->show();
    faults = viewFaults("run screen again");
    QVERIFY2(faults.isEmpty(), qPrintable(faults));
}

QTEST_MAIN(TestCameraWgtBox)
#include "tst_camerawgtbox.moc"
