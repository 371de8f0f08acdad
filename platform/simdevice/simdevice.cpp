#include "simdevice.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <cstring>

// Locks, always taken in this order and never held while a callback runs:
// the simulator's (device table, injected failures), a device's (its
// settings, frame faults, counters), a session's (its queue, threads and
// hold). The call log and the handle table have locks of their own that
// nothing else is taken under.

namespace simdev {

const char kDevicesFile[] = "simulated-cameras.json";

namespace {
// How long a frame thread waits for its partner before it calls back alone.
constexpr auto kPairWait = std::chrono::milliseconds(100);
} // namespace

struct DeviceState {
    mutable std::mutex mutex;
    int number = 0;
    DeviceProfile profile;
    bool present = true;
    std::uint32_t sequence = 0;
    std::deque<FrameFault> faults;
    int deliveryThreads = 1;
    std::weak_ptr<Session> session;
    std::uint64_t delivered = 0;
    // The free-run rate, read by the session threads without the lock (a
    // session thread holds its own lock, which comes after this one).
    std::atomic<double> fps{0};
    // The format a load of the default settings restores.
    PixelFormat initialFormat = PixelFormat::Mono8;
    // What the device films when its profile names pictures.
    std::shared_ptr<PictureScene> scene;
};

std::string boundedText(const char* text, std::size_t bound)
{
    if (!text) {
        return "(null)";
    }
    const void* nul = std::memchr(text, '\0', bound);
    return std::string(text, nul ? std::size_t(static_cast<const char*>(nul) - text) : bound);
}

// ---------------------------------------------------------------- Session

Session::Session(std::shared_ptr<DeviceState> device, int threads)
    : m_device(std::move(device))
    , m_serial(m_device->profile.serial)
    , m_deviceNumber(m_device->number)
    , m_threadCount(std::clamp(threads, 1, 2))
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < m_threadCount; ++i) {
        m_threads.emplace_back([this, i] { run(i); });
        m_threadIds.push_back(m_threads.back().get_id());
    }
}

Session::~Session()
{
    if (!close()) {
        // Only a callback of this session can get here, dropping the last
        // reference to it; its threads cannot be joined from inside.
        for (auto& thread : m_threads) {
            if (thread.joinable()) {
                thread.detach();
            }
        }
    }
}

bool Session::alive() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_dead && !m_closed;
}

bool Session::onCallbackThread() const
{
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::find(m_threadIds.begin(), m_threadIds.end(), self) != m_threadIds.end();
}

void Session::setFrameSink(std::function<void(const Frame&)> sink)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frameSink = std::move(sink);
}

void Session::setEventSink(std::function<void(int code)> sink)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_eventSink = std::move(sink);
}

bool Session::hasFrameSink() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return bool(m_frameSink);
}

bool Session::start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_dead || m_closed) {
        return false;
    }
    m_streaming = true;
    m_tickValid = false;
    m_changed.notify_all();
    return true;
}

void Session::stop()
{
    const bool own = onCallbackThread();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_streaming = false;
    m_pending = 0;
    m_changed.notify_all();
    if (!own) {
        m_changed.wait(lock, [this] { return m_framesInFlight == 0; });
    }
}

bool Session::streaming() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_streaming;
}

void Session::setTriggered(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_triggered != on) {
        m_pending = 0;
    }
    m_triggered = on;
    m_tickValid = false;
    m_changed.notify_all();
}

bool Session::triggered() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_triggered;
}

bool Session::feature(const std::string& name, Feature* out) const
{
    std::lock_guard<std::mutex> lock(m_device->mutex);
    const auto it = m_device->profile.features.find(name);
    if (it == m_device->profile.features.end()) {
        return false;
    }
    if (out) {
        *out = it->second;
    }
    return true;
}

SetResult Session::setFeature(const std::string& name, double value)
{
    std::lock_guard<std::mutex> lock(m_device->mutex);
    const auto it = m_device->profile.features.find(name);
    if (it == m_device->profile.features.end()) {
        return SetResult::Unknown;
    }
    if (value < it->second.minimum || value > it->second.maximum) {
        return SetResult::OutOfRange;
    }
    it->second.value = value;
    return SetResult::Ok;
}

bool Session::text(const std::string& name, std::string* out) const
{
    std::lock_guard<std::mutex> lock(m_device->mutex);
    const auto it = m_device->profile.texts.find(name);
    if (it == m_device->profile.texts.end()) {
        return false;
    }
    if (out) {
        *out = it->second;
    }
    return true;
}

void Session::restoreDefaults()
{
    const bool keepFormat = streaming();
    std::lock_guard<std::mutex> lock(m_device->mutex);
    for (auto& entry : m_device->profile.features) {
        entry.second.value = entry.second.initial;
    }
    if (!keepFormat) {
        m_device->profile.format = m_device->initialFormat;
    }
}

PixelFormat Session::format() const
{
    std::lock_guard<std::mutex> lock(m_device->mutex);
    return m_device->profile.format;
}

SetResult Session::setFormat(PixelFormat format)
{
    // A sensor changes its format only while it does not stream.
    if (streaming()) {
        return SetResult::Locked;
    }
    std::lock_guard<std::mutex> lock(m_device->mutex);
    m_device->profile.format = format;
    return SetResult::Ok;
}

void Session::size(int* width, int* height) const
{
    std::lock_guard<std::mutex> lock(m_device->mutex);
    if (width) {
        *width = m_device->profile.width;
    }
    if (height) {
        *height = m_device->profile.height;
    }
}

bool Session::mono() const
{
    std::lock_guard<std::mutex> lock(m_device->mutex);
    return m_device->profile.mono;
}

void Session::checkpoint()
{
    if (onCallbackThread()) {
        holdHere(HoldPoint::Inside);
    }
}

bool Session::close()
{
    if (onCallbackThread()) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) {
            return true;
        }
        m_closed = true;
        m_quit = true;
        m_streaming = false;
        m_pending = 0;
        m_events.clear();
        m_changed.notify_all();
    }
    for (auto& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    std::lock_guard<std::mutex> lock(m_device->mutex);
    const std::shared_ptr<Session> current = m_device->session.lock();
    if (!current || current.get() == this) {
        m_device->session.reset();
    }
    return true;
}

void Session::gone(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_dead = true;
    m_pending = 0;
    m_events.push_back(code);
    m_changed.notify_all();
}

void Session::post(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_events.push_back(code);
    m_changed.notify_all();
}

void Session::wake()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tickValid = false;
    m_changed.notify_all();
}

int Session::addFrames(int count, bool trigger)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (count <= 0 || !m_streaming || m_dead || m_closed || m_triggered != trigger) {
        return 0;
    }
    m_pending += count;
    m_changed.notify_all();
    return count;
}

bool Session::waitIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] {
        return (m_pending == 0 || !m_streaming || m_dead) && m_framesInFlight == 0 && m_events.empty()
               && m_eventsInFlight == 0;
    });
}

void Session::arm(HoldPoint point)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holdArmed = true;
    m_holdPoint = point;
    m_holdReleased = false;
}

bool Session::waitHeld(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_holding; });
}

void Session::releaseHold()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holdArmed = false;
    m_holdReleased = true;
    m_changed.notify_all();
}

void Session::holdHere(HoldPoint point)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_holdArmed || m_holdPoint != point || m_holding) {
        return;
    }
    m_holdArmed = false;
    m_holding = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_holdReleased; });
    m_holding = false;
    m_changed.notify_all();
}

void Session::run(int index)
{
    std::vector<unsigned char> buffer;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_quit) {
            return;
        }
        if (index == 0 && !m_events.empty()) {
            const int code = m_events.front();
            m_events.pop_front();
            ++m_eventsInFlight;
            const auto sink = m_eventSink;
            lock.unlock();
            if (sink) {
                sink(code);
            }
            lock.lock();
            --m_eventsInFlight;
            m_changed.notify_all();
            continue;
        }
        if (m_streaming && !m_dead && m_pending > 0) {
            --m_pending;
            ++m_framesInFlight;
            lock.unlock();
            deliverOne(buffer);
            lock.lock();
            --m_framesInFlight;
            m_changed.notify_all();
            continue;
        }
        double fps = 0;
        if (index == 0 && m_streaming && !m_triggered && !m_dead) {
            fps = m_device->fps.load();
        }
        if (fps > 0) {
            const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(1.0 / fps));
            const auto now = std::chrono::steady_clock::now();
            if (!m_tickValid) {
                m_nextTick = now + period;
                m_tickValid = true;
            }
            if (now >= m_nextTick) {
                // A camera whose host is slow loses frames; it does not queue them.
                m_pending = std::min(m_pending + 1, 2);
                m_nextTick += period;
                if (m_nextTick < now) {
                    m_nextTick = now + period;
                }
                continue;
            }
            m_changed.wait_until(lock, m_nextTick);
            continue;
        }
        m_tickValid = false;
        m_changed.wait(lock);
    }
}

void Session::deliverOne(std::vector<unsigned char>& buffer)
{
    thread_local FrameRenderer renderer;
    std::uint32_t sequence;
    int width, height;
    PixelFormat format;
    bool faulty = false;
    FrameFault fault = FrameFault::Short;
    std::shared_ptr<PictureScene> scene;
    {
        std::lock_guard<std::mutex> lock(m_device->mutex);
        scene = m_device->scene;
        sequence = ++m_device->sequence;
        width = m_device->profile.width;
        height = m_device->profile.height;
        format = m_device->profile.format;
        if (!m_device->faults.empty()) {
            faulty = true;
            fault = m_device->faults.front();
            m_device->faults.pop_front();
        }
    }
    if (faulty && fault == FrameFault::Resized) {
        width = width - 2 >= kMinimumWidth ? width - 2 : width + 2;
        height += 2;
    }
    if (faulty && fault == FrameFault::WrongFormat) {
        format = format == PixelFormat::Rgb8 ? PixelFormat::Mono8 : PixelFormat::Rgb8;
    }
    const std::size_t rowBytes = std::size_t(width) * std::size_t(bytesPerPixel(format));
    std::size_t bytes = frameBytes(width, height, format);
    buffer.resize(bytes + rowBytes);
    if (!scene || !scene->render(width, height, format, buffer.data())) {
        renderer.render(m_deviceNumber, sequence, width, height, format, buffer.data());
    }
    std::memset(buffer.data() + bytes, 0, rowBytes);
    if (faulty && fault == FrameFault::Short) {
        bytes -= rowBytes;
    } else if (faulty && fault == FrameFault::Long) {
        bytes += rowBytes;
    }

    std::function<void(const Frame&)> sink;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_threadCount > 1) {
            const std::uint64_t round = m_pairRound;
            if (++m_pairWaiting >= m_threadCount) {
                m_pairWaiting = 0;
                ++m_pairRound;
                m_changed.notify_all();
            } else if (!m_changed.wait_for(lock, kPairWait, [&] { return m_pairRound != round || m_quit; })) {
                --m_pairWaiting;
            }
        }
        sink = m_frameSink;
    }
    holdHere(HoldPoint::Entry);
    if (sink) {
        Frame frame;
        frame.data = buffer.data();
        frame.bytes = bytes;
        frame.width = width;
        frame.height = height;
        frame.format = format;
        frame.sequence = sequence;
        frame.device = m_deviceNumber;
        sink(frame);
    }
    std::lock_guard<std::mutex> lock(m_device->mutex);
    ++m_device->delivered;
}

// ---------------------------------------------------------------- Simulator

Simulator::Simulator(SimulatorOptions options)
    : m_options(std::move(options))
{
}

Simulator::~Simulator()
{
    reset();
}

void Simulator::reset()
{
    std::vector<std::shared_ptr<DeviceState>> devices;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        devices.swap(m_devices);
        m_failures.clear();
        m_configured = true;
    }
    // A held callback would keep close() waiting.
    for (const auto& device : devices) {
        std::shared_ptr<Session> session;
        {
            std::lock_guard<std::mutex> lock(device->mutex);
            session = device->session.lock();
        }
        if (session) {
            session->releaseHold();
        }
    }
    std::map<std::uintptr_t, std::shared_ptr<void>> handles;
    {
        std::lock_guard<std::mutex> lock(m_handleMutex);
        handles.swap(m_handles);
        m_handlesMade = 0;
        m_nextHandle = 1;
    }
    handles.clear();  // the library's objects close their sessions
    for (const auto& device : devices) {
        std::shared_ptr<Session> session;
        {
            std::lock_guard<std::mutex> lock(device->mutex);
            session = device->session.lock();
        }
        if (session) {
            session->close();
        }
    }
    clearCalls();
}

DeviceProfile Simulator::makeSpec(const std::string& serial, const std::string& model, int width, int height,
                               bool mono) const
{
    DeviceProfile profile;
    profile.serial = serial;
    profile.model = model;
    profile.name = model + "#" + serial;
    profile.width = width;
    profile.height = height;
    profile.mono = mono;
    profile.format = mono ? PixelFormat::Mono8 : PixelFormat::BayerRG8;
    if (m_options.completeProfile) {
        m_options.completeProfile(profile);
    }
    return profile;
}

int Simulator::addDevice(DeviceProfile profile)
{
    if (!validFrameSize(profile.width, profile.height)) {
        return -1;
    }
    if (m_options.completeProfile) {
        m_options.completeProfile(profile);  // adds only what the profile lacks
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_configured = true;
    for (const auto& device : m_devices) {
        if (device->profile.serial == profile.serial) {
            return -1;
        }
    }
    auto device = std::make_shared<DeviceState>();
    device->number = m_nextDeviceNumber++;
    profile.number = device->number;
    device->fps = std::max(0.0, profile.fps);
    device->initialFormat = profile.format;
    if (!profile.pictures.empty()) {
        device->scene = std::make_shared<PictureScene>(profile.pictures, profile.pictureSelect);
    }
    device->profile = std::move(profile);
    m_devices.push_back(device);
    return device->number;
}

std::shared_ptr<DeviceState> Simulator::find(const std::string& serial) const
{
    for (const auto& device : m_devices) {
        if (device->profile.serial == serial) {
            return device;
        }
    }
    return nullptr;
}

std::shared_ptr<Session> Simulator::sessionOf(const std::string& serial) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto device = find(serial);
    if (!device) {
        return nullptr;
    }
    std::lock_guard<std::mutex> deviceLock(device->mutex);
    return device->session.lock();
}

bool Simulator::vanish(const std::string& serial)
{
    std::shared_ptr<Session> session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto device = find(serial);
        if (!device) {
            return false;
        }
        std::lock_guard<std::mutex> deviceLock(device->mutex);
        device->present = false;
        session = device->session.lock();
    }
    if (session) {
        session->gone(m_options.disconnectCode);
    }
    return true;
}

bool Simulator::comeBack(const std::string& serial, int position, int width, int height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = std::find_if(m_devices.begin(), m_devices.end(),
                           [&](const auto& device) { return device->profile.serial == serial; });
    if (it == m_devices.end()) {
        return false;
    }
    const auto device = *it;
    {
        std::lock_guard<std::mutex> deviceLock(device->mutex);
        device->present = true;
        if (width > 0 && height > 0 && validFrameSize(width, height)) {
            device->profile.width = width;
            device->profile.height = height;
        }
    }
    if (position >= 0) {
        m_devices.erase(it);
        const std::size_t at = std::min(std::size_t(position), m_devices.size());
        m_devices.insert(m_devices.begin() + std::ptrdiff_t(at), device);
    }
    return true;
}

bool Simulator::setFrameRate(const std::string& serial, double fps)
{
    std::shared_ptr<DeviceState> device;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        device = find(serial);
    }
    if (!device) {
        return false;
    }
    std::shared_ptr<Session> session;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        device->profile.fps = std::max(0.0, fps);
        device->fps = device->profile.fps;
        session = device->session.lock();
    }
    if (session) {
        session->wake();
    }
    return true;
}

void Simulator::failNext(const std::string& function, int code, int times, int after)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& queue = m_failures[function];
    for (int i = 0; i < after; ++i) {
        queue.push_back(std::nullopt);
    }
    for (int i = 0; i < times; ++i) {
        queue.push_back(code);
    }
}

int Simulator::pump(const std::string& serial, int frames)
{
    const auto session = sessionOf(serial);
    return session ? session->addFrames(frames, false) : 0;
}

int Simulator::trigger(const std::string& serial, int pulses)
{
    const auto session = sessionOf(serial);
    return session ? session->addFrames(pulses, true) : 0;
}

bool Simulator::waitIdle(const std::string& serial, std::chrono::milliseconds timeout)
{
    const auto session = sessionOf(serial);
    return !session || session->waitIdle(timeout);
}

void Simulator::injectFrameFault(const std::string& serial, FrameFault fault, int frames)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const auto device = find(serial)) {
        std::lock_guard<std::mutex> deviceLock(device->mutex);
        for (int i = 0; i < frames; ++i) {
            device->faults.push_back(fault);
        }
    }
}

void Simulator::setDeliveryThreads(const std::string& serial, int threads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const auto device = find(serial)) {
        std::lock_guard<std::mutex> deviceLock(device->mutex);
        device->deliveryThreads = std::clamp(threads, 1, 2);
    }
}

void Simulator::holdNextCallback(const std::string& serial, HoldPoint point)
{
    if (const auto session = sessionOf(serial)) {
        session->arm(point);
    }
}

bool Simulator::waitHeld(const std::string& serial, std::chrono::milliseconds timeout)
{
    const auto session = sessionOf(serial);
    return session && session->waitHeld(timeout);
}

void Simulator::releaseHold(const std::string& serial)
{
    if (const auto session = sessionOf(serial)) {
        session->releaseHold();
    }
}

bool Simulator::postEvent(const std::string& serial, int code)
{
    const auto session = sessionOf(serial);
    if (!session) {
        return false;
    }
    session->post(code);
    return true;
}

void Simulator::setCallLogging(bool on)
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_logging = on;
    if (!on) {
        std::vector<Call>().swap(m_calls);
    }
}

bool Simulator::callLogging() const
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_logging;
}

std::vector<Call> Simulator::calls() const
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_calls;
}

std::vector<std::string> Simulator::callNames(std::optional<std::thread::id> thread) const
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    std::vector<std::string> names;
    for (const Call& call : m_calls) {
        if (!thread || call.thread == *thread) {
            names.push_back(call.function);
        }
    }
    return names;
}

void Simulator::clearCalls()
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_calls.clear();
}

int Simulator::deviceNumber(const std::string& serial) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto device = find(serial);
    return device ? device->number : -1;
}

std::string Simulator::serialOf(int number) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& device : m_devices) {
        if (device->number == number) {
            return device->profile.serial;
        }
    }
    return {};
}

std::uint64_t Simulator::framesDelivered(const std::string& serial) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto device = find(serial);
    if (!device) {
        return 0;
    }
    std::lock_guard<std::mutex> deviceLock(device->mutex);
    return device->delivered;
}

bool Simulator::featureOf(const std::string& serial, const std::string& name, Feature* out) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto device = find(serial);
    if (!device) {
        return false;
    }
    std::lock_guard<std::mutex> deviceLock(device->mutex);
    const auto it = device->profile.features.find(name);
    if (it == device->profile.features.end()) {
        return false;
    }
    if (out) {
        *out = it->second;
    }
    return true;
}

bool Simulator::setFeatureRange(const std::string& serial, const std::string& name, const Feature& feature)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto device = find(serial);
    if (!device) {
        return false;
    }
    std::lock_guard<std::mutex> deviceLock(device->mutex);
    device->profile.features[name] = feature;
    return true;
}

bool Simulator::streaming(const std::string& serial) const
{
    const auto session = sessionOf(serial);
    return session && session->streaming();
}

bool Simulator::triggered(const std::string& serial) const
{
    const auto session = sessionOf(serial);
    return session && session->triggered();
}

PixelFormat Simulator::formatOf(const std::string& serial) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto device = find(serial);
    if (!device) {
        return PixelFormat::Mono8;
    }
    std::lock_guard<std::mutex> deviceLock(device->mutex);
    return device->profile.format;
}

int Simulator::openSessions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int open = 0;
    for (const auto& device : m_devices) {
        std::lock_guard<std::mutex> deviceLock(device->mutex);
        if (!device->session.expired()) {
            ++open;
        }
    }
    return open;
}

std::uint64_t Simulator::handlesMade() const
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    return m_handlesMade;
}

int Simulator::liveHandles() const
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    return int(m_handles.size());
}

std::optional<int> Simulator::call(const char* function, std::string arguments)
{
    {
        std::lock_guard<std::mutex> lock(m_logMutex);
        if (m_logging) {
            m_calls.push_back(Call{function, std::move(arguments), std::this_thread::get_id()});
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_failures.find(function);
    if (it == m_failures.end() || it->second.empty()) {
        return std::nullopt;
    }
    const std::optional<int> code = it->second.front();
    it->second.pop_front();
    return code;
}

std::vector<DeviceProfile> Simulator::present()
{
    configureOnce();
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<DeviceProfile> list;
    for (const auto& device : m_devices) {
        std::lock_guard<std::mutex> deviceLock(device->mutex);
        if (device->present) {
            list.push_back(device->profile);
        }
    }
    return list;
}

std::shared_ptr<Session> Simulator::open(const std::string& serial, OpenResult* result)
{
    configureOnce();
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto device = find(serial);
    OpenResult dummy;
    OpenResult& outcome = result ? *result : dummy;
    if (!device) {
        outcome = OpenResult::NotFound;
        return nullptr;
    }
    std::lock_guard<std::mutex> deviceLock(device->mutex);
    if (!device->present) {
        outcome = OpenResult::NotFound;
        return nullptr;
    }
    if (const auto current = device->session.lock()) {
        if (current->alive()) {
            outcome = OpenResult::Busy;
            return nullptr;
        }
    }
    std::shared_ptr<Session> session(new Session(device, device->deliveryThreads));
    device->session = session;
    outcome = OpenResult::Ok;
    return session;
}

std::uintptr_t Simulator::addHandle(std::shared_ptr<void> object)
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    const std::uintptr_t key = m_nextHandle++;
    m_handles.emplace(key, std::move(object));
    ++m_handlesMade;
    return key;
}

std::shared_ptr<void> Simulator::findHandle(std::uintptr_t key) const
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    const auto it = m_handles.find(key);
    return it == m_handles.end() ? nullptr : it->second;
}

std::shared_ptr<void> Simulator::removeHandle(std::uintptr_t key)
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    const auto it = m_handles.find(key);
    if (it == m_handles.end()) {
        return nullptr;
    }
    auto object = std::move(it->second);
    m_handles.erase(it);
    return object;
}

std::vector<std::shared_ptr<void>> Simulator::allHandles() const
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    std::vector<std::shared_ptr<void>> objects;
    for (const auto& entry : m_handles) {
        objects.push_back(entry.second);
    }
    return objects;
}

void Simulator::configureOnce()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_configured) {
            return;
        }
        m_configured = true;
    }
    readDevicesFile();
}

void Simulator::readDevicesFile()
{
    QFile file(QString::fromLatin1(kDevicesFile));
    if (!file.open(QIODevice::ReadOnly)) {
        return;  // no file: no devices, the program falls back to its simulated camera
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qWarning("%s: %s", kDevicesFile, qUtf8Printable(error.errorString()));
        return;
    }
    const QJsonArray devices = document.object().value(QString::fromStdString(m_options.library)).toArray();
    for (const QJsonValue& value : devices) {
        const QJsonObject entry = value.toObject();
        DeviceProfile profile = makeSpec(entry.value(QStringLiteral("serial")).toString().toStdString(),
                                   entry.value(QStringLiteral("model")).toString().toStdString(),
                                   entry.value(QStringLiteral("width")).toInt(640),
                                   entry.value(QStringLiteral("height")).toInt(480),
                                   entry.value(QStringLiteral("mono")).toBool(false));
        profile.maker = entry.value(QStringLiteral("maker")).toString(QString::fromStdString(profile.maker)).toStdString();
        if (entry.contains(QStringLiteral("name"))) {
            profile.name = entry.value(QStringLiteral("name")).toString().toStdString();
        }
        profile.fps = entry.value(QStringLiteral("fps")).toDouble(10);
        for (const QJsonValue& picture : entry.value(QStringLiteral("pictures")).toArray()) {
            profile.pictures.push_back(picture.toString().toStdString());
        }
        profile.pictureSelect = entry.value(QStringLiteral("pictureSelect")).toString().toStdString();
        if (addDevice(profile) < 0) {
            qWarning("%s: device %s of %s left out (size or serial)", kDevicesFile, profile.serial.c_str(),
                     m_options.library.c_str());
        }
    }
}

} // namespace simdev
