// PSD to PSD keeping the layers: the merged image and every visible layer
// are anti-aliased one by one and written with their records as read.
#include "formats/PsdLibrary.h"
#include "formats/PsdRead.h"
#include "formats/SaveDispatch.h"
#include "image/ConversionSession.h"

#include <cstring>

namespace pelo {

namespace {

// The library reads and writes the pixels of the layers it is given until
// the output is closed; these hold them.
using Prepared = std::vector<ImagePtr>;

} // namespace

bool ConversionSession::ProcessLayeredPsd(const std::string& inputPath,
                                          const std::string& outputPath) {
    failure.clear();
    diagnostic.clear();
    const PsdLibrary* lib = Psd();
    if (!lib) {
        failure = "the PSD library is not loaded";
        return false;
    }
    const auto slash = outputPath.rfind('/');
    EnsureDirectory(slash == std::string::npos ? std::string() : outputPath.substr(0, slash));

    if (!OpenPsdInput(inputPath)) return false;
    if (lib->TlPsdSave_Open(outputPath.c_str(), kPsdSaveMode, kPsdSaveOptions) != 0) {
        failure = "cannot create the output file: " + outputPath;
        lib->TlPsdLoad_Close();
        return false;
    }

    Prepared prepared;
    // Copies a picture into a fresh buffer, makes it the current image and
    // anti-aliases it with both passes; null when no buffer can be made.
    auto prepare = [&](const std::uint8_t* pixels, int w, int h) -> const std::uint8_t* {
        ReleaseIpl(currentImage);
        currentImage = AllocIpl(w, h);
        if (!currentImage) return nullptr;
        std::memcpy(currentImage->imageData, pixels, currentImage->imageSize);
        ExtendEdgeColours(*currentImage, 3);
        AntiAlias(true);
        prepared.push_back(std::move(currentImage));
        return prepared.back()->imageData;
    };
    auto finish = [&] {
        const bool written = lib->TlPsdSave_Close() == 0;
        prepared.clear();
        lib->TlPsdLoad_Close();
        return written;
    };

    const PsdRect canvas = psd.psdMergedInfo.rect;
    const std::uint8_t* merged =
        prepare(psd.psdMergedPixels.data(), canvas.right - canvas.left, canvas.bottom - canvas.top);
    if (!merged) {
        lib->TlPsdSave_Close(); // no merged image set: the library writes nothing
        lib->TlPsdLoad_Close();
        failure = "the picture is too large";
        return false;
    }
    lib->TlPsdSave_SetImage(merged, canvas.right, canvas.bottom);

    const int count = lib->TlPsdLoad_GetLayerCount();
    if (count < 0) {
        finish();
        failure = "cannot read the layer count";
        return false;
    }
    psd.psdLayers.assign(static_cast<std::size_t>(count), PsdLayer{});
    for (int i = 0; i < count; ++i) {
        PsdLayer& layer = psd.psdLayers[static_cast<std::size_t>(i)];
        if (!ReadPsdLayer(i, layer, canvas)) continue; // unreadable or empty: left out
        const PsdRect& r = layer.info.rect;
        if (layer.info.visible == 1) {
            const std::uint8_t* pixels =
                prepare(layer.pixels.data(), r.right - r.left, r.bottom - r.top);
            // Without a buffer the layer goes out as read rather than not at all.
            lib->TlPsdSave_SetLayer(pixels ? pixels : layer.pixels.data(), &layer.info);
        } else {
            lib->TlPsdSave_SetLayer(layer.pixels.data(), &layer.info); // hidden: unchanged
        }
    }
    if (!finish()) {
        failure = "cannot write the output file: " + outputPath;
        return false;
    }
    return true;
}

} // namespace pelo
