#pragma once

#include <QDateTime>
#include <QRgb>
#include <QString>
#include <QVector>
#include <QtGlobal>

class CameraStation;

// Raw frames of the inspections, kept for the plant as BMP files that nothing
// ever deletes. They must never take the disk the operation log, the records
// and the NG pictures need: below a free-space floor they are skipped.
namespace RawFrameStore {
// Space that must stay free on the disk of the working folder.
constexpr qint64 DefaultFloorBytes = qint64(1) << 30;
// "./originalimage/cammer<camera + 1><detect + 1>/template<yyyyMMdd-hhmmss-zzz>.bmp"
QString pathFor(int camera, int detect, const QDateTime& when, const QString& root = QStringLiteral("./originalimage"));
// Writes the station's newest frame (8-bit indexed with the grey table, or
// 32-bit in colour mode). False when it was not written: the disk is below
// the floor (nothing is written then) or the write failed.
bool save(CameraStation& station, int detect, const QVector<QRgb>& grayTable,
          qint64 floorBytes = DefaultFloorBytes, const QString& root = QStringLiteral("./originalimage"));
} // namespace RawFrameStore
