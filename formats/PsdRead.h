// The two reading steps the flat PSD load and the layered conversion share.
// Both work on the document the PSD library has open on this thread.
#pragma once

#include "formats/PsdState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelo {

// Inputs are opened with their groups' start and end records delivered.
inline constexpr std::int32_t kPsdLoadOptions = TLPSD_LOAD_GROUP_RECORDS;

// A group's start or end record, as opposed to a picture layer.
inline bool IsPsdGroupRecord(const PsdLayerInfo& info) {
    return info.section == TLPSD_SECTION_OPEN_GROUP || info.section == TLPSD_SECTION_CLOSED_GROUP ||
           info.section == TLPSD_SECTION_GROUP_END;
}

// info.index must be -1. Fills info and sizes pixels to the canvas; false
// when the library refuses, the canvas has no pixels or memory runs out.
bool ReadPsdMergedImage(std::vector<std::uint8_t>& pixels, PsdLayerInfo& info);

enum class PsdLayerRead { Read, Empty, Failed };

// Reads record index without its pixels; false with why set when the
// library refuses.
bool ReadPsdRecord(int index, PsdLayerInfo& info, std::string& why);

// Reads layer index, clips it to the canvas and crops it to its visible
// pixels. Read leaves the rectangle's width x height pixels in
// layer.pixels, placed at its left, top. Empty (pixels released) when its
// rectangle is inverted or nothing of it remains; Failed when the library
// cannot deliver it or it is too large, with why set.
PsdLayerRead ReadPsdLayer(int index, PsdLayer& layer, const PsdRect& canvas, std::string& why);

} // namespace pelo
