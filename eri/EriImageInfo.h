// The 68-byte image information record ("ImageInf", also the layout of
// "PrevwInf") and the codes its fields take.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace pelo {

inline constexpr std::uint32_t kEriTransformLossless = 0x03020000;
inline constexpr std::uint32_t kEriTransformLossy = 0x00000001;

inline constexpr std::int32_t kEriCoderGamma = -1;      // run-length gamma codes
inline constexpr std::int32_t kEriCoderHuffman = -4;    // run-length adaptive Huffman codes
inline constexpr std::int32_t kEriCoderArithmetic = 32; // adaptive arithmetic codes

inline constexpr std::uint32_t kEriCoderVersion1 = 0x00020100; // lossless kind 0
inline constexpr std::uint32_t kEriCoderVersion2 = 0x00020200; // lossless kinds 1 and 2

inline constexpr std::uint32_t kEriFormatColour = 1;
inline constexpr std::uint32_t kEriFormatGrey = 2;
inline constexpr std::uint32_t kEriFormatMask = 0x00FFFFFF;
inline constexpr std::uint32_t kEriAlphaFlag = 0x04000000;
inline constexpr std::uint32_t kEriFormatColourAlpha = kEriFormatColour | kEriAlphaFlag;

inline constexpr std::uint32_t kEriChroma444 = 0x00040404;
inline constexpr std::uint32_t kEriChroma422 = 0x00040202;
inline constexpr std::uint32_t kEriChroma411 = 0x00040101;

struct EriImageInfo {
    std::uint32_t coderVersion = 0;   // 0
    std::uint32_t transformation = 0; // 4
    std::int32_t symbolCoder = 0;     // 8
    std::uint32_t pixelFormat = 0;    // 12, flags included
    std::int32_t width = 0;           // 16
    std::int32_t height = 0;          // 20, positive: first stream row is the bottom row
    std::uint32_t bitsPerPixel = 0;   // 24
    std::uint32_t unused28 = 0;       // 28
    std::uint32_t chromaSampling = 0; // 32, lossy only
    std::uint8_t unused36[8] = {};    // 36
    std::uint8_t unused44[8] = {};    // 44
    std::uint32_t blockDegree = 0;    // 52, blocks are 2^degree pixels square
    std::uint32_t unused56[3] = {};   // 56

    // The file's integers are little-endian, like the machines this builds for.
    static EriImageInfo FromBytes(const std::uint8_t* bytes) {
        EriImageInfo info;
        std::memcpy(&info, bytes, sizeof info);
        return info;
    }
    void ToBytes(std::uint8_t* bytes) const { std::memcpy(bytes, this, sizeof *this); }

    bool HasAlpha() const { return (pixelFormat & kEriAlphaFlag) != 0; }
    std::uint32_t BaseFormat() const { return pixelFormat & kEriFormatMask; }
};
static_assert(sizeof(EriImageInfo) == 68);
static_assert(std::endian::native == std::endian::little);

} // namespace pelo
