#include "image/AlphaSmoother.h"

#include "image/PixelBlend.h"

#include <cstring>

namespace pelo {

int AlphaSmoother::Run(const ImageView& view, const AntiAliasParams& params) {
    baseWeight_ = kBaseWeight;
    StepWorkArea work;
    if (!view.pixels || !work.Allocate(view)) return status_ = view.pixels ? kImageNoWorkArea : 0;

    f_ = params.detectThreshold;
    if (f_ <= 0) return status_ = work.Free();

    StepArea area;
    // Above 255 every sample is in class 0: no block can show a step.
    if (f_ <= 255 && StepWorkArea::AreaOf(view, params, area)) {
        if (!work.AllocateKeys()) return status_ = kImageNoWorkArea;
        shift_ = PowerOfTwoShift(f_);
        FillClassTable(classes_, f_, 0);
        if (!work.Scan(*this, view, area)) return status_ = kImageNoWorkArea;
        work.CopyBack(view.pixels);
    }
    return status_ = work.Free();
}

void AlphaSmoother::KeyRow(const std::uint8_t* row, std::uint32_t* keys, int n) const {
    if (shift_ >= 0) {
        const int shift = shift_;
        for (int i = 0; i < n; ++i)
            keys[i] = std::uint32_t{row[4 * i + 3]} >> shift;
        return;
    }
    for (int i = 0; i < n; ++i, row += 4)
        keys[i] = classes_[row[3]];
}

bool AlphaSmoother::Blend(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w) {
    if (w > 0 && w < 256) {
        // The scan only blends across differing classes: the mean directly.
        std::memcpy(dst, t, 3);
        dst[3] = static_cast<std::uint8_t>((t[3] * (256 - w) + s[3] * w + 128) >> 8);
        return true;
    }
    std::uint8_t out[4] = {t[0], t[1], t[2], t[3]};
    if (!BlendAlpha(s, t, out, w, f_)) return false;
    std::memcpy(dst, out, 4);
    return true;
}

} // namespace pelo
