// The bottom dock, its I/O lamps and clock panel, and the menu column.
#include "controlport.h"
#include "dottomdockwidget.h"
#include "globals.h"
#include "iostatuswidget.h"
#include "mainscreenhost.h"
#include "operatingstate.h"
#include "menubtnwidget.h"
#include "modalanswer.h"
#include "processstate.h"
#include "systemclock.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "settle.h"

#include <QDir>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QtTest>

#include <cstring>
#include <memory>

class TestBottomDock : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cycleText_data();
    void cycleText();
    void clockPaintsFixedTime();
    void startStopFollowsRunState();
    void lampsByNameAndSlot152();
    void lampsRepaintOnlyOnChange();
    void lampsIgnorePresses();
    void menuPagesAndButtons();
    void logoFollowsSizeAtShow();
    void menuButtonsFitTheColumn_data();
    void menuButtonsFitTheColumn();

private:
    std::unique_ptr<ProcessState> m_process;
    std::unique_ptr<TestWorkDir> m_dir;
    SystemParam m_params;
    MainScreenState m_state;
    std::unique_ptr<OperatingState> m_op;
};

void TestBottomDock::init()
{
    m_process = std::make_unique<ProcessState>();
    m_dir = std::make_unique<TestWorkDir>();
    std::memset(&m_params, 0, sizeof m_params);
    gpSystemParam = &m_params;
    m_state = MainScreenState();
    setMainScreenHost(&m_state);
    m_op = std::make_unique<OperatingState>();
    setOperatingState(m_op.get());
}

void TestBottomDock::cleanup()
{
    clearMainScreenHost(&m_state);
    clearOperatingState(m_op.get());
    m_op.reset();
    delete gpControlPort;
    gpControlPort = nullptr;
    setWallClock({});
    m_dir.reset();
    m_process.reset();
}

void TestBottomDock::cycleText_data()
{
    QTest::addColumn<int>("tenths");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << QStringLiteral("周期 0.0秒");
    QTest::newRow("3.2") << 32 << QStringLiteral("周期 3.2秒");
    QTest::newRow("12.5") << 125 << QStringLiteral("周期12.5秒");
    QTest::newRow("wider") << 1234 << QStringLiteral("周期123.4秒");
}

void TestBottomDock::cycleText()
{
    QFETCH(int, tenths);
    QFETCH(QString, text);
    QCOMPARE(DottomDock_Describe_part1::cycleText(tenths), text);
}

void TestBottomDock::clockPaintsFixedTime()
{
    const QDateTime fixed(QDate(2025, 1, 2), QTime(3, 4, 5));
    setWallClock([fixed] { return fixed; });
    DottomDock_Describe_part1 panel;
    panel.resize(300, 60);
    // Two renderings at the fixed time are identical; a minute later differs.
    auto render = [&panel] {
        QImage image(panel.size(), QImage::Format_ARGB32);
        image.fill(Qt::black);
        panel.render(&image);
        return image;
    };
    const QImage first = render();
    QCOMPARE(render(), first);
    setWallClock([fixed] { return fixed.addSecs(60); });
    QVERIFY(render() != first);
}

void TestBottomDock::startStopFollowsRunState()
{
    m_op->setRunState(Stopped);
    DottomDockWidget dock;
    QPushButton* button = dock.startStopButton();
    QCOMPARE(button->text(), QStringLiteral("开始检测"));
    QCOMPARE(button->property("is_running").toBool(), false);
    QCOMPARE(button->size(), QSize(200, 80));

    // Re-sampling from a stopped state starts detection: the window hands the
    // new state over and the button offers to stop.
    QTest::mouseClick(dock.reTrainButton(), Qt::LeftButton);
    QCOMPARE(m_state.reTrains, 1);
    m_op->setRunState(Sampling);
    dock.setRunning(m_op->runState() != Stopped);
    QCOMPARE(button->text(), QStringLiteral("停止检测"));
    QCOMPARE(button->property("is_running").toBool(), true);

    // The click asks the window; a cancelled question leaves the state and the text.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(m_state.startStops, 1);
    QCOMPARE(button->text(), QStringLiteral("停止检测"));
    m_op->setRunState(Stopped);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral("开始检测"));
}

void TestBottomDock::lampsByNameAndSlot152()
{
    for (int i = 0; i < 5; ++i) {
        gInputNames[i] = QStringLiteral("in%1").arg(i);
        gOutputNames[i] = QStringLiteral("out%1").arg(i);
    }
    for (int slot152 : {0, 1}) {
        m_params.ejectorPulseOnNg() = slot152;
        IOStatusWidget_2 strip;
        strip.show();
        QCOMPARE(strip.inputLamps().at(2)->text(), QStringLiteral("in2"));
        QCOMPARE(strip.outputLamps().at(4)->text(), QStringLiteral("out4"));
        QCOMPARE(strip.inputLamps().at(5)->text(), QStringLiteral("I-6"));
        QCOMPARE(strip.outputLamps().at(9)->text(), QStringLiteral("O-10"));
        int inputs = 0;
        int outputs = 0;
        for (int i = 0; i < 10; ++i) {
            inputs += strip.inputLamps().at(i)->isVisible();
            outputs += strip.outputLamps().at(i)->isVisible();
        }
        QCOMPARE(inputs, 5);
        QCOMPARE(outputs, slot152 ? 10 : 5);
        // Names are taken once.
        gInputNames[2] = QStringLiteral("renamed");
        QCOMPARE(strip.inputLamps().at(2)->text(), QStringLiteral("in2"));
        gInputNames[2] = QStringLiteral("in2");
    }
}

void TestBottomDock::lampsRepaintOnlyOnChange()
{
    gpControlPort = new ControlPort(0);
    // Input 1 is active low: lit with its raw bit 0.
    m_params[99 + 1] = 1;
    {
        std::lock_guard<std::mutex> lock(*gMutexTable[8]);
        gInputWord = 0;
    }
    DottomDockWidget dock;
    dock.resize(1700, 80);
    dock.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dock));
    IOStatusWidget_2* strip = dock.lampStrip();
    QTRY_VERIFY_WITH_TIMEOUT(strip->refreshTimer()->interval() == 20, kSettleMs);
    QVERIFY(strip->inputLamps().at(1)->isLit());
    QVERIFY(!strip->inputLamps().at(0)->isLit());
    QCoreApplication::processEvents();

    int before[20];
    for (int i = 0; i < 10; ++i) {
        before[i] = strip->inputLamps().at(i)->paintCount();
        before[10 + i] = strip->outputLamps().at(i)->paintCount();
    }
    // A second of unchanged polling paints no lamp.
    QTest::qWait(1000);
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(strip->inputLamps().at(i)->paintCount(), before[i]);
        QCOMPARE(strip->outputLamps().at(i)->paintCount(), before[10 + i]);
    }
    // One output change repaints that lamp once, through the queued change signal.
    strip->refreshTimer()->stop();
    gpControlPort->setOutput(3, 1);
    gpControlPort->commitOutputs();
    QTRY_VERIFY_WITH_TIMEOUT(strip->outputLamps().at(3)->isLit(), kSettleMs);
    QTest::qWait(50);
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(strip->inputLamps().at(i)->paintCount(), before[i]);
        QCOMPARE(strip->outputLamps().at(i)->paintCount(), before[10 + i] + (i == 3 ? 1 : 0));
    }
}

void TestBottomDock::lampsIgnorePresses()
{
    IOStatusWidget_2 strip;
    strip.show();
    IOWidget_Item* lamp = strip.inputLamps().at(0);
    QSignalSpy clicks(lamp, &QPushButton::clicked);
    QTest::mousePress(lamp, Qt::LeftButton);
    QVERIFY(!lamp->isDown());
    QTest::mouseRelease(lamp, Qt::LeftButton);
    QCOMPARE(clicks.count(), 0);
}

void TestBottomDock::menuPagesAndButtons()
{
    MenuBtnWidget menu;
    QCOMPARE(menu.width(), 100);
    auto* panel = new QWidget;
    menu.setAreaPanel(panel);
    QCOMPARE(panel->objectName(), QStringLiteral("_DrawROI_MenuBtn"));
    const struct { int mode; int page; } steps[] = {{0, 0}, {1, 0}, {3, 1}, {1, 1}, {2, 1}, {0, 0}};
    for (const auto& step : steps) {
        menu.SetMenuPage(step.mode);
        QCOMPARE(menu.pages()->currentIndex(), step.page);
    }
    menu.show();
    Main_MenuBtnWidget* main = menu.mainMenu();
    QSignalSpy trig(main, &Main_MenuBtnWidget::sigManualTrig);
    QSignalSpy area(main, &Main_MenuBtnWidget::sigAdjustArea);
    QTest::mouseClick(main->findChild<QPushButton*>("pBtnCavityManual"), Qt::LeftButton);
    QTest::mouseClick(main->findChild<QPushButton*>("pBtnProductManual"), Qt::LeftButton);
    QTest::mouseClick(main->findChild<QPushButton*>("pBtnSetROI"), Qt::LeftButton);
    QCOMPARE(trig.count(), 2);
    QCOMPARE(trig.at(0).at(0).toInt(), 1);
    QCOMPARE(trig.at(1).at(0).toInt(), 0);
    QCOMPARE(area.count(), 1);
    QCOMPARE(main->findChild<QPushButton*>("pBtnStatistics")->text(), QStringLiteral("生产统计"));
}

void TestBottomDock::menuButtonsFitTheColumn_data()
{
    QTest::addColumn<int>("screenHeight");
    QTest::addColumn<int>("buttonHeight");
    QTest::newRow("panel") << 1080 << 150;
    QTest::newRow("1024x768") << 768 << 90;
    QTest::newRow("1280x720") << 720 << 90;
}

// The column over the dock's 80 px: the six buttons stand one below the other
// without overlapping, down to the dock.
void TestBottomDock::menuButtonsFitTheColumn()
{
    QFETCH(int, screenHeight);
    QFETCH(int, buttonHeight);
    ScreenSize screen(1024, screenHeight);
    Main_MenuBtnWidget menu;
    menu.resize(100, screenHeight - 80);
    menu.show();
    QApplication::processEvents();
    int top = 0;
    for (const char* name : {"pBtnLogo", "pBtnSetSystem", "pBtnSetROI", "pBtnStatistics", "pBtnTemperatureChart",
                             "pBtnCavityManual", "pBtnProductManual"}) {
        const QRect r = menu.findChild<QPushButton*>(QLatin1String(name))->geometry();
        QVERIFY2(r.top() >= top, name);
        if (qstrcmp(name, "pBtnLogo") != 0) {
            QVERIFY2(r.height() >= buttonHeight, name);
        }
        top = r.bottom() + 1;
    }
    QVERIFY(top <= screenHeight - 80);
}

void TestBottomDock::logoFollowsSizeAtShow()
{
    QVERIFY(QDir().mkpath(QStringLiteral("logo")));
    QImage picture(20, 20, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QVERIFY(picture.save(QStringLiteral("logo/logo.png")));
    Main_MenuBtnWidget menu;
    menu.resize(100, 1000);
    menu.show();
    auto* logo = menu.findChild<QPushButton*>("pBtnLogo");
    QVERIFY(!logo->icon().isNull());
    const QSize shown = logo->iconSize();
    QCOMPARE(shown, logo->size());
    menu.resize(100, 1100);
    QCOMPARE(logo->iconSize(), shown);
    menu.hide();
    menu.show();
    QCOMPARE(logo->iconSize(), logo->size());
}

QTEST_MAIN(TestBottomDock)
#include "tst_bottomdock.moc"
