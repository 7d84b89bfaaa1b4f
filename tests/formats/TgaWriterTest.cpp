#include "formats/TgaWriter.h"

#include "base/AtomicFile.h"
#include "samples/SpriteArt.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <system_error>
#include <vector>

namespace pelo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}
unsigned Le16(const std::uint8_t* p) {
    return p[0] | p[1] << 8;
}

Bytes Pack(const Bytes& row, int bpp) {
    Bytes out(row.size() / bpp * (bpp + 1));
    out.resize(PackRunLength(row.data(), out.data(), static_cast<int>(row.size() / bpp), bpp));
    return out;
}

TEST(PackRunLength, EqualNeighboursFormRunsCappedAt128) {
    const Bytes row(300 * 4, 0x5A);
    const Bytes packed = Pack(row, 4);
    ASSERT_EQ(packed.size(), 15u);
    EXPECT_EQ(packed[0], 0x80 | 127);
    EXPECT_EQ(packed[5], 0x80 | 127);
    EXPECT_EQ(packed[10], 0x80 | 43);
}

TEST(PackRunLength, LastPixelLeftOverBecomesRawPacket) {
    const Bytes row(129 * 4, 1);
    const Bytes packed = Pack(row, 4);
    ASSERT_EQ(packed.size(), 10u);
    EXPECT_EQ(packed[0], 0xFF);
    EXPECT_EQ(packed[5], 0x00);
}

TEST(PackRunLength, DistinctPixelsEndWithALoneRawPixel) {
    const Bytes row = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
    const Bytes packed = Pack(row, 4);
    const Bytes want = {0x01, 1, 0, 0, 0, 2, 0, 0, 0, 0x00, 3, 0, 0, 0};
    EXPECT_EQ(packed, want);
}

TEST(PackRunLength, RawStretchStopsBeforeARun) {
    // a b c c: raw(a, b), run(2 x c)
    const Bytes row = {1, 1, 2, 2, 3, 3, 3, 3};
    const Bytes packed = Pack(row, 2);
    const Bytes want = {0x01, 1, 1, 2, 2, 0x81, 3, 3};
    EXPECT_EQ(packed, want);
}

TEST(PackRunLength, PixelsDifferingOnlyInAlphaAreDifferent) {
    const Bytes row = {9, 9, 9, 255, 9, 9, 9, 254};
    const Bytes packed = Pack(row, 4);
    ASSERT_EQ(packed.size(), 10u);
    EXPECT_EQ(packed[0], 0x00);
    EXPECT_EQ(packed[5], 0x00);
}

TEST(PackRunLength, LongRawStretchesSplitAt128) {
    Bytes row;
    for (int i = 0; i < 200; ++i)
        row.push_back(static_cast<std::uint8_t>(i));
    const Bytes packed = Pack(row, 1);
    // 128 raw, then 71 raw (the last pixel never joins a longer stretch), then 1.
    ASSERT_EQ(packed.size(), 1 + 128 + 1 + 71 + 1 + 1u);
    EXPECT_EQ(packed[0], 127);
    EXPECT_EQ(packed[129], 70);
    EXPECT_EQ(packed[201], 0);
}

// Each pixel size compares all of its bytes, the last one included.
TEST(PackRunLength, EveryPixelSizeComparesItsLastByte) {
    for (int bpp = 1; bpp <= 4; ++bpp) {
        Bytes row(static_cast<std::size_t>(3 * bpp), 7);
        row[static_cast<std::size_t>(3 * bpp - 1)] = 8; // the third pixel differs in its last byte
        const Bytes packed = Pack(row, bpp);
        ASSERT_EQ(packed.size(), static_cast<std::size_t>(2 + 2 * bpp)) << bpp;
        EXPECT_EQ(packed[0], 0x81) << bpp;
        EXPECT_EQ(packed[static_cast<std::size_t>(1 + bpp)], 0x00) << bpp;
    }
}

class TgaFile : public ::testing::Test {
protected:
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        return names;
    }

    test::TempDir dir;
};

TEST_F(TgaFile, OnePixelIsExactly544BytesWithAllFixedFields) {
    auto img = test::SolidImage(1, 1, 10, 20, 30, 40);
    const std::string path = dir.file("one.tga");
    ASSERT_EQ(WriteTga(*img, path, true), 0);
    const Bytes f = ReadFileBytes(path);
    ASSERT_EQ(f.size(), 544u);
    const Bytes header = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 32, 8};
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 18), header);
    EXPECT_EQ(Bytes(f.begin() + 18, f.begin() + 23), (Bytes{0x00, 10, 20, 30, 40}));

    const std::uint8_t* ext = f.data() + 23;
    EXPECT_EQ(ext[0], 0xEF);
    EXPECT_EQ(ext[1], 0x01);
    EXPECT_EQ(std::memcmp(ext + 426, "Quarny's Pelo", 13), 0);
    for (int i = 426 + 13; i < 467; ++i)
        EXPECT_EQ(ext[i], 0) << i;
    EXPECT_EQ(Le16(ext + 467), 100u);
    EXPECT_EQ(ext[469], 0x41);
    EXPECT_EQ(ext[494], 3);
    for (int i = 2; i < 426; ++i)
        ASSERT_EQ(ext[i], 0) << i;
    for (int i = 470; i < 494; ++i)
        ASSERT_EQ(ext[i], 0) << i;

    const std::uint8_t* footer = f.data() + f.size() - 26;
    EXPECT_EQ(Le32(footer), 23u);
    EXPECT_EQ(Le32(footer + 4), 0u);
    EXPECT_EQ(std::memcmp(footer + 8, "TRUEVISION-XFILE.\0", 18), 0);
}

TEST_F(TgaFile, RowsAreStoredBottomUpAndPackedSeparately) {
    auto img = test::SolidImage(2, 2, 0, 0, 0, 255);
    img->pixel(0, 0)[0] = 7; // top row: two different pixels
    const std::string path = dir.file("rows.tga");
    ASSERT_EQ(WriteTga(*img, path, true), 0);
    const Bytes f = ReadFileBytes(path);
    // bottom row: run of 2 (5 bytes); top row: raw of 1 + raw of 1 (10 bytes)
    ASSERT_EQ(f.size(), 18u + 15 + 495 + 26);
    EXPECT_EQ(f[18], 0x81);
    EXPECT_EQ(f[23], 0x00);
    EXPECT_EQ(f[24], 7);
    EXPECT_EQ(Le32(f.data() + f.size() - 26), 18u + 15);
}

TEST_F(TgaFile, UncompressedIsTypeTwoWithPlainRows) {
    auto img = test::SolidImage(3, 2, 1, 2, 3, 4);
    const std::string path = dir.file("plain.tga");
    ASSERT_EQ(WriteTga(*img, path, false), 0);
    const Bytes f = ReadFileBytes(path);
    EXPECT_EQ(f[2], 2);
    ASSERT_EQ(f.size(), 18u + 24 + 495 + 26);
    EXPECT_EQ(Le32(f.data() + f.size() - 26), 18u + 24);
}

TEST_F(TgaFile, RefusalsTouchNoFile) {
    auto img = test::SolidImage(2, 2, 1, 2, 3, 4);
    const std::string path = dir.file("refused.tga");
    std::memcpy(img->colorModel, "RGB ", 4);
    EXPECT_EQ(WriteTga(*img, path, true), -1);
    std::memcpy(img->colorModel, "RGBA", 4);
    std::memcpy(img->channelSeq, "RGBA", 4);
    EXPECT_EQ(WriteTga(*img, path, true), -2);
    std::memcpy(img->channelSeq, "BGRA", 4);
    img->imageData = nullptr;
    EXPECT_EQ(WriteTga(*img, path, true), -3);
    EXPECT_FALSE(std::filesystem::exists(path));

    auto wide = AllocIpl(65536, 1);
    ASSERT_TRUE(wide);
    EXPECT_EQ(WriteTga(*wide, path, true), kTgaTooLarge);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(TgaFile, MissingFolderIsMinus100) {
    auto img = test::SolidImage(1, 1, 0, 0, 0, 0);
    std::string reason;
    EXPECT_EQ(WriteTga(*img, dir.file("no/such/folder/x.tga"), true, &reason), -100);
    EXPECT_EQ(reason, "cannot create the output file: " + std::generic_category().message(ENOENT));
}

TEST_F(TgaFile, LongestPossibleNameIsWritten) {
    auto img = test::SolidImage(1, 1, 0, 0, 0, 0);
    const std::string name = std::string(251, 'n') + ".tga";
    ASSERT_EQ(name.size(), 255u);
    std::string reason;
    ASSERT_EQ(WriteTga(*img, dir.file(name), true, &reason), 0) << reason;
    EXPECT_EQ(Entries(), std::vector<std::string>{name});
}

// A 64 KiB file system that the writer fills part-way; needs the right to mount.
TEST_F(TgaFile, FullDiskIsReportedWithTheSystemsTextAndLeavesNoTemporary) {
    const std::string small = dir.file("small");
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs: " << std::strerror(errno);
    auto img = samples::MakeSpriteSheet(256, 256, 3); // 256 KiB of plain rows
    std::string reason;
    const int rc = WriteTga(*img, small + "/full.tga", false, &reason);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(small))
        left.push_back(e.path().filename().string());
    ::umount2(small.c_str(), MNT_DETACH);

    EXPECT_EQ(rc, kFileOtherError);
    EXPECT_EQ(reason, "cannot write the output file: No space left on device");
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(TgaFile, FailedWriteKeepsTheExistingFileAndLeavesNoTemporary) {
    const std::string path = dir.file("keep.tga");
    test::WriteFileBytes(path, Bytes(100, 0x42));
    auto img = samples::MakeSpriteSheet(256, 256, 3);

    // Limit the file size so that the write fails part-way (EFBIG).
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string reason;
    const int rc = WriteTga(*img, path, false, &reason);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(rc, -103);
    EXPECT_EQ(reason, "cannot write the output file: " + std::generic_category().message(EFBIG));
    EXPECT_EQ(ReadFileBytes(path), Bytes(100, 0x42));
    EXPECT_EQ(Entries(), std::vector<std::string>{"keep.tga"});
}

TEST_F(TgaFile, IndependentReaderSeesIdenticalPixels) {
    auto img = samples::MakeSpriteSheet(97, 61, 5);
    // Half-transparent pixels too, with colour bytes that must survive.
    for (int x = 0; x < 97; ++x)
        img->pixel(x, 30)[3] = static_cast<std::uint8_t>(x * 2);
    for (const bool rle : {true, false}) {
        const std::string path = dir.file(rle ? "rle.tga" : "raw.tga");
        ASSERT_EQ(WriteTga(*img, path, rle), 0);
        std::vector<std::uint8_t> rgba;
        ASSERT_TRUE(test::ReadWithImageMagick(path, 97, 61, rgba)) << path;
        int mismatches = 0;
        for (int y = 0; y < 61; ++y) {
            for (int x = 0; x < 97; ++x) {
                const std::uint8_t* p = img->pixel(x, y);
                const std::uint8_t* q = &rgba[4 * (y * 97 + x)];
                if (p[3] == 0) {
                    mismatches += q[3] != 0; // colour of invisible pixels is the reader's business
                    continue;
                }
                mismatches += q[0] != p[2] || q[1] != p[1] || q[2] != p[0] || q[3] != p[3];
            }
        }
        EXPECT_EQ(mismatches, 0) << path;
    }
}

// Flat areas that run across the borders of the bands (a band is 256 rows of
// 1024 pixels), noise and short runs elsewhere: any number of threads writes
// the bytes of one.
TEST(TgaThreads, BandsPackedAtOnceGiveTheBytesOfOneThread) {
    test::TempDir dir;
    ImagePtr image = AllocIpl(1024, 700);
    std::uint32_t state = 7;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            std::uint8_t* p = image->pixel(x, y);
            state = state * 1664525u + 1013904223u;
            const bool flat = (y > 200 && y < 300) || (y > 500 && y < 530) || x < 300;
            const std::uint8_t v = flat ? 90 : static_cast<std::uint8_t>(state >> 29);
            p[0] = p[1] = v;
            p[2] = 50;
            p[3] = 255;
        }
    ASSERT_EQ(WriteTga(*image, dir.file("1.tga"), true), 0);
    const Bytes serial = ReadFileBytes(dir.file("1.tga"));
    for (const int threads : {2, 3, 4, 9}) {
        const std::string path = dir.file(std::to_string(threads) + ".tga");
        ASSERT_EQ(WriteTga(*image, path, true, nullptr, threads), 0);
        EXPECT_EQ(ReadFileBytes(path), serial) << threads;
    }
}

} // namespace
} // namespace pelo
