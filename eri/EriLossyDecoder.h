// Entry points of the lossy decoder (transformation 0x00000001).
//
// How the lossy decoder meets the rest of the codec:
// - EriImageDecoder::Setup checks the lossy fields (symbol coder -1 or -4,
//   colour format, at least 24 bits, block degree 3..5, chroma sampling) and
//   then calls SetupEriLossy, which may build tables and buffers into the
//   state it owns (freed through EriLossyStateDeleter on Release).
// - EriImageDecoder::Decode copies the target, applies the flip (pixels then
//   points at the first stream row, stride may be negative) and calls
//   DecodeEriLossy; its result is the decode result.
// - Bits: EriBitReader::ReadBits(n) (0 at the end; check AtEnd()), ReadBit()
//   (0, -1 for a 1 bit, 1 at the end). The bit reader has not been discarded
//   for lossy frames; the frame header is the next bits.
// - Run-length gamma: an EriGammaCoder over the reader, Reset() then
//   DecodeSymbols(out, m), which returns fewer than m at the end of the data.
// - Run-length Huffman: an EriHuffmanCoder over the reader, Reset() then
//   DecodeSymbols(out, m); state (current tree, zeros owed) carries across
//   calls.
// - Parameter tree: an EriHuffmanTree of your own, Clear() per frame, and
//   Decode(bits, symbol) for each parameter byte (escape reads 8 bits).
// - Writers and hooks: decoder.LossyBlockWriter(target.pixelFormat,
//   target.bitsPerPixel) (null: result 1) and decoder.BlockHook(row, column).
#pragma once

#include "eri/EriImageInfo.h"

#include <memory>

namespace pelo {

class EriBitReader;
class EriImageDecoder;
struct EriDecodeTarget;

// Defined by the lossy decoder.
struct EriLossyState;
struct EriLossyStateDeleter {
    void operator()(EriLossyState* state) const;
};
using EriLossyStatePtr = std::unique_ptr<EriLossyState, EriLossyStateDeleter>;

// After the acceptance checks of set-up: 0, or 1 to refuse the file. state is
// empty on entry.
int SetupEriLossy(const EriImageInfo& info, EriLossyStatePtr& state);

// Decodes one lossy frame into target: 0, 1 on bad data, or a hook's value.
int DecodeEriLossy(EriImageDecoder& decoder, EriLossyState* state, const EriImageInfo& info,
                   const EriDecodeTarget& target, EriBitReader& bits);

} // namespace pelo
