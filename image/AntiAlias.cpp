#include "image/AntiAlias.h"

#include "image/AlphaSmoother.h"
#include "image/ColourSmoother.h"
#include "image/ImageView.h"

namespace pelo {

int AntiAliasImage(ImageBuffer& image, const ConversionSettings& settings, bool alphaPass) {
    const ImageView view = MakeImageView(image);
    const AntiAliasParams params = MakeAntiAliasParams(settings, image.width, image.height);
    ColourSmoother colour;
    int result = colour.Run(view, params);
    if (alphaPass) {
        AlphaSmoother alpha;
        result = alpha.Run(view, params);
    }
    return result;
}

} // namespace pelo
