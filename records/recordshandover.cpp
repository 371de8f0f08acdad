#include "recordshandover.h"

#include "temperaturechartdata.h"

DetectResult currentRecordsResult()
{
    return TemperatureChartData::instance()->detectResult;
}

void setRecordsResult(const DetectResult& result)
{
    TemperatureChartData::instance()->setDetectResult(result);
}

void handOverToRecords(const DetectResult& result)
{
    TemperatureChartData* records = TemperatureChartData::instance();
    records->setDetectResult(result);
    records->updateLiveData();
    records->insertDetectResult();
}
