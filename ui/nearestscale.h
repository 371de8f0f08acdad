#pragma once

#include <QImage>
#include <QSize>

// picture.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation), pixel
// for pixel, in a fraction of its time for the formats the JPEG reader gives
// (8-bit grey and opaque 32-bit RGB). Qt scales an 8-bit grey picture through its
// generic painting path, about three times as long as decoding the JPEG; the
// record pictures the area panel steps through are scaled once per step.
//
// Qt's fast scaling takes, for every target column, one source column and,
// for every target row, one source row, each axis on its own. Which ones is
// asked of Qt itself, by scaling one row and one column of the same format
// whose pixels are their own indices; the picture is then gathered through
// those two maps. Other formats, an empty picture or size, and sizes the
// index pictures cannot number fall back to QImage::scaled.
QImage nearestScaled(const QImage& picture, const QSize& size);

// nearestScaled(picture, size).convertToFormat(QImage::Format_RGB32), pixel
// for pixel, for a grey picture gathered straight into RGB32: a grey picture
// painted without a transformation becomes exactly that on the screen, and
// painting RGB32 onto the screen's RGB32 is a plain copy where grey is
// converted pixel by pixel.
QImage nearestScaledGreyAsRgb32(const QImage& picture, const QSize& size);
