// Draws the before/after picture of the demo: for every pair of files given,
// the original and the result side by side, enlarged 4x nearest-neighbour on
// a checkerboard so that transparency shows.
//   pelo-before-after OUT.png BEFORE AFTER [BEFORE AFTER ...]
#include "formats/Codec.h"
#include "image/PackedDib.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kScale = 4;
constexpr int kGap = 8;

pelo::ImagePtr Load(const std::string& path) {
    pelo::PackedDibPtr block;
    std::string error;
    if (!pelo::LoadCodecImage(path, block, pelo::CodecDrawing::Raster, &error) || !block) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return nullptr;
    }
    auto image = pelo::ConvertDibToImage(*block);
    if (!image) std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return image;
}

// Straight-alpha "over" onto the checkerboard pixel at (x, y) of the canvas.
void Blend(pelo::ImageBuffer& canvas, int x, int y, const std::uint8_t* src) {
    std::uint8_t* dst = canvas.pixel(x, y);
    const unsigned a = src[3];
    for (int c = 0; c < 3; ++c)
        dst[c] = static_cast<std::uint8_t>((src[c] * a + dst[c] * (255 - a) + 127) / 255);
    dst[3] = 255;
}

void Paste(pelo::ImageBuffer& canvas, const pelo::ImageBuffer& image, int left, int top) {
    for (int y = 0; y < image.height * kScale; ++y)
        for (int x = 0; x < image.width * kScale; ++x)
            Blend(canvas, left + x, top + y, image.pixel(x / kScale, y / kScale));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 2) % 2 != 0) {
        std::fprintf(stderr, "usage: %s OUT.png BEFORE AFTER [BEFORE AFTER ...]\n", argv[0]);
        return 2;
    }
    std::vector<std::pair<pelo::ImagePtr, pelo::ImagePtr>> rows;
    int width = 0, height = kGap;
    for (int i = 2; i + 1 < argc; i += 2) {
        auto before = Load(argv[i]);
        auto after = Load(argv[i + 1]);
        if (!before || !after) return 1;
        width = std::max(width, kGap + (before->width + after->width) * kScale + 2 * kGap);
        height += std::max(before->height, after->height) * kScale + kGap;
        rows.emplace_back(std::move(before), std::move(after));
    }
    auto canvas = pelo::AllocIpl(width, height);
    if (!canvas) return 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t v = ((x / 8 + y / 8) % 2) ? 0xE0 : 0xB8;
            std::uint8_t* p = canvas->pixel(x, y);
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    int top = kGap;
    for (const auto& [before, after] : rows) {
        Paste(*canvas, *before, kGap, top);
        Paste(*canvas, *after, 2 * kGap + before->width * kScale, top);
        top += std::max(before->height, after->height) * kScale + kGap;
    }
    pelo::PackedDib block;
    if (!pelo::ConvertImageToDib(*canvas, block)) return 1;
    const int rc = pelo::SaveCodecImage(argv[1], block);
    std::printf("%s: %s\n", argv[1], rc == 0 ? "written" : "failed");
    return rc == 0 ? 0 : 1;
}
