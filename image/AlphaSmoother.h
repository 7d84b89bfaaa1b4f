// The alpha pass: steps where alpha classes differ, blended with BlendAlpha.
// Only byte 3 of each pixel is written back.
#pragma once

#include "image/ImageView.h"
#include "image/StepSmoother.h"

#include <cstdint>

namespace pelo {

class AlphaSmoother {
public:
    // 0, or kImageNoWorkArea (-6) with the picture unchanged.
    int Run(const ImageView& view, const AntiAliasParams& params);
    int status() const { return status_; }

private:
    template <class> friend class StepSmoother;

    std::uint32_t Key(const std::uint8_t* p) const {
        return shift_ >= 0 ? std::uint32_t{p[3]} >> shift_ : classes_[p[3]];
    }
    void KeyRow(const std::uint8_t* row, std::uint32_t* keys, int n) const;
    bool Blend(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w);

    int status_ = 0;
    int baseWeight_ = kBaseWeight;
    int f_ = 0;
    int shift_ = -1; // log2 F when F is a power of two
    std::uint32_t classes_[256] = {};
};

} // namespace pelo
