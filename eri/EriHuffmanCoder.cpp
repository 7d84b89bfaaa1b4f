#include "eri/EriHuffmanCoder.h"

#include <algorithm>

namespace pelo {

void EriHuffmanCoder::Reset() {
    if (!trees_) trees_ = std::make_unique<EriHuffmanTree[]>(kTreeCount);
    for (int i = 0; i < kTreeCount; ++i)
        trees_[i].Clear();
    currentTree_ = 0;
    zerosOwed_ = 0;
}

std::size_t EriHuffmanCoder::DecodeSymbols(std::int32_t* out, std::size_t count) {
    if (!trees_) Reset();
    EriBitReader& bits = bits_;
    std::size_t done = std::min<std::uint64_t>(zerosOwed_, count);
    std::fill_n(out, done, 0);
    zerosOwed_ -= done;
    while (done < count) {
        std::uint32_t symbol;
        if (!trees_[currentTree_].Decode(bits, symbol)) return done;
        const std::uint32_t byte = symbol & 0xFF;
        out[done++] = static_cast<std::int8_t>(byte);
        if (byte != 0) {
            currentTree_ = static_cast<int>(byte);
            continue;
        }
        std::uint32_t run;
        if (!trees_[kRunLengthTree].Decode(bits, run, true) || run == 0) return done;
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
