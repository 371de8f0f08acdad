#pragma once

#include "stationhost.h"

// A station host that keeps what the main window starts with: the first
// detect running, the grey ramp, no pan and no
// zoom, and nothing kept of the probe, the operation log or the cycle values.
// Tests and benchmarks derive from it and override only what they watch.
struct QuietStationHost : StationHost {
    int detectRunning() override { return 0; }
    QVector<QRgb> grayColourTable() override { return greyRampTable(); }
    double panX() override { return 0; }
    double panY() override { return 0; }
    double zoomX() override { return 1; }
    double zoomY() override { return 1; }
    void setProbe(int, int) override {}
    void setProbeValue(quint32) override {}
    void insertRecord(const QString&) override {}
    void appendCycleValue(int) override {}
};
