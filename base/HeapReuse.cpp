#include "base/HeapReuse.h"

#include <climits>
#include <malloc.h>

namespace pelo {

void KeepFreedMemoryForReuse() {
    // With mapping off, the main heap keeps freed blocks of any size for the
    // next file. A worker thread's own arena still maps blocks above its
    // 64 MiB heaps afresh; putting every thread on the main heap instead
    // lets the workers' blocks interleave and the heap grow file by file.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
}

void ReleaseFreedMemory() {
    malloc_trim(0);
}

} // namespace pelo
