// Runs the built pelo-batch through the shell and writes its inputs.
#pragma once

#include "image/ImageBuffer.h"
#include "tests/support/TempDir.h"

#include <cstdint>
#include <string>

namespace pelo::test {

struct CommandResult {
    int status;
    std::string out, err;
};

// pelo-batch with args (quoted as the shell needs), stdout and stderr kept.
CommandResult PeloBatch(const TempDir& dir, const std::string& args);

// The path in single quotes.
std::string Q(const std::string& path);

void WritePicture(const ImageBuffer& image, const std::string& path);
void WriteSprite(const std::string& path, std::uint32_t seed, int w = 48, int h = 32);

} // namespace pelo::test
