// Spreads the colour of non-transparent pixels into fully transparent
// neighbours, first along rows, then along columns, through a spread buffer
// that is finally added to the image with saturation.
#include "image/Allocation.h"
#include "image/ImageBuffer.h"
#include "image/WorkMemory.h"

#include <bit>
#include <cstring>
#include <memory>
#include <new>

static_assert(std::endian::native == std::endian::little, "pixel words assume little-endian");

namespace pelo {

namespace {

constexpr std::uint32_t kColourMask = 0x00FFFFFFu;

inline bool IsTransparent(const std::uint8_t* pixel) {
    return pixel[3] == 0;
}

inline std::uint32_t ColourOf(const std::uint8_t* pixel) {
    std::uint32_t word;
    std::memcpy(&word, pixel, 4);
    return word & kColourMask;
}

void SpreadRow(const std::uint8_t* row, std::uint32_t* spread, int width, int reach) {
    bool afterTransparent = true;
    int x = 0;
    while (x < width) {
        const std::uint8_t* p = row + 4 * x;
        if (!IsTransparent(p)) {
            if (afterTransparent) {
                const std::uint32_t colour = ColourOf(p);
                for (int i = 1; i <= reach - 1 && x - i >= 0; ++i) {
                    if (!IsTransparent(row + 4 * (x - i))) break;
                    spread[x - i] = colour;
                }
            }
            afterTransparent = false;
            ++x;
        } else if (!afterTransparent) {
            const std::uint32_t colour = ColourOf(row + 4 * (x - 1));
            spread[x] = colour;
            int k = 1;
            while (k < reach && x + k < width && IsTransparent(row + 4 * (x + k))) {
                spread[x + k] = colour;
                ++k;
            }
            x += k + 1; // the pixel after the stretch is not examined
            afterTransparent = true;
        } else {
            ++x;
        }
    }
}

// The vertical pass of every column at once, row by row, so that memory is
// read in its own order. Each column keeps its own scan state (the row it
// examines next and its after-transparent flag); columns never touch each
// other's cells, so this gives exactly what one column after the other does.
void SpreadColumns(const std::uint8_t* pixels, std::uint32_t* spread, int width, int height,
                   int reach, int* nextRow, std::uint8_t* afterTransparent) {
    const std::size_t stride = static_cast<std::size_t>(width);
    for (int x = 0; x < width; ++x) {
        nextRow[x] = 0;
        afterTransparent[x] = 1;
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels + 4 * stride * static_cast<std::size_t>(y);
        std::uint32_t* cells = spread + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x) {
            if (nextRow[x] != y) continue; // inside a stretch written from above
            auto image = [&](int r) {
                return pixels + 4 * (static_cast<std::size_t>(r) * stride + x);
            };
            auto cell = [&](int r) -> std::uint32_t& {
                return spread[static_cast<std::size_t>(r) * stride + x];
            };
            const bool opaque = !IsTransparent(row + 4 * x);
            if (opaque || cells[x] != 0) {
                if (afterTransparent[x]) {
                    const std::uint32_t colour = opaque ? ColourOf(row + 4 * x) : cells[x];
                    for (int i = 1; i <= reach - 1 && y - i >= 0; ++i) {
                        if (cell(y - i) != 0 || !IsTransparent(image(y - i))) break;
                        cell(y - i) = colour;
                    }
                }
                afterTransparent[x] = 0;
                nextRow[x] = y + 1;
            } else if (!afterTransparent[x] && y > 0) {
                const std::uint32_t above = cell(y - 1);
                const std::uint32_t colour = above != 0 ? above : ColourOf(image(y - 1));
                cells[x] = colour;
                int k = 1;
                while (k < reach && y + k < height && cell(y + k) == 0 &&
                       IsTransparent(image(y + k))) {
                    cell(y + k) = colour;
                    ++k;
                }
                nextRow[x] = y + k + 1; // the pixel after the stretch is not examined
                afterTransparent[x] = 1;
            } else {
                afterTransparent[x] = 1;
                nextRow[x] = y + 1;
            }
        }
    }
}

inline std::uint8_t AddSaturated(std::uint8_t a, std::uint8_t b) {
    const unsigned sum = unsigned{a} + unsigned{b};
    return static_cast<std::uint8_t>(sum > 255 ? 255 : sum);
}

} // namespace

int ExtendEdgeColours(ImageBuffer& image, int reach) {
    if (const int status = CheckRgbaBgra(image); status != kImageOk) return status;
    const int width = image.width;
    const int height = image.height;
    const auto bytes = CheckedImageBytes(width, height, 4);
    if (!bytes) return kImageNoWorkArea;
    WorkMemory storage = AllocateWorkMemory(*bytes);
    if (!storage) return kImageNoWorkArea;
    std::memset(storage.get(), 0, *bytes);
    std::uint32_t* spread = reinterpret_cast<std::uint32_t*>(storage.get());
    std::unique_ptr<int[]> nextRow(new (std::nothrow) int[static_cast<std::size_t>(width)]);
    std::unique_ptr<std::uint8_t[]> flags(new (std::nothrow)
                                              std::uint8_t[static_cast<std::size_t>(width)]);
    if (!nextRow || !flags) return kImageNoWorkArea;

    const std::size_t stride = static_cast<std::size_t>(width);
    for (int y = 0; y < height; ++y)
        SpreadRow(image.imageData + 4 * stride * y, spread + stride * y, width, reach);
    SpreadColumns(image.imageData, spread, width, height, reach, nextRow.get(), flags.get());

    std::uint8_t* p = image.imageData;
    const std::size_t n = image.pixelCount();
    for (std::size_t i = 0; i < n; ++i, p += 4) {
        const std::uint32_t s = spread[i];
        if (s == 0) continue;
        p[0] = AddSaturated(p[0], static_cast<std::uint8_t>(s));
        p[1] = AddSaturated(p[1], static_cast<std::uint8_t>(s >> 8));
        p[2] = AddSaturated(p[2], static_cast<std::uint8_t>(s >> 16));
    }
    return kImageOk;
}

} // namespace pelo
