#pragma once

#include <QMetaType>
#include <QObject>

// The values are the ones the tiles, the Modbus registers and the records
// show, so they stay fixed.
enum RunState { Detecting = 1, Sampling = 2, Stopped = 3 };
enum ScreenMode { Live = 0, ResultShown = 1, Alarm = 2, AreaSetting = 3 };
enum UserLevel { UserNone = 0, UserOperator = 1, UserAdmin = 2 };
enum DrawMode { DrawNone = 0, DrawRect = 1, DrawPolygon = 2, DrawCircle = 4 };
enum CyclePhase { Delaying = 1, Done = 2, Waiting = 3 };

Q_DECLARE_METATYPE(RunState)
Q_DECLARE_METATYPE(ScreenMode)
Q_DECLARE_METATYPE(UserLevel)
Q_DECLARE_METATYPE(DrawMode)
Q_DECLARE_METATYPE(CyclePhase)

// What the machine is doing and what the operator sees, in one place: the
// cycle writes it, the screens read it and follow its signals. Each setter
// tells a change once and keeps quiet when the value stays, so a screen bound
// to a signal repaints only for real changes. GUI thread only.
class OperatingState : public QObject {
    Q_OBJECT
public:
    explicit OperatingState(QObject* parent = nullptr);

    RunState runState() const { return m_runState; }
    ScreenMode screenMode() const { return m_screenMode; }
    CyclePhase cyclePhase() const { return m_cyclePhase; }
    // The camera shown alone, or the camera count while all are shown.
    int shownCamera() const { return m_shownCamera; }
    // The detect the area panel edits.
    int editedDetect() const { return m_editedDetect; }
    DrawMode drawMode() const { return m_drawMode; }
    UserLevel userLevel() const { return m_userLevel; }

    void setRunState(RunState state);
    void setScreenMode(ScreenMode mode);
    void setCyclePhase(CyclePhase phase);
    void setShownCamera(int camera);
    void setEditedDetect(int detect);
    void setDrawMode(DrawMode mode);
    void setUserLevel(UserLevel level);

signals:
    void runStateChanged(RunState state);
    void screenModeChanged(ScreenMode mode);
    void cyclePhaseChanged(CyclePhase phase);
    void shownCameraChanged(int camera);
    void editedDetectChanged(int detect);
    void drawModeChanged(DrawMode mode);
    void userLevelChanged(UserLevel level);

private:
    RunState m_runState = Stopped;
    ScreenMode m_screenMode = Live;
    CyclePhase m_cyclePhase = Waiting;
    int m_shownCamera = 0;
    int m_editedDetect = 0;
    DrawMode m_drawMode = DrawNone;
    UserLevel m_userLevel = UserNone;
};

// The operating state the screens and the stations follow: the running
// window's cycle registers its own. Null while none is registered (tools and
// tests that build a screen alone); the readers then keep the values a window
// starts with.
OperatingState* operatingState();
void setOperatingState(OperatingState* state);
// Clears the registration only if it is still this one's.
void clearOperatingState(OperatingState* state);
