// The TGA decoder (Qt's reads neither run-length encoded nor version 2.0
// files, which our own writer produces) and the completeness checks.
#include "formats/CodecReaders.h"

#include "image/Allocation.h"

#include <cstring>
#include <vector>

namespace pelo::codec {

namespace {

unsigned Le16(const std::uint8_t* p) {
    return p[0] | (unsigned{p[1]} << 8);
}
std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

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
            const unsigned v = Le16(p);
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

bool DecodeTga(const std::uint8_t* data, std::size_t size, PackedDibPtr& block,
               std::string& error) {
    auto fail = [&error](const char* why) {
        error = why;
        return false;
    };
    if (size < 18) return fail("truncated TGA header");
    const unsigned idLength = data[0];
    const unsigned mapType = data[1];
    const unsigned type = data[2];
    const unsigned mapFirst = Le16(data + 3);
    const unsigned mapLength = Le16(data + 5);
    const unsigned mapEntryBits = data[7];
    const int width = static_cast<int>(Le16(data + 12));
    const int height = static_cast<int>(Le16(data + 14));
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
    const auto count = CheckedImageBytes(width, height, 1);
    if (!count || !CheckedImageBytes(width, height, 4)) return fail("picture too large");
    if (!block) block = std::make_unique<PackedDib>();
    if (!PrepareDib32(*block, width, height)) return fail("out of memory");
    std::uint8_t* pixels = block->pixels();

    // The stored pixel stream, decoded into file order; rows are placed
    // afterwards by the origin bits.
    auto putPixel = [&](const std::uint8_t* p, std::size_t index) -> bool {
        std::uint8_t* out;
        const std::size_t row = index / static_cast<std::size_t>(width);
        std::size_t col = index % static_cast<std::size_t>(width);
        if (rightToLeft) col = static_cast<std::size_t>(width) - 1 - col;
        // The block is bottom-up: a bottom-left file keeps its row order.
        const std::size_t blockRow = topDown ? static_cast<std::size_t>(height) - 1 - row : row;
        out = pixels + 4 * (blockRow * static_cast<std::size_t>(width) + col);
        if (mapped) {
            const unsigned value = pixelBytes == 1 ? p[0] : Le16(p);
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
    return true;
}

bool CheckComplete(const std::uint8_t* data, std::size_t size, std::string& error) {
    static const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) {
        std::size_t at = 8;
        while (true) {
            if (size - at < 12) break;
            const std::uint32_t length = Be32(data + at);
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
