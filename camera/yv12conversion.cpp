// The infrared camera's picture converters. Every output byte must equal the
// camera maker's formula evaluated in doubles, so the formula is evaluated
// once per possible input into tables and the conversion only looks bytes up:
// red and blue depend on Y and one chroma value (64 KiB each), green and grey
// on all three (16 MiB each, one 256-byte row per chroma pair, which the four
// pixels of a 2 x 2 block share).

#include "hikircamera.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>

#if defined(__GNUC__)
#define KORVANE_UNCHECKED __attribute__((no_sanitize("address", "thread", "undefined")))
#else
#define KORVANE_UNCHECKED
#endif

namespace {

KORVANE_UNCHECKED inline int limitByte(double value)
{
    const double t = std::trunc(value);
    return t < 0 ? 0 : (t > 255 ? 255 : int(t));
}

// The grey weighting truncated exactly: its weights add up to 1, so a grey
// pixel keeps its value. Summed in doubles, 65 of the 256 grey levels would
// come out one lower (128 as 127.99999999999999, truncated to 127).
KORVANE_UNCHECKED inline int greyOf(int r, int g, int b)
{
    return (299 * r + 587 * g + 114 * b) / 1000;
}

struct Yv12Tables {
    std::unique_ptr<std::uint8_t[]> red{new std::uint8_t[256 * 256]};    // [v][y]
    std::unique_ptr<std::uint8_t[]> blue{new std::uint8_t[256 * 256]};   // [u][y]
    std::unique_ptr<std::uint8_t[]> green{new std::uint8_t[1 << 24]};    // [u][v][y]
    std::unique_ptr<std::uint8_t[]> grey{new std::uint8_t[1 << 24]};     // [u][v][y]

    // Built once, before any conversion can read the tables (the static
    // below publishes them). Uninstrumented in the sanitizer builds: 33
    // million checked stores would take seconds there and check nothing.
    KORVANE_UNCHECKED Yv12Tables()
    {
        for (int c = 0; c < 256; ++c) {
            for (int y = 0; y < 256; ++y) {
                red[std::size_t(c) << 8 | std::size_t(y)] = std::uint8_t(limitByte(double(y) + 1.370705 * double(c - 128)));
                blue[std::size_t(c) << 8 | std::size_t(y)] = std::uint8_t(limitByte(double(y) + 1.732446 * double(c - 128)));
            }
        }
        for (int u = 0; u < 256; ++u) {
            for (int v = 0; v < 256; ++v) {
                const std::size_t row = (std::size_t(u) << 16) | (std::size_t(v) << 8);
                for (int y = 0; y < 256; ++y) {
                    const int r = red[std::size_t(v) << 8 | std::size_t(y)];
                    const int g = limitByte(double(y) - 0.698001 * double(u - 128) - 0.703125 * double(v - 128));
                    const int b = blue[std::size_t(u) << 8 | std::size_t(y)];
                    green[row | std::size_t(y)] = std::uint8_t(g);
                    grey[row | std::size_t(y)] = std::uint8_t(greyOf(r, g, b));
                }
            }
        }
    }
};

const Yv12Tables& tables()
{
    static const Yv12Tables built;
    return built;
}

bool acceptable(const unsigned char* source, std::size_t sourceBytes, const unsigned char* destination, int width,
                int height)
{
    if (!source || !destination || width < 2 || height < 2 || width % 2 || height % 2 || width > 32768 ||
        height > 32768) {
        return false;
    }
    return sourceBytes >= std::size_t(width) * std::size_t(height) * 3 / 2;
}

template <typename Pixel>
void convert(const unsigned char* source, unsigned char* destination, int width, int height, bool flip, int bytes,
             Pixel&& pixel)
{
    const std::size_t w = std::size_t(width);
    const std::size_t h = std::size_t(height);
    const unsigned char* vPlane = source + w * h;
    const unsigned char* uPlane = vPlane + (w / 2) * (h / 2);
    for (std::size_t r = 0; r < h; ++r) {
        const unsigned char* y = source + r * w;
        const unsigned char* v = vPlane + (r / 2) * (w / 2);
        const unsigned char* u = uPlane + (r / 2) * (w / 2);
        unsigned char* out = destination + (flip ? h - 1 - r : r) * w * std::size_t(bytes);
        for (std::size_t c = 0; c < w; c += 2) {
            const std::size_t uv = (std::size_t(u[c / 2]) << 16) | (std::size_t(v[c / 2]) << 8);
            pixel(out + c * std::size_t(bytes), y[c], uv, u[c / 2], v[c / 2]);
            pixel(out + (c + 1) * std::size_t(bytes), y[c + 1], uv, u[c / 2], v[c / 2]);
        }
    }
}

} // namespace

bool yv12ToGray(const unsigned char* source, std::size_t sourceBytes, unsigned char* destination, int width,
                int height, bool flip)
{
    if (!acceptable(source, sourceBytes, destination, width, height)) {
        return false;
    }
    const std::uint8_t* grey = tables().grey.get();
    convert(source, destination, width, height, flip, 1,
            [grey](unsigned char* out, unsigned char y, std::size_t uv, unsigned char, unsigned char) {
                *out = grey[uv | y];
            });
    return true;
}

bool yv12ToBgra(const unsigned char* source, std::size_t sourceBytes, unsigned char* destination, int width,
                int height, bool flip)
{
    if (!acceptable(source, sourceBytes, destination, width, height)) {
        return false;
    }
    const Yv12Tables& t = tables();
    const std::uint8_t* red = t.red.get();
    const std::uint8_t* green = t.green.get();
    const std::uint8_t* blue = t.blue.get();
    convert(source, destination, width, height, flip, 4,
            [=](unsigned char* out, unsigned char y, std::size_t uv, unsigned char u, unsigned char v) {
                out[0] = blue[std::size_t(u) << 8 | y];
                out[1] = green[uv | y];
                out[2] = red[std::size_t(v) << 8 | y];
                out[3] = 0;
            });
    return true;
}
