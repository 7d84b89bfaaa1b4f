#include "eri/EriLossyMacroBlock.h"

#include "eri/EriImageDecoder.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <set>
#include <tuple>
#include <vector>

namespace pelo {
namespace {

constexpr std::uint8_t kFinest[4] = {255, 255, 255, 255};

double Cos(int k, int n, int side) {
    return std::cos((2 * n + 1) * k * std::numbers::pi / (2.0 * side));
}

// Quantised input of one macro-block, zeroed.
struct Input {
    explicit Input(const EriLossyMacroBlock& mb)
        : blocks(mb.BlockCount()), dc(blocks, 0),
          ac(static_cast<std::size_t>(mb.Area() - 1) * blocks, 0) {}
    std::int32_t& at(int zigzagIndex, int block) {
        return ac[static_cast<std::size_t>(zigzagIndex - 1) * blocks + block];
    }
    int blocks;
    std::vector<std::int64_t> dc;
    std::vector<std::int32_t> ac;
};

TEST(EriZigzag, EightByEightIsTheUsualOrder) {
    const std::uint16_t expected[64] = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    std::uint16_t zigzag[64];
    MakeEriZigzag(8, zigzag);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(zigzag[i], expected[i]) << i;
}

TEST(EriZigzag, LargerSidesWalkWholeDiagonals) {
    for (int side : {16, 32}) {
        std::vector<std::uint16_t> zigzag(side * side);
        MakeEriZigzag(side, zigzag.data());
        EXPECT_EQ(std::set<std::uint16_t>(zigzag.begin(), zigzag.end()).size(), zigzag.size());
        // Each index lies on the diagonal x + y that its count implies, and
        // neighbours on one diagonal are one step apart.
        int index = 0;
        for (int d = 0; d <= 2 * side - 2; ++d) {
            const int length = d < side ? d + 1 : 2 * side - 1 - d;
            for (int i = 0; i < length; ++i, ++index) {
                const int x = zigzag[index] % side, y = zigzag[index] / side;
                ASSERT_EQ(x + y, d) << side << " " << index;
                if (i > 0) {
                    ASSERT_EQ(std::abs(x - zigzag[index - 1] % side), 1);
                }
            }
        }
        // The high band starts on diagonal s - 1, which (odd) starts at the top.
        EXPECT_EQ(zigzag[(side - 1) * side / 2], side - 1);
    }
}

TEST(EriLossyMacroBlock, RefusesUnknownLayouts) {
    EriLossyMacroBlock mb;
    EXPECT_FALSE(mb.Init(2, kEriChroma444, false, 0, 0));
    EXPECT_FALSE(mb.Init(6, kEriChroma444, false, 0, 0));
    EXPECT_FALSE(mb.Init(3, 0x00040303, false, 0, 0));
    EXPECT_EQ(EriLossyBlockCount(kEriChroma444, false), 12);
    EXPECT_EQ(EriLossyBlockCount(kEriChroma422, false), 8);
    EXPECT_EQ(EriLossyBlockCount(kEriChroma411, true), 10);
    EXPECT_EQ(EriLossyBlockCount(0x00040303, true), 0);
}

// DC only: the luma DC step byte 255 gives 256/256 * 2/s, 0 gives 256 * 2/s;
// the chroma DC step byte scales the chroma blocks only.
TEST(EriLossyMacroBlock, DcStepsAndColourConversion) {
    for (int degree : {3, 4, 5}) {
        const int s = 1 << degree;
        EriLossyMacroBlock mb;
        ASSERT_TRUE(mb.Init(degree, kEriChroma444, false, 255, 0));
        Input in(mb);
        const double lumaFactor = 2.0 / s, chromaFactor = 256.0 * 2.0 / s;
        for (int q = 0; q < 4; ++q) {
            in.dc[q] = 40 * (q + 1) * s / 2; // Y = 40 (q + 1)
            in.dc[4 + q] = q - 1;            // U
            in.dc[8 + q] = 2 - q;            // V
        }
        mb.Reconstruct(in.dc.data(), in.ac.data(), kFinest);
        for (int q = 0; q < 4; ++q) {
            const double y = in.dc[q] * lumaFactor, u = in.dc[4 + q] * chromaFactor,
                         v = in.dc[8 + q] * chromaFactor;
            for (int i = 0; i < s * s; i += 7) {
                EXPECT_NEAR(mb.Plane(0, q)[i], y + 1.5 * v, 1e-3);
                EXPECT_NEAR(mb.Plane(1, q)[i], y - 0.375 * u - 0.75 * v, 1e-3);
                EXPECT_NEAR(mb.Plane(2, q)[i], y + 1.75 * u, 1e-3);
            }
        }
    }
}

// The four step bytes: p0/p1 up to zigzag index (s - 1) s / 2 - 1, p2/p3 from there on.
TEST(EriLossyMacroBlock, AcStepBandsAndPlacement) {
    const int s = 8;
    EriLossyMacroBlock mb;
    ASSERT_TRUE(mb.Init(3, kEriChroma444, false, 255, 255));
    Input in(mb);
    in.at(27, 0) = 1; // zigzag 27 = (x 6, y 0), last of the low band
    in.at(28, 1) = 1; // zigzag 28 = (x 7, y 0), first of the high band
    in.at(28, 5) = 2; // second U block, high band
    const std::uint8_t params[4] = {0, 3, 127, 63};
    mb.Reconstruct(in.dc.data(), in.ac.data(), params);
    const double low = 2.0 / s * 256.0, high = 2.0 / s * 256.0 / 128.0,
                 chromaHigh = 2.0 / s * 256.0 / 64.0;
    for (int y = 0; y < s; ++y) {
        for (int x = 0; x < s; ++x) {
            const int i = y * s + x;
            // Quarter 0: luma only (U, V zero), so all three planes equal Y.
            EXPECT_NEAR(mb.Plane(1, 0)[i], low * Cos(6, x, s), 1e-3);
            // Quarter 1 also has U = 2 * chromaHigh * cos.
            EXPECT_NEAR(mb.Plane(0, 1)[i], high * Cos(7, x, s), 1e-4);
            EXPECT_NEAR(mb.Plane(1, 1)[i], (high - 0.375 * 2 * chromaHigh) * Cos(7, x, s), 1e-4);
            EXPECT_NEAR(mb.Plane(2, 1)[i], (high + 1.75 * 2 * chromaHigh) * Cos(7, x, s), 1e-4);
        }
    }
}

// A chroma block varying down its rows (coefficient v = 1 at zigzag 2)
// shows where each of its rows lands.
TEST(EriLossyMacroBlock, HalfHeightChromaFeedsTwoQuartersWithRowsDoubled) {
    const int s = 16, half = 8;
    EriLossyMacroBlock mb;
    ASSERT_TRUE(mb.Init(4, kEriChroma422, false, 255, 255));
    Input in(mb);
    // U blocks 4, 5; V blocks 6, 7. Give U block 1 a vertical ramp, V block 0 a flat value.
    in.at(2, 5) = 8;
    in.dc[6] = 16;
    mb.Reconstruct(in.dc.data(), in.ac.data(), kFinest);
    const double f = 2.0 / s;
    for (int q = 0; q < 4; ++q) {
        for (int y = 0; y < s; ++y) {
            const int sourceRow = (q % 2) * half + y / 2;
            const double u = q / 2 == 1 ? 8 * f * Cos(1, sourceRow, s) : 0.0;
            const double v = q / 2 == 0 ? 16 * f : 0.0;
            for (int x = 0; x < s; x += 5) {
                EXPECT_NEAR(mb.Plane(2, q)[y * s + x], 1.75 * u, 1e-4) << q << " " << y;
                EXPECT_NEAR(mb.Plane(0, q)[y * s + x], 1.5 * v, 1e-4) << q << " " << y;
            }
        }
    }
}

TEST(EriLossyMacroBlock, QuarterChromaSpreadsEachSampleOverTwoByTwo) {
    const int s = 8, half = 4;
    EriLossyMacroBlock mb;
    ASSERT_TRUE(mb.Init(3, kEriChroma411, true, 255, 255));
    Input in(mb);
    in.at(1, 4) = 4; // U: horizontal cosine (u = 1)
    in.at(2, 5) = 4; // V: vertical cosine (v = 1)
    for (int q = 0; q < 4; ++q)
        in.dc[6 + q] = 100 * (q + 1); // alpha blocks 6..9
    mb.Reconstruct(in.dc.data(), in.ac.data(), kFinest);
    const double f = 2.0 / s;
    for (int q = 0; q < 4; ++q) {
        for (int y = 0; y < s; ++y) {
            for (int x = 0; x < s; ++x) {
                const int sx = (q % 2) * half + x / 2, sy = (q / 2) * half + y / 2;
                const double u = 4 * f * Cos(1, sx, s), v = 4 * f * Cos(1, sy, s);
                EXPECT_NEAR(mb.Plane(2, q)[y * s + x], 1.75 * u, 1e-4);
                EXPECT_NEAR(mb.Plane(0, q)[y * s + x], 1.5 * v, 1e-4);
                EXPECT_NEAR(mb.Plane(3, q)[y * s + x], 100 * (q + 1) * f, 1e-4);
            }
        }
    }
}

// The lossy writers of the decoder's writer slot.
EriLossyBlockWriter Writer(std::uint32_t pixelFormat, std::uint32_t bits) {
    const EriImageDecoder decoder;
    return decoder.LossyBlockWriter(pixelFormat, bits);
}

TEST(EriLossyWriters, SelectionByFormatAndDepth) {
    EXPECT_NE(Writer(kEriFormatColour, 24), nullptr);
    EXPECT_EQ(Writer(kEriFormatColour, 32), Writer(kEriFormatColour, 24));
    EXPECT_NE(Writer(kEriFormatColourAlpha, 32), nullptr);
    EXPECT_NE(Writer(kEriFormatColourAlpha, 32), Writer(kEriFormatColour, 32));
    EXPECT_EQ(Writer(kEriFormatColourAlpha, 24), nullptr);
    EXPECT_EQ(Writer(kEriFormatColour, 16), nullptr);
    EXPECT_EQ(Writer(kEriFormatColour, 8), nullptr);
}

// Nearest integer with ties to even, then 0..255 (NaN as 0).
TEST(EriLossyWriters, RoundTiesToEvenAndClamp) {
    const float values[] = {2.5f,   3.5f,   3.49f, -0.5f, -0.51f, -1e30f,
                            254.5f, 255.5f, 1e30f, 0.5f,  1.5f,   std::nanf("")};
    const std::uint8_t expected[] = {2, 4, 3, 0, 0, 0, 254, 255, 255, 0, 2, 0};
    const int n = sizeof values / sizeof values[0];
    const float* planes[4] = {values, values, values, values};
    std::vector<std::uint8_t> out(n * 4, 0xEE);
    Writer(kEriFormatColourAlpha, 32)(out.data(), 0, n, 1, planes, n, 4);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(out[i * 4 + c], expected[i]) << values[i];
}

// Rows of 8 and more pixels take a different path through the writers than
// short ones; every pixel of a long row must get the same treatment, whatever
// its place in the row, at every pixel step.
TEST(EriLossyWriters, LongRowsRoundAndClampEveryPixel) {
    const float special[] = {2.5f,   3.5f,  -0.5f,  254.5f, 255.5f, 1e30f,
                             -1e30f, 0.49f, 127.5f, 128.5f, 7.0f,   std::nanf("")};
    const std::uint8_t expected[] = {2, 4, 0, 254, 255, 255, 0, 0, 128, 128, 7, 0};
    const int kinds = sizeof special / sizeof special[0];
    const int n = 27, rows = 2;
    // Plane c holds the special values shifted by c (and by the row), so a
    // byte taken from a wrong plane, pixel or row shows.
    std::vector<float> planeStore[4];
    const float* planes[4];
    auto kindOf = [&](int c, int y, int x) { return (x + 3 * c + 5 * y) % kinds; };
    for (int c = 0; c < 4; ++c) {
        planeStore[c].resize(n * rows);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < n; ++x)
                planeStore[c][y * n + x] = special[kindOf(c, y, x)];
        planes[c] = planeStore[c].data();
    }
    for (const auto& [format, bits, step, channels] :
         {std::tuple{kEriFormatColour, 24u, 3, 3}, std::tuple{kEriFormatColour, 32u, 4, 3},
          std::tuple{kEriFormatColourAlpha, 32u, 4, 4}}) {
        const int stride = n * step + 5;
        std::vector<std::uint8_t> out(stride * rows + 5, 0xEE);
        Writer(format, bits)(out.data(), stride, n, rows, planes, n, step);
        for (int y = 0; y < rows; ++y) {
            for (int i = 0; i < stride; ++i) {
                const int x = i / step, c = i % step;
                int want = 0xEE;
                if (x < n && c < channels) want = expected[kindOf(c, y, x)];
                ASSERT_EQ(out[y * stride + i], want)
                    << bits << " " << channels << " " << y << " " << i;
            }
        }
    }
}

// Three-byte pixels at a step of 4 leave the fourth byte alone, and only
// columns x rows pixels are touched, rows following the stride.
TEST(EriLossyWriters, WriteOnlyTheClippedPart) {
    EriLossyMacroBlock mb;
    ASSERT_TRUE(mb.Init(3, kEriChroma444, true, 255, 255));
    Input in(mb);
    in.dc[0] = 4 * 10;  // Y 10 in quarter 0
    in.dc[12] = 4 * 99; // alpha 99 in quarter 0
    mb.Reconstruct(in.dc.data(), in.ac.data(), kFinest);
    const int stride = 40;
    std::vector<std::uint8_t> out(stride * 10, 0xEE);
    Writer(kEriFormatColour, 32)(out.data() + 1, stride, 3, 2, mb.Planes(0), mb.Side(), 4);
    for (int y = 0; y < 10; ++y) {
        for (int i = 0; i < stride; ++i) {
            const int rel = i - 1;
            const bool inside = y < 2 && rel >= 0 && rel < 12 && rel % 4 != 3;
            EXPECT_EQ(out[y * stride + i], inside ? 10 : 0xEE) << y << " " << i;
        }
    }
    std::vector<std::uint8_t> four(stride * 3, 0xEE);
    Writer(kEriFormatColourAlpha, 32)(four.data() + stride * 2, -stride, 5, 3, mb.Planes(0),
                                      mb.Side(), 4);
    for (int y = 0; y < 3; ++y)
        for (int i = 0; i < stride; ++i)
            EXPECT_EQ(four[y * stride + i], i < 20 ? (i % 4 == 3 ? 99 : 10) : 0xEE);
}

} // namespace
} // namespace pelo
