#include "eri/EriGammaCoder.h"

#include <algorithm>

namespace pelo {

bool EriGammaCoder::ReadCodeSlow(EriBitReader& bits, std::uint32_t& value) {
    std::uint32_t v = 1;
    std::uint32_t x = 0;
    int pairs = 0;
    // Whole bytes while the next 8 bits are at hand: four continuing pairs at
    // a time, then the end of the code from the table.
    std::uint32_t window;
    while (pairs + 4 <= 30 && bits.PeekByte(window)) {
        if ((window & 0xAA) == 0xAA) {
            x = (x << 4) | ((window >> 3) & 8) | ((window >> 2) & 4) | ((window >> 1) & 2) |
                (window & 1);
            v <<= 4;
            pairs += 4;
            bits.SkipBits(8);
            continue;
        }
        // A stop bit among the four: a code of 2 * p + 1 bits in the table.
        const EriGammaEntry e = kEriGammaTable.entries[window];
        const int p = e.length / 2;
        if (e.length == 0 || pairs + p > 30) break;
        bits.SkipBits(e.length);
        value = ((v + x) << p) + (e.value - (std::uint32_t{1} << p));
        return true;
    }
    for (;; ++pairs) {
        const int more = bits.ReadBit();
        if (more > 0) return false;
        if (more == 0) break;
        if (pairs >= 30) return false; // no value of this size is meaningful
        const int bit = bits.ReadBit();
        if (bit > 0) return false;
        x = 2 * x + static_cast<std::uint32_t>(bit & 1);
        v *= 2;
    }
    value = v + x;
    return true;
}

// ---- run-length gamma symbols ------------------------------------------

void EriGammaCoder::Reset() {
    nonZeroRun_ = bits_.ReadBit() != 0 && !bits_.AtEnd();
    runLeft_ = 0;
}

std::size_t EriGammaCoder::DecodeSymbols(std::int32_t* out, std::size_t count) {
    if (count == 0) return 0;
    EriBitReader& bits = bits_;
    std::size_t done = 0;
    if (runLeft_ == 0 && !ReadCode(bits, runLeft_)) return 0;
    for (;;) {
        const std::size_t take = std::min<std::size_t>(count - done, runLeft_);
        if (nonZeroRun_) {
            for (std::size_t i = 0; i < take; ++i) {
                // The sign bit and a gamma code of up to 7 bits from one
                // look-up on the next 8 bits.
                std::uint32_t window;
                if (bits.PeekByte(window)) {
                    const EriGammaEntry e = kEriGammaTable.entries[(window << 1) & 0xFF];
                    if (e.length != 0) {
                        bits.SkipBits(e.length + 1);
                        const auto m = static_cast<std::int32_t>(e.value);
                        out[done++] = (window & 0x80) ? -m : m;
                        --runLeft_;
                        continue;
                    }
                    // A code of 9 bits or more, past the table as well.
                    bits.SkipBits(1);
                    std::uint32_t magnitude;
                    if (!ReadCodeSlow(bits, magnitude)) return done;
                    const auto m = static_cast<std::int32_t>(magnitude);
                    out[done++] = (window & 0x80) ? -m : m;
                    --runLeft_;
                    continue;
                }
                const int sign = bits.ReadBit();
                std::uint32_t magnitude;
                if (sign > 0 || !ReadCode(bits, magnitude)) return done;
                const auto m = static_cast<std::int32_t>(magnitude);
                out[done++] = sign ? -m : m;
                --runLeft_;
            }
        } else {
            std::fill_n(out + done, take, 0);
            done += take;
            runLeft_ -= static_cast<std::uint32_t>(take);
        }
        if (done == count) {
            if (runLeft_ == 0) nonZeroRun_ = !nonZeroRun_;
            return done;
        }
        nonZeroRun_ = !nonZeroRun_;
        if (!ReadCode(bits, runLeft_)) return done;
    }
}

// ---- move-to-front tables ------------------------------------------------

std::uint8_t* EriGammaCoder::MoveToFrontTable(int index) {
    if (!moveToFront_) {
        moveToFront_ = std::make_unique<std::uint8_t[]>(std::size_t{kMoveToFrontTables} * 256);
        ResetMoveToFrontTables();
    }
    return moveToFront_.get() + std::size_t(index) * 256;
}

void EriGammaCoder::ResetMoveToFrontTables() {
    if (!moveToFront_) {
        MoveToFrontTable(0);
        return;
    }
    for (int t = 0; t < kMoveToFrontTables; ++t)
        for (int i = 0; i < 256; ++i)
            moveToFront_[std::size_t(t) * 256 + i] = std::uint8_t(i);
}

} // namespace pelo
