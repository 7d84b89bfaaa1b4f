// What the alpha pass gives the step scan: keys from the alpha class and
// blends of alpha alone, colour left as it was.
#pragma once

#include "image/PixelBlend.h"
#include "image/StepSmoother.h"

#include <cstdint>
#include <cstring>

namespace pelo {

class AlphaStep {
public:
    // F from 1 to 255.
    explicit AlphaStep(int f) : f_(f), shift_(PowerOfTwoShift(f)) {
        FillClassTable(classes_, f, 0);
    }

    std::uint32_t Key(const std::uint8_t* p) const {
        return shift_ >= 0 ? std::uint32_t{p[3]} >> shift_ : classes_[p[3]];
    }
    void KeyRow(const std::uint8_t* row, std::uint32_t* keys, int n) const {
        if (shift_ >= 0) {
            // Whole words, so that the loop runs on vectors.
            const int shift = 24 + shift_;
            for (int i = 0; i < n; ++i) {
                std::uint32_t word;
                std::memcpy(&word, row + 4 * i, 4);
                keys[i] = word >> shift;
            }
            return;
        }
        for (int i = 0; i < n; ++i, row += 4)
            keys[i] = classes_[row[3]];
    }

    bool Blend(const std::uint8_t* s, const std::uint8_t* t, std::uint32_t& pixel, int w) {
        if (w > 0 && w < 256) {
            // The scan only blends across differing classes: the mean directly.
            std::uint32_t word;
            std::memcpy(&word, t, 4);
            const std::uint32_t alpha = (t[3] * (256 - w) + s[3] * w + 128) >> 8;
            pixel = (word & 0x00FFFFFFu) | alpha << 24;
            return true;
        }
        std::uint8_t out[4] = {t[0], t[1], t[2], t[3]};
        if (!BlendAlpha(s, t, out, w, f_)) return false;
        std::memcpy(&pixel, out, 4);
        return true;
    }

private:
    int f_;
    int shift_; // log2 F when F is a power of two, else -1
    std::uint32_t classes_[256] = {};
};

} // namespace pelo
