#include "cammerwidget.h"

#include "cammersingleton.h"
#include "fakecamera.h"
#include "globals.h"
#include "promptanswerer.h"
#include "systemparam.h"
#include "testworkdir.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

class TestCammerWidget : public QObject {
    Q_OBJECT

private slots:
    void showsTheStationAndFollowsItsSize();
};

void TestCammerWidget::showsTheStationAndFollowsItsSize()
{
    TestWorkDir dir;
    PromptAnswerer prompts;
    SystemParam live{};
    SystemParam* oldLive = gpSystemParam;
    const int oldDetects = gDetectCount;
    const int oldTemplates = gTemplateCount;
    gpSystemParam = &live;
    gDetectCount = 2;
    gTemplateCount = 2;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
        db.setDatabaseName(dir.filePath("PARAM.db"));
        QVERIFY(db.open());
        QSqlQuery(db).exec(QStringLiteral("create table cammer0 (name text, value text)"));
    }
    {
        FakeCamera driver(200, 100);
        QVERIFY(driver.open());
        QWidget tile;
        CammerWidget widget(&tile, 0, &driver);
        widget.resize(400, 300);
        tile.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tile));
        QCOMPARE(widget.station().imageScaleX, 2.0f);
        QCOMPARE(widget.station().imageScaleY, 3.0f);
        QCOMPARE(widget.station().screenScaleX, 400.0f / float(gScreenWidth));
        QVERIFY(driver.calls.contains("setDisplayWindow"));
        QVERIFY(driver.waitDelivered(1));
        QVERIFY(widget.GrabFrame());
        QVERIFY(!widget.alarmTimer->isActive());
        QVERIFY(widget.station().fpsTimer->isActive());
        widget.StopGrab();
        widget.CloseCamera();
        QVERIFY(!widget.station().cameraOpen);
        QVERIFY(prompts.warnings.isEmpty());
    }
    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    gpSystemParam = oldLive;
    gDetectCount = oldDetects;
    gTemplateCount = oldTemplates;
}

QTEST_MAIN(TestCammerWidget)
#include "tst_cammerwidget.moc"
