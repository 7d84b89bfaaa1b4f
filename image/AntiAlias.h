// Anti-aliasing of one picture in place: the colour pass, then the alpha
// pass, each when asked, driven by the conversion settings.
#pragma once

#include "image/ConversionSettings.h"
#include "image/ImageBuffer.h"

namespace pelo {

// 0 on success, kImageNoWorkArea (-6) when a work area could not be
// allocated (the image is then left as it was before that pass). Each pass
// splits the picture across up to `threads` threads; the bytes are the same
// for any count.
int AntiAliasImage(ImageBuffer& image, const ConversionSettings& settings, bool alphaPass,
                   bool colourPass = true, unsigned threads = 1);

} // namespace pelo
