#include "formats/PngWriter.h"

#include "base/AtomicFile.h"
#include "formats/Codec.h"
#include "samples/SpriteArt.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <png.h>
#include <set>
#include <sys/resource.h>
#include <vector>

namespace pelo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;

// The picture as straight RGBA, top row first.
Bytes Rgba(const ImageBuffer& image) {
    Bytes out;
    for (std::size_t i = 0; i < image.pixelCount(); ++i) {
        const std::uint8_t* p = image.imageData + 4 * i;
        out.insert(out.end(), {p[2], p[1], p[0], p[3]});
    }
    return out;
}

// Decoded by libpng's simplified reader into 8-bit RGBA.
Bytes ReadWithLibpng(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGBA;
    Bytes out(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
    return out;
}

// Decoded by the codec (Qt's reader).
Bytes ReadWithCodec(const std::string& path) {
    PackedDibPtr block;
    if (!LoadCodecImage(path, block)) return {};
    ImagePtr image = ConvertDibToImage(*block);
    return image ? Rgba(*image) : Bytes{};
}

struct Header {
    int bitDepth;
    int colourType;
};
Header ReadHeader(const std::string& path) {
    const Bytes f = ReadFileBytes(path);
    return f.size() > 25 ? Header{f[24], f[25]} : Header{-1, -1};
}

void Set(ImageBuffer& image, int x, int y, std::uint32_t argb) {
    std::uint8_t* p = image.pixel(x, y);
    p[0] = static_cast<std::uint8_t>(argb);
    p[1] = static_cast<std::uint8_t>(argb >> 8);
    p[2] = static_cast<std::uint8_t>(argb >> 16);
    p[3] = static_cast<std::uint8_t>(argb >> 24);
}

// width x height, pixel i of colours.size() distinct ones repeating.
ImagePtr Cycling(int width, int height, const std::vector<std::uint32_t>& colours) {
    ImagePtr image = AllocIpl(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            Set(*image, x, y, colours[static_cast<std::size_t>(y * width + x) % colours.size()]);
    return image;
}

std::vector<std::uint32_t> Colours(int count, std::uint32_t (*make)(int)) {
    std::vector<std::uint32_t> out;
    for (int i = 0; i < count; ++i)
        out.push_back(make(i));
    return out;
}

// A palette sprite with translucent edges and transparent pixels of several
// hidden colours, both ways: the smallest type is a palette, the forced one
// RGBA, and every reader gets the same pixels back from both.
TEST(PngWriter, PaletteSpriteDecodesToTheSamePixelsEitherWay) {
    test::TempDir dir;
    ImagePtr sprite = samples::MakeSpriteSheet(96, 64, 7);
    Set(*sprite, 0, 0, 0x00FF0000);
    Set(*sprite, 1, 0, 0x0000FF00);
    Set(*sprite, 2, 0, 0x80123456);
    Set(*sprite, 3, 0, 0x01FFFFFF);
    for (int x = 0; x < 40; ++x) // a soft edge: 40 more translucent colours
        Set(*sprite, x, 1, static_cast<std::uint32_t>(x * 6 + 10) << 24 | 0x203040);
    std::set<std::uint32_t> distinct;
    for (std::size_t i = 0; i < sprite->pixelCount(); ++i) {
        std::uint32_t v;
        std::memcpy(&v, sprite->imageData + 4 * i, 4);
        distinct.insert(v);
    }
    ASSERT_GT(distinct.size(), 16u);
    ASSERT_LE(distinct.size(), 256u);

    const Bytes want = Rgba(*sprite);
    const std::string small = dir.file("small.png"), rgba = dir.file("rgba.png");
    ASSERT_EQ(WritePng(RowsOf(*sprite), small, PngType::Smallest), 0);
    ASSERT_EQ(WritePng(RowsOf(*sprite), rgba, PngType::Rgba), 0);
    EXPECT_EQ(ReadHeader(small).colourType, 3);
    EXPECT_EQ(ReadHeader(small).bitDepth, 8);
    EXPECT_EQ(ReadHeader(rgba).colourType, 6);
    EXPECT_LT(ReadFileBytes(small).size(), ReadFileBytes(rgba).size());
    for (const std::string& path : {small, rgba}) {
        EXPECT_EQ(ReadWithLibpng(path), want) << path;
        EXPECT_EQ(ReadWithCodec(path), want) << path;
        if (std::filesystem::exists("/usr/bin/convert")) {
            Bytes back;
            ASSERT_TRUE(test::ReadWithImageMagick(path, 96, 64, back)) << path;
            EXPECT_EQ(back, want) << path;
        }
    }
}

// Odd widths so that packed indices end part-way through a byte.
TEST(PngWriter, EachPictureGetsTheSmallestTypeThatHoldsItExactly) {
    test::TempDir dir;
    const auto grey = [](int i) { return 0xFF000000u | 0x010101u * static_cast<unsigned>(i); };
    const auto greyAlpha = [](int i) {
        return static_cast<std::uint32_t>(i % 200) << 24 | 0x010101u * static_cast<unsigned>(i / 2);
    };
    const auto rgb = [](int i) { return 0xFF000000u | static_cast<std::uint32_t>(i * 977); };
    const auto rgba = [](int i) { return 0x7F000000u ^ static_cast<std::uint32_t>(i * 977); };
    const struct Case {
        std::vector<std::uint32_t> colours;
        int colourType, bitDepth;
    } cases[] = {
        {Colours(2, rgba), 3, 1},        {Colours(3, rgba), 3, 2},   {Colours(16, rgb), 3, 4},
        {Colours(17, rgba), 3, 8},       {Colours(256, rgba), 3, 8}, {Colours(256, grey), 0, 8},
        {Colours(300, greyAlpha), 4, 8}, {Colours(257, rgb), 2, 8},  {Colours(257, rgba), 6, 8},
    };
    int n = 0;
    for (const Case& c : cases) {
        const ImagePtr image = Cycling(37, 23, c.colours);
        const std::string path = dir.file(std::to_string(n++) + ".png");
        ASSERT_EQ(WritePng(RowsOf(*image), path, PngType::Smallest), 0);
        const Header h = ReadHeader(path);
        EXPECT_EQ(h.colourType, c.colourType) << path;
        EXPECT_EQ(h.bitDepth, c.bitDepth) << path;
        EXPECT_EQ(ReadWithLibpng(path), Rgba(*image)) << path;
    }
}

// The file size limit makes the write fail part-way (EFBIG).
TEST(PngWriter, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    test::TempDir dir;
    const std::string path = dir.file("keep.png");
    test::WriteFileBytes(path, Bytes(100, 0x42));
    ImagePtr noise = AllocIpl(256, 256);
    std::uint32_t state = 1;
    for (std::size_t i = 0; i < noise->imageSize; ++i) {
        state = state * 1664525u + 1013904223u;
        noise->imageData[i] = static_cast<std::uint8_t>(state >> 24);
    }
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string reason;
    const int rc = WritePng(RowsOf(*noise), path, PngType::Smallest, &reason);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(rc, kFileOtherError);
    EXPECT_EQ(reason, "cannot write the output file: " + std::generic_category().message(EFBIG));
    EXPECT_EQ(ReadFileBytes(path), Bytes(100, 0x42));
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"keep.png"});
}

} // namespace
} // namespace pelo
