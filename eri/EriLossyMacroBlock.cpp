#include "eri/EriLossyMacroBlock.h"

#include "eri/EriDct.h"

#include <algorithm>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace pelo {
namespace {

template <typename T> std::unique_ptr<T[]> NewArray(std::size_t n) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[n]());
}

int ChromaBlocksPerChannel(std::uint32_t chromaSampling) {
    switch (chromaSampling) {
    case kEriChroma444:
        return 4;
    case kEriChroma422:
        return 2;
    case kEriChroma411:
        return 1;
    default:
        return 0;
    }
}

// Step of a step byte: 256 / (p + 1) scaled by the transform factor 2 / s.
// 2 / s is a power of two, so the product rounds once, like the quotient.
float StepFactor(std::uint8_t step, int side) {
    return static_cast<float>(256.0 / (step + 1) * 2.0 / side);
}

} // namespace

int EriLossyBlockCount(std::uint32_t chromaSampling, bool alpha) {
    const int chroma = ChromaBlocksPerChannel(chromaSampling);
    if (chroma == 0) return 0;
    return 4 + 2 * chroma + (alpha ? 4 : 0);
}

void MakeEriZigzag(int side, std::uint16_t* positions) {
    int index = 0;
    for (int d = 0; d <= 2 * (side - 1); ++d) {
        const int low = std::max(0, d - (side - 1));
        const int high = std::min(d, side - 1);
        // Odd diagonals run down to the left (x falling), even ones up to
        // the right (x rising).
        for (int i = 0; i <= high - low; ++i) {
            const int x = (d % 2 == 1) ? high - i : low + i;
            const int y = d - x;
            positions[index++] = static_cast<std::uint16_t>(y * side + x);
        }
    }
}

bool EriLossyMacroBlock::Init(int degree, std::uint32_t chromaSampling, bool alpha,
                              std::uint8_t lumaStep, std::uint8_t chromaStep) {
    if (degree < 3 || degree > 5) return false;
    const int chroma = ChromaBlocksPerChannel(chromaSampling);
    if (chroma == 0) return false;
    const int side = 1 << degree;
    const int area = side * side;
    const int blocks = EriLossyBlockCount(chromaSampling, alpha);
    Group groups[4];
    int count = 0;
    groups[count++] = {0, 4, false};
    if (chroma == 4) {
        groups[count++] = {4, 4, true};
        groups[count++] = {8, 4, true};
    } else {
        // Both channels in one group: U0 U1 V0 V1, or U V and two idle lanes.
        groups[count++] = {4, 2 * chroma, true};
    }
    if (alpha) groups[count++] = {4 + 2 * chroma, 4, false};
    if (side != side_ || count != groupCount_) {
        zigzag_ = NewArray<std::uint16_t>(area);
        samples_ = NewArray<float>(static_cast<std::size_t>(count) * 4 * area);
        output_ = NewArray<float>(static_cast<std::size_t>(16) * area);
        if (!zigzag_ || !samples_ || !output_) {
            side_ = blocks_ = groupCount_ = 0;
            return false;
        }
        MakeEriZigzag(side, zigzag_.get());
        for (int q = 0; q < 4; ++q)
            for (int c = 0; c < 4; ++c)
                planes_[q][c] = output_.get() + (static_cast<std::size_t>(q) * 4 + c) * area;
    }
    side_ = side;
    area_ = area;
    blocks_ = blocks;
    chromaPerChannel_ = chroma;
    alpha_ = alpha;
    groupCount_ = count;
    std::copy(groups, groups + count, groups_);
    for (int p = 0; p < 256; ++p)
        stepFactors_[p] = StepFactor(static_cast<std::uint8_t>(p), side);
    lumaDcFactor_ = stepFactors_[lumaStep];
    chromaDcFactor_ = stepFactors_[chromaStep];
    return true;
}

namespace {

// One band of zigzag indexes [from, to) of a group: each value times the
// band's factor, at its place in the interleaved matrices. Lanes past the
// group's blocks get zeros. any collects the bits of every value.
template <int Lanes>
const std::int32_t* PlaceBand(const std::int32_t* values, std::size_t step,
                              const std::uint16_t* zigzag, int from, int to, float factor,
                              float* out, std::int32_t& any) {
#if defined(__SSE2__)
    const __m128 f = _mm_set1_ps(factor);
    __m128i bits = _mm_setzero_si128();
    for (int i = from; i < to; ++i, values += step) {
        const __m128i n = Lanes == 4 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(values))
                                     : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(values));
        bits = _mm_or_si128(bits, n);
        _mm_storeu_ps(out + 4 * zigzag[i], _mm_mul_ps(_mm_cvtepi32_ps(n), f));
    }
    bits = _mm_or_si128(bits, _mm_srli_si128(bits, 8));
    bits = _mm_or_si128(bits, _mm_srli_si128(bits, 4));
    any |= _mm_cvtsi128_si32(bits);
#else
    for (int i = from; i < to; ++i, values += step) {
        float* at = out + 4 * zigzag[i];
        for (int l = 0; l < 4; ++l) {
            const std::int32_t n = l < Lanes ? values[l] : 0;
            any |= n;
            at[l] = static_cast<float>(n) * factor;
        }
    }
#endif
    return values;
}

} // namespace

void EriLossyMacroBlock::PlaceCoefficients(const std::int64_t* dc, const std::int32_t* ac,
                                           const std::uint8_t* params, bool* anyAc) {
    const int a = area_;
    const int lowEnd = (side_ - 1) * side_ / 2; // first zigzag index of the high band
    const float* factors = stepFactors_;
    const float lumaLow = factors[params[0]];
    const float chromaLow = factors[params[1]];
    const float lumaHigh = factors[params[2]];
    const float chromaHigh = factors[params[3]];
    const std::uint16_t* zigzag = zigzag_.get();
    const std::size_t step = static_cast<std::size_t>(blocks_);
    for (int g = 0; g < groupCount_; ++g) {
        const Group& info = groups_[g];
        float* out = GroupSamples(g);
        const float dcFactor = info.chroma ? chromaDcFactor_ : lumaDcFactor_;
        const float low = info.chroma ? chromaLow : lumaLow;
        const float high = info.chroma ? chromaHigh : lumaHigh;
        for (int l = 0; l < 4; ++l)
            out[l] = l < info.lanes ? static_cast<float>(dc[info.firstBlock + l]) * dcFactor : 0.0f;
        // The values arrive zigzag index first, block second; every position
        // is written, so nothing of the previous macro-block remains.
        const std::int32_t* values = ac + info.firstBlock;
        std::int32_t any = 0;
        if (info.lanes == 4) {
            values = PlaceBand<4>(values, step, zigzag, 1, lowEnd, low, out, any);
            PlaceBand<4>(values, step, zigzag, lowEnd, a, high, out, any);
        } else {
            values = PlaceBand<2>(values, step, zigzag, 1, lowEnd, low, out, any);
            PlaceBand<2>(values, step, zigzag, lowEnd, a, high, out, any);
        }
        anyAc[g] = any != 0;
    }
}

void EriLossyMacroBlock::Reconstruct(const std::int64_t* dc, const std::int32_t* ac,
                                     const std::uint8_t* params) {
    bool anyAc[4];
    PlaceCoefficients(dc, ac, params, anyAc);
    for (int g = 0; g < groupCount_; ++g) {
        float* blocks = GroupSamples(g);
        if (anyAc[g]) {
            EriInverseDctFour(blocks, side_);
        } else {
            // Lone DC terms transform into flat blocks (exactly: every other
            // term contributes a zero, and the sign of a zero never reaches
            // a pixel).
            for (int i = 1; i < area_; ++i)
                std::copy(blocks, blocks + 4, blocks + 4 * i);
        }
    }
    ColourConvert();
}

namespace {

#if defined(__SSE2__)
// Chroma of pixel (x, y) of every quarter, lanes being quarters, from the
// interleaved chroma blocks of a layout with Chroma blocks per channel.
template <int Chroma>
inline void QuarterChroma(const float* chroma, int s, int a, int x, int y, __m128& u, __m128& v) {
    const int half = s / 2;
    if constexpr (Chroma == 4) {
        u = _mm_loadu_ps(chroma + 4 * (y * s + x));
        v = _mm_loadu_ps(chroma + 4 * a + 4 * (y * s + x));
    } else if constexpr (Chroma == 2) {
        // Lanes U0 U1 V0 V1; quarters 0 and 2 from the upper rows of their
        // block, 1 and 3 from the lower ones.
        const __m128 upper = _mm_loadu_ps(chroma + 4 * ((y / 2) * s + x));
        const __m128 lower = _mm_loadu_ps(chroma + 4 * ((half + y / 2) * s + x));
        u = _mm_unpacklo_ps(upper, lower);
        v = _mm_unpackhi_ps(upper, lower);
    } else {
        // Lanes U V; quarter q from corner (q / 2, q % 2).
        const int r0 = (y / 2) * s, r1 = (half + y / 2) * s;
        const int c0 = x / 2, c1 = half + x / 2;
        const __m128 top = _mm_unpacklo_ps(_mm_loadu_ps(chroma + 4 * (r0 + c0)),
                                           _mm_loadu_ps(chroma + 4 * (r0 + c1)));
        const __m128 bottom = _mm_unpacklo_ps(_mm_loadu_ps(chroma + 4 * (r1 + c0)),
                                              _mm_loadu_ps(chroma + 4 * (r1 + c1)));
        u = _mm_movelh_ps(top, bottom);
        v = _mm_movehl_ps(bottom, top);
    }
}

// Four vectors (pixels x .. x + 3, lanes quarters) stored as four pixels of
// each quarter's plane.
inline void StoreQuarters(__m128 r0, __m128 r1, __m128 r2, __m128 r3, float* plane,
                          std::size_t quarterStep) {
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    _mm_storeu_ps(plane, r0);
    _mm_storeu_ps(plane + quarterStep, r1);
    _mm_storeu_ps(plane + 2 * quarterStep, r2);
    _mm_storeu_ps(plane + 3 * quarterStep, r3);
}

template <int Chroma>
void ConvertQuarters(const float* __restrict luma, const float* __restrict chroma,
                     const float* __restrict alpha, float* __restrict out, int s) {
    const int a = s * s;
    const std::size_t quarterStep = static_cast<std::size_t>(4) * a;
    const __m128 blueV = _mm_set1_ps(1.5f), greenU = _mm_set1_ps(0.375f),
                 greenV = _mm_set1_ps(0.75f), redU = _mm_set1_ps(1.75f);
    for (int y = 0; y < s; ++y) {
        for (int x = 0; x < s; x += 4) {
            const int p = y * s + x;
            __m128 blue[4], green[4], red[4];
            for (int k = 0; k < 4; ++k) {
                __m128 u, v;
                QuarterChroma<Chroma>(chroma, s, a, x + k, y, u, v);
                const __m128 l = _mm_loadu_ps(luma + 4 * (p + k));
                blue[k] = _mm_add_ps(l, _mm_mul_ps(blueV, v));
                green[k] = _mm_sub_ps(_mm_sub_ps(l, _mm_mul_ps(greenU, u)), _mm_mul_ps(greenV, v));
                red[k] = _mm_add_ps(l, _mm_mul_ps(redU, u));
            }
            StoreQuarters(blue[0], blue[1], blue[2], blue[3], out + p, quarterStep);
            StoreQuarters(green[0], green[1], green[2], green[3], out + a + p, quarterStep);
            StoreQuarters(red[0], red[1], red[2], red[3], out + 2 * a + p, quarterStep);
            if (alpha) {
                const float* at = alpha + 4 * p;
                StoreQuarters(_mm_loadu_ps(at), _mm_loadu_ps(at + 4), _mm_loadu_ps(at + 8),
                              _mm_loadu_ps(at + 12), out + 3 * a + p, quarterStep);
            }
        }
    }
}
#endif

} // namespace

// Lanes are quarters here: luma, alpha and (full resolution) chroma lane q is
// quarter q. The results are turned back into one plane per quarter and
// channel for the writers.
void EriLossyMacroBlock::ColourConvert() {
    const int s = side_;
    const float* luma = GroupSamples(0);
    const float* chroma = GroupSamples(1);
    const float* alpha = alpha_ ? GroupSamples(groupCount_ - 1) : nullptr;
    float* out = output_.get();
#if defined(__SSE2__)
    switch (chromaPerChannel_) {
    case 4:
        ConvertQuarters<4>(luma, chroma, alpha, out, s);
        break;
    case 2:
        ConvertQuarters<2>(luma, chroma, alpha, out, s);
        break;
    default:
        ConvertQuarters<1>(luma, chroma, alpha, out, s);
        break;
    }
#else
    const int a = area_;
    const int half = s / 2;
    for (int q = 0; q < 4; ++q) {
        for (int y = 0; y < s; ++y) {
            for (int x = 0; x < s; ++x) {
                const int p = y * s + x;
                float u, v;
                if (chromaPerChannel_ == 4) {
                    u = chroma[4 * p + q];
                    v = chroma[4 * a + 4 * p + q];
                } else if (chromaPerChannel_ == 2) {
                    const int at = 4 * (((q % 2) * half + y / 2) * s + x) + q / 2;
                    u = chroma[at];
                    v = chroma[at + 2];
                } else {
                    const int at = 4 * (((q / 2) * half + y / 2) * s + (q % 2) * half + x / 2);
                    u = chroma[at];
                    v = chroma[at + 1];
                }
                const float l = luma[4 * p + q];
                float* plane = out + q * 4 * a + p;
                plane[0] = l + 1.5f * v;
                plane[a] = l - 0.375f * u - 0.75f * v;
                plane[2 * a] = l + 1.75f * u;
                if (alpha) plane[3 * a] = alpha[4 * p + q];
            }
        }
    }
#endif
}

} // namespace pelo
