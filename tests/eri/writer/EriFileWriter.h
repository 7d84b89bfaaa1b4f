// Test-side ERI file writer: the record container, the header records, and
// a lossless encoder for every decoding path (frame kinds 1, 4, 8 and 2 with
// each symbol coder), the exact inverse of the decoder.
#pragma once

#include "eri/EriImageInfo.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelo::eritest {

struct EriTestRecord {
    std::string id; // padded with spaces to 8 bytes
    std::vector<std::uint8_t> content;
    std::vector<EriTestRecord> children; // serialised after content
    bool openLength = false;             // both length halves all ones
    bool overrideLength = false;
    std::uint32_t lengthLow = 0; // used when overrideLength
};

std::vector<std::uint8_t> MakeEriPreamble(std::uint32_t fileKind = 0x03000100);
std::vector<std::uint8_t> SerializeEriRecords(const std::vector<EriTestRecord>& records);
std::vector<std::uint8_t> FileHeaderContent(std::uint32_t version = 0x00020100);
std::vector<std::uint8_t> ImageInfoContent(const EriImageInfo& info);

// A picture as the encoder takes it: rows top first, each width pixels of
// bitsPerPixel / 8 bytes (16 bits: little-endian 5-5-5 words), no padding.
struct EriTestPicture {
    int width = 0;
    int height = 0;
    std::uint32_t pixelFormat = kEriFormatColour;
    int bitsPerPixel = 24;
    std::vector<std::uint8_t> pixels;
};

struct EriEncodeOptions {
    std::int32_t symbolCoder = kEriCoderGamma;
    std::uint32_t coderVersion = kEriCoderVersion2;
    int frameKind = 1; // 1, 4, 8 (blocks) or 2 (rows)
    bool codesFirst = true;
    std::uint32_t blockDegree = 3;
    int arithmeticBits = 8;
    bool negativeHeight = false; // first stream row is the top row
    // Operation code of block i (block rows first); default cycles through
    // every code of the lossless kind.
    std::function<std::uint32_t(int)> operationCode;
};

// Lossless kind the decoder derives from the options (0, 1 or 2).
int LosslessKind(const EriEncodeOptions& options);
EriImageInfo MakeImageInfo(const EriTestPicture& picture, const EriEncodeOptions& options);
// Content of the "ImageFrm" record.
std::vector<std::uint8_t> EncodeEriFrame(const EriTestPicture& picture,
                                         const EriEncodeOptions& options);

struct EriFileExtras {
    std::vector<std::uint8_t> palette; // "Palette " content when not empty
    std::vector<std::uint8_t> copyright;
    std::vector<std::uint8_t> description;
};
// A whole file: preamble, "Header  " (FileHdr, ImageInf, texts), "Stream  "
// (Palette, ImageFrm).
std::vector<std::uint8_t> MakeEriFile(const EriImageInfo& info,
                                      const std::vector<std::uint8_t>& frame,
                                      const EriFileExtras& extras = {});
std::vector<std::uint8_t> EncodeEriFile(const EriTestPicture& picture,
                                        const EriEncodeOptions& options,
                                        const EriFileExtras& extras = {});

} // namespace pelo::eritest
