#include "stationhost.h"

#include <atomic>

namespace {
std::atomic<StationHost*> gHost{nullptr};
} // namespace

StationHost* stationHost()
{
    return gHost.load();
}

void setStationHost(StationHost* host)
{
    gHost.store(host);
}

void clearStationHost(StationHost* host)
{
    StationHost* expected = host;
    gHost.compare_exchange_strong(expected, nullptr);
}

QVector<QRgb> greyRampTable()
{
    QVector<QRgb> table(256);
    for (int v = 0; v < 256; ++v) {
        table[v] = qRgb(v, v, v);
    }
    return table;
}
