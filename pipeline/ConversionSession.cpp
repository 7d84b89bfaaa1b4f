#include "image/ConversionSession.h"

#include "formats/SaveDispatch.h"
#include "image/AntiAlias.h"

namespace pelo {

void ConversionSession::BeginRun() {
    block.reset();
}

void ConversionSession::EndRun() {
    block.reset();
}

int ConversionSession::AntiAlias(bool alphaPass) {
    if (!currentImage) return kImageNoPixels;
    return AntiAliasImage(*currentImage, settings, alphaPass);
}

int ConversionSession::SaveImageFile(const ImageBuffer& image, const std::string& outputPath) {
    return pelo::SaveImageFile(image, outputPath, block, psd);
}

void ConversionSession::Show(const std::string& text) {
    if (sink) sink->ShowMessage(text);
}

} // namespace pelo
