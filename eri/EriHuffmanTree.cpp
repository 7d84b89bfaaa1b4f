#include "eri/EriHuffmanTree.h"

#include "eri/EriBitReader.h"

#include <algorithm>

namespace pelo {

void EriHuffmanTree::clear() {
    std::fill(std::begin(leafPositions_), std::end(leafPositions_), kAbsent);
    escapePosition_ = kAbsent;
    free_ = kRoot;
    nodes_[kRoot] = {0, kAbsent, kAbsent};
}

void EriHuffmanTree::repoint(int index) {
    const std::int32_t code = nodes_[index].code;
    if (code >= 0) {
        nodes_[code].parent = static_cast<std::uint16_t>(index);
        nodes_[code + 1].parent = static_cast<std::uint16_t>(index);
    } else if (code == kEscapeCode) {
        escapePosition_ = static_cast<std::uint16_t>(index);
    } else {
        leafPositions_[static_cast<std::uint32_t>(code) & 0xFF] = static_cast<std::uint16_t>(index);
    }
}

void EriHuffmanTree::swapNodes(int i, int j) {
    std::swap(nodes_[i].weight, nodes_[j].weight);
    std::swap(nodes_[i].code, nodes_[j].code);
    repoint(i);
    repoint(j);
}

bool EriHuffmanTree::update(int i) {
    while (i < kRoot) {
        const std::uint16_t w = nodes_[i].weight;
        if (nodes_[i + 1].weight < w) {
            int j = i + 1;
            while (j + 1 < kRoot && nodes_[j + 1].weight < w)
                ++j;
            swapNodes(i, j);
            i = nodes_[j].parent;
        } else {
            i = nodes_[i].parent;
        }
        if (i < free_ || i > kRoot) return false;
        ++nodes_[i].weight;
    }
    return true;
}

bool EriHuffmanTree::countLeaf(int index) {
    ++nodes_[index].weight;
    if (!update(index)) return false;
    if (nodes_[kRoot].weight > kMaxRootWeight) rebuild();
    return true;
}

bool EriHuffmanTree::addSymbol(std::uint32_t symbol) {
    // The largest value would read back as the escape code.
    if (symbol >= 0x7FFFFFFFu) return false;
    const std::int32_t code =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(kLeafCode) + symbol);
    if (free_ == 0) {
        // Full: the lowest leaf takes the new symbol.
        const int k = nodes_[0].code == kEscapeCode ? 1 : 0;
        if (nodes_[k].code >= 0) return false;
        nodes_[k].code = code;
        return true;
    }
    const int lower = free_ - 2;
    const int upper = free_ - 1;
    const int old = free_;
    free_ -= 2;
    nodes_[lower] = {1, static_cast<std::uint16_t>(old), code};
    leafPositions_[symbol & 0xFF] = static_cast<std::uint16_t>(lower);
    if (empty()) {
        nodes_[lower].parent = kRoot;
        nodes_[upper] = {1, kRoot, kEscapeCode};
        escapePosition_ = static_cast<std::uint16_t>(upper);
        nodes_[kRoot].code = lower;
        nodes_[kRoot].weight = 2;
        return true;
    }
    // The lowest node in use is a leaf; it moves up and its old place becomes
    // the internal node of the new pair.
    if (old > 511 || nodes_[old].code >= 0) return false;
    nodes_[upper] = {nodes_[old].weight, static_cast<std::uint16_t>(old), nodes_[old].code};
    repoint(upper);
    nodes_[old].code = lower;
    nodes_[old].weight = static_cast<std::uint16_t>(nodes_[upper].weight + 1);
    return update(old);
}

void EriHuffmanTree::rebuild() {
    struct Item {
        std::uint16_t weight;
        std::int32_t code;
    };
    Item list[kNodeCount];
    int count = 0;
    // Leaves in index order from the top, halved, packed at the top.
    for (int i = kRoot - 1; i >= free_; --i)
        if (nodes_[i].code < 0)
            list[count++] = {static_cast<std::uint16_t>((nodes_[i].weight + 1) / 2),
                             nodes_[i].code};
    std::reverse(list, list + count); // lowest index (lightest) first
    int head = 0;
    int position = free_;
    auto place = [this](int at, const Item& item) {
        nodes_[at].weight = item.weight;
        nodes_[at].code = item.code;
        repoint(at);
    };
    while (count - head > 1) {
        const Item a = list[head];
        const Item b = list[head + 1];
        head += 2;
        place(position, a);
        place(position + 1, b);
        const Item joined{static_cast<std::uint16_t>(a.weight + b.weight), position};
        position += 2;
        int at = head;
        while (at < count && list[at].weight < joined.weight)
            ++at;
        std::copy_backward(list + at, list + count, list + count + 1);
        list[at] = joined;
        ++count;
    }
    nodes_[kRoot].weight = list[head].weight;
    nodes_[kRoot].parent = kAbsent;
    nodes_[kRoot].code = list[head].code;
    repoint(kRoot);
}

bool EriHuffmanTree::countPath(const std::uint16_t* path, int depth) {
    // The walk down has recorded the ancestors, so going up needs no parent
    // look-ups: while no swap is due, each level only gains one. The first
    // swap, or a parent that disagrees with the path, hands over to update.
    int k = depth - 1;
    int i = path[k];
    ++nodes_[i].weight;
    while (i < kRoot) {
        const int parent = k > 0 ? path[k - 1] : kRoot;
        if (nodes_[i + 1].weight < nodes_[i].weight || nodes_[i].parent != parent) {
            if (!update(i)) return false;
            break;
        }
        i = parent;
        --k;
        ++nodes_[i].weight;
    }
    if (nodes_[kRoot].weight > kMaxRootWeight) rebuild();
    return true;
}

bool EriHuffmanTree::decodeNew(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape) {
    if (gammaEscape) {
        if (!bits.readGamma(symbol)) return false;
    } else {
        symbol = bits.readBits(8);
        if (bits.atEnd()) return false;
    }
    return addSymbol(symbol);
}

bool EriHuffmanTree::decodeLong(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape,
                                int depth, std::int32_t code) {
    int index = 0;
    for (;; ++depth) {
        const int bit = bits.readBit();
        if (bit > 0 || depth > kRoot) return false;
        index = code + (bit & 1);
        if (index < free_ || index >= kRoot) return false;
        code = nodes_[index].code;
        if (code < 0) break;
    }
    if (!countLeaf(index)) return false;
    if (code == kEscapeCode) return decodeNew(bits, symbol, gammaEscape);
    symbol = static_cast<std::uint32_t>(code) & 0x7FFFFFFFu;
    return true;
}

bool EriHuffmanTree::decode(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape) {
    if (empty()) return decodeNew(bits, symbol, gammaEscape);
    std::int32_t code = nodes_[kRoot].code;
    // Walk down on peeked bits, recording the path; a path longer than the
    // peeked bits goes on bit by bit.
    std::uint16_t path[kMaxFastDepth];
    std::uint32_t window;
    const int valid = bits.peekBits(window);
    const std::uint32_t first = static_cast<std::uint32_t>(free_);
    const std::uint32_t span = static_cast<std::uint32_t>(kRoot - free_);
    int depth = 0;
    while (depth < valid) {
        // One unsigned comparison for free mark <= index < root.
        const std::uint32_t at = static_cast<std::uint32_t>(code) + (window >> 31);
        window <<= 1;
        if (at - first >= span) return false;
        path[depth++] = static_cast<std::uint16_t>(at);
        code = nodes_[at].code;
        if (code < 0) break;
    }
    bits.skipBits(depth);
    if (code >= 0) return decodeLong(bits, symbol, gammaEscape, depth, code);
    if (!countPath(path, depth)) return false;
    if (code == kEscapeCode) return decodeNew(bits, symbol, gammaEscape);
    symbol = static_cast<std::uint32_t>(code) & 0x7FFFFFFFu;
    return true;
}

// The run-length Huffman symbol coder lives beside the trees so that the
// decode walk can be inlined into its loop.
std::size_t EriBitReader::decodeHuffmanSymbols(std::int32_t* out, std::size_t count) {
    if (!trees_) setupHuffmanSymbols();
    std::size_t done = std::min<std::uint64_t>(zerosOwed_, count);
    std::fill_n(out, done, 0);
    zerosOwed_ -= done;
    while (done < count) {
        std::uint32_t symbol;
        if (!trees_[currentTree_].decode(*this, symbol)) return done;
        const std::uint32_t byte = symbol & 0xFF;
        out[done++] = static_cast<std::int8_t>(byte);
        if (byte != 0) {
            currentTree_ = static_cast<int>(byte);
            continue;
        }
        std::uint32_t run;
        if (!trees_[kRunLengthTree].decode(*this, run, true) || run == 0) return done;
        const std::uint64_t more = run - 1;
        const std::size_t now = std::min<std::uint64_t>(more, count - done);
        std::fill_n(out + done, now, 0);
        done += now;
        zerosOwed_ = more - now;
        currentTree_ = 0;
    }
    return done;
}

} // namespace pelo
