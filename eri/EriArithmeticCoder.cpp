#include "eri/EriArithmeticCoder.h"

#include <bit>
#include <cstring>

namespace pelo {

bool EriArithmeticModel::Reset(int bits) {
    if (bits < 1 || bits > kMaxBits) return false;
    bits_ = bits;
    count_ = std::uint32_t{1} << bits;
    totals_.assign(count_, count_);
    entries_.resize(std::size_t{count_} * count_);
    const std::int32_t half = static_cast<std::int32_t>(count_ / 2);
    for (std::uint32_t i = 0; i < count_; ++i) {
        const std::int32_t s = static_cast<std::int32_t>(i);
        entries_[i] = {
            1, static_cast<std::int16_t>(s < half ? s : s - static_cast<std::int32_t>(count_))};
    }
    for (std::uint32_t t = 1; t < count_; ++t)
        std::memcpy(&entries_[std::size_t{t} * count_], entries_.data(), count_ * sizeof(Entry));
    return true;
}

// Moves are short; a library call would cost more than the copy.
#if defined(__GNUC__) && !defined(__clang__)
#define PELO_NO_LOOP_TO_CALL __attribute__((optimize("no-tree-loop-distribute-patterns")))
#else
#define PELO_NO_LOOP_TO_CALL
#endif
PELO_NO_LOOP_TO_CALL void EriArithmeticModel::MoveForward(Entry* e, std::uint32_t index,
                                                          std::uint16_t grown) {
    std::uint32_t to = index;
    while (to > 0 && e[to - 1].count <= grown)
        --to;
    const Entry moved{grown, e[index].symbol};
    for (std::uint32_t k = index; k > to; --k)
        e[k] = e[k - 1];
    e[to] = moved;
}

void EriArithmeticModel::Halve(std::uint32_t context) {
    Entry* e = Table(context);
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < count_; ++i) {
        e[i].count = static_cast<std::uint16_t>((e[i].count + 1) / 2);
        sum += e[i].count;
    }
    totals_[context] = sum;
}

int EriArithmeticCoder::NextBitAtEnd() {
    if (zeroBitsLeft_ > 0) {
        --zeroBitsLeft_;
        return 0;
    }
    if (endCount_ == 0) {
        endCount_ = 1;
        zeroBitsLeft_ = 127;
        return 0;
    }
    return -1;
}

bool EriArithmeticCoder::Setup(int symbolBits) {
    if (!model_.Reset(symbolBits)) return false;
    context_ = 0;
    code_ = 0;
    range_ = 0xFFFFFFFFu;
    endCount_ = 0;
    zeroBitsLeft_ = 0;
    low_ = 0;
    for (int i = 0; i < 32; ++i) {
        const int bit = NextBit();
        if (bit < 0) return false;
        low_ = (low_ << 1) | static_cast<std::uint32_t>(bit);
    }
    // A window of 32 one bits is followed by a stuffed carry bit.
    auto carry = [this]() {
        if (low_ != 0xFFFFFFFFu) return true;
        const int bit = NextBit();
        if (bit < 0) return false;
        if (bit) {
            low_ = 0;
            ++code_;
        }
        return true;
    };
    for (int i = 0; i < 32; ++i) {
        if (!carry()) return false;
        const int bit = NextBit();
        if (bit < 0) return false;
        code_ = (code_ << 1) | (low_ >> 31);
        low_ = (low_ << 1) | static_cast<std::uint32_t>(bit);
    }
    return carry();
}

namespace {

// floor(a / t) for a < 2^48 and 2 <= t <= 0xFFFF as the high half of
// a * m with m = ceil(2^64 / t): a * m / 2^64 exceeds a / t by less than
// a * t / (t * 2^64) < 2^-16 < 1 / t, too little to reach the next integer.
inline std::uint64_t DivideByTotal(std::uint64_t a, std::uint64_t m) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * m) >> 64);
}

} // namespace

bool EriArithmeticCoder::Renormalise() {
    while (range_ < 0x80000000u) {
        int bit = NextBit();
        if (bit < 0) return false;
        code_ = (code_ << 1) | (low_ >> 31);
        low_ = (low_ << 1) | static_cast<std::uint32_t>(bit);
        if (low_ == 0xFFFFFFFFu) {
            bit = NextBit();
            if (bit < 0) return false;
            if (bit) {
                low_ = 0;
                ++code_;
            }
        }
        range_ <<= 1;
    }
    return true;
}

std::size_t EriArithmeticCoder::DecodeSymbols(std::int32_t* out, std::size_t count) {
    if (model_.Bits() == 0) return 0;
    EriArithmeticModel& model = model_;
    EriBitReader& bits = bits_;
    const std::uint32_t n = model.SymbolCount();
    // The coder registers live in locals for the whole block; the members are
    // written back at the end and around the bit-by-bit renormalisation.
    std::uint32_t code = code_;
    std::uint32_t range = range_;
    std::uint32_t low = low_;
    std::uint32_t context = context_;
    std::size_t k = 0;
    for (; k < count; ++k) {
        const std::uint32_t t = model.Total(context);
        const EriArithmeticModel::Entry* e = model.Table(context);
        // Totals are at least the symbol count (2 or more) and at most 0xFFFF.
        if (t < 2 || t > 0xFFFF) break;
        const std::uint64_t reciprocal = ~std::uint64_t{0} / t + 1;
        // The entry is the first whose cumulative count passes
        // q = floor(code * t / range); q < C exactly when code * t < C * range,
        // so the walk compares products and needs no quotient.
        const std::uint64_t scaledCode = std::uint64_t{code} * t;
        const std::uint64_t wide = range;
        if (scaledCode >= wide << 16) break; // q >= 0x10000
        std::uint32_t cum = 0;
        std::uint32_t i = 0;
        // The first entry, the likeliest, on its own; then four entries per
        // step while they do not reach q.
        if (scaledCode >= e[0].count * wide) {
            cum = e[0].count;
            i = 1;
            while (i + 4 <= n) {
                const std::uint32_t four =
                    std::uint32_t{e[i].count} + e[i + 1].count + e[i + 2].count + e[i + 3].count;
                if (scaledCode < (cum + four) * wide) break;
                cum += four;
                i += 4;
            }
            for (; i < n; ++i) {
                if (scaledCode < (cum + e[i].count) * wide) break;
                cum += e[i].count;
            }
            if (i == n) break;
        }
        if (cum != 0) {
            // ceil(range * cum / t); none for the first entry, the likeliest.
            code -= static_cast<std::uint32_t>(DivideByTotal(wide * cum + t - 1, reciprocal));
        }
        range = static_cast<std::uint32_t>(DivideByTotal(wide * e[i].count, reciprocal));
        // All shifts at once while the window holds them and no intermediate
        // low can be all ones: that needs the low's trailing ones and the new
        // bits to fill all 32 positions.
        const int shift = std::countl_zero(range);
        if (shift != 0) {
            std::uint32_t window;
            if (endCount_ == 0 && shift + std::countr_one(low) < 32 &&
                bits.PeekBits(window) >= shift) {
                code = (code << shift) | (low >> (32 - shift));
                low = (low << shift) | (window >> (32 - shift));
                range <<= shift;
                bits.SkipBits(shift);
            } else {
                code_ = code;
                range_ = range;
                low_ = low;
                const bool more = Renormalise();
                code = code_;
                range = range_;
                low = low_;
                if (!more) break;
            }
        }
        const std::int32_t value = e[i].symbol;
        out[k] = value;
        model.Count(context, i);
        context = static_cast<std::uint32_t>(value) & (n - 1);
    }
    code_ = code;
    range_ = range;
    low_ = low;
    context_ = context;
    return k;
}

} // namespace pelo
