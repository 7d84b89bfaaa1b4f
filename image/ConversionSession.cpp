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

// Filled in by the PSD layer-by-layer conversion.
bool ConversionSession::ProcessLayeredPsd(const std::string& inputPath, const std::string&) {
    failure = "layered PSD conversion is not available";
    diagnostic = "読み込み失敗：" + inputPath;
    return false;
}

// Filled in by the PSD merged-image loader.
ImagePtr ConversionSession::LoadPsdMerged(const std::string&) {
    failure = "PSD input is not available";
    return nullptr;
}

} // namespace pelo
