#include "tests/support/FileBytes.h"

#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace pelo::test {

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

int RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool ReadWithImageMagick(const std::string& path, int width, int height,
                         std::vector<std::uint8_t>& rgba) {
    TempDir dir;
    const std::string raw = dir.file("out.rgba");
    // This ImageMagick keeps a bottom-left TGA in stored row order and only
    // tags its orientation; -auto-orient gives the picture as displayed.
    const std::string cmd =
        "/usr/bin/convert '" + path + "' -auto-orient -depth 8 RGBA:'" + raw + "' 2>/dev/null";
    if (RunCommand(cmd) != 0) return false;
    rgba = ReadFileBytes(raw);
    return rgba.size() == static_cast<std::size_t>(width) * height * 4;
}

ImagePtr SolidImage(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r,
                    std::uint8_t a) {
    auto img = AllocIpl(width, height);
    for (std::size_t i = 0; img && i < img->pixelCount(); ++i) {
        img->imageData[4 * i + 0] = b;
        img->imageData[4 * i + 1] = g;
        img->imageData[4 * i + 2] = r;
        img->imageData[4 * i + 3] = a;
    }
    return img;
}

} // namespace pelo::test
