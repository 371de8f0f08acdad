#include "fakemainwindow.h"
#include "taskmanager.h"
#include "settle.h"

#include <QtTest>

class TestTaskManager : public QObject {
    Q_OBJECT

private slots:
    void repaintsTheRegisteredWindowEvery100Ms();
    void passWithoutWindowTouchesNoOne();
};

void TestTaskManager::repaintsTheRegisteredWindowEvery100Ms()
{
    FakeMainWindow window;
    TaskManager* task = TaskManager::instance();
    QCOMPARE(TaskManager::instance(this), task);

    task->SlotLoopShowTask();
    QCOMPARE(window.repaints, 1);

    QElapsedTimer clock;
    clock.start();
    task->startLoop();
    QTRY_VERIFY_WITH_TIMEOUT(window.repaints >= 4, kSettleMs);
    // Three passes of the loop need at least 300 ms: not a busy loop.
    QVERIFY(clock.elapsed() >= 290);
}

void TestTaskManager::passWithoutWindowTouchesNoOne()
{
    int repaintsAfterGone = 0;
    {
        FakeMainWindow window;
        TaskManager::instance()->SlotLoopShowTask();
        repaintsAfterGone = window.repaints;
    }
    // A window that has gone is no longer registered; a newer one that took
    // over is not unregistered by an older one's end.
    QVERIFY(mainWindowHooks() == nullptr);
    // A pass with no window at all (before the main window is built).
    TaskManager::instance()->SlotLoopShowTask();
    FakeMainWindow newer;
    {
        FakeMainWindow older;
        setMainWindowHooks(&newer);
    }
    QVERIFY(mainWindowHooks() == &newer);
    TaskManager::instance()->SlotLoopShowTask();
    QCOMPARE(newer.repaints, 1);
    QCOMPARE(repaintsAfterGone, 1);
}

QTEST_MAIN(TestTaskManager)
#include "tst_taskmanager.moc"
