#include "pipeline/BatchFiles.h"

#include "pipeline/FileKinds.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace pelo {
namespace {

using Strings = std::vector<std::string>;

void Touch(const test::TempDir& dir, const std::string& name) {
    std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
    test::WriteFileBytes(dir.file(name), {1});
}

TEST(BatchPaths, OutputNameReplacesTheExtensionAfterTheLastDot) {
    EXPECT_EQ(FormOutputPath("/out", "a.eri", "*.TGA"), "/out/a.TGA");
    EXPECT_EQ(FormOutputPath("/out", "a.JPEG", "*.TGA"), "/out/a.TGA");
    EXPECT_EQ(FormOutputPath("/out", "pic.png", "*.TIFF"), "/out/pic.TIFF");
    EXPECT_EQ(FormOutputPath("/out", "sub/Pic.Png", "*.JPG"), "/out/sub/Pic.JPG");
    EXPECT_EQ(FormOutputPath("/out", "v1.2/a.b.png", "*.GIF"), "/out/v1.2/a.b.GIF");
    EXPECT_EQ(FormOutputPath("/out/", "a.png", "*.PNG"), "/out/a.PNG");
    EXPECT_EQ(FormOutputPath("./", "a.png", "*.BMP"), "./a.BMP");
    EXPECT_EQ(FormOutputPath("out", "x.d/noext", "*.BMP"), "out/x.d/noext.BMP");
    // A long folder is no problem: no fixed-size buffers.
    const std::string deep(600, 'd');
    EXPECT_EQ(FormOutputPath("/" + deep, "a.png", "*.TGA"), "/" + deep + "/a.TGA");
    EXPECT_EQ(FormInputPath("/in", "sub/a.png"), "/in/sub/a.png");
    EXPECT_EQ(FormInputPath("", "a.png"), "./a.png");
}

TEST(BatchPaths, FormatsAreSpelledAsTheListsSpellThem) {
    EXPECT_EQ(NormalisePattern("png"), "*.PNG");
    EXPECT_EQ(NormalisePattern("PNG"), "*.PNG");
    EXPECT_EQ(NormalisePattern("*.png"), "*.PNG");
    EXPECT_EQ(NormalisePattern(".Tiff"), "*.TIFF");
    EXPECT_EQ(NormalisePattern(""), "");
    EXPECT_EQ(NormalisePattern("*."), "");
    EXPECT_EQ(NormalisePattern("p/ng"), "");
}

TEST(FileKinds, TheNameDecidesWithTheLetterCasesOfEachColumnAndFoldersNever) {
    EXPECT_TRUE(IsLayeredPsdPair("/in/a.PSD", "/out/a.PSD"));
    EXPECT_TRUE(IsLayeredPsdPair("/in/a.psd", "/out/a.Psd"));
    EXPECT_FALSE(IsLayeredPsdPair("/in.psd/a.png", "/out/a.PSD"));
    EXPECT_FALSE(IsLayeredPsdPair("/in/a.PSD", "/out/a.TGA"));
    EXPECT_FALSE(IsLayeredPsdPair(".psd", "/out/a.PSD"));

    EXPECT_EQ(WriterFor("/out/a.TGA"), SaveWriter::Tga);
    EXPECT_EQ(WriterFor("/out/a.tga"), SaveWriter::Tga);
    EXPECT_EQ(WriterFor("/out/a.Tga"), SaveWriter::Codec);
    EXPECT_EQ(WriterFor("/out/a.PSD"), SaveWriter::Psd);
    EXPECT_EQ(WriterFor("/x.tga_dir/a.PNG"), SaveWriter::Codec);
    EXPECT_EQ(WriterFor("/x.psd/a.PNG"), SaveWriter::Codec);

    EXPECT_EQ(LoaderFor("/in/a.ERI"), LoaderKind::Eri);
    EXPECT_EQ(LoaderFor("/in/a.Eri"), LoaderKind::Codec);
    EXPECT_EQ(LoaderFor("/in/a.svg"), LoaderKind::Metafile);
    EXPECT_EQ(LoaderFor("/in/a.SVG"), LoaderKind::Codec);
    for (const char* path : {"/x.svg/a.png", "/x.psd/a.png", "/x.eri/a.png"})
        EXPECT_EQ(LoaderFor(path), LoaderKind::Codec) << path;

    EXPECT_TRUE(IsAlphaOutput("/out/a.png"));
    EXPECT_FALSE(IsAlphaOutput("/x.PNG/a.JPG")); // flattened whatever the folder says
}

TEST(BatchListing, WildcardsIgnoreCase) {
    EXPECT_TRUE(WildcardMatch("*.ERI", "a.eri"));
    EXPECT_TRUE(WildcardMatch("*.ERI", "B.Eri"));
    EXPECT_TRUE(WildcardMatch("*.ERI", "x.y.ERI"));
    EXPECT_FALSE(WildcardMatch("*.ERI", "x.ERI.bak"));
    EXPECT_FALSE(WildcardMatch("*.ERI", "eri"));
    EXPECT_TRUE(WildcardMatch("a?c*", "abcdef"));
    EXPECT_FALSE(WildcardMatch("a?c", "ac"));
}

TEST(BatchListing, NonRecursiveListsMatchingFilesAndBracketedFolders) {
    test::TempDir dir;
    for (const char* name : {"a.eri", "b.ERI", "c.txt", "x.ERI.bak", "sub/d.Eri"})
        Touch(dir, name);
    std::filesystem::create_directories(dir.file("old.ERI"));
    Strings list;
    ASSERT_TRUE(ListFolder(dir.path().string(), "*.ERI", list));
    SortFileList(list);
    EXPECT_EQ(list, (Strings{"[old.ERI]", "a.eri", "b.ERI"}));
    EXPECT_TRUE(IsFolderEntry(dir.path().string(), "[old.ERI]"));
    Strings files; // the command line's listing: no folder to fail on
    ASSERT_TRUE(ListFolder(dir.path().string(), "*.ERI", files, false));
    SortFileList(files);
    EXPECT_EQ(files, (Strings{"a.eri", "b.ERI"}));
    Strings none;
    EXPECT_FALSE(ListFolder(dir.file("missing"), "*.ERI", none));
}

TEST(BatchListing, RecursiveComparesWholeExtensionsOfAnyLength) {
    test::TempDir dir;
    for (const char* name : {"a.eri", "b.ERI", "c.txt", "x.ERI.bak", "sub/d.Eri", "sub/deep/e.eri",
                             "b.jpeg", "c.JPG", "sub/f.JPEG", "g.xjpeg"})
        Touch(dir, name);
    std::filesystem::create_directories(dir.file("folder.eri"));
    Strings eri;
    CollectFilesRecursive(dir.path().string(), ".ERI", eri);
    SortFileList(eri);
    EXPECT_EQ(eri, (Strings{"a.eri", "b.ERI", "sub/d.Eri", "sub/deep/e.eri"}));
    Strings jpeg;
    CollectFilesRecursive(dir.path().string() + "/", ".JPEG", jpeg);
    SortFileList(jpeg);
    EXPECT_EQ(jpeg, (Strings{"b.jpeg", "sub/f.JPEG"}));
}

TEST(BatchListing, RecursiveWalkDoesNotFollowFolderLinks) {
    test::TempDir dir;
    Touch(dir, "sub/a.png");
    std::filesystem::create_directory_symlink(dir.path(), dir.file("sub/loop"));
    Strings list;
    CollectFilesRecursive(dir.path().string(), ".PNG", list);
    EXPECT_EQ(list, (Strings{"sub/a.png"}));
}

TEST(BatchListing, SortIgnoresCaseAndIsTotal) {
    Strings list = {"b.png", "A.png", "a.png", "sub/c.png", "B.PNG", "[old.png]"};
    SortFileList(list);
    EXPECT_EQ(list, (Strings{"[old.png]", "A.png", "a.png", "B.PNG", "b.png", "sub/c.png"}));
}

} // namespace
} // namespace pelo
