#include "eri/EriImageDecoder.h"

#include "eri/EriLoadStatus.h"
#include "eri/EriLossyBlockWriters.h"
#include "image/Allocation.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelo {

namespace {

template <typename T> std::unique_ptr<T[]> TryAllocate(std::size_t count) {
    if (count > MaxImageBytes() / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[count == 0 ? 1 : count]);
}

bool KnownBitsPerPixel(std::uint32_t bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// ---- lossless block writers ----------------------------------------------

void WriteBlock555(std::uint8_t* dst, std::ptrdiff_t stride, int columns, int rows,
                   const std::int32_t* planes, int side, int) {
    const std::size_t area = std::size_t(side) * side;
    for (int y = 0; y < rows; ++y, dst += stride) {
        const std::int32_t* p0 = planes + std::size_t(y) * side;
        const std::int32_t* p1 = p0 + area;
        const std::int32_t* p2 = p1 + area;
        for (int x = 0; x < columns; ++x) {
            const unsigned word = (unsigned(p0[x]) & 31) | ((unsigned(p1[x]) & 31) << 5) |
                                  ((unsigned(p2[x]) & 31) << 10);
            dst[2 * x] = static_cast<std::uint8_t>(word);
            dst[2 * x + 1] = static_cast<std::uint8_t>(word >> 8);
        }
    }
}

// Low bytes of up to four planes as one little-endian pixel word; whole words
// are stored so that the loops vectorise.
inline std::uint32_t PackBytes(std::int32_t b0, std::int32_t b1, std::int32_t b2) {
    return (std::uint32_t(b0) & 0xFF) | ((std::uint32_t(b1) & 0xFF) << 8) |
           ((std::uint32_t(b2) & 0xFF) << 16);
}

inline void StoreWord(std::uint8_t* d, std::uint32_t word) {
    const std::uint8_t bytes[4] = {std::uint8_t(word), std::uint8_t(word >> 8),
                                   std::uint8_t(word >> 16), std::uint8_t(word >> 24)};
    std::memcpy(d, bytes, 4);
}

inline std::uint32_t LoadWord(const std::uint8_t* d) {
    return std::uint32_t{d[0]} | (std::uint32_t{d[1]} << 8) | (std::uint32_t{d[2]} << 16) |
           (std::uint32_t{d[3]} << 24);
}

void WriteBlock3(std::uint8_t* dst, std::ptrdiff_t stride, int columns, int rows,
                 const std::int32_t* planes, int side, int step) {
    const std::size_t area = std::size_t(side) * side;
    for (int y = 0; y < rows; ++y, dst += stride) {
        const std::int32_t* p0 = planes + std::size_t(y) * side;
        const std::int32_t* p1 = p0 + area;
        const std::int32_t* p2 = p1 + area;
        if (step == 4) {
            // The fourth byte of each pixel is kept.
            for (int x = 0; x < columns; ++x) {
                std::uint8_t* d = dst + 4 * x;
                StoreWord(d, (LoadWord(d) & 0xFF000000u) | PackBytes(p0[x], p1[x], p2[x]));
            }
            continue;
        }
        // Three-byte pixels: each word's fourth byte is the next pixel's
        // first, rewritten by it; the last pixel goes byte by byte.
        int x = 0;
        for (; x + 1 < columns; ++x)
            StoreWord(dst + 3 * x, PackBytes(p0[x], p1[x], p2[x]));
        for (; x < columns; ++x) {
            dst[3 * x] = static_cast<std::uint8_t>(p0[x]);
            dst[3 * x + 1] = static_cast<std::uint8_t>(p1[x]);
            dst[3 * x + 2] = static_cast<std::uint8_t>(p2[x]);
        }
    }
}

void WriteBlock4(std::uint8_t* dst, std::ptrdiff_t stride, int columns, int rows,
                 const std::int32_t* planes, int side, int) {
    const std::size_t area = std::size_t(side) * side;
    for (int y = 0; y < rows; ++y, dst += stride) {
        const std::int32_t* p0 = planes + std::size_t(y) * side;
        const std::int32_t* p1 = p0 + area;
        const std::int32_t* p2 = p1 + area;
        const std::int32_t* p3 = p2 + area;
        int x = 0;
#if defined(__SSE2__)
        const __m128i low = _mm_set1_epi32(0xFF);
        for (; x + 4 <= columns; x += 4) {
            auto lane = [&](const std::int32_t* p) {
                return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x)), low);
            };
            const __m128i b = _mm_or_si128(lane(p0), _mm_slli_epi32(lane(p1), 8));
            const __m128i r = _mm_or_si128(
                _mm_slli_epi32(lane(p2), 16),
                _mm_slli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p3 + x)), 24));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), _mm_or_si128(b, r));
        }
#endif
        for (; x < columns; ++x)
            StoreWord(dst + 4 * x, PackBytes(p0[x], p1[x], p2[x]) | (std::uint32_t(p3[x]) << 24));
    }
}

void WriteBlock1(std::uint8_t* dst, std::ptrdiff_t stride, int columns, int rows,
                 const std::int32_t* planes, int side, int) {
    for (int y = 0; y < rows; ++y, dst += stride) {
        const std::int32_t* p0 = planes + std::size_t(y) * side;
        for (int x = 0; x < columns; ++x)
            dst[x] = static_cast<std::uint8_t>(p0[x]);
    }
}

} // namespace

void BuildEriPlaneScan(int order, int side, std::uint32_t* table) {
    const int s = side;
    std::uint32_t i = 0;
    if (order == 1) { // even rows, then odd rows
        for (int pass = 0; pass < 2; ++pass)
            for (int y = pass; y < s; y += 2)
                for (int x = 0; x < s; ++x)
                    table[i++] = y * s + x;
    } else if (order == 2) { // even columns, then odd columns
        for (int pass = 0; pass < 2; ++pass)
            for (int x = pass; x < s; x += 2)
                for (int y = 0; y < s; ++y)
                    table[i++] = y * s + x;
    } else { // anti-diagonals, even ones first
        for (int pass = 0; pass < 2; ++pass)
            for (int d = pass; d <= 2 * s - 2; d += 2)
                for (int n = d < s - 1 ? d : s - 1; n >= 0 && d - n < s; --n)
                    table[i++] = order == 3 ? std::uint32_t((d - n) * s + n)
                                            : std::uint32_t((s - 1 - n) * s + (d - n));
    }
}

EriInfoCheck CheckEriImageInfo(const EriImageInfo& info) {
    const std::uint32_t base = info.BaseFormat();
    if (info.transformation == kEriTransformLossless) {
        if (info.symbolCoder != kEriCoderGamma && info.symbolCoder != kEriCoderHuffman &&
            info.symbolCoder != kEriCoderArithmetic)
            return EriInfoCheck::BadSymbolCoder;
        if (base != kEriFormatColour && base != kEriFormatGrey) return EriInfoCheck::BadPixelFormat;
        if (info.coderVersion != kEriCoderVersion1 && info.coderVersion != kEriCoderVersion2)
            return EriInfoCheck::BadCoderVersion;
    } else if (info.transformation == kEriTransformLossy) {
        if (info.symbolCoder != kEriCoderGamma && info.symbolCoder != kEriCoderHuffman)
            return EriInfoCheck::BadSymbolCoder;
        if (base != kEriFormatColour) return EriInfoCheck::BadPixelFormat;
        if (info.bitsPerPixel < 24) return EriInfoCheck::BadBitsPerPixel;
        if (info.blockDegree < 3 || info.blockDegree > 5) return EriInfoCheck::BadBlockDegree;
        if (info.chromaSampling != kEriChroma411 && info.chromaSampling != kEriChroma422 &&
            info.chromaSampling != kEriChroma444)
            return EriInfoCheck::BadChromaSampling;
    } else {
        return EriInfoCheck::UnknownTransformation;
    }
    const std::int64_t width = info.width;
    const std::int64_t height = std::llabs(std::int64_t{info.height});
    if (width < 1 || height < 1 || width > kEriMaxSide || height > kEriMaxSide ||
        width * height > kEriMaxPixels)
        return EriInfoCheck::BadSize;
    if (!KnownBitsPerPixel(info.bitsPerPixel)) return EriInfoCheck::BadBitsPerPixel;
    return EriInfoCheck::Ok;
}

const char* EriInfoCheckText(EriInfoCheck check) {
    switch (check) {
    case EriInfoCheck::Ok:
        return "ok";
    case EriInfoCheck::UnknownTransformation:
        return "unknown transformation";
    case EriInfoCheck::BadSymbolCoder:
        return "unsupported symbol coder";
    case EriInfoCheck::BadPixelFormat:
        return "unsupported pixel format";
    case EriInfoCheck::BadCoderVersion:
        return "unsupported coder version";
    case EriInfoCheck::BadSize:
        return "width or height out of range";
    case EriInfoCheck::BadBitsPerPixel:
        return "unsupported bits per pixel";
    case EriInfoCheck::BadBlockDegree:
        return "unsupported block size";
    case EriInfoCheck::BadChromaSampling:
        return "unsupported chroma sampling";
    }
    return "unknown";
}

std::string EriInfoCheckField(EriInfoCheck check, const EriImageInfo& info) {
    switch (check) {
    case EriInfoCheck::Ok:
        return {};
    case EriInfoCheck::UnknownTransformation:
        return "transformation " + EriHexWord(info.transformation);
    case EriInfoCheck::BadSymbolCoder:
        return "symbol coder " + std::to_string(info.symbolCoder);
    case EriInfoCheck::BadPixelFormat:
        return "pixel format " + EriHexWord(info.pixelFormat);
    case EriInfoCheck::BadCoderVersion:
        return "coder version " + EriHexWord(info.coderVersion);
    case EriInfoCheck::BadSize:
        return "size " + std::to_string(info.width) + " x " + std::to_string(info.height);
    case EriInfoCheck::BadBitsPerPixel:
        return "bits per pixel " + std::to_string(info.bitsPerPixel);
    case EriInfoCheck::BadBlockDegree:
        return "block degree " + std::to_string(info.blockDegree);
    case EriInfoCheck::BadChromaSampling:
        return "chroma sampling " + EriHexWord(info.chromaSampling);
    }
    return {};
}

EriImageDecoder::EriImageDecoder() = default;

EriImageDecoder::~EriImageDecoder() {
    Release();
}

void EriImageDecoder::Release() {
    setUp_ = false;
    blocksReady_ = false;
    channels_ = 0;
    losslessKind_ = 0;
    operationCodes_.reset();
    rowAccumulators_.reset();
    columnLine_.reset();
    planes_.reset();
    symbols_.reset();
    scanTables_.reset();
    operationTree_.reset();
    lossyState_.reset();
}

int EriImageDecoder::Setup(const EriImageInfo& info) {
    Release();
    info_ = info;
    if (CheckEriImageInfo(info) != EriInfoCheck::Ok) return 1;
    const std::uint32_t base = info.BaseFormat();
    if (info.transformation == kEriTransformLossy) {
        channels_ = info.HasAlpha() ? 4 : 3;
        if (SetupEriLossy(info, lossyState_) != 0) {
            Release();
            return 1;
        }
        setUp_ = true;
        return 0;
    }
    if (base == kEriFormatColour)
        channels_ = info.bitsPerPixel <= 8 ? 1 : (info.HasAlpha() ? 4 : 3);
    else
        channels_ = 1;
    if (info.coderVersion == kEriCoderVersion1)
        losslessKind_ = 0;
    else
        losslessKind_ = info.symbolCoder == kEriCoderHuffman ? 2 : 1;
    if (info.blockDegree >= 1 && info.blockDegree <= kEriMaxLosslessDegree && !MakeBlockBuffers()) {
        Release();
        return 1;
    }
    setUp_ = true;
    return 0;
}

bool EriImageDecoder::MakeBlockBuffers() {
    side_ = 1 << info_.blockDegree;
    area_ = side_ * side_;
    const std::int64_t height = std::llabs(std::int64_t{info_.height});
    blocksAcross_ = static_cast<int>((info_.width + side_ - 1) / side_);
    blocksDown_ = static_cast<int>((height + side_ - 1) / side_);
    const std::size_t c = static_cast<std::size_t>(channels_);
    const std::size_t values = std::size_t(area_) * c;
    operationCodes_ = TryAllocate<std::uint8_t>(std::size_t(blocksAcross_) * blocksDown_);
    rowAccumulators_ = TryAllocate<std::int32_t>(std::size_t(side_) * c);
    columnLine_ = TryAllocate<std::int32_t>(std::size_t(blocksAcross_) * side_ * c);
    planes_ = TryAllocate<std::int32_t>(values);
    symbols_ = TryAllocate<std::int32_t>(values);
    scanTables_ = TryAllocate<std::uint32_t>(4 * values);
    if (!operationCodes_ || !rowAccumulators_ || !columnLine_ || !planes_ || !symbols_ ||
        !scanTables_)
        return false;
    std::fill_n(operationCodes_.get(), std::size_t(blocksAcross_) * blocksDown_, 0);

    const int s = side_;
    const std::uint32_t a = static_cast<std::uint32_t>(area_);
    if (losslessKind_ == 2) {
        // Over all planes: index = k * area + y * side + x.
        std::uint32_t* t = scanTables_.get();
        std::uint32_t i = 0;
        for (std::uint32_t n = 0; n < a * c; ++n)
            t[i++] = n;
        for (std::size_t k = 0; k < c; ++k)
            for (int x = 0; x < s; ++x)
                for (int y = 0; y < s; ++y)
                    t[i++] = std::uint32_t(k) * a + y * s + x;
        for (int y = 0; y < s; ++y)
            for (int x = 0; x < s; ++x)
                for (std::size_t k = 0; k < c; ++k)
                    t[i++] = std::uint32_t(k) * a + y * s + x;
        for (int x = 0; x < s; ++x)
            for (int y = 0; y < s; ++y)
                for (std::size_t k = 0; k < c; ++k)
                    t[i++] = std::uint32_t(k) * a + y * s + x;
        operationTree_.reset(new (std::nothrow) EriHuffmanTree);
        if (!operationTree_) return false;
    } else {
        for (int order = 1; order <= 4; ++order)
            BuildEriPlaneScan(order, s, scanTables_.get() + std::size_t(order - 1) * a);
    }
    blocksReady_ = true;
    return true;
}

EriLosslessBlockWriter EriImageDecoder::LosslessBlockWriter(std::uint32_t pixelFormat,
                                                            std::uint32_t bitsPerPixel) const {
    if (pixelFormat == kEriFormatColour && bitsPerPixel == 16) return WriteBlock555;
    if (pixelFormat == kEriFormatColour && (bitsPerPixel == 24 || bitsPerPixel == 32))
        return WriteBlock3;
    if (pixelFormat == kEriFormatColourAlpha && bitsPerPixel == 32) return WriteBlock4;
    if (pixelFormat == kEriFormatGrey && bitsPerPixel == 8) return WriteBlock1;
    return nullptr;
}

EriLossyBlockWriter EriImageDecoder::LossyBlockWriter(std::uint32_t pixelFormat,
                                                      std::uint32_t bitsPerPixel) const {
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return nullptr;
    if (pixelFormat & kEriAlphaFlag) return bitsPerPixel == 32 ? WriteEriLossy4 : nullptr;
    return WriteEriLossy3;
}

int EriImageDecoder::BlockHook(int, int) {
    return 0;
}

int EriImageDecoder::RowHook(int) {
    return 0;
}

int EriImageDecoder::Decode(const EriDecodeTarget& target, EriBitReader& bits, bool flip) {
    if (!setUp_) return 1;
    // The target must be the picture set-up measured.
    const std::int64_t height = std::llabs(std::int64_t{info_.height});
    if (!target.pixels || target.width != info_.width || target.height != height ||
        target.bitsPerPixel != info_.bitsPerPixel || target.pixelFormat != info_.pixelFormat)
        return 1;
    const std::int64_t rowBytes = std::int64_t{target.width} * (target.bitsPerPixel / 8);
    if (std::llabs(std::int64_t{target.stride}) < rowBytes) return 1;

    EriDecodeTarget t = target;
    if (info_.height < 0) flip = !flip;
    if (flip) {
        t.pixels += (t.height - 1) * t.stride;
        t.stride = -t.stride;
    }
    if (info_.transformation == kEriTransformLossy)
        return DecodeEriLossy(*this, lossyState_.get(), info_, t, bits);

    bits.Discard();
    const std::uint32_t frameKind = bits.ReadBits(8);
    if (bits.AtEnd()) return 1;
    switch (frameKind) {
    case 1:
        return DecodeBlocks(t, bits);
    case 4:
        if (losslessKind_ != 1) return 1;
        return DecodeBlocks(t, bits);
    case 8:
        return DecodeHuffmanBlocks(t, bits);
    case 2:
        return DecodeRows(t, bits);
    default:
        return 1;
    }
}

} // namespace pelo
