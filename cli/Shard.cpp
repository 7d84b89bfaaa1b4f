#include "cli/Shard.h"

#include <charconv>
#include <map>
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
    // Union by path; the root of a group is its first entry.
    std::vector<std::size_t> parent(entries.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&parent](std::size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    std::map<std::string_view, std::size_t> owner;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        for (const std::string* path : {&entries[i].input, &entries[i].output}) {
            const auto [it, fresh] = owner.emplace(*path, i);
            if (fresh) continue;
            const std::size_t a = root(it->second), b = root(i);
            parent[std::max(a, b)] = std::min(a, b);
        }
    }
    std::vector<unsigned> shards(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        shards[i] = static_cast<unsigned>(Fnv1a64(names[root(i)]) % count);
    return shards;
}

} // namespace pelo::cli
