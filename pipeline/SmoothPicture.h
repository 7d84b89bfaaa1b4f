// The steps between loading a picture and saving it, on a picture in
// memory: what a batch run does to every file and what the preview shows.
#pragma once

#include "image/ConversionSettings.h"
#include "image/ImageBuffer.h"

namespace pelo {

// What the file kinds of the input and output say about a picture.
struct PictureRoles {
    bool alphaInput = false;  // the input's kind may carry alpha
    bool alphaOutput = false; // the output's kind keeps alpha
};

// White made transparent when asked, hidden colour cleared when asked, edge
// colours spread, the passes the settings and roles pick, and flattening
// onto the background when the output keeps no alpha. 0 when done;
// kImageNoWorkArea when a work area could not be had (the picture must then
// not be written). The steps split the picture across up to `threads`
// threads; the bytes are the same for any count.
int SmoothPicture(ImageBuffer& image, const ConversionSettings& settings, PictureRoles roles,
                  unsigned threads = 1);

// Whether the alpha pass runs for an input of this kind.
bool AlphaPassRuns(const ResultOptions& options, bool alphaInput);

} // namespace pelo
