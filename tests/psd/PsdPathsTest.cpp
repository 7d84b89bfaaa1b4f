// The PSD paths of the program: start-up load of the library, the flat load
// with its rebuilt alpha, the layered conversion and the single-layer save.
#include "formats/PsdLibrary.h"
#include "formats/PsdSave.h"
#include "formats/SaveDispatch.h"
#include "pipeline/ConversionSession.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"
#include "tests/tlpsdex/PsdBytes.h"
#include "tests/tlpsdex/PsdTool.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using pelo::PsdLayerInfo;
using pelo::PsdRect;
using psdtool::Pixels;

class RecordingSink : public pelo::MessageSink {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

struct Layer {
    PsdLayerInfo info = pelo::kPsdLayerInfoDefaults;
    Pixels pixels;
};

PsdLayerInfo Record(PsdRect rect, const char* name, int visible = 1, int opacity = 255) {
    PsdLayerInfo info = pelo::kPsdLayerInfoDefaults;
    info.rect = rect;
    std::snprintf(info.name, sizeof(info.name), "%s", name);
    info.visible = visible;
    info.opacity = opacity;
    return info;
}

// w x h of one BGRA colour; alpha given.
Pixels Fill(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
    Pixels px(4u * w * h);
    for (std::size_t i = 0; i < px.size(); i += 4)
        px[i] = b, px[i + 1] = g, px[i + 2] = r, px[i + 3] = a;
    return px;
}

// A hard-edged disc of colour (b, g, r) on transparent pixels.
Pixels Disc(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Pixels px(4u * w * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int dx = 2 * x + 1 - w, dy = 2 * y + 1 - h;
            if (dx * dx + dy * dy > w * h) continue;
            std::uint8_t* p = &px[4u * (y * w + x)];
            p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
        }
    return px;
}

bool WritePsd(const std::string& path, int w, int h, const Pixels& merged,
              const std::vector<Layer>& layers) {
    const pelo::PsdLibrary* lib = pelo::Psd();
    if (!lib || lib->TlPsdSave_Open(path.c_str(), TLPSD_SAVE_RGB8, TLPSD_SAVE_OPTION_DEFAULTS) != 0)
        return false;
    lib->TlPsdSave_SetImage(merged.data(), w, h);
    for (const Layer& l : layers)
        lib->TlPsdSave_SetLayer(l.pixels.data(), &l.info);
    return lib->TlPsdSave_Close() == 0;
}

// Reads a document back through the library, layers unclipped.
bool ReadPsd(const std::string& path, PsdLayerInfo& merged, Pixels& mergedPixels,
             std::vector<Layer>& layers) {
    const pelo::PsdLibrary* lib = pelo::Psd();
    if (lib->TlPsdLoad_Open(path.c_str(), TLPSD_LOAD_BGRA8, nullptr) != 0) return false;
    merged.index = -1;
    lib->TlPsdLoad_GetImageInfo(&merged);
    mergedPixels.resize(4u * merged.rect.right * merged.rect.bottom);
    bool ok =
        lib->TlPsdLoad_GetImage(-1, mergedPixels.data(), mergedPixels.size(), &merged.rect) == 0;
    layers.clear();
    for (int i = 0; ok && i < lib->TlPsdLoad_GetLayerCount(); ++i) {
        Layer l;
        l.info.index = i;
        lib->TlPsdLoad_GetImageInfo(&l.info);
        l.pixels.resize(4u * (l.info.rect.right - l.info.rect.left) *
                        (l.info.rect.bottom - l.info.rect.top));
        ok = lib->TlPsdLoad_GetImage(i, l.pixels.data(), l.pixels.size(), &l.info.rect) == 0;
        layers.push_back(l);
    }
    lib->TlPsdLoad_Close();
    return ok;
}

// Runs pelo-batch -q with the given (quoted) arguments.
int RunBatch(const std::string& args) {
    std::string command = "'";
    command += PELO_BINARY_DIR;
    command += "/bin/pelo-batch' -q ";
    command += args;
    return pelo::test::RunCommand(command);
}

std::string Quoted(const std::string& s) {
    std::string q = "'";
    q += s;
    q += "'";
    return q;
}

int AlphaAt(const pelo::ImageBuffer& image, int x, int y) {
    return image.pixel(x, y)[3];
}

class PsdPaths : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pelo::InitialLoadDll());
        session.sink = &sink;
    }
    pelo::test::TempDir dir;
    RecordingSink sink;
    pelo::ConversionSession session;
};

} // namespace

TEST_F(PsdPaths, BatchProgramEndsWithStatusTwoWithoutTheLibrary) {
    // A copy of the program in a folder with no library beside it.
    const std::string bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    std::filesystem::copy_file(std::string(PELO_BINARY_DIR) + "/bin/pelo-batch",
                               bin + "/pelo-batch");
    const std::string err = dir.file("err.txt");
    EXPECT_EQ(
        pelo::test::RunCommand("'" + bin + "/pelo-batch' --version 2>'" + err + "' >/dev/null"), 2);
    const Pixels text = pelo::test::ReadFileBytes(err);
    EXPECT_EQ(std::string(text.begin(), text.end()), "Error: InitialLoadDll()\n");
}

TEST_F(PsdPaths, FlatLoadRebuildsAlphaFromVisibleLayers) {
    // Canvas 10 x 4, merged colour (b 10, g 20, r 30). Layers:
    //  A opaque at x 0..3, opacity 255; B hidden, opaque, covering x 4..9;
    //  C opaque at x 4..5, opacity 128; D and E alpha 128 each at x 6..7 and
    //  x 6..9 overlapping at 6..7; F reaching from (-3, -3) to (1, 1).
    const Pixels merged = Fill(10, 4, 10, 20, 30, 255);
    std::vector<Layer> layers = {
        {Record({0, 0, 4, 4}, "A"), Fill(4, 4, 0, 0, 255, 255)},
        {Record({4, 0, 10, 4}, "B", 0), Fill(6, 4, 0, 255, 0, 255)},
        {Record({4, 0, 6, 4}, "C", 1, 128), Fill(2, 4, 255, 0, 0, 255)},
        {Record({6, 0, 8, 2}, "D"), Fill(2, 2, 1, 1, 1, 128)},
        {Record({6, 0, 10, 2}, "E"), Fill(4, 2, 1, 1, 1, 128)},
        {Record({-3, 2, 1, 6}, "F"), Fill(4, 4, 1, 1, 1, 255)},
    };
    const std::string path = dir.file("flat.psd");
    ASSERT_TRUE(WritePsd(path, 10, 4, merged, layers));
    pelo::ImagePtr image = session.LoadImageFile(path);
    ASSERT_TRUE(image) << session.failure.reason;
    ASSERT_EQ(image->width, 10);
    ASSERT_EQ(image->height, 4);
    EXPECT_EQ(image->pixel(9, 3)[0], 10); // colours are the merged image's
    EXPECT_EQ(image->pixel(9, 3)[2], 30);
    EXPECT_EQ(AlphaAt(*image, 0, 0), 255);      // A
    EXPECT_NEAR(AlphaAt(*image, 4, 3), 128, 1); // C at opacity 128
    EXPECT_NEAR(AlphaAt(*image, 6, 0), 192, 1); // D and E: 255 - 127 * 127 / 255
    EXPECT_NEAR(AlphaAt(*image, 8, 0), 128, 1); // E alone
    EXPECT_EQ(AlphaAt(*image, 8, 3), 0);        // only the hidden B
    EXPECT_EQ(AlphaAt(*image, 9, 2), 0);
    EXPECT_EQ(session.psd.psdLayers.size(), 6u); // hidden layers are kept
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(PsdPaths, FlatLoadOfALayerPartlyOutsideTheCanvas) {
    // F covers canvas pixels x 0 only at rows 2..3 after the clip.
    const std::vector<Layer> layers = {{Record({-3, 2, 1, 6}, "F"), Fill(4, 4, 1, 1, 1, 255)}};
    const std::string path = dir.file("outside.psd");
    ASSERT_TRUE(WritePsd(path, 4, 4, Fill(4, 4, 9, 9, 9, 255), layers));
    pelo::ImagePtr image = session.LoadImageFile(path);
    ASSERT_TRUE(image);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(AlphaAt(*image, x, y), x == 0 && y >= 2 ? 255 : 0) << x << "," << y;
    const PsdRect& kept = session.psd.psdLayers[0].info.rect;
    EXPECT_EQ(kept.left, 0);
    EXPECT_EQ(kept.right, 1);
    EXPECT_EQ(kept.top, 2);
    EXPECT_EQ(kept.bottom, 4);
}

TEST_F(PsdPaths, FlattenedDocumentKeepsItsOwnAlpha) {
    // No layers at all: the merged image's transparency is the picture's.
    Pixels merged = Fill(3, 1, 50, 100, 150, 255);
    merged[4 + 3] = 0;
    merged[8 + 3] = 200;
    const std::string path = dir.file("flattened.psd");
    ASSERT_TRUE(WritePsd(path, 3, 1, merged, {}));
    pelo::ImagePtr image = session.LoadImageFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(AlphaAt(*image, 0, 0), 255);
    EXPECT_EQ(AlphaAt(*image, 1, 0), 0);
    EXPECT_EQ(AlphaAt(*image, 2, 0), 200);
    EXPECT_NEAR(image->pixel(2, 0)[2], 150, 1);

    const std::string opaque = dir.file("opaque.psd");
    ASSERT_TRUE(WritePsd(opaque, 3, 1, Fill(3, 1, 1, 2, 3, 255), {}));
    image = session.LoadImageFile(opaque);
    ASSERT_TRUE(image);
    EXPECT_EQ(AlphaAt(*image, 1, 0), 255);
}

TEST_F(PsdPaths, OpenFailuresAreShownWithTheirCode) {
    const std::string missing = dir.file("missing.psd");
    EXPECT_FALSE(session.LoadImageFile(missing));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0], "Error: Can not open a file, " + missing + " code=1");

    // The layered path shows the same and leaves no input open: the next
    // flat load on this thread works.
    EXPECT_FALSE(session.ProcessLayeredPsd(missing, dir.file("out.psd")));
    EXPECT_EQ(sink.messages.size(), 2u);
    const std::string good = dir.file("good.psd");
    ASSERT_TRUE(WritePsd(good, 2, 2, Fill(2, 2, 1, 2, 3, 255), {}));
    EXPECT_TRUE(session.LoadImageFile(good));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.psd")));
}

TEST_F(PsdPaths, LayeredConversionKeepsHiddenLayersAndSmoothsVisibleOnes) {
    // Canvas 24 x 16: a visible hard-edged disc, a hidden one, an empty layer.
    const Pixels visible = Disc(12, 12, 0, 0, 255);
    const Pixels hidden = Disc(10, 10, 0, 255, 0);
    const std::vector<Layer> layers = {
        {Record({2, 2, 14, 14}, "visible disc", 1, 200), visible},
        {Record({12, 4, 22, 14}, "hidden disc", 0), hidden},
        {Record({0, 0, 5, 5}, "empty"), Fill(5, 5, 9, 9, 9, 0)},
    };
    const std::string in = dir.file("in.psd");
    ASSERT_TRUE(WritePsd(in, 24, 16, Fill(24, 16, 255, 255, 255, 255), layers));
    const std::string out = dir.file("new/folder/out.PSD");
    ASSERT_TRUE(session.ProcessLayeredPsd(in, out)) << session.failure.reason;
    EXPECT_FALSE(session.currentImage);

    PsdLayerInfo merged = pelo::kPsdLayerInfoDefaults;
    Pixels mergedPixels;
    std::vector<Layer> back;
    ASSERT_TRUE(ReadPsd(out, merged, mergedPixels, back));
    EXPECT_EQ(merged.rect.right, 24);
    EXPECT_EQ(merged.rect.bottom, 16);
    ASSERT_EQ(back.size(), 2u); // the empty layer is left out
    EXPECT_STREQ(back[0].info.name, "visible disc");
    EXPECT_EQ(back[0].info.visible, 1);
    EXPECT_EQ(back[0].info.opacity, 200);
    EXPECT_STREQ(back[1].info.name, "hidden disc");
    EXPECT_EQ(back[1].info.visible, 0);

    // The hidden disc fills its 10 x 10 box: unchanged rectangle, same bytes.
    EXPECT_EQ(back[1].info.rect.left, 12);
    EXPECT_EQ(back[1].info.rect.right, 22);
    EXPECT_EQ(back[1].pixels, hidden);

    // The visible disc went through the alpha pass: its edge now has
    // partial alpha, which the hard-edged input had nowhere.
    int partial = 0;
    for (std::size_t i = 3; i < back[0].pixels.size(); i += 4)
        partial += back[0].pixels[i] > 0 && back[0].pixels[i] < 255;
    EXPECT_GT(partial, 0);
}

TEST_F(PsdPaths, BatchLayeredRunMatchesTheIndependentReader) {
    // Documents made by the npm library go through pelo-batch --from psd --to psd.
    const std::string made = dir.file("in");
    ASSERT_EQ(pelo::test::RunCommand("node '" + psdtool::kTool + "' make '" + made + "'"), 0);
    std::filesystem::remove(made + "/soft.psd");
    const std::string outDir = dir.file("out");
    ASSERT_EQ(RunBatch("--from psd --to PSD " + Quoted(made) + " " + Quoted(outDir)), 0);
    pelo::test::TempDir a, b;
    const psdtool::ToolDoc input = psdtool::DumpWithTool(made + "/layered.psd", a);
    const psdtool::ToolDoc output = psdtool::DumpWithTool(outDir + "/layered.PSD", b);
    ASSERT_TRUE(input.ok);
    ASSERT_TRUE(output.ok);
    EXPECT_EQ(output.width, input.width);
    EXPECT_EQ(output.height, input.height);
    ASSERT_EQ(output.layers.size(), input.layers.size()); // none of them is empty
    for (std::size_t i = 0; i < input.layers.size(); ++i) {
        EXPECT_EQ(output.layers[i].name, input.layers[i].name);
        EXPECT_EQ(output.layers[i].hidden, input.layers[i].hidden) << input.layers[i].name;
        EXPECT_EQ(output.layers[i].opacity, input.layers[i].opacity) << input.layers[i].name;
        if (!input.layers[i].hidden) continue;
        // Hidden layers: cropped at most, every kept byte as it was.
        const TlPsdRect& o = output.layers[i].rect;
        const TlPsdRect& r = input.layers[i].rect;
        ASSERT_TRUE(o.left >= r.left && o.top >= r.top && o.right <= r.right &&
                    o.bottom <= r.bottom);
        int differing = 0;
        for (int y = o.top; y < o.bottom; ++y)
            for (int x = o.left; x < o.right; ++x)
                differing +=
                    std::memcmp(&output.layers[i]
                                     .rgba[4u * ((y - o.top) * (o.right - o.left) + (x - o.left))],
                                &input.layers[i]
                                     .rgba[4u * ((y - r.top) * (r.right - r.left) + (x - r.left))],
                                4) != 0;
        EXPECT_EQ(differing, 0) << input.layers[i].name;
    }
    // The same run with two workers writes the same bytes.
    ASSERT_EQ(RunBatch("-j 2 --from psd --to PSD " + Quoted(made) + " " + Quoted(dir.file("out2"))),
              0);
    EXPECT_EQ(pelo::test::ReadFileBytes(outDir + "/layered.PSD"),
              pelo::test::ReadFileBytes(dir.file("out2/layered.PSD")));
}

TEST_F(PsdPaths, BatchLayeredRunKeepsTheGroupTree) {
    const std::string made = dir.file("in");
    ASSERT_EQ(pelo::test::RunCommand("node '" + psdtool::kTool + "' make '" + made + "'"), 0);
    std::filesystem::remove(made + "/soft.psd");
    const std::string outDir = dir.file("out");
    ASSERT_EQ(RunBatch("--from psd --to PSD " + Quoted(made) + " " + Quoted(outDir)), 0);
    auto tree = [](const std::string& psd) {
        return psdtool::Capture("node '" + psdtool::kTool + "' tree " + Quoted(psd));
    };
    // Nesting, names, open or closed, each record's own visibility.
    EXPECT_EQ(tree(made + "/nested.psd"), "layer 0 ground\n"
                                          "open 0 outer\n"
                                          "  layer 0 a\n"
                                          "  closed 1 inner \xE3\x82\xB0\xE3\x83\xAB"
                                          "\xE3\x83\xBC\xE3\x83\x97\n"
                                          "    layer 0 b\n"
                                          "    layer 1 c\n"
                                          "  layer 0 d\n"
                                          "layer 0 top\n");
    EXPECT_EQ(tree(outDir + "/nested.PSD"), tree(made + "/nested.psd"));
    EXPECT_EQ(tree(outDir + "/layered.PSD"), tree(made + "/layered.psd"));
}

TEST_F(PsdPaths, FlatPsdToPngCarriesTheAlphaUnion) {
    // A visible opaque 6 x 6 square at (2, 2) and a hidden opaque layer over
    // the right half: the PNG is opaque inside the square, clear far from it.
    const std::vector<Layer> layers = {
        {Record({2, 2, 8, 8}, "square"), Fill(6, 6, 0, 0, 200, 255)},
        {Record({8, 0, 16, 16}, "hidden", 0), Fill(8, 16, 200, 0, 0, 255)},
    };
    const std::string in = dir.file("in.psd");
    ASSERT_TRUE(WritePsd(in, 16, 16, Fill(16, 16, 0, 0, 200, 255), layers));
    const std::string png = dir.file("out.PNG");
    ASSERT_EQ(RunBatch(Quoted(in) + " " + Quoted(png)), 0);
    Pixels rgba;
    ASSERT_TRUE(pelo::test::ReadWithImageMagick(png, 16, 16, rgba));
    EXPECT_EQ(rgba[4 * (5 * 16 + 5) + 3], 255);
    EXPECT_EQ(rgba[4 * (13 * 16 + 13) + 3], 0);
    EXPECT_EQ(rgba[4 * (2 * 16 + 12) + 3], 0);
}

TEST_F(PsdPaths, SingleLayerSaveOpensInImageMagick) {
    pelo::ImagePtr image = pelo::AllocIpl(5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            std::uint8_t* p = image->pixel(x, y);
            p[0] = static_cast<std::uint8_t>(40 * x), p[1] = static_cast<std::uint8_t>(80 * y),
            p[2] = 7, p[3] = 255;
        }
    const std::string path = dir.file("single.PSD");
    ASSERT_EQ(session.SaveImageFile(*image, path), 0);
    for (const char* frame : {"[0]", "[1]"}) {
        Pixels rgba;
        ASSERT_TRUE(pelo::test::ReadWithImageMagick(path + frame, 5, 3, rgba)) << frame;
        for (int i = 0; i < 15; ++i) {
            EXPECT_EQ(rgba[4 * i + 0], 7);
            EXPECT_EQ(rgba[4 * i + 1], 80 * (i / 5));
            EXPECT_EQ(rgba[4 * i + 2], 40 * (i % 5));
            EXPECT_EQ(rgba[4 * i + 3], 255);
        }
    }
    PsdLayerInfo merged = pelo::kPsdLayerInfoDefaults;
    Pixels mergedPixels;
    std::vector<Layer> back;
    ASSERT_TRUE(ReadPsd(path, merged, mergedPixels, back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].info.name, path.substr(0, 67));
    EXPECT_EQ(back[0].info.rect.right, 5);
    EXPECT_EQ(back[0].info.visible, 1);
    EXPECT_EQ(back[0].pixels, mergedPixels);
}

TEST(PsdLayerName, LongNamesAreCutAtACharacterBoundary) {
    const std::string ascii(80, 'a');
    EXPECT_EQ(pelo::CutLayerName(ascii).size(), 67u);
    std::string kana; // 3-byte characters: 22 fit in 67 bytes
    for (int i = 0; i < 30; ++i)
        kana += "\xE3\x81\x82";
    EXPECT_EQ(pelo::CutLayerName(kana), kana.substr(0, 66));
    EXPECT_EQ(pelo::CutLayerName("short"), "short");
}

TEST(PsdLayerName, BaseNameOfTheInputFile) {
    EXPECT_EQ(pelo::LayerNameFromPath("in/hero.png"), "hero");
    EXPECT_EQ(pelo::LayerNameFromPath("/a.b/sheet.v2.tga"), "sheet.v2");
    EXPECT_EQ(pelo::LayerNameFromPath("dir/noext"), "noext");
    EXPECT_EQ(pelo::LayerNameFromPath("dir/.hidden"), ".hidden");
    // A Latin-1 file name becomes UTF-8.
    EXPECT_EQ(pelo::LayerNameFromPath("in/h\xE9ro.png"), "h\xC3\xA9ro");
}

TEST_F(PsdPaths, FlatInputGivesItsNameToTheLayer) {
    // 30 three-byte characters: 22 fit in a record, whole, in both the
    // Pascal name and the Unicode one.
    std::string kana;
    for (int i = 0; i < 30; ++i)
        kana += "\xE3\x81\x82";
    const std::string in = dir.file("in/" + kana + ".png");
    std::filesystem::create_directories(dir.file("in"));
    ASSERT_EQ(pelo::test::RunCommand("/usr/bin/convert -size 4x3 xc:red " + Quoted(in)), 0);
    const std::string out = dir.file("out.psd");
    ASSERT_EQ(RunBatch(Quoted(in) + " " + Quoted(out)), 0);
    const psdtool::ToolDoc doc = psdtool::DumpWithTool(out, dir);
    ASSERT_EQ(doc.layers.size(), 1u);
    EXPECT_EQ(doc.layers[0].name, kana.substr(0, 66));
    PsdLayerInfo merged = pelo::kPsdLayerInfoDefaults;
    Pixels mergedPixels;
    std::vector<Layer> back;
    ASSERT_TRUE(ReadPsd(out, merged, mergedPixels, back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].info.name, kana.substr(0, 66));
}

TEST_F(PsdPaths, BatchLayeredRunOfAnImageMagickDocument) {
    // Frame 0 of an ImageMagick PSD is the merged image, the rest its layers
    // with their labels and offsets.
    const std::string in = dir.file("in");
    std::filesystem::create_directories(in);
    ASSERT_EQ(pelo::test::RunCommand("/usr/bin/convert \\( -size 20x10 xc:white \\) "
                                     "\\( -size 6x6 xc:red -set label 'red one' -set page +1+1 \\) "
                                     "\\( -size 8x5 xc:none -fill blue -draw 'rectangle 2,1 6,3' "
                                     "-set label blue -set page +10+4 \\) " +
                                     Quoted(in + "/named.psd")),
              0);
    ASSERT_EQ(RunBatch("--from psd --to PSD " + Quoted(in) + " " + Quoted(dir.file("out"))), 0);
    const std::string frames = psdtool::Capture("/usr/bin/identify -format '%l|%w %h %X %Y\\n' " +
                                                Quoted(dir.file("out/named.PSD")));
    // The blue layer is cropped to its visible pixels (5 x 3 at 12, 5).
    EXPECT_EQ(frames, "|20 10 +0 +0\nred one|6 6 +1 +1\nblue|5 3 +12 +5\n");
}

TEST_F(PsdPaths, InvertedLayerRectangleIsLeftOut) {
    // Right < left and bottom < top: a positive "area" but no pixels.
    using namespace psdtest;
    LayerSpec inverted;
    inverted.left = 5, inverted.right = 1, inverted.top = 4, inverted.bottom = 0;
    inverted.pascalName = "inverted";
    for (std::int16_t id : {-1, 0, 1, 2})
        inverted.channels.push_back({id, FlatChannel(16, 255)});
    LayerSpec fine;
    fine.right = 2, fine.bottom = 2;
    fine.pascalName = "fine";
    for (std::int16_t id : {-1, 0, 1, 2})
        fine.channels.push_back({id, FlatChannel(4, 255)});
    Bytes merged;
    Put16(merged, 0);
    merged.insert(merged.end(), 3 * 36, 100);
    const Bytes file =
        Document(Header(1, 3, 6, 6, 8, 3), LayerInfo({inverted, fine}, false), merged);
    const std::string in = dir.file("inverted.psd");
    pelo::test::WriteFileBytes(in, file);

    pelo::ImagePtr image = session.LoadImageFile(in);
    ASSERT_TRUE(image) << session.failure.reason;
    EXPECT_EQ(AlphaAt(*image, 0, 0), 255); // from "fine"
    EXPECT_EQ(AlphaAt(*image, 3, 2), 0);   // nothing from "inverted"
    EXPECT_TRUE(session.psd.psdLayers[0].pixels.empty());

    const std::string out = dir.file("inverted_out.psd");
    ASSERT_TRUE(session.ProcessLayeredPsd(in, out));
    PsdLayerInfo info = pelo::kPsdLayerInfoDefaults;
    Pixels pixels;
    std::vector<Layer> back;
    ASSERT_TRUE(ReadPsd(out, info, pixels, back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_STREQ(back[0].info.name, "fine");
}
