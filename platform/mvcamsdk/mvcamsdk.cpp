#include "mvcamsdk.h"
#include "mvcamsdksim.h"
#include "sessionhandle.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

using simdev::Feature;
using simdev::PixelFormat;
using simdev::Session;
using simdev::SetResult;

namespace {

void completeProfile(simdev::DeviceProfile& profile)
{
    auto add = [&](const char* name, double value, double minimum, double maximum) {
        if (!profile.features.count(name)) {
            profile.features[name] = Feature{value, minimum, maximum, value};
        }
    };
    add("Exposure", 10000, 100, 1000000);
    add("AnalogGain", 16, 16, 144);
    add("Sharpness", 0, 0, 100);
    add("Contrast", 100, 0, 200);
    add("Gamma", 100, 0, 1000);
    add("AeState", 1, 0, 1);
    add("AeTarget", 100, 0, 255);
    add("AeExposureMin", 100, 0, 1e7);
    add("AeExposureMax", 50000, 0, 1e7);
    add("AntiFlick", 0, 0, 1);
    add("WbMode", 1, 0, 1);
    add("OnceWb", 0, 0, 1e9);
    add("MirrorH", 0, 0, 1);
    add("MirrorV", 0, 0, 1);
    add("FrameSpeed", 2, 0, 9);
    add("Monochrome", 0, 0, 1);
    add("MediaType", 0, 0, 1);
    add("IspOutFormat", profile.mono ? CAMERA_MEDIA_MONO8 : CAMERA_MEDIA_RGB8, 0, 0x7FFFFFFF);
    add("OnlineDetectInterval", 0, 0, 60000);
    add("Awdr", 0, 0, 1);
    add("TriggerMode", 0, 0, 2);
    if (profile.maker.empty()) {
        profile.maker = "MindVision";
    }
}

simdev::Simulator& sim()
{
    return mindSimulator();
}

const simdev::StatusCodes kStatus{
    CAMERA_STATUS_SUCCESS,
    CAMERA_STATUS_INVALID_HANDLE,  // no such handle
    CAMERA_STATUS_INVALID_HANDLE,  // not open
    CAMERA_STATUS_NO_DEVICE_FOUND, // the device is gone
    CAMERA_STATUS_NOT_SUPPORTED,
    CAMERA_STATUS_PARAMETER_INVALID,
    CAMERA_STATUS_FAILED,  // a setting held
    CAMERA_STATUS_FAILED,
};
const simdev::FormatCodes kFormats{CAMERA_MEDIA_MONO8, CAMERA_MEDIA_BAYRG8, CAMERA_MEDIA_RGB8};

struct MindHandle : simdev::SessionHandle {
    std::string serial;
    CameraFrameCallback frame = nullptr;
    void* frameContext = nullptr;
    CameraConnectionCallback connection = nullptr;
    void* connectionContext = nullptr;
};

std::shared_ptr<MindHandle> findHandle(CameraHandle handle)
{
    return handle > 0 ? sim().handle<MindHandle>(std::uintptr_t(handle)) : nullptr;
}

template <typename F>
int withSession(CameraHandle handle, F&& f)
{
    return simdev::withSession(findHandle(handle), kStatus, std::forward<F>(f));
}

int statusOf(SetResult result)
{
    return simdev::statusOf(result, kStatus);
}

std::optional<PixelFormat> formatOf(unsigned int media)
{
    return simdev::formatOf(media, kFormats);
}

unsigned int mediaOf(PixelFormat format)
{
    return simdev::codeOf(format, kFormats);
}

// Sets a whole-number feature through the named call.
int setFeature(const char* function, const char* name, CameraHandle handle, double value)
{
    return simdev::setFeature(sim(), kStatus, function, name, handle, value, findHandle);
}

template <typename T>
int getFeature(const char* function, const char* name, CameraHandle handle, T* value)
{
    return simdev::getFeature(sim(), kStatus, function, name, handle, value, findHandle);
}

CameraRange rangeOf(Session& session, const char* name)
{
    Feature feature;
    session.feature(name, &feature);
    return CameraRange{int(feature.minimum), int(feature.maximum)};
}

using simdev::fillText;

} // namespace

simdev::Simulator& mindSimulator()
{
    static simdev::Simulator simulator(simdev::SimulatorOptions{"MVCAMSDK", CAMERA_LINK_LOST, completeProfile});
    return simulator;
}

extern "C" {

int CameraSetSysOption(const char* name, const char* value)
{
    if (const auto fault = sim().call("CameraSetSysOption",
                                      simdev::arguments(simdev::boundedText(name, 256), simdev::boundedText(value, 256)))) {
        return *fault;
    }
    return name && value ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_PARAMETER_INVALID;
}

int CameraEnumerateDevice(CameraDeviceRecord* list, int* count)
{
    if (const auto fault = sim().call("CameraEnumerateDevice", simdev::arguments(count ? *count : -1))) {
        return *fault;
    }
    if (!list || !count || *count < 0) {
        return CAMERA_STATUS_PARAMETER_INVALID;
    }
    const auto devices = sim().present();
    const int filled = std::min(*count, int(devices.size()));
    for (int i = 0; i < filled; ++i) {
        const simdev::DeviceProfile& profile = devices[std::size_t(i)];
        CameraDeviceRecord& record = list[i];
        std::memset(&record, 0, sizeof record);
        fillText(record.productSeries, sizeof record.productSeries, profile.maker);
        fillText(record.productName, sizeof record.productName, profile.model);
        fillText(record.friendlyName, sizeof record.friendlyName, profile.name);
        fillText(record.serialNumber, sizeof record.serialNumber, profile.serial);
        // Printable bytes right behind the serial field: a serial read past
        // its 32 bytes shows.
        record.instance = 0x30303030u + static_cast<unsigned int>(i);
    }
    *count = filled;
    return CAMERA_STATUS_SUCCESS;
}

int CameraInit(const CameraDeviceRecord* device, int parameterMode, int team, CameraHandle* handle)
{
    const std::string serial =
        device ? simdev::boundedText(device->serialNumber, sizeof device->serialNumber) : std::string("(null)");
    if (const auto fault = sim().call("CameraInit", simdev::arguments(serial, parameterMode, team))) {
        return *fault;
    }
    if (!device || !handle) {
        return CAMERA_STATUS_PARAMETER_INVALID;
    }
    simdev::OpenResult result;
    auto session = sim().open(serial, &result);
    if (!session) {
        return result == simdev::OpenResult::Busy ? CAMERA_STATUS_DEVICE_BUSY : CAMERA_STATUS_NO_DEVICE_FOUND;
    }
    auto h = std::make_shared<MindHandle>();
    h->serial = serial;
    h->session = session;
    const CameraHandle key = CameraHandle(sim().addHandle(h));
    std::weak_ptr<MindHandle> weak = h;
    session->setEventSink([weak, key](int code) {
        const auto owner = weak.lock();
        if (!owner) {
            return;
        }
        CameraConnectionCallback callback;
        void* context;
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            callback = owner->connection;
            context = owner->connectionContext;
        }
        if (callback) {
            callback(key, static_cast<unsigned int>(code), 0, context);
        }
    });
    session->setFrameSink([weak, key](const simdev::Frame& frame) {
        const auto owner = weak.lock();
        if (!owner) {
            return;
        }
        CameraFrameCallback callback;
        void* context;
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            callback = owner->frame;
            context = owner->frameContext;
        }
        if (!callback) {
            return;
        }
        CameraFrameHeader header{};
        header.mediaType = mediaOf(frame.format);
        header.bytes = static_cast<unsigned int>(frame.bytes);
        header.width = frame.width;
        header.height = frame.height;
        header.sequence = frame.sequence;
        callback(key, const_cast<unsigned char*>(frame.data), &header, context);
    });
    *handle = key;
    return CAMERA_STATUS_SUCCESS;
}

int CameraUnInit(CameraHandle handle)
{
    if (const auto fault = sim().call("CameraUnInit", simdev::arguments(handle))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return CAMERA_STATUS_INVALID_HANDLE;
    }
    h->closeSession();
    sim().removeHandle(std::uintptr_t(handle));
    return CAMERA_STATUS_SUCCESS;
}

int CameraGetCapability(CameraHandle handle, CameraCapability* capability)
{
    if (const auto fault = sim().call("CameraGetCapability", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (!capability) {
            return int(CAMERA_STATUS_PARAMETER_INVALID);
        }
        std::memset(capability, 0, sizeof *capability);
        capability->monochromeSensor = session.mono() ? 1 : 0;
        session.size(&capability->maxWidth, &capability->maxHeight);
        capability->sharpness = rangeOf(session, "Sharpness");
        capability->contrast = rangeOf(session, "Contrast");
        capability->gamma = rangeOf(session, "Gamma");
        capability->analogGain = rangeOf(session, "AnalogGain");
        Feature exposure;
        session.feature("Exposure", &exposure);
        capability->exposureMinimum = exposure.minimum;
        capability->exposureMaximum = exposure.maximum;
        return int(CAMERA_STATUS_SUCCESS);
    });
}

int CameraGetImageResolution(CameraHandle handle, CameraResolution* resolution)
{
    if (const auto fault = sim().call("CameraGetImageResolution", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (!resolution) {
            return int(CAMERA_STATUS_PARAMETER_INVALID);
        }
        int width = 0, height = 0;
        session.size(&width, &height);
        *resolution = CameraResolution{0, 0, 0, width, height, width, height};
        return int(CAMERA_STATUS_SUCCESS);
    });
}

int CameraSetImageResolution(CameraHandle handle, const CameraResolution* resolution)
{
    if (const auto fault = sim().call(
            "CameraSetImageResolution",
            resolution ? simdev::arguments(handle, resolution->index, resolution->horizontalOffset,
                                           resolution->verticalOffset, resolution->fieldWidth,
                                           resolution->fieldHeight, resolution->width, resolution->height)
                       : simdev::arguments(handle, "(null)"))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (!resolution) {
            return int(CAMERA_STATUS_PARAMETER_INVALID);
        }
        // The simulated sensor reads out whole frames only.
        int width = 0, height = 0;
        session.size(&width, &height);
        const bool whole = resolution->horizontalOffset == 0 && resolution->verticalOffset == 0
                           && resolution->fieldWidth == width && resolution->fieldHeight == height
                           && resolution->width == width && resolution->height == height;
        return whole ? int(CAMERA_STATUS_SUCCESS) : int(CAMERA_STATUS_NOT_SUPPORTED);
    });
}

int CameraSetIspOutFormat(CameraHandle handle, unsigned int format)
{
    if (const auto fault = sim().call("CameraSetIspOutFormat", simdev::arguments(handle, format))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (format != CAMERA_MEDIA_MONO8 && format != CAMERA_MEDIA_RGB8) {
            return int(CAMERA_STATUS_NOT_SUPPORTED);
        }
        return statusOf(session.setFeature("IspOutFormat", double(format)));
    });
}

int CameraSetMonochrome(CameraHandle handle, int enable)
{
    return setFeature("CameraSetMonochrome", "Monochrome", handle, enable ? 1 : 0);
}

int CameraSetMediaType(CameraHandle handle, int index)
{
    if (const auto fault = sim().call("CameraSetMediaType", simdev::arguments(handle, index))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (index < 0 || index > 1 || (session.mono() && index != 0)) {
            return int(CAMERA_STATUS_PARAMETER_INVALID);
        }
        const PixelFormat format =
            session.mono() || index == 1 ? PixelFormat::Mono8 : PixelFormat::BayerRG8;
        const int status = statusOf(session.setFormat(format));
        if (status == CAMERA_STATUS_SUCCESS) {
            session.setFeature("MediaType", index);
        }
        return status;
    });
}

int CameraSetConnectionStatusCallback(CameraHandle handle, CameraConnectionCallback callback, void* context)
{
    if (const auto fault = sim().call("CameraSetConnectionStatusCallback",
                                      simdev::arguments(handle, callback ? "callback" : "none"))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return CAMERA_STATUS_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    h->connection = callback;
    h->connectionContext = context;
    return CAMERA_STATUS_SUCCESS;
}

int CameraSetCallbackFunction(CameraHandle handle, CameraFrameCallback callback, void* context,
                              CameraFrameCallback* previous)
{
    if (const auto fault = sim().call("CameraSetCallbackFunction",
                                      simdev::arguments(handle, callback ? "callback" : "none"))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return CAMERA_STATUS_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    if (previous) {
        *previous = h->frame;
    }
    h->frame = callback;
    h->frameContext = context;
    return CAMERA_STATUS_SUCCESS;
}

int CameraCommonCall(CameraHandle handle, const char* command, char* result, unsigned int resultSize)
{
    const std::string text = simdev::boundedText(command, 256);
    if (const auto fault = sim().call("CameraCommonCall", simdev::arguments(handle, text))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (result && resultSize > 0) {
            result[0] = '\0';
        }
        const std::string interval = "set_online_detect_interval(";
        if (text.compare(0, interval.size(), interval) == 0 && text.back() == ')') {
            const std::string number = text.substr(interval.size(), text.size() - interval.size() - 1);
            if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
                return int(CAMERA_STATUS_PARAMETER_INVALID);
            }
            return statusOf(session.setFeature("OnlineDetectInterval", std::stod(number)));
        }
        if (text == "set_awdr_enable(true)" || text == "set_awdr_enable(false)") {
            return statusOf(session.setFeature("Awdr", text == "set_awdr_enable(true)" ? 1 : 0));
        }
        return int(CAMERA_STATUS_NOT_SUPPORTED);
    });
}

int CameraImageProcess(CameraHandle handle, unsigned char* raw, unsigned char* out, CameraFrameHeader* header)
{
    if (const auto fault = sim().call("CameraImageProcess",
                                      header ? simdev::arguments(handle, header->width, header->height,
                                                                 header->mediaType, header->bytes)
                                             : simdev::arguments(handle, "(null)"))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return CAMERA_STATUS_INVALID_HANDLE;
    }
    const auto session = h->openSession();
    if (!session) {
        return CAMERA_STATUS_INVALID_HANDLE;
    }
    session->checkpoint();
    if (!raw || !out || !header) {
        return CAMERA_STATUS_PARAMETER_INVALID;
    }
    const auto from = formatOf(header->mediaType);
    if (!from || !simdev::validFrameSize(header->width, header->height)
        || header->bytes != simdev::frameBytes(header->width, header->height, *from)) {
        return CAMERA_STATUS_PARAMETER_INVALID;
    }
    Feature output;
    session->feature("IspOutFormat", &output);
    const auto to = formatOf(static_cast<unsigned int>(output.value));
    // Like the real image processor, this writes width x height pixels of
    // the output format into `out`, whatever the buffer holds.
    if (!to || !simdev::convertFrame(raw, *from, header->width, header->height, out, *to)) {
        return CAMERA_STATUS_NOT_SUPPORTED;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CameraPlay(CameraHandle handle)
{
    if (const auto fault = sim().call("CameraPlay", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        return session.start() ? int(CAMERA_STATUS_SUCCESS) : int(CAMERA_STATUS_NO_DEVICE_FOUND);
    });
}

int CameraStop(CameraHandle handle)
{
    if (const auto fault = sim().call("CameraStop", simdev::arguments(handle))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    const auto session = h ? h->openSession() : nullptr;
    if (!session) {
        return CAMERA_STATUS_INVALID_HANDLE;
    }
    session->stop();
    return CAMERA_STATUS_SUCCESS;
}

int CameraSetAeState(CameraHandle handle, int on)
{
    return setFeature("CameraSetAeState", "AeState", handle, on ? 1 : 0);
}

int CameraSetAeTarget(CameraHandle handle, int target)
{
    return setFeature("CameraSetAeTarget", "AeTarget", handle, target);
}

int CameraSetAeExposureRange(CameraHandle handle, double minimum, double maximum)
{
    if (const auto fault = sim().call("CameraSetAeExposureRange", simdev::arguments(handle, minimum, maximum))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (minimum > maximum) {
            return int(CAMERA_STATUS_PARAMETER_INVALID);
        }
        const int status = statusOf(session.setFeature("AeExposureMin", minimum));
        return status != CAMERA_STATUS_SUCCESS ? status : statusOf(session.setFeature("AeExposureMax", maximum));
    });
}

int CameraSetAntiFlick(CameraHandle handle, int on)
{
    return setFeature("CameraSetAntiFlick", "AntiFlick", handle, on ? 1 : 0);
}

int CameraSetExposureTime(CameraHandle handle, double microseconds)
{
    return setFeature("CameraSetExposureTime", "Exposure", handle, microseconds);
}

int CameraGetExposureTime(CameraHandle handle, double* microseconds)
{
    return getFeature("CameraGetExposureTime", "Exposure", handle, microseconds);
}

int CameraSetAnalogGain(CameraHandle handle, int gain)
{
    return setFeature("CameraSetAnalogGain", "AnalogGain", handle, gain);
}

int CameraGetAnalogGain(CameraHandle handle, int* gain)
{
    return getFeature("CameraGetAnalogGain", "AnalogGain", handle, gain);
}

int CameraGetAeAnalogGainRange(CameraHandle handle, int* minimum, int* maximum)
{
    if (const auto fault = sim().call("CameraGetAeAnalogGainRange", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (!minimum || !maximum) {
            return int(CAMERA_STATUS_PARAMETER_INVALID);
        }
        const CameraRange range = rangeOf(session, "AnalogGain");
        *minimum = range.minimum;
        *maximum = range.maximum;
        return int(CAMERA_STATUS_SUCCESS);
    });
}

int CameraSetSharpness(CameraHandle handle, int value)
{
    return setFeature("CameraSetSharpness", "Sharpness", handle, value);
}

int CameraGetSharpness(CameraHandle handle, int* value)
{
    return getFeature("CameraGetSharpness", "Sharpness", handle, value);
}

int CameraSetContrast(CameraHandle handle, int value)
{
    return setFeature("CameraSetContrast", "Contrast", handle, value);
}

int CameraGetContrast(CameraHandle handle, int* value)
{
    return getFeature("CameraGetContrast", "Contrast", handle, value);
}

int CameraSetGamma(CameraHandle handle, int value)
{
    return setFeature("CameraSetGamma", "Gamma", handle, value);
}

int CameraGetGamma(CameraHandle handle, int* value)
{
    return getFeature("CameraGetGamma", "Gamma", handle, value);
}

int CameraSetOnceWB(CameraHandle handle)
{
    if (const auto fault = sim().call("CameraSetOnceWB", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        Feature done;
        session.feature("OnceWb", &done);
        return statusOf(session.setFeature("OnceWb", done.value + 1));
    });
}

int CameraSetWbMode(CameraHandle handle, int mode)
{
    return setFeature("CameraSetWbMode", "WbMode", handle, mode);
}

int CameraSetMirror(CameraHandle handle, int direction, int enable)
{
    if (const auto fault = sim().call("CameraSetMirror", simdev::arguments(handle, direction, enable))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (direction != 0 && direction != 1) {
            return int(CAMERA_STATUS_PARAMETER_INVALID);
        }
        return statusOf(session.setFeature(direction == 0 ? "MirrorH" : "MirrorV", enable ? 1 : 0));
    });
}

int CameraSetFrameSpeed(CameraHandle handle, int speed)
{
    return setFeature("CameraSetFrameSpeed", "FrameSpeed", handle, speed);
}

int CameraSetTriggerMode(CameraHandle handle, int mode)
{
    if (const auto fault = sim().call("CameraSetTriggerMode", simdev::arguments(handle, mode))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        const int status = statusOf(session.setFeature("TriggerMode", mode));
        if (status == CAMERA_STATUS_SUCCESS) {
            session.setTriggered(mode != CAMERA_TRIGGER_CONTINUOUS);
        }
        return status;
    });
}

int CameraLoadParameter(CameraHandle handle, int team)
{
    if (const auto fault = sim().call("CameraLoadParameter", simdev::arguments(handle, team))) {
        return *fault;
    }
    return withSession(handle, [&](MindHandle&, Session& session) {
        if (team != CAMERA_PARAMETER_DEFAULT && (team < 0 || team > 3)) {
            return int(CAMERA_STATUS_PARAMETER_INVALID);
        }
        session.restoreDefaults();
        session.setTriggered(false);
        return int(CAMERA_STATUS_SUCCESS);
    });
}

} // extern "C"
