// GIF and TIFF encoders: Qt has no GIF encoder, and its TIFF encoder stores
// premultiplied alpha, which would lose the colour of transparent pixels.
#include "formats/CodecInternal.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <gif_lib.h>
#include <libimagequant.h>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace pelo::codec {

namespace {

struct Palette {
    std::vector<GifColorType> colours; // at most 256
    int transparent = -1;
    std::vector<std::uint8_t> indices; // one per pixel, top row first
};

// GIF has one bit of alpha: pixels below half opacity are transparent, the
// others opaque.
inline bool ShownAsTransparent(std::uint8_t alpha) {
    return alpha < 128;
}

// Exact palette when the picture holds at most 256 distinct entries (every
// transparent pixel counting as one transparent entry). False when it holds
// more.
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
            const std::uint32_t key = ShownAsTransparent(static_cast<std::uint8_t>(argb >> 24))
                                          ? 0xFF000000u
                                          : (argb & 0xFFFFFFu);
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
            // Transparent pixels become one colour, the others fully opaque,
            // as the file will show them.
            const bool clear = ShownAsTransparent(row[4 * x + 3]);
            rgba[at + 0] = clear ? 0 : row[4 * x + 2];
            rgba[at + 1] = clear ? 0 : row[4 * x + 1];
            rgba[at + 2] = clear ? 0 : row[4 * x + 0];
            rgba[at + 3] = clear ? 0 : 255;
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

// Classic TIFF addresses its bytes with 32-bit offsets.
constexpr std::uint64_t kTiffMaxBytes = 0xFFFFFFFFu;
// Pixel bytes per TIFF strip. libtiff deflates a strip handed over whole in
// one faster call; strips of about 1 MiB keep its buffers in cache and lose
// little compression to the restarts.
constexpr std::size_t kTiffStripBytes = std::size_t{1} << 20;

// The file libtiff writes, growing in memory.
struct TiffSink {
    QByteArray bytes;
    std::uint64_t at = 0;
    bool tooLarge = false;
    bool outOfMemory = false;
};

tsize_t SinkRead(thandle_t handle, tdata_t buffer, tsize_t n) {
    auto* sink = static_cast<TiffSink*>(handle);
    const auto size = static_cast<std::uint64_t>(sink->bytes.size());
    if (n < 0 || sink->at >= size) return 0;
    const std::uint64_t count =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(n), size - sink->at);
    std::memcpy(buffer, sink->bytes.constData() + sink->at, count);
    sink->at += count;
    return static_cast<tsize_t>(count);
}
tsize_t SinkWrite(thandle_t handle, tdata_t data, tsize_t n) {
    auto* sink = static_cast<TiffSink*>(handle);
    if (n <= 0) return n < 0 ? -1 : 0;
    const auto count = static_cast<std::uint64_t>(n);
    if (count > kTiffMaxBytes - std::min(sink->at, kTiffMaxBytes)) {
        sink->tooLarge = true;
        return -1;
    }
    const std::uint64_t end = sink->at + count;
    const auto size = static_cast<std::uint64_t>(sink->bytes.size());
    try {
        const auto capacity = static_cast<std::uint64_t>(sink->bytes.capacity());
        if (end > capacity)
            sink->bytes.reserve(
                static_cast<qsizetype>(std::min(std::max(end, 2 * capacity), kTiffMaxBytes)));
        if (sink->at > size) // a seek past the end leaves a gap of zeros
            sink->bytes.append(static_cast<qsizetype>(sink->at - size), '\0');
        if (end > static_cast<std::uint64_t>(sink->bytes.size()))
            sink->bytes.resize(static_cast<qsizetype>(end));
    } catch (const std::bad_alloc&) {
        sink->outOfMemory = true;
        return -1;
    }
    std::memcpy(sink->bytes.data() + sink->at, data, count);
    sink->at = end;
    return n;
}
toff_t SinkSeek(thandle_t handle, toff_t offset, int whence) {
    auto* sink = static_cast<TiffSink*>(handle);
    const std::uint64_t base = whence == SEEK_CUR   ? sink->at
                               : whence == SEEK_END ? static_cast<std::uint64_t>(sink->bytes.size())
                                                    : 0;
    const std::uint64_t target = base + offset; // wraps round for a backward offset
    if (target > kTiffMaxBytes) {
        sink->tooLarge = true;
        return static_cast<toff_t>(-1);
    }
    sink->at = target;
    return target;
}
int SinkClose(thandle_t) {
    return 0;
}
toff_t SinkSize(thandle_t handle) {
    return static_cast<toff_t>(static_cast<TiffSink*>(handle)->bytes.size());
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
    if (image.format() != QImage::Format_ARGB32 || w < 1 || h < 1) {
        error = "TIFF needs a non-empty 32-bit picture";
        return false;
    }
    const auto width = static_cast<std::uint32_t>(w), height = static_cast<std::uint32_t>(h);
    const std::size_t rowBytes = 4 * std::size_t{width};
    const auto rowsPerStrip =
        static_cast<std::uint32_t>(std::clamp<std::size_t>(kTiffStripBytes / rowBytes, 1, height));

    TiffSink sink;
    TiffPtr tiff =
        OpenTiffClient("wl", &sink, SinkRead, SinkWrite, SinkSeek, SinkClose, SinkSize, 0);
    auto fail = [&](const char* otherwise) {
        error = sink.tooLarge      ? "picture too large for TIFF"
                : sink.outOfMemory ? "out of memory"
                                   : TiffReason(otherwise);
        return false;
    };
    if (!tiff) return fail("TIFF encoder unavailable");
    TIFF* t = tiff.get();
    std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    // libtiff takes 16-bit fields as int through its variadic setter.
    if (!TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width) ||
        !TIFFSetField(t, TIFFTAG_IMAGELENGTH, height) ||
        !TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) ||
        !TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4) ||
        !TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) ||
        !TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra) ||
        !TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) ||
        !TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) ||
        !TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) ||
        !TIFFSetField(t, TIFFTAG_ZIPQUALITY, 6) ||
        !TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip))
        return fail("TIFF encoder refused the picture's layout");

    std::vector<std::uint8_t> rgba(rowBytes * rowsPerStrip);
    for (std::uint32_t y = 0, strip = 0; y < height; y += rowsPerStrip, ++strip) {
        const std::uint32_t rows = std::min(rowsPerStrip, height - y);
        std::uint8_t* dst = rgba.data();
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint8_t* src = image.constScanLine(static_cast<int>(y + r));
            for (std::uint32_t x = 0; x < width; ++x, src += 4, dst += 4) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
                dst[3] = src[3];
            }
        }
        if (TIFFWriteEncodedStrip(t, strip, rgba.data(), static_cast<tmsize_t>(rows * rowBytes)) <
            0)
            return fail("TIFF encoding failed");
    }
    if (!TIFFFlush(t)) return fail("TIFF encoding failed");
    tiff.reset();
    if (sink.tooLarge || sink.outOfMemory) return fail("TIFF encoding failed");
    out = std::move(sink.bytes);
    return true;
}

} // namespace pelo::codec
