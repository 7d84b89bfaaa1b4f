// The memory a file's picture takes: one copy once loaded, and picture-sized
// blocks reused from file to file rather than taken fresh from the system.
#include "base/HeapReuse.h"
#include "pipeline/ConversionSession.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelo {
namespace {

TEST(PictureMemory, ALoadedPictureLivesInTheImageAlone) {
    test::TempDir dir;
    ConversionSession session;
    // The codec save leaves the picture in the block.
    ASSERT_EQ(session.SaveImageFile(*test::SolidImage(64, 32, 1, 2, 3, 128), dir.file("a.png")), 0);
    const ImagePtr image = session.LoadImageFile(dir.file("a.png"));
    ASSERT_TRUE(image) << session.failure.reason;
    EXPECT_EQ(image->pixel(63, 31)[3], 128);
    ASSERT_TRUE(session.block);
    EXPECT_LE(session.block->capacity(), kDibHeaderSize);
    EXPECT_EQ(session.block->header().biWidth, 0);
}

#if !defined(__SANITIZE_ADDRESS__)
long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Takes, fills and frees a 64 MiB block, as a file's picture comes and goes.
void PictureCycle() {
    constexpr std::size_t kBytes = std::size_t{64} << 20;
    auto* bytes = static_cast<char*>(std::malloc(kBytes));
    if (!bytes) std::abort();
    std::memset(bytes, 1, kBytes);
    asm volatile("" : : "r"(bytes) : "memory"); // the fill must happen
    std::free(bytes);
}
#endif

TEST(PictureMemory, FreedPictureMemoryIsReusedWithoutFreshPages) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator has heap settings of its own";
#else
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        KeepFreedMemoryForReuse();
        PictureCycle();
        const long before = MinorFaults();
        PictureCycle(); // the next file
        // Fresh memory would fault in 16384 pages.
        ::_exit(MinorFaults() - before < 500 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
}

} // namespace
} // namespace pelo
