#include "mindcamera.h"

#include <QJsonValue>

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned int kIspMono8 = 0x01080001;
constexpr unsigned int kIspRgb8 = 0x02180014;

QByteArray serialOf(const CameraDeviceRecord& record)
{
    const void* nul = std::memchr(record.serialNumber, '\0', sizeof record.serialNumber);
    return QByteArray(record.serialNumber,
                      int(nul ? static_cast<const char*>(nul) - record.serialNumber
                              : std::ptrdiff_t(sizeof record.serialNumber)));
}

// The system's scale from a camera value with whole-number steps. A range
// narrower than its scale has step 0: the setting reads 0 rather than a
// division by zero.
int toScale(int value, CameraRange range, int scale)
{
    const int step = (range.maximum - range.minimum) / scale;
    if (step <= 0) {
        return 0;
    }
    value = std::clamp(value, range.minimum, range.maximum);
    return std::clamp((value - range.minimum) / step, 0, scale);
}

int fromScale(int value, CameraRange range, int scale)
{
    // Whole steps: the remainder goes before the multiplication.
    return (range.maximum - range.minimum) / scale * value + range.minimum;
}

} // namespace

CameraDeviceRecord MindCamera::deviceTable[MindCamera::TableSize] = {};
int MindCamera::deviceTableCount = 0;

MindCamera::MindCamera() = default;

MindCamera::MindCamera(const CameraInfo& record)
    : IndustrialCamera(record)
{
}

MindCamera::~MindCamera()
{
    closeHandle();
}

QString MindCamera::typeId()
{
    return QString::fromLatin1(kMindCameraIid);
}

int MindCamera::refreshTable()
{
    int count = TableSize;
    if (CameraEnumerateDevice(deviceTable, &count) != CAMERA_STATUS_SUCCESS) {
        count = 0;
    }
    deviceTableCount = std::clamp(count, 0, int(TableSize));
    return deviceTableCount;
}

QList<CameraInfo> MindCamera::enumerate()
{
    CameraSetSysOption("IpCheck", "repair");
    const int count = refreshTable();
    QList<CameraInfo> found;
    for (int i = 0; i < count; ++i) {
        CameraInfo info;
        info.index = i;
        info.number = -1;
        info.iid = typeId();
        info.setId(deviceTable[i].serialNumber, sizeof deviceTable[i].serialNumber);
        found.append(info);
    }
    return found;
}

int MindCamera::deviceCount()
{
    return refreshTable();
}

CameraInterface* MindCamera::create(CameraInfo record)
{
    // The record must name a filled entry of the table, or the driver would
    // open whatever happened to be there.
    if (record.index < 0 || record.index >= deviceTableCount) {
        qWarning("MindCamera: no device %d in the table of %d", record.index, deviceTableCount);
        return nullptr;
    }
    auto* camera = new MindCamera(record);
    camera->device = deviceTable[record.index];
    return camera;
}

bool MindCamera::setFullResolution()
{
    CameraResolution resolution{};
    CameraGetImageResolution(handle, &resolution);
    resolution.index = CAMERA_RESOLUTION_CUSTOM;
    resolution.horizontalOffset = 0;
    resolution.verticalOffset = 0;
    resolution.fieldWidth = capability.maxWidth;
    resolution.fieldHeight = capability.maxHeight;
    resolution.width = capability.maxWidth;
    resolution.height = capability.maxHeight;
    return CameraSetImageResolution(handle, &resolution) == CAMERA_STATUS_SUCCESS;
}

bool MindCamera::setOutputFormat()
{
    if (!colourSensor) {
        const int status = CameraSetIspOutFormat(handle, kIspMono8);
        CameraSetMonochrome(handle, 0);
        return status == CAMERA_STATUS_SUCCESS;
    }
    CameraSetMediaType(handle, colourFrames ? 0 : 1);
    return CameraSetIspOutFormat(handle, colourFrames ? kIspRgb8 : kIspMono8) == CAMERA_STATUS_SUCCESS;
}

void MindCamera::closeHandle()
{
    if (handle > 0) {
        // Returns only when no callback of this handle runs any more.
        CameraUnInit(handle);
        CameraSetCallbackFunction(handle, nullptr, nullptr, nullptr);
    }
    handle = 0;
}

bool MindCamera::open()
{
    // A reopening driver (reconnect) gives its old handle up first: its
    // callbacks must be over before the buffers they use change.
    closeHandle();
    colourFrames = colorOutput;

    CameraHandle made = 0;
    if (CameraInit(&device, -1, -1, &made) != CAMERA_STATUS_SUCCESS || made <= 0) {
        return false;
    }
    handle = made;
    // Without the sensor's size, its output format or the callbacks the
    // camera would open and deliver nothing usable: give it back instead.
    auto fail = [this](const char* step) {
        qWarning("camera %s: %s failed, not opened", qUtf8Printable(serialText), step);
        closeHandle();
        return false;
    };
    std::memset(&capability, 0, sizeof capability);
    if (CameraGetCapability(handle, &capability) != CAMERA_STATUS_SUCCESS || capability.maxWidth <= 0
        || capability.maxHeight <= 0 || capability.maxWidth > 65535 || capability.maxHeight > 65535) {
        return fail("reading the capability");
    }
    colourSensor = !capability.monochromeSensor;
    if (!setFullResolution()) {
        return fail("setting the full resolution");
    }
    width = capability.maxWidth;
    height = capability.maxHeight;
    if (!setOutputFormat()) {
        return fail("setting the output format");
    }

    // Sized before the callbacks are registered: none can run yet.
    pixelCount = width * height;
    processingBuffer.assign(std::size_t(pixelCount) * 4, 0);
    colourBuffer.assign(colourFrames ? std::size_t(pixelCount) * 4 : 0, 0);
    if (!allocateFrames()) {
        return fail("sizing the frame buffer");
    }

    if (CameraSetConnectionStatusCallback(handle, &MindCamera::connectionCallback, this) != CAMERA_STATUS_SUCCESS
        || CameraSetCallbackFunction(handle, &MindCamera::frameCallback, this, nullptr) != CAMERA_STATUS_SUCCESS) {
        return fail("registering the callbacks");
    }
    CameraCommonCall(handle, "set_online_detect_interval(500)", nullptr, 0);
    CameraSetAeState(handle, 0);
    CameraCommonCall(handle, "set_awdr_enable(false)", nullptr, 0);
    return true;
}

void MindCamera::close()
{
    closeHandle();
}

bool MindCamera::startGrab()
{
    if (handle < 1) {
        return false;
    }
    // A camera that does not play is not grabbing, whatever was asked.
    return CameraPlay(handle) == CAMERA_STATUS_SUCCESS;
}

void MindCamera::stopGrab()
{
    if (handle > 0) {
        CameraStop(handle);
    }
}

bool MindCamera::reconnect()
{
    online = false;
    const int count = refreshTable();
    const QByteArray serial = serialText.toLatin1();
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        if (serialOf(deviceTable[i]) == serial) {
            device = deviceTable[i];
            found = true;
        }
    }
    if (!found) {
        return false;
    }
    const bool opened = open();
    const bool started = startGrab();
    online = opened && started;
    return online;
}

QJsonObject MindCamera::autoAdjust(bool on)
{
    if (handle < 1) {
        return {};
    }
    if (on) {
        CameraSetAeState(handle, 1);
        CameraSetAeTarget(handle, 120);
        CameraSetAeExposureRange(handle, 0.0, 100000.0);
        CameraSetAntiFlick(handle, 1);
        return {};
    }
    CameraSetAeState(handle, 0);
    QJsonObject result;
    double exposure = 0;
    int gain = 0;
    // Only what was read: a 0 would reach the settings as a real value.
    if (CameraGetExposureTime(handle, &exposure) == CAMERA_STATUS_SUCCESS) {
        result.insert(QStringLiteral("ExposureTime"), exposure);
    }
    if (CameraGetAnalogGain(handle, &gain) == CAMERA_STATUS_SUCCESS) {
        result.insert(QStringLiteral("Gain"), gain);
    }
    return result;
}

void MindCamera::setExposure(int value)
{
    if (handle > 0) {
        CameraSetExposureTime(handle, double(value) * 1000.0);
    }
}

void MindCamera::setGain(int value)
{
    int minimum = 0, maximum = 0;
    if (handle < 1 || CameraGetAeAnalogGainRange(handle, &minimum, &maximum) != CAMERA_STATUS_SUCCESS) {
        return;
    }
    CameraSetAnalogGain(handle, int(double(maximum - minimum) * (1.0 / 64.0) * double(value) + double(minimum)));
}

void MindCamera::setSharpness(int value)
{
    if (handle > 0) {
        CameraSetSharpness(handle, fromScale(value, capability.sharpness, 100));
    }
}

void MindCamera::setContrast(int value)
{
    if (handle > 0) {
        CameraSetContrast(handle, fromScale(value, capability.contrast, 200));
    }
}

void MindCamera::setGamma(int value)
{
    if (handle > 0) {
        CameraSetGamma(handle, fromScale(value, capability.gamma, 250));
    }
}

void MindCamera::setWideDynamicRange(bool on)
{
    if (handle > 0) {
        CameraCommonCall(handle, on ? "set_awdr_enable(true)" : "set_awdr_enable(false)", nullptr, 0);
    }
}

void MindCamera::oneShotWhiteBalance()
{
    if (handle > 0) {
        CameraSetOnceWB(handle);
    }
}

void MindCamera::setMirror(bool horizontal, bool vertical)
{
    if (handle > 0) {
        CameraSetMirror(handle, 0, horizontal ? 1 : 0);
        CameraSetMirror(handle, 1, vertical ? 1 : 0);
    }
}

void MindCamera::setFrameRate(int value)
{
    if (handle > 0) {
        CameraSetFrameSpeed(handle, colourFrames ? value + 1 : value);
    }
}

void MindCamera::setTriggerMode(bool hardware)
{
    if (handle > 0) {
        CameraSetTriggerMode(handle, hardware ? CAMERA_TRIGGER_HARDWARE : CAMERA_TRIGGER_CONTINUOUS);
    }
}

void MindCamera::loadDefaults(int* parameters, int camera)
{
    stopGrab();
    if (handle < 1 || !parameters) {
        startGrab();
        return;
    }
    CameraLoadParameter(handle, CAMERA_PARAMETER_DEFAULT);
    setFullResolution();
    if (colourSensor) {
        CameraSetWbMode(handle, 0);
    }
    setOutputFormat();
    CameraSetAeState(handle, parameters[193] != 0 ? 1 : 0);
    CameraSetMirror(handle, 0, 0);
    CameraSetMirror(handle, 1, 0);
    CameraSetFrameSpeed(handle, 0);

    double exposure = 0;
    parameters[camera] = CameraGetExposureTime(handle, &exposure) == CAMERA_STATUS_SUCCESS && exposure > 0
                             ? int(exposure / 1000.0)
                             : 0;
    int minimum = 0, maximum = 0, gain = 0;
    const bool haveGain = CameraGetAeAnalogGainRange(handle, &minimum, &maximum) == CAMERA_STATUS_SUCCESS
                          && CameraGetAnalogGain(handle, &gain) == CAMERA_STATUS_SUCCESS;
    const double gainStep = double(maximum - minimum) * (1.0 / 64.0);
    parameters[8 + camera] =
        haveGain && gainStep > 0
            ? std::clamp(int((double(std::clamp(gain, minimum, maximum)) - minimum) / gainStep), 0, 64)
            : 0;
    int value = 0;
    parameters[16 + camera] = CameraGetSharpness(handle, &value) == CAMERA_STATUS_SUCCESS
                                  ? toScale(value, capability.sharpness, 100)
                                  : 0;
    parameters[24 + camera] = CameraGetContrast(handle, &value) == CAMERA_STATUS_SUCCESS
                                  ? toScale(value, capability.contrast, 200)
                                  : 0;
    parameters[32 + camera] =
        CameraGetGamma(handle, &value) == CAMERA_STATUS_SUCCESS ? toScale(value, capability.gamma, 250) : 0;
    setFrameRate(parameters[139]);
    startGrab();
}

void MindCamera::frameCallback(CameraHandle, unsigned char* raw, CameraFrameHeader* header, void* context)
{
    if (!raw || !header || !context) {
        return;
    }
    static_cast<MindCamera*>(context)->handleFrame(raw, header);
}

void MindCamera::handleFrame(unsigned char* raw, CameraFrameHeader* header)
{
    // The image processor writes a frame of the size its header gives: one
    // of another size than open set up would run past the buffers.
    const unsigned int bits = (header->mediaType >> 16) & 0xFF;
    QString problem;
    if (bits == 0 || bits % 8 != 0) {
        problem = QStringLiteral("media type %1").arg(header->mediaType, 8, 16, QLatin1Char('0'));
    } else {
        problem = frameMismatch(header->width, header->height, qint64(header->bytes),
                                qint64(pixelCount) * qint64(bits / 8));
    }
    if (!problem.isEmpty()) {
        drops.dropped(serialText, problem);
        return;
    }

    std::lock_guard<std::mutex> lock(conversionMutex);
    const int status = CameraImageProcess(handle, raw, processingBuffer.data(), header);
    if (status != CAMERA_STATUS_SUCCESS) {
        drops.dropped(serialText, QStringLiteral("image processing failed: %1").arg(status));
        return;
    }
    bool taken;
    if (colourFrames) {
        // A grey sensor's processed frame has one byte per pixel.
        if (colourSensor) {
            rgb24ToRgb32(colourBuffer.data(), processingBuffer.data(), width, height);
        } else {
            greyToRgb32(colourBuffer.data(), processingBuffer.data(), width, height);
        }
        taken = handOver.deliver(colourBuffer.data(), qint64(colourBuffer.size()));
    } else {
        taken = handOver.deliver(processingBuffer.data(), pixelCount);
    }
    if (taken) {
        drops.taken();
    }
}

void MindCamera::connectionCallback(CameraHandle, unsigned int message, unsigned int, void* context)
{
    if (!context) {
        return;
    }
    auto* camera = static_cast<MindCamera*>(context);
    if (message == CAMERA_LINK_LOST) {
        camera->online = false;
    } else if (message == CAMERA_LINK_BACK) {
        camera->online = true;
    }
}
