#include "eri/EriBitReader.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pelo {

EriBitReader::EriBitReader(EriByteStream& stream, std::size_t bufferBytes) : stream_(stream) {
    if (bufferBytes < 4) bufferBytes = 4;
    buffer_.resize((bufferBytes + 3) & ~std::size_t{3});
}

EriBitReader::~EriBitReader() = default;

void EriBitReader::discard() {
    cursor_ = 0;
    bytesLeft_ = 0;
    word_ = 0;
    bitsLeft_ = 0;
    ended_ = false;
}

bool EriBitReader::refill() {
    if (ended_) return false;
    const std::size_t n = stream_.read(buffer_.data(), buffer_.size());
    if (n == 0) {
        ended_ = true;
        return false;
    }
    const std::size_t padded = (n + 3) & ~std::size_t{3};
    std::memset(buffer_.data() + n, 0, padded - n);
    cursor_ = 0;
    bytesLeft_ = padded;
    return true;
}

bool EriBitReader::fetchWord() {
    if (bytesLeft_ == 0 && !refill()) return false;
    const std::uint8_t* p = buffer_.data() + cursor_;
    word_ = LoadBigEndian32(p);
    cursor_ += 4;
    bytesLeft_ -= 4;
    bitsLeft_ = 32;
    return true;
}

std::uint32_t EriBitReader::readBits(int count) {
    if (count <= 0) return 0;
    if (count > 32) count = 32;
    if (count <= bitsLeft_) {
        bitsLeft_ -= count;
        const std::uint64_t mask = (std::uint64_t{1} << count) - 1;
        return static_cast<std::uint32_t>((word_ >> bitsLeft_) & mask);
    }
    // Take what the word holds, then the rest from the next word.
    const int have = bitsLeft_;
    std::uint64_t value = have ? (word_ & ((std::uint32_t{1} << have) - 1)) : 0;
    bitsLeft_ = 0;
    if (!fetchWord()) return 0;
    const int rest = count - have;
    bitsLeft_ = 32 - rest;
    const std::uint64_t tail =
        (std::uint64_t{word_} >> bitsLeft_) & ((std::uint64_t{1} << rest) - 1);
    return static_cast<std::uint32_t>((value << rest) | tail);
}

bool EriBitReader::readGammaSlow(std::uint32_t& value) {
    std::uint32_t v = 1;
    std::uint32_t x = 0;
    int pairs = 0;
    // Whole bytes while the next 8 bits are at hand: four continuing pairs at
    // a time, then the end of the code from the table.
    std::uint32_t window;
    while (pairs + 4 <= 30 && peekByte(window)) {
        if ((window & 0xAA) == 0xAA) {
            x = (x << 4) | ((window >> 3) & 8) | ((window >> 2) & 4) | ((window >> 1) & 2) |
                (window & 1);
            v <<= 4;
            pairs += 4;
            skipBits(8);
            continue;
        }
        // A stop bit among the four: a code of 2 * p + 1 bits in the table.
        const EriGammaEntry e = kEriGammaTable.entries[window];
        const int p = e.length / 2;
        if (e.length == 0 || pairs + p > 30) break;
        skipBits(e.length);
        value = ((v + x) << p) + (e.value - (std::uint32_t{1} << p));
        return true;
    }
    for (;; ++pairs) {
        const int more = readBit();
        if (more > 0) return false;
        if (more == 0) break;
        if (pairs >= 30) return false; // no value of this size is meaningful
        const int bit = readBit();
        if (bit > 0) return false;
        x = 2 * x + static_cast<std::uint32_t>(bit & 1);
        v *= 2;
    }
    value = v + x;
    return true;
}

// ---- run-length gamma symbols ------------------------------------------

void EriBitReader::resetGamma() {
    nonZeroRun_ = readBit() != 0 && !atEnd();
    runLeft_ = 0;
}

std::size_t EriBitReader::decodeGammaSymbols(std::int32_t* out, std::size_t count) {
    if (count == 0) return 0;
    std::size_t done = 0;
    if (runLeft_ == 0 && !readGamma(runLeft_)) return 0;
    for (;;) {
        const std::size_t take = std::min<std::size_t>(count - done, runLeft_);
        if (nonZeroRun_) {
            for (std::size_t i = 0; i < take; ++i) {
                // The sign bit and a gamma code of up to 7 bits from one
                // look-up on the next 8 bits.
                std::uint32_t window;
                if (peekByte(window)) {
                    const EriGammaEntry e = kEriGammaTable.entries[(window << 1) & 0xFF];
                    if (e.length != 0) {
                        skipBits(e.length + 1);
                        const auto m = static_cast<std::int32_t>(e.value);
                        out[done++] = (window & 0x80) ? -m : m;
                        --runLeft_;
                        continue;
                    }
                    // A code of 9 bits or more, past the table as well.
                    skipBits(1);
                    std::uint32_t magnitude;
                    if (!readGammaSlow(magnitude)) return done;
                    const auto m = static_cast<std::int32_t>(magnitude);
                    out[done++] = (window & 0x80) ? -m : m;
                    --runLeft_;
                    continue;
                }
                const int sign = readBit();
                std::uint32_t magnitude;
                if (sign > 0 || !readGamma(magnitude)) return done;
                const auto m = static_cast<std::int32_t>(magnitude);
                out[done++] = sign ? -m : m;
                --runLeft_;
            }
        } else {
            std::fill_n(out + done, take, 0);
            done += take;
            runLeft_ -= static_cast<std::uint32_t>(take);
        }
        if (done == count) {
            if (runLeft_ == 0) nonZeroRun_ = !nonZeroRun_;
            return done;
        }
        nonZeroRun_ = !nonZeroRun_;
        if (!readGamma(runLeft_)) return done;
    }
}

// ---- adaptive arithmetic symbols -----------------------------------------

bool EriArithmeticModel::reset(int bits) {
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
PELO_NO_LOOP_TO_CALL void EriArithmeticModel::moveForward(Entry* e, std::uint32_t index,
                                                          std::uint16_t grown) {
    std::uint32_t to = index;
    while (to > 0 && e[to - 1].count <= grown)
        --to;
    const Entry moved{grown, e[index].symbol};
    for (std::uint32_t k = index; k > to; --k)
        e[k] = e[k - 1];
    e[to] = moved;
}

void EriArithmeticModel::halve(std::uint32_t context) {
    Entry* e = table(context);
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < count_; ++i) {
        e[i].count = static_cast<std::uint16_t>((e[i].count + 1) / 2);
        sum += e[i].count;
    }
    totals_[context] = sum;
}

int EriBitReader::arithmeticBitAtEnd() {
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

bool EriBitReader::setupArithmetic(int symbolBits) {
    if (!model_) model_ = std::make_unique<EriArithmeticModel>();
    if (!model_->reset(symbolBits)) return false;
    context_ = 0;
    code_ = 0;
    range_ = 0xFFFFFFFFu;
    endCount_ = 0;
    zeroBitsLeft_ = 0;
    low_ = 0;
    for (int i = 0; i < 32; ++i) {
        const int bit = arithmeticBit();
        if (bit < 0) return false;
        low_ = (low_ << 1) | static_cast<std::uint32_t>(bit);
    }
    // A window of 32 one bits is followed by a stuffed carry bit.
    auto carry = [this]() {
        if (low_ != 0xFFFFFFFFu) return true;
        const int bit = arithmeticBit();
        if (bit < 0) return false;
        if (bit) {
            low_ = 0;
            ++code_;
        }
        return true;
    };
    for (int i = 0; i < 32; ++i) {
        if (!carry()) return false;
        const int bit = arithmeticBit();
        if (bit < 0) return false;
        code_ = (code_ << 1) | (low_ >> 31);
        low_ = (low_ << 1) | static_cast<std::uint32_t>(bit);
    }
    if (!carry()) return false;
    arithmeticCurrent_ = true;
    return true;
}

namespace {

// floor(a / t) for a < 2^48 and 2 <= t <= 0xFFFF as the high half of
// a * m with m = ceil(2^64 / t): a * m / 2^64 exceeds a / t by less than
// a * t / (t * 2^64) < 2^-16 < 1 / t, too little to reach the next integer.
inline std::uint64_t DivideByTotal(std::uint64_t a, std::uint64_t m) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * m) >> 64);
}

} // namespace

bool EriBitReader::renormaliseArithmetic() {
    while (range_ < 0x80000000u) {
        int bit = arithmeticBit();
        if (bit < 0) return false;
        code_ = (code_ << 1) | (low_ >> 31);
        low_ = (low_ << 1) | static_cast<std::uint32_t>(bit);
        if (low_ == 0xFFFFFFFFu) {
            bit = arithmeticBit();
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

std::size_t EriBitReader::decodeArithmeticSymbols(std::int32_t* out, std::size_t count) {
    if (!model_ || model_->bits() == 0) return 0;
    EriArithmeticModel& model = *model_;
    const std::uint32_t n = model.symbolCount();
    // The coder registers live in locals for the whole block; the members are
    // written back at the end and around the bit-by-bit renormalisation.
    std::uint32_t code = code_;
    std::uint32_t range = range_;
    std::uint32_t low = low_;
    std::uint32_t context = context_;
    std::size_t k = 0;
    for (; k < count; ++k) {
        const std::uint32_t t = model.total(context);
        const EriArithmeticModel::Entry* e = model.table(context);
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
            if (endCount_ == 0 && shift + std::countr_one(low) < 32 && peekBits(window) >= shift) {
                code = (code << shift) | (low >> (32 - shift));
                low = (low << shift) | (window >> (32 - shift));
                range <<= shift;
                skipBits(shift);
            } else {
                code_ = code;
                range_ = range;
                low_ = low;
                const bool more = renormaliseArithmetic();
                code = code_;
                range = range_;
                low = low_;
                if (!more) break;
            }
        }
        const std::int32_t value = e[i].symbol;
        out[k] = value;
        model.count(context, i);
        context = static_cast<std::uint32_t>(value) & (n - 1);
    }
    code_ = code;
    range_ = range;
    low_ = low;
    context_ = context;
    return k;
}

std::size_t EriBitReader::decodeSymbols(std::int32_t* out, std::size_t count) {
    return arithmeticCurrent_ ? decodeArithmeticSymbols(out, count)
                              : decodeGammaSymbols(out, count);
}

// ---- run-length Huffman symbols -------------------------------------------

EriHuffmanTree& EriBitReader::huffmanTree(int index) {
    if (!trees_) trees_ = std::make_unique<EriHuffmanTree[]>(kTreeCount);
    return trees_[index];
}

void EriBitReader::clearHuffmanTrees() {
    if (!trees_) trees_ = std::make_unique<EriHuffmanTree[]>(kTreeCount);
    for (int i = 0; i < kTreeCount; ++i)
        trees_[i].clear();
}

void EriBitReader::setupHuffmanSymbols() {
    clearHuffmanTrees();
    currentTree_ = 0;
    zerosOwed_ = 0;
}

// ---- move-to-front tables ------------------------------------------------

std::uint8_t* EriBitReader::moveToFrontTable(int index) {
    if (!moveToFront_) {
        moveToFront_ = std::make_unique<std::uint8_t[]>(std::size_t{kTreeCount} * 256);
        resetMoveToFrontTables();
    }
    return moveToFront_.get() + std::size_t(index) * 256;
}

void EriBitReader::resetMoveToFrontTables() {
    if (!moveToFront_) {
        moveToFrontTable(0);
        return;
    }
    for (int t = 0; t < kTreeCount; ++t)
        for (int i = 0; i < 256; ++i)
            moveToFront_[std::size_t(t) * 256 + i] = std::uint8_t(i);
}

} // namespace pelo
