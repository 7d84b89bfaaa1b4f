// Large scratch blocks for whole-image passes. Plain heap blocks: the
// programs keep freed memory for reuse, so a block's pages are cleared once
// per process; asking for huge pages instead made every fault compact memory
// (a third of a one-picture run's time).
#pragma once

#include "image/Allocation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace pelo {

struct WorkMemoryFree {
    void operator()(void* p) const { std::free(p); }
};
using WorkMemory = std::unique_ptr<std::uint8_t[], WorkMemoryFree>;

// Uninitialised bytes, or null when n exceeds MaxImageBytes() or memory is
// exhausted.
inline WorkMemory AllocateWorkMemory(std::size_t n) {
    if (n > MaxImageBytes()) return nullptr;
    void* p = std::malloc(n == 0 ? 1 : n);
    return WorkMemory(static_cast<std::uint8_t*>(p));
}

} // namespace pelo
