#include "hikcamera.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned int kLayers = MV_GIGE_DEVICE | MV_USB_DEVICE;  // 5
constexpr unsigned int kPixelBayerRG8 = 0x01080009;
constexpr unsigned int kPixelMono8 = 0x01080001;
constexpr unsigned int kPixelRgb8 = 0x02180014;
constexpr unsigned int kDisconnected = 0x8001;

// The texts of a device record, read within their fields: a field filled to
// the brim has no NUL, and what lies behind it is not part of the text.
QByteArray fieldText(const unsigned char* field, std::size_t size)
{
    const char* text = reinterpret_cast<const char*>(field);
    const void* nul = std::memchr(text, '\0', size);
    return QByteArray(text, int(nul ? static_cast<const char*>(nul) - text : std::ptrdiff_t(size)));
}

QByteArray serialOf(const MV_CC_DEVICE_INFO& device)
{
    return fieldText(device.gige.serialNumber, sizeof device.gige.serialNumber);
}

// Only this maker's cameras: its name as the SDK reports it, case and all.
bool fromTheMaker(const MV_CC_DEVICE_INFO& device)
{
    const QByteArray maker = fieldText(device.gige.manufacturerName, sizeof device.gige.manufacturerName);
    return maker.contains("Hik") || maker.contains("GEV");
}

QString hex8(int status)
{
    return QStringLiteral("%1").arg(quint32(status), 8, 16, QLatin1Char('0'));
}

// A reading on the camera's range turned back into the system's scale
// (0 to `scale`) with the step the setters use. A range that is unreadable or
// empty has no step: the setting reads 0 rather than a division by zero.
int toScale(bool readable, float current, float minimum, float maximum, float step, int scale)
{
    if (!readable || !(maximum > minimum) || !(step > 0.0f)) {
        return 0;
    }
    current = std::clamp(current, minimum, maximum);
    const float value = (current - minimum) / step;
    return std::clamp(int(value), 0, scale);
}

} // namespace

const float HikCamera::frameRateFactors[6] = {1.0f, 0.66f, 0.5f, 0.33f, 0.25f, 0.125f};
std::vector<MV_CC_DEVICE_INFO> HikCamera::deviceList;

HikCamera::HikCamera() = default;

HikCamera::HikCamera(const CameraInfo& record)
    : IndustrialCamera(record)
{
}

HikCamera::~HikCamera()
{
    closeHandle();
}

QString HikCamera::typeId()
{
    return QString::fromLatin1(kHikCameraIid);
}

int HikCamera::deviceCount()
{
    return 12;
}

QList<CameraInfo> HikCamera::enumerate()
{
    deviceList.clear();
    MV_CC_DEVICE_INFO_LIST list;
    std::memset(&list, 0, sizeof list);
    if (MV_CC_EnumDevices(kLayers, &list) != MV_OK) {
        return {};
    }
    QList<CameraInfo> found;
    const unsigned int count = std::min<unsigned int>(list.deviceCount, MV_MAX_DEVICE_NUM);
    for (unsigned int i = 0; i < count; ++i) {
        const MV_CC_DEVICE_INFO* device = list.devices[i];
        if (!device || !fromTheMaker(*device)) {
            continue;
        }
        deviceList.push_back(*device);
        CameraInfo info;
        info.index = int(deviceList.size()) - 1;
        info.number = -1;
        info.iid = typeId();
        info.setId(reinterpret_cast<const char*>(device->gige.serialNumber), sizeof device->gige.serialNumber);
        found.append(info);
    }
    return found;
}

CameraInterface* HikCamera::create(CameraInfo record)
{
    auto* camera = new HikCamera(record);
    // A short id is no serial number (a placeholder): open takes the first
    // camera that opens. Of two records with one serial the last one counts.
    if (camera->serialText.size() >= 9) {
        const QByteArray serial = camera->serialText.toLatin1();
        for (auto it = deviceList.rbegin(); it != deviceList.rend(); ++it) {
            if (serialOf(*it) == serial) {
                camera->chosenDevice = *it;
                camera->deviceChosen = true;
                break;
            }
        }
    }
    return camera;
}

bool HikCamera::openHandle(const MV_CC_DEVICE_INFO& device)
{
    void* made = nullptr;
    if (MV_CC_CreateHandle(&made, &device) != MV_OK || !made) {
        return false;
    }
    const int status = MV_CC_OpenDevice(made, MV_ACCESS_EXCLUSIVE, 0);
    if (status != MV_OK) {
        qInfo("camera open error : %s", qUtf8Printable(hex8(status)));
        MV_CC_DestroyHandle(made);
        return false;
    }
    handle = made;
    return true;
}

void HikCamera::closeHandle()
{
    if (!handle) {
        return;
    }
    // Both return only when no callback of this handle runs any more.
    MV_CC_CloseDevice(handle);
    MV_CC_DestroyHandle(handle);
    handle = nullptr;
}

bool HikCamera::open()
{
    // A reopening driver (reconnect) gives its old handle up first: its
    // callbacks must be over before the buffers they use change.
    closeHandle();
    colourFrames = colorOutput;

    if (deviceChosen) {
        if (!openHandle(chosenDevice)) {
            return false;
        }
    } else {
        bool opened = false;
        for (const MV_CC_DEVICE_INFO& device : deviceList) {
            if (openHandle(device)) {
                chosenDevice = device;
                deviceChosen = true;
                serialText = QString::fromLatin1(serialOf(device));
                opened = true;
                break;
            }
        }
        if (!opened) {
            return false;
        }
    }

    // Without its callbacks the camera would open and never deliver.
    int status = MV_CC_RegisterImageCallBack(handle, &HikCamera::imageCallback, this);
    if (status == MV_OK) {
        status = MV_CC_RegisterExceptionCallBack(handle, &HikCamera::exceptionCallback, this);
    }
    if (status != MV_OK) {
        qWarning("camera %s: callbacks not registered: %s", qUtf8Printable(serialText), qUtf8Printable(hex8(status)));
        closeHandle();
        return false;
    }

    MVCC_STRINGVALUE model;
    std::memset(&model, 0, sizeof model);
    MV_CC_GetStringValue(handle, "DeviceModelName", &model);
    const std::size_t modelLength = strnlen(model.text, sizeof model.text);
    colourSensor = !(modelLength > 0 && model.text[modelLength - 1] == 'M');

    MVCC_INTVALUE w{}, h{};
    const int widthStatus = MV_CC_GetIntValue(handle, "Width", &w);
    const int heightStatus = MV_CC_GetIntValue(handle, "Height", &h);
    if (widthStatus != MV_OK || heightStatus != MV_OK || w.current == 0 || h.current == 0
        || w.current > 65535 || h.current > 65535) {
        // Buffers sized on a guess would take frames of another size.
        qWarning("camera %s: frame size unreadable (%s, %s)", qUtf8Printable(serialText),
                 qUtf8Printable(hex8(widthStatus)), qUtf8Printable(hex8(heightStatus)));
        closeHandle();
        return false;
    }
    width = int(w.current);
    height = int(h.current);

    MV_CC_SetEnumValue(handle, "UserSetSelector", 0);
    MV_CC_SetCommandValue(handle, "UserSetLoad");
    MV_CC_SetBoolValue(handle, "SharpnessEnable", true);
    MV_CC_SetBoolValue(handle, "GammaEnable", true);
    MV_CC_SetIntValue(handle, "GevHeartbeatTimeout", 1000);

    pixelCount = width * height;
    const int bytes = colourFrames ? pixelCount * 4 : pixelCount;
    conversionBuffer.assign(std::size_t(bytes), 0);
    if (!allocateFrames()) {
        closeHandle();
        return false;
    }
    return true;
}

void HikCamera::close()
{
    closeHandle();
}

bool HikCamera::startGrab()
{
    return handle && MV_CC_StartGrabbing(handle) == MV_OK;
}

void HikCamera::stopGrab()
{
    if (handle) {
        MV_CC_StopGrabbing(handle);
    }
}

bool HikCamera::reconnect()
{
    online = false;
    MV_CC_DEVICE_INFO_LIST list;
    std::memset(&list, 0, sizeof list);
    if (MV_CC_EnumDevices(kLayers, &list) != MV_OK) {
        return false;
    }
    const QByteArray serial = serialText.toLatin1();
    bool found = false;
    const unsigned int count = std::min<unsigned int>(list.deviceCount, MV_MAX_DEVICE_NUM);
    for (unsigned int i = 0; i < count && !found; ++i) {
        const MV_CC_DEVICE_INFO* device = list.devices[i];
        if (device && fromTheMaker(*device) && serialOf(*device) == serial) {
            chosenDevice = *device;  // a copy: the SDK's record goes at its next enumeration
            deviceChosen = true;
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

void HikCamera::setExposure(int value)
{
    if (handle) {
        MV_CC_SetFloatValue(handle, "ExposureTime", float(value) * 1000.0f);
    }
}

void HikCamera::setGain(int value)
{
    MVCC_FLOATVALUE gain{};
    if (!handle || MV_CC_GetGain(handle, &gain) != MV_OK) {
        return;
    }
    MV_CC_SetEnumValue(handle, "GainAuto", 0);
    MV_CC_SetFloatValue(handle, "Gain", (gain.maximum - gain.minimum) * (1.0f / 64.0f) * float(value) + gain.minimum);
}

void HikCamera::setSharpness(int value)
{
    MVCC_INTVALUE sharpness{};
    if (!handle || MV_CC_GetSharpness(handle, &sharpness) != MV_OK) {
        return;
    }
    const float step = float(qint64(sharpness.maximum) - qint64(sharpness.minimum)) / 100.0f;
    const int target = int(step * float(value) + float(sharpness.minimum));
    MV_CC_SetIntValue(handle, "Sharpness", static_cast<unsigned int>(std::max(target, 0)));
}

void HikCamera::setGamma(int value)
{
    MVCC_FLOATVALUE gamma{};
    if (!handle || MV_CC_GetGamma(handle, &gamma) != MV_OK) {
        return;
    }
    MV_CC_SetFloatValue(handle, "Gamma", (gamma.maximum - gamma.minimum) / 250.0f * float(value) + gamma.minimum);
}

void HikCamera::setFrameRate(int value)
{
    MVCC_FLOATVALUE rate{};
    if (!handle || MV_CC_GetFloatValue(handle, "AcquisitionFrameRate", &rate) != MV_OK) {
        return;
    }
    const int k = std::clamp(value, 0, 5);
    MV_CC_SetFloatValue(handle, "AcquisitionFrameRate", rate.maximum * frameRateFactors[k]);
}

void HikCamera::setTriggerMode(bool hardware)
{
    if (!handle) {
        return;
    }
    if (hardware) {
        MV_CC_SetEnumValue(handle, "TriggerMode", 1);
        MV_CC_SetEnumValue(handle, "TriggerSource", 0);
    } else {
        MV_CC_SetEnumValue(handle, "TriggerMode", 0);
    }
}

void HikCamera::loadDefaults(int* parameters, int camera)
{
    stopGrab();
    if (handle) {
        MV_CC_SetEnumValue(handle, "UserSetSelector", 0);
        MV_CC_SetCommandValue(handle, "UserSetLoad");
        MV_CC_SetEnumValue(handle, "PixelFormat", colourSensor && colourFrames ? kPixelBayerRG8 : kPixelMono8);
    }
    startGrab();
    if (!parameters) {
        return;
    }
    MVCC_FLOATVALUE exposure{}, gain{}, gamma{};
    MVCC_INTVALUE sharpness{};
    const bool haveExposure = handle && MV_CC_GetExposureTime(handle, &exposure) == MV_OK;
    const bool haveGain = handle && MV_CC_GetGain(handle, &gain) == MV_OK;
    const bool haveSharpness = handle && MV_CC_GetSharpness(handle, &sharpness) == MV_OK;
    const bool haveGamma = handle && MV_CC_GetGamma(handle, &gamma) == MV_OK;

    parameters[camera] = haveExposure && exposure.current > 0.0f ? int(exposure.current / 1000.0f) : 0;
    parameters[8 + camera] = toScale(haveGain, gain.current, gain.minimum, gain.maximum,
                                     (gain.maximum - gain.minimum) * (1.0f / 64.0f), 64);
    const float sharpnessMin = float(sharpness.minimum);
    const float sharpnessMax = float(sharpness.maximum);
    parameters[16 + camera] = toScale(haveSharpness, float(sharpness.current), sharpnessMin, sharpnessMax,
                                      (sharpnessMax - sharpnessMin) / 100.0f, 100);
    parameters[32 + camera] = toScale(haveGamma, gamma.current, gamma.minimum, gamma.maximum,
                                      (gamma.maximum - gamma.minimum) / 250.0f, 250);
}

void HikCamera::imageCallback(unsigned char* data, MV_FRAME_OUT_INFO* info, void* user)
{
    if (!data || !info || !user) {
        return;
    }
    static_cast<HikCamera*>(user)->handleFrame(data, *info);
}

void HikCamera::handleFrame(unsigned char* data, const MV_FRAME_OUT_INFO& info)
{
    // Bits 16 to 23 of a pixel type give its bits per pixel.
    const unsigned int bits = (info.pixelType >> 16) & 0xFF;
    const bool convert = colourSensor && colourFrames;
    QString problem;
    if (bits == 0 || bits % 8 != 0 || (!convert && bits != 8)) {
        problem = QStringLiteral("pixel type %1").arg(info.pixelType, 8, 16, QLatin1Char('0'));
    } else {
        problem = frameMismatch(int(info.width), int(info.height), qint64(info.frameLength),
                                qint64(pixelCount) * qint64(bits / 8));
    }
    if (!problem.isEmpty()) {
        drops.dropped(serialText, problem);
        return;
    }

    bool taken;
    if (convert) {
        int status = MV_OK;
        taken = handOver.deliverWith([&](unsigned char* buffer, int) {
            conversionRequest.width = info.width;
            conversionRequest.height = info.height;
            conversionRequest.sourceType = info.pixelType;
            conversionRequest.source = data;
            conversionRequest.sourceLength = info.frameLength;
            conversionRequest.targetType = kPixelRgb8;
            conversionRequest.target = conversionBuffer.data();
            conversionRequest.targetSize = static_cast<unsigned int>(conversionBuffer.size());
            conversionRequest.targetLength = 0;
            status = MV_CC_ConvertPixelType(handle, &conversionRequest);
            if (status != MV_OK || qint64(conversionRequest.targetLength) != qint64(pixelCount) * 3) {
                return false;
            }
            rgb24ToRgb32(buffer, conversionBuffer.data(), width, height);
            return true;
        });
        if (!taken) {
            drops.dropped(serialText, QStringLiteral("conversion failed: %1").arg(hex8(status)));
            return;
        }
    } else if (colourFrames) {
        // A grey sensor in colour mode: every grey byte becomes a whole pixel.
        taken = handOver.deliverWith([&](unsigned char* buffer, int) { greyToRgb32(buffer, data, width, height); });
    } else {
        taken = handOver.deliver(data, info.frameLength);
    }
    if (taken) {
        drops.taken();
    }
}

void HikCamera::exceptionCallback(unsigned int code, void* user)
{
    if (code != kDisconnected || !user) {
        return;
    }
    auto* camera = static_cast<HikCamera*>(user);
    camera->online = false;
    qInfo("camera %s disconnect", qUtf8Printable(camera->serialText));
}
