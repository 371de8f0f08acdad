#pragma once

#include <QDialog>
#include <QPointer>

// The production statistics dialog, made on first use and kept.
class StatisticsWidget : public QDialog {
    Q_OBJECT
public:
    explicit StatisticsWidget(QWidget* parent = nullptr);
    // Loads today's view; called before it is run.
    void showToday();
    int todayShown = 0;
};

extern QPointer<StatisticsWidget> gpStatisticsWidget;
