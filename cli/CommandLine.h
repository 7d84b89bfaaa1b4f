// What pelo-batch was asked to do: the options, checked, with the
// desktop program's profile as the starting point when --settings is given.
#pragma once

#include "image/ConversionSettings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct BatchCommand {
    ConversionSettings settings;
    std::vector<std::string> paths; // INPUT OUTPUT, files or folders
    std::string from, to;           // formats of a folder run, as typed
    std::string filesFrom;          // the list of entries ("-": standard input); empty: none
    bool nulSeparated = false;      // the list's entries end with NUL instead of a newline
    unsigned shardIndex = 1;        // convert the shardIndex-th of shardCount parts (1-based)
    unsigned shardCount = 1;
    std::string report; // JSON lines file ("-": standard output); empty: none
    bool dryRun = false;
    unsigned jobs = 1;
    bool recursive = false;
    bool quiet = false;
    bool listFormats = false;
    bool version = false;
    bool inPlace = false;
    std::uint64_t maxPixels = 0;
    std::size_t maxMemoryMib = 0;
};

// The command, or none when the program ends at once with exitCode (help,
// a usage error, a missing profile).
std::optional<BatchCommand> ParseCommandLine(int argc, char** argv, int& exitCode);

// Prints a usage error; kExitUsage.
int UsageError(const std::string& text);

} // namespace pelo::cli
