#include "fakemainwindow.h"
#include "logcapture.h"
#include "mapplication.h"
#include "processstate.h"
#include "recordingsystemcommands.h"
#include "systemparam.h"

#include <QMouseEvent>
#include <memory>
#include <QTimer>
#include <QtTest>

namespace {


class Button : public QWidget {
public:
    int presses = 0;
    int releases = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
    void mouseReleaseEvent(QMouseEvent*) override { ++releases; }
};

void press(QWidget* w)
{
    QMouseEvent e(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void release(QWidget* w)
{
    QMouseEvent e(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestMApplication : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pressesAreLoggedAtMostOncePerSecond();
    void pressRestartsTimersWhoseSettingIsPositive_data();
    void pressRestartsTimersWhoseSettingIsPositive();
    void pressOnDarkScreenWakesItAndIsSwallowedWithItsRelease();
    void pressDuringStartUpIsPassedOn();

private:
    int touchLines() const { return m_log->count("MApplication::notify touch once!"); }

    SystemParam m_params{};
    std::unique_ptr<ProcessState> m_state;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<FakeMainWindow> m_window;
};

void TestMApplication::init()
{
    m_state = std::make_unique<ProcessState>();
    gLastTouchLogMs = 0;
    m_params = SystemParam{};
    gpSystemParam = &m_params;
    m_window = std::make_unique<FakeMainWindow>();
    m_log = std::make_unique<LogCapture>(LogCapture::Swallow);
}

void TestMApplication::cleanup()
{
    m_log.reset();
    m_window.reset();
    m_state.reset();
}

void TestMApplication::pressesAreLoggedAtMostOncePerSecond()
{
    Button button;
    button.setObjectName("startButton");
    for (int i = 0; i < 10; ++i) {
        press(&button);
        release(&button);
    }
    QCOMPARE(button.presses, 10);
    QCOMPARE(touchLines(), 1);
    QVERIFY(m_log->lines().first().contains("\"startButton\""));

    // Still within the second: nothing more.
    gLastTouchLogMs = QDateTime::currentMSecsSinceEpoch() - 990;
    press(&button);
    QCOMPARE(touchLines(), 1);

    // 1001 ms after the last logged press: logged again.
    gLastTouchLogMs = QDateTime::currentMSecsSinceEpoch() - 1001;
    press(&button);
    QCOMPARE(touchLines(), 2);
}

void TestMApplication::pressRestartsTimersWhoseSettingIsPositive_data()
{
    QTest::addColumn<int>("logoutSec");
    QTest::addColumn<int>("screenOffSec");
    QTest::newRow("both on") << 120 << 300;
    QTest::newRow("logout off") << 0 << 300;
    QTest::newRow("screen-off negative") << 120 << -5;
    QTest::newRow("both off") << 0 << 0;
}

void TestMApplication::pressRestartsTimersWhoseSettingIsPositive()
{
    QFETCH(int, logoutSec);
    QFETCH(int, screenOffSec);
    m_params.logoutSec() = logoutSec;
    m_params.screenOffSec() = screenOffSec;

    // One timer stopped with an odd interval, the other running with one:
    // a setting of 0 or less must leave either state exactly as it is.
    m_window->logoutTimer()->setInterval(777);
    m_window->backlightTimer()->start(999999);

    Button button;
    press(&button);

    if (logoutSec > 0) {
        QVERIFY(m_window->logoutTimer()->isActive());
        QCOMPARE(m_window->logoutTimer()->interval(), logoutSec * 1000);
    } else {
        QVERIFY(!m_window->logoutTimer()->isActive());
        QCOMPARE(m_window->logoutTimer()->interval(), 777);
    }
    QVERIFY(m_window->backlightTimer()->isActive());
    QCOMPARE(m_window->backlightTimer()->interval(), screenOffSec > 0 ? screenOffSec * 1000 : 999999);
    QCOMPARE(button.presses, 1);
}

void TestMApplication::pressOnDarkScreenWakesItAndIsSwallowedWithItsRelease()
{
    RecordingSystemCommands sys;
    m_window->backlightOff = true;
    Button button;

    press(&button);
    release(&button);
    QCOMPARE(button.presses, 0);
    QCOMPARE(button.releases, 0);
    QVERIFY(!m_window->backlightOff);
    QCOMPARE(sys.performed(), QStringList{"backlight on"});

    press(&button);
    release(&button);
    QCOMPARE(button.presses, 1);
    QCOMPARE(button.releases, 1);
}

void TestMApplication::pressDuringStartUpIsPassedOn()
{
    // The parameters are loaded but the main window is still being built.
    m_window.reset();
    Button button;
    press(&button);
    QCOMPARE(button.presses, 1);
    QCOMPARE(touchLines(), 1);

    // Nor does a press before the parameters exist do anything but log.
    gpSystemParam = nullptr;
    press(&button);
    QCOMPARE(button.presses, 2);
}

int main(int argc, char* argv[])
{
    MApplication app(argc, argv);
    gpApplication = &app;
    TestMApplication test;
    const int rc = QTest::qExec(&test, argc, argv);
    gpApplication = nullptr;
    return rc;
}

#include "tst_mapplication.moc"
