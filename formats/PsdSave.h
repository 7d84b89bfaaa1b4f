// The single-layer PSD writer of the save dispatch.
#pragma once

#include "formats/PsdState.h"
#include "image/ImageBuffer.h"

#include <string>

namespace pelo {

// Writes image as a PSD with one layer covering the canvas, named
// psd.singleLayerName (which the save clears) or else after the output
// path, and a merged image equal to it. psd holds the merged pixels
// and the one layer record afterwards. 0 when written, else kSavePsdFailed
// or kSavePsdUnavailable (no library loaded); reason (when given) then says
// why in words.
int SavePsdSingleLayer(const ImageBuffer& image, const std::string& outputPath, PsdState& psd,
                       std::string* reason = nullptr);

// At most 67 bytes of text, cut at a UTF-8 character boundary.
std::string CutLayerName(const std::string& text);

} // namespace pelo
