#include "do3thinkcamera.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSuccess = 1;
constexpr int kColour = 10;  // 3 bytes per pixel: red, green, blue
constexpr int kGrey = 30;

} // namespace

std::vector<dvpCameraInfo> Do3thinkCamera::deviceList;

Do3thinkCamera::Do3thinkCamera() = default;

Do3thinkCamera::Do3thinkCamera(const CameraInfo& record)
    : IndustrialCamera(record)
{
}

Do3thinkCamera::~Do3thinkCamera()
{
    closeHandle();
}

QString Do3thinkCamera::typeId()
{
    return QString::fromLatin1(kDo3thinkCameraIid);
}

QList<CameraInfo> Do3thinkCamera::enumerate()
{
    // A new enumeration replaces the list, so that indexes stay positions in it.
    deviceList.clear();
    unsigned int count = 0;
    if (dvpRefresh(&count) != kSuccess) {
        qInfo("Do3thinkCamera find camera fail");
        return {};
    }
    count = std::min(count, MaxCameras);
    QList<CameraInfo> found;
    for (unsigned int i = 0; i < count; ++i) {
        dvpCameraInfo record;
        std::memset(&record, 0, sizeof record);
        if (dvpEnum(i, &record) != kSuccess) {
            qInfo("Do3thinkCamera Enumerate fail!");
            continue;
        }
        deviceList.push_back(record);
        CameraInfo info;
        info.index = int(deviceList.size()) - 1;
        info.number = -1;
        info.iid = typeId();
        info.setId(record.userId, sizeof record.userId);
        found.append(info);
    }
    return found;
}

int Do3thinkCamera::deviceCount()
{
    unsigned int count = 0;
    return dvpRefresh(&count) == kSuccess ? int(count) : 0;
}

CameraInterface* Do3thinkCamera::create(CameraInfo record)
{
    if (record.index < 0 || record.index >= int(deviceList.size())) {
        qWarning("Do3thinkCamera: no device %d in the list of %d", record.index, int(deviceList.size()));
        return nullptr;
    }
    auto* camera = new Do3thinkCamera(record);
    camera->device = deviceList[std::size_t(record.index)];
    return camera;
}

void Do3thinkCamera::closeHandle()
{
    if (handleOpen) {
        // Returns only when no callback of this handle runs any more.
        dvpClose(handle);
    }
    handleOpen = false;
    handle = 0;
}

bool Do3thinkCamera::open()
{
    // A reconnecting driver gives its old handle up first: its callbacks
    // must be over before the buffers they use change.
    closeHandle();
    colourFrames = colorOutput;

    // The name field may be full to its last byte: the SDK gets a copy that ends.
    char name[sizeof device.friendlyName + 1];
    copyBoundedText(name, sizeof name, device.friendlyName, sizeof device.friendlyName);
    dvpHandle made = 0;
    if (dvpOpenByName(name, DVP_OPEN_NORMAL, &made) != kSuccess) {
        return false;
    }
    handle = made;
    handleOpen = true;
    // Without its frame format, its size or its callbacks the camera would
    // open and deliver nothing usable: give it back instead.
    auto fail = [this](const char* step) {
        qWarning("camera %s: %s failed, not opened", qUtf8Printable(serialText), step);
        closeHandle();
        return false;
    };
    dvpSetGammaState(handle, true);
    dvpSetContrastState(handle, true);
    dvpSetSharpnessState(handle, true);
    if (dvpSetTargetFormat(handle, colourFrames ? kColour : kGrey) != kSuccess) {
        return fail("setting the frame format");
    }
    dvpSetConfigString(handle, "HdrEnable", "false");
    dvpSetAeOperation(handle, 0);
    std::memset(&region, 0, sizeof region);
    if (dvpGetRoi(handle, &region) != kSuccess || region.width <= 0 || region.height <= 0 || region.width > 65535
        || region.height > 65535) {
        return fail("reading the frame size");
    }
    width = region.width;
    height = region.height;
    // Sized before the callbacks are registered: none can run yet.
    pixelCount = width * height;
    colourBuffer.assign(colourFrames ? std::size_t(pixelCount) * 4 : 0, 0);
    if (!allocateFrames()) {
        return fail("sizing the frame buffer");
    }
    dvpSetLinkTimeout(handle, 500);
    if (dvpRegisterEventCallback(handle, &Do3thinkCamera::eventCallback, DVP_EVENT_DEVICE_LOST, this) != kSuccess
        || dvpRegisterStreamCallback(handle, &Do3thinkCamera::streamCallback, DVP_STREAM_EVENT_FRAME_THREAD, this)
               != kSuccess) {
        return fail("registering the callbacks");
    }
    online = true;
    return true;
}

void Do3thinkCamera::close()
{
    closeHandle();
}

bool Do3thinkCamera::streamState(int* state)
{
    bool valid = false;
    if (!handleOpen || dvpIsValid(handle, &valid) != kSuccess || !valid) {
        return false;
    }
    return dvpGetStreamState(handle, state) == kSuccess;
}

bool Do3thinkCamera::startGrab()
{
    int state = -1;
    if (!streamState(&state)) {
        return false;
    }
    if (state == DVP_STREAM_STOPPED) {
        // A stream that did not start is no acquisition.
        return dvpStart(handle) == kSuccess;
    }
    return true;
}

void Do3thinkCamera::stopGrab()
{
    int state = -1;
    if (streamState(&state) && state == DVP_STREAM_STARTED) {
        dvpStop(handle);
    }
}

bool Do3thinkCamera::reconnect()
{
    // The same record and name as before: no new enumeration.
    online = false;
    const bool opened = open();
    const bool started = startGrab();
    online = opened && started;
    return online;
}

void Do3thinkCamera::setExposure(int value)
{
    if (handleOpen) {
        dvpSetExposure(handle, double(value) * 1000.0);
    }
}

void Do3thinkCamera::setGain(int value)
{
    if (handleOpen) {
        dvpSetAnalogGain(handle, float(value));
    }
}

void Do3thinkCamera::setSharpness(int value)
{
    if (handleOpen) {
        dvpSetSharpness(handle, value);
    }
}

void Do3thinkCamera::setContrast(int value)
{
    if (handleOpen) {
        dvpSetContrast(handle, value);
    }
}

void Do3thinkCamera::setGamma(int value)
{
    if (handleOpen) {
        dvpSetGamma(handle, value);
    }
}

void Do3thinkCamera::setWideDynamicRange(bool on)
{
    if (handleOpen) {
        dvpSetConfigString(handle, "HdrEnable", on ? "true" : "false");
    }
}

void Do3thinkCamera::setFrameRate(int value)
{
    skipCount = std::max(value, 0);
}

void Do3thinkCamera::setTriggerMode(bool on)
{
    if (handleOpen) {
        dvpSetTriggerState(handle, on);
        dvpSetTriggerSource(handle, DVP_TRIGGER_SOURCE_LINE1);
    }
}

void Do3thinkCamera::loadDefaults(int* parameters, int camera)
{
    stopGrab();
    if (!handleOpen || !parameters) {
        startGrab();
        return;
    }
    dvpLoadDefault(handle);
    dvpSetGammaState(handle, true);
    dvpSetContrastState(handle, true);
    dvpSetSharpnessState(handle, true);
    dvpSetTargetFormat(handle, colourFrames ? kColour : kGrey);
    dvpSetAeOperation(handle, 0);
    dvpSetRoi(handle, region);
    setWideDynamicRange(parameters[194] != 0);

    double exposure = 0;
    float gain = 0;
    int sharpness = 0, contrast = 0, gamma = 0;
    parameters[camera] = dvpGetExposure(handle, &exposure) == kSuccess ? int(exposure / 1000.0) : 0;
    parameters[8 + camera] = dvpGetAnalogGain(handle, &gain) == kSuccess ? int(gain) : 0;
    parameters[16 + camera] = dvpGetSharpness(handle, &sharpness) == kSuccess ? sharpness : 0;
    parameters[32 + camera] = dvpGetGamma(handle, &gamma) == kSuccess ? gamma : 0;
    parameters[24 + camera] = dvpGetContrast(handle, &contrast) == kSuccess ? contrast : 0;
    startGrab();
}

int Do3thinkCamera::streamCallback(dvpHandle, int, void* context, dvpFrame* frame, void* pixels)
{
    if (context && frame && pixels) {
        static_cast<Do3thinkCamera*>(context)->handleFrame(*frame, static_cast<const unsigned char*>(pixels));
    }
    return 0;
}

void Do3thinkCamera::handleFrame(const dvpFrame& frame, const unsigned char* pixels)
{
    std::lock_guard<std::mutex> lock(conversionMutex);
    // With skip count k every (k + 1)-th frame of the stream is taken.
    if (++skipCounter <= skipCount.load()) {
        return;
    }
    skipCounter = 0;

    const int wanted = colourFrames ? kColour : kGrey;
    QString problem;
    if (frame.format != wanted) {
        // Never the previous colour frame in its place: that would be judged as live.
        problem = QStringLiteral("format %1, %2 set up").arg(frame.format).arg(wanted);
    } else {
        problem = frameMismatch(frame.width, frame.height, qint64(frame.bytes),
                                qint64(pixelCount) * (colourFrames ? 3 : 1));
    }
    if (!problem.isEmpty()) {
        drops.dropped(serialText, problem);
        return;
    }
    bool taken;
    if (colourFrames) {
        rgb24ToRgb32(colourBuffer.data(), pixels, width, height);
        taken = handOver.deliver(colourBuffer.data(), qint64(colourBuffer.size()));
    } else {
        taken = handOver.deliver(pixels, pixelCount);
    }
    if (taken) {
        drops.taken();
    }
}

int Do3thinkCamera::eventCallback(dvpHandle, int, void* context, int, void*)
{
    if (context) {
        static_cast<Do3thinkCamera*>(context)->online = false;
    }
    return 0;
}
