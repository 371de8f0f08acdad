#pragma once

#include <QString>
#include <QtGlobal>

// Network addresses the program reaches on its own, without anyone naming
// them, all in this one place. Off the panel every one of them lies on the
// machine's own loopback network (127.0.0.0/8), so a development or test run
// never probes a plant network.

// The REST thermal camera: the addresses discovery probes, and its two ports.
struct RestThermalNetwork {
    // Candidate i (1 to kRestThermalCandidates) is this text with %1
    // replaced by i (the third number of the address).
    QString candidatePattern;
    // HTTP interface with JSON bodies.
    quint16 restPort = 0;
    // Raw 16-bit video stream.
    quint16 streamPort = 0;
};

constexpr int kRestThermalCandidates = 4;

// The built-in values.
RestThermalNetwork defaultRestThermalNetwork();
// The values in use, read on the GUI thread; tests replace them through their
// shared fixture and put them back.
RestThermalNetwork& restThermalNetwork();
// Candidate address i (1 to kRestThermalCandidates), else an empty text.
QString restThermalCandidate(int i);

// The infrared network camera: discovery logs in to one candidate per local
// network interface, the candidate's third number being the interface's.
struct InfraredNetwork {
    // The candidate is this text with %1 replaced by the third number.
    QString candidatePattern;
};

InfraredNetwork defaultInfraredNetwork();
// The values in use, read on the GUI thread; tests replace them through
// their shared fixture and put them back.
InfraredNetwork& infraredNetwork();
// The candidate address for a third number of 0 to 255, else an empty text.
QString infraredCandidate(int thirdOctet);
// Off the panel a candidate must lie on the loopback network: an address
// outside 127.0.0.0/8 is never contacted. Always true on the panel.
bool infraredCandidateAllowed(const QString& address);
