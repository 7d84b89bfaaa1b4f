// Writing through the library and reading back: by the library itself, by
// ImageMagick and by an independent npm PSD library. Also the clip and crop.
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"
#include "tests/tlpsdex/PsdTool.h"
#include "tlpsdex/tlpsdex.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace psdtool;

struct TestLayer {
    TlPsdLayerInfo info{};
    Pixels pixels; // BGRA
};

TlPsdLayerInfo Record(int index, TlPsdRect rect, const char* name, int visible, int opacity,
                      const char* blend = "NORM") {
    TlPsdLayerInfo info{};
    info.index = index;
    info.section = TLPSD_SECTION_LAYER;
    info.rect = rect;
    std::snprintf(info.name, sizeof(info.name), "%s", name);
    info.visible = visible;
    std::snprintf(info.blendMode, sizeof(info.blendMode), "%s", blend);
    info.opacity = opacity;
    info.reserved2 = 255;
    return info;
}

// A picture with a hard-edged disc: every pixel's value follows from x, y.
Pixels Disc(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    Pixels px(4u * w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int dx = 2 * x + 1 - w, dy = 2 * y + 1 - h;
            const bool in = dx * dx + dy * dy <= w * h;
            std::uint8_t* p = &px[4u * (y * w + x)];
            p[0] = in ? b : static_cast<std::uint8_t>(x);
            p[1] = in ? g : static_cast<std::uint8_t>(y);
            p[2] = in ? r : 0;
            p[3] = in ? 255 : 0;
        }
    return px;
}

Pixels Gradient(int w, int h) {
    Pixels px(4u * w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &px[4u * (y * w + x)];
            p[0] = static_cast<std::uint8_t>(10 * x);
            p[1] = static_cast<std::uint8_t>(20 * y);
            p[2] = static_cast<std::uint8_t>(x * y);
            p[3] = 255;
        }
    return px;
}

struct Doc {
    int width = 0, height = 0;
    Pixels merged;
    std::vector<TestLayer> layers;
};

// Canvas 20 x 12: opaque gradient background, a visible disc, a hidden one
// with a Japanese name, a half-opaque one reaching past the canvas.
Doc SampleDoc() {
    Doc d;
    d.width = 20;
    d.height = 12;
    d.merged = Gradient(20, 12);
    d.layers.push_back({Record(0, {0, 0, 20, 12}, "background", 1, 255), Gradient(20, 12)});
    d.layers.push_back({Record(1, {2, 3, 10, 9}, "disc", 1, 255), Disc(8, 6, 255, 0, 0)});
    d.layers.push_back(
        {Record(2, {11, 1, 17, 7}, "\xE9\x9A\xA0\xE3\x81\x97 hidden", 0, 255, "mul "),
         Disc(6, 6, 0, 255, 0)});
    d.layers.push_back({Record(3, {14, 6, 24, 14}, "half", 1, 128), Disc(10, 8, 0, 0, 255)});
    return d;
}

int Write(const std::string& path, const Doc& d) {
    int rc = TlPsdSave_Open(path.c_str(), TLPSD_SAVE_RGB8, TLPSD_SAVE_OPTION_DEFAULTS);
    if (rc != 0) return rc;
    if ((rc = TlPsdSave_SetImage(d.merged.data(), d.width, d.height)) != 0) return rc;
    for (const TestLayer& l : d.layers)
        if ((rc = TlPsdSave_SetLayer(l.pixels.data(), &l.info)) != 0) return rc;
    return TlPsdSave_Close();
}

Doc Read(const std::string& path, int* rc, std::int32_t loadFlags = 0) {
    Doc d;
    *rc = TlPsdLoad_Open(path.c_str(), TLPSD_LOAD_BGRA8, &loadFlags);
    if (*rc != 0) return d;
    TlPsdLayerInfo merged{};
    merged.index = -1;
    TlPsdLoad_GetImageInfo(&merged);
    d.width = merged.rect.right;
    d.height = merged.rect.bottom;
    d.merged.resize(4u * d.width * d.height);
    *rc = TlPsdLoad_GetImage(-1, d.merged.data(), d.merged.size(), &merged.rect);
    const int count = TlPsdLoad_GetLayerCount();
    for (int i = 0; i < count && *rc == 0; ++i) {
        TestLayer l;
        l.info.index = i;
        TlPsdLoad_GetImageInfo(&l.info);
        l.pixels.resize(4u * (l.info.rect.right - l.info.rect.left) *
                        (l.info.rect.bottom - l.info.rect.top));
        *rc = TlPsdLoad_GetImage(i, l.pixels.data(), l.pixels.size(), &l.info.rect);
        d.layers.push_back(l);
    }
    TlPsdLoad_Close();
    return d;
}

// Colours of transparent pixels carry no meaning once written; each sample
// may differ by at most `tolerance`.
void ExpectSamePicture(const Pixels& got, const Pixels& want, const std::string& what,
                       int tolerance = 0) {
    ASSERT_EQ(got.size(), want.size()) << what;
    int differing = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < want.size(); i += 4) {
        if (want[i + 3] == 0 && got[i + 3] == 0) continue;
        for (int k = 0; k < 4; ++k) {
            if (std::abs(got[i + k] - want[i + k]) > tolerance) {
                if (differing++ == 0) first = i;
                break;
            }
        }
    }
    EXPECT_EQ(differing, 0) << what << ": first at pixel " << first / 4 << " got "
                            << int(got[first]) << "," << int(got[first + 1]) << ","
                            << int(got[first + 2]) << "," << int(got[first + 3]) << " want "
                            << int(want[first]) << "," << int(want[first + 1]) << ","
                            << int(want[first + 2]) << "," << int(want[first + 3]);
}

} // namespace

TEST(PsdWriter, RoundTripKeepsRecordsAndPixels) {
    pelo::test::TempDir dir;
    const Doc d = SampleDoc();
    const std::string path = dir.file("doc.psd");
    ASSERT_EQ(Write(path, d), 0);
    int rc = -1;
    const Doc back = Read(path, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(back.width, 20);
    EXPECT_EQ(back.height, 12);
    ExpectSamePicture(back.merged, d.merged, "merged");
    ASSERT_EQ(back.layers.size(), d.layers.size());
    for (std::size_t i = 0; i < d.layers.size(); ++i) {
        const TlPsdLayerInfo& got = back.layers[i].info;
        const TlPsdLayerInfo& want = d.layers[i].info;
        EXPECT_STREQ(got.name, want.name);
        EXPECT_EQ(got.visible, want.visible) << want.name;
        EXPECT_EQ(got.opacity, want.opacity) << want.name;
        EXPECT_EQ(std::memcmp(&got.rect, &want.rect, sizeof(TlPsdRect)), 0) << want.name;
        ExpectSamePicture(back.layers[i].pixels, d.layers[i].pixels, want.name);
    }
    EXPECT_STREQ(back.layers[2].info.blendMode, "mul ");
    EXPECT_STREQ(back.layers[0].info.blendMode, "norm");
}

TEST(PsdWriter, RunLengthPacketsKeepTheirLayout) {
    // One row through every packet boundary: a 20-byte literal ended by a
    // pair, runs of 130 and 129 (split at 128), a literal cut at 128 bytes
    // and its rest ended by a pair at the row's end.
    Pixels alpha, packed;
    auto run = [&](std::size_t n, std::uint8_t v) {
        packed.push_back(static_cast<std::uint8_t>(257 - n));
        packed.push_back(v);
    };
    for (int i = 0; i < 20; ++i)
        alpha.push_back(static_cast<std::uint8_t>(i));
    alpha.insert(alpha.end(), {50, 50});
    alpha.insert(alpha.end(), 130, 7);
    alpha.insert(alpha.end(), 129, 9);
    for (int i = 0; i < 140; ++i)
        alpha.push_back(i % 2 ? 101 : 100);
    alpha.insert(alpha.end(), {1, 1});
    packed.push_back(19); // the 20 distinct bytes
    packed.insert(packed.end(), alpha.begin(), alpha.begin() + 20);
    run(2, 50);
    run(128, 7);
    run(2, 7);
    run(128, 9);
    packed.push_back(127); // the last 9, then 127 of the alternating bytes
    packed.insert(packed.end(), alpha.begin() + 280, alpha.begin() + 408);
    packed.push_back(12);
    packed.insert(packed.end(), alpha.begin() + 408, alpha.begin() + 421);
    run(2, 1);

    Doc d;
    d.width = d.height = 4;
    d.merged = Gradient(4, 4);
    const int w = static_cast<int>(alpha.size());
    Pixels px(4u * w, 0);
    for (int x = 0; x < w; ++x)
        px[4u * x + 3] = alpha[static_cast<std::size_t>(x)];
    d.layers.push_back({Record(0, {0, 0, w, 1}, "row", 1, 255), px});
    pelo::test::TempDir dir;
    ASSERT_EQ(Write(dir.file("row.psd"), d), 0);
    // The transparency channel: run-length, one row count, the packets.
    Pixels channel = {0, 1, static_cast<std::uint8_t>(packed.size() >> 8),
                      static_cast<std::uint8_t>(packed.size())};
    channel.insert(channel.end(), packed.begin(), packed.end());
    const Pixels file = pelo::test::ReadFileBytes(dir.file("row.psd"));
    EXPECT_NE(std::search(file.begin(), file.end(), channel.begin(), channel.end()), file.end());
}

TEST(PsdWriter, TransparentMergedColoursRoundTrip) {
    pelo::test::TempDir dir;
    Doc d;
    d.width = 4;
    d.height = 1;
    d.merged = {200, 100, 50, 255, 200, 100, 50, 200, 10, 250, 90, 128, 1, 2, 3, 0};
    d.layers.push_back({Record(0, {0, 0, 4, 1}, "only", 1, 255), d.merged});
    const std::string path = dir.file("soft.psd");
    ASSERT_EQ(Write(path, d), 0);
    int rc = -1;
    const Doc back = Read(path, &rc);
    ASSERT_EQ(rc, 0);
    // Matting quantises c * a / 255 to whole steps: the straight colour comes
    // back within 255 / (2a) + 1.
    for (int x = 0; x < 3; ++x) {
        const int a = d.merged[4 * x + 3];
        EXPECT_EQ(back.merged[4 * x + 3], a);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(back.merged[4 * x + k], d.merged[4 * x + k], 255.0 / (2 * a) + 1) << x;
    }
    EXPECT_EQ(back.merged[15], 0);
}

TEST(PsdWriter, FailuresLeaveNoFile) {
    pelo::test::TempDir dir;
    EXPECT_EQ(TlPsdSave_Open((dir.file("missing") + "/x.psd").c_str(), TLPSD_SAVE_RGB8,
                             TLPSD_SAVE_OPTION_DEFAULTS),
              TLPSD_E_OPEN);
    const std::string path = dir.file("never.psd");
    ASSERT_EQ(TlPsdSave_Open(path.c_str(), TLPSD_SAVE_RGB8, TLPSD_SAVE_OPTION_DEFAULTS), 0);
    EXPECT_EQ(TlPsdSave_SetImage(nullptr, 4, 4), TLPSD_E_ARGUMENT);
    EXPECT_EQ(TlPsdSave_Close(), TLPSD_E_ARGUMENT); // no merged image: nothing written
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 0u);
    EXPECT_EQ(TlPsdSave_Open(path.c_str(), 999, TLPSD_SAVE_OPTION_DEFAULTS), TLPSD_E_ARGUMENT);
}

TEST(PsdWriter, GroupRecordsRoundTripAndMustBalance) {
    // Bottom first: a layer, the end of "outer", a layer shown itself inside
    // the hidden "inner" (start, then end below it), and outer's start.
    Doc d = SampleDoc();
    d.layers.resize(2);
    auto group = [](int section, const char* name, int visible, const char* blend = "norm") {
        TestLayer l{Record(0, {0, 0, 0, 0}, name, visible, 255, blend), {}};
        l.info.section = section;
        return l;
    };
    d.layers.insert(d.layers.begin() + 1, group(TLPSD_SECTION_GROUP_END, "</Layer group>", 1));
    d.layers.insert(d.layers.begin() + 2, group(TLPSD_SECTION_GROUP_END, "</Layer group>", 2));
    d.layers[3].info.visible = 2;
    d.layers.push_back(group(TLPSD_SECTION_CLOSED_GROUP, "inner", 0, "pass"));
    d.layers.push_back(group(TLPSD_SECTION_OPEN_GROUP, "å¤ outer", 1));
    pelo::test::TempDir dir;
    ASSERT_EQ(Write(dir.file("groups.psd"), d), 0);
    int rc = -1;
    const Doc back = Read(dir.file("groups.psd"), &rc, TLPSD_LOAD_GROUP_RECORDS);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(back.layers.size(), d.layers.size());
    for (std::size_t i = 0; i < d.layers.size(); ++i) {
        const TlPsdLayerInfo& got = back.layers[i].info;
        const TlPsdLayerInfo& want = d.layers[i].info;
        EXPECT_EQ(got.section, want.section) << i;
        EXPECT_STREQ(got.name, want.name) << i;
        EXPECT_EQ(got.visible, want.visible) << i;
    }
    EXPECT_STREQ(back.layers[4].info.blendMode, "pass");
    ExpectSamePicture(back.layers[3].pixels, d.layers[3].pixels, "layer in the group");

    // A start without its end, an end without its start: refused, no file.
    for (const int section : {TLPSD_SECTION_OPEN_GROUP, TLPSD_SECTION_GROUP_END}) {
        Doc bad = SampleDoc();
        bad.layers.push_back(group(section, "alone", 1));
        EXPECT_EQ(Write(dir.file("bad.psd"), bad), TLPSD_E_ARGUMENT) << section;
        EXPECT_FALSE(std::filesystem::exists(dir.file("bad.psd")));
    }
}

TEST(PsdWriter, LongestPossibleNameIsWritten) {
    pelo::test::TempDir dir;
    const std::string name = std::string(251, 'n') + ".psd";
    ASSERT_EQ(Write(dir.file(name), SampleDoc()), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file(name)));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(PsdWriter, FailedWriteLeavesErrnoAndNoTemporary) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("keep.psd");
    pelo::test::WriteFileBytes(path, Pixels(10, 0x42));
    Doc d = SampleDoc();
    d.width = d.height = 100;
    d.merged = Gradient(100, 100);

    // Limit the file size so that the write fails part-way (EFBIG).
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    errno = 0;
    const int rc = Write(path, d);
    const int err = errno;
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(rc, TLPSD_E_READ);
    EXPECT_EQ(err, EFBIG);
    EXPECT_EQ(pelo::test::ReadFileBytes(path), Pixels(10, 0x42));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(PsdClip, UnderScanClipsAndMovesPixelsToTheStart) {
    // 4 x 3 layer at (-1, 2) on a 2 x 4 canvas: keeps columns 1..2, rows 0..1.
    Pixels px(4 * 4 * 3);
    for (int i = 0; i < 12; ++i)
        px[4 * i] = static_cast<std::uint8_t>(i), px[4 * i + 3] = 255;
    TlPsdRect rect{-1, 2, 3, 5};
    const TlPsdRect canvas{0, 0, 2, 4};
    ASSERT_EQ(TlPsd_UnderScan(px.data(), &rect, &canvas), 0);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 2);
    EXPECT_EQ(rect.right, 2);
    EXPECT_EQ(rect.bottom, 4);
    const int want[] = {1, 2, 5, 6}; // source indices y * 4 + x
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(px[4 * i], want[i]);

    TlPsdRect outside{5, 5, 9, 9};
    ASSERT_EQ(TlPsd_UnderScan(px.data(), &outside, &canvas), 0);
    EXPECT_EQ(outside.right - outside.left, 0);
    EXPECT_EQ(outside.bottom - outside.top, 0);
}

TEST(PsdClip, MinimizeCropsToTheVisiblePixels) {
    // 5 x 4 layer at (10, 20) with alpha only at (1, 1) and (3, 2).
    Pixels px(4 * 5 * 4, 0);
    px[4 * (1 * 5 + 1) + 3] = 9;
    px[4 * (1 * 5 + 1)] = 11;
    px[4 * (2 * 5 + 3) + 3] = 1;
    px[4 * (2 * 5 + 3)] = 22;
    TlPsdRect rect{10, 20, 15, 24};
    ASSERT_EQ(TlPsd_Minimize(px.data(), &rect), 0);
    EXPECT_EQ(rect.left, 11);
    EXPECT_EQ(rect.top, 21);
    EXPECT_EQ(rect.right, 14);
    EXPECT_EQ(rect.bottom, 23);
    EXPECT_EQ(px[0], 11);           // (1, 1) is now (0, 0)
    EXPECT_EQ(px[4 * (3 + 2)], 22); // (3, 2) is now (2, 1) in a row of 3

    Pixels clear(4 * 3 * 3, 0);
    TlPsdRect empty{0, 0, 3, 3};
    ASSERT_EQ(TlPsd_Minimize(clear.data(), &empty), 0);
    EXPECT_EQ(empty.right - empty.left, 0);
    EXPECT_EQ(empty.bottom - empty.top, 0);
}

TEST(PsdIndependentReaders, ImageMagickReadsOurOutput) {
    pelo::test::TempDir dir;
    const Doc d = SampleDoc();
    const std::string path = dir.file("doc.psd");
    ASSERT_EQ(Write(path, d), 0);
    // Frame 0 is the merged image, frames 1.. the layers with their offsets.
    const std::string frames =
        Capture("/usr/bin/identify -format '%w %h %X %Y\\n' '" + path + "' 2>/dev/null");
    std::istringstream in(frames);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 1 + d.layers.size()) << frames;
    EXPECT_EQ(lines[0], "20 12 +0 +0");
    EXPECT_EQ(lines[2], "8 6 +2 +3");
    EXPECT_EQ(lines[4], "10 8 +14 +6");

    Pixels rgba;
    ASSERT_TRUE(pelo::test::ReadWithImageMagick(path + "[0]", 20, 12, rgba));
    ExpectSamePicture(RgbaToBgra(rgba), d.merged, "merged");
    for (std::size_t i = 0; i < d.layers.size(); ++i) {
        const TlPsdRect& r = d.layers[i].info.rect;
        ASSERT_TRUE(pelo::test::ReadWithImageMagick(path + "[" + std::to_string(i + 1) + "]",
                                                    r.right - r.left, r.bottom - r.top, rgba))
            << i;
        // This reader folds the layer's opacity into its alpha.
        Pixels want = d.layers[i].pixels;
        for (std::size_t k = 3; k < want.size(); k += 4)
            want[k] = static_cast<std::uint8_t>((want[k] * d.layers[i].info.opacity + 127) / 255);
        ExpectSamePicture(RgbaToBgra(rgba), want, d.layers[i].info.name, 1);
    }
}

TEST(PsdIndependentReaders, NpmLibraryReadsOurOutput) {
    pelo::test::TempDir dir;
    const Doc d = SampleDoc();
    const std::string path = dir.file("doc.psd");
    ASSERT_EQ(Write(path, d), 0);
    const ToolDoc t = DumpWithTool(path, dir);
    ASSERT_TRUE(t.ok) << "node " << kTool << " failed";
    EXPECT_EQ(t.width, 20);
    EXPECT_EQ(t.height, 12);
    ASSERT_EQ(t.layers.size(), d.layers.size());
    for (std::size_t i = 0; i < d.layers.size(); ++i) {
        const TlPsdLayerInfo& want = d.layers[i].info;
        EXPECT_EQ(t.layers[i].name, want.name);
        EXPECT_EQ(t.layers[i].hidden, want.visible == 1 ? 0 : 1) << want.name;
        EXPECT_EQ(t.layers[i].opacity, want.opacity) << want.name;
        EXPECT_EQ(std::memcmp(&t.layers[i].rect, &want.rect, sizeof(TlPsdRect)), 0) << want.name;
        ExpectSamePicture(RgbaToBgra(t.layers[i].rgba), d.layers[i].pixels, want.name);
    }
    ExpectSamePicture(RgbaToBgra(t.composite), d.merged, "composite");
}

TEST(PsdIndependentReaders, WeReadTheNpmLibrarysDocuments) {
    pelo::test::TempDir dir;
    ASSERT_EQ(pelo::test::RunCommand("node '" + kTool + "' make '" + dir.file("made") + "'"), 0);
    for (const char* name : {"layered.psd", "soft.psd"}) {
        const std::string path = dir.file("made") + "/" + name;
        const ToolDoc t = DumpWithTool(path, dir);
        ASSERT_TRUE(t.ok);
        int rc = -1;
        const Doc ours = Read(path, &rc);
        ASSERT_EQ(rc, 0) << name;
        EXPECT_EQ(ours.width, t.width);
        EXPECT_EQ(ours.height, t.height);
        ASSERT_EQ(ours.layers.size(), t.layers.size()) << name;
        for (std::size_t i = 0; i < t.layers.size(); ++i) {
            const TlPsdLayerInfo& got = ours.layers[i].info;
            EXPECT_EQ(got.name, t.layers[i].name);
            EXPECT_EQ(got.visible, t.layers[i].hidden ? 0 : 1) << got.name;
            EXPECT_EQ(got.opacity, t.layers[i].opacity) << got.name;
            EXPECT_EQ(std::memcmp(&got.rect, &t.layers[i].rect, sizeof(TlPsdRect)), 0) << got.name;
            ExpectSamePicture(ours.layers[i].pixels, RgbaToBgra(t.layers[i].rgba), got.name);
        }
    }
    // The fixture's structure as written: groups flattened, the hidden
    // group's layer hidden, the Japanese name intact.
    int rc = -1;
    const Doc layered = Read(dir.file("made") + "/layered.psd", &rc);
    ASSERT_EQ(layered.layers.size(), 5u);
    EXPECT_STREQ(layered.layers[1].info.name, "inside hidden group");
    EXPECT_EQ(layered.layers[1].info.visible, 0);
    EXPECT_EQ(layered.layers[2].info.opacity, 128);
    EXPECT_STREQ(layered.layers[4].info.name,
                 "\xE3\x82\xB9\xE3\x83\x97\xE3\x83\xA9\xE3\x82\xA4\xE3\x83\x88 "
                 "\xE5\x90\x8D\xE5\x89\x8D");
    // soft.psd: composite r = 40y, g = 30x, b = 128, a = 32x + 10, straight.
    const Doc soft = Read(dir.file("made") + "/soft.psd", &rc);
    ASSERT_EQ(soft.merged.size(), 4u * 8 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 2; x < 8; ++x) { // alpha >= 74
            const std::uint8_t* p = &soft.merged[4 * (y * 8 + x)];
            const double tol = 255.0 / (32 * x + 10) + 1; // both sides quantise
            EXPECT_EQ(p[3], 32 * x + 10);
            EXPECT_NEAR(p[2], 40 * y, tol);
            EXPECT_NEAR(p[1], 30 * x, tol);
            EXPECT_NEAR(p[0], 128, tol);
        }
}

TEST(PsdIndependentReaders, WeReadImageMagicksDocuments) {
    pelo::test::TempDir dir;
    struct Case {
        const char* name;
        const char* args;
    } cases[] = {
        {"rle.psd", "-size 9x5 gradient:red-blue -depth 8 -compress RLE"},
        {"zip.psd", "-size 9x5 gradient:red-blue -depth 8 -compress Zip"},
        {"raw.psd", "-size 9x5 gradient:red-blue -depth 8 -compress None"},
        {"grey16.psd", "-size 9x5 gradient:white-black -colorspace Gray -depth 16"},
        {"rgb16zip.psd", "-size 9x5 plasma:fractal -seed 3 -depth 16 -compress Zip"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_EQ(pelo::test::RunCommand(std::string("/usr/bin/convert -seed 3 ") + c.args + " '" +
                                         path + "'"),
                  0);
        Pixels want;
        ASSERT_TRUE(pelo::test::ReadWithImageMagick(path + "[0]", 9, 5, want)) << c.name;
        int rc = -1;
        const Doc ours = Read(path, &rc);
        ASSERT_EQ(rc, 0) << c.name;
        // Its own 16 -> 8 reduction rounds differently by at most one step.
        ExpectSamePicture(ours.merged, RgbaToBgra(want), c.name, std::strstr(c.name, "16") ? 1 : 0);
    }
    const std::string cmyk = dir.file("cmyk.psd");
    ASSERT_EQ(
        pelo::test::RunCommand("/usr/bin/convert -size 4x4 xc:red -colorspace CMYK '" + cmyk + "'"),
        0);
    EXPECT_EQ(TlPsdLoad_Open(cmyk.c_str(), TLPSD_LOAD_BGRA8, nullptr), TLPSD_E_COLOUR_MODE);
    TlPsdLoad_Close();
}
