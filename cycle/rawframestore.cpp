#include "rawframestore.h"

#include "camerastation.h"
#include "systemparam.h"

#include <QDir>
#include <QStorageInfo>

namespace RawFrameStore {

QString pathFor(int camera, int detect, const QDateTime& when, const QString& root)
{
    return QStringLiteral("%1/cammer%2%3/template%4.bmp")
        .arg(root)
        .arg(camera + 1)
        .arg(detect + 1)
        .arg(when.toString(QStringLiteral("yyyyMMdd-hhmmss-zzz")));
}

bool save(CameraStation& station, int detect, const QVector<QRgb>& grayTable, qint64 floorBytes, const QString& root)
{
    QStorageInfo disk(QDir::currentPath());
    disk.refresh();
    if (disk.isValid() && disk.bytesAvailable() < floorBytes) {
        return false;
    }
    const StationData& data = station.data;
    const int bytesPerPixel = gColorMode != 0 ? 4 : 1;
    if (data.grabBuffer.size() < size_t(std::max(0, data.pixelCount)) * size_t(bytesPerPixel)) {
        return false;
    }
    return StationBitmap::write(pathFor(data.cameraIndex, detect, QDateTime::currentDateTime(), root),
                                data.grabBuffer.data(), data.imageWidth, data.imageHeight, bytesPerPixel, grayTable);
}

} // namespace RawFrameStore
