#pragma once

#include <QCalendarWidget>
#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTime>

class QLabel;
class QToolButton;
class _RollingTime;

// A confirmed range: from, then to.
struct dayTime {
    QDateTime from;
    QDateTime to;
};
Q_DECLARE_METATYPE(dayTime)

// Month calendar with its own top bar: previous month, the chosen date, next month.
class CalendarWidget : public QCalendarWidget {
    Q_OBJECT
public:
    explicit CalendarWidget(QWidget* parent = nullptr);

    QLabel* dateLabel = nullptr;
    QToolButton* prevBtn = nullptr;
    QToolButton* nextBtn = nullptr;
    QDate shownDate;

public slots:
    void setDate();
    void setNextDate();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fitDayRows();
};

// Date or time field of the pickers. mode: 0 date (read-only), 1 time (opens
// the time drum), 2 borderless field of the range strip.
class _EditDateTime : public QLineEdit {
    Q_OBJECT
public:
    _EditDateTime(QWidget* parent = nullptr, int mode = 0);

    int mode = 0;
    QTime storedTime;

public slots:
    void addTime(QTime t);

protected:
    bool event(QEvent* e) override;
};

// The range picker: two calendars and four date and time fields.
class DateTimeWidget : public QDialog {
    Q_OBJECT
public:
    explicit DateTimeWidget(QWidget* parent = nullptr);
    ~DateTimeWidget() override;

    _EditDateTime* fromDateEdit = nullptr;
    _EditDateTime* fromTimeEdit = nullptr;
    _EditDateTime* toDateEdit = nullptr;
    _EditDateTime* toTimeEdit = nullptr;
    CalendarWidget* leftCalendar = nullptr;
    CalendarWidget* rightCalendar = nullptr;
    QDate fromDate;
    QDate toDate;
    QDateTime fromDateTime;
    QDateTime toDateTime;

signals:
    void sendDateTime(dayTime range);

public slots:
    void addFromDate(QDate d);
    void addToDate(QDate d);
    void clearAll();
    void setDateTime();
    void rejectDialog();

public:
    // However the picker ends (Escape included) it is no longer the open one.
    void done(int r) override;

protected:
    bool event(QEvent* e) override;
};

// The white from–to strip of the record screens; a touch opens the picker.
class FromTimeToTime : public QWidget {
    Q_OBJECT
public:
    explicit FromTimeToTime(QWidget* parent = nullptr);

    void setFromDateTime(QDateTime dt);
    void setToDateTime(QDateTime dt);
    void clear();

    int pressCount = 0;
    _EditDateTime* fromEdit = nullptr;
    _EditDateTime* toEdit = nullptr;
    QDateTime fromDateTime;
    QDateTime toDateTime;

protected:
    bool event(QEvent* e) override;
};

// The clock dialog: one date and one time, announced by sendModifyTime.
class modifyTimeWidget : public QDialog {
    Q_OBJECT
public:
    explicit modifyTimeWidget(QWidget* parent = nullptr);

    CalendarWidget* calendar = nullptr;
    _EditDateTime* dateEdit = nullptr;
    _EditDateTime* timeEdit = nullptr;
    QDate chosenDate;
    QTime chosenTime;
    QDateTime chosenDateTime;

signals:
    void sendModifyTime(QDateTime dateTime);

public slots:
    void addDate(QDate date);
    void clearAll();
    void acceptDialog();

protected:
    bool event(QEvent* e) override;
};

extern QPointer<DateTimeWidget> gpDateTimeWidget;
extern QPointer<_RollingTime> gpRollingTime;

// Closes the open time drum, if any, and forgets it.
void closeRollingTime();
