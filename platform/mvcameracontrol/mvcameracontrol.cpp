#include "mvcameracontrol.h"
#include "mvcameracontrolsim.h"
#include "sessionhandle.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

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
    add("ExposureTime", 10000, 15, 1000000);
    add("Gain", 0, 0, 17);
    add("Gamma", 0.7, 0, 4);
    add("AcquisitionFrameRate", 30, 0.1, 60);
    add("Sharpness", 0, 0, 100);
    add("GevHeartbeatTimeout", 3000, 500, 600000);
    add("UserSetSelector", 0, 0, 3);
    add("GainAuto", 0, 0, 2);
    add("TriggerSource", 0, 0, 7);
    add("SharpnessEnable", 0, 0, 1);
    add("GammaEnable", 0, 0, 1);
    if (profile.maker.empty()) {
        profile.maker = "Hikrobot";
    }
    if (!profile.texts.count("DeviceModelName")) {
        profile.texts["DeviceModelName"] = profile.model;
    }
}

simdev::Simulator& sim()
{
    return mvccSimulator();
}

const simdev::StatusCodes kStatus{
    MV_OK,
    MV_E_HANDLE,    // no such handle
    MV_E_CALLORDER, // not open
    MV_E_NODEVICE,  // the device is gone
    MV_E_SUPPORT,
    MV_E_PARAMETER,
    MV_E_ACCESS_DENIED,  // a setting held
    MV_E_PARAMETER,
};
const simdev::FormatCodes kFormats{MV_PIXEL_MONO8, MV_PIXEL_BAYER_RG8, MV_PIXEL_RGB8_PACKED};

// One handle: made for a device record, opened onto a session.
struct HikHandle : simdev::SessionHandle {
    std::string serial;
    MvImageCallback image = nullptr;
    void* imageUser = nullptr;
    MvExceptionCallback exception = nullptr;
    void* exceptionUser = nullptr;
};

std::uintptr_t keyOf(void* handle)
{
    return reinterpret_cast<std::uintptr_t>(handle);
}

std::shared_ptr<HikHandle> findHandle(void* handle)
{
    return sim().handle<HikHandle>(keyOf(handle));
}

// Runs f(session) on an open, connected handle.
template <typename F>
int withSession(void* handle, F&& f)
{
    return simdev::withSession(findHandle(handle), kStatus, std::forward<F>(f));
}

int statusOf(SetResult result)
{
    return simdev::statusOf(result, kStatus);
}

std::optional<PixelFormat> formatOf(unsigned int pixelType)
{
    return simdev::formatOf(pixelType, kFormats);
}

unsigned int pixelTypeOf(PixelFormat format)
{
    return simdev::codeOf(format, kFormats);
}

using simdev::fillText;

// The records of the last enumeration; the next one frees them.
std::mutex gRecordsMutex;
std::vector<std::unique_ptr<MV_CC_DEVICE_INFO>> gRecords;

} // namespace

simdev::Simulator& mvccSimulator()
{
    static simdev::Simulator simulator(
        simdev::SimulatorOptions{"MVCameraControl", MV_EXCEPTION_DEV_DISCONNECT, completeProfile});
    return simulator;
}

extern "C" {

int MV_CC_EnumDevices(unsigned int layers, MV_CC_DEVICE_INFO_LIST* list)
{
    if (const auto fault = sim().call("MV_CC_EnumDevices", simdev::arguments(layers))) {
        return *fault;
    }
    if (!list) {
        return MV_E_PARAMETER;
    }
    std::memset(list, 0, sizeof *list);
    std::vector<std::unique_ptr<MV_CC_DEVICE_INFO>> fresh;
    if (layers & (MV_GIGE_DEVICE | MV_USB_DEVICE)) {
        for (const simdev::DeviceProfile& profile : sim().present()) {
            if (fresh.size() >= MV_MAX_DEVICE_NUM) {
                break;
            }
            auto record = std::make_unique<MV_CC_DEVICE_INFO>();
            std::memset(record.get(), 0, sizeof *record);
            record->versionMajor = 1;
            record->transportLayer = MV_GIGE_DEVICE;
            // The library knows its devices by address, not by the texts a
            // device reports (two cameras may report one serial number).
            record->macHigh = 0x0000A0B1;
            record->macLow = static_cast<unsigned int>(profile.number);
            fillText(record->gige.manufacturerName, sizeof record->gige.manufacturerName, profile.maker);
            fillText(record->gige.modelName, sizeof record->gige.modelName, profile.model);
            fillText(record->gige.serialNumber, sizeof record->gige.serialNumber, profile.serial);
            fillText(record->gige.userDefinedName, sizeof record->gige.userDefinedName, profile.name);
            fresh.push_back(std::move(record));
        }
    }
    std::lock_guard<std::mutex> lock(gRecordsMutex);
    gRecords.swap(fresh);  // the previous records go with `fresh`
    list->deviceCount = static_cast<unsigned int>(gRecords.size());
    for (std::size_t i = 0; i < gRecords.size(); ++i) {
        list->devices[i] = gRecords[i].get();
    }
    return MV_OK;
}

int MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* device)
{
    const std::string reported =
        device ? simdev::boundedText(reinterpret_cast<const char*>(device->gige.serialNumber),
                                     sizeof device->gige.serialNumber)
               : std::string("(null)");
    if (const auto fault = sim().call("MV_CC_CreateHandle", reported)) {
        return *fault;
    }
    if (!handle || !device) {
        return MV_E_PARAMETER;
    }
    auto h = std::make_shared<HikHandle>();
    h->serial = sim().serialOf(int(device->macLow));
    *handle = reinterpret_cast<void*>(sim().addHandle(h));
    return MV_OK;
}

int MV_CC_DestroyHandle(void* handle)
{
    if (const auto fault = sim().call("MV_CC_DestroyHandle", "")) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return MV_E_HANDLE;
    }
    // An open device is closed with its handle, once its callbacks are over.
    h->closeSession();
    sim().removeHandle(keyOf(handle));
    return MV_OK;
}

int MV_CC_OpenDevice(void* handle, unsigned int accessMode, unsigned short switchoverKey)
{
    if (const auto fault = sim().call("MV_CC_OpenDevice", simdev::arguments(accessMode, switchoverKey))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return MV_E_HANDLE;
    }
    if (accessMode < 1 || accessMode > 7) {
        return MV_E_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    if (h->session) {
        return MV_E_CALLORDER;
    }
    simdev::OpenResult result;
    auto session = sim().open(h->serial, &result);
    if (!session) {
        return result == simdev::OpenResult::Busy ? MV_E_ACCESS_DENIED : MV_E_NODEVICE;
    }
    std::weak_ptr<HikHandle> weak = h;
    session->setEventSink([weak](int code) {
        const auto owner = weak.lock();
        if (!owner) {
            return;
        }
        MvExceptionCallback callback;
        void* user;
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            callback = owner->exception;
            user = owner->exceptionUser;
        }
        if (callback) {
            callback(static_cast<unsigned int>(code), user);
        }
    });
    h->session = std::move(session);
    return MV_OK;
}

int MV_CC_CloseDevice(void* handle)
{
    if (const auto fault = sim().call("MV_CC_CloseDevice", "")) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return MV_E_HANDLE;
    }
    const auto session = h->openSession();
    if (!session) {
        return MV_E_CALLORDER;
    }
    // Callbacks in flight may still use the handle's device: it is given up
    // once they are over.
    session->close();
    std::lock_guard<std::mutex> lock(h->mutex);
    h->session.reset();
    h->image = nullptr;
    h->exception = nullptr;
    return MV_OK;
}

int MV_CC_RegisterImageCallBack(void* handle, MvImageCallback callback, void* user)
{
    if (const auto fault = sim().call("MV_CC_RegisterImageCallBack", callback ? "callback" : "none")) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return MV_E_HANDLE;
    }
    const auto session = h->openSession();
    if (!session) {
        return MV_E_CALLORDER;
    }
    if (session->streaming()) {
        return MV_E_CALLORDER;
    }
    {
        std::lock_guard<std::mutex> lock(h->mutex);
        h->image = callback;
        h->imageUser = user;
    }
    std::weak_ptr<HikHandle> weak = h;
    session->setFrameSink([weak](const simdev::Frame& frame) {
        const auto owner = weak.lock();
        if (!owner) {
            return;
        }
        MvImageCallback image;
        void* imageUser;
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            image = owner->image;
            imageUser = owner->imageUser;
        }
        if (!image) {
            return;
        }
        MV_FRAME_OUT_INFO info{};
        info.width = static_cast<unsigned int>(frame.width);
        info.height = static_cast<unsigned int>(frame.height);
        info.pixelType = pixelTypeOf(frame.format);
        info.frameNumber = frame.sequence;
        info.frameLength = static_cast<unsigned int>(frame.bytes);
        image(const_cast<unsigned char*>(frame.data), &info, imageUser);
    });
    return MV_OK;
}

int MV_CC_RegisterExceptionCallBack(void* handle, MvExceptionCallback callback, void* user)
{
    if (const auto fault = sim().call("MV_CC_RegisterExceptionCallBack", callback ? "callback" : "none")) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return MV_E_HANDLE;
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    if (!h->session) {
        return MV_E_CALLORDER;
    }
    h->exception = callback;
    h->exceptionUser = user;
    return MV_OK;
}

int MV_CC_GetStringValue(void* handle, const char* key, MVCC_STRINGVALUE* value)
{
    const std::string name = simdev::boundedText(key, 256);
    if (const auto fault = sim().call("MV_CC_GetStringValue", name)) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        std::string text;
        if (!value) {
            return int(MV_E_PARAMETER);
        }
        if (!session.text(name, &text)) {
            return int(MV_E_SUPPORT);
        }
        std::memset(value->text, 0, sizeof value->text);
        std::memcpy(value->text, text.data(), std::min(sizeof value->text, text.size()));
        return int(MV_OK);
    });
}

int MV_CC_GetIntValue(void* handle, const char* key, MVCC_INTVALUE* value)
{
    const std::string name = simdev::boundedText(key, 256);
    if (const auto fault = sim().call("MV_CC_GetIntValue", name)) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        if (!value) {
            return int(MV_E_PARAMETER);
        }
        if (name == "Width" || name == "Height") {
            int width = 0, height = 0;
            session.size(&width, &height);
            const unsigned int current = static_cast<unsigned int>(name == "Width" ? width : height);
            *value = MVCC_INTVALUE{current, current, current, 2};
            return int(MV_OK);
        }
        Feature feature;
        if (!session.feature(name, &feature)) {
            return int(MV_E_SUPPORT);
        }
        *value = MVCC_INTVALUE{static_cast<unsigned int>(feature.value), static_cast<unsigned int>(feature.maximum),
                               static_cast<unsigned int>(feature.minimum), 1};
        return int(MV_OK);
    });
}

int MV_CC_SetIntValue(void* handle, const char* key, unsigned int value)
{
    const std::string name = simdev::boundedText(key, 256);
    if (const auto fault = sim().call("MV_CC_SetIntValue", simdev::arguments(name, value))) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        if (name == "Width" || name == "Height") {
            return int(MV_E_SUPPORT);
        }
        return statusOf(session.setFeature(name, double(value)));
    });
}

int MV_CC_SetEnumValue(void* handle, const char* key, unsigned int value)
{
    const std::string name = simdev::boundedText(key, 256);
    if (const auto fault = sim().call("MV_CC_SetEnumValue", simdev::arguments(name, value))) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        if (name == "PixelFormat") {
            const auto format = formatOf(value);
            if (!format || (session.mono() && *format != PixelFormat::Mono8)) {
                return int(MV_E_PARAMETER);
            }
            return statusOf(session.setFormat(*format));
        }
        if (name == "TriggerMode") {
            if (value > 1) {
                return int(MV_E_PARAMETER);
            }
            session.setTriggered(value == 1);
            return int(MV_OK);
        }
        return statusOf(session.setFeature(name, double(value)));
    });
}

int MV_CC_SetCommandValue(void* handle, const char* key)
{
    const std::string name = simdev::boundedText(key, 256);
    if (const auto fault = sim().call("MV_CC_SetCommandValue", name)) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        if (name != "UserSetLoad") {
            return int(MV_E_SUPPORT);
        }
        if (session.streaming()) {
            return int(MV_E_ACCESS_DENIED);
        }
        session.restoreDefaults();
        session.setTriggered(false);
        return int(MV_OK);
    });
}

int MV_CC_SetBoolValue(void* handle, const char* key, bool value)
{
    const std::string name = simdev::boundedText(key, 256);
    if (const auto fault = sim().call("MV_CC_SetBoolValue", simdev::arguments(name, value))) {
        return *fault;
    }
    return withSession(handle,
                       [&](HikHandle&, Session& session) { return statusOf(session.setFeature(name, value ? 1 : 0)); });
}

int MV_CC_GetFloatValue(void* handle, const char* key, MVCC_FLOATVALUE* value)
{
    const std::string name = simdev::boundedText(key, 256);
    if (const auto fault = sim().call("MV_CC_GetFloatValue", name)) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        Feature feature;
        if (!value) {
            return int(MV_E_PARAMETER);
        }
        if (!session.feature(name, &feature)) {
            return int(MV_E_SUPPORT);
        }
        *value = MVCC_FLOATVALUE{float(feature.value), float(feature.maximum), float(feature.minimum)};
        return int(MV_OK);
    });
}

int MV_CC_SetFloatValue(void* handle, const char* key, float value)
{
    const std::string name = simdev::boundedText(key, 256);
    if (const auto fault = sim().call("MV_CC_SetFloatValue", simdev::arguments(name, value))) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        // The device compares in single precision, as it stores the value.
        Feature feature;
        if (!session.feature(name, &feature)) {
            return int(MV_E_SUPPORT);
        }
        if (value < float(feature.minimum) || value > float(feature.maximum)) {
            return int(MV_E_PARAMETER);
        }
        return statusOf(session.setFeature(name, std::clamp(double(value), feature.minimum, feature.maximum)));
    });
}

namespace {
int getFloat(const char* function, const char* name, void* handle, MVCC_FLOATVALUE* value)
{
    if (const auto fault = sim().call(function, "")) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        Feature feature;
        if (!value) {
            return int(MV_E_PARAMETER);
        }
        if (!session.feature(name, &feature)) {
            return int(MV_E_SUPPORT);
        }
        *value = MVCC_FLOATVALUE{float(feature.value), float(feature.maximum), float(feature.minimum)};
        return int(MV_OK);
    });
}
} // namespace

int MV_CC_GetExposureTime(void* handle, MVCC_FLOATVALUE* value)
{
    return getFloat("MV_CC_GetExposureTime", "ExposureTime", handle, value);
}

int MV_CC_GetGain(void* handle, MVCC_FLOATVALUE* value)
{
    return getFloat("MV_CC_GetGain", "Gain", handle, value);
}

int MV_CC_GetGamma(void* handle, MVCC_FLOATVALUE* value)
{
    return getFloat("MV_CC_GetGamma", "Gamma", handle, value);
}

int MV_CC_GetSharpness(void* handle, MVCC_INTVALUE* value)
{
    if (const auto fault = sim().call("MV_CC_GetSharpness", "")) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        Feature feature;
        if (!value) {
            return int(MV_E_PARAMETER);
        }
        if (!session.feature("Sharpness", &feature)) {
            return int(MV_E_SUPPORT);
        }
        *value = MVCC_INTVALUE{static_cast<unsigned int>(feature.value), static_cast<unsigned int>(feature.maximum),
                               static_cast<unsigned int>(feature.minimum), 1};
        return int(MV_OK);
    });
}

int MV_CC_StartGrabbing(void* handle)
{
    if (const auto fault = sim().call("MV_CC_StartGrabbing", "")) {
        return *fault;
    }
    return withSession(handle, [&](HikHandle&, Session& session) {
        if (session.streaming()) {
            return int(MV_E_CALLORDER);
        }
        return session.start() ? int(MV_OK) : int(MV_E_NODEVICE);
    });
}

int MV_CC_StopGrabbing(void* handle)
{
    if (const auto fault = sim().call("MV_CC_StopGrabbing", "")) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return MV_E_HANDLE;
    }
    const auto session = h->openSession();
    if (!session) {
        return MV_E_CALLORDER;
    }
    // Also on a vanished device: the frames stop either way.
    const bool was = session->streaming();
    session->stop();
    return was ? MV_OK : MV_E_CALLORDER;
}

int MV_CC_ConvertPixelType(void* handle, MV_CC_PIXEL_CONVERT_PARAM* param)
{
    if (const auto fault = sim().call(
            "MV_CC_ConvertPixelType",
            param ? simdev::arguments(param->width, param->height, param->sourceType, param->targetType) : "(null)")) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return MV_E_HANDLE;
    }
    if (const auto session = h->openSession()) {
        session->checkpoint();
    }
    if (!param || !param->source || !param->target) {
        return MV_E_PARAMETER;
    }
    const auto from = formatOf(param->sourceType);
    const auto to = formatOf(param->targetType);
    if (!from || !to || *to == PixelFormat::BayerRG8) {
        return MV_E_SUPPORT;
    }
    const int width = static_cast<int>(param->width);
    const int height = static_cast<int>(param->height);
    if (!simdev::validFrameSize(width, height)
        || param->sourceLength != simdev::frameBytes(width, height, *from)) {
        return MV_E_PARAMETER;
    }
    const std::size_t needed = simdev::frameBytes(width, height, *to);
    if (param->targetSize < needed) {
        return MV_E_BUFFER;
    }
    if (!simdev::convertFrame(param->source, *from, width, height, param->target, *to)) {
        return MV_E_SUPPORT;
    }
    param->targetLength = static_cast<unsigned int>(needed);
    return MV_OK;
}

} // extern "C"
