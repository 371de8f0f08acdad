#pragma once

#include <QString>

class CameraStation;

// What the settings dialog needs of the main window: the operation log and the
// counters, the camera stations' setters and training, the side selector, the
// raw-frame flag, the database flush before a power-off and the record
// connection. The window sits above the settings library and registers itself
// when it is built; without it (tools, tests) the calls do nothing.
class SettingsHost {
public:
    // The camera settings the camera page may push live while the operator
    // edits; declining the apply pushes the live record's value back.
    enum CameraSetting { Exposure, Gain, Sharpness, Contrast, Gamma, AutoWDR, Mirror };

    virtual ~SettingsHost() = default;

    virtual void insertRecord(const QString& text) = 0;
    virtual void publishCounters() = 0;
    virtual void countWrite() = 0;
    // Closes the database connections before the computer goes down.
    virtual void flushAll() = 0;
    // Empties today's operation log; the archived days stay.
    virtual void clearRecord() {}
    virtual void restartCameras() = 0;

    virtual int curSide() const = 0;
    virtual void setCurSide(int side) = 0;
    virtual bool saveOriginalImages() const = 0;
    virtual void setSaveOriginalImages(bool on) = 0;
    // Name of the open connection on today's RECORD.db.
    virtual QString recordConnectionName() const = 0;

    // Camera station c (below gCameraCount).
    virtual void pushLiveCameraSetting(int camera, CameraSetting setting) = 0;
    virtual void setTriggerMode(int camera, int mode) = 0;
    // The cavity detects take over the product detects' areas (CopyPara) and
    // the areas are stored (SaveToDB).
    virtual void copyParaAndSave(int camera) = 0;
    virtual void trainLocate(int camera, int detect) = 0;
    virtual void trainAlign(int camera, int detect) = 0;
    virtual void trainModels(int camera, int detect) = 0;
    virtual void repaintStation(int camera) = 0;

    // The camera shown on the main screen (curCamera; gCameraCount or more
    // while all cameras are shown).
    virtual int currentCamera() const { return 0; }
    // Shows camera c on the main screen (curCamera := c, then ChangeCammer).
    virtual void changeCamera(int camera) { Q_UNUSED(camera); }
    // Camera station c from the camera tile box, null when there is none.
    virtual CameraStation* cameraStation(int camera)
    {
        Q_UNUSED(camera);
        return nullptr;
    }

    // Closes the cameras before the program leaves.
    virtual void closeCameras() {}
    // Puts the parameter-group index into the Modbus read registers.
    virtual void publishGroupIndex(int index) { Q_UNUSED(index); }
};

// The registered host, or one that does nothing when none is.
SettingsHost* settingsHost();
void setSettingsHost(SettingsHost* host);
// Clears the registration only if it is still this one's.
void clearSettingsHost(SettingsHost* host);
