// The codec's own decoding steps that need no Qt: the TGA decoder and the
// completeness checks run before Qt's decoders.
#pragma once

#include "image/PackedDib.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelo::codec {

// TGA types 1, 2, 3, 9, 10 and 11 into a new picture. False with error set
// for anything malformed or truncated; picture is only set on success.
bool DecodeTga(const std::uint8_t* data, std::size_t size, ImagePtr& picture, std::string& error);
// The same into a 32-bit bottom-up block.
bool DecodeTga(const std::uint8_t* data, std::size_t size, PackedDibPtr& block, std::string& error);

enum class TiffDecode { Decoded, NotHandled, Failed };

// Baseline 8-bit RGB(A) and grey(+alpha) TIFF with unassociated (or
// unspecified) alpha, read as the file holds it, so that the colour of
// transparent pixels survives. NotHandled for layouts left to Qt's decoder
// (associated alpha, tiles, other depths, rotated orientations). picture is
// only set when Decoded.
TiffDecode DecodeTiff(const std::uint8_t* data, std::size_t size, ImagePtr& picture,
                      std::string& error);
// The same into a 32-bit bottom-up block.
TiffDecode DecodeTiff(const std::uint8_t* data, std::size_t size, PackedDibPtr& block,
                      std::string& error);

// Structural checks that catch files the decoders would return part of,
// told apart by their signatures: a PNG must reach its IEND chunk, a JPEG
// its end marker after the last scan; a BMP must hold its headers, tables
// and every pixel row (a run-length one its end-of-bitmap marker); a GIF
// must hold every block up to its trailer and at least one picture; an XBM
// (text starting "#define") every byte of its rows before its closing brace. Other
// data passes. False with error set ("truncated BMP: ...") when the file is
// cut short or its structure points past its end.
bool CheckComplete(const std::uint8_t* data, std::size_t size, std::string& error);

} // namespace pelo::codec
