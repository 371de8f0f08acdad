#pragma once

#include <QDialog>
#include <QPointer>

// The temperature chart dialog, made on first use and kept; shown non-modally.
class TemperatureChartWidget : public QDialog {
    Q_OBJECT
public:
    explicit TemperatureChartWidget(QWidget* parent = nullptr);
    // Switches to the live view.
    void showRealTime();
    int realTimeShown = 0;
};

extern QPointer<TemperatureChartWidget> gpTemperatureChartWidget;
