// The colour pass: steps where red, green and blue classes differ, blended
// with the colour mix (ColourStep). Alpha is left as it was.
#pragma once

#include "image/ImageView.h"

namespace pelo {

class ColourSmoother {
public:
    // 0, or kImageNoWorkArea (-6) with the picture unchanged. The same bytes
    // for any number of threads.
    int Run(const ImageView& view, const AntiAliasParams& params, unsigned threads = 1);
    int status() const { return status_; }

private:
    int status_ = 0;
};

} // namespace pelo
