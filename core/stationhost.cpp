#include "stationhost.h"

#include "hostregistry.h"

namespace {
HostRegistry<StationHost> gHost;
} // namespace

StationHost* stationHost()
{
    return gHost.get();
}

void setStationHost(StationHost* host)
{
    gHost.set(host);
}

void clearStationHost(StationHost* host)
{
    gHost.clear(host);
}

QVector<QRgb> greyRampTable()
{
    QVector<QRgb> table(256);
    for (int v = 0; v < 256; ++v) {
        table[v] = qRgb(v, v, v);
    }
    return table;
}
