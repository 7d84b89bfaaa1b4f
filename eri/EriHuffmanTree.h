// Adaptive Huffman tree of the run-length Huffman symbols: 513 nodes in one
// array, the root at 512, weights non-decreasing with the index from the
// free mark up, siblings at adjacent indexes. Leaves are added through an
// escape leaf and weights are halved by a rebuild when the root passes 0x3FFF.
#pragma once

#include "eri/EriBitReader.h"

#include <cstdint>

#if defined(__GNUC__)
#define PELO_COLD __attribute__((noinline, cold))
#else
#define PELO_COLD
#endif

namespace pelo {

class EriHuffmanTree {
public:
    static constexpr int kRoot = 512;
    static constexpr int kNodeCount = 513;
    static constexpr std::uint16_t kAbsent = 0x8000;
    static constexpr std::int32_t kEscapeCode = -1;
    static constexpr std::int32_t kLeafCode = INT32_MIN; // + symbol
    static constexpr std::uint16_t kMaxRootWeight = 0x3FFF;

    struct Node {
        std::uint16_t weight;
        std::uint16_t parent;
        // Internal: index of the first child (children at code and code + 1).
        // Leaf: kLeafCode + symbol. Escape leaf: kEscapeCode.
        std::int32_t code;
    };

    EriHuffmanTree() { Clear(); }

    // The empty tree.
    void Clear();
    bool Empty() const { return code_[kRoot] == kAbsent; }

    // Decodes one symbol and adapts the tree. An escape reads 8 raw bits, or a
    // gamma code when gammaEscape is set (the run-length tree). False at the
    // end of the data or on an inconsistent tree.
    bool Decode(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape = false);

    // Model operations, shared by Decode and open to tests.
    bool AddSymbol(std::uint32_t symbol);
    // Weight of the leaf at index + 1, update, rebuild when the root is too heavy.
    bool CountLeaf(int index);

    Node NodeAt(int index) const { return {weight_[index], parent_[index], code_[index]}; }
    int FreeMark() const { return free_; }
    std::uint16_t LeafPosition(std::uint32_t symbol) const { return leafPositions_[symbol & 0xFF]; }
    std::uint16_t EscapePosition() const { return escapePosition_; }

private:
    // Longest walk Decode records: the bits one peek can hold.
    static constexpr int kMaxFastDepth = 32;
    // Finishes the count of a recorded walk that has added one to every node
    // on its path, when a swap is due at level due.
    PELO_COLD bool SettlePath(const std::uint16_t* path, int due);
    // The rare ends of Decode, kept out of its inlined body: an escape (or an
    // empty tree) reading the new symbol, and a walk longer than the peeked
    // bits going on bit by bit after depth levels.
    PELO_COLD bool DecodeNew(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape);
    PELO_COLD bool DecodeLong(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape,
                              int depth, std::int32_t code);
    bool Update(int index);
    void SwapNodes(int i, int j);
    void Repoint(int index);
    void Rebuild();

    void SetNode(int index, std::uint16_t weight, std::uint16_t parent, std::int32_t code) {
        weight_[index] = weight;
        parent_[index] = parent;
        code_[index] = code;
    }

    // One array per field: the walk down reads only codes, the climb mostly
    // weights, so each stays dense in the cache across the 257 trees.
    std::int32_t code_[kNodeCount];
    std::uint16_t weight_[kNodeCount];
    std::uint16_t parent_[kNodeCount];
    std::uint16_t leafPositions_[256];
    std::uint16_t escapePosition_;
    int free_;
};

// Inline, so that the symbol loops of the coders take the walk in.
inline bool EriHuffmanTree::Decode(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape) {
    if (Empty()) return DecodeNew(bits, symbol, gammaEscape);
    std::int32_t code = code_[kRoot];
    // Walk down on peeked bits, recording the path and counting each node on
    // it: while no node needs a swap, the climb of Update would only add one
    // at every level. due is the deepest level where a swap is due (the next
    // node is not heavier) or where the parent disagrees with the path.
    std::uint16_t path[kMaxFastDepth];
    std::uint32_t window;
    const int valid = bits.PeekBits(window);
    const std::uint32_t first = static_cast<std::uint32_t>(free_);
    const std::uint32_t span = static_cast<std::uint32_t>(kRoot - free_);
    std::uint32_t above = kRoot;
    int depth = 0;
    int due = -1;
    while (depth < valid) {
        // One unsigned comparison for free mark <= index < root.
        const std::uint32_t at = static_cast<std::uint32_t>(code) + (window >> 31);
        window <<= 1;
        if (at - first >= span) return false;
        const std::uint16_t weight = weight_[at];
        const bool settle = weight_[at + 1] <= weight || parent_[at] != above;
        due = settle ? depth : due;
        weight_[at] = static_cast<std::uint16_t>(weight + 1);
        path[depth++] = static_cast<std::uint16_t>(at);
        above = at;
        code = code_[at];
        if (code < 0) break;
    }
    bits.SkipBits(depth);
    if (code >= 0) {
        for (int k = 0; k < depth; ++k)
            --weight_[path[k]];
        return DecodeLong(bits, symbol, gammaEscape, depth, code);
    }
    if (due >= 0) {
        if (!SettlePath(path, due)) return false;
    } else if (++weight_[kRoot] > kMaxRootWeight) {
        Rebuild();
    }
    if (code == kEscapeCode) return DecodeNew(bits, symbol, gammaEscape);
    symbol = static_cast<std::uint32_t>(code) & 0x7FFFFFFFu;
    return true;
}

} // namespace pelo
