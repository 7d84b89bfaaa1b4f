#include "cli/CommandLine.h"

#include "base/TextCase.h"
#include "image/Allocation.h"
#include "pipeline/BatchRunner.h"
#include "pipeline/SettingsStore.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace pelo::cli {

namespace {

// "--settings [FILE]": an optional value would swallow INPUT, so the next
// word counts as FILE only when it names a profile (*.ini).
std::vector<std::string> SettingsWithValue(std::vector<std::string> words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--") break;
        if (words[i] != "--settings") continue;
        const bool named = i + 1 < words.size() && words[i + 1].size() > 4 &&
                           words[i + 1][0] != '-' &&
                           UpperAscii(words[i + 1].substr(words[i + 1].size() - 4)) == ".INI";
        words[i] = "--settings=" + (named ? words[i + 1] : ProfilePathFor("pelo"));
        if (named) words.erase(words.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
    return words;
}

} // namespace

int UsageError(const std::string& text) {
    std::fprintf(stderr, "pelo-batch: %s\nRun with --help for more information.\n", text.c_str());
    return kExitUsage;
}

std::optional<BatchCommand> ParseCommandLine(int argc, char** argv, int& exitCode) {
    CLI::App app{"Anti-aliases the stair-stepped edges of pictures.\n"
                 "  pelo-batch [OPTIONS] INPUT OUTPUT\n"
                 "  pelo-batch [OPTIONS] --from FMT --to FMT INPUT_DIR OUTPUT_DIR",
                 "pelo-batch"};
    BatchCommand command; // settings: the first-start values
    command.jobs = std::max(1u, std::thread::hardware_concurrency());
    command.maxPixels = kDefaultMaxPicturePixels;
    command.maxMemoryMib = kDefaultRunMemory >> 20;
    ConversionSettings& settings = command.settings;
    std::string settingsFile;
    bool white = false;

    app.add_option("paths", command.paths,
                   "INPUT OUTPUT (files), or INPUT_DIR OUTPUT_DIR with --from/--to")
        ->expected(0, 2);
    app.add_option("--from", command.from, "input format of a folder run: png, PNG or *.PNG");
    app.add_option("--to", command.to, "output format of a folder run: tga, TGA or *.TGA");
    auto* optThreshold =
        app.add_option("-F,--threshold", settings.detectThreshold, "detection threshold (4)");
    auto* optGamma = app.add_option("--gamma", settings.gamma, "brightness correction (0.7)");
    auto* optRedLift = app.add_option("--red-lift", settings.redLift, "pure-red lift (1.2)");
    auto* optRedThreshold =
        app.add_option("--red-threshold", settings.redThreshold, "pure-red threshold (3)");
    auto* optPurpleLift =
        app.add_option("--purple-lift", settings.purpleLift, "pure-purple lift (1.1)");
    auto* optPurpleThreshold =
        app.add_option("--purple-threshold", settings.purpleThreshold, "pure-purple threshold (3)");
    auto* optHueInfluence =
        app.add_option("--hue-influence", settings.hueInfluence, "hue influence (1.5)");
    auto* optHueThreshold =
        app.add_option("--hue-threshold", settings.hueThreshold, "hue threshold (100)");
    auto* optWhite =
        app.add_flag("-w,--white-transparent", white, "treat pure white as transparent");
    auto* optRecursive = app.add_flag("-r,--recursive", command.recursive, "include sub-folders");
    app.add_option("-j,--jobs", command.jobs, "files in parallel (number of cores)")
        ->check(CLI::Range(1u, 1024u));
    auto* optSettings =
        app.add_option("--settings", settingsFile,
                       "start from a profile in the desktop program's INI format (FILE.ini; "
                       "alone: the desktop program's own)")
            ->expected(0, 1);
    app.add_flag("--in-place", command.inPlace,
                 "allow outputs to replace inputs (refused without it, nothing written)");
    auto* optMaxPixels =
        app.add_option("--max-pixels", command.maxPixels, "largest picture in pixels (268435456)")
            ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 40));
    auto* optMaxMemory = app.add_option("--max-memory", command.maxMemoryMib,
                                        "picture memory of all parallel files together, MiB (4096)")
                             ->check(CLI::Range(std::size_t{64}, std::size_t{1} << 30));
    app.add_flag("-q,--quiet", command.quiet, "no progress bar and no summary");
    app.add_flag("--list-formats", command.listFormats, "list the input and output formats");
    app.add_flag("--version", command.version, "print the version");

    std::vector<std::string> words = SettingsWithValue({argv + 1, argv + argc});
    std::reverse(words.begin(), words.end()); // CLI11 takes the arguments last first
    try {
        app.parse(words);
    } catch (const CLI::ParseError& e) {
        exitCode = app.exit(e) == 0 ? kExitOk : kExitUsage;
        return std::nullopt;
    }

    // Profile first, then what the command line names explicitly.
    if (optSettings->count() > 0) {
        UseUserDefaultLocale();
        // The desktop program's own profile may not exist yet (first start):
        // its defaults then. A profile named on the command line must exist.
        const std::string ownProfile = ProfilePathFor("pelo");
        const std::string file = settingsFile.empty() ? ownProfile : settingsFile;
        std::error_code ec;
        if (file != ownProfile && !std::filesystem::exists(file, ec)) {
            exitCode = UsageError("settings file not found: " + file);
            return std::nullopt;
        }
        PersistedState state;
        LoadSettings(ProfileFile(file), state);
        const ConversionSettings given = settings;
        settings = state.settings;
        if (optThreshold->count()) settings.detectThreshold = given.detectThreshold;
        if (optGamma->count()) settings.gamma = given.gamma;
        if (optRedLift->count()) settings.redLift = given.redLift;
        if (optRedThreshold->count()) settings.redThreshold = given.redThreshold;
        if (optPurpleLift->count()) settings.purpleLift = given.purpleLift;
        if (optPurpleThreshold->count()) settings.purpleThreshold = given.purpleThreshold;
        if (optHueInfluence->count()) settings.hueInfluence = given.hueInfluence;
        if (optHueThreshold->count()) settings.hueThreshold = given.hueThreshold;
        if (!optRecursive->count()) command.recursive = state.recursiveSearch != 0;
        if (!optMaxPixels->count()) command.maxPixels = state.maxPicturePixels;
        if (!optMaxMemory->count()) command.maxMemoryMib = state.maxRunMemoryMib;
        if (!optWhite->count()) white = settings.whiteAsTransparent != 0;
    }
    settings.whiteAsTransparent = white ? 1 : 0;
    return command;
}

} // namespace pelo::cli
