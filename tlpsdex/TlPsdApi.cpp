// The library's C entry points. Open input and output documents are kept
// per thread, so parallel jobs can each convert their own file.
#include "tlpsdex/PsdFormat.h"
#include "tlpsdex/tlpsdex.h"

#include <algorithm>
#include <cstring>
#include <new>

#define TLPSD_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct LoadState {
    bool open = false;
    tlpsd::Document doc;
};

thread_local LoadState tLoad;
thread_local tlpsd::Writer tSave;

int OpenSource(std::unique_ptr<tlpsd::ByteSource> source, std::int32_t mode, std::int32_t flags) {
    if (mode != TLPSD_LOAD_BGRA8) return TLPSD_E_ARGUMENT;
    if ((flags & ~TLPSD_LOAD_GROUP_RECORDS) != 0) return TLPSD_E_ARGUMENT;
    try {
        const int rc = tlpsd::ParseDocument(std::move(source),
                                            (flags & TLPSD_LOAD_GROUP_RECORDS) != 0, tLoad.doc);
        if (rc != TLPSD_OK) {
            tLoad.doc = tlpsd::Document{};
            return rc;
        }
    } catch (const std::bad_alloc&) {
        tLoad.doc = tlpsd::Document{};
        return TLPSD_E_MEMORY;
    }
    tLoad.open = true;
    return TLPSD_OK;
}

// Moves the pixels of `keep` (inside `have`) to the start of the buffer.
void Compact(std::uint8_t* pixels, const TlPsdRect& have, const TlPsdRect& keep) {
    const std::int64_t haveW = static_cast<std::int64_t>(have.right) - have.left;
    const std::int64_t keepW = static_cast<std::int64_t>(keep.right) - keep.left;
    const std::size_t rowBytes = static_cast<std::size_t>(keepW) * 4;
    for (std::int64_t y = keep.top; y < keep.bottom; ++y) {
        const std::uint8_t* src = pixels + 4 * ((y - have.top) * haveW + (keep.left - have.left));
        std::uint8_t* dst = pixels + 4 * (y - keep.top) * keepW;
        if (src != dst) std::memmove(dst, src, rowBytes); // dst never lies after src
    }
}

bool ValidRect(const TlPsdRect* r) {
    return r && static_cast<std::int64_t>(r->right) >= r->left &&
           static_cast<std::int64_t>(r->bottom) >= r->top;
}

} // namespace

TLPSD_EXPORT int32_t TlPsd_GetVersion(void) {
    return 0x0100;
}

TLPSD_EXPORT int32_t TlPsd_UnderScan(void* pixels, TlPsdRect* layerRect,
                                     const TlPsdRect* canvasRect) {
    if (!ValidRect(layerRect) || !ValidRect(canvasRect)) {
        if (layerRect) layerRect->right = layerRect->left, layerRect->bottom = layerRect->top;
        return TLPSD_E_ARGUMENT;
    }
    TlPsdRect keep{std::max(layerRect->left, canvasRect->left),
                   std::max(layerRect->top, canvasRect->top),
                   std::min(layerRect->right, canvasRect->right),
                   std::min(layerRect->bottom, canvasRect->bottom)};
    if (keep.right <= keep.left || keep.bottom <= keep.top) {
        // Nothing on the canvas: an empty rectangle at the clipped corner.
        keep.left = std::clamp(layerRect->left, canvasRect->left, canvasRect->right);
        keep.top = std::clamp(layerRect->top, canvasRect->top, canvasRect->bottom);
        keep.right = keep.left;
        keep.bottom = keep.top;
        *layerRect = keep;
        return TLPSD_OK;
    }
    if (!pixels) return TLPSD_E_ARGUMENT;
    Compact(static_cast<std::uint8_t*>(pixels), *layerRect, keep);
    *layerRect = keep;
    return TLPSD_OK;
}

TLPSD_EXPORT int32_t TlPsd_Minimize(void* pixels, TlPsdRect* layerRect) {
    if (!ValidRect(layerRect)) {
        if (layerRect) layerRect->right = layerRect->left, layerRect->bottom = layerRect->top;
        return TLPSD_E_ARGUMENT;
    }
    const std::int64_t w = static_cast<std::int64_t>(layerRect->right) - layerRect->left;
    const std::int64_t h = static_cast<std::int64_t>(layerRect->bottom) - layerRect->top;
    if (w == 0 || h == 0) {
        layerRect->right = layerRect->left;
        layerRect->bottom = layerRect->top;
        return TLPSD_OK;
    }
    if (!pixels) return TLPSD_E_ARGUMENT;
    auto* px = static_cast<std::uint8_t*>(pixels);
    // Per row: up to its first covered pixel, then back from the end no
    // further than the right edge found so far.
    std::int64_t x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (std::int64_t y = 0; y < h; ++y) {
        const std::uint8_t* row = px + 4 * y * w;
        std::int64_t first = 0;
        while (first < w && row[4 * first + 3] == 0)
            ++first;
        if (first == w) continue; // nothing in this row
        std::int64_t last = w - 1;
        while (last > x1 && last > first && row[4 * last + 3] == 0)
            --last;
        x0 = std::min(x0, first);
        x1 = std::max(x1, last);
        y0 = std::min(y0, y);
        y1 = y;
    }
    if (x1 < 0) {
        layerRect->right = layerRect->left;
        layerRect->bottom = layerRect->top;
        return TLPSD_OK;
    }
    const TlPsdRect keep{static_cast<int32_t>(layerRect->left + x0),
                         static_cast<int32_t>(layerRect->top + y0),
                         static_cast<int32_t>(layerRect->left + x1 + 1),
                         static_cast<int32_t>(layerRect->top + y1 + 1)};
    Compact(px, *layerRect, keep);
    *layerRect = keep;
    return TLPSD_OK;
}

// Opening replaces a document still open on this thread.
TLPSD_EXPORT int32_t TlPsdLoad_Open(const char* path, int32_t mode, const void* options) {
    TlPsdLoad_Close();
    if (!path) return TLPSD_E_ARGUMENT;
    std::int32_t flags = 0;
    if (options) std::memcpy(&flags, options, sizeof(flags));
    int error = TLPSD_OK;
    auto source = tlpsd::OpenFileSource(path, &error);
    if (!source) return error;
    return OpenSource(std::move(source), mode, flags);
}

TLPSD_EXPORT int32_t TlPsdLoad_OpenMemory(const void* data, size_t size, int32_t mode) {
    TlPsdLoad_Close();
    if (!data && size > 0) return TLPSD_E_ARGUMENT;
    return OpenSource(tlpsd::MemorySource(data, size), mode, 0);
}

TLPSD_EXPORT int32_t TlPsdLoad_Close(void) {
    tLoad.doc = tlpsd::Document{};
    const bool wasOpen = tLoad.open;
    tLoad.open = false;
    return wasOpen ? TLPSD_OK : TLPSD_E_NOT_OPEN;
}

TLPSD_EXPORT int32_t TlPsdLoad_GetLayerCount(void) {
    if (!tLoad.open) return -TLPSD_E_NOT_OPEN;
    return static_cast<int32_t>(tLoad.doc.layers.size());
}

TLPSD_EXPORT int32_t TlPsdLoad_GetImageInfo(TlPsdLayerInfo* info) {
    if (!info) return TLPSD_E_ARGUMENT;
    if (!tLoad.open) return TLPSD_E_NOT_OPEN;
    const int32_t index = info->index;
    if (index == -1) {
        TlPsdLayerInfo merged{};
        merged.index = -1;
        merged.section = TLPSD_SECTION_LAYER;
        merged.rect = {0, 0, tLoad.doc.width, tLoad.doc.height};
        merged.visible = 1;
        std::memcpy(merged.blendMode, "NORM", 5);
        merged.opacity = 255;
        merged.reserved2 = 255;
        *info = merged;
        return TLPSD_OK;
    }
    if (index < 0 || index >= static_cast<int32_t>(tLoad.doc.layers.size()))
        return TLPSD_E_ARGUMENT;
    *info = tLoad.doc.layers[static_cast<std::size_t>(index)].info;
    return TLPSD_OK;
}

TLPSD_EXPORT int32_t TlPsdLoad_GetImage(int32_t index, void* buffer, size_t bufferBytes,
                                        const TlPsdRect* rect) {
    if (!tLoad.open) return TLPSD_E_NOT_OPEN;
    if (!rect) return TLPSD_E_ARGUMENT;
    return tlpsd::DecodePicture(tLoad.doc, index, static_cast<std::uint8_t*>(buffer), bufferBytes,
                                *rect);
}

// An output left unfinished on this thread is abandoned, never written.
TLPSD_EXPORT int32_t TlPsdSave_Open(const char* path, int32_t mode, const int32_t* options) {
    tSave.Abandon();
    if (mode != TLPSD_SAVE_RGB8) return TLPSD_E_ARGUMENT;
    return tSave.Begin(path, options);
}

TLPSD_EXPORT int32_t TlPsdSave_SetImage(const void* pixels, int32_t right, int32_t bottom) {
    if (!tSave.open()) return TLPSD_E_NOT_OPEN;
    return tSave.SetImage(static_cast<const std::uint8_t*>(pixels), right, bottom);
}

TLPSD_EXPORT int32_t TlPsdSave_SetLayer(const void* pixels, const TlPsdLayerInfo* info) {
    if (!tSave.open()) return TLPSD_E_NOT_OPEN;
    if (!info) return TLPSD_E_ARGUMENT;
    return tSave.SetLayer(static_cast<const std::uint8_t*>(pixels), *info);
}

TLPSD_EXPORT int32_t TlPsdSave_Close(void) {
    return tSave.Finish();
}

TLPSD_EXPORT const char* TlPsd_ErrorText(int32_t code) {
    switch (code) {
    case TLPSD_OK:
        return "no error";
    case TLPSD_E_OPEN:
        return "the file cannot be opened";
    case TLPSD_E_READ:
        return "the file is truncated or cannot be read or written";
    case TLPSD_E_SIGNATURE:
        return "not a PSD file";
    case TLPSD_E_VERSION:
        return "unknown PSD version";
    case TLPSD_E_COLOUR_MODE:
        return "colour mode not supported (only RGB and greyscale)";
    case TLPSD_E_DEPTH:
        return "bit depth not supported (only 8 and 16 bits)";
    case TLPSD_E_TOO_LARGE:
        return "picture too large";
    case TLPSD_E_TOO_MANY:
        return "too many layers or channels";
    case TLPSD_E_CORRUPT:
        return "inconsistent lengths or counts";
    case TLPSD_E_MEMORY:
        return "out of memory";
    case TLPSD_E_ARGUMENT:
        return "bad argument";
    case TLPSD_E_NOT_OPEN:
        return "no document open";
    case TLPSD_E_DECODE:
        return "broken compressed channel data";
    case TLPSD_E_COMPRESSION:
        return "unknown channel compression";
    case TLPSD_E_ALREADY_OPEN:
        return "a document is already open";
    default:
        return "unknown error";
    }
}
