#pragma once

#include "systemcounts.h"

#include <QtGlobal>

#include <opencv2/core.hpp>

#include <vector>

class CammerSingleton;
class InspectionPeers;

// The camera station's data that the inspection engine reads and writes: the
// frame buffers, the template library, the ignore pictures, the area masks of
// both area sets and the per-area results. The camera station owns it (it is
// the station's own record, the widget around it only shows it), so the engine
// can be driven and tested without any widget.
//
// Frames are rows of imageWidth pixels without gaps: one byte per pixel, or in
// colour mode (gColorMode) four bytes per pixel as the driver delivers them.
// Every buffer keeps its size from allocate() on; a frame size that changes
// later without a new allocate() is caught by the engine (bufferSize and the
// buffers no longer agree) and judged as an error, never read past the end.
struct StationData {
    static constexpr int DetectCount = DetectsPerCamera;
    static constexpr int AreasPerDetect = ::AreasPerDetect;
    static constexpr int SlotCount = DetectCount * AreasPerDetect;
    // Blob boxes kept per area, and the int32 entries of one area's box table
    // (entry 0 the count, box k in entries 4k to 4k + 3).
    static constexpr int MaxBlobs = 99;
    static constexpr int BlobEntries = 400;

    StationData() = default;
    StationData(const StationData&) = delete;
    StationData& operator=(const StationData&) = delete;

    // Sizes every buffer for frames of width x height (four bytes per pixel
    // when colour is set), all zero; results back to their start values.
    // Nothing else is touched. Detects below detectsInUse get their ignore
    // picture and templatesPerDetect empty sample slots; a sample's frame is
    // only allocated while its slot is occupied, because a library of up to
    // 100 full frames per detect made up front would not fit in memory for
    // eight large cameras.
    void allocate(int width, int height, bool colour, int templatesPerDetect,
                  int detectsInUse = DetectCount);

    // Occupies sample slot k of detect d: its buffer is allocated (bufferSize
    // bytes, zero) if absent, its flag set and counted once. Returns the
    // buffer, or null for a slot that does not exist.
    uchar* occupyTemplate(int d, int k);
    // Frees sample slot k of detect d: buffer released, flag and count down.
    void freeTemplate(int d, int k);
    // Sample buffers currently allocated (all detects).
    int allocatedTemplates() const;

    // The engine's view of a frame buffer: an 8-bit header of imageHeight rows
    // over the buffer (four channels in colour mode), or an empty matrix when
    // the buffer does not hold exactly bufferSize bytes.
    cv::Mat frameHeader(std::vector<uchar>& buffer, bool colour) const;
    // A frame-sized single-channel header, or empty when the buffer does not
    // hold exactly pixelCount bytes.
    cv::Mat planeHeader(std::vector<uchar>& buffer) const;

    // Area sets (owned by the station, not by this record).
    CammerSingleton* pLiveSingleton = nullptr;
    CammerSingleton* pEditSingleton = nullptr;
    // Where the engine's results, events and questions go; not owned.
    InspectionPeers* peers = nullptr;

    qint32 cameraIndex = 0;
    qint32 imageWidth = 0;
    qint32 imageHeight = 0;
    qint32 pixelCount = 0;
    qint32 bufferSize = 0;

    // Per slot (detect * 50 + area): the area masks of the live and the edit
    // set, each the size of the area's bounding rectangle.
    cv::Mat roiMasks[SlotCount];
    cv::Mat editRoiMasks[SlotCount];

    std::vector<uchar> displayBuffer;
    std::vector<uchar> grabBuffer;    // newest frame out of the driver
    std::vector<uchar> alignedBuffer; // after angle correction
    std::vector<uchar> lastImage;     // after positioning: the judged frame
    std::vector<uchar> greyBuffer;    // colour mode: the 8-bit reduction shown by measurements

    quint8 roiOk[SlotCount] = {};
    quint8 resultOk = 1;
    quint8 areaOk = 1;
    quint8 tempOk = 1;
    qint32 roiValue[SlotCount] = {};
    qint32 roiBlobs[SlotCount][BlobEntries] = {};
    std::vector<uchar> overlayMask; // frame-sized picture of the measured blobs
    bool showMeasure = false;

    // Per detect: frame-sized ignore picture, 255 = ignored pixel.
    std::vector<uchar> ignoreMasks[DetectCount];
    // Per detect: the template samples (bufferSize bytes each), their flags
    // (non-zero = present) and the number present.
    std::vector<std::vector<uchar>> templates[DetectCount];
    std::vector<qint32> templateValid[DetectCount];
    qint32 templateCount[DetectCount] = {};
    qint32 curTemplate = 0;
};
