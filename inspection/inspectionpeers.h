#pragma once

#include <QString>

#include <optional>

struct DetectResult;

// What the inspection engine of a camera asks of, and hands to, the rest of
// the system. The camera station implements it over the main window, its own
// thermal driver and the records service; tests give a double that records
// every call. The engine never reaches those parts any other way.
class InspectionPeers {
public:
    virtual ~InspectionPeers() = default;

    // The detect the cycle is running (the main window's current detect).
    virtual int currentDetect() = 0;
    // Appends one line to the operation log (the main window's InsertRecord).
    virtual void insertRecord(const QString& text) = 0;
    // One temperature of the running detect for the Modbus registers.
    virtual void appendCycleValue(int value) = 0;
    // Temperature of one area from the station's thermal camera; nothing when
    // it could not be read (no camera answer, no measurement for the area, an
    // unusable value). A failed read is never passed off as a temperature.
    virtual std::optional<int> roiTemperature(int detect, int area) = 0;
    // The records service's current record: the base of the next result.
    virtual DetectResult currentResult() = 0;
    // Hands one finished record to the records service: it becomes the current
    // record, enters today's live data and is written as a result row.
    virtual void handOverResult(const DetectResult& result) = 0;
    // The station shows new results or a new measurement.
    virtual void repaintStation() = 0;
};
