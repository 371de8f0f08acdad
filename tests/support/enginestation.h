#pragma once

#include "cammersingleton.h"
#include "detectresult.h"
#include "inspectionpeers.h"
#include "stationdata.h"
#include "statekeeper.h"
#include "systemparam.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QStringList>

#include <opencv2/core.hpp>

#include <memory>
#include <optional>

class ROIInterface;

// Test double of the engine's peers: answers from fields the test sets and
// records every call in order.
class RecordingPeers : public InspectionPeers {
public:
    int detect = 0;
    DetectResult current;
    // Temperature per (detect, area); 0 for an area without an entry.
    QMap<QPair<int, int>, int> temperatures;
    // Areas whose temperature read fails.
    QSet<QPair<int, int>> failedTemperatures;

    QStringList records;
    QList<int> cycleValues;
    QList<QPair<int, int>> temperatureAsks;
    QList<DetectResult> handedOver;
    int repaints = 0;

    int currentDetect() override { return detect; }
    void insertRecord(const QString& text) override { records.append(text); }
    void appendCycleValue(int value) override { cycleValues.append(value); }
    std::optional<int> roiTemperature(int d, int area) override
    {
        temperatureAsks.append({d, area});
        if (failedTemperatures.contains({d, area})) {
            return std::nullopt;
        }
        return temperatures.value({d, area}, 0);
    }
    DetectResult currentResult() override { return current; }
    void handOverResult(const DetectResult& result) override
    {
        current = result;
        handedOver.append(result);
    }
    void repaintStation() override { ++repaints; }

    void clear()
    {
        records.clear();
        cycleValues.clear();
        temperatureAsks.clear();
        handedOver.clear();
        repaints = 0;
    }
};

// A camera station's data with its live and edit area sets and a live system
// parameter record of its own, for driving a DetectAlgorithm without any
// widget. Installs gpSystemParam, gTemplateCount, gColorMode and gColorToGray
// for its lifetime and puts the previous values back afterwards.
class EngineStation {
public:
    EngineStation(int width, int height, bool colour = false, int templates = 3);
    ~EngineStation();
    EngineStation(const EngineStation&) = delete;
    EngineStation& operator=(const EngineStation&) = delete;

    // Appends an area to the live set (the set owns the shape) with its mask;
    // returns its area number.
    int addArea(int detect, int function, ROIInterface* shape, int param, int lower, int upper);
    // A rectangle covering r (inclusive right/bottom = r's last pixel).
    int addRect(int detect, int function, cv::Rect r, int param, int lower, int upper);
    // A ring (rn 0 = a disc) about (xc, yc).
    int addRing(int detect, int function, int xc, int yc, int r, int rn, int param, int lower, int upper);
    // The edit set becomes a copy of the live set, masks shared.
    void copyLiveToEdit();

    // Stores a template sample (grey, or 4-byte pixels in colour mode) and
    // counts it.
    void setTemplate(int detect, int k, const cv::Mat& image);
    void setIgnore(int detect, const cv::Mat& ignore);
    // Puts a frame into grabBuffer, alignedBuffer and lastImage.
    void setFrame(const cv::Mat& image);
    cv::Mat frame(std::vector<uchar>& buffer) const;
    cv::Mat overlay() const;

    SystemParam params;
    std::unique_ptr<StationData> data;
    std::unique_ptr<CammerSingleton> live;
    std::unique_ptr<CammerSingleton> edit;
    RecordingPeers peers;

private:
    // Last, so that the globals are back before the record goes.
    StateKeeper m_globals;
};
