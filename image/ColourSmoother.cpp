#include "image/ColourSmoother.h"

#include "image/ColourStep.h"

namespace pelo {

int ColourSmoother::Run(const ImageView& view, const AntiAliasParams& params, unsigned threads) {
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

    ColourBlendSettings settings;
    static_cast<ColourCorrection&>(settings) = params;
    settings.detectThreshold = f;
    // Gamma 0 has no usable inverse; it is treated like a negative one, and
    // so is a gamma that is not a number.
    settings.gamma = params.gamma > 0.0 ? params.gamma : 0.7;
    if (!ScanInBands<ColourStep>(view, area, threads, [&] { return ColourStep(settings); })) {
        ReportNoWorkArea();
        return status_ = kImageNoWorkArea;
    }
    return status_ = 0;
}

} // namespace pelo
