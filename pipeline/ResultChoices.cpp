#include "pipeline/ResultChoices.h"

#include <array>
#include <cstdio>
#include <utility>

namespace pelo {

namespace {

template <typename T, std::size_t N>
std::optional<T> Find(const std::array<std::pair<std::string_view, T>, N>& names,
                      std::string_view text) {
    for (const auto& [name, value] : names)
        if (name == text) return value;
    return std::nullopt;
}

template <typename T, std::size_t N>
std::string_view NameOf(const std::array<std::pair<std::string_view, T>, N>& names, T value) {
    for (const auto& [name, v] : names)
        if (v == value) return name;
    return names[0].first;
}

constexpr std::array<std::pair<std::string_view, AlphaPassMode>, 3> kAlphaPass{
    {{"auto", AlphaPassMode::Auto}, {"on", AlphaPassMode::On}, {"off", AlphaPassMode::Off}}};
constexpr std::array<std::pair<std::string_view, HiddenColour>, 2> kHidden{
    {{"keep", HiddenColour::Keep}, {"clear", HiddenColour::Clear}}};
constexpr std::array<std::pair<std::string_view, PngType>, 2> kPngType{
    {{"smallest", PngType::Smallest}, {"rgba", PngType::Rgba}}};
constexpr std::array<std::pair<std::string_view, Preset>, 3> kPresets{
    {{"seed", Preset::Seed}, {"pixel-art", Preset::PixelArt}, {"painted", Preset::Painted}}};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<AlphaPassMode> ParseAlphaPassMode(std::string_view text) {
    return Find(kAlphaPass, text);
}
std::string_view AlphaPassModeName(AlphaPassMode mode) {
    return NameOf(kAlphaPass, mode);
}
std::optional<HiddenColour> ParseHiddenColour(std::string_view text) {
    return Find(kHidden, text);
}
std::string_view HiddenColourName(HiddenColour hidden) {
    return NameOf(kHidden, hidden);
}
std::optional<PngType> ParsePngType(std::string_view text) {
    return Find(kPngType, text);
}
std::string_view PngTypeName(PngType type) {
    return NameOf(kPngType, type);
}
std::optional<Preset> ParsePreset(std::string_view text) {
    return Find(kPresets, text);
}
std::string_view PresetName(Preset preset) {
    return NameOf(kPresets, preset);
}

std::optional<std::uint32_t> ParseBackground(std::string_view text) {
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    if (text.size() != 6) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::string BackgroundText(std::uint32_t background) {
    char text[8];
    std::snprintf(text, sizeof text, "%06x", background & 0xFFFFFFu);
    return text;
}

void ApplyPreset(Preset preset, ConversionSettings& settings) {
    const ConversionSettings firstStart;
    ResultOptions& result = settings.result;
    switch (preset) {
    case Preset::Seed:
        settings.detectThreshold = firstStart.detectThreshold;
        settings.redLift = firstStart.redLift;
        settings.purpleLift = firstStart.purpleLift;
        result.hiddenColour = firstStart.result.hiddenColour;
        result.alphaPass = firstStart.result.alphaPass;
        result.colourPass = firstStart.result.colourPass;
        break;
    case Preset::PixelArt:
        settings.detectThreshold = 2;
        settings.redLift = 1.0;
        settings.purpleLift = 1.0;
        result.hiddenColour = HiddenColour::Clear;
        result.alphaPass = AlphaPassMode::Auto;
        result.colourPass = true;
        break;
    case Preset::Painted:
        settings.detectThreshold = 1;
        settings.redLift = 1.0;
        settings.purpleLift = 1.0;
        result.hiddenColour = HiddenColour::Clear;
        result.alphaPass = AlphaPassMode::Auto;
        result.colourPass = true;
        break;
    }
}

} // namespace pelo
