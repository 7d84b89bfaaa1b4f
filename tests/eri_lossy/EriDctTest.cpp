#include "eri/EriDct.h"

#include "ReferenceDct.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

namespace pelo {
namespace {

double Basis(int k, int n, int side) {
    return std::cos((2 * n + 1) * k * std::numbers::pi / (2.0 * side));
}

std::vector<double> RunFast(const std::vector<double>& coefficients, int side) {
    std::vector<float> block(coefficients.begin(), coefficients.end());
    EXPECT_TRUE(EriInverseDct(block.data(), side));
    return std::vector<double>(block.begin(), block.end());
}

double MaxDifference(const std::vector<double>& a, const std::vector<double>& b) {
    double worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

class EriDctSides : public ::testing::TestWithParam<int> {};

// A single unit coefficient yields the product of two cosines; this checks
// every table entry and every butterfly path one frequency pair at a time.
// Single precision leaves errors of about 1e-6 at side 32; a wrong entry or sign shows
// up at 1e-2 or more.
TEST_P(EriDctSides, EachBasisFunctionMatchesTheProductOfCosines) {
    const int side = GetParam();
    double worst = 0;
    for (int v = 0; v < side; ++v) {
        for (int u = 0; u < side; ++u) {
            std::vector<double> x(side * side, 0.0);
            x[v * side + u] = 1.0;
            const std::vector<double> fast = RunFast(x, side);
            for (int y = 0; y < side; ++y) {
                for (int px = 0; px < side; ++px) {
                    const double expected = Basis(v, y, side) * Basis(u, px, side);
                    const double d = std::fabs(fast[y * side + px] - expected);
                    worst = std::max(worst, d);
                    ASSERT_LT(d, 5e-6)
                        << "side " << side << " v " << v << " u " << u << " y " << y << " x " << px;
                }
            }
        }
    }
    RecordProperty("worst", std::to_string(worst));
}

// Full random blocks against the double sum. The tolerance scales with the
// sum of magnitudes (the bound of any output) at a few single
// precision units, far below what one wrong term would cost.
TEST_P(EriDctSides, RandomBlocksMatchTheDirectDoubleSum) {
    const int side = GetParam();
    std::mt19937 random(1234 + side);
    std::uniform_real_distribution<double> value(-1000.0, 1000.0);
    std::uniform_int_distribution<int> coin(0, 3);
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<double> x(side * side, 0.0);
        double magnitude = 0;
        for (double& c : x) {
            // Half the trials sparse, as quantised blocks are.
            if (trial % 2 == 0 || coin(random) == 0) c = std::round(value(random));
            magnitude += std::fabs(c);
        }
        const std::vector<double> expected = test::DirectInverseDct(x, side);
        const std::vector<double> fast = RunFast(x, side);
        EXPECT_LT(MaxDifference(fast, expected), 3e-7 * magnitude) << "trial " << trial;
    }
}

TEST_P(EriDctSides, DcOnlyBlockIsFlatAndExact) {
    const int side = GetParam();
    std::vector<double> x(side * side, 0.0);
    x[0] = 117.25;
    for (double v : RunFast(x, side))
        EXPECT_EQ(v, 117.25);
}

// The forward transform of the test encoder is the inverse of the decoder's.
TEST_P(EriDctSides, ForwardThenFastInverseRestoresTheSamples) {
    const int side = GetParam();
    std::mt19937 random(99 + side);
    std::uniform_real_distribution<double> sample(-128.0, 383.0);
    std::vector<double> s(side * side);
    for (double& v : s)
        v = sample(random);
    EXPECT_LT(MaxDifference(RunFast(test::ForwardDct(s, side), side), s), 1e-3);
    EXPECT_LT(MaxDifference(test::DirectInverseDct(test::ForwardDct(s, side), side), s), 1e-9);
}

// Four interleaved blocks come out bit for bit as the single-block transform
// gives them, whatever their neighbours hold: a dense block, a sparse one, a
// lone DC term and an empty block side by side.
TEST_P(EriDctSides, FourInterleavedBlocksEqualTheSingleTransformExactly) {
    const int side = GetParam();
    const int area = side * side;
    std::mt19937 random(7 + side);
    std::uniform_int_distribution<int> value(-2000, 2000);
    std::uniform_int_distribution<int> coin(0, 7);
    std::vector<float> single[4];
    std::vector<float> four(4 * area);
    for (int b = 0; b < 4; ++b) {
        single[b].assign(area, 0.0f);
        for (int i = 0; i < area; ++i) {
            const bool set = b == 0 || (b == 1 && coin(random) == 0) || (b == 2 && i == 0);
            // Odd values at a coarse step, as dequantised coefficients are.
            if (set) single[b][i] = static_cast<float>(value(random)) * 10.6666667f;
        }
        for (int i = 0; i < area; ++i)
            four[4 * i + b] = single[b][i];
        ASSERT_TRUE(EriInverseDct(single[b].data(), side));
    }
    ASSERT_TRUE(EriInverseDctFour(four.data(), side));
    for (int b = 0; b < 4; ++b)
        for (int i = 0; i < area; ++i)
            ASSERT_EQ(four[4 * i + b], single[b][i]) << "block " << b << " at " << i;
}

INSTANTIATE_TEST_SUITE_P(Sides, EriDctSides, ::testing::Values(8, 16, 32));

TEST(EriDct, UnsupportedSideLeavesTheBlockAlone) {
    std::vector<float> block(16 * 16, 3.0f);
    for (int side : {0, 2, 4, 12, 64})
        EXPECT_FALSE(EriInverseDct(block.data(), side));
    for (int side : {0, 4, 12, 64})
        EXPECT_FALSE(EriInverseDctFour(block.data(), side));
    for (float v : block)
        EXPECT_EQ(v, 3.0f);
}

TEST(EriDct, TablesAreBuiltOnceForEverySize) {
    const EriDctTables& a = GetEriDctTables();
    EXPECT_EQ(&a, &GetEriDctTables());
    for (int k = 1; k <= EriDctTables::kMaxSizeLog2; ++k) {
        const int n = 1 << k;
        ASSERT_NE(a.cosines[k], nullptr);
        // Last entry of each size: cos((2n - 1) pi / 4n), just below cos(pi / 2) from above.
        EXPECT_NEAR(a.cosines[k][n - 1], std::sin(std::numbers::pi / (4.0 * n)), 1e-7);
    }
    EXPECT_FLOAT_EQ(a.twoCosQuarter, std::sqrt(2.0f));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(a.m4[i][0], 0.5f);
}

} // namespace
} // namespace pelo
