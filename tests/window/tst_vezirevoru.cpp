#include "camerawgtbox.h"
#include "taskmanager.h"
#include "vezirevoru.h"

#include <QStackedWidget>
#include <QtTest>

namespace {

class CountingTitle : public CameraWgt_DataWidget_Title {
public:
    int updates = 0;
    void updateTitle() override { ++updates; }
};

} // namespace

class TestVeZiRevoru : public QObject {
    Q_OBJECT

private slots:
    void repaintTaskRefreshesTitlesOfVisibleTilesOnly();
    void registersItselfForItsLifetime();
};

void TestVeZiRevoru::repaintTaskRefreshesTitlesOfVisibleTilesOnly()
{
    VeZiRevoru window;
    CountingTitle* titles[3];
    for (auto& title : titles) {
        auto* tile = new CameraWgt_DataWidget;
        title = new CountingTitle;
        tile->titleStack()->addWidget(title);
        window.pCameraWgtBox->addTile(tile);
    }
    // A tile whose current page is not a title page is skipped as well.
    auto* plainTile = new CameraWgt_DataWidget;
    plainTile->titleStack()->addWidget(new QWidget);
    window.pCameraWgtBox->addTile(plainTile);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.pCameraWgtBox->tiles().at(1)->hide();

    TaskManager* task = TaskManager::instance();
    task->SlotLoopShowTask();
    QCOMPARE(titles[0]->updates, 1);
    QCOMPARE(titles[1]->updates, 0);
    QCOMPARE(titles[2]->updates, 1);

    // Shown again, the hidden tile is refreshed by the running loop within 100 ms.
    task->startLoop();
    window.pCameraWgtBox->tiles().at(1)->show();
    QTRY_VERIFY_WITH_TIMEOUT(titles[1]->updates >= 1, 300);
}

void TestVeZiRevoru::registersItselfForItsLifetime()
{
    {
        VeZiRevoru window;
        QCOMPARE(mainWindowHooks(), static_cast<MainWindowHooks*>(&window));
        QCOMPARE(gpVeZiRevoru, &window);
    }
    QVERIFY(mainWindowHooks() == nullptr);
    QVERIFY(gpVeZiRevoru == nullptr);
}

QTEST_MAIN(TestVeZiRevoru)
#include "tst_vezirevoru.moc"
