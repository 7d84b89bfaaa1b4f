// A deliberately plain second implementation of the anti-aliasing passes,
// written line by line from the description of the algorithm: no tables, no
// caches, every comparison an integer division, every blend recomputed. The
// production passes must give the same bytes.
#pragma once

#include "image/ConversionSettings.h"

#include <cstdint>
#include <vector>

namespace pelo::reference {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes; // blue, green, red, alpha per pixel, rows packed
};

void ColourPass(Picture& picture, const ConversionSettings& settings);
void AlphaPass(Picture& picture, const ConversionSettings& settings);

// Colour pass, then the alpha pass when asked.
void AntiAlias(Picture& picture, const ConversionSettings& settings, bool alphaPass);

} // namespace pelo::reference
