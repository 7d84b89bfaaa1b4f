// PNG decoded by libpng straight into the picture the pipeline works on,
// row by row, with no intermediate copy.
#pragma once

#include "image/ImageBuffer.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelo::codec {

enum class PngDecode { Decoded, NotHandled, Failed };

// Every type of 8 bits or fewer per sample (palette, grey, grey and alpha,
// RGB, RGBA, with or without a transparent colour), interlaced or not, into
// a new picture: blue, green, red, straight alpha (255 where the file has
// none), the bytes Qt's decoder gives for them. NotHandled, before any pixel is
// allocated, for other layouts and for headers libpng refuses, which are left
// to Qt's decoder. Failed with error set for a refused size, memory or damaged
// data. libpng's warnings are appended to warnings.
PngDecode DecodePng(const std::uint8_t* data, std::size_t size, ImagePtr& picture,
                    std::string& error, std::string& warnings);

} // namespace pelo::codec
