#include "datetimewidget.h"
#include "globals.h"
#include "modalanswer.h"
#include "promptanswerer.h"
#include "rollingtime.h"
#include "testclock.h"
#include "testworkdir.h"
#include "texttable.h"
#include "settle.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QWheelEvent>

#include <memory>

// The range strip and picker, the clock dialog, the calendars and the time drums.
class TestPickers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initTextTable(); }
    void init();
    void cleanup();

    void rangeFromDaysWithoutTimes();
    void nothingChosenGivesTheLastDay();
    void fromNotBeforeTo_data();
    void fromNotBeforeTo();
    void clearKeepsTheChoice();
    void stripOpensOnePicker();
    void escapeClearsTheOpenPicker();
    void pickerPlacedOnTheScreen();
    void monthTurnKeepsTheDay();

    void clockDialog();
    void everyWeekOfTheMonthCanBeTouched();
    void clockDialogRefusesEmptyFields_data();
    void clockDialogRefusesEmptyFields();
    void drumsOpenAtTheFieldsTime();

    void drumDrag_data();
    void drumDrag();
    void drumEnds();
    void drumWheel();
    void drumLongDrag();
    void rollingTimeButtons();

private:
    static QPushButton* button(QWidget* w, const QString& caption);
    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<TestClock> m_clock;
};

// A drag step with the button held (QTest's move carries no buttons for widgets).
static void dragTo(QWidget* w, const QPoint& pos)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(pos), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

QPushButton* TestPickers::button(QWidget* w, const QString& caption)
{
    for (QPushButton* b : w->findChildren<QPushButton*>()) {
        if (b->text() == caption) {
            return b;
        }
    }
    return nullptr;
}

void TestPickers::init()
{
    m_dir.reset(new TestWorkDir);
    m_clock.reset(new TestClock);
}

void TestPickers::cleanup()
{
    closeRollingTime();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_clock.reset();
    m_dir.reset();
}

void TestPickers::rangeFromDaysWithoutTimes()
{
    DateTimeWidget picker;
    QSignalSpy sent(&picker, &DateTimeWidget::sendDateTime);
    picker.addFromDate(QDate(2024, 5, 1));
    picker.addToDate(QDate(2024, 5, 2));
    picker.setDateTime();
    QCOMPARE(sent.count(), 1);
    QCOMPARE(picker.result(), int(QDialog::Accepted));
    QCOMPARE(picker.fromDateTime, QDateTime(QDate(2024, 5, 1), QTime(0, 0)));
    QCOMPARE(picker.toDateTime, QDateTime(QDate(2024, 5, 2), QTime(0, 0)));
    const auto range = sent[0][0].value<dayTime>();
    QCOMPARE(range.from, picker.fromDateTime);
    QCOMPARE(range.to, picker.toDateTime);
}

void TestPickers::nothingChosenGivesTheLastDay()
{
    DateTimeWidget picker;
    picker.setDateTime();
    QCOMPARE(picker.toDateTime, m_clock->now());
    QCOMPARE(picker.fromDateTime, m_clock->now().addDays(-1));
}

void TestPickers::fromNotBeforeTo_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("OK: choose again") << 1;
    QTest::newRow("Cancel: last day") << 0;
}

void TestPickers::fromNotBeforeTo()
{
    QFETCH(int, answer);
    PromptAnswerer answerer({answer});
    DateTimeWidget picker;
    picker.addFromDate(QDate(2024, 5, 2));
    picker.addToDate(QDate(2024, 5, 2));
    picker.setDateTime();
    QCOMPARE(answerer.questions, QStringList{textOf(633)});
    if (answer == 1) {
        QCOMPARE(picker.result(), int(QDialog::Rejected));
    } else {
        QCOMPARE(picker.result(), int(QDialog::Accepted));
        QCOMPARE(picker.toDateTime, m_clock->now());
        QCOMPARE(picker.fromDateTime, m_clock->now().addDays(-1));
    }
}

void TestPickers::clearKeepsTheChoice()
{
    DateTimeWidget picker;
    picker.addFromDate(QDate(2024, 5, 1));
    picker.fromTimeEdit->addTime(QTime(8, 30, 0));
    picker.addToDate(QDate(2024, 5, 3));
    picker.clearAll();
    QVERIFY(picker.fromDateEdit->text().isEmpty());
    QVERIFY(picker.fromTimeEdit->text().isEmpty());
    picker.setDateTime();
    QCOMPARE(picker.fromDateTime, QDateTime(QDate(2024, 5, 1), QTime(8, 30)));
    QCOMPARE(picker.toDateTime, QDateTime(QDate(2024, 5, 3), QTime(0, 0)));
}

void TestPickers::stripOpensOnePicker()
{
    QWidget window;
    window.resize(1200, 800);
    auto* strip = new FromTimeToTime(&window);
    strip->move(100, 50);
    window.show();
    int nested = -1;
    onNextModal([&](QWidget* modal) {
        auto* picker = qobject_cast<DateTimeWidget*>(modal);
        QVERIFY(picker);
        QCOMPARE(gpDateTimeWidget.data(), picker);
        QCOMPARE(picker->pos(), QPoint(100, 90));
        // A second touch on the strip while the picker is open opens nothing.
        QTest::mousePress(strip, Qt::LeftButton);
        nested = strip->pressCount;
        QCOMPARE(QApplication::activeModalWidget(), modal);
        picker->addFromDate(QDate(2024, 5, 1));
        picker->toTimeEdit->addTime(QTime(12, 0, 0));
        picker->addToDate(QDate(2024, 5, 2));
        QTest::mouseClick(button(picker, QStringLiteral("确定")), Qt::LeftButton);
    });
    QTest::mousePress(strip, Qt::LeftButton);
    QCOMPARE(nested, 2);
    QVERIFY(!gpDateTimeWidget);
    QCOMPARE(strip->fromDateTime, QDateTime(QDate(2024, 5, 1), QTime(0, 0)));
    QCOMPARE(strip->toDateTime, QDateTime(QDate(2024, 5, 2), QTime(12, 0)));
    QCOMPARE(strip->toEdit->text(), QStringLiteral("2024-05-02 12:00:00"));

    // Opened again, the picker starts from the stored range.
    onNextModal([&](QWidget* modal) {
        auto* picker = qobject_cast<DateTimeWidget*>(modal);
        QCOMPARE(picker->fromDate, QDate(2024, 5, 1));
        QCOMPARE(picker->toTimeEdit->storedTime, QTime(12, 0));
        QCOMPARE(picker->rightCalendar->selectedDate(), QDate(2024, 5, 2));
        QTest::mouseClick(picker->findChild<QPushButton*>(QStringLiteral("cancelbtn")), Qt::LeftButton);
    });
    QTest::mousePress(strip, Qt::LeftButton);
    QVERIFY(!gpDateTimeWidget);
    QCOMPARE(strip->toDateTime, QDateTime(QDate(2024, 5, 2), QTime(12, 0)));
}

void TestPickers::escapeClearsTheOpenPicker()
{
    QWidget window;
    auto* strip = new FromTimeToTime(&window);
    window.show();
    for (int round = 0; round < 2; ++round) {
        bool opened = false;
        onNextModal([&](QWidget* modal) {
            opened = true;
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        QTest::mousePress(strip, Qt::LeftButton);
        QVERIFY(opened);
        QVERIFY(!gpDateTimeWidget);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(window.findChildren<DateTimeWidget*>().size(), 0);
}

void TestPickers::pickerPlacedOnTheScreen()
{
    ScreenSize screen(1024, 768);
    QWidget window;
    window.resize(1024, 768);
    auto* strip = new FromTimeToTime(&window);
    strip->move(500, 600);
    window.show();
    QPoint at;
    onNextModal([&](QWidget* modal) {
        at = modal->pos();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    QTest::mousePress(strip, Qt::LeftButton);
    QCOMPARE(at, QPoint(1024 - 860, 768 - 540));
}

void TestPickers::monthTurnKeepsTheDay()
{
    DateTimeWidget picker;
    picker.leftCalendar->shownDate = QDate(2024, 1, 31);
    picker.leftCalendar->setSelectedDate(QDate(2024, 1, 31));
    picker.leftCalendar->setDate();
    picker.addFromDate(QDate(2024, 1, 31));
    picker.leftCalendar->showNextMonth();
    QCOMPARE(picker.leftCalendar->selectedDate(), QDate(2024, 2, 29));
    QCOMPARE(picker.leftCalendar->dateLabel->text(), QStringLiteral("2024年02月29日"));
    QCOMPARE(picker.fromDate, QDate(2024, 1, 31));
    QVERIFY(picker.leftCalendar->findChild<QWidget*>(QStringLiteral("prevBtn")));
    QCOMPARE(picker.leftCalendar->firstDayOfWeek(), Qt::Sunday);
}

void TestPickers::clockDialog()
{
    modifyTimeWidget dialog;
    QCOMPARE(dialog.dateEdit->text(), QStringLiteral("2026-12-08"));
    QCOMPARE(dialog.timeEdit->text(), QStringLiteral("10:00:05"));
    QSignalSpy sent(&dialog, &modifyTimeWidget::sendModifyTime);
    dialog.addDate(QDate(2027, 1, 2));
    dialog.timeEdit->addTime(QTime(7, 5, 0));
    dialog.acceptDialog();
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent[0][0].toDateTime(), QDateTime(QDate(2027, 1, 2), QTime(7, 5, 0)));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestPickers::clockDialogRefusesEmptyFields_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::newRow("cleared") << "" << "";
    QTest::newRow("no date") << "" << "10:00:00";
    QTest::newRow("no time") << "2026-12-08" << "";
    QTest::newRow("malformed time") << "2026-12-08" << "25:61:00";
}

void TestPickers::clockDialogRefusesEmptyFields()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    modifyTimeWidget dialog;
    dialog.show();
    QSignalSpy sent(&dialog, &modifyTimeWidget::sendModifyTime);
    if (date.isEmpty() && time.isEmpty()) {
        QTest::mouseClick(button(&dialog, QStringLiteral("清空")), Qt::LeftButton);
    } else {
        dialog.dateEdit->setText(date);
        dialog.timeEdit->setText(time);
    }
    QTest::mouseClick(button(&dialog, QStringLiteral("确定")), Qt::LeftButton);
    QCOMPARE(sent.count(), 0);
    QVERIFY(dialog.isVisible());
    QVERIFY((date.isEmpty() ? dialog.dateEdit : dialog.timeEdit)->styleSheet().contains(QStringLiteral("#F24C3F")));
}

void TestPickers::everyWeekOfTheMonthCanBeTouched()
{
    // May 2026 begins on a Friday: with Sunday first its 31st lies in the
    // sixth week row, the last one of the table.
    modifyTimeWidget clock;
    DateTimeWidget range;
    for (CalendarWidget* calendar : {clock.calendar, range.leftCalendar}) {
        calendar->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(calendar->window()));
        calendar->setCurrentPage(2026, 5);
        auto* view = calendar->findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"));
        QVERIFY(view);
        const int last = view->model()->rowCount() - 1;
        QCOMPARE(last, 6);
        // Every week row lies in the table and is a finger high.
        for (int row = 1; row <= last; ++row) {
            QVERIFY2(view->rowHeight(row) >= 38, qPrintable(QString::number(view->rowHeight(row))));
        }
        QVERIFY(view->rowViewportPosition(last) + view->rowHeight(last) <= view->viewport()->height());
        QSignalSpy clicked(calendar, &QCalendarWidget::clicked);
        const QPoint sunday(view->columnViewportPosition(0) + view->columnWidth(0) / 2,
                            view->rowViewportPosition(last) + view->rowHeight(last) / 2);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, sunday);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toDate(), QDate(2026, 5, 31));
        calendar->window()->hide();
    }
}

void TestPickers::drumsOpenAtTheFieldsTime()
{
    modifyTimeWidget dialog;
    dialog.timeEdit->setText(QStringLiteral("07:08:09"));
    dialog.show();
    QTest::mousePress(dialog.timeEdit, Qt::LeftButton);
    QPointer<_RollingTime> drum = gpRollingTime.data();
    QVERIFY(drum);
    QCOMPARE(drum->hourBox->currentValue, 7);
    QCOMPARE(drum->minuteBox->currentValue, 8);
    QCOMPARE(drum->secondBox->currentValue, 9);
    drum->hourBox->currentValue = 21;
    QTest::mouseClick(button(drum, QStringLiteral("确定")), Qt::LeftButton);
    QCOMPARE(dialog.timeEdit->text(), QStringLiteral("21:08:09"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!drum);

    // A second field press closes the open drum and opens a new one; a press
    // on the dialog closes it.
    QTest::mousePress(dialog.timeEdit, Qt::LeftButton);
    QPointer<_RollingTime> first = gpRollingTime.data();
    QTest::mousePress(dialog.timeEdit, Qt::LeftButton);
    QVERIFY(gpRollingTime && gpRollingTime != first);
    QTest::mousePress(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(5, 470));
    QVERIFY(!gpRollingTime);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!first);
}

void TestPickers::drumDrag_data()
{
    QTest::addColumn<int>("dy");
    QTest::addColumn<int>("value");
    QTest::newRow("down 30: previous") << 30 << 9;
    QTest::newRow("down 20: same") << 20 << 10;
    QTest::newRow("up 30: next") << -30 << 11;
    // Exactly at the threshold: back to the same value, and to the middle.
    QTest::newRow("up 25: same") << -25 << 10;
}

void TestPickers::drumDrag()
{
    QFETCH(int, dy);
    QFETCH(int, value);
    RollingBoxY drum(0, 0, 23);
    drum.resize(50, 200);
    drum.currentValue = 10;
    drum.show();
    QTest::mousePress(&drum, Qt::LeftButton, Qt::NoModifier, QPoint(25, 100));
    dragTo(&drum, QPoint(25, 100 + dy));
    QTest::mouseRelease(&drum, Qt::LeftButton, Qt::NoModifier, QPoint(25, 100 + dy));
    QCOMPARE(drum.currentValue, value);
    QTRY_COMPARE_WITH_TIMEOUT(drum.deviation, 0, kSettleMs);
}

void TestPickers::drumEnds()
{
    RollingBoxY drum(0, 0, 23);
    drum.resize(50, 200);
    drum.show();
    for (int start : {0, 23}) {
        drum.currentValue = start;
        QSignalSpy changed(&drum, &RollingBoxY::currentValueChanged);
        const int dy = start == 0 ? 40 : -40;
        QTest::mousePress(&drum, Qt::LeftButton, Qt::NoModifier, QPoint(25, 100));
        dragTo(&drum, QPoint(25, 100 + dy));
        QCOMPARE(drum.deviation, 0);
        QTest::mouseRelease(&drum, Qt::LeftButton, Qt::NoModifier, QPoint(25, 100 + dy));
        QCOMPARE(drum.currentValue, start);
    }
}

void TestPickers::drumWheel()
{
    RollingBoxY drum(1, 0, 59);
    drum.resize(50, 200);
    drum.show();
    drum.currentValue = 10;
    auto wheel = [&](int delta) {
        QWheelEvent e(QPointF(25, 100), QPointF(drum.mapToGlobal(QPoint(25, 100))), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&drum, &e);
    };
    wheel(120);
    QCOMPARE(drum.currentValue, 9);
    drum.currentValue = 0;
    QSignalSpy changed(&drum, &RollingBoxY::currentValueChanged);
    wheel(120);
    QCOMPARE(drum.currentValue, 0);
    QCOMPARE(changed.count(), 0);
}

void TestPickers::drumLongDrag()
{
    RollingBoxY drum(2, 0, 59);
    drum.resize(50, 200);
    drum.currentValue = 30;
    drum.show();
    QVERIFY(QTest::qWaitForWindowExposed(&drum));
    QTest::mousePress(&drum, Qt::LeftButton, Qt::NoModifier, QPoint(25, 20));
    for (int y = 30; y <= 130; y += 10) {
        dragTo(&drum, QPoint(25, y));
        drum.repaint();
    }
    // Two steps of 49 px passed under the finger: two values back already.
    QCOMPARE(drum.currentValue, 28);
    QTest::mouseRelease(&drum, Qt::LeftButton, Qt::NoModifier, QPoint(25, 130));
}

void TestPickers::rollingTimeButtons()
{
    _RollingTime drum;
    drum.hourBox->currentValue = 7;
    drum.minuteBox->currentValue = 5;
    drum.secondBox->currentValue = 0;
    QSignalSpy confirmed(&drum, &_RollingTime::confirmOnClicked);
    drum.show();
    QTest::mouseClick(button(&drum, QStringLiteral("取消")), Qt::LeftButton);
    QCOMPARE(confirmed.count(), 0);
    drum.show();
    QTest::mouseClick(button(&drum, QStringLiteral("确定")), Qt::LeftButton);
    QCOMPARE(confirmed.count(), 1);
    QCOMPARE(confirmed[0][0].toTime(), QTime(7, 5, 0));
}

QTEST_MAIN(TestPickers)
#include "tst_pickers.moc"
