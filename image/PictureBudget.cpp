#include "image/PictureBudget.h"

#include "image/Allocation.h"

namespace pelo {

namespace {
thread_local PictureBudgetScope* tCurrentScope = nullptr;
}

void PictureBudget::Reserve(std::size_t bytes) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return used_ == 0 || bytes <= limit_ - std::min(limit_, used_); });
    used_ += bytes;
}

void PictureBudget::Release(std::size_t bytes) {
    {
        std::lock_guard lock(mutex_);
        used_ -= std::min(used_, bytes);
    }
    freed_.notify_all();
}

PictureBudgetScope::PictureBudgetScope(PictureBudget& budget)
    : budget_(budget), outer_(tCurrentScope) {
    tCurrentScope = this;
}

PictureBudgetScope::~PictureBudgetScope() {
    if (reserved_) budget_.Release(reserved_);
    tCurrentScope = outer_;
}

std::string AdmitPicture(std::int64_t width, std::int64_t height) {
    std::string problem = PictureSizeProblem(width, height);
    PictureBudgetScope* scope = tCurrentScope;
    // Only the first picture of a file waits: a worker never waits while it
    // holds a reservation, so workers cannot wait on each other.
    if (problem.empty() && scope && scope->reserved_ == 0) {
        const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        scope->reserved_ = pixels * kPictureBytesPerPixel;
        scope->budget_.Reserve(scope->reserved_);
    }
    return problem;
}

} // namespace pelo
