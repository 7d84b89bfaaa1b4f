#include "image/Allocation.h"

#include <atomic>
#include <limits>
#include <new>

namespace pelo {

namespace {
std::atomic<std::size_t> gMaxImageBytes{kDefaultMaxImageBytes};
std::atomic<std::uint64_t> gMaxPicturePixels{kDefaultMaxPicturePixels};
} // namespace

std::size_t MaxImageBytes() {
    return gMaxImageBytes.load(std::memory_order_relaxed);
}

void SetMaxImageBytes(std::size_t bytes) {
    gMaxImageBytes.store(bytes, std::memory_order_relaxed);
}

std::uint64_t MaxPicturePixels() {
    return gMaxPicturePixels.load(std::memory_order_relaxed);
}

void SetMaxPicturePixels(std::uint64_t pixels) {
    gMaxPicturePixels.store(pixels, std::memory_order_relaxed);
}

std::string PictureSizeProblem(std::int64_t width, std::int64_t height) {
    auto size = [&] { return std::to_string(width) + " x " + std::to_string(height); };
    if (width < 1 || height < 1) return "picture of " + size() + " pixels has no pixels";
    const std::uint64_t limit = MaxPicturePixels();
    const auto w = static_cast<std::uint64_t>(width), h = static_cast<std::uint64_t>(height);
    if (h > limit / w)
        return "picture of " + size() + " pixels exceeds the limit of " + std::to_string(limit) +
               " pixels";
    return {};
}

std::optional<std::size_t> CheckedImageBytes(std::int64_t width, std::int64_t height,
                                             std::int64_t bytesPerPixel) {
    if (width < 0 || height < 0 || bytesPerPixel < 0) return std::nullopt;
    const auto w = static_cast<std::uint64_t>(width);
    const auto h = static_cast<std::uint64_t>(height);
    const auto b = static_cast<std::uint64_t>(bytesPerPixel);
    constexpr std::uint64_t kMax = std::numeric_limits<std::size_t>::max();
    if (w != 0 && h > kMax / w) return std::nullopt;
    const std::uint64_t pixels = w * h;
    if (b != 0 && pixels > kMax / b) return std::nullopt;
    const std::uint64_t bytes = pixels * b;
    if (bytes > MaxImageBytes()) return std::nullopt;
    return static_cast<std::size_t>(bytes);
}

std::unique_ptr<std::uint8_t[]> TryAllocateBytes(std::size_t n) {
    if (n > MaxImageBytes()) return nullptr;
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[n == 0 ? 1 : n]);
}

} // namespace pelo
