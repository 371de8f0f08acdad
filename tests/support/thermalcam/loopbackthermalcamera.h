#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QEventLoop;
class LoopbackThermalCameraWorker;

// A REST thermal camera on a loopback address, served from a thread of its
// own so that a client may block on it: the HTTP interface with JSON bodies
// (sensor size, presence, instrument configuration, calibration, measurement
// objects and their temperatures, stream information) and the raw 16-bit video
// stream in the stream library's wire format.
//
// Every HTTP request is recorded with its exact bytes. Faults are injected per
// path: any status, a replaced body (over-long, broken or cut JSON, sizes out
// of range), a slow answer, no answer at all, a connection closed without a
// reply. The stream can send frames of another size than the stated one, cut a
// frame in the middle, and the whole camera can restart on the same ports.
//
// Stream frames carry their sequence number in every row: in row y, value 0 at
// x = 0, 255 at x = 1 and sequenceMark(sequence) everywhere else, so a
// stretch over the frame's own minimum and maximum maps the mark to itself,
// and a frame torn between two sequence numbers shows rows that differ.
class LoopbackThermalCamera {
public:
    struct Request {
        QByteArray method;
        QByteArray path; // with its query
        QByteArray head; // request line and header lines, as received
        QByteArray body;
    };

    struct Fault {
        // Status to answer with; 0 keeps the camera's own.
        int status = 0;
        // Body to answer with in place of the camera's own.
        bool replaceBody = false;
        QByteArray body;
        // Answer only after this many milliseconds.
        int delayMs = 0;
        // Never answer; the connection stays open until the client leaves.
        bool silent = false;
        // Close the connection without a reply.
        bool closeWithoutReply = false;
    };

    explicit LoopbackThermalCamera(const QString& address = QStringLiteral("127.0.0.1"));
    ~LoopbackThermalCamera();
    LoopbackThermalCamera(const LoopbackThermalCamera&) = delete;
    LoopbackThermalCamera& operator=(const LoopbackThermalCamera&) = delete;

    // Listens for HTTP on restPort and for the stream on streamPort (0: a port
    // chosen by the system). False when either cannot be bound.
    bool start(quint16 restPort = 0, quint16 streamPort = 0);
    // Closes the listeners and every connection.
    void stop();
    // A camera that reboots: stop, forget the measurement objects, start on
    // the same ports.
    bool restart();
    bool isRunning() const;

    QString address() const { return m_address; }
    quint16 restPort() const;
    quint16 streamPort() const;

    // The sensor size the camera states and streams (default 32 x 24).
    void setSize(int width, int height);
    // Frames of another size than the stated one; 0 x 0 streams the stated size.
    void setStreamFrameSize(int width, int height);
    // Milliseconds between frames; 0 sends them as fast as the connection
    // takes them.
    void setFrameInterval(int milliseconds);
    // Stops sending frames while the connections stay open.
    void setStreamPaused(bool paused);
    // The next frame sent ends its connection after half of its values.
    void cutNextFrame();
    // The "max-packet-size" of "/stream/video/raw" (default 4096).
    void setMaxPacketSize(int bytes);
    quint32 framesSent() const;
    int streamConnections() const;

    QJsonObject configuration() const;
    void setConfiguration(const QJsonObject& configuration);
    QByteArray calibrationMode() const;
    int calibrations() const;
    // Measurement objects by kind and label ("points/P0", "regions/R3").
    QMap<QString, QJsonObject> objects() const;
    // The reply of GET ".../objects/<key>?value" (key "points/P0").
    void setObjectValue(const QString& key, const QByteArray& json);

    // Faults per exact path (query included).
    void setFault(const QByteArray& path, const Fault& fault);
    void clearFaults();

    QList<Request> requests() const;
    // The recorded requests to one path (query included).
    QList<Request> requestsTo(const QByteArray& path) const;
    void clearRequests();

    // The value every pixel of a frame other than columns 0 and 1 carries.
    static quint16 sequenceMark(quint32 sequence) { return quint16(1 + sequence % 253); }
    // Values of one frame in the stream's order.
    static QByteArray framePayload(quint32 sequence, int width, int height);

private:
    friend class LoopbackThermalCameraWorker;

    // Shared with the worker thread.
    struct State {
        int width = 32;
        int height = 24;
        int streamWidth = 0;
        int streamHeight = 0;
        int frameInterval = 0;
        bool paused = false;
        bool cutNext = false;
        int maxPacketSize = 4096;
        quint32 framesSent = 0;
        int streamConnections = 0;
        int starts = 0;
        QJsonObject configuration;
        QByteArray calibrationMode;
        int calibrations = 0;
        QMap<QString, QJsonObject> objects;
        QMap<QString, QByteArray> objectValues;
        QMap<QByteArray, Fault> faults;
        QList<Request> requests;
    };

    // Runs work on the camera's thread and waits for it (or not).
    void run(std::function<void()> work);
    void post(std::function<void()> work);
    // Camera thread: runs what run and post handed over.
    void runCommands();

    QString m_address;
    // Standard mutexes and a pipe, not Qt's, so that ThreadSanitizer sees
    // every hand-over between the test's thread and the camera's.
    mutable std::mutex mutex;
    State state;
    std::mutex commandMutex;
    std::condition_variable commandDone;
    std::deque<std::function<void()>> commands;
    quint64 commandsQueued = 0;
    quint64 commandsRun = 0;
    int wakePipe[2] = {-1, -1};
    quint16 m_restPort = 0;
    quint16 m_streamPort = 0;
    bool running = false;
    // A standard thread running a Qt event loop: joining it is a hand-over
    // ThreadSanitizer sees, as QThread::wait is not.
    std::thread thread;
    // Both live on the camera's thread only.
    QEventLoop* loop = nullptr;
    LoopbackThermalCameraWorker* worker = nullptr;
};
