// What the drawn samples share: a small deterministic generator
// (xorshift32, independent of the library, so the same seed gives the same
// pictures everywhere), a colour, clipped pixels and lines.
#pragma once

#include "image/ImageBuffer.h"

#include <cstdint>
#include <cstdlib>

namespace pelo::samples {

struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int range(int lo, int hi) {
        return lo + static_cast<int>(next() % static_cast<std::uint32_t>(hi - lo + 1));
    }
};

struct Colour {
    std::uint8_t b, g, r, a;
};

inline void Put(ImageBuffer& img, int x, int y, Colour c) {
    if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
    std::uint8_t* p = img.pixel(x, y);
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
    p[3] = c.a;
}

inline void DrawLine(ImageBuffer& img, int x0, int y0, int x1, int y1, Colour c) {
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        Put(img, x0, y0, c);
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

} // namespace pelo::samples
