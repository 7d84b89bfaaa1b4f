#include "formats/Codec.h"
#include "image/Flatten.h"
#include "pipeline/ConversionSession.h"
#include "pipeline/FileKinds.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pelo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;
using test::ReadWithImageMagick;
using test::SolidImage;
using test::TempDir;

// Writes a BGRA buffer as PNG (or whatever the name says) through the codec.
void WritePicture(const ImageBuffer& image, const std::string& path) {
    PackedDib block;
    ASSERT_TRUE(ConvertImageToDib(image, block));
    ASSERT_EQ(SaveCodecImage(path, block), 0) << path;
}

// 24 x 24: transparent black on the left, an opaque red block from column 12.
ImagePtr HalfBlock() {
    auto image = SolidImage(24, 24, 0, 0, 0, 0);
    for (int y = 0; y < 24; ++y)
        for (int x = 12; x < 24; ++x) {
            std::uint8_t* p = image->pixel(x, y);
            p[2] = 255;
            p[3] = 255;
        }
    return image;
}

const std::uint8_t* Rgba(const Bytes& rgba, int w, int x, int y) {
    return &rgba[4 * (y * w + x)];
}

TEST(PipelineLists, AlphaListsTestTheUpperCasedNameAnywhereAfterTheFirstCharacter) {
    for (const char* path : {"a.png", "a.Png", "b.tif", "c.BMP", "d.rle", "e.Dib", "f.eri", "g.Tga",
                             "h.psd", "/in/x.png.jpg"})
        EXPECT_TRUE(IsAlphaInput(path)) << path;
    for (const char* path : {"a.jpg", "a.gif", "a.webp", ".png", "/in.png/photo.jpg"})
        EXPECT_FALSE(IsAlphaInput(path)) << path;
    for (const char* path : {"a.PNG", "a.tif", "a.Eri", "a.tga", "a.psd", "a.GIF", "a.webp"})
        EXPECT_TRUE(IsAlphaOutput(path)) << path;
    // The encoder of the last extension decides whether alpha survives.
    for (const char* path : {"a.BMP", "a.JPG", "a.dib", "a.png.jpg", "a.gif.bmp"})
        EXPECT_FALSE(IsAlphaOutput(path)) << path;
}

TEST(PipelineFlatten, OverGrey128RoundedToNearest) {
    auto image = SolidImage(4, 1, 0, 0, 0, 0);
    const std::uint8_t pixels[4][4] = {
        {10, 20, 30, 0}, {10, 20, 30, 255}, {0, 0, 255, 128}, {255, 255, 255, 64}};
    std::memcpy(image->imageData, pixels, sizeof pixels);
    FlattenOntoGrey(*image);
    // (C * a + 128 * (255 - a)) / 255: 128; C; 64.2 -> 64 and 192.2 -> 192;
    // (255 * 64 + 128 * 191) / 255 = 159.87 -> 160 (truncation gives 159).
    const std::uint8_t expected[4][4] = {
        {128, 128, 128, 255}, {10, 20, 30, 255}, {64, 64, 192, 255}, {160, 160, 160, 255}};
    EXPECT_EQ(std::memcmp(image->imageData, expected, sizeof expected), 0);
}

TEST(PipelineLoad, LoaderFollowsOnlyTheAllLowerAndAllUpperSpellings) {
    TempDir dir;
    auto image = HalfBlock();
    std::filesystem::create_directories(dir.file("in.eri"));
    std::filesystem::create_directories(dir.file("in.PSD"));
    WritePicture(*image, dir.file("source.png"));
    for (const char* name : {"a.Eri", "a.Psd", "in.eri/photo.png", "in.PSD/photo.png"})
        std::filesystem::copy_file(dir.file("source.png"), dir.file(name));

    ConversionSession session;
    // Mixed case goes to the codec, which reads the PNG inside.
    for (const char* name : {"a.Eri", "a.Psd"}) {
        auto loaded = session.LoadImageFile(dir.file(name));
        ASSERT_TRUE(loaded) << name << ": " << session.failure.reason;
        EXPECT_EQ(loaded->width, 24);
        EXPECT_EQ(loaded->pixel(0, 0)[3], 0);
        EXPECT_EQ(loaded->pixel(20, 0)[2], 255);
    }
    // The folders a file lies in never choose its loader.
    for (const char* name : {"in.eri/photo.png", "in.PSD/photo.png"})
        EXPECT_TRUE(session.LoadImageFile(dir.file(name)))
            << name << ": " << session.failure.reason;
}

TEST(PipelineLoad, UndecodableFileFailsWithTheSizeDiagnostic) {
    TempDir dir;
    test::WriteFileBytes(dir.file("x.png"), Bytes{'n', 'o', 'p', 'e'});
    ConversionSession session;
    EXPECT_FALSE(session.ProcessFile(dir.file("x.png"), dir.file("x.TGA")));
    EXPECT_EQ(session.diagnostic, "IPLイメージ作成に失敗しました:" + dir.file("x.png"));
    EXPECT_EQ(session.failure.code, StatusCode::Damaged);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.TGA")));
}

TEST(PipelineProcess, AlphaInputSpreadsEdgeColoursIntoTransparentPixelsOthersDoNot) {
    TempDir dir;
    auto image = HalfBlock();
    WritePicture(*image, dir.file("a.Png"));
    std::filesystem::copy_file(dir.file("a.Png"), dir.file("a.jpg")); // PNG bytes, JPEG name
    ConversionSession session;
    ASSERT_TRUE(session.ProcessFile(dir.file("a.Png"), dir.file("spread.TGA")));
    ASSERT_TRUE(session.ProcessFile(dir.file("a.jpg"), dir.file("plain.TGA")));
    EXPECT_TRUE(session.failure.ok()) << session.failure.reason;
    Bytes spread, plain;
    ASSERT_TRUE(ReadWithImageMagick(dir.file("spread.TGA"), 24, 24, spread));
    ASSERT_TRUE(ReadWithImageMagick(dir.file("plain.TGA"), 24, 24, plain));
    // Two columns left of a straight edge take its red; further out stays black.
    for (int y : {0, 11, 23}) {
        EXPECT_EQ(Rgba(spread, 24, 10, y)[0], 255);
        EXPECT_EQ(Rgba(spread, 24, 10, y)[3], 0);
        EXPECT_EQ(Rgba(spread, 24, 5, y)[0], 0);
        EXPECT_EQ(Rgba(plain, 24, 10, y)[0], 0);
        EXPECT_EQ(Rgba(plain, 24, 10, y)[3], 0);
        EXPECT_EQ(Rgba(spread, 24, 20, y)[3], 255);
    }
}

TEST(PipelineProcess, OutputsWithoutAlphaAreMixedWithGrey128) {
    TempDir dir;
    // Uniform half-transparent red: no edge for the passes to work on.
    auto image = SolidImage(16, 16, 0, 0, 255, 128);
    WritePicture(*image, dir.file("half.png"));
    ConversionSession session;
    for (const char* name : {"half.BMP", "half.JPG", "half.PNG"}) {
        ASSERT_TRUE(session.ProcessFile(dir.file("half.png"), dir.file(name))) << name;
        ASSERT_TRUE(session.failure.ok()) << session.failure.reason;
        Bytes rgba;
        ASSERT_TRUE(ReadWithImageMagick(dir.file(name), 16, 16, rgba)) << name;
        const bool keepsAlpha = std::string(name) == "half.PNG";
        const int tolerance = std::string(name) == "half.JPG" ? 3 : 0;
        for (int i = 0; i < 256; ++i) {
            const std::uint8_t* p = &rgba[4 * i];
            if (keepsAlpha) {
                ASSERT_EQ(p[0], 255);
                ASSERT_EQ(p[3], 128);
                continue;
            }
            // (255 * 128 + 128 * 127) / 255 = 192.2; (128 * 127) / 255 = 63.75.
            ASSERT_NEAR(p[0], 192, tolerance) << name;
            ASSERT_NEAR(p[1], 64, tolerance) << name;
            ASSERT_NEAR(p[2], 64, tolerance) << name;
            ASSERT_EQ(p[3], 255) << name;
        }
    }
}

TEST(PipelineProcess, WhiteAsTransparentOnAJpegComesOutGrey) {
    TempDir dir;
    // 8 x 8 blocks of pure white and pure black decode exactly.
    auto image = SolidImage(32, 16, 0, 0, 0, 255);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            std::memset(image->pixel(x, y), 255, 4);
    WritePicture(*image, dir.file("photo.jpg"));
    ConversionSession session;
    session.settings.whiteAsTransparent = 1;
    ASSERT_TRUE(session.ProcessFile(dir.file("photo.jpg"), dir.file("photo.BMP")));
    ASSERT_TRUE(session.ProcessFile(dir.file("photo.jpg"), dir.file("photo.TGA")));
    Bytes bmp, tga;
    ASSERT_TRUE(ReadWithImageMagick(dir.file("photo.BMP"), 32, 16, bmp));
    ASSERT_TRUE(ReadWithImageMagick(dir.file("photo.TGA"), 32, 16, tga));
    for (int y = 0; y < 16; ++y) {
        for (int x : {0, 5, 10}) {
            EXPECT_EQ(Rgba(bmp, 32, x, y)[0], 128);
            EXPECT_EQ(Rgba(bmp, 32, x, y)[3], 255);
            // Kept alpha: transparent, white colour bytes untouched (no spreading).
            EXPECT_EQ(Rgba(tga, 32, x, y)[0], 255);
            EXPECT_EQ(Rgba(tga, 32, x, y)[3], 0);
        }
        EXPECT_EQ(Rgba(bmp, 32, 28, y)[0], 0);
    }
}

TEST(PipelineProcess, SaveFailureIsAFailureWithItsReason) {
    TempDir dir;
    WritePicture(*HalfBlock(), dir.file("a.png"));
    test::WriteFileBytes(dir.file("file"), Bytes{1});
    ConversionSession session;
    session.BeginRun();
    EXPECT_FALSE(session.ProcessFile(dir.file("a.png"), dir.file("file/a.TGA")));
    EXPECT_EQ(session.failure.code, StatusCode::CannotWrite);
    EXPECT_NE(session.failure.reason.find("output folder"), std::string::npos)
        << session.failure.reason;
    EXPECT_FALSE(session.currentImage); // released after the save
    EXPECT_TRUE(session.block);         // kept for the next file of the run
    session.EndRun();
    EXPECT_FALSE(session.block);
}

} // namespace
} // namespace pelo
