// The options that steer the pictures: the threshold, the colour corrections,
// white as transparent, the result options and the presets. Whatever their
// order on the line, a preset is applied over the start values (first start
// or profile) and the options named explicitly over the preset.
#pragma once

#include "image/ConversionSettings.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace pelo::cli {

class SettingsOptions {
public:
    // Adds the options to app; the values are read when app parses.
    explicit SettingsOptions(CLI::App& app);

    // The preset and then every option given, over settings. Empty when
    // done, else the usage error (a word no option knows).
    std::string ApplyTo(ConversionSettings& settings) const;

private:
    using Setter = std::function<std::string(ConversionSettings&)>;

    void Add(CLI::Option* option, Setter set);
    template <typename Field>
    void AddNumber(CLI::App& app, const char* names, Field field, const char* help);

    ConversionSettings given_; // the numbers as typed
    bool white_ = false;
    std::string alphaPass_, colourPass_, hiddenColour_, background_, pngType_, preset_;
    int quality_ = -1;
    CLI::Option* presetOption_ = nullptr;
    std::vector<std::pair<CLI::Option*, Setter>> setters_;
};

} // namespace pelo::cli
