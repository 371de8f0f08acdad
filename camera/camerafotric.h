#pragma once

#include "camerainterface.h"
#include "framehandover.h"
#include "streamsdk.h"

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class CammerSingleton;
class ThermalSession;

// The thermal palette: 256 entries of red, green, blue, from a dark blue
// through violet, red and orange to yellow and a pale white.
extern const uchar kThermalPalette[256][3];

// Stretches count raw values from their own minimum to their maximum over the
// 256 palette entries: entry k = ((v - lo) * 255) / max(hi - lo, 1), exactly,
// in integers. Each pixel becomes four bytes: blue, green, red of entry k, then
// 0. Nothing happens for a count of 0 or less or a null pointer.
void applyThermalPalette(const quint16* raw, int count, const uchar (*palette)[3], uchar* destination);

// The grey picture of a raw frame: the grey reduction (rgb32ToGray) of its
// palette image into destination (width x height bytes), a 3 x 3 median filter
// into scratch and a bilateral filter (diameter 3, colour sigma 50, space
// sigma 25, reflect-101 border) back into destination. scratch holds width x
// height x 4 bytes. False, nothing written, for a size of 0 or less or a null
// pointer.
bool thermalGreyImage(const quint16* raw, int width, int height, const uchar (*palette)[3], uchar* scratch,
                      uchar* destination);

// Driver of the REST thermal camera: the camera's HTTP interface through a
// ThermalSession, its raw 16-bit stream turned into palette (colour) or
// smoothed grey frames, the station's settings mapped onto the camera's
// instrument configuration, and the temperature areas registered on the
// camera as measurement objects whose temperatures it reads back.
//
// Everything runs on the GUI thread except the frame callback, which runs on
// the stream's thread and does all its work under the frame lock. Stopping
// the stream (close, stopGrab, a failed open, destruction) returns only when
// no callback runs or will run.
class CameraFotric : public CameraInterface {
    Q_OBJECT
public:
    static constexpr int DetectCount = 8;
    static constexpr int AreasPerDetect = 50;
    // Detects whose temperature areas become measurement objects: detect 0 as
    // points, detect 1 as regions.
    static constexpr int MeasuredDetects = 2;

    CameraFotric();
    explicit CameraFotric(const CameraInfo& record);
    ~CameraFotric() override;

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
    // Flag 0: request {"detect": d, "funcNO": area}; reply the temperature as a
    // float, or an invalid QVariant when it could not be read (never 0 in its
    // place). Other flags leave the reply alone.
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

    // The stream's frame callback; context is the driver.
    static void streamCallback(int status, const streamsdk_frame* frame, void* context);
    // The palette stretch over this driver's width x height values.
    void applyPalette(const quint16* raw, uchar* destination) const;
    // Registers the temperature areas of detects 0 and 1 (rectangles with the
    // temperature function) on the camera, replacing what the last upload
    // registered in this driver.
    void uploadMeasureObjects(CammerSingleton* set);
    // The temperature of one area, read from its measurement object; nothing
    // when it cannot be read (no session, no object registered for the area,
    // a failed request or an unusable reply).
    std::optional<float> readRoiTemperature(int detect, int area);

    int frameBytes() const { return m_frameBytes; }

private:
    void onFrame(const streamsdk_frame& frame);
    // Reads the instrument configuration, sets one member and writes it back,
    // only when the whole configuration was read.
    template <typename Value>
    void writeConfigMember(const char* member, const Value& value);
    // Whether a frame arrived since the previous isOnline or reconnect.
    bool frameArrivedSincePoll();

    std::unique_ptr<ThermalSession> session;
    FrameHandOver hand;
    // The grey path's working picture (the median filter's output).
    std::vector<uchar> scratch;
    int pixelCount = 0;
    int m_frameBytes = 0;
    int bytesPerPixel = 1;
    // Per detect and area: 1 average, 2 maximum, any other value minimum.
    qint32 areaModes[DetectCount][AreasPerDetect] = {};
    // The objects the last upload registered on the camera.
    bool measured[MeasuredDetects][AreasPerDetect] = {};
    qint32 deviceIndex = -1;
    qint32 deviceNumber = -1;
    // Target distance in metres as the station last set it (setGamma).
    double targetDistance = 0.0;
    // Frames delivered; the GUI thread compares it with its last poll.
    std::atomic<quint32> framesArrived{0};
    quint32 framesAtLastPoll = 0;
    // One log line for a run of frames of the wrong size.
    std::atomic<bool> sizeMismatchLogged{false};
    uchar palette[256][3] = {};
};
