#include "formats/TgaWriter.h"

#include "base/AtomicFile.h"
#include "base/ByteOrder.h"

#include <cstring>
#include <vector>

namespace pelo {

namespace {

inline bool SamePixel(const std::uint8_t* a, const std::uint8_t* b, int bytesPerPixel) {
    return std::memcmp(a, b, static_cast<std::size_t>(bytesPerPixel)) == 0;
}

void BuildHeader(std::uint8_t* h, int width, int height, bool runLength) {
    std::memset(h, 0, kTgaHeaderSize);
    h[2] = runLength ? 10 : 2;
    StoreLe16(h + 12, static_cast<unsigned>(width));
    StoreLe16(h + 14, static_cast<unsigned>(height));
    h[16] = 32;
    h[17] = 8; // 8 alpha bits, left to right, bottom row first
}

void BuildExtensionArea(std::uint8_t* e) {
    std::memset(e, 0, kTgaExtensionSize);
    StoreLe16(e + 0, kTgaExtensionSize);
    static const char kSoftware[] = "Quarny's Pelo";
    std::memcpy(e + 426, kSoftware, sizeof kSoftware - 1);
    StoreLe16(e + 467, 100);
    e[469] = 'A';
    e[494] = 3; // the alpha channel holds useful alpha
}

void BuildFooter(std::uint8_t* f, std::uint32_t extensionOffset) {
    std::memset(f, 0, kTgaFooterSize);
    StoreLe32(f + 0, extensionOffset);
    std::memcpy(f + 8, "TRUEVISION-XFILE", 16);
    f[24] = '.';
    f[25] = 0;
}

} // namespace

int PackRunLength(const std::uint8_t* source, std::uint8_t* destination, int pixelCount,
                  int bytesPerPixel) {
    const int bpp = bytesPerPixel;
    int produced = 0;
    int i = 0;
    while (i < pixelCount) {
        const std::uint8_t* current = source + static_cast<std::size_t>(i) * bpp;
        const int remaining = pixelCount - i;
        if (remaining >= 2 && SamePixel(current, current + bpp, bpp)) {
            int n = 2;
            while (n < remaining && n < 128 && SamePixel(current, current + n * bpp, bpp))
                ++n;
            destination[produced++] = static_cast<std::uint8_t>(0x80 | (n - 1));
            std::memcpy(destination + produced, current, static_cast<std::size_t>(bpp));
            produced += bpp;
            i += n;
        } else {
            // Raw stretch: pixels that differ from their successor; the row's
            // last pixel joins only a stretch that starts on it.
            int n = 1;
            while (n < 128 && i + n < pixelCount - 1 &&
                   !SamePixel(source + static_cast<std::size_t>(i + n) * bpp,
                              source + static_cast<std::size_t>(i + n + 1) * bpp, bpp))
                ++n;
            destination[produced++] = static_cast<std::uint8_t>(n - 1);
            std::memcpy(destination + produced, current, static_cast<std::size_t>(n) * bpp);
            produced += n * bpp;
            i += n;
        }
    }
    return produced;
}

namespace {

const char* RefusalReason(int result) {
    switch (result) {
    case kTgaWrongColourModel:
        return "the image is not RGBA";
    case kTgaWrongChannelSequence:
        return "the image's channels are not in BGRA order";
    case kTgaNoPixels:
        return "the image has no pixels";
    case kTgaTooLarge:
        return "a side of the image is not 1..65535 pixels";
    default:
        return "the image cannot be written as TGA";
    }
}

bool WriteTgaData(const ImageBuffer& image, AtomicFile& file, bool runLength) {
    std::uint8_t header[kTgaHeaderSize];
    BuildHeader(header, image.width, image.height, runLength);
    if (!file.Write(header, sizeof header)) return false;

    const std::size_t rowBytes = 4 * static_cast<std::size_t>(image.width);
    std::uint64_t dataBytes = 0;
    std::vector<std::uint8_t> scratch;
    if (runLength) scratch.resize(5 * static_cast<std::size_t>(image.width));
    for (int y = image.height - 1; y >= 0; --y) {
        const std::uint8_t* row = image.pixel(0, y);
        if (runLength) {
            const int n = PackRunLength(row, scratch.data(), image.width, 4);
            if (!file.Write(scratch.data(), static_cast<std::size_t>(n))) return false;
            dataBytes += static_cast<std::uint64_t>(n);
        } else {
            if (!file.Write(row, rowBytes)) return false;
            dataBytes += rowBytes;
        }
    }

    std::uint8_t extension[kTgaExtensionSize];
    BuildExtensionArea(extension);
    if (!file.Write(extension, sizeof extension)) return false;

    std::uint8_t footer[kTgaFooterSize];
    BuildFooter(footer, static_cast<std::uint32_t>(kTgaHeaderSize + dataBytes));
    return file.Write(footer, sizeof footer) && file.Commit();
}

} // namespace

int WriteTga(const ImageBuffer& image, const std::string& path, bool runLength,
             std::string* reason) {
    int status = CheckRgbaBgra(image);
    if (status == kImageOk &&
        (image.width < 1 || image.height < 1 || image.width > 65535 || image.height > 65535))
        status = kTgaTooLarge;
    if (status != kImageOk) {
        if (reason) *reason = RefusalReason(status);
        return status;
    }

    AtomicFile file;
    if (file.Open(path) && WriteTgaData(image, file, runLength)) return kTgaOk;
    if (reason) *reason = file.reason();
    return file.errorCode() ? file.errorCode() : kFileOtherError;
}

} // namespace pelo
