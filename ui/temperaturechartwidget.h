#pragma once

#include "mcustomplot.h"
#include "resultquery.h"

#include <QDialog>

class ColorButton;
class ComboBox;
class Edit;
class FromTimeToTime;
class QCheckBox;
class QPushButton;
class tipbox;

// The temperature waveform dialog: the temperatures of the thermal cameras'
// alarm areas as curves, live or over a stored range, filtered by camera,
// detect and area; exports a range and holds the regular recording interval.
// Shown without modality beside the running cycle, for hours or days.
class TemperatureChartWidget : public QDialog {
    Q_OBJECT
public:
    explicit TemperatureChartWidget(QWidget* parent = nullptr);

    // Live view of today; the opener calls it before every showing.
    void showRealTime();

    void confirmQuery();
    void exportData();
    void setRegularTime();
    void closeButtonClicked();

    void reject() override;

    ComboBox* cameraBox = nullptr;
    ComboBox* detectBox = nullptr;
    ComboBox* areaBox = nullptr;
    mCustomPlot* customPlot = nullptr;
    FromTimeToTime* timeRange = nullptr;
    tipbox* loadingBox = nullptr;

    QCheckBox* regularBox = nullptr;
    Edit* minutesEdit = nullptr;
    QPushButton* closeButton = nullptr;
    ColorButton* confirmButton = nullptr;
    ColorButton* exportButton = nullptr;

    // The minutes the field accepts; 0 would stop the recording at the next
    // start and spin a zero-interval timer now.
    static constexpr int kMinMinutes = 1;
    static constexpr int kMaxMinutes = 100;

public slots:
    void comboxChange(int index);
    void finishSearch();
    void finishExport();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    ResultQuery boxQuery() const;
    bool m_waitingForResult = false;
};

extern TemperatureChartWidget* gpTemperatureChartWidget;
