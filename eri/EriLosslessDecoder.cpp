// Lossless block decoders (frame kinds 1, 4 and 8) and the row decoder for
// 8-bit pictures (frame kind 2). Values are 32-bit and wrap; the writers keep
// only their low bits.
#include "eri/EriArithmeticCoder.h"
#include "eri/EriBlockIntegration.h"
#include "eri/EriGammaCoder.h"
#include "eri/EriHuffmanCoder.h"
#include "eri/EriImageDecoder.h"

#include <algorithm>
#include <cstring>

namespace pelo {

namespace {

inline void AddPlane(std::int32_t* to, const std::int32_t* from, int area) {
    for (int i = 0; i < area; ++i)
        to[i] = WrappingAdd(to[i], from[i]);
}

// Colour operations on planes 0..2: the plane that is added to up to two
// others, in this order (-1: none).
struct ColourOperation {
    int source;
    int targets[2];
};
constexpr ColourOperation kColourOperations[16] = {
    {-1, {-1, -1}}, {-1, {-1, -1}}, {-1, {-1, -1}}, {-1, {-1, -1}}, // 0..3
    {-1, {-1, -1}}, {0, {1, -1}},   {0, {2, -1}},   {0, {1, 2}},    // 4..7
    {-1, {-1, -1}}, {1, {0, -1}},   {1, {2, -1}},   {1, {0, 2}},    // 8..11
    {-1, {-1, -1}}, {2, {0, -1}},   {2, {1, -1}},   {2, {0, 1}},    // 12..15
};

void ApplyColourOperation(int operation, std::int32_t* planes, int area) {
    if (operation < 0 || operation > 15) return;
    const ColourOperation& op = kColourOperations[operation];
    for (const int target : op.targets)
        if (target >= 0) AddPlane(planes + target * area, planes + op.source * area, area);
}

// Lossless kind 1: position within each group of ten selects the colour
// operation, the group the scan order.
constexpr std::uint8_t kKind1ColourOperations[10] = {0, 5, 6, 7, 9, 10, 11, 13, 14, 15};

bool ReadByte(EriBitReader& bits, std::uint32_t& value) {
    value = bits.ReadBits(8);
    return !bits.AtEnd();
}

} // namespace

void EriImageDecoder::Integrate(int blockColumn, bool alongRows) {
    const int s = side_;
    const int c = channels_;
    for (int k = 0; k < c; ++k)
        IntegrateEriPlane(planes_.get() + std::size_t(k) * area_, s,
                          rowAccumulators_.get() + std::size_t(k) * s,
                          columnLine_.get() + (std::size_t(blockColumn) * c + k) * s, alongRows);
}

EriLosslessBlockWriter EriImageDecoder::StartBlocks(const EriDecodeTarget& target) {
    if (!blocksReady_) return nullptr;
    const EriLosslessBlockWriter writer =
        LosslessBlockWriter(target.pixelFormat, target.bitsPerPixel);
    if (writer) std::fill_n(columnLine_.get(), std::size_t(blocksAcross_) * side_ * channels_, 0);
    return writer;
}

int EriImageDecoder::FinishBlock(const EriDecodeTarget& target, EriLosslessBlockWriter writer,
                                 int blockRow, int blockColumn, int colourOperation,
                                 bool alongRows) {
    ApplyColourOperation(colourOperation, planes_.get(), area_);
    Integrate(blockColumn, alongRows);
    const int s = side_;
    const int step = static_cast<int>(target.bitsPerPixel / 8);
    const int columns = std::min(s, target.width - blockColumn * s);
    const int rows = std::min(s, target.height - blockRow * s);
    std::uint8_t* dst = target.pixels + std::ptrdiff_t(blockRow) * s * target.stride +
                        std::ptrdiff_t(blockColumn) * s * step;
    writer(dst, target.stride, columns, rows, planes_.get(), s, step);
    return BlockHook(blockRow, blockColumn);
}

int EriImageDecoder::DecodeBlocks(const EriDecodeTarget& target, EriBitReader& bits) {
    const EriLosslessBlockWriter writer = StartBlocks(target);
    if (!writer) return 1;
    const int c = channels_;
    const int a = area_;
    const std::size_t values = std::size_t(a) * c;

    std::uint32_t d, e, f;
    if (!ReadByte(bits, d) || !ReadByte(bits, e) || !ReadByte(bits, f)) return 1;
    const bool arithmetic = info_.symbolCoder == kEriCoderArithmetic;
    EriArithmeticCoder arithmeticCoder(bits);
    EriGammaCoder gammaCoder(bits);
    bool codesFirst;
    if (arithmetic) {
        if (d != 0 || f != 0) return 1;
        codesFirst = true;
    } else if (info_.symbolCoder == kEriCoderGamma) {
        if (d != 0 || f != 0 || (e & ~1u) != 0) return 1;
        codesFirst = (e & 1) != 0;
    } else {
        return 1;
    }
    const int codeBits = losslessKind_ == 1 ? 6 : 4;
    const std::size_t blockCount = std::size_t(blocksAcross_) * blocksDown_;
    if (codesFirst && c > 2) {
        for (std::size_t i = 0; i < blockCount; ++i) {
            operationCodes_[i] = static_cast<std::uint8_t>(bits.ReadBits(codeBits));
            if (bits.AtEnd()) return 1;
        }
    }
    if (bits.ReadBit() != 0) return 1;
    if (arithmetic) {
        if (!arithmeticCoder.Setup(static_cast<int>(e))) return 1;
    } else if (codesFirst) {
        gammaCoder.Reset();
    }

    std::int32_t* planes = planes_.get();
    std::int32_t* symbols = symbols_.get();
    for (int by = 0; by < blocksDown_; ++by) {
        std::fill_n(rowAccumulators_.get(), std::size_t(side_) * c, 0);
        for (int bx = 0; bx < blocksAcross_; ++bx) {
            std::uint32_t code = 0;
            if (codesFirst) {
                code = operationCodes_[std::size_t(by) * blocksAcross_ + bx];
            } else {
                if (c > 2) {
                    code = bits.ReadBits(codeBits);
                    if (bits.AtEnd()) return 1;
                }
                gammaCoder.Reset();
            }
            int colourOperation = 0;
            int scan = 0;
            if (c > 2) {
                if (losslessKind_ == 1) {
                    if (code < 50) {
                        colourOperation = kKind1ColourOperations[code % 10];
                        scan = static_cast<int>(code / 10);
                    }
                } else {
                    colourOperation = static_cast<int>(code & 15);
                }
            }
            // Scan order 0 keeps the symbols in place: decode into the planes.
            std::int32_t* into = scan == 0 ? planes : symbols;
            const std::size_t got = arithmetic ? arithmeticCoder.DecodeSymbols(into, values)
                                               : gammaCoder.DecodeSymbols(into, values);
            if (got < values) return 1;
            if (scan != 0) {
                const std::uint32_t* table = scanTables_.get() + std::size_t(scan - 1) * a;
                for (int k = 0; k < c; ++k) {
                    const std::int32_t* from = symbols + std::size_t(k) * a;
                    std::int32_t* to = planes + std::size_t(k) * a;
                    for (int l = 0; l < a; ++l)
                        to[table[l]] = from[l];
                }
            }
            if (const int hook = FinishBlock(target, writer, by, bx, colourOperation, true))
                return hook;
        }
    }
    return 0;
}

int EriImageDecoder::DecodeHuffmanBlocks(const EriDecodeTarget& target, EriBitReader& bits) {
    if (!blocksReady_ || channels_ <= 2 || losslessKind_ != 2 ||
        info_.symbolCoder != kEriCoderHuffman)
        return 1;
    const EriLosslessBlockWriter writer = StartBlocks(target);
    if (!writer) return 1;
    const int c = channels_;
    const int a = area_;
    const std::size_t values = std::size_t(a) * c;

    std::uint32_t d, e, f;
    if (!ReadByte(bits, d) || !ReadByte(bits, e) || !ReadByte(bits, f)) return 1;
    if (d != 0 || (e & ~1u) != 0 || f != 8) return 1;
    const bool codesFirst = (e & 1) != 0;
    EriHuffmanTree& codeTree = *operationTree_;
    codeTree.Clear();
    const std::size_t blockCount = std::size_t(blocksAcross_) * blocksDown_;
    if (codesFirst) {
        for (std::size_t i = 0; i < blockCount; ++i) {
            std::uint32_t symbol;
            if (!codeTree.Decode(bits, symbol)) return 1;
            operationCodes_[i] = static_cast<std::uint8_t>(symbol);
        }
    }
    if (bits.ReadBit() != 0) return 1;
    EriHuffmanCoder huffmanCoder(bits);
    huffmanCoder.Reset();

    std::int32_t* planes = planes_.get();
    std::int32_t* symbols = symbols_.get();
    for (int by = 0; by < blocksDown_; ++by) {
        std::fill_n(rowAccumulators_.get(), std::size_t(side_) * c, 0);
        for (int bx = 0; bx < blocksAcross_; ++bx) {
            std::uint32_t code;
            if (codesFirst) {
                code = operationCodes_[std::size_t(by) * blocksAcross_ + bx];
            } else if (!codeTree.Decode(bits, code)) {
                return 1;
            }
            // Scan table 0 is the identity: decode into the planes.
            const std::uint32_t scan = (code >> 4) & 3;
            if (huffmanCoder.DecodeSymbols(scan == 0 ? planes : symbols, values) < values) return 1;
            if (scan != 0) {
                const std::uint32_t* table = scanTables_.get() + scan * values;
                for (std::size_t i = 0; i < values; ++i)
                    planes[table[i]] = symbols[i];
            }
            if (const int hook = FinishBlock(target, writer, by, bx, static_cast<int>(code & 15),
                                             (code & 0x40) != 0))
                return hook;
        }
    }
    return 0;
}

int EriImageDecoder::DecodeRows(const EriDecodeTarget& target, EriBitReader& bits) {
    if (target.bitsPerPixel != 8) return 1;
    if (bits.ReadBits(24) != 0 || bits.AtEnd()) return 1;
    const int width = target.width;
    std::uint8_t* row = target.pixels;

    if (info_.symbolCoder == kEriCoderArithmetic) {
        EriArithmeticCoder arithmeticCoder(bits);
        if (!arithmeticCoder.Setup(8)) return 1;
        // The symbol buffer of the block decoders may be absent (degree 0).
        std::unique_ptr<std::int32_t[]> values(new (std::nothrow) std::int32_t[width]);
        if (!values) return 1;
        for (int y = 0; y < target.height; ++y, row += target.stride) {
            if (arithmeticCoder.DecodeSymbols(values.get(), std::size_t(width)) <
                std::size_t(width))
                return 1;
            for (int x = 0; x < width; ++x)
                row[x] = static_cast<std::uint8_t>(values[x]);
            if (const int hook = RowHook(y)) return hook;
        }
        return 0;
    }

    if (info_.symbolCoder == kEriCoderGamma) {
        // Codes are read on bits itself: through the coder, every byte stored
        // would make the loop load the reader again.
        EriGammaCoder gammaCoder(bits);
        gammaCoder.ResetMoveToFrontTables();
        for (int y = 0; y < target.height; ++y, row += target.stride) {
            std::uint8_t* table = gammaCoder.MoveToFrontTable(256);
            int previous = -1;
            for (int x = 0; x < width;) {
                std::uint32_t g;
                if (!EriGammaCoder::ReadCode(bits, g) || g - 1 > 255) return 1;
                const std::uint8_t byte = table[g - 1];
                std::memmove(table + 1, table, g - 1);
                table[0] = byte;
                row[x++] = byte;
                if (byte == previous) {
                    std::uint32_t r;
                    if (!EriGammaCoder::ReadCode(bits, r)) return 1;
                    const int repeat = static_cast<int>(std::min<std::uint32_t>(r - 1, width - x));
                    std::memset(row + x, byte, repeat);
                    x += repeat;
                } else {
                    table = gammaCoder.MoveToFrontTable(byte);
                    previous = byte;
                }
            }
            if (const int hook = RowHook(y)) return hook;
        }
        return 0;
    }

    if (info_.symbolCoder == kEriCoderHuffman) {
        EriHuffmanCoder huffmanCoder(bits);
        huffmanCoder.Reset();
        int tree = 0;
        for (int y = 0; y < target.height; ++y, row += target.stride) {
            int previous = -1;
            for (int x = 0; x < width;) {
                std::uint32_t symbol;
                if (!huffmanCoder.DecodeByte(tree, symbol)) return 1;
                const int byte = static_cast<int>(symbol & 0xFF);
                row[x++] = static_cast<std::uint8_t>(byte);
                if (byte == previous) {
                    std::uint32_t run;
                    if (!huffmanCoder.DecodeRunLength(run)) return 1;
                    if (run == 0 || run - 1 > std::uint32_t(width - x)) return 1;
                    std::memset(row + x, byte, run - 1);
                    x += static_cast<int>(run - 1);
                }
                previous = byte;
                tree = byte;
            }
            if (const int hook = RowHook(y)) return hook;
        }
        return 0;
    }
    return 1;
}

} // namespace pelo
