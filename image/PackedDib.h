// A device-independent bitmap in one block: the 40-byte information header,
// an optional colour table, then bottom-up pixel rows aligned to 4 bytes.
// The exchange form between the loaders, the image model and the codec save.
#pragma once

#include "image/ImageBuffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace pelo {

inline constexpr std::size_t kDibHeaderSize = 40;
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiBitfields = 3;

struct BitmapInfoHeader {
    std::uint32_t biSize = kDibHeaderSize;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 32;
    std::uint32_t biCompression = kBiRgb;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 72;
    std::int32_t biYPelsPerMeter = 72;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == kDibHeaderSize);

// The reusable block: header + colour table + pixels in one allocation that
// grows when a picture needs more room and is reused in place otherwise.
class PackedDib {
public:
    BitmapInfoHeader& header() { return *reinterpret_cast<BitmapInfoHeader*>(data_.get()); }
    const BitmapInfoHeader& header() const {
        return *reinterpret_cast<const BitmapInfoHeader*>(data_.get());
    }
    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t capacity() const { return capacity_; }

    // Makes room for totalBytes (header included); keeps the allocation when
    // it is large enough. False when the allocation fails or exceeds the limit.
    bool Reserve(std::size_t totalBytes);

    // Gives the pixels' memory back, leaving a 0 x 0 32-bit header. False
    // when even the header cannot be had.
    bool DropPixels();

    // Bytes of the colour table: 256 entries for 8 bits, none otherwise.
    std::size_t colourTableBytes() const;
    std::uint8_t* colourTable() { return data_.get() + kDibHeaderSize; }
    const std::uint8_t* colourTable() const { return data_.get() + kDibHeaderSize; }
    std::uint8_t* pixels() { return data_.get() + kDibHeaderSize + colourTableBytes(); }
    const std::uint8_t* pixels() const { return data_.get() + kDibHeaderSize + colourTableBytes(); }

private:
    struct Free {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t, Free> data_;
    std::size_t capacity_ = 0;
};

using PackedDibPtr = std::unique_ptr<PackedDib>;

// Bytes of one row of a bitmap: bitCount * width bits rounded up to 4 bytes.
// None on overflow.
std::optional<std::size_t> DibStride(std::int64_t width, int bitCount);

// Fills the block with the 32-bit header of the codec paths for width x height
// (bottom-up) and room for its pixels. False when that cannot be had.
bool PrepareDib32(PackedDib& dib, int width, int height);

// Converts the block into a new buffer of its size (row 0 = top row; 8-bit
// pixels through the colour table; 16-bit 5-5-5; 24-bit; 32-bit with the
// fourth byte as alpha). None for an unsupported or inconsistent header, a
// size AllocIpl refuses, or a block too small for its rows. The caller fills
// alpha with 255 when biBitCount is below 32.
ImagePtr ConvertDibToImage(const PackedDib& dib);

// Writes the image into the block as a 32-bit bottom-up bitmap.
bool ConvertImageToDib(const ImageBuffer& image, PackedDib& dib);

} // namespace pelo
