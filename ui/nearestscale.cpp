#include "nearestscale.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

bool grey(QImage::Format f) { return f == QImage::Format_Grayscale8; }

// Opaque only: Qt blends pictures with alpha while it scales them.
bool rgb32(QImage::Format f) { return f == QImage::Format_RGB32; }

// Source indices Qt samples along one axis: source length n to target
// length m, for pictures of the given format. Empty when Qt's answer is not
// a valid index for every target position.
std::vector<int> axisMap(QImage::Format format, int n, int m, bool columns)
{
    std::vector<int> map(std::size_t(m), 0);
    const QSize from = columns ? QSize(n, 1) : QSize(1, n);
    const QSize to = columns ? QSize(m, 1) : QSize(1, m);
    auto sampled = [&](auto pixelOf) {
        QImage index(from, format);
        for (int i = 0; i < n; ++i) {
            const QPoint at = columns ? QPoint(i, 0) : QPoint(0, i);
            pixelOf(index, at, i);
        }
        return index.scaled(to, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    };
    if (grey(format)) {
        // One byte per pixel: the index in two passes, low byte and high byte.
        const QImage low = sampled([](QImage& img, QPoint at, int i) { img.scanLine(at.y())[at.x()] = uchar(i & 0xff); });
        const QImage high = sampled([](QImage& img, QPoint at, int i) { img.scanLine(at.y())[at.x()] = uchar(i >> 8); });
        if (low.size() != to || high.size() != to || low.format() != format || high.format() != format) {
            return {};
        }
        for (int j = 0; j < m; ++j) {
            const QPoint at = columns ? QPoint(j, 0) : QPoint(0, j);
            map[std::size_t(j)] = low.scanLine(at.y())[at.x()] | (high.scanLine(at.y())[at.x()] << 8);
        }
    } else {
        const QImage index = sampled([](QImage& img, QPoint at, int i) {
            reinterpret_cast<QRgb*>(img.scanLine(at.y()))[at.x()] = 0xff000000u | quint32(i);
        });
        if (index.size() != to || index.format() != format) {
            return {};
        }
        for (int j = 0; j < m; ++j) {
            const QPoint at = columns ? QPoint(j, 0) : QPoint(0, j);
            map[std::size_t(j)] = int(reinterpret_cast<const QRgb*>(index.scanLine(at.y()))[at.x()] & 0xffffffu);
        }
    }
    for (int v : map) {
        if (v < 0 || v >= n) {
            return {};
        }
    }
    return map;
}

struct Maps {
    QImage::Format format = QImage::Format_Invalid;
    QSize from;
    QSize to;
    std::vector<int> columns;
    std::vector<int> rows;
};

// The maps of the last picture and tile size: a panel steps through pictures
// of one size shown in one tile.
std::mutex gMapsMutex;
Maps gMaps;

} // namespace

QImage nearestScaled(const QImage& picture, const QSize& size)
{
    const QImage::Format format = picture.format();
    const int n = std::max(picture.width(), picture.height());
    // Grey indices take two bytes; RGB indices three.
    const bool numbered = grey(format) ? n <= 0xffff : n <= 0xffffff;
    // A single pixel Qt paints as a solid colour, not by sampling.
    const bool single = picture.width() == 1 && picture.height() == 1;
    if (picture.isNull() || size.isEmpty() || !(grey(format) || rgb32(format)) || !numbered || single
        || picture.devicePixelRatio() != 1.0) {
        return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    if (picture.size() == size) {
        return picture;
    }
    std::vector<int> columns;
    std::vector<int> rows;
    {
        std::lock_guard<std::mutex> lock(gMapsMutex);
        if (gMaps.format != format || gMaps.from != picture.size() || gMaps.to != size) {
            gMaps.columns = axisMap(format, picture.width(), size.width(), true);
            gMaps.rows = axisMap(format, picture.height(), size.height(), false);
            gMaps.format = format;
            gMaps.from = picture.size();
            gMaps.to = size;
        }
        columns = gMaps.columns;
        rows = gMaps.rows;
    }
    if (columns.empty() || rows.empty()) {
        return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    QImage out(size, format);
    if (out.isNull()) {
        return out;
    }
    const int w = size.width();
    for (int y = 0; y < size.height(); ++y) {
        uchar* target = out.scanLine(y);
        if (y > 0 && rows[std::size_t(y)] == rows[std::size_t(y - 1)]) {
            std::memcpy(target, out.constScanLine(y - 1), std::size_t(out.bytesPerLine()));
            continue;
        }
        const uchar* source = picture.constScanLine(rows[std::size_t(y)]);
        if (grey(format)) {
            for (int x = 0; x < w; ++x) {
                target[x] = source[columns[std::size_t(x)]];
            }
        } else {
            const QRgb* s = reinterpret_cast<const QRgb*>(source);
            QRgb* t = reinterpret_cast<QRgb*>(target);
            for (int x = 0; x < w; ++x) {
                t[x] = s[columns[std::size_t(x)]];
            }
        }
    }
    return out;
}
