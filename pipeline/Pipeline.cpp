// The per-file pipeline: load, smooth, save.
#include "formats/Codec.h"
#include "formats/SaveDispatch.h"
#include "pipeline/ConversionSession.h"
#include "pipeline/FileKinds.h"
#include "pipeline/FileSystem.h"
#include "pipeline/SmoothPicture.h"

#include <string_view>
#if PELO_HAVE_ERI
#include "eri/LoadEriImage.h"
#endif

namespace pelo {

namespace {

bool LoadEri(const std::string& path, PackedDibPtr& block, std::string& reason) {
#if PELO_HAVE_ERI
    return LoadEriImage(path, block, &reason);
#else
    (void)path;
    (void)block;
    reason = "ERI input is not available";
    return false;
#endif
}

// The readers say why in words; the code follows from what they said.
StatusCode ReadFailureCode(std::string_view reason) {
    auto has = [reason](std::string_view text) { return reason.find(text) != reason.npos; };
    if (has("exceeds the limit") || has("too large")) return StatusCode::TooLarge;
    if (has("out of memory")) return StatusCode::OutOfMemory;
    if (has("cannot open") || has("not a regular file") || has("read error") || has("is a folder"))
        return StatusCode::CannotRead;
    if (has("unsupported") || has("not supported") || has("not available"))
        return StatusCode::Unsupported;
    return StatusCode::Damaged;
}

} // namespace

ImagePtr ConversionSession::LoadImageFile(const std::string& path) {
    failure = Status{};
    diagnostic.clear();
    // Whatever the last file left in the block must neither pass for this
    // one nor hold memory while it is worked on.
    if (!block) block = std::make_unique<PackedDib>();
    block->DropPixels();
    std::string reason = RegularFileProblem(path);
    bool loaded = false;
    ImagePtr image;
    if (reason.empty()) {
        switch (const LoaderKind kind = LoaderFor(path)) {
        case LoaderKind::Psd:
            return LoadPsdMerged(path);
        case LoaderKind::Eri:
            loaded = LoadEri(path, block, reason);
            if (loaded && reason.empty()) image = ConvertDibToImage(*block);
            if (image && block->header().biBitCount < 32) FillAlpha(*image, 255);
            block->DropPixels(); // the picture lives in image alone
            break;
        case LoaderKind::Codec:
        case LoaderKind::Metafile:
            // Decoded straight into the picture; a failure says why.
            image = LoadCodecPicture(
                path, kind == LoaderKind::Metafile ? CodecDrawing::Metafile : CodecDrawing::Raster,
                &reason);
            loaded = true;
            break;
        }
    }
    if (!image) {
        diagnostic = (loaded ? "IPLイメージ作成に失敗しました:" : "読み込み失敗：") + path;
        if (reason.empty())
            reason = loaded ? "the picture has no usable size" : "cannot read the file";
        Fail(ReadFailureCode(reason), reason);
        return nullptr;
    }
    return image;
}

bool ConversionSession::ProcessFile(const std::string& inputPath, const std::string& outputPath) {
    currentImage = LoadImageFile(inputPath);
    if (!currentImage) return false;
    const PictureRoles roles{IsAlphaInput(inputPath), IsAlphaOutput(outputPath)};
    if (SmoothPicture(*currentImage, settings, roles, pictureThreads) != 0) {
        // Saving the picture unsmoothed would pass it off as converted.
        const std::string size =
            std::to_string(currentImage->width) + " x " + std::to_string(currentImage->height);
        ReleaseIpl(currentImage);
        return Fail(StatusCode::NotSmoothed,
                    "no work area for smoothing a " + size + " picture; nothing written");
    }
    psd.singleLayerName = LayerNameFromPath(inputPath);
    const int saved = SaveImageFile(*currentImage, outputPath);
    ReleaseIpl(currentImage);
    return saved == kSaveOk;
}

} // namespace pelo
