// The result options as words (command line, profile, dialog) and the named
// presets that set several values at once.
#pragma once

#include "image/ConversionSettings.h"

#include <optional>
#include <string>
#include <string_view>

namespace pelo {

// "auto", "on", "off".
std::optional<AlphaPassMode> ParseAlphaPassMode(std::string_view text);
std::string_view AlphaPassModeName(AlphaPassMode mode);

// "keep", "clear".
std::optional<HiddenColour> ParseHiddenColour(std::string_view text);
std::string_view HiddenColourName(HiddenColour hidden);

// "smallest", "rgba".
std::optional<PngType> ParsePngType(std::string_view text);
std::string_view PngTypeName(PngType type);

// Six hexadecimal digits, RRGGBB, either case; an optional leading '#'.
std::optional<std::uint32_t> ParseBackground(std::string_view text);
std::string BackgroundText(std::uint32_t background); // "808080"

enum class Preset { Seed, PixelArt, Painted };

// "seed", "pixel-art", "painted".
std::optional<Preset> ParsePreset(std::string_view text);
std::string_view PresetName(Preset preset);

// Sets the values the preset names (threshold, lifts, hidden colour, passes)
// and leaves every other value as it was. Seed puts back the values a first
// start has.
void ApplyPreset(Preset preset, ConversionSettings& settings);

} // namespace pelo
