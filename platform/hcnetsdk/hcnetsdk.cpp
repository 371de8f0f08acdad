#include "hcnetsdk.h"
#include "hcnetsdksim.h"

#include "playctrlsim.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// The commands this library knows, with the size of their record.
constexpr std::uint32_t kDeviceConfig = 100;
constexpr std::uint32_t kRuleTemperature = 23001;
constexpr std::uint32_t kStreamConfig = 3216;
constexpr std::uint32_t kRealtimeThermometry = 6766;
constexpr std::uint32_t kPresetGet = 3624;
constexpr std::uint32_t kPresetSet = 3625;

// Get command -> record size; the set command is the get command + 1.
const std::map<std::uint32_t, std::uint32_t>& dvrRecords()
{
    static const std::map<std::uint32_t, std::uint32_t> records{
        {3368, NET_DVR_IMAGE_ENHANCE_BYTES}, {3305, NET_DVR_THERMOMETRY_MODE_BYTES}, {1002, NET_DVR_CCDPARAM_BYTES}};
    return records;
}

// Thermometry records: only the thermal channel has them.
bool thermalOnly(std::uint32_t getCommand)
{
    return getCommand == 3305 || getCommand == 1002 || getCommand == 3621 || getCommand == kPresetGet;
}

void put32(unsigned char* at, std::uint32_t value)
{
    std::memcpy(at, &value, 4);
}

std::uint32_t get32(const void* at)
{
    std::uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

struct Device {
    IrDevice config;
    int number = 0;
    std::map<std::pair<int, std::uint32_t>, std::vector<unsigned char>> records;
    std::map<int, std::array<float, 3>> rules;
};

struct Stream {
    std::string serial;
    int channel = 0;
    int device = 0;
    NET_DVR_REALDATA_CALLBACK callback = nullptr;
    void* context = nullptr;
    std::int32_t handle = -1;

    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
    std::thread::id threadId;
    bool quit = false;
    bool busy = false;
    bool headerSent = false;
    int pending = 0;
    std::uint32_t sequence = 0;
};

std::mutex gMutex;
bool gReady = false;
std::map<std::string, Device> gDevices;  // by serial
std::vector<std::string> gLocal{"127.0.0.1"};
std::map<std::int32_t, std::string> gUsers;  // user id -> serial
std::int32_t gNextUser = 0;
std::map<std::int32_t, std::shared_ptr<Stream>> gStreams;
std::int32_t gNextStream = 0;
std::vector<unsigned char> gLastLogin;
// Whether the devices file may still be read: not once a test configured the
// library, nor a second time.
bool gFileChecked = false;
thread_local std::uint32_t tLastError = NET_DVR_ERR_NONE;

simdev::Simulator& sim()
{
    return hcnetSimulator();
}

BOOL failWith(std::uint32_t code)
{
    tLastError = code;
    return 0;
}

bool present(const std::string& serial)
{
    for (const auto& profile : sim().present()) {
        if (profile.serial == serial) {
            return true;
        }
    }
    return false;
}

// The device a logged-in user reaches, with gMutex held; sets the error.
Device* deviceOf(std::int32_t user)
{
    if (!gReady) {
        tLastError = NET_DVR_ERR_NOT_READY;
        return nullptr;
    }
    const auto it = gUsers.find(user);
    if (it == gUsers.end()) {
        tLastError = NET_DVR_ERR_NO_USER;
        return nullptr;
    }
    const auto device = gDevices.find(it->second);
    if (device == gDevices.end() || !present(it->second)) {
        tLastError = NET_DVR_ERR_UNREACHABLE;
        return nullptr;
    }
    return &device->second;
}

bool validChannel(const Device& device, int channel, std::uint32_t getCommand)
{
    if (channel < 1 || channel > device.config.channels) {
        return false;
    }
    const int thermal = device.config.channels == 2 ? 2 : 1;
    return !thermalOnly(getCommand) || channel == thermal;
}

std::vector<unsigned char>& recordOf(Device& device, int channel, std::uint32_t getCommand, std::uint32_t bytes)
{
    std::vector<unsigned char>& record = device.records[{channel, getCommand}];
    if (record.size() != bytes) {
        record.assign(bytes, 0);
        put32(record.data(), bytes);
        if (getCommand == kPresetGet) {
            record[4] = 1;
        }
    }
    return record;
}

float getFloat(const unsigned char* at)
{
    float value;
    std::memcpy(&value, at, 4);
    return value;
}

// The temperatures (highest, lowest, mean) a scene device measures for a
// rule it was given with the preset record: over the rule's point, or over
// the rectangle its region's points span. With gMutex held.
bool sceneRuleTemperatures(const Device& d, int rule, std::array<float, 3>* out)
{
    const int thermal = d.config.channels == 2 ? 2 : 1;
    const auto it = d.records.find({thermal, kPresetGet});
    if (!d.config.scene || it == d.records.end() || it->second.size() != NET_DVR_PRESETINFO_BYTES) {
        return false;
    }
    const std::vector<unsigned char>& record = it->second;
    constexpr std::size_t kEntries = 40;
    constexpr std::size_t kEntryBytes = 204;
    for (std::size_t e = 0; e < kEntries; ++e) {
        const unsigned char* entry = record.data() + 8 + e * kEntryBytes;
        if (entry[0] != 1 || entry[1] != rule) {
            continue;
        }
        double left = 0, top = 0, right = 0, bottom = 0;
        if (entry[111] == 0) {
            left = right = getFloat(entry + 112);
            top = bottom = getFloat(entry + 116);
        } else {
            const std::uint32_t points = std::min<std::uint32_t>(get32(entry + 120), 4);
            if (points == 0) {
                return false;
            }
            left = top = 1;
            right = bottom = 0;
            for (std::uint32_t k = 0; k < points; ++k) {
                const double x = getFloat(entry + 124 + 8 * k);
                const double y = getFloat(entry + 128 + 8 * k);
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        if (!std::isfinite(left) || !std::isfinite(right) || !std::isfinite(top) || !std::isfinite(bottom)) {
            return false;
        }
        const double hotNow = hcnetSceneHot(d.config);
        constexpr int kSamples = 12;
        double high = -1e9, low = 1e9, sum = 0;
        for (int i = 0; i < kSamples; ++i) {
            for (int j = 0; j < kSamples; ++j) {
                const double x = std::clamp(left + (right - left) * i / (kSamples - 1), 0.0, 1.0);
                const double y = std::clamp(top + (bottom - top) * j / (kSamples - 1), 0.0, 1.0);
                const double t = hcnetSceneTemperature(d.config, x, y, hotNow);
                high = std::max(high, t);
                low = std::min(low, t);
                sum += t;
            }
        }
        *out = {float(high), float(low), float(sum / (kSamples * kSamples))};
        return true;
    }
    return false;
}

// Renders the scene in a thermal camera's colours (cold blue to hot yellow);
// the cavities' shape is worked out once per picture size.
PictureRenderer sceneRenderer(const IrDevice& device)
{
    struct Shape {
        std::mutex mutex;
        int width = 0;
        int height = 0;
        std::vector<float> weight;  // 0 ambient to 1 the cavities' heat
    };
    auto shape = std::make_shared<Shape>();
    return [device, shape](const StreamPacket& packet, unsigned char* yv12) {
        const int w = packet.width;
        const int h = packet.height;
        std::lock_guard<std::mutex> lock(shape->mutex);
        if (shape->width != w || shape->height != h) {
            shape->width = w;
            shape->height = h;
            shape->weight.assign(std::size_t(w) * std::size_t(h), 0);
            IrDevice unit = device;
            unit.ambient = 0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    shape->weight[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                        float(hcnetSceneTemperature(unit, (x + 0.5) / w, (y + 0.5) / h, 1.0));
                }
            }
        }
        // The scale reaches a little above the hottest the cavities get.
        const double span = std::max(1.0, device.hot + 10 - device.ambient);
        const double heat = (hcnetSceneHot(device) - device.ambient) / span;
        auto levelOf = [&](std::size_t i) { return std::clamp(heat * shape->weight[i], 0.0, 1.0); };
        for (std::size_t i = 0; i < shape->weight.size(); ++i) {
            yv12[i] = static_cast<unsigned char>(30 + 200 * levelOf(i));
        }
        unsigned char* v = yv12 + std::size_t(w) * std::size_t(h);
        unsigned char* u = v + std::size_t(w / 2) * std::size_t(h / 2);
        for (int y = 0; y < h / 2; ++y) {
            for (int x = 0; x < w / 2; ++x) {
                const double k = levelOf(std::size_t(2 * y) * std::size_t(w) + std::size_t(2 * x));
                const std::size_t c = std::size_t(y) * std::size_t(w / 2) + std::size_t(x);
                v[c] = static_cast<unsigned char>(std::clamp(128 + 110 * (k - 0.25), 0.0, 255.0));
                u[c] = static_cast<unsigned char>(std::clamp(128 + 70 * (0.35 - k), 0.0, 255.0));
            }
        }
    };
}

void runStream(Stream* s)
{
    bool headerSent = false;
    std::unique_lock<std::mutex> lock(s->mutex);
    auto nextTick = std::chrono::steady_clock::now();
    for (;;) {
        double rate = 0;
        int width = 0;
        int height = 0;
        lock.unlock();
        {
            std::lock_guard<std::mutex> global(gMutex);
            const auto it = gDevices.find(s->serial);
            if (it != gDevices.end()) {
                rate = it->second.config.picturesPerSecond;
                width = it->second.config.width;
                height = it->second.config.height;
            }
        }
        lock.lock();
        const auto wake = [&] { return s->quit || s->pending > 0 || !headerSent; };
        if (rate > 0) {
            nextTick += std::chrono::microseconds(static_cast<long long>(1e6 / rate));
            s->changed.wait_until(lock, nextTick, wake);
        } else {
            s->changed.wait_for(lock, std::chrono::milliseconds(headerSent ? 200 : 20), wake);
        }
        if (s->quit) {
            return;
        }
        // The size as it is now, not as it was when the wait began.
        lock.unlock();
        {
            std::lock_guard<std::mutex> global(gMutex);
            const auto it = gDevices.find(s->serial);
            if (it != gDevices.end()) {
                width = it->second.config.width;
                height = it->second.config.height;
            }
        }
        lock.lock();
        if (s->quit) {
            return;
        }
        if (!present(s->serial)) {
            // Away: what was sent meanwhile is lost; the stream resumes by
            // itself when the device is back.
            s->pending = 0;
            s->changed.notify_all();
            continue;
        }
        std::vector<unsigned char> bytes;
        std::uint32_t type = NET_DVR_STREAMDATA;
        if (!headerSent) {
            bytes = encodeStreamHeader(width, height, s->device, s->channel);
            type = NET_DVR_SYSHEAD;
            headerSent = true;
            s->headerSent = true;
        } else if (s->pending > 0 || rate > 0) {
            if (s->pending > 0) {
                --s->pending;
            }
            bytes = encodeStreamPacket(++s->sequence, width, height, s->device, s->channel);
        } else {
            continue;
        }
        s->busy = true;
        lock.unlock();
        s->callback(s->handle, type, bytes.data(), std::uint32_t(bytes.size()), s->context);
        lock.lock();
        s->busy = false;
        s->changed.notify_all();
    }
}

std::vector<std::shared_ptr<Stream>> streamsOf(const std::string& serial, int channel)
{
    std::vector<std::shared_ptr<Stream>> found;
    std::lock_guard<std::mutex> lock(gMutex);
    for (const auto& entry : gStreams) {
        if (entry.second->serial == serial && entry.second->channel == channel) {
            found.push_back(entry.second);
        }
    }
    return found;
}

void endStream(const std::shared_ptr<Stream>& s)
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->quit = true;
        s->changed.notify_all();
        if (s->threadId == std::this_thread::get_id()) {
            s->thread.detach();
            return;
        }
        thread = std::move(s->thread);
    }
    if (thread.joinable()) {
        thread.join();
    }
}

} // namespace

simdev::Simulator& hcnetSimulator()
{
    static simdev::Simulator simulator(simdev::SimulatorOptions{"HCNetSDK", 0, nullptr});
    return simulator;
}

void hcnetReset()
{
    std::map<std::int32_t, std::shared_ptr<Stream>> streams;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        streams.swap(gStreams);
    }
    for (auto& entry : streams) {
        endStream(entry.second);
    }
    std::lock_guard<std::mutex> lock(gMutex);
    gDevices.clear();
    gUsers.clear();
    gLocal = {"127.0.0.1"};
    gLastLogin.clear();
    gReady = false;
    gFileChecked = true;
    sim().reset();
}

bool hcnetAddDevice(const IrDevice& device)
{
    simdev::DeviceProfile profile;
    profile.serial = device.serial;
    profile.model = "IR";
    profile.width = 64;
    profile.height = 32;
    const int number = sim().addDevice(profile);
    if (number < 0) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(gMutex);
        Device& d = gDevices[device.serial];
        d.config = device;
        d.number = number;
        gFileChecked = true;
    }
    playctrlSetRenderer(number, device.scene ? sceneRenderer(device) : PictureRenderer());
    return true;
}

int hcnetResolutionCode(int width, int height)
{
    static const struct {
        int code, width, height;
    } sizes[] = {{1, 352, 288},   {3, 704, 576},    {12, 384, 288},  {16, 640, 480},  {17, 1600, 1200},
                 {18, 800, 600},  {19, 1280, 720},  {20, 1280, 960}, {76, 640, 512},  {98, 2688, 1520}};
    for (const auto& size : sizes) {
        if (size.width == width && size.height == height) {
            return size.code;
        }
    }
    return 0;
}

double hcnetSceneTemperature(const IrDevice& device, double x, double y, double hotNow)
{
    // Two cavities side by side in the middle of the mould half.
    auto cavity = [x, y](double cx, double cy) {
        const double dx = (x - cx) / 0.09;
        const double dy = (y - cy) / 0.12;
        return std::exp(-(dx * dx + dy * dy) / 2);
    };
    const double weight = std::max(cavity(0.32, 0.5), cavity(0.68, 0.5));
    return device.ambient + (hotNow - device.ambient) * weight;
}

double hcnetSceneHot(const IrDevice& device)
{
    static const auto start = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return device.hot + 6 * std::sin(seconds * 2 * M_PI / 60);
}

namespace {
void readDevicesFileOnce()
{
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gFileChecked) {
            return;
        }
        gFileChecked = true;
    }
    hcnetReadDevicesFile();
}
} // namespace

void hcnetReadDevicesFile()
{
    QFile file(QString::fromLatin1(simdev::kDevicesFile));
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    const QJsonArray entries = document.object().value(QStringLiteral("HCNetSDK")).toArray();
    if (error.error != QJsonParseError::NoError || entries.isEmpty()) {
        return;
    }
    // The generic reading of the file must not make devices of these entries.
    sim().reset();
    std::vector<std::string> local;
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        IrDevice device;
        device.serial = entry.value(QStringLiteral("serial")).toString().toStdString();
        device.address = entry.value(QStringLiteral("address")).toString(QStringLiteral("127.0.0.64")).toStdString();
        device.channels = entry.value(QStringLiteral("channels")).toInt(1);
        device.width = entry.value(QStringLiteral("width")).toInt(640);
        device.height = entry.value(QStringLiteral("height")).toInt(512);
        device.resolutionCode = hcnetResolutionCode(device.width, device.height);
        device.picturesPerSecond = entry.value(QStringLiteral("fps")).toDouble(10);
        device.ambient = entry.value(QStringLiteral("ambient")).toDouble(30);
        device.hot = entry.value(QStringLiteral("hot")).toDouble(180);
        device.scene = true;
        const std::size_t lastDot = device.address.rfind('.');
        if (device.serial.empty() || device.serial.size() > 48 || device.resolutionCode == 0
            || (device.channels != 1 && device.channels != 2) || lastDot == std::string::npos
            || device.address.size() > 128 || !hcnetAddDevice(device)) {
            qWarning("%s: infrared camera %s left out (serial, address, channels or size)", simdev::kDevicesFile,
                     device.serial.c_str());
            continue;
        }
        const std::string network = device.address.substr(0, lastDot) + ".1";
        if (std::find(local.begin(), local.end(), network) == local.end()) {
            local.push_back(network);
        }
    }
    if (!local.empty()) {
        std::lock_guard<std::mutex> lock(gMutex);
        gLocal = local;
        if (gLocal.size() > 16) {
            gLocal.resize(16);
        }
    }
}

void hcnetSetLocalAddresses(const std::vector<std::string>& addresses)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gLocal = addresses;
    gFileChecked = true;
    if (gLocal.size() > 16) {
        gLocal.resize(16);
    }
}

void hcnetSetRuleTemperatures(const std::string& serial, int rule, float t0, float t4, float t8)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gDevices[serial].rules[rule] = {t0, t4, t8};
}

void hcnetClearRuleTemperatures(const std::string& serial)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gDevices[serial].rules.clear();
}

std::vector<unsigned char> hcnetRecord(const std::string& serial, int channel, int command)
{
    std::lock_guard<std::mutex> lock(gMutex);
    const auto device = gDevices.find(serial);
    if (device == gDevices.end()) {
        return {};
    }
    const auto it = device->second.records.find({channel, std::uint32_t(command)});
    return it == device->second.records.end() ? std::vector<unsigned char>() : it->second;
}

void hcnetSetRecord(const std::string& serial, int channel, int command, const std::vector<unsigned char>& bytes)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gDevices[serial].records[{channel, std::uint32_t(command)}] = bytes;
}

std::vector<unsigned char> hcnetLastLogin()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gLastLogin;
}

int hcnetLogins()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return int(gUsers.size());
}

int hcnetStreams()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return int(gStreams.size());
}

int hcnetPump(const std::string& serial, int channel, int pictures)
{
    if (!present(serial)) {
        return 0;
    }
    int accepted = 0;
    for (const auto& s : streamsOf(serial, channel)) {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->pending += pictures;
        accepted += pictures;
        s->changed.notify_all();
    }
    return accepted;
}

bool hcnetWaitIdle(const std::string& serial, int channel, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (const auto& s : streamsOf(serial, channel)) {
        std::unique_lock<std::mutex> lock(s->mutex);
        if (!s->changed.wait_until(lock, until, [&] { return s->quit || (s->headerSent && s->pending == 0 && !s->busy); })) {
            return false;
        }
    }
    return true;
}

void hcnetSetPictureSize(const std::string& serial, int width, int height)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gDevices[serial].config.width = width;
    gDevices[serial].config.height = height;
}

void hcnetSetPictureRate(const std::string& serial, double picturesPerSecond)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gDevices[serial].config.picturesPerSecond = picturesPerSecond;
}

extern "C" {

BOOL NET_DVR_Init(void)
{
    readDevicesFileOnce();
    sim().call("NET_DVR_Init", "");
    std::lock_guard<std::mutex> lock(gMutex);
    gReady = true;
    return 1;
}

BOOL NET_DVR_Cleanup(void)
{
    sim().call("NET_DVR_Cleanup", "");
    std::lock_guard<std::mutex> lock(gMutex);
    gReady = false;
    return 1;
}

std::uint32_t NET_DVR_GetLastError(void)
{
    return tLastError;
}

BOOL NET_DVR_GetLocalIP(char addresses[16][16], std::uint32_t* count, BOOL* bind)
{
    if (const auto fault = sim().call("NET_DVR_GetLocalIP", "")) {
        return failWith(std::uint32_t(*fault));
    }
    if (!addresses || !count) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(gMutex);
    std::memset(addresses, 0, 16 * 16);
    for (std::size_t i = 0; i < gLocal.size(); ++i) {
        // A text of 16 characters fills its field without a NUL.
        std::memcpy(addresses[i], gLocal[i].data(), std::min<std::size_t>(16, gLocal[i].size()));
    }
    *count = std::uint32_t(gLocal.size());
    if (bind) {
        *bind = 0;
    }
    return 1;
}

BOOL NET_DVR_SetValidIP(std::uint32_t index, BOOL enable)
{
    sim().call("NET_DVR_SetValidIP", simdev::arguments(index, enable));
    return 1;
}

BOOL NET_DVR_SetConnectTime(std::uint32_t milliseconds, std::uint32_t tries)
{
    sim().call("NET_DVR_SetConnectTime", simdev::arguments(milliseconds, tries));
    return 1;
}

BOOL NET_DVR_SetReconnect(std::uint32_t milliseconds, BOOL enable)
{
    sim().call("NET_DVR_SetReconnect", simdev::arguments(milliseconds, enable));
    return 1;
}

BOOL NET_DVR_SetLogToFile(std::uint32_t level, const char* folder, BOOL autoDelete)
{
    sim().call("NET_DVR_SetLogToFile", simdev::arguments(level, simdev::boundedText(folder, 260), autoDelete));
    return 1;
}

BOOL NET_DVR_SetLogPrint(BOOL on)
{
    sim().call("NET_DVR_SetLogPrint", simdev::arguments(on));
    return 1;
}

std::int32_t NET_DVR_Login_V40(NET_DVR_LOGIN_RECORD* login, NET_DVR_DEVICE_RECORD* device)
{
    if (!login || !device) {
        failWith(NET_DVR_ERR_PARAMETER);
        return -1;
    }
    const std::string address = simdev::boundedText(login->address, sizeof login->address);
    const std::string user = simdev::boundedText(login->userName, sizeof login->userName);
    const std::string password = simdev::boundedText(login->password, sizeof login->password);
    {
        std::lock_guard<std::mutex> lock(gMutex);
        const auto* raw = reinterpret_cast<const unsigned char*>(login);
        gLastLogin.assign(raw, raw + sizeof *login);
    }
    // The password never reaches the call log.
    if (const auto fault = sim().call("NET_DVR_Login_V40", simdev::arguments(address, login->port, user))) {
        failWith(std::uint32_t(*fault));
        return -1;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gReady) {
        failWith(NET_DVR_ERR_NOT_READY);
        return -1;
    }
    for (auto& entry : gDevices) {
        Device& d = entry.second;
        if (d.config.address != address || !present(d.config.serial)) {
            continue;
        }
        if (login->port != 8000 || login->asynchronous != 0) {
            failWith(NET_DVR_ERR_UNREACHABLE);
            return -1;
        }
        if (d.config.userName != user || d.config.password != password) {
            failWith(NET_DVR_ERR_PASSWORD);
            return -1;
        }
        std::memset(device, 0, sizeof *device);
        std::memcpy(device->serialNumber, d.config.serial.data(),
                    std::min(sizeof device->serialNumber, d.config.serial.size()));
        device->rest[0] = static_cast<unsigned char>(d.config.channels);
        const std::int32_t id = gNextUser++;
        gUsers[id] = d.config.serial;
        return id;
    }
    failWith(NET_DVR_ERR_UNREACHABLE);
    return -1;
}

BOOL NET_DVR_Logout(std::int32_t user)
{
    sim().call("NET_DVR_Logout", simdev::arguments(user));
    std::lock_guard<std::mutex> lock(gMutex);
    return gUsers.erase(user) ? 1 : failWith(NET_DVR_ERR_NO_USER);
}

BOOL NET_DVR_GetDVRConfig(std::int32_t user, std::uint32_t command, std::int32_t channel, void* output,
                          std::uint32_t outputBytes, std::uint32_t* returned)
{
    if (const auto fault = sim().call("NET_DVR_GetDVRConfig", simdev::arguments(user, command, channel, outputBytes))) {
        return failWith(std::uint32_t(*fault));
    }
    std::lock_guard<std::mutex> lock(gMutex);
    Device* d = deviceOf(user);
    if (!d) {
        return 0;
    }
    if (!output) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    auto* out = static_cast<unsigned char*>(output);
    if (command == kDeviceConfig) {
        if (outputBytes != NET_DVR_DEVICECFG_BYTES || channel != 1) {
            return failWith(NET_DVR_ERR_PARAMETER);
        }
        std::memset(out, 0, outputBytes);
        put32(out, outputBytes);
        out[124] = static_cast<unsigned char>(d->config.channels);
    } else if (command == kRuleTemperature) {
        // The "channel" is the rule's id here.
        const auto rule = d->rules.find(channel);
        if (outputBytes != NET_DVR_RULE_TEMPERATURE_BYTES) {
            return failWith(NET_DVR_ERR_PARAMETER);
        }
        std::array<float, 3> measured{};
        if (rule != d->rules.end()) {
            measured = rule->second;
        } else if (!sceneRuleTemperatures(*d, channel, &measured)) {
            return failWith(NET_DVR_ERR_UNSUPPORTED);
        }
        std::memset(out, 0, outputBytes);
        std::memcpy(out, measured.data(), 12);
    } else {
        const auto known = dvrRecords().find(command);
        if (known == dvrRecords().end()) {
            return failWith(NET_DVR_ERR_UNSUPPORTED);
        }
        if (outputBytes != known->second || !validChannel(*d, channel, command)) {
            return failWith(NET_DVR_ERR_PARAMETER);
        }
        const std::vector<unsigned char>& record = recordOf(*d, channel, command, outputBytes);
        std::memcpy(out, record.data(), outputBytes);
    }
    if (returned) {
        *returned = outputBytes;
    }
    return 1;
}

BOOL NET_DVR_SetDVRConfig(std::int32_t user, std::uint32_t command, std::int32_t channel, const void* input,
                          std::uint32_t inputBytes)
{
    if (const auto fault = sim().call("NET_DVR_SetDVRConfig", simdev::arguments(user, command, channel, inputBytes))) {
        return failWith(std::uint32_t(*fault));
    }
    std::lock_guard<std::mutex> lock(gMutex);
    Device* d = deviceOf(user);
    if (!d) {
        return 0;
    }
    const auto known = dvrRecords().find(command - 1);
    if (known == dvrRecords().end()) {
        return failWith(NET_DVR_ERR_UNSUPPORTED);
    }
    if (!input || inputBytes != known->second || get32(input) != inputBytes || !validChannel(*d, channel, command - 1)) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    const auto* in = static_cast<const unsigned char*>(input);
    d->records[{channel, command}].assign(in, in + inputBytes);
    d->records[{channel, command - 1}].assign(in, in + inputBytes);
    return 1;
}

BOOL NET_DVR_GetDeviceConfig(std::int32_t user, std::uint32_t command, std::uint32_t count, const void* condition,
                             std::uint32_t conditionBytes, void* status, void* output, std::uint32_t outputBytes)
{
    if (const auto fault = sim().call("NET_DVR_GetDeviceConfig",
                                      simdev::arguments(user, command, count, conditionBytes, outputBytes))) {
        return failWith(std::uint32_t(*fault));
    }
    std::lock_guard<std::mutex> lock(gMutex);
    Device* d = deviceOf(user);
    if (!d) {
        return 0;
    }
    if (command != kStreamConfig) {
        return failWith(NET_DVR_ERR_UNSUPPORTED);
    }
    if (count != 1 || !condition || conditionBytes != NET_DVR_STREAM_CONDITION_BYTES || !output ||
        outputBytes != NET_DVR_STREAM_REPLY_BYTES) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    const auto* cond = static_cast<const unsigned char*>(condition);
    const int channel = int(get32(cond + 40));
    if (get32(cond) != NET_DVR_STREAM_CONDITION_BYTES || get32(cond + 4) != 72 || !validChannel(*d, channel, 0)) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    auto* out = static_cast<unsigned char*>(output);
    std::memset(out, 0, outputBytes);
    put32(out, outputBytes);
    const int code = d->config.resolutionCode;
    // Small codes in the byte, the byte saying 255 and the code in the long
    // field otherwise.
    out[9] = static_cast<unsigned char>(std::min(code, 255));
    put32(out + 36, code >= 255 ? std::uint32_t(code) : 0);
    if (status) {
        put32(static_cast<unsigned char*>(status), 0);
    }
    return 1;
}

BOOL NET_DVR_GetSTDConfig(std::int32_t user, std::uint32_t command, NET_DVR_STD_REQUEST* request)
{
    if (const auto fault = sim().call("NET_DVR_GetSTDConfig", simdev::arguments(user, command))) {
        return failWith(std::uint32_t(*fault));
    }
    std::lock_guard<std::mutex> lock(gMutex);
    Device* d = deviceOf(user);
    if (!d) {
        return 0;
    }
    if (!request || !request->condition || !request->output || !request->status || request->statusBytes == 0) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    int channel = 0;
    std::uint32_t bytes = 0;
    if (command == 3621) {
        if (request->conditionBytes != 4) {
            return failWith(NET_DVR_ERR_PARAMETER);
        }
        channel = int(get32(request->condition));
        bytes = NET_DVR_THERMOMETRY_BASICPARAM_BYTES;
    } else if (command == kPresetGet) {
        const auto* cond = static_cast<const unsigned char*>(request->condition);
        if (request->conditionBytes != NET_DVR_PRESET_CONDITION_BYTES || get32(cond) != NET_DVR_PRESET_CONDITION_BYTES ||
            cond[8] != 1 || cond[9] != 0) {
            return failWith(NET_DVR_ERR_PARAMETER);
        }
        channel = int(get32(cond + 4));
        bytes = NET_DVR_PRESETINFO_BYTES;
    } else {
        return failWith(NET_DVR_ERR_UNSUPPORTED);
    }
    if (request->outputBytes != bytes || !validChannel(*d, channel, command)) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    std::memcpy(request->output, recordOf(*d, channel, command, bytes).data(), bytes);
    return 1;
}

BOOL NET_DVR_SetSTDConfig(std::int32_t user, std::uint32_t command, NET_DVR_STD_REQUEST* request)
{
    if (const auto fault = sim().call("NET_DVR_SetSTDConfig", simdev::arguments(user, command))) {
        return failWith(std::uint32_t(*fault));
    }
    std::lock_guard<std::mutex> lock(gMutex);
    Device* d = deviceOf(user);
    if (!d) {
        return 0;
    }
    if (!request || !request->condition || !request->input || !request->status || request->statusBytes == 0) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    int channel = 0;
    std::uint32_t bytes = 0;
    std::uint32_t getCommand = command - 1;
    if (command == kRealtimeThermometry || command == 3622) {
        if (request->conditionBytes != 4) {
            return failWith(NET_DVR_ERR_PARAMETER);
        }
        channel = int(get32(request->condition));
        bytes = command == 3622 ? NET_DVR_THERMOMETRY_BASICPARAM_BYTES : NET_DVR_REALTIME_THERMOMETRY_BYTES;
        if (command == kRealtimeThermometry) {
            getCommand = 3621;
        }
    } else if (command == kPresetSet) {
        const auto* cond = static_cast<const unsigned char*>(request->condition);
        if (request->conditionBytes != NET_DVR_PRESET_CONDITION_BYTES || get32(cond) != NET_DVR_PRESET_CONDITION_BYTES ||
            cond[8] != 1 || cond[9] != 0) {
            return failWith(NET_DVR_ERR_PARAMETER);
        }
        channel = int(get32(cond + 4));
        bytes = NET_DVR_PRESETINFO_BYTES;
    } else {
        return failWith(NET_DVR_ERR_UNSUPPORTED);
    }
    if (request->inputBytes != bytes || get32(request->input) != bytes || !validChannel(*d, channel, getCommand)) {
        return failWith(NET_DVR_ERR_PARAMETER);
    }
    const auto* in = static_cast<const unsigned char*>(request->input);
    d->records[{channel, command}].assign(in, in + bytes);
    if (command != kRealtimeThermometry) {
        d->records[{channel, getCommand}].assign(in, in + bytes);
    }
    return 1;
}

BOOL NET_DVR_FocusOnePush(std::int32_t user, std::int32_t channel)
{
    if (const auto fault = sim().call("NET_DVR_FocusOnePush", simdev::arguments(user, channel))) {
        return failWith(std::uint32_t(*fault));
    }
    std::lock_guard<std::mutex> lock(gMutex);
    Device* d = deviceOf(user);
    return d && validChannel(*d, channel, 0) ? 1 : failWith(NET_DVR_ERR_PARAMETER);
}

std::int32_t NET_DVR_RealPlay_V40(std::int32_t user, NET_DVR_PREVIEW_RECORD* preview,
                                  NET_DVR_REALDATA_CALLBACK callback, void* context)
{
    if (const auto fault = sim().call("NET_DVR_RealPlay_V40", simdev::arguments(user, preview ? preview->channel : -1))) {
        failWith(std::uint32_t(*fault));
        return -1;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    Device* d = deviceOf(user);
    if (!d) {
        return -1;
    }
    if (!preview || !callback || preview->streamType != 0 || preview->window != nullptr ||
        !validChannel(*d, preview->channel, 0)) {
        failWith(NET_DVR_ERR_PARAMETER);
        return -1;
    }
    auto s = std::make_shared<Stream>();
    s->serial = d->config.serial;
    s->channel = preview->channel;
    s->device = d->number;
    s->callback = callback;
    s->context = context;
    s->handle = gNextStream++;
    // The thread holds the stream too: a stream stopped from its own
    // callback ends after the callback returns, its record still there.
    std::thread thread([s] { runStream(s.get()); });
    {
        std::lock_guard<std::mutex> streamLock(s->mutex);
        s->threadId = thread.get_id();
        s->thread = std::move(thread);
    }
    gStreams[s->handle] = s;
    return s->handle;
}

BOOL NET_DVR_StopRealPlay(std::int32_t realHandle)
{
    sim().call("NET_DVR_StopRealPlay", simdev::arguments(realHandle));
    std::shared_ptr<Stream> s;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        const auto it = gStreams.find(realHandle);
        if (it == gStreams.end()) {
            return failWith(NET_DVR_ERR_ORDER);
        }
        s = it->second;
        gStreams.erase(it);
    }
    endStream(s);
    return 1;
}

} // extern "C"

static_assert(sizeof(NET_DVR_DEVICE_RECORD) == 344, "the device record is 344 bytes");
static_assert(sizeof(NET_DVR_PREVIEW_RECORD) == 288, "the preview record is 288 bytes");
