// Deterministic sprite-like pictures: flat colours, pixel-art shapes with
// stair-stepped dark outlines, hard alpha edges and diagonal lines. Used by
// the demo, the benchmarks and the tests.
#pragma once

#include "image/ImageBuffer.h"

#include <cstdint>

namespace pelo::samples {

struct SpriteStats {
    std::uint64_t pixels = 0;
    std::uint64_t edgePixels =
        0; // pixels whose right or lower neighbour differs in colour or alpha
    double edgeShare() const { return pixels ? double(edgePixels) / double(pixels) : 0.0; }
};

// Draws a sprite sheet of the given size; the same seed gives the same bytes.
// Transparent background (colour bytes black), opaque shapes.
ImagePtr MakeSpriteSheet(int width, int height, std::uint32_t seed);

// An opaque picture (no transparent pixel): shapes on a flat backdrop.
ImagePtr MakeOpaqueScene(int width, int height, std::uint32_t seed);

SpriteStats MeasureEdges(const ImageBuffer& image);

} // namespace pelo::samples
