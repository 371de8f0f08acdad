#include "temperaturechartdata.h"

TemperatureChartData* gpTemperatureChartData = nullptr;

TemperatureChartData::TemperatureChartData() = default;

TemperatureChartData* TemperatureChartData::instance()
{
    if (!gpTemperatureChartData) {
        gpTemperatureChartData = new TemperatureChartData;
    }
    return gpTemperatureChartData;
}

void TemperatureChartData::init()
{
}

void TemperatureChartData::setRegularRecordingInterval(int minutes)
{
    m_intervalMinutes = minutes;
}
