// Reconstruction of one lossy ERI macro-block (2s x 2s pixels) from its
// quantised values: dequantisation, zigzag placement, inverse transform,
// chroma upsampling and colour conversion into four quarter blocks of
// blue/green/red(/alpha) planes for the lossy block writers. Knows nothing of
// the bit stream.
#pragma once

#include "eri/EriImageInfo.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pelo {

// Most blocks a macro-block holds: full-resolution chroma with alpha.
inline constexpr int kMaxEriLossyBlocks = 16;

// Blocks per macro-block for a chroma sampling code (alpha adds four), or 0
// for an unknown code.
int EriLossyBlockCount(std::uint32_t chromaSampling, bool alpha);

// Position (y * side + x) of each zigzag index: (0,0), (1,0), (0,1), (0,2),
// (1,1), (2,0), ... alternating diagonals. side * side entries.
void MakeEriZigzag(int side, std::uint16_t* positions);

class EriLossyMacroBlock {
public:
    // degree 3..5, a known chroma code; q0 and q1 the frame's luma and chroma
    // DC step bytes. False for anything else.
    bool Init(int degree, std::uint32_t chromaSampling, bool alpha, std::uint8_t lumaStep,
              std::uint8_t chromaStep);

    int Side() const { return side_; }
    int Area() const { return area_; }
    int BlockCount() const { return blocks_; }
    bool HasAlpha() const { return alpha_; }

    // dc: the predicted DC value of each block; ac: (area - 1) * blocks values
    // ordered by zigzag index first (from 1) and block second; params: the
    // macro-block's four step bytes. Fills the four quarter blocks.
    void Reconstruct(const std::int64_t* dc, const std::int32_t* ac, const std::uint8_t* params);

    // Plane channel (0 blue, 1 green, 2 red, 3 alpha) of quarter block
    // quarter (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right, in
    // stream rows), side x side values with a row pitch of side.
    const float* Plane(int channel, int quarter) const { return planes_[quarter][channel]; }
    // The four planes of a quarter block, as the block writers take them.
    const float* const* Planes(int quarter) const { return planes_[quarter]; }

private:
    // Blocks are kept four to a group, interleaved (value i of the group's
    // block b at [i * 4 + b]), so that the transform, the colour conversion
    // and the dequantisation all run on four blocks at once: group 0 holds
    // the luma blocks (quarters 0..3), then come the chroma groups, then the
    // alpha group.
    struct Group {
        int firstBlock = 0; // block of lane 0
        int lanes = 0;      // blocks in the group (2 or 4); the rest stay zero
        bool chroma = false;
    };
    void PlaceCoefficients(const std::int64_t* dc, const std::int32_t* ac,
                           const std::uint8_t* params, bool* anyAc);
    void ColourConvert();
    float* GroupSamples(int g) { return samples_.get() + static_cast<std::size_t>(g) * 4 * area_; }

    int side_ = 0;
    int area_ = 0;
    int blocks_ = 0;
    int chromaPerChannel_ = 0;
    bool alpha_ = false;
    int groupCount_ = 0;
    Group groups_[4] = {};
    float stepFactors_[256] = {}; // StepFactor of every step byte at this side
    float lumaDcFactor_ = 0;
    float chromaDcFactor_ = 0;
    std::unique_ptr<std::uint16_t[]> zigzag_;
    std::unique_ptr<float[]> samples_; // groups x area x 4, transformed in place
    std::unique_ptr<float[]> output_;  // 4 quarters x 4 channels x area
    const float* planes_[4][4] = {};
};

} // namespace pelo
