#include "eri/EriBitReader.h"

#include <cstring>

namespace pelo {

EriBitReader::EriBitReader(EriByteStream& stream, std::size_t bufferBytes) : stream_(stream) {
    if (bufferBytes < 4) bufferBytes = 4;
    buffer_.resize((bufferBytes + 3) & ~std::size_t{3});
}

bool EriBitReader::Refill() {
    if (ended_) return false;
    const std::size_t n = stream_.Read(buffer_.data(), buffer_.size());
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

std::uint32_t EriBitReader::ReadBits(int count) {
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
    if (!FetchWord()) return 0;
    const int rest = count - have;
    bitsLeft_ = 32 - rest;
    const std::uint64_t tail =
        (std::uint64_t{word_} >> bitsLeft_) & ((std::uint64_t{1} << rest) - 1);
    return static_cast<std::uint32_t>((value << rest) | tail);
}

} // namespace pelo
