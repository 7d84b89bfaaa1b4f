#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "image/Allocation.h"
#include "image/ImageBuffer.h"

namespace pelo {
namespace {

struct Px {
    std::uint8_t b, g, r, a;
    bool operator==(const Px&) const = default;
};
constexpr Px kRed{0, 0, 255, 255};
constexpr Px kClear{0, 0, 0, 0};

ImagePtr FromPixels(int w, int h, const std::vector<Px>& px) {
    auto img = AllocIpl(w, h);
    std::memcpy(img->imageData, px.data(), img->imageSize);
    return img;
}

std::vector<Px> Pixels(const ImageBuffer& img) {
    std::vector<Px> px(img.pixelCount());
    std::memcpy(px.data(), img.imageData, img.imageSize);
    return px;
}

TEST(ExtendEdgeColours, ReachesThreeToTheRightAndTwoToTheLeft) {
    auto right = FromPixels(6, 1, {kRed, kClear, kClear, kClear, kClear, kClear});
    ASSERT_EQ(ExtendEdgeColours(*right, 3), 0);
    const Px redClear{0, 0, 255, 0};
    EXPECT_EQ(Pixels(*right), (std::vector<Px>{kRed, redClear, redClear, redClear, kClear, kClear}));

    auto left = FromPixels(6, 1, {kClear, kClear, kClear, kClear, kClear, kRed});
    ASSERT_EQ(ExtendEdgeColours(*left, 3), 0);
    EXPECT_EQ(Pixels(*left), (std::vector<Px>{kClear, kClear, kClear, redClear, redClear, kRed}));
}

TEST(ExtendEdgeColours, GapBetweenTwoColoursTakesTheLeftOne) {
    const Px blue{255, 0, 0, 255};
    auto img = FromPixels(3, 1, {kRed, kClear, blue});
    ASSERT_EQ(ExtendEdgeColours(*img, 3), 0);
    EXPECT_EQ(Pixels(*img)[1], (Px{0, 0, 255, 0}));
}

TEST(ExtendEdgeColours, SpreadAddsWithSaturation) {
    const Px whiteClear{255, 255, 255, 0};
    const Px grey{100, 100, 100, 255};
    const Px tinted{10, 20, 30, 0};
    auto img = FromPixels(3, 1, {grey, whiteClear, tinted});
    ASSERT_EQ(ExtendEdgeColours(*img, 3), 0);
    const auto px = Pixels(*img);
    EXPECT_EQ(px[1], whiteClear);
    EXPECT_EQ(px[2], (Px{110, 120, 130, 0}));
}

TEST(ExtendEdgeColours, ColumnsSpreadDownwardsAndUpwards) {
    // One column: 4 clear, red, 4 clear.
    std::vector<Px> px(9, kClear);
    px[4] = kRed;
    auto img = FromPixels(1, 9, px);
    ASSERT_EQ(ExtendEdgeColours(*img, 3), 0);
    const Px redClear{0, 0, 255, 0};
    EXPECT_EQ(Pixels(*img), (std::vector<Px>{kClear, kClear, redClear, redClear, kRed, redClear,
                                             redClear, redClear, kClear}));
}

TEST(ExtendEdgeColours, VerticalPassCarriesHorizontalSpread) {
    // Row 0: red then clear; row 1: all clear. The horizontal spread at (1,0)
    // counts as colour for the column below it.
    auto img = FromPixels(2, 2, {kRed, kClear, kClear, kClear});
    ASSERT_EQ(ExtendEdgeColours(*img, 3), 0);
    const Px redClear{0, 0, 255, 0};
    EXPECT_EQ(Pixels(*img), (std::vector<Px>{kRed, redClear, redClear, redClear}));
}

TEST(ExtendEdgeColours, PixelAfterAStretchIsNotExamined) {
    // red, clear, green(opaque), clear, clear: the stretch written from red is
    // [1]; column 2 is skipped, so green never spreads to its right.
    const Px green{0, 255, 0, 255};
    auto img = FromPixels(5, 1, {kRed, kClear, green, kClear, kClear});
    ASSERT_EQ(ExtendEdgeColours(*img, 3), 0);
    const auto px = Pixels(*img);
    EXPECT_EQ(px[1], (Px{0, 0, 255, 0}));
    EXPECT_EQ(px[3], kClear);
    EXPECT_EQ(px[4], kClear);
}

TEST(ExtendEdgeColours, AlphaNeverChanges) {
    std::vector<Px> px;
    for (int i = 0; i < 64; ++i)
        px.push_back(Px{std::uint8_t(i * 3), std::uint8_t(i * 5), std::uint8_t(i * 7),
                        std::uint8_t((i % 3) ? 0 : i)});
    auto img = FromPixels(8, 8, px);
    ASSERT_EQ(ExtendEdgeColours(*img, 3), 0);
    const auto out = Pixels(*img);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(out[i].a, px[i].a);
}

TEST(ExtendEdgeColours, RefusalsAndMissingWorkAreaLeaveTheImage) {
    auto img = FromPixels(2, 1, {kRed, kClear});
    std::memcpy(img->channelSeq, "ARGB", 4);
    EXPECT_EQ(ExtendEdgeColours(*img, 3), -2);
    std::memcpy(img->channelSeq, "BGRA", 4);

    const std::size_t saved = MaxImageBytes();
    SetMaxImageBytes(4);
    EXPECT_EQ(ExtendEdgeColours(*img, 3), kImageNoWorkArea);
    SetMaxImageBytes(saved);
    EXPECT_EQ(Pixels(*img), (std::vector<Px>{kRed, kClear}));
}

} // namespace
} // namespace pelo
