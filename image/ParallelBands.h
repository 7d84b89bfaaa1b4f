// Splitting a picture into bands of rows and running one task per band on
// several threads. Every task gets the same band whatever the thread count
// that runs it, so results never depend on scheduling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace pelo {

struct RowBand {
    int y0 = 0; // first row
    int y1 = 0; // one past the last row
};

// How many pieces a picture is cut into for `threads` threads: a few per
// thread, so that a thread held up by the rest of the machine leaves its
// share to the others instead of keeping them waiting.
inline unsigned TasksFor(unsigned threads) {
    return threads <= 1 ? 1u : 4u * threads;
}

// Consecutive bands covering rows [0, height): TasksFor(threads) of them when
// each band gets at least kMinBandPixels pixels and 8 rows, fewer otherwise;
// more when a band would hold 2^31 pixels or more (band offsets are 32-bit).
std::vector<RowBand> SplitIntoBands(int width, int height, unsigned threads);
inline constexpr std::uint64_t kMinBandPixels = std::uint64_t{1} << 14;

// Calls task(i) once for every i in [0, count), on up to `threads` threads
// including the caller's, and returns when all calls have returned. When a
// thread cannot be started the others take its share. The first exception a
// task throws is thrown again here after every thread has stopped.
void RunTasks(unsigned threads, std::size_t count, const std::function<void(std::size_t)>& task);

// Bands of rows of a picture with one task per band.
inline void ForEachBand(const std::vector<RowBand>& bands, unsigned threads,
                        const std::function<void(const RowBand&)>& task) {
    RunTasks(threads, bands.size(), [&](std::size_t i) { task(bands[i]); });
}

} // namespace pelo
