// Internal pieces of the PSD library: byte sources, the parsed document,
// channel decoding and the writer.
#pragma once

#include "base/AtomicFile.h"
#include "tlpsdex/tlpsdex.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tlpsd {

// Random-access input; every read is bounds-checked by the source.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // False when [offset, offset + n) is not wholly inside the source.
    virtual bool Read(std::uint64_t offset, void* dst, std::size_t n) const = 0;
};

// Opens a file for pread-style access; null with *error set on failure.
std::unique_ptr<ByteSource> OpenFileSource(const char* path, int* error);
// Wraps caller-owned memory.
std::unique_ptr<ByteSource> MemorySource(const void* data, std::size_t size);

enum class ColourMode { Grey, Rgb };

struct ChannelRef {
    std::int16_t id = 0;
    std::uint64_t offset = 0; // start of the channel's compression field
    std::uint64_t length = 0; // including the compression field
};

struct Layer {
    TlPsdLayerInfo info{};
    std::vector<ChannelRef> channels;
};

struct Document {
    std::unique_ptr<ByteSource> source;
    bool psb = false;
    ColourMode mode = ColourMode::Rgb;
    int depth = 8; // bits per sample: 8 or 16
    int channels = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint64_t mergedOffset = 0; // compression field of the merged image
    bool mergedAlpha = false;       // first extra merged channel is transparency (matted on white)
    bool groupRecords = false;      // groups delivered as records, not flattened
    std::vector<Layer> layers;      // delivered records, bottom first
};

// Parses the structure (not the pixels); TLPSD_OK or an error code.
int ParseDocument(std::unique_ptr<ByteSource> source, bool groupRecords, Document& doc);

// Decodes picture `index` (-1 merged) into 4-byte BGRA pixels covering
// `rect` (canvas coordinates).
int DecodePicture(const Document& doc, int index, std::uint8_t* out, std::size_t outBytes,
                  const TlPsdRect& rect);

// Writer of an 8-bit RGB document.
class Writer {
public:
    int Begin(const char* path, const std::int32_t* options);
    int SetImage(const std::uint8_t* pixels, std::int32_t width, std::int32_t height);
    int SetLayer(const std::uint8_t* pixels, const TlPsdLayerInfo& info);
    int Finish();
    void Abandon();
    bool open() const { return open_; }

private:
    struct EncodedLayer {
        TlPsdLayerInfo info{};
        std::vector<std::vector<std::uint8_t>> channels; // ids -1, 0, 1, 2
    };

    pelo::AtomicFile file_;
    bool open_ = false;
    bool unicodeNames_ = true;
    int compression_ = 1;
    bool matteMerged_ = true;
    bool haveImage_ = false;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    bool mergedAlpha_ = false;
    std::vector<std::uint8_t> merged_; // compression field onwards
    std::vector<EncodedLayer> layers_;
};

} // namespace tlpsd
