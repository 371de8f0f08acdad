#pragma once

#include "detectresult.h"

#include <QImage>
#include <QString>
#include <QVector>
#include <QRgb>

// What a camera station needs of the main window beyond the operating state
// (the detect edited, the drawing mode, the camera shown and the screen
// mode): the detect the cycle runs, the grey colour table of the bitmaps it
// writes, the view's offset and zoom, the pixel probe and the operation log.
// The window sits above the stations and registers itself when it is built;
// without it (tools, tests) a station falls back to the values the window
// starts with.
class StationHost {
public:
    virtual ~StationHost() = default;

    virtual int detectRunning() = 0;
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

    // The view's state. The defaults are what a window that keeps none of it
    // means: no finger drawing, no copy armed, no hint timer and no record
    // picture loaded.
    virtual bool freehandDrawing() { return false; }
    virtual bool copyAreaArmed() { return false; }
    virtual void setCopyAreaArmed(bool) {}
    // Starts the window's drawing hint timer (single shot, ms).
    virtual void startDrawHint(int) {}
    // The area panel's loaded OK or NG record picture and its picture count.
    virtual int recordPictureCount() { return 0; }
    virtual QImage recordPicture() { return QImage(); }
};

StationHost* stationHost();
void setStationHost(StationHost* host);
// Clears the registration only if it is still this one's.
void clearStationHost(StationHost* host);

// The grey ramp the window's table holds.
QVector<QRgb> greyRampTable();
