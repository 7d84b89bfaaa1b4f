// The two mixes of a source pixel S into a destination pixel T with weight w
// (S's share in 256ths): a plain mean of the alpha bytes, and a colour mix of
// luminance in gamma space with the colour differences mixed linearly.
#pragma once

#include "image/ConversionSettings.h"

#include <cstdint>

namespace pelo {

// Everything the colour mix needs besides the two pixels. Thresholds are
// unsigned; gamma is the value after the pass replaced unusable ones.
// The hue values are carried with the others; they do not change the mix.
struct ColourBlendSettings : ColourCorrection {
    int detectThreshold = 4; // F, 1 or more
};

struct HueSaturation {
    double hue = 0.0;        // 0 red, 85 green, 170 blue, 213 purple
    double saturation = 0.0; // above 250: a nearly pure colour
};

// Luminance with the analysis weights, 0..255 scale.
double Luminance(int red, int green, int blue);

// luminance is Luminance(red, green, blue), not (max + min) / 2.
HueSaturation ToHueSaturation(int red, int green, int blue, double luminance);

// The part of the colour mix that depends on one pixel only: its luminance
// and its gamma-space luminance after the pure red / purple lifts.
struct ColourTerms {
    int red = 0;
    int green = 0;
    int blue = 0;
    double luminance = 0.0;
    double lifted = 0.0;
};
ColourTerms MakeColourTerms(int red, int green, int blue, const ColourBlendSettings& settings);

// Mix of S into T for 0 < w < 256 (classes already known to differ); out
// receives blue, green, red.
void MixColour(const ColourTerms& s, const ColourTerms& t, int w, double gamma,
               std::uint8_t out[3]);

// s and t point at the pixels (blue, green, red, alpha) as they were before
// the pass; dst is T's place in the pass's work area. BlendColour writes
// bytes 0..2 of dst, BlendAlpha byte 3, or nothing when S and T are in the
// same classes or w <= 0. True when they wrote.
bool BlendColour(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w,
                 const ColourBlendSettings& settings);
bool BlendAlpha(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w,
                int detectThreshold);

} // namespace pelo
