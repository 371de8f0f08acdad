#pragma once

#include "detectresult.h"
#include "inspectionpeers.h"

#include <QString>

#include <optional>
#include <vector>

class CameraStation;

// What an engine judging on a worker sees instead of its station: the
// questions are answered from what the GUI thread knew when the detect was
// handed out, and everything the engine hands on (operation-log lines, cycle
// values, result records, repaints) is kept in order until the GUI thread
// replays it into the station at the camera's turn. So the log, the records
// and the screens see exactly the calls of a judgement in sequence.
class DeferredPeers : public InspectionPeers {
public:
    // detect: the running detect; current: the records' current record as
    // this camera's judgement starts.
    DeferredPeers(int detect, const DetectResult& current);

    int currentDetect() override { return m_detect; }
    void insertRecord(const QString& text) override;
    void appendCycleValue(int value) override;
    // Temperatures are read on the GUI thread only (stations that need them
    // are not handed to a worker); a question here is never answered with a
    // value that could pass.
    std::optional<int> roiTemperature(int, int) override { return std::nullopt; }
    DetectResult currentResult() override { return m_current; }
    void handOverResult(const DetectResult& result) override;
    void repaintStation() override;

    // The stamp of the camera's index into the records' current record
    // (CameraStation::stampCamera), made at the camera's turn.
    void stampCamera(int camera);

    // Hands every kept call on to the engine's real peers, in the order
    // made; the stamp goes to the station.
    void replay(CameraStation& station, InspectionPeers& real) const;
    bool empty() const { return m_calls.empty(); }

private:
    enum Kind { Stamp, Record, CycleValue, HandOver, Repaint };
    struct Call {
        Kind kind;
        QString text;
        int value = 0;
        DetectResult result;
    };
    int m_detect;
    DetectResult m_current;
    std::vector<Call> m_calls;
};
