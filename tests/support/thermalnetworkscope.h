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

// The same for the infrared network camera's candidate addresses.
class InfraredNetworkScope {
public:
    explicit InfraredNetworkScope(const QString& candidatePattern) : previous(infraredNetwork())
    {
        infraredNetwork().candidatePattern = candidatePattern;
    }
    ~InfraredNetworkScope() { infraredNetwork() = previous; }
    InfraredNetworkScope(const InfraredNetworkScope&) = delete;
    InfraredNetworkScope& operator=(const InfraredNetworkScope&) = delete;

private:
    InfraredNetwork previous;
};
