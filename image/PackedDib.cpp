#include "image/PackedDib.h"

#include "image/Allocation.h"
#include "image/PictureBudget.h"

#include <cstdlib>
#include <cstring>

namespace pelo {

void PackedDib::Free::operator()(std::uint8_t* p) const {
    std::free(p);
}

bool PackedDib::Reserve(std::size_t totalBytes) {
    if (totalBytes < kDibHeaderSize) totalBytes = kDibHeaderSize;
    if (data_ && capacity_ >= totalBytes) return true;
    if (totalBytes > MaxImageBytes() + kDibHeaderSize + 1024) return false;
    // malloc'd storage implicitly holds the header object (C++20).
    void* grown = std::realloc(data_.get(), totalBytes);
    if (!grown) {
        grown = std::malloc(totalBytes);
        if (!grown) return false;
        if (data_) std::memcpy(grown, data_.get(), kDibHeaderSize);
        data_.reset(static_cast<std::uint8_t*>(grown));
    } else {
        data_.release();
        data_.reset(static_cast<std::uint8_t*>(grown));
    }
    if (capacity_ == 0) header() = BitmapInfoHeader{};
    capacity_ = totalBytes;
    return true;
}

bool PackedDib::DropPixels() {
    data_.reset();
    capacity_ = 0;
    return PrepareDib32(*this, 0, 0);
}

std::size_t PackedDib::colourTableBytes() const {
    return (data_ && header().biBitCount == 8) ? 256 * 4 : 0;
}

std::optional<std::size_t> DibStride(std::int64_t width, int bitCount) {
    if (width < 0 || bitCount <= 0) return std::nullopt;
    const auto bits = CheckedImageBytes(width, bitCount, 1);
    if (!bits) return std::nullopt;
    return ((*bits + 31) / 32) * 4;
}

bool PrepareDib32(PackedDib& dib, int width, int height) {
    const auto bytes = CheckedImageBytes(width, height, 4);
    if (!bytes || width < 0 || height < 0) return false;
    if ((width > 0 || height > 0) && !AdmitPicture(width, height).empty()) return false;
    if (!dib.Reserve(kDibHeaderSize + *bytes)) return false;
    BitmapInfoHeader h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = 32;
    h.biSizeImage = static_cast<std::uint32_t>(*bytes);
    dib.header() = h;
    return true;
}

namespace {

inline std::uint8_t Expand5(unsigned v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

void ConvertRow(const std::uint8_t* src, std::uint8_t* dst, int width, int bitCount,
                const std::uint8_t* table) {
    switch (bitCount) {
    case 8:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* entry = table + 4 * src[x];
            dst[4 * x + 0] = entry[0];
            dst[4 * x + 1] = entry[1];
            dst[4 * x + 2] = entry[2];
            dst[4 * x + 3] = 0;
        }
        break;
    case 16:
        for (int x = 0; x < width; ++x) {
            const unsigned word = src[2 * x] | (unsigned{src[2 * x + 1]} << 8);
            dst[4 * x + 0] = Expand5(word & 31);
            dst[4 * x + 1] = Expand5((word >> 5) & 31);
            dst[4 * x + 2] = Expand5((word >> 10) & 31);
            dst[4 * x + 3] = 0;
        }
        break;
    case 24:
        for (int x = 0; x < width; ++x) {
            dst[4 * x + 0] = src[3 * x + 0];
            dst[4 * x + 1] = src[3 * x + 1];
            dst[4 * x + 2] = src[3 * x + 2];
            dst[4 * x + 3] = 0;
        }
        break;
    case 32:
        std::memcpy(dst, src, 4 * static_cast<std::size_t>(width));
        break;
    }
}

} // namespace

ImagePtr ConvertDibToImage(const PackedDib& dib) {
    if (!dib.data() || dib.capacity() < kDibHeaderSize) return nullptr;
    const BitmapInfoHeader& h = dib.header();
    if (h.biSize < kDibHeaderSize || h.biCompression != kBiRgb) return nullptr;
    const int bitCount = h.biBitCount;
    if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) return nullptr;
    auto image = AllocIpl(h.biWidth, h.biHeight, kImageDepth8u, kOriginTopLeft);
    if (!image) return nullptr;
    const auto stride = DibStride(h.biWidth, bitCount);
    if (!stride) return nullptr;
    const std::size_t offset = kDibHeaderSize + dib.colourTableBytes();
    const auto rows = CheckedImageBytes(static_cast<std::int64_t>(*stride), h.biHeight, 1);
    if (!rows || dib.capacity() < offset || dib.capacity() - offset < *rows) return nullptr;

    const std::uint8_t* pixels = dib.data() + offset;
    const std::uint8_t* table = dib.colourTable();
    for (int y = 0; y < image->height; ++y) {
        const std::uint8_t* src =
            pixels + *stride * static_cast<std::size_t>(image->height - 1 - y);
        ConvertRow(src, image->pixel(0, y), image->width, bitCount, table);
    }
    return image;
}

bool ConvertImageToDib(const ImageBuffer& image, PackedDib& dib) {
    if (!image.imageData || !PrepareDib32(dib, image.width, image.height)) return false;
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(image.width);
    std::uint8_t* pixels = dib.pixels();
    for (int y = 0; y < image.height; ++y)
        std::memcpy(pixels + rowBytes * static_cast<std::size_t>(image.height - 1 - y),
                    image.pixel(0, y), rowBytes);
    return true;
}

} // namespace pelo
