#include "camerainterface.h"

#include <algorithm>
#include <cstring>

const char kHikCameraIid[] = "hikcamera_IID";
const char kMindCameraIid[] = "mindcamera_IID";
const char kDo3thinkCameraIid[] = "do3thinkcamera_IID";
const char kHikIRCameraIid[] = "hikircamera_IID";
const char kFotricCameraIid[] = "fotriccamera_IID";
const char kSimulateCameraIid[] = "simulatecamera_IID";

std::size_t copyBoundedText(char* destination, std::size_t destinationSize, const char* source,
                            std::size_t sourceBound)
{
    if (destinationSize == 0) {
        return 0;
    }
    std::memset(destination, 0, destinationSize);
    if (!source) {
        return 0;
    }
    // memchr, not strlen: an SDK fills its fields to the brim and may leave
    // no NUL behind the text.
    const std::size_t limit = std::min(sourceBound, destinationSize - 1);
    const void* nul = std::memchr(source, '\0', limit);
    const std::size_t length = nul ? std::size_t(static_cast<const char*>(nul) - source) : limit;
    std::memcpy(destination, source, length);
    return length;
}

void CameraInfo::setId(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    copyBoundedText(id, sizeof id, bytes.constData(), std::size_t(bytes.size()));
}

void CameraInfo::setAddress(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    copyBoundedText(address, sizeof address, bytes.constData(), std::size_t(bytes.size()));
}

QString CameraInfo::idText() const
{
    return QString::fromLatin1(id, int(strnlen(id, sizeof id)));
}

QString CameraInfo::addressText() const
{
    return QString::fromLatin1(address, int(strnlen(address, sizeof address)));
}

int cameraTypeMetaTypeId()
{
    static const int id = qRegisterMetaType<CAMERA_TYPE>("CAMERA_TYPE");
    return id;
}

namespace {
// Registered before main, so that a queued connection or a QVariant can name
// the type before any camera exists.
[[maybe_unused]] const int registeredAtStart = cameraTypeMetaTypeId();
} // namespace

CameraInterface::CameraInterface()
{
    cameraTypeMetaTypeId();
}

CameraInterface::~CameraInterface() = default;

CameraInfo CameraInterface::info()
{
    return cameraInfo;
}
