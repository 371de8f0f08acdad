#include "datathread.h"

#include "temperaturechartdata.h"

dataThread::dataThread(TemperatureChartData* records)
    : m_records(records)
{
    setObjectName(QStringLiteral("dataThread"));
}

void dataThread::run()
{
    m_records->runQueryPass();
}
