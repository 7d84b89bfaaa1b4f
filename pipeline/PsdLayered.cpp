// PSD to PSD keeping the layers: the merged image and every visible layer
// are anti-aliased one by one and written with their records as read; the
// groups' start and end records are written back where they were.
#include "formats/PsdLibrary.h"
#include "formats/PsdRead.h"
#include "formats/SaveDispatch.h"
#include "pipeline/ConversionSession.h"
#include "pipeline/FileSystem.h"
#include "pipeline/SmoothPicture.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace pelo {

namespace {

// The library reads and writes the pixels of the layers it is given until
// the output is closed; these hold them.
using Prepared = std::vector<ImagePtr>;

} // namespace

bool ConversionSession::ProcessLayeredPsd(const std::string& inputPath,
                                          const std::string& outputPath) {
    failure = Status{};
    diagnostic.clear();
    const PsdLibrary* lib = Psd();
    if (!lib) return Fail(StatusCode::Unsupported, "the PSD library is not loaded");
    if (const std::string problem = RegularFileProblem(inputPath); !problem.empty())
        return Fail(StatusCode::CannotRead, problem);
    const auto slash = outputPath.rfind('/');
    EnsureDirectory(slash == std::string::npos ? std::string() : outputPath.substr(0, slash));

    if (!OpenPsdInput(inputPath)) return false;
    if (const std::int32_t code =
            lib->TlPsdSave_Open(outputPath.c_str(), TLPSD_SAVE_RGB8, TLPSD_SAVE_OPTION_DEFAULTS);
        code != 0) {
        const int err = errno;
        lib->TlPsdLoad_Close();
        return Fail(StatusCode::CannotWrite,
                    "cannot create the output file: " + PsdResultText(code) + ": " +
                        std::generic_category().message(err) + ": " + outputPath);
    }

    Prepared prepared;
    // Layers keep their alpha; white is never made transparent in them.
    ConversionSettings layerSettings = settings;
    layerSettings.whiteAsTransparent = 0;
    // Copies a picture into a fresh buffer, makes it the current image and
    // anti-aliases it with both passes; null when no buffer can be made or
    // the passes cannot run.
    auto prepare = [&](const std::uint8_t* pixels, int w, int h) -> const std::uint8_t* {
        ReleaseIpl(currentImage);
        currentImage = AllocIpl(w, h);
        if (!currentImage) return nullptr;
        std::memcpy(currentImage->imageData, pixels, currentImage->imageSize);
        if (SmoothPicture(*currentImage, layerSettings, {true, true}, pictureThreads) != 0) {
            ReleaseIpl(currentImage);
            return nullptr;
        }
        prepared.push_back(std::move(currentImage));
        return prepared.back()->imageData;
    };
    // Ends the output without writing it: nothing unsmoothed goes out.
    auto abandon = [&](StatusCode code, const std::string& reason) {
        lib->TlPsdSave_Open("", TLPSD_SAVE_RGB8, TLPSD_SAVE_OPTION_DEFAULTS);
        prepared.clear();
        lib->TlPsdLoad_Close();
        return Fail(code, reason);
    };

    const PsdRect canvas = psd.psdMergedInfo.rect;
    const std::uint8_t* merged =
        prepare(psd.psdMergedPixels.data(), canvas.right - canvas.left, canvas.bottom - canvas.top);
    if (!merged)
        return abandon(StatusCode::NotSmoothed,
                       "no work area for smoothing the merged image; nothing written");
    lib->TlPsdSave_SetImage(merged, canvas.right, canvas.bottom);

    const int count = lib->TlPsdLoad_GetLayerCount();
    if (count < 0) return abandon(StatusCode::Damaged, PsdResultText(count));
    // A record the library refuses ends the output: one left out unseen
    // could break the groups or the picture.
    auto refused = [&](std::int32_t code, int index) {
        return abandon(code == TLPSD_E_MEMORY ? StatusCode::OutOfMemory : StatusCode::CannotWrite,
                       "PSD layer " + std::to_string(index) + ": " + PsdResultText(code) +
                           "; nothing written");
    };
    psd.psdLayers.assign(static_cast<std::size_t>(count), PsdLayer{});
    for (int i = 0; i < count; ++i) {
        PsdLayer& layer = psd.psdLayers[static_cast<std::size_t>(i)];
        std::string why;
        if (!ReadPsdRecord(i, layer.info, why)) return abandon(StatusCode::Damaged, why);
        if (IsPsdGroupRecord(layer.info)) {
            // Kept without a picture: a group shows what its layers show.
            layer.info.rect = {0, 0, 0, 0};
            if (const std::int32_t code = lib->TlPsdSave_SetLayer(nullptr, &layer.info); code != 0)
                return refused(code, i);
            continue;
        }
        const PsdLayerRead read = ReadPsdLayer(i, layer, canvas, why);
        if (read == PsdLayerRead::Failed) return abandon(StatusCode::Damaged, why);
        if (read == PsdLayerRead::Empty) continue; // nothing to keep: left out
        const PsdRect& r = layer.info.rect;
        // Hidden layers, also those shown inside a hidden group, go out unchanged.
        const std::uint8_t* pixels = layer.pixels.data();
        if (layer.info.visible == 1) {
            pixels = prepare(layer.pixels.data(), r.right - r.left, r.bottom - r.top);
            if (!pixels)
                return abandon(StatusCode::NotSmoothed, "no work area for smoothing layer " +
                                                            std::to_string(i) +
                                                            "; nothing written");
        }
        if (const std::int32_t code = lib->TlPsdSave_SetLayer(pixels, &layer.info); code != 0)
            return refused(code, i);
    }
    errno = 0;
    const std::int32_t closed = lib->TlPsdSave_Close();
    const int err = errno;
    prepared.clear();
    lib->TlPsdLoad_Close();
    if (closed != 0)
        return Fail(StatusCode::CannotWrite,
                    "cannot write the output file: " + PsdResultText(closed) +
                        (err ? ": " + std::generic_category().message(err) : std::string()) + ": " +
                        outputPath);
    return true;
}

} // namespace pelo
