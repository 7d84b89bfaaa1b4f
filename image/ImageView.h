// What an anti-aliasing pass is given: the pixels it works on in place, the
// area it scans and the settings that steer detection and blending.
#pragma once

#include "image/ConversionSettings.h"
#include "image/ImageBuffer.h"

#include <cstdint>

namespace pelo {

// Pixels laid out as in ImageBuffer (4 bytes per pixel, rows packed).
// Width and height are kept at full int range: large pictures are processed
// exactly as small ones.
struct ImageView {
    std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

struct AntiAliasParams : ColourCorrection {
    int x0 = 0; // first column of the area
    int y0 = 0; // first row of the area
    int x1 = 0; // last column of the area (inclusive)
    int y1 = 0; // last row of the area (inclusive)
    // Low 16 bits of the settings' threshold, signed: 0 or negative disables
    // both passes.
    std::int16_t detectThreshold = 0;
};

inline ImageView MakeImageView(ImageBuffer& image) {
    return ImageView{image.imageData, image.width, image.height};
}

// The whole picture as the area, with the settings' colour corrections.
inline AntiAliasParams MakeAntiAliasParams(const ConversionSettings& s, int width, int height) {
    AntiAliasParams p;
    p.x0 = 0;
    p.y0 = 0;
    p.x1 = width - 1;
    p.y1 = height - 1;
    p.detectThreshold =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(s.detectThreshold & 0xFFFFu));
    static_cast<ColourCorrection&>(p) = s;
    return p;
}

} // namespace pelo
