// What the desktop program keeps between starts, and the order in which it
// reads and writes it. The command line reads the same profile to start from
// the desktop program's settings.
#pragma once

#include "image/ConversionSettings.h"
#include "pipeline/SettingsProfile.h"

#include <cstdint>
#include <string>

namespace pelo {

// Folder text stored when the profile has none: the current directory.
inline constexpr const char* kDefaultFolder = "./";

struct PersistedState {
    ConversionSettings settings;
    std::string inputFolder;
    std::string outputFolder;
    std::uint32_t recursiveSearch = 0;
    std::int32_t inputTypeIndex = 0;
    std::int32_t outputTypeIndex = 0;
    // Section "LIMITS", read only: the largest picture and the picture
    // memory of a whole run.
    std::uint32_t maxPicturePixels = 1u << 28;
    std::uint32_t maxRunMemoryMib = 4096;
};

// Sets the process locale to the user's default for all categories. Number
// text in the profile uses the user's decimal separator, so this must run
// before any double is read or written.
void UseUserDefaultLocale();

// Reads every value, in the order the main dialog has always read them: the
// two format indices, the folders, the switches and the threshold, then the
// seven detail values; then the limits and the result options. Missing keys give the first-start
// values.
void LoadSettings(const ProfileFile& profile, PersistedState& state);

// Section "RESULT": the result options, words as the command line spells
// them. Missing keys and unknown words give the defaults.
void LoadResultOptions(const ProfileFile& profile, ResultOptions& result);
void SaveResultOptions(ProfileFile& profile, const ResultOptions& result);

// What the main dialog's Quit handler writes: the output then the input
// format position (-1 when a list has no selection).
void SaveTypeIndices(ProfileFile& profile, std::int32_t outputTypeIndex,
                     std::int32_t inputTypeIndex);

// What the application writes after the dialog has closed with Quit: the
// folders, switches, threshold and detail values; doubles as "%f", the rest
// as integers. The result options are written apart (SaveResultOptions). Write failures are
// ignored.
void SaveSettings(ProfileFile& profile, const PersistedState& state);

// The C library's text-to-double conversion: the longest numeric prefix,
// 0.0 when there is none.
double ProfileTextToDouble(const std::string& text);

// "%f" in the current locale, without truncation.
std::string ProfileDoubleText(double value);

} // namespace pelo
