#pragma once

#include "industrialcamera.h"
#include "mvcameracontrol.h"

#include <vector>

// Driver of the GigE and USB industrial cameras reached through
// MVCameraControl: finds the devices of the maker, opens one exclusively by its
// serial number, takes frames from the SDK's image callback (colour converted
// under the frame lock), maps the system's setting scales onto the camera's
// float ranges and notices a disconnection through the exception callback.
class HikCamera : public IndustrialCamera {
    Q_OBJECT
public:
    HikCamera();
    explicit HikCamera(const CameraInfo& record);
    ~HikCamera() override;

    bool open() override;
    void close() override;
    bool startGrab() override;
    void stopGrab() override;
    bool reconnect() override;
    void setExposure(int value) override;
    void setGain(int value) override;
    void setSharpness(int value) override;
    void setGamma(int value) override;
    void setFrameRate(int value) override;
    void setTriggerMode(bool hardware) override;
    void loadDefaults(int* parameters, int camera) override;
    QString typeId() override;
    QList<CameraInfo> enumerate() override;
    int deviceCount() override;
    CameraInterface* create(CameraInfo record) override;

    // The fractions of the maximum frame rate that setFrameRate picks from.
    static const float frameRateFactors[6];
    // Copies of the device records the last enumerate kept (the SDK's own
    // records live only until its next enumeration).
    static std::vector<MV_CC_DEVICE_INFO> deviceList;

private:
    static void imageCallback(unsigned char* data, MV_FRAME_OUT_INFO* info, void* user);
    static void exceptionCallback(unsigned int code, void* user);
    void handleFrame(unsigned char* data, const MV_FRAME_OUT_INFO& info);
    // Creates a handle for the device and opens it exclusively; logs and
    // gives the handle back on failure.
    bool openHandle(const MV_CC_DEVICE_INFO& device);
    void closeHandle();

    std::vector<unsigned char> conversionBuffer;
    int pixelCount = 0;
    bool colourSensor = false;
    bool deviceChosen = false;
    MV_CC_DEVICE_INFO chosenDevice{};
    MV_CC_PIXEL_CONVERT_PARAM conversionRequest{};
    void* handle = nullptr;
};
