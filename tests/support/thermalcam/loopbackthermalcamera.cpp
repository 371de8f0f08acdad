#include "loopbackthermalcamera.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QMetaObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QEventLoop>
#include <QTimer>
#include <QSocketNotifier>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QByteArray kObjectsPrefix = "/isp/instrument/objects/";
constexpr int kMaxRequestBytes = 1 << 20;

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

QJsonObject defaultConfiguration()
{
    QJsonObject c;
    c.insert(QStringLiteral("ambient-t"), 25);
    c.insert(QStringLiteral("distance"), 2.0);
    c.insert(QStringLiteral("emissivity"), 0.95);
    c.insert(QStringLiteral("humidity"), 0.45);
    c.insert(QStringLiteral("reflect-t"), 25);
    c.insert(QStringLiteral("t-unit"), QStringLiteral("C"));
    return c;
}

// Parses one complete request off the front of buffer; false while it is
// incomplete. bad is set for a request that can never complete.
bool takeRequest(QByteArray& buffer, LoopbackThermalCamera::Request& request, bool& bad)
{
    const int headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        bad = buffer.size() > kMaxRequestBytes;
        return false;
    }
    const QByteArray head = buffer.left(headEnd);
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3) {
        bad = true;
        return false;
    }
    qint64 length = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
            bool ok = false;
            length = line.mid(colon + 1).trimmed().toLongLong(&ok);
            if (!ok || length < 0 || length > kMaxRequestBytes) {
                bad = true;
                return false;
            }
        }
    }
    if (buffer.size() < headEnd + 4 + length) {
        return false;
    }
    request.method = requestLine.at(0);
    request.path = requestLine.at(1);
    request.head = head;
    request.body = buffer.mid(headEnd + 4, int(length));
    buffer.remove(0, headEnd + 4 + int(length));
    return true;
}

} // namespace

QByteArray LoopbackThermalCamera::framePayload(quint32 sequence, int width, int height)
{
    QByteArray payload(width * height * 2, Qt::Uninitialized);
    uchar* out = reinterpret_cast<uchar*>(payload.data());
    const quint16 mark = sequenceMark(sequence);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const quint16 v = x == 0 ? 0 : x == 1 ? 255 : mark;
            qToLittleEndian<quint16>(v, out);
            out += 2;
        }
    }
    return payload;
}

class LoopbackThermalCameraWorker : public QObject {
public:
    explicit LoopbackThermalCameraWorker(LoopbackThermalCamera* owner) : owner(owner)
    {
        pumpTimer = new QTimer(this);
        connect(pumpTimer, &QTimer::timeout, this, [this] { pumpAll(); });
    }

    // On the camera's thread, once it runs: commands arrive through the pipe.
    void listenForCommands()
    {
        wake = new QSocketNotifier(owner->wakePipe[0], QSocketNotifier::Read, this);
        connect(wake, &QSocketNotifier::activated, this, [this] { owner->runCommands(); });
    }

    bool listen(const QString& address, quint16 restPort, quint16 streamPort)
    {
        rest = new QTcpServer(this);
        stream = new QTcpServer(this);
        if (!rest->listen(QHostAddress(address), restPort) || !stream->listen(QHostAddress(address), streamPort)) {
            qWarning("Loopback thermal camera %s: cannot listen: %s %s", qUtf8Printable(address),
                     qUtf8Printable(rest->errorString()), qUtf8Printable(stream->errorString()));
            close();
            return false;
        }
        connect(rest, &QTcpServer::newConnection, this, [this] { acceptRest(); });
        connect(stream, &QTcpServer::newConnection, this, [this] { acceptStream(); });
        configurePump();
        return true;
    }

    void close()
    {
        delete rest;
        delete stream;
        rest = nullptr;
        stream = nullptr;
        restBuffers.clear();
        streamClients.clear();
        // Every connection goes, answered or not: a camera that stops leaves
        // nothing open behind it.
        const QList<QTcpSocket*> sockets = findChildren<QTcpSocket*>();
        for (QTcpSocket* socket : sockets) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
        pumpTimer->stop();
    }

    quint16 restPort() const { return rest ? rest->serverPort() : 0; }
    quint16 streamPort() const { return stream ? stream->serverPort() : 0; }

    void configurePump()
    {
        int interval;
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            interval = owner->state.frameInterval;
        }
        if (interval > 0) {
            pumpTimer->start(interval);
        } else {
            pumpTimer->stop();
            pumpAll();
        }
    }

    void pumpAll()
    {
        const QList<QTcpSocket*> clients = streamClients.keys();
        for (QTcpSocket* socket : clients) {
            pump(socket, pumpTimer->isActive());
        }
    }

private:
    struct StreamClient {
        QByteArray buffer;
        bool streaming = false;
    };

    void acceptRest()
    {
        while (QTcpSocket* socket = rest->nextPendingConnection()) {
            socket->setParent(this);
            restBuffers.insert(socket, QByteArray());
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRest(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                restBuffers.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void readRest(QTcpSocket* socket)
    {
        auto it = restBuffers.find(socket);
        if (it == restBuffers.end()) {
            return;
        }
        it->append(socket->readAll());
        LoopbackThermalCamera::Request request;
        bool bad = false;
        if (!takeRequest(*it, request, bad)) {
            if (bad) {
                socket->abort();
            }
            return;
        }
        // One request per connection: the client asks the camera to close.
        restBuffers.remove(socket);
        socket->disconnect(this, nullptr);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);

        LoopbackThermalCamera::Fault fault;
        bool faulty = false;
        int status = 200;
        QByteArray body;
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            owner->state.requests.append(request);
            answer(request, status, body);
            const auto f = owner->state.faults.constFind(request.path);
            if (f != owner->state.faults.constEnd()) {
                fault = *f;
                faulty = true;
            }
        }
        if (faulty) {
            if (fault.status != 0) {
                status = fault.status;
            }
            if (fault.replaceBody) {
                body = fault.body;
            }
            if (fault.closeWithoutReply) {
                socket->disconnectFromHost();
                return;
            }
            if (fault.silent) {
                return;
            }
        }
        const QByteArray reply = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonOf(status)
                                 + "\r\nContent-Type: application/json\r\nContent-Length: "
                                 + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        if (faulty && fault.delayMs > 0) {
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(fault.delayMs, this, [guard, reply] {
                if (guard && guard->state() == QAbstractSocket::ConnectedState) {
                    guard->write(reply);
                    guard->disconnectFromHost();
                }
            });
            return;
        }
        socket->write(reply);
        socket->disconnectFromHost();
    }

    // The camera's own answer; called under the owner's lock.
    void answer(const LoopbackThermalCamera::Request& request, int& status, QByteArray& body)
    {
        LoopbackThermalCamera::State& s = owner->state;
        const QByteArray& path = request.path;
        const bool get = request.method == "GET";
        const bool put = request.method == "PUT";
        if (get && path == "/sensor/dimension") {
            body = "{\"h\":" + QByteArray::number(s.height) + ",\"w\":" + QByteArray::number(s.width) + "}";
        } else if (get && path == "/admin/boot-id") {
            body = "{\"boot-id\":\"loopback-" + QByteArray::number(s.starts) + "\"}";
        } else if (get && path == "/isp/instrument/jconfig") {
            body = compact(s.configuration);
        } else if (put && path == "/isp/instrument/jconfig") {
            const QJsonDocument doc = QJsonDocument::fromJson(request.body);
            if (doc.isObject()) {
                s.configuration = doc.object();
            } else {
                status = 400;
            }
        } else if (put && path == "/sensor/cali-mode") {
            const QByteArray mode = request.body.trimmed();
            if (mode == "\"auto\"" || mode == "\"manual\"") {
                s.calibrationMode = mode.mid(1, mode.size() - 2);
            } else {
                status = 400;
            }
        } else if (request.method == "POST" && path == "/sensor/cali") {
            ++s.calibrations;
        } else if (get && path == "/stream/video/raw") {
            body = "{\"max-packet-size\":" + QByteArray::number(s.maxPacketSize) + "}";
        } else if (path.startsWith(kObjectsPrefix)) {
            QByteArray key = path.mid(kObjectsPrefix.size());
            const bool value = key.endsWith("?value");
            if (value) {
                key.chop(6);
            }
            const QString name = QString::fromLatin1(key);
            if (put && !value) {
                const QJsonDocument doc = QJsonDocument::fromJson(request.body);
                if (doc.isObject()) {
                    s.objects.insert(name, doc.object());
                } else {
                    status = 400;
                }
            } else if (get && value && s.objects.contains(name)) {
                body = s.objectValues.value(name);
                if (body.isEmpty()) {
                    body = name.startsWith(QLatin1String("points/"))
                               ? QByteArray("{\"t\":25.0}")
                               : QByteArray("{\"avg\":{\"t\":25.0},\"max\":{\"t\":25.0},\"min\":{\"t\":25.0}}");
                }
            } else {
                status = 404;
            }
        } else {
            status = 404;
        }
    }

    void acceptStream()
    {
        while (QTcpSocket* socket = stream->nextPendingConnection()) {
            socket->setParent(this);
            streamClients.insert(socket, StreamClient());
            {
                std::lock_guard<std::mutex> lock(owner->mutex);
                ++owner->state.streamConnections;
            }
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readStream(socket); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
                if (!pumpTimer->isActive()) {
                    pump(socket, false);
                }
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                streamClients.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void readStream(QTcpSocket* socket)
    {
        auto it = streamClients.find(socket);
        if (it == streamClients.end()) {
            return;
        }
        if (it->streaming) {
            socket->readAll();
            return;
        }
        it->buffer.append(socket->readAll());
        LoopbackThermalCamera::Request request;
        bool bad = false;
        if (!takeRequest(it->buffer, request, bad)) {
            if (bad) {
                socket->abort();
            }
            return;
        }
        it->streaming = true;
        if (request.method != "GET" || request.path != "/video/raw") {
            socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
            streamClients.remove(socket);
            return;
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n");
        if (!pumpTimer->isActive()) {
            pump(socket, false);
        }
    }

    // Sends frames while the connection takes them: one per call on a timer,
    // else until about one frame waits in the socket.
    void pump(QTcpSocket* socket, bool one)
    {
        auto it = streamClients.find(socket);
        if (it == streamClients.end() || !it->streaming || socket->state() != QAbstractSocket::ConnectedState) {
            return;
        }
        for (;;) {
            int width;
            int height;
            quint32 sequence;
            bool cut;
            {
                std::lock_guard<std::mutex> lock(owner->mutex);
                LoopbackThermalCamera::State& s = owner->state;
                if (s.paused) {
                    return;
                }
                width = s.streamWidth > 0 ? s.streamWidth : s.width;
                height = s.streamHeight > 0 ? s.streamHeight : s.height;
                if (socket->bytesToWrite() > qint64(width) * height * 2) {
                    return;
                }
                sequence = s.framesSent++;
                cut = s.cutNext;
                s.cutNext = false;
            }
            QByteArray frame(16, Qt::Uninitialized);
            uchar* head = reinterpret_cast<uchar*>(frame.data());
            qToLittleEndian<quint32>(quint32(width), head);
            qToLittleEndian<quint32>(quint32(height), head + 4);
            qToLittleEndian<quint32>(sequence, head + 8);
            qToLittleEndian<quint32>(quint32(width * height * 2), head + 12);
            const QByteArray payload = LoopbackThermalCamera::framePayload(sequence, width, height);
            if (cut) {
                frame += payload.left(payload.size() / 2);
                socket->write(frame);
                streamClients.remove(socket);
                socket->disconnectFromHost();
                return;
            }
            frame += payload;
            socket->write(frame);
            if (one) {
                return;
            }
        }
    }

    LoopbackThermalCamera* owner;
    QTcpServer* rest = nullptr;
    QTcpServer* stream = nullptr;
    QTimer* pumpTimer = nullptr;
    QSocketNotifier* wake = nullptr;
    QHash<QTcpSocket*, QByteArray> restBuffers;
    QHash<QTcpSocket*, StreamClient> streamClients;
};

LoopbackThermalCamera::LoopbackThermalCamera(const QString& address) : m_address(address)
{
    state.configuration = defaultConfiguration();
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qFatal("Loopback thermal camera: no pipe");
    }
    // Commands reach the worker through the pipe once its loop runs; until
    // then they wait in the queue.
    thread = std::thread([this] {
        QEventLoop events;
        loop = &events;
        worker = new LoopbackThermalCameraWorker(this);
        worker->listenForCommands();
        events.exec();
        delete worker;
        worker = nullptr;
        loop = nullptr;
    });
}

LoopbackThermalCamera::~LoopbackThermalCamera()
{
    stop();
    run([this] { loop->quit(); });
    thread.join();
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
}

void LoopbackThermalCamera::post(std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        commands.push_back(std::move(work));
        ++commandsQueued;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
}

void LoopbackThermalCamera::run(std::function<void()> work)
{
    quint64 ticket;
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        commands.push_back(std::move(work));
        ticket = ++commandsQueued;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
    std::unique_lock<std::mutex> lock(commandMutex);
    commandDone.wait(lock, [&] { return commandsRun >= ticket; });
}

void LoopbackThermalCamera::runCommands()
{
    char drain[64];
    while (::read(wakePipe[0], drain, sizeof drain) > 0) {
    }
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> lock(commandMutex);
            if (commands.empty()) {
                return;
            }
            work = std::move(commands.front());
            commands.pop_front();
        }
        work();
        std::lock_guard<std::mutex> lock(commandMutex);
        ++commandsRun;
        // Under the lock: the waiter may go on (and end the camera) as soon
        // as it has the lock again.
        commandDone.notify_all();
    }
}

bool LoopbackThermalCamera::start(quint16 restPort, quint16 streamPort)
{
    if (running) {
        return false;
    }
    bool ok = false;
    quint16 boundRest = 0;
    quint16 boundStream = 0;
    run([&] {
        ok = worker->listen(m_address, restPort, streamPort);
        if (ok) {
            boundRest = worker->restPort();
            boundStream = worker->streamPort();
        }
    });
    if (ok) {
        std::lock_guard<std::mutex> lock(mutex);
        ++state.starts;
    }
    m_restPort = boundRest;
    m_streamPort = boundStream;
    running = ok;
    return ok;
}

void LoopbackThermalCamera::stop()
{
    if (!running) {
        return;
    }
    run([this] { worker->close(); });
    running = false;
}

bool LoopbackThermalCamera::restart()
{
    const quint16 restPort = m_restPort;
    const quint16 streamPort = m_streamPort;
    stop();
    {
        std::lock_guard<std::mutex> lock(mutex);
        state.objects.clear();
        state.objectValues.clear();
    }
    return start(restPort, streamPort);
}

bool LoopbackThermalCamera::isRunning() const
{
    return running;
}

quint16 LoopbackThermalCamera::restPort() const
{
    return m_restPort;
}

quint16 LoopbackThermalCamera::streamPort() const
{
    return m_streamPort;
}

void LoopbackThermalCamera::setSize(int width, int height)
{
    std::lock_guard<std::mutex> lock(mutex);
    state.width = width;
    state.height = height;
}

void LoopbackThermalCamera::setStreamFrameSize(int width, int height)
{
    std::lock_guard<std::mutex> lock(mutex);
    state.streamWidth = width;
    state.streamHeight = height;
}

void LoopbackThermalCamera::setFrameInterval(int milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        state.frameInterval = qMax(0, milliseconds);
    }
    post([this] { worker->configurePump(); });
}

void LoopbackThermalCamera::setStreamPaused(bool paused)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        state.paused = paused;
    }
    if (!paused) {
        post([this] { worker->configurePump(); });
    }
}

void LoopbackThermalCamera::cutNextFrame()
{
    std::lock_guard<std::mutex> lock(mutex);
    state.cutNext = true;
}

void LoopbackThermalCamera::setMaxPacketSize(int bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    state.maxPacketSize = bytes;
}

quint32 LoopbackThermalCamera::framesSent() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return state.framesSent;
}

int LoopbackThermalCamera::streamConnections() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return state.streamConnections;
}

QJsonObject LoopbackThermalCamera::configuration() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return state.configuration;
}

void LoopbackThermalCamera::setConfiguration(const QJsonObject& configuration)
{
    std::lock_guard<std::mutex> lock(mutex);
    state.configuration = configuration;
}

QByteArray LoopbackThermalCamera::calibrationMode() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return state.calibrationMode;
}

int LoopbackThermalCamera::calibrations() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return state.calibrations;
}

QMap<QString, QJsonObject> LoopbackThermalCamera::objects() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return state.objects;
}

void LoopbackThermalCamera::setObjectValue(const QString& key, const QByteArray& json)
{
    std::lock_guard<std::mutex> lock(mutex);
    state.objectValues.insert(key, json);
}

void LoopbackThermalCamera::setFault(const QByteArray& path, const Fault& fault)
{
    std::lock_guard<std::mutex> lock(mutex);
    state.faults.insert(path, fault);
}

void LoopbackThermalCamera::clearFaults()
{
    std::lock_guard<std::mutex> lock(mutex);
    state.faults.clear();
}

QList<LoopbackThermalCamera::Request> LoopbackThermalCamera::requests() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return state.requests;
}

QList<LoopbackThermalCamera::Request> LoopbackThermalCamera::requestsTo(const QByteArray& path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    QList<Request> matching;
    for (const Request& r : state.requests) {
        if (r.path == path) {
            matching.append(r);
        }
    }
    return matching;
}

void LoopbackThermalCamera::clearRequests()
{
    std::lock_guard<std::mutex> lock(mutex);
    state.requests.clear();
}
