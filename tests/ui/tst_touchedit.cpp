#include "colorbutton.h"
#include "edit.h"
#include "globals.h"
#include "kithost.h"
#include "modalanswer.h"
#include "numberkeypad.h"
#include "slider.h"
#include "testworkdir.h"
#include "texttable.h"
#include "settle.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTouchDevice>

#include <memory>

// Touch fields, value boxes, the three keyboards and the slider, driven by
// synthetic presses, releases, keys and touches on real widgets.
class TestTouchEdit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void placement_data();
    void placement();
    void keysNeverTakeTheFocus();
    void padReusedUntilFocusLeaves();
    void servedFieldDestroyed();
    void touchOpensThePad();

    void valueBox_data();
    void valueBox();
    void displayTypeTwo();
    void padIntoValueBox();
    void padIntoPlainField();
    void fieldRange();
    void hardwareKeysIntoValueBox();
    void qwerty();

    void sliderEdges();

private:
    void release(Edit* field);
    std::unique_ptr<TestWorkDir> m_dir;
};

void TestTouchEdit::initTestCase()
{
    initTextTable();
    gLanguage = 0;
}

void TestTouchEdit::init()
{
    m_dir.reset(new TestWorkDir);
}

void TestTouchEdit::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_dir.reset();
}

// A touch on the field: the focus, then the release that opens its keyboard.
void TestTouchEdit::release(Edit* field)
{
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(field, &focusIn);
    QTest::mouseRelease(field, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
}

void TestTouchEdit::placement_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QSize>("container");
    QTest::addColumn<QRect>("field");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QPoint>("padAt");
    const QSize panel(1920, 1080);
    QTest::newRow("below") << panel << panel << QRect(100, 100, 200, 50) << 1 << QPoint(100, 155);
    QTest::newRow("near the bottom") << panel << panel << QRect(100, 900, 200, 50) << 1 << QPoint(100, 680);
    QTest::newRow("right edge") << panel << panel << QRect(1800, 100, 100, 50) << 1 << QPoint(1493, 155);
    QTest::newRow("fits on panel") << panel << panel << QRect(100, 600, 200, 50) << 1 << QPoint(100, 655);
    QTest::newRow("same field, smaller screen")
        << QSize(1024, 768) << QSize(1024, 768) << QRect(100, 600, 200, 50) << 1 << QPoint(100, 380);
    QTest::newRow("low container") << panel << QSize(800, 600) << QRect(100, 400, 200, 50) << 1 << QPoint(100, 165);
    // Flags 8 and 16: the field sits in a box at (50, 60), which sits at (30, 40).
    QTest::newRow("flag 8") << panel << panel << QRect(10, 20, 200, 50) << 9 << QPoint(90, 175);
    QTest::newRow("flag 16") << panel << panel << QRect(10, 20, 200, 50) << 17 << QPoint(90, 175);
    QTest::newRow("flag 8 wins") << panel << panel << QRect(10, 20, 200, 50) << 25 << QPoint(90, 175);
}

void TestTouchEdit::placement()
{
    QFETCH(QSize, screen);
    QFETCH(QSize, container);
    QFETCH(QRect, field);
    QFETCH(int, flags);
    QFETCH(QPoint, padAt);
    ScreenSize size(screen.width(), screen.height());
    QWidget window;
    window.resize(container);
    QWidget* holder = &window;
    QWidget* expectedContainer = &window;
    if (flags & (8 | 16)) {
        auto* outer = new QWidget(&window);
        outer->setGeometry(30, 40, 600, 400);
        auto* inner = new QWidget(outer);
        inner->setGeometry(50, 60, 400, 200);
        holder = inner;
        if (flags & 8) {
            // With flag 8 the pad goes into the box's parent, at the box's offset.
            expectedContainer = outer;
            padAt -= QPoint(30, 40);
        }
    }
    auto* edit = new Edit(flags, holder, 1);
    edit->setGeometry(field);
    window.show();
    release(edit);
    QVERIFY(gpNumKeyPad);
    QCOMPARE(gpNumKeyPad->parentWidget(), expectedContainer);
    QCOMPARE(gpNumKeyPad->pos(), padAt);
    QVERIFY(gpNumKeyPad->isVisible());
}

void TestTouchEdit::keysNeverTakeTheFocus()
{
    QWidget window;
    window.resize(1200, 800);
    auto* number = new Edit(1, &window, 1);
    number->setGeometry(10, 10, 200, 50);
    auto* letters = new Edit(2, &window, 1);
    letters->setGeometry(10, 300, 200, 50);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QTest::mouseClick(number, Qt::LeftButton);
    QVERIFY(number->hasFocus());
    NumberKeyPad* pad = gpNumKeyPad;
    QVERIFY(pad);
    QCOMPARE(pad->focusPolicy(), Qt::NoFocus);
    QTest::mouseClick(pad->keyGroup->button(4), Qt::LeftButton);
    QTest::mouseClick(pad->keyGroup->button(2), Qt::LeftButton);
    QVERIFY(number->hasFocus());
    QCOMPARE(number->text(), QStringLiteral("42"));

    QTest::mouseClick(letters, Qt::LeftButton);
    QVERIFY(letters->hasFocus());
    QVERIFY(gpNumCharInput->isVisible());
    for (ColorButton* key : gpNumCharInput->keys) {
        QCOMPARE(key->focusPolicy(), Qt::NoFocus);
    }
    QTest::mouseClick(gpNumCharInput->keys[11], Qt::LeftButton); // q
    QTest::mouseClick(gpNumCharInput->keys[38], Qt::LeftButton); // capitals
    QTest::mouseClick(gpNumCharInput->keys[11], Qt::LeftButton); // Q
    QTest::mouseClick(gpNumCharInput->keys[10], Qt::LeftButton); // _
    QVERIFY(letters->hasFocus());
    QCOMPARE(letters->text(), QStringLiteral("qQ_"));
    QTest::mouseClick(gpNumCharInput->keys[40], Qt::LeftButton); // OK hides, the field keeps the focus
    QVERIFY(!gpNumCharInput->isVisible());
    QVERIFY(letters->hasFocus());
}

void TestTouchEdit::padReusedUntilFocusLeaves()
{
    QWidget window;
    window.resize(1200, 800);
    auto* field = new Edit(1, &window, 1);
    field->setGeometry(10, 10, 200, 50);
    auto* other = new Edit(1, &window, 1);
    other->setGeometry(10, 400, 200, 50);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QTest::mouseClick(field, Qt::LeftButton);
    QPointer<NumberKeyPad> first = gpNumKeyPad.data();
    QTest::mouseClick(first->keyGroup->button(7), Qt::LeftButton);
    QCOMPARE(field->text(), QStringLiteral("7"));
    QTest::mouseClick(field, Qt::LeftButton);
    QCOMPARE(gpNumKeyPad.data(), first.data());
    QCOMPARE(field->text(), QString());
    QTest::mouseClick(first->keyGroup->button(8), Qt::LeftButton);
    QCOMPARE(field->text(), QStringLiteral("8"));

    // The focus moves on: both shared keyboards hidden, the pad closed and freed.
    gpNumCharInput->show();
    QTest::mouseClick(other, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!first);
    QVERIFY(!gpNumCharInput->isVisible());
    QVERIFY(!gpNumberInput->isVisible());
    QCOMPARE(field->padOpen, 0);
    QVERIFY(gpNumKeyPad);
    QCOMPARE(gpNumKeyPad->targetEdit.data(), other);
}

void TestTouchEdit::servedFieldDestroyed()
{
    QWidget window;
    window.resize(1200, 800);
    auto* letters = new Edit(2, &window, 1);
    letters->setGeometry(10, 10, 200, 50);
    auto* number = new Edit(1, &window, 1);
    number->setGeometry(10, 300, 200, 50);
    window.show();
    release(letters);
    QCOMPARE(kitHost()->servedEdit(), letters);
    delete letters;
    QVERIFY(!kitHost()->servedEdit());
    gpNumCharInput->setContent(3);
    gpNumCharInput->eraseContent();
    gpNumberInput->eraseAll();

    release(number);
    QPointer<NumberKeyPad> pad = gpNumKeyPad.data();
    QVERIFY(pad);
    delete number;
    // The pad's field is gone: its keys do nothing.
    pad->setContent(1);
    pad->eraseContent();
    pad->HideUpdate();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestTouchEdit::touchOpensThePad()
{
    QTouchDevice* device = QTest::createTouchDevice();
    QWidget window;
    window.resize(1200, 800);
    auto* field = new Edit(1, &window, 1);
    field->setGeometry(100, 100, 200, 50);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::touchEvent(&window, device).press(0, QPoint(150, 120), &window);
    QTest::touchEvent(&window, device).release(0, QPoint(150, 120), &window);
    QTRY_VERIFY_WITH_TIMEOUT(gpNumKeyPad, kSettleMs);
    QCOMPARE(gpNumKeyPad->targetEdit.data(), field);
    QCOMPARE(gpNumKeyPad->pos(), QPoint(100, 155));
}

void TestTouchEdit::valueBox_data()
{
    QTest::addColumn<bool>("allowZero");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("value");
    QTest::newRow("below the minimum") << false << 5 << 30;
    QTest::newRow("zero") << false << 0 << 30;
    QTest::newRow("zero allowed") << true << 0 << 0;
    QTest::newRow("below, zero allowed") << true << 5 << 30;
    QTest::newRow("above") << false << 12000 << 9999;
    QTest::newRow("inside") << false << 500 << 500;
}

void TestTouchEdit::valueBox()
{
    QFETCH(bool, allowZero);
    QFETCH(int, set);
    QFETCH(int, value);
    EditBox box(30, 9999, nullptr, QStringLiteral("延时"));
    box.setAllowZero(allowZero);
    QSignalSpy changed(&box, &EditBox::valueChanged);
    box.setValue(set);
    QCOMPARE(box.value(), value);
    QCOMPARE(box.edit->text(), QString::number(value));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toInt(), value);
    // The same value again is announced again.
    box.setValue(value);
    QCOMPARE(changed.count(), 2);
}

void TestTouchEdit::displayTypeTwo()
{
    EditBox box(0, 1000, nullptr, QStringLiteral("x"), QStringLiteral("mm"), 2, 10);
    QCOMPARE(box.subFiveButton->text(), QStringLiteral("- 0.5"));
    QCOMPARE(box.subOneButton->text(), QStringLiteral("- 0.1"));
    QCOMPARE(box.addOneButton->text(), QStringLiteral("+ 0.1"));
    QCOMPARE(box.addFiveButton->text(), QStringLiteral("+ 0.5"));
    box.setValue(155);
    QCOMPARE(box.edit->text(), QStringLiteral("15.5"));
    box.setValue(150);
    QCOMPARE(box.edit->text(), QStringLiteral("15"));
    QTest::mouseClick(box.addFiveButton, Qt::LeftButton);
    QCOMPARE(box.value(), 155);
    QTest::mouseClick(box.subOneButton, Qt::LeftButton);
    QCOMPARE(box.value(), 154);
    QVERIFY(box.edit->unitLabel);
    QCOMPARE(box.edit->unitLabel->text(), QStringLiteral("mm"));

    EditBox plain(0, 10);
    QCOMPARE(plain.subFiveButton->text(), QStringLiteral("- 5"));
    QCOMPARE(plain.addOneButton->text(), QStringLiteral("+ 1"));
}

void TestTouchEdit::padIntoValueBox()
{
    QWidget window;
    window.resize(1400, 800);
    auto* box = new EditBox(0, 100, &window);
    box->move(10, 10);
    box->setValue(55);
    window.show();
    release(box->edit);
    NumberKeyPad* pad = gpNumKeyPad;
    QVERIFY(pad);
    QCOMPARE(pad->parentWidget(), &window);
    for (int key : {1, 2, 3}) {
        QTest::mouseClick(pad->keyGroup->button(key), Qt::LeftButton);
    }
    QCOMPARE(box->value(), 100);
    QTest::mouseClick(pad->backKey, Qt::LeftButton);
    QCOMPARE(box->value(), 10);
    QCOMPARE(box->edit->text(), QStringLiteral("10"));

    // A minimum above 9 raises the first digit at once.
    box->setRange(20, 500);
    release(box->edit);
    QTest::mouseClick(gpNumKeyPad->keyGroup->button(3), Qt::LeftButton);
    QCOMPARE(box->value(), 20);
}

void TestTouchEdit::padIntoPlainField()
{
    QWidget window;
    window.resize(1200, 800);
    auto* field = new Edit(1, &window, 1);
    field->setGeometry(10, 10, 200, 50);
    window.show();
    release(field);
    NumberKeyPad* pad = gpNumKeyPad;
    QCOMPARE(pad->keyGroup->button(0)->text(), QStringLiteral("0"));
    QCOMPARE(pad->okKey->text(), QStringLiteral("确定"));
    QCOMPARE(pad->backKey->text(), QStringLiteral("退格"));
    QCOMPARE(pad->size(), QSize(427, 230));
    QTest::mouseClick(pad->keyGroup->button(4), Qt::LeftButton);
    QTest::mouseClick(pad->keyGroup->button(2), Qt::LeftButton);
    QCOMPARE(field->text(), QStringLiteral("42"));
    QTest::mouseClick(pad->backKey, Qt::LeftButton);
    QTest::mouseClick(pad->backKey, Qt::LeftButton);
    QCOMPARE(field->text(), QString());
    QVERIFY(pad->replaceNext);
    QTest::mouseClick(pad->keyGroup->button(0), Qt::LeftButton);
    QCOMPARE(field->text(), QStringLiteral("0"));
}

void TestTouchEdit::fieldRange()
{
    Edit field(1, nullptr, 1);
    field.rangeMin = 200;
    field.rangeMax = 0;
    field.setText(QStringLiteral("250"));
    QCOMPARE(field.text(), QStringLiteral("200"));
    QCOMPARE(field.rangeMin, 0);
    QCOMPARE(field.rangeMax, 200);
    field.setText(QStringLiteral("abc"));
    QCOMPARE(field.text(), QStringLiteral("abc"));
    QCOMPARE(field.value(), 0);
    QCOMPARE(field.styleSheet(), QStringLiteral("QLineEdit{background-color: white;color: black;}"));
}

void TestTouchEdit::hardwareKeysIntoValueBox()
{
    QWidget window;
    window.resize(1400, 800);
    auto* box = new EditBox(0, 1000, &window);
    box->setValue(12);
    window.show();
    // No pad open: the digit extends the value shown.
    QTest::keyClick(box->edit, Qt::Key_5);
    QCOMPARE(box->value(), 125);
    QTest::keyClick(box->edit, Qt::Key_Backspace);
    QCOMPARE(box->value(), 12);
    // With the pad just opened the first digit replaces, the next extends.
    release(box->edit);
    QVERIFY(box->edit->openPad());
    QTest::keyClick(box->edit, Qt::Key_7);
    QCOMPARE(box->value(), 7);
    QTest::keyClick(box->edit, Qt::Key_3);
    QCOMPARE(box->value(), 73);
    // Large runs of digits stop at the maximum, never wrap.
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(box->edit, Qt::Key_9);
    }
    QCOMPARE(box->value(), 1000);
}

void TestTouchEdit::qwerty()
{
    NumCharInput board;
    QCOMPARE(board.size(), QSize(785, 295));
    QCOMPARE(board.keys.size(), 41);
    QCOMPARE(board.keys[10]->text(), QStringLiteral("_"));
    QCOMPARE(board.keys[30]->geometry(), QRect(106, 220, 65, 65));
    QCOMPARE(board.keys[37]->geometry(), QRect(695, 150, 80, 65));
    board.SlotCap();
    QCOMPARE(board.keys[11]->text(), QStringLiteral("Q"));
    QCOMPARE(board.keys[38]->text(), textOf(159));
    board.SlotChgChar_Punc();
    QCOMPARE(board.keys[11]->text(), QStringLiteral("-"));
    QCOMPARE(board.keys[30]->text(), QStringLiteral("`"));
    QCOMPARE(board.keys[36]->text(), QStringLiteral("\""));
    QCOMPARE(board.keys[37]->text(), textOf(442));
    QCOMPARE(board.keys[0]->text(), QStringLiteral("1"));
    board.SlotChgChar_Punc();
    QCOMPARE(board.keys[11]->text(), QStringLiteral("q"));
    QCOMPARE(board.keys[38]->text(), textOf(158));
    // Hidden in capitals, shown again in small letters.
    board.SlotCap();
    board.show();
    QCOMPARE(board.keys[11]->text(), QStringLiteral("q"));
    QCOMPARE(board.keys[37]->text(), textOf(441));
    QCOMPARE(board.keys[38]->text(), textOf(158));
}

void TestTouchEdit::sliderEdges()
{
    Slider slider(0, 255, 1, 100, nullptr, QStringLiteral("阈值"));
    slider.resize(1000, 60);
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));
    QCOMPARE(slider.objectName(), QStringLiteral("阈值"));
    QCOMPARE(slider.plusButton->pos(), QPoint(930, 10));
    QCOMPARE(slider.minusButton->pos(), QPoint(220, 10));
    slider.SetText(QString());
    QCOMPARE(slider.value(), 100);
    slider.SetText(QStringLiteral("abc"));
    QCOMPARE(slider.value(), 100);
    slider.SetText(QStringLiteral("300"));
    QCOMPARE(slider.value(), 255);

    // Far from the handle: no drag.
    slider.setValue(0);
    slider.repaint();
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(900, 30));
    QCOMPARE(slider.dragPos[0], -1);
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(900, 30));
    // A tap on the value box opens the pad without a drag; the emptied field leaves the value.
    slider.setValue(40);
    QTest::mouseClick(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(150, 30));
    QVERIFY(gpNumKeyPad);
    QCOMPARE(gpNumKeyPad->targetEdit.data(), slider.valueEdit);
    QCOMPARE(slider.value(), 40);
    QTest::mouseClick(gpNumKeyPad->keyGroup->button(9), Qt::LeftButton);
    QCOMPARE(slider.value(), 9);

    // A range of one value draws and drags without dividing by nothing.
    slider.setParam(5, 5, 1, 5, QStringLiteral("one"));
    slider.repaint();
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider.handleRect[0], 30));
    QTest::mouseMove(&slider, QPoint(slider.handleRect[0] + 100, 30));
    QCOMPARE(slider.value(), 5);
    Slider narrow(0, 10, 1, 5, nullptr, QStringLiteral("n"));
    narrow.resize(370, 60);
    narrow.grab();
}

QTEST_MAIN(TestTouchEdit)
#include "tst_touchedit.moc"
