// Block integration against the closed form of the two running sums:
// out[y][x] = line[x] + sum over y' <= y of (acc[y'] + r[y'][0..x]) along
// rows, or line[x] + sum over y' <= y of r[y'][x] without, all mod 2^32.
#include "eri/EriBlockIntegration.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using pelo::IntegrateEriPlane;
using pelo::IntegrateEriPlaneScalar;

struct Block {
    std::vector<std::int32_t> plane, sums, line;
};

Block RandomBlock(int side, std::mt19937& random) {
    // Full-range values so that the sums wrap.
    std::uniform_int_distribution<std::int32_t> any(INT32_MIN, INT32_MAX);
    Block b;
    for (int i = 0; i < side * side; ++i)
        b.plane.push_back(any(random));
    for (int i = 0; i < side; ++i) {
        b.sums.push_back(any(random));
        b.line.push_back(any(random));
    }
    return b;
}

Block ClosedForm(const Block& in, int s, bool alongRows) {
    Block out = in;
    for (int y = 0; y < s; ++y) {
        for (int x = 0; x < s; ++x) {
            std::uint32_t v = std::uint32_t(in.line[x]);
            for (int yy = 0; yy <= y; ++yy) {
                if (alongRows) {
                    v += std::uint32_t(in.sums[yy]);
                    for (int xx = 0; xx <= x; ++xx)
                        v += std::uint32_t(in.plane[yy * s + xx]);
                } else {
                    v += std::uint32_t(in.plane[yy * s + x]);
                }
            }
            out.plane[y * s + x] = std::int32_t(v);
        }
        std::uint32_t rowSum = std::uint32_t(in.sums[y]);
        for (int x = 0; x < s; ++x)
            rowSum += std::uint32_t(in.plane[y * s + x]);
        out.sums[y] = alongRows ? std::int32_t(rowSum) : in.plane[y * s + s - 1];
    }
    for (int x = 0; x < s; ++x)
        out.line[x] = out.plane[(s - 1) * s + x];
    return out;
}

TEST(EriBlockIntegration, BothVersionsMatchTheClosedFormForEverySide) {
    std::mt19937 random(11);
    for (const int side : {2, 4, 8, 16, 32, 64}) {
        for (const bool alongRows : {true, false}) {
            const Block in = RandomBlock(side, random);
            const Block expected = ClosedForm(in, side, alongRows);
            for (const auto integrate : {IntegrateEriPlane, IntegrateEriPlaneScalar}) {
                Block b = in;
                integrate(b.plane.data(), side, b.sums.data(), b.line.data(), alongRows);
                EXPECT_EQ(b.plane, expected.plane) << side << " " << alongRows;
                EXPECT_EQ(b.sums, expected.sums) << side << " " << alongRows;
                EXPECT_EQ(b.line, expected.line) << side << " " << alongRows;
            }
        }
    }
}

TEST(EriBlockIntegration, LargestSideMatchesTheScalarVersion) {
    std::mt19937 random(12);
    const int side = 256;
    for (const bool alongRows : {true, false}) {
        const Block in = RandomBlock(side, random);
        Block a = in, b = in;
        IntegrateEriPlane(a.plane.data(), side, a.sums.data(), a.line.data(), alongRows);
        IntegrateEriPlaneScalar(b.plane.data(), side, b.sums.data(), b.line.data(), alongRows);
        EXPECT_EQ(a.plane, b.plane);
        EXPECT_EQ(a.sums, b.sums);
        EXPECT_EQ(a.line, b.line);
    }
}

} // namespace
