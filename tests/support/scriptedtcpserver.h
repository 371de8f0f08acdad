#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <thread>

// A TCP server on a loopback address whose every connection is served by a
// script, on a thread of its own, one connection after the other: for peers
// that must misbehave at the byte level (replies cut or split anywhere,
// malformed frames, silence). Every wait ends when the server is destroyed.
class ScriptedTcpServer {
public:
    class Connection {
    public:
        // Reads one HTTP request: header block and a Content-Length body.
        // Empty when the peer closed or nothing complete came within timeoutMs.
        QByteArray readRequest(int timeoutMs = 2000);
        bool send(const QByteArray& bytes);
        // Sends in pieces of `piece` bytes with pauseMs between them.
        bool sendInPieces(const QByteArray& bytes, int piece, int pauseMs);
        // True when the peer closed within timeoutMs (what it sent is dropped).
        bool waitForClose(int timeoutMs);
        // Pauses that the server's end cuts short.
        void pause(int milliseconds);

    private:
        friend class ScriptedTcpServer;
        Connection(ScriptedTcpServer* server, int fd) : server(server), fd(fd) {}
        bool wait(short events, int timeoutMs);
        ScriptedTcpServer* server;
        int fd;
    };
    using Script = std::function<void(Connection&)>;

    explicit ScriptedTcpServer(Script script, const char* address = "127.0.0.1");
    ~ScriptedTcpServer();
    ScriptedTcpServer(const ScriptedTcpServer&) = delete;
    ScriptedTcpServer& operator=(const ScriptedTcpServer&) = delete;

    bool isListening() const { return listenFd >= 0; }
    quint16 port() const { return m_port; }
    // Connections accepted so far.
    int connections() const { return accepted.load(); }
    // The requests that scripts read, in order.
    QList<QByteArray> requests() const;

private:
    void run();

    Script script;
    int listenFd = -1;
    int wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<int> accepted{0};
    std::atomic<bool> ending{false};
    mutable QMutex mutex;
    QList<QByteArray> m_requests;
    std::thread thread;
};
