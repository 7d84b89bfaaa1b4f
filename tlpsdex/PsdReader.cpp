// PSD/PSB reading: header, layer records, and channel decoding (raw,
// run-length, zip with and without prediction) into BGRA pixels.
#include "base/Utf.h"
#include "tlpsdex/PsdFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tlpsd {

using pelo::AppendUtf8;
using pelo::CutUtf8;
using pelo::Utf16ToUtf8;
using pelo::Utf8SequenceLength;

namespace {

constexpr int kMaxChannels = 56;
// Layers may reach past the canvas; this bounds a single row buffer.
constexpr std::int64_t kMaxLayerSide = 300000;

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* dst, std::size_t n) const override {
        if (offset > size_ || n > size_ - offset) return false;
        auto* p = static_cast<std::uint8_t*>(dst);
        while (n > 0) {
            const ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            p += got;
            n -= static_cast<std::size_t>(got);
            offset += static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    int fd_;
    std::uint64_t size_;
};

class MemSource final : public ByteSource {
public:
    MemSource(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* dst, std::size_t n) const override {
        if (offset > size_ || n > size_ - offset) return false;
        if (n > 0) std::memcpy(dst, data_ + offset, n);
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Sequential big-endian reader over [pos, end) with a read-ahead window, so
// that small fields do not each cost a system call. Any failure sticks.
class Cursor {
public:
    Cursor(const ByteSource& src, std::uint64_t pos, std::uint64_t end)
        : src_(src), pos_(pos), end_(std::min(end, src.Size())) {}

    bool ok() const { return ok_; }
    std::uint64_t pos() const { return pos_; }
    std::uint64_t end() const { return end_; }
    std::uint64_t remaining() const { return pos_ <= end_ ? end_ - pos_ : 0; }

    bool Bytes(void* dst, std::size_t n) {
        if (!ok_ || n > remaining()) return ok_ = false;
        auto* out = static_cast<std::uint8_t*>(dst);
        while (n > 0) {
            if (pos_ < winStart_ || pos_ >= winStart_ + win_.size()) {
                const std::uint64_t want = std::min<std::uint64_t>(kWindow, end_ - pos_);
                win_.resize(static_cast<std::size_t>(want));
                if (!src_.Read(pos_, win_.data(), win_.size())) return ok_ = false;
                winStart_ = pos_;
            }
            const std::size_t at = static_cast<std::size_t>(pos_ - winStart_);
            const std::size_t take = std::min(n, win_.size() - at);
            std::memcpy(out, win_.data() + at, take);
            out += take;
            n -= take;
            pos_ += take;
        }
        return true;
    }
    bool Skip(std::uint64_t n) {
        if (!ok_ || n > remaining()) return ok_ = false;
        pos_ += n;
        return true;
    }
    bool Seek(std::uint64_t pos) {
        if (!ok_ || pos > end_) return ok_ = false;
        pos_ = pos;
        return true;
    }
    std::uint64_t Uint(int bytes) {
        std::uint8_t b[8] = {};
        if (!Bytes(b, static_cast<std::size_t>(bytes))) return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | b[i];
        return v;
    }
    std::uint8_t U8() { return static_cast<std::uint8_t>(Uint(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Uint(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Uint(4)); }
    std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    bool Tag(char out[4]) { return Bytes(out, 4); }

private:
    static constexpr std::uint64_t kWindow = 64 * 1024;
    const ByteSource& src_;
    std::uint64_t pos_;
    std::uint64_t end_;
    bool ok_ = true;
    std::vector<std::uint8_t> win_;
    std::uint64_t winStart_ = 0;
};

bool IsTag(const char* t, const char* want) {
    return std::memcmp(t, want, 4) == 0;
}

// Tagged blocks whose length field is 8 bytes in the large-document variant.
bool HasLongLength(const char* key) {
    static const char* const kKeys[] = {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn",
                                        "Alph", "FMsk", "lnk2", "FEid", "FXid", "PxSD"};
    for (const char* k : kKeys)
        if (IsTag(key, k)) return true;
    return false;
}

// Pascal names carry no encoding; UTF-8 is kept, anything else read as Latin-1.
std::string PascalToUtf8(const std::string& raw) {
    bool valid = true;
    for (std::size_t i = 0; i < raw.size();) {
        const std::size_t n = Utf8SequenceLength(raw, i);
        if (n == 0) {
            valid = false;
            break;
        }
        i += n;
    }
    if (valid) return raw;
    std::string out;
    for (unsigned char c : raw)
        AppendUtf8(out, c);
    return out;
}

// Known blend keys; some writers store them with the bytes reversed.
void NormaliseBlendKey(char key[8]) {
    static const char* const kKeys[] = {"pass", "norm", "diss", "dark", "mul ", "idiv", "lbrn",
                                        "dkCl", "lite", "scrn", "div ", "lddg", "lgCl", "over",
                                        "sLit", "hLit", "vLit", "lLit", "pLit", "hMix", "diff",
                                        "smud", "fsub", "fdiv", "hue ", "sat ", "colr", "lum "};
    for (const char* k : kKeys)
        if (IsTag(key, k)) return;
    const char reversed[4] = {key[3], key[2], key[1], key[0]};
    for (const char* k : kKeys)
        if (IsTag(reversed, k)) std::memcpy(key, reversed, 4);
}

int ColourChannels(const Document& doc) {
    return doc.mode == ColourMode::Rgb ? 3 : 1;
}

// Whether `bytes` of channel data can hold `planes` planes of w x h samples:
// a run-length row needs at least two bytes per 128 bytes of row, and zlib
// expands at most about 1032 times.
bool PlausiblePlanes(const Document& doc, int compression, std::uint64_t bytes, std::int64_t w,
                     std::int64_t h, int planes, int countedPlanes) {
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(w) * (doc.depth / 8);
    const std::uint64_t rows = static_cast<std::uint64_t>(h) * static_cast<std::uint64_t>(planes);
    switch (compression) {
    case 0:
        return bytes / rowBytes >= rows;
    case 1: {
        const std::uint64_t countBytes = static_cast<std::uint64_t>(h) *
                                         static_cast<std::uint64_t>(countedPlanes) *
                                         (doc.psb ? 4 : 2);
        const std::uint64_t minRow = 2 * ((rowBytes + 127) / 128);
        return bytes >= countBytes && (bytes - countBytes) / minRow >= rows;
    }
    case 2:
    case 3:
        return bytes >= rowBytes * rows / 1032;
    default:
        return true; // refused with its own code when decoded
    }
}

struct RawLayer {
    Layer layer;
    int sectionType = 0; // 0 pixels, 1/2 group start (open/closed), 3 group end
    bool hidden = false;
    std::string pascalName;
    std::string unicodeName;
    bool hasUnicode = false;
    char sectionKey[4] = {}; // a group's blend key kept with its section type
    bool hasSectionKey = false;
};

int ParseLayerExtra(Cursor& c, const Document& doc, RawLayer& raw) {
    // Layer mask data, blending ranges, name, then tagged blocks.
    const std::uint32_t maskLen = c.U32();
    if (!c.Skip(maskLen)) return TLPSD_E_CORRUPT;
    const std::uint32_t rangesLen = c.U32();
    if (!c.Skip(rangesLen)) return TLPSD_E_CORRUPT;
    const std::uint8_t nameLen = c.U8();
    std::string name(nameLen, '\0');
    if (!c.Bytes(name.data(), nameLen)) return TLPSD_E_CORRUPT;
    raw.pascalName = name.substr(0, std::strlen(name.c_str()));
    const std::uint64_t padded = (1u + nameLen + 3u) & ~3u;
    c.Skip(std::min<std::uint64_t>(padded - 1u - nameLen, c.remaining()));

    while (c.ok() && c.remaining() >= 12) {
        char sig[4], key[4];
        c.Tag(sig);
        c.Tag(key);
        if (!IsTag(sig, "8BIM") && !IsTag(sig, "8B64")) break; // unknown trailer
        const std::uint64_t len = c.Uint(doc.psb && HasLongLength(key) ? 8 : 4);
        if (!c.ok() || len > c.remaining()) break;
        const std::uint64_t blockEnd = c.pos() + len;
        if (IsTag(key, "luni") && len >= 4) {
            const std::uint32_t chars = c.U32();
            if (chars <= (len - 4) / 2) {
                std::vector<std::uint16_t> units(chars);
                for (auto& u : units)
                    u = c.U16();
                while (!units.empty() && units.back() == 0)
                    units.pop_back();
                raw.unicodeName = Utf16ToUtf8(units);
                raw.hasUnicode = true;
            }
        } else if ((IsTag(key, "lsct") || IsTag(key, "lsdk")) && len >= 4) {
            const std::uint32_t type = c.U32();
            if (type >= 1 && type <= 3) raw.sectionType = static_cast<int>(type);
            char keySig[4];
            if (len >= 12 && c.Tag(keySig) && IsTag(keySig, "8BIM"))
                raw.hasSectionKey = c.Tag(raw.sectionKey);
        }
        if (!c.Seek(blockEnd)) return TLPSD_E_CORRUPT;
    }
    return c.ok() ? TLPSD_OK : TLPSD_E_CORRUPT;
}

// A record as delivered: its Unicode name when it has one, its kind and
// the given visibility.
Layer Deliver(RawLayer& raw, int visible) {
    Layer layer = std::move(raw.layer);
    const std::string name = raw.hasUnicode ? raw.unicodeName : PascalToUtf8(raw.pascalName);
    const std::string cut = CutUtf8(name, sizeof(layer.info.name) - 1);
    std::memcpy(layer.info.name, cut.data(), cut.size());
    layer.info.section = raw.sectionType == 0 ? TLPSD_SECTION_LAYER : raw.sectionType;
    if (raw.sectionType != 0 && raw.hasSectionKey) {
        std::memcpy(layer.info.blendMode, raw.sectionKey, 4);
        NormaliseBlendKey(layer.info.blendMode);
    }
    layer.info.visible = visible;
    return layer;
}

// Groups flattened away: walking from the top, a group start opens a scope,
// its end (stored below the group's layers) closes it.
std::vector<Layer> Flattened(std::vector<RawLayer>& raws) {
    std::vector<bool> hiddenScopes;
    std::vector<Layer> delivered;
    for (auto it = raws.rbegin(); it != raws.rend(); ++it) {
        const bool enclosingHidden = !hiddenScopes.empty() && hiddenScopes.back();
        if (it->sectionType == 1 || it->sectionType == 2) {
            hiddenScopes.push_back(enclosingHidden || it->hidden);
            continue;
        }
        if (it->sectionType == 3) {
            if (!hiddenScopes.empty()) hiddenScopes.pop_back();
            continue;
        }
        delivered.push_back(Deliver(*it, (it->hidden || enclosingHidden) ? 0 : 1));
    }
    std::reverse(delivered.begin(), delivered.end());
    return delivered;
}

// Groups kept as their start and end records, balanced; an end is seen as
// inside its group. A group beyond the
// depth cap is left out; when hidden, the records inside it are delivered
// hidden themselves so that nothing it hid comes to light.
std::vector<Layer> WithGroups(std::vector<RawLayer>& raws) {
    struct Scope {
        bool hidden;       // this group or one around it is hidden
        bool foldedHidden; // a left-out group around the contents is hidden
        bool delivered;
    };
    std::vector<Scope> scopes;
    int depth = 0; // delivered groups open
    auto visibility = [&scopes](bool ownHidden) {
        if (ownHidden || (!scopes.empty() && scopes.back().foldedHidden)) return 0;
        return !scopes.empty() && scopes.back().hidden ? 2 : 1;
    };
    std::vector<Layer> delivered;
    for (auto it = raws.rbegin(); it != raws.rend(); ++it) {
        const Scope outer = scopes.empty() ? Scope{false, false, true} : scopes.back();
        if (it->sectionType == 1 || it->sectionType == 2) {
            const bool deliver = depth < TLPSD_MAX_GROUP_DEPTH;
            if (deliver) {
                delivered.push_back(Deliver(*it, visibility(it->hidden)));
                ++depth;
            }
            scopes.push_back({outer.hidden || it->hidden,
                              outer.foldedHidden || (!deliver && it->hidden), deliver});
        } else if (it->sectionType == 3) {
            if (scopes.empty()) continue; // an end without a start
            if (scopes.back().delivered) {
                delivered.push_back(Deliver(*it, visibility(it->hidden)));
                --depth;
            }
            scopes.pop_back();
        } else {
            delivered.push_back(Deliver(*it, visibility(it->hidden)));
        }
    }
    // Groups still open end at the bottom, innermost first.
    for (; !scopes.empty(); scopes.pop_back()) {
        if (!scopes.back().delivered) continue;
        RawLayer end;
        end.sectionType = 3;
        end.pascalName = "</Layer group>";
        TlPsdLayerInfo& info = end.layer.info;
        info.reserved2 = 255;
        info.opacity = 255;
        std::memcpy(info.blendMode, "norm", 4);
        delivered.push_back(Deliver(end, visibility(false)));
    }
    std::reverse(delivered.begin(), delivered.end());
    return delivered;
}

int ParseLayerInfo(Cursor& c, Document& doc, bool& mergedTransparency) {
    const std::int16_t rawCount = c.I16();
    if (!c.ok()) return TLPSD_E_READ;
    mergedTransparency = rawCount < 0;
    const int count = rawCount < 0 ? -static_cast<int>(rawCount) : rawCount;
    if (count > TLPSD_MAX_LAYERS) return TLPSD_E_TOO_MANY;
    // A record takes at least 34 bytes with its channels; refuse counts the
    // section cannot hold before reserving anything.
    if (static_cast<std::uint64_t>(count) * 34 > c.remaining()) return TLPSD_E_CORRUPT;

    std::vector<RawLayer> raws(static_cast<std::size_t>(count));
    for (RawLayer& raw : raws) {
        const std::int32_t top = c.I32(), left = c.I32(), bottom = c.I32(), right = c.I32();
        const std::uint16_t nch = c.U16();
        if (!c.ok()) return TLPSD_E_READ;
        if (nch > kMaxChannels) return TLPSD_E_TOO_MANY;
        raw.layer.channels.resize(nch);
        for (ChannelRef& ch : raw.layer.channels) {
            ch.id = c.I16();
            ch.length = c.Uint(doc.psb ? 8 : 4);
        }
        char sig[4], key[4];
        c.Tag(sig);
        c.Tag(key);
        const std::uint8_t opacity = c.U8();
        c.U8(); // clipping
        const std::uint8_t flags = c.U8();
        c.U8(); // filler
        const std::uint32_t extraLen = c.U32();
        if (!c.ok()) return TLPSD_E_READ;
        if (!IsTag(sig, "8BIM") && !IsTag(sig, "8B64")) return TLPSD_E_CORRUPT;
        if (extraLen > c.remaining()) return TLPSD_E_CORRUPT;
        const std::uint64_t extraEnd = c.pos() + extraLen;
        Cursor extra(*doc.source, c.pos(), extraEnd);
        const int rc = ParseLayerExtra(extra, doc, raw);
        if (rc != TLPSD_OK) return rc;
        c.Seek(extraEnd);

        TlPsdLayerInfo& info = raw.layer.info;
        info.section = TLPSD_SECTION_LAYER;
        info.reserved2 = 255;
        info.rect = {left, top, right, bottom};
        info.opacity = opacity;
        std::memcpy(info.blendMode, key, 4);
        NormaliseBlendKey(info.blendMode);
        raw.hidden = (flags & 0x02) != 0;
    }
    // Channel data follows the records in the same order.
    for (RawLayer& raw : raws) {
        for (ChannelRef& ch : raw.layer.channels) {
            ch.offset = c.pos();
            if (!c.Skip(ch.length)) return TLPSD_E_CORRUPT;
        }
    }
    // Each picture channel must be able to hold its rectangle, so that a
    // small file cannot make the caller allocate a huge layer.
    for (const RawLayer& raw : raws) {
        const TlPsdRect& r = raw.layer.info.rect;
        const std::int64_t w = std::int64_t{r.right} - r.left, h = std::int64_t{r.bottom} - r.top;
        if (w <= 0 || h <= 0) continue;
        if (w > kMaxLayerSide || h > kMaxLayerSide) return TLPSD_E_TOO_LARGE;
        for (const ChannelRef& ch : raw.layer.channels) {
            if (ch.id < -1 || ch.id >= ColourChannels(doc)) continue;
            Cursor field(*doc.source, ch.offset, ch.offset + ch.length);
            const int compression = field.U16();
            if (!field.ok()) return TLPSD_E_CORRUPT;
            if (!PlausiblePlanes(doc, compression, ch.length - 2, w, h, 1, 1))
                return TLPSD_E_CORRUPT;
        }
    }

    std::vector<Layer> delivered = doc.groupRecords ? WithGroups(raws) : Flattened(raws);
    for (std::size_t i = 0; i < delivered.size(); ++i)
        delivered[i].info.index = static_cast<std::int32_t>(i);
    doc.layers = std::move(delivered);
    return TLPSD_OK;
}

// Finds layer records kept in a tagged block after the global mask (the
// way 16-bit documents store them).
int ParseTaggedLayerBlocks(Cursor& c, Document& doc, bool& mergedTransparency) {
    const std::uint32_t globalMaskLen = c.U32();
    if (!c.ok() || !c.Skip(globalMaskLen)) return TLPSD_OK;
    while (c.ok() && c.remaining() >= 12) {
        char sig[4], key[4];
        c.Tag(sig);
        c.Tag(key);
        if (!IsTag(sig, "8BIM") && !IsTag(sig, "8B64")) return TLPSD_OK;
        const std::uint64_t len = c.Uint(doc.psb && HasLongLength(key) ? 8 : 4);
        if (!c.ok() || len > c.remaining()) return TLPSD_E_CORRUPT;
        if (IsTag(key, "Lr16") || IsTag(key, "Layr")) {
            Cursor inner(*doc.source, c.pos(), c.pos() + len);
            return ParseLayerInfo(inner, doc, mergedTransparency);
        }
        if (IsTag(key, "Lr32")) return TLPSD_E_DEPTH;
        c.Skip(len);
        // Block lengths are padded to even sizes by most writers; tolerate both.
        if (c.remaining() >= 4 && (c.pos() & 1) != 0) {
            char peek[4] = {};
            Cursor probe(*doc.source, c.pos(), c.end());
            probe.Tag(peek);
            if (peek[0] != '8') c.Skip(1);
        }
    }
    return TLPSD_OK;
}

// ---- channel rows -------------------------------------------------------

class RowSource {
public:
    virtual ~RowSource() = default;
    // Fills rowBytes bytes of the next row; TLPSD_OK or an error.
    virtual int Next(std::uint8_t* row) = 0;
};

class RawRows final : public RowSource {
public:
    RawRows(const ByteSource& src, std::uint64_t pos, std::uint64_t end, std::size_t rowBytes)
        : c_(src, pos, end), rowBytes_(rowBytes) {}
    int Next(std::uint8_t* row) override {
        return c_.Bytes(row, rowBytes_) ? TLPSD_OK : TLPSD_E_READ;
    }

private:
    Cursor c_;
    std::size_t rowBytes_;
};

// n bytes of v at dst. Runs are short and many: whole words, the last one
// overlapping, beat a general fill.
void FillBytes(std::uint8_t* dst, std::uint8_t v, std::size_t n) {
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = v;
        return;
    }
    const std::uint64_t word = 0x0101010101010101ull * v;
    for (std::size_t i = 0; i + 8 <= n; i += 8)
        std::memcpy(dst + i, &word, 8);
    std::memcpy(dst + n - 8, &word, 8);
}

// The same for a copy of n bytes.
void CopyBytes(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = src[i];
        return;
    }
    for (std::size_t i = 0; i + 8 <= n; i += 8)
        std::memcpy(dst + i, src + i, 8);
    std::memcpy(dst + n - 8, src + n - 8, 8);
}

class RleRows final : public RowSource {
public:
    RleRows(const ByteSource& src, std::uint64_t pos, std::uint64_t end, std::size_t rowBytes,
            std::vector<std::uint32_t> counts)
        : c_(src, pos, end), rowBytes_(rowBytes), counts_(std::move(counts)) {}
    int Next(std::uint8_t* row) override {
        if (next_ >= counts_.size()) return TLPSD_E_CORRUPT;
        const std::uint32_t n = counts_[next_++];
        packed_.resize(n);
        if (!c_.Bytes(packed_.data(), n)) return TLPSD_E_READ;
        std::size_t in = 0, out = 0;
        while (in < n && out < rowBytes_) {
            const auto code = static_cast<std::int8_t>(packed_[in++]);
            if (code >= 0) {
                const std::size_t len = static_cast<std::size_t>(code) + 1;
                if (len > n - in || len > rowBytes_ - out) return TLPSD_E_DECODE;
                CopyBytes(row + out, packed_.data() + in, len);
                in += len;
                out += len;
            } else if (code != -128) {
                const std::size_t len = 1 - static_cast<std::size_t>(static_cast<int>(code));
                if (in >= n || len > rowBytes_ - out) return TLPSD_E_DECODE;
                FillBytes(row + out, packed_[in++], len);
                out += len;
            }
        }
        return out == rowBytes_ ? TLPSD_OK : TLPSD_E_DECODE;
    }

private:
    Cursor c_;
    std::size_t rowBytes_;
    std::vector<std::uint32_t> counts_;
    std::size_t next_ = 0;
    std::vector<std::uint8_t> packed_;
};

class ZipRows final : public RowSource {
public:
    ZipRows(const ByteSource& src, std::uint64_t pos, std::uint64_t end, std::size_t rowBytes,
            bool predict, int sampleBytes)
        : src_(src), pos_(pos), end_(std::min(end, src.Size())), rowBytes_(rowBytes),
          predict_(predict), sampleBytes_(sampleBytes) {
        std::memset(&z_, 0, sizeof(z_));
        ready_ = inflateInit(&z_) == Z_OK;
    }
    ~ZipRows() override {
        if (ready_) inflateEnd(&z_);
    }
    int Next(std::uint8_t* row) override {
        if (!ready_) return TLPSD_E_MEMORY;
        z_.next_out = row;
        z_.avail_out = static_cast<uInt>(rowBytes_);
        while (z_.avail_out > 0) {
            if (finished_) return TLPSD_E_DECODE;
            if (z_.avail_in == 0) {
                const std::uint64_t take =
                    std::min<std::uint64_t>(kChunk, end_ - std::min(pos_, end_));
                if (take == 0) return TLPSD_E_DECODE;
                in_.resize(static_cast<std::size_t>(take));
                if (!src_.Read(pos_, in_.data(), in_.size())) return TLPSD_E_READ;
                pos_ += take;
                z_.next_in = in_.data();
                z_.avail_in = static_cast<uInt>(take);
            }
            const int rc = inflate(&z_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END)
                finished_ = true;
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                return TLPSD_E_DECODE;
            else if (rc == Z_BUF_ERROR && z_.avail_in != 0)
                return TLPSD_E_DECODE;
        }
        if (predict_) Unpredict(row);
        return TLPSD_OK;
    }

private:
    void Unpredict(std::uint8_t* row) const {
        if (sampleBytes_ == 1) {
            for (std::size_t i = 1; i < rowBytes_; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + row[i - 1]);
        } else {
            std::uint16_t prev = 0;
            for (std::size_t i = 0; i + 1 < rowBytes_; i += 2) {
                prev = static_cast<std::uint16_t>(prev + ((row[i] << 8) | row[i + 1]));
                row[i] = static_cast<std::uint8_t>(prev >> 8);
                row[i + 1] = static_cast<std::uint8_t>(prev);
            }
        }
    }

    static constexpr std::uint64_t kChunk = 64 * 1024;
    const ByteSource& src_;
    std::uint64_t pos_;
    std::uint64_t end_;
    std::size_t rowBytes_;
    bool predict_;
    int sampleBytes_;
    z_stream z_;
    bool ready_ = false;
    bool finished_ = false;
    std::vector<std::uint8_t> in_;
};

// Reads `rows` run-length byte counts (2 bytes each, 4 in large documents).
int ReadRleCounts(Cursor& c, bool psb, std::uint64_t rows, std::vector<std::uint32_t>& counts) {
    const int width = psb ? 4 : 2;
    if (rows > c.remaining() / static_cast<std::uint64_t>(width)) return TLPSD_E_READ;
    counts.resize(static_cast<std::size_t>(rows));
    for (auto& n : counts)
        n = static_cast<std::uint32_t>(c.Uint(width));
    return c.ok() ? TLPSD_OK : TLPSD_E_READ;
}

constexpr int kGreyTarget = 4;

// Where one decoded plane of a picture lands in the caller's buffer.
struct Placement {
    std::uint8_t* out;
    TlPsdRect want; // the caller's rectangle
    TlPsdRect have; // the picture's own rectangle
    int target;     // byte within a pixel; kGreyTarget: bytes 0, 1 and 2; -1 none
};

#ifdef __SSE2__
// Sixteen samples at s, each in the low byte of a 32-bit lane: lanes 0-3,
// 4-7, 8-11 and 12-15 in out[0..3].
inline void WidenSamples(const std::uint8_t* s, __m128i out[4]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i lo = _mm_unpacklo_epi8(bytes, zero), hi = _mm_unpackhi_epi8(bytes, zero);
    out[0] = _mm_unpacklo_epi16(lo, zero);
    out[1] = _mm_unpackhi_epi16(lo, zero);
    out[2] = _mm_unpacklo_epi16(hi, zero);
    out[3] = _mm_unpackhi_epi16(hi, zero);
}

// Puts the bytes of `lanes` selected by `keep` clear into 16 bytes at px.
inline void MergePixels(std::uint8_t* px, __m128i lanes, __m128i keep) {
    auto* at = reinterpret_cast<__m128i*>(px);
    const __m128i old = _mm_loadu_si128(at);
    _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(old, keep), lanes));
}
#endif

// Byte T of each of n 4-byte pixels from samples.
template <int T> void Spread(std::uint8_t* px, const std::uint8_t* samples, std::size_t n) {
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i keep = _mm_set1_epi32(static_cast<int>(~(0xFFu << (8 * T))));
    for (; i + 16 <= n; i += 16) {
        __m128i lanes[4];
        WidenSamples(samples + i, lanes);
        for (int k = 0; k < 4; ++k)
            MergePixels(px + 4 * i + 16 * k, _mm_slli_epi32(lanes[k], 8 * T), keep);
    }
#endif
    for (; i < n; ++i)
        px[4 * i + T] = samples[i];
}

// Bytes 0, 1 and 2 (grey).
void SpreadGrey(std::uint8_t* px, const std::uint8_t* samples, std::size_t n) {
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (; i + 16 <= n; i += 16) {
        __m128i lanes[4];
        WidenSamples(samples + i, lanes);
        for (int k = 0; k < 4; ++k) {
            const __m128i v = lanes[k];
            const __m128i grey =
                _mm_or_si128(v, _mm_or_si128(_mm_slli_epi32(v, 8), _mm_slli_epi32(v, 16)));
            MergePixels(px + 4 * i + 16 * k, grey, keep);
        }
    }
#endif
    for (; i < n; ++i)
        px[4 * i] = px[4 * i + 1] = px[4 * i + 2] = samples[i];
}

void PlaceRow(const Placement& p, std::int64_t row, const std::uint8_t* samples) {
    const std::int64_t y = p.have.top + row;
    if (y < p.want.top || y >= p.want.bottom) return;
    const std::int64_t x0 = std::max<std::int64_t>(p.have.left, p.want.left);
    const std::int64_t x1 = std::min<std::int64_t>(p.have.right, p.want.right);
    if (x0 >= x1) return;
    const std::int64_t outW = static_cast<std::int64_t>(p.want.right) - p.want.left;
    std::uint8_t* px = p.out + 4 * ((y - p.want.top) * outW + (x0 - p.want.left));
    const std::uint8_t* from = samples + (x0 - p.have.left);
    const std::size_t n = static_cast<std::size_t>(x1 - x0);
    switch (p.target) {
    case 0:
        return Spread<0>(px, from, n);
    case 1:
        return Spread<1>(px, from, n);
    case 2:
        return Spread<2>(px, from, n);
    case 3:
        return Spread<3>(px, from, n);
    case kGreyTarget:
        return SpreadGrey(px, from, n);
    default:
        return;
    }
}

// Pulls `height` rows from `rows` and places them (or discards them when
// `place` is null), reducing 16-bit samples to 8 bits with rounding.
int TransferPlane(RowSource& rows, const Document& doc, std::int64_t width, std::int64_t height,
                  const Placement* place) {
    const std::size_t sampleBytes = doc.depth == 16 ? 2 : 1;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * sampleBytes);
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(width));
    for (std::int64_t y = 0; y < height; ++y) {
        const int rc = rows.Next(row.data());
        if (rc != TLPSD_OK) return rc;
        if (!place) continue;
        if (sampleBytes == 2) {
            for (std::int64_t x = 0; x < width; ++x) {
                const unsigned v = (row[2 * x] << 8) | row[2 * x + 1];
                samples[x] = static_cast<std::uint8_t>((v * 255u + 32767u) / 65535u);
            }
            PlaceRow(*place, y, samples.data());
        } else {
            PlaceRow(*place, y, row.data());
        }
    }
    return TLPSD_OK;
}

std::unique_ptr<RowSource> MakeRows(const Document& doc, int compression, Cursor& c,
                                    std::uint64_t rleRows, std::size_t rowBytes, int* error) {
    switch (compression) {
    case 0:
        return std::make_unique<RawRows>(*doc.source, c.pos(), c.end(), rowBytes);
    case 1: {
        std::vector<std::uint32_t> counts;
        *error = ReadRleCounts(c, doc.psb, rleRows, counts);
        if (*error != TLPSD_OK) return nullptr;
        return std::make_unique<RleRows>(*doc.source, c.pos(), c.end(), rowBytes,
                                         std::move(counts));
    }
    case 2:
    case 3:
        return std::make_unique<ZipRows>(*doc.source, c.pos(), c.end(), rowBytes, compression == 3,
                                         doc.depth == 16 ? 2 : 1);
    default:
        *error = TLPSD_E_COMPRESSION;
        return nullptr;
    }
}

void FillRect(std::uint8_t* out, const TlPsdRect& want, const TlPsdRect& have, int byte,
              std::uint8_t value) {
    const std::int64_t outW = static_cast<std::int64_t>(want.right) - want.left;
    const std::int64_t y0 = std::max(have.top, want.top), y1 = std::min(have.bottom, want.bottom);
    const std::int64_t x0 = std::max(have.left, want.left), x1 = std::min(have.right, want.right);
    for (std::int64_t y = y0; y < y1; ++y)
        for (std::int64_t x = x0; x < x1; ++x)
            out[4 * ((y - want.top) * outW + (x - want.left)) + byte] = value;
}

// Independent tools store the merged colours of a transparent document
// composited on white; undo that so the colours come back straight.
// Some writers store straight colours instead; a matted sample is never
// below 255 - alpha (less one for rounding), so a single sample below that
// shows the colours are straight and must be kept.
void RemoveWhiteMatte(std::uint8_t* out, const TlPsdRect& want, const TlPsdRect& have) {
    const std::int64_t outW = static_cast<std::int64_t>(want.right) - want.left;
    const std::int64_t y0 = std::max(have.top, want.top), y1 = std::min(have.bottom, want.bottom);
    const std::int64_t x0 = std::max(have.left, want.left), x1 = std::min(have.right, want.right);
    for (std::int64_t y = y0; y < y1; ++y) {
        for (std::int64_t x = x0; x < x1; ++x) {
            const std::uint8_t* px = out + 4 * ((y - want.top) * outW + (x - want.left));
            const int floor = 255 - px[3] - 1;
            if (px[0] < floor || px[1] < floor || px[2] < floor) return;
        }
    }
    for (std::int64_t y = y0; y < y1; ++y) {
        for (std::int64_t x = x0; x < x1; ++x) {
            std::uint8_t* px = out + 4 * ((y - want.top) * outW + (x - want.left));
            const int a = px[3];
            if (a == 255) continue;
            for (int k = 0; k < 3; ++k) {
                if (a == 0) {
                    px[k] = 0;
                    continue;
                }
                // stored = 255 - (255 - c) * a / 255
                const int v = 255 - ((255 - px[k]) * 255 + a / 2) / a;
                px[k] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
        }
    }
}

// Byte positions in a BGRA pixel for colour channel k.
Placement MakePlacement(const Document& doc, std::uint8_t* out, const TlPsdRect& want,
                        const TlPsdRect& have, int channelId) {
    Placement p{out, want, have, -1};
    if (channelId == -1) {
        p.target = 3;
    } else if (doc.mode == ColourMode::Grey) {
        if (channelId == 0) p.target = kGreyTarget;
    } else if (channelId >= 0 && channelId < 3) {
        p.target = 2 - channelId;
    }
    return p;
}

int DecodeMerged(const Document& doc, std::uint8_t* out, const TlPsdRect& want) {
    const TlPsdRect have{0, 0, doc.width, doc.height};
    const int colour = ColourChannels(doc);
    const int planes = colour + (doc.mergedAlpha ? 1 : 0);
    if (!doc.mergedAlpha) FillRect(out, want, have, 3, 255);

    Cursor c(*doc.source, doc.mergedOffset, doc.source->Size());
    const int compression = c.U16();
    if (!c.ok()) return TLPSD_E_READ;
    const std::size_t rowBytes = static_cast<std::size_t>(doc.width) * (doc.depth / 8);
    int error = TLPSD_OK;
    auto rows = MakeRows(doc, compression, c, static_cast<std::uint64_t>(doc.height) * doc.channels,
                         rowBytes, &error);
    if (!rows) return error;
    for (int k = 0; k < planes; ++k) {
        const int id = k < colour ? k : -1;
        const Placement p = MakePlacement(doc, out, want, have, id);
        const int rc = TransferPlane(*rows, doc, doc.width, doc.height, &p);
        if (rc != TLPSD_OK) return rc;
    }
    if (doc.mergedAlpha) RemoveWhiteMatte(out, want, have);
    return TLPSD_OK;
}

int DecodeLayer(const Document& doc, const Layer& layer, std::uint8_t* out, const TlPsdRect& want) {
    const TlPsdRect& have = layer.info.rect;
    const std::int64_t w = static_cast<std::int64_t>(have.right) - have.left;
    const std::int64_t h = static_cast<std::int64_t>(have.bottom) - have.top;
    if (w < 0 || h < 0) return TLPSD_E_CORRUPT;
    if (w > kMaxLayerSide || h > kMaxLayerSide) return TLPSD_E_TOO_LARGE;
    const bool hasAlpha = std::any_of(layer.channels.begin(), layer.channels.end(),
                                      [](const ChannelRef& ch) { return ch.id == -1; });
    if (!hasAlpha) FillRect(out, want, have, 3, 255);
    if (w == 0 || h == 0) return TLPSD_OK;
    const std::size_t rowBytes = static_cast<std::size_t>(w) * (doc.depth / 8);
    for (const ChannelRef& ch : layer.channels) {
        if (ch.id < -1 || ch.id >= ColourChannels(doc)) continue; // masks, spot channels
        Cursor c(*doc.source, ch.offset, ch.offset + ch.length);
        const int compression = c.U16();
        if (!c.ok()) return TLPSD_E_CORRUPT;
        int error = TLPSD_OK;
        auto rows = MakeRows(doc, compression, c, static_cast<std::uint64_t>(h), rowBytes, &error);
        if (!rows) return error;
        const Placement p = MakePlacement(doc, out, want, have, ch.id);
        const int rc = TransferPlane(*rows, doc, w, h, &p);
        if (rc != TLPSD_OK) return rc;
    }
    return TLPSD_OK;
}

} // namespace

std::unique_ptr<ByteSource> OpenFileSource(const char* path, int* error) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = TLPSD_E_OPEN;
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = TLPSD_E_OPEN;
        return nullptr;
    }
    return std::make_unique<FileSource>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<ByteSource> MemorySource(const void* data, std::size_t size) {
    return std::make_unique<MemSource>(data, size);
}

int ParseDocument(std::unique_ptr<ByteSource> source, bool groupRecords, Document& doc) {
    doc = Document{};
    doc.source = std::move(source);
    doc.groupRecords = groupRecords;
    Cursor c(*doc.source, 0, doc.source->Size());
    char sig[4];
    c.Tag(sig);
    const std::uint16_t version = c.U16();
    c.Skip(6);
    const std::uint16_t channels = c.U16();
    const std::uint32_t height = c.U32();
    const std::uint32_t width = c.U32();
    const std::uint16_t depth = c.U16();
    const std::uint16_t mode = c.U16();
    if (!c.ok())
        return IsTag(sig, "8BPS") || doc.source->Size() < 4 ? TLPSD_E_READ : TLPSD_E_SIGNATURE;
    if (!IsTag(sig, "8BPS")) return TLPSD_E_SIGNATURE;
    if (version != 1 && version != 2) return TLPSD_E_VERSION;
    doc.psb = version == 2;
    if (mode == 3)
        doc.mode = ColourMode::Rgb;
    else if (mode == 1)
        doc.mode = ColourMode::Grey;
    else
        return TLPSD_E_COLOUR_MODE;
    if (depth != 8 && depth != 16) return TLPSD_E_DEPTH;
    if (width < 1 || height < 1) return TLPSD_E_CORRUPT;
    if (width > TLPSD_MAX_SIDE || height > TLPSD_MAX_SIDE) return TLPSD_E_TOO_LARGE;
    if (channels < ColourChannels(doc) || channels > kMaxChannels) return TLPSD_E_CORRUPT;
    doc.depth = depth;
    doc.channels = channels;
    doc.width = static_cast<std::int32_t>(width);
    doc.height = static_cast<std::int32_t>(height);

    const std::uint32_t colourDataLen = c.U32();
    c.Skip(colourDataLen);
    const std::uint32_t resourcesLen = c.U32();
    c.Skip(resourcesLen);
    const std::uint64_t layerSectionLen = c.Uint(doc.psb ? 8 : 4);
    if (!c.ok() || layerSectionLen > c.remaining()) return TLPSD_E_READ;
    const std::uint64_t layerSectionEnd = c.pos() + layerSectionLen;
    doc.mergedOffset = layerSectionEnd;

    bool mergedTransparency = false;
    bool anyRecords = false;
    if (layerSectionLen > 0) {
        Cursor section(*doc.source, c.pos(), layerSectionEnd);
        const std::uint64_t infoLen = section.Uint(doc.psb ? 8 : 4);
        if (!section.ok() || infoLen > section.remaining()) return TLPSD_E_CORRUPT;
        int rc = TLPSD_OK;
        if (infoLen > 0) {
            Cursor info(*doc.source, section.pos(), section.pos() + infoLen);
            rc = ParseLayerInfo(info, doc, mergedTransparency);
            anyRecords = true;
        } else {
            section.Skip(infoLen);
            rc = ParseTaggedLayerBlocks(section, doc, mergedTransparency);
            anyRecords = !doc.layers.empty() || mergedTransparency;
        }
        if (rc != TLPSD_OK) return rc;
    }
    // Without layer records the first extra channel is the only transparency
    // the document has; with records it is transparency only when flagged.
    const bool extraChannel = channels > ColourChannels(doc);
    doc.mergedAlpha = extraChannel && (mergedTransparency || !anyRecords);
    // The merged image must carry its compression field and enough data for
    // the planes that are delivered.
    Cursor merged(*doc.source, doc.mergedOffset, doc.source->Size());
    const int compression = merged.U16();
    if (!merged.ok()) return TLPSD_E_READ;
    const int planes = ColourChannels(doc) + (doc.mergedAlpha ? 1 : 0);
    if (!PlausiblePlanes(doc, compression, merged.remaining(), doc.width, doc.height, planes,
                         doc.channels))
        return TLPSD_E_READ;
    return TLPSD_OK;
}

int DecodePicture(const Document& doc, int index, std::uint8_t* out, std::size_t outBytes,
                  const TlPsdRect& rect) {
    const std::int64_t w = static_cast<std::int64_t>(rect.right) - rect.left;
    const std::int64_t h = static_cast<std::int64_t>(rect.bottom) - rect.top;
    if (w < 0 || h < 0) return TLPSD_E_ARGUMENT;
    if (w != 0 && static_cast<std::uint64_t>(h) > SIZE_MAX / 4 / static_cast<std::uint64_t>(w))
        return TLPSD_E_ARGUMENT;
    const std::uint64_t need = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) * 4;
    if (need > outBytes || (need > 0 && !out)) return TLPSD_E_ARGUMENT;
    if (index < -1 || index >= static_cast<int>(doc.layers.size())) return TLPSD_E_ARGUMENT;
    if (need > 0) std::memset(out, 0, static_cast<std::size_t>(need));
    try {
        if (index == -1) return DecodeMerged(doc, out, rect);
        return DecodeLayer(doc, doc.layers[static_cast<std::size_t>(index)], out, rect);
    } catch (const std::bad_alloc&) {
        return TLPSD_E_MEMORY;
    }
}

} // namespace tlpsd
