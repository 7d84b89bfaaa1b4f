#include "image/Flatten.h"

namespace pelo {

void ClearHiddenColour(ImageBuffer& image) {
    std::uint8_t* p = image.imageData;
    for (std::size_t i = 0, n = image.pixelCount(); i < n; ++i, p += 4)
        if (p[3] == 0) p[0] = p[1] = p[2] = 0;
}

void FlattenOnto(ImageBuffer& image, std::uint32_t background) {
    // Pixels are blue, green, red, alpha.
    const unsigned under[3] = {background & 0xFF, (background >> 8) & 0xFF,
                               (background >> 16) & 0xFF};
    std::uint8_t* p = image.imageData;
    for (std::size_t i = 0, n = image.pixelCount(); i < n; ++i, p += 4) {
        const unsigned a = p[3];
        for (int c = 0; c < 3; ++c) // + 127: round to nearest
            p[c] = static_cast<std::uint8_t>((p[c] * a + under[c] * (255 - a) + 127) / 255);
        p[3] = 255;
    }
}

} // namespace pelo
