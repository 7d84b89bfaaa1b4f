// Hostile files kept forever: every file in tests/crashers/ (but eri/,
// which the fuzz replay reads) is a picture cut short, a header claiming
// tens of thousands of pixels a side, or an SVG pulling in another file,
// and each must stay refused: a 0 x 0 block and a reason. Not crashing is
// not enough.
#include "formats/Codec.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pelo {
namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(PELO_SOURCE_DIR) + "/" + folder))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

void ExpectEveryFileRefused(const std::string& folder) {
    const auto files = FilesIn(folder);
    ASSERT_FALSE(files.empty()) << folder;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        PackedDibPtr block;
        std::string error;
        // Lower-case ".svg" names are metafiles, as the pipeline decides.
        const auto drawing = path.ends_with(".svg") ? CodecDrawing::Metafile : CodecDrawing::Raster;
        ASSERT_TRUE(LoadCodecImage(path, block, drawing, &error));
        ASSERT_TRUE(block);
        EXPECT_EQ(block->header().biWidth, 0) << "accepted";
        EXPECT_EQ(block->header().biHeight, 0) << "accepted";
        EXPECT_FALSE(error.empty());
    }
}

TEST(CodecCrashers, EveryKeptBmpIsRefused) {
    ExpectEveryFileRefused("tests/crashers/bmp");
}

TEST(CodecCrashers, EveryKeptGifIsRefused) {
    ExpectEveryFileRefused("tests/crashers/gif");
}

TEST(CodecCrashers, EveryKeptFileOfTheOtherReadersIsRefused) {
    for (const char* reader : {"jpeg", "png", "svg", "tga", "tiff", "xbm"})
        ExpectEveryFileRefused(std::string("tests/crashers/") + reader);
}

} // namespace
} // namespace pelo
