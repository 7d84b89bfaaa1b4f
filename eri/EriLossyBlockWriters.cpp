#include "eri/EriLossyBlockWriters.h"

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

} // namespace

void WriteEriLossy3(std::uint8_t* dst, std::ptrdiff_t stride, int columns, int rows,
                    const float* const* planes, int side, int step) {
    for (int y = 0; y < rows; ++y, dst += stride) {
        const std::size_t row = std::size_t(y) * side;
        std::uint8_t* d = dst;
        for (int x = 0; x < columns; ++x, d += step) {
            d[0] = RoundClamp(planes[0][row + x]);
            d[1] = RoundClamp(planes[1][row + x]);
            d[2] = RoundClamp(planes[2][row + x]);
        }
    }
}

void WriteEriLossy4(std::uint8_t* dst, std::ptrdiff_t stride, int columns, int rows,
                    const float* const* planes, int side, int) {
    for (int y = 0; y < rows; ++y, dst += stride) {
        const std::size_t row = std::size_t(y) * side;
        for (int x = 0; x < columns; ++x) {
            dst[4 * x] = RoundClamp(planes[0][row + x]);
            dst[4 * x + 1] = RoundClamp(planes[1][row + x]);
            dst[4 * x + 2] = RoundClamp(planes[2][row + x]);
            dst[4 * x + 3] = RoundClamp(planes[3][row + x]);
        }
    }
}

} // namespace pelo
