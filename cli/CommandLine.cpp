#include "cli/CommandLine.h"

#include "base/TextCase.h"
#include "cli/SettingsOptions.h"
#include "cli/Shard.h"
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

constexpr const char* kFooter =
    "The output format of a folder run names the outputs' extension as typed in\n"
    "lower or upper case (--to png: name.png, --to PNG: name.PNG).\n"
    "GIF output keeps transparency as alpha: below 128 transparent, 128 and\n"
    "above opaque.\n"
    "Exit status: 0 all converted, 1 a file failed or was refused, 2 usage error,\n"
    "130 or 143 stopped by SIGINT or SIGTERM.";

} // namespace

int UsageError(const std::string& text) {
    std::fprintf(stderr, "pelo-batch: %s\nRun with --help for more information.\n", text.c_str());
    return kExitUsage;
}

std::optional<BatchCommand> ParseCommandLine(int argc, char** argv, int& exitCode) {
    CLI::App app{"Anti-aliases the stair-stepped edges of pictures.\n"
                 "  pelo-batch [OPTIONS] INPUT OUTPUT\n"
                 "  pelo-batch [OPTIONS] --from FMT --to FMT INPUT_DIR OUTPUT_DIR\n"
                 "  pelo-batch [OPTIONS] --files-from LIST --to FMT INPUT_DIR OUTPUT_DIR",
                 "pelo-batch"};
    app.footer(kFooter);
    BatchCommand command; // settings: the first-start values
    command.jobs = std::max(1u, std::thread::hardware_concurrency());
    command.maxPixels = kDefaultMaxPicturePixels;
    command.maxMemoryMib = kDefaultRunMemory >> 20;
    std::string settingsFile, shard;

    app.add_option("paths", command.paths,
                   "INPUT OUTPUT (files), or INPUT_DIR OUTPUT_DIR with --from/--to")
        ->expected(0, 2);
    app.add_option("--from", command.from, "input format of a folder run: png, PNG or *.PNG")
        ->type_name("FMT");
    app.add_option("--to", command.to, "output format of a folder run: tga, TGA or *.TGA")
        ->type_name("FMT");
    app.add_option("--files-from", command.filesFrom,
                   "convert the files LIST names, one a line, relative to INPUT_DIR "
                   "(-: standard input); needs --to")
        ->type_name("LIST");
    app.add_flag("-0,--null", command.nulSeparated, "the names of LIST end with NUL, not newline");
    const SettingsOptions settingsOptions(app);
    auto* optRecursive = app.add_flag("-r,--recursive", command.recursive, "include sub-folders");
    app.add_option("-j,--jobs", command.jobs, "files in parallel (number of cores)")
        ->check(CLI::Range(1u, 1024u));
    app.add_option("--shard", shard,
                   "K/N: convert only the K-th of N parts of the run, split by a hash of each "
                   "file's path below INPUT_DIR")
        ->type_name("K/N");
    auto* optSettings =
        app.add_option("--settings", settingsFile,
                       "start from a profile in the desktop program's INI format (FILE.ini; "
                       "alone: the desktop program's own)")
            ->type_name("FILE")
            ->expected(0, 1);
    app.add_flag("--in-place", command.inPlace,
                 "allow outputs to replace inputs (refused without it, nothing written)");
    app.add_flag("--dry-run", command.dryRun,
                 "print what would be written and what would be refused; write nothing");
    app.add_option("--report", command.report,
                   "write one JSON object per file and a summary, one a line (-: standard "
                   "output)")
        ->type_name("FILE");
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
    if (!shard.empty() && !ParseShard(shard, command.shardIndex, command.shardCount)) {
        exitCode = UsageError("--shard wants K/N with 1 <= K <= N, not '" + shard + "'");
        return std::nullopt;
    }

    // Start values (first start or profile), then the preset, then what the
    // command line names explicitly.
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
        command.settings = state.settings;
        if (!optRecursive->count()) command.recursive = state.recursiveSearch != 0;
        if (!optMaxPixels->count()) command.maxPixels = state.maxPicturePixels;
        if (!optMaxMemory->count()) command.maxMemoryMib = state.maxRunMemoryMib;
    }
    if (const std::string problem = settingsOptions.ApplyTo(command.settings); !problem.empty()) {
        exitCode = UsageError(problem);
        return std::nullopt;
    }
    return command;
}

} // namespace pelo::cli
