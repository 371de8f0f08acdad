#include "networkdefaults.h"
#include <QStringList>

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

InfraredNetwork defaultInfraredNetwork()
{
    InfraredNetwork network;
#ifdef KORVANE_PANEL
    network.candidatePattern = QStringLiteral("192.168.%1.64");
#else
    network.candidatePattern = QStringLiteral("127.0.%1.64");
#endif
    return network;
}

InfraredNetwork& infraredNetwork()
{
    static InfraredNetwork network = defaultInfraredNetwork();
    return network;
}

QString infraredCandidate(int thirdOctet)
{
    if (thirdOctet < 0 || thirdOctet > 255) {
        return QString();
    }
    return infraredNetwork().candidatePattern.arg(thirdOctet);
}

bool infraredCandidateAllowed(const QString& address)
{
#ifdef KORVANE_PANEL
    Q_UNUSED(address);
    return true;
#else
    const QStringList parts = address.split(QLatin1Char('.'));
    if (parts.size() != 4) {
        return false;
    }
    for (const QString& part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || value < 0 || value > 255 || part.size() > 3) {
            return false;
        }
    }
    return parts.at(0) == QLatin1String("127");
#endif
}
