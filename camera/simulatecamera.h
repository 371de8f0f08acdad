#pragma once

#include "camerainterface.h"

#include <vector>

// Stands in for real cameras when none can be opened: two devices that replay
// two stored bitmaps alternately, one per manual trigger, so the whole cycle
// can run and be shown without hardware. No SDK, no thread: everything runs
// on the GUI thread, so nothing is locked.
class SimulateCamera : public CameraInterface {
    Q_OBJECT
public:
    static constexpr int FrameWidth = 1920;
    static constexpr int FrameHeight = 1080;

    SimulateCamera();
    explicit SimulateCamera(const CameraInfo& record);

    bool open() override;
    void close() override;
    bool startGrab() override;
    void stopGrab() override;
    void release() override;
    bool reconnect() override;
    QJsonObject autoAdjust(bool on) override;
    void setExposure(int value) override;
    void setGain(int value) override;
    void setSharpness(int value) override;
    void setContrast(int value) override;
    void setGamma(int value) override;
    void setWideDynamicRange(bool on) override;
    void oneShotWhiteBalance() override;
    void setAutoExposure(bool on) override;
    void setColorOutput(bool on) override;
    void setDisplayWindow(QWidget* window) override;
    void setMirror(bool horizontal, bool vertical) override;
    void setFrameRate(int value) override;
    void setDetectConfig(QVariant config, int flag) override;
    void query(QVariant request, QVariant& reply, int flag) override;
    bool takeFrameCount(int& frames) override;
    void setTriggerMode(bool hardware) override;
    void softTrigger() override;
    void getSize(int& width, int& height) override;
    QString typeId() override;
    QString serial() override;
    bool getFrame(void* destination) override;
    void loadDefaults(int* parameters, int camera) override;
    QList<CameraInfo> enumerate() override;
    int deviceCount() override;
    CameraInterface* create(CameraInfo record) override;
    int spectrum() override;
    bool isOnline() override;

    // The bitmap the next softTrigger loads, relative to the working folder.
    QString nextTemplatePath() const;
    int frameBytes() const { return m_frameBytes; }

private:
    std::vector<unsigned char> frameBuffer;
    int pixelCount = 0;
    int m_frameBytes = 0;
    bool newFrame = false;
    int deviceIndex = 0;
    int templateCounter = 0;
};
