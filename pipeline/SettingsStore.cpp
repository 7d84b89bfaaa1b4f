#include "pipeline/SettingsStore.h"

#include "pipeline/ResultChoices.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace pelo {

namespace {

constexpr const char* kInput = "INPUT";
constexpr const char* kOutput = "OUTPUT";
constexpr const char* kSetting = "SETTING";
constexpr const char* kResult = "RESULT";

double GetDouble(const ProfileFile& profile, const char* key, const char* defaultText) {
    return ProfileTextToDouble(profile.GetString(kSetting, key, defaultText));
}

std::uint32_t GetUnsigned(const ProfileFile& profile, const char* section, const char* key,
                          std::int32_t defaultValue) {
    return static_cast<std::uint32_t>(profile.GetInt(section, key, defaultValue));
}

void WriteUnsigned(ProfileFile& profile, const char* section, const char* key,
                   std::uint32_t value) {
    // Written as the int it is stored as, so values above 2^31 - 1 appear
    // negative and read back unchanged.
    profile.WriteInt(section, key, static_cast<std::int32_t>(value));
}

} // namespace

void UseUserDefaultLocale() {
    std::setlocale(LC_ALL, "");
}

double ProfileTextToDouble(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

std::string ProfileDoubleText(double value) {
    const int n = std::snprintf(nullptr, 0, "%f", value);
    if (n <= 0) return "0";
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%f", value);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

void LoadSettings(const ProfileFile& profile, PersistedState& state) {
    state.inputTypeIndex = profile.GetInt(kInput, "TYPE", 0);
    state.outputTypeIndex = profile.GetInt(kOutput, "TYPE", 0);

    state.outputFolder = profile.GetString(kOutput, "FOLDER", kDefaultFolder);
    state.inputFolder = profile.GetString(kInput, "FOLDER", kDefaultFolder);

    ConversionSettings& s = state.settings;
    s.whiteAsTransparent = GetUnsigned(profile, kInput, "WHITE", 0);
    state.recursiveSearch = GetUnsigned(profile, kInput, "DIRSEARCH", 0);
    s.detectThreshold = GetUnsigned(profile, kSetting, "F", 4);

    s.gamma = GetDouble(profile, "GAMMA", "0.7");
    s.redLift = GetDouble(profile, "RUP", "1.2");
    s.redThreshold = GetUnsigned(profile, kSetting, "RZONE", 3);
    s.purpleLift = GetDouble(profile, "PUP", "1.1");
    s.purpleThreshold = GetUnsigned(profile, kSetting, "PZONE", 3);
    s.hueInfluence = GetDouble(profile, "HUP", "1.5");
    s.hueThreshold = GetUnsigned(profile, kSetting, "HZONE", 100);

    // A zero or negative limit would refuse everything: the default then.
    const auto limit = [&profile](const char* key, std::int32_t defaultValue) {
        const std::int32_t value = profile.GetInt("LIMITS", key, defaultValue);
        return static_cast<std::uint32_t>(value > 0 ? value : defaultValue);
    };
    state.maxPicturePixels = limit("MAXPIXELS", 1 << 28);
    state.maxRunMemoryMib = limit("MAXMEMORYMB", 4096);

    LoadResultOptions(profile, s.result);
}

void LoadResultOptions(const ProfileFile& profile, ResultOptions& result) {
    // A word the program does not know keeps the default.
    const ResultOptions defaults;
    const auto word = [&profile](const char* key) { return profile.GetString(kResult, key, ""); };
    result.alphaPass = ParseAlphaPassMode(word("ALPHAPASS")).value_or(defaults.alphaPass);
    result.colourPass = profile.GetInt(kResult, "COLOURPASS", 1) != 0;
    result.hiddenColour = ParseHiddenColour(word("HIDDENCOLOUR")).value_or(defaults.hiddenColour);
    result.background = ParseBackground(word("BACKGROUND")).value_or(defaults.background);
    const std::int32_t quality = profile.GetInt(kResult, "QUALITY", -1);
    result.encode.quality = quality >= 0 && quality <= 100 ? quality : -1;
    result.encode.pngType = ParsePngType(word("PNGTYPE")).value_or(defaults.encode.pngType);
}

void SaveResultOptions(ProfileFile& profile, const ResultOptions& result) {
    profile.WriteString(kResult, "ALPHAPASS", AlphaPassModeName(result.alphaPass));
    profile.WriteInt(kResult, "COLOURPASS", result.colourPass ? 1 : 0);
    profile.WriteString(kResult, "HIDDENCOLOUR", HiddenColourName(result.hiddenColour));
    profile.WriteString(kResult, "BACKGROUND", BackgroundText(result.background));
    profile.WriteInt(kResult, "QUALITY", result.encode.quality);
    profile.WriteString(kResult, "PNGTYPE", PngTypeName(result.encode.pngType));
}

void SaveTypeIndices(ProfileFile& profile, std::int32_t outputTypeIndex,
                     std::int32_t inputTypeIndex) {
    profile.WriteInt(kOutput, "TYPE", outputTypeIndex);
    profile.WriteInt(kInput, "TYPE", inputTypeIndex);
}

void SaveSettings(ProfileFile& profile, const PersistedState& state) {
    const ConversionSettings& s = state.settings;
    profile.WriteString(kOutput, "FOLDER", state.outputFolder);
    profile.WriteString(kInput, "FOLDER", state.inputFolder);
    WriteUnsigned(profile, kInput, "WHITE", s.whiteAsTransparent);
    WriteUnsigned(profile, kInput, "DIRSEARCH", state.recursiveSearch);
    WriteUnsigned(profile, kSetting, "F", s.detectThreshold);
    profile.WriteString(kSetting, "GAMMA", ProfileDoubleText(s.gamma));
    profile.WriteString(kSetting, "RUP", ProfileDoubleText(s.redLift));
    WriteUnsigned(profile, kSetting, "RZONE", s.redThreshold);
    profile.WriteString(kSetting, "PUP", ProfileDoubleText(s.purpleLift));
    WriteUnsigned(profile, kSetting, "PZONE", s.purpleThreshold);
    profile.WriteString(kSetting, "HUP", ProfileDoubleText(s.hueInfluence));
    WriteUnsigned(profile, kSetting, "HZONE", s.hueThreshold);
}

} // namespace pelo
