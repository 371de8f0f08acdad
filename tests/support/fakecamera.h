#pragma once

#include "camerainterface.h"
#include "framehandover.h"
#include "settle.h"

#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A simulated camera device for tests and benchmarks: a CameraInterface over
// a FrameHandOver, fed by its own thread with generated grey or colour frames
// of any size while grabbing. Every driver call is recorded in order (GUI
// thread only). The device can vanish (no frames, isOnline and reconnect
// false) and come back, at another size if told; its thread can pause.
class FakeCamera : public CameraInterface {
    Q_OBJECT
public:
    FakeCamera(int width, int height, bool colour = false, int spectrum = 1,
               const QString& serial = QStringLiteral("FAKE0001"));
    ~FakeCamera() override;

    // Driver calls so far, as "name" or "name value[,value]".
    QStringList calls;
    // Answer of query(): the reply is set to this when not 0.
    int temperature = 0;
    QVariant lastQuery;
    QVariant lastDetectConfig;

    void setSpectrum(int value) { spectrumValue = value; }
    void setSerial(const QString& text) { serialValue = text; }
    // Delivering thread: hold (no frames once it returns) or go on.
    void pause(bool on);
    // The device drops off: no frames once it returns, isOnline and reconnect false.
    void vanish();
    // The device answers again; width and height > 0 make it come back at
    // that size.
    void comeBack(int newWidth = 0, int newHeight = 0);
    // Frames delivered into the hand-over so far.
    int delivered() const { return deliveredCount.load(); }
    // Blocks until at least n frames were delivered (at most timeoutMs).
    bool waitDelivered(int n, int timeoutMs = kSettleMs) const;

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
    void getSize(int& w, int& h) override;
    QString typeId() override;
    QString serial() override;
    bool getFrame(void* destination) override;
    void loadDefaults(int* parameters, int camera) override;
    QList<CameraInfo> enumerate() override;
    int deviceCount() override;
    CameraInterface* create(CameraInfo record) override;
    int spectrum() override;
    bool isOnline() override;

private:
    void run();
    void startThread();
    void stopThread();

    FrameHandOver handOver;
    int spectrumValue;
    QString serialValue;
    int pendingWidth = 0;
    int pendingHeight = 0;
    std::atomic<bool> present{true};
    std::atomic<bool> grabbingNow{false};
    std::atomic<bool> paused{false};
    std::atomic<int> deliveredCount{0};
    std::mutex mutex;
    std::mutex deliveryMutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread worker;
};

// The records a driver that lists count devices of type iid gives from
// enumerate(): serials prefix0, prefix1, ..., numbered as enumerated.
QList<CameraInfo> listedDevices(int count, const QString& iid, const char* prefix);
