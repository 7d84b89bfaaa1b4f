// The colour pass: steps where red, green and blue classes differ, blended
// with blendColour. Alpha is left as it was.
#pragma once

#include "image/ImageView.h"
#include "image/PixelBlend.h"
#include "image/StepSmoother.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace pelo {

class ColourSmoother {
public:
    // 0, or kImageNoWorkArea (-6) with the picture unchanged.
    int Run(const ImageView& view, const AntiAliasParams& params);
    int status() const { return status_; }

private:
    template <class> friend class StepSmoother;

    // Equal keys <=> equal red, green and blue classes. For F a power of two
    // the classes are the bytes shifted right, packed in place.
    std::uint32_t Key(const std::uint8_t* p) const {
        if (shift_ >= 0) {
            std::uint32_t word;
            std::memcpy(&word, p, 4);
            return (word >> shift_) & mask_;
        }
        return classes_[0][p[0]] | classes_[1][p[1]] | classes_[2][p[2]];
    }
    void KeyRow(const std::uint8_t* row, std::uint32_t* keys, int n) const;
    bool Blend(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w);
    const ColourTerms& Terms(std::uint32_t colour);

    // Results of earlier mixes of the same colours and weight; blendColour is
    // a pure function of them, so a hit gives the very bytes a mix would.
    struct MixEntry {
        std::uint64_t tag = 0; // 0: empty
        std::uint32_t bgr = 0;
    };
    struct TermsEntry {
        std::uint32_t tag = 0; // colour | 1 << 24, 0: empty
        ColourTerms terms;
    };
    static constexpr int kMixBits = 12;
    static constexpr int kTermsBits = 10;

    int status_ = 0;
    int baseWeight_ = kBaseWeight;
    int f_ = 0;
    ColourBlendSettings settings_;
    int shift_ = -1; // log2 F when F is a power of two
    std::uint32_t mask_ = 0;
    std::uint32_t classes_[3][256] = {};
    std::unique_ptr<MixEntry[]> mixes_;
    std::unique_ptr<TermsEntry[]> terms_;
};

} // namespace pelo
