// Encoders of the codec that work on Qt pictures without Qt's encoders.
#pragma once

#include "formats/CodecReaders.h"

#include <QByteArray>
#include <QImage>
#include <string>

namespace pelo::codec {

// GIF89a with one frame: exact colours when the picture has at most 256
// (alpha-0 pixels share one transparent entry), otherwise a palette made
// without dithering. image is Format_ARGB32.
bool EncodeGif(const QImage& image, QByteArray& out, std::string& error);

// Baseline TIFF, RGBA with unassociated alpha, one deflate strip: the colour
// of transparent pixels is kept. image is Format_ARGB32.
bool EncodeTiff(const QImage& image, QByteArray& out, std::string& error);

} // namespace pelo::codec
