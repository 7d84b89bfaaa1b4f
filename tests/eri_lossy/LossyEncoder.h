// Test-only lossy ERI encoder: the quantised frame written as the lossy
// decoder reads it (frame header, parameter tree, DC differences in
// run-length gamma codes, AC values in either symbol coder), and whole files.
#pragma once

#include "LossyQuantiser.h"
#include "eri/EriImageInfo.h"

#include <cstdint>
#include <vector>

namespace pelo::test {

EriImageInfo MakeLossyImageInfo(int width, int height, const LossyOptions& options);

// Content of the "ImageFrm" record.
std::vector<std::uint8_t> EncodeLossyFrame(const LossyFrame& frame, const LossyOptions& options);

// Quantises and encodes a whole file; frame receives the quantised frame.
std::vector<std::uint8_t> EncodeLossyFile(const LossyPicture& picture, const LossyOptions& options,
                                          LossyFrame* frame = nullptr);

} // namespace pelo::test
