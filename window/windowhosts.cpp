// The main window's side of the screens below it: the area panel, the
// settings dialog and the main screen reach the window's state and operations
// through these small hosts, which the window builds and registers in its
// construction. The window's own fields keep the names the screens' callers
// know; the hosts only translate.

#include "vezirevoru.h"

#include "areaediting.h"
#include "areapanelhost.h"
#include "cameraregistry.h"
#include "operationlog.h"
#include "camerastation.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "cyclecontroller.h"
#include "detectalgorithm.h"
#include "globals.h"
#include "imagepickform.h"
#include "mainscreenhost.h"
#include "modbusserver.h"
#include "settingshost.h"
#include "systemparam.h"

#include <QTimer>

namespace {

CameraStation* stationOf(VeZiRevoru* w, int camera)
{
    return camera >= 0 && camera < gCameraCount && camera < MaxCameras && w->pCammer[camera]
               ? &w->pCammer[camera]->station()
               : nullptr;
}

class WindowAreaPanelHost : public QObject, public AreaPanelHost {
public:
    explicit WindowAreaPanelHost(VeZiRevoru* window) : QObject(window), w(window) {}

    CammerWidget* cammer(int camera) override
    {
        return camera >= 0 && camera < MaxCameras ? w->pCammer[camera] : nullptr;
    }
    int curCamera() override { return w->state().shownCamera(); }
    void setCurCamera(int camera) override { w->state().setShownCamera(camera); }
    int curDetect() override { return w->pCycle->curDetect; }
    int editDetect() override { return w->state().editedDetect(); }
    void setEditDetect(int detect) override { w->state().setEditedDetect(detect); }
    int drawMode() override { return w->state().drawMode(); }
    void setDrawMode(int mode) override { w->state().setDrawMode(DrawMode(mode)); }
    void setFreehandMode(int on) override { w->freehandMode = on != 0; }
    int copyAreaMode() override { return w->copyAreaMode ? 1 : 0; }
    void setCopyAreaMode(int on) override { w->copyAreaMode = on != 0; }
    int screenMode() override { return w->state().screenMode(); }
    void setScreenModeValue(int mode) override { w->state().setScreenMode(ScreenMode(mode)); }
    int userLevel() override { return w->state().userLevel(); }
    int pendingCameras(int position) override { return position == 0 || position == 1 ? w->pCycle->pendingCameras[position] : 0; }
    void setPendingCameras(int position, int mask) override
    {
        if (position == 0 || position == 1) {
            w->pCycle->pendingCameras[position] = mask;
        }
    }
    int resultState(int camera, int detect) override
    {
        return inRange(camera, detect) ? w->pCycle->resultState[camera][detect] : 0;
    }
    void setResultState(int camera, int detect, int state) override
    {
        if (inRange(camera, detect)) {
            w->pCycle->resultState[camera][detect] = state;
        }
    }
    bool lastCycleNg() override { return w->pCycle->lastCycleNg; }
    bool samplingReview() override { return gSamplingReview != 0; }
    void setSamplingReview(bool on) override { gSamplingReview = on ? 1 : 0; }
    QString recordDir(int camera, int detect, int kind) override
    {
        if (!inRange(camera, detect)) {
            return QString();
        }
        return w->recordDirs[camera * 16 + detect * 2 + (kind != 0 ? 1 : 0)].path();
    }

    int CheckUserLogin() override { return w->CheckUserLogin(); }
    void ChangeCammer() override { w->ChangeCammer(); }
    void SetScreenMode(int mode) override { w->SetScreenMode(mode); }
    void ResetRun() override { w->ResetRun(); }
    void RunAlgorithm(int camera, int detect) override { w->RunAlgorithm(camera, detect); }
    void RunAlgorithms(const std::vector<int>& cameras, int detect) override
    {
        w->pCycle->RunAlgorithms(cameras, detect);
    }
    void CheckNG(bool isClearNG) override { w->CheckNG(isClearNG); }
    void BackTrain() override { w->BackTrain(); }
    void ReCheck() override { w->pCycle->ReCheck(); }
    void silenceAlarm() override
    {
        MachineOutputs::Pass pass(w->pCycle->outputs());
        w->pCycle->outputs().silenceAlarm(OutputReason::PanelCommand);
        w->pCycle->outputs().commit();
    }
    void hideImagePicker() override
    {
        if (w->pImgForm) {
            w->pImgForm->hide();
        }
    }
    void selectPickerDetect(int detect) override
    {
        if (w->pImgForm) {
            w->pImgForm->selectDetect(detect);
        }
    }
    void repaintWindow() override { w->update(); }

private:
    static bool inRange(int camera, int detect)
    {
        return camera >= 0 && camera < MaxCameras && detect >= 0 && detect < DetectsPerCamera;
    }
    VeZiRevoru* w;
};

class WindowSettingsHost : public QObject, public SettingsHost {
public:
    explicit WindowSettingsHost(VeZiRevoru* window) : QObject(window), w(window) {}

    void insertRecord(const QString& text) override { w->InsertRecord(text); }
    void publishCounters() override { w->PublishCounters(); }
    void countWrite() override { w->CountWrite(); }
    void flushAll() override { w->FLushAll(); }
    void clearRecord() override { w->ClearRecord(); }
    void restartCameras() override { w->RestartCameras(); }
    int curSide() const override { return w->pCycle->curSide; }
    void setCurSide(int side) override { w->pCycle->curSide = side; }
    bool saveOriginalImages() const override { return w->pCycle->saveOriginalImages; }
    void setSaveOriginalImages(bool on) override { w->pCycle->saveOriginalImages = on; }
    QString recordConnectionName() const override { return w->recordLog()->connectionName(); }

    void pushLiveCameraSetting(int camera, CameraSetting setting) override
    {
        CameraStation* st = stationOf(w, camera);
        if (!st) {
            return;
        }
        switch (setting) {
        case Exposure: st->SetExposure(false); break;
        case Gain: st->SetGain(false); break;
        case Sharpness: st->SetSharpness(false); break;
        case Contrast: st->SetContrast(false); break;
        case Gamma: st->SetGamma(false); break;
        case AutoWDR: st->SetAutoWDR(false); break;
        case Mirror: st->SetMirror(false); break;
        }
    }
    void setTriggerMode(int camera, int mode) override
    {
        if (CameraStation* st = stationOf(w, camera)) {
            st->SetTriggerMode(mode);
        }
    }
    void copyParaAndSave(int camera) override
    {
        if (CameraStation* st = stationOf(w, camera)) {
            AreaEditing::storeCavityCopy(*st);
        }
    }
    void trainLocate(int camera, int detect) override
    {
        if (DetectAlgorithm* engine = engineOf(camera)) {
            engine->TrainLocate(detect);
        }
    }
    void trainAlign(int camera, int detect) override
    {
        if (DetectAlgorithm* engine = engineOf(camera)) {
            engine->TrainAlign(detect);
        }
    }
    void trainModels(int camera, int detect) override
    {
        if (DetectAlgorithm* engine = engineOf(camera)) {
            engine->TrainModels(detect);
        }
    }
    void repaintStation(int camera) override
    {
        if (camera >= 0 && camera < MaxCameras && w->pCammer[camera]) {
            w->pCammer[camera]->update();
        }
    }
    int currentCamera() const override { return w->state().shownCamera(); }
    void changeCamera(int camera) override
    {
        w->state().setShownCamera(camera);
        w->ChangeCammer();
    }
    CameraStation* cameraStation(int camera) override { return stationOf(w, camera); }
    void closeCameras() override { w->CloseCameras(); }
    void publishGroupIndex(int index) override
    {
        if (w->pModbusServer) {
            w->pModbusServer->setReadData(2, static_cast<quint16>(index));
        }
    }

private:
    DetectAlgorithm* engineOf(int camera) const
    {
        CameraStation* st = stationOf(w, camera);
        return st ? st->pDetector.get() : nullptr;
    }
    VeZiRevoru* w;
};

class WindowMainScreenHost : public QObject, public MainScreenHost {
public:
    explicit WindowMainScreenHost(VeZiRevoru* window) : QObject(window), w(window) {}

    int currentDetect() const override { return w->pCycle->curDetect; }
    bool detectDelayRunning(int detect) const override
    {
        return detect >= 0 && detect < DetectsPerCamera && w->pCycle->detectDelayTimers[detect]
               && w->pCycle->detectDelayTimers[detect]->isActive();
    }
    double detectDelayLeft(int detect) const override
    {
        return detect >= 0 && detect < DetectsPerCamera ? w->pCycle->detectDelayLeft[detect] : 0.0;
    }
    QWidget* imageBrowser() const override { return w->pImgForm; }
    int cycleTime() const override { return int(w->pCycle->cycleTime); }
    void reTrain() override { w->SlotReTrain(); }
    void startStop() override { w->SlotStartStop(); }

private:
    VeZiRevoru* w;
};

} // namespace

void VeZiRevoru::installHosts()
{
    if (!m_areaPanelHost) {
        m_areaPanelHost = new WindowAreaPanelHost(this);
        m_settingsHost = new WindowSettingsHost(this);
        m_mainScreenHost = new WindowMainScreenHost(this);
    }
    setSettingsHost(m_settingsHost);
    setMainScreenHost(m_mainScreenHost);
}

void VeZiRevoru::removeHosts()
{
    clearSettingsHost(m_settingsHost);
    clearMainScreenHost(m_mainScreenHost);
}
