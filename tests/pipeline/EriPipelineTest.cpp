// ERI files through the pipeline and pelo-batch: the loader is chosen by the
// all-lower or all-upper spelling only.
#include "pipeline/ConversionSession.h"
#include "tests/eri/writer/EriFileWriter.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace pelo {
namespace {

// A flat 24-bit picture: blue, green, red = 30, 60, 90. No edges, so the
// passes leave it alone and the output must hold exactly these bytes.
std::vector<std::uint8_t> FlatEri(int w, int h) {
    eritest::EriTestPicture picture;
    picture.width = w;
    picture.height = h;
    picture.bitsPerPixel = 24;
    picture.pixels.resize(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < picture.pixels.size(); i += 3) {
        picture.pixels[i] = 30;
        picture.pixels[i + 1] = 60;
        picture.pixels[i + 2] = 90;
    }
    return eritest::EncodeEriFile(picture, eritest::EriEncodeOptions{});
}

TEST(EriPipeline, EriToTgaGetsOpaqueAlphaAndExactColours) {
    test::TempDir dir;
    test::WriteFileBytes(dir.file("pic.ERI"), FlatEri(12, 9));
    test::WriteFileBytes(dir.file("pic.Eri"), FlatEri(12, 9));
    ConversionSession session;
    ASSERT_TRUE(session.ProcessFile(dir.file("pic.ERI"), dir.file("pic.TGA")))
        << session.failure.reason;
    std::vector<std::uint8_t> rgba;
    ASSERT_TRUE(test::ReadWithImageMagick(dir.file("pic.TGA"), 12, 9, rgba));
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        ASSERT_EQ(rgba[i], 90);
        ASSERT_EQ(rgba[i + 1], 60);
        ASSERT_EQ(rgba[i + 2], 30);
        ASSERT_EQ(rgba[i + 3], 255);
    }
    // Mixed case goes to the platform codec, which knows no ERI.
    EXPECT_FALSE(session.ProcessFile(dir.file("pic.Eri"), dir.file("mixed.TGA")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("mixed.TGA")));

    const std::string cmd = std::string(PELO_BINARY_DIR) +
                            "/bin/pelo-batch -q --from eri --to PNG '" + dir.path().string() +
                            "' '" + dir.file("out") + "' 2>/dev/null";
    EXPECT_EQ(test::RunCommand(cmd), 1); // pic.Eri is listed and fails
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/pic.PNG")));
}

} // namespace
} // namespace pelo
