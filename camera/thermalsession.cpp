#include "thermalsession.h"

#include "networkdefaults.h"

#include <QByteArray>

#include <cstring>
#include <exception>

namespace {

const char kDimensionPath[] = "/sensor/dimension";
const char kBootIdPath[] = "/admin/boot-id";
const char kConfigPath[] = "/isp/instrument/jconfig";
const char kCalibrationModePath[] = "/sensor/cali-mode";
const char kCalibratePath[] = "/sensor/cali";
const char kObjectsPath[] = "/isp/instrument/objects/";
const char kStreamInfoPath[] = "/stream/video/raw";
const char kStreamPath[] = "/video/raw";

// A sensor side as the camera states it: an integer from 1 to MaxSide, else 0.
int sideFrom(const Json::Value& value)
{
    if (!value.isInt()) {
        return 0;
    }
    const int side = value.asInt();
    return side >= 1 && side <= ThermalSession::MaxSide ? side : 0;
}

} // namespace

RestConnection::RestConnection(const std::string& host, quint16 port) : host(host)
{
    handle = restc_create_connection(host.c_str(), port);
    if (handle) {
        buffer.reset(new char[BufferBytes]);
        Json::CharReaderBuilder builder;
        reader.reset(builder.newCharReader());
    }
}

RestConnection::~RestConnection()
{
    if (handle) {
        restc_destroy_connection(handle);
    }
}

void RestConnection::setAuthorization(const std::string& user, const std::string& password)
{
    restc_set_authroization(user.c_str(), password.c_str());
}

void RestConnection::setTimeout(int milliseconds)
{
    if (handle) {
        restc_set_timeout(handle, milliseconds);
    }
}

bool RestConnection::parse(std::size_t length, Json::Value& out, const char* path)
{
    Json::Value parsed;
    std::string errors;
    bool parsedWhole = false;
    try {
        parsedWhole = reader->parse(buffer.get(), buffer.get() + length, &parsed, &errors);
    } catch (const std::exception& e) {
        // The reader throws on nesting beyond its stack limit.
        errors = e.what();
    }
    if (!parsedWhole) {
        // A cut or broken reply parses into part of a value at best; handing
        // that on would let a setter write a half configuration back.
        // The reader's report spans lines; the log wants one.
        const QByteArray why = QByteArray::fromStdString(errors).simplified();
        qWarning("Thermal camera %s: reply of %s is not valid JSON: %s", host.c_str(), path, why.constData());
        out = Json::Value();
        return false;
    }
    out.swap(parsed);
    return true;
}

void RestConnection::get(const char* path, Json::Value& out, int& status)
{
    if (!handle) {
        status = 0;
        return;
    }
    std::size_t length = 0;
    status = restc_get(handle, path, nullptr, buffer.get(), BufferBytes, &length);
    if (status == 200 && length != 0) {
        parse(length, out, path);
    }
}

void RestConnection::post(const char* path, Json::Value body, Json::Value* reply, int& status)
{
    send(restc_post, "POST", path, body, reply, status);
}

void RestConnection::put(const char* path, Json::Value body, Json::Value* reply, int& status)
{
    send(restc_put, "PUT", path, body, reply, status);
}

void RestConnection::send(Call call, const char* method, const char* path, const Json::Value& body,
                          Json::Value* reply, int& status)
{
    if (!handle) {
        status = 0;
        return;
    }
    Json::FastWriter writer;
    const std::string text = writer.write(body);
    if (text.size() > BufferBytes) {
        // Not sent, and not reported as a success either: the camera never
        // got this value.
        qWarning("Thermal camera %s: %s %s not sent: its body of %zu bytes exceeds %zu", host.c_str(), method, path,
                 text.size(), BufferBytes);
        status = 0;
        return;
    }
    std::memcpy(buffer.get(), text.data(), text.size());
    std::size_t length = text.size();
    status = call(handle, path, nullptr, buffer.get(), BufferBytes, &length);
    if ((status == 200 || status == 201) && reply && length != 0) {
        parse(length, *reply, path);
    }
}

ThermalSession::ThermalSession(const std::string& host, const std::string& user, const std::string& password)
    : m_host(host)
    , m_user(user)
    , m_password(password)
    , restPort(restThermalNetwork().restPort)
    , streamPort(restThermalNetwork().streamPort)
{
    RestConnection::setAuthorization(m_user, m_password);
    readSize();
}

ThermalSession::~ThermalSession()
{
    stopStream();
}

void ThermalSession::readSize()
{
    RestConnection connection(m_host, restPort);
    connection.setTimeout(ShortTimeoutMs);
    Json::Value reply;
    int status = 0;
    connection.get(kDimensionPath, reply, status);
    if (status != 200) {
        return;
    }
    const Json::Value& size = reply;
    int width = 0;
    int height = 0;
    if (size.isObject()) {
        width = sideFrom(size["w"]);
        height = sideFrom(size["h"]);
    }
    if (width == 0 || height == 0) {
        // Every buffer of the driver is sized from these two numbers.
        std::string text = Json::FastWriter().write(size);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        qWarning("Thermal camera %s: sensor size not usable: %s", m_host.c_str(), text.c_str());
        return;
    }
    m_width = width;
    m_height = height;
}

bool ThermalSession::probe()
{
    RestConnection connection(m_host, restPort);
    connection.setTimeout(ShortTimeoutMs);
    Json::Value reply;
    int status = 0;
    connection.get(kBootIdPath, reply, status);
    return status == 200;
}

int ThermalSession::getConfig(Json::Value& out)
{
    RestConnection connection(m_host, restPort);
    int status = 0;
    connection.get(kConfigPath, out, status);
    return status;
}

int ThermalSession::putConfig(Json::Value configuration)
{
    RestConnection connection(m_host, restPort);
    int status = 0;
    connection.put(kConfigPath, std::move(configuration), nullptr, status);
    return status;
}

const char* ThermalSession::kindPath(int kind)
{
    switch (kind) {
    case Points:
        return "points/";
    case Regions:
        return "regions/";
    case Lines:
        return "lines/";
    default:
        return nullptr;
    }
}

int ThermalSession::getObjectValue(Json::Value& out, int kind, const std::string& label)
{
    const char* kindText = kindPath(kind);
    if (!kindText) {
        return 404;
    }
    const std::string path = kObjectsPath + std::string(kindText) + label + "?value";
    RestConnection connection(m_host, restPort);
    int status = 0;
    connection.get(path.c_str(), out, status);
    return status;
}

int ThermalSession::putObject(Json::Value object, int kind)
{
    const char* kindText = kindPath(kind);
    const Json::Value& read = object;
    if (!kindText || !read.isObject() || !read["label"].isString()) {
        return 404;
    }
    const std::string path = kObjectsPath + std::string(kindText) + read["label"].asString();
    RestConnection connection(m_host, restPort);
    int status = 0;
    connection.put(path.c_str(), std::move(object), nullptr, status);
    return status;
}

int ThermalSession::setCalibrationMode(bool manual)
{
    RestConnection::setAuthorization(std::string(), std::string());
    RestConnection connection(m_host, restPort);
    int status = 0;
    connection.put(kCalibrationModePath, Json::Value(manual ? "manual" : "auto"), nullptr, status);
    return status;
}

int ThermalSession::calibrate()
{
    RestConnection connection(m_host, restPort);
    int status = 0;
    connection.post(kCalibratePath, Json::Value(), nullptr, status);
    return status;
}

void ThermalSession::startStream(streamsdk_frame_callback callback, void* context)
{
    if (stream) {
        return;
    }
    streamsdk_stream* created = nullptr;
    if (streamsdk_create_stream(m_host.c_str(), streamPort, &created) != STREAMSDK_OK || !created) {
        qWarning("Thermal camera %s: no stream", m_host.c_str());
        return;
    }
    int packetSize = 0;
    {
        RestConnection connection(m_host, restPort);
        Json::Value reply;
        int status = 0;
        connection.get(kStreamInfoPath, reply, status);
        const Json::Value& info = reply;
        if (status == 200 && info.isObject() && info["max-packet-size"].isInt()) {
            packetSize = info["max-packet-size"].asInt();
        }
    }
    if (streamsdk_start_stream(created, kStreamPath, packetSize, callback, context) != STREAMSDK_OK) {
        // A stream that never ran is not kept: the next start tries afresh.
        qWarning("Thermal camera %s: the stream did not start", m_host.c_str());
        streamsdk_destroy_stream(created);
        return;
    }
    stream = created;
}

void ThermalSession::stopStream()
{
    if (!stream) {
        return;
    }
    streamsdk_stop_stream(stream);
    streamsdk_destroy_stream(stream);
    stream = nullptr;
}
