// Bit reader over an ERI byte stream: 32-bit big-endian words, most
// significant bit first, refilled in 64 KiB pieces. It also holds the state
// of the three symbol coders: run-length gamma codes (-1), adaptive
// arithmetic codes (32) and run-length adaptive Huffman codes (-4).
#pragma once

#include "eri/EriByteStream.h"
#include "eri/EriHuffmanTree.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pelo {

// Frequency tables of the arithmetic coder for b-bit symbols: 2^b contexts,
// each with a total and 2^b (count, symbol) entries in decreasing count order.
class EriArithmeticModel {
public:
    struct Entry {
        std::uint16_t count;
        std::int16_t symbol;
    };
    static constexpr int kMaxBits = 10;

    // False for a bit count outside 1..kMaxBits.
    bool reset(int bits);
    int bits() const { return bits_; }
    std::uint32_t symbolCount() const { return count_; }
    std::uint32_t& total(std::uint32_t context) { return totals_[context]; }
    Entry* table(std::uint32_t context) { return &entries_[std::size_t{context} * count_]; }
    // Counts entry index of the context's table: grows, moves forward ahead
    // of the entries it now reaches, halves when the total passes 0xFFFF.
    void count(std::uint32_t context, std::uint32_t index) {
        Entry* e = table(context);
        const auto grown = static_cast<std::uint16_t>(e[index].count + 1);
        if (index == 0 || e[index - 1].count > grown)
            e[index].count = grown;
        else
            moveForward(e, index, grown);
        if (++totals_[context] > 0xFFFF) halve(context);
    }

private:
    static void moveForward(Entry* e, std::uint32_t index, std::uint16_t grown);
    void halve(std::uint32_t context);

    int bits_ = 0;
    std::uint32_t count_ = 0;
    std::vector<std::uint32_t> totals_;
    std::vector<Entry> entries_;
};

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

// The 32-bit big-endian word at p.
inline std::uint32_t LoadBigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

class EriBitReader {
public:
    static constexpr std::size_t kDefaultBufferBytes = 65536;
    static constexpr int kTreeCount = 257; // trees 0..255 and the run-length tree
    static constexpr int kRunLengthTree = 256;

    explicit EriBitReader(EriByteStream& stream, std::size_t bufferBytes = kDefaultBufferBytes);
    ~EriBitReader();
    EriBitReader(const EriBitReader&) = delete;
    EriBitReader& operator=(const EriBitReader&) = delete;

    // Forgets the current word and the buffered bytes; the next read refills
    // from the stream's current position.
    void discard();
    // 0 for a 0 bit, -1 for a 1 bit, 1 at the end of the data.
    int readBit() {
        if (bitsLeft_ == 0 && !fetchWord()) return 1;
        --bitsLeft_;
        return -static_cast<int>((word_ >> bitsLeft_) & 1);
    }
    // count (0..32) bits, first bit most significant; 0 at the end of the data.
    std::uint32_t readBits(int count);
    // The next bits without reading them, left-aligned in window: those of
    // the current word and, while the buffer holds it, the next word. Returns
    // how many are valid (0..32); the rest of window is zero.
    int peekBits(std::uint32_t& window) const {
        std::uint64_t bits = (std::uint64_t{word_} << 32) << (32 - bitsLeft_);
        int valid = bitsLeft_;
        if (bytesLeft_ >= 4) {
            bits |= std::uint64_t{LoadBigEndian32(buffer_.data() + cursor_)} << (32 - bitsLeft_);
            valid += 32;
        }
        window = static_cast<std::uint32_t>(bits >> 32);
        return valid < 32 ? valid : 32;
    }
    // Consumes count bits of a successful peekBits (count up to its result)
    // or peekByte (up to 8).
    void skipBits(int count) {
        if (count <= bitsLeft_) {
            bitsLeft_ -= count;
            return;
        }
        const int rest = count - bitsLeft_;
        fetchWord(); // the buffer holds the word: peekByte checked
        bitsLeft_ = 32 - rest;
    }
    // Whether a read has run past the end of the data (until discard).
    bool atEnd() const { return ended_; }
    // A gamma code (1 and up). False at the end of the data or for a code of
    // more than 31 bits of value.
    bool readGamma(std::uint32_t& value) {
        // Codes of up to 7 bits (values 1..15) from a table on the next 8 bits.
        std::uint32_t window;
        if (peekByte(window)) {
            const EriGammaEntry e = kEriGammaTable.entries[window];
            if (e.length != 0) {
                skipBits(e.length);
                value = e.value;
                return true;
            }
        }
        return readGammaSlow(value);
    }

    // Run-length gamma symbols. resetGamma reads the kind of the next run.
    void resetGamma();
    std::size_t decodeGammaSymbols(std::int32_t* out, std::size_t count);

    // Adaptive arithmetic symbols; setup makes them the current operation.
    bool setupArithmetic(int symbolBits);
    std::size_t decodeArithmeticSymbols(std::int32_t* out, std::size_t count);

    // The current symbol-block operation: gamma, or arithmetic after its set-up.
    std::size_t decodeSymbols(std::int32_t* out, std::size_t count);

    // Run-length Huffman symbols: all trees empty, current tree 0, no zeros owed.
    void setupHuffmanSymbols();
    std::size_t decodeHuffmanSymbols(std::int32_t* out, std::size_t count);
    // Trees 0..256, allocated on first use.
    EriHuffmanTree& huffmanTree(int index);
    // Empties all 257 trees (the row decoder's set-up).
    void clearHuffmanTrees();

    // 257 move-to-front tables of 256 bytes; reset makes each 0..255 in order.
    std::uint8_t* moveToFrontTable(int index);
    void resetMoveToFrontTables();

private:
    // The next 8 bits without reading them, also across the word boundary
    // while the buffer holds the next word; false when a refill would be
    // needed (the bit-by-bit path then handles the end of the data).
    bool peekByte(std::uint32_t& window) const {
        if (bitsLeft_ >= 8) {
            window = (word_ >> (bitsLeft_ - 8)) & 0xFF;
            return true;
        }
        if (bytesLeft_ < 4) return false;
        window =
            ((word_ << (8 - bitsLeft_)) | (std::uint32_t{buffer_[cursor_]} >> bitsLeft_)) & 0xFF;
        return true;
    }
    bool readGammaSlow(std::uint32_t& value);
    bool fetchWord();
    bool refill();
    // One bit for the arithmetic coder: 0 or 1, with 128 zero bits after the
    // first end of the data; -1 when the data ends a second time.
    int arithmeticBit() {
        const int bit = readBit();
        return bit <= 0 ? (bit & 1) : arithmeticBitAtEnd();
    }
    int arithmeticBitAtEnd();
    // Doubles range up to 2^31 a bit at a time, shifting stream bits through
    // (code, low) with the carry rule; false when the data ends a second time.
    bool renormaliseArithmetic();

    EriByteStream& stream_;
    std::vector<std::uint8_t> buffer_;
    std::size_t cursor_ = 0;
    std::size_t bytesLeft_ = 0;
    std::uint32_t word_ = 0;
    int bitsLeft_ = 0;
    bool ended_ = false;

    // Run-length gamma state.
    bool nonZeroRun_ = false;
    std::uint32_t runLeft_ = 0;

    // Arithmetic state.
    bool arithmeticCurrent_ = false;
    std::unique_ptr<EriArithmeticModel> model_;
    std::uint32_t context_ = 0;
    std::uint32_t code_ = 0;
    std::uint32_t range_ = 0;
    std::uint32_t low_ = 0;
    int endCount_ = 0;
    int zeroBitsLeft_ = 0;

    // Run-length Huffman state.
    std::unique_ptr<EriHuffmanTree[]> trees_;
    int currentTree_ = 0;
    std::uint64_t zerosOwed_ = 0;

    std::unique_ptr<std::uint8_t[]> moveToFront_;
};

} // namespace pelo
