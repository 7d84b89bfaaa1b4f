// The PSD document most recently read or written: merged image, its record
// and the layers with their pixels.
#pragma once

#include "formats/PsdLibrary.h"

#include <cstdint>
#include <string>
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
    // The name of the layer the next single-layer save makes (used once);
    // empty: the output path.
    std::string singleLayerName;
};

// The name a layer made from a flat picture gets: its file's name without
// folders and last extension ("in/hero.png" -> "hero"), stray bytes read as
// Latin-1, cut to fit a record.
std::string LayerNameFromPath(const std::string& path);

} // namespace pelo
