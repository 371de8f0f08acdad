// The infrared camera's picture converters. Every output byte must equal the
// camera maker's formula evaluated in doubles, so the formula is evaluated as
// written, in the same order; what a 2 x 2 block shares (its four chroma
// products) is computed once per block, and the loops are plain enough for
// the compiler to vectorise.

#include "hikircamera.h"

#include <cstdint>

namespace {

// Truncated and limited to 0..255: a conversion to int truncates towards
// zero, and every value here is far inside an int.
inline int limitByte(double value)
{
    const int t = static_cast<int>(value);
    return t < 0 ? 0 : (t > 255 ? 255 : t);
}

// The grey weighting truncated exactly: its weights add up to 1, so a grey
// pixel keeps its value. Summed in doubles, 65 of the 256 grey levels would
// come out one lower (128 as 127.99999999999999, truncated to 127).
inline int greyOf(int r, int g, int b)
{
    return (299 * r + 587 * g + 114 * b) / 1000;
}

struct Chroma {
    double red;        // 1.370705 V
    double greenU;     // 0.698001 U
    double greenV;     // 0.703125 V
    double blue;       // 1.732446 U
};

inline Chroma chromaOf(int u, int v)
{
    const double U = double(u - 128);
    const double V = double(v - 128);
    return Chroma{1.370705 * V, 0.698001 * U, 0.703125 * V, 1.732446 * U};
}

inline void colourOf(int y, const Chroma& c, int* r, int* g, int* b)
{
    const double Y = double(y);
    *r = limitByte(Y + c.red);
    *g = limitByte(Y - c.greenU - c.greenV);
    *b = limitByte(Y + c.blue);
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

template <int Bytes>
void convert(const unsigned char* source, unsigned char* destination, int width, int height, bool flip)
{
    const std::size_t w = std::size_t(width);
    const std::size_t h = std::size_t(height);
    const unsigned char* vPlane = source + w * h;
    const unsigned char* uPlane = vPlane + (w / 2) * (h / 2);
    for (std::size_t r = 0; r < h; ++r) {
        const unsigned char* y = source + r * w;
        const unsigned char* v = vPlane + (r / 2) * (w / 2);
        const unsigned char* u = uPlane + (r / 2) * (w / 2);
        unsigned char* out = destination + (flip ? h - 1 - r : r) * w * Bytes;
        for (std::size_t c = 0; c < w; ++c) {
            const Chroma chroma = chromaOf(u[c / 2], v[c / 2]);
            int R, G, B;
            colourOf(y[c], chroma, &R, &G, &B);
            if constexpr (Bytes == 1) {
                out[c] = static_cast<unsigned char>(greyOf(R, G, B));
            } else {
                out[4 * c] = static_cast<unsigned char>(B);
                out[4 * c + 1] = static_cast<unsigned char>(G);
                out[4 * c + 2] = static_cast<unsigned char>(R);
                out[4 * c + 3] = 0;
            }
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
    convert<1>(source, destination, width, height, flip);
    return true;
}

bool yv12ToBgra(const unsigned char* source, std::size_t sourceBytes, unsigned char* destination, int width,
                int height, bool flip)
{
    if (!acceptable(source, sourceBytes, destination, width, height)) {
        return false;
    }
    convert<4>(source, destination, width, height, flip);
    return true;
}
