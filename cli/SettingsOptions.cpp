#include "cli/SettingsOptions.h"

#include "pipeline/ResultChoices.h"

#include <CLI/CLI.hpp>

namespace pelo::cli {

namespace {

template <typename T, typename Parse>
std::string SetWord(const std::string& option, const std::string& word, Parse parse, T& field,
                    const char* words) {
    const auto value = parse(word);
    if (!value) return "unknown " + option + " '" + word + "' (" + words + ")";
    field = *value;
    return {};
}

std::optional<bool> ParseOnOff(std::string_view word) {
    if (word == "on") return true;
    if (word == "off") return false;
    return std::nullopt;
}

} // namespace

template <typename Field>
void SettingsOptions::AddNumber(CLI::App& app, const char* names, Field field, const char* help) {
    Add(app.add_option(names, given_.*field, help), [this, field](ConversionSettings& s) {
        s.*field = given_.*field;
        return std::string();
    });
}

SettingsOptions::SettingsOptions(CLI::App& app) {
    AddNumber(app, "-F,--threshold", &ConversionSettings::detectThreshold,
              "detection threshold (4)");
    AddNumber(app, "--gamma", &ConversionSettings::gamma, "brightness correction (0.7)");
    AddNumber(app, "--red-lift", &ConversionSettings::redLift, "pure-red lift (1.2)");
    AddNumber(app, "--red-threshold", &ConversionSettings::redThreshold, "pure-red threshold (3)");
    AddNumber(app, "--purple-lift", &ConversionSettings::purpleLift, "pure-purple lift (1.1)");
    AddNumber(app, "--purple-threshold", &ConversionSettings::purpleThreshold,
              "pure-purple threshold (3)");
    AddNumber(app, "--hue-influence", &ConversionSettings::hueInfluence, "hue influence (1.5)");
    AddNumber(app, "--hue-threshold", &ConversionSettings::hueThreshold, "hue threshold (100)");
    Add(app.add_flag("-w,--white-transparent", white_, "treat pure white as transparent"),
        [this](ConversionSettings& s) {
            s.whiteAsTransparent = white_ ? 1 : 0;
            return std::string();
        });
    presetOption_ = app.add_option("--preset", preset_,
                                   "seed, pixel-art or painted: sets the threshold, the lifts, "
                                   "the passes and the hidden colour; options given override it")
                        ->type_name("NAME");
    Add(app.add_option("--alpha-pass", alphaPass_, "auto (by the input's kind), on or off (auto)")
            ->type_name("MODE"),
        [this](ConversionSettings& s) {
            return SetWord("--alpha-pass", alphaPass_, ParseAlphaPassMode, s.result.alphaPass,
                           "auto, on, off");
        });
    Add(app.add_option("--colour-pass", colourPass_, "on or off (on)")->type_name("MODE"),
        [this](ConversionSettings& s) {
            return SetWord("--colour-pass", colourPass_, ParseOnOff, s.result.colourPass,
                           "on, off");
        });
    Add(app.add_option("--hidden-colour", hiddenColour_,
                       "colour of fully transparent pixels: keep, or clear to 0 (keep)")
            ->type_name("MODE"),
        [this](ConversionSettings& s) {
            return SetWord("--hidden-colour", hiddenColour_, ParseHiddenColour,
                           s.result.hiddenColour, "keep, clear");
        });
    Add(app.add_option("--background", background_,
                       "under pictures whose output loses alpha (808080)")
            ->type_name("RRGGBB"),
        [this](ConversionSettings& s) {
            return SetWord("--background", background_, ParseBackground, s.result.background,
                           "RRGGBB, six hexadecimal digits");
        });
    Add(app.add_option("--quality", quality_, "JPEG and WebP quality 0..100 (the encoder's)")
            ->check(CLI::Range(0, 100))
            ->type_name("N"),
        [this](ConversionSettings& s) {
            s.result.encode.quality = quality_;
            return std::string();
        });
    Add(app.add_option("--png-type", pngType_,
                       "smallest (the smallest exact colour type) or rgba (smallest)")
            ->type_name("TYPE"),
        [this](ConversionSettings& s) {
            return SetWord("--png-type", pngType_, ParsePngType, s.result.encode.pngType,
                           "smallest, rgba");
        });
}

void SettingsOptions::Add(CLI::Option* option, Setter set) {
    setters_.emplace_back(option, std::move(set));
}

std::string SettingsOptions::ApplyTo(ConversionSettings& settings) const {
    if (presetOption_->count() > 0) {
        const auto preset = ParsePreset(preset_);
        if (!preset) return "unknown --preset '" + preset_ + "' (seed, pixel-art, painted)";
        ApplyPreset(*preset, settings);
    }
    for (const auto& [option, set] : setters_) {
        if (option->count() == 0) continue;
        if (std::string problem = set(settings); !problem.empty()) return problem;
    }
    return {};
}

} // namespace pelo::cli
