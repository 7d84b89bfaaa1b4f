// The TGA decoder (Qt's reads neither run-length encoded nor version 2.0
// files, which our own writer produces) and the completeness checks.
#include "formats/CodecReaders.h"

#include "base/ByteOrder.h"
#include "image/Allocation.h"
#include "image/PictureBudget.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace pelo::codec {

namespace {

// One stored pixel or colour-map entry of 1 to 4 bytes to blue, green, red,
// alpha. alphaBits tells whether the file's alpha is meant.
void ExpandPixel(const std::uint8_t* p, int bytes, bool grey, bool useAlpha, std::uint8_t* out) {
    switch (bytes) {
    case 1:
        out[0] = out[1] = out[2] = p[0];
        out[3] = 255;
        break;
    case 2:
        if (grey) {
            out[0] = out[1] = out[2] = p[0];
            out[3] = useAlpha ? p[1] : 255;
        } else {
            const unsigned v = LoadLe16(p);
            auto five = [](unsigned c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); };
            out[0] = five(v & 31);
            out[1] = five((v >> 5) & 31);
            out[2] = five((v >> 10) & 31);
            out[3] = useAlpha ? ((v & 0x8000) ? 255 : 0) : 255;
        }
        break;
    case 3:
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
        out[3] = 255;
        break;
    default:
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
        out[3] = useAlpha ? p[3] : 255;
        break;
    }
}

} // namespace

bool DecodeTga(const std::uint8_t* data, std::size_t size, ImagePtr& picture, std::string& error) {
    auto fail = [&error](const char* why) {
        error = why;
        return false;
    };
    if (size < 18) return fail("truncated TGA header");
    const unsigned idLength = data[0];
    const unsigned mapType = data[1];
    const unsigned type = data[2];
    const unsigned mapFirst = LoadLe16(data + 3);
    const unsigned mapLength = LoadLe16(data + 5);
    const unsigned mapEntryBits = data[7];
    const int width = static_cast<int>(LoadLe16(data + 12));
    const int height = static_cast<int>(LoadLe16(data + 14));
    const unsigned depth = data[16];
    const unsigned descriptor = data[17];
    const unsigned alphaBits = descriptor & 15;
    const bool topDown = (descriptor & 0x20) != 0;
    const bool rightToLeft = (descriptor & 0x10) != 0;

    const unsigned base = type & 7;
    const bool rle = (type & 8) != 0;
    if ((type & ~8u) < 1 || (type & ~8u) > 3) return fail("unsupported TGA image type");
    if (mapType > 1) return fail("invalid TGA colour map type");
    if (width < 1 || height < 1) return fail("TGA picture has no pixels");
    const bool mapped = base == 1;
    const bool grey = base == 3;
    if (mapped && (mapType != 1 || (depth != 8 && depth != 16)))
        return fail("unsupported TGA colour-mapped layout");
    if (base == 2 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        return fail("unsupported TGA pixel depth");
    if (grey && depth != 8 && depth != 16) return fail("unsupported TGA grey depth");

    std::size_t at = 18 + idLength;
    std::vector<std::uint8_t> map; // expanded entries, 4 bytes each
    const unsigned mapEntryBytes = (mapEntryBits + 7) / 8;
    if (mapType == 1) {
        if (mapEntryBytes < 2 || mapEntryBytes > 4) return fail("unsupported TGA colour map depth");
        const std::size_t mapBytes = std::size_t{mapLength} * mapEntryBytes;
        if (at > size || size - at < mapBytes) return fail("truncated TGA colour map");
        map.resize(std::size_t{mapLength} * 4);
        const bool mapAlpha = mapEntryBytes == 4 || (mapEntryBytes == 2 && mapEntryBits == 16);
        for (unsigned i = 0; i < mapLength; ++i)
            ExpandPixel(data + at + i * mapEntryBytes, static_cast<int>(mapEntryBytes), false,
                        mapAlpha && alphaBits > 0, map.data() + 4 * i);
        at += mapBytes;
    }

    const int pixelBytes = static_cast<int>((depth + 7) / 8);
    const bool useAlpha = alphaBits > 0 && (depth == 32 || depth == 16);
    if (std::string problem = AdmitPicture(width, height); !problem.empty()) {
        error = std::move(problem);
        return false;
    }
    const auto count = CheckedImageBytes(width, height, 1);
    if (!count || !CheckedImageBytes(width, height, 4)) return fail("picture too large");
    ImagePtr decoded = AllocIpl(width, height);
    if (!decoded) return fail("out of memory");
    std::uint8_t* pixels = decoded->imageData;

    // The stored pixel stream, decoded into file order; rows are placed
    // afterwards by the origin bits.
    auto putPixel = [&](const std::uint8_t* p, std::size_t index) -> bool {
        std::uint8_t* out;
        const std::size_t row = index / static_cast<std::size_t>(width);
        std::size_t col = index % static_cast<std::size_t>(width);
        if (rightToLeft) col = static_cast<std::size_t>(width) - 1 - col;
        const std::size_t pictureRow = topDown ? row : static_cast<std::size_t>(height) - 1 - row;
        out = pixels + 4 * (pictureRow * static_cast<std::size_t>(width) + col);
        if (mapped) {
            const unsigned value = pixelBytes == 1 ? p[0] : LoadLe16(p);
            if (value < mapFirst || value - mapFirst >= mapLength) return false;
            std::memcpy(out, map.data() + 4 * (value - mapFirst), 4);
        } else {
            ExpandPixel(p, pixelBytes, grey, useAlpha || (grey && alphaBits > 0), out);
        }
        return true;
    };

    std::size_t index = 0;
    if (!rle) {
        if (at > size || (size - at) / static_cast<std::size_t>(pixelBytes) < *count)
            return fail("truncated TGA pixel data");
        for (; index < *count; ++index, at += pixelBytes)
            if (!putPixel(data + at, index)) return fail("TGA colour index outside its map");
    } else {
        while (index < *count) {
            if (at >= size) return fail("truncated TGA pixel data");
            const unsigned header = data[at++];
            const std::size_t run = (header & 0x7F) + 1;
            if (run > *count - index) return fail("TGA run reaches past the picture");
            if (header & 0x80) {
                if (size - at < static_cast<std::size_t>(pixelBytes))
                    return fail("truncated TGA pixel data");
                for (std::size_t i = 0; i < run; ++i)
                    if (!putPixel(data + at, index++))
                        return fail("TGA colour index outside its map");
                at += pixelBytes;
            } else {
                if ((size - at) / static_cast<std::size_t>(pixelBytes) < run)
                    return fail("truncated TGA pixel data");
                for (std::size_t i = 0; i < run; ++i, at += pixelBytes)
                    if (!putPixel(data + at, index++))
                        return fail("TGA colour index outside its map");
            }
        }
    }
    picture = std::move(decoded);
    return true;
}

bool DecodeTga(const std::uint8_t* data, std::size_t size, PackedDibPtr& block,
               std::string& error) {
    ImagePtr picture;
    if (!DecodeTga(data, size, picture, error)) return false;
    if (!block) block = std::make_unique<PackedDib>();
    if (ConvertImageToDib(*picture, *block)) return true;
    error = "out of memory";
    return false;
}

namespace {

// BMP (a bitmap with its file header), as Qt's decoder reads it: info
// header, bit masks and colour table from 14 + header size on, pixel rows
// from bfOffBits (or straight after the tables when bfOffBits points into
// them). Qt returns a picture with blank rows for a file that ends early.
bool CheckBmp(const std::uint8_t* data, std::size_t size, std::string& error) {
    auto cut = [&error](const char* what, std::uint64_t have, std::uint64_t need) {
        error = "truncated BMP: " + std::to_string(have) + " of " + std::to_string(need) + " " +
                what + " bytes";
        return false;
    };
    auto fail = [&error](const std::string& why) {
        error = why;
        return false;
    };
    auto damaged = [&fail](const std::string& why) { return fail("damaged BMP: " + why); };
    constexpr std::size_t kFileHeader = 14;
    if (size < kFileHeader + 4) return cut("header", size, kFileHeader + 4);
    const std::uint32_t offBits = LoadLe32(data + 10);
    const std::uint32_t infoSize = LoadLe32(data + 14);
    // 12: core header; 40: basic; 52, 56: with RGB(A) masks; 64: extended core;
    // 108, 124: with colour space and profile.
    switch (infoSize) {
    case 12:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
        break;
    default:
        return fail("unsupported BMP info header of " + std::to_string(infoSize) + " bytes");
    }
    if (size - kFileHeader < infoSize) return cut("info header", size - kFileHeader, infoSize);

    const bool core = infoSize == 12;
    std::int64_t width, height;
    unsigned bits;
    std::uint32_t compression = 0, coloursUsed = 0;
    if (core) {
        // Qt reads the core header's sides as signed 16-bit numbers.
        width = static_cast<std::int16_t>(LoadLe16(data + 18));
        height = static_cast<std::int16_t>(LoadLe16(data + 20));
        bits = LoadLe16(data + 24);
    } else {
        width = static_cast<std::int32_t>(LoadLe32(data + 18));
        height = static_cast<std::int32_t>(LoadLe32(data + 22));
        bits = LoadLe16(data + 28);
        compression = LoadLe32(data + 30);
        coloursUsed = LoadLe32(data + 46);
    }
    constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;
    const bool known =
        (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
        (compression == kRgb || (compression == kRle8 && bits == 8) ||
         (compression == kRle4 && bits == 4) ||
         (compression == kBitFields && (bits == 16 || bits == 32)));
    if (!known)
        return fail("unsupported BMP layout (" + std::to_string(bits) + " bits, compression " +
                    std::to_string(compression) + ")");
    if (width < 1 || height == 0)
        return damaged("no pixels (" + std::to_string(width) + " x " + std::to_string(height) +
                       ")");
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);

    // Tables after the info header: the three masks of a bit-field picture
    // whose header does not hold them, then the colour table of a picture
    // of at most 8 bits.
    const bool masksInHeader = infoSize == 52 || infoSize == 56 || infoSize >= 108;
    std::uint64_t tables = 0;
    if (compression == kBitFields && !masksInHeader) tables += 12;
    if (bits <= 8) {
        const std::uint64_t colours = coloursUsed ? coloursUsed : std::uint64_t{1} << bits;
        if (colours > 256)
            return damaged("colour table of " + std::to_string(colours) + " entries");
        tables += colours * (core ? 3 : 4);
    }
    const std::uint64_t tablesAt = kFileHeader + infoSize;
    if (size - tablesAt < tables) return cut("colour table", size - tablesAt, tables);
    if (offBits > size)
        return fail("truncated BMP: pixel data offset " + std::to_string(offBits) +
                    " lies past the end of the " + std::to_string(size) + "-byte file");
    const std::uint64_t start = std::max<std::uint64_t>(offBits, tablesAt + tables);
    const std::uint64_t present = size - start;

    if (compression == kRle8 || compression == kRle4) {
        // Pairs of count and value or of 0 and an escape: 0 ends a row,
        // 1 ends the picture, 2 moves by the two bytes that follow, 3 to 255
        // copy that many pixels, padded to a whole 16-bit word.
        static const char kNoEnd[] =
            "truncated BMP: run-length data ends before its end-of-bitmap marker";
        std::uint64_t at = start;
        while (true) {
            if (size - at < 2) return fail(kNoEnd);
            const unsigned count = data[at], code = data[at + 1];
            at += 2;
            if (count != 0 || code == 0) continue;
            if (code == 1) return true;
            std::uint64_t skip = 2; // the move
            if (code > 2) {
                skip = compression == kRle8 ? code : (code + 1) / 2;
                skip += skip & 1;
            }
            if (size - at < skip) return fail(kNoEnd);
            at += skip;
        }
    }

    // Rows of whole 32-bit words; width < 2^31 and bits <= 32 keep every
    // step in range, the checks guard the reasoning.
    std::uint64_t rowBits = 0, pixelBytes = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(width), std::uint64_t{bits}, &rowBits) ||
        __builtin_mul_overflow((rowBits + 31) / 32 * 4, rows, &pixelBytes))
        return damaged("pixel array larger than any file");
    if (present < pixelBytes) return cut("pixel", present, pixelBytes);
    return true;
}

// GIF: header, logical screen and global colour table, then extensions and
// images (descriptor, local colour table, LZW code size, data sub-blocks)
// up to the trailer. Qt's decoder shows whatever part of a frame arrived.
bool CheckGif(const std::uint8_t* data, std::size_t size, std::string& error) {
    auto fail = [&error](const std::string& why) {
        error = why;
        return false;
    };
    auto cut = [&fail](const std::string& what, std::size_t have, std::size_t need) {
        return fail("truncated GIF: " + std::to_string(have) + " of " + std::to_string(need) + " " +
                    what + " bytes");
    };
    // Signature and logical screen descriptor.
    constexpr std::size_t kHeader = 13;
    if (size < kHeader) return cut("header", size, kHeader);
    auto colourTable = [](unsigned flags) -> std::size_t {
        return (flags & 0x80) ? std::size_t{3} << ((flags & 7) + 1) : 0;
    };
    std::size_t at = kHeader;
    if (size - at < colourTable(data[10]))
        return cut("global colour table", size - at, colourTable(data[10]));
    at += colourTable(data[10]);
    // A chain of sub-blocks, each a length byte and that many bytes, ended
    // by a zero length.
    auto skipSubBlocks = [&]() {
        while (at < size) {
            const std::size_t length = data[at++];
            if (length == 0) return true;
            if (size - at < length) return false;
            at += length;
        }
        return false;
    };
    unsigned frames = 0;
    while (true) {
        if (at >= size)
            return fail(frames ? "truncated GIF: no trailer after the last frame"
                               : "truncated GIF: no picture before the end of the file");
        const std::size_t blockAt = at;
        const unsigned introducer = data[at++];
        if (introducer == 0x3B) {
            if (frames == 0) return fail("GIF holds no picture");
            return true;
        }
        if (introducer == 0x21) {
            ++at; // the label
            if (at > size || !skipSubBlocks())
                return fail("truncated GIF: extension block at byte " + std::to_string(blockAt) +
                            " cut short");
        } else if (introducer == 0x2C) {
            const std::string frame = "frame " + std::to_string(frames + 1);
            if (size - at < 9) return cut("image descriptor of " + frame, size - at, 9);
            const std::size_t table = colourTable(data[at + 8]);
            at += 9;
            if (size - at < table) return cut("local colour table of " + frame, size - at, table);
            at += table + 1; // and the LZW code size
            if (at > size || !skipSubBlocks())
                return fail("truncated GIF: image data of " + frame + " cut short");
            ++frames;
        } else {
            return fail("damaged GIF: unknown block type " + std::to_string(introducer) +
                        " at byte " + std::to_string(blockAt));
        }
    }
}

// XBM text: "#define NAME_width W", "#define NAME_height H", then the bit
// bytes as hex numbers in braces. Qt keeps whatever rows arrived, so the
// numbers are counted against the size before it sees the file.
bool CheckXbm(const std::uint8_t* data, std::size_t size, std::string& error) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto number = [&text](std::string_view key) -> std::optional<std::uint64_t> {
        const auto at = text.find(key);
        if (at == std::string_view::npos) return std::nullopt;
        std::size_t i = at + key.size();
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        std::uint64_t value = 0;
        const std::size_t start = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < (1u << 30); ++i)
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (i == start) return std::nullopt;
        return value;
    };
    const auto width = number("_width"), height = number("_height");
    if (!width || !height) return true; // not a picture Qt would read either
    const std::uint64_t need = (*width + 7) / 8 * *height;
    const auto open = text.find('{');
    const auto close = text.find('}', open == std::string_view::npos ? 0 : open);
    std::uint64_t have = 0;
    if (open != std::string_view::npos)
        for (auto at = text.find("0x", open); at != std::string_view::npos && at < close;
             at = text.find("0x", at + 2))
            ++have;
    if (have >= need && close != std::string_view::npos) return true;
    error = "truncated XBM: " + std::to_string(std::min(have, need)) + " of " +
            std::to_string(need) + " bytes";
    return false;
}

} // namespace

bool CheckComplete(const std::uint8_t* data, std::size_t size, std::string& error) {
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return CheckBmp(data, size, error);
    if (size >= 7 && std::memcmp(data, "#define", 7) == 0) return CheckXbm(data, size, error);
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return CheckGif(data, size, error);
    static const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) {
        std::size_t at = 8;
        while (true) {
            if (size - at < 12) break;
            const std::uint32_t length = LoadBe32(data + at);
            if (length > 0x7FFFFFFFu || size - at - 12 < length) break;
            if (std::memcmp(data + at + 4, "IEND", 4) == 0) return true;
            at += 12 + std::size_t{length};
        }
        error = "truncated PNG file";
        return false;
    }
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        // Entropy-coded data never holds FF D9, so the end marker after the
        // last start-of-scan tells a complete file from a cut one.
        std::size_t lastScan = 0;
        bool endAfterScan = false;
        for (std::size_t i = 2; i + 1 < size; ++i) {
            if (data[i] != 0xFF) continue;
            if (data[i + 1] == 0xDA) {
                lastScan = i;
                endAfterScan = false;
            } else if (data[i + 1] == 0xD9 && lastScan) {
                endAfterScan = true;
            }
        }
        if (!lastScan || !endAfterScan) {
            error = "truncated JPEG file";
            return false;
        }
    }
    return true;
}

} // namespace pelo::codec
