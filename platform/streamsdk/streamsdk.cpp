#include "streamsdk.h"

#include <QtEndian>
#include <QtGlobal>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

struct streamsdk_stream {
    sockaddr_in address{};
    std::string host;
    uint16_t port = 0;

    // Serialises start, stop and destroy; never held by the receiving thread.
    std::mutex control;
    std::thread thread;
    bool running = false;
    // Who the receiving thread is, so that its own callback cannot join it.
    std::atomic<std::thread::id> receiverId{};
    std::atomic<bool> stopping{false};
    // Written to by stop: wakes every wait of the receiving thread at once.
    int wake[2] = {-1, -1};

    // Fixed while the thread runs.
    std::string path;
    std::size_t packetSize = STREAMSDK_DEFAULT_PACKET_SIZE;
    streamsdk_frame_callback callback = nullptr;
    void* context = nullptr;
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrameHeaderBytes = 16;
constexpr std::size_t kMaxReplyHeaderBytes = 8192;

enum class Wait { Ready, Stopped, TimedOut, Failed };

int remainingMs(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Waits for fd (or only for the wake pipe when fd is -1) until the deadline.
Wait waitFor(streamsdk_stream* s, int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        if (s->stopping.load()) {
            return Wait::Stopped;
        }
        pollfd entries[2] = {{s->wake[0], POLLIN, 0}, {fd, events, 0}};
        const int ready = ::poll(entries, fd >= 0 ? 2 : 1, remainingMs(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Wait::Failed;
        }
        if (entries[0].revents != 0 || s->stopping.load()) {
            return Wait::Stopped;
        }
        if (ready == 0) {
            return Wait::TimedOut;
        }
        return Wait::Ready;
    }
}

class Socket {
public:
    ~Socket()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int fd = -1;
};

// Why a connection ended, for the log.
struct Outcome {
    bool stopped = false;
    std::string why;
};

// Reads exact byte counts from the connection, at most one packet per read,
// keeping what the header read took beyond the header.
class Reader {
public:
    Reader(streamsdk_stream* stream, int fd) : s(stream), fd(fd) {}

    void keep(const char* bytes, std::size_t count) { pending.assign(bytes, bytes + count); }

    bool readExact(unsigned char* into, std::size_t count, Outcome& outcome)
    {
        std::size_t got = 0;
        if (offset < pending.size()) {
            const std::size_t take = std::min(count, pending.size() - offset);
            std::memcpy(into, pending.data() + offset, take);
            offset += take;
            got = take;
        }
        while (got < count) {
            // A camera that always has data ready never makes us wait, so
            // the stop request is looked at on every read as well.
            if (s->stopping.load(std::memory_order_relaxed)) {
                outcome.stopped = true;
                return false;
            }
            const std::size_t ask = std::min(count - got, s->packetSize);
            const ssize_t n = ::recv(fd, into + got, ask, 0);
            if (n > 0) {
                got += std::size_t(n);
                continue;
            }
            if (n == 0) {
                outcome.why = got == 0 && count == kFrameHeaderBytes ? "the camera closed the connection"
                                                                      : "the connection ended inside a frame";
                return false;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                outcome.why = std::string("cannot receive: ") + std::strerror(errno);
                return false;
            }
            const Wait w =
                waitFor(s, fd, POLLIN, Clock::now() + std::chrono::milliseconds(STREAMSDK_IDLE_TIMEOUT_MS));
            if (w == Wait::Stopped) {
                outcome.stopped = true;
                return false;
            }
            if (w != Wait::Ready) {
                outcome.why = "no data for " + std::to_string(STREAMSDK_IDLE_TIMEOUT_MS) + " ms";
                return false;
            }
        }
        return true;
    }

private:
    streamsdk_stream* s;
    int fd;
    std::vector<char> pending;
    std::size_t offset = 0;
};

bool connectStream(streamsdk_stream* s, Socket& socket, Outcome& outcome)
{
    socket.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket.fd < 0) {
        outcome.why = std::string("no socket: ") + std::strerror(errno);
        return false;
    }
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&s->address), sizeof s->address) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        outcome.why = std::string("cannot connect: ") + std::strerror(errno);
        return false;
    }
    const Wait w = waitFor(s, socket.fd, POLLOUT,
                           Clock::now() + std::chrono::milliseconds(STREAMSDK_CONNECT_TIMEOUT_MS));
    if (w == Wait::Stopped) {
        outcome.stopped = true;
        return false;
    }
    if (w != Wait::Ready) {
        outcome.why = "no connection within the time-out";
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        outcome.why = std::string("cannot connect: ") + std::strerror(error ? error : errno);
        return false;
    }
    return true;
}

bool sendRequest(streamsdk_stream* s, int fd, Outcome& outcome)
{
    const std::string request = "GET " + s->path + " HTTP/1.1\r\nHost: " + s->host + ":"
                                + std::to_string(s->port) + "\r\n\r\n";
    std::size_t sent = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(STREAMSDK_CONNECT_TIMEOUT_MS);
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const Wait w = waitFor(s, fd, POLLOUT, deadline);
            if (w == Wait::Stopped) {
                outcome.stopped = true;
                return false;
            }
            if (w != Wait::Ready) {
                outcome.why = "request not sent within the time-out";
                return false;
            }
            continue;
        }
        outcome.why = std::string("cannot send: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Reads the reply's header block; true for status 200. What follows the
// header goes to the reader.
bool readReplyHeader(streamsdk_stream* s, int fd, Reader& reader, Outcome& outcome)
{
    std::string head;
    std::size_t end = std::string::npos;
    std::vector<char> chunk(std::min<std::size_t>(s->packetSize, 4096));
    while (end == std::string::npos) {
        const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (n > 0) {
            const std::size_t from = head.size() >= 3 ? head.size() - 3 : 0;
            head.append(chunk.data(), std::size_t(n));
            end = head.find("\r\n\r\n", from);
            if (end == std::string::npos && head.size() > kMaxReplyHeaderBytes) {
                outcome.why = "reply header too long";
                return false;
            }
            continue;
        }
        if (n == 0) {
            outcome.why = "the camera closed the connection before its reply";
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            outcome.why = std::string("cannot receive: ") + std::strerror(errno);
            return false;
        }
        const Wait w = waitFor(s, fd, POLLIN, Clock::now() + std::chrono::milliseconds(STREAMSDK_IDLE_TIMEOUT_MS));
        if (w == Wait::Stopped) {
            outcome.stopped = true;
            return false;
        }
        if (w != Wait::Ready) {
            outcome.why = "no reply to the stream request";
            return false;
        }
    }
    if (end + 4 > kMaxReplyHeaderBytes) {
        outcome.why = "reply header too long";
        return false;
    }
    // "HTTP/1.x 200"
    if (head.size() < 12 || head.compare(0, 7, "HTTP/1.") != 0 || head.compare(8, 4, " 200") != 0
        || (head.size() > 12 && head[12] != ' ' && head[12] != '\r')) {
        outcome.why = "the camera refused the stream: " + head.substr(0, std::min<std::size_t>(head.find("\r\n"), 80));
        return false;
    }
    reader.keep(head.data() + end + 4, head.size() - end - 4);
    return true;
}

// One connection: connect, ask, receive frames until it ends or stop is asked.
// connected tells whether frames could flow (for the log and the callback).
Outcome receiveOnce(streamsdk_stream* s, std::vector<uint16_t>& values, bool& connected)
{
    Outcome outcome;
    connected = false;
    Socket socket;
    if (!connectStream(s, socket, outcome) || !sendRequest(s, socket.fd, outcome)) {
        return outcome;
    }
    Reader reader(s, socket.fd);
    if (!readReplyHeader(s, socket.fd, reader, outcome)) {
        return outcome;
    }
    connected = true;
    qInfo("streamsdk: receiving %s from %s:%u", s->path.c_str(), s->host.c_str(), unsigned(s->port));
    s->callback(STREAMSDK_CONNECTED, nullptr, s->context);

    unsigned char header[kFrameHeaderBytes];
    for (;;) {
        if (!reader.readExact(header, sizeof header, outcome)) {
            return outcome;
        }
        const quint32 width = qFromLittleEndian<quint32>(header);
        const quint32 height = qFromLittleEndian<quint32>(header + 4);
        const quint32 sequence = qFromLittleEndian<quint32>(header + 8);
        const quint32 length = qFromLittleEndian<quint32>(header + 12);
        // Checked before anything else is read: a bad header would have us
        // allocate or read whatever the line happens to hold.
        if (width < 1 || width > STREAMSDK_MAX_SIDE || height < 1 || height > STREAMSDK_MAX_SIDE
            || quint64(length) != quint64(width) * height * 2) {
            outcome.why = "bad frame header (width " + std::to_string(width) + ", height " + std::to_string(height)
                          + ", length " + std::to_string(length) + ")";
            return outcome;
        }
        const std::size_t count = std::size_t(width) * height;
        if (values.size() != count) {
            values.resize(count);
        }
        if (!reader.readExact(reinterpret_cast<unsigned char*>(values.data()), length, outcome)) {
            return outcome;
        }
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
        for (uint16_t& v : values) {
            v = qFromLittleEndian(v);
        }
#endif
        const streamsdk_frame frame{values.data(), int(width), int(height), sequence};
        s->callback(STREAMSDK_FRAME, &frame, s->context);
    }
}

void receiveLoop(streamsdk_stream* s)
{
    s->receiverId.store(std::this_thread::get_id());
    std::vector<uint16_t> values;
    // One log line per outage, not one per attempt.
    bool failureLogged = false;
    while (!s->stopping.load()) {
        bool connected = false;
        const Outcome outcome = receiveOnce(s, values, connected);
        if (connected) {
            s->callback(STREAMSDK_DISCONNECTED, nullptr, s->context);
            failureLogged = false;
        }
        if (outcome.stopped || s->stopping.load()) {
            break;
        }
        if (!failureLogged) {
            qWarning("streamsdk: %s from %s:%u: %s; reconnecting", s->path.c_str(), s->host.c_str(),
                     unsigned(s->port), outcome.why.c_str());
            failureLogged = true;
        }
        if (waitFor(s, -1, 0, Clock::now() + std::chrono::milliseconds(STREAMSDK_RETRY_INTERVAL_MS))
            == Wait::Stopped) {
            break;
        }
    }
}

bool validPath(const char* path)
{
    if (!path || path[0] != '/') {
        return false;
    }
    std::size_t n = 0;
    for (const char* c = path; *c; ++c, ++n) {
        if (*c <= 0x20 || *c >= 0x7f || n >= 2048) {
            return false;
        }
    }
    return true;
}

// Stops and joins the thread; the caller holds s->control.
void stopLocked(streamsdk_stream* s)
{
    if (!s->running) {
        return;
    }
    s->stopping.store(true);
    const char byte = 1;
    while (::write(s->wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
    s->thread.join();
    s->receiverId.store(std::thread::id());
    char drain[64];
    while (::read(s->wake[0], drain, sizeof drain) > 0) {
    }
    s->stopping.store(false);
    s->running = false;
}

bool calledFromOwnCallback(streamsdk_stream* s)
{
    return s->receiverId.load() == std::this_thread::get_id();
}

} // namespace

extern "C" {

int streamsdk_create_stream(const char* host, uint16_t port, streamsdk_stream** handle)
{
    if (!handle) {
        return STREAMSDK_EINVAL;
    }
    *handle = nullptr;
    if (!host || port == 0) {
        qWarning("streamsdk: no address or port");
        return STREAMSDK_EINVAL;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host, &address.sin_addr) != 1) {
        qWarning("streamsdk: \"%s\" is not a numeric IPv4 address", host);
        return STREAMSDK_EINVAL;
    }
#ifdef STREAMSDK_LOOPBACK_ONLY
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127) {
        qWarning("streamsdk: %s is outside 127.0.0.0/8 and refused in this build", host);
        return STREAMSDK_EREFUSED;
    }
#endif
    auto* s = new streamsdk_stream;
    if (::pipe2(s->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("streamsdk: no wake pipe: %s", std::strerror(errno));
        delete s;
        return STREAMSDK_EINVAL;
    }
    s->address = address;
    s->host = host;
    s->port = port;
    *handle = s;
    return STREAMSDK_OK;
}

int streamsdk_start_stream(streamsdk_stream* handle, const char* path, int max_packet_size,
                           streamsdk_frame_callback callback, void* context)
{
    if (!handle || !callback || !validPath(path)) {
        return STREAMSDK_EINVAL;
    }
    std::lock_guard<std::mutex> lock(handle->control);
    if (handle->running) {
        return STREAMSDK_ESTATE;
    }
    handle->path = path;
    handle->packetSize = max_packet_size <= 0 ? std::size_t(STREAMSDK_DEFAULT_PACKET_SIZE)
                                              : std::size_t(std::min(max_packet_size, STREAMSDK_MAX_PACKET_SIZE));
    handle->callback = callback;
    handle->context = context;
    handle->stopping.store(false);
    handle->thread = std::thread(receiveLoop, handle);
    handle->running = true;
    return STREAMSDK_OK;
}

int streamsdk_stop_stream(streamsdk_stream* handle)
{
    if (!handle) {
        return STREAMSDK_EINVAL;
    }
    if (calledFromOwnCallback(handle)) {
        qWarning("streamsdk: a stream cannot be stopped from its own callback");
        return STREAMSDK_ESTATE;
    }
    std::lock_guard<std::mutex> lock(handle->control);
    stopLocked(handle);
    return STREAMSDK_OK;
}

int streamsdk_destroy_stream(streamsdk_stream* handle)
{
    if (!handle) {
        return STREAMSDK_EINVAL;
    }
    if (calledFromOwnCallback(handle)) {
        qWarning("streamsdk: a stream cannot be destroyed from its own callback");
        return STREAMSDK_ESTATE;
    }
    {
        std::lock_guard<std::mutex> lock(handle->control);
        stopLocked(handle);
    }
    ::close(handle->wake[0]);
    ::close(handle->wake[1]);
    delete handle;
    return STREAMSDK_OK;
}

} // extern "C"
