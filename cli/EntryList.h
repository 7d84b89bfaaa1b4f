// --files-from: the names of the files to convert, read from a file or
// standard input, one a line or NUL-terminated.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelo::cli {

// The names of source ("-": standard input) in their order, empty ones left
// out. None when the list cannot be read or a name is not a path below the
// input folder (absolute, or with a ".." component); problem says why.
std::optional<std::vector<std::string>> ReadEntryList(const std::string& source, bool nul,
                                                      std::string& problem);

} // namespace pelo::cli
