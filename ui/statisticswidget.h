#pragma once

#include "resultquery.h"

#include <QDialog>
#include <QLabel>

class ComboBox;
class FromTimeToTime;
class Histogram;
class QPushButton;
class QStackedWidget;
class tipbox;
class ColorButton;

// The totals beside the bar chart of the production statistics.
class CameraStatisticsWidget : public QWidget {
    Q_OBJECT
public:
    explicit CameraStatisticsWidget(QWidget* parent = nullptr);

    Histogram* histogram = nullptr;
    QLabel* totalCount = nullptr;
    QLabel* totalNGCount = nullptr;
    QLabel* totalNGRate = nullptr;
};

// The production statistics dialog: cycles, NG cycles and NG rate of a time
// range and camera, detect and area, with the OK and NG cycles of each time
// bucket as bars. Opens on today, counted from the results in memory; "确定"
// reads a range from the archived days on the query thread.
class StatisticsWidget : public QDialog {
    Q_OBJECT
public:
    explicit StatisticsWidget(QWidget* parent = nullptr);

    // Back to today's figures with every filter at "全部"; the opener calls
    // it before every modal run.
    void showToday();

    void confirmQuery();
    void exportData();
    void closeButtonClicked();

    // Escape ends the dialog as the close button does.
    void reject() override;

    QStackedWidget* pStackedWidget = nullptr;
    ComboBox* cameraBox = nullptr;
    ComboBox* detectBox = nullptr;
    ComboBox* areaBox = nullptr;
    FromTimeToTime* timeRange = nullptr;
    CameraStatisticsWidget* cameraStatistics = nullptr;
    tipbox* loadingBox = nullptr;

    QPushButton* closeButton = nullptr;
    ColorButton* confirmButton = nullptr;
    ColorButton* exportButton = nullptr;

public slots:
    void changeLeftInfo();
    void comboxChange(int index);
    void finishSearch();

protected:
    bool event(QEvent* e) override;

private:
    // The boxes' filter over the range picker's range.
    ResultQuery boxQuery() const;
    // Today's counts under the boxes' filter, axis and all.
    void countToday();
    // Set from "确定" until its result has been shown; a result that comes
    // when the dialog no longer waits for it is not shown.
    bool m_waitingForResult = false;
};

extern StatisticsWidget* gpStatisticsWidget;
