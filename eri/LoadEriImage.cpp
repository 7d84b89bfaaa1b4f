#include "eri/LoadEriImage.h"

#include "eri/EriBitReader.h"
#include "eri/EriByteStream.h"
#include "eri/EriImageDecoder.h"
#include "eri/EriRecordReader.h"
#include "image/Allocation.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace pelo {

namespace {

// The image information, checked before anything is allocated: the fields
// the decoder accepts, then the size against the picture limit.
bool CheckImageInfo(const EriRecordReader& records, EriLoadStatus& status) {
    if ((records.Flags() & kEriHasImageInfo) == 0) return status.Fail(EriLoadResult::NoImageInfo);
    const EriImageInfo& info = records.ImageInfo();
    const EriInfoCheck check = CheckEriImageInfo(info);
    if (check != EriInfoCheck::Ok && check != EriInfoCheck::BadSize)
        return status.Fail(EriLoadResult::UnsupportedFormat, EriInfoCheckField(check, info));
    const std::int64_t width = info.width;
    const std::int64_t height = std::llabs(std::int64_t{info.height});
    if (width < 1 || height < 1 || width > kEriMaxSide || height > kEriMaxSide)
        return status.Fail(EriLoadResult::InvalidSize,
                           std::to_string(info.width) + " x " + std::to_string(info.height));
    std::string problem = PictureSizeProblem(width, height);
    if (!problem.empty()) return status.Fail(EriLoadResult::TooLarge, std::move(problem));
    if (check == EriInfoCheck::BadSize) // a limit raised past the decoder's own
        return status.Fail(EriLoadResult::TooLarge, "picture of " + std::to_string(width) + " x " +
                                                        std::to_string(height) +
                                                        " pixels exceeds the ERI limit of " +
                                                        std::to_string(kEriMaxPixels) + " pixels");
    return true;
}

bool Load(EriByteStream& stream, PackedDibPtr& block, EriLoadStatus& status) {
    EriRecordReader records;
    if (!records.Open(stream, EriRecordReader::kImageFrame))
        return status.Fail(records.Status().Result(), records.Status().Detail());
    if (!CheckImageInfo(records, status)) return false;
    EriBitReader bits(records, EriBitReader::kDefaultBufferBytes);
    EriImageDecoder decoder;
    const EriImageInfo& info = records.ImageInfo();
    // The information passed every check of set-up; only its buffers can fail.
    if (decoder.Setup(info) != 0) return status.Fail(EriLoadResult::OutOfMemory);

    // Setup has bounded the size: at most 2^28 pixels of 1 to 4 bytes.
    const int bitCount = static_cast<int>(info.bitsPerPixel);
    const std::int32_t width = info.width;
    const std::int32_t height = static_cast<std::int32_t>(std::llabs(std::int64_t{info.height}));
    const std::size_t stride =
        ((std::size_t(bitCount) * std::size_t(width)) / 8 + 3) & ~std::size_t{3};
    const auto pixelBytes = CheckedImageBytes(static_cast<std::int64_t>(stride), height, 1);
    if (!pixelBytes)
        return status.Fail(EriLoadResult::TooLarge, "picture of " + std::to_string(width) + " x " +
                                                        std::to_string(height) +
                                                        " pixels exceeds the memory limit of " +
                                                        std::to_string(MaxImageBytes()) + " bytes");

    // The pixels are decoded straight into the output block, zero-filled
    // first (pad bytes, and the fourth byte of 32-bit colour pixels). On a
    // failure the block keeps its size but not its contents.
    const std::size_t tableBytes = bitCount == 8 ? 1024 : 0;
    const std::size_t total = kDibHeaderSize + tableBytes + *pixelBytes;
    if (!block) {
        block.reset(new (std::nothrow) PackedDib);
        if (!block) return status.Fail(EriLoadResult::OutOfMemory);
    }
    if (!block->Reserve(total)) return status.Fail(EriLoadResult::OutOfMemory);
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(bitCount);
    header.biCompression = kBiRgb;
    header.biSizeImage = static_cast<std::uint32_t>(*pixelBytes);
    block->header() = header;
    std::uint8_t* pixels = block->pixels();
    std::memset(pixels, 0, *pixelBytes);

    EriDecodeTarget target;
    target.pixelFormat = info.pixelFormat;
    target.pixels = pixels;
    target.width = width;
    target.height = height;
    target.bitsPerPixel = info.bitsPerPixel;
    target.stride = static_cast<std::ptrdiff_t>(stride);
    if (decoder.Decode(target, bits, false) != 0) {
        if (const int e = stream.Error())
            return status.Fail(EriLoadResult::ReadError, EriSystemErrorText(e));
        return status.Fail(EriLoadResult::DamagedData);
    }

    // A 32-bit colour picture without an alpha channel is opaque; its fourth
    // byte would otherwise read as alpha 0 and make it fully transparent.
    if (bitCount == 32 && !info.HasAlpha()) {
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint8_t* row = pixels + std::size_t(y) * stride;
            for (std::int32_t x = 0; x < width; ++x)
                row[4 * std::size_t(x) + 3] = 255;
        }
    }

    if (bitCount == 8) {
        std::uint8_t* table = block->colourTable();
        if (info.pixelFormat == kEriFormatGrey) {
            for (int i = 0; i < 256; ++i) {
                table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = static_cast<std::uint8_t>(i);
                table[4 * i + 3] = 0;
            }
        } else {
            std::memcpy(table, records.ColourTable(), 1024);
        }
    }
    return true;
}

bool Report(bool loaded, const EriLoadStatus& status, std::string* reason) {
    if (reason) {
        if (loaded)
            reason->clear();
        else
            *reason = EriLoadStatusText(status);
    }
    return loaded;
}

} // namespace

bool LoadEriImage(const std::string& path, PackedDibPtr& block, std::string* reason) {
    EriLoadStatus status;
    EriFileStream file;
    const bool loaded = file.Open(path, &status) && Load(file, block, status);
    return Report(loaded, status, reason);
}

bool LoadEriImage(EriByteStream& stream, PackedDibPtr& block, std::string* reason) {
    EriLoadStatus status;
    const bool loaded = Load(stream, block, status);
    return Report(loaded, status, reason);
}

} // namespace pelo
