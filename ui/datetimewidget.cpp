#include "datetimewidget.h"

#include "kithost.h"
#include "kiticons.h"
#include "operatorprompt.h"
#include "rollingtime.h"
#include "systemclock.h"
#include "texttable.h"

#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTextCharFormat>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

QPointer<DateTimeWidget> gpDateTimeWidget;
QPointer<_RollingTime> gpRollingTime;

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QString kTimeFormat = QStringLiteral("hh:mm:ss");
const QString kRangeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// The pickers' two buttons in the kit's look: a blue "确定", and "清空" in
// blue on white with a blue frame, each a finger's size (bare words on white
// are not seen as buttons).
QPushButton* flatButton(const QString& caption, const QString& colour, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setFixedSize(110, 40);
    const bool primary = colour != QLatin1String("#2175D3");
    button->setStyleSheet(primary ? QStringLiteral("QPushButton{color: #FFFFFF;background-color: #2175D3;border: none;"
                                                   "border-radius: 4px;font-family: SimHei;font-size: 20px;}"
                                                   "QPushButton:pressed{background-color: #1A6FC9;}")
                                  : QStringLiteral("QPushButton{color: #2175D3;background-color: #FFFFFF;"
                                                   "border: 1px solid #2175D3;border-radius: 4px;font-family: SimHei;"
                                                   "font-size: 20px;}QPushButton:pressed{background-color: #E3EFFD;}"));
    return button;
}

// Height of the weekday row; the weeks share the rest of the table. In the
// clock dialog's 320-px calendar a 30-px row left the weeks 39 px, under a
// fingertip; the names read as well in 24.
constexpr int kWeekdayRowHeight = 24;

// Position of a widget in the coordinates of its grandparent's parent, as the
// pickers place their pop-ups.
QPoint offsetThroughAncestors(const QWidget* w)
{
    QPoint p = w->pos();
    const QWidget* parent = w->parentWidget();
    if (parent) {
        p += parent->pos();
        if (const QWidget* grandparent = parent->parentWidget()) {
            p += grandparent->pos();
        }
    }
    return p;
}

QString fieldSheet(bool borderless, bool marked)
{
    QString border = borderless ? QStringLiteral("none") : QStringLiteral("1px solid rgba(0, 0, 0, 0.5)");
    if (marked) {
        border = QStringLiteral("2px solid #F24C3F");
    }
    return QStringLiteral("QLineEdit{background-color: white;border-radius: 4px;border: %1;color: black;}").arg(border);
}

} // namespace

void closeRollingTime()
{
    if (gpRollingTime) {
        _RollingTime* drum = gpRollingTime;
        gpRollingTime = nullptr;
        drum->close();
    }
}

CalendarWidget::CalendarWidget(QWidget* parent)
    : QCalendarWidget(parent)
{
    ensureKitIcons();
    // Today is the program's today, not the machine's.
    setSelectedDate(clockNow().date());
    shownDate = selectedDate();
    setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    setFirstDayOfWeek(Qt::Sunday);
    setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);

    prevBtn = findChild<QToolButton*>(QStringLiteral("qt_calendar_prevmonth"));
    nextBtn = findChild<QToolButton*>(QStringLiteral("qt_calendar_nextmonth"));
    if (prevBtn) {
        prevBtn->setObjectName(QStringLiteral("prevBtn"));
    }
    if (nextBtn) {
        nextBtn->setObjectName(QStringLiteral("nextBtn"));
    }
    connect(this, &QCalendarWidget::clicked, this, &CalendarWidget::setDate);
    connect(this, &QCalendarWidget::currentPageChanged, this, &CalendarWidget::setNextDate);

    QTextCharFormat format;
    format.setForeground(QColor(51, 51, 51));
    format.setBackground(Qt::white);
    QFont font(QStringLiteral("SimHei"), 12);
    font.setWeight(57);
    format.setFont(font);
    setHeaderTextFormat(format);
    for (int day = Qt::Monday; day <= Qt::Sunday; ++day) {
        setWeekdayTextFormat(Qt::DayOfWeek(day), format);
    }

    auto* top = new QWidget(this);
    top->setObjectName(QStringLiteral("CalendarTopWidget"));
    top->setFixedHeight(50);
    top->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    dateLabel = new QLabel(top);
    dateLabel->setObjectName(QStringLiteral("dateLabel"));
    dateLabel->setText(selectedDate().toString(QStringLiteral("yyyy年MM月dd日")));
    auto* topLayout = new QHBoxLayout(top);
    topLayout->setContentsMargins(5, 5, 5, 5);
    topLayout->setSpacing(4);
    topLayout->addStretch();
    if (prevBtn) {
        topLayout->addWidget(prevBtn);
    }
    topLayout->addSpacing(40);
    topLayout->addWidget(dateLabel);
    topLayout->addSpacing(40);
    if (nextBtn) {
        topLayout->addWidget(nextBtn);
    }
    topLayout->addStretch();
    if (auto* own = qobject_cast<QVBoxLayout*>(layout())) {
        own->insertWidget(0, top);
    }
    for (QToolButton* b : {prevBtn, nextBtn}) {
        if (b) {
            b->setIcon(QIcon(b == prevBtn ? QStringLiteral(":/Arrow2Left.png") : QStringLiteral(":/Arrow2Right.png")));
            b->installEventFilter(this);
            // The arrows alone made a 19-px target; the button is a
            // fingertip wide, its arrow in the middle.
            b->setFixedSize(40, 40);
        }
    }
    setStyleSheet(QStringLiteral("QToolButton#%1{border: none;background-color: white;}"
                                 "QToolButton#%1:hover{border: none;background-color: white;}")
                      .arg(QStringLiteral("prevBtn"))
                  + QStringLiteral("QToolButton#%1{border: none;background-color: white;}"
                                   "QToolButton#%1:hover{border: none;background-color: white;}")
                        .arg(QStringLiteral("nextBtn"))
                  + QStringLiteral("QLabel#%1{color:black;background-color: transparent;font-size: 18px;"
                                   "font-family: SimHei}")
                        .arg(QStringLiteral("dateLabel"))
                  + QStringLiteral("QCalendarView{background-color: white;}"
                                   "QWidget#CalendarTopWidget{background-color: white;}"));
    setObjectName(QStringLiteral("CalendarWidget"));
    setNavigationBarVisible(false);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
}

void CalendarWidget::resizeEvent(QResizeEvent* event)
{
    QCalendarWidget::resizeEvent(event);
    fitDayRows();
}

void CalendarWidget::showEvent(QShowEvent* event)
{
    QCalendarWidget::showEvent(event);
    fitDayRows();
}

void CalendarWidget::fitDayRows()
{
    // The month table's rows stretch to the table by default: every month
    // needs six week rows, and below 7 x the rows' least height the last weeks
    // (the 27th to the 31st) fall off the table. The weekday names take a
    // low row of their own; the six weeks share the rest.
    auto* view = findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"));
    if (!view || !view->model()) {
        return;
    }
    QHeaderView* rows = view->verticalHeader();
    rows->setMinimumSectionSize(1);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    const int count = view->model()->rowCount();
    const int weeks = horizontalHeaderFormat() == QCalendarWidget::NoHorizontalHeader ? count : count - 1;
    if (weeks <= 0) {
        return;
    }
    const int available = view->viewport()->height();
    const int header = count > weeks ? std::min(kWeekdayRowHeight, available / (weeks + 1)) : 0;
    const int week = (available - header) / weeks;
    int used = 0;
    for (int row = 0; row < count; ++row) {
        int h = count > weeks && row == 0 ? header : week;
        if (row == count - 1) {
            h = std::max(1, available - used);
        }
        rows->resizeSection(row, h);
        used += h;
    }
}

bool CalendarWidget::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == prevBtn || watched == nextBtn)
        && (event->type() == QEvent::Enter || event->type() == QEvent::Leave)) {
        const bool hovered = event->type() == QEvent::Enter;
        const QString name = watched == prevBtn ? QStringLiteral("Arrow2Left") : QStringLiteral("Arrow2Right");
        static_cast<QToolButton*>(watched)->setIcon(
            QIcon(QStringLiteral(":/%1%2.png").arg(name, hovered ? QStringLiteral("_hovered") : QString())));
    }
    return QCalendarWidget::eventFilter(watched, event);
}

void CalendarWidget::setDate()
{
    shownDate = selectedDate();
    dateLabel->setText(shownDate.toString(QStringLiteral("yyyy年MM月dd日")));
}

void CalendarWidget::setNextDate()
{
    const int year = yearShown();
    const int month = monthShown();
    const int day = std::min(shownDate.isValid() ? shownDate.day() : 1, QDate(year, month, 1).daysInMonth());
    const QDate date(year, month, day);
    shownDate = date;
    // Selecting turns no page here: the page already shows this month.
    setSelectedDate(date);
    dateLabel->setText(date.toString(QStringLiteral("yyyy年MM月dd日")));
}

_EditDateTime::_EditDateTime(QWidget* parent, int fieldMode)
    : QLineEdit(parent)
    , mode(fieldMode)
{
    setFont(QFont(QStringLiteral("SimHei"), 10));
    setStyleSheet(fieldSheet(mode == 2, false));
    setReadOnly(mode == 0);
}

void _EditDateTime::addTime(QTime t)
{
    setText(t.toString(kTimeFormat));
    storedTime = t;
}

bool _EditDateTime::event(QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress && mode == 1) {
        const QPoint p = offsetThroughAncestors(this) + QPoint(0, height() + 10);
        closeRollingTime();
        auto* drum = new _RollingTime(nullptr);
        drum->setAttribute(Qt::WA_DeleteOnClose);
        // The drums open at the time the field holds: the stored one, else the
        // one it shows; a field with neither keeps the drums at the present time.
        QTime start = storedTime;
        if (!start.isValid()) {
            start = QTime::fromString(text(), kTimeFormat);
        }
        if (start.isValid()) {
            drum->hourBox->currentValue = start.hour();
            drum->minuteBox->currentValue = start.minute();
            drum->secondBox->currentValue = start.second();
        }
        gpRollingTime = drum;
        drum->adjustSize();
        drum->move(placeOnScreen(p, drum->size()));
        drum->setWindowModality(Qt::WindowModal);
        connect(drum, &_RollingTime::confirmOnClicked, this, &_EditDateTime::addTime);
        drum->show();
    }
    return QLineEdit::event(e);
}

DateTimeWidget::DateTimeWidget(QWidget* parent)
    : QDialog(parent)
{
    setFixedSize(860, 540);
    setFont(QFont(QStringLiteral("SimHei"), 13));

    auto* topbar = new QWidget(this);
    topbar->setObjectName(QStringLiteral("topbar"));
    topbar->setFixedSize(840, 60);
    auto makeField = [this, topbar](int fieldMode, const char* placeholder) {
        auto* field = new _EditDateTime(topbar, fieldMode);
        field->setPlaceholderText(QString::fromUtf8(placeholder));
        field->setFixedSize(150, 30);
        field->setFont(font());
        return field;
    };
    fromDateEdit = makeField(0, "开始日期");
    fromTimeEdit = makeField(1, "开始时间");
    auto* arrow = new QLabel(QStringLiteral(">"), topbar);
    arrow->setFixedSize(20, 30);
    arrow->setAlignment(Qt::AlignCenter);
    toDateEdit = makeField(0, "结束日期");
    toTimeEdit = makeField(1, "结束时间");
    auto* topLayout = new QHBoxLayout(topbar);
    topLayout->setSpacing(10);
    topLayout->setContentsMargins(10, 15, 10, 15);
    for (QWidget* w : {static_cast<QWidget*>(fromDateEdit), static_cast<QWidget*>(fromTimeEdit),
                       static_cast<QWidget*>(arrow), static_cast<QWidget*>(toDateEdit),
                       static_cast<QWidget*>(toTimeEdit)}) {
        topLayout->addWidget(w);
    }
    auto* close = new QPushButton(this);
    close->setObjectName(QStringLiteral("cancelbtn"));
    close->setGeometry(835, 5, 20, 20);
    connect(close, &QPushButton::clicked, this, &DateTimeWidget::rejectDialog);

    auto* dateWgt = new QWidget(this);
    dateWgt->setObjectName(QStringLiteral("dateWgt"));
    dateWgt->setFixedSize(840, 400);
    leftCalendar = new CalendarWidget(dateWgt);
    leftCalendar->setFixedSize(400, 400);
    auto* line = new QFrame(dateWgt);
    line->setFrameShape(QFrame::VLine);
    line->setStyleSheet(QStringLiteral("QFrame{color: rgba(0,0,0,0.5);width: 1px;}"));
    rightCalendar = new CalendarWidget(dateWgt);
    rightCalendar->setFixedSize(400, 400);
    auto* dateLayout = new QHBoxLayout(dateWgt);
    dateLayout->setSpacing(5);
    dateLayout->setContentsMargins(5, 0, 0, 0);
    dateLayout->addWidget(leftCalendar);
    dateLayout->addWidget(line);
    dateLayout->addWidget(rightCalendar);
    connect(leftCalendar, &QCalendarWidget::clicked, this, &DateTimeWidget::addFromDate);
    connect(rightCalendar, &QCalendarWidget::clicked, this, &DateTimeWidget::addToDate);

    auto* bottombar = new QWidget(this);
    bottombar->setObjectName(QStringLiteral("bottombar"));
    bottombar->setFixedSize(840, 50);
    auto* clear = flatButton(QStringLiteral("清空"), QStringLiteral("#2175D3"), bottombar);
    connect(clear, &QPushButton::clicked, this, &DateTimeWidget::clearAll);
    auto* ok = flatButton(QStringLiteral("确定"), QStringLiteral("black"), bottombar);
    connect(ok, &QPushButton::clicked, this, &DateTimeWidget::setDateTime);
    auto* bottomLayout = new QHBoxLayout(bottombar);
    bottomLayout->addStretch();
    bottomLayout->addWidget(clear);
    bottomLayout->addWidget(ok);
    bottomLayout->setSpacing(20);
    bottomLayout->setContentsMargins(0, 5, 20, 5);

    auto* layout = new QVBoxLayout(this);
    // The bars are as wide as the dialog's inside: no margins of the style's.
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(0);
    layout->addWidget(topbar);
    layout->addWidget(dateWgt);
    layout->addWidget(bottombar);
    layout->addStretch();
    setObjectName(QStringLiteral("dateTimeWidget"));
    setStyleSheet(QStringLiteral(
        "QWidget#dateTimeWidget{background-color: white;}QWidget#topbar{border-bottom: 1px solid rgba(0,0,0,0.5);}"
        "QWidget#bottombar{border-top: 1px solid rgba(0,0,0,0.5);}QPushButton#cancelbtn{background-color: red;"
        "border-radius: 10px;border-image: url(:/Close.png)}"));
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
}

DateTimeWidget::~DateTimeWidget() = default;

void DateTimeWidget::addFromDate(QDate d)
{
    fromDateEdit->setText(d.toString(kDateFormat));
    fromDate = d;
}

void DateTimeWidget::addToDate(QDate d)
{
    toDateEdit->setText(d.toString(kDateFormat));
    toDate = d;
}

void DateTimeWidget::clearAll()
{
    for (_EditDateTime* field : {fromDateEdit, fromTimeEdit, toDateEdit, toTimeEdit}) {
        field->clear();
    }
}

void DateTimeWidget::setDateTime()
{
    auto at = [](const QDate& day, const QTime& time) {
        if (!day.isValid()) {
            return QDateTime();
        }
        return QDateTime(day, time.isValid() ? time : QTime(0, 0));
    };
    fromDateTime = at(fromDate, fromTimeEdit->storedTime);
    toDateTime = at(toDate, toTimeEdit->storedTime);
    if (!toDateTime.isValid()) {
        toDateTime = clockNow();
    }
    if (!fromDateTime.isValid()) {
        fromDateTime = clockNow().addDays(-1);
    }
    if (!(fromDateTime < toDateTime)) {
        if (askOperator(textOf(633), 2) == 1) {
            return;
        }
        toDateTime = clockNow();
        fromDateTime = toDateTime.addDays(-1);
    }
    emit sendDateTime(dayTime{fromDateTime, toDateTime});
    closeRollingTime();
    gpDateTimeWidget = nullptr;
    accept();
}

void DateTimeWidget::rejectDialog()
{
    gpDateTimeWidget = nullptr;
    reject();
}

void DateTimeWidget::done(int r)
{
    if (gpDateTimeWidget == this) {
        gpDateTimeWidget = nullptr;
    }
    closeRollingTime();
    QDialog::done(r);
}

bool DateTimeWidget::event(QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress) {
        closeRollingTime();
    }
    return QDialog::event(e);
}

FromTimeToTime::FromTimeToTime(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(420, 40);
    fromEdit = new _EditDateTime(this, 2);
    fromEdit->setFixedSize(180, 40);
    fromEdit->setPlaceholderText(QStringLiteral("开始日期"));
    auto* dash = new QLabel(QStringLiteral("-"), this);
    dash->setFixedSize(10, 40);
    toEdit = new _EditDateTime(this, 2);
    toEdit->setFixedSize(180, 40);
    toEdit->setPlaceholderText(QStringLiteral("结束日期"));
    for (_EditDateTime* field : {fromEdit, toEdit}) {
        field->setAlignment(Qt::AlignCenter);
        // Disabled, so that touches reach the strip.
        field->setEnabled(false);
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(fromEdit);
    layout->addWidget(dash);
    layout->addWidget(toEdit);
    setObjectName(QStringLiteral("fromtimetotime"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("QWidget#fromtimetotime{background-color: white;border-radius: 4px;}"
                                 "QLabel{background-color: white;color: black;}"));
}

void FromTimeToTime::setFromDateTime(QDateTime dt)
{
    fromDateTime = dt;
    fromEdit->setText(dt.toString(kRangeFormat));
}

void FromTimeToTime::setToDateTime(QDateTime dt)
{
    toDateTime = dt;
    toEdit->setText(dt.toString(kRangeFormat));
}

void FromTimeToTime::clear()
{
    fromEdit->clear();
    toEdit->clear();
}

bool FromTimeToTime::event(QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress) {
        ++pressCount;
        const QPoint p = offsetThroughAncestors(this) + QPoint(0, height());
        if (!gpDateTimeWidget) {
            std::unique_ptr<DateTimeWidget> picker(new DateTimeWidget(nullptr));
            if (fromDateTime.isValid()) {
                // Its day first: turning to its month keeps the day it shows.
                picker->leftCalendar->shownDate = fromDateTime.date();
                picker->leftCalendar->setSelectedDate(fromDateTime.date());
                picker->leftCalendar->setDate();
                picker->addFromDate(fromDateTime.date());
                picker->fromTimeEdit->addTime(fromDateTime.time());
            }
            if (toDateTime.isValid()) {
                picker->rightCalendar->shownDate = toDateTime.date();
                picker->rightCalendar->setSelectedDate(toDateTime.date());
                picker->rightCalendar->setDate();
                picker->addToDate(toDateTime.date());
                picker->toTimeEdit->addTime(toDateTime.time());
            }
            gpDateTimeWidget = picker.get();
            picker->move(placeOnScreen(p, picker->size()));
            QPointer<FromTimeToTime> self(this);
            const int result = picker->exec();
            if (self && result == QDialog::Accepted) {
                setFromDateTime(picker->fromDateTime);
                setToDateTime(picker->toDateTime);
            }
            if (!self) {
                return true;
            }
        }
    }
    return QWidget::event(e);
}

modifyTimeWidget::modifyTimeWidget(QWidget* parent)
    : QDialog(parent)
{
    const QDateTime now = clockNow();
    chosenDate = now.date();
    chosenTime = now.time();
    setFixedSize(420, 480);
    setFont(QFont(QStringLiteral("SimHei"), 12));

    auto* topbar = new QWidget(this);
    topbar->setObjectName(QStringLiteral("topbar"));
    topbar->setFixedSize(400, 60);
    dateEdit = new _EditDateTime(topbar, 0);
    dateEdit->setPlaceholderText(QStringLiteral("修改日期"));
    dateEdit->setFixedSize(135, 30);
    dateEdit->setText(chosenDate.toString(kDateFormat));
    timeEdit = new _EditDateTime(topbar, 1);
    timeEdit->setPlaceholderText(QStringLiteral("修改时间"));
    timeEdit->setFixedSize(135, 30);
    timeEdit->setText(chosenTime.toString(kTimeFormat));
    auto* topLayout = new QHBoxLayout(topbar);
    topLayout->addStretch();
    topLayout->addWidget(dateEdit);
    topLayout->addSpacing(40);
    topLayout->addWidget(timeEdit);
    topLayout->addStretch();
    topLayout->setContentsMargins(10, 15, 10, 15);

    auto* dateWgt = new QWidget(this);
    dateWgt->setObjectName(QStringLiteral("dateWgt"));
    dateWgt->setFixedSize(400, 320);
    calendar = new CalendarWidget(dateWgt);
    // The whole band: centred at its own size hint, the calendar was shorter
    // than its six weeks and lost the last ones.
    calendar->setFixedSize(398, 318);
    auto* dateLayout = new QHBoxLayout(dateWgt);
    dateLayout->setContentsMargins(1, 1, 1, 1);
    dateLayout->addWidget(calendar, 0, Qt::AlignCenter);
    connect(calendar, &QCalendarWidget::clicked, this, &modifyTimeWidget::addDate);

    auto* bottombar = new QWidget(this);
    bottombar->setObjectName(QStringLiteral("bottombar"));
    bottombar->setFixedSize(400, 60);
    auto* clear = flatButton(QStringLiteral("清空"), QStringLiteral("#2175D3"), bottombar);
    connect(clear, &QPushButton::clicked, this, &modifyTimeWidget::clearAll);
    auto* ok = flatButton(QStringLiteral("确定"), QStringLiteral("black"), bottombar);
    connect(ok, &QPushButton::clicked, this, &modifyTimeWidget::acceptDialog);
    auto* bottomLayout = new QHBoxLayout(bottombar);
    bottomLayout->addStretch();
    bottomLayout->addWidget(clear);
    bottomLayout->addWidget(ok);
    bottomLayout->setSpacing(20);
    bottomLayout->setContentsMargins(0, 0, 20, 0);

    // A title bar in the kit's look says what the dialog sets.
    auto* title = new QLabel(textOf(401), this);
    title->setObjectName(QStringLiteral("titleLabel"));
    title->setFixedHeight(40);
    title->setContentsMargins(15, 0, 15, 0);
    title->setStyleSheet(QStringLiteral("QLabel#titleLabel{background-color: #353D45;color: #FFFFFF;font-family: SimHei;"
                                        "font-size: 20px;}"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 0, 10, 0);
    layout->setSpacing(0);
    layout->addWidget(title);
    layout->addWidget(topbar);
    layout->addWidget(dateWgt);
    layout->addWidget(bottombar);
    layout->addStretch();
    setObjectName(QStringLiteral("modifyDateTimeWidget"));
    setStyleSheet(QStringLiteral("QDialog#modifyDateTimeWidget{background-color: white;}QWidget#topbar{background-color: "
                                 "white;}QWidget#bottombar{background-color: white;}QWidget#dateWgt{background-color: "
                                 "white;border-top: 1px solid black;border-bottom: 1px solid black;}"));
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
}

void modifyTimeWidget::addDate(QDate date)
{
    dateEdit->setText(date.toString(kDateFormat));
    chosenDate = date;
    dateEdit->setStyleSheet(fieldSheet(false, false));
}

void modifyTimeWidget::clearAll()
{
    dateEdit->clear();
    timeEdit->clear();
}

void modifyTimeWidget::acceptDialog()
{
    closeRollingTime();
    // The clock is set from what this dialog announces: an empty date or an
    // unreadable time is marked for the operator, never taken for midnight.
    const QTime time = QTime::fromString(timeEdit->text(), kTimeFormat);
    const bool dateOk = !dateEdit->text().isEmpty() && chosenDate.isValid();
    dateEdit->setStyleSheet(fieldSheet(false, !dateOk));
    timeEdit->setStyleSheet(fieldSheet(false, !time.isValid()));
    if (!dateOk || !time.isValid()) {
        return;
    }
    chosenTime = time;
    chosenDateTime = QDateTime(chosenDate, chosenTime);
    emit sendModifyTime(chosenDateTime);
    accept();
}

bool modifyTimeWidget::event(QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress) {
        closeRollingTime();
    }
    return QDialog::event(e);
}
