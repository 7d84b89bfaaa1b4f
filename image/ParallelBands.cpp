#include "image/ParallelBands.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace pelo {

std::vector<RowBand> SplitIntoBands(int width, int height, unsigned threads) {
    std::vector<RowBand> bands;
    if (height <= 0) return bands;
    const std::uint64_t w = static_cast<std::uint64_t>(std::max(width, 1));
    const std::uint64_t pixels = w * static_cast<std::uint64_t>(height);
    std::uint64_t count = TasksFor(threads);
    count = std::min(count, std::max<std::uint64_t>(1, pixels / kMinBandPixels));
    count = std::min(count, std::max<std::uint64_t>(1, static_cast<std::uint64_t>(height) / 8));
    const std::uint64_t maxRows = std::max<std::uint64_t>(1, ((std::uint64_t{1} << 31) - 1) / w);
    count = std::max(count, (static_cast<std::uint64_t>(height) + maxRows - 1) / maxRows);
    bands.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto y0 = static_cast<int>(static_cast<std::uint64_t>(height) * i / count);
        const auto y1 = static_cast<int>(static_cast<std::uint64_t>(height) * (i + 1) / count);
        bands.push_back(RowBand{y0, y1});
    }
    return bands;
}

void RunTasks(unsigned threads, std::size_t count, const std::function<void(std::size_t)>& task) {
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                task(i);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(failureLock);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    std::size_t helpers = std::min<std::size_t>(std::max(threads, 1u), count);
    std::vector<std::thread> pool;
    try {
        pool.reserve(helpers);
    } catch (const std::bad_alloc&) {
        helpers = 1;
    }
    for (std::size_t t = 1; t < helpers; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break; // the threads already running share the rest
        }
    }
    work();
    for (std::thread& t : pool)
        t.join();
    if (failure) std::rethrow_exception(failure);
}

} // namespace pelo
