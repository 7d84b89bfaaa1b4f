#include "formats/PngWriter.h"

#include "base/AtomicFile.h"
#include "base/ByteOrder.h"
#include "formats/Codec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <new>
#include <zlib.h>

namespace pelo {

namespace {

static_assert(std::endian::native == std::endian::little, "pixels are read as 0xAARRGGBB");

// Bytes of deflated data per IDAT chunk.
constexpr std::size_t kIdatBytes = std::size_t{1} << 18;
// Filtered pictures up to this size are deflated whole by libdeflate (about
// 1.4 times zlib's speed at the same level); larger ones stream through zlib
// so that no second copy of a large picture is held.
constexpr std::size_t kWholeDeflateBytes = std::size_t{1} << 27;

inline std::uint32_t LoadPixel(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v; // 0xAARRGGBB
}

inline bool IsGrey(std::uint32_t argb) {
    const std::uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    return r == g && g == b;
}

// Colour -> palette index, open-addressed in a table four times the largest
// palette.
constexpr int kTableBits = 10;
constexpr std::size_t kTableSize = std::size_t{1} << kTableBits;

inline std::size_t Slot(std::uint32_t argb) {
    return (argb * 0x9E3779B1u) >> (32 - kTableBits);
}

// Index of argb, or -1 when absent; a new colour is entered with index next
// when next >= 0.
int FindOrAdd(std::vector<std::uint32_t>& keys, std::vector<std::int16_t>& slots,
              std::uint32_t argb, int next) {
    for (std::size_t s = Slot(argb);; s = (s + 1) & (kTableSize - 1)) {
        if (slots[s] < 0) {
            if (next < 0) return -1;
            keys[s] = argb;
            slots[s] = static_cast<std::int16_t>(next);
            return next;
        }
        if (keys[s] == argb) return slots[s];
    }
}

// What one pass over the pixels finds out.
struct Census {
    bool opaque = true;
    bool grey = true;
    bool fewColours = true;             // at most 256 distinct, listed below
    std::vector<std::uint32_t> colours; // in order of first appearance
};

Census TakeCensus(const BgraRows& rows) {
    Census c;
    std::vector<std::uint32_t> keys(kTableSize);
    std::vector<std::int16_t> slots(kTableSize, -1);
    std::uint32_t last = 0;
    bool haveLast = false;
    for (int y = 0; y < rows.height; ++y) {
        const std::uint8_t* p = rows.row(y);
        for (int x = 0; x < rows.width; ++x, p += 4) {
            const std::uint32_t v = LoadPixel(p);
            // Flat art repeats its neighbour most of the time.
            if (v == last && haveLast) continue;
            last = v;
            haveLast = true;
            c.opaque = c.opaque && (v >> 24) == 0xFF;
            c.grey = c.grey && IsGrey(v);
            if (!c.fewColours) {
                if (!c.opaque && !c.grey) return c; // RGBA whatever follows
                continue;
            }
            const int count = static_cast<int>(c.colours.size());
            const int found = FindOrAdd(keys, slots, v, count < 256 ? count : -1);
            if (found == count) {
                c.colours.push_back(v);
            } else if (found < 0) {
                c.fewColours = false;
                c.colours.clear();
            }
        }
    }
    return c;
}

int PaletteDepth(std::size_t entries) {
    return entries <= 2 ? 1 : entries <= 4 ? 2 : entries <= 16 ? 4 : 8;
}

inline std::uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Sum of the filtered bytes read as signed values, absolute: the heuristic's
// measure of how well a row will deflate. Stops counting past limit.
std::uint64_t AbsoluteSum(const std::uint8_t* bytes, std::size_t n, std::uint64_t limit) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += bytes[i] < 128 ? bytes[i] : 256 - bytes[i];
        if ((i & 255) == 255 && sum > limit) return sum;
    }
    return sum;
}

constexpr std::array<PngFilter, 5> kFiveFilters = {PngFilter::None, PngFilter::Sub, PngFilter::Up,
                                                   PngFilter::Average, PngFilter::Paeth};

bool PutChunk(PngSink& sink, const char* type, const std::uint8_t* data, std::size_t size) {
    std::uint8_t head[8];
    StoreBe32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, head + 4, 4);
    if (size) crc = crc32(crc, data, static_cast<uInt>(size));
    std::uint8_t tail[4];
    StoreBe32(tail, static_cast<std::uint32_t>(crc));
    return sink.Put(head, 8) && (size == 0 || sink.Put(data, size)) && sink.Put(tail, 4);
}

bool PutHeaderChunks(PngSink& sink, const BgraRows& rows, const PngLayout& layout) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::uint8_t ihdr[13] = {};
    StoreBe32(ihdr, static_cast<std::uint32_t>(rows.width));
    StoreBe32(ihdr + 4, static_cast<std::uint32_t>(rows.height));
    ihdr[8] = static_cast<std::uint8_t>(layout.bitDepth);
    ihdr[9] = static_cast<std::uint8_t>(layout.colour);
    if (!sink.Put(kSignature, sizeof kSignature) || !PutChunk(sink, "IHDR", ihdr, sizeof ihdr))
        return false;
    if (layout.colour != PngColour::Palette) return true;
    std::vector<std::uint8_t> plte, trns;
    for (const std::uint32_t argb : layout.palette) {
        plte.push_back(static_cast<std::uint8_t>(argb >> 16));
        plte.push_back(static_cast<std::uint8_t>(argb >> 8));
        plte.push_back(static_cast<std::uint8_t>(argb));
    }
    for (int i = 0; i < layout.translucentEntries; ++i)
        trns.push_back(static_cast<std::uint8_t>(layout.palette[i] >> 24));
    return PutChunk(sink, "PLTE", plte.data(), plte.size()) &&
           (trns.empty() || PutChunk(sink, "tRNS", trns.data(), trns.size()));
}

// Deflates the filtered rows into IDAT chunks of kIdatBytes: gathered and
// deflated whole when they are small enough, else streamed through zlib.
class IdatStream {
public:
    explicit IdatStream(PngSink& sink) : sink_(sink) {}
    ~IdatStream() {
        if (open_) deflateEnd(&z_);
    }
    bool Open(int level, int strategy, std::size_t filteredBytes) {
        if (filteredBytes <= kWholeDeflateBytes) {
            whole_.reset(libdeflate_alloc_compressor(level));
            if (!whole_) return false;
            gathered_.reserve(filteredBytes);
            return true;
        }
        out_.resize(kIdatBytes);
        open_ = deflateInit2(&z_, level, Z_DEFLATED, 15, 8, strategy) == Z_OK;
        z_.next_out = out_.data();
        z_.avail_out = static_cast<uInt>(out_.size());
        return open_;
    }
    bool Put(const std::uint8_t* data, std::size_t size) {
        if (whole_) {
            gathered_.insert(gathered_.end(), data, data + size);
            return true;
        }
        return Run(data, size, Z_NO_FLUSH);
    }
    bool Finish() { return whole_ ? DeflateWhole() : Run(nullptr, 0, Z_FINISH) && Flush(); }
    bool sinkFailed() const { return sinkFailed_; }

private:
    struct FreeCompressor {
        void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
    };

    bool DeflateWhole() {
        out_.resize(libdeflate_zlib_compress_bound(whole_.get(), gathered_.size()));
        const std::size_t n = libdeflate_zlib_compress(whole_.get(), gathered_.data(),
                                                       gathered_.size(), out_.data(), out_.size());
        if (n == 0) return false;
        for (std::size_t at = 0; at < n; at += kIdatBytes)
            if (!PutChunk(sink_, "IDAT", out_.data() + at, std::min(kIdatBytes, n - at))) {
                sinkFailed_ = true;
                return false;
            }
        return true;
    }
    bool Run(const std::uint8_t* data, std::size_t size, int flush) {
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = static_cast<uInt>(size);
        while (true) {
            const int rc = deflate(&z_, flush);
            if (rc == Z_STREAM_ERROR) return false;
            if (flush == Z_FINISH && rc == Z_STREAM_END) return true;
            if (z_.avail_out == 0) {
                if (!Flush()) return false;
                continue;
            }
            if (flush != Z_FINISH && z_.avail_in == 0) return true;
            if (rc == Z_BUF_ERROR) return false;
        }
    }
    bool Flush() {
        const std::size_t n = out_.size() - z_.avail_out;
        if (n && !PutChunk(sink_, "IDAT", out_.data(), n)) {
            sinkFailed_ = true;
            return false;
        }
        z_.next_out = out_.data();
        z_.avail_out = static_cast<uInt>(out_.size());
        return true;
    }

    PngSink& sink_;
    std::unique_ptr<libdeflate_compressor, FreeCompressor> whole_;
    std::vector<std::uint8_t> gathered_;
    std::vector<std::uint8_t> out_;
    z_stream z_{};
    bool open_ = false;
    bool sinkFailed_ = false;
};

// Packs and filters the rows into a deflate stream.
class RowEncoder {
public:
    RowEncoder(const BgraRows& rows, const PngLayout& layout)
        : rows_(rows), packer_(layout), rowBytes_(layout.rowBytes(rows.width)),
          bpp_(layout.bytesPerPixel()), prev_(rowBytes_), cur_(rowBytes_), best_(rowBytes_ + 1),
          trial_(rowBytes_ + 1) {}

    // Every row, top first; zeros stand for the row above the top one.
    bool Encode(PngFilter filter, IdatStream& idat) {
        for (int y = 0; y < rows_.height; ++y) {
            packer_.Pack(rows_.row(y), rows_.width, cur_.data());
            if (filter == PngFilter::MinSum)
                FilterLeastSum();
            else
                FilterPngRow(filter, cur_.data(), prev_.data(), rowBytes_, bpp_, best_.data());
            if (!idat.Put(best_.data(), best_.size())) return false;
            std::swap(prev_, cur_);
        }
        return true;
    }

private:
    void FilterLeastSum() {
        std::uint64_t bestSum = UINT64_MAX;
        for (const PngFilter f : kFiveFilters) {
            FilterPngRow(f, cur_.data(), prev_.data(), rowBytes_, bpp_, trial_.data());
            const std::uint64_t sum = AbsoluteSum(trial_.data() + 1, rowBytes_, bestSum);
            if (sum < bestSum) {
                bestSum = sum;
                std::swap(best_, trial_);
            }
        }
    }

    const BgraRows& rows_;
    PngRowPacker packer_;
    std::size_t rowBytes_;
    int bpp_;
    std::vector<std::uint8_t> prev_, cur_, best_, trial_;
};

struct FilterMode {
    PngFilter filter;
    int zlibStrategy;
};

// Flat art (at least half the pixels repeat their left neighbour, counted on
// every fourth row) deflates best unfiltered with zlib's default strategy:
// its rows repeat rows above, which deflate finds by itself. Smooth pictures
// take the least absolute sum per row with zlib's strategy for filtered data.
FilterMode ModeByFlatness(const BgraRows& rows) {
    std::uint64_t same = 0, counted = 0;
    for (int y = 0; y < rows.height; y += 4) {
        const std::uint8_t* p = rows.row(y);
        for (int x = 1; x < rows.width; ++x, p += 4)
            same += std::memcmp(p, p + 4, 4) == 0;
        counted += static_cast<std::uint64_t>(rows.width - 1);
    }
    if (2 * same >= counted) return {PngFilter::None, Z_DEFAULT_STRATEGY};
    return {PngFilter::MinSum, Z_FILTERED};
}

class FileSink : public PngSink {
public:
    explicit FileSink(AtomicFile& file) : file_(file) {}
    bool Put(const void* data, std::size_t size) override { return file_.Write(data, size); }

private:
    AtomicFile& file_;
};

} // namespace

BgraRows RowsOf(const ImageBuffer& image) {
    return BgraRows{image.imageData, 4 * static_cast<std::ptrdiff_t>(image.width), image.width,
                    image.height};
}

BgraRows RowsOf(const PackedDib& block) {
    if (!block.data() || block.capacity() < kDibHeaderSize) return {};
    const BitmapInfoHeader& h = block.header();
    if (h.biBitCount != 32 || h.biWidth < 1 || h.biHeight < 1) return {};
    const std::ptrdiff_t stride = 4 * static_cast<std::ptrdiff_t>(h.biWidth);
    return BgraRows{block.pixels() + (h.biHeight - 1) * stride, -stride, h.biWidth, h.biHeight};
}

int PngLayout::bytesPerPixel() const {
    switch (colour) {
    case PngColour::Grey:
    case PngColour::Palette:
        return 1;
    case PngColour::GreyAlpha:
        return 2;
    case PngColour::Rgb:
        return 3;
    case PngColour::Rgba:
        break;
    }
    return 4;
}

std::size_t PngLayout::rowBytes(int width) const {
    const std::size_t w = static_cast<std::size_t>(width);
    if (colour == PngColour::Palette) return (w * static_cast<std::size_t>(bitDepth) + 7) / 8;
    return w * static_cast<std::size_t>(bytesPerPixel());
}

PngLayout ChoosePngLayout(const BgraRows& rows, PngType type) {
    PngLayout layout;
    if (type == PngType::Rgba) return layout;
    Census c = TakeCensus(rows);
    if (c.opaque && c.grey) {
        layout.colour = PngColour::Grey;
    } else if (c.fewColours) {
        layout.colour = PngColour::Palette;
        layout.bitDepth = PaletteDepth(c.colours.size());
        // Translucent entries first, each group in order of appearance.
        std::stable_partition(c.colours.begin(), c.colours.end(),
                              [](std::uint32_t v) { return (v >> 24) != 0xFF; });
        layout.translucentEntries = static_cast<int>(std::count_if(
            c.colours.begin(), c.colours.end(), [](std::uint32_t v) { return (v >> 24) != 0xFF; }));
        layout.palette = std::move(c.colours);
    } else if (c.grey) {
        layout.colour = PngColour::GreyAlpha;
    } else {
        layout.colour = c.opaque ? PngColour::Rgb : PngColour::Rgba;
    }
    return layout;
}

PngRowPacker::PngRowPacker(const PngLayout& layout) : layout_(layout) {
    if (layout.colour != PngColour::Palette) return;
    keys_.assign(kTableSize, 0);
    slots_.assign(kTableSize, -1);
    for (std::size_t i = 0; i < layout.palette.size(); ++i)
        FindOrAdd(keys_, slots_, layout.palette[i], static_cast<int>(i));
}

std::uint8_t PngRowPacker::IndexOf(std::uint32_t argb) {
    if (!haveLast_ || argb != lastColour_) {
        // A colour missing from the palette cannot happen for the picture the
        // layout was chosen for; index 0 keeps the output well formed.
        lastIndex_ = static_cast<std::uint8_t>(std::max(0, FindOrAdd(keys_, slots_, argb, -1)));
        lastColour_ = argb;
        haveLast_ = true;
    }
    return lastIndex_;
}

void PngRowPacker::Pack(const std::uint8_t* bgra, int width, std::uint8_t* out) {
    const std::size_t n = static_cast<std::size_t>(width);
    switch (layout_.colour) {
    case PngColour::Grey:
        for (std::size_t x = 0; x < n; ++x)
            out[x] = bgra[4 * x + 2];
        return;
    case PngColour::GreyAlpha:
        for (std::size_t x = 0; x < n; ++x) {
            out[2 * x] = bgra[4 * x + 2];
            out[2 * x + 1] = bgra[4 * x + 3];
        }
        return;
    case PngColour::Rgb:
        for (std::size_t x = 0; x < n; ++x) {
            out[3 * x] = bgra[4 * x + 2];
            out[3 * x + 1] = bgra[4 * x + 1];
            out[3 * x + 2] = bgra[4 * x];
        }
        return;
    case PngColour::Rgba:
        for (std::size_t x = 0; x < n; ++x) {
            const std::uint32_t v = LoadPixel(bgra + 4 * x);
            const std::uint32_t rgba =
                (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
            std::memcpy(out + 4 * x, &rgba, 4);
        }
        return;
    case PngColour::Palette:
        break;
    }
    const int depth = layout_.bitDepth;
    if (depth == 8) {
        for (std::size_t x = 0; x < n; ++x)
            out[x] = IndexOf(LoadPixel(bgra + 4 * x));
        return;
    }
    // Sub-byte indices fill each byte from its high bits.
    const std::size_t perByte = static_cast<std::size_t>(8 / depth);
    std::memset(out, 0, (n + perByte - 1) / perByte);
    for (std::size_t x = 0; x < n; ++x) {
        const int shift = 8 - depth * static_cast<int>(x % perByte + 1);
        out[x / perByte] |= static_cast<std::uint8_t>(IndexOf(LoadPixel(bgra + 4 * x)) << shift);
    }
}

void FilterPngRow(PngFilter filter, const std::uint8_t* row, const std::uint8_t* prev,
                  std::size_t rowBytes, int bytesPerPixel, std::uint8_t* out) {
    const std::size_t bpp = static_cast<std::size_t>(bytesPerPixel);
    std::uint8_t* d = out + 1;
    switch (filter) {
    case PngFilter::Sub:
        out[0] = 1;
        for (std::size_t i = 0; i < rowBytes; ++i)
            d[i] = static_cast<std::uint8_t>(row[i] - (i >= bpp ? row[i - bpp] : 0));
        return;
    case PngFilter::Up:
        out[0] = 2;
        for (std::size_t i = 0; i < rowBytes; ++i)
            d[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
        return;
    case PngFilter::Average:
        out[0] = 3;
        for (std::size_t i = 0; i < rowBytes; ++i)
            d[i] = static_cast<std::uint8_t>(row[i] -
                                             (((i >= bpp ? row[i - bpp] : 0) + prev[i]) >> 1));
        return;
    case PngFilter::Paeth:
        out[0] = 4;
        for (std::size_t i = 0; i < rowBytes; ++i)
            d[i] = static_cast<std::uint8_t>(
                row[i] - (i >= bpp ? Paeth(row[i - bpp], prev[i], prev[i - bpp]) : prev[i]));
        return;
    default:
        out[0] = 0;
        std::memcpy(d, row, rowBytes);
        return;
    }
}

bool EncodePng(const BgraRows& rows, const PngLayout& layout, const PngTuning& tuning,
               PngSink& sink, std::string& error) {
    error.clear();
    if (!rows.top || rows.width < 1 || rows.height < 1) {
        error = "no picture to encode";
        return false;
    }
    if (layout.rowBytes(rows.width) >= UINT_MAX) {
        error = "picture too wide for PNG";
        return false;
    }
    try {
        if (!PutHeaderChunks(sink, rows, layout)) return false;
        FilterMode mode{tuning.filter, tuning.zlibStrategy};
        if (tuning.filter == PngFilter::ByFlatness) mode = ModeByFlatness(rows);
        IdatStream idat(sink);
        const std::size_t filteredBytes =
            (layout.rowBytes(rows.width) + 1) * static_cast<std::size_t>(rows.height);
        if (!idat.Open(tuning.level, mode.zlibStrategy, filteredBytes)) {
            error = "deflate unavailable";
            return false;
        }
        RowEncoder encoder(rows, layout);
        if (!encoder.Encode(mode.filter, idat) || !idat.Finish()) {
            if (!idat.sinkFailed()) error = "deflate failed";
            return false;
        }
        return PutChunk(sink, "IEND", nullptr, 0);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
}

int WritePng(const BgraRows& rows, const std::string& path, PngType type, std::string* reason) {
    std::string why;
    PngLayout layout;
    try {
        layout = ChoosePngLayout(rows, type);
    } catch (const std::bad_alloc&) {
        if (reason) *reason = "the encoder refused the picture: out of memory";
        return kCodecEncodeFailed;
    }
    AtomicFile file;
    FileSink sink(file);
    if (file.Open(path) && EncodePng(rows, layout, PngTuning{}, sink, why) && file.Commit())
        return kCodecSaved;
    if (!why.empty()) {
        file.Abandon();
        if (reason) *reason = "the encoder refused the picture: " + why;
        return kCodecEncodeFailed;
    }
    if (reason) *reason = file.reason();
    return file.errorCode() ? file.errorCode() : kFileOtherError;
}

} // namespace pelo
