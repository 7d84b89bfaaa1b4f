// One picture smoothed on several threads, and how a run hands threads to
// its pictures.
#include "image/ParallelBands.h"
#include "pipeline/BatchRunner.h"
#include "pipeline/SmoothPicture.h"
#include "samples/BusySprites.h"

#include <cstring>
#include <gtest/gtest.h>

namespace pelo {
namespace {

TEST(PictureThreads, SmoothPictureGivesTheSameBytesOnAnyThreadCount) {
    const auto input = samples::MakeBusySpriteSheet(640, 400, 5);
    ASSERT_GE(SplitIntoBands(input->width, input->height, 3).size(), 3u);
    ConversionSettings s;
    s.whiteAsTransparent = 1;
    s.result.hiddenColour = HiddenColour::Clear;
    s.result.background = 0x336699;
    for (const PictureRoles roles : {PictureRoles{true, false}, PictureRoles{true, true}}) {
        auto serial = CloneIpl(*input);
        ASSERT_EQ(SmoothPicture(*serial, s, roles, 1), 0);
        for (unsigned threads : {2u, 3u}) {
            auto split = CloneIpl(*input);
            ASSERT_EQ(SmoothPicture(*split, s, roles, threads), 0);
            EXPECT_EQ(std::memcmp(split->imageData, serial->imageData, input->imageSize), 0)
                << threads << " threads, alpha output " << roles.alphaOutput;
        }
    }
}

TEST(PictureThreads, OnlyTheLastPicturesOfARunShareTheJobs) {
    EXPECT_EQ(PictureThreads(1, 1), 1u);
    EXPECT_EQ(PictureThreads(4, 9), 1u); // more files than jobs: one thread each
    EXPECT_EQ(PictureThreads(4, 4), 1u);
    EXPECT_EQ(PictureThreads(4, 3), 1u);
    EXPECT_EQ(PictureThreads(4, 2), 2u);
    EXPECT_EQ(PictureThreads(4, 1), 4u);
    EXPECT_EQ(PictureThreads(2, 1), 2u);
}

} // namespace
} // namespace pelo
