#pragma once

// What the camera libraries' C layers do alike over a Simulator: a handle
// holding the session of the device it opened, a call run on an open and
// present session, a setting read or written with the library's answer, the
// pixel format codes, and record fields filled as the libraries fill them.
// Each library brings its own status and format codes.

#include "simdevice.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace simdev {

// One library's status codes for the answers the layers share.
struct StatusCodes {
    int ok;
    int noHandle;          // the handle is not one the library gave out
    int notOpen;           // the handle has no open device
    int gone;              // the device has dropped off
    int unsupported;       // a setting the device does not have
    int invalidParameter;  // a value out of range, a missing pointer
    int locked;            // a setting the device will not change now
    int failed;            // anything else
};

inline int statusOf(SetResult result, const StatusCodes& codes)
{
    switch (result) {
    case SetResult::Ok:
        return codes.ok;
    case SetResult::Unknown:
        return codes.unsupported;
    case SetResult::OutOfRange:
        return codes.invalidParameter;
    case SetResult::Locked:
        return codes.locked;
    }
    return codes.failed;
}

// The part of a library's handle object that holds its device's session;
// the library's own callbacks live beside it in the handle, under its mutex.
struct SessionHandle {
    std::mutex mutex;
    std::shared_ptr<Session> session;

    SessionHandle() = default;
    SessionHandle(const SessionHandle&) = delete;
    SessionHandle& operator=(const SessionHandle&) = delete;
    // A handle dropped with its device still open closes it.
    ~SessionHandle()
    {
        if (session) {
            session->close();
        }
    }
    std::shared_ptr<Session> openSession()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return session;
    }
    // Callbacks in flight may still use the handle: its session is closed
    // (close() waits for them) before the handle lets go of it.
    void closeSession()
    {
        if (const auto open = openSession()) {
            open->close();
        }
        std::lock_guard<std::mutex> lock(mutex);
        session.reset();
    }
};

// Runs f(handle, session) on a handle whose device is open and present;
// the library's answer for a missing handle, no open device or a device
// gone otherwise.
template <typename Handle, typename F>
int withSession(const std::shared_ptr<Handle>& handle, const StatusCodes& codes, F&& f)
{
    if (!handle) {
        return codes.noHandle;
    }
    const auto session = handle->openSession();
    if (!session) {
        return codes.notOpen;
    }
    if (!session->alive()) {
        return codes.gone;
    }
    return f(*handle, *session);
}

// A setting written through the library call function: the fault a test set
// for the call, else the device's answer. find(key) looks the handle up.
template <typename Key, typename Find>
int setFeature(Simulator& sim, const StatusCodes& codes, const char* function, const char* name, Key key,
               double value, Find&& find)
{
    if (const auto fault = sim.call(function, arguments(key, value))) {
        return *fault;
    }
    return withSession(find(key), codes,
                       [&](auto&, Session& session) { return statusOf(session.setFeature(name, value), codes); });
}

// A setting read into *value through the library call function, as T.
template <typename T, typename Key, typename Find>
int getFeature(Simulator& sim, const StatusCodes& codes, const char* function, const char* name, Key key, T* value,
               Find&& find)
{
    if (const auto fault = sim.call(function, arguments(key))) {
        return *fault;
    }
    return withSession(find(key), codes, [&](auto&, Session& session) {
        Feature feature;
        if (!value) {
            return codes.invalidParameter;
        }
        if (!session.feature(name, &feature)) {
            return codes.unsupported;
        }
        *value = T(feature.value);
        return codes.ok;
    });
}

// One library's codes of the pixel formats a device streams.
struct FormatCodes {
    unsigned int mono8;
    unsigned int bayerRG8;
    unsigned int rgb8;
};

inline std::optional<PixelFormat> formatOf(unsigned int code, const FormatCodes& codes)
{
    if (code == codes.mono8) {
        return PixelFormat::Mono8;
    }
    if (code == codes.bayerRG8) {
        return PixelFormat::BayerRG8;
    }
    if (code == codes.rgb8) {
        return PixelFormat::Rgb8;
    }
    return std::nullopt;
}

inline unsigned int codeOf(PixelFormat format, const FormatCodes& codes)
{
    switch (format) {
    case PixelFormat::Mono8:
        return codes.mono8;
    case PixelFormat::BayerRG8:
        return codes.bayerRG8;
    case PixelFormat::Rgb8:
        return codes.rgb8;
    }
    return 0;
}

// A record's text field as the libraries fill it: zeroed, then the text; a
// text that fills the field to the brim gets no NUL.
inline void fillText(void* field, std::size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

} // namespace simdev
