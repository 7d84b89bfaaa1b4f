#include "eri/EriLossyMacroBlock.h"

#include "eri/EriDct.h"

#include <algorithm>
#include <new>

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

// Blue = Y + 1.5 V, green = Y - 0.375 U - 0.75 V, red = Y + 1.75 U. The
// planes never overlap, which lets the loop run on vectors.
void ConvertColours(const float* __restrict luma, const float* __restrict u,
                    const float* __restrict v, float* __restrict blue, float* __restrict green,
                    float* __restrict red, int count) {
    for (int i = 0; i < count; ++i) {
        blue[i] = luma[i] + 1.5f * v[i];
        green[i] = luma[i] - 0.375f * u[i] - 0.75f * v[i];
        red[i] = luma[i] + 1.75f * u[i];
    }
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

bool EriLossyMacroBlock::init(int degree, std::uint32_t chromaSampling, bool alpha,
                              std::uint8_t lumaStep, std::uint8_t chromaStep) {
    if (degree < 3 || degree > 5) return false;
    const int chroma = ChromaBlocksPerChannel(chromaSampling);
    if (chroma == 0) return false;
    const int side = 1 << degree;
    const int area = side * side;
    const int blocks = EriLossyBlockCount(chromaSampling, alpha);
    if (side != side_ || blocks != blocks_) {
        zigzag_ = NewArray<std::uint16_t>(area);
        coefficients_ = NewArray<float>(static_cast<std::size_t>(blocks) * area);
        output_ = NewArray<float>(static_cast<std::size_t>(16) * area);
        chroma_[0] = NewArray<float>(area);
        chroma_[1] = NewArray<float>(area);
        if (!zigzag_ || !coefficients_ || !output_ || !chroma_[0] || !chroma_[1]) {
            side_ = blocks_ = 0;
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
    lumaDcFactor_ = StepFactor(lumaStep, side);
    chromaDcFactor_ = StepFactor(chromaStep, side);
    return true;
}

void EriLossyMacroBlock::reconstruct(const std::int64_t* dc, const std::int32_t* ac,
                                     const std::uint8_t* params) {
    const int s = side_;
    const int a = area_;
    const int lowEnd = (s - 1) * s / 2; // first zigzag index of the high band
    const float lumaLow = StepFactor(params[0], s);
    const float chromaLow = StepFactor(params[1], s);
    const float lumaHigh = StepFactor(params[2], s);
    const float chromaHigh = StepFactor(params[3], s);
    const int chromaFirst = 4;
    const int chromaEnd = 4 + 2 * chromaPerChannel_;
    const std::uint16_t* zigzag = zigzag_.get();

    float lowFactor[kMaxEriLossyBlocks], highFactor[kMaxEriLossyBlocks];
    std::int32_t anyAc[kMaxEriLossyBlocks];
    float* matrices[kMaxEriLossyBlocks];
    for (int b = 0; b < blocks_; ++b) {
        const bool isChroma = b >= chromaFirst && b < chromaEnd;
        lowFactor[b] = isChroma ? chromaLow : lumaLow;
        highFactor[b] = isChroma ? chromaHigh : lumaHigh;
        anyAc[b] = 0;
        matrices[b] = coefficients_.get() + static_cast<std::size_t>(b) * a;
        matrices[b][0] = static_cast<float>(dc[b]) * (isChroma ? chromaDcFactor_ : lumaDcFactor_);
    }
    for (int b = 0; b < blocks_; ++b)
        std::fill(matrices[b] + 1, matrices[b] + a, 0.0f);
    // The values arrive zigzag index first, block second. Most positions are
    // zero in every block, so a position is looked at as a whole first.
    const std::int32_t* values = ac;
    for (int i = 1; i < a; ++i, values += blocks_) {
        std::int32_t any = 0;
        for (int b = 0; b < blocks_; ++b)
            any |= values[b];
        if (any == 0) continue;
        const int position = zigzag[i];
        const float* factors = i < lowEnd ? lowFactor : highFactor;
        for (int b = 0; b < blocks_; ++b) {
            anyAc[b] |= values[b];
            matrices[b][position] = static_cast<float>(values[b]) * factors[b];
        }
    }
    for (int b = 0; b < blocks_; ++b) {
        float* matrix = coefficients_.get() + static_cast<std::size_t>(b) * a;
        if (anyAc[b]) {
            EriInverseDct(matrix, s);
        } else {
            // A lone DC term transforms into a flat block (exactly: every
            // other term contributes an exact zero).
            std::fill(matrix, matrix + a, matrix[0]);
        }
    }
    for (int q = 0; q < 4; ++q)
        colourConvert(q);
}

void EriLossyMacroBlock::colourConvert(int quarter) {
    const int s = side_;
    const int a = area_;
    const int half = s / 2;
    const float* planes = coefficients_.get();
    const float* luma = planes + static_cast<std::size_t>(quarter) * a;
    const float* u = nullptr;
    const float* v = nullptr;
    if (chromaPerChannel_ == 4) {
        u = planes + static_cast<std::size_t>(4 + quarter) * a;
        v = planes + static_cast<std::size_t>(8 + quarter) * a;
    } else {
        float* ups[2] = {chroma_[0].get(), chroma_[1].get()};
        for (int c = 0; c < 2; ++c) {
            float* up = ups[c];
            if (chromaPerChannel_ == 2) {
                // Block k of a channel holds quarters 2k (upper half rows)
                // and 2k + 1 (lower half rows), each row used twice.
                const float* src = planes + static_cast<std::size_t>(4 + 2 * c + quarter / 2) * a +
                                   static_cast<std::size_t>(quarter % 2) * half * s;
                for (int y = 0; y < s; ++y)
                    std::copy(src + (y / 2) * s, src + (y / 2) * s + s, up + y * s);
            } else {
                // One block per channel; each quarter takes one s/2 x s/2
                // corner, each sample covering 2 x 2 pixels.
                const float* src = planes + static_cast<std::size_t>(4 + c) * a +
                                   static_cast<std::size_t>(quarter / 2) * half * s +
                                   (quarter % 2) * half;
                for (int y = 0; y < s; ++y) {
                    const float* row = src + (y / 2) * s;
                    float* out = up + y * s;
                    for (int x = 0; x < s; ++x)
                        out[x] = row[x / 2];
                }
            }
        }
        u = ups[0];
        v = ups[1];
    }
    float* blue = output_.get() + (static_cast<std::size_t>(quarter) * 4 + 0) * a;
    ConvertColours(luma, u, v, blue, blue + a, blue + 2 * a, a);
    if (alpha_) {
        const int alphaFirst = 4 + 2 * chromaPerChannel_;
        const float* alpha = planes + static_cast<std::size_t>(alphaFirst + quarter) * a;
        std::copy(alpha, alpha + a, blue + 3 * a);
    }
}

} // namespace pelo
