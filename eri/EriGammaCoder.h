// Gamma codes (symbol coder -1): single codes, run-length gamma symbols for
// the block decoders, and the move-to-front tables of the gamma row decoder.
#pragma once

#include "eri/EriBitReader.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pelo {

// Gamma codes of up to 7 bits, indexed by the next 8 bits of the stream.
struct EriGammaEntry {
    std::uint8_t length = 0; // 0: the code is longer than the window
    std::uint8_t value = 0;
};
struct EriGammaTable {
    EriGammaEntry entries[256];
    constexpr EriGammaTable() : entries() {
        for (int window = 0; window < 256; ++window) {
            std::uint32_t v = 1, x = 0;
            int position = 0;
            for (;;) {
                if (position >= 8) break;
                if (!((window >> (7 - position)) & 1)) {
                    entries[window] = {static_cast<std::uint8_t>(position + 1),
                                       static_cast<std::uint8_t>(v + x)};
                    break;
                }
                if (position + 1 >= 8) break;
                x = 2 * x + ((window >> (6 - position)) & 1);
                v *= 2;
                position += 2;
            }
        }
    }
};
inline constexpr EriGammaTable kEriGammaTable{};

class EriGammaCoder {
public:
    static constexpr int kMoveToFrontTables = 257; // one per previous byte, and the first

    explicit EriGammaCoder(EriBitReader& bits) : bits_(bits) {}
    EriGammaCoder(const EriGammaCoder&) = delete;
    EriGammaCoder& operator=(const EriGammaCoder&) = delete;

    // One gamma code (1 and up) from bits, which needs no coder state. False
    // at the end of the data or for a code of more than 31 bits of value.
    static bool ReadCode(EriBitReader& bits, std::uint32_t& value) {
        // Codes of up to 7 bits (values 1..15) from a table on the next 8 bits.
        std::uint32_t window;
        if (bits.PeekByte(window)) {
            const EriGammaEntry e = kEriGammaTable.entries[window];
            if (e.length != 0) {
                bits.SkipBits(e.length);
                value = e.value;
                return true;
            }
        }
        return ReadCodeSlow(bits, value);
    }

    // Run-length gamma symbols. Reset reads the kind of the next run; the
    // run in progress carries across DecodeSymbols calls.
    void Reset();
    std::size_t DecodeSymbols(std::int32_t* out, std::size_t count);

    // Move-to-front tables of 256 bytes for the row decoder, allocated on
    // first use; ResetMoveToFrontTables makes each 0..255 in order.
    std::uint8_t* MoveToFrontTable(int index);
    void ResetMoveToFrontTables();

private:
    static bool ReadCodeSlow(EriBitReader& bits, std::uint32_t& value);

    EriBitReader& bits_;
    bool nonZeroRun_ = false;
    std::uint32_t runLeft_ = 0;
    std::unique_ptr<std::uint8_t[]> moveToFront_;
};

} // namespace pelo
