// JSON string literals for the report: UTF-8 kept, quotes, backslashes and
// control characters escaped, a byte that starts no valid UTF-8 sequence
// written as U+FFFD so every line stays valid JSON.
#pragma once

#include <string>
#include <string_view>

namespace pelo::cli {

void AppendJsonString(std::string& out, std::string_view text);

} // namespace pelo::cli
