// The batch runner: what its plan refuses, what it counts as converted, and
// the files it reaches.
#include "pipeline/BatchRunner.h"

#include "formats/Codec.h"
#include "pipeline/BatchFiles.h"
#include "pipeline/ConversionSession.h"
#include "pipeline/FileSystem.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;
using test::TempDir;

// A sprite-like picture with a diagonal edge, written through the codec.
void WriteEdge(const std::string& path, int size = 32) {
    fs::create_directories(fs::path(path).parent_path());
    auto image = test::SolidImage(size, size, 0, 0, 0, 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < y; ++x) {
            image->pixel(x, y)[2] = 255;
            image->pixel(x, y)[3] = 255;
        }
    PackedDib block;
    ASSERT_TRUE(ConvertImageToDib(*image, block));
    ASSERT_EQ(SaveCodecImage(path, block), 0) << path;
}

class Recorder : public BatchObserver {
public:
    void FileFinished(std::size_t i, const BatchEntry&, const Status& status) override {
        finished.emplace_back(i, status.code);
    }
    std::vector<std::pair<std::size_t, StatusCode>> finished;
};

BatchSummary RunAll(const std::vector<BatchEntry>& entries, BatchOptions options = {}) {
    Recorder recorder;
    BatchSummary summary = RunBatch(entries, options, recorder);
    EXPECT_EQ(recorder.finished.size(), entries.size()); // every entry is reported once
    return summary;
}

TEST(BatchPlan, InputsAreNeverReplacedUnlessAskedAndNoTwoEntriesShareAnOutput) {
    TempDir dir;
    WriteEdge(dir.file("in/a.png"));
    WriteEdge(dir.file("in/b.png"));
    fs::copy_file(dir.file("in/b.png"), dir.file("in/b.PNG"));
    fs::create_hard_link(dir.file("in/a.png"), dir.file("in/link.png"));
    const Bytes original = ReadFileBytes(dir.file("in/a.png"));
    const std::vector<BatchEntry> entries = {
        {dir.file("in/a.png"), dir.file("in/./a.png")}, // itself, spelled otherwise
        {dir.file("in/b.PNG"), dir.file("out/b.TGA")},
        {dir.file("in/b.png"), dir.file("out/b.TGA")},   // same output as the entry before
        {dir.file("in/b.png"), dir.file("in/link.png")}, // another name of an input
    };

    const BatchSummary refused = RunAll(entries);
    EXPECT_EQ(refused.results[0].code, StatusCode::WouldReplace);
    EXPECT_TRUE(refused.results[1].ok()) << refused.results[1].reason;
    EXPECT_EQ(refused.results[2].code, StatusCode::Collision);
    EXPECT_NE(refused.results[2].reason.find(entries[1].input), std::string::npos);
    EXPECT_EQ(refused.results[3].code, StatusCode::WouldReplace);
    EXPECT_EQ(refused.converted, 1u);
    EXPECT_EQ(refused.failed, 3u);
    EXPECT_EQ(ReadFileBytes(dir.file("in/a.png")), original);

    BatchOptions inPlace;
    inPlace.inPlace = true;
    EXPECT_EQ(PlanBatch(entries, true).wouldReplace, 2u);
    const BatchSummary asked = RunAll(entries, inPlace);
    EXPECT_TRUE(asked.results[0].ok()) << asked.results[0].reason;
    EXPECT_EQ(asked.results[2].code, StatusCode::Collision);
    EXPECT_NE(ReadFileBytes(dir.file("in/a.png")), original);
}

TEST(BatchRun, AFailedLoadAfterAGoodFileWritesNothingAndCountsAsFailed) {
    TempDir dir;
    WriteEdge(dir.file("in/a.png"), 64);
    WriteEdge(dir.file("in/b.png"), 64);
    Bytes cut = ReadFileBytes(dir.file("in/b.png"));
    cut.resize(cut.size() - 20);
    test::WriteFileBytes(dir.file("in/b.png"), cut);
    ASSERT_EQ(::mkfifo(dir.file("in/c.png").c_str(), 0600), 0);
    const BatchSummary summary = RunAll({{dir.file("in/a.png"), dir.file("out/a.TGA")},
                                         {dir.file("in/b.png"), dir.file("out/b.TGA")},
                                         {dir.file("in/c.png"), dir.file("out/c.TGA")}});
    EXPECT_TRUE(summary.results[0].ok());
    EXPECT_EQ(summary.results[1].code, StatusCode::Damaged) << summary.results[1].reason;
    EXPECT_EQ(summary.results[2].code, StatusCode::CannotRead) << summary.results[2].reason;
    EXPECT_FALSE(fs::exists(dir.file("out/b.TGA")));
    EXPECT_FALSE(fs::exists(dir.file("out/c.TGA")));
}

TEST(BatchRun, APictureThatCannotBeSmoothedIsNotWritten) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
#else
    TempDir dir;
    // 16 MiB of pixels in rows so wide that the edge spread's row ring
    // (2 MiB) is a mapping of its own, like the picture.
    constexpr int kWidth = 65536, kHeight = 64;
    {
        auto image = test::SolidImage(kWidth, kHeight, 0, 0, 0, 0);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < y * 1024; ++x)
                image->pixel(x, y)[3] = 255;
        PackedDib block;
        ASSERT_TRUE(ConvertImageToDib(*image, block));
        ASSERT_EQ(SaveCodecImage(dir.file("wide.png"), block), 0);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        mallopt(M_MMAP_THRESHOLD, 1 << 20); // freed pictures leave the address space
        ConversionSession session;
        // A first load maps what a load needs besides the picture; the limit
        // then leaves room for the picture and 1 MiB, not for the ring.
        (void)session.LoadImageFile(dir.file("wide.png"));
        long pages = 0, resident = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) pages = 0;
            std::fclose(f);
        }
        const rlim_t bytes = static_cast<rlim_t>(pages) * 4096 + (17 << 20);
        const rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_AS, &limit);
        const bool ok = session.ProcessFile(dir.file("wide.png"), dir.file("wide.TGA"));
        ::_exit(!ok && session.failure.code == StatusCode::NotSmoothed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(dir.file("wide.TGA")));
#endif
}

TEST(BatchRun, AStoppedRunStartsNoFileAndAPictureOverTheBudgetStillRuns) {
    TempDir dir;
    std::vector<BatchEntry> entries;
    for (const char* name : {"a", "b", "c", "d"}) {
        WriteEdge(dir.file(std::string("in/") + name + ".png"));
        entries.push_back({dir.file(std::string("in/") + name + ".png"),
                           dir.file(std::string("out/") + name + ".TGA")});
    }
    std::atomic<bool> stop{true};
    BatchOptions stopped;
    stopped.stop = &stop;
    const BatchSummary none = RunAll(entries, stopped);
    EXPECT_EQ(none.notProcessed, 4u);
    EXPECT_FALSE(fs::exists(dir.file("out")));

    BatchOptions tight;
    tight.jobs = 2;
    tight.memoryBudget = 1; // every picture is over it: each waits until it is alone
    EXPECT_EQ(RunAll(entries, tight).converted, 4u);
}

TEST(BatchListing, RecursionLeavesOutTheOutputFolderAndReachesPastPathMax) {
    TempDir dir;
    WriteEdge(dir.file("in/top.png"));
    WriteEdge(dir.file("in/out/old.png")); // an earlier run's output
    // Folders nested past PATH_MAX, made one step at a time.
    std::string deep = dir.file("in");
    std::string relative;
    const std::string step(200, 'd');
    ASSERT_EQ(::chdir(deep.c_str()), 0);
    for (int level = 0; relative.size() < PATH_MAX + 200; ++level) {
        const std::string name = step + std::to_string(level);
        ASSERT_EQ(::mkdir(name.c_str(), 0777), 0);
        ASSERT_EQ(::chdir(name.c_str()), 0);
        relative += name + "/";
    }
    fs::copy_file(dir.file("in/top.png"), "deep.png");
    ASSERT_EQ(::chdir("/"), 0);

    std::vector<std::string> list;
    CollectFilesRecursive(dir.file("in"), ".PNG", list, dir.file("in/out"));
    SortFileList(list);
    ASSERT_EQ(list, (std::vector<std::string>{relative + "deep.png", "top.png"}));

    const std::string input = FormInputPath(dir.file("in"), list[0]);
    const std::string output = FormOutputPath(dir.file("in/out"), list[0], "*.TGA");
    const BatchSummary summary = RunAll({{input, output}});
    EXPECT_TRUE(summary.results[0].ok()) << summary.results[0].reason;
    EXPECT_TRUE(IdOf(output).has_value()); // written, though its path is too long to name
    // The tree is deeper than the file-system library can remove.
    EXPECT_EQ(std::system(("rm -rf '" + dir.file("in") + "'").c_str()), 0);
}

} // namespace
} // namespace pelo
