#pragma once

#include "networkdefaults.h"

// Puts the REST thermal camera's candidate addresses and ports of a test in
// place for its lifetime and the previous ones back afterwards.
class ThermalNetworkScope {
public:
    explicit ThermalNetworkScope(const RestThermalNetwork& network);
    ThermalNetworkScope(const QString& candidatePattern, quint16 restPort, quint16 streamPort);
    ~ThermalNetworkScope();
    ThermalNetworkScope(const ThermalNetworkScope&) = delete;
    ThermalNetworkScope& operator=(const ThermalNetworkScope&) = delete;

private:
    RestThermalNetwork previous;
};
