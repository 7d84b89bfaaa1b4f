// pelo-batch end to end on small files, read back with ImageMagick.
#include "samples/SpriteArt.h"
#include "tests/cli/BatchProgram.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace pelo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::CommandResult;
using test::PeloBatch;
using test::Q;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using test::WritePicture;
using test::WriteSprite;

TEST(PeloBatch, OneFilePngToTgaKeepsAlpha) {
    TempDir dir;
    WriteSprite(dir.file("a.png"), 3);
    const CommandResult run = PeloBatch(dir, Q(dir.file("a.png")) + " " + Q(dir.file("out/a.TGA")));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1 converted, 0 failed\n");
    Bytes rgba;
    ASSERT_TRUE(test::ReadWithImageMagick(dir.file("out/a.TGA"), 48, 32, rgba));
    std::size_t clear = 0, partial = 0;
    for (std::size_t i = 3; i < rgba.size(); i += 4) {
        clear += rgba[i] == 0;
        partial += rgba[i] != 0 && rgba[i] != 255;
    }
    EXPECT_GT(clear, 0u);   // the background stays transparent
    EXPECT_GT(partial, 0u); // stair-stepped alpha edges got smoothed
}

TEST(PeloBatch, FolderRunFormsNamesAndSkipsOtherFormats) {
    TempDir dir;
    WriteSprite(dir.file("in/a.png"), 1);
    WriteSprite(dir.file("in/B.PNG"), 2);
    WriteSprite(dir.file("in/sub/c.png"), 4);
    WriteSprite(dir.file("in/skip.bmp"), 5);
    CommandResult run =
        PeloBatch(dir, "--from png --to TGA " + Q(dir.file("in")) + " " + Q(dir.file("out")));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "2 converted, 0 failed\n");
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/a.TGA")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/B.TGA")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/sub")));

    run = PeloBatch(dir,
                    "-r --from '*.PNG' --to BMP " + Q(dir.file("in")) + " " + Q(dir.file("out2")));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "3 converted, 0 failed\n");
    Bytes rgba;
    ASSERT_TRUE(test::ReadWithImageMagick(dir.file("out2/sub/c.BMP"), 48, 32, rgba));
    // Flattened onto grey: the transparent corner is grey 128, nothing is clear.
    EXPECT_EQ(rgba[0], 128);
    EXPECT_EQ(rgba[1], 128);
    EXPECT_EQ(rgba[2], 128);
    for (std::size_t i = 3; i < rgba.size(); i += 4)
        ASSERT_EQ(rgba[i], 255);
}

TEST(PeloBatch, BadInputsAreNamedWithTheirReasonAndNothingIsOverwritten) {
    TempDir dir;
    WriteSprite(dir.file("in/good.png"), 1);
    WriteSprite(dir.file("in/cut.png"), 2);
    Bytes cut = ReadFileBytes(dir.file("in/cut.png"));
    cut.resize(cut.size() / 2);
    WriteFileBytes(dir.file("in/cut.png"), cut);
    WriteFileBytes(dir.file("in/text.png"), Bytes{'h', 'i', '\n'});
    std::filesystem::create_directories(dir.file("out"));
    WriteFileBytes(dir.file("out/cut.TGA"), Bytes{'o', 'l', 'd'});

    const CommandResult run =
        PeloBatch(dir, "-q --from png --to TGA " + Q(dir.file("in")) + " " + Q(dir.file("out")));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, ""); // quiet
    EXPECT_NE(run.err.find(dir.file("in/cut.png") + ": truncated PNG file"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(dir.file("in/text.png") + ": cannot decode: Unsupported image format"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("good.png"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(dir.file("out/cut.TGA")), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/text.TGA")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/good.TGA")));
}

TEST(PeloBatch, FolderProblemsAndUsageErrorsHaveTheirOwnStatus) {
    TempDir dir;
    WriteSprite(dir.file("in/a.png"), 1);
    WriteFileBytes(dir.file("file"), Bytes{'x'});

    CommandResult run =
        PeloBatch(dir, "--from png --to tga " + Q(dir.file("missing")) + " " + Q(dir.file("out")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("input folder not found: " + dir.file("missing")), std::string::npos)
        << run.err;

    run = PeloBatch(dir, "--from png --to tga " + Q(dir.file("in")) + " " + Q(dir.file("file")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("output folder is not a folder: " + dir.file("file")), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFileBytes(dir.file("file")), Bytes{'x'});

    run = PeloBatch(dir, Q(dir.file("in/a.png")) + " " + Q(dir.file("file/a.TGA")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot create the output folder"), std::string::npos) << run.err;

    run = PeloBatch(dir, "--from png --to xyz " + Q(dir.file("in")) + " " + Q(dir.file("out")));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("unknown output format 'xyz'"), std::string::npos) << run.err;
    run = PeloBatch(dir, "--from png " + Q(dir.file("in")) + " " + Q(dir.file("out")));
    EXPECT_EQ(run.status, 2);
    run = PeloBatch(dir, "--no-such-option a b");
    EXPECT_EQ(run.status, 2);
    run = PeloBatch(dir, Q(dir.file("in/a.png")));
    EXPECT_EQ(run.status, 2);
    run = PeloBatch(dir, "--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--white-transparent"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
}

TEST(PeloBatch, ListFormatsOffersOnlyWritableOutputs) {
    TempDir dir;
    const CommandResult run = PeloBatch(dir, "--list-formats");
    ASSERT_EQ(run.status, 0);
    const auto outputs = run.out.substr(run.out.find("output:"));
    for (const char* p : {"*.TGA", "*.PNG", "*.BMP", "*.JPG", "*.GIF", "*.TIF"})
        EXPECT_NE(outputs.find(p), std::string::npos) << p;
    for (const char* p : {"*.ICO", "*.SVG", "*.EMF", "*.CUR"})
        EXPECT_EQ(outputs.find(p), std::string::npos) << p;
    EXPECT_NE(run.out.find("input:"), std::string::npos);
    EXPECT_NE(run.out.find("*.ERI"), std::string::npos);
}

TEST(PeloBatch, WhiteAsTransparentOnAJpegGivesGreyInBmp) {
    TempDir dir;
    auto image = test::SolidImage(16, 16, 255, 255, 255, 255);
    WritePicture(*image, dir.file("w.jpg"));
    CommandResult run = PeloBatch(dir, "-w " + Q(dir.file("w.jpg")) + " " + Q(dir.file("w.BMP")));
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes rgba;
    ASSERT_TRUE(test::ReadWithImageMagick(dir.file("w.BMP"), 16, 16, rgba));
    EXPECT_EQ(rgba[0], 128);
    EXPECT_EQ(rgba[4 * 200 + 1], 128);
    run = PeloBatch(dir, Q(dir.file("w.jpg")) + " " + Q(dir.file("plain.BMP")));
    ASSERT_TRUE(test::ReadWithImageMagick(dir.file("plain.BMP"), 16, 16, rgba));
    EXPECT_EQ(rgba[0], 255);
}

TEST(PeloBatch, GifOutputKeepsTheFlatColoursExactly) {
    TempDir dir;
    // Opaque flat art: the colours after smoothing are what the GIF must hold.
    auto image = samples::MakeOpaqueScene(40, 30, 9);
    ASSERT_TRUE(image);
    WritePicture(*image, dir.file("scene.png"));
    CommandResult run = PeloBatch(dir, Q(dir.file("scene.png")) + " " + Q(dir.file("scene.PNG")));
    ASSERT_EQ(run.status, 0) << run.err;
    run = PeloBatch(dir, Q(dir.file("scene.png")) + " " + Q(dir.file("scene.GIF")));
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes png, gif;
    ASSERT_TRUE(test::ReadWithImageMagick(dir.file("scene.PNG"), 40, 30, png));
    ASSERT_TRUE(test::ReadWithImageMagick(dir.file("scene.GIF"), 40, 30, gif));
    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i < png.size(); i += 4)
        colours.insert(png[i] | png[i + 1] << 8 | png[i + 2] << 16);
    ASSERT_LE(colours.size(), 256u) << "pick a flatter picture";
    EXPECT_EQ(gif, png);
}

TEST(PeloBatch, FourWorkersWriteTheSameBytesAsOne) {
    TempDir dir;
    for (int i = 0; i < 8; ++i)
        WriteSprite(dir.file("in/s" + std::to_string(i) + ".png"), 10 + i);
    // Two entries that form the same output name: the later one is refused
    // either way.
    WriteSprite(dir.file("in/same.png"), 30);
    WriteSprite(dir.file("in/same.PNG"), 31);
    for (const char* to : {"tga", "gif", "png"}) {
        const std::string in = Q(dir.file("in")), one = dir.file(std::string("one-") + to),
                          four = dir.file(std::string("four-") + to);
        ASSERT_EQ(PeloBatch(dir, std::string("-j1 --from png --to ") + to + " " + in + " " + Q(one))
                      .status,
                  1);
        ASSERT_EQ(
            PeloBatch(dir, std::string("-j4 --from png --to ") + to + " " + in + " " + Q(four))
                .status,
            1);
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(one)) {
            ++files;
            const auto name = entry.path().filename().string();
            EXPECT_EQ(ReadFileBytes(entry.path().string()), ReadFileBytes(four + "/" + name))
                << to << " " << name;
        }
        EXPECT_EQ(files, 9u) << to;
    }
}

TEST(PeloBatch, SettingsProfileIsTheStartingPointAndOptionsOverrideIt) {
    TempDir dir;
    auto image = test::SolidImage(16, 16, 255, 255, 255, 255);
    WritePicture(*image, dir.file("w.jpg"));
    const std::string profile = "[INPUT]\nWHITE=1\n[SETTING]\nF=4\n";
    WriteFileBytes(dir.file("pelo.INI"), Bytes(profile.begin(), profile.end()));
    CommandResult run = PeloBatch(dir, "--settings " + Q(dir.file("pelo.INI")) + " " +
                                           Q(dir.file("w.jpg")) + " " + Q(dir.file("a.BMP")));
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes rgba;
    ASSERT_TRUE(test::ReadWithImageMagick(dir.file("a.BMP"), 16, 16, rgba));
    EXPECT_EQ(rgba[0], 128); // WHITE=1 from the profile
    // A profile of the desktop program that does not exist yet gives the
    // first-start values; the word after --settings is then INPUT.
    run = PeloBatch(dir, "--settings " + Q(dir.file("w.jpg")) + " " + Q(dir.file("c.BMP")));
    ASSERT_EQ(run.status, 0) << run.err;
    run = PeloBatch(dir, "--settings=" + Q(dir.file("missing.INI")) + " " + Q(dir.file("w.jpg")) +
                             " " + Q(dir.file("b.BMP")));
    EXPECT_EQ(run.status, 2);
}

TEST(PeloBatch, OutputsThatWouldReplaceInputsNeedInPlace) {
    TempDir dir;
    WriteSprite(dir.file("d/a.PNG"), 4);
    const Bytes original = ReadFileBytes(dir.file("d/a.PNG"));
    const std::string folders = Q(dir.file("d")) + " " + Q(dir.file("d"));
    for (const std::string& run : {"--from png --to PNG " + folders,
                                   Q(dir.file("d/a.PNG")) + " " + Q(dir.file("d/./a.PNG"))}) {
        const CommandResult refused = PeloBatch(dir, run);
        EXPECT_EQ(refused.status, 1) << run;
        EXPECT_NE(refused.err.find("--in-place"), std::string::npos) << refused.err;
        EXPECT_EQ(ReadFileBytes(dir.file("d/a.PNG")), original);
    }
    const CommandResult asked = PeloBatch(dir, "--in-place --from png --to PNG " + folders);
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_NE(ReadFileBytes(dir.file("d/a.PNG")), original);
}

TEST(PeloBatch, AStopSignalFinishesTheFilesInProgressAndLeavesNoTemporary) {
    TempDir dir;
    for (int i = 0; i < 40; ++i)
        WriteSprite(dir.file("in/p" + std::to_string(i) + ".png"), 10 + i, 512, 512);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string binary = std::string(PELO_BINARY_DIR) + "/bin/pelo-batch";
        const std::string in = dir.file("in"), out = dir.file("out");
        ::execl(binary.c_str(), binary.c_str(), "-q", "-j", "2", "--from", "png", "--to", "PNG",
                in.c_str(), out.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Stop once the first output is there, with most files still to come.
    for (int wait = 0; wait < 20000 && !std::filesystem::exists(dir.file("out/p0.PNG")); ++wait)
        ::usleep(1000);
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    std::size_t outputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("out"))) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
        ++outputs;
    }
    EXPECT_LT(outputs, 40u);
}

} // namespace
} // namespace pelo
