#include "image/AlphaSmoother.h"

#include "image/AlphaStep.h"

namespace pelo {

int AlphaSmoother::Run(const ImageView& view, const AntiAliasParams& params, unsigned threads) {
    if (!view.pixels) return status_ = 0;
    // The pass is refused for pictures past the memory limit, as it always
    // was, whatever the threshold.
    if (!CheckedImageBytes(view.width, view.height, 4)) {
        ReportNoWorkArea();
        return status_ = kImageNoWorkArea;
    }
    const int f = params.detectThreshold;
    StepArea area;
    // Above 255 every sample is in class 0: no block can show a step.
    if (f <= 0 || f > 255 || !StepAreaOf(view, params, area)) return status_ = 0;
    if (!ScanInBands<AlphaStep>(view, area, threads, [f] { return AlphaStep(f); })) {
        ReportNoWorkArea();
        return status_ = kImageNoWorkArea;
    }
    return status_ = 0;
}

} // namespace pelo
