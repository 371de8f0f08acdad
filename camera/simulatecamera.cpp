#include "simulatecamera.h"

#include <QImage>

#include <cstring>

SimulateCamera::SimulateCamera() = default;

SimulateCamera::SimulateCamera(const CameraInfo& record)
{
    cameraInfo = record;
    deviceIndex = record.index;
    serialText = record.idText();
    online = true;
}

bool SimulateCamera::open()
{
    pixelCount = FrameWidth * FrameHeight;
    m_frameBytes = colorOutput ? pixelCount * 4 : pixelCount;
    frameBuffer.assign(std::size_t(m_frameBytes), 0);
    return true;
}

void SimulateCamera::close() {}

bool SimulateCamera::startGrab()
{
    return true;
}

void SimulateCamera::stopGrab() {}
void SimulateCamera::release() {}

bool SimulateCamera::reconnect()
{
    return false;
}

QJsonObject SimulateCamera::autoAdjust(bool)
{
    return {};
}

void SimulateCamera::setExposure(int) {}
void SimulateCamera::setGain(int) {}
void SimulateCamera::setSharpness(int) {}
void SimulateCamera::setContrast(int) {}
void SimulateCamera::setGamma(int) {}
void SimulateCamera::setWideDynamicRange(bool) {}
void SimulateCamera::oneShotWhiteBalance() {}
void SimulateCamera::setAutoExposure(bool) {}

void SimulateCamera::setColorOutput(bool on)
{
    colorOutput = on;
    m_frameBytes = on ? pixelCount * 4 : pixelCount;
    // The buffer is sized by open; a change afterwards must not let getFrame
    // or softTrigger run past it.
    if (!frameBuffer.empty() && frameBuffer.size() != std::size_t(m_frameBytes)) {
        frameBuffer.assign(std::size_t(m_frameBytes), 0);
    }
}

void SimulateCamera::setDisplayWindow(QWidget*) {}
void SimulateCamera::setMirror(bool, bool) {}
void SimulateCamera::setFrameRate(int) {}
void SimulateCamera::setDetectConfig(QVariant, int) {}
void SimulateCamera::query(QVariant, QVariant&, int) {}

bool SimulateCamera::takeFrameCount(int&)
{
    // Frames come only on a manual trigger: a count would make the station
    // believe the camera lost between triggers.
    return true;
}

void SimulateCamera::setTriggerMode(bool) {}

QString SimulateCamera::nextTemplatePath() const
{
    return QStringLiteral("cammer%1/template%2.bmp").arg(10 * deviceIndex + 15).arg(templateCounter);
}

void SimulateCamera::softTrigger()
{
    const QImage image(nextTemplatePath());
    templateCounter = templateCounter == 0 ? 1 : 0;
    if (image.isNull() || image.width() != FrameWidth || image.height() != FrameHeight) {
        return;
    }
    // The pixel data is taken as it is held, unconverted: an 8-bit bitmap for
    // grey frames, a 32-bit one for colour frames. A bitmap with fewer bytes
    // than a frame (1-bit, or 8-bit while colour frames are wanted) would be
    // read past its end, so it is passed over like a bitmap of another size.
    if (frameBuffer.empty() || image.sizeInBytes() < qsizetype(m_frameBytes)
        || frameBuffer.size() < std::size_t(m_frameBytes)) {
        return;
    }
    std::memcpy(frameBuffer.data(), image.constBits(), std::size_t(m_frameBytes));
}

void SimulateCamera::getSize(int& w, int& h)
{
    w = FrameWidth;
    h = FrameHeight;
}

QString SimulateCamera::typeId()
{
    return QString::fromLatin1(kSimulateCameraIid);
}

QString SimulateCamera::serial()
{
    return serialText;
}

bool SimulateCamera::getFrame(void* destination)
{
    // The frame stays until the next trigger and is handed out on every call;
    // the result says "no new frame", since nothing ever delivers one.
    if (destination && !frameBuffer.empty()) {
        std::memcpy(destination, frameBuffer.data(), std::size_t(m_frameBytes));
    }
    const bool had = newFrame;
    newFrame = false;
    return had;
}

void SimulateCamera::loadDefaults(int*, int) {}

QList<CameraInfo> SimulateCamera::enumerate()
{
    QList<CameraInfo> devices;
    for (int index = 0; index < 2; ++index) {
        CameraInfo record;
        record.index = index;
        record.number = -1;
        record.iid = QString::fromLatin1(kSimulateCameraIid);
        devices.append(record);
    }
    return devices;
}

int SimulateCamera::deviceCount()
{
    return 2;
}

CameraInterface* SimulateCamera::create(CameraInfo record)
{
    return new SimulateCamera(record);
}

int SimulateCamera::spectrum()
{
    return 0;
}

bool SimulateCamera::isOnline()
{
    return true;
}
