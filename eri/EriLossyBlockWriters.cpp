#include "eri/EriLossyBlockWriters.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelo {

namespace {

inline std::uint8_t RoundClamp(float v) {
    // Clamping first gives the same bytes as rounding first (the bounds are
    // integers); the comparisons also send NaN to 0. Adding 2^23 leaves no
    // fraction bits, so the addition itself rounds to nearest, ties to even,
    // without a library call per value.
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
    return static_cast<std::uint8_t>((v + 8388608.0f) - 8388608.0f);
}

#if defined(__SSE2__)
// RoundClamp on four lanes: max and min keep their second operand for NaN,
// which is the scalar comparison exactly; the conversion then meets whole
// numbers only.
inline __m128i RoundClamp4(__m128 v) {
    const __m128 magic = _mm_set1_ps(8388608.0f);
    v = _mm_max_ps(v, _mm_setzero_ps());
    v = _mm_min_ps(v, _mm_set1_ps(255.0f));
    return _mm_cvttps_epi32(_mm_sub_ps(_mm_add_ps(v, magic), magic));
}

// Eight values of a plane as eight 16-bit lanes of 0..255.
inline __m128i Bytes8(const float* p) {
    return _mm_packs_epi32(RoundClamp4(_mm_loadu_ps(p)), RoundClamp4(_mm_loadu_ps(p + 4)));
}

// Eight pixels as 32-bit words: byte 0 from low, byte 1 from high, byte 2
// from third, byte 3 from fourth (each 16-bit lanes of 0..255).
inline void Interleave8(__m128i low, __m128i high, __m128i third, __m128i fourth, __m128i& first,
                        __m128i& second) {
    const __m128i pairs = _mm_or_si128(low, _mm_slli_epi16(high, 8));
    const __m128i upper = _mm_or_si128(third, _mm_slli_epi16(fourth, 8));
    first = _mm_unpacklo_epi16(pairs, upper);
    second = _mm_unpackhi_epi16(pairs, upper);
}

// Four 32-bit pixels whose top bytes are zero, packed into their 12 low bytes.
inline __m128i Pack3(__m128i pixels) {
    const __m128i low = _mm_set_epi32(0, 0, 0, 0x00FFFFFF);
    const __m128i second = _mm_set_epi32(0, 0, 0x00FFFFFF, 0);
    const __m128i third = _mm_set_epi32(0, 0x00FFFFFF, 0, 0);
    const __m128i fourth = _mm_set_epi32(0x00FFFFFF, 0, 0, 0);
    return _mm_or_si128(
        _mm_or_si128(_mm_and_si128(pixels, low), _mm_srli_si128(_mm_and_si128(pixels, second), 1)),
        _mm_or_si128(_mm_srli_si128(_mm_and_si128(pixels, third), 2),
                     _mm_srli_si128(_mm_and_si128(pixels, fourth), 3)));
}
#endif

} // namespace

void WriteEriLossy3(std::uint8_t* dst, std::ptrdiff_t stride, int columns, int rows,
                    const float* const* planes, int side, int step) {
    // Local copies: the byte stores could alias the pointer array.
    const float* const blue = planes[0];
    const float* const green = planes[1];
    const float* const red = planes[2];
    for (int y = 0; y < rows; ++y, dst += stride) {
        const std::size_t row = std::size_t(y) * side;
        const float* b = blue + row;
        const float* g = green + row;
        const float* r = red + row;
        int x = 0;
#if defined(__SSE2__)
        if (step == 3 || step == 4) {
            const __m128i zero = _mm_setzero_si128();
            for (; x + 8 <= columns; x += 8) {
                __m128i first, second;
                Interleave8(Bytes8(b + x), Bytes8(g + x), Bytes8(r + x), zero, first, second);
                std::uint8_t* d = dst + std::ptrdiff_t(x) * step;
                if (step == 3) {
                    // 24 bytes: twelve from each half.
                    const __m128i a = Pack3(first);
                    const __m128i c = Pack3(second);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                                     _mm_or_si128(a, _mm_slli_si128(c, 12)));
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm_srli_si128(c, 4));
                } else {
                    // The fourth byte of each pixel is left as it was.
                    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
                    __m128i* p = reinterpret_cast<__m128i*>(d);
                    _mm_storeu_si128(p,
                                     _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), keep), first));
                    _mm_storeu_si128(
                        p + 1, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p + 1), keep), second));
                }
            }
        }
#endif
        for (std::uint8_t* d = dst + std::ptrdiff_t(x) * step; x < columns; ++x, d += step) {
            d[0] = RoundClamp(b[x]);
            d[1] = RoundClamp(g[x]);
            d[2] = RoundClamp(r[x]);
        }
    }
}

void WriteEriLossy4(std::uint8_t* dst, std::ptrdiff_t stride, int columns, int rows,
                    const float* const* planes, int side, int) {
    const float* const blue = planes[0];
    const float* const green = planes[1];
    const float* const red = planes[2];
    const float* const alpha = planes[3];
    for (int y = 0; y < rows; ++y, dst += stride) {
        const std::size_t row = std::size_t(y) * side;
        const float* b = blue + row;
        const float* g = green + row;
        const float* r = red + row;
        const float* a = alpha + row;
        int x = 0;
#if defined(__SSE2__)
        for (; x + 8 <= columns; x += 8) {
            __m128i first, second;
            Interleave8(Bytes8(b + x), Bytes8(g + x), Bytes8(r + x), Bytes8(a + x), first, second);
            __m128i* p = reinterpret_cast<__m128i*>(dst + 4 * std::ptrdiff_t(x));
            _mm_storeu_si128(p, first);
            _mm_storeu_si128(p + 1, second);
        }
#endif
        for (; x < columns; ++x) {
            dst[4 * x] = RoundClamp(b[x]);
            dst[4 * x + 1] = RoundClamp(g[x]);
            dst[4 * x + 2] = RoundClamp(r[x]);
            dst[4 * x + 3] = RoundClamp(a[x]);
        }
    }
}

} // namespace pelo
