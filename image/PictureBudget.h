// Bounds the picture memory of a whole run. Each worker, before the first
// picture of a file is decoded, reserves what that picture will take; when
// the run's budget is spent it waits until other files end. A picture larger
// than the whole budget waits until it is alone, so every picture that
// passes the size limit is still converted, with any number of workers.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace pelo {

// Bytes a picture holds while one file is converted: the decoder's picture,
// the bitmap block, the image and the passes' work areas.
inline constexpr std::size_t kPictureBytesPerPixel = 16;

class PictureBudget {
public:
    explicit PictureBudget(std::size_t bytes) : limit_(bytes) {}
    void Reserve(std::size_t bytes); // blocks while over budget and not alone
    void Release(std::size_t bytes);

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t limit_;
    std::size_t used_ = 0;
};

// While alive, the first picture admitted on this thread reserves its memory
// from budget; the reservation ends with the scope (the end of the file).
class PictureBudgetScope {
public:
    explicit PictureBudgetScope(PictureBudget& budget);
    ~PictureBudgetScope();
    PictureBudgetScope(const PictureBudgetScope&) = delete;
    PictureBudgetScope& operator=(const PictureBudgetScope&) = delete;

private:
    friend std::string AdmitPicture(std::int64_t, std::int64_t);
    PictureBudget& budget_;
    PictureBudgetScope* outer_;
    std::size_t reserved_ = 0;
};

// The size check of a reader, made from the header before any pixel is
// decoded: PictureSizeProblem, and then, inside a scope, the reservation.
std::string AdmitPicture(std::int64_t width, std::int64_t height);

} // namespace pelo
