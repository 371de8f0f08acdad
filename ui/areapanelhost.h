#pragma once

#include <QString>

#include <vector>

class CammerWidget;

// What the area-setting panel needs of the main window: the state of the view
// and the cycle it reads and writes, and the window's own operations (login,
// tile layout, the cycle's re-inspection). The window sits above the panel
// and implements this; tests use a fake. The operation log is not here: the
// panel's commands reach it through the area service (AreaEditing).
class AreaPanelHost {
public:
    virtual ~AreaPanelHost() = default;

    // Stations: 0 .. gCameraCount - 1.
    virtual CammerWidget* cammer(int camera) = 0;

    virtual int curCamera() = 0;
    virtual void setCurCamera(int camera) = 0;
    virtual int curDetect() = 0;
    virtual int editDetect() = 0;
    virtual void setEditDetect(int detect) = 0;
    virtual int drawMode() = 0;
    virtual void setDrawMode(int mode) = 0;
    virtual void setFreehandMode(int on) = 0;
    virtual int copyAreaMode() = 0;
    virtual void setCopyAreaMode(int on) = 0;
    // ScreenMode: 0 live, 2 alarm review, 3 area setting.
    virtual int screenMode() = 0;
    virtual void setScreenModeValue(int mode) = 0;
    virtual int userLevel() = 0;
    // Per detect position (0 product, 1 cavity): cameras still to inspect.
    virtual int pendingCameras(int position) = 0;
    virtual void setPendingCameras(int position, int mask) = 0;
    virtual int resultState(int camera, int detect) = 0;
    virtual void setResultState(int camera, int detect, int state) = 0;
    // The last aggregation found an NG camera.
    virtual bool lastCycleNg() = 0;
    // Set when area setting follows template sampling; the return finishes it.
    virtual bool samplingReview() = 0;
    virtual void setSamplingReview(bool on) = 0;
    // NG (kind 0) or OK (kind 1) record folder of a camera and detect.
    virtual QString recordDir(int camera, int detect, int kind) = 0;

    virtual int CheckUserLogin() = 0;
    virtual void ChangeCammer() = 0;
    virtual void SetScreenMode(int mode) = 0;
    virtual void ResetRun() = 0;
    virtual void RunAlgorithm(int camera, int detect) = 0;
    // RunAlgorithm for each camera in that order; the cycle judges them side
    // by side and applies the results in that order.
    virtual void RunAlgorithms(const std::vector<int>& cameras, int detect)
    {
        for (int c : cameras) {
            RunAlgorithm(c, detect);
        }
    }
    virtual void CheckNG(bool isClearNG) = 0;
    virtual void BackTrain() = 0;
    // The cycle's re-check of the alarm's detect (the one re-check there is).
    virtual void ReCheck() = 0;
    // The operator looks away from the live alarm: the alarm output is
    // silenced, the alarm itself stands.
    virtual void silenceAlarm() = 0;
    // The image picker beside the tiles.
    virtual void hideImagePicker() = 0;
    virtual void selectPickerDetect(int detect) = 0;
    virtual void repaintWindow() = 0;
};
