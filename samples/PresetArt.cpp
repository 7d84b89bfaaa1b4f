#include "samples/PresetArt.h"

#include "samples/ArtDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pelo::samples {

namespace {

struct Rgb {
    int r, g, b;
};

void Put(ImageBuffer& img, int x, int y, Rgb c, int a = 255) {
    if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
    std::uint8_t* p = img.pixel(x, y);
    p[0] = static_cast<std::uint8_t>(std::clamp(c.b, 0, 255));
    p[1] = static_cast<std::uint8_t>(std::clamp(c.g, 0, 255));
    p[2] = static_cast<std::uint8_t>(std::clamp(c.r, 0, 255));
    p[3] = static_cast<std::uint8_t>(a);
}

void FillHidden(ImageBuffer& img, std::uint32_t hidden) {
    const Rgb c{int(hidden >> 16 & 0xFF), int(hidden >> 8 & 0xFF), int(hidden & 0xFF)};
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            Put(img, x, y, c, 0);
}

// Flat pixel art: blobs in three shades of one hue (light from the upper
// left), a dark one-pixel outline, red next to dark red.
void DrawPixelArt(ImageBuffer& img, Random& rnd) {
    static const Rgb kHues[] = {{220, 6, 0},    {60, 170, 60},  {60, 90, 210},
                                {230, 190, 60}, {170, 80, 190}, {240, 240, 240}};
    const int cell = 40;
    for (int cy = cell / 2; cy < img.height; cy += cell) {
        for (int cx = cell / 2; cx < img.width; cx += cell) {
            const Rgb base = kHues[rnd.next() % 6];
            const int rx = rnd.range(8, 17), ry = rnd.range(8, 17);
            auto inside = [&](int dx, int dy) {
                return dx * dx * ry * ry + dy * dy * rx * rx <= rx * rx * ry * ry;
            };
            for (int dy = -ry - 1; dy <= ry + 1; ++dy) {
                for (int dx = -rx - 1; dx <= rx + 1; ++dx) {
                    if (!inside(dx, dy)) continue;
                    const bool edge = !inside(dx - 1, dy) || !inside(dx + 1, dy) ||
                                      !inside(dx, dy - 1) || !inside(dx, dy + 1);
                    // Posterised shading: three bands along the light direction.
                    const int band = (dx + dy) * 3 / (rx + ry + 1) + 1;
                    const double shade = band <= 0 ? 1.15 : band == 1 ? 1.0 : 0.62;
                    Rgb c{int(base.r * shade), int(base.g * shade), int(base.b * shade)};
                    if (edge) c = {28, 20, 30};
                    Put(img, cx + dx, cy + dy, c);
                }
            }
        }
    }
}

// Painted sprites: smooth shading, alpha from 4 x 4 coverage.
void DrawPainted(ImageBuffer& img, Random& rnd) {
    const int cell = 48;
    for (int cy = cell / 2; cy < img.height; cy += cell) {
        for (int cx = cell / 2; cx < img.width; cx += cell) {
            const Rgb base{rnd.range(40, 240), rnd.range(40, 240), rnd.range(40, 240)};
            const double rx = rnd.range(10, 21) + 0.5, ry = rnd.range(10, 21) + 0.5;
            for (int y = int(-ry) - 2; y <= int(ry) + 2; ++y) {
                for (int x = int(-rx) - 2; x <= int(rx) + 2; ++x) {
                    int covered = 0;
                    for (int sy = 0; sy < 4; ++sy)
                        for (int sx = 0; sx < 4; ++sx) {
                            const double u = (x + (sx + 0.5) / 4) / rx;
                            const double v = (y + (sy + 0.5) / 4) / ry;
                            covered += u * u + v * v <= 1.0;
                        }
                    if (covered == 0) continue;
                    const double light = 1.2 - 0.5 * ((x / rx + y / ry) * 0.5 + 0.5);
                    Put(img, cx + x, cy + y,
                        {int(base.r * light), int(base.g * light), int(base.b * light)},
                        covered * 255 / 16);
                }
            }
        }
    }
}

// A 5 x 7 one-pixel font: a few glyphs, in light colours on transparency.
void DrawFont(ImageBuffer& img, Random& rnd) {
    static const char* kGlyphs[][7] = {
        {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"},
        {"#### ", "#   #", "#### ", "#   #", "#   #", "#   #", "#### "},
        {" ####", "#    ", "#    ", "#    ", "#    ", "#    ", " ####"},
        {"#   #", "## ##", "# # #", "#   #", "#   #", "#   #", "#   #"},
        {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"},
        {" ### ", "#   #", "    #", "   # ", "  #  ", "     ", "  #  "},
    };
    static const Rgb kInks[] = {{255, 255, 255}, {255, 230, 90}, {120, 230, 255}};
    for (int top = 2; top + 7 <= img.height; top += 10) {
        const Rgb ink = kInks[rnd.next() % 3];
        for (int left = 2; left + 5 <= img.width; left += 7) {
            const auto& glyph = kGlyphs[rnd.next() % 6];
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 5; ++x)
                    if (glyph[y][x] == '#') Put(img, left + x, top + y, ink);
        }
    }
}

// Opaque tiles: gradients posterised to six levels, diagonal stripes.
void DrawTiles(ImageBuffer& img, Random& rnd) {
    const int tile = 32;
    for (int ty = 0; ty < img.height; ty += tile) {
        for (int tx = 0; tx < img.width; tx += tile) {
            const Rgb base{rnd.range(60, 200), rnd.range(60, 200), rnd.range(60, 200)};
            const bool stripes = rnd.next() % 2 == 0;
            for (int y = 0; y < tile; ++y)
                for (int x = 0; x < tile; ++x) {
                    const int level = stripes ? ((x + y) / 6) % 2 * 3 : (x + y) * 6 / (2 * tile);
                    const int d = level * 14 - 35;
                    Put(img, tx + x, ty + y, {base.r + d, base.g + d, base.b + d});
                }
        }
    }
}

} // namespace

std::string_view ArtKindName(ArtKind kind) {
    switch (kind) {
    case ArtKind::PixelArt:
        return "pixel art";
    case ArtKind::Painted:
        return "painted";
    case ArtKind::Font:
        return "pixel font";
    case ArtKind::Tiles:
        return "tiles";
    }
    return "";
}

ImagePtr MakeArt(ArtKind kind, int width, int height, std::uint32_t seed, std::uint32_t hidden) {
    auto img = AllocIpl(width, height);
    if (!img) return nullptr;
    FillHidden(*img, hidden);
    Random rnd{seed ? seed : 0x9E3779B9u};
    switch (kind) {
    case ArtKind::PixelArt:
        DrawPixelArt(*img, rnd);
        break;
    case ArtKind::Painted:
        DrawPainted(*img, rnd);
        break;
    case ArtKind::Font:
        DrawFont(*img, rnd);
        break;
    case ArtKind::Tiles:
        DrawTiles(*img, rnd);
        break;
    }
    return img;
}

} // namespace pelo::samples
