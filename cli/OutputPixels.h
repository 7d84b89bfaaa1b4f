// The pixel count of a written output, from its header only.
#pragma once

#include <cstdint>
#include <string>

namespace pelo::cli {

// Width times height of the picture at path; 0 when it cannot be told.
std::uint64_t OutputPixels(const std::string& path);

} // namespace pelo::cli
