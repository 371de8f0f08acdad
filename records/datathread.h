#pragma once

#include <QThread>

class TemperatureChartData;

// The thread of the history queries. Each start runs one pass of the records
// service on a new thread; the pass's results are installed on the GUI thread,
// which then emits the signals below (the screens connect to them by name).
class dataThread : public QThread {
    Q_OBJECT
public:
    explicit dataThread(TemperatureChartData* records);

signals:
    // The temperature series of the pass are in historySeries.
    void readTempFinished();
    // The axis and the cycle counts of the pass are in place.
    void readResFinished();

protected:
    void run() override;

private:
    TemperatureChartData* m_records;
};
