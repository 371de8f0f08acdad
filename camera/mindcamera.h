#pragma once

#include "industrialcamera.h"
#include "mvcamsdk.h"

#include <mutex>
#include <vector>

// Driver of the industrial cameras reached through MVCAMSDK: a fixed table of
// twelve device records, the device opened at its full sensor size, the SDK's
// image processor turning raw frames into grey or 3-byte colour pixels before
// the frame lock, settings mapped onto the ranges the camera reports in whole
// steps. The only driver with mirroring, one-shot white balance and a
// one-shot automatic exposure that reports its result.
class MindCamera : public IndustrialCamera {
    Q_OBJECT
public:
    static constexpr int TableSize = 12;

    MindCamera();
    explicit MindCamera(const CameraInfo& record);
    ~MindCamera() override;

    bool open() override;
    void close() override;
    bool startGrab() override;
    void stopGrab() override;
    bool reconnect() override;
    QJsonObject autoAdjust(bool on) override;
    void setExposure(int value) override;
    void setGain(int value) override;
    void setSharpness(int value) override;
    void setContrast(int value) override;
    void setGamma(int value) override;
    void setWideDynamicRange(bool on) override;
    void oneShotWhiteBalance() override;
    void setMirror(bool horizontal, bool vertical) override;
    void setFrameRate(int value) override;
    void setTriggerMode(bool hardware) override;
    void loadDefaults(int* parameters, int camera) override;
    QString typeId() override;
    QList<CameraInfo> enumerate() override;
    int deviceCount() override;
    CameraInterface* create(CameraInfo record) override;

    // The device records of the last enumeration, shared by every MindCamera.
    static CameraDeviceRecord deviceTable[TableSize];
    static int deviceTableCount;

private:
    static void frameCallback(CameraHandle handle, unsigned char* raw, CameraFrameHeader* header, void* context);
    static void connectionCallback(CameraHandle handle, unsigned int message, unsigned int parameter,
                                   void* context);
    void handleFrame(unsigned char* raw, CameraFrameHeader* header);
    // Enumerates into deviceTable; the number of records filled.
    static int refreshTable();
    bool setFullResolution();
    bool setOutputFormat();
    void closeHandle();

    // Conversion happens before the frame lock, into buffers of this driver;
    // this lock keeps two callbacks in flight (some libraries deliver one
    // device's frames from more than one thread) off each other's buffers.
    std::mutex conversionMutex;
    std::vector<unsigned char> colourBuffer;
    std::vector<unsigned char> processingBuffer;
    CameraHandle handle = 0;
    CameraCapability capability{};
    CameraDeviceRecord device{};
    int pixelCount = 0;
    bool colourSensor = false;
};
