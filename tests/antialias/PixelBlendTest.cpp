// The two blends and the hue conversion, each expected value worked out in
// the test from the stated arithmetic.
#include "image/PixelBlend.h"

#include "TestPictures.h"

#include <cmath>
#include <gtest/gtest.h>

namespace pelo {
namespace {

using testpics::Mix;
using testpics::Mixed;
using testpics::Rgb;
using testpics::Y;

struct Out {
    bool wrote;
    int r, g, b, a;
};
Out Blend(Rgb s, Rgb t, int w, const ColourBlendSettings& settings, std::uint8_t tAlpha = 255) {
    const std::uint8_t sp[4] = {std::uint8_t(s.b), std::uint8_t(s.g), std::uint8_t(s.r), 255};
    const std::uint8_t tp[4] = {std::uint8_t(t.b), std::uint8_t(t.g), std::uint8_t(t.r), tAlpha};
    std::uint8_t dst[4] = {11, 22, 33, 44}; // sentinel
    const bool wrote = BlendColour(sp, tp, dst, w, settings);
    return {wrote, dst[2], dst[1], dst[0], dst[3]};
}

void ExpectMix(const Out& got, const Mixed& want) {
    EXPECT_TRUE(got.wrote);
    EXPECT_EQ(got.r, want.r);
    EXPECT_EQ(got.g, want.g);
    EXPECT_EQ(got.b, want.b);
    EXPECT_EQ(got.a, 44) << "alpha is never written by the colour blend";
}

const ColourBlendSettings kDefaults{};
constexpr Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0}, kPurple{255, 0, 255},
    kBlue{0, 0, 255}, kGreen{0, 255, 0}, kGrey{128, 128, 128};

TEST(HueSaturation, ScaleExamples) {
    const auto red = ToHueSaturation(255, 0, 0, Y(kRed));
    EXPECT_EQ(red.hue, 0.0);
    EXPECT_EQ(red.saturation, 255.5);
    const auto purple = ToHueSaturation(255, 0, 255, Y(kPurple));
    EXPECT_EQ(purple.hue, 213.0); // red tested first: 0.5 - 42.5 + 255
    EXPECT_EQ(purple.saturation, 255.5);
    EXPECT_EQ(ToHueSaturation(0, 0, 255, Y(kBlue)).hue, 170.0);
    EXPECT_EQ(ToHueSaturation(0, 255, 0, Y(kGreen)).hue, 85.0);
    const auto grey = ToHueSaturation(90, 90, 90, 90.0);
    EXPECT_EQ(grey.hue, 0.0);
    EXPECT_EQ(grey.saturation, 0.0);
}

TEST(HueSaturation, BrightColoursUseTheSecondSaturationFormula) {
    // Yellow: Y above 127, denominator 512 - s.
    const auto yellow = ToHueSaturation(255, 255, 0, Y({255, 255, 0}));
    EXPECT_DOUBLE_EQ(yellow.saturation, (255.0 * 255 + (510 - 255) * 0.5) / (512 - 255));
    EXPECT_EQ(yellow.hue, 42.0);
    // The same colours at a luminance given as at most 127 use the first one.
    EXPECT_DOUBLE_EQ(ToHueSaturation(255, 255, 0, 127.0).saturation,
                     (255 * 0.5 + 255.0 * 255) / 255);
}

TEST(BlendAlpha, WeightedMeanAndItsLimits) {
    const std::uint8_t opaque[4] = {0, 0, 0, 255}, clear[4] = {9, 9, 9, 0};
    std::uint8_t dst[4] = {1, 2, 3, 77};
    EXPECT_TRUE(BlendAlpha(opaque, clear, dst, 128, 4));
    EXPECT_EQ(dst[3], 128); // (0 * 128 + 255 * 128 + 128) >> 8
    EXPECT_EQ(dst[0], 1) << "colour bytes untouched";
    EXPECT_TRUE(BlendAlpha(opaque, clear, dst, 112, 4));
    EXPECT_EQ(dst[3], 112);
    EXPECT_TRUE(BlendAlpha(clear, opaque, dst, 64, 4));
    EXPECT_EQ(dst[3], 191); // (255 * 192 + 128) >> 8
    EXPECT_TRUE(BlendAlpha(clear, opaque, dst, 256, 4));
    EXPECT_EQ(dst[3], 0);
    dst[3] = 77;
    EXPECT_TRUE(BlendAlpha(opaque, clear, dst, 1000, 4));
    EXPECT_EQ(dst[3], 255);
    dst[3] = 77;
    EXPECT_FALSE(BlendAlpha(opaque, clear, dst, 0, 4));
    EXPECT_FALSE(BlendAlpha(opaque, clear, dst, -3, 4));
    EXPECT_EQ(dst[3], 77);
}

TEST(BlendAlpha, ClassBoundaries) {
    const std::uint8_t a3[4] = {0, 0, 0, 3}, a4[4] = {0, 0, 0, 4}, a7[4] = {0, 0, 0, 7};
    std::uint8_t dst[4] = {0, 0, 0, 77};
    EXPECT_FALSE(BlendAlpha(a4, a7, dst, 128, 4)) << "4 and 7 share a class";
    EXPECT_EQ(dst[3], 77);
    EXPECT_TRUE(BlendAlpha(a3, a4, dst, 128, 4)) << "3 and 4 straddle a boundary";
    EXPECT_EQ(dst[3], (4 * 128 + 3 * 128 + 128) >> 8);
    EXPECT_TRUE(BlendAlpha(a4, a7, dst, 128, 1));
    EXPECT_FALSE(BlendAlpha(a3, a7, dst, 128, 255));
}

TEST(BlendColour, SameClassesAndWeightLimits) {
    ColourBlendSettings f4 = kDefaults;
    f4.detectThreshold = 4;
    EXPECT_FALSE(Blend({4, 5, 6}, {7, 7, 7}, 128, f4).wrote);
    EXPECT_EQ(Blend({4, 5, 6}, {7, 7, 7}, 128, f4).r, 33);
    EXPECT_TRUE(Blend({4, 5, 6}, {7, 7, 8}, 128, f4).wrote) << "blue 8 is in the next class";
    EXPECT_TRUE(Blend({3, 4, 4}, {4, 4, 4}, 128, f4).wrote);

    const Out copy = Blend({10, 20, 30}, {200, 100, 0}, 256, f4);
    EXPECT_TRUE(copy.wrote);
    EXPECT_EQ(copy.r, 10);
    EXPECT_EQ(copy.g, 20);
    EXPECT_EQ(copy.b, 30);
    EXPECT_EQ(copy.a, 44);
    EXPECT_FALSE(Blend({10, 20, 30}, {200, 100, 0}, 0, f4).wrote);
    EXPECT_FALSE(Blend({10, 20, 30}, {200, 100, 0}, -64, f4).wrote);
}

TEST(BlendColour, GreysMixToGrey) {
    const Out got = Blend({200, 200, 200}, {60, 60, 60}, 112, kDefaults);
    ExpectMix(got, Mix({200, 200, 200}, {60, 60, 60}, 112, 112, 1, 1));
    EXPECT_EQ(got.r, got.b);
}

TEST(BlendColour, TransparentDestinationKeepsAlphaZero) {
    EXPECT_EQ(Blend(kWhite, kGrey, 64, kDefaults, 0).a, 44) << "dst alpha not written";
}

TEST(BlendColour, DarkAgainstBrightShiftsTheWeight) {
    const double white = Y(kWhite);
    // Black into white: the white destination keeps more share.
    const Out a = Blend(kBlack, kWhite, 64, kDefaults);
    ExpectMix(a, Mix(kBlack, kWhite, 64, 64 - white / 10, 1, 1));
    EXPECT_NE(a.r, Mix(kBlack, kWhite, 64, 64, 1, 1).r) << "the shift is visible";
    // White into black: the white source gains share.
    const Out b = Blend(kWhite, kBlack, 64, kDefaults);
    ExpectMix(b, Mix(kWhite, kBlack, 64, 64 + white / 10, 1, 1));
    EXPECT_NE(b.r, Mix(kWhite, kBlack, 64, 64, 1, 1).r);
    // Luminance 20 is not dark: no shift although the difference exceeds 127.
    const Rgb dim{20, 20, 20};
    ExpectMix(Blend(dim, kWhite, 64, kDefaults), Mix(dim, kWhite, 64, 64, 1, 1));
    // The shifted weight is held inside 0..255.
    ExpectMix(Blend(kBlack, kWhite, 1, kDefaults), Mix(kBlack, kWhite, 1, 0, 1, 1));
    ExpectMix(Blend(kWhite, kBlack, 240, kDefaults), Mix(kWhite, kBlack, 240, 255, 1, 1));
}

TEST(BlendColour, PureRedAndPurpleLifts) {
    ColourBlendSettings s = kDefaults;
    s.redLift = 1.5;
    s.purpleLift = 0.6;
    // Pure red (hue 0) on either side, threshold 3.
    ExpectMix(Blend(kRed, kGrey, 112, s), Mix(kRed, kGrey, 112, 112, 1.5, 1));
    ExpectMix(Blend(kGrey, kRed, 112, s), Mix(kGrey, kRed, 112, 112, 1, 1.5));
    // Strict: hue 0 is not below threshold 0.
    s.redThreshold = 0;
    ExpectMix(Blend(kRed, kGrey, 112, s), Mix(kRed, kGrey, 112, 112, 1, 1));
    // Just below 256: (255, 0, 6) has hue 254.01..., 256 - hue = 1.988...
    const Rgb nearRed{255, 0, 6};
    s.redThreshold = 2;
    ExpectMix(Blend(nearRed, kGrey, 112, s), Mix(nearRed, kGrey, 112, 112, 1.5, 1));
    s.redThreshold = 1;
    ExpectMix(Blend(nearRed, kGrey, 112, s), Mix(nearRed, kGrey, 112, 112, 1, 1));
    // Purple: |213 - 213| = 0 < 1 lifts, < 0 does not.
    s.purpleThreshold = 1;
    ExpectMix(Blend(kPurple, kGrey, 112, s), Mix(kPurple, kGrey, 112, 112, 0.6, 1));
    s.purpleThreshold = 0;
    ExpectMix(Blend(kPurple, kGrey, 112, s), Mix(kPurple, kGrey, 112, 112, 1, 1));
    // With threshold 300 every hue of a pure colour counts as red, even blue;
    // a red that is not nearly pure (saturation 236) still does not.
    s.redThreshold = 300;
    s.purpleThreshold = 300;
    ExpectMix(Blend(kBlue, kGrey, 112, s), Mix(kBlue, kGrey, 112, 112, 1.5, 1));
    ExpectMix(Blend({255, 10, 10}, kGrey, 112, s), Mix({255, 10, 10}, kGrey, 112, 112, 1, 1));
    // At the usual thresholds blue is neither red nor purple.
    s.redThreshold = 3;
    s.purpleThreshold = 3;
    ExpectMix(Blend(kBlue, kGrey, 112, s), Mix(kBlue, kGrey, 112, 112, 1, 1));
}

TEST(BlendColour, EachLimitOfTheRebuild) {
    struct Case {
        Rgb s, t;
        double liftS, liftT;
        const char* limit;
    };
    const Case cases[] = {
        {kRed, kPurple, 1.2, 1.1, "red above 255"},
        {kPurple, kBlue, 1.1, 1, "blue above 255"},
        {kGreen, kWhite, 1, 1, "green above 255"},
        {kRed, kBlack, 1.2, 1, "green and blue below 0"},
        {kBlue, kGreen, 1, 1, "red below 0"},
    };
    for (const Case& c : cases) {
        const Mixed want = Mix(c.s, c.t, 64, 64, c.liftS, c.liftT);
        const bool outside = want.rawR > 255 || want.rawG > 255 || want.rawB > 255 ||
                             want.rawR < 0 || want.rawG < 0 || want.rawB < 0;
        EXPECT_TRUE(outside) << c.limit;
        ExpectMix(Blend(c.s, c.t, 64, kDefaults), want);
    }
    // Green is rebuilt from red and blue after their upper limit: red 275
    // enters as 255.
    const Mixed redHigh = Mix(kRed, kPurple, 64, 64, 1.2, 1.1);
    EXPECT_GT(redHigh.rawR, 255);
    EXPECT_EQ(redHigh.r, 255);
}

TEST(BlendColour, HugeLuminanceSaturatesToWhite) {
    // Gamma 0.01: E = base^100 lies far beyond any integer type.
    ColourBlendSettings s = kDefaults;
    s.gamma = 0.01;
    const double base =
        (std::pow(Y({100, 100, 100}), 0.01) * 192 + std::pow(Y({200, 200, 200}), 0.01) * 64 + 128) /
        256;
    EXPECT_GT(std::pow(base, 100.0), 1e18);
    const Out got = Blend({200, 200, 200}, {100, 100, 100}, 64, s);
    EXPECT_EQ(got.r, 255);
    EXPECT_EQ(got.g, 255);
    EXPECT_EQ(got.b, 255);
}

} // namespace
} // namespace pelo
