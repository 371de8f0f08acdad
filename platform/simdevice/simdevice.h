#pragma once

// Simulated devices behind a vendor library's C functions.
//
// A Simulator is one vendor library's world: its device table, the sessions
// that opened devices, the SDK threads that call the registered callbacks,
// the handles it gave out, the faults a test asked for and the log of every
// call. The C layers under platform/ (one per vendor library) translate their
// functions onto it; tests configure it through this C++ interface. It opens
// no socket and touches no hardware.
//
// Threads: every open session has one SDK thread (frames when started, and
// event notices such as a disconnection); a device set to deliver from two
// threads gets a second frame thread, and the two hand their frames over at
// the same moment. stop() and close() return only when no callback of that
// session runs or will run.
//
// Frames come when a test pumps them (free run) or triggers them (hardware
// trigger mode), so tests are deterministic; a device with a frame rate above
// 0 also runs by the clock, for stress runs and whole-program demos.

#include "simframe.h"
#include "simscene.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace simdev {

// One numeric setting of a device: current value and range.
struct Feature {
    double value = 0;
    double minimum = 0;
    double maximum = 0;
    // What a load of the default settings restores.
    double initial = 0;
};

// A device as a test or the devices file describes it. Texts are handed out
// by the library exactly as given: one that fills its record field to the
// brim arrives there without a terminating NUL.
struct DeviceProfile {
    std::string serial;
    std::string maker;
    std::string model;
    std::string name;  // the library's own device name, where it has one
    int width = 64;    // even, at least kMinimumWidth
    int height = 32;   // even
    bool mono = false;
    PixelFormat format = PixelFormat::BayerRG8;  // what the sensor streams
    double fps = 0;     // 0: frames only when pumped
    std::map<std::string, Feature> features;
    std::map<std::string, std::string> texts;  // text features
    // A scene in place of the stamped test pattern (PictureScene): the
    // pictures, and the file whose number chooses the one filmed now.
    std::vector<std::string> pictures;
    std::string pictureSelect;
    // Set by the simulator: the device's number in frame stamps, which a
    // library may also hand out as its own identity of the device.
    int number = 0;
};

// What goes wrong with the next frames of a device.
enum class FrameFault {
    Short,        // one row missing from the data; the size given is right
    Long,         // one row too many
    Resized,      // the size given and the data are of another (valid) size
    WrongFormat,  // the format given and the data are another format
};

// Where a held callback waits: before the library calls it, or inside, at the
// next library function the callback calls (a pixel conversion, say).
enum class HoldPoint { Entry, Inside };

// One frame as a session hands it to the library layer.
struct Frame {
    const unsigned char* data = nullptr;
    std::size_t bytes = 0;
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat::Mono8;
    std::uint32_t sequence = 0;
    int device = -1;
};

struct Call {
    std::string function;
    std::string arguments;
    std::thread::id thread;
};

enum class SetResult { Ok, Unknown, OutOfRange, Locked };

enum class OpenResult { Ok, NotFound, Busy };

// Formats call arguments for the log: "a, b, c".
template <typename... Args>
std::string arguments(const Args&... values)
{
    std::ostringstream out;
    int i = 0;
    ((out << (i++ ? ", " : "") << values), ...);
    return out.str();
}
// A C text of at most `bound` bytes (no NUL needed), or "(null)".
std::string boundedText(const char* text, std::size_t bound);

struct DeviceState;

class Session {
public:
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& serial() const { return m_serial; }
    // Number of the device in frame stamps.
    int device() const { return m_deviceNumber; }
    // False once the device vanished: calls fail, no frames come.
    bool alive() const;
    bool onCallbackThread() const;

    // The sinks run on the session's threads. Replace them only while stopped.
    void setFrameSink(std::function<void(const Frame&)> sink);
    void setEventSink(std::function<void(int code)> sink);
    bool hasFrameSink() const;

    bool start();
    // Returns when no frame callback runs or will run (at once when called
    // from a callback of this session, which cannot wait for itself).
    void stop();
    bool streaming() const;
    void setTriggered(bool on);
    bool triggered() const;

    // Settings of the device.
    bool feature(const std::string& name, Feature* out) const;
    SetResult setFeature(const std::string& name, double value);
    bool text(const std::string& name, std::string* out) const;
    void restoreDefaults();
    PixelFormat format() const;
    SetResult setFormat(PixelFormat format);
    void size(int* width, int* height) const;
    bool mono() const;

    // Library functions that callbacks call pass here: a callback held
    // "inside" waits at this point.
    void checkpoint();

    // Stops the threads and drops pending notices: no callback after it
    // returns. False (nothing done) when called from a callback of this session.
    bool close();

private:
    friend class Simulator;
    Session(std::shared_ptr<DeviceState> device, int threads);

    void run(int index);
    void deliverOne(std::vector<unsigned char>& buffer);
    void holdHere(HoldPoint point);
    void gone(int code);
    void post(int code);
    void wake();
    int addFrames(int count, bool trigger);
    bool waitIdle(std::chrono::milliseconds timeout);
    void arm(HoldPoint point);
    bool waitHeld(std::chrono::milliseconds timeout);
    void releaseHold();

    const std::shared_ptr<DeviceState> m_device;
    const std::string m_serial;
    const int m_deviceNumber;
    const int m_threadCount;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::thread> m_threads;
    std::vector<std::thread::id> m_threadIds;
    bool m_closed = false;
    bool m_quit = false;
    bool m_streaming = false;
    bool m_triggered = false;
    bool m_dead = false;
    int m_pending = 0;
    int m_framesInFlight = 0;
    std::deque<int> m_events;
    int m_eventsInFlight = 0;
    std::function<void(const Frame&)> m_frameSink;
    std::function<void(int)> m_eventSink;
    // Two frame threads meet before they call back, so their callbacks overlap.
    int m_pairWaiting = 0;
    std::uint64_t m_pairRound = 0;
    // Free run by the clock.
    bool m_tickValid = false;
    std::chrono::steady_clock::time_point m_nextTick;
    // A held callback.
    bool m_holdArmed = false;
    HoldPoint m_holdPoint = HoldPoint::Entry;
    bool m_holding = false;
    bool m_holdReleased = false;
};

struct SimulatorOptions {
    // Name of the library: its section of the devices file.
    std::string library;
    // The event code a session sends when its device vanishes.
    int disconnectCode = 0;
    // Adds the library's own features (ranges, texts) to a device.
    std::function<void(DeviceProfile&)> completeProfile;
};

// The devices file read, when present in the working folder, the first time a
// library looks for devices without a test having configured it:
// {"<library>": [{"serial": "...", "maker": "...", "model": "...", "name": "...",
//   "width": 640, "height": 480, "mono": false, "fps": 10,
//   "pictures": ["a.bmp", "b.bmp"], "pictureSelect": "a-or-b.txt"}, ...]}
// (the last two optional: a device that films pictures, see PictureScene).
extern const char kDevicesFile[];

class Simulator {
public:
    explicit Simulator(SimulatorOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const std::string& library() const { return m_options.library; }

    // ---- configuration by tests ----
    // No devices, handles, faults or calls; the devices file is not read
    // afterwards. Open sessions are closed.
    void reset();
    // A device with the library's features; mono sensors stream Mono8.
    DeviceProfile makeSpec(const std::string& serial, const std::string& model, int width, int height,
                        bool mono) const;
    // Appends a device; its number in frame stamps, or -1 (bad size, serial taken).
    int addDevice(DeviceProfile profile);
    // Disconnection: the open session gets the disconnect notice, its calls
    // fail and its frames stop; the device leaves the enumeration.
    bool vanish(const std::string& serial);
    // Back in the enumeration at `position` (-1: where it was), at another
    // size when width and height are given.
    bool comeBack(const std::string& serial, int position = -1, int width = 0, int height = 0);
    bool setFrameRate(const std::string& serial, double fps);
    // After `after` calls that go through, the next `times` calls of
    // `function` fail with `code`.
    void failNext(const std::string& function, int code, int times = 1, int after = 0);
    // Frames in free run / hardware triggers; the number accepted (0 when the
    // device is not streaming in that mode).
    int pump(const std::string& serial, int frames = 1);
    int trigger(const std::string& serial, int pulses = 1);
    // Until every pumped frame and notice was handed over and no callback runs.
    bool waitIdle(const std::string& serial, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void injectFrameFault(const std::string& serial, FrameFault fault, int frames = 1);
    // Frame threads of the sessions opened afterwards (1 or 2).
    void setDeliveryThreads(const std::string& serial, int threads);
    void holdNextCallback(const std::string& serial, HoldPoint point);
    bool waitHeld(const std::string& serial, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void releaseHold(const std::string& serial);
    // An event notice with the library's own code.
    bool postEvent(const std::string& serial, int code);

    // The call log is kept only while a test asks for it: a library that
    // runs for a day logs a call per frame, and nobody reads them there.
    // The setting outlives reset(); turning it off drops what was logged.
    void setCallLogging(bool on);
    bool callLogging() const;
    std::vector<Call> calls() const;
    // Names of the calls, optionally only those made on `thread`.
    std::vector<std::string> callNames(std::optional<std::thread::id> thread = std::nullopt) const;
    void clearCalls();

    int deviceNumber(const std::string& serial) const;
    // The serial of device `number` ("" when there is none).
    std::string serialOf(int number) const;
    // Frames whose callback returned.
    std::uint64_t framesDelivered(const std::string& serial) const;
    bool featureOf(const std::string& serial, const std::string& name, Feature* out) const;
    bool setFeatureRange(const std::string& serial, const std::string& name, const Feature& feature);
    bool streaming(const std::string& serial) const;
    bool triggered(const std::string& serial) const;
    PixelFormat formatOf(const std::string& serial) const;
    int openSessions() const;
    std::uint64_t handlesMade() const;
    int liveHandles() const;

    // ---- the library's side ----
    // Logs the call (when logging is on); a failure code when one was
    // injected for it.
    std::optional<int> call(const char* function, std::string arguments);
    // Present devices in enumeration order (copies).
    std::vector<DeviceProfile> present();
    std::shared_ptr<Session> open(const std::string& serial, OpenResult* result);

    // Handles: objects of the library reached by a number (never reused).
    std::uintptr_t addHandle(std::shared_ptr<void> object);
    template <typename T>
    std::shared_ptr<T> handle(std::uintptr_t key) const
    {
        return std::static_pointer_cast<T>(findHandle(key));
    }
    // Takes the object out; the caller lets it go outside every lock.
    std::shared_ptr<void> removeHandle(std::uintptr_t key);
    // Every handle's object, for a library that looks through them.
    std::vector<std::shared_ptr<void>> allHandles() const;

private:
    std::shared_ptr<void> findHandle(std::uintptr_t key) const;
    void configureOnce();
    void readDevicesFile();
    std::shared_ptr<DeviceState> find(const std::string& serial) const;
    std::shared_ptr<Session> sessionOf(const std::string& serial) const;

    const SimulatorOptions m_options;

    mutable std::mutex m_mutex;
    bool m_configured = false;
    std::vector<std::shared_ptr<DeviceState>> m_devices;
    int m_nextDeviceNumber = 1;
    std::map<std::string, std::deque<std::optional<int>>> m_failures;

    mutable std::mutex m_logMutex;
    bool m_logging = false;
    std::vector<Call> m_calls;

    mutable std::mutex m_handleMutex;
    std::map<std::uintptr_t, std::shared_ptr<void>> m_handles;
    std::uintptr_t m_nextHandle = 1;
    std::uint64_t m_handlesMade = 0;
};

} // namespace simdev
