#include "fakemainwindow.h"
#include "mapplication.h"
#include "recordingsystemcommands.h"
#include "systemparam.h"

#include <QMouseEvent>
#include <QTimer>
#include <QtTest>

namespace {

QStringList gMessages;

void captureMessages(QtMsgType, const QMessageLogContext&, const QString& msg)
{
    gMessages.append(msg);
}

int touchLines()
{
    int n = 0;
    for (const QString& m : qAsConst(gMessages)) {
        if (m.startsWith("MApplication::notify touch once!")) {
            ++n;
        }
    }
    return n;
}

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
    SystemParam m_params{};
    FakeMainWindow* m_window = nullptr;
    QtMessageHandler m_previous = nullptr;
};

void TestMApplication::init()
{
    gMessages.clear();
    gLastTouchLogMs = 0;
    m_params = SystemParam{};
    gpSystemParam = &m_params;
    m_window = new FakeMainWindow;
    m_previous = qInstallMessageHandler(captureMessages);
}

void TestMApplication::cleanup()
{
    qInstallMessageHandler(m_previous);
    delete m_window;
    m_window = nullptr;
    gpSystemParam = nullptr;
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
    QVERIFY(gMessages.first().contains("\"startButton\""));

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
    m_params[141] = logoutSec;
    m_params[138] = screenOffSec;

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
    delete m_window;
    m_window = nullptr;
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
