#include "image/PackedDib.h"

#include <cstring>
#include <gtest/gtest.h>

namespace pelo {
namespace {

// A block of the given bit count with rows filled by fill(x, yBottomUp, bytes).
template <typename Fill> PackedDib MakeDib(int w, int h, int bits, Fill fill) {
    PackedDib dib;
    const std::size_t stride = *DibStride(w, bits);
    const std::size_t table = bits == 8 ? 1024 : 0;
    EXPECT_TRUE(dib.Reserve(kDibHeaderSize + table + stride * h));
    BitmapInfoHeader hdr;
    hdr.biWidth = w;
    hdr.biHeight = h;
    hdr.biBitCount = static_cast<std::uint16_t>(bits);
    hdr.biSizeImage = static_cast<std::uint32_t>(stride * h);
    dib.header() = hdr;
    std::memset(dib.pixels(), 0xEE, stride * h);
    for (int y = 0; y < h; ++y)
        fill(dib.pixels() + stride * y, y);
    return dib;
}

TEST(DibStride, RoundsRowsUpToFourBytes) {
    EXPECT_EQ(*DibStride(1, 8), 4u);
    EXPECT_EQ(*DibStride(5, 8), 8u);
    EXPECT_EQ(*DibStride(3, 24), 12u);
    EXPECT_EQ(*DibStride(3, 16), 8u);
    EXPECT_EQ(*DibStride(7, 32), 28u);
}

TEST(ConvertDibToImage, BottomUpRowsBecomeTopDown24Bit) {
    // 3 x 2, 24 bits, stride 12 (3 pad bytes). Bottom row blue, top row red.
    auto dib = MakeDib(3, 2, 24, [](std::uint8_t* row, int y) {
        for (int x = 0; x < 3; ++x) {
            row[3 * x + 0] = y == 0 ? 200 : 0;
            row[3 * x + 1] = static_cast<std::uint8_t>(x);
            row[3 * x + 2] = y == 1 ? 100 : 0;
        }
    });
    auto img = ConvertDibToImage(dib);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 3);
    EXPECT_EQ(img->height, 2);
    EXPECT_EQ(img->pixel(2, 0)[2], 100); // top row is the last stored row
    EXPECT_EQ(img->pixel(2, 0)[1], 2);
    EXPECT_EQ(img->pixel(0, 1)[0], 200);
}

TEST(ConvertDibToImage, EightBitGoesThroughTheColourTable) {
    auto dib = MakeDib(2, 1, 8, [](std::uint8_t* row, int) {
        row[0] = 0;
        row[1] = 255;
    });
    std::uint8_t* table = dib.colourTable();
    std::memset(table, 0, 1024);
    table[0] = 1, table[1] = 2, table[2] = 3;
    table[4 * 255 + 0] = 9, table[4 * 255 + 1] = 8, table[4 * 255 + 2] = 7;
    auto img = ConvertDibToImage(dib);
    ASSERT_TRUE(img);
    EXPECT_EQ(std::memcmp(img->pixel(0, 0), "\x01\x02\x03", 3), 0);
    EXPECT_EQ(std::memcmp(img->pixel(1, 0), "\x09\x08\x07", 3), 0);
}

TEST(ConvertDibToImage, SixteenBitFiveFiveFiveExpandsToFullRange) {
    auto dib = MakeDib(2, 1, 16, [](std::uint8_t* row, int) {
        const std::uint16_t a = (31 << 10) | (0 << 5) | 16; // red max, blue 16
        const std::uint16_t b = (1 << 5);                   // green 1
        row[0] = a & 0xFF, row[1] = a >> 8, row[2] = b & 0xFF, row[3] = b >> 8;
    });
    auto img = ConvertDibToImage(dib);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->pixel(0, 0)[2], 255);
    EXPECT_EQ(img->pixel(0, 0)[0], (16 << 3) | (16 >> 2));
    EXPECT_EQ(img->pixel(1, 0)[1], 8);
}

TEST(ConvertDibToImage, ThirtyTwoBitKeepsAlpha) {
    auto dib = MakeDib(1, 1, 32, [](std::uint8_t* row, int) {
        const std::uint8_t px[] = {1, 2, 3, 77};
        std::memcpy(row, px, 4);
    });
    auto img = ConvertDibToImage(dib);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->pixel(0, 0)[3], 77);
}

TEST(ConvertDibToImage, RefusesInconsistentBlocks) {
    auto dib = MakeDib(4, 4, 32, [](std::uint8_t*, int) {});
    dib.header().biHeight = -4;
    EXPECT_FALSE(ConvertDibToImage(dib));
    dib.header().biHeight = 0;
    EXPECT_FALSE(ConvertDibToImage(dib));
    dib.header().biHeight = 5; // one row more than the block holds
    EXPECT_FALSE(ConvertDibToImage(dib));
    dib.header().biHeight = 4;
    dib.header().biBitCount = 4;
    EXPECT_FALSE(ConvertDibToImage(dib));
    PackedDib empty;
    EXPECT_FALSE(ConvertDibToImage(empty));
}

TEST(PackedDib, ReusesABlockThatIsLargeEnough) {
    PackedDib dib;
    ASSERT_TRUE(PrepareDib32(dib, 8, 8));
    const std::uint8_t* before = dib.data();
    ASSERT_TRUE(PrepareDib32(dib, 4, 4));
    EXPECT_EQ(dib.data(), before);
    EXPECT_EQ(dib.header().biWidth, 4);
    EXPECT_EQ(dib.header().biSizeImage, 64u);
    ASSERT_TRUE(PrepareDib32(dib, 64, 64));
    EXPECT_GE(dib.capacity(), kDibHeaderSize + 64 * 64 * 4);
}

TEST(PackedDib, ImageRoundTripsThroughTheBlock) {
    auto img = AllocIpl(3, 2);
    for (std::size_t i = 0; i < img->imageSize; ++i)
        img->imageData[i] = static_cast<std::uint8_t>(i * 7);
    PackedDib dib;
    ASSERT_TRUE(ConvertImageToDib(*img, dib));
    EXPECT_EQ(std::memcmp(dib.pixels(), img->pixel(0, 1), 12), 0); // bottom row first
    auto back = ConvertDibToImage(dib);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::memcmp(back->imageData, img->imageData, img->imageSize), 0);
}

} // namespace
} // namespace pelo
