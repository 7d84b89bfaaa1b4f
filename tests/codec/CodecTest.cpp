#include "formats/Codec.h"

#include "formats/SaveDispatch.h"
#include "formats/TgaWriter.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pelo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;
using test::ReadWithImageMagick;
using test::RunCommand;
using test::TempDir;
using test::WriteFileBytes;

// A small picture with every kind of pixel the pipeline cares about: opaque,
// half transparent, and fully transparent with non-black colour bytes.
Bytes MixedRgba(int w, int h) {
    Bytes rgba(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &rgba[4 * (y * w + x)];
            p[0] = static_cast<std::uint8_t>(x * 40);
            p[1] = static_cast<std::uint8_t>(y * 50);
            p[2] = static_cast<std::uint8_t>(200 - x * 10);
            p[3] = x == 0 ? 0 : (x == 1 ? 128 : 255);
        }
    return rgba;
}

// Writes raw RGBA as a file through ImageMagick, the independent writer.
std::string WriteWithImageMagick(const TempDir& dir, const Bytes& rgba, int w, int h,
                                 const std::string& name, const std::string& options = "") {
    const std::string raw = dir.file("in.rgba");
    WriteFileBytes(raw, rgba);
    const std::string out = dir.file(name);
    const std::string cmd = "/usr/bin/convert -size " + std::to_string(w) + "x" +
                            std::to_string(h) + " -depth 8 RGBA:'" + raw + "' " + options + " '" +
                            out + "'";
    EXPECT_EQ(RunCommand(cmd), 0) << cmd;
    return out;
}

// The block's pixels as top-down RGBA.
Bytes BlockRgba(const PackedDib& block) {
    const int w = block.header().biWidth, h = block.header().biHeight;
    Bytes rgba(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = block.pixels() + 4 * ((h - 1 - y) * w + x);
            std::uint8_t* q = &rgba[4 * (y * w + x)];
            q[0] = p[2];
            q[1] = p[1];
            q[2] = p[0];
            q[3] = p[3];
        }
    return rgba;
}

PackedDib BlockFromRgba(const Bytes& rgba, int w, int h) {
    PackedDib block;
    EXPECT_TRUE(PrepareDib32(block, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* q = &rgba[4 * (y * w + x)];
            std::uint8_t* p = block.pixels() + 4 * ((h - 1 - y) * w + x);
            p[0] = q[2];
            p[1] = q[1];
            p[2] = q[0];
            p[3] = q[3];
        }
    return block;
}

bool Load(const std::string& path, PackedDibPtr& block, std::string* error = nullptr) {
    return LoadCodecImage(path, block, kMetafileWidth, kMetafileHeight, error);
}

TEST(CodecLoad, PngFromAnotherWriterArrivesExactlyWithStraightAlpha) {
    TempDir dir;
    const Bytes rgba = MixedRgba(6, 4);
    const std::string png = WriteWithImageMagick(dir, rgba, 6, 4, "a.png");
    PackedDibPtr block;
    ASSERT_TRUE(Load(png, block));
    EXPECT_EQ(block->header().biBitCount, 32);
    EXPECT_EQ(block->header().biWidth, 6);
    EXPECT_EQ(block->header().biHeight, 4); // positive: bottom row first
    EXPECT_EQ(block->header().biSizeImage, 6u * 4 * 4);
    EXPECT_EQ(BlockRgba(*block), rgba); // transparent pixels keep their colour bytes
}

TEST(CodecLoad, OpaqueFormatsGetAlpha255AndContentBeatsTheName) {
    TempDir dir;
    Bytes rgba = MixedRgba(8, 8);
    for (std::size_t i = 3; i < rgba.size(); i += 4)
        rgba[i] = 255;
    const std::string bmp = WriteWithImageMagick(dir, rgba, 8, 8, "a.bmp", "-type TrueColor");
    std::filesystem::copy_file(bmp, dir.file("really-a-bmp.png"));
    for (const std::string& path : {bmp, dir.file("really-a-bmp.png")}) {
        PackedDibPtr block;
        ASSERT_TRUE(Load(path, block));
        EXPECT_EQ(BlockRgba(*block), rgba) << path;
    }
}

TEST(CodecLoad, BadFilesGiveAnEmptyBlockAndAReason) {
    TempDir dir;
    const std::string png = WriteWithImageMagick(dir, MixedRgba(64, 64), 64, 64, "full.png");
    Bytes bytes = ReadFileBytes(png);
    bytes.resize(bytes.size() - 20);
    WriteFileBytes(dir.file("cut.png"), bytes);
    WriteFileBytes(dir.file("text.png"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    const std::string jpg = WriteWithImageMagick(dir, MixedRgba(64, 64), 64, 64, "full.jpg");
    bytes = ReadFileBytes(jpg);
    bytes.resize(bytes.size() * 2 / 3);
    WriteFileBytes(dir.file("cut.jpg"), bytes);

    struct Case {
        std::string name, reason;
    } cases[] = {{"cut.png", "truncated PNG"},
                 {"text.png", "Unsupported image format"},
                 {"cut.jpg", "truncated JPEG"},
                 {"missing.png", "No such file"}};
    for (const auto& c : cases) {
        PackedDibPtr block;
        std::string error;
        EXPECT_TRUE(Load(dir.file(c.name), block, &error)) << c.name;
        ASSERT_TRUE(block);
        EXPECT_EQ(block->header().biWidth, 0) << c.name;
        EXPECT_EQ(block->header().biHeight, 0) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

TEST(CodecLoad, TiffWithUnassociatedAlphaArrivesAsTheFileHoldsIt) {
    TempDir dir;
    const Bytes rgba = MixedRgba(6, 4);
    const std::string plain = WriteWithImageMagick(dir, rgba, 6, 4, "plain.tif", "-compress None");
    const std::string lzw = WriteWithImageMagick(dir, rgba, 6, 4, "lzw.TIFF", "-compress LZW");
    for (const std::string& path : {plain, lzw}) {
        PackedDibPtr block;
        std::string error;
        ASSERT_TRUE(Load(path, block, &error));
        ASSERT_EQ(block->header().biWidth, 6) << path << ": " << error;
        EXPECT_EQ(BlockRgba(*block), rgba) << path;
    }
    Bytes bytes = ReadFileBytes(plain);
    bytes.resize(bytes.size() / 2);
    WriteFileBytes(dir.file("cut.tif"), bytes);
    PackedDibPtr block;
    std::string error;
    Load(dir.file("cut.tif"), block, &error);
    EXPECT_EQ(block->header().biWidth, 0);
    EXPECT_FALSE(error.empty());
}

TEST(CodecLoad, BlockLargeEnoughIsReusedInPlaceSmallerOneGrows) {
    TempDir dir;
    const std::string small = WriteWithImageMagick(dir, MixedRgba(4, 4), 4, 4, "small.png");
    const std::string large = WriteWithImageMagick(dir, MixedRgba(40, 40), 40, 40, "large.png");
    PackedDibPtr block = std::make_unique<PackedDib>();
    ASSERT_TRUE(block->Reserve(kDibHeaderSize + 40 * 40 * 4));
    const std::uint8_t* before = block->data();
    ASSERT_TRUE(Load(small, block));
    EXPECT_EQ(block->data(), before);
    ASSERT_TRUE(Load(large, block));
    EXPECT_EQ(block->data(), before);
    EXPECT_EQ(block->header().biWidth, 40);

    PackedDibPtr tiny = std::make_unique<PackedDib>();
    ASSERT_TRUE(tiny->Reserve(kDibHeaderSize + 16));
    ASSERT_TRUE(Load(large, tiny));
    EXPECT_GE(tiny->capacity(), kDibHeaderSize + 40u * 40 * 4);
    EXPECT_EQ(BlockRgba(*tiny), MixedRgba(40, 40));
}

TEST(CodecLoad, TgaOfEveryOrientationAndPackingDecodes) {
    TempDir dir;
    const Bytes rgba = MixedRgba(5, 3);
    // Our own writer: run-length encoded, bottom-left, 8 alpha bits.
    PackedDib source = BlockFromRgba(rgba, 5, 3);
    auto image = ConvertDibToImage(source);
    ASSERT_TRUE(image);
    ASSERT_EQ(WriteTga(*image, dir.file("own.tga"), true), 0);
    ASSERT_EQ(WriteTga(*image, dir.file("plain.TGA"), false), 0);
    WriteWithImageMagick(dir, rgba, 5, 3, "im.tga");
    WriteWithImageMagick(dir, rgba, 5, 3, "im-rle.tga", "-compress RLE");
    for (const std::string name : {"own.tga", "plain.TGA", "im.tga", "im-rle.tga"}) {
        PackedDibPtr block;
        std::string error;
        ASSERT_TRUE(Load(dir.file(name), block, &error));
        ASSERT_EQ(block->header().biWidth, 5) << name << ": " << error;
        // This ImageMagick stores rows top first under a bottom-left flag;
        // read by the flag, its reading with -auto-orient is the picture.
        Bytes expected = rgba;
        if (name.starts_with("im")) {
            ASSERT_TRUE(ReadWithImageMagick(dir.file(name), 5, 3, expected));
        }
        EXPECT_EQ(BlockRgba(*block), expected) << name;
    }
    Bytes cut = ReadFileBytes(dir.file("plain.TGA"));
    cut.resize(18 + 20);
    WriteFileBytes(dir.file("cut.tga"), cut);
    PackedDibPtr block;
    std::string error;
    Load(dir.file("cut.tga"), block, &error);
    EXPECT_EQ(block->header().biWidth, 0);
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST(CodecLoad, ColourMappedAndGreyTgaMatchAnotherReader) {
    TempDir dir;
    Bytes rgba = MixedRgba(6, 5);
    for (std::size_t i = 3; i < rgba.size(); i += 4)
        rgba[i] = 255;
    WriteWithImageMagick(dir, rgba, 6, 5, "mapped.tga", "-type Palette");
    WriteWithImageMagick(dir, rgba, 6, 5, "mapped-rle.tga", "-type Palette -compress RLE");
    WriteWithImageMagick(dir, rgba, 6, 5, "grey.tga", "-colorspace Gray");
    WriteWithImageMagick(dir, rgba, 6, 5, "grey-rle.tga", "-colorspace Gray -compress RLE");
    for (const std::string name : {"mapped.tga", "mapped-rle.tga", "grey.tga", "grey-rle.tga"}) {
        PackedDibPtr block;
        std::string error;
        ASSERT_TRUE(Load(dir.file(name), block, &error));
        ASSERT_EQ(block->header().biWidth, 6) << name << ": " << error;
        Bytes expected;
        ASSERT_TRUE(ReadWithImageMagick(dir.file(name), 6, 5, expected)) << name;
        EXPECT_EQ(BlockRgba(*block), expected) << name;
    }
}

TEST(CodecLoad, LowerCaseSvgIsAMetafileDrawnAt720x540) {
    TempDir dir;
    const std::string svg =
        "<svg xmlns='http://www.w3.org/2000/svg' width='20' height='10' viewBox='0 0 20 10'>"
        "<rect x='0' y='0' width='10' height='10' fill='#ff0000'/></svg>";
    WriteFileBytes(dir.file("a.svg"), Bytes(svg.begin(), svg.end()));
    WriteFileBytes(dir.file("b.SVG"), Bytes(svg.begin(), svg.end()));
    PackedDibPtr block;
    ASSERT_TRUE(Load(dir.file("a.svg"), block));
    ASSERT_EQ(block->header().biWidth, 720);
    ASSERT_EQ(block->header().biHeight, 540);
    const Bytes rgba = BlockRgba(*block);
    auto at = [&rgba](int x, int y) { return &rgba[4 * (y * 720 + x)]; };
    EXPECT_EQ(at(100, 270)[0], 255); // painted: opaque red
    EXPECT_EQ(at(100, 270)[3], 255);
    EXPECT_EQ(at(600, 270)[3], 0); // unpainted: transparent
    // Upper case is not the metafile spelling: drawn at its own size.
    ASSERT_TRUE(Load(dir.file("b.SVG"), block));
    EXPECT_EQ(block->header().biWidth, 20);
    EXPECT_EQ(block->header().biHeight, 10);
}

TEST(CodecLists, PatternsAreUpperCaseAndOutputsExcludeIconsAndVectors) {
    const auto& in = CodecDecoderPatterns();
    const auto& out = CodecEncoderPatterns();
    for (const char* p : {"*.PNG", "*.BMP", "*.JPG", "*.JPEG", "*.GIF", "*.TIF", "*.TGA", "*.SVG"})
        EXPECT_NE(std::find(in.begin(), in.end(), p), in.end()) << p;
    for (const auto& p : out) {
        EXPECT_EQ(p.rfind("*.", 0), 0u);
        for (const char* banned : {"ICO", "CUR", "ICNS", "SVG", "MF", "TGA"})
            EXPECT_EQ(p.find(banned), std::string::npos) << p;
    }
    for (const char* p : {"*.PNG", "*.BMP", "*.JPG", "*.JPEG", "*.GIF", "*.TIF", "*.TIFF"})
        EXPECT_NE(std::find(out.begin(), out.end(), p), out.end()) << p;
}

// Every offered output format is read back by ImageMagick at the right size;
// the lossless ones give back the exact opaque pixels.
TEST(CodecSave, EveryOfferedFormatRoundTripsThroughAnotherReader) {
    TempDir dir;
    Bytes rgba = MixedRgba(7, 5);
    for (std::size_t i = 3; i < rgba.size(); i += 4)
        rgba[i] = 255;
    const PackedDib block = BlockFromRgba(rgba, 7, 5);
    for (const auto& pattern : CodecEncoderPatterns()) {
        const std::string path = dir.file("out" + pattern.substr(1));
        ASSERT_EQ(SaveCodecImage(path, block), 0) << pattern;
        Bytes back;
        ASSERT_TRUE(ReadWithImageMagick(path, 7, 5, back)) << pattern;
        const bool lossy = pattern == "*.JPG" || pattern == "*.JPEG" || pattern == "*.WEBP";
        if (!lossy) {
            EXPECT_EQ(back, rgba) << pattern;
        }
    }
}

TEST(CodecSave, EncoderFollowsExtensionIgnoringCaseAndUnknownWritesNothing) {
    TempDir dir;
    const PackedDib block = BlockFromRgba(MixedRgba(4, 4), 4, 4);
    for (const char* name : {"a.jpeg", "b.JPG", "c.Jpg"}) {
        ASSERT_EQ(SaveCodecImage(dir.file(name), block), 0) << name;
        const Bytes bytes = ReadFileBytes(dir.file(name));
        ASSERT_GE(bytes.size(), 3u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xD8);
    }
    EXPECT_EQ(SaveCodecImage(dir.file("d.Tga"), block), kCodecNoEncoder);
    EXPECT_EQ(SaveCodecImage(dir.file("e.png.xyz"), block), kCodecNoEncoder);
    EXPECT_EQ(SaveCodecImage(dir.file("dir.png/noext"), block), kCodecNoEncoder);
    EXPECT_FALSE(std::filesystem::exists(dir.file("d.Tga")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("e.png.xyz")));
}

TEST(CodecSave, PngAndTiffKeepTheColourOfTransparentPixels) {
    TempDir dir;
    const Bytes rgba = MixedRgba(6, 3);
    const PackedDib block = BlockFromRgba(rgba, 6, 3);
    for (const char* name : {"a.PNG", "a.TIF", "a.tiff"}) {
        ASSERT_EQ(SaveCodecImage(dir.file(name), block), 0);
        Bytes back;
        ASSERT_TRUE(ReadWithImageMagick(dir.file(name), 6, 3, back)) << name;
        EXPECT_EQ(back, rgba) << name;
        PackedDibPtr reread;
        ASSERT_TRUE(Load(dir.file(name), reread));
        EXPECT_EQ(BlockRgba(*reread), rgba) << name;
    }
}

TEST(CodecSave, GifKeepsExactColoursUpTo256AndReducesLargerPictures) {
    TempDir dir;
    // 16 x 16 pixels, all different: exactly 256 colours.
    Bytes rgba(16 * 16 * 4);
    for (int i = 0; i < 256; ++i) {
        rgba[4 * i + 0] = static_cast<std::uint8_t>(i);
        rgba[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
        rgba[4 * i + 2] = static_cast<std::uint8_t>((i * 7) & 255);
        rgba[4 * i + 3] = 255;
    }
    ASSERT_EQ(SaveCodecImage(dir.file("exact.GIF"), BlockFromRgba(rgba, 16, 16)), 0);
    Bytes back;
    ASSERT_TRUE(ReadWithImageMagick(dir.file("exact.GIF"), 16, 16, back));
    EXPECT_EQ(back, rgba);

    // 64 x 64 with 4096 colours: a valid GIF whose colours stay close.
    Bytes many(64 * 64 * 4);
    for (int i = 0; i < 64 * 64; ++i) {
        many[4 * i + 0] = static_cast<std::uint8_t>((i % 64) * 4);
        many[4 * i + 1] = static_cast<std::uint8_t>((i / 64) * 4);
        many[4 * i + 2] = 128;
        many[4 * i + 3] = 255;
    }
    ASSERT_EQ(SaveCodecImage(dir.file("many.gif"), BlockFromRgba(many, 64, 64)), 0);
    ASSERT_TRUE(ReadWithImageMagick(dir.file("many.gif"), 64, 64, back));
    int worst = 0;
    for (std::size_t i = 0; i < back.size(); ++i)
        worst = std::max(worst, std::abs(int(back[i]) - int(many[i])));
    EXPECT_LE(worst, 24);
}

TEST(SaveDispatch, WriterFollowsTheCaseSensitiveTextsAnywhereAfterTheFirstCharacter) {
    EXPECT_EQ(ChooseWriter("/out/a.TGA"), SaveWriter::Tga);
    EXPECT_EQ(ChooseWriter("/out/a.tga"), SaveWriter::Tga);
    EXPECT_EQ(ChooseWriter("/out/a.Tga"), SaveWriter::Codec);
    EXPECT_EQ(ChooseWriter("/out/a.PSD"), SaveWriter::Psd);
    EXPECT_EQ(ChooseWriter("/out/a.Psd"), SaveWriter::Codec);
    EXPECT_EQ(ChooseWriter("/x.psd/a.PNG"), SaveWriter::Psd); // folder names count
    EXPECT_EQ(ChooseWriter("/x.tga/a.PNG"), SaveWriter::Tga);
    EXPECT_EQ(ChooseWriter(".tga"), SaveWriter::Codec); // only at position 0
}

TEST(SaveDispatch, EnsureDirectoryMakesEveryPrefixIncludingAbsoluteOnes) {
    TempDir dir;
    const std::string deep = dir.file("out/sub/deeper");
    ASSERT_EQ(deep.front(), '/');
    EXPECT_TRUE(EnsureDirectory(deep + "/"));
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_TRUE(EnsureDirectory(deep)); // already there
    EXPECT_TRUE(EnsureDirectory(""));
    WriteFileBytes(dir.file("file"), Bytes{1});
    EXPECT_FALSE(EnsureDirectory(dir.file("file/sub")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("file/sub")));
}

TEST(SaveDispatch, CreatesFoldersAndReportsAWriteThatCannotHappen) {
    TempDir dir;
    PackedDib source = BlockFromRgba(MixedRgba(4, 4), 4, 4);
    auto image = ConvertDibToImage(source);
    ASSERT_TRUE(image);
    PackedDibPtr block;
    PsdState psd;
    EXPECT_EQ(SaveImageFile(*image, dir.file("out/sub/a.TGA"), block, psd), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("out/sub/a.TGA")));
    EXPECT_EQ(SaveImageFile(*image, dir.file("out/b.PNG"), block, psd), 0);
    EXPECT_EQ(SaveImageFile(*image, dir.file("out/c.Tga"), block, psd), kCodecNoEncoder);
    WriteFileBytes(dir.file("blocker"), Bytes{1});
    EXPECT_EQ(SaveImageFile(*image, dir.file("blocker/a.TGA"), block, psd), kSaveNoFolder);
    EXPECT_EQ(ReadFileBytes(dir.file("blocker")), Bytes{1});
}

TEST(SaveDispatch, FailedEncodeLeavesTheOldFileInPlace) {
    TempDir dir;
    const Bytes old{'o', 'l', 'd'};
    WriteFileBytes(dir.file("a.gif"), old);
    // Wider than a GIF can be: the encoder refuses, the old file stays.
    PackedDib wide;
    ASSERT_TRUE(PrepareDib32(wide, 70000, 1));
    std::fill(wide.pixels(), wide.pixels() + 70000 * 4, 0x7F);
    EXPECT_EQ(SaveCodecImage(dir.file("a.gif"), wide), kCodecEncodeFailed);
    EXPECT_EQ(ReadFileBytes(dir.file("a.gif")), old);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename(), "a.gif"); // no temporary file left behind
}

} // namespace
} // namespace pelo
