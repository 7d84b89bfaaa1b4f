#include "base/AtomicFile.h"

#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <system_error>
#include <vector>

namespace pelo {
namespace {

int CountEntries(const std::filesystem::path& folder) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

TEST(AtomicFile, RemovePendingTemporariesRemovesOpenOnesOnly) {
    test::TempDir dir;
    AtomicFile done;
    ASSERT_TRUE(done.Open(dir.file("done.bin")));
    ASSERT_TRUE(done.Write("x", 1));
    ASSERT_TRUE(done.Commit());
    AtomicFile first, second;
    ASSERT_TRUE(first.Open(dir.file("a.bin")));
    ASSERT_TRUE(second.Open(dir.file("b.bin")));
    ASSERT_TRUE(first.Write("abc", 3));
    ASSERT_EQ(CountEntries(dir.path()), 3);

    RemovePendingTemporaries();
    EXPECT_EQ(CountEntries(dir.path()), 1);
    EXPECT_EQ(test::ReadFileText(dir.file("done.bin")), "x");
    EXPECT_FALSE(first.Commit());
    EXPECT_EQ(first.reason(),
              "cannot replace the output file: " + std::generic_category().message(ENOENT));
}

TEST(AtomicFile, WritingGoesOnWhenTheTableOfTemporariesIsFull) {
    test::TempDir dir;
    constexpr int kFiles = 300; // more than the table holds
    std::vector<std::unique_ptr<AtomicFile>> files;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(std::make_unique<AtomicFile>());
        ASSERT_TRUE(files.back()->Open(dir.file(std::to_string(i)))) << files.back()->reason();
    }
    RemovePendingTemporaries(); // the listed ones go, the others stay
    int committed = 0;
    for (auto& f : files)
        committed += f->Write("x", 1) && f->Commit();
    EXPECT_GT(committed, 0);
    EXPECT_LT(committed, kFiles);
    EXPECT_EQ(CountEntries(dir.path()), committed);
}

} // namespace
} // namespace pelo
