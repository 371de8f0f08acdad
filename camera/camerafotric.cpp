#include "camerafotric.h"

#include "cammersingleton.h"
#include "imagehelpers.h"
#include "networkdefaults.h"
#include "roiinterface.h"
#include "thermalsession.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QtEndian>

#include <json/json.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <limits>

const uchar kThermalPalette[256][3] = {
    {0x00, 0x0F, 0x14}, {0x00, 0x0E, 0x19}, {0x00, 0x0C, 0x1F}, {0x00, 0x0B, 0x25}, {0x00, 0x0A, 0x2B},
    {0x00, 0x09, 0x32}, {0x00, 0x08, 0x38}, {0x00, 0x07, 0x3C}, {0x00, 0x06, 0x42}, {0x00, 0x05, 0x48},
    {0x00, 0x03, 0x4B}, {0x00, 0x03, 0x52}, {0x02, 0x02, 0x55}, {0x08, 0x00, 0x58}, {0x0A, 0x00, 0x5F},
    {0x0D, 0x00, 0x61}, {0x12, 0x00, 0x66}, {0x17, 0x00, 0x6A}, {0x19, 0x00, 0x6D}, {0x1D, 0x00, 0x70},
    {0x21, 0x00, 0x77}, {0x24, 0x00, 0x78}, {0x28, 0x00, 0x7B}, {0x2B, 0x00, 0x7E}, {0x2F, 0x00, 0x82},
    {0x33, 0x00, 0x83}, {0x36, 0x00, 0x86}, {0x39, 0x00, 0x89}, {0x3C, 0x00, 0x8A}, {0x40, 0x00, 0x8C},
    {0x43, 0x00, 0x8F}, {0x45, 0x00, 0x90}, {0x4A, 0x00, 0x91}, {0x4D, 0x00, 0x94}, {0x4F, 0x00, 0x95},
    {0x52, 0x00, 0x96}, {0x56, 0x00, 0x97}, {0x59, 0x00, 0x98}, {0x5C, 0x00, 0x9B}, {0x5E, 0x00, 0x9B},
    {0x60, 0x00, 0x9C}, {0x65, 0x00, 0x9D}, {0x67, 0x00, 0x9F}, {0x6D, 0x00, 0xA1}, {0x71, 0x00, 0xA0},
    {0x73, 0x00, 0xA0}, {0x76, 0x00, 0xA1}, {0x78, 0x00, 0xA0}, {0x7B, 0x00, 0xA2}, {0x7E, 0x00, 0xA2},
    {0x80, 0x00, 0xA1}, {0x83, 0x00, 0xA2}, {0x84, 0x00, 0xA0}, {0x86, 0x00, 0xA1}, {0x8A, 0x00, 0xA2},
    {0x8D, 0x00, 0x9F}, {0x90, 0x01, 0xA0}, {0x91, 0x02, 0xA0}, {0x95, 0x02, 0x9F}, {0x95, 0x05, 0x9E},
    {0x96, 0x06, 0x9B}, {0x9B, 0x06, 0x9A}, {0x9C, 0x07, 0x99}, {0x9D, 0x08, 0x9A}, {0xA1, 0x08, 0x9A},
    {0xA3, 0x0A, 0x99}, {0xA4, 0x0C, 0x96}, {0xA6, 0x0D, 0x94}, {0xA9, 0x0D, 0x95}, {0xAC, 0x0E, 0x92},
    {0xAC, 0x10, 0x93}, {0xAE, 0x11, 0x91}, {0xB1, 0x12, 0x90}, {0xB4, 0x13, 0x8F}, {0xB3, 0x16, 0x8A},
    {0xB6, 0x17, 0x89}, {0xB7, 0x18, 0x86}, {0xBA, 0x18, 0x87}, {0xBD, 0x19, 0x85}, {0xC0, 0x1A, 0x84},
    {0xC1, 0x1C, 0x81}, {0xC0, 0x1F, 0x7F}, {0xC5, 0x1F, 0x7C}, {0xC6, 0x21, 0x7B}, {0xC6, 0x21, 0x77},
    {0xC9, 0x23, 0x74}, {0xC8, 0x25, 0x75}, {0xC9, 0x26, 0x73}, {0xCE, 0x27, 0x70}, {0xCF, 0x28, 0x6F},
    {0xD0, 0x2A, 0x6C}, {0xD0, 0x2D, 0x69}, {0xD2, 0x2E, 0x66}, {0xD4, 0x30, 0x65}, {0xD5, 0x32, 0x63},
    {0xD7, 0x33, 0x60}, {0xD7, 0x36, 0x5D}, {0xDA, 0x36, 0x5C}, {0xDB, 0x38, 0x59}, {0xDB, 0x3B, 0x56},
    {0xDC, 0x3D, 0x55}, {0xDC, 0x3E, 0x52}, {0xDC, 0x40, 0x50}, {0xDC, 0x42, 0x4D}, {0xDC, 0x43, 0x4C},
    {0xDC, 0x46, 0x49}, {0xDC, 0x48, 0x46}, {0xDC, 0x49, 0x41}, {0xDC, 0x4B, 0x42}, {0xDC, 0x4D, 0x40},
    {0xDC, 0x4F, 0x3D}, {0xDC, 0x51, 0x3C}, {0xDC, 0x53, 0x39}, {0xDC, 0x54, 0x34}, {0xDC, 0x56, 0x31},
    {0xDC, 0x59, 0x30}, {0xDC, 0x5B, 0x2F}, {0xDC, 0x5C, 0x2D}, {0xDC, 0x5F, 0x2A}, {0xDC, 0x61, 0x27},
    {0xDC, 0x63, 0x24}, {0xDC, 0x64, 0x23}, {0xDC, 0x66, 0x20}, {0xDC, 0x69, 0x1F}, {0xDC, 0x6A, 0x1F},
    {0xDC, 0x6C, 0x1C}, {0xDC, 0x6F, 0x19}, {0xDC, 0x71, 0x17}, {0xDC, 0x72, 0x16}, {0xDC, 0x74, 0x13},
    {0xDC, 0x76, 0x14}, {0xDC, 0x78, 0x11}, {0xDC, 0x7B, 0x11}, {0xDC, 0x7D, 0x0E}, {0xDC, 0x7F, 0x0D},
    {0xDC, 0x7F, 0x0B}, {0xDC, 0x83, 0x09}, {0xDC, 0x83, 0x07}, {0xDC, 0x86, 0x06}, {0xDC, 0x87, 0x05},
    {0xDC, 0x88, 0x01}, {0xDC, 0x8A, 0x01}, {0xDC, 0x8D, 0x00}, {0xDC, 0x8E, 0x00}, {0xDC, 0x91, 0x00},
    {0xDC, 0x93, 0x00}, {0xDC, 0x94, 0x00}, {0xDC, 0x96, 0x00}, {0xDC, 0x98, 0x00}, {0xDC, 0x9A, 0x00},
    {0xDC, 0x9C, 0x00}, {0xDC, 0x9E, 0x00}, {0xDC, 0xA0, 0x00}, {0xDC, 0xA3, 0x00}, {0xDC, 0xA6, 0x00},
    {0xDC, 0xAA, 0x00}, {0xDC, 0xAB, 0x00}, {0xDC, 0xAD, 0x00}, {0xDC, 0xAE, 0x00}, {0xDC, 0xB0, 0x00},
    {0xDC, 0xB2, 0x00}, {0xDC, 0xB4, 0x00}, {0xDC, 0xB6, 0x00}, {0xDC, 0xB8, 0x00}, {0xDC, 0xBA, 0x00},
    {0xDC, 0xBB, 0x00}, {0xDC, 0xBD, 0x00}, {0xDC, 0xBF, 0x00}, {0xDC, 0xC1, 0x01}, {0xDC, 0xC3, 0x02},
    {0xDC, 0xC5, 0x03}, {0xDC, 0xC7, 0x04}, {0xDC, 0xC7, 0x08}, {0xDC, 0xC9, 0x09}, {0xDC, 0xCC, 0x08},
    {0xDC, 0xCD, 0x0D}, {0xDC, 0xCE, 0x0E}, {0xDC, 0xD0, 0x11}, {0xDC, 0xD1, 0x15}, {0xDC, 0xD4, 0x14},
    {0xDC, 0xD4, 0x17}, {0xDC, 0xD6, 0x1B}, {0xDC, 0xD9, 0x1D}, {0xDC, 0xDA, 0x21}, {0xDC, 0xDC, 0x24},
    {0xDC, 0xDD, 0x27}, {0xDC, 0xDE, 0x2A}, {0xDC, 0xE0, 0x2D}, {0xDC, 0xE1, 0x31}, {0xDC, 0xE2, 0x36},
    {0xDC, 0xE3, 0x39}, {0xDC, 0xE5, 0x3E}, {0xDC, 0xE6, 0x41}, {0xDC, 0xE6, 0x46}, {0xDC, 0xE6, 0x4C},
    {0xDC, 0xE6, 0x51}, {0xDC, 0xE6, 0x56}, {0xDC, 0xE6, 0x59}, {0xDC, 0xE6, 0x60}, {0xDC, 0xE6, 0x66},
    {0xDC, 0xE6, 0x6B}, {0xDC, 0xE6, 0x70}, {0xDC, 0xE6, 0x75}, {0xDC, 0xE6, 0x7D}, {0xDC, 0xE6, 0x83},
    {0xDC, 0xE6, 0x88}, {0xDC, 0xE6, 0x8D}, {0xDC, 0xE6, 0x95}, {0xDC, 0xE6, 0x9D}, {0xDC, 0xE6, 0xA0},
    {0xDC, 0xE6, 0xA9}, {0xDC, 0xE6, 0xB0}, {0xDC, 0xE6, 0xB1}, {0xDC, 0xE6, 0xB2}, {0xDC, 0xE6, 0xB3},
    {0xDC, 0xE6, 0xB4}, {0xDC, 0xE6, 0xB5}, {0xDC, 0xE6, 0xB6}, {0xDC, 0xE6, 0xB7}, {0xDC, 0xE6, 0xB8},
    {0xDC, 0xE6, 0xB9}, {0xDC, 0xE6, 0xBA}, {0xDC, 0xE6, 0xBB}, {0xDC, 0xE6, 0xBC}, {0xDC, 0xE6, 0xBD},
    {0xDC, 0xE6, 0xBE}, {0xDC, 0xE6, 0xBF}, {0xDC, 0xE6, 0xC0}, {0xDC, 0xE6, 0xC1}, {0xDC, 0xE6, 0xC2},
    {0xDC, 0xE6, 0xC3}, {0xDC, 0xE6, 0xC4}, {0xDC, 0xE6, 0xC5}, {0xDC, 0xE6, 0xC6}, {0xDC, 0xE6, 0xC7},
    {0xDC, 0xE6, 0xC8}, {0xDC, 0xE6, 0xC9}, {0xDC, 0xE6, 0xCA}, {0xDC, 0xE6, 0xCB}, {0xDC, 0xE6, 0xCC},
    {0xDC, 0xE6, 0xCD}, {0xDC, 0xE6, 0xCE}, {0xDC, 0xE6, 0xCF}, {0xDC, 0xE6, 0xD0}, {0xDC, 0xE6, 0xD1},
    {0xDC, 0xE6, 0xD2}, {0xDC, 0xE6, 0xD3}, {0xDC, 0xE6, 0xD4}, {0xDC, 0xE6, 0xD5}, {0xDC, 0xE6, 0xD6},
    {0xDC, 0xE6, 0xD7}, {0xDC, 0xE6, 0xD8}, {0xDC, 0xE6, 0xD9}, {0xDC, 0xE6, 0xDA}, {0xDC, 0xE6, 0xDB},
    {0xDC, 0xE6, 0xDC},
};

namespace {

// The stretch index of every value: k = ((v - lo) * 255) / range, calling
// put(i, k) for each pixel in order.
template <typename Put>
void stretchIndices(const quint16* raw, int count, Put&& put)
{
    quint32 lo = 65535;
    quint32 hi = 0;
    for (int i = 0; i < count; ++i) {
        const quint32 v = raw[i];
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    const quint32 range = hi > lo ? hi - lo : 1;
    // One multiplication and a shift instead of a division per pixel. The
    // numerator stays below 2^24, and for numerators of N bits
    // m = floor(2^(N + l) / range) + 1 with 2^(l - 1) < range <= 2^l gives the
    // truncated quotient exactly (Granlund and Montgomery, division by
    // invariant integers).
    int l = 0;
    while ((quint32(1) << l) < range) {
        ++l;
    }
    const int shift = 24 + l;
    const quint64 m = (quint64(1) << shift) / range + 1;
    for (int i = 0; i < count; ++i) {
        const quint64 numerator = quint64(raw[i] - lo) * 255u;
        put(i, quint32((numerator * m) >> shift));
    }
}

} // namespace

void applyThermalPalette(const quint16* raw, int count, const uchar (*palette)[3], uchar* destination)
{
    if (!raw || !palette || !destination || count <= 0) {
        return;
    }
    quint32 words[256];
    for (int k = 0; k < 256; ++k) {
        // Blue, green, red, 0 in memory.
        words[k] = qToLittleEndian(quint32(palette[k][2]) | quint32(palette[k][1]) << 8
                                   | quint32(palette[k][0]) << 16);
    }
    stretchIndices(raw, count, [&](int i, quint32 k) { std::memcpy(destination + 4 * std::size_t(i), &words[k], 4); });
}

bool thermalGreyImage(const quint16* raw, int width, int height, const uchar (*palette)[3], uchar* scratch,
                      uchar* destination)
{
    if (!raw || !palette || !scratch || !destination || width <= 0 || height <= 0
        || qint64(width) * height > std::numeric_limits<int>::max() / 4) {
        return false;
    }
    // The grey of a palette pixel depends on its entry alone: the reduction
    // of the 256 entries, once, gives every pixel's grey without the 4-byte
    // picture in between (the same bytes as reducing that picture).
    quint16 ramp[256];
    for (int k = 0; k < 256; ++k) {
        ramp[k] = quint16(k);
    }
    uchar entries[256 * 4];
    applyThermalPalette(ramp, 256, palette, entries);
    uchar greyOf[256];
    rgb32ToGray(greyOf, entries, 256, 1);
    stretchIndices(raw, width * height, [&](int i, quint32 k) { destination[i] = greyOf[k]; });
    cv::Mat grey(height, width, CV_8UC1, destination);
    cv::Mat median(height, width, CV_8UC1, scratch);
    cv::medianBlur(grey, median, 3);
    cv::bilateralFilter(median, grey, 3, 50, 25, cv::BORDER_REFLECT_101);
    return true;
}

namespace {

qint32 high16(qint32 v)
{
    return qint16(quint16(quint32(v) >> 16));
}

quint32 low16(qint32 v)
{
    return quint32(v) & 0xFFFFu;
}

// The measurement object of one temperature area.
Json::Value measureObject(int detect, int area, qint32 param, qint32 upper, const QRect& bounds, double distance)
{
    Json::Value object(Json::objectValue);
    object["alarm-t"] = 100;
    object["api-visible"] = true;
    object["distance"] = distance;
    object["emissivity"] = double(low16(param)) / 100;
    object["mb-slot"] = 0;
    object["osd-visible"] = true;
    object["offset"] = high16(param);
    object["reflect-t"] = high16(upper);
    const std::string number = std::to_string(area);
    if (detect == 0) {
        object["label"] = "P" + number;
        const QPoint centre = bounds.center();
        object["pos"]["x"] = centre.x();
        object["pos"]["y"] = centre.y();
    } else {
        object["label"] = "R" + number;
        Json::Value polygon(Json::arrayValue);
        const QPoint corners[4] = {bounds.topLeft(), bounds.bottomLeft(), bounds.bottomRight(), bounds.topRight()};
        for (const QPoint& corner : corners) {
            Json::Value point(Json::objectValue);
            point["x"] = double(corner.x());
            point["y"] = double(corner.y());
            polygon.append(point);
        }
        object["polygon"] = polygon;
        object["avg"] = true;
        object["max"] = true;
        object["min"] = true;
        object["layer"] = 0;
    }
    return object;
}

// A temperature as the camera states it: a JSON number whose value is finite
// and within an int once it is a float (the station reads it as an int).
std::optional<float> temperatureFrom(const Json::Value& value)
{
    if (!value.isNumeric() || value.isBool()) {
        return std::nullopt;
    }
    const double t = value.asDouble();
    const float f = float(t);
    if (!std::isfinite(t) || !std::isfinite(f) || f < -2147483648.0f || f >= 2147483648.0f) {
        return std::nullopt;
    }
    return f;
}

const char* modeMember(qint32 mode)
{
    switch (mode) {
    case 1:
        return "avg";
    case 2:
        return "max";
    default:
        return "min";
    }
}

} // namespace

CameraFotric::CameraFotric() = default;

CameraFotric::CameraFotric(const CameraInfo& record)
{
    cameraInfo = record;
    serialText = record.idText();
    deviceIndex = record.index;
    deviceNumber = record.number;
}

CameraFotric::~CameraFotric()
{
    // The stream ends before any buffer goes.
    session.reset();
}

bool CameraFotric::open()
{
    session.reset();
    session = std::make_unique<ThermalSession>(serialText.toStdString(), std::string(), std::string());
    if (!session->probe()) {
        qWarning("Thermal camera %s does not answer", qUtf8Printable(serialText));
        session.reset();
        return false;
    }
    if (session->width() <= 0 || session->height() <= 0) {
        qWarning("Thermal camera %s: no usable sensor size, not opened", qUtf8Printable(serialText));
        session.reset();
        return false;
    }
    width = session->width();
    height = session->height();
    pixelCount = width * height;
    bytesPerPixel = colorOutput ? 4 : 1;
    m_frameBytes = pixelCount * bytesPerPixel;
    if (!hand.allocate(m_frameBytes)) {
        session.reset();
        return false;
    }
    scratch.assign(std::size_t(pixelCount) * 4, 0);
    std::memcpy(palette, kThermalPalette, sizeof palette);
    sizeMismatchLogged.store(false);
    const int status = session->setCalibrationMode(false);
    if (status != 200) {
        qWarning("Thermal camera %s: automatic calibration not set (status %d)", qUtf8Printable(serialText),
                 status);
    }
    return true;
}

void CameraFotric::close()
{
    session.reset();
}

bool CameraFotric::startGrab()
{
    if (!session) {
        return false;
    }
    session->startStream(&CameraFotric::streamCallback, this);
    return session->streaming();
}

void CameraFotric::stopGrab()
{
    if (session) {
        session->stopStream();
    }
}

void CameraFotric::release() {}

bool CameraFotric::frameArrivedSincePoll()
{
    const quint32 now = framesArrived.load();
    const bool arrived = now != framesAtLastPoll;
    framesAtLastPoll = now;
    return arrived;
}

bool CameraFotric::reconnect()
{
    const bool arrived = frameArrivedSincePoll();
    if (arrived) {
        watchdogCount = 0;
    }
    return arrived;
}

bool CameraFotric::isOnline()
{
    const bool arrived = frameArrivedSincePoll();
    if (arrived) {
        watchdogCount = 0;
    }
    if (watchdogCount < 3) {
        ++watchdogCount;
    }
    if (watchdogCount >= 3) {
        return false;
    }
    return arrived;
}

QJsonObject CameraFotric::autoAdjust(bool on)
{
    if (on && session) {
        const int status = session->calibrate();
        if (status != 200) {
            qWarning("Thermal camera %s: calibration not started (status %d)", qUtf8Printable(serialText), status);
        }
    }
    return QJsonObject();
}

template <typename Value>
void CameraFotric::writeConfigMember(const char* member, const Value& value)
{
    if (!session) {
        return;
    }
    Json::Value configuration;
    const int status = session->getConfig(configuration);
    if (status != 200 || !configuration.isObject()) {
        // Writing back anything less than the whole configuration would wipe
        // the camera's other settings.
        qWarning("Thermal camera %s: \"%s\" not set: the configuration could not be read (status %d)",
                 qUtf8Printable(serialText), member, status);
        return;
    }
    configuration[member] = value;
    const int written = session->putConfig(configuration);
    if (written != 200) {
        qWarning("Thermal camera %s: \"%s\" not set (status %d)", qUtf8Printable(serialText), member, written);
    }
}

void CameraFotric::setExposure(int value)
{
    writeConfigMember("emissivity", double(value) / 100);
}

void CameraFotric::setGain(int value)
{
    writeConfigMember("reflect-t", value);
}

void CameraFotric::setSharpness(int value)
{
    writeConfigMember("ambient-t", value);
}

void CameraFotric::setGamma(int value)
{
    targetDistance = double(value) / 100;
    writeConfigMember("distance", targetDistance);
}

void CameraFotric::setContrast(int) {}
void CameraFotric::setWideDynamicRange(bool) {}
void CameraFotric::oneShotWhiteBalance() {}
void CameraFotric::setAutoExposure(bool) {}

void CameraFotric::setColorOutput(bool on)
{
    colorOutput = on;
}

void CameraFotric::setDisplayWindow(QWidget*) {}
void CameraFotric::setMirror(bool, bool) {}
void CameraFotric::setFrameRate(int) {}

void CameraFotric::setDetectConfig(QVariant config, int flag)
{
    if (flag != 0 || !config.canConvert<CammerSingleton*>()) {
        return;
    }
    uploadMeasureObjects(config.value<CammerSingleton*>());
}

void CameraFotric::uploadMeasureObjects(CammerSingleton* set)
{
    std::memset(areaModes, 0, sizeof areaModes);
    std::memset(measured, 0, sizeof measured);
    if (!set || !session) {
        return;
    }
    for (int d = 0; d < MeasuredDetects; ++d) {
        const int count = qBound(0, set->roiCount[d], int(AreasPerDetect));
        for (int n = 0; n < count; ++n) {
            const int s = d * AreasPerDetect + n;
            if (set->roiFunction[s] != FuncTempAlarm || set->roiShapeType[s] != ROIRect) {
                continue;
            }
            const ROIInterface* shape =
                d < set->roiLists.size() && n < set->roiLists.at(d).size() ? set->roiLists.at(d).at(n) : nullptr;
            if (!shape) {
                qWarning("Thermal camera %s: temperature area %d of detect %d has no shape", qUtf8Printable(serialText),
                         n, d);
                continue;
            }
            areaModes[d][n] = high16(set->roiLower[s]);
            const Json::Value object =
                measureObject(d, n, set->roiParam[s], set->roiUpper[s], *shape, targetDistance);
            const int status = session->putObject(object, d == 0 ? ThermalSession::Points : ThermalSession::Regions);
            if (status >= 200 && status < 300) {
                measured[d][n] = true;
            } else {
                qWarning("Thermal camera %s: measurement object %s not registered (status %d)",
                         qUtf8Printable(serialText), object["label"].asCString(), status);
            }
        }
    }
}

std::optional<float> CameraFotric::readRoiTemperature(int detect, int area)
{
    const auto failed = [&](const char* why) -> std::optional<float> {
        qWarning("Thermal camera %s: temperature of detect %d area %d not read: %s", qUtf8Printable(serialText),
                 detect, area, why);
        return std::nullopt;
    };
    if (detect < 0 || detect >= DetectCount || area < 0 || area >= AreasPerDetect) {
        return failed("no such area");
    }
    if (detect >= MeasuredDetects || !measured[detect][area]) {
        return failed("no measurement object was registered for it");
    }
    if (!session) {
        return failed("the camera is not open");
    }
    const std::string label = (detect == 0 ? "P" : "R") + std::to_string(area);
    Json::Value reply;
    const int status =
        session->getObjectValue(reply, detect == 0 ? ThermalSession::Points : ThermalSession::Regions, label);
    if (status != 200) {
        return failed(("status " + std::to_string(status)).c_str());
    }
    const Json::Value& value = reply;
    if (!value.isObject()) {
        return failed("the reply is not an object");
    }
    const Json::Value& holder = detect == 0 ? value : value[modeMember(areaModes[detect][area])];
    if (!holder.isObject()) {
        return failed("the reply has no such member");
    }
    const std::optional<float> t = temperatureFrom(holder["t"]);
    if (!t) {
        return failed("the reply carries no usable \"t\"");
    }
    return t;
}

void CameraFotric::query(QVariant request, QVariant& reply, int flag)
{
    if (flag != 0) {
        return;
    }
    QJsonObject object;
    if (request.userType() == QMetaType::QJsonObject) {
        object = request.toJsonObject();
    } else if (request.userType() == QMetaType::QVariantMap) {
        object = QJsonObject::fromVariantMap(request.toMap());
    }
    // A request that names no area reads none: -1 lies outside every table.
    const int detect = object.value(QStringLiteral("detect")).toInt(-1);
    const QJsonValue areaValue = object.value(QStringLiteral("funcNO"));
    const int area = areaValue.isUndefined() ? 0 : areaValue.toInt(-1);
    const std::optional<float> t = readRoiTemperature(detect, area);
    reply = t ? QVariant(*t) : QVariant();
}

bool CameraFotric::takeFrameCount(int& frames)
{
    return hand.takeFrameCount(frames);
}

void CameraFotric::setTriggerMode(bool) {}
void CameraFotric::softTrigger() {}

void CameraFotric::getSize(int& w, int& h)
{
    w = width;
    h = height;
}

QString CameraFotric::typeId()
{
    return QString::fromLatin1(kFotricCameraIid);
}

QString CameraFotric::serial()
{
    return serialText;
}

bool CameraFotric::getFrame(void* destination)
{
    return hand.getFrame(destination);
}

void CameraFotric::loadDefaults(int*, int) {}

QList<CameraInfo> CameraFotric::enumerate()
{
    QList<CameraInfo> found;
    for (int i = 1; i <= kRestThermalCandidates; ++i) {
        const QString address = restThermalCandidate(i);
        ThermalSession candidate(address.toStdString(), std::string(), std::string());
        if (!candidate.probe()) {
            continue;
        }
        CameraInfo record;
        record.index = int(found.size());
        record.number = -1;
        record.iid = QString::fromLatin1(kFotricCameraIid);
        record.setId(address);
        record.setAddress(address);
        found.append(record);
    }
    return found;
}

int CameraFotric::deviceCount()
{
    return 1;
}

CameraInterface* CameraFotric::create(CameraInfo record)
{
    return new CameraFotric(record);
}

int CameraFotric::spectrum()
{
    return 2;
}

void CameraFotric::applyPalette(const quint16* raw, uchar* destination) const
{
    applyThermalPalette(raw, pixelCount, palette, destination);
}

void CameraFotric::streamCallback(int status, const streamsdk_frame* frame, void* context)
{
    if (status != STREAMSDK_FRAME || !frame || !context) {
        return;
    }
    static_cast<CameraFotric*>(context)->onFrame(*frame);
}

void CameraFotric::onFrame(const streamsdk_frame& frame)
{
    // The buffers were sized by open for the camera's stated size; a frame of
    // another size would be read or written past them.
    if (!frame.values || frame.width != width || frame.height != height) {
        if (!sizeMismatchLogged.exchange(true)) {
            qWarning("Thermal camera %s: frames of %d x %d dropped (the camera stated %d x %d)",
                     qUtf8Printable(serialText), frame.width, frame.height, width, height);
        }
        return;
    }
    // The watchdog's count goes up with the frame, under its lock: whoever
    // took the frame finds it counted.
    hand.deliverWith([&](uchar* buffer, int bytes) {
        framesArrived.fetch_add(1);
        if (bytes != m_frameBytes) {
            return;
        }
        try {
            if (bytesPerPixel == 4) {
                applyPalette(frame.values, buffer);
            } else {
                thermalGreyImage(frame.values, width, height, palette, scratch.data(), buffer);
            }
        } catch (const std::exception& e) {
            qCritical("Thermal camera %s: frame not converted: %s", qUtf8Printable(serialText), e.what());
        }
    });
}
