// An append-only list of small records kept in chunks that never move: it
// grows without copying, and the large chunks are asked for in huge pages
// (WorkMemory), so that a log of millions of records costs few page faults.
#pragma once

#include "image/WorkMemory.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace pelo {

template <class T> class WriteLog {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    // Throws std::bad_alloc when a chunk cannot be had.
    void push_back(const T& value) {
        if (used_ == capacity_) Grow();
        next_[used_++] = value;
    }

    std::size_t size() const { return stored_ + used_; }

    // Calls f on every record in the order they were added.
    template <class F> void ForEach(F f) const {
        for (std::size_t c = 0; c < chunks_.size(); ++c) {
            const T* records = reinterpret_cast<const T*>(chunks_[c].get());
            const std::size_t n = c + 1 == chunks_.size() ? used_ : counts_[c];
            for (std::size_t i = 0; i < n; ++i)
                f(records[i]);
        }
    }

private:
    static constexpr std::size_t kFirstChunk = std::size_t{1} << 13;
    static constexpr std::size_t kLargestChunk = (std::size_t{4} << 20) / sizeof(T);

    void Grow() {
        const std::size_t n =
            chunks_.empty() ? kFirstChunk : (capacity_ < kLargestChunk ? 2 * capacity_ : capacity_);
        chunks_.reserve(chunks_.size() + 1);
        counts_.reserve(chunks_.size() + 1);
        // Under a memory limit below the chunk (tiny pictures only), a plain
        // block: a log is never refused for the limit alone.
        const std::size_t bytes = n * sizeof(T);
        WorkMemory chunk = bytes <= MaxImageBytes()
                               ? AllocateWorkMemory(bytes)
                               : WorkMemory(static_cast<std::uint8_t*>(std::malloc(bytes)));
        if (!chunk) throw std::bad_alloc();
        if (!chunks_.empty()) {
            counts_.push_back(used_);
            stored_ += used_;
        }
        next_ = reinterpret_cast<T*>(chunk.get());
        chunks_.push_back(std::move(chunk));
        capacity_ = n;
        used_ = 0;
    }

    std::vector<WorkMemory> chunks_;
    std::vector<std::size_t> counts_; // records of every full chunk
    T* next_ = nullptr;               // the last chunk
    std::size_t used_ = 0;            // records in the last chunk
    std::size_t capacity_ = 0;        // room of the last chunk
    std::size_t stored_ = 0;          // records of the full chunks
};

} // namespace pelo
