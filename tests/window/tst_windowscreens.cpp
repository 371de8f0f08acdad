// What the main window opens and keeps for the screens beside the cycle: the
// camera order over re-sampling and a restart, the area panel's help screen,
// the NG records in the area panel, the closing of the databases before a
// restart and the clearing of the operation log.

#include "cammerwidget.h"
#include "camerastation.h"
#include "colorbutton.h"
#include "dottomdockwidget.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "helpwidget.h"
#include "recordingsystemcommands.h"
#include "recordwidget.h"
#include "settingshost.h"
#include "widgetchangecamera.h"
#include "windowrig.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QtTest>

namespace {

// SN.db's rows serialNB0 to serialNB7 as the file holds them now.
QStringList serialRows()
{
    QStringList rows;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("snread"));
    db.setDatabaseName(QStringLiteral("SN.db"));
    if (db.open()) {
        QSqlQuery query(db);
        for (int i = 0; i < 8; ++i) {
            query.prepare(QStringLiteral("select value from sysparam where name=?"));
            query.addBindValue(QStringLiteral("serialNB%1").arg(i));
            rows << (query.exec() && query.next() ? query.value(0).toString() : QStringLiteral("<missing>"));
        }
        query.finish();
        db.close();
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("snread"));
    return rows;
}

// The serial of each camera on the screen, in screen order.
QStringList screenOrder(VeZiRevoru& w)
{
    QStringList serials;
    for (int c = 0; c < gCameraCount; ++c) {
        serials << QString::fromLatin1(w.pCammer[c]->station().serialText);
    }
    return serials;
}

bool connectionOpen(const char* name)
{
    return QSqlDatabase::database(QString::fromLatin1(name), false).isOpen();
}

} // namespace

class TestWindowScreens : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void resamplingKeepsTheCameraOrder();
    void helpScreenExplainsEveryToolOfThePanel();
    void ngRecordsOpenInTheAreaPanel();
    void flushAllClosesTheConnections();
    void clearingTheOperationLog_data();
    void clearingTheOperationLog();
};

// The operator moves camera 3 to the first place and camera 1 to the last;
// re-sampling then must write that order again, not clear it, so that the
// next start shows the cameras where the operator put them and the saved
// serials still match the three cameras found.
void TestWindowScreens::resamplingKeepsTheCameraOrder()
{
    WindowRig rig(3, {1}, [](SystemParam& p) { p[131] = 0; });
    VeZiRevoru& w = *rig.window;
    const QStringList found = screenOrder(w);
    QCOMPARE(found, (QStringList{"LISTED0", "LISTED1", "LISTED2"}));

    {
        WidgetChangeCamera dialog(&w);
        dialog.rowLists[0]->setCurrentIndex(2);
        dialog.rowLists[2]->setCurrentIndex(0);
        QTest::mouseClick(dialog.confirmButton, Qt::LeftButton);
    }
    const QStringList chosen{"LISTED2", "LISTED1", "LISTED0", "0", "0", "0", "0", "0"};
    QCOMPARE(serialRows(), chosen);

    w.SlotReTrain();
    QCOMPARE(w.state().runState(), Sampling);
    QCOMPARE(serialRows(), chosen);

    const QStringList asked = rig.answers->questions;
    QCOMPARE(asked.size(), 1);  // the re-sampling question
    rig.restart();
    QCOMPARE(screenOrder(*rig.window), (QStringList{"LISTED2", "LISTED1", "LISTED0"}));
    // The count saved matches the cameras found: nothing was asked at start.
    QCOMPARE(rig.answers->questions, asked);

    // Re-sampling after the restart keeps the order it started with.
    rig.window->SlotReTrain();
    QCOMPARE(rig.window->state().runState(), Sampling);
    QCOMPARE(serialRows(), chosen);
}

// The help button opens a screen that names every tool of the panel as the
// panel shows it and explains it, in each language; it goes with the panel.
void TestWindowScreens::helpScreenExplainsEveryToolOfThePanel()
{
    WindowRig rig(2);
    VeZiRevoru& w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    HelpWidget* help = w.pHelpWidget;
    QVERIFY(help && help->parentWidget() == &w && !help->isVisible());

    // Every button and choice of the panel but the help itself has its entry.
    DrawROIWidget& panel = *w.pDrawROIWidget;
    QStringList tools;
    for (QWidget* child : panel.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if ((qobject_cast<QPushButton*>(child) || qobject_cast<QComboBox*>(child)) && child != panel.pCButtonHelp) {
            tools << child->objectName();
        }
    }
    QStringList explained;
    for (const HelpWidget::Entry& entry : HelpWidget::entries()) {
        explained << QString::fromLatin1(entry.objectName);
    }
    tools.sort();
    explained.sort();
    QCOMPARE(explained, tools);
    for (gLanguage = 0; gLanguage < LanguageCount; ++gLanguage) {
        for (const HelpWidget::Entry& entry : HelpWidget::entries()) {
            QVERIFY2(!HelpWidget::toolName(entry).isEmpty() && !textOf(entry.textId).isEmpty(), entry.objectName);
        }
    }
    gLanguage = 0;
    // The names read as the buttons do.
    const int rect = int(std::find_if(HelpWidget::entries().begin(), HelpWidget::entries().end(),
                                      [](const HelpWidget::Entry& e) {
                                          return QLatin1String(e.objectName) == QLatin1String("pCButtonDrawRect");
                                      })
                         - HelpWidget::entries().begin());
    QCOMPARE(HelpWidget::toolName(HelpWidget::entries()[rect]), panel.pCButtonDrawRect->text());

    w.SlotAdjustArea();
    QTRY_VERIFY(panel.isVisible() && panel.pCButtonHelp->isVisible());
    QTest::mouseClick(panel.pCButtonHelp, Qt::LeftButton);
    QVERIFY(help->isVisible());
    // Over the tiles, beside the panel it explains.
    QCOMPARE(help->geometry(), QRect(0, 0, w.width() - 100, w.height()));
    const QPoint panelCorner = panel.mapTo(&w, QPoint(0, 0));
    QVERIFY(panelCorner.x() >= help->geometry().right());
    QCOMPARE(help->nameLabels[rect]->text(), panel.pCButtonDrawRect->text());
    QCOMPARE(help->textLabels[rect]->text(), textOf(683));

    QTest::mouseClick(help->closeButton, Qt::LeftButton);
    QVERIFY(!help->isVisible());
    QTest::mouseClick(panel.pCButtonHelp, Qt::LeftButton);
    QVERIFY(help->isVisible());
    // Leaving area setting takes the help away with the panel.
    QTest::mouseClick(panel.pCButtonReturn, Qt::LeftButton);
    QTRY_VERIFY(!panel.isVisible());
    QVERIFY(!help->isVisible());
}

void TestWindowScreens::ngRecordsOpenInTheAreaPanel()
{
    WindowRig rig(2, {1}, [](SystemParam& p) { p[131] = 1; });  // password protection on
    VeZiRevoru& w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    DrawROIWidget& panel = *w.pDrawROIWidget;
    for (int d = 0; d < 2; ++d) {
        const QString folder = w.recordDirs[d * 2].path();  // camera 1, NG
        QVERIFY(QDir().mkpath(folder));
        for (int i = 0; i < 3; ++i) {
            QImage picture(64, 48, QImage::Format_RGB32);
            picture.fill(QColor(40 * i, 0, 0));
            QVERIFY(picture.save(QStringLiteral("%1/2026-11-02_06.00.0%2.jpg").arg(folder).arg(i)));
        }
    }

    // Without access nothing opens.
    w.SlotShowAlarmImgae();
    QVERIFY(panel.isHidden());
    QCOMPARE(w.state().screenMode(), Live);
    QCOMPARE(rig.answers->questions.size() + rig.answers->warnings.size(), 0);

    // Nor over an alarm under review.
    w.state().setUserLevel(UserOperator);
    w.state().setScreenMode(Alarm);
    w.SlotShowAlarmImgae();
    QVERIFY(panel.isHidden());
    w.state().setScreenMode(Live);

    w.state().setShownCamera(0);
    w.SlotShowAlarmImgae();
    QCOMPARE(w.state().screenMode(), AreaSetting);
    QVERIFY(!panel.isHidden());
    QCOMPARE(gImageSource, 4);
    QCOMPARE(panel.pComboChangeSource->currentIndex(), 4);
    QCOMPARE(w.state().shownCamera(), 0);
    QCOMPARE(panel.recordKind, 0);
    QCOMPARE(panel.recordCount, 3);
    QVERIFY(!panel.recordImage.isNull());
    QVERIFY(w.pWgtDottomDock->isHidden());

    // Once open, a second call changes nothing.
    w.SlotShowAlarmImgae();
    QCOMPARE(gImageSource, 4);
}

// The restart and power-off paths close SN.db, PARAM.db and today's log and
// give the files half a second; the log reopens when written again.
void TestWindowScreens::flushAllClosesTheConnections()
{
    WindowRig rig(1);
    VeZiRevoru& w = *rig.window;
    QVERIFY(connectionOpen(kSerialConnectionName) && connectionOpen(kParamConnectionName));
    QVERIFY(connectionOpen("dbRecord"));
    RecordingSystemCommands sys;
    settingsHost()->flushAll();
    QVERIFY(!connectionOpen(kSerialConnectionName));
    QVERIFY(!connectionOpen(kParamConnectionName));
    QVERIFY(!connectionOpen("dbRecord"));
    QCOMPARE(sys.sleeps, QList<int>{500});
    w.FLushAll();  // again, on closed connections: only the pause
    QCOMPARE(sys.sleeps, (QList<int>{500, 500}));
    w.InsertRecord(QStringLiteral("after the flush"));
    QVERIFY(recordRemarks().contains(QStringLiteral("after the flush")));
}

void TestWindowScreens::clearingTheOperationLog_data()
{
    QTest::addColumn<QStringList>("entries");  // typed into the password box
    QTest::addColumn<int>("answer");           // to the question
    QTest::addColumn<bool>("cleared");
    QTest::newRow("administrator, confirmed") << QStringList{"5826"} << 1 << true;
    QTest::newRow("administrator, declined") << QStringList{"5826"} << 0 << false;
    QTest::newRow("operator password") << QStringList{"4711"} << 1 << false;
    QTest::newRow("box cancelled") << QStringList{} << 1 << false;
}

// Only an administrator empties today's log, after confirming; the empty log
// begins with the clearing itself, and the archived days stay.
void TestWindowScreens::clearingTheOperationLog()
{
    QFETCH(QStringList, entries);
    QFETCH(int, answer);
    QFETCH(bool, cleared);
    // Protection off: the settings open without a password, the clearing
    // still asks for the administrator's code.
    WindowRig rig(1, {answer}, [](SystemParam& p) {
        p[131] = 0;
        p.setPasswordText(QStringLiteral("4711"));
    });
    VeZiRevoru& w = *rig.window;
    w.InsertRecord(QStringLiteral("row to clear"));
    QVERIFY(QDir().mkpath(QStringLiteral("RECORD")));
    QVERIFY(QFile::copy(QStringLiteral("RECORD.db"), QStringLiteral("RECORD/2026-11-01.db")));
    const QStringList before = recordRemarks();

    RecordWidget page(nullptr);
    page.show();
    QCOMPARE(page.dayList->count(), 2);
    QVERIFY(page.clearButton->isVisible());
    QCOMPARE(page.model->rowCount(), before.size());
    // An archived day is only read.
    page.dayList->setCurrentRow(1);
    page.UpdateRecord(page.dayList->item(1));
    QVERIFY(!page.clearButton->isVisible());
    page.dayList->setCurrentRow(0);
    page.UpdateRecord(page.dayList->item(0));
    QVERIFY(page.clearButton->isVisible());

    rig.answers->passwordEntries = entries;
    QTest::mouseClick(page.clearButton, Qt::LeftButton);
    QCOMPARE(rig.answers->typedPasswords, entries);
    const bool administrator = w.state().userLevel() == UserAdmin;
    QCOMPARE(rig.answers->questions.contains(textOf(297)), administrator);
    if (cleared) {
        QCOMPARE(recordRemarks(), QStringList{textOf(298)});
        QCOMPARE(page.model->rowCount(), 1);
        QSqlQuery level(QSqlDatabase::database(QStringLiteral("dbRecord"), false));
        QVERIFY(level.exec(QStringLiteral("select recordpassword from RECORD")) && level.next());
        QCOMPARE(level.value(0).toString(), textOf(154));
    } else {
        QCOMPARE(recordRemarks(), before);
    }
    QVERIFY(QFileInfo::exists(QStringLiteral("RECORD/2026-11-01.db")));
}

QTEST_MAIN(TestWindowScreens)
#include "tst_windowscreens.moc"
