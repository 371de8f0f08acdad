#pragma once

#include "detectresult.h"

#include <QString>
#include <QVector>
#include <QRgb>

// What a camera station needs of the main window: the detect the cycle runs
// and the one being edited, the editor's drawing mode, the grey colour table of
// the bitmaps it writes, the view's offset and zoom and the pixel probe, the
// operation log and the records service. The window sits above the stations
// and registers itself when it is built; without it (tools, tests) a station
// falls back to the values the window starts with.
class StationHost {
public:
    virtual ~StationHost() = default;

    virtual int detectRunning() = 0;
    virtual int detectEdited() = 0;
    virtual int editorDrawMode() = 0;
    virtual void setEditorDrawMode(int mode) = 0;
    // 256 entries, entry v = grey v.
    virtual QVector<QRgb> grayColourTable() = 0;
    virtual double panX() = 0;
    virtual double panY() = 0;
    virtual double zoomX() = 0;
    virtual double zoomY() = 0;
    // The frame position under the finger and its pixel value.
    virtual void setProbe(int x, int y) = 0;
    virtual void setProbeValue(quint32 value) = 0;
    virtual void insertRecord(const QString& text) = 0;
    virtual void appendCycleValue(int value) = 0;
    virtual DetectResult currentResult() = 0;
    virtual void handOverResult(const DetectResult& result) = 0;
};

StationHost* stationHost();
void setStationHost(StationHost* host);
// Clears the registration only if it is still this one's.
void clearStationHost(StationHost* host);

// The grey ramp the window's table holds.
QVector<QRgb> greyRampTable();
