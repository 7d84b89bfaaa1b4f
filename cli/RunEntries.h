// The entries of a run from the command: one file pair, every file of the
// input format in a folder (and, with -r, its sub-folders), or the files a
// list names, each with its output path.
#pragma once

#include "cli/CommandLine.h"
#include "pipeline/BatchRunner.h"

#include <optional>
#include <string>
#include <vector>

namespace pelo::cli {

// The formats the lists offer, sorted: "*.ERI", "*.PSD" and the codec's.
std::vector<std::string> InputPatterns();
std::vector<std::string> OutputPatterns();

// The output pattern of --to: the extension as typed when it is all lower
// or all upper case ("*.png", "*.PNG"), else upper-cased; empty when fmt is
// no extension.
std::string TypedOutputPattern(const std::string& fmt);

struct RunEntries {
    std::vector<BatchEntry> entries;
    std::vector<std::string> names; // per entry: its path below the input folder
    bool listingFailed = false;     // a sub-folder could not be opened (named on stderr)
};

// None when the run cannot start; exitCode then says how the program ends.
std::optional<RunEntries> CollectRunEntries(const BatchCommand& command, int& exitCode);

} // namespace pelo::cli
