#include "image/AntiAlias.h"

#include "image/AlphaSmoother.h"
#include "image/ColourSmoother.h"
#include "image/ImageView.h"

namespace pelo {

int AntiAliasImage(ImageBuffer& image, const ConversionSettings& settings, bool alphaPass,
                   bool colourPass, unsigned threads) {
    const ImageView view = MakeImageView(image);
    const AntiAliasParams params = MakeAntiAliasParams(settings, image.width, image.height);
    int result = 0;
    if (colourPass) {
        ColourSmoother colour;
        result = colour.Run(view, params, threads);
    }
    if (alphaPass) {
        AlphaSmoother alpha;
        // Both passes run as they always did; a failure of either counts.
        const int alphaResult = alpha.Run(view, params, threads);
        if (result == 0) return alphaResult;
    }
    return result;
}

} // namespace pelo
