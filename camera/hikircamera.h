#pragma once

#include "camerainterface.h"
#include "framehandover.h"
#include "hcnetsdk.h"
#include "playctrl.h"

#include <QMap>
#include <QPointer>
#include <QSize>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

class CammerSingleton;
class HikIRCamera;

// Converts a YV12 picture (Y plane of width x height bytes, then the V plane,
// then the U plane, each (width / 2) x (height / 2)) into grey (1 byte per
// pixel) or blue-green-red-0 pixels, row r going to row height - 1 - r when
// flipped. The colour of a pixel is, in doubles, R = Y + 1.370705 V,
// G = Y - 0.698001 U - 0.703125 V, B = Y + 1.732446 U (U and V less 128),
// each truncated and limited to 0..255; grey is 0.299 R + 0.587 G + 0.114 B
// truncated exactly (a grey pixel keeps its value). False, nothing written, for a missing source
// or destination, an odd or too small size, or a source shorter than
// width x height x 3 / 2 bytes.
bool yv12ToGray(const unsigned char* source, std::size_t sourceBytes, unsigned char* destination, int width,
                int height, bool flip);
bool yv12ToBgra(const unsigned char* source, std::size_t sourceBytes, unsigned char* destination, int width,
                int height, bool flip);

// The conversion thread of one infrared camera: every 30 ms (after a first
// 300 ms) the newest decoded picture becomes the frame.
class HKHotCameraThread : public QThread {
    Q_OBJECT
public:
    explicit HKHotCameraThread(HikIRCamera* camera);
    // Clears the run flag and wakes the thread from its pause.
    void requestStop();
    void setRunFlag();
    bool runFlag() const { return running.load(); }

protected:
    void run() override;

private:
    // Sleeps up to ms; false when told to stop meanwhile.
    bool pause(int ms);

    std::atomic<bool> running{false};
    HikIRCamera* const camera;
    std::mutex pauseMutex;
    std::condition_variable pauseWake;
};

// Driver of the infrared network camera: one driver per channel of a device
// (thermal, and on two-channel devices visible light). The device library
// sends the live stream to realPlayCallback on its own thread; the decoder
// hands decoded YV12 pictures to displayCallback on a thread of its port; the
// conversion thread turns the newest one into the frame; the GUI thread only
// copies finished frames. The thermal channel also measures temperatures: the
// operator's rectangular temperature areas of detects 0 and 1 become
// measurement rules on the camera, and query reads a rule's temperature.
//
// Locks: portMapMutex (which driver a decoder port feeds) is taken before
// decodedMutex (the decoded picture); the frame hand-over has its own lock,
// taken by neither while holding the other.
class HikIRCamera : public CameraInterface {
    Q_OBJECT
public:
    static constexpr int DetectCount = 8;
    static constexpr int AreasPerDetect = 50;
    // Detects whose temperature areas become rules: 0 as points, 1 as regions.
    static constexpr int MeasuredDetects = 2;
    // Rules per detect in the camera's preset record.
    static constexpr int RulesPerDetect = 10;
    static constexpr int StatusBytes = 8192;
    static constexpr int StreamBufferBytes = 46086480;
    static constexpr int FirstPassDelayMs = 300;
    static constexpr int PassIntervalMs = 30;

    // Which decoder port feeds which driver.
    static QMap<int, HikIRCamera*> portMap;
    static std::mutex portMapMutex;
    // Stream resolution code -> picture size, built by discovery.
    static QMap<int, QSize> resolutionTable;
    // The local address texts the library reported.
    static char localAddresses[16][16];
    static int localAddressCount;

    HikIRCamera();
    explicit HikIRCamera(const CameraInfo& record);
    ~HikIRCamera() override;

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
    // Flag 0: request {"detect": d, "funcNO": area}; reply the temperature as
    // an int, or left invalid when it could not be read (never 0 in its place).
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

    // Discovery: one login per local interface.
    static bool findInfraredCameras(QList<CameraInfo>& list, int& count);
    static bool probeInfraredCamera(int index, QList<CameraInfo>& list);
    static void buildResolutionTable();

    static void realPlayCallback(int32_t handle, uint32_t dataType, unsigned char* data, uint32_t size, void* user);
    static void displayCallback(PLAYM4_DISPLAY_INFO* info);

    // The temperature of one area; nothing when it cannot be read.
    std::optional<int> roiTemperature(int detect, int area);
    void uploadPresets(CammerSingleton* set);

    // Conversion thread: converts the waiting picture; false when none waited.
    bool convertWaitingPicture();

    int frameBytes() const { return m_frameBytes; }
    int channel() const { return m_channel; }
    int cameraNumber() const { return m_cameraNumber; }
    int decoderPort() const { return m_decoderPort.load(); }
    int realPlayHandle() const { return m_realPlayHandle; }
    HKHotCameraThread* conversionThread() const { return m_thread; }

private:
    void configureThermometry();
    void applyThermometryParam(int which, int value);
    // Standard configuration calls with the channel as condition.
    bool getChannelConfig(uint32_t command, void* output, uint32_t bytes);
    bool setChannelConfig(uint32_t command, void* input, uint32_t bytes);
    // Reads a record, lets edit change it and writes it back with command + 1.
    template <typename Edit>
    void rewriteDvrConfig(uint32_t command, uint32_t bytes, Edit&& edit);
    bool readBasicParams(unsigned char* record);
    void writeBasicParams(unsigned char* record);
    // System parameter first + camera number, 0 when the number is none of the eight.
    qint32 cameraSlot(int first) const;
    void takePicture(const PLAYM4_DISPLAY_INFO& info);
    bool pictureArrivedSincePoll();

    int pixelCount = 0;
    int m_frameBytes = 0;
    FrameHandOver hand;
    // The newest decoded picture, guarded by decodedMutex with pictureWaiting.
    std::mutex decodedMutex;
    std::vector<unsigned char> decoded;
    bool pictureWaiting = false;
    // The conversion thread's own buffers.
    std::vector<unsigned char> converting;
    std::vector<unsigned char> converted;
    // A converted frame since the previous isOnline or reconnect.
    std::atomic<bool> pictureSincePoll{false};
    std::atomic<bool> sizeMismatchLogged{false};

    int32_t m_realPlayHandle = -1;
    std::atomic<int> m_decoderPort{-1};
    quintptr windowId = 0;
    QPointer<QWidget> displayWidget;
    int channelKind = 2;
    int m_cameraNumber = -1;
    int32_t userId = -2;
    int m_channel = 1;

    qint32 areaMode[DetectCount * AreasPerDetect] = {};
    qint32 areaOffset[DetectCount * AreasPerDetect] = {};
    // Areas that got a rule in the last upload.
    bool ruled[MeasuredDetects][RulesPerDetect] = {};
    std::vector<unsigned char> statusBuffer;

    HKHotCameraThread* m_thread = nullptr;
};
