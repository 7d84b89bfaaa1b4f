#include "eri/EriLossyDecoder.h"

#include "eri/EriBitReader.h"
#include "eri/EriGammaCoder.h"
#include "eri/EriHuffmanCoder.h"
#include "eri/EriHuffmanTree.h"
#include "eri/EriImageDecoder.h"
#include "eri/EriLossyMacroBlock.h"
#include "image/Allocation.h"

#include <algorithm>
#include <new>

namespace pelo {

// Frame layout and the buffers of one macro-block, made at set-up and reused
// for every frame.
struct EriLossyState {
    int degree = 0;
    int side = 0;
    int blocks = 0;
    int columns = 0;         // macro-blocks across
    int rows = 0;            // macro-blocks down
    std::size_t acCount = 0; // AC values per macro-block
    EriLossyMacroBlock macroBlock;
    std::unique_ptr<std::int32_t[]> ac;
    EriHuffmanTree parameterTree;
};

void EriLossyStateDeleter::operator()(EriLossyState* state) const {
    delete state;
}

namespace {

enum : int { kOk = 0, kBad = 1 };

// First header byte of a lossy frame, and the fourth.
constexpr std::uint32_t kLossyFrameKind = 9;
constexpr std::uint32_t kLossyFrameFourth = 8;

template <typename T> std::unique_ptr<T[]> TryAllocateArray(std::size_t count) {
    if (count == 0 || count > MaxImageBytes() / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

bool ReadByte(EriBitReader& bits, std::uint32_t& value) {
    value = bits.ReadBits(8);
    return !bits.AtEnd();
}

// The four step bytes of one macro-block, each one symbol of the parameter tree.
bool ReadParameters(EriBitReader& bits, EriHuffmanTree& tree, std::uint8_t* params) {
    for (int i = 0; i < 4; ++i) {
        std::uint32_t symbol = 0;
        if (!tree.Decode(bits, symbol)) return false;
        params[i] = static_cast<std::uint8_t>(symbol);
    }
    return true;
}

} // namespace

int SetupEriLossy(const EriImageInfo& info, EriLossyStatePtr& state) {
    state.reset();
    const int degree = static_cast<int>(info.blockDegree);
    if (degree < 3 || degree > 5) return kBad;
    const bool alpha = info.HasAlpha();
    const int blocks = EriLossyBlockCount(info.chromaSampling, alpha);
    if (blocks == 0) return kBad;
    const std::int64_t width = info.width;
    const std::int64_t height = info.height < 0 ? -std::int64_t{info.height} : info.height;
    if (width <= 0 || height <= 0 || width > kEriMaxSide || height > kEriMaxSide) return kBad;

    EriLossyStatePtr made(new (std::nothrow) EriLossyState);
    if (!made) return kBad;
    made->degree = degree;
    made->side = 1 << degree;
    made->blocks = blocks;
    const std::int64_t macroSide = 2 * made->side;
    made->columns = static_cast<int>((width + macroSide - 1) / macroSide);
    made->rows = static_cast<int>((height + macroSide - 1) / macroSide);
    made->acCount = static_cast<std::size_t>(made->side * made->side - 1) * blocks;
    made->ac = TryAllocateArray<std::int32_t>(made->acCount);
    if (!made->ac) return kBad;
    // The steps are the frame's; these only size the buffers.
    if (!made->macroBlock.Init(degree, info.chromaSampling, alpha, 255, 255)) return kBad;
    state = std::move(made);
    return kOk;
}

int DecodeEriLossy(EriImageDecoder& decoder, EriLossyState* state, const EriImageInfo& info,
                   const EriDecodeTarget& target, EriBitReader& bits) {
    if (!state) return kBad;
    const EriLossyBlockWriter writer =
        decoder.LossyBlockWriter(target.pixelFormat, target.bitsPerPixel);
    if (!writer) return kBad;
    const int pixelStep = static_cast<int>(target.bitsPerPixel / 8);
    const bool huffman = info.symbolCoder == kEriCoderHuffman;
    if (!huffman && info.symbolCoder != kEriCoderGamma) return kBad;
    const int s = state->side;
    const int blocks = state->blocks;
    // The target must not be larger than the grid set-up made.
    if (target.width <= 0 || target.height <= 0 ||
        (target.width + 2 * s - 1) / (2 * s) > state->columns ||
        (target.height + 2 * s - 1) / (2 * s) > state->rows)
        return kBad;

    EriGammaCoder gammaCoder(bits);
    EriHuffmanCoder huffmanCoder(bits);
    if (huffman) huffmanCoder.Reset();

    // Frame header: 9, 0, flags (bit 0: parameters first), 8, a zero bit,
    // then the luma and chroma DC step bytes.
    std::uint32_t kind = 0, second = 0, flags = 0, fourth = 0, lumaStep = 0, chromaStep = 0;
    if (!ReadByte(bits, kind) || !ReadByte(bits, second) || !ReadByte(bits, flags) ||
        !ReadByte(bits, fourth))
        return kBad;
    if (kind != kLossyFrameKind || second != 0 || (flags & ~1u) != 0 || fourth != kLossyFrameFourth)
        return kBad;
    if (bits.ReadBit() != 0) return kBad;
    if (!ReadByte(bits, lumaStep) || !ReadByte(bits, chromaStep)) return kBad;
    const bool parametersFirst = (flags & 1) != 0;
    EriLossyMacroBlock& mb = state->macroBlock;
    if (!mb.Init(state->degree, info.chromaSampling, info.HasAlpha(),
                 static_cast<std::uint8_t>(lumaStep), static_cast<std::uint8_t>(chromaStep)))
        return kBad;
    state->parameterTree.Clear();

    const std::size_t macroBlocks = static_cast<std::size_t>(state->columns) * state->rows;
    std::unique_ptr<std::int32_t[]> dcTable;
    std::unique_ptr<std::uint8_t[]> parameterTable;
    if (parametersFirst) {
        const auto dcBytes =
            CheckedImageBytes(static_cast<std::int64_t>(macroBlocks), blocks, sizeof(std::int32_t));
        const auto parameterBytes = CheckedImageBytes(static_cast<std::int64_t>(macroBlocks), 4, 1);
        if (!dcBytes || !parameterBytes) return kBad;
        dcTable = TryAllocateArray<std::int32_t>(macroBlocks * blocks);
        parameterTable = TryAllocateArray<std::uint8_t>(macroBlocks * 4);
        if (!dcTable || !parameterTable) return kBad;
        gammaCoder.Reset();
        if (gammaCoder.DecodeSymbols(dcTable.get(), macroBlocks * blocks) != macroBlocks * blocks)
            return kBad;
        for (std::size_t i = 0; i < macroBlocks; ++i)
            if (!ReadParameters(bits, state->parameterTree, parameterTable.get() + 4 * i))
                return kBad;
        if (!huffman) gammaCoder.Reset();
    }

    std::int32_t dcDifferences[kMaxEriLossyBlocks];
    std::int64_t accumulators[kMaxEriLossyBlocks];
    std::uint8_t ownParameters[4];
    std::int32_t* ac = state->ac.get();
    for (int row = 0; row < state->rows; ++row) {
        std::fill(accumulators, accumulators + blocks, 0);
        for (int column = 0; column < state->columns; ++column) {
            const std::size_t index = static_cast<std::size_t>(row) * state->columns + column;
            const std::int32_t* dc = dcDifferences;
            const std::uint8_t* params = ownParameters;
            if (parametersFirst) {
                dc = dcTable.get() + index * blocks;
                params = parameterTable.get() + index * 4;
            } else {
                gammaCoder.Reset();
                if (gammaCoder.DecodeSymbols(dcDifferences, blocks) !=
                    static_cast<std::size_t>(blocks))
                    return kBad;
                if (!ReadParameters(bits, state->parameterTree, ownParameters)) return kBad;
            }
            std::size_t got = 0;
            if (huffman) {
                got = huffmanCoder.DecodeSymbols(ac, state->acCount);
            } else {
                if (!parametersFirst) gammaCoder.Reset();
                got = gammaCoder.DecodeSymbols(ac, state->acCount);
            }
            if (got != state->acCount) return kBad;

            for (int b = 0; b < blocks; ++b)
                accumulators[b] += dc[b];
            mb.Reconstruct(accumulators, ac, params);

            for (int q = 0; q < 4; ++q) {
                const std::int64_t x = static_cast<std::int64_t>(column) * 2 * s + (q % 2) * s;
                const std::int64_t y = static_cast<std::int64_t>(row) * 2 * s + (q / 2) * s;
                if (x >= target.width || y >= target.height) continue;
                const int columns = static_cast<int>(std::min<std::int64_t>(s, target.width - x));
                const int rows = static_cast<int>(std::min<std::int64_t>(s, target.height - y));
                std::uint8_t* destination =
                    target.pixels + y * target.stride + x * static_cast<std::int64_t>(pixelStep);
                writer(destination, target.stride, columns, rows, mb.Planes(q), s, pixelStep);
            }
            if (const int hook = decoder.BlockHook(row, column); hook != 0) return hook;
        }
    }
    return kOk;
}

} // namespace pelo
