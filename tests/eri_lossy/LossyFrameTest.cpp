// Hand-made lossy frames: values known from first principles, and frames or
// headers the decoder must refuse.
#include "EriFileWriter.h"
#include "LossyEncoder.h"
#include "eri/EriByteStream.h"
#include "eri/LoadEriImage.h"
#include "tests/support/FileBytes.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace pelo {
namespace {

using test::LossyFrame;
using test::LossyOptions;

bool Decode(const std::vector<std::uint8_t>& file, PackedDibPtr& dib) {
    EriMemoryStream stream(file.data(), file.size());
    return LoadEriImage(stream, dib);
}

// Nearest integer with ties to even, then 0..255, written out longhand.
int ExpectedByte(double v) {
    double r = std::floor(v);
    const double fraction = v - r;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
    return r < 0 ? 0 : r > 255 ? 255 : int(r);
}

// 32 x 32 pixels, side 8: 2 x 2 macro-blocks of flat luma quarters, chroma
// zero so that blue = green = red = luma. dc[mb][quarter] are the luma DC
// values; the frame carries their differences along each macro-block row,
// restarting at the left edge.
struct FlatFrame {
    std::int64_t dc[4][4] = {
        {10, 14, -2, 1024}, // 2.5, 3.5, -0.5, 256 at the luma DC factor 2/8
        {18, 22, -4, 1022}, // 4.5, 5.5, -1, 255.5
        {400, 2, 6, 3},     // 100, 0.5, 1.5, 0.75
        {401, 403, 405, 1}, // 100.25, 100.75, 101.25, 0.25
    };
    LossyOptions options;
    LossyFrame frame;

    FlatFrame(bool parametersFirst, std::int32_t coder) {
        options.degree = 3;
        options.chromaSampling = kEriChroma444;
        options.topDown = true;
        options.parametersFirst = parametersFirst;
        options.symbolCoder = coder;
        frame.side = 8;
        frame.blocks = 12;
        frame.columns = frame.rows = 2;
        for (int mb = 0; mb < 4; ++mb) {
            frame.parameters.push_back({255, 255, 255, 255});
            for (int b = 0; b < 12; ++b) {
                const std::int64_t value = b < 4 ? dc[mb][b] : 0;
                const std::int64_t previous = (mb % 2 == 1 && b < 4) ? dc[mb - 1][b] : 0;
                frame.dcDifferences.push_back(std::int32_t(value - previous));
            }
        }
        frame.ac.assign(frame.acPerMacroBlock() * 4, 0);
    }
    std::vector<std::uint8_t> file() const {
        return eritest::MakeEriFile(test::MakeLossyImageInfo(32, 32, options),
                                    test::EncodeLossyFrame(frame, options));
    }
};

TEST(LossyFrame, FlatBlocksRoundTiesToEvenClampAndRestartPredictionPerRow) {
    for (bool first : {true, false}) {
        for (std::int32_t coder : {kEriCoderGamma, kEriCoderHuffman}) {
            const FlatFrame f(first, coder);
            PackedDibPtr dib;
            ASSERT_TRUE(Decode(f.file(), dib)) << first << " " << coder;
            const std::size_t stride = 32 * 3;
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) {
                    const int mb = (y / 16) * 2 + x / 16;
                    const int quarter = ((y % 16) / 8) * 2 + (x % 16) / 8;
                    const int want = ExpectedByte(f.dc[mb][quarter] * 2.0 / 8.0);
                    // Top-down file: top row last in the bottom-up block.
                    const std::uint8_t* px = dib->pixels() + (31 - y) * stride + x * 3;
                    ASSERT_EQ(px[0], want) << x << "," << y << " first " << first;
                    ASSERT_EQ(px[1], want);
                    ASSERT_EQ(px[2], want);
                }
            }
        }
    }
}

TEST(LossyFrame, DcStepBytesScaleTheDcTerm) {
    // Luma DC step 0: factor 256 * 2 / 8 = 64; one unit is 64 levels.
    FlatFrame f(true, kEriCoderGamma);
    f.options.lumaDcStep = 0;
    for (auto& d : f.frame.dcDifferences)
        d = 0;
    f.frame.dcDifferences[1] = 3; // quarter 1 of the first macro-block: 192
    PackedDibPtr dib;
    ASSERT_TRUE(Decode(f.file(), dib));
    const std::uint8_t* top = dib->pixels() + 31 * 32 * 3;
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[8 * 3], 192);
}

// A small valid frame and the file around it, for mutations.
struct SmallFile {
    LossyOptions options;
    test::LossyPicture picture{20, 18, std::vector<std::uint8_t>(20 * 18 * 4, 0)};
    std::vector<std::uint8_t> frame;
    SmallFile() {
        for (std::size_t i = 0; i < picture.bgra.size(); ++i)
            picture.bgra[i] = std::uint8_t(60 + (i * 37) % 101);
        options.alpha = false;
        frame = test::EncodeLossyFrame(test::QuantiseLossy(picture, options), options);
    }
    EriImageInfo info() const { return test::MakeLossyImageInfo(20, 18, options); }
    std::vector<std::uint8_t> file(const std::vector<std::uint8_t>& content) const {
        return eritest::MakeEriFile(info(), content);
    }
};

TEST(LossyFrame, HeaderBytesAndCheckBitMustMatch) {
    const SmallFile small;
    PackedDibPtr dib;
    ASSERT_TRUE(Decode(small.file(small.frame), dib));
    const struct {
        int byte;
        std::uint8_t value;
    } mutations[] = {{0, 8}, {0, 1}, {1, 1}, {2, 2}, {2, 0x81}, {3, 7}, {3, 0}, {4, 0x80}};
    for (const auto& m : mutations) {
        std::vector<std::uint8_t> frame = small.frame;
        if (m.byte == 4)
            frame[4] |= m.value; // the bit after the four header bytes
        else
            frame[m.byte] = m.value;
        EXPECT_FALSE(Decode(small.file(frame), dib)) << "byte " << m.byte;
    }
}

// The bit reader pads the last word with zeros, so only cuts that leave out
// a whole word or more must fail.
TEST(LossyFrame, TruncatedFramesFail) {
    const SmallFile small;
    PackedDibPtr dib;
    for (std::size_t n = 0; n + 4 < small.frame.size(); ++n) {
        const std::vector<std::uint8_t> cut(small.frame.begin(), small.frame.begin() + n);
        EXPECT_FALSE(Decode(small.file(cut), dib)) << n;
    }
}

TEST(LossyFrame, UnsupportedLayoutsAreRefused) {
    const SmallFile small;
    PackedDibPtr dib;
    const auto refused = [&](auto change) {
        EriImageInfo info = small.info();
        change(info);
        return !Decode(eritest::MakeEriFile(info, small.frame), dib);
    };
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.bitsPerPixel = 16; }));
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.bitsPerPixel = 8; }));
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.blockDegree = 2; }));
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.blockDegree = 6; }));
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.chromaSampling = 0x00040303; }));
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.symbolCoder = kEriCoderArithmetic; }));
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.pixelFormat = kEriFormatGrey; }));
    // Alpha needs four bytes a pixel.
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.pixelFormat = kEriFormatColourAlpha; }));
    EXPECT_TRUE(refused([](EriImageInfo& i) { i.width = 0; }));
}

} // namespace
} // namespace pelo

namespace pelo {
namespace {

// The fuzz seeds must be files the decoder takes, or they seed nothing.
TEST(LossyFrame, FuzzSeedsDecode) {
    int seeds = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(PELO_SOURCE_DIR "/tests/fuzz/corpus/eri")) {
        if (entry.path().filename().string().rfind("lossy_", 0) != 0) continue;
        ++seeds;
        PackedDibPtr dib;
        EXPECT_TRUE(Decode(test::ReadFileBytes(entry.path().string()), dib)) << entry.path();
    }
    EXPECT_GE(seeds, 12);
}

} // namespace
} // namespace pelo
