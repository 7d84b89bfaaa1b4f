// The small deterministic generator (xorshift32) the drawn samples share:
// independent of the library, the same seed gives the same pictures on every
// machine.
#pragma once

#include <cstdint>

namespace pelo::samples {

struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int range(int lo, int hi) {
        return lo + static_cast<int>(next() % static_cast<std::uint32_t>(hi - lo + 1));
    }
};

} // namespace pelo::samples
