// Guarded size arithmetic and capped, non-throwing allocation for pixel data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pelo {

// Largest single pixel allocation the image code makes. Callers (tests,
// tools) may tighten it; it applies process-wide.
std::size_t MaxImageBytes();
void SetMaxImageBytes(std::size_t bytes);

inline constexpr std::size_t kDefaultMaxImageBytes = std::size_t{1} << 33; // 8 GiB

// Largest picture, in pixels, that any reader accepts; checked from the
// header before a pixel is decoded. Process-wide.
inline constexpr std::uint64_t kDefaultMaxPicturePixels = std::uint64_t{1} << 28;
std::uint64_t MaxPicturePixels();
void SetMaxPicturePixels(std::uint64_t pixels);

// Empty when a width x height picture is allowed; otherwise the reason,
// naming the size and the limit.
std::string PictureSizeProblem(std::int64_t width, std::int64_t height);

// width * height * bytesPerPixel, or none when a factor is negative, the
// product overflows or it exceeds MaxImageBytes().
std::optional<std::size_t> CheckedImageBytes(std::int64_t width, std::int64_t height,
                                             std::int64_t bytesPerPixel);

// Uninitialised bytes, or null when n exceeds MaxImageBytes() or memory is
// exhausted. Never throws.
std::unique_ptr<std::uint8_t[]> TryAllocateBytes(std::size_t n);

} // namespace pelo
