#include "eri/EriDct.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <numbers>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

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
#if defined(__SSE2__)
// The eight-point step of InverseLanes on four lanes held in registers, for
// the four-block transform of side 8: the same operations in the same order.
struct EightPointVectors {
    __m128 cosQuarter, twoCosQuarter, two;
    __m128 c2[2], c4[4], f[4][4];
    explicit EightPointVectors(const EriDctTables& t)
        : cosQuarter(_mm_set1_ps(t.cosQuarter)), twoCosQuarter(_mm_set1_ps(t.twoCosQuarter)),
          two(_mm_set1_ps(2.0f)) {
        for (int i = 0; i < 2; ++i)
            c2[i] = _mm_set1_ps(t.cosines[1][i]);
        for (int i = 0; i < 4; ++i)
            c4[i] = _mm_set1_ps(t.cosines[2][i]);
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                f[j][i] = _mm_set1_ps(t.f4[j][i]);
    }
};

inline __m128 OddSum(const EightPointVectors& k, int j, __m128 w0, __m128 w1, __m128 w2,
                     __m128 w3) {
    return _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(w0, k.f[j][0]), _mm_mul_ps(w1, k.f[j][1])),
                                 _mm_mul_ps(w2, k.f[j][2])),
                      _mm_mul_ps(w3, k.f[j][3]));
}

inline void InverseEight(float* x, std::ptrdiff_t p, const EightPointVectors& k) {
    const __m128 x0 = _mm_loadu_ps(x), x1 = _mm_loadu_ps(x + p), x2 = _mm_loadu_ps(x + 2 * p),
                 x3 = _mm_loadu_ps(x + 3 * p), x4 = _mm_loadu_ps(x + 4 * p),
                 x5 = _mm_loadu_ps(x + 5 * p), x6 = _mm_loadu_ps(x + 6 * p),
                 x7 = _mm_loadu_ps(x + 7 * p);
    const __m128 pe = _mm_mul_ps(x4, k.cosQuarter);
    const __m128 e0 = _mm_add_ps(x0, pe);
    const __m128 e1 = _mm_sub_ps(x0, pe);
    const __m128 v0 = _mm_mul_ps(x2, k.c2[0]);
    const __m128 v1 = _mm_mul_ps(x6, k.c2[1]);
    const __m128 o0 = _mm_add_ps(v0, v1);
    const __m128 o1 = _mm_sub_ps(_mm_mul_ps(_mm_sub_ps(v0, v1), k.twoCosQuarter), o0);
    const __m128 even0 = _mm_add_ps(e0, o0), even3 = _mm_sub_ps(e0, o0), even1 = _mm_add_ps(e1, o1),
                 even2 = _mm_sub_ps(e1, o1);
    const __m128 w0 = _mm_mul_ps(x1, k.c4[0]);
    const __m128 w1 = _mm_mul_ps(x3, k.c4[1]);
    const __m128 w2 = _mm_mul_ps(x5, k.c4[2]);
    const __m128 w3 = _mm_mul_ps(x7, k.c4[3]);
    const __m128 odd0 = OddSum(k, 0, w0, w1, w2, w3);
    const __m128 odd1 = _mm_sub_ps(_mm_mul_ps(k.two, OddSum(k, 1, w0, w1, w2, w3)), odd0);
    const __m128 odd2 = _mm_sub_ps(_mm_mul_ps(k.two, OddSum(k, 2, w0, w1, w2, w3)), odd1);
    const __m128 odd3 = _mm_sub_ps(_mm_mul_ps(k.two, OddSum(k, 3, w0, w1, w2, w3)), odd2);
    _mm_storeu_ps(x, _mm_add_ps(even0, odd0));
    _mm_storeu_ps(x + 7 * p, _mm_sub_ps(even0, odd0));
    _mm_storeu_ps(x + p, _mm_add_ps(even1, odd1));
    _mm_storeu_ps(x + 6 * p, _mm_sub_ps(even1, odd1));
    _mm_storeu_ps(x + 2 * p, _mm_add_ps(even2, odd2));
    _mm_storeu_ps(x + 5 * p, _mm_sub_ps(even2, odd2));
    _mm_storeu_ps(x + 3 * p, _mm_add_ps(even3, odd3));
    _mm_storeu_ps(x + 4 * p, _mm_sub_ps(even3, odd3));
}
#endif

template <int S> void Inverse2DFour(float* blocks, const EriDctTables& t) {
#if defined(__SSE2__)
    if constexpr (S == 8) {
        const EightPointVectors k(t);
        for (int u = 0; u < 8; ++u)
            InverseEight(blocks + 4 * u, 32, k); // column u of the four blocks
        for (int y = 0; y < 8; ++y)
            InverseEight(blocks + 32 * y, 4, k); // row y
        return;
    }
#endif
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

namespace {

// Runs transform.template operator()<N>() for the supported block sides.
template <typename Transform> bool ForBlockSide(int side, Transform&& transform) {
    switch (side) {
    case 8:
        transform.template operator()<8>();
        return true;
    case 16:
        transform.template operator()<16>();
        return true;
    case 32:
        transform.template operator()<32>();
        return true;
    default:
        return false;
    }
}

} // namespace

bool EriInverseDctFour(float* blocks, int side) {
    const EriDctTables& t = GetEriDctTables();
    return ForBlockSide(side, [&]<int N>() { Inverse2DFour<N>(blocks, t); });
}

bool EriInverseDct(float* block, int side) {
    const EriDctTables& t = GetEriDctTables();
    return ForBlockSide(side, [&]<int N>() { Inverse2D<N>(block, t); });
}

} // namespace pelo
