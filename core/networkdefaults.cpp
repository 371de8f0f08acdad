#include "networkdefaults.h"

RestThermalNetwork defaultRestThermalNetwork()
{
    RestThermalNetwork network;
#ifdef KORVANE_PANEL
    network.candidatePattern = QStringLiteral("192.168.%1.100");
#else
    network.candidatePattern = QStringLiteral("127.0.%1.100");
#endif
    network.restPort = 10080;
    network.streamPort = 10081;
    return network;
}

RestThermalNetwork& restThermalNetwork()
{
    static RestThermalNetwork network = defaultRestThermalNetwork();
    return network;
}

QString restThermalCandidate(int i)
{
    if (i < 1 || i > kRestThermalCandidates) {
        return QString();
    }
    return restThermalNetwork().candidatePattern.arg(i);
}
