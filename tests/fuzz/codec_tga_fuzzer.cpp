// The codec's own TGA decoder and the completeness checks on hostile bytes.
#include "formats/CodecReaders.h"
#include "image/Allocation.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pelo::SetMaxImageBytes(std::size_t{64} << 20);
    pelo::PackedDibPtr block;
    std::string error;
    if (pelo::codec::DecodeTga(data, size, block, error) && block) {
        // Every pixel of the block must be addressable.
        const auto& h = block->header();
        volatile std::uint8_t sink = 0;
        const std::size_t bytes = std::size_t(h.biWidth) * std::size_t(h.biHeight) * 4;
        if (bytes) sink = block->pixels()[bytes - 1];
        (void)sink;
    }
    pelo::codec::CheckComplete(data, size, error);
    return 0;
}
