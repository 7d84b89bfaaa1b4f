// Pictures encoded by the test writer on every decoding path come back
// unchanged through LoadEriImage.
#include "EriFileWriter.h"
#include "EriTestPictures.h"
#include "eri/EriByteStream.h"
#include "eri/LoadEriImage.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace pelo;
using namespace pelo::eritest;

namespace {

void ExpectRoundTrip(const EriTestPicture& p, const EriEncodeOptions& o,
                     const EriFileExtras& extras = {}) {
    const std::vector<std::uint8_t> file = EncodeEriFile(p, o, extras);
    EriMemoryStream stream(file.data(), file.size());
    PackedDibPtr dib;
    ASSERT_TRUE(LoadEriImage(stream, dib));
    const BitmapInfoHeader& h = dib->header();
    EXPECT_EQ(h.biWidth, p.width);
    EXPECT_EQ(h.biHeight, p.height);
    EXPECT_EQ(h.biBitCount, p.bitsPerPixel);
    const std::vector<std::uint8_t> expected = ExpectedRows(p);
    ASSERT_EQ(h.biSizeImage, expected.size());
    EXPECT_EQ(0, std::memcmp(dib->pixels(), expected.data(), expected.size()));
}

struct Path {
    const char* name;
    std::int32_t coder;
    std::uint32_t version;
    int frameKind;
    bool codesFirst;
};

const Path kBlockPaths[] = {
    {"gamma kind0 codes first", kEriCoderGamma, kEriCoderVersion1, 1, true},
    {"gamma kind0 codes per block", kEriCoderGamma, kEriCoderVersion1, 1, false},
    {"gamma kind1", kEriCoderGamma, kEriCoderVersion2, 1, true},
    {"gamma kind1 frame 4 per block", kEriCoderGamma, kEriCoderVersion2, 4, false},
    {"arithmetic kind1", kEriCoderArithmetic, kEriCoderVersion2, 4, true},
    {"arithmetic kind0", kEriCoderArithmetic, kEriCoderVersion1, 1, true},
    {"huffman codes first", kEriCoderHuffman, kEriCoderVersion2, 8, true},
    {"huffman codes per block", kEriCoderHuffman, kEriCoderVersion2, 8, false},
};

} // namespace

TEST(EriRoundTrip, ColourFormatsOnEveryBlockPath) {
    struct Format {
        std::uint32_t format;
        int bits;
    };
    const Format formats[] = {{kEriFormatColour, 16},
                              {kEriFormatColour, 24},
                              {kEriFormatColour, 32},
                              {kEriFormatColourAlpha, 32}};
    int seed = 1;
    for (const Path& path : kBlockPaths)
        for (const Format& f : formats)
            for (bool negative : {false, true}) {
                SCOPED_TRACE(testing::Message() << path.name << " bits " << f.bits << " format "
                                                << f.format << " negative " << negative);
                // 8-pixel blocks: 37 x 29 leaves partial blocks at both edges
                // and 20 blocks, enough to pass through many operation codes.
                const EriTestPicture p = NoisePicture(37, 29, f.format, f.bits, seed++);
                EriEncodeOptions o;
                o.symbolCoder = path.coder;
                o.coderVersion = path.version;
                o.frameKind = path.frameKind;
                o.codesFirst = path.codesFirst;
                o.negativeHeight = negative;
                ExpectRoundTrip(p, o);
            }
}

TEST(EriRoundTrip, GreyBlocksWithGammaAndArithmeticCodes) {
    int seed = 100;
    for (std::int32_t coder : {kEriCoderGamma, kEriCoderArithmetic})
        for (std::uint32_t version : {kEriCoderVersion1, kEriCoderVersion2})
            for (bool codesFirst : {true, false})
                for (bool negative : {false, true}) {
                    SCOPED_TRACE(testing::Message()
                                 << "coder " << coder << " version " << version << " first "
                                 << codesFirst << " neg " << negative);
                    EriEncodeOptions o;
                    o.symbolCoder = coder;
                    o.coderVersion = version;
                    o.codesFirst = codesFirst;
                    o.negativeHeight = negative;
                    ExpectRoundTrip(NoisePicture(21, 13, kEriFormatGrey, 8, seed++), o);
                }
}

TEST(EriRoundTrip, EightBitRowsWithEveryCoder) {
    int seed = 200;
    for (std::int32_t coder : {kEriCoderGamma, kEriCoderArithmetic, kEriCoderHuffman})
        for (std::uint32_t format : {kEriFormatGrey, kEriFormatColour})
            for (bool negative : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "coder " << coder << " format " << format << " neg " << negative);
                EriEncodeOptions o;
                o.symbolCoder = coder;
                o.frameKind = 2;
                o.blockDegree = 0; // rows need no blocks
                o.negativeHeight = negative;
                // Runs of equal bytes up to whole rows, and a run of one.
                EriTestPicture p = NoisePicture(23, 9, format, 8, seed++, 3);
                for (int x = 0; x < 23; ++x)
                    p.pixels[x] = 9;
                p.pixels[23 * 2 + 4] = p.pixels[23 * 2 + 5] = 77;
                EriFileExtras extras;
                for (int i = 0; i < 256; ++i)
                    for (int k = 0; k < 4; ++k)
                        extras.palette.push_back(std::uint8_t(i * (k + 1)));
                const std::vector<std::uint8_t> file = EncodeEriFile(p, o, extras);
                EriMemoryStream stream(file.data(), file.size());
                PackedDibPtr dib;
                ASSERT_TRUE(LoadEriImage(stream, dib));
                ASSERT_EQ(dib->header().biBitCount, 8);
                const std::vector<std::uint8_t> expected = ExpectedRows(p);
                EXPECT_EQ(0, std::memcmp(dib->pixels(), expected.data(), expected.size()));
                // Grey: the ramp, whatever the palette; colour: the palette.
                const std::uint8_t* table = dib->colourTable();
                for (int i = 0; i < 256; ++i) {
                    if (format == kEriFormatGrey) {
                        EXPECT_EQ(table[4 * i], i);
                        EXPECT_EQ(table[4 * i + 2], i);
                        EXPECT_EQ(table[4 * i + 3], 0);
                    } else {
                        EXPECT_EQ(table[4 * i + 1], std::uint8_t(i * 2));
                        EXPECT_EQ(table[4 * i + 3], std::uint8_t(i * 4));
                    }
                }
            }
}

TEST(EriRoundTrip, BlockSidesFromTwoToThirtyTwo) {
    int seed = 300;
    for (std::uint32_t degree = 1; degree <= 5; ++degree)
        for (const Path& path : kBlockPaths) {
            SCOPED_TRACE(testing::Message() << path.name << " degree " << degree);
            EriEncodeOptions o;
            o.symbolCoder = path.coder;
            o.coderVersion = path.version;
            o.frameKind = path.frameKind;
            o.codesFirst = path.codesFirst;
            o.blockDegree = degree;
            ExpectRoundTrip(NoisePicture(45, 35, kEriFormatColourAlpha, 32, seed++), o);
        }
}

// Big enough that Huffman trees are rebuilt (root weight past 0x3FFF) and
// arithmetic totals are halved (past 0xFFFF), with skewed statistics.
TEST(EriRoundTrip, LargePictureAdaptsTheModels) {
    const EriTestPicture p = NoisePicture(300, 260, kEriFormatColour, 24, 7, 1);
    for (const Path& path : kBlockPaths) {
        SCOPED_TRACE(path.name);
        EriEncodeOptions o;
        o.symbolCoder = path.coder;
        o.coderVersion = path.version;
        o.frameKind = path.frameKind;
        o.codesFirst = path.codesFirst;
        o.blockDegree = 4;
        ExpectRoundTrip(p, o);
    }
    EriEncodeOptions rows;
    rows.frameKind = 2;
    for (std::int32_t coder : {kEriCoderGamma, kEriCoderArithmetic, kEriCoderHuffman}) {
        rows.symbolCoder = coder;
        ExpectRoundTrip(NoisePicture(300, 260, kEriFormatGrey, 8, 8, 1), rows);
    }
}

TEST(EriRoundTrip, FiveBitArithmeticSymbolsFor555) {
    EriEncodeOptions o;
    o.symbolCoder = kEriCoderArithmetic;
    o.arithmeticBits = 5;
    ExpectRoundTrip(NoisePicture(19, 17, kEriFormatColour, 16, 5), o);
}

TEST(EriLoader, ReusesALargeEnoughBlockAndGrowsASmallOne) {
    EriEncodeOptions o;
    const std::vector<std::uint8_t> big =
        EncodeEriFile(NoisePicture(40, 30, kEriFormatColour, 24, 1), o);
    const std::vector<std::uint8_t> small =
        EncodeEriFile(NoisePicture(5, 4, kEriFormatColour, 24, 2), o);
    PackedDibPtr dib;
    EriMemoryStream s1(big.data(), big.size());
    ASSERT_TRUE(LoadEriImage(s1, dib));
    const PackedDib* first = dib.get();
    const std::uint8_t* data = dib->data();
    EriMemoryStream s2(small.data(), small.size());
    ASSERT_TRUE(LoadEriImage(s2, dib));
    EXPECT_EQ(dib.get(), first);
    EXPECT_EQ(dib->data(), data);
    EXPECT_EQ(dib->header().biWidth, 5);
    EXPECT_EQ(dib->header().biSizeImage, 4u * 16u);
}

TEST(EriLoader, ADirtyReusedBlockGetsZeroPadsAndOpaqueFourthBytes) {
    // Pixels go straight into the reused block: whatever an earlier picture or
    // a failed load left there must not show through the pad bytes or the
    // fourth byte of 32-bit colour pixels.
    EriEncodeOptions o;
    const std::vector<std::uint8_t> big =
        EncodeEriFile(NoisePicture(40, 30, kEriFormatColourAlpha, 32, 5), o);
    PackedDibPtr dib;
    EriMemoryStream s1(big.data(), big.size());
    ASSERT_TRUE(LoadEriImage(s1, dib));
    std::memset(dib->pixels(), 0xAB, dib->header().biSizeImage);
    const std::vector<std::uint8_t> cut(big.begin(), big.end() - 40);
    EriMemoryStream s2(cut.data(), cut.size());
    ASSERT_FALSE(LoadEriImage(s2, dib));
    ASSERT_TRUE(dib);
    for (const int bits : {24, 32}) {
        SCOPED_TRACE(bits);
        const EriTestPicture p = NoisePicture(5, 7, kEriFormatColour, bits, 6);
        const std::vector<std::uint8_t> file = EncodeEriFile(p, o);
        EriMemoryStream s3(file.data(), file.size());
        ASSERT_TRUE(LoadEriImage(s3, dib));
        const std::vector<std::uint8_t> expected = ExpectedRows(p);
        ASSERT_EQ(dib->header().biSizeImage, expected.size());
        EXPECT_EQ(0, std::memcmp(dib->pixels(), expected.data(), expected.size()));
        std::memset(dib->pixels(), 0xCD, dib->header().biSizeImage);
    }
}

TEST(EriLoader, ColourEightBitsWithoutPaletteHasAZeroTable) {
    EriEncodeOptions o;
    o.frameKind = 2;
    const std::vector<std::uint8_t> file =
        EncodeEriFile(NoisePicture(6, 3, kEriFormatColour, 8, 3), o);
    EriMemoryStream stream(file.data(), file.size());
    PackedDibPtr dib;
    ASSERT_TRUE(LoadEriImage(stream, dib));
    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ(dib->colourTable()[i], 0) << i;
}

TEST(EriLoader, RefusesLayoutsWithoutAWriter) {
    // Colour with alpha at 24 bits, grey at 16 bits, colour at 8 bits through
    // the block decoders: no block writer, no picture.
    EriEncodeOptions o;
    EriTestPicture p = NoisePicture(8, 8, kEriFormatColour, 24, 4);
    p.pixelFormat = kEriFormatColourAlpha;
    std::vector<std::uint8_t> file = MakeEriFile(
        MakeImageInfo(p, o), EncodeEriFrame(NoisePicture(8, 8, kEriFormatColour, 24, 4), o));
    EriMemoryStream s1(file.data(), file.size());
    PackedDibPtr dib;
    EXPECT_FALSE(LoadEriImage(s1, dib));

    EriTestPicture colour8 = NoisePicture(8, 8, kEriFormatColour, 8, 4);
    file = MakeEriFile(MakeImageInfo(colour8, o),
                       EncodeEriFrame(NoisePicture(8, 8, kEriFormatGrey, 8, 4), o));
    EriMemoryStream s2(file.data(), file.size());
    EXPECT_FALSE(LoadEriImage(s2, dib));
}

TEST(EriLoader, TruncatedOrCorruptedFramesFail) {
    for (const Path& path : kBlockPaths) {
        SCOPED_TRACE(path.name);
        EriEncodeOptions o;
        o.symbolCoder = path.coder;
        o.coderVersion = path.version;
        o.frameKind = path.frameKind;
        o.codesFirst = path.codesFirst;
        const EriTestPicture p = NoisePicture(24, 16, kEriFormatColour, 24, 9);
        const EriImageInfo info = MakeImageInfo(p, o);
        std::vector<std::uint8_t> frame = EncodeEriFrame(p, o);
        PackedDibPtr dib;
        // Cut at half: the symbols run out.
        std::vector<std::uint8_t> cut(frame.begin(), frame.begin() + frame.size() / 2);
        std::vector<std::uint8_t> file = MakeEriFile(info, cut);
        EriMemoryStream s1(file.data(), file.size());
        EXPECT_FALSE(LoadEriImage(s1, dib));
        // Each of the three header bytes after the frame kind set wrong.
        for (int k = 1; k <= 3; ++k) {
            std::vector<std::uint8_t> bad = frame;
            bad[k] ^= 0x10;
            file = MakeEriFile(info, bad);
            EriMemoryStream s(file.data(), file.size());
            EXPECT_FALSE(LoadEriImage(s, dib)) << "byte " << k;
        }
        // An unknown frame kind.
        std::vector<std::uint8_t> kind = frame;
        kind[0] = 3;
        file = MakeEriFile(info, kind);
        EriMemoryStream s2(file.data(), file.size());
        EXPECT_FALSE(LoadEriImage(s2, dib));
    }
}
