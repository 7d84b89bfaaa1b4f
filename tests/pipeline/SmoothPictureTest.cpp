#include "pipeline/SmoothPicture.h"

#include "pipeline/ResultChoices.h"
#include "samples/PresetArt.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace pelo;
using samples::ArtKind;
using samples::MakeArt;

namespace {

constexpr PictureRoles kAlphaInAndOut{true, true};

ImagePtr Smoothed(const ImageBuffer& input, const ConversionSettings& settings,
                  PictureRoles roles = kAlphaInAndOut) {
    ImagePtr copy = CloneIpl(input);
    EXPECT_EQ(SmoothPicture(*copy, settings, roles), 0);
    return copy;
}

bool SameBytes(const ImageBuffer& a, const ImageBuffer& b) {
    return a.imageSize == b.imageSize && std::memcmp(a.imageData, b.imageData, a.imageSize) == 0;
}

} // namespace

TEST(SmoothPicture, ClearedHiddenColourMakesInvisibleDataIrrelevant) {
    const ImagePtr black = MakeArt(ArtKind::PixelArt, 96, 96, 5, 0x000000);
    const ImagePtr key = MakeArt(ArtKind::PixelArt, 96, 96, 5, 0x690100);
    ConversionSettings settings;
    EXPECT_FALSE(SameBytes(*Smoothed(*black, settings), *Smoothed(*key, settings)));
    settings.result.hiddenColour = HiddenColour::Clear;
    EXPECT_TRUE(SameBytes(*Smoothed(*black, settings), *Smoothed(*key, settings)));
}

TEST(SmoothPicture, PassSwitchesLeaveTheirBytesAlone) {
    const ImagePtr font = MakeArt(ArtKind::Font, 64, 64, 3);
    ConversionSettings settings;
    settings.result.alphaPass = AlphaPassMode::Off;
    const ImagePtr result = Smoothed(*font, settings);
    for (std::size_t i = 3; i < font->imageSize; i += 4)
        ASSERT_EQ(result->imageData[i], font->imageData[i]) << "alpha byte " << i / 4;

    const ImagePtr tiles = MakeArt(ArtKind::Tiles, 64, 64, 3);
    settings.result.colourPass = false;
    EXPECT_TRUE(SameBytes(*Smoothed(*tiles, settings), *tiles));
    settings.result.colourPass = true;
    EXPECT_FALSE(SameBytes(*Smoothed(*tiles, settings), *tiles));
}

TEST(SmoothPicture, FlattensOntoTheChosenBackground) {
    const ImagePtr font = MakeArt(ArtKind::Font, 32, 32, 3);
    ConversionSettings settings;
    settings.result.alphaPass = AlphaPassMode::Off;
    settings.result.background = 0xFFFFFF;
    const ImagePtr result = Smoothed(*font, settings, {true, false});
    const std::uint8_t* corner = result->pixel(0, 0); // transparent in the input
    EXPECT_EQ(corner[0], 255);
    EXPECT_EQ(corner[1], 255);
    EXPECT_EQ(corner[2], 255);
    EXPECT_EQ(corner[3], 255);
}

TEST(SmoothPicture, SeedPresetGivesTheDefaultResultWhateverCameBefore) {
    const ImagePtr art = MakeArt(ArtKind::Painted, 96, 96, 9);
    ConversionSettings settings;
    ApplyPreset(Preset::Painted, settings);
    EXPECT_FALSE(SameBytes(*Smoothed(*art, settings), *Smoothed(*art, ConversionSettings{})));
    ApplyPreset(Preset::Seed, settings);
    EXPECT_TRUE(SameBytes(*Smoothed(*art, settings), *Smoothed(*art, ConversionSettings{})));
}
