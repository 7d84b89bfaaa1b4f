// Deterministic pictures of the four kinds of art the presets are judged
// on: flat pixel art with a palette key under its transparent pixels,
// painted sprites with soft alpha, a one-pixel font, and opaque tiles with
// posterised bands.
#pragma once

#include "image/ImageBuffer.h"

#include <cstdint>
#include <string_view>

namespace pelo::samples {

enum class ArtKind { PixelArt, Painted, Font, Tiles };

std::string_view ArtKindName(ArtKind kind);

// A width x height picture of the kind; the same seed gives the same bytes.
// hidden (0xRRGGBB) is the colour stored under fully transparent pixels.
ImagePtr MakeArt(ArtKind kind, int width, int height, std::uint32_t seed,
                 std::uint32_t hidden = 0x690100);

} // namespace pelo::samples
