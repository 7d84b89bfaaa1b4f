#include "tests/cli/BatchProgram.h"

#include "formats/Codec.h"
#include "samples/SpriteArt.h"
#include "tests/support/FileBytes.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace pelo::test {

CommandResult PeloBatch(const TempDir& dir, const std::string& args) {
    const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    const int status = RunCommand(std::string(PELO_BINARY_DIR) + "/bin/pelo-batch " + args + " >'" +
                                  out + "' 2>'" + err + "'");
    const auto o = ReadFileBytes(out), e = ReadFileBytes(err);
    return {status, std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
}

std::string Q(const std::string& path) {
    return "'" + path + "'";
}

void WritePicture(const ImageBuffer& image, const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    PackedDib block;
    ASSERT_TRUE(ConvertImageToDib(image, block));
    ASSERT_EQ(SaveCodecImage(path, block), 0) << path;
}

void WriteSprite(const std::string& path, std::uint32_t seed, int w, int h) {
    auto image = samples::MakeSpriteSheet(w, h, seed);
    ASSERT_TRUE(image);
    WritePicture(*image, path);
}

} // namespace pelo::test
