#include "playctrl.h"
#include "playctrlsim.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr int kPorts = 32;
constexpr std::uint32_t kHeaderMagic = 0x4853564B;  // "KVSH"
constexpr std::uint32_t kPacketMagic = 0x4453564B;  // "KVSD"

void put32(unsigned char* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::uint32_t get32(const unsigned char* at)
{
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 | std::uint32_t(at[3]) << 24;
}

unsigned char level(int nibble)
{
    return static_cast<unsigned char>((nibble & 0xF) * 16 + 8);
}

struct Port {
    std::mutex mutex;
    std::condition_variable changed;
    bool taken = false;
    bool open = false;
    bool playing = false;
    bool quit = false;
    bool inCallback = false;
    int width = 0;
    int height = 0;
    PLAYM4_DISPLAY_CALLBACK callback = nullptr;
    std::int64_t user = 0;
    std::deque<StreamPacket> queue;
    std::thread thread;
    std::thread::id threadId;
    std::uint32_t lastError = PLAYM4_NOERROR;
};

std::mutex gPortsMutex;
std::array<Port, kPorts> gPorts;
std::mutex gRenderersMutex;
std::map<int, PictureRenderer> gRenderers;  // by device number

PictureRenderer rendererOf(int device)
{
    std::lock_guard<std::mutex> lock(gRenderersMutex);
    const auto it = gRenderers.find(device);
    return it == gRenderers.end() ? PictureRenderer() : it->second;
}
std::atomic<std::uint64_t> gDisplayed{0};

Port* portAt(std::int32_t port)
{
    return port >= 0 && port < kPorts ? &gPorts[std::size_t(port)] : nullptr;
}

int fail(Port& p, std::uint32_t code)
{
    p.lastError = code;
    return 0;
}

void decodeLoop(Port* p, std::int32_t number)
{
    std::vector<unsigned char> picture;
    std::unique_lock<std::mutex> lock(p->mutex);
    for (;;) {
        p->changed.wait(lock, [&] { return p->quit || !p->queue.empty(); });
        if (p->quit) {
            return;
        }
        const StreamPacket packet = p->queue.front();
        p->queue.pop_front();
        const PLAYM4_DISPLAY_CALLBACK callback = p->callback;
        const std::int64_t user = p->user;
        p->inCallback = true;
        lock.unlock();
        const std::size_t bytes = std::size_t(packet.width) * std::size_t(packet.height) * 3 / 2;
        picture.resize(bytes);
        if (const PictureRenderer render = rendererOf(packet.device)) {
            render(packet, picture.data());
        } else {
            renderStreamPicture(packet, picture.data());
        }
        if (callback) {
            PLAYM4_DISPLAY_INFO info{number, picture.data(), std::int32_t(bytes), packet.width, packet.height,
                                     PLAYM4_PICTURE_YV12, std::int64_t(packet.sequence), user};
            callback(&info);
            gDisplayed.fetch_add(1);
        }
        lock.lock();
        p->inCallback = false;
        p->changed.notify_all();
    }
}

// Ends the port's decoder thread; the caller holds no port lock.
void stopPort(Port& p)
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.playing = false;
        p.quit = true;
        p.queue.clear();
        if (p.thread.joinable() && p.threadId == std::this_thread::get_id()) {
            // A callback that stops its own port: the thread ends when it returns.
            p.thread.detach();
            return;
        }
        thread = std::move(p.thread);
        p.changed.notify_all();
    }
    if (thread.joinable()) {
        thread.join();
    }
}

} // namespace

std::vector<unsigned char> encodeStreamHeader(int width, int height, int device, int channel)
{
    std::vector<unsigned char> bytes(kStreamHeaderBytes, 0);
    put32(&bytes[0], kHeaderMagic);
    put32(&bytes[4], 1);
    put32(&bytes[8], std::uint32_t(width));
    put32(&bytes[12], std::uint32_t(height));
    put32(&bytes[16], std::uint32_t(device));
    put32(&bytes[20], std::uint32_t(channel));
    return bytes;
}

std::vector<unsigned char> encodeStreamPacket(std::uint32_t sequence, int width, int height, int device, int channel)
{
    std::vector<unsigned char> bytes(kStreamPacketBytes, 0);
    put32(&bytes[0], kPacketMagic);
    put32(&bytes[4], sequence);
    put32(&bytes[8], std::uint32_t(width));
    put32(&bytes[12], std::uint32_t(height));
    put32(&bytes[16], std::uint32_t(device));
    put32(&bytes[20], std::uint32_t(channel));
    return bytes;
}

bool decodeStreamPacket(const unsigned char* data, std::size_t bytes, StreamPacket* out)
{
    if (!data || !out) {
        return false;
    }
    StreamPacket packet;
    if (bytes == kStreamHeaderBytes && get32(data) == kHeaderMagic && get32(data + 4) == 1) {
        packet.header = true;
    } else if (bytes == kStreamPacketBytes && get32(data) == kPacketMagic) {
        packet.sequence = get32(data + 4);
    } else {
        return false;
    }
    packet.width = int(get32(data + 8));
    packet.height = int(get32(data + 12));
    packet.device = int(get32(data + 16));
    packet.channel = int(get32(data + 20));
    if (packet.width < 12 || packet.height < 2 || packet.width > 8192 || packet.height > 8192 || packet.width % 2 ||
        packet.height % 2) {
        return false;
    }
    *out = packet;
    return true;
}

int pictureNibble(int device, int channel, std::uint32_t sequence, int row)
{
    return int((sequence * 7u + std::uint32_t(device) * 3u + std::uint32_t(channel) * 5u + std::uint32_t(row)) & 0xFu);
}

void renderStreamPicture(const StreamPacket& packet, unsigned char* yv12)
{
    const int w = packet.width;
    const int h = packet.height;
    for (int r = 0; r < h; ++r) {
        std::memset(yv12 + std::size_t(r) * std::size_t(w),
                    level(pictureNibble(packet.device, packet.channel, packet.sequence, r)), std::size_t(w));
    }
    int stamp[12];
    stamp[0] = packet.device >> 4;
    stamp[1] = packet.device;
    stamp[2] = packet.channel >> 4;
    stamp[3] = packet.channel;
    for (int i = 0; i < 8; ++i) {
        stamp[4 + i] = int(packet.sequence >> (28 - 4 * i));
    }
    for (int i = 0; i < 12; ++i) {
        yv12[i] = level(stamp[i]);
    }
    std::memset(yv12 + std::size_t(w) * std::size_t(h), 128, std::size_t(w) * std::size_t(h) / 2);
}

PictureCheck checkStreamPicture(const unsigned char* frame, int width, int height, int bytesPerPixel, int rowStep)
{
    PictureCheck check;
    if (!frame || width < 12 || height < 2 || (bytesPerPixel != 1 && bytesPerPixel != 4)) {
        check.problem = "no picture";
        return check;
    }
    auto nibbleAt = [&](int r, int c, bool* grey) {
        const unsigned char* p = frame + (std::size_t(r) * std::size_t(width) + std::size_t(c)) * bytesPerPixel;
        if (bytesPerPixel == 4) {
            *grey = p[0] == p[1] && p[1] == p[2] && p[3] == 0;
        } else {
            *grey = true;
        }
        return int(p[0]) / 16;
    };
    bool grey = true;
    int stamp[12];
    for (int i = 0; i < 12; ++i) {
        stamp[i] = nibbleAt(0, i, &grey);
        if (!grey) {
            check.problem = "stamp is not grey";
            return check;
        }
    }
    check.device = stamp[0] * 16 + stamp[1];
    check.channel = stamp[2] * 16 + stamp[3];
    for (int i = 0; i < 8; ++i) {
        check.sequence = check.sequence << 4 | std::uint32_t(stamp[4 + i]);
    }
    const int step = std::max(1, rowStep);
    for (int r = 0; r < height; r = (r + step < height || r == height - 1) ? r + step : height - 1) {
        const int want = pictureNibble(check.device, check.channel, check.sequence, r);
        const int columns[3] = {r == 0 ? 12 : 0, width / 2, width - 1};
        for (int c : columns) {
            if (nibbleAt(r, c, &grey) != want || !grey) {
                check.problem = "row " + std::to_string(r) + " column " + std::to_string(c) + " belongs to another picture";
                return check;
            }
        }
        if (r == height - 1) {
            break;
        }
    }
    check.whole = true;
    return check;
}

simdev::Simulator& playctrlSimulator()
{
    static simdev::Simulator simulator(simdev::SimulatorOptions{"PlayCtrl", 0, nullptr});
    return simulator;
}

int playctrlPortsInUse()
{
    std::lock_guard<std::mutex> lock(gPortsMutex);
    int used = 0;
    for (Port& p : gPorts) {
        std::lock_guard<std::mutex> portLock(p.mutex);
        used += p.taken ? 1 : 0;
    }
    return used;
}

std::uint64_t playctrlPicturesDisplayed()
{
    return gDisplayed.load();
}

void playctrlSetRenderer(int device, PictureRenderer renderer)
{
    std::lock_guard<std::mutex> lock(gRenderersMutex);
    if (renderer) {
        gRenderers[device] = std::move(renderer);
    } else {
        gRenderers.erase(device);
    }
}

void playctrlReset()
{
    {
        std::lock_guard<std::mutex> lock(gRenderersMutex);
        gRenderers.clear();
    }
    for (int i = 0; i < kPorts; ++i) {
        PlayM4_FreePort(i);
    }
    playctrlSimulator().reset();
    gDisplayed = 0;
}

extern "C" {

int PlayM4_GetPort(std::int32_t* port)
{
    if (playctrlSimulator().call("PlayM4_GetPort", "")) {
        return 0;
    }
    if (!port) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(gPortsMutex);
    for (int i = 0; i < kPorts; ++i) {
        Port& p = gPorts[std::size_t(i)];
        std::lock_guard<std::mutex> portLock(p.mutex);
        if (!p.taken) {
            p.taken = true;
            p.open = false;
            p.playing = false;
            p.quit = false;
            p.callback = nullptr;
            p.queue.clear();
            p.lastError = PLAYM4_NOERROR;
            *port = i;
            return 1;
        }
    }
    return 0;
}

int PlayM4_FreePort(std::int32_t port)
{
    playctrlSimulator().call("PlayM4_FreePort", simdev::arguments(port));
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    stopPort(*p);
    std::lock_guard<std::mutex> lock(gPortsMutex);
    std::lock_guard<std::mutex> portLock(p->mutex);
    const bool was = p->taken;
    p->taken = false;
    p->open = false;
    p->callback = nullptr;
    return was ? 1 : 0;
}

int PlayM4_SetStreamOpenMode(std::int32_t port, std::uint32_t mode)
{
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(p->mutex);
    if (const auto fault = playctrlSimulator().call("PlayM4_SetStreamOpenMode", simdev::arguments(port, mode))) {
        return fail(*p, std::uint32_t(*fault));
    }
    if (!p->taken || p->open || mode > PLAYM4_STREAM_FILE) {
        return fail(*p, PLAYM4_ORDER_ERROR);
    }
    return 1;
}

int PlayM4_OpenStream(std::int32_t port, const unsigned char* header, std::uint32_t headerBytes,
                      std::uint32_t bufferBytes)
{
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(p->mutex);
    if (const auto fault =
            playctrlSimulator().call("PlayM4_OpenStream", simdev::arguments(port, headerBytes, bufferBytes))) {
        return fail(*p, std::uint32_t(*fault));
    }
    StreamPacket packet;
    if (!p->taken || p->open) {
        return fail(*p, PLAYM4_ORDER_ERROR);
    }
    if (!decodeStreamPacket(header, headerBytes, &packet) || !packet.header) {
        return fail(*p, PLAYM4_OPEN_FILE_ERROR);
    }
    if (bufferBytes < kStreamPacketBytes) {
        return fail(*p, PLAYM4_PARA_OVER);
    }
    p->open = true;
    p->width = packet.width;
    p->height = packet.height;
    return 1;
}

int PlayM4_CloseStream(std::int32_t port)
{
    playctrlSimulator().call("PlayM4_CloseStream", simdev::arguments(port));
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    stopPort(*p);
    std::lock_guard<std::mutex> lock(p->mutex);
    const bool was = p->open;
    p->open = false;
    return was ? 1 : fail(*p, PLAYM4_ORDER_ERROR);
}

int PlayM4_SetDisplayCallBackEx(std::int32_t port, PLAYM4_DISPLAY_CALLBACK callback, std::int64_t user)
{
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(p->mutex);
    playctrlSimulator().call("PlayM4_SetDisplayCallBackEx", simdev::arguments(port, user));
    if (!p->taken || p->playing) {
        return fail(*p, PLAYM4_ORDER_ERROR);
    }
    p->callback = callback;
    p->user = user;
    return 1;
}

int PlayM4_SetDisplayBuf(std::int32_t port, std::uint32_t frames)
{
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(p->mutex);
    if (const auto fault = playctrlSimulator().call("PlayM4_SetDisplayBuf", simdev::arguments(port, frames))) {
        return fail(*p, std::uint32_t(*fault));
    }
    return p->taken && frames >= 1 ? 1 : fail(*p, PLAYM4_PARA_OVER);
}

int PlayM4_Play(std::int32_t port, PLAYM4_HWND window)
{
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(p->mutex);
    if (const auto fault = playctrlSimulator().call("PlayM4_Play", simdev::arguments(port, window != nullptr))) {
        return fail(*p, std::uint32_t(*fault));
    }
    if (!p->open || p->playing) {
        return fail(*p, PLAYM4_ORDER_ERROR);
    }
    if (p->thread.joinable()) {
        // A port that was stopped from its own callback and played again.
        return fail(*p, PLAYM4_ORDER_ERROR);
    }
    p->playing = true;
    p->quit = false;
    p->thread = std::thread(decodeLoop, p, port);
    p->threadId = p->thread.get_id();
    return 1;
}

int PlayM4_Stop(std::int32_t port)
{
    playctrlSimulator().call("PlayM4_Stop", simdev::arguments(port));
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    stopPort(*p);
    return 1;
}

int PlayM4_InputData(std::int32_t port, const unsigned char* data, std::uint32_t bytes)
{
    Port* p = portAt(port);
    if (!p) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(p->mutex);
    if (const auto fault = playctrlSimulator().call("PlayM4_InputData", simdev::arguments(port, bytes))) {
        return fail(*p, std::uint32_t(*fault));
    }
    StreamPacket packet;
    if (!p->playing) {
        return fail(*p, PLAYM4_ORDER_ERROR);
    }
    if (!decodeStreamPacket(data, bytes, &packet) || packet.header) {
        return fail(*p, PLAYM4_PARA_OVER);
    }
    if (int(p->queue.size()) >= kDecoderQueuePictures) {
        return fail(*p, PLAYM4_BUF_OVER);
    }
    p->queue.push_back(packet);
    p->changed.notify_all();
    return 1;
}

std::uint32_t PlayM4_GetLastError(std::int32_t port)
{
    Port* p = portAt(port);
    if (!p) {
        return PLAYM4_PARA_OVER;
    }
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->lastError;
}

} // extern "C"
