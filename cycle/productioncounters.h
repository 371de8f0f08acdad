#pragma once

#include "systemcounts.h"

#include <QString>
#include <QVector>
#include <QtGlobal>

// The production counters the shift is paid by: inspected and NG cycles per
// camera and overall. They live in memory (the cycle counts, the Modbus server
// publishes them) and are mirrored in "count.txt" so a restart keeps them.
constexpr int CounterCameras = MaxCameras;

extern qint32 gTotalCount[CounterCameras];
extern qint32 gNgCount[CounterCameras];
extern qint32 gTotalCycles;
extern qint32 gNgCycles;

// A per-camera count above this (or negative) in "count.txt" is taken for a
// damaged file and starts at 0.
constexpr quint32 CounterReadLimit = 100000000u;

// Sets every counter to 0.
void clearCounters();

// The 18 counters as stored: camera 0 total and NG, ... camera 7 total and NG,
// then overall total and NG, each followed by one space, no line end.
QByteArray countFileText();

// Replaces "count.txt" (or path) atomically with countFileText(); a crash or a
// full disk leaves the previous content. Returns false when nothing was stored.
bool writeCountFile(const QString& path = QStringLiteral("count.txt"));

// Reads the counters back: a missing file gives all 0; numbers may be separated
// by any white space; a missing, non-numeric or out-of-range number reads as 0;
// per-camera counts above CounterReadLimit or below 0 read as 0, the overall
// counts are taken as they are.
void readCountFile(const QString& path = QStringLiteral("count.txt"));

// Read registers from 50 on: overall total, NG and OK (32-bit, high word
// first), then total, NG and OK of each camera below cameraCount.
QVector<quint16> counterRegisters(int cameraCount);
constexpr int CounterFirstRegister = 50;
