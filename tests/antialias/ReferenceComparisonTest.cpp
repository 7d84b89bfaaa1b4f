// The production passes against the plain reference, byte for byte, over
// many pictures and settings.
#include "ReferenceAntiAlias.h"
#include "TestPictures.h"
#include "image/AntiAlias.h"
#include "samples/SpriteArt.h"

#include <gtest/gtest.h>

namespace pelo {
namespace {

using testpics::ToImage;
using testpics::ToPicture;

struct Lifts {
    double red;
    std::uint32_t redThreshold;
    double purple;
    std::uint32_t purpleThreshold;
};

const double kGammas[] = {0.7, 0.4, 1.0, 2.5, -1.0, 0.0};
const Lifts kLifts[] = {
    {1.2, 3, 1.1, 3},
    {2.0, 2, 0.5, 5},
    {1.0, 0, 1.0, 0},
    {3.5, 300, 1.7, 100},
    {0.8, 0xFFFFFFFFu, 1.3, 0xFFFFFFFFu},
};

std::vector<reference::Picture> SmallPictures(std::uint32_t seed) {
    std::vector<reference::Picture> pics;
    pics.push_back(testpics::BlockyPicture(1, 1, seed, 3, 2));
    pics.push_back(testpics::BlockyPicture(1, 9, seed + 1, 3, 2));
    pics.push_back(testpics::BlockyPicture(9, 1, seed + 2, 3, 2));
    pics.push_back(testpics::BlockyPicture(2, 2, seed + 3, 2, 1));
    pics.push_back(testpics::BlockyPicture(23, 17, seed + 4, 3, 3));
    pics.push_back(testpics::BlockyPicture(31, 29, seed + 5, 5, 4));
    pics.push_back(testpics::BlockyPicture(40, 12, seed + 6, 2, 7));
    pics.push_back(testpics::NoisePicture(13, 11, seed + 7));
    auto sprite = samples::MakeSpriteSheet(48, 40, seed);
    pics.push_back(ToPicture(*sprite));
    return pics;
}

int gChanged = 0; // pictures the passes changed, so that no comparison is idle

void ExpectSameAsReference(const reference::Picture& input, const ConversionSettings& s,
                           bool alphaPass, const std::string& what) {
    reference::Picture expected = input;
    reference::AntiAlias(expected, s, alphaPass);
    gChanged += expected.bytes != input.bytes;
    auto image = ToImage(input);
    ASSERT_EQ(AntiAliasImage(*image, s, alphaPass), 0);
    const auto got = ToPicture(*image);
    if (got.bytes == expected.bytes) return;
    for (std::size_t i = 0; i < got.bytes.size(); ++i) {
        if (got.bytes[i] != expected.bytes[i]) {
            const auto pixel = i / 4;
            ADD_FAILURE() << what << ": first difference at x=" << pixel % input.width
                          << " y=" << pixel / input.width << " byte " << i % 4 << ": got "
                          << int(got.bytes[i]) << ", reference " << int(expected.bytes[i]);
            return;
        }
    }
}

class ReferenceByThreshold : public testing::TestWithParam<std::uint32_t> {};

TEST_P(ReferenceByThreshold, SmallPicturesOverGammasAndLifts) {
    const std::uint32_t f = GetParam();
    const auto pictures = SmallPictures(f * 31u + 7u);
    gChanged = 0;
    for (double gamma : kGammas) {
        for (const Lifts& lift : kLifts) {
            ConversionSettings s;
            s.detectThreshold = f;
            s.gamma = gamma;
            s.redLift = lift.red;
            s.redThreshold = lift.redThreshold;
            s.purpleLift = lift.purple;
            s.purpleThreshold = lift.purpleThreshold;
            for (std::size_t i = 0; i < pictures.size(); ++i) {
                const std::string what =
                    "F=" + std::to_string(f) + " gamma=" + std::to_string(gamma) +
                    " redLift=" + std::to_string(lift.red) + " picture " + std::to_string(i);
                ExpectSameAsReference(pictures[i], s, true, what);
                ExpectSameAsReference(pictures[i], s, false, what + " colour only");
            }
        }
    }
    const std::int16_t low = static_cast<std::int16_t>(f & 0xFFFF);
    if (low > 0 && low <= 255)
        EXPECT_GT(gChanged, 100);
    else
        EXPECT_EQ(gChanged, 0);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, ReferenceByThreshold,
                         testing::Values(1u, 2u, 3u, 4u, 16u, 100u, 128u, 255u, 300u, 0u, 40000u,
                                         65537u),
                         [](const auto& info) {
                             std::string name = std::to_string(info.param);
                             name.insert(name.begin(), 'F');
                             return name;
                         });

TEST(ReferenceComparison, SpritePicturesWithDefaultAndRestoredSettings) {
    ConversionSettings first; // first-start values
    ConversionSettings restored;
    RestoreDetailDefaults(restored);
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        const auto sprite = ToPicture(*samples::MakeSpriteSheet(160, 120, seed));
        const auto scene = ToPicture(*samples::MakeOpaqueScene(130, 90, seed));
        for (std::uint32_t f : {1u, 4u, 6u, 16u}) {
            first.detectThreshold = restored.detectThreshold = f;
            const std::string what = "seed " + std::to_string(seed) + " F=" + std::to_string(f);
            ExpectSameAsReference(sprite, first, true, "sprite " + what);
            ExpectSameAsReference(sprite, restored, true, "sprite restored " + what);
            ExpectSameAsReference(scene, first, false, "scene " + what);
        }
    }
}

TEST(ReferenceComparison, NoisyPicturesWithManyColours) {
    ConversionSettings s;
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        s.detectThreshold = seed * 5;
        s.gamma = 0.3 + 0.25 * seed;
        ExpectSameAsReference(testpics::NoisePicture(64, 48, seed), s, true,
                              "noise seed " + std::to_string(seed));
        ExpectSameAsReference(testpics::BlockyPicture(96, 64, seed, 8, 5), s, true,
                              "blocky seed " + std::to_string(seed));
    }
}

// The processed bytes of two pictures as the reference produced them when
// this test was written; every build (any optimisation, sanitizers) must
// reproduce them exactly.
TEST(ReferenceComparison, ProcessedSpriteDigestsAreFixed) {
    ConversionSettings s;
    const auto spriteIn = ToPicture(*samples::MakeSpriteSheet(256, 256, 7));
    ConversionSettings t;
    t.detectThreshold = 1;
    t.gamma = 0.4;
    t.redLift = 1.6;
    t.purpleLift = 0.9;
    const auto sceneIn = ToPicture(*samples::MakeOpaqueScene(200, 150, 11));

    // Digests of the reference's output, recorded once.
    constexpr std::uint64_t kSprite = 0x4e4c6b5126bdf97full;
    constexpr std::uint64_t kScene = 0xacf55a3b8de6c277ull;

    auto spriteRef = spriteIn;
    reference::AntiAlias(spriteRef, s, true);
    auto sceneRef = sceneIn;
    reference::AntiAlias(sceneRef, t, false);
    EXPECT_EQ(testpics::Digest(spriteRef.bytes.data(), spriteRef.bytes.size()), kSprite)
        << "reference sprite " << std::hex
        << testpics::Digest(spriteRef.bytes.data(), spriteRef.bytes.size());
    EXPECT_EQ(testpics::Digest(sceneRef.bytes.data(), sceneRef.bytes.size()), kScene)
        << "reference scene " << std::hex
        << testpics::Digest(sceneRef.bytes.data(), sceneRef.bytes.size());

    auto sprite = ToImage(spriteIn);
    ASSERT_EQ(AntiAliasImage(*sprite, s, true), 0);
    EXPECT_EQ(testpics::Digest(sprite->imageData, sprite->imageSize), kSprite);
    auto scene = ToImage(sceneIn);
    ASSERT_EQ(AntiAliasImage(*scene, t, false), 0);
    EXPECT_EQ(testpics::Digest(scene->imageData, scene->imageSize), kScene);
    EXPECT_NE(sprite->imageSize, 0u);
    EXPECT_NE(ToPicture(*sprite).bytes, spriteIn.bytes); // the passes did change it
    EXPECT_NE(ToPicture(*scene).bytes, sceneIn.bytes);
}

} // namespace
} // namespace pelo
