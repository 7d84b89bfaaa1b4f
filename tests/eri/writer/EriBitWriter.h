// Test-side encoders for ERI streams: the exact inverse of the bit reader and
// of each symbol coder, with models of their own that mirror the decoder's
// updates. Not part of the programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace pelo::eritest {

// Bits most significant first; the bytes form 32-bit big-endian words.
class EriBitWriter {
public:
    void writeBit(int bit);
    void writeBits(std::uint32_t value, int count); // count 0..32, MSB first
    // Gamma code of value >= 1.
    void writeGamma(std::uint32_t value);
    std::size_t bitCount() const { return bits_; }
    // The bytes written so far, the last one zero-padded; padWords pads to
    // whole 32-bit words.
    std::vector<std::uint8_t> bytes(bool padWords = false) const;

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t bits_ = 0;
};

// Run-length gamma symbols for one segment between two gamma resets: the
// reset bit, then alternating runs (a nonzero value is a sign bit, 1 for
// negative, and a gamma magnitude).
void WriteGammaRuns(EriBitWriter& out, std::span<const std::int32_t> values);

// Adaptive arithmetic coder for b-bit symbols (values taken modulo 2^b as
// signed b-bit numbers). finish() appends the coded bits, with a zero bit
// stuffed after every window of 32 one bits, to out.
class EriArithmeticWriter {
public:
    explicit EriArithmeticWriter(int bits);
    void encode(std::int32_t value);
    void finish(EriBitWriter& out);

private:
    struct Entry {
        std::uint32_t count;
        std::int32_t symbol;
    };
    void carry();
    int bits_;
    std::uint32_t n_;
    std::vector<std::vector<Entry>> tables_;
    std::vector<std::uint32_t> totals_;
    std::uint32_t context_ = 0;
    std::uint64_t low_ = 0; // 32 bits used
    std::uint32_t range_ = 0xFFFFFFFFu;
    std::vector<std::uint8_t> value_; // the coded value's bits, carries applied
};

// Adaptive Huffman tree as the encoder sees it (same array layout and the
// same updates as the decoder's tree).
class EriHuffmanWriterTree {
public:
    EriHuffmanWriterTree() { clear(); }
    void clear();
    // Writes symbol (a byte, or for a gamma-escape tree any value >= 1).
    void write(EriBitWriter& out, std::uint32_t symbol, bool gammaEscape = false);

private:
    struct Node {
        int weight;
        int parent;
        std::int64_t code; // >= 0 internal (first child); -1 escape; -2 - symbol leaf
    };
    static constexpr int kRoot = 512;
    int find(std::uint32_t symbol) const;
    void writePath(EriBitWriter& out, int index) const;
    void increment(int index);
    void add(std::uint32_t symbol);
    void swap(int i, int j);
    void fix(int index);
    void rebuild();
    bool isEmpty() const { return nodes_[kRoot].code == 0x8000; }

    Node nodes_[513];
    int free_ = kRoot;
};

// Run-length Huffman symbols: the whole sequence is known in advance so that
// a zero run may reach into later blocks; write() codes the next count values.
class EriHuffmanSymbolWriter {
public:
    EriHuffmanSymbolWriter();
    void reset(std::span<const std::int32_t> sequence);
    void write(EriBitWriter& out, std::size_t count);
    // The individual trees (0..255, 256 the run-length tree).
    EriHuffmanWriterTree& tree(int index) { return trees_[index]; }

private:
    std::unique_ptr<EriHuffmanWriterTree[]> trees_;
    std::span<const std::int32_t> sequence_;
    std::size_t cursor_ = 0;
    std::size_t owed_ = 0;
    int current_ = 0;
};

} // namespace pelo::eritest
