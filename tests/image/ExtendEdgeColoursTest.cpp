#include "image/Allocation.h"
#include "image/ImageBuffer.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

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
    EXPECT_EQ(Pixels(*right),
              (std::vector<Px>{kRed, redClear, redClear, redClear, kClear, kClear}));

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
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(out[i].a, px[i].a);
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

// The spreading written out plainly from its description: rows one after the
// other, then columns one after the other.
std::vector<Px> PlainSpread(int w, int h, const std::vector<Px>& img, int reach) {
    auto word = [](const Px& p) {
        return std::uint32_t(p.b) | std::uint32_t(p.g) << 8 | std::uint32_t(p.r) << 16;
    };
    std::vector<std::uint32_t> sp(img.size(), 0);
    auto at = [&](int x, int y) { return static_cast<std::size_t>(y) * w + x; };
    for (int y = 0; y < h; ++y) {
        bool flag = true;
        for (int x = 0; x < w;) {
            if (img[at(x, y)].a != 0) {
                if (flag)
                    for (int i = 1; i <= reach - 1 && x - i >= 0 && img[at(x - i, y)].a == 0; ++i)
                        sp[at(x - i, y)] = word(img[at(x, y)]);
                flag = false;
                ++x;
            } else if (!flag) {
                const std::uint32_t c = word(img[at(x - 1, y)]);
                int k = 0;
                do {
                    sp[at(x + k, y)] = c;
                    ++k;
                } while (k < reach && x + k < w && img[at(x + k, y)].a == 0);
                x += k + 1;
                flag = true;
            } else {
                ++x;
            }
        }
    }
    for (int x = 0; x < w; ++x) {
        bool flag = true;
        for (int y = 0; y < h;) {
            const bool opaque = img[at(x, y)].a != 0;
            if (opaque || sp[at(x, y)] != 0) {
                if (flag) {
                    const std::uint32_t c = opaque ? word(img[at(x, y)]) : sp[at(x, y)];
                    for (int i = 1; i <= reach - 1 && y - i >= 0; ++i) {
                        if (sp[at(x, y - i)] != 0 || img[at(x, y - i)].a != 0) break;
                        sp[at(x, y - i)] = c;
                    }
                }
                flag = false;
                ++y;
            } else if (!flag && y > 0) {
                const std::uint32_t c =
                    sp[at(x, y - 1)] ? sp[at(x, y - 1)] : word(img[at(x, y - 1)]);
                int k = 0;
                do {
                    sp[at(x, y + k)] = c;
                    ++k;
                } while (k < reach && y + k < h && sp[at(x, y + k)] == 0 &&
                         img[at(x, y + k)].a == 0);
                y += k + 1;
                flag = true;
            } else {
                flag = true;
                ++y;
            }
        }
    }
    std::vector<Px> out = img;
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto add = [](std::uint8_t a, unsigned b) { return std::uint8_t(std::min(255u, a + b)); };
        out[i].b = add(out[i].b, sp[i] & 255);
        out[i].g = add(out[i].g, (sp[i] >> 8) & 255);
        out[i].r = add(out[i].r, (sp[i] >> 16) & 255);
    }
    return out;
}

TEST(ExtendEdgeColours, SameAsPlainRowThenColumnSpreading) {
    std::uint32_t state = 12345;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (int round = 0; round < 60; ++round) {
        const int w = 1 + int(next() % 40), h = 1 + int(next() % 40);
        const int density = 1 + int(next() % 6);
        std::vector<Px> px(static_cast<std::size_t>(w) * h);
        for (auto& p : px) {
            const std::uint32_t v = next();
            p = Px{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                   std::uint8_t(next() % 8 < unsigned(density) ? 1 + (v >> 24) % 255 : 0)};
            if (next() % 3 == 0 && p.a == 0) p.b = p.g = p.r = 0;
        }
        for (int reach : {1, 2, 3, 5}) {
            auto img = FromPixels(w, h, px);
            ASSERT_EQ(ExtendEdgeColours(*img, reach), 0);
            EXPECT_EQ(Pixels(*img), PlainSpread(w, h, px, reach))
                << "round " << round << " " << w << "x" << h << " reach " << reach;
        }
    }
}

// Stripes of columns on several threads: rows whose scan state at a stripe
// border depends on the whole row (alternating pixels, no point to resume
// from), long stretches and lone pixels across the borders.
TEST(ExtendEdgeColours, StripesOnThreadsMatchThePlainSpreading) {
    std::uint32_t state = 777;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const int w = 520, h = 24;
    for (int round = 0; round < 4; ++round) {
        std::vector<Px> px(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t v = next();
                Px& p = px[static_cast<std::size_t>(y) * w + x];
                p = Px{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), 0};
                bool solid = next() % 8 < unsigned(1 + round);
                if (y % 6 == 1) solid = x % 2 == 0;          // no resume point in the row
                if (y % 6 == 3) solid = x % 5 == 0;          // lone pixels, long gaps
                if (y % 6 == 5) solid = (x / 3 + round) % 2; // runs of three
                if (solid) p.a = std::uint8_t(1 + v % 255);
            }
        }
        for (int reach : {1, 2, 3, 5}) {
            const auto want = PlainSpread(w, h, px, reach);
            for (unsigned threads : {1u, 2u, 3u, 7u}) {
                auto img = FromPixels(w, h, px);
                ASSERT_EQ(ExtendEdgeColours(*img, reach, threads), 0);
                EXPECT_EQ(Pixels(*img), want)
                    << "round " << round << " reach " << reach << " threads " << threads;
            }
        }
    }
}

} // namespace
} // namespace pelo
