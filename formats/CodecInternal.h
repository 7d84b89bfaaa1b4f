// Encoders and decoders of the codec that do not go through Qt.
#pragma once

#include "image/PackedDib.h"

#include <QByteArray>
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pelo::codec {

// TGA types 1, 2, 3, 9, 10 and 11 into a 32-bit bottom-up block. False with
// error set for anything malformed or truncated.
bool DecodeTga(const std::uint8_t* data, std::size_t size, PackedDibPtr& block, std::string& error);

// GIF89a with one frame: exact colours when the picture has at most 256
// (alpha-0 pixels share one transparent entry), otherwise a palette made
// without dithering. image is Format_ARGB32.
bool EncodeGif(const QImage& image, QByteArray& out, std::string& error);

// Baseline TIFF, RGBA with unassociated alpha, one deflate strip: the colour
// of transparent pixels is kept. image is Format_ARGB32.
bool EncodeTiff(const QImage& image, QByteArray& out, std::string& error);

// Structural checks that catch files the decoders would return part of:
// a PNG must reach its IEND chunk, a JPEG its end marker after the last scan.
// Other data passes. False with error set when the file is cut short.
bool CheckComplete(const std::uint8_t* data, std::size_t size, std::string& error);

} // namespace pelo::codec
