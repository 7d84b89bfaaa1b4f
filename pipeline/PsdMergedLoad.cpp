// PSD as one flat picture: the merged image's colours, with alpha rebuilt
// from the visible layers, each weighted by its opacity.
#include "formats/PsdLibrary.h"
#include "formats/PsdRead.h"
#include "image/Allocation.h"
#include "image/PictureBudget.h"
#include "pipeline/ConversionSession.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace pelo {

namespace {

// Sizes a pixel buffer within the allocation cap; false instead of throwing.
bool SizePixels(std::vector<std::uint8_t>& pixels, std::int64_t w, std::int64_t h) {
    if (!AdmitPicture(w, h).empty()) return false;
    const auto bytes = CheckedImageBytes(w, h, 4);
    if (!bytes) return false;
    try {
        pixels.resize(*bytes);
    } catch (const std::bad_alloc&) {
        pixels.clear();
        pixels.shrink_to_fit();
        return false;
    }
    return true;
}

std::int64_t Width(const PsdRect& r) {
    return std::int64_t{r.right} - r.left;
}
std::int64_t Height(const PsdRect& r) {
    return std::int64_t{r.bottom} - r.top;
}

// x * y / 255, rounded to nearest, for 8-bit x and y.
inline unsigned Scale255(unsigned x, unsigned y) {
    return (x * y + 127) / 255;
}

// The library's codes for what the user's file holds, as opposed to its own
// trouble (memory, arguments).
StatusCode PsdFailureCode(int code) {
    switch (code < 0 ? -code : code) {
    case TLPSD_E_OPEN:
        return StatusCode::CannotRead;
    case TLPSD_E_VERSION:
    case TLPSD_E_COLOUR_MODE:
    case TLPSD_E_DEPTH:
    case TLPSD_E_COMPRESSION:
        return StatusCode::Unsupported;
    case TLPSD_E_TOO_LARGE:
    case TLPSD_E_TOO_MANY:
        return StatusCode::TooLarge;
    case TLPSD_E_MEMORY:
        return StatusCode::OutOfMemory;
    default:
        return StatusCode::Damaged;
    }
}

} // namespace

bool ReadPsdMergedImage(std::vector<std::uint8_t>& pixels, PsdLayerInfo& info) {
    const PsdLibrary* lib = Psd();
    if (!lib || lib->TlPsdLoad_GetImageInfo(&info) != 0) return false;
    // A canvas without pixels cannot become a picture.
    if (Width(info.rect) <= 0 || Height(info.rect) <= 0) return false;
    if (!SizePixels(pixels, Width(info.rect), Height(info.rect))) return false;
    return lib->TlPsdLoad_GetImage(info.index, pixels.data(), pixels.size(), &info.rect) == 0;
}

bool ReadPsdRecord(int index, PsdLayerInfo& info, std::string& why) {
    const PsdLibrary* lib = Psd();
    if (!lib) return false;
    std::memset(static_cast<void*>(&info), 0, sizeof(info)); // every field 0
    info.index = index;
    if (const std::int32_t code = lib->TlPsdLoad_GetImageInfo(&info); code != 0) {
        why = "PSD layer " + std::to_string(index) + ": " + PsdResultText(code);
        return false;
    }
    return true;
}

PsdLayerRead ReadPsdLayer(int index, PsdLayer& layer, const PsdRect& canvas, std::string& why) {
    auto release = [&layer](PsdLayerRead result) {
        layer.pixels.clear();
        layer.pixels.shrink_to_fit();
        return result;
    };
    const PsdLibrary* lib = Psd();
    if (!lib || !ReadPsdRecord(index, layer.info, why)) return release(PsdLayerRead::Failed);
    const std::string which = "PSD layer " + std::to_string(index) + ": ";
    PsdRect& rect = layer.info.rect;
    // An inverted rectangle could still give a positive area; it has no pixels.
    if (Width(rect) <= 0 || Height(rect) <= 0) return release(PsdLayerRead::Empty);
    if (!SizePixels(layer.pixels, Width(rect), Height(rect))) {
        const std::string problem = PictureSizeProblem(Width(rect), Height(rect));
        why = which + (problem.empty() ? "out of memory" : problem);
        return release(PsdLayerRead::Failed);
    }
    if (const std::int32_t code =
            lib->TlPsdLoad_GetImage(index, layer.pixels.data(), layer.pixels.size(), &rect);
        code != 0) {
        why = which + PsdResultText(code);
        return release(PsdLayerRead::Failed);
    }
    lib->TlPsd_UnderScan(layer.pixels.data(), &rect, &canvas);
    lib->TlPsd_Minimize(layer.pixels.data(), &rect);
    if (Width(rect) <= 0 || Height(rect) <= 0) return release(PsdLayerRead::Empty);
    layer.pixels.resize(static_cast<std::size_t>(Width(rect) * Height(rect) * 4));
    return PsdLayerRead::Read;
}

bool ConversionSession::OpenPsdInput(const std::string& path) {
    const PsdLibrary* lib = Psd();
    const int code = lib->TlPsdLoad_Open(path.c_str(), TLPSD_LOAD_BGRA8, &kPsdLoadOptions);
    if (code != 0) {
        Show("Error: Can not open a file, " + path + " code=" + std::to_string(code));
        lib->TlPsdLoad_Close(); // every way out leaves no input open
        return Fail(PsdFailureCode(code), PsdResultText(code));
    }
    psd.psdMergedInfo = kPsdLayerInfoDefaults;
    psd.psdMergedInfo.index = -1;
    if (!ReadPsdMergedImage(psd.psdMergedPixels, psd.psdMergedInfo)) {
        Show("Can not get the merged image. ");
        lib->TlPsdLoad_Close();
        const PsdRect& r = psd.psdMergedInfo.rect;
        const std::string problem = PictureSizeProblem(Width(r), Height(r));
        if (!problem.empty() && Width(r) > 0 && Height(r) > 0)
            return Fail(StatusCode::TooLarge, problem);
        return Fail(StatusCode::Damaged, "PSD: cannot read the merged image");
    }
    return true;
}

ImagePtr ConversionSession::LoadPsdMerged(const std::string& path) {
    const PsdLibrary* lib = Psd();
    if (!lib) {
        Fail(StatusCode::Unsupported, "the PSD library is not loaded");
        return nullptr;
    }
    if (!OpenPsdInput(path)) return nullptr;
    const int count = lib->TlPsdLoad_GetLayerCount();
    if (count < 0) {
        Fail(StatusCode::Damaged, PsdResultText(count));
        lib->TlPsdLoad_Close();
        return nullptr;
    }
    const PsdRect canvas = psd.psdMergedInfo.rect;
    const int W = static_cast<int>(Width(canvas)), H = static_cast<int>(Height(canvas));
    ReleaseIpl(currentImage);
    ImagePtr image = AllocIpl(W, H);
    if (!image) {
        const std::string problem = PictureSizeProblem(W, H);
        Fail(problem.empty() ? StatusCode::OutOfMemory : StatusCode::TooLarge,
             problem.empty() ? "out of memory" : problem);
        lib->TlPsdLoad_Close();
        return nullptr;
    }
    std::memcpy(image->imageData, psd.psdMergedPixels.data(), image->imageSize);
    psd.psdLayers.assign(static_cast<std::size_t>(count), PsdLayer{});
    // Groups add no coverage of their own.
    std::vector<int> pictures;
    for (int i = 0; i < count; ++i) {
        std::string why;
        PsdLayerInfo& info = psd.psdLayers[static_cast<std::size_t>(i)].info;
        if (!ReadPsdRecord(i, info, why)) {
            Fail(StatusCode::Damaged, why);
            lib->TlPsdLoad_Close();
            return nullptr;
        }
        if (!IsPsdGroupRecord(info)) pictures.push_back(i);
    }
    // A document without layers (flattened) has no coverage to rebuild: it
    // keeps the merged image's own alpha, opaque when it has none.
    if (!pictures.empty()) FillAlpha(*image, 0);

    for (const int i : pictures) {
        PsdLayer& layer = psd.psdLayers[static_cast<std::size_t>(i)];
        std::string why;
        const PsdLayerRead read = ReadPsdLayer(i, layer, canvas, why);
        if (read == PsdLayerRead::Failed) {
            // A layer lost would change the picture's coverage unseen.
            Fail(StatusCode::Damaged, why);
            lib->TlPsdLoad_Close();
            return nullptr;
        }
        if (read == PsdLayerRead::Empty || layer.info.visible != 1) continue;
        // Union of coverages over the layer's (clipped) rectangle; outside
        // it the layer's alpha is 0 and leaves the result as it was.
        const PsdRect& r = layer.info.rect;
        if (r.left < 0 || r.top < 0 || r.right > W || r.bottom > H) continue;
        const unsigned p = static_cast<unsigned>(std::clamp(layer.info.opacity, 0, 255));
        const std::int64_t w = Width(r);
        for (std::int64_t y = 0; y < Height(r); ++y) {
            const std::uint8_t* src = layer.pixels.data() + 4 * y * w;
            std::uint8_t* dst = image->pixel(r.left, static_cast<int>(r.top + y));
            for (std::int64_t x = 0; x < w; ++x) {
                const unsigned a = Scale255(src[4 * x + 3], p);
                const unsigned A = dst[4 * x + 3];
                dst[4 * x + 3] = static_cast<std::uint8_t>(255 - Scale255(255 - A, 255 - a));
            }
        }
    }
    lib->TlPsdLoad_Close();
    return image;
}

} // namespace pelo
