// The PSD reader against hand-assembled documents: compressions, depths,
// colour modes, names, groups, the large-document variant and hostile input.
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"
#include "tests/tlpsdex/PsdBytes.h"
#include "tlpsdex/tlpsdex.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace psdtest;

namespace {

struct Loaded {
    int rc = -1;
    std::vector<TlPsdLayerInfo> infos; // merged first
    std::vector<std::vector<std::uint8_t>> pixels;
};

// With load flags the document goes through a file, the way the program opens it.
Loaded LoadAll(const Bytes& file, std::int32_t flags = 0) {
    Loaded out;
    if (flags != 0) {
        const pelo::test::TempDir dir;
        const std::string path = dir.file("in.psd");
        pelo::test::WriteFileBytes(path, file);
        out.rc = TlPsdLoad_Open(path.c_str(), TLPSD_LOAD_BGRA8, &flags);
    } else {
        out.rc = TlPsdLoad_OpenMemory(file.data(), file.size(), TLPSD_LOAD_BGRA8);
    }
    if (out.rc != 0) {
        TlPsdLoad_Close();
        return out;
    }
    const int count = TlPsdLoad_GetLayerCount();
    for (int i = -1; i < count; ++i) {
        TlPsdLayerInfo info{};
        info.index = i;
        EXPECT_EQ(TlPsdLoad_GetImageInfo(&info), 0);
        const std::size_t n = 4u * static_cast<std::size_t>(info.rect.right - info.rect.left) *
                              static_cast<std::size_t>(info.rect.bottom - info.rect.top);
        std::vector<std::uint8_t> px(n);
        const int rc = TlPsdLoad_GetImage(i, px.data(), px.size(), &info.rect);
        if (rc != 0) out.rc = rc;
        out.infos.push_back(info);
        out.pixels.push_back(px);
    }
    TlPsdLoad_Close();
    return out;
}

// RGB channels 0..2 of constant value, plus transparency when alpha >= 0.
LayerSpec SolidLayer(int left, int top, int right, int bottom, std::uint8_t r, std::uint8_t g,
                     std::uint8_t b, int alpha) {
    LayerSpec l;
    l.left = left, l.top = top, l.right = right, l.bottom = bottom;
    const std::size_t n =
        static_cast<std::size_t>(right - left) * static_cast<std::size_t>(bottom - top);
    if (alpha >= 0) l.channels.push_back({-1, FlatChannel(n, static_cast<std::uint8_t>(alpha))});
    l.channels.push_back({0, FlatChannel(n, r)});
    l.channels.push_back({1, FlatChannel(n, g)});
    l.channels.push_back({2, FlatChannel(n, b)});
    return l;
}

Bytes RawMerged(std::size_t samples, std::initializer_list<std::uint8_t> planeValues) {
    Bytes b;
    Put16(b, 0);
    for (std::uint8_t v : planeValues)
        b.insert(b.end(), samples, v);
    return b;
}

} // namespace

TEST(PsdReader, MergedImageInEveryCompression) {
    // 3 x 2 RGB, red = 10 * x + y, green = 100 + x, blue = 200 - y.
    const int w = 3, h = 2;
    Bytes planes[3];
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            planes[0].push_back(static_cast<std::uint8_t>(10 * x + y));
            planes[1].push_back(static_cast<std::uint8_t>(100 + x));
            planes[2].push_back(static_cast<std::uint8_t>(200 - y));
        }
    Bytes all;
    for (const Bytes& p : planes)
        Append(all, p);

    Bytes raw;
    Put16(raw, 0);
    Append(raw, all);
    Bytes rle; // every row as one literal run: code w - 1, then the bytes
    Put16(rle, 1);
    for (int i = 0; i < 3 * h; ++i)
        Put16(rle, 1 + w);
    for (int i = 0; i < 3 * h; ++i) {
        Put8(rle, w - 1);
        rle.insert(rle.end(), all.begin() + i * w, all.begin() + (i + 1) * w);
    }
    Bytes zip;
    Put16(zip, 2);
    Append(zip, Zip(all));
    Bytes zipPredicted;
    Put16(zipPredicted, 3);
    Append(zipPredicted, Zip(Predict(all, w, 1)));

    for (const Bytes* merged : {&raw, &rle, &zip, &zipPredicted}) {
        const Loaded got = LoadAll(Document(Header(1, 3, h, w, 8, 3), {}, *merged));
        ASSERT_EQ(got.rc, 0);
        ASSERT_EQ(got.infos.size(), 1u);
        EXPECT_EQ(got.infos[0].rect.right, w);
        EXPECT_EQ(got.infos[0].rect.bottom, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* px = &got.pixels[0][4 * (y * w + x)];
                EXPECT_EQ(px[0], 200 - y);
                EXPECT_EQ(px[1], 100 + x);
                EXPECT_EQ(px[2], 10 * x + y);
                EXPECT_EQ(px[3], 255);
            }
    }
}

TEST(PsdReader, RunLengthRepeatsAndNoOps) {
    // One grey row of 6: repeat 4 x 7 (code -3), a no-op (-128), literal 1, 2.
    Bytes merged;
    Put16(merged, 1);
    Put16(merged, 6);
    for (unsigned v : {0xFDu, 7u, 0x80u, 1u, 1u, 2u})
        Put8(merged, v);
    const Loaded got = LoadAll(Document(Header(1, 1, 1, 6, 8, 1), {}, merged));
    ASSERT_EQ(got.rc, 0);
    const int want[] = {7, 7, 7, 7, 1, 2};
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(got.pixels[0][4 * x + 0], want[x]);
        EXPECT_EQ(got.pixels[0][4 * x + 2], want[x]);
    }
}

TEST(PsdReader, SixteenBitSamplesRoundToEightBits) {
    // v8 = round(v16 * 255 / 65535): 0x8080 -> 128, 0x807F -> 128, 0x7F80 -> 127, 0xFFFF -> 255.
    const unsigned samples[] = {0x8080, 0x807F, 0x7F80, 0xFFFF};
    Bytes plane;
    for (unsigned v : samples)
        Put16(plane, v);
    Bytes merged;
    Put16(merged, 3);
    Append(merged, Zip(Predict(plane, 8, 2)));
    const Loaded got = LoadAll(Document(Header(1, 1, 1, 4, 16, 1), {}, merged));
    ASSERT_EQ(got.rc, 0);
    const int want[] = {128, 128, 127, 255};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(got.pixels[0][4 * x + 1], want[x]) << x;
}

TEST(PsdReader, LayerRecordsNamesAndGroups) {
    // Bottom to top: a layer, the end marker of a hidden group, a layer in
    // it, the hidden group's header, then a hidden layer and a top layer
    // with a Unicode name.
    std::vector<LayerSpec> layers;
    layers.push_back(SolidLayer(0, 0, 4, 4, 255, 0, 0, 255));
    layers.back().pascalName = "bottom";
    LayerSpec end;
    end.section = 3;
    end.pascalName = "</Layer group>";
    layers.push_back(end);
    layers.push_back(SolidLayer(1, 1, 3, 3, 0, 255, 0, 255));
    layers.back().pascalName = "inside";
    LayerSpec group;
    group.section = 1;
    group.hidden = true;
    group.pascalName = "group";
    layers.push_back(group);
    layers.push_back(SolidLayer(2, 0, 4, 2, 0, 0, 255, 200));
    layers.back().pascalName = "hidden";
    layers.back().hidden = true;
    layers.back().opacity = 77;
    layers.back().key = "mul ";
    layers.push_back(SolidLayer(-2, -1, 2, 1, 9, 8, 7, -1));
    layers.back().pascalName = "ascii fallback";
    layers.back().unicodeName = u"\u3042\u3044 top";
    const Bytes file =
        Document(Header(1, 3, 4, 4, 8, 3), LayerInfo(layers, false), RawMerged(16, {1, 2, 3}));
    const Loaded got = LoadAll(file);
    ASSERT_EQ(got.rc, 0);
    ASSERT_EQ(got.infos.size(), 5u); // merged + 4 layers, group markers left out
    const char* names[] = {"bottom", "inside", "hidden", "\xE3\x81\x82\xE3\x81\x84 top"};
    const int visible[] = {1, 0, 0, 1};
    for (int i = 0; i < 4; ++i) {
        const TlPsdLayerInfo& info = got.infos[static_cast<std::size_t>(i + 1)];
        EXPECT_EQ(info.index, i);
        EXPECT_STREQ(info.name, names[i]);
        EXPECT_EQ(info.visible, visible[i]) << names[i];
    }
    EXPECT_EQ(got.infos[3].opacity, 77);
    EXPECT_STREQ(got.infos[3].blendMode, "mul ");
    EXPECT_STREQ(got.infos[1].blendMode, "norm");
    // Top layer: rectangle as stored, no transparency channel -> opaque.
    EXPECT_EQ(got.infos[4].rect.left, -2);
    EXPECT_EQ(got.infos[4].rect.top, -1);
    const std::vector<std::uint8_t>& top = got.pixels[4];
    ASSERT_EQ(top.size(), 4u * 4 * 2);
    EXPECT_EQ(top[0], 7);
    EXPECT_EQ(top[1], 8);
    EXPECT_EQ(top[2], 9);
    EXPECT_EQ(top[3], 255);
    // Hidden layer alpha from its transparency channel.
    EXPECT_EQ(got.pixels[3][3], 200);
    EXPECT_EQ(got.pixels[3][0], 255);
}

LayerSpec GroupRecord(int section, const char* name, bool hidden = false) {
    LayerSpec l;
    l.section = section;
    l.pascalName = name;
    l.hidden = hidden;
    return l;
}

TEST(PsdReader, GroupRecordsAreDeliveredBalanced) {
    // Bottom to top: L0, outer's end, L1, inner's end, L2, the hidden inner
    // start (pass-through key kept with its type), the outer start, a start
    // whose end is missing, and an end without a start.
    std::vector<LayerSpec> layers;
    for (const char* name : {"L0", "L1", "L2"}) {
        layers.push_back(SolidLayer(0, 0, 2, 2, 1, 2, 3, 255));
        layers.back().pascalName = name;
    }
    layers.insert(layers.begin() + 1, GroupRecord(3, "</Layer group>"));
    layers.insert(layers.begin() + 3, GroupRecord(3, "</Layer group>"));
    layers.push_back(GroupRecord(2, "inner", true));
    layers.back().sectionKey = "pass";
    layers.push_back(GroupRecord(1, "outer"));
    layers.push_back(GroupRecord(1, "unclosed"));
    layers.push_back(GroupRecord(3, "stray"));
    const Bytes file =
        Document(Header(1, 3, 2, 2, 8, 3), LayerInfo(layers, false), RawMerged(4, {1, 2, 3}));

    const Loaded got = LoadAll(file, TLPSD_LOAD_GROUP_RECORDS);
    ASSERT_EQ(got.rc, 0);
    struct Want {
        int section;
        const char* name;
        int visible;
    };
    const Want want[] = {{3, "</Layer group>", 1}, // added: "unclosed" ends at the bottom
                         {-1, "L0", 1},
                         {3, "</Layer group>", 1},
                         {-1, "L1", 1},
                         {3, "</Layer group>", 2},
                         {-1, "L2", 2}, // shown itself in a hidden group
                         {2, "inner", 0},
                         {1, "outer", 1},
                         {1, "unclosed", 1}};
    ASSERT_EQ(got.infos.size(), 1 + std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const TlPsdLayerInfo& info = got.infos[i + 1];
        EXPECT_EQ(info.section, want[i].section) << i;
        EXPECT_STREQ(info.name, want[i].name) << i;
        EXPECT_EQ(info.visible, want[i].visible) << i;
    }
    EXPECT_STREQ(got.infos[7].blendMode, "pass");
    // Without the flag the same document gives its three layers, L2 hidden.
    const Loaded flat = LoadAll(file);
    ASSERT_EQ(flat.infos.size(), 4u);
    EXPECT_EQ(flat.infos[3].visible, 0);

    // 70 nested groups, the 66th hidden, around one layer: the 64 outermost
    // are delivered and the layer comes hidden itself.
    std::vector<LayerSpec> deep(70, GroupRecord(3, "end"));
    deep.push_back(SolidLayer(0, 0, 1, 1, 0, 0, 0, 255));
    for (int i = 70; i >= 1; --i)
        deep.push_back(GroupRecord(1, "g", i == 66));
    const Loaded capped =
        LoadAll(Document(Header(1, 3, 1, 1, 8, 3), LayerInfo(deep, false), RawMerged(1, {0, 0, 0})),
                TLPSD_LOAD_GROUP_RECORDS);
    ASSERT_EQ(capped.rc, 0);
    ASSERT_EQ(capped.infos.size(), 1u + 2 * TLPSD_MAX_GROUP_DEPTH + 1);
    EXPECT_EQ(capped.infos[1 + TLPSD_MAX_GROUP_DEPTH].section, TLPSD_SECTION_LAYER);
    EXPECT_EQ(capped.infos[1 + TLPSD_MAX_GROUP_DEPTH].visible, 0);
}

TEST(PsdReader, LongUnicodeNameIsCutAtACharacterBoundary) {
    // 30 three-byte characters = 90 bytes of UTF-8; 67 bytes hold 22 of them.
    std::vector<LayerSpec> layers{SolidLayer(0, 0, 1, 1, 0, 0, 0, 255)};
    layers[0].unicodeName = std::u16string(30, u'\u65E5');
    const Loaded got = LoadAll(
        Document(Header(1, 3, 1, 1, 8, 3), LayerInfo(layers, false), RawMerged(1, {0, 0, 0})));
    ASSERT_EQ(got.rc, 0);
    const std::string name = got.infos[1].name;
    EXPECT_EQ(name.size(), 66u);
    for (std::size_t i = 0; i < name.size(); i += 3)
        EXPECT_EQ(name.substr(i, 3), "\xE6\x97\xA5");
}

TEST(PsdReader, MergedTransparencyLosesItsWhiteMatte) {
    // Straight colour (r, g, b) at alpha a is stored as 255 - (255 - c) * a / 255.
    const int a = 128;
    const auto matte = [&](int c) {
        return static_cast<std::uint8_t>(255 - ((255 - c) * a + 127) / 255);
    };
    std::vector<LayerSpec> layers{SolidLayer(0, 0, 2, 1, 40, 120, 200, a)};
    Bytes merged;
    Put16(merged, 0);
    for (int c : {40, 120, 200})
        merged.insert(merged.end(), 2, matte(c));
    merged.insert(merged.end(), 2, static_cast<std::uint8_t>(a));
    const Loaded got = LoadAll(Document(Header(1, 4, 1, 2, 8, 3), LayerInfo(layers, true), merged));
    ASSERT_EQ(got.rc, 0);
    const std::uint8_t* px = got.pixels[0].data();
    EXPECT_EQ(px[3], a);
    EXPECT_NEAR(px[2], 40, 1);
    EXPECT_NEAR(px[1], 120, 1);
    EXPECT_NEAR(px[0], 200, 1);

    // A document whose extra channel is not flagged as transparency keeps it out.
    const Loaded plain =
        LoadAll(Document(Header(1, 4, 1, 2, 8, 3), LayerInfo(layers, false), merged));
    ASSERT_EQ(plain.rc, 0);
    EXPECT_EQ(plain.pixels[0][3], 255);
    EXPECT_EQ(plain.pixels[0][2], matte(40));
}

TEST(PsdReader, StraightMergedColoursAreKept) {
    // Transparent black cannot be a white-matted colour: the colours are straight.
    Bytes merged;
    Put16(merged, 0);
    for (int c : {0, 0, 0})
        merged.insert(merged.end(), {static_cast<std::uint8_t>(c), 100});
    merged.insert(merged.end(), {0, 64});
    const Loaded got = LoadAll(Document(Header(1, 4, 1, 2, 8, 3), {}, merged));
    ASSERT_EQ(got.rc, 0);
    EXPECT_EQ(got.pixels[0][4 + 2], 100);
    EXPECT_EQ(got.pixels[0][4 + 3], 64);
}

TEST(PsdReader, LargeDocumentVariant) {
    std::vector<LayerSpec> layers{SolidLayer(0, 0, 2, 2, 5, 6, 7, 255)};
    layers[0].pascalName = "big";
    const Bytes file = Document(Header(2, 3, 2, 2, 8, 3), LayerInfo(layers, false, true),
                                RawMerged(4, {5, 6, 7}), true);
    const Loaded got = LoadAll(file);
    ASSERT_EQ(got.rc, 0);
    ASSERT_EQ(got.infos.size(), 2u);
    EXPECT_STREQ(got.infos[1].name, "big");
    EXPECT_EQ(got.pixels[1][0], 7);
    EXPECT_EQ(got.pixels[1][2], 5);
}

TEST(PsdReader, RefusesWhatItCannotRead) {
    EXPECT_EQ(LoadAll(Document(Header(1, 4, 2, 2, 8, 4), {}, RawMerged(4, {0, 0, 0, 0}))).rc,
              TLPSD_E_COLOUR_MODE); // CMYK
    for (int mode : {0, 2, 7, 8, 9})
        EXPECT_EQ(LoadAll(Document(Header(1, 3, 2, 2, 8, mode), {}, RawMerged(4, {0, 0, 0}))).rc,
                  TLPSD_E_COLOUR_MODE)
            << mode;
    EXPECT_EQ(LoadAll(Document(Header(1, 3, 2, 2, 32, 3), {}, RawMerged(4, {0, 0, 0}))).rc,
              TLPSD_E_DEPTH);
    EXPECT_EQ(LoadAll(Document(Header(3, 3, 2, 2, 8, 3), {}, RawMerged(4, {0, 0, 0}))).rc,
              TLPSD_E_VERSION);
    EXPECT_EQ(LoadAll(Document(Header(1, 3, 30001, 2, 8, 3), {}, RawMerged(4, {0, 0, 0}))).rc,
              TLPSD_E_TOO_LARGE);
    EXPECT_EQ(LoadAll(Document(Header(1, 3, 2, 30001, 8, 3), {}, RawMerged(4, {0, 0, 0}))).rc,
              TLPSD_E_TOO_LARGE);
    Bytes notPsd = Document(Header(1, 3, 2, 2, 8, 3), {}, RawMerged(4, {0, 0, 0}));
    notPsd[0] = 'X';
    EXPECT_EQ(LoadAll(notPsd).rc, TLPSD_E_SIGNATURE);

    // 10001 layers are refused before any record is read.
    Bytes many;
    Put16(many, 10001);
    many.insert(many.end(), 10001 * 40, 0);
    EXPECT_EQ(LoadAll(Document(Header(1, 3, 1, 1, 8, 3), many, RawMerged(1, {0, 0, 0}))).rc,
              TLPSD_E_TOO_MANY);
    EXPECT_NE(TlPsdLoad_Open("/nonexistent/x.psd", TLPSD_LOAD_BGRA8, nullptr), 0);
    TlPsdLoad_Close();
}

TEST(PsdReader, EveryTruncationFailsCleanly) {
    std::vector<LayerSpec> layers{SolidLayer(0, 0, 3, 2, 1, 2, 3, 128)};
    layers[0].unicodeName = u"name";
    Bytes merged;
    Put16(merged, 1);
    for (int i = 0; i < 8; ++i)
        Put16(merged, 2);
    for (int i = 0; i < 8; ++i)
        merged.insert(merged.end(), {0xFE, 9});
    const Bytes file = Document(Header(1, 4, 2, 3, 8, 3), LayerInfo(layers, true), merged);
    ASSERT_EQ(LoadAll(file).rc, 0);
    for (std::size_t n = 0; n < file.size(); ++n) {
        const Bytes cut(file.begin(), file.begin() + static_cast<long>(n));
        EXPECT_NE(LoadAll(cut).rc, 0) << "cut at " << n;
    }
}

TEST(PsdReader, InconsistentLengthsAreErrors) {
    // A channel length that reaches past its section.
    std::vector<LayerSpec> layers{SolidLayer(0, 0, 2, 2, 1, 2, 3, 255)};
    Bytes info = LayerInfo(layers, false);
    info[2 + 16 + 2 + 2 + 3] = 0xFF; // low byte of the first channel's length
    EXPECT_NE(LoadAll(Document(Header(1, 3, 2, 2, 8, 3), info, RawMerged(4, {0, 0, 0}))).rc, 0);

    // A run-length row that decodes to more than its width.
    Bytes merged;
    Put16(merged, 1);
    for (int i = 0; i < 3; ++i)
        Put16(merged, 2);
    for (int i = 0; i < 3; ++i)
        merged.insert(merged.end(), {0xFD, 1}); // 4 bytes into a row of 2
    EXPECT_EQ(LoadAll(Document(Header(1, 3, 1, 2, 8, 3), {}, merged)).rc, TLPSD_E_DECODE);

    // Unknown compression.
    Bytes odd;
    Put16(odd, 7);
    odd.insert(odd.end(), 12, 0);
    EXPECT_EQ(LoadAll(Document(Header(1, 3, 1, 2, 8, 3), {}, odd)).rc, TLPSD_E_COMPRESSION);
}

TEST(PsdReader, GetImageChecksItsArguments) {
    const Bytes file = Document(Header(1, 3, 2, 2, 8, 3), {}, RawMerged(4, {1, 2, 3}));
    ASSERT_EQ(TlPsdLoad_OpenMemory(file.data(), file.size(), TLPSD_LOAD_BGRA8), 0);
    std::vector<std::uint8_t> px(16);
    TlPsdRect rect{0, 0, 2, 2};
    EXPECT_EQ(TlPsdLoad_GetImage(-1, px.data(), 15, &rect), TLPSD_E_ARGUMENT);
    EXPECT_EQ(TlPsdLoad_GetImage(0, px.data(), px.size(), &rect), TLPSD_E_ARGUMENT);
    TlPsdRect negative{0, 0, -2, 2};
    EXPECT_EQ(TlPsdLoad_GetImage(-1, px.data(), px.size(), &negative), TLPSD_E_ARGUMENT);
    // A rectangle reaching past the canvas: the outside part stays 0.
    TlPsdRect shifted{1, 0, 3, 2};
    ASSERT_EQ(TlPsdLoad_GetImage(-1, px.data(), px.size(), &shifted), 0);
    EXPECT_EQ(px[0], 3);
    EXPECT_EQ(px[4 + 3], 0);
    TlPsdLoad_Close();
    EXPECT_EQ(TlPsdLoad_GetLayerCount(), -TLPSD_E_NOT_OPEN);
}

TEST(PsdReader, EachThreadHasItsOwnInput) {
    const Bytes red = Document(Header(1, 3, 1, 1, 8, 3), {}, RawMerged(1, {255, 0, 0}));
    const Bytes blue = Document(Header(1, 3, 1, 1, 8, 3), {}, RawMerged(1, {0, 0, 255}));
    ASSERT_EQ(TlPsdLoad_OpenMemory(red.data(), red.size(), TLPSD_LOAD_BGRA8), 0);
    std::uint8_t other[4] = {};
    std::thread t([&] {
        ASSERT_EQ(TlPsdLoad_OpenMemory(blue.data(), blue.size(), TLPSD_LOAD_BGRA8), 0);
        TlPsdRect r{0, 0, 1, 1};
        TlPsdLoad_GetImage(-1, other, 4, &r);
        TlPsdLoad_Close();
    });
    t.join();
    std::uint8_t mine[4] = {};
    TlPsdRect r{0, 0, 1, 1};
    ASSERT_EQ(TlPsdLoad_GetImage(-1, mine, 4, &r), 0);
    TlPsdLoad_Close();
    EXPECT_EQ(mine[2], 255);
    EXPECT_EQ(other[0], 255);
    EXPECT_EQ(other[2], 0);
}

TEST(PsdReader, SixteenBitLayersInTheirTaggedBlock) {
    // 16-bit documents keep their layer records in an "Lr16" block after the
    // global mask; here one 2 x 1 layer with zip-predicted channels.
    const auto channel = [](unsigned a, unsigned b) {
        Bytes plane;
        Put16(plane, a);
        Put16(plane, b);
        Bytes out;
        Put16(out, 3);
        Append(out, Zip(Predict(plane, 4, 2)));
        return out;
    };
    LayerSpec l;
    l.right = 2;
    l.bottom = 1;
    l.pascalName = "deep";
    l.channels = {{-1, channel(0xFFFF, 0x8000)},
                  {0, channel(0x0000, 0xFFFF)},
                  {1, channel(0x1234, 0x1234)},
                  {2, channel(0xFFFF, 0x0101)}};
    const Bytes records = LayerInfo({l}, false);
    Bytes section;
    Put32(section, 0); // empty plain layer info
    Put32(section, 0); // global mask
    PutText(section, "8BIMLr16");
    Put32(section, static_cast<std::uint32_t>(records.size()));
    Append(section, records);
    Bytes file = Header(1, 3, 1, 2, 16, 3);
    Put32(file, static_cast<std::uint32_t>(section.size()));
    Append(file, section);
    Bytes merged;
    Put16(merged, 0);
    merged.insert(merged.end(), 12, 0);
    Append(file, merged);

    const Loaded got = LoadAll(file);
    ASSERT_EQ(got.rc, 0);
    ASSERT_EQ(got.infos.size(), 2u);
    EXPECT_STREQ(got.infos[1].name, "deep");
    // round(v * 255 / 65535): 0x8000 -> 128, 0x1234 -> 18, 0x0101 -> 1.
    const std::uint8_t want[8] = {255, 18, 0, 255, 1, 18, 255, 128};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(got.pixels[1][i], want[i]) << i;
}

TEST(PsdReader, SmallFilesCannotClaimLargePictures) {
    // A 30000 x 30000 canvas whose run-length data is a few bytes long.
    Bytes merged;
    Put16(merged, 1);
    merged.insert(merged.end(), 64, 0);
    EXPECT_EQ(LoadAll(Document(Header(1, 3, 30000, 30000, 8, 3), {}, merged)).rc, TLPSD_E_READ);
    // A 20000 x 20000 layer with 10 bytes of raw data per channel.
    LayerSpec big;
    big.right = big.bottom = 20000;
    for (std::int16_t id : {-1, 0, 1, 2})
        big.channels.push_back({id, FlatChannel(10, 1)});
    EXPECT_EQ(LoadAll(Document(Header(1, 3, 1, 1, 8, 3), LayerInfo({big}, false),
                               RawMerged(1, {0, 0, 0})))
                  .rc,
              TLPSD_E_CORRUPT);
}
