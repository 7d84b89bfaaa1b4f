// --shard K/N: the run split into N parts that every machine computes alike
// from the entries alone. An entry goes to the part its relative path
// hashes to (FNV-1a, 64 bits); entries that share a path (an output that is
// another entry's input in place, or two entries on one output) follow the
// first of them in run order, so one machine does them all in that order.
#pragma once

#include "pipeline/BatchRunner.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelo::cli {

// "K/N" with 1 <= K <= N.
bool ParseShard(std::string_view text, unsigned& index, unsigned& count);

std::uint64_t Fnv1a64(std::string_view bytes);

// The part (0 .. count-1) of each entry; names are the entries' paths
// relative to the input folder.
std::vector<unsigned> ShardsOf(const std::vector<BatchEntry>& entries,
                               const std::vector<std::string>& names, unsigned count);

} // namespace pelo::cli
