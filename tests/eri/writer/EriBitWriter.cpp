#include "EriBitWriter.h"

#include <algorithm>
#include <stdexcept>

namespace pelo::eritest {

void EriBitWriter::writeBit(int bit) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> (bits_ % 8));
    ++bits_;
}

void EriBitWriter::writeBits(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i)
        writeBit((value >> i) & 1);
}

void EriBitWriter::writeGamma(std::uint32_t value) {
    if (value == 0) throw std::invalid_argument("gamma code of 0");
    int top = 31;
    while (!((value >> top) & 1))
        --top;
    // 1 b 1 b ... 0: each pair doubles the base, the bits are the rest.
    for (int i = top - 1; i >= 0; --i) {
        writeBit(1);
        writeBit((value >> i) & 1);
    }
    writeBit(0);
}

std::vector<std::uint8_t> EriBitWriter::bytes(bool padWords) const {
    std::vector<std::uint8_t> out = bytes_;
    if (padWords)
        while (out.size() % 4)
            out.push_back(0);
    return out;
}

void WriteGammaRuns(EriBitWriter& out, std::span<const std::int32_t> values) {
    out.writeBit(!values.empty() && values[0] != 0);
    std::size_t i = 0;
    while (i < values.size()) {
        const bool nonZero = values[i] != 0;
        std::size_t j = i;
        while (j < values.size() && (values[j] != 0) == nonZero)
            ++j;
        out.writeGamma(static_cast<std::uint32_t>(j - i));
        if (nonZero) {
            for (std::size_t k = i; k < j; ++k) {
                const std::int64_t v = values[k];
                out.writeBit(v < 0);
                out.writeGamma(static_cast<std::uint32_t>(v < 0 ? -v : v));
            }
        }
        i = j;
    }
}

// ---- arithmetic --------------------------------------------------------------

EriArithmeticWriter::EriArithmeticWriter(int bits) : bits_(bits), n_(1u << bits) {
    std::vector<Entry> initial(n_);
    for (std::uint32_t i = 0; i < n_; ++i)
        initial[i] = {1, i < n_ / 2 ? std::int32_t(i) : std::int32_t(i) - std::int32_t(n_)};
    tables_.assign(n_, initial);
    totals_.assign(n_, n_);
}

void EriArithmeticWriter::carry() {
    std::size_t k = value_.size();
    while (k > 0 && value_[k - 1] == 1)
        value_[--k] = 0;
    if (k == 0) throw std::logic_error("carry out of the coded value");
    value_[k - 1] = 1;
}

void EriArithmeticWriter::encode(std::int32_t value) {
    // Wrap into the signed b-bit range.
    const std::uint32_t mask = n_ - 1;
    std::int32_t symbol = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) & mask);
    if (symbol >= std::int32_t(n_ / 2)) symbol -= std::int32_t(n_);
    std::vector<Entry>& table = tables_[context_];
    std::uint32_t& total = totals_[context_];
    std::size_t index = 0;
    std::uint64_t cum = 0;
    while (table[index].symbol != symbol)
        cum += table[index++].count;
    const std::uint64_t t = total;
    const std::uint64_t count = table[index].count;

    low_ += (std::uint64_t{range_} * cum + t - 1) / t;
    if (low_ >> 32) {
        carry();
        low_ &= 0xFFFFFFFFu;
    }
    range_ = static_cast<std::uint32_t>(std::uint64_t{range_} * count / t);
    while (range_ < 0x80000000u) {
        value_.push_back(static_cast<std::uint8_t>((low_ >> 31) & 1));
        low_ = (low_ << 1) & 0xFFFFFFFFu;
        range_ <<= 1;
    }

    // Model: count up, move ahead of lighter-or-equal entries, halve past 0xFFFF.
    Entry moved = table[index];
    ++moved.count;
    table.erase(table.begin() + std::ptrdiff_t(index));
    std::size_t to = index;
    while (to > 0 && table[to - 1].count <= moved.count)
        --to;
    table.insert(table.begin() + std::ptrdiff_t(to), moved);
    if (++total > 0xFFFF) {
        total = 0;
        for (Entry& e : table) {
            e.count = (e.count + 1) / 2;
            total += e.count;
        }
    }
    context_ = static_cast<std::uint32_t>(symbol) & mask;
}

void EriArithmeticWriter::finish(EriBitWriter& out) {
    for (int i = 31; i >= 0; --i)
        value_.push_back(static_cast<std::uint8_t>((low_ >> i) & 1));
    int ones = 0;
    for (std::uint8_t bit : value_) {
        out.writeBit(bit);
        ones = bit ? ones + 1 : 0;
        if (ones >= 32) out.writeBit(0); // no carry into the window
    }
    value_.clear();
}

// ---- adaptive Huffman ------------------------------------------------------------

void EriHuffmanWriterTree::clear() {
    free_ = kRoot;
    nodes_[kRoot] = {0, 0x8000, 0x8000};
}

int EriHuffmanWriterTree::find(std::uint32_t symbol) const {
    const std::int64_t code = -2 - std::int64_t(symbol);
    for (int i = free_; i < kRoot; ++i)
        if (nodes_[i].code == code) return i;
    for (int i = free_; i < kRoot; ++i)
        if (nodes_[i].code == -1) return -1 - i; // escape, encoded
    throw std::logic_error("tree without escape");
}

void EriHuffmanWriterTree::writePath(EriBitWriter& out, int index) const {
    int path[600];
    int depth = 0;
    while (index != kRoot) {
        const int parent = nodes_[index].parent;
        path[depth++] = index - static_cast<int>(nodes_[parent].code);
        index = parent;
    }
    while (depth > 0)
        out.writeBit(path[--depth]);
}

void EriHuffmanWriterTree::fix(int index) {
    const std::int64_t code = nodes_[index].code;
    if (code >= 0) {
        nodes_[code].parent = index;
        nodes_[code + 1].parent = index;
    }
}

void EriHuffmanWriterTree::swap(int i, int j) {
    std::swap(nodes_[i].weight, nodes_[j].weight);
    std::swap(nodes_[i].code, nodes_[j].code);
    fix(i);
    fix(j);
}

void EriHuffmanWriterTree::increment(int index) {
    ++nodes_[index].weight;
    int i = index;
    while (i < kRoot) {
        const int w = nodes_[i].weight;
        if (nodes_[i + 1].weight < w) {
            int j = kRoot - 1;
            while (nodes_[j].weight >= w)
                --j; // highest index lighter than w
            swap(i, j);
            i = nodes_[j].parent;
        } else {
            i = nodes_[i].parent;
        }
        ++nodes_[i].weight;
    }
}

void EriHuffmanWriterTree::add(std::uint32_t symbol) {
    const std::int64_t code = -2 - std::int64_t(symbol);
    if (free_ == 0) {
        nodes_[nodes_[0].code == -1 ? 1 : 0].code = code;
        return;
    }
    const int old = free_;
    free_ -= 2;
    if (isEmpty()) {
        nodes_[free_] = {1, kRoot, code};
        nodes_[free_ + 1] = {1, kRoot, -1};
        nodes_[kRoot].code = free_;
        nodes_[kRoot].weight = 2;
        return;
    }
    nodes_[free_ + 1] = {nodes_[old].weight, old, nodes_[old].code};
    nodes_[free_] = {1, old, code};
    nodes_[old].code = free_;
    // The new internal node counts the new leaf: same update as a counted leaf.
    increment(old);
}

void EriHuffmanWriterTree::rebuild() {
    struct Item {
        int weight;
        std::int64_t code;
    };
    std::vector<Item> list;
    for (int i = free_; i < kRoot; ++i)
        if (nodes_[i].code < 0) list.push_back({(nodes_[i].weight + 1) / 2, nodes_[i].code});
    int next = free_;
    while (list.size() > 1) {
        const Item a = list[0];
        const Item b = list[1];
        list.erase(list.begin(), list.begin() + 2);
        nodes_[next].weight = a.weight;
        nodes_[next].code = a.code;
        nodes_[next + 1].weight = b.weight;
        nodes_[next + 1].code = b.code;
        fix(next);
        fix(next + 1);
        const Item joined{a.weight + b.weight, next};
        next += 2;
        auto at = std::find_if(list.begin(), list.end(),
                               [&](const Item& e) { return e.weight >= joined.weight; });
        list.insert(at, joined);
    }
    nodes_[kRoot] = {list[0].weight, 0x8000, list[0].code};
    fix(kRoot);
}

void EriHuffmanWriterTree::write(EriBitWriter& out, std::uint32_t symbol, bool gammaEscape) {
    auto writeNew = [&]() {
        if (gammaEscape)
            out.writeGamma(symbol);
        else
            out.writeBits(symbol, 8);
        add(symbol);
    };
    if (isEmpty()) {
        writeNew();
        return;
    }
    int leaf = find(symbol);
    const bool escape = leaf < 0;
    if (escape) leaf = -1 - leaf;
    writePath(out, leaf);
    increment(leaf);
    if (nodes_[kRoot].weight > 0x3FFF) rebuild();
    if (escape) writeNew();
}

// ---- run-length Huffman symbols -------------------------------------------------

EriHuffmanSymbolWriter::EriHuffmanSymbolWriter()
    : trees_(std::make_unique<EriHuffmanWriterTree[]>(257)) {}

void EriHuffmanSymbolWriter::reset(std::span<const std::int32_t> sequence) {
    for (int i = 0; i < 257; ++i)
        trees_[i].clear();
    sequence_ = sequence;
    cursor_ = 0;
    owed_ = 0;
    current_ = 0;
}

void EriHuffmanSymbolWriter::write(EriBitWriter& out, std::size_t count) {
    const std::size_t end = cursor_ + count;
    if (end > sequence_.size()) throw std::out_of_range("past the symbol sequence");
    const std::size_t paid = std::min(owed_, count);
    owed_ -= paid;
    cursor_ += paid;
    while (cursor_ < end) {
        const std::uint32_t byte = static_cast<std::uint32_t>(sequence_[cursor_]) & 0xFF;
        trees_[current_].write(out, byte);
        ++cursor_;
        if (byte != 0) {
            current_ = static_cast<int>(byte);
            continue;
        }
        std::size_t run = 1;
        while (cursor_ - 1 + run < sequence_.size() &&
               (static_cast<std::uint32_t>(sequence_[cursor_ - 1 + run]) & 0xFF) == 0)
            ++run;
        trees_[256].write(out, static_cast<std::uint32_t>(run), true);
        const std::size_t now = std::min(run - 1, end - cursor_);
        cursor_ += now;
        owed_ = run - 1 - now;
        current_ = 0;
    }
}

} // namespace pelo::eritest
