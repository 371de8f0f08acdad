#include "scriptedtcpserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ScriptedTcpServer::ScriptedTcpServer(Script script, const char* address) : script(std::move(script))
{
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    socklen_t size = sizeof a;
    if (fd < 0 || ::inet_pton(AF_INET, address, &a.sin_addr) != 1
        || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    listenFd = fd;
    m_port = ntohs(a.sin_port);
    thread = std::thread([this] { run(); });
}

ScriptedTcpServer::~ScriptedTcpServer()
{
    ending.store(true);
    if (wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake[1], &byte, 1);
    }
    if (thread.joinable()) {
        thread.join();
    }
    if (listenFd >= 0) {
        ::close(listenFd);
    }
    for (const int fd : wake) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

QList<QByteArray> ScriptedTcpServer::requests() const
{
    QMutexLocker lock(&mutex);
    return m_requests;
}

void ScriptedTcpServer::run()
{
    while (!ending.load()) {
        pollfd entries[2] = {{wake[0], POLLIN, 0}, {listenFd, POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (entries[0].revents != 0 || ending.load()) {
            return;
        }
        if (!(entries[1].revents & POLLIN)) {
            continue;
        }
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        accepted.fetch_add(1);
        Connection connection(this, fd);
        script(connection);
        ::close(fd);
    }
}

bool ScriptedTcpServer::Connection::wait(short events, int timeoutMs)
{
    pollfd entries[2] = {{server->wake[0], POLLIN, 0}, {fd, events, 0}};
    for (;;) {
        const int ready = ::poll(entries, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && entries[0].revents == 0 && entries[1].revents != 0;
    }
}

void ScriptedTcpServer::Connection::pause(int milliseconds)
{
    pollfd entry{server->wake[0], POLLIN, 0};
    ::poll(&entry, 1, milliseconds);
}

QByteArray ScriptedTcpServer::Connection::readRequest(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    QByteArray data;
    for (;;) {
        const int head = data.indexOf("\r\n\r\n");
        if (head >= 0) {
            int length = 0;
            for (const QByteArray& line : data.left(head).split('\n')) {
                const int colon = line.indexOf(':');
                if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
                    length = line.mid(colon + 1).trimmed().toInt();
                }
            }
            if (data.size() >= head + 4 + length) {
                const QByteArray request = data.left(head + 4 + length);
                QMutexLocker lock(&server->mutex);
                server->m_requests.append(request);
                return request;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !wait(POLLIN, int(left.count()))) {
            return QByteArray();
        }
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            return QByteArray();
        }
        data.append(chunk, int(n));
    }
}

bool ScriptedTcpServer::Connection::send(const QByteArray& bytes)
{
    int sent = 0;
    while (sent < bytes.size()) {
        if (!wait(POLLOUT, 2000)) {
            return false;
        }
        const ssize_t n = ::send(fd, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return false;
        }
        sent += int(n);
    }
    return true;
}

bool ScriptedTcpServer::Connection::sendInPieces(const QByteArray& bytes, int piece, int pauseMs)
{
    for (int at = 0; at < bytes.size(); at += piece) {
        if (!send(bytes.mid(at, piece))) {
            return false;
        }
        if (pauseMs > 0) {
            pause(pauseMs);
        }
        if (server->ending.load()) {
            return false;
        }
    }
    return true;
}

bool ScriptedTcpServer::Connection::waitForClose(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !wait(POLLIN, int(left.count()))) {
            return false;
        }
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            return true;
        }
    }
}
