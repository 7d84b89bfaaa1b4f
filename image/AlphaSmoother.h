// The alpha pass: steps where alpha classes differ, blended with BlendAlpha
// (AlphaStep). Only alpha changes.
#pragma once

#include "image/ImageView.h"

namespace pelo {

class AlphaSmoother {
public:
    // 0, or kImageNoWorkArea (-6) with the picture unchanged. The same bytes
    // for any number of threads.
    int Run(const ImageView& view, const AntiAliasParams& params, unsigned threads = 1);
    int status() const { return status_; }

private:
    int status_ = 0;
};

} // namespace pelo
