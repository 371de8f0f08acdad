#include "thermalnetworkscope.h"

ThermalNetworkScope::ThermalNetworkScope(const RestThermalNetwork& network) : previous(restThermalNetwork())
{
    restThermalNetwork() = network;
}

ThermalNetworkScope::ThermalNetworkScope(const QString& candidatePattern, quint16 restPort, quint16 streamPort)
    : previous(restThermalNetwork())
{
    restThermalNetwork().candidatePattern = candidatePattern;
    restThermalNetwork().restPort = restPort;
    restThermalNetwork().streamPort = streamPort;
}

ThermalNetworkScope::~ThermalNetworkScope()
{
    restThermalNetwork() = previous;
}
