// The two reading steps the flat PSD load and the layered conversion share.
// Both work on the document the PSD library has open on this thread.
#pragma once

#include "formats/PsdState.h"

#include <cstdint>
#include <vector>

namespace pelo {

// info.index must be -1. Fills info and sizes pixels to the canvas; false
// when the library refuses, the canvas has no pixels or memory runs out.
bool ReadPsdMergedImage(std::vector<std::uint8_t>& pixels, PsdLayerInfo& info);

// Reads layer index, clips it to the canvas and crops it to its visible
// pixels. False (pixels released) when it cannot be read, its rectangle is
// inverted, or nothing of it remains; true leaves the rectangle's
// width x height pixels in layer.pixels, placed at its left, top.
bool ReadPsdLayer(int index, PsdLayer& layer, const PsdRect& canvas);

} // namespace pelo
