// Deterministic test pictures and small helpers shared by the anti-aliasing
// tests.
#pragma once

#include "ReferenceAntiAlias.h"
#include "image/ImageBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pelo::testpics {

struct Rng {
    std::uint32_t state;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
};

inline ImagePtr ToImage(const reference::Picture& p) {
    auto img = AllocIpl(p.width, p.height);
    std::memcpy(img->imageData, p.bytes.data(), img->imageSize);
    return img;
}

inline reference::Picture ToPicture(const ImageBuffer& img) {
    reference::Picture p;
    p.width = img.width;
    p.height = img.height;
    p.bytes.assign(img.imageData, img.imageData + img.imageSize);
    return p;
}

inline std::uint64_t Digest(const std::uint8_t* data, std::size_t n) {
    std::uint64_t h = 0xcbf29ce484222325ull; // FNV-1a
    for (std::size_t i = 0; i < n; ++i) {
        h ^= data[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

// Colours chosen to reach every path of the colour mix: black and near
// black against white, pure red, purple and blue, greys, class neighbours.
inline const std::vector<std::uint32_t>& Palette() {
    static const std::vector<std::uint32_t> colours = {
        0x000000, 0xFFFFFF, 0xFF0000, 0xFF00FF, 0x0000FF, 0x00FF00, 0x808080,
        0x0A0A0A, 0x030303, 0x040404, 0xFF0006, 0xF80008, 0x7F007F, 0x123456,
        0xFEDCBA, 0x3C2814, 0xC8C8C8, 0x101010, 0xFFFF00, 0x00FFFF};
    return colours;
}

inline const std::vector<std::uint8_t>& AlphaLevels() {
    static const std::vector<std::uint8_t> levels = {0, 255, 128, 3, 4, 254, 64};
    return levels;
}

// Pixels drawn from a few palette entries, in blocks so that stair steps and
// long runs appear.
inline reference::Picture BlockyPicture(int w, int h, std::uint32_t seed, int colours, int cell) {
    Rng rng{seed * 2654435761u + 17u};
    std::vector<std::uint32_t> pick;
    for (int i = 0; i < colours; ++i)
        pick.push_back(Palette()[static_cast<std::size_t>(rng.below(int(Palette().size())))]);
    std::vector<std::uint8_t> alphas;
    for (int i = 0; i < colours; ++i)
        alphas.push_back(
            AlphaLevels()[static_cast<std::size_t>(rng.below(int(AlphaLevels().size())))]);
    reference::Picture p{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4)};
    const int gw = (w + cell - 1) / cell + 1, gh = (h + cell - 1) / cell + 1;
    std::vector<int> grid(static_cast<std::size_t>(gw) * gh);
    for (int& g : grid)
        g = rng.below(colours);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Jitter the cell borders a little to make staircases.
            int gx = (x + rng.below(2)) / cell, gy = (y + (rng.below(5) == 0)) / cell;
            int index = grid[static_cast<std::size_t>(gy) * gw + gx];
            if (rng.below(40) == 0) index = rng.below(colours);
            const std::uint32_t c = pick[static_cast<std::size_t>(index)];
            std::uint8_t* px = &p.bytes[4 * (static_cast<std::size_t>(y) * w + x)];
            px[0] = static_cast<std::uint8_t>(c);
            px[1] = static_cast<std::uint8_t>(c >> 8);
            px[2] = static_cast<std::uint8_t>(c >> 16);
            px[3] = alphas[static_cast<std::size_t>(index)];
        }
    }
    return p;
}

// Every byte random.
inline reference::Picture NoisePicture(int w, int h, std::uint32_t seed) {
    Rng rng{seed * 747796405u + 1u};
    reference::Picture p{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4)};
    for (auto& b : p.bytes)
        b = static_cast<std::uint8_t>(rng.next() >> 11);
    return p;
}

// Alpha and colour from a character map: '.' transparent black, '#' opaque
// black, other letters index the palette opaque.
inline reference::Picture FromMap(const std::vector<std::string>& rows) {
    const int h = static_cast<int>(rows.size()), w = static_cast<int>(rows[0].size());
    reference::Picture p{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4)};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const char ch = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            std::uint8_t* px = &p.bytes[4 * (static_cast<std::size_t>(y) * w + x)];
            std::uint32_t c = 0;
            std::uint8_t a = 255;
            if (ch == '.')
                a = 0;
            else if (ch >= 'a' && ch <= 'z')
                c = Palette()[static_cast<std::size_t>(ch - 'a') % Palette().size()];
            px[0] = static_cast<std::uint8_t>(c);
            px[1] = static_cast<std::uint8_t>(c >> 8);
            px[2] = static_cast<std::uint8_t>(c >> 16);
            px[3] = a;
        }
    }
    return p;
}

struct Rgb {
    int r, g, b;
};

inline double Y(Rgb c) {
    return 0.29891 * c.r + 0.58661 * c.g + 0.11448 * c.b;
}

// The colour mix with the luminance weight W and the two lift factors given
// by the test, so each correction can be switched on by hand.
struct Mixed {
    long long rawR, rawG, rawB; // after truncation, before any limit
    int r, g, b;
};
inline Mixed Mix(Rgb s, Rgb t, int w, double W, double liftS, double liftT, double gamma = 0.7) {
    const double ys = Y(s), yt = Y(t);
    const double dR = ((t.r - yt) * (256 - w) + (s.r - ys) * w + 128) / 256;
    const double dB = ((t.b - yt) * (256 - w) + (s.b - ys) * w + 128) / 256;
    const double ls = std::pow(ys, gamma) * liftS, lt = std::pow(yt, gamma) * liftT;
    const double e = std::pow((lt * (256 - W) + ls * W + 128) / 256, 1 / gamma);
    Mixed m{};
    m.rawR = static_cast<long long>(e + dR);
    m.rawB = static_cast<long long>(e + dB);
    const long long r = std::min(m.rawR, 255LL), b = std::min(m.rawB, 255LL);
    m.rawG = static_cast<long long>((e - 0.114 * b - 0.299 * r) / 0.587);
    const long long g = std::min(m.rawG, 255LL);
    m.r = static_cast<int>(std::max(r, 0LL));
    m.g = static_cast<int>(std::max(g, 0LL));
    m.b = static_cast<int>(std::max(b, 0LL));
    return m;
}

} // namespace pelo::testpics
