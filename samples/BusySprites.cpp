#include "samples/BusySprites.h"

#include "samples/ArtDrawing.h"

#include <algorithm>
#include <cstdlib>

namespace pelo::samples {

namespace {

constexpr Colour kFills[] = {
    {40, 40, 220, 255}, {60, 200, 80, 255},   {230, 120, 40, 255},  {0, 0, 255, 255},
    {255, 0, 255, 255}, {30, 220, 240, 255},  {200, 200, 200, 255}, {120, 60, 150, 255},
    {20, 90, 160, 255}, {250, 250, 250, 255}, {90, 160, 20, 255},   {180, 40, 90, 255},
};
constexpr int kFillCount = sizeof kFills / sizeof kFills[0];
constexpr Colour kOutline = {24, 20, 28, 255};

// Distance-like measure of (dx, dy) from the centre for each shape; inside
// when at most r.
int Measure(int shape, int dx, int dy) {
    switch (shape) {
    case 0: { // disc
        int d = 0;
        while ((d + 1) * (d + 1) <= dx * dx + dy * dy)
            ++d;
        return d;
    }
    case 1: // diamond
        return std::abs(dx) + std::abs(dy);
    case 2: // slanted box
        return std::max(std::abs(dx + dy / 2), std::abs(dy));
    default: // octagon
        return std::max(std::max(std::abs(dx), std::abs(dy)),
                        (std::abs(dx) + std::abs(dy)) * 2 / 3);
    }
}

// One sprite: fill (with diagonal stripes of a second colour on some),
// outline ring, and on some a soft rim of falling alpha outside it.
void DrawSprite(ImageBuffer& img, int cx, int cy, int r, Random& rnd) {
    const int shape = static_cast<int>(rnd.next() % 4);
    const Colour fill = kFills[rnd.next() % kFillCount];
    const Colour stripe = kFills[rnd.next() % kFillCount];
    const bool striped = rnd.next() % 2 == 0;
    const int period = rnd.range(3, 6);
    const bool soft = rnd.next() % 3 != 0;
    const int rim = soft ? 2 : 0;
    for (int dy = -r - rim; dy <= r + rim; ++dy) {
        for (int dx = -r - rim; dx <= r + rim; ++dx) {
            const int d = Measure(shape, dx, dy);
            if (d > r + rim) continue;
            Colour c = fill;
            if (d > r) {
                c = kOutline;
                c.a = static_cast<std::uint8_t>(d == r + 1 ? 150 : 60);
            } else if (d == r) {
                c = kOutline;
            } else if (striped && ((dx + dy) % period + period) % period == 0) {
                c = stripe;
            }
            Put(img, cx + dx, cy + dy, c);
        }
    }
}

} // namespace

ImagePtr MakeBusySpriteSheet(int width, int height, std::uint32_t seed) {
    auto img = AllocIpl(width, height);
    if (!img) return nullptr;
    ClearImage(*img);
    Random rnd{seed ? seed : 0x9E3779B9u};
    const int cell = 28;
    for (int cy = cell / 2; cy < height + cell / 2; cy += cell) {
        for (int cx = cell / 2; cx < width + cell / 2; cx += cell) {
            if (rnd.next() % 3 == 0) continue;
            DrawSprite(*img, cx + rnd.range(-2, 2), cy + rnd.range(-2, 2), rnd.range(4, 7), rnd);
        }
    }
    // Long lines cross many sprites and the transparent gaps between them.
    const int lines = 2 + (width + height) / 48;
    for (int i = 0; i < lines; ++i) {
        const Colour c = kFills[rnd.next() % kFillCount];
        DrawLine(*img, rnd.range(0, width - 1), rnd.range(0, height - 1), rnd.range(0, width - 1),
                 rnd.range(0, height - 1), c);
    }
    return img;
}

} // namespace pelo::samples
