#include "image/AlphaSmoother.h"

#include "image/PixelBlend.h"

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
        FillClassTable(classes_, f_, 0);
        StepSmoother<AlphaSmoother> scan(*this, view.pixels, work.pixels(), view.width, area,
                                         work.keysA(), work.keysB());
        scan.Run();
        const std::uint8_t* from = work.pixels();
        std::uint8_t* to = view.pixels;
        for (std::size_t i = 3; i < work.bytes(); i += 4)
            to[i] = from[i];
    }
    return status_ = work.Free();
}

void AlphaSmoother::KeyRow(const std::uint8_t* row, std::uint32_t* keys, int n) const {
    for (int i = 0; i < n; ++i, row += 4)
        keys[i] = classes_[row[3]];
}

void AlphaSmoother::Blend(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w) {
    blendAlpha(s, t, dst, w, f_);
}

} // namespace pelo
