#include "eri/EriHuffmanTree.h"

#include "eri/EriGammaCoder.h"

#include <algorithm>

namespace pelo {

void EriHuffmanTree::Clear() {
    std::fill(std::begin(leafPositions_), std::end(leafPositions_), kAbsent);
    escapePosition_ = kAbsent;
    free_ = kRoot;
    SetNode(kRoot, 0, kAbsent, kAbsent);
}

void EriHuffmanTree::Repoint(int index) {
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

void EriHuffmanTree::SwapNodes(int i, int j) {
    std::swap(weight_[i], weight_[j]);
    std::swap(code_[i], code_[j]);
    Repoint(i);
    Repoint(j);
}

bool EriHuffmanTree::Update(int i) {
    while (i < kRoot) {
        const std::uint16_t w = weight_[i];
        if (weight_[i + 1] < w) {
            int j = i + 1;
            while (j + 1 < kRoot && weight_[j + 1] < w)
                ++j;
            SwapNodes(i, j);
            i = parent_[j];
        } else {
            i = parent_[i];
        }
        if (i < free_ || i > kRoot) return false;
        ++weight_[i];
    }
    return true;
}

bool EriHuffmanTree::CountLeaf(int index) {
    ++weight_[index];
    if (!Update(index)) return false;
    if (weight_[kRoot] > kMaxRootWeight) Rebuild();
    return true;
}

bool EriHuffmanTree::AddSymbol(std::uint32_t symbol) {
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
    SetNode(lower, 1, static_cast<std::uint16_t>(old), code);
    leafPositions_[symbol & 0xFF] = static_cast<std::uint16_t>(lower);
    if (Empty()) {
        parent_[lower] = kRoot;
        SetNode(upper, 1, kRoot, kEscapeCode);
        escapePosition_ = static_cast<std::uint16_t>(upper);
        code_[kRoot] = lower;
        weight_[kRoot] = 2;
        return true;
    }
    // The lowest node in use is a leaf; it moves up and its old place becomes
    // the internal node of the new pair.
    if (old > 511 || code_[old] >= 0) return false;
    SetNode(upper, weight_[old], static_cast<std::uint16_t>(old), code_[old]);
    Repoint(upper);
    code_[old] = lower;
    weight_[old] = static_cast<std::uint16_t>(weight_[upper] + 1);
    return Update(old);
}

void EriHuffmanTree::Rebuild() {
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
        Repoint(at);
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
    Repoint(kRoot);
}

bool EriHuffmanTree::SettlePath(const std::uint16_t* path, int due) {
    // Levels below the first swap were counted correctly by the walk; the
    // ancestors above it are taken back and counted by Update instead.
    for (int k = 0; k < due; ++k)
        --weight_[path[k]];
    if (!Update(path[due])) return false;
    if (weight_[kRoot] > kMaxRootWeight) Rebuild();
    return true;
}

bool EriHuffmanTree::DecodeNew(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape) {
    if (gammaEscape) {
        if (!EriGammaCoder::ReadCode(bits, symbol)) return false;
    } else {
        symbol = bits.ReadBits(8);
        if (bits.AtEnd()) return false;
    }
    return AddSymbol(symbol);
}

bool EriHuffmanTree::DecodeLong(EriBitReader& bits, std::uint32_t& symbol, bool gammaEscape,
                                int depth, std::int32_t code) {
    int index = 0;
    for (;; ++depth) {
        const int bit = bits.ReadBit();
        if (bit > 0 || depth > kRoot) return false;
        index = code + (bit & 1);
        if (index < free_ || index >= kRoot) return false;
        code = code_[index];
        if (code < 0) break;
    }
    if (!CountLeaf(index)) return false;
    if (code == kEscapeCode) return DecodeNew(bits, symbol, gammaEscape);
    symbol = static_cast<std::uint32_t>(code) & 0x7FFFFFFFu;
    return true;
}

} // namespace pelo
