// The codec's TIFF reader on hostile bytes.
#include "formats/CodecReaders.h"
#include "image/Allocation.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pelo::SetMaxImageBytes(std::size_t{64} << 20);
    pelo::PackedDibPtr block;
    std::string error;
    if (pelo::codec::DecodeTiff(data, size, block, error) == pelo::codec::TiffDecode::Decoded) {
        const auto& h = block->header();
        const std::size_t bytes = std::size_t(h.biWidth) * std::size_t(h.biHeight) * 4;
        volatile std::uint8_t last = bytes ? block->pixels()[bytes - 1] : 0;
        (void)last;
    }
    return 0;
}
