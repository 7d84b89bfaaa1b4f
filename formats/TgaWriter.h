// 32-bit true-colour TGA output with alpha: header, image data (run-length
// encoded or plain), extension area and footer.
#pragma once

#include "image/ImageBuffer.h"

#include <cstdint>
#include <string>

namespace pelo {

enum TgaResult : int {
    kTgaOk = 0,
    kTgaWrongColourModel = -1,
    kTgaWrongChannelSequence = -2,
    kTgaNoPixels = -3,
    kTgaTooLarge = -4, // a side above 65535 does not fit the header
};

inline constexpr int kTgaHeaderSize = 18;
inline constexpr int kTgaExtensionSize = 495;
inline constexpr int kTgaFooterSize = 26;

// Writes image to path (replacing it only when the whole file was written).
// 0, or a TgaResult before any file is touched, or -100..-103 for file errors.
// On failure *reason, when given, receives a sentence saying why. threads
// pack bands of rows at once (run-length only); the bytes are the same for
// any count.
int WriteTga(const ImageBuffer& image, const std::string& path, bool runLength,
             std::string* reason = nullptr, int threads = 1);

// Packs one row of pixelCount pixels of bytesPerPixel (1..4) bytes into
// destination, which must hold pixelCount * (bytesPerPixel + 1) bytes.
// Returns the number of bytes produced.
int PackRunLength(const std::uint8_t* source, std::uint8_t* destination, int pixelCount,
                  int bytesPerPixel);

} // namespace pelo
