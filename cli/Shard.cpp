#include "cli/Shard.h"

#include <charconv>
#include <numeric>

namespace pelo::cli {

namespace {

bool ParseNumber(std::string_view text, unsigned& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

bool ParseShard(std::string_view text, unsigned& index, unsigned& count) {
    const auto slash = text.find('/');
    if (slash == std::string_view::npos) return false;
    unsigned k = 0, n = 0;
    if (!ParseNumber(text.substr(0, slash), k) || !ParseNumber(text.substr(slash + 1), n))
        return false;
    if (k < 1 || k > n) return false;
    index = k;
    count = n;
    return true;
}

std::uint64_t Fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::vector<unsigned> ShardsOf(const std::vector<BatchEntry>& entries,
                               const std::vector<std::string>& names, unsigned count) {
    // Entries linked by a path go where the first of them goes.
    std::vector<std::size_t> all(entries.size());
    std::iota(all.begin(), all.end(), 0);
    std::vector<unsigned> shards(entries.size());
    for (const auto& unit : GroupEntries(entries, all)) {
        const auto shard = static_cast<unsigned>(Fnv1a64(names[unit.front()]) % count);
        for (const std::size_t i : unit)
            shards[i] = shard;
    }
    return shards;
}

} // namespace pelo::cli
