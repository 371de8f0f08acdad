#include "dvpcamera.h"
#include "dvpcamerasim.h"
#include "sessionhandle.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
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
    add("Exposure", 10000, 20, 1000000);
    add("AnalogGain", 1, 0, 64);
    add("Sharpness", 0, 0, 100);
    add("Contrast", 0, 0, 200);
    add("Gamma", 100, 0, 300);
    add("GammaState", 0, 0, 1);
    add("ContrastState", 0, 0, 1);
    add("SharpnessState", 0, 0, 1);
    add("TargetFormat", profile.mono ? DVP_FORMAT_MONO8 : DVP_FORMAT_RGB24, 0, 100);
    add("HdrEnable", 0, 0, 1);
    add("AeOperation", 1, 0, 2);
    add("LinkTimeout", 5000, 0, 60000);
    add("TriggerState", 0, 0, 1);
    add("TriggerSource", 0, 0, 10);
    if (profile.maker.empty()) {
        profile.maker = "Do3think";
    }
}

simdev::Simulator& sim()
{
    return dvpSimulator();
}

const simdev::StatusCodes kStatus{
    DVP_STATUS_OK,
    DVP_STATUS_INVALID_HANDLE,  // no such handle
    DVP_STATUS_INVALID_HANDLE,  // not open
    DVP_STATUS_NOT_FOUND,       // the device is gone
    DVP_STATUS_NOT_SUPPORTED,
    DVP_STATUS_PARAMETER_INVALID,
    DVP_STATUS_BUSY,  // a setting held
    DVP_STATUS_FAILED,
};
const simdev::FormatCodes kFormats{DVP_FORMAT_MONO8, DVP_FORMAT_BAYER8, DVP_FORMAT_RGB24};

struct DvpHandle : simdev::SessionHandle {
    dvpStreamCallback stream = nullptr;
    void* streamContext = nullptr;
    std::map<int, std::pair<dvpEventCallback, void*>> events;
};

std::shared_ptr<DvpHandle> findHandle(dvpHandle handle)
{
    return handle > 0 ? sim().handle<DvpHandle>(std::uintptr_t(handle)) : nullptr;
}

template <typename F>
int withSession(dvpHandle handle, F&& f)
{
    return simdev::withSession(findHandle(handle), kStatus, std::forward<F>(f));
}

int statusOf(SetResult result)
{
    return simdev::statusOf(result, kStatus);
}

int formatCode(PixelFormat format)
{
    return int(simdev::codeOf(format, kFormats));
}

int setFeature(const char* function, const char* name, dvpHandle handle, double value)
{
    return simdev::setFeature(sim(), kStatus, function, name, handle, value, findHandle);
}

template <typename T>
int getFeature(const char* function, const char* name, dvpHandle handle, T* value)
{
    return simdev::getFeature(sim(), kStatus, function, name, handle, value, findHandle);
}

using simdev::fillText;

// The cameras the last dvpRefresh found; dvpEnum reads them.
std::mutex gFoundMutex;
std::vector<simdev::DeviceProfile> gFound;

// The library converts every frame to the target format before it calls back.
// A frame the sensor sent in another format than set up (an injected fault)
// reaches the callback in the other target format, as garbled data would.
void deliver(const std::weak_ptr<DvpHandle>& weak, dvpHandle key, const simdev::Frame& frame)
{
    const auto owner = weak.lock();
    if (!owner) {
        return;
    }
    dvpStreamCallback callback;
    void* context;
    std::shared_ptr<Session> session;
    {
        std::lock_guard<std::mutex> lock(owner->mutex);
        callback = owner->stream;
        context = owner->streamContext;
        session = owner->session;
    }
    if (!callback || !session) {
        return;
    }
    Feature target;
    session->feature("TargetFormat", &target);
    PixelFormat out = int(target.value) == DVP_FORMAT_RGB24 ? PixelFormat::Rgb8 : PixelFormat::Mono8;
    if (frame.format != session->format()) {
        out = out == PixelFormat::Rgb8 ? PixelFormat::Mono8 : PixelFormat::Rgb8;
    }
    const long long sourceRow = (long long)frame.width * simdev::bytesPerPixel(frame.format);
    const long long extraRows =
        ((long long)frame.bytes - (long long)simdev::frameBytes(frame.width, frame.height, frame.format)) / sourceRow;
    const std::size_t outRow = std::size_t(frame.width) * std::size_t(simdev::bytesPerPixel(out));
    thread_local std::vector<unsigned char> converted;
    converted.assign(simdev::frameBytes(frame.width, frame.height, out) + outRow, 0);
    // The sensor's buffer always holds the whole frame; a short one only says less.
    if (!simdev::convertFrame(frame.data, frame.format, frame.width, frame.height, converted.data(), out)) {
        return;
    }
    dvpFrame record{};
    record.format = formatCode(out);
    record.bits = 8;
    record.bytes = static_cast<unsigned int>((long long)simdev::frameBytes(frame.width, frame.height, out)
                                             + extraRows * (long long)outRow);
    record.width = frame.width;
    record.height = frame.height;
    record.frameId = frame.sequence;
    callback(key, DVP_STREAM_EVENT_FRAME_THREAD, context, &record, converted.data());
}

} // namespace

simdev::Simulator& dvpSimulator()
{
    static simdev::Simulator simulator(simdev::SimulatorOptions{"DVPCamera", DVP_EVENT_DEVICE_LOST, completeProfile});
    return simulator;
}

extern "C" {

int dvpRefresh(unsigned int* count)
{
    if (const auto fault = sim().call("dvpRefresh", "")) {
        return *fault;
    }
    if (!count) {
        return DVP_STATUS_PARAMETER_INVALID;
    }
    auto found = sim().present();
    std::lock_guard<std::mutex> lock(gFoundMutex);
    gFound.swap(found);
    *count = static_cast<unsigned int>(gFound.size());
    return DVP_STATUS_OK;
}

int dvpEnum(unsigned int index, dvpCameraInfo* info)
{
    if (const auto fault = sim().call("dvpEnum", simdev::arguments(index))) {
        return *fault;
    }
    if (!info) {
        return DVP_STATUS_PARAMETER_INVALID;
    }
    std::lock_guard<std::mutex> lock(gFoundMutex);
    if (index >= gFound.size()) {
        return DVP_STATUS_NOT_FOUND;
    }
    const simdev::DeviceProfile& profile = gFound[index];
    std::memset(info, 0, sizeof *info);
    fillText(info->vendor, sizeof info->vendor, profile.maker);
    fillText(info->manufacturer, sizeof info->manufacturer, profile.maker);
    fillText(info->model, sizeof info->model, profile.model);
    fillText(info->friendlyName, sizeof info->friendlyName, profile.name);
    fillText(info->serialNumber, sizeof info->serialNumber, profile.serial);
    fillText(info->userId, sizeof info->userId, profile.serial);
    // Text right behind the name and the identity: a read past either field shows.
    fillText(info->portInfo, sizeof info->portInfo, "USB3.0");
    fillText(info->reserved, sizeof info->reserved, "reserved");
    return DVP_STATUS_OK;
}

int dvpOpenByName(const char* name, int mode, dvpHandle* handle)
{
    const std::string wanted = simdev::boundedText(name, 256);
    if (const auto fault = sim().call("dvpOpenByName", simdev::arguments(wanted, mode))) {
        return *fault;
    }
    if (!name || !handle || mode != DVP_OPEN_NORMAL) {
        return DVP_STATUS_PARAMETER_INVALID;
    }
    std::string serial;
    for (const simdev::DeviceProfile& profile : sim().present()) {
        // Names are known by the 64 bytes of their record field.
        if (profile.name.substr(0, sizeof dvpCameraInfo::friendlyName) == wanted) {
            serial = profile.serial;
            break;
        }
    }
    if (serial.empty()) {
        return DVP_STATUS_NOT_FOUND;
    }
    simdev::OpenResult result;
    auto session = sim().open(serial, &result);
    if (!session) {
        return result == simdev::OpenResult::Busy ? DVP_STATUS_BUSY : DVP_STATUS_NOT_FOUND;
    }
    auto h = std::make_shared<DvpHandle>();
    h->session = session;
    const dvpHandle key = dvpHandle(sim().addHandle(h));
    std::weak_ptr<DvpHandle> weak = h;
    session->setEventSink([weak, key](int code) {
        const auto owner = weak.lock();
        if (!owner) {
            return;
        }
        std::pair<dvpEventCallback, void*> entry{nullptr, nullptr};
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            const auto it = owner->events.find(code);
            if (it != owner->events.end()) {
                entry = it->second;
            }
        }
        if (entry.first) {
            entry.first(key, code, entry.second, 0, nullptr);
        }
    });
    session->setFrameSink([weak, key](const simdev::Frame& frame) { deliver(weak, key, frame); });
    *handle = key;
    return DVP_STATUS_OK;
}

int dvpClose(dvpHandle handle)
{
    if (const auto fault = sim().call("dvpClose", simdev::arguments(handle))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return DVP_STATUS_INVALID_HANDLE;
    }
    h->closeSession();
    sim().removeHandle(handle);
    return DVP_STATUS_OK;
}

int dvpIsValid(dvpHandle handle, bool* valid)
{
    if (const auto fault = sim().call("dvpIsValid", simdev::arguments(handle))) {
        return *fault;
    }
    if (!valid) {
        return DVP_STATUS_PARAMETER_INVALID;
    }
    const auto h = findHandle(handle);
    const auto session = h ? h->openSession() : nullptr;
    *valid = session && session->alive();
    return DVP_STATUS_OK;
}

int dvpGetStreamState(dvpHandle handle, int* state)
{
    if (const auto fault = sim().call("dvpGetStreamState", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](DvpHandle&, Session& session) {
        if (!state) {
            return int(DVP_STATUS_PARAMETER_INVALID);
        }
        *state = session.streaming() ? DVP_STREAM_STARTED : DVP_STREAM_STOPPED;
        return int(DVP_STATUS_OK);
    });
}

int dvpStart(dvpHandle handle)
{
    if (const auto fault = sim().call("dvpStart", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](DvpHandle&, Session& session) {
        return session.start() ? int(DVP_STATUS_OK) : int(DVP_STATUS_NOT_FOUND);
    });
}

int dvpStop(dvpHandle handle)
{
    if (const auto fault = sim().call("dvpStop", simdev::arguments(handle))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    const auto session = h ? h->openSession() : nullptr;
    if (!session) {
        return DVP_STATUS_INVALID_HANDLE;
    }
    session->stop();
    return DVP_STATUS_OK;
}

int dvpSetGammaState(dvpHandle handle, bool on)
{
    return setFeature("dvpSetGammaState", "GammaState", handle, on ? 1 : 0);
}

int dvpSetContrastState(dvpHandle handle, bool on)
{
    return setFeature("dvpSetContrastState", "ContrastState", handle, on ? 1 : 0);
}

int dvpSetSharpnessState(dvpHandle handle, bool on)
{
    return setFeature("dvpSetSharpnessState", "SharpnessState", handle, on ? 1 : 0);
}

int dvpSetTargetFormat(dvpHandle handle, int format)
{
    if (const auto fault = sim().call("dvpSetTargetFormat", simdev::arguments(handle, format))) {
        return *fault;
    }
    return withSession(handle, [&](DvpHandle&, Session& session) {
        if (format != DVP_FORMAT_RGB24 && format != DVP_FORMAT_MONO8) {
            return int(DVP_STATUS_NOT_SUPPORTED);
        }
        if (session.streaming()) {
            return int(DVP_STATUS_BUSY);
        }
        return statusOf(session.setFeature("TargetFormat", format));
    });
}

int dvpSetConfigString(dvpHandle handle, const char* name, const char* value)
{
    const std::string key = simdev::boundedText(name, 256);
    const std::string text = simdev::boundedText(value, 256);
    if (const auto fault = sim().call("dvpSetConfigString", simdev::arguments(handle, key, text))) {
        return *fault;
    }
    return withSession(handle, [&](DvpHandle&, Session& session) {
        if (key != "HdrEnable") {
            return int(DVP_STATUS_NOT_SUPPORTED);
        }
        if (text != "true" && text != "false") {
            return int(DVP_STATUS_PARAMETER_INVALID);
        }
        return statusOf(session.setFeature("HdrEnable", text == "true" ? 1 : 0));
    });
}

int dvpSetAeOperation(dvpHandle handle, int operation)
{
    return setFeature("dvpSetAeOperation", "AeOperation", handle, operation);
}

int dvpGetRoi(dvpHandle handle, dvpRegion* region)
{
    if (const auto fault = sim().call("dvpGetRoi", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](DvpHandle&, Session& session) {
        if (!region) {
            return int(DVP_STATUS_PARAMETER_INVALID);
        }
        std::memset(region, 0, sizeof *region);
        session.size(&region->width, &region->height);
        return int(DVP_STATUS_OK);
    });
}

int dvpSetRoi(dvpHandle handle, dvpRegion region)
{
    if (const auto fault = sim().call("dvpSetRoi",
                                      simdev::arguments(handle, region.x, region.y, region.width, region.height))) {
        return *fault;
    }
    return withSession(handle, [&](DvpHandle&, Session& session) {
        if (session.streaming()) {
            return int(DVP_STATUS_BUSY);
        }
        // The simulated sensor reads out whole frames only.
        int width = 0, height = 0;
        session.size(&width, &height);
        const bool whole = region.x == 0 && region.y == 0 && region.width == width && region.height == height;
        return whole ? int(DVP_STATUS_OK) : int(DVP_STATUS_NOT_SUPPORTED);
    });
}

int dvpSetLinkTimeout(dvpHandle handle, unsigned int milliseconds)
{
    return setFeature("dvpSetLinkTimeout", "LinkTimeout", handle, milliseconds);
}

int dvpRegisterEventCallback(dvpHandle handle, dvpEventCallback callback, int event, void* context)
{
    if (const auto fault = sim().call("dvpRegisterEventCallback",
                                      simdev::arguments(handle, callback ? "callback" : "none", event))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return DVP_STATUS_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    if (callback) {
        h->events[event] = {callback, context};
    } else {
        h->events.erase(event);
    }
    return DVP_STATUS_OK;
}

int dvpRegisterStreamCallback(dvpHandle handle, dvpStreamCallback callback, int event, void* context)
{
    if (const auto fault = sim().call("dvpRegisterStreamCallback",
                                      simdev::arguments(handle, callback ? "callback" : "none", event))) {
        return *fault;
    }
    const auto h = findHandle(handle);
    if (!h) {
        return DVP_STATUS_INVALID_HANDLE;
    }
    if (event != DVP_STREAM_EVENT_FRAME_THREAD) {
        return DVP_STATUS_NOT_SUPPORTED;
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    h->stream = callback;
    h->streamContext = context;
    return DVP_STATUS_OK;
}

int dvpLoadDefault(dvpHandle handle)
{
    if (const auto fault = sim().call("dvpLoadDefault", simdev::arguments(handle))) {
        return *fault;
    }
    return withSession(handle, [&](DvpHandle&, Session& session) {
        if (session.streaming()) {
            return int(DVP_STATUS_BUSY);
        }
        session.restoreDefaults();
        session.setTriggered(false);
        return int(DVP_STATUS_OK);
    });
}

int dvpSetExposure(dvpHandle handle, double microseconds)
{
    return setFeature("dvpSetExposure", "Exposure", handle, microseconds);
}

int dvpGetExposure(dvpHandle handle, double* microseconds)
{
    return getFeature("dvpGetExposure", "Exposure", handle, microseconds);
}

int dvpSetAnalogGain(dvpHandle handle, float gain)
{
    return setFeature("dvpSetAnalogGain", "AnalogGain", handle, double(gain));
}

int dvpGetAnalogGain(dvpHandle handle, float* gain)
{
    return getFeature("dvpGetAnalogGain", "AnalogGain", handle, gain);
}

int dvpSetSharpness(dvpHandle handle, int value)
{
    return setFeature("dvpSetSharpness", "Sharpness", handle, value);
}

int dvpGetSharpness(dvpHandle handle, int* value)
{
    return getFeature("dvpGetSharpness", "Sharpness", handle, value);
}

int dvpSetContrast(dvpHandle handle, int value)
{
    return setFeature("dvpSetContrast", "Contrast", handle, value);
}

int dvpGetContrast(dvpHandle handle, int* value)
{
    return getFeature("dvpGetContrast", "Contrast", handle, value);
}

int dvpSetGamma(dvpHandle handle, int value)
{
    return setFeature("dvpSetGamma", "Gamma", handle, value);
}

int dvpGetGamma(dvpHandle handle, int* value)
{
    return getFeature("dvpGetGamma", "Gamma", handle, value);
}

int dvpSetTriggerState(dvpHandle handle, bool on)
{
    if (const auto fault = sim().call("dvpSetTriggerState", simdev::arguments(handle, on))) {
        return *fault;
    }
    return withSession(handle, [&](DvpHandle&, Session& session) {
        session.setTriggered(on);
        return statusOf(session.setFeature("TriggerState", on ? 1 : 0));
    });
}

int dvpSetTriggerSource(dvpHandle handle, int source)
{
    return setFeature("dvpSetTriggerSource", "TriggerSource", handle, source);
}

} // extern "C"
