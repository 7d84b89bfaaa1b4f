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
    // Whatever the last file left in the block must not pass for this one.
    if (block) PrepareDib32(*block, 0, 0);
    std::string reason = RegularFileProblem(path);
    bool loaded = false;
    if (reason.empty()) {
        switch (LoaderFor(path)) {
        case LoaderKind::Psd:
            return LoadPsdMerged(path);
        case LoaderKind::Eri:
            loaded = LoadEri(path, block, reason);
            break;
        case LoaderKind::Codec:
            loaded = LoadCodecImage(path, block, CodecDrawing::Raster, &reason);
            break;
        case LoaderKind::Metafile:
            loaded = LoadCodecImage(path, block, CodecDrawing::Metafile, &reason);
            break;
        }
    }
    // The codec gives an empty block and a reason for a file it cannot decode.
    ImagePtr image = loaded && reason.empty() && block ? ConvertDibToImage(*block) : nullptr;
    if (!image) {
        diagnostic = (loaded ? "IPLイメージ作成に失敗しました:" : "読み込み失敗：") + path;
        if (reason.empty())
            reason = loaded ? "the picture has no usable size" : "cannot read the file";
        if (block) PrepareDib32(*block, 0, 0);
        Fail(ReadFailureCode(reason), reason);
        return nullptr;
    }
    if (block->header().biBitCount < 32) FillAlpha(*image, 255);
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
    const int saved = SaveImageFile(*currentImage, outputPath);
    ReleaseIpl(currentImage);
    return saved == kSaveOk;
}

} // namespace pelo
