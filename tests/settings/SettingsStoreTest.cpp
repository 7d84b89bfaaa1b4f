#include "pipeline/SettingsStore.h"

#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <clocale>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using pelo::PersistedState;
using pelo::ProfileFile;
using pelo::test::ReadFileText;

TEST(SettingsStore, FirstStartValues) {
    pelo::test::TempDir dir;
    const ProfileFile profile(dir.file("pelo.INI"));
    PersistedState state;
    state.settings.gamma = 0.0; // as constructed by the dialog
    state.settings.detectThreshold = 0;
    LoadSettings(profile, state);
    EXPECT_EQ(state.inputTypeIndex, 0);
    EXPECT_EQ(state.outputTypeIndex, 0);
    EXPECT_EQ(state.inputFolder, "./");
    EXPECT_EQ(state.outputFolder, "./");
    EXPECT_EQ(state.recursiveSearch, 0u);
    const pelo::ConversionSettings& s = state.settings;
    EXPECT_EQ(s.whiteAsTransparent, 0u);
    EXPECT_EQ(s.detectThreshold, 4u);
    EXPECT_EQ(s.gamma, 0.7);
    EXPECT_EQ(s.redLift, 1.2);
    EXPECT_EQ(s.redThreshold, 3u);
    EXPECT_EQ(s.purpleLift, 1.1);
    EXPECT_EQ(s.purpleThreshold, 3u);
    EXPECT_EQ(s.hueInfluence, 1.5);
    EXPECT_EQ(s.hueThreshold, 100u);
    // Reading never creates the file.
    EXPECT_FALSE(std::ifstream(profile.path()).good());
}

PersistedState SampleState() {
    PersistedState state;
    state.inputFolder = "/pictures/in put";
    state.outputFolder = "rel/out";
    state.recursiveSearch = 1;
    state.inputTypeIndex = 5;
    state.outputTypeIndex = -1;
    pelo::ConversionSettings& s = state.settings;
    s.detectThreshold = 300;
    s.whiteAsTransparent = 1;
    s.gamma = 2.5;
    s.redLift = 1.2;
    s.redThreshold = 2;
    s.purpleLift = 0.125;
    s.purpleThreshold = 4294967295u;
    s.hueInfluence = 1.0;
    s.hueThreshold = 0;
    return state;
}

TEST(SettingsStore, QuitWritesTheKeysInTheirOrderAndEncodings) {
    std::setlocale(LC_ALL, "C");
    pelo::test::TempDir dir;
    ProfileFile profile(dir.file("pelo.INI"));
    const PersistedState state = SampleState();
    SaveTypeIndices(profile, state.outputTypeIndex, state.inputTypeIndex);
    SaveSettings(profile, state);
    EXPECT_EQ(ReadFileText(profile.path()), "[OUTPUT]\n"
                                            "TYPE=-1\n"
                                            "FOLDER=rel/out\n"
                                            "[INPUT]\n"
                                            "TYPE=5\n"
                                            "FOLDER=/pictures/in put\n"
                                            "WHITE=1\n"
                                            "DIRSEARCH=1\n"
                                            "[SETTING]\n"
                                            "F=300\n"
                                            "GAMMA=2.500000\n"
                                            "RUP=1.200000\n"
                                            "RZONE=2\n"
                                            "PUP=0.125000\n"
                                            "PZONE=-1\n"
                                            "HUP=1.000000\n"
                                            "HZONE=0\n");
}

TEST(SettingsStore, ReloadGivesTheSavedValues) {
    pelo::test::TempDir dir;
    ProfileFile profile(dir.file("pelo.INI"));
    const PersistedState saved = SampleState();
    SaveTypeIndices(profile, saved.outputTypeIndex, saved.inputTypeIndex);
    SaveSettings(profile, saved);

    PersistedState loaded;
    LoadSettings(profile, loaded);
    EXPECT_EQ(loaded.inputFolder, saved.inputFolder);
    EXPECT_EQ(loaded.outputFolder, saved.outputFolder);
    EXPECT_EQ(loaded.recursiveSearch, 1u);
    EXPECT_EQ(loaded.inputTypeIndex, 5);
    EXPECT_EQ(loaded.outputTypeIndex, -1);
    const pelo::ConversionSettings& s = loaded.settings;
    EXPECT_EQ(s.detectThreshold, 300u);
    EXPECT_EQ(s.whiteAsTransparent, 1u);
    EXPECT_EQ(s.gamma, 2.5);
    EXPECT_EQ(s.redLift, 1.2);
    EXPECT_EQ(s.redThreshold, 2u);
    EXPECT_EQ(s.purpleLift, 0.125);
    EXPECT_EQ(s.purpleThreshold, 4294967295u);
    EXPECT_EQ(s.hueInfluence, 1.0);
    EXPECT_EQ(s.hueThreshold, 0u);
}

TEST(SettingsStore, SixDigitsLoseWhatTheyCannotHold) {
    pelo::test::TempDir dir;
    ProfileFile profile(dir.file("pelo.INI"));
    PersistedState state;
    state.settings.gamma = 0.1234567;
    state.settings.redLift = 1e300; // needs far more than 256 characters of "%f"
    SaveSettings(profile, state);
    PersistedState loaded;
    LoadSettings(profile, loaded);
    EXPECT_EQ(loaded.settings.gamma, 0.123457);
    EXPECT_EQ(loaded.settings.redLift, 1e300);
}

TEST(SettingsStore, DoubleTextUsesTheLongestNumericPrefix) {
    EXPECT_EQ(pelo::ProfileTextToDouble("1.5abc"), 1.5);
    EXPECT_EQ(pelo::ProfileTextToDouble("  -2e1x"), -20.0);
    EXPECT_EQ(pelo::ProfileTextToDouble("abc"), 0.0);
    EXPECT_EQ(pelo::ProfileTextToDouble(""), 0.0);

    pelo::test::TempDir dir;
    { std::ofstream(dir.file("pelo.INI")) << "[SETTING]\nGAMMA=bad\nRUP=3.25;note\nF=x\n"; }
    const ProfileFile profile(dir.file("pelo.INI"));
    PersistedState state;
    LoadSettings(profile, state);
    EXPECT_EQ(state.settings.gamma, 0.0);
    EXPECT_EQ(state.settings.redLift, 3.25);
    EXPECT_EQ(state.settings.detectThreshold, 0u);
}

TEST(SettingsStore, LimitsComeFromTheirOwnSectionAndNonsenseKeepsTheDefault) {
    pelo::test::TempDir dir;
    { std::ofstream(dir.file("pelo.INI")) << "[LIMITS]\nMAXPIXELS=1000000\nMAXMEMORYMB=0\n"; }
    const ProfileFile profile(dir.file("pelo.INI"));
    pelo::PersistedState state;
    pelo::LoadSettings(profile, state);
    EXPECT_EQ(state.maxPicturePixels, 1000000u);
    EXPECT_EQ(state.maxRunMemoryMib, 4096u);
}

TEST(SettingsStore, NumbersFollowTheProcessLocale) {
    const char* locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
    const char* found = nullptr;
    for (const char* name : locales)
        if (std::setlocale(LC_NUMERIC, name)) {
            found = name;
            break;
        }
    if (!found) {
        std::setlocale(LC_ALL, "C");
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    EXPECT_EQ(pelo::ProfileDoubleText(0.7), "0,700000");
    EXPECT_EQ(pelo::ProfileTextToDouble("1,5"), 1.5);
    std::setlocale(LC_ALL, "C");
}

} // namespace

TEST(SettingsStore, ResultOptionsLiveInTheirOwnSectionAndUnknownWordsGiveDefaults) {
    pelo::test::TempDir dir;
    ProfileFile profile(dir.file("pelo.INI"));
    pelo::ResultOptions chosen;
    chosen.alphaPass = pelo::AlphaPassMode::Off;
    chosen.colourPass = false;
    chosen.hiddenColour = pelo::HiddenColour::Clear;
    chosen.background = 0xFFFFFF;
    chosen.encode.quality = 90;
    chosen.encode.pngType = pelo::PngType::Rgba;
    SaveResultOptions(profile, chosen);
    EXPECT_EQ(ReadFileText(profile.path()), "[RESULT]\nALPHAPASS=off\nCOLOURPASS=0\n"
                                            "HIDDENCOLOUR=clear\nBACKGROUND=ffffff\n"
                                            "QUALITY=90\nPNGTYPE=rgba\n");
    PersistedState loaded;
    LoadSettings(profile, loaded);
    EXPECT_EQ(loaded.settings.result.alphaPass, pelo::AlphaPassMode::Off);
    EXPECT_FALSE(loaded.settings.result.colourPass);
    EXPECT_EQ(loaded.settings.result.background, 0xFFFFFFu);
    EXPECT_EQ(loaded.settings.result.encode.quality, 90);

    profile.WriteString("RESULT", "ALPHAPASS", "sometimes");
    profile.WriteString("RESULT", "BACKGROUND", "12345g");
    LoadSettings(profile, loaded);
    EXPECT_EQ(loaded.settings.result.alphaPass, pelo::AlphaPassMode::Auto);
    EXPECT_EQ(loaded.settings.result.background, 0x808080u);
}
