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

struct ConversionSettings : ColourCorrection {
    std::uint32_t detectThreshold = 4;
    std::uint32_t whiteAsTransparent = 0;
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
