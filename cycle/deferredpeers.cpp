#include "deferredpeers.h"

#include "camerastation.h"

DeferredPeers::DeferredPeers(int detect, const DetectResult& current)
    : m_detect(detect), m_current(current)
{
}

void DeferredPeers::stampCamera(int camera)
{
    m_current.idx_camera = camera;
    m_calls.push_back(Call{Stamp, {}, camera, {}});
}

void DeferredPeers::insertRecord(const QString& text)
{
    m_calls.push_back(Call{Record, text, 0, {}});
}

void DeferredPeers::appendCycleValue(int value)
{
    m_calls.push_back(Call{CycleValue, {}, value, {}});
}

void DeferredPeers::handOverResult(const DetectResult& result)
{
    // The engine reads the record it handed over as the base of its next one,
    // as it would from the records service.
    m_current = result;
    m_calls.push_back(Call{HandOver, {}, 0, result});
}

void DeferredPeers::repaintStation()
{
    m_calls.push_back(Call{Repaint, {}, 0, {}});
}

void DeferredPeers::replay(CameraStation& station, InspectionPeers& real) const
{
    for (const Call& call : m_calls) {
        switch (call.kind) {
        case Stamp:
            station.stampCamera();
            break;
        case Record:
            real.insertRecord(call.text);
            break;
        case CycleValue:
            real.appendCycleValue(call.value);
            break;
        case HandOver:
            real.handOverResult(call.result);
            break;
        case Repaint:
            real.repaintStation();
            break;
        }
    }
}
