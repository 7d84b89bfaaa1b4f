// Pictures for the ERI tests and what the loader must make of them.
#pragma once

#include "EriFileWriter.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace pelo::eritest {

// Ramps with noise and flat patches, so that zero runs, small and large
// residuals all occur. 16-bit pixels keep bit 15 clear.
inline EriTestPicture NoisePicture(int w, int h, std::uint32_t format, int bits, std::uint32_t seed,
                                   int noise = 7) {
    EriTestPicture p;
    p.width = w;
    p.height = h;
    p.pixelFormat = format;
    p.bitsPerPixel = bits;
    const int bytes = bits / 8;
    p.pixels.resize(std::size_t(w) * h * bytes);
    std::uint32_t state = seed * 2654435761u + 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const bool flat = ((x / 5) + (y / 3)) % 3 == 0;
            for (int k = 0; k < bytes; ++k) {
                const std::uint8_t v = flat ? std::uint8_t(40 * k + 7)
                                            : std::uint8_t(x * (k + 1) + y * 3 +
                                                           ((state >> (8 + k * 5)) % (noise + 1)));
                p.pixels[(std::size_t(y) * w + x) * bytes + k] = v;
            }
            if (bits == 16) p.pixels[(std::size_t(y) * w + x) * 2 + 1] &= 0x7F;
        }
    return p;
}

// DIB rows the loader must produce: bottom-up, padded to 4 bytes with zeros;
// 32-bit colour without alpha reads as opaque.
inline std::vector<std::uint8_t> ExpectedRows(const EriTestPicture& p) {
    const int bytes = p.bitsPerPixel / 8;
    const std::size_t stride = (std::size_t(p.width) * bytes + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> out(stride * p.height, 0);
    for (int r = 0; r < p.height; ++r) {
        const std::uint8_t* src = p.pixels.data() + std::size_t(p.height - 1 - r) * p.width * bytes;
        std::memcpy(out.data() + r * stride, src, std::size_t(p.width) * bytes);
        if (p.bitsPerPixel == 32 && !(p.pixelFormat & kEriAlphaFlag))
            for (int x = 0; x < p.width; ++x)
                out[r * stride + 4 * x + 3] = 255;
    }
    return out;
}

} // namespace pelo::eritest
