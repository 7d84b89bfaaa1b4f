// Writing an 8-bit RGB PSD: merged image, layers with transparency,
// Pascal and Unicode names, run-length channels. The file is written beside
// its target and renamed into place when complete.
#include "base/ByteOrder.h"
#include "base/Utf.h"
#include "tlpsdex/PsdFormat.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace tlpsd {

using pelo::AppendBe16;
using pelo::AppendBe32;
using pelo::CutUtf8;
using pelo::Utf8ToUtf16;

namespace {

void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}
void Patch32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    pelo::StoreBe32(out.data() + at, v);
}

// Run-length (pack-bits) encoding of one row.
void PackRow(const std::uint8_t* row, std::size_t n, std::vector<std::uint8_t>& out) {
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(257 - run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        std::size_t lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && row[i + lit] == row[i + lit + 1]))
            ++lit;
        out.push_back(static_cast<std::uint8_t>(lit - 1));
        out.insert(out.end(), row + i, row + i + lit);
        i += lit;
    }
}

// One channel (compression field onwards) from byte `byte` of each BGRA
// pixel; `matte` composites colours on white by the pixel's alpha.
std::vector<std::uint8_t> EncodePlane(const std::uint8_t* pixels, std::size_t w, std::size_t h,
                                      int byte, bool matte, int compression) {
    std::vector<std::uint8_t> out;
    AppendBe16(out, w == 0 || h == 0 ? 0 : static_cast<unsigned>(compression));
    if (w == 0 || h == 0) return out;
    std::vector<std::uint8_t> row(w);
    std::vector<std::uint8_t> packed;
    const std::size_t countsAt = out.size();
    if (compression == 1) out.resize(out.size() + 2 * h);
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = pixels + 4 * y * w;
        for (std::size_t x = 0; x < w; ++x) {
            int v = src[4 * x + byte];
            if (matte) {
                const int a = src[4 * x + 3];
                v = 255 - ((255 - v) * a + 127) / 255;
            }
            row[x] = static_cast<std::uint8_t>(v);
        }
        if (compression == 1) {
            packed.clear();
            PackRow(row.data(), w, packed);
            out[countsAt + 2 * y] = static_cast<std::uint8_t>(packed.size() >> 8);
            out[countsAt + 2 * y + 1] = static_cast<std::uint8_t>(packed.size());
            out.insert(out.end(), packed.begin(), packed.end());
        } else {
            out.insert(out.end(), row.begin(), row.end());
        }
    }
    return out;
}

} // namespace

int Writer::Begin(const char* path, const std::int32_t* options) {
    if (!path || !*path) return TLPSD_E_ARGUMENT;
    const std::int32_t* opt = options ? options : TLPSD_SAVE_OPTION_DEFAULTS;
    if (opt[3] != 0 && opt[3] != 1) return TLPSD_E_ARGUMENT;
    if (opt[5] != 0 && opt[5] != 2) return TLPSD_E_ARGUMENT;
    unicodeNames_ = (opt[1] & 0x8000) == 0 || (opt[1] & 1) != 0;
    compression_ = opt[3];
    matteMerged_ = opt[5] == 2;

    // Written beside the target and renamed into place when complete.
    if (!file_.Open(path)) {
        errno = file_.lastErrno();
        return TLPSD_E_OPEN;
    }
    open_ = true;
    haveImage_ = false;
    merged_.clear();
    layers_.clear();
    return TLPSD_OK;
}

int Writer::SetImage(const std::uint8_t* pixels, std::int32_t width, std::int32_t height) {
    if (!pixels || width < 1 || height < 1) return TLPSD_E_ARGUMENT;
    if (width > TLPSD_MAX_SIDE || height > TLPSD_MAX_SIDE) return TLPSD_E_TOO_LARGE;
    try {
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        mergedAlpha_ = false;
        for (std::size_t i = 0; i < w * h && !mergedAlpha_; ++i)
            mergedAlpha_ = pixels[4 * i + 3] != 255;
        const bool matte = mergedAlpha_ && matteMerged_;
        std::vector<std::vector<std::uint8_t>> planes;
        for (int byte : {2, 1, 0})
            planes.push_back(EncodePlane(pixels, w, h, byte, matte, compression_));
        if (mergedAlpha_) planes.push_back(EncodePlane(pixels, w, h, 3, false, compression_));
        // One compression field, then every plane's counts, then every plane's rows.
        merged_.clear();
        AppendBe16(merged_, static_cast<unsigned>(compression_));
        const std::size_t countBytes = compression_ == 1 ? 2 * h : 0;
        for (const auto& p : planes)
            merged_.insert(merged_.end(), p.begin() + 2, p.begin() + 2 + countBytes);
        for (const auto& p : planes)
            merged_.insert(merged_.end(), p.begin() + 2 + countBytes, p.end());
    } catch (const std::bad_alloc&) {
        return TLPSD_E_MEMORY;
    }
    width_ = width;
    height_ = height;
    haveImage_ = true;
    return TLPSD_OK;
}

int Writer::SetLayer(const std::uint8_t* pixels, const TlPsdLayerInfo& info) {
    const std::int64_t w = static_cast<std::int64_t>(info.rect.right) - info.rect.left;
    const std::int64_t h = static_cast<std::int64_t>(info.rect.bottom) - info.rect.top;
    if (w < 0 || h < 0 || (w * h > 0 && !pixels)) return TLPSD_E_ARGUMENT;
    if (w > TLPSD_MAX_SIDE || h > TLPSD_MAX_SIDE) return TLPSD_E_TOO_LARGE;
    if (layers_.size() >= TLPSD_MAX_LAYERS) return TLPSD_E_TOO_MANY;
    try {
        EncodedLayer layer;
        layer.info = info;
        layer.info.name[sizeof(layer.info.name) - 1] = '\0';
        layer.info.blendMode[4] = '\0';
        for (int byte : {3, 2, 1, 0})
            layer.channels.push_back(EncodePlane(pixels, static_cast<std::size_t>(w),
                                                 static_cast<std::size_t>(h), byte, false,
                                                 compression_));
        layers_.push_back(std::move(layer));
    } catch (const std::bad_alloc&) {
        return TLPSD_E_MEMORY;
    }
    return TLPSD_OK;
}

int Writer::Finish() {
    if (!open_) return TLPSD_E_NOT_OPEN;
    if (!haveImage_) {
        Abandon();
        return TLPSD_E_ARGUMENT;
    }
    std::vector<std::uint8_t> out;
    try {
        PutTag(out, "8BPS");
        AppendBe16(out, 1);
        out.insert(out.end(), 6, 0);
        AppendBe16(out, mergedAlpha_ ? 4 : 3);
        AppendBe32(out, static_cast<std::uint32_t>(height_));
        AppendBe32(out, static_cast<std::uint32_t>(width_));
        AppendBe16(out, 8);
        AppendBe16(out, 3);
        AppendBe32(out, 0); // colour mode data
        AppendBe32(out, 0); // image resources

        const std::size_t sectionAt = out.size();
        AppendBe32(out, 0);
        const std::size_t infoAt = out.size();
        AppendBe32(out, 0);
        if (!layers_.empty()) {
            const int count = static_cast<int>(layers_.size());
            // A negative count says the merged image's extra channel is transparency.
            AppendBe16(out, static_cast<unsigned>(
                                static_cast<std::uint16_t>(mergedAlpha_ ? -count : count)));
            static const std::int16_t kIds[] = {-1, 0, 1, 2};
            for (const EncodedLayer& layer : layers_) {
                const TlPsdRect& r = layer.info.rect;
                AppendBe32(out, static_cast<std::uint32_t>(r.top));
                AppendBe32(out, static_cast<std::uint32_t>(r.left));
                AppendBe32(out, static_cast<std::uint32_t>(r.bottom));
                AppendBe32(out, static_cast<std::uint32_t>(r.right));
                AppendBe16(out, 4);
                for (int k = 0; k < 4; ++k) {
                    AppendBe16(out, static_cast<std::uint16_t>(kIds[k]));
                    AppendBe32(out, static_cast<std::uint32_t>(
                                        layer.channels[static_cast<std::size_t>(k)].size()));
                }
                PutTag(out, "8BIM");
                char key[4] = {'n', 'o', 'r', 'm'};
                if (std::strlen(layer.info.blendMode) == 4)
                    std::memcpy(key, layer.info.blendMode, 4);
                if (std::memcmp(key, "NORM", 4) == 0) std::memcpy(key, "norm", 4);
                PutTag(out, key);
                out.push_back(static_cast<std::uint8_t>(layer.info.opacity < 0 ? 0
                                                        : layer.info.opacity > 255
                                                            ? 255
                                                            : layer.info.opacity));
                out.push_back(0);                                     // clipping: base
                out.push_back(layer.info.visible == 1 ? 0x08 : 0x0A); // bit 1: hidden
                out.push_back(0);
                const std::size_t extraAt = out.size();
                AppendBe32(out, 0);
                AppendBe32(out, 0); // no mask
                AppendBe32(out, 0); // no blending ranges
                const std::string name = CutUtf8(layer.info.name, 255);
                out.push_back(static_cast<std::uint8_t>(name.size()));
                out.insert(out.end(), name.begin(), name.end());
                out.insert(out.end(), (4 - (name.size() + 1) % 4) % 4, 0); // name padded to 4
                if (unicodeNames_) {
                    const std::vector<std::uint16_t> units = Utf8ToUtf16(name);
                    PutTag(out, "8BIM");
                    PutTag(out, "luni");
                    std::uint32_t len = 4 + 2 * static_cast<std::uint32_t>(units.size());
                    const std::uint32_t padded = (len + 3) & ~3u;
                    AppendBe32(out, padded);
                    AppendBe32(out, static_cast<std::uint32_t>(units.size()));
                    for (std::uint16_t u : units)
                        AppendBe16(out, u);
                    out.insert(out.end(), padded - len, 0);
                }
                Patch32(out, extraAt, static_cast<std::uint32_t>(out.size() - extraAt - 4));
            }
            for (const EncodedLayer& layer : layers_)
                for (const auto& ch : layer.channels)
                    out.insert(out.end(), ch.begin(), ch.end());
            while ((out.size() - infoAt - 4) % 4 != 0)
                out.push_back(0);
            Patch32(out, infoAt, static_cast<std::uint32_t>(out.size() - infoAt - 4));
        }
        AppendBe32(out, 0); // global layer mask
        Patch32(out, sectionAt, static_cast<std::uint32_t>(out.size() - sectionAt - 4));
        if (out.size() > 0xFFFFFFF0u) {
            Abandon();
            return TLPSD_E_TOO_LARGE;
        }
        out.insert(out.end(), merged_.begin(), merged_.end());
    } catch (const std::bad_alloc&) {
        Abandon();
        return TLPSD_E_MEMORY;
    }
    // errno keeps the failing call's for the caller.
    const bool written = file_.Write(out.data(), out.size()) && file_.Commit();
    const int err = file_.lastErrno();
    open_ = false;
    std::vector<std::uint8_t>().swap(out);
    layers_.clear();
    merged_.clear();
    if (written) return TLPSD_OK;
    errno = err;
    return TLPSD_E_READ;
}

void Writer::Abandon() {
    file_.Abandon();
    open_ = false;
    layers_.clear();
    merged_.clear();
    haveImage_ = false;
}

} // namespace tlpsd
