// Writing an 8-bit RGB PSD: merged image, layers with transparency,
// Pascal and Unicode names, run-length channels. The file is written beside
// its target and renamed into place when complete.
#include "base/ByteOrder.h"
#include "base/Utf.h"
#include "tlpsdex/PsdFormat.h"

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// Index (0..7) of the first byte in memory order whose bit 7 is set in
// `marks`, which has only bits 7 of its bytes set and one of them at least.
int FirstMarked(std::uint64_t marks) {
    if constexpr (std::endian::native == std::endian::little) return std::countr_zero(marks) / 8;
    return std::countl_zero(marks) / 8;
}

// Length of the run of p[0] that starts p, at most `most`.
std::size_t RunLength(const std::uint8_t* p, std::size_t most) {
    std::size_t run = 1;
#ifdef __SSE2__
    const __m128i repeated = _mm_set1_epi8(static_cast<char>(p[0]));
    for (; run + 16 <= most; run += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + run));
        const unsigned equal =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, repeated)));
        if (equal != 0xFFFF) return run + static_cast<std::size_t>(std::countr_zero(~equal));
    }
#endif
    const std::uint64_t same = kOnes * p[0];
    for (; run + 8 <= most; run += 8) {
        const std::uint64_t diff = Load64(p + run) ^ same;
        // A nonzero byte of diff ends the run; find the first one.
        const std::uint64_t nonzero = (((diff & ~kHighs) + ~kHighs) | diff) & kHighs;
        if (nonzero != 0) return run + static_cast<std::size_t>(FirstMarked(nonzero));
    }
    while (run < most && p[run] == p[0])
        ++run;
    return run;
}

// Length of the literal that starts p: it stops before the first pair of
// equal bytes, at `most` bytes, or at the end (`left` bytes away).
std::size_t LiteralLength(const std::uint8_t* p, std::size_t most, std::size_t left) {
    std::size_t lit = 1;
#ifdef __SSE2__
    for (; lit + 16 <= most && lit + 17 <= left; lit += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + lit));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + lit + 1));
        const unsigned pairs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
        if (pairs != 0) return lit + static_cast<std::size_t>(std::countr_zero(pairs));
    }
#endif
    for (; lit + 8 <= most && lit + 9 <= left; lit += 8) {
        // A zero byte of x is a byte equal to its successor.
        const std::uint64_t x = Load64(p + lit) ^ Load64(p + lit + 1);
        const std::uint64_t zero = ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
        if (zero != 0) return lit + static_cast<std::size_t>(FirstMarked(zero));
    }
    while (lit < most && !(lit + 1 < left && p[lit] == p[lit + 1]))
        ++lit;
    return lit;
}

// Run-length (pack-bits) encoding of row[0, n) at out; returns the end.
// A repeat packet takes every run of two or more equal bytes (at most 128);
// a literal packet stops before the next such run. Needs room for
// n + n / 2 + 2 bytes (a literal costs one byte more than it holds and
// runs of at least two come between short ones).
std::uint8_t* PackRow(const std::uint8_t* row, std::size_t n, std::uint8_t* out) {
    const std::uint8_t* const end = row + n;
    const std::uint8_t* p = row;
    while (p < end) {
        const std::size_t left = static_cast<std::size_t>(end - p);
        const std::size_t most = left < 128 ? left : 128;
        const std::size_t run = RunLength(p, most);
        if (run >= 2) {
            *out++ = static_cast<std::uint8_t>(257 - run);
            *out++ = p[0];
            p += run;
            continue;
        }
        const std::size_t lit = LiteralLength(p, most, left);
        *out++ = static_cast<std::uint8_t>(lit - 1);
        std::memcpy(out, p, lit);
        out += lit;
        p += lit;
    }
    return out;
}

// Byte `Byte` of each of n BGRA pixels.
template <int Byte> void GatherPlain(const std::uint8_t* src, std::size_t n, std::uint8_t* row) {
    for (std::size_t x = 0; x < n; ++x)
        row[x] = src[4 * x + Byte];
}

// The same composited on white by the pixel's alpha.
template <int Byte> void GatherMatted(const std::uint8_t* src, std::size_t n, std::uint8_t* row) {
    for (std::size_t x = 0; x < n; ++x) {
        const unsigned v = src[4 * x + Byte], a = src[4 * x + 3];
        row[x] = static_cast<std::uint8_t>(255 - ((255 - v) * a + 127) / 255);
    }
}

using Gather = void (*)(const std::uint8_t*, std::size_t, std::uint8_t*);

Gather GatherFor(int byte, bool matte) {
    static const Gather kPlain[] = {GatherPlain<0>, GatherPlain<1>, GatherPlain<2>, GatherPlain<3>};
    static const Gather kMatted[] = {GatherMatted<0>, GatherMatted<1>, GatherMatted<2>,
                                     GatherMatted<3>};
    return matte ? kMatted[byte] : kPlain[byte];
}

// The rows of one plane from byte `byte` of each BGRA pixel, appended to
// out; with run-length compression each row's byte count goes to the two
// bytes at counts + 2 * row. `matte` composites colours on white by the
// pixel's alpha.
void AppendPlaneRows(const std::uint8_t* pixels, std::size_t w, std::size_t h, int byte, bool matte,
                     int compression, std::vector<std::uint8_t>& out, std::size_t counts) {
    const Gather gather = GatherFor(byte, matte);
    std::vector<std::uint8_t> row(w);
    std::vector<std::uint8_t> packed(compression == 1 ? w + w / 2 + 2 : 0);
    for (std::size_t y = 0; y < h; ++y) {
        gather(pixels + 4 * y * w, w, row.data());
        if (compression == 1) {
            const std::size_t n =
                static_cast<std::size_t>(PackRow(row.data(), w, packed.data()) - packed.data());
            out[counts + 2 * y] = static_cast<std::uint8_t>(n >> 8);
            out[counts + 2 * y + 1] = static_cast<std::uint8_t>(n);
            out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(n));
        } else {
            out.insert(out.end(), row.begin(), row.end());
        }
    }
}

// One channel (compression field onwards).
std::vector<std::uint8_t> EncodePlane(const std::uint8_t* pixels, std::size_t w, std::size_t h,
                                      int byte, int compression) {
    std::vector<std::uint8_t> out;
    AppendBe16(out, w == 0 || h == 0 ? 0 : static_cast<unsigned>(compression));
    if (w == 0 || h == 0) return out;
    if (compression == 1) out.resize(out.size() + 2 * h);
    AppendPlaneRows(pixels, w, h, byte, false, compression, out, 2);
    return out;
}

bool IsGroupStart(const TlPsdLayerInfo& info) {
    return info.section == TLPSD_SECTION_OPEN_GROUP || info.section == TLPSD_SECTION_CLOSED_GROUP;
}

// Steps through the records bottom first, counting the groups open; false
// when a group start has no end below it or groups nest beyond the cap.
bool StepGroups(const TlPsdLayerInfo& info, int& depth) {
    if (info.section == TLPSD_SECTION_GROUP_END) return ++depth <= TLPSD_MAX_GROUP_DEPTH;
    if (IsGroupStart(info)) return --depth >= 0;
    return true;
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
        // One compression field, then every plane's counts, then every plane's rows.
        const int planes = mergedAlpha_ ? 4 : 3;
        merged_.clear();
        AppendBe16(merged_, static_cast<unsigned>(compression_));
        const std::size_t countBytes = compression_ == 1 ? 2 * h : 0;
        merged_.resize(merged_.size() + countBytes * static_cast<std::size_t>(planes));
        static const int kBytes[] = {2, 1, 0, 3};
        for (int k = 0; k < planes; ++k)
            AppendPlaneRows(pixels, w, h, kBytes[k], matte && k < 3, compression_, merged_,
                            2 + countBytes * static_cast<std::size_t>(k));
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
                                                 static_cast<std::size_t>(h), byte, compression_));
        layers_.push_back(std::move(layer));
    } catch (const std::bad_alloc&) {
        return TLPSD_E_MEMORY;
    }
    return TLPSD_OK;
}

int Writer::Finish() {
    if (!open_) return TLPSD_E_NOT_OPEN;
    int depth = 0;
    bool balanced = true;
    for (const EncodedLayer& layer : layers_)
        balanced = balanced && StepGroups(layer.info, depth);
    if (!haveImage_ || !balanced || depth != 0) {
        Abandon();
        return TLPSD_E_ARGUMENT;
    }
    std::vector<std::uint8_t> out;
    try {
        // Room for the whole file at once: the pixels and a generous bound
        // on the header and the records (names are at most 255 bytes).
        std::size_t bytes = 1024 + merged_.size();
        for (const EncodedLayer& layer : layers_) {
            bytes += 1024;
            for (const auto& ch : layer.channels)
                bytes += ch.size();
        }
        out.reserve(bytes);
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
                out.push_back(0); // clipping: base
                // Bit 1 hidden; bit 4 (told valid by bit 3): pixels irrelevant, as in groups.
                const bool shown = layer.info.visible == 1 || layer.info.visible == 2;
                const bool section =
                    IsGroupStart(layer.info) || layer.info.section == TLPSD_SECTION_GROUP_END;
                out.push_back(
                    static_cast<std::uint8_t>(0x08 | (shown ? 0 : 0x02) | (section ? 0x10 : 0)));
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
                if (section) {
                    // A group start keeps its blend key with its type.
                    PutTag(out, "8BIM");
                    PutTag(out, "lsct");
                    const bool start = IsGroupStart(layer.info);
                    AppendBe32(out, start ? 12 : 4);
                    AppendBe32(out, static_cast<std::uint32_t>(layer.info.section));
                    if (start) {
                        PutTag(out, "8BIM");
                        PutTag(out, key);
                    }
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
