// The values that steer the processing of every picture, with the values used
// when no profile holds them.
#pragma once

#include <cstdint>

namespace pelo {

// The seven colour corrections of the blends: one record for the settings,
// the passes and the detail dialog.
struct ColourCorrection {
    double gamma = 0.7;
    double redLift = 1.2;
    std::uint32_t redThreshold = 3;
    double purpleLift = 1.1;
    std::uint32_t purpleThreshold = 3;
    double hueInfluence = 1.5;
    std::uint32_t hueThreshold = 100;
};

// Whether the alpha pass runs: by the input's kind (the file-kind table's
// alpha-in column), always or never.
enum class AlphaPassMode { Auto, On, Off };

// What happens to the colour bytes of fully transparent pixels before the
// edge colours spread: kept as the file has them, or cleared to 0 so that
// invisible data cannot change the visible result.
enum class HiddenColour { Keep, Clear };

// The PNG colour type written: the smallest that holds the pixels exactly,
// or always 8-bit RGBA.
enum class PngType { Smallest, Rgba };

// How the encoders write: quality -1 leaves JPEG and WebP at the encoder's
// default (75).
struct EncodeOptions {
    int quality = -1;
    PngType pngType = PngType::Smallest;
};

// Choices beyond the corrections and the threshold. The defaults give the
// results the program has always given.
struct ResultOptions {
    AlphaPassMode alphaPass = AlphaPassMode::Auto;
    bool colourPass = true;
    HiddenColour hiddenColour = HiddenColour::Keep;
    std::uint32_t background = 0x808080; // 0xRRGGBB under pictures that lose alpha
    EncodeOptions encode;
};

struct ConversionSettings : ColourCorrection {
    std::uint32_t detectThreshold = 4;
    std::uint32_t whiteAsTransparent = 0;
    ResultOptions result;
};

// What "restore defaults" of the detail settings puts into the seven detail
// fields (differs from the first-start values in redThreshold,
// purpleThreshold and hueInfluence).
inline void RestoreDetailDefaults(ColourCorrection& s) {
    s.gamma = 0.7;
    s.redLift = 1.2;
    s.redThreshold = 2;
    s.purpleLift = 1.1;
    s.purpleThreshold = 2;
    s.hueInfluence = 1.0;
    s.hueThreshold = 100;
}

} // namespace pelo
