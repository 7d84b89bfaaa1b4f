// GIF and TIFF encoders: Qt has no GIF encoder, and its TIFF encoder stores
// premultiplied alpha, which would lose the colour of transparent pixels.
#include "formats/CodecInternal.h"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <libimagequant.h>
#include <memory>
#include <unordered_map>
#include <vector>
#include <zlib.h>

namespace pelo::codec {

namespace {

struct Palette {
    std::vector<GifColorType> colours; // at most 256
    int transparent = -1;
    std::vector<std::uint8_t> indices; // one per pixel, top row first
};

// Exact palette when the picture holds at most 256 distinct entries (every
// alpha-0 pixel counting as one transparent entry). False when it holds more.
bool ExactPalette(const QImage& image, Palette& palette) {
    std::unordered_map<std::uint32_t, std::uint8_t> index;
    const int w = image.width(), h = image.height();
    palette.indices.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::size_t at = 0;
    std::uint32_t lastKey = 0xFFFFFFFFu; // no pixel has this key
    std::uint8_t lastIndex = 0;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const std::uint32_t argb = row[x];
            // All fully transparent pixels share one key outside the colour range.
            const std::uint32_t key = (argb >> 24) == 0 ? 0xFF000000u : (argb & 0xFFFFFFu);
            // Flat art repeats its neighbour's colour most of the time.
            if (key == lastKey) {
                palette.indices[at++] = lastIndex;
                continue;
            }
            auto found = index.find(key);
            if (found == index.end()) {
                if (index.size() == 256) return false;
                const auto slot = static_cast<std::uint8_t>(index.size());
                found = index.emplace(key, slot).first;
                GifColorType c;
                c.Red = static_cast<GifByteType>(key >> 16);
                c.Green = static_cast<GifByteType>(key >> 8);
                c.Blue = static_cast<GifByteType>(key);
                if (key == 0xFF000000u) {
                    c = GifColorType{0, 0, 0};
                    palette.transparent = slot;
                }
                palette.colours.push_back(c);
            }
            palette.indices[at++] = found->second;
            lastKey = key;
            lastIndex = found->second;
        }
    }
    return true;
}

struct LiqFree {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
    void operator()(liq_image* p) const { liq_image_destroy(p); }
    void operator()(liq_result* p) const { liq_result_destroy(p); }
};

bool QuantisedPalette(const QImage& image, Palette& palette, std::string& error) {
    const int w = image.width(), h = image.height();
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<std::uint8_t> rgba(count * 4);
    std::size_t at = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = image.constScanLine(y);
        for (int x = 0; x < w; ++x, at += 4) {
            rgba[at + 0] = row[4 * x + 2];
            rgba[at + 1] = row[4 * x + 1];
            rgba[at + 2] = row[4 * x + 0];
            rgba[at + 3] = row[4 * x + 3];
        }
    }
    std::unique_ptr<liq_attr, LiqFree> attr(liq_attr_create());
    if (!attr || liq_set_max_colors(attr.get(), 256) != LIQ_OK) {
        error = "palette reduction unavailable";
        return false;
    }
    std::unique_ptr<liq_image, LiqFree> input(
        liq_image_create_rgba(attr.get(), rgba.data(), w, h, 0));
    if (!input) {
        error = "palette reduction refused the picture";
        return false;
    }
    liq_result* raw = nullptr;
    if (liq_image_quantize(input.get(), attr.get(), &raw) != LIQ_OK || !raw) {
        error = "palette reduction failed";
        return false;
    }
    std::unique_ptr<liq_result, LiqFree> result(raw);
    liq_set_dithering_level(result.get(), 0.0f);
    palette.indices.resize(count);
    if (liq_write_remapped_image(result.get(), input.get(), palette.indices.data(), count) !=
        LIQ_OK) {
        error = "palette reduction failed";
        return false;
    }
    const liq_palette* pal = liq_get_palette(result.get());
    int clearest = -1;
    for (unsigned i = 0; i < pal->count; ++i) {
        palette.colours.push_back(
            GifColorType{pal->entries[i].r, pal->entries[i].g, pal->entries[i].b});
        if (pal->entries[i].a < 128 &&
            (clearest < 0 || pal->entries[i].a < pal->entries[clearest].a))
            clearest = static_cast<int>(i);
    }
    palette.transparent = clearest;
    return true;
}

int WriteToArray(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<QByteArray*>(gif->UserData);
    out->append(reinterpret_cast<const char*>(data), length);
    return length;
}

void PutLe16(QByteArray& out, unsigned v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}
void PutLe32(QByteArray& out, std::uint32_t v) {
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}

} // namespace

bool EncodeGif(const QImage& image, QByteArray& out, std::string& error) {
    const int w = image.width(), h = image.height();
    if (w < 1 || h < 1 || w > 65535 || h > 65535) {
        error = "GIF sides are limited to 65535 pixels";
        return false;
    }
    Palette palette;
    if (!ExactPalette(image, palette)) {
        palette = Palette{};
        if (!QuantisedPalette(image, palette, error)) return false;
    }
    // A GIF colour table has a power-of-two size of at least 2.
    int bits = 1;
    while ((1 << bits) < static_cast<int>(palette.colours.size()))
        ++bits;
    palette.colours.resize(std::size_t{1} << bits, GifColorType{0, 0, 0});

    int status = 0;
    GifFileType* gif = EGifOpen(&out, WriteToArray, &status);
    if (!gif) {
        error = "GIF encoder unavailable";
        return false;
    }
    bool ok = true;
    ColorMapObject* map = GifMakeMapObject(1 << bits, palette.colours.data());
    EGifSetGifVersion(gif, true);
    ok = map && EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK;
    if (ok && palette.transparent >= 0) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.UserInputFlag = false;
        gcb.DelayTime = 0;
        gcb.TransparentColor = palette.transparent;
        GifByteType extension[4];
        EGifGCBToExtension(&gcb, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; ++y)
        ok =
            EGifPutLine(gif, palette.indices.data() + static_cast<std::size_t>(y) * w, w) == GIF_OK;
    if (EGifCloseFile(gif, &status) != GIF_OK) ok = false;
    if (map) GifFreeMapObject(map);
    if (!ok) error = "GIF encoding failed";
    return ok;
}

bool EncodeTiff(const QImage& image, QByteArray& out, std::string& error) {
    const int w = image.width(), h = image.height();
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(w);
    std::vector<std::uint8_t> rgba(rowBytes * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = image.constScanLine(y);
        std::uint8_t* dst = rgba.data() + rowBytes * static_cast<std::size_t>(y);
        for (int x = 0; x < w; ++x) {
            dst[4 * x + 0] = row[4 * x + 2];
            dst[4 * x + 1] = row[4 * x + 1];
            dst[4 * x + 2] = row[4 * x + 0];
            dst[4 * x + 3] = row[4 * x + 3];
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(rgba.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, rgba.data(), static_cast<uLong>(rgba.size()), 6) !=
        Z_OK) {
        error = "TIFF compression failed";
        return false;
    }
    constexpr int kTags = 11;
    constexpr std::uint32_t kIfdOffset = 8;
    constexpr std::uint32_t kBitsOffset = kIfdOffset + 2 + kTags * 12 + 4;
    constexpr std::uint32_t kStripOffset = kBitsOffset + 8;
    if (packedSize > 0xFFFFFFFFu - kStripOffset) {
        error = "picture too large for TIFF";
        return false;
    }
    out.clear();
    out.append("II*\0", 4);
    PutLe32(out, kIfdOffset);
    PutLe16(out, kTags);
    auto tag = [&out](unsigned id, unsigned type, std::uint32_t count, std::uint32_t value) {
        PutLe16(out, id);
        PutLe16(out, type);
        PutLe32(out, count);
        if (type == 3 && count == 1) {
            PutLe16(out, value);
            PutLe16(out, 0);
        } else {
            PutLe32(out, value);
        }
    };
    constexpr unsigned kShort = 3, kLong = 4;
    tag(256, kLong, 1, static_cast<std::uint32_t>(w));          // ImageWidth
    tag(257, kLong, 1, static_cast<std::uint32_t>(h));          // ImageLength
    tag(258, kShort, 4, kBitsOffset);                           // BitsPerSample 8,8,8,8
    tag(259, kShort, 1, 8);                                     // Compression: deflate
    tag(262, kShort, 1, 2);                                     // Photometric: RGB
    tag(273, kLong, 1, kStripOffset);                           // StripOffsets
    tag(277, kShort, 1, 4);                                     // SamplesPerPixel
    tag(278, kLong, 1, static_cast<std::uint32_t>(h));          // RowsPerStrip
    tag(279, kLong, 1, static_cast<std::uint32_t>(packedSize)); // StripByteCounts
    tag(284, kShort, 1, 1);                                     // PlanarConfiguration
    tag(338, kShort, 1, 2);                                     // ExtraSamples: unassociated
    PutLe32(out, 0);                                            // no further IFD
    for (int i = 0; i < 4; ++i)
        PutLe16(out, 8);
    out.append(reinterpret_cast<const char*>(packed.data()), static_cast<qsizetype>(packedSize));
    return true;
}

} // namespace pelo::codec
