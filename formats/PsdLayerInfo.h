// The 112-byte layer record exchanged with the PSD library.
#pragma once

#include <cstdint>

namespace pelo {

struct PsdRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

struct PsdLayerInfo {
    std::int32_t index = 0;      // -1 merged image, 0..count-1 layer
    std::int32_t reserved1 = -1; // -1 in records the program builds
    PsdRect rect;                // canvas pixels
    char name[68] = {};          // zero-terminated UTF-8
    std::int32_t visible = 1;    // 1: the layer takes part
    char blendMode[8] = {'N', 'O', 'R', 'M', 0, 0, 0, 0};
    std::int32_t opacity = 255; // 0..255
    std::int32_t reserved2 = 255;
};
static_assert(sizeof(PsdLayerInfo) == 112, "PsdLayerInfo is exchanged with the library");

} // namespace pelo
