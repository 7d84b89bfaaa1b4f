// Lossy block writers: single-precision planes rounded to the nearest
// integer, ties to even, clamped to 0..255 and stored as 3- or 4-byte pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelo {

// Planes 0..2 are stored as bytes 0..2 of each pixel, pixelStep bytes apart.
void WriteEriLossy3(std::uint8_t* destination, std::ptrdiff_t stride, int columns, int rows,
                    const float* const* planes, int side, int pixelStep);
// Planes 0..3 as the four bytes of each pixel.
void WriteEriLossy4(std::uint8_t* destination, std::ptrdiff_t stride, int columns, int rows,
                    const float* const* planes, int side, int pixelStep);

} // namespace pelo
