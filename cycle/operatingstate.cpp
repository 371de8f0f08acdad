#include "operatingstate.h"

#include "hostregistry.h"

namespace {
HostRegistry<OperatingState> gRegistered;
} // namespace

OperatingState* operatingState()
{
    return gRegistered.get();
}

void setOperatingState(OperatingState* state)
{
    gRegistered.set(state);
}

void clearOperatingState(OperatingState* state)
{
    gRegistered.clear(state);
}

OperatingState::OperatingState(QObject* parent)
    : QObject(parent)
{
    // Queued connections and signal spies carry the values by type.
    qRegisterMetaType<RunState>("RunState");
    qRegisterMetaType<ScreenMode>("ScreenMode");
    qRegisterMetaType<UserLevel>("UserLevel");
    qRegisterMetaType<DrawMode>("DrawMode");
    qRegisterMetaType<CyclePhase>("CyclePhase");
}

void OperatingState::setRunState(RunState state)
{
    if (m_runState != state) {
        m_runState = state;
        emit runStateChanged(state);
    }
}

void OperatingState::setScreenMode(ScreenMode mode)
{
    if (m_screenMode != mode) {
        m_screenMode = mode;
        emit screenModeChanged(mode);
    }
}

void OperatingState::setCyclePhase(CyclePhase phase)
{
    if (m_cyclePhase != phase) {
        m_cyclePhase = phase;
        emit cyclePhaseChanged(phase);
    }
}

void OperatingState::setShownCamera(int camera)
{
    if (m_shownCamera != camera) {
        m_shownCamera = camera;
        emit shownCameraChanged(camera);
    }
}

void OperatingState::setEditedDetect(int detect)
{
    if (m_editedDetect != detect) {
        m_editedDetect = detect;
        emit editedDetectChanged(detect);
    }
}

void OperatingState::setDrawMode(DrawMode mode)
{
    if (m_drawMode != mode) {
        m_drawMode = mode;
        emit drawModeChanged(mode);
    }
}

void OperatingState::setUserLevel(UserLevel level)
{
    if (m_userLevel != level) {
        m_userLevel = level;
        emit userLevelChanged(level);
    }
}
