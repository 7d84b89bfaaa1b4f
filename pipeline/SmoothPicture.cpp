#include "pipeline/SmoothPicture.h"

#include "image/AntiAlias.h"
#include "image/Flatten.h"

namespace pelo {

bool AlphaPassRuns(const ResultOptions& options, bool alphaInput) {
    switch (options.alphaPass) {
    case AlphaPassMode::On:
        return true;
    case AlphaPassMode::Off:
        return false;
    case AlphaPassMode::Auto:
        break;
    }
    return alphaInput;
}

int SmoothPicture(ImageBuffer& image, const ConversionSettings& settings, PictureRoles roles,
                  unsigned threads) {
    const ResultOptions& options = settings.result;
    if (settings.whiteAsTransparent == 1) MakeColourTransparent(image, 255, 255, 255);
    if (options.hiddenColour == HiddenColour::Clear) ClearHiddenColour(image, threads);
    const bool alphaPass = AlphaPassRuns(options, roles.alphaInput);
    // Edge colours spread wherever alpha is taken seriously: an input kind
    // that carries it, or an alpha pass asked for explicitly.
    int result = roles.alphaInput || alphaPass ? ExtendEdgeColours(image, 3, threads) : 0;
    if (result == 0)
        result = AntiAliasImage(image, settings, alphaPass, options.colourPass, threads);
    if (result != 0) return result;
    // In place: the same arithmetic as compositing over a background buffer,
    // without a second picture that could fail to be allocated.
    if (!roles.alphaOutput) FlattenOnto(image, options.background, threads);
    return 0;
}

} // namespace pelo
