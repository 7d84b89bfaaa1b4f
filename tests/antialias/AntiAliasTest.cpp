// The passes on small hand-made pictures: what is detected, how far a step
// is measured, the weights of the fade and the order of the writes. Expected
// bytes are worked out here from the rules.
#include "image/AntiAlias.h"

#include "TestPictures.h"
#include "image/Allocation.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pelo {
namespace {

using testpics::FromMap;
using testpics::ToImage;
using testpics::ToPicture;

ConversionSettings WithThreshold(std::uint32_t f) {
    ConversionSettings s;
    s.detectThreshold = f;
    return s;
}

std::vector<std::uint8_t> Alphas(const ImageBuffer& img) {
    std::vector<std::uint8_t> a;
    for (std::size_t i = 0; i < img.pixelCount(); ++i)
        a.push_back(img.imageData[4 * i + 3]);
    return a;
}

std::vector<std::uint8_t> Processed(const reference::Picture& p, const ConversionSettings& s,
                                    bool alphaPass) {
    auto img = ToImage(p);
    EXPECT_EQ(AntiAliasImage(*img, s, alphaPass), 0);
    return ToPicture(*img).bytes;
}

// Alpha of an opaque source blended into a transparent cell, and back.
int Over(int w) {
    return (255 * w + 128) >> 8;
}
int Under(int w) {
    return (255 * (256 - w) + 128) >> 8;
}

// The fade rule for a run of n (before any cut): h = (n + 1) / 2 cells.
const std::vector<std::vector<int>> kWeights = {
    {}, {112}, {112, 56}, {112, 75, 38}, {128, 96, 64, 32}, {128, 103, 77, 52, 26}};

// Four orientations of one step: the stretch runs right, left, down or up
// from the block. Builds the map and the cells that should change.
struct Step {
    std::vector<std::string> map;
    std::vector<std::pair<int, int>> stretch; // (x, y) from the block outwards
};

Step MakeStep(int n, int orientation) {
    // Horizontal base: row 0 "####" then n + 1 transparent cells, row 1 opaque.
    const int len = 4 + n + 1;
    std::vector<std::string> h = {std::string(4, '#') + std::string(n + 1, '.'),
                                  std::string(len, '#')};
    Step s;
    for (int k = 0; k <= n; ++k)
        s.stretch.push_back({4 + k, 0});
    if (orientation == 1) { // mirrored: stretch runs left
        for (auto& row : h)
            std::reverse(row.begin(), row.end());
        for (auto& c : s.stretch)
            c.first = len - 1 - c.first;
    }
    if (orientation >= 2) { // transposed: column 1 holds the stretch
        std::vector<std::string> v(len, std::string(2, '#'));
        for (int y = 0; y < len; ++y) {
            v[y][0] = h[1][y];
            v[y][1] = h[0][y];
        }
        h = v;
        for (auto& c : s.stretch)
            c = {1, c.first};
        if (orientation == 3) { // stretch runs up
            std::reverse(h.begin(), h.end());
            for (auto& c : s.stretch)
                c.second = len - 1 - c.second;
        }
    }
    s.map = h;
    return s;
}

TEST(AntiAliasDetection, UniformAndSameClassPicturesAreUnchanged) {
    reference::Picture flat = testpics::BlockyPicture(9, 7, 1, 1, 3);
    EXPECT_EQ(Processed(flat, WithThreshold(1), true), flat.bytes);
    // Every sample in 4..7 lies in one class for F = 4.
    testpics::Rng rng{5};
    reference::Picture noisy = testpics::NoisePicture(12, 9, 3);
    for (auto& b : noisy.bytes)
        b = static_cast<std::uint8_t>(4 + rng.below(4));
    EXPECT_EQ(Processed(noisy, WithThreshold(4), true), noisy.bytes);
    EXPECT_NE(Processed(noisy, WithThreshold(1), true), noisy.bytes);
}

TEST(AntiAliasDetection, PicturesWithoutABlockAreUnchanged) {
    for (auto map : {std::vector<std::string>{"#.#..#"}, std::vector<std::string>{"#", ".", "#"}}) {
        const auto p = FromMap(map);
        EXPECT_EQ(Processed(p, WithThreshold(1), true), p.bytes);
    }
}

TEST(AntiAliasDetection, OpaqueBlackBesideTransparentBlackIsOnlyAnAlphaEdge) {
    const auto p = FromMap({"##..", "###.", "####"});
    EXPECT_EQ(Processed(p, WithThreshold(4), false), p.bytes) << "colours are all black";
    const auto both = Processed(p, WithThreshold(4), true);
    EXPECT_NE(both, p.bytes);
    for (std::size_t i = 0; i < both.size(); ++i) {
        if (i % 4 != 3) {
            EXPECT_EQ(both[i], 0) << "colour byte " << i;
        }
    }
}

TEST(AntiAliasSteps, CheckerboardGetsFourBlendsOfWeight64) {
    // Alpha: A = D transparent, B = C opaque.
    auto img = ToImage(FromMap({".#", "#."}));
    ASSERT_EQ(AntiAliasImage(*img, WithThreshold(1), true), 0);
    // A into B and D into C (falling), then B into A and C into D (rising),
    // all from the values before the pass.
    EXPECT_EQ(Alphas(*img),
              (std::vector<std::uint8_t>{std::uint8_t(Over(64)), std::uint8_t(Under(64)),
                                         std::uint8_t(Under(64)), std::uint8_t(Over(64))}));
    EXPECT_EQ(Over(64), 64);
    EXPECT_EQ(Under(64), 191);
}

TEST(AntiAliasSteps, ColourCheckerboardBlendsEachPixelsHorizontalNeighbour) {
    // A = D black, B = C white, all opaque, F = 1.
    reference::Picture p{
        2, 2, {0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0, 0, 0, 255}};
    const auto out = Processed(p, WithThreshold(1), false);
    const testpics::Rgb black{0, 0, 0}, white{255, 255, 255};
    const double yWhite = testpics::Y(white);
    // Black cells take white with weight 64 shifted up, white cells take
    // black with weight 64 shifted down (gamma 0.7, no lifts for greys).
    const auto intoBlack = testpics::Mix(white, black, 64, 64 + yWhite / 10, 1, 1);
    const auto intoWhite = testpics::Mix(black, white, 64, 64 - yWhite / 10, 1, 1);
    const std::vector<std::uint8_t> want = {
        std::uint8_t(intoBlack.b), std::uint8_t(intoBlack.g), std::uint8_t(intoBlack.r), 255,
        std::uint8_t(intoWhite.b), std::uint8_t(intoWhite.g), std::uint8_t(intoWhite.r), 255,
        std::uint8_t(intoWhite.b), std::uint8_t(intoWhite.g), std::uint8_t(intoWhite.r), 255,
        std::uint8_t(intoBlack.b), std::uint8_t(intoBlack.g), std::uint8_t(intoBlack.r), 255};
    EXPECT_EQ(out, want);
}

TEST(AntiAliasSteps, FadeWeightsForRunsOneToTenInEveryDirection) {
    for (int orientation = 0; orientation < 4; ++orientation) {
        for (int n = 0; n <= 10; ++n) {
            const Step step = MakeStep(n, orientation);
            const auto p = FromMap(step.map);
            auto img = ToImage(p);
            ASSERT_EQ(AntiAliasImage(*img, WithThreshold(1), true), 0);
            std::vector<int> want(step.stretch.size(), 0);
            if (n == 0)
                want[0] = Over(64); // only the weight-64 blend of the row/column partner
            else
                for (std::size_t k = 0; k < kWeights[(n + 1) / 2].size(); ++k)
                    want[k] = Over(kWeights[(n + 1) / 2][k]);
            for (std::size_t k = 0; k < step.stretch.size(); ++k) {
                const auto [x, y] = step.stretch[k];
                EXPECT_EQ(img->pixel(x, y)[3], want[k])
                    << "orientation " << orientation << " run " << n << " cell " << k;
            }
            // Nothing else changes.
            int changed = 0;
            for (std::size_t i = 0; i < img->pixelCount(); ++i)
                changed += img->imageData[4 * i + 3] != p.bytes[4 * i + 3];
            EXPECT_EQ(changed, n == 0 ? 1 : (n + 1) / 2) << "orientation " << orientation;
        }
    }
}

TEST(AntiAliasSteps, RunsEndAtAClassBoundary) {
    // Alpha pass, F = 4: M's line (row 1) has alpha 4 (class 1); the cells
    // across the edge are 0. A 7 in M's line continues the run, an 8 ends it.
    auto picture = [](int third) {
        reference::Picture p{10, 2, std::vector<std::uint8_t>(80, 0)};
        for (int x = 0; x < 10; ++x)
            p.bytes[4 * (10 + x) + 3] = 4;
        for (int x = 0; x < 4; ++x)
            p.bytes[4 * x + 3] = 4;
        p.bytes[4 * (10 + 7) + 3] = static_cast<std::uint8_t>(third);
        return p;
    };
    auto alphaRow0 = [](const std::vector<std::uint8_t>& b) {
        std::vector<int> a;
        for (int x = 0; x < 10; ++x)
            a.push_back(b[4 * x + 3]);
        return a;
    };
    auto fade = [](int w) { return (4 * w + 128) >> 8; };
    // Run 5 (columns 5..9) gives h = 3; run 2 (columns 5, 6) gives h = 1.
    EXPECT_EQ(alphaRow0(Processed(picture(7), WithThreshold(4), true)),
              (std::vector<int>{4, 4, 4, 4, fade(112), fade(75), fade(38), 0, 0, 0}));
    EXPECT_EQ(alphaRow0(Processed(picture(8), WithThreshold(4), true)),
              (std::vector<int>{4, 4, 4, 4, fade(112), 0, 0, 0, 0, 0}));
}

TEST(AntiAliasSteps, LaterBlocksOverwriteEarlierOnes) {
    // Alpha: row 0 = 255, 0, 200; row 1 = 255, 255, 255; F = 64 puts 200 and
    // 255 in one class. Block 0 writes the hole from 255 (weight 64), block 1
    // then from 200 (weight 64): the second value stays.
    reference::Picture p{3, 2, std::vector<std::uint8_t>(24, 0)};
    const int alpha[6] = {255, 0, 200, 255, 255, 255};
    for (int i = 0; i < 6; ++i)
        p.bytes[4 * i + 3] = static_cast<std::uint8_t>(alpha[i]);
    const auto out = Processed(p, WithThreshold(64), true);
    EXPECT_EQ(out[4 + 3], (200 * 64 + 128) >> 8);
    EXPECT_NE((200 * 64 + 128) >> 8, Over(64));
}

TEST(AntiAliasSteps, WithinADiagonalTheFadeOverwritesTheWeight64Blend) {
    // Up (weight 64) writes the partner first; right then writes it with 112.
    const auto out = Processed(FromMap({"####..", "######"}), WithThreshold(1), true);
    EXPECT_EQ(out[4 * 4 + 3], Over(112));
}

TEST(AntiAliasSteps, WidthsBeyond16BitsWorkLikeSmallOnes) {
    // Row 0 opaque up to column 32999, then 9 transparent cells; row 1 opaque.
    const int w = 33009;
    reference::Picture p{w, 2, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * 8, 0)};
    for (int x = 0; x < w; ++x) {
        p.bytes[4 * (static_cast<std::size_t>(w) + x) + 3] = 255;
        if (x < 33000) p.bytes[4 * static_cast<std::size_t>(x) + 3] = 255;
    }
    const auto out = Processed(p, WithThreshold(1), true);
    // Run 8 to the right: h = 4, weights 128, 96, 64, 32.
    const int want[9] = {Over(128), Over(96), Over(64), Over(32), 0, 0, 0, 0, 0};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(out[4 * static_cast<std::size_t>(33000 + k) + 3], want[k]) << k;
}

TEST(AntiAliasThreshold, EdgeValues) {
    const auto p = FromMap({"##..#.", "#.##..", "###..#", ".#.###"});
    const auto atOne = Processed(p, WithThreshold(1), true);
    ASSERT_NE(atOne, p.bytes);
    for (std::uint32_t off : {0u, 40000u, 32768u, 65535u, 65536u, 256u, 300u, 32767u})
        EXPECT_EQ(Processed(p, WithThreshold(off), true), p.bytes) << off;
    EXPECT_EQ(Processed(p, WithThreshold(65537), true), atOne) << "low 16 bits are 1";
    EXPECT_EQ(Processed(p, WithThreshold(255), true), atOne) << "0 and 255 are classes 0 and 1";
    EXPECT_EQ(Processed(p, WithThreshold(65536 + 4), true), Processed(p, WithThreshold(4), true));
}

TEST(AntiAliasSettings, GammaZeroOrNegativeActsAs07AndHueSettingsChangeNothing) {
    const auto p = testpics::BlockyPicture(40, 30, 9, 6, 4);
    ConversionSettings s;
    const auto base = Processed(p, s, true);
    ASSERT_NE(base, p.bytes);
    for (double g : {0.0, -1.0, -0.0}) {
        ConversionSettings t = s;
        t.gamma = g;
        EXPECT_EQ(Processed(p, t, true), base) << g;
    }
    ConversionSettings t = s;
    t.gamma = 0.4;
    EXPECT_NE(Processed(p, t, true), base);
    t = s;
    t.hueInfluence = 7.5;
    t.hueThreshold = 0;
    EXPECT_EQ(Processed(p, t, true), base);
    t.hueThreshold = 0xFFFFFFFFu;
    EXPECT_EQ(Processed(p, t, true), base);
}

TEST(AntiAliasFailure, NoWorkAreaLeavesThePictureUnchanged) {
    const auto p = FromMap({"##..", "#..#", "..##"});
    auto img = ToImage(p);
    const std::size_t before = MaxImageBytes();
    SetMaxImageBytes(img->imageSize - 1);
    testing::internal::CaptureStderr();
    const int status = AntiAliasImage(*img, WithThreshold(1), true);
    const std::string err = testing::internal::GetCapturedStderr();
    SetMaxImageBytes(before);
    EXPECT_EQ(status, kImageNoWorkArea);
    EXPECT_EQ(ToPicture(*img).bytes, p.bytes);
    EXPECT_EQ(err, "作業領域の確保に失敗しました\n作業領域の確保に失敗しました\n")
        << "one line per pass";
}

TEST(AntiAliasFailure, DisabledThresholdStillNeedsItsWorkArea) {
    auto img = ToImage(FromMap({"#.", ".#"}));
    const std::size_t before = MaxImageBytes();
    SetMaxImageBytes(4);
    testing::internal::CaptureStderr();
    EXPECT_EQ(AntiAliasImage(*img, WithThreshold(0), false), kImageNoWorkArea);
    testing::internal::GetCapturedStderr();
    SetMaxImageBytes(before);
    EXPECT_EQ(AntiAliasImage(*img, WithThreshold(0), false), 0);
}

} // namespace
} // namespace pelo
