#include "industrialcamera.h"

IndustrialCamera::IndustrialCamera(const CameraInfo& record)
{
    cameraInfo = record;
    serialText = record.idText();
    online = true;
}

IndustrialCamera::~IndustrialCamera() = default;

void IndustrialCamera::release()
{
    stopGrab();
    close();
}

QJsonObject IndustrialCamera::autoAdjust(bool)
{
    return {};
}

void IndustrialCamera::setContrast(int) {}
void IndustrialCamera::setWideDynamicRange(bool) {}
void IndustrialCamera::oneShotWhiteBalance() {}
void IndustrialCamera::setAutoExposure(bool) {}

void IndustrialCamera::setColorOutput(bool on)
{
    colorOutput = on;
}

void IndustrialCamera::setDisplayWindow(QWidget*) {}
void IndustrialCamera::setMirror(bool, bool) {}
void IndustrialCamera::setDetectConfig(QVariant, int) {}
void IndustrialCamera::query(QVariant, QVariant&, int) {}

bool IndustrialCamera::takeFrameCount(int& frames)
{
    return handOver.takeFrameCount(frames);
}

void IndustrialCamera::softTrigger() {}

void IndustrialCamera::getSize(int& w, int& h)
{
    w = width;
    h = height;
}

QString IndustrialCamera::serial()
{
    return serialText;
}

bool IndustrialCamera::getFrame(void* destination)
{
    return handOver.getFrame(destination);
}

int IndustrialCamera::spectrum()
{
    return 1;
}

bool IndustrialCamera::isOnline()
{
    return online;
}

bool IndustrialCamera::allocateFrames()
{
    if (width <= 0 || height <= 0) {
        handOver.clear();
        return false;
    }
    const qint64 pixels = qint64(width) * qint64(height);
    return handOver.allocate(colourFrames ? pixels * 4 : pixels);
}

QString IndustrialCamera::frameMismatch(int frameWidth, int frameHeight, qint64 frameLength,
                                        qint64 expectedLength) const
{
    if (frameWidth != width || frameHeight != height) {
        return QStringLiteral("size %1 x %2, opened at %3 x %4")
            .arg(frameWidth)
            .arg(frameHeight)
            .arg(width)
            .arg(height);
    }
    if (frameLength != expectedLength) {
        return QStringLiteral("%1 bytes, %2 expected").arg(frameLength).arg(expectedLength);
    }
    return {};
}
