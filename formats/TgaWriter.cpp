#include "formats/TgaWriter.h"

#include "base/AtomicFile.h"
#include "base/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace pelo {

namespace {

// Pixels compared as one word of their size (3 bytes: a half word and a byte).
template <int Bpp> inline bool SamePixel(const std::uint8_t* a, const std::uint8_t* b) {
    if constexpr (Bpp == 1) {
        return *a == *b;
    } else if constexpr (Bpp == 4) {
        std::uint32_t x, y;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        return x == y;
    } else {
        std::uint16_t x, y;
        std::memcpy(&x, a, 2);
        std::memcpy(&y, b, 2);
        return x == y && (Bpp == 2 || a[2] == b[2]);
    }
}

template <int Bpp>
int PackRuns(const std::uint8_t* source, std::uint8_t* destination, int pixelCount) {
    constexpr int bpp = Bpp;
    int produced = 0;
    int i = 0;
    while (i < pixelCount) {
        const std::uint8_t* current = source + static_cast<std::size_t>(i) * bpp;
        const int remaining = pixelCount - i;
        if (remaining >= 2 && SamePixel<Bpp>(current, current + bpp)) {
            int n = 2;
            while (n < remaining && n < 128 && SamePixel<Bpp>(current, current + n * bpp))
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
                   !SamePixel<Bpp>(source + static_cast<std::size_t>(i + n) * bpp,
                                   source + static_cast<std::size_t>(i + n + 1) * bpp))
                ++n;
            destination[produced++] = static_cast<std::uint8_t>(n - 1);
            std::memcpy(destination + produced, current, static_cast<std::size_t>(n) * bpp);
            produced += n * bpp;
            i += n;
        }
    }
    return produced;
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
    switch (bytesPerPixel) {
    case 1:
        return PackRuns<1>(source, destination, pixelCount);
    case 2:
        return PackRuns<2>(source, destination, pixelCount);
    case 3:
        return PackRuns<3>(source, destination, pixelCount);
    default:
        return PackRuns<4>(source, destination, pixelCount);
    }
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

// Pixel bytes per band of rows packed in one piece.
constexpr std::size_t kBandBytes = std::size_t{1} << 20;

// The packets of count rows starting at file row first (file rows run from
// the bottom of the picture up); room for the worst case of every band.
struct Band {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t used = 0;

    void Pack(const ImageBuffer& image, int first, int count) {
        used = 0;
        for (int r = first; r < first + count; ++r)
            used += static_cast<std::size_t>(PackRunLength(image.pixel(0, image.height - 1 - r),
                                                           bytes.get() + used, image.width, 4));
    }
};

// Rows are packed each on its own, so bands of whole rows packed on several
// threads give the bytes of one thread packing them in order.
bool WriteRunLengthRows(const ImageBuffer& image, AtomicFile& file, int threads,
                        std::uint64_t& dataBytes) {
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(image.width);
    const int bandRows =
        static_cast<int>(std::clamp<std::size_t>(kBandBytes / rowBytes, 1, image.height));
    const int bandCount = (image.height + bandRows - 1) / bandRows;
    const int workers = std::clamp(threads, 1, bandCount);
    std::vector<Band> bands(static_cast<std::size_t>(workers));
    for (Band& band : bands)
        band.bytes.reset(new std::uint8_t[static_cast<std::size_t>(bandRows) * 5 *
                                          static_cast<std::size_t>(image.width)]);
    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<std::size_t>(workers));
    for (int round = 0; round < image.height; round += workers * bandRows) {
        const int used = std::min(workers, (image.height - round + bandRows - 1) / bandRows);
        const auto pack = [&image, &bands, round, bandRows](int b) {
            const int first = round + b * bandRows;
            bands[static_cast<std::size_t>(b)].Pack(image, first,
                                                    std::min(bandRows, image.height - first));
        };
        helpers.clear();
        for (int b = 1; b < used; ++b) {
            try {
                helpers.emplace_back(pack, b);
            } catch (const std::system_error&) {
                pack(b); // no thread to be had: here then
            }
        }
        pack(0);
        for (std::thread& helper : helpers)
            helper.join();
        for (int b = 0; b < used; ++b) {
            const Band& band = bands[static_cast<std::size_t>(b)];
            if (!file.Write(band.bytes.get(), band.used)) return false;
            dataBytes += band.used;
        }
    }
    return true;
}

bool WriteTgaData(const ImageBuffer& image, AtomicFile& file, bool runLength, int threads) {
    std::uint8_t header[kTgaHeaderSize];
    BuildHeader(header, image.width, image.height, runLength);
    if (!file.Write(header, sizeof header)) return false;

    const std::size_t rowBytes = 4 * static_cast<std::size_t>(image.width);
    std::uint64_t dataBytes = 0;
    if (runLength) {
        if (!WriteRunLengthRows(image, file, threads, dataBytes)) return false;
    } else {
        for (int y = image.height - 1; y >= 0; --y) {
            if (!file.Write(image.pixel(0, y), rowBytes)) return false;
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

int WriteTga(const ImageBuffer& image, const std::string& path, bool runLength, std::string* reason,
             int threads) {
    int status = CheckRgbaBgra(image);
    if (status == kImageOk &&
        (image.width < 1 || image.height < 1 || image.width > 65535 || image.height > 65535))
        status = kTgaTooLarge;
    if (status != kImageOk) {
        if (reason) *reason = RefusalReason(status);
        return status;
    }

    AtomicFile file;
    if (file.Open(path) && WriteTgaData(image, file, runLength, threads)) return kTgaOk;
    if (reason) *reason = file.reason();
    return file.errorCode() ? file.errorCode() : kFileOtherError;
}

} // namespace pelo
