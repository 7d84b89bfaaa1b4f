// What the colour pass gives the step scan: keys from the red, green and blue
// classes and blends with the colour mix, alpha left as it was. One per band
// of a scan: the caches of mixes are its own.
#pragma once

#include "image/PixelBlend.h"
#include "image/StepSmoother.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace pelo {

class ColourStep {
public:
    // F (1..255) and the settings the mix uses; throws std::bad_alloc.
    explicit ColourStep(const ColourBlendSettings& settings);

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

    bool Blend(const std::uint8_t* s, const std::uint8_t* t, std::uint32_t& pixel, int w) {
        if (w <= 0 || w >= 256) return BlendOutsideWeights(s, t, pixel, w);
        const std::uint32_t sc = ColourOf(s);
        const std::uint32_t tc = ColourOf(t);
        const std::uint64_t tag = std::uint64_t{1} << 63 | std::uint64_t{sc} << 32 |
                                  std::uint64_t{tc} << 8 | static_cast<std::uint64_t>(w);
        MixEntry& e = mixes_[(tag * 0x9E3779B97F4A7C15ull) >> (64 - kMixBits)];
        const std::uint32_t bgr = e.tag == tag ? e.bgr : Mix(e, tag, sc, tc, w);
        pixel = bgr | std::uint32_t{t[3]} << 24; // alpha stays
        return true;
    }

private:
    static std::uint32_t ColourOf(const std::uint8_t* p) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        return word & 0x00FFFFFFu;
    }

    // Results of earlier mixes of the same colours and weight; MixColour is
    // a pure function of them, so a hit gives the very bytes a mix would.
    struct MixEntry {
        std::uint64_t tag = 0; // 0: empty
        std::uint32_t bgr = 0;
    };
    static constexpr int kMixBits = 12;

    [[gnu::noinline]] std::uint32_t Mix(MixEntry& e, std::uint64_t tag, std::uint32_t sc,
                                        std::uint32_t tc, int w);
    bool BlendOutsideWeights(const std::uint8_t* s, const std::uint8_t* t, std::uint32_t& pixel,
                             int w);
    const ColourTerms& Terms(std::uint32_t colour);

    struct TermsEntry {
        std::uint32_t tag = 0; // colour | 1 << 24, 0: empty
        ColourTerms terms;
    };
    static constexpr int kTermsBits = 10;

    ColourBlendSettings settings_;
    int shift_ = -1; // log2 F when F is a power of two
    std::uint32_t mask_ = 0;
    std::uint32_t classes_[3][256] = {};
    std::unique_ptr<MixEntry[]> mixes_;
    std::unique_ptr<TermsEntry[]> terms_;
};

} // namespace pelo
