// The passes split across threads give the bytes of one thread, on pictures
// whose steps, runs and fades cross the borders between bands.
#include "TestPictures.h"
#include "image/AntiAlias.h"
#include "image/ParallelBands.h"
#include "samples/BusySprites.h"

#include <gtest/gtest.h>

namespace pelo {
namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 2400;

void Put(ImageBuffer& img, int x, int y, std::uint32_t bgra) {
    std::memcpy(img.pixel(x, y), &bgra, 4);
}

// Busy sprites, with on the left slopes that step one column every 150 rows
// (vertical runs and fades of 75 rows across band borders), a checkerboard
// across the rows around each border of the splits for 2, 3 and 7 threads,
// and a strip of random pixels.
ImagePtr BorderPicture(std::uint32_t seed) {
    auto img = samples::MakeBusySpriteSheet(kWidth, kHeight, seed);
    testpics::Rng rng{seed * 2654435761u + 1};
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool red = x < 8 + y / 150;
            const bool softer = x >= 20 && x < 24 + (kHeight - y) / 150;
            Put(*img, x, y, red ? 0xFF2020E0u : softer ? 0x80E0C040u : 0u);
        }
        for (int x = 180; x < kWidth; ++x)
            Put(*img, x, y, rng.next() | (rng.below(3) == 0 ? 0u : 0xFF000000u));
    }
    for (unsigned threads : {2u, 3u, 7u})
        for (const RowBand& band : SplitIntoBands(kWidth, kHeight, threads))
            for (int y = band.y0 - 6; y < band.y0 + 6; ++y)
                for (int x = 140; x < 170; ++x)
                    if (y >= 0) Put(*img, x, y, (x + y) % 2 ? 0xFFFFFFFFu : 0xFF000000u);
    return img;
}

TEST(BandSplit, ThreadsGiveTheBytesOfOneThread) {
    ASSERT_EQ(SplitIntoBands(kWidth, kHeight, 2).size(), 8u) << "the picture must be split";
    for (std::uint32_t seed : {3u, 8u}) {
        const auto input = BorderPicture(seed);
        for (std::uint32_t f : {1u, 4u, 16u}) {
            for (const bool alphaPass : {true, false}) {
                ConversionSettings s;
                s.detectThreshold = f;
                auto serial = CloneIpl(*input);
                ASSERT_EQ(AntiAliasImage(*serial, s, alphaPass, true, 1), 0);
                ASSERT_NE(std::memcmp(serial->imageData, input->imageData, input->imageSize), 0);
                for (unsigned threads : {2u, 3u, 7u}) {
                    auto split = CloneIpl(*input);
                    ASSERT_EQ(AntiAliasImage(*split, s, alphaPass, true, threads), 0);
                    EXPECT_EQ(std::memcmp(split->imageData, serial->imageData, input->imageSize), 0)
                        << "seed " << seed << " F=" << f << " alpha pass " << alphaPass << " "
                        << threads << " threads";
                }
            }
        }
    }
}

TEST(BandSplit, BandsCoverTheRowsInOrder) {
    for (const auto& [w, h, threads, want] :
         std::vector<std::tuple<int, int, unsigned, std::size_t>>{{200, 2400, 2, 8},
                                                                  {200, 2400, 7, 28},
                                                                  {200, 2400, 0, 1},
                                                                  {16, 16, 4, 1},
                                                                  {4096, 20, 8, 2}}) {
        const auto bands = SplitIntoBands(w, h, threads);
        ASSERT_EQ(bands.size(), want) << w << "x" << h << " on " << threads;
        int next = 0;
        for (const RowBand& band : bands) {
            EXPECT_EQ(band.y0, next);
            EXPECT_GT(band.y1, band.y0);
            next = band.y1;
        }
        EXPECT_EQ(next, h);
    }
}

} // namespace
} // namespace pelo
