// Whole-picture steps around the passes: clearing the colour hidden under
// fully transparent pixels, and flattening onto an opaque background.
#pragma once

#include "image/ImageBuffer.h"

#include <cstdint>

namespace pelo {

inline constexpr std::uint32_t kSeedBackground = 0x808080;

// Blue, green and red become 0 on every pixel whose alpha is 0.
void ClearHiddenColour(ImageBuffer& image, unsigned threads = 1);

// Composites the picture over the opaque colour 0xRRGGBB in place: each
// colour becomes (C * a + B * (255 - a)) / 255 rounded to nearest, alpha 255.
// Split across up to `threads` threads.
void FlattenOnto(ImageBuffer& image, std::uint32_t background, unsigned threads = 1);

inline void FlattenOntoGrey(ImageBuffer& image) {
    FlattenOnto(image, kSeedBackground);
}

} // namespace pelo
