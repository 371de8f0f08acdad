#include "simframe.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace simdev {

namespace {

constexpr int kStampCells = 8;
constexpr int kColourCells = 3;  // red, green, blue, after the stamp
constexpr unsigned char kStampMagic = 0xA5;

unsigned char sequenceByte(std::uint32_t sequence)
{
    // 167 is odd: consecutive frames never share the byte, so no two
    // neighbouring deliveries can be stitched without it showing.
    return static_cast<unsigned char>(sequence * 167u + 13u);
}

unsigned char patternByte(int device, int cellX, int cellY)
{
    std::uint32_t h = std::uint32_t(cellX) * 0x9E3779B1u ^ std::uint32_t(cellY) * 0x85EBCA77u
                      ^ std::uint32_t(device + 1) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return static_cast<unsigned char>(h);
}

void stampBytes(int device, std::uint32_t sequence, unsigned char (&stamp)[kStampCells])
{
    stamp[0] = kStampMagic;
    stamp[1] = static_cast<unsigned char>(device & 0xFF);
    stamp[2] = static_cast<unsigned char>((device >> 8) & 0xFF);
    stamp[3] = static_cast<unsigned char>(sequence & 0xFF);
    stamp[4] = static_cast<unsigned char>((sequence >> 8) & 0xFF);
    stamp[5] = static_cast<unsigned char>((sequence >> 16) & 0xFF);
    stamp[6] = static_cast<unsigned char>((sequence >> 24) & 0xFF);
    unsigned char sum = 0x3C;
    for (int i = 0; i < kStampCells - 1; ++i) {
        sum ^= stamp[i];
    }
    stamp[7] = sum;
}

unsigned char luminance(unsigned r, unsigned g, unsigned b)
{
    // The weights add up to 256: a grey pixel keeps its value exactly.
    return static_cast<unsigned char>((77u * r + 150u * g + 29u * b) >> 8);
}

// Red, green, blue of colour cell c (0 red, 1 green, 2 blue).
void colourOf(int c, unsigned char (&rgb)[3])
{
    rgb[0] = rgb[1] = rgb[2] = 0;
    rgb[c] = 255;
}

// One cell row's grey values (cells of a frame width wide); colour cells are
// marked in `colour` (-1 elsewhere).
void cellRow(int device, std::uint32_t sequence, int cellY, int cells, std::vector<unsigned char>& values,
             std::vector<int>& colour)
{
    values.resize(std::size_t(cells));
    colour.assign(std::size_t(cells), -1);
    const unsigned char seqByte = sequenceByte(sequence);
    for (int cx = 0; cx < cells; ++cx) {
        values[std::size_t(cx)] = patternByte(device, cx, cellY) ^ seqByte;
    }
    if (cellY == 0) {
        unsigned char stamp[kStampCells];
        stampBytes(device, sequence, stamp);
        for (int cx = 0; cx < kStampCells && cx < cells; ++cx) {
            values[std::size_t(cx)] = stamp[cx];
        }
        for (int c = 0; c < kColourCells && kStampCells + c < cells; ++c) {
            colour[std::size_t(kStampCells + c)] = c;
        }
    }
}

} // namespace

int bytesPerPixel(PixelFormat format)
{
    return format == PixelFormat::Rgb8 ? 3 : 1;
}

const char* formatName(PixelFormat format)
{
    switch (format) {
    case PixelFormat::Mono8:
        return "Mono8";
    case PixelFormat::BayerRG8:
        return "BayerRG8";
    case PixelFormat::Rgb8:
        return "Rgb8";
    }
    return "?";
}

std::size_t frameBytes(int width, int height, PixelFormat format)
{
    if (width <= 0 || height <= 0) {
        return 0;
    }
    return std::size_t(width) * std::size_t(height) * std::size_t(bytesPerPixel(format));
}

bool validFrameSize(int width, int height)
{
    return width >= kMinimumWidth && height >= kMinimumHeight && width % 2 == 0 && height % 2 == 0;
}

void renderFrame(int device, std::uint32_t sequence, int width, int height, PixelFormat format, unsigned char* out)
{
    if (!validFrameSize(width, height) || !out) {
        return;
    }
    const int cells = width / 2;
    std::vector<unsigned char> values;
    std::vector<int> colour;
    const int bpp = bytesPerPixel(format);
    const std::size_t stride = std::size_t(width) * std::size_t(bpp);
    for (int cy = 0; cy < height / 2; ++cy) {
        cellRow(device, sequence, cy, cells, values, colour);
        unsigned char* top = out + std::size_t(2 * cy) * stride;
        unsigned char* bottom = top + stride;
        for (int cx = 0; cx < cells; ++cx) {
            const unsigned char v = values[std::size_t(cx)];
            const int c = colour[std::size_t(cx)];
            unsigned char rgb[3] = {v, v, v};
            if (c >= 0) {
                colourOf(c, rgb);
            }
            switch (format) {
            case PixelFormat::Mono8: {
                const unsigned char grey = luminance(rgb[0], rgb[1], rgb[2]);
                top[2 * cx] = top[2 * cx + 1] = bottom[2 * cx] = bottom[2 * cx + 1] = grey;
                break;
            }
            case PixelFormat::BayerRG8:
                top[2 * cx] = rgb[0];
                top[2 * cx + 1] = rgb[1];
                bottom[2 * cx] = rgb[1];
                bottom[2 * cx + 1] = rgb[2];
                break;
            case PixelFormat::Rgb8:
                for (int dx = 0; dx < 2; ++dx) {
                    std::memcpy(top + std::size_t(6 * cx + 3 * dx), rgb, 3);
                    std::memcpy(bottom + std::size_t(6 * cx + 3 * dx), rgb, 3);
                }
                break;
            }
        }
    }
}

bool convertFrame(const unsigned char* source, PixelFormat from, int width, int height, unsigned char* destination,
                  PixelFormat to)
{
    if (!source || !destination || !validFrameSize(width, height) || to == PixelFormat::BayerRG8) {
        return false;
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    if (from == to) {
        std::memcpy(destination, source, frameBytes(width, height, from));
        return true;
    }
    if (from == PixelFormat::Mono8) {  // to Rgb8
        for (std::size_t p = 0; p < pixels; ++p) {
            destination[3 * p] = destination[3 * p + 1] = destination[3 * p + 2] = source[p];
        }
        return true;
    }
    if (from == PixelFormat::Rgb8) {  // to Mono8
        for (std::size_t p = 0; p < pixels; ++p) {
            destination[p] = luminance(source[3 * p], source[3 * p + 1], source[3 * p + 2]);
        }
        return true;
    }
    // BayerRG8: one colour per 2 x 2 cell.
    const std::size_t w = std::size_t(width);
    const std::size_t outRow = w * std::size_t(bytesPerPixel(to));
    for (int cy = 0; cy < height / 2; ++cy) {
        const unsigned char* top = source + std::size_t(2 * cy) * w;
        const unsigned char* bottom = top + w;
        unsigned char* first = destination + std::size_t(2 * cy) * outRow;
        unsigned char* second = first + outRow;
        for (int cx = 0; cx < width / 2; ++cx) {
            const unsigned r = top[2 * cx];
            const unsigned g = (unsigned(top[2 * cx + 1]) + unsigned(bottom[2 * cx]) + 1) / 2;
            const unsigned b = bottom[2 * cx + 1];
            if (to == PixelFormat::Rgb8) {
                const unsigned char cell[6] = {static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                                               static_cast<unsigned char>(b), static_cast<unsigned char>(r),
                                               static_cast<unsigned char>(g), static_cast<unsigned char>(b)};
                std::memcpy(first + 6 * std::size_t(cx), cell, 6);
                std::memcpy(second + 6 * std::size_t(cx), cell, 6);
            } else {
                const unsigned char grey = luminance(r, g, b);
                first[2 * cx] = first[2 * cx + 1] = second[2 * cx] = second[2 * cx + 1] = grey;
            }
        }
    }
    return true;
}

void FrameRenderer::render(int device, std::uint32_t sequence, int width, int height, PixelFormat format,
                           unsigned char* out)
{
    if (!validFrameSize(width, height) || !out) {
        return;
    }
    const std::size_t bytes = frameBytes(width, height, format);
    if (device != m_device || width != m_width || height != m_height || format != m_format) {
        // Frame 213 is the one whose sequence byte is 0 (213 x 167 + 13 = 139 x 256).
        m_base.resize(bytes);
        renderFrame(device, 213, width, height, format, m_base.data());
        m_mask.assign(bytes, 0xFF);
        const std::size_t stride = std::size_t(width) * std::size_t(bytesPerPixel(format));
        const std::size_t headerBytes =
            std::min(std::size_t(2 * (kStampCells + kColourCells)), std::size_t(width)) * std::size_t(bytesPerPixel(format));
        std::memset(m_mask.data(), 0, headerBytes);
        std::memset(m_mask.data() + stride, 0, headerBytes);
        m_device = device;
        m_width = width;
        m_height = height;
        m_format = format;
    }
    const unsigned char seqByte = sequenceByte(sequence);
    const unsigned char* base = m_base.data();
    const unsigned char* mask = m_mask.data();
    for (std::size_t i = 0; i < bytes; ++i) {
        out[i] = base[i] ^ (mask[i] & seqByte);
    }
    // The stamp: grey cells, every byte of a cell the same in every format.
    unsigned char stamp[kStampCells];
    stampBytes(device, sequence, stamp);
    const int bpp = bytesPerPixel(format);
    const std::size_t stride = std::size_t(width) * std::size_t(bpp);
    for (int cx = 0; cx < kStampCells; ++cx) {
        const std::size_t at = std::size_t(2 * cx) * std::size_t(bpp);
        std::memset(out + at, stamp[cx], std::size_t(2 * bpp));
        std::memset(out + stride + at, stamp[cx], std::size_t(2 * bpp));
    }
}

FrameCheck checkFrame(const unsigned char* frame, int width, int height, Output output, bool colourCells, int rowStep)
{
    FrameCheck result;
    if (!frame || !validFrameSize(width, height)) {
        result.problem = "no frame or a size no simulated sensor has";
        return result;
    }
    const int bpp = output == Output::Bgra32 ? 4 : 1;
    const std::size_t stride = std::size_t(width) * std::size_t(bpp);
    auto valueAt = [&](int x, int y) { return frame[std::size_t(y) * stride + std::size_t(x) * std::size_t(bpp)]; };

    unsigned char stamp[kStampCells];
    for (int i = 0; i < kStampCells; ++i) {
        stamp[i] = valueAt(2 * i, 0);
    }
    unsigned char sum = 0x3C;
    for (int i = 0; i < kStampCells - 1; ++i) {
        sum ^= stamp[i];
    }
    if (stamp[0] != kStampMagic || stamp[7] != sum) {
        result.problem = "no stamp in the first row";
        return result;
    }
    result.device = int(stamp[1]) | (int(stamp[2]) << 8);
    result.sequence = std::uint32_t(stamp[3]) | (std::uint32_t(stamp[4]) << 8) | (std::uint32_t(stamp[5]) << 16)
                      | (std::uint32_t(stamp[6]) << 24);

    if (rowStep < 1) {
        rowStep = 1;
    }
    std::vector<unsigned char> values;
    std::vector<int> colour;
    int lastCellRow = -1;
    for (int y = 0; y < height; ++y) {
        if (y > 1 && y != height - 1 && y % rowStep != 0) {
            continue;
        }
        const int cy = y / 2;
        if (cy != lastCellRow) {
            cellRow(result.device, result.sequence, cy, width / 2, values, colour);
            lastCellRow = cy;
        }
        const unsigned char* row = frame + std::size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            const int cx = x / 2;
            const int c = colour[std::size_t(cx)];
            const unsigned char* px = row + std::size_t(x) * std::size_t(bpp);
            if (c >= 0) {
                if (output != Output::Bgra32 || !colourCells) {
                    continue;
                }
                unsigned char rgb[3];
                colourOf(c, rgb);
                if (px[0] != rgb[2] || px[1] != rgb[1] || px[2] != rgb[0] || px[3] != 0) {
                    result.problem = "colour cell " + std::to_string(c) + " at (" + std::to_string(x) + ", "
                                     + std::to_string(y) + ") has its channels out of place";
                    return result;
                }
                continue;
            }
            const unsigned char v = values[std::size_t(cx)];
            bool same = px[0] == v;
            if (bpp == 4) {
                same = same && px[1] == v && px[2] == v && px[3] == 0;
            }
            if (!same) {
                result.problem = "pixel (" + std::to_string(x) + ", " + std::to_string(y)
                                 + ") does not belong to frame " + std::to_string(result.sequence) + " of device "
                                 + std::to_string(result.device);
                return result;
            }
        }
    }
    result.whole = true;
    return result;
}

} // namespace simdev
