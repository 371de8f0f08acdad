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

namespace {

// The maps for the picture's format and sizes, from the last call's when they
// are the same; empty when Qt's choice cannot be read back.
bool mapsFor(const QImage& picture, const QSize& size, std::vector<int>& columns, std::vector<int>& rows)
{
    const QImage::Format format = picture.format();
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
    return !columns.empty() && !rows.empty();
}

bool gatherable(const QImage& picture, const QSize& size)
{
    const QImage::Format format = picture.format();
    const int n = std::max(picture.width(), picture.height());
    // Grey indices take two bytes; RGB indices three.
    const bool numbered = grey(format) ? n <= 0xffff : n <= 0xffffff;
    // A single pixel Qt paints as a solid colour, not by sampling.
    const bool single = picture.width() == 1 && picture.height() == 1;
    return !picture.isNull() && !size.isEmpty() && (grey(format) || rgb32(format)) && numbered && !single
           && picture.devicePixelRatio() == 1.0;
}

// Gathers the picture through the maps into out (the picture's format, or
// RGB32 from grey).
template <typename Target, typename Source, typename Convert>
void gather(const QImage& picture, QImage& out, const std::vector<int>& columns, const std::vector<int>& rows,
            Convert convert)
{
    const int w = out.width();
    for (int y = 0; y < out.height(); ++y) {
        Target* target = reinterpret_cast<Target*>(out.scanLine(y));
        if (y > 0 && rows[std::size_t(y)] == rows[std::size_t(y - 1)]) {
            std::memcpy(target, out.constScanLine(y - 1), std::size_t(w) * sizeof(Target));
            continue;
        }
        const Source* source = reinterpret_cast<const Source*>(picture.constScanLine(rows[std::size_t(y)]));
        for (int x = 0; x < w; ++x) {
            target[x] = convert(source[columns[std::size_t(x)]]);
        }
    }
}

} // namespace

QImage nearestScaled(const QImage& picture, const QSize& size)
{
    std::vector<int> columns;
    std::vector<int> rows;
    if (!gatherable(picture, size) || !mapsFor(picture, size, columns, rows)) {
        return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    if (picture.size() == size) {
        return picture;
    }
    QImage out(size, picture.format());
    if (out.isNull()) {
        return out;
    }
    if (grey(picture.format())) {
        gather<uchar, uchar>(picture, out, columns, rows, [](uchar v) { return v; });
    } else {
        gather<QRgb, QRgb>(picture, out, columns, rows, [](QRgb v) { return v; });
    }
    return out;
}

QImage nearestScaledGreyAsRgb32(const QImage& picture, const QSize& size)
{
    std::vector<int> columns;
    std::vector<int> rows;
    if (!grey(picture.format()) || !gatherable(picture, size) || picture.size() == size
        || !mapsFor(picture, size, columns, rows)) {
        return nearestScaled(picture, size).convertToFormat(QImage::Format_RGB32);
    }
    QImage out(size, QImage::Format_RGB32);
    if (out.isNull()) {
        return out;
    }
    gather<QRgb, uchar>(picture, out, columns, rows, [](uchar v) { return qRgb(v, v, v); });
    return out;
}
