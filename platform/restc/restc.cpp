#include "restc.h"

#include <QByteArray>
#include <QtGlobal>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

struct restc_connection {
    sockaddr_in address;
    std::string host;
    uint16_t port = 0;
    int timeoutMs = RESTC_DEFAULT_TIMEOUT_MS;
};

namespace {

using Clock = std::chrono::steady_clock;

std::mutex credentialsMutex;
// The whole header line, empty when no credentials are set.
std::string authorizationLine;

// Milliseconds left until deadline, rounded up so that a wait never ends early
// by a fraction; 0 once it has passed.
int remainingMs(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

class Socket {
public:
    Socket() = default;
    ~Socket()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd = -1;
};

// One request and why it failed, for the log line.
struct Exchange {
    const restc_connection* connection;
    const char* method;
    const char* path;
    Clock::time_point deadline;
    std::string failure;

    int fail(const std::string& why)
    {
        failure = why;
        return 0;
    }
};

// Waits until fd is ready for events or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, remainingMs(deadline));
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool connectSocket(Exchange& x, Socket& socket)
{
    socket.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket.fd < 0) {
        x.fail(std::string("no socket: ") + std::strerror(errno));
        return false;
    }
    const sockaddr_in& a = x.connection->address;
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        x.fail(std::string("cannot connect: ") + std::strerror(errno));
        return false;
    }
    if (!waitFor(socket.fd, POLLOUT, x.deadline)) {
        x.fail("no connection within the time-out");
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        x.fail(std::string("cannot connect: ") + std::strerror(error ? error : errno));
        return false;
    }
    return true;
}

bool sendAll(Exchange& x, int fd, const std::string& data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLOUT, x.deadline)) {
                x.fail("request not sent within the time-out");
                return false;
            }
            continue;
        }
        x.fail(std::string("cannot send: ") + std::strerror(errno));
        return false;
    }
    return true;
}

// Reads at most size bytes: the count, 0 at the end of the stream, -1 on an
// error or when the deadline passed (x.failure says which).
ssize_t receiveSome(Exchange& x, int fd, char* into, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::recv(fd, into, size, 0);
        if (n >= 0) {
            return n;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(fd, POLLIN, x.deadline)) {
                x.fail("no reply within the time-out");
                return -1;
            }
            continue;
        }
        x.fail(std::string("cannot receive: ") + std::strerror(errno));
        return -1;
    }
}

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    const std::size_t n = std::strlen(b);
    if (a.size() != n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
        if (c != b[i]) {
            return false;
        }
    }
    return true;
}

std::string trimmed(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// What the header block says about the reply.
struct ReplyHead {
    int status = 0;
    bool hasLength = false;
    unsigned long long length = 0;
};

bool parseHead(Exchange& x, const std::string& head, ReplyHead& reply)
{
    auto bad = [&x](const std::string& why) {
        x.fail(why);
        return false;
    };
    const std::size_t lineEnd = head.find("\r\n");
    const std::string statusLine = head.substr(0, lineEnd);
    // "HTTP/1.x NNN reason"
    if (statusLine.size() < 12 || statusLine.compare(0, 7, "HTTP/1.") != 0 || statusLine[8] != ' '
        || (statusLine.size() > 12 && statusLine[12] != ' ')) {
        return bad("malformed status line");
    }
    int status = 0;
    for (int i = 9; i < 12; ++i) {
        const char c = statusLine[std::size_t(i)];
        if (c < '0' || c > '9') {
            return bad("malformed status line");
        }
        status = status * 10 + (c - '0');
    }
    if (status < 200 || status > 599) {
        // No interim reply is expected: nothing asks for one.
        return bad("unexpected status " + std::to_string(status));
    }
    reply.status = status;

    std::size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (at < head.size()) {
        std::size_t end = head.find("\r\n", at);
        if (end == std::string::npos) {
            end = head.size();
        }
        const std::string line = head.substr(at, end - at);
        at = end + 2;
        if (line.empty()) {
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) {
            return bad("malformed header line");
        }
        const std::string name = line.substr(0, colon);
        const std::string value = trimmed(line.substr(colon + 1));
        if (equalsIgnoringCase(name, "transfer-encoding")) {
            // The body could not be framed by its length.
            return bad("transfer encoding \"" + value + "\" is not supported");
        }
        if (equalsIgnoringCase(name, "content-length")) {
            if (value.empty() || value.size() > 18) {
                return bad("malformed Content-Length");
            }
            unsigned long long length = 0;
            for (const char c : value) {
                if (c < '0' || c > '9') {
                    return bad("malformed Content-Length");
                }
                length = length * 10 + unsigned(c - '0');
            }
            if (reply.hasLength && reply.length != length) {
                return bad("conflicting Content-Length");
            }
            reply.hasLength = true;
            reply.length = length;
        }
    }
    return true;
}

bool validPath(const char* path)
{
    if (!path || path[0] != '/') {
        return false;
    }
    std::size_t n = 0;
    for (const char* c = path; *c; ++c, ++n) {
        // Printable, no space: the path goes into the request line as is.
        if (*c <= 0x20 || *c >= 0x7f || n >= 2048) {
            return false;
        }
    }
    return true;
}

int exchange(Exchange& x, const char* buffer, std::size_t bodyBytes, bool withBody, char* replyBuffer,
             std::size_t capacity, std::size_t& replyBytes)
{
    const restc_connection* c = x.connection;
    std::string request;
    request.reserve(256 + bodyBytes);
    request += x.method;
    request += ' ';
    request += x.path;
    request += " HTTP/1.1\r\nHost: ";
    request += c->host;
    request += ':';
    request += std::to_string(c->port);
    request += "\r\n";
    {
        std::lock_guard<std::mutex> lock(credentialsMutex);
        request += authorizationLine;
    }
    request += "Accept: application/json\r\nConnection: close\r\n";
    if (withBody) {
        request += "Content-Type: application/json\r\nContent-Length: ";
        request += std::to_string(bodyBytes);
        request += "\r\n";
    }
    request += "\r\n";
    if (bodyBytes > 0) {
        request.append(buffer, bodyBytes);
    }

    Socket socket;
    if (!connectSocket(x, socket) || !sendAll(x, socket.fd, request)) {
        return 0;
    }

    std::string head;
    std::size_t headEnd = std::string::npos;
    char chunk[2048];
    while (headEnd == std::string::npos) {
        const ssize_t n = receiveSome(x, socket.fd, chunk, sizeof chunk);
        if (n < 0) {
            return 0;
        }
        if (n == 0) {
            return x.fail(head.empty() ? "connection closed without a reply" : "reply ends inside its header");
        }
        const std::size_t searchFrom = head.size() >= 3 ? head.size() - 3 : 0;
        head.append(chunk, std::size_t(n));
        headEnd = head.find("\r\n\r\n", searchFrom);
        if (headEnd == std::string::npos && head.size() > RESTC_MAX_HEADER_BYTES) {
            return x.fail("reply header too long");
        }
    }
    if (headEnd + 4 > RESTC_MAX_HEADER_BYTES) {
        return x.fail("reply header too long");
    }
    const std::string leftover = head.substr(headEnd + 4);
    head.resize(headEnd);

    ReplyHead reply;
    if (!parseHead(x, head, reply)) {
        return 0;
    }

    if (reply.status == 204 || reply.status == 304) {
        replyBytes = 0;
        return reply.status;
    }

    if (reply.hasLength) {
        if (reply.length > capacity) {
            return x.fail("reply body of " + std::to_string(reply.length) + " bytes does not fit into "
                          + std::to_string(capacity));
        }
        const std::size_t total = std::size_t(reply.length);
        std::size_t got = std::min(leftover.size(), total);
        if (got > 0) {
            std::memcpy(replyBuffer, leftover.data(), got);
        }
        while (got < total) {
            const ssize_t n = receiveSome(x, socket.fd, replyBuffer + got, total - got);
            if (n < 0) {
                return 0;
            }
            if (n == 0) {
                return x.fail("reply body cut short after " + std::to_string(got) + " of "
                              + std::to_string(total) + " bytes");
            }
            got += std::size_t(n);
        }
        replyBytes = total;
        return reply.status;
    }

    // No length: the body runs to the end of the connection, which this
    // client asked the server to close.
    if (leftover.size() > capacity) {
        return x.fail("reply body does not fit into " + std::to_string(capacity) + " bytes");
    }
    std::size_t got = leftover.size();
    if (got > 0) {
        std::memcpy(replyBuffer, leftover.data(), got);
    }
    for (;;) {
        if (got == capacity) {
            char probe;
            const ssize_t n = receiveSome(x, socket.fd, &probe, 1);
            if (n < 0) {
                return 0;
            }
            if (n > 0) {
                return x.fail("reply body does not fit into " + std::to_string(capacity) + " bytes");
            }
            break;
        }
        const ssize_t n = receiveSome(x, socket.fd, replyBuffer + got, capacity - got);
        if (n < 0) {
            return 0;
        }
        if (n == 0) {
            break;
        }
        got += std::size_t(n);
    }
    replyBytes = got;
    return reply.status;
}

int request(restc_connection* connection, const char* method, bool withBody, const char* path,
            const void* reserved, char* buffer, size_t capacity, size_t* length)
{
    if (!length) {
        qWarning("restc: %s without a length", method);
        return 0;
    }
    const std::size_t bodyBytes = withBody ? *length : 0;
    *length = 0;
    if (!connection) {
        qWarning("restc: %s %s without a connection", method, path ? path : "(null)");
        return 0;
    }
    Exchange x{connection, method, path ? path : "(null)",
               Clock::now() + std::chrono::milliseconds(connection->timeoutMs), {}};
    std::size_t replyBytes = 0;
    int status = 0;
    if (reserved) {
        x.fail("the reserved argument must be null");
    } else if (!validPath(path)) {
        x.fail("the path is not a plain absolute path");
    } else if (capacity > 0 && !buffer) {
        x.fail("no buffer");
    } else if (bodyBytes > capacity) {
        x.fail("the body of " + std::to_string(bodyBytes) + " bytes exceeds the buffer of "
               + std::to_string(capacity));
    } else {
        status = exchange(x, buffer, bodyBytes, withBody, buffer, capacity, replyBytes);
    }
    if (status == 0) {
        qWarning("restc: %s %s on %s:%u failed: %s", method, x.path, connection->host.c_str(),
                 unsigned(connection->port), x.failure.c_str());
        return 0;
    }
    *length = replyBytes;
    return status;
}

} // namespace

extern "C" {

restc_connection* restc_create_connection(const char* host, uint16_t port)
{
    if (!host) {
        qWarning("restc: no address");
        return nullptr;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Numeric only: a name would need a lookup that can hang far beyond any
    // time-out.
    if (::inet_pton(AF_INET, host, &address.sin_addr) != 1) {
        qWarning("restc: \"%s\" is not a numeric IPv4 address", host);
        return nullptr;
    }
    if (port == 0) {
        qWarning("restc: %s: port 0", host);
        return nullptr;
    }
#ifdef RESTC_LOOPBACK_ONLY
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127) {
        qWarning("restc: %s is outside 127.0.0.0/8 and refused in this build", host);
        return nullptr;
    }
#endif
    auto* connection = new restc_connection;
    connection->address = address;
    connection->host = host;
    connection->port = port;
    return connection;
}

void restc_destroy_connection(restc_connection* connection)
{
    delete connection;
}

void restc_set_timeout(restc_connection* connection, int milliseconds)
{
    if (connection) {
        connection->timeoutMs = milliseconds > 0 ? milliseconds : RESTC_DEFAULT_TIMEOUT_MS;
    }
}

void restc_set_authroization(const char* user, const char* password)
{
    std::string line;
    if (user && *user) {
        QByteArray pair(user);
        pair += ':';
        pair += password ? password : "";
        line = "Authorization: Basic " + pair.toBase64().toStdString() + "\r\n";
    }
    std::lock_guard<std::mutex> lock(credentialsMutex);
    authorizationLine = line;
}

int restc_get(restc_connection* connection, const char* path, const void* reserved, char* buffer,
              size_t capacity, size_t* length)
{
    return request(connection, "GET", false, path, reserved, buffer, capacity, length);
}

int restc_post(restc_connection* connection, const char* path, const void* reserved, char* buffer,
               size_t capacity, size_t* length)
{
    return request(connection, "POST", true, path, reserved, buffer, capacity, length);
}

int restc_put(restc_connection* connection, const char* path, const void* reserved, char* buffer,
              size_t capacity, size_t* length)
{
    return request(connection, "PUT", true, path, reserved, buffer, capacity, length);
}

} // extern "C"
