#include "formats/Codec.h"

#include "formats/SaveDispatch.h"
#include "formats/TgaWriter.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tiffio.h>
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

// Lower-case ".svg" names are metafiles, as the pipeline decides.
bool Load(const std::string& path, PackedDibPtr& block, std::string* error = nullptr) {
    const auto drawing = path.ends_with(".svg") ? CodecDrawing::Metafile : CodecDrawing::Raster;
    return LoadCodecImage(path, block, drawing, error);
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

// Loads every shorter copy of a complete file, from 0 bytes to one byte
// short: each must be refused, and once the signature is whole, for being
// cut short. Stops at the first cut that gets through.
void ExpectEveryCutRefused(const TempDir& dir, const std::string& path, const std::string& kind,
                           std::size_t signatureBytes) {
    const Bytes whole = ReadFileBytes(path);
    ASSERT_GT(whole.size(), signatureBytes) << path;
    const std::string cut = dir.file("cut" + std::filesystem::path(path).extension().string());
    for (std::size_t n = 0; n < whole.size(); ++n) {
        WriteFileBytes(cut, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
        PackedDibPtr block;
        std::string error;
        Load(cut, block, &error);
        ASSERT_EQ(block->header().biWidth, 0) << path << " cut to " << n << " bytes was accepted";
        ASSERT_FALSE(error.empty()) << path << " cut to " << n;
        if (n >= signatureBytes) {
            ASSERT_EQ(error.rfind("truncated " + kind, 0), 0u)
                << path << " cut to " << n << ": " << error;
        }
    }
}

void Put16(Bytes& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A BMP with a basic 40-byte info header, written byte by byte.
// tables: the colour table, or the three masks of 16 or 32 bits.
Bytes MakeBmp(int width, int height, unsigned bits, unsigned compression, const Bytes& tables,
              const Bytes& pixels) {
    const auto offBits = static_cast<std::uint32_t>(14 + 40 + tables.size());
    const auto colours = static_cast<std::uint32_t>(bits <= 8 ? tables.size() / 4 : 0);
    Bytes out{'B', 'M'};
    Put32(out, offBits + static_cast<std::uint32_t>(pixels.size()));
    Put32(out, 0);
    Put32(out, offBits);
    for (const std::uint32_t v :
         {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
        Put32(out, v);
    Put16(out, 1);
    Put16(out, bits);
    for (const std::uint32_t v :
         {compression, static_cast<std::uint32_t>(pixels.size()), 2835u, 2835u, colours, 0u})
        Put32(out, v);
    out.insert(out.end(), tables.begin(), tables.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// Sixteen blue, green, red, 0 entries, and the picture an index map makes
// of them (top row first).
Bytes SixteenColours() {
    Bytes table;
    for (int i = 0; i < 16; ++i)
        table.insert(table.end(),
                     {static_cast<std::uint8_t>(i * 8), static_cast<std::uint8_t>(255 - i * 16),
                      static_cast<std::uint8_t>(i * 16), 0});
    return table;
}
Bytes MappedRgba(const Bytes& table, const std::vector<int>& indices) {
    Bytes rgba;
    for (const int i : indices)
        rgba.insert(rgba.end(), {table[4 * i + 2], table[4 * i + 1], table[4 * i], 255});
    return rgba;
}

// The largest difference of two channel bytes (255 when the sizes differ).
int WorstDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 255;
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

// Every depth and packing Qt's BMP decoder reads, from ImageMagick and from
// bytes written here: the whole file decodes, every cut of it is refused.
TEST(CodecLoad, EveryCutOfABmpIsRefusedAndTheWholeFileDecodes) {
    TempDir dir;
    Bytes rgba = MixedRgba(13, 7);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        if (i % 4 != 3) rgba[i] = static_cast<std::uint8_t>(rgba[i] * 7 + i);
    const std::string source = WriteWithImageMagick(dir, rgba, 13, 7, "source.png");
    struct Made {
        const char* name;
        const char* options;
        const char* format;
        unsigned infoSize, bits, compression;
    } made[] = {
        {"1.bmp", "-alpha off -type Bilevel", "BMP3", 40, 1, 0},
        {"4.bmp", "-alpha off -colors 12 -type Palette -compress None", "BMP3", 40, 4, 0},
        {"8.bmp", "-alpha off -colors 200 -type Palette -compress None", "BMP3", 40, 8, 0},
        {"8rle.bmp", "-alpha off -colors 40 -type Palette -compress RLE", "BMP3", 40, 8, 1},
        {"16.bmp", "-alpha off -define bmp:subtype=RGB565", "BMP", 124, 16, 3},
        {"24.bmp", "-alpha off -type TrueColor", "BMP3", 40, 24, 0},
        {"32v5.bmp", "", "BMP", 124, 32, 3},
        {"24core.bmp", "-alpha off -type TrueColor", "BMP2", 12, 24, 0},
        {"8core.bmp", "-alpha off -colors 200 -type Palette -compress None", "BMP2", 12, 8, 0},
    };
    for (const Made& m : made) {
        const std::string path = dir.file(m.name);
        const std::string cmd =
            "/usr/bin/convert '" + source + "' " + m.options + " " + m.format + ":'" + path + "'";
        ASSERT_EQ(RunCommand(cmd), 0) << cmd;
        const Bytes bytes = ReadFileBytes(path);
        ASSERT_GE(bytes.size(), 34u) << m.name;
        ASSERT_EQ(bytes[14], m.infoSize) << m.name; // the layout meant is the one made
        ASSERT_EQ(bytes[m.infoSize == 12 ? 24 : 28], m.bits) << m.name;
        if (m.infoSize > 12) {
            ASSERT_EQ(bytes[30], m.compression) << m.name;
        }
        PackedDibPtr block;
        std::string error;
        Load(path, block, &error);
        ASSERT_EQ(block->header().biWidth, 13) << m.name << ": " << error;
        Bytes expected;
        ASSERT_TRUE(ReadWithImageMagick(path, 13, 7, expected)) << m.name;
        EXPECT_LE(WorstDifference(BlockRgba(*block), expected), m.bits == 16 ? 7 : 0) << m.name;
        ExpectEveryCutRefused(dir, path, "BMP", 2);
    }

    // Layouts ImageMagick does not write. RLE4 rows, bottom first: a run;
    // an absolute run of 5 (3 bytes and a pad byte) and a run; an absolute
    // run of 3 (2 bytes), a run and the end of the picture.
    const Bytes table = SixteenColours();
    const Bytes rle4{0x06, 0x12, 0x00, 0x00,                                     //
                     0x00, 0x05, 0x34, 0x56, 0x70, 0x00, 0x01, 0xF0, 0x00, 0x00, //
                     0x00, 0x03, 0x9A, 0xB0, 0x03, 0xCD, 0x00, 0x01};
    // RLE8: an absolute run of 3 with its pad byte, then a run.
    const Bytes rle8{0x00, 0x03, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00, 0x03, 0x04, 0x00, 0x01};
    // 24 bits top row first (negative height), 32 bits without masks: rows
    // of 3 pixels padded to 12 bytes.
    const Bytes pixels24{1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0,
                         10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
    const Bytes pixels32{1,  2,  3,  0, 4,  5,  6,  0, 7,  8,  9,  0,
                         10, 11, 12, 0, 13, 14, 15, 0, 16, 17, 18, 0};
    const Bytes top24{3,  2,  1,  255, 6,  5,  4,  255, 9,  8,  7,  255,
                      12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255};
    const Bytes bottom32{12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255,
                         3,  2,  1,  255, 6,  5,  4,  255, 9,  8,  7,  255};
    // 16 bits, bottom row first: 5-6-5 masks after the header, and the
    // 5-5-5 layout meant without masks.
    const Bytes masks565{0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    const Bytes pixels565{0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0,
                          0xFF, 0xFF, 0x00, 0x00, 0x10, 0x84, 0, 0};
    const Bytes pixels555{0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0,
                          0xFF, 0x7F, 0x00, 0x00, 0x10, 0x42, 0, 0};
    const Bytes top16{255, 255, 255, 255, 0, 0,   0, 255, 132, 130, 132, 255,
                      255, 0,   0,   255, 0, 255, 0, 255, 0,   0,   255, 255};
    Bytes top555 = top16;
    top555[9] = 132; // the middle channel has 5 bits as well
    struct Written {
        const char* name;
        Bytes file;
        int width, height;
        Bytes expected;
    } written[] = {
        {"rle4.bmp", MakeBmp(6, 3, 4, 2, table, rle4), 6, 3,
         MappedRgba(table, {9, 10, 11, 12, 13, 12, 3, 4, 5, 6, 7, 15, 1, 2, 1, 2, 1, 2})},
        {"rle8.bmp", MakeBmp(3, 2, 8, 1, table, rle8), 3, 2, MappedRgba(table, {4, 4, 4, 1, 2, 3})},
        {"565.bmp", MakeBmp(3, 2, 16, 3, masks565, pixels565), 3, 2, top16},
        {"555.bmp", MakeBmp(3, 2, 16, 0, {}, pixels555), 3, 2, top555},
        {"topdown24.bmp", MakeBmp(3, -2, 24, 0, {}, pixels24), 3, 2, top24},
        {"32.bmp", MakeBmp(3, 2, 32, 0, {}, pixels32), 3, 2, bottom32},
    };
    for (const Written& w : written) {
        const std::string path = dir.file(w.name);
        WriteFileBytes(path, w.file);
        PackedDibPtr block;
        std::string error;
        Load(path, block, &error);
        ASSERT_EQ(block->header().biWidth, w.width) << w.name << ": " << error;
        ASSERT_EQ(block->header().biHeight, w.height) << w.name;
        // Qt versions differ in how they widen 5- and 6-bit channels.
        EXPECT_LE(WorstDifference(BlockRgba(*block), w.expected), w.file[28] == 16 ? 7 : 0)
            << w.name;
        ExpectEveryCutRefused(dir, path, "BMP", 2);
    }
}

// GIF87a and GIF89a, with global or local colour tables, extensions and a
// second frame: the whole file decodes, every cut of it is refused, and so
// is a file whose blocks hold no picture.
TEST(CodecLoad, EveryCutOfAGifIsRefusedAndTheWholeFileDecodes) {
    TempDir dir;
    Bytes rgba = MixedRgba(13, 7);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = i % 4 == 3 ? 255 : static_cast<std::uint8_t>(rgba[i] * 7 + i);
    const std::string still = WriteWithImageMagick(dir, rgba, 13, 7, "still.gif", "-colors 16");
    const std::string source = WriteWithImageMagick(dir, rgba, 13, 7, "source.png");
    const std::string frames = dir.file("frames.gif");
    const std::string cmd = "/usr/bin/convert \\( '" + source + "' -colors 8 \\) \\( '" + source +
                            "' -negate -colors 4 \\) -loop 0 '" + frames + "'";
    ASSERT_EQ(RunCommand(cmd), 0) << cmd;
    for (const std::string& path : {still, frames}) {
        PackedDibPtr block;
        std::string error;
        Load(path, block, &error);
        ASSERT_EQ(block->header().biWidth, 13) << path << ": " << error;
        Bytes expected;
        ASSERT_TRUE(ReadWithImageMagick(path + "[0]", 13, 7, expected)) << path;
        EXPECT_EQ(BlockRgba(*block), expected) << path;
        ExpectEveryCutRefused(dir, path, "GIF", 6);
    }

    // 2 x 1 GIF87a without a global table; the frame's own table of two
    // entries, LZW code size 2: clear, 1, 0, end.
    Bytes local{'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0, 0x00, 0, 0};
    local.insert(local.end(), {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0x80, 10, 20, 30, 40, 50, 60});
    local.insert(local.end(), {2, 2, 0x0C, 0x0A, 0, 0x3B});
    WriteFileBytes(dir.file("local.gif"), local);
    PackedDibPtr block;
    std::string error;
    Load(dir.file("local.gif"), block, &error);
    ASSERT_EQ(block->header().biWidth, 2) << error;
    EXPECT_EQ(BlockRgba(*block), (Bytes{40, 50, 60, 255, 10, 20, 30, 255}));
    ExpectEveryCutRefused(dir, dir.file("local.gif"), "GIF", 6);

    Bytes empty{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
    empty.insert(empty.end(), {0x21, 0xFE, 3, 'a', 'b', 'c', 0, 0x3B}); // a comment only
    WriteFileBytes(dir.file("empty.gif"), empty);
    Load(dir.file("empty.gif"), block, &error);
    EXPECT_EQ(block->header().biWidth, 0);
    EXPECT_EQ(error, "GIF holds no picture");
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

// A 4 x 4 uncompressed TIFF, directory first, one strip after it, cut to
// stripBytes of its pixel bytes.
Bytes TinyTiff(unsigned bits, unsigned samples, unsigned photometric, std::size_t stripBytes) {
    const std::uint32_t full = 4 * 4 * samples * bits / 8;
    constexpr unsigned kTags = 9;
    constexpr std::uint32_t kStrip = 8 + 2 + kTags * 12 + 4;
    Bytes out{'I', 'I', 42, 0};
    Put32(out, 8);
    Put16(out, kTags);
    auto tag = [&out](unsigned id, unsigned type, std::uint32_t value) {
        Put16(out, id);
        Put16(out, type);
        Put32(out, 1);
        if (type == 3) {
            Put16(out, value);
            Put16(out, 0);
        } else {
            Put32(out, value);
        }
    };
    tag(256, 4, 4);           // ImageWidth
    tag(257, 4, 4);           // ImageLength
    tag(258, 3, bits);        // BitsPerSample (one value serves every sample)
    tag(259, 3, 1);           // Compression: none
    tag(262, 3, photometric); // Photometric
    tag(273, 4, kStrip);      // StripOffsets
    tag(277, 3, samples);     // SamplesPerPixel
    tag(278, 4, 4);           // RowsPerStrip
    tag(279, 4, full);        // StripByteCounts
    Put32(out, 0);
    for (std::size_t i = 0; i < std::min<std::size_t>(stripBytes, full); ++i)
        out.push_back(static_cast<std::uint8_t>(i * 37));
    return out;
}

// libtiff's own handlers print its complaints to stderr. Neither our TIFF
// decoder (8-bit RGB) nor Qt's, which takes the layouts ours leaves (16-bit
// grey), may let one through; ours makes it the reason.
TEST(CodecLoad, TiffComplaintsNeverReachStderr) {
    TempDir dir;
    WriteFileBytes(dir.file("rgb8.tif"), TinyTiff(8, 3, 2, 10));
    WriteFileBytes(dir.file("grey16.tif"), TinyTiff(16, 1, 1, 10));
    WriteFileBytes(dir.file("whole16.tif"), TinyTiff(16, 1, 1, 32));
    testing::internal::CaptureStderr();
    PackedDibPtr block;
    std::string rgbError, greyError, wholeError;
    Load(dir.file("rgb8.tif"), block, &rgbError);
    const int rgbWidth = block->header().biWidth;
    Load(dir.file("grey16.tif"), block, &greyError);
    const int greyWidth = block->header().biWidth;
    Load(dir.file("whole16.tif"), block, &wholeError);
    const int wholeWidth = block->header().biWidth;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(rgbWidth, 0);
    EXPECT_NE(rgbError.find("TIFF: Read error"), std::string::npos) << rgbError;
    EXPECT_EQ(greyWidth, 0);
    EXPECT_FALSE(greyError.empty());
    EXPECT_EQ(wholeWidth, 4) << wholeError; // the file itself is sound
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

TEST(CodecLoad, AnXbmCutBeforeItsLastRowIsRefused) {
    TempDir dir;
    const std::string whole = "#define t_width 8\n#define t_height 2\n"
                              "static char t_bits[] = {\n  0x01, 0x80 };\n";
    const std::string cut = whole.substr(0, whole.find("0x80"));
    WriteFileBytes(dir.file("whole.xbm"), Bytes(whole.begin(), whole.end()));
    WriteFileBytes(dir.file("cut.xbm"), Bytes(cut.begin(), cut.end()));
    PackedDibPtr block;
    std::string error;
    ASSERT_TRUE(Load(dir.file("whole.xbm"), block, &error));
    EXPECT_EQ(block->header().biWidth, 8) << error;
    ASSERT_TRUE(Load(dir.file("cut.xbm"), block, &error));
    EXPECT_EQ(block->header().biWidth, 0);
    EXPECT_EQ(error, "truncated XBM: 1 of 2 bytes");
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

// A picture taller than one strip, with colour under every alpha value
// including 0, read back by libtiff itself and by ImageMagick.
TEST(CodecSave, TiffDeclaresUnassociatedAlphaAndKeepsEveryByteAcrossStrips) {
    TempDir dir;
    const int w = 300, h = 1000;
    Bytes rgba(static_cast<std::size_t>(w) * h * 4);
    for (std::size_t i = 0; i < rgba.size() / 4; ++i) {
        rgba[4 * i + 0] = static_cast<std::uint8_t>(i * 7 + 1);
        rgba[4 * i + 1] = static_cast<std::uint8_t>((i >> 8) * 3 + 2);
        rgba[4 * i + 2] = static_cast<std::uint8_t>((i * 13) >> 3);
        rgba[4 * i + 3] = i % 5 == 0 ? 0 : static_cast<std::uint8_t>(i * 11);
    }
    const std::string path = dir.file("strips.tif");
    ASSERT_EQ(SaveCodecImage(path, BlockFromRgba(rgba, w, h)), 0);
    auto firstDifference = [&rgba](const Bytes& back) {
        return back.size() == rgba.size()
                   ? std::mismatch(back.begin(), back.end(), rgba.begin()).first - back.begin()
                   : -1;
    };

    struct Close {
        void operator()(TIFF* t) const { TIFFClose(t); }
    };
    const std::unique_ptr<TIFF, Close> tiff(TIFFOpen(path.c_str(), "r"));
    ASSERT_TRUE(tiff);
    TIFF* t = tiff.get();
    std::uint16_t photometric = 0, samples = 0, bits = 0, planar = 0, orientation = 0;
    std::uint16_t compression = 0, extraCount = 0;
    std::uint16_t* extra = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_PLANARCONFIG, &planar));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_ORIENTATION, &orientation));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COMPRESSION, &compression));
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra));
    EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(samples, 4);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(orientation, ORIENTATION_TOPLEFT);
    EXPECT_EQ(compression, COMPRESSION_ADOBE_DEFLATE);
    ASSERT_EQ(extraCount, 1);
    EXPECT_EQ(extra[0], EXTRASAMPLE_UNASSALPHA);
    EXPECT_GT(TIFFNumberOfStrips(t), 1u);
    ASSERT_EQ(TIFFScanlineSize(t), 4 * w);
    Bytes back(rgba.size());
    for (int y = 0; y < h; ++y)
        ASSERT_EQ(TIFFReadScanline(t, &back[4 * static_cast<std::size_t>(w) * y], y, 0), 1) << y;
    EXPECT_EQ(firstDifference(back), static_cast<std::ptrdiff_t>(rgba.size()));

    ASSERT_TRUE(ReadWithImageMagick(path, w, h, back));
    EXPECT_EQ(firstDifference(back), static_cast<std::ptrdiff_t>(rgba.size()));
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
    EXPECT_EQ(SaveImageFile(*image, dir.file("out/sub/a.TGA"), SaveWriter::Tga, block, psd), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("out/sub/a.TGA")));
    EXPECT_EQ(SaveImageFile(*image, dir.file("out/b.PNG"), SaveWriter::Codec, block, psd), 0);
    EXPECT_EQ(SaveImageFile(*image, dir.file("out/c.Tga"), SaveWriter::Codec, block, psd),
              kCodecNoEncoder);
    WriteFileBytes(dir.file("blocker"), Bytes{1});
    EXPECT_EQ(SaveImageFile(*image, dir.file("blocker/a.TGA"), SaveWriter::Tga, block, psd),
              kSaveNoFolder);
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
