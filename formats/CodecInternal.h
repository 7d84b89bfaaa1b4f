// Encoders of the codec that work on Qt pictures without Qt's encoders.
#pragma once

#include "formats/CodecReaders.h"

#include <QByteArray>
#include <QImage>
#include <memory>
#include <string>
#include <tiffio.h>

namespace pelo::codec {

// GIF89a with one frame: pixels of alpha below 128 share one transparent
// entry, the others are opaque; exact colours when the picture has at most
// 256, otherwise a palette made without dithering. image is Format_ARGB32.
bool EncodeGif(const QImage& image, QByteArray& out, std::string& error);

// Baseline little-endian TIFF, 8-bit RGBA with unassociated alpha, top-left
// orientation, in deflate strips of about 1 MiB of pixels each: the colour of
// transparent pixels is kept. image is Format_ARGB32.
bool EncodeTiff(const QImage& image, QByteArray& out, std::string& error);

struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffClose>;

// libtiff over the given procs with the codec's handlers: nothing is printed,
// and the first complaint of the calling thread from the open on is kept for
// TiffReason. maxSingleAlloc caps one allocation of libtiff (0: no cap).
TiffPtr OpenTiffClient(const char* mode, thandle_t handle, TIFFReadWriteProc read,
                       TIFFReadWriteProc write, TIFFSeekProc seek, TIFFCloseProc close,
                       TIFFSizeProc size, tmsize_t maxSingleAlloc);

// "TIFF: " and libtiff's first complaint, or otherwise when it made none.
std::string TiffReason(const char* otherwise);

} // namespace pelo::codec
