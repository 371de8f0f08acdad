#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "fakemainwindow.h"
#include "inputbox.h"
#include "kiticons.h"
#include "modalanswer.h"
#include "multiplebtngroup.h"
#include "operatorprompt.h"
#include "promptanswerer.h"
#include "recordingsystemcommands.h"
#include "testworkdir.h"
#include "warnbox.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTabWidget>
#include <QThread>
#include <QWheelEvent>

#include <memory>

// The warning and question boxes, the handlers that show them, the dialog
// frame and the small shared widgets.
class TestBoxes : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void placement_data();
    void placement();
    void buttonPositions();
    void results_data();
    void results();
    void staysOnTopOff();
    void emptyMessagePaints();
    void largeBoxWakesTheDarkScreen();
    void longMessageShowsEveryLine_data();
    void longMessageShowsEveryLine();

    void handlersShowTheRealBoxes();
    void secondWarningGetsABoxOfItsOwn();
    void offTheGuiThreadNothingIsBuilt();
    void manyBoxesLeaveNothingBehind();

    void frameOkReactsOnPress();
    void styleFunctions();
    void cameraButtonGroup();
    void smallWidgets();
    void iconsCompiledIn();

private:
    std::unique_ptr<TestWorkDir> m_dir;
    WarnHandler m_warn;
    AskHandler m_ask;
};

static QList<QPushButton*> buttonsOf(QWidget* box)
{
    return box->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
}

void TestBoxes::init()
{
    m_dir.reset(new TestWorkDir);
    m_warn = setWarnOperatorHandler(WarnHandler());
    m_ask = setAskOperatorHandler(AskHandler());
}

void TestBoxes::cleanup()
{
    setWarnOperatorHandler(m_warn);
    setAskOperatorHandler(m_ask);
    delete gpWarnbox.data();
    m_dir.reset();
}

void TestBoxes::placement_data()
{
    QTest::addColumn<int>("screenWidth");
    QTest::addColumn<int>("screenHeight");
    QTest::addColumn<QPoint>("warnAt");
    QTest::addColumn<QPoint>("questionAt");
    QTest::addColumn<QPoint>("passwordAt");
    QTest::addColumn<QPoint>("largeAt");
    QTest::newRow("panel") << 1920 << 1080 << QPoint(660, 330) << QPoint(660, 330) << QPoint(585, 265)
                           << QPoint(585, 355);
    // Halves truncate before the subtraction.
    QTest::newRow("odd width") << 1921 << 1081 << QPoint(660, 330) << QPoint(660, 330) << QPoint(585, 265)
                               << QPoint(585, 355);
    QTest::newRow("smaller") << 1024 << 600 << QPoint(212, 90) << QPoint(212, 90) << QPoint(137, 25)
                             << QPoint(137, 115);
    // Too small for the box: moved onto the screen by the least distance.
    QTest::newRow("too small") << 640 << 480 << QPoint(20, 30) << QPoint(20, 30) << QPoint(0, 0) << QPoint(0, 55);
}

void TestBoxes::placement()
{
    QFETCH(int, screenWidth);
    QFETCH(int, screenHeight);
    QFETCH(QPoint, warnAt);
    QFETCH(QPoint, questionAt);
    QFETCH(QPoint, passwordAt);
    QFETCH(QPoint, largeAt);
    ScreenSize screen(screenWidth, screenHeight);
    Warnbox warn;
    tipbox question(2, nullptr, 600, 420);
    inputbox password(1);
    WarnBox large;
    QCOMPARE(large.geometry(), QRect(largeAt, QSize(750, 370)));
    QCOMPARE(warn.geometry(), QRect(warnAt, QSize(600, 420)));
    QCOMPARE(question.geometry(), QRect(questionAt, QSize(600, 420)));
    QCOMPARE(password.geometry(), QRect(passwordAt, QSize(750, 550)));
}

void TestBoxes::buttonPositions()
{
    tipbox two(2, nullptr, 600, 420);
    const QList<QPushButton*> buttons = buttonsOf(&two);
    QCOMPARE(buttons.size(), 2);
    QCOMPARE(buttons[0]->text(), QStringLiteral("取消"));
    QCOMPARE(buttons[0]->geometry(), QRect(150, 330, 135, 60));
    QCOMPARE(buttons[1]->text(), QStringLiteral("确定"));
    QCOMPARE(buttons[1]->geometry(), QRect(315, 330, 135, 60));
    tipbox one(1, nullptr, 600, 420);
    QCOMPARE(buttonsOf(&one).size(), 1);
    QCOMPARE(buttonsOf(&one)[0]->geometry(), QRect(233, 330, 135, 60));
    tipbox none(0);
    QCOMPARE(buttonsOf(&none).size(), 0);
    Warnbox warn;
    QCOMPARE(warn.closeButton->geometry(), QRect(540, 0, 60, 60));
    QVERIFY(warn.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(warn.windowFlags() & Qt::WindowStaysOnTopHint);
}

void TestBoxes::results_data()
{
    QTest::addColumn<int>("kind"); // 0 warning box, -1 the large box, else buttons of a question box
    QTest::addColumn<QString>("press"); // caption of the button, or "Escape"
    QTest::addColumn<int>("result");
    QTest::newRow("two, OK") << 2 << "确定" << 1;
    QTest::newRow("two, Cancel") << 2 << "取消" << 0;
    QTest::newRow("two, Escape") << 2 << "Escape" << 0;
    QTest::newRow("one, OK") << 1 << "确定" << 1;
    QTest::newRow("one, Escape") << 1 << "Escape" << 0;
    QTest::newRow("warning, close") << 0 << "" << 0;
    QTest::newRow("warning, Escape") << 0 << "Escape" << 0;
    QTest::newRow("large, OK") << -1 << "确定" << 1;
    QTest::newRow("large, Escape") << -1 << "Escape" << 0;
}

void TestBoxes::results()
{
    QFETCH(int, kind);
    QFETCH(QString, press);
    QFETCH(int, result);
    std::unique_ptr<QDialog> box;
    if (kind == 0) {
        box.reset(new Warnbox);
    } else if (kind == -1) {
        box.reset(new WarnBox);
        QCOMPARE(buttonsOf(box.get()).size(), 1);
    } else {
        box.reset(new tipbox(kind));
    }
    bool answered = false;
    onNextModal([&](QWidget* modal) {
        answered = true;
        if (press == QLatin1String("Escape")) {
            QTest::keyClick(modal, Qt::Key_Escape);
            return;
        }
        for (QPushButton* b : buttonsOf(modal)) {
            if (b->text() == press) {
                QTest::mouseClick(b, Qt::LeftButton);
            }
        }
    });
    QCOMPARE(box->exec(), result);
    QVERIFY(answered);
    QVERIFY(!box->isVisible());
}

void TestBoxes::staysOnTopOff()
{
    Warnbox warn;
    warn.setStaysOnTop(false);
    QVERIFY(warn.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(warn.windowFlags() & Qt::CustomizeWindowHint);
    QVERIFY(!(warn.windowFlags() & Qt::WindowStaysOnTopHint));
    warn.setStaysOnTop(true);
    QVERIFY(warn.windowFlags() & Qt::WindowStaysOnTopHint);
}

void TestBoxes::emptyMessagePaints()
{
    // An empty message leaves the body plain; the title is drawn.
    Warnbox warn;
    tipbox question(2);
    for (QWidget* box : {static_cast<QWidget*>(&warn), static_cast<QWidget*>(&question)}) {
        const QImage image = box->grab().toImage();
        QCOMPARE(image.pixelColor(300, 5), QColor(QStringLiteral("#353D45")));
        QCOMPARE(image.pixelColor(300, 250), QColor(QStringLiteral("#262E34")));
        bool titleDrawn = false;
        for (int x = 15; x < 63 && !titleDrawn; ++x) {
            for (int y = 15; y < 47 && !titleDrawn; ++y) {
                titleDrawn = image.pixelColor(x, y) != QColor(QStringLiteral("#353D45"));
            }
        }
        QVERIFY(titleDrawn);
    }
}

// A message shown on a dark screen is seen: the box switches the backlight on,
// and a lit screen is left alone.
void TestBoxes::largeBoxWakesTheDarkScreen()
{
    FakeMainWindow window;
    RecordingSystemCommands sys;
    window.backlightOff = true;
    WarnBox box;
    box.setMessage(QStringLiteral("message"));
    box.show();
    QCOMPARE(sys.performed(), QStringList{QStringLiteral("backlight on")});
    QVERIFY(!window.backlightOff);
    box.hide();
    box.show();
    QCOMPARE(sys.performed().size(), 1);
    box.hide();
}

// Bands of rows below the title bar that hold text (white) pixels, between
// the box's side margins: one band per drawn line.
static int textLinesDrawn(QWidget* box, int fromY)
{
    const QImage image = box->grab().toImage();
    int bands = 0;
    bool inBand = false;
    for (int y = fromY; y < image.height(); ++y) {
        bool text = false;
        for (int x = 40; x < image.width() - 40 && !text; ++x) {
            const QColor c = image.pixelColor(x, y);
            text = c.red() > 200 && c.green() > 200 && c.blue() > 200;
        }
        if (text && !inBand) {
            ++bands;
        }
        inBand = text;
    }
    return bands;
}

void TestBoxes::longMessageShowsEveryLine_data()
{
    QTest::addColumn<int>("buttons"); // -1 the warning box
    QTest::addColumn<int>("lines");
    QTest::newRow("warning, 3 lines") << -1 << 3;
    QTest::newRow("warning, 14 lines") << -1 << 14;
    QTest::newRow("question, 12 lines") << 2 << 12;
    QTest::newRow("notice, 12 lines") << 1 << 12;
}

void TestBoxes::longMessageShowsEveryLine()
{
    QFETCH(int, buttons);
    QFETCH(int, lines);
    ScreenSize screen(1920, 1080);
    QStringList text;
    for (int i = 1; i <= lines; ++i) {
        text << QStringLiteral("第%1行：相机丢失，请检查连线！").arg(i);
    }
    std::unique_ptr<QDialog> box;
    int textTop = 0;
    if (buttons < 0) {
        auto* warn = new Warnbox;
        warn->setMessage(text.join(QStringLiteral("\r\n")));
        box.reset(warn);
        textTop = 140; // below the warning sign
        QCOMPARE(warn->closeButton->geometry(), QRect(warn->width() - 60, 0, 60, 60));
    } else {
        auto* question = new tipbox(buttons, nullptr, 600, 420);
        question->setMessage(text.join(QLatin1Char('\n')));
        box.reset(question);
        textTop = 60;
    }
    // Every line is drawn, none under the sign or the buttons, and the box
    // stays on the screen.
    QVERIFY(QRect(0, 0, 1920, 1080).contains(box->geometry()));
    const QList<QPushButton*> own = buttonsOf(box.get());
    for (QPushButton* b : own) {
        QVERIFY(QRect(QPoint(0, 0), box->size()).contains(b->geometry()));
    }
    for (QPushButton* b : own) {
        b->hide(); // their captions are white too
    }
    QCOMPARE(textLinesDrawn(box.get(), textTop), lines);
    if (lines <= 3) {
        QCOMPARE(box->size(), QSize(600, 420));
    }
}

void TestBoxes::handlersShowTheRealBoxes()
{
    installKitPromptHandlers();
    QString shown;
    onNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<tipbox*>(modal);
        QVERIFY(box);
        shown = box->message;
        QCOMPARE(box->size(), QSize(600, 420));
        QCOMPARE(buttonsOf(box).size(), 2);
        QTest::mouseClick(buttonsOf(box)[1], Qt::LeftButton);
    });
    QCOMPARE(askOperator(QStringLiteral("删除模板?")), 1);
    QCOMPARE(shown, QStringLiteral("删除模板?"));

    onNextModal([&](QWidget* modal) {
        QCOMPARE(buttonsOf(modal).size(), 1);
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    QCOMPARE(askOperator(QStringLiteral("notice"), 1), 0);

    onNextModal([&](QWidget* modal) {
        QCOMPARE(modal, static_cast<QWidget*>(gpWarnbox.data()));
        shown = gpWarnbox->message;
        QTest::mouseClick(gpWarnbox->closeButton, Qt::LeftButton);
    });
    warnOperator(QStringLiteral("相机断开"));
    QCOMPARE(shown, QStringLiteral("相机断开"));
    QVERIFY(!(gpWarnbox->windowFlags() & Qt::WindowStaysOnTopHint));
}

void TestBoxes::secondWarningGetsABoxOfItsOwn()
{
    installKitPromptHandlers();
    QString secondShown;
    bool secondWasOwnBox = false;
    QString firstAfterSecond;
    onNextModal([&](QWidget*) {
        // While the first warning is open, another part of the program warns.
        onNextModal([&](QWidget* second) {
            auto* box = qobject_cast<Warnbox*>(second);
            QVERIFY(box);
            secondWasOwnBox = box != gpWarnbox;
            secondShown = box->message;
            QTest::mouseClick(box->closeButton, Qt::LeftButton);
        });
        warnOperator(QStringLiteral("second"));
        firstAfterSecond = gpWarnbox->message;
        QVERIFY(gpWarnbox->isVisible());
        QTest::mouseClick(gpWarnbox->closeButton, Qt::LeftButton);
    });
    warnOperator(QStringLiteral("first"));
    QVERIFY(secondWasOwnBox);
    QCOMPARE(secondShown, QStringLiteral("second"));
    QCOMPARE(firstAfterSecond, QStringLiteral("first"));
}

void TestBoxes::offTheGuiThreadNothingIsBuilt()
{
    installKitPromptHandlers();
    const int before = QApplication::topLevelWidgets().size();
    int answer = -1;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        warnOperator(QStringLiteral("from a worker"));
        answer = askOperator(QStringLiteral("from a worker?"));
    }));
    worker->start();
    QVERIFY(worker->wait(5000));
    QCOMPARE(answer, 0);
    QCOMPARE(QApplication::topLevelWidgets().size(), before);
}

void TestBoxes::manyBoxesLeaveNothingBehind()
{
    installKitPromptHandlers();
    gpWarnbox = new Warnbox;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int before = QApplication::topLevelWidgets().size();
    for (int i = 0; i < 1000; ++i) {
        if (i % 3 != 2) {
            onNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        }
        switch (i % 3) {
        case 0:
            QCOMPARE(askOperator(QStringLiteral("q%1").arg(i)), 0);
            break;
        case 1:
            warnOperator(QStringLiteral("w%1").arg(i));
            break;
        default: {
            PromptAnswerer answerer;
            answerer.passwordEntries << QStringLiteral("1");
            inputbox box(1);
            QCOMPARE(box.exec(), 0);
            break;
        }
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(QApplication::topLevelWidgets().size(), before);
}

void TestBoxes::frameOkReactsOnPress()
{
    CComp_DialogFrame frame(QStringLiteral("参数设置"));
    QCOMPARE(frame.titleLabel->text(), QStringLiteral("参数设置"));
    QCOMPARE(frame.okButton->objectName(), QStringLiteral("okBtn"));
    QCOMPARE(frame.minimumSize(), QSize(1000, 800));
    frame.show();
    QSignalSpy accepted(&frame, &QDialog::accepted);
    QTest::mousePress(frame.okButton, Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QTest::mouseRelease(frame.okButton, Qt::LeftButton);
}

void TestBoxes::styleFunctions()
{
    // The dark sheet (2595 characters), then the touch rules after it.
    const QString darkEnd = QStringLiteral("QLineEdit:focus{background:white;color:black;}");
    QVERIFY(commonStyleSheet().startsWith(QStringLiteral("QWidget{background-color: #1E1E1E;")));
    QCOMPARE(commonStyleSheet().indexOf(darkEnd) + darkEnd.size(), 2595);
    QVERIFY(commonStyleSheet().contains(QStringLiteral("QCheckBox::enabled::unchecked {color: #ffffff;}")));
    QVERIFY(commonStyleSheet().mid(2595).startsWith(QStringLiteral("QComboBox{background-color:#F2F2F2;color:#1E1E1E;")));
    QWidget w;
    setCommonStyleSheet(&w, QStringLiteral("QLabel{}"));
    QCOMPARE(w.styleSheet(), commonStyleSheet() + QStringLiteral("QLabel{}"));

    QLineEdit edit;
    edit.setStyleSheet(QStringLiteral("keep"));
    C_Type_COM com;
    com.setRoundedEditStyle(&edit, 4);
    com.setRoundedEditStyle(&edit, -1);
    QCOMPARE(edit.styleSheet(), QStringLiteral("keep"));
    com.setRoundedEditStyle(&edit, 3);
    QCOMPARE(edit.styleSheet(), QStringLiteral("QLineEdit{border-style:none;padding:1px;border-radius:5px;border:2px "
                                               "solid #DCE4EC;}QLineEdit:focus{border:2px solid #E74C3C;}"));
    QCOMPARE(colouredText(QStringLiteral("red"), QStringLiteral("相机1")),
             QStringLiteral("<font style='color:red;'>相机1</font>"));

    // With the translucent title the OK button still answers where it is.
    CComp_DialogFrame frame(QStringLiteral("t"));
    QTabWidget tabs;
    setTransparentTitleStyle(&frame, &tabs);
    QVERIFY(frame.testAttribute(Qt::WA_TranslucentBackground));
    frame.show();
    QSignalSpy accepted(&frame, &QDialog::accepted);
    QTest::mousePress(frame.okButton, Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
}

void TestBoxes::cameraButtonGroup()
{
    MultipleBtnGroup one(1);
    QCOMPARE(one.findChildren<QPushButton*>().size(), 1);
    QCOMPARE(one.findChild<QPushButton*>(QStringLiteral("button0"))->text(), QStringLiteral("相机1"));

    MultipleBtnGroup four(4);
    QCOMPARE(four.findChildren<QPushButton*>().size(), 5);
    QSignalSpy clicked(&four, &MultipleBtnGroup::buttonClicked);
    four.show();
    QTest::mouseClick(four.findChildren<QPushButton*>().last(), Qt::LeftButton);
    QTest::mouseClick(four.findChild<QPushButton*>(QStringLiteral("button2")), Qt::LeftButton);
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(clicked[0][0].toInt(), -1);
    QCOMPARE(clicked[1][0].toInt(), 2);

    four.markButton(7);
    for (QPushButton* b : four.findChildren<QPushButton*>()) {
        QVERIFY(b->isEnabled());
        QCOMPARE(b->size(), QSize(80, 40));
    }
    four.markButton(1);
    auto* marked = four.findChild<QPushButton*>(QStringLiteral("button1"));
    QCOMPARE(marked->size(), QSize(100, 50));
    QVERIFY(!marked->isEnabled());
}

void TestBoxes::smallWidgets()
{
    for (int kind : {0, 1, 2, -3}) {
        ColorButton b(QStringLiteral("x"), nullptr, kind);
        // The convention's red and blue, darkened so that white reads on them.
        QVERIFY(b.styleSheet().contains(kind == 1 ? QStringLiteral("#D04136") : QStringLiteral("#2175D3")));
        QVERIFY(b.styleSheet().contains(QStringLiteral("QPushButton:pressed{background-color: rgba(38, 135, 242, 0.5)")));
    }

    ComboBox box;
    box.addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    box.setCurrentIndex(1);
    box.resize(200, 40);
    box.show();
    QSignalSpy clicked(&box, &ComboBox::clicked);
    QTest::mousePress(&box, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QWheelEvent wheel(QPointF(10, 10), QPointF(box.mapToGlobal(QPoint(10, 10))), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&box, &wheel);
    QCOMPARE(box.currentIndex(), 1);
    box.hidePopup();
    box.setItemHeight(50);
    QVERIFY(box.styleSheet().contains(QStringLiteral("height:50;border-style:none;")));
    QVERIFY(box.styleSheet().contains(QStringLiteral("item{height:50px;")));
    QCOMPARE(box.focusPolicy(), Qt::NoFocus);

    customButton toggle;
    QVERIFY(toggle.isCheckable());

    // A held step button fires at the press, after 300 ms and then every 50 ms.
    ColorButton step(QStringLiteral("+ 1"));
    setButtonAutoRepeat(&step);
    QCOMPARE(step.autoRepeatDelay(), 300);
    QCOMPARE(step.autoRepeatInterval(), 50);
    QVERIFY(step.autoRepeat());
}

void TestBoxes::iconsCompiledIn()
{
    ensureKitIcons();
    for (const char* name : {"Close", "Warn", "Checked", "Unchecked", "slideru", "sliderd", "slidert", "down-arrow",
                             "Arrow2Left", "Arrow2Right", "Arrow2Left_hovered", "Arrow2Right_hovered"}) {
        QVERIFY2(!QPixmap(QStringLiteral(":/%1.png").arg(QLatin1String(name))).isNull(), name);
    }
    QCOMPARE(QPixmap(QStringLiteral(":/Warn.png")).size(), QSize(60, 54));
}

QTEST_MAIN(TestBoxes)
#include "tst_boxes.moc"
