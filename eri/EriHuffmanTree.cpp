#include "eri/EriHuffmanTree.h"

#include "eri/EriBitReader.h"

#include <algorithm>

namespace pelo {

void EriHuffmanTree::clear() {
    std::fill(std::begin(leafPositions_), std::end(leafPositions_), kAbsent);
    escapePosition_ = kAbsent;
    free_ = kRoot;
    setNode(kRoot, 0, kAbsent, kAbsent);
}

void EriHuffmanTree::repoint(int index) {
    const std::int32_t code = code_[index];
    if (code >= 0) {
        parent_[code] = static_cast<std::uint16_t>(index);
        parent_[code + 1] = static_cast<std::uint16_t>(index);
    } else if (code == kEscapeCode) {
        escapePosition_ = static_cast<std::uint16_t>(index);
    } else {
        leafPositions_[static_cast<std::uint32_t>(code) & 0xFF] = static_cast<std::uint16_t>(index);
    }
}

void EriHuffmanTree::swapNodes(int i, int j) {
    std::swap(weight_[i], weight_[j]);
    std::swap(code_[i], code_[j]);
    repoint(i);
    repoint(j);
}

bool EriHuffmanTree::update(int i) {
    while (i < kRoot) {
        const std::uint16_t w = weight_[i];
        if (weight_[i + 1] < w) {
            int j = i + 1;
            while (j + 1 < kRoot && weight_[j + 1] < w)
                ++j;
            swapNodes(i, j);
            i = parent_[j];
        } else {
            i = parent_[i];
        }
        if (i < free_ || i > kRoot) return false;
        ++weight_[i];
    }
    return true;
}

bool EriHuffmanTree::countLeaf(int index) {
    ++weight_[index];
    if (!update(index)) return false;
    if (weight_[kRoot] > kMaxRootWeight) rebuild();
    return true;
}

bool EriHuffmanTree::addSymbol(std::uint32_t symbol) {
    // The largest value would read back as the escape code.
    if (symbol >= 0x7FFFFFFFu) return false;
    const std::int32_t code =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(kLeafCode) + symbol);
    if (free_ == 0) {
        // Full: the lowest leaf takes the new symbol.
        const int k = code_[0] == kEscapeCode ? 1 : 0;
        if (code_[k] >= 0) return false;
        code_[k] = code;
        return true;
    }
    const int lower = free_ - 2;
    const int upper = free_ - 1;
    const int old = free_;
    free_ -= 2;
    setNode(lower, 1, static_cast<std::uint16_t>(old), code);
    leafPositions_[symbol & 0xFF] = static_cast<std::uint16_t>(lower);
    if (empty()) {
        parent_[lower] = kRoot;
        setNode(upper, 1, kRoot, kEscapeCode);
        escapePosition_ = static_cast<std::uint16_t>(upper);
        code_[kRoot] = lower;
        weight_[kRoot] = 2;
        return true;
    }
    // The lowest node in use is a leaf; it moves up and its old place becomes
    // the internal node of the new pair.
    if (old > 511 || code_[old] >= 0) return false;
    setNode(upper, weight_[old], static_cast<std::uint16_t>(old), code_[old]);
    repoint(upper);
    code_[old] = lower;
    weight_[old] = static_cast<std::uint16_t>(weight_[upper] + 1);
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
        if (code_[i] < 0)
            list[count++] = {static_cast<std::uint16_t>((weight_[i] + 1) / 2), code_[i]};
    std::reverse(list, list + count); // lowest index (lightest) first
    int head = 0;
    int position = free_;
    auto place = [this](int at, const Item& item) {
        weight_[at] = item.weight;
        code_[at] = item.code;
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
    weight_[kRoot] = list[head].weight;
    parent_[kRoot] = kAbsent;
    code_[kRoot] = list[head].code;
    repoint(kRoot);
}

bool EriHuffmanTree::settlePath(const std::uint16_t* path, int due) {
    // Levels below the first swap were counted correctly by the walk; the
    // ancestors above it are taken back and counted by update instead.
    for (int k = 0; k < due; ++k)
        --weight_[path[k]];
    if (!update(path[due])) return false;
    if (weight_[kRoot] > kMaxRootWeight) rebuild();
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
        code = code_[index];
        if (code < 0) break;
    }
    if (!countLeaf(index)) return false;
    if (code == kEscapeCode) return decodeNew(bits, symbol, gammaEscape);
    symbol = static_cast<std::uint32_t>(code) & 0x7FFFFFFFu;
    return true;
}

bool EriHuffmanTree::decode(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape) {
    if (empty()) return decodeNew(bits, symbol, gammaEscape);
    std::int32_t code = code_[kRoot];
    // Walk down on peeked bits, recording the path and counting each node on
    // it: while no node needs a swap, the climb of update would only add one
    // at every level. due is the deepest level where a swap is due (the next
    // node is not heavier) or where the parent disagrees with the path.
    std::uint16_t path[kMaxFastDepth];
    std::uint32_t window;
    const int valid = bits.peekBits(window);
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
    bits.skipBits(depth);
    if (code >= 0) {
        for (int k = 0; k < depth; ++k)
            --weight_[path[k]];
        return decodeLong(bits, symbol, gammaEscape, depth, code);
    }
    if (due >= 0) {
        if (!settlePath(path, due)) return false;
    } else if (++weight_[kRoot] > kMaxRootWeight) {
        rebuild();
    }
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
