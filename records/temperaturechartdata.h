#pragma once

#include <QObject>

// The records service: result database, today's live data and the regular
// temperature recording. For now it keeps only the recording interval.
class TemperatureChartData : public QObject {
    Q_OBJECT
public:
    TemperatureChartData();

    static TemperatureChartData* instance();

    void init();
    void setRegularRecordingInterval(int minutes);
    int regularRecordingInterval() const { return m_intervalMinutes; }

private:
    int m_intervalMinutes = 30;
};

extern TemperatureChartData* gpTemperatureChartData;
