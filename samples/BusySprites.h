// A dense sprite sheet for measuring the anti-aliasing passes: small sprites
// packed edge to edge with flat fills, dark outlines, soft alpha rims,
// diagonal stripes and lines on a transparent background, so that the
// passes change about a fifth of the pixels.
#pragma once

#include "image/ImageBuffer.h"

#include <cstdint>

namespace pelo::samples {

// The same size and seed give the same bytes.
ImagePtr MakeBusySpriteSheet(int width, int height, std::uint32_t seed);

} // namespace pelo::samples
