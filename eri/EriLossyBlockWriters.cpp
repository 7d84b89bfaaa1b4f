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
// RoundClamp on eight values. The conversion rounds to nearest, ties to even
// (the default mode, as the scalar addition relies on too); values below 0,
// and NaN, which the minimum passes through and the conversion turns into
// the most negative integer, then saturate to 0 in the packing.
inline __m128i Words8(const float* p) {
    const __m128 top = _mm_set1_ps(255.0f);
    return _mm_packs_epi32(_mm_cvtps_epi32(_mm_min_ps(top, _mm_loadu_ps(p))),
                           _mm_cvtps_epi32(_mm_min_ps(top, _mm_loadu_ps(p + 4))));
}

// Eight pixels of four bytes from four rows of eight 16-bit values.
inline void Interleave8(__m128i b, __m128i g, __m128i r, __m128i a, __m128i& first,
                        __m128i& second) {
    const __m128i bg = _mm_packus_epi16(b, g); // b0..b7 g0..g7
    const __m128i ra = _mm_packus_epi16(r, a);
    const __m128i br = _mm_unpacklo_epi8(bg, ra); // b0 r0 b1 r1 ..
    const __m128i ga = _mm_unpackhi_epi8(bg, ra); // g0 a0 g1 a1 ..
    first = _mm_unpacklo_epi8(br, ga);
    second = _mm_unpackhi_epi8(br, ga);
}

// Four 32-bit pixels whose top bytes are zero, packed into their 12 low
// bytes (the others zero).
inline __m128i Pack3(__m128i pixels) {
    const __m128i low = _mm_set_epi32(0, -1, 0, -1);
    // Each 64-bit half: the second pixel moved down onto the first's zero byte.
    const __m128i halves =
        _mm_or_si128(_mm_and_si128(pixels, low), _mm_slli_epi64(_mm_srli_epi64(pixels, 32), 24));
    return _mm_or_si128(_mm_move_epi64(halves),
                        _mm_slli_si128(_mm_unpackhi_epi64(halves, _mm_setzero_si128()), 6));
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
                Interleave8(Words8(b + x), Words8(g + x), Words8(r + x), zero, first, second);
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
            Interleave8(Words8(b + x), Words8(g + x), Words8(r + x), Words8(a + x), first, second);
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
