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
