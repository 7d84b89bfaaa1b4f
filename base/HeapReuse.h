// Picture-sized buffers are allocated and freed once or more per file. Kept
// in the heap, they are reused by the next file instead of being mapped
// anew, faulted in page by page and cleared by the system each time.
#pragma once

namespace pelo {

// Large blocks from the heap and freed memory kept there for reuse (blocks
// of a worker thread only up to 64 MiB). Called once at program start.
void KeepFreedMemoryForReuse();

// Gives the heap's free memory back to the system (the end of a run).
void ReleaseFreedMemory();

} // namespace pelo
