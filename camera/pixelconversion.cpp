// The pixel converters of the frame path. Every colour frame of an industrial
// camera goes through one of them on the SDK's thread, at up to 60 frames of
// 5 megapixels a second, so they work 16 pixels at a time where the processor
// allows and fall back to a plain loop elsewhere (and for the tail).

#include "camerainterface.h"

#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <tmmintrin.h>
#define KORVANE_X86 1
#endif

namespace {

void rgb24ToRgb32Plain(unsigned char* destination, const unsigned char* source, std::size_t pixels)
{
    for (std::size_t p = 0; p < pixels; ++p) {
        destination[0] = source[2];
        destination[1] = source[1];
        destination[2] = source[0];
        destination[3] = 0;
        destination += 4;
        source += 3;
    }
}

void greyToRgb32Plain(unsigned char* destination, const unsigned char* source, std::size_t pixels)
{
    for (std::size_t p = 0; p < pixels; ++p) {
        destination[0] = destination[1] = destination[2] = source[p];
        destination[3] = 0;
        destination += 4;
    }
}

#ifdef KORVANE_X86
// Four pixels per shuffle: source bytes 2, 1, 0 of each pixel, then a zero
// (an index with its top bit set gives 0).
__attribute__((target("ssse3"))) std::size_t rgb24ToRgb32Ssse3(unsigned char* destination,
                                                                const unsigned char* source, std::size_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, -128, 5, 4, 3, -128, 8, 7, 6, -128, 11, 10, 9, -128);
    std::size_t p = 0;
    // Each 16-byte load reads 4 bytes beyond the 4 pixels it converts: stop
    // while those bytes still belong to the frame.
    for (; p + 18 <= pixels; p += 16) {
        const unsigned char* s = source + 3 * p;
        unsigned char* d = destination + 4 * p;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 24));
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 36));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_shuffle_epi8(a, order));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_shuffle_epi8(b, order));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_shuffle_epi8(c, order));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_shuffle_epi8(e, order));
    }
    return p;
}

bool haveSsse3()
{
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}

std::size_t greyToRgb32Sse2(unsigned char* destination, const unsigned char* source, std::size_t pixels)
{
    const __m128i zero = _mm_setzero_si128();
    std::size_t p = 0;
    for (; p + 16 <= pixels; p += 16) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + p));
        const __m128i gg0 = _mm_unpacklo_epi8(g, g);     // v v for pixels 0..7
        const __m128i gg1 = _mm_unpackhi_epi8(g, g);     // pixels 8..15
        const __m128i gz0 = _mm_unpacklo_epi8(g, zero);  // v 0
        const __m128i gz1 = _mm_unpackhi_epi8(g, zero);
        unsigned char* d = destination + 4 * p;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(gg0, gz0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi16(gg0, gz0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_unpacklo_epi16(gg1, gz1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_unpackhi_epi16(gg1, gz1));
    }
    return p;
}
#endif

} // namespace

void rgb24ToRgb32(unsigned char* destination, const unsigned char* source, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    std::size_t done = 0;
#ifdef KORVANE_X86
    if (haveSsse3()) {
        done = rgb24ToRgb32Ssse3(destination, source, pixels);
    }
#endif
    rgb24ToRgb32Plain(destination + 4 * done, source + 3 * done, pixels - done);
}

void greyToRgb32(unsigned char* destination, const unsigned char* source, int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    std::size_t done = 0;
#ifdef KORVANE_X86
    done = greyToRgb32Sse2(destination, source, pixels);
#endif
    greyToRgb32Plain(destination + 4 * done, source + done, pixels - done);
}
