// Large scratch blocks for whole-image passes. A block of several megabytes
// is asked for in huge pages: the passes touch it sparsely or once, and with
// small pages the first touches (one fault and one page clear per 4 KiB)
// cost more than the pass itself.
#pragma once

#include "image/Allocation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace pelo {

struct WorkMemoryFree {
    void operator()(void* p) const { std::free(p); }
};
using WorkMemory = std::unique_ptr<std::uint8_t[], WorkMemoryFree>;

// Uninitialised bytes, or null when n exceeds MaxImageBytes() or memory is
// exhausted.
inline WorkMemory AllocateWorkMemory(std::size_t n) {
    if (n > MaxImageBytes()) return nullptr;
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    void* p = nullptr;
    if (n >= 2 * kHuge) {
        const std::size_t rounded = (n + kHuge - 1) / kHuge * kHuge;
        if (posix_memalign(&p, kHuge, rounded) != 0) return nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        madvise(p, rounded, MADV_HUGEPAGE); // only a hint; failure changes nothing
#endif
    } else {
        p = std::malloc(n == 0 ? 1 : n);
    }
    return WorkMemory(static_cast<std::uint8_t*>(p));
}

} // namespace pelo
