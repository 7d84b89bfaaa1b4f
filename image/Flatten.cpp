#include "image/Flatten.h"

#include "image/ParallelBands.h"

namespace pelo {

namespace {

// The pixels of rows [y0, y1).
std::uint8_t* RowsOf(ImageBuffer& image, const RowBand& band, std::size_t& count) {
    const std::size_t width = static_cast<std::size_t>(image.width);
    count = width * static_cast<std::size_t>(band.y1 - band.y0);
    return image.imageData + 4 * width * static_cast<std::size_t>(band.y0);
}

} // namespace

void ClearHiddenColour(ImageBuffer& image, unsigned threads) {
    ForEachBand(SplitIntoBands(image.width, image.height, threads), threads,
                [&](const RowBand& band) {
                    std::size_t n = 0;
                    std::uint8_t* p = RowsOf(image, band, n);
                    for (std::size_t i = 0; i < n; ++i, p += 4)
                        if (p[3] == 0) p[0] = p[1] = p[2] = 0;
                });
}

void FlattenOnto(ImageBuffer& image, std::uint32_t background, unsigned threads) {
    // Pixels are blue, green, red, alpha.
    const unsigned under[3] = {background & 0xFF, (background >> 8) & 0xFF,
                               (background >> 16) & 0xFF};
    ForEachBand(
        SplitIntoBands(image.width, image.height, threads), threads, [&](const RowBand& band) {
            std::size_t n = 0;
            std::uint8_t* p = RowsOf(image, band, n);
            for (std::size_t i = 0; i < n; ++i, p += 4) {
                const unsigned a = p[3];
                for (int c = 0; c < 3; ++c) // + 127: round to nearest
                    p[c] = static_cast<std::uint8_t>((p[c] * a + under[c] * (255 - a) + 127) / 255);
                p[3] = 255;
            }
        });
}

} // namespace pelo
