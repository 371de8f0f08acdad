#include "widgetchangecamera.h"

#include "cameraregistry.h"
#include "colorbutton.h"
#include "databaselocker.h"
#include "paramstorage.h"
#include "processstate.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString z = QStringLiteral("0");
const QStringList kOldRows = {"OLD0", "OLD1", "OLD2", "OLD3", "OLD4", "OLD5", "OLD6", "OLD7"};

// SN.db with the eight rows, opened as the system opens it; read by the
// loader unless the test wants a file whose rows were never read.
void createSerialDb(bool read = true)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("create"));
        db.setDatabaseName(QStringLiteral("SN.db"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("create table sysparam(name text, value text)")));
        for (int i = 0; i < 8; ++i) {
            q.prepare(QStringLiteral("insert into sysparam values(?, ?)"));
            q.addBindValue(QStringLiteral("serialNB%1").arg(i));
            q.addBindValue(kOldRows[i]);
            QVERIFY(q.exec());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("create"));
    QSqlDatabase db = openSerialDatabase();
    QVERIFY(db.isOpen());
    if (read) {
        SystemParam record;
        record.clear();
        loadSysParam(&record, QSqlDatabase(), db, nullptr);
        QVERIFY(cameraSerialsLoaded(db));
    }
}

QStringList storedRows()
{
    QStringList rows;
    QSqlQuery q(QSqlDatabase::database(QString::fromLatin1(kSerialConnectionName)));
    for (int i = 0; i < 8; ++i) {
        q.prepare(QStringLiteral("select value from sysparam where name=?"));
        q.addBindValue(QStringLiteral("serialNB%1").arg(i));
        rows << ((q.exec() && q.next()) ? q.value(0).toString() : QStringLiteral("<no row>"));
    }
    return rows;
}

QVector<int> liveOrder(int cameras)
{
    QVector<int> order;
    for (int k = 0; k < cameras; ++k) {
        order << gCameraOrder[k];
    }
    return order;
}

// Chooses target position choices[k] (0-based) in row k, as a tap on the list would.
void choose(WidgetChangeCamera& dialog, const QVector<int>& choices)
{
    for (int k = 0; k < choices.size(); ++k) {
        dialog.rowLists[k]->setCurrentIndex(choices[k]);
    }
}

} // namespace

class TestWidgetChangeCamera : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void confirm_data();
    void confirm();
    void layout_data();
    void layout();
    void closedWithoutConfirmingChangesNothing();
    void failedSaveKeepsTheOrder_data();
    void failedSaveKeepsTheOrder();

private:
    std::unique_ptr<ProcessState> m_state;
    std::unique_ptr<TestWorkDir> m_dir;
    QStringList m_log;
    int m_powerQuestions = 0;
};

void TestWidgetChangeCamera::init()
{
    m_state = std::make_unique<ProcessState>();
    m_dir = std::make_unique<TestWorkDir>();
    initTextTable();
    gLanguage = 1;
    m_log.clear();
    m_powerQuestions = 0;
    const QStringList stations = {"A", "B", "C", "D", "E", "F", "G", "H"};
    cameraStationSerial = [stations](int k) { return stations.value(k); };
    cameraOperationLog = [this](const QString& text) { m_log << text; };
    for (int k = 0; k < MaxCameras; ++k) {
        gCameraOrder[k] = k;
    }
}

void TestWidgetChangeCamera::cleanup()
{
    QSqlDatabase::database(QString::fromLatin1(kSerialConnectionName), false).close();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kSerialConnectionName));
    m_dir.reset();
    m_state.reset();
}

void TestWidgetChangeCamera::confirm_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<QVector<int>>("choices");   // row k's target, 0-based
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QStringList>("rows");       // SN.db afterwards
    QTest::addColumn<QVector<int>>("order");     // gCameraOrder afterwards
    QTest::addColumn<int>("powerQuestions");

    QTest::newRow("2 1 3") << 3 << QVector<int>{1, 0, 2} << QStringList{}
                           << QStringList{"B", "A", "C", z, z, z, z, z} << QVector<int>{1, 0, 2} << 1;
    QTest::newRow("2 2 3: duplicate 2") << 3 << QVector<int>{1, 1, 2} << QStringList{"2 repeating, please revise!"}
                                        << kOldRows << QVector<int>{0, 1, 2} << 0;
    // The first pair in row order is named, not the smallest number.
    QTest::newRow("3 1 1: duplicate 1") << 3 << QVector<int>{2, 0, 0} << QStringList{"1 repeating, please revise!"}
                                        << kOldRows << QVector<int>{0, 1, 2} << 0;
    QTest::newRow("one camera") << 1 << QVector<int>{0} << QStringList{}
                                << QStringList{"A", z, z, z, z, z, z, z} << QVector<int>{0} << 1;
    QTest::newRow("eight reversed") << 8 << QVector<int>{7, 6, 5, 4, 3, 2, 1, 0} << QStringList{}
                                    << QStringList{"H", "G", "F", "E", "D", "C", "B", "A"}
                                    << QVector<int>{7, 6, 5, 4, 3, 2, 1, 0} << 1;
}

void TestWidgetChangeCamera::confirm()
{
    QFETCH(int, cameras);
    QFETCH(QVector<int>, choices);
    QFETCH(QStringList, warnings);
    QFETCH(QStringList, rows);
    QFETCH(QVector<int>, order);
    QFETCH(int, powerQuestions);

    createSerialDb();
    gCameraCount = cameras;
    PromptAnswerer answers;
    WidgetChangeCamera dialog(nullptr, [this] { ++m_powerQuestions; });
    dialog.show();
    QCOMPARE(dialog.rowLists.size(), cameras);
    for (int k = 0; k < cameras; ++k) {
        QCOMPARE(dialog.rowLists[k]->count(), cameras);
        QCOMPARE(dialog.rowLists[k]->currentIndex(), k);
        QCOMPARE(dialog.rowLists[k]->itemText(cameras - 1), textOf(394).arg(cameras));
        QCOMPARE(dialog.rowLabels[k]->text(), QStringLiteral("Camera %1 switches to:").arg(k + 1));
    }
    choose(dialog, choices);
    QTest::mouseClick(dialog.confirmButton, Qt::LeftButton);

    QCOMPARE(answers.warnings, warnings);
    QCOMPARE(storedRows(), rows);
    QCOMPARE(liveOrder(cameras), order);
    QCOMPARE(m_powerQuestions, powerQuestions);
    if (powerQuestions) {
        QCOMPARE(m_log.size(), cameras);
        QCOMPARE(m_log.first(), QStringLiteral("Save SN 1: %1").arg(rows.first()));
    } else {
        QVERIFY(m_log.isEmpty());
    }
}

void TestWidgetChangeCamera::layout_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("buttonY");

    // The confirm button keeps its place under the rows, whatever their number.
    QTest::newRow("one camera") << 1 << 0 << 550 << 495;
    QTest::newRow("three cameras") << 3 << 1 << 550 << 495;
    QTest::newRow("eight cameras") << 8 << 2 << 550 << 495;
    QTest::newRow("Japanese") << 3 << 3 << 750 << 495;
}

void TestWidgetChangeCamera::layout()
{
    QFETCH(int, cameras);
    QFETCH(int, language);
    QFETCH(int, width);
    QFETCH(int, buttonY);

    gLanguage = language;
    gCameraCount = cameras;
    QWidget settings;
    settings.resize(1920, 1080);
    WidgetChangeCamera dialog(&settings);
    QCOMPARE(dialog.size(), QSize(width, 560));
    QCOMPARE(dialog.pos(), QPoint(960 - width / 2, 540 - 280));
    QCOMPARE(dialog.confirmButton->geometry(), QRect(30, buttonY, width - 60, 50));
    // It names its act: the title bar's "确定" only closes.
    QCOMPARE(dialog.confirmButton->text(), textOf(704));
    QVERIFY(dialog.confirmButton->text() != textOf(121));
    QCOMPARE(dialog.rowLists.size(), cameras);
    settings.show();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.window()));
    QCoreApplication::processEvents();
    QCOMPARE(dialog.rowLists.first()->size(), QSize(160, 50));
    // Rows below the title bar, above the confirm button, apart from each other.
    QRect previous(0, 0, 1, 60);
    for (QWidget* list : dialog.rowLists) {
        const QRect at(list->mapTo(&dialog, QPoint(0, 0)), list->size());
        QVERIFY2(at.top() >= previous.bottom() + 1, qPrintable(QStringLiteral("row at %1").arg(at.top())));
        previous = at;
    }
    QVERIFY(previous.bottom() < dialog.confirmButton->y());
}

// The title bar's button only closes: neither SN.db nor gCameraOrder sees the
// rows' choices, and the next save of the serials (template re-sampling)
// writes the order in force before the dialog opened.
void TestWidgetChangeCamera::closedWithoutConfirmingChangesNothing()
{
    createSerialDb();
    gCameraCount = 3;
    // An order confirmed earlier, live until the next start.
    gCameraOrder[0] = 1;
    gCameraOrder[1] = 0;
    gCameraOrder[2] = 2;
    {
        WidgetChangeCamera dialog(nullptr, [this] { ++m_powerQuestions; });
        dialog.show();
        choose(dialog, {2, 1, 0});
        QTest::mousePress(dialog.okButton, Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(storedRows(), kOldRows);
    QCOMPARE(liveOrder(3), (QVector<int>{1, 0, 2}));
    QCOMPARE(m_powerQuestions, 0);

    QVERIFY(saveCameraSerials(0));
    QCOMPARE(storedRows(), (QStringList{"B", "A", "C", z, z, z, z, z}));
}

void TestWidgetChangeCamera::failedSaveKeepsTheOrder_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("read");

    QTest::newRow("SN.db held by another program") << true << true;
    QTest::newRow("SN.db never read") << false << false;
}

// The operator is told, the dialog stays open for another try, and no power
// question follows, as it would after a save.
void TestWidgetChangeCamera::failedSaveKeepsTheOrder()
{
    QFETCH(bool, locked);
    QFETCH(bool, read);

    const int previousBound = setParamBusyBoundMs(50);
    createSerialDb(read);
    gCameraCount = 3;
    DatabaseLocker locker;
    if (locked) {
        QVERIFY(locker.lock(QStringLiteral("SN.db")));
    }
    PromptAnswerer answers;
    WidgetChangeCamera dialog(nullptr, [this] { ++m_powerQuestions; });
    dialog.show();
    choose(dialog, {1, 0, 2});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("SN.db")));
    QTest::mouseClick(dialog.confirmButton, Qt::LeftButton);
    if (locked) {
        QVERIFY(locker.release());
    }
    setParamBusyBoundMs(previousBound);

    QCOMPARE(answers.warnings, QStringList{textOf(670)});
    QCOMPARE(m_powerQuestions, 0);
    QCOMPARE(liveOrder(3), (QVector<int>{0, 1, 2}));
    QCOMPARE(storedRows(), kOldRows);
    QVERIFY(dialog.isVisible());
}

QTEST_MAIN(TestWidgetChangeCamera)
#include "tst_widgetchangecamera.moc"
