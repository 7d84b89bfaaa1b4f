// What the encoders do with the encode options and with alpha: quality for
// JPEG and WebP, alpha kept in WebP, one bit of alpha in GIF.
#include "formats/Codec.h"
#include "formats/SaveDispatch.h"
#include "samples/SpriteArt.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <set>
#include <vector>
#include <zlib.h>

namespace pelo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;
using test::TempDir;

// Writes image through the save dispatch and reads it back through the codec.
ImagePtr RoundTrip(const ImageBuffer& image, const std::string& path,
                   const EncodeOptions& options = {}) {
    PackedDibPtr block;
    PsdState psd;
    EXPECT_EQ(SaveImageFile(image, path, SaveWriter::Codec, block, psd, options), 0) << path;
    PackedDibPtr back;
    EXPECT_TRUE(LoadCodecImage(path, back));
    return back ? ConvertDibToImage(*back) : nullptr;
}

// Colour from the position, alpha from the column: every alpha value 0..255
// appears in a 256-wide picture.
ImagePtr AlphaRamp(int width, int height, bool manyColours) {
    ImagePtr image = AllocIpl(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image->pixel(x, y);
            p[0] = manyColours ? static_cast<std::uint8_t>(x * 7 + y) : 40;
            p[1] = manyColours ? static_cast<std::uint8_t>(y * 5)
                               : static_cast<std::uint8_t>(y & 1 ? 200 : 90);
            p[2] = 150;
            p[3] = static_cast<std::uint8_t>(x);
        }
    return image;
}

TEST(CodecSaveOptions, GifShowsPixelsBelowHalfAlphaAsTransparentAndTheRestOpaque) {
    TempDir dir;
    for (const bool many : {false, true}) {
        const ImagePtr image = AlphaRamp(256, 4, many);
        const ImagePtr back = RoundTrip(*image, dir.file(many ? "many.gif" : "few.gif"));
        ASSERT_TRUE(back);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 256; ++x) {
                const std::uint8_t* got = back->pixel(x, y);
                ASSERT_EQ(got[3], x < 128 ? 0 : 255) << many << " " << x << "," << y;
                if (!many && x >= 128) {
                    const std::uint8_t* want = image->pixel(x, y);
                    ASSERT_EQ(Bytes(got, got + 3), Bytes(want, want + 3)) << x << "," << y;
                }
            }
    }
}

// Opaque pictures, exact palette and reduced palette: the bytes the GIF
// encoder wrote before it kept alpha (size and CRC-32 of the file).
TEST(CodecSaveOptions, OpaqueGifBytesStayThoseOfTheEncoderBefore) {
    TempDir dir;
    const ImagePtr few = samples::MakeOpaqueScene(96, 64, 11);
    ImagePtr many = AllocIpl(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            std::uint8_t* p = many->pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x * 4);
            p[1] = static_cast<std::uint8_t>(y * 4);
            p[2] = static_cast<std::uint8_t>(x * y);
            p[3] = 255;
        }
    const struct {
        const ImageBuffer& image;
        std::size_t size;
        unsigned long crc;
    } cases[] = {{*few, 747, 0x3261b232}, {*many, 3573, 0x953ada1e}};
    for (const auto& c : cases) {
        const std::string path = dir.file("opaque.gif");
        PackedDibPtr block;
        PsdState psd;
        ASSERT_EQ(SaveImageFile(c.image, path, SaveWriter::Codec, block, psd), 0);
        const Bytes bytes = ReadFileBytes(path);
        EXPECT_EQ(bytes.size(), c.size);
        EXPECT_EQ(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())), c.crc);
    }
}

// Lossy WebP (the default quality) keeps alpha within a few steps, lossless
// (quality 100) exactly.
TEST(CodecSaveOptions, WebpKeepsAlphaAndOpaquePicturesStayOpaque) {
    TempDir dir;
    const ImagePtr ramp = AlphaRamp(256, 8, true);
    EncodeOptions lossless;
    lossless.quality = 100;
    const ImagePtr lossy = RoundTrip(*ramp, dir.file("lossy.webp"));
    const ImagePtr exact = RoundTrip(*ramp, dir.file("exact.webp"), lossless);
    ASSERT_TRUE(lossy && exact);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 256; ++x) {
            ASSERT_NEAR(lossy->pixel(x, y)[3], x, 4) << x << "," << y;
            ASSERT_EQ(exact->pixel(x, y)[3], x) << x << "," << y;
        }

    const ImagePtr opaque = samples::MakeOpaqueScene(96, 64, 11);
    const ImagePtr solid = RoundTrip(*opaque, dir.file("opaque.webp"));
    ASSERT_TRUE(solid);
    for (std::size_t i = 0; i < solid->pixelCount(); ++i)
        ASSERT_EQ(solid->imageData[4 * i + 3], 255) << i;
}

// Quality -1 is the encoder's default of 75; lower quality, fewer bytes.
TEST(CodecSaveOptions, QualityReachesJpegAndWebp) {
    TempDir dir;
    const ImagePtr scene = samples::MakeOpaqueScene(160, 120, 5);
    for (const char* ext : {".jpg", ".webp"}) {
        std::vector<std::size_t> sizes;
        std::vector<Bytes> files;
        for (const int quality : {-1, 75, 10, 95}) {
            const std::string path = dir.file(std::to_string(quality + 1) + ext);
            PackedDibPtr block;
            PsdState psd;
            EncodeOptions options;
            options.quality = quality;
            ASSERT_EQ(SaveImageFile(*scene, path, SaveWriter::Codec, block, psd, options), 0);
            files.push_back(ReadFileBytes(path));
        }
        EXPECT_EQ(files[0], files[1]) << ext;
        EXPECT_LT(files[2].size(), files[0].size()) << ext;
        EXPECT_GT(files[3].size(), files[0].size()) << ext;
    }
}

} // namespace
} // namespace pelo
