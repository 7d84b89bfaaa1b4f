#include "eri/EriDct.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace pelo {
namespace {

constexpr int kCosineStorage = (2 << EriDctTables::kMaxSizeLog2) - 2; // 2 + 4 + ... + 2048

struct TableStore {
    EriDctTables tables;
    float storage[kCosineStorage];

    TableStore() {
        const double pi = std::numbers::pi;
        tables.cosQuarter = static_cast<float>(std::cos(pi / 4));
        tables.twoCosQuarter = static_cast<float>(2 * std::cos(pi / 4));
        float* next = storage;
        for (int k = 1; k <= EriDctTables::kMaxSizeLog2; ++k) {
            const int n = 1 << k;
            tables.cosines[k] = next;
            for (int m = 0; m < n; ++m)
                next[m] = static_cast<float>(std::cos((2 * m + 1) * pi / (4.0 * n)));
            next += n;
        }
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                const double m = std::cos(j * (2 * i + 1) * pi / 8);
                tables.m4[i][j] = static_cast<float>(j == 0 ? 0.5 * m : m);
                tables.f4[j][i] = static_cast<float>(std::cos((2 * i + 1) * j * pi / 8));
            }
        }
    }
};

constexpr int Log2(int n) {
    return n <= 1 ? 0 : 1 + Log2(n / 2);
}

// The one-dimensional passes work on N points of L independent lanes:
// point k of lane l is x[k * L + l]. With L = side the column pass runs on
// whole rows at a time, which the compiler turns into vector code.

// Type II of N points, W[j] = sum_k in[k] cos((2k + 1) j pi / (2N)); with
// Half, W[0] is halved. in and out must not overlap; in is clobbered.
template <int N, int L, bool Half>
void ForwardLanes(float* __restrict in, float* __restrict out, const EriDctTables& t) {
    if constexpr (N == 4) {
        float m[4][4];
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                m[j][i] = Half ? t.m4[i][j] : t.f4[j][i];
        for (int j = 0; j < 4; ++j) {
            for (int l = 0; l < L; ++l) {
                out[j * L + l] = in[l] * m[j][0] + in[L + l] * m[j][1] + in[2 * L + l] * m[j][2] +
                                 in[3 * L + l] * m[j][3];
            }
        }
    } else {
        // Even outputs are the half-size transform of the folded sums; odd
        // outputs follow from the half-size transform of the weighted
        // differences by 2 cos(a) cos(b) = cos(a + b) + cos(a - b).
        constexpr int H = N / 2;
        float c[H]; // cos((2k + 1) pi / (2N)), copied so that no store can alias it
        std::memcpy(c, t.cosines[Log2(H)], sizeof c);
        float sums[H * L], diffs[H * L], evens[H * L], odds[H * L];
        for (int k = 0; k < H; ++k) {
            for (int l = 0; l < L; ++l) {
                const float a = in[k * L + l];
                const float b = in[(N - 1 - k) * L + l];
                sums[k * L + l] = a + b;
                diffs[k * L + l] = (a - b) * c[k] * 2.0f;
            }
        }
        ForwardLanes<H, L, false>(sums, evens, t);
        ForwardLanes<H, L, true>(diffs, odds, t);
        for (int l = 0; l < L; ++l) {
            out[l] = Half ? evens[l] * 0.5f : evens[l];
            out[L + l] = odds[l];
        }
        for (int j = 1; j < H; ++j) {
            for (int l = 0; l < L; ++l) {
                out[2 * j * L + l] = evens[j * L + l];
                out[(2 * j + 1) * L + l] = odds[j * L + l] - out[(2 * j - 1) * L + l];
            }
        }
    }
}

// Type III of N points in place, x[n] = sum_k x[k] cos((2n + 1) k pi / (2N)),
// every term weight 1. Point k of lane l is x[k * P + l].
template <int N, int L, int P> void InverseLanes(float* x, const EriDctTables& t) {
    static_assert(P >= L);
    if constexpr (N == 4) {
        const float c[2] = {t.cosines[1][0], t.cosines[1][1]}; // cos(pi / 8), cos(3 pi / 8)
        const float cosQuarter = t.cosQuarter, twoCosQuarter = t.twoCosQuarter;
        for (int l = 0; l < L; ++l) {
            const float p = x[2 * P + l] * cosQuarter;
            const float e0 = x[l] + p;
            const float e1 = x[l] - p;
            const float v0 = x[P + l] * c[0];
            const float v1 = x[3 * P + l] * c[1];
            const float o0 = v0 + v1;
            const float o1 = (v0 - v1) * twoCosQuarter - o0;
            x[l] = e0 + o0;
            x[3 * P + l] = e0 - o0;
            x[P + l] = e1 + o1;
            x[2 * P + l] = e1 - o1;
        }
    } else if constexpr (N == 8) {
        // The general step below written out for eight points, so that every
        // intermediate stays in registers; the same operations in the same
        // order.
        // Local copies of the table values: the block could alias the
        // tables as far as the compiler knows, which would keep the lane loop
        // scalar.
        const float c2[2] = {t.cosines[1][0], t.cosines[1][1]}; // cos(pi / 8), cos(3 pi / 8)
        const float c4[4] = {t.cosines[2][0], t.cosines[2][1], t.cosines[2][2], t.cosines[2][3]};
        float f[4][4];
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                f[j][i] = t.f4[j][i];
        const float cosQuarter = t.cosQuarter, twoCosQuarter = t.twoCosQuarter;
        for (int l = 0; l < L; ++l) {
            const float p = x[4 * P + l] * cosQuarter;
            const float e0 = x[l] + p;
            const float e1 = x[l] - p;
            const float v0 = x[2 * P + l] * c2[0];
            const float v1 = x[6 * P + l] * c2[1];
            const float o0 = v0 + v1;
            const float o1 = (v0 - v1) * twoCosQuarter - o0;
            const float even0 = e0 + o0, even3 = e0 - o0, even1 = e1 + o1, even2 = e1 - o1;
            const float w0 = x[P + l] * c4[0];
            const float w1 = x[3 * P + l] * c4[1];
            const float w2 = x[5 * P + l] * c4[2];
            const float w3 = x[7 * P + l] * c4[3];
            const float odd0 = w0 * f[0][0] + w1 * f[0][1] + w2 * f[0][2] + w3 * f[0][3];
            const float odd1 =
                2.0f * (w0 * f[1][0] + w1 * f[1][1] + w2 * f[1][2] + w3 * f[1][3]) - odd0;
            const float odd2 =
                2.0f * (w0 * f[2][0] + w1 * f[2][1] + w2 * f[2][2] + w3 * f[2][3]) - odd1;
            const float odd3 =
                2.0f * (w0 * f[3][0] + w1 * f[3][1] + w2 * f[3][2] + w3 * f[3][3]) - odd2;
            x[l] = even0 + odd0;
            x[7 * P + l] = even0 - odd0;
            x[P + l] = even1 + odd1;
            x[6 * P + l] = even1 - odd1;
            x[2 * P + l] = even2 + odd2;
            x[5 * P + l] = even2 - odd2;
            x[3 * P + l] = even3 + odd3;
            x[4 * P + l] = even3 - odd3;
        }
    } else {
        // Even frequencies: the half-size inverse. Odd frequencies: weighted by
        // cos((2k + 1) pi / (2N)), a half-size type II gives W, and
        // odd[j] = 2 W[j] - odd[j - 1] unfolds the products of cosines.
        constexpr int H = N / 2;
        float c[H];
        std::memcpy(c, t.cosines[Log2(H)], sizeof c);
        float evens[H * L], weighted[H * L], w[H * L];
        for (int k = 0; k < H; ++k) {
            for (int l = 0; l < L; ++l) {
                evens[k * L + l] = x[2 * k * P + l];
                weighted[k * L + l] = x[(2 * k + 1) * P + l] * c[k];
            }
        }
        InverseLanes<H, L, L>(evens, t);
        ForwardLanes<H, L, false>(weighted, w, t);
        for (int j = 1; j < H; ++j)
            for (int l = 0; l < L; ++l)
                w[j * L + l] = 2.0f * w[j * L + l] - w[(j - 1) * L + l];
        for (int n = 0; n < H; ++n) {
            for (int l = 0; l < L; ++l) {
                x[n * P + l] = evens[n * L + l] + w[n * L + l];
                x[(N - 1 - n) * P + l] = evens[n * L + l] - w[n * L + l];
            }
        }
    }
}

template <int S> void Transpose(float* block) {
    for (int y = 0; y < S; ++y) {
        for (int x = y + 1; x < S; ++x) {
            const float a = block[y * S + x];
            block[y * S + x] = block[x * S + y];
            block[x * S + y] = a;
        }
    }
}

template <int S> void Inverse2D(float* block, const EriDctTables& t) {
    InverseLanes<S, S, S>(block, t); // columns: along v for every u
    Transpose<S>(block);
    InverseLanes<S, S, S>(block, t); // rows, as columns of the transpose
    Transpose<S>(block);
}

// Four interleaved blocks: the columns of all of them are lanes of one pass
// (eight columns at a time, which bounds the temporaries of the larger
// sides), and the rows are transformed in place with the four blocks as
// lanes, so no transposing is needed.
template <int S> void Inverse2DFour(float* blocks, const EriDctTables& t) {
    constexpr int kRow = 4 * S;
    constexpr int kChunk = 32;
    for (int c = 0; c < kRow; c += kChunk)
        InverseLanes<S, kChunk, kRow>(blocks + c, t);
    for (int y = 0; y < S; ++y)
        InverseLanes<S, 4, 4>(blocks + y * kRow, t);
}

} // namespace

const EriDctTables& GetEriDctTables() {
    static const TableStore store;
    return store.tables;
}

bool EriInverseDctFour(float* blocks, int side) {
    const EriDctTables& t = GetEriDctTables();
    switch (side) {
    case 8:
        Inverse2DFour<8>(blocks, t);
        return true;
    case 16:
        Inverse2DFour<16>(blocks, t);
        return true;
    case 32:
        Inverse2DFour<32>(blocks, t);
        return true;
    default:
        return false;
    }
}

bool EriInverseDct(float* block, int side) {
    const EriDctTables& t = GetEriDctTables();
    switch (side) {
    case 8:
        Inverse2D<8>(block, t);
        return true;
    case 16:
        Inverse2D<16>(block, t);
        return true;
    case 32:
        Inverse2D<32>(block, t);
        return true;
    default:
        return false;
    }
}

} // namespace pelo
