#pragma once

#include "restc.h"
#include "streamsdk.h"

#include <QtGlobal>

#include <json/json.h>

#include <cstddef>
#include <memory>
#include <string>

// One short-lived connection of the HTTP client to a REST thermal camera,
// with the 1024-byte buffer that carries both the request body and the reply
// and a JSON reader. A connection that could not be made performs no
// request: every call reports status 0 and leaves its reply alone.
class RestConnection {
public:
    static constexpr std::size_t BufferBytes = 1024;

    RestConnection(const std::string& host, quint16 port);
    ~RestConnection();
    RestConnection(const RestConnection&) = delete;
    RestConnection& operator=(const RestConnection&) = delete;

    // status = the reply's HTTP status (0: no usable reply). A 200 with a body
    // parses it into out; a body that does not parse completely leaves out
    // null, never a half-built value.
    void get(const char* path, Json::Value& out, int& status);
    // The body is sent as its compact JSON text with one line feed. A text
    // that does not fit into the buffer is not sent: status 0. A 200 or 201
    // reply is parsed into reply when one is asked for.
    void post(const char* path, Json::Value body, Json::Value* reply, int& status);
    void put(const char* path, Json::Value body, Json::Value* reply, int& status);

    // Credentials of every later request of the process.
    static void setAuthorization(const std::string& user, const std::string& password);
    // Bounds each later request of this connection (connect, send and
    // receive together); the client's default is shorter than a second.
    void setTimeout(int milliseconds);

    bool isValid() const { return handle != nullptr; }

private:
    using Call = int (*)(restc_connection*, const char*, const void*, char*, size_t, size_t*);
    void send(Call call, const char* method, const char* path, const Json::Value& body, Json::Value* reply,
              int& status);
    // Parses length bytes of the buffer into out; on failure out becomes null.
    bool parse(std::size_t length, Json::Value& out, const char* path);

    restc_connection* handle = nullptr;
    std::unique_ptr<char[]> buffer;
    std::unique_ptr<Json::CharReader> reader;
    std::string host;
};

// The driver's handle on one REST thermal camera: its address and sensor
// size, every request the driver sends, and the raw video stream. Each
// operation makes and ends its own connection. Runs on the GUI thread; only
// the stream's frame callback runs on the stream's own thread.
class ThermalSession {
public:
    // Largest sensor side accepted from the camera.
    static constexpr int MaxSide = 4096;
    // Time-out of the presence probe and of the size read.
    static constexpr int ShortTimeoutMs = 500;

    // Object kinds of the measurement paths.
    enum Kind { Points = 0, Regions = 1, Lines = 2 };

    // Keeps the address, hands the credentials to the HTTP client and reads
    // the sensor size (width and height stay 0 unless both are 1 to 4096).
    ThermalSession(const std::string& host, const std::string& user, const std::string& password);
    // Stops the stream (no callback runs afterwards).
    ~ThermalSession();
    ThermalSession(const ThermalSession&) = delete;
    ThermalSession& operator=(const ThermalSession&) = delete;

    // True exactly when "/admin/boot-id" answers 200.
    bool probe();
    // The instrument configuration; out is a complete object only when the
    // status is 200 and the reply parsed.
    int getConfig(Json::Value& out);
    int putConfig(Json::Value configuration);
    int getObjectValue(Json::Value& out, int kind, const std::string& label);
    // 404 without a request when the object has no text label or the kind is
    // unknown.
    int putObject(Json::Value object, int kind);
    // Resets the process-wide credentials to empty ones first.
    int setCalibrationMode(bool manual);
    int calibrate();

    // Starts the raw stream once; frames reach callback on the stream's thread.
    void startStream(streamsdk_frame_callback callback, void* context);
    // Stops and ends the stream: when it returns no callback runs or will run.
    void stopStream();
    bool streaming() const { return stream != nullptr; }

    const std::string& host() const { return m_host; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // "points/", "regions/", "lines/"; null for another kind.
    static const char* kindPath(int kind);

private:
    void readSize();

    std::string m_host;
    std::string m_user;
    std::string m_password;
    int m_width = 0;
    int m_height = 0;
    streamsdk_stream* stream = nullptr;
    quint16 restPort;
    quint16 streamPort;
};
