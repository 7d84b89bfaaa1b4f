// The ERI image decoder: set-up from the image information (which files are
// accepted and which decoding path each takes), the decode call with its row
// order, the lossless block and row decoders, and the block writers that
// store decoded planes into the output rows.
#pragma once

#include "eri/EriBitReader.h"
#include "eri/EriHuffmanTree.h"
#include "eri/EriImageInfo.h"
#include "eri/EriLossyDecoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pelo {

struct EriDecodeTarget {
    std::uint32_t pixelFormat = 0;  // the image information's, flags included
    std::uint8_t* pixels = nullptr; // first byte of the first output row
    std::int32_t width = 0;
    std::int32_t height = 0; // always positive
    std::uint32_t bitsPerPixel = 0;
    std::ptrdiff_t stride = 0; // may be negative
};

// Stores columns x rows pixels of one block from planes of 32-bit values
// (plane k at planes + k * side * side, row pitch side), advancing the
// destination by stride per row and by pixelStep bytes per pixel.
using EriLosslessBlockWriter = void (*)(std::uint8_t* destination, std::ptrdiff_t stride,
                                        int columns, int rows, const std::int32_t* planes, int side,
                                        int pixelStep);

// Stores columns x rows pixels from single-precision planes (planes[0..2]
// output planes 0..2, planes[3] alpha for the four-channel writer; row pitch
// side), each value rounded to the nearest integer, ties to even, and clamped
// to 0..255.
using EriLossyBlockWriter = void (*)(std::uint8_t* destination, std::ptrdiff_t stride, int columns,
                                     int rows, const float* const* planes, int side, int pixelStep);

// Scan order 1..4 of the lossless kind-1 block decoder: table[l] is the
// position y * side + x that the l-th symbol of a plane goes to.
void BuildEriPlaneScan(int order, int side, std::uint32_t* table);

// Why an image information record is not decodable.
enum class EriInfoCheck {
    Ok,
    UnknownTransformation,
    BadSymbolCoder,
    BadPixelFormat,
    BadCoderVersion,
    BadSize,
    BadBitsPerPixel,
    BadBlockDegree,
    BadChromaSampling,
};
EriInfoCheck CheckEriImageInfo(const EriImageInfo& info);
const char* EriInfoCheckText(EriInfoCheck check);
// The field a check failed on, with the value info holds, e.g. "symbol coder 2".
std::string EriInfoCheckField(EriInfoCheck check, const EriImageInfo& info);

// Size limits: either side at most 2^20, at most 2^28 pixels.
inline constexpr std::int64_t kEriMaxSide = std::int64_t{1} << 20;
inline constexpr std::int64_t kEriMaxPixels = std::int64_t{1} << 28;
// Largest lossless block degree with block buffers (blocks of 256 x 256).
inline constexpr std::uint32_t kEriMaxLosslessDegree = 8;

class EriImageDecoder {
public:
    EriImageDecoder();
    virtual ~EriImageDecoder();
    EriImageDecoder(const EriImageDecoder&) = delete;
    EriImageDecoder& operator=(const EriImageDecoder&) = delete;

    // 0, or 1 when the file is not supported.
    virtual int Setup(const EriImageInfo& info);
    // Frees every buffer set-up allocated.
    virtual void Release();
    // 0 on success, 1 on bad data or an unsupported layout, or a hook's
    // non-zero value. flip stores the first stream row last; a negative file
    // height inverts it.
    virtual int Decode(const EriDecodeTarget& target, EriBitReader& bits, bool flip);
    virtual EriLosslessBlockWriter LosslessBlockWriter(std::uint32_t pixelFormat,
                                                       std::uint32_t bitsPerPixel) const;
    virtual EriLossyBlockWriter LossyBlockWriter(std::uint32_t pixelFormat,
                                                 std::uint32_t bitsPerPixel) const;
    // Called after each block is stored; non-zero ends the decode with it.
    virtual int BlockHook(int blockRow, int blockColumn);
    // Called after each row of the row decoder; same rule.
    virtual int RowHook(int row);

    const EriImageInfo& Info() const { return info_; }
    bool IsSetUp() const { return setUp_; }
    int Channels() const { return channels_; }
    // 0 (coder version 0x00020100), 1 or 2 (0x00020200; 2 with symbol coder -4).
    int LosslessKind() const { return losslessKind_; }

private:
    int DecodeBlocks(const EriDecodeTarget& target, EriBitReader& bits);
    int DecodeHuffmanBlocks(const EriDecodeTarget& target, EriBitReader& bits);
    int DecodeRows(const EriDecodeTarget& target, EriBitReader& bits);
    void Integrate(int blockColumn, bool alongRows);
    // The block writer for the target with the column line cleared, or none.
    EriLosslessBlockWriter StartBlocks(const EriDecodeTarget& target);
    // Colour operation, integration, store and block hook of a decoded block.
    int FinishBlock(const EriDecodeTarget& target, EriLosslessBlockWriter writer, int blockRow,
                    int blockColumn, int colourOperation, bool alongRows);
    bool MakeBlockBuffers();

    EriImageInfo info_{};
    bool setUp_ = false;
    int channels_ = 0;
    int losslessKind_ = 0;

    // Block decoder buffers (block degree 1..kEriMaxLosslessDegree).
    bool blocksReady_ = false;
    int side_ = 0;
    int area_ = 0;
    int blocksAcross_ = 0;
    int blocksDown_ = 0;
    std::unique_ptr<std::uint8_t[]> operationCodes_;
    std::unique_ptr<std::int32_t[]> rowAccumulators_; // side x channels
    std::unique_ptr<std::int32_t[]> columnLine_;      // blocksAcross x channels x side
    std::unique_ptr<std::int32_t[]> planes_;          // area x channels
    std::unique_ptr<std::int32_t[]> symbols_;         // area x channels
    std::unique_ptr<std::uint32_t[]>
        scanTables_; // 4 x area (kind 1) or 4 x area x channels (kind 2)
    std::unique_ptr<EriHuffmanTree> operationTree_;

    EriLossyStatePtr lossyState_;
};

} // namespace pelo
