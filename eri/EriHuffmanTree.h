// Adaptive Huffman tree of the run-length Huffman symbols: 513 nodes in one
// array, the root at 512, weights non-decreasing with the index from the
// free mark up, siblings at adjacent indexes. Leaves are added through an
// escape leaf and weights are halved by a rebuild when the root passes 0x3FFF.
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define PELO_COLD __attribute__((noinline, cold))
#else
#define PELO_COLD
#endif

namespace pelo {

class EriBitReader;

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

    EriHuffmanTree() { clear(); }

    // The empty tree.
    void clear();
    bool empty() const { return code_[kRoot] == kAbsent; }

    // Decodes one symbol and adapts the tree. An escape reads 8 raw bits, or a
    // gamma code when gammaEscape is set (the run-length tree). False at the
    // end of the data or on an inconsistent tree.
    bool decode(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape = false);

    // Model operations, shared by decode and open to tests.
    bool addSymbol(std::uint32_t symbol);
    // Weight of the leaf at index + 1, update, rebuild when the root is too heavy.
    bool countLeaf(int index);

    Node node(int index) const { return {weight_[index], parent_[index], code_[index]}; }
    int freeMark() const { return free_; }
    std::uint16_t leafPosition(std::uint32_t symbol) const { return leafPositions_[symbol & 0xFF]; }
    std::uint16_t escapePosition() const { return escapePosition_; }

private:
    // Longest walk decode records: the bits one peek can hold.
    static constexpr int kMaxFastDepth = 32;
    // Finishes the count of a recorded walk that has added one to every node
    // on its path, when a swap is due at level due.
    PELO_COLD bool settlePath(const std::uint16_t* path, int due);
    // The rare ends of decode, kept out of its inlined body: an escape (or an
    // empty tree) reading the new symbol, and a walk longer than the peeked
    // bits going on bit by bit after depth levels.
    PELO_COLD bool decodeNew(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape);
    PELO_COLD bool decodeLong(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape,
                              int depth, std::int32_t code);
    bool update(int index);
    void swapNodes(int i, int j);
    void repoint(int index);
    void rebuild();

    void setNode(int index, std::uint16_t weight, std::uint16_t parent, std::int32_t code) {
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

} // namespace pelo
