#include "fakecamera.h"

#include <QElapsedTimer>

#include <chrono>
#include <vector>

FakeCamera::FakeCamera(int w, int h, bool colour, int spectrum, const QString& serialText)
    : spectrumValue(spectrum)
    , serialValue(serialText)
{
    width = w;
    height = h;
    colorOutput = colour;
}

FakeCamera::~FakeCamera()
{
    stopThread();
}

void FakeCamera::startThread()
{
    if (worker.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = false;
    }
    worker = std::thread([this] { run(); });
}

void FakeCamera::stopThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (worker.joinable()) {
        worker.join();
    }
}

void FakeCamera::run()
{
    // One generated frame per size, changed in its first bytes per delivery,
    // so large frames cost a copy, not a redraw.
    std::vector<unsigned char> frame;
    unsigned counter = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait_for(lock, std::chrono::milliseconds(5), [this] { return stopping; });
            if (stopping) {
                return;
            }
        }
        // Held from the check to the end of the delivery: once pause or
        // vanish returns, no frame is on its way, however slowly this thread
        // runs.
        std::lock_guard<std::mutex> delivering(deliveryMutex);
        if (!present.load() || !grabbingNow.load() || paused.load()) {
            continue;
        }
        const int bytes = handOver.bytes();
        if (bytes <= 0) {
            continue;
        }
        if (frame.size() != std::size_t(bytes)) {
            frame.resize(std::size_t(bytes));
            for (std::size_t i = 0; i < frame.size(); ++i) {
                frame[i] = static_cast<unsigned char>((i * 7u) & 0xffu);
            }
        }
        frame[0] = static_cast<unsigned char>(counter++);
        if (handOver.deliver(frame.data(), qint64(frame.size()))) {
            ++deliveredCount;
        }
    }
}

void FakeCamera::pause(bool on)
{
    std::lock_guard<std::mutex> delivering(deliveryMutex);
    paused = on;
}

void FakeCamera::vanish()
{
    std::lock_guard<std::mutex> delivering(deliveryMutex);
    present = false;
}

void FakeCamera::comeBack(int newWidth, int newHeight)
{
    pendingWidth = newWidth;
    pendingHeight = newHeight;
    present = true;
}

bool FakeCamera::waitDelivered(int n, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (deliveredCount.load() < n) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool FakeCamera::open()
{
    calls << QStringLiteral("open");
    if (!handOver.allocate(qint64(width) * height * (colorOutput ? 4 : 1))) {
        return false;
    }
    online = true;
    startThread();
    return true;
}

void FakeCamera::close()
{
    calls << QStringLiteral("close");
    {
        std::lock_guard<std::mutex> delivering(deliveryMutex);
        grabbingNow = false;
    }
    stopThread();
    online = false;
}

bool FakeCamera::startGrab()
{
    calls << QStringLiteral("startGrab");
    grabbingNow = true;
    return present.load();
}

void FakeCamera::stopGrab()
{
    calls << QStringLiteral("stopGrab");
    {
        std::lock_guard<std::mutex> delivering(deliveryMutex);
        grabbingNow = false;
    }
}

void FakeCamera::release()
{
    calls << QStringLiteral("release");
    {
        std::lock_guard<std::mutex> delivering(deliveryMutex);
        grabbingNow = false;
    }
}

bool FakeCamera::reconnect()
{
    calls << QStringLiteral("reconnect");
    if (!present.load()) {
        return false;
    }
    if (pendingWidth > 0 && pendingHeight > 0 && (pendingWidth != width || pendingHeight != height)) {
        grabbingNow = false;
        width = pendingWidth;
        height = pendingHeight;
        handOver.allocate(qint64(width) * height * (colorOutput ? 4 : 1));
    }
    pendingWidth = 0;
    pendingHeight = 0;
    online = true;
    return true;
}

QJsonObject FakeCamera::autoAdjust(bool on)
{
    calls << QStringLiteral("autoAdjust %1").arg(on);
    return QJsonObject();
}

#define FAKE_CALL(name, value) calls << QStringLiteral(name " %1").arg(value)

void FakeCamera::setExposure(int value) { FAKE_CALL("setExposure", value); }
void FakeCamera::setGain(int value) { FAKE_CALL("setGain", value); }
void FakeCamera::setSharpness(int value) { FAKE_CALL("setSharpness", value); }
void FakeCamera::setContrast(int value) { FAKE_CALL("setContrast", value); }
void FakeCamera::setGamma(int value) { FAKE_CALL("setGamma", value); }
void FakeCamera::setWideDynamicRange(bool on) { FAKE_CALL("setWideDynamicRange", int(on)); }
void FakeCamera::oneShotWhiteBalance() { calls << QStringLiteral("oneShotWhiteBalance"); }
void FakeCamera::setAutoExposure(bool on) { FAKE_CALL("setAutoExposure", int(on)); }
void FakeCamera::setColorOutput(bool on)
{
    FAKE_CALL("setColorOutput", int(on));
    colorOutput = on;
}
void FakeCamera::setDisplayWindow(QWidget*) { calls << QStringLiteral("setDisplayWindow"); }
void FakeCamera::setMirror(bool horizontal, bool vertical)
{
    calls << QStringLiteral("setMirror %1,%2").arg(int(horizontal)).arg(int(vertical));
}
void FakeCamera::setFrameRate(int value) { FAKE_CALL("setFrameRate", value); }
void FakeCamera::setDetectConfig(QVariant config, int flag)
{
    FAKE_CALL("setDetectConfig", flag);
    lastDetectConfig = config;
}
void FakeCamera::query(QVariant request, QVariant& reply, int flag)
{
    FAKE_CALL("query", flag);
    lastQuery = request;
    if (temperature != 0) {
        reply = QVariant(temperature);
    }
}
bool FakeCamera::takeFrameCount(int& frames)
{
    return handOver.takeFrameCount(frames);
}
void FakeCamera::setTriggerMode(bool hardware) { FAKE_CALL("setTriggerMode", int(hardware)); }
void FakeCamera::softTrigger() { calls << QStringLiteral("softTrigger"); }
void FakeCamera::getSize(int& w, int& h)
{
    calls << QStringLiteral("getSize");
    w = width;
    h = height;
}
QString FakeCamera::typeId() { return QString::fromLatin1(kSimulateCameraIid); }
QString FakeCamera::serial() { return serialValue; }
bool FakeCamera::getFrame(void* destination)
{
    return handOver.getFrame(destination);
}
void FakeCamera::loadDefaults(int* parameters, int camera)
{
    FAKE_CALL("loadDefaults", camera);
    for (int k = 0; k < 5; ++k) {
        parameters[8 * k + camera] = 10 + k;
    }
}
QList<CameraInfo> FakeCamera::enumerate() { return {}; }
int FakeCamera::deviceCount() { return 1; }
CameraInterface* FakeCamera::create(CameraInfo) { return nullptr; }
int FakeCamera::spectrum() { return spectrumValue; }
bool FakeCamera::isOnline()
{
    calls << QStringLiteral("isOnline");
    return present.load();
}

QList<CameraInfo> listedDevices(int count, const QString& iid, const char* prefix)
{
    QList<CameraInfo> devices;
    for (int i = 0; i < count; ++i) {
        CameraInfo record;
        record.index = i;
        record.number = i;
        record.iid = iid;
        qsnprintf(record.id, sizeof record.id, "%s%d", prefix, i);
        devices.append(record);
    }
    return devices;
}
