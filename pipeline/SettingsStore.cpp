#include "pipeline/SettingsStore.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace pelo {

namespace {

constexpr const char* kInput = "INPUT";
constexpr const char* kOutput = "OUTPUT";
constexpr const char* kSetting = "SETTING";

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
