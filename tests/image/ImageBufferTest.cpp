#include "image/ImageBuffer.h"

#include "image/Allocation.h"

#include <cstring>
#include <gtest/gtest.h>

namespace pelo {
namespace {

ImagePtr Filled(int w, int h, std::uint8_t value) {
    auto img = AllocIpl(w, h);
    std::memset(img->imageData, value, img->imageSize);
    return img;
}

TEST(AllocIpl, CreatesTheFixedHeader) {
    auto img = AllocIpl(3, 2, 8, 5);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->nChannels, 4);
    EXPECT_EQ(img->alphaChannel, 4);
    EXPECT_EQ(img->depth, 8);
    EXPECT_EQ(std::memcmp(img->colorModel, "RGBA", 4), 0);
    EXPECT_EQ(std::memcmp(img->channelSeq, "BGRA", 4), 0);
    EXPECT_EQ(img->dataOrder, 0);
    EXPECT_EQ(img->origin, 0); // unknown origins become 0
    EXPECT_EQ(img->imageSize, 24u);
    EXPECT_EQ(img->pixel(1, 1) - img->imageData, 4 * (1 + 1 * 3));
}

TEST(AllocIpl, RefusesEmptyAndOversizedPictures) {
    EXPECT_FALSE(AllocIpl(0, 5));
    EXPECT_EQ(LastImageDiagnostic(), "AllocIpl:不正なサイズが指定されました。width=0 height=5");
    EXPECT_FALSE(AllocIpl(5, -1));
    EXPECT_FALSE(AllocIpl(0x7fffffff, 0x7fffffff));
}

TEST(AllocIpl, StorageThatCannotBeHadFailsLikeARefusal) {
    const std::size_t saved = MaxImageBytes();
    SetMaxImageBytes(4 * 100);
    EXPECT_TRUE(AllocIpl(10, 10));
    EXPECT_FALSE(AllocIpl(10, 11));
    SetMaxImageBytes(saved);
}

TEST(CheckedImageBytes, GuardsEveryMultiplication) {
    EXPECT_EQ(CheckedImageBytes(3, 5, 4).value(), 60u);
    EXPECT_FALSE(CheckedImageBytes(-1, 5, 4));
    EXPECT_FALSE(CheckedImageBytes(std::int64_t{1} << 40, std::int64_t{1} << 40, 4));
    EXPECT_FALSE(CheckedImageBytes(std::int64_t{1} << 62, 1, 4));
}

TEST(FillAlpha, SetsOnlyTheFourthByte) {
    auto img = Filled(4, 3, 7);
    FillAlpha(*img, 200);
    for (std::size_t i = 0; i < img->pixelCount(); ++i) {
        EXPECT_EQ(img->imageData[4 * i + 0], 7);
        EXPECT_EQ(img->imageData[4 * i + 2], 7);
        EXPECT_EQ(img->imageData[4 * i + 3], 200);
    }
}

TEST(FillAlpha, LeavesBuffersWithoutAlphaUnchanged) {
    auto img = Filled(2, 2, 9);
    img->nChannels = 3;
    FillAlpha(*img, 0);
    EXPECT_EQ(img->imageData[3], 9);
    EXPECT_NE(LastImageDiagnostic().find("nCannels=3"), std::string::npos);
}

TEST(ClearImage, ZeroesEveryByte) {
    auto img = Filled(5, 2, 0xAB);
    ClearImage(*img);
    for (std::size_t i = 0; i < img->imageSize; ++i)
        ASSERT_EQ(img->imageData[i], 0);
}

TEST(MakeColourTransparent, ExactWhiteOnly) {
    auto img = AllocIpl(3, 1);
    const std::uint8_t px[] = {255, 255, 255, 255, 255, 255, 254, 255, 255, 255, 255, 17};
    std::memcpy(img->imageData, px, sizeof px);
    EXPECT_EQ(MakeColourTransparent(*img, 255, 255, 255), 0);
    const std::uint8_t want[] = {255, 255, 255, 0, 255, 255, 254, 255, 255, 255, 255, 0};
    EXPECT_EQ(std::memcmp(img->imageData, want, sizeof want), 0);
}

TEST(MakeColourTransparent, RefusesForeignBuffers) {
    auto img = Filled(1, 1, 255);
    std::memcpy(img->colorModel, "RGBX", 4);
    EXPECT_EQ(MakeColourTransparent(*img, 255, 255, 255), -1);
    std::memcpy(img->colorModel, "RGBA", 4);
    std::memcpy(img->channelSeq, "RGBA", 4);
    EXPECT_EQ(MakeColourTransparent(*img, 255, 255, 255), -2);
    std::memcpy(img->channelSeq, "BGRA", 4);
    img->imageData = nullptr;
    EXPECT_EQ(MakeColourTransparent(*img, 255, 255, 255), -3);
    img->imageData = img->storage.get();
    EXPECT_EQ(img->imageData[3], 255);
}

TEST(CopyAlphaRect, CopiesOnlyThePartInsideBothImages) {
    auto src = Filled(4, 4, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src->pixel(x, y)[3] = static_cast<std::uint8_t>(10 * y + x + 1);
    auto dst = Filled(3, 3, 0x55);
    CopyAlphaRect(*src, *dst, 1, 1, 1, 2, 4, 4); // reaches past the destination
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            const std::uint8_t want =
                (x >= 1 && y == 2) ? static_cast<std::uint8_t>(10 * 1 + (x - 1 + 1) + 1) : 0x55;
            EXPECT_EQ(dst->pixel(x, y)[3], want) << x << "," << y;
            EXPECT_EQ(dst->pixel(x, y)[0], 0x55);
        }
    }
}

TEST(CopyAlphaRect, NegativeOrOutsideArgumentsDoNothing) {
    auto src = Filled(2, 2, 1);
    auto dst = Filled(2, 2, 9);
    CopyAlphaRect(*src, *dst, -1, 0, 0, 0, 2, 2);
    CopyAlphaRect(*src, *dst, 0, 0, 3, 0, 2, 2);
    CopyAlphaRect(*src, *dst, 0, 0, 0, 0, 2, -2);
    CopyAlphaRect(*src, *dst, 2, 2, 0, 0, 2, 2); // at the edge: clipped to nothing
    for (std::size_t i = 0; i < dst->imageSize; ++i)
        ASSERT_EQ(dst->imageData[i], 9);
}

} // namespace
} // namespace pelo
