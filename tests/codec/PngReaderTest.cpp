// PNG decoded straight into the picture: the stored bytes exactly, for
// every layout the reader takes, and nothing at all for damaged data.
#include "formats/Codec.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <QImage>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace pelo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TempDir;

constexpr int kWidth = 37, kHeight = 23; // odd sizes leave Adam7 passes partial

// Every pixel different; some transparent with colour, some half transparent.
Bytes Pattern(bool opaque) {
    Bytes rgba(std::size_t{kWidth} * kHeight * 4);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &rgba[4 * (std::size_t{kWidth} * y + x)];
            p[0] = static_cast<std::uint8_t>(x * 7 + y);
            p[1] = static_cast<std::uint8_t>(y * 11);
            p[2] = static_cast<std::uint8_t>(255 - x * 3);
            p[3] = opaque ? 255 : static_cast<std::uint8_t>((x * 13 + y * 5) % 256);
        }
    return rgba;
}

std::string WritePng(const TempDir& dir, const Bytes& rgba, const std::string& name,
                     const std::string& options) {
    const std::string raw = dir.file("in.rgba"), out = dir.file(name);
    test::WriteFileBytes(raw, rgba);
    const std::string command = "/usr/bin/convert -size " + std::to_string(kWidth) + "x" +
                                std::to_string(kHeight) + " -depth 8 RGBA:'" + raw + "' " +
                                options + "'" + out + "'";
    EXPECT_EQ(test::RunCommand(command), 0) << command;
    return out;
}

Bytes PictureRgba(const ImageBuffer& picture) {
    Bytes rgba(picture.imageSize);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = picture.imageData[i + 2];
        rgba[i + 1] = picture.imageData[i + 1];
        rgba[i + 2] = picture.imageData[i];
        rgba[i + 3] = picture.imageData[i + 3];
    }
    return rgba;
}

TEST(PngReader, EightBitLayoutsArriveExactlyInThePicture) {
    TempDir dir;
    const struct {
        const char* name;
        const char* options;
        bool opaque;
    } layouts[] = {{"rgba.png", "PNG32:", false},
                   {"rgba-interlaced.png", "-interlace PNG PNG32:", false},
                   {"rgb.png", "PNG24:", true},
                   {"rgb-interlaced.png", "-interlace PNG PNG24:", true}};
    for (const auto& layout : layouts) {
        const Bytes rgba = Pattern(layout.opaque);
        const std::string path = WritePng(dir, rgba, layout.name, layout.options);
        std::string error;
        const ImagePtr picture = LoadCodecPicture(path, CodecDrawing::Raster, &error);
        ASSERT_TRUE(picture) << layout.name << ": " << error;
        ASSERT_EQ(picture->width, kWidth);
        ASSERT_EQ(picture->height, kHeight);
        EXPECT_EQ(PictureRgba(*picture), rgba) << layout.name;
    }
}

TEST(PngReader, PaletteAndGreyTypesGiveQtsPixels) {
    TempDir dir;
    const struct {
        const char* name;
        const char* options;
        bool opaque;
    } types[] = {{"palette-alpha.png", "-colors 40 PNG8:", false},
                 {"palette.png", "-colors 7 PNG8:", true},
                 {"grey1.png", "-colorspace Gray -depth 1 PNG:", true},
                 {"grey4-interlaced.png", "-interlace PNG -colorspace Gray -depth 4 PNG:", true},
                 {"grey.png", "-colorspace Gray PNG:", true},
                 {"grey-alpha.png", "-colorspace Gray -type GrayscaleAlpha PNG:", false},
                 {"rgb-key.png", "-transparent 'rgb(0,0,255)' PNG24:", true}};
    for (const auto& type : types) {
        const std::string path = WritePng(dir, Pattern(type.opaque), type.name, type.options);
        const QImage qt =
            QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(qt.isNull()) << type.name;
        std::string error;
        const ImagePtr picture = LoadCodecPicture(path, CodecDrawing::Raster, &error);
        ASSERT_TRUE(picture) << type.name << ": " << error;
        for (int y = 0; y < kHeight; ++y)
            ASSERT_EQ(std::memcmp(picture->pixel(0, y), qt.constScanLine(y), 4 * kWidth), 0)
                << type.name << " row " << y;
    }
}

TEST(PngReader, DamagedPixelDataGivesNoPicture) {
    TempDir dir;
    Bytes bytes = test::ReadFileBytes(WritePng(dir, Pattern(false), "whole.png", "PNG32:"));
    // Chunks: 4-byte length, 4-byte type, data, 4-byte CRC. The IDAT's data
    // is spoilt and its CRC made right again, so that only inflating notices.
    auto lengthAt = [&bytes](std::size_t at) {
        return std::size_t{bytes[at]} << 24 | std::size_t{bytes[at + 1]} << 16 |
               std::size_t{bytes[at + 2]} << 8 | bytes[at + 3];
    };
    std::size_t at = 8;
    while (at + 8 <= bytes.size() && std::memcmp(&bytes[at + 4], "IDAT", 4) != 0)
        at += 12 + lengthAt(at);
    ASSERT_LT(at + 8, bytes.size());
    const std::size_t length = lengthAt(at);
    for (std::size_t i = at + 8 + length / 3; i < at + 8 + length / 3 + 16; ++i)
        bytes[i] ^= 0x5A;
    const uLong crc = crc32(0, bytes.data() + at + 4, static_cast<uInt>(length + 4));
    for (int k = 0; k < 4; ++k)
        bytes[at + 8 + length + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
    test::WriteFileBytes(dir.file("damaged.png"), bytes);

    std::string error;
    EXPECT_FALSE(LoadCodecPicture(dir.file("damaged.png"), CodecDrawing::Raster, &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace pelo
