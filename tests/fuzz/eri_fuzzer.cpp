// Feeds arbitrary bytes to the ERI loader through an in-memory stream.
#include "eri/EriByteStream.h"
#include "eri/LoadEriImage.h"
#include "image/Allocation.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Small pictures only: a header may claim up to 2^28 pixels, and the
    // fuzzer is after the decoder's handling of the bits, not the allocator.
    static const bool limited = [] {
        pelo::SetMaxImageBytes(std::size_t{4} << 20);
        return true;
    }();
    (void)limited;
    pelo::EriMemoryStream stream(data, size);
    pelo::PackedDibPtr block;
    pelo::LoadEriImage(stream, block);
    // Load again into the same block: the reuse path.
    stream.Seek(0);
    pelo::LoadEriImage(stream, block);
    return 0;
}
