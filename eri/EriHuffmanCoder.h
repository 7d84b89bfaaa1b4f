// Run-length adaptive Huffman codes (symbol coder -4): 256 byte trees, each
// used after the byte it is named for, and a run-length tree for the zeros
// that follow a 0.
#pragma once

#include "eri/EriBitReader.h"
#include "eri/EriHuffmanTree.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pelo {

class EriHuffmanCoder {
public:
    static constexpr int kTreeCount = 257; // trees 0..255 and the run-length tree
    static constexpr int kRunLengthTree = 256;

    explicit EriHuffmanCoder(EriBitReader& bits) : bits_(bits) {}
    EriHuffmanCoder(const EriHuffmanCoder&) = delete;
    EriHuffmanCoder& operator=(const EriHuffmanCoder&) = delete;

    // All trees empty (allocated on first use), current tree 0, no zeros owed.
    void Reset();

    // Run-length symbols: signed bytes, a 0 followed by a run length of the
    // zeros after it; the current tree and the zeros owed carry across calls.
    // Without an earlier Reset it resets first.
    std::size_t DecodeSymbols(std::int32_t* out, std::size_t count);

    // Single symbols of the row decoder, after Reset: a byte from tree
    // (0..255), or a run length from the run-length tree.
    bool DecodeByte(int tree, std::uint32_t& symbol) { return trees_[tree].Decode(bits_, symbol); }
    bool DecodeRunLength(std::uint32_t& run) {
        return trees_[kRunLengthTree].Decode(bits_, run, true);
    }

private:
    EriBitReader& bits_;
    std::unique_ptr<EriHuffmanTree[]> trees_;
    int currentTree_ = 0;
    std::uint64_t zerosOwed_ = 0;
};

} // namespace pelo
