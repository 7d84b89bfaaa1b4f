// The PSD document most recently read or written: merged image, its record
// and the layers with their pixels.
#pragma once

#include "formats/PsdLibrary.h"

#include <cstdint>
#include <vector>

namespace pelo {

struct PsdLayer {
    PsdLayerInfo info = kPsdLayerInfoDefaults;
    std::vector<std::uint8_t> pixels; // BGRA, rectangle-sized, rows top to bottom
};

struct PsdState {
    std::vector<std::uint8_t> psdMergedPixels;
    PsdLayerInfo psdMergedInfo = kPsdLayerInfoDefaults; // its rectangle is the canvas
    std::vector<PsdLayer> psdLayers;
};

} // namespace pelo
