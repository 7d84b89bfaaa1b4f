// The per-file pipeline: load, alpha preparation, anti-aliasing, flattening
// onto grey, save.
#include "formats/Codec.h"
#include "formats/SaveDispatch.h"
#include "image/ConversionSession.h"
#include "image/PathText.h"

#include <array>
#include <string_view>
#if PELO_HAVE_ERI
#include "eri/LoadEriImage.h"
#endif

namespace pelo {

namespace {

constexpr std::array<std::string_view, 8> kAlphaInputs = {".PNG", ".TIF", ".BMP", ".RLE",
                                                          ".DIB", ".ERI", ".TGA", ".PSD"};
constexpr std::array<std::string_view, 5> kAlphaOutputs = {".PNG", ".TIF", ".ERI", ".TGA", ".PSD"};

template <std::size_t N>
bool MatchesList(const std::string& path, const std::array<std::string_view, N>& list) {
    const std::string upper = UpperPath(path);
    for (std::string_view text : list)
        if (ContainsAfterFirst(upper, text)) return true;
    return false;
}

enum class Loader { Eri, Psd, Codec };

// Only the all-lower and all-upper spellings choose a loader.
Loader ChooseLoader(const std::string& path) {
    if (ContainsAfterFirst(path, ".eri") || ContainsAfterFirst(path, ".ERI")) return Loader::Eri;
    if (ContainsAfterFirst(path, ".psd") || ContainsAfterFirst(path, ".PSD")) return Loader::Psd;
    return Loader::Codec;
}

bool LoadEri(const std::string& path, PackedDibPtr& block, std::string& failure) {
#if PELO_HAVE_ERI
    if (LoadEriImage(path, block)) return true;
    failure = "cannot decode the ERI file";
#else
    (void)path;
    (void)block;
    failure = "ERI input is not available";
#endif
    return false;
}

} // namespace

bool IsAlphaInput(const std::string& path) {
    return MatchesList(path, kAlphaInputs);
}

bool IsAlphaOutput(const std::string& path) {
    return MatchesList(path, kAlphaOutputs);
}

void FlattenOntoGrey(ImageBuffer& image) {
    std::uint8_t* p = image.imageData;
    for (std::size_t i = 0, n = image.pixelCount(); i < n; ++i, p += 4) {
        const unsigned a = p[3];
        const unsigned grey = 128 * (255 - a) + 127; // + 127: round to nearest
        p[0] = static_cast<std::uint8_t>((p[0] * a + grey) / 255);
        p[1] = static_cast<std::uint8_t>((p[1] * a + grey) / 255);
        p[2] = static_cast<std::uint8_t>((p[2] * a + grey) / 255);
        p[3] = 255;
    }
}

ImagePtr ConversionSession::LoadImageFile(const std::string& path) {
    failure.clear();
    diagnostic.clear();
    bool loaded = false;
    switch (ChooseLoader(path)) {
    case Loader::Psd:
        return LoadPsdMerged(path);
    case Loader::Eri:
        loaded = LoadEri(path, block, failure);
        break;
    case Loader::Codec:
        loaded = LoadCodecImage(path, block, kMetafileWidth, kMetafileHeight, &failure);
        break;
    }
    if (!loaded || !block) {
        diagnostic = "読み込み失敗：" + path;
        if (failure.empty()) failure = "cannot read the file";
        return nullptr;
    }
    ImagePtr image = ConvertDibToImage(*block);
    if (!image) {
        diagnostic = "IPLイメージ作成に失敗しました:" + path;
        if (failure.empty()) failure = "the picture has no usable size";
        return nullptr;
    }
    if (block->header().biBitCount < 32) FillAlpha(*image, 255);
    return image;
}

bool ConversionSession::ProcessFile(const std::string& inputPath, const std::string& outputPath) {
    currentImage = LoadImageFile(inputPath);
    if (!currentImage) return false;
    const bool alphaInput = IsAlphaInput(inputPath);
    const bool alphaOutput = IsAlphaOutput(outputPath);

    if (settings.whiteAsTransparent == 1) MakeColourTransparent(*currentImage, 255, 255, 255);
    if (alphaInput) ExtendEdgeColours(*currentImage, 3);
    AntiAlias(alphaInput);
    // In place: the same arithmetic as compositing over a grey background
    // buffer, without a second picture that could fail to be allocated.
    if (!alphaOutput) FlattenOntoGrey(*currentImage);

    const int saved = SaveImageFile(*currentImage, outputPath);
    if (saved != kSaveOk) failure = SaveResultText(saved) + ": " + outputPath;
    ReleaseIpl(currentImage);
    return true;
}

} // namespace pelo
