// Adaptive arithmetic codes (symbol coder 32): b-bit symbols, each coded in
// the context of the symbol before it, with 128 zero bits supplied after the
// first end of the data.
#pragma once

#include "eri/EriBitReader.h"

#include <cstddef>
#include <cstdint>
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
    bool Reset(int bits);
    int Bits() const { return bits_; }
    std::uint32_t SymbolCount() const { return count_; }
    std::uint32_t& Total(std::uint32_t context) { return totals_[context]; }
    Entry* Table(std::uint32_t context) { return &entries_[std::size_t{context} * count_]; }
    // Counts entry index of the context's table: grows, moves forward ahead
    // of the entries it now reaches, halves when the total passes 0xFFFF.
    void Count(std::uint32_t context, std::uint32_t index) {
        Entry* e = Table(context);
        const auto grown = static_cast<std::uint16_t>(e[index].count + 1);
        if (index == 0 || e[index - 1].count > grown)
            e[index].count = grown;
        else
            MoveForward(e, index, grown);
        if (++totals_[context] > 0xFFFF) Halve(context);
    }

private:
    static void MoveForward(Entry* e, std::uint32_t index, std::uint16_t grown);
    void Halve(std::uint32_t context);

    int bits_ = 0;
    std::uint32_t count_ = 0;
    std::vector<std::uint32_t> totals_;
    std::vector<Entry> entries_;
};

class EriArithmeticCoder {
public:
    explicit EriArithmeticCoder(EriBitReader& bits) : bits_(bits) {}
    EriArithmeticCoder(const EriArithmeticCoder&) = delete;
    EriArithmeticCoder& operator=(const EriArithmeticCoder&) = delete;

    // Resets the model for symbolBits-bit symbols and reads the first 64 code
    // bits. False for a bad bit count or when the data ends a second time.
    bool Setup(int symbolBits);
    // Up to count symbols; fewer when the data ends a second time or the code
    // is inconsistent, none before Setup.
    std::size_t DecodeSymbols(std::int32_t* out, std::size_t count);

private:
    // One bit: 0 or 1, with 128 zero bits after the first end of the data;
    // -1 when the data ends a second time.
    int NextBit() {
        const int bit = bits_.ReadBit();
        return bit <= 0 ? (bit & 1) : NextBitAtEnd();
    }
    int NextBitAtEnd();
    // Doubles range up to 2^31 a bit at a time, shifting stream bits through
    // (code, low) with the carry rule; false when the data ends a second time.
    bool Renormalise();

    EriBitReader& bits_;
    EriArithmeticModel model_;
    std::uint32_t context_ = 0;
    std::uint32_t code_ = 0;
    std::uint32_t range_ = 0;
    std::uint32_t low_ = 0;
    int endCount_ = 0;
    int zeroBitsLeft_ = 0;
};

} // namespace pelo
