#pragma once

#include "dvpcamera.h"
#include "industrialcamera.h"

#include <atomic>
#include <mutex>
#include <vector>

// Driver of the industrial cameras reached through DVPCamera: up to sixteen
// devices, one opened by its SDK name, frames from the stream callback
// (colour converted before the frame lock), settings passed to the SDK
// unscaled, and the frame stream thinned by a skip count instead of a rate.
// Every SDK status is success when it is 1.
class Do3thinkCamera : public IndustrialCamera {
    Q_OBJECT
public:
    static constexpr unsigned int MaxCameras = 16;

    Do3thinkCamera();
    explicit Do3thinkCamera(const CameraInfo& record);
    ~Do3thinkCamera() override;

    bool open() override;
    void close() override;
    bool startGrab() override;
    void stopGrab() override;
    bool reconnect() override;
    void setExposure(int value) override;
    void setGain(int value) override;
    void setSharpness(int value) override;
    void setContrast(int value) override;
    void setGamma(int value) override;
    void setWideDynamicRange(bool on) override;
    void setFrameRate(int value) override;
    void setTriggerMode(bool on) override;
    void loadDefaults(int* parameters, int camera) override;
    QString typeId() override;
    QList<CameraInfo> enumerate() override;
    int deviceCount() override;
    CameraInterface* create(CameraInfo record) override;

    // The camera records of the last enumerate; CameraInfo::index is the
    // position here.
    static std::vector<dvpCameraInfo> deviceList;

private:
    static int streamCallback(dvpHandle handle, int event, void* context, dvpFrame* frame, void* pixels);
    static int eventCallback(dvpHandle handle, int event, void* context, int parameter, void* reserved);
    void handleFrame(const dvpFrame& frame, const unsigned char* pixels);
    bool streamState(int* state);
    void closeHandle();

    // The colour buffer and the skip counter belong to the stream callback;
    // this lock keeps two callbacks in flight off each other's work.
    std::mutex conversionMutex;
    std::vector<unsigned char> colourBuffer;
    int skipCounter = 0;
    std::atomic<int> skipCount{0};
    dvpHandle handle = 0;
    bool handleOpen = false;
    dvpCameraInfo device{};
    dvpRegion region{};
    int pixelCount = 0;
};
