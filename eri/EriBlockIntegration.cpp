#include "eri/EriBlockIntegration.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelo {

void IntegrateEriPlaneScalar(std::int32_t* p, int s, std::int32_t* rowSums, std::int32_t* lineAbove,
                             bool alongRows) {
    for (int y = 0; y < s; ++y) {
        std::int32_t* row = p + std::size_t(y) * s;
        if (alongRows) {
            std::int32_t sum = rowSums[y];
            for (int x = 0; x < s; ++x)
                row[x] = sum = WrappingAdd(sum, row[x]);
            rowSums[y] = sum;
        } else {
            rowSums[y] = row[s - 1];
        }
    }
    for (int x = 0; x < s; ++x)
        p[x] = WrappingAdd(p[x], lineAbove[x]);
    for (int y = 1; y < s; ++y) {
        std::int32_t* row = p + std::size_t(y) * s;
        const std::int32_t* above = row - s;
        for (int x = 0; x < s; ++x)
            row[x] = WrappingAdd(row[x], above[x]);
    }
    std::memcpy(lineAbove, p + std::size_t(s - 1) * s, sizeof(std::int32_t) * s);
}

#if defined(__SSE2__)

// One pass per row: the horizontal prefix sum of four lanes in two shifted
// additions plus the carry from the lanes to the left, then the row above.
void IntegrateEriPlane(std::int32_t* p, int s, std::int32_t* rowSums, std::int32_t* lineAbove,
                       bool alongRows) {
    if (s < 4 || s % 4 != 0) {
        IntegrateEriPlaneScalar(p, s, rowSums, lineAbove, alongRows);
        return;
    }
    const std::int32_t* above = lineAbove;
    for (int y = 0; y < s; ++y) {
        std::int32_t* row = p + std::size_t(y) * s;
        if (alongRows) {
            __m128i carry = _mm_set1_epi32(rowSums[y]);
            for (int x = 0; x < s; x += 4) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
                v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
                v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
                v = _mm_add_epi32(v, carry);
                carry = _mm_shuffle_epi32(v, 0xFF);
                const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_add_epi32(v, up));
            }
            rowSums[y] = _mm_cvtsi128_si32(carry);
        } else {
            rowSums[y] = row[s - 1];
            for (int x = 0; x < s; x += 4) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
                const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_add_epi32(v, up));
            }
        }
        above = row;
    }
    for (int x = 0; x < s; x += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lineAbove + x),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x)));
}

#else

void IntegrateEriPlane(std::int32_t* p, int s, std::int32_t* rowSums, std::int32_t* lineAbove,
                       bool alongRows) {
    IntegrateEriPlaneScalar(p, s, rowSums, lineAbove, alongRows);
}

#endif

} // namespace pelo
