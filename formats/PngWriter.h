// PNG output of our own: the picture is analysed for the smallest colour type
// that holds its pixels exactly, then packed, filtered and deflated row by
// row straight into the file, without a copy of the whole picture.
#pragma once

#include "image/ConversionSettings.h"
#include "image/ImageBuffer.h"
#include "image/PackedDib.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pelo {

// Rows of 4-byte pixels (blue, green, red, straight alpha): row y, counted
// from the top, starts at top + y * stride; a bottom-up block has a negative
// stride.
struct BgraRows {
    const std::uint8_t* top = nullptr;
    std::ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;

    const std::uint8_t* row(int y) const { return top + y * stride; }
};

BgraRows RowsOf(const ImageBuffer& image);
// The rows of a 32-bit block (bottom-up); empty when it holds none.
BgraRows RowsOf(const PackedDib& block);

// PNG colour types, by their numbers in the header.
enum class PngColour : std::uint8_t {
    Grey = 0,
    Rgb = 2,
    Palette = 3,
    GreyAlpha = 4,
    Rgba = 6,
};

// How the pixels are stored: colour type, bits per sample or index, and for
// a palette its entries (0xAARRGGBB; the translucent ones first, so tRNS
// stops after the last of them).
struct PngLayout {
    PngColour colour = PngColour::Rgba;
    int bitDepth = 8;
    std::vector<std::uint32_t> palette;
    int translucentEntries = 0;

    int bytesPerPixel() const; // filter distance: at least 1
    std::size_t rowBytes(int width) const;
};

// The layout the writer uses for rows: always 8-bit RGBA for PngType::Rgba;
// otherwise an opaque grey picture is grey, a picture of at most 256 distinct
// colours (alpha counted) is a palette of 1, 2, 4 or 8 bits, and the rest is
// grey with alpha, RGB or RGBA when that holds every pixel.
PngLayout ChoosePngLayout(const BgraRows& rows, PngType type);

// Turns the pixels of one row into the layout's bytes (rowBytes of them).
// Keeps a cache of the last palette look-up: one packer per picture.
class PngRowPacker {
public:
    explicit PngRowPacker(const PngLayout& layout);
    void Pack(const std::uint8_t* bgra, int width, std::uint8_t* out);

private:
    std::uint8_t IndexOf(std::uint32_t argb);

    const PngLayout& layout_;
    std::vector<std::uint32_t> keys_; // open-addressed table: colour ...
    std::vector<std::int16_t> slots_; // ... -> index, -1 for a free slot
    std::uint32_t lastColour_ = 0;
    std::uint8_t lastIndex_ = 0;
    bool haveLast_ = false;
};

// The filter of each row: one of PNG's five for every row; per row the one
// whose bytes have the least sum of absolute values; or, per picture, no
// filter for flat art and the least sum for smooth pictures.
enum class PngFilter { None, Sub, Up, Average, Paeth, MinSum, ByFlatness };

// The encoder's choices; WritePng uses the defaults. Filtered pictures of
// up to 128 MiB are deflated whole by libdeflate at level (which has no
// strategies); larger ones stream through zlib at level with zlibStrategy,
// one of Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE; ByFlatness
// picks its own (the default one with no filter, Z_FILTERED with the least
// sum).
struct PngTuning {
    PngFilter filter = PngFilter::ByFlatness;
    int level = 6;
    int zlibStrategy = 0;
};

// Filters one row of rowBytes bytes (prev: the row above, zeros for the
// first) with one of the five PNG filters; out receives the filter byte and
// rowBytes filtered bytes.
void FilterPngRow(PngFilter filter, const std::uint8_t* row, const std::uint8_t* prev,
                  std::size_t rowBytes, int bytesPerPixel, std::uint8_t* out);

// Where the encoded bytes go, in order; false stops the encoding.
class PngSink {
public:
    virtual ~PngSink() = default;
    virtual bool Put(const void* data, std::size_t size) = 0;
};

// The whole file into sink. False when zlib fails, memory runs out or the
// sink refuses; error then says why (empty when the sink refused).
bool EncodePng(const BgraRows& rows, const PngLayout& layout, const PngTuning& tuning,
               PngSink& sink, std::string& error);

// Writes the picture to path (replacing it only when the whole file was
// written). 0, kCodecEncodeFailed or a file error; reason, when given, then
// says why.
int WritePng(const BgraRows& rows, const std::string& path, PngType type,
             std::string* reason = nullptr);

} // namespace pelo
