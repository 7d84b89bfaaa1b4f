#include "samples/SpriteArt.h"

#include "samples/ArtDrawing.h"

#include <cstdlib>
#include <cstring>

namespace pelo::samples {

namespace {

constexpr Colour kPalette[] = {
    {40, 40, 220, 255}, {60, 200, 80, 255},   {230, 120, 40, 255},  {0, 0, 255, 255},
    {255, 0, 255, 255}, {30, 220, 240, 255},  {200, 200, 200, 255}, {120, 60, 150, 255},
    {20, 90, 160, 255}, {250, 250, 250, 255},
};
constexpr Colour kOutline = {24, 20, 28, 255};

bool Inside(int shape, int dx, int dy, int r) {
    switch (shape) {
    case 0:
        return dx * dx + dy * dy <= r * r; // disc
    case 1:
        return std::abs(dx) + std::abs(dy) <= r; // diamond
    case 2:
        return std::abs(dx) <= r && std::abs(dy) <= r / 2; // bar
    default:
        return dy >= -r / 2 && std::abs(dx) <= (dy + r / 2) / 2 + 1 && dy <= r / 2; // wedge
    }
}

void DrawShape(ImageBuffer& img, int cx, int cy, int r, int shape, Colour fill) {
    for (int dy = -r - 1; dy <= r + 1; ++dy) {
        for (int dx = -r - 1; dx <= r + 1; ++dx) {
            if (!Inside(shape, dx, dy, r)) continue;
            const bool edge = !Inside(shape, dx - 1, dy, r) || !Inside(shape, dx + 1, dy, r) ||
                              !Inside(shape, dx, dy - 1, r) || !Inside(shape, dx, dy + 1, r);
            Put(img, cx + dx, cy + dy, edge ? kOutline : fill);
        }
    }
}

void Decorate(ImageBuffer& img, std::uint32_t seed) {
    Random rnd{seed ? seed : 0x9E3779B9u};
    const int cell = 24;
    for (int cy = cell / 2; cy < img.height; cy += cell) {
        for (int cx = cell / 2; cx < img.width; cx += cell) {
            if (rnd.next() % 5 == 0) continue;
            const Colour fill = kPalette[rnd.next() % (sizeof kPalette / sizeof kPalette[0])];
            DrawShape(img, cx + rnd.range(-3, 3), cy + rnd.range(-3, 3), rnd.range(4, 10),
                      static_cast<int>(rnd.next() % 4), fill);
        }
    }
    const int lines = 4 + (img.width + img.height) / 64;
    for (int i = 0; i < lines; ++i) {
        const Colour c = kPalette[rnd.next() % (sizeof kPalette / sizeof kPalette[0])];
        DrawLine(img, rnd.range(0, img.width - 1), rnd.range(0, img.height - 1),
                 rnd.range(0, img.width - 1), rnd.range(0, img.height - 1), c);
    }
}

} // namespace

ImagePtr MakeSpriteSheet(int width, int height, std::uint32_t seed) {
    auto img = AllocIpl(width, height);
    if (!img) return nullptr;
    ClearImage(*img);
    Decorate(*img, seed);
    return img;
}

ImagePtr MakeOpaqueScene(int width, int height, std::uint32_t seed) {
    auto img = AllocIpl(width, height);
    if (!img) return nullptr;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            Put(*img, x, y, Colour{200, 170, 120, 255});
    Decorate(*img, seed);
    return img;
}

SpriteStats MeasureEdges(const ImageBuffer& image) {
    SpriteStats stats;
    stats.pixels = image.pixelCount();
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            const bool right = x + 1 < image.width && std::memcmp(p, p + 4, 4) != 0;
            const bool down = y + 1 < image.height && std::memcmp(p, image.pixel(x, y + 1), 4) != 0;
            if (right || down) ++stats.edgePixels;
        }
    }
    return stats;
}

} // namespace pelo::samples
