// Bit reader over an ERI byte stream: 32-bit big-endian words, most
// significant bit first, refilled in 64 KiB pieces. The symbol coders
// (EriGammaCoder, EriArithmeticCoder, EriHuffmanCoder) read through it.
#pragma once

#include "eri/EriByteStream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelo {

// The 32-bit big-endian word at p.
inline std::uint32_t LoadBigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

class EriBitReader {
public:
    static constexpr std::size_t kDefaultBufferBytes = 65536;

    explicit EriBitReader(EriByteStream& stream, std::size_t bufferBytes = kDefaultBufferBytes);
    EriBitReader(const EriBitReader&) = delete;
    EriBitReader& operator=(const EriBitReader&) = delete;

    // Forgets the current word and the buffered bytes; the next read refills
    // from the stream's current position.
    void Discard() {
        cursor_ = 0;
        bytesLeft_ = 0;
        word_ = 0;
        bitsLeft_ = 0;
        ended_ = false;
    }
    // 0 for a 0 bit, -1 for a 1 bit, 1 at the end of the data.
    int ReadBit() {
        if (bitsLeft_ == 0 && !FetchWord()) return 1;
        --bitsLeft_;
        return -static_cast<int>((word_ >> bitsLeft_) & 1);
    }
    // count (0..32) bits, first bit most significant; 0 at the end of the data.
    std::uint32_t ReadBits(int count);
    // The next bits without reading them, left-aligned in window: those of
    // the current word and, while the buffer holds it, the next word. Returns
    // how many are valid (0..32); the rest of window is zero.
    int PeekBits(std::uint32_t& window) const {
        std::uint64_t bits = (std::uint64_t{word_} << 32) << (32 - bitsLeft_);
        int valid = bitsLeft_;
        if (bytesLeft_ >= 4) {
            bits |= std::uint64_t{LoadBigEndian32(buffer_.data() + cursor_)} << (32 - bitsLeft_);
            valid += 32;
        }
        window = static_cast<std::uint32_t>(bits >> 32);
        return valid < 32 ? valid : 32;
    }
    // The next 8 bits without reading them, also across the word boundary
    // while the buffer holds the next word; false when a refill would be
    // needed (the bit-by-bit path then handles the end of the data).
    bool PeekByte(std::uint32_t& window) const {
        if (bitsLeft_ >= 8) {
            window = (word_ >> (bitsLeft_ - 8)) & 0xFF;
            return true;
        }
        if (bytesLeft_ < 4) return false;
        window =
            ((word_ << (8 - bitsLeft_)) | (std::uint32_t{buffer_[cursor_]} >> bitsLeft_)) & 0xFF;
        return true;
    }
    // Consumes count bits of a successful PeekBits (count up to its result)
    // or PeekByte (up to 8).
    void SkipBits(int count) {
        if (count <= bitsLeft_) {
            bitsLeft_ -= count;
            return;
        }
        const int rest = count - bitsLeft_;
        FetchWord(); // the buffer holds the word: the peek checked
        bitsLeft_ = 32 - rest;
    }
    // Whether a read has run past the end of the data (until Discard).
    bool AtEnd() const { return ended_; }

private:
    // The next word into word_, refilling the buffer when it is empty; false
    // at the end of the data.
    bool FetchWord() {
        if (bytesLeft_ == 0 && !Refill()) return false;
        word_ = LoadBigEndian32(buffer_.data() + cursor_);
        cursor_ += 4;
        bytesLeft_ -= 4;
        bitsLeft_ = 32;
        return true;
    }
    bool Refill();

    EriByteStream& stream_;
    std::vector<std::uint8_t> buffer_;
    std::size_t cursor_ = 0;
    std::size_t bytesLeft_ = 0;
    std::uint32_t word_ = 0;
    int bitsLeft_ = 0;
    bool ended_ = false;
};

} // namespace pelo
