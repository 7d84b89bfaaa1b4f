// Small file and process helpers for tests.
#pragma once

#include "image/ImageBuffer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelo::test {

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
// The whole file as text (empty when it cannot be read).
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);

// Reads a picture through ImageMagick (/usr/bin/convert) as straight RGBA,
// top row first; false when convert fails or the size is unexpected.
bool ReadWithImageMagick(const std::string& path, int width, int height,
                         std::vector<std::uint8_t>& rgba);

// A buffer filled with the given BGRA pixel.
ImagePtr SolidImage(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r,
                    std::uint8_t a);

} // namespace pelo::test
